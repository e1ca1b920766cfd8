#pragma once
// Rounds of probes through the probe helper, for a program that may open neither a ping
// socket nor a raw socket: one helper process per source, spoken to in the rounds language
// of probe_protocol.h, with many probes in flight together.
#include "trace/probe_helper_client.h"
#include "trace/round_prober.h"

#include <deque>
#include <map>

namespace quokka::trace {

class HelperRoundSource final : public RoundSource {
public:
    // The helper at PATH, started and speaking rounds, for probes to DESTINATION (IPv4 or IPv6
    // text; other text probes the all-ones address, which the helper refuses). None when it
    // cannot start or does not say it is ready within a second.
    static std::unique_ptr<HelperRoundSource> Start(const std::string &path, const std::string &destination);
    // Ends the helper and reaps it: it ends as soon as its input closes, and is killed should
    // it not have within 20 ms, so the caller never waits longer.
    ~HelperRoundSource() override;
    HelperRoundSource(const HelperRoundSource &) = delete;
    HelperRoundSource &operator=(const HelperRoundSource &) = delete;

    icmp::SocketKind Kind() const override { return icmp::SocketKind::Helper; }
    // Hands the round to the helper and returns once it has said of every probe that it left
    // (its send time is when that word came) or why not. The helper's rate bound may stretch
    // this: see probe_protocol.h. A helper that has gone leaves the probes with EPIPE. At
    // most 255 time-to-lives.
    std::vector<Sent> SendRound(std::uint16_t firstSeq, int ttls) override;
    // Answers as the helper timed them, to the microsecond. Once the helper has gone nothing
    // comes, and the wait lasts until DEADLINE as on a quiet socket.
    std::optional<icmp::Answer> Collect(icmp::Clock::time_point deadline) override;
    std::vector<std::uint16_t> ExpireSentBefore(icmp::Clock::time_point limit) override
    {
        return m_inFlight.ExpireSentBefore(limit);
    }
    std::size_t InFlight() const override { return m_inFlight.Size(); }

    // The helper's process, while it runs (for tests).
    pid_t HelperPid() const { return m_helper.pid; }

private:
    HelperRoundSource(HelperProcess helper, const NetAddress &destination)
        : m_helper(std::move(helper)), m_destination(destination)
    {
    }
    // Reads one message of the helper, waiting at most until DEADLINE, or until a request
    // can be written when OR_WRITABLE: false when none was read, also when the helper has
    // gone (it is then ended).
    bool ReadOne(icmp::Clock::time_point deadline, bool orWritable);
    // What a message of the helper means: the word on a probe of the round being sent, or an
    // answer to a probe in flight.
    void Handle(const probe::RoundAnswer &answer);
    void End();

    HelperProcess m_helper;
    NetAddress m_destination;
    icmp::InFlightProbes m_inFlight;
    std::deque<icmp::Answer> m_ready;          // matched answers not yet handed out
    std::map<std::uint16_t, Sent *> m_leaving; // probes of the round being sent, by sequence
};

} // namespace quokka::trace
