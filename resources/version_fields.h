#pragma once
// The five version fields of an About box: each field's template text is the key it shows
// (CompanyName, FileDescription, FileVersion, LegalCopyright, LegalTrademarks), the last one in bold.

#include <QLabel>
#include <QString>

#include "resources/version.h"

namespace kestrel {

// Fills the labels named c<first> .. c<first + 4> of `dialog`; a missing label is skipped. `description`
// and `trademark` are the program's own, in the language in use.
inline void fillVersionFields(QWidget* dialog, int first, const QString& description, const QString& trademark)
{
    for (int n = first; n < first + 5; ++n) {
        auto* label = dialog->findChild<QLabel*>(QStringLiteral("c%1").arg(n));
        if (label == nullptr) continue;
        if (auto value = versionString(label->text(), description, trademark)) label->setText(*value);
        if (n == first + 4) {
            QFont bold = label->font();
            bold.setBold(true);
            bold.setPointSize(8);
            label->setFont(bold);
        }
    }
}

}  // namespace kestrel
