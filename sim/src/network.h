#pragma once
// A simulated printer's network interface: what it answers to the packets that reach it over IPX (on
// this system, UDP datagrams on the loopback network). It knows no sockets: the server hands it each
// datagram and sends back what it answers.
//
// Two kinds of socket take packets: a file server's print-server address, where connect requests go
// and are answered for every interface behind that file server, and each interface's own conversation
// address, where the queries go. Anything that is not a well-formed request of the right kind for that
// socket (too short, not IPX packet type 4, an unknown function or code) is ignored, as an interface
// would drop it.

#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "plat/netware/environment.h"
#include "printer.h"

namespace vprinter::net {

using Datagram = std::vector<std::uint8_t>;

// Where the interface is found: the print server name and printer number a connect names, on a file
// server. Names are upper-cased.
struct Identity {
    std::string server, name;
    std::uint8_t number = 0;
    bool extended = false;  // offers the extended query (said in the connect reply)
};

// "NET:FS1/PS1/0": how the interface is named to `vprinter ctl` and in its printer's "show".
std::string displayName(const Identity& identity);

// A bindery name as the environment file takes it: 1..47 bytes, none of them a blank, a control
// character or "/" (which separates the parts of a display name).
bool validName(std::string_view name);

class Interface {
public:
    Interface(Identity identity, Printer& printer);

    const Identity& identity() const { return m_identity; }
    Printer& printer() { return m_printer; }
    // The conversation address, once its socket is bound.
    const plat::netware::Address& conversation() const { return m_conversation; }
    void setConversation(const plat::netware::Address& address) { m_conversation = address; }

    // A datagram that came to the conversation address from `from`: the reply datagram, or nothing
    // (ignored, or the printer does not answer).
    std::optional<Datagram> query(std::span<const std::uint8_t> datagram, const plat::netware::Address& from);

    // Network control commands (the reply faults, "heal", "log", "reset-log", "show"); nullopt when
    // `words` is none of them, for the printer's own control. "heal" and "show" also go on to the
    // printer, the caller joining the answers.
    std::optional<std::string> control(const std::vector<std::string>& words, bool& ok);
    // What "show" adds to the printer's own lines.
    std::string describe() const;

    // Every datagram that reached the interface, kept for "log" (the most recent ones).
    void log(std::span<const std::uint8_t> datagram);

    // Faults on the replies to queries.
    enum class Fault { None, WrongSequence, ShortReply, OversizedReply };
    Fault fault() const { return m_fault; }

private:
    Datagram reply(const plat::netware::Address& to, std::vector<std::uint8_t> data, std::size_t headerLength) const;

    Identity m_identity;
    Printer& m_printer;
    plat::netware::Address m_conversation;
    Fault m_fault = Fault::None;
    std::deque<std::string> m_log;  // formatted lines
    std::size_t m_logged = 0;       // datagrams logged so far, the number of the next line
};

// A datagram that came to a file server's print-server address `self` from `from`: the connect reply
// for the interface it names among `interfaces` (a refusal when none is named, or when the printer
// refuses opens), or nothing (ignored, or the printer is unplugged). `named`, when given, is set to the
// interface the connect named (its printer's delay applies to the reply).
std::optional<Datagram> connect(std::span<Interface* const> interfaces, std::span<const std::uint8_t> datagram,
                                const plat::netware::Address& self, const plat::netware::Address& from,
                                Interface** named = nullptr);

// The replies to queries hold what fits the interface's 556-byte reply; an oversized reply goes past it.
inline constexpr std::size_t kOversizedReplyBytes = 600;
// The connect reply's result for a name or number this file server does not know, or a printer that
// refuses the conversation.
inline constexpr std::uint8_t kConnectRefused = 0xFB;

}  // namespace vprinter::net
