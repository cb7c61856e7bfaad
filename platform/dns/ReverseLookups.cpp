#include "platform/dns/ReverseLookups.h"

#include "platform/text/TextCodec.h"

#include <algorithm>
#include <ares.h>
#include <arpa/inet.h>
#include <arpa/nameser.h>
#include <netdb.h>
#include <string>
#include <sys/time.h>
#include <utility>

namespace {

// The longest DNS name is 253 characters; a hosts file line may hold more.
constexpr std::size_t kMaxNameBytes = 255;

// ares_library_init does nothing that matters on Linux today, but c-ares
// asks for it once before any channel, and it is not thread-safe itself.
bool LibraryReady() {
    static const bool ready = ares_library_init(ARES_LIB_INIT_ALL) == ARES_SUCCESS;
    return ready;
}

ReverseLookups::Outcome OutcomeOf(int status) {
    using Outcome = ReverseLookups::Outcome;
    switch (status) {
    case ARES_SUCCESS:
        return Outcome::Named;
    case ARES_ENOTFOUND:
    case ARES_ENODATA:
        return Outcome::NoName;
    case ARES_ECONNREFUSED:
    case ARES_ESERVFAIL:
        return Outcome::NoServer;
    case ARES_EREFUSED:
        return Outcome::Refused;
    case ARES_ETIMEOUT:
        return Outcome::TimedOut;
    case ARES_ECANCELLED:
    case ARES_EDESTRUCTION:
        return Outcome::Cancelled;
    default:
        return Outcome::Failed;
    }
}

} // namespace

ReverseLookups::ReverseLookups(const Options& options) : m_options(options) {}

std::unique_ptr<ReverseLookups> ReverseLookups::Create(const Options& options, std::string& error) {
    error.clear();
    if (!LibraryReady()) {
        error = "c-ares could not be initialised";
        return nullptr;
    }
    if (options.tryTimeout.count() < 1 || options.tries < 1 || options.maxInFlight < 1) {
        error = "the time-out, the tries and the lookups at once must be at least 1";
        return nullptr;
    }
    std::unique_ptr<ReverseLookups> lookups(new ReverseLookups(options));
    if (!lookups->Open(0, error))
        return nullptr;
    // c-ares takes a refusal or a failure (SERVFAIL) as a reason to ask the
    // next server, as the system's resolver does, and when none is left says
    // only that no server could be reached. With one server there is no next
    // one: the channel is made again to hand its answer through as it is.
    if (lookups->m_servers == 1 && !lookups->Open(ARES_FLAG_NOCHECKRESP, error))
        return nullptr;
    return lookups;
}

bool ReverseLookups::Open(int flags, std::string& error) {
    if (m_channel != nullptr) {
        m_closing = true; // nothing has been asked yet: nothing to tell
        ares_destroy(m_channel);
        m_channel = nullptr;
        m_closing = false;
        m_socketChanges.clear();
        m_watched.clear();
    }
    ares_options settings{};
    const int mask = ARES_OPT_FLAGS | ARES_OPT_SOCK_STATE_CB | ARES_OPT_TIMEOUTMS | ARES_OPT_TRIES |
                     ARES_OPT_LOOKUPS;
    settings.flags = flags;
    settings.sock_state_cb = &ReverseLookups::OnSocketState;
    settings.sock_state_cb_data = this;
    settings.timeout = static_cast<int>(m_options.tryTimeout.count());
    settings.tries = m_options.tries;
    // ares_gethostbyaddr is used for the hosts file alone ("f"); the DNS
    // question is asked by AskDns.
    char hostsFileOnly[] = "f";
    settings.lookups = hostsFileOnly;

    ares_channel channel = nullptr;
    int status = ares_init_options(&channel, &settings, mask);
    if (status != ARES_SUCCESS) {
        error = std::string("c-ares: ") + ares_strerror(status);
        if (channel != nullptr)
            ares_destroy(channel);
        return false;
    }
    m_channel = channel;
    if (!m_options.servers.empty()) {
        status = ares_set_servers_ports_csv(channel, m_options.servers.c_str());
        if (status != ARES_SUCCESS) {
            error = "the DNS servers \"" + PlainUtf8(m_options.servers, 200) +
                    "\" cannot be read: " + ares_strerror(status);
            return false;
        }
    }
    m_servers = 0;
    ares_addr_port_node* servers = nullptr;
    if (ares_get_servers_ports(channel, &servers) == ARES_SUCCESS) {
        for (const ares_addr_port_node* node = servers; node != nullptr; node = node->next)
            ++m_servers;
        ares_free_data(servers);
    }
    return true;
}

