#include "plat/registry/registry.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <utility>

#include "plat/base/system_root.h"
#include "plat/base/trace.h"
#include "plat/registry/change_counters.h"

// Layout of the store file. Keys are rows with their full path; values hang off a key's id. The NOCASE
// collation gives the case rule for paths and names, and the path order lets a key's whole subtree be
// found as one range: every path below "A\B" lies between "A\B\" and "A\B]" ('\' is 0x5C, ']' 0x5D).
// The schema version lives in PRAGMA user_version; open() upgrades older stores in place.

namespace plat::registry {
namespace {

constexpr int kSchemaVersion = 1;
constexpr std::size_t kMaxValueBytes = 1 << 20;
// How long a call waits for other writers before it reports a store error. Generous: a store error
// here means something is badly wrong (a process holding a write lock for many seconds).
constexpr auto kBusyWait = std::chrono::seconds(30);
// The write-ahead log. No process of the system ever closes the store, so nothing folds the log back
// at a close: once it holds this many pages, the process whose commit got it there folds it into the
// store and waits until no reader needs it, holding back writers for that short while, so that the
// next commit starts the log over from its beginning. A passive checkpoint alone never lets the log
// start over while other processes keep reading and writing. (Emptying the file as well costs a third
// of the write rate under load, for nothing: its size stays bounded either way.)
constexpr int kLogCheckpointPages = 1000;
// What the log file is cut back to when it starts over, in case it ever grew past the pages above.
constexpr int kLogSizeLimitBytes = 4 * 1024 * 1024;
// The processes poll the same few values many times a second; a value read before is taken again
// without a store read while the change counters say no process changed it. Kept at most this long,
// in case a writer died between its commit and its bump; longer than the cadences that read (a status
// read every 5 s would otherwise find every value it reads just gone stale).
constexpr auto kCachedReadLife = std::chrono::seconds(60);
constexpr std::size_t kCachedReadsMax = 4096;

constexpr const char* kSchema = R"sql(
CREATE TABLE keys(
    id    INTEGER PRIMARY KEY,
    root  INTEGER NOT NULL,
    path  TEXT NOT NULL COLLATE NOCASE,
    class TEXT NOT NULL DEFAULT '',
    UNIQUE(root, path));
CREATE TABLE vals(
    key   INTEGER NOT NULL,
    name  TEXT NOT NULL COLLATE NOCASE,
    type  INTEGER NOT NULL,
    data  BLOB NOT NULL,
    PRIMARY KEY(key, name)) WITHOUT ROWID;
INSERT INTO keys(root, path) VALUES (1, ''), (2, '');
)sql";

bool isBusy(int rc)
{
    int primary = rc & 0xff;
    return primary == SQLITE_BUSY || primary == SQLITE_LOCKED;
}

// Runs `step` until it gets past other writers. SQLite's busy handler covers most waits; this loop
// covers the ones it does not (a lock upgrade, a WAL being recovered by another process).
template <class Step>
int retryWhileBusy(Step&& step)
{
    const auto deadline = std::chrono::steady_clock::now() + kBusyWait;
    auto pause = std::chrono::microseconds(200);
    for (;;) {
        int rc = step();
        if (!isBusy(rc) || std::chrono::steady_clock::now() >= deadline) {
            return rc;
        }
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::microseconds(20000));
    }
}

// Splits off a normalised path or says why it cannot be one.
bool normalisePath(std::string_view path, std::string& out)
{
    while (!path.empty() && path.front() == '\\') path.remove_prefix(1);
    while (!path.empty() && path.back() == '\\') path.remove_suffix(1);
    if (path.size() > kMaxKeyPathBytes) return false;
    std::size_t start = 0;
    while (start <= path.size() && !path.empty()) {
        std::size_t end = path.find('\\', start);
        if (end == std::string_view::npos) end = path.size();
        std::size_t length = end - start;
        if (length == 0 || length > kMaxKeyComponentBytes) return false;
        start = end + 1;
    }
    out.assign(path);
    return true;
}

class Statement {
public:
    Statement() = default;
    Statement(sqlite3* db, const char* sql)
    {
        if (sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &m_stmt, nullptr) != SQLITE_OK) {
            m_stmt = nullptr;
        }
    }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    Statement& operator=(Statement&& other) noexcept
    {
        std::swap(m_stmt, other.m_stmt);
        return *this;
    }

    bool valid() const { return m_stmt != nullptr; }
    sqlite3_stmt* get() const { return m_stmt; }

    Statement& bind(int index, std::int64_t value)
    {
        sqlite3_bind_int64(m_stmt, index, value);
        return *this;
    }
    Statement& bind(int index, std::string_view text)
    {
        sqlite3_bind_text(m_stmt, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Statement& bindBlob(int index, std::span<const std::byte> data)
    {
        // A zero-length blob must still be a blob, not NULL, for the NOT NULL column.
        static const std::byte empty{};
        sqlite3_bind_blob(m_stmt, index, data.empty() ? &empty : data.data(), static_cast<int>(data.size()),
                          SQLITE_TRANSIENT);
        return *this;
    }
    // Runs one step, waiting for other writers; leaves the statement positioned on a row if any.
    int step()
    {
        return retryWhileBusy([&] {
            int rc = sqlite3_step(m_stmt);
            if (isBusy(rc)) sqlite3_reset(m_stmt);
            return rc;
        });
    }
    void reset()
    {
        sqlite3_reset(m_stmt);
        sqlite3_clear_bindings(m_stmt);
    }

private:
    sqlite3_stmt* m_stmt = nullptr;
};

// Resets a statement when the call that used it returns, whichever way it returns.
struct ResetOnExit {
    Statement& statement;
    ~ResetOnExit() { statement.reset(); }
};

}  // namespace

