// The effect chain editor: the add menu and the chain rules, the settings dialog of an added
// effect, removing, clearing and reordering, and chain files.

#include <gtest/gtest.h>

#include <QAction>
#include <QCoreApplication>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <chrono>
#include <csignal>
#include <future>
#include <memory>

#include "common/TestFiles.h"
#include "job/QKConversionSpec.h"
#include "job/QKEncoderDesc.h"
#include "media/QKExternalFFmpeg.h"
#include "setup/KRADSPListPane.h"
#include "setup/KRADSPPage.h"
#include "setup/KRADSPPageIndex.h"
#include "setup/KREDSPPagesTime.h"

namespace {

void Settle()
{
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
}

QKDSPChain Chain(std::initializer_list<const char*> names)
{
    QKDSPChain chain;
    for (const char* name : names)
        chain.append(QKDSPSpec(QString::fromUtf8(name), QString()));
    return chain;
}

// The text an effect's page writes for the settings it reads from stored.
QString PageArgs(const QString& name, const QString& stored = QString())
{
    std::unique_ptr<KRADSPPage> page = KRADSPPageIndex::createFor(name);
    if (!page)
        return QString();
    page->setDspArgs(stored);
    return page->dspArgs();
}

QStringList Names(const QKDSPChain& chain)
{
    QStringList names;
    for (const QKDSPSpec& spec : chain)
        names.append(spec.name);
    return names;
}

class DSPChainPane : public ::testing::Test {
protected:
    void SetUp() override
    {
        QKExternalFFmpeg::setProbe([this] { return external; });
        window = std::make_unique<QWidget>();
        auto* layout = new QVBoxLayout(window.get());
        layout->addWidget(pane.view());
        window->resize(480, 360);
        window->show();
        pane.setDspEffects(effects);
        QObject::connect(&pane, &KRADSPListPane::chainChanged, [this] { ++changes; });
    }
    void TearDown() override
    {
        QKExternalFFmpeg::setProbe(nullptr);
        Settle();
    }

    // The open question box of the window, if any.
    QMessageBox* Alert() const { return window->findChild<QMessageBox*>(); }
    // Actions of the add menu by the text the user reads.
    std::map<QString, bool> MenuItems()
    {
        std::unique_ptr<QMenu> menu(pane.makeAddMenu());
        std::map<QString, bool> items;
        for (QAction* action : menu->actions()) {
            if (!action->isSeparator())
                items[action->iconText()] = action->isEnabled();
        }
        lastMenuEnd = menu->actions().size() >= 2 && menu->actions().at(menu->actions().size() - 2)->isSeparator()
                          ? menu->actions().last()->iconText()
                          : QString();
        return items;
    }

    bool external = false;
    KRADSPListPane pane;
    std::shared_ptr<QKDSPChain> effects = std::make_shared<QKDSPChain>();
    std::unique_ptr<QWidget> window;
    int changes = 0;
    QString lastMenuEnd;
};

} // namespace

TEST_F(DSPChainPane, TheAddMenuOffersWhatTheRulesAllow)
{
    std::map<QString, bool> items = MenuItems();
    EXPECT_EQ(items.size(), 32u + 1u); // the effects and "Install missing effects"
    EXPECT_EQ(items.count("Denoiser (Wavelet)"), 0u);
    EXPECT_EQ(items.count("Brightness & Contrast"), 0u);
    EXPECT_EQ(lastMenuEnd, "Install missing effects");

    *effects = Chain({"Cut", "Loop", "Fade"});
    items = MenuItems();
    EXPECT_FALSE(items["Trim"]);
    EXPECT_FALSE(items["Cut"]);
    EXPECT_FALSE(items["Loop"]);
    EXPECT_TRUE(items["Fade"]);
    EXPECT_TRUE(items["Reverse"]);

    external = true;
    items = MenuItems();
    EXPECT_EQ(items.size(), 35u);
    EXPECT_TRUE(items["Denoiser (High Precision 3D)"]);
    EXPECT_TRUE(items["Brightness & Contrast"]);
    EXPECT_TRUE(lastMenuEnd.isEmpty());
}

