// The batch converter window offscreen, over folder trees made by the tests: batch profiles
// made, copied, renamed and deleted through the pop-up and its name sheet, what choosing a
// profile does to the ticks and the filters, profiles that cannot be loaded, and the tree and
// the table following the disk while the window is open.
#include "batch/BatchTestSupport.h"
#include "batch/KRABatchConverterProfile.h"
#include "batch/ui/KRABatchConvertDialog.h"
#include "batch/ui/KRABatchFileListDialog.h"
#include "common/QtWait.h"
#include "common/TestEnv.h"
#include "common/TestPanelHost.h"
#include "common/TestStore.h"
#include "platform/XQtMainThreadPoster.h"
#include "setup/KRAProfileDialogs.h"
#include "xclass/XEnvironment.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;

void Touch(const std::string& path)
{
    std::ofstream(path) << "x";
}

// A host with a real (offscreen) window, so that sheets and alerts have a parent.
class WindowHost : public TestPanelHost {
public:
    WindowHost() { window.resize(1000, 600); }
    QWidget* mainWindow() override { return &window; }
    QWidget window;
};

// Records what the batch converter hands on.
class RecordingDelegate : public QKAppDelegateMethods {
public:
    void preConvertFrom(const QList<QUrl>& files, const std::shared_ptr<KRAPanelHostInterface>&,
                        const std::shared_ptr<KRAPanel>&) override
    {
        converted << files;
        ++conversions;
    }
    void beginConcatenate(const QList<QUrl>&, const std::shared_ptr<KRAPanelHostInterface>&,
                          const std::shared_ptr<KRAPanel>&) override
    {
    }
    QList<QUrl> converted;
    int conversions = 0;
};

class BatchWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(mkdir(dir.file("app").c_str(), 0700), 0);
        XSetAppDataFolder(L"MarvoniVideo");
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(dir.file("conf")));
        QCoreApplication::setOrganizationName(QStringLiteral("BrantokTests"));
        QCoreApplication::setApplicationName(QStringLiteral("batch_tests"));
        QSettings().clear();
        QKAppDelegateMethods::setShared(&delegate);
        root = dir.file("t");
        for (const char* folder : {"t", "t/a", "t/a/b", "t/c"})
            ASSERT_EQ(mkdir(dir.file(folder).c_str(), 0700), 0);
        for (const char* file : {"t/top.mkv", "t/a/mid.mkv", "t/a/b/deep.mkv", "t/c/side.mov"})
            Touch(dir.file(file));
    }
    void TearDown() override
    {
        dialog.reset();
        host.reset();
        QCoreApplication::processEvents();
        QKAppDelegateMethods::setShared(nullptr);
    }

    // The window over the tree, its root selected and its files listed.
    void Open()
    {
        host = std::make_shared<WindowHost>();
        dialog = KRABatchConvertDialog::create(host, std::nullopt, {{QFileUrl(root), QStringLiteral("Test")}});
        host->setCurrentPanel(dialog);
        host->window.show();
        dialog->view()->setParent(&host->window);
        dialog->view()->show();
        for (const auto& folder : dialog->rootFolders())
            folder->globals()->loadInfoForColumns = false;
        dialog->selectThisFolder(dialog->rootFolders().first());
        ASSERT_TRUE(WaitFor([&] {
            return !dialog->isSelecting() && dialog->currentFolder() && dialog->currentFolder()->filesLoaded();
        }));
    }

    clFolderListEntryRef Folder(const std::string& relative)
    {
        clFolderListEntryRef folder = dialog->rootFolders().first();
        for (const QString& name : QString::fromStdString(relative).split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
            folder->getFoldersSynchronously(60000);
            folder = folder->subFolderAt(name);
            if (!folder)
                return nullptr;
        }
        return folder;
    }

    // Ticked files as Convert collects them (through the grabber), as paths below the tree.
    std::vector<std::string> Converted()
    {
        delegate.converted.clear();
        const int before = delegate.conversions;
        dialog->onButtonConvert();
        if (!WaitFor([&] { return delegate.conversions > before || host->currentPanel() == dialog; }))
            return {"(no answer)"};
        std::vector<std::string> paths;
        for (const QUrl& url : delegate.converted)
            paths.push_back(XPathFromFileURL(url).ToUTF8String().substr(root.size() + 1));
        return paths;
    }

    std::string Profiles() { return XStrFromQString(KRABatchConverterProfile::profilesFolder()).ToUTF8String(); }
    std::string ProfileFile(const char* name)
    {
        return XStrFromQString(KRABatchConverterProfile::profilePath(QString::fromLatin1(name))).ToUTF8String();
    }

    // Choosing Create Profile and answering its sheet.
    KRAChooseProfileName* OpenNameSheet()
    {
        dialog->onProfileSelected(QString::fromLatin1(KRABatchConvertDialog::kCreateProfile));
        auto* sheet = host->window.findChild<KRAChooseProfileName*>();
        return sheet && sheet->isVisible() ? sheet : nullptr;
    }
    bool CreateThroughSheet(const QString& name, bool copy, bool ticks)
    {
        KRAChooseProfileName* sheet = OpenNameSheet();
        if (!sheet)
            return false;
        sheet->edit()->setText(name);
        sheet->copyCurrentBox()->setChecked(copy);
        sheet->saveSelectionBox()->setChecked(ticks);
        if (!sheet->buttonOK()->isEnabled())
            return false;
        sheet->buttonOK()->click();
        return WaitFor([&] { return !host->window.findChild<KRAChooseProfileName*>(); });
    }
    void AnswerYes()
    {
        for (QMessageBox* box : host->window.findChildren<QMessageBox*>())
            if (box->isVisible() && box->button(QMessageBox::Yes))
                box->button(QMessageBox::Yes)->click();
        QCoreApplication::processEvents();
    }
    void ChooseFilters(const QStringList& excluded)
    {
        KRAFileFilter filter;
        filter.setFilterMeta(QStringLiteral("File Types"), QSet<QString>(excluded.begin(), excluded.end()));
        dialog->returnFromFiltersDialog(filter, 1);
    }

    TestTempDir dir;
    TestStoreScope store;
    TestEnvScope appData{"_APPDATA_OVERRIDE", dir.file("app")};
    XQtMainThreadPosterScope poster;
    RecordingDelegate delegate;
    std::string root;
    std::shared_ptr<WindowHost> host;
    std::shared_ptr<KRABatchConvertDialog> dialog;
};

