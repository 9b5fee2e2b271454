// The proxy record of the HTTP clients and its reader. The settings live in the registry
// store under the default root and key path, written by the options window.
#pragma once

#include "xclass/XStr.h"

struct XProxySettings {
    int UseProxy = 0; // 0: direct connection
    XStr Server;      // host name or address
    int Port = 0;
    XStr User; // carried along; the HTTP client sends no proxy credentials
    XStr Password;
};

// Fills settings from the registry store: UseProxy = the number "CD-Proxy" is not 0; Server,
// User and Password = the strings "CD-CDDBProxyServer", "CD-CDDBProxyUser" and
// "CD-CDDBProxyPass"; Port = the string "CD-CDDBProxyPort" read as a decimal number. Missing
// values read as 0 or empty text. Never fails.
void XReadProxyValues(XProxySettings& settings);
XProxySettings XGetProxySettings();

// Decimal number at the start of text: leading blanks skipped, one sign, digits up to the
// first other character (none: 0); beyond the int range the nearest limit.
int XProxyPortFromText(const wchar_t* text);
