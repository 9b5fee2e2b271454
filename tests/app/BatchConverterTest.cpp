// The batch converter window in the converter window: ticked folder trees converted end to
// end, the status line, the messages, the filters dialog, the file list, and windows closed
// while their background work still runs.
#include "app/AppTestSupport.h"
#include "app/KRAPanelHost.h"
#include "app/KREAppDelegate.h"
#include "batch/KRABatchConverterProfile.h"
#include "batch/KRAFileFilter.h"
#include "batch/KRAWorkerPool.h"
#include "batch/ui/KRABatchConvertDialog.h"
#include "batch/ui/KRABatchConverterFiltersDialog.h"
#include "batch/ui/KRABatchFileListDialog.h"
#include "batch/ui/KRABatchFileListGrabberDialog.h"
#include "batch/ui/QKNoFilesSelectedMsg.h"
#include "common/MediaTestFiles.h"
#include "platform/XStrQString.h"
#include "platform/XWorkspace.h"
#include "progress/KRAProgressDialog.h"
#include "setup/KRAPreConvertDialog.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QPushButton>
#include <QTest>

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>

namespace {

QUrl Url(const std::string& path)
{
    return XFileURL(XStr::FromUTF8(path.c_str()));
}

std::string PathOf(const QUrl& url)
{
    return XPathFromFileURL(url).ToUTF8String();
}

void Touch(const std::string& path, size_t bytes = 0)
{
    std::ofstream(path) << std::string(bytes, 'x');
}

// Whether the opaque pixels of the picture are in the shot with its corner at the point.
bool ShowsAt(const QImage& shot, const QImage& picture, const QPoint& at)
{
    if (!shot.rect().contains(QRect(at, picture.size())))
        return false;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x) {
            const QRgb pixel = picture.pixel(x, y);
            if (qAlpha(pixel) == 255 && shot.pixel(at.x() + x, at.y() + y) != pixel)
                return false;
        }
    return true;
}

// Where the row shows the picture, or a null point.
QPoint FindInRow(const QImage& shot, const QImage& picture, const QRect& row)
{
    for (int y = row.top(); y <= row.bottom() - picture.height() + 1; ++y)
        for (int x = row.left(); x <= row.right() - picture.width() + 1; ++x)
            if (ShowsAt(shot, picture, QPoint(x, y)))
                return QPoint(x, y);
    return {};
}

class BatchConverter : public ::testing::Test {
protected:
    void SetUp() override
    {
        delegate.applicationDidFinishLaunching();
        KRAPanelHost::setBatchConverterFactory(
            [](const std::shared_ptr<KRAPanelHost>& host, const std::optional<QList<QUrl>>& selection) {
                return std::static_pointer_cast<KRAPanel>(KRABatchConvertDialog::create(host, selection));
            });
    }
    void TearDown() override
    {
        KRAPanelHost::setBatchConverterFactory(nullptr);
        KRAPanelHostBase::releaseAllInstances();
        ProcessPendingEvents();
        QKAppDelegateMethods::setShared(nullptr);
    }

    // A window showing a batch converter rooted at the folder, the folder selected.
    std::shared_ptr<KRABatchConvertDialog> OpenAt(const std::string& folder, std::shared_ptr<KRAPanelHost>* hostOut,
                                                  bool tick = false)
    {
        auto host = KRAPanelHost::newWindow();
        auto dialog = KRABatchConvertDialog::create(
            host, tick ? std::optional<QList<QUrl>>(QList<QUrl>{Url(folder)}) : std::optional<QList<QUrl>>(),
            {{Url(folder), QStringLiteral("Test")}});
        host->startBatchConvertDialog(dialog);
        EXPECT_EQ(host->currentPanel(), dialog);
        if (!tick)
            dialog->selectThisFolder(dialog->rootFolders().first());
        EXPECT_TRUE(WaitFor([&] {
            return !dialog->isSelecting() && dialog->currentFolder() && dialog->currentFolder()->filesLoaded();
        }));
        *hostOut = host;
        return dialog;
    }

    TestTempDir dir;
    TestStoreScope store;
    TestEnvScope appData{"_APPDATA_OVERRIDE", dir.file("app")};
    KREAppDelegate delegate;
};

} // namespace

