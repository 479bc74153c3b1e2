// The desktop's notifications over a session bus of the test's own (the test runs under dbus-run-session):
// a notification server in this process, on a connection of its own, sees what the notifier sends, and
// its signals come back. Without a server, or without a bus, nothing is shown and nothing waits.

#include "dbus_notifications.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QObject>
#include <QTest>
#include <QVariantMap>
#include <atomic>
#include <vector>

#include "plat/gui/worker.h"
#include "resources/language.h"

using namespace watchpanel;

namespace {

bool eventually(const std::function<bool()>& condition) { return QTest::qWaitFor(condition, 30000); }

// The freedesktop notification server's calls, recorded; ids count from 1.
class NotificationServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Notified {
        QString appName;
        uint replacesId;
        QString appIcon, summary, body;
        QStringList actions;
        QVariantMap hints;
        int timeout;
    };

    explicit NotificationServer(const QDBusConnection& bus) : m_bus(bus)
    {
        registered = m_bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), this,
                                          QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals) &&
                     m_bus.registerService(QStringLiteral("org.freedesktop.Notifications"));
    }
    ~NotificationServer() override
    {
        m_bus.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
        m_bus.unregisterObject(QStringLiteral("/org/freedesktop/Notifications"));
    }

    bool registered = false;
    std::vector<Notified> notified;
    std::vector<uint> closed;

public slots:
    QStringList GetCapabilities()
    {
        return {QStringLiteral("body"), QStringLiteral("body-markup"), QStringLiteral("actions")};
    }
    uint Notify(const QString& appName, uint replacesId, const QString& appIcon, const QString& summary,
                const QString& body, const QStringList& actions, const QVariantMap& hints, int timeout)
    {
        notified.push_back({appName, replacesId, appIcon, summary, body, actions, hints, timeout});
        return replacesId != 0 ? replacesId : ++m_lastId;
    }
    void CloseNotification(uint id)
    {
        closed.push_back(id);
        emit NotificationClosed(id, 3);
    }

signals:
    void ActionInvoked(uint id, const QString& actionKey);
    void NotificationClosed(uint id, uint reason);

private:
    QDBusConnection m_bus;
    uint m_lastId = 0;
};

class DesktopNotifications : public testing::Test {
protected:
    std::unique_ptr<DesktopNotifier> notifier()
    {
        return std::make_unique<DesktopNotifier>(makeDesktopNotifications(), [this] { ++activated; });
    }
    static Notice notice(const std::string& body) { return {"Office 2F", body, 2, "device.error"}; }

    int activated = 0;
};

TEST_F(DesktopNotifications, TheServerGetsOneNotificationPerPrinterReplacedAndClosed)
{
    if (!QDBusConnection::sessionBus().isConnected()) GTEST_SKIP() << "no session bus: run under dbus-run-session";
    QDBusConnection serverBus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "notification-server");
    NotificationServer server(serverBus);
    ASSERT_TRUE(server.registered) << serverBus.lastError().message().toStdString();
    auto shown = notifier();

    shown->show(notice("用紙がありません。\n用紙をセットしてください。"));
    ASSERT_TRUE(eventually([&] { return shown->shownId() != 0; }));
    ASSERT_EQ(server.notified.size(), 1u);
    const NotificationServer::Notified& first = server.notified[0];
    EXPECT_EQ(first.appName, QString::fromUtf8("VELTA ｹｽﾄﾚﾙ"));
    EXPECT_EQ(first.replacesId, 0u);
    EXPECT_EQ(first.appIcon, QStringLiteral("com.velta.Kestrel"));
    EXPECT_EQ(first.summary, QStringLiteral("Office 2F"));
    EXPECT_EQ(first.body, QString::fromUtf8("用紙がありません。\n用紙をセットしてください。"));
    EXPECT_EQ(first.actions, (QStringList{QStringLiteral("default"), QString::fromUtf8("詳細を表示")}));
    EXPECT_EQ(first.hints.value(QStringLiteral("urgency")).toInt(), 2);
    EXPECT_EQ(first.hints.value(QStringLiteral("urgency")).metaType(), QMetaType::fromType<uchar>()) << "a byte";
    EXPECT_EQ(first.hints.value(QStringLiteral("category")).toString(), QStringLiteral("device.error"));
    EXPECT_EQ(first.hints.value(QStringLiteral("desktop-entry")).toString(), QStringLiteral("com.velta.Kestrel"));
    EXPECT_EQ(first.timeout, -1) << "the server's own expiry";

    // The next alert replaces it; a server that reads markup gets the body's markup characters escaped.
    Notice warning{"Office 2F", "Toner <low> & paper low", 1, "device"};
    shown->show(warning);
    ASSERT_TRUE(eventually([&] { return server.notified.size() == 2 && !shown->waiting(); }));
    EXPECT_EQ(server.notified[1].replacesId, shown->shownId());
    EXPECT_EQ(server.notified[1].body, QStringLiteral("Toner &lt;low&gt; &amp; paper low"));
    EXPECT_EQ(server.notified[1].hints.value(QStringLiteral("urgency")).toInt(), 1);
    EXPECT_EQ(server.notified[1].hints.value(QStringLiteral("category")).toString(), QStringLiteral("device"));

    // Back at normal level: closed, and the answer reported.
    const uint id = shown->shownId();
    bool answered = false;
    shown->closeLast([&] { answered = true; });
    ASSERT_TRUE(eventually([&] { return answered; }));
    EXPECT_EQ(server.closed, std::vector<uint>{id});
}

