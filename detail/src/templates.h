#pragma once
// The window templates compiled into the program (":/ui/NNNN.ui").

#include <QWidget>
#include <memory>

namespace watchpanel {

// The widget tree of template `number`, or null (and a trace text) when it is missing or broken.
std::unique_ptr<QWidget> loadTemplate(int number, QWidget* parent = nullptr);

}  // namespace watchpanel
