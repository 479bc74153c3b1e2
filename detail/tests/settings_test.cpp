// The settings page: the detail settings against a fresh store per test, the page's rules driven through
// SettingsPage with a fake window, and the page's widgets built from template 1700 over the same fake.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QTreeWidget>
#include <QUiLoader>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "alerts.h"
#include "facts/store_names.h"
#include "plat/base/system_root.h"
#include "plat/heap/heap.h"
#include "plat/registry/registry.h"
#include "settings_page.h"
#include "settings_widget.h"
#include "sound.h"
#include "testsupport/temp_root.h"
#include "watchcore.h"

using namespace watchpanel;
using facts::Family;
namespace sc = watchpanel::settings_control;

namespace {

constexpr const char* kPrinter = "PG-03 Accounts";

std::string mediaPath(const std::string& file) { return (plat::windowsDir() / "media" / file).string(); }

void writeFile(const std::filesystem::path& path, const std::string& bytes)
{
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

class FakeSound : public Sound {
public:
    bool play(const std::string& path) override
    {
        finish();
        played.push_back(path);
        m_playing = playable;
        return playable;
    }
    void stop() override { finish(); }
    bool playing() const override { return m_playing; }
    // The end of the play, as the desktop reports it.
    void finish()
    {
        if (!std::exchange(m_playing, false)) return;
        reportFinished();
    }

    bool playable = true;
    std::vector<std::string> played;

private:
    bool m_playing = false;
};

class FakeHost : public SettingsHost {
public:
    explicit FakeHost(Family family = Family::Page, int model = 0) : family_(family)
    {
        entry.PrinterFamily = static_cast<std::uint32_t>(family);
        entry.ModelCode = static_cast<std::uint32_t>(model);
        entry.HideRequest = 1;
    }

    std::string printerName() const override { return kPrinter; }
    Family family() const override { return family_; }
    bool readEntry(PrinterEntry& out) override
    {
        out = entry;
        return entryReadable;
    }
    bool updateEntry(const std::function<void(PrinterEntry&)>& change) override
    {
        if (entryReadable) change(entry);
        return entryReadable;
    }
    void setAlwaysOnTop(bool on) override { onTop = on; }
    void setTrayShown(bool shown) override { trayShown = shown; }
    Sound& sound() override { return fakeSound; }
    int chooseTrayIconSet(int) override { return trayChoice; }
    std::optional<std::string> chooseSoundFile(const std::string& folder) override
    {
        browsedFrom = folder;
        return fileChoice;
    }
    int waveFormatPicture(const std::string& path) override
    {
        picturesAsked.push_back(path);
        if (path.empty()) return kNoFilePicture;
        return watchpanel::waveFormatPicture(path);
    }
    DetailSettings loadSettings(const std::string& printer, Family family) override
    {
        ++loads;
        return SettingsHost::loadSettings(printer, family);
    }
    bool storeSettings(const std::string& printer, const DetailSettings& settings) override
    {
        ++stores;
        return storeWorks && SettingsHost::storeSettings(printer, settings);
    }

    PrinterEntry entry{};
    bool entryReadable = true;
    std::optional<bool> onTop, trayShown;
    FakeSound fakeSound;
    int trayChoice = -1;
    std::optional<std::string> fileChoice, browsedFrom;
    std::vector<std::string> picturesAsked;
    int loads = 0, stores = 0;
    bool storeWorks = true;
    Family family_;
};

// ---- The settings between the store and the program ----------------------------------------------------

// A printer as the list program leaves it in the store: its engine store key is there.
class PrinterRoot : public testsupport::RootTest {
protected:
    void SetUp() override
    {
        using namespace plat::registry;
        Key made;
        const std::string key = std::string(facts::key::kPrinters) + kPrinter + std::string(facts::key::kEngineStore);
        ASSERT_EQ(Store::forCurrentRoot().value()->createKey(Root::LocalMachine, key, "", made), Status::Ok);
    }
};

using DetailSettingsStore = PrinterRoot;

TEST_F(DetailSettingsStore, AFreshPrinterGetsFallbacksWithDefaultsStoredAtOnce)
{
    EXPECT_EQ(alertTypeCount(Family::Impact), 7);
    EXPECT_EQ(alertTypeName(Family::Inkjet, 6), "インク残量少");
    EXPECT_EQ(alertTypeName(Family::Impact, 7), "");  // past the family's list
    const DetailSettings loaded = loadDetailSettings(kPrinter, Family::Page);
    EXPECT_TRUE(loaded.hide && loaded.openOnError && loaded.monitor && loaded.desktopNotify);
    EXPECT_EQ(loaded.intervalMs, 5000u);
    for (int row = 0; row < 10; ++row) {
        EXPECT_EQ(loaded.alerts[row].enabled, row != 3) << row;  // all but "paper low"
        EXPECT_EQ(loaded.alerts[row].path, mediaPath(defaultSoundFile(Family::Page, row))) << row;
    }
    EXPECT_EQ(loaded.alerts[2].path, mediaPath("03PPROUT.WAV"));

    plat::Heap* heap = plat::Heap::create();
    DetailEnviron stored{};
    EXPECT_EQ(fGetDetailEnviron(kPrinter, &stored, heap), 1);
    EXPECT_EQ(stored.alertTypes[3], 0u);
    EXPECT_STREQ(stored.soundNames[2], mediaPath("03PPROUT.WAV").c_str());

    // A name the store allows but a path may not be long is no sound, never a cut name.
    std::string tooLong = "/" + std::string(kMaxSoundPath, 'a') + ".wav";
    stored.soundNames[1] = tooLong.data();
    ASSERT_EQ(fSetDetailEnviron(kPrinter, &stored), 1);
    plat::Heap::destroy(heap);
    const DetailSettings read = loadDetailSettings(kPrinter, Family::Page);
    EXPECT_FALSE(read.alerts[1].hasSound);
    EXPECT_EQ(read.alerts[1].path, "");
    EXPECT_EQ(read.alerts[2].path, mediaPath("03PPROUT.WAV"));
}

// ---- The page's rules --------------------------------------------------------------------------------------

class SettingsRules : public PrinterRoot {
protected:
    void SetUp() override
    {
        PrinterRoot::SetUp();
        for (const char* name : {"01READY.WAV", "02STOP.WAV", "03PPROUT.WAV", "04PPRFEW.WAV", "chime.wav"})
            writeFile(plat::windowsDir() / "media" / name, "RIFF");
        writeFile(plat::windowsDir() / "media" / "readme.txt", "not a sound");
    }
    // A page over `host`, loaded from the store and selected.
    static std::unique_ptr<SettingsPage> shown(FakeHost& host)
    {
        auto page = std::make_unique<SettingsPage>(host);
        page->loadFromStore();
        page->selected();
        return page;
    }
};

TEST_F(SettingsRules, SetUpFollowsTheConnectionAndTheModel)
{
    FakeHost host(Family::Page, 0);
    auto page = shown(host);
    EXPECT_EQ(page->controls().intervalMax, 10);
    EXPECT_TRUE(page->controls().sizeCheckEnabled);
    EXPECT_EQ(page->controls().alerts.size(), 10u);
    EXPECT_FALSE(page->controls().soundGroupEnabled || page->controls().stopEnabled || page->controls().applyEnabled);

    FakeHost network(Family::Page, 1);
    network.entry.NetworkPort = 1;
    network.entry.NetworkKind = 2;
    auto slow = shown(network);
    EXPECT_EQ(slow->controls().intervalMin, 5);
    EXPECT_EQ(slow->controls().intervalMax, 60);
    EXPECT_EQ(slow->controls().intervalPageStep, 10);
    EXPECT_EQ(slow->controls().intervalPosition, 5);

    FakeHost late(Family::Page, 14);  // the window learns the family after the page was made
    SettingsPage made(late);
    late.family_ = Family::Impact;
    made.selected();
    EXPECT_EQ(made.controls().alerts.size(), 7u);

    for (int model : {2, 3, 4, 5, 9, 10, 11, 13, 14, 15, 16, 17}) {
        FakeHost inkjet(Family::Inkjet, model);
        EXPECT_FALSE(shown(inkjet)->controls().sizeCheckEnabled) << model;
    }
}

TEST_F(SettingsRules, AnUnreadableSlotIgnoresSelectionAndApply)
{
    FakeHost host;
    host.entryReadable = false;
    SettingsPage page(host);
    const Controls before = page.controls();
    page.selected();
    EXPECT_FALSE(page.current());
    EXPECT_EQ(page.controls(), before);
    EXPECT_EQ(host.loads, 0);

    host.entryReadable = true;
    page.selected();  // before any load: reads the store now, once
    page.left();
    page.selected();
    EXPECT_EQ(host.loads, 1);
    page.setOnTop(true);
    host.entryReadable = false;
    page.apply();
    EXPECT_EQ(host.stores, 0);
    EXPECT_TRUE(page.controls().applyEnabled);
}

TEST_F(SettingsRules, LoadingFromTheStoreReachesTheEntryTheWindowAndTheTray)
{
    DetailSettings stored;
    applyAlertDefaults(Family::Page, stored);
    stored.intervalMs = 8000;
    stored.topMost = stored.openWhenPrinting = stored.sizeCheck = true;
    stored.iconSet = 6;
    ASSERT_TRUE(storeDetailSettings(kPrinter, stored));
    FakeHost host;
    host.entry.OptionBits = 0x11;
    auto page = shown(host);
    EXPECT_EQ(host.entry.StatusInterval, 8000u);
    EXPECT_EQ(host.entry.PrintOpenFlag, 1u);
    EXPECT_EQ(host.entry.SizeCheckFlag, 1u);
    EXPECT_EQ(host.entry.OptionBits, 0x13);
    EXPECT_EQ(host.entry.SelectIcon, 6);
    EXPECT_EQ(host.onTop, true);
    EXPECT_EQ(host.trayShown, true);
    EXPECT_EQ(page->controls().intervalPosition, 8);

    stored.monitor = false;
    stored.iconSet = 2;
    ASSERT_TRUE(storeDetailSettings(kPrinter, stored));
    page->loadFromStore();
    EXPECT_EQ(host.entry.MonitorFlag, 0u);
    EXPECT_EQ(host.entry.SelectIcon, 6);  // only while the monitor is on
    EXPECT_EQ(host.trayShown, false);
    EXPECT_FALSE(page->controls().trayIconEnabled);
}

TEST_F(SettingsRules, ApplyPutsTheControlsIntoEffectAndStoresThem)
{
    FakeHost host;
    auto page = shown(host);
    page->chooseTrayIcon();  // cancelled: nothing changes
    EXPECT_FALSE(page->controls().applyEnabled);
    page->setIntervalPosition(3);
    host.trayChoice = 7;
    page->chooseTrayIcon();
    EXPECT_EQ(host.entry.SelectIcon, 0);  // not before "更新"
    host.entry.HideRequest = 0;
    host.storeWorks = false;
    page->apply();
    EXPECT_TRUE(page->controls().applyEnabled);  // not stored: the user may try again

    host.storeWorks = true;
    page->apply();
    EXPECT_FALSE(page->controls().applyEnabled);
    EXPECT_EQ(page->controls().focus, sc::kFocusNext);
    EXPECT_EQ(host.entry.StatusInterval, 3000u);
    EXPECT_EQ(host.entry.SelectIcon, 7);
    const DetailSettings stored = loadDetailSettings(kPrinter, Family::Page);
    EXPECT_FALSE(stored.hide);  // the entry's
    EXPECT_EQ(stored.intervalMs, 3000u);
    EXPECT_EQ(stored.iconSet, 7);
}

TEST_F(SettingsRules, DefaultsAllOnAndAllOffChangeOnlyTheAlertTypes)
{
    FakeHost host;
    auto page = shown(host);
    page->allOff();
    for (const AlertItem& item : page->controls().alerts) EXPECT_FALSE(item.checked);
    page->selectAlert(2);
    page->chooseSound(0);
    page->setOnTop(true);
    page->setIntervalPosition(7);
    page->restoreDefaults();

    const Controls& c = page->controls();
    for (int row = 0; row < 10; ++row) EXPECT_EQ(c.alerts[row].checked, row != 3) << row;
    EXPECT_EQ(c.alerts[2].file, "03PPROUT.WAV");
    EXPECT_EQ(c.soundItems[c.soundIndex], "03PPROUT.WAV");  // the current type's list follows
    EXPECT_TRUE(c.onTop);
    EXPECT_EQ(c.intervalPosition, 7);
    EXPECT_TRUE(c.applyEnabled);
    page->allOn();
    for (const AlertItem& item : page->controls().alerts) EXPECT_TRUE(item.checked);
}

TEST_F(SettingsRules, KeysMoveTheCurrentAlertTypeWithinTheList)
{
    FakeHost host;
    auto page = shown(host);
    page->upPressed();  // nothing selected: the list of no sound, the group stays off
    EXPECT_EQ(page->controls().selected, -1);
    EXPECT_FALSE(page->controls().soundGroupEnabled);
    EXPECT_EQ(page->controls().formatPicture, kNoFilePicture);

    page->downPressed();  // nothing selected: the first item
    EXPECT_EQ(page->controls().selected, 0);
    EXPECT_TRUE(page->controls().soundGroupEnabled);
    EXPECT_EQ(page->controls().soundItems, (std::vector<std::string>{noSoundItem(), "01READY.WAV", "02STOP.WAV",
                                                                     "03PPROUT.WAV", "04PPRFEW.WAV", "chime.wav"}));
    EXPECT_EQ(page->controls().soundIndex, 1);
    page->upPressed();  // not past the first
    EXPECT_EQ(page->controls().selected, 0);
    page->selectAlert(9);
    page->downPressed();  // not past the last
    EXPECT_EQ(page->controls().selected, 9);
    // Its default file is not in the folder: shown as none, kept as the sound.
    EXPECT_EQ(page->controls().soundIndex, 0);
    EXPECT_FALSE(page->controls().testEnabled);
    EXPECT_EQ(page->controls().alerts[9].file, "12ERROR.WAV");
    page->spacePressed();
    EXPECT_FALSE(page->controls().alerts[9].checked);
    EXPECT_TRUE(page->controls().applyEnabled);
}

TEST_F(SettingsRules, ChosenPathsUpToTheLimitAreTakenLongerOnesRefused)
{
    FakeHost host;
    auto page = shown(host);
    EXPECT_FALSE(page->browse());  // no current alert type: the dialog is not even asked
    EXPECT_FALSE(host.browsedFrom);

    page->selectAlert(1);
    const std::string folder = root.path().string() + "/";
    const std::string fits = folder + std::string(kMaxSoundPath - folder.size() - 4, 'f') + ".wav";
    host.fileChoice = fits;
    EXPECT_TRUE(page->browse());
    EXPECT_EQ(*host.browsedFrom, (plat::windowsDir() / "media").string());
    EXPECT_EQ(page->controls().alerts[1].file, fileNameOf(fits));
    page->apply();
    EXPECT_EQ(loadDetailSettings(kPrinter, Family::Page).alerts[1].path, fits);

    const Controls before = page->controls();
    host.fileChoice = folder + std::string(300 - folder.size() - 4, 'g') + ".wav";
    EXPECT_FALSE(page->browse());
    host.fileChoice = folder + "\xff\xfe.wav";  // not a text the store keeps
    EXPECT_FALSE(page->browse());
    EXPECT_EQ(page->controls(), before);

    // Picked from the list of no sound: taken from the media folder.
    page->chooseSound(0);
    page->selectAlert(1);
    EXPECT_EQ(page->soundFolder(), "");
    page->chooseSound(5);
    EXPECT_EQ(page->soundFolder(), (plat::windowsDir() / "media").string());
    EXPECT_EQ(host.picturesAsked.back(), mediaPath("chime.wav"));
}

TEST_F(SettingsRules, TheSoundListSkipsNamesThatAreNotUtf8)
{
    writeFile(plat::windowsDir() / "media" / "bad\xff.wav", "RIFF");
    writeFile(plat::windowsDir() / "media" / "LOUD.Wav", "RIFF");
    std::filesystem::create_directories(plat::windowsDir() / "media" / "folder.wav");
    EXPECT_EQ(waveFilesIn((plat::windowsDir() / "media").string()),
              (std::vector<std::string>{"01READY.WAV", "02STOP.WAV", "03PPROUT.WAV", "04PPRFEW.WAV", "LOUD.Wav",
                                        "chime.wav"}));
    EXPECT_TRUE(waveFilesIn("/no/such/folder").empty());
}

TEST_F(SettingsRules, TestPlayAndStopHandTheButtonsBackAndForth)
{
    FakeHost host;
    auto page = shown(host);
    host.fakeSound.onFinished([&] { page->soundFinished(); });
    page->selectAlert(0);
    host.fakeSound.play(mediaPath("12ERROR.WAV"));  // the alert rule's sound ending changes nothing
    const Controls before = page->controls();
    host.fakeSound.finish();
    EXPECT_EQ(page->controls(), before);

    page->testPlay();
    EXPECT_EQ(host.fakeSound.played.back(), mediaPath("01READY.WAV"));
    EXPECT_FALSE(page->controls().testEnabled);
    EXPECT_TRUE(page->controls().stopEnabled);
    EXPECT_EQ(page->controls().focus, sc::kStop);
    host.fakeSound.finish();  // played to its end
    EXPECT_TRUE(page->controls().testEnabled);
    EXPECT_FALSE(page->controls().stopEnabled);
    EXPECT_EQ(page->controls().focus, sc::kPlay);

    page->testPlay();
    page->testStop();
    EXPECT_FALSE(host.fakeSound.playing());
    EXPECT_TRUE(page->controls().testEnabled);
    EXPECT_FALSE(page->controls().stopEnabled);

    host.fakeSound.playable = false;  // no sound device: no end will come, the play button stays
    page->testPlay();
    EXPECT_FALSE(page->testPlaying());
    EXPECT_TRUE(page->controls().testEnabled);
}

// ---- The page's widgets ------------------------------------------------------------------------------------

std::unique_ptr<QWidget> loadPage()
{
    QFile file(QStringLiteral(":/ui/1700.ui"));
    if (!file.open(QIODevice::ReadOnly)) return nullptr;
    QUiLoader loader;
    std::unique_ptr<QWidget> page(loader.load(&file));
    if (page) {
        page->resize(page->sizeHint());
        page->show();
    }
    return page;
}

template <class W = QWidget>
W* numbered(QWidget* page, int number)
{
    return page->findChild<W*>(QStringLiteral("c%1").arg(number));
}

class SettingsWidgets : public SettingsRules {
protected:
    void SetUp() override
    {
        SettingsRules::SetUp();
        page = loadPage();
        ASSERT_TRUE(page);
        widget = std::make_unique<SettingsWidget>(host);
        widget->attach(page.get());
        widget->loadFromStore();
        widget->pageSelected();
        list = numbered<QTreeWidget>(page.get(), sc::kAlertList);
        sounds = numbered<QComboBox>(page.get(), sc::kSoundName);
        ASSERT_TRUE(list && sounds);
    }

    void clickCheckMark(int row)
    {
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, SettingsWidget::checkMarkArea(list, row).center());
    }
    void clickLabel(int row)
    {
        const QRect cell = list->visualRect(list->model()->index(row, 0));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, QPoint(cell.right() - 4, cell.center().y()));
    }
    bool checked(int row) { return list->topLevelItem(row)->checkState(0) == Qt::Checked; }
    bool enabled(int number) { return numbered(page.get(), number)->isEnabled(); }
    void click(int number) { QTest::mouseClick(numbered(page.get(), number), Qt::LeftButton); }

