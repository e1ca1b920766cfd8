#pragma once
// Names to IPv4 addresses, as the resolver lists them.
#include <QStringList>

// The IPv4 addresses NAME resolves to, as dotted text, in the resolver's own order (the hosts
// file's, the DNS answer's): unlike getaddrinfo, no address is moved ahead of another for
// being nearer. International names are resolved through their ASCII (IDNA) form. Empty when
// the name does not resolve. Blocks for as long as the resolver takes.
QStringList ResolveIPv4(const QString &name);
