#pragma once
// Text from strangers (host names, AS names, WHOIS lines) made safe to show on one line: each
// control character (C0 and DEL as their Unicode control pictures, C1 as <U+0085>), line and
// paragraph separator and bidirectional override is replaced by a visible stand-in, so what
// a person reads is what the text holds. Everything else is kept as it is.
#include <QString>

namespace quokka {

QString VisibleText(const QString &text);

} // namespace quokka
