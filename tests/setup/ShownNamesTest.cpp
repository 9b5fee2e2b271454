// Names with an "&" show it wherever a window puts them (Qt would take the "&" of a caption for
// the marker of a keyboard mnemonic), and the windows' own keys stay as they were.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QKeySequence>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QTabBar>
#include <QVBoxLayout>

#include <map>
#include <memory>

#include "common/TestFiles.h"
#include "common/TestPreConvertHost.h"
#include "common/TestStore.h"
#include "media/QKExternalFFmpeg.h"
#include "setup/KRADSPListPane.h"
#include "setup/KRAProfileDialogs.h"
#include "xclass/XRegistry.h"

namespace {

const QStringList kAmpersandEffects = {QStringLiteral("Brightness & Contrast"), QStringLiteral("Hue & Saturation"),
                                       QStringLiteral("Sharpen & Blur")};

// The text Qt draws for a caption that takes a mnemonic: "&&" is an "&", a single "&" marks
// the next letter and is not drawn.
QString Drawn(const QString& caption)
{
    QString drawn;
    for (qsizetype i = 0; i < caption.size(); ++i) {
        if (caption[i] == QLatin1Char('&') && i + 1 < caption.size())
            ++i;
        drawn += caption[i];
    }
    return drawn;
}

// What the name looks like when its "&" was taken for a marker.
QString Mangled(const QString& name)
{
    return Drawn(name);
}

struct Shown {
    QString where;
    QString caption; // as set on the control
    QString drawn;   // as the user reads it
};

void AddMenu(QList<Shown>& out, const QString& where, const QMenu* menu)
{
    for (const QAction* action : menu->actions()) {
        if (action->isSeparator())
            continue;
        out.append({where + QStringLiteral(" menu item"), action->text(), Drawn(action->text())});
        if (action->menu())
            AddMenu(out, where, action->menu());
    }
}

// Every text of the window (menus given apart, as they are made when they open) and how it
// is drawn.
QList<Shown> TextsOf(QWidget* window, const QList<const QMenu*>& menus = {})
{
    QList<Shown> out;
    out.append({QStringLiteral("window title"), window->windowTitle(), window->windowTitle()});
    for (QWidget* widget : window->findChildren<QWidget*>()) {
        if (const auto* button = qobject_cast<QAbstractButton*>(widget))
            out.append({QStringLiteral("button"), button->text(), Drawn(button->text())});
        else if (const auto* label = qobject_cast<QLabel*>(widget))
            out.append({QStringLiteral("label"), label->text(), label->buddy() ? Drawn(label->text()) : label->text()});
        else if (const auto* box = qobject_cast<QGroupBox*>(widget))
            out.append({QStringLiteral("group box"), box->title(), Drawn(box->title())});
        else if (const auto* tabs = qobject_cast<QTabBar*>(widget))
            for (int i = 0; i < tabs->count(); ++i)
                out.append({QStringLiteral("tab"), tabs->tabText(i), Drawn(tabs->tabText(i))});
        else if (const auto* combo = qobject_cast<QComboBox*>(widget))
            for (int i = 0; i < combo->count(); ++i)
                out.append({QStringLiteral("pop-up item"), combo->itemText(i), combo->itemText(i)});
        else if (const auto* list = qobject_cast<QListWidget*>(widget))
            for (int i = 0; i < list->count(); ++i)
                out.append({QStringLiteral("list row"), list->item(i)->text(), list->item(i)->text()});
        for (const QAction* action : widget->actions())
            out.append({QStringLiteral("action"), action->text(), Drawn(action->text())});
    }
    for (const QMenu* menu : menus)
        AddMenu(out, QStringLiteral("pop-up"), menu);
    return out;
}

// Each name is drawn as it is somewhere in the texts and nowhere with its "&" taken away.
void ExpectNamesDrawnWhole(const QList<Shown>& texts, const QStringList& names, const std::string& window)
{
    for (const QString& name : names) {
        int whole = 0;
        for (const Shown& text : texts) {
            if (text.drawn.contains(name))
                ++whole;
            EXPECT_FALSE(text.drawn.contains(Mangled(name)))
                << window << ": " << text.where.toStdString() << " \"" << text.caption.toStdString() << "\" draws \""
                << text.drawn.toStdString() << "\"";
        }
        EXPECT_GT(whole, 0) << window << " shows \"" << name.toStdString() << "\" nowhere";
    }
}

// The Alt+letter keys the window's labels and buttons claim.
QStringList Mnemonics(QWidget* window)
{
    QStringList keys;
    for (QWidget* widget : window->findChildren<QWidget*>()) {
        QString caption;
        if (const auto* button = qobject_cast<QAbstractButton*>(widget))
            caption = button->text();
        else if (const auto* label = qobject_cast<QLabel*>(widget); label && label->buddy())
            caption = label->text();
        const QKeySequence key = QKeySequence::mnemonic(caption);
        if (!key.isEmpty())
            keys.append(key.toString());
    }
    return keys;
}

class ShownNames : public ::testing::Test {
protected:
    void SetUp() override
    {
        QKExternalFFmpeg::setProbe([] { return true; });
    }
    void TearDown() override
    {
        QKExternalFFmpeg::setProbe(nullptr);
        QApplication::processEvents();
    }
};

} // namespace

