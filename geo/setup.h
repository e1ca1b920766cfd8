#pragma once
// The home-location setup window of the first run: after a short notice it shows the world
// map, stores the point of the first left click as the home location and closes. Esc and
// the close box leave without storing anything.
#include "base/wait.h"

#include <QDialog>
#include <QPixmap>
#include <QPoint>
#include <optional>

namespace quokka { class Toast; }

namespace quokka::geo {

class CSetup : public QDialog {
    Q_OBJECT
public:
    explicit CSetup(QWidget *parent = nullptr);

    // Shows the notice "Left click on your exact location", then the map, modal over the
    // owner, without waiting; finished() tells the end: Accepted once a click has been stored,
    // Rejected when the user left without one.
    void open() override;

    // How a setup window answers without a person (tests): a left click at a point, or Esc,
    // delivered as real input once the window is up. For the next window, or for every window
    // until the standing answer is taken back (nothing).
    struct Answer {
        bool escape = false;
        QPoint click;
    };
    static void SetNextAnswer(std::optional<Answer> answer);
    // How long the notice before the map stays up (the designed 3 s unless set).
    void SetNoticeDuration(int ms) { m_noticeMs = ms; }
    static void SetStandingAnswer(std::optional<Answer> answer);

signals:
    // The notice before the map shows (its text), and the map itself.
    void NoticeShown(const QString &text);
    void MapShown();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void DeliverScriptedAnswer();
    // The notice "Left click on your exact location", owned by the caller.
    quokka::Toast *NewNotice() const;

    QPixmap m_mapBitmap;
    bool m_homeChosen = false;
    int m_noticeMs = quokka::Timings{}.setupNoticeMs;
};

} // namespace quokka::geo
