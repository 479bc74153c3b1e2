#include "plat/base/message_box.h"

#include <cstdio>
#include <mutex>

namespace plat {
namespace {

std::mutex handlerMutex;
MessageBoxHandler& handler()
{
    static auto* installed = new MessageBoxHandler();  // outlives static destruction
    return *installed;
}

}  // namespace

void messageBox(const std::string& caption, const std::string& text, void* owner)
{
    MessageBoxHandler current;
    {
        std::lock_guard lock(handlerMutex);
        current = handler();
    }
    if (current) {
        current({caption, text, owner});
        return;
    }
    std::fprintf(stderr, "[%s] %s\n", caption.c_str(), text.c_str());
}

void setMessageBoxHandler(MessageBoxHandler newHandler)
{
    std::lock_guard lock(handlerMutex);
    handler() = std::move(newHandler);
}

}  // namespace plat
