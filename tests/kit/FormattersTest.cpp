#include "kit/KRANumberFormatters.h"
#include "kit/KRATableRowPlain.h"
#include "kit/KRATimeFormatter.h"

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QStandardItemModel>
#include <QStyleOptionViewItem>

#include <cmath>
#include <limits>

namespace {

QVariant Parse(const KRAFormatter& formatter, const QString& text, bool* ok = nullptr, QString* error = nullptr)
{
    QVariant value;
    const bool parsed = formatter.getObjectValue(&value, text, error);
    if (ok)
        *ok = parsed;
    return value;
}

TEST(DecibelFormatterTest, ShowsAndParses)
{
    KRADecibelFormatter f;
    EXPECT_EQ(f.stringForObjectValue(3), QStringLiteral("3 dB"));
    EXPECT_EQ(f.stringForObjectValue(-1.5), QStringLiteral("-1.50 dB"));
    EXPECT_EQ(Parse(f, QStringLiteral(" -6 dB ")).toDouble(), -6.0);
    EXPECT_EQ(Parse(f, QStringLiteral("2.5DB")).toDouble(), 2.5);
    f.setMaxValue(12.0);
    f.setMinValue(-20.0);
    EXPECT_EQ(Parse(f, QStringLiteral("20")).toDouble(), 12.0);
    EXPECT_EQ(Parse(f, QStringLiteral("-30 dB")).toDouble(), -20.0);
    QString error = QStringLiteral("old");
    bool ok = false;
    Parse(f, QStringLiteral("1"), &ok, &error);
    EXPECT_TRUE(ok);
    EXPECT_TRUE(error.isEmpty());
}

TEST(DecibelFormatterTest, ExtremeValuesAreShownWithoutOverflow)
{
    EXPECT_EQ(KRADecibelFormatter::formatNumber(1e20), QStringLiteral("100000000000000000000"));
    EXPECT_EQ(KRADecibelFormatter::formatNumber(-3e9), QStringLiteral("-3000000000"));
    EXPECT_FALSE(KRADecibelFormatter::formatNumber(std::numeric_limits<double>::infinity()).isEmpty());
    EXPECT_FALSE(KRADecibelFormatter::formatNumber(std::nan("")).isEmpty());
}

TEST(HexFormatterTest, DigitsAndParsing)
{
    KRAHexFormatter f;
    EXPECT_EQ(f.stringForObjectValue(0), QStringLiteral("0"));
    EXPECT_EQ(f.stringForObjectValue(QVariant::fromValue<qulonglong>(0xFFFFFFFFFFFFFFFFull)),
              QStringLiteral("FFFFFFFFFFFFFFFF"));
    f.setDigits(4);
    EXPECT_EQ(f.stringForObjectValue(255), QStringLiteral("00FF"));
    EXPECT_EQ(f.stringForObjectValue(0x12345), QStringLiteral("2345"));
    EXPECT_EQ(f.stringForObjectValue(QStringLiteral("12")), QString()); // not a number
    f.setDigits(1000000);
    EXPECT_EQ(f.importVal(1).size(), 64);
    EXPECT_EQ(Parse(f, QStringLiteral("ff")).toULongLong(), 255u);
    EXPECT_EQ(Parse(f, QStringLiteral(" 1aG")).toULongLong(), 26u);
}

TEST(FileSizeFormatterTest, DisplayOnly)
{
    KRAFileSizeFormatter f;
    f.setBlankIfNull(true);
    EXPECT_EQ(f.stringForObjectValue(0), QString());
    EXPECT_EQ(f.stringForObjectValue(-5), QString()); // a negative size counts as none
    EXPECT_EQ(f.editingStringForObjectValue(1234), QString());
    QString error;
    bool ok = true;
    Parse(f, QStringLiteral("12"), &ok, &error);
    EXPECT_FALSE(ok);
    EXPECT_EQ(error, QStringLiteral("Unsupported"));
    QString typed = QStringLiteral("1");
    int pos = 1;
    EXPECT_EQ(f.validate(typed, pos), QValidator::Invalid);
    EXPECT_FALSE(f.isEditable());
}

TEST(FrequencyFormatterTest, UnitsAndDecimals)
{
    KRAFrequencyFormatter f;
    EXPECT_EQ(f.stringForObjectValue(-5), QStringLiteral("0 Hz"));
    EXPECT_EQ(f.stringForObjectValue(48000), QStringLiteral("48000 Hz"));
    EXPECT_EQ(Parse(f, QStringLiteral("44.1 kHz")).toLongLong(), 44100);
    EXPECT_EQ(Parse(f, QStringLiteral("48000")).toLongLong(), 48000);
    EXPECT_EQ(Parse(f, QStringLiteral(" 22050HZ\n")).toLongLong(), 22050);
    EXPECT_EQ(Parse(f, QStringLiteral("2.8224 MHz")).toLongLong(), 2822400);
    EXPECT_EQ(Parse(f, QStringLiteral("1 GHz")).toLongLong(), 1000000000);
    EXPECT_EQ(Parse(f, QStringLiteral("99999999999999999999 GHz")).toLongLong(), std::numeric_limits<qlonglong>::max());
    f.setMinValue(8000);
    f.setMaxValue(192000);
    EXPECT_EQ(Parse(f, QStringLiteral("1 MHz")).toLongLong(), 192000);
    EXPECT_EQ(Parse(f, QStringLiteral("100")).toLongLong(), 8000);
}

TEST(TimeFormatterTest, Shows)
{
    KRATimeFormatter f;
    EXPECT_EQ(f.stringForObjectValue(QVariant::fromValue<qulonglong>(3723456)), QStringLiteral("1:02:03.456"));
    EXPECT_EQ(f.stringForObjectValue(63000), QStringLiteral("0:01:03"));
    EXPECT_EQ(f.stringForObjectValue(-5), QStringLiteral("0:00:00"));
    EXPECT_EQ(KRATimeFormatter::formatValueMS(63000, false), QStringLiteral("1:03"));
    EXPECT_EQ(KRATimeFormatter::formatValueMS(std::numeric_limits<uint64_t>::max(), false),
              QStringLiteral("5124095576030:25:51.615"));
}

TEST(TimeFormatterTest, ParsesFieldsAndCarriesOver)
{
    KRATimeFormatter f;
    EXPECT_EQ(Parse(f, QStringLiteral("1:02:03.456")).toULongLong(), 3723456u);
    EXPECT_EQ(Parse(f, QStringLiteral("75")).toULongLong(), 75000u); // 1:15, not 0:59
    EXPECT_EQ(Parse(f, QStringLiteral("1:75")).toULongLong(), 135000u);
    EXPECT_EQ(Parse(f, QStringLiteral("1:2:75.4")).toULongLong(), 3795400u);
    EXPECT_EQ(Parse(f, QStringLiteral("-3:10")).toULongLong(), 10000u);
    EXPECT_EQ(Parse(f, QStringLiteral("99999999999999999999:0:0")).toULongLong(),
              static_cast<qulonglong>(std::numeric_limits<int64_t>::max()));
    EXPECT_EQ(Parse(f, QStringLiteral("1e300")).toULongLong(),
              static_cast<qulonglong>(std::numeric_limits<int64_t>::max()));

    QString error;
    bool ok = true;
    Parse(f, QStringLiteral("a:b:c:d"), &ok, &error);
    EXPECT_FALSE(ok);
    EXPECT_EQ(error, QStringLiteral("Invalid time format!"));
}

TEST(CDTimeFormatterTest, WholeSeconds)
{
    CDTimeFormatter f;
    EXPECT_EQ(f.stringForObjectValue(63), QStringLiteral("1:03"));
    EXPECT_EQ(f.stringForObjectValue(QStringLiteral("n/a")), QStringLiteral("n/a"));
    EXPECT_EQ(Parse(f, QStringLiteral("1:03.6")).toULongLong(), 63u);
    // Seconds whose milliseconds do not fit are held at the largest whole second that does.
    EXPECT_EQ(f.stringForObjectValue(QVariant::fromValue<qulonglong>(std::numeric_limits<qulonglong>::max())),
              QStringLiteral("5124095576030:25:51"));
}

TEST(FormatterTest, LineEditAcceptsOnlyWhatParsesAndFixesItUp)
{
    KRATimeFormatter f;
    QString text = QStringLiteral("1:2:3:4");
    int pos = 0;
    EXPECT_EQ(f.validate(text, pos), QValidator::Intermediate);
    text = QStringLiteral("75");
    EXPECT_EQ(f.validate(text, pos), QValidator::Acceptable);
    f.fixup(text);
    EXPECT_EQ(text, QStringLiteral("0:01:15"));

    QLineEdit edit;
    edit.setValidator(&f);
    edit.setText(QStringLiteral("1:2:3:4"));
    EXPECT_FALSE(edit.hasAcceptableInput());
    edit.setText(QStringLiteral("1:30"));
    EXPECT_TRUE(edit.hasAcceptableInput());
}

TEST(FormatterTest, DelegateShowsAndEditsCells)
{
    KRAFrequencyFormatter f;
    KRAFormatterDelegate delegate(&f);
    QStandardItemModel model(1, 1);
    const QModelIndex index = model.index(0, 0);
    model.setData(index, 44100, Qt::EditRole);
    EXPECT_EQ(delegate.displayText(index.data(), QLocale()), QStringLiteral("44100 Hz"));

    QWidget parent;
    QWidget* editor = delegate.createEditor(&parent, QStyleOptionViewItem(), index);
    auto* line = qobject_cast<QLineEdit*>(editor);
    ASSERT_NE(line, nullptr);
    delegate.setEditorData(editor, index);
    EXPECT_EQ(line->text(), QStringLiteral("44100 Hz"));
    line->setText(QStringLiteral("48 kHz"));
    delegate.setModelData(editor, &model, index);
    EXPECT_EQ(model.data(index).toLongLong(), 48000);

    KRAFileSizeFormatter sizes;
    KRAFormatterDelegate readOnly(&sizes);
    EXPECT_EQ(readOnly.createEditor(&parent, QStyleOptionViewItem(), index), nullptr);
}

TEST(GrayedTest, SwitchesTheTextColour)
{
    QLineEdit field;
    EXPECT_FALSE(grayed(&field));
    setGrayed(&field, true);
    EXPECT_TRUE(grayed(&field));
    EXPECT_TRUE(field.isEnabled());
    setGrayed(&field, false);
    EXPECT_FALSE(grayed(&field));

    KRATableRowPlain row;
    {
        QLineEdit text(&row);
        row.setTextField(&text);
        EXPECT_EQ(row.textField(), &text);
    }
    EXPECT_EQ(row.textField(), nullptr); // weak
}

} // namespace