bool isValidKeyPath(std::string_view path)
{
    std::string normal;
    return normalisePath(path, normal);
}

const char* describe(Status status)
{
    switch (status) {
    case Status::Ok: return "The operation completed successfully.";
    case Status::NotFound: return "The system was unable to find the specified registry key or value.";
    case Status::MoreData: return "The value is larger than the buffer given for it.";
    case Status::AccessDenied: return "Access is denied.";
    case Status::InvalidArgument: return "The key path, value name or data is not valid.";
    case Status::StoreError: return "The registry store cannot be read or written.";
    case Status::ReadOnly: return "The registry store is read-only: it can be read but not written.";
    }
    return "Unknown status.";
}

struct Store::Impl {
    std::filesystem::path file;
    sqlite3* db = nullptr;
    // One connection, shared prepared statements: every call holds it. Recursive, so the calls made
    // inside Store::atomically() on the same thread take it again.
    std::recursive_mutex mutex;
    int transactionDepth = 0;  // guarded by mutex
    // The file or its folder cannot be written: reads work, every change is refused with ReadOnly.
    bool readOnly = false;
    // Null for a read-only store, or where the counters cannot be mapped: then every read asks the store.
    std::unique_ptr<ChangeCounters> counters;
    struct CachedId {
        std::uint32_t keys;
        std::int64_t id;
        std::chrono::steady_clock::time_point readAt;
    };
    struct CachedValue {
        std::uint32_t keys, values;
        std::chrono::steady_clock::time_point readAt;
        bool found;
        ValueType type;
        std::vector<std::byte> data;
    };
    struct CachedListing {
        std::uint32_t keys, values;
        std::chrono::steady_clock::time_point readAt;
        std::vector<Key::Value> list;
    };
    std::unordered_map<std::string, CachedId> cachedIds;          // by root and path
    std::unordered_map<std::string, CachedValue> cachedValues;    // by key id and value name
    std::unordered_map<std::int64_t, CachedListing> cachedLists;  // by key id
    std::string cacheKey;                                         // built for each lookup, kept for its room
    // Key id and value name of each change; id 0 for a key made or deleted.
    std::vector<std::pair<std::int64_t, std::string>> changedInTransaction;
    Statement findKey, insertKey, queryValue, setValue, deleteValue, listSubKeys, listValues, deleteSubtreeValues,
        deleteSubtreeKeys, begin, beginRead, commit, rollback, getByPath, setByPath;

    ~Impl()
    {
        // Statements must go before the connection.
        for (Statement* s : statements()) *s = Statement();
        sqlite3_close(db);
    }

    std::array<Statement*, 15> statements()
    {
        return {&findKey,    &insertKey,           &queryValue,        &setValue, &deleteValue, &listSubKeys,
                &listValues, &deleteSubtreeValues, &deleteSubtreeKeys, &begin,    &beginRead,   &commit,
                &rollback,   &getByPath,           &setByPath};
    }

    Status storeError(std::string_view what)
    {
        trace("registry: " + std::string(what) + " failed in " + file.string() + ": " + sqlite3_errmsg(db));
        return (sqlite3_errcode(db) & 0xff) == SQLITE_READONLY ? Status::ReadOnly : Status::StoreError;
    }

