#include "core/commands/NameTableBatch.h"

#include "platform/os/AtomicFile.h"
#include "platform/wire/DottedQuad.h"

#include <cstdint>
#include <filesystem>

namespace {

// Waits for any one key, as the command interpreter's pause does: the
// terminal reads single keys without echo until one byte has come, and its
// settings are put back afterwards.
constexpr const char* kWaitLine =
    "printf '続行するには何かキーを押してください . . . '; s=$(stty -g 2>/dev/null); "
    "stty -icanon -echo min 1 2>/dev/null; dd bs=1 count=1 >/dev/null 2>&1; "
    "stty \"$s\" 2>/dev/null; echo";

} // namespace

std::string NameTableBatchText(const std::string& nbtstatPath, const std::string& address) {
    return ShellQuote(nbtstatPath) + " -A " + address + "\n" + kWaitLine;
}

NameTableBatchStatus WriteNameTableBatch(const std::string& batchPath,
                                         const std::string& nbtstatPath,
                                         const std::string& address) {
    std::uint32_t parsed = 0;
    if (!ParseDottedQuad(address, parsed))
        return NameTableBatchStatus::NotAnAddress;
    if (!WriteFileAtomically(batchPath, NameTableBatchText(nbtstatPath, address)).ok())
        return NameTableBatchStatus::WriteFailed;
    return NameTableBatchStatus::Written;
}

bool IsXterm(const std::string& path) {
    std::error_code error;
    const std::filesystem::path real = std::filesystem::canonical(path, error);
    const std::string name = (error ? std::filesystem::path(path) : real).filename().string();
    return name == "xterm" || name == "lxterm" || name == "uxterm";
}

std::vector<std::string>
TerminalCommandLine(const std::string& batchPath,
                    const std::function<std::string(const std::string&)>& findProgram) {
    for (const char* terminal : {"x-terminal-emulator", "xterm"}) {
        const std::string program = findProgram(terminal);
        if (program.empty())
            continue;
        if (IsXterm(program))
            return {program, "-fa", "Monospace", "-fs", "11", "-e", "sh", batchPath};
        return {program, "-e", "sh", batchPath};
    }
    return {};
}
