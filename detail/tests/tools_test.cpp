// The tools page: its rules by model, family and connection, and its widgets built from templates 1800,
// 1900 and 2000 over a fake window that records what the page starts.

#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "printer_entry.h"
#include "templates.h"
#include "tools_page.h"
#include "tools_widget.h"

using namespace watchpanel;
using facts::Family;
namespace tc = watchpanel::tools_control;

namespace {

PrinterEntry printer(Family family, std::uint32_t model, const char* port = "LPT1:", std::uint32_t network = 0,
                     std::uint32_t kind = 0)
{
    PrinterEntry e{};
    std::strcpy(e.PrinterName, "Front desk");
    std::strcpy(e.PortName, port);
    e.PrinterFamily = static_cast<std::uint32_t>(family);
    e.ModelCode = model;
    e.NetworkPort = network;
    e.NetworkKind = kind;
    return e;
}

// Opens a gate the fake head move waits at.
class Latch {
public:
    void release()
    {
        std::lock_guard lock(m_mutex);
        m_open = true;
        m_cv.notify_all();
    }
    void wait()
    {
        std::unique_lock lock(m_mutex);
        m_cv.wait(lock, [&] { return m_open; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_open = false;
};

class FakeWindow : public ToolsHost {
public:
    Family family() const override { return static_cast<Family>(entry.PrinterFamily); }
    bool readEntry(PrinterEntry& e) override
    {
        if (!readable) return false;
        e = entry;
        return true;
    }
    void startJobWindow(const std::string& name) override { jobWindows.push_back(name); }
    void startPrinterSetup(const std::string& driver, const std::string& name, const std::string& port) override
    {
        setups.push_back(driver + "|" + name + "|" + port);
    }
    std::int32_t moveHead(const std::string& port) override
    {
        {
            std::lock_guard lock(mutex);
            headPorts.push_back(port);
            headThread = std::this_thread::get_id();
        }
        if (gate) gate->wait();
        return 1;
    }

    PrinterEntry entry{};
    bool readable = true;
    std::vector<std::string> jobWindows, setups;
    std::mutex mutex;
    std::vector<std::string> headPorts;
    std::thread::id headThread;
    Latch* gate = nullptr;
};

class ToolsPageTest : public ::testing::Test {
protected:
    // The page of the printer's family, attached and selected as the window does.
    void open(const PrinterEntry& entry)
    {
        window.entry = entry;
        static constexpr int kTemplates[] = {1800, 1900, 2000};
        page = loadTemplate(kTemplates[entry.PrinterFamily]);
        ASSERT_NE(page, nullptr);
        tools.attach(page.get());
        tools.pageSelected();
    }
    QPushButton* button(int number) const { return page->findChild<QPushButton*>(QStringLiteral("c%1").arg(number)); }
    bool enabled(int number) const
    {
        QWidget* w = page->findChild<QWidget*>(QStringLiteral("c%1").arg(number));
        return w != nullptr && w->isEnabled();
    }
    std::vector<std::string> headPorts()
    {
        std::lock_guard lock(window.mutex);
        return window.headPorts;
    }

    FakeWindow window;
    // The page's widgets go before the binding, as the section list prunes a page under a live window.
    ToolsWidget tools{window};
    std::unique_ptr<QWidget> page;
};

TEST(ToolsRules, EnablingByModelFamilyAndConnection)
{
    // A page printer of model 18 has no printer settings; its head-move controls do not exist.
    EXPECT_FALSE(toolsEnabling(Family::Page, printer(Family::Page, 18)).printerSetup);
    EXPECT_TRUE(toolsEnabling(Family::Page, printer(Family::Page, 3)).printerSetup);
    for (std::uint32_t model : {0u, 1u, 8u, 14u, 19u, 20u, 25u})
        EXPECT_FALSE(toolsEnabling(Family::Page, printer(Family::Page, model)).printerSetup) << model;

    // An inkjet of model 15 offers neither; one of model 3 both, unless it sits on a network path.
    const ToolsEnabling fifteen = toolsEnabling(Family::Inkjet, printer(Family::Inkjet, 15));
    EXPECT_FALSE(fifteen.printerSetup);
    EXPECT_FALSE(fifteen.headMove);
    const ToolsEnabling three = toolsEnabling(Family::Inkjet, printer(Family::Inkjet, 3));
    EXPECT_TRUE(three.printerSetup);
    EXPECT_TRUE(three.headMove);
    EXPECT_FALSE(toolsEnabling(Family::Inkjet, printer(Family::Inkjet, 3, "\\\\srv\\q", 1, 2)).headMove);
    EXPECT_FALSE(toolsEnabling(Family::Inkjet, printer(Family::Inkjet, 3, "\\\\srv\\q", 1, 1)).headMove);
    for (std::uint32_t model : {2u, 9u, 10u, 11u, 14u, 16u, 17u})
        EXPECT_FALSE(toolsEnabling(Family::Inkjet, printer(Family::Inkjet, model)).headMove) << model;

    // The head move itself: the local port, never a network path or a model without the command.
    EXPECT_EQ(headMovePort(printer(Family::Inkjet, 3, "USB001")), "USB001");
    EXPECT_FALSE(headMovePort(printer(Family::Inkjet, 3, "\\\\srv\\q", 1, 2)));
    EXPECT_FALSE(headMovePort(printer(Family::Inkjet, 15)));
}

TEST_F(ToolsPageTest, APagePrinterOfModel18HasThePrinterSettingsDisabled)
{
    open(printer(Family::Page, 18));
    EXPECT_TRUE(enabled(tc::kJobList));
    for (int n : {tc::kSetupGroup, tc::kSetupIcon, tc::kSetup}) EXPECT_FALSE(enabled(n)) << n;
    EXPECT_EQ(button(tc::kHeadMove), nullptr);
    EXPECT_EQ(button(tc::kJobList)->text(), QString::fromUtf8("ｼﾞｮﾌﾞ一覧(&J)"));
}

TEST_F(ToolsPageTest, AnInkjetOfModel15HasBothToolsDisabled)
{
    open(printer(Family::Inkjet, 15));
    for (int n : {tc::kSetupGroup, tc::kSetupIcon, tc::kSetup, tc::kHeadGroup, tc::kHeadIcon, tc::kHeadMove})
        EXPECT_FALSE(enabled(n)) << n;
    EXPECT_TRUE(enabled(tc::kJobList));
}

TEST_F(ToolsPageTest, EachGroupShowsItsIcon)
{
    open(printer(Family::Inkjet, 3));
    for (int n : {tc::kJobIcon, tc::kSetupIcon, tc::kHeadIcon}) {
        auto* label = page->findChild<QLabel*>(QStringLiteral("c%1").arg(n));
        ASSERT_NE(label, nullptr) << n;
        EXPECT_FALSE(label->pixmap().isNull()) << n;
        EXPECT_EQ(label->pixmap().deviceIndependentSize(), QSizeF(16, 16)) << n;
    }
}

TEST_F(ToolsPageTest, TheButtonsStartTheJobWindowAndThePrinterSetupWithTheEntrysNames)
{
    open(printer(Family::Impact, 13, "LPT2:"));
    EXPECT_TRUE(enabled(tc::kSetup));
    button(tc::kJobList)->click();
    EXPECT_EQ(window.jobWindows, std::vector<std::string>{"Front desk"});
    button(tc::kSetup)->click();
    EXPECT_EQ(window.setups, std::vector<std::string>{"KDRV03.DRV|Front desk|LPT2:"});

    // The list program's request goes through the same action as the button.
    tools.openJobList();
    EXPECT_EQ(window.jobWindows, (std::vector<std::string>{"Front desk", "Front desk"}));

    // Nothing starts when the entry cannot be read.
    window.readable = false;
    button(tc::kJobList)->click();
    button(tc::kSetup)->click();
    tools.openJobList();
    EXPECT_EQ(window.jobWindows.size(), 2u);
    EXPECT_EQ(window.setups.size(), 1u);
}

TEST_F(ToolsPageTest, TheHeadMoveRunsOffTheGuiThreadWhileTheWindowKeepsAnswering)
{
    Latch gate;
    window.gate = &gate;
    open(printer(Family::Inkjet, 3, "USB002"));
    QSignalSpy finished(&tools, &ToolsWidget::headMoveFinished);
    ASSERT_TRUE(enabled(tc::kHeadMove));
    button(tc::kHeadMove)->click();

    // The button shows it is busy while the engine works.
    EXPECT_TRUE(tools.headMoving());
    EXPECT_FALSE(enabled(tc::kHeadMove));
    EXPECT_EQ(button(tc::kHeadMove)->cursor().shape(), Qt::BusyCursor);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !headPorts().empty(); }, 30000));
    EXPECT_EQ(headPorts(), std::vector<std::string>{"USB002"});
    EXPECT_NE(window.headThread, std::this_thread::get_id());

