#include "core/watch/WatchLog.h"

#include "core/inventory/InventoryReport.h"
#include "core/inventory/sqlite/ScanRecording.h"
#include "platform/text/TextCodec.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

std::string WatchLog::PathBeside(const std::string& inventory) {
    const std::size_t slash = inventory.rfind('/');
    return slash == std::string::npos ? kFileName : inventory.substr(0, slash + 1) + kFileName;
}

bool WatchLog::Write(const std::string& text, const std::string& detail) {
    struct stat info {};
    if (::stat(m_path.c_str(), &info) == 0 && static_cast<std::size_t>(info.st_size) >= m_limit)
        ::rename(m_path.c_str(), (m_path + ".1").c_str());
    // Plain and valid UTF-8, whatever a command or a receiver wrote.
    const auto plain = [](std::string_view line) { return PlainUtf8(line, 64 * 1024); };
    std::string entry = LocalDateTimeText(UnixTimeMs()) + " " + plain(text) + "\n";
    for (std::size_t start = 0; start < detail.size();) {
        std::size_t end = detail.find('\n', start);
        if (end == std::string::npos)
            end = detail.size();
        entry += "    | " + plain(std::string_view(detail).substr(start, end - start)) + "\n";
        start = end + 1;
    }
    // One write in append mode: the entries of two runs never mix.
    const int fd = ::open(m_path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    ssize_t written;
    do {
        written = ::write(fd, entry.data(), entry.size());
    } while (written < 0 && errno == EINTR);
    const bool closed = ::close(fd) == 0;
    return written == static_cast<ssize_t>(entry.size()) && closed;
}

std::string ReceiverName(const std::string& url) {
    const std::size_t scheme = url.find("://");
    if (scheme == std::string::npos)
        return "…";
    std::size_t hostStart = scheme + 3;
    const std::size_t hostEnd = url.find_first_of("/?#", hostStart);
    const std::size_t at = url.rfind('@', hostEnd == std::string::npos ? url.size() : hostEnd);
    const bool hidden = at != std::string::npos && at >= hostStart;
    if (hidden)
        hostStart = at + 1;
    std::string name = url.substr(0, scheme + 3) +
                       url.substr(hostStart, (hostEnd == std::string::npos ? url.size() : hostEnd) -
                                                 hostStart);
    const bool more = hostEnd != std::string::npos && hostEnd + 1 < url.size();
    if (hidden || more)
        name += "/…";
    return PlainText(name);
}
