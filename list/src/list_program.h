#pragma once
// The list program's controller: the run and exit flags, the three timers, the rebuild that runs
// discovery on a worker thread, the row polling between rebuilds, the commands of the window, and the
// closing path that ends every detail program first. Whatever can wait on a process (stopping the
// detail programs, up to 15 s each) runs off the window's thread, which only shows a wait cursor.

#include <QObject>
#include <QTimer>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "detail_programs.h"
#include "list_rows.h"
#include "plat/services/services.h"
#include "row_poller.h"
#include "slot_table.h"

namespace watchlist {

class ListWindow;
class BridgeRunner;

class ListProgram : public QObject {
    Q_OBJECT
public:
    // `programDirectory` holds watchpanel.exe. `quiet`: started with /d (no initialising dialog at the
    // first build, a pending exit request is honoured). `services` must outlive the program.
    ListProgram(plat::Services& services, std::string programDirectory, bool quiet);
    ~ListProgram() override;

    // Creates the window, restores its environment, starts the first rebuild and the timers. False when
    // the window cannot be made.
    bool start();

    ListWindow* window() const { return m_window.get(); }
    const ListRows& items() const { return m_items; }
    bool building() const { return m_building; }

public slots:
    // The close path: every detail program is asked to close (and ended after its wait), then the
    // window's environment is stored, the slots closed and ended() emitted.
    void close();

signals:
    void ended();

private:
    void rebuild(bool stopDetailsFirst);
    void tick(int timer);
    void finishBuild();
    void finishClose();
    void watchDetailPrograms();
    void watchSpooler();
    void forSelected(const std::vector<int>& positions, bool (*request)(void*));
    std::uint64_t spoolerChangeCount();

    plat::Services& m_services;
    std::string m_programDirectory;
    bool m_quiet;
    SlotTable m_slots;
    DetailPrograms m_programs;
    ListRows m_items;
    RowPoller m_poller;
    std::unique_ptr<ListWindow> m_window;
    QTimer m_timers[3];

    bool m_building = false, m_closing = false;
    std::thread m_worker;  // the rebuild, or the close's stop procedure
    std::atomic<bool> m_workDone{false};
    std::mutex m_resultMutex;
    Build m_result;  // guarded by m_resultMutex
    std::uint64_t m_spoolerChanges = 0;
    // With CUPS: the despooler bridge for queues on the velta backend, until the list ends.
    std::unique_ptr<BridgeRunner> m_bridge;
};

// Deletes the files "ksw*.lnk" and "ksw*.tmp" (case ignored) that detail programs leave in `directory`,
// once they are a minute old: a younger shortcut may not have reached its queue window yet.
void removeLeftovers(const std::string& directory);

}  // namespace watchlist
