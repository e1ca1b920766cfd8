#include "app/main_dialog.h"

#include "app/about_dialog.h"
#include "app/exploration.h"
#include "app/monitor_window.h"
#include "app/report_file.h"
#include "base/wait.h"
#include "base/window_support.h"
#include "geo/setup.h"
#include "geo/world_map.h"
#include "base/toast.h"
#include "trace/trace_data.h"
#include "whois/whois_lookup.h"

#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QShortcut>
#include <utility>

using quokka::trace::CTraceData;
using quokka::whois::CWhoisLookup;
using quokka::geo::CSetup;
using quokka::geo::CWorldMap;
using quokka::geo::GeoRecord;
using quokka::geo::AddressPreference;
using quokka::geo::HomeLocation;

using namespace quokka;

namespace quokka::app {

CQuokkaQuokkaDlg::CQuokkaQuokkaDlg(QWidget *parent) : QDialog(parent, kWindowFlags)
{
    DressWindow(this, QStringLiteral("mainDialog"));
    setAccessibleName(QStringLiteral("Quokka Quokka"));
    // It can grow (nothing moves), never shrink below the size that shows every control.
    setMinimumSize(DluX(261), DluY(68));
    resize(minimumSize());
    m_bitmap = QImage(QStringLiteral(":/res/emblem.png"));

    auto *label = new QLabel(QStringLiteral("Domain to Explore (example.com, .net, .org, etc)"), this);
    label->setGeometry(DluRect(60, 12, 161, 8));

    m_domainEdit = new QLineEdit(this);
    m_domainEdit->setObjectName(QStringLiteral("domainEdit"));
    m_domainEdit->setGeometry(DluRect(60, 24, 186, 12));
    label->setBuddy(m_domainEdit); // the field's name for a screen reader

    m_exploreButton = new QPushButton(QStringLiteral("Explore"), this);
    m_exploreButton->setObjectName(QStringLiteral("exploreButton"));
    m_exploreButton->setGeometry(DluRect(144, 42, 50, 14));

    auto *allDone = new QPushButton(QStringLiteral("All Done"), this);
    allDone->setObjectName(QStringLiteral("allDoneButton"));
    allDone->setGeometry(DluRect(198, 42, 50, 14));

    // Neither button is the default: Enter in the field explores, it does not end the program;
    // Enter on a focused button presses that button (FollowKeyConventions).
    for (QPushButton *button : {m_exploreButton, allDone}) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }
    connect(m_exploreButton, &QPushButton::clicked, this, &CQuokkaQuokkaDlg::OnExplore);
    connect(m_domainEdit, &QLineEdit::returnPressed, this, &CQuokkaQuokkaDlg::OnExplore);
    connect(allDone, &QPushButton::clicked, this, &CQuokkaQuokkaDlg::reject);

    // The window menu belongs to the window manager, so About lives in the context menu and on F1.
    auto *about = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(about, &QShortcut::activated, this, &CQuokkaQuokkaDlg::ShowAbout);

    m_domainEdit->setFocus();
}

CQuokkaQuokkaDlg::~CQuokkaQuokkaDlg()
{
    m_exploration.reset(); // the run goes before the windows it shows in
    m_lastExploration.reset();
    delete m_firstRunWindow.data();
    for (const ResultWindows &windows : m_resultWindows)
        qDeleteAll(windows.All()); // those still there
    for (const QPointer<QWidget> &window : m_monitorWindows)
        delete window.data();
}

void CQuokkaQuokkaDlg::StartExploration(const QString &domain)
{
    m_domainEdit->setText(domain);
    m_exploreButton->click();
}

void CQuokkaQuokkaDlg::OnExplore()
{
    if (m_exploration || ShuttingDown())
        return; // one run at a time
    // Focus goes back where it was when the run ends; meanwhile it must not fall to "All Done"
    // when the focused Explore is disabled.
    m_focusBeforeRun = focusWidget();
    if (m_focusBeforeRun == m_exploreButton)
        m_domainEdit->setFocus(Qt::OtherFocusReason);
    m_exploreButton->setEnabled(false);
    m_lastExploration.reset();
    ExplorationServices services = m_services;
    services.preferIPv6 = m_preferIPv6;
    m_exploration = std::make_unique<Exploration>(m_domainEdit->text(), std::move(services), *this);
    connect(m_exploration.get(), &Exploration::PhaseStarted, this, &CQuokkaQuokkaDlg::PhaseStarted);
    connect(m_exploration.get(), &Exploration::HopDetailSettled, this, &CQuokkaQuokkaDlg::HopDetailSettled);
    connect(m_exploration.get(), &Exploration::Finished, this, &CQuokkaQuokkaDlg::OnExplorationFinished);
    m_exploration->Start();
}

