// What a screen reader hears: the detail window of a simulated printer, shown on a private X server with
// the desktop's accessibility bus of a private session bus, read through AT-SPI as a screen reader reads
// it. The header's output destination must be read out with its value ("LPT1:"), not only its caption.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusVariant>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "testsupport/run_program.h"
#include "testsupport/simulator.h"
#include "testsupport/temp_root.h"

extern char** environ;

namespace {

// A program in the background whose standard output (or another descriptor) the test reads; ended with
// SIGTERM, then SIGKILL, when the test is done.
class Background {
public:
    // `reportFd` is the child's descriptor that the test reads (1 for its standard output).
    Background(std::vector<std::string> argv, int reportFd)
    {
        int pipeFds[2];
        if (::pipe2(pipeFds, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], reportFd);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        if (reportFd != 2) posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        std::vector<char*> args;
        for (auto& a : argv) args.push_back(a.data());
        args.push_back(nullptr);
        if (::posix_spawnp(&m_pid, args[0], &actions, nullptr, args.data(), environ) != 0) m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(pipeFds[1]);
        m_report = pipeFds[0];
    }
    ~Background()
    {
        if (m_report >= 0) ::close(m_report);
        if (m_pid <= 0) return;
        ::kill(m_pid, SIGTERM);
        if (!testsupport::waitUntil([&] { return ::waitpid(m_pid, nullptr, WNOHANG) == m_pid; })) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    Background(const Background&) = delete;
    Background& operator=(const Background&) = delete;

    // The first line the program reports (without its line break); nothing when it ends first.
    std::optional<std::string> firstLine()
    {
        std::string line;
        char c = 0;
        while (m_pid > 0 && ::read(m_report, &c, 1) == 1) {
            if (c == '\n') return line;
            line += c;
        }
        return std::nullopt;
    }

private:
    pid_t m_pid = -1;
    int m_report = -1;
};

bool installed(const char* path) { return ::access(path, X_OK) == 0; }

// One node of the accessibility tree, as AT-SPI names it: the bus name of its application and its path.
struct Node {
    QString service;
    QString path;
};

std::vector<Node> children(QDBusConnection& bus, const Node& node)
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        node.service, node.path, QStringLiteral("org.a11y.atspi.Accessible"), QStringLiteral("GetChildren"));
    const QDBusMessage answer = bus.call(call, QDBus::Block, 5000);
    std::vector<Node> found;
    if (answer.type() != QDBusMessage::ReplyMessage || answer.arguments().isEmpty()) return found;
    const QDBusArgument list = answer.arguments().first().value<QDBusArgument>();
    list.beginArray();
    while (!list.atEnd()) {
        QString service;
        QDBusObjectPath path;
        list.beginStructure();
        list >> service >> path;
        list.endStructure();
        found.push_back({service, path.path()});
    }
    list.endArray();
    return found;
}

QString property(QDBusConnection& bus, const Node& node, const char* name)
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        node.service, node.path, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    call << QStringLiteral("org.a11y.atspi.Accessible") << QString::fromLatin1(name);
    const QDBusMessage answer = bus.call(call, QDBus::Block, 5000);
    if (answer.type() != QDBusMessage::ReplyMessage || answer.arguments().isEmpty()) return {};
    return answer.arguments().first().value<QDBusVariant>().variant().toString();
}

// Every node's name and description, depth first from the registry's root.
std::vector<std::pair<QString, QString>> readTree(QDBusConnection& bus)
{
    std::vector<std::pair<QString, QString>> texts;
    std::function<void(const Node&, int)> walk = [&](const Node& node, int depth) {
        texts.emplace_back(property(bus, node, "Name"), property(bus, node, "Description"));
        if (depth > 30) return;
        for (const Node& child : children(bus, node)) walk(child, depth + 1);
    };
    walk({QStringLiteral("org.a11y.atspi.Registry"), QStringLiteral("/org/a11y/atspi/accessible/root")}, 0);
    return texts;
}

