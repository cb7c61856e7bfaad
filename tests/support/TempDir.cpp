#include "tests/support/TempDir.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>

TempDir::TempDir() {
    std::string base = std::filesystem::temp_directory_path().string() + "/kd-test-XXXXXX";
    if (!mkdtemp(base.data()))
        throw std::runtime_error("mkdtemp failed");
    m_path = base + "/";
}

TempDir::~TempDir() {
    std::error_code ec;
    // Give back write permission that a test may have taken away.
    for (auto& entry : std::filesystem::recursive_directory_iterator(m_path, ec))
        chmod(entry.path().c_str(), 0700);
    chmod(m_path.c_str(), 0700);
    std::filesystem::remove_all(m_path, ec);
}

std::string TempDir::ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void TempDir::WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

bool TempDir::Exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

std::vector<std::string> TempDir::EntryNames(const std::string& directory) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory))
        names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}