TEST_F(BatchConverter, ConvertsATickedTreeEndToEnd)
{
    const std::string root = dir.file("tree");
    std::filesystem::create_directories(root + "/nested/deeper");
    ASSERT_TRUE(MakeTestVideo(root + "/b clip.mkv", "160x120", "25", "1"));
    ASSERT_TRUE(MakeTestVideo(root + "/a clip.mkv", "160x120", "25", "1"));
    ASSERT_TRUE(MakeTestVideo(root + "/nested/deeper/c clip.mkv", "160x120", "25", "1"));
    WriteTextFile(root + "/notes.txt", "not a clip");

    // As --convert-folder does it: the whole computer as roots, the folder ticked recursively.
    auto host = delegate.convertFolders({XStr::FromUTF8(root.c_str())});
    auto dialog = std::dynamic_pointer_cast<KRABatchConvertDialog>(host->currentPanel());
    ASSERT_TRUE(dialog);
    ASSERT_TRUE(WaitFor([&] { return dialog->currentFolder() && !dialog->isSelecting(); }));
    EXPECT_EQ(dialog->currentFolder()->path(), QString::fromStdString(root));
    EXPECT_EQ(dialog->currentFolder()->checkState(), Recursive);
    EXPECT_EQ(dialog->selectedFolders(), QList<QUrl>{Url(root)});

    dialog->convertButton()->click();
    ASSERT_TRUE(
        WaitFor([&] { return std::dynamic_pointer_cast<KRAPreConvertDialog>(host->currentPanel()) != nullptr; }));
    QList<std::string> sources;
    for (const KRAPreConvertEntryRef& entry : host->conversionEntries())
        sources << PathOf(entry->namingURL());
    EXPECT_EQ(sources,
              (QList<std::string>{root + "/a clip.mkv", root + "/b clip.mkv", root + "/nested/deeper/c clip.mkv"}));

    auto setup = std::dynamic_pointer_cast<KRAPreConvertDialog>(host->currentPanel());
    setup->buttonConvert()->click();
    std::shared_ptr<KRAProgressDialog> progress;
    ASSERT_TRUE(WaitFor([&] {
        if (!progress)
            progress = std::dynamic_pointer_cast<KRAProgressDialog>(host->currentPanel());
        return progress && progress->allDone();
    }));
    ASSERT_TRUE(host->checkFilenamesState());
    ASSERT_EQ(host->checkFilenamesState()->entries.size(), 3);
    for (const auto& entry : host->checkFilenamesState()->entries) {
        const std::string output = PathOf(entry->destination);
        EXPECT_TRUE(PathExists(output)) << output;
        EXPECT_TRUE(RunProgramQuietly({"ffprobe", "-v", "error", output})) << output;
    }
}

TEST_F(BatchConverter, StatusLineCountsShownAndTickedRows)
{
    const std::string root = dir.file("five");
    std::filesystem::create_directories(root);
    for (int i = 1; i <= 5; ++i)
        Touch(root + "/clip" + std::to_string(i) + ".mkv", 1000 * i);
    std::shared_ptr<KRAPanelHost> host;
    auto dialog = OpenAt(root, &host, true);
    ASSERT_EQ(dialog->currentFiles().size(), 5u);
    // Untick the first two (1,000 and 2,000 bytes): 3 of 5 remain.
    dialog->currentFiles()[0]->setChecked(false);
    dialog->currentFiles()[1]->setChecked(false);
    dialog->refreshStatusBar();
    EXPECT_EQ(dialog->statusText(),
              QStringLiteral("5 Video Files Shown (15 KB), 3 Files Selected (12 KB) in Folder: %1")
                  .arg(QString::fromStdString(root)));
}

TEST_F(BatchConverter, SaysWhatIsMissingInsteadOfConverting)
{
    const std::string root = dir.file("one");
    std::filesystem::create_directories(root);
    Touch(root + "/only.mkv", 10);
    std::shared_ptr<KRAPanelHost> host;
    auto dialog = OpenAt(root, &host);

    // Nothing ticked: the message, and no grabber.
    dialog->onButtonConvert();
    EXPECT_EQ(host->currentPanel(), dialog);
    ASSERT_TRUE(QKNoFilesSelectedMsg::lastShown());
    EXPECT_EQ(QKNoFilesSelectedMsg::lastShown()->message(), QStringLiteral("No video files selected for conversion!"));
    // It goes by itself.
    EXPECT_TRUE(WaitFor([] { return !QKNoFilesSelectedMsg::lastShown(); }));

    dialog->setFolderCheck(dialog->currentFolder(), Recursive);
    dialog->onButtonConcatenate();
    ASSERT_TRUE(WaitFor([&] { return QKNoFilesSelectedMsg::lastShown() != nullptr; }));
    EXPECT_EQ(QKNoFilesSelectedMsg::lastShown()->message(),
              QStringLiteral("More than one file required for concatenation."));
    EXPECT_EQ(host->currentPanel(), dialog);
}

