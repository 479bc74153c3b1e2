#pragma once
// The history of the printers' status changes: what each detail program saw change, when, kept in a
// SQLite database of its own under the system root (history.db), apart from the registry store so
// that neither one's writers wait on the other's.
//
// Bounded: each printer keeps at most its newest Limits::changesPerPrinter changes, and no change
// older than Limits::age, whichever leaves fewer; a printer gone from the spooler keeps its changes
// until they age out. A change that repeats the printer's newest one is not written, so a printer
// whose status stands still writes nothing: the database is in WAL mode and a commit does not sync
// the disk (a checkpoint does), so an idle system never wakes it.
//
// Besides the changes, a counter per printer and reason counts how often the reason came up (was in
// a change and not in the printer's change before). It never goes down while the printer has
// history; it goes when the printer's last change ages out.
//
// Threads: a HistoryStore is used by one thread at a time. Any number of processes may open the same
// file; a writer waits up to a few seconds for another's transaction, so a program records from a
// thread that may wait (never a window's).

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "plat/base/result.h"

namespace kestrel::history {

using Clock = std::chrono::system_clock;

// One status change of one printer.
struct Change {
    Clock::time_point time;  // kept to the millisecond
    std::string printer;
    int model = -1;  // the model number, for the message texts; -1 unknown
    int level = 0;   // 0 normal, 1 warning, 2 error
    int message = 0;
    std::string state;                 // the state keyword (facts/state_keywords.h)
    std::vector<std::string> reasons;  // printer-state-reasons keywords, sorted
    bool operator==(const Change&) const = default;
};

struct Limits {
    std::size_t changesPerPrinter = 1000;
    std::chrono::hours age{24 * 90};
};

struct Query {
    std::optional<std::string> printer;      // every printer when empty
    std::optional<Clock::time_point> since;  // from this time on (inclusive)
    std::size_t limit = 0;                   // the newest this many; 0 all
};

struct AlertCount {
    std::string printer, reason;
    std::uint64_t count = 0;
    bool operator==(const AlertCount&) const = default;
};

// Where the history lives in a system root.
std::filesystem::path historyFile(const std::filesystem::path& root);

class HistoryStore {
public:
    enum class Access { ReadWrite, ReadOnly };

    // ReadWrite makes the file (mode 0600) and its tables when missing and prunes what aged out by
    // `now`. ReadOnly writes nothing: a missing file is an empty history, not an error.
    static plat::Result<std::unique_ptr<HistoryStore>> open(const std::filesystem::path& file, Access access,
                                                            Limits limits = {}, Clock::time_point now = Clock::now());
    ~HistoryStore();
    HistoryStore(const HistoryStore&) = delete;
    HistoryStore& operator=(const HistoryStore&) = delete;

    // Adds `change` unless it repeats the printer's newest one (time aside), counts the reasons that
    // came up, and prunes with change.time as the present. True when it was added.
    plat::Result<bool> record(const Change& change);
    // The changes `query` asks for, newest first.
    plat::Result<std::vector<Change>> changes(const Query& query) const;
    // Every counter above 0, by printer and reason.
    plat::Result<std::vector<AlertCount>> alertCounts() const;
    // Removes the changes beyond the limits at `now`, and the counters of printers left without one.
    plat::Result<bool> prune(Clock::time_point now);

    const Limits& limits() const { return m_limits; }

private:
    struct Db;
    HistoryStore(std::unique_ptr<Db> db, Limits limits);
    std::unique_ptr<Db> m_db;  // null: a read-only history whose file does not exist
    Limits m_limits;
};

}  // namespace kestrel::history
