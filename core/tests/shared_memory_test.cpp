// The shared-memory channel's handles and files, through the library's exports: what it refuses
// (names that leave tmp/, stale and made-up handles, copies it cannot make) and what it keeps safe
// (the data of a file it reopens, the file's mode, the process's own descriptors).

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "plat/base/message_box.h"
#include "plat/base/system_root.h"
#include "testsupport/message_boxes.h"
#include "testsupport/temp_root.h"
#include "watchcore.h"

namespace fs = std::filesystem;

namespace {

using Boxes = testsupport::MessageBoxes;

void writeFile(const fs::path& file, const std::string& bytes) { std::ofstream(file, std::ios::binary) << bytes; }

std::string fileBytes(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Sets the process's umask for one test.
class Umask {
public:
    explicit Umask(mode_t mask) : m_old(::umask(mask)) {}
    ~Umask() { ::umask(m_old); }

private:
    mode_t m_old;
};

constexpr uint32_t kRecord = 1816;
constexpr const char* kCreateFileBox = "サーバー: CreateMapFile() 異常終了!";

class SharedMemoryFile : public testsupport::RootTest {
protected:
    Boxes boxes;
};

class SharedMemoryHandles : public testsupport::RootTest {
protected:
    // A server's slot: no file, a mapping of one record, its view.
    struct Served {
        intptr_t file = 0;
        intptr_t mapping = 0;
        void* view = nullptr;
    };
    Served serve(const char* name)
    {
        Served s;
        s.file = hSharedMemoryCreateFile("WTCHF0", 0);
        s.mapping = hSharedMemoryCreateFileMapping(s.file, name, 0, kRecord);
        s.view = s.mapping != 0 ? lpvSharedMemoryMapViewFile(s.mapping) : nullptr;
        return s;
    }
    Boxes boxes;
};

}  // namespace

// ---- The file-backed mode's file -----------------------------------------------------------------

TEST_F(SharedMemoryFile, RefusesEveryNameThatIsNotABareNameInTmp)
{
    const fs::path outside = root.path() / "registry-copy";
    writeFile(outside, "precious");
    const std::string tooLong(300, 'F');
    // Two levels up and back into this test's root, so a name that got through stays inside it.
    const std::string climb = "../../" + root.path().filename().string() + "/escaped";
    const std::string cases[] = {
        outside.string(),    // an absolute path
        "../registry-copy",  // a way out of tmp/
        climb,               // further out
        "sub/WTCHF0",        // a folder
        "",                  // nothing
        ".",                 // tmp/ itself
        "..",                // the root
        tooLong,             // longer than any name of the system
    };
    for (const std::string& name : cases) {
        EXPECT_EQ(hSharedMemoryCreateFile(name.c_str(), 1), 0) << "name \"" << name << "\"";
        EXPECT_EQ(boxes.takenTexts(), std::vector<std::string>{kCreateFileBox}) << "name \"" << name << "\"";
    }
    EXPECT_EQ(hSharedMemoryCreateFile(nullptr, 1), 0);
    EXPECT_EQ(fileBytes(outside), "precious");
    EXPECT_FALSE(fs::exists(root.path() / "escaped"));
}

TEST_F(SharedMemoryFile, KeepsTheDataOfAFileItOpensAgain)
{
    const fs::path file = plat::tmpDir() / "WTCHF0";
    writeFile(file, std::string(kRecord, 'r'));
    intptr_t handle = hSharedMemoryCreateFile("WTCHF0", 1);
    ASSERT_NE(handle, 0);
    EXPECT_EQ(fileBytes(file), std::string(kRecord, 'r'));

    // The mapping takes the size of the data the file holds.
    intptr_t mapping = hSharedMemoryCreateFileMapping(handle, "WTCHM0", 1, 0);
    ASSERT_NE(mapping, 0);
    void* view = lpvSharedMemoryMapViewFile(mapping);
    ASSERT_NE(view, nullptr);
    char record[kRecord];
    EXPECT_EQ(fSharedMemoryReadAccess(view, record, kRecord), 1);
    EXPECT_EQ(fSharedMemoryReadAccess(view, record, kRecord + 1), 0);
    EXPECT_EQ(fSharedMemoryServerClose(view, mapping, handle, 1), 1);
    EXPECT_TRUE(boxes.takenTexts().empty());
}

TEST_F(SharedMemoryFile, MakesItsFilePrivateWhateverTheUmask)
{
    for (mode_t mask : {mode_t{0}, mode_t{0022}, mode_t{0277}}) {
        Umask umask(mask);
        const std::string name = "WTCHF" + std::to_string(mask);
        intptr_t handle = hSharedMemoryCreateFile(name.c_str(), 1);
        ASSERT_NE(handle, 0) << "umask " << std::oct << mask;
        struct stat info {};
        ASSERT_EQ(::stat((plat::tmpDir() / name).c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, 0600u) << "umask " << std::oct << mask;
        EXPECT_EQ(fSharedMemoryServerClose(nullptr, 0, handle, 1), 1);
    }
}

TEST_F(SharedMemoryFile, FollowsNoLinkAndOpensNothingButAFile)
{
    const fs::path target = root.path() / "target";
    writeFile(target, "precious");
    fs::create_symlink(target, plat::tmpDir() / "WTCHF1");
    EXPECT_EQ(hSharedMemoryCreateFile("WTCHF1", 1), 0);
    EXPECT_EQ(fileBytes(target), "precious");

    ASSERT_EQ(::mkfifo((plat::tmpDir() / "WTCHF2").c_str(), 0600), 0);
    EXPECT_EQ(hSharedMemoryCreateFile("WTCHF2", 1), 0);
    fs::create_directory(plat::tmpDir() / "WTCHF3");
    EXPECT_EQ(hSharedMemoryCreateFile("WTCHF3", 1), 0);
    EXPECT_EQ(boxes.takenTexts().size(), 3u);
}

TEST_F(SharedMemoryFile, WithoutTheFileFlagTouchesNothing)
{
    EXPECT_EQ(hSharedMemoryCreateFile("../../x", 0), kWatchcoreNoFile);
    EXPECT_TRUE(fs::is_empty(plat::tmpDir()));
    EXPECT_TRUE(boxes.takenTexts().empty());
}

// ---- Handles: checked, never trusted -------------------------------------------------------------

TEST_F(SharedMemoryHandles, ClosingTwiceIsRefusedTheSecondTime)
{
    Served s = serve("WTCHM0");
    ASSERT_NE(s.view, nullptr);
    char name[32];
    fSharedMemoryCreateMapName(name, 0);
    intptr_t client = hSharedMemoryOpenFileMapping(name);
    ASSERT_NE(client, 0);

    EXPECT_EQ(fSharedMemoryClientClose(nullptr, client), 1);
    EXPECT_EQ(fSharedMemoryClientClose(nullptr, client), 0) << "a closed handle is stale";
    EXPECT_EQ(fSharedMemoryServerClose(s.view, s.mapping, s.file, 0), 1);
    EXPECT_EQ(fSharedMemoryServerClose(s.view, s.mapping, s.file, 0), 0);
    EXPECT_EQ(fSharedMemoryServerClose(nullptr, s.mapping, s.file, 0), 0);
    EXPECT_EQ(lpvSharedMemoryMapViewFile(s.mapping), nullptr);

    // A handle is never given out twice, so the stale one does not name the next mapping.
    Served next = serve("WTCHM0");
    ASSERT_NE(next.view, nullptr);
    EXPECT_NE(next.mapping, s.mapping);
    EXPECT_EQ(fSharedMemoryClientClose(nullptr, s.mapping), 0);
    EXPECT_NE(hSharedMemoryOpenFileMapping(name), 0) << "the refused close left the live mapping alone";
    EXPECT_EQ(fSharedMemoryServerClose(next.view, next.mapping, next.file, 0), 1);
}

TEST_F(SharedMemoryHandles, MadeUpHandlesAreRefused)
{
    Served s = serve("WTCHM0");
    ASSERT_NE(s.view, nullptr);
    for (intptr_t madeUp : {intptr_t{1}, intptr_t{12345}, reinterpret_cast<intptr_t>(&s), s.mapping + 1000}) {
        EXPECT_EQ(lpvSharedMemoryMapViewFile(madeUp), nullptr) << madeUp;
        EXPECT_EQ(fSharedMemoryClientClose(nullptr, madeUp), 0) << madeUp;
        EXPECT_EQ(fSharedMemoryServerClose(nullptr, madeUp, kWatchcoreNoFile, 0), 0) << madeUp;
        EXPECT_EQ(hSharedMemoryCreateFileMapping(madeUp, "WTCHM1", 1, 0), 0) << madeUp;
        EXPECT_EQ(hSharedMemoryCreateFileMapping(madeUp, "WTCHM1", 0, kRecord), 0) << madeUp;
    }
    // A handle of one kind is not one of the other.
    intptr_t file = hSharedMemoryCreateFile("WTCHF1", 1);
    ASSERT_NE(file, 0);
    EXPECT_EQ(lpvSharedMemoryMapViewFile(file), nullptr);
    EXPECT_EQ(fSharedMemoryClientClose(nullptr, file), 0);
    EXPECT_EQ(fSharedMemoryServerClose(nullptr, 0, s.mapping, 1), 0);
    EXPECT_EQ(fSharedMemoryServerClose(nullptr, 0, file, 1), 1);
    EXPECT_EQ(fSharedMemoryServerClose(nullptr, 0, file, 1), 0) << "a file handle is closed once";

    EXPECT_EQ(fSharedMemoryServerClose(s.view, s.mapping, s.file, 0), 1);
}

TEST_F(SharedMemoryHandles, AFileHandleIsNeverADescriptorOfTheProcess)
{
    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    // Whatever number a descriptor has, closing it through the library is refused.
    for (int fd : pipeEnds) {
        for (intptr_t guess : {intptr_t{fd}, intptr_t{fd} + 1}) {
            EXPECT_EQ(fSharedMemoryServerClose(nullptr, 0, guess, 1), 0);
            EXPECT_EQ(hSharedMemoryCreateFileMapping(guess, "WTCHM2", 1, 0), 0);
        }
    }
    EXPECT_NE(::fcntl(pipeEnds[0], F_GETFD), -1) << "the library closed a descriptor it never gave out";
    EXPECT_NE(::fcntl(pipeEnds[1], F_GETFD), -1) << "the library closed a descriptor it never gave out";
    ::close(pipeEnds[0]);
    ::close(pipeEnds[1]);
}

TEST_F(SharedMemoryHandles, ARefusedCloseLeavesEverythingOpen)
{
    Served s = serve("WTCHM0");
    ASSERT_NE(s.view, nullptr);
    EXPECT_EQ(fSharedMemoryServerClose(s.view, s.mapping + 1000, kWatchcoreNoFile, 0), 0);
    EXPECT_EQ(fSharedMemoryServerClose(s.view, s.mapping, 4242, 1), 0);
    char record[kRecord] = {};
    EXPECT_EQ(fSharedMemoryWriteAccess(s.view, record, kRecord), 1) << "the view is still mapped";
    EXPECT_EQ(fSharedMemoryServerClose(s.view, s.mapping, s.file, 0), 1);
}

TEST_F(SharedMemoryHandles, AViewIsUsableUntilItIsClosed)
{
    Served s = serve("WTCHM0");
    ASSERT_NE(s.view, nullptr);
    char record[kRecord] = {};
    EXPECT_EQ(fSharedMemoryReadAccess(static_cast<char*>(s.view) + 8, record, 8), 0) << "not the view's address";
    ASSERT_EQ(fSharedMemoryServerClose(s.view, s.mapping, s.file, 0), 1);
    EXPECT_EQ(fSharedMemoryReadAccess(s.view, record, kRecord), 0);
    EXPECT_EQ(fSharedMemoryWriteAccess(s.view, record, kRecord), 0);
    EXPECT_EQ(fSharedMemoryReadAccess(s.view, record, 0), 0) << "even an empty copy needs a live view";
    EXPECT_EQ(fSharedMemoryWriteAccess(s.view, record, 0), 0);
}

TEST_F(SharedMemoryHandles, AViewClosedWhileAnotherThreadCopiesEndsItsCopiesCleanly)
{
    Served s = serve("WTCHM0");
    ASSERT_NE(s.view, nullptr);
    std::atomic<int> copies{0};
    std::thread reader([&] {
        char record[kRecord];
        while (fSharedMemoryReadAccess(s.view, record, kRecord) == 1) ++copies;
    });
    ASSERT_TRUE(testsupport::waitUntil([&] { return copies.load() > 100; }));
    EXPECT_EQ(fSharedMemoryServerClose(s.view, s.mapping, s.file, 0), 1);
    reader.join();  // the reader's copies are refused once the view is gone, never made through it
}

// ---- Update answers what it did ------------------------------------------------------------------

TEST_F(SharedMemoryHandles, UpdateAnswersZeroWhenItRefuses)
{
    Served s = serve("WTCHM0");
    ASSERT_NE(s.view, nullptr);
    EXPECT_EQ(fSharedMemoryUpdate(s.view, kRecord), 1);
    EXPECT_EQ(fSharedMemoryUpdate(s.view, 0), 1);
    EXPECT_EQ(fSharedMemoryUpdate(nullptr, kRecord), 0);
    EXPECT_EQ(fSharedMemoryUpdate(s.view, kRecord + 1), 0) << "beyond the mapping";
    EXPECT_EQ(fSharedMemoryUpdate(static_cast<char*>(s.view) + 1, 1), 0) << "not a view";
    ASSERT_EQ(fSharedMemoryServerClose(s.view, s.mapping, s.file, 0), 1);
    EXPECT_EQ(fSharedMemoryUpdate(s.view, kRecord), 0) << "a view that was unmapped";
}

// ---- A change is one step ------------------------------------------------------------------------

namespace {

// Adds one to the counter at the word `context` names; the channel writes it back.
int32_t countUp(void* record, void* context)
{
    static_cast<uint32_t*>(record)[*static_cast<int*>(context)] += 1;
    return 1;
}

int32_t leaveAlone(void* record, void*)
{
    static_cast<uint32_t*>(record)[0] = 999;
    return 0;
}

}  // namespace

TEST_F(SharedMemoryHandles, TwoProcessesChangingOneRecordLoseNoChange)
{
    // The list program and a detail program each change their own fields of one record; with a read
    // and a write as two steps, one side's write put back the other's field as it was before.
    Served s = serve("WTCHM0");
    ASSERT_NE(s.view, nullptr);
    constexpr int kChanges = 3000;
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const intptr_t mapping = hSharedMemoryOpenFileMapping("WTCHM0");  // its own view, as a client's
        void* view = mapping != 0 ? lpvSharedMemoryMapViewFile(mapping) : nullptr;
        int word = 1;
        uint32_t record[kRecord / 4];
        for (int i = 0; view != nullptr && i < kChanges; ++i) {
            if (fSharedMemoryChangeAccess(view, record, kRecord, countUp, &word) != 1) ::_exit(2);
        }
        ::_exit(view != nullptr ? 0 : 1);
    }
    int word = 0;
    uint32_t record[kRecord / 4];
    for (int i = 0; i < kChanges; ++i) ASSERT_EQ(fSharedMemoryChangeAccess(s.view, record, kRecord, countUp, &word), 1);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    ASSERT_EQ(fSharedMemoryReadAccess(s.view, record, kRecord), 1);
    EXPECT_EQ(record[0], uint32_t{kChanges});
    EXPECT_EQ(record[1], uint32_t{kChanges});

    EXPECT_EQ(fSharedMemoryChangeAccess(s.view, record, kRecord, leaveAlone, nullptr), 1);
    ASSERT_EQ(fSharedMemoryReadAccess(s.view, record, kRecord), 1);
    EXPECT_EQ(record[0], uint32_t{kChanges}) << "a change that answers 0 writes nothing";
    EXPECT_EQ(fSharedMemoryChangeAccess(s.view, record, kRecord + 1, countUp, &word), 0) << "beyond the mapping";
    EXPECT_EQ(fSharedMemoryChangeAccess(s.view, nullptr, kRecord, countUp, &word), 0);
    ASSERT_EQ(fSharedMemoryServerClose(s.view, s.mapping, s.file, 0), 1);
}
