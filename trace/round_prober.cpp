#include "trace/round_prober.h"

#include "trace/helper_round_source.h"
#include "trace/icmp_tracer.h"

#include <QFile>
#include <sys/stat.h>
#include <netinet/in.h>
#include <algorithm>

namespace quokka::trace {

RoundProber::RoundProber(const std::string &destination)
{
    // Text that is not an address probes the all-ones address, which nothing answers.
    m_destination = NetAddress::Parse(destination).value_or(NetAddress::V4(INADDR_NONE));
    for (const auto kind : {icmp::SocketKind::Ping, icmp::SocketKind::Raw}) {
        m_socket = icmp::ProbeSocket::Open(kind, m_destination.GetFamily());
        if (m_socket.Valid())
            break;
    }
    // A round's answers arrive together, while the round is still being sent: room for
    // a few rounds of them (the kernel bounds it by net.core.rmem_max).
    if (m_socket.Valid())
        m_socket.SetReceiveBuffer(256 * 1024);
}

std::unique_ptr<RoundSource> OpenRoundSource(const std::string &destination)
{
    std::vector<std::string> helpers;
    for (const QString &candidate : CIcmpTracer::HelperCandidates())
        helpers.push_back(QFile::encodeName(candidate).toStdString());
    return OpenRoundSource(destination, helpers);
}

std::unique_ptr<RoundSource> OpenRoundSource(const std::string &destination, const std::vector<std::string> &helpers)
{
    auto prober = std::make_unique<RoundProber>(destination);
    if (prober->IsValid())
        return prober;
    for (const std::string &helper : helpers) {
        struct stat file{};
        if (::stat(helper.c_str(), &file) != 0 || !S_ISREG(file.st_mode))
            continue;
        if (auto source = HelperRoundSource::Start(helper, destination))
            return source;
    }
    return nullptr;
}

std::vector<RoundProber::Sent> RoundProber::SendRound(std::uint16_t firstSeq, int ttls)
{
    std::vector<Sent> round;
    if (!m_socket.Valid())
        return round;
    round.reserve(std::size_t(std::max(ttls, 0)));
    for (int ttl = 1; ttl <= ttls; ++ttl) {
        // The answers to the round's first probes come while the rest are sent.
        if (ttl > 1)
            m_socket.Gather(m_destination, round.back().at + kSpacing);
        const auto seq = std::uint16_t(firstSeq + ttl - 1);
        const icmp::SendResult result = m_socket.Send(m_destination, ttl, seq);
        round.push_back({seq, ttl, result.at, result.error});
    }
    return round;
}

std::optional<icmp::Answer> RoundProber::Collect(icmp::Clock::time_point deadline)
{
    return m_socket.Receive(m_destination, deadline);
}

std::vector<std::uint16_t> RoundProber::ExpireSentBefore(icmp::Clock::time_point limit)
{
    // What has arrived is read first: an answer that came in time but was not read yet (the
    // thread was busy) keeps its probe from being given up.
    m_socket.ReadArrived(m_destination);
    return m_socket.ExpireSentBefore(limit);
}

} // namespace quokka::trace
