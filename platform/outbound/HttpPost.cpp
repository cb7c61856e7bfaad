#include "platform/outbound/HttpPost.h"

#include "platform/os/SigpipeBlock.h"
#include "platform/text/TextCodec.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string_view>

#ifndef KD_VERSION
#error "KD_VERSION (the project's version) is given by platform/CMakeLists.txt"
#endif

namespace {

// An answer body is never kept; one this long is not read to its end.
constexpr std::size_t kMaxAnswerBodyBytes = 1 << 20;
// The raw Location and reason kept from the answer, before being made plain.
constexpr std::size_t kMaxRawHeaderText = 8192;
constexpr std::size_t kMaxUrlBytes = 8192;

struct EasyDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct ListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
struct UrlDeleter {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           EqualsIgnoringCase(text.substr(0, prefix.size()), prefix);
}

std::string_view TrimmedSpaces(std::string_view text) {
    const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && space(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && space(text.back()))
        text.remove_suffix(1);
    return text;
}

// A header name character (an RFC 9110 token).
bool IsTokenChar(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return (byte >= '0' && byte <= '9') || (byte >= 'a' && byte <= 'z') ||
           (byte >= 'A' && byte <= 'Z') || std::strchr("!#$%&'*+-.^_`|~", c) != nullptr;
}

// Why an extra header line cannot be sent; empty when it can.
std::string HeaderLineFault(std::string_view line) {
    static constexpr std::string_view kOurs[] = {"Content-Type", "Content-Length",    "User-Agent",
                                                 "Host",         "Transfer-Encoding", "Expect"};
    const std::size_t colon = line.find(':');
    const std::string_view name = line.substr(0, colon);
    if (colon == std::string_view::npos || name.empty() ||
        !std::all_of(name.begin(), name.end(), IsTokenChar))
        return "a header line is not \"Name: value\"";
    const std::string_view value = TrimmedSpaces(line.substr(colon + 1));
    if (value.empty())
        return "the header " + std::string(name) + " has no value";
    for (const char c : line.substr(colon + 1)) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte < 0x20 && c != '\t') || byte == 0x7F)
            return "the header " + std::string(name) + " holds a control character";
    }
    for (const std::string_view ours : kOurs)
        if (EqualsIgnoringCase(name, ours))
            return "the header " + std::string(ours) + " is set by the program itself";
    return {};
}

// "10 s", "1500 ms".
std::string DurationText(std::chrono::milliseconds duration) {
    const long long ms = duration.count();
    return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
}

// What one exchange collected from the answer while it came in.
struct Answer {
    std::string statusLine; // of the latest response (a 1xx may come before the final one)
    std::string location;
    bool haveLocation = false;
    bool finalHeadersDone = false; // the headers of a final (non-1xx) response are complete
    std::size_t bodyBytes = 0;
};

std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
    auto& answer = *static_cast<Answer*>(user);
    const std::size_t bytes = size * count;
    const std::string_view line(data, bytes);
    if (StartsWithIgnoringCase(line, "HTTP/")) {
        // A new response: what an earlier (1xx) one said no longer counts.
        answer.statusLine = std::string(TrimmedSpaces(line.substr(0, kMaxRawHeaderText)));
        answer.location.clear();
        answer.haveLocation = false;
        answer.finalHeadersDone = false;
    } else if (StartsWithIgnoringCase(line, "location:")) {
        answer.location = std::string(TrimmedSpaces(line.substr(9).substr(0, kMaxRawHeaderText)));
        answer.haveLocation = true;
    } else if (TrimmedSpaces(line).empty()) {
        // The end of a response's headers; "HTTP/1.1 1xx" ones are followed by more.
        const std::size_t space = answer.statusLine.find(' ');
        answer.finalHeadersDone =
            space != std::string::npos && answer.statusLine.compare(space + 1, 1, "1") != 0;
    }
    return bytes;
}

std::size_t OnBody(char*, std::size_t size, std::size_t count, void* user) {
    auto& answer = *static_cast<Answer*>(user);
    const std::size_t bytes = size * count;
    answer.bodyBytes += bytes;
    // Returning less than was given ends the transfer; the status is known by now.
    return answer.bodyBytes > kMaxAnswerBodyBytes ? 0 : bytes;
}

// The reason phrase of "HTTP/1.1 503 Service Unavailable" (empty for HTTP/2,
// which has none).
std::string_view ReasonOf(std::string_view statusLine) {
    const std::size_t first = statusLine.find(' ');
    if (first == std::string_view::npos)
        return {};
    const std::size_t second = statusLine.find(' ', first + 1);
    return second == std::string_view::npos ? std::string_view{}
                                            : TrimmedSpaces(statusLine.substr(second + 1));
}

std::string Plain(std::string_view text) {
    return PlainUtf8(text, kHttpPostMaxDetailBytes);
}

