#include "plat/registry/registry.h"

#include <gtest/gtest.h>
#include <linux/capability.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "plat/base/system_root.h"
#include "testsupport/temp_root.h"

using namespace plat::registry;

namespace {

std::vector<std::byte> bytes(std::string_view text)
{
    auto span = std::as_bytes(std::span(text.data(), text.size()));
    return {span.begin(), span.end()};
}

class Registry : public testsupport::RootTest {
protected:
    void SetUp() override
    {
        auto opened = Store::open(plat::registryFile());
        ASSERT_TRUE(opened.ok()) << opened.error().detail;
        store = std::move(opened).value();
    }

    Key create(Root r, std::string_view path)
    {
        Key key;
        EXPECT_EQ(store->createKey(r, path, "WATCHLIST", key), Status::Ok) << path;
        return key;
    }

    std::uint32_t dword(Key& key, std::string_view name)
    {
        std::uint32_t v = 0, size = 0;
        EXPECT_EQ(key.query(name, std::as_writable_bytes(std::span(&v, 1)), &size), Status::Ok) << name;
        return v;
    }

    std::unique_ptr<Store> store;
};

// Runs `body` in a forked child with a store of its own; returns the child's exit code.
template <class Body>
pid_t forkWithStore(Body body)
{
    pid_t pid = ::fork();
    if (pid == 0) {
        auto store = Store::open(plat::registryFile());
        ::_exit(store.ok() ? body(*store.value()) : 90);
    }
    return pid;
}

int exitCodeOf(pid_t pid)
{
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST_F(Registry, KeyPathsAndValueNamesIgnoreCase)
{
    Key key = create(Root::LocalMachine, "System\\Print\\Printers\\PG-03\\Vigilmon");
    ASSERT_EQ(key.setDword("ICcardName", 7), Status::Ok);
    ASSERT_EQ(key.setDword("ICCARDNAME", 8), Status::Ok) << "one value, not two";

    Key again;
    ASSERT_EQ(store->openKey(Root::LocalMachine, "system\\PRINT\\printers\\pg-03\\VIGILMON", Query, again), Status::Ok);
    EXPECT_EQ(dword(again, "ICCardName"), 8u);
    auto values = again.values();
    ASSERT_TRUE(values.ok());
    ASSERT_EQ(values.value().size(), 1u);
    EXPECT_EQ(values.value()[0].name, "ICcardName") << "the first writer's spelling stays";
}

TEST_F(Registry, RootsAreSeparate)
{
    Key machine = create(Root::LocalMachine, "Software\\X");
    ASSERT_EQ(machine.setDword("V", 1), Status::Ok);
    Key user;
    EXPECT_EQ(store->openKey(Root::CurrentUser, "Software\\X", Query, user), Status::NotFound);
}

TEST_F(Registry, ValuesKeepTheirTypeAndExactBytes)
{
    Key key = create(Root::LocalMachine, "K");
    ASSERT_EQ(key.set("with zero", ValueType::String, bytes(std::string_view("abc", 4))), Status::Ok);
    ASSERT_EQ(key.set("without zero", ValueType::String, bytes("abc")), Status::Ok);
    ASSERT_EQ(key.set("empty", ValueType::Binary, {}), Status::Ok);
    ASSERT_EQ(key.setDword("dword", 0x01020304), Status::Ok);

    std::array<std::byte, 8> buffer{};
    std::uint32_t size = 0;
    ValueType type{};
    ASSERT_EQ(key.query("with zero", buffer, &size, &type), Status::Ok);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(type, ValueType::String);
    ASSERT_EQ(key.query("without zero", buffer, &size, &type), Status::Ok);
    EXPECT_EQ(size, 3u);
    ASSERT_EQ(key.query("empty", buffer, &size, &type), Status::Ok);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(type, ValueType::Binary);
    ASSERT_EQ(key.query("dword", buffer, &size, &type), Status::Ok);
    EXPECT_EQ(type, ValueType::Dword);
    EXPECT_EQ(buffer[0], std::byte{0x04}) << "DWORDs are little-endian";
    EXPECT_EQ(buffer[3], std::byte{0x01});
}

TEST_F(Registry, AQueryIntoASmallerBufferFailsAndSaysTheSizeNeeded)
{
    Key key = create(Root::LocalMachine, "K");
    ASSERT_EQ(key.set("text", ValueType::String, bytes(std::string(1500, 'x'))), Status::Ok);
    std::vector<std::byte> buffer(1023);
    std::uint32_t size = 0;
    EXPECT_EQ(key.query("text", buffer, &size), Status::MoreData);
    EXPECT_EQ(size, 1500u);
    EXPECT_EQ(key.query("text", {}, &size), Status::Ok) << "a null buffer asks for the size only";
    EXPECT_EQ(size, 1500u);
    EXPECT_EQ(key.query("missing", buffer, &size), Status::NotFound);
}

TEST_F(Registry, CreateMakesEveryKeyAboveAndOpenNeverCreates)
{
    Key missing;
    EXPECT_EQ(store->openKey(Root::LocalMachine, "A\\B\\C", QueryAndSet, missing), Status::NotFound);
    bool created = false;
    Key key;
    ASSERT_EQ(store->createKey(Root::LocalMachine, "A\\B\\C", "WATCHLIST", key, &created), Status::Ok);
    EXPECT_TRUE(created);
    ASSERT_EQ(store->createKey(Root::LocalMachine, "a\\b\\c", "WATCHLIST", key, &created), Status::Ok);
    EXPECT_FALSE(created);

    Key a;
    ASSERT_EQ(store->openKey(Root::LocalMachine, "A", Query, a), Status::Ok);
    auto children = a.subKeys();
    ASSERT_TRUE(children.ok());
    EXPECT_EQ(children.value(), std::vector<std::string>{"B"});
}

TEST_F(Registry, MalformedPathsAreRefused)
{
    Key key;
    EXPECT_EQ(store->createKey(Root::LocalMachine, "A\\\\B", "", key), Status::InvalidArgument);
    EXPECT_EQ(store->createKey(Root::LocalMachine, std::string(256, 'x'), "", key), Status::InvalidArgument);
    EXPECT_EQ(store->createKey(Root::LocalMachine, "\\Lead\\Trail\\", "", key), Status::Ok);
    EXPECT_EQ(store->openKey(Root::LocalMachine, "Lead\\Trail", Query, key), Status::Ok);
}

TEST_F(Registry, SubKeysAreTheDirectChildrenOnly)
{
    create(Root::LocalMachine, "P\\Printers\\One\\Vigilmon");
    create(Root::LocalMachine, "P\\Printers\\Two");
    create(Root::LocalMachine, "P\\Printers\\ﾌﾟﾘﾝﾀ");
    create(Root::LocalMachine, "P\\PrintersElsewhere");
    Key printers;
    ASSERT_EQ(store->openKey(Root::LocalMachine, "P\\Printers", Query, printers), Status::Ok);
    auto children = printers.subKeys();
    ASSERT_TRUE(children.ok());
    EXPECT_EQ(children.value(), (std::vector<std::string>{"One", "Two", "ﾌﾟﾘﾝﾀ"}));

    Key root;
    ASSERT_EQ(store->openKey(Root::LocalMachine, "", Query, root), Status::Ok);
    EXPECT_EQ(root.subKeys().value(), std::vector<std::string>{"P"});
}

TEST_F(Registry, DeletingAKeyTakesItsSubtreeAndNothingBeside)
{
    Key vigilmon = create(Root::LocalMachine, "Printers\\One\\Vigilmon");
    vigilmon.setDword("X", 1);
    Key sibling = create(Root::LocalMachine, "Printers\\OneMore");
    sibling.setDword("Y", 2);

    ASSERT_EQ(store->deleteKey(Root::LocalMachine, "printers\\one"), Status::Ok);
    Key gone;
    EXPECT_EQ(store->openKey(Root::LocalMachine, "Printers\\One\\Vigilmon", Query, gone), Status::NotFound);
    EXPECT_EQ(vigilmon.setDword("X", 3), Status::NotFound) << "a key deleted while open takes no more values";
    EXPECT_EQ(dword(sibling, "Y"), 2u);
    EXPECT_EQ(store->deleteKey(Root::LocalMachine, "Printers\\One"), Status::NotFound);
    EXPECT_EQ(store->deleteKey(Root::LocalMachine, ""), Status::InvalidArgument) << "roots stay";
}

TEST_F(Registry, AccessIsWhatTheKeyWasOpenedWith)
{
    create(Root::LocalMachine, "K").setDword("V", 1);
    Key readOnly;
    ASSERT_EQ(store->openKey(Root::LocalMachine, "K", Query, readOnly), Status::Ok);
    EXPECT_EQ(readOnly.setDword("V", 2), Status::AccessDenied);
    EXPECT_EQ(readOnly.deleteValue("V"), Status::AccessDenied);
    Key writeOnly;
    ASSERT_EQ(store->openKey(Root::LocalMachine, "K", Set, writeOnly), Status::Ok);
    std::uint32_t size = 0;
    EXPECT_EQ(writeOnly.query("V", {}, &size), Status::AccessDenied);
    EXPECT_EQ(writeOnly.deleteValue("V"), Status::Ok);
    EXPECT_EQ(writeOnly.deleteValue("V"), Status::NotFound);
    Key closed;
    EXPECT_EQ(closed.setDword("V", 1), Status::InvalidArgument);
}

TEST_F(Registry, ASetIsVisibleToAnotherProcessAtOnce)
{
    Key key = create(Root::CurrentUser, "Notify");
    ASSERT_EQ(key.setDword("KswExitFlag", 1), Status::Ok);
    pid_t reader = forkWithStore([](Store& other) {
        Key k;
        std::uint32_t v = 0, size = 0;
        if (other.openKey(Root::CurrentUser, "Notify", Query, k) != Status::Ok) return 1;
        if (k.query("kswexitflag", std::as_writable_bytes(std::span(&v, 1)), &size) != Status::Ok) return 2;
        return v == 1 ? 0 : 3;
    });
    EXPECT_EQ(exitCodeOf(reader), 0);
}

TEST_F(Registry, AConsistentReadSeesNoChangeCommittedWhileItRuns)
{
    create(Root::LocalMachine, "Printers\\Nowhere").setDword("Order", 2);
    const auto order = [&]() -> std::uint32_t {
        Key key;
        return store->openKey(Root::LocalMachine, "Printers\\Nowhere", Query, key) == Status::Ok ? dword(key, "Order")
                                                                                                 : 0;
    };
    std::uint32_t first = 0, second = 0;
    Status inside = Status::Ok;
    const Status status = store->readConsistently([&] {
        first = order();
        // Another process deletes the printer between two reads of this one.
        pid_t deleter = forkWithStore([](Store& other) {
            return other.deleteKey(Root::LocalMachine, "Printers\\Nowhere") == Status::Ok ? 0 : 1;
        });
        if (exitCodeOf(deleter) != 0) inside = Status::StoreError;
        second = order();
        return Status::Ok;
    });
    EXPECT_EQ(status, Status::Ok);
    EXPECT_EQ(inside, Status::Ok) << "the other process could change the store meanwhile";
    EXPECT_EQ(first, 2u);
    EXPECT_EQ(second, 2u) << "the second read saw the deletion";
    EXPECT_EQ(order(), 0u) << "after the read the deletion shows";
}

TEST_F(Registry, AValueReadBeforeFollowsEveryChangeAnotherProcessMakes)
{
    create(Root::LocalMachine, "Printers\\Office").setDword("Jobs", 1);
    const auto jobs = [&]() -> std::optional<std::uint32_t> {
        std::uint32_t v = 0, size = 0;
        const Status status = store->getValue(Root::LocalMachine, "Printers\\Office", "Jobs",
                                              std::as_writable_bytes(std::span(&v, 1)), &size);
        if (status != Status::Ok) return std::nullopt;
        return v;
    };
    const auto inChild = [](auto change) { return exitCodeOf(forkWithStore(change)); };
    ASSERT_EQ(jobs(), 1u);
    ASSERT_EQ(jobs(), 1u);

    EXPECT_EQ(inChild([](Store& other) {
                  const std::uint32_t two = 2;
                  return other.setValue(Root::LocalMachine, "Printers\\Office", "Jobs", ValueType::Dword,
                                        std::as_bytes(std::span(&two, 1)), Store::Flush::No) == Status::Ok
                             ? 0
                             : 1;
              }),
              0);
    EXPECT_EQ(jobs(), 2u) << "a set through the store's path";

    EXPECT_EQ(inChild([](Store& other) {
                  Key k;
                  if (other.openKey(Root::LocalMachine, "printers\\office", Set, k) != Status::Ok) return 1;
                  return other.atomically([&] { return k.setDword("JOBS", 3); }) == Status::Ok ? 0 : 2;
              }),
              0);
    EXPECT_EQ(jobs(), 3u) << "a set through a key, in a transaction, in other letter case";

    EXPECT_EQ(inChild([](Store& other) {
                  Key k;
                  if (other.openKey(Root::LocalMachine, "Printers\\Office", Set, k) != Status::Ok) return 1;
                  return k.deleteValue("Jobs") == Status::Ok ? 0 : 2;
              }),
              0);
    EXPECT_EQ(jobs(), std::nullopt) << "a deleted value";

    EXPECT_EQ(inChild([](Store& other) {
                  Key k;
                  if (other.createKey(Root::LocalMachine, "Printers\\Office", "", k) != Status::Ok) return 1;
                  return k.setDword("Jobs", 4) == Status::Ok ? 0 : 2;
              }),
              0);
    EXPECT_EQ(jobs(), 4u);

    EXPECT_EQ(inChild([](Store& other) {
                  Key k;
                  if (other.deleteKey(Root::LocalMachine, "Printers\\Office") != Status::Ok) return 1;
                  if (other.createKey(Root::LocalMachine, "Printers\\Office", "", k) != Status::Ok) return 2;
                  return k.setDword("Jobs", 5) == Status::Ok ? 0 : 3;
              }),
              0);
    EXPECT_EQ(jobs(), 5u) << "a key deleted and made again under another id";
    Key key;
    ASSERT_EQ(store->openKey(Root::LocalMachine, "Printers\\Office", Query, key), Status::Ok);
    EXPECT_EQ(dword(key, "Jobs"), 5u);

    EXPECT_EQ(
        inChild([](Store& other) { return other.deleteKey(Root::LocalMachine, "Printers") == Status::Ok ? 0 : 1; }), 0);
    EXPECT_EQ(jobs(), std::nullopt) << "a deleted parent";
    EXPECT_EQ(store->openKey(Root::LocalMachine, "Printers\\Office", Query, key), Status::NotFound);
}

TEST_F(Registry, ASetOfTheValueThisProcessReadIsMadeOnceAnotherProcessChangedIt)
{
    create(Root::LocalMachine, "Engine");
    const auto set = [&](Store& to, std::uint32_t v) {
        return to.setValue(Root::LocalMachine, "Engine", "Flag", ValueType::Dword, std::as_bytes(std::span(&v, 1)),
                           Store::Flush::Yes);
    };
    const auto flag = [&] {
        std::uint32_t v = 0, size = 0;
        EXPECT_EQ(
            store->getValue(Root::LocalMachine, "Engine", "Flag", std::as_writable_bytes(std::span(&v, 1)), &size),
            Status::Ok);
        return v;
    };
    ASSERT_EQ(set(*store, 1), Status::Ok);
    ASSERT_EQ(flag(), 1u);
    ASSERT_EQ(set(*store, 1), Status::Ok);
    ASSERT_EQ(exitCodeOf(forkWithStore([&](Store& other) { return set(other, 2) == Status::Ok ? 0 : 1; })), 0);
    ASSERT_EQ(set(*store, 1), Status::Ok);
    EXPECT_EQ(flag(), 1u) << "the set after the other process's was left out";
}

TEST_F(Registry, AValueReadAgainKeepsTheSizeAndShortBufferRules)
{
    const std::string text = "Office PG-03";
    create(Root::LocalMachine, "K").set("Name", ValueType::String, bytes(text));
    for (int round = 0; round < 2; ++round) {
        std::uint32_t size = 0;
        ValueType type{};
        EXPECT_EQ(store->getValue(Root::LocalMachine, "K", "Name", {}, &size, &type), Status::Ok);
        EXPECT_EQ(size, text.size());
        EXPECT_EQ(type, ValueType::String);
        std::array<std::byte, 4> small{};
        EXPECT_EQ(store->getValue(Root::LocalMachine, "K", "Name", small, &size), Status::MoreData);
        EXPECT_EQ(size, text.size());
        std::array<std::byte, 32> room{};
        EXPECT_EQ(store->getValue(Root::LocalMachine, "K", "Name", room, &size), Status::Ok);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(room.data()), size), text);
        EXPECT_EQ(store->getValue(Root::LocalMachine, "K", "Missing", room, &size), Status::NotFound);
    }
}

