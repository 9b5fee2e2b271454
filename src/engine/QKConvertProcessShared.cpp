#include "engine/QKConvertProcessShared.h"

#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "job/QKElemValueList.h"
#include "platform/XStrQString.h"
#include "platform/XTrash.h"
#include "platform/XWorkspace.h"
#include "xclass/PlaySoundWrapper.h"
#include "xclass/XEnvironment.h"
#include "xclass/XFileName.h"
#include "xclass/XPlatform.h"

namespace {

const QString kRecycle = QStringLiteral("-DELSOURCERECYCLE");
const QString kPermanent = QStringLiteral("-DELSOURCEPERM");
const QString kRemoveEmpty = QStringLiteral("-DELSOURCEREMOVEEMPTY");

// The words of Delete Source File's settings, taken only as its page writes them: recycle or
// permanent (never both; none reads as permanent), and remove-empty. A cut or foreign text
// ("-DELSOURC" of a file cut in the middle of "-DELSOURCERECYCLE") must not turn a move to the
// trash into a deletion for good: it deletes nothing. False with the reason in why.
bool ReadDeleteWords(const QString& args, bool& recycle, bool& removeEmpty, QString& why)
{
    bool permanent = false;
    recycle = removeEmpty = false;
    bool known = true;
    for (const QString& word : args.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (word == kRecycle)
            recycle = true;
        else if (word == kPermanent)
            permanent = true;
        else if (word == kRemoveEmpty)
            removeEmpty = true;
        else
            known = false;
    }
    if (known && !(recycle && permanent))
        return true;
    why = QStringLiteral("The source file was kept: Delete Source File has settings it does not know (\u201c%1\u201d)")
              .arg(args);
    return false;
}

void ReportError(KRAStatusCallback* callback, const QString& line)
{
    if (callback)
        callback->onErrorLine(line);
}

QString Shown(const XStr& path)
{
    return XStrToQString(path);
}

// The path without trailing "/" ("/" stays "/").
std::string StripSlashes(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

std::string ParentOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return std::string();
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

bool SameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The folders that must stay even when empty: the home folder, its user folders (by the
// conventional names and as the desktop's user-dirs names them) and the system's shared
// temporary and configuration folders.
std::vector<std::string> ProtectedFolders()
{
    std::vector<std::string> folders = {"/", "/var", "/etc", "/tmp", "/var/tmp", "/home", "/root", "/usr", "/opt"};
    const std::string home = StripSlashes(XGetSpecialFolder(XSPECIAL_HOME).ToUTF8String());
    if (!home.empty() && home[0] == '/') {
        folders.push_back(home);
        for (const char* name : {"Music", "Pictures", "Movies", "Desktop"})
            folders.push_back(home + "/" + name);
    }
    static const struct {
        const char* key;
        const wchar_t* fallback;
    } kUserFolders[] = {
        {"DESKTOP", L"Desktop"},   {"DOCUMENTS", L"Documents"}, {"DOWNLOAD", L"Downloads"},  {"MUSIC", L"Music"},
        {"PICTURES", L"Pictures"}, {"PUBLICSHARE", L"Public"},  {"TEMPLATES", L"Templates"}, {"VIDEOS", L"Videos"},
    };
    for (const auto& folder : kUserFolders) {
        const std::string path = StripSlashes(XGetXdgUserFolder(folder.key, folder.fallback).ToUTF8String());
        if (!path.empty() && path[0] == '/')
            folders.push_back(path);
    }
    return folders;
}

bool IsProtected(const std::string& folder, const struct stat* folderStat)
{
    for (const std::string& kept : ProtectedFolders()) {
        if (kept == folder)
            return true;
        struct stat st;
        if (folderStat && stat(kept.c_str(), &st) == 0 && SameFile(st, *folderStat))
            return true;
    }
    return false;
}

// True when folder is the top of a mounted file system: another device than its parent, or
// a mount point of its own (a bind mount of the same device).
bool IsMountPoint(const std::string& folder, const struct stat& folderStat)
{
    struct stat parentStat;
    const std::string parent = ParentOf(folder);
    if (parent.empty() || lstat(parent.c_str(), &parentStat) != 0)
        return true; // cannot tell: keep it
    if (parentStat.st_dev != folderStat.st_dev || SameFile(parentStat, folderStat))
        return true;
    return StripSlashes(XGetMountPoint(XStr::FromUTF8(folder)).ToUTF8String()) == folder;
}

// Why the output at dest cannot stand in for its source (empty when it can): it must be a
// regular file of its own (no link, folder or device) holding data. destStat gets its status.
QString UnusableOutput(const XStr& dest, struct stat& destStat)
{
    if (dest.IsEmpty() || lstat(dest.ToUTF8String().c_str(), &destStat) != 0)
        return QStringLiteral("is missing");
    if (!S_ISREG(destStat.st_mode))
        return QStringLiteral("is not a regular file");
    if (destStat.st_size <= 0)
        return QStringLiteral("is empty");
    return QString();
}

} // namespace

QSet<QString> QKConvertProcessShared::specialActionNames()
{
    return {preserveAttributesName(), deleteSourceName(), playSoundName()};
}

void QKConvertProcessShared::conversionFinished(const KRAProcessArg& arg, bool success, const XFileId* produced,
                                                bool damagedSource)
{
    if (success)
        handleSpecialActions(arg, produced, damagedSource);
    else
        handleFailureActions(arg);
}

QList<XStr> QKConvertProcessShared::sourcePaths(const KRAProcessArg& arg)
{
    QList<XStr> paths;
    if (!arg.srcFrom)
        return paths;
    if (const auto* concat = dynamic_cast<const QKConvertSourceConcat*>(arg.srcFrom.get())) {
        for (const QUrl& url : concat->concatURLs()) {
            const XStr path = XPathFromFileURL(url);
            if (!path.IsEmpty())
                paths.append(path);
        }
        return paths;
    }
    const XStr path = arg.srcFrom->pathForConversion();
    if (!path.IsEmpty())
        paths.append(path);
    return paths;
}

void QKConvertProcessShared::handleSpecialActions(const KRAProcessArg& arg, const XFileId* produced, bool damagedSource)
{
    const XStr dest = XPathFromFileURL(arg.urlTo);
    KRAStatusCallback* callback = arg.callback.get();

    if (arg.specialActions2.contains(preserveAttributesName()) && arg.srcFrom) {
        XFileTimes times;
        const XStr source = arg.srcFrom->pathForConversion();
        if (!source.IsEmpty() && !dest.IsEmpty() && XGetFileTimes(source, times))
            XSetFileTimes(dest, times);
    }

    const auto deleteIt = arg.specialActions2.constFind(deleteSourceName());
    bool recycle = false;
    bool removeEmpty = false;
    QString unreadable;
    if (deleteIt != arg.specialActions2.constEnd() &&
        !ReadDeleteWords(deleteIt->args, recycle, removeEmpty, unreadable)) {
        ReportError(callback, unreadable);
    } else if (deleteIt != arg.specialActions2.constEnd() && damagedSource) {
        if (callback)
            callback->onWarningLine(QStringLiteral("The source file was kept: parts of it could not be read, so it may "
                                                   "hold what the output lacks"));
    } else if (deleteIt != arg.specialActions2.constEnd()) {
        // The source goes only when a real output is there and is another file: converting
        // a file onto itself replaces it, and deleting "the source" would delete the output.
        struct stat destStat;
        QString unusable = UnusableOutput(dest, destStat);
        // Another file at the destination (one that replaced the output meanwhile, or a run
        // that moved nothing there) stands for nothing this conversion made.
        if (unusable.isEmpty() && produced && !(XFileIdOf(dest.ToUTF8String(), false) == *produced))
            unusable = QStringLiteral("is not the file this conversion wrote");
        QList<XStr> toDelete;
        for (const XStr& path : sourcePaths(arg)) {
            struct stat sourceStat;
            if (unusable.isEmpty() && stat(path.ToUTF8String().c_str(), &sourceStat) == 0 &&
                SameFile(sourceStat, destStat))
                continue;
            toDelete.append(path);
        }
        if (!toDelete.isEmpty()) {
            if (unusable.isEmpty())
                deleteSourceFiles(toDelete, recycle, removeEmpty, callback);
            else
                ReportError(
                    callback,
                    QStringLiteral("The source file was kept: the output file %1 %2").arg(Shown(dest), unusable));
        }
    }

    const auto soundIt = arg.specialActions2.constFind(playSoundName());
    if (soundIt != arg.specialActions2.constEnd())
        playSound(*soundIt, QStringLiteral("playsound"));
}

void QKConvertProcessShared::handleFailureActions(const KRAProcessArg& arg)
{
    const auto soundIt = arg.specialActions2.constFind(playSoundName());
    if (soundIt != arg.specialActions2.constEnd())
        playSound(*soundIt, QStringLiteral("playsounderr"));
}

bool QKConvertProcessShared::playSound(const QKDSPSpec& dsp, const QString& key)
{
    const QString file = QKElemValueList(dsp.args).findValue(key, QString());
    if (file.isEmpty())
        return false;
    const XStr path = XStrFromQString(file);
    return PlaySound(path.p, nullptr, SND_FILENAME | SND_ASYNC);
}

bool QKConvertProcessShared::deleteSourceFiles(const QList<XStr>& paths, bool recycle, bool removeEmpty,
                                               KRAStatusCallback* callback)
{
    bool all = true;
    for (const XStr& path : paths)
        all = deleteSourceFile(path, recycle, removeEmpty, callback) && all;
    return all;
}

bool QKConvertProcessShared::deleteSourceFile(const XStr& path, bool recycle, bool removeEmpty,
                                              KRAStatusCallback* callback)
{
    bool gone = false;
    if (path.Length() >= 4) {
        if (recycle) {
            // Never deleted for good instead: without a usable trash the file stays.
            XStr error;
            gone = XMoveItemToTrash(path, nullptr, &error) == XTrashResult::Moved;
            if (!gone)
                ReportError(callback,
                            QStringLiteral("The source file %1 was kept: it could not be moved to the Trash: %2")
                                .arg(Shown(path), Shown(error)));
        } else {
            gone = XDeleteFile(path);
            if (!gone)
                ReportError(callback, QStringLiteral("Could not delete the source file %1").arg(Shown(path)));
        }
    }
    if (removeEmpty)
        removeEmptyFolders(XFileName(path).GetFolder());
    return gone;
}

bool QKConvertProcessShared::isProtectedFolder(const XStr& folder)
{
    const std::string path = StripSlashes(folder.ToUTF8String());
    struct stat st;
    return IsProtected(path, stat(path.c_str(), &st) == 0 ? &st : nullptr);
}

int QKConvertProcessShared::removeEmptyFolders(const XStr& folder)
{
    std::string current = StripSlashes(folder.ToUTF8String());
    int removed = 0;
    // Only absolute paths: a relative one would walk up from wherever the program runs.
    while (current.size() > 1 && current[0] == '/') {
        struct stat st;
        if (lstat(current.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
            break;
        if (IsProtected(current, &st))
            break;
        const std::string parent = ParentOf(current);
        // A volume's top folder, and the folders that hold volumes, stay.
        if (XIsVolumeRootFolder(XStr::FromUTF8(parent)) || XIsVolumeRootFolder(XStr::FromUTF8(current)))
            break;
        if (IsMountPoint(current, st))
            break;
        // rmdir removes only an empty folder, so a file that appears meanwhile is safe.
        if (rmdir(current.c_str()) != 0)
            break;
        ++removed;
        current = parent;
    }
    return removed;
}