TEST(ScreenReader, HearsTheOutputDestinationOfTheDetailWindowsHeader)
{
    for (const char* program : {"/usr/bin/Xvfb", "/usr/bin/dbus-daemon", "/usr/libexec/at-spi-bus-launcher"}) {
        if (!installed(program)) GTEST_SKIP() << program << " is not installed (scripts/install-deps installs it)";
    }
    testsupport::TempRoot root;
    // A session bus of the test's own, which starts the accessibility bus when the window asks for it.
    Background session({"dbus-daemon", "--session", "--nofork", "--print-address=1"}, 1);
    const std::optional<std::string> address = session.firstLine();
    ASSERT_TRUE(address) << "the session bus did not start";
    // A private X server on the first free display.
    Background x({"Xvfb", "-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"}, 1);
    const std::optional<std::string> display = x.firstLine();
    ASSERT_TRUE(display) << "Xvfb did not start";

    ::setenv("DBUS_SESSION_BUS_ADDRESS", address->c_str(), 1);
    ::setenv("DISPLAY", (":" + *display).c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    // Qt otherwise waits for the desktop to say a screen reader runs.
    ::setenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1", 1);
    ::setenv("KESTREL_MESSAGE_BOXES", "stderr", 1);
    ::setenv("LC_ALL", "ja_JP.UTF-8", 1);  // the window in the system's own texts
    for (const auto& args : std::vector<std::vector<std::string>>{
             {SPOOLCTL_PROGRAM, "install-models"},
             {SPOOLCTL_PROGRAM, "add-port", "LPT1:", "--sim"},
             {SPOOLCTL_PROGRAM, "add-printer", "Office", "--driver", "VELTA PG-03", "--port", "LPT1:"}}) {
        const auto run = testsupport::runProgram(args);
        ASSERT_EQ(run.exitCode, 0) << run.err;
    }
    testsupport::Simulator sim(VPRINTER_PROGRAM, R"({"printers": [{"port": "LPT1:", "model": "PG-03"}]})");
    ASSERT_TRUE(sim.ready()) << sim.output();
    Background panel({KESTREL_PANEL_PROGRAM, "Office", "--show", "--seconds", "120"}, 1);

    QDBusConnection session_bus = QDBusConnection::connectToBus(QString::fromStdString(*address), "session");
    ASSERT_TRUE(session_bus.isConnected());
    QDBusConnection a11y("a11y");
    std::vector<std::pair<QString, QString>> tree;
    const bool heard = testsupport::waitUntil(
        [&] {
            if (!a11y.isConnected()) {
                QDBusMessage call =
                    QDBusMessage::createMethodCall(QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
                                                   QStringLiteral("org.a11y.Bus"), QStringLiteral("GetAddress"));
                const QDBusReply<QString> bus = session_bus.call(call, QDBus::Block, 5000);
                if (!bus.isValid()) return false;
                a11y = QDBusConnection::connectToBus(bus.value(), "a11y");
                if (!a11y.isConnected()) return false;
            }
            tree = readTree(a11y);
            for (const auto& [name, description] : tree) {
                if (name == QString::fromUtf8("出力先") && description == QStringLiteral("LPT1:")) return true;
            }
            return false;
        },
        std::chrono::seconds(60));
    std::string read;
    for (const auto& [name, description] : tree) read += name.toStdString() + " / " + description.toStdString() + "\n";
    EXPECT_TRUE(heard) << "what the screen reader read:\n" << read;
    // The printer's name and model go with their captions too.
    bool name = false;
    for (const auto& [caption, value] : tree)
        name = name || (caption == QString::fromUtf8("プリンタ名") && value == "Office");
    EXPECT_TRUE(name) << read;
    QDBusConnection::disconnectFromBus("a11y");
    QDBusConnection::disconnectFromBus("session");
}

}  // namespace
