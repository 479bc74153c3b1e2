// The network link: the connection to the file server, IPX, the printer located behind the queue, and
// the request/reply exchanges with the printer's network interface.
//
// One mutex serialises open, request and close, so a close waits for a location or request under way;
// it first raises the cancel signal, which every wait of the link watches (the pause between
// requests, each reply's wait, the address lookup), so that wait ends at once.

#include "vigil/netware_link.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <vector>

#include "plat/base/trace.h"
#include "plat/netware/client.h"
#include "plat/port/port.h"
#include "vigil/ipx_packets.h"

namespace vigil {

namespace nw = plat::netware;
using std::chrono::milliseconds;

namespace {

constexpr int kControlBlocks = 5;
constexpr std::size_t kPacketBytes = 576;
constexpr std::uint32_t kAttachTimeout = 50000;
constexpr std::size_t kMaxServicingPrinters = 255;
constexpr int kConnectTries = 5;
constexpr nw::Ticks kReplyWait{20};
constexpr milliseconds kRequestSpacing{2000};
constexpr std::size_t kPrintServerNameLimit = 511;

std::string upper(std::string_view s)
{
    std::string out(s.substr(0, kPrintServerNameLimit));
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return out;
}

}  // namespace

class NetwareLink::Impl {
public:
    explicit Impl(NetwareLinkOptions options)
        : m_programDirectory(options.programDirectory.empty() ? addressLookupDirectory() : options.programDirectory),
          m_clock(options.clock != nullptr ? *options.clock : plat::steadyClock())
    {
    }
    ~Impl()
    {
        std::lock_guard lock(m_mutex);
        release();
    }

    bool open(std::string_view queuePath);
    bool request(Request kind, std::span<char> destination, std::uint32_t& length);
    bool close(bool forGood);
    bool extendedRequest() const { return m_extended; }
    std::optional<Located> located() const
    {
        std::lock_guard lock(m_mutex);
        if (!m_located) return std::nullopt;
        return Located{m_printServer, m_printer};
    }

private:
    enum class Wait { Reply, NoReply, Cancelled, Failed };

    bool openConnection(const std::string& server);
    bool locate(const std::string& queue);
    bool connect(const std::string& printServer, std::uint16_t printer);
    bool query(Request kind, std::span<char> destination, std::uint32_t& length);
    // Sends the request data behind an IPX header to `to` through `target`, then waits up to `wait`
    // for the reply with the request's sequence number; other packets are dropped.
    Wait exchange(const ipx::Request& request, const nw::Address& to, const std::array<std::uint8_t, 6>& target,
                  nw::Ticks wait, std::vector<std::uint8_t>& reply);
    bool closeLocked(bool forGood, bool fromFailedOpen);
    void release();  // the IPX side: socket, buffers, lookups, the located printer
    bool cancelled() const { return m_shutDown || m_cancel; }
    milliseconds scaled(milliseconds fixed) const { return m_clock.real(fixed); }
    milliseconds replyWait(nw::Ticks ticks) const
    {
        return std::max(kMinimumReplyWait, scaled(nw::toMilliseconds(ticks)));
    }

    const std::filesystem::path m_programDirectory;
    const plat::Clock& m_clock;
    std::atomic<bool> m_shutDown{false}, m_cancel{false}, m_extended{false};
    plat::port::Interrupt m_cancelSignal;  // raised with m_cancel: ends the waits under way

