#include "whois/whois_text.h"

#include <QStringDecoder>

namespace quokka::whois {
namespace {

bool IsCSpace(QChar c)
{
    const char16_t u = c.unicode();
    return u == u' ' || u == u'\t' || u == u'\n' || u == u'\v' || u == u'\f' || u == u'\r';
}

// BYTES as text when they are well-formed UTF-8; Qt's decoder rejects overlong forms,
// surrogates, code points above U+10FFFF and a sequence left unfinished at the end. A byte
// order mark at the start is dropped.
std::optional<QString> WellFormedUtf8(QByteArrayView bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

// True when BYTES are well-formed UTF-8 but for a sequence left unfinished at the end, one
// that more bytes could finish: completed with one to three of the lowest or of the highest
// continuation bytes (0x80, 0xBF), they decode. The second bytes a lead byte allows always
// reach one of those two, and later bytes may be any continuation byte, so one of the two
// finishes every sequence that can be finished.
bool Utf8ButForAnUnfinishedEnd(QByteArrayView bytes)
{
    for (const char continuation : {'\x80', '\xBF'}) {
        for (int count = 1; count <= 3; ++count) {
            const QByteArray finished = bytes.toByteArray() + QByteArray(count, continuation);
            if (WellFormedUtf8(finished))
                return true;
        }
    }
    return false;
}

} // namespace

bool IsValidUtf8(QByteArrayView bytes)
{
    return WellFormedUtf8(bytes).has_value();
}

QString DecodeAnswer(QByteArrayView bytes, bool truncated)
{
    const qsizetype nul = bytes.indexOf('\0');
    if (nul >= 0)
        bytes = bytes.first(nul);
    if (std::optional<QString> text = WellFormedUtf8(bytes))
        return *text;
    if (truncated && nul < 0 && Utf8ButForAnUnfinishedEnd(bytes)) {
        // A decoder that keeps state holds the unfinished sequence back for more bytes.
        QStringDecoder decoder(QStringDecoder::Utf8);
        return decoder.decode(bytes);
    }
    return QString::fromLatin1(bytes);
}

std::optional<QByteArray> ToLatin1Bytes(const QString &text)
{
    QByteArray bytes;
    bytes.reserve(text.size());
    for (const QChar c : text) {
        if (c.unicode() > 0xFF)
            return std::nullopt;
        bytes.append(char(c.unicode()));
    }
    return bytes;
}

QString TrimTrailingSpace(const QString &text)
{
    qsizetype end = text.size();
    while (end > 0 && IsCSpace(text[end - 1]))
        --end;
    return text.left(end);
}

QString CleanAnswer(const QString &text)
{
    QString cleaned = text;
    cleaned.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    for (int round = 0; round < 2; ++round) {
        cleaned.replace(QStringLiteral("\n#\n#"), QStringLiteral("\n"));
        cleaned.replace(QStringLiteral("\n\n"), QStringLiteral("\n"));
    }
    return cleaned;
}

QStringList SplitLines(const QString &text)
{
    QStringList lines = text.split(u'\n');
    if (lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

QStringList AnswerLines(const QString &answer, const QString &note)
{
    QStringList lines = SplitLines(CleanAnswer(answer));
    if (!note.isEmpty())
        lines << note;
    return lines;
}

bool IsContactLine(const QString &line)
{
    QString lower = line;
    for (QChar &c : lower) {
        if (c >= u'A' && c <= u'Z')
            c = QChar(c.unicode() + (u'a' - u'A'));
    }
    for (const char16_t *word : {u"e-mail", u"email", u"phone", u"abuse"}) {
        if (lower.contains(QStringView(word)))
            return true;
    }
    return false;
}

QString GetFieldValue(const QString &text, const QString &key)
{
    const qsizetype at = text.indexOf(key);
    if (at < 0)
        return {};
    const QStringView rest = QStringView(text).mid(at + key.size());
    const qsizetype lineEnd = rest.indexOf(u'\n');
    if (lineEnd < 0)
        return {};
    QStringView value = rest.first(lineEnd);
    while (!value.isEmpty() && IsCSpace(value.front()))
        value = value.sliced(1);
    return value.toString();
}

} // namespace quokka::whois
