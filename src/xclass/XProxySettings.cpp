#include "xclass/XProxySettings.h"

#include <climits>

#include "xclass/XRegistry.h"

int XProxyPortFromText(const wchar_t* text)
{
    if (!text)
        return 0;
    const wchar_t* s = text;
    while (*s == L' ' || *s == L'\t')
        s++;
    bool negative = false;
    if (*s == L'-' || *s == L'+')
        negative = *s++ == L'-';
    long long value = 0;
    while (*s >= L'0' && *s <= L'9') {
        if (value <= static_cast<long long>(INT_MAX) + 1)
            value = value * 10 + (*s - L'0');
        s++;
    }
    if (negative)
        value = -value;
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return static_cast<int>(value);
}

void XReadProxyValues(XProxySettings& settings)
{
    settings.UseProxy = XRegistry::GetInt64(L"CD-Proxy") != 0 ? 1 : 0;
    settings.Server = XRegistry::GetString(L"CD-CDDBProxyServer");
    settings.User = XRegistry::GetString(L"CD-CDDBProxyUser");
    settings.Password = XRegistry::GetString(L"CD-CDDBProxyPass");
    settings.Port = XProxyPortFromText(XRegistry::GetString(L"CD-CDDBProxyPort").p);
}

XProxySettings XGetProxySettings()
{
    XProxySettings settings;
    XReadProxyValues(settings);
    return settings;
}
