#include "plat/base/message_box.h"

#include <dlfcn.h>

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
    using Hook = void (*)(const char*, const char*, void*);
    static const auto hook = reinterpret_cast<Hook>(::dlsym(RTLD_DEFAULT, "kestrelMessageBoxHook"));
    if (hook != nullptr) {
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