TEST_F(BatchConverter, FiltersDialogExcludesTypesAndOkNeedsNoProbing)
{
    const std::string root = dir.file("types");
    std::filesystem::create_directories(root);
    Touch(root + "/a.mkv", 10);
    Touch(root + "/b.mov", 10);
    std::shared_ptr<KRAPanelHost> host;
    auto dialog = OpenAt(root, &host, true);
    ASSERT_EQ(dialog->currentFiles().size(), 2u);

    // Cancel leaves the window's filter as it was, whatever was changed.
    dialog->onButtonFilter();
    auto filters = std::dynamic_pointer_cast<KRABatchConverterFiltersDialog>(host->currentPanel());
    ASSERT_TRUE(filters);
    filters->paneFor(QStringLiteral("File Types"))->onUncheckAll();
    filters->onCancel();
    EXPECT_EQ(host->currentPanel(), dialog);
    EXPECT_FALSE(dialog->filter()->active());

    // Exclude the .mov type.
    dialog->onButtonFilter();
    filters = std::dynamic_pointer_cast<KRABatchConverterFiltersDialog>(host->currentPanel());
    auto* types = filters->paneFor(QStringLiteral("File Types"));
    ASSERT_TRUE(types && types->data());
    int unchecked = 0;
    for (int row = 0; row < types->data()->size(); ++row)
        if (types->data()->at(row).key == QLatin1String(".MOV")) {
            types->setRowChecked(row, false);
            ++unchecked;
        }
    ASSERT_EQ(unchecked, 1);
    filters->onOK();
    EXPECT_EQ(host->currentPanel(), dialog);
    EXPECT_TRUE(dialog->filter()->active());
    // Only types and no date: listing needs no media information.
    EXPECT_FALSE(dialog->filter()->needsInfo());
    ASSERT_TRUE(WaitFor([&] { return dialog->currentFiles().size() == 1; }));
    EXPECT_EQ(dialog->currentFiles()[0]->name(), QStringLiteral("a.mkv"));

    // Opened again: the row shows unchecked, and OK without changes keeps the same filter.
    dialog->onButtonFilter();
    filters = std::dynamic_pointer_cast<KRABatchConverterFiltersDialog>(host->currentPanel());
    types = filters->paneFor(QStringLiteral("File Types"));
    for (const KRAFiltersEntry& row : *types->data())
        EXPECT_EQ(row.checked, row.key != QLatin1String(".MOV")) << row.key.toStdString();
    const KRAFileFilter before = *dialog->filter();
    filters->onOK();
    EXPECT_TRUE(dialog->filter()->isEqualToFilter(before));
    EXPECT_FALSE(dialog->filter()->filterForMeta(QStringLiteral("Date")));

    // A typed number of days works as an offered age.
    EXPECT_EQ(KRABatchConverterFiltersPaneDate::daysOf(QStringLiteral(" 12 days")), 12);
    EXPECT_EQ(KRABatchConverterFiltersPaneDate::daysOf(QStringLiteral("x")), 0);
    KRABatchConverterFiltersPaneDate date;
    date.setValueDays(14);
    EXPECT_EQ(date.strValue(), QStringLiteral("14 Days (2 weeks)"));
    date.setValueDays(12);
    EXPECT_EQ(date.strValue(), QStringLiteral("12 days"));
}

