#pragma once
// A test's server program run as a child: started with its arguments, taken
// as ready once its standard error's first line begins as told, and ended
// (SIGTERM, then reaped) with the object or with the thread that started it,
// whatever becomes of the test.

#include <string>
#include <sys/types.h>
#include <vector>

class ReadyChild {
public:
    // Starts `program` with `args` and waits, at most `patienceMs`, for the
    // first line it writes to standard error; Error() is empty when that line
    // begins with `readyPrefix`, and says what came otherwise.
    ReadyChild(const std::string& program, const std::vector<std::string>& args,
               const std::string& readyPrefix, int patienceMs = 10000);
    ~ReadyChild();
    ReadyChild(const ReadyChild&) = delete;
    ReadyChild& operator=(const ReadyChild&) = delete;

    const std::string& Error() const { return m_error; }

private:
    pid_t m_pid = -1;
    std::string m_error;
};
