// The destination check of a batch: entries per source and encoder, what it finds (existing,
// shared and same-as-source destinations), tags read on the pool, and the background job.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>

#include <sys/stat.h>
#include <unistd.h>

#include "common/CaseFoldVolume.h"
#include "common/MediaTestFiles.h"
#include "common/TestFiles.h"
#include "common/TestPanelHost.h"
#include "common/TestStore.h"
#include "naming/KRACheckFilenames.h"
#include "naming/KRAFileNaming.h"
#include "naming/NamingTestSupport.h"
#include "naming/ui/KRACheckingFilenamesProgress.h"
#include "platform/XStrQString.h"
#include "platform/XWorkspace.h"

namespace {

using Problem = KRACheckFilenamesState::Problem;

KRACheckEncoderItem Encoder(const QString& name, const QString& extension, const KRAFileNamingRef& naming)
{
    KRACheckEncoderItem item;
    item.encoder = QKEncoderDesc::makeVideoCodec(name, extension);
    item.naming = naming;
    return item;
}

KRACheckSourceItem Source(const std::string& path, bool checked = true)
{
    KRACheckSourceItem item;
    item.namingURL = XFileURL(XStr::FromUTF8(path));
    item.checked = checked;
    return item;
}

KRAFileNamingRef Dynamic(const std::string& folder, const QString& pattern)
{
    auto naming = std::make_shared<KRAFileNaming>();
    naming->setFileNamingType(FileNamingDynamic);
    naming->setDestination(KRALocationDescriptor::withFolderPath(XStr::FromUTF8(folder)));
    naming->setDynamicFormat(pattern);
    return naming;
}

QString PathOf(const KRACheckFileNamesEntryRef& entry)
{
    return XStrToQString(XPathFromFileURL(entry->destination));
}

} // namespace

TEST(CheckFilenames, EntriesPerSourceAndEncoder)
{
    TestStoreScope store;
    TestTempDir dir;
    const std::string out = dir.file("out");
    const KRAFileNamingRef naming = Dynamic(out, QStringLiteral("[origfilename]"));
    KRACheckEncoderItem noFile = Encoder(QStringLiteral("[Special]"), QString(), naming);
    noFile.encoder->disableConvertToFolder = true;
    KRACheckEncoderItem custom = Encoder(QStringLiteral("Custom"), QString(), naming);
    custom.args.customFormatExt = QStringLiteral("mkv");
    KRACheckEncoderItem dotted = Encoder(QStringLiteral("Dotted"), QString(), naming);
    dotted.args.customFormatExt = QStringLiteral(".webm");
    const QList<KRACheckEncoderItem> encoders{custom, noFile, dotted};
    WriteTextFile(dir.file("a.mov"), "a");
    WriteTextFile(dir.file("b.mov"), "bb");
    const QList<KRACheckSourceItem> sources{Source(dir.file("a.mov")), Source(dir.file("skipped.mov"), false),
                                            Source(dir.file("b.mov"))};

    const KRACheckFilenamesStateRef state = KRACheckFilenames::run(sources, encoders, 4);
    ASSERT_TRUE(state);
    ASSERT_EQ(state->entries.size(), 6) << "two ticked sources, three encoders";
    EXPECT_EQ(PathOf(state->entries[0]), QString::fromStdString(out + "/a.mkv"));
    EXPECT_EQ(state->entries[1]->destination, KRACheckFilenames::placeholderDestination());
    EXPECT_EQ(PathOf(state->entries[2]), QString::fromStdString(out + "/a.webm"));
    EXPECT_EQ(state->entries[3]->sourceIndex, 2);
    EXPECT_EQ(state->entries[3]->sourceSizeBytes, 2u);
    EXPECT_EQ(state->numItemsChecked(), 6);
    EXPECT_FALSE(state->hasBlockingProblems()) << "the placeholder is shared by design";

    // Existing destinations are found; the placeholder never counts.
    std::filesystem::create_directories(out);
    WriteTextFile(out + "/b.webm", "old");
    WriteTextFile("/tmp/no-output-file-specified.ignore", "");
    const KRACheckFilenamesStateRef again = KRACheckFilenames::run(sources, encoders, 1);
    EXPECT_EQ(again->alreadyExists.size(), 1);
    EXPECT_TRUE(again->alreadyExists.contains(again->entries[5]->destination));
    EXPECT_EQ(again->entriesToShow().size(), 1);
    unlink("/tmp/no-output-file-specified.ignore");

    // A destination the user typed in list and rename.
    QList<KRACheckSourceItem> edited = sources;
    edited[0].destinationUser = QStringLiteral("Renamed/first");
    EXPECT_EQ(PathOf(KRACheckFilenames::run(edited, encoders, 2)->entries[0]),
              QString::fromStdString(out + "/Renamed/first.mkv"));
}

