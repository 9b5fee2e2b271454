#include "xclass/XFormat.h"

#include <cmath>
#include <string>
#include <vector>

namespace {

XStr CutTo5(const wchar_t* text)
{
    XStr s(text);
    if (s.Length() > 5)
        s.SetLength(5);
    return s;
}

XNumberFormatSettings LoadSettings()
{
    XNumberFormatSettings s;
    s.NegativeMode = 1;
    s.Grouping = L"3;0";
    s.NegativeSign = CutTo5(L"-");
    s.PositiveSign = CutTo5(L"");
    s.ThousandsSeparator = CutTo5(L",");
    s.DecimalSeparator = CutTo5(L".");
    s.TimeSeparator = CutTo5(L":");
    return s;
}

// "3;0" -> sizes {3}, repeating; "3;2;0" -> {3, 2}, the last repeating; "3" -> one group only.
void ParseGrouping(const XStr& rule, std::vector<int>& sizes, bool& repeat)
{
    sizes.clear();
    repeat = false;
    int value = 0;
    bool any = false;
    for (int i = 0; i <= rule.Length(); ++i) {
        const wchar_t ch = i < rule.Length() ? rule.p[i] : L';';
        if (ch >= L'0' && ch <= L'9') {
            value = value * 10 + (ch - L'0');
            any = true;
        } else if (ch == L';') {
            if (any)
                sizes.push_back(value);
            value = 0;
            any = false;
        }
    }
    if (!sizes.empty() && sizes.back() == 0) {
        sizes.pop_back();
        repeat = true;
    }
    while (!sizes.empty() && sizes.front() <= 0)
        sizes.erase(sizes.begin());
}

XStr Padded(int64_t value, int width)
{
    XStr s = XStr::FromLong(value);
    while (s.Length() < width)
        s.InsertChar(L'0', 1);
    return s;
}

XStr Counted(int64_t n, const wchar_t* singular, const wchar_t* plural)
{
    XStr s = XStr::FromLong(n);
    s += n == 1 ? singular : plural;
    return s;
}

} // namespace

const XNumberFormatSettings& XGetNumberFormatSettings()
{
    static const XNumberFormatSettings settings = LoadSettings(); // thread-safe first use
    return settings;
}

void XApplyNumberFormat(XStr& text)
{
    if (text.IsEmpty())
        return;
    const XNumberFormatSettings& fmt = XGetNumberFormatSettings();
    std::vector<int> sizes;
    bool repeat = false;
    ParseGrouping(fmt.Grouping, sizes, repeat);

    const std::wstring in(text.View());
    const size_t dot = in.find(L'.');
    const size_t intEnd = dot == std::wstring::npos ? in.size() : dot;

    // Build the integer part from the right, inserting separators between digits.
    std::wstring intPart;
    size_t group = 0;
    int inGroup = 0;
    bool grouping = !sizes.empty();
    for (size_t i = intEnd; i-- > 0;) {
        intPart.insert(intPart.begin(), in[i]);
        if (!grouping)
            continue;
        if (++inGroup == sizes[group]) {
            inGroup = 0;
            if (i > 0 && in[i - 1] != L'-')
                intPart.insert(0, fmt.ThousandsSeparator.View());
            if (group + 1 < sizes.size())
                ++group;
            else if (!repeat)
                grouping = false;
        }
    }
    std::wstring out = intPart;
    if (dot != std::wstring::npos) {
        out += fmt.DecimalSeparator.View();
        out += in.substr(dot + 1);
    }

    if (out.empty() || out[0] != L'-') {
        out.insert(0, fmt.PositiveSign.View());
    } else {
        out.erase(0, 1);
        const std::wstring neg(fmt.NegativeSign.View());
        switch (fmt.NegativeMode) {
        case 0:
            out = L"(" + out + L")";
            break;
        case 2:
            out = neg + L" " + out;
            break;
        case 3:
            out = out + neg;
            break;
        case 4:
            out = out + L" " + neg;
            break;
        default:
            out = neg + out;
            break;
        }
    }
    text = XStr(std::wstring_view(out));
}

XStr XFormatFloat(double value, int decimals, bool keepZeros)
{
    XStr s = XStr::FromDouble(value, decimals, keepZeros);
    XApplyNumberFormat(s);
    return s;
}

XStr XFormatNumber(int64_t value)
{
    XStr s = XStr::FromLong(value);
    XApplyNumberFormat(s);
    return s;
}

XStr XFormatUnsigned(uint64_t value)
{
    XStr s = XStr::FromULong(value);
    XApplyNumberFormat(s);
    return s;
}

XStr XFormatDuration(int64_t ms, unsigned style)
{
    if (ms < 0)
        ms = 0; // an unknown (negative) length reads as nothing rather than "-1:-05"
    const int64_t hours = ms / 3600000;
    const int64_t minutes = ms / 60000 % 60;
    const int64_t seconds = ms / 1000 % 60;
    const int64_t millis = ms % 1000;
    const XNumberFormatSettings& fmt = XGetNumberFormatSettings();

    switch (style) {
    case 0:
    case 4: {
        XStr s;
        if (hours) {
            s = Counted(hours, L" hour", L" hours");
            if (minutes) {
                s += L" ";
                s += Counted(minutes, L" minute", L" minutes");
            }
        } else if (minutes) {
            s = Counted(minutes, L" minute", L" minutes");
            if (seconds) {
                s += L" ";
                s += Counted(seconds, L" second", L" seconds");
            }
        } else if (seconds) {
            if (millis && style == 0) {
                s = XFormatFloat(static_cast<double>(seconds) + static_cast<double>(millis) / 1000.0, 1, false);
                s += L" seconds";
            } else {
                s = Counted(seconds, L" second", L" seconds");
            }
        } else if (millis && style == 0) {
            s = Counted(millis, L" mili-second", L" mili-seconds");
        } else {
            s = L"0";
        }
        return s;
    }
    case 1: {
        XStr s;
        if (hours) {
            s = XStr::FromLong(hours);
            s += fmt.TimeSeparator;
            s += Padded(minutes, 2);
        } else {
            s = XStr::FromLong(minutes);
        }
        s += fmt.TimeSeparator;
        s += Padded(seconds, 2);
        return s;
    }
    case 2:
    case 3: {
        XStr s = Padded(hours, 2);
        s += fmt.TimeSeparator;
        s += Padded(minutes, 2);
        s += fmt.TimeSeparator;
        s += Padded(seconds, 2);
        if (style == 3) {
            s += fmt.DecimalSeparator;
            s += Padded(millis, 3);
        }
        return s;
    }
    default:
        return XStr();
    }
}

XStr XFormatFileSize(int64_t bytes, bool forceKB)
{
    const double b = static_cast<double>(bytes);
    if (!forceKB) {
        static const struct {
            double unit;
            const wchar_t* name;
        } units[] = {{1099511627776.0, L" TB"}, {1073741824.0, L" GB"}, {1048576.0, L" MB"}};
        for (const auto& u : units) {
            if (std::trunc(b / u.unit) != 0) {
                XStr s = XFormatFloat(b / u.unit, 2, false);
                s += u.name;
                return s;
            }
        }
    }
    if (std::trunc(b / 1024.0) != 0 || forceKB) {
        XStr s = XFormatNumber(static_cast<int64_t>(b / 1024.0 + 0.99));
        s += L" KB";
        return s;
    }
    return Counted(bytes, L" byte", L" bytes");
}
