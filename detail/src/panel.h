#pragma once
// The detail program's state and rules, without a window: attaching to the printer's slot, starting and
// restarting the engine, the status timer's tick (readiness, the printer status flag, the retry rule,
// the display rules, the status refresh) and the shutdown order. What the user sees goes through
// PanelView, and the driver-configuration updates through DriverConfigSink; the program puts a queued
// proxy of its window and a queue on a thread of its own behind them (panel_thread.h), tests may fake
// them.
//
// Threads: a Panel is used by one thread at a time (the program's panel worker once started);
// engineReady() may be read from any thread.

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "alerts.h"
#include "facts/models.h"
#include "printer_entry.h"
#include "status_history.h"
#include "watchpanel/status_page.h"

namespace watchpanel {

// What the user sees. The program's implementation queues each call to its window, in order.
class PanelView {
public:
    virtual ~PanelView() = default;
    // Redraws the status page for `entry` (picture, texts, paper, levels).
    virtual void redraw(const PrinterEntry& entry) = 0;
    // Selects tab 0 and the status page, its paper rows set up for the current paper block.
    virtual void selectStatusPage() = 0;
    // Loads the settings page's values from the store and puts them into effect (the entry's copies of
    // them before this returns).
    virtual void loadSettings() = 0;
    // The settings as last loaded or applied; the alert rule follows them.
    virtual const DetailSettings& settings() const = 0;
    // Plays the sound of an alert that just came up.
    virtual void playAlert(const std::string& path) = 0;
    // The desktop's notification follows the entry's status; `alertFired` when the alert rule let its
    // alert through just now.
    virtual void notifyDesktop(const PrinterEntry& entry, bool alertFired) = 0;
    // The tray icon follows the entry: its status level and message.
    virtual void updateTray(const PrinterEntry& entry) = 0;
    // Shows the window; `activate` when the user asked for it (the window then takes the focus).
    virtual void showWindow(bool activate) = 0;
    virtual void hideWindow() = 0;
    virtual void bringToFront() = 0;
    // Opens the printer's job window, as the tools page's button does: the list program asked for it.
    virtual void openJobWindow() = 0;
    // Ends the program's main window; the program then ends.
    virtual void end() = 0;
};

// What a driver-configuration update (fUpDateDriverConfig) is given: copies of the panel's state, so
// that it can run on another thread while the panel goes on.
struct DriverConfigRequest {
    PrinterEntry entry{};
    std::array<std::int32_t, kPaperWords> paper{};
    std::array<std::int32_t, kInformationWords> information{};
    std::array<char, 1024> lastReply{};
    std::array<std::intptr_t, 2> driverBlock{};
    std::uint32_t mode = 0;  // 0 after a changed status, 1 on the driver-configuration timer, 2 at the end
};

// Where the panel sends its driver-configuration updates: they list the spooler's printers and set
// their printer data, which may wait seconds for the spooler, so the program runs them elsewhere.
class DriverConfigSink {
public:
    virtual ~DriverConfigSink() = default;
    virtual void update(const DriverConfigRequest& request) = 0;
};

// Where the panel sends each status change it shows, for the printer's history: called on the panel's
// thread, so it hands the change on rather than waiting for a database.
class StatusRecorder {
public:
    virtual ~StatusRecorder() = default;
    virtual void record(const kestrel::history::Change& change) = 0;
};

// The slot's record, read and written whole. A write keeps what the list program requested since the
// read it started from (`base`): a request field left as it was in `base` takes the slot's current
// value.
class EntryAccess {
public:
    EntryAccess() = default;
    ~EntryAccess() { detach(); }
    EntryAccess(const EntryAccess&) = delete;
    EntryAccess& operator=(const EntryAccess&) = delete;

    bool attach(int slot);
    void detach();
    bool attached() const { return m_view != nullptr; }

    bool read(PrinterEntry& entry);
    // Writes `entry`, changed from `base`, keeping the fields the list program changed meanwhile;
    // `entry` then holds the record as written.
    bool write(const PrinterEntry& base, PrinterEntry& entry);

private:
    intptr_t m_mapping = 0;
    void* m_view = nullptr;
};

class Panel {
public:
    // `recorder` (optional) gets the status changes.
    Panel(int slot, PanelView& view, DriverConfigSink& driverConfig, StatusRecorder* recorder = nullptr)
        : m_slot(slot), m_view(view), m_driverConfig(driverConfig), m_recorder(recorder)
    {
    }
    ~Panel();
    Panel(const Panel&) = delete;
    Panel& operator=(const Panel&) = delete;

