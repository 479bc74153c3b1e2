#include "list_program.h"

#include <QApplication>
#include <QCursor>
#include <chrono>
#include <filesystem>

#include "bridge_runner.h"
#include "list_window.h"
#include "plat/base/system_root.h"
#include "plat/base/trace.h"
#include "plat/gui/worker.h"
#include "plat/spool/spooler.h"
#include "plat/text/text.h"
#include "status_history.h"
#include "watchcore.h"

namespace watchlist {
namespace {

constexpr std::chrono::milliseconds kTimerPeriods[] = {std::chrono::milliseconds(500), std::chrono::milliseconds(700),
                                                       std::chrono::milliseconds(1000)};
// The window shows at once when its stored placement is read; should the worker be held up that long,
// it shows at its default placement and takes the stored one when it comes.
constexpr auto kShowBound = std::chrono::seconds(1);

}  // namespace

void removeLeftovers(const std::string& directory)
{
    constexpr auto kLeftoverAge = std::chrono::minutes(1);
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(directory, error)) {
        const std::string name = entry.path().filename().string();
        if (!entry.is_regular_file(error)) continue;
        if (!plat::text::matchesPatternIgnoringCase(name, "ksw*.lnk") &&
            !plat::text::matchesPatternIgnoringCase(name, "ksw*.tmp")) {
            continue;
        }
        // A shortcut made a moment ago may still be on its way to the queue window it was made for.
        const auto written = entry.last_write_time(error);
        if (!error && std::filesystem::file_time_type::clock::now() - written < kLeftoverAge) continue;
        std::filesystem::remove(entry.path(), error);
    }
}

ListProgram::ListProgram(plat::Services& services, std::string programDirectory, bool quiet)
    : m_services(services),
      m_programDirectory(std::move(programDirectory)),
      m_quiet(quiet),
      m_programs((std::filesystem::path(m_programDirectory) / "watchpanel.exe").string(), m_slots),
      m_restarts(services.clock()),
      m_poller(m_polled, m_slots, [this] { m_rebuildAsked = true; })
{
}

ListProgram::~ListProgram()
{
    for (QTimer& timer : m_timers) timer.stop();
    m_worker.post([this] { m_bridge.reset(); });
    m_worker.stop();
}

bool ListProgram::start()
{
    m_window = std::make_unique<ListWindow>(m_items);
    m_window->setHistoryFile(kestrel::history::historyFile(plat::systemRoot()));
    connect(m_window.get(), &ListWindow::showRequested, this,
            [this](const std::vector<int>& positions) { forSelected(positions, requestShow); });
    connect(m_window.get(), &ListWindow::jobWindowRequested, this,
            [this](const std::vector<int>& positions) { forSelected(positions, requestJobWindow); });
    connect(m_window.get(), &ListWindow::refreshRequested, this, [this] { rebuild(true); });
    connect(m_window.get(), &ListWindow::closeRequested, this, &ListProgram::close);

    // The stored placement first: a read, which another process's write does not hold up.
    m_worker.post([this] {
        ListEnviron stored{};
        std::optional<ListEnviron> environment;
        if (fGetListEnviron(&stored) != 0) environment = stored;
        plat::gui::postTo(this, [this, environment] {
            if (environment) m_window->applyEnvironment(*environment);
            showWindow();
        });
    });
    QTimer::singleShot(kShowBound, this, [this] { showWindow(); });
    m_worker.post([this, quiet = m_quiet] {
        removeLeftovers(m_programDirectory);
        if (!quiet) fSetRegistoryKswExitFlag(0);
    });
    m_worker.post([this] {
        const plat::spool::Kind kind = m_services.spoolerKind();
        m_spoolerChanges = spoolerChangeCount();
        if (kind == plat::spool::Kind::Cups) {
            if (auto spooler = m_services.spooler())
                m_bridge = BridgeRunner::start(*spooler.value(), m_services.store());
        }
        plat::gui::postTo(
            this, [this, name = QString::fromUtf8(plat::spool::spoolerName(kind))] { m_window->setSpoolerName(name); });
    });
    // A list killed before us may have left its detail programs running: they would watch their printers
    // beside ours.
    m_worker.post([] { endLeftDetailPrograms(); });
    rebuild(false);
    for (int t = 0; t < 3; ++t) {
        m_timers[t].setTimerType(Qt::CoarseTimer);
        connect(&m_timers[t], &QTimer::timeout, this, [this, t] { tick(t + 1); });
        m_timers[t].start(m_services.clock().interval(kTimerPeriods[t]));
    }
    return true;
}

