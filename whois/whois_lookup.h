#pragma once
// The WHOIS result window: fetches the WHOIS record of the explored address and lists it line
// by line, contact lines (abuse, e-mail, phone) in red. Its lines can be copied, and are what
// a screen reader reads.
#include <QDialog>
#include <QStringList>
#include <functional>
#include <memory>

namespace quokka {
class Worker;
}
class CWhoisLineDelegate;
class QListWidget;
class QPushButton;

class CWhoisLookup : public QDialog {
    Q_OBJECT
public:
    explicit CWhoisLookup(QWidget *parent = nullptr);
    // Asks a lookup still under way to stop, and waits for it.
    ~CWhoisLookup() override;

    // Runs the WHOIS client for QUERY in the background while the interface keeps running;
    // lists the answer and sends lookupFinished when it is in. Nothing follows when the
    // program begins to close first.
    void Lookup(const QString &query);
    // Cleans ANSWER, splits it into lines and lists them, replacing what was listed before;
    // NOTE, when not empty, follows as the last line (why the answer was cut short).
    void ShowAnswer(const QString &answer, const QString &note = {});

    const QStringList &Lines() const { return m_lines; }
    // What "Save Report..." on the menu does, handed this window to ask over; without it the
    // menu offers no such item.
    void SetSaveReport(std::function<void(QWidget *window)> save) { m_saveReport = std::move(save); }

    // Where a window of WINDOW size goes on a screen of SCREEN size before clamping: its
    // centre 540 pixels right of and 100 pixels above the screen's centre.
    static QPoint PlannedPosition(QSize screen, QSize window);

signals:
    void lineAdded(const QString &line);
    void lookupFinished();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void CreateList();
    void AppendLine(const QString &line);
    void ShowContextMenu(QPoint pos);

    QListWidget *m_pList = nullptr;
    CWhoisLineDelegate *m_pDelegate = nullptr; // draws the list's rows
    QPushButton *m_pAllDone = nullptr;
    QStringList m_lines; // row i of the list shows m_lines[i]
    std::unique_ptr<quokka::Worker> m_worker; // for Lookup
    std::function<void(QWidget *window)> m_saveReport;
};
