#pragma once
// The compiled-in table of Ethernet vendor codes: the first three bytes of a MAC
// address, as six upper-case hex digits, to the short name of the adapter's maker.
// The rows live in NicVendorTableData.cpp, written by tools/gen_nic_vendor_table.py.

#include <cstddef>
#include <string_view>

struct NicVendorRow {
    const char* key;  // six upper-case hex digits
    const char* name; // 2 to 48 ASCII bytes, blanks kept as stored
};

// Sorted by key (byte order); a key may stand in several adjacent rows, and then
// only the first of them counts.
extern const NicVendorRow NicVendorTable[];
extern const std::size_t NicVendorTableSize;

// The name of the first row whose key equals `key` exactly (case-sensitive, no
// trimming), or nullptr when there is none. Safe to call from any thread.
const char* FindNicVendor(std::string_view key);