    int exec(const char* sql)
    {
        return retryWhileBusy([&] { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr); });
    }

    bool prepare()
    {
        findKey = Statement(db, "SELECT id FROM keys WHERE root=?1 AND path=?2");
        insertKey = Statement(db, "INSERT OR IGNORE INTO keys(root, path, class) VALUES (?1, ?2, ?3)");
        queryValue = Statement(db, "SELECT type, data FROM vals WHERE key=?1 AND name=?2");
        setValue = Statement(db,
                             "INSERT INTO vals(key, name, type, data) "
                             "SELECT ?1, ?2, ?3, ?4 WHERE EXISTS (SELECT 1 FROM keys WHERE id=?1) "
                             "ON CONFLICT(key, name) DO UPDATE SET type=excluded.type, data=excluded.data");
        deleteValue = Statement(db, "DELETE FROM vals WHERE key=?1 AND name=?2");
        listSubKeys = Statement(db, "SELECT path FROM keys WHERE root=?1 AND path>?2 AND path<?3 ORDER BY path");
        listValues = Statement(db, "SELECT name, type, data FROM vals WHERE key=?1 ORDER BY name");
        deleteSubtreeValues = Statement(db,
                                        "DELETE FROM vals WHERE key IN (SELECT id FROM keys WHERE root=?1 "
                                        "AND (path=?2 OR (path>?3 AND path<?4)))");
        deleteSubtreeKeys = Statement(db, "DELETE FROM keys WHERE root=?1 AND (path=?2 OR (path>?3 AND path<?4))");
        getByPath = Statement(db,
                              "SELECT v.type, v.data FROM keys k JOIN vals v ON v.key=k.id "
                              "WHERE k.root=?1 AND k.path=?2 AND v.name=?3");
        setByPath = Statement(db,
                              "INSERT INTO vals(key, name, type, data) SELECT id, ?3, ?4, ?5 FROM keys "
                              "WHERE root=?1 AND path=?2 "
                              "ON CONFLICT(key, name) DO UPDATE SET type=excluded.type, data=excluded.data");
        begin = Statement(db, "BEGIN IMMEDIATE");
        beginRead = Statement(db, "BEGIN");  // deferred: its first read fixes the snapshot
        commit = Statement(db, "COMMIT");
        rollback = Statement(db, "ROLLBACK");
        const auto all = statements();
        return std::all_of(all.begin(), all.end(), [](Statement* s) { return s->valid(); });
    }

    // Copies the (type, data) row `statement` has just stepped to, as a query does.
    static Status copyOut(Statement& statement, std::span<std::byte> buffer, std::uint32_t* size, ValueType* type)
    {
        const auto* data = static_cast<const std::byte*>(sqlite3_column_blob(statement.get(), 1));
        return copyOut(static_cast<ValueType>(sqlite3_column_int(statement.get(), 0)),
                       std::span(data, static_cast<std::size_t>(sqlite3_column_bytes(statement.get(), 1))), buffer,
                       size, type);
    }

    static Status copyOut(ValueType valueType, std::span<const std::byte> data, std::span<std::byte> buffer,
                          std::uint32_t* size, ValueType* type)
    {
        if (size != nullptr) *size = static_cast<std::uint32_t>(data.size());
        if (type != nullptr) *type = valueType;
        if (buffer.data() == nullptr) return Status::Ok;
        if (data.size() > buffer.size()) return Status::MoreData;
        if (!data.empty()) std::memcpy(buffer.data(), data.data(), data.size());
        return Status::Ok;
    }

    static bool fresh(std::chrono::steady_clock::time_point readAt)
    {
        return std::chrono::steady_clock::now() - readAt < kCachedReadLife;
    }

    // Every value of key `id`, in name order.
    Result<std::vector<Key::Value>> listValuesOf(std::int64_t id)
    {
        std::vector<Key::Value> values;
        ResetOnExit done{listValues};
        listValues.bind(1, id);
        int rc;
        while ((rc = listValues.step()) == SQLITE_ROW) {
            sqlite3_stmt* row = listValues.get();
            Key::Value value;
            value.name = reinterpret_cast<const char*>(sqlite3_column_text(row, 0));
            value.type = static_cast<ValueType>(sqlite3_column_int(row, 1));
            const auto* data = static_cast<const std::byte*>(sqlite3_column_blob(row, 2));
            value.data.assign(data, data + sqlite3_column_bytes(row, 2));
            values.push_back(std::move(value));
        }
        if (rc != SQLITE_DONE) {
            return Error{static_cast<int>(storeError("list values")), describe(Status::StoreError)};
        }
        return values;
    }

    void valueCacheKey(std::int64_t id, std::string_view name)
    {
        cacheKey.assign(reinterpret_cast<const char*>(&id), sizeof id).append(name);
    }

    // keyId(), taken from an earlier read while no key was made or deleted since.
    std::int64_t cachedKeyId(Root root, const std::string& path)
    {
        if (!counters || transactionDepth > 0) return keyId(root, path);
        const std::uint32_t keys = counters->keys();  // before the read, so that a change after it shows
        cacheKey.assign(1, static_cast<char>('0' + static_cast<int>(root))).append(path);
        if (auto it = cachedIds.find(cacheKey);
            it != cachedIds.end() && it->second.keys == keys && fresh(it->second.readAt))
            return it->second.id;
        const std::int64_t id = keyId(root, path);
        if (id >= 0) {
            if (cachedIds.size() >= kCachedReadsMax) cachedIds.clear();
            cachedIds[cacheKey] = {keys, id, std::chrono::steady_clock::now()};
        }
        return id;
    }

    // A value query of key `id`, taken from an earlier read while its change counter stands still.
    Status cachedQuery(std::int64_t id, std::string_view name, std::span<std::byte> buffer, std::uint32_t* size,
                       ValueType* type)
    {
        const std::uint32_t keys = counters->keys();
        const std::uint32_t values = counters->valueOf(id, name);
        valueCacheKey(id, name);
        auto it = cachedValues.find(cacheKey);
        if (it == cachedValues.end() || it->second.keys != keys || it->second.values != values ||
            !fresh(it->second.readAt)) {
            ResetOnExit done{queryValue};
            queryValue.bind(1, id).bind(2, name);
            const int rc = queryValue.step();
            if (rc != SQLITE_ROW && rc != SQLITE_DONE) return storeError("query value");
            CachedValue read{keys, values, std::chrono::steady_clock::now(), rc == SQLITE_ROW, ValueType{}, {}};
            if (read.found) {
                read.type = static_cast<ValueType>(sqlite3_column_int(queryValue.get(), 0));
                const auto* data = static_cast<const std::byte*>(sqlite3_column_blob(queryValue.get(), 1));
                read.data.assign(data, data + sqlite3_column_bytes(queryValue.get(), 1));
            }
            if (cachedValues.size() >= kCachedReadsMax) cachedValues.clear();
            it = cachedValues.insert_or_assign(cacheKey, std::move(read)).first;
        }
        if (!it->second.found) return Status::NotFound;
        return copyOut(it->second.type, it->second.data, buffer, size, type);
    }

    // Whether the value is known to hold exactly this, from a read no change has made stale since.
    bool knownToHold(std::int64_t id, std::string_view name, ValueType type, std::span<const std::byte> data)
    {
        valueCacheKey(id, name);
        const auto it = cachedValues.find(cacheKey);
        return it != cachedValues.end() && it->second.found && it->second.keys == counters->keys() &&
               it->second.values == counters->valueOf(id, name) && fresh(it->second.readAt) &&
               it->second.type == type && std::ranges::equal(it->second.data, data);
    }

    // Tells the other processes, once the change is committed, that value `name` of key `id` changed
    // (id 0: keys were made or deleted).
    void changed(std::int64_t id, std::string_view name = {})
    {
        if (!counters) return;
        if (transactionDepth > 0) {
            changedInTransaction.emplace_back(id, name);
        } else if (id == 0) {
            counters->keysChanged();
        } else {
            counters->valueChanged(id, name);
        }
    }

    // Every set is already committed to the store's write-ahead log; syncing that log makes the
    // commits survive a crash of the machine. SQLite hands out the log's file object for exactly this
    // kind of use.
    Status syncLog()
    {
        if (readOnly) return Status::Ok;  // nothing was set, so nothing waits to be made durable
        sqlite3_file* log = nullptr;
        if (sqlite3_file_control(db, "main", SQLITE_FCNTL_JOURNAL_POINTER, &log) == SQLITE_OK && log != nullptr &&
            log->pMethods != nullptr) {
            return log->pMethods->xSync(log, SQLITE_SYNC_NORMAL) == SQLITE_OK ? Status::Ok : storeError("flush");
        }
        // No log open yet (nothing written through this connection): a checkpoint syncs what others wrote.
        int rc = sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
        return rc == SQLITE_OK || isBusy(rc) ? Status::Ok : storeError("flush");
    }

    // Id of a key, 0 if it does not exist, -1 on a store error.
    std::int64_t keyId(Root root, std::string_view path)
    {
        ResetOnExit done{findKey};
        findKey.bind(1, static_cast<std::int64_t>(root)).bind(2, path);
        int rc = findKey.step();
        if (rc == SQLITE_ROW) return sqlite3_column_int64(findKey.get(), 0);
        return rc == SQLITE_DONE ? 0 : -1;
    }

    // Runs `body` inside one write transaction (or inside the one already open); rolls back if it
    // does not return Ok.
    template <class Body>
    Status inTransaction(Body&& body)
    {
        // A read-only store runs the body as it is: its reads work, its first change says ReadOnly.
        if (readOnly) return body();
        return inTransaction(begin, body);
    }

    template <class Body>
    Status inTransaction(Statement& start, Body&& body)
    {
        if (transactionDepth > 0) return body();
        int rc = start.step();
        start.reset();
        if (rc != SQLITE_DONE) return storeError("begin");
        ++transactionDepth;
        Status status = body();
        --transactionDepth;
        if (status == Status::Ok) {
            rc = commit.step();
            commit.reset();
            if (rc != SQLITE_DONE) status = storeError("commit");
        }
        if (status != Status::Ok) {
            rollback.step();
            rollback.reset();
        }
        // A bump for a rolled-back change only costs the others a read.
        for (const auto& [id, name] : std::exchange(changedInTransaction, {})) changed(id, name);
        return status;
    }
};