void CQuokkaQuokkaDlg::OnExplorationFinished()
{
    m_lastReport = m_exploration->Report();
    m_lastExploration = std::move(m_exploration); // it is still sending its end
    m_exploreButton->setEnabled(true);
    if (m_focusBeforeRun)
        m_focusBeforeRun->setFocus(Qt::OtherFocusReason);
    // The result windows came up above this dialog without taking the keyboard from it: the
    // window that has the keyboard comes back into view, unless the user has gone elsewhere.
    if (isActiveWindow())
        RaiseWindow(this);
    emit ExplorationFinished();
}

void CQuokkaQuokkaDlg::OpenFirstRunWindow(QDialog *window, std::function<void()> closed)
{
    m_firstRunWindow = window;
    connect(window, &QDialog::finished, this, [window, closed = std::move(closed)] {
        window->deleteLater();
        closed();
    });
    window->open(); // modal over this dialog; the run goes on when it has closed
}

void CQuokkaQuokkaDlg::ShowWelcome(const QString &text, int durationMs, std::function<void()> closed)
{
    auto *welcome = new Toast(this);
    welcome->m_strText = text;
    welcome->m_nPointSize = 100;
    welcome->m_nDuration = durationMs;
    OpenFirstRunWindow(welcome, std::move(closed));
    emit FirstRunStepShown(QStringLiteral("notice"), text);
}

void CQuokkaQuokkaDlg::ShowSetup(int noticeMs, std::function<void()> closed)
{
    auto *setup = new CSetup(this);
    setup->SetNoticeDuration(noticeMs);
    connect(setup, &CSetup::NoticeShown, this,
            [this](const QString &text) { emit FirstRunStepShown(QStringLiteral("notice"), text); });
    connect(setup, &CSetup::MapShown, this, [this] { emit FirstRunStepShown(QStringLiteral("setup"), {}); });
    OpenFirstRunWindow(setup, std::move(closed));
}

void CQuokkaQuokkaDlg::CloseFirstRunWindow()
{
    delete m_firstRunWindow.data();
}

QList<QWidget *> CQuokkaQuokkaDlg::ResultWindows::All() const
{
    return {map.data(), trace.data(), whois.data()};
}

void CQuokkaQuokkaDlg::OpenResultWindows(const HomeLocation &home, std::shared_ptr<const RunReport> report)
{
    // Top-level windows of their own, above no other window; this dialog deletes them.
    std::erase_if(m_resultWindows, [](const ResultWindows &windows) { return windows.All().count(nullptr) == 3; });
    m_pWorldMap = new CWorldMap;
    m_pWorldMap->SetHome(home); // the first paint already shows the home marker
    m_pWorldMap->SetReplayStepMs(m_services.timings.hopWaitMs);
    m_pTraceData = new CTraceData;
    m_pWhoisLookup = new CWhoisLookup;
    m_resultWindows.push_back({m_pWorldMap, m_pTraceData, m_pWhoisLookup});
    // They come up on top but leave the keyboard where it is: Enter in the domain field
    // neither lands in nor hides one of them.
    for (QWidget *window : {static_cast<QWidget *>(m_pWorldMap), static_cast<QWidget *>(m_pTraceData),
                            static_cast<QWidget *>(m_pWhoisLookup)}) {
        window->setAttribute(Qt::WA_ShowWithoutActivating);
        window->show();
        RaiseWindow(window);
    }
    // Both lists save the run's report, which the windows keep after the run.
    const auto save = [report = std::move(report)](QWidget *window) {
        AskWhereToSave(window, QStringLiteral("Save Report"), {runreport::kJsonFilter, runreport::kCsvFilter},
                       [report](const QString &name, const QString &filter) {
                           const QString path = runreport::PathForFilter(name, filter);
                           const QString error = runreport::SaveReport(*report, path);
                           return error.isEmpty()
                               ? error
                               : QStringLiteral("The report could not be saved to %1: %2").arg(path, error);
                       });
    };
    m_pTraceData->SetSaveReport(save);
    m_pWhoisLookup->SetSaveReport(save);
    emit ResultWindowsOpened();
}

void CQuokkaQuokkaDlg::SetBusy(bool busy)
{
    if (m_resultWindows.empty())
        return;
    for (QWidget *window : m_resultWindows.back().All()) {
        if (!window)
            continue;
        if (busy)
            window->setCursor(Qt::BusyCursor);
        else if (window->testAttribute(Qt::WA_SetCursor))
            window->unsetCursor();
    }
}

void CQuokkaQuokkaDlg::ShowWhoisAnswer(const QStringList &lines)
{
    if (m_pWhoisLookup)
        m_pWhoisLookup->ShowAnswer(lines);
}

void CQuokkaQuokkaDlg::AddTraceLine(const QString &line)
{
    if (m_pTraceData)
        m_pTraceData->AddLine(line);
}

