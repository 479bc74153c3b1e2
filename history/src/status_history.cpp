#include "status_history.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <set>
#include <sstream>
#include <string_view>

namespace kestrel::history {

namespace {

constexpr int kSchemaVersion = 1;
constexpr int kBusyTimeoutMs = 5000;
// The log is cut back to this after a checkpoint, so it does not keep the size of a burst.
constexpr long kLogSizeLimitBytes = 1 << 20;

constexpr const char* kSchema = R"(
CREATE TABLE IF NOT EXISTS changes(
  id INTEGER PRIMARY KEY,
  time_ms INTEGER NOT NULL,
  printer TEXT NOT NULL,
  model INTEGER NOT NULL,
  level INTEGER NOT NULL,
  message INTEGER NOT NULL,
  state TEXT NOT NULL,
  reasons TEXT NOT NULL);
CREATE INDEX IF NOT EXISTS changes_by_printer ON changes(printer, id);
CREATE INDEX IF NOT EXISTS changes_by_time ON changes(time_ms);
CREATE TABLE IF NOT EXISTS alert_counts(
  printer TEXT NOT NULL,
  reason TEXT NOT NULL,
  count INTEGER NOT NULL,
  PRIMARY KEY(printer, reason));
)";

std::int64_t millisecondsOf(Clock::time_point time)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
}

Clock::time_point timeOf(std::int64_t ms)
{
    return Clock::time_point(std::chrono::duration_cast<Clock::duration>(std::chrono::milliseconds(ms)));
}

// Reasons are keywords (no blanks), kept as one blank-separated text.
std::string joined(const std::vector<std::string>& reasons)
{
    std::string out;
    for (const std::string& reason : reasons) {
        if (reason.empty()) continue;
        if (!out.empty()) out += ' ';
        out += reason;
    }
    return out;
}

std::vector<std::string> split(std::string_view text)
{
    std::vector<std::string> out;
    std::istringstream in{std::string(text)};
    for (std::string word; in >> word;) out.push_back(word);
    return out;
}

// A keyword with a blank would be read back as two.
std::vector<std::string> cleaned(const std::vector<std::string>& reasons)
{
    std::set<std::string> unique;
    for (std::string reason : reasons) {
        std::replace_if(
            reason.begin(), reason.end(), [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }, '_');
        if (!reason.empty()) unique.insert(reason);
    }
    return {unique.begin(), unique.end()};
}

class Statement {
public:
    Statement(sqlite3* db, const char* sql) { m_rc = sqlite3_prepare_v2(db, sql, -1, &m_statement, nullptr); }
    ~Statement() { sqlite3_finalize(m_statement); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool ok() const { return m_rc == SQLITE_OK; }
    Statement& bind(int at, std::int64_t value)
    {
        sqlite3_bind_int64(m_statement, at, value);
        return *this;
    }
    Statement& bind(int at, const std::string& value)
    {
        sqlite3_bind_text(m_statement, at, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
        return *this;
    }
    // SQLITE_ROW, SQLITE_DONE or an error.
    int step() { return sqlite3_step(m_statement); }
    std::int64_t integer(int column) const { return sqlite3_column_int64(m_statement, column); }
    std::string text(int column) const
    {
        const auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(m_statement, column));
        return bytes == nullptr ? std::string() : std::string(bytes, sqlite3_column_bytes(m_statement, column));
    }

private:
    sqlite3_stmt* m_statement = nullptr;
    int m_rc = SQLITE_ERROR;
};

}  // namespace

struct HistoryStore::Db {
    sqlite3* handle = nullptr;
    std::filesystem::path file;
    ~Db() { sqlite3_close(handle); }

