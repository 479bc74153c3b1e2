// Runs from a folder of its own that holds the queue program but no printer-setup library and no gap tool.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <filesystem>
#include <fstream>
#include <string>

#include "plat/base/system_root.h"
#include "plat/spool/spooler.h"
#include "testsupport/run_program.h"
#include "testsupport/temp_root.h"
#include "watchpanel/outside_programs.h"

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
    auto spooler = plat::spool::embedded(testsupport::rootStore());
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

// ---- The gap tool in the system root ---------------------------------------------------------------

namespace {

// A stand-in tool that says which one ran.
void writeTool(const fs::path& path, const std::string& name)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path) << "#!/bin/sh\necho " << name << "\n";
    ::chmod(path.c_str(), 0755);
}

fs::path rootTool() { return plat::windowsDir() / "RCTOOL" / "TUNEUP.EXE"; }

}  // namespace

TEST_F(OutsidePrograms, AFreshRootLinksTheToolInstalledBesideThePrograms)
{
    const fs::path programs = root.path() / "prefix" / "bin";
    writeTool(programs / "TUNEUP.EXE", "installed");
    writeTool(root.path() / "prefix" / "RCTOOL" / "TUNEUP.EXE", "built");
    EXPECT_EQ(watchpanel::linkGapTool(programs), watchpanel::GapToolLink::Made);
    ASSERT_TRUE(fs::is_symlink(rootTool()));
    EXPECT_EQ(fs::read_symlink(rootTool()), fs::canonical(programs / "TUNEUP.EXE"));
    // The engine starts it there: it runs.
    const testsupport::ProgramRun run = testsupport::runProgram({rootTool().string()});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, "installed\n");

    // Once linked, later starts leave it as it is.
    EXPECT_EQ(watchpanel::linkGapTool(programs), watchpanel::GapToolLink::AlreadyThere);
    EXPECT_EQ(fs::read_symlink(rootTool()), fs::canonical(programs / "TUNEUP.EXE"));
}

TEST_F(OutsidePrograms, InABuildTreeTheToolComesFromTheRctoolFolderBesideTheProgramsFolder)
{
    const fs::path build = root.path() / "build";
    fs::create_directories(build / "bin");
    writeTool(build / "RCTOOL" / "TUNEUP.EXE", "built");
    EXPECT_EQ(watchpanel::linkGapTool(build / "bin"), watchpanel::GapToolLink::Made);
    EXPECT_EQ(fs::read_symlink(rootTool()), fs::canonical(build / "RCTOOL" / "TUNEUP.EXE"));
    EXPECT_EQ(testsupport::runProgram({rootTool().string()}).out, "built\n");
}

TEST_F(OutsidePrograms, TheUsersOwnToolOrLinkIsNeverReplaced)
{
    const fs::path programs = root.path() / "bin";
    writeTool(programs / "TUNEUP.EXE", "installed");

    writeTool(rootTool(), "mine");
    EXPECT_EQ(watchpanel::linkGapTool(programs), watchpanel::GapToolLink::AlreadyThere);
    EXPECT_FALSE(fs::is_symlink(rootTool()));
    EXPECT_EQ(contents(rootTool()), "#!/bin/sh\necho mine\n");

    // A link of the user's, even one that leads nowhere now, is theirs too.
    fs::remove(rootTool());
    fs::create_symlink(root.path() / "gone" / "TUNEUP.EXE", rootTool());
    EXPECT_EQ(watchpanel::linkGapTool(programs), watchpanel::GapToolLink::AlreadyThere);
    EXPECT_EQ(fs::read_symlink(rootTool()), root.path() / "gone" / "TUNEUP.EXE");
}

TEST_F(OutsidePrograms, WithoutAnInstalledToolNothingIsLinked)
{
    // This test's own program folder has no tool, nor a build's RCTOOL folder beside it.
    EXPECT_EQ(watchpanel::linkGapTool(), watchpanel::GapToolLink::NotInstalled);
    // A file of that name that cannot run is no tool.
    const fs::path programs = root.path() / "bin";
    fs::create_directories(programs);
    std::ofstream(programs / "TUNEUP.EXE") << "not a program\n";
    ::chmod((programs / "TUNEUP.EXE").c_str(), 0644);
    EXPECT_EQ(watchpanel::linkGapTool(programs), watchpanel::GapToolLink::NotInstalled);
    fs::create_directories(programs / "RCTOOL" / "TUNEUP.EXE");  // nor is a folder
    EXPECT_EQ(watchpanel::linkGapTool(programs), watchpanel::GapToolLink::NotInstalled);
    std::error_code error;
    EXPECT_FALSE(fs::exists(fs::symlink_status(rootTool(), error)));
}
