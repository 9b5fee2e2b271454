// A batch profile: a named set of batch converter settings (the window's file filters and,
// optionally, the folder tree's ticks), kept as a JSON text file in the "BatchProfiles"
// folder of the data folder. The converter settings kept under the same name belong to the
// converter configuration.
#pragma once

#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <memory>
#include <optional>

class KRAFileFilter;
class KRABatchConverterProfile;
using KRABatchConverterProfileRef = std::shared_ptr<KRABatchConverterProfile>;

class KRABatchConverterProfile {
public:
    static QStringList filterNames();
    static QStringList metaFieldNames() { return {}; }
    static QStringList infoFieldNames();

    // The profiles folder (made when missing, mode 0700), with a trailing "/".
    static QString profilesFolder();
    // The file of a profile name: ".txt" added, made valid as a path that stays inside the
    // profiles folder ("/" keeps making sub-folders; "." and ".." parts are dropped).
    static QString profilePath(const QString& name);
    // Every entry of the folder, as its name without extension, in the order found.
    static QStringList listProfileNames();
    // Why a new profile cannot have this name (empty: it can): each profile is one file
    // named after it in the profiles folder, so "/" and whatever that file name could not
    // keep letter for letter are refused.
    static QString nameProblem(const QString& name);

    static KRABatchConverterProfileRef newProfileNamed(const QString& name);
    static KRABatchConverterProfileRef profileByName(const QString& name);
    static KRABatchConverterProfileRef noProfileSelected();

    bool saveSelection = true;
    QVariant selection; // path -> selection word
    std::optional<QString> name;
    QMap<QString, QSet<QString>> filtersData;

    // Reads the profile's file. A missing file keeps the defaults; a damaged one too, and
    // lastError() then says what was wrong with it. False for a damaged file.
    bool load(const QString& name);
    // The same for a profile the user chose: false, with lastError() saying why, also when
    // its file is missing or is no profile file (a folder, a device), and nothing is read.
    bool loadExisting(const QString& name);
    void applyFromJSON(const QVariant& object);
    QVariantMap grabForJSON() const;
    // Only a named profile is saved. False, with lastError(), when the file cannot be written.
    bool save();
    bool saveAs(const QString& name);
    bool deleteProfile();
    KRABatchConverterProfileRef copyWithName(const QString& name) const;
    void setFilters(const KRAFileFilter& filter);
    void getFilters(KRAFileFilter& filter) const;

    QString lastError() const { return m_lastError; }

private:
    bool saveImpl(const QString& name);
    QString m_lastError;
};
