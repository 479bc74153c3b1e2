#include "printer.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <map>
#include <sstream>

namespace vprinter {
namespace {

// Byte sequences the printers recognise in what the host writes.
constexpr std::string_view kRemoteEntry{"\x1b(R\x08\x00\x00REMOTE1", 13};
constexpr std::string_view kRemoteExit{"\x1b\x00\x00\x00", 4};
constexpr std::string_view kPageStatusEnable = "@KJL REQUEST STATUS=1";
constexpr std::string_view kOptionCardQuery = "@KJL EN LA=PGSCRIPT";
constexpr std::string_view kWakeUp{"\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 16};

std::string hex2(int byte)
{
    char text[3];
    std::snprintf(text, sizeof text, "%02X", byte & 0xff);
    return text;
}

std::string hex4(int value)
{
    char text[5];
    std::snprintf(text, sizeof text, "%04X", value & 0xffff);
    return text;
}

std::string hexText(std::string_view text)
{
    std::string out;
    for (unsigned char c : text) out += hex2(c);
    return out;
}

bool parseInt(const std::string& text, int low, int high, int& out)
{
    if (text.empty()) return false;
    char* end = nullptr;
    long value = std::strtol(text.c_str(), &end, 0);
    if (*end != '\0' || value < low || value > high) return false;
    out = static_cast<int>(value);
    return true;
}

bool isCodePair(const std::string& text)
{
    return text.size() == 2 && std::isxdigit(static_cast<unsigned char>(text[0])) &&
           std::isxdigit(static_cast<unsigned char>(text[1]));
}

ControlAnswer done(std::string answer = "ok") { return {true, std::move(answer)}; }
ControlAnswer refuse(std::string why) { return {false, std::move(why)}; }

// A command that sets one level: its one argument, 0..`highest`.
ControlAnswer levelOf(const std::vector<std::string>& args, int highest, const char* why, int& level)
{
    int n = 0;
    if (args.size() != 1 || !parseInt(args[0], 0, highest, n)) return refuse(why);
    level = n;
    return done();
}

std::string familyName(Family family)
{
    switch (family) {
    case Family::Page: return "page";
    case Family::Impact: return "impact";
    case Family::Inkjet: return "inkjet";
    }
    return "?";
}

}  // namespace

const Model* findModel(std::string_view shortName) { return facts::byShortName(shortName); }

std::vector<std::string> modelNames()
{
    std::vector<std::string> names;
    for (const auto& model : facts::all()) names.emplace_back(model.shortName);
    return names;
}

std::string unescape(std::string_view text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 >= text.size()) {
            out += text[i];
            continue;
        }
        char c = text[++i];
        if (c == 'r') out += '\r';
        else if (c == 'n') out += '\n';
        else if (c == 't') out += '\t';
        else if (c == 'e') out += '\x1b';
        else if (c == 'x' && i + 2 < text.size() && isCodePair(std::string(text.substr(i + 1, 2)))) {
            out += static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16));
            i += 2;
        } else out += c;
    }
    return out;
}

Printer::Printer(std::string port, const Model& model, std::optional<std::string> deviceId)
    : m_port(std::move(port)), m_model(model)
{
    static const std::map<Family, std::string> commands = {
        {Family::Page, "KJL,PGSCRIPT"}, {Family::Impact, "REMOTE,ESCP"}, {Family::Inkjet, "REMOTE,BDC"}};
    m_deviceId =
        deviceId.value_or(std::string("MFG:VELTA;MDL:") + model.shortName + ";CMD:" + commands.at(model.family) +
                          ";CLS:PRINTER;DES:VELTA " + model.shortName + ";");
    if (model.family == Family::Impact) m_black = m_color = 0;
}

