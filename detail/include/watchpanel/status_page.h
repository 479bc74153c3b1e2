#pragma once
// What the status page shows for a printer: its picture, the status message, the recommended action and
// the explanation behind the troubleshooting button, the paper sources and the paper, toner and ink
// levels. Everything here turns the entry and the paper block into changes to numbered controls; the
// window applies them, so this part is tested without a window.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "facts/paper_block.h"
#include "printer_entry.h"

namespace watchpanel {

inline constexpr int kPaperWords = facts::paper::kWords;
using facts::paper::kInformationWords;

// Control numbers of the page, by template: #1300 page printers, #1400 impact, #1500 inkjet.
namespace status_control {
// Every family's page.
inline constexpr int kPrinterIcon = 1301, kPrinterName = 1302, kModelName = 1303, kDestination = 1304, kPicture = 1305,
                     kMessage = 1306, kAction = 1307, kTroubleshooting = 1308;
// The paper rows (page and impact printers): row 0, then rows 1..3 at the numbers after it, each a
// label, a colon, a value (a paper size or width) and, on page printers, a level bar.
inline constexpr int kPaperGroup = 1309, kPaperIcon = 1310, kRowLabel = 1311, kRowColon = 1330, kRowValue = 1315,
                     kRowBar = 1320, kPaperFull = 1336;
// Page printers.
inline constexpr int kTonerGroup = 1328, kTonerIcon = 1329, kTonerBar = 1324, kTonerFull = 1337, kPhotoGroup = 1325,
                     kPhotoIcon = 1326, kPhotoBar = 1327, kPhotoFull = 1338;
// Impact printers: the tractor's and the bins' labels (rows 0..3), and the manual feed's row.
inline constexpr int kFeederLabel = 1401, kManualFeedLabel = 1311, kManualFeedColon = 1334, kManualFeedValue = 1319;
// Inkjet printers.
inline constexpr int kColourInk = 1501, kBlackInk = 1502, kColourInkLabel = 1503, kBlackInkLabel = 1504,
                     kInkGuide = 1339;
}  // namespace status_control

// One change to one control of the page, which is found by its number.
struct ControlChange {
    enum class Kind { Visible, Enabled, Text, Picture };
    int control = 0;
    Kind kind = Kind::Text;
    bool on = false;   // Visible, Enabled
    std::string text;  // Text (UTF-8, mnemonic pairs kept)
    int picture = 0;   // Picture: its resource number

    bool operator==(const ControlChange&) const = default;
};
using Changes = std::vector<ControlChange>;

ControlChange visible(int control, bool on);
ControlChange enabled(int control, bool on);
ControlChange text(int control, std::string value);
ControlChange picture(int control, int number);

// The first string of the status message table of a family and model number; nothing for a family
// that has no table.
std::optional<int> messageBase(std::uint32_t family, std::uint32_t model);

// The status page's picture, message, action, troubleshooting and ink-guide buttons. A message or
// picture index out of range, an unknown model or family, or a missing text leaves that control as it
// was. `explanation` receives the explanation's string number when the texts change.
Changes statusChanges(const PrinterEntry& entry, const std::int32_t* paper, int* explanation = nullptr);
// The status message as the page shows it (status_control::kMessage), ink name filled in; nothing when the page
// would leave it as it was.
std::optional<std::string> statusMessage(const PrinterEntry& entry, const std::int32_t* paper);

// Which paper, toner and ink controls the page shows; set each time the status page is selected.
Changes paperVisibility(std::uint32_t family, const std::int32_t* paper);
// The paper-source labels and values. Applied in order; a control the page lacks ends the step.
Changes paperTexts(const PrinterEntry& entry, const std::int32_t* paper);
// The level pictures; a level outside the pictures' range leaves the old picture.
Changes levelPictures(std::uint32_t family, const std::int32_t* paper);
// The same levels in words, for the bars' tooltips and screen readers, so that no level is told by the
// picture alone: the percentage where the printer reports one (paper, toner and photoconductor of page
// printers), else the bar's step of its steps ("3/5" for an ink). One change per bar that levelPictures
// sets, of kind Text.
Changes levelTexts(std::uint32_t family, const std::int32_t* paper);

// Clears the paper and information blocks to their start values and presets the equipment the model
// has, so the page shows the right rows before the printer has answered.
void presetEquipment(std::uint32_t model, std::int32_t* paper, std::int32_t* information);

// The longest prefix of `text` that fits `width` together with "...", never splitting a character;
// `text` itself when it fits. `measure` gives a text's width in the control's font.
using Measure = std::function<int(std::string_view)>;
std::string shortened(std::string_view text, int width, const Measure& measure);
// The output destination: the port, or for a resolved network path "original(port)"; broken into two
// lines, the second shortened, when it is wider than `width`.
std::string outputDestination(const PrinterEntry& entry, int width, const Measure& measure);

// A text field of the entry up to its terminating zero, or the whole field when it has none.
template <std::size_t N>
std::string_view fieldText(const char (&field)[N])
{
    std::size_t n = 0;
    while (n < N && field[n] != '\0') ++n;
    return {field, n};
}

}  // namespace watchpanel
