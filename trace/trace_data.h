#pragma once
// The window that lists the route as text: one fixed-pitch line per answered hop, then the
// completion line. The exploration composes the lines; this window only shows them, tells
// each hop's details in its line's tooltip, copies lines and saves the run's report.
#include <QDialog>

#include "trace/run_report.h"

class QListWidget;

class CTraceData : public QDialog {
    Q_OBJECT

public:
    explicit CTraceData(QWidget *parent = nullptr);

    // Appends LINE at the end, selects it and scrolls it into view.
    void AddLine(const QString &line);
    int LineCount() const { return m_nLines; }
    // The run behind the lines: each hop's details for its row, and what "Save Report..."
    // writes.
    void UpdateReport(const RunReport &report);
    const RunReport &Report() const { return m_report; }
    // "Save Report...": asks over PARENT (this window when null) where to save the report,
    // then saves it there; the report is read when the name is chosen.
    void AskWhereToSave(QWidget *parent = nullptr);

signals:
    void lineAdded(const QString &line);

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    // The lines the rows show, in order.
    QStringList Lines() const;
    // Row ROW's tooltip and spoken text, from the report's hop listed there if any.
    void DescribeRow(int row);

    int m_nLines = 0;
    QListWidget *m_pList = nullptr;
    RunReport m_report;
};
