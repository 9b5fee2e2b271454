// The dynamic naming dialog: its menus, insertion at the cursor, the base folder rules, the
// example switches, and the example file read on a worker.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QThreadPool>

#include "common/MediaTestFiles.h"
#include "common/TestEnv.h"
#include "common/TestFiles.h"
#include "common/TestStore.h"
#include "kit/SheetFallback.h"
#include "media/FFprobeInfo.h"
#include "media/QKTag.h"
#include "naming/KRADynamicNamingDialogV2_Context.h"
#include "naming/NamingTestSupport.h"
#include "naming/ui/KRADynamicNamingDialogV2.h"

namespace {

std::shared_ptr<KRADynamicNamingDialogV2_Context> Context(bool allowSameFolder = true,
                                                          const QString& encoder = QString())
{
    auto context = std::make_shared<KRADynamicNamingDialogV2_Context>();
    context->setAllowSameFolder(allowSameFolder);
    context->setEncoder(encoder);
    return context;
}

// Opens the FIFO for writing once a reader has it open, writes bytes no media reader takes,
// and closes it: a reader blocked on the FIFO then fails. False when no reader came.
bool FeedJunkToFifo(const std::string& fifo)
{
    QElapsedTimer waited;
    waited.start();
    int fd = -1;
    while ((fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK)) < 0 && errno == ENXIO && waited.elapsed() < 300000)
        QThread::msleep(20);
    if (fd < 0)
        return false;
    const char junk[] = "not a media file at all";
    const bool wrote = ::write(fd, junk, sizeof junk) == static_cast<ssize_t>(sizeof junk);
    ::close(fd);
    return wrote;
}

QStringList Names(const QList<QPair<QString, QString>>& items)
{
    QStringList names;
    for (const auto& item : items)
        names.append(item.first);
    return names;
}

} // namespace

TEST(NamingDialog, MenusAndExamples)
{
    TestStoreScope store;
    KRADynamicNamingDialogV2 dialog(Context(), true);
    const QStringList tags = Names(dialog.tagMenuItems());
    ASSERT_EQ(tags.size(), 24);
    // Sorted by character code, no case folding.
    QStringList sorted = tags.mid(0, 22);
    std::sort(sorted.begin(), sorted.end(), [](const QString& a, const QString& b) { return a < b; });
    EXPECT_EQ(tags.mid(0, 22), sorted);
    EXPECT_EQ(tags.mid(22), (QStringList{"User defined tag", "User defined tags"}));
    EXPECT_LT(tags.indexOf("ISRC"), tags.indexOf("Label")) << "capitals before lower case, no folding";
    EXPECT_LT(tags.indexOf("Track number"), tags.indexOf("Track number (unpadded)"));

    for (const QStringList& menu : {Names(dialog.propertyMenuItems()), Names(dialog.functionMenuItems())})
        EXPECT_TRUE(std::is_sorted(menu.begin(), menu.end(), [](const QString& a, const QString& b) { return a < b; }))
            << menu.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(dialog.propertyMenuItems().size(), 26);

    const auto functions = dialog.functionMenuItems();
    ASSERT_EQ(functions.size(), 24);
    for (const auto& [name, text] : functions) {
        EXPECT_FALSE(name.contains(QLatin1Char(' '))) << name.toStdString();
        EXPECT_FALSE(text.contains(QLatin1Char(' '))) << text.toStdString();
    }
    EXPECT_TRUE(Names(functions).contains(QStringLiteral("Remove\u00A0First\u00A0Folder")));
    EXPECT_TRUE(Names(dialog.propertyMenuItems()).contains(QStringLiteral("Source Path")));
    ASSERT_EQ(dialog.lstExamples().size(), 4);
    EXPECT_EQ(dialog.lstExamples()[0].second, QStringLiteral("[origpath]/[origfilename]"));

    // Without source-relative naming: no examples, no source rows.
    KRADynamicNamingDialogV2 narrow(Context(false), false);
    EXPECT_TRUE(narrow.lstExamples().isEmpty());
    EXPECT_FALSE(Names(narrow.propertyMenuItems()).contains(QStringLiteral("Source Path")));
    EXPECT_EQ(narrow.propertyMenuItems().size(), 24);
    EXPECT_EQ(narrow.functionMenuItems().size(), 20);
    EXPECT_FALSE(narrow.baseLocationField());
    narrow.setCurPattern(QStringLiteral("[origpath]|[origfilename]|[title]"));
    EXPECT_EQ(narrow.example(), QStringLiteral("||Title"));

    // The tag menu, opened from the keyboard, inserts its text.
    dialog.show();
    dialog.setCurPattern(QStringLiteral("x"));
    dialog.tagButton()->click();
    QMenu* menu = dialog.findChild<QMenu*>();
    ASSERT_TRUE(menu);
    menu->actions().first()->trigger();
    EXPECT_EQ(dialog.curPattern(), QStringLiteral("x") + dialog.tagMenuItems().first().second);
}

