#include "batch/KRABatchConverterProfile.h"

#include "batch/KRAFileFilter.h"
#include "platform/JSON.h"
#include "platform/XStrQString.h"
#include "platform/XWorkspace.h"
#include "setup/KRAConfig.h"
#include "xclass/XEnvironment.h"
#include "xclass/XFileName.h"
#include "xclass/XFindFile.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

QStringList KRABatchConverterProfile::filterNames()
{
    return QStringList{QStringLiteral("File Types"), QStringLiteral("Date")} + metaFieldNames() + infoFieldNames();
}

QStringList KRABatchConverterProfile::infoFieldNames()
{
    return {QStringLiteral("Resolution"),   QStringLiteral("Frame Rate"), QStringLiteral("Aspect Ratio"),
            QStringLiteral("Pixel Format"), QStringLiteral("Profile"),    QStringLiteral("Color Space"),
            QStringLiteral("Channels"),     QStringLiteral("Sample Rate")};
}

QString KRABatchConverterProfile::profilesFolder()
{
    XFileName folder(XGetAppDataFolder());
    folder.AppendPath(L"BatchProfiles");
    XCreateFolderTreeWithMode(folder, 0700);
    QString path = XStrToQString(folder);
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return path;
}

QString KRABatchConverterProfile::profilePath(const QString& name)
{
    XFileName file(XStrFromQString(name + QStringLiteral(".txt")));
    file.MakeValid(false, nullptr, true, true);
    // A name may make sub-folders, never leave the profiles folder.
    QStringList parts;
    for (const QString& part : XStrToQString(file).split(QLatin1Char('/')))
        if (!part.isEmpty() && part != QLatin1String(".") && part != QLatin1String(".."))
            parts << part;
    if (parts.isEmpty())
        parts << QStringLiteral("_.txt");
    return profilesFolder() + parts.join(QLatin1Char('/'));
}

QStringList KRABatchConverterProfile::listProfileNames()
{
    QStringList names;
    XFindFile find(L"*.*", XStrFromQString(profilesFolder()));
    while (find.Next()) {
        const QString path = XStrToQString(find.Path);
        const QString entry = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
        const qsizetype dot = entry.lastIndexOf(QLatin1Char('.'));
        names << (dot > 0 ? entry.left(dot) : entry);
    }
    return names;
}

QString KRABatchConverterProfile::nameProblem(const QString& name)
{
    if (name.trimmed().isEmpty())
        return QStringLiteral("Please type a name for the profile.");
    if (name.contains(QLatin1Char('/')))
        return QStringLiteral("A profile name cannot contain \"/\": each profile is kept as one file named after it.");
    if (name.startsWith(QLatin1Char('.')) || name.startsWith(QLatin1Char(' ')))
        return QStringLiteral("A profile name cannot begin with a dot or a blank.");
    for (const QChar c : name)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return QStringLiteral("A profile name cannot contain control characters.");
    const QString file = name + QStringLiteral(".txt");
    if (profilePath(name) != profilesFolder() + file) {
        if (XStrFromQString(file).ToUTF8String().size() > 240)
            return QStringLiteral("This profile name is too long to be a file name; please choose a shorter one.");
        return QStringLiteral("This profile name cannot be kept as a file name; please choose another one.");
    }
    return QString();
}

KRABatchConverterProfileRef KRABatchConverterProfile::newProfileNamed(const QString& name)
{
    auto profile = std::make_shared<KRABatchConverterProfile>();
    profile->name = name;
    return profile;
}

KRABatchConverterProfileRef KRABatchConverterProfile::profileByName(const QString& name)
{
    auto profile = std::make_shared<KRABatchConverterProfile>();
    profile->load(name);
    return profile;
}

KRABatchConverterProfileRef KRABatchConverterProfile::noProfileSelected()
{
    auto profile = std::make_shared<KRABatchConverterProfile>();
    profile->saveSelection = false;
    return profile;
}

bool KRABatchConverterProfile::load(const QString& profileName)
{
    name = profileName;
    m_lastError.clear();
    const QString path = profilePath(profileName);
    struct stat st {};
    if (stat(XStrFromQString(path).ToUTF8String().c_str(), &st) != 0)
        return true; // a profile never saved: the defaults
    if (!S_ISREG(st.st_mode)) {
        // A folder or a FIFO of that name: reading it would fail or block the window.
        m_lastError = QStringLiteral("The batch profile \"%1\" cannot be read; it was loaded empty.").arg(profileName);
        return false;
    }
    const QVariant object = JSON::read(XFileURL(XStrFromQString(path)));
    if (object.typeId() != QMetaType::QVariantMap) {
        m_lastError = QStringLiteral("The batch profile \"%1\" cannot be read; it was loaded empty.").arg(profileName);
        return false;
    }
    applyFromJSON(object);
    return true;
}

