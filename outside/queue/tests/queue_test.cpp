#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <filesystem>
#include <fstream>
#include <string>

#include "plat/spool/spooler.h"
#include "queue_window.h"
#include "shortcut.h"
#include "testsupport/run_program.h"
#include "testsupport/temp_root.h"
#include "watchcore.h"

namespace fs = std::filesystem;

namespace {

class Queue : public testsupport::RootTest {
protected:
    void SetUp() override
    {
        auto opened = plat::spool::embedded(testsupport::rootStore());
        ASSERT_TRUE(opened.ok());
        spooler = std::move(opened.value());
        ASSERT_TRUE(spooler->addDriver({"VELTA PG-03", "C:\\WINDOWS\\SYSTEM\\KDRV01.DRV", "Monitor"}).ok());
        ASSERT_TRUE(spooler->addPort("LPT1:", std::nullopt).ok());
        dir = root.path() / "programs";
        fs::create_directories(dir);
    }

    void addPrinter(const std::string& name, std::uint32_t jobs)
    {
        ASSERT_TRUE(spooler->addPrinter({name, "LPT1:", "VELTA PG-03"}).ok()) << name;
        if (jobs > 0) {
            ASSERT_TRUE(spooler->submitJobs(name, jobs).ok());
        }
    }

    std::string shortcutFor(const std::string& printer)
    {
        char path[260] = {};
        EXPECT_EQ(fCreateShortCutFile(dir.c_str(), printer.c_str(), path), 1);
        return path;
    }

    std::string bytesOf(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }

    std::string writeFile(const std::string& name, const std::string& bytes)
    {
        const std::string path = (dir / name).string();
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    testsupport::ProgramRun queueProgram(std::vector<std::string> args)
    {
        args.insert(args.begin(), QUEUE_PROGRAM);
        return testsupport::runProgram(args);
    }

    std::unique_ptr<plat::spool::Spooler> spooler;
    fs::path dir;
};

}  // namespace

TEST_F(Queue, ReadsThePrinterOfItsOwnShortcuts)
{
    for (const std::string& name :
         std::vector<std::string>{"Office PG-03", "a\"b'c", "x$(touch pwned);y", std::string(255, 'n')}) {
        auto printer = queue::readPrinterShortcut(shortcutFor(name));
        ASSERT_TRUE(printer.ok()) << printer.error().detail;
        EXPECT_EQ(printer.value(), name);
    }
}

TEST_F(Queue, RefusesTruncatedForeignAndOversizedFiles)
{
    const std::string good = bytesOf(shortcutFor("Office"));
    const std::vector<std::string> bad = {
        good.substr(0, good.size() - 1),  // the last zero lost
        good.substr(0, 100),              // inside the head
        "",
        std::string("\x4C\0\0\0", 4) + std::string(200, 'x'),
        good + std::string(1000, 'x'),  // longer than any shortcut
        std::string(1 << 20, '\0'),     // large: still read only a few hundred bytes
    };
    for (std::size_t i = 0; i < bad.size(); ++i) {
        auto printer = queue::readPrinterShortcut(writeFile("bad" + std::to_string(i), bad[i]));
        ASSERT_FALSE(printer.ok()) << i;
        EXPECT_EQ(printer.error().code, static_cast<int>(queue::ShortcutFailure::NotOurs)) << i;
    }
    std::string wrongLength = good;
    wrongLength[118] = static_cast<char>(wrongLength[118] + 1);
    EXPECT_FALSE(queue::readPrinterShortcut(writeFile("length", wrongLength)).ok());
    EXPECT_EQ(queue::readPrinterShortcut((dir / "missing").string()).error().code,
              static_cast<int>(queue::ShortcutFailure::Unreadable));
    EXPECT_EQ(queue::readPrinterShortcut(dir.string()).error().code,
              static_cast<int>(queue::ShortcutFailure::Unreadable));
}

TEST_F(Queue, ProgramListsAndCancelsTheShortcutsPrinterAndDeletesTheShortcut)
{
    addPrinter("Office", 3);
    addPrinter("Other", 2);
    const std::string shortcut = shortcutFor("Office");
    auto run = queueProgram({shortcut, "--list"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "printer: Office\njobs: 3\n  job 1 pending\n  job 2 pending\n  job 3 pending\n");
    EXPECT_FALSE(fs::exists(shortcut));

    run = queueProgram({shortcutFor("Office"), "--cancel-one"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(spooler->printer("Office").value().jobs, 2u);
    run = queueProgram({shortcutFor("Office"), "--cancel-all"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "printer: Office\njobs: 0\n");
    EXPECT_EQ(spooler->printer("Office").value().jobs, 0u);
    EXPECT_EQ(spooler->printer("Other").value().jobs, 2u) << "another printer's jobs stay";
}

TEST_F(Queue, ProgramRefusesBadShortcutsAndGonePrintersClearly)
{
    addPrinter("Office", 1);
    const std::string good = bytesOf(shortcutFor("Office"));
    const std::string truncated = writeFile("truncated.LNK", good.substr(0, good.size() - 2));
    auto run = queueProgram({truncated, "--list"});
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_NE(run.err.find("not a printer shortcut"), std::string::npos) << run.err;
    EXPECT_TRUE(fs::exists(truncated)) << "a file that is not ours is left alone";

    const std::string foreign = writeFile("notes.txt", "my notes, not a shortcut\n");
    run = queueProgram({foreign, "--cancel-all"});
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_EQ(bytesOf(foreign), "my notes, not a shortcut\n");
    EXPECT_EQ(spooler->printer("Office").value().jobs, 1u);

    const std::string gone = shortcutFor("Removed");
    run = queueProgram({gone, "--list"});
    EXPECT_EQ(run.exitCode, 4);
    EXPECT_NE(run.err.find("\"Removed\" no longer exists"), std::string::npos) << run.err;

    EXPECT_EQ(queueProgram({"--list"}).exitCode, 2);
    EXPECT_EQ(queueProgram({"a", "b"}).exitCode, 2);
    run = queueProgram({"--help"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_NE(run.out.find("Usage:"), std::string::npos);
}

TEST_F(Queue, WindowShowsCancelsAndFollowsTheQueue)
{
    addPrinter("Office; rm -rf x", 2);
    queue::QueueWindow window([] { return plat::spool::embedded(testsupport::rootStore()); }, "Office; rm -rf x");
    window.show();
    auto* jobs = window.findChild<QTreeWidget*>("jobs");
    auto* one = window.findChild<QPushButton*>("cancelOne");
    auto* all = window.findChild<QPushButton*>("cancelAll");
    auto* summary = window.findChild<QLabel*>("summary");
    ASSERT_TRUE(jobs && one && all && summary);
    ASSERT_TRUE(QTest::qWaitFor([&] { return jobs->topLevelItemCount() == 2; }, 20000));
    EXPECT_EQ(jobs->topLevelItem(1)->text(0), QString::fromUtf8("ｼﾞｮﾌﾞ 2"));
    EXPECT_EQ(jobs->topLevelItem(1)->text(1), QString::fromUtf8("印刷待ち"));
    EXPECT_TRUE(summary->text().startsWith(QString::fromUtf8("印刷待ちのｼﾞｮﾌﾞが 2 件あります。")))
        << summary->text().toStdString();

    QTest::mouseClick(one, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return jobs->topLevelItemCount() == 1; }, 20000));
    EXPECT_EQ(spooler->printer("Office; rm -rf x").value().jobs, 1u);

    // A job that arrives from elsewhere shows up without a click.
    ASSERT_TRUE(spooler->submitJobs("Office; rm -rf x", 4).ok());
    EXPECT_TRUE(QTest::qWaitFor([&] { return jobs->topLevelItemCount() == 5; }, 20000));

    ASSERT_TRUE(QTest::qWaitFor([&] { return all->isEnabled(); }, 20000));
    QTest::mouseClick(all, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return jobs->topLevelItemCount() == 0; }, 20000));
    EXPECT_EQ(spooler->printer("Office; rm -rf x").value().jobs, 0u);
    EXPECT_FALSE(all->isEnabled());
    EXPECT_EQ(summary->text(), QString::fromUtf8("印刷待ちのｼﾞｮﾌﾞはありません。"));

    ASSERT_TRUE(spooler->deletePrinter("Office; rm -rf x").ok());
    const QString gone = QString::fromUtf8("ﾌﾟﾘﾝﾀ「Office; rm -rf x」は削除されています。");
    EXPECT_TRUE(QTest::qWaitFor([&] { return summary->text() == gone; }, 20000)) << summary->text().toStdString();
    EXPECT_FALSE(one->isEnabled());
}

// The window speaks Japanese as the rest of the system: title, column headers, and buttons whose
// mnemonics follow the Japanese captions in parentheses.
TEST_F(Queue, WindowTextsAreJapanese)
{
    addPrinter("Office", 1);
    queue::QueueWindow window([] { return plat::spool::embedded(testsupport::rootStore()); }, "Office");
    EXPECT_EQ(window.windowTitle(), QString::fromUtf8("Office - ｼﾞｮﾌﾞ一覧"));
    auto* jobs = window.findChild<QTreeWidget*>("jobs");
    auto* summary = window.findChild<QLabel*>("summary");
    ASSERT_NE(jobs, nullptr);
    ASSERT_NE(summary, nullptr);
    ASSERT_EQ(jobs->columnCount(), 2);
    EXPECT_EQ(jobs->headerItem()->text(0), QString::fromUtf8("ｼﾞｮﾌﾞ"));
    EXPECT_EQ(jobs->headerItem()->text(1), QString::fromUtf8("状態"));
    EXPECT_EQ(window.findChild<QPushButton*>("cancelOne")->text(), QString::fromUtf8("1件取り消し(&C)"));
    EXPECT_EQ(window.findChild<QPushButton*>("cancelAll")->text(), QString::fromUtf8("すべて取り消し(&A)"));
    const QString expected =
        QString::fromUtf8("印刷待ちのｼﾞｮﾌﾞが 1 件あります。ｽﾌﾟｰﾗはｼﾞｮﾌﾞの数だけを記録し、文書名は記録しません。");
    EXPECT_TRUE(QTest::qWaitFor([&] { return summary->text() == expected; }, 20000)) << summary->text().toStdString();
    EXPECT_EQ(jobs->accessibleName(), QString::fromUtf8("印刷待ちのｼﾞｮﾌﾞ"));

    // Alt+A is the "cancel all" button's mnemonic.
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    QTest::keyClick(&window, Qt::Key_A, Qt::AltModifier);
    // A mnemonic clicks the button the way a mouse does, pressed for a moment first.
    EXPECT_TRUE(QTest::qWaitFor([&] { return spooler->printer("Office").value().jobs == 0; }, 20000));
}