TEST(NamingDialog, InsertingKeepsTheSelectionAndTheExampleFollows)
{
    TestStoreScope store;
    KRADynamicNamingDialogV2 dialog(Context(true, QStringLiteral("Matroska (VP9)")), true);
    dialog.setCurPattern(QStringLiteral("[artist]/[title]"));
    EXPECT_EQ(dialog.example(), QStringLiteral("Artist/Title"));
    dialog.patternField()->setSelection(0, 8);
    dialog.insertString(QStringLiteral(" - [album]"));
    EXPECT_EQ(dialog.curPattern(), QStringLiteral("[artist] - [album]/[title]"));

    dialog.applyExample(QStringLiteral("[album artist]|[extension]"));
    EXPECT_EQ(dialog.curPattern(), QStringLiteral("[album artist]|[extension]"));
    EXPECT_EQ(dialog.example(), QStringLiteral("Album Artist|mkv"));
    // A compilation has no album artist.
    dialog.setExCompilation(true);
    EXPECT_EQ(dialog.example(), QStringLiteral("|mkv"));
    dialog.setExCompilation(false);
    dialog.setCurPattern(QStringLiteral("[album]"));
    dialog.setExMultiDisc(true);
    EXPECT_EQ(dialog.example(), QStringLiteral("Album Title, Disc 1"));
    // No file to take tags from: the switch stays off.
    dialog.setExUseCurrentMeta(true);
    EXPECT_FALSE(dialog.exUseCurrentMeta());
    EXPECT_FALSE(dialog.useCurrentMetaSwitch()->isEnabled());
}

