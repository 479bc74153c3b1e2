// The simulated-printer backend against a server that misbehaves: one that accepts and never says a
// word, and one that opens the port and then never answers. Every call must give up on its own.

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "plat/port/port.h"
#include "plat/port/sim_protocol.h"
#include "testsupport/temp_root.h"

using namespace std::chrono_literals;
namespace port = plat::port;
namespace sim = plat::port::sim;

namespace {

// A printer server on a Unix socket that accepts connections and, when `answersOpen`, answers the open
// request; after that it reads nothing and answers nothing.
class MuteServer {
public:
    MuteServer(const std::string& path, bool answersOpen)
    {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        m_listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        m_ok = m_listener >= 0 && ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
               ::listen(m_listener, 4) == 0;
        if (!m_ok) return;
        m_thread = std::thread([this, answersOpen] {
            for (;;) {
                int fd = ::accept(m_listener, nullptr, nullptr);
                if (fd < 0) return;  // shut down
                if (answersOpen && sim::receiveFrame(fd)) sim::sendFrame(fd, 0, {});
                std::lock_guard lock(m_mutex);
                m_connections.push_back(fd);  // held open, never answered
            }
        });
    }
    ~MuteServer()
    {
        if (m_listener >= 0) ::shutdown(m_listener, SHUT_RDWR);
        if (m_thread.joinable()) m_thread.join();
        if (m_listener >= 0) ::close(m_listener);
        for (int fd : m_connections) ::close(fd);
    }
    bool ok() const { return m_ok; }

private:
    int m_listener = -1;
    bool m_ok = false;
    std::thread m_thread;
    std::mutex m_mutex;
    std::vector<int> m_connections;
};

std::span<const std::byte> bytes(const char* text) { return std::as_bytes(std::span(text, std::strlen(text))); }

class SimPort : public testsupport::RootTest {
protected:
    std::string socketPath() const { return (root.path() / "mute.sock").string(); }
};

}  // namespace

TEST_F(SimPort, AServerThatNeverAnswersTheOpenFailsTheOpen)
{
    MuteServer server(socketPath(), /*answersOpen=*/false);
    ASSERT_TRUE(server.ok());
    ASSERT_TRUE(port::mapPort(testsupport::rootStore(), "LPT7:", "sim:" + socketPath()));
    auto opened = port::openPort(testsupport::rootStore(), "LPT7:");
    EXPECT_FALSE(opened.ok()) << "the open gives up after its bound";
}

TEST_F(SimPort, APrinterThatNeverAnswersFailsEveryCallWithinItsTimeOut)
{
    MuteServer server(socketPath(), /*answersOpen=*/true);
    ASSERT_TRUE(server.ok());
    auto opened = port::openTarget("sim:" + socketPath());
    ASSERT_TRUE(opened.ok()) << opened.error().detail;
    auto& p = *opened.value();
    p.setTimeouts({20ms, 100ms, 100ms});
    std::byte buffer[64];
    EXPECT_EQ(p.read(buffer), -1);
    // The connection is out of step now; the other calls fail without waiting again.
    EXPECT_EQ(p.write(bytes("ST")), -1);
    EXPECT_EQ(p.deviceId(buffer), -1);
    p.purgeReceive();
}

TEST_F(SimPort, AnInterruptEndsTheOpenAndTheCalls)
{
    MuteServer silent(socketPath(), /*answersOpen=*/false);
    ASSERT_TRUE(silent.ok());
    port::Interrupt interrupt;
    EXPECT_FALSE(interrupt.raised());
    interrupt.raise();
    EXPECT_TRUE(interrupt.raised());
    EXPECT_FALSE(port::openTarget("sim:" + socketPath(), &interrupt).ok());
    EXPECT_FALSE(interrupt.sleepFor(1h)) << "a raised interrupt ends a sleep at once";
    interrupt.clear();
    EXPECT_FALSE(interrupt.raised());
    EXPECT_TRUE(interrupt.sleepFor(1ms));

    // A read that would wait an hour for the printer ends when the interrupt is raised meanwhile.
    const auto answering = (root.path() / "answers.sock").string();
    MuteServer server(answering, /*answersOpen=*/true);
    ASSERT_TRUE(server.ok());
    auto opened = port::openTarget("sim:" + answering, &interrupt);
    ASSERT_TRUE(opened.ok()) << opened.error().detail;
    opened.value()->setTimeouts({20ms, 1h, 1h});
    std::thread stopper([&] { interrupt.raise(); });
    std::byte buffer[64];
    EXPECT_EQ(opened.value()->read(buffer), -1);
    stopper.join();
}
