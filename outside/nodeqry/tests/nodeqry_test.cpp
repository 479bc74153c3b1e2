// NODEQRY.EXE run as the engine runs it: a file with an address in, the answer in the same file.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "testsupport/run_program.h"
#include "testsupport/temp_root.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

class NodeQuery : public testsupport::RootTest {
protected:
    std::string file() const { return (root.path() / "KSWtest").string(); }
    void put(const Bytes& bytes) const
    {
        std::ofstream out(file(), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    Bytes content() const
    {
        std::ifstream in(file(), std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    int run() const { return testsupport::runProgram({NODEQRY_PROGRAM, file()}).exitCode; }
};

}  // namespace

TEST_F(NodeQuery, AnAddressOnTheLoopbackNetworkIsReachedThroughItsOwnNode)
{
    put({0, 0, 0, 1, 0, 0, 127, 0, 0, 1, 0x9C, 0x40});
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(content(), (Bytes{0, 0, 0, 0, 127, 0, 0, 1}));
}

TEST_F(NodeQuery, AnAddressOnAnotherNetworkHasNoRoute)
{
    put({0, 0, 0, 2, 0, 0, 127, 0, 0, 1, 0x9C, 0x40});
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(content(), (Bytes{0xFA, 0, 0, 0, 0, 0, 0, 0}));
    put({0, 0, 0, 1, 0, 0, 10, 0, 0, 1, 0x9C, 0x40});
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(content()[0], 0xFA);
}

TEST_F(NodeQuery, AFileWithoutAWholeAddressIsAnsweredAsMalformedWithExitCode1)
{
    for (const Bytes& bad : {Bytes{}, Bytes{0, 0, 0, 1, 0, 0, 127, 0, 0, 1, 0x9C}, Bytes(13, 0)}) {
        put(bad);
        EXPECT_EQ(run(), 1) << bad.size();
        EXPECT_EQ(content(), (Bytes{0xFF, 0xFF, 0, 0, 0, 0, 0, 0})) << bad.size();
    }
}

TEST_F(NodeQuery, AMissingFileOrNoArgumentFailsWithoutWritingAnything)
{
    EXPECT_EQ(run(), 2);
    EXPECT_FALSE(std::filesystem::exists(file()));
    EXPECT_EQ(testsupport::runProgram({NODEQRY_PROGRAM}).exitCode, 3);
    const auto help = testsupport::runProgram({NODEQRY_PROGRAM, "--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("Exit codes"), std::string::npos);
}
