// The files-already-exist dialog: its caption follows the files, outputs the batch cannot
// write keep it from going on, renames are checked, the keyboard, and the three ways out.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

#include <unistd.h>

#include "common/MediaTestFiles.h"
#include "common/QtWait.h"
#include "common/TestEnv.h"
#include "common/TestFiles.h"
#include "common/TestStore.h"
#include "naming/KRAFileNaming.h"
#include "naming/ui/KRAFileAlreadyExistsDialog.h"
#include "platform/XWorkspace.h"

namespace {

class FileAlreadyExists : public ::testing::Test {
protected:
    // Sources a, b, c in the folder; outputs a.mkv (exists), b.mkv and c.mkv named alike
    // ("same.mkv", which does not exist).
    KRACheckFilenamesStateRef makeState()
    {
        for (const char* name : {"a.mov", "b.mov", "c.mov", "a.mkv"})
            WriteTextFile(dir.file(name), "x");
        auto state = std::make_shared<KRACheckFilenamesState>();
        const auto add = [&](const char* source, const char* destination) {
            auto entry = std::make_shared<KRACheckFileNamesEntry>();
            entry->namingURL = QUrl::fromLocalFile(QString::fromStdString(dir.file(source)));
            entry->destination = QUrl::fromLocalFile(QString::fromStdString(dir.file(destination)));
            KRACheckFilenames::updateSameAsSource(*entry);
            state->entries.append(entry);
        };
        add("a.mov", "a.mkv");
        add("b.mov", "same.mkv");
        add("c.mov", "same.mkv");
        state->alreadyExists.insert(state->entries[0]->destination);
        return state;
    }
    bool waitForCheck(KRAFileAlreadyExistsDialog& dialog)
    {
        QSignalSpy spy(&dialog, &KRAFileAlreadyExistsDialog::checked);
        return spy.wait(300000);
    }

    TestStoreScope store;
    TestTempDir dir;
    TestEnvScope home{"HOME", dir.path()};
};

} // namespace

TEST_F(FileAlreadyExists, CaptionAndBlockingNames)
{
    KRAFileAlreadyExistsDialog dialog;
    dialog.setState(makeState());
    ASSERT_EQ(dialog.items().size(), 3) << "the existing file and the two that share a name";
    ASSERT_TRUE(waitForCheck(dialog));
    EXPECT_EQ(dialog.okButtonText(), QStringLiteral("Overwrite"));
    EXPECT_FALSE(dialog.okButton()->isEnabled()) << "two outputs would overwrite each other";
    dialog.onButtonOverwrite();
    QApplication::processEvents();
    EXPECT_EQ(dialog.result(), 0);

    // Skipping one of the pair lets the batch go on; skipping the existing one makes it
    // "Continue".
    dialog.setChecked(2, false);
    EXPECT_TRUE(dialog.okButton()->isEnabled());
    dialog.setChecked(0, false);
    ASSERT_TRUE(waitForCheck(dialog));
    EXPECT_EQ(dialog.okButtonText(), QStringLiteral("Continue"));
    dialog.setChecked(0, true);
    ASSERT_TRUE(waitForCheck(dialog));
    EXPECT_EQ(dialog.okButtonText(), QStringLiteral("Overwrite"));
}