namespace {

// The text bounds of a subtree: every descendant path p satisfies low < p < high.
std::pair<std::string, std::string> subtreeBounds(const std::string& path)
{
    if (path.empty()) return {"", "\xff"};  // above every byte a UTF-8 path can start with
    return {path + "\\", path + "]"};
}

// The store is the user's alone: a new store file is made 0600 whatever the umask, and an older one
// with wider modes is narrowed, with the log files beside it. SQLite gives the log files it makes the
// mode of the store file, so they are private from then on.
void makeStoreFilePrivate(const std::filesystem::path& file)
{
    int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd >= 0) {
        ::fchmod(fd, 0600);  // an empty file is an empty store; the schema is made below
        ::close(fd);
        return;
    }
    for (const char* suffix : {"", "-wal", "-shm"}) plat::makePrivate(file.string() + suffix);
}

// The store file as a read-only URI that takes no locks and reads no log: for a store in a folder that
// cannot be written, where no writer can exist because none could make the log file.
std::string immutableUri(const std::filesystem::path& file)
{
    std::string uri = "file:";
    const std::string path = std::filesystem::absolute(file).string();
    for (unsigned char c : path) {
        if (std::isalnum(c) || std::strchr("/-._~", c) != nullptr) {
            uri += static_cast<char>(c);
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", c);
            uri += escaped;
        }
    }
    return uri + "?immutable=1";
}

