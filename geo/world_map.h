#pragma once
// The map window of one exploration: the world map picture with the home point, a marker
// for every located hop and a red line from each located hop to the next. The window keeps
// its own route, repaints it as it was drawn, and replays it with "Trace Route"; a hop's
// marker tells the hop's details on hover.
#include "geo/geo_record.h"
#include "geo/home_location.h"
#include "geo/projection.h"
#include "base/wait.h"

#include <QDialog>
#include <QPixmap>
#include <QStringList>
#include <functional>
#include <optional>
#include <vector>

class QPainter;
class QPushButton;

namespace quokka::geo {

class GeoDatabase;

// One drawn line of a route in map pixels: from the previous point to the hop's point.
struct RouteSegment {
    qint32 x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    friend bool operator==(const RouteSegment &, const RouteSegment &) = default;
};

class CWorldMap : public QDialog {
    Q_OBJECT
public:
    explicit CWorldMap(QWidget *parent = nullptr);

    // The start of the route: home marker and previous point.
    void SetHome(const HomeLocation &home);
    // Plots a located hop: its marker (green when it is the destination) and the line from the
    // previous plotted point. A record without a location plots nothing. HOP names the marker
    // for DescribeHop.
    void PlotHop(const GeoRecord &record, bool isDestination, int hop = -1);
    // The details hop HOP's marker tells on hover, one a line; a tooltip up shows them at once.
    void DescribeHop(int hop, const QStringList &details);
    // Looks ADDRESS up in DATABASE and plots the row it finds; returns that row, or a zero
    // record when there is none.
    GeoRecord LookupAndPlot(const GeoDatabase &database, const char *address, bool isDestination);

    const std::vector<RouteSegment> &RouteSegments() const { return m_routeSegments; }
    QPoint LastPoint() const { return {m_lastX, m_lastY}; }
    QPoint HomePoint() const { return {m_homeX, m_homeY}; }
    // True while a replay runs in this window.
    bool IsReplaying() const { return m_replaying; }
    // How long each replayed segment stays green: the run's hop wait.
    void SetReplayStepMs(int ms) { m_replayStepMs = ms; }
    // What "Monitor Route" on the window's context menu does; the item is disabled while none
    // is set (the run has not resolved its address yet).
    void SetMonitorRoute(std::function<void()> open) { m_monitorRoute = std::move(open); }

    // The map picture shared by the map and setup windows, decoded from the resources.
    static QPixmap Picture();
    // What the map and setup windows share: object and window-manager role NAME, caption,
    // icon and dialog font, the map window's size, and a place centred on the screen
    // (clamped into its available area).
    static void DressAsMapWindow(QWidget *window, const QString &name);

    static constexpr QRgb kRed = 0xFFFF0000;
    static constexpr QRgb kGreen = 0xFF00FF00;

signals:
    // A replay has shown its last segment.
    void ReplayFinished();

public slots:
    // "Trace Route": each segment green for the hop wait, then red again, one after the
    // other, and a green marker on the end; returns at once, the replay runs on its timers.
    // Pressed during a replay, it starts that replay again from the first segment.
    void OnTraceRoute();

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    // One located hop as it was plotted: its marker and whether a line led to it.
    struct PlottedHop {
        MapPoint point;
        bool isDestination = false;
        int segment = -1; // index into m_routeSegments, or -1 without a line
        int hop = -1;     // the name DescribeHop knows it by
        QStringList details; // its tooltip's lines; none: it tells nothing
    };

    void PlotPoint(const GeoRecord &record, bool isDestination, int hop);
    // The topmost plotted marker under POS with details to tell, or null.
    const PlottedHop *HopAt(QPoint pos) const;
    // Shows the details of the hop under POS (in this window) at GLOBAL, or of the home
    // point; false when there is neither.
    bool ShowToolTip(QPoint pos, QPoint global);
    void DrawRoute(QPainter &painter) const;
    void DrawReplay(QPainter &painter) const;
    void BuildButtons();
    // Step INDEX of the replay started as number REPLAY; a later press ends the earlier one.
    void ReplaySegment(unsigned replay, std::size_t index);
    void EndReplay(std::optional<std::size_t> last);

    QPixmap m_mapBitmap;
    QPushButton *m_pTraceRouteButton = nullptr;
    qint32 m_lastX = 0, m_lastY = 0; // previous plotted point; 0 in either means none
    qint32 m_homeX = 0, m_homeY = 0;

    std::vector<RouteSegment> m_routeSegments;
    std::vector<PlottedHop> m_plotted;
    // What the replay shows: the segment now green, and the segment on whose end a finished
    // replay left its green marker.
    std::optional<std::size_t> m_greenSegment;
    std::optional<std::size_t> m_replayEnd;
    bool m_replaying = false;
    unsigned m_replay = 0; // the number of the latest replay started
    int m_replayStepMs = quokka::Timings{}.hopWaitMs;
    std::function<void()> m_monitorRoute;
};

} // namespace quokka::geo
