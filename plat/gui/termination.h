#pragma once
// SIGTERM for a program with windows: the signal only notes the request; the GUI thread then runs
// `end` as if the user had closed the program, so whatever the program does at its end still happens.

#include <QObject>
#include <functional>

namespace plat::gui {

// Installs the handler; `context` (living on the GUI thread) owns the notification.
void onTermination(QObject* context, std::function<void()> end);

}  // namespace plat::gui