std::vector<std::string> Sorted(std::vector<std::string> paths)
{
    std::sort(paths.begin(), paths.end());
    return paths;
}

} // namespace

TEST_F(BatchWindow, ChoosingAProfileWithoutTicksUnticksEveryDepth)
{
    auto empty = KRABatchConverterProfile::newProfileNamed(QStringLiteral("Empty"));
    ASSERT_TRUE(empty->save());
    Open();
    const auto a = Folder("a"), b = Folder("a/b");
    ASSERT_TRUE(a && b);
    b->wantFiles();
    ASSERT_TRUE(WaitFor([&] { return b->filesLoaded(); }));
    dialog->setFolderCheck(b, Recursive);
    EXPECT_EQ(Converted(), std::vector<std::string>{"a/b/deep.mkv"});

    dialog->onProfileSelected(QStringLiteral("Empty"));
    for (const auto& folder : {dialog->rootFolders().first(), a, b})
        EXPECT_EQ(folder->checkState(), Unchecked) << folder->path().toStdString();
    EXPECT_FALSE(b->files().front()->checked());
    // Only the file ticked afterwards goes.
    dialog->currentFiles().front()->setChecked(true);
    EXPECT_EQ(Converted(), std::vector<std::string>{"top.mkv"});

    // Deleting the current profile clears every tick too, at every depth.
    dialog->setFolderCheck(b, Recursive);
    dialog->deleteCurrentProfile();
    EXPECT_FALSE(fs::exists(ProfileFile("Empty")));
    EXPECT_EQ(b->checkState(), Unchecked);
    EXPECT_EQ(a->checkState(), Unchecked);
    EXPECT_EQ(dialog->profilePopup()->currentText(), QString::fromLatin1(KRABatchConvertDialog::kNoneSelected));
    dialog->onButtonConvert();
    EXPECT_EQ(delegate.conversions, 2);
}

