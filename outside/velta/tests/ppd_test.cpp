// The PPDs the build makes: one per model, its keywords those of the model table, and a file the
// print system accepts.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "ppd.h"
#include "status.h"
#include "testsupport/run_program.h"

namespace {

namespace fs = std::filesystem;
const fs::path kFolder = VELTA_PPD_DIR;

std::string readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// "*Key: value" and "*Key Option/Text: value" lines; the value without its quotes.
std::multimap<std::string, std::string> keywords(const std::string& text)
{
    std::multimap<std::string, std::string> out;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (!line.starts_with("*") || line.starts_with("*%")) continue;
        std::size_t colon = line.find(": ");
        if (colon == std::string::npos) continue;
        std::string value = line.substr(colon + 2);
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
        out.emplace(line.substr(1, colon - 1), value);
    }
    return out;
}

std::string one(const std::multimap<std::string, std::string>& k, const std::string& key)
{
    EXPECT_EQ(k.count(key), 1u) << key;
    auto it = k.find(key);
    return it == k.end() ? "" : it->second;
}

std::string cupstestppd()
{
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
    for (std::string dir; std::getline(dirs, dir, ':');) {
        const fs::path candidate = fs::path(dir) / "cupstestppd";
        if (::access(candidate.c_str(), X_OK) == 0) return candidate.string();
    }
    return {};
}

TEST(VeltaPpds, OnePerModelAndNothingElse)
{
    std::set<std::string> files;
    for (const auto& entry : fs::directory_iterator(kFolder)) {
        if (entry.path().extension() == ".ppd") files.insert(entry.path().filename().string());
    }
    std::set<std::string> expected;
    for (const auto& model : facts::all()) expected.insert(velta::ppdFileName(model));
    EXPECT_EQ(files, expected);
    EXPECT_EQ(files.size(), facts::kModelCount);
}

TEST(VeltaPpds, KeywordsAreTheModelTables)
{
    for (const auto& model : facts::all()) {
        SCOPED_TRACE(model.name);
        const std::string text = readFile(kFolder / velta::ppdFileName(model));
        ASSERT_FALSE(text.empty());
        EXPECT_TRUE(text.starts_with("*PPD-Adobe: \"4.3\"\n"));
        auto k = keywords(text);
        EXPECT_EQ(one(k, "Manufacturer"), "VELTA");
        EXPECT_EQ(one(k, "ModelName"), model.name);
        EXPECT_EQ(one(k, "NickName"), model.name);
        EXPECT_EQ(one(k, "ShortNickName"), model.name);
        EXPECT_EQ(one(k, "Product"), std::string("(") + model.shortName + ")");
        EXPECT_FALSE(one(k, "PSVersion").empty());
        EXPECT_EQ(one(k, "cupsModelNumber"), std::to_string(model.number()));
        EXPECT_EQ(one(k, "VELTADriverFile"), model.driverFile);
        EXPECT_EQ(one(k, "VELTALanguageMonitorFile"), model.monitor);
        EXPECT_NE(one(k, "VELTALanguageMonitor").find("Language Monitor"), std::string::npos);
        EXPECT_EQ(one(k, "cupsFilter2"), "application/vnd.cups-raw application/vnd.cups-raw 0 -");
        const std::string id = one(k, "1284DeviceID");
        EXPECT_EQ(velta::modelOfDeviceId(id), &model) << id;
        for (const auto& reason : velta::vendorReasons()) {
            EXPECT_EQ(k.count(std::string("cupsIPPReason ") + reason.keyword + "/" + reason.text), 1u)
                << reason.keyword;
        }
        EXPECT_EQ(one(k, "DefaultPageSize"), "A4");
        EXPECT_EQ(k.count("PageSize A4/A4"), 1u);
        EXPECT_EQ(k.count("ImageableArea A4"), 1u);
    }
}

TEST(VeltaPpds, MonitorNamesAreTheInstallers)
{
    EXPECT_EQ(velta::monitorNameOf(facts::model(facts::Code::PG03)), "VELTA KMON01 Language Monitor");
    EXPECT_EQ(velta::monitorNameOf(facts::model(facts::Code::IJ01)), "VELTA IJ-01 Language Monitor");
}

// Where the print system's checker is installed it must pass every PPD; without it, each line must
// at least be one a PPD reader takes.
TEST(VeltaPpds, ThePrintSystemAcceptsThem)
{
    const std::string checker = cupstestppd();
    for (const auto& model : facts::all()) {
        const fs::path file = kFolder / velta::ppdFileName(model);
        SCOPED_TRACE(file.string());
        if (!checker.empty()) {
            auto run = testsupport::runProgram({checker, "-W", "none", file.string()});
            EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
            EXPECT_NE(run.out.find("PASS"), std::string::npos) << run.out;
            EXPECT_EQ(run.out.find("WARN"), std::string::npos) << run.out;
            continue;
        }
        std::istringstream lines(readFile(file));
        int open = 0;
        for (std::string line; std::getline(lines, line);) {
            EXPECT_TRUE(line.empty() || line.starts_with("*")) << line;
            EXPECT_EQ(std::count(line.begin(), line.end(), '"') % 2, 0) << line;
            EXPECT_LT(line.size(), 255u) << line;
            if (line.starts_with("*OpenUI")) ++open;
            if (line.starts_with("*CloseUI")) --open;
            EXPECT_GE(open, 0);
        }
        EXPECT_EQ(open, 0);
    }
}

}  // namespace
