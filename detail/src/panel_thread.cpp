#include "panel_thread.h"

#include <QSemaphore>
#include <QTimer>
#include <algorithm>
#include <utility>

#include "plat/base/trace.h"
#include "plat/services/heartbeat.h"
#include "settings_page.h"
#include "sound.h"
#include "watchcore.h"
#include "watchpanel/outside_programs.h"

namespace watchpanel {

namespace {

constexpr int kMinimumPeriodMs = 50;  // a period of 0 would spin the panel's thread
constexpr int kLastCloseWaitMs = 1000;

PanelState stateOf(const Panel& panel)
{
    PanelState state;
    state.entry = panel.lastEntry();
    std::copy_n(panel.paper(), kPaperWords, state.paper.begin());
    std::copy_n(panel.information(), kInformationWords, state.information.begin());
    state.informationCategories = panel.informationCategories();
    return state;
}

}  // namespace

// The panel's view of the window, on the panel's thread: each call goes to the window queued, in order.
// The settings the alert rule follows are kept here.
class PanelThread::QueuedView final : public PanelView {
public:
    explicit QueuedView(PanelThread& owner) : m_owner(owner) {}

    void redraw(const PrinterEntry& entry) override
    {
        m_owner.send([entry](PanelDisplay& d) { d.redraw(entry); });
    }
    void selectStatusPage() override
    {
        m_owner.send([](PanelDisplay& d) { d.selectStatusPage(); });
    }
    void loadSettings() override { m_owner.readSettings(true); }
    const DetailSettings& settings() const override { return m_settings; }
    void playAlert(const std::string& path) override
    {
        m_owner.send([path](PanelDisplay& d) { d.playAlert(path); });
    }
    void notifyDesktop(const PrinterEntry& entry, bool alertFired) override
    {
        switch (noticeStep(entry, alertFired, m_settings.desktopNotify)) {
        case NoticeStep::Show:
            if (auto notice = noticeFor(m_owner.m_panel.printerName(), entry, m_owner.m_panel.paper()))
                m_owner.showNotice(*notice);
            break;
        case NoticeStep::Close: m_owner.closeNotice(); break;
        case NoticeStep::Keep: break;
        }
    }
    void updateTray(const PrinterEntry& entry) override
    {
        m_owner.send([entry](PanelDisplay& d) { d.updateTray(entry); });
    }
    void showWindow(bool activate) override
    {
        m_owner.send([activate](PanelDisplay& d) { d.showWindow(activate); });
    }
    void hideWindow() override
    {
        m_owner.send([](PanelDisplay& d) { d.hideWindow(); });
    }
    void bringToFront() override
    {
        m_owner.send([](PanelDisplay& d) { d.bringToFront(); });
    }
    // Started from here: the queue program is a process, and the entry names the printer.
    void openJobWindow() override
    {
        if (!m_owner.m_panel.readEntry()) return;
        watchpanel::openJobWindow(std::string(fieldText(m_owner.m_panel.lastEntry().PrinterName)));
    }
    void end() override
    {
        m_owner.stopTimersHere();
        m_owner.send([](PanelDisplay& d) { d.finished(0); });
    }

    DetailSettings m_settings;  // the panel worker's

private:
    PanelThread& m_owner;
};

// The panel's status changes, written to the history on the history worker. The database opens with
// the first change, so a program whose printer never changes never touches it.
class PanelThread::HistoryRecorder final : public StatusRecorder {
public:
    HistoryRecorder(plat::gui::Worker& worker, std::filesystem::path file) : m_worker(worker), m_file(std::move(file))
    {
    }

    void record(const kestrel::history::Change& change) override
    {
        m_worker.post([this, change] { write(change); });
    }

private:
    // History worker.
    void write(const kestrel::history::Change& change)
    {
        using kestrel::history::HistoryStore;
        if (!m_store) {
            auto opened = HistoryStore::open(m_file, HistoryStore::Access::ReadWrite, {}, change.time);
            if (!opened) {
                plat::trace("watchpanel: " + opened.error().detail);
                return;  // tried again with the next change
            }
            m_store = std::move(opened).value();
        }
        if (auto written = m_store->record(change); !written) plat::trace("watchpanel: " + written.error().detail);
    }