TEST_F(BatchConverter, ASelectionWaitingForAHungListingNeverBlocksTheWindow)
{
    const std::string root = dir.file("hung");
    std::filesystem::create_directories(root + "/a/b");
    std::shared_ptr<KRAPanelHost> host = KRAPanelHost::newWindow();
    auto dialog =
        KRABatchConvertDialog::create(host, QList<QUrl>{Url(root + "/a/b")}, {{Url(root), QStringLiteral("Test")}});
    // Every worker of the pool busy, as on a mount that does not answer.
    struct Gate {
        std::mutex lock;
        std::condition_variable open;
        bool opened = false;
    };
    auto gate = std::make_shared<Gate>();
    const size_t workers = 8;
    for (size_t i = 0; i < workers; ++i)
        KRAWorkerPool::shared().post([gate] {
            std::unique_lock<std::mutex> guard(gate->lock);
            gate->open.wait(guard, [&] { return gate->opened; });
        });
    QElapsedTimer timer;
    timer.start();
    host->setCurrentPanel(dialog);
    dialog->selectTheseItems({Url(root + "/a/b")}, false);
    EXPECT_LT(timer.elapsed(), KRABatchConvertDialog::kListingTimeLimitMs); // returned without waiting out the limit
    EXPECT_TRUE(dialog->isSelecting());
    // It gives up after its time limit, with the window's events running all along.
    EXPECT_TRUE(WaitFor([&] { return !dialog->isSelecting(); }));
    {
        std::lock_guard<std::mutex> guard(gate->lock);
        gate->opened = true;
    }
    gate->open.notify_all();
    // Once the listings come, a new selection goes all the way.
    dialog->selectTheseItems({Url(root + "/a/b")}, false);
    ASSERT_TRUE(WaitFor([&] { return !dialog->isSelecting(); }));
    ASSERT_TRUE(dialog->currentFolder());
    EXPECT_EQ(dialog->currentFolder()->path(), QString::fromStdString(root + "/a/b"));
}

TEST_F(BatchConverter, ClosingTheWindowDuringAScanOrAGrabDropsTheLateResults)
{
    const std::string root = dir.file("many");
    std::filesystem::create_directories(root + "/sub");
    for (int i = 0; i < 10000; ++i)
        Touch(root + "/sub/clip" + std::to_string(i) + ".mkv");
    // During the scan of the big folder.
    {
        auto host = KRAPanelHost::newWindow();
        auto dialog =
            KRABatchConvertDialog::create(host, QList<QUrl>{Url(root + "/sub")}, {{Url(root), QStringLiteral("Test")}});
        host->setCurrentPanel(dialog);
        WaitFor([&] { return dialog->currentFolder() != nullptr; });
        host->window()->close();
    }
    KRAPanelHostBase::releaseAllInstances();
    ProcessPendingEvents();

    // During the grab: the grabber collects on its worker, the window goes.
    std::weak_ptr<KRABatchFileListGrabberDialog> grabber;
    {
        std::shared_ptr<KRAPanelHost> host;
        auto dialog = OpenAt(root, &host);
        dialog->setFolderCheck(dialog->rootFolders().first(), Recursive);
        dialog->onButtonConvert();
        auto shown = std::dynamic_pointer_cast<KRABatchFileListGrabberDialog>(host->currentPanel());
        ASSERT_TRUE(shown);
        grabber = shown;
        host->window()->close();
    }
    KRAPanelHostBase::releaseAllInstances();
    EXPECT_TRUE(WaitFor([&] { return grabber.expired(); }));

    // Cancel answers the window at once, and nothing follows.
    std::shared_ptr<KRAPanelHost> host;
    auto dialog = OpenAt(root, &host);
    dialog->setFolderCheck(dialog->rootFolders().first(), Recursive);
    dialog->onButtonList();
    auto shown = std::dynamic_pointer_cast<KRABatchFileListGrabberDialog>(host->currentPanel());
    ASSERT_TRUE(shown);
    shown->onCancel();
    EXPECT_EQ(host->currentPanel(), dialog);
    WaitFor([] { return false; }, 300);
    EXPECT_EQ(host->currentPanel(), dialog);

    // Let it finish: the file list of all 10,000.
    dialog->onButtonList();
    ASSERT_TRUE(
        WaitFor([&] { return std::dynamic_pointer_cast<KRABatchFileListDialog>(host->currentPanel()) != nullptr; }));
    auto list = std::dynamic_pointer_cast<KRABatchFileListDialog>(host->currentPanel());
    EXPECT_EQ(list->files().size(), 10000u);
}

