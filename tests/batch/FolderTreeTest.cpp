// The batch converter's folder tree: ticks and their propagation, selection data, collecting
// the ticked files, and the workers' results meeting a tree that changes or goes away.
#include "batch/BatchTestSupport.h"
#include "batch/KRABatchConverterProfile.h"
#include "common/TestEnv.h"
#include "common/TestStore.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <set>

namespace {

class FolderTree : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* folder : {"top", "top/a", "top/a/deep", "top/b", "top/bad\xff"})
            ASSERT_EQ(mkdir(dir.file(folder).c_str(), 0700), 0);
        for (const char* file : {"top/one.mkv", "top/notes.txt", "top/a/two.mkv", "top/a/three.mkv",
                                 "top/a/deep/four.mkv", "top/b/five.mkv", "top/bad\xff/six.mkv"})
            std::ofstream(dir.file(file)) << "x";
        root = clFolderListEntry::rootForURL(QFileUrl(dir.file("top")), owner);
        root->globals()->loadInfoForColumns = false;
    }

    TestTempDir dir;
    std::shared_ptr<TestTreeOwner> owner = std::make_shared<TestTreeOwner>();
    clFolderListEntryRef root;
};

} // namespace

TEST_F(FolderTree, TicksTravelUpAndDownTheTree)
{
    ASSERT_TRUE(LoadFiles(root));
    EXPECT_EQ(root->files().size(), 1u); // notes.txt is no media
    const auto a = Child(root, "a");
    const auto b = Child(root, "b");
    ASSERT_TRUE(a && b);
    ASSERT_TRUE(LoadFiles(a));
    const auto deep = Child(a, "deep");
    ASSERT_TRUE(deep);

    // A file ticked in a folder whose sub-folder is ticked: the folder has individual
    // ticks; the chain above gains "something below".
    deep->setCheckState(NonRecursive);
    EXPECT_EQ(a->checkState(), SubSelected);
    EXPECT_EQ(root->checkState(), SubSelected);
    a->files()[0]->setChecked(true);
    EXPECT_EQ(a->checkState(), IndivSelected);

    // Unticking the sub-folder keeps the individual tick; unticking that file too returns
    // the folder, and then its parent, to unticked.
    deep->setCheckState(Unchecked);
    EXPECT_EQ(a->checkState(), IndivSelected);
    a->files()[0]->setChecked(false);
    EXPECT_EQ(a->checkState(), Unchecked);
    EXPECT_EQ(root->checkState(), Unchecked);

    // Recursive passes down, also to folders listed later.
    root->setCheckState(Recursive);
    EXPECT_EQ(a->checkState(), Recursive);
    EXPECT_EQ(root->filesCheckState(), 1);
    EXPECT_EQ(Child(a, "deep")->checkState(), Recursive);
    root->setCheckState(Unchecked);
    EXPECT_EQ(b->checkState(), Unchecked);
    EXPECT_EQ(root->checkedFileCount(), 0);

    EXPECT_EQ(clFolderListEntry::nextCheckStateOnClick(Unchecked), Recursive);
    EXPECT_EQ(clFolderListEntry::nextCheckStateOnClick(Recursive), NonRecursive);
    EXPECT_EQ(clFolderListEntry::nextCheckStateOnClick(IndivSelected), Unchecked);

    a->invertFilesCheckState();
    EXPECT_EQ(a->checkedFileCount(), 2);
    EXPECT_EQ(a->checkState(), IndivSelected);
    a->invertFilesCheckState();
    EXPECT_EQ(a->checkState(), Unchecked);
}