    // The GUI thread goes on with its events, and a second press does nothing meanwhile.
    bool answered = false;
    QTimer::singleShot(0, [&] { answered = true; });
    EXPECT_TRUE(QTest::qWaitFor([&] { return answered; }, 30000));
    tools.moveHead();
    tools.pageSelected();
    EXPECT_FALSE(enabled(tc::kHeadMove));
    EXPECT_EQ(finished.count(), 0);

    gate.release();
    ASSERT_TRUE(QTest::qWaitFor([&] { return finished.count() == 1; }, 30000));
    EXPECT_EQ(finished.at(0).at(0).toInt(), 1);
    EXPECT_FALSE(tools.headMoving());
    EXPECT_TRUE(enabled(tc::kHeadMove));
    EXPECT_NE(button(tc::kHeadMove)->cursor().shape(), Qt::BusyCursor);
    EXPECT_EQ(headPorts().size(), 1u);
}

TEST_F(ToolsPageTest, OnANetworkPathTheHeadMoveDoesNothing)
{
    open(printer(Family::Inkjet, 3, "\\\\server\\queue", 1, 2));
    EXPECT_FALSE(enabled(tc::kHeadMove));
    tools.moveHead();
    EXPECT_FALSE(tools.headMoving());
    tools.finish();
    EXPECT_TRUE(headPorts().empty());
}

TEST_F(ToolsPageTest, AWindowEndingDuringAHeadMoveWaitsForTheEngine)
{
    Latch gate;
    window.gate = &gate;
    open(printer(Family::Inkjet, 3, "USB003"));
    auto early = std::make_unique<ToolsWidget>(window);
    early->attach(page.get());
    early->moveHead();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !headPorts().empty(); }, 30000));
    std::thread releaser([&] { gate.release(); });
    early.reset();  // returns only after the fake engine has
    releaser.join();
    QTest::qWait(0);  // the late result finds no page binding and is dropped
    EXPECT_EQ(headPorts().size(), 1u);
}

}  // namespace
