#include "geo/world_map.h"

#include "geo/geo_database.h"
#include "base/visible_text.h"
#include "base/wait.h"
#include "base/window_support.h"

#include <QContextMenuEvent>
#include <QCursor>
#include <QHelpEvent>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QToolTip>
#include <algorithm>
#include <cstdlib>

namespace quokka::geo {

namespace {

constexpr int kMarker = 10; // markers are 10 x 10, centred on their point
constexpr double kLineWidth = 2.0;

void FillMarker(QPainter &painter, int x, int y, QRgb colour)
{
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor::fromRgba(colour));
    painter.drawEllipse(QRectF(x - kMarker / 2, y - kMarker / 2, kMarker, kMarker));
}

void DrawLine(QPainter &painter, const RouteSegment &segment, QRgb colour)
{
    painter.setPen(QPen(QColor::fromRgba(colour), kLineWidth, Qt::SolidLine, Qt::FlatCap));
    painter.setBrush(Qt::NoBrush);
    painter.drawLine(QPointF(segment.x1, segment.y1), QPointF(segment.x2, segment.y2));
}

} // namespace

CWorldMap::CWorldMap(QWidget *parent)
    : QDialog(parent, quokka::kWindowFlags)
{
    DressAsMapWindow(this, QStringLiteral("worldMap"));
    setAccessibleName(QStringLiteral("World map"));
    m_mapBitmap = Picture();
    BuildButtons();
    setAttribute(Qt::WA_AlwaysShowToolTips); // also while another window of the run is active
}

void CWorldMap::BuildButtons()
{
    auto *allDone = new QPushButton(QStringLiteral("All Done"), this);
    allDone->setObjectName(QStringLiteral("allDone"));
    allDone->setGeometry(quokka::DluRect(518, 313, 79, 14));
    allDone->setDefault(true);
    connect(allDone, &QPushButton::clicked, this, &QDialog::accept); // hides the window

    m_pTraceRouteButton = new QPushButton(QStringLiteral("Trace Route"), this);
    m_pTraceRouteButton->setObjectName(QStringLiteral("traceRoute"));
    m_pTraceRouteButton->setGeometry(650, 509, 120, 23);
    m_pTraceRouteButton->setFont(quokka::PointFont(QStringLiteral("Segoe UI"), 90));
    connect(m_pTraceRouteButton, &QPushButton::clicked, this, &CWorldMap::OnTraceRoute);
}

QPixmap CWorldMap::Picture()
{
    return QPixmap(QStringLiteral(":/res/worldmap.png"));
}

void CWorldMap::DressAsMapWindow(QWidget *window, const QString &name)
{
    quokka::DressWindow(window, name);
    window->setFixedSize(quokka::DluX(599), quokka::DluY(329));
    quokka::PlaceByFrame(window, [](QSize frame, QSize screen) {
        return QPoint(screen.width() / 2 - frame.width() / 2, screen.height() / 2 - frame.height() / 2);
    });
}

void CWorldMap::SetHome(const HomeLocation &home)
{
    m_lastX = m_homeX = home.x;
    m_lastY = m_homeY = home.y;
    update();
}

void CWorldMap::PlotHop(const GeoRecord &record, bool isDestination, int hop)
{
    if (record.HasLocation())
        PlotPoint(record, isDestination, hop);
}

GeoRecord CWorldMap::LookupAndPlot(const GeoDatabase &database, const char *address, bool isDestination)
{
    GeoRecord record{};
    database.Find(address, record);
    PlotHop(record, isDestination);
    return record;
}

void CWorldMap::PlotPoint(const GeoRecord &record, bool isDestination, int hop)
{
    const std::optional<MapPoint> point = ProjectToMap(record.Latitude(), record.Longitude());
    if (!point)
        return;
    PlottedHop plotted{*point, isDestination, -1, hop, {}};
    if (m_lastX != 0 && m_lastY != 0 && m_lastX != point->x && m_lastY != point->y) {
        m_routeSegments.push_back({m_lastX, m_lastY, point->x, point->y});
        plotted.segment = int(m_routeSegments.size()) - 1;
    }
    m_plotted.push_back(plotted);
    m_lastX = point->x;
    m_lastY = point->y;
    // Shows at once, also in the middle of an exploration. The whole window is painted: a
    // clipped paint would shade the anti-aliased edges a little differently from a full one.
    repaint();
}

void CWorldMap::paintEvent(QPaintEvent *)
{
    if (isMinimized())
        return;
    QPainter painter(this);
    painter.drawPixmap(0, 0, m_mapBitmap);
    painter.setRenderHint(QPainter::Antialiasing, true);
    FillMarker(painter, m_homeX, m_homeY, kRed);
    DrawRoute(painter);
    DrawReplay(painter);
}