std::string Printer::statusReply() const
{
    if (m_rawReply) return *m_rawReply;
    if (m_model.family == Family::Page) {
        // "STATUS CODE=" at 5, so its fields sit at P = 17: the status code at reply offset 21 and the
        // card slots at 103 and 105, where the engine looks.
        std::string f(102, '0');
        auto put = [&](std::size_t at, const std::string& text) { f.replace(at, text.size(), text); };
        put(4, hex4(m_pageCode));
        put(56, hex2(m_toner));
        put(58, m_model.fitted.photoconductor ? hex2(m_photoconductor) : "FF");
        put(60, hex2(m_tray));
        const std::size_t levelAt[3] = {62, 64, 94}, sizeAt[3] = {80, 82, 100};
        for (int c = 0; c < 3; ++c) {
            bool fitted = c < m_model.fitted.cassettes;
            put(levelAt[c], fitted ? hex2(m_cassette[c]) : "FF");
            put(sizeAt[c], fitted ? hex2(m_cassetteSize[c]) : "FF");
        }
        put(78, hex2(m_traySize));
        put(84, hex2(m_duplex));
        put(86, m_model.fitted.cardSlots > 0 ? hex2(m_cards[0]) : "FF");
        put(88, m_model.fitted.cardSlots > 1 ? hex2(m_cards[1]) : "FF");
        put(90, hex2(m_interfaces));
        put(92, hex2(m_memoryMb));
        return "@KJL STATUS CODE=" + f + "\r\n";
    }
    // "ST:" at 9, so the state sits at offset 12, where the engine looks for "04".
    std::string reply = "@BDC ST\r\nST:" + m_state + ";";
    if (m_state == "00") reply += "ER:" + m_error + ";";
    if (m_state == "01") reply += "TP:" + m_test + ";";
    if (m_model.family == Family::Impact) {
        reply += "CD:" + std::string(20, '0') + m_bins[0] + m_bins[1] + m_bins[2] + hex4(m_paperWidth) + ";";
        reply += "PP:" + m_tractor + ";";
    } else {
        if (!m_model.ink.reportedApart) {
            reply += "IQ:" + hex2(m_black);
            for (int i = 0; i < m_model.ink.colourFields; ++i) reply += hex2(m_color);
            reply += ";";
        }
        if (!m_warnings.empty()) {
            reply += "WR:";
            for (std::size_t i = 0; i < m_warnings.size(); ++i) reply += (i ? "," : "") + m_warnings[i];
            reply += ";";
        }
    }
    return reply + "\r\n";
}

std::string Printer::optionCardReply() const
{
    if (m_model.family != Family::Page || m_model.fitted.cardSlots == 0) return {};
    std::string reply = "@KJL PGSCRIPT mlS OPTIONCARD\r\n";
    const char* slots[2] = {"SLOTA ", "SLOTB "};
    for (int s = 0; s < m_model.fitted.cardSlots; ++s) {
        std::string hex = hexText(m_cardNames[s]);
        reply += std::string(slots[s]) + "CARD_NAME|" + std::to_string(hex.size()) + " " + hex + "\r\n";
    }
    return reply;
}

void Printer::queue(std::string reply) { m_pending.push_back({std::move(reply), Clock::now() + m_answerDelay}); }

void Printer::receive(std::string_view bytes)
{
    m_log.emplace_back(bytes);
    m_logBytes += bytes.size();
    while (m_logBytes > kLogBytes && m_log.size() > 1) {
        m_logBytes -= m_log.front().size();
        m_log.pop_front();
        ++m_logFirst;
    }
    if (bytes.find(kWakeUp) != std::string_view::npos) m_asleep = false;
    if (m_model.family == Family::Page) {
        if (bytes.find(kPageStatusEnable) != std::string_view::npos) m_statusEnabled = true;
        if (bytes.find(kOptionCardQuery) != std::string_view::npos && m_model.fitted.cardSlots > 0)
            queue(optionCardReply());
        return;
    }
    actOnRemoteCommands(bytes);
}

void Printer::actOnRemoteCommands(std::string_view bytes)
{
    // Remote mode: entry, then commands of two letters, a 16-bit little-endian length and parameters.
    for (std::size_t at = bytes.find(kRemoteEntry); at != std::string_view::npos; at = bytes.find(kRemoteEntry, at)) {
        at += kRemoteEntry.size();
        while (at + 4 <= bytes.size() && bytes.substr(at, 4) != kRemoteExit) {
            std::string_view name = bytes.substr(at, 2);
            std::size_t length = static_cast<unsigned char>(bytes[at + 2]) |
                                 (static_cast<std::size_t>(static_cast<unsigned char>(bytes[at + 3])) << 8);
            at += 4 + length;
            if (name == "ST") {
                m_statusEnabled = true;
            } else if (name == "IQ" && m_model.ink.reportedApart) {
                // The two bytes behind "IQ:" are the reply's own counter; the engine drops them.
                std::string reply = "@BDC IQ\r\nIQ:01" + hex2(m_black);
                for (int i = 0; i < m_model.ink.colourFields; ++i) reply += hex2(m_color);
                queue(reply + ";\r\n");
            } else if (name == "EX" && m_model.gapQuery) {
                queue("@BDC EX\r\nEX:00000006" + hex2(m_gapByte) + ";\r\n");
            } else if (name == "EI") {
                // The head moves to its ink-replacement place; the printer says nothing.
                ++m_headActions;
            } else if (name == "GA" && m_model.gapQuery && length == 2 && at <= bytes.size()) {
                // Gap setting: parameters 00 and the setting. A setting in range is kept, and the
                // printer no longer asks for an adjustment; one out of range is refused.
                const int setting = static_cast<unsigned char>(bytes[at - 1]);
                ++m_gapSettings;
                if (setting >= kGapSettingMin && setting <= kGapSettingMax) {
                    m_gapSetting = setting;
                    m_gapByte = 0;
                    queue("@BDC GA\r\nGA:00;\r\n");
                } else {
                    queue("@BDC GA\r\nGA:01;\r\n");
                }
            }
        }
    }
}