    FakeHost host;
    std::unique_ptr<QWidget> page;
    std::unique_ptr<SettingsWidget> widget;
    QTreeWidget* list = nullptr;
    QComboBox* sounds = nullptr;
};

TEST_F(SettingsWidgets, ClicksOnACheckMarkToggleOnALabelSelect)
{
    EXPECT_EQ(numbered<QPushButton>(page.get(), sc::kApply)->text(), QString::fromUtf8("更新(&P)"));
    EXPECT_EQ(list->topLevelItem(3)->text(0), QString::fromUtf8("用紙残量少"));
    clickCheckMark(3);
    EXPECT_TRUE(checked(3));
    EXPECT_TRUE(enabled(sc::kApply));
    EXPECT_FALSE(enabled(sc::kSoundName));  // a check mark click selects nothing

    clickLabel(2);
    EXPECT_TRUE(checked(2));
    EXPECT_EQ(list->currentItem(), list->topLevelItem(2));
    EXPECT_TRUE(enabled(sc::kSoundName));
    EXPECT_EQ(sounds->currentText(), QStringLiteral("03PPROUT.WAV"));
    QTest::keyClick(list, Qt::Key_Space);
    EXPECT_FALSE(checked(2));
    QTest::keyClick(list, Qt::Key_Down);
    EXPECT_EQ(list->currentItem(), list->topLevelItem(3));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, QPoint(5, list->viewport()->height() - 2));
    EXPECT_EQ(list->currentItem(), list->topLevelItem(3));  // below the items: nothing changes
}