TEST(CheckFilenames, SharedAndSameDestinationsBlockTheBatch)
{
    TestStoreScope store;
    TestTempDir dir;
    // Two untagged clips under "[artist] - [title]" both become "- .mkv".
    ASSERT_TRUE(MakeTestVideo(dir.file("one.mp4"), "64x48", "5", "1"));
    ASSERT_TRUE(MakeTestVideo(dir.file("two.mp4"), "64x48", "5", "1"));
    const KRAFileNamingRef naming = Dynamic(dir.file("out"), QStringLiteral("[artist] - [title]"));
    const QList<KRACheckEncoderItem> encoders{Encoder(QStringLiteral("MKV"), QStringLiteral(".mkv"), naming)};
    QList<KRACheckSourceItem> sources{Source(dir.file("one.mp4")), Source(dir.file("two.mp4"))};
    KRACheckFilenamesStateRef state = KRACheckFilenames::run(sources, encoders, 4);
    ASSERT_EQ(state->entries.size(), 2);
    EXPECT_EQ(state->problemOf(*state->entries[0]), Problem::Conflict);
    EXPECT_EQ(state->problemOf(*state->entries[1]), Problem::Conflict);
    EXPECT_TRUE(state->hasBlockingProblems());
    EXPECT_EQ(state->entriesToShow().size(), 2);
    // Skipping one of them is enough.
    state->entries[1]->checked = false;
    EXPECT_FALSE(state->hasBlockingProblems());

    // Two encoders of one set naming the same file conflict as well.
    const QList<KRACheckEncoderItem> twins{Encoder(QStringLiteral("A"), QStringLiteral(".mkv"), naming),
                                           Encoder(QStringLiteral("B"), QStringLiteral(".mkv"), naming)};
    EXPECT_EQ(KRACheckFilenames::run({sources[0]}, twins, 1)->countProblems(), 2);

    // Tagged clips, read on the pool, get destinations of their own.
    ASSERT_TRUE(
        MakeTestVideo(dir.file("t1.mp4"), "64x48", "5", "1", {"-metadata", "artist=A", "-metadata", "title=X"}));
    ASSERT_TRUE(
        MakeTestVideo(dir.file("t2.mp4"), "64x48", "5", "1", {"-metadata", "artist=B", "-metadata", "title=Y"}));
    state = KRACheckFilenames::run({Source(dir.file("t1.mp4")), Source(dir.file("t2.mp4"))}, encoders, 4);
    EXPECT_FALSE(state->hasBlockingProblems());
    EXPECT_TRUE(PathOf(state->entries[1]).endsWith(QStringLiteral("/B - Y.mkv")))
        << PathOf(state->entries[1]).toStdString();

    // Next to the source with the source's own extension: the destination is the source. Also
    // when it is reached through a link.
    auto sameFolder = KRAFileNaming::namingSameFolder();
    const QList<KRACheckEncoderItem> mp4{Encoder(QStringLiteral("MP4"), QStringLiteral(".mp4"), sameFolder)};
    state = KRACheckFilenames::run({Source(dir.file("one.mp4"))}, mp4, 1);
    EXPECT_EQ(state->problemOf(*state->entries[0]), Problem::SameAsSource);
    ASSERT_EQ(symlink(dir.file("one.mp4").c_str(), dir.file("link.mov").c_str()), 0);
    const KRAFileNamingRef linked = Dynamic(dir.path(), QStringLiteral("link"));
    state = KRACheckFilenames::run({Source(dir.file("one.mp4"))},
                                   {Encoder(QStringLiteral("MOV"), QStringLiteral(".mov"), linked)}, 1);
    EXPECT_EQ(state->problemOf(*state->entries[0]), Problem::SameAsSource);

    // No destination: a relative folder names none.
    auto nowhere = std::make_shared<KRAFileNaming>();
    nowhere->setFileNamingType(FileNamingSingleFolder);
    nowhere->setDestination(KRALocationDescriptor::withFolderPath(XStr(L"relative/folder")));
    state = KRACheckFilenames::run({Source(dir.file("one.mp4"))},
                                   {Encoder(QStringLiteral("MKV"), QStringLiteral(".mkv"), nowhere)}, 1);
    EXPECT_EQ(state->problemOf(*state->entries[0]), Problem::NoDestination);
}

