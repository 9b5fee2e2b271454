#include "xclass/XLocalIPv4List.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>

#include <cstring>

namespace {

// XStr to long rules: leading blanks, one sign, digits up to the first other character.
long FieldValue(const XStr& text)
{
    return static_cast<long>(text.ToLong());
}

uint32_t NetworkMask(int shift)
{
    return shift >= 32 ? 0u : (shift <= 0 ? 0xffffffffu : 0xffffffffu << shift);
}

} // namespace

XStr XFormatIPv4(int a, int b, int c, int d)
{
    return XStr::FromLong(a) + L"." + XStr::FromLong(b) + L"." + XStr::FromLong(c) + L"." + XStr::FromLong(d);
}

XStr XFormatIPv4Value(uint32_t value)
{
    return XFormatIPv4(static_cast<int>(value >> 24), static_cast<int>((value >> 16) & 0xff),
                       static_cast<int>((value >> 8) & 0xff), static_cast<int>(value & 0xff));
}

void XSplitIPv4(const XStr& text, int& a, int& b, int& c, int& d)
{
    a = b = c = d = 0;
    XStrList fields;
    fields.Split(text, L".");
    if (fields.Count() != 4)
        return;
    a = static_cast<int>(FieldValue(fields[0]));
    b = static_cast<int>(FieldValue(fields[1]));
    c = static_cast<int>(FieldValue(fields[2]));
    d = static_cast<int>(FieldValue(fields[3]));
}

uint32_t XParseIPv4(const XStr& text)
{
    int a, b, c, d;
    XSplitIPv4(text, a, b, c, d);
    return static_cast<uint32_t>(a) << 24 | static_cast<uint32_t>(b) << 16 | static_cast<uint32_t>(c) << 8 |
           static_cast<uint32_t>(d);
}

bool XInterfaceNameMatches(const char* name, const char* prefixes)
{
    if (!name)
        return false;
    if (!prefixes)
        return true;
    const char* start = prefixes;
    for (;;) {
        const char* end = strchr(start, ',');
        const size_t length = end ? static_cast<size_t>(end - start) : strlen(start);
        if (length > 0 && strncmp(name, start, length) == 0) {
            const char* rest = name + length;
            while (*rest >= '0' && *rest <= '9')
                rest++;
            if (*rest == 0)
                return true;
        }
        if (!end)
            return false;
        start = end + 1;
    }
}

XLocalIPv4List::Interfaces XLocalIPv4List::ReadInterfaces()
{
    Interfaces found;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return found;
    for (const ifaddrs* entry = list; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET || !entry->ifa_name)
            continue;
        const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
        found.emplace_back(XStr::FromUTF8(entry->ifa_name), XFormatIPv4Value(ntohl(address->sin_addr.s_addr)));
    }
    freeifaddrs(list);
    return found;
}

XLocalIPv4List::XLocalIPv4List(const char* prefixes) : XLocalIPv4List(ReadInterfaces(), prefixes) {}

XLocalIPv4List::XLocalIPv4List(const Interfaces& interfaces, const char* prefixes) : m_interfaces(interfaces)
{
    for (const auto& [name, address] : interfaces) {
        const std::string nameBytes = name.ToUTF8String();
        if (XInterfaceNameMatches(nameBytes.c_str(), prefixes))
            XStrList::Add(address);
    }
}

XLocalIPv4List XLocalIPv4List::GetPreferred(const Interfaces& interfaces)
{
    XLocalIPv4List usual(interfaces, "en,eth,wlan");
    if (!usual.IsEmpty())
        return usual;
    static const struct {
        const wchar_t* network;
        int shift;
    } ranges[] = {{L"192.168.0.0", 16}, {L"172.16.0.0", 20}, {L"10.0.0.0", 24}, {L"169.254.0.0", 16}};
    for (const auto& range : ranges) {
        XLocalIPv4List all(interfaces, nullptr);
        if (all.KeepInNetwork(range.network, range.shift))
            return all;
    }
    return XLocalIPv4List();
}

XLocalIPv4List XLocalIPv4List::GetPreferred() const
{
    return GetPreferred(m_interfaces);
}

XStr XLocalIPv4List::FindWithPrefix(const XStr& address) const
{
    const int dot = address.ReverseFindChar(L'.');
    const XStr prefix = dot ? address.Left(dot - 1) : address;
    for (int64_t i = 0; i < Count(); i++)
        if (Get(i) && (*this)[i].BeginsWith(prefix.p))
            return (*this)[i];
    return XStr();
}

void XLocalIPv4List::RemoveWithPrefix(const XStr& text)
{
    for (int64_t i = Count() - 1; i >= 0; i--)
        if (Get(i) && (*this)[i].BeginsWith(text.p))
            RemoveAt(i);
}

bool XLocalIPv4List::StartsWithAt(const XStr& text, int64_t index) const
{
    const XStr* address = Get(index);
    return address && address->BeginsWith(text.p);
}

bool XLocalIPv4List::KeepInNetwork(const XStr& network, int shift)
{
    const uint32_t base = XParseIPv4(network);
    const uint32_t mask = NetworkMask(shift);
    for (int64_t i = Count() - 1; i >= 0; i--)
        if (!Get(i) || ((XParseIPv4((*this)[i]) ^ base) & mask) != 0)
            RemoveAt(i);
    return !IsEmpty();
}
