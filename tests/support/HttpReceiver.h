#pragma once
// A real web hook receiver for tests: tests/support/http_receiver.py (Python's
// ThreadingHTTPServer) run as a child process, which records each request it
// gets and answers as the test tells it.
//
//   HttpReceiver receiver;
//   ASSERT_TRUE(receiver.Start()) << receiver.Error();
//   receiver.SetStatus(503);
//   ... post to receiver.Url("/hook") ...
//   EXPECT_EQ(receiver.Requests().size(), 1u);
//
// It may run in a test network namespace through a command prefix, e.g.
// {"ip", "netns", "exec", "NS"} with the namespace's own address to bind.
// The child is told to end (SIGTERM) when the thread that started it ends,
// so a test that dies does not leave it behind; start it from the thread that
// keeps the object.

#include "tests/support/TempDir.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <utility>
#include <vector>

class HttpReceiver {
public:
    struct Options {
        std::vector<std::string> commandPrefix; // run as PREFIX... python3 script ...
        std::string bindAddress = "127.0.0.1";
        // Both given: it answers https with this certificate and key (PEM files).
        std::string tlsCertificate, tlsKey;
    };

    struct Request {
        std::string method, path;
        std::vector<std::pair<std::string, std::string>> headers; // as they came, in order
        std::string body;                                         // the bytes

        // The value of the first header of that name, in any case.
        std::optional<std::string> Header(std::string_view name) const;
        // How many headers have that name.
        std::size_t HeaderCount(std::string_view name) const;
    };

    HttpReceiver();
    explicit HttpReceiver(Options options);
    ~HttpReceiver();
    HttpReceiver(const HttpReceiver&) = delete;
    HttpReceiver& operator=(const HttpReceiver&) = delete;

    // Starts it and waits until it listens: on any free port the first time,
    // on the same port after a Stop(). False, with Error() saying why, when it
    // did not come up.
    bool Start();
    // Ends it (SIGTERM, SIGKILL if it lingers) and reaps it. The requests and
    // the control files stay.
    void Stop();
    bool Running() const { return m_pid > 0; }

    int Port() const { return m_port; }
    // "http://127.0.0.1:PORT" + path ("https" with a certificate).
    std::string Url(const std::string& path = "/") const;

    // The requests so far, in the order they came.
    std::vector<Request> Requests() const;

    // What the following answers are: the status (200 until told), a wait
    // before each answer, a Location header and a reason phrase (both as
    // bytes; nullopt for none / the usual one), the size of the answer body.
    void SetStatus(int status);
    void SetDelay(std::chrono::milliseconds delay);
    void SetLocation(const std::optional<std::string>& bytes);
    void SetReason(const std::optional<std::string>& bytes);
    void SetAnswerBytes(std::size_t bytes);

    const std::string& Error() const { return m_error; }
    const std::string& Directory() const { return m_dir.path(); }

private:
    void WriteControl(const std::string& name, const std::optional<std::string>& bytes);

    Options m_options;
    TempDir m_dir;
    pid_t m_pid = -1;
    int m_port = 0;
    std::string m_error;
};
