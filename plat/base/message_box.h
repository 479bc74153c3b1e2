#pragma once
// Message boxes asked for by code that has no window of its own (the engine, the platform layer).
// A windowing layer installs a handler that shows the box on its GUI thread; without one the text
// goes to stderr. Tests install a handler that records the boxes instead of showing them.

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