TEST_F(FolderTree, ASelectionComesBackExactlyThroughAProfile)
{
    TestStoreScope store;
    TestEnvScope appData("_APPDATA_OVERRIDE", dir.file("app"));
    ASSERT_EQ(mkdir(dir.file("app").c_str(), 0700), 0);
    XSetAppDataFolder(L"MarvoniVideo");

    ASSERT_TRUE(LoadFiles(root));
    const auto a = Child(root, "a");
    const auto bad = Child(root, "bad\xff");
    ASSERT_TRUE(a && bad);
    Child(a, "deep")->setCheckState(Recursive);
    root->files()[0]->setChecked(true); // the root now has individual ticks and a sub-selection
    ASSERT_TRUE(LoadFiles(bad));
    bad->files()[0]->setChecked(true);
    EXPECT_EQ(root->checkState(), IndivSelected);

    QVariantMap selection;
    root->collectSelectionData(selection);
    auto profile = KRABatchConverterProfile::newProfileNamed(QStringLiteral("Odd names"));
    profile->selection = selection;
    ASSERT_TRUE(profile->save()) << profile->lastError().toStdString();
    const auto loaded = KRABatchConverterProfile::profileByName(QStringLiteral("Odd names"));
    EXPECT_TRUE(loaded->lastError().isEmpty());
    EXPECT_EQ(loaded->selection.toMap(), selection);
    EXPECT_TRUE(loaded->selection.toMap().contains(QPath(dir.file("top/bad\xff/six.mkv"))));

    // A new tree unfolds the same ticks as its folders are opened.
    owner->selection = loaded->selection;
    auto again = clFolderListEntry::rootForURL(QFileUrl(dir.file("top")), owner);
    again->globals()->loadInfoForColumns = false;
    again->applySelectionData(owner->selection);
    ASSERT_TRUE(LoadFiles(again));
    const auto deep = Child(Child(again, "a"), "deep");
    EXPECT_EQ(again->checkState(), IndivSelected);
    EXPECT_EQ(Child(again, "a")->checkState(), SubSelected);
    EXPECT_EQ(deep->checkState(), Recursive);
    // Saved again before every folder was opened: nothing is lost.
    QVariantMap back;
    again->collectSelectionData(back, owner->selection.toMap());
    EXPECT_EQ(back, selection);
}

TEST_F(FolderTree, ASelectionReplacesEveryTickBelowWhereItIsApplied)
{
    ASSERT_TRUE(LoadFiles(root));
    const auto a = Child(root, "a");
    ASSERT_TRUE(LoadFiles(a));
    const auto deep = Child(a, "deep");
    ASSERT_TRUE(LoadFiles(deep));
    deep->setCheckState(Recursive);
    Child(root, "b")->setCheckState(NonRecursive);
    a->files()[0]->setChecked(true);

    // A profile without ticks: nothing is left ticked at any depth, and only what is ticked
    // afterwards is collected.
    root->applySelectionData(QVariant());
    for (const auto& node : {root, a, deep, Child(root, "b")}) {
        EXPECT_EQ(node->checkState(), Unchecked) << node->path().toStdString();
        EXPECT_EQ(node->checkedFileCount(), 0) << node->path().toStdString();
    }
    EXPECT_FALSE(deep->files()[0]->checked());
    root->files()[0]->setChecked(true);
    EXPECT_EQ(CollectPaths({root}), std::vector<std::string>{dir.file("top/one.mkv")});

    // A folder ticked as a whole ticks all its files, whatever the data lists of them, and
    // what lies below a folder the data does not tick is unticked.
    deep->setCheckState(Recursive);
    root->applySelectionData(QVariantMap{{QPath(dir.file("top")), QStringLiteral("SubSelected")},
                                         {QPath(dir.file("top/a")), QStringLiteral("NonRecursive")}});
    EXPECT_EQ(a->checkedFileCount(), 2);
    EXPECT_EQ(deep->checkState(), Unchecked);
    EXPECT_FALSE(root->files()[0]->checked());
    EXPECT_EQ(CollectPaths({root}), (std::vector<std::string>{dir.file("top/a/three.mkv"), dir.file("top/a/two.mkv")}));

    // Below an unticked folder, a folder listed later stays unticked whatever old data says.
    owner->selection = QVariantMap{{QPath(dir.file("top/b/late")), QStringLiteral("Recursive")}};
    ASSERT_EQ(mkdir(dir.file("top/b/late").c_str(), 0700), 0);
    const auto late = Child(Child(root, "b"), "late");
    ASSERT_TRUE(late);
    EXPECT_EQ(late->checkState(), Unchecked);
}

