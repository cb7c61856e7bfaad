#pragma once
// The run log: one text file beside the program that records what start-up
// found and what each scan did. Rewritten on every run, never read back.
// Absent until Open succeeds and again after Close; writing while it is
// absent silently writes nothing.

#include <string>

class RunLog {
public:
    // The file name inside the program directory.
    static constexpr const char* kFileName = "vopal.log";
    static constexpr const char* kHeader = "********** Kestrune 030128 ログファイル **********\n";

    // Opens `directory` (ends with '/') + "vopal.log", emptying it, and writes
    // the header. False when the file cannot be opened, or `directory` is
    // empty (never a log at the root); the log stays absent.
    static bool Open(const std::string& directory);

    // One entry, written with one formatted write under the log's lock, so
    // that entries of two threads never mix within a line.
    static void Write(const char* format, ...) __attribute__((format(printf, 1, 2)));

    // Closes the file and marks the log absent; later writers write nothing.
    static void Close();

    static bool IsOpen();

    // Full path of the file for a program directory, with exactly one '/'
    // before the file name.
    static std::string PathFor(const std::string& directory);
};