void ListProgram::showWindow()
{
    if (m_shown || m_closing) return;
    m_shown = true;
    m_window->show();
    // The first rebuild's dialog waited for the window, to be centred where the window opened.
    if (m_building) m_window->setBuilding(true, m_quiet);
}

// The spooler's change count: it stands in for the spooler's status notification.
std::uint64_t ListProgram::spoolerChangeCount()
{
    auto spooler = m_services.spooler();
    return spooler ? spooler.value()->changeCount() : 0;
}

void ListProgram::rebuild(bool stopDetailsFirst)
{
    if (m_building || m_closing) return;
    m_building = true;
    if (m_shown) m_window->setBuilding(true, m_quiet);
    m_worker.post([this, stopDetailsFirst] {
        fSetRegistoryKswListRunFlag(1);
        if (stopDetailsFirst) m_programs.stopAll();
        m_restarts.clear();
        m_slots.closeAll();
        Build build = buildRows(m_slots, m_programs);
        m_rebuildAsked = false;
        // Spooler lists that could not be read leave the rows of the last build, here and on screen.
        if (build.end != Build::End::ListsUnavailable) {
            m_polled.reset(build.rows);
            ++m_pollGeneration;
            rememberSent();
        }
        plat::gui::postTo(this, [this, build = std::move(build), generation = m_pollGeneration]() mutable {
            m_built = std::move(build);
            m_builtGeneration = generation;
        });
    });
}

void ListProgram::finishBuild()
{
    Build build = std::move(*m_built);
    m_built.reset();
    if (build.end != Build::End::ListsUnavailable) {
        m_items.reset(std::move(build.rows));
        m_generation = m_builtGeneration;
    }
    m_window->setBuilding(false, m_quiet);
    m_quiet = false;
    m_building = false;
    m_worker.post([] { fSetRegistoryKswListRunFlag(2); });
    if (build.detailStartFailed) vDisplayError(m_window.get(), 3);
}

void ListProgram::tick(int timer)
{
    if (m_closing) return;
    if (m_building && m_built) finishBuild();
    // A worker still at this timer's last tick (held up by the store or the spooler) gets no second
    // one: when it is free again it polls once, not once for every tick it missed.
    bool& ticking = m_ticking[timer - 1];
    if (m_closing || ticking) return;
    ticking = true;
    // The worker goes through the items in the order the window shows them.
    std::vector<int> order;
    order.reserve(static_cast<std::size_t>(m_items.count()));
    for (int p = 0; p < m_items.count(); ++p) order.push_back(m_items.item(p).row());
    m_worker.post([this, timer, building = m_building, order = std::move(order)] {
        Polled polled = poll(timer, building, order);
        plat::gui::postTo(this, [this, polled = std::move(polled)] { applyPolled(polled); });
    });
}

ListProgram::Polled ListProgram::poll(int timer, bool building, const std::vector<int>& order)
{
    Polled polled;
    polled.timer = timer;
    polled.generation = m_pollGeneration;
    std::uint32_t exitRequest = 0;
    if (fGetRegistoryKswExitFlag(&exitRequest) != 0 && exitRequest == 1) {
        fSetRegistoryKswExitFlag(0);
        polled.exitRequested = true;
        return polled;
    }
    if (building || m_rebuildAsked) return polled;
    m_polled.arrange(order);
    watchDetailPrograms();
    restartDue();
    m_poller.tick(timer);
    if (!m_rebuildAsked) watchSpooler();
    polled.rebuildAsked = m_rebuildAsked;
    polled.changed = changesToSend();
    return polled;
}

void ListProgram::applyPolled(const Polled& polled)
{
    m_ticking[polled.timer - 1] = false;
    if (m_closing) return;
    if (polled.generation == m_generation) {
        for (const auto& [item, row] : polled.changed) m_items.update(item, row);
    }
    if (polled.exitRequested) return close();
    if (polled.rebuildAsked) rebuild(true);
}

// The window's copy starts from the same rows as the worker's.
void ListProgram::rememberSent()
{
    m_sent.clear();
    for (int p = 0; p < m_polled.count(); ++p) {
        const ListRows::Item& item = m_polled.item(p);
        if (const Row* row = m_polled.row(item.row())) m_sent[item.row()] = {item, *row};
    }
}

std::vector<std::pair<ListRows::Item, Row>> ListProgram::changesToSend()
{
    std::vector<std::pair<ListRows::Item, Row>> changes;
    for (int p = 0; p < m_polled.count(); ++p) {
        const ListRows::Item& item = m_polled.item(p);
        const Row* row = m_polled.row(item.row());
        if (row == nullptr) continue;
        auto now = std::make_pair(item, *row);
        auto& sent = m_sent[item.row()];
        if (sent == now) continue;
        sent = now;
        changes.push_back(std::move(now));
    }
    return changes;
}