TEST(NamingDialog, BaseFolderAndEnding)
{
    TestStoreScope store;
    TestTempDir dir;
    TestEnvScope home("HOME", dir.path());
    const QString homePath = QString::fromStdString(dir.path());
    const auto fixed = [&](const QString& typed) {
        KRADynamicNamingDialogV2 dialog(Context(), true);
        dialog.setBaseLocationURL(QUrl::fromLocalFile(QStringLiteral("/srv/old/")));
        dialog.baseLocationField()->setText(typed);
        emit dialog.baseLocationField()->textEdited(typed);
        EXPECT_TRUE(dialog.baseLocationURL().isEmpty()) << "typing forgets the chosen folder";
        dialog.fixBaseLocationURL();
        QString path = dialog.baseLocationURL().toLocalFile();
        while (path.size() > 1 && path.endsWith('/'))
            path.chop(1);
        return path;
    };
    EXPECT_EQ(fixed(QStringLiteral("Movies/Out")), homePath + QStringLiteral("/Movies/Out"));
    EXPECT_EQ(fixed(QStringLiteral("/media/disk")), QStringLiteral("/media/disk"));
    EXPECT_EQ(fixed(QStringLiteral("~")), homePath);
    EXPECT_EQ(fixed(QStringLiteral("~/Clips")), homePath + QStringLiteral("/Clips"));
    EXPECT_EQ(fixed(QStringLiteral("~backup")), homePath + QStringLiteral("/~backup"))
        << "never a folder relative to the working directory";
    EXPECT_EQ(fixed(QString()), homePath);

    // A chosen folder is kept as it is, and the variant without the folder controls still
    // answers what its opener set.
    KRADynamicNamingDialogV2 plain(Context(), false);
    plain.setBaseLocation(QStringLiteral("Movies"));
    EXPECT_EQ(plain.baseLocation(), QStringLiteral("Movies"));
    plain.setBaseLocationURL(QUrl::fromLocalFile(QStringLiteral("/srv/chosen/")));
    plain.fixBaseLocationURL();
    EXPECT_EQ(plain.baseLocationURL().toLocalFile(), QStringLiteral("/srv/chosen/"));

    KRADynamicNamingDialogV2 dialog(Context(), true);
    dialog.onBaseLocationToSourceDrive();
    EXPECT_EQ(dialog.baseLocation(), QStringLiteral("/"));
    EXPECT_EQ(dialog.baseLocationURL().toLocalFile(), QStringLiteral("/"));

    // The dialog ends once: a second end changes nothing.
    QSignalSpy finished(&dialog, &QDialog::finished);
    dialog.show();
    dialog.onCancel();
    dialog.onOK();
    ASSERT_EQ(finished.count(), 1);
    EXPECT_EQ(finished.first().first().toInt(), 0);

    // As the picker opens it: a sheet on a window, OK gives 1 and Escape 0, each once.
    QWidget window;
    window.show();
    for (const bool escape : {false, true}) {
        auto* sheet = new KRADynamicNamingDialogV2(Context(), true);
        sheet->setCurPattern(QStringLiteral("[title]"));
        QList<int64_t> codes;
        ASSERT_TRUE(SheetFallback::beginSheet(sheet, &window, [&codes](int64_t code) { codes.append(code); }));
        EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
        if (escape)
            QTest::keyClick(sheet->patternField(), Qt::Key_Escape);
        else
            QTest::keyClick(sheet->patternField(), Qt::Key_Return);
        sheet->onOK();
        EXPECT_EQ(codes, QList<int64_t>{escape ? 0 : 1});
        EXPECT_EQ(sheet->curPattern(), QStringLiteral("[title]"));
        delete sheet;
    }
}

TEST(NamingDialog, GivenTagsAndTheirSwitch)
{
    TestStoreScope store;
    // Tags handed over on the context need no worker.
    auto context = Context();
    auto meta = std::make_shared<QKTag>();
    meta->tag()->AddTag(L"artist", L"Grace Hopper");
    context->setExampleMeta(meta);
    KRADynamicNamingDialogV2 dialog(context, true);
    EXPECT_FALSE(dialog.isReadingExample());
    EXPECT_TRUE(dialog.haveCurrentMeta());
    EXPECT_TRUE(dialog.useCurrentMetaSwitch()->isEnabled());
    dialog.setCurPattern(QStringLiteral("[artist]"));
    EXPECT_EQ(dialog.example(), QStringLiteral("Grace Hopper"));

    // A tag value is shown as the text it is, never as markup.
    dialog.setCurrentTrackMeta(MakeTags({{L"artist", L"<b>Bold <img src=\"x.png\">"}}));
    EXPECT_EQ(dialog.exampleLabel()->text(), QStringLiteral("<b>Bold <img src=\"x.png\">"));
    EXPECT_EQ(dialog.exampleLabel()->textFormat(), Qt::PlainText);

    // Emptied tags switch the use of them off; the made-up example takes over.
    dialog.setCurrentTrackMeta(NTag());
    EXPECT_FALSE(dialog.haveCurrentMeta());
    EXPECT_FALSE(dialog.exUseCurrentMeta());
    EXPECT_FALSE(dialog.useCurrentMetaSwitch()->isEnabled());
    EXPECT_EQ(dialog.example(), QStringLiteral("Artist"));

    // Tags given later make the switch usable; the user turns it on.
    KRADynamicNamingDialogV2 later(Context(), false);
    later.setCurPattern(QStringLiteral("[artist]"));
    later.setCurrentTrackMeta(MakeTags({{L"artist", L"Ada"}}));
    EXPECT_TRUE(later.haveCurrentMeta());
    EXPECT_TRUE(later.useCurrentMetaSwitch()->isEnabled());
    later.useCurrentMetaSwitch()->setChecked(true);
    EXPECT_EQ(later.example(), QStringLiteral("Ada"));
}

