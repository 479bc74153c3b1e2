#include "facts/models.h"

#include <cctype>
#include <utility>

namespace facts {
namespace {

using enum Code;
constexpr Family kPage = Family::Page, kImpact = Family::Impact, kInkjet = Family::Inkjet;

// Page printers as built: cassettes, photoconductor, option card slots.
constexpr Fitted kTwoCassettes{2, false, 2}, kOneCassette{1, true, 2}, kThreeCassettes{3, false, 2};

// The later inkjets take their low-ink state from the printer's warnings.
constexpr InkRules kLaterInk{.warningBands = true};

Model row(Code code, const char* shortName, const char* name, Family family, DriverGroup group, const char* driverFile,
          const char* monitor, const char* informationFile)
{
    return Model{code, shortName, name, family, group, driverFile, monitor, informationFile};
}

// Built on first use, so a static initialiser elsewhere that asks for a model finds the table made.
std::array<Model, kModelCount> makeModels()
{
    using G = DriverGroup;
    std::array<Model, kModelCount> m{{
        row(PG03, "PG-03", "VELTA PG-03", kPage, G::Page, "KDRV01.DRV", "KMON01.DLL", "PG03.DAT"),
        row(PG01, "PG-01", "VELTA PG-01", kPage, G::Page, "KDRV01.DRV", "KMON01.DLL", "PG01.DAT"),
        row(IJ03, "IJ-03", "VELTA IJ-03", kInkjet, G::IJ03, "KDRV02.DRV", "KMON02.DLL", "IJ03.DAT"),
        row(IJ09, "IJ-09", "VELTA IJ-09", kInkjet, G::LaterInkjet, "KDRV03.DRV", "KMON03.DLL", "IJ09.DAT"),
        row(IJ06, "IJ-06", "VELTA IJ-06", kInkjet, G::LaterInkjet, "KDRV04.DRV", "KMON03.DLL", "IJ06.DAT"),
        row(IJ10, "IJ-10", "VELTA IJ-10", kInkjet, G::LaterInkjet, "KDRV04.DRV", "KMON03.DLL", "IJ10.DAT"),
        row(DM02, "DM-02", "VELTA DM-02", kImpact, G::Impact, "KDRV05.DRV", "KMON08.DLL", "DM02.DAT"),
        row(DM04, "DM-04", "VELTA DM-04", kImpact, G::Impact, "KDRV05.DRV", "KMON08.DLL", "DM04.DAT"),
        row(PG05, "PG-05", "VELTA PG-05", kPage, G::Page, "KDRV01.DRV", "KMON01.DLL", "PG05.DAT"),
        row(IJ01, "IJ-01", "VELTA IJ-01", kInkjet, G::IJ01, "KDRV06.DRV", "", "IJ01.DAT"),
        row(IJ02, "IJ-02", "VELTA IJ-02", kInkjet, G::LaterInkjet, "KDRV07.DRV", "KMON03.DLL", "IJ02.DAT"),
        row(IJ04, "IJ-04", "VELTA IJ-04", kInkjet, G::LaterInkjet, "KDRV08.DRV", "KMON03.DLL", "IJ04.DAT"),
        row(DM01, "DM-01", "VELTA DM-01", kImpact, G::Impact, "KDRV09.DRV", "KMON08.DLL", "DM01.DAT"),
        row(IJ08, "IJ-08", "VELTA IJ-08", kInkjet, G::LaterInkjet, "KDRV03.DRV", "KMON03.DLL", "IJ08.DAT"),
        row(IJ07, "IJ-07", "VELTA IJ-07", kInkjet, G::LaterInkjet, "KDRV10.DRV", "KMON04.DLL", "IJ07.DAT"),
        row(IJ05, "IJ-05", "VELTA IJ-05", kInkjet, G::LaterInkjet, "KDRV11.DRV", "KMON05.DLL", "IJ05.DAT"),
        row(IJ12, "IJ-12", "VELTA IJ-12", kInkjet, G::LaterInkjet, "KDRV12.DRV", "KMON06.DLL", "IJ12.DAT"),
        row(IJ11, "IJ-11", "VELTA IJ-11", kInkjet, G::LaterInkjet, "KDRV13.DRV", "KMON07.DLL", "IJ11.DAT"),
        row(PG04, "PG-04", "VELTA PG-04", kPage, G::Page, "KDRV01.DRV", "KMON01.DLL", "PG04.DAT"),
        row(PG02, "PG-02", "VELTA PG-02", kPage, G::Page, "KDRV01.DRV", "KMON01.DLL", "PG02.DAT"),
        row(PG06, "PG-06", "VELTA PG-06", kPage, G::Page, "KDRV01.DRV", "KMON01.DLL", "PG06.DAT"),
    }};
    auto at = [&m](Code code) -> Model& { return m[static_cast<std::size_t>(code)]; };

    for (Code c : {PG03, PG05, PG04}) at(c).fitted = kTwoCassettes;
    for (Code c : {PG01, PG02}) at(c).fitted = kOneCassette;
    at(PG06).fitted = kThreeCassettes;

    for (Code c : {IJ07, IJ05, IJ12, IJ11}) at(c).ink = kLaterInk;
    for (Code c : {IJ03, IJ01}) at(c).ink.reportedApart = true;
    for (Code c : {IJ09, IJ01, IJ02, IJ08}) at(c).ink.unknownWhenColourUnreadable = true;
    for (Code c : {IJ01, IJ02}) at(c).ink.unknownWhenBlackUnreadable = true;
    for (Code c : {IJ09, IJ08}) at(c).ink.blackLowAt = 3;
    for (Code c : {IJ07, IJ11}) at(c).ink.threeZerosUnknown = true;
    at(IJ12).ink.colourFields = 5;

    for (Code c : {IJ01, IJ02, IJ04, IJ07, IJ05, IJ12}) at(c).lptOnly = true;
    at(IJ01).spoolManagerPorts = true;
    for (Code c : {IJ08, IJ09, DM04}) at(c).statusEnableMode3 = true;
    at(IJ09).gapQuery = true;
    at(IJ03).refusedBehindQueue = true;
    at(IJ01).despoolerOnly = true;
    at(DM01).coverOpenPicture = 6;
    at(DM01).extraPictures = 1;
    at(IJ11).coverOpenPicture = 8;
    for (Code c : {DM02, DM04}) at(c).raisedPaperWidth = true;

    // Models of one body share their pictures.
    constexpr std::pair<Code, std::uint16_t> kPictureSets[] = {
        {PG03, 400}, {PG04, 400}, {PG01, 410}, {PG02, 410}, {IJ03, 420}, {IJ04, 420}, {IJ09, 430},
        {IJ08, 430}, {IJ06, 440}, {IJ10, 450}, {DM02, 460}, {DM04, 470}, {PG05, 480}, {PG06, 480},
        {IJ01, 490}, {IJ02, 490}, {DM01, 500}, {IJ07, 510}, {IJ05, 520}, {IJ12, 530}, {IJ11, 540},
    };
    for (auto [c, set] : kPictureSets) at(c).pictureSet = set;
    return m;
}

const std::array<Model, kModelCount>& models()
{
    static const std::array<Model, kModelCount> table = makeModels();
    return table;
}

bool sameIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

template <class Field>
const Model* find(std::string_view wanted, Field field)
{
    for (const Model& m : models()) {
        if (sameIgnoringCase(m.*field, wanted)) return &m;
    }
    return nullptr;
}

}  // namespace

FamilyCounts countsOf(Family family)
{
    switch (family) {
    case Family::Page: return {10, 7, 41};
    case Family::Impact: return {7, 6, 20};
    case Family::Inkjet: return {9, 9, 20};
    }
    return {0, 0, 0};
}

std::uint16_t Model::pictureCount() const
{
    return static_cast<std::uint16_t>(countsOf(family).pictures + extraPictures);
}

std::span<const Model, kModelCount> all() { return models(); }

const Model& model(Code code) { return models()[static_cast<std::size_t>(code)]; }

const Model* byNumber(std::uint32_t number) { return number < kModelCount ? &models()[number] : nullptr; }

const Model* byName(std::string_view driverName) { return find(driverName, &Model::name); }

const Model* byShortName(std::string_view shortName) { return find(shortName, &Model::shortName); }

bool needsExtendedRequestBehindQueue(std::string_view driverName)
{
    static constexpr const char* kDrivers[] = {"VELTA IJ-11", "VELTA PG-02", "VELTA PG-04", "VELTA PG-06",
                                               "VELTA DM-03"};
    for (const char* name : kDrivers) {
        if (sameIgnoringCase(name, driverName)) return true;
    }
    return false;
}

std::string_view setupDriverFile(std::uint32_t number)
{
    const Model* m = byNumber(number);
    return m != nullptr ? m->driverFile : "";
}

const Model* byNamePrefix(std::string_view text)
{
    for (const Model& m : models()) {
        if (text.starts_with(m.name)) return &m;
    }
    return nullptr;
}

}  // namespace facts
