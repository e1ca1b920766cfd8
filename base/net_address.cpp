#include "base/net_address.h"

#include <arpa/inet.h>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>

namespace quokka {

NetAddress NetAddress::V4(std::uint32_t networkOrder)
{
    NetAddress address;
    address.m_family = Family::V4;
    std::memcpy(address.m_bytes.data(), &networkOrder, 4);
    return address;
}

NetAddress NetAddress::V6(const std::array<std::uint8_t, 16> &bytes)
{
    NetAddress address;
    address.m_family = Family::V6;
    address.m_bytes = bytes;
    return address;
}

std::optional<NetAddress> NetAddress::Parse(std::string_view text)
{
    // Longer than any IPv6 text (45 characters with an IPv4 tail): no address.
    char buffer[INET6_ADDRSTRLEN];
    if (text.empty() || text.size() >= sizeof buffer || text.find('\0') != std::string_view::npos)
        return std::nullopt;
    std::memcpy(buffer, text.data(), text.size());
    buffer[text.size()] = '\0';
    in_addr v4{};
    if (inet_pton(AF_INET, buffer, &v4) == 1)
        return V4(v4.s_addr);
    std::array<std::uint8_t, 16> v6{};
    if (inet_pton(AF_INET6, buffer, v6.data()) == 1)
        return V6(v6);
    return std::nullopt;
}

NetAddress NetAddress::FromSockaddr(const sockaddr *address)
{
    if (address == nullptr)
        return {};
    if (address->sa_family == AF_INET) {
        sockaddr_in v4;
        std::memcpy(&v4, address, sizeof v4);
        return V4(v4.sin_addr.s_addr);
    }
    if (address->sa_family == AF_INET6) {
        sockaddr_in6 v6;
        std::memcpy(&v6, address, sizeof v6);
        std::array<std::uint8_t, 16> bytes;
        std::memcpy(bytes.data(), &v6.sin6_addr, 16);
        return V6(bytes);
    }
    return {};
}

std::uint32_t NetAddress::V4NetworkOrder() const
{
    std::uint32_t value = 0;
    if (IsV4())
        std::memcpy(&value, m_bytes.data(), 4);
    return value;
}

std::uint32_t NetAddress::V4HostOrder() const
{
    return ntohl(V4NetworkOrder());
}

std::string NetAddress::ToString() const
{
    char text[INET6_ADDRSTRLEN] = {};
    if (IsV4())
        inet_ntop(AF_INET, m_bytes.data(), text, sizeof text);
    else if (IsV6())
        inet_ntop(AF_INET6, m_bytes.data(), text, sizeof text); // glibc writes RFC 5952's form
    return text;
}

unsigned NetAddress::ToSockaddr(sockaddr_storage &storage, std::uint16_t port) const
{
    std::memset(&storage, 0, sizeof storage);
    if (IsV4()) {
        sockaddr_in v4{};
        v4.sin_family = AF_INET;
        v4.sin_port = htons(port);
        std::memcpy(&v4.sin_addr, m_bytes.data(), 4);
        std::memcpy(&storage, &v4, sizeof v4);
        return sizeof v4;
    }
    if (IsV6()) {
        sockaddr_in6 v6{};
        v6.sin6_family = AF_INET6;
        v6.sin6_port = htons(port);
        std::memcpy(&v6.sin6_addr, m_bytes.data(), 16);
        std::memcpy(&storage, &v6, sizeof v6);
        return sizeof v6;
    }
    return 0;
}

} // namespace quokka