TEST_F(FolderTree, TicksOfWhatLeftTheDiskGoWithIt)
{
    ASSERT_TRUE(LoadFiles(root));
    const auto a = Child(root, "a");
    const auto b = Child(root, "b");
    ASSERT_TRUE(LoadFiles(a));
    a->files()[1]->setChecked(true); // two.mkv
    b->setCheckState(Recursive);
    owner->selection = [&] {
        QVariantMap data;
        root->collectSelectionData(data);
        return data;
    }();
    ASSERT_TRUE(owner->selection.toMap().contains(QPath(dir.file("top/a/two.mkv"))));
    EXPECT_EQ(root->checkState(), SubSelected);

    // The ticked file goes: its folder, and then the root, are unticked where nothing else
    // was; made again, it comes back unticked.
    ASSERT_EQ(unlink(dir.file("top/a/two.mkv").c_str()), 0);
    a->beginRefresh();
    ASSERT_TRUE(RunMainUntil([&] { return !a->isWorking() && a->files().size() == 1; }));
    EXPECT_EQ(a->checkState(), Unchecked);
    EXPECT_FALSE(owner->selection.toMap().contains(QPath(dir.file("top/a/two.mkv"))));
    std::ofstream(dir.file("top/a/two.mkv")) << "x";
    a->beginRefresh();
    ASSERT_TRUE(RunMainUntil([&] { return !a->isWorking() && a->files().size() == 2; }));
    EXPECT_EQ(a->checkedFileCount(), 0);

    // The ticked folder goes: so do its ticks; made again, it is unticked.
    std::filesystem::remove_all(dir.file("top/b"));
    root->beginRefresh();
    ASSERT_TRUE(RunMainUntil([&] { return !root->isWorking() && !root->subFolderAt(QStringLiteral("b")); }));
    EXPECT_EQ(root->checkState(), Unchecked);
    EXPECT_FALSE(owner->selection.toMap().contains(QPath(dir.file("top/b"))));
    ASSERT_EQ(mkdir(dir.file("top/b").c_str(), 0700), 0);
    root->beginRefresh();
    ASSERT_TRUE(RunMainUntil([&] { return !root->isWorking() && root->subFolderAt(QStringLiteral("b")); }));
    EXPECT_EQ(root->subFolderAt(QStringLiteral("b"))->checkState(), Unchecked);

    // A folder whose own path is gone lists nothing any more; one that cannot be read for
    // another reason keeps what it showed.
    const auto deep = Child(a, "deep");
    ASSERT_TRUE(LoadFiles(deep));
    std::filesystem::remove_all(dir.file("top/a/deep"));
    deep->beginRefresh();
    ASSERT_TRUE(RunMainUntil([&] { return !deep->isWorking() && deep->files().empty(); }));
    EXPECT_FALSE(deep->accessError().isEmpty());
    if (geteuid() != 0) {
        ASSERT_EQ(chmod(dir.file("top/a").c_str(), 0), 0);
        a->beginRefresh();
        ASSERT_TRUE(RunMainUntil([&] { return !a->isWorking() && !a->accessError().isEmpty(); }));
        EXPECT_EQ(a->files().size(), 2u);
        chmod(dir.file("top/a").c_str(), 0700);
    }
}

TEST_F(FolderTree, AChangeDuringALoadIsListedAfterIt)
{
    ASSERT_TRUE(LoadFiles(root));
    root->beginRefresh();
    ASSERT_TRUE(root->isWorking());
    std::ofstream(dir.file("top/late.mkv")) << "x";
    root->beginRefresh(); // the load running may have read the folder already
    ASSERT_TRUE(RunMainUntil([&] { return !root->isWorking() && root->files().size() == 2; }));
}