TEST_F(SettingsWidgets, NoSoundClearsTheSoundAndAFileThatIsNotRiffShows300)
{
    writeFile(plat::windowsDir() / "media" / "text.wav", "plain text, no RIFF form");
    clickLabel(0);
    sounds->activated(sounds->findText(QStringLiteral("text.wav")));  // as the user's choice
    EXPECT_EQ(numbered(page.get(), sc::kFormat)->property("kestrelPicture").toInt(), 300);
    EXPECT_EQ(numbered(page.get(), sc::kFormat)->accessibleDescription(), QString::fromUtf8("ﾓﾉﾗﾙ 22kHz未満 8ﾋﾞｯﾄ"));

    clickLabel(1);
    sounds->activated(0);
    EXPECT_EQ(list->topLevelItem(1)->text(1), QString());
    EXPECT_FALSE(enabled(sc::kPlay));
    EXPECT_EQ(numbered(page.get(), sc::kFormat)->property("kestrelPicture").toInt(), kNoFilePicture);
    click(sc::kApply);
    EXPECT_FALSE(enabled(sc::kApply));
    const DetailSettings stored = loadDetailSettings(kPrinter, Family::Page);
    EXPECT_TRUE(stored.alerts[1].enabled);  // still counts for the window's rules, plays nothing
    EXPECT_FALSE(stored.alerts[1].hasSound);
}

