#pragma once
// The velta URIs and the devices they name: "velta://VELTA/PG-03?serial=A1" names a USB printer by its
// identity (plat/port/device_id.h), found among the printer nodes by its device ID when a job starts;
// "velta:/dev/usb/lp0" names a node, and "velta:/path/to/socket" a simulated printer. Discovery lists
// the VELTA printers among the nodes by identity.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velta {

// The device path of a velta URI ("velta:/path" or "velta:///path", %XX decoded). Nothing for
// another scheme, a relative or empty path, a host part, a query or fragment, a control character,
// a ".." or "." component, or a path longer than PATH_MAX.
std::optional<std::string> devicePathOf(std::string_view uri);

// The URI of a device path, with every byte outside [A-Za-z0-9/._~-] written %XX.
std::string uriOf(std::string_view path);

// The line a backend prints for a device found at `uri`:
//   direct velta://VELTA/PG-03?serial=A1 "VELTA PG-03" "VELTA PG-03 USB" "MFG:VELTA;MDL:PG-03;..." ""
// Nothing when the device ID names no VELTA model.
std::optional<std::string> discoveryLine(std::string_view uri, std::string_view deviceId);

struct Found {
    std::vector<std::string> lines;  // discovery lines, in device order
    std::vector<std::string> notes;  // why a device was left out
};
// Looks at the "lp*" entries of `folder` (lp0, lp1, ... in number order; a socket among them is a
// simulated printer). Each VELTA printer is listed by its identity; printers that nothing tells apart
// (the same model, no serial numbers) are listed by their node.
Found discover(const std::string& folder);

}  // namespace velta