// A log with changes not yet folded into the store: reading the store file alone would miss them.
bool logHoldsChanges(const std::filesystem::path& file)
{
    std::error_code error;
    const auto size = std::filesystem::file_size(file.string() + "-wal", error);
    return !error && size > 0;
}

bool isReadOnlyFailure(int rc)
{
    const int primary = rc & 0xff;
    return primary == SQLITE_READONLY || primary == SQLITE_CANTOPEN;
}

// Folds the log into the store and lets it start over once it has grown to kLogCheckpointPages;
// called by SQLite after every commit of this connection, with the locks of the commit released.
int checkpointWhenLarge(void*, sqlite3* db, const char* schema, int pages)
{
    if (pages >= kLogCheckpointPages) {
        // Busy (another checkpoint, a reader that outlasts the busy time-out) is no failure: the
        // next commit tries again.
        sqlite3_wal_checkpoint_v2(db, schema, SQLITE_CHECKPOINT_RESTART, nullptr, nullptr);
    }
    return SQLITE_OK;
}

Result<std::unique_ptr<Store::Impl>> openConnection(const std::filesystem::path& file)
{
    auto impl = std::make_unique<Store::Impl>();
    impl->file = file;
    auto fail = [&](const std::string& why) {
        return Error{static_cast<int>(Status::StoreError), "registry store " + file.string() + ": " + why};
    };

    makeStoreFilePrivate(file);
    int rc = sqlite3_open_v2(file.c_str(), &impl->db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                             nullptr);
    if (rc != SQLITE_OK) {
        return fail(std::string("cannot open it (") + (impl->db ? sqlite3_errmsg(impl->db) : sqlite3_errstr(rc)) + ")");
    }
    sqlite3_extended_result_codes(impl->db, 1);
    sqlite3_busy_timeout(impl->db, 5000);

    // The first statements read the file header: a file that is not a database fails here. A store
    // file that cannot be written opens for reading (SQLite falls back by itself); one in a folder that
    // cannot be written fails here for want of its log files, and is opened for reading without them.
    rc = impl->exec("PRAGMA journal_mode=WAL");
    if (rc != SQLITE_OK && isReadOnlyFailure(sqlite3_extended_errcode(impl->db)) && ::access(file.c_str(), R_OK) == 0 &&
        !logHoldsChanges(file)) {
        sqlite3_close(impl->db);
        impl->db = nullptr;
        rc = sqlite3_open_v2(immutableUri(file).c_str(), &impl->db,
                             SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX, nullptr);
        if (rc != SQLITE_OK) {
            return fail(std::string("cannot open it (") + (impl->db ? sqlite3_errmsg(impl->db) : sqlite3_errstr(rc)) +
                        ")");
        }
        sqlite3_extended_result_codes(impl->db, 1);
        rc = impl->exec("PRAGMA schema_version");
    }
    if (rc != SQLITE_OK) {
        return fail(std::string("it is not a registry store or it is damaged (") + sqlite3_errmsg(impl->db) +
                    "); the file was left as it is");
    }
    impl->readOnly = sqlite3_db_readonly(impl->db, "main") == 1;
    if (impl->readOnly) {
        trace("registry: " + file.string() + " cannot be written; it is open for reading only");
    } else {
        impl->counters = ChangeCounters::open(file.string() + "-changes");
        impl->exec("PRAGMA synchronous=NORMAL");
        impl->exec(("PRAGMA journal_size_limit=" + std::to_string(kLogSizeLimitBytes)).c_str());
        sqlite3_wal_hook(impl->db, checkpointWhenLarge, nullptr);
    }

    std::string check;
    rc = retryWhileBusy([&] {
        check.clear();
        return sqlite3_exec(
            impl->db, "PRAGMA quick_check",
            [](void* out, int, char** values, char**) {
                static_cast<std::string*>(out)->append(values[0] ? values[0] : "");
                return 0;
            },
            &check, nullptr);
    });
    if (rc != SQLITE_OK || check != "ok") {
        return fail("it is damaged (" + (rc != SQLITE_OK ? std::string(sqlite3_errmsg(impl->db)) : check) +
                    "); the file was left as it is");
    }

    // Make the schema once; two processes opening a new file at once settle it inside the write lock.
    int version = 0;
    int tables = 0;
    auto readVersion = [&] {
        sqlite3_stmt* stmt = nullptr;
        sqlite3_prepare_v2(impl->db,
                           "SELECT (SELECT user_version FROM pragma_user_version), "
                           "(SELECT count(*) FROM sqlite_schema)",
                           -1, &stmt, nullptr);
        int step = retryWhileBusy([&] { return sqlite3_step(stmt); });
        if (step == SQLITE_ROW) {
            version = sqlite3_column_int(stmt, 0);
            tables = sqlite3_column_int(stmt, 1);
        }
        sqlite3_finalize(stmt);
        return step == SQLITE_ROW;
    };
    if (!readVersion()) return fail(std::string("cannot read it (") + sqlite3_errmsg(impl->db) + ")");
    if (version == 0 && impl->readOnly) {
        return fail("it is read-only and holds no store yet, so none can be made in it");
    }
    if (version == 0) {
        if (impl->exec("BEGIN IMMEDIATE") != SQLITE_OK) {
            return fail(std::string("cannot write it (") + sqlite3_errmsg(impl->db) + ")");
        }
        if (!readVersion()) {
            impl->exec("ROLLBACK");
            return fail(std::string("cannot read it (") + sqlite3_errmsg(impl->db) + ")");
        }
        if (version == 0 && tables != 0) {
            impl->exec("ROLLBACK");
            return fail("it is a database of something else, not a registry store; the file was left as it is");
        }
        if (version == 0) {
            std::string make = std::string(kSchema) + "PRAGMA user_version=" + std::to_string(kSchemaVersion) + ";";
            if (impl->exec(make.c_str()) != SQLITE_OK) {
                std::string why = sqlite3_errmsg(impl->db);
                impl->exec("ROLLBACK");
                return fail("cannot make a new store (" + why + ")");
            }
            version = kSchemaVersion;
        }
        if (impl->exec("COMMIT") != SQLITE_OK) {
            return fail(std::string("cannot write it (") + sqlite3_errmsg(impl->db) + ")");
        }
    }
    if (version > kSchemaVersion) {
        return fail("it was made by a newer version of the system (schema " + std::to_string(version) + ")");
    }
    if (!impl->prepare()) {
        return fail(std::string("it does not have the layout of a registry store (") + sqlite3_errmsg(impl->db) + ")");
    }
    return impl;
}

}  // namespace

