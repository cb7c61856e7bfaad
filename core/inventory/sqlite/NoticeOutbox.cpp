#include "core/inventory/sqlite/NoticeOutbox.h"

#include "core/inventory/sqlite/SqlStatement.h"

#include <algorithm>
#include <set>

namespace {

// The message of the failed statement, and false.
bool Fail(sqlite3* db, std::string& error) {
    error = sqlite3_errmsg(db);
    return false;
}

WaitingNotice NoticeFrom(sqlite3_stmt* statement) {
    WaitingNotice notice;
    notice.id = sqlite3_column_int64(statement, 0);
    notice.scan = sqlite3_column_int64(statement, 1);
    notice.target = SqlColumnText(statement, 2);
    notice.madeMs = sqlite3_column_int64(statement, 3);
    notice.attempts = sqlite3_column_int(statement, 4);
    notice.lastError = SqlColumnText(statement, 5);
    return notice;
}

#define KD_NOTICE_COLUMNS "id, scan, target, made_ms, attempts, last_error"

} // namespace

bool NoticeOutbox::Enqueue(std::int64_t scan, const std::vector<std::string>& targets,
                           std::int64_t nowMs, std::string& error) {
    if (targets.empty())
        return true;
    SqlStatement worth(m_db, "SELECT EXISTS(SELECT 1 FROM changes WHERE scan = ?1) AND "
                             "EXISTS(SELECT 1 FROM scans WHERE id < ?1)");
    if (!worth)
        return Fail(m_db, error);
    sqlite3_bind_int64(worth.get(), 1, scan);
    const int rc = sqlite3_step(worth.get());
    if (rc != SQLITE_ROW)
        return Fail(m_db, error);
    if (sqlite3_column_int(worth.get(), 0) == 0)
        return true;
    SqlStatement insert(m_db, "INSERT INTO notices(scan, target, made_ms) VALUES(?, ?, ?)");
    if (!insert)
        return Fail(m_db, error);
    std::set<std::string> made;
    for (const std::string& target : targets) {
        if (!made.insert(target).second)
            continue;
        sqlite3_reset(insert.get());
        sqlite3_bind_int64(insert.get(), 1, scan);
        SqlBindText(insert.get(), 2, target);
        sqlite3_bind_int64(insert.get(), 3, nowMs);
        if (sqlite3_step(insert.get()) != SQLITE_DONE)
            return Fail(m_db, error);
    }
    return true;
}

std::optional<WaitingNotice> NoticeOutbox::Claim(const std::string& claimer, std::int64_t nowMs,
                                                 std::int64_t untilMs,
                                                 const std::vector<std::string>& skip,
                                                 std::string& error) {
    error.clear();
    if (!SqlExec(m_db, "BEGIN IMMEDIATE", error))
        return std::nullopt;
    const auto rollBack = [this] {
        std::string ignored;
        SqlExec(m_db, "ROLLBACK", ignored);
    };
    std::optional<WaitingNotice> chosen;
    {
        // The head of each receiver's queue, oldest first.
        SqlStatement heads(m_db, "SELECT " KD_NOTICE_COLUMNS ", claimed_by, claimed_until_ms "
                                 "FROM notices n WHERE id = "
                                 "(SELECT min(id) FROM notices m WHERE m.target = n.target) "
                                 "ORDER BY id");
        if (!heads) {
            Fail(m_db, error);
            rollBack();
            return std::nullopt;
        }
        int rc;
        while ((rc = sqlite3_step(heads.get())) == SQLITE_ROW) {
            WaitingNotice notice = NoticeFrom(heads.get());
            const std::string holder = SqlColumnText(heads.get(), 6);
            const bool heldByAnother = !holder.empty() && holder != claimer &&
                                       sqlite3_column_int64(heads.get(), 7) > nowMs;
            if (heldByAnother ||
                std::find(skip.begin(), skip.end(), notice.target) != skip.end())
                continue;
            chosen = std::move(notice);
            break;
        }
        if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
            Fail(m_db, error);
            rollBack();
            return std::nullopt;
        }
    }
    if (chosen) {
        SqlStatement claim(m_db,
                           "UPDATE notices SET claimed_by = ?, claimed_until_ms = ? WHERE id = ?");
        if (!claim) {
            Fail(m_db, error);
            rollBack();
            return std::nullopt;
        }
        SqlBindText(claim.get(), 1, claimer);
        sqlite3_bind_int64(claim.get(), 2, untilMs);
        sqlite3_bind_int64(claim.get(), 3, chosen->id);
        if (sqlite3_step(claim.get()) != SQLITE_DONE) {
            Fail(m_db, error);
            rollBack();
            return std::nullopt;
        }
    }
    if (!SqlExec(m_db, "COMMIT", error)) {
        rollBack();
        return std::nullopt;
    }
    return chosen;
}

bool NoticeOutbox::Delivered(std::int64_t id, std::string& error) {
    SqlStatement remove(m_db, "DELETE FROM notices WHERE id = ?");
    if (!remove)
        return Fail(m_db, error);
    sqlite3_bind_int64(remove.get(), 1, id);
    return sqlite3_step(remove.get()) == SQLITE_DONE || Fail(m_db, error);
}

bool NoticeOutbox::Failed(std::int64_t id, const std::string& claimer, const std::string& why,
                          std::string& error) {
    SqlStatement update(m_db, "UPDATE notices SET attempts = attempts + 1, last_error = ?, "
                              "claimed_by = '', claimed_until_ms = 0 "
                              "WHERE id = ? AND claimed_by = ?");
    if (!update)
        return Fail(m_db, error);
    SqlBindText(update.get(), 1, why);
    sqlite3_bind_int64(update.get(), 2, id);
    SqlBindText(update.get(), 3, claimer);
    return sqlite3_step(update.get()) == SQLITE_DONE || Fail(m_db, error);
}

std::vector<WaitingNotice> NoticeOutbox::Waiting() const {
    std::vector<WaitingNotice> notices;
    SqlStatement select(m_db, "SELECT " KD_NOTICE_COLUMNS " FROM notices ORDER BY id");
    while (select && sqlite3_step(select.get()) == SQLITE_ROW)
        notices.push_back(NoticeFrom(select.get()));
    return notices;
}

std::string NoticeOutbox::StoreIdentity() const {
    SqlStatement select(m_db, "SELECT id FROM store_identity LIMIT 1");
    return select && sqlite3_step(select.get()) == SQLITE_ROW ? SqlColumnText(select.get(), 0)
                                                              : std::string();
}
