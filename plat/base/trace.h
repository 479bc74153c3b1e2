#pragma once
// The trace hook. Debug texts of every layer go here; nothing depends on them. It discards them unless
// the environment says KESTREL_TRACE=1, then each text becomes one line on stderr with the process id.

#include <string_view>

namespace plat {

void trace(std::string_view text);

// True when trace texts are printed; lets callers skip building an expensive text.
bool traceEnabled();

}  // namespace plat
