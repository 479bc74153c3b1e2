#pragma once
// Status decoding: a printer's status reply turned into what the windows show, the status level,
// message, picture and alert of the PrinterEntry and the words of the paper and information blocks.
// Pure functions of the reply (and, for the inkjets that report ink apart, their ink text); the
// registry read and the change test are iGetStatus's.
//
// A code field is two upper-case hexadecimal characters at a fixed place; a field that lies wholly or
// partly behind the end of the reply is unreadable.

#include <cstdint>
#include <optional>
#include <string_view>

#include "facts/paper_block.h"
#include "watchcore.h"

namespace watchcore {

inline constexpr int kPaperWords = facts::paper::kWords;
using facts::paper::kInformationWords;

// The byte of the code field at `at`, or nothing when it is unreadable.
std::optional<int> codeField(std::string_view reply, std::size_t at);

// Family 0. False when the reply has no "STATUS CODE=" or its status code is unreadable.
bool decodePageReply(std::string_view reply, PrinterEntry& entry, std::int32_t* paper, std::int32_t* information);
// The state of impact and inkjet printers: "ST:", then "ER:" or "TP:"; sets level, message,
// picture, alert and the ink-name flag.
void decodeState(std::string_view reply, bool impact, std::uint32_t model, PrinterEntry& entry);
// Family 1: the state, then the "CD:" paper entries and width and the "PP:" tractor. Always succeeds.
bool decodeImpactReply(std::string_view reply, PrinterEntry& entry, std::int32_t* paper);

// Family 2: the state, then the ink behind "IQ:" (in `inkText`: the status reply itself, or for the
// models that report ink apart their "InkLevel" text) and the warnings behind "WR:". False when the
// ink text has no "IQ:".
bool decodeInkjetReply(std::string_view reply, std::string_view inkText, PrinterEntry& entry, std::int32_t* paper);

// Whether the model reports its ink apart from the status reply (IJ-03 and IJ-01).
bool inkReportedApart(std::uint32_t model);

}  // namespace watchcore
