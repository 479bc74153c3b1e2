// TUNEUP.EXE: the maker's gap-adjustment tool for the IJ-09, played here. It asks for the print-head
// gap setting in a small dialog, sends it to the printer through the printer's port and ends. The
// engine starts it (no arguments) from its folder and waits for its end.

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <thread>

#include "gap_setting.h"
#include "plat/services/program.h"

namespace {

using namespace std::chrono_literals;

constexpr const char* kHelp = R"(TUNEUP.EXE - print-head gap adjustment for the VELTA IJ-09

Usage:
  TUNEUP.EXE [--port PORT] [--value N] [--yes] [--wait-ms MS]
  TUNEUP.EXE --help

Without --yes it shows a dialog: the printer (when the spooler has several IJ-09s), the gap setting
(1..9, 5 is the factory setting), OK and Cancel. OK sends the setting to the printer and reports the
printer's answer. With --yes it sends the setting without a window and ends.

  --port PORT    the printer's port ("LPT2:"); default: the port of the spooler's IJ-09 printer
  --value N      the gap setting, 1..9 (default 5)
  --yes          no dialog: send the setting and end
  --wait-ms MS   how long to wait for the printer's answer (default 5000)

Exit status: 0 the setting was taken (or the dialog was cancelled), 1 the printer refused it or did
not answer, 2 usage error, 3 no printer or its port did not open.
)";

struct Options {
    std::optional<std::string> port;
    int value = tuneup::kDefaultSetting;
    bool yes = false, help = false;
    std::chrono::milliseconds wait = 5000ms;
};

bool parseNumber(const char* text, int low, int high, int& out)
{
    const char* end = text + std::strlen(text);
    auto [at, error] = std::from_chars(text, end, out);
    return error == std::errc() && at == end && out >= low && out <= high;
}

// Nothing on error; `why` says what was wrong.
std::optional<Options> parse(int argc, char** argv, std::string& why)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto next = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--yes") {
            options.yes = true;
        } else if (arg == "--port") {
            const char* port = next();
            if (port == nullptr || *port == '\0') return why = "--port needs a port name", std::nullopt;
            options.port = port;
        } else if (arg == "--value") {
            const char* value = next();
            if (value == nullptr || !parseNumber(value, tuneup::kMinSetting, tuneup::kMaxSetting, options.value)) {
                return why = "--value needs a setting from 1 to 9", std::nullopt;
            }
        } else if (arg == "--wait-ms") {
            const char* value = next();
            int ms = 0;
            if (value == nullptr || !parseNumber(value, 1, 600000, ms)) {
                return why = "--wait-ms needs milliseconds, 1..600000", std::nullopt;
            }
            options.wait = std::chrono::milliseconds(ms);
        } else {
            return why = "unknown argument \"" + arg + "\"", std::nullopt;
        }
    }
    return options;
}

int exitCodeOf(tuneup::Outcome outcome)
{
    switch (outcome) {
    case tuneup::Outcome::Set: return 0;
    case tuneup::Outcome::Refused:
    case tuneup::Outcome::NoAnswer:
    case tuneup::Outcome::NotWritten: return 1;
    case tuneup::Outcome::PortDidNotOpen: return 3;
    }
    return 1;
}

