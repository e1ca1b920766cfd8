// The text rules of WHOIS answers, as tables of cases.
#include "whois/whois_text.h"

#include <gtest/gtest.h>

// Failures show texts as text.
void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace {

struct TextCase {
    const char *name;
    QString input;
    QString expected;
};

TEST(WhoisText, CleaningPassesRunInOrder)
{
    const TextCase cases[] = {
        {"worked example of four items", "\n#\n# terms\n#\n\nNetRange: x\n", "\n terms\n#\nNetRange: x\n"},
        {"hash line vanishes, next loses its hash", "a\n#\n#comment\nb\n", "a\ncomment\nb\n"},
        {"blank after the hash is kept", "a\n#\n# b\n", "a\n b\n"},
        {"four line feeds shrink to one", "a\n\n\n\nb", "a\nb"},
        {"two line feeds become one", "a\n\nb", "a\nb"},
        {"five line feeds leave two", "a\n\n\n\n\nb", "a\n\nb"},
        {"hash lines in a row", "x\n#\n#\n#\n#\ny\n", "x\ny\n"},
        {"CR LF counts as LF", "a\r\n\r\nb\r\n", "a\nb\n"},
        {"CR LF hash block", "x\r\n#\r\n# c\r\n", "x\n c\n"},
        {"lone carriage return stays", "a\r\rb\n", "a\r\rb\n"},
        {"no line feed", "only text", "only text"},
        {"empty", "", ""},
    };
    for (const TextCase &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(quokka::whois::CleanAnswer(c.input), c.expected);
    }
}

TEST(WhoisText, SplittingListsEveryLineIncludingAnUnterminatedLast)
{
    struct SplitCase {
        const char *name;
        QString input;
        QStringList expected;
    };
    const SplitCase cases[] = {
        {"no line feed is one line", "CWhois::GetData Error", {"CWhois::GetData Error"}},
        {"empty text has no lines", "", {}},
        {"leading line feed gives an empty first line", "\nabc\n", {"", "abc"}},
        {"last line without line feed is listed", "a\nb", {"a", "b"}},
        {"final line feed adds nothing", "a\nb\n", {"a", "b"}},
        {"lone line feed is one empty line", "\n", {""}},
        {"empty lines in the middle stay", "a\n\nb\n", {"a", "", "b"}},
    };
    for (const SplitCase &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(quokka::whois::SplitLines(c.input), c.expected);
    }
    // The worked example, cleaned and split.
    EXPECT_EQ(quokka::whois::SplitLines(quokka::whois::CleanAnswer("\n#\n# terms\n#\n\nNetRange: x\n")),
              (QStringList{"", " terms", "#", "NetRange: x"}));
    EXPECT_EQ(quokka::whois::SplitLines(quokka::whois::CleanAnswer("a\r\nb\r\n")), (QStringList{"a", "b"}));
}

TEST(WhoisText, ContactLinesAreRedOthersBlack)
{
    const struct {
        const char *line;
        bool red;
    } cases[] = {
        {"Abuse-Mailbox: abuse@example.net", true},
        {"OrgTechEmail: noc@example.net", true},
        {"e-mail: someone@example.net", true},
        {"Phone: +1-555-0100", true},
        {"OrgAbuseHandle: ABUSE1-ARIN", true},
        {"E-MAIL: X", true},
        {"fax-no: +1-555-0101", false},
        {"E mail: x", false},
        {"NetRange: 192.0.2.0 - 192.0.2.255", false},
        {"", false},
        // Only A to Z are lower-cased: letters such as U+00DC are left as they are.
        {"AB\u00DCSE", false},
        {"PH\u00D6NE", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(quokka::whois::IsContactLine(QString::fromUtf8(c.line)), c.red);
    }
}

TEST(WhoisText, GetFieldValueTakesTheFirstKeyUpToTheLineFeed)
{
    const struct {
        const char *name;
        QString text;
        QString expected;
    } cases[] = {
        {"plain refer line", "% IANA\nrefer:        whois.example.net\n\ninetnum: x\n", "whois.example.net"},
        {"first occurrence wins", "refer: first.example\nrefer: second.example\n", "first.example"},
        {"inside a longer line", "xxrefer:inner.example yy\nrefer: later.example\n", "inner.example yy"},
        {"other letter case not matched", "Refer: upper.example\nREFER: x\n", ""},
        {"other case skipped, lower case found", "Refer: upper.example\nrefer: lower.example\n", "lower.example"},
        {"no line feed after it", "a\nrefer: whois.example.net", ""},
        {"blanks and tabs dropped", "refer: \t \twhois.example.net\n", "whois.example.net"},
        {"carriage return kept", "refer:  whois.example.net\r\n", "whois.example.net\r"},
        {"trailing blank kept", "refer: a.example \n", "a.example "},
        {"leading line feeds skipped up to the next line", "refer:\nnext line\n", ""},
        {"absent", "whois: x\n", ""},
        {"empty text", "", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(quokka::whois::GetFieldValue(c.text, "refer:"), c.expected);
    }
    EXPECT_EQ(quokka::whois::TrimTrailingSpace("whois.example.net\r"), "whois.example.net");
    EXPECT_EQ(quokka::whois::TrimTrailingSpace(" a \t\r\n\v\f"), " a");
}

TEST(WhoisText, BytesDecodeAsUtf8WhenValidElseByteForByte)
{
    const struct {
        const char *name;
        QByteArray bytes;
        bool truncated;
        QString expected;
    } cases[] = {
        {"ASCII", "abc\n", false, "abc\n"},
        {"UTF-8 name", "Z\xC3\xBCrich", false, QString::fromUtf8("Z\u00FCrich")},
        {"UTF-8 Cyrillic", "\xD0\x9C\xD0\xB8\xD1\x80", false, QString::fromUtf8("\u041C\u0438\u0440")},
        {"Latin-1 byte", "Z\xFCrich", false, QString::fromUtf16(u"Z\u00FCrich")},
        {"every high byte maps to itself", "\x80\xFF\xA0", false, QString::fromUtf16(u"\u0080\u00FF\u00A0")},
        {"ends at NUL", QByteArray("abc\0def", 7), false, "abc"},
        {"NUL first", QByteArray("\0abc", 4), false, ""},
        {"overlong form is not UTF-8", "\xC0\xAF", false, QString::fromUtf16(u"\u00C0\u00AF")},
        {"surrogate is not UTF-8", "\xED\xA0\x80", false, QString::fromUtf16(u"\u00ED\u00A0\u0080")},
        {"above U+10FFFF is not UTF-8", "\xF4\x90\x80\x80", false, QString::fromUtf16(u"\u00F4\u0090\u0080\u0080")},
        {"unfinished at end of a whole answer", "a\xC3", false, QString::fromUtf16(u"a\u00C3")},
        {"unfinished at end of a cut answer", "\xC3\xBC\xE2\x82", true, QString::fromUtf16(u"\u00FC")},
        {"invalid before the cut stays byte for byte", "\xFC\xC3", true, QString::fromUtf16(u"\u00FC\u00C3")},
        {"cut after a second byte no character has", "a\xE0\x80", true, QString::fromUtf16(u"a\u00E0\u0080")},
        {"cut after three bytes of four", "a\xF0\x9F\x98", true, "a"},
        {"four-byte UTF-8", "\xF0\x9F\x98\x80", false, QString::fromUtf8("\U0001F600")},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(quokka::whois::DecodeAnswer(c.bytes, c.truncated), c.expected);
    }
}

TEST(WhoisText, TextToBytesOneByteACodeUnit)
{
    EXPECT_EQ(quokka::whois::ToLatin1Bytes("192.0.2.1\n"), QByteArray("192.0.2.1\n"));
    EXPECT_EQ(quokka::whois::ToLatin1Bytes(QString::fromUtf16(u"\u00FF")), QByteArray("\xFF"));
    EXPECT_EQ(quokka::whois::ToLatin1Bytes(QString::fromUtf16(u"a\u0100")), std::nullopt);
    EXPECT_EQ(quokka::whois::ToLatin1Bytes(""), QByteArray());
}

} // namespace
