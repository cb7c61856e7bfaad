#pragma once
// The host a command line names for its timeline: an address, read as
// strictly as a range argument, or a MAC in one of its usual notations
// (001122334455, 00:11:22:33:44:55, 00-11-22-33-44-55, 0011.2233.4455),
// hex digits in either case. Anything else is refused, so a lenient reading
// never picks another host than the one the user meant.

#include <string>
#include <string_view>

// On success `canonical` is the dotted address or the MAC's twelve upper-case
// hex digits; on failure `error` holds an English sentence for the command
// line and `canonical` is unchanged.
bool ParseHostArgument(std::string_view text, std::string& canonical, std::string& error);
