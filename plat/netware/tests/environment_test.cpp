#include "plat/netware/environment.h"

#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "testsupport/temp_root.h"

namespace nw = plat::netware;

TEST(NetwareAddress, MapsToAUdpEndpointAndBackThroughItsText)
{
    const auto a = nw::Address::loopback(40000);
    EXPECT_EQ(a.ipv4(), 0x7F000001u);
    EXPECT_EQ(a.port(), 40000);
    EXPECT_EQ(a.text(), "00000001:00007F000001:9C40");
    EXPECT_EQ(nw::Address::parse(a.text()), a);
    for (const char* bad : {"", "00000001:00007F000001:9C4", "00000001-00007F000001:9C40", "0000000G:00007F000001:9C40",
                            "00000001:00007F000001:9C40 "}) {
        EXPECT_FALSE(nw::Address::parse(bad)) << bad;
    }
}

TEST(NetwareEnvironment, ParsesEveryRecordAndFormatsItBackUnchanged)
{
    const auto parsed = nw::parse(
        "# comment\n"
        "server fs1 version 4\r\n"
        "print-server-address FS1 00000001:00007F000001:9C40\n"
        "queue FS1 queue1 PS1 PRN-IF\n"
        "print-server FS1 PS1 QUEUE1 0 3\n"
        "capture LPT2 FS1 QUEUE1.SALES   # the sales queue\n");
    ASSERT_TRUE(parsed) << parsed.error().detail;
    const auto& env = parsed.value();
    ASSERT_NE(env.server("Fs1"), nullptr);
    EXPECT_EQ(env.server("FS1")->majorVersion, 4);
    EXPECT_EQ(env.server("FS1")->printServerAddress->port(), 40000);
    ASSERT_NE(env.queue("fs1", "QUEUE1"), nullptr);
    EXPECT_EQ(env.queue("FS1", "QUEUE1")->printServers, (std::vector<std::string>{"PS1", "PRN-IF"}));
    ASSERT_NE(env.printServer("FS1", "ps1", "queue1"), nullptr);
    EXPECT_EQ(env.printServer("FS1", "PS1", "QUEUE1")->printers, (std::vector<std::uint16_t>{0, 3}));
    EXPECT_TRUE(env.printServerExists("FS1", "PS1"));
    EXPECT_FALSE(env.printServerExists("FS1", "PRN-IF"));
    ASSERT_NE(env.capture(2), nullptr);
    EXPECT_EQ(env.capture(2)->queue, "QUEUE1.SALES");
    EXPECT_EQ(env.capture(1), nullptr);

    const auto again = nw::parse(nw::format(env));
    ASSERT_TRUE(again);
    EXPECT_EQ(nw::format(again.value()), nw::format(env));
}

TEST(NetwareEnvironment, RefusesMalformedLinesNamingTheLine)
{
    for (const char* bad : {"server", "server FS1 version x", "bogus FS1", "capture LPT0 FS1 Q", "capture COM1 FS1 Q",
                            "print-server FS1 PS Q 70000", "queue FS1 A23456789012345678901234567890123456789012345678",
                            "print-server-address FS1 nowhere"}) {
        auto r = nw::parse(std::string("server FS1\n") + bad + "\n");
        ASSERT_FALSE(r) << bad;
        EXPECT_NE(r.error().detail.find("line 2"), std::string::npos) << r.error().detail;
    }
}

TEST(NetwareEnvironment, WhatItReadsItWritesBackReadably)
{
    // A queue named by a lone carriage return was read, and then written as a line that did not read.
    auto parsed = nw::parse("server FS1\nqueue FS1 \r\r\nqueue FS1 Q PS\x01\n");
    EXPECT_FALSE(parsed);
    parsed = nw::parse("server FS1\r\nqueue FS1 Q PS1 # and a comment\r\n");
    ASSERT_TRUE(parsed) << parsed.error().detail;
    const std::string written = nw::format(parsed.value());
    const auto again = nw::parse(written);
    ASSERT_TRUE(again) << again.error().detail;
    EXPECT_EQ(nw::format(again.value()), written);
}

TEST(NetwareEnvironment, PutReplacesByNameAndRefusesBadNames)
{
    nw::Environment env;
    EXPECT_TRUE(env.put(nw::FileServer{"fs1"}));
    EXPECT_TRUE(env.put(nw::FileServer{"FS1", 4}));
    EXPECT_EQ(env.servers.size(), 1u);
    EXPECT_EQ(env.servers[0].majorVersion, 4);
    EXPECT_FALSE(env.put(nw::FileServer{"TWO WORDS"}));
    // Names the file could not give back as they were written.
    for (const char* unreadable : {"CR\r", "\r", "LINE\nBREAK", "DEL\x7F", "HASH#1"}) {
        EXPECT_FALSE(env.put(nw::Queue{"FS1", unreadable, {}})) << unreadable;
        EXPECT_FALSE(env.put(nw::Queue{"FS1", "Q", {unreadable}})) << unreadable;
    }
    EXPECT_FALSE(env.put(nw::FileServer{""}));
    EXPECT_FALSE(env.put(nw::Capture{10, "FS1", "Q"}));
    EXPECT_TRUE(env.put(nw::Capture{3, "FS1", "Q"}));
    EXPECT_TRUE(env.removeCapture(3));
    EXPECT_FALSE(env.removeCapture(3));
}

class NetwareEnvironmentFile : public testsupport::RootTest {};

TEST_F(NetwareEnvironmentFile, AMissingFileIsAnEmptyEnvironmentAndUpdatesFromTwoWritersAreBothKept)
{
    auto empty = nw::load();
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->servers.empty());

    std::vector<std::thread> writers;
    for (int i = 0; i < 8; ++i) {
        writers.emplace_back([i] {
            ASSERT_TRUE(nw::update([i](nw::Environment& env) { env.put(nw::FileServer{"FS" + std::to_string(i)}); }));
        });
    }
    for (auto& t : writers) t.join();
    auto env = nw::load();
    ASSERT_TRUE(env);
    EXPECT_EQ(env->servers.size(), 8u);
}

TEST_F(NetwareEnvironmentFile, ABrokenFileFailsTheUpdateAndIsLeftAsItWas)
{
    {
        std::ofstream(nw::environmentFile()) << "server FS1\nnonsense\n";
    }
    EXPECT_FALSE(nw::load());
    EXPECT_FALSE(nw::update([](nw::Environment& env) { env.put(nw::FileServer{"FS2"}); }));
    std::ifstream in(nw::environmentFile());
    std::string text((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(text, "server FS1\nnonsense\n");
}
