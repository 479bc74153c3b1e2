#pragma once
// Replaces a file in one step, so that a reader (node_exporter's textfile collector) sees the old text
// or the new one, never a part.

#include <filesystem>
#include <string>
#include <string_view>

namespace kestrel_status {

// Writes `text` to a new file of an unpredictable name beside `file` (made with O_EXCL, hidden, not
// ending in ".prom"), gives it mode 0644 and renames it over `file`. False with `why` set when any step
// fails; the temporary file is then removed.
bool replaceFile(const std::filesystem::path& file, std::string_view text, std::string& why);

}  // namespace kestrel_status
