// Small services, mapped files and the shared-memory channel, through the library's exports.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <vector>

#include "plat/base/message_box.h"
#include "testsupport/message_boxes.h"
#include "testsupport/run_program.h"
#include "testsupport/temp_root.h"
#include "watchcore.h"

namespace fs = std::filesystem;

namespace {

using Boxes = testsupport::MessageBoxes;

std::string fileBytes(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::string field(const char* line, uint32_t n)
{
    char buffer[256];
    std::strcpy(buffer, line);
    EXPECT_EQ(fGetTabStopString(buffer, n), 1);
    return buffer;
}

}  // namespace

TEST(SmallServices, WholeStringComparisons)
{
    EXPECT_EQ(flstrcmpiLen("LPT1:", "lpt1:"), 1);
    EXPECT_EQ(flstrcmpiLen("LPT1:", "LPT1"), 0);
    EXPECT_EQ(flstrcmpLen("LPT1:", "lpt1:"), 0);
    EXPECT_EQ(flstrcmpLen("LPT1:", "LPT1:"), 1);
    EXPECT_EQ(flstrcmpLen(nullptr, "x"), 0);
}

TEST(SmallServices, TabStopFieldsKeepCharactersWhole)
{
    EXPECT_EQ(field("A\tBC\tD", 2), "BC");
    EXPECT_EQ(field("A\tBC\tD", 4), "");
    EXPECT_EQ(field("A\tBC\tD", 1), "A");
    EXPECT_EQ(field("", 3), "");
    EXPECT_EQ(field("ﾌﾟﾘﾝﾀ\tｲﾝｸ残量\t50%", 2), "ｲﾝｸ残量");
    EXPECT_EQ(field("\t\tthird", 3), "third");
}

TEST(SmallServices, ErrorBoxesCarryTheProductCaptionAndTheirText)
{
    Boxes boxes;
    int owner = 0;
    vDisplayError(reinterpret_cast<QWidget*>(&owner), 0);
    vDisplayError(nullptr, 3);
    vDisplayError(nullptr, 9);
    auto shown = boxes.taken();
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(shown[0].caption, "VELTA ｹｽﾄﾚﾙ");
    EXPECT_EQ(shown[0].text, "初期化に失敗しました。\nアプリケーションを終了して下さい。");
    EXPECT_EQ(shown[0].owner, &owner);
    EXPECT_EQ(shown[1].text, "初期化が完了しませんでした。\r\nプリンタの状態を確認してください。");
    EXPECT_EQ(shown[2].text, "") << "a code without a text shows an empty box";
}

TEST(Shortcut, APrinterLinkHasTheShellLinkLayout)
{
    testsupport::TempRoot root;
    char path[260];
    ASSERT_EQ(fCreateShortCutFile(root.path().c_str(), "Printer 10", path), 1);
    const fs::path link(path);
    EXPECT_EQ(link.parent_path(), root.path());
    EXPECT_EQ(link.filename().string().substr(0, 3), "KSW");
    EXPECT_EQ(link.extension(), ".LNK");
    const std::string bytes = fileBytes(link);
    ASSERT_EQ(bytes.size(), 133u);
    EXPECT_EQ(static_cast<unsigned char>(bytes[0]), 0x4C);
    EXPECT_EQ(static_cast<unsigned char>(bytes[76]), 55) << "item list size N + 45";
    EXPECT_EQ(static_cast<unsigned char>(bytes[118]), 13) << "printer item size N + 3";
    EXPECT_EQ(bytes.substr(120, 10), "Printer 10");
    EXPECT_FALSE(fs::exists(link.parent_path() / (link.stem().string() + ".TMP")))
        << "the temporary file became the link";

    char second[260];
    ASSERT_EQ(fCreateShortCutFile(root.path().c_str(), "Printer 10", second), 1);
    EXPECT_STRNE(path, second) << "every link gets a name of its own";
}

TEST(Shortcut, AnIndependentParserReadsItAsTheLinkToThePrinter)
{
    if (!fs::exists("/usr/bin/lnkinfo")) GTEST_SKIP() << "lnkinfo (liblnk-utils) is not installed";
    testsupport::TempRoot root;
    char path[260];
    ASSERT_EQ(fCreateShortCutFile(root.path().c_str(), "Printer 10", path), 1);
    auto run = testsupport::runProgram({"/usr/bin/lnkinfo", "-v", path});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    // The computer folder, the printers folder's item (class 0x2e) and the printer's own item.
    EXPECT_NE(run.out.find("Contains a link target identifier"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Number of items\t\t: 3"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Shell folder identifier\t: 20d04fe0-3aea-1069-a2d8-08002b30309d"), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("Class type indicator\t: 0x2e"), std::string::npos) << run.out;
}

TEST(Shortcut, AMissingDirectoryFails)
{
    char path[260];
    EXPECT_EQ(fCreateShortCutFile("/nonexistent/folder", "P", path), 0);
    EXPECT_EQ(fCreateShortCutFile(nullptr, "P", path), 0);
}

TEST(MappedFile, OpensForReadingCreatesForWritingAndRefusesOtherModes)
{
    testsupport::TempRoot root;
    const std::string file = (root.path() / "PG03.DAT").string();
    intptr_t handle = 77;
    uint32_t size = 0;
    EXPECT_EQ(lpvFMAPopenFile(file.c_str(), 1, 0, &handle, &size), nullptr);
    EXPECT_EQ(handle, 0) << "a failure sets the handle out to 0";

    handle = 0;
    void* view = lpvFMAPopenFile(file.c_str(), 2, 4096, &handle, &size);
    ASSERT_NE(view, nullptr);
    std::memcpy(view, "printer information", 20);
    EXPECT_EQ(fFMAPcloseFile(&view, &handle), 1);
    EXPECT_EQ(view, nullptr);
    const std::string bytes = fileBytes(file);
    ASSERT_EQ(bytes.size(), 4096u);
    EXPECT_STREQ(bytes.c_str(), "printer information");

    void* reading = lpvFMAPopenFile(file.c_str(), 1, 0, &handle, &size);
    ASSERT_NE(reading, nullptr);
    EXPECT_EQ(size, 4096u);
    EXPECT_STREQ(static_cast<const char*>(reading), "printer information");
    EXPECT_EQ(fFMAPcloseFile(&reading, &handle), 1);

    const std::string other = (root.path() / "never.dat").string();
    EXPECT_EQ(lpvFMAPopenFile(other.c_str(), 3, 10, &handle, &size), nullptr);
    EXPECT_FALSE(fs::exists(other)) << "mode 3 does not touch the file system";
    void* none = nullptr;
    intptr_t noHandle = 0;
    EXPECT_EQ(fFMAPcloseFile(&none, &noHandle), 1);
}

TEST(SharedMemoryNames, AreBuiltFromTheSlotNumber)
{
    char name[32];
    ASSERT_EQ(fSharedMemoryCreateFileName(name, 0), 1);
    EXPECT_STREQ(name, "WTCHF0");
    ASSERT_EQ(fSharedMemoryCreateMapName(name, 0), 1);
    EXPECT_STREQ(name, "WTCHM0");
    ASSERT_EQ(fSharedMemoryCreateMapName(name, 19), 1);
    EXPECT_STREQ(name, "WTCHM19");
    ASSERT_EQ(fSharedMemoryCreateFileName(name, 12), 1);
    EXPECT_STREQ(name, "WTCHF12");
    std::strcpy(name, "kept");
    EXPECT_EQ(fSharedMemoryCreateMapName(name, -1), 0);
    EXPECT_STREQ(name, "kept");
}

class SharedMemoryChannel : public testsupport::RootTest {
protected:
    // The server's calling order for slot `slot`.
    void* serve(int slot, intptr_t& mapping)
    {
        char name[32];
        fSharedMemoryCreateMapName(name, slot);
        intptr_t file = hSharedMemoryCreateFile("WTCHF0", 0);
        EXPECT_EQ(file, kWatchcoreNoFile);
        mapping = hSharedMemoryCreateFileMapping(file, name, 0, sizeof(PrinterEntry));
        EXPECT_NE(mapping, 0);
        return lpvSharedMemoryMapViewFile(mapping);
    }
    void* attach(int slot, intptr_t& mapping)
    {
        char name[32];
        fSharedMemoryCreateMapName(name, slot);
        mapping = hSharedMemoryOpenFileMapping(name);
        return mapping != 0 ? lpvSharedMemoryMapViewFile(mapping) : nullptr;
    }
};

TEST_F(SharedMemoryChannel, ServerAndClientCopyTheWholeRecordBothWays)
{
    intptr_t serverMapping = 0, clientMapping = 0;
    void* server = serve(0, serverMapping);
    ASSERT_NE(server, nullptr);
    void* client = attach(0, clientMapping);
    ASSERT_NE(client, nullptr);

    PrinterEntry written{};
    written.SlotIndex = 0;
    written.HideRequest = 1;
    written.JobCount = -1;
    std::strcpy(written.PrinterName, "ﾌﾟﾘﾝﾀ PG-03");
    ASSERT_EQ(fSharedMemoryWriteAccess(server, &written, sizeof written), 1);
    PrinterEntry read{};
    ASSERT_EQ(fSharedMemoryReadAccess(client, &read, sizeof read), 1);
    EXPECT_EQ(std::memcmp(&read, &written, sizeof read), 0);
    EXPECT_EQ(fSharedMemoryUpdate(server, sizeof written), 1);

    EXPECT_EQ(fSharedMemoryReadAccess(client, &read, sizeof read + 1), 0) << "a count beyond the mapping is refused";
    EXPECT_EQ(fSharedMemoryReadAccess(nullptr, &read, sizeof read), 0);
    EXPECT_EQ(fSharedMemoryWriteAccess(nullptr, &written, sizeof written), 0);

    // The server closes first: the client's view stays usable.
    ASSERT_EQ(fSharedMemoryServerClose(server, serverMapping, kWatchcoreNoFile, 0), 1);
    written.JobCount = 3;
    ASSERT_EQ(fSharedMemoryWriteAccess(client, &written, sizeof written), 1);
    ASSERT_EQ(fSharedMemoryReadAccess(client, &read, sizeof read), 1);
    EXPECT_EQ(read.JobCount, 3);
    EXPECT_EQ(fSharedMemoryClientClose(client, clientMapping), 1);
}

TEST_F(SharedMemoryChannel, OpeningASlotNobodyCreatedShowsTheClientError)
{
    Boxes boxes;
    intptr_t mapping = 1;
    EXPECT_EQ(attach(7, mapping), nullptr);
    EXPECT_EQ(mapping, 0);
    auto shown = boxes.taken();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].caption, "エラー");
    EXPECT_EQ(shown[0].text, "クライアント: ファイル マッピング オープン異常終了!");
    EXPECT_EQ(hSharedMemoryCreateFileMapping(0, "WTCHM1", 0, 1816), 0);
    EXPECT_EQ(lpvSharedMemoryMapViewFile(0), nullptr);
    shown = boxes.taken();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].text, "サーバー: MapFileHandle が NULL です!");
    EXPECT_EQ(shown[1].text, "ファイル ビューのマッピング異常終了!");
}

