// Dotted IPv4 address text, and the machine's own IPv4 addresses read from its network
// interfaces, with a rule that picks those most likely to be reachable on a local network:
// first those of the usual wired and wireless interfaces, else those in the private and
// link-local ranges.
//
// An address value is a 32-bit number with the first dotted field in the top byte.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "xclass/XList.h"
#include "xclass/XStr.h"

// The four numbers in decimal joined by "." (no range check).
XStr XFormatIPv4(int a, int b, int c, int d);
// The four bytes of value, top byte first.
XStr XFormatIPv4Value(uint32_t value);
// Splits at "."; exactly four fields become their decimal values (leading blanks, one sign,
// digits up to the first other character), any other count gives four 0.
void XSplitIPv4(const XStr& text, int& a, int& b, int& c, int& d);
// a << 24 | b << 16 | c << 8 | d of XSplitIPv4 (fields not masked to 8 bits).
uint32_t XParseIPv4(const XStr& text);
// True when prefixes is null (and name is not); false when name is null; otherwise true when
// name is one of the comma-separated prefixes followed only by decimal digits (none or more).
bool XInterfaceNameMatches(const char* name, const char* prefixes);

class XLocalIPv4List : public XStrList {
public:
    // (interface name, dotted address) of every IPv4 address of the machine; empty when the
    // interfaces cannot be read.
    using Interfaces = std::vector<std::pair<XStr, XStr>>;
    static Interfaces ReadInterfaces();

    XLocalIPv4List() = default;
    // The addresses of every interface whose name matches the prefixes (null: every one).
    explicit XLocalIPv4List(const char* prefixes);
    // The same, from a given set of interfaces.
    XLocalIPv4List(const Interfaces& interfaces, const char* prefixes);
    XLocalIPv4List(const XLocalIPv4List& other) = default;
    XLocalIPv4List& operator=(const XLocalIPv4List& other) = default;

    // The addresses of "en", "eth" and "wlan" interfaces; without any, those in 192.168/16,
    // else 172.16/12, else 10/8, else 169.254/16; else none.
    XLocalIPv4List GetPreferred() const;
    static XLocalIPv4List GetPreferred(const Interfaces& interfaces);

    using XStrList::Add;
    void Add(int a, int b, int c, int d) { XStrList::Add(XFormatIPv4(a, b, c, d)); }
    void Add(uint32_t value) { XStrList::Add(XFormatIPv4Value(value)); }
    // The first address beginning with the text before the last "." of address (exact
    // comparison); empty when none.
    XStr FindWithPrefix(const XStr& address) const;
    // Removes every address beginning with text.
    void RemoveWithPrefix(const XStr& text);
    // False for an index out of range.
    bool StartsWithAt(const XStr& text, int64_t index) const;
    // Keeps the addresses whose value equals the network's in the bits of (all ones << shift);
    // true when any is left.
    bool KeepInNetwork(const XStr& network, int shift);

private:
    Interfaces m_interfaces; // where the list came from, for GetPreferred
};
