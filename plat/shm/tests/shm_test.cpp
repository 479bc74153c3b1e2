#include "plat/shm/shm.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstring>

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

TEST_F(SharedMemory, TheObjectIsPrivateToTheUser)
{
    auto server = shm::create("WTCHM1", 64);
    ASSERT_TRUE(server.ok());
    int fd = ::shm_open(shm::objectName("WTCHM1").c_str(), O_RDONLY, 0);
    ASSERT_GE(fd, 0);
    struct stat info {};
    ASSERT_EQ(::fstat(fd, &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    ::close(fd);
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
