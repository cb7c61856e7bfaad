#include "platform/postgres/PgConnection.h"

#include "platform/text/TextCodec.h"

#include <libpq-fe.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstring>
#include <thread>
#include <utility>

namespace {

// A message is cut to this many bytes; a server's DETAIL can be long.
constexpr std::size_t kMaxMessageBytes = 1024;
// A secret shorter than this is not cut out of a message (what is left would
// be unreadable) -- the message is dropped instead.
constexpr std::size_t kMinScrubbedSecret = 4;
// COPY data goes to libpq in pieces of about this size.
constexpr std::size_t kCopyChunkBytes = 64 * 1024;
// libpq counts parameters in 16 bits.
constexpr std::size_t kMaxParams = 65535;
// The wait before a transaction is run again: a random time between half of
// and the whole of kFirstBackoff doubled per attempt, at most kMaxBackoff.
constexpr std::chrono::milliseconds kFirstBackoff{10};
constexpr std::chrono::milliseconds kMaxBackoff{1000};

struct OptionsDeleter {
    void operator()(PQconninfoOption* options) const { PQconninfoFree(options); }
};
using OptionsPtr = std::unique_ptr<PQconninfoOption, OptionsDeleter>;

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

bool ContainsIgnoringCase(std::string_view text, std::string_view part) {
    for (std::size_t at = 0; at + part.size() <= text.size(); ++at)
        if (StartsWithIgnoringCase(text.substr(at), part))
            return true;
    return false;
}

// %XX decoded; a broken escape is kept as it is (the text only serves to
// find what to scrub).
std::string PercentDecoded(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            const int high = HexDigitValue(text[i + 1]);
            const int low = HexDigitValue(text[i + 2]);
            if (high >= 0 && low >= 0) {
                out += static_cast<char>(high * 16 + low);
                i += 2;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

// What in the address may be a password, as written and decoded: what follows
// the first ':' of the user part, read the way libpq reads it (up to the
// first '@' before any '/') and also up to the last '@' (a password written
// with an unencoded '/' or '@' is read by libpq as a host and port, and its
// complaint quotes a piece of it); and the value of a password= parameter.
std::vector<std::string> PasswordCandidates(std::string_view uri) {
    std::vector<std::string> found;
    const std::size_t scheme = uri.find("://");
    if (scheme == std::string_view::npos)
        return found;
    const std::string_view rest = uri.substr(scheme + 3);
    const auto userPart = [&](std::size_t end) {
        const std::string_view userinfo = rest.substr(0, end);
        const std::size_t colon = userinfo.find(':');
        if (colon != std::string_view::npos && colon + 1 < userinfo.size()) {
            found.emplace_back(userinfo.substr(colon + 1));
            found.push_back(PercentDecoded(userinfo.substr(colon + 1)));
        }
    };
    const std::size_t first = rest.find_first_of("@/");
    if (first != std::string_view::npos && rest[first] == '@')
        userPart(first);
    const std::size_t last = rest.rfind('@');
    if (last != std::string_view::npos && last != first)
        userPart(last);
    const std::size_t question = rest.find('?');
    if (question != std::string_view::npos) {
        std::string_view query = rest.substr(question + 1);
        while (!query.empty()) {
            const std::size_t amp = query.find('&');
            const std::string_view pair = query.substr(0, amp);
            const std::size_t equals = pair.find('=');
            if (equals != std::string_view::npos &&
                PercentDecoded(pair.substr(0, equals)) == "password") {
                found.emplace_back(pair.substr(equals + 1));
                found.push_back(PercentDecoded(pair.substr(equals + 1)));
            }
            if (amp == std::string_view::npos)
                break;
            query.remove_prefix(amp + 1);
        }
    }
    return found;
}

// Whether an address that libpq cannot read might still hold a password,
// anywhere: then nothing libpq quotes from it is shown.
bool MayHoldPassword(std::string_view uri) {
    return uri.find_first_of("@%") != std::string_view::npos ||
           ContainsIgnoringCase(uri, "password");
}

// The message with "quoted" parts as "..." -- every one when `all`, else
// those that are a piece of one of the `candidates`.
std::string WithoutQuotedParts(std::string_view message, bool all,
                               const std::vector<std::string>& candidates) {
    std::string out;
    std::size_t at = 0;
    for (;;) {
        const std::size_t open = message.find('"', at);
        if (open == std::string_view::npos) {
            out += message.substr(at);
            return out;
        }
        const std::size_t close = message.find('"', open + 1);
        const std::string_view quoted = message.substr(
            open + 1, close == std::string_view::npos ? std::string_view::npos : close - open - 1);
        const bool hide = all || std::any_of(candidates.begin(), candidates.end(),
                                             [&](const std::string& candidate) {
                                                 return candidate.find(quoted) != std::string::npos;
                                             });
        out += message.substr(at, open - at);
        out += '"';
        out += hide ? std::string_view("...") : quoted;
        out += '"';
        if (close == std::string_view::npos)
            return out;
        at = close + 1;
    }
}

// Runs of white space (line breaks and tabs among it) as one space, none at
// the ends; other control characters are left to PlainUtf8.
std::string OneLine(std::string_view text) {
    std::string out;
    bool space = false;
    for (const char c : text) {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f') {
            space = !out.empty();
            continue;
        }
        if (space)
            out += ' ';
        space = false;
        out += c;
    }
    return out;
}

bool ContainsAny(std::string_view text, const std::vector<std::string>& parts) {
    return std::any_of(parts.begin(), parts.end(), [&](const std::string& part) {
        return !part.empty() && text.find(part) != std::string_view::npos;
    });
}

void ReplaceAll(std::string& text, const std::string& part, std::string_view by) {
    for (std::size_t at = text.find(part); at != std::string::npos;
         at = text.find(part, at + by.size()))
        text.replace(at, part.size(), by);
}

void DropNotice(void*, const PGresult*) {}

// Brings a connection that a statement put into a copy back out of it, so
// that it stays usable, and drops what is left of the statement's results.
void LeaveCopy(PGconn* connection, ExecStatusType status) {
    if (status == PGRES_COPY_IN) {
        PQputCopyEnd(connection, "no rows are sent for this statement");
    } else if (status == PGRES_COPY_OUT) {
        char* buffer = nullptr;
        while (PQgetCopyData(connection, &buffer, 0) > 0)
            PQfreemem(buffer);
    }
    while (PGresult* rest = PQgetResult(connection))
        PQclear(rest);
}

const char* BeginStatement(PgIsolation isolation) {
    switch (isolation) {
    case PgIsolation::RepeatableRead:
        return "BEGIN ISOLATION LEVEL REPEATABLE READ";
    case PgIsolation::ReadCommitted:
        return "BEGIN ISOLATION LEVEL READ COMMITTED";
    case PgIsolation::Serializable:
        break;
    }
    return "BEGIN ISOLATION LEVEL SERIALIZABLE";
}

bool HoldsNul(const PgValues& values) {
    return std::any_of(values.begin(), values.end(), [](const std::optional<std::string>& value) {
        return value && value->find('\0') != std::string::npos;
    });
}

} // namespace

// --- PgResult ---

PgResult::PgResult(pg_result* result, PgError error)
    : m_result(result), m_error(std::move(error)), m_ok(m_error.message.empty()) {}

PgResult::~PgResult() {
    PQclear(m_result);
}

PgResult::PgResult(PgResult&& other) noexcept
    : m_result(std::exchange(other.m_result, nullptr)), m_error(std::move(other.m_error)),
      m_ok(other.m_ok) {}

PgResult& PgResult::operator=(PgResult&& other) noexcept {
    if (this != &other) {
        PQclear(m_result);
        m_result = std::exchange(other.m_result, nullptr);
        m_error = std::move(other.m_error);
        m_ok = other.m_ok;
    }
    return *this;
}

int PgResult::Rows() const {
    return m_ok && m_result ? PQntuples(m_result) : 0;
}

int PgResult::Columns() const {
    return m_ok && m_result ? PQnfields(m_result) : 0;
}

std::string PgResult::ColumnName(int column) const {
    const char* name = column >= 0 && column < Columns() ? PQfname(m_result, column) : nullptr;
    return name ? name : "";
}

bool PgResult::IsNull(int row, int column) const {
    return row < 0 || row >= Rows() || column < 0 || column >= Columns() ||
           PQgetisnull(m_result, row, column) != 0;
}

std::string PgResult::Text(int row, int column) const {
    if (IsNull(row, column))
        return {};
    return std::string(PQgetvalue(m_result, row, column),
                       static_cast<std::size_t>(PQgetlength(m_result, row, column)));
}

std::optional<std::string> PgResult::Value(int row, int column) const {
    if (IsNull(row, column))
        return std::nullopt;
    return Text(row, column);
}

std::optional<std::int64_t> PgResult::Int64(int row, int column) const {
    if (IsNull(row, column))
        return std::nullopt;
    const char* first = PQgetvalue(m_result, row, column);
    const char* last = first + PQgetlength(m_result, row, column);
    std::int64_t value = 0;
    const auto [end, fault] = std::from_chars(first, last, value);
    if (fault != std::errc() || end != last || first == last)
        return std::nullopt;
    return value;
}

std::int64_t PgResult::AffectedRows() const {
    if (!m_ok || !m_result)
        return 0;
    const char* text = PQcmdTuples(m_result);
    std::int64_t value = 0;
    const std::size_t length = std::strlen(text);
    const auto [end, fault] = std::from_chars(text, text + length, value);
    return fault == std::errc() && end == text + length ? value : 0;
}

// --- PgConnection ---

std::unique_ptr<PgConnection> PgConnection::Open(const std::string& uri, std::string& error) {
    return Open(uri, Options{}, error);
}

std::unique_ptr<PgConnection> PgConnection::Open(const std::string& uri, const Options& options,
                                                 std::string& error) {
    error.clear();
    if (!IsPostgresUri(uri)) {
        error = "the database address does not start with postgresql:// (or postgres://)";
        return nullptr;
    }
    const std::vector<std::string> candidates = PasswordCandidates(uri);
    std::vector<std::string> secrets = candidates;

    // libpq's reading of the address first: its complaint may quote any part
    // of the address, password included.
    char* parseError = nullptr;
    OptionsPtr parsed(PQconninfoParse(uri.c_str(), &parseError));
    if (!parsed) {
        std::string why = parseError ? parseError : "out of memory";
        PQfreemem(parseError);
        why = WithoutQuotedParts(why, MayHoldPassword(uri), candidates);
        error = "the database address cannot be read: " +
                PgPlainMessage(why, secrets, "it is not a valid postgresql:// address");
        return nullptr;
    }
    for (const PQconninfoOption* option = parsed.get(); option->keyword; ++option)
        if (std::strcmp(option->keyword, "password") == 0 && option->val)
            secrets.emplace_back(option->val);
    parsed.reset();

    // The address is expanded in place of "dbname": a setting before it is a
    // default the address may override, one after it overrides the address.
    const std::string timeout =
        std::to_string(std::max<long long>(options.connectTimeout.count(), 0));
    std::vector<const char*> keywords = {"connect_timeout"};
    std::vector<const char*> values = {timeout.c_str()};
    if (!options.applicationName.empty()) {
        keywords.push_back("fallback_application_name");
        values.push_back(options.applicationName.c_str());
    }
    // A server that falls silent mid-statement (a cut link, a host gone) is
    // given up after about a minute rather than the system's two hours.
    keywords.insert(keywords.end(),
                    {"keepalives_idle", "keepalives_interval", "keepalives_count",
                     "tcp_user_timeout"});
    values.insert(values.end(), {"30", "10", "3", "60000"});
    keywords.insert(keywords.end(), {"dbname", "client_encoding", nullptr});
    values.insert(values.end(), {uri.c_str(), "UTF8", nullptr});
    pg_conn* connection = PQconnectdbParams(keywords.data(), values.data(), 1);
    if (!connection) {
        error = "cannot connect to the database server: out of memory";
        return nullptr;
    }
    // The password libpq took (also from PGPASSWORD).
    if (OptionsPtr used{PQconninfo(connection)}) {
        for (const PQconninfoOption* option = used.get(); option->keyword; ++option)
            if (std::strcmp(option->keyword, "password") == 0 && option->val)
                secrets.emplace_back(option->val);
    }
    if (PQstatus(connection) != CONNECTION_OK) {
        // libpq quotes the settings it cannot use, which may be a piece of a
        // password it read as something else.
        error = PgPlainMessage(WithoutQuotedParts(PQerrorMessage(connection), false, candidates),
                               secrets,
                               "cannot connect to the database server (libpq's message "
                               "is not shown: it held the password)");
        if (error.empty())
            error = "cannot connect to the database server";
        PQfinish(connection);
        return nullptr;
    }
    PQsetNoticeReceiver(connection, DropNotice, nullptr);
    return std::unique_ptr<PgConnection>(new PgConnection(connection, std::move(secrets)));
}

PgConnection::PgConnection(pg_conn* connection, std::vector<std::string> secrets)
    : m_connection(connection), m_secrets(std::move(secrets)), m_random(std::random_device{}()) {}

PgConnection::~PgConnection() {
    PQfinish(m_connection);
}

bool PgConnection::Connected() const {
    return PQstatus(m_connection) == CONNECTION_OK;
}

std::string PgConnection::Setting(const std::string& keyword) const {
    if (keyword == "password")
        return {};
    OptionsPtr used{PQconninfo(m_connection)};
    for (const PQconninfoOption* option = used.get(); option && option->keyword; ++option)
        if (keyword == option->keyword)
            return option->val ? option->val : "";
    return {};
}

PgError PgConnection::ConnectionError(const std::string& what) const {
    PgError error;
    error.connectionLost = PQstatus(m_connection) == CONNECTION_BAD;
    std::string message = PgPlainMessage(PQerrorMessage(m_connection), m_secrets, "");
    if (message.empty())
        message = what;
    error.message =
        error.connectionLost ? "lost the connection to the database server: " + message : message;
    return error;
}

PgError PgConnection::ErrorOf(pg_result* result) const {
    if (!result)
        return ConnectionError("the statement could not be sent");
    PgError error;
    const char* state = PQresultErrorField(result, PG_DIAG_SQLSTATE);
    error.sqlState = state ? state : "";
    // The server's own words without LINE and context; libpq's whole message
    // for an error of its own.
    const char* primary = PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY);
    const char* detail = PQresultErrorField(result, PG_DIAG_MESSAGE_DETAIL);
    std::string text = primary ? primary : PQresultErrorMessage(result);
    if (primary && detail)
        text += std::string(" (") + detail + ")";
    if (OneLine(text).empty())
        text = PQerrorMessage(m_connection);
    text = PgPlainMessage(text, m_secrets, "the database server refused the statement");
    if (text.empty())
        text = "the statement failed";
    error.connectionLost = PQstatus(m_connection) == CONNECTION_BAD;
    error.message =
        error.connectionLost ? "lost the connection to the database server: " + text : text;
    return error;
}

