#pragma once
// What kestrel-status reports, read at one moment: the list program's run flag, the spooler's printers
// in the list's order and, per printer, what the list and the detail window show, in the locale's
// language and as language-free keywords. Every output (table, JSON, Prometheus) is written from one
// Snapshot; nothing here writes, starts or changes anything.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "plat/services/services.h"

namespace kestrel_status {

// The state keywords, in the order the outputs list them.
inline constexpr const char* kStates[] = {"idle", "printing", "warning", "stopped", "unreachable", "not-monitored"};

// A consumable the printer reports.
struct Supply {
    std::string name;                 // "toner", "photoconductor", "black-ink", "color-ink"
    std::string kind;                 // "toner", "photoconductor", "ink"
    std::string color;                // "black", "color"
    std::optional<int> levelPercent;  // 0..100; nothing when the printer does not say
    bool low = false;
};

// A paper source the printer reports.
struct PaperSource {
    std::string source;               // "tray", "cassette-1".., "tractor", "bin-1"..,  "manual-feed"
    std::optional<std::string> size;  // the paper's English name ("A4"); nothing when not known
    std::optional<int> levelPercent;  // page printers' trays and cassettes; nothing when not reported
};

// A print scheduler's own view of a queue we do not monitor (CUPS), read only.
struct SchedulerView {
    std::string state;  // "idle", "processing", "stopped"
    std::vector<std::string> reasons;
    struct Marker {
        std::string name, type, color;
        std::optional<int> levelPercent;
    };
    std::vector<Marker> markers;
};

// One printer as the list and its status page show it; nothing for a value the list leaves empty.
struct Printer {
    std::string name;
    int row = 0;
    std::optional<int> slot;
    std::string monitoring;                // the list's monitoring column
    std::optional<std::string> stateText;  // the list's printer-state column
    std::optional<long> jobs;
    std::optional<long> level;
    std::optional<std::string> message, action, explanation;
    std::optional<long> alert;
    bool network = false;
    std::string port;
    std::optional<std::string> captured;

    // Language-free.
    std::string state = "not-monitored";  // one of kStates
    bool monitored = false;               // its detail program monitors it
    bool up = false;                      // monitored and answering
    std::vector<std::string> reasons;     // printer-state-reasons keywords, sorted
    std::vector<Supply> supplies;
    std::vector<PaperSource> paper;
    std::optional<std::int64_t> changed;  // when its status last changed, seconds since 1970 (UTC)
    std::optional<SchedulerView> scheduler;
};

struct Snapshot {
    std::uint32_t listRunning = 0;
    const char* spooler = "";  // which spooler serves: "CUPS" or "embedded"
    std::vector<Printer> printers;
};

// The services the reads go through (handed to the library too), opened once the root has a store:
// without one nothing has run in this root, and opening it would make one, while this program makes
// nothing.
class Reader {
public:
    plat::Services* services();

private:
    std::unique_ptr<plat::Services> m_services;
};

// Everything at one moment; nothing when the spooler's printers cannot be read.
std::optional<Snapshot> read(Reader& reader);

}  // namespace kestrel_status
