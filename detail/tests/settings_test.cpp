// The settings page: the detail settings against a fresh store per test, the page's rules driven through
// SettingsPage with a fake window, and the page's widgets built from template 1700 over the same fake.

#include <gtest/gtest.h>

#include <QApplication>
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
#include <map>
#include <memory>
#include <string>
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
        if (m_playing) finish();
        played.push_back(path);
        m_playing = playable;
        return playable;
    }
    void stop() override
    {
        if (m_playing) finish();
    }
    bool playing() const override { return m_playing; }
    // The end of the play, as the desktop reports it.
    void finish()
    {
        m_playing = false;
        reportFinished();
    }

    bool playable = true;
    std::vector<std::string> played;

private:
    bool m_playing = false;
};

class FakeHost : public SettingsHost {
public:
    explicit FakeHost(Family family = Family::Page, int model = 0) : m_family(family)
    {
        entry.PrinterFamily = static_cast<std::uint32_t>(family);
        entry.ModelCode = static_cast<std::uint32_t>(model);
        entry.HideRequest = 1;
    }

    std::string printerName() const override { return kPrinter; }
    Family family() const override { return m_family; }
    bool readEntry(PrinterEntry& out) override
    {
        out = entry;
        return entryReadable;
    }
    bool updateEntry(const std::function<void(PrinterEntry&)>& change) override
    {
        if (!entryReadable) return false;
        change(entry);
        ++entryWrites;
        return true;
    }
    void setAlwaysOnTop(bool on) override { onTop = on; }
    void setTrayShown(bool shown) override { trayShown = shown; }
    Sound& sound() override { return fakeSound; }
    int chooseTrayIconSet(int current) override
    {
        trayAskedWith = current;
        return trayChoice;
    }
    std::optional<std::string> chooseSoundFile(const std::string& folder) override
    {
        browsedFrom = folder;
        return fileChoice;
    }
    int waveFormatPicture(const std::string& path) override
    {
        picturesAsked.push_back(path);
        if (path.empty()) return kNoFilePicture;
#ifdef KESTREL_WAVE_FORMAT
        return watchpanel::waveFormatPicture(path);
#else
        return 300;  // what the reader gives for a file that is not a wave form
#endif
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
    int entryWrites = 0;
    std::optional<bool> onTop, trayShown;
    FakeSound fakeSound;
    int trayChoice = -1, trayAskedWith = -1;
    std::optional<std::string> fileChoice, browsedFrom;
    std::vector<std::string> picturesAsked;
    int loads = 0, stores = 0;
    bool storeWorks = true;

private:
    Family m_family;
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

class DetailSettingsStore : public PrinterRoot {};

TEST_F(DetailSettingsStore, AlertTypesOfEachFamily)
{
    EXPECT_EQ(alertTypeCount(Family::Page), 10);
    EXPECT_EQ(alertTypeCount(Family::Impact), 7);
    EXPECT_EQ(alertTypeCount(Family::Inkjet), 9);
    EXPECT_EQ(alertTypeName(Family::Page, 3), "用紙残量少");
    EXPECT_EQ(alertTypeName(Family::Impact, 3), "紙づまり");
    EXPECT_EQ(alertTypeName(Family::Inkjet, 6), "インク残量少");
    EXPECT_EQ(alertTypeName(Family::Impact, 7), "");  // past the family's list
    EXPECT_EQ(alertTypeName(Family::Page, -1), "");
    EXPECT_EQ(defaultSoundFile(Family::Page, 2), "03PPROUT.WAV");
    EXPECT_EQ(defaultSoundFile(Family::Inkjet, 5), "10INKOUT.WAV");
    EXPECT_EQ(defaultSoundFile(Family::Impact, 7), "");
}

TEST_F(DetailSettingsStore, DefaultsTurnOnEveryTypeButPaperLowWithTheMediaFolderSounds)
{
    DetailSettings page;
    page.alerts[3].enabled = true;
    page.alerts[10] = {false, false, "/keep/me.wav"};
    applyAlertDefaults(Family::Page, page);
    for (int row = 0; row < 10; ++row) {
        EXPECT_EQ(page.alerts[row].enabled, row != 3) << row;
        EXPECT_TRUE(page.alerts[row].hasSound) << row;
        EXPECT_EQ(page.alerts[row].path, mediaPath(defaultSoundFile(Family::Page, row))) << row;
    }
    EXPECT_EQ(page.alerts[10].path, "/keep/me.wav");  // not one of the family's types

    DetailSettings inkjet;
    applyAlertDefaults(Family::Inkjet, inkjet);
    EXPECT_TRUE(inkjet.alerts[3].enabled);  // only the page printers' row 3 is "paper low"
    EXPECT_EQ(inkjet.alerts[6].path, mediaPath("09INKFEW.WAV"));
}

TEST_F(DetailSettingsStore, AFreshPrinterGetsFallbacksWithDefaultsAndTheyAreStoredAtOnce)
{
    const DetailSettings loaded = loadDetailSettings(kPrinter, Family::Page);
    EXPECT_TRUE(loaded.hide);
    EXPECT_EQ(loaded.intervalMs, 5000u);
    EXPECT_FALSE(loaded.topMost);
    EXPECT_TRUE(loaded.openOnError);
    EXPECT_TRUE(loaded.monitor);
    EXPECT_EQ(loaded.iconSet, 0);
    EXPECT_EQ(loaded.alertCount, 11);
    EXPECT_FALSE(loaded.alerts[3].enabled);
    EXPECT_EQ(loaded.alerts[2].path, mediaPath("03PPROUT.WAV"));

    plat::Heap* heap = plat::Heap::create();
    DetailEnviron stored{};
    EXPECT_EQ(fGetDetailEnviron(kPrinter, &stored, heap), 1);
    EXPECT_EQ(stored.alertTypes[3], 0u);
    ASSERT_NE(stored.soundNames[2], nullptr);
    EXPECT_EQ(std::string(stored.soundNames[2]), mediaPath("03PPROUT.WAV"));
    plat::Heap::destroy(heap);
}

TEST_F(DetailSettingsStore, StoredSettingsReadBackAsTheyWere)
{
    DetailSettings written;
    written.hide = false;
    written.intervalMs = 7000;
    written.topMost = written.openWhenPrinting = written.sizeCheck = true;
    written.openOnError = written.monitor = false;
    written.iconSet = 4;
    written.alertCount = 10;
    for (int n = 0; n < kAlertSlots; ++n) {
        written.alerts[n] = {n % 2 == 0, n % 3 != 0, n % 3 != 0 ? "/sounds/alert" + std::to_string(n) + ".wav" : ""};
    }
    ASSERT_TRUE(storeDetailSettings(kPrinter, written));
    const DetailSettings read = loadDetailSettings(kPrinter, Family::Page);
    EXPECT_EQ(read.hide, written.hide);
    EXPECT_EQ(read.intervalMs, written.intervalMs);
    EXPECT_EQ(read.topMost, written.topMost);
    EXPECT_EQ(read.openWhenPrinting, written.openWhenPrinting);
    EXPECT_EQ(read.openOnError, written.openOnError);
    EXPECT_EQ(read.sizeCheck, written.sizeCheck);
    EXPECT_EQ(read.monitor, written.monitor);
    EXPECT_EQ(read.iconSet, written.iconSet);
    EXPECT_EQ(read.alertCount, written.alertCount);
    for (int n = 0; n < kAlertSlots; ++n) {
        EXPECT_EQ(read.alerts[n].enabled, written.alerts[n].enabled) << n;
        EXPECT_EQ(read.alerts[n].hasSound, written.alerts[n].hasSound) << n;
        EXPECT_EQ(read.alerts[n].path, written.alerts[n].path) << n;
    }
}

TEST_F(DetailSettingsStore, AStoredNameLongerThanAPathIsNoSoundNotACutName)
{
    DetailSettings written;
    applyAlertDefaults(Family::Page, written);
    ASSERT_TRUE(storeDetailSettings(kPrinter, written));
    // Another program wrote a name the store allows but a path may not be.
    DetailEnviron record{};
    plat::Heap* heap = plat::Heap::create();
    ASSERT_EQ(fGetDetailEnviron(kPrinter, &record, heap), 1);
    std::string tooLong = "/" + std::string(kMaxSoundPath, 'a') + ".wav";
    record.soundNames[1] = tooLong.data();
    ASSERT_EQ(fSetDetailEnviron(kPrinter, &record), 1);
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
};

TEST_F(SettingsRules, SetUpFollowsTheConnectionAndTheModel)
{
    FakeHost host(Family::Page, 0);
    SettingsPage page(host);
    page.selected();
    EXPECT_EQ(page.controls().intervalMin, 2);
    EXPECT_EQ(page.controls().intervalMax, 10);
    EXPECT_EQ(page.controls().intervalPageStep, 1);
    EXPECT_TRUE(page.controls().sizeCheckEnabled);
    EXPECT_EQ(page.controls().alerts.size(), 10u);
    EXPECT_EQ(page.controls().alerts[3].name, "用紙残量少");
    EXPECT_FALSE(page.controls().soundGroupEnabled);
    EXPECT_FALSE(page.controls().stopEnabled);
    EXPECT_FALSE(page.controls().applyEnabled);

    FakeHost network(Family::Page, 1);
    network.entry.NetworkPort = 1;
    network.entry.NetworkKind = 2;
    SettingsPage slow(network);
    network.entry.StatusInterval = 0;
    slow.selected();
    EXPECT_EQ(slow.controls().intervalMin, 5);
    EXPECT_EQ(slow.controls().intervalMax, 60);
    EXPECT_EQ(slow.controls().intervalPageStep, 10);
    EXPECT_EQ(slow.controls().intervalPosition, 5);

    for (int model : {2, 3, 4, 5, 9, 10, 11, 13, 14, 15, 16, 17}) {
        FakeHost inkjet(Family::Inkjet, model);
        SettingsPage other(inkjet);
        other.selected();
        EXPECT_FALSE(other.controls().sizeCheckEnabled) << model;
        EXPECT_EQ(other.controls().alerts.size(), 9u);
    }
}

TEST_F(SettingsRules, AnUnreadableEntryLeavesThePageAsItWas)
{
    FakeHost host;
    host.entryReadable = false;
    SettingsPage page(host);
    const Controls before = page.controls();
    page.selected();
    EXPECT_FALSE(page.current());
    EXPECT_EQ(page.controls(), before);
}

TEST_F(SettingsRules, SelectedBeforeAnyLoadReadsTheStoreOnce)
{
    DetailSettings stored;
    applyAlertDefaults(Family::Page, stored);
    stored.intervalMs = 6000;
    ASSERT_TRUE(storeDetailSettings(kPrinter, stored));
    FakeHost host;
    SettingsPage page(host);
    page.selected();
    EXPECT_EQ(host.loads, 1);
    EXPECT_EQ(page.controls().intervalPosition, 6);
    page.left();
    page.selected();
    EXPECT_EQ(host.loads, 1);
}

TEST_F(SettingsRules, ApplyIsIgnoredWhileTheEntryCannotBeRead)
{
    FakeHost host;
    SettingsPage page(host);
    page.loadFromStore();
    page.selected();
    page.setOnTop(true);
    host.entryReadable = false;
    const int stores = host.stores;
    page.apply();
    EXPECT_EQ(host.stores, stores);
    EXPECT_TRUE(page.controls().applyEnabled);
    EXPECT_FALSE(page.applied().topMost);
}

TEST_F(SettingsRules, LoadingFromTheStoreReachesTheEntryTheWindowAndTheTray)
{
    DetailSettings stored;
    applyAlertDefaults(Family::Page, stored);
    stored.intervalMs = 8000;
    stored.topMost = true;
    stored.openWhenPrinting = true;
    stored.sizeCheck = true;
    stored.iconSet = 6;
    stored.alerts[4].enabled = false;
    ASSERT_TRUE(storeDetailSettings(kPrinter, stored));

    FakeHost host;
    host.entry.OptionBits = 0x11;
    SettingsPage page(host);
    page.loadFromStore();
    EXPECT_EQ(host.entry.StatusInterval, 8000u);
    EXPECT_EQ(host.entry.PrintOpenFlag, 1u);
    EXPECT_EQ(host.entry.ErrorOpenFlag, 1u);
    EXPECT_EQ(host.entry.SizeCheckFlag, 1u);
    EXPECT_EQ(host.entry.OptionBits, 0x13);
    EXPECT_EQ(host.entry.MonitorFlag, 1u);
    EXPECT_EQ(host.entry.SelectIcon, 6);
    EXPECT_EQ(host.onTop, true);
    EXPECT_EQ(host.trayShown, true);
    EXPECT_EQ(page.applied().intervalMs, 8000u);
    EXPECT_FALSE(page.applied().alerts[4].enabled);

    page.selected();
    EXPECT_EQ(page.controls().intervalPosition, 8);
    EXPECT_TRUE(page.controls().onTop);
    EXPECT_TRUE(page.controls().sizeCheck);
    EXPECT_FALSE(page.controls().alerts[4].checked);
    EXPECT_EQ(page.controls().alerts[2].file, "03PPROUT.WAV");
    EXPECT_FALSE(page.controls().applyEnabled);
}

TEST_F(SettingsRules, MonitorOffKeepsTheIconSetAndRemovesTheTrayIcon)
{
    DetailSettings stored;
    applyAlertDefaults(Family::Page, stored);
    stored.monitor = false;
    stored.iconSet = 3;
    ASSERT_TRUE(storeDetailSettings(kPrinter, stored));
    FakeHost host;
    host.entry.SelectIcon = 1;
    SettingsPage page(host);
    page.loadFromStore();
    EXPECT_EQ(host.entry.MonitorFlag, 0u);
    EXPECT_EQ(host.entry.SelectIcon, 1);  // only while the monitor is on
    EXPECT_EQ(host.trayShown, false);
    page.selected();
    EXPECT_FALSE(page.controls().trayIconEnabled);
    page.setMonitor(true);
    EXPECT_TRUE(page.controls().trayIconEnabled);
}

TEST_F(SettingsRules, ATrackbarChangeSurvivesLeavingThePageUnstoredAndUnapplied)
{
    FakeHost host;
    SettingsPage page(host);
    page.loadFromStore();
    const int storesBefore = host.stores;
    page.selected();
    page.setIntervalPosition(9);
    EXPECT_TRUE(page.controls().applyEnabled);
    page.left();
    EXPECT_TRUE(page.record().applyPending);
    EXPECT_EQ(page.record().intervalMs, 9000u);
    page.selected();
    EXPECT_EQ(page.controls().intervalPosition, 9);
    EXPECT_TRUE(page.controls().applyEnabled);
    EXPECT_EQ(host.stores, storesBefore);
    EXPECT_EQ(host.entry.StatusInterval, 5000u);  // in effect only through "更新"
    EXPECT_EQ(loadDetailSettings(kPrinter, Family::Page).intervalMs, 5000u);
}

TEST_F(SettingsRules, ApplyPutsEveryControlIntoEffectAndStoresIt)
{
    FakeHost host;
    SettingsPage page(host);
    page.loadFromStore();
    page.selected();
    page.setIntervalPosition(3);
    page.setOnTop(true);
    page.setOpenWhenPrinting(true);
    page.setOpenOnError(false);
    page.setSizeCheck(true);
    host.trayChoice = 7;
    page.chooseTrayIcon();
    EXPECT_EQ(host.trayAskedWith, 0);
    EXPECT_EQ(host.entry.SelectIcon, 0);  // not before "更新"
    page.toggleAlert(0);
    host.entry.HideRequest = 0;
    page.apply();

    EXPECT_FALSE(page.controls().applyEnabled);
    EXPECT_EQ(page.controls().focus, sc::kFocusNext);
    EXPECT_EQ(host.entry.StatusInterval, 3000u);
    EXPECT_EQ(host.entry.PrintOpenFlag, 1u);
    EXPECT_EQ(host.entry.ErrorOpenFlag, 0u);
    EXPECT_EQ(host.entry.SizeCheckFlag, 1u);
    EXPECT_EQ(host.entry.OptionBits & 2, 2);
    EXPECT_EQ(host.entry.SelectIcon, 7);
    EXPECT_EQ(host.onTop, true);
    const DetailSettings stored = loadDetailSettings(kPrinter, Family::Page);
    EXPECT_FALSE(stored.hide);
    EXPECT_EQ(stored.intervalMs, 3000u);
    EXPECT_TRUE(stored.topMost);
    EXPECT_FALSE(stored.openOnError);
    EXPECT_EQ(stored.iconSet, 7);
    EXPECT_FALSE(stored.alerts[0].enabled);
    EXPECT_FALSE(page.applied().alerts[0].enabled);

    page.setMonitor(false);
    page.apply();
    EXPECT_EQ(host.trayShown, false);
    EXPECT_EQ(host.entry.MonitorFlag, 0u);
}

TEST_F(SettingsRules, AFailedStoreKeepsApplyEnabled)
{
    FakeHost host;
    SettingsPage page(host);
    page.loadFromStore();
    page.selected();
    page.setOnTop(true);
    host.storeWorks = false;
    page.apply();
    EXPECT_TRUE(page.controls().applyEnabled);
    page.left();
    EXPECT_TRUE(page.record().applyPending);
}

TEST_F(SettingsRules, ACancelledTrayChooserChangesNothing)
{
    FakeHost host;
    SettingsPage page(host);
    page.loadFromStore();
    page.selected();
    host.trayChoice = -1;
    page.chooseTrayIcon();
    EXPECT_EQ(page.iconSet(), 0);
    EXPECT_FALSE(page.controls().applyEnabled);
}

TEST_F(SettingsRules, DefaultsButtonResetsOnlyTheAlertTypes)
{
    FakeHost host;
    SettingsPage page(host);
    page.loadFromStore();
    page.selected();
    page.allOff();
    page.selectAlert(2);
    page.chooseSound(0);
    page.setOnTop(true);
    page.setIntervalPosition(7);
    page.restoreDefaults();

    const Controls& c = page.controls();
    for (int row = 0; row < 10; ++row) EXPECT_EQ(c.alerts[row].checked, row != 3) << row;
    EXPECT_EQ(c.alerts[2].file, "03PPROUT.WAV");
    EXPECT_EQ(c.soundItems[c.soundIndex], "03PPROUT.WAV");  // the current type's list follows
    EXPECT_TRUE(c.onTop);
    EXPECT_EQ(c.intervalPosition, 7);
    EXPECT_TRUE(c.applyEnabled);
    page.apply();
    EXPECT_EQ(loadDetailSettings(kPrinter, Family::Page).alerts[2].path, mediaPath("03PPROUT.WAV"));
}

TEST_F(SettingsRules, AllOnAndAllOffSetEveryCheckMark)
{
    FakeHost host(Family::Impact, 14);
    SettingsPage page(host);
    page.loadFromStore();
    page.selected();
    page.allOff();
    for (const AlertItem& item : page.controls().alerts) EXPECT_FALSE(item.checked);
    page.allOn();
    for (const AlertItem& item : page.controls().alerts) EXPECT_TRUE(item.checked);
    EXPECT_EQ(page.controls().alerts.size(), 7u);
}

TEST_F(SettingsRules, KeysAndClicksMoveTheCurrentAlertType)
{
    FakeHost host;
    SettingsPage page(host);
    page.loadFromStore();
    page.selected();

    page.upPressed();  // nothing selected: the list of no sound, the group stays off
    EXPECT_EQ(page.controls().selected, -1);
    EXPECT_FALSE(page.controls().soundGroupEnabled);
    EXPECT_EQ(page.controls().soundIndex, 0);
    EXPECT_EQ(page.controls().formatPicture, kNoFilePicture);

    page.downPressed();  // nothing selected: the first item
    EXPECT_EQ(page.controls().selected, 0);
    EXPECT_TRUE(page.controls().soundGroupEnabled);
    EXPECT_EQ(page.controls().soundItems, (std::vector<std::string>{kNoSoundItem, "01READY.WAV", "02STOP.WAV",
                                                                    "03PPROUT.WAV", "04PPRFEW.WAV", "chime.wav"}));
    EXPECT_EQ(page.controls().soundIndex, 1);
    EXPECT_TRUE(page.controls().testEnabled);
    EXPECT_EQ(page.soundFolder(), (plat::windowsDir() / "media").string());

    page.upPressed();  // not past the first
    EXPECT_EQ(page.controls().selected, 0);
    page.selectAlert(9);
    page.downPressed();  // not past the last
    EXPECT_EQ(page.controls().selected, 9);
    // Its default file is not in the folder: shown as none, kept as the sound.
    EXPECT_EQ(page.controls().soundIndex, 0);
    EXPECT_FALSE(page.controls().testEnabled);
    EXPECT_EQ(page.controls().alerts[9].file, "12ERROR.WAV");

    const bool before = page.controls().alerts[9].checked;
    page.spacePressed();
    EXPECT_EQ(page.controls().alerts[9].checked, !before);
    EXPECT_TRUE(page.controls().applyEnabled);
    page.toggleAlert(1);  // a click on a check mark: the current type stays
    EXPECT_EQ(page.controls().selected, 9);
    page.toggleAlert(42);
    page.selectAlert(-3);
    EXPECT_EQ(page.controls().selected, 9);
}

TEST_F(SettingsRules, NoSoundClearsTheSoundButTheTypeStaysOn)
{
    FakeHost host;
    SettingsPage page(host);
    page.loadFromStore();
    page.selected();
    page.selectAlert(2);
    page.chooseSound(0);
    EXPECT_EQ(page.controls().alerts[2].file, "");
    EXPECT_FALSE(page.controls().testEnabled);
    EXPECT_EQ(page.controls().formatPicture, kNoFilePicture);
    EXPECT_TRUE(page.controls().applyEnabled);
    page.apply();
    const DetailSettings stored = loadDetailSettings(kPrinter, Family::Page);
    EXPECT_TRUE(stored.alerts[2].enabled);
    EXPECT_FALSE(stored.alerts[2].hasSound);
    EXPECT_EQ(stored.alerts[2].path, "");

    // Picked from the list of no sound: taken from the media folder.
    page.selectAlert(2);
    EXPECT_EQ(page.soundFolder(), "");
    page.chooseSound(5);
    EXPECT_EQ(page.controls().alerts[2].file, "chime.wav");
    page.apply();
    EXPECT_EQ(loadDetailSettings(kPrinter, Family::Page).alerts[2].path, mediaPath("chime.wav"));
}

TEST_F(SettingsRules, BrowsedPathsUpToTheLimitAreTakenLongerOnesRefused)
{
    FakeHost host;
    SettingsPage page(host);
    page.loadFromStore();
    page.selected();
    EXPECT_FALSE(page.browse());  // no current alert type: the dialog is not even asked
    EXPECT_FALSE(host.browsedFrom);

    page.selectAlert(1);
    std::string folder = root.path().string() + "/";
    std::string fits = folder + std::string(kMaxSoundPath - folder.size() - 4, 'f') + ".wav";
    ASSERT_EQ(fits.size(), 259u);
    host.fileChoice = fits;
    EXPECT_TRUE(page.browse());
    EXPECT_EQ(*host.browsedFrom, (plat::windowsDir() / "media").string());
    EXPECT_EQ(page.controls().alerts[1].file, fileNameOf(fits));
    EXPECT_TRUE(page.controls().applyEnabled);
    page.apply();
    EXPECT_EQ(loadDetailSettings(kPrinter, Family::Page).alerts[1].path, fits);

    page.selectAlert(1);
    const Controls before = page.controls();
    host.fileChoice = folder + std::string(300 - folder.size() - 4, 'g') + ".wav";
    EXPECT_FALSE(page.browse());
    EXPECT_EQ(page.controls(), before);
    host.fileChoice = folder + "\xff\xfe.wav";  // not a text the store keeps
    EXPECT_FALSE(page.browse());
    EXPECT_EQ(page.controls(), before);
}

TEST_F(SettingsRules, TheSoundListSkipsNamesThatAreNotUtf8)
{
    writeFile(plat::windowsDir() / "media" / "bad\xff.wav", "RIFF");
    writeFile(plat::windowsDir() / "media" / "LOUD.Wav", "RIFF");
    std::filesystem::create_directories(plat::windowsDir() / "media" / "folder.wav");
    const auto names = waveFilesIn((plat::windowsDir() / "media").string());
    EXPECT_EQ(names, (std::vector<std::string>{"01READY.WAV", "02STOP.WAV", "03PPROUT.WAV", "04PPRFEW.WAV", "LOUD.Wav",
                                               "chime.wav"}));
    EXPECT_TRUE(waveFilesIn("/no/such/folder").empty());
}

TEST_F(SettingsRules, FormatPictureComesFromTheHostForTheChosenFile)
{
    FakeHost host;
    SettingsPage page(host);
    page.loadFromStore();
    page.selected();
    page.selectAlert(0);
    ASSERT_FALSE(host.picturesAsked.empty());
    EXPECT_EQ(host.picturesAsked.back(), mediaPath("01READY.WAV"));
    page.chooseSound(5);
    EXPECT_EQ(host.picturesAsked.back(), mediaPath("chime.wav"));
}

TEST_F(SettingsRules, AFileThatIsNotRiffShowsPicture300)
{
#ifndef KESTREL_WAVE_FORMAT
    GTEST_SKIP() << "the wave format reader is not built here";
#endif
    writeFile(plat::windowsDir() / "media" / "text.wav", "this is not a RIFF file at all");
    FakeHost host;
    SettingsPage page(host);
    page.loadFromStore();
    page.selected();
    page.selectAlert(0);
    ASSERT_TRUE(page.takeSoundFile(mediaPath("text.wav")));
    EXPECT_EQ(page.controls().formatPicture, 300);
}

TEST_F(SettingsRules, TestPlayAndStopHandTheButtonsBackAndForth)
{
    FakeHost host;
    SettingsPage page(host);
    host.fakeSound.onFinished([&] { page.soundFinished(); });
    page.loadFromStore();
    page.selected();
    page.selectAlert(1);
    page.testPlay();
    EXPECT_EQ(host.fakeSound.played, std::vector<std::string>{mediaPath("02STOP.WAV")});
    EXPECT_TRUE(page.testPlaying());
    EXPECT_FALSE(page.controls().testEnabled);
    EXPECT_TRUE(page.controls().stopEnabled);
    EXPECT_EQ(page.controls().focus, sc::kStop);

    host.fakeSound.finish();  // played to its end
    EXPECT_FALSE(page.testPlaying());
    EXPECT_TRUE(page.controls().testEnabled);
    EXPECT_FALSE(page.controls().stopEnabled);
    EXPECT_EQ(page.controls().focus, sc::kPlay);

    page.testPlay();
    page.testStop();
    EXPECT_FALSE(host.fakeSound.playing());
    EXPECT_TRUE(page.controls().testEnabled);
    EXPECT_FALSE(page.controls().stopEnabled);
}

TEST_F(SettingsRules, APlayThatCannotStartLeavesThePlayButton)
{
    FakeHost host;
    host.fakeSound.playable = false;
    SettingsPage page(host);
    page.loadFromStore();
    page.selected();
    page.selectAlert(0);
    page.testPlay();
    EXPECT_FALSE(page.testPlaying());
    EXPECT_TRUE(page.controls().testEnabled);
    EXPECT_FALSE(page.controls().stopEnabled);
}

TEST_F(SettingsRules, AnAlertSoundEndingDoesNotTouchTheTestButtons)
{
    FakeHost host;
    SettingsPage page(host);
    host.fakeSound.onFinished([&] { page.soundFinished(); });
    page.loadFromStore();
    page.selected();
    page.selectAlert(0);
    host.fakeSound.play(mediaPath("12ERROR.WAV"));  // the alert rule's
    const Controls before = page.controls();
    host.fakeSound.finish();
    EXPECT_EQ(page.controls(), before);
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
        host.fakeSound.onFinished([this] { widget->soundFinished(); });
        widget->attach(page.get());
        widget->loadFromStore();
        widget->pageSelected();
        list = numbered<QTreeWidget>(page.get(), sc::kAlertList);
        ASSERT_NE(list, nullptr);
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
};

TEST_F(SettingsWidgets, TheTemplateShowsThePageWithMnemonicCaptions)
{
    EXPECT_EQ(numbered<QPushButton>(page.get(), sc::kApply)->text(), QString::fromUtf8("更新(&P)"));
    EXPECT_EQ(numbered<QPushButton>(page.get(), sc::kBrowse)->text(), QString::fromUtf8("参照(&B)..."));
    EXPECT_EQ(numbered<QLabel>(page.get(), sc::kSoundLabel)->buddy(), numbered(page.get(), sc::kSoundName));
    EXPECT_FALSE(enabled(sc::kApply));
    EXPECT_FALSE(enabled(sc::kSoundName));
    EXPECT_FALSE(enabled(sc::kStop));
    auto* slider = numbered<QSlider>(page.get(), sc::kInterval);
    EXPECT_EQ(slider->minimum(), 2);
    EXPECT_EQ(slider->maximum(), 10);
    EXPECT_EQ(slider->value(), 5);
    ASSERT_EQ(list->topLevelItemCount(), 10);
    EXPECT_EQ(list->topLevelItem(3)->text(0), QString::fromUtf8("用紙残量少"));
    EXPECT_EQ(list->topLevelItem(2)->text(1), QStringLiteral("03PPROUT.WAV"));
    EXPECT_FALSE(checked(3));
}

TEST_F(SettingsWidgets, ClicksOnTheListToggleOrSelect)
{
    clickCheckMark(3);
    EXPECT_TRUE(checked(3));
    EXPECT_TRUE(enabled(sc::kApply));
    EXPECT_EQ(widget->state().controls().selected, -1);  // a check mark click selects nothing
    EXPECT_FALSE(enabled(sc::kSoundName));

    clickLabel(2);
    EXPECT_TRUE(checked(2));
    EXPECT_EQ(list->currentItem(), list->topLevelItem(2));
    EXPECT_TRUE(enabled(sc::kSoundName));
    EXPECT_EQ(numbered<QComboBox>(page.get(), sc::kSoundName)->currentText(), QStringLiteral("03PPROUT.WAV"));

    QTest::keyClick(list, Qt::Key_Space);
    EXPECT_FALSE(checked(2));
    QTest::keyClick(list, Qt::Key_Down);
    EXPECT_EQ(list->currentItem(), list->topLevelItem(3));
    QTest::keyClick(list, Qt::Key_End);
    EXPECT_EQ(list->currentItem(), list->topLevelItem(9));

    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, QPoint(5, list->viewport()->height() - 2));
    EXPECT_EQ(list->currentItem(), list->topLevelItem(9));  // below the items: nothing changes
}

TEST_F(SettingsWidgets, NoSoundInTheListClearsTheAlertTypesSound)
{
    clickLabel(1);
    auto* sounds = numbered<QComboBox>(page.get(), sc::kSoundName);
    ASSERT_EQ(sounds->itemText(0), QString::fromUtf8(kNoSoundItem));
    sounds->activated(0);  // as the user's choice
    EXPECT_EQ(list->topLevelItem(1)->text(1), QString());
    EXPECT_FALSE(enabled(sc::kPlay));
    EXPECT_EQ(numbered(page.get(), sc::kFormat)->accessibleDescription(), QString::fromUtf8("ｻｳﾝﾄﾞなし"));
    click(sc::kApply);
    EXPECT_FALSE(enabled(sc::kApply));
    EXPECT_FALSE(loadDetailSettings(kPrinter, Family::Page).alerts[1].hasSound);
}

TEST_F(SettingsWidgets, ANonRiffFileShowsFormat300)
{
    writeFile(plat::windowsDir() / "media" / "text.wav", "plain text, no RIFF form");
    clickLabel(0);
    auto* sounds = numbered<QComboBox>(page.get(), sc::kSoundName);
    const int index = sounds->findText(QStringLiteral("text.wav"));
    ASSERT_GT(index, 0);
    sounds->activated(index);
    EXPECT_EQ(host.picturesAsked.back(), mediaPath("text.wav"));
    EXPECT_EQ(numbered(page.get(), sc::kFormat)->property("kestrelPicture").toInt(), 300);
    EXPECT_EQ(numbered(page.get(), sc::kFormat)->accessibleDescription(), QString::fromUtf8("ﾓﾉﾗﾙ 22kHz未満 8ﾋﾞｯﾄ"));
}

TEST_F(SettingsWidgets, TestButtonsFollowThePlay)
{
    clickLabel(0);
    click(sc::kPlay);
    EXPECT_FALSE(enabled(sc::kPlay));
    EXPECT_TRUE(enabled(sc::kStop));
    click(sc::kStop);
    EXPECT_TRUE(enabled(sc::kPlay));
    EXPECT_FALSE(enabled(sc::kStop));
    click(sc::kPlay);
    host.fakeSound.finish();
    EXPECT_TRUE(enabled(sc::kPlay));
    EXPECT_FALSE(enabled(sc::kStop));
}

TEST_F(SettingsWidgets, BrowseTakesTheChosenFile)
{
    const std::string chosen = (root.path() / "sounds" / "bell.wav").string();
    writeFile(chosen, "RIFF");
    clickLabel(4);
    host.fileChoice = chosen;
    click(sc::kBrowse);
    EXPECT_EQ(list->topLevelItem(4)->text(1), QStringLiteral("bell.wav"));
    auto* sounds = numbered<QComboBox>(page.get(), sc::kSoundName);
    EXPECT_EQ(sounds->currentText(), QStringLiteral("bell.wav"));
    EXPECT_EQ(sounds->count(), 2);
    EXPECT_TRUE(enabled(sc::kApply));
}

TEST_F(SettingsWidgets, AChangeSurvivesThePageBeingRebuilt)
{
    numbered<QSlider>(page.get(), sc::kInterval)->setValue(8);
    EXPECT_TRUE(enabled(sc::kApply));
    widget->pageLeft();
    page = loadPage();  // the section list pruned the page and makes it anew
    widget->attach(page.get());
    widget->pageSelected();
    EXPECT_EQ(numbered<QSlider>(page.get(), sc::kInterval)->value(), 8);
    EXPECT_TRUE(enabled(sc::kApply));
    EXPECT_EQ(loadDetailSettings(kPrinter, Family::Page).intervalMs, 5000u);
}

TEST_F(SettingsWidgets, EveryControlRoundTripsThroughTheStore)
{
    numbered<QSlider>(page.get(), sc::kInterval)->setValue(9);
    for (int number : {sc::kOnTop, sc::kOpenWhenPrinting, sc::kOpenOnError, sc::kSizeCheck}) click(number);
    host.trayChoice = 5;
    click(sc::kTrayIcon);
    clickCheckMark(0);
    clickCheckMark(3);
    clickLabel(6);
    auto* sounds = numbered<QComboBox>(page.get(), sc::kSoundName);
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
    EXPECT_TRUE(numbered<QCheckBox>(again.get(), sc::kOnTop)->isChecked());
    EXPECT_TRUE(numbered<QCheckBox>(again.get(), sc::kOpenWhenPrinting)->isChecked());
    EXPECT_FALSE(numbered<QCheckBox>(again.get(), sc::kOpenOnError)->isChecked());
    EXPECT_TRUE(numbered<QCheckBox>(again.get(), sc::kSizeCheck)->isChecked());
    EXPECT_FALSE(numbered<QCheckBox>(again.get(), sc::kMonitor)->isChecked());
    EXPECT_FALSE(numbered(again.get(), sc::kTrayIcon)->isEnabled());
    EXPECT_EQ(other.state().iconSet(), 5);
    auto* otherList = numbered<QTreeWidget>(again.get(), sc::kAlertList);
    EXPECT_EQ(otherList->topLevelItem(0)->checkState(0), Qt::Unchecked);
    EXPECT_EQ(otherList->topLevelItem(3)->checkState(0), Qt::Checked);
    EXPECT_EQ(otherList->topLevelItem(6)->text(1), QStringLiteral("chime.wav"));
    EXPECT_EQ(otherList->topLevelItem(7)->text(1), QString());
    EXPECT_EQ(otherList->topLevelItem(8)->text(1), QStringLiteral("11COMERR.WAV"));
    for (int row = 0; row < 10; ++row) {
        EXPECT_EQ(otherList->topLevelItem(row)->checkState(0), list->topLevelItem(row)->checkState(0)) << row;
        EXPECT_EQ(otherList->topLevelItem(row)->text(1), list->topLevelItem(row)->text(1)) << row;
    }
    EXPECT_FALSE(numbered(again.get(), sc::kApply)->isEnabled());
    EXPECT_EQ(fresh.entry.StatusInterval, 9000u);
    EXPECT_EQ(fresh.onTop, true);
    EXPECT_EQ(fresh.trayShown, false);
}

}  // namespace

int main(int argc, char** argv)
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
