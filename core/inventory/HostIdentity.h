#pragma once
// What identifies a machine across scans: a usable MAC address first (present,
// not all zeros or all ones, not multicast); else its NetBIOS computer name
// with its workgroup; else the address alone. A locally administered MAC is
// kept as the identity but marked, since a machine may randomise it.
// The names mDNS, LLMNR and DNS give are never part of it: they name an
// address rather than a machine (a resolver's record may follow a lease, a
// host renames itself on a conflict), only some scans ask for them, and a
// host that began to give one would split from what the store knew of it.
// They are kept with the host and compared as its names instead.

#include "core/scan/HostRecord.h"

#include <string>

struct HostIdentity {
    enum class Kind { Mac = 0, Name = 1, Address = 2 };
    Kind kind = Kind::Address;
    std::string key; // "mac:001122334455", "name:PC01/WORKGROUP", "ip:10.0.0.1"
    bool randomisedMac = false;

    bool operator==(const HostIdentity&) const = default;
};

HostIdentity IdentityOf(const HostRecord& row);

// Twelve hex digits in upper case, or "" when `mac` is not twelve hex digits.
std::string CanonicalMac(const std::string& mac);

// Whether the 12 hex digits are a MAC address that names one machine.
bool IsUsableMac(const std::string& mac);

// Whether the 12 hex digits are a locally administered MAC address, which a
// machine may randomise.
bool IsRandomisedMac(const std::string& mac);
