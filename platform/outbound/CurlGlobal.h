#pragma once
// libcurl's global set-up, made as libcurl asks for it: once, by the
// program's main before any other thread runs, and undone when main is done
// with it (curl_global_init, curl_global_cleanup). Nothing of libcurl may be
// used outside its lifetime; HttpPost takes it as the proof.

class CurlGlobal {
public:
    CurlGlobal();
    ~CurlGlobal();
    CurlGlobal(const CurlGlobal&) = delete;
    CurlGlobal& operator=(const CurlGlobal&) = delete;

    // False when libcurl could not set itself up: every post then fails.
    bool Ready() const { return m_ready; }

private:
    bool m_ready;
};