std::string Printer::take(std::size_t max, bool& statusTaken)
{
    if (m_silent) return {};
    if (!m_pending.empty() && m_pending.front().readyAt <= Clock::now()) {
        auto& front = m_pending.front();
        std::string out = front.bytes.substr(0, max);
        front.bytes.erase(0, out.size());
        if (front.bytes.empty()) m_pending.pop_front();
        return out;
    }
    if (m_pending.empty() && m_statusEnabled && !statusTaken) {
        statusTaken = true;
        m_pending.push_back({statusReply(), Clock::now()});
        return take(max, statusTaken);
    }
    return {};
}

std::optional<Clock::time_point> Printer::nextReadyAt() const
{
    if (m_pending.empty()) return std::nullopt;
    return m_pending.front().readyAt;
}

void Printer::purge()
{
    const auto now = Clock::now();
    std::erase_if(m_pending, [&](const Pending& p) { return p.readyAt <= now; });
}

std::string Printer::deviceId() const { return m_silent || m_asleep ? std::string() : m_deviceId; }

namespace {

// A command's words after its name, joined by blanks as the user gave them.
std::string joined(const std::vector<std::string>& args)
{
    std::string text;
    for (std::size_t i = 0; i < args.size(); ++i) text += (i ? " " : "") + args[i];
    return text;
}

std::string familiesText(unsigned families)
{
    switch (families) {
    case kPageOnly: return "page printers";
    case kImpactOnly: return "impact printers";
    case kInkjetOnly: return "inkjet printers";
    case kImpactOnly | kInkjetOnly: return "impact and inkjet printers";
    default: return "every printer";
    }
}

unsigned familyBit(Family family) { return 1u << static_cast<unsigned>(family); }

}  // namespace

