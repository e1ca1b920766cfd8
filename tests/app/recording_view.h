#pragma once
// A view of an exploration without windows: it notes what the run shows, one line an event,
// in order ("trace LINE", "whois TEXT", "plot HOP LAT,LON [destination]", "welcome TEXT MS",
// "setup MS", "open X,Y"), keeps each hop's latest details, and closes each first-run window
// as soon as the event loop comes round again.
#include "app/exploration_view.h"
#include "geo/geo_record.h"
#include "geo/home_location.h"

#include <QMap>
#include <QTimer>

class RecordingView : public quokka::app::ExplorationView {
public:
    QStringList events;
    std::function<void(const QString &event)> onEvent; // each event as it comes
    QMap<int, QStringList> hopDetails;  // by hop
    QMap<int, QStringList> rowDetails;  // by trace list row
    std::shared_ptr<const quokka::app::RunReport> savedReport; // what "Save Report..." would write
    bool busy = false;
    int firstRunWindowsClosedEarly = 0;

    void ShowWelcome(const QString &text, int durationMs, std::function<void()> closed) override
    {
        Note(QStringLiteral("welcome %1 %2").arg(text).arg(durationMs));
        CloseSoon(std::move(closed));
    }
    void ShowSetup(int noticeMs, std::function<void()> closed) override
    {
        Note(QStringLiteral("setup %1").arg(noticeMs));
        CloseSoon(std::move(closed));
    }
    void CloseFirstRunWindow() override
    {
        if (m_pending)
            ++firstRunWindowsClosedEarly;
        m_pending = false;
    }
    void OpenResultWindows(const quokka::geo::HomeLocation &home, std::shared_ptr<const quokka::app::RunReport> report) override
    {
        savedReport = std::move(report);
        Note(QStringLiteral("open %1,%2").arg(home.x).arg(home.y));
    }
    void SetBusy(bool on) override { busy = on; }
    void ShowWhoisAnswer(const QStringList &lines) override
    {
        Note(QStringLiteral("whois ") + lines.join(u'\n'));
    }
    void AddTraceLine(const QString &line) override { Note(QStringLiteral("trace ") + line); }
    void PlotHop(const quokka::geo::GeoRecord &record, bool isDestination, int hop) override
    {
        if (!record.HasLocation())
            return;
        Note(QStringLiteral("plot %1 %2,%3%4")
                 .arg(hop)
                 .arg(record.Latitude(), 0, 'g', 7)
                 .arg(record.Longitude(), 0, 'g', 7)
                 .arg(isDestination ? QStringLiteral(" destination") : QString()));
    }
    void DescribeHop(int hop, int row, const QStringList &details) override
    {
        hopDetails[hop] = details;
        rowDetails[row] = details;
    }

private:
    void Note(const QString &event)
    {
        events << event;
        if (onEvent)
            onEvent(event);
    }
    void CloseSoon(std::function<void()> closed)
    {
        m_pending = true;
        QTimer::singleShot(0, [this, closed = std::move(closed)] {
            if (std::exchange(m_pending, false))
                closed();
        });
    }

    bool m_pending = false;
};
