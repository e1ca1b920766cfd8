// Draws the program's emblem (71 x 92, per-pixel alpha) and application icon (110 x 115):
// a globe with a red route across it. Run by hand; the pictures are committed under res/.
//   quokka-draw-emblem res/emblem.png res/icon.png
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

namespace {

void DrawGlobe(QPainter &p, const QRectF &box)
{
    p.setRenderHint(QPainter::Antialiasing);
    QRadialGradient sea(box.center() - QPointF(box.width() / 6, box.height() / 6), box.width() / 1.6);
    sea.setColorAt(0, QColor(120, 180, 235));
    sea.setColorAt(1, QColor(20, 70, 150));
    p.setPen(QPen(QColor(10, 40, 90), 1.5));
    p.setBrush(sea);
    p.drawEllipse(box);

    // Meridians and parallels.
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(255, 255, 255, 90), 1));
    for (double f : {0.25, 0.5, 0.75}) {
        const double w = box.width() * (f == 0.5 ? 0.0 : std::abs(0.5 - f) * 2) ;
        p.drawEllipse(QRectF(box.center().x() - w / 2, box.top(), w, box.height()));
        const double y = box.top() + box.height() * f;
        p.drawLine(QPointF(box.left() + 3, y), QPointF(box.right() - 3, y));
    }
    p.drawLine(QPointF(box.center().x(), box.top()), QPointF(box.center().x(), box.bottom()));

    // Two land masses.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(90, 160, 70));
    const double s = box.width() / 100.0;
    const QPointF o = box.topLeft();
    QPainterPath west;
    west.moveTo(o + QPointF(22, 25) * s);
    west.cubicTo(o + QPointF(40, 15) * s, o + QPointF(48, 30) * s, o + QPointF(40, 45) * s);
    west.cubicTo(o + QPointF(35, 60) * s, o + QPointF(42, 80) * s, o + QPointF(30, 85) * s);
    west.cubicTo(o + QPointF(18, 70) * s, o + QPointF(12, 45) * s, o + QPointF(22, 25) * s);
    p.drawPath(west);
    QPainterPath east;
    east.moveTo(o + QPointF(58, 22) * s);
    east.cubicTo(o + QPointF(80, 20) * s, o + QPointF(90, 40) * s, o + QPointF(82, 55) * s);
    east.cubicTo(o + QPointF(75, 70) * s, o + QPointF(62, 62) * s, o + QPointF(60, 48) * s);
    east.cubicTo(o + QPointF(52, 40) * s, o + QPointF(50, 28) * s, o + QPointF(58, 22) * s);
    p.drawPath(east);

    // The route: red line between red markers, green at the end.
    const QPointF a = o + QPointF(28, 40) * s, b = o + QPointF(50, 52) * s, c = o + QPointF(74, 36) * s;
    p.setPen(QPen(QColor(255, 0, 0), std::max(2.0, 3 * s)));
    p.drawLine(a, b);
    p.drawLine(b, c);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 0, 0));
    p.drawEllipse(a, 4 * s, 4 * s);
    p.drawEllipse(b, 4 * s, 4 * s);
    p.setBrush(QColor(0, 255, 0));
    p.drawEllipse(c, 4 * s, 4 * s);
}

QImage Emblem()
{
    QImage image(71, 92, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    DrawGlobe(p, QRectF(2, 2, 67, 67));
    // A pin under the globe, pointing at the ground.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(200, 30, 30));
    QPainterPath pin;
    pin.moveTo(35.5, 90);
    pin.lineTo(26, 70);
    pin.lineTo(45, 70);
    pin.closeSubpath();
    p.drawPath(pin);
    return image;
}

QImage Icon()
{
    QImage image(110, 115, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    DrawGlobe(p, QRectF(3, 5, 104, 104));
    return image;
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 3) {
        qWarning("usage: quokka-draw-emblem EMBLEM.png ICON.png");
        return 2;
    }
    return Emblem().save(QString::fromLocal8Bit(argv[1])) && Icon().save(QString::fromLocal8Bit(argv[2])) ? 0 : 1;
}
