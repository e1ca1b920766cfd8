#include "app/automation.h"

#include "app/main_dialog.h"
#include "geo/setup.h"
#include "trace/toast.h"
#include "trace/trace_data.h"
#include "whois/whois_lookup.h"
#include "geo/world_map.h"

#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QPixmap>
#include <QTimer>
#include <cstdio>

namespace {

void PrintReportLine(const char *window, const QString &line)
{
    std::printf("%s\t%s\n", window, line.toUtf8().constData());
    std::fflush(stdout);
}

} // namespace

Automation::Automation(CQuokkaQuokkaDlg &dialog, const Options &options)
    : QObject(&dialog), m_dialog(dialog), m_options(options)
{
    if (m_options.report) {
        connect(&m_dialog, &CQuokkaQuokkaDlg::resultWindowsOpened, this, &Automation::ConnectReport);
        QCoreApplication::instance()->installEventFilter(this);
    }
    // Test runs may close the main window as a user would, 300 ms into one step of the run
    // ("resolution", "whois", "probe TTL", "wait TTL").
    const QString closeAt = qEnvironmentVariable("QUOKKA_TEST_CLOSE_AT");
    if (!closeAt.isEmpty()) {
        connect(&m_dialog, &CQuokkaQuokkaDlg::phaseStarted, this, [this, closeAt](const QString &phase) {
            if (phase == closeAt)
                QTimer::singleShot(300, &m_dialog, [this] { m_dialog.close(); });
        });
    }
    connect(&m_dialog, &CQuokkaQuokkaDlg::explorationFinished, this, [this] {
        if (!m_options.screenshotDir.isEmpty())
            SaveScreenshots();
        if (m_options.quit)
            QCoreApplication::quit();
    });
}

void Automation::Start()
{
    if (m_options.explore.isNull())
        return;
    const QString domain = m_options.explore;
    QTimer::singleShot(0, &m_dialog, [this, domain] { m_dialog.StartExploration(domain); });
}

bool Automation::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Show) {
        if (const auto *toast = qobject_cast<Toast *>(watched))
            PrintReportLine("notice", toast->m_strText);
        else if (qobject_cast<CSetup *>(watched))
            PrintReportLine("setup", QStringLiteral("shown"));
    }
    return QObject::eventFilter(watched, event);
}

void Automation::ConnectReport()
{
    if (CTraceData *trace = m_dialog.TraceData())
        connect(trace, &CTraceData::lineAdded, this, [](const QString &line) { PrintReportLine("trace", line); });
    if (CWhoisLookup *whois = m_dialog.WhoisLookup())
        connect(whois, &CWhoisLookup::lineAdded, this, [](const QString &line) { PrintReportLine("whois", line); });
}

void Automation::SaveScreenshots()
{
    QDir().mkpath(m_options.screenshotDir);
    const QDir dir(m_options.screenshotDir);
    if (CTraceData *trace = m_dialog.TraceData())
        trace->grab().save(dir.filePath(QStringLiteral("trace.png")));
    if (CWorldMap *map = m_dialog.WorldMap())
        map->grab().save(dir.filePath(QStringLiteral("map.png")));
    if (CWhoisLookup *whois = m_dialog.WhoisLookup())
        whois->grab().save(dir.filePath(QStringLiteral("whois.png")));
}
