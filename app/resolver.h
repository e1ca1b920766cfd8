#pragma once
// Name resolution for an exploration: the typed text to the address the route is traced to.
#include <QString>
#include <optional>
#include <stop_token>

namespace quokka::app {

// The address an exploration of NAME goes to, in its text form (RFC 5952 for IPv6). An IPv6
// literal, with or without brackets, is taken as it stands. A name goes to its first IPv4
// address in the resolver's own order (as ResolveIPv4 lists them; international names through
// their ASCII form), or to its first IPv6 address when it has no IPv4 one; PREFER_IPV6 turns
// that order round. Nothing when neither family resolves, or at once when STOP is requested
// before the resolver answers.
std::optional<QString> ResolveTarget(const QString &name, bool preferIPv6, std::stop_token stop = {});

// The trace window's line for a name that ResolveTarget found no address for.
QString NoAddressText(const QString &name, bool preferIPv6);

} // namespace quokka::app