TEST_F(FileAlreadyExists, RenamesAreCheckedAndStayWhereTheUserSays)
{
    KRAFileAlreadyExistsDialog dialog;
    const KRACheckFilenamesStateRef state = makeState();
    dialog.setState(state);
    const QUrl before = state->entries[1]->destination;
    for (const char* bad : {"", "   ", "clip", "Videos/clip"}) {
        EXPECT_FALSE(dialog.setDisplayPath(QString::fromUtf8(bad), 1)) << bad;
        EXPECT_FALSE(dialog.lastRefusal().isEmpty());
        EXPECT_EQ(state->entries[1]->destination, before) << bad;
    }
    // A whole path renames the file, keeping its extension; a name that exists is found.
    ASSERT_TRUE(dialog.setDisplayPath(QString::fromStdString(dir.file("a")), 1));
    EXPECT_EQ(state->entries[1]->destination.toLocalFile(), QString::fromStdString(dir.file("a.mkv")));
    EXPECT_FALSE(dialog.okButton()->isEnabled()) << "now two outputs are a.mkv";
    ASSERT_TRUE(dialog.setDisplayPath(QStringLiteral("~/other"), 1));
    EXPECT_EQ(state->entries[1]->destination.toLocalFile(), QString::fromStdString(dir.file("other.mkv")));
    EXPECT_TRUE(dialog.okButton()->isEnabled());
    // Renaming an output onto its own source is caught.
    ASSERT_TRUE(dialog.setDisplayPath(QString::fromStdString(dir.file("c")), 2));
    ASSERT_TRUE(dialog.setDisplayPath(QString::fromStdString(dir.file("c.mov")), 2));
    EXPECT_TRUE(state->entries[2]->destination.toLocalFile().endsWith(QStringLiteral("c.mov.mkv")));

    // The date goes at the end of every name, the extension stays, nothing exists any more.
    dialog.onMenuAppendDate();
    for (int row = 0; row < 3; ++row) {
        EXPECT_TRUE(dialog.displayPathAt(row).contains(QStringLiteral(" - "))) << row;
        EXPECT_TRUE(state->entries[row]->destination.toLocalFile().endsWith(QStringLiteral(".mkv")));
    }
    ASSERT_TRUE(waitForCheck(dialog));
    EXPECT_EQ(dialog.okButtonText(), QStringLiteral("Continue"));
}

TEST_F(FileAlreadyExists, SpaceTicksTheSelectionAndReturnRenamesRowAfterRow)
{
    KRAFileAlreadyExistsDialog dialog;
    const KRACheckFilenamesStateRef state = makeState();
    dialog.setState(state);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog, 300000));
    ASSERT_TRUE(waitForCheck(dialog));
    KRATableView* table = dialog.table();
    table->setFocus();
    const auto key = [&](Qt::Key which) {
        QWidget* target = table->currentEditor() ? table->currentEditor() : static_cast<QWidget*>(table);
        QTest::keyClick(target, which);
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents();
    };

    // The existing file and one of the pair: skipping both leaves nothing to overwrite and
    // nothing clashing.
    table->selectRow(0);
    table->selectionModel()->select(dialog.tableModel()->index(1, 0),
                                    QItemSelectionModel::Select | QItemSelectionModel::Rows);
    key(Qt::Key_Space);
    EXPECT_FALSE(state->entries[0]->checked || state->entries[1]->checked);
    EXPECT_TRUE(state->entries[2]->checked);
    EXPECT_TRUE(WaitFor([&] { return dialog.okButtonText() == QStringLiteral("Continue"); }));
    EXPECT_TRUE(dialog.okButton()->isEnabled());
    key(Qt::Key_Space);
    EXPECT_TRUE(state->entries[0]->checked && state->entries[1]->checked);
    EXPECT_TRUE(WaitFor([&] { return dialog.okButtonText() == QStringLiteral("Overwrite"); }));

    // Return renames and moves on to the next destination; it does not press the OK button,
    // which the pair no longer blocks.
    dialog.setChecked(2, false);
    ASSERT_TRUE(dialog.okButton()->isEnabled());
    table->beginEditRow(0, 1);
    auto* line = qobject_cast<QLineEdit*>(table->currentEditor());
    ASSERT_NE(line, nullptr);
    line->setText(QString::fromStdString(dir.file("renamed")));
    key(Qt::Key_Return);
    EXPECT_EQ(state->entries[0]->destination.toLocalFile(), QString::fromStdString(dir.file("renamed.mkv")));
    EXPECT_EQ(table->editedIndex(), dialog.tableModel()->index(1, 1));
    EXPECT_TRUE(dialog.isVisible());
    // A refused name keeps editing where it is.
    qobject_cast<QLineEdit*>(table->currentEditor())->setText(QStringLiteral("no path"));
    key(Qt::Key_Return);
    EXPECT_FALSE(dialog.lastRefusal().isEmpty());
    EXPECT_EQ(table->currentEditor(), nullptr);
    EXPECT_TRUE(dialog.isVisible());
}

