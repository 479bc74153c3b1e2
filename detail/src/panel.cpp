#include "panel.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <set>

#include "facts/models.h"
#include "facts/state_keywords.h"
#include "facts/store_names.h"
#include "plat/base/trace.h"
#include "vigil.h"
#include "watchcore.h"
#include "watchpanel/reported_status.h"

namespace watchpanel {

namespace {

namespace value = facts::value;

}  // namespace

std::uint32_t connectionKind(const PrinterEntry& entry)
{
    if (entry.NetworkPort == 0) return 1;
    switch (entry.NetworkKind) {
    case 1: return 3;
    case 2: return entry.NetworkResolved == 1 ? 5 : 2;
    case 3: return 4;
    default: return 3;  // a network path the engine does not monitor
    }
}

// ---- EntryAccess ----------------------------------------------------------------------------------

bool EntryAccess::attach(int slot)
{
    char name[32] = {};
    if (fSharedMemoryCreateMapName(name, slot) == 0) return false;
    m_mapping = hSharedMemoryOpenFileMapping(name);
    if (m_mapping == 0) return false;
    m_view = lpvSharedMemoryMapViewFile(m_mapping);
    if (m_view == nullptr) {
        fSharedMemoryClientClose(nullptr, m_mapping);
        m_mapping = 0;
        return false;
    }
    return true;
}

void EntryAccess::detach()
{
    if (m_view == nullptr && m_mapping == 0) return;
    fSharedMemoryClientClose(m_view, m_mapping);
    m_view = nullptr;
    m_mapping = 0;
}

bool EntryAccess::read(PrinterEntry& entry)
{
    return m_view != nullptr && fSharedMemoryReadAccess(m_view, &entry, sizeof entry) != 0;
}

bool EntryAccess::write(const PrinterEntry& base, PrinterEntry& entry)
{
    if (m_view == nullptr) return false;
    // The list program writes its requests into the same record; a request we did not touch keeps
    // its current value instead of the one we read. Read, merge and write are one locked step.
    struct Change {
        const PrinterEntry& base;
        PrinterEntry& entry;
    } change{base, entry};
    const auto merge = [](void* record, void* context) -> int32_t {
        auto& current = *static_cast<PrinterEntry*>(record);
        const auto& [base, entry] = *static_cast<Change*>(context);
        PrinterEntry merged = entry;
        auto keep = [&](auto PrinterEntry::*field) {
            if (entry.*field == base.*field) merged.*field = current.*field;
        };
        keep(&PrinterEntry::ReadyAck);
        keep(&PrinterEntry::CloseRequest);
        keep(&PrinterEntry::HideRequest);
        keep(&PrinterEntry::ForegroundRequest);
        keep(&PrinterEntry::StatusRedraw);
        keep(&PrinterEntry::JobWindowRequest);
        keep(&PrinterEntry::JobCount);
        current = entry = merged;
        return 1;
    };
    PrinterEntry record{};
    return fSharedMemoryChangeAccess(m_view, &record, sizeof record, merge, &change) != 0;
}

// ---- Panel ----------------------------------------------------------------------------------------

Panel::~Panel() { shutdown(); }

bool Panel::readEntry()
{
    // The list program's requests written during a tick are seen at the next one, 500 ms on.
    if (m_entryReadThisTick) return true;
    if (!m_access.read(m_entry)) return false;
    m_printer = std::string(fieldText(m_entry.PrinterName));
    return true;
}

bool Panel::write(const PrinterEntry& base, PrinterEntry entry)
{
    if (!m_access.write(base, entry)) return false;
    m_entry = entry;
    return true;
}

bool Panel::update(const std::function<void(PrinterEntry&)>& change)
{
    if (!readEntry()) return false;
    const PrinterEntry base = m_entry;
    PrinterEntry entry = base;
    change(entry);
    if (std::memcmp(&entry, &base, sizeof entry) == 0) return true;  // nothing to write
    return write(base, entry);
}

void Panel::report(std::uint32_t state)
{
    update([state](PrinterEntry& e) {
        e.EngineStateReport = state;
        e.MonitorActive = 0;
        e.MonitorRunning = 0;
    });
}

bool Panel::attach()
{
    if (!m_access.attach(m_slot) || !readEntry()) {
        plat::trace("watchpanel: slot " + std::to_string(m_slot) + " cannot be attached");
        return false;
    }
    m_family = displayFamily(m_entry);
    return true;
}

void Panel::failInitialisation() { report(value::kCannotMonitor); }

void Panel::redrawNow()
{
    if (update([](PrinterEntry& e) { e.StatusRedraw = 1; })) refresh();
}

bool Panel::checkConnection()
{
    bool served = false;
    if (!update([&served](PrinterEntry& e) { served = fCheckConnectStatus(&e) != 0; }) || !served) {
        report(value::kCannotMonitor);
        return false;
    }
    return true;
}

bool Panel::start()
{
    const facts::Family family = m_family;
    const bool written = update([family](PrinterEntry& e) {
        const facts::FamilyCounts counts = facts::countsOf(family);
        const facts::Model* model = facts::byNumber(e.ModelCode);
        e.AlertCategoryCount = counts.alertTypes;
        e.PictureCount = model != nullptr && model->family == family ? model->pictureCount() : counts.pictures;
        e.MessageIndex = 2;
        e.MessageCount = counts.messages;
        e.PrinterState = 0;
        e.PictureIndex = 0;
        e.MessageFlag = 0;
        e.AlertCategory = 0;
        e.SizeCheckFlag = 0;
        e.OptionBits = 0;
        e.EngineStateReport = 0;
        e.StatusChangedTime = 0;  // no status of this program's yet
        e.PanelReady = 1;
    });
    if (!written && !readEntry()) return false;
    const PrinterEntry& entry = m_entry;

    presetEquipment(entry.ModelCode, m_paper, m_information);
    m_informationCategories = family == facts::Family::Page ? 10 : 0;
    m_driverBlock[0] = 0;
    m_driverBlock[1] = 0;
    m_engineReady = false;
    startEngine(entry);
    if (written) return true;

    reportEngineVerdict(engineFlag());
    return false;
}

void Panel::clearStoreFlags()
{
    fSetRegistoryStRealThreadExistFlag(m_printer.c_str(), 0);
    fSetRegistoryVigilExistFlag(m_printer.c_str(), 0);
    fSetRegistoryDisplayFlag(m_printer.c_str(), 0);
}

void Panel::startEngine(const PrinterEntry& entry)
{
    clearStoreFlags();
    const std::string port(fieldText(entry.PortName)), original(fieldText(entry.OriginalPortName)),
        model(fieldText(entry.ModelFullName));
    CreateVigilmonInitialize(port.c_str(), original.c_str(), m_printer.c_str(), model.c_str(),
                             static_cast<std::uint32_t>(facts::engineFamilyOf(m_family)), connectionKind(entry),
                             static_cast<std::uint32_t>(::getpid()));
    m_engineStarted = true;
}

bool Panel::exitRequested()
{
    if (!readEntry() || m_entry.CloseRequest == 0) return false;
    update([](PrinterEntry& e) {
        e.MonitorActive = 0;
        e.MonitorRunning = 0;
        e.ReadyAck = 1;
    });
    return true;
}

void Panel::statusTick()
{
    if (m_ended || !readEntry()) return;
    struct OneRead {
        bool& read;
        explicit OneRead(bool& flag) : read(flag) { read = true; }
        ~OneRead() { read = false; }
    } oneRead(m_entryReadThisTick);
    if (!m_engineReady) {
        std::uint32_t exists = 0;
        if (fGetRegistoryVigilExistFlag(m_printer.c_str(), &exists) != 0 && exists == 1) {
            m_engineReady = true;
            m_lastReply[0] = '\0';
            const bool written = update([](PrinterEntry& e) {
                e.ReadyAck = 1;
                e.MonitorActive = 1;
                e.MonitorRunning = 1;
                e.JobCount = 0;
            });
            if (!written) return;
        }
        if (exitRequested()) {
            m_ended = true;
            return m_view.end();
        }
        applyPrinterStatusFlag();
        applyDisplayRules();
        return;
    }
    if (!m_firstRefreshDone) {
        m_firstRefreshDone = true;
        refresh();
        m_view.loadSettings();
    }
    if (exitRequested()) {
        m_ended = true;
        return m_view.end();
    }
    applyPrinterStatusFlag();
    applyRetryRule();
    applyOpenRules(false);
    applyDisplayRules();
    refresh();
    serveJobWindowRequest();
}

void Panel::driverConfigTick()
{
    if (!m_engineReady || !readEntry()) return;
    updateDriverConfig(m_entry, 1);
}

void Panel::updateDriverConfig(const PrinterEntry& entry, std::uint32_t mode)
{
    DriverConfigRequest request;
    request.entry = entry;
    std::copy(std::begin(m_paper), std::end(m_paper), request.paper.begin());
    std::copy(std::begin(m_information), std::end(m_information), request.information.begin());
    std::copy(std::begin(m_lastReply), std::end(m_lastReply), request.lastReply.begin());
    std::copy(std::begin(m_driverBlock), std::end(m_driverBlock), request.driverBlock.begin());
    request.mode = mode;
    m_driverConfig.update(request);
}

bool Panel::refresh()
{
    if (!readEntry()) return false;
    const PrinterEntry base = m_entry;
    PrinterEntry entry = base;
    if (entry.StatusRedraw != 0) {
        m_view.redraw(entry);
        entry.StatusRedraw = 0;
    } else {
        const int result = iGetStatus(&entry, m_paper, m_information, m_lastReply);
        if (result == 2) return true;
        if (result != 1) return false;
        m_statusSeen = true;
        m_view.redraw(entry);
    }
    stampStatusChange(base, entry, secondsNow());
    if (!write(base, entry)) return false;
    if (m_statusSeen) recordStatus(entry);
    const std::optional<Alert> alert = m_alertRule.fire(entry, m_view.settings());
    if (alert && alert->sound) m_view.playAlert(*alert->sound);
    m_view.notifyDesktop(entry, alert.has_value());
    m_view.updateTray(entry);
    updateDriverConfig(entry, 0);
    return true;
}

void Panel::recordStatus(const PrinterEntry& entry)
{
    if (m_recorder == nullptr) return;
    kestrel::history::Change change;
    change.printer = m_printer;
    change.model = static_cast<int>(entry.ModelCode);
    change.level = static_cast<int>(entry.PrinterState);
    change.message = static_cast<int>(entry.MessageIndex);
    const facts::State state = facts::stateOf({true, m_family, change.level, change.message});
    change.state = facts::keyword(state);
    std::set<std::string> reasons;
    if (state == facts::State::Unreachable) {
        reasons.insert(facts::reason::kOffline);
    } else if (const facts::Model* model = facts::byNumber(entry.ModelCode);
               model != nullptr && m_lastReply[0] != '\0') {
        char ink[256] = "";
        if (model->ink.reportedApart && fGetRegistoryInkLevel(m_printer.c_str(), ink, sizeof ink) == 0) ink[0] = '\0';
        reasons = facts::reasons(*model, m_lastReply, ink);
    }
    change.reasons.assign(reasons.begin(), reasons.end());
    if (m_lastRecorded) {
        kestrel::history::Change last = *m_lastRecorded;
        last.time = change.time;
        if (last == change) return;
    }
    change.time = kestrel::history::Clock::now();
    m_lastRecorded = change;
    m_recorder->record(change);
}

void Panel::applyPrinterStatusFlag()
{
    const std::optional<std::uint32_t> flag = engineFlag();
    if (!flag || reportEngineVerdict(flag)) return;
    const std::optional<FailureView> shown = failureView(*flag, m_family);
    if (!shown) return;
    m_statusSeen = true;
    const bool written = update([&shown](PrinterEntry& e) {
        const PrinterEntry before = e;
        applyFailure(*shown, e);
        e.StatusRedraw = 1;
        stampStatusChange(before, e, secondsNow());
    });
    if (written) refresh();
}

std::optional<std::uint32_t> Panel::engineFlag() const
{
    std::uint32_t flag = 0;
    if (fGetRegistoryPrinterStFlag(m_printer.c_str(), &flag) == 0) return std::nullopt;
    return flag;
}

bool Panel::reportEngineVerdict(std::optional<std::uint32_t> flag)
{
    // The list program stops this printer (3) or rebuilds the list (5, 6), which takes a moved port in.
    if (!flag || (*flag != value::kCannotMonitor && *flag != 5 && *flag != value::kPortChanged)) return false;
    if (m_entry.EngineStateReport != *flag) report(*flag);
    return true;
}

void Panel::applyRetryRule()
{
    if (GetExecRtryFlag() != 2 || !readEntry()) return;
    plat::trace("watchpanel: the engine asks to start monitoring again");
    startEngine(m_entry);
    m_engineReady = false;
}

void Panel::showAtTabZero(bool activate)
{
    update([](PrinterEntry& e) {
        e.StatusRedraw = 1;
        e.HideRequest = 0;
    });
    m_view.selectStatusPage();
    if (activate) m_view.bringToFront();
    refresh();
    m_view.loadSettings();
    m_view.showWindow(activate);
    m_shown = true;
}

void Panel::applyDisplayRules()
{
    if (m_inDisplayRules || !readEntry()) return;
    m_inDisplayRules = true;
    const PrinterEntry entry = m_entry;
    std::uint32_t display = 0;
    if (fGetRegistoryDisplayFlag(m_printer.c_str(), &display) != 0 && display == 1) {
        showAtTabZero(true);
        fSetRegistoryDisplayFlag(m_printer.c_str(), 0);
    } else if (entry.HideRequest != 0) {
        if (m_shown) m_view.hideWindow();
        m_shown = false;
    } else if (!m_shown) {
        // A reported engine failure stays on the page; anything else is read afresh.
        static constexpr std::uint32_t kKeep[] = {1, 2, 4, 7, 8, 9};
        if (std::find(std::begin(kKeep), std::end(kKeep), entry.EngineStateReport) == std::end(kKeep)) {
            m_lastReply[0] = '\0';
        }
        showAtTabZero(false);
    } else if (entry.ForegroundRequest != 0) {
        update([](PrinterEntry& e) { e.ForegroundRequest = 0; });
        m_view.bringToFront();
    }
    m_inDisplayRules = false;
}

void Panel::serveJobWindowRequest()
{
    if (!readEntry() || m_entry.JobWindowRequest == 0) return;
    if (!update([](PrinterEntry& e) { e.JobWindowRequest = 0; })) return;
    m_view.openJobWindow();
}

void Panel::closePressed()
{
    update([](PrinterEntry& e) { e.HideRequest = 1; });
}

void Panel::foregroundRequested()
{
    update([](PrinterEntry& e) { e.ForegroundRequest = 1; });
    applyOpenRules(true);
    applyDisplayRules();
}

void Panel::applyOpenRules(bool forced)
{
    update([this, forced](PrinterEntry& e) { m_openRules.apply(e, forced); });
}

void Panel::shutdown()
{
    if (m_shutDown) return;
    m_shutDown = true;
    if (m_engineStarted) {
        if (readEntry()) {
            // Handed to the sink, which may still be writing it while the engine stops: a spooler that
            // does not answer holds up neither the engine's stop nor the flags' clearing.
            updateDriverConfig(m_entry, 2);
            if (m_entry.NetworkPort == 1 && m_entry.NetworkKind == 2) NetwareLinkEnd();
        }
        DeleteStThreads();
        clearStoreFlags();
    }
    m_access.detach();
}

}  // namespace watchpanel
