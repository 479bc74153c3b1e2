// The window environments against a fresh store per test, and the list-box tab stops on a real list view.

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QListWidget>
#include <climits>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "facts/store_names.h"
#include "plat/heap/heap.h"
#include "registry_store.h"
#include "testsupport/temp_root.h"
#include "watchcore.h"

using watchcore::StoreKey;
namespace value = facts::value;

namespace {

constexpr const char* kPrinter = "IJ-09 Front desk";
constexpr ListEnviron kDefaults{0, 10, 20, 600, 400};

class ListEnvironment : public testsupport::RootTest {};

TEST_F(ListEnvironment, ReadingStopsAtTheFirstMissingValue)
{
    ListEnviron record = kDefaults;
    EXPECT_EQ(fGetListEnviron(&record), 0);  // a fresh system: the caller's defaults stay
    EXPECT_EQ(std::memcmp(&record, &kDefaults, sizeof record), 0);

    ASSERT_TRUE(watchcore::createStoreKey(testsupport::rootStore(), StoreKey::ListEnv, {}));
    ASSERT_TRUE(watchcore::setDword(testsupport::rootStore(), StoreKey::ListEnv, {}, value::kDispStat, 3));
    ASSERT_TRUE(
        watchcore::setDword(testsupport::rootStore(), StoreKey::ListEnv, {}, value::kTop, static_cast<uint32_t>(-5)));
    ASSERT_TRUE(watchcore::setDword(testsupport::rootStore(), StoreKey::ListEnv, {}, value::kWidth,
                                    900));  // after the gap: not read
    EXPECT_EQ(fGetListEnviron(&record), 0);
    const ListEnviron expected{3, -5, 20, 600, 400};
    EXPECT_EQ(std::memcmp(&record, &expected, sizeof record), 0);
}

TEST_F(ListEnvironment, WrittenRecordReadsBack)
{
    const ListEnviron written{2, -30, 40, 800, 500};
    ASSERT_EQ(fSetListEnviron(&written), 1);
    ListEnviron read{};
    ASSERT_EQ(fGetListEnviron(&read), 1);
    EXPECT_EQ(std::memcmp(&read, &written, sizeof read), 0);
}

class DetailEnvironment : public testsupport::RootTest {
protected:
    void TearDown() override { plat::Heap::destroy(heap); }
    plat::Heap* heap = plat::Heap::create();
};

TEST_F(DetailEnvironment, UnsavedPrinterGetsEveryFallback)
{
    DetailEnviron record;
    std::memset(&record, 0x5A, sizeof record);  // what a caller's stack holds
    EXPECT_EQ(fGetDetailEnviron(kPrinter, &record, heap), 0);
    const uint32_t flags[] = {1, 5000, 0, 0, 1, 0, 1, 0, 11};  // hide .. alert count
    EXPECT_EQ(std::memcmp(&record, flags, sizeof flags), 0);
    for (int n = 0; n < 11; ++n) {
        EXPECT_EQ(record.alertTypes[n], 1u) << n;
        EXPECT_EQ(record.soundTypes[n], 1u) << n;
        EXPECT_EQ(record.soundNames[n], nullptr) << n;
    }
    EXPECT_EQ(heap->bytesInUse(), 0u);
}

TEST_F(DetailEnvironment, SavedSettingsReadBackWithTheEnginesCopy)
{
    ASSERT_TRUE(watchcore::createStoreKey(testsupport::rootStore(), StoreKey::Vigilmon, kPrinter));
    DetailEnviron written{0, 3000, 1, 1, 0, 1, 0, 2, 4, {}, {}, {}};
    for (int n = 0; n < 11; ++n) {
        written.alertTypes[n] = n % 2;
        written.soundTypes[n] = (n + 1) % 2;
    }
    char chime[] = "/usr/share/sounds/チャイム.wav";
    written.soundNames[3] = chime;
    ASSERT_EQ(fSetDetailEnviron(kPrinter, &written), 1);

    uint32_t paperCheck = 0;
    ASSERT_TRUE(watchcore::getDword(testsupport::rootStore(), StoreKey::Vigilmon, kPrinter, value::kPaperCheckFlag,
                                    paperCheck));
    EXPECT_EQ(paperCheck, 1u);

    DetailEnviron read{};
    ASSERT_EQ(fGetDetailEnviron(kPrinter, &read, heap), 1);
    EXPECT_EQ(std::memcmp(&read, &written, offsetof(DetailEnviron, soundTypes) + sizeof read.soundTypes), 0);
    ASSERT_NE(read.soundNames[3], nullptr);
    EXPECT_STREQ(read.soundNames[3], chime);
    ASSERT_NE(read.soundNames[0], nullptr);  // written as "" when there was none
    EXPECT_STREQ(read.soundNames[0], "");
    EXPECT_TRUE(heap->free(read.soundNames[3]));  // the caller's heap, the caller's to free
}

TEST_F(DetailEnvironment, OneUnreadableValueDoesNotStopTheRest)
{
    ASSERT_TRUE(watchcore::createStoreKey(testsupport::rootStore(), StoreKey::StEnviron, kPrinter));
    ASSERT_TRUE(
        watchcore::setDword(testsupport::rootStore(), StoreKey::StEnviron, kPrinter, value::kSelectIcon.name, 1));
    ASSERT_TRUE(watchcore::setText(testsupport::rootStore(), StoreKey::StEnviron, kPrinter,
                                   watchcore::numberedName(value::kSoundNameN, 2), std::string(1024, 'x')));
    ASSERT_TRUE(watchcore::setText(testsupport::rootStore(), StoreKey::StEnviron, kPrinter,
                                   watchcore::numberedName(value::kSoundNameN, 3), std::string(1023, 'y')));
    DetailEnviron read{};
    EXPECT_EQ(fGetDetailEnviron(kPrinter, &read, heap), 0);
    EXPECT_EQ(read.selectIcon, 1u);
    EXPECT_EQ(read.hideFlag, 1u);
    EXPECT_EQ(read.soundNames[2], nullptr);  // longer than a reader takes
    ASSERT_NE(read.soundNames[3], nullptr);
    EXPECT_EQ(std::strlen(read.soundNames[3]), 1023u);
}

TEST_F(DetailEnvironment, WritingStopsAtTheFirstFailure)
{
    // No \Vigilmon yet: the status interval cannot be written, so nothing after it is.
    const DetailEnviron written{0, 3000, 1, 1, 0, 1, 0, 2, 4, {}, {}, {}};
    EXPECT_EQ(fSetDetailEnviron(kPrinter, &written), 0);
    uint32_t v = 77;
    EXPECT_TRUE(watchcore::getDword(testsupport::rootStore(), StoreKey::StEnviron, kPrinter, value::kHideFlag.name, v));
    EXPECT_EQ(v, 0u);
    EXPECT_FALSE(
        watchcore::getDword(testsupport::rootStore(), StoreKey::StEnviron, kPrinter, value::kTopMostFlag.name, v));
    EXPECT_EQ(fSetDetailEnviron(nullptr, &written), 0);
}

TEST_F(DetailEnvironment, TheDesktopNotifyFlagStandsBesideTheRecord)
{
    uint32_t flag = 77;
    EXPECT_EQ(fGetRegistoryDesktopNotifyFlag(kPrinter, &flag), 0);
    EXPECT_EQ(flag, 1u) << "on until the user turns it off";

    // A record stored before the flag existed reads complete: no reader falls back for its sake.
    ASSERT_TRUE(watchcore::createStoreKey(testsupport::rootStore(), StoreKey::Vigilmon, kPrinter));
    const DetailEnviron written{0, 3000, 1, 1, 0, 1, 0, 2, 4, {}, {}, {}};
    ASSERT_EQ(fSetDetailEnviron(kPrinter, &written), 1);
    DetailEnviron read{};
    EXPECT_EQ(fGetDetailEnviron(kPrinter, &read, heap), 1);
    for (char* name : read.soundNames) heap->free(name);

    ASSERT_EQ(fSetRegistoryDesktopNotifyFlag(kPrinter, 0), 1);
    EXPECT_EQ(fGetRegistoryDesktopNotifyFlag(kPrinter, &flag), 1);
    EXPECT_EQ(flag, 0u);
    EXPECT_EQ(fGetDetailEnviron(kPrinter, &read, heap), 1);
    EXPECT_EQ(std::memcmp(&read, &written, offsetof(DetailEnviron, alertTypes)), 0) << "the record is as it was";
    EXPECT_EQ(fGetRegistoryDesktopNotifyFlag(kPrinter, nullptr), 0);
    EXPECT_EQ(fSetRegistoryDesktopNotifyFlag(nullptr, 0), 0);
}

// ---- Tab stops ----------------------------------------------------------------------------------

QApplication& application()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "window_environ_test";
    static char* argv[] = {name, nullptr};
    static QApplication app(argc, argv);
    return app;
}