    plat::Error error(const std::string& what) const
    {
        return plat::Error{sqlite3_errcode(handle),
                           "history " + file.string() + ": " + what + " (" + sqlite3_errmsg(handle) + ")"};
    }
    bool exec(const char* sql) { return sqlite3_exec(handle, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }
};

std::filesystem::path historyFile(const std::filesystem::path& root) { return root / "history.db"; }

HistoryStore::HistoryStore(std::unique_ptr<Db> db, Limits limits) : m_db(std::move(db)), m_limits(limits) {}
HistoryStore::~HistoryStore() = default;

plat::Result<std::unique_ptr<HistoryStore>> HistoryStore::open(const std::filesystem::path& file, Access access,
                                                               Limits limits, Clock::time_point now)
{
    const bool readOnly = access == Access::ReadOnly;
    std::error_code missing;
    if (readOnly && !std::filesystem::exists(file, missing)) {
        return std::unique_ptr<HistoryStore>(new HistoryStore(nullptr, limits));
    }
    if (!readOnly) {
        // The history says what the user's printers did: the user's alone, whatever the umask.
        const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) return plat::Error{errno, "history " + file.string() + ": cannot open it"};
        ::close(fd);
    }
    auto db = std::make_unique<Db>();
    db->file = file;
    const int flags = (readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) | SQLITE_OPEN_NOMUTEX;
    if (sqlite3_open_v2(file.c_str(), &db->handle, flags, nullptr) != SQLITE_OK) {
        return db->error("cannot open it");
    }
    sqlite3_extended_result_codes(db->handle, 1);
    sqlite3_busy_timeout(db->handle, kBusyTimeoutMs);
    if (!readOnly) {
        if (!db->exec("PRAGMA journal_mode=WAL")) return db->error("cannot open its log");
        db->exec("PRAGMA synchronous=NORMAL");
        db->exec(("PRAGMA journal_size_limit=" + std::to_string(kLogSizeLimitBytes)).c_str());
        if (!db->exec("BEGIN IMMEDIATE")) return db->error("cannot write it");
        if (!db->exec(kSchema)) {
            db->exec("ROLLBACK");
            return db->error("it is not a status history or it is damaged");
        }
        db->exec(("PRAGMA user_version=" + std::to_string(kSchemaVersion)).c_str());
        if (!db->exec("COMMIT")) return db->error("cannot write it");
    } else {
        Statement check(db->handle, "SELECT count(*) FROM changes");
        if (!check.ok()) return db->error("it is not a status history or it is damaged");
    }
    std::unique_ptr<HistoryStore> store(new HistoryStore(std::move(db), limits));
    if (!readOnly) {
        auto pruned = store->prune(now);
        if (!pruned) return pruned.error();
    }
    return store;
}

plat::Result<bool> HistoryStore::record(const Change& given)
{
    if (!m_db) return plat::Error{SQLITE_READONLY, "history: none to write"};
    Change change = given;
    change.reasons = cleaned(given.reasons);
    Db& db = *m_db;
    if (!db.exec("BEGIN IMMEDIATE")) return db.error("cannot write it");
    auto fail = [&](const std::string& what) -> plat::Result<bool> {
        plat::Error error = db.error(what);
        db.exec("ROLLBACK");
        return error;
    };

    std::vector<std::string> before;
    {
        Statement newest(db.handle,
                         "SELECT model, level, message, state, reasons FROM changes WHERE printer = ?1 "
                         "ORDER BY id DESC LIMIT 1");
        if (!newest.ok()) return fail("cannot read it");
        newest.bind(1, change.printer);
        const int rc = newest.step();
        if (rc == SQLITE_ROW) {
            before = split(newest.text(4));
            if (newest.integer(0) == change.model && newest.integer(1) == change.level &&
                newest.integer(2) == change.message && newest.text(3) == change.state && before == change.reasons) {
                db.exec("ROLLBACK");
                return false;
            }
        } else if (rc != SQLITE_DONE) {
            return fail("cannot read it");
        }
    }
    {
        Statement insert(db.handle,
                         "INSERT INTO changes(time_ms, printer, model, level, message, state, reasons) "
                         "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7)");
        if (!insert.ok()) return fail("cannot write it");
        insert.bind(1, millisecondsOf(change.time))
            .bind(2, change.printer)
            .bind(3, change.model)
            .bind(4, change.level)
            .bind(5, change.message)
            .bind(6, change.state)
            .bind(7, joined(change.reasons));
        if (insert.step() != SQLITE_DONE) return fail("cannot write it");
    }
    for (const std::string& reason : change.reasons) {
        if (std::find(before.begin(), before.end(), reason) != before.end()) continue;
        Statement count(db.handle,
                        "INSERT INTO alert_counts(printer, reason, count) VALUES(?1, ?2, 1) "
                        "ON CONFLICT(printer, reason) DO UPDATE SET count = count + 1");
        if (!count.ok()) return fail("cannot write it");
        count.bind(1, change.printer).bind(2, reason);
        if (count.step() != SQLITE_DONE) return fail("cannot write it");
    }
    {
        // The printer's newest changes past the count limit go at once; the age limit is kept below.
        Statement trim(db.handle,
                       "DELETE FROM changes WHERE printer = ?1 AND id <= (SELECT id FROM changes WHERE printer = ?1 "
                       "ORDER BY id DESC LIMIT 1 OFFSET ?2)");
        if (!trim.ok()) return fail("cannot write it");
        trim.bind(1, change.printer).bind(2, static_cast<std::int64_t>(m_limits.changesPerPrinter));
        if (trim.step() != SQLITE_DONE) return fail("cannot write it");
    }
    if (!db.exec("COMMIT")) return fail("cannot write it");
    auto pruned = prune(change.time);
    if (!pruned) return pruned.error();
    return true;
}

