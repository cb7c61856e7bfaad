#include "tests/support/JsonLinesValidator.h"

#include "tests/support/TempDir.h"

#include <cstdio>
#include <sys/wait.h>

namespace {

// Single quotes for sh; the paths come from the build, not from a test.
std::string ShellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

} // namespace

std::string JsonLinesValidator::Problems(std::string_view lines, const std::string& schemaPath) {
    TempDir dir;
    const std::string input = dir.file("lines.jsonl");
    TempDir::WriteFile(input, std::string(lines));
    const std::string command = ShellQuoted(KD_SYSTEM_PYTHON3) + " " + ShellQuoted(KD_JSON_LINES_VALIDATOR) + " " +
                                ShellQuoted(schemaPath) + " " + ShellQuoted(input) + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return "cannot run the validator";
    std::string output;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        output.append(buffer, n);
    const int status = pclose(pipe);
    if (status == 0 && output.empty())
        return {};
    if (output.empty())
        output = "the validator failed without a message";
    return output + (WIFEXITED(status) ? "(exit " + std::to_string(WEXITSTATUS(status)) + ")"
                                       : std::string("(killed)"));
}

std::string JsonLinesValidator::VopalScanSchemaPath() {
    return KD_VOPAL_SCAN_JSON_SCHEMA;
}

std::string JsonLinesValidator::VopalScanProblems(std::string_view lines) {
    return Problems(lines, VopalScanSchemaPath());
}

std::string JsonLinesValidator::NoticeProblems(std::string_view document) {
    std::string line(document);
    if (line.empty() || line.back() != '\n')
        line += '\n';
    return Problems(line, KD_VOPAL_SCAN_NOTICE_SCHEMA);
}
