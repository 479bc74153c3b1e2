// libcfgprn32.so: a stand-in for the maker's printer-setup library. Its one entry point shows a small
// modal setup dialog for a printer; OK keeps the settings in the printer's driver data, Cancel keeps
// nothing. The detail program loads it by name at run time, so it is never linked against.

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QSpinBox>
#include <QString>
#include <QVBoxLayout>
#include <QWidget>
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string>

#include "plat/base/trace.h"
#include "plat/services/services.h"
#include "plat/spool/spooler.h"

namespace {

using plat::registry::ValueType;

// The driver-data values the dialog keeps, next to the despooler's.
constexpr const char* kPaperSize = "SetupPaperSize";
constexpr const char* kOrientation = "SetupOrientation";
constexpr const char* kCopies = "SetupCopies";

const char* const kPapers[] = {"A4", "A3", "B5", "Letter", "Legal", "Postcard"};
const char* const kOrientations[] = {"Portrait", "Landscape"};

std::string textOf(plat::spool::Spooler& spooler, const std::string& printer, const char* name)
{
    auto data = spooler.printerData(printer, name);
    if (!data) return {};
    std::string text(reinterpret_cast<const char*>(data.value().data()), data.value().size());
    if (const auto end = text.find('\0'); end != std::string::npos) text.resize(end);
    return text;
}

std::uint32_t dwordOf(plat::spool::Spooler& spooler, const std::string& printer, const char* name,
                      std::uint32_t fallback)
{
    auto data = spooler.printerData(printer, name);
    if (!data || data.value().size() != sizeof(std::uint32_t)) return fallback;
    std::uint32_t v = 0;
    std::memcpy(&v, data.value().data(), sizeof v);
    return v;
}

bool storeText(plat::spool::Spooler& spooler, const std::string& printer, const char* name, const std::string& text)
{
    const std::string stored = text + '\0';
    return spooler
        .setPrinterData(printer, name, ValueType::String, std::as_bytes(std::span(stored.data(), stored.size())))
        .ok();
}

bool storeDword(plat::spool::Spooler& spooler, const std::string& printer, const char* name, std::uint32_t v)
{
    return spooler.setPrinterData(printer, name, ValueType::Dword, std::as_bytes(std::span(&v, 1))).ok();
}

QString fromUtf8(const char* text) { return QString::fromUtf8(text != nullptr ? text : ""); }

}  // namespace

extern "C" __attribute__((visibility("default"))) std::int32_t VLSetPrin32(QWidget* owner, const char* driverFile,
                                                                           const char* printer, const char* port)
{
    if (printer == nullptr || *printer == '\0') return 0;
    // A dialog needs the host's widget application; without one Qt would abort the host.
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
        plat::trace("cfgprn32: the calling program has no widget application");
        return 0;
    }
    // The library's edge: its own services for the current system root.
    plat::Services* services = plat::edgeServices();
    auto opened = services != nullptr ? services->spooler()
                                      : plat::Result<plat::spool::Spooler*>(plat::Error{1, "the store does not open"});
    if (!opened) {
        plat::trace("cfgprn32: no spooler: " + opened.error().detail);
        return 0;
    }
    plat::spool::Spooler& spooler = *opened.value();
    const std::string name(printer);
    if (!spooler.printer(name)) {
        plat::trace("cfgprn32: no printer \"" + name + "\"");
        return 0;
    }

    QDialog dialog(owner);
    dialog.setObjectName("cfgprn32Dialog");
    dialog.setWindowTitle(QStringLiteral("Printer setup - %1").arg(fromUtf8(printer)));
    dialog.setModal(true);

    auto* form = new QFormLayout;
    auto addInfo = [&](const char* objectName, const QString& label, const char* text) {
        auto* value = new QLabel(fromUtf8(text));
        value->setObjectName(objectName);
        value->setTextFormat(Qt::PlainText);  // a printer name is data, never markup
        value->setAccessibleName(label);
        form->addRow(label, value);
    };
    addInfo("printer", QStringLiteral("Printer:"), printer);
    addInfo("port", QStringLiteral("Port:"), port);
    addInfo("driverFile", QStringLiteral("Driver file:"), driverFile);

    auto* paper = new QComboBox;
    paper->setObjectName("paperSize");
    paper->setAccessibleName(QStringLiteral("Paper size"));
    for (const char* p : kPapers) paper->addItem(QString::fromLatin1(p));
    const int storedPaper = paper->findText(QString::fromStdString(textOf(spooler, name, kPaperSize)));
    paper->setCurrentIndex(storedPaper >= 0 ? storedPaper : 0);
    form->addRow(QStringLiteral("Paper size:"), paper);

    auto* orientation = new QComboBox;
    orientation->setObjectName("orientation");
    orientation->setAccessibleName(QStringLiteral("Orientation"));
    for (const char* o : kOrientations) orientation->addItem(QString::fromLatin1(o));
    orientation->setCurrentIndex(dwordOf(spooler, name, kOrientation, 0) == 1 ? 1 : 0);
    form->addRow(QStringLiteral("Orientation:"), orientation);

    auto* copies = new QSpinBox;
    copies->setObjectName("copies");
    copies->setAccessibleName(QStringLiteral("Copies"));
    copies->setRange(1, 999);
    copies->setValue(static_cast<int>(std::clamp<std::uint32_t>(dwordOf(spooler, name, kCopies, 1), 1, 999)));
    form->addRow(QStringLiteral("Copies:"), copies);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addLayout(form);
    layout->addWidget(buttons);

    if (dialog.exec() != QDialog::Accepted) return 0;
    const bool stored =
        storeText(spooler, name, kPaperSize, paper->currentText().toStdString()) &&
        storeDword(spooler, name, kOrientation, static_cast<std::uint32_t>(orientation->currentIndex())) &&
        storeDword(spooler, name, kCopies, static_cast<std::uint32_t>(copies->value()));
    if (!stored) plat::trace("cfgprn32: the settings of \"" + name + "\" could not be stored");
    return stored ? 1 : 0;
}