    plat::gui::Worker& m_worker;
    std::filesystem::path m_file;
    std::unique_ptr<kestrel::history::HistoryStore> m_store;  // the history worker's
};

PanelThread::PanelThread(int slot, PanelDisplay& display, QObject* displayObject, std::filesystem::path historyFile,
                         NotificationsMaker notifications)
    : m_display(display),
      m_displayObject(displayObject),
      m_spoolWorker("panel-spooler"),
      m_driverConfig(m_spoolWorker),
      m_view(std::make_unique<QueuedView>(*this)),
      m_historyWorker("panel-history"),
      m_history(historyFile.empty() ? nullptr
                                    : std::make_unique<HistoryRecorder>(m_historyWorker, std::move(historyFile))),
      m_panel(slot, *m_view, m_driverConfig, m_history.get()),
      m_worker("panel-status"),
      m_makeNotifications(std::move(notifications)),
      m_notifyWorker("panel-notify")
{
}

PanelThread::~PanelThread() { stop(); }

void PanelThread::send(std::function<void(PanelDisplay&)> call)
{
    plat::gui::postTo(m_displayObject, [display = &m_display, state = stateOf(m_panel), call = std::move(call)] {
        display->follow(state);
        call(*display);
    });
}

void PanelThread::start()
{
    m_worker.post([this] { begin(); });
}

// The desktop's service is reached at the first notice only: a printer that never needs the user costs
// no bus connection (a thread and some megabytes).
DesktopNotifier* PanelThread::notifier()
{
    if (m_notifier == nullptr && m_makeNotifications) {
        std::unique_ptr<NotificationService> service = std::exchange(m_makeNotifications, {})();
        if (service == nullptr) return nullptr;
        // A click on the notification brings the window up as a double click on the tray icon does.
        m_notifier = std::make_unique<DesktopNotifier>(std::move(service), [this] {
            plat::gui::postTo(m_displayObject, [this] { post([](Panel& panel) { panel.foregroundRequested(); }); });
        });
    }
    return m_notifier.get();
}

void PanelThread::showNotice(const Notice& notice)
{
    m_notifyWorker.post([this, notice] {
        if (DesktopNotifier* notifier = this->notifier()) notifier->show(notice);
    });
}

void PanelThread::closeNotice()
{
    m_notifyWorker.post([this] {
        if (m_notifier) m_notifier->close();
    });
}

void PanelThread::followSettings(const DetailSettings& settings)
{
    m_view->m_settings = settings;
    if (!settings.desktopNotify) closeNotice();
}

void PanelThread::begin()
{
    // The program's files in the root: the default sounds, and the gap tool where the engine looks.
    installDefaultSounds();
    linkGapTool();
    // Read ahead, so that a settings page shown before the first load has the stored values.
    readSettings(false);
    if (!m_panel.checkConnection() || !m_panel.start()) {
        send([](PanelDisplay& d) { d.finished(1); });
        return;
    }
    const PrinterEntry& entry = m_panel.lastEntry();
    const auto period = [this](std::uint32_t chosen) {
        const std::chrono::milliseconds ms(std::max<int>(kMinimumPeriodMs, static_cast<int>(chosen)));
        return static_cast<int>(m_heartbeat != nullptr ? m_heartbeat->clock().interval(ms).count() : ms.count());
    };
    const int statusPeriod = period(entry.PanelTimer1Period);
    // The engine's looks (port watch, mailbox, retry rule) run on this thread's beats from now on, and so
    // does the status tick when it falls on a beat, so an idle program wakes once for all of them.
    if (m_heartbeat != nullptr) {
        m_heartbeat->driveFromCaller();
        m_beatTimer = new QTimer(m_worker.context());
        QObject::connect(m_beatTimer, &QTimer::timeout, m_beatTimer, [this] { m_heartbeat->beat(); });
        m_beatTimer->start(static_cast<int>(m_heartbeat->period().count()));
        const int beatMs = static_cast<int>(m_heartbeat->period().count());
        if (statusPeriod % beatMs == 0) {
            // Due by the clock, not by counting beats: a beat missed while the worker was busy does not
            // stretch the interval.
            using std::chrono::steady_clock;
            const std::chrono::milliseconds period(statusPeriod), beat(beatMs);
            m_statusDue = steady_clock::now() + period;
            m_statusBeat = m_heartbeat->every(1, [this, period, beat] {
                const auto now = steady_clock::now();
                if (now + beat / 2 < m_statusDue) return;
                m_statusDue += period;
                // Held up longer than an interval: one tick, not a burst.
                if (m_statusDue < now) m_statusDue = now + period;
                m_panel.statusTick();
            });
        }
    }
    if (m_statusBeat == 0) {
        m_statusTimer = new QTimer(m_worker.context());
        m_statusTimer->setTimerType(Qt::CoarseTimer);
        QObject::connect(m_statusTimer, &QTimer::timeout, m_statusTimer, [this] { m_panel.statusTick(); });
        m_statusTimer->start(statusPeriod);
    }
    m_driverTimer = new QTimer(m_worker.context());
    m_driverTimer->setTimerType(Qt::VeryCoarseTimer);
    QObject::connect(m_driverTimer, &QTimer::timeout, m_driverTimer, [this] { m_panel.driverConfigTick(); });
    m_driverTimer->start(period(entry.PanelTimer2Period));
    send([](PanelDisplay& d) { d.started(); });
}

void PanelThread::readSettings(bool putIntoEffect)
{
    DetailSettings settings = loadDetailSettings(m_panel.printerName(), m_panel.family());
    settings.applyPending = false;
    if (putIntoEffect) {
        // The rules of this tick act on them already: the alert rule, and the open rules on the entry.
        followSettings(settings);
        m_panel.update([settings](PrinterEntry& e) { applySettingsToEntry(settings, e); });
    }
    send([settings, putIntoEffect](PanelDisplay& d) { d.settingsLoaded(settings, putIntoEffect); });
}

void PanelThread::post(std::function<void(Panel&)> action)
{
    m_worker.post([this, action = std::move(action)] { action(m_panel); });
}

void PanelThread::refreshTray()
{
    m_worker.post([this] {
        if (m_panel.readEntry()) m_view->updateTray(m_panel.lastEntry());
    });
}

void PanelThread::loadSettings()
{
    m_worker.post([this] { readSettings(true); });
}

void PanelThread::applySettings(DetailSettings settings)
{
    m_worker.post([this, settings = std::move(settings)] {
        followSettings(settings);
        if (!storeDetailSettings(m_panel.printerName(), settings)) {
            plat::trace("watchpanel: the settings of \"" + m_panel.printerName() + "\" could not be stored");
            send([](PanelDisplay& d) { d.settingsNotStored(); });
        }
    });
}

void PanelThread::askSpooler(std::string printer, std::function<void(bool)> answer)
{
    m_spoolWorker.post([this, printer = std::move(printer), answer = std::move(answer)] {
        const bool listed = fCheckPrinter(printer.c_str()) != 0;
        plat::gui::postTo(m_displayObject, [answer, listed] { answer(listed); });
    });
}

void PanelThread::stopTimers()
{
    m_worker.post([this] { stopTimersHere(); });
}

void PanelThread::stopTimersHere()
{
    if (m_statusTimer != nullptr) m_statusTimer->stop();
    if (m_driverTimer != nullptr) m_driverTimer->stop();
    if (m_beatTimer != nullptr) m_beatTimer->stop();
    if (m_statusBeat != 0) m_heartbeat->cancel(std::exchange(m_statusBeat, 0));
}

void PanelThread::stop()
{
    if (m_stopped) return;
    m_stopped = true;
    m_worker.post([this] {
        stopTimersHere();
        m_panel.shutdown();
    });
    m_worker.stop();
    // Not left on the desktop, where a click could bring up nothing any more. The close is answered at
    // once by a service that runs; a second at most for one that does not answer.
    auto closed = std::make_shared<QSemaphore>();
    m_notifyWorker.post([this, closed] {
        if (m_notifier == nullptr) return closed->release();
        m_notifier->closeLast([closed] { closed->release(); });
    });
    closed->tryAcquire(1, kLastCloseWaitMs);
    m_notifyWorker.post([this] { m_notifier.reset(); });
    m_notifyWorker.stop();
    // The last update, which the shutdown queued, is written before this returns, and so is the
    // last status change.
    m_spoolWorker.stop();
    m_historyWorker.stop();
}

}  // namespace watchpanel
