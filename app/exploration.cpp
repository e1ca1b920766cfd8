#include "app/exploration.h"

#include "app/hop_line.h"
#include "app/installer.h"
#include "app/resolver.h"
#include "base/debug_log.h"
#include "base/host_names.h"
#include "base/toast.h"
#include "base/visible_text.h"
#include "base/wait.h"
#include "base/window_support.h"
#include "geo/as_database.h"
#include "geo/geo_database.h"
#include "geo/home_location.h"
#include "geo/setup.h"
#include "geo/world_map.h"
#include "trace/icmp_tracer.h"
#include "trace/trace_data.h"
#include "whois/whois_lookup.h"
#include "whois/whois_text.h"

using namespace quokka;
using quokka::whois::WhoisAnswer;

namespace {

// The highest time-to-live probed is one below this.
constexpr int kTtlLimit = 30;

// The busy pointer over the run's windows while they wait for their first line.
void ShowBusy(const ResultWindows &windows, bool busy)
{
    for (QWidget *window : {static_cast<QWidget *>(windows.map), static_cast<QWidget *>(windows.trace),
                            static_cast<QWidget *>(windows.whois)}) {
        if (!window)
            continue;
        if (busy)
            window->setCursor(Qt::BusyCursor);
        else if (window->testAttribute(Qt::WA_SetCursor))
            window->unsetCursor();
    }
}

} // namespace

ExplorationServices ExplorationServices::Real()
{
    ExplorationServices services;
    services.resolve = ResolveFirstIPv4;
    services.whois = quokka::whois::LookupWhois;
    services.newTracer = [](const QString &target) { return std::make_unique<CIcmpTracer>(target); };
    services.install = [](std::stop_token stop) { const CInstaller installer(std::move(stop)); };
    services.reverseName = [](const QString &address, int boundMs) {
        return ReverseName(address, std::chrono::milliseconds(boundMs));
    };
    return services;
}

Exploration::Exploration(const QString &domain, ExplorationServices services, QWidget *owner, QObject *parent)
    : QObject(parent), m_domain(domain), m_services(std::move(services)), m_owner(owner)
{
    m_report.domain = domain;
}

Exploration::~Exploration()
{
    Cancel();
}

void Exploration::Cancel()
{
    m_cancelled = true;
    m_worker.RequestStop();
    m_hostNames.Stop();
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
        if (!m_cancelled)
            (this->*next)();
    });
    window->open(); // modal over the owner; the run goes on when it has closed
}

void Exploration::ShowWelcome()
{
    auto *welcome = new Toast(m_owner);
    welcome->m_strText = QStringLiteral("Welcome to quokka quokka setup!");
    welcome->m_nPointSize = 100;
    welcome->m_nDuration = CurrentTimings().welcomeMs;
    OpenFirstRunWindow(welcome, &Exploration::ShowSetup);
    emit firstRunStepShown(QStringLiteral("notice"), welcome->m_strText);
}

void Exploration::ShowSetup()
{
    if (m_services.setupUnattended) { // no home is stored; the next run asks again
        m_services.setupUnattended();
        return Install();
    }
    // Shows its own notice first, then stores the user's first left click as the home point.
    auto *setup = new CSetup(m_owner);
    connect(setup, &CSetup::noticeShown, this,
            [this](const QString &text) { emit firstRunStepShown(QStringLiteral("notice"), text); });
    connect(setup, &CSetup::mapShown, this, [this] { emit firstRunStepShown(QStringLiteral("setup"), {}); });
    OpenFirstRunWindow(setup, &Exploration::Install);
}

// The copy of the program can be hundreds of megabytes: it is made on the worker, and the
// run's end stops it between two chunks.
void Exploration::Install()
{
    emit phaseStarted(QStringLiteral("install"));
    m_worker.Run<bool>(
        [install = m_services.install](std::stop_token stop) {
            install(std::move(stop));
            return true;
        },
        [this](bool) { OpenResultWindows(); });
}

