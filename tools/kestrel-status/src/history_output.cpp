#include "history_output.h"

#include <QDateTime>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "history_model.h"
#include "plat/base/system_root.h"
#include "resources/language.h"
#include "status_history.h"

namespace kestrel_status {

namespace {

using kestrel::history::Change;
using kestrel::history::Clock;

constexpr const char* kHelp = R"(kestrel-status --history - the printers' recorded status changes

Usage:
  kestrel-status --history [PRINTER] [--since TIME] [--limit N] [--json]

Prints the status changes the detail programs recorded, newest first: every printer's, or PRINTER's
only. Each printer keeps its last 1000 changes of the last 90 days; a printer no longer in the
spooler keeps its changes until they age out.

--since TIME  only changes from TIME on: an RFC 3339 time (2026-12-01T08:00:00Z,
              2026-12-01T17:00:00+09:00), a local date or time (2026-12-01, 2026-12-01T08:00), or an
              age: a number and s, m, h or d (30m, 7d)
--limit N     only the newest N changes (1 to 1000000)
--json        print {"changes": [...]} on one line instead of the table

Each change in JSON:
  {"time": "2026-12-09T11:30:05.120+09:00", "printer": "Office", "model": 3, "level": 2,
   "message": 26, "message_text": "...", "state": "stopped", "reasons": ["cover-open"]}
"state" is idle, printing, warning, stopped, unreachable or not-monitored; "reasons" are IPP
printer-state-reasons keywords; "level" is 0 normal, 1 warning, 2 error; "message" the row of the
model's status message table, "message_text" its text in the locale's language (null when unknown).
The keywords never change with the language.

Exit status: 0 printed (nothing recorded is an empty list); 1 the history cannot be read; 2 usage
error.
)";

struct Options {
    std::optional<std::string> printer;
    std::optional<Clock::time_point> since;
    std::size_t limit = 0;
    bool json = false;
};

int usage(const std::string& why)
{
    std::fprintf(stderr, "kestrel-status: %s Type \"kestrel-status --history --help\" for usage.\n", why.c_str());
    return 2;
}

// An age ("7d") before now, or a time as RFC 3339 or a local ISO date and time.
std::optional<Clock::time_point> parseTime(const std::string& text, Clock::time_point now)
{
    if (text.size() >= 2 && text.size() <= 12) {
        const char unit = text.back();
        const std::string digits = text.substr(0, text.size() - 1);
        if (std::strchr("smhd", unit) != nullptr && digits.find_first_not_of("0123456789") == std::string::npos) {
            const long long n = std::stoll(digits);
            const long long seconds = unit == 's' ? 1 : unit == 'm' ? 60 : unit == 'h' ? 3600 : 86400;
            if (n > 100LL * 365 * 86400 / seconds) return std::nullopt;
            return now - std::chrono::seconds(n * seconds);
        }
    }
    QDateTime time = QDateTime::fromString(QString::fromStdString(text), Qt::ISODateWithMs);
    if (!time.isValid()) return std::nullopt;
    return Clock::time_point(std::chrono::milliseconds(time.toMSecsSinceEpoch()));
}

std::optional<Options> parse(int argc, char** argv, std::string& why)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--history") continue;
        if (arg == "--json") {
            options.json = true;
        } else if (arg == "--since" || arg == "--limit") {
            if (i + 1 >= argc) {
                why = arg + " needs a value.";
                return std::nullopt;
            }
            const std::string value = argv[++i];
            if (arg == "--since") {
                options.since = parseTime(value, Clock::now());
                if (!options.since) {
                    why = "\"" + value + "\" is not a time.";
                    return std::nullopt;
                }
            } else {
                if (value.empty() || value.size() > 7 || value.find_first_not_of("0123456789") != std::string::npos ||
                    std::stol(value) < 1) {
                    why = "--limit takes a number from 1 to 1000000.";
                    return std::nullopt;
                }
                options.limit = static_cast<std::size_t>(std::stol(value));
            }
        } else if (arg.size() > 1 && arg[0] == '-') {
            why = "Unknown option \"" + arg + "\" with --history.";
            return std::nullopt;
        } else if (options.printer) {
            why = "Unexpected argument \"" + arg + "\": one printer at most.";
            return std::nullopt;
        } else {
            options.printer = arg;
        }
    }
    return options;
}

QDateTime localTime(Clock::time_point time)
{
    return QDateTime::fromMSecsSinceEpoch(
        std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count());
}

std::string joined(const std::vector<std::string>& words, const char* separator)
{
    std::string out;
    for (const std::string& word : words) out += (out.empty() ? "" : separator) + word;
    return out;
}

void printJson(const std::vector<Change>& changes)
{
    nlohmann::json list = nlohmann::json::array();
    for (const Change& change : changes) {
        const QString text = kestrel::history::messageText(change.model, change.message);
        nlohmann::json item = {
            {"time", localTime(change.time)
                         .toOffsetFromUtc(localTime(change.time).offsetFromUtc())
                         .toString(Qt::ISODateWithMs)
                         .toStdString()},
            {"printer", change.printer},
            {"model", change.model},
            {"level", change.level},
            {"message", change.message},
            {"message_text", nullptr},
            {"state", change.state},
            {"reasons", change.reasons},
        };
        if (text != QString::number(change.message)) item["message_text"] = text.toStdString();
        list.push_back(std::move(item));
    }
    std::printf(
        "%s\n",
        nlohmann::json{{"changes", list}}.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
}

void printTable(const std::vector<Change>& changes)
{
    using kestrel::history::columnHead;
    auto head = [](int column) { return columnHead(column).toUpper().toStdString(); };
    std::printf("%-19s  %-16s  %-13s  %s  %s  %s\n", head(0).c_str(), head(5).c_str(), head(1).c_str(), head(2).c_str(),
                head(4).c_str(), head(3).c_str());
    for (const Change& change : changes) {
        const std::string reasons = change.reasons.empty() ? "-" : joined(change.reasons, ",");
        std::printf("%-19s  %-16s  %-13s  %d  %s  %s\n",
                    localTime(change.time).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toStdString().c_str(),
                    change.printer.c_str(), change.state.c_str(), change.level, reasons.c_str(),
                    kestrel::history::messageText(change.model, change.message).toStdString().c_str());
    }
}

}  // namespace

bool asksForHistory(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--history") == 0) return true;
    return false;
}

int printHistory(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kHelp, stdout);
            return 0;
        }
    }
    std::string why;
    const std::optional<Options> options = parse(argc, argv, why);
    if (!options) return usage(why);
    kestrel::useLanguage(kestrel::languageFromEnvironment());

    using kestrel::history::HistoryStore;
    auto store = HistoryStore::open(kestrel::history::historyFile(plat::systemRoot()), HistoryStore::Access::ReadOnly);
    if (!store) {
        std::fprintf(stderr, "kestrel-status: %s\n", store.error().detail.c_str());
        return 1;
    }
    kestrel::history::Query query;
    query.printer = options->printer;
    query.since = options->since;
    query.limit = options->limit;
    auto changes = store.value()->changes(query);
    if (!changes) {
        std::fprintf(stderr, "kestrel-status: %s\n", changes.error().detail.c_str());
        return 1;
    }
    if (options->json) printJson(changes.value());
    else printTable(changes.value());
    return 0;
}

}  // namespace kestrel_status