TEST(NamingDialog, ExampleFileIsReadOnAWorker)
{
    TestStoreScope store;
    TestTempDir dir;
    const std::string clip = dir.file("tagged.mkv");
    ASSERT_TRUE(MakeTestVideo(clip, "64x48", "5", "1",
                              {"-metadata", "artist=Ada Lovelace", "-metadata", "title=Engine Notes"}));
    auto context = Context(true, QStringLiteral("Matroska (VP9)"));
    context->setExampleURL(QUrl::fromLocalFile(QString::fromStdString(clip)));

    KRADynamicNamingDialogV2 dialog(context, true);
    dialog.setCurPattern(QStringLiteral("[artist]/[title].[extension]"));
    EXPECT_TRUE(dialog.isReadingExample()) << "the constructor does not wait for ffprobe";
    QSignalSpy loaded(&dialog, &KRADynamicNamingDialogV2::exampleMetaLoaded);
    ASSERT_TRUE(loaded.wait(300000));
    EXPECT_TRUE(dialog.haveCurrentMeta());
    EXPECT_TRUE(dialog.exUseCurrentMeta());
    EXPECT_EQ(dialog.example(), QStringLiteral("Ada Lovelace/Engine Notes.mkv"));
    dialog.setExUseCurrentMeta(false);
    EXPECT_EQ(dialog.example(), QStringLiteral("Artist/Title.mkv"));

    // Closed before the answer: the answer is dropped.
    for (int i = 0; i < 5; ++i) {
        auto* early = new KRADynamicNamingDialogV2(context, true);
        delete early;
    }
    QThreadPool::globalInstance()->waitForDone(300000);
    QApplication::processEvents();
    QApplication::processEvents();
}

// An example file that never answers (a FIFO nobody writes to: ffprobe waits in open(), as on
// a hung volume) must not hold up the window, and the answer that comes after the dialog has
// gone, or after tags were given, is dropped.
TEST(NamingDialog, HungExampleFileNeverBlocksTheWindow)
{
    TestStoreScope store;
    TestTempDir dir;
    const std::string gone = dir.file("gone.mkv"), kept = dir.file("kept.mkv");
    ASSERT_EQ(::mkfifo(gone.c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo(kept.c_str(), 0600), 0);
    const int timeout = ffprobeTimeoutMs();
    setFFprobeTimeoutMs(15000);

    QElapsedTimer clock;
    clock.start();
    auto goneContext = Context();
    goneContext->setExampleURL(QUrl::fromLocalFile(QString::fromStdString(gone)));
    auto* early = new KRADynamicNamingDialogV2(goneContext, true);
    auto keptContext = Context();
    keptContext->setExampleURL(QUrl::fromLocalFile(QString::fromStdString(kept)));
    KRADynamicNamingDialogV2 dialog(keptContext, true);
    EXPECT_LT(clock.elapsed(), 10000) << "the example file was read on the main thread"; // ffprobe gives up at 15 s
    EXPECT_TRUE(dialog.isReadingExample());
    dialog.setCurPattern(QStringLiteral("[title]"));
    EXPECT_EQ(dialog.example(), QStringLiteral("Title")) << "the made-up example shows meanwhile";
    QApplication::processEvents();

    delete early;
    dialog.setCurrentTrackMeta(MakeTags({{L"title", L"Given"}}));
    dialog.setExUseCurrentMeta(true);
    QSignalSpy loaded(&dialog, &KRADynamicNamingDialogV2::exampleMetaLoaded);
    EXPECT_TRUE(FeedJunkToFifo(gone));
    EXPECT_TRUE(FeedJunkToFifo(kept));
    EXPECT_TRUE(QThreadPool::globalInstance()->waitForDone(300000));
    QApplication::processEvents();
    QApplication::processEvents();
    setFFprobeTimeoutMs(timeout);

    EXPECT_EQ(loaded.count(), 0);
    EXPECT_EQ(dialog.example(), QStringLiteral("Given"));
    EXPECT_TRUE(dialog.haveCurrentMeta());
}