TEST_F(FolderTree, CollectsDepthFirstEachRealFolderOnce)
{
    // A link to "/", a link back up, and a folder that vanishes after it was listed.
    ASSERT_EQ(symlink("/", dir.file("top/a/root").c_str()), 0);
    ASSERT_EQ(symlink(dir.file("top").c_str(), dir.file("top/b/up").c_str()), 0);
    ASSERT_EQ(mkdir(dir.file("top/gone").c_str(), 0700), 0);
    ASSERT_TRUE(LoadFiles(root));
    const auto gone = Child(root, "gone");
    ASSERT_TRUE(gone);
    ASSERT_EQ(rmdir(dir.file("top/gone").c_str()), 0);
    root->setCheckState(Recursive);
    Child(root, "b")->setCheckState(Unchecked);

    const std::vector<std::string> expected{dir.file("top/one.mkv"), dir.file("top/a/three.mkv"),
                                            dir.file("top/a/two.mkv"), dir.file("top/a/deep/four.mkv"),
                                            dir.file("top/bad\xff/six.mkv")};
    EXPECT_EQ(CollectPaths({root}), expected);

    // The same folders reached through a second root count once.
    auto second = clFolderListEntry::rootForURL(QFileUrl(dir.file("top/a")), owner);
    second->setCheckState(Recursive);
    EXPECT_EQ(CollectPaths({root, second}), expected);
}

TEST_F(FolderTree, LateResultsForAGoneTreeAreDroppedWhileTicksChange)
{
    constexpr int kFolders = 20, kFiles = 500; // 10,000 files
    for (int f = 0; f < kFolders; ++f) {
        const std::string folder = dir.file("top/b/f" + std::to_string(f));
        ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
        for (int i = 0; i < kFiles; ++i)
            std::ofstream(folder + "/clip" + std::to_string(i) + ".mkv");
    }
    ASSERT_TRUE(LoadFiles(root));
    const auto b = Child(root, "b");
    ASSERT_TRUE(LoadFiles(b));
    for (const auto& child : b->folders())
        child->wantFiles();
    root->setCheckState(Recursive);

    struct Sink : KRACollectSink {
        std::atomic<bool> stop{false};
        std::atomic<int> count{0};
        bool aborting() const override { return stop; }
        void addFile(const clFileListEntryRef&) override { ++count; }
    };
    auto sink = std::make_shared<Sink>();
    std::atomic<bool> done{false};
    std::thread worker([sink, tree = root, &done] {
        tree->collectCheckedFiles(*sink);
        done = true;
    });
    // The main thread keeps ticking and unticking, and takes the workers' deliveries.
    for (int round = 0; round < 200 && !done; ++round) {
        XMainQueue::Shared().RunPending();
        b->setCheckState(round % 2 ? Recursive : Unchecked);
        for (const auto& child : b->folders())
            if (child->filesLoaded())
                child->invertFilesCheckState();
    }
    sink->stop = true;
    root.reset(); // the window closes: the tree goes while the worker may still hold parts of it
    worker.join();
    RunMainUntil([] { return XMainQueue::Shared().RunPending() == 0; });
    EXPECT_LE(sink->count, kFolders * kFiles + 5);
}

TEST_F(FolderTree, FiltersByTypeAndAge)
{
    owner->fileFilter->setFilterMeta(QStringLiteral("File Types"), QSet<QString>{QStringLiteral(".MKV")});
    ASSERT_TRUE(LoadFiles(root));
    EXPECT_TRUE(root->files().empty());

    owner->fileFilter = std::make_shared<KRAFileFilter>();
    owner->fileFilter->setFilterMeta(QStringLiteral("Date"), QSet<QString>{QStringLiteral("3")});
    const std::string old = dir.file("top/old.mkv");
    std::ofstream(old) << "x";
    const timespec times[2] = {{1000000000, 0}, {1000000000, 0}}; // 2001
    ASSERT_EQ(utimensat(AT_FDCWD, old.c_str(), times, 0), 0);
    root->beginRefresh();
    ASSERT_TRUE(RunMainUntil([&] { return !root->isWorking() && root->files().size() == 1; }));
    EXPECT_EQ(root->files()[0]->name(), QStringLiteral("one.mkv"));
    EXPECT_FALSE(owner->fileFilter->needsInfo()); // the age comes from the listing, not ffprobe
}

