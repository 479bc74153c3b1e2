#include <dlfcn.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>

#include "plat/spool/spooler.h"
#include "testsupport/temp_root.h"
#include "watchpanel/outside_programs.h"

namespace {

using SetupEntry = std::int32_t (*)(QWidget*, const char*, const char*, const char*);

class Cfgprn32 : public testsupport::RootTest {
protected:
    void SetUp() override
    {
        auto opened = plat::spool::embedded(testsupport::rootStore());
        ASSERT_TRUE(opened.ok());
        spooler = std::move(opened.value());
        ASSERT_TRUE(spooler->addDriver({"VELTA PG-03", "C:\\WINDOWS\\SYSTEM\\KDRV01.DRV", "Monitor"}).ok());
        ASSERT_TRUE(spooler->addPort("LPT1:", std::nullopt).ok());
        library = ::dlopen(CFGPRN32_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(library, nullptr) << ::dlerror();
        entry = reinterpret_cast<SetupEntry>(::dlsym(library, "VLSetPrin32"));
        ASSERT_NE(entry, nullptr);
    }

    // Runs `act` on the setup dialog once it is up (the call that shows it does not return before).
    void whenDialogShows(std::function<void(QDialog&)> act)
    {
        auto* timer = new QTimer;
        QObject::connect(timer, &QTimer::timeout, [timer, act] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (dialog == nullptr || dialog->objectName() != "cfgprn32Dialog") return;
            timer->stop();
            timer->deleteLater();
            act(*dialog);
        });
        timer->start(10);
    }

    static QString label(QDialog& dialog, const char* name) { return dialog.findChild<QLabel*>(name)->text(); }

    std::string text(const std::string& printer, const char* name)
    {
        auto data = spooler->printerData(printer, name);
        if (!data) return "<none>";
        std::string s(reinterpret_cast<const char*>(data.value().data()), data.value().size());
        return s.substr(0, s.find('\0'));
    }

    std::uint32_t dword(const std::string& printer, const char* name)
    {
        auto data = spooler->printerData(printer, name);
        std::uint32_t v = 0;
        if (data && data.value().size() == 4) std::memcpy(&v, data.value().data(), 4);
        return v;
    }

    std::unique_ptr<plat::spool::Spooler> spooler;
    void* library = nullptr;
    SetupEntry entry = nullptr;
};

}  // namespace

TEST_F(Cfgprn32, OkKeepsTheSettingsOfThePrinterItWasGiven)
{
    const std::string printer = "Office \"2F\"; $(touch x) <b>";
    ASSERT_TRUE(spooler->addPrinter({printer, "LPT1:", "VELTA PG-03"}).ok());
    QString seenPrinter, seenPort, seenDriver;
    whenDialogShows([&](QDialog& dialog) {
        seenPrinter = label(dialog, "printer");
        seenPort = label(dialog, "port");
        seenDriver = label(dialog, "driverFile");
        dialog.findChild<QComboBox*>("paperSize")->setCurrentText("A3");
        dialog.findChild<QComboBox*>("orientation")->setCurrentIndex(1);
        dialog.findChild<QSpinBox*>("copies")->setValue(3);
        dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    });
    EXPECT_EQ(entry(nullptr, "KDRV03.DRV", printer.c_str(), "LPT1:"), 1);
    EXPECT_EQ(seenPrinter.toStdString(), printer);
    EXPECT_EQ(seenPort, "LPT1:");
    EXPECT_EQ(seenDriver, "KDRV03.DRV");
    EXPECT_EQ(text(printer, "SetupPaperSize"), "A3");
    EXPECT_EQ(dword(printer, "SetupOrientation"), 1u);
    EXPECT_EQ(dword(printer, "SetupCopies"), 3u);

    // The next time the dialog starts from what was kept.
    int copies = 0;
    whenDialogShows([&](QDialog& dialog) {
        copies = dialog.findChild<QSpinBox*>("copies")->value();
        dialog.reject();
    });
    EXPECT_EQ(entry(nullptr, "KDRV03.DRV", printer.c_str(), "LPT1:"), 0);
    EXPECT_EQ(copies, 3);
}

TEST_F(Cfgprn32, CancelKeepsNothing)
{
    ASSERT_TRUE(spooler->addPrinter({"Office", "LPT1:", "VELTA PG-03"}).ok());
    whenDialogShows([](QDialog& dialog) {
        dialog.findChild<QSpinBox*>("copies")->setValue(7);
        dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel)->click();
    });
    EXPECT_EQ(entry(nullptr, "KDRV01.DRV", "Office", "LPT1:"), 0);
    EXPECT_EQ(text("Office", "SetupCopies"), "<none>");
}

TEST_F(Cfgprn32, AnUnknownOrMissingPrinterShowsNothing)
{
    EXPECT_EQ(entry(nullptr, "KDRV01.DRV", "Nobody", "LPT1:"), 0);
    EXPECT_EQ(entry(nullptr, "KDRV01.DRV", nullptr, "LPT1:"), 0);
    EXPECT_EQ(entry(nullptr, "KDRV01.DRV", "", "LPT1:"), 0);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

// This program lives in the program directory, where the detail program finds the library.
TEST_F(Cfgprn32, TheDetailProgramLoadsItByNameAndHandsOverTheFourArguments)
{
    ASSERT_TRUE(spooler->addPrinter({"Desk 'A'", "LPT1:", "VELTA PG-03"}).ok());
    QWidget owner;
    QStringList seen;
    QWidget* parent = nullptr;
    whenDialogShows([&](QDialog& dialog) {
        seen = {label(dialog, "driverFile"), label(dialog, "printer"), label(dialog, "port")};
        parent = dialog.parentWidget();
        dialog.accept();
    });
    EXPECT_TRUE(watchpanel::openPrinterSetup(&owner, "KDRV05.DRV", "Desk 'A'", "LPT1:"));
    EXPECT_EQ(seen, QStringList({"KDRV05.DRV", "Desk 'A'", "LPT1:"}));
    EXPECT_EQ(parent, &owner);
}