TEST_F(SharedMemoryChannel, TheFileBackedModeOfANewFileGivesNoRegion)
{
    Boxes boxes;
    intptr_t file = hSharedMemoryCreateFile("WTCHF3", 1);
    ASSERT_NE(file, 0);
    EXPECT_EQ(hSharedMemoryCreateFileMapping(file, "WTCHM3", 1, 1816), 0) << "a new file has size 0";
    auto shown = boxes.taken();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, "サーバー: CreateMap() 異常終了!");
    EXPECT_EQ(fSharedMemoryServerClose(nullptr, 0, file, 1), 1);
}

TEST_F(SharedMemoryChannel, TwoProcessesHammeringOneRecordNeverSeeItTorn)
{
    intptr_t mapping = 0;
    void* server = serve(0, mapping);
    ASSERT_NE(server, nullptr);
    std::vector<pid_t> children;
    // A writer alternating two whole-record patterns, and a reader checking every copy is one of them.
    for (int role = 0; role < 2; ++role) {
        pid_t pid = ::fork();
        if (pid == 0) {
            intptr_t childMapping = 0;
            void* view = attach(0, childMapping);
            if (view == nullptr) ::_exit(2);
            unsigned char record[sizeof(PrinterEntry)];
            for (int i = 0; i < 4000; ++i) {
                if (role == 0) {
                    std::memset(record, (i & 1) ? 0xFF : 0x00, sizeof record);
                    fSharedMemoryWriteAccess(view, record, sizeof record);
                } else {
                    fSharedMemoryReadAccess(view, record, sizeof record);
                    for (unsigned char b : record) {
                        if (b != record[0]) ::_exit(1);
                    }
                }
            }
            ::_exit(0);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a reader saw a half-written record";
    }
    fSharedMemoryServerClose(server, mapping, kWatchcoreNoFile, 0);
}