TEST_F(DSPChainPane, AnAddedEffectStaysOnlyWhenItsSettingsAreConfirmed)
{
    pane.onAddThisDSP(QStringLiteral("Trim"));
    Settle();
    ASSERT_NE(pane.settingsDialog(), nullptr);
    EXPECT_TRUE(pane.settingsDialog()->isVisible());
    EXPECT_EQ(Names(*effects), QStringList({"Trim"}));
    pane.settingsDialog()->reject();
    Settle();
    EXPECT_TRUE(effects->isEmpty());
    EXPECT_EQ(pane.table()->count(), 0);

    pane.onAddThisDSP(QStringLiteral("Fade"));
    Settle();
    auto* fade = dynamic_cast<KREDSPPageFade*>(pane.settingsDialog()->page());
    ASSERT_NE(fade, nullptr);
    fade->setFades(1500, 0, 0, 0);
    pane.settingsDialog()->onOK();
    Settle();
    ASSERT_EQ(effects->size(), 1);
    EXPECT_EQ(effects->at(0).args, "-fadein=\"1.5\" -fadeout=\"0\" -afadein=\"0\" -afadeout=\"0\"");
    EXPECT_EQ(pane.table()->count(), 1);

    // Editing again and cancelling keeps the stored arguments.
    pane.onDSPSettingsRow(0);
    Settle();
    dynamic_cast<KREDSPPageFade*>(pane.settingsDialog()->page())->setFades(0, 0, 0, 0);
    pane.settingsDialog()->reject();
    Settle();
    EXPECT_EQ(effects->at(0).args, "-fadein=\"1.5\" -fadeout=\"0\" -afadein=\"0\" -afadeout=\"0\"");
    EXPECT_GE(changes, 3);
}

TEST_F(DSPChainPane, APageThatRefusesKeepsItsDialogOpen)
{
    *effects = {QKDSPSpec(QStringLiteral("Cut"), QStringLiteral("-ss 1:2"))};
    pane.setDspEffects(effects);
    pane.onDSPSettingsRow(0);
    Settle();
    KRADSPSettingsDialog* dialog = pane.settingsDialog();
    ASSERT_NE(dialog, nullptr);
    dialog->onOK();
    Settle();
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_NE(dialog->findChild<QMessageBox*>(), nullptr);
    EXPECT_EQ(effects->at(0).args, "-ss 1:2");
    dialog->reject();
    Settle();

    // A name without a page opens a dialog that keeps the text as stored.
    *effects = {QKDSPSpec(QStringLiteral("Audio CD - Remove Gaps"), QStringLiteral("-x 1"))};
    pane.setDspEffects(effects);
    pane.onDSPSettingsRow(0);
    Settle();
    ASSERT_NE(pane.settingsDialog(), nullptr);
    EXPECT_EQ(pane.settingsDialog()->page(), nullptr);
    pane.settingsDialog()->onOK();
    Settle();
    EXPECT_EQ(effects->at(0).args, "-x 1");
}

TEST_F(DSPChainPane, RemovingAndClearing)
{
    pane.onDSPClear(); // empty: nothing to ask
    Settle();
    EXPECT_EQ(Alert(), nullptr);

    *effects = Chain({"Crop", "Flip", "Rotate"});
    pane.setDspEffects(effects);
    EXPECT_TRUE(pane.clearButton()->isEnabled());
    pane.onDSPRemoveRow(7);
    pane.onDSPRemoveRow(1);
    EXPECT_EQ(Names(*effects), QStringList({"Crop", "Rotate"}));

    pane.onDSPClear();
    Settle();
    QMessageBox* ask = Alert();
    ASSERT_NE(ask, nullptr);
    EXPECT_EQ(ask->text(), "Clear All Effects?");
    ask->button(QMessageBox::No)->click();
    Settle();
    EXPECT_EQ(effects->size(), 2);
    pane.onDSPClear();
    Settle();
    Alert()->button(QMessageBox::Yes)->click();
    Settle();
    EXPECT_TRUE(effects->isEmpty());
    EXPECT_FALSE(pane.clearButton()->isEnabled());
    EXPECT_FALSE(pane.saveButton()->isEnabled());
}