void ListProgram::watchDetailPrograms()
{
    const auto now = std::chrono::steady_clock::now();
    for (int p = 0; p < m_polled.count(); ++p) {
        const ListRows::Item& item = m_polled.item(p);
        if (!item.monitorable()) continue;
        const int slot = item.slot();
        const std::optional<int> code = m_programs.takeEnd(slot);
        if (!code) continue;
        const Row* row = m_polled.row(item.row());
        const std::string who = "list: the detail program of " + (row != nullptr ? row->name : std::string()) +
                                " (slot " + std::to_string(slot) + ")";
        PrinterEntry entry{};
        const bool read = fSharedMemoryReadAccess(m_slots.view(slot), &entry, sizeof entry) == 1;
        if (*code == 0 || (read && entry.EngineStateReport == 3)) {
            // It was asked to end (a close request, SIGTERM), or found that its printer cannot be
            // monitored: nothing to start again.
            plat::trace(who + " has ended with exit code " + std::to_string(*code));
            if (*code == 0) m_programs.recordCannotMonitor(slot);
            m_polled.markCannotMonitor(p);
            continue;
        }
        if (read && (entry.EngineStateReport == 5 || entry.EngineStateReport == 6)) continue;  // a rebuild comes
        const RestartPlan::Decision decision = m_restarts.ended(slot, now);
        if (decision.giveUp) {
            plat::trace(who + " ended on its own (exit code " + std::to_string(*code) + "), " +
                        std::to_string(decision.recentEnds) +
                        " times within 10 minutes: it is not started again until the list is rebuilt");
            m_programs.recordCannotMonitor(slot);
            m_polled.markCannotMonitor(p);
            continue;
        }
        plat::trace(who + " ended on its own (exit code " + std::to_string(*code) + "); it starts again in " +
                    std::to_string(decision.delay.count()) + " ms");
        // Until then the row reads from the record as its first start found it: not monitoring.
        m_programs.putBackRecord(slot);
    }
}

void ListProgram::restartDue()
{
    for (int slot : m_restarts.due(std::chrono::steady_clock::now())) {
        for (int p = 0; p < m_polled.count(); ++p) {
            const ListRows::Item& item = m_polled.item(p);
            if (!item.monitorable() || item.slot() != slot) continue;
            if (m_programs.restart(slot)) {
                plat::trace("list: the detail program of slot " + std::to_string(slot) + " started again");
            } else {
                plat::trace("list: the detail program of slot " + std::to_string(slot) + " does not start again");
                m_programs.recordCannotMonitor(slot);
                m_polled.markCannotMonitor(p);
            }
            break;
        }
    }
}

void ListProgram::watchSpooler()
{
    const std::uint64_t changes = spoolerChangeCount();
    if (changes == m_spoolerChanges) return;
    m_spoolerChanges = changes;
    m_poller.spoolerChanged();
}

void ListProgram::forSelected(const std::vector<int>& positions, bool (*request)(void*))
{
    if (m_building || m_closing) return;
    std::vector<int> chosen;
    for (int p : positions) {
        if (p < 0 || p >= m_items.count() || !m_items.item(p).monitorable()) continue;
        chosen.push_back(m_items.item(p).slot());
    }
    if (chosen.empty()) return;
    // Jobs run in order, so no rebuild can have remade the slots before these requests.
    m_worker.post([this, chosen = std::move(chosen), request] {
        for (int slot : chosen) {
            // The worker's items may know better already: a printer that can no longer be monitored.
            bool monitorable = false;
            for (int p = 0; p < m_polled.count() && !monitorable; ++p)
                monitorable = m_polled.item(p).monitorable() && m_polled.item(p).slot() == slot;
            if (monitorable) request(m_slots.view(slot));
        }
    });
}

void ListProgram::close()
{
    if (m_closing) return;
    m_closing = true;
    for (QTimer& timer : m_timers) timer.stop();
    QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    // After a rebuild still running: every detail program is stopped.
    m_worker.post([this] {
        m_programs.stopAll();
        // The engines have ended: the despooler values are taken back.
        m_bridge.reset();
        plat::gui::postTo(this, [this] { finishClose(); });
    });
}

void ListProgram::finishClose()
{
    QApplication::restoreOverrideCursor();
    m_worker.post([this, environment = m_window->environment()] {
        removeLeftovers(m_programDirectory);
        if (fSetListEnviron(&environment) == 0) plat::trace("list: the list environment could not be stored");
        m_slots.closeAll();
        m_polled.clear();
        plat::gui::postTo(this, [this] {
            m_items.clear();
            m_window->closeNow();
            emit ended();
        });
    });
}

}  // namespace watchlist
