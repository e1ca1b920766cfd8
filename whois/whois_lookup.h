#pragma once
// The WHOIS result window: fetches the WHOIS record of the explored address and lists it line
// by line, contact lines (abuse, e-mail, phone) in red.
#include <QDialog>
#include <QStringList>

class QListWidget;
class QPushButton;

class CWhoisLookup : public QDialog {
    Q_OBJECT
public:
    explicit CWhoisLookup(QWidget *parent = nullptr);

    // Runs the WHOIS client for QUERY on a worker thread while the interface keeps running,
    // then lists the answer. Returns early, listing nothing, when the program begins to close.
    void Lookup(const QString &query);
    // Cleans ANSWER, splits it into lines and lists them, replacing what was listed before.
    void ShowAnswer(const QString &answer);

    const QStringList &Lines() const { return m_lines; }

    // Where a window of WINDOW size goes on a screen of SCREEN size before clamping: its
    // centre 540 pixels right of and 100 pixels above the screen's centre.
    static QPoint PlannedPosition(QSize screen, QSize window);

signals:
    void lineAdded(const QString &line);

private:
    void CreateList();
    void PlaceOnScreen();

    QListWidget *m_pList = nullptr;
    QPushButton *m_pAllDone = nullptr;
    QStringList m_lines; // row i of the list shows m_lines[i]
};
