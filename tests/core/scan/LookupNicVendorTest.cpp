#include "core/scan/CNetProbe.h"
#include <cstring>

#include <gtest/gtest.h>

namespace {

std::string Lookup(const char* key) {
    CNetProbe probe;
    char vendor[kNicVendorBufferSize];
    std::memset(vendor, 'x', sizeof vendor);
    probe.LookupNicVendor(key, vendor);
    return vendor;
}

TEST(LookupNicVendor, FirstRowOfAKeyBlanksKeptUnknownIsFumei) {
    EXPECT_EQ(Lookup("00A0C9"), "INTEL - HF1-06");
    EXPECT_EQ(Lookup("0001C8"), "THOMAS CONRAD");
    EXPECT_EQ(Lookup("080030"), "NETWORK RESEARCH");
    EXPECT_EQ(Lookup("0000E2"), "ACER ");
    EXPECT_EQ(Lookup("00006A"), " CONSOLES");
    EXPECT_EQ(Lookup("0001AD"), "Coach Master International  d.b.a. CMI Worldwide");
    EXPECT_EQ(Lookup("FF0000"), "不明");
    EXPECT_EQ(Lookup("00a0c9"), "不明");
    EXPECT_EQ(Lookup(""), "不明");
    EXPECT_EQ(Lookup(nullptr), "不明");
}

} // namespace
