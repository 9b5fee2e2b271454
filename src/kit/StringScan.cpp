#include "kit/StringScan.h"

#include <charconv>
#include <climits>
#include <limits>
#include <string>

namespace {

// The characters after the marker that belong to the run, as ASCII; empty when the marker is
// absent or empty.
std::string RunAfter(const QString& text, const QString& marker, bool allowPoint)
{
    std::string run;
    if (marker.isEmpty())
        return run;
    const qsizetype found = text.indexOf(marker, 0, Qt::CaseSensitive);
    if (found < 0)
        return run;
    for (qsizetype i = found + marker.size(); i < text.size(); ++i) {
        const char16_t ch = text.at(i).unicode();
        if ((ch >= u'0' && ch <= u'9') || ch == u'-' || (allowPoint && ch == u'.'))
            run.push_back(static_cast<char>(ch));
        else
            break;
    }
    return run;
}

} // namespace

int scanIntAfter(const QString& text, const QString& marker)
{
    const std::string run = RunAfter(text, marker, false);
    size_t pos = 0;
    const bool negative = pos < run.size() && run[pos] == '-';
    if (negative)
        ++pos;
    // Accumulated as a negative number so that INT_MIN itself fits.
    long long value = 0;
    bool clipped = false;
    for (; pos < run.size() && run[pos] >= '0' && run[pos] <= '9'; ++pos) {
        if (clipped)
            continue;
        value = value * 10 - (run[pos] - '0');
        if (value < static_cast<long long>(INT_MIN) - 1)
            clipped = true;
    }
    if (negative)
        return clipped || value < INT_MIN ? INT_MIN : static_cast<int>(value);
    if (clipped || -value > INT_MAX)
        return INT_MAX;
    return static_cast<int>(-value);
}

double scanFloatAfter(const QString& text, const QString& marker)
{
    const std::string run = RunAfter(text, marker, true);
    size_t pos = 0;
    const bool negative = pos < run.size() && run[pos] == '-';
    if (negative)
        ++pos;
    const size_t start = pos;
    size_t intDigits = 0;
    while (pos < run.size() && run[pos] >= '0' && run[pos] <= '9') {
        ++pos;
        ++intDigits;
    }
    size_t fracDigits = 0;
    if (pos < run.size() && run[pos] == '.') {
        size_t after = pos + 1;
        while (after < run.size() && run[after] >= '0' && run[after] <= '9') {
            ++after;
            ++fracDigits;
        }
        if (fracDigits > 0)
            pos = after;
    }
    if (intDigits == 0 && fracDigits == 0)
        return 0.0;

    double value = 0.0;
    const auto result = std::from_chars(run.data() + start, run.data() + pos, value, std::chars_format::fixed);
    if (result.ec == std::errc::result_out_of_range) {
        // Only the integer part can make a fixed-point text too large; else it is too small.
        bool bigInteger = false;
        for (size_t i = start; i < start + intDigits; ++i)
            bigInteger = bigInteger || run[i] != '0';
        value = bigInteger ? std::numeric_limits<double>::infinity() : 0.0;
    } else if (result.ec != std::errc()) {
        value = 0.0;
    }
    return negative ? -value : value;
}

std::optional<QString> scanStringAfter(const QString& text, const QString& marker)
{
    if (marker.isEmpty()) // an empty marker is never found
        return std::nullopt;
    const qsizetype found = text.indexOf(marker, 0, Qt::CaseSensitive);
    if (found < 0)
        return std::nullopt;
    return text.mid(found + marker.size());
}

std::optional<QString> scanStringAfter(const QString& text, const QString& marker, const QString& endMarker)
{
    std::optional<QString> rest = scanStringAfter(text, marker);
    if (!rest || endMarker.isEmpty())
        return rest;
    const qsizetype end = rest->indexOf(endMarker, 0, Qt::CaseSensitive);
    if (end >= 0)
        rest->truncate(end);
    return rest;
}

QStringList splitByLines(const QString& text)
{
    QStringList lines = text.split(QLatin1Char('\n'), Qt::KeepEmptyParts);
    for (QString& line : lines) {
        qsizetype length = line.size();
        while (length > 0 && line.at(length - 1) == QLatin1Char('\r'))
            --length;
        line.truncate(length);
    }
    return lines;
}