TEST_F(DSPChainPane, DraggedRowsMoveTogetherWithinTheirOwnPane)
{
    QKDSPChain five = Chain({"a", "b", "c", "d", "e"});
    EXPECT_EQ(KRADSPListPane::moveRows(five, {0, 2}, 5), QList<int>({3, 4}));
    EXPECT_EQ(Names(five), QStringList({"b", "d", "e", "a", "c"}));
    QKDSPChain up = Chain({"a", "b", "c", "d"});
    KRADSPListPane::moveRows(up, {3, 2}, 0);
    EXPECT_EQ(Names(up), QStringList({"c", "d", "a", "b"}));

    *effects = Chain({"Crop", "Flip", "Rotate", "Fade", "Trim"});
    pane.setDspEffects(effects);
    std::unique_ptr<QMimeData> data(pane.mimeDataForRows({0, 2}));
    EXPECT_FALSE(pane.validateDrop(data.get(), 2, false)); // onto a row
    EXPECT_FALSE(pane.validateDrop(data.get(), 6, true));
    KRADSPListPane other;
    other.view();
    std::unique_ptr<QMimeData> foreign(other.mimeDataForRows({0}));
    EXPECT_FALSE(pane.validateDrop(foreign.get(), 0, true));
    EXPECT_TRUE(pane.acceptDrop(data.get(), 5));
    EXPECT_EQ(Names(*effects), QStringList({"Flip", "Fade", "Trim", "Crop", "Rotate"}));
    EXPECT_EQ(pane.table()->selectedItems().size(), 2);

    std::unique_ptr<QMimeData> nothing(pane.mimeDataForRows({9}));
    EXPECT_FALSE(pane.acceptDrop(nothing.get(), 0));

    // The multi-encoder keeps a chain per encoder: one message row, no drops.
    pane.onHostEncoder(QKEncoderDesc::makeVideoCodec(QKEncoderDesc::strMultiEncoder(), QString()));
    EXPECT_FALSE(pane.isEnabled());
    ASSERT_EQ(pane.table()->count(), 1);
    EXPECT_EQ(pane.table()->item(0)->text(), "set effects on each multi-encoder settings page");
    EXPECT_FALSE(pane.validateDrop(data.get(), 0, true));
    EXPECT_FALSE(pane.addButton()->isEnabled());
    pane.onHostEncoder(QKEncoderDesc::makeVideoCodec(QStringLiteral("H.264"), QString()));
    EXPECT_TRUE(pane.isEnabled());
    EXPECT_EQ(pane.table()->count(), 5);
}

TEST_F(DSPChainPane, ChainFilesAreUtf16AndWrittenWhole)
{
    TestTempDir dir;
    const QString path = QString::fromStdString(dir.file("chain é.dspeffect"));
    *effects = {
        QKDSPSpec(QStringLiteral("Crop"), PageArgs(QStringLiteral("Crop"), QStringLiteral("-vf crop=10:10:0:0"))),
        QKDSPSpec(
            QStringLiteral("Watermark"),
            PageArgs(QStringLiteral("Watermark"), QStringLiteral("-i \"/ä b.png\" -filter_complex overlay=0:0")))};
    const QString chain = pane.dspEffectsString();
    QString error;
    ASSERT_TRUE(KRADSPListPane::writeChainFile(path, chain, &error)) << error.toStdString();
    const std::string bytes = ReadTestFile(path.toStdString());
    ASSERT_EQ(bytes.size(), static_cast<size_t>(chain.size()) * 2);
    EXPECT_EQ(bytes.substr(0, 4), std::string("-\0d\0", 4)); // no byte-order mark

    KRADSPListPane reader;
    ASSERT_TRUE(reader.loadFrom(path, &error));
    EXPECT_EQ(*reader.dspEffects(), *effects);

    // A save that fails midway leaves the old file whole.
    struct rlimit old {};
    getrlimit(RLIMIT_FSIZE, &old);
    struct rlimit small = old;
    small.rlim_cur = 64;
    auto previous = std::signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &small);
    const bool written = KRADSPListPane::writeChainFile(path, QString(200, QLatin1Char('x')), &error);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous);
    EXPECT_FALSE(written);
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(ReadTestFile(path.toStdString()), bytes);
}

TEST_F(DSPChainPane, FilesThatAreNoChainAreRefusedAndTheChainStays)
{
    TestTempDir dir;
    *effects = Chain({"Flip"});
    pane.setDspEffects(effects);
    const std::pair<const char*, std::string> bad[] = {
        {"odd", std::string("-\0d", 3)},
        {"surrogate", std::string("\x00\xd8\x41\x00", 4)}, // a high surrogate without its pair
        {"nul", std::string("a\0\0\0", 4)},
        {"large", std::string(1024 * 1024 + 2, 'a')},
    };
    for (const auto& [name, bytes] : bad) {
        const std::string path = dir.file(name);
        WriteTestFile(path, bytes);
        QString error;
        EXPECT_FALSE(pane.loadFrom(QString::fromStdString(path), &error)) << name;
        EXPECT_FALSE(error.isEmpty()) << name;
    }
    QString error;
    EXPECT_FALSE(pane.loadFrom(QString::fromStdString(dir.file("missing")), &error));
    EXPECT_EQ(Names(*effects), QStringList({"Flip"}));
    EXPECT_EQ(changes, 0);
}

