#pragma once
// Names to IPv4 and IPv6 addresses, as the resolver lists them.
#include <QStringList>
#include <stop_token>

// The IPv4 addresses NAME resolves to, as dotted text, in the resolver's own order (the hosts
// file's, the DNS answer's): unlike getaddrinfo, no address is moved ahead of another for
// being nearer. International names are resolved through their ASCII (IDNA) form. Empty when
// the name does not resolve. Blocks for as long as the resolver takes, unless STOP is
// requested first: then it returns empty at once and the resolver's call ends on its own.
namespace quokka {

QStringList ResolveIPv4(const QString &name, std::stop_token stop = {});
// The IPv6 addresses NAME resolves to, the same way, in their RFC 5952 text form (an IPv6
// literal resolves to itself). No IPv4 address is given as an IPv4-mapped one.
QStringList ResolveIPv6(const QString &name, std::stop_token stop = {});

} // namespace quokka
