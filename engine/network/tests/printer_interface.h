#pragma once
// A printer's network interface played inside a test: a UDP responder on 127.0.0.1 built on the
// interface's side of ipx_packets.h, on a thread of its own. It answers connects for the (print
// server, printer) pairs it serves and the device ID, status and option-card queries, plain or
// extended, and can be told to stay silent or to misbehave.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "plat/netware/environment.h"
#include "vigil/ipx_packets.h"

namespace networktest {

namespace ipx = vigil::ipx;
namespace nw = plat::netware;
using Bytes = std::vector<std::uint8_t>;

class Interface {
public:
    Interface()
    {
        m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof local;
        EXPECT_EQ(::bind(m_fd, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&local), &size);
        m_port = ntohs(local.sin_port);
        m_thread = std::thread([this] { serve(); });
    }
    ~Interface()
    {
        const std::uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(m_stop, &one, sizeof one);
        m_thread.join();
        ::close(m_fd);
        ::close(m_stop);
    }

    nw::Address address() const { return nw::Address::loopback(m_port); }
    void serves(const std::string& printServer, std::uint16_t printer)
    {
        std::lock_guard lock(m_mutex);
        m_serves.insert({printServer, printer});
    }
    void setPayloads(std::string deviceId, std::string status, std::string optionCard)
    {
        std::lock_guard lock(m_mutex);
        m_payloads = {std::move(deviceId), std::move(status), std::move(optionCard)};
    }

    std::atomic<bool> extended{false};
    std::atomic<bool> silentToConnects{false}, silentToQueries{false};
    std::atomic<bool> staleReplyFirst{false};     // a reply with another sequence number goes first
    std::atomic<bool> zeroExtendedLength{false};  // the length at offset 12 is 0: the one at 9 counts
    std::atomic<int> connects{0}, queries{0};
    std::atomic<int> lastFunction{-1}, lastCode{-1};

private:
    void serve()
    {
        Bytes datagram(2048);
        for (;;) {
            pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_stop, POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0) continue;
            if (fds[1].revents != 0) return;
            sockaddr_in peer{};
            socklen_t size = sizeof peer;
            const ssize_t n =
                ::recvfrom(m_fd, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&peer), &size);
            if (n < static_cast<ssize_t>(ipx::kHeaderBytes)) continue;
            auto header = ipx::readHeader(std::span(datagram).first(static_cast<std::size_t>(n)));
            auto request = ipx::decodeRequest(std::span(datagram).subspan(ipx::kHeaderBytes, n - ipx::kHeaderBytes));
            if (!header || !request) continue;
            lastFunction = static_cast<int>(request->function);
            lastCode = request->code;
            if (request->function == ipx::Function::Connect) {
                ++connects;
                if (silentToConnects) continue;
                const std::string name(reinterpret_cast<const char*>(request->parameters.data()));
                const std::uint16_t printer = request->parameters.at(ipx::kNameFieldBytes);
                bool served = false;
                {
                    std::lock_guard lock(m_mutex);
                    served = m_serves.count({name, printer}) != 0;
                }
                answer(peer, *header, ipx::connectReply(request->sequence, served ? 0 : 1, address(), extended));
                continue;
            }
            ++queries;
            if (silentToQueries) continue;
            const bool isExtended = request->function == ipx::Function::ExtendedQuery;
            ipx::Kind kind = ipx::Kind::Status;
            if (isExtended) {
                kind = static_cast<ipx::Kind>(request->parameters.at(0));
            } else {
                kind = static_cast<ipx::Kind>(request->code - 2);
            }
            std::string payload;
            {
                std::lock_guard lock(m_mutex);
                payload = m_payloads.at(static_cast<std::size_t>(kind));
            }
            const Bytes bytes(payload.begin(), payload.end());
            if (staleReplyFirst) {
                const std::string stale = "STALE";
                answer(
                    peer, *header,
                    ipx::queryReply(kind, isExtended, request->sequence + 1000, 0, Bytes(stale.begin(), stale.end())));
            }
            Bytes reply = ipx::queryReply(kind, isExtended, request->sequence, 0, bytes);
            if (isExtended && zeroExtendedLength) reply[12] = reply[13] = 0;
            answer(peer, *header, reply);
        }
    }
    void answer(const sockaddr_in& peer, const ipx::Header& request, const Bytes& data)
    {
        Bytes packet(ipx::kHeaderBytes + data.size());
        ipx::writeHeader({static_cast<std::uint16_t>(packet.size()), ipx::kPacketType, request.source, address()},
                         std::span(packet).first<ipx::kHeaderBytes>());
        std::copy(data.begin(), data.end(), packet.begin() + ipx::kHeaderBytes);
        ::sendto(m_fd, packet.data(), packet.size(), 0, reinterpret_cast<const sockaddr*>(&peer), sizeof peer);
    }

    int m_fd = -1;
    int m_stop = ::eventfd(0, EFD_CLOEXEC);
    std::uint16_t m_port = 0;
    std::mutex m_mutex;
    std::set<std::pair<std::string, std::uint16_t>> m_serves;  // guarded by m_mutex
    std::array<std::string, 3> m_payloads{"MFG:VELTA;MDL:PG-03;", "STATUS CODE=1000", "PGSCRIPT mlS OPTIONCARD"};
    std::thread m_thread;
};

}  // namespace networktest