TEST_F(Registry, AFlushedSetSurvivesKillOfTheWriter)
{
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    pid_t writer = forkWithStore([&](Store& other) {
        Key k;
        if (other.createKey(Root::LocalMachine, "Crash", "", k) != Status::Ok) return 1;
        if (k.setDword("Value", 4242) != Status::Ok || k.flush() != Status::Ok) return 2;
        char done = 'x';
        [[maybe_unused]] ssize_t n = ::write(ready[1], &done, 1);
        ::pause();  // killed here, store never closed
        return 0;
    });
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    ::kill(writer, SIGKILL);
    EXPECT_EQ(exitCodeOf(writer), -1);

    auto fresh = Store::open(plat::registryFile());
    ASSERT_TRUE(fresh.ok());
    Key key;
    ASSERT_EQ(fresh.value()->openKey(Root::LocalMachine, "Crash", Query, key), Status::Ok);
    EXPECT_EQ(dword(key, "Value"), 4242u);
}

TEST_F(Registry, FourWritersAtOnceNeverSeeALockedStore)
{
    create(Root::LocalMachine, "Busy");
    constexpr int kWriters = 4;
    constexpr int kSets = 300;
    std::vector<pid_t> writers;
    for (int w = 0; w < kWriters; ++w) {
        writers.push_back(forkWithStore([w](Store& other) {
            for (int i = 0; i < kSets; ++i) {
                Key k;
                if (other.openKey(Root::LocalMachine, "Busy", QueryAndSet, k) != Status::Ok) return 1;
                if (k.setDword("W" + std::to_string(w), static_cast<std::uint32_t>(i)) != Status::Ok) return 2;
                if (i % 10 == 0 && k.flush() != Status::Ok) return 3;
                // A key made and removed in one transaction, to mix multi-statement writes in.
                if (i % 50 == 0) {
                    Key sub;
                    std::string path = "Busy\\Sub" + std::to_string(w);
                    if (other.createKey(Root::LocalMachine, path, "", sub) != Status::Ok) return 4;
                    if (other.deleteKey(Root::LocalMachine, path) != Status::Ok) return 5;
                }
            }
            return 0;
        }));
    }
    for (pid_t pid : writers) EXPECT_EQ(exitCodeOf(pid), 0);
    Key key;
    ASSERT_EQ(store->openKey(Root::LocalMachine, "Busy", Query, key), Status::Ok);
    for (int w = 0; w < kWriters; ++w) EXPECT_EQ(dword(key, "W" + std::to_string(w)), kSets - 1u);
}

