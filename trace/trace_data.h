#pragma once
// The window that lists the route as text: one fixed-pitch line per answered hop, then the
// completion line. The exploration composes the lines; this window only shows them, tells
// each hop's details in its line's tooltip, copies lines and offers to save the run's report.
#include <QDialog>
#include <QList>
#include <QStringList>
#include <functional>

class QListWidget;

namespace quokka::trace {

class CTraceData : public QDialog {
    Q_OBJECT

public:
    explicit CTraceData(QWidget *parent = nullptr);

    // Appends LINE at the end, selects it and scrolls it into view.
    void AddLine(const QString &line);
    int LineCount() const { return m_nLines; }
    // A hop's details for row ROW, one a line: its tooltip, and its description for a screen
    // reader. A row listed later gets them when it comes; a tooltip up shows them at once.
    void SetRowDetails(int row, const QStringList &details);
    // What "Save Report..." does, handed this window to ask over.
    void SetSaveReport(std::function<void(QWidget *window)> save) { m_saveReport = std::move(save); }
    // What "Monitor Route" does; the item is disabled while none is set (the run has not
    // resolved its address yet).
    void SetMonitorRoute(std::function<void()> open) { m_monitorRoute = std::move(open); }

signals:
    void LineAdded(const QString &line);

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    // The lines the rows show, in order.
    QStringList Lines() const;
    // Row ROW's tooltip and spoken text, from the details handed in for it if any.
    void DescribeRow(int row);

    int m_nLines = 0;
    QListWidget *m_pList = nullptr;
    QList<QStringList> m_rowDetails; // by row; empty: no hop's line
    std::function<void(QWidget *window)> m_saveReport;
    std::function<void()> m_monitorRoute;
};

} // namespace quokka::trace
