#include "tests/support/HttpReceiver.h"

#include "tests/support/ChildProcess.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// How long the receiver may take to listen, and to go after SIGTERM.
constexpr std::chrono::seconds kStartLimit{15};
constexpr std::chrono::seconds kStopLimit{5};
constexpr std::chrono::milliseconds kLookEvery{10};

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string Base64Decoded(std::string_view text) {
    static constexpr std::string_view kDigits =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string bytes;
    unsigned value = 0;
    int bits = 0;
    for (const char c : text) {
        const std::size_t digit = kDigits.find(c);
        if (digit == std::string_view::npos)
            continue; // '=' padding
        value = (value << 6) | static_cast<unsigned>(digit);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            bytes += static_cast<char>((value >> bits) & 0xFF);
        }
    }
    return bytes;
}

} // namespace

std::optional<std::string> HttpReceiver::Request::Header(std::string_view name) const {
    for (const auto& [key, value] : headers)
        if (EqualsIgnoringCase(key, name))
            return value;
    return std::nullopt;
}

std::size_t HttpReceiver::Request::HeaderCount(std::string_view name) const {
    return static_cast<std::size_t>(
        std::count_if(headers.begin(), headers.end(),
                      [&](const auto& header) { return EqualsIgnoringCase(header.first, name); }));
}

HttpReceiver::HttpReceiver() : HttpReceiver(Options{}) {}

HttpReceiver::HttpReceiver(Options options) : m_options(std::move(options)) {}

HttpReceiver::~HttpReceiver() {
    Stop();
}

bool HttpReceiver::Start() {
    m_error.clear();
    if (Running()) {
        m_error = "already running";
        return false;
    }
    const std::string portFile = m_dir.file("port");
    std::remove(portFile.c_str());

    // Everything the child needs is made before the fork: after it, only
    // calls that are safe in a child of a threaded process.
    std::vector<std::string> words = m_options.commandPrefix;
    const std::vector<std::string> own = {
        KD_SYSTEM_PYTHON3, KD_HTTP_RECEIVER_SCRIPT, "--bind", m_options.bindAddress,
        "--port",          std::to_string(m_port),  "--dir",  m_dir.path()};
    words.insert(words.end(), own.begin(), own.end());
    if (!m_options.tlsCertificate.empty()) {
        words.insert(words.end(),
                     {"--tls-cert", m_options.tlsCertificate, "--tls-key", m_options.tlsKey});
    }
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid < 0) {
        m_error = std::string("fork: ") + std::strerror(errno);
        return false;
    }
    if (pid == 0) {
        if (!ChildProcess::BecomeServerChild(SIGTERM, parent))
            _exit(126);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    m_pid = pid;

    const Clock::time_point limit = Clock::now() + kStartLimit;
    for (;;) {
        int status = 0;
        if (ChildProcess::Exited(m_pid, status)) {
            m_pid = -1;
            m_error = "the receiver ended before it listened (" +
                      ChildProcess::WaitStatusText(status) + ")";
            return false;
        }
        if (TempDir::Exists(portFile)) {
            const int port = std::atoi(TempDir::ReadFile(portFile).c_str());
            if (port > 0 && port < 65536 && (m_port == 0 || port == m_port)) {
                m_port = port;
                return true;
            }
            m_error = "the receiver wrote a port that is not the one asked for";
            break;
        }
        if (Clock::now() >= limit) {
            m_error = "the receiver did not listen in time";
            break;
        }
        std::this_thread::sleep_for(kLookEvery);
    }
    Stop();
    return false;
}

void HttpReceiver::Stop() {
    if (m_pid <= 0)
        return;
    ChildProcess::End(m_pid, kStopLimit);
    m_pid = -1;
}

std::string HttpReceiver::Url(const std::string& path) const {
    const std::string& host = m_options.bindAddress;
    const std::string scheme = m_options.tlsCertificate.empty() ? "http" : "https";
    const bool v6 = host.find(':') != std::string::npos;
    return scheme + "://" + (v6 ? "[" + host + "]" : host) + ":" + std::to_string(m_port) + path;
}

std::vector<HttpReceiver::Request> HttpReceiver::Requests() const {
    std::vector<Request> requests;
    const std::string directory = m_dir.file("requests");
    if (!TempDir::Exists(directory))
        return requests;
    for (const std::string& name : TempDir::EntryNames(directory)) {
        if (name.size() < 5 || name.compare(name.size() - 5, 5, ".json") != 0)
            continue; // one still being written
        const nlohmann::json entry =
            nlohmann::json::parse(TempDir::ReadFile(directory + "/" + name), nullptr, false);
        if (entry.is_discarded() || !entry.is_object())
            continue;
        Request request;
        request.method = entry.value("method", "");
        request.path = entry.value("path", "");
        for (const auto& header : entry.value("headers", nlohmann::json::array()))
            request.headers.emplace_back(header.at(0).get<std::string>(),
                                         header.at(1).get<std::string>());
        const std::string body = entry.value("body", "");
        request.body = entry.value("body_encoding", "") == "base64" ? Base64Decoded(body) : body;
        requests.push_back(std::move(request));
    }
    return requests;
}

void HttpReceiver::WriteControl(const std::string& name, const std::optional<std::string>& bytes) {
    const std::string path = m_dir.file(name);
    if (!bytes) {
        std::remove(path.c_str());
        return;
    }
    // Renamed into place, so that the receiver never reads half of it.
    const std::string temporary = path + ".new";
    TempDir::WriteFile(temporary, *bytes);
    std::rename(temporary.c_str(), path.c_str());
}

void HttpReceiver::SetStatus(int status) {
    WriteControl("status", std::to_string(status));
}

void HttpReceiver::SetDelay(std::chrono::milliseconds delay) {
    WriteControl("delay_ms", std::to_string(delay.count()));
}

void HttpReceiver::SetLocation(const std::optional<std::string>& bytes) {
    WriteControl("location", bytes);
}

void HttpReceiver::SetReason(const std::optional<std::string>& bytes) {
    WriteControl("reason", bytes);
}

void HttpReceiver::SetAnswerBytes(std::size_t bytes) {
    WriteControl("answer_bytes", std::to_string(bytes));
}
