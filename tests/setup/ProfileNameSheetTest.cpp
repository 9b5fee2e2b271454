// The sheet that names a batch profile: the names it refuses and the line that says why, its
// two choices, and its keys.
#include "common/QtWait.h"
#include "setup/KRAProfileDialogs.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QTest>

TEST(ProfileNameSheet, RefusesTakenAndUnusableNamesAndSaysWhy)
{
    QWidget window;
    window.show();
    auto* sheet = new KRAChooseProfileName(&window);
    sheet->setInvalidValues({QStringLiteral("Movies"), QStringLiteral("(none selected)")});
    sheet->setValidator([](const QString& text) {
        return text.contains(QLatin1Char('/')) ? QStringLiteral("No \"/\", please.") : QString();
    });
    int code = -1;
    QObject::connect(sheet, &QDialog::finished, [&](int result) { code = result; });
    sheet->open();
    EXPECT_EQ(sheet->edit()->text(), QStringLiteral("<profile name here>"));
    EXPECT_EQ(sheet->edit()->selectedText(), sheet->edit()->text());
    EXPECT_TRUE(sheet->saveSelection());
    EXPECT_FALSE(sheet->copyCurrent());
    EXPECT_TRUE(sheet->refusalLabel()->isHidden());

    sheet->edit()->setText(QStringLiteral("Movies"));
    EXPECT_FALSE(sheet->buttonOK()->isEnabled());
    EXPECT_EQ(sheet->refusalLabel()->text(),
              QStringLiteral("Please choose another profile name: \"Movies\" is taken."));
    sheet->edit()->setText(QStringLiteral("a/b"));
    EXPECT_EQ(sheet->refusalLabel()->text(), QStringLiteral("No \"/\", please."));
    // Return on a refused name keeps the sheet open.
    QTest::keyClick(sheet->edit(), Qt::Key_Return);
    QCoreApplication::processEvents();
    EXPECT_EQ(code, -1);
    EXPECT_TRUE(sheet->value().isEmpty());

    sheet->edit()->setText(QStringLiteral("Movies 2"));
    EXPECT_TRUE(sheet->refusalLabel()->isHidden());
    // The choices answer the keyboard too.
    QTest::keyClick(sheet->copyCurrentBox(), Qt::Key_Space);
    QTest::keyClick(sheet->saveSelectionBox(), Qt::Key_Space);
    EXPECT_TRUE(sheet->copyCurrent());
    EXPECT_FALSE(sheet->saveSelection());
    QTest::keyClick(sheet->edit(), Qt::Key_Return);
    ASSERT_TRUE(WaitFor([&] { return code != -1; }));
    EXPECT_EQ(code, 1);
    EXPECT_EQ(sheet->value(), QStringLiteral("Movies 2"));
    delete sheet;
}

TEST(ProfileNameSheet, EscapeCancels)
{
    QWidget window;
    window.show();
    KRAChooseProfileName sheet(&window);
    int code = -1;
    QObject::connect(&sheet, &QDialog::finished, [&](int result) { code = result; });
    sheet.open();
    QTest::keyClick(sheet.edit(), Qt::Key_Escape);
    ASSERT_TRUE(WaitFor([&] { return code != -1; }));
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(sheet.value().isEmpty());
}
