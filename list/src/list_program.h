#pragma once
// The list program's controller: the run and exit flags, the three timers, the rebuild that runs
// discovery, the row polling between rebuilds, the commands of the window, and the closing path that
// ends every detail program first.
//
// Threads: the window's thread only keeps time, shows and decides; everything that touches the store,
// the spooler, the slots or a process runs on one worker thread the program owns, in the order it was
// asked for: the flags, the environment, each tick's polling, the rebuild, the requests to the detail
// programs and the stop procedure (up to 15 s a detail program). The worker keeps its own copy of the
// items, polls it and sends back the items that changed; the window's copy takes them by row, whatever
// its sort order. One thread for all of it, the rebuild included, keeps a tick's polling from ever
// meeting a rebuild's slots and lets the close simply come after a rebuild still running.

#include <QObject>
#include <QTimer>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "detail_programs.h"
#include "list_rows.h"
#include "plat/gui/worker.h"
#include "plat/services/services.h"
#include "restart_plan.h"
#include "row_poller.h"
#include "watchlist/slot_table.h"

namespace watchlist {

class ListWindow;
class BridgeRunner;

class ListProgram : public QObject {
    Q_OBJECT
public:
    // `programDirectory` holds watchpanel.exe. `quiet`: started with /d (no initialising dialog at the
    // first build, a pending exit request is honoured). `services` must outlive the program.
    ListProgram(plat::Services& services, std::string programDirectory, bool quiet);
    // Ends the worker after the jobs it was given; a program that was never closed takes its despooler
    // values back there.
    ~ListProgram() override;

    // Creates the window, starts the first rebuild and the timers; the window shows once its stored
    // environment is read. False when the window cannot be made.
    bool start();

    ListWindow* window() const { return m_window.get(); }
    // The items as the window shows them.
    const ListRows& items() const { return m_items; }
    bool building() const { return m_building; }

public slots:
    // The close path: every detail program is asked to close (and ended after its wait), then the
    // window's environment is stored, the slots closed and ended() emitted.
    void close();

signals:
    void ended();

private:
    // What one tick's polling found, sent from the worker to the window's thread.
    struct Polled {
        int timer = 0;
        int generation = 0;  // of the build whose items were polled
        bool exitRequested = false;
        bool rebuildAsked = false;
        std::vector<std::pair<ListRows::Item, Row>> changed;
    };

    // The window's thread.
    void showWindow();
    void rebuild(bool stopDetailsFirst);
    void tick(int timer);
    void finishBuild();
    void applyPolled(const Polled& polled);
    void finishClose();
    void forSelected(const std::vector<int>& positions, bool (*request)(void*));

    // The worker.
    Polled poll(int timer, bool building, const std::vector<int>& order);
    void watchDetailPrograms();
    void restartDue();
    void watchSpooler();
    std::uint64_t spoolerChangeCount();
    void rememberSent();
    std::vector<std::pair<ListRows::Item, Row>> changesToSend();

    plat::Services& m_services;
    const std::string m_programDirectory;

    // The window's thread only.
    bool m_quiet;
    ListRows m_items;
    std::unique_ptr<ListWindow> m_window;
    QTimer m_timers[3];
    bool m_shown = false;
    bool m_building = false, m_closing = false;
    bool m_ticking[3] = {};        // a tick of that timer is still with the worker
    std::optional<Build> m_built;  // the rebuild's result, taken up by the next tick
    int m_builtGeneration = 0;
    int m_generation = 0;  // of the items shown

    // The worker only.
    SlotTable m_slots;
    DetailPrograms m_programs;
    RestartPlan m_restarts;  // detail programs that ended on their own, until the next rebuild
    ListRows m_polled;
    RowPoller m_poller;
    bool m_rebuildAsked = false;  // by the poller, until the rebuild runs
    int m_pollGeneration = 0;
    std::map<int, std::pair<ListRows::Item, Row>> m_sent;  // by row: what the window's copy holds
    std::uint64_t m_spoolerChanges = 0;
    // With CUPS: the despooler bridge for queues on the velta backend, until the list ends.
    std::unique_ptr<BridgeRunner> m_bridge;

    // Last, so that it ends before anything its jobs use.
    plat::gui::Worker m_worker{"watchlist-work"};
};

// Deletes the files "ksw*.lnk" and "ksw*.tmp" (case ignored) that detail programs leave in `directory`,
// once they are a minute old: a younger shortcut may not have reached its queue window yet.
void removeLeftovers(const std::string& directory);

}  // namespace watchlist
