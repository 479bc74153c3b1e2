#pragma once
// The printer's alerts on the desktop's notifications. An alert the rule lets through at warning or
// error level puts up one notification for the printer; a later one replaces it, the printer back at
// normal level takes it down, and clicking it brings up the detail window. The notification service
// is reached through NotificationService, whose calls never wait: the program's is the desktop's over
// D-Bus (dbus_notifications.h), tests may drive DesktopNotifier with a fake.
//
// Threads: a DesktopNotifier and its service are used by one thread, the one the service reports on.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "printer_entry.h"

namespace watchpanel {

// The desktop id of the system, which the notification service finds the application's entry by.
inline constexpr const char* kDesktopId = "com.velta.Kestrel";
// The action a click on the notification itself invokes.
inline constexpr const char* kDefaultAction = "default";

// One printer's notification.
struct Notice {
    std::string summary;   // the printer's name
    std::string body;      // the status message and, on the next line, what to do about it
    std::uint8_t urgency;  // 1 warning, 2 error
    std::string category;  // "device" for a warning, "device.error" for an error

    bool operator==(const Notice&) const = default;
};

// What a status refresh does to the printer's notification.
enum class NoticeStep { Keep, Show, Close };
// Show for an alert the rule let through (`alertFired`) at warning or error level, Close at normal level
// and whenever notifications are off; Keep otherwise (the same alert goes on, or one at a level that
// says nothing).
NoticeStep noticeStep(const PrinterEntry& entry, bool alertFired, bool enabled);
// The notification of the entry's status, the message with its ink name (`paper` the entry's paper
// block); nothing at normal level or when the status has no message.
std::optional<Notice> noticeFor(const std::string& printer, const PrinterEntry& entry, const std::int32_t* paper);

// The desktop's notification service, asynchronous: a call returns at once, what it answers comes later
// on the service's thread, and without a service nothing comes but a failure.
class NotificationService {
public:
    virtual ~NotificationService() = default;
    // Puts up `notice` in place of notification `replacesId` (0: a new one); `shown` gets its id, or 0
    // when it was not shown.
    virtual void notify(const Notice& notice, std::uint32_t replacesId, std::function<void(std::uint32_t)> shown) = 0;
    virtual void close(std::uint32_t id) = 0;
    // Runs `then` once the last close() has been answered, at once when it was or none was made: at the
    // program's end a close still on its way would be lost with the connection.
    virtual void afterClose(std::function<void()> then) { then(); }
    // Where the service reports that the user invoked an action of a notification, and that one was
    // closed (by the user, by expiring or on request). Set before the first notify().
    std::function<void(std::uint32_t id, const std::string& action)> actionInvoked;
    std::function<void(std::uint32_t id)> closed;
};

// The printer's one notification. Calls made while the service has not answered the last notify() yet
// wait for its id, so a replacement or a close always names the notification it means; of several
// such calls the last one counts.
class DesktopNotifier {
public:
    // `activate` runs when the user clicks the notification on the desktop.
    DesktopNotifier(std::unique_ptr<NotificationService> service, std::function<void()> activate);
    ~DesktopNotifier();
    DesktopNotifier(const DesktopNotifier&) = delete;
    DesktopNotifier& operator=(const DesktopNotifier&) = delete;

    void show(const Notice& notice);
    void close();
    // Closes the notification; `then` runs once the service has answered (the notify() still on its way
    // and the close after it).
    void closeLast(std::function<void()> then);
    // The notification on the desktop, 0 when there is none (or its id is not known yet).
    std::uint32_t shownId() const { return m_id; }
    // Whether a notify() waits for its answer.
    bool waiting() const { return m_waiting; }

private:
    void send(const Notice& notice);
    void answered(std::uint32_t id);

    std::function<void()> m_activate;
    std::uint32_t m_id = 0;
    bool m_waiting = false;
    std::optional<Notice> m_next;        // to show once the answer came
    bool m_closeNext = false;            // to close once the answer came
    std::function<void()> m_afterClose;  // closeLast()'s, once that close was sent
    // Last, so it goes first: no answer comes to a notifier half gone.
    std::unique_ptr<NotificationService> m_service;
};

}  // namespace watchpanel
