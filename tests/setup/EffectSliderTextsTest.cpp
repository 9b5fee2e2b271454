// The value beside each effect slider is the value the effect writes and reads back, at every
// step of the slider.

#include <gtest/gtest.h>

#include <QLabel>
#include <QRegularExpression>
#include <QSlider>

#include <memory>
#include <optional>

#include "setup/KRADSPPage.h"
#include "setup/KRADSPPageIndex.h"

namespace {

struct SliderLabel {
    QString effect;
    int slider;               // which slider of the page, in page order
    QString labelPattern;     // the value label, with the number captured; "-" before it for "Blur"
    QString key;              // what precedes the number in the written text
    QString alsoKey;          // a second place the same number is written, if any
    bool sharedSteps = false; // two positions show one value; it reads back as the first
};

// The number the value label shows.
std::optional<double> LabelNumber(const QString& label, const QString& pattern)
{
    const QRegularExpressionMatch match =
        QRegularExpression(QLatin1Char('^') + pattern + QLatin1Char('$')).match(label);
    if (!match.hasMatch())
        return std::nullopt;
    bool ok = false;
    const double value = match.captured(1).toDouble(&ok);
    if (!ok)
        return std::nullopt;
    return label.startsWith(QLatin1String("Blur")) ? -value : value;
}

// The number written after the key, as the text holds it.
std::optional<double> TextNumber(const QString& text, const QString& key)
{
    const QRegularExpressionMatch match =
        QRegularExpression(QRegularExpression::escape(key) + QStringLiteral("(-?[0-9]+(?:\\.[0-9]+)?)")).match(text);
    if (!match.hasMatch())
        return std::nullopt;
    return match.captured(1).toDouble();
}

QSlider* SliderOf(KRADSPPage& page, int index)
{
    const QList<QSlider*> sliders = page.pageView()->findChildren<QSlider*>();
    return index < sliders.size() ? sliders[index] : nullptr;
}

// The label drawn beside the slider in its row.
QLabel* ValueLabelOf(QSlider* slider)
{
    for (QLabel* label : slider->parentWidget()->findChildren<QLabel*>(Qt::FindDirectChildrenOnly))
        if (!label->buddy())
            return label;
    return nullptr;
}

} // namespace

TEST(EffectSliders, AtEveryStepTheLabelIsWhatIsWrittenAndReadBack)
{
    const SliderLabel cases[] = {
        {QStringLiteral("Sharpen & Blur"), 0, QStringLiteral("(?:Sharpen|Blur) ([0-9]+\\.[0-9]{2})"),
         QStringLiteral("luma_amount="), QStringLiteral("chroma_amount=")},
        {QStringLiteral("Brightness & Contrast"), 0, QStringLiteral("Brightness: (-?[0-9]+\\.[0-9]{2})"),
         QStringLiteral("brightness="), QString()},
        {QStringLiteral("Brightness & Contrast"), 1, QStringLiteral("Contrast: ([0-9]+\\.[0-9]{2})"),
         QStringLiteral("contrast="), QString()},
        {QStringLiteral("Hue & Saturation"), 0, QStringLiteral("Saturation ([0-9]+\\.[0-9])"), QStringLiteral("s="),
         QString()},
        {QStringLiteral("Denoiser (Wavelet)"), 0, QStringLiteral("Threshold ([0-9]+\\.[0-9])"),
         QStringLiteral("threshold="), QString()},
        {QStringLiteral("Denoiser (Wavelet)"), 1, QStringLiteral("Strength ([0-9]+)%"), QStringLiteral("percent="),
         QString()},
        {QStringLiteral("Denoiser (High Precision 3D)"), 0, QStringLiteral("Luma Spatial ([0-9.]+)"),
         QStringLiteral("luma_spatial="), QString(), true},
        {QStringLiteral("Denoiser (High Precision 3D)"), 1, QStringLiteral("Chroma Spatial ([0-9.]+)"),
         QStringLiteral("chroma_spatial="), QString(), true},
        {QStringLiteral("Denoiser (High Precision 3D)"), 2, QStringLiteral("Luma Temporal ([0-9.]+)"),
         QStringLiteral("luma_tmp="), QString(), true},
        {QStringLiteral("Audio Bitrate"), 0, QStringLiteral("([0-9]+) kbps"), QStringLiteral("-b:a "), QString()},
    };
    for (const SliderLabel& c : cases) {
        SCOPED_TRACE(c.effect.toStdString() + " slider " + std::to_string(c.slider));
        std::unique_ptr<KRADSPPage> page = KRADSPPageIndex::createFor(c.effect);
        ASSERT_TRUE(page);
        page->setDspArgs(QString());
        QSlider* slider = SliderOf(*page, c.slider);
        ASSERT_TRUE(slider);
        QLabel* label = ValueLabelOf(slider);
        ASSERT_TRUE(label);
        int steps = 0;
        for (int position = slider->minimum(); position <= slider->maximum(); ++position, ++steps) {
            slider->setValue(position);
            const QString shown = label->text();
            const QString written = page->dspArgs();
            const std::optional<double> labelled = LabelNumber(shown, c.labelPattern);
            ASSERT_TRUE(labelled) << "label \"" << shown.toStdString() << "\"";
            for (const QString& key : {c.key, c.alsoKey}) {
                if (key.isEmpty())
                    continue;
                const std::optional<double> inText = TextNumber(written, key);
                ASSERT_TRUE(inText) << written.toStdString();
                EXPECT_EQ(*inText, *labelled) << "at " << position << " the label reads \"" << shown.toStdString()
                                              << "\", the text is \"" << written.toStdString() << "\"";
            }
            // A stored chain opened again: the same slider position, label and text.
            std::unique_ptr<KRADSPPage> reopened = KRADSPPageIndex::createFor(c.effect);
            reopened->setDspArgs(written);
            QSlider* again = SliderOf(*reopened, c.slider);
            ASSERT_TRUE(again);
            if (!c.sharedSteps) {
                EXPECT_EQ(again->value(), position) << written.toStdString();
            }
            EXPECT_EQ(ValueLabelOf(again)->text(), shown) << written.toStdString();
            EXPECT_EQ(reopened->dspArgs(), written);
        }
        EXPECT_GT(steps, 1);
    }
}