// Every command, in the order help lists them. A handler finds its arguments checked for nothing but
// the printer's family; it changes nothing when it refuses.
std::span<const Printer::Command> Printer::commandTable()
{
    using Args = std::vector<std::string>;
    static const Command table[] = {
        {{"ready", "", kEveryFamily, "ready to print"},
         [](Printer& p, const Args& args) { return p.setReady(args, "ready"); }},
        {{"printing", "", kEveryFamily, "printing"},
         [](Printer& p, const Args& args) { return p.setReady(args, "printing"); }},
        {{"stopped", "", kEveryFamily, "not ready: the online switch is off"},
         [](Printer& p, const Args& args) { return p.setReady(args, "stopped"); }},
        {{"paper-out", "", kEveryFamily, "out of paper"},
         [](Printer& p, const Args& args) { return p.setError(args, 4010, "06"); }},
        {{"cover-open", "", kEveryFamily, "the cover is open"},
         [](Printer& p, const Args& args) { return p.setError(args, 4002, "02"); }},
        {{"jam", "", kEveryFamily, "a paper jam"},
         [](Printer& p, const Args& args) { return p.setError(args, 4008, "04"); }},
        {{"error", "CODE", kEveryFamily, "page printers: a status code (4014); others: two characters (06)"},
         [](Printer& p, const Args& args) {
             const bool page = p.m_model.family == Family::Page;
             int n = 0;
             if (args.size() != 1)
                 return refuse(page ? "give a status code, e.g. error 4014" : "give an error code, e.g. error 06");
             if (page) {
                 if (!parseInt(args[0], 0, 0xFFFF, n)) return refuse("give a status code 0..65535");
                 p.m_pageCode = n;
             } else {
                 if (args[0].size() != 2) return refuse("give two characters, e.g. 06");
                 p.setState("00", args[0]);
             }
             return done();
         }},
        {{"test-printing", "[KIND]", kEveryFamily, "test printing; impact and inkjet: of KIND, two characters (00)"},
         [](Printer& p, const Args& args) {
             if (p.m_model.family == Family::Page) {
                 p.m_pageCode = 1009;
                 return done();
             }
             const std::string kind = args.empty() ? "00" : args[0];
             if (args.size() > 1 || kind.size() != 2) return refuse("give the test kind, two characters such as 00");
             p.setState("01", "", kind);
             return done();
         }},
        {{"state", "XX", kImpactOnly | kInkjetOnly, "a raw state, two characters"},
         [](Printer& p, const Args& args) {
             if (args.size() != 1 || args[0].size() != 2) return refuse("give two state characters");
             p.setState(args[0]);
             return done();
         }},
        {{"paper-low", "N", kPageOnly, "the tray's paper level, 0..254"},
         [](Printer& p, const Args& args) { return levelOf(args, 254, "give the tray level, 0..254", p.m_tray); }},
        {{"cassette", "C N", kPageOnly, "cassette C's (1..3) paper level, 0..255"},
         [](Printer& p, const Args& args) {
             int c = 0, n = 0;
             if (args.size() != 2 || !parseInt(args[0], 1, 3, c) || !parseInt(args[1], 0, 255, n)) {
                 return refuse("give the cassette 1..3 and its level 0..255");
             }
             p.m_cassette[c - 1] = n;
             return done();
         }},
        {{"toner", "N", kPageOnly, "the toner level, 0..255"},
         [](Printer& p, const Args& args) { return levelOf(args, 255, "give the toner level, 0..255", p.m_toner); }},
        {{"toner-low", "", kPageOnly, "the toner runs low"},
         [](Printer& p, const Args& args) { return p.setToner(args, 2001, 15); }},
        {{"toner-out", "", kPageOnly, "out of toner"},
         [](Printer& p, const Args& args) { return p.setToner(args, 4001, 0); }},
        {{"cards", "XX YY", kPageOnly, "the two card slots' bytes, in hex"},
         [](Printer& p, const Args& args) {
             int a = 0, b = 0;
             if (args.size() != 2 || !isCodePair(args[0]) || !isCodePair(args[1])) {
                 return refuse("give the two card bytes in hex, e.g. cards 00 FF");
             }
             parseInt("0x" + args[0], 0, 255, a);
             parseInt("0x" + args[1], 0, 255, b);
             p.m_cards[0] = a;
             p.m_cards[1] = b;
             return done();
         }},
        {{"card-name", "A|B TEXT", kPageOnly, "the name of the IC card in slot A or B"},
         [](Printer& p, const Args& args) {
             if (args.empty() || (args[0] != "A" && args[0] != "B")) return refuse("give the slot A or B and a name");
             p.m_cardNames[args[0] == "A" ? 0 : 1] = joined(Args(args.begin() + 1, args.end())).substr(0, 31);
             return done();
         }},
        {{"ink", "black=N color=N", kInkjetOnly, "ink levels, 0..255 (either or both)"},
         [](Printer& p, const Args& args) {
             if (args.empty()) return refuse("give black=N and/or color=N, 0..255");
             int black = p.m_black, color = p.m_color;
             for (const auto& arg : args) {
                 if (arg.rfind("black=", 0) == 0 && parseInt(arg.substr(6), 0, 255, black)) continue;
                 if (arg.rfind("color=", 0) == 0 && parseInt(arg.substr(6), 0, 255, color)) continue;
                 return refuse("unknown argument \"" + arg + "\" (give black=N and/or color=N, 0..255)");
             }
             p.m_black = black;
             p.m_color = color;
             return done();
         }},
        {{"warnings", "CODE... | none", kInkjetOnly, "the warnings the printer reports (10, 11, ...)"},
         [](Printer& p, const Args& args) {
             std::vector<std::string> tokens;
             for (const auto& arg : args) {
                 if (arg == "none") continue;
                 if (arg.empty() || arg.size() > 8) return refuse("a warning is a short code such as 10 or 11");
                 tokens.push_back(arg);
             }
             p.m_warnings = tokens;
             return done();
         }},
        {{"ink-out", "", kImpactOnly | kInkjetOnly, "out of ink, or of ribbon"},
         [](Printer& p, const Args&) {
             p.setState("00", "05");
             if (p.m_model.family == Family::Inkjet) p.m_black = 0;
             return done();
         }},
        {{"gap", "N", kInkjetOnly, "the gap byte of IJ-09, 0..255"},
         [](Printer& p, const Args& args) {
             int n = 0;
             if (!p.m_model.gapQuery || args.size() != 1 || !parseInt(args[0], 0, 255, n)) {
                 return refuse("give the gap byte 0..255 (IJ-09)");
             }
             p.m_gapByte = n;
             return done();
         }},
        {{"paper-width", "N", kImpactOnly, "the continuous paper's width, in 1/360 inch"},
         [](Printer& p, const Args& args) {
             return levelOf(args, 0xFFFF, "give the width in 1/360 inch", p.m_paperWidth);
         }},
        {{"reply", "[TEXT]", kEveryFamily, "the status reply verbatim from now on (\\r \\n \\xHH), or not"},
         [](Printer& p, const Args& args) {
             if (args.empty()) {
                 p.m_rawReply.reset();
                 return done("the reply follows the state again");
             }
             p.m_rawReply = unescape(joined(args));
             return done();
         }},
        {{"device-id", "TEXT", kEveryFamily, "the device ID from now on"},
         [](Printer& p, const Args& args) {
             if (args.empty()) return refuse("give the device ID text");
             p.m_deviceId = unescape(joined(args));
             return done();
         }},
        {{"silent", "", kEveryFamily, "fault: no answers"},
         [](Printer& p, const Args& args) { return p.setFault(args, [](Printer& q) { q.m_silent = true; }); }},
        {{"no-open", "", kEveryFamily, "fault: opens refused"},
         [](Printer& p, const Args& args) { return p.setFault(args, [](Printer& q) { q.m_noOpen = true; }); }},
        {{"unplug", "", kEveryFamily, "fault: unplugged"},
         [](Printer& p, const Args& args) { return p.setFault(args, [](Printer& q) { q.m_unplugged = true; }); }},
        {{"plug", "", kEveryFamily, "plugged in again"},
         [](Printer& p, const Args& args) { return p.setFault(args, [](Printer& q) { q.m_unplugged = false; }); }},
        {{"sleep", "", kEveryFamily, "fault: no device ID until the wake-up bytes"},
         [](Printer& p, const Args& args) { return p.setFault(args, [](Printer& q) { q.m_asleep = true; }); }},
        {{"busy", "MS", kEveryFamily, "fault: writes refused for MS milliseconds, 0..600000"},
         [](Printer& p, const Args& args) {
             int n = 0;
             if (args.size() != 1 || !parseInt(args[0], 0, 600000, n)) return refuse("give milliseconds, 0..600000");
             p.m_busyUntil = Clock::now() + std::chrono::milliseconds(n);
             return done();
         }},
        {{"slow", "MS", kEveryFamily, "fault: every answer MS milliseconds late, 0..600000"},
         [](Printer& p, const Args& args) {
             int n = 0;
             if (args.size() != 1 || !parseInt(args[0], 0, 600000, n)) return refuse("give milliseconds, 0..600000");
             p.m_slow = std::chrono::milliseconds(n);
             return done();
         }},
        {{"heal", "", kEveryFamily, "every fault cleared"},
         [](Printer& p, const Args& args) {
             return p.setFault(args, [](Printer& q) {
                 q.m_silent = q.m_noOpen = q.m_unplugged = q.m_asleep = false;
                 q.m_busyUntil = {};
                 q.m_slow = std::chrono::milliseconds(0);
             });
         }},
        {{"log", "", kEveryFamily, "the bytes received, the most recent writes, in hex and as text"},
         [](Printer& p, const Args&) { return done(p.logText()); }},
        {{"reset-log", "", kEveryFamily, "the bytes received are forgotten"},
         [](Printer& p, const Args&) {
             p.m_log.clear();
             p.m_logBytes = p.m_logFirst = 0;
             return done();
         }},
        {{"show", "", kEveryFamily, "the printer's state"},
         [](Printer& p, const Args&) {
             std::ostringstream out;
             out << "port " << p.m_port << "\nmodel " << p.m_model.shortName << " (" << familyName(p.m_model.family)
                 << ", model number " << p.m_model.number() << ")\nstatus "
                 << (p.m_statusEnabled ? "enabled" : "not enabled") << "\nhead actions " << p.m_headActions
                 << "\ngap settings " << p.m_gapSettings << " (setting " << p.m_gapSetting << ")\ndevice id "
                 << p.m_deviceId << "\nreply " << p.statusReply();
             return done(out.str());
         }},
        {{"actions", "", kEveryFamily, "the maintenance commands received: head actions, gap settings"},
         [](Printer& p, const Args&) {
             std::ostringstream out;
             out << "head-actions " << p.m_headActions << "\ngap-settings " << p.m_gapSettings << "\ngap-setting "
                 << p.m_gapSetting << "\n";
             return done(out.str());
         }},
    };
    return table;
}

