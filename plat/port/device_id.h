#pragma once
// A printer named by what it is rather than by the node the kernel gave it: the identity in its
// IEEE 1284 device ID (maker, model, serial number), the print system's URI for it
// ("velta://VELTA/PG-03?serial=A1B2"), the port-map target that finds its current node
// ("id:/dev/usb?mfg=VELTA&mdl=PG-03&sn=A1B2"), and the search through a folder of printer nodes. The
// kernel numbers /dev/usb/lpN in the order printers appear, so after a replug or a reboot lp0 may be
// another printer; the identity stays.
//
// Plain functions without the store, so the velta backend compiles this file in as it is.

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace plat::port {

struct DeviceIdentity {
    std::string make, model;
    std::string serial;  // empty when the printer reports none
    bool operator==(const DeviceIdentity&) const = default;
};

// The identity in a device ID: MFG or MANUFACTURER, MDL or MODEL, and SN, SERN or SERIALNUMBER when
// present (keys without regard to case, values trimmed of blanks). Nothing without a maker and a model.
std::optional<DeviceIdentity> identityOf(std::string_view deviceId);

// Whether a printer whose device ID gives `found` is the one `wanted` names: the same maker and model
// (without regard to case) and, when `wanted` has a serial number, the same serial number.
bool isSamePrinter(const DeviceIdentity& wanted, const DeviceIdentity& found);

// "velta://MAKE/MODEL" and "velta://MAKE/MODEL?serial=SERIAL", every byte outside [A-Za-z0-9._~-]
// written %XX.
std::string uriOfIdentity(const DeviceIdentity& identity);
// The identity a velta://MAKE/MODEL[?serial=SERIAL] URI names; nothing for any other form (a path
// URI such as velta:/dev/usb/lp0 included), an empty maker or model, other query fields, or a control
// character.
std::optional<DeviceIdentity> identityOfUri(std::string_view uri);

// The port-map target that opens the printer with `identity` among the nodes of `folder`.
std::string targetOfIdentity(const std::string& folder, const DeviceIdentity& identity);
struct IdentifiedTarget {
    std::string folder;
    DeviceIdentity identity;
};
// An "id:FOLDER?mfg=...&mdl=...[&sn=...]" target; nothing for any other.
std::optional<IdentifiedTarget> parseIdentityTarget(std::string_view target);

// The printer nodes of `folder`: its "lp*" entries in number order (lp2 before lp10), at most 256.
std::vector<std::string> printerNodes(const std::string& folder);

// What a search through the nodes found: the nodes whose device ID names the printer, and the nodes
// whose ID could not be read (held by another program, say), which might be it.
struct Search {
    std::vector<std::string> matches;
    std::vector<std::string> unreadable;
};
// Reads the device ID of every node of `folder` with `readId` (nothing when it cannot be read) and
// keeps those that are the printer `wanted` names.
Search findPrinter(const std::string& folder, const DeviceIdentity& wanted,
                   const std::function<std::optional<std::string>(const std::string& node)>& readId);

}  // namespace plat::port
