#pragma once
// The backend's answers on the side channel, where the job's filters ask about the printer: its
// device ID, its state, whether it talks back and whether it is connected.

#include <cups/sidechannel.h>

#include <string>
#include <string_view>

#include "facts/models.h"

namespace velta {

struct SideChannelAnswer {
    cups_sc_status_t status = CUPS_SC_STATUS_NOT_IMPLEMENTED;
    std::string data;
};

// The answer to `command`, for a printer with `deviceId` (empty: it gave none) in `state`
// (sideChannelState). A command the backend does not serve is answered "not implemented".
SideChannelAnswer sideChannelAnswer(cups_sc_command_t command, std::string_view deviceId, int state);

// The printer's state bits (CUPS_SC_STATE_*) from its last status reply and ink reply; online when
// its model or status is not known, offline while it takes nothing (`stalled`).
int sideChannelState(const facts::Model* model, std::string_view reply, std::string_view ink, bool stalled);

}  // namespace velta
