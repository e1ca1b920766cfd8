#pragma once
// An IPv4 or IPv6 address as one value: what a hop, a destination or a probe's answerer is,
// whichever family the route runs over. Standard library only, so the socket code can use it.
#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct sockaddr;
struct sockaddr_storage;

namespace quokka {

class NetAddress {
public:
    enum class Family : std::uint8_t { None, V4, V6 };

    // No address (Family::None): what a silent hop answers.
    NetAddress() = default;
    // The IPv4 address NETWORK_ORDER, as the sockets give it.
    static NetAddress V4(std::uint32_t networkOrder);
    // The IPv6 address of these 16 bytes, in the order they travel.
    static NetAddress V6(const std::array<std::uint8_t, 16> &bytes);
    // TEXT as dotted-decimal IPv4 or as IPv6 text (any form inet_pton takes; no brackets, no
    // zone); nothing for anything else.
    static std::optional<NetAddress> Parse(std::string_view text);
    // The address of a socket address of either family; no address for any other family.
    static NetAddress FromSockaddr(const sockaddr *address);

    Family GetFamily() const { return m_family; }
    bool IsV4() const { return m_family == Family::V4; }
    bool IsV6() const { return m_family == Family::V6; }
    explicit operator bool() const { return m_family != Family::None; }

    // The IPv4 address in network order (0 unless IsV4).
    std::uint32_t V4NetworkOrder() const;
    // The IPv4 address in host order (a*2^24 + b*2^16 + c*2^8 + d; 0 unless IsV4).
    std::uint32_t V4HostOrder() const;
    // The IPv6 address's bytes (all zero unless IsV6).
    const std::array<std::uint8_t, 16> &V6Bytes() const { return m_bytes; }

    // Dotted decimal, or IPv6 in its RFC 5952 form (lower case, the longest run of zero
    // groups shortened); empty for no address.
    std::string ToString() const;
    // The most characters ToString gives for an IPv6 address.
    static constexpr std::size_t kLongestV6Text = 45;
    // Writes ToString's text of the IPv6 address BYTES at OUT (room for kLongestV6Text) and
    // returns its end: for paths that write millions of addresses.
    static char *WriteV6(const std::array<std::uint8_t, 16> &bytes, char *out);
    // Fills STORAGE with the address and PORT (host order) and returns its length; 0 for no
    // address.
    unsigned ToSockaddr(sockaddr_storage &storage, std::uint16_t port = 0) const;

    friend bool operator==(const NetAddress &, const NetAddress &) = default;
    // Orders by family (IPv4 first), then by the address's bytes.
    friend auto operator<=>(const NetAddress &, const NetAddress &) = default;

private:
    Family m_family = Family::None;
    std::array<std::uint8_t, 16> m_bytes{}; // IPv4: the first four in network order, the rest zero
};

} // namespace quokka
