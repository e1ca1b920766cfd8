#include "base/visible_text.h"

namespace quokka {

namespace {

// Characters that change how the text around them is read or laid out rather than showing.
bool IsInvisibleFormat(char16_t c)
{
    return (c >= 0x80 && c <= 0x9f)          // C1 controls
        || c == 0x2028 || c == 0x2029         // line and paragraph separators
        || (c >= 0x202a && c <= 0x202e)       // embeddings and overrides
        || (c >= 0x2066 && c <= 0x2069)       // isolates
        || c == 0x200e || c == 0x200f || c == 0x061c; // directional marks
}

} // namespace

QString VisibleText(const QString &text)
{
    QString visible;
    visible.reserve(text.size());
    for (const QChar ch : text) {
        const char16_t c = ch.unicode();
        if (c < 0x20)
            visible += QChar(char16_t(0x2400 + c)); // U+2400..U+241F: the control pictures
        else if (c == 0x7f)
            visible += QChar(char16_t(0x2421));
        else if (IsInvisibleFormat(c))
            visible += QStringLiteral("<U+%1>").arg(unsigned(c), 4, 16, QLatin1Char('0')).toUpper();
        else
            visible += ch;
    }
    return visible;
}

QString PlainToolTipHtml(const QStringList &lines, const LineBreaker &breakLine)
{
    // "<qt>" makes Qt take the text as rich text whatever it holds; every line is escaped.
    QStringList shown;
    for (const QString &line : lines)
        for (const QString &part : breakLine ? breakLine(line) : QStringList{line})
            shown << part.toHtmlEscaped();
    return QStringLiteral("<qt><p style=\"white-space:pre\">") + shown.join(QStringLiteral("<br/>"))
        + QStringLiteral("</p></qt>");
}

} // namespace quokka