Store::Store(std::unique_ptr<Impl> impl) : m(std::move(impl)) {}
Store::~Store() = default;

const std::filesystem::path& Store::file() const { return m->file; }

Result<std::unique_ptr<Store>> Store::open(const std::filesystem::path& file)
{
    auto impl = openConnection(file);
    if (!impl) return impl.error();
    return std::unique_ptr<Store>(new Store(std::move(impl).value()));
}

Result<Store*> Store::forCurrentRoot()
{
    // Stores stay open until the process ends and are deliberately never destroyed: engine threads may
    // still use them while static objects are torn down at exit. SQLite recovers its log at next open.
    static std::mutex mutex;
    static auto* stores = new std::map<std::filesystem::path, Store*>();
    // Asked many times a second: while the environment names the same root, so is the store.
    thread_local std::string lastEnvironment;
    thread_local Store* last = nullptr;
    const std::string& environment = rootEnvironment();
    if (last != nullptr && environment == lastEnvironment) return last;
    const std::filesystem::path file = registryFile();
    std::lock_guard lock(mutex);
    if (auto it = stores->find(file); it != stores->end()) {
        lastEnvironment = environment;
        return last = it->second;
    }
    auto opened = open(file);
    if (!opened) {
        trace(opened.error().detail);
        return opened.error();
    }
    Store* store = opened.value().release();
    stores->emplace(file, store);
    lastEnvironment = environment;
    return last = store;
}

Status Store::createKey(Root root, std::string_view path, std::string_view className, Key& out, bool* created)
{
    out.close();
    std::string normal;
    if (!normalisePath(path, normal)) return Status::InvalidArgument;
    std::lock_guard lock(m->mutex);
    std::int64_t id = m->cachedKeyId(root, normal);
    if (id < 0) return m->storeError("open key");
    bool made = false;
    if (id == 0) {
        if (m->readOnly) return Status::ReadOnly;
        Status status = m->inTransaction([&] {
            // Every key above the new one, then the key itself; existing ones are left as they are.
            for (std::size_t end = normal.find('\\');; end = normal.find('\\', end + 1)) {
                std::string_view prefix = std::string_view(normal).substr(0, end);
                ResetOnExit done{m->insertKey};
                m->insertKey.bind(1, static_cast<std::int64_t>(root)).bind(2, prefix).bind(3, className);
                if (m->insertKey.step() != SQLITE_DONE) return m->storeError("create key");
                made = sqlite3_changes(m->db) > 0;
                if (end == std::string::npos) break;
            }
            id = m->keyId(root, normal);
            return id > 0 ? Status::Ok : m->storeError("create key");
        });
        if (status != Status::Ok) return status;
        if (made) m->changed(0);
    }
    if (created != nullptr) *created = made;
    out.m_store = this;
    out.m_id = id;
    out.m_access = QueryAndSet;
    return Status::Ok;
}