TEST_F(SettingsWidgets, AChangeSurvivesThePageBeingLeftAndRebuiltUnstored)
{
    numbered<QSlider>(page.get(), sc::kInterval)->setValue(8);
    EXPECT_TRUE(enabled(sc::kApply));
    widget->pageLeft();
    page = loadPage();  // the section list pruned the page and makes it anew
    widget->attach(page.get());
    widget->pageSelected();
    EXPECT_EQ(numbered<QSlider>(page.get(), sc::kInterval)->value(), 8);
    EXPECT_TRUE(enabled(sc::kApply));
    EXPECT_EQ(host.stores, 0);
    EXPECT_EQ(host.entry.StatusInterval, 5000u);  // in effect only through "更新"
}

TEST_F(SettingsWidgets, EveryControlRoundTripsThroughTheStore)
{
    numbered<QSlider>(page.get(), sc::kInterval)->setValue(9);
    EXPECT_EQ(numbered<QCheckBox>(page.get(), sc::kDesktopNotify)->text(), QString::fromUtf8("ﾃﾞｽｸﾄｯﾌﾟ通知(&O)"));
    EXPECT_TRUE(numbered<QCheckBox>(page.get(), sc::kDesktopNotify)->isChecked()) << "on by default";
    for (int number : {sc::kOnTop, sc::kOpenWhenPrinting, sc::kOpenOnError, sc::kSizeCheck, sc::kDesktopNotify})
        click(number);
    host.trayChoice = 5;
    click(sc::kTrayIcon);
    clickCheckMark(0);
    clickCheckMark(3);
    clickLabel(6);
    sounds->activated(sounds->findText(QStringLiteral("chime.wav")));
    clickLabel(7);
    sounds->activated(0);
    click(sc::kMonitor);
    click(sc::kApply);
    EXPECT_FALSE(enabled(sc::kApply));

    FakeHost fresh;
    auto again = loadPage();
    SettingsWidget other(fresh);
    other.attach(again.get());
    other.loadFromStore();
    other.pageSelected();
    EXPECT_EQ(numbered<QSlider>(again.get(), sc::kInterval)->value(), 9);
    for (int number :
         {sc::kOnTop, sc::kOpenWhenPrinting, sc::kOpenOnError, sc::kSizeCheck, sc::kMonitor, sc::kDesktopNotify}) {
        EXPECT_EQ(numbered<QCheckBox>(again.get(), number)->isChecked(),
                  numbered<QCheckBox>(page.get(), number)->isChecked())
            << number;
    }
    EXPECT_FALSE(numbered<QCheckBox>(again.get(), sc::kMonitor)->isChecked());
    EXPECT_FALSE(numbered<QCheckBox>(again.get(), sc::kDesktopNotify)->isChecked());
    EXPECT_FALSE(other.applied().desktopNotify) << "the alerts' notifications follow it";
    EXPECT_FALSE(numbered(again.get(), sc::kTrayIcon)->isEnabled());
    EXPECT_EQ(other.state().iconSet(), 5);
    auto* otherList = numbered<QTreeWidget>(again.get(), sc::kAlertList);
    for (int row = 0; row < 10; ++row) {
        EXPECT_EQ(otherList->topLevelItem(row)->checkState(0), list->topLevelItem(row)->checkState(0)) << row;
        EXPECT_EQ(otherList->topLevelItem(row)->text(1), list->topLevelItem(row)->text(1)) << row;
    }
    EXPECT_EQ(otherList->topLevelItem(0)->checkState(0), Qt::Unchecked);
    EXPECT_EQ(otherList->topLevelItem(6)->text(1), QStringLiteral("chime.wav"));
    EXPECT_EQ(otherList->topLevelItem(7)->text(1), QString());
    EXPECT_FALSE(numbered(again.get(), sc::kApply)->isEnabled());
    EXPECT_EQ(fresh.entry.StatusInterval, 9000u);
    EXPECT_EQ(fresh.onTop, true);
    EXPECT_EQ(fresh.trayShown, false);
}

}  // namespace
