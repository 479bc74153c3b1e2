#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <optional>

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
    EXPECT_NE(queried.out.find("HKEY_CURRENT_USER\\Software\\VELTA\\VELTA Kestrel\\KswList\\Notify"),
              std::string::npos);
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
             // A DWORD is digits, or 0x and hex digits: no sign, no blanks, no wrap-around.
             {"add", "HKLM\\K", "/v", "D", "/t", "REG_DWORD", "/d", "0x-FFFFFFFFFFFFFFFF", "/f"},
             {"add", "HKLM\\K", "/v", "D", "/t", "REG_DWORD", "/d", "+5", "/f"},
             {"add", "HKLM\\K", "/v", "D", "/t", "REG_DWORD", "/d", " 5", "/f"},
             {"add", "HKLM\\K", "/v", "D", "/t", "REG_DWORD", "/d", "5 ", "/f"},
             {"add", "HKLM\\K", "/v", "D", "/t", "REG_DWORD", "/d", "-1", "/f"},
             {"add", "HKLM\\K", "/v", "D", "/t", "REG_DWORD", "/d", "0x", "/f"},
             {"add", "HKLM\\K", "/v", "D", "/t", "REG_DWORD", "/d", "0x100000000", "/f"},
             // Malformed key paths and over-long value names are the caller's mistake, not the store's.
             {"query", "HKLM\\K\\\\X"},
             {"add", "HKLM\\K\\\\X", "/f"},
             {"delete", "HKLM\\K\\\\X", "/f"},
             {"query", "HKLM\\" + std::string(256, 'k')},
             {"add", "HKLM\\K", "/v", std::string(16384, 'v'), "/d", "x", "/f"},
             {"query", "HKLM\\K", "/v", std::string(16384, 'v')},
         }) {
        auto run = watchreg(bad);
        EXPECT_EQ(run.exitCode, 2) << ::testing::PrintToString(bad);
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    }
}

TEST_F(Watchreg, DwordsAreDecimalOrHexAndFillAllThirtyTwoBits)
{
    for (const auto& [data, shown] : std::vector<std::pair<std::string, std::string>>{
             {"0", "0"}, {"4294967295", "4294967295"}, {"0x0", "0"}, {"0XfFfFfFfF", "4294967295"}, {"007", "7"}}) {
        ASSERT_EQ(watchreg({"add", "HKLM\\K", "/v", "D", "/t", "REG_DWORD", "/d", data, "/f"}).exitCode, 0) << data;
        EXPECT_NE(watchreg({"query", "HKLM\\K", "/v", "D"}).out.find("REG_DWORD    " + shown + "\n"), std::string::npos)
            << data;
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
    {
        std::ofstream(plat::registryFile()) << std::string(5000, 'x');
    }
    auto run = watchreg({"query", "HKLM\\K"});
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_NE(run.err.find("registry.db"), std::string::npos) << run.err;
    EXPECT_EQ(std::filesystem::file_size(plat::registryFile()), 5000u);
}

namespace {

// Runs watchreg bound by file modes as any user is, even when the tests run as root; nothing when
// that cannot be arranged here.
std::optional<testsupport::ProgramRun> watchregBoundByModes(std::vector<std::string> args)
{
    args.insert(args.begin(), WATCHREG_PROGRAM);
    if (::geteuid() == 0) {
        if (!std::filesystem::exists("/usr/bin/setpriv")) return std::nullopt;
        args.insert(args.begin(), {"/usr/bin/setpriv", "--bounding-set", "-dac_override,-dac_read_search", "--"});
    }
    return runProgram(args);
}

}  // namespace

TEST_F(Watchreg, AReadOnlyStoreIsQueriedAndAChangeSaysItCannotBeWritten)
{
    ASSERT_EQ(watchreg({"add", "HKLM\\K", "/v", "V", "/d", "kept", "/f"}).exitCode, 0);
    for (const bool folder : {false, true}) {
        const auto target = folder ? plat::systemRoot() : plat::registryFile();
        std::filesystem::permissions(target,
                                     folder ? std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec
                                            : std::filesystem::perms::owner_read);
        auto query = watchregBoundByModes({"query", "HKLM\\K", "/v", "V"});
        auto add = watchregBoundByModes({"add", "HKLM\\K", "/v", "V", "/d", "changed", "/f"});
        std::filesystem::permissions(target,
                                     folder ? std::filesystem::perms::owner_all
                                            : std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
        if (!query) GTEST_SKIP() << "cannot run without the file mode override here";
        EXPECT_EQ(query->exitCode, 0) << (folder ? "read-only folder: " : "read-only file: ") << query->err;
        EXPECT_NE(query->out.find("    V    REG_SZ    kept\n"), std::string::npos) << query->out;
        EXPECT_EQ(add->exitCode, 3);
        EXPECT_NE(add->err.find("read-only"), std::string::npos) << add->err;
    }
    EXPECT_NE(watchreg({"query", "HKLM\\K", "/v", "V"}).out.find("kept"), std::string::npos);
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
