#include "whois_client.h"

#include "whois_text.h"

#include <arpa/inet.h>
#include <memory>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace {

struct AddrInfoDeleter {
    void operator()(addrinfo *list) const { ::freeaddrinfo(list); }
};
using AddrInfoList = std::unique_ptr<addrinfo, AddrInfoDeleter>;

QString ErrorText(const char *method)
{
    return QStringLiteral("CWhois::%1 Error Cannot Find %2 IP Address ")
        .arg(QLatin1StringView(method), QStringView(whois::kIanaWhoisHost));
}

} // namespace

void GetIPAddress(QString &hostName)
{
    // Names go to the resolver in the locale's encoding so that international names resolve.
    const QByteArray name = hostName.toLocal8Bit();
    hostName.clear();
    if (name.isEmpty() || name.size() > whois::kMaxHostNameBytes || name.contains('\0'))
        return;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_IDN;
    addrinfo *found = nullptr;
    if (::getaddrinfo(name.constData(), nullptr, &hints, &found) != 0)
        return;
    const AddrInfoList list(found);
    // Every address of the list is taken in turn, so the last one is what remains.
    for (const addrinfo *entry = list.get(); entry; entry = entry->ai_next) {
        char dotted[INET_ADDRSTRLEN] = {};
        const auto *address = reinterpret_cast<const sockaddr_in *>(entry->ai_addr);
        if (::inet_ntop(AF_INET, &address->sin_addr, dotted, sizeof dotted))
            hostName = QString::fromLatin1(dotted);
    }
}

CWhois::CWhois(const QString &query, std::stop_token stop, whois::ExchangeLimits limits)
    : m_stop(std::move(stop)), m_limits(limits)
{
    m_strServerAddress = QString::fromUtf16(whois::kIanaWhoisHost);
    GetIPAddress(m_strServerAddress);
    m_strQuery = query + u'\n';
    // A carriage return before the line feed would make the referred name unresolvable.
    QString referral = whois::TrimTrailingSpace(GetFieldValue(GetIANAData(), QString::fromUtf16(whois::kReferralKey)));
    if (!referral.isEmpty())
        GetIPAddress(referral);
    m_strServerAddress = referral;
}

QString CWhois::IanaErrorText()
{
    return ErrorText("GetIANAData");
}

QString CWhois::DataErrorText()
{
    return ErrorText("GetData");
}

QString CWhois::GetIANAData()
{
    if (m_strServerAddress.isEmpty())
        return IanaErrorText();
    const std::optional<QByteArray> request = RequestBytes();
    if (!request)
        return {};
    // A receive error still leaves what came before it as IANA's answer.
    const whois::ExchangeResult result = Exchange(*request);
    return whois::DecodeAnswer(result.answer, result.truncated);
}

QString CWhois::GetData()
{
    if (m_strServerAddress.isEmpty())
        return DataErrorText();
    const std::optional<QByteArray> request = RequestBytes();
    if (!request)
        return {};
    const whois::ExchangeResult result = Exchange(*request);
    if (result.failed)
        return {};
    return whois::DecodeAnswer(result.answer, result.truncated);
}

std::optional<QByteArray> CWhois::RequestBytes() const
{
    // The query is one line: a line feed, carriage return or NUL inside it would change what
    // the server reads as the query.
    const QStringView query = QStringView(m_strQuery).chopped(1);
    if (query.size() > whois::kMaxQueryChars || query.contains(u'\n') || query.contains(u'\r')
        || query.contains(QChar(0)))
        return std::nullopt;
    return whois::ToLatin1Bytes(m_strQuery);
}

whois::ExchangeResult CWhois::Exchange(const QByteArray &request) const
{
    return whois::RunExchange(m_strServerAddress.toLatin1(), whois::kWhoisPort, request, m_limits, m_stop);
}