std::vector<CommandInfo> controlCommands()
{
    std::vector<CommandInfo> commands;
    for (const auto& command : Printer::commandTable()) commands.push_back(command.info);
    return commands;
}

std::string controlHelp()
{
    std::string out;
    for (const CommandInfo& c : controlCommands()) {
        std::string line = "  " + std::string(c.name);
        if (!c.arguments.empty()) line += " " + std::string(c.arguments);
        line.resize(std::max<std::size_t>(line.size() + 2, 32), ' ');
        if (c.families != kEveryFamily) line += familiesText(c.families) + ": ";
        line += c.help;
        out += line + "\n";
    }
    return out;
}

ControlAnswer Printer::setReady(const std::vector<std::string>& args, std::string_view state)
{
    if (!args.empty()) return refuse("takes no argument");
    if (m_model.family == Family::Page) {
        m_pageCode = state == "printing" ? 1002 : state == "stopped" ? 1001 : 1000;
        if (state == "ready") m_tray = std::max(m_tray, 26);
    } else {
        setState(state == "printing" ? "02" : state == "stopped" ? "05" : "04");
    }
    return done();
}

ControlAnswer Printer::setError(const std::vector<std::string>& args, int pageCode, std::string_view error)
{
    if (!args.empty()) return refuse("takes no argument");
    if (m_model.family == Family::Page) {
        m_pageCode = pageCode;
        if (pageCode == 4010) m_tray = 0;  // out of paper: the tray is empty
    } else {
        setState("00", std::string(error));
    }
    return done();
}