plat::Result<bool> HistoryStore::prune(Clock::time_point now)
{
    if (!m_db) return false;
    Db& db = *m_db;
    const std::int64_t oldest =
        millisecondsOf(now) - std::chrono::duration_cast<std::chrono::milliseconds>(m_limits.age).count();
    {
        // Cheap when nothing aged out: the time index answers without a write.
        Statement any(db.handle, "SELECT 1 FROM changes WHERE time_ms < ?1 LIMIT 1");
        if (!any.ok()) return db.error("cannot read it");
        any.bind(1, oldest);
        const int rc = any.step();
        if (rc == SQLITE_DONE) return false;
        if (rc != SQLITE_ROW) return db.error("cannot read it");
    }
    if (!db.exec("BEGIN IMMEDIATE")) return db.error("cannot write it");
    Statement aged(db.handle, "DELETE FROM changes WHERE time_ms < ?1");
    if (!aged.ok()) {
        plat::Error error = db.error("cannot write it");
        db.exec("ROLLBACK");
        return error;
    }
    aged.bind(1, oldest);
    if (aged.step() != SQLITE_DONE ||
        !db.exec("DELETE FROM alert_counts WHERE printer NOT IN (SELECT DISTINCT printer FROM changes)") ||
        !db.exec("COMMIT")) {
        plat::Error error = db.error("cannot write it");
        db.exec("ROLLBACK");
        return error;
    }
    return true;
}

plat::Result<std::vector<Change>> HistoryStore::changes(const Query& query) const
{
    std::vector<Change> out;
    if (!m_db) return out;
    const Db& db = *m_db;
    std::string sql = "SELECT time_ms, printer, model, level, message, state, reasons FROM changes WHERE 1";
    if (query.printer) sql += " AND printer = ?1";
    if (query.since) sql += " AND time_ms >= ?2";
    sql += " ORDER BY id DESC";
    if (query.limit > 0) sql += " LIMIT ?3";
    Statement select(db.handle, sql.c_str());
    if (!select.ok()) return db.error("cannot read it");
    if (query.printer) select.bind(1, *query.printer);
    if (query.since) select.bind(2, millisecondsOf(*query.since));
    if (query.limit > 0) select.bind(3, static_cast<std::int64_t>(query.limit));
    int rc;
    while ((rc = select.step()) == SQLITE_ROW) {
        Change change;
        change.time = timeOf(select.integer(0));
        change.printer = select.text(1);
        change.model = static_cast<int>(select.integer(2));
        change.level = static_cast<int>(select.integer(3));
        change.message = static_cast<int>(select.integer(4));
        change.state = select.text(5);
        change.reasons = split(select.text(6));
        out.push_back(std::move(change));
    }
    if (rc != SQLITE_DONE) return db.error("cannot read it");
    return out;
}

plat::Result<std::vector<AlertCount>> HistoryStore::alertCounts() const
{
    std::vector<AlertCount> out;
    if (!m_db) return out;
    Statement select(m_db->handle,
                     "SELECT printer, reason, count FROM alert_counts WHERE count > 0 ORDER BY printer, reason");
    if (!select.ok()) return m_db->error("cannot read it");
    int rc;
    while ((rc = select.step()) == SQLITE_ROW) {
        out.push_back({select.text(0), select.text(1), static_cast<std::uint64_t>(select.integer(2))});
    }
    if (rc != SQLITE_DONE) return m_db->error("cannot read it");
    return out;
}

}  // namespace kestrel::history
