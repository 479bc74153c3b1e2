#include "notifications.h"

#include <utility>

#include "watchpanel/status_page.h"

namespace watchpanel {

namespace {

constexpr int kMessageControl = 1306, kActionControl = 1307;

}  // namespace

NoticeStep noticeStep(const PrinterEntry& entry, bool alertFired, bool enabled)
{
    if (!enabled || entry.PrinterState == 0) return NoticeStep::Close;
    if (alertFired && (entry.PrinterState == 1 || entry.PrinterState == 2)) return NoticeStep::Show;
    return NoticeStep::Keep;
}

std::optional<Notice> noticeFor(const std::string& printer, const PrinterEntry& entry, const std::int32_t* paper)
{
    if (entry.PrinterState != 1 && entry.PrinterState != 2) return std::nullopt;
    std::optional<std::string> message, action;
    for (ControlChange& change : statusChanges(entry, paper)) {
        if (change.kind != ControlChange::Kind::Text) continue;
        if (change.control == kMessageControl) message = std::move(change.text);
        if (change.control == kActionControl) action = std::move(change.text);
    }
    if (!message || message->empty()) return std::nullopt;
    const bool error = entry.PrinterState == 2;
    Notice notice{printer, *message, static_cast<std::uint8_t>(error ? 2 : 1), error ? "device.error" : "device"};
    if (action && !action->empty()) notice.body += "\n" + *action;
    return notice;
}

DesktopNotifier::DesktopNotifier(std::unique_ptr<NotificationService> service, std::function<void()> activate)
    : m_activate(std::move(activate)), m_service(std::move(service))
{
    m_service->actionInvoked = [this](std::uint32_t id, const std::string& action) {
        // Every client of the service hears every notification's actions: only ours count.
        if (id != 0 && id == m_id && action == kDefaultAction && m_activate) m_activate();
    };
    m_service->closed = [this](std::uint32_t id) {
        if (id != 0 && id == m_id) m_id = 0;
    };
}

DesktopNotifier::~DesktopNotifier() = default;

void DesktopNotifier::show(const Notice& notice)
{
    if (m_waiting) {
        m_next = notice;
        m_closeNext = false;
        return;
    }
    send(notice);
}

void DesktopNotifier::close()
{
    if (m_waiting) {
        m_next.reset();
        m_closeNext = true;
        return;
    }
    if (m_id == 0) return;
    m_service->close(m_id);
    m_id = 0;
}

void DesktopNotifier::closeLast(std::function<void()> then)
{
    close();
    if (m_waiting) m_afterClose = std::move(then);
    else m_service->afterClose(std::move(then));
}

void DesktopNotifier::send(const Notice& notice)
{
    m_waiting = true;
    m_service->notify(notice, m_id, [this](std::uint32_t id) { answered(id); });
}

void DesktopNotifier::answered(std::uint32_t id)
{
    m_waiting = false;
    // Refused or no service: the one shown before, if any, is still the one to replace or close.
    if (id != 0) m_id = id;
    if (m_closeNext) {
        m_closeNext = false;
        close();
        if (m_afterClose) m_service->afterClose(std::exchange(m_afterClose, nullptr));
    } else if (m_next) {
        const Notice next = *std::exchange(m_next, std::nullopt);
        send(next);
    }
}

}  // namespace watchpanel