ControlAnswer Printer::setToner(const std::vector<std::string>& args, int pageCode, int level)
{
    if (!args.empty()) return refuse("takes no argument");
    m_pageCode = pageCode;
    m_toner = level;
    return done();
}

ControlAnswer Printer::setFault(const std::vector<std::string>& args, void (*change)(Printer&))
{
    if (!args.empty()) return refuse("takes no argument");
    change(*this);
    return done();
}

void Printer::setState(std::string state, std::string error, std::string test)
{
    m_state = std::move(state);
    m_error = std::move(error);
    m_test = std::move(test);
}

std::string Printer::logText() const
{
    std::ostringstream out;
    for (std::size_t i = 0; i < m_log.size(); ++i) {
        const std::string& bytes = m_log[i];
        out << m_logFirst + i << ' ' << bytes.size() << ' ';
        for (unsigned char c : bytes) out << hex2(c);
        out << " |";
        for (unsigned char c : bytes) out << (std::isprint(c) ? static_cast<char>(c) : '.');
        out << "|\n";
    }
    return out.str();
}

std::string Printer::control(const std::vector<std::string>& words, bool& ok)
{
    ok = false;
    if (words.empty()) return "no command given";
    // "paper out" and "paper-out" are one command; "raw-reply" is "reply".
    std::string name = words[0];
    std::size_t argsAt = 1;
    const auto table = commandTable();
    auto find = [&](std::string_view wanted) {
        if (wanted == "raw-reply") wanted = "reply";
        return std::find_if(table.begin(), table.end(), [&](const Command& c) { return c.info.name == wanted; });
    };
    if (words.size() > 1) {
        const std::string both = words[0] + "-" + words[1];
        if (find(both) != table.end()) {
            name = both;
            argsAt = 2;
        }
    }
    const auto command = find(name);
    if (command == table.end()) {
        std::string known;
        for (const auto& c : table) known += (known.empty() ? "" : " ") + std::string(c.info.name);
        return "unknown command \"" + words[0] + "\"; the commands are: " + known;
    }
    if ((command->info.families & familyBit(m_model.family)) == 0) {
        return name + ": only " + familiesText(command->info.families) + " take this command";
    }
    const std::vector<std::string> args(words.begin() + static_cast<long>(argsAt), words.end());
    ControlAnswer answer = command->run(*this, args);
    ok = answer.ok;
    return answer.ok ? std::move(answer.text) : name + ": " + answer.text;
}

}  // namespace vprinter
