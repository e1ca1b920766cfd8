#pragma once
// The main dialog: the domain field, "Explore" and "All Done", the emblem, the About box.
// Each Explore runs one whole exploration and opens a new set of result windows.
#include "home_location.h"

#include <QDialog>
#include <QImage>
#include <QPointer>

class CTraceData;
class CWorldMap;
class CWhoisLookup;
class QLineEdit;
class QPushButton;

class CQuokkaQuokkaDlg : public QDialog {
    Q_OBJECT

public:
    explicit CQuokkaQuokkaDlg(QWidget *parent = nullptr);

    // Types DOMAIN into the field and presses Explore, as a user would.
    void StartExploration(const QString &domain);

    // The newest result windows (null before the first run).
    CTraceData *TraceData() const;
    CWhoisLookup *WhoisLookup() const;
    CWorldMap *WorldMap() const;

signals:
    void resultWindowsOpened();
    void explorationFinished();
    // A step of the run begins: "resolution", "whois", "probe TTL" or "wait TTL". Lets tests
    // and benchmarks follow a run from outside.
    void phaseStarted(const QString &phase);

public slots:
    void OnExplore();
    void ShowAbout();

protected:
    void paintEvent(QPaintEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void reject() override;
    void accept() override;

private:
    void RunExploration();
    HomeLocation RunFirstRunSteps();
    void OpenResultWindows(const HomeLocation &home);
    void TraceRoute(const QString &target);
    void LocateHop(const QString &address, bool isDestination, struct GeoRecord &record);
    void Shutdown();

    QImage m_bitmap; // the emblem, drawn with its transparency
    QPointer<CWorldMap> m_pWorldMap;
    QPointer<CTraceData> m_pTraceData;
    QPointer<CWhoisLookup> m_pWhoisLookup;
    QByteArray m_hopAddress; // the current hop's address as 8-bit text, at most 31 bytes
    QLineEdit *m_pDomainEdit = nullptr;
    QPushButton *m_pExploreButton = nullptr;
    bool m_bRunning = false;
};