TEST_F(FolderTree, RowsSortByRawValuesAndRootsFollowTheEnvironment)
{
    std::ofstream(dir.file("top/big.mkv")) << std::string(2048, 'x');
    ASSERT_TRUE(LoadFiles(root));
    auto files = root->sortFilesUsingDescriptors({KRASortDescriptor::forColumn(QStringLiteral("Size"))});
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0]->name(), QStringLiteral("one.mkv")); // 1 byte before 2048, not "1 byte" after "2 KB"
    EXPECT_EQ(files[1]->attribByName(QStringLiteral("Size"), true).toULongLong(), 2048u);
    EXPECT_TRUE(files[0]->attribByName(QStringLiteral("Frame Rate")).isEmpty()); // no information read
    EXPECT_EQ(clFileListEntry::formatDate(QDateTime::fromMSecsSinceEpoch(0, Qt::UTC)), QString());
    files[1]->setChecked(true);
    files[1]->refreshWithURL(files[1]->url(), QStringLiteral("Matroska"), nullptr);
    EXPECT_TRUE(files[1]->checked());
    EXPECT_EQ(root->checkState(), IndivSelected);

    auto names = [](const QList<clFolderListEntryRef>& roots) {
        QStringList list;
        for (const auto& entry : roots)
            list << entry->name();
        return list;
    };
    {
        TestEnvScope user("USER", "anna");
        EXPECT_TRUE(names(clFolderListEntry::rootFoldersWithOwner(owner)).contains(QStringLiteral("anna's Home")));
    }
    TestEnvScope noUser("USER", nullptr);
    const QStringList without = names(clFolderListEntry::rootFoldersWithOwner(owner));
    EXPECT_EQ(without.value(0), QStringLiteral("Computer"));
}

namespace {

using Random = std::mt19937;

size_t Pick(Random& random, size_t n)
{
    return static_cast<size_t>(random() % std::max<size_t>(n, 1));
}

// Up to four files (every third no media) and four sub-folders a level, three levels deep.
void MakeRandomTree(Random& random, const std::string& folder, int depth = 0)
{
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    for (size_t i = 0, n = Pick(random, 4); i < n; ++i)
        std::ofstream(folder + "/c" + std::to_string(i) + (i % 3 == 2 ? ".txt" : ".mkv")) << "x";
    if (depth < 3)
        for (size_t i = 0, n = Pick(random, 4); i < n; ++i)
            MakeRandomTree(random, folder + "/d" + std::to_string(i), depth + 1);
}

// A tree over the folder for its own owner, nothing read yet.
clFolderListEntryRef NewTree(const std::string& folder, const std::shared_ptr<TestTreeOwner>& owner)
{
    auto root = clFolderListEntry::rootForURL(QFileUrl(folder), owner);
    root->globals()->loadInfoForColumns = false;
    return root;
}

// Random clicks on folders and files, opening folders on the way; the folders opened.
std::vector<clFolderListEntryRef> RandomClicks(Random& random, const clFolderListEntryRef& root, int steps)
{
    std::vector<clFolderListEntryRef> opened{root};
    EXPECT_TRUE(LoadFiles(root));
    for (int step = 0; step < steps; ++step) {
        const clFolderListEntryRef node = opened[Pick(random, opened.size())];
        const std::vector<clFolderListEntryRef> children = node->folders();
        const std::vector<clFileListEntryRef> files = node->files();
        switch (Pick(random, 3)) {
        case 0:
            if (!children.empty()) {
                const clFolderListEntryRef child = children[Pick(random, children.size())];
                EXPECT_TRUE(LoadFiles(child));
                opened.push_back(child);
            }
            break;
        case 1:
            node->setCheckState(clFolderListEntry::nextCheckStateOnClick(node->checkState()));
            break;
        default:
            if (!files.empty()) {
                const clFileListEntryRef file = files[Pick(random, files.size())];
                file->setChecked(!file->checked());
            }
        }
    }
    return opened;
}

QVariantMap SelectionOf(const clFolderListEntryRef& root, const QVariantMap& previous = {})
{
    QVariantMap data;
    root->collectSelectionData(data, previous);
    return data;
}

class SelectionProperty : public ::testing::Test {
protected:
    void SetUp() override { XSetAppDataFolder(L"MarvoniVideo"); }

