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

    // A control command ("paper-out", "ink black=5 color=40", "reply TEXT", "log", ...). Returns the
    // text answer; `ok` false (and nothing changed) for a bad command.
    std::string control(const std::vector<std::string>& words, bool& ok);

    // The status reply for the current state.
    std::string statusReply() const;
    // The reply to the option-card query: empty for a printer without card slots, which does not
    // answer that query.
    std::string optionCardReply() const;

private:
    void actOnRemoteCommands(std::string_view bytes);
    void queue(std::string reply);

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
    std::vector<std::string> m_log;
    int m_headActions = 0;
    int m_gapSettings = 0;  // gap commands received
    int m_gapSetting = 5;   // the print-head gap setting in use
};

// The range of the gap setting an IJ-09 accepts.
inline constexpr int kGapSettingMin = 1, kGapSettingMax = 9;

// C-style escapes in control texts: \r \n \t \\ \xHH.
std::string unescape(std::string_view text);

}  // namespace vprinter