TEST(EffectSliders, SharpenWritesTwoDecimalsOnlyWhereTheAmountHasThem)
{
    const std::pair<const char*, const char*> texts[] = {
        // Texts written before twentieths were kept read and write back as they were.
        {"-vf \"unsharp=luma_amount=0.1:chroma_amount=0.1\"", "-vf \"unsharp=luma_amount=0.1:chroma_amount=0.1\""},
        {"-vf \"unsharp=luma_amount=-1.5:chroma_amount=-1.5\"", "-vf \"unsharp=luma_amount=-1.5:chroma_amount=-1.5\""},
        {"-vf \"unsharp=luma_amount=5.0:chroma_amount=5.0\"", "-vf \"unsharp=luma_amount=5.0:chroma_amount=5.0\""},
        {"-vf \"unsharp=luma_amount=0.15:chroma_amount=0.15\"", "-vf \"unsharp=luma_amount=0.15:chroma_amount=0.15\""},
        // By hand: to the hundredth the label shows, and no "-0".
        {"-vf \"unsharp=luma_amount=0.333\"", "-vf \"unsharp=luma_amount=0.33:chroma_amount=0.33\""},
        {"-vf \"unsharp=luma_amount=-0.001\"", "-vf \"unsharp=luma_amount=0.0:chroma_amount=0.0\""},
    };
    for (const auto& [stored, written] : texts) {
        std::unique_ptr<KRADSPPage> page = KRADSPPageIndex::createFor(QStringLiteral("Sharpen & Blur"));
        page->setDspArgs(QString::fromUtf8(stored));
        EXPECT_EQ(page->dspArgs(), QString::fromUtf8(written)) << stored;
    }
    // A new effect writes the amount its label shows.
    std::unique_ptr<KRADSPPage> fresh = KRADSPPageIndex::createFor(QStringLiteral("Sharpen & Blur"));
    fresh->setDspArgs(QString());
    EXPECT_EQ(fresh->dspArgs(), "-vf \"unsharp=luma_amount=0.15:chroma_amount=0.15\"");
    QSlider* slider = SliderOf(*fresh, 0);
    ASSERT_TRUE(slider);
    EXPECT_EQ(ValueLabelOf(slider)->text(), "Sharpen 0.15");
}
