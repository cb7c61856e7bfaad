#pragma once
// The search of the result list: a partial match over all seven cells that
// ignores the case of Latin, Greek and Cyrillic letters, half-width and
// full-width alike. The comparison works on CP932 bytes, character by
// character, so that a match never starts on the second byte of a
// double-byte character.

#include <string>
#include <string_view>

class ResultList;

// The CP932 bytes with every lower-case letter made upper-case: a to z, and
// the double-byte letters of the code page (full-width Latin, Greek and
// Cyrillic). Everything else -- half-width katakana, kanji, the second byte
// of a double-byte character -- stays as it is.
std::string Cp932UpperCase(std::string_view bytes);

// True when `text` occurs in `cell` at the start of one of its characters.
// An empty cell holds nothing; an empty text occurs in every other cell.
bool Cp932Contains(std::string_view cell, std::string_view text);

// The first row, top down and within a row column by column, with a cell
// (read as a 256-byte buffer reads it) that contains the UTF-8 `text`,
// upper-cased on both sides; -1 when no cell does. A text with a character
// that CP932 lacks is found nowhere, as no cell can hold it.
int FindMatchingRow(ResultList& list, std::string_view text);
