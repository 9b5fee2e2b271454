// One encoder of the catalogue: its display name (the key that profiles store and that ties
// the pages, logos and lists together), its output extension and what it does with files.
#pragma once

#include <QIcon>
#include <QList>
#include <QMetaType>
#include <QSet>
#include <QString>
#include <QVariant>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "xclass/XStr.h"

class QKEncoderDesc;
using QKEncoderDescRef = std::shared_ptr<QKEncoderDesc>;

// What a running encoder could report about its output; no encoder reports anything.
class QKEncoderInstance {
public:
    QVariant kBitrateFor(const QString& file, const QString& args) const;
    QVariant kBitrateForArgs(const QString& args) const;
    uint64_t estimateOutputSizeFor(const QString& file, const QString& args) const;
};

class QKEncoderDesc : public std::enable_shared_from_this<QKEncoderDesc> {
public:
    bool outputsFiles = false;
    bool isSpecialPurpose = false;
    bool disableConvertToFolder = false;
    bool disableSameFolder = false;
    bool haveSettings = false;

    QKEncoderDesc() = default;
    // name = the file name without extension; special purpose when it is bracketed "[...]".
    explicit QKEncoderDesc(const XStr& path);

    const QString& path() const { return m_path; }
    const QString& name() const { return m_name; }
    const QString& formatExtension() const { return m_formatExtension; }

    // The catalogue (KRECodecs::listEncoders), recomputed on every call.
    static QList<QKEncoderDescRef> listEncoders();
    // The same without the special-purpose encoders, order kept.
    static QList<QKEncoderDescRef> listEncoders_dropSpecial();
    // The first encoder of exactly that name (case-sensitive), or null.
    static QKEncoderDescRef findEncoder(const QString& name);
    static std::optional<QString> formatExtensionOf(const QString& name);

    // Outputs files; haveSettings = configurable; the other flags off; no path.
    static QKEncoderDescRef makeVideoCodec(const QString& name, const QString& ext, bool configurable = true);
    static QKEncoderDescRef makeMultiEncoder();
    static QString strMultiEncoder() { return QStringLiteral("[Multi Encoder]"); }
    bool isMultiEncoder() const { return m_name == strMultiEncoder(); }
    // Bracketed names ("[Preview Generator]", "[Contact Sheet]") name special encoders.
    static bool isSpecialName(const QString& name);

    std::unique_ptr<QKEncoderInstance> instantiate() const;

    // The name of a description, or the text itself when the value holds a name.
    static QString nameOfEnc(const QVariant& encoderOrName);
    // Sorts descriptions and names together by nameOfEnc, A-Z folded.
    static void sortEncoderNames(QVariantList& encodersOrNames);

    // Where the encoder logos come from (the logo table is not part of the job model). Until a
    // provider is installed the entries have no icon. Main thread only. The menus and pickers
    // of encoders are setup/QKEncoderMenus.
    using LogoProvider = std::function<QIcon(const QString& encoderName)>;
    static void setComboBoxLogoProvider(LogoProvider provider);
    static QIcon comboBoxLogoOf(const QString& encoderName);

private:
    QString m_path;
    QString m_name;
    QString m_formatExtension;
};

Q_DECLARE_METATYPE(QKEncoderDescRef)