    // Main dialog set-up, before and after the pages exist. False ends the program; the entry then
    // reports why as far as it can be written.
    bool attach();
    bool checkConnection();
    // Tells the list program that this printer cannot be monitored.
    void failInitialisation();
    // Sets the entry's detail fields, presets the paper rows and starts the engine; on failure copies
    // the engine's verdict into the entry.
    bool start();

    // The status timer and the driver-configuration timer.
    void statusTick();
    void driverConfigTick();

    // The status page was selected: redraw it from the entry at once.
    void redrawNow();
    // The user pressed "閉じる", Esc or the window's close button: hide, keep running.
    void closePressed();
    // A tray double-click: bring the window up through the open rules.
    void foregroundRequested();
    // Reads the entry, lets `change` edit a copy and writes it back when it changed.
    bool update(const std::function<void(PrinterEntry&)>& change);

    // Runs the shutdown order once; the destructor runs it when nobody did.
    void shutdown();

    // What the window shows, read through these.
    const std::string& printerName() const { return m_printer; }
    // The family the window is laid out for: the entry's, or when that is out of range the model's.
    facts::Family family() const { return m_family; }
    const PrinterEntry& lastEntry() const { return m_entry; }
    const std::int32_t* paper() const { return m_paper; }
    const std::int32_t* information() const { return m_information; }
    int informationCategories() const { return m_informationCategories; }
    bool engineReady() const { return m_engineReady.load(); }
    bool shown() const { return m_shown; }
    int explanation() const { return m_driverBlock[1]; }
    // The status page redraw reports the explanation of the message it showed.
    void setExplanation(int number) { m_driverBlock[1] = number; }
    // Reads the entry into lastEntry(); false when the slot cannot be read. Within a status tick the
    // entry read at its start, with this program's writes since, stands for it: one read per tick.
    bool readEntry();

private:
    // Writes `entry`, changed from `base`; lastEntry() becomes the record as written.
    bool write(const PrinterEntry& base, PrinterEntry entry);
    void startEngine(const PrinterEntry& entry);
    void clearStoreFlags();
    bool exitRequested();
    bool refresh();
    void applyPrinterStatusFlag();
    std::optional<std::uint32_t> engineFlag() const;
    // Reports the engine's flag to the list program when it is a verdict on the printer (3, 5, 6).
    bool reportEngineVerdict(std::optional<std::uint32_t> flag);
    void applyRetryRule();
    void applyDisplayRules();
    void applyOpenRules(bool forced);
    void serveJobWindowRequest();
    void report(std::uint32_t state);
    void showAtTabZero(bool activate);
    void updateDriverConfig(const PrinterEntry& entry, std::uint32_t mode);
    void recordStatus(const PrinterEntry& entry);

    int m_slot;
    PanelView& m_view;
    DriverConfigSink& m_driverConfig;
    StatusRecorder* m_recorder;
    // A status came from the printer or its failure: the preset one of the start is not recorded.
    bool m_statusSeen = false;
    std::optional<kestrel::history::Change> m_lastRecorded;
    facts::Family m_family = facts::Family::Page;
    EntryAccess m_access;
    PrinterEntry m_entry{};
    std::string m_printer;
    std::int32_t m_paper[kPaperWords] = {};
    std::int32_t m_information[kInformationWords] = {};
    char m_lastReply[1024] = {};
    std::intptr_t m_driverBlock[2] = {};  // heap, explanation string; opaque to the driver update
    int m_informationCategories = 0;
    AlertRule m_alertRule;
    OpenRules m_openRules;
    bool m_engineStarted = false, m_firstRefreshDone = false;
    std::atomic<bool> m_engineReady{false};
    bool m_shown = false, m_inDisplayRules = false, m_ended = false, m_shutDown = false;
    bool m_entryReadThisTick = false;
};

// The engine's connection kind for the entry's port.
std::uint32_t connectionKind(const PrinterEntry& entry);

}  // namespace watchpanel
