#include "kit/QKStringTools.h"

#include "kit/UnitFormat.h"
#include "platform/XStrQString.h"
#include "xclass/XFormat.h"

#include <cstdint>
#include <limits>
#include <string_view>

namespace {

int64_t ToSigned(uint64_t value)
{
    return value > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) ? std::numeric_limits<int64_t>::max()
                                                                              : static_cast<int64_t>(value);
}

template <class Char>
bool IsPlainArgChar(Char ch)
{
    return (ch >= '0' && ch <= '9') || (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') || ch == '+' || ch == '-' ||
           ch == '.' || ch == '/' || ch == '_';
}

template <class Char>
bool NeedsBackslash(Char ch)
{
    return ch == '"' || ch == '\\' || ch == '$' || ch == '`';
}

constexpr std::wstring_view kMarker = L"_RGB_-RGB-";
constexpr size_t kComponentsLength = 11; // "rrr-ggg-bbb"

// The leading decimal digits of a three-character component, at most 255.
int Component(std::wstring_view digits)
{
    int value = 0;
    for (const wchar_t ch : digits) {
        if (ch < L'0' || ch > L'9')
            break;
        value = value * 10 + (ch - L'0');
    }
    return value > 255 ? 255 : value;
}

} // namespace

QString QKStringTools::formatDuration(uint64_t ms)
{
    uint32_t style = QKReadUnitSetting(L"UnitsTime");
    if (style >= 4) // 4 is the word style; an unknown value falls back to it too
        style = 0;
    return XStrToQString(XFormatDuration(ToSigned(ms), style));
}

QString QKStringTools::formatDurationPrecise(uint64_t ms)
{
    return XStrToQString(XFormatDuration(ToSigned(ms), 3));
}

QString QKStringTools::formatDurationLong(uint64_t ms)
{
    return XStrToQString(XFormatDuration(ToSigned(ms), 0));
}

QString QKStringTools::formatFileSize(uint64_t bytes)
{
    const uint32_t units = QKReadUnitSetting(L"UnitsFileSize");
    if (units == 3)
        return XStrToQString(XFormatUnsigned(bytes) + L" bytes");
    return XStrToQString(XFormatFileSize(ToSigned(bytes), units == 2));
}

QString QKStringTools::formatSampleRate(int hz)
{
    if (hz == 0)
        return QStringLiteral("[as source]");
    return XStrToQString(formatFreqUnits(hz));
}

QString QKStringTools::formatChannels(int channels)
{
    if (channels == 0)
        return QStringLiteral("[as source]");
    return XStrToQString(formatChannelUnits(static_cast<unsigned>(channels)));
}

QStringList QKStringTools::channelModeLabels()
{
    QStringList labels;
    for (int channels = 0; channels <= 8; ++channels)
        labels.append(formatChannels(channels));
    return labels;
}

QStringList QKStringTools::channelModeLabelsNo0()
{
    QStringList labels;
    for (int channels = 1; channels <= 8; ++channels)
        labels.append(formatChannels(channels));
    return labels;
}

QString QKStringTools::formatBitRate(int bps)
{
    return XStrToQString(formatBitRateUnits(bps, 0, 0));
}

QString QKStringTools::escapeCommandLineArg(const QString& arg)
{
    bool plain = !arg.isEmpty();
    for (const QChar ch : arg)
        plain = plain && IsPlainArgChar(ch.unicode());
    if (plain)
        return arg;
    QString quoted;
    quoted.reserve(arg.size() + 8);
    quoted += QLatin1Char('"');
    for (const QChar ch : arg) {
        if (NeedsBackslash(ch.unicode()))
            quoted += QLatin1Char('\\');
        quoted += ch;
    }
    quoted += QLatin1Char('"');
    return quoted;
}

XStr QKStringTools::escapeCommandLineArg(const XStr& arg)
{
    const std::wstring_view text = arg.View();
    bool plain = !text.empty();
    for (const wchar_t ch : text)
        plain = plain && IsPlainArgChar(ch);
    if (plain)
        return arg;
    std::wstring quoted;
    quoted.reserve(text.size() + 8);
    quoted += L'"';
    for (const wchar_t ch : text) {
        if (NeedsBackslash(ch))
            quoted += L'\\';
        quoted += ch;
    }
    quoted += L'"';
    return XStr(std::wstring_view(quoted));
}

QColor QKStringTools::systemBlueColor()
{
    return QColor(0, 122, 255);
}

QColor QKStringTools::systemGreenColor()
{
    return QColor(52, 199, 89);
}

QKAttributedText QKStringTools::importColorsW(const wchar_t* text)
{
    QKAttributedText result;
    if (!text)
        return result;
    std::wstring_view rest(text);
    QColor color; // the view's own text colour
    const auto toQString = [](std::wstring_view part) {
        return XStrToQString(XStr(part)); // undecodable file-name bytes cross unchanged
    };
    while (!rest.empty()) {
        const size_t found = rest.find(kMarker);
        if (found == std::wstring_view::npos) {
            result.append(toQString(rest), color);
            break;
        }
        result.append(toQString(rest.substr(0, found)), color);
        rest.remove_prefix(found + kMarker.size());
        if (rest.size() < kComponentsLength) {
            // A marker cut off at the end of the text: nothing follows that it could colour.
            break;
        }
        const std::wstring_view components = rest.substr(0, kComponentsLength);
        if (components == L"000-000-120")
            color = systemBlueColor();
        else if (components == L"000-120-000")
            color = systemGreenColor();
        else if (components == L"000-000-000")
            color = QColor();
        else
            color = QColor(Component(components.substr(0, 3)), Component(components.substr(4, 3)),
                           Component(components.substr(8, 3)));
        rest.remove_prefix(kComponentsLength);
    }
    return result;
}