TEST_F(BatchWindow, ProfilesAreMadeCopiedRenamedAndDeletedThroughTheWindow)
{
    Open();
    const auto c = Folder("c");
    ASSERT_TRUE(c);
    dialog->setFolderCheck(c, Recursive);
    ChooseFilters({QStringLiteral(".MKV")});
    EXPECT_EQ(dialog->filtersButton()->text(), QStringLiteral("&Filters (on)..."));

    // The sheet refuses names it cannot keep as one file, and says why.
    KRAChooseProfileName* sheet = OpenNameSheet();
    ASSERT_TRUE(sheet);
    EXPECT_TRUE(sheet->saveSelectionBox()->isChecked());
    EXPECT_FALSE(sheet->copyCurrentBox()->isChecked());
    for (const char* bad : {"Holiday/2026", "", ".hidden", "(none selected)", "Create Profile"}) {
        sheet->edit()->setText(QString::fromLatin1(bad));
        EXPECT_FALSE(sheet->buttonOK()->isEnabled()) << bad;
        EXPECT_FALSE(sheet->refusalLabel()->isHidden()) << bad;
        EXPECT_FALSE(sheet->refusalLabel()->text().isEmpty()) << bad;
    }
    sheet->edit()->setText(QStringLiteral("Holiday/2026"));
    EXPECT_TRUE(sheet->refusalLabel()->text().contains(QLatin1String("\"/\"")));
    sheet->edit()->setText(QString(300, QLatin1Char('x')));
    EXPECT_FALSE(sheet->buttonOK()->isEnabled());
    sheet->reject();
    ASSERT_TRUE(WaitFor([&] { return !host->window.findChild<KRAChooseProfileName*>(); }));
    EXPECT_FALSE(fs::exists(Profiles() + "Holiday"));

    // Made: the filters in force and the ticks go with it, and stay in force.
    ASSERT_TRUE(CreateThroughSheet(QStringLiteral("Movies"), false, true));
    EXPECT_EQ(dialog->profilePopup()->currentText(), QStringLiteral("Movies"));
    EXPECT_EQ(dialog->filtersButton()->text(), QStringLiteral("&Filters (on)..."));
    auto movies = KRABatchConverterProfile::profileByName(QStringLiteral("Movies"));
    EXPECT_EQ(movies->filtersData.value(QStringLiteral("File Types")), QSet<QString>{QStringLiteral(".MKV")});
    EXPECT_EQ(movies->selection.toMap().value(QPath(dir.file("t/c"))), QVariant(QStringLiteral("Recursive")));

    // Copied without the ticks: the filters come along, no selection is written.
    ASSERT_TRUE(CreateThroughSheet(QStringLiteral("Filters only"), true, false));
    auto filtersOnly = KRABatchConverterProfile::profileByName(QStringLiteral("Filters only"));
    EXPECT_FALSE(filtersOnly->saveSelection);
    EXPECT_FALSE(filtersOnly->selection.isValid());
    EXPECT_EQ(filtersOnly->filtersData, movies->filtersData);
    // Ticks left on screen by a profile without ticks are still what Convert takes.
    EXPECT_EQ(c->checkState(), Recursive);
    EXPECT_EQ(Converted(), std::vector<std::string>{"c/side.mov"});

    // Renamed: a copy under the new name, then the old one deleted.
    dialog->onProfileSelected(QStringLiteral("Movies"));
    ASSERT_TRUE(CreateThroughSheet(QStringLiteral("Films"), true, true));
    dialog->onProfileSelected(QStringLiteral("Movies"));
    dialog->onProfileSelected(QString::fromLatin1(KRABatchConvertDialog::kDeleteProfile));
    AnswerYes();
    EXPECT_FALSE(fs::exists(ProfileFile("Movies")));
    EXPECT_FALSE(dialog->profileList().contains(QStringLiteral("Movies")));
    EXPECT_EQ(c->checkState(), Unchecked);
    EXPECT_EQ(dialog->filtersButton()->text(), QStringLiteral("&Filters..."));

    // The renamed profile brings its filters and ticks back.
    dialog->onProfileSelected(QStringLiteral("Films"));
    EXPECT_EQ(dialog->profilePopup()->currentText(), QStringLiteral("Films"));
    EXPECT_EQ(dialog->filtersButton()->text(), QStringLiteral("&Filters (on)..."));
    EXPECT_FALSE(dialog->filter()->testJustURL(QFileUrl(dir.file("t/top.mkv"))));
    EXPECT_EQ(c->checkState(), Recursive);
    EXPECT_EQ(Converted(), std::vector<std::string>{"c/side.mov"});
}

