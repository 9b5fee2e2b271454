// The bit-rate reading of the encoder pages on any stored text (profiles store them; users
// edit them): each line of the input is a rate as a page reads it. Nothing may crash; a rate
// that is read lies within the bounds, its step holds the text exactly, and the steps stay in
// rising order, whatever texts came before.
#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "setup/KREEncoderBitrates.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString input = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    KREBitrateSteps steps;
    for (const QString& text : input.split(QLatin1Char('\n'))) {
        const std::optional<double> kbps = KREEncoderBitrates::parseBitrate(text);
        if (kbps)
            fuzz::Check(*kbps >= 1.0 && *kbps <= 1000000.0, "a rate read beyond the bounds", text.toStdString());
        const std::optional<int> position = steps.positionOf(text);
        fuzz::Check(position.has_value() == (kbps.has_value() || KREEncoderBitrates::findBitrateIndex(text) !=
                                                                     KREEncoderBitrates::kNotFound),
                    "a readable rate without a step, or a step for an unreadable text", text.toStdString());
        fuzz::Check(steps.count() == KREEncoderBitrates::kCount || steps.count() == KREEncoderBitrates::kCount + 1,
                    "the steps grew beyond one extra");
        if (position) {
            fuzz::Check(*position >= 0 && *position < steps.count(), "a step beyond the slider", text.toStdString());
            fuzz::Check(steps.text(*position) == text, "the step does not hold the text read", text.toStdString());
        }
        double last = 0;
        for (int i = 0; i < steps.count(); ++i) {
            const std::optional<QString> stepText = steps.text(i);
            fuzz::Check(stepText.has_value(), "a step without a text");
            const std::optional<double> rate = KREEncoderBitrates::parseBitrate(*stepText);
            fuzz::Check(rate.has_value() && *rate > last, "the steps are not in rising order", stepText->toStdString());
            last = *rate;
            fuzz::Check(!steps.userText(i).isEmpty(), "a step without a label");
        }
        fuzz::Check(!steps.text(-1) && !steps.text(steps.count()), "a text beyond the steps");
    }
    return 0;
}
