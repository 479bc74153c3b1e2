#pragma once
// One simulated printer: its model, its state, the bytes it has received, and what it answers. It
// knows nothing of sockets; the server calls it from its one serving thread.
//
// What it answers, as a printer of its family would:
// - before the status-enable command nothing; after it, every open of the port finds the current
//   status reply waiting (once per open), after any query reply still waiting;
// - query replies (option card, ink, extended) become readable a short moment after the query, as a
//   real printer needs time to answer, so a purge right after the query does not lose them;
// - the device ID on request, unless the printer sleeps (until the wake-up bytes) or is silent.

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "facts/models.h"

namespace vprinter {

// The models as the system knows them: family, model number, what is fitted.
using facts::Family;
using facts::Model;

const Model* findModel(std::string_view shortName);
std::vector<std::string> modelNames();

using Clock = std::chrono::steady_clock;

// The families a control command is for, as bits.
inline constexpr unsigned kPageOnly = 1u << static_cast<unsigned>(Family::Page);
inline constexpr unsigned kImpactOnly = 1u << static_cast<unsigned>(Family::Impact);
inline constexpr unsigned kInkjetOnly = 1u << static_cast<unsigned>(Family::Inkjet);
inline constexpr unsigned kEveryFamily = kPageOnly | kImpactOnly | kInkjetOnly;

// A control command as help lists it. Its name's dash may also be given as a blank ("paper out").
struct CommandInfo {
    std::string_view name;
    std::string_view arguments;  // as help writes them; empty when it takes none
    unsigned families;           // the printers that take it; the others refuse it
    std::string_view help;
};
// Every control command of a printer, in the order help lists them.
std::vector<CommandInfo> controlCommands();
// The commands as help lists them, a line each: name, arguments, what it does, and for which families.
std::string controlHelp();

// What a control command answers: its text, and whether it was taken (nothing changed when not).
struct ControlAnswer {
    bool ok = false;
    std::string text;
};

// A reply the host can read from `readyAt` on.
struct Pending {
    std::string bytes;
    Clock::time_point readyAt;
};

class Printer {
public:
    Printer(std::string port, const Model& model, std::optional<std::string> deviceId);

    const std::string& port() const { return m_port; }
    const Model& model() const { return m_model; }

    // The host wrote bytes: log them and act on the commands in them.
    void receive(std::string_view bytes);
    // What a read on an open session gets now (empty when nothing is waiting); `statusTaken` is the
    // session's flag for the once-per-open status reply.
    std::string take(std::size_t max, bool& statusTaken);
    // When the next waiting reply becomes readable, if any is waiting.
    std::optional<Clock::time_point> nextReadyAt() const;
    void purge();
    std::string deviceId() const;

    // Faults the server applies.
    bool refusesOpen() const { return m_noOpen || m_unplugged; }
    bool silent() const { return m_silent; }
    bool unplugged() const { return m_unplugged; }
    Clock::time_point busyUntil() const { return m_busyUntil; }
    std::chrono::milliseconds slowBy() const { return m_slow; }

    // A control command of controlCommands() ("paper-out", "ink black=5 color=40", "reply TEXT", "log",
    // ...). Returns the text answer; `ok` false (and nothing changed) for a bad command.
    std::string control(const std::vector<std::string>& words, bool& ok);

    // The status reply for the current state.
    std::string statusReply() const;
    // The reply to the option-card query: empty for a printer without card slots, which does not
    // answer that query.
    std::string optionCardReply() const;

private:
    // A row of the command table: what help says of it, and what it does with its arguments.
    struct Command {
        CommandInfo info;
        ControlAnswer (*run)(Printer& printer, const std::vector<std::string>& args);
    };
    static std::span<const Command> commandTable();
    friend std::vector<CommandInfo> controlCommands();

    void actOnRemoteCommands(std::string_view bytes);
    void queue(std::string reply);
    std::string logText() const;

    // Commands that share their shape.
    ControlAnswer setReady(const std::vector<std::string>& args, std::string_view state);
    ControlAnswer setError(const std::vector<std::string>& args, int pageCode, std::string_view error);
    ControlAnswer setToner(const std::vector<std::string>& args, int pageCode, int level);
    ControlAnswer setFault(const std::vector<std::string>& args, void (*change)(Printer&));
    void setState(std::string state, std::string error = {}, std::string test = {});

    std::string m_port;
    const Model& m_model;
    std::string m_deviceId;

    // State shown in the status reply.
    bool m_statusEnabled = false;
    std::optional<std::string> m_rawReply;  // "reply TEXT": verbatim from then on
    int m_pageCode = 1000;
    int m_toner = 80, m_photoconductor = 90, m_tray = 100;
    int m_cassette[3] = {100, 100, 100};
    int m_traySize = 14, m_cassetteSize[3] = {14, 14, 13};  // A4, A4, A3
    int m_duplex = 1, m_cards[2] = {0x00, 0xFF}, m_interfaces = 0, m_memoryMb = 16;
    std::string m_state = "04", m_error, m_test;
    int m_black = 80, m_color = 70;
    std::vector<std::string> m_warnings;
    std::string m_bins[3] = {"0300", "0300", "0300"};  // A4 portrait
    int m_paperWidth = 4896;                           // 13.6 inches in 1/360 inch
    std::string m_tractor = "0000";
    int m_gapByte = 1;
    std::string m_cardNames[2] = {"KESTREL-IC", ""};

    // Faults.
    bool m_silent = false, m_noOpen = false, m_unplugged = false, m_asleep = false;
    Clock::time_point m_busyUntil{};
    std::chrono::milliseconds m_slow{0};
    std::chrono::milliseconds m_answerDelay{50};

    std::deque<Pending> m_pending;
    // What the host wrote, the most recent writes (kLogBytes, and the latest whatever its size);
    // m_logFirst numbers the oldest kept.
    std::deque<std::string> m_log;
    std::size_t m_logBytes = 0, m_logFirst = 0;
    int m_headActions = 0;
    int m_gapSettings = 0;  // gap commands received
    int m_gapSetting = 5;   // the print-head gap setting in use
};

// The bytes of the writes a printer keeps for "log": a simulator that prints jobs for weeks must
// not keep them all.
inline constexpr std::size_t kLogBytes = 1 << 20;

// The range of the gap setting an IJ-09 accepts.
inline constexpr int kGapSettingMin = 1, kGapSettingMax = 9;

// C-style escapes in control texts: \r \n \t \\ \xHH.
std::string unescape(std::string_view text);

}  // namespace vprinter