    TestTempDir app;
    TestStoreScope store;
    TestEnvScope appData{"_APPDATA_OVERRIDE", app.path()};
    Random random{20261209};
};

} // namespace

// Random trees, random ticks: what a saved selection collects after a load is what the tree
// collected when it was saved, however much of either tree was ever opened.
TEST_F(SelectionProperty, RandomTicksSavedAndLoadedCollectTheSameFiles)
{
    for (int trial = 0; trial < 25; ++trial) {
        TestTempDir dir;
        MakeRandomTree(random, dir.file("t"));
        auto owner = std::make_shared<TestTreeOwner>();
        auto root = NewTree(dir.file("t"), owner);
        RandomClicks(random, root, 12);
        const std::vector<std::string> expected = CollectPaths({root});

        const QVariantMap selection = SelectionOf(root);
        auto profile = KRABatchConverterProfile::newProfileNamed(QStringLiteral("random"));
        profile->selection = selection;
        ASSERT_TRUE(profile->save());
        auto loaded = KRABatchConverterProfile::profileByName(QStringLiteral("random"));
        ASSERT_EQ(loaded->selection.toMap(), selection);

        auto owner2 = std::make_shared<TestTreeOwner>();
        owner2->selection = loaded->selection;
        auto again = NewTree(dir.file("t"), owner2);
        again->applySelectionData(owner2->selection);
        EXPECT_EQ(CollectPaths({again}), expected) << "trial " << trial << " (nothing opened)";
        // Open some folders of the new tree: the same again, and saving it loses nothing.
        std::vector<clFolderListEntryRef> queue{again};
        for (size_t i = 0; i < queue.size() && i < 6; ++i) {
            ASSERT_TRUE(LoadFiles(queue[i]));
            for (const auto& child : queue[i]->folders())
                queue.push_back(child);
        }
        EXPECT_EQ(CollectPaths({again}), expected) << "trial " << trial << " (partly opened)";
        const QVariantMap back = SelectionOf(again, selection);
        auto owner3 = std::make_shared<TestTreeOwner>();
        owner3->selection = back;
        auto third = NewTree(dir.file("t"), owner3);
        third->applySelectionData(back);
        EXPECT_EQ(CollectPaths({third}), expected) << "trial " << trial << " (saved again)";
    }
}

// A selection applied onto a tree the user has ticked already replaces every tick at every
// depth: the tree then collects what the selection's own tree did, and the empty selection
// leaves nothing ticked anywhere.
TEST_F(SelectionProperty, SelectionsAppliedOntoTickedTreesReplaceEveryTick)
{
    for (int trial = 0; trial < 25; ++trial) {
        TestTempDir dir;
        MakeRandomTree(random, dir.file("t"));
        auto owner = std::make_shared<TestTreeOwner>();
        auto source = NewTree(dir.file("t"), owner);
        RandomClicks(random, source, 12);
        const std::vector<std::string> expected = CollectPaths({source});
        const QVariantMap selection = SelectionOf(source);

        auto target = std::make_shared<TestTreeOwner>();
        auto tree = NewTree(dir.file("t"), target);
        std::vector<clFolderListEntryRef> opened = RandomClicks(random, tree, 16);
        target->selection = selection;
        tree->applySelectionData(selection);
        EXPECT_EQ(CollectPaths({tree}), expected) << "trial " << trial;
        // Opening more of it changes nothing, and saving it gives the same files back.
        for (const auto& node : opened)
            for (const auto& child : node->folders())
                ASSERT_TRUE(LoadFiles(child));
        EXPECT_EQ(CollectPaths({tree}), expected) << "trial " << trial << " (opened further)";
        const QVariantMap back = SelectionOf(tree, selection);
        auto fresh = std::make_shared<TestTreeOwner>();
        fresh->selection = back;
        auto third = NewTree(dir.file("t"), fresh);
        third->applySelectionData(back);
        EXPECT_EQ(CollectPaths({third}), expected) << "trial " << trial << " (saved again)";

        target->selection = QVariant();
        tree->applySelectionData(QVariant());
        EXPECT_EQ(CollectPaths({tree}), std::vector<std::string>{}) << "trial " << trial;
        std::function<void(const clFolderListEntryRef&)> untouched = [&](const clFolderListEntryRef& node) {
            EXPECT_EQ(node->checkState(), Unchecked) << node->path().toStdString();
            EXPECT_EQ(node->checkedFileCount(), 0) << node->path().toStdString();
            for (const auto& file : node->files())
                EXPECT_FALSE(file->checked()) << file->path().toStdString();
            for (const auto& child : node->folders())
                untouched(child);
        };
        untouched(tree);
    }
}