TEST(CheckFilenames, BackgroundJobReportsOnceAndNeverAfterItIsGone)
{
    TestStoreScope store;
    TestTempDir dir;
    ASSERT_TRUE(MakeTestVideo(dir.file("c.mp4"), "64x48", "5", "1", {"-metadata", "title=C"}));
    const QList<KRACheckEncoderItem> encoders{
        Encoder(QStringLiteral("MKV"), QStringLiteral(".mkv"), Dynamic(dir.file("out"), QStringLiteral("[title]")))};
    QList<KRACheckSourceItem> sources;
    for (int i = 0; i < 8; ++i)
        sources.append(Source(dir.file("c.mp4")));

    int reports = 0;
    KRACheckFilenamesStateRef result;
    {
        KRACheckFilenamesJob job;
        job.start(sources, encoders, [&](KRACheckFilenamesStateRef state) {
            ++reports;
            result = state;
        });
        QElapsedTimer timer;
        timer.start();
        while (reports == 0 && timer.elapsed() < 60000)
            QApplication::processEvents(QEventLoop::AllEvents, 50);
        EXPECT_FALSE(job.isRunning());
    }
    ASSERT_EQ(reports, 1);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->entries.size(), 8);
    EXPECT_EQ(result->countProblems(), 8) << "eight outputs named C.mkv";

    // Destroyed or cancelled mid-check: nothing comes back.
    int late = 0;
    for (int round = 0; round < 3; ++round) {
        auto job = std::make_unique<KRACheckFilenamesJob>();
        job->start(sources, encoders, [&](KRACheckFilenamesStateRef) { ++late; });
        if (round == 0)
            job->cancel();
        else
            job.reset();
    }
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 3000)
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    EXPECT_EQ(late, 0);
}

namespace {

class CheckHost : public TestPanelHost, public KRACheckFilenamesHost {
public:
    void checkFileNamesDone(const KRACheckFilenamesStateRef& state, bool needsDialog,
                            const std::shared_ptr<KRAPanel>& invoker) override
    {
        ++done;
        result = state;
        dialog = needsDialog;
        backTo = invoker;
    }
    void checkFileNamesCancelled(const std::shared_ptr<KRAPanel>& invoker) override
    {
        ++cancelled;
        backTo = invoker;
    }
    std::shared_ptr<KRAPanel> backTo;
    KRACheckFilenamesStateRef result;
    int done = 0, cancelled = 0;
    bool dialog = false;
};

} // namespace

TEST(CheckFilenames, PleaseWaitPanelReportsOrCancels)
{
    TestStoreScope store;
    TestTempDir dir;
    ASSERT_TRUE(MakeTestVideo(dir.file("c.mp4"), "64x48", "5", "1", {"-metadata", "title=C"}));
    const QList<KRACheckEncoderItem> encoders{
        Encoder(QStringLiteral("MKV"), QStringLiteral(".mkv"), Dynamic(dir.file("out"), QStringLiteral("[title]")))};
    auto host = std::make_shared<CheckHost>();
    auto invoker = std::make_shared<KRACheckingFilenamesProgress>(QList<KRACheckSourceItem>{}, encoders, nullptr);

    auto panel = std::make_shared<KRACheckingFilenamesProgress>(QList<KRACheckSourceItem>{Source(dir.file("c.mp4"))},
                                                                encoders, invoker);
    panel->panelAttachedToHost(host);
    panel->view();
    QElapsedTimer timer;
    timer.start();
    while (host->done == 0 && timer.elapsed() < 300000)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    ASSERT_EQ(host->done, 1);
    EXPECT_FALSE(host->dialog);
    EXPECT_EQ(host->backTo, invoker);
    EXPECT_TRUE(PathOf(host->result->entries[0]).endsWith(QStringLiteral("/C.mkv")));

    // Cancel: back to the invoker, and the result never comes.
    auto cancelled = std::make_shared<KRACheckingFilenamesProgress>(
        QList<KRACheckSourceItem>{Source(dir.file("c.mp4")), Source(dir.file("c.mp4"))}, encoders, invoker);
    cancelled->panelAttachedToHost(host);
    cancelled->view();
    cancelled->btnCancel()->click();
    EXPECT_EQ(host->cancelled, 1);
    timer.restart();
    while (timer.elapsed() < 2000)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(host->done, 1);
}