void Exploration::OpenResultWindows()
{
    const HomeLocation home = HomeLocation::Read(); // (0, 0) when the setup was closed without a click
    m_windows.map = new CWorldMap;
    m_windows.map->SetHome(home); // the first paint already shows the home marker
    m_windows.trace = new CTraceData;
    m_windows.whois = new CWhoisLookup;
    // They come up on top but leave the keyboard where it is: Enter in the domain field
    // neither lands in nor hides one of them.
    for (QWidget *window : {static_cast<QWidget *>(m_windows.map), static_cast<QWidget *>(m_windows.trace),
                            static_cast<QWidget *>(m_windows.whois)}) {
        window->setAttribute(Qt::WA_ShowWithoutActivating);
        window->show();
        RaiseWindow(window);
    }
    ShowBusy(m_windows, true);
    // The WHOIS window saves the run's report as the trace window does, which keeps it after
    // the run.
    m_windows.whois->SetSaveReport([trace = m_windows.trace](QWidget *window) {
        if (trace)
            trace->AskWhereToSave(window);
    });
    connect(this, &Exploration::reportChanged, m_windows.trace, &CTraceData::UpdateReport);
    connect(this, &Exploration::reportChanged, m_windows.map, &CWorldMap::UpdateReport);
    emit resultWindowsOpened(m_windows);
    Resolve();
}

void Exploration::Resolve()
{
    emit phaseStarted(QStringLiteral("resolution"));
    m_worker.Run<std::optional<QString>>(
        [resolve = m_services.resolve, domain = m_domain](std::stop_token stop) { return resolve(domain, stop); },
        [this](std::optional<QString> target) { OnResolved(target); });
}

void Exploration::OnResolved(const std::optional<QString> &target)
{
    if (!target) {
        AddLine(QStringLiteral("Cannot find an IPv4 address for \"%1\"").arg(quokka::VisibleText(m_domain)));
        return Finish();
    }
    m_target = *target;
    m_report.target = m_target;
    LookUpWhois();
}

// The record is listed before the first hop: the trace starts once it is in.
void Exploration::LookUpWhois()
{
    emit phaseStarted(QStringLiteral("whois"));
    qCDebug(lcQuokka) << "Whois";
    m_worker.Run<WhoisAnswer>(
        [whois = m_services.whois, query = m_target](std::stop_token stop) { return whois(query, stop); },
        [this](WhoisAnswer answer) { OnWhois(answer); });
}

void Exploration::OnWhois(const WhoisAnswer &answer)
{
    m_report.whoisLines = whois::AnswerLines(answer.text, answer.cutShortNote); // as the window lists them
    if (m_windows.whois)
        m_windows.whois->ShowAnswer(m_report.whoisLines);
    ShowBusy(m_windows, false);
    m_ttl = 1;
    Probe();
}

void Exploration::Probe()
{
    if (m_ttl >= kTtlLimit)
        return Finish();
    emit phaseStarted(QStringLiteral("probe %1").arg(m_ttl));
    // The tracer is made by the first probe, on the worker, and used there only.
    m_worker.Run<std::optional<HopReply>>(
        [this, ttl = m_ttl](std::stop_token) -> std::optional<HopReply> {
            const bool first = !m_tracer;
            if (first)
                m_tracer = m_services.newTracer(m_target);
            if (first && !m_tracer->IsValid())
                return std::nullopt; // said once, before the first probe
            return m_tracer->ProbeHop(ttl);
        },
        [this](std::optional<HopReply> reply) {
            if (reply)
                return OnProbed(*reply);
            AddLine(CIcmpTracer::NotPermittedText());
            Probe(); // every probe now fails, as the tracer without a socket answers
        });
}

