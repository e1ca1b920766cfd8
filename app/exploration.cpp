#include "app/exploration.h"

#include "base/debug_log.h"
#include "geo/geo_database.h"
#include "app/hop_line.h"
#include "trace/icmp_tracer.h"
#include "app/installer.h"
#include "app/resolver.h"
#include "geo/setup.h"
#include "trace/toast.h"
#include "trace/trace_data.h"
#include "base/wait.h"
#include "whois/whois_lookup.h"
#include "geo/world_map.h"

using namespace quokka;

namespace {

// The highest time-to-live probed is one below this.
constexpr int kTtlLimit = 30;

} // namespace

Exploration::Exploration(const QString &domain, QWidget *owner, QObject *parent)
    : QObject(parent), m_domain(domain), m_owner(owner)
{
}

Exploration::~Exploration()
{
    m_job.request_stop();
    delete m_firstRunWindow.data();
}

void Exploration::Start()
{
    if (HomeLocation::Read().isSet())
        return OpenResultWindows();
    ShowWelcome();
}

void Exploration::OpenFirstRunWindow(QDialog *window, void (Exploration::*next)())
{
    m_firstRunWindow = window;
    connect(window, &QDialog::finished, this, [this, window, next] {
        window->deleteLater();
        (this->*next)();
    });
    window->open(); // modal over the owner; the run goes on when it has closed
}

void Exploration::ShowWelcome()
{
    auto *welcome = new Toast(m_owner);
    welcome->m_strText = QStringLiteral("Welcome to quokka quokka setup!");
    welcome->m_nPointSize = 100;
    welcome->m_nDuration = 5000;
    OpenFirstRunWindow(welcome, &Exploration::ShowSetup);
}

void Exploration::ShowSetup()
{
    // Shows its own notice first, then stores the user's first left click as the home point.
    OpenFirstRunWindow(new CSetup(m_owner), &Exploration::Install);
}

void Exploration::Install()
{
    const CInstaller installer; // copies the program and writes its launchers, keeps nothing
    OpenResultWindows();
}

void Exploration::OpenResultWindows()
{
    const HomeLocation home = HomeLocation::Read(); // (0, 0) when the setup was closed without a click
    m_windows.map = new CWorldMap;
    m_windows.map->SetHome(home); // the first paint already shows the home marker
    m_windows.map->show();
    m_windows.trace = new CTraceData;
    m_windows.trace->show();
    m_windows.whois = new CWhoisLookup;
    m_windows.whois->show();
    emit resultWindowsOpened(m_windows);
    Resolve();
}

void Exploration::Resolve()
{
    m_step = Step::Resolution;
    emit phaseStarted(QStringLiteral("resolution"));
    const QString domain = m_domain;
    m_job = RunInBackground<std::optional<QString>>(
        this, [domain](std::stop_token) { return ResolveFirstIPv4(domain); },
        [this](std::optional<QString> target) { OnResolved(target); });
}

void Exploration::OnResolved(const std::optional<QString> &target)
{
    if (!target) {
        AddLine(QStringLiteral("Cannot find an IPv4 address for \"%1\"").arg(m_domain));
        return Finish();
    }
    m_target = *target;
    LookUpWhois();
}

// The record is listed before the first hop: the trace starts once the WHOIS window is done.
void Exploration::LookUpWhois()
{
    m_step = Step::Whois;
    emit phaseStarted(QStringLiteral("whois"));
    if (!m_windows.whois)
        return StartTrace();
    connect(m_windows.whois, &CWhoisLookup::lookupFinished, this, &Exploration::StartTrace);
    connect(m_windows.whois, &QObject::destroyed, this, &Exploration::StartTrace);
    m_windows.whois->Lookup(m_target);
}

void Exploration::StartTrace()
{
    if (m_step != Step::Whois)
        return;
    m_step = Step::Trace;
    m_tracer = std::make_shared<CIcmpTracer>(m_target);
    if (!m_tracer->IsValid()) {
        AddLine(QStringLiteral(
            "Route tracing is not permitted here: allow ping sockets (sysctl net.ipv4.ping_group_range) "
            "or give the program CAP_NET_RAW"));
    }
    m_ttl = 1;
    Probe();
}

void Exploration::Probe()
{
    if (m_ttl >= kTtlLimit)
        return Finish();
    emit phaseStarted(QStringLiteral("probe %1").arg(m_ttl));
    m_job = RunInBackground<HopReply>(
        this, [tracer = m_tracer, ttl = m_ttl](std::stop_token) { return tracer->ProbeHop(ttl); },
        [this](HopReply reply) { OnProbed(reply); });
}

void Exploration::OnProbed(const HopReply &reply)
{
    if (reply.address == QLatin1String("Error")) { // no line, no place, no time, no pause
        ++m_ttl;
        return Probe();
    }
    m_hopAddress = reply.address.toLatin1().left(31);
    m_totalMs += reply.roundTripMs;
    const bool isDestination = reply.address == m_target;
    GeoRecord record{};
    if (m_windows.map)
        m_windows.map->LookupAndPlot(m_hopAddress.constData(), isDestination, record);
    else
        GeoDatabase::Instance().Find(m_hopAddress.constData(), record);
    AddLine(hopline::HopLine(m_ttl, reply, record));
    emit phaseStarted(QStringLiteral("wait %1").arg(m_ttl));
    WaitWithMessagePump(this, [this, address = reply.address, isDestination] { AfterHopWait(address, isDestination); });
}

void Exploration::AfterHopWait(const QString &address, bool isDestination)
{
    qCDebug(lcQuokka).noquote() << address;
    if (isDestination) {
        AddLine(hopline::RouteCompleteLine(m_totalMs));
        return Finish();
    }
    ++m_ttl;
    Probe();
}

void Exploration::AddLine(const QString &line)
{
    if (m_windows.trace)
        m_windows.trace->AddLine(line);
}

void Exploration::Finish()
{
    m_step = Step::Done;
    m_tracer.reset();
    emit finished();
}
