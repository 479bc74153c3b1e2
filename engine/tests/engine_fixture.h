#pragma once
// A fresh system root with vprinter serving printers, a spooler printer key for each printer the test
// monitors, the store prepared as the list program prepares it, and an engine of the test's own running
// fast (its fixed waits at 1/50 on a test clock). Nothing is shared between tests, so a test program
// may run all its cases in one process.

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

#include "engine.h"
#include "plat/base/clock.h"
#include "plat/services/services.h"
#include "testsupport/simulator.h"
#include "testsupport/temp_root.h"

namespace enginetest {

// The printers every engine test can use: one per family and the models with follow-up queries.
inline constexpr const char* kPrinters = R"({"printers": [
    {"port": "LPT1:", "model": "PG-03"},
    {"port": "LPT2:", "model": "IJ-09"},
    {"port": "LPT3:", "model": "DM-02"},
    {"port": "LPT4:", "model": "IJ-03"},
    {"port": "LPT5:", "model": "IJ-01"},
    {"port": "LPT6:", "model": "IJ-08"}]})";

class EngineTest : public testsupport::RootTest {
protected:
    EngineTest() : EngineTest(kPrinters) {}
    // The simulator on printers of the test's own (vprinter's JSON config).
    explicit EngineTest(const std::string& config) : sim(VPRINTER_PROGRAM, config) {}

    void SetUp() override;
    void TearDown() override;

    // The test's engine, on the test's root and clock.
    vigil::Engine& engine() const { return *m_engine; }
    // Replaces the engine (the old one stopped) by one on `clock`; for a test that needs its waits at
    // another speed. Call it before the engine starts.
    void useClock(const plat::Clock& clock);

    // Makes the spooler's printer key ("Port", "Printer Driver", an empty PrinterDriverData) and the
    // printer's \Vigilmon with its initial values, then sets the two intervals small.
    void preparePrinter(const std::string& printer, const std::string& port, const std::string& model,
                        const std::string& shortModel);
    // Starts the engine for a printer prepared with preparePrinter().
    void start(const std::string& printer, const std::string& port, const std::string& model, std::uint32_t family,
               std::uint32_t connection = 1);

    std::optional<std::uint32_t> dword(const std::string& key, const std::string& name) const;
    std::optional<std::string> bytes(const std::string& key, const std::string& name) const;
    void setDword(const std::string& key, const std::string& name, std::uint32_t value) const;
    void setString(const std::string& key, const std::string& name, const std::string& text) const;
    void setBinary(const std::string& key, const std::string& name, const std::string& data) const;
    void deleteValue(const std::string& key, const std::string& name) const;

    std::string printerKey() const { return "System\\CurrentControlSet\\Control\\Print\\Printers\\" + m_printer; }
    std::string storeKey() const { return printerKey() + "\\Vigilmon"; }
    std::string driverDataKey() const { return printerKey() + "\\PrinterDriverData"; }
    std::optional<std::uint32_t> store(const std::string& name) const { return dword(storeKey(), name); }
    std::optional<std::string> storeText(const std::string& name) const { return bytes(storeKey(), name); }

    // Waits (bounded) until the store value `name` is `value`.
    bool storeBecomes(const std::string& name, std::uint32_t value) const;
    // Waits (bounded) until no engine thread runs.
    bool threadsEnd() const;

    testsupport::Simulator sim;
    std::string m_printer;
    plat::ScaledClock m_fastClock{0.02};
    std::unique_ptr<plat::Services> m_services;
    std::unique_ptr<vigil::Engine> m_engine;
};

}  // namespace enginetest
