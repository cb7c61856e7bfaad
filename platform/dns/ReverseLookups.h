#pragma once
// Reverse lookups (the name of an IPv4 address: the hosts file, then a DNS
// PTR question) for a caller that runs its own epoll loop. c-ares does the
// asking on non-blocking sockets; the caller watches the sockets it is told
// about and calls in when one is ready or when NextTimeoutMs has passed.
// Nothing here blocks, sleeps or starts a thread. Not thread-safe: one
// thread owns the object.
//
//   for (;;) {
//       apply lookups.TakeSocketChanges() to the epoll set;
//       n = epoll_wait(ep, events, max, lookups.NextTimeoutMs());
//       for each event: lookups.Process(fd, EPOLLIN|EPOLLERR|EPOLLHUP, EPOLLOUT);
//       lookups.ProcessTimeouts();
//       for (auto& answer : lookups.TakeAnswers()) ...
//   }

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

struct ares_channeldata;
struct hostent;

class ReverseLookups {
public:
    struct Options {
        // The DNS servers, as "127.0.0.53,127.0.0.1:5353" (an address and an
        // optional port each). Empty: the servers of the system's resolver
        // configuration (/etc/resolv.conf); the time-outs below apply either way.
        std::string servers;
        // Look in the hosts file before asking DNS, as the system's own lookups
        // do. It is always /etc/hosts: c-ares reads no other file for addresses.
        bool hostsFile = true;
        // How long the first question to a server waits for its answer; c-ares
        // doubles the wait on each round through the servers after the first.
        std::chrono::milliseconds tryTimeout{1000};
        // How many rounds through the servers one lookup makes.
        int tries = 2;
        // How many lookups are out at once; more wait their turn here. Answers
        // beyond what one socket's receive buffer holds would be dropped by
        // the kernel and cost a whole retry.
        std::size_t maxInFlight = 128;
    };

    enum class Outcome : std::uint8_t {
        Named,     // `name` holds the name
        NoName,    // the hosts file has none and DNS says there is none (NXDOMAIN, no PTR)
        NoServer,  // no server could answer: nothing listens there, it failed (SERVFAIL), or
                   // each of several servers refused
        Refused,   // the one server refused to answer
        TimedOut,  // no answer within the tries
        Cancelled, // CancelAll ended it
        Failed,    // an answer that could not be read (malformed, a name c-ares refuses), or out
                   // of memory
    };

    struct Answer {
        std::uint32_t address = 0; // host byte order, as asked
        std::uint64_t token = 0;   // as given to Ask
        Outcome outcome = Outcome::Failed;
        std::string name; // plain text (valid UTF-8, no control characters); empty unless Named
    };

    // A socket to watch from now on for reading and/or writing (EPOLL_CTL_ADD,
    // or EPOLL_CTL_MOD when it is there already: EEXIST); neither: it is
    // closed, take it out of the set (EPOLL_CTL_DEL, whose ENOENT or EBADF
    // only says that closing took it out already). In order: the same number
    // may come closed and then open, for a new socket.
    struct SocketInterest {
        int fd = -1;
        bool read = false;
        bool write = false;
    };

    // A resolver with these options; null with `error` saying why (plain text)
    // when c-ares cannot start or a server text cannot be read.
    static std::unique_ptr<ReverseLookups> Create(const Options& options, std::string& error);
    // Ends every lookup still out without an answer and closes the sockets.
    ~ReverseLookups();
    ReverseLookups(const ReverseLookups&) = delete;
    ReverseLookups& operator=(const ReverseLookups&) = delete;

    // Asks for the name of `address` (host byte order). Every Ask gets exactly
    // one Answer with its token; it may be there at once (the hosts file).
    void Ask(std::uint32_t address, std::uint64_t token);

    // A watched socket is ready. Pass EPOLLERR and EPOLLHUP as readable, so
    // that c-ares reads the error (nothing listening ends the try at once).
    void Process(int fd, bool readable, bool writable);
    // Retries and ends the lookups whose time has come.
    void ProcessTimeouts();
    // Milliseconds until ProcessTimeouts has work (rounded up, so that an
    // epoll wait ending then finds it due); -1 when no lookup is out.
    int NextTimeoutMs() const;

    // Ends every lookup, sent or waiting, with Outcome::Cancelled, at once:
    // nothing is sent or awaited. The object stays usable.
    void CancelAll();

    // Lookups asked and not yet answered (taken or not).
    std::size_t Pending() const { return m_pending; }
    // The longest one lookup can take once it is sent, from the time-outs,
    // the tries and the number of servers.
    std::chrono::milliseconds LookupBound() const;

    // What changed in the sockets to watch since the last call: one entry for
    // each socket that changed (two for a number closed and opened again).
    std::vector<SocketInterest> TakeSocketChanges();
    // The answers made since the last call, in the order they came.
    std::vector<Answer> TakeAnswers();

private:
    struct Query {
        ReverseLookups* owner;
        std::uint32_t address;
        std::uint64_t token;
    };

    explicit ReverseLookups(const Options& options);
    // Makes the channel (again) with these c-ares flags; false with `error`.
    bool Open(int flags, std::string& error);
    static void OnSocketState(void* data, int fd, int readable, int writable);
    static void OnHostsFile(void* arg, int status, int timeouts, hostent* host);
    static void OnPtrAnswer(void* arg, int status, int timeouts, unsigned char* reply, int length);
    void SendWaiting();
    void AskDns(Query* query);
    // Hands the answer out (not while closing) and frees the query.
    void Finish(Query* query, Outcome outcome, std::string name);

    Options m_options;
    ares_channeldata* m_channel = nullptr;
    std::size_t m_servers = 0;
    std::size_t m_inFlight = 0;
    std::size_t m_pending = 0;
    bool m_closing = false;
    std::deque<Query> m_waiting;
    std::vector<SocketInterest> m_socketChanges; // as c-ares told them
    std::vector<SocketInterest> m_watched;       // as the caller was told them
    std::vector<Answer> m_answers;
};
