#pragma once
// Reading a printer shortcut made by fCreateShortCutFile: a fixed 120-byte head (a link header and the
// item ids of the computer and printers folders) followed by the printer's name and three zero bytes.

#include <string>
#include <string_view>

#include "plat/base/result.h"

namespace queue {

enum class ShortcutFailure : int {
    Unreadable = 1,  // cannot be opened or read, or is not a regular file
    NotOurs,         // too short, too long or not the layout we write
};

// The printer the shortcut at `path` names. Reads at most a few hundred bytes, whatever the file's size.
plat::Result<std::string> readPrinterShortcut(const std::string& path);

// The printer a shortcut's bytes name; `path` only labels the failure.
plat::Result<std::string> parsePrinterShortcut(std::string_view bytes, const std::string& path);

}  // namespace queue
