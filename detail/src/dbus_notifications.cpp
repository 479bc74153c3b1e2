#include "dbus_notifications.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QMetaObject>
#include <QStringList>
#include <QVariantMap>
#include <utility>

#include "watchpanel/texts.h"

namespace watchpanel {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
constexpr int kAppName = 21130, kShowAction = 21131;
constexpr int kServerDefaultExpiry = -1;

QString fromUtf8(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

QString escaped(const QString& text)
{
    QString out = text;
    out.replace(u'&', QStringLiteral("&amp;"))
        .replace(u'<', QStringLiteral("&lt;"))
        .replace(u'>', QStringLiteral("&gt;"));
    return out;
}

}  // namespace

DBusNotifications::DBusNotifications(const QDBusConnection& bus) : m_bus(bus)
{
    // By the service's name: a signal of another program that plays the same path is not taken.
    m_bus.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                  SLOT(onActionInvoked(uint, QString)));
    m_bus.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                  SLOT(onNotificationClosed(uint, uint)));
}

DBusNotifications::~DBusNotifications() = default;

void DBusNotifications::notify(const Notice& notice, std::uint32_t replacesId, std::function<void(std::uint32_t)> shown)
{
    if (!m_bus.isConnected()) {
        // No bus: a call would never be answered at all. Answered here instead, later, as a service would.
        QMetaObject::invokeMethod(
            this, [shown = std::move(shown)] { shown(0); }, Qt::QueuedConnection);
        return;
    }
    if (m_markup) return send(notice, replacesId, std::move(shown));
    // Whether the body is read as markup decides how it is written: asked once, before the first.
    auto* watcher = new QDBusPendingCallWatcher(
        m_bus.asyncCall(QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("GetCapabilities"))),
        this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, notice, replacesId, shown = std::move(shown)](QDBusPendingCallWatcher* call) mutable {
                call->deleteLater();
                const QDBusPendingReply<QStringList> reply = *call;
                if (reply.isError()) {
                    // No service: asked again next time, when one may have started.
                    if (shown) shown(0);
                    return;
                }
                m_markup = reply.value().contains(QStringLiteral("body-markup"));
                send(notice, replacesId, std::move(shown));
            });
}

void DBusNotifications::send(const Notice& notice, std::uint32_t replacesId, std::function<void(std::uint32_t)> shown)
{
    const QString body = fromUtf8(notice.body);
    QVariantMap hints;
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue<uchar>(notice.urgency));
    hints.insert(QStringLiteral("category"), fromUtf8(notice.category));
    hints.insert(QStringLiteral("desktop-entry"), QString::fromLatin1(kDesktopId));
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    call << fromUtf8(text(kAppName).value_or("")) << static_cast<uint>(replacesId) << QString::fromLatin1(kDesktopId)
         << fromUtf8(notice.summary) << (m_markup.value_or(false) ? escaped(body) : body)
         << QStringList{QString::fromLatin1(kDefaultAction), fromUtf8(text(kShowAction).value_or(""))} << hints
         << kServerDefaultExpiry;
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [shown = std::move(shown)](QDBusPendingCallWatcher* answered) {
                answered->deleteLater();
                const QDBusPendingReply<uint> reply = *answered;
                if (shown) shown(reply.isError() ? 0 : reply.value());
            });
}

void DBusNotifications::close(std::uint32_t id)
{
    if (!m_bus.isConnected()) return;
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("CloseNotification"));
    call << static_cast<uint>(id);
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, watcher, &QObject::deleteLater);
    m_closing = watcher;
}

void DBusNotifications::afterClose(std::function<void()> then)
{
    if (m_closing.isNull()) return then();
    connect(m_closing.data(), &QDBusPendingCallWatcher::finished, this, [then = std::move(then)] { then(); });
}

void DBusNotifications::onActionInvoked(uint id, const QString& action)
{
    if (actionInvoked) actionInvoked(id, action.toStdString());
}

void DBusNotifications::onNotificationClosed(uint id, uint)
{
    if (closed) closed(id);
}

std::unique_ptr<NotificationService> makeDesktopNotifications()
{
    return std::make_unique<DBusNotifications>(QDBusConnection::sessionBus());
}

}  // namespace watchpanel
