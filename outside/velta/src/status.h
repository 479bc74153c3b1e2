#pragma once
// What the velta backend says to a printer and what it makes of the answers: the status-enable and
// ink-query commands of each model, and a status reply turned into printer-state-reasons and marker
// levels. The reasons come from a small table per family, shared through facts/; the detail program's
// full decoding stays in the common services library, which the backend does not link.

#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "facts/models.h"
#include "facts/state_keywords.h"

namespace velta {

// The reading of a reply is shared with the detail program and the tools (facts/state_keywords.h).
using facts::Decoded;
using facts::kMaxReply;
using facts::Marker;
using facts::VendorReason;
using facts::vendorReasons;
namespace reason = facts::reason;

// Decodes a status reply of `model`; `inkText` is the edited ink reply for the models that report
// ink apart (empty otherwise, or while none came).
inline Decoded decode(const facts::Model& model, std::string_view reply, std::string_view inkText)
{
    return facts::decodeStatusReply(model, reply, inkText);
}

// The command that makes the printer report its status (the page printers' job-language request;
// the others' remote-mode "ST" with the model's mode).
std::string statusEnableCommand(const facts::Model& model);
// The ink query of the models that report ink apart; empty for the others.
std::string inkQueryCommand(const facts::Model& model);
// The ink reply as the store keeps it: replies of exactly 22 or 38 bytes as they are; otherwise the
// two counter bytes behind each "IQ:" are dropped.
std::string editInkReply(std::string_view reply);

// The model a device ID names ("MFG:VELTA;MDL:PG-03;..."), or null when it names none of ours.
const facts::Model* modelOfDeviceId(std::string_view deviceId);

}  // namespace velta