PgResult PgConnection::Exec(const std::string& sql, const PgValues& params) {
    PgResult outcome = [&] {
        if (HoldsNul(params))
            return PgResult(nullptr, PgError{"",
                                             "a value holds a NUL byte, which the database "
                                             "cannot store",
                                             false});
        if (params.size() > kMaxParams)
            return PgResult(nullptr, PgError{"", "a statement has more than 65535 values", false});
        std::vector<const char*> values;
        values.reserve(params.size());
        for (const std::optional<std::string>& param : params)
            values.push_back(param ? param->c_str() : nullptr);
        pg_result* result = PQexecParams(m_connection, sql.c_str(), static_cast<int>(values.size()),
                                         nullptr, values.data(), nullptr, nullptr, 0);
        switch (result ? PQresultStatus(result) : PGRES_FATAL_ERROR) {
        case PGRES_COMMAND_OK:
        case PGRES_TUPLES_OK:
            return PgResult(result, PgError{});
        case PGRES_COPY_IN:
        case PGRES_COPY_OUT: {
            // Rows are copied in by CopyIn, never copied out.
            const ExecStatusType status = PQresultStatus(result);
            PQclear(result);
            LeaveCopy(m_connection, status);
            return PgResult(nullptr, PgError{"",
                                             "COPY FROM STDIN goes through CopyIn, and "
                                             "COPY TO STDOUT is not read",
                                             false});
        }
        case PGRES_EMPTY_QUERY:
            PQclear(result);
            return PgResult(nullptr, PgError{"", "the statement is empty", false});
        default: {
            PgError error = ErrorOf(result);
            PQclear(result);
            return PgResult(nullptr, std::move(error));
        }
        }
    }();
    if (!outcome.Ok() && !m_firstError)
        m_firstError = outcome.Error();
    return outcome;
}

