// The library's export list is exactly what its public header declares: every declared function is
// exported under its own name, and nothing else is.

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "testsupport/run_program.h"
#include "watchcore.h"

namespace {

std::set<std::string> declaredExports()
{
    std::ifstream header(WATCHCORE_HEADER);
    std::stringstream text;
    text << header.rdbuf();
    const std::string source = text.str();
    std::set<std::string> names;
    const std::regex declaration(R"(WATCHCORE_API\s+[\w\s\*]+?\b(\w+)\s*\()");
    for (auto it = std::sregex_iterator(source.begin(), source.end(), declaration); it != std::sregex_iterator();
         ++it) {
        names.insert((*it)[1]);
    }
    return names;
}

std::set<std::string> definedDynamicSymbols()
{
    auto run = testsupport::runProgram({"/usr/bin/nm", "-D", "--defined-only", WATCHCORE_LIBRARY});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    std::set<std::string> names;
    std::istringstream lines(run.out);
    std::string address, kind, name;
    while (lines >> address >> kind >> name) names.insert(name);
    return names;
}

}  // namespace

TEST(WatchcoreExports, AreExactlyTheFunctionsOfThePublicHeader)
{
    const auto declared = declaredExports();
    ASSERT_GE(declared.size(), 24u) << "the header parser found too few declarations";
    EXPECT_TRUE(declared.count("fInitRegistory"));
    EXPECT_TRUE(declared.count("fGetRegistoryGepStrings"));
    EXPECT_EQ(definedDynamicSymbols(), declared);
}

TEST(WatchcoreExports, LinkAndAnswerThroughTheSharedLibrary)
{
    std::uint32_t value = 3;
    EXPECT_EQ(fGetRegistoryStRetryTime(nullptr, &value), 0);
    EXPECT_EQ(value, 3u);
}