// A saved chain cut at any byte is either refused (the chain stays) or, cut right after an
// entry, reads as the whole entries before the cut: never as a cut effect. The cut in the
// middle of "-DELSOURCERECYCLE" that read as "-DELSOURC" (a deletion for good) is refused.
TEST_F(DSPChainPane, ACutChainFileIsRefusedUnlessWholeEntriesAreLeft)
{
    TestTempDir dir;
    const QKDSPChain saved = {
        QKDSPSpec(QStringLiteral("Crop"), PageArgs(QStringLiteral("Crop"))),
        QKDSPSpec(QStringLiteral("[Custom]"), QStringLiteral("-vf \"hue=s=0\" -metadata a=\\x")),
        QKDSPSpec(QStringLiteral("Delete Source File"), QStringLiteral("-DELSOURCERECYCLE")),
    };
    const QString chain = QKConversionSpec::mergeDSPString(saved);
    const std::string whole = dir.file("whole.dspeffect");
    QString error;
    ASSERT_TRUE(KRADSPListPane::writeChainFile(QString::fromStdString(whole), chain, &error));
    const std::string bytes = ReadTestFile(whole);
    *effects = Chain({"Flip"});
    pane.setDspEffects(effects);
    const std::string path = dir.file("cut.dspeffect");
    int refused = 0;
    for (size_t length = 0; length < bytes.size(); ++length) {
        WriteTestFile(path, bytes.substr(0, length));
        error.clear();
        if (pane.loadFrom(QString::fromStdString(path), &error)) {
            // Only whole entries: exactly the first ones of the saved chain.
            ASSERT_LE(effects->size(), saved.size()) << length;
            ASSERT_FALSE(effects->isEmpty()) << length;
            EXPECT_EQ(*effects, saved.mid(0, effects->size())) << length;
            *effects = Chain({"Flip"});
            pane.setDspEffects(effects);
        } else {
            ++refused;
            EXPECT_FALSE(error.isEmpty()) << length;
            EXPECT_EQ(Names(*effects), QStringList({"Flip"})) << length;
        }
    }
    EXPECT_GT(refused, static_cast<int>(bytes.size()) - 8);
    const qsizetype inWord = chain.indexOf(QStringLiteral("-DELSOURCERECYCLE")) + 9;
    WriteTestFile(path, bytes.substr(0, static_cast<size_t>(inWord) * 2));
    EXPECT_FALSE(pane.loadFrom(QString::fromStdString(path), &error));
    // Even with its quote closed, "-DELSOURC" is no setting of Delete Source File.
    EXPECT_FALSE(KRADSPListPane::chainFromText(QStringLiteral("-dspeffect1=\"Delete Source File=-DELSOURC\""), &error));
    EXPECT_NE(error.indexOf(QStringLiteral("-DELSOURC")), -1) << error.toStdString();
    EXPECT_TRUE(KRADSPListPane::readChain(QString::fromStdString(whole), &error)) << error.toStdString();
}