TEST_F(BatchConverter, InformationFillsTheTablesInBatches)
{
    const std::string root = dir.file("info");
    std::filesystem::create_directories(root);
    ASSERT_TRUE(MakeTestVideo(root + "/clip0.mkv", "160x120", "25", "1"));
    const int count = 40;
    for (int i = 1; i < count; ++i)
        std::filesystem::copy_file(root + "/clip0.mkv", root + "/clip" + std::to_string(i) + ".mkv");
    QElapsedTimer timer;
    timer.start();
    std::shared_ptr<KRAPanelHost> host;
    auto dialog = OpenAt(root, &host, true);
    auto allHaveInfo = [](const std::vector<clFileListEntryRef>& files) {
        for (const clFileListEntryRef& file : files)
            if (!file->info())
                return false;
        return !files.empty();
    };
    ASSERT_TRUE(WaitFor([&] { return allHaveInfo(dialog->currentFiles()); }));
    WaitFor([] { return false; }, 300);
    EXPECT_GE(dialog->infoUpdateCount(), 1);
    EXPECT_LE(dialog->infoUpdateCount(), timer.elapsed() / 200 + 1);

    // The file list reads what its rows lack, in batches too; its totals follow the ticks.
    std::vector<clFileListEntryRef> rows;
    for (int i = 0; i < count; ++i)
        rows.push_back(std::make_shared<clFileListEntry>(Url(root + "/clip" + std::to_string(i) + ".mkv"),
                                                         QStringLiteral("Matroska"), nullptr, nullptr));
    timer.restart();
    auto list = KRABatchFileListDialog::create(rows, dialog);
    host->setCurrentPanel(list);
    ASSERT_TRUE(WaitFor([&] { return list->infoDone(); }));
    EXPECT_LE(list->deliveries(), timer.elapsed() / KRABatchFileListDialog::kDeliveryIntervalMs + 1);
    EXPECT_TRUE(list->statusText().startsWith(QStringLiteral("Converting 40 Files, Source Size: ")));
    EXPECT_TRUE(list->buttonConvert()->isEnabled());
    list->onMenuUncheckAll();
    EXPECT_TRUE(list->statusText().startsWith(QStringLiteral("Converting 0 Files")));
    EXPECT_FALSE(list->buttonConvert()->isEnabled());
    // Its ticks are its own.
    EXPECT_TRUE(dialog->currentFiles()[0]->checked());
}

TEST_F(BatchConverter, SwitchingProfilesKeepsTheTicksOfTheOneLeft)
{
    const std::string root = dir.file("profiles");
    std::filesystem::create_directories(root + "/x");
    std::filesystem::create_directories(root + "/y");
    Touch(root + "/x/one.mkv", 10);
    Touch(root + "/y/two.mov", 10);
    auto a = KRABatchConverterProfile::newProfileNamed(QStringLiteral("A"));
    ASSERT_TRUE(a->save());
    auto b = KRABatchConverterProfile::newProfileNamed(QStringLiteral("B"));
    b->selection = QVariantMap{{QString::fromStdString(root), QStringLiteral("SubSelected")},
                               {QString::fromStdString(root + "/y"), QStringLiteral("Recursive")}};
    b->filtersData.insert(QStringLiteral("File Types"), {QStringLiteral(".MKV")});
    ASSERT_TRUE(b->save());

    std::shared_ptr<KRAPanelHost> host;
    auto dialog = OpenAt(root, &host);
    EXPECT_TRUE(dialog->profileList().contains(QStringLiteral("A")));
    dialog->onProfileSelected(QStringLiteral("A"));
    const auto x = dialog->rootFolders().first()->subFolderAt(QStringLiteral("x"));
    const auto y = dialog->rootFolders().first()->subFolderAt(QStringLiteral("y"));
    ASSERT_TRUE(x && y);
    dialog->setFolderCheck(x, Recursive);

    dialog->onProfileSelected(QStringLiteral("B"));
    EXPECT_EQ(KRABatchConverterProfile::profileByName(QStringLiteral("A"))
                  ->selection.toMap()
                  .value(QString::fromStdString(root + "/x")),
              QVariant(QStringLiteral("Recursive")));
    EXPECT_EQ(x->checkState(), Unchecked);
    EXPECT_EQ(y->checkState(), Recursive);
    EXPECT_EQ(host->batchConverterProfile(), QStringLiteral("B"));
    EXPECT_FALSE(dialog->filter()->testJustURL(Url(root + "/x/one.mkv")));

    // "(none selected)" keeps what is ticked; the converter window then asks for no profile.
    dialog->onProfileSelected(QString::fromLatin1(KRABatchConvertDialog::kNoneSelected));
    EXPECT_EQ(y->checkState(), Recursive);
    EXPECT_FALSE(dialog->currentProfileName());
    EXPECT_FALSE(host->batchConverterProfile());
}

