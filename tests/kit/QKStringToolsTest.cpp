#include "kit/QKStringTools.h"
#include "common/TestFiles.h"
#include "common/ToolRun.h"
#include "kit/QKNamedImages.h"

#include <gtest/gtest.h>

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFragment>
#include <QTextImageFormat>

#include <filesystem>

namespace {

// What sh prints for `printf %s ESCAPED`: the text the shell made of the escaped argument.
std::string ThroughShell(const std::string& escaped)
{
    const ToolRunResult run = RunProcess({"/bin/sh", "-c", "printf %s " + escaped});
    EXPECT_EQ(run.status, 0) << escaped;
    return run.out;
}

TEST(EscapeCommandLineArgTest, PlainArgumentsStayAsTheyAre)
{
    EXPECT_EQ(QKStringTools::escapeCommandLineArg(QStringLiteral("abc.mp4")), QStringLiteral("abc.mp4"));
    EXPECT_EQ(QKStringTools::escapeCommandLineArg(QStringLiteral("/a/B_9+-.x")), QStringLiteral("/a/B_9+-.x"));
    EXPECT_EQ(QKStringTools::escapeCommandLineArg(QStringLiteral("a b")), QStringLiteral("\"a b\""));
    EXPECT_EQ(QKStringTools::escapeCommandLineArg(QString()), QStringLiteral("\"\""));
    EXPECT_EQ(QKStringTools::escapeCommandLineArg(QStringLiteral("say \"hi\"")), QStringLiteral("\"say \\\"hi\\\"\""));
}

TEST(EscapeCommandLineArgTest, HostileNamesSurviveTheShellAndRunNothing)
{
    TestTempDir dir;
    ASSERT_FALSE(dir.path().empty());
    const std::string marker = dir.file("pwned");
    const std::vector<std::string> names = {
        "a $(touch " + marker + ") `touch " + marker + "` \"q\" \\x y.mp4",
        "$HOME ${PATH} $1 $$ $? $",
        "back\\\\slash\\ end\\",
        "it's 'quoted' and \"double\"",
        "line\nbreak\ttab",
        "star * ? [a] ~ ! # & | ; < > ( ) { }",
        "\\\"`$",
        "caf\xc3\xa9 and a stray byte \xff here",
    };
    for (const std::string& name : names) {
        // The wide form is the one paths travel in; it keeps bytes that are not UTF-8.
        const XStr escaped = QKStringTools::escapeCommandLineArg(XStr::FromUTF8(name));
        EXPECT_EQ(ThroughShell(escaped.ToUTF8String()), name);
        if (name.find('\xff') == std::string::npos) {
            const QString q = QKStringTools::escapeCommandLineArg(QString::fromStdString(name));
            EXPECT_EQ(ThroughShell(q.toStdString()), name);
        }
    }
    EXPECT_FALSE(std::filesystem::exists(marker));
}

TEST(ImportColorsTest, MarkersColourTheTextAfterThem)
{
    const QKAttributedText text = QKStringTools::importColorsW(L"x_RGB_-RGB-255-000-000y");
    ASSERT_EQ(text.runs().size(), 2);
    EXPECT_EQ(text.runs()[0].text, QStringLiteral("x"));
    EXPECT_FALSE(text.runs()[0].color.isValid()); // the view's own colour
    EXPECT_EQ(text.runs()[1].text, QStringLiteral("y"));
    EXPECT_EQ(text.runs()[1].color, QColor(255, 0, 0));
    EXPECT_EQ(text.plainText(), QStringLiteral("xy"));
}

TEST(ImportColorsTest, FixedMarkersAndOddComponents)
{
    const QKAttributedText text =
        QKStringTools::importColorsW(L"_RGB_-RGB-000-000-120blue_RGB_-RGB-000-120-000green_RGB_-RGB-000-000-000plain"
                                     L"_RGB_-RGB-999-1x2-abcodd");
    ASSERT_EQ(text.runs().size(), 4);
    EXPECT_EQ(text.runs()[0].color, QKStringTools::systemBlueColor());
    EXPECT_EQ(text.runs()[1].color, QKStringTools::systemGreenColor());
    EXPECT_FALSE(text.runs()[2].color.isValid());
    EXPECT_EQ(text.runs()[3].text, QStringLiteral("odd"));
    EXPECT_EQ(text.runs()[3].color, QColor(255, 1, 0));
}

TEST(ImportColorsTest, CutOffMarkersAndEmptyInput)
{
    // Every cut-off length of a marker at the end: dropped, never read beyond.
    const std::wstring full = L"ab_RGB_-RGB-255-000-000";
    for (size_t length = 3; length < full.size(); ++length) {
        const std::wstring cut = full.substr(0, length);
        std::vector<wchar_t> buffer(cut.begin(), cut.end()); // on the heap, no slack after the 0
        buffer.push_back(0);
        buffer.shrink_to_fit();
        const QKAttributedText text = QKStringTools::importColorsW(buffer.data());
        const QString plain = text.plainText();
        EXPECT_TRUE(plain == QStringLiteral("ab") || (length < 12 && plain == QString::fromStdWString(cut)))
            << length << " " << plain.toStdString();
    }
    EXPECT_TRUE(QKStringTools::importColorsW(nullptr).isEmpty());
    EXPECT_TRUE(QKStringTools::importColorsW(L"").isEmpty());
    EXPECT_TRUE(QKStringTools::importColorsW(L"_RGB_-RGB-000-000-120").isEmpty());
}

TEST(ImportColorsTest, InsertedTextCarriesTheColours)
{
    QTextDocument document;
    QTextCursor cursor(&document);
    QKStringTools::importColorsW(L"one _RGB_-RGB-000-128-255two").insertInto(cursor);
    EXPECT_EQ(document.toPlainText(), QStringLiteral("one two"));
    const QTextBlock block = document.firstBlock();
    QList<QPair<QString, QBrush>> fragments;
    for (auto it = block.begin(); !it.atEnd(); ++it)
        fragments.append({it.fragment().text(), it.fragment().charFormat().foreground()});
    ASSERT_EQ(fragments.size(), 2);
    EXPECT_EQ(fragments[0].first, QStringLiteral("one "));
    EXPECT_EQ(fragments[0].second.style(), Qt::NoBrush);
    EXPECT_EQ(fragments[1].first, QStringLiteral("two"));
    EXPECT_EQ(fragments[1].second.color(), QColor(0, 128, 255));
}

TEST(NamedImageTest, SizedImageLeavesTheSharedImageAlone)
{
    QImage logo(32, 32, QImage::Format_ARGB32);
    logo.fill(Qt::red);
    QKNamedImages::registerImage(QStringLiteral("kit-test-logo"), logo);

    const auto sized = QKAttributedText::withImageNamed(QStringLiteral("kit-test-logo"), 16.0);
    ASSERT_TRUE(sized.has_value());
    ASSERT_EQ(sized->runs().size(), 1);
    EXPECT_EQ(sized->runs()[0].imageSize, QSizeF(16, 16));
    // Every other user still gets the image as it was.
    EXPECT_EQ(QKNamedImages::imageNamed(QStringLiteral("kit-test-logo")).size(), QSize(32, 32));
    const auto plain = QKAttributedText::withImageNamed(QStringLiteral("kit-test-logo"));
    ASSERT_TRUE(plain.has_value());
    EXPECT_TRUE(plain->runs()[0].imageSize.isEmpty());

    QTextDocument document;
    QTextCursor cursor(&document);
    sized->insertInto(cursor);
    const QTextFragment fragment = document.firstBlock().begin().fragment();
    ASSERT_TRUE(fragment.charFormat().isImageFormat());
    EXPECT_EQ(fragment.charFormat().toImageFormat().width(), 16.0);
    EXPECT_EQ(document.resource(QTextDocument::ImageResource, QUrl(fragment.charFormat().toImageFormat().name()))
                  .value<QImage>()
                  .size(),
              QSize(32, 32));

    EXPECT_FALSE(QKAttributedText::withImageNamed(QString()).has_value());
    EXPECT_FALSE(QKAttributedText::withImageNamed(QStringLiteral("kit-test-no-such-image"), QSizeF(8, 8)).has_value());
    EXPECT_FALSE(QKAttributedText::withImage(QImage()).has_value());
    EXPECT_TRUE(QKNamedImages::imageNamed(QStringLiteral("../etc/passwd")).isNull());
    QKNamedImages::registerImage(QStringLiteral("kit-test-logo"), QImage());
}

} // namespace
