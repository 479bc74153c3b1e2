#include "publisher.h"

#include <algorithm>
#include <iterator>

namespace velta {
namespace {

std::string joined(const std::set<std::string>& words)
{
    std::string out;
    for (const auto& w : words) out += (out.empty() ? "" : ",") + w;
    return out;
}

template <class Field>
std::string joined(const std::vector<Marker>& markers, Field field)
{
    std::string out;
    for (const auto& m : markers) out += (out.empty() ? "" : ",") + field(m);
    return out;
}

bool sameSupplies(const std::vector<Marker>& a, const std::vector<Marker>& b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const Marker& x, const Marker& y) {
        return x.name == y.name && x.colour == y.colour && x.type == y.type && x.low == y.low && x.high == y.high;
    });
}

}  // namespace

std::string hex(std::string_view bytes)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        out += kDigits[c >> 4];
        out += kDigits[c & 15];
    }
    return out;
}

std::string quotedSafe(std::string_view text, std::size_t max)
{
    std::string out(text.substr(0, max));
    for (char& c : out) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f || c == '\'' || c == '"' || c == '\\') c = '?';
    }
    return out;
}

Publisher::Publisher(Line line, std::string deviceId, std::chrono::milliseconds heartbeat)
    : m_line(std::move(line)), m_deviceId(std::move(deviceId)), m_heartbeat(heartbeat)
{
}

void Publisher::hold(const std::string& reason, bool on)
{
    if (on) m_held.insert(reason);
    else m_held.erase(reason);
}

void Publisher::status(const Decoded& decoded, std::string_view reply, std::string_view ink)
{
    m_decoded = decoded.reasons;
    m_markers = decoded.markers;
    m_message = decoded.message;
    if (!m_haveStatus || reply != m_reply || ink != m_ink) m_alertDue = true;
    m_reply.assign(reply.substr(0, kAlertReplyMax));
    m_ink.assign(ink.substr(0, kAlertInkMax));
    m_haveStatus = true;
}

void Publisher::publishReasons()
{
    std::set<std::string> wanted = m_held;
    wanted.insert(m_decoded.begin(), m_decoded.end());
    std::set<std::string> gone, added;
    std::set_difference(m_published.begin(), m_published.end(), wanted.begin(), wanted.end(),
                        std::inserter(gone, gone.end()));
    std::set_difference(wanted.begin(), wanted.end(), m_published.begin(), m_published.end(),
                        std::inserter(added, added.end()));
    if (!gone.empty()) m_line("STATE: -" + joined(gone));
    if (!added.empty()) m_line("STATE: +" + joined(added));
    m_published = std::move(wanted);
}

void Publisher::flush(Clock::time_point now, std::time_t epoch)
{
    publishReasons();
    if (!m_markers.empty() && m_markers != m_publishedMarkers) {
        if (!sameSupplies(m_markers, m_publishedMarkers)) {
            m_line("ATTR: marker-colors=" + joined(m_markers, [](const Marker& m) { return m.colour; }) +
                   " marker-names=" + joined(m_markers, [](const Marker& m) { return m.name; }) +
                   " marker-types=" + joined(m_markers, [](const Marker& m) { return m.type; }) +
                   " marker-low-levels=" + joined(m_markers, [](const Marker& m) { return std::to_string(m.low); }) +
                   " marker-high-levels=" + joined(m_markers, [](const Marker& m) { return std::to_string(m.high); }));
        }
        m_line("ATTR: marker-levels=" + joined(m_markers, [](const Marker& m) { return std::to_string(m.level); }));
        m_publishedMarkers = m_markers;
    }
    if (!m_haveStatus) return;
    if (!m_message.empty() && m_message != m_publishedMessage) {
        std::string words = m_message.substr(0, kMessageMax);
        for (char& c : words)
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';  // one line, whatever it holds
        m_line("INFO: " + words);
        m_publishedMessage = m_message;
    }
    if (m_alertDue || now - m_lastAlert >= m_heartbeat) {
        ++m_seq;
        m_line("ATTR: printer-alert='velta;seq=" + std::to_string(m_seq) + ";t=" + std::to_string(epoch) +
               ";st=" + hex(m_reply) + ";ink=" + hex(m_ink) + "' printer-alert-description='" +
               quotedSafe(m_deviceId, kAlertDescriptionMax) + "'");
        m_lastAlert = now;
        m_alertDue = false;
        m_alertShown = true;
    }
}

void Publisher::clear()
{
    if (!m_published.empty()) m_line("STATE: -" + joined(m_published));
    m_published.clear();
    m_held.clear();
    m_decoded.clear();
    if (m_alertShown) m_line("ATTR: printer-alert='' printer-alert-description=''");
    m_alertShown = false;
    m_haveStatus = false;
    m_message.clear();
    m_publishedMessage.clear();
}

}  // namespace velta
