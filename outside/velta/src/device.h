#pragma once
// The velta URI and the devices it names: "velta:/dev/usb/lp0" for a USB printer, or the path of a
// simulated printer's socket. Discovery lists the VELTA printers among the usblp devices.

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

// The line a backend prints for a device found:
//   direct velta:/dev/usb/lp0 "VELTA PG-03" "VELTA PG-03 USB" "MFG:VELTA;MDL:PG-03;..." ""
// Nothing when the device ID names no VELTA model.
std::optional<std::string> discoveryLine(std::string_view path, std::string_view deviceId);

struct Found {
    std::vector<std::string> lines;  // discovery lines, in device order
    std::vector<std::string> notes;  // why a device was left out
};
// Looks at the "lp*" entries of `folder` (lp0, lp1, ... in number order).
Found discover(const std::string& folder);

}  // namespace velta
