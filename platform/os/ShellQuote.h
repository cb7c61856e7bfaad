#pragma once
// Quoting for POSIX sh: a text as one shell word, whatever it holds.

#include <string>

// 'text' with every ' written as '\'' so that sh reads the text back unchanged.
std::string ShellQuote(const std::string& text);
