#pragma once
// The two blocks in which the status decoding leaves what a printer reported, named word by word:
//
// - the paper block, 128 32-bit words: its paper sources and consumables, which the status and
//   information pages show. Presence words are 0 or 1; bands are small levels, 0 = empty.
// - the information flags block, 64 32-bit words: what a page printer reported of its configuration,
//   which the information page lists and the driver configuration hands to the maker's drivers.
//
// Words not named here are unused.

namespace facts::paper {

inline constexpr int kWords = 128;
inline constexpr int kUnknownSize = 152;   // the paper-size index of "not known"
inline constexpr int kUnknownLevel = 255;  // an ink level word the printer has not told

enum Word : int {
    // page printers
    kTrayExists = 0,
    kTrayValid = 1,  // fitted: its size and level are known
    kTrayBand = 2,   // 0..4
    kTrayLevel = 3,  // percent
    kTraySize = 4,
    kCassetteCount = 6,  // 0..3
    kCassetteValid = 7,  // 7..9, one per cassette
    kCassetteBand = 11,
    kCassetteLevel = 15,
    kCassetteSize = 19,
    kTonerExists = 27,
    kTonerValid = 28,
    kTonerBand = 29,
    kTonerLevel = 30,
    kPhotoCount = 57,
    kPhotoValid = 58,
    kPhotoBand = 60,
    kPhotoLevel = 62,
    // inkjet printers
    kColorCount = 38,
    kColorValid = 39,
    kColorBand = 41,  // 0..5
    kColorLevel = 43,
    kColorWarning = 45,
    kBlackCount = 47,
    kBlackValid = 48,
    kBlackBand = 50,  // 0..5
    kBlackLevel = 52,
    kBlackWarning = 54,
    kInkColourIndex = 56,  // the ink a message names: 0 ink, 1 black, 2 colour
    // impact printers
    kManualFeedExists = 64,
    kManualFeedSize = 68,
    kBinCount = 70,  // 0..3
    kBinValid = 71,  // 71..73
    kBinSize = 83,   // 83..85
    kTractorExists = 91,
    kTractorShown = 92,
    kPaperRowsHint = 96,
    kPaperWidth = 97,   // continuous paper, inches; 0 = not reported
    kTractorKind = 99,  // model 12: 4 rear, 5 front push/pull
};

inline constexpr int kInformationWords = 64;

enum InformationWord : int {
    kCategoryPresent = 0,  // 0..9, one per category of the information page
    kResolutionModes = 10,
    kResolution = 11,  // the printer's resolution, from its default document settings
    kDuplex = 33,      // 0 not supported, 1 supported
    kCardSlotCount = 34,
    kCardSlots = 36,  // 36.., the content of each card slot: 0 empty, 1..9 a font card, 10 an IC card
    kInterfaceSlotCount = 41,
    kInterfaceSlots = 43,  // 43.., each option interface slot: 0 empty, 1 fitted
    kMemory = 48,          // megabytes
};

}  // namespace facts::paper
