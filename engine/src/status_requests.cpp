// Status requests by printer family: the bytes the engine sends, the replies it waits for, the
// device-ID check, and the store values each reply ends up in. The engine stores replies as text and
// does not interpret the status itself.

#include <cstring>

#include "engine.h"
#include "plat/text/text.h"

namespace vigil {
namespace {

using std::chrono_literals::operator""ms;

const std::string kRemoteEntry("\x1b(R\x08\x00\x00REMOTE1", 13);
const std::string kRemoteExit("\x1b\x00\x00\x00", 4);
const std::string kKjlExit("\x1b\x01@KJL \n", 8);
constexpr std::string_view kOptionCardMark = "PGSCRIPT mlS OPTIONCARD";
constexpr std::string_view kExtendedMark = "EX:00000006";

std::string remote(std::string_view command) { return kRemoteEntry + std::string(command) + kRemoteExit; }

// The two characters at `offset` of `head` are `text` (a field behind the end is not).
bool fieldIs(std::string_view head, std::size_t offset, std::string_view text)
{
    return head.size() >= offset + text.size() && head.substr(offset, text.size()) == text;
}

}  // namespace

std::string editInkReply(std::string reply)
{
    if (reply.size() == 22 || reply.size() == 38) return reply;
    for (std::size_t at = reply.find("IQ:"); at != std::string::npos; at = reply.find("IQ:", at + 3)) {
        reply.erase(at + 3, 2);
    }
    return reply;
}

void Engine::prepareTemplates(Session& s)
{
    using plat::text::equalWholeIgnoringCase;
    const std::string& model = s.start.model;
    if (s.start.family == EngineFamily::Page) {
        s.statusEnable = std::string("\x1b\x01@KJL REQUEST STATUS=1\r\n") + kKjlExit + kKjlExit;
    } else if (s.start.family == EngineFamily::Inkjet || s.start.family == EngineFamily::Impact) {
        const facts::Model* known = facts::byName(model);
        const bool variant = known != nullptr && known->statusEnableMode3;
        s.statusEnable = "\x1b@\x1b@" + remote(std::string("ST\x02\x00\x00", 5) + (variant ? '\x03' : '\x01'));
    } else {
        s.statusEnable.clear();  // no family of the system: nothing to enable
    }
    s.optionCardQuery = std::string("\x1b\x01@KJL EN LA=PGSCRIPT\n") +
                        "\x1d"
                        "10;1lS"
                        "\x1d"
                        "12mlS";
    s.optionCardExit = kKjlExit;
    s.inkQuery = remote(std::string("IQ\x01\x00\x01", 5));
    s.extendedQuery = remote(std::string("EX\x05\x00\x01\x00\x00\x00\x06", 9));
    s.headAction = remote(std::string("EI\x01\x00\x00", 5));
}

bool Engine::writeCommand(const Session& s, std::string_view bytes, int attempts, CancelMode cancel)
{
    return m_channel->write(s.start.port, std::as_bytes(std::span(bytes.data(), bytes.size())), attempts, cancel) == 1;
}

bool Engine::readUntilContains(const Session& s, std::string_view pattern, int tries, bool pauseFirst,
                               const std::function<bool()>& stop, std::string& reply)
{
    char buffer[PortChannel::kReadBuffer];
    for (int attempt = 0; attempt < tries; ++attempt) {
        if ((attempt > 0 || pauseFirst) && !pause(scaled(500ms), stop)) return false;
        std::uint32_t count = 0;
        if (m_channel->readOnce(s.start.port, buffer, count) == 1) {
            std::string_view got(buffer, count);
            if (got.find(pattern) != std::string_view::npos) {
                reply.assign(got);
                return true;
            }
        }
    }
    return false;
}

DeviceIdAnswer Engine::getDeviceId(const Session& s, std::string& id)
{
    char buffer[2048];
    std::uint32_t count = 0;
    if (s.start.connection == kLocal) {
        if (m_channel->readDeviceId(s.start.port, buffer, count, 10) != 1) {
            const std::string wakeUp(16, '\0');
            if (!writeCommand(s, wakeUp, 1, CancelMode::None)) return DeviceIdAnswer::NoReply;
            // Taking the bytes but answering nothing is a printer out of reach (switched off behind a
            // buffer, hung), not another printer: it is tried again instead of given up for good. One
            // that answers with another model's ID is refused below.
            if (m_channel->readDeviceId(s.start.port, buffer, count, 10) != 1) return DeviceIdAnswer::NoReply;
        }
    } else if (s.start.connection == kQueue || s.start.connection == kCaptured) {
        bool got = false;
        for (int attempt = 0; attempt < 10 && !got; ++attempt) {
            got = m_link->request(NetworkLink::Request::DeviceId, buffer, count) && count > 0;
        }
        if (!got) return DeviceIdAnswer::NoReply;
    } else {
        return DeviceIdAnswer::NotAvailable;
    }
    auto model = readString(EngineKey::Store, value::kIDMDL, 512);
    if (!model) return DeviceIdAnswer::NotAvailable;
    const std::string_view reply(buffer, count);
    if (reply.find("MFG:VELTA") == std::string_view::npos ||
        reply.find("MDL:" + *model + ";") == std::string_view::npos) {
        return DeviceIdAnswer::NotAvailable;
    }
    id.assign(reply);
    return DeviceIdAnswer::Matching;
}

int Engine::firstStatusRead(const Session& s, std::uint64_t generation)
{
    auto stopped = [&] { return stopRequested(generation); };
    char buffer[PortChannel::kReadBuffer];
    if (m_channel->readWithRetries(s.start.port, buffer, 5, false) != 1) return 0;
    const std::string reply(buffer);
    writeString(EngineKey::Store, value::kRealTimeStatusStrings, reply);

    if (s.start.family == EngineFamily::Page) {
        const std::string_view head = std::string_view(reply).substr(0, 111);
        if (!fieldIs(head, 103, "00") && !fieldIs(head, 105, "00")) return 1;
        if (!fieldIs(head, 21, "03E8") && !fieldIs(head, 21, "03EF")) return 1;
        if (!writeCommand(s, s.optionCardQuery, 10, CancelMode::None)) return 0;
        std::string card;
        if (readUntilContains(s, kOptionCardMark, 10, true, stopped, card)) {
            if (!writeCommand(s, s.optionCardExit + s.optionCardExit, 10, CancelMode::None)) return 0;
            writeString(EngineKey::Store, value::kICCardName, card);
            m_optionCardKnown = 1;
            return 1;
        }
        writeCommand(s, s.optionCardExit + s.optionCardExit, 1, CancelMode::None);
        return 0;
    }
    if (s.start.family == EngineFamily::Inkjet) {
        const std::string_view head = std::string_view(reply).substr(0, 20);
        if (fieldIs(head, 12, "04") && inkAskedApart(s)) {
            if (!writeCommand(s, s.inkQuery, 10, CancelMode::None)) return 0;
            std::string ink;
            if (!readUntilContains(s, "IQ:", 10, false, stopped, ink)) return 0;
            writeString(EngineKey::Store, value::kInkLevel, editInkReply(ink));
            return 1;
        }
        // A printer that is busy now answers no ink query; the first ready read asks, or the status
        // could not be shown until another monitor happened to take the port.
        if (!fieldIs(head, 12, "04") && inkAskedApart(s)) m_inkQueryPending = 1;
        if (fieldIs(head, 12, "04") && answersGapQuery(s)) {
            if (!writeCommand(s, s.extendedQuery, 10, CancelMode::None)) return 0;
            std::string gap;
            if (!readUntilContains(s, kExtendedMark, 10, true, stopped, gap)) return 0;
            writeString(EngineKey::Store, value::kGapStrings, gap);
            return 1;
        }
    }
    return 1;
}

PassOutcome Engine::periodicStatusRead(const Session& s, std::string& reply)
{
    auto cancelled = [&] { return m_realTimeRun == 0; };
    char buffer[PortChannel::kReadBuffer];
    if (m_channel->readWithRetries(s.start.port, buffer, 5, true) != 1) return PassOutcome::NoReply;
    reply = buffer;
    if (reply.empty()) return cancelled() ? PassOutcome::ThreadEnds : PassOutcome::Empty;
    auto failed = [&] {
        if (cancelled()) return PassOutcome::ThreadEnds;
        reportError(kCommFailure);
        return PassOutcome::NextPassNow;
    };

    if (s.start.family == EngineFamily::Page) {
        const std::string_view head = std::string_view(reply).substr(0, 111);
        if (!fieldIs(head, 103, "00") && !fieldIs(head, 105, "00")) {
            m_optionCardKnown = 0;
            return PassOutcome::Reply;
        }
        if (m_optionCardKnown) return PassOutcome::Reply;
        if (!fieldIs(head, 21, "03E8") && !fieldIs(head, 21, "03EF")) return PassOutcome::Reply;
        if (!writeCommand(s, s.optionCardQuery, 10, CancelMode::RealTime)) return failed();
        std::string card;
        if (!readUntilContains(s, kOptionCardMark, 10, true, cancelled, card)) return failed();
        if (!writeCommand(s, s.optionCardExit, 10, CancelMode::RealTime)) return failed();
        writeString(EngineKey::Store, value::kICCardName, card);
        m_optionCardKnown = 1;
        return PassOutcome::Reply;
    }
    if (s.start.family == EngineFamily::Inkjet) {
        const std::string_view head = std::string_view(reply).substr(0, 20);
        if (fieldIs(head, 12, "04") && inkAskedApart(s) && m_inkQueryPending) {
            if (!writeCommand(s, s.inkQuery, 10, CancelMode::RealTime)) return failed();
            std::string ink;
            if (!readUntilContains(s, "IQ:", 10, true, cancelled, ink)) return failed();
            writeString(EngineKey::Store, value::kInkLevel, editInkReply(ink));
            m_inkQueryPending = 0;
        }
    }
    return PassOutcome::Reply;
}

// Over the network link the printer's interface answers the request kinds; nothing is written to
// the printer itself.
bool Engine::networkOptionCard(const Session& s, const std::string& reply, const std::function<bool()>& stop)
{
    const std::string_view head = std::string_view(reply).substr(0, 111);
    if (!fieldIs(head, 103, "00") && !fieldIs(head, 105, "00")) return true;
    if (!fieldIs(head, 21, "03E8") && !fieldIs(head, 21, "03EF")) return true;
    (void)s;
    char buffer[2048];
    for (int attempt = 0; attempt < 10; ++attempt) {
        if (attempt > 0 && !pause(scaled(1000ms), stop)) return false;
        std::uint32_t length = 0;
        if (m_link->request(NetworkLink::Request::OptionCard, buffer, length) &&
            std::string_view(buffer, length).find(kOptionCardMark) != std::string_view::npos) {
            writeString(EngineKey::Store, value::kICCardName, std::string_view(buffer, length));
            m_optionCardKnown = 1;
            return true;
        }
    }
    return false;
}

std::optional<std::string> Engine::networkStatus(const std::function<bool()>& stop)
{
    char buffer[2048];
    for (int attempt = 0; attempt < 10 && !stop(); ++attempt) {
        std::uint32_t length = 0;
        if (m_link->request(NetworkLink::Request::Status, buffer, length)) return std::string(buffer, length);
    }
    return std::nullopt;
}

int Engine::firstNetworkRead(const Session& s, std::uint64_t generation)
{
    auto stopped = [&] { return stopRequested(generation); };
    auto reply = networkStatus([] { return false; });
    if (!reply) return 0;
    writeString(EngineKey::Store, value::kRealTimeStatusStrings, *reply);
    if (m_link->extendedRequest() || s.start.family != EngineFamily::Page) return 1;
    return networkOptionCard(s, *reply, stopped) ? 1 : 0;
}

PassOutcome Engine::periodicNetworkRead(const Session& s, std::string& reply)
{
    auto cancelled = [&] { return m_realTimeRun == 0; };
    auto got = networkStatus(cancelled);
    if (!got) {
        if (cancelled()) return PassOutcome::ThreadEnds;
        reportError(kCommFailure);
        return PassOutcome::NextPassNow;
    }
    reply = *got;
    if (reply.empty()) return PassOutcome::Empty;
    if (m_link->extendedRequest() || s.start.family != EngineFamily::Page) return PassOutcome::Reply;
    if (networkOptionCard(s, reply, cancelled)) return PassOutcome::Reply;
    if (cancelled()) return PassOutcome::ThreadEnds;
    reportError(kCommFailure);
    return PassOutcome::NextPassNow;
}

}  // namespace vigil