TEST_F(FileAlreadyExists, WaysOut)
{
    {
        // Others still ticked: the rest is converted.
        const KRACheckFilenamesStateRef state = makeState();
        auto other = std::make_shared<KRACheckFileNamesEntry>();
        other->destination = QUrl::fromLocalFile(QString::fromStdString(dir.file("fine.mkv")));
        state->entries.append(other);
        KRAFileAlreadyExistsDialog dialog;
        dialog.setState(state);
        dialog.show();
        dialog.onButtonNoToAll();
        QApplication::processEvents();
        EXPECT_EQ(dialog.result(), 1);
        EXPECT_EQ(state->numItemsChecked(), 1);
    }
    {
        KRAFileAlreadyExistsDialog dialog;
        dialog.setState(makeState());
        dialog.show();
        dialog.onButtonNoToAll();
        QApplication::processEvents();
        EXPECT_EQ(dialog.result(), 0) << "nothing left to convert";
    }
    // Closed while a check runs: its answer is dropped.
    auto* dialog = new KRAFileAlreadyExistsDialog;
    dialog->setState(makeState());
    delete dialog;
    QApplication::processEvents();
}

namespace {

// An entry from a source to a destination, its files looked at as the check does.
KRACheckFileNamesEntryRef Entry(const std::string& source, const std::string& destination)
{
    auto entry = std::make_shared<KRACheckFileNamesEntry>();
    entry->namingURL = QUrl::fromLocalFile(QString::fromStdString(source));
    entry->destination = QUrl::fromLocalFile(QString::fromStdString(destination));
    KRACheckFilenames::updateSameAsSource(*entry);
    return entry;
}

QString Note(KRAFileAlreadyExistsDialog& dialog, int row)
{
    return dialog.tableModel()->item(row, 2)->text();
}

} // namespace

TEST_F(FileAlreadyExists, NamesShowTheirExtensionAndNotesFollowRenames)
{
    KRAFileAlreadyExistsDialog dialog;
    const KRACheckFilenamesStateRef state = makeState();
    dialog.setState(state);
    EXPECT_EQ(dialog.displayPathAt(0), QStringLiteral("~/a.mkv"));
    EXPECT_EQ(dialog.tableModel()->item(0, 1)->text(), QStringLiteral("~/a.mkv"));
    EXPECT_EQ(Note(dialog, 0), QStringLiteral("Exists"));
    dialog.setChecked(2, false);
    EXPECT_EQ(Note(dialog, 2), QStringLiteral("Skipped"));

    // A free name is no longer "Exists"; the extension is kept whether typed or not.
    ASSERT_TRUE(dialog.setDisplayPath(QStringLiteral("~/free"), 0));
    EXPECT_EQ(state->entries[0]->destination.toLocalFile(), QString::fromStdString(dir.file("free.mkv")));
    EXPECT_EQ(dialog.displayPathAt(0), QStringLiteral("~/free.mkv"));
    EXPECT_EQ(Note(dialog, 0), QStringLiteral("New name"));
    ASSERT_TRUE(dialog.setDisplayPath(QStringLiteral("~/free.MKV"), 0));
    EXPECT_EQ(state->entries[0]->destination.toLocalFile(), QString::fromStdString(dir.file("free.mkv")));
    ASSERT_TRUE(dialog.setDisplayPath(QStringLiteral("~/free.mp4"), 0));
    EXPECT_EQ(state->entries[0]->destination.toLocalFile(), QString::fromStdString(dir.file("free.mp4.mkv")));
    ASSERT_TRUE(dialog.setDisplayPath(QString::fromStdString(dir.file("a.mkv")), 0));
    EXPECT_EQ(state->entries[0]->destination.toLocalFile(), QString::fromStdString(dir.file("a.mkv")));
    EXPECT_EQ(Note(dialog, 0), QStringLiteral("Exists"));

    // The date's ":" is replaced as in every other name (":" -> ";" by default), and the date
    // goes before the extension.
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    dialog.onMenuAppendDate();
    QLocale::setDefault(before);
    for (int row = 0; row < 3; ++row) {
        const QString path = state->entries[row]->destination.toLocalFile();
        EXPECT_FALSE(path.contains(QLatin1Char(':'))) << path.toStdString();
        EXPECT_TRUE(path.contains(QLatin1Char(';'))) << path.toStdString();
        EXPECT_TRUE(path.endsWith(QStringLiteral(".mkv"))) << path.toStdString();
        EXPECT_FALSE(path.endsWith(QStringLiteral(".mkv.mkv"))) << path.toStdString();
        EXPECT_FALSE(dialog.displayPathAt(row).contains(QLatin1Char(':')));
    }
    EXPECT_EQ(Note(dialog, 0), QStringLiteral("New name"));
    ASSERT_TRUE(waitForCheck(dialog));
    EXPECT_EQ(dialog.okButtonText(), QStringLiteral("Continue"));
}

