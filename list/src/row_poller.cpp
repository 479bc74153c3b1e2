#include "row_poller.h"

#include <cstring>
#include <string_view>

#include "plat/text/text.h"
#include "watchcore.h"

namespace watchlist {
namespace {

template <std::size_t N>
std::string_view field(const char (&text)[N])
{
    return {text, strnlen(text, N)};
}

}  // namespace

bool RowPoller::record(int slot, PrinterEntry& entry) const
{
    void* view = m_slots.view(slot);
    return view != nullptr && fSharedMemoryReadAccess(view, &entry, sizeof entry) == 1;
}

void RowPoller::askRebuild()
{
    m_rebuildAsked = true;
    if (m_rebuild) m_rebuild();
}

void RowPoller::tick(int timer)
{
    m_rebuildAsked = false;
    for (int p = 0; p < m_items.count() && !m_rebuildAsked; ++p) {
        const ListRows::Item& item = m_items.item(p);
        if (!item.monitorable()) continue;
        const int slot = item.slot(), number = item.row();
        PrinterEntry entry{};
        const PrinterEntry* read = record(slot, entry) ? &entry : nullptr;
        if (!checkPresence(slot, p, read)) continue;
        checkPort(slot, p, read);
        Row* row = m_items.row(number);
        if (row == nullptr || !m_items.item(p).monitorable()) continue;
        switch (timer) {
        case 1: monitoringColumn(slot, p, *row, read); break;
        case 2: printerStateColumn(p, *row, read); break;
        case 3:
            if (row->state == MonitorState::Monitoring && read != nullptr && read->MonitorActive != 0 &&
                read->NetworkPort != 0) {
                refreshJobs(slot, p, *row, *read);
            }
            break;
        default: break;
        }
    }
}

bool RowPoller::checkPresence(int slot, int position, const PrinterEntry* entry)
{
    if (entry == nullptr) return true;
    const std::string printer(field(entry->PrinterName));
    if (fCheckPrinter(printer.c_str()) == 0) {
        askRebuild();
        return false;
    }
    switch (entry->EngineStateReport) {
    case 3:
        requestClose(m_slots.view(slot));
        m_items.markCannotMonitor(position);
        return false;
    case 5:
    case 6: askRebuild(); return false;
    default: return true;
    }
}

void RowPoller::checkPort(int slot, int position, const PrinterEntry* entry)
{
    if (entry == nullptr) return;
    const std::string port(field(entry->PortName));
    // A captured local port shows with the queue it prints to, as the status page shows it.
    m_items.setConnection(
        position, entry->NetworkPort != 0,
        entry->NetworkResolved == 1 ? std::string(field(entry->OriginalPortName)) + "(" + port + ")" : port);
    if (entry->MonitorActive != 0) return m_items.setPortName(position, port);
    m_items.setPortName(position, "");
    // A printer not yet monitoring gives way to one monitoring on the same local port; network paths
    // (a leading backslash) never meet.
    if (port.empty() || port.front() == '\\') return;
    for (int q = 0; q < m_items.count(); ++q) {
        const ListRows::Item& other = m_items.item(q);
        if (other.monitorable() && plat::text::equalWholeIgnoringCase(port, other.portName)) {
            requestClose(m_slots.view(slot));
            m_items.markCannotMonitor(position);
            return;
        }
    }
}

void RowPoller::monitoringColumn(int slot, int position, Row& row, const PrinterEntry* entry)
{
    if (row.state == MonitorState::CannotMonitor) return;
    MonitorState state = MonitorState::CannotMonitor;
    if (m_slots.view(slot) != nullptr) {
        if (entry == nullptr) return;
        state = entry->MonitorActive != 0 ? MonitorState::Monitoring : MonitorState::NotMonitoring;
    }
    if (state == row.state) return;
    row.state = state;
    if (state == MonitorState::Monitoring) refreshJobs(slot, position, row, *entry);
    if (state == MonitorState::CannotMonitor) {
        row.printerState = row.jobCount = -1;
        m_items.setText(position, 2, "");
        m_items.setText(position, 3, "");
    }
    m_items.setText(position, 1, listText(kMonitoringTexts + static_cast<int>(state)));
}

void RowPoller::printerStateColumn(int position, Row& row, const PrinterEntry* entry)
{
    if (entry == nullptr) return;
    if (row.state != MonitorState::Monitoring) {
        row.printerState = -1;
        return m_items.setText(position, 2, "");
    }
    const int state = static_cast<int>(entry->PrinterState);
    if (state == row.printerState) return;
    row.printerState = state;
    m_items.setText(position, 2, listText(kPrinterStateTexts + state));
}

void RowPoller::refreshJobs(int slot, int position, Row& row, const PrinterEntry& entry)
{
    if (row.state != MonitorState::Monitoring) {
        row.jobCount = -1;
        return m_items.setText(position, 3, "");
    }
    const std::string printer(field(entry.PrinterName));
    const int jobs = static_cast<int>(dwGetPrinterJobCount(printer.c_str()));
    if (jobs == row.jobCount) return;
    m_items.setText(position, 3, std::to_string(jobs));
    row.jobCount = jobs;
    storeJobCount(m_slots.view(slot), jobs);
}

void RowPoller::spoolerChanged()
{
    for (int p = 0; p < m_items.count(); ++p) {
        const ListRows::Item& item = m_items.item(p);
        if (!item.monitorable()) continue;
        PrinterEntry entry{};
        Row* row = m_items.row(item.row());
        if (row != nullptr && record(item.slot(), entry)) refreshJobs(item.slot(), p, *row, entry);
    }
}

}  // namespace watchlist