Status Store::openKey(Root root, std::string_view path, unsigned access, Key& out)
{
    out.close();
    std::string normal;
    if (!normalisePath(path, normal) || (access & QueryAndSet) == 0) return Status::InvalidArgument;
    std::lock_guard lock(m->mutex);
    std::int64_t id = m->cachedKeyId(root, normal);
    if (id < 0) return m->storeError("open key");
    if (id == 0) return Status::NotFound;
    out.m_store = this;
    out.m_id = id;
    out.m_access = access;
    return Status::Ok;
}

Status Store::deleteKey(Root root, std::string_view path)
{
    std::string normal;
    if (!normalisePath(path, normal) || normal.empty()) return Status::InvalidArgument;
    std::lock_guard lock(m->mutex);
    if (m->readOnly) return Status::ReadOnly;
    return m->inTransaction([&] {
        auto [low, high] = subtreeBounds(normal);
        for (Statement* s : {&m->deleteSubtreeValues, &m->deleteSubtreeKeys}) {
            ResetOnExit done{*s};
            s->bind(1, static_cast<std::int64_t>(root)).bind(2, normal).bind(3, low).bind(4, high);
            if (s->step() != SQLITE_DONE) return m->storeError("delete key");
        }
        if (sqlite3_changes(m->db) == 0) return Status::NotFound;
        m->changed(0);
        return Status::Ok;
    });
}

Status Store::atomically(const std::function<Status()>& body)
{
    std::lock_guard lock(m->mutex);
    return m->inTransaction(body);
}

Status Store::readConsistently(const std::function<Status()>& body)
{
    std::lock_guard lock(m->mutex);
    return m->inTransaction(m->beginRead, body);
}

Status Store::getValue(Root root, std::string_view path, std::string_view name, std::span<std::byte> buffer,
                       std::uint32_t* size, ValueType* type)
{
    std::string normal;
    if (!normalisePath(path, normal)) return Status::InvalidArgument;
    std::lock_guard lock(m->mutex);
    if (m->counters && m->transactionDepth == 0) {
        const std::int64_t id = m->cachedKeyId(root, normal);
        if (id < 0) return m->storeError("query value");
        if (id == 0) return Status::NotFound;
        return m->cachedQuery(id, name, buffer, size, type);
    }
    ResetOnExit done{m->getByPath};
    m->getByPath.bind(1, static_cast<std::int64_t>(root)).bind(2, normal).bind(3, name);
    int rc = m->getByPath.step();
    if (rc == SQLITE_DONE) return Status::NotFound;
    if (rc != SQLITE_ROW) return m->storeError("query value");
    return Impl::copyOut(m->getByPath, buffer, size, type);
}

Status Store::setValue(Root root, std::string_view path, std::string_view name, ValueType type,
                       std::span<const std::byte> data, Flush flush)
{
    std::string normal;
    if (!normalisePath(path, normal) || name.size() > kMaxValueNameBytes || data.size() > kMaxValueBytes) {
        return Status::InvalidArgument;
    }
    std::lock_guard lock(m->mutex);
    if (m->readOnly) return Status::ReadOnly;
    // The engines set the same flags and replies over and over; a set that changes nothing is left
    // out, with its flush: whoever set the value before made it as durable as it asked.
    if (m->counters && m->transactionDepth == 0) {
        const std::int64_t id = m->cachedKeyId(root, normal);
        if (id > 0 && m->knownToHold(id, name, type, data)) return Status::Ok;
    }
    ResetOnExit done{m->setByPath};
    m->setByPath.bind(1, static_cast<std::int64_t>(root))
        .bind(2, normal)
        .bind(3, name)
        .bind(4, static_cast<std::int64_t>(type))
        .bindBlob(5, data);
    if (m->setByPath.step() != SQLITE_DONE) return m->storeError("set value");
    if (sqlite3_changes(m->db) == 0) return Status::NotFound;  // no such key
    if (m->counters) m->changed(m->cachedKeyId(root, normal), name);
    (void)flush;  // the commit made it a flushed set already
    return Status::Ok;
}

Status Store::syncToDisk()
{
    std::lock_guard lock(m->mutex);
    return m->syncLog();
}

Key::~Key() { close(); }

Key::Key(Key&& other) noexcept { *this = std::move(other); }

Key& Key::operator=(Key&& other) noexcept
{
    if (this != &other) {
        m_store = std::exchange(other.m_store, nullptr);
        m_id = std::exchange(other.m_id, 0);
        m_access = std::exchange(other.m_access, 0);
    }
    return *this;
}

void Key::close()
{
    m_store = nullptr;
    m_id = 0;
    m_access = 0;
}

Status Key::query(std::string_view name, std::span<std::byte> buffer, std::uint32_t* size, ValueType* type) const
{
    if (!isOpen()) return Status::InvalidArgument;
    if ((m_access & Query) == 0) return Status::AccessDenied;
    auto& m = *m_store->m;
    std::lock_guard lock(m.mutex);
    ResetOnExit done{m.queryValue};
    m.queryValue.bind(1, m_id).bind(2, name);
    int rc = m.queryValue.step();
    if (rc == SQLITE_DONE) return Status::NotFound;
    if (rc != SQLITE_ROW) return m.storeError("query value");
    return Store::Impl::copyOut(m.queryValue, buffer, size, type);
}

