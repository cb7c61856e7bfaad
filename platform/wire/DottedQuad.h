#pragma once
// The program's one reading of an IPv4 address typed or given as text where
// it must be plain: four decimal numbers from 0 to 255 separated by dots,
// nothing before or after, no sign, no blanks and no leading zeros (which
// inet_addr would read as octal, so one tool would reach another host than
// the other). The list file and the ICMP probe keep inet_addr's lenient
// reading on purpose; this one is for command lines and NetBIOS call names.

#include <cstdint>
#include <string_view>

// The address in host byte order (first octet most significant); false and
// `address` unchanged for anything else.
bool ParseDottedQuad(std::string_view text, std::uint32_t& address);