// The same chain written in another encoding reads as the same chain, or is refused with a
// reason: never as an empty chain without a word. Foreign texts are refused.
TEST_F(DSPChainPane, ForeignChainFilesReadRightOrAreRefused)
{
    TestTempDir dir;
    const QKDSPChain saved = {QKDSPSpec(QStringLiteral("Crop"), PageArgs(QStringLiteral("Crop"))),
                              QKDSPSpec(QStringLiteral("Delete Source File"), QStringLiteral("-DELSOURCEPERM"))};
    const QString chain = QKConversionSpec::mergeDSPString(saved);
    const QByteArray utf8 = chain.toUtf8();
    QByteArray utf16be;
    for (const QChar c : chain) {
        utf16be.append(static_cast<char>(c.unicode() >> 8));
        utf16be.append(static_cast<char>(c.unicode() & 0xff));
    }
    QByteArray utf16le;
    for (const QChar c : chain) {
        utf16le.append(static_cast<char>(c.unicode() & 0xff));
        utf16le.append(static_cast<char>(c.unicode() >> 8));
    }
    const std::pair<const char*, QByteArray> same[] = {
        {"utf-8", utf8},
        {"utf-8 with a mark and a line end", QByteArray("\xef\xbb\xbf") + utf8 + "\r\n"},
        {"utf-16 with a mark", QByteArray("\xff\xfe") + utf16le},
        {"utf-16 big-endian with a mark", QByteArray("\xfe\xff") + utf16be},
    };
    for (const auto& [name, bytes] : same) {
        QString error;
        const std::optional<QString> text = KRADSPListPane::decodeChainFile(bytes, &error);
        ASSERT_TRUE(text) << name << ": " << error.toStdString();
        const std::optional<QKDSPChain> read = KRADSPListPane::chainFromText(*text, &error);
        ASSERT_TRUE(read) << name << ": " << error.toStdString();
        EXPECT_EQ(*read, saved) << name;
    }

    *effects = Chain({"Flip"});
    pane.setDspEffects(effects);
    const std::pair<const char*, std::string> refusedFiles[] = {
        {"empty", std::string()},
        {"latin-1", std::string("-dspeffect1=\"Crop=\xe9\"")},
        {"utf-16 big-endian without a mark", utf16be.toStdString()},
        {"unknown effect", "-dspeffect1=\"Blur Everything=\""},
        {"no settings part", "-dspeffect1=\"Flip\""},
        {"a gap", "-dspeffect1=\"Flip=\" -dspeffect3=\"Flip=\""},
        {"text after it", "-dspeffect1=\"Flip=\" and more"},
        {"glued on", "-dspeffect1=\"Flip=\"x"},
        {"another program's text", "[effects]\nflip=1\n"},
        {"settings its page does not write", "-dspeffect1=\"Delete Source File=-DELSOURCEPERM -x\""},
    };
    const int before = changes;
    for (const auto& [name, bytes] : refusedFiles) {
        const std::string path = dir.file("refused.dspeffect");
        WriteTestFile(path, bytes);
        QString error;
        EXPECT_FALSE(pane.loadFrom(QString::fromStdString(path), &error)) << name;
        EXPECT_FALSE(error.isEmpty()) << name;
    }
    EXPECT_EQ(Names(*effects), QStringList({"Flip"}));
    EXPECT_EQ(changes, before);
}

// A pipe (with no writer) or a device is refused at once, never waited on.
TEST_F(DSPChainPane, PipesAndDevicesAreRefusedWithoutWaiting)
{
    TestTempDir dir;
    const std::string fifo = dir.file("chain.dspeffect");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path : {fifo, std::string("/dev/zero"), std::string("/dev/null"), dir.path()}) {
        std::future<bool> loaded = std::async(std::launch::async, [path] {
            QString error;
            return KRADSPListPane::readChain(QString::fromStdString(path), &error).has_value() || error.isEmpty();
        });
        if (loaded.wait_for(std::chrono::minutes(5)) != std::future_status::ready) {
            const int writer = open(fifo.c_str(), O_WRONLY | O_NONBLOCK); // lets a blocked open go
            ADD_FAILURE() << path << " was waited on";
            loaded.wait();
            if (writer >= 0)
                close(writer);
            continue;
        }
        EXPECT_FALSE(loaded.get()) << path;
    }
}

TEST_F(DSPChainPane, TheKeyboardReachesEveryRowAction)
{
    *effects = Chain({"Crop", "Flip", "Rotate"});
    pane.setDspEffects(effects);
    QListWidget* table = pane.table();
    table->setFocus();
    table->setCurrentRow(0);
    QTest::keyClick(table, Qt::Key_Down, Qt::AltModifier);
    EXPECT_EQ(Names(*effects), QStringList({"Flip", "Crop", "Rotate"}));
    EXPECT_EQ(table->currentRow(), 1);
    QTest::keyClick(table, Qt::Key_Up, Qt::AltModifier);
    EXPECT_EQ(Names(*effects), QStringList({"Crop", "Flip", "Rotate"}));
    table->setCurrentRow(2);
    QTest::keyClick(table, Qt::Key_Delete);
    EXPECT_EQ(Names(*effects), QStringList({"Crop", "Flip"}));
    QTest::keyClick(table, Qt::Key_Return);
    Settle();
    ASSERT_NE(pane.settingsDialog(), nullptr);
    EXPECT_EQ(pane.settingsDialog()->spec().name, "Flip");
    pane.settingsDialog()->reject();
}

// The dialog belongs to the window: a pane that goes while it is open is not called back.
TEST(DSPChainPaneLifetime, APaneGoneBeforeItsDialogEndsIsLeftAlone)
{
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto pane = std::make_unique<KRADSPListPane>();
    layout->addWidget(pane->view());
    window.show();
    pane->onAddThisDSP(QStringLiteral("Fade"));
    Settle();
    QPointer<KRADSPSettingsDialog> dialog = pane->settingsDialog();
    ASSERT_NE(dialog, nullptr);
    pane.reset();
    dialog->reject();
    Settle();
    EXPECT_TRUE(dialog.isNull() || !dialog->isVisible());
}