// The output folder holds a link B -> A; clips by the artists A and B with one title land in
// one file under "[artist]/[title]", whatever the path text says.
TEST(CheckFilenames, DestinationsThatAreOneFileThroughALinkClash)
{
    TestStoreScope store;
    TestTempDir dir;
    ASSERT_EQ(mkdir(dir.file("out").c_str(), 0700), 0);
    ASSERT_EQ(mkdir(dir.file("out/A").c_str(), 0700), 0);
    ASSERT_EQ(symlink("A", dir.file("out/B").c_str()), 0);
    ASSERT_TRUE(
        MakeTestVideo(dir.file("one.mp4"), "64x48", "5", "1", {"-metadata", "artist=A", "-metadata", "title=Song"}));
    ASSERT_TRUE(
        MakeTestVideo(dir.file("two.mp4"), "64x48", "5", "1", {"-metadata", "artist=B", "-metadata", "title=Song"}));
    const QList<KRACheckEncoderItem> encoders{Encoder(QStringLiteral("MKV"), QStringLiteral(".mkv"),
                                                      Dynamic(dir.file("out"), QStringLiteral("[artist]/[title]")))};
    KRACheckFilenamesStateRef state =
        KRACheckFilenames::run({Source(dir.file("one.mp4")), Source(dir.file("two.mp4"))}, encoders, 2);
    ASSERT_EQ(state->entries.size(), 2);
    EXPECT_NE(PathOf(state->entries[0]), PathOf(state->entries[1]));
    EXPECT_EQ(state->problemOf(*state->entries[0]), Problem::Conflict);
    EXPECT_EQ(state->problemOf(*state->entries[1]), Problem::Conflict);
    const KRACheckClashes clashes = state->clashes();
    EXPECT_EQ(clashes.otherDestination(*state->entries[1]), state->entries[0].get());
    EXPECT_EQ(clashes.otherDestination(*state->entries[0]), state->entries[1].get());

    // Once the first output exists, the second is the same file by its identity as well.
    WriteTextFile(dir.file("out/A/Song.mkv"), "old");
    state = KRACheckFilenames::run({Source(dir.file("one.mp4")), Source(dir.file("two.mp4"))}, encoders, 2);
    EXPECT_EQ(state->alreadyExists.size(), 2);
    EXPECT_EQ(state->countProblems(), 2);
    // Unticking one of the pair lets the other overwrite.
    state->entries[0]->checked = false;
    EXPECT_FALSE(state->hasBlockingProblems());
}

// A destination that is another source of the batch would be replaced by this output and
// then deleted by that source's "Delete Source File": it blocks as a row's own source does.
TEST(CheckFilenames, ADestinationThatIsAnotherSourceBlocks)
{
    TestStoreScope store;
    TestTempDir dir;
    ASSERT_EQ(mkdir(dir.file("s").c_str(), 0700), 0);
    ASSERT_EQ(symlink("s", dir.file("s-link").c_str()), 0);
    ASSERT_TRUE(MakeTestVideo(dir.file("s/a.mp4"), "64x48", "5", "1"));
    ASSERT_TRUE(MakeTestVideo(dir.file("s/b.mp4"), "64x48", "5", "1"));
    // a goes to s/b.mp4 (typed in list and rename), b to its own name in another folder.
    KRACheckSourceItem a = Source(dir.file("s/a.mp4"));
    a.destinationUser = QStringLiteral("b");
    const KRAFileNamingRef toS = Dynamic(dir.file("s-link"), QStringLiteral("[origfilename]"));
    const QList<KRACheckEncoderItem> encoders{Encoder(QStringLiteral("MP4"), QStringLiteral(".mp4"), toS)};
    KRACheckFilenamesStateRef state = KRACheckFilenames::run({a, Source(dir.file("s/b.mp4"))}, encoders, 1);
    ASSERT_EQ(state->entries.size(), 2);
    EXPECT_EQ(PathOf(state->entries[0]), QString::fromStdString(dir.file("s-link/b.mp4")));
    EXPECT_EQ(state->problemOf(*state->entries[0]), Problem::OtherSource);
    EXPECT_EQ(state->clashes().sourceHit(*state->entries[0]), state->entries[1].get());
    // b's own row writes its own source: that is the row's own problem, not a clash with a.
    EXPECT_EQ(state->problemOf(*state->entries[1]), Problem::SameAsSource);
    EXPECT_EQ(state->entriesToShow().size(), 2);
    // Without b in the batch, s/b.mp4 is an existing file like any other.
    state->entries[1]->checked = false;
    EXPECT_EQ(state->problemOf(*state->entries[0]), Problem::None);
    EXPECT_TRUE(state->alreadyExists.contains(state->entries[0]->destination));
}