void CQuokkaQuokkaDlg::PlotHop(const GeoRecord &record, bool isDestination, int hop)
{
    if (m_pWorldMap)
        m_pWorldMap->PlotHop(record, isDestination, hop);
}

void CQuokkaQuokkaDlg::DescribeHop(int hop, int row, const QStringList &details)
{
    if (m_pWorldMap)
        m_pWorldMap->DescribeHop(hop, details);
    if (m_pTraceData)
        m_pTraceData->SetRowDetails(row, details);
}

void CQuokkaQuokkaDlg::TargetResolved(const QString &address)
{
    const auto open = [this, address] { OpenMonitor(address); };
    if (m_pTraceData)
        m_pTraceData->SetMonitorRoute(open);
    if (m_pWorldMap)
        m_pWorldMap->SetMonitorRoute(open);
}

monitor::MonitorWindow *CQuokkaQuokkaDlg::OpenMonitor(const QString &address)
{
    if (ShuttingDown())
        return nullptr;
    m_monitorWindows.removeAll(nullptr);
    // A top-level window of its own, like the result windows; it probes the route with the
    // run's own name and table services.
    auto *window = new monitor::MonitorWindow(std::make_unique<monitor::Session>(address, m_services, m_monitorSource));
    m_monitorWindows << window;
    window->show();
    RaiseWindow(window);
    emit MonitorOpened(window);
    return window;
}

bool CQuokkaQuokkaDlg::IsExploring() const
{
    return m_exploration && !ShuttingDown(); // closing ends the run
}

CTraceData *CQuokkaQuokkaDlg::TraceData() const
{
    return m_pTraceData;
}

CWorldMap *CQuokkaQuokkaDlg::WorldMap() const
{
    return m_pWorldMap;
}

CWhoisLookup *CQuokkaQuokkaDlg::WhoisLookup() const
{
    return m_pWhoisLookup;
}

void CQuokkaQuokkaDlg::ShowAbout()
{
    CAboutDlg about(this);
    about.exec();
}

void CQuokkaQuokkaDlg::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.drawImage(QPoint(0, 0), m_bitmap, QRect(0, 0, 71, 92));
}

void CQuokkaQuokkaDlg::contextMenuEvent(QContextMenuEvent *event)
{
    QMenu menu(this);
    menu.addAction(QStringLiteral("&About Quokka Quokka..."), this, &CQuokkaQuokkaDlg::ShowAbout);
    // Which family a name with both is explored over; the run under way keeps its own.
    QAction *preferIPv6 = menu.addAction(QStringLiteral("Prefer IPv&6"));
    preferIPv6->setCheckable(true);
    preferIPv6->setChecked(m_preferIPv6);
    connect(preferIPv6, &QAction::toggled, this, [this](bool checked) {
        m_preferIPv6 = checked;
        AddressPreference::WritePreferIPv6(checked);
    });
    menu.exec(event->globalPos());
}

void CQuokkaQuokkaDlg::keyPressEvent(QKeyEvent *event)
{
    // Enter has done its work in the field (it explores) or on a focused button (it pressed
    // it); elsewhere in this window it does nothing, and it never goes on to another window.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
        return event->accept();
    QDialog::keyPressEvent(event);
}

void CQuokkaQuokkaDlg::changeEvent(QEvent *event)
{
    // The window has no maximise box; a window manager that maximises any window that can
    // grow is answered by returning to the normal size.
    if (event->type() == QEvent::WindowStateChange && windowState().testFlag(Qt::WindowMaximized))
        setWindowState(windowState() & ~Qt::WindowMaximized);
    QDialog::changeEvent(event);
}

void CQuokkaQuokkaDlg::closeEvent(QCloseEvent *event)
{
    Shutdown();
    event->accept();
}

void CQuokkaQuokkaDlg::reject()
{
    Shutdown();
    QDialog::reject();
}

void CQuokkaQuokkaDlg::accept()
{
    // Enter no longer ends the program; only "All Done", Esc and the close box do.
}

// Ends a run in progress, closes every result window and leaves the program. The run's
// worker thread ends on its own; the program's end waits for it once no window is left.
void CQuokkaQuokkaDlg::Shutdown()
{
    BeginShutdown();
    if (m_exploration)
        m_exploration->Cancel();
    CloseResultWindows();
    QCoreApplication::quit();
}

void CQuokkaQuokkaDlg::CloseResultWindows()
{
    // Hidden at once and deleted once the events under way are done with them.
    for (const ResultWindows &windows : m_resultWindows) {
        for (QWidget *window : windows.All()) {
            if (window) {
                window->hide();
                window->deleteLater();
            }
        }
    }
    m_resultWindows.clear();
    for (const QPointer<QWidget> &window : std::as_const(m_monitorWindows)) {
        if (window) {
            window->hide();
            window->deleteLater();
        }
    }
    m_monitorWindows.clear();
}

} // namespace quokka::app
