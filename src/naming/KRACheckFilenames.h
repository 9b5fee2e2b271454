// The destination check between the converter setup and the batch: every ticked source gets
// its destination for every encoder that will run, and the check finds what would go wrong
// before anything runs: destinations that exist already, destinations that two outputs of
// the batch share (the second would overwrite the first), destinations that are the source
// itself or another source of the batch, and sources for which no destination could be made.
// Destinations are compared by the file they name (see xclass/XFileIdentity.h), so a folder
// reached through a link or a volume that folds case does not hide a clash.
//
// The check sees sources and encoders through plain records, so that it stands below the
// engine and the setup: the caller puts its own source and multi-encoder objects into the
// opaque fields and finds them again in the entries.
//
// Sources whose naming needs their tags are probed on a small bounded pool of workers. The
// work runs on deep copies made when the check starts; cancel stops it between files.
#pragma once

#include <QList>
#include <QSet>
#include <QString>
#include <QUrl>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>

#include "job/QKEncoderArgs.h"
#include "job/QKEncoderDesc.h"
#include "xclass/XFileIdentity.h"

class KRAFileNaming;
class QKMediaFileInfo;
using KRAFileNamingRef = std::shared_ptr<KRAFileNaming>;
using QKMediaFileInfoRef = std::shared_ptr<QKMediaFileInfo>;

// One encoder of the batch: the single encoder of the profile, or one of a multi-encoder set.
struct KRACheckEncoderItem {
    QKEncoderDescRef encoder;
    QKEncoderArgs args;
    KRAFileNamingRef naming;
    std::shared_ptr<void> multiEncData; // the caller's multi-encoder entry, or none
};

// One source of the batch.
struct KRACheckSourceItem {
    bool checked = true;
    QUrl namingURL;
    std::optional<QString> destinationUser; // typed in list and rename
    QKMediaFileInfoRef info;                // already read (the information cache), or none
    std::shared_ptr<void> source;           // the caller's source object
};

class KRACheckFileNamesEntry {
public:
    bool checked = true;
    bool justCopy = false;
    int32_t userData2 = 0;
    std::shared_ptr<void> source2;
    int sourceIndex = -1; // into the sources the check was given
    QUrl namingURL;
    QUrl destination; // empty: none could be made
    uint64_t sourceSizeBytes = 0;
    std::shared_ptr<void> multiEncData;
    QString encoderName;
    std::shared_ptr<void> userData;
    // The destination is the source file itself (the same path, or the same file through a
    // link): converting would replace the source.
    bool sameAsSource = false;
    // Which files the destination and the source name, taken when the destination was made
    // or changed, so that comparing thousands of rows asks the disk nothing.
    std::string destinationKey;
    XFileId destinationId; // exists: the destination exists
    std::string sourceKey;
    XFileId sourceId;
};
using KRACheckFileNamesEntryRef = std::shared_ptr<KRACheckFileNamesEntry>;

// What the ticked entries of a state share, as of one look at them: the files their
// destinations and their sources name, each with the first entry that names it.
class KRACheckClashes {
public:
    struct Use {
        const KRACheckFileNamesEntry* first = nullptr;
        const KRACheckFileNamesEntry* second = nullptr;
        int count = 0;
    };
    std::unordered_map<std::string, Use> destinations; // by key and by identity
    std::unordered_map<std::string, const KRACheckFileNamesEntry*> sources;

    // The other ticked entry whose destination is the same file, or null.
    const KRACheckFileNamesEntry* otherDestination(const KRACheckFileNamesEntry& entry) const;
    // The ticked entry with another source that is the file this entry's destination names.
    const KRACheckFileNamesEntry* sourceHit(const KRACheckFileNamesEntry& entry) const;
};

class KRACheckFilenamesState {
public:
    QList<KRACheckFileNamesEntryRef> entries;
    QSet<QUrl> alreadyExists;

    int64_t numItemsChecked() const;

    // What keeps the batch from starting as it is, among the ticked entries.
    enum class Problem { None, NoDestination, SameAsSource, OtherSource, Conflict };
    Problem problemOf(const KRACheckFileNamesEntry& entry) const;
    // The same with what the entries share already known (for many entries at once).
    static Problem problemOf(const KRACheckFileNamesEntry& entry, const KRACheckClashes& clashes);
    KRACheckClashes clashes() const;
    bool hasBlockingProblems() const;
    // How many entries may overwrite a file that exists now, and how many have problems.
    int countExisting() const;
    int countProblems() const;
    // The entries the files-already-exist dialog shows: those whose destination exists and
    // those with a problem, in entry order.
    QList<KRACheckFileNamesEntryRef> entriesToShow() const;
};
using KRACheckFilenamesStateRef = std::shared_ptr<KRACheckFilenamesState>;

class KRACheckFilenames {
public:
    // Where encoders that write no file of their own send their output.
    static QUrl placeholderDestination()
    {
        return QUrl::fromLocalFile(QStringLiteral("/tmp/no-output-file-specified.ignore"));
    }

    // Whether any ticked source must be read for its tags.
    static bool needsMetaFromFiles(const QList<KRACheckEncoderItem>& encoders);

    // The extension an encoder's outputs get, with its dot; empty for none.
    static QString extensionFor(const KRACheckEncoderItem& item);

    // Runs the whole check on the calling thread with up to `workers` threads for the
    // sources (at least 1). The items are used as they are: give the check copies of your
    // own (see copyEncoders). Null when cancel was raised before the end; progress is told
    // the number of sources done (from a worker thread).
    static KRACheckFilenamesStateRef run(const QList<KRACheckSourceItem>& sources,
                                         const QList<KRACheckEncoderItem>& encoders, int workers,
                                         const std::atomic<bool>* cancel = nullptr,
                                         std::function<void(int done)> progress = nullptr);

    // After the destination of an entry changed: which files it and the source name now, and
    // whether the destination is the source itself. keys (may be null) remembers case rules.
    static void updateSameAsSource(KRACheckFileNamesEntry& entry, XFileKeyMaker* keys = nullptr);

    // Deep copies: namings copied (a check resolves their folders), arguments copied.
    static QList<KRACheckEncoderItem> copyEncoders(const QList<KRACheckEncoderItem>& encoders);
};

// The check on a background thread, started on the main thread. The result comes back to the
// main thread through done(state) (null: cancelled); nothing comes back once the job has been
// cancelled or destroyed, so a window that closes mid-check is safe.
class KRACheckFilenamesJob {
public:
    KRACheckFilenamesJob();
    ~KRACheckFilenamesJob();
    KRACheckFilenamesJob(const KRACheckFilenamesJob&) = delete;
    KRACheckFilenamesJob& operator=(const KRACheckFilenamesJob&) = delete;

    void start(const QList<KRACheckSourceItem>& sources, const QList<KRACheckEncoderItem>& encoders,
               std::function<void(KRACheckFilenamesStateRef)> done, int workers = 4);
    void cancel();
    bool isRunning() const;

private:
    struct Shared;
    std::shared_ptr<Shared> m_shared;
};
