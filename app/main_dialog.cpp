#include "app/main_dialog.h"

#include "app/about_dialog.h"
#include "app/exploration.h"
#include "trace/trace_data.h"
#include "whois/whois_lookup.h"
#include "geo/world_map.h"
#include "base/wait.h"
#include "base/window_support.h"

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

using namespace quokka;

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

    m_pDomainEdit = new QLineEdit(this);
    m_pDomainEdit->setObjectName(QStringLiteral("domainEdit"));
    m_pDomainEdit->setGeometry(DluRect(60, 24, 186, 12));
    label->setBuddy(m_pDomainEdit); // the field's name for a screen reader

    m_pExploreButton = new QPushButton(QStringLiteral("Explore"), this);
    m_pExploreButton->setObjectName(QStringLiteral("exploreButton"));
    m_pExploreButton->setGeometry(DluRect(144, 42, 50, 14));

    auto *allDone = new QPushButton(QStringLiteral("All Done"), this);
    allDone->setObjectName(QStringLiteral("allDoneButton"));
    allDone->setGeometry(DluRect(198, 42, 50, 14));

    // Neither button is the default: Enter in the field explores, it does not end the program;
    // Enter on a focused button presses that button (FollowKeyConventions).
    for (QPushButton *button : {m_pExploreButton, allDone}) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }
    connect(m_pExploreButton, &QPushButton::clicked, this, &CQuokkaQuokkaDlg::OnExplore);
    connect(m_pDomainEdit, &QLineEdit::returnPressed, this, &CQuokkaQuokkaDlg::OnExplore);
    connect(allDone, &QPushButton::clicked, this, &CQuokkaQuokkaDlg::reject);

    // The window menu belongs to the window manager, so About lives in the context menu and on F1.
    auto *about = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(about, &QShortcut::activated, this, &CQuokkaQuokkaDlg::ShowAbout);

    m_pDomainEdit->setFocus();
}

CQuokkaQuokkaDlg::~CQuokkaQuokkaDlg()
{
    delete m_pExploration;
    for (const QPointer<QWidget> &window : m_resultWindows)
        delete window.data();
}

void CQuokkaQuokkaDlg::StartExploration(const QString &domain)
{
    m_pDomainEdit->setText(domain);
    m_pExploreButton->click();
}

void CQuokkaQuokkaDlg::OnExplore()
{
    if (m_pExploration || ShuttingDown())
        return; // one run at a time
    // Focus goes back where it was when the run ends; meanwhile it must not fall to "All Done"
    // when the focused Explore is disabled.
    m_focusBeforeRun = focusWidget();
    if (m_focusBeforeRun == m_pExploreButton)
        m_pDomainEdit->setFocus(Qt::OtherFocusReason);
    m_pExploreButton->setEnabled(false);
    m_pExploration = new Exploration(m_pDomainEdit->text(), m_services, this, this);
    connect(m_pExploration, &Exploration::resultWindowsOpened, this, &CQuokkaQuokkaDlg::AdoptResultWindows);
    connect(m_pExploration, &Exploration::firstRunStepShown, this, &CQuokkaQuokkaDlg::firstRunStepShown);
    connect(m_pExploration, &Exploration::phaseStarted, this, &CQuokkaQuokkaDlg::phaseStarted);
    connect(m_pExploration, &Exploration::hopDetailSettled, this, &CQuokkaQuokkaDlg::hopDetailSettled);
    connect(m_pExploration, &Exploration::finished, this, &CQuokkaQuokkaDlg::OnExplorationFinished);
    m_pExploration->Start();
}

void CQuokkaQuokkaDlg::OnExplorationFinished()
{
    m_lastReport = m_pExploration->Report();
    std::exchange(m_pExploration, nullptr)->deleteLater();
    m_pExploreButton->setEnabled(true);
    if (m_focusBeforeRun)
        m_focusBeforeRun->setFocus(Qt::OtherFocusReason);
    // The result windows came up above this dialog without taking the keyboard from it: the
    // window that has the keyboard comes back into view, unless the user has gone elsewhere.
    if (isActiveWindow())
        RaiseWindow(this);
    emit explorationFinished();
}

void CQuokkaQuokkaDlg::AdoptResultWindows(const ResultWindows &windows)
{
    std::erase_if(m_resultWindows, [](const QPointer<QWidget> &window) { return window.isNull(); });
    m_pWorldMap = windows.map;
    m_pTraceData = windows.trace;
    m_pWhoisLookup = windows.whois;
    m_resultWindows.insert(m_resultWindows.end(), {windows.map.data(), windows.trace.data(), windows.whois.data()});
    emit resultWindowsOpened();
}

bool CQuokkaQuokkaDlg::IsExploring() const
{
    return m_pExploration && !ShuttingDown(); // closing ends the run
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
// worker is waited for when this dialog goes, after the event loop has ended.
void CQuokkaQuokkaDlg::Shutdown()
{
    BeginShutdown();
    if (m_pExploration)
        m_pExploration->Cancel();
    CloseResultWindows();
    QCoreApplication::quit();
}

void CQuokkaQuokkaDlg::CloseResultWindows()
{
    for (const QPointer<QWidget> &window : m_resultWindows) {
        if (window) {
            window->hide();
            window->deleteLater();
        }
    }
}
