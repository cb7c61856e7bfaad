#pragma once
// One connection to a PostgreSQL server (libpq), for an inventory shared by
// many sites. Every statement goes with its values as parameters (text
// format), never spliced into the SQL. Errors are values: a PgError with the
// server's SQLSTATE, in plain text that never holds the password.
//
// A connection is used by one thread at a time; each thread that records
// opens its own. Notices the server sends (NOTICE, WARNING) are dropped, so
// that nothing the server says reaches the terminal unasked.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

struct pg_conn;
struct pg_result;

// Values of a statement's parameters or of one row for CopyIn, in order;
// nullopt is NULL.
using PgValues = std::vector<std::optional<std::string>>;

struct PgError {
    std::string sqlState;        // five characters ("40001"); empty when the server gave none
    std::string message;         // plain text, one line
    bool connectionLost = false; // the connection is gone: open a new one

    // A serialization failure (40001) or a deadlock (40P01): the transaction
    // may succeed when run again.
    bool Retryable() const { return sqlState == "40001" || sqlState == "40P01"; }
};

// The outcome of one statement: rows (or none) when Ok(), else Error().
// Outside the rows and columns of the result, every value reads as NULL.
class PgResult {
public:
    PgResult() = default;
    PgResult(pg_result* result, PgError error);
    ~PgResult();
    PgResult(PgResult&& other) noexcept;
    PgResult& operator=(PgResult&& other) noexcept;
    PgResult(const PgResult&) = delete;
    PgResult& operator=(const PgResult&) = delete;

    bool Ok() const { return m_ok; }
    const PgError& Error() const { return m_error; }

    int Rows() const;
    int Columns() const;
    std::string ColumnName(int column) const;
    bool IsNull(int row, int column) const;
    // The value's bytes as the server sent them (text format); "" for NULL.
    std::string Text(int row, int column) const;
    std::optional<std::string> Value(int row, int column) const;
    // A whole number in the range of int64; nullopt for NULL or any other text.
    std::optional<std::int64_t> Int64(int row, int column) const;
    // The rows an INSERT, UPDATE, DELETE, COPY, ... touched; 0 for other statements.
    std::int64_t AffectedRows() const;

private:
    pg_result* m_result = nullptr;
    PgError m_error;
    bool m_ok = false;
};

enum class PgIsolation { Serializable, RepeatableRead, ReadCommitted };

class PgConnection {
public:
    struct Options {
        // Used when the address gives no connect_timeout of its own.
        std::chrono::seconds connectTimeout{10};
        // The server's application_name when the address gives none (empty: libpq's).
        std::string applicationName;
    };

    // What a transaction's body returns: nullopt to commit, an error to roll
    // back (a retryable one runs the body again).
    using TransactionBody = std::function<std::optional<PgError>(PgConnection&)>;

    // Connects to the server a postgresql:// (or postgres://) address names.
    // Every connection setting comes from the address and from libpq's own
    // files and variables (PGPASSFILE, PGSSLMODE, a service file, ...); the
    // address reaches libpq unchanged, with the connect time-out of `options`
    // under it, as are TCP keepalives that give up a silent server after about
    // a minute, and client_encoding UTF8 over it (the program's texts are
    // UTF-8). Null with `error` (plain text, without the password) when the
    // address is not such an address or the connection failed.
    static std::unique_ptr<PgConnection> Open(const std::string& uri, std::string& error);
    static std::unique_ptr<PgConnection> Open(const std::string& uri, const Options& options,
                                              std::string& error);

    ~PgConnection();
    PgConnection(const PgConnection&) = delete;
    PgConnection& operator=(const PgConnection&) = delete;

    // Runs one statement with its parameters ($1, $2, ...; the server
    // refuses a text holding several statements). A parameter holding a NUL
    // byte, which PostgreSQL text cannot hold, fails the call before anything
    // is sent. COPY is refused here (see CopyIn).
    PgResult Exec(const std::string& sql, const PgValues& params = {});

    // Runs `body` in a transaction of the given isolation and commits it. On a
    // serialization failure or a deadlock -- from a statement, from the
    // commit, or left behind by a statement whose error the body ignored --
    // rolls back and runs `body` again, up to `retries` more times, after a
    // short randomised wait. Any other error rolls back and is returned, as
    // is the last retryable one when the retries are spent. `body` must
    // therefore do nothing but statements on this connection that may be
    // repeated. Fails at once when a transaction is already open.
    // nullopt: committed.
    std::optional<PgError> Transaction(const TransactionBody& body, int retries,
                                       PgIsolation isolation = PgIsolation::Serializable);

    // Inserts `rows` with COPY <tableAndColumns> FROM STDIN (text format), e.g.
    // tableAndColumns "host (address, name)". Every row must have the same,
    // non-zero number of values; values may hold any byte but NUL (checked
    // before anything is sent). `tableAndColumns` is SQL: the program's own
    // text, never the user's. AffectedRows() of the result: the rows copied.
    PgResult CopyIn(const std::string& tableAndColumns, const std::vector<PgValues>& rows);

    // Whether the connection still stands, as far as libpq knows (a lost one
    // is noticed by the next statement).
    bool Connected() const;
    // A setting the connection uses ("host", "port", "dbname", "user", ...);
    // "" for one not set. Never the password.
    std::string Setting(const std::string& keyword) const;

private:
    PgConnection(pg_conn* connection, std::vector<std::string> secrets);
    PgError ErrorOf(pg_result* result) const;
    PgError ConnectionError(const std::string& what) const;
    std::optional<PgError> Attempt(const TransactionBody& body, PgIsolation isolation);
    void RollBack();

    pg_conn* m_connection;
    std::vector<std::string> m_secrets;  // scrubbed from every message
    std::optional<PgError> m_firstError; // since the transaction began, for a body that ignored it
    std::minstd_rand m_random;
};

// Whether the text is a postgresql:// or postgres:// address (the scheme in
// any case).
bool IsPostgresUri(std::string_view text);

// One row of COPY's text format, ending in '\n': values joined by tabs, NULL
// as \N, and in each value the backslash, tab, newline and carriage return
// escaped (\\, \t, \n, \r); every other byte as it is.
std::string PgCopyTextLine(const PgValues& row);

// A message from libpq or the server as one line of plain text: line breaks
// and tabs as single spaces, no control characters, invalid UTF-8 replaced,
// at most a few hundred bytes; every occurrence of one of the `secrets`
// (non-empty texts, e.g. a password) removed -- the whole message is
// replaced by `fallback` when that cannot be done cleanly.
std::string PgPlainMessage(std::string_view message, const std::vector<std::string>& secrets,
                           const std::string& fallback);

// A one-dimensional array as PostgreSQL reads it from text ("{"a","b\"c"}"),
// for a parameter such as `$1::text[]`: every element quoted, the quote and
// the backslash escaped, so that any text (but NUL) stays one element.
std::string PgArrayLiteral(const std::vector<std::string>& elements);
std::string PgArrayLiteral(const std::vector<std::int64_t>& elements);