void Exploration::OnProbed(const HopReply &reply)
{
    // Why a probe was not sent is said once per run, at the first probe it happened to.
    const unsigned outcome = 1U << unsigned(reply.outcome);
    const QString why = CIcmpTracer::OutcomeText(reply.outcome, m_target);
    if (!why.isEmpty() && !(m_outcomesSaid & outcome)) {
        m_outcomesSaid |= outcome;
        AddLine(why);
    }
    if (reply.address == QLatin1String("Error")) { // no line, no place, no time, no pause
        ++m_ttl;
        return Probe();
    }
    m_totalMs += reply.roundTripMs;
    const bool isDestination = reply.address == m_target;
    // The run looks the hop up itself and hands the row to the map and the line to the list.
    GeoRecord record{};
    const GeoDatabase &database = m_services.database ? *m_services.database : GeoDatabase::Instance();
    database.Find(reply.address.toLatin1().left(31).constData(), record);
    if (m_windows.map)
        m_windows.map->PlotHop(record, isDestination);
    AddHop(reply, record);
    emit phaseStarted(QStringLiteral("wait %1").arg(m_ttl));
    WaitWithMessagePump(this, [this, address = reply.address, isDestination] { AfterHopWait(address, isDestination); });
}

void Exploration::AfterHopWait(const QString &address, bool isDestination)
{
    if (m_cancelled)
        return;
    qCDebug(lcQuokka).noquote() << address;
    if (isDestination) {
        AddLine(hopline::RouteCompleteLine(m_totalMs));
        return Finish();
    }
    ++m_ttl;
    Probe();
}

void Exploration::AddHop(const HopReply &reply, const GeoRecord &record)
{
    HopDetail hop;
    hop.row = m_lines;
    hop.ttl = m_ttl;
    hop.address = reply.address;
    hop.rttMs = reply.roundTripMs;
    const QByteArray address = reply.address.toLatin1();
    const AsDatabase &asTable = m_services.asTable ? *m_services.asTable : AsDatabase::Instance();
    if (const std::optional<AsMatch> network = asTable.Find(address.constData())) {
        hop.asn = network->number;
        hop.asName = QString::fromUtf8(network->name.data(), qsizetype(network->name.size()));
    }
    if (record.hasLocation()) {
        const auto text = [](std::string_view field) { return QString::fromLatin1(field.data(), qsizetype(field.size())); };
        hop.countryCode = text(record.countryCode());
        hop.country = text(record.countryName());
        hop.region = text(record.region());
        hop.city = text(record.city());
        hop.latitude = record.latitude();
        hop.longitude = record.longitude();
    }
    hop.place = hopline::LocationText(m_ttl, record);
    hop.line = hopline::HopLine(m_ttl, reply, record);
    AddLine(hop.line);
    m_report.hops << hop;
    emit reportChanged(m_report);
    LookUpHostName(m_report.hops.size() - 1);
}

void Exploration::LookUpHostName(qsizetype hop)
{
    if (!m_services.reverseName)
        return SettleHostName(hop, std::nullopt);
    const int boundMs = CurrentTimings().hostNameMs;
    m_hostNames.Start([lookup = m_services.reverseName, address = m_report.hops[hop].address,
                       boundMs] { return lookup(address, boundMs); },
                      boundMs, [this, hop](const std::optional<QString> &name) { SettleHostName(hop, name); });
}

void Exploration::SettleHostName(qsizetype hop, const std::optional<QString> &name)
{
    HopDetail &detail = m_report.hops[hop];
    if (detail.hostNameSettled)
        return; // an answer after the next line has been listed comes too late
    detail.hostName = name.value_or(QString());
    detail.hostNameSettled = true;
    emit reportChanged(m_report);
    emit hopDetailSettled(detail);
}

void Exploration::AddLine(const QString &line)
{
    if (!m_report.hops.isEmpty())
        SettleHostName(m_report.hops.size() - 1, std::nullopt);
    ++m_lines;
    ShowBusy(m_windows, false);
    if (m_windows.trace)
        m_windows.trace->AddLine(line);
}

// A name still being looked up is settled as unknown: the run's end waits for no lookup.
void Exploration::Finish()
{
    if (!m_report.hops.isEmpty())
        SettleHostName(m_report.hops.size() - 1, std::nullopt);
    m_report.completed = !m_report.hops.isEmpty() && m_report.hops.back().address == m_target;
    m_report.totalMs = m_totalMs;
    ShowBusy(m_windows, false);
    emit reportChanged(m_report);
    emit finished();
}
