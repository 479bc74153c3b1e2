#include "replies.h"

#include <vector>

#include "status.h"

namespace velta {

void splitReplies(const std::string& text, std::string& status, std::string& ink)
{
    std::vector<std::size_t> heads;
    for (std::size_t at = 0; at < text.size(); ++at) {
        if (text.compare(at, 5, "@BDC ") == 0 || text.compare(at, 5, "@KJL ") == 0) heads.push_back(at);
    }
    if (heads.empty() || heads.front() != 0) heads.insert(heads.begin(), 0);
    bool found = false;
    for (std::size_t i = 0; i < heads.size(); ++i) {
        const std::size_t end = i + 1 < heads.size() ? heads[i + 1] : text.size();
        std::string part = text.substr(heads[i], end - heads[i]);
        if (part.find("ST:") != std::string::npos || part.find("STATUS CODE=") != std::string::npos) {
            status = part;
            found = true;
        } else if (part.find("IQ:") != std::string::npos) {
            ink = editInkReply(part);
            found = true;
        }
    }
    if (!found) status = text;
}

}  // namespace velta
