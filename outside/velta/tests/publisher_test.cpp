// What the velta backend publishes: changes only, the heartbeat, and a clean end.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "publisher.h"

namespace {

using namespace velta;
using namespace std::chrono_literals;
using Clock = Publisher::Clock;

struct Lines {
    std::vector<std::string> all;
    Publisher::Line sink()
    {
        return [this](const std::string& line) { all.push_back(line); };
    }
    std::vector<std::string> take() { return std::exchange(all, {}); }
};

Decoded decoded(std::set<std::string> reasons, std::vector<Marker> markers = {}, std::string message = "")
{
    return Decoded{std::move(reasons), std::move(markers), std::move(message)};
}

Marker toner(int level) { return {"Toner", "#000000", "toner", level, 25, 100}; }

TEST(VeltaPublisher, PublishesOnlyWhatChanged)
{
    Lines lines;
    Publisher p(lines.sink(), "MFG:VELTA;MDL:PG-03;", 20s);
    const auto t0 = Clock::now();
    p.status(decoded({"media-empty-error"}, {toner(80)}, "Paper out"), "R1", "");
    p.flush(t0, 1000);
    EXPECT_EQ(lines.take(), (std::vector<std::string>{
                                "STATE: +media-empty-error",
                                "ATTR: marker-colors=#000000 marker-names=Toner marker-types=toner "
                                "marker-low-levels=25 marker-high-levels=100",
                                "ATTR: marker-levels=80",
                                "INFO: Paper out",
                                "ATTR: printer-alert='velta;seq=1;t=1000;st=5231;ink=' "
                                "printer-alert-description='MFG:VELTA;MDL:PG-03;'",
                            }));

    // The same status again, within the heartbeat: nothing.
    p.status(decoded({"media-empty-error"}, {toner(80)}, "Paper out"), "R1", "");
    p.flush(t0 + 5s, 1005);
    EXPECT_TRUE(lines.take().empty());

    // A new reply with other reasons and a new level: only the differences.
    p.status(decoded({"cover-open-error"}, {toner(79)}, "Cover open"), "R2", "I");
    p.flush(t0 + 6s, 1006);
    EXPECT_EQ(lines.take(), (std::vector<std::string>{
                                "STATE: -media-empty-error",
                                "STATE: +cover-open-error",
                                "ATTR: marker-levels=79",
                                "INFO: Cover open",
                                "ATTR: printer-alert='velta;seq=2;t=1006;st=5232;ink=49' "
                                "printer-alert-description='MFG:VELTA;MDL:PG-03;'",
                            }));
}

TEST(VeltaPublisher, HeartbeatRepeatsTheAlert)
{
    Lines lines;
    Publisher p(lines.sink(), "ID", 20s);
    const auto t0 = Clock::now();
    p.flush(t0, 1);
    EXPECT_TRUE(lines.take().empty()) << "no alert before the first reply";
    p.status(decoded({}), "R", "");
    p.flush(t0, 100);
    EXPECT_EQ(lines.take().size(), 1u);
    p.flush(t0 + 19s, 119);
    EXPECT_TRUE(lines.take().empty());
    p.flush(t0 + 20s, 120);
    EXPECT_EQ(lines.take(), (std::vector<std::string>{
                                "ATTR: printer-alert='velta;seq=2;t=120;st=52;ink=' printer-alert-description='ID'"}));
    EXPECT_EQ(p.alerts(), 2u);
}

TEST(VeltaPublisher, ClearTakesBackEverythingItSet)
{
    Lines lines;
    Publisher p(lines.sink(), "ID", 20s);
    p.hold("offline-report", true);
    p.status(decoded({"cover-open-error", "com.velta-printer-error"}), "R", "");
    p.flush(Clock::now(), 5);
    lines.take();
    p.clear();
    EXPECT_EQ(lines.take(), (std::vector<std::string>{
                                "STATE: -com.velta-printer-error,cover-open-error,offline-report",
                                "ATTR: printer-alert='' printer-alert-description=''",
                            }));
    // Nothing set, nothing to take back.
    p.clear();
    EXPECT_TRUE(lines.take().empty());
}

TEST(VeltaPublisher, HeldReasonsComeAndGo)
{
    Lines lines;
    Publisher p(lines.sink(), "ID", 20s);
    p.hold("connecting-to-device", true);
    p.flush(Clock::now(), 1);
    p.hold("connecting-to-device", false);
    p.flush(Clock::now(), 1);
    EXPECT_EQ(lines.take(), (std::vector<std::string>{"STATE: +connecting-to-device", "STATE: -connecting-to-device"}));
}

TEST(VeltaPublisher, AlertStaysOneSafeLine)
{
    Lines lines;
    Publisher p(lines.sink(), std::string("MFG:VELTA;DES:it's \"x\"\\\n;") + std::string(1000, 'A'), 20s);
    p.status(decoded({}, {}, "Paper\nout: " + std::string(500, 'w')), std::string(2000, '\r'), std::string(500, 'I'));
    p.flush(Clock::now(), 7);
    auto out = lines.take();
    ASSERT_EQ(out.size(), 2u);
    // The condition's words: one line, cut to kMessageMax bytes.
    EXPECT_EQ(out[0], "INFO: Paper out: " + std::string(kMessageMax - 11, 'w'));
    out.erase(out.begin());
    const std::string& line = out[0];
    EXPECT_EQ(line.find('\n'), std::string::npos);
    EXPECT_NE(line.find("DES:it?s ?x???;"), std::string::npos);
    // The reply is cut to kAlertReplyMax bytes: its hexadecimal ends where the ink begins.
    std::string cut;
    for (std::size_t i = 0; i < kAlertReplyMax; ++i) cut += "0D";
    EXPECT_NE(line.find(";st=" + cut + ";ink="), std::string::npos);
    EXPECT_LT(line.size(), 2 * kAlertReplyMax + 2 * kAlertInkMax + kAlertDescriptionMax + 200);
}

}  // namespace