PgResult PgConnection::CopyIn(const std::string& tableAndColumns,
                              const std::vector<PgValues>& rows) {
    if (!rows.empty()) {
        const std::size_t columns = rows.front().size();
        for (const PgValues& row : rows) {
            if (row.empty() || row.size() != columns)
                return PgResult(nullptr, PgError{"",
                                                 "the rows to copy differ in their number "
                                                 "of values",
                                                 false});
            if (HoldsNul(row))
                return PgResult(nullptr, PgError{"",
                                                 "a value holds a NUL byte, which the "
                                                 "database cannot store",
                                                 false});
        }
    }
    const std::string sql = "COPY " + tableAndColumns + " FROM STDIN";
    pg_result* start =
        PQexecParams(m_connection, sql.c_str(), 0, nullptr, nullptr, nullptr, nullptr, 0);
    if (!start || PQresultStatus(start) != PGRES_COPY_IN) {
        const ExecStatusType status = start ? PQresultStatus(start) : PGRES_FATAL_ERROR;
        PgError error = status == PGRES_FATAL_ERROR
                            ? ErrorOf(start)
                            : PgError{"", "the statement is not a COPY FROM STDIN", false};
        PQclear(start);
        LeaveCopy(m_connection, status);
        if (!m_firstError)
            m_firstError = error;
        return PgResult(nullptr, std::move(error));
    }
    PQclear(start);

    std::string chunk;
    bool sent = true;
    for (const PgValues& row : rows) {
        chunk += PgCopyTextLine(row);
        if (chunk.size() >= kCopyChunkBytes) {
            sent = PQputCopyData(m_connection, chunk.data(), static_cast<int>(chunk.size())) == 1;
            chunk.clear();
            if (!sent)
                break;
        }
    }
    if (sent && !chunk.empty())
        sent = PQputCopyData(m_connection, chunk.data(), static_cast<int>(chunk.size())) == 1;
    if (PQputCopyEnd(m_connection, nullptr) != 1)
        sent = false;

    // The first error the server gave for the copy, else its result.
    pg_result* kept = nullptr;
    while (pg_result* result = PQgetResult(m_connection)) {
        if (!kept || (PQresultStatus(kept) == PGRES_COMMAND_OK &&
                      PQresultStatus(result) != PGRES_COMMAND_OK)) {
            PQclear(kept);
            kept = result;
        } else {
            PQclear(result);
        }
    }
    if (kept && PQresultStatus(kept) == PGRES_COMMAND_OK && sent)
        return PgResult(kept, PgError{});
    PgError error = kept && PQresultStatus(kept) != PGRES_COMMAND_OK
                        ? ErrorOf(kept)
                        : ConnectionError("the rows could not be sent");
    PQclear(kept);
    if (!m_firstError)
        m_firstError = error;
    return PgResult(nullptr, std::move(error));
}