TEST(CheckFilenames, NamingToolNamesTheConflict)
{
    if (ProgramOnPath("ffmpeg").empty() || ProgramOnPath("ffprobe").empty())
        GTEST_SKIP() << "ffmpeg and ffprobe are needed";
    TestStoreScope store;
    TestTempDir dir;
    ASSERT_EQ(mkdir(dir.file("src").c_str(), 0700), 0);
    ASSERT_EQ(mkdir(dir.file("out").c_str(), 0700), 0);
    ASSERT_EQ(mkdir(dir.file("out/A").c_str(), 0700), 0);
    ASSERT_EQ(symlink("A", dir.file("out/B").c_str()), 0);
    ASSERT_TRUE(MakeTestVideo(dir.file("src/one.mp4"), "64x48", "5", "1",
                              {"-metadata", "artist=A", "-metadata", "title=Song"}));
    ASSERT_TRUE(MakeTestVideo(dir.file("src/two.mp4"), "64x48", "5", "3",
                              {"-metadata", "artist=B", "-metadata", "title=Song"}));
    const NamingToolResult result =
        RunNamingTool({"check", "--type", "2", "--folder", dir.file("out"), "--template", "[artist]/[title]", "--ext",
                       ".mkv", dir.file("src/one.mp4"), dir.file("src/two.mp4")});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "CONFLICT " + dir.file("out/A/Song.mkv") + " is the same file as " +
                              dir.file("out/B/Song.mkv") + " from " + dir.file("src/two.mp4") + "\nCONFLICT " +
                              dir.file("out/B/Song.mkv") + " is the same file as " + dir.file("out/A/Song.mkv") +
                              " from " + dir.file("src/one.mp4") + "\n");
}

// The volume itself says that it folds case: Clip.mkv and clip.mkv are one output.
TEST(CheckFilenames, OnACaseFoldingVolumeNamesAlikeButForCaseClash)
{
    TestStoreScope store;
    TestTempDir dir;
    CaseFoldVolume volume(dir.path());
    if (!volume.ok())
        GTEST_SKIP() << "no case-folding volume: " << volume.why();
    for (const char* name : {"Clip.mp4", "clip.mov"})
        WriteTextFile(dir.file(name), "x");
    const KRAFileNamingRef naming = Dynamic(volume.folder(), QStringLiteral("[origfilename]"));
    const QList<KRACheckEncoderItem> encoders{Encoder(QStringLiteral("MKV"), QStringLiteral(".mkv"), naming)};
    const KRACheckFilenamesStateRef state =
        KRACheckFilenames::run({Source(dir.file("Clip.mp4")), Source(dir.file("clip.mov"))}, encoders, 1);
    ASSERT_EQ(state->entries.size(), 2);
    EXPECT_TRUE(PathOf(state->entries[0]).endsWith(QStringLiteral("/Clip.mkv")));
    EXPECT_TRUE(PathOf(state->entries[1]).endsWith(QStringLiteral("/clip.mkv")));
    EXPECT_EQ(state->problemOf(*state->entries[0]), Problem::Conflict);
    EXPECT_EQ(state->problemOf(*state->entries[1]), Problem::Conflict);
}
