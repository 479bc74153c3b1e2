// The velta URI and the discovery lines of the velta backend.

#include <gtest/gtest.h>

#include <string>

#include "device.h"

namespace {

using namespace velta;

TEST(VeltaUri, DevicePaths)
{
    EXPECT_EQ(devicePathOf("velta:/dev/usb/lp0"), "/dev/usb/lp0");
    EXPECT_EQ(devicePathOf("velta:///dev/usb/lp1"), "/dev/usb/lp1");
    EXPECT_EQ(devicePathOf("velta:/tmp/a%20b/run/vprinter-LPT1_.sock"), "/tmp/a b/run/vprinter-LPT1_.sock");
    for (const char* bad : {"usb:/dev/usb/lp0", "velta:", "velta:/", "velta:dev/usb/lp0", "velta://host/dev/lp0",
                            "velta:/dev/usb/../sda", "velta:/dev/./lp0", "velta:/dev/usb/lp0?x=1", "velta:/dev/lp%0",
                            "velta:/dev/lp%zz", "velta:/dev/lp%0A0", "velta:/dev/usb/", "VELTA PG-03"}) {
        EXPECT_FALSE(devicePathOf(bad)) << bad;
    }
    EXPECT_EQ(uriOf("/tmp/a b/\"x\""), "velta:/tmp/a%20b/%22x%22");
    EXPECT_EQ(devicePathOf(uriOf("/tmp/a b/\"x\"")), "/tmp/a b/\"x\"");
}

TEST(VeltaDiscovery, LinesForVeltaPrintersOnly)
{
    EXPECT_EQ(discoveryLine("velta://VELTA/PG-03?serial=A1", "MFG:VELTA;MDL:PG-03;CMD:KJL,PGSCRIPT;SN:A1;"),
              "direct velta://VELTA/PG-03?serial=A1 \"VELTA PG-03\" \"VELTA PG-03 USB\" "
              "\"MFG:VELTA;MDL:PG-03;CMD:KJL,PGSCRIPT;SN:A1;\" \"\"");
    // A quote in the ID cannot end its field early.
    auto line = discoveryLine("velta:/dev/usb/lp1", "MFG:VELTA;MDL:IJ-09;DES:\"x\";");
    ASSERT_TRUE(line);
    EXPECT_NE(line->find("\"MFG:VELTA;MDL:IJ-09;DES: x ;\""), std::string::npos);
    EXPECT_FALSE(discoveryLine("/dev/usb/lp2", "MFG:OTHER;MDL:X;"));
}

}  // namespace
