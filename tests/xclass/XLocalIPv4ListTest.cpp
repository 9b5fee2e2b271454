#include <gtest/gtest.h>

#include "xclass/XLocalIPv4List.h"

namespace {

TEST(XLocalIPv4List, AddressTextAndValues)
{
    EXPECT_EQ(XParseIPv4(XStr(L"10.1.2.3")), 0x0a010203u);
    EXPECT_EQ(XParseIPv4(XStr(L"10.1.2")), 0u);
    EXPECT_EQ(XParseIPv4(XStr(L"1.2.3.4.5")), 0u);
    EXPECT_EQ(XFormatIPv4Value(0xc0a80001u), L"192.168.0.1");
    EXPECT_EQ(XFormatIPv4(1, 2, 3, 4), L"1.2.3.4");
    int a, b, c, d;
    XSplitIPv4(XStr(L" 7.-8.9x.+10"), a, b, c, d);
    EXPECT_EQ(a, 7);
    EXPECT_EQ(b, -8);
    EXPECT_EQ(c, 9);
    EXPECT_EQ(d, 10);
}

TEST(XLocalIPv4List, InterfaceNamesMatchAPrefixAndDigits)
{
    EXPECT_TRUE(XInterfaceNameMatches("en12", "en,eth,wlan"));
    EXPECT_TRUE(XInterfaceNameMatches("eth", "en,eth,wlan"));
    EXPECT_TRUE(XInterfaceNameMatches("wlan0", "en,eth,wlan"));
    EXPECT_FALSE(XInterfaceNameMatches("bridge0", "en,eth,wlan"));
    EXPECT_FALSE(XInterfaceNameMatches("lo0", "en,eth,wlan"));
    EXPECT_FALSE(XInterfaceNameMatches("awdl0", "en,eth,wlan"));
    EXPECT_FALSE(XInterfaceNameMatches("enp3s0", "en,eth,wlan"));
    EXPECT_TRUE(XInterfaceNameMatches("anything", nullptr));
    EXPECT_FALSE(XInterfaceNameMatches(nullptr, nullptr));
}

TEST(XLocalIPv4List, PreferredAddressesFollowTheUsualInterfacesThenThePrivateRanges)
{
    using I = XLocalIPv4List::Interfaces;
    const I bridged{{XStr(L"lo0"), XStr(L"127.0.0.1")}, {XStr(L"bridge0"), XStr(L"172.20.1.5")}};
    XLocalIPv4List preferred = XLocalIPv4List::GetPreferred(bridged);
    ASSERT_EQ(preferred.Count(), 1);
    EXPECT_EQ(preferred[0], L"172.20.1.5");

    const I wired{{XStr(L"lo"), XStr(L"127.0.0.1")},
                  {XStr(L"bridge0"), XStr(L"192.168.5.5")},
                  {XStr(L"eth0"), XStr(L"203.0.113.9")}};
    preferred = XLocalIPv4List(wired, nullptr).GetPreferred();
    ASSERT_EQ(preferred.Count(), 1);
    EXPECT_EQ(preferred[0], L"203.0.113.9");

    const I ranges{{XStr(L"tun0"), XStr(L"10.8.0.2")},
                   {XStr(L"br1"), XStr(L"172.32.0.1")}, // just outside 172.16/12
                   {XStr(L"br2"), XStr(L"169.254.3.4")}};
    preferred = XLocalIPv4List::GetPreferred(ranges);
    ASSERT_EQ(preferred.Count(), 1);
    EXPECT_EQ(preferred[0], L"10.8.0.2");
    EXPECT_TRUE(XLocalIPv4List::GetPreferred(I{{XStr(L"lo"), XStr(L"127.0.0.1")}}).IsEmpty());
}

TEST(XLocalIPv4List, PrefixesAndNetworks)
{
    XLocalIPv4List list;
    list.Add(192, 168, 10, 4);
    list.Add(0xc0a80105u);
    list.Add(L"10.0.0.1");
    EXPECT_EQ(list.FindWithPrefix(XStr(L"192.168.1.77")), L"192.168.10.4");
    EXPECT_TRUE(list.FindWithPrefix(XStr(L"172.16.0.1")).IsEmpty());
    EXPECT_TRUE(list.StartsWithAt(XStr(L"192.168.1."), 1));
    EXPECT_FALSE(list.StartsWithAt(XStr(L"192"), 7));

    XLocalIPv4List copy(list);
    EXPECT_TRUE(copy.KeepInNetwork(XStr(L"192.168.0.0"), 16));
    EXPECT_EQ(copy.Count(), 2);
    EXPECT_FALSE(copy.KeepInNetwork(XStr(L"172.16.0.0"), 20));
    EXPECT_EQ(list.Count(), 3);
    list.RemoveWithPrefix(XStr(L"192.168."));
    ASSERT_EQ(list.Count(), 1);
    EXPECT_EQ(list[0], L"10.0.0.1");
}

TEST(XLocalIPv4List, TheMachinesOwnInterfacesIncludeLoopback)
{
    const XLocalIPv4List all(nullptr);
    bool loopback = false;
    for (const auto& [name, address] : XLocalIPv4List::ReadInterfaces())
        loopback = loopback || address == L"127.0.0.1";
    EXPECT_TRUE(loopback);
    EXPECT_TRUE(all.Find(L"127.0.0.1"));
    EXPECT_FALSE(XLocalIPv4List("no-such-interface").Find(L"127.0.0.1"));
}

} // namespace