// Files deleted behind the tree's back are never handed over, and are named as missing; the
// files handed over are ticked wherever the tree shows them.
TEST_F(SelectionProperty, TheCollectionNeverHandsOverAnUntickedOrMissingFile)
{
    for (int trial = 0; trial < 25; ++trial) {
        TestTempDir dir;
        MakeRandomTree(random, dir.file("t"));
        auto owner = std::make_shared<TestTreeOwner>();
        auto root = NewTree(dir.file("t"), owner);
        RandomClicks(random, root, 14);
        const std::vector<std::string> before = CollectPaths({root});
        std::set<std::string> deleted;
        for (const std::string& path : before)
            if (Pick(random, 3) == 0 && unlink(path.c_str()) == 0)
                deleted.insert(path);
        std::vector<std::string> missing;
        const std::vector<std::string> after = CollectPaths({root}, &missing);
        std::vector<std::string> expected;
        for (const std::string& path : before)
            if (!deleted.count(path))
                expected.push_back(path);
        EXPECT_EQ(after, expected) << "trial " << trial;
        for (const std::string& path : missing)
            EXPECT_TRUE(deleted.count(path)) << path;
        // A handed-over file of a folder the tree has listed is a ticked row there.
        for (const std::string& path : after) {
            const QString file = QPath(path);
            clFolderListEntryRef node = root;
            QStringList names = file.mid(root->path().size() + 1).split(QLatin1Char('/'), Qt::SkipEmptyParts);
            names.removeLast();
            for (const QString& name : names) {
                if (!node)
                    break;
                node = node->hasListing() ? node->subFolderAt(name) : nullptr;
            }
            if (!node || !node->filesLoaded())
                continue;
            const auto files = node->files();
            const auto row = std::find_if(files.begin(), files.end(), [&](const auto& f) { return f->path() == file; });
            ASSERT_NE(row, files.end()) << path;
            EXPECT_TRUE((*row)->checked()) << path;
        }
    }
}

TEST_F(FolderTree, EachStateHasAPictureOfItsOwn)
{
    const folderStateImageHelper& images = root->globals()->images();
    QList<QImage> seen;
    for (int state = Recursive; state <= Checked; ++state) {
        const QImage picture = images.checkBoxImageForState(state);
        ASSERT_FALSE(picture.isNull()) << clFolderListEntry::imageNameForState(state).toStdString();
        for (const QImage& other : seen)
            EXPECT_NE(picture, other) << state;
        seen << picture;
    }
    for (const int outside : {-1, 6, 1000})
        EXPECT_TRUE(images.checkBoxImageForState(outside).isNull()) << outside;

    // The entry's picture follows its state.
    EXPECT_EQ(root->checkImage(), images.checkBoxImageForState(Unchecked));
    root->setCheckState(Recursive);
    EXPECT_EQ(root->checkImage(), images.checkBoxImageForState(Recursive));
}
