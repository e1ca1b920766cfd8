#pragma once
// Text from strangers (host names, AS names, WHOIS lines) made safe to show on one line: each
// control character (C0 and DEL as their Unicode control pictures, C1 as <U+0085>), line and
// paragraph separator and bidirectional override is replaced by a visible stand-in, so what
// a person reads is what the text holds. Everything else is kept as it is.
#include <QString>
#include <QStringList>
#include <functional>

namespace quokka {

QString VisibleText(const QString &text);

// Splits one line of a tooltip into the lines it is shown as, such as to fit the screen.
using LineBreaker = std::function<QStringList(const QString &line)>;
// LINES as Qt rich text that shows exactly that plain text (escaped), for QToolTip; each
// line broken by BREAKLINE when one is given.
QString PlainToolTipHtml(const QStringList &lines, const LineBreaker &breakLine = {});

} // namespace quokka
