#include "app/resolver.h"

#include "base/ipv4_names.h"
#include "base/net_address.h"
#include "base/visible_text.h"

namespace quokka::app {

std::optional<QString> ResolveTarget(const QString &name, bool preferIPv6, std::stop_token stop)
{
    QString literal = name;
    if (literal.size() > 2 && literal.startsWith(u'[') && literal.endsWith(u']'))
        literal = literal.mid(1, literal.size() - 2);
    const std::optional<NetAddress> address = NetAddress::Parse(literal.toStdString());
    if (address && address->IsV6())
        return QString::fromStdString(address->ToString());
    // An IPv4 literal is the resolver's to read, as any name without the preference is.
    const bool v6First = preferIPv6 && !address;
    const auto v4 = [&] { return quokka::ResolveIPv4(name, stop); };
    const auto v6 = [&] { return quokka::ResolveIPv6(name, stop); };
    QStringList addresses = v6First ? v6() : v4();
    if (addresses.isEmpty() && !stop.stop_requested())
        addresses = v6First ? v4() : v6();
    if (addresses.isEmpty() || stop.stop_requested())
        return std::nullopt;
    return addresses.first();
}

QString NoAddressText(const QString &name, bool preferIPv6)
{
    // A name without either address is told as a missing IPv4 address unless IPv6 was asked for
    // first.
    const QString wanted = preferIPv6 ? QStringLiteral("an IPv6 or IPv4 address") : QStringLiteral("an IPv4 address");
    return QStringLiteral("Cannot find %1 for \"%2\"").arg(wanted, quokka::VisibleText(name));
}

} // namespace quokka::app
