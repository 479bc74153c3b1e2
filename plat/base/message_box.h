#pragma once
// Message boxes asked for by code that has no window of its own (the engine, the platform layer).
//
// Where a box goes, first match wins:
// 1. a handler installed with setMessageBoxHandler() in this copy of the platform layer (tests);
// 2. the process-wide hook: a program that shows boxes defines
//        extern "C" void kestrelMessageBoxHook(const char* caption, const char* text, void* owner);
//    and exports it (CMake ENABLE_EXPORTS). Every library of the process finds it at run time, so a
//    box asked for inside libwatchcore.so or libvigil.so reaches the program's GUI thread although
//    each of them carries its own copy of this layer;
// 3. stderr; also instead of the hook when the environment says KESTREL_MESSAGE_BOXES=stderr.

#include <functional>
#include <string>

namespace plat {

struct MessageBox {
    std::string caption;
    std::string text;
    void* owner = nullptr;  // the window the box belongs to (a QWidget*), or none
};

using MessageBoxHandler = std::function<void(const MessageBox&)>;

// Shows (or reports) the box; returns when the handler has returned.
void messageBox(const std::string& caption, const std::string& text, void* owner = nullptr);

// Installs `handler` for the whole process; an empty handler restores the stderr default.
void setMessageBoxHandler(MessageBoxHandler handler);

}  // namespace plat