class TabStops : public ::testing::Test {
protected:
    static void SetUpTestSuite() { application(); }  // before the fixture's widgets exist
    void SetUp() override { box.addItems({"A\tB\tC", "plain"}); }
    QListWidget box;
};

TEST_F(TabStops, ColumnsOfALine)
{
    char out[16] = "untouched";
    EXPECT_EQ(fGetListBoxTabStops(&box, 0, 2, out, sizeof out), 1);
    EXPECT_STREQ(out, "B");
    EXPECT_EQ(fGetListBoxTabStops(&box, 0, 4, out, sizeof out), 1);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(fGetListBoxTabStops(&box, 1, 1, out, sizeof out), 1);
    EXPECT_STREQ(out, "plain");

    std::strcpy(out, "untouched");
    EXPECT_EQ(fGetListBoxTabStops(&box, 2, 1, out, sizeof out), 0);  // no such line
    EXPECT_EQ(fGetListBoxTabStops(&box, -1, 1, out, sizeof out), 0);
    EXPECT_EQ(fGetListBoxTabStops(&box, 1, 1, out, 5), 0);  // "plain" and its zero need 6 bytes
    EXPECT_EQ(fGetListBoxTabStops(nullptr, 0, 1, out, sizeof out), 0);
    EXPECT_STREQ(out, "untouched");
}