HttpPostResult StatusResult(long status, const Answer& answer) {
    HttpPostResult result;
    result.status = status;
    const std::string_view reason = ReasonOf(answer.statusLine);
    const std::string statusText =
        "HTTP " + std::to_string(status) + (reason.empty() ? "" : " " + std::string(reason));
    if (status >= 200 && status <= 299) {
        result.outcome = HttpPostResult::Outcome::Delivered;
        result.detail = Plain(statusText);
    } else if (status >= 300 && status <= 399) {
        result.outcome = HttpPostResult::Outcome::Redirected;
        result.detail = answer.haveLocation && !answer.location.empty()
                            ? Plain(answer.location)
                            : Plain(statusText + " without a Location");
    } else {
        result.outcome = HttpPostResult::Outcome::Failed;
        result.detail = Plain(statusText);
    }
    return result;
}

std::string ConnectFailure(long osError) {
    switch (osError) {
    case ECONNREFUSED:
        return "connection refused";
    case ENETUNREACH:
        return "network unreachable";
    case EHOSTUNREACH:
        return "host unreachable";
    case ECONNRESET:
        return "connection reset";
    case 0:
        return "could not connect";
    default:
        return "could not connect: " + std::string(std::strerror(static_cast<int>(osError)));
    }
}

// Why an exchange that brought no final answer failed.
std::string TransportFailure(CURL* handle, CURLcode code, const char* errorText,
                             const HttpPostRequest& request) {
    const std::string curlText = *errorText ? errorText : curl_easy_strerror(code);
    long osError = 0;
    curl_easy_getinfo(handle, CURLINFO_OS_ERRNO, &osError);
    long requestBytes = 0;
    curl_easy_getinfo(handle, CURLINFO_REQUEST_SIZE, &requestBytes);
    switch (code) {
    case CURLE_COULDNT_CONNECT:
        return ConnectFailure(osError);
    case CURLE_OPERATION_TIMEDOUT:
        // The request went out: the server did not answer in time. Otherwise
        // the connection was not made in time, whichever limit came first.
        return requestBytes > 0
                   ? "no answer within " + DurationText(request.timeout)
                   : "no connection within " +
                         DurationText(std::min(request.timeout, request.connectTimeout));
    case CURLE_COULDNT_RESOLVE_HOST:
        return "the host name could not be resolved";
    case CURLE_COULDNT_RESOLVE_PROXY:
        return "the proxy's name could not be resolved";
    case CURLE_PEER_FAILED_VERIFICATION:
        return "the server's certificate was not accepted: " + curlText;
    case CURLE_SSL_CONNECT_ERROR:
        return "no secure connection: " + curlText;
    case CURLE_GOT_NOTHING:
        return "the server closed the connection without an answer";
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
        return "the connection broke: " + curlText;
    case CURLE_WEIRD_SERVER_REPLY:
        return "the answer is not HTTP: " + curlText;
    default:
        return curlText;
    }
}

} // namespace

std::string HttpPostUserAgent() {
    return "vopal-scan/" KD_VERSION;
}

bool IsNotifyUrl(const std::string& url, std::string& why) {
    why.clear();
    if (url.empty()) {
        why = "the address is empty";
        return false;
    }
    if (url.size() > kMaxUrlBytes) {
        why = "the address is longer than " + std::to_string(kMaxUrlBytes) + " bytes";
        return false;
    }
    for (const char c : url) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == 0x7F) {
            why = "the address holds a space or a control character";
            return false;
        }
    }
    if (PlainUtf8(url, url.size() + 3) != url) {
        why = "the address holds a control character or bytes that are not UTF-8";
        return false;
    }
    const std::size_t separator = url.find("://");
    const std::string_view scheme =
        std::string_view(url).substr(0, separator == std::string::npos ? 0 : separator);
    if (!EqualsIgnoringCase(scheme, "http") && !EqualsIgnoringCase(scheme, "https")) {
        why = "only http:// and https:// addresses can be notified";
        return false;
    }
    // libcurl would read "http:///name" as the host "name"; that is a slip
    // to point out, not to guess at.
    const std::size_t authority = separator + 3;
    if (authority >= url.size() || std::strchr("/?#", url[authority]) != nullptr) {
        why = "the address has no host";
        return false;
    }
    const std::unique_ptr<CURLU, UrlDeleter> parsed(curl_url());
    if (!parsed) {
        why = "out of memory";
        return false;
    }
    const CURLUcode code = curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), 0);
    if (code == CURLUE_NO_HOST) {
        why = "the address has no host";
        return false;
    }
    if (code != CURLUE_OK) {
        why = "not a valid address: " + PlainUtf8(curl_url_strerror(code), 200);
        return false;
    }
    char* host = nullptr;
    const bool haveHost = curl_url_get(parsed.get(), CURLUPART_HOST, &host, 0) == CURLUE_OK &&
                          host != nullptr && *host != '\0';
    curl_free(host);
    if (!haveHost) {
        why = "the address has no host";
        return false;
    }
    return true;
}

