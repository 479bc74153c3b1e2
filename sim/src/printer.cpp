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

std::string Printer::control(const std::vector<std::string>& words, bool& ok)
{
    ok = false;
    if (words.empty()) return "no command given";
    // "paper out" and "paper-out" are one command.
    std::string name = words[0];
    std::size_t argsAt = 1;
    static const char* twoWord[] = {"paper-out",   "paper-low",     "cover-open", "toner-low", "toner-out",
                                    "ink-out",     "test-printing", "device-id",  "reset-log", "no-open",
                                    "paper-width", "card-name",     "raw-reply"};
    if (words.size() > 1) {
        std::string joined = words[0] + "-" + words[1];
        for (const char* known : twoWord) {
            if (joined == known) {
                name = joined;
                argsAt = 2;
            }
        }
    }
    std::vector<std::string> args(words.begin() + static_cast<long>(argsAt), words.end());
    const bool page = m_model.family == Family::Page, inkjet = m_model.family == Family::Inkjet;
    auto needs = [&](std::size_t n) { return args.size() == n; };
    auto error = [&](const std::string& why) { return name + ": " + why; };
    auto done = [&](std::string answer = "ok") {
        ok = true;
        return answer;
    };
    auto setState = [&](const std::string& state, const std::string& error = "", const std::string& test = "") {
        m_state = state;
        m_error = error;
        m_test = test;
    };
    int n = 0;

    if (name == "ready" || name == "printing" || name == "stopped") {
        if (!needs(0)) return error("takes no argument");
        if (page) m_pageCode = name == "printing" ? 1002 : name == "stopped" ? 1001 : 1000;
        else setState(name == "printing" ? "02" : name == "stopped" ? "05" : "04");
        if (name == "ready" && page) m_tray = std::max(m_tray, 26);
        return done();
    }
    if (name == "paper-out" || name == "cover-open" || name == "jam") {
        if (!needs(0)) return error("takes no argument");
        if (page) {
            m_pageCode = name == "paper-out" ? 4010 : name == "cover-open" ? 4002 : 4008;
            if (name == "paper-out") m_tray = 0;
        } else {
            setState("00", name == "paper-out" ? "06" : name == "cover-open" ? "02" : "04");
        }
        return done();
    }
    if (name == "paper-low") {
        if (!page) return error("only page printers report paper levels");
        if (!needs(1) || !parseInt(args[0], 0, 254, n)) return error("give the tray level, 0..254");
        m_tray = n;
        return done();
    }
    if (name == "toner-low" || name == "toner-out" || name == "toner") {
        if (!page) return error("only page printers have toner");
        if (name == "toner") {
            if (!needs(1) || !parseInt(args[0], 0, 255, n)) return error("give the toner level, 0..255");
            m_toner = n;
        } else {
            if (!needs(0)) return error("takes no argument");
            m_pageCode = name == "toner-low" ? 2001 : 4001;
            m_toner = name == "toner-low" ? 15 : 0;
        }
        return done();
    }
    if (name == "ink-out") {
        if (page) return error("page printers have no ink or ribbon");
        setState("00", "05");
        if (inkjet) m_black = 0;
        return done();
    }
    if (name == "ink") {
        if (!inkjet) return error("only inkjet printers report ink levels");
        if (args.empty()) return error("give black=N and/or color=N, 0..255");
        int black = m_black, color = m_color;
        for (const auto& arg : args) {
            if (arg.rfind("black=", 0) == 0 && parseInt(arg.substr(6), 0, 255, black)) continue;
            if (arg.rfind("color=", 0) == 0 && parseInt(arg.substr(6), 0, 255, color)) continue;
            return error("unknown argument \"" + arg + "\" (give black=N and/or color=N, 0..255)");
        }
        m_black = black;
        m_color = color;
        return done();
    }
    if (name == "warnings") {
        if (!inkjet) return error("only inkjet printers report warnings");
        std::vector<std::string> tokens;
        for (const auto& arg : args) {
            if (arg == "none") continue;
            if (arg.empty() || arg.size() > 8) return error("a warning is a short code such as 10 or 11");
            tokens.push_back(arg);
        }
        m_warnings = tokens;
        return done();
    }
    if (name == "error") {
        if (!needs(1)) return error(page ? "give a status code, e.g. error 4014" : "give an error code, e.g. error 06");
        if (page) {
            if (!parseInt(args[0], 0, 0xFFFF, n)) return error("give a status code 0..65535");
            m_pageCode = n;
        } else {
            if (args[0].size() != 2) return error("give two characters, e.g. 06");
            setState("00", args[0]);
        }
        return done();
    }
    if (name == "test-printing") {
        if (page) {
            m_pageCode = 1009;
            return done();
        }
        std::string kind = args.empty() ? "00" : args[0];
        if (args.size() > 1 || kind.size() != 2) return error("give the test kind, two characters such as 00");
        setState("01", "", kind);
        return done();
    }
    if (name == "state") {
        if (page || !needs(1) || args[0].size() != 2) return error("give two state characters (impact and inkjet)");
        setState(args[0]);
        return done();
    }
    if (name == "cassette") {
        int c = 0;
        if (!page || !needs(2) || !parseInt(args[0], 1, 3, c) || !parseInt(args[1], 0, 255, n)) {
            return error("give the cassette 1..3 and its level 0..255 (page printers)");
        }
        m_cassette[c - 1] = n;
        return done();
    }
    if (name == "cards") {
        int a = 0, b = 0;
        if (!page || !needs(2) || !isCodePair(args[0]) || !isCodePair(args[1])) {
            return error("give the two card bytes in hex, e.g. cards 00 FF (page printers)");
        }
        parseInt("0x" + args[0], 0, 255, a);
        parseInt("0x" + args[1], 0, 255, b);
        m_cards[0] = a;
        m_cards[1] = b;
        return done();
    }
    if (name == "card-name") {
        if (!page || args.empty() || (args[0] != "A" && args[0] != "B"))
            return error("give the slot A or B and a name");
        std::string text;
        for (std::size_t i = 1; i < args.size(); ++i) text += (i > 1 ? " " : "") + args[i];
        m_cardNames[args[0] == "A" ? 0 : 1] = text.substr(0, 31);
        return done();
    }
    if (name == "gap") {
        if (!m_model.gapQuery || !needs(1) || !parseInt(args[0], 0, 255, n)) {
            return error("give the gap byte 0..255 (IJ-09)");
        }
        m_gapByte = n;
        return done();
    }
    if (name == "paper-width") {
        if (m_model.family != Family::Impact || !needs(1) || !parseInt(args[0], 0, 0xFFFF, n)) {
            return error("give the width in 1/360 inch (impact printers)");
        }
        m_paperWidth = n;
        return done();
    }
    if (name == "reply" || name == "raw-reply") {
        if (args.empty()) {
            m_rawReply.reset();
            return done("the reply follows the state again");
        }
        std::string text;
        for (std::size_t i = 0; i < args.size(); ++i) text += (i ? " " : "") + args[i];
        m_rawReply = unescape(text);
        return done();
    }
    if (name == "device-id") {
        if (args.empty()) return error("give the device ID text");
        std::string text;
        for (std::size_t i = 0; i < args.size(); ++i) text += (i ? " " : "") + args[i];
        m_deviceId = unescape(text);
        return done();
    }
    if (name == "silent" || name == "no-open" || name == "unplug" || name == "plug" || name == "sleep" ||
        name == "heal") {
        if (!needs(0)) return error("takes no argument");
        if (name == "silent") m_silent = true;
        if (name == "no-open") m_noOpen = true;
        if (name == "unplug") m_unplugged = true;
        if (name == "plug") m_unplugged = false;
        if (name == "sleep") m_asleep = true;
        if (name == "heal") {
            m_silent = m_noOpen = m_unplugged = m_asleep = false;
            m_busyUntil = {};
            m_slow = std::chrono::milliseconds(0);
        }
        return done();
    }
    if (name == "busy" || name == "slow") {
        if (!needs(1) || !parseInt(args[0], 0, 600000, n)) return error("give milliseconds, 0..600000");
        if (name == "busy") m_busyUntil = Clock::now() + std::chrono::milliseconds(n);
        else m_slow = std::chrono::milliseconds(n);
        return done();
    }
    if (name == "log") {
        std::ostringstream out;
        for (std::size_t i = 0; i < m_log.size(); ++i) {
            const std::string& bytes = m_log[i];
            out << i << ' ' << bytes.size() << ' ';
            for (unsigned char c : bytes) out << hex2(c);
            out << " |";
            for (unsigned char c : bytes) out << (std::isprint(c) ? static_cast<char>(c) : '.');
            out << "|\n";
        }
        return done(out.str());
    }
    if (name == "actions") {
        std::ostringstream out;
        out << "head-actions " << m_headActions << "\ngap-settings " << m_gapSettings << "\ngap-setting "
            << m_gapSetting << "\n";
        return done(out.str());
    }
    if (name == "reset-log") {
        m_log.clear();
        return done();
    }
    if (name == "show") {
        std::ostringstream out;
        out << "port " << m_port << "\nmodel " << m_model.shortName << " (" << familyName(m_model.family)
            << ", model number " << m_model.number() << ")\nstatus " << (m_statusEnabled ? "enabled" : "not enabled")
            << "\nhead actions " << m_headActions << "\ngap settings " << m_gapSettings << " (setting " << m_gapSetting
            << ")\ndevice id " << m_deviceId << "\nreply " << statusReply();
        return done(out.str());
    }
    return "unknown command \"" + words[0] + "\"";
}

}  // namespace vprinter
