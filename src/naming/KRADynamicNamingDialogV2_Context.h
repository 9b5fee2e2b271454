// What the dynamic naming dialog, the output-location picker and the effect pages need to
// know about the conversion they serve: whether source-relative naming is possible, the
// active profile's key, the encoder and its settings, the effect chain, and the file whose
// tags make the example.
//
// encoder, encoderSettings and dspEffectsString are virtual: the converter setup's context
// answers them live from its dialog instead of stored values.
//
// The context also makes the example data and the live example the naming dialog shows.
#pragma once

#include <QString>
#include <QUrl>

#include <memory>

#include "media/NTag.h"
#include "media/QKTag.h"

class KRADynamicNamingDialogV2_Context;
using KRADynamicNamingDialogV2_ContextRef = std::shared_ptr<KRADynamicNamingDialogV2_Context>;

class KRADynamicNamingDialogV2_Context {
public:
    KRADynamicNamingDialogV2_Context() = default;
    virtual ~KRADynamicNamingDialogV2_Context() = default;

    bool allowSameFolder() const { return m_allowSameFolder; }
    void setAllowSameFolder(bool allow) { m_allowSameFolder = allow; }
    QString activeProfileReg() const { return m_activeProfileReg; }
    void setActiveProfileReg(const QString& keyPath) { m_activeProfileReg = keyPath; }
    virtual QString encoder() const { return m_encoder; }
    void setEncoder(const QString& name) { m_encoder = name; }
    virtual QString encoderSettings() const { return m_encoderSettings; }
    void setEncoderSettings(const QString& settings) { m_encoderSettings = settings; }
    QKTagRef exampleMeta() const { return m_exampleMeta; }
    void setExampleMeta(const QKTagRef& meta) { m_exampleMeta = meta; }
    QUrl exampleURL() const { return m_exampleURL; }
    void setExampleURL(const QUrl& url) { m_exampleURL = url; }
    virtual QString dspEffectsString() const { return m_dspEffectsString; }
    void setDspEffectsString(const QString& chain) { m_dspEffectsString = chain; }

    // ---- The example ----
    // The example file's tags: exampleMeta when set, else the tags of exampleURL's file when
    // it can be read; empty otherwise.
    NTag currentExampleMeta() const;
    // The tags of a file (empty when it cannot be read). It runs ffprobe: any thread but the
    // main one, where a slow volume would freeze the window.
    static NTag tagsOfFile(const QUrl& url);
    // "TrivenoxDiscNumToAlbum" of the active profile, else "[album], Disc [discnum]".
    QString discToAlbumFormat() const;
    // The output extension of the encoder without its dot; empty for none or "ignore".
    QString exampleExtension() const;
    // The tags of the example: a copy of currentMeta when useCurrentMeta, else made-up tags
    // (compilation and multi-disc as asked); then the properties, encoder and date fields.
    NTag exampleTags(bool useCurrentMeta, const NTag& currentMeta, bool compilation, bool multiDisc) const;
    // The pattern expanded against those tags as a valid relative path.
    QString exampleFor(const QString& pattern, bool useCurrentMeta, const NTag& currentMeta, bool compilation,
                       bool multiDisc) const;

private:
    bool m_allowSameFolder = true;
    QString m_activeProfileReg;
    QString m_encoder;
    QString m_encoderSettings;
    QKTagRef m_exampleMeta;
    QUrl m_exampleURL;
    QString m_dspEffectsString;
};