// Renames that look harmless as text: onto another row's output through a link to the
// folder, and onto another source of the batch.
TEST_F(FileAlreadyExists, RenamesOntoAnotherOutputOrSourceAreCaught)
{
    for (const char* name : {"s/a.mp4", "s/b.mp4", "out/a.mp4", "out/b.mp4"}) {
        std::filesystem::create_directories(std::filesystem::path(dir.file(name)).parent_path());
        WriteTextFile(dir.file(name), "x");
    }
    ASSERT_EQ(symlink(".", dir.file("out/link-to-out").c_str()), 0);
    const auto makeTwo = [&] {
        auto state = std::make_shared<KRACheckFilenamesState>();
        state->entries = {Entry(dir.file("s/a.mp4"), dir.file("out/a.mp4")),
                          Entry(dir.file("s/b.mp4"), dir.file("out/b.mp4"))};
        for (const KRACheckFileNamesEntryRef& entry : state->entries)
            state->alreadyExists.insert(entry->destination);
        return state;
    };
    {
        KRAFileAlreadyExistsDialog dialog;
        const KRACheckFilenamesStateRef state = makeTwo();
        dialog.setState(state);
        ASSERT_TRUE(dialog.okButton()->isEnabled());
        ASSERT_TRUE(dialog.setDisplayPath(QString::fromStdString(dir.file("out/link-to-out/a")), 1));
        EXPECT_EQ(Note(dialog, 1), QStringLiteral("Another file of this batch gets this name"));
        EXPECT_EQ(Note(dialog, 0), QStringLiteral("Another file of this batch gets this name"));
        EXPECT_TRUE(dialog.tableModel()->item(1, 2)->toolTip().contains(QString::fromStdString(dir.file("out/a.mp4"))));
        EXPECT_FALSE(dialog.okButton()->isEnabled());
        dialog.onButtonOverwrite();
        QApplication::processEvents();
        EXPECT_EQ(dialog.result(), 0);
    }
    {
        KRAFileAlreadyExistsDialog dialog;
        const KRACheckFilenamesStateRef state = makeTwo();
        dialog.setState(state);
        ASSERT_TRUE(dialog.setDisplayPath(QString::fromStdString(dir.file("s/b")), 0));
        EXPECT_EQ(state->entries[0]->destination.toLocalFile(), QString::fromStdString(dir.file("s/b.mp4")));
        EXPECT_EQ(Note(dialog, 0), QStringLiteral("This is the source of another file of this batch"));
        EXPECT_TRUE(dialog.tableModel()->item(0, 2)->toolTip().contains(QString::fromStdString(dir.file("s/b.mp4"))));
        EXPECT_FALSE(dialog.okButton()->isEnabled());
        // Through a link to the source folder as well; unticking b leaves an ordinary file.
        ASSERT_EQ(symlink("s", dir.file("s-link").c_str()), 0);
        ASSERT_TRUE(dialog.setDisplayPath(QString::fromStdString(dir.file("s-link/b")), 0));
        EXPECT_FALSE(dialog.okButton()->isEnabled());
        dialog.setChecked(1, false);
        EXPECT_EQ(Note(dialog, 0), QStringLiteral("Exists"));
        EXPECT_TRUE(dialog.okButton()->isEnabled());
    }
}
