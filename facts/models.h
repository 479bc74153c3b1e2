#pragma once
// The 21 printer models the system knows, once: what the spooler calls them, what they report, which
// family they belong to, what is fitted, and the few places where one model behaves unlike its
// family. The row index is the system's model number (ModelCode 0..20), used by every program.
//
// Three numberings of the printer family meet here, each with its own type: the family of a
// PrinterEntry (what the windows and the decoder key on), the engine's family argument, and the
// driver group of the model table. Convert between them only with the functions below.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace facts {

// PrinterEntry::PrinterFamily.
enum class Family : std::uint32_t { Page = 0, Impact = 1, Inkjet = 2 };
// The engine's family argument (CreateVigilmonInitialize).
enum class EngineFamily : std::uint32_t { Page = 1, Inkjet = 2, Impact = 3 };
// The model table's driver group; carried in the table only, nothing branches on it.
enum class DriverGroup : std::int32_t { Page = 1, IJ03 = 2, LaterInkjet = 3, Impact = 4, IJ01 = 5 };

constexpr EngineFamily engineFamilyOf(Family family)
{
    switch (family) {
    case Family::Page: return EngineFamily::Page;
    case Family::Impact: return EngineFamily::Impact;
    case Family::Inkjet: return EngineFamily::Inkjet;
    }
    return EngineFamily::Page;
}

// The entry's family for a raw PrinterFamily value, nothing for a value no family has.
constexpr std::optional<Family> familyOf(std::uint32_t raw)
{
    if (raw > static_cast<std::uint32_t>(Family::Inkjet)) return std::nullopt;
    return static_cast<Family>(raw);
}

// The engine's family for a raw family argument, nothing for a value no family has.
constexpr std::optional<EngineFamily> engineFamilyOf(std::uint32_t raw)
{
    if (raw < 1 || raw > 3) return std::nullopt;
    return static_cast<EngineFamily>(raw);
}

// What the detail window counts per family: alert types, pictures in a picture set, messages in the
// status message table.
struct FamilyCounts {
    std::uint16_t alertTypes;
    std::uint16_t pictures;
    std::uint16_t messages;
};
inline constexpr std::uint16_t kAlertSlots = 11;  // storage for alert types, whatever the family has
FamilyCounts countsOf(Family family);

// How an inkjet reads its ink levels (the decoder's rules for one model).
struct InkRules {
    int colourFields = 3;                      // colour fields behind the black one in "IQ:"
    bool reportedApart = false;                // ink comes from the ink query ("InkLevel"), not the status reply
    bool unknownWhenColourUnreadable = false;  // an unreadable colour field means "not known", not "empty"
    bool unknownWhenBlackUnreadable = false;
    int blackLowAt = 9;              // the black level at or below which ink is low
    bool warningBands = false;       // later models: bands from level 1, low ink from the "WR:" warnings
    bool threeZerosUnknown = false;  // three readable colour zeros mean "not known"
};

// What a printer of the model has fitted; the simulator plays it and the pictures show it.
struct Fitted {
    int cassettes = 0;            // page printers: paper cassettes besides the tray
    bool photoconductor = false;  // page printers: a photoconductor unit that reports its life
    int cardSlots = 0;            // page printers: option card slots
};

// The model numbers, in the order of the table.
// clang-format off
enum class Code : std::uint32_t {
    PG03, PG01, IJ03, IJ09, IJ06, IJ10, DM02, DM04, PG05, IJ01, IJ02,
    IJ04, DM01, IJ08, IJ07, IJ05, IJ12, IJ11, PG04, PG02, PG06,
};
// clang-format on

struct Model {
    Code code;
    const char* shortName;  // what the printer reports after "MDL:"
    const char* name;       // the spooler's driver name
    Family family;
    DriverGroup group;
    const char* driverFile;
    const char* monitor;          // the language monitor's library; empty for IJ-01
    const char* informationFile;  // the printer data file name
    bool lptOnly = false;         // prints only through a local parallel port
    Fitted fitted = {};
    InkRules ink = {};
    // Exceptions to the family's rules.
    bool spoolManagerPorts = false;      // its ports may belong to the maker's spool manager (IJ-01)
    bool statusEnableMode3 = false;      // the status-enable command asks for mode 3
    bool gapQuery = false;               // answers the extended (gap) query
    bool refusedBehindQueue = false;     // behind a NetWare queue it cannot be monitored (IJ-03)
    bool despoolerOnly = false;          // read only through its driver's despooler, never directly
    std::uint16_t coverOpenPicture = 0;  // a cover-open picture of its own, 0 for the family's
    std::uint16_t extraPictures = 0;     // pictures beyond the family's count
    bool raisedPaperWidth = false;       // reports the continuous paper width 255 higher
    std::uint16_t pictureSet = 0;        // the first picture of the model's picture set (400, 410, ...)

    std::uint32_t number() const { return static_cast<std::uint32_t>(code); }
    EngineFamily engineFamily() const { return engineFamilyOf(family); }
    std::uint16_t pictureCount() const;
};

inline constexpr std::size_t kModelCount = 21;

// Every model, in model-number order.
std::span<const Model, kModelCount> all();
const Model& model(Code code);
// The model of a model number, nothing above 20.
const Model* byNumber(std::uint32_t number);
// By the spooler's driver name, compared whole and without regard to case.
const Model* byName(std::string_view driverName);
// By the short name a printer reports, compared whole and without regard to case.
const Model* byShortName(std::string_view shortName);

// Whether a printer with this driver name is monitored behind a NetWare queue only when its network
// interface offers the extended request. The rule names drivers, compared whole and without regard to
// case, not models: "VELTA DM-03" is one of them although the model table has no row for it.
bool needsExtendedRequestBehindQueue(std::string_view driverName);

// The driver file the printer-setup library is given for a model number: the model's own driver file,
// empty above the table.
std::string_view setupDriverFile(std::uint32_t number);

// The model whose driver name `text` begins with, case included (the engine's ink and gap queries key
// on this). No driver name begins another, so at most one model fits.
const Model* byNamePrefix(std::string_view text);

}  // namespace facts
