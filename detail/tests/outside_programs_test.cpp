// Runs from a folder of its own that holds the queue program but no printer-setup library.
#include <gtest/gtest.h>

#include <unistd.h>
#include <QApplication>
#include <filesystem>
#include <fstream>
#include <string>

#include "outside_programs.h"
#include "plat/spool/spooler.h"
#include "testsupport/temp_root.h"

namespace fs = std::filesystem;

namespace {

class OutsidePrograms : public testsupport::RootTest {};

std::string contents(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

fs::path programDirectory() { return fs::read_symlink("/proc/self/exe").parent_path(); }

}  // namespace

TEST_F(OutsidePrograms, PrinterSetupWithoutTheLibraryReturnsFalseAndShowsNothing)
{
    ASSERT_FALSE(fs::exists(programDirectory() / "libcfgprn32.so"));
    EXPECT_FALSE(watchpanel::openPrinterSetup(nullptr, "KDRV01.DRV", "Office", "LPT1:"));
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_TRUE(QApplication::topLevelWidgets().isEmpty());
}

TEST_F(OutsidePrograms, JobWindowGetsThePrinterAsDataNeverThroughAShell)
{
    auto spooler = plat::spool::embedded();
    ASSERT_TRUE(spooler.ok());
    ASSERT_TRUE(spooler.value()->addDriver({"VELTA PG-03", "C:\\WINDOWS\\SYSTEM\\KDRV01.DRV", "Monitor"}).ok());
    ASSERT_TRUE(spooler.value()->addPort("LPT1:", std::nullopt).ok());
    const fs::path marker = root.path() / "pwned";
    const std::vector<std::string> names = {
        "Office \"2F\" 'west'",
        "q$(touch " + marker.string() + ")",
        "q; touch " + marker.string() + ";",
        "q`touch " + marker.string() + "` && touch " + marker.string(),
    };
    for (std::size_t i = 0; i < names.size(); ++i) {
        ASSERT_TRUE(spooler.value()->addPrinter({names[i], "LPT1:", "VELTA PG-03"}).ok()) << names[i];
        ASSERT_TRUE(spooler.value()->submitJobs(names[i], static_cast<std::uint32_t>(i + 1)).ok());
        // The queue program prints its list to this file and ends instead of showing its window.
        const fs::path listing = root.path() / ("listing" + std::to_string(i));
        ::setenv("KESTREL_QUEUE_LIST_TO", listing.c_str(), 1);
        ASSERT_TRUE(watchpanel::openJobWindow(names[i])) << names[i];
        std::string expected = "printer: " + names[i] + "\njobs: " + std::to_string(i + 1) + "\n";
        for (std::size_t job = 1; job <= i + 1; ++job) expected += "  job " + std::to_string(job) + " pending\n";
        EXPECT_TRUE(testsupport::waitUntil([&] { return contents(listing) == expected; })) << contents(listing);
    }
    ::unsetenv("KESTREL_QUEUE_LIST_TO");
    EXPECT_FALSE(fs::exists(marker)) << "a shell ran a printer's name";
    // The queue program deletes each shortcut once it has read it.
    EXPECT_TRUE(testsupport::waitUntil([] {
        for (const auto& entry : fs::directory_iterator(programDirectory())) {
            if (entry.path().extension() == ".LNK") return false;
        }
        return true;
    }));
}
