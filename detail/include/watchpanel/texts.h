#pragma once
// Every numbered text the detail window shows, read once from the compiled-in tables.

#include <optional>
#include <string>

namespace watchpanel {

// The UTF-8 text of `number` (empty for an empty cell); nothing when no table holds it.
std::optional<std::string> text(int number);

}  // namespace watchpanel
