#include "plat/spool/spooler.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "plat/port/port.h"
#include "testsupport/temp_root.h"

using namespace plat::spool;

namespace {

class EmbeddedSpooler : public testsupport::RootTest {
protected:
    void SetUp() override
    {
        auto opened = embedded(testsupport::rootStore());
        ASSERT_TRUE(opened.ok()) << opened.error().detail;
        spooler = std::move(opened).value();
        ASSERT_TRUE(spooler->addMonitor({"VELTA Language Monitor 01", "KMON01.DLL"}).ok());
        ASSERT_TRUE(
            spooler->addDriver({"VELTA PG-03", "C:\\WINDOWS\\SYSTEM\\KDRV01.DRV", "VELTA Language Monitor 01"}).ok());
        ASSERT_TRUE(spooler->addPort("LPT1:", std::nullopt).ok());
        ASSERT_TRUE(spooler->addPort("\\\\SERVER\\QUEUE", std::nullopt).ok());
    }

    int code(const Done& done) { return done.ok() ? 0 : done.error().code; }

    std::unique_ptr<Spooler> spooler;
};

}  // namespace

TEST_F(EmbeddedSpooler, ListsPrintersInTheOrderTheyWereAdded)
{
    for (const char* name : {"Zeta", "Alpha", "Mid"}) {
        ASSERT_TRUE(spooler->addPrinter({name, "LPT1:", "VELTA PG-03"}).ok()) << name;
    }
    auto printers = spooler->printers();
    ASSERT_TRUE(printers.ok());
    ASSERT_EQ(printers.value().size(), 3u);
    EXPECT_EQ(printers.value()[0].name, "Zeta");
    EXPECT_EQ(printers.value()[1].name, "Alpha");
    EXPECT_EQ(printers.value()[2].name, "Mid");
    EXPECT_EQ(printers.value()[0].port, "LPT1:");
    EXPECT_EQ(printers.value()[0].driver, "VELTA PG-03");

    ASSERT_TRUE(spooler->deletePrinter("Zeta").ok());
    ASSERT_TRUE(spooler->addPrinter({"Zeta", "LPT1:", "VELTA PG-03"}).ok());
    EXPECT_EQ(spooler->printers().value().back().name, "Zeta") << "a printer added again comes last";
}

TEST_F(EmbeddedSpooler, RefusesWhatDoesNotFitAndChangesNothing)
{
    ASSERT_TRUE(spooler->addPrinter({"Office", "LPT1:", "VELTA PG-03"}).ok());
    const auto before = spooler->changeCount();
    EXPECT_EQ(code(spooler->addPrinter({"office", "LPT1:", "VELTA PG-03"})), static_cast<int>(Failure::Exists));
    EXPECT_EQ(code(spooler->addPrinter({"Other", "LPT1:", "VELTA PG-99"})), static_cast<int>(Failure::NotFound));
    EXPECT_EQ(code(spooler->addPrinter({"Other", "LPT7:", "VELTA PG-03"})), static_cast<int>(Failure::NotFound));
    EXPECT_EQ(code(spooler->addPrinter({"Bad\\Name", "LPT1:", "VELTA PG-03"})), static_cast<int>(Failure::Invalid));
    EXPECT_EQ(code(spooler->addPrinter({std::string(198, 'p'), "LPT1:", "VELTA PG-03"})),
              static_cast<int>(Failure::Invalid));
    EXPECT_EQ(code(spooler->setPort("Office", "COM9:")), static_cast<int>(Failure::NotFound));
    EXPECT_EQ(code(spooler->setDriver("Nobody", "VELTA PG-03")), static_cast<int>(Failure::NotFound));
    EXPECT_EQ(code(spooler->deletePrinter("Nobody")), static_cast<int>(Failure::NotFound));
    EXPECT_EQ(spooler->printers().value().size(), 1u);
    EXPECT_FALSE(spooler->printer("Other").ok());
    EXPECT_EQ(spooler->changeCount(), before) << "a refused change is no change";
}

TEST_F(EmbeddedSpooler, JobsComeAndGoAndEveryChangeMovesTheCount)
{
    ASSERT_TRUE(spooler->addPrinter({"Office", "LPT1:", "VELTA PG-03"}).ok());
    const auto seen = spooler->changeCount();
    ASSERT_TRUE(spooler->submitJobs("Office", 3).ok());
    EXPECT_TRUE(spooler->waitForChange(seen, std::chrono::seconds(5)));
    EXPECT_EQ(spooler->printer("office").value().jobs, 3u) << "printer names ignore case";
    ASSERT_TRUE(spooler->finishJobs("Office", 5).ok());
    EXPECT_EQ(spooler->printer("Office").value().jobs, 0u) << "never below zero";
    EXPECT_FALSE(spooler->submitJobs("Nobody", 1).ok());
    EXPECT_FALSE(spooler->waitForChange(spooler->changeCount(), std::chrono::milliseconds(50)));
}

