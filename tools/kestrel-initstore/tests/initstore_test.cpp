#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "plat/base/system_root.h"
#include "plat/registry/registry.h"
#include "testsupport/run_program.h"
#include "testsupport/temp_root.h"

using plat::registry::Key;
using plat::registry::Root;
using plat::registry::Status;
using plat::registry::Store;

namespace {

const std::string kPrinters = "System\\CurrentControlSet\\Control\\Print\\Printers\\";

testsupport::ProgramRun initstore(std::vector<std::string> args)
{
    args.insert(args.begin(), INITSTORE_PROGRAM);
    return testsupport::runProgram(args);
}

class Initstore : public testsupport::RootTest {
protected:
    std::unique_ptr<Store> store()
    {
        auto opened = Store::open(plat::registryFile());
        EXPECT_TRUE(opened.ok()) << opened.error().detail;
        return opened.ok() ? std::move(opened).value() : nullptr;
    }

    std::string text(const std::string& printer, const char* name)
    {
        char buffer[64]{};
        std::uint32_t size = 0;
        auto s = store();
        if (!s || s->getValue(Root::LocalMachine, kPrinters + printer + "\\Vigilmon", name,
                              std::as_writable_bytes(std::span(buffer)), &size) != Status::Ok) {
            return "<missing>";
        }
        return std::string(buffer, strnlen(buffer, size));
    }

    bool printersKeyExists()
    {
        Key key;
        auto s = store();
        return s && s->openKey(Root::LocalMachine, kPrinters, plat::registry::Query, key) == Status::Ok;
    }
};

}  // namespace

TEST_F(Initstore, WritesTheStoreWithTheModelTablesSpelling)
{
    auto run = initstore({"Office PG-03", "pg-03"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(text("Office PG-03", "IDMDL"), "PG-03");
}

// The printer's longest key, "...\Printers\NAME\StEnviron", must fit 255 bytes.
TEST_F(Initstore, TheNameLimitIsWhatTheLongestKeyPathLeaves)
{
    const std::string longest(197, 'p');
    auto run = initstore({longest, "IJ-09"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(text(longest, "IDMDL"), "IJ-09");
    EXPECT_EQ((kPrinters + longest + "\\StEnviron").size(), 255u);
    Key settings;
    EXPECT_EQ(store()->createKey(Root::LocalMachine, kPrinters + longest + "\\StEnviron", "WATCHLIST", settings),
              Status::Ok)
        << "its detail settings fit too";

    const std::string tooLong(198, 'q');
    auto refused = initstore({tooLong, "IJ-09"});
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_NE(refused.err.find("1 to 197 bytes; it has 198"), std::string::npos) << refused.err;
    EXPECT_EQ(text(tooLong, "IDMDL"), "<missing>");
}

TEST_F(Initstore, RefusesNamesThatWouldNestAndModelsNobodyKnows)
{
    for (const std::vector<std::string>& wrong : std::vector<std::vector<std::string>>{
             {"Office\\Vigilmon", "PG-03"},
             {"Office", "ZZ-99"},
             {"Office", "VELTA PG-03"},  // the driver name, not the model
             {"", "PG-03"},
             {std::string("Bad \xff name"), "PG-03"},
             {"Office"},
         }) {
        auto run = initstore(wrong);
        EXPECT_EQ(run.exitCode, 2) << ::testing::PrintToString(wrong);
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    }
    EXPECT_FALSE(printersKeyExists()) << "nothing was written";
}

TEST_F(Initstore, AStoreThatCannotBeOpenedIsReportedAsItIsNotAsTheNameLength)
{
    {
        std::ofstream(plat::registryFile()) << std::string(5000, 'x');
    }
    auto run = initstore({"Office", "PG-03"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("not a registry store"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("197"), std::string::npos) << run.err;
}

TEST_F(Initstore, AReadOnlyStoreIsReportedAsReadOnly)
{
    ASSERT_EQ(initstore({"Office", "PG-03"}).exitCode, 0);
    std::vector<std::string> args{INITSTORE_PROGRAM, "Office", "PG-03"};
    if (::geteuid() == 0) {  // root is not bound by file modes unless it gives up the override
        if (!std::filesystem::exists("/usr/bin/setpriv")) GTEST_SKIP() << "cannot drop the file mode override";
        args.insert(args.begin(), {"/usr/bin/setpriv", "--bounding-set", "-dac_override,-dac_read_search", "--"});
    }
    std::filesystem::permissions(plat::registryFile(), std::filesystem::perms::owner_read);
    auto run = testsupport::runProgram(args);
    std::filesystem::permissions(plat::registryFile(),
                                 std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("read-only"), std::string::npos) << run.err;
}