TEST_F(BatchConverter, DroppedFoldersAreTickedAloneAndTheirParentSelected)
{
    const std::string root = dir.file("drop");
    for (const char* folder : {"/p/x", "/p/y", "/p/z", "/q"})
        std::filesystem::create_directories(root + folder);
    Touch(root + "/q/file.mkv");
    std::shared_ptr<KRAPanelHost> host;
    auto dialog = OpenAt(root, &host);
    dialog->setFolderCheck(dialog->rootFolders().first()->subFolderAt(QStringLiteral("q")), Recursive);

    dialog->selectTheseItems({Url(root + "/p/x"), Url(root + "/p/y")}, false);
    ASSERT_TRUE(WaitFor([&] { return !dialog->isSelecting(); }));
    ASSERT_TRUE(dialog->currentFolder());
    EXPECT_EQ(dialog->currentFolder()->path(), QString::fromStdString(root + "/p"));
    EXPECT_EQ(dialog->selectedFolders(), (QList<QUrl>{Url(root + "/p/x"), Url(root + "/p/y")}));

    // A single file: nothing ticked, the selection stays.
    dialog->selectTheseItems({Url(root + "/q/file.mkv")}, false);
    ASSERT_TRUE(WaitFor([&] { return !dialog->isSelecting(); }));
    EXPECT_EQ(dialog->currentFolder()->path(), QString::fromStdString(root + "/p"));
    EXPECT_EQ(dialog->selectedFolders(), QList<QUrl>{Url(root + "/p")});
}

TEST_F(BatchConverter, TreeRowsShowTheirStatePictureWhereTheCheckBoxWas)
{
    const std::string root = dir.file("states");
    for (const char* folder : {"/all/below", "/own"})
        std::filesystem::create_directories(root + folder);
    std::shared_ptr<KRAPanelHost> host;
    auto dialog = OpenAt(root, &host);
    host->mainWindow()->resize(900, 500);
    host->mainWindow()->show();
    KRAOutlineView* tree = dialog->folderTree();
    QAbstractItemModel* model = tree->model();
    const QModelIndex top = model->index(0, 0);
    tree->expand(top);
    ASSERT_TRUE(WaitFor([&] { return model->rowCount(top) == 2; }));
    const QModelIndex all = model->index(0, 0, top);
    const QModelIndex own = model->index(1, 0, top);
    ASSERT_EQ(all.data().toString(), QStringLiteral("all"));
    const clFolderListEntryRef rootFolder = dialog->rootFolders().first();
    const folderStateImageHelper& images = rootFolder->globals()->images();
    auto shot = [&] { return tree->viewport()->grab().toImage().convertToFormat(QImage::Format_ARGB32); };
    auto picture = [&](int state) {
        return images.checkBoxImageForState(state).convertToFormat(QImage::Format_ARGB32);
    };

    QImage before = shot();
    const QPoint allAt = FindInRow(before, picture(Unchecked), tree->visualRect(all));
    const QPoint ownAt = FindInRow(before, picture(Unchecked), tree->visualRect(own));
    ASSERT_FALSE(allAt.isNull());
    ASSERT_FALSE(ownAt.isNull());

    // A click on the picture and Space on a selected row change the ticks as on a check box.
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, Qt::NoModifier, allAt + QPoint(8, 8));
    EXPECT_EQ(rootFolder->subFolderAt(QStringLiteral("all"))->checkState(), Recursive);
    tree->selectionModel()->setCurrentIndex(own, QItemSelectionModel::ClearAndSelect);
    QTest::keyClick(tree, Qt::Key_Space);
    QTest::keyClick(tree, Qt::Key_Space);
    EXPECT_EQ(rootFolder->subFolderAt(QStringLiteral("own"))->checkState(), NonRecursive);
    EXPECT_EQ(rootFolder->checkState(), SubSelected);

    const QImage after = shot();
    EXPECT_TRUE(ShowsAt(after, picture(Recursive), allAt));
    EXPECT_FALSE(ShowsAt(after, picture(NonRecursive), allAt));
    EXPECT_TRUE(ShowsAt(after, picture(NonRecursive), ownAt)); // on the selected row
    EXPECT_FALSE(ShowsAt(after, picture(Recursive), ownAt));
    EXPECT_FALSE(FindInRow(after, picture(SubSelected), tree->visualRect(top)).isNull());
}
