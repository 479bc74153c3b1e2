#pragma once
// What the printer sends back while the backend prints (the back channel): one read may bring several
// replies ("@BDC IQ..." and "@BDC ST..."). This picks out the status reply and the ink reply.

#include <string>

namespace velta {

// Sets `status` to the status reply among what one read brought and `ink` to the edited ink reply
// (editInkReply); leaves either as it was when the read has none. A read without the usual heads is
// the status reply as a whole.
void splitReplies(const std::string& text, std::string& status, std::string& ink);

}  // namespace velta
