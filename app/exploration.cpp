#include "app/exploration.h"

#include "app/hop_line.h"
#include "app/installer.h"
#include "app/resolver.h"
#include "base/debug_log.h"
#include "base/host_names.h"
#include "base/net_address.h"
#include "base/visible_text.h"
#include "geo/as_database.h"
#include "geo/geo_database.h"
#include "geo/geo_database6.h"
#include "geo/home_location.h"
#include "trace/icmp_tracer.h"
#include "whois/whois_text.h"

#include <QPointer>
#include <cstring>
#include <utility>

using quokka::trace::CIcmpTracer;
using quokka::trace::HopReply;
using quokka::geo::AsDatabase;
using quokka::geo::AsMatch;
using quokka::geo::GeoDatabase;
using quokka::geo::GeoRecord;
using quokka::geo::HomeLocation;
using quokka::geo::GeoDatabase6;
using quokka::geo::Key6;
using quokka::NetAddress;

using namespace quokka;
using quokka::whois::WhoisAnswer;

namespace quokka::app {

namespace {

// The highest time-to-live probed is one below this.
constexpr int kTtlLimit = 30;

// Whether two address texts name one address: IPv6 has more than one way to write each.
bool SameAddress(const QString &a, const QString &b)
{
    if (a == b)
        return true;
    const std::optional<NetAddress> first = NetAddress::Parse(a.toStdString());
    return first && first == NetAddress::Parse(b.toStdString());
}

} // namespace

ExplorationServices ExplorationServices::Real()
{
    ExplorationServices services;
    services.resolve = ResolveTarget;
    services.whois = quokka::whois::LookupWhois;
    services.newTracer = [](const QString &target) { return std::make_unique<CIcmpTracer>(target); };
    services.install = [](std::stop_token stop) { const CInstaller installer(std::move(stop)); };
    services.reverseName = [](const QString &address, int boundMs) {
        return ReverseName(address, std::chrono::milliseconds(boundMs));
    };
    return services;
}

Exploration::Exploration(const QString &domain, ExplorationServices services, ExplorationView &view, QObject *parent)
    : QObject(parent), m_domain(domain), m_services(std::move(services)), m_view(view)
{
    m_report->domain = domain;
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
    DropTracer();
    if (std::exchange(m_firstRunWindowUp, false))
        m_view.CloseFirstRunWindow();
}

void Exploration::DropTracer()
{
    m_worker.Finally([tracer = m_tracer] { tracer->reset(); });
}

void Exploration::Start()
{
    if (HomeLocation::Read().IsSet())
        return OpenResultWindows();
    ShowWelcome();
}

std::function<void()> Exploration::Then(void (Exploration::*next)())
{
    m_firstRunWindowUp = true;
    return [self = QPointer<Exploration>(this), next] {
        if (!self || self->m_cancelled)
            return;
        self->m_firstRunWindowUp = false;
        (self->*next)();
    };
}

void Exploration::ShowWelcome()
{
    m_view.ShowWelcome(QStringLiteral("Welcome to quokka quokka setup!"), m_services.timings.welcomeMs, Then(&Exploration::ShowSetup));
}

void Exploration::ShowSetup()
{
    if (m_services.setupUnattended) { // no home is stored; the next run asks again
        m_services.setupUnattended();
        return Install();
    }
    // Shows its own notice first, then stores the user's first left click as the home point.
    m_view.ShowSetup(m_services.timings.setupNoticeMs, Then(&Exploration::Install));
}

// The copy of the program can be hundreds of megabytes: it is made on the worker, and the
// run's end stops it between two chunks.
void Exploration::Install()
{
    emit PhaseStarted(QStringLiteral("install"));
    m_worker.Run<bool>(
        [install = m_services.install](std::stop_token stop) {
            install(std::move(stop));
            return true;
        },
        [this](bool) { OpenResultWindows(); });
}

void Exploration::OpenResultWindows()
{
    // (0, 0) when the setup was closed without a click
    m_view.OpenResultWindows(HomeLocation::Read(), m_report);
    m_view.SetBusy(true);
    Resolve();
}

void Exploration::Resolve()
{
    emit PhaseStarted(QStringLiteral("resolution"));
    m_worker.Run<std::optional<QString>>(
        [resolve = m_services.resolve, domain = m_domain, preferIPv6 = m_services.preferIPv6](std::stop_token stop) {
            return resolve(domain, preferIPv6, stop);
        },
        [this](std::optional<QString> target) { OnResolved(target); });
}

void Exploration::OnResolved(const std::optional<QString> &target)
{
    if (!target) {
        AddLine(NoAddressText(m_domain, m_services.preferIPv6));
        return Finish();
    }
    m_target = *target;
    m_addressWidth = hopline::AddressWidth(m_addressWidth, m_target);
    m_report->target = m_target;
    m_view.TargetResolved(m_target);
    LookupWhois();
}

// The record is listed before the first hop: the trace starts once it is in.
void Exploration::LookupWhois()
{
    emit PhaseStarted(QStringLiteral("whois"));
    qCDebug(lcQuokka) << "Whois";
    m_worker.Run<WhoisAnswer>(
        [whois = m_services.whois, query = m_target](std::stop_token stop) { return whois(query, stop); },
        [this](WhoisAnswer answer) { OnWhois(answer); });
}

void Exploration::OnWhois(const WhoisAnswer &answer)
{
    m_report->whoisLines = whois::AnswerLines(answer.text, answer.cutShortNote); // as the window lists them
    m_view.ShowWhoisAnswer(m_report->whoisLines);
    m_view.SetBusy(false);
    m_ttl = 1;
    Probe();
}

void Exploration::Probe()
{
    if (m_ttl >= kTtlLimit)
        return Finish();
    emit PhaseStarted(QStringLiteral("probe %1").arg(m_ttl));
    // The tracer is made by the first probe, on the worker, and used there only.
    m_worker.Run<std::optional<HopReply>>(
        [tracer = m_tracer, newTracer = m_services.newTracer, target = m_target,
         ttl = m_ttl](std::stop_token) -> std::optional<HopReply> {
            const bool first = !*tracer;
            if (first)
                *tracer = newTracer(target);
            if (first && !(*tracer)->IsValid())
                return std::nullopt; // said once, before the first probe
            return (*tracer)->ProbeHop(ttl);
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
    const bool isDestination = SameAddress(reply.address, m_target);
    // The run looks the hop up itself, its address read once for both tables, and hands the
    // row to the map and the line to the list.
    GeoRecord record{};
    const std::optional<NetAddress> address = NetAddress::Parse(reply.address.toStdString());
    const unsigned char *row = nullptr;
    if (address && address->IsV4()) {
        const GeoDatabase &database = m_services.database ? *m_services.database : GeoDatabase::Instance();
        row = database.FindKey(address->V4HostOrder());
    } else if (address && address->IsV6()) {
        const GeoDatabase6 &database = m_services.database6 ? *m_services.database6 : GeoDatabase6::Instance();
        row = database.FindKey(Key6::FromBytes(address->V6Bytes()));
    }
    if (row)
        std::memcpy(record.bytes.data(), row, GeoRecord::kSize);
    m_view.PlotHop(record, isDestination, int(m_report->hops.size()));
    AddHop(reply, address, record);
    emit PhaseStarted(QStringLiteral("wait %1").arg(m_ttl));
    After(m_services.timings.hopWaitMs, this, [this, address = reply.address, isDestination] { AfterHopWait(address, isDestination); });
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

void Exploration::AddHop(const HopReply &reply, const std::optional<NetAddress> &address, const GeoRecord &record)
{
    HopDetail hop;
    hop.row = m_lines;
    hop.ttl = m_ttl;
    hop.address = reply.address;
    hop.rttMs = reply.roundTripMs;
    const AsDatabase &asTable = m_services.asTable ? *m_services.asTable : AsDatabase::Instance();
    std::optional<AsMatch> network;
    if (address && address->IsV4())
        network = asTable.FindKey(address->V4HostOrder());
    else if (address && address->IsV6())
        network = asTable.FindKey6(Key6::FromBytes(address->V6Bytes()));
    if (network) {
        hop.asn = network->number;
        hop.asName = QString::fromUtf8(network->name.data(), qsizetype(network->name.size()));
    }
    if (record.HasLocation()) {
        const auto text = [](std::string_view field) { return QString::fromLatin1(field.data(), qsizetype(field.size())); };
        hop.countryCode = text(record.CountryCode());
        hop.country = text(record.CountryName());
        hop.region = text(record.Region());
        hop.city = text(record.City());
        hop.latitude = record.Latitude();
        hop.longitude = record.Longitude();
    }
    hop.place = hopline::LocationText(m_ttl, record);
    m_addressWidth = hopline::AddressWidth(m_addressWidth, reply.address);
    hop.line = hopline::HopLine(m_ttl, reply, record, m_addressWidth);
    AddLine(hop.line);
    m_report->hops << hop;
    DescribeHop(m_report->hops.size() - 1);
    LookupHostName(m_report->hops.size() - 1);
}

void Exploration::LookupHostName(qsizetype hop)
{
    if (!m_services.reverseName)
        return SettleHostName(hop, std::nullopt);
    const int boundMs = m_services.timings.hostNameMs;
    m_hostNames.Start([lookup = m_services.reverseName, address = m_report->hops[hop].address,
                       boundMs] { return lookup(address, boundMs); },
                      boundMs, [this, hop](const std::optional<QString> &name) { SettleHostName(hop, name); });
}

void Exploration::SettleHostName(qsizetype hop, const std::optional<QString> &name)
{
    HopDetail &detail = m_report->hops[hop];
    if (detail.hostNameSettled)
        return; // an answer after the next line has been listed comes too late
    detail.hostName = name.value_or(QString());
    detail.hostNameSettled = true;
    DescribeHop(hop);
    emit HopDetailSettled(detail);
}

void Exploration::DescribeHop(qsizetype hop)
{
    const HopDetail &detail = m_report->hops[hop];
    m_view.DescribeHop(int(hop), detail.row, runreport::ToolTipLines(detail));
}

void Exploration::AddLine(const QString &line)
{
    if (!m_report->hops.isEmpty())
        SettleHostName(m_report->hops.size() - 1, std::nullopt);
    ++m_lines;
    m_view.SetBusy(false);
    m_view.AddTraceLine(line);
}

// A name still being looked up is settled as unknown: the run's end waits for no lookup.
void Exploration::Finish()
{
    if (!m_report->hops.isEmpty())
        SettleHostName(m_report->hops.size() - 1, std::nullopt);
    m_report->completed = !m_report->hops.isEmpty() && SameAddress(m_report->hops.back().address, m_target);
    m_report->totalMs = m_totalMs;
    m_view.SetBusy(false);
    DropTracer();
    emit Finished();
}

} // namespace quokka::app
