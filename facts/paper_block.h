#pragma once
// The paper block: the 128 32-bit words in which the status decoding leaves what a printer reported of
// its paper sources and consumables, and from which the status and information pages show them.
// Presence words are 0 or 1; bands are small levels, 0 = empty; words not named here are unused.

namespace facts::paper {

inline constexpr int kWords = 128;
inline constexpr int kUnknownSize = 152;  // the paper-size index of "not known"

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

}  // namespace facts::paper