    mutable std::mutex m_mutex;  // held by open, request and close for their whole run
    // Everything below is guarded by m_mutex.
    bool m_open = false, m_ipxNeedsInit = true, m_located = false, m_conversationOpen = false;
    bool m_directoryMode = false, m_requestEvent = false;
    std::string m_locatedPath;  // the queue path the printer was located for
    nw::Connection m_connection;
    nw::IpxSession m_ipx;
    nw::Socket m_socket;
    nw::DirectoryContext m_context;
    std::string m_printServer;
    std::uint16_t m_printer = 0;
    nw::Address m_printServerAddress, m_conversationAddress;
    std::optional<std::array<std::uint8_t, 6>> m_serverTarget, m_conversationTarget;  // the lookups' results
    std::vector<std::uint8_t> m_sendBuffer, m_receiveBuffer;
    std::uint32_t m_sequence = 0;
};

// ---- open ---------------------------------------------------------------------------------------

bool NetwareLink::Impl::open(std::string_view queuePath)
{
    if (m_shutDown) return false;
    std::lock_guard lock(m_mutex);
    if (m_shutDown) return false;
    m_cancel = false;
    m_cancelSignal.clear();
    auto path = splitQueuePath(queuePath);
    if (!path) return false;
    if (!openConnection(path->server)) return false;
    const std::string pathText = path->server + "\\" + path->queue;
    // The located printer is kept across closes that are not for good, for the same queue only.
    if (m_located && m_locatedPath == pathText) return true;
    m_located = false;
    if (locate(path->queue)) {
        m_located = true;
        m_locatedPath = pathText;
        return true;
    }
    closeLocked(/*forGood=*/true, /*fromFailedOpen=*/true);
    return false;
}

bool NetwareLink::Impl::openConnection(const std::string& serverName)
{
    if (m_open) return false;
    if (auto calls = nw::initCalls(); !calls) {
        plat::trace("network link: " + calls.error().detail);
        return false;
    }
    bool initialisedHere = false;
    if (m_ipxNeedsInit) {
        auto ipx = nw::ipxInitialize(kControlBlocks, kPacketBytes);
        if (!ipx) return false;
        auto socket = nw::openSocket(ipx.value());
        if (!socket) {
            nw::ipxDeinitialize(ipx.value());
            plat::trace("network link: " + socket.error().detail);
            return false;
        }
        m_ipx = ipx.value();
        m_socket = std::move(socket.value());
        m_ipxNeedsInit = false;
        initialisedHere = true;
    }
    auto fail = [&](const std::string& why) {
        plat::trace("network link: " + why);
        if (initialisedHere) {
            nw::closeSocket(m_socket);
            nw::ipxDeinitialize(m_ipx);
            m_ipxNeedsInit = true;
        }
        return false;
    };

    auto connection = nw::connectionHandle(serverName);
    if (!connection) return fail(connection.error().detail);
    const std::string& server = connection->server;
    if (auto object = nw::scanObject(connection.value(), server, nw::kObjectPrinterInterface); !object) {
        return fail(object.error().detail);
    }
    auto property = nw::scanProperty(connection.value(), server, nw::kObjectPrinterInterface, "*");
    if (!property) return fail(property.error().detail);
    auto segment = nw::readPropertyValue(connection.value(), server, nw::kObjectPrinterInterface, property.value(), 1);
    if (!segment) return fail(segment.error().detail);
    std::copy_n(segment->begin(), m_printServerAddress.bytes.size(), m_printServerAddress.bytes.begin());

    if (initialisedHere) {
        m_sendBuffer.assign(ipx::kHeaderBytes + ipx::kSendBufferBytes, 0);
        m_receiveBuffer.assign(ipx::kHeaderBytes + ipx::kReceiveBufferBytes, 0);
    }
    if (!m_serverTarget) {
        auto lookup = lookUpAddress(m_printServerAddress, m_programDirectory, m_cancelSignal.fd());
        if (!lookup || lookup->code != 0) return fail("no local target for " + m_printServerAddress.text());
        m_serverTarget = lookup->localTarget;
    }

    auto version = nw::fileServerVersion(connection.value());
    if (!version) return fail(version.error().detail);
    m_directoryMode = version->major == 4;
    if (m_directoryMode) {
        auto locale = nw::setLocale("");
        if (!locale) return fail(locale.error().detail);
        if (auto tables = nw::initUnicodeTables(locale->country, locale->codePage); !tables) {
            return fail(tables.error().detail);
        }
        auto undoTables = [&](const std::string& why) {
            nw::freeUnicodeTables();
            m_directoryMode = false;
            return fail(why);
        };
        auto context = nw::createContext();
        if (!context) return undoTables(context.error().detail);
        m_context = context.value();
        auto undoContext = [&](const std::string& why) {
            nw::freeContext(m_context);
            return undoTables(why);
        };
        auto nameContext = nw::binderyContext(connection.value());
        if (!nameContext) return undoContext(nameContext.error().detail);
        if (auto set = nw::setContext(m_context, nw::ContextKey::NameContext, nameContext.value()); !set) {
            return undoContext(set.error().detail);
        }
        if (auto set = nw::setContext(m_context, nw::ContextKey::Typeless, "1"); !set) {
            return undoContext(set.error().detail);
        }
    }
    m_connection = connection.value();
    m_requestEvent = true;
    m_open = true;
    return true;
}

// ---- locate -------------------------------------------------------------------------------------

bool NetwareLink::Impl::locate(const std::string& queue)
{
    nw::QueueAttributeScan scan;
    auto name = m_directoryMode ? nw::firstPrintQueueAttribute(m_context, queue, scan)
                                : nw::firstPrintQueueAttribute(m_connection, queue, scan);
    bool found = false;
    while (name && !found && !cancelled()) {
        std::string printServer = name.value();
        if (m_directoryMode) {
            auto typeless = nw::removeAllTypes(m_context, printServer);
            if (!typeless) break;
            printServer = typeless.value();
        }
        printServer = upper(printServer);
        auto attached = nw::attachToPrintServer(m_connection, printServer, kAttachTimeout);
        if (!attached) {
            // Nothing to attach to: the name is the printer's network interface itself.
            if (connect(printServer, 0)) {
                m_printServer = printServer;
                m_printer = 0;
                found = true;
            }
        } else {
            if (nw::loginToPrintServer(attached.value())) {
                auto printers = nw::printersServicingQueue(attached.value(), queue, kMaxServicingPrinters);
                for (std::uint16_t printer : printers ? printers.value() : std::vector<std::uint16_t>{}) {
                    if (cancelled()) break;
                    if (connect(printServer, printer)) {
                        m_printServer = printServer;
                        m_printer = printer;
                        found = true;
                        break;
                    }
                }
            }
            nw::detachFromPrintServer(attached.value());
        }
        if (!found) name = nw::nextPrintQueueAttribute(scan);
    }
    nw::endPrintQueueAttributeScan(scan);
    return found;
}

// ---- exchanges ----------------------------------------------------------------------------------

NetwareLink::Impl::Wait NetwareLink::Impl::exchange(const ipx::Request& request, const nw::Address& to,
                                                    const std::array<std::uint8_t, 6>& target, nw::Ticks wait,
                                                    std::vector<std::uint8_t>& reply)
{
    const std::vector<std::uint8_t> data = ipx::encode(request);
    if (data.size() > ipx::kSendBufferBytes || m_sendBuffer.size() < ipx::kHeaderBytes + data.size()) {
        return Wait::Failed;
    }
    const ipx::Header header{static_cast<std::uint16_t>(ipx::kHeaderBytes + data.size()), ipx::kPacketType, to,
                             m_socket.address()};
    ipx::writeHeader(header, std::span(m_sendBuffer).first<ipx::kHeaderBytes>());
    std::copy(data.begin(), data.end(), m_sendBuffer.begin() + ipx::kHeaderBytes);
    const auto packet = std::span(m_sendBuffer).first(ipx::kHeaderBytes + data.size());
    if (auto sent = nw::send(m_socket, packet, target); !sent) {
        plat::trace("network link: " + sent.error().detail);
        return Wait::Failed;
    }
    const auto deadline = std::chrono::steady_clock::now() + replyWait(wait);
    for (;;) {
        const auto left = std::chrono::duration_cast<milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return Wait::NoReply;
        std::fill(m_receiveBuffer.begin(), m_receiveBuffer.end(), std::uint8_t{0});
        auto got = nw::receive(m_socket, m_receiveBuffer, left, m_cancelSignal.fd());
        if (!got) {
            if (got.error().code == ECANCELED) return Wait::Cancelled;
            if (got.error().code == ETIMEDOUT) return Wait::NoReply;
            plat::trace("network link: " + got.error().detail);
            return Wait::Failed;
        }
        const std::size_t size = got.value();
        // A packet without a whole header and the data's fixed part carries no sequence number.
        if (size < ipx::kHeaderBytes + 9) continue;
        const auto body =
            std::span<const std::uint8_t>(m_receiveBuffer).subspan(ipx::kHeaderBytes, size - ipx::kHeaderBytes);
        const std::uint32_t sequence =
            std::uint32_t{body[3]} << 24 | std::uint32_t{body[4]} << 16 | std::uint32_t{body[5]} << 8 | body[6];
        // A late reply to an earlier request is not this one's.
        if (sequence != request.sequence) continue;
        reply.assign(body.begin(), body.end());
        return Wait::Reply;
    }
}

bool NetwareLink::Impl::connect(const std::string& printServer, std::uint16_t printer)
{
    if (!m_open || !m_serverTarget) return false;
    m_conversationOpen = false;
    std::vector<std::uint8_t> reply;
    bool answered = false;
    for (int attempt = 1; attempt <= kConnectTries && !answered; ++attempt) {
        if (cancelled()) return false;
        const auto request = ipx::connectRequest(printServer, printer, ++m_sequence);
        switch (exchange(request, m_printServerAddress, *m_serverTarget, kReplyWait * attempt, reply)) {
        case Wait::Reply: answered = true; break;
        case Wait::NoReply: break;
        case Wait::Cancelled:
        case Wait::Failed: return false;
        }
    }
    if (!answered) return false;
    auto parsed = ipx::parseConnectReply(reply);
    if (!parsed) return false;
    if (!m_conversationTarget) {
        auto lookup = lookUpAddress(parsed->conversation, m_programDirectory, m_cancelSignal.fd());
        if (!lookup || lookup->code != 0) {
            plat::trace("network link: no local target for " + parsed->conversation.text());
            return false;
        }
        m_conversationTarget = lookup->localTarget;
    }
    m_conversationAddress = parsed->conversation;
    m_conversationOpen = true;
    m_extended = parsed->extendedRequest;
    return true;
}

bool NetwareLink::Impl::query(Request kind, std::span<char> destination, std::uint32_t& length)
{
    if (cancelled() || !m_open || !m_conversationOpen || !m_conversationTarget) return false;
    const auto requestKind = static_cast<ipx::Kind>(kind);
    const bool extended = m_extended;
    auto request = ipx::queryRequest(requestKind, extended, ++m_sequence);
    if (!request) return false;  // the extended request has no option card
    std::vector<std::uint8_t> reply;
    if (exchange(*request, m_conversationAddress, *m_conversationTarget, kReplyWait, reply) != Wait::Reply) {
        return false;
    }
    auto payload = ipx::parseReply(requestKind, extended, reply);
    if (!payload) return false;
    // The interface's length is not trusted to fit the caller's buffer: more is a failed request.
    if (payload->length > destination.size()) {
        plat::trace("network link: a reply of " + std::to_string(payload->length) + " bytes does not fit " +
                    std::to_string(destination.size()));
        return false;
    }
    std::memcpy(destination.data(), reply.data() + payload->offset, payload->length);
    length = static_cast<std::uint32_t>(payload->length);
    return true;
}

bool NetwareLink::Impl::request(Request kind, std::span<char> destination, std::uint32_t& length)
{
    length = 0;
    std::lock_guard lock(m_mutex);
    if (!m_receiveBuffer.empty()) std::fill(m_receiveBuffer.begin(), m_receiveBuffer.end(), std::uint8_t{0});
    // The event is set only by an open: every later request on the open link waits the full spacing
    // (a close cuts it short). A closed link has no event to wait on and fails at once.
    if (m_open && !m_requestEvent) m_cancelSignal.sleepFor(scaled(kRequestSpacing));
    const bool ok = m_open && m_located && connect(m_printServer, m_printer) && query(kind, destination, length);
    m_requestEvent = false;
    if (!ok) length = 0;
    return ok;
}

// ---- close --------------------------------------------------------------------------------------

bool NetwareLink::Impl::close(bool forGood)
{
    m_cancel = true;
    m_cancelSignal.raise();
    std::lock_guard lock(m_mutex);  // whatever was under way has seen the cancel and ends
    return closeLocked(forGood, /*fromFailedOpen=*/false);
}

bool NetwareLink::Impl::closeLocked(bool forGood, bool fromFailedOpen)
{
    const bool wasOpen = m_open;
    if (wasOpen) {
        if (m_directoryMode) {
            nw::freeContext(m_context);
            nw::freeUnicodeTables();
            m_directoryMode = false;
        }
        m_requestEvent = false;
    }
    if (forGood) {
        // Even a link that is no longer open is ended for good: nothing opens one after this.
        if (!fromFailedOpen) m_shutDown = true;
        if (wasOpen || !fromFailedOpen) release();
    }
    m_open = false;
    m_extended = false;
    m_conversationOpen = false;
    return wasOpen;
}

void NetwareLink::Impl::release()
{
    nw::closeSocket(m_socket);
    m_sendBuffer = {};
    m_receiveBuffer = {};
    nw::ipxDeinitialize(m_ipx);
    m_ipxNeedsInit = true;
    m_serverTarget.reset();
    m_conversationTarget.reset();
    m_located = false;
    m_locatedPath.clear();
}

// ---- the public face ----------------------------------------------------------------------------

NetwareLink::NetwareLink(NetwareLinkOptions options) : m_impl(std::make_unique<Impl>(std::move(options))) {}
NetwareLink::~NetwareLink() = default;
bool NetwareLink::open(std::string_view queuePath) { return m_impl->open(queuePath); }
bool NetwareLink::request(Request kind, std::span<char> destination, std::uint32_t& length)
{
    return m_impl->request(kind, destination, length);
}
bool NetwareLink::close(bool forGood) { return m_impl->close(forGood); }
bool NetwareLink::extendedRequest() const { return m_impl->extendedRequest(); }
std::optional<NetwareLink::Located> NetwareLink::located() const { return m_impl->located(); }

}  // namespace vigil
