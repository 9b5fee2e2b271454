// The folder listing behind the batch converter's tables: what a row shows is what the one
// stat of the listing read, names of any bytes survive the way to the row and back, links
// behave, and changes made on the main thread while a worker builds the rows are not lost.
#include "batch/BatchTestSupport.h"
#include "batch/KRAFileFilter.h"
#include "common/MediaTestFiles.h"
#include "common/TestStore.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <set>

namespace {

class FolderListing : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(mkdir(dir.file("top").c_str(), 0700), 0);
        root = clFolderListEntry::rootForURL(QFileUrl(dir.file("top")), owner);
        root->globals()->loadInfoForColumns = false;
    }

    void Write(const std::string& name, size_t bytes)
    {
        std::ofstream(dir.file("top/" + name)) << std::string(bytes, 'x');
    }

    static void SetTimes(const std::string& path, time_t accessed, time_t modified)
    {
        const timespec times[2] = {{accessed, 0}, {modified, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    }

    clFileListEntryRef Row(const std::string& name) const
    {
        for (const clFileListEntryRef& file : root->files())
            if (XStrFromQString(file->name()).ToUTF8String() == name)
                return file;
        return nullptr;
    }

    std::vector<std::string> Names() const
    {
        std::vector<std::string> names;
        for (const clFileListEntryRef& file : root->files())
            names.push_back(XStrFromQString(file->name()).ToUTF8String());
        return names;
    }

    // Lists the folder again and waits until the new listing's rows are in.
    void Relist()
    {
        ASSERT_TRUE(RunMainUntil([&] { return !root->isWorking(); }));
        ready = false;
        root->beginRefresh();
        ASSERT_TRUE(RunMainUntil([&] { return ready && !root->isWorking(); }));
    }

    class Owner : public TestTreeOwner {
    public:
        explicit Owner(bool* ready) : m_ready(ready) {}
        void folderFilesListReady(clFolderListEntry*) override { *m_ready = true; }
        bool* m_ready;
    };

    TestTempDir dir;
    bool ready = false;
    std::shared_ptr<Owner> owner = std::make_shared<Owner>(&ready);
    clFolderListEntryRef root;
};

TEST_F(FolderListing, ARowShowsWhatItsListingReadUntilTheFolderIsListedAgain)
{
    Write("clip.mkv", 10);
    SetTimes(dir.file("top/clip.mkv"), 1000000000, 1100000000);
    ASSERT_TRUE(LoadFiles(root));
    const clFileListEntryRef row = Row("clip.mkv");
    ASSERT_TRUE(row);
    EXPECT_EQ(row->size(), 10u);
    EXPECT_EQ(row->dateModified().toSecsSinceEpoch(), 1100000000);
    EXPECT_EQ(row->dateAccessed().toSecsSinceEpoch(), 1000000000);
    EXPECT_EQ(row->attribByName(QStringLiteral("Size"), true).toULongLong(), 10u);
    const QDateTime created = row->dateCreated();

    // The table paints and sorts from the row: nothing of this reaches it before a new listing.
    Write("clip.mkv", 5000);
    SetTimes(dir.file("top/clip.mkv"), 1200000000, 1300000000);
    EXPECT_EQ(row->size(), 10u);
    EXPECT_EQ(row->attribByName(QStringLiteral("Date Modified"), true).toDateTime().toSecsSinceEpoch(), 1100000000);
    EXPECT_EQ(row->dateAccessed().toSecsSinceEpoch(), 1000000000);
    EXPECT_EQ(row->dateCreated(), created);

    Relist();
    ASSERT_EQ(Row("clip.mkv"), row); // the same row, refreshed, its tick kept
    EXPECT_EQ(row->size(), 5000u);
    EXPECT_EQ(row->dateModified().toSecsSinceEpoch(), 1300000000);
    EXPECT_EQ(row->dateAccessed().toSecsSinceEpoch(), 1200000000);

    // Gone from the disk, the row still shows its listed facts; the next listing drops it.
    ASSERT_EQ(unlink(dir.file("top/clip.mkv").c_str()), 0);
    EXPECT_EQ(row->size(), 5000u);
    Relist();
    EXPECT_TRUE(root->files().empty());
}

TEST_F(FolderListing, NamesOfAnyBytesComeBackAsTheSameBytes)
{
    const std::vector<std::string> names = {"caf\xc3\xa9 clip.mkv", "raw\xff\xfe.mp4", "new\nline.mkv",
                                            "quote'\"$(x) `y`.mp4", "back\\slash*?.mkv"};
    for (size_t i = 0; i < names.size(); ++i)
        Write(names[i], i + 1);
    ASSERT_TRUE(LoadFiles(root));
    ASSERT_EQ(root->files().size(), names.size());
    for (size_t i = 0; i < names.size(); ++i) {
        SCOPED_TRACE(i);
        const clFileListEntryRef row = Row(names[i]);
        ASSERT_TRUE(row);
        const std::string path = dir.file("top/" + names[i]);
        EXPECT_EQ(XStrFromQString(row->path()).ToUTF8String(), path);
        EXPECT_EQ(XPathFromFileURL(row->url()).ToUTF8String(), path);
        EXPECT_EQ(row->size(), i + 1);
        EXPECT_EQ(row->attribByName(QStringLiteral("Name")), row->name());
        EXPECT_EQ(XStrFromQString(row->attribByName(QStringLiteral("Folder"))).ToUTF8String(), dir.file("top"));
        EXPECT_FALSE(row->formatName().isEmpty());
        EXPECT_TRUE(row->existsAsFile());
    }
    root->setCheckState(NonRecursive);
    std::vector<std::string> collected = CollectPaths({root});
    std::set<std::string> expected;
    for (const std::string& name : names)
        expected.insert(dir.file("top/" + name));
    EXPECT_EQ(std::set<std::string>(collected.begin(), collected.end()), expected);
}

TEST_F(FolderListing, LinksCountAsTheirTargetButNeverAsFolders)
{
    ASSERT_EQ(mkdir(dir.file("elsewhere").c_str(), 0700), 0);
    std::ofstream(dir.file("elsewhere/target.mkv")) << std::string(123, 'x');
    std::ofstream(dir.file("elsewhere/inside.mkv")) << "x";
    ASSERT_EQ(symlink(dir.file("elsewhere/target.mkv").c_str(), dir.file("top/link.mkv").c_str()), 0);
    ASSERT_EQ(symlink(dir.file("elsewhere").c_str(), dir.file("top/folder link").c_str()), 0);
    ASSERT_EQ(symlink(dir.file("nowhere.mkv").c_str(), dir.file("top/broken.mkv").c_str()), 0);
    ASSERT_EQ(mkdir(dir.file("top/real").c_str(), 0700), 0);
    ASSERT_TRUE(LoadFiles(root));
    EXPECT_EQ(Names(), std::vector<std::string>{"link.mkv"});
    EXPECT_EQ(Row("link.mkv")->size(), 123u);
    const auto folders = root->folders();
    ASSERT_EQ(folders.size(), 1u);
    EXPECT_EQ(folders[0]->name(), QStringLiteral("real"));
}

TEST_F(FolderListing, ChangesMadeWhileTheRowsAreBuiltAreNotLost)
{
    for (const char* name : {"a.mkv", "b.mkv", "c.mp4"})
        Write(name, 1);
    // The listing is in; the rows are being built on a worker from the state of that moment.
    root->wantFiles();
    ASSERT_TRUE(RunMainUntil([&] { return root->hasListing(); }));
    root->setCheckState(Recursive);
    owner->fileFilter->setFilterMeta(QStringLiteral("File Types"), QSet<QString>{QStringLiteral(".MP4")});
    root->applyFormatFilterRecur();
    ASSERT_TRUE(LoadFiles(root));
    ASSERT_TRUE(RunMainUntil([&] { return !root->isWorking(); }));
    EXPECT_EQ(Names(), (std::vector<std::string>{"a.mkv", "b.mkv"}));
    for (const clFileListEntryRef& file : root->files())
        EXPECT_TRUE(file->checked());
    EXPECT_EQ(root->checkedFileCount(), 2);
}

TEST_F(FolderListing, ANewListingKeepsTheOrderTheTableAskedFor)
{
    Write("a.mkv", 1);
    Write("b.mkv", 300);
    Write("c.mkv", 20);
    ASSERT_TRUE(LoadFiles(root));
    EXPECT_EQ(Names(), (std::vector<std::string>{"a.mkv", "b.mkv", "c.mkv"}));
    KRASortDescriptor bySize = KRASortDescriptor::forColumn(QStringLiteral("Size"));
    bySize.ascending = false;
    root->sortFilesUsingDescriptors({bySize});
    EXPECT_EQ(Names(), (std::vector<std::string>{"b.mkv", "c.mkv", "a.mkv"}));
    Write("d.mkv", 4000);
    Write("e.mkv", 0);
    Relist();
    EXPECT_EQ(Names(), (std::vector<std::string>{"d.mkv", "b.mkv", "c.mkv", "a.mkv", "e.mkv"}));
    // Asking again for the order the rows are in changes nothing; another order sorts.
    EXPECT_EQ(root->sortFilesUsingDescriptors({bySize}), root->files());
    root->sortFilesUsingDescriptors({KRASortDescriptor::forColumn(QStringLiteral("Name"))});
    EXPECT_EQ(Names(), (std::vector<std::string>{"a.mkv", "b.mkv", "c.mkv", "d.mkv", "e.mkv"}));
}

TEST_F(FolderListing, InformationArrivingLaterKeepsTheListedSizeAndDate)
{
    if (ProgramOnPath("ffmpeg").empty() || ProgramOnPath("ffprobe").empty())
        GTEST_SKIP() << "ffmpeg and ffprobe are needed";
    const TestStoreScope store;
    ASSERT_TRUE(MakeTestVideo(dir.file("top/clip.mkv"), "160x120", "25", "1"));
    struct stat listed {};
    ASSERT_EQ(stat(dir.file("top/clip.mkv").c_str(), &listed), 0);
    root->globals()->loadInfoForColumns = true;
    ASSERT_TRUE(LoadFiles(root));
    const clFileListEntryRef row = Row("clip.mkv");
    ASSERT_TRUE(row);
    EXPECT_FALSE(row->info());
    // Grown after the listing: the information is delivered on this thread only from now on,
    // and what it brings must not come with a new look at the disk.
    std::ofstream(dir.file("top/clip.mkv"), std::ios::app) << std::string(4096, '\0');
    SetTimes(dir.file("top/clip.mkv"), 1000000000, 1000000000);
    ASSERT_TRUE(RunMainUntil([&] { return row->info() != nullptr; }));
    EXPECT_FALSE(row->attribByName(QStringLiteral("Length")).isEmpty());
    EXPECT_EQ(row->size(), static_cast<uint64_t>(listed.st_size));
    EXPECT_EQ(row->dateModified().toSecsSinceEpoch(), listed.st_mtim.tv_sec);
}

} // namespace
