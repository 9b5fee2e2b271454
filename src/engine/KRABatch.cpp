#include "engine/KRABatch.h"

#include <algorithm>
#include <limits>

#include <QRegularExpression>

#include "engine/KRAArgText.h"
#include "engine/KRAMultiEncConfig.h"
#include "engine/QKConvertProcessShared.h"
#include "job/QKElemValueList.h"
#include "platform/XStrQString.h"

namespace {

// A whole decimal number of at least 1, blanks around it allowed; 0 for anything else (an
// empty value, "0", "-2", "two", "3x", a number too large to count).
uint64_t ParseSlotCount(const QString& text)
{
    const QString digits = text.trimmed();
    if (digits.isEmpty())
        return 0;
    uint64_t value = 0;
    for (const QChar c : digits) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return 0;
        const uint64_t digit = static_cast<uint64_t>(c.unicode() - '0');
        if (value > (std::numeric_limits<uint64_t>::max() - digit) / 10)
            return 0;
        value = value * 10 + digit;
    }
    return value;
}

// The encoder part of an ordinary batch: the page's arguments without "-PNGOPTIMIZE", a
// marker of the image pages that ffmpeg does not know.
QString EncoderPart(const QString& strArgs)
{
    if (strArgs.isEmpty())
        return strArgs;
    const QString marker = QStringLiteral("-PNGOPTIMIZE");
    // Split with empty parts kept, so that rejoining keeps every other blank as it was.
    QStringList tokens = strArgs.split(QLatin1Char(' '), Qt::KeepEmptyParts);
    if (!tokens.contains(marker))
        return strArgs;
    tokens.removeAll(marker);
    return tokens.join(QLatin1Char(' '));
}

bool IsPixelFormatItem(const KRAArgItem& item)
{
    if (!item.isElement)
        return false;
    const QString name = XStrToQString(item.name).toLower();
    return name == QLatin1String("pix_fmt") || name.startsWith(QLatin1String("pix_fmt:"));
}

// The encoder part without its pixel format when an effect sets one: ffmpeg takes the last
// "-pix_fmt" of a command, which would be the encoder's, and the user's choice is the
// effect's. Without an effect's pixel format the part stays exactly as it was.
QString WithoutEncoderPixelFormat(const QString& encoder, const QStringList& effectParts)
{
    bool effectSetsOne = false;
    for (const QString& part : effectParts) {
        for (const KRAArgItem& item : parseArgItems(XStrFromQString(part)))
            effectSetsOne = effectSetsOne || IsPixelFormatItem(item);
    }
    if (!effectSetsOne)
        return encoder;
    std::vector<KRAArgItem> items = parseArgItems(XStrFromQString(encoder));
    const auto removed = std::remove_if(items.begin(), items.end(), IsPixelFormatItem);
    if (removed == items.end())
        return encoder;
    items.erase(removed, items.end());
    return XStrToQString(writeArgItems(items));
}

// The Frame Rate effect's arguments ("-r 25") with the fps filter for the same rate. "-r" alone
// drops frames for a lower rate but, into a container that keeps each frame's own time
// (Matroska, WebM), repeats none for a higher one: the output would claim the rate and still
// show the source's frames per second. The filter repeats and drops for every container, in
// the effect's place among the chain's picture filters. A rate that is not a plain number or
// fraction is left to "-r" alone.
QString FrameRateArgs(const QString& args)
{
    static const QRegularExpression plainRate(QStringLiteral("^[0-9]+([./][0-9]+)?$"));
    const std::optional<QString> rate = QKElemValueList(args).findValue(QStringLiteral("r"));
    if (!rate || !plainRate.match(*rate).hasMatch())
        return args;
    return args + QStringLiteral(" -vf fps=") + *rate;
}

