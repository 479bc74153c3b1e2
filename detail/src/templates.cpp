#include "templates.h"

#include <QFile>
#include <string>

#include "plat/base/trace.h"
#include "plat/gui/form_loader.h"

namespace watchpanel {

std::unique_ptr<QWidget> loadTemplate(int number, QWidget* parent)
{
    QFile file(QStringLiteral(":/ui/%1.ui").arg(number));
    std::unique_ptr<QWidget> form(file.open(QIODevice::ReadOnly) ? plat::gui::loadForm(&file, parent) : nullptr);
    if (!form) plat::trace("watchpanel: template " + std::to_string(number) + " does not load");
    return form;
}

}  // namespace watchpanel