ReverseLookups::~ReverseLookups() {
    if (m_channel == nullptr)
        return;
    // ares_destroy ends every query (ARES_EDESTRUCTION) and closes the sockets,
    // telling both; nobody is left to take either.
    m_closing = true;
    ares_destroy(m_channel);
}

void ReverseLookups::Ask(std::uint32_t address, std::uint64_t token) {
    ++m_pending;
    m_waiting.push_back({this, address, token});
    SendWaiting();
}

void ReverseLookups::SendWaiting() {
    while (m_inFlight < m_options.maxInFlight && !m_waiting.empty()) {
        Query* query = new Query(m_waiting.front());
        m_waiting.pop_front();
        ++m_inFlight;
        // The answer may come before this returns (the hosts file, an error).
        if (m_options.hostsFile) {
            const in_addr wire{htonl(query->address)};
            ares_gethostbyaddr(m_channel, &wire, sizeof wire, AF_INET, &ReverseLookups::OnHostsFile,
                               query);
        } else {
            AskDns(query);
        }
    }
}

void ReverseLookups::AskDns(Query* query) {
    // The question that ares_gethostbyaddr would ask after the hosts file,
    // asked here so that its status (refused, timed out, nothing listening)
    // reaches the caller: ares_gethostbyaddr reports every failure of DNS as
    // "not found".
    const std::uint32_t a = query->address;
    const std::string name = std::to_string(a & 0xFF) + '.' + std::to_string((a >> 8) & 0xFF) +
                             '.' + std::to_string((a >> 16) & 0xFF) + '.' +
                             std::to_string(a >> 24) + ".in-addr.arpa";
    ares_query(m_channel, name.c_str(), ns_c_in, ns_t_ptr, &ReverseLookups::OnPtrAnswer, query);
}

void ReverseLookups::Process(int fd, bool readable, bool writable) {
    ares_process_fd(m_channel, readable ? fd : ARES_SOCKET_BAD, writable ? fd : ARES_SOCKET_BAD);
    SendWaiting();
}

void ReverseLookups::ProcessTimeouts() {
    ares_process_fd(m_channel, ARES_SOCKET_BAD, ARES_SOCKET_BAD);
    SendWaiting();
}

int ReverseLookups::NextTimeoutMs() const {
    timeval wait{};
    if (ares_timeout(m_channel, nullptr, &wait) == nullptr)
        return -1; // none sent, so none waiting either: a free slot sends at once
    const long long ms = static_cast<long long>(wait.tv_sec) * 1000 + (wait.tv_usec + 999) / 1000;
    return ms > 0x7fffffff ? 0x7fffffff : static_cast<int>(ms);
}

void ReverseLookups::CancelAll() {
    // The waiting ones first, so that answers for the sent ones cannot let
    // them go out in between.
    std::deque<Query> waiting;
    waiting.swap(m_waiting);
    for (const Query& query : waiting) {
        --m_pending;
        m_answers.push_back({query.address, query.token, Outcome::Cancelled, {}});
    }
    ares_cancel(m_channel);
}

std::chrono::milliseconds ReverseLookups::LookupBound() const {
    // c-ares asks each server once a round and, from the second round on,
    // waits twice as long as in the round before.
    const std::size_t servers = m_servers == 0 ? 1 : m_servers;
    std::chrono::milliseconds bound{0};
    for (int round = 0; round < m_options.tries; ++round)
        bound += m_options.tryTimeout * (1LL << round) * static_cast<long long>(servers);
    return bound;
}

