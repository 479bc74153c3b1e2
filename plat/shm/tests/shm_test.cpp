#include "plat/shm/shm.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <initializer_list>

#include "testsupport/temp_root.h"

namespace shm = plat::shm;

class SharedMemory : public testsupport::RootTest {};

TEST_F(SharedMemory, AClientSeesWhatTheServerWritesAndBack)
{
    auto server = shm::create("WTCHM0", 1816);
    ASSERT_TRUE(server.ok()) << server.error().detail;
    EXPECT_EQ(server.value()->size(), 1816u);
    EXPECT_FALSE(server.value()->existed());
    auto serverView = shm::mapView(*server.value());
    ASSERT_TRUE(serverView.ok());
    EXPECT_EQ(shm::viewSize(serverView.value()), 1816u);
    auto* s = static_cast<unsigned char*>(serverView.value());
    for (int i = 0; i < 1816; ++i) ASSERT_EQ(s[i], 0) << "a new mapping is zero-filled";
    std::memcpy(s, "server", 7);

    auto client = shm::open("WTCHM0");
    ASSERT_TRUE(client.ok()) << client.error().detail;
    EXPECT_EQ(client.value()->size(), 1816u);
    auto clientView = shm::mapView(*client.value());
    ASSERT_TRUE(clientView.ok());
    EXPECT_STREQ(static_cast<char*>(clientView.value()), "server");
    std::memcpy(static_cast<char*>(clientView.value()) + 100, "client", 7);
    EXPECT_STREQ(reinterpret_cast<char*>(s + 100), "client");

    EXPECT_TRUE(shm::unmapView(clientView.value()));
    EXPECT_FALSE(shm::unmapView(clientView.value())) << "a view is unmapped once";
    EXPECT_TRUE(shm::unmapView(serverView.value()));
}

TEST_F(SharedMemory, TheObjectIsPrivateToTheUserWhateverTheUmask)
{
    for (mode_t mask : {mode_t{0}, mode_t{0022}, mode_t{0277}}) {
        const mode_t old = ::umask(mask);
        auto server = shm::create("WTCHM1", 64);
        ::umask(old);
        ASSERT_TRUE(server.ok()) << server.error().detail;
        int fd = ::shm_open(shm::objectName("WTCHM1").c_str(), O_RDONLY, 0);
        ASSERT_GE(fd, 0);
        struct stat info {};
        ASSERT_EQ(::fstat(fd, &info), 0);
        EXPECT_EQ(info.st_mode & 07777, 0600u) << "umask " << std::oct << mask;
        ::close(fd);
    }
}

TEST_F(SharedMemory, AnObjectOfTheNameThatAnotherUserMadeIsNeverUsed)
{
    if (::geteuid() != 0) GTEST_SKIP() << "making an object of another user needs root";
    const std::string object = shm::objectName("WTCHM4");
    int fd = ::shm_open(object.c_str(), O_RDWR | O_CREAT | O_EXCL, 0666);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, 1816), 0);
    ASSERT_EQ(::fchown(fd, 65534, 65534), 0);
    ::close(fd);

    EXPECT_FALSE(shm::create("WTCHM4", 1816).ok()) << "a server must not write where another user reads";
    EXPECT_FALSE(shm::open("WTCHM4").ok()) << "a client must not read what another user wrote";
    auto removed = shm::removeStaleObjects();
    ASSERT_TRUE(removed.ok()) << removed.error().detail;
    EXPECT_EQ(removed.value(), 0u);
    fd = ::shm_open(object.c_str(), O_RDONLY, 0);
    EXPECT_GE(fd, 0) << "it is not ours to remove";
    if (fd >= 0) ::close(fd);
    ::shm_unlink(object.c_str());
}

TEST_F(SharedMemory, OpeningANameNoServerCreatedFails)
{
    auto client = shm::open("WTCHM19");
    ASSERT_FALSE(client.ok());
    EXPECT_NE(client.error().detail.find("WTCHM19"), std::string::npos);
    EXPECT_FALSE(shm::create("bad/name", 10).ok());
    EXPECT_FALSE(shm::create("WTCHM2", 0).ok());
}

TEST_F(SharedMemory, AClientViewOutlivesTheServersClose)
{
    auto server = shm::create("WTCHM3", 4096);
    ASSERT_TRUE(server.ok());
    auto serverView = shm::mapView(*server.value());
    auto client = shm::open("WTCHM3");
    ASSERT_TRUE(client.ok());
    auto clientView = shm::mapView(*client.value());
    ASSERT_TRUE(clientView.ok());

    shm::unmapView(serverView.value());
    shm::close(std::move(server).value());
    EXPECT_FALSE(shm::open("WTCHM3").ok()) << "the server's close removes the name";

    auto* view = static_cast<char*>(clientView.value());
    std::memcpy(view, "still here", 11);
    EXPECT_STREQ(view, "still here");
    EXPECT_TRUE(shm::unmapView(view));
}

