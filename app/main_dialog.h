#pragma once
// The main dialog: the domain field, "Explore" and "All Done", the emblem, the About box.
// Each Explore starts one exploration and is its view: the dialog shows the run's first-run
// windows over itself, opens a new set of result windows for it, keeps every set and closes
// them all when it closes.
#include "app/exploration.h"
#include "app/exploration_view.h"
#include "app/monitor_session.h"
#include "geo/home_location.h"

#include <QDialog>
#include <QImage>
#include <QList>
#include <QPointer>
#include <memory>
#include <vector>

namespace quokka::app::monitor { class MonitorWindow; }
namespace quokka::geo { class CWorldMap; }
namespace quokka::trace { class CTraceData; }
namespace quokka::whois { class CWhoisLookup; }
class QLineEdit;
class QPushButton;

namespace quokka::app {

class CQuokkaQuokkaDlg : public QDialog, public ExplorationView {
    Q_OBJECT

public:
    explicit CQuokkaQuokkaDlg(QWidget *parent = nullptr);
    ~CQuokkaQuokkaDlg() override;

    // Types DOMAIN into the field and presses Explore, as a user would. The run goes on in
    // the background; ExplorationFinished tells its end.
    void StartExploration(const QString &domain);
    bool IsExploring() const;
    // What the explorations from now on talk to; the program's own unless a test hands in others.
    void SetServices(ExplorationServices services) { m_services = std::move(services); }
    // "Prefer IPv6" on the context menu: read from the profile at start, stored when the user
    // changes it. SetPreferIPv6 sets it for this session only (--ipv6).
    bool PrefersIPv6() const { return m_preferIPv6; }
    void SetPreferIPv6(bool preferIPv6) { m_preferIPv6 = preferIPv6; }

    // The newest result windows (null before the first run).
    quokka::trace::CTraceData *TraceData() const;
    quokka::whois::CWhoisLookup *WhoisLookup() const;
    quokka::geo::CWorldMap *WorldMap() const;
    // What the newest run found, as it stood when that run ended.
    const RunReport &LastReport() const { return m_lastReport; }
    // How the monitors opened from now on probe; the program's own sockets or helper unless a
    // test hands in another.
    void SetMonitorSource(monitor::Session::OpenSource open) { m_monitorSource = std::move(open); }
    // Opens a Route Monitor window for ADDRESS, owned by this dialog, and starts it.
    monitor::MonitorWindow *OpenMonitor(const QString &address);

    // What the run shows (ExplorationView).
    void ShowWelcome(const QString &text, int durationMs, std::function<void()> closed) override;
    void ShowSetup(int noticeMs, std::function<void()> closed) override;
    void CloseFirstRunWindow() override;
    void OpenResultWindows(const quokka::geo::HomeLocation &home, std::shared_ptr<const RunReport> report) override;
    void SetBusy(bool busy) override;
    void ShowWhoisAnswer(const QStringList &lines) override;
    void AddTraceLine(const QString &line) override;
    void PlotHop(const quokka::geo::GeoRecord &record, bool isDestination, int hop) override;
    void DescribeHop(int hop, int row, const QStringList &details) override;
    void TargetResolved(const QString &address) override;

signals:
    void ResultWindowsOpened();
    void ExplorationFinished();
    // A first-run window shows: "notice" with its text, or "setup".
    void FirstRunStepShown(const QString &step, const QString &text);
    // A step of the run begins: "install", "resolution", "whois", "probe TTL" or "wait TTL". Lets tests
    // and benchmarks follow a run from outside.
    void PhaseStarted(const QString &phase);
    // A hop's host name is final (Exploration::HopDetailSettled).
    void HopDetailSettled(const HopDetail &hop);
    // A Route Monitor window has opened (and started).
    void MonitorOpened(quokka::app::monitor::MonitorWindow *window);

public slots:
    void OnExplore();
    void ShowAbout();

protected:
    void paintEvent(QPaintEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void changeEvent(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void reject() override;
    void accept() override;

private:
    // One run's result windows, owned here: deleted with this dialog unless gone before.
    struct ResultWindows {
        QPointer<quokka::geo::CWorldMap> map;
        QPointer<quokka::trace::CTraceData> trace;
        QPointer<quokka::whois::CWhoisLookup> whois;
        QList<QWidget *> All() const;
    };

    // Shows a first-run window modally over this dialog; CLOSED is called when it has closed.
    void OpenFirstRunWindow(QDialog *window, std::function<void()> closed);
    void OnExplorationFinished();
    void CloseResultWindows();
    void Shutdown();

    QImage m_bitmap; // the emblem, drawn with its transparency
    // The newest run's result windows (null before the first run), of m_resultWindows.
    QPointer<quokka::geo::CWorldMap> m_pWorldMap;
    QPointer<quokka::trace::CTraceData> m_pTraceData;
    QPointer<quokka::whois::CWhoisLookup> m_pWhoisLookup;
    std::vector<ResultWindows> m_resultWindows; // of every run, closed with this dialog
    QList<QPointer<QWidget>> m_monitorWindows;  // closed with this dialog too
    monitor::Session::OpenSource m_monitorSource = monitor::Session::DefaultOpenSource();
    QPointer<QDialog> m_firstRunWindow;
    QLineEdit *m_domainEdit = nullptr;
    QPushButton *m_exploreButton = nullptr;
    ExplorationServices m_services = ExplorationServices::Real();
    std::unique_ptr<Exploration> m_exploration; // the run under way
    std::unique_ptr<Exploration> m_lastExploration; // the run ended last, gone with the next one
    RunReport m_lastReport;
    QPointer<QWidget> m_focusBeforeRun;
    bool m_preferIPv6 = quokka::geo::AddressPreference::ReadPreferIPv6();
};

} // namespace quokka::app
