#pragma once
// What the simulator's robustness tests check after each attack: both printers still answer.

#include <gtest/gtest.h>

#include "plat/port/port.h"
#include "testsupport/simulator.h"
#include "testsupport/temp_root.h"

namespace simtest {

// The printers every robustness test serves: a page printer on LPT1: and an inkjet on LPT2:.
inline constexpr const char* kTwoPrinters = R"({"printers": [
    {"port": "LPT1:", "model": "PG-03", "state": "paper-low 30"},
    {"port": "LPT2:", "model": "IJ-09"}]})";

// Both printers answer: a control command, and an open port with its device ID.
inline void expectServing(testsupport::Simulator& sim)
{
    EXPECT_NE(sim.must("LPT2:", "show").find("model IJ-09"), std::string::npos);
    auto port = plat::port::openPort(testsupport::rootStore(), "LPT1:");
    ASSERT_TRUE(port.ok()) << port.error().detail;
    std::byte id[256];
    EXPECT_GT(port.value()->deviceId(id), 0);
}

}  // namespace simtest
