#include "geo/setup.h"

#include "base/toast.h"
#include "base/wait.h"
#include "base/window_support.h"
#include "geo/home_location.h"
#include "geo/world_map.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>

using quokka::Toast;
namespace quokka::geo {

namespace {

std::optional<CSetup::Answer> &NextAnswer()
{
    static std::optional<CSetup::Answer> answer;
    return answer;
}

std::optional<CSetup::Answer> &StandingAnswer()
{
    static std::optional<CSetup::Answer> answer;
    return answer;
}

} // namespace

CSetup::CSetup(QWidget *parent)
    : QDialog(parent)
{
    CWorldMap::DressAsMapWindow(this, QStringLiteral("setup"));
    setCursor(Qt::CrossCursor);
    m_mapBitmap = CWorldMap::Picture();
}

void CSetup::SetNextAnswer(std::optional<Answer> answer)
{
    NextAnswer() = answer;
}

void CSetup::SetStandingAnswer(std::optional<Answer> answer)
{
    StandingAnswer() = answer;
}

Toast *CSetup::NewNotice() const
{
    auto *notice = new Toast(parentWidget());
    notice->m_strText = QStringLiteral("Left click on your exact location");
    notice->m_nPointSize = 100;
    notice->m_nDuration = m_noticeMs;
    return notice;
}

void CSetup::open()
{
    // The notice runs first and on its own: the map appears only once it has closed.
    Toast *notice = NewNotice();
    connect(notice, &QDialog::finished, this, [this, notice] {
        notice->deleteLater();
        m_homeChosen = false;
        QDialog::open();
    });
    connect(this, &QObject::destroyed, notice, &QObject::deleteLater);
    notice->open();
    emit NoticeShown(notice->m_strText);
}

void CSetup::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    emit MapShown();
    QTimer::singleShot(0, this, &CSetup::DeliverScriptedAnswer);
}

void CSetup::DeliverScriptedAnswer()
{
    std::optional<Answer> answer = NextAnswer();
    NextAnswer().reset();
    if (!answer)
        answer = StandingAnswer();
    if (!answer || m_homeChosen || !isVisible())
        return;
    if (answer->escape) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(this, &press);
        return;
    }
    const QPointF at(answer->click);
    QMouseEvent press(QEvent::MouseButtonPress, at, mapToGlobal(at), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(this, &press);
}

void CSetup::paintEvent(QPaintEvent *)
{
    if (isMinimized())
        return;
    QPainter painter(this);
    painter.drawPixmap(0, 0, m_mapBitmap);
}

void CSetup::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || m_homeChosen)
        return QDialog::mousePressEvent(event);
    // Only the first left click counts: it is stored at once and ends the setup.
    m_homeChosen = true;
    const QPoint at = event->position().toPoint();
    HomeLocation::Write({at.x(), at.y()});
    accept();
}

} // namespace quokka::geo