TEST(RegistryFile, TwoProcessesMakingANewStoreAtOnceAgree)
{
    testsupport::TempRoot root;
    std::vector<pid_t> openers;
    for (int i = 0; i < 4; ++i) {
        openers.push_back(forkWithStore([i](Store& store) {
            Key k;
            if (store.createKey(Root::LocalMachine, "K", "", k) != Status::Ok) return 1;
            return k.setDword("V" + std::to_string(i), 1) == Status::Ok ? 0 : 2;
        }));
    }
    for (pid_t pid : openers) EXPECT_EQ(exitCodeOf(pid), 0);
}

namespace {

std::string fileBytes(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

}  // namespace

TEST(RegistryFile, AFileThatIsNotAStoreIsRefusedAndLeftAlone)
{
    testsupport::TempRoot root;
    const auto file = plat::registryFile();
    const std::string garbage = "These are the user's settings, not a database at all." + std::string(4000, 'z');
    std::ofstream(file, std::ios::binary) << garbage;

    auto opened = Store::open(file);
    ASSERT_FALSE(opened.ok());
    EXPECT_NE(opened.error().detail.find(file.string()), std::string::npos) << opened.error().detail;
    EXPECT_NE(opened.error().detail.find("left as it is"), std::string::npos) << opened.error().detail;
    EXPECT_EQ(fileBytes(file), garbage);
}

TEST(RegistryFile, ADamagedStoreIsRefusedAndLeftAlone)
{
    testsupport::TempRoot root;
    const auto file = plat::registryFile();
    {
        auto store = Store::open(file);
        ASSERT_TRUE(store.ok());
        for (int i = 0; i < 200; ++i) {
            Key k;
            ASSERT_EQ(store.value()->createKey(Root::LocalMachine, "Key" + std::to_string(i), "", k), Status::Ok);
            k.set("Data", ValueType::String, bytes(std::string(300, 'd')));
        }
    }  // closed: the log is folded into the file
    std::string data = fileBytes(file);
    ASSERT_GT(data.size(), 8192u);
    for (std::size_t i = 4096; i < data.size(); i += 1024) data[i] ^= 0x5A;  // damage pages after the first
    std::ofstream(file, std::ios::binary | std::ios::trunc) << data;

    auto opened = Store::open(file);
    ASSERT_FALSE(opened.ok());
    EXPECT_NE(opened.error().detail.find("damaged"), std::string::npos) << opened.error().detail;
    EXPECT_EQ(fileBytes(file), data);
}

TEST(RegistryFile, ADatabaseOfSomethingElseIsRefused)
{
    testsupport::TempRoot root;
    const auto file = plat::registryFile();
    {
        auto store = Store::open(root.path() / "scratch.db");  // any SQLite file with other tables
        ASSERT_TRUE(store.ok());
    }
    std::filesystem::copy_file(root.path() / "scratch.db", file);
    // Make it someone else's: clear our schema version but keep tables.
    ASSERT_EQ(std::system(("sqlite3 '" + file.string() + "' 'PRAGMA user_version=0; CREATE TABLE notes(x);'").c_str()),
              0);
    auto opened = Store::open(file);
    ASSERT_FALSE(opened.ok());
    EXPECT_NE(opened.error().detail.find("not a registry store"), std::string::npos) << opened.error().detail;
}

TEST(RegistryFile, AnUnreadableStoreGivesAClearError)
{
    testsupport::TempRoot root;
    std::filesystem::create_directories(plat::registryFile());  // a folder where the file should be
    auto opened = Store::open(plat::registryFile());
    ASSERT_FALSE(opened.ok());
    EXPECT_NE(opened.error().detail.find("registry store"), std::string::npos) << opened.error().detail;
}

TEST_F(Registry, OneShotGetAndSetActLikeOpenQueryOrSetAndClose)
{
    std::array<std::byte, 4> buffer{};
    std::uint32_t size = 0;
    EXPECT_EQ(store->getValue(Root::LocalMachine, "No\\Key", "V", buffer, &size), Status::NotFound);
    EXPECT_EQ(store->setValue(Root::LocalMachine, "No\\Key", "V", ValueType::Dword, buffer, Store::Flush::Yes),
              Status::NotFound);
    Key missing;
    EXPECT_EQ(store->openKey(Root::LocalMachine, "No\\Key", Query, missing), Status::NotFound) << "set made no key";

    create(Root::LocalMachine, "Yes\\Key");
    EXPECT_EQ(store->getValue(Root::LocalMachine, "yes\\key", "V", buffer, &size), Status::NotFound);
    const std::uint32_t v = 9;
    ASSERT_EQ(store->setValue(Root::LocalMachine, "YES\\KEY", "v", ValueType::Dword, std::as_bytes(std::span(&v, 1)),
                              Store::Flush::No),
              Status::Ok);
    ValueType type{};
    ASSERT_EQ(store->getValue(Root::LocalMachine, "Yes\\Key", "V", buffer, &size, &type), Status::Ok);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(type, ValueType::Dword);
    EXPECT_EQ(buffer[0], std::byte{9});
    std::array<std::byte, 2> small{};
    EXPECT_EQ(store->getValue(Root::LocalMachine, "Yes\\Key", "V", small, &size), Status::MoreData);
    EXPECT_EQ(size, 4u);
}

// A store written by the first version of the schema keeps opening and reading. Each later schema
// version adds its own fixture here, made by the version before it.
TEST(RegistryFile, AVersionOneStoreOpensAndReads)
{
    testsupport::TempRoot root;
    std::filesystem::copy_file(REGISTRY_FIXTURES "/registry-v1.db", plat::registryFile());
    auto store = Store::open(plat::registryFile());
    ASSERT_TRUE(store.ok()) << store.error().detail;
    std::uint32_t value = 0, size = 0;
    ASSERT_EQ(store.value()->getValue(Root::LocalMachine,
                                      "System\\CurrentControlSet\\Control\\Print\\Printers\\Fixture PG-03\\Vigilmon",
                                      "StRetryTime", std::as_writable_bytes(std::span(&value, 1)), &size),
              Status::Ok);
    EXPECT_EQ(value, 30000u);
    ASSERT_EQ(store.value()->getValue(Root::CurrentUser, "Software\\VELTA\\VELTA Kestrel\\KswList\\Notify",
                                      "KswListRunFlag", std::as_writable_bytes(std::span(&value, 1)), &size),
              Status::Ok);
    EXPECT_EQ(value, 2u);
}

namespace {

unsigned modeOf(const std::filesystem::path& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0xFFFF;
}

// The tests may run as root, whom file modes do not stop. A child that gives up the capabilities
// that override them is bound by the modes as any user is.
bool dropFileModeOverride()
{
    if (::geteuid() != 0) return true;
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
    if (::syscall(SYS_capget, &header, data) != 0) return false;
    for (int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH}) {
        data[cap / 32].effective &= ~(1u << (cap % 32));
        data[cap / 32].permitted &= ~(1u << (cap % 32));
    }
    return ::syscall(SYS_capset, &header, data) == 0;
}

constexpr int kCannotDropOverride = 91;

// Opens the store in a child bound by file modes and runs `body` on it; its exit code.
template <class Body>
int inChildBoundByModes(Body body)
{
    pid_t pid = ::fork();
    if (pid == 0) {
        if (!dropFileModeOverride()) ::_exit(kCannotDropOverride);
        auto store = Store::open(plat::registryFile());
        if (!store.ok()) {
            std::fprintf(stderr, "%s\n", store.error().detail.c_str());
            ::_exit(90);
        }
        ::_exit(body(*store.value()));
    }
    return exitCodeOf(pid);
}

// A store with one key and value, closed again.
void makeStoreWithOneValue()
{
    auto store = Store::open(plat::registryFile());
    ASSERT_TRUE(store.ok()) << store.error().detail;
    Key key;
    ASSERT_EQ(store.value()->createKey(Root::LocalMachine, "Printers\\Office", "", key), Status::Ok);
    ASSERT_EQ(key.setDword("StRetryTime", 20000), Status::Ok);
}

// What a reader of a store that cannot be written gets: every read, and ReadOnly for every change.
int readsButRefusesChanges(Store& store)
{
    std::uint32_t value = 0, size = 0;
    if (store.getValue(Root::LocalMachine, "printers\\office", "StRetryTime",
                       std::as_writable_bytes(std::span(&value, 1)), &size) != Status::Ok ||
        value != 20000) {
        return 1;
    }
    Key key;
    if (store.openKey(Root::LocalMachine, "Printers\\Office", QueryAndSet, key) != Status::Ok) return 2;
    if (key.setDword("StRetryTime", 1) != Status::ReadOnly) return 3;
    if (key.deleteValue("StRetryTime") != Status::ReadOnly) return 4;
    Key other;
    if (store.createKey(Root::LocalMachine, "Printers\\New", "", other) != Status::ReadOnly) return 5;
    if (store.deleteKey(Root::LocalMachine, "Printers\\Office") != Status::ReadOnly) return 6;
    if (store.setValue(Root::LocalMachine, "Printers\\Office", "V", ValueType::Dword,
                       std::as_bytes(std::span(&value, 1)), Store::Flush::Yes) != Status::ReadOnly) {
        return 7;
    }
    if (store.atomically([&] { return key.setDword("StRetryTime", 2); }) != Status::ReadOnly) return 8;
    return 0;
}

}  // namespace

