#pragma once
// The one conversion of text to a number that the program uses for typed
// and stored numbers: leading blanks skipped, an optional sign, then the
// leading decimal digits; anything after them is ignored and no digits at
// all give 0. It is atoi without atoi's undefined behaviour: a number beyond
// the 32-bit range saturates at INT_MIN or INT_MAX (which is what atoi did on
// the system the program comes from).

#include <string_view>

int ParseLeadingInt(std::string_view text);

// A null text gives 0.
int ParseLeadingInt(const char* text);