bool KRABatchConverterProfile::loadExisting(const QString& profileName)
{
    m_lastError.clear();
    const QString path = profilePath(profileName);
    auto refuse = [&](const QString& why) {
        m_lastError = QStringLiteral("The batch profile \"%1\" cannot be loaded: %2").arg(profileName, why);
        return false;
    };
    if (profileName.contains(QLatin1Char('/')))
        return refuse(QStringLiteral("its name holds a \"/\", so it is not one file of the profiles folder."));
    // Not opened before it is known to be a plain file: a FIFO would block the window.
    struct stat st {};
    if (stat(XStrFromQString(path).ToUTF8String().c_str(), &st) != 0)
        return refuse(QStringLiteral("%1 (%2).").arg(path, QString::fromLocal8Bit(strerror(errno))));
    if (!S_ISREG(st.st_mode))
        return refuse(QStringLiteral("%1 is not a profile file.").arg(path));
    if (!load(profileName)) {
        m_lastError = QStringLiteral("The batch profile \"%1\" cannot be loaded: %2 is damaged (it holds no "
                                     "profile). Delete or mend the file to use the name again.")
                          .arg(profileName, path);
        return false;
    }
    return true;
}

void KRABatchConverterProfile::applyFromJSON(const QVariant& object)
{
    if (object.typeId() != QMetaType::QVariantMap)
        return;
    const QVariantMap map = object.toMap();
    filtersData.clear();
    const QVariant filters = map.value(QStringLiteral("filters"));
    if (filters.typeId() == QMetaType::QVariantMap) {
        const QVariantMap all = filters.toMap();
        for (auto it = all.begin(); it != all.end(); ++it) {
            if (it.value().typeId() != QMetaType::QVariantList)
                continue;
            QSet<QString> set;
            for (const QVariant& item : it.value().toList())
                if (item.typeId() == QMetaType::QString)
                    set.insert(item.toString());
            filtersData.insert(it.key(), set);
        }
    }
    const QVariant save = map.value(QStringLiteral("saveSelection"));
    switch (save.typeId()) {
    case QMetaType::Bool:
    case QMetaType::Double:
    case QMetaType::LongLong:
    case QMetaType::Int:
        saveSelection = save.toDouble() != 0;
        break;
    case QMetaType::QString: {
        const QString text = save.toString().trimmed().toLower();
        saveSelection = !(text == QLatin1String("no") || text == QLatin1String("false") || text == QLatin1String("0") ||
                          text == QLatin1String("n") || text.isEmpty());
        break;
    }
    default:
        saveSelection = true;
    }
    selection = saveSelection ? map.value(QStringLiteral("selection")) : QVariant();
}

QVariantMap KRABatchConverterProfile::grabForJSON() const
{
    QVariantMap filters;
    for (auto it = filtersData.begin(); it != filtersData.end(); ++it) {
        QStringList values(it->begin(), it->end());
        values.sort();
        filters.insert(it.key(), values);
    }
    QVariantMap map{{QStringLiteral("filters"), filters}, {QStringLiteral("saveSelection"), saveSelection ? 1 : 0}};
    if (saveSelection && selection.isValid())
        map.insert(QStringLiteral("selection"), selection);
    return map;
}

bool KRABatchConverterProfile::save()
{
    return name ? saveImpl(*name) : true;
}

bool KRABatchConverterProfile::saveAs(const QString& newName)
{
    name = newName;
    return saveImpl(newName);
}

bool KRABatchConverterProfile::saveImpl(const QString& profileName)
{
    m_lastError.clear();
    const QString path = profilePath(profileName);
    // A name with "/" keeps its sub-folders.
    XCreateFolderTreeWithMode(XFileName(XStrFromQString(path)).GetFolder(), 0700);
    if (JSON::writeAtomically(grabForJSON(), XFileURL(XStrFromQString(path))))
        return true;
    m_lastError = QStringLiteral("The batch profile \"%1\" could not be saved to %2: %3")
                      .arg(profileName, path, QString::fromLocal8Bit(strerror(errno)));
    return false;
}

bool KRABatchConverterProfile::deleteProfile()
{
    if (!name || name->isEmpty())
        return true;
    if (!XDeleteFile(XStrFromQString(profilePath(*name))))
        return false;
    name.reset();
    return true;
}

KRABatchConverterProfileRef KRABatchConverterProfile::copyWithName(const QString& newName) const
{
    auto copy = std::make_shared<KRABatchConverterProfile>();
    copy->name = newName;
    copy->applyFromJSON(grabForJSON());
    KRAConfig::cloneBatchConverterDataFrom(name, newName);
    return copy;
}

void KRABatchConverterProfile::setFilters(const KRAFileFilter& filter)
{
    filtersData.clear();
    for (const QString& key : filterNames())
        if (const std::optional<QSet<QString>> set = filter.filterForMeta(key))
            filtersData.insert(key, *set);
}

void KRABatchConverterProfile::getFilters(KRAFileFilter& filter) const
{
    for (const QString& key : filterNames())
        filter.setFilterMeta(key, filtersData.value(key));
}
