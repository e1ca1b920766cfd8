#include "app/resolver.h"

#include "base/ipv4_names.h"

namespace quokka::app {

std::optional<QString> ResolveFirstIPv4(const QString &name, std::stop_token stop)
{
    const QStringList addresses = quokka::ResolveIPv4(name, std::move(stop));
    if (addresses.isEmpty())
        return std::nullopt;
    return addresses.first();
}

} // namespace quokka::app