TEST_F(SharedMemory, NamesOfTwoRootsDoNotMeet)
{
    auto first = shm::create("WTCHM0", 128);
    ASSERT_TRUE(first.ok());
    const std::string firstName = shm::objectName("WTCHM0");
    {
        testsupport::TempRoot other;
        EXPECT_NE(shm::objectName("WTCHM0"), firstName);
        EXPECT_FALSE(shm::open("WTCHM0").ok());
        auto second = shm::create("WTCHM0", 128);
        ASSERT_TRUE(second.ok());
        EXPECT_FALSE(second.value()->existed());
    }
}

// ---- What a crashed server leaves behind -----------------------------------------------------------

namespace {

// A server in a child process: it creates the mappings, writes its name into each, and waits to be
// killed, as a list program that crashes while it serves its slots.
class ChildServer {
public:
    explicit ChildServer(std::initializer_list<const char*> names)
    {
        int ready[2];
        if (::pipe(ready) != 0) return;
        m_pid = ::fork();
        if (m_pid == 0) {
            char answer = 'y';
            for (const char* name : names) {
                auto mapping = shm::create(name, 1816);
                auto view = mapping.ok() ? shm::mapView(*mapping.value()) : plat::Result<void*>(plat::Error{});
                if (!view.ok()) {
                    answer = 'n';
                    break;
                }
                std::strcpy(static_cast<char*>(view.value()), "old record");
                mapping.value().release();  // a crash closes nothing
            }
            [[maybe_unused]] ssize_t n = ::write(ready[1], &answer, 1);
            ::pause();
            ::_exit(0);
        }
        ::close(ready[1]);
        char answer = 0;
        m_ready = ::read(ready[0], &answer, 1) == 1 && answer == 'y';
        ::close(ready[0]);
    }
    ~ChildServer() { crash(); }

    bool ready() const { return m_ready; }
    void crash()
    {
        if (m_pid <= 0) return;
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }

private:
    pid_t m_pid = -1;
    bool m_ready = false;
};

bool exists(const std::string& object)
{
    int fd = ::shm_open(object.c_str(), O_RDONLY, 0);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

}  // namespace

class StaleObjects : public testsupport::RootTest {};

TEST_F(StaleObjects, ACrashedServersObjectsAreRemovedAndTheNextServerStartsAfresh)
{
    {
        ChildServer crashed({"WTCHM0", "WTCHM1"});
        ASSERT_TRUE(crashed.ready());
    }
    ASSERT_TRUE(shm::open("WTCHM0").ok()) << "a crash leaves the names behind";

    auto removed = shm::removeStaleObjects();
    ASSERT_TRUE(removed.ok()) << removed.error().detail;
    EXPECT_EQ(removed.value(), 2u);
    EXPECT_FALSE(shm::open("WTCHM0").ok());
    EXPECT_FALSE(shm::open("WTCHM1").ok());

    auto server = shm::create("WTCHM0", 1816);
    ASSERT_TRUE(server.ok());
    EXPECT_FALSE(server.value()->existed());
    auto view = shm::mapView(*server.value());
    ASSERT_TRUE(view.ok());
    EXPECT_EQ(static_cast<char*>(view.value())[0], 0) << "the old record is gone";
    shm::unmapView(view.value());
}

TEST_F(StaleObjects, NothingIsRemovedWhileAServerOfTheRootLives)
{
    ChildServer live({"WTCHM0"});
    ASSERT_TRUE(live.ready());
    auto removed = shm::removeStaleObjects();
    ASSERT_TRUE(removed.ok()) << removed.error().detail;
    EXPECT_EQ(removed.value(), 0u);
    EXPECT_TRUE(shm::open("WTCHM0").ok());

    live.crash();
    {
        auto own = shm::create("WTCHM5", 64);  // this process serves now
        ASSERT_TRUE(own.ok());
        EXPECT_EQ(shm::removeStaleObjects().value(), 0u);
        EXPECT_TRUE(shm::open("WTCHM0").ok());
        EXPECT_TRUE(shm::open("WTCHM5").ok());
    }
    EXPECT_EQ(shm::removeStaleObjects().value(), 1u) << "the last server closed: only the crashed one's is left";
    EXPECT_FALSE(shm::open("WTCHM0").ok());
}

TEST_F(StaleObjects, AnotherRootsObjectsAreNeverTouched)
{
    testsupport::TempRoot other;  // now the current root
    const std::string othersObject = shm::objectName("WTCHM0");
    {
        ChildServer crashed({"WTCHM0"});
        ASSERT_TRUE(crashed.ready());
    }
    ::setenv("KESTREL_ROOT", root.path().c_str(), 1);
    {
        ChildServer crashed({"WTCHM0", "WTCHM1"});
        ASSERT_TRUE(crashed.ready());
    }
    auto removed = shm::removeStaleObjects();
    ASSERT_TRUE(removed.ok()) << removed.error().detail;
    EXPECT_EQ(removed.value(), 2u);
    EXPECT_TRUE(exists(othersObject));

    ::setenv("KESTREL_ROOT", other.path().c_str(), 1);
    EXPECT_EQ(shm::removeStaleObjects().value(), 1u);
    EXPECT_FALSE(exists(othersObject));
}