void PgConnection::RollBack() {
    const PGTransactionStatusType status = PQtransactionStatus(m_connection);
    if (status == PQTRANS_INTRANS || status == PQTRANS_INERROR)
        Exec("ROLLBACK");
}

std::optional<PgError> PgConnection::Attempt(const TransactionBody& body, PgIsolation isolation) {
    m_firstError.reset();
    PgResult begin = Exec(BeginStatement(isolation));
    if (!begin.Ok()) {
        RollBack();
        return begin.Error();
    }
    std::optional<PgError> failed;
    try {
        failed = body(*this);
    } catch (...) {
        RollBack();
        throw;
    }
    if (!failed) {
        switch (PQtransactionStatus(m_connection)) {
        case PQTRANS_INTRANS:
            break;
        case PQTRANS_INERROR:
            // A statement failed and the body went on: COMMIT would only
            // roll back, and the failure is what counts (a serialization
            // failure among them is retried).
            failed = m_firstError ? *m_firstError
                                  : PgError{"", "a statement of the transaction failed", false};
            break;
        case PQTRANS_IDLE:
            failed = PgError{"", "the transaction was ended inside its own body", false};
            break;
        default:
            failed = ConnectionError("the transaction could not go on");
            break;
        }
    }
    if (failed) {
        RollBack();
        return failed;
    }
    PgResult commit = Exec("COMMIT");
    if (!commit.Ok()) {
        PgError error = commit.Error();
        if (error.connectionLost)
            error.message = "whether the transaction was committed is unknown: " + error.message;
        RollBack();
        return error;
    }
    return std::nullopt;
}

