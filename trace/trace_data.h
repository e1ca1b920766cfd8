#pragma once
// The window that lists the route as text: one fixed-pitch line per answered hop, then the
// completion line. The exploration composes the lines; this window only shows them.
#include <QDialog>

class QListWidget;

class CTraceData : public QDialog {
    Q_OBJECT

public:
    explicit CTraceData(QWidget *parent = nullptr);

    // Appends LINE at the end, selects it and scrolls it into view.
    void AddLine(const QString &line);
    int LineCount() const { return m_nLines; }

signals:
    void lineAdded(const QString &line);

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    int m_nLines = 0;
    QListWidget *m_pList = nullptr;
};
