#pragma once
// A prepared SQLite statement that finalises itself, and the few calls the
// inventory makes around statements.

#include <cstdint>
#include <sqlite3.h>
#include <string>

// A prepared statement that finalises itself.
class SqlStatement {
public:
    SqlStatement(sqlite3* db, const char* sql) {
        sqlite3_prepare_v2(db, sql, -1, &m_statement, nullptr);
    }
    ~SqlStatement() { sqlite3_finalize(m_statement); }
    SqlStatement(const SqlStatement&) = delete;
    SqlStatement& operator=(const SqlStatement&) = delete;
    sqlite3_stmt* get() const { return m_statement; }
    explicit operator bool() const { return m_statement != nullptr; }

private:
    sqlite3_stmt* m_statement = nullptr;
};

// SQLite's error as met: the code and message the database holds at once
// (finalising a statement afterwards may clear them).
struct SqlError {
    int code = SQLITE_OK;
    std::string message;
};

SqlError SqlErrorOf(sqlite3* db);

// Runs SQL text (several statements); false with SQLite's message in `error`.
bool SqlExec(sqlite3* db, const char* sql, std::string& error);

void SqlBindText(sqlite3_stmt* statement, int index, const std::string& text);

// Runs a statement once; SQLITE_DONE or SQLITE_ROW count as done.
bool SqlStep(sqlite3_stmt* statement);

// The first column of the first row as a number; -1 when there is none.
std::int64_t SqlCount(sqlite3* db, const char* sql);

std::string SqlColumnText(sqlite3_stmt* statement, int column);
