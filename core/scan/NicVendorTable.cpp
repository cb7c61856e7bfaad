#include "core/scan/NicVendorTable.h"

#include <algorithm>

const char* FindNicVendor(std::string_view key) {
    const NicVendorRow* first = NicVendorTable;
    const NicVendorRow* last = NicVendorTable + NicVendorTableSize;
    // lower_bound lands on the first of several rows with the same key, which is
    // the row a scan in table order would find.
    const NicVendorRow* row =
        std::lower_bound(first, last, key, [](const NicVendorRow& r, std::string_view k) {
            return std::string_view(r.key) < k;
        });
    if (row == last || std::string_view(row->key) != key) {
        return nullptr;
    }
    return row->name;
}