TEST_F(BatchWindow, AProfileWithFiltersAndTicksIsInForceFromTheStart)
{
    auto saved = KRABatchConverterProfile::newProfileNamed(QStringLiteral("Saved"));
    saved->filtersData.insert(QStringLiteral("File Types"), {QStringLiteral(".MOV")});
    saved->filtersData.insert(QStringLiteral("Future Filter"), {QStringLiteral("kept")});
    saved->selection = QVariantMap{{QPath(root), QStringLiteral("SubSelected")},
                                   {QPath(dir.file("t/a")), QStringLiteral("Recursive")}};
    ASSERT_TRUE(saved->save());
    QSettings().setValue(QString::fromLatin1(KRABatchConvertDialog::kProfileKey), QStringLiteral("Saved"));
    Open();
    EXPECT_EQ(dialog->profilePopup()->currentText(), QStringLiteral("Saved"));
    EXPECT_EQ(dialog->filtersButton()->text(), QStringLiteral("&Filters (on)..."));
    EXPECT_EQ(dialog->rootFolders().first()->checkState(), SubSelected);
    EXPECT_EQ(Sorted(Converted()), (std::vector<std::string>{"a/b/deep.mkv", "a/mid.mkv"}));

    // Saved again, the profile keeps what it holds, the filter this build does not know too.
    dialog->onProfileSelected(QString::fromLatin1(KRABatchConvertDialog::kNoneSelected));
    auto back = KRABatchConverterProfile::profileByName(QStringLiteral("Saved"));
    EXPECT_EQ(back->filtersData, saved->filtersData);
    EXPECT_EQ(back->selection.toMap().value(QPath(dir.file("t/a"))), QVariant(QStringLiteral("Recursive")));
}

TEST_F(BatchWindow, AProfileThatCannotBeLoadedSaysSoAndIsNotUsed)
{
    // Left by an older build that kept "/" in names, a damaged file, and a FIFO.
    fs::create_directories(Profiles() + "Holiday");
    std::ofstream(Profiles() + "Holiday/2026.txt") << R"({"filters":{},"saveSelection":1})";
    std::ofstream(ProfileFile("Damaged")) << "{\"filters\": [";
    ASSERT_EQ(mkfifo(ProfileFile("Pipe").c_str(), 0600), 0);
    auto good = KRABatchConverterProfile::newProfileNamed(QStringLiteral("Good"));
    good->filtersData.insert(QStringLiteral("File Types"), {QStringLiteral(".MOV")});
    ASSERT_TRUE(good->save());
    QSettings().setValue(QString::fromLatin1(KRABatchConvertDialog::kProfileKey), QStringLiteral("Holiday/2026"));
    Open();
    // The name the window was left with cannot be loaded: it says so and uses no profile.
    ASSERT_TRUE(WaitFor([&] { return !dialog->lastProblem().isEmpty(); }));
    EXPECT_TRUE(dialog->lastProblem().contains(QLatin1String("Holiday/2026")));
    EXPECT_EQ(dialog->profilePopup()->currentText(), QString::fromLatin1(KRABatchConvertDialog::kNoneSelected));
    EXPECT_FALSE(dialog->currentProfileName());

    dialog->onProfileSelected(QStringLiteral("Good"));
    ASSERT_EQ(dialog->currentProfileName(), QStringLiteral("Good"));
    for (const char* name : {"Holiday", "Damaged", "Pipe"}) {
        ASSERT_TRUE(dialog->profileList().contains(QString::fromLatin1(name))) << name;
        const QString before = dialog->lastProblem();
        dialog->onProfileSelected(QString::fromLatin1(name));
        EXPECT_NE(dialog->lastProblem(), before) << name;
        EXPECT_TRUE(dialog->lastProblem().contains(QString::fromLatin1(name))) << name;
        EXPECT_EQ(dialog->currentProfileName(), QStringLiteral("Good")) << name;
        EXPECT_EQ(dialog->profilePopup()->currentText(), QStringLiteral("Good")) << name;
        EXPECT_EQ(dialog->filtersButton()->text(), QStringLiteral("&Filters (on)..."));
    }
    // Nothing was written over the damaged file.
    std::ifstream damaged(ProfileFile("Damaged"));
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(damaged), {}), "{\"filters\": [");
}

