// Shared pieces of the batch converter's tests: a tree owner with a filter and a selection,
// and running the main thread's queue (the tree's workers deliver there).
#pragma once

#include "batch/KRAFileFilter.h"
#include "batch/clFolderListEntry.h"
#include "common/TestFiles.h"
#include "platform/XStrQString.h"
#include "platform/XWorkspace.h"
#include "xclass/XMainQueue.h"

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

class TestTreeOwner : public KRAFolderTreeOwner {
public:
    std::shared_ptr<KRAFileFilter> filter() const override { return fileFilter; }
    QVariant currentSelection() const override { return selection; }
    void folderAccessError(clFolderListEntry*, const QString& error, int) override { errors << error; }
    void forgetSelection(const QString& path) override { clFolderListEntry::forgetInSelection(selection, path); }

    std::shared_ptr<KRAFileFilter> fileFilter = std::make_shared<KRAFileFilter>();
    QVariant selection;
    QStringList errors;
};

// Runs what the workers handed to the main thread until done() holds (a hang guard of
// minutes, not a timing).
inline bool RunMainUntil(const std::function<bool()>& done)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::minutes(5);
    while (!done() && std::chrono::steady_clock::now() < end)
        if (XMainQueue::Shared().RunPending() == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return done();
}

inline QString QPath(const std::string& path)
{
    return XStrToQString(XStr::FromUTF8(path.c_str()));
}

inline QUrl QFileUrl(const std::string& path)
{
    return XFileURL(XStr::FromUTF8(path.c_str()));
}

// Lists the folder and its files, waiting for both.
inline bool LoadFiles(const clFolderListEntryRef& folder)
{
    folder->wantFiles();
    return RunMainUntil([&] { return folder->filesLoaded() || !folder->accessError().isEmpty(); });
}

inline clFolderListEntryRef Child(const clFolderListEntryRef& folder, const char* name)
{
    folder->getFoldersSynchronously(60000);
    return folder->subFolderAt(QPath(name));
}

// The paths a collection over the roots hands over, in order, collected on a worker thread as
// the grabber does; missing: the ticked files it found gone from the disk.
inline std::vector<std::string> CollectPaths(const QList<clFolderListEntryRef>& roots,
                                             std::vector<std::string>* missing = nullptr)
{
    struct Sink : KRACollectSink {
        std::vector<std::string> files, gone;
        bool aborting() const override { return false; }
        void addFile(const clFileListEntryRef& file) override
        {
            files.push_back(XStrFromQString(file->path()).ToUTF8String());
        }
        void fileMissing(const clFileListEntryRef& file) override
        {
            gone.push_back(XStrFromQString(file->path()).ToUTF8String());
        }
    } sink;
    std::thread worker([&] { clFolderListEntry::collectCheckedFiles(roots, sink); });
    worker.join();
    if (missing)
        *missing = sink.gone;
    return sink.files;
}