// The dialog: printer, setting, OK/Cancel. The exchange with the printer runs on a thread of its own;
// the window stays responsive and only shows the answer.
class GapDialog : public QDialog {
public:
    GapDialog(plat::Services& services, const std::vector<tuneup::GapPrinter>& printers, const Options& options)
        : m_services(services)
    {
        setWindowTitle(QStringLiteral("VELTA IJ-09 Gap Adjustment"));
        auto* layout = new QVBoxLayout(this);
        auto* intro =
            new QLabel(QStringLiteral("Choose the print-head gap setting and click OK.\n"
                                      "Use a higher setting when prints smear on thick paper."));
        intro->setWordWrap(true);
        layout->addWidget(intro);
        auto* form = new QFormLayout;
        m_printer = new QComboBox;
        for (const auto& printer : printers) {
            m_printer->addItem(QString::fromStdString(printer.name + " (" + printer.port + ")"),
                               QString::fromStdString(printer.port));
        }
        m_printer->setAccessibleName(QStringLiteral("Printer"));
        form->addRow(QStringLiteral("&Printer:"), m_printer);
        m_setting = new QSpinBox;
        m_setting->setRange(tuneup::kMinSetting, tuneup::kMaxSetting);
        m_setting->setValue(options.value);
        m_setting->setAccessibleName(QStringLiteral("Gap setting"));
        form->addRow(QStringLiteral("&Gap setting:"), m_setting);
        layout->addLayout(form);
        m_state = new QLabel;
        m_state->setAccessibleName(QStringLiteral("Result"));
        layout->addWidget(m_state);
        m_buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
        layout->addWidget(m_buttons);
        connect(m_buttons, &QDialogButtonBox::accepted, this, [this, wait = options.wait] { send(wait); });
        connect(m_buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    }
    ~GapDialog() override
    {
        m_stop.raise();
        if (m_worker.joinable()) m_worker.join();
    }
    int exitCode() const { return m_exitCode; }

private:
    void send(std::chrono::milliseconds wait)
    {
        const std::string port = m_printer->currentData().toString().toStdString();
        const int setting = m_setting->value();
        m_buttons->setEnabled(false);
        m_state->setText(QStringLiteral("Sending the setting to the printer..."));
        if (m_worker.joinable()) m_worker.join();
        m_worker = std::thread([this, port, setting, wait] {
            const tuneup::Outcome outcome = tuneup::sendGapSetting(m_services, port, setting, wait, &m_stop);
            QMetaObject::invokeMethod(
                this, [this, outcome] { done(outcome); }, Qt::QueuedConnection);
        });
    }
    void done(tuneup::Outcome outcome)
    {
        m_exitCode = exitCodeOf(outcome);
        if (outcome == tuneup::Outcome::Set) {
            QMessageBox::information(this, windowTitle(), QString::fromUtf8(tuneup::describe(outcome)));
            accept();
            return;
        }
        m_state->setText(QString::fromUtf8(tuneup::describe(outcome)));
        m_buttons->setEnabled(true);
    }

    plat::Services& m_services;
    QComboBox* m_printer;
    QSpinBox* m_setting;
    QLabel* m_state;
    QDialogButtonBox* m_buttons;
    plat::port::Interrupt m_stop;
    std::thread m_worker;
    int m_exitCode = 0;
};

}  // namespace

int main(int argc, char** argv)
{
    std::string why;
    const auto options = parse(argc, argv, why);
    if (!options) {
        std::fprintf(stderr, "TUNEUP.EXE: %s\n\n%s", why.c_str(), kHelp);
        return 2;
    }
    if (options->help) {
        std::fputs(kHelp, stdout);
        return 0;
    }

    auto services = plat::openProgramServices();
    if (!services) {
        std::fprintf(stderr, "TUNEUP.EXE: %s\n", services.error().detail.c_str());
        return 1;
    }
    std::vector<tuneup::GapPrinter> printers;
    if (options->port) printers.push_back({*options->port, *options->port});
    else printers = tuneup::gapPrinters(*services.value());

    if (options->yes) {
        if (printers.empty()) {
            std::fputs("TUNEUP.EXE: no VELTA IJ-09 printer found; give its port with --port\n", stderr);
            return 3;
        }
        const tuneup::Outcome outcome =
            tuneup::sendGapSetting(*services.value(), printers.front().port, options->value, options->wait);
        std::fprintf(outcome == tuneup::Outcome::Set ? stdout : stderr, "TUNEUP.EXE: %s (%s)\n",
                     tuneup::describe(outcome), printers.front().port.c_str());
        return exitCodeOf(outcome);
    }

    QApplication app(argc, argv);
    if (printers.empty()) {
        QMessageBox::warning(nullptr, QStringLiteral("VELTA IJ-09 Gap Adjustment"),
                             QStringLiteral("No VELTA IJ-09 printer is installed."));
        return 3;
    }
    GapDialog dialog(*services.value(), printers, *options);
    dialog.exec();
    return dialog.exitCode();
}
