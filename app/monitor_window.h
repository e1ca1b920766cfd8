#pragma once
// The Route Monitor window of one destination: a table of every row's statistics, updated in
// place once per round; beneath it the timeline of the selected row (the destination's while
// none is selected) and the route changes; the controls to pause, reset, set the interval and
// save the report. The window owns its session: closing the window ends the monitor.
#include "app/monitor_session.h"

#include <QWidget>
#include <memory>

class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QListWidget;
class QPushButton;
class QTableWidget;

namespace quokka::app::monitor {

// The round trips of one row over a span of time, drawn with QPainter: a line through the
// answers, gaps where probes were lost and a red mark at the top for each loss; minutes older
// than the raw samples as bars from best to worst. (Qt's own painting rather than Qt Charts:
// the charts module is not installed here, and would be a dependency for one plot.)
class Timeline : public QWidget {
    Q_OBJECT

public:
    explicit Timeline(QWidget *parent = nullptr);

    // Shows the row (TTL, ADDRESS) of STATISTICS, which must outlive this; TTL 0: nothing.
    void Show(const Statistics *statistics, int ttl, const QString &address);
    void SetSpanMs(qint64 spanMs);
    qint64 SpanMs() const { return m_spanMs; }

    QSize sizeHint() const override { return {640, 180}; }
    QSize minimumSizeHint() const override { return {240, 100}; }

    static constexpr QRgb kLineColour = 0xFF1F4E9C;
    static constexpr QRgb kLossColour = 0xFFE00000;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    const Statistics *m_statistics = nullptr;
    int m_ttl = 0;
    QString m_address;
    qint64 m_spanMs = 60'000;
};

class MonitorWindow : public QWidget {
    Q_OBJECT

public:
    // Shows and starts SESSION.
    explicit MonitorWindow(std::unique_ptr<Session> session, QWidget *parent = nullptr);
    ~MonitorWindow() override;

    Session &Monitor() { return *m_session; }
    // Sets the time between rounds, as the interval box does.
    void SetIntervalMs(int ms);
    // Each row as Copy Line gives it: its cells, two spaces apart.
    QStringList Lines() const;

    // "Route Monitor - ADDRESS".
    static QString TitleFor(const QString &address);

signals:
    // The window is going, its monitor with it: the last moment to read the monitor.
    void Ending();

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    // Updates the rows and the timeline once the rounds that came together are all in, and
    // at most every kUpdateGapMs: rounds every 10 ms need no more repaints than the eye sees.
    void ScheduleUpdate();
    void UpdateRows();
    void UpdateTimeline();
    void OnPause();
    void OnReset();
    void SaveReport();
    void SetStatus(const QString &text);

    std::unique_ptr<Session> m_session;
    QTableWidget *m_table = nullptr;
    Timeline *m_timeline = nullptr;
    QLabel *m_timelineTitle = nullptr;
    QComboBox *m_span = nullptr;
    QListWidget *m_events = nullptr;
    QPushButton *m_pause = nullptr;
    QDoubleSpinBox *m_interval = nullptr;
    QLabel *m_status = nullptr;
    // The row each table row shows: TTL and address.
    QList<QPair<int, QString>> m_keys;
    bool m_updateScheduled = false;
    qint64 m_lastUpdateMs = 0;
    static constexpr qint64 kUpdateGapMs = 50;
};

} // namespace quokka::app::monitor