// Whether the encoder arguments copy the video rather than encode it: no filter reaches a
// copied stream, and ffmpeg refuses one given for it.
bool CopiesVideo(const QString& args)
{
    const QKElemValueList list(args);
    for (const char* name : {"vcodec", "c:v", "codec:v", "c", "codec"}) {
        const std::optional<QString> value = list.findValue(QLatin1String(name));
        if (value && value->compare(QLatin1String("copy"), Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

} // namespace

KRABatch::KRABatch(std::shared_ptr<QKConversionSpec> spec) : m_spec(std::move(spec))
{
    if (!m_spec)
        m_spec = std::make_shared<QKConversionSpec>();
}

uint64_t KRABatch::userThreadCount() const
{
    for (const QKDSPSpec& dsp : m_spec->dspEffects) {
        if (dsp.name != multiCPUForceName())
            continue;
        const QKElemValueList list(dsp.args);
        if (const std::optional<QString> value = list.findValue(threadCountElement()))
            return ParseSlotCount(*value);
    }
    return 0;
}

QString KRABatch::argsOfDSP(const QKDSPSpec& dsp, bool encodesVideo)
{
    if (dsp.name == QKConvertProcessShared::deleteSourceName() || dsp.name == QKConvertProcessShared::playSoundName())
        return QString();
    if (dsp.name == multiCPUForceName()) {
        QKElemValueList list(dsp.args);
        // Every pair of the element goes: only the other elements are ffmpeg's.
        while (list.containsElem(threadCountElement()))
            list.clearElem(threadCountElement());
        return list.mergeToString_alternate();
    }
    if (!encodesVideo)
        return dsp.args;
    if (dsp.name == frameRateName())
        return FrameRateArgs(dsp.args);
    // A share of the source's size is odd as often as not, which H.264, H.265 and every other
    // encoder of 4:2:0 pictures refuse: the last column or row of an odd side is cut off.
    if ((dsp.name == QLatin1String("Scale Percentage") || dsp.name == QLatin1String("Scale Maximum")) &&
        !dsp.args.trimmed().isEmpty())
        return dsp.args + QStringLiteral(" -vf crop=trunc(iw/2)*2:trunc(ih/2)*2");
    return dsp.args;
}

void KRABatch::mergeDSP(const QKDSPChain& chain, QStringList& into, bool encodesVideo)
{
    for (const QKDSPSpec& dsp : chain) {
        const QString part = argsOfDSP(dsp, encodesVideo);
        if (!part.isEmpty())
            into.append(part);
    }
}

QString KRABatch::commandLine() const
{
    QStringList parts;
    const QString encoderText = EncoderPart(m_spec->EncoderArgsV2.strArgs);
    mergeDSP(m_spec->dspEffects, parts, !CopiesVideo(encoderText));
    const QString encoder = WithoutEncoderPixelFormat(encoderText, parts);
    if (!encoder.isEmpty())
        parts.append(encoder);
    return parts.join(QLatin1Char(' '));
}

QString KRABatch::multiCommandLine(const KRAMultiEncEntry* entry) const
{
    QStringList parts;
    const bool encodesVideo = !entry || !CopiesVideo(entry->encoderArgsV2.strArgs);
    mergeDSP(m_spec->dspEffects, parts, encodesVideo);
    if (entry) {
        mergeDSP(entry->dspEffects, parts, encodesVideo);
        const QString encoder = WithoutEncoderPixelFormat(entry->encoderArgsV2.strArgs, parts);
        if (!encoder.isEmpty())
            parts.append(encoder);
    }
    return parts.join(QLatin1Char(' '));
}

KRASpecialActions KRABatch::prepareSpecialActions(const KRAMultiEncEntry* entry) const
{
    const QSet<QString> names = QKConvertProcessShared::specialActionNames();
    KRASpecialActions actions;
    const auto collect = [&](const QKDSPChain& chain) {
        for (const QKDSPSpec& dsp : chain)
            if (names.contains(dsp.name))
                actions.insert(dsp.name, dsp);
    };
    collect(m_spec->dspEffects);
    if (entry)
        collect(entry->dspEffects);
    return actions;
}

KRASpecialActions KRABatch::pullActionArgs(QString& args)
{
    std::vector<KRAArgItem> items = parseArgItems(XStrFromQString(args));
    std::vector<KRAArgItem> kept;
    QStringList deleteWords;
    QKElemValueList sounds;
    bool found = false;
    for (KRAArgItem& item : items) {
        const QString name = item.isElement ? XStrToQString(item.name) : QString();
        const bool deleteWord = name == QLatin1String("DELSOURCERECYCLE") || name == QLatin1String("DELSOURCEPERM") ||
                                name == QLatin1String("DELSOURCEREMOVEEMPTY");
        const bool soundWord = name == QLatin1String("playsound") || name == QLatin1String("playsounderr");
        if (!deleteWord && !soundWord && name != threadCountElement()) {
            kept.push_back(std::move(item));
            continue;
        }
        found = true;
        if (deleteWord) {
            deleteWords.append(QLatin1Char('-') + name);
            // The delete words take no value: a word after one is the command's own.
            if (!item.value.IsEmpty())
                kept.push_back(KRAArgItem{false, item.value, XStr()});
        } else if (soundWord && !sounds.containsElem(name)) {
            sounds.addElem(name, XStrToQString(item.value));
        }
    }
    KRASpecialActions actions;
    if (!found)
        return actions;
    if (!deleteWords.isEmpty()) {
        const QString name = QKConvertProcessShared::deleteSourceName();
        actions.insert(name, QKDSPSpec(name, deleteWords.join(QLatin1Char(' '))));
    }
    if (sounds.count() > 0) {
        const QString name = QKConvertProcessShared::playSoundName();
        actions.insert(name, QKDSPSpec(name, sounds.mergeToString_alternate()));
    }
    args = XStrToQString(writeArgItems(kept));
    return actions;
}
