// The output-location picker: which rows it offers and which it selects, what each command
// leaves in the naming it edits, and the recent locations.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>

#include "common/TestEnv.h"
#include "common/TestFiles.h"
#include "common/TestStore.h"
#include "naming/KRADynamicNamingDialogV2_Context.h"
#include "naming/KRAFileNaming.h"
#include "naming/ui/KRADynamicNamingDialogV2.h"
#include "naming/ui/KRAOutputLocationPickerV2.h"
#include "platform/XStrQString.h"

namespace {

QStringList RowTexts(const KRAOutputLocationPickerV2& picker)
{
    QStringList texts;
    for (const KRAOutputLocationPickerEntry& row : picker.rows())
        texts.append(row.displayValue.isEmpty() && row.naming ? QStringLiteral("<%1>").arg(row.naming->description())
                                                              : row.displayValue);
    return texts;
}

class OutputLocationPicker : public ::testing::Test {
protected:
    OutputLocationPicker() : videos(dir.file("Videos")), other(dir.file("Other"))
    {
        std::filesystem::create_directories(videos);
        std::filesystem::create_directories(other);
    }
    // A picker on a naming, shown, with an encoder that writes files.
    std::unique_ptr<KRAOutputLocationPickerV2> make(const KRAFileNamingRef& naming, bool allowSameFolder = true)
    {
        auto picker = std::make_unique<KRAOutputLocationPickerV2>();
        auto context = std::make_shared<KRADynamicNamingDialogV2_Context>();
        context->setAllowSameFolder(allowSameFolder);
        picker->setNamingDialogContext(context);
        picker->setChangeHandler([this] { ++changes; });
        picker->view();
        picker->setFileNaming(naming);
        picker->setEncoder(QKEncoderDesc::makeVideoCodec(QStringLiteral("AVI"), QStringLiteral(".avi")));
        return picker;
    }

    TestStoreScope store;
    TestTempDir dir;
    std::string videos;
    std::string other;
    TestEnvScope xdgVideos{"XDG_VIDEOS_DIR", videos};
    TestEnvScope home{"HOME", dir.path()};
    int changes = 0;
};

} // namespace

TEST_F(OutputLocationPicker, RowsAndSelection)
{
    const KRAFileNamingRef defaultNaming =
        KRAFileNaming::namingSingleFolderLoc(KRALocationDescriptor::withDefaultFolder());
    ASSERT_TRUE(defaultNaming->destination());

    // The default folder is the naming: it is offered once, and selected.
    auto picker = make(defaultNaming->copy());
    QStringList texts = RowTexts(*picker);
    ASSERT_EQ(texts.mid(0, 5), (QStringList{"Edit Dynamic Naming", "Existing Source Folder(s)", "Single Folder",
                                            "Preserve Source Path", "---"}));
    EXPECT_EQ(texts.size(), 6);
    EXPECT_EQ(picker->selectedRow(), 5);
    EXPECT_EQ(picker->comboBox()->currentIndex(), 5);

    // A naming that is nowhere else comes first after the commands; the default stays last.
    const KRAFileNamingRef elsewhere =
        KRAFileNaming::namingPreservePath(QUrl::fromLocalFile(QString::fromStdString(other)));
    auto second = make(elsewhere);
    texts = RowTexts(*second);
    EXPECT_EQ(second->selectedRow(), 5);
    EXPECT_TRUE(texts[5].startsWith('<'));
    EXPECT_EQ(texts.size(), 7);
    EXPECT_EQ(second->rows()[6].naming->dynamicFormat(), QStringLiteral("[origfilename]"));

    // Commands are red; locations take the naming's own description.
    const QKAttributedText command = second->rows()[0].attributedDescription();
    ASSERT_FALSE(command.runs().isEmpty());
    EXPECT_TRUE(command.runs()[0].color.isValid());
    EXPECT_EQ(second->rows()[5].attributedDescription().plainText(), elsewhere->description());

    // Without source-relative naming only two commands remain.
    auto narrow = make(defaultNaming->copy(), false);
    EXPECT_EQ(RowTexts(*narrow).mid(0, 3), (QStringList{"Edit Dynamic Naming", "Single Folder", "---"}));

    // An encoder that writes no folder output shows one disabled row; an ordinary one brings
    // the rows back.
    auto special = QKEncoderDesc::makeVideoCodec(QStringLiteral("[Special]"), QString());
    special->disableConvertToFolder = true;
    second->setEncoder(special);
    EXPECT_FALSE(second->isEnabled());
    EXPECT_EQ(second->comboBox()->count(), 1);
    EXPECT_EQ(second->comboBox()->currentText(), QStringLiteral("not required for encoder"));
    EXPECT_FALSE(second->comboBox()->isEnabled());
    second->setEncoder(QKEncoderDesc::makeVideoCodec(QStringLiteral("AVI"), QStringLiteral(".avi")));
    EXPECT_EQ(RowTexts(*second), texts);
}

