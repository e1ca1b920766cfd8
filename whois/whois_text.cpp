#include "whois/whois_text.h"

#include <array>

namespace whois {
namespace {

bool IsCSpace(QChar c)
{
    const char16_t u = c.unicode();
    return u == u' ' || u == u'\t' || u == u'\n' || u == u'\v' || u == u'\f' || u == u'\r';
}

enum class Utf8State { Valid, UnfinishedAtEnd, Invalid };

struct Utf8Check {
    Utf8State state = Utf8State::Valid;
    qsizetype unfinishedStart = 0; // where the unfinished last sequence begins
};

// Length of the sequence a lead byte starts, or 0 for a byte that cannot lead.
int SequenceLength(unsigned char lead)
{
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        return 2;
    if (lead >= 0xE0 && lead <= 0xEF)
        return 3;
    if (lead >= 0xF0 && lead <= 0xF4)
        return 4;
    return 0;
}

// The allowed range of the byte after LEAD; it excludes overlong forms, surrogates and
// code points above U+10FFFF. Later continuation bytes are always 0x80-0xBF.
std::array<unsigned char, 2> SecondByteRange(unsigned char lead)
{
    switch (lead) {
    case 0xE0: return {0xA0, 0xBF};
    case 0xED: return {0x80, 0x9F};
    case 0xF0: return {0x90, 0xBF};
    case 0xF4: return {0x80, 0x8F};
    default: return {0x80, 0xBF};
    }
}

Utf8Check CheckUtf8(QByteArrayView bytes)
{
    const auto *data = reinterpret_cast<const unsigned char *>(bytes.data());
    const qsizetype size = bytes.size();
    qsizetype i = 0;
    while (i < size) {
        const int length = SequenceLength(data[i]);
        if (length == 0)
            return {Utf8State::Invalid, 0};
        for (int k = 1; k < length; ++k) {
            if (i + k >= size)
                return {Utf8State::UnfinishedAtEnd, i};
            const auto range = k == 1 ? SecondByteRange(data[i]) : std::array<unsigned char, 2>{0x80, 0xBF};
            if (data[i + k] < range[0] || data[i + k] > range[1])
                return {Utf8State::Invalid, 0};
        }
        i += length;
    }
    return {};
}

} // namespace

bool IsValidUtf8(QByteArrayView bytes)
{
    return CheckUtf8(bytes).state == Utf8State::Valid;
}

QString DecodeAnswer(QByteArrayView bytes, bool truncated)
{
    const qsizetype nul = bytes.indexOf('\0');
    if (nul >= 0)
        bytes = bytes.first(nul);
    const Utf8Check check = CheckUtf8(bytes);
    if (check.state == Utf8State::Valid)
        return QString::fromUtf8(bytes);
    if (check.state == Utf8State::UnfinishedAtEnd && truncated && nul < 0)
        return QString::fromUtf8(bytes.first(check.unfinishedStart));
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

} // namespace whois

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
    while (!value.isEmpty() && whois::IsCSpace(value.front()))
        value = value.sliced(1);
    return value.toString();
}