TEST(RegistryFile, TheStoreAndItsLogFilesAreTheUsersAloneWhateverTheUmask)
{
    testsupport::TempRoot root;
    const mode_t saved = ::umask(0);
    auto store = Store::open(plat::registryFile());
    ::umask(saved);
    ASSERT_TRUE(store.ok()) << store.error().detail;
    Key key;
    ASSERT_EQ(store.value()->createKey(Root::LocalMachine, "K", "", key), Status::Ok);
    ASSERT_EQ(key.setDword("V", 1), Status::Ok);
    const std::string file = plat::registryFile().string();
    EXPECT_EQ(modeOf(file), 0600u);
    EXPECT_EQ(modeOf(file + "-wal"), 0600u) << "the log holds the same data";
    EXPECT_EQ(modeOf(file + "-shm"), 0600u);
    EXPECT_EQ(modeOf(plat::systemRoot()), 0700u);
}

TEST(RegistryFile, AnOlderStoreWithWiderModesIsNarrowedWhenOpened)
{
    testsupport::TempRoot root;
    makeStoreWithOneValue();
    const std::string file = plat::registryFile().string();
    ASSERT_EQ(::chmod(file.c_str(), 0666), 0);
    ASSERT_TRUE(Store::open(file).ok());
    EXPECT_EQ(modeOf(file), 0600u);

    ASSERT_EQ(::chmod(file.c_str(), 0444), 0);
    ASSERT_TRUE(Store::open(file).ok());
    EXPECT_EQ(modeOf(file), 0400u) << "a store the user made read-only stays read-only";
}

TEST(RegistryFile, AReadOnlyStoreFileIsReadAndEveryChangeSaysReadOnly)
{
    testsupport::TempRoot root;
    makeStoreWithOneValue();
    ASSERT_EQ(::chmod(plat::registryFile().c_str(), 0400), 0);
    const int rc = inChildBoundByModes(readsButRefusesChanges);
    if (rc == kCannotDropOverride) GTEST_SKIP() << "cannot give up the file mode override here";
    EXPECT_EQ(rc, 0);
}

TEST(RegistryFile, AStoreInAReadOnlyFolderIsReadAndEveryChangeSaysReadOnly)
{
    testsupport::TempRoot root;
    makeStoreWithOneValue();  // closed: its log files are gone, and none can be made now
    const auto folder = plat::systemRoot();
    ASSERT_EQ(::chmod(folder.c_str(), 0500), 0);
    const int rc = inChildBoundByModes(readsButRefusesChanges);
    ::chmod(folder.c_str(), 0700);
    if (rc == kCannotDropOverride) GTEST_SKIP() << "cannot give up the file mode override here";
    EXPECT_EQ(rc, 0);
    EXPECT_FALSE(std::filesystem::exists(plat::registryFile().string() + "-wal"));
}
