#pragma once
// One exploration of a domain, start to finish: the first-run steps when no home is stored,
// a new set of result windows, name resolution, WHOIS, then the route probed hop by hop with
// a two-second pause after each listed hop. The run is a sequence of steps, each started by
// the end of the one before (a background job's result, a timer, a window closing), so no
// step waits inside another and no other window's event loop can hold the run up.
#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <memory>
#include <optional>
#include <stop_token>

class CIcmpTracer;
class CTraceData;
class CWhoisLookup;
class CWorldMap;
class QDialog;
class QWidget;
struct HopReply;

// The three windows one exploration opens. They belong to no other window: the main dialog
// keeps them and closes them when it closes.
struct ResultWindows {
    QPointer<CWorldMap> map;
    QPointer<CTraceData> trace;
    QPointer<CWhoisLookup> whois;
};

class Exploration : public QObject {
    Q_OBJECT

public:
    // OWNER is the window the first-run notices and the setup window belong to.
    Exploration(const QString &domain, QWidget *owner, QObject *parent = nullptr);
    // Ends the run where it stands: its background work is asked to stop and nothing more
    // of it happens.
    ~Exploration() override;

    void Start();

signals:
    void resultWindowsOpened(const ResultWindows &windows);
    // A step begins: "resolution", "whois", "probe TTL" or "wait TTL".
    void phaseStarted(const QString &phase);
    // The run has come to its end (not sent for a run ended by its destruction).
    void finished();

private:
    enum class Step { FirstRun, Resolution, Whois, Trace, Done };

    void ShowWelcome();
    void ShowSetup();
    void Install();
    void OpenResultWindows();
    void Resolve();
    void OnResolved(const std::optional<QString> &target);
    void LookUpWhois();
    void StartTrace();
    void Probe();
    void OnProbed(const HopReply &reply);
    void AfterHopWait(const QString &address, bool isDestination);
    void AddLine(const QString &line);
    void Finish();
    // Shows a first-run window modally over the owner and goes on with NEXT when it closes.
    void OpenFirstRunWindow(QDialog *window, void (Exploration::*next)());

    const QString m_domain;
    QWidget *m_owner;
    Step m_step = Step::FirstRun;
    QPointer<QDialog> m_firstRunWindow;
    ResultWindows m_windows;
    QString m_target;
    std::shared_ptr<CIcmpTracer> m_tracer; // shared with the probe in flight
    std::stop_source m_job;                // the background job in flight
    QByteArray m_hopAddress;               // the current hop's address as 8-bit text, at most 31 bytes
    int m_ttl = 0;
    int m_totalMs = 0;
};
