// The contact sheet page: what it writes into an empty host, what it reads back, and the
// numbers of hand-edited texts kept in range and drawable.
#include <gtest/gtest.h>

#include <QColorDialog>
#include <QRandomGenerator>

#include "common/TestPageHost.h"
#include "job/QKElemValueList.h"
#include "setup/KRAEncoderPageIndex.h"
#include "setup/KREEncoderPageContactSheet.h"

namespace {

using Page = KREEncoderPageContactSheet;

// The page opened on the host, as a host shows it.
std::unique_ptr<Page> Open(TestPageHost& host)
{
    auto page = std::make_unique<Page>(&host);
    page->pageView();
    return page;
}

QString Defaults()
{
    return "-contact_col 4 -contact_row 4 -contact_png 1 -contact_width 1920 -contact_padding 4 "
           "-contact_backcol 000000 -contact_topinfo 1";
}

TEST(ContactSheetPage, FreshPageWritesItsDefaultsAndAStoredOneReadsBack)
{
    TestPageHost host;
    auto page = Open(host);
    EXPECT_EQ(host.encoderArgs(), Defaults());
    EXPECT_EQ(host.encoderArgsV2().customFormatExt, QString(".png"));

    // A complete stored text is taken as it is and not written again.
    TestPageHost stored(Defaults());
    auto again = Open(stored);
    EXPECT_TRUE(stored.sent.isEmpty());
    EXPECT_EQ(again->pageArgs(), Defaults());
}

TEST(ContactSheetPage, EachControlRoundTripsThroughAFreshPage)
{
    TestPageHost host;
    auto page = Open(host);
    QWidget* view = page->pageView();
    const QList<QSpinBox*> boxes = view->findChildren<QSpinBox*>();
    ASSERT_EQ(boxes.size(), 4);
    boxes[0]->setValue(6);    // columns
    boxes[1]->setValue(3);    // rows
    boxes[2]->setValue(1280); // width
    boxes[3]->setValue(10);   // padding
    view->findChild<QComboBox*>()->setCurrentIndex(1);
    view->findChild<QCheckBox*>()->setChecked(false);
    page->setBackColor(QColor(0, 255, 0));
    const QString written = host.encoderArgs();
    EXPECT_EQ(written, "-contact_col 6 -contact_row 3 -contact_jpeg 1 -contact_width 1280 -contact_padding 10 "
                       "-contact_backcol 00FF00");
    EXPECT_EQ(host.encoderArgsV2().customFormatExt, QString(".jpeg"));

    TestPageHost next(written);
    auto reread = Open(next);
    EXPECT_EQ(reread->columns(), 6);
    EXPECT_EQ(reread->rows(), 3);
    EXPECT_EQ(reread->finalWidth(), 1280);
    EXPECT_EQ(reread->padding(), 10);
    EXPECT_EQ(reread->format(), "JPEG");
    EXPECT_EQ(reread->backColor(), QColor(0, 255, 0));
    EXPECT_EQ(reread->topInformation(), false); // the header stays off
    EXPECT_TRUE(next.sent.isEmpty());
    EXPECT_EQ(reread->pageArgs(), written);
}

TEST(ContactSheetPage, ColoursReadAndWriteBlueGreenRed)
{
    EXPECT_EQ(Page::exportColor(QColor(255, 0, 0)), "0000FF");
    EXPECT_EQ(Page::exportColor(QColor(0, 0, 255)), "FF0000");
    EXPECT_EQ(Page::importColor(QString("0000FF")), QColor(255, 0, 0));
    EXPECT_EQ(Page::importColor(QString("zz")), QColor(0, 0, 0));
    EXPECT_EQ(Page::importColor(QString("0x102030")), QColor(0x30, 0x20, 0x10));
    EXPECT_EQ(Page::importColor(QString("FFFFFFFFFFFFFFFFFFFF")), QColor(255, 255, 255));
    EXPECT_FALSE(Page::importColor(std::nullopt));
}

TEST(ContactSheetPage, ZeroPaddingAndAbsurdNumbersAreRepaired)
{
    // Padding 0 cannot be kept; letters and negative numbers read as missing.
    TestPageHost host("-contact_col abc -contact_row=\"-5\" -contact_png 1 -contact_width 1920 -contact_padding 0");
    auto page = Open(host);
    EXPECT_EQ(page->columns(), 4);
    EXPECT_EQ(page->rows(), 4);
    EXPECT_EQ(page->padding(), 4);
    const QKElemValueList written(host.encoderArgs());
    EXPECT_EQ(written.findIntValue("contact_padding"), 4);
    EXPECT_FALSE(written.containsElem("contact_topinfo")); // the stored text had the header off

    // Far too large: the page's tops, never a wrapped-around number.
    TestPageHost huge("-contact_col 99999999 -contact_row 99999999999999 -contact_width 99999999 "
                      "-contact_padding 99999999999");
    auto big = Open(huge);
    EXPECT_EQ(big->columns(), Page::kMaxColumns);
    EXPECT_EQ(big->rows(), Page::kMaxRows);
    EXPECT_LE(*big->finalWidth(), Page::kMaxWidth);
    // ... and thumbnails that can still be drawn: the padding gave way.
    const int cols = *big->columns();
    EXPECT_GE((*big->finalWidth() - (cols - 1) * *big->padding()) / cols, Page::kMinThumbWidth);
    EXPECT_FALSE(huge.sent.isEmpty());

    // A sheet too narrow for its columns is widened.
    TestPageHost narrow("-contact_col 100 -contact_row 1 -contact_width 20 -contact_padding 1");
    auto wide = Open(narrow);
    EXPECT_EQ(wide->padding(), 1);
    EXPECT_EQ(wide->finalWidth(), 100 * Page::kMinThumbWidth + 99);
}

TEST(ContactSheetPage, CodecChoicesSetTheFormat)
{
    TestPageHost host;
    auto page = Open(host);
    ASSERT_EQ(page->codecChoices(), QStringList({"PNG", "JPEG"}));
    page->selectCodecChoice(1);
    EXPECT_TRUE(QKElemValueList(host.encoderArgs()).containsElem("contact_jpeg"));
    EXPECT_EQ(host.encoderArgsV2().customFormatExt, QString(".jpeg"));
    const QString before = host.encoderArgs();
    page->selectCodecChoice(7);
    EXPECT_EQ(host.encoderArgs(), before);
}

TEST(ContactSheetPage, RandomAndCutTextsGiveValuesInRange)
{
    QRandomGenerator random(20);
    const QString full = "-contact_col 7 -contact_row 5 -contact_jpeg 1 -contact_width 3000 -contact_padding 12 "
                         "-contact_backcol 00FF00 -contact_topinfo 1";
    const QStringList pieces = {"-contact_col",
                                "-contact_row",
                                "-contact_width",
                                "-contact_padding",
                                "-contact_backcol",
                                "-contact_png",
                                "-contact_jpeg",
                                "\"",
                                "=",
                                " ",
                                "-",
                                "99999999999",
                                "-7",
                                "abc",
                                "0",
                                "1e9",
                                "1.5",
                                "\\"};
    for (int round = 0; round < 300; round++) {
        QString text;
        if (round < full.size())
            text = full.left(round);
        else
            for (int i = random.bounded(12); i > 0; i--)
                text += pieces[random.bounded(int(pieces.size()))] + (random.bounded(2) ? " " : "");
        TestPageHost host(text);
        auto page = Open(host);
        SCOPED_TRACE(text.toStdString());
        ASSERT_TRUE(page->columns() && page->rows() && page->finalWidth() && page->padding());
        EXPECT_GE(*page->columns(), 1);
        EXPECT_LE(*page->columns(), Page::kMaxColumns);
        EXPECT_GE(*page->rows(), 1);
        EXPECT_LE(*page->rows(), Page::kMaxRows);
        EXPECT_GE(*page->finalWidth(), Page::kMinWidth);
        EXPECT_LE(*page->finalWidth(), Page::kMaxWidth);
        EXPECT_GE(*page->padding(), 1);
        EXPECT_LE(*page->padding(), Page::kMaxPadding);
        // What the page holds is what a fresh page reads back from it.
        TestPageHost next(page->pageArgs());
        EXPECT_EQ(Open(next)->pageArgs(), page->pageArgs());
    }
}

TEST(ContactSheetPage, AColourChosenAfterThePageWentReachesNothing)
{
    TestPageHost host;
    QPointer<QColorDialog> dialog;
    {
        auto page = Open(host);
        QWidget window;
        page->pageView()->setParent(&window);
        page->pageView()->findChild<QPushButton*>()->click();
        dialog = window.findChild<QColorDialog*>();
        ASSERT_TRUE(dialog);
        dialog->setParent(nullptr); // outlives the window and the page
        page.reset();
    }
    const QString before = host.encoderArgs();
    ASSERT_TRUE(dialog);
    emit dialog->colorSelected(QColor(255, 255, 0));
    EXPECT_EQ(host.encoderArgs(), before);
    delete dialog;
}

TEST(ContactSheetPage, IndexMakesThePage)
{
    TestPageHost host;
    auto page = KRAEncoderPageIndex::createFor("[Contact Sheet]", &host);
    ASSERT_TRUE(dynamic_cast<Page*>(page.get()));
}

} // namespace
