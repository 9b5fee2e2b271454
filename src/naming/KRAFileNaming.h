// One set of output-naming settings: where outputs go (next to the source, all in one
// folder, or in a folder plus a dynamic naming template) and how they are named. It loads and
// saves itself in the registry, computes the sub-path and the full destination path of a
// source, and keeps the recent list of destinations.
//
// A destination always lies inside the chosen folder (or, next to the source, inside the
// source's folder): neither the template, nor a tag value, nor the extension can add ".."
// or leave it through a "/". A destination that is empty or relative gives no path at all.
#pragma once

#include <QList>
#include <QString>
#include <QUrl>

#include <cstdint>
#include <memory>
#include <optional>

#include "kit/QKAttributedText.h"
#include "media/NTag.h"
#include "naming/KRALocationDescriptor.h"
#include "xclass/XStr.h"

class XFileName;

class QKMediaFileInfo;
class XRegistry;
class XRegistryTransaction;

enum : uint64_t {
    FileNamingSourceFolder = 0,
    FileNamingSingleFolder = 1,
    FileNamingDynamic = 2,
    FileNamingUseParentConfig_DEPRECATED = 3,
};

class KRAFileNaming;
using KRAFileNamingRef = std::shared_ptr<KRAFileNaming>;

class KRAFileNaming {
public:
    // Destination the movie folder, type 0, the default pattern, and the replacement pairs and
    // ANSI switch of the global settings.
    KRAFileNaming();
    // A deep copy: the destination is copied too.
    KRAFileNaming(const KRAFileNaming& other);
    KRAFileNaming& operator=(const KRAFileNaming& other);

    // The defaults, then the values stored under HKCU\keyPath.
    static KRAFileNamingRef initWithRegKey(const XStr& keyPath);
    // initWithRegKey, then convertToR16Dynamic (the form profiles use).
    static KRAFileNamingRef initWithRegKeyR16(const XStr& keyPath);
    // The same, global values included, read from one loaded copy of the store: a caller that
    // loads many namings reads the file once and sees one version of it throughout.
    explicit KRAFileNaming(XRegistry& snapshot);
    static KRAFileNamingRef initWithRegKeyR16(const XStr& keyPath, XRegistry& snapshot);

    // Type-2 namings: next to the source, all in one folder, and the source's folder path
    // re-created inside a folder.
    static KRAFileNamingRef namingSameFolder();
    static KRAFileNamingRef namingSingleFolder(const QUrl& folder);
    static KRAFileNamingRef namingSingleFolderLoc(const KRALocationDescriptorRef& folder);
    static KRAFileNamingRef namingPreservePath(const QUrl& folder);

    KRAFileNamingRef copy() const;
    void copyFrom(const KRAFileNaming& other);
    bool isEqualTo(const KRAFileNaming* other) const;

    // Queues the per-naming values into the caller's transaction (the caller commits).
    void serializeToRegKey(const XStr& keyPath, XRegistryTransaction& transaction) const;
    // Types 0, 1 and 3 become type 2 with the equivalent pattern; true when something changed.
    bool convertToR16Dynamic();

    // ---- Properties ----
    uint64_t fileNamingType() const { return m_type; }
    void setFileNamingType(uint64_t type) { m_type = type; }
    QString dynamicFormat() const { return m_dynamicFormat; }
    void setDynamicFormat(const QString& format) { m_dynamicFormat = format; }
    std::optional<QString> dspEffectsString() const { return m_dspEffectsString; }
    void setDspEffectsString(const std::optional<QString>& text) { m_dspEffectsString = text; }
    std::optional<QString> encoderName() const { return m_encoderName; }
    void setEncoderName(const std::optional<QString>& name) { m_encoderName = name; }
    std::optional<QString> encoderExtra() const { return m_encoderExtra; }
    void setEncoderExtra(const std::optional<QString>& text) { m_encoderExtra = text; }
    KRALocationDescriptorRef destination() const { return m_destination; }
    void setDestination(const KRALocationDescriptorRef& destination) { m_destination = destination; }
    std::optional<QString> characterReplacement() const { return m_characterReplacement; }
    void setCharacterReplacement(const std::optional<QString>& pairs) { m_characterReplacement = pairs; }
    bool ansiOnly() const { return m_ansiOnly; }
    void setAnsiOnly(bool on) { m_ansiOnly = on; }

