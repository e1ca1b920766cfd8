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
        return {text, WriteV6(m_bytes, text)};
    return text;
}

// RFC 5952's form, as glibc's inet_ntop writes it: the groups in lower-case hex without leading
// zeros, the longest run of two or more zero groups (the first of equal ones) as "::", and
// the last four bytes in dotted decimal after a run of the first five or six groups (an
// IPv4-mapped address, or one of the old IPv4-compatible ones).
char *NetAddress::WriteV6(const std::array<std::uint8_t, 16> &bytes, char *out)
{
    unsigned groups[8];
    for (std::size_t i = 0; i < 8; ++i)
        groups[i] = unsigned(bytes[2 * i]) << 8 | bytes[2 * i + 1];
    int runStart = -1, runLength = 0;
    for (int i = 0; i < 8;) {
        int end = i;
        while (end < 8 && groups[end] == 0)
            ++end;
        if (end - i > runLength && end - i >= 2) {
            runStart = i;
            runLength = end - i;
        }
        i = end == i ? i + 1 : end;
    }
    static constexpr char kHex[] = "0123456789abcdef";
    for (int i = 0; i < 8; ++i) {
        if (i == runStart) {
            *out++ = ':';
            i += runLength - 1;
            if (i == 7)
                *out++ = ':';
            continue;
        }
        if (i != 0)
            *out++ = ':';
        if (i == 6 && runStart == 0 && (runLength == 6 || (runLength == 5 && groups[5] == 0xffff))) {
            char text[INET_ADDRSTRLEN];
            inet_ntop(AF_INET, bytes.data() + 12, text, sizeof text);
            const std::size_t length = std::strlen(text);
            std::memcpy(out, text, length);
            return out + length;
        }
        const unsigned group = groups[i];
        for (int shift = group >= 0x1000 ? 12 : group >= 0x100 ? 8 : group >= 0x10 ? 4 : 0; shift >= 0; shift -= 4)
            *out++ = kHex[(group >> shift) & 15];
    }
    return out;
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
