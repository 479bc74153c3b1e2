#include "list_program.h"

#include <QApplication>
#include <QCursor>
#include <chrono>
#include <filesystem>

#include "bridge_runner.h"
#include "list_window.h"
#include "plat/base/trace.h"
#include "plat/spool/spooler.h"
#include "plat/text/text.h"
#include "watchcore.h"

namespace watchlist {
namespace {

constexpr int kTimerPeriods[] = {500, 700, 1000};

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
      m_programs((std::filesystem::path(m_programDirectory) / "watchpanel.exe").string()),
      m_poller(m_items, m_slots, [this] { rebuild(true); })
{
}

ListProgram::~ListProgram()
{
    if (m_worker.joinable()) m_worker.join();
    m_bridge.reset();
}

bool ListProgram::start()
{
    m_window = std::make_unique<ListWindow>(m_items);
    m_window->setSpoolerName(QString::fromUtf8(plat::spool::spoolerName(m_services.spoolerKind())));
    m_window->restoreEnvironment();
    connect(m_window.get(), &ListWindow::showRequested, this,
            [this](const std::vector<int>& positions) { forSelected(positions, requestShow); });
    connect(m_window.get(), &ListWindow::jobWindowRequested, this,
            [this](const std::vector<int>& positions) { forSelected(positions, requestJobWindow); });
    connect(m_window.get(), &ListWindow::refreshRequested, this, [this] { rebuild(true); });
    connect(m_window.get(), &ListWindow::closeRequested, this, &ListProgram::close);
    m_window->show();

    m_spoolerChanges = spoolerChangeCount();
    if (m_services.spoolerKind() == plat::spool::Kind::Cups) {
        if (auto spooler = m_services.spooler()) m_bridge = BridgeRunner::start(*spooler.value(), m_services.store());
    }
    rebuild(false);
    for (int t = 0; t < 3; ++t) {
        m_timers[t].setTimerType(Qt::CoarseTimer);
        connect(&m_timers[t], &QTimer::timeout, this, [this, t] { tick(t + 1); });
        m_timers[t].start(kTimerPeriods[t]);
    }
    return true;
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
    fSetRegistoryKswListRunFlag(1);
    m_window->setBuilding(true, m_quiet);
    m_workDone = false;
    // Stopping can take 15 s a program and the build starts processes: neither runs on this thread.
    m_worker = std::thread([this, stopDetailsFirst] {
        if (stopDetailsFirst) m_programs.stopAll(m_slots);
        m_slots.closeAll();
        Build build = buildRows(m_slots, m_programs);
        {
            std::lock_guard lock(m_resultMutex);
            m_result = std::move(build);
        }
        m_workDone = true;
    });
}

void ListProgram::finishBuild()
{
    m_worker.join();
    Build build;
    {
        std::lock_guard lock(m_resultMutex);
        build = std::move(m_result);
    }
    // Spooler lists that could not be read leave the rows of the last build on screen.
    if (build.end != Build::End::ListsUnavailable) m_items.reset(std::move(build.rows));
    m_window->setBuilding(false, m_quiet);
    m_quiet = false;
    m_building = false;
    fSetRegistoryKswListRunFlag(2);
    if (build.detailStartFailed) vDisplayError(m_window.get(), 3);
}

void ListProgram::tick(int timer)
{
    if (m_closing) return;
    if (m_building && m_workDone) finishBuild();
    std::uint32_t exitRequest = 0;
    if (fGetRegistoryKswExitFlag(&exitRequest) != 0 && exitRequest == 1) {
        fSetRegistoryKswExitFlag(0);
        return close();
    }
    if (m_building) return;
    watchDetailPrograms();
    m_poller.tick(timer);
    if (!m_building) watchSpooler();
}

void ListProgram::watchDetailPrograms()
{
    // A detail program that ended by itself (killed, crashed) leaves its record as it was; its row can
    // no longer be monitored until the next rebuild.
    for (int p = 0; p < m_items.count(); ++p) {
        const ListRows::Item& item = m_items.item(p);
        if (item.monitorable() && !m_programs.running(item.slot())) {
            plat::trace("list: the detail program of slot " + std::to_string(item.slot()) + " has ended");
            m_items.markCannotMonitor(p);
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
    if (m_building) return;
    for (int p : positions) {
        if (p < 0 || p >= m_items.count() || !m_items.item(p).monitorable()) continue;
        request(m_slots.view(m_items.item(p).slot()));
    }
}

void ListProgram::close()
{
    if (m_closing) return;
    m_closing = true;
    for (QTimer& timer : m_timers) timer.stop();
    QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    // A rebuild still running finishes first; then every detail program is stopped, off this thread.
    std::thread previous = std::move(m_worker);
    m_worker = std::thread([this, previous = std::move(previous)]() mutable {
        if (previous.joinable()) previous.join();
        m_programs.stopAll(m_slots);
        // The engines have ended: the despooler values are taken back (the store may make this wait).
        m_bridge.reset();
        QMetaObject::invokeMethod(this, &ListProgram::finishClose, Qt::QueuedConnection);
    });
}

void ListProgram::finishClose()
{
    if (m_worker.joinable()) m_worker.join();
    QApplication::restoreOverrideCursor();
    removeLeftovers(m_programDirectory);
    m_window->storeEnvironment();
    m_slots.closeAll();
    m_items.clear();
    m_window->closeNow();
    emit ended();
}

}  // namespace watchlist
