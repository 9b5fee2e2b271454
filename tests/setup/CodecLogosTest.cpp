// Every encoder of the catalogue has a logo the program ships, in every size it is shown at.

#include <gtest/gtest.h>

#include <QComboBox>

#include "job/KRECodecs.h"
#include "setup/KRACodecLogos.h"

TEST(KRACodecLogos, EveryEncoderHasItsShippedLogo)
{
    QStringList names = {"[Multi Encoder]"};
    for (const auto& list : {KRECodecs::listEncodersLGPL(), KRECodecs::listEncodersGPL()})
        for (const QKEncoderDescRef& desc : list)
            names.append(desc->name());
    ASSERT_EQ(names.size(), 28);
    for (const QString& name : names) {
        const QImage square = KRACodecLogos::squareLogoOfCodec(name);
        ASSERT_FALSE(square.isNull()) << name.toStdString() << " -> "
                                      << KRACodecLogos::logoNameOfCodec(name).toStdString();
        EXPECT_EQ(KRACodecLogos::comboBoxLogoOfCodec(name).size(), QSize(16, 16));
    }
    EXPECT_EQ(KRACodecLogos::logoNameOfCodec("AVI (XviD/DivX)"), "AVI-square");
    EXPECT_TRUE(KRACodecLogos::comboBoxLogoOfCodec("No Such Encoder").isNull());
}

TEST(KRACodecLogos, PickerEntriesWithoutAnIconGetTheirLogo)
{
    QComboBox picker;
    picker.addItem("WebM (VP9)");
    picker.addItem("No Such Encoder");
    KRACodecLogos::addLogosToPicker(&picker);
    EXPECT_FALSE(picker.itemIcon(0).isNull());
    EXPECT_TRUE(picker.itemIcon(1).isNull());
}
