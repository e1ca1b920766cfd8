#include "app/automation.h"

#include "app/main_dialog.h"
#include "app/monitor_window.h"
#include "base/output_file.h"
#include "base/visible_text.h"
#include "geo/setup.h"
#include "geo/world_map.h"
#include "trace/trace_data.h"
#include "whois/whois_lookup.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPixmap>
#include <QTimer>
#include <cstdio>

using quokka::trace::CTraceData;
using quokka::whois::CWhoisLookup;

namespace quokka::app {

namespace {

void PrintReportLine(const char *window, const QString &line)
{
    std::printf("%s\t%s\n", window, line.toUtf8().constData());
    std::fflush(stdout);
}

// A window's line as it came, from a WHOIS server or a table file: printed with its control
// characters visible, so it stays one line of its two columns and never drives the terminal.
void PrintWindowLine(const char *window, const QString &line)
{
    PrintReportLine(window, quokka::VisibleText(line));
}

} // namespace

Automation::Automation(CQuokkaQuokkaDlg &dialog, const Options &options)
    : QObject(&dialog), m_dialog(dialog), m_options(options)
{
    if (m_options.report) {
        connect(&m_dialog, &CQuokkaQuokkaDlg::ResultWindowsOpened, this, &Automation::ConnectReport);
        connect(&m_dialog, &CQuokkaQuokkaDlg::HopDetailSettled, this,
                [](const HopDetail &hop) { PrintReportLine("detail", runreport::DetailFields(hop)); });
        // The first-run steps: "notice<TAB>text" for each notice, "setup<TAB>shown" for the map.
        connect(&m_dialog, &CQuokkaQuokkaDlg::FirstRunStepShown, this, [](const QString &step, const QString &text) {
            PrintReportLine(step.toLatin1().constData(), step == QLatin1String("setup") ? QStringLiteral("shown") : text);
        });
    }
    connect(&m_dialog, &CQuokkaQuokkaDlg::ExplorationFinished, this, [this] {
        const QString target = m_dialog.LastReport().target;
        const bool monitoring = m_options.monitorRounds && !target.isEmpty();
        if (!monitoring && !m_options.jsonFile.isEmpty() && !WriteJson())
            m_failed = true;
        if (!m_options.screenshotDir.isEmpty() && !SaveScreenshots())
            m_failed = true;
        if (monitoring)
            StartMonitor(target);
        else if (m_options.quit)
            QCoreApplication::exit(ExitStatus());
    });
}

Automation::~Automation()
{
    if (m_monitor)
        FinishMonitor(*m_monitor);
}

void Automation::Start()
{
    if (m_options.explore.isNull())
        return;
    const QString domain = m_options.explore;
    QTimer::singleShot(0, &m_dialog, [this, domain] { m_dialog.StartExploration(domain); });
}

void Automation::ConnectReport()
{
    if (CTraceData *trace = m_dialog.TraceData())
        connect(trace, &CTraceData::LineAdded, this, [](const QString &line) { PrintWindowLine("trace", line); });
    if (CWhoisLookup *whois = m_dialog.WhoisLookup())
        connect(whois, &CWhoisLookup::LineAdded, this, [](const QString &line) { PrintWindowLine("whois", line); });
}

void Automation::StartMonitor(const QString &address)
{
    monitor::MonitorWindow *window = m_dialog.OpenMonitor(address);
    if (!window)
        return;
    m_monitor = window;
    if (m_options.intervalMs)
        window->SetIntervalMs(*m_options.intervalMs);
    const int rounds = *m_options.monitorRounds;
    connect(&window->Monitor(), &monitor::Session::RoundResolved, this, [this, window, rounds] {
        if (rounds > 0 && window->Monitor().RoundsResolved() >= rounds)
            FinishMonitor(*window);
    });
    connect(window, &monitor::MonitorWindow::Ending, this, [this, window] { FinishMonitor(*window); });
    // Probing that cannot start is said, as the trace window says it, and ends the monitor's
    // part of the work: no round will come.
    connect(&window->Monitor(), &monitor::Session::Failed, this, [this, window](const QString &text) {
        std::fprintf(stderr, "quokka-quokka: %s\n", qPrintable(quokka::VisibleText(text)));
        m_failed = true;
        FinishMonitor(*window);
    });
}

void Automation::FinishMonitor(monitor::MonitorWindow &window)
{
    if (std::exchange(m_monitorFinished, true))
        return;
    const monitor::Session &session = window.Monitor();
    if (m_options.report)
        for (const QString &line : monitor::ReportLines(session.Stats(), session.Details()))
            std::printf("%s\n", line.toUtf8().constData());
    std::fflush(stdout);
    if (!m_options.jsonFile.isEmpty() && !WriteJson(&window))
        m_failed = true;
    if (m_options.quit)
        QCoreApplication::exit(ExitStatus());
}

bool Automation::WriteJson(monitor::MonitorWindow *window)
{
    QByteArray json = runreport::ToJson(m_dialog.LastReport());
    if (window) { // the run's object with one more member, "monitor"
        QJsonObject root = QJsonDocument::fromJson(json).object();
        root.insert(QStringLiteral("monitor"),
                    monitor::JsonObject(window->Monitor().Stats(), window->Monitor().Details()));
        json = QJsonDocument(root).toJson(QJsonDocument::Indented);
    }
    if (m_options.jsonFile == QLatin1String("-")) {
        if (std::fwrite(json.constData(), 1, size_t(json.size()), stdout) == size_t(json.size())
            && std::fflush(stdout) == 0)
            return true;
        std::fprintf(stderr, "quokka-quokka: the JSON report could not be written to standard output\n");
        return false;
    }
    const QString error = quokka::WriteOutputFile(m_options.jsonFile, json);
    if (error.isEmpty())
        return true;
    std::fprintf(stderr, "quokka-quokka: the JSON report could not be written to %s: %s\n",
                 qPrintable(m_options.jsonFile), qPrintable(error));
    return false;
}

bool Automation::SaveScreenshots()
{
    const QString folder = m_options.screenshotDir;
    if (!QDir().mkpath(folder)) {
        std::fprintf(stderr, "quokka-quokka: the screenshot folder %s could not be made\n", qPrintable(folder));
        return false;
    }
    const std::pair<QString, QWidget *> windows[] = {
        {QStringLiteral("trace.png"), m_dialog.TraceData()},
        {QStringLiteral("map.png"), m_dialog.WorldMap()},
        {QStringLiteral("whois.png"), m_dialog.WhoisLookup()},
    };
    for (const auto &[name, window] : windows) {
        if (!window)
            continue;
        const QString path = QDir(folder).filePath(name);
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        const QString error = window->grab().save(&buffer, "PNG") ? quokka::WriteOutputFile(path, png)
                                                                  : QStringLiteral("the picture could not be made");
        if (!error.isEmpty()) {
            std::fprintf(stderr, "quokka-quokka: the screenshot could not be written to %s: %s\n", qPrintable(path),
                         qPrintable(error));
            return false;
        }
    }
    return true;
}

} // namespace quokka::app