TEST_F(EmbeddedSpooler, PrinterDataLivesUnderThePrintersDriverDataKey)
{
    ASSERT_TRUE(spooler->addPrinter({"Office", "LPT1:", "VELTA PG-03", 0, 0, 0, -3}).ok());
    EXPECT_EQ(spooler->printer("Office").value().quality, -3);
    const std::string blob = "VLPrinterInfo";
    ASSERT_TRUE(spooler
                    ->setPrinterData("Office", "VLDeviceID", plat::registry::ValueType::Binary,
                                     std::as_bytes(std::span(blob.data(), blob.size())))
                    .ok());
    auto data = spooler->printerData("Office", "vldeviceid");
    ASSERT_TRUE(data.ok());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(data.value().data()), data.value().size()), blob);
    EXPECT_FALSE(spooler->printerData("Office", "Missing").ok());
    EXPECT_FALSE(spooler->setPrinterData("Nobody", "X", plat::registry::ValueType::Binary, {}).ok());
}

TEST_F(EmbeddedSpooler, DriversPortsAndThePortMap)
{
    ASSERT_TRUE(spooler->addPort("LPT2:", "device:/dev/usb/lp0").ok());
    EXPECT_EQ(plat::port::portTarget(testsupport::rootStore(), "LPT2:"), "device:/dev/usb/lp0");
    auto ports = spooler->ports();
    ASSERT_TRUE(ports.ok());
    EXPECT_EQ(ports.value(), (std::vector<std::string>{"\\\\SERVER\\QUEUE", "FILE:", "LPT1:", "LPT2:"}))
        << "in name order, FILE: among them";
    auto drivers = spooler->drivers();
    ASSERT_TRUE(drivers.ok());
    ASSERT_EQ(drivers.value().size(), 1u);
    EXPECT_EQ(drivers.value()[0].path, "C:\\WINDOWS\\SYSTEM\\KDRV01.DRV");
    EXPECT_EQ(drivers.value()[0].monitor, "VELTA Language Monitor 01");
}

TEST_F(EmbeddedSpooler, MovingAPrinterOrDeletingItIsSeenAtOnce)
{
    ASSERT_TRUE(spooler->addPrinter({"Office", "LPT1:", "VELTA PG-03"}).ok());
    ASSERT_TRUE(spooler->setPort("Office", "\\\\SERVER\\QUEUE").ok());
    EXPECT_EQ(spooler->printer("Office").value().port, "\\\\SERVER\\QUEUE");
    ASSERT_TRUE(spooler->deletePrinter("Office").ok());
    EXPECT_FALSE(spooler->printer("Office").ok());
    EXPECT_TRUE(spooler->printers().value().empty());
}

TEST_F(EmbeddedSpooler, FileIsAPortOfEverySpoolerWithoutBeingAdded)
{
    ASSERT_TRUE(spooler->addPrinter({"Office", "LPT1:", "VELTA PG-03"}).ok());
    ASSERT_TRUE(spooler->setPort("Office", "FILE:").ok());
    EXPECT_EQ(spooler->printer("Office").value().port, "FILE:");
    EXPECT_TRUE(spooler->addPrinter({"Archive", "file:", "VELTA PG-03"}).ok()) << "port names ignore case";

    // Adding it as well (as older set-ups did) does not list it twice.
    ASSERT_TRUE(spooler->addPort("FILE:", std::nullopt).ok());
    auto ports = spooler->ports();
    ASSERT_TRUE(ports.ok());
    EXPECT_EQ(std::count(ports.value().begin(), ports.value().end(), "FILE:"), 1);
}

TEST(EmbeddedSpoolerWithoutPorts, ListsFileAlone)
{
    testsupport::TempRoot root;
    auto spooler = embedded(testsupport::rootStore());
    ASSERT_TRUE(spooler.ok());
    auto ports = spooler.value()->ports();
    ASSERT_TRUE(ports.ok());
    EXPECT_EQ(ports.value(), std::vector<std::string>{"FILE:"});
}

TEST_F(EmbeddedSpooler, NamesThatAreNotUtf8AreRefusedWhereTheyComeIn)
{
    const std::string bad = "Caf\xe9";  // Latin-1, not UTF-8
    const auto invalid = static_cast<int>(Failure::Invalid);
    EXPECT_EQ(code(spooler->addPort(bad + ":", std::nullopt)), invalid);
    EXPECT_EQ(code(spooler->addPrinter({bad, "LPT1:", "VELTA PG-03"})), invalid);
    EXPECT_EQ(code(spooler->addDriver({bad, "KDRV01.DRV", "VELTA Language Monitor 01"})), invalid);
    EXPECT_EQ(code(spooler->addDriver({"VELTA PG-09", "C:\\" + bad, "VELTA Language Monitor 01"})), invalid);
    EXPECT_EQ(code(spooler->addMonitor({bad, "KMON01.DLL"})), invalid);
    auto refused = spooler->addPrinter({bad, "LPT1:", "VELTA PG-03"});
    ASSERT_FALSE(refused.ok());
    EXPECT_NE(refused.error().detail.find("UTF-8"), std::string::npos) << refused.error().detail;
    EXPECT_TRUE(spooler->printers().value().empty());
    EXPECT_EQ(spooler->ports().value().size(), 3u) << "LPT1:, the queue and FILE:";

    EXPECT_TRUE(spooler->addPrinter({"ﾌﾟﾘﾝﾀ Café", "LPT1:", "VELTA PG-03"}).ok()) << "UTF-8 is welcome";
}
