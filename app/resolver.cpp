#include "resolver.h"

#include <QUrl>
#include <arpa/inet.h>
#include <memory>
#include <netdb.h>

std::optional<QString> ResolveFirstIPv4(const QString &name)
{
    QByteArray ascii = QUrl::toAce(name);
    if (ascii.isEmpty())
        ascii = name.toUtf8();
    if (ascii.contains('\0'))
        return std::nullopt;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM; // one entry per address
    addrinfo *found = nullptr;
    if (::getaddrinfo(ascii.constData(), nullptr, &hints, &found) != 0 || found == nullptr)
        return std::nullopt;
    const std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> owner(found, &::freeaddrinfo);
    const auto *address = reinterpret_cast<const sockaddr_in *>(found->ai_addr);
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address->sin_addr, text, sizeof text);
    return QString::fromLatin1(text);
}
