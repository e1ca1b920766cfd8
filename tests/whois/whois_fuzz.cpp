// Fuzz target for the WHOIS text rules: any bytes an answer can hold go through decoding,
// the referral search, cleaning, splitting and colouring; the rules' promises are checked.
#include "whois/whois_text.h"
#include "tests/fuzz/fuzz_check.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype nul = bytes.indexOf('\0');
    const QByteArrayView beforeNul = nul >= 0 ? bytes.first(nul) : bytes;

    const QString text = quokka::whois::DecodeAnswer(bytes);
    Check(!text.contains(QChar(0)));
    if (!quokka::whois::IsValidUtf8(beforeNul)) // byte for byte: the bytes come back unchanged
        Check(quokka::whois::ToLatin1Bytes(text) == beforeNul.toByteArray());
    else
        Check(text.toUtf8() == beforeNul);
    const QString cut = quokka::whois::DecodeAnswer(bytes, true);
    Check(cut.size() <= beforeNul.size());

    const QString value = quokka::whois::GetFieldValue(text, QStringLiteral("refer:"));
    Check(!value.contains(u'\n'));
    Check(value.isEmpty() || !QStringView(u" \t\n\v\f\r").contains(value.front()));
    Check(!quokka::whois::TrimTrailingSpace(value).endsWith(u'\r'));

    const QString cleaned = quokka::whois::CleanAnswer(text);
    Check(cleaned.size() <= text.size());
    Check(cleaned.count(u'\n') <= text.count(u'\n'));
    const QStringList lines = quokka::whois::SplitLines(cleaned);
    qsizetype total = 0;
    for (const QString &line : lines) {
        Check(!line.contains(u'\n'));
        total += line.size() + 1;
        quokka::whois::IsContactLine(line);
    }
    Check(lines.isEmpty() ? cleaned.isEmpty() : total >= cleaned.size() && total <= cleaned.size() + 1);
    return 0;
}
