#include "trace/icmp_tracer.h"

#include "trace/probe_helper_client.h"

#include <QDir>
#include <QFileInfo>
#include <netinet/in.h>

namespace quokka::trace {
namespace {

constexpr char kHelperName[] = "quokka-quokka-probe";

} // namespace

CIcmpTracer::CIcmpTracer(const QString &destination) : CIcmpTracer(destination, HelperCandidates()) {}

CIcmpTracer::CIcmpTracer(const QString &destination, const QStringList &helpers)
{
    // Text that is not an address probes the all-ones address, which nothing answers.
    m_destAddr = NetAddress::Parse(destination.toStdString()).value_or(NetAddress::V4(INADDR_NONE));
    for (const auto kind : {icmp::SocketKind::Ping, icmp::SocketKind::Raw}) {
        m_socket = icmp::ProbeSocket::Open(kind, m_destAddr.GetFamily());
        if (m_socket.Valid()) {
            m_kind = kind == icmp::SocketKind::Ping ? SocketKind::Ping : SocketKind::Raw;
            break;
        }
    }
    for (qsizetype i = 0; m_kind == SocketKind::None && i < helpers.size(); ++i) {
        if (!QFileInfo(helpers[i]).isFile())
            continue;
        m_helper = ProbeHelperClient::Start(QFile::encodeName(helpers[i]).toStdString());
        if (m_helper)
            m_kind = SocketKind::Helper;
    }
    m_bHandleValid = m_kind != SocketKind::None;
    m_nFailures = 0;
}

CIcmpTracer::~CIcmpTracer() = default;

HopReply CIcmpTracer::ProbeHop(int ttl)
{
    HopReply reply;
    icmp::Echo echo;
    ++m_sequence;
    if (m_kind == SocketKind::Helper)
        echo = m_helper->Probe(m_destAddr, ttl, m_sequence);
    else if (m_bHandleValid)
        echo = m_socket.Probe(m_destAddr, ttl, m_sequence, std::chrono::milliseconds(kTimeoutMs));
    reply.outcome = echo.outcome;
    if (echo.outcome == icmp::Outcome::Answered) {
        m_nFailures = 0;
        reply.roundTripMs = echo.roundTripMs;
        reply.address = QString::fromStdString(echo.node.ToString());
        return reply;
    }
    ++m_nFailures;
    reply.roundTripMs = kTimeoutMs;
    reply.address = QStringLiteral("Error");
    return reply;
}

QStringList CIcmpTracer::HelperCandidates()
{
    const QString name = QString::fromLatin1(kHelperName);
    // The folder of the running program file, also before (or without) an application object.
    const QDir here(QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath());
    return {QDir::cleanPath(here.filePath(QStringLiteral(QUOKKA_HELPER_FROM_PROGRAM "/") + name)), here.filePath(name)};
}

QString CIcmpTracer::HelperLocation()
{
    const QStringList candidates = HelperCandidates();
    for (const QString &candidate : candidates)
        if (QFileInfo(candidate).isFile())
            return QFileInfo(candidate).canonicalFilePath();
    return candidates.back();
}

QString CIcmpTracer::NotPermittedText()
{
    return QStringLiteral("Route tracing is not permitted here: allow ping sockets (sysctl net.ipv4.ping_group_range) "
                          "or give the probe helper CAP_NET_RAW (sudo setcap cap_net_raw+ep %1)")
        .arg(HelperLocation());
}

QString CIcmpTracer::OutcomeText(icmp::Outcome outcome, const QString &destination)
{
    switch (outcome) {
    case icmp::Outcome::NotPermitted:
        return QStringLiteral("Probes to %1 are not permitted here: the system refused to send them").arg(destination);
    case icmp::Outcome::NoRoute:
        return QStringLiteral("Probes to %1 cannot be sent: this computer has no route to that address").arg(destination);
    case icmp::Outcome::Refused:
        return QStringLiteral("Probes to %1 are refused: the probe helper sends nothing to that address").arg(destination);
    case icmp::Outcome::Answered:
    case icmp::Outcome::NoAnswer:
        break;
    }
    return QString();
}

} // namespace quokka::trace
