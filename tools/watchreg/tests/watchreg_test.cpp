#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>

#include "plat/base/system_root.h"
#include "plat/registry/registry.h"
#include "testsupport/run_program.h"
#include "testsupport/temp_root.h"

using testsupport::runProgram;

namespace {

const std::string kNotify = "HKCU\\Software\\VELTA\\VELTA Kestrel\\KswList\\Notify";

testsupport::ProgramRun watchreg(std::vector<std::string> args)
{
    args.insert(args.begin(), WATCHREG_PROGRAM);
    return runProgram(args);
}

class Watchreg : public testsupport::RootTest {};

}  // namespace

TEST_F(Watchreg, AFlushedAddIsReadByAnotherProcessAtOnce)
{
    auto added = watchreg({"add", kNotify, "/v", "KswExitFlag", "/t", "REG_DWORD", "/d", "1", "/f"});
    ASSERT_EQ(added.exitCode, 0) << added.err;
    auto queried = watchreg({"query", kNotify, "/v", "kswexitflag"});
    ASSERT_EQ(queried.exitCode, 0) << queried.err;
    EXPECT_NE(queried.out.find("HKEY_CURRENT_USER\\Software\\VELTA\\VELTA Kestrel\\KswList\\Notify"), std::string::npos);
    EXPECT_NE(queried.out.find("    KswExitFlag    REG_DWORD    1\n"), std::string::npos) << queried.out;
}

TEST_F(Watchreg, QueryPrintsEveryTypeAndTheSubKeys)
{
    const std::string key = "HKLM\\Software\\Test";
    ASSERT_EQ(watchreg({"add", key, "-v", "Count", "-t", "reg_dword", "-d", "0xFFFFFFFF", "-f"}).exitCode, 0);
    ASSERT_EQ(watchreg({"add", key, "/v", "Name", "/d", "ﾌﾟﾘﾝﾀ 1", "/f"}).exitCode, 0);
    ASSERT_EQ(watchreg({"add", key, "/v", "Blob", "/t", "REG_BINARY", "/d", "01 0a FF", "/f"}).exitCode, 0);
    ASSERT_EQ(watchreg({"add", key, "/ve", "/d", "default", "/f"}).exitCode, 0);
    ASSERT_EQ(watchreg({"add", key + "\\Child"}).exitCode, 0);

    auto run = watchreg({"query", "HKEY_LOCAL_MACHINE\\software\\test"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("    Count    REG_DWORD    4294967295\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("    Name    REG_SZ    ﾌﾟﾘﾝﾀ 1\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("    Blob    REG_BINARY    010AFF\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("    (Default)    REG_SZ    default\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("HKEY_LOCAL_MACHINE\\software\\test\\Child\n"), std::string::npos)
        << "the path as typed, the sub-key as stored" << run.out;
}

TEST_F(Watchreg, ExitCodesSayWhatWentWrong)
{
    auto missing = watchreg({"query", "HKLM\\No\\Such\\Key"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.err, "ERROR: The system was unable to find the specified registry key or value.\n");
    ASSERT_EQ(watchreg({"add", "HKLM\\K"}).exitCode, 0);
    EXPECT_EQ(watchreg({"query", "HKLM\\K", "/v", "Nope"}).exitCode, 1);
    EXPECT_EQ(watchreg({"delete", "HKLM\\K", "/v", "Nope", "/f"}).exitCode, 1);

    for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
             {},
             {"query"},
             {"frobnicate", "HKLM\\K"},
             {"query", "HKXX\\K"},
             {"add", "HKLM\\K", "/v", "D", "/t", "REG_DWORD", "/d", "12x", "/f"},
             {"add", "HKLM\\K", "/v", "D", "/t", "REG_DWORD", "/d", "4294967296", "/f"},
             {"add", "HKLM\\K", "/v", "B", "/t", "REG_BINARY", "/d", "ABC", "/f"},
             {"add", "HKLM\\K", "/v", "T", "/t", "REG_MULTI_SZ", "/d", "x", "/f"},
             {"add", "HKLM\\K", "/v"},
             {"query", "HKLM\\K", "/d", "1"},
             {"delete", "HKLM", "/f"},
         }) {
        auto run = watchreg(bad);
        EXPECT_EQ(run.exitCode, 2) << ::testing::PrintToString(bad);
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    }
}

TEST_F(Watchreg, WithoutForceNothingIsOverwrittenOrDeletedUnasked)
{
    ASSERT_EQ(watchreg({"add", "HKLM\\K", "/v", "V", "/d", "first"}).exitCode, 0) << "a new value needs no /f";
    auto refused = watchreg({"add", "HKLM\\K", "/v", "V", "/d", "second"});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find("/f"), std::string::npos);
    EXPECT_EQ(watchreg({"delete", "HKLM\\K"}).exitCode, 1);
    EXPECT_NE(watchreg({"query", "HKLM\\K", "/v", "V"}).out.find("first"), std::string::npos);
}

TEST_F(Watchreg, DeleteRemovesAValueOrAWholeKey)
{
    ASSERT_EQ(watchreg({"add", "HKLM\\A\\B\\C", "/v", "V", "/d", "x", "/f"}).exitCode, 0);
    ASSERT_EQ(watchreg({"delete", "HKLM\\A\\B\\C", "/v", "v", "/f"}).exitCode, 0);
    EXPECT_EQ(watchreg({"query", "HKLM\\A\\B\\C", "/v", "V"}).exitCode, 1);
    ASSERT_EQ(watchreg({"delete", "HKLM\\A", "/f"}).exitCode, 0);
    EXPECT_EQ(watchreg({"query", "HKLM\\A\\B"}).exitCode, 1);
}

TEST_F(Watchreg, ADamagedStoreIsReportedNotReplaced)
{
    { std::ofstream(plat::registryFile()) << std::string(5000, 'x'); }
    auto run = watchreg({"query", "HKLM\\K"});
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_NE(run.err.find("registry.db"), std::string::npos) << run.err;
    EXPECT_EQ(std::filesystem::file_size(plat::registryFile()), 5000u);
}

TEST_F(Watchreg, HelpExplainsWithExamples)
{
    for (const char* flag : {"--help", "/?", "-h"}) {
        auto run = watchreg({flag});
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_NE(run.out.find("Examples:"), std::string::npos);
        EXPECT_NE(run.out.find("REG_BINARY"), std::string::npos);
    }
}
