#include "despooler_bridge.h"

#include <gtest/gtest.h>

#include "facts/store_names.h"

using watchlist::DespoolerBridge;
using watchlist::parseBackendAlert;
using watchlist::QueueState;

namespace {

struct Recorder {
    std::vector<DespoolerBridge::Value> values;
    DespoolerBridge bridge{[this](const DespoolerBridge::Value& v) { values.push_back(v); }};

    const DespoolerBridge::Value* last(const std::string& printer, std::string_view name) const
    {
        for (auto it = values.rbegin(); it != values.rend(); ++it) {
            if (it->printer == printer && name == it->name) return &*it;
        }
        return nullptr;
    }
};

QueueState printing(std::string name, std::string alert)
{
    return {std::move(name), true, true, std::move(alert), "MFG:VELTA;MDL:PG-03;"};
}

}  // namespace

TEST(BackendAlert, ReadsTheBackendsFieldsAndRefusesAnythingElse)
{
    auto a = parseBackendAlert("velta;seq=7;t=1700000000;st=53543a30313b;ink=49513a;later=x");
    ASSERT_TRUE(a);
    EXPECT_EQ(a->sequence, 7u);
    EXPECT_EQ(a->time, 1700000000);
    EXPECT_EQ(a->status, "ST:01;");
    EXPECT_EQ(a->ink, "IQ:");
    for (const char* bad : {"", "code=other;ST:01", "velta;seq=1;t=2", "velta;seq=x;t=2;st=00", "velta;seq=1;t=2;st=0",
                            "velta;seq=1;t=2;st=zz", "velta;seq=1;t=2;st"}) {
        EXPECT_FALSE(parseBackendAlert(bad)) << bad;
    }
    EXPECT_FALSE(parseBackendAlert("velta;seq=1;t=2;st=" + std::string(5000, '0')));
}

TEST(DespoolerBridge, APrintingQueueGetsTheDespoolerValuesFlagsLastAndOnlyWhenTheAlertIsNew)
{
    namespace value = facts::value;
    Recorder r;
    r.bridge.update({printing("PG03", "velta;seq=1;t=1000;st=53543a30313b")}, 3600);
    ASSERT_FALSE(r.values.empty());
    EXPECT_STREQ(r.values.back().name, value::kDespoolerRunFlag);
    EXPECT_EQ(r.values.back().dword, 1u);
    EXPECT_EQ(r.last("PG03", value::kDespoolerLastAccessTime)->dword, 4600u) << "local seconds";
    EXPECT_EQ(r.last("PG03", value::kRealTimeStatusStrings)->bytes, "ST:01;");
    EXPECT_EQ(r.last("PG03", value::kDeviceIDLength)->dword, 20u);
    EXPECT_EQ(r.last("PG03", value::kInkLevel), nullptr);
    EXPECT_TRUE(r.bridge.active("PG03"));

    const auto count = r.values.size();
    r.bridge.update({printing("PG03", "velta;seq=1;t=1000;st=53543a30313b")}, 3600);
    EXPECT_EQ(r.values.size(), count) << "the same alert again writes nothing";
    r.bridge.update({printing("PG03", "velta;seq=2;t=1020;st=53543a30323b")}, 3600);
    EXPECT_EQ(r.last("PG03", value::kDespoolerLastAccessTime)->dword, 4620u);
    EXPECT_EQ(r.last("PG03", value::kRealTimeStatusStrings)->bytes, "ST:02;");
}

TEST(DespoolerBridge, TheFlagsGoBackWhenTheJobEndsTheQueueGoesOrTheListEnds)
{
    namespace value = facts::value;
    Recorder r;
    const std::string alert = "velta;seq=1;t=1000;st=00";
    r.bridge.update({printing("A", alert), printing("B", alert), printing("C", alert)}, 0);
    auto idle = printing("A", alert);
    idle.processing = false;
    r.bridge.update({idle, printing("C", alert)}, 0);  // A's job ended, B's queue is gone
    for (const char* q : {"A", "B"}) {
        EXPECT_EQ(r.last(q, value::kDespoolerRunFlag)->dword, 0u) << q;
        EXPECT_EQ(r.last(q, value::kDespoolerExistFlag)->dword, 0u) << q;
        EXPECT_FALSE(r.bridge.active(q));
    }
    EXPECT_EQ(r.last("C", value::kDespoolerRunFlag)->dword, 1u);
    r.bridge.releaseAll();
    EXPECT_EQ(r.last("C", value::kDespoolerRunFlag)->dword, 0u);
    EXPECT_FALSE(r.bridge.active("C"));
}

TEST(DespoolerBridge, QueuesOfOtherBackendsAndForeignAlertsAreLeftAlone)
{
    Recorder r;
    auto foreign = printing("USB", "velta;seq=1;t=1;st=00");
    foreign.veltaBackend = false;
    r.bridge.update({foreign, printing("Other", "code=other;ST:01")}, 0);
    EXPECT_TRUE(r.values.empty());
}
