#pragma once
// Sets or removes one environment variable for its lifetime and puts the
// old value back afterwards.

#include <optional>
#include <string>

class ScopedEnv {
public:
    // An empty optional removes the variable.
    ScopedEnv(std::string name, const std::optional<std::string>& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string m_name;
    std::optional<std::string> m_saved;
};
