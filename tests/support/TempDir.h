#pragma once
// A fresh directory under the temporary directory, removed with its contents
// when the object goes away.

#include <string>
#include <vector>

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The directory, ending with '/'.
    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + name; }

    static std::string ReadFile(const std::string& path);
    static void WriteFile(const std::string& path, const std::string& bytes);
    static bool Exists(const std::string& path);
    // The names in a directory, sorted.
    static std::vector<std::string> EntryNames(const std::string& directory);

private:
    std::string m_path;
};
