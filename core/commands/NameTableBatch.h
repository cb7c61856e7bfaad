#pragma once
// The name-table batch: a two-line shell script in the program directory
// that shows one host's NetBIOS name table with our nbtstat and then waits
// for a key, so that the terminal it runs in stays open until the user has
// read it. Rewritten by every Net command, never deleted.
//
// Line 1 runs nbtstat by its full path, quoted for sh, with "-A" and the
// address; line 2 waits for a key. Lines end with "\n" alone (sh would take
// a CR for part of the address); there is no line end after the last line.

#include "platform/os/ShellQuote.h"

#include <functional>
#include <string>
#include <vector>

constexpr const char* kNameTableBatchName = "nbtbat.bat";

// The script's bytes for a dotted address (not checked here).
std::string NameTableBatchText(const std::string& nbtstatPath, const std::string& address);

enum class NameTableBatchStatus {
    Written,
    NotAnAddress, // the text is not a plain dotted IPv4 address: nothing written
    WriteFailed,  // the file could not be written; an earlier one stays whole
};

// Writes the script to `batchPath` when `address` is a plain dotted IPv4
// address (the only text that ever reaches its command line).
NameTableBatchStatus WriteNameTableBatch(const std::string& batchPath,
                                         const std::string& nbtstatPath,
                                         const std::string& address);

// The command that runs the script with sh in a terminal window:
// x-terminal-emulator (the desktop's choice), else xterm, each with "-e sh
// <script>". `findProgram` gives a program's full path or "" when missing;
// the result is empty when there is no terminal. When the terminal is an
// xterm (also behind the x-terminal-emulator link), it is given a scalable
// monospace font: its default bitmap font has no Japanese characters, so the
// query's messages and the key prompt would show as blanks.
// True when the program at `path`, links followed, is xterm or one of its
// wrappers (lxterm, uxterm).
bool IsXterm(const std::string& path);

std::vector<std::string>
TerminalCommandLine(const std::string& batchPath,
                    const std::function<std::string(const std::string&)>& findProgram);