namespace {

using HeaderList = std::unique_ptr<curl_slist, ListDeleter>;

// Our own header lines and the request's extra ones, each sent as "Name:
// value" with the value trimmed, as the receiver reads it. Empty, with
// `list` filled, when all can be sent; else why not (plain text).
std::string ListHeaders(const HttpPostRequest& request, HeaderList& list) {
    const auto add = [&list](const std::string& line) {
        // The list's head stays the same once there is one; on failure the
        // old list is untouched.
        curl_slist* longer = curl_slist_append(list.get(), line.c_str());
        if (!longer)
            return false;
        (void)list.release();
        list.reset(longer);
        return true;
    };
    bool listed = add("Content-Type: application/json; charset=utf-8");
    // No "Expect: 100-continue" and its wait for a server that does not answer it.
    listed = listed && add("Expect:");
    for (const std::string& line : request.headers) {
        const std::string fault = HeaderLineFault(line);
        if (!fault.empty())
            return Plain(fault);
        const std::size_t colon = line.find(':');
        listed =
            listed && add(line.substr(0, colon) + ": " +
                          std::string(TrimmedSpaces(std::string_view(line).substr(colon + 1))));
    }
    return listed ? std::string() : "out of memory";
}

// What one exchange sends, how long it may take and where the answer goes.
// False when libcurl refused an option.
bool SetOptions(CURL* h, const HttpPostRequest& request, curl_slist* headers,
                const std::string& userAgent, char* errorText, Answer& answer) {
    // libcurl reads 0 as "no limit": a time-out is always at least 1 ms.
    const std::chrono::milliseconds timeout =
        std::max(request.timeout, std::chrono::milliseconds(1));
    const std::chrono::milliseconds connectTimeout =
        std::max(request.connectTimeout, std::chrono::milliseconds(1));
    bool set = true;
    const auto option = [&set](CURLcode code) { set = set && code == CURLE_OK; };
    option(curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorText));
    option(curl_easy_setopt(h, CURLOPT_URL, request.url.c_str()));
    option(curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https"));
    option(curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https"));
    option(curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L));
    option(curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L));
    option(curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L));
    option(curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L));
    option(curl_easy_setopt(h, CURLOPT_POST, 1L));
    option(curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE,
                            static_cast<curl_off_t>(request.body.size())));
    option(curl_easy_setopt(h, CURLOPT_POSTFIELDS, request.body.data()));
    option(curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers));
    option(curl_easy_setopt(h, CURLOPT_USERAGENT, userAgent.c_str()));
    option(curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(timeout.count())));
    option(
        curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(connectTimeout.count())));
    // A proxy's answer to CONNECT is not the server's.
    option(curl_easy_setopt(h, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L));
    option(curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, OnHeader));
    option(curl_easy_setopt(h, CURLOPT_HEADERDATA, &answer));
    option(curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, OnBody));
    option(curl_easy_setopt(h, CURLOPT_WRITEDATA, &answer));
    return set;
}

// What the finished exchange (`code`) came to.
HttpPostResult ExchangeResult(CURL* h, CURLcode code, const Answer& answer, const char* errorText,
                              const HttpPostRequest& request) {
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    // A final answer counts even when reading its body then failed or was cut
    // short: the server has said what it did with the document.
    if (answer.finalHeadersDone && status >= 200)
        return StatusResult(status, answer);
    HttpPostResult result;
    result.status = status;
    // Only an interim answer and then nothing: not delivered.
    result.detail = code == CURLE_OK
                        ? Plain("HTTP " + std::to_string(status) + " without a final answer")
                        : Plain(TransportFailure(h, code, errorText, request));
    return result;
}

} // namespace

HttpPostResult HttpPost(const CurlGlobal& curl, const HttpPostRequest& request) {
    HttpPostResult result;
    if (!curl.Ready()) {
        result.detail = "libcurl could not be initialised";
        return result;
    }
    if (!IsNotifyUrl(request.url, result.detail))
        return result;
    HeaderList headers;
    result.detail = ListHeaders(request, headers);
    if (!result.detail.empty())
        return result;
    const std::unique_ptr<CURL, EasyDeleter> handle(curl_easy_init());
    if (!handle) {
        result.detail = "out of memory";
        return result;
    }
    const std::string userAgent = HttpPostUserAgent();
    Answer answer;
    char errorText[CURL_ERROR_SIZE] = "";
    if (!SetOptions(handle.get(), request, headers.get(), userAgent, errorText, answer)) {
        result.detail = "libcurl refused an option: " + Plain(errorText);
        return result;
    }
    CURLcode code;
    {
        // With CURLOPT_NOSIGNAL libcurl leaves SIGPIPE to us; a server that
        // closes early must not end the program.
        const SigpipeBlock noSigpipe;
        code = curl_easy_perform(handle.get());
    }
    return ExchangeResult(handle.get(), code, answer, errorText, request);
}