TEST_F(BatchWindow, TheTreeAndTheTableFollowTheDisk)
{
    Open();
    const auto a = Folder("a");
    ASSERT_TRUE(a);
    dialog->setFolderCheck(a, NonRecursive);
    dialog->selectThisFolder(a);
    ASSERT_TRUE(WaitFor([&] { return dialog->currentFolder() == a && a->filesLoaded(); }));
    auto shown = [&] {
        std::vector<std::string> names;
        for (const auto& file : dialog->currentFiles())
            names.push_back(file->name().toStdString());
        return Sorted(names);
    };
    ASSERT_EQ(shown(), std::vector<std::string>{"mid.mkv"});

    // Files added and removed while the window is open.
    Touch(dir.file("t/a/new.mkv"));
    ASSERT_TRUE(WaitFor([&] { return shown() == std::vector<std::string>{"mid.mkv", "new.mkv"}; }));
    EXPECT_TRUE(dialog->currentFiles().back()->checked()); // a folder ticked as a whole
    fs::remove(dir.file("t/a/mid.mkv"));
    ASSERT_TRUE(WaitFor([&] { return shown() == std::vector<std::string>{"new.mkv"}; }));

    // The folder shown renamed: the tree shows the new name; the table the parent.
    fs::rename(dir.file("t/a"), dir.file("t/a2"));
    ASSERT_TRUE(
        WaitFor([&] { return Folder("a2") && !dialog->rootFolders().first()->subFolderAt(QStringLiteral("a")); }));
    ASSERT_TRUE(WaitFor([&] { return dialog->currentFolder() == dialog->rootFolders().first(); }));
    EXPECT_EQ(Folder("a2")->checkState(), Unchecked);
    EXPECT_EQ(dialog->rootFolders().first()->checkState(), Unchecked); // the ticks went with it
    EXPECT_EQ(Converted(), std::vector<std::string>{});

    // Made again with other files: it comes back unticked, and shows what it holds.
    fs::create_directories(dir.file("t/a"));
    Touch(dir.file("t/a/other.mkv"));
    ASSERT_TRUE(WaitFor([&] { return Folder("a") != nullptr; }));
    const auto again = Folder("a");
    EXPECT_EQ(again->checkState(), Unchecked);
    dialog->selectThisFolder(again);
    ASSERT_TRUE(WaitFor([&] { return shown() == std::vector<std::string>{"other.mkv"}; }));

    // The folder shown deleted and made again faster than the watcher's latency: the same
    // node, listed anew.
    dialog->onFilesCheckAll(true);
    fs::remove_all(dir.file("t/a"));
    fs::create_directories(dir.file("t/a"));
    Touch(dir.file("t/a/third.mkv"));
    ASSERT_TRUE(WaitFor([&] {
        const auto now = dialog->currentFolder();
        return now && now->path() == QPath(dir.file("t/a")) && shown() == std::vector<std::string>{"third.mkv"};
    }));
    EXPECT_FALSE(dialog->currentFiles().front()->checked());
    EXPECT_EQ(Converted(), std::vector<std::string>{}) << "the tick of other.mkv went with the file";
}

TEST_F(BatchWindow, ConvertNamesTheTickedFilesThatAreGoneInOneMessage)
{
    Open();
    for (const char* name : {"t/one.mkv", "t/two.mkv"})
        Touch(dir.file(name));
    dialog->onButtonRefresh();
    ASSERT_TRUE(WaitFor([&] { return dialog->currentFiles().size() == 3; }));
    dialog->onFilesCheckAll(true);
    // Gone faster than the tree can notice.
    fs::remove(dir.file("t/one.mkv"));
    fs::remove(dir.file("t/two.mkv"));
    EXPECT_EQ(Converted(), std::vector<std::string>{"top.mkv"});
    EXPECT_TRUE(dialog->lastProblem().startsWith(QLatin1String("2 ticked files no longer exist")));
    EXPECT_TRUE(dialog->lastProblem().contains(QPath(dir.file("t/one.mkv"))));
    EXPECT_TRUE(dialog->lastProblem().contains(QPath(dir.file("t/two.mkv"))));
    // Their folder is listed again, which drops them.
    ASSERT_TRUE(WaitFor([&] { return dialog->currentFiles().size() == 1; }));

    // The file list's Convert checks again: one gone between listing and converting.
    Touch(dir.file("t/one.mkv"));
    dialog->onButtonRefresh();
    ASSERT_TRUE(WaitFor([&] { return dialog->currentFiles().size() == 2; }));
    dialog->onFilesCheckAll(true);
    auto list = KRABatchFileListDialog::create(dialog->currentFiles(), dialog);
    list->view();
    fs::remove(dir.file("t/one.mkv"));
    delegate.converted.clear();
    list->onButtonConvert();
    EXPECT_EQ(list->lastMissing(), QStringList{QPath(dir.file("t/one.mkv"))});
    EXPECT_EQ(delegate.converted, QList<QUrl>{QFileUrl(dir.file("t/top.mkv"))});
}
