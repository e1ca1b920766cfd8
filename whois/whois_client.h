#pragma once
// The WHOIS client: asks IANA's WHOIS server which server is responsible for a query, then
// asks that server the same query. Blocking; runs on a worker thread of its caller.
#include "whois/whois_exchange.h"

#include <QString>
#include <optional>
#include <stop_token>

namespace quokka::whois {

// The host name of IANA's WHOIS service, the first server asked.
inline constexpr char16_t kIanaWhoisHost[] = u"whois.iana.org";
// The line of IANA's answer that names the responsible server.
inline constexpr char16_t kReferralKey[] = u"refer:";
// The longest host name that is looked up, in bytes, and the longest query in characters.
constexpr qsizetype kMaxHostNameBytes = 1023;
constexpr qsizetype kMaxQueryChars = 98;

// Rewrites HOSTNAME with the dotted address of the last IPv4 address it resolves to, or,
// when it has none, with the last of its IPv6 addresses (RFC 5952 text); with empty text when
// it does not resolve (or is too long to be a host name). STOP ends the wait for the resolver
// at once, with empty text.
void GetIPAddress(QString &hostName, std::stop_token stop = {});

// A whole lookup's outcome: the referred server's answer (or an error text), and the line
// that says why it was cut short, when it was.
struct WhoisAnswer {
    QString text;
    QString cutShortNote;
};

// Runs one whole lookup for QUERY: IANA first, then the server it refers to. Blocks; STOP
// abandons it early, with nothing in the answer.
WhoisAnswer LookupWhois(const QString &query, std::stop_token stop = {});

class CWhois {
public:
    // Runs the IANA step for QUERY: afterwards the referred server's address is known, or
    // empty. STOP abandons the network work early; LIMITS bound each exchange.
    explicit CWhois(const QString &query, std::stop_token stop = {}, ExchangeLimits limits = {});

    // IANA's answer to the query, or this method's error text when IANA's address is unknown.
    QString GetIANAData();
    // The referred server's answer to the query; its error text when there is no referred
    // server; empty text when the exchange failed; QueryErrorText() when the query cannot be
    // sent as one line.
    QString GetData();
    // Empty when GetData's answer was complete; else one line saying why it was cut short
    // (the server fell silent, the exchange took too long, the answer reached the size cap).
    QString CutShortNote() const;

    static QString IanaErrorText();
    static QString DataErrorText();
    static QString QueryErrorText();

private:
    // The query as bytes with its line feed, or nothing when it cannot be sent as one line.
    std::optional<QByteArray> RequestBytes() const;
    ExchangeResult Exchange(const QByteArray &request) const;

    QString m_query;         // the caller's query and one line feed
    QString m_serverAddress; // IPv4 or IPv6 address of the server to ask; empty when unknown
    std::stop_token m_stop;
    ExchangeLimits m_limits;
    CutShort m_cutShort = CutShort::No; // of GetData's exchange
};

} // namespace quokka::whois
