#pragma once
// A short notice in a small borderless light-grey popup that closes itself after a set
// time. Shown modally over its owner with open(); keys and clicks do not end it.
#include <QDialog>
#include <QString>

namespace quokka {

class Toast : public QDialog {
    Q_OBJECT
public:
    explicit Toast(QWidget *parent = nullptr);

    // Set these before open().
    QString m_strText;      // one line; line breaks are shown as spaces
    int m_nPointSize = 100; // tenths of a point, for measuring and painting alike
    int m_nDuration = 0;    // milliseconds on screen

    // Shows the notice modally over its owner without waiting; finished(0) tells its end.
    void open() override;
    // The pixel size of TEXT in the toast's font, as one line.
    QSize GetTextSize(const QString &text) const;

    static constexpr QRgb kBackground = 0xFFDCDCDC; // RGB(220, 220, 220)
    static constexpr int kTextLeft = 15;
    static constexpr int kTextTop = 15;

public slots:
    void reject() override; // Esc: ignored
    void accept() override; // Enter: ignored

protected:
    void paintEvent(QPaintEvent *event) override;
    void timerEvent(QTimerEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    // Keeps the notice centred over its owner when the owner moves while it shows (the
    // window manager may still be placing a window that has just appeared).
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QFont TextFont() const;
    QString OneLine() const;
    void PlaceOverOwner();

    int m_timerId = 0;
    bool m_timeUp = false;
};

} // namespace quokka