    // ---- Derived ----
    bool usingDestinationFolder() const { return m_type == FileNamingSingleFolder || m_type == FileNamingDynamic; }
    QString destinationFolderName() const;
    bool needsMetaFromFiles() const;
    bool usesEncoderInfo() const { return namingUsesEncoderInfo(m_dynamicFormat); }

    // ---- Paths ----
    // The output's path relative to the destination folder (types 1 and 2) or to the source's
    // folder (type 0), without extension; none when it cannot be made (no source path for
    // types 0 and 1, no media information for a template that reads tags, another type).
    std::optional<QString> subPathForSource(const QUrl& source, const QKMediaFileInfo* info) const;
    // Text put into one name by hand ("Append Date to All"): made valid the way the names
    // this naming makes are, with its replacement pairs ("/" and ":" among them by default).
    QString validNameText(const QString& text) const;
    // The file URL of the destination; a null URL when there is none.
    QUrl fullPathForSubPath(const std::optional<QString>& subPath, const QUrl& source) const;
    // The same with the extension appended (with its dot, e.g. ".mp4"; a "/" in it is
    // replaced so that it can only ever add to the name).
    QUrl fullPathForSubPath(const std::optional<QString>& subPath, const QUrl& source, const QString& extension) const;
    QUrl fullPathForSource(const QUrl& source, const QKMediaFileInfo* info) const;
    QUrl fullPathForSource(const QUrl& source, const QKMediaFileInfo* info, const QString& extension) const;
    // The sub-path as the list-and-rename dialog shows it, and the full path of a sub-path the
    // user edited there.
    std::optional<QString> userStringFor(const QUrl& source, const QKMediaFileInfo* info) const
    {
        return subPathForSource(source, info);
    }
    QUrl fullPathForSourceUserString(const QUrl& source, const std::optional<QString>& userString,
                                     const QString& extension) const
    {
        return fullPathForSubPath(userString, source, extension);
    }

    // ---- Other operations ----
    bool prepareFolder();
    bool sanity();
    bool isOrigFileName() const;
    bool isSameFolder() const;
    QString descriptionRaw() const;
    QKAttributedText attributedDescription() const;
    QString description() const;

    // ---- Class methods ----
    static QString defaultDynamicFormat() { return QStringLiteral("[artist]/[artist] - [title]"); }
    static QString recentDelim() { return QStringLiteral("{_._}"); }
    static QString sanitizeDynamicPattern(const QString& pattern);
    static bool namingUsesEncoderInfo(const QString& pattern);
    // Appends "date" (YYYY-MM-DD), "time" (HH:MM:SS), "day_of_week" (0-6, Sunday 0) and
    // "now_year" from the local clock.
    static void addDateFieldsTo(NTag& tags);
    // Up to ten namings that have a destination folder, newest first.
    static bool saveRecentList(const QList<KRAFileNamingRef>& namings);
    static QList<KRAFileNamingRef> loadRecentList();

private:
    // Folds to ASCII when asked, then replaces characters by the pairs (slashes kept or not).
    void applyNameRules(XFileName& text, bool keepSlashes) const;

    uint64_t m_type = FileNamingSourceFolder;
    QString m_dynamicFormat;
    std::optional<QString> m_dspEffectsString;
    std::optional<QString> m_encoderName;
    std::optional<QString> m_encoderExtra;
    KRALocationDescriptorRef m_destination;
    std::optional<QString> m_characterReplacement;
    bool m_ansiOnly = false;

    // From snapshot, or through the store's shared cache when it is null.
    void loadGlobals(XRegistry* snapshot);
    void loadFromRegKey(const XStr& keyPath, XRegistry* snapshot);
    XStr expandDynamic(const XStr& pattern, const NTag& tags) const;
};

// One entry of the naming element catalogue: a template piece and its description (none for
// headings and the blank separator).
class KRAFileNamingElement {
public:
    KRAFileNamingElement() = default; // initBlank
    KRAFileNamingElement(const QString& name, const QString& description) : m_name(name), m_description(description) {}

    QString name() const { return m_name; }
    QString description() const { return m_description; }
    bool isLabel() const { return m_description.isEmpty(); }

    static QList<KRAFileNamingElement> elements();

private:
    QString m_name;
    QString m_description;
};
