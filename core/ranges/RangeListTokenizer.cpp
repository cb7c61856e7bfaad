#include "core/ranges/RangeListTokenizer.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

RangeListTokenizer::RangeListTokenizer(Sink sink) : m_sink(std::move(sink)) {}

bool RangeListTokenizer::Feed(std::string_view bytes) {
    for (char c : bytes) {
        if (m_tooLong)
            return false;
        if (m_afterCr) {
            m_afterCr = false;
            if (c == '\n')
                continue; // "\r\n" is one line end
            // any other byte after a lone "\r" is read as it stands
        }
        if (c != ',' && c != '\r' && c != '\n') {
            if (m_text.size() >= kMaxFieldBytes) {
                m_tooLong = true;
                return false;
            }
            m_text.push_back(c);
            continue;
        }
        RangeListField field{m_field, m_line, std::move(m_text), m_fileLine};
        m_text.clear();
        if (c != ',')
            ++m_fileLine; // the "\n" of a "\r\n" was skipped above
        if (m_field == 1 || c == '\r') {
            ++m_line;
            m_field = 0;
        } else {
            m_field = 1;
        }
        m_afterCr = c == '\r';
        m_sink(field);
    }
    return !m_tooLong;
}

RangeListTokenizer::FileResult RangeListTokenizer::FeedFile(const std::string& path) {
    // O_NONBLOCK keeps a FIFO from blocking the open; only regular files are read.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return FileResult::Unreadable;
    struct stat info;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return FileResult::Unreadable;
    }
    char buffer[65536];
    FileResult result = FileResult::Complete;
    for (;;) {
        ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            result = FileResult::Unreadable;
            break;
        }
        if (got == 0)
            break;
        if (!Feed(std::string_view(buffer, static_cast<std::size_t>(got)))) {
            result = FileResult::TooLong;
            break;
        }
    }
    ::close(fd);
    return result;
}

RangeListTokens TokenizeRangeList(std::string_view bytes) {
    RangeListTokens tokens;
    RangeListTokenizer tokenizer(
        [&tokens](const RangeListField& field) { tokens.fields.push_back(field); });
    tokens.tooLong = !tokenizer.Feed(bytes);
    return tokens;
}
