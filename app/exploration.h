#pragma once
// One exploration of a domain, start to finish: the first-run steps when no home is stored,
// a new set of result windows, name resolution, WHOIS, then the route probed hop by hop with
// a two-second pause after each listed hop. The run is a sequence of steps, each started by
// the end of the one before (a result of the run's worker, a timer, a window closing), so no
// step waits inside another and no other window's event loop can hold the run up.
#include "app/exploration_view.h"
#include "app/hop_line.h"
#include "app/run_report.h"
#include "base/host_names.h"
#include "base/net_address.h"
#include "base/wait.h"
#include "base/worker.h"
#include "trace/icmp_tracer.h"
#include "whois/whois_client.h"

#include <QObject>
#include <functional>
#include <memory>
#include <optional>

namespace quokka::geo {
class AsDatabase;
class GeoDatabase;
class GeoDatabase6;
struct GeoRecord;
} // namespace quokka::geo

namespace quokka::app {

// The world a run talks to. The program's own are real; tests hand in fakes, so that a run
// needs no network and no privileges. The blocking ones run on the run's worker thread, but
// for reverseName: each hop's name is looked up on a thread of its own, so that no probe,
// wait or end of the run waits for it; it should give up within about BOUND_MS.
struct ExplorationServices {
    // The blocking ones return soon after STOP is requested (the run closing).
    // The address DOMAIN is explored at (see ResolveTarget), IPv6 first when PREFER_IPV6.
    std::function<std::optional<QString>(const QString &domain, bool preferIPv6, std::stop_token stop)> resolve;
    std::function<quokka::whois::WhoisAnswer(const QString &query, std::stop_token stop)> whois;
    // Called on the run's worker, where the tracer is used and destroyed.
    std::function<std::unique_ptr<quokka::trace::HopProber>(const QString &target)> newTracer;
    std::function<void(std::stop_token stop)> install; // the first run's per-user copy and launchers
    std::function<std::optional<QString>(const QString &address, int boundMs)> reverseName; // none: no names
    const quokka::geo::GeoDatabase *database = nullptr; // none: the process-wide table in use at each lookup
    const quokka::geo::GeoDatabase6 *database6 = nullptr; // the same for IPv6 hops
    const quokka::geo::AsDatabase *asTable = nullptr;   // none: the process-wide AS table in use at each lookup
    // Set when no one can click the setup window (no display to click on, a scripted run):
    // a first run calls it instead of showing that window and goes on as if it was closed.
    std::function<void()> setupUnattended;
    // How long the run's timed steps last.
    quokka::Timings timings;
    // A name with both IPv4 and IPv6 addresses is explored over IPv6 ("Prefer IPv6", --ipv6).
    bool preferIPv6 = false;

    // The name resolver, WHOIS client, ICMP tracer, installer and table of the program.
    static ExplorationServices Real();
};

class Exploration : public QObject {
    Q_OBJECT

public:
    // VIEW shows what the run finds; it must outlive the run.
    Exploration(const QString &domain, ExplorationServices services, ExplorationView &view, QObject *parent = nullptr);
    // Ends the run where it stands; the worker's job under way ends on its own, unwaited.
    ~Exploration() override;

    void Start();
    // What the run has found so far.
    const RunReport &Report() const { return *m_report; }
    // Ends the run at once without waiting: nothing more of it happens, and its worker's job
    // under way is asked to stop.
    void Cancel();

signals:
    // A step begins: "install", "resolution", "whois", "probe TTL" or "wait TTL".
    void PhaseStarted(const QString &phase);
    // A hop's host name is final: found, or none known by its deadline (a few seconds at
    // most). Sent after the hop's line is listed and before the next line or the run's end.
    void HopDetailSettled(const HopDetail &hop);
    // The run has come to its end (not sent for a run cancelled or destroyed).
    void Finished();

private:
    void ShowWelcome();
    void ShowSetup();
    void Install();
    void OpenResultWindows();
    void Resolve();
    void OnResolved(const std::optional<QString> &target);
    void LookupWhois();
    void OnWhois(const quokka::whois::WhoisAnswer &answer);
    void Probe();
    void OnProbed(const quokka::trace::HopReply &reply);
    void AfterHopWait(const QString &address, bool isDestination);
    // Lists the hop's line and adds its details to the report; its name is looked up.
    void AddHop(const quokka::trace::HopReply &reply, const std::optional<quokka::NetAddress> &address,
                const quokka::geo::GeoRecord &record);
    void LookupHostName(qsizetype hop);
    void SettleHostName(qsizetype hop, const std::optional<QString> &name);
    // Hands hop HOP's details as they now stand to the view.
    void DescribeHop(qsizetype hop);
    // Lists LINE, after settling the hop before it (its name unknown if not yet in).
    void AddLine(const QString &line);
    void Finish();
    // The tracer goes on the worker, after the job under way: its helper's end is waited for
    // there, and by no one else.
    void DropTracer();
    // NEXT, unless the run has been cancelled meanwhile: what a first-run window calls on closing.
    std::function<void()> Then(void (Exploration::*next)());

    const QString m_domain;
    const ExplorationServices m_services;
    ExplorationView &m_view;
    bool m_cancelled = false;
    bool m_firstRunWindowUp = false;
    QString m_target;
    std::shared_ptr<RunReport> m_report = std::make_shared<RunReport>(); // shared with the view's saving
    int m_ttl = 0;
    int m_totalMs = 0;
    int m_lines = 0; // listed in the trace window
    int m_addressWidth = hopline::kIPv4AddressWidth; // of the hop lines' address column
    unsigned m_outcomesSaid = 0; // bit per probe outcome whose line is listed
    quokka::NameLookups m_hostNames{this};
    // Made, used and reset on the worker's thread only; declared before the worker.
    std::shared_ptr<std::unique_ptr<quokka::trace::HopProber>> m_tracer =
        std::make_shared<std::unique_ptr<quokka::trace::HopProber>>();
    quokka::Worker m_worker{this};
};

} // namespace quokka::app