TEST_F(DesktopNotifications, AClickOnTheNotificationActivatesAndAClosedOneIsForgotten)
{
    if (!QDBusConnection::sessionBus().isConnected()) GTEST_SKIP() << "no session bus: run under dbus-run-session";
    QDBusConnection serverBus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "notification-server");
    NotificationServer server(serverBus);
    ASSERT_TRUE(server.registered);
    auto shown = notifier();
    shown->show(notice("paper out"));
    ASSERT_TRUE(eventually([&] { return shown->shownId() != 0; }));
    const uint id = shown->shownId();

    emit server.ActionInvoked(id + 1, QStringLiteral("default"));  // another program's
    emit server.ActionInvoked(id, QStringLiteral("default"));
    ASSERT_TRUE(eventually([&] { return activated == 1; }));

    emit server.NotificationClosed(id, 2);  // dismissed by the user
    ASSERT_TRUE(eventually([&] { return shown->shownId() == 0; }));
    shown->show(notice("cover open"));
    ASSERT_TRUE(eventually([&] { return server.notified.size() == 2 && !shown->waiting(); }));
    EXPECT_EQ(server.notified[1].replacesId, 0u) << "a new one";
    EXPECT_EQ(activated, 1);
}

// As the program runs it: the notifier made and used on a worker thread of its own, the answers and the
// server's signals arriving there.
TEST_F(DesktopNotifications, OnAWorkerThreadTheAnswersAndTheClickArriveThere)
{
    if (!QDBusConnection::sessionBus().isConnected()) GTEST_SKIP() << "no session bus: run under dbus-run-session";
    QDBusConnection serverBus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "notification-server");
    NotificationServer server(serverBus);
    ASSERT_TRUE(server.registered);
    plat::gui::Worker worker("notify-test");
    std::unique_ptr<DesktopNotifier> shown;
    std::atomic<std::uint32_t> id{0};
    std::atomic<bool> clickedOnWorker{false};
    worker.post([&] {
        shown = std::make_unique<DesktopNotifier>(makeDesktopNotifications(),
                                                  [&] { clickedOnWorker = worker.onWorkerThread(); });
        shown->show(notice("paper out"));
    });
    auto readId = [&] {
        worker.post([&] { id = shown->shownId(); });
        return id.load() != 0;
    };
    ASSERT_TRUE(eventually(readId));
    emit server.ActionInvoked(id.load(), QStringLiteral("default"));
    EXPECT_TRUE(eventually([&] { return clickedOnWorker.load(); }));
    worker.post([&] { shown.reset(); });
    worker.stop();
}

// Also run with a bus address that leads nowhere (see the CMake file): the same, without a bus.
TEST_F(DesktopNotifications, WithoutAServerTheCallsReturnAtOnceAndNothingIsShown)
{
    auto shown = notifier();
    shown->show(notice("paper out"));
    EXPECT_TRUE(shown->waiting()) << "returned before any answer";
    shown->show(notice("cover open"));
    shown->close();
    bool answered = false;
    shown->closeLast([&] { answered = true; });
    EXPECT_FALSE(answered) << "the close waits for the show before it";
    ASSERT_TRUE(eventually([&] { return !shown->waiting() && answered; }));
    EXPECT_EQ(shown->shownId(), 0u);
    shown->show(notice("jam"));
    ASSERT_TRUE(eventually([&] { return !shown->waiting(); }));
    EXPECT_EQ(shown->shownId(), 0u);
    EXPECT_EQ(activated, 0);
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    kestrel::useLanguage("ja");
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

#include "dbus_notifications_test.moc"
