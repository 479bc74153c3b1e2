#include "engine_fixture.h"

#include <cstring>

#include "plat/registry/registry.h"
#include "testsupport/temp_root.h"
#include "watchcore.h"

namespace enginetest {

using plat::registry::Key;
using plat::registry::Root;
using plat::registry::Status;
using plat::registry::Store;
using plat::registry::ValueType;

namespace {

Store& theStore() { return testsupport::rootStore(); }

}  // namespace

void EngineTest::SetUp()
{
    ASSERT_TRUE(sim.ready()) << sim.output();
    useClock(m_fastClock);
}

void EngineTest::useClock(const plat::Clock& clock)
{
    if (m_engine) m_engine->deleteStThreads();
    m_engine.reset();
    m_services = std::make_unique<plat::Services>(theStore(), plat::Services::Options{&clock, {}, {}});
    m_engine = std::make_unique<vigil::Engine>(*m_services);
}

void EngineTest::TearDown()
{
    if (!m_engine) return;
    m_engine->deleteStThreads();
    EXPECT_TRUE(threadsEnd());
}

void EngineTest::preparePrinter(const std::string& printer, const std::string& port, const std::string& model,
                                const std::string& shortModel)
{
    m_printer = printer;
    Key key;
    ASSERT_EQ(theStore().createKey(Root::LocalMachine, printerKey(), "", key), Status::Ok);
    setString(printerKey(), "Port", port);
    setString(printerKey(), "Printer Driver", model);
    ASSERT_EQ(theStore().createKey(Root::LocalMachine, driverDataKey(), "", key), Status::Ok);

    PrinterEntry entry{};
    std::strncpy(entry.PrinterName, printer.c_str(), sizeof entry.PrinterName - 1);
    std::strncpy(entry.ModelName, shortModel.c_str(), sizeof entry.ModelName - 1);
    ASSERT_EQ(fInitRegistory(&entry), 1);
    setDword(storeKey(), "GetRealTimeStatusTime", 40);
    setDword(storeKey(), "StRetryTime", 100);
}

void EngineTest::start(const std::string& printer, const std::string& port, const std::string& model,
                       std::uint32_t family, std::uint32_t connection)
{
    engine().createVigilmonInitialize(
        {port, "", printer, model, static_cast<facts::EngineFamily>(family), connection, 4242});
}

std::optional<std::string> EngineTest::bytes(const std::string& key, const std::string& name) const
{
    std::string buffer(4096, '\0');
    std::uint32_t size = 0;
    if (theStore().getValue(Root::LocalMachine, key, name, std::as_writable_bytes(std::span(buffer)), &size) !=
        Status::Ok) {
        return std::nullopt;
    }
    buffer.resize(size);
    while (!buffer.empty() && buffer.back() == '\0') buffer.pop_back();
    return buffer;
}

std::optional<std::uint32_t> EngineTest::dword(const std::string& key, const std::string& name) const
{
    std::uint32_t value = 0, size = 0;
    if (theStore().getValue(Root::LocalMachine, key, name, std::as_writable_bytes(std::span(&value, 1)), &size) !=
        Status::Ok) {
        return std::nullopt;
    }
    return value;
}

void EngineTest::setDword(const std::string& key, const std::string& name, std::uint32_t value) const
{
    ASSERT_EQ(theStore().setValue(Root::LocalMachine, key, name, ValueType::Dword, std::as_bytes(std::span(&value, 1)),
                                  Store::Flush::No),
              Status::Ok)
        << key << " " << name;
}

void EngineTest::setString(const std::string& key, const std::string& name, const std::string& text) const
{
    ASSERT_EQ(theStore().setValue(Root::LocalMachine, key, name, ValueType::String,
                                  std::as_bytes(std::span(text.c_str(), text.size() + 1)), Store::Flush::No),
              Status::Ok);
}

void EngineTest::setBinary(const std::string& key, const std::string& name, const std::string& data) const
{
    ASSERT_EQ(theStore().setValue(Root::LocalMachine, key, name, ValueType::Binary,
                                  std::as_bytes(std::span(data.data(), data.size())), Store::Flush::No),
              Status::Ok);
}

void EngineTest::deleteValue(const std::string& key, const std::string& name) const
{
    Key k;
    ASSERT_EQ(theStore().openKey(Root::LocalMachine, key, plat::registry::QueryAndSet, k), Status::Ok);
    k.deleteValue(name);
}

bool EngineTest::storeBecomes(const std::string& name, std::uint32_t value) const
{
    return testsupport::waitUntil([&] { return store(name) == value; });
}

bool EngineTest::threadsEnd() const { return engine().waitForThreads(std::chrono::seconds(30)); }

}  // namespace enginetest
