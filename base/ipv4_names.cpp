#include "base/ipv4_names.h"

#include "base/abandonable_call.h"
#include "base/net_address.h"

#include <QUrl>
#include <arpa/inet.h>
#include <array>
#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <vector>

namespace quokka {
namespace {

// The resolver's own answer for the ASCII name in FAMILY: it may block for its whole time-out.
QStringList LookupFamily(const QByteArray &ascii, int family)
{
    const int length = family == AF_INET ? 4 : 16;
    std::vector<char> buffer(2048);
    hostent entry{};
    hostent *found = nullptr;
    int error = 0;
    while (::gethostbyname2_r(ascii.constData(), family, &entry, buffer.data(), buffer.size(), &found, &error)
               == ERANGE
           && buffer.size() < (1U << 20))
        buffer.resize(buffer.size() * 2);
    QStringList addresses;
    if (!found || found->h_addrtype != family || found->h_length != length)
        return addresses;
    for (char **address = found->h_addr_list; *address; ++address) {
        if (family == AF_INET) {
            char dotted[INET_ADDRSTRLEN] = {};
            if (::inet_ntop(AF_INET, *address, dotted, sizeof dotted))
                addresses << QString::fromLatin1(dotted);
            continue;
        }
        std::array<std::uint8_t, 16> bytes{};
        std::memcpy(bytes.data(), *address, bytes.size());
        addresses << QString::fromStdString(NetAddress::V6(bytes).ToString());
    }
    return addresses;
}

QStringList ResolveFamily(const QString &name, int family, std::stop_token stop)
{
    QByteArray ascii = QUrl::toAce(name);
    if (ascii.isEmpty())
        ascii = name.toUtf8(); // not a valid name; the resolver says so
    if (ascii.isEmpty() || ascii.contains('\0'))
        return {};
    return CallUnlessStopped<QStringList>([ascii, family] { return LookupFamily(ascii, family); }, std::move(stop))
        .value_or(QStringList());
}

} // namespace

QStringList ResolveIPv4(const QString &name, std::stop_token stop)
{
    return ResolveFamily(name, AF_INET, std::move(stop));
}

QStringList ResolveIPv6(const QString &name, std::stop_token stop)
{
    return ResolveFamily(name, AF_INET6, std::move(stop));
}

} // namespace quokka
