#include "base/ipv4_names.h"

#include "base/abandonable_call.h"

#include <QUrl>
#include <arpa/inet.h>
#include <cerrno>
#include <netdb.h>
#include <vector>

namespace quokka {
namespace {

// The resolver's own answer for the ASCII name: it may block for its whole time-out.
QStringList Lookup(const QByteArray &ascii)
{
    std::vector<char> buffer(2048);
    hostent entry{};
    hostent *found = nullptr;
    int error = 0;
    while (::gethostbyname2_r(ascii.constData(), AF_INET, &entry, buffer.data(), buffer.size(), &found, &error)
               == ERANGE
           && buffer.size() < (1U << 20))
        buffer.resize(buffer.size() * 2);
    QStringList addresses;
    if (!found || found->h_addrtype != AF_INET || found->h_length != 4)
        return addresses;
    for (char **address = found->h_addr_list; *address; ++address) {
        char dotted[INET_ADDRSTRLEN] = {};
        if (::inet_ntop(AF_INET, *address, dotted, sizeof dotted))
            addresses << QString::fromLatin1(dotted);
    }
    return addresses;
}

} // namespace

QStringList ResolveIPv4(const QString &name, std::stop_token stop)
{
    QByteArray ascii = QUrl::toAce(name);
    if (ascii.isEmpty())
        ascii = name.toUtf8(); // not a valid name; the resolver says so
    if (ascii.isEmpty() || ascii.contains('\0'))
        return {};
    return CallUnlessStopped<QStringList>([ascii] { return Lookup(ascii); }, std::move(stop))
        .value_or(QStringList());
}

} // namespace quokka