std::vector<ReverseLookups::SocketInterest> ReverseLookups::TakeSocketChanges() {
    // c-ares may open, close and open again the same number within one call;
    // the caller gets each socket's state as it is now, and learns of a
    // socket opened and closed in between not at all.
    struct Final {
        SocketInterest now;
        bool closedOnTheWay = false;
    };
    std::vector<Final> finals;
    for (const SocketInterest& change : m_socketChanges) {
        auto it = std::find_if(finals.begin(), finals.end(),
                               [&](const Final& f) { return f.now.fd == change.fd; });
        if (it == finals.end()) {
            finals.push_back({change});
            it = finals.end() - 1;
        } else {
            it->now = change;
        }
        if (!change.read && !change.write)
            it->closedOnTheWay = true;
    }
    m_socketChanges.clear();

    std::vector<SocketInterest> out;
    for (const Final& f : finals) {
        const bool open = f.now.read || f.now.write;
        auto told = std::find_if(m_watched.begin(), m_watched.end(),
                                 [&](const SocketInterest& w) { return w.fd == f.now.fd; });
        const bool known = told != m_watched.end();
        if (!open) {
            if (known) {
                out.push_back({f.now.fd, false, false});
                m_watched.erase(told);
            }
            continue;
        }
        if (known && f.closedOnTheWay) {
            out.push_back({f.now.fd, false, false}); // another socket by the same number
        } else if (known && told->read == f.now.read && told->write == f.now.write) {
            continue;
        }
        out.push_back(f.now);
        if (known)
            *told = f.now;
        else
            m_watched.push_back(f.now);
    }
    return out;
}

std::vector<ReverseLookups::Answer> ReverseLookups::TakeAnswers() {
    return std::exchange(m_answers, {});
}

void ReverseLookups::OnSocketState(void* data, int fd, int readable, int writable) {
    auto* self = static_cast<ReverseLookups*>(data);
    if (!self->m_closing)
        self->m_socketChanges.push_back({fd, readable != 0, writable != 0});
}

void ReverseLookups::OnHostsFile(void* arg, int status, int /*timeouts*/, hostent* host) {
    Query* query = static_cast<Query*>(arg);
    ReverseLookups* self = query->owner;
    if (status == ARES_SUCCESS && host != nullptr && host->h_name != nullptr) {
        self->Finish(query, Outcome::Named, PlainUtf8(host->h_name, kMaxNameBytes));
    } else if (status == ARES_ECANCELLED || status == ARES_EDESTRUCTION || self->m_closing) {
        self->Finish(query, Outcome::Cancelled, {});
    } else {
        self->AskDns(query);
    }
}

void ReverseLookups::OnPtrAnswer(void* arg, int status, int /*timeouts*/, unsigned char* reply,
                                 int length) {
    Query* query = static_cast<Query*>(arg);
    ReverseLookups* self = query->owner;
    Outcome outcome = OutcomeOf(status);
    std::string name;
    if (outcome == Outcome::Named) {
        // c-ares's own reading of the reply refuses names with characters
        // that no host name has; what passes is still made plain text.
        const in_addr wire{htonl(query->address)};
        hostent* host = nullptr;
        status = ares_parse_ptr_reply(reply, length, &wire, sizeof wire, AF_INET, &host);
        outcome = OutcomeOf(status);
        if (status == ARES_SUCCESS && host != nullptr && host->h_name != nullptr)
            name = PlainUtf8(host->h_name, kMaxNameBytes);
        if (host != nullptr)
            ares_free_hostent(host);
        if (outcome == Outcome::Named && name.empty())
            outcome = Outcome::NoName;
    }
    self->Finish(query, outcome, std::move(name));
}

void ReverseLookups::Finish(Query* query, Outcome outcome, std::string name) {
    --m_inFlight;
    --m_pending;
    if (!m_closing)
        m_answers.push_back({query->address, query->token, outcome, std::move(name)});
    delete query;
}
