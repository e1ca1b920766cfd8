#pragma once
// The WHOIS result window: lists the WHOIS record of the explored address line by line,
// contact lines (abuse, e-mail, phone) in red. Its lines can be copied, and are what
// a screen reader reads.
#include <QDialog>
#include <QStringList>
#include <functional>

class QListWidget;
class QPushButton;

namespace quokka::whois {

class CWhoisLineDelegate;

class CWhoisLookup : public QDialog {
    Q_OBJECT
public:
    explicit CWhoisLookup(QWidget *parent = nullptr);

    // Lists the lines of an answer (AnswerLines), replacing what was listed before.
    void ShowAnswer(const QStringList &lines);

    const QStringList &Lines() const { return m_lines; }
    // What "Save Report..." on the menu does, handed this window to ask over; without it the
    // menu offers no such item.
    void SetSaveReport(std::function<void(QWidget *window)> save) { m_saveReport = std::move(save); }

    // Where a window of WINDOW size goes on a screen of SCREEN size before clamping: its
    // centre 540 pixels right of and 100 pixels above the screen's centre.
    static QPoint PlannedPosition(QSize screen, QSize window);

signals:
    void LineAdded(const QString &line);

private:
    void CreateList();
    void AppendLine(const QString &line);

    QListWidget *m_pList = nullptr;
    CWhoisLineDelegate *m_delegate = nullptr; // draws the list's rows
    QPushButton *m_allDone = nullptr;
    QStringList m_lines; // row i of the list shows m_lines[i]
    std::function<void(QWidget *window)> m_saveReport;
};

} // namespace quokka::whois