TEST_F(OutputLocationPicker, CommandsEditTheNamingInPlace)
{
    const KRAFileNamingRef naming = KRAFileNaming::namingSameFolder();
    auto picker = make(naming);
    EXPECT_EQ(picker->selectedRow(), 1) << "Existing Source Folder(s)";
    naming->setAnsiOnly(true);

    const QString folder = QString::fromStdString(other);
    picker->singleFolderChosen(folder);
    EXPECT_EQ(picker->fileNaming(), naming) << "the same object";
    EXPECT_EQ(naming->fileNamingType(), uint64_t(FileNamingDynamic));
    EXPECT_EQ(naming->dynamicFormat(), QStringLiteral("[origfilename]"));
    EXPECT_EQ(XStrToQString(naming->destination()->path()), folder);
    EXPECT_TRUE(naming->ansiOnly()) << "character settings stay";
    EXPECT_EQ(changes, 1);

    picker->preservePathChosen(folder);
    EXPECT_EQ(naming->dynamicFormat(), QStringLiteral("[origpath]/[origfilename]"));
    EXPECT_EQ(XStrToQString(naming->destination()->path()), folder);
    const int selected = picker->selectedRow();
    ASSERT_GE(selected, 0);
    EXPECT_TRUE(picker->rows()[selected].naming->isEqualTo(naming.get()));

    // A cancelled chooser changes nothing and keeps the row.
    picker->singleFolderChosen(QString());
    EXPECT_EQ(naming->dynamicFormat(), QStringLiteral("[origpath]/[origfilename]"));
    EXPECT_EQ(picker->selectedRow(), selected);
    EXPECT_EQ(changes, 2);

    // Choosing "Existing Source Folder(s)" as a row.
    picker->selectRow(1);
    EXPECT_TRUE(naming->isSameFolder());
    EXPECT_EQ(changes, 3);

    // The naming dialog: OK takes its template and folder, Cancel nothing.
    auto* dialog = new KRADynamicNamingDialogV2(picker->namingDialogContext(), true);
    dialog->setCurPattern(QStringLiteral("[artist]/[title]"));
    dialog->setBaseLocation(QStringLiteral("Music"));
    picker->namingDialogEnded(dialog, 0);
    EXPECT_TRUE(naming->isSameFolder());
    picker->namingDialogEnded(dialog, 1);
    EXPECT_EQ(naming->dynamicFormat(), QStringLiteral("[artist]/[title]"));
    EXPECT_EQ(XStrToQString(naming->destination()->path()), QString::fromStdString(dir.file("Music")));
    delete dialog;
}

TEST_F(OutputLocationPicker, RecentLocations)
{
    const KRAFileNamingRef naming = KRAFileNaming::namingSameFolder();
    auto picker = make(naming);
    picker->saveToRecentList();
    EXPECT_TRUE(picker->recentList().isEmpty()) << "the source folder is never remembered";

    picker->singleFolderChosen(QString::fromStdString(other));
    picker->saveToRecentList();
    picker->preservePathChosen(QString::fromStdString(other));
    picker->saveToRecentList();
    picker->singleFolderChosen(QString::fromStdString(other));
    picker->saveToRecentList();
    const QList<KRAFileNamingRef> recent = picker->recentList();
    ASSERT_EQ(recent.size(), 2) << "an equal entry moves to the front";
    EXPECT_EQ(recent[0]->dynamicFormat(), QStringLiteral("[origfilename]"));
    EXPECT_EQ(recent[1]->dynamicFormat(), QStringLiteral("[origpath]/[origfilename]"));

    // A new picker reads them back and offers them after the commands.
    auto again = make(KRAFileNaming::namingSameFolder());
    ASSERT_EQ(again->recentList().size(), 2);
    EXPECT_EQ(again->rows()[5].naming->dynamicFormat(), QStringLiteral("[origfilename]"));
}