Status Key::set(std::string_view name, ValueType type, std::span<const std::byte> data)
{
    if (!isOpen() || name.size() > kMaxValueNameBytes || data.size() > kMaxValueBytes) {
        return Status::InvalidArgument;
    }
    if ((m_access & Set) == 0) return Status::AccessDenied;
    auto& m = *m_store->m;
    std::lock_guard lock(m.mutex);
    if (m.readOnly) return Status::ReadOnly;
    ResetOnExit done{m.setValue};
    m.setValue.bind(1, m_id).bind(2, name).bind(3, static_cast<std::int64_t>(type)).bindBlob(4, data);
    if (m.setValue.step() != SQLITE_DONE) return m.storeError("set value");
    // No row written means the key was deleted after it was opened.
    if (sqlite3_changes(m.db) == 0) return Status::NotFound;
    m.changed(m_id, name);
    return Status::Ok;
}

Status Key::setDword(std::string_view name, std::uint32_t value)
{
    const std::byte bytes[4] = {std::byte(value & 0xff), std::byte((value >> 8) & 0xff),
                                std::byte((value >> 16) & 0xff), std::byte((value >> 24) & 0xff)};
    return set(name, ValueType::Dword, bytes);
}

Status Key::flush() { return isOpen() ? Status::Ok : Status::InvalidArgument; }

Status Key::deleteValue(std::string_view name)
{
    if (!isOpen()) return Status::InvalidArgument;
    if ((m_access & Set) == 0) return Status::AccessDenied;
    auto& m = *m_store->m;
    std::lock_guard lock(m.mutex);
    if (m.readOnly) return Status::ReadOnly;
    ResetOnExit done{m.deleteValue};
    m.deleteValue.bind(1, m_id).bind(2, name);
    if (m.deleteValue.step() != SQLITE_DONE) return m.storeError("delete value");
    if (sqlite3_changes(m.db) == 0) return Status::NotFound;
    m.changed(m_id, name);
    return Status::Ok;
}

Result<std::vector<std::string>> Key::subKeys() const
{
    if (!isOpen()) return Error{static_cast<int>(Status::InvalidArgument), describe(Status::InvalidArgument)};
    auto& m = *m_store->m;
    std::lock_guard lock(m.mutex);
    // The key's own path and root, then the direct children within its subtree range.
    sqlite3_stmt* self = nullptr;
    sqlite3_prepare_v2(m.db, "SELECT root, path FROM keys WHERE id=?1", -1, &self, nullptr);
    sqlite3_bind_int64(self, 1, m_id);
    int rc = retryWhileBusy([&] { return sqlite3_step(self); });
    if (rc != SQLITE_ROW) {
        sqlite3_finalize(self);
        Status status = rc == SQLITE_DONE ? Status::NotFound : m.storeError("list sub-keys");
        return Error{static_cast<int>(status), describe(status)};
    }
    std::int64_t root = sqlite3_column_int64(self, 0);
    std::string path = reinterpret_cast<const char*>(sqlite3_column_text(self, 1));
    sqlite3_finalize(self);

    auto [low, high] = subtreeBounds(path);
    std::vector<std::string> names;
    ResetOnExit done{m.listSubKeys};
    m.listSubKeys.bind(1, root).bind(2, low).bind(3, high);
    while ((rc = m.listSubKeys.step()) == SQLITE_ROW) {
        std::string_view child = reinterpret_cast<const char*>(sqlite3_column_text(m.listSubKeys.get(), 0));
        child.remove_prefix(path.empty() ? 0 : path.size() + 1);
        if (child.find('\\') == std::string_view::npos) names.emplace_back(child);
    }
    if (rc != SQLITE_DONE) {
        return Error{static_cast<int>(m.storeError("list sub-keys")), describe(Status::StoreError)};
    }
    return names;
}

Result<std::vector<Key::Value>> Key::values() const
{
    if (!isOpen()) return Error{static_cast<int>(Status::InvalidArgument), describe(Status::InvalidArgument)};
    auto& m = *m_store->m;
    std::lock_guard lock(m.mutex);
    if (!m.counters || m.transactionDepth > 0) return m.listValuesOf(m_id);
    const std::uint32_t keys = m.counters->keys(), values = m.counters->valuesOf(m_id);
    if (auto it = m.cachedLists.find(m_id); it != m.cachedLists.end() && it->second.keys == keys &&
                                            it->second.values == values && Store::Impl::fresh(it->second.readAt)) {
        return it->second.list;
    }
    auto list = m.listValuesOf(m_id);
    if (list) {
        if (m.cachedLists.size() >= kCachedReadsMax) m.cachedLists.clear();
        m.cachedLists[m_id] = {keys, values, std::chrono::steady_clock::now(), list.value()};
    }
    return list;
}

}  // namespace plat::registry
