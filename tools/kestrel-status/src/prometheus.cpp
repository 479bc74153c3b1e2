#include "prometheus.h"

#include <cstdio>
#include <utility>

namespace kestrel_status {

namespace {

// A label value: backslash, double quote and line feed escaped; anything else as it is (UTF-8).
std::string escaped(const std::string& value)
{
    std::string out;
    out.reserve(value.size());
    for (char c : value) {
        if (c == '\\') out += "\\\\";
        else if (c == '"') out += "\\\"";
        else if (c == '\n') out += "\\n";
        else out += c;
    }
    return out;
}

using Labels = std::vector<std::pair<const char*, std::string>>;

class Family {
public:
    Family(std::string& out, const char* name, const char* type, const char* help) : m_out(out), m_name(name)
    {
        m_out += std::string("# HELP ") + name + " " + help + "\n";
        m_out += std::string("# TYPE ") + name + " " + type + "\n";
    }
    void sample(const Labels& labels, double value)
    {
        m_out += m_name;
        if (!labels.empty()) {
            m_out += "{";
            for (std::size_t i = 0; i < labels.size(); ++i) {
                if (i > 0) m_out += ",";
                m_out += std::string(labels[i].first) + "=\"" + escaped(labels[i].second) + "\"";
            }
            m_out += "}";
        }
        char number[32];
        std::snprintf(number, sizeof number, " %.15g\n", value);
        m_out += number;
    }

private:
    std::string& m_out;
    const char* m_name;
};

}  // namespace

std::string prometheusText(const Snapshot& s, const std::vector<AlertCount>& alerts)
{
    std::string out;
    Family list(out, "kestrel_list_running", "gauge",
                "1 while the printer list program runs (or builds its list), else 0.");
    list.sample({}, s.listRunning != 0 ? 1 : 0);

    Family up(out, "kestrel_printer_up", "gauge", "1 when the printer is monitored and answers, else 0.");
    for (const Printer& p : s.printers) up.sample({{"printer", p.name}}, p.up ? 1 : 0);

    Family monitored(out, "kestrel_printer_monitored", "gauge",
                     "1 while a detail program monitors the printer, else 0.");
    for (const Printer& p : s.printers) monitored.sample({{"printer", p.name}}, p.monitored ? 1 : 0);

    Family state(out, "kestrel_printer_state", "gauge", "1 for the printer's current state, 0 for the others.");
    for (const Printer& p : s.printers) {
        for (const char* keyword : kStates)
            state.sample({{"printer", p.name}, {"state", keyword}}, p.state == keyword ? 1 : 0);
    }

    Family reason(out, "kestrel_printer_reason", "gauge",
                  "1 for each printer-state-reasons keyword the printer's current status holds.");
    for (const Printer& p : s.printers) {
        for (const std::string& r : p.reasons) reason.sample({{"printer", p.name}, {"reason", r}}, 1);
    }

    Family supply(out, "kestrel_supply_level_ratio", "gauge",
                  "What is left of a supply, 0 to 1; no series while the printer does not say.");
    for (const Printer& p : s.printers) {
        for (const Supply& x : p.supplies) {
            if (!x.levelPercent) continue;
            supply.sample({{"printer", p.name}, {"supply", x.name}, {"kind", x.kind}, {"color", x.color}},
                          *x.levelPercent / 100.0);
        }
    }

    Family jobs(out, "kestrel_printer_jobs", "gauge", "Jobs in the printer's queue, while it is monitored.");
    for (const Printer& p : s.printers) {
        if (p.jobs) jobs.sample({{"printer", p.name}}, static_cast<double>(*p.jobs));
    }

    Family changed(out, "kestrel_last_change_timestamp_seconds", "gauge",
                   "When the printer's status last changed, seconds since 1970 (UTC).");
    for (const Printer& p : s.printers) {
        if (p.changed) changed.sample({{"printer", p.name}}, static_cast<double>(*p.changed));
    }

    Family total(out, "kestrel_alerts_total", "counter",
                 "Status changes that brought a printer-state-reasons keyword up, from the status history.");
    for (const AlertCount& a : alerts)
        total.sample({{"printer", a.printer}, {"reason", a.reason}}, static_cast<double>(a.count));
    return out;
}

}  // namespace kestrel_status
