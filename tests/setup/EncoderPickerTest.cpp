#include <gtest/gtest.h>

#include "common/QtTestPrint.h"

#include <QAction>
#include <QComboBox>
#include <QKeySequence>
#include <QPixmap>

#include "job/QKEncoderDesc.h"
#include "media/QKExternalFFmpeg.h"
#include "setup/QKEncoderMenus.h"

namespace {

// The picker's rows: names, "-" for a separator.
QStringList Rows(const QComboBox& picker)
{
    QStringList rows;
    for (int i = 0; i < picker.count(); ++i) {
        const QVariant data = picker.itemData(i);
        if (data.metaType() == QMetaType::fromType<QKEncoderDescRef>()) {
            const QKEncoderDescRef desc = data.value<QKEncoderDescRef>();
            EXPECT_EQ(desc->name(), picker.itemText(i));
            rows.append(desc->name());
        } else {
            EXPECT_TRUE(picker.itemText(i).isEmpty());
            rows.append(QStringLiteral("-"));
        }
    }
    return rows;
}

TEST(EncoderPicker, MultiEncoderFirstThenOrdinaryThenSpecial)
{
    QKExternalFFmpeg::setProbe(nullptr);
    QComboBox picker;
    picker.addItem(QStringLiteral("stale"));
    QKEncoderMenus::setupEncoderPicker(&picker, {QStringLiteral("AVI"), QStringLiteral("WebM (VP8)")});
    const QStringList rows = Rows(picker);
    ASSERT_EQ(rows.size(), 2 + 17);
    EXPECT_EQ(rows.mid(0, 2), (QStringList{"[Multi Encoder]", "-"}));
    EXPECT_FALSE(rows.contains(QStringLiteral("AVI")));
    EXPECT_FALSE(rows.contains(QStringLiteral("stale")));
    // Ordinary encoders sorted with case folded: "MP4 (copy...)" after "MP4 (Apple...)", and
    // the bracketed names made as ordinary codecs sort before the letters.
    EXPECT_EQ(rows.mid(2, 5), (QStringList{"[Contact Sheet]", "[Custom FFmpeg settings]", "[Preview Generator]",
                                           "Audio Extract (AAC)", "Audio Extract (MP3)"}));
    EXPECT_LT(rows.indexOf(QStringLiteral("MP4 (Apple H265)")),
              rows.indexOf(QStringLiteral("MP4 (copy, no encoding)")));
    EXPECT_EQ(rows.last(), QStringLiteral("WMV (Windows Media Video)"));

    // Without the multi-encoder there is no leading separator.
    QKEncoderMenus::setupEncoderPicker(&picker, {QStringLiteral("[Multi Encoder]")});
    EXPECT_EQ(Rows(picker).first(), QStringLiteral("[Contact Sheet]"));
    EXPECT_FALSE(Rows(picker).contains(QStringLiteral("-")));

    QKEncoderMenus::setupEncoderPicker(nullptr, {}); // nothing happens
}

TEST(EncoderPicker, EntriesCarryTheLogoOfTheirEncoder)
{
    QKEncoderDesc::setComboBoxLogoProvider([](const QString& name) {
        if (name != QLatin1String("AVI"))
            return QIcon();
        QPixmap pixmap(16, 16);
        pixmap.fill(Qt::red);
        return QIcon(pixmap);
    });
    QComboBox picker;
    QKEncoderMenus::setupEncoderPicker(&picker, {});
    const int avi = picker.findText(QStringLiteral("AVI"));
    ASSERT_GE(avi, 0);
    EXPECT_FALSE(picker.itemIcon(avi).isNull());
    EXPECT_TRUE(picker.itemIcon(picker.findText(QStringLiteral("Flash Video"))).isNull());

    const QKEncoderDescRef desc = QKEncoderDesc::makeVideoCodec(QStringLiteral("AVI"), QStringLiteral(".avi"));
    std::unique_ptr<QAction> item(QKEncoderMenus::makeMenuItem(*desc, nullptr));
    EXPECT_EQ(item->text(), QStringLiteral("AVI"));
    EXPECT_FALSE(item->icon().isNull());
    EXPECT_EQ(item->data().value<QKEncoderDescRef>(), desc);
    // A name with an "&" reads as it is in a menu and claims no key.
    const QKEncoderDescRef named = QKEncoderDesc::makeVideoCodec(QStringLiteral("Film & TV"), QStringLiteral(".mkv"));
    std::unique_ptr<QAction> namedItem(QKEncoderMenus::makeMenuItem(*named, nullptr));
    EXPECT_EQ(namedItem->iconText(), QStringLiteral("Film & TV"));
    EXPECT_TRUE(QKeySequence::mnemonic(namedItem->text()).isEmpty());
    QKEncoderDesc::setComboBoxLogoProvider(nullptr);
}

} // namespace
