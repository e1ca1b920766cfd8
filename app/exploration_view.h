#pragma once
// What an exploration shows, and to whom it says so: the first-run notices and the setup
// window, then one set of result windows. The run decides what is shown and when; a view only
// shows it. The program's view is the main dialog; tests hand in a recording view of their own.
#include "app/run_report.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

namespace quokka::geo {
struct GeoRecord;
struct HomeLocation;
} // namespace quokka::geo

namespace quokka::app {

class ExplorationView {
public:
    virtual ~ExplorationView() = default;

    // The first run's welcome notice: TEXT for DURATIONMS, then CLOSED is called (also when
    // the user closes it sooner).
    virtual void ShowWelcome(const QString &text, int durationMs, std::function<void()> closed) = 0;
    // The setup window: its own notice for NOTICEMS, then the map on which the user's first
    // left click stores the home point. CLOSED is called when it has gone.
    virtual void ShowSetup(int noticeMs, std::function<void()> closed) = 0;
    // The run has ended early: a first-run window up goes without calling its CLOSED.
    virtual void CloseFirstRunWindow() = 0;

    // A new set of result windows, the route starting at HOME. REPORT is what their
    // "Save Report..." writes, read when the user has chosen where; it outlives the run.
    virtual void OpenResultWindows(const quokka::geo::HomeLocation &home, std::shared_ptr<const RunReport> report) = 0;
    // The busy pointer over the result windows, while they wait for their first line.
    virtual void SetBusy(bool busy) = 0;
    // Lists the WHOIS answer's LINES, cleaned, with why it was cut short (if it was) last.
    virtual void ShowWhoisAnswer(const QStringList &lines) = 0;
    // Appends LINE to the trace list.
    virtual void AddTraceLine(const QString &line) = 0;
    // Plots hop number HOP (its index in the report) on the map where RECORD places it.
    virtual void PlotHop(const quokka::geo::GeoRecord &record, bool isDestination, int hop) = 0;
    // Hop HOP's details, one a line, for its marker and for its line in trace list row ROW.
    virtual void DescribeHop(int hop, int row, const QStringList &details) = 0;
    // The run's domain resolved to ADDRESS: its route can now be monitored.
    virtual void TargetResolved(const QString &address) { (void)address; }
};

} // namespace quokka::app
