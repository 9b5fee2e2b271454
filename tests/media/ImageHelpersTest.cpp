// The image helpers the contact sheet is drawn with, and what the album-art drop target takes
// from a pasteboard.
#include <QMimeData>
#include <QUrl>

#include <gtest/gtest.h>

#include "common/TestFiles.h"
#include "media/QKImageHelpers.h"
#include "media/XGDI.h"
#include "media/ui/KRAAlbumArtControl.h"

TEST(ImageHelpers, BitmapsTextAndExports)
{
    const QImage blank = QKImage::imageWithSizeInPixels(QSize(100, 50));
    EXPECT_EQ(QKImage::sizeInPixels(blank), QSize(100, 50));
    EXPECT_TRUE(QKImage::imageWithSizeInPixels(QSize(0, 5)).isNull());

    XBitmap sheet;
    ASSERT_TRUE(sheet.Create(120, 80));
    sheet.FillSolid(255);
    EXPECT_EQ(sheet.m_image.pixelColor(5, 5), QColor(255, 0, 0));

    XBitmap tile, small;
    ASSERT_TRUE(tile.Create(40, 40));
    tile.FillSolid(0xFF0000); // blue
    ASSERT_TRUE(ResizeImage(tile, small, 10, 8));
    EXPECT_EQ(small.m_image.size(), QSize(10, 8));
    ASSERT_TRUE(small.BitBltTo(sheet, 30, 20));
    EXPECT_EQ(sheet.m_image.pixelColor(31, 21), QColor(0, 0, 255));
    EXPECT_EQ(sheet.m_image.pixelColor(41, 21), QColor(255, 0, 0)) << "drawn in its own size only";

    XTextDC dc(sheet, 14, 0xFFFFFF);
    const QSize extent = dc.GetTextExtent(XStr(L"Marvoni"));
    EXPECT_GT(extent.width(), 20);
    EXPECT_GT(extent.height(), 8);
    dc.TextOut(60, 50, XStr(L"Marvoni"));
    int lit = 0;
    for (int y = 50; y < 50 + extent.height(); ++y)
        for (int x = 60; x < 60 + extent.width() && x < 120; ++x)
            lit += sheet.m_image.pixelColor(x, y).green() > 128;
    EXPECT_GT(lit, 10) << "the text was drawn where it was asked for";

    XBuffer bmp{};
    ASSERT_TRUE(sheet.Save(bmp));
    EXPECT_EQ(bmp.Data[0], 'B');
    XBitmap missing;
    EXPECT_FALSE(missing.Load(XStr(L"/nonexistent/picture.png")));
    EXPECT_FALSE(missing.Save(bmp));
    EXPECT_EQ(bmp.Size, 0u);
    bmp.Free();

    QImage back;
    ASSERT_TRUE(back.loadFromData(QKImage::exportPNG(sheet.m_image)));
    EXPECT_EQ(back.size(), QSize(120, 80));
    EXPECT_FALSE(QKImage::exportJPEG(sheet.m_image).isEmpty());
}

TEST(ImageHelpers, AlbumArtFromAPasteboard)
{
    TestTempDir dir;
    XBitmap picture;
    ASSERT_TRUE(picture.Create(4, 4));
    const QByteArray png = QKImage::exportPNG(picture.m_image);
    WriteTestFile(dir.file("cover.png"), png.toStdString());
    WriteTestFile(dir.file("notes.txt"), "not a picture");

    QMimeData image;
    image.setUrls({QUrl::fromLocalFile(QString::fromStdString(dir.file("cover.png")))});
    EXPECT_TRUE(QKAlbumArt::albumArtAvailable(&image));
    EXPECT_EQ(QKAlbumArt::albumArtGetData(&image), png);
    EXPECT_TRUE(QKAlbumArt::albumArtGetJPEGData(&image).isEmpty()) << "a PNG is no JPEG";

    QMimeData text;
    text.setUrls({QUrl::fromLocalFile(QString::fromStdString(dir.file("notes.txt")))});
    EXPECT_FALSE(QKAlbumArt::albumArtAvailable(&text));
    EXPECT_TRUE(QKAlbumArt::albumArtGetURL(&text).isEmpty());

    QMimeData link;
    link.setText(QStringLiteral("WWW.example.org/cover"));
    EXPECT_EQ(QKAlbumArt::albumArtGetWebLink(&link), QStringLiteral("WWW.example.org/cover"));
    link.setText(QStringLiteral("ftp://example.org"));
    EXPECT_TRUE(QKAlbumArt::albumArtGetWebLink(&link).isEmpty());
}