std::optional<PgError> PgConnection::Transaction(const TransactionBody& body, int retries,
                                                 PgIsolation isolation) {
    const PGTransactionStatusType status = PQtransactionStatus(m_connection);
    if (status == PQTRANS_UNKNOWN)
        return ConnectionError("no connection to the database server");
    if (status != PQTRANS_IDLE)
        return PgError{"", "a transaction is already open on this connection", false};
    for (int attempt = 0;; ++attempt) {
        std::optional<PgError> error = Attempt(body, isolation);
        if (!error || !error->Retryable() || error->connectionLost || attempt >= retries)
            return error;
        const auto ceiling = std::min<std::chrono::milliseconds>(
            kFirstBackoff * (1LL << std::min(attempt, 10)), kMaxBackoff);
        std::uniform_int_distribution<long long> pick(ceiling.count() / 2, ceiling.count());
        std::this_thread::sleep_for(std::chrono::milliseconds(pick(m_random)));
    }
}

// --- free functions ---

bool IsPostgresUri(std::string_view text) {
    return StartsWithIgnoringCase(text, "postgresql://") ||
           StartsWithIgnoringCase(text, "postgres://");
}

std::string PgCopyTextLine(const PgValues& row) {
    std::string line;
    for (std::size_t i = 0; i < row.size(); ++i) {
        if (i > 0)
            line += '\t';
        if (!row[i]) {
            line += "\\N";
            continue;
        }
        for (const char c : *row[i]) {
            switch (c) {
            case '\\':
                line += "\\\\";
                break;
            case '\t':
                line += "\\t";
                break;
            case '\n':
                line += "\\n";
                break;
            case '\r':
                line += "\\r";
                break;
            default:
                line += c;
            }
        }
    }
    line += '\n';
    return line;
}

