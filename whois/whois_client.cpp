#include "whois/whois_client.h"

#include "base/ipv4_names.h"
#include "whois/whois_text.h"

namespace quokka::whois {
namespace {

QString ErrorText(const char *method)
{
    return QStringLiteral("CWhois::%1 Error Cannot Find %2 IP Address ")
        .arg(QLatin1StringView(method), QStringView(kIanaWhoisHost));
}

// "15 seconds", "1 second", or "300 ms" for a time that is not whole seconds.
QString Duration(std::chrono::milliseconds time)
{
    const auto ms = time.count();
    if (ms % 1000 != 0)
        return QStringLiteral("%1 ms").arg(ms);
    return ms == 1000 ? QStringLiteral("1 second") : QStringLiteral("%1 seconds").arg(ms / 1000);
}

// "1 MiB", or the number of bytes when it is not whole mebibytes.
QString Size(qsizetype bytes)
{
    constexpr qsizetype kMiB = 1 << 20;
    return bytes % kMiB == 0 ? QStringLiteral("%1 MiB").arg(bytes / kMiB) : QStringLiteral("%1 bytes").arg(bytes);
}

} // namespace

void GetIPAddress(QString &hostName, std::stop_token stop)
{
    const QString name = hostName;
    hostName.clear();
    if (name.isEmpty() || name.toUtf8().size() > kMaxHostNameBytes)
        return;
    // Every address of the list is taken in turn, so the last one is what remains. A server
    // with no IPv4 address is reached at the last of its IPv6 addresses the same way.
    QStringList addresses = ResolveIPv4(name, stop);
    if (addresses.isEmpty() && !stop.stop_requested())
        addresses = ResolveIPv6(name, stop);
    if (!addresses.isEmpty() && !stop.stop_requested())
        hostName = addresses.last();
}

CWhois::CWhois(const QString &query, std::stop_token stop, ExchangeLimits limits)
    : m_stop(std::move(stop)), m_limits(limits)
{
    m_query = query + u'\n';
    if (!RequestBytes())
        return; // nothing is asked of anyone: GetData says why
    m_serverAddress = QString::fromUtf16(kIanaWhoisHost);
    GetIPAddress(m_serverAddress, m_stop);
    // A carriage return before the line feed would make the referred name unresolvable.
    QString referral = TrimTrailingSpace(GetFieldValue(GetIANAData(), QString::fromUtf16(kReferralKey)));
    if (!referral.isEmpty())
        GetIPAddress(referral, m_stop);
    m_serverAddress = referral;
}

QString CWhois::IanaErrorText()
{
    return ErrorText("GetIANAData");
}

QString CWhois::DataErrorText()
{
    return ErrorText("GetData");
}

QString CWhois::QueryErrorText()
{
    return QStringLiteral("The WHOIS query cannot be sent: it must be one line of at most %1 characters, "
                          "each below U+0100")
        .arg(kMaxQueryChars);
}

QString CWhois::CutShortNote() const
{
    switch (m_cutShort) {
    case CutShort::No:
        break;
    case CutShort::Silence:
        return QStringLiteral("(The answer is cut short: nothing more arrived for %1.)").arg(Duration(m_limits.silence));
    case CutShort::TotalTime:
        return QStringLiteral("(The answer is cut short: the exchange took longer than %1.)").arg(Duration(m_limits.total));
    case CutShort::SizeCap:
        return QStringLiteral("(The answer is cut short: it is longer than %1.)").arg(Size(m_limits.maxAnswerBytes));
    }
    return {};
}

QString CWhois::GetIANAData()
{
    if (m_serverAddress.isEmpty())
        return IanaErrorText();
    const std::optional<QByteArray> request = RequestBytes();
    if (!request)
        return {};
    // A receive error still leaves what came before it as IANA's answer.
    const ExchangeResult result = Exchange(*request);
    return DecodeAnswer(result.answer, result.cutShort == CutShort::SizeCap);
}

QString CWhois::GetData()
{
    m_cutShort = CutShort::No;
    const std::optional<QByteArray> request = RequestBytes();
    if (!request)
        return QueryErrorText();
    if (m_serverAddress.isEmpty())
        return DataErrorText();
    const ExchangeResult result = Exchange(*request);
    if (result.failed)
        return {};
    m_cutShort = result.cutShort;
    return DecodeAnswer(result.answer, result.cutShort == CutShort::SizeCap);
}

std::optional<QByteArray> CWhois::RequestBytes() const
{
    // The query is one line: a line feed, carriage return or NUL inside it would change what
    // the server reads as the query.
    const QStringView query = QStringView(m_query).chopped(1);
    if (query.size() > kMaxQueryChars || query.contains(u'\n') || query.contains(u'\r')
        || query.contains(QChar(0)))
        return std::nullopt;
    return ToLatin1Bytes(m_query);
}

ExchangeResult CWhois::Exchange(const QByteArray &request) const
{
    return RunExchange(m_serverAddress.toLatin1(), kWhoisPort, request, m_limits, m_stop);
}

WhoisAnswer LookupWhois(const QString &query, std::stop_token stop)
{
    CWhois whois(query, stop);
    if (stop.stop_requested())
        return {};
    WhoisAnswer answer{whois.GetData(), {}};
    answer.cutShortNote = stop.stop_requested() ? QString() : whois.CutShortNote();
    return answer;
}

} // namespace quokka::whois
