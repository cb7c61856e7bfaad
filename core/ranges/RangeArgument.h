#pragma once
// Address ranges given on the command line. Unlike the list file, which is
// read as inet_addr reads it, a range argument must be plain: four decimal
// numbers from 0 to 255 separated by dots, without leading zeros (which
// inet_addr would read as octal).
//
//   10.0.0.1-10.0.0.99   from one address to another
//   10.0.0.1-99          the end as the last octet of the start's network
//   10.0.0.0/24          a network, from its network to its broadcast address
//   10.0.0.7             one address

#include "core/ranges/AddressRange.h"

#include <cstdint>
#include <string>
#include <string_view>

// Parses one range argument. On failure `error` holds an English sentence
// for the command line and `range` is unchanged. A range must not start or
// end at 0.0.0.0, and must not end before it starts.
bool ParseRangeArgument(std::string_view text, AddressRange& range, std::string& error);

// One address read as a range argument's ends are (host byte order). On
// failure `error` holds the same sentence and `address` is unchanged.
bool ParseAddressArgument(std::string_view text, std::uint32_t& address, std::string& error);
