#pragma once
// The detail program's work off its window's thread. The Panel, its two timers and every slot, store,
// engine and process call it makes run on a worker the program owns; the driver-configuration
// updates, which wait on the spooler, run on a second one (DriverConfigQueue), so a scheduler that
// stops answering never holds up the printer's own status. The window posts the user's actions here
// and never waits for them; what the panel decides reaches the window as queued calls on its
// PanelDisplay, in the order the panel made them, each after a copy of what the panel held then.
//
// Threads: everything public is for the window's thread; panel() only before start().

#include <QObject>
#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "alerts.h"
#include "driver_config_queue.h"
#include "notifications.h"
#include "panel.h"
#include "plat/gui/worker.h"

class QTimer;
namespace plat {
class Heartbeat;
}

namespace watchpanel {

// What the window shows of the panel: the slot's record as the panel last read it, and its result
// blocks. The window never reads the slot itself, so it never shares a lock with the panel's thread.
struct PanelState {
    PrinterEntry entry{};
    std::array<std::int32_t, kPaperWords> paper{};
    std::array<std::int32_t, kInformationWords> information{};
    int informationCategories = 0;
};

// The window's side of PanelView, called on the window's thread.
class PanelDisplay {
public:
    virtual ~PanelDisplay() = default;
    // What the panel held when it made the call that follows: comes before each of the calls below.
    virtual void follow(const PanelState& state) = 0;
    virtual void redraw(const PrinterEntry& entry) = 0;
    virtual void selectStatusPage() = 0;
    // The printer's stored settings. `putIntoEffect`: the panel loaded them (the first tick, each
    // show) and the settings page takes them now; otherwise they were only read ahead, at the start.
    virtual void settingsLoaded(const DetailSettings& settings, bool putIntoEffect) = 0;
    // The settings handed to applySettings() could not be stored.
    virtual void settingsNotStored() = 0;
    virtual void playAlert(const std::string& path) = 0;
    virtual void updateTray(const PrinterEntry& entry) = 0;
    virtual void showWindow(bool activate) = 0;
    virtual void hideWindow() = 0;
    virtual void bringToFront() = 0;
    // The connection is checked, the engine started and the timers run.
    virtual void started() = 0;
    // The program is to end: 0 on the list program's close request, 1 when the panel could not start
    // (the slot then says why, as far as it could be written).
    virtual void finished(int exitCode) = 0;
};

// Makes the notification service on the thread that is to use it.
using NotificationsMaker = std::function<std::unique_ptr<NotificationService>()>;

class PanelThread {
public:
    // `display` is called on the thread of `displayObject`, which must outlive this (stop() first).
    // The status changes go to the history in `historyFile`, written on a worker of their own; none
    // with an empty path. `notifications` makes the desktop's notification service, on a third worker of
    // its own: the service's answers, which may be slow or never come, hold up nothing else; none when empty.
    PanelThread(int slot, PanelDisplay& display, QObject* displayObject, std::filesystem::path historyFile = {},
                NotificationsMaker notifications = {});
    // stop()
    ~PanelThread();
    PanelThread(const PanelThread&) = delete;
    PanelThread& operator=(const PanelThread&) = delete;

    // Before start() only, on the window's thread: the panel, to attach it to its slot and read it.
    // engineReady() may be read at any time.
    Panel& panel() { return m_panel; }

    // Before start() only: the process's heartbeat, which the panel's worker then beats; the status tick
    // rides its beats when the status interval is a multiple of the beat (one wake-up for all).
    void beatWith(plat::Heartbeat& heartbeat) { m_heartbeat = &heartbeat; }

    // Hands the panel to its worker: the program's files in the root, the connection check, the
    // engine start and the timers run there; then started() or finished(1).
    void start();

    // Runs `action` with the panel on its worker, after everything posted before it.
    void post(std::function<void(Panel&)> action);
    // The tray icon from the slot's record as it is once what was posted before has run.
    void refreshTray();
    // Loads the stored settings and puts them into effect, as a show does.
    void loadSettings();
    // The settings the user applied: the alert rule follows them from now on; they are stored, and
    // settingsNotStored() says when the store refuses them.
    void applySettings(DetailSettings settings);
    // Whether the spooler lists `printer`: `answer` gets it on the window's thread, after the
    // spooler's time-outs at worst.
    void askSpooler(std::string printer, std::function<void(bool)> answer);
    // The timers stop: the panel does nothing more by itself.
    void stopTimers();
    // Stops the timers, runs the panel's shutdown on its worker and waits for the workers: the engine
    // is stopped, the last driver-configuration update written and the printer's notification taken
    // down (waiting a second at most for the service) when it returns. What the panel still sends the
    // window is dropped. The window's one wait, at its end.
    void stop();

private:
    class QueuedView;
    class HistoryRecorder;

    // Worker thread.
    void send(std::function<void(PanelDisplay&)> call);
    void begin();
    void readSettings(bool putIntoEffect);
    // The settings the rules follow from now on.
    void followSettings(const DetailSettings& settings);
    // The printer's notification, on the notification worker.
    DesktopNotifier* notifier();  // made at the first notice; null without a service
    void showNotice(const Notice& notice);
    void closeNotice();
    void stopTimersHere();

    PanelDisplay& m_display;
    QObject* m_displayObject;
    plat::gui::Worker m_spoolWorker;  // the driver-configuration updates and other spooler reads
    DriverConfigQueue m_driverConfig;
    std::unique_ptr<QueuedView> m_view;
    plat::gui::Worker m_historyWorker;  // the history's writes: a busy database never holds up the panel
    std::unique_ptr<HistoryRecorder> m_history;
    Panel m_panel;                    // the panel worker's, once started
    plat::gui::Worker m_worker;       // the panel's: its timers, the slot, the store, the engine
    QTimer* m_statusTimer = nullptr;  // on the panel worker, children of its context
    QTimer* m_driverTimer = nullptr;
    QTimer* m_beatTimer = nullptr;   // when there is a heartbeat
    std::uint64_t m_statusBeat = 0;  // the status tick's check on the heartbeat, 0 when it has a timer
    std::chrono::steady_clock::time_point m_statusDue;  // of the next status tick on the heartbeat
    plat::Heartbeat* m_heartbeat = nullptr;             // beaten by the panel worker when given
    NotificationsMaker m_makeNotifications;             // until the notifier is made
    plat::gui::Worker m_notifyWorker;                   // the desktop's notifications
    std::unique_ptr<DesktopNotifier> m_notifier;        // the notification worker's, made and ended there
    bool m_stopped = false;                             // window thread
};

}  // namespace watchpanel
