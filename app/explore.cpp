// One exploration, start to finish: home check, result windows, name resolution, WHOIS,
// then the route probed hop by hop with a responsive pause after each listed hop.
#include "main_dialog.h"

#include "debug_log.h"
#include "geo_database.h"
#include "hop_line.h"
#include "icmp_tracer.h"
#include "installer.h"
#include "resolver.h"
#include "setup.h"
#include "toast.h"
#include "trace_data.h"
#include "wait.h"
#include "whois_lookup.h"
#include "world_map.h"

#include <QLineEdit>
#include <QPushButton>
#include <memory>

using namespace quokka;

namespace {

// Disables Explore for the length of a run: one run at a time.
class RunGuard {
public:
    RunGuard(bool &running, QPushButton *button) : m_running(running), m_button(button)
    {
        m_running = true;
        m_button->setEnabled(false);
    }
    ~RunGuard()
    {
        m_running = false;
        m_button->setEnabled(true);
    }
    RunGuard(const RunGuard &) = delete;
    RunGuard &operator=(const RunGuard &) = delete;

private:
    bool &m_running;
    QPushButton *m_button;
};

} // namespace

void CQuokkaQuokkaDlg::OnExplore()
{
    if (m_bRunning || ShuttingDown())
        return;
    {
        RunGuard guard(m_bRunning, m_pExploreButton);
        RunExploration();
    }
    if (!ShuttingDown())
        emit explorationFinished();
}

void CQuokkaQuokkaDlg::RunExploration()
{
    const HomeLocation home = RunFirstRunSteps();
    if (ShuttingDown())
        return;
    OpenResultWindows(home);

    const QString domain = m_pDomainEdit->text();
    emit phaseStarted(QStringLiteral("resolution"));
    const auto resolved = RunOffUiThread<std::optional<QString>>(
        [domain](std::stop_token) { return ResolveFirstIPv4(domain); });
    if (!resolved)
        return; // the program is closing
    if (!*resolved) {
        m_pTraceData->AddLine(QStringLiteral("Cannot find an IPv4 address for \"%1\"").arg(domain));
        return;
    }
    const QString target = **resolved;
    emit phaseStarted(QStringLiteral("whois"));
    m_pWhoisLookup->Lookup(target); // listed before the first hop
    if (ShuttingDown())
        return;
    TraceRoute(target);
}

// Reads the stored home point; a first run (no home yet) shows its first-run steps first.
HomeLocation CQuokkaQuokkaDlg::RunFirstRunSteps()
{
    if (!HomeLocation::Read().isSet()) {
        Toast welcome(this);
        welcome.m_strText = QStringLiteral("Welcome to quokka quokka setup!");
        welcome.m_nPointSize = 100;
        welcome.m_nDuration = 5000;
        welcome.exec();
        CSetup setup(this); // stores the user's first left click as the home point
        setup.exec();
        const CInstaller installer; // copies the program and writes its launchers, keeps nothing
    }
    return HomeLocation::Read(); // (0, 0) again when the setup was closed without a click
}

void CQuokkaQuokkaDlg::OpenResultWindows(const HomeLocation &home)
{
    m_pWorldMap = new CWorldMap(this);
    m_pWorldMap->SetHome(home); // the first paint already shows the home marker
    m_pWorldMap->show();
    m_pTraceData = new CTraceData(this);
    m_pTraceData->show();
    m_pWhoisLookup = new CWhoisLookup(this);
    m_pWhoisLookup->show();
    emit resultWindowsOpened();
}

void CQuokkaQuokkaDlg::TraceRoute(const QString &target)
{
    // Shared with the probe's thread, which may outlive this run when the program closes.
    const auto tracer = std::make_shared<CIcmpTracer>(target);
    if (!tracer->IsValid()) {
        m_pTraceData->AddLine(QStringLiteral(
            "Route tracing is not permitted here: allow ping sockets (sysctl net.ipv4.ping_group_range) "
            "or give the program CAP_NET_RAW"));
    }
    int totalMs = 0;
    for (int ttl = 1; ttl < 30; ++ttl) {
        emit phaseStarted(QStringLiteral("probe %1").arg(ttl));
        const auto reply = RunOffUiThread<HopReply>([tracer, ttl](std::stop_token) { return tracer->ProbeHop(ttl); });
        if (!reply)
            return;
        if (reply->address == QLatin1String("Error"))
            continue;
        m_hopAddress = reply->address.toLatin1().left(31);
        totalMs += reply->roundTripMs;
        const bool isDestination = reply->address == target;
        GeoRecord record{};
        LocateHop(reply->address, isDestination, record);
        m_pTraceData->AddLine(hopline::HopLine(ttl, *reply, record));
        emit phaseStarted(QStringLiteral("wait %1").arg(ttl));
        WaitWithMessagePump();
        if (ShuttingDown())
            return;
        qCDebug(lcQuokka).noquote() << reply->address;
        if (isDestination) {
            m_pTraceData->AddLine(hopline::RouteCompleteLine(totalMs));
            break;
        }
    }
}

// The newest map window looks the hop up and plots it; RECORD stays zero without a match.
void CQuokkaQuokkaDlg::LocateHop(const QString &, bool isDestination, GeoRecord &record)
{
    if (m_pWorldMap)
        m_pWorldMap->LookupAndPlot(m_hopAddress.constData(), isDestination, record);
    else
        GeoDatabase::Instance().Find(m_hopAddress.constData(), record);
}
