#include "plat/base/message_box.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string_view>

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
    // Set for programs run by tests and scripts, where nobody is there to close a box.
    static const bool toStderr = [] {
        const char* where = std::getenv("KESTREL_MESSAGE_BOXES");
        return where != nullptr && std::string_view(where) == "stderr";
    }();
    using Hook = void (*)(const char*, const char*, void*);
    static const auto hook = reinterpret_cast<Hook>(::dlsym(RTLD_DEFAULT, "kestrelMessageBoxHook"));
    if (hook != nullptr && !toStderr) {
        hook(caption.c_str(), text.c_str(), owner);
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