std::string PgPlainMessage(std::string_view message, const std::vector<std::string>& secrets,
                           const std::string& fallback) {
    // A secret as it would look once made plain, besides as it is.
    std::vector<std::string> forms;
    for (const std::string& secret : secrets) {
        if (secret.empty())
            continue;
        forms.push_back(secret);
        std::string plain = PlainUtf8(OneLine(secret), secret.size() * 3 + 3);
        if (!plain.empty())
            forms.push_back(std::move(plain));
    }
    std::string text = PlainUtf8(OneLine(message), kMaxMessageBytes * 4);
    for (const std::string& form : forms) {
        if (text.find(form) == std::string::npos)
            continue;
        if (form.size() < kMinScrubbedSecret)
            return fallback;
        ReplaceAll(text, form, "***");
    }
    text = PlainUtf8(text, kMaxMessageBytes);
    return ContainsAny(text, forms) ? fallback : text;
}

std::string PgArrayLiteral(const std::vector<std::string>& elements) {
    std::string text = "{";
    for (const std::string& element : elements) {
        if (text.size() > 1)
            text += ',';
        text += '"';
        for (const char c : element) {
            if (c == '"' || c == '\\')
                text += '\\';
            text += c;
        }
        text += '"';
    }
    return text + "}";
}

std::string PgArrayLiteral(const std::vector<std::int64_t>& elements) {
    std::string text = "{";
    for (const std::int64_t element : elements) {
        if (text.size() > 1)
            text += ',';
        text += std::to_string(element);
    }
    return text + "}";
}
