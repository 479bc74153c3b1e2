// The model facts hold together: every lookup finds the row it should, the three family numberings
// agree, and the per-model rules sit on the models that have them.

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include "facts/models.h"

using namespace facts;

TEST(Models, RowsAreInModelNumberOrderAndEveryNameFindsItsRow)
{
    std::set<std::string> shortNames;
    for (std::uint32_t n = 0; n < kModelCount; ++n) {
        const Model& m = all()[n];
        EXPECT_EQ(m.number(), n);
        EXPECT_EQ(byNumber(n), &m);
        EXPECT_EQ(byName(m.name), &m) << m.name;
        EXPECT_EQ(byShortName(m.shortName), &m) << m.shortName;
        EXPECT_EQ(std::string(m.name), std::string("VELTA ") + m.shortName)
            << "the driver name is the maker and the short name";
        EXPECT_TRUE(shortNames.insert(m.shortName).second) << "short names are unique";
    }
    EXPECT_EQ(byNumber(21), nullptr);
}

TEST(Models, LookupsCompareWholeNamesWithoutRegardToCase)
{
    EXPECT_EQ(byName("velta pg-03"), &model(Code::PG03));
    EXPECT_EQ(byShortName("dm-02"), &model(Code::DM02));
    EXPECT_EQ(byName("VELTA PG-0"), nullptr);
    EXPECT_EQ(byName("VELTA PG-033"), nullptr);
    EXPECT_EQ(byShortName(""), nullptr);
    EXPECT_EQ(byName("VELTA DM-03"), nullptr) << "no model of the table";
}

TEST(Models, TheThreeFamilyNumberingsAgree)
{
    EXPECT_EQ(engineFamilyOf(Family::Page), EngineFamily::Page);
    EXPECT_EQ(static_cast<std::uint32_t>(engineFamilyOf(Family::Impact)), 3u);
    EXPECT_EQ(static_cast<std::uint32_t>(engineFamilyOf(Family::Inkjet)), 2u);
    EXPECT_EQ(familyOf(2), Family::Inkjet);
    EXPECT_EQ(familyOf(3), std::nullopt);
    EXPECT_EQ(engineFamilyOf(0u), std::nullopt);
    EXPECT_EQ(engineFamilyOf(3u), EngineFamily::Impact);
    for (const Model& m : all()) {
        switch (m.group) {
        case DriverGroup::Page: EXPECT_EQ(m.family, Family::Page) << m.shortName; break;
        case DriverGroup::Impact: EXPECT_EQ(m.family, Family::Impact) << m.shortName; break;
        default: EXPECT_EQ(m.family, Family::Inkjet) << m.shortName; break;
        }
        EXPECT_EQ(m.fitted.cassettes > 0, m.family == Family::Page) << "only page printers have cassettes";
    }
}

TEST(Models, CountsFollowTheFamilyWithTheOneModelThatHasAPictureMore)
{
    EXPECT_EQ(countsOf(Family::Page).alertTypes, 10);
    EXPECT_EQ(countsOf(Family::Impact).messages, 20);
    EXPECT_EQ(model(Code::DM02).pictureCount(), 6);
    EXPECT_EQ(model(Code::DM01).pictureCount(), 7);
    EXPECT_EQ(model(Code::IJ09).pictureCount(), 9);
    for (Family f : {Family::Page, Family::Impact, Family::Inkjet}) EXPECT_LE(countsOf(f).alertTypes, kAlertSlots);
}

TEST(Models, PictureSetsAreSharedOnlyByModelsOfOneFamilyAndNeverOverlap)
{
    std::map<int, const Model*> sets;
    for (const Model& m : all()) {
        ASSERT_EQ(m.pictureSet % 10, 0) << m.shortName;
        ASSERT_GE(m.pictureSet, 400) << m.shortName;
        ASSERT_LE(m.pictureSet, 540) << m.shortName;
        EXPECT_LE(m.pictureCount(), 10) << m.shortName << ": the set runs into the next";
        auto [it, fresh] = sets.emplace(m.pictureSet, &m);
        if (!fresh) {
            EXPECT_EQ(it->second->family, m.family) << m.shortName;
            EXPECT_EQ(it->second->pictureCount(), m.pictureCount()) << m.shortName;
        }
    }
    EXPECT_EQ(sets.size(), 15u);
    EXPECT_EQ(model(Code::PG06).pictureSet, 480);
    EXPECT_EQ(model(Code::DM01).pictureSet, 500);
}

TEST(Models, EngineRulesKeyOnTheDriverNameExactly)
{
    EXPECT_EQ(byNamePrefix("VELTA IJ-03"), &model(Code::IJ03));
    EXPECT_EQ(byNamePrefix("VELTA IJ-03 (copy)"), &model(Code::IJ03));
    EXPECT_EQ(byNamePrefix("velta ij-03"), nullptr) << "case matters here";
    EXPECT_EQ(byNamePrefix("VELTA IJ-0"), nullptr);
    EXPECT_TRUE(model(Code::IJ09).gapQuery);
    EXPECT_TRUE(model(Code::IJ03).refusedBehindQueue);
    std::set<std::string> extended;
    for (const Model& m : all()) {
        if (needsExtendedRequestBehindQueue(m.name)) extended.insert(m.shortName);
    }
    EXPECT_EQ(extended, (std::set<std::string>{"IJ-11", "PG-02", "PG-04", "PG-06"}));
    // The rule names five drivers; one of them has no row in the model table.
    EXPECT_EQ(byName("VELTA DM-03"), nullptr);
    EXPECT_TRUE(needsExtendedRequestBehindQueue("velta dm-03"));
    EXPECT_FALSE(needsExtendedRequestBehindQueue("VELTA DM-03 (copy)"));
}

TEST(Models, ThePrinterSetupLibraryIsGivenTheModelsDriverFile)
{
    EXPECT_EQ(setupDriverFile(0), "KDRV01.DRV");
    EXPECT_EQ(setupDriverFile(2), "KDRV02.DRV");
    EXPECT_EQ(setupDriverFile(3), "KDRV03.DRV");
    EXPECT_EQ(setupDriverFile(13), "KDRV03.DRV");
    EXPECT_EQ(setupDriverFile(7), "KDRV05.DRV");
    EXPECT_EQ(setupDriverFile(17), "KDRV13.DRV");
    EXPECT_EQ(setupDriverFile(20), "KDRV01.DRV");
    EXPECT_EQ(setupDriverFile(21), "");
    EXPECT_EQ(setupDriverFile(0xFFFFFFFF), "");
}
