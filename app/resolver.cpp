#include "app/resolver.h"

#include "base/ipv4_names.h"

std::optional<QString> ResolveFirstIPv4(const QString &name)
{
    const QStringList addresses = ResolveIPv4(name);
    if (addresses.isEmpty())
        return std::nullopt;
    return addresses.first();
}