TEST_F(ShownNames, EffectNamesShowTheirAmpersandInTheChainEditorAndTheSettingsWindow)
{
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    KRADSPListPane pane;
    layout->addWidget(pane.view());
    QKDSPChain chain;
    for (const QString& name : kAmpersandEffects)
        chain.append(QKDSPSpec(name, QString()));
    pane.setDspEffects(std::make_shared<QKDSPChain>(chain));
    window.show();
    QApplication::processEvents();

    // The add menu: each item reads as the effect's name and claims no key.
    std::unique_ptr<QMenu> menu(pane.makeAddMenu());
    for (const QString& name : kAmpersandEffects) {
        const QAction* item = nullptr;
        for (const QAction* action : menu->actions())
            if (Drawn(action->text()) == name)
                item = action;
        ASSERT_NE(item, nullptr) << "no add-menu item reads \"" << name.toStdString() << "\"";
        EXPECT_TRUE(QKeySequence::mnemonic(item->text()).isEmpty()) << name.toStdString();
        EXPECT_EQ(item->iconText(), name); // Qt's own reading of the caption
    }
    ExpectNamesDrawnWhole(TextsOf(&window, {menu.get()}), kAmpersandEffects, "the chain editor");

    // Choosing the item adds the effect by its name, not by its caption.
    for (QAction* action : menu->actions())
        if (action->iconText() == QLatin1String("Sharpen & Blur"))
            action->trigger();
    QApplication::processEvents();
    ASSERT_EQ(pane.dspEffects()->size(), 4);
    EXPECT_EQ(pane.dspEffects()->last().name, "Sharpen & Blur");
    for (QWidget* top : QApplication::topLevelWidgets())
        if (auto* settings = qobject_cast<KRADSPSettingsDialog*>(top))
            settings->reject();
    QApplication::processEvents();

    // The settings window of each: its title, and the page's own keys still work.
    const std::map<QString, QStringList> keys = {
        {QStringLiteral("Brightness & Contrast"), {QStringLiteral("Alt+B"), QStringLiteral("Alt+C")}},
        {QStringLiteral("Hue & Saturation"), {QStringLiteral("Alt+H"), QStringLiteral("Alt+S")}},
        {QStringLiteral("Sharpen & Blur"), {QStringLiteral("Alt+A")}},
    };
    for (const QString& name : kAmpersandEffects) {
        KRADSPSettingsDialog dialog;
        dialog.setSpec(QKDSPSpec(name, QString()));
        dialog.show();
        QApplication::processEvents();
        EXPECT_EQ(dialog.windowTitle(), name);
        ExpectNamesDrawnWhole(TextsOf(&dialog), {name}, name.toStdString());
        const QStringList claimed = Mnemonics(&dialog);
        for (const QString& key : keys.at(name))
            EXPECT_TRUE(claimed.contains(key)) << name.toStdString() << " lost " << key.toStdString();
    }
}

TEST_F(ShownNames, AProfileNamedWithAnAmpersandShowsItInTheConverterSetup)
{
    TestStoreScope store;
    TestTempDir dir;
    XRegistry::SetDWORD(1, L"kRAAllowProfiles", L"HKCU", L"Software\\Brantok\\MarvoniVideo");
    const QString source = QString::fromStdString(dir.file("Tom & Jerry.mp4"));
    auto host = std::make_shared<TestPreConvertHost>(QStringList{source});
    auto dialog = host->openSetup(host);
    dialog->view();
    host->mainWindow()->show();
    ASSERT_TRUE(dialog->chooseItem(QStringLiteral("AVI")));
    ASSERT_TRUE(dialog->chooseItem(KRAPreConvertDialog::createProfileTitle()));
    ASSERT_TRUE(dialog->createProfileSheet());
    dialog->createProfileSheet()->setStrProfile(QStringLiteral("Cat & Mouse"));
    dialog->createProfileSheet()->onOK();
    QApplication::processEvents();
    const QString profile = QStringLiteral("Cat & Mouse \"AVI\"");
    ASSERT_EQ(host->config()->activeProfileName(), profile);
    dialog->dspList()->setDspEffectsString(QStringLiteral("-dspeffect1=\"Hue & Saturation=-vf hue='h=0:s=1.0'\""));
    QApplication::processEvents();

    EXPECT_EQ(dialog->encoderPickButton()->currentText(), profile);
    ExpectNamesDrawnWhole(TextsOf(host->mainWindow()), {profile, QStringLiteral("Hue & Saturation")},
                          "the converter setup");

    // Deleting it asks with the name as it is.
    ASSERT_TRUE(dialog->chooseItem(KRAPreConvertDialog::deleteProfileTitle()));
    QMessageBox* ask = dialog->openAlert();
    ASSERT_TRUE(ask);
    ExpectNamesDrawnWhole(TextsOf(ask), {profile}, "the delete question");
    ask->reject();
    QApplication::processEvents();
}