// Every plotted hop as it was drawn live: its marker, then the line that led to it.
void CWorldMap::DrawRoute(QPainter &painter) const
{
    for (const PlottedHop &hop : m_plotted) {
        FillMarker(painter, hop.point.x, hop.point.y, hop.isDestination ? kGreen : kRed);
        if (hop.segment >= 0)
            DrawLine(painter, m_routeSegments[std::size_t(hop.segment)], kRed);
    }
}

void CWorldMap::DrawReplay(QPainter &painter) const
{
    if (m_greenSegment && *m_greenSegment < m_routeSegments.size())
        DrawLine(painter, m_routeSegments[*m_greenSegment], kGreen);
    // A finished replay marks the route's end; once the route has grown past it, that point
    // is no longer the end.
    if (m_replayEnd && *m_replayEnd + 1 == m_routeSegments.size()) {
        const RouteSegment &end = m_routeSegments[*m_replayEnd];
        FillMarker(painter, end.x2, end.y2, kGreen);
    }
}

void CWorldMap::OnTraceRoute()
{
    if (m_routeSegments.empty())
        return;
    // One replay at a time: a press during a replay starts it again, and the earlier one's
    // pending step finds itself outdated and ends there.
    m_replaying = true;
    m_greenSegment.reset();
    ReplaySegment(++m_replay, 0);
}

// Segment INDEX turns green for the hop wait and red again, then the next one follows. The
// length is read afresh at every step: hops plotted during a wait are replayed too.
void CWorldMap::ReplaySegment(unsigned replay, std::size_t index)
{
    if (index >= m_routeSegments.size())
        return EndReplay(index == 0 ? std::nullopt : std::optional(index - 1));
    m_greenSegment = index;
    repaint();
    quokka::WaitWithMessagePump(m_replayStepMs, this, [this, replay, index] {
        if (replay != m_replay)
            return;
        m_greenSegment.reset();
        repaint();
        ReplaySegment(replay, index + 1);
    });
}

void CWorldMap::EndReplay(std::optional<std::size_t> last)
{
    m_replaying = false;
    if (last && *last < m_routeSegments.size()) {
        m_replayEnd = *last;
        repaint();
    }
    emit ReplayFinished();
}

void CWorldMap::DescribeHop(int hop, const QStringList &details)
{
    for (PlottedHop &plotted : m_plotted)
        if (plotted.hop == hop && hop >= 0)
            plotted.details = details;
    // A tooltip already up shows what the run has learnt since, such as a host name.
    if (QToolTip::isVisible() && underMouse())
        ShowToolTip(mapFromGlobal(QCursor::pos()), QCursor::pos());
}

const CWorldMap::PlottedHop *CWorldMap::HopAt(QPoint pos) const
{
    // The marker drawn last lies on top.
    for (auto hop = m_plotted.rbegin(); hop != m_plotted.rend(); ++hop) {
        const MapPoint point = hop->point;
        const bool under = std::abs(pos.x() - point.x) <= kMarker / 2 && std::abs(pos.y() - point.y) <= kMarker / 2;
        if (under && !hop->details.isEmpty())
            return &*hop;
    }
    return nullptr;
}

bool CWorldMap::ShowToolTip(QPoint pos, QPoint global)
{
    const auto breakLine = quokka::ToolTipLineBreaker(screen());
    if (const PlottedHop *hop = HopAt(pos)) {
        const MapPoint point = hop->point;
        const QRect marker(point.x - kMarker / 2, point.y - kMarker / 2, kMarker + 1, kMarker + 1);
        QToolTip::showText(global, quokka::PlainToolTipHtml(hop->details, breakLine), this, marker);
        return true;
    }
    // The home marker lies below every hop's.
    const bool home = (m_homeX != 0 || m_homeY != 0) && std::abs(pos.x() - m_homeX) <= kMarker / 2
        && std::abs(pos.y() - m_homeY) <= kMarker / 2;
    if (!home)
        return false;
    const QStringList lines{QStringLiteral("Home"), QStringLiteral("Map point: %1, %2").arg(m_homeX).arg(m_homeY)};
    const QRect marker(m_homeX - kMarker / 2, m_homeY - kMarker / 2, kMarker + 1, kMarker + 1);
    QToolTip::showText(global, quokka::PlainToolTipHtml(lines, breakLine), this, marker);
    return true;
}

void CWorldMap::contextMenuEvent(QContextMenuEvent *event)
{
    // Pops up without a loop of its own, so a run or a replay goes on meanwhile.
    auto *menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addAction(QStringLiteral("&Monitor Route"), this, [this] {
            if (m_monitorRoute)
                m_monitorRoute();
        })->setEnabled(bool(m_monitorRoute));
    menu->popup(event->globalPos());
}

bool CWorldMap::event(QEvent *event)
{
    if (event->type() != QEvent::ToolTip)
        return QDialog::event(event);
    const auto *help = static_cast<QHelpEvent *>(event);
    if (!ShowToolTip(help->pos(), help->globalPos())) {
        QToolTip::hideText();
        event->ignore();
    }
    return true;
}

} // namespace quokka::geo
