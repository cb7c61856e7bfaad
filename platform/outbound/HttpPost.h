#pragma once
// Posting one JSON document to a web hook (libcurl). Synchronous: the call
// returns once the server answered, the exchange failed or the time-out
// passed. Calls from several threads at once are fine; each has its own
// connection.
//
// Only http and https, also for a redirect, which is reported and never
// followed. https checks the server's certificate and name against the
// system's CA store. Proxies come from the environment as libcurl reads it
// (http_proxy, https_proxy, no_proxy, ...). The server's answer body is read
// and dropped; what the server said comes back only as plain text.

#include "platform/outbound/CurlGlobal.h"

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

struct HttpPostRequest {
    std::string url;
    std::string body;                         // sent as is
    std::vector<std::string> headers;         // extra "Name: value" lines
    std::chrono::milliseconds timeout{10000}; // the whole exchange
    std::chrono::milliseconds connectTimeout{5000};
};

struct HttpPostResult {
    enum class Outcome { Delivered, Redirected, Failed };
    Outcome outcome = Outcome::Failed;
    long status = 0;    // the HTTP status; 0 when none came
    std::string detail; // plain text: why it failed ("connection refused", "HTTP 503",
                        // "no answer within 10 s", ...), or for a redirect where it pointed
};

// Sends `request.body` with Content-Type "application/json; charset=utf-8"
// and User-Agent "vopal-scan/<version>". 2xx is Delivered, 3xx Redirected
// (detail: the Location), anything else Failed. An extra header line that
// is not "Name: value" (a token, a colon, a value without control
// characters) or that names a header this function sets itself (Content-Type,
// Content-Length, User-Agent, Host, Transfer-Encoding, Expect) fails the call
// before anything is sent. `curl` is main's set-up of libcurl; when it
// failed, so does the call.
HttpPostResult HttpPost(const CurlGlobal& curl, const HttpPostRequest& request);

// Whether `url` can be notified: http:// or https:// with a host, no spaces or
// control characters; false with the reason (plain text, for a usage message).
// Read by libcurl's URL parser: only while a CurlGlobal lives.
bool IsNotifyUrl(const std::string& url, std::string& why);

// The User-Agent HttpPost sends.
std::string HttpPostUserAgent();

// The longest detail HttpPost gives, in bytes (a Location or a reason the
// server sent is cut to fit).
inline constexpr std::size_t kHttpPostMaxDetailBytes = 512;
