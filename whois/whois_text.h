#pragma once
// WHOIS answers as text: bytes to text at the socket boundary, the referral field, and the
// cleaning, line splitting and colouring rule of the result list. No sockets, no widgets.
#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <optional>

namespace quokka::whois {

// True when BYTES are well-formed UTF-8 (no overlong forms, no surrogates, at most U+10FFFF).
bool IsValidUtf8(QByteArrayView bytes);

// An answer's bytes as text. The answer ends at its first NUL byte. Valid UTF-8 decodes as
// UTF-8; anything else maps byte for byte (0x80-0xFF become U+0080-U+00FF). TRUNCATED says the
// bytes were cut at a size limit: an unfinished UTF-8 sequence at the very end is then dropped
// instead of turning the whole answer into byte-for-byte text.
QString DecodeAnswer(QByteArrayView bytes, bool truncated = false);

// Text to bytes, one byte per code unit; nothing when any code unit is 256 or above.
std::optional<QByteArray> ToLatin1Bytes(const QString &text);

// TEXT without trailing blanks, tabs, line feeds, vertical tabs, form feeds and carriage returns.
QString TrimTrailingSpace(const QString &text);

// The answer as the result list shows it: CR LF counted as LF, then the four passes
// "\n#\n#" -> "\n", "\n\n" -> "\n", "\n#\n#" -> "\n", "\n\n" -> "\n".
QString CleanAnswer(const QString &text);

// The lines of TEXT: each line feed ends one line; text after the last line feed is a line of
// its own when it is not empty. Empty text has no lines.
QStringList SplitLines(const QString &text);

// The lines the result list shows for ANSWER: the answer cleaned and split as above, then
// NOTE, when not empty, as the last line (why the answer was cut short).
QStringList AnswerLines(const QString &answer, const QString &note = {});

// True when the line names a contact: its copy with only A-Z lower-cased contains "e-mail",
// "email", "phone" or "abuse". Such lines are drawn red.
bool IsContactLine(const QString &line);

// The value after the first occurrence of KEY in TEXT (case-sensitive, anywhere in the text)
// up to the next line feed, without leading white space. Empty when KEY is absent or no line
// feed follows it. Trailing characters, a carriage return included, are kept.
QString GetFieldValue(const QString &text, const QString &key);

} // namespace quokka::whois
