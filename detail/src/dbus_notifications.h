#pragma once
// The desktop's notification service, org.freedesktop.Notifications on the session bus, through QtDBus.
// Every call is asynchronous: without a bus or a service the answer is a failure that comes later, and
// nothing waits for it. The object lives on the thread that made it, which must run an event loop: its
// answers and the service's signals arrive there.

#include <QDBusConnection>
#include <QObject>
#include <QPointer>
#include <QString>
#include <memory>
#include <optional>

#include "notifications.h"

class QDBusPendingCallWatcher;

namespace watchpanel {

class DBusNotifications final : public QObject, public NotificationService {
    Q_OBJECT
public:
    explicit DBusNotifications(const QDBusConnection& bus);
    ~DBusNotifications() override;

    void notify(const Notice& notice, std::uint32_t replacesId, std::function<void(std::uint32_t)> shown) override;
    void close(std::uint32_t id) override;
    void afterClose(std::function<void()> then) override;

private slots:
    void onActionInvoked(uint id, const QString& action);
    void onNotificationClosed(uint id, uint reason);

private:
    void send(const Notice& notice, std::uint32_t replacesId, std::function<void(std::uint32_t)> shown);

    QDBusConnection m_bus;
    std::optional<bool> m_markup;                 // whether the service reads markup in a body; asked before the first
    QPointer<QDBusPendingCallWatcher> m_closing;  // the last close, until it is answered
};

// The session bus's notification service, for the calling thread.
std::unique_ptr<NotificationService> makeDesktopNotifications();

}  // namespace watchpanel
