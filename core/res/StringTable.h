#pragma once
// The string table: texts by id. A command's string holds its status-bar
// prompt, then "\n", then its tool tip.

#include <string>

// The program's home page.
extern const char* const kHomePageAddress;

// The string of an id, or null when the table has none.
const char* LoadResourceString(int id);

// The status-bar prompt (before "\n") and the tool tip (after it) of a
// command; both empty when the command has no string.
std::string CommandPrompt(int command);
std::string CommandToolTip(int command);
