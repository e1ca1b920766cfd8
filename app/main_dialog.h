#pragma once
// The main dialog: the domain field, "Explore" and "All Done", the emblem, the About box.
// Each Explore starts one exploration, which opens a new set of result windows; the dialog
// keeps every set and closes them all when it closes.
#include "app/exploration.h"

#include <QDialog>
#include <QImage>
#include <QPointer>
#include <vector>

class CTraceData;
class CWorldMap;
class CWhoisLookup;
class QLineEdit;
class QPushButton;

class CQuokkaQuokkaDlg : public QDialog {
    Q_OBJECT

public:
    explicit CQuokkaQuokkaDlg(QWidget *parent = nullptr);
    ~CQuokkaQuokkaDlg() override;

    // Types DOMAIN into the field and presses Explore, as a user would. The run goes on in
    // the background; explorationFinished tells its end.
    void StartExploration(const QString &domain);
    bool IsExploring() const;
    // What the explorations from now on talk to; the program's own unless a test hands in others.
    void SetServices(ExplorationServices services) { m_services = std::move(services); }

    // The newest result windows (null before the first run).
    CTraceData *TraceData() const;
    CWhoisLookup *WhoisLookup() const;
    CWorldMap *WorldMap() const;
    // What the newest run found, as it stood when that run ended.
    const RunReport &LastReport() const { return m_lastReport; }

signals:
    void resultWindowsOpened();
    void explorationFinished();
    // A first-run window shows: "notice" with its text, or "setup".
    void firstRunStepShown(const QString &step, const QString &text);
    // A step of the run begins: "install", "resolution", "whois", "probe TTL" or "wait TTL". Lets tests
    // and benchmarks follow a run from outside.
    void phaseStarted(const QString &phase);
    // A hop's host name is final (Exploration::hopDetailSettled).
    void hopDetailSettled(const HopDetail &hop);

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
    void AdoptResultWindows(const ResultWindows &windows);
    void OnExplorationFinished();
    void CloseResultWindows();
    void Shutdown();

    QImage m_bitmap; // the emblem, drawn with its transparency
    QPointer<CWorldMap> m_pWorldMap;
    QPointer<CTraceData> m_pTraceData;
    QPointer<CWhoisLookup> m_pWhoisLookup;
    std::vector<QPointer<QWidget>> m_resultWindows; // of every run, closed with this dialog
    QLineEdit *m_pDomainEdit = nullptr;
    QPushButton *m_pExploreButton = nullptr;
    ExplorationServices m_services = ExplorationServices::Real();
    Exploration *m_pExploration = nullptr; // the run under way
    RunReport m_lastReport;
    QPointer<QWidget> m_focusBeforeRun;
};