TEST_F(TabStops, StopsAreScaledInPlaceEachTime)
{
    int32_t stops[] = {10, 25};
    EXPECT_EQ(fSetListBoxTabStops(&box, stops, 2), 1);
    EXPECT_EQ(fSetListBoxTabStops(&box, stops, 2), 1);
    EXPECT_EQ(stops[0], 160);
    EXPECT_EQ(stops[1], 400);

    int32_t huge[] = {1, INT_MAX / 2};
    EXPECT_EQ(fSetListBoxTabStops(&box, huge, 2), 0);
    EXPECT_EQ(huge[0], 1);  // refused whole: nothing scaled
    EXPECT_EQ(fSetListBoxTabStops(&box, nullptr, 1), 0);
    QWidget notAList;
    int32_t one[] = {8};
    EXPECT_EQ(fSetListBoxTabStops(&notAList, one, 1), 0);
}

// The columns of ink along the first line's height, as a row of flags.
std::vector<bool> inkColumns(const QImage& image, int top, int bottom)
{
    const QRgb background = image.pixel(image.width() - 1, top);
    std::vector<bool> ink(image.width(), false);
    for (int x = 0; x < image.width(); ++x)
        for (int y = top; y < bottom; ++y)
            if (qGray(image.pixel(x, y)) + 60 < qGray(background)) ink[x] = true;
    return ink;
}

TEST_F(TabStops, FieldsAreDrawnAtTheStops)
{
    box.clear();
    box.addItem("A\tB");
    box.resize(400, 100);
    int32_t stops[] = {10};  // 40 dialog units: ten average characters
    ASSERT_EQ(fSetListBoxTabStops(&box, stops, 1), 1);
    box.show();
    const QRect row = box.visualItemRect(box.item(0));
    const QImage image = box.viewport()->grab().toImage();
    const std::vector<bool> ink = inkColumns(image, row.top(), row.bottom());

    std::vector<int> starts;  // where each run of ink begins
    for (int x = 0; x < static_cast<int>(ink.size()); ++x)
        if (ink[x] && (x == 0 || !ink[x - 1])) starts.push_back(x);
    if (starts.size() < 2) GTEST_SKIP() << "no font draws text on this platform";
    const int expected = 10 * box.fontMetrics().averageCharWidth();
    EXPECT_NEAR(starts[1] - starts[0], expected, 3) << "A at " << starts[0] << ", B at " << starts[1];
}

}  // namespace
