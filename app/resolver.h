#pragma once
// Name resolution for an exploration: the typed text to its first IPv4 address.
#include <QString>
#include <optional>
#include <stop_token>

namespace quokka::app {

// The first IPv4 address of NAME as dotted text, or nothing when it does not resolve or STOP
// is requested before the resolver answers (it then returns at once). International names
// are resolved through their ASCII (IDNA) form.
std::optional<QString> ResolveFirstIPv4(const QString &name, std::stop_token stop = {});

} // namespace quokka::app
