#pragma once
// What the command line asks of a windowed run: explore a domain once shown, print the
// result windows' lines and each hop's details, save pictures of them, write the run as
// JSON, and end when the run ends.
#include "app/options.h"

#include <QObject>
#include <QPointer>

namespace quokka::app {

class CQuokkaQuokkaDlg;
namespace monitor { class MonitorWindow; }

class Automation : public QObject {
    Q_OBJECT

public:
    Automation(CQuokkaQuokkaDlg &dialog, const Options &options);
    // A monitor still up (the main dialog closed first) has its lines printed and JSON written.
    ~Automation() override;

    // Starts the requested exploration; call once the dialog is shown.
    void Start();
    // 0, or 1 once something asked for could not be done (the JSON or a screenshot could not
    // be written, the monitor could not probe).
    int ExitStatus() const { return m_failed ? 1 : 0; }

private:
    void ConnectReport();
    // Saves a picture of each result window where --screenshot says; false (and a message)
    // at the first that cannot be written.
    bool SaveScreenshots();
    // Writes the newest run as JSON where --json says, with the monitor's statistics when
    // WINDOW is given; false (and a message) when it cannot.
    bool WriteJson(monitor::MonitorWindow *window = nullptr);
    // --monitor: opens the monitor of the explored address; its end finishes the program's
    // work (FinishMonitor) instead of the exploration's.
    void StartMonitor(const QString &address);
    // Prints the monitor's lines (--report), writes the JSON (--json) and ends (--quit), once.
    void FinishMonitor(monitor::MonitorWindow &window);

    CQuokkaQuokkaDlg &m_dialog;
    Options m_options;
    bool m_failed = false;
    bool m_monitorFinished = false;
    QPointer<monitor::MonitorWindow> m_monitor;
};

} // namespace quokka::app
