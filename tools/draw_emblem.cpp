// Draws the program's emblem: a globe with a red route across it.
//   quokka-draw-emblem EMBLEM.png ICON.png
//       the dialog's emblem (71 x 92, with a pin under the globe) and the first run's icon
//       (110 x 115); run by hand, the pictures are committed under res/.
//   quokka-draw-emblem --hicolor DIR NAME
//       the icon theme's set: DIR/SIZExSIZE/apps/NAME.png for each size the desktop asks for,
//       and DIR/scalable/apps/NAME.svg; run by the build.
// One drawing serves both kinds of output: the globe is described once, to a canvas that
// either paints pixels or writes SVG elements.
#include <QFile>
#include <QCoreApplication>
#include <QImage>
#include <QDir>
#include <QPainter>
#include <QPainterPath>

#include <array>
#include <cmath>
#include <optional>

namespace quokka::tools {
namespace {

struct Stroke {
    QColor color;
    double width;
};

// A fill is a colour, or a radial gradient from `inner` at `center` to `outer` at `radius`.
struct Fill {
    QColor color;
    std::optional<QPointF> center;
    double radius = 0;
    QColor inner, outer;
};

Fill Solid(const QColor &color)
{
    return Fill{color, std::nullopt, 0, {}, {}};
}

class Canvas {
public:
    virtual ~Canvas() = default;
    virtual void Ellipse(const QRectF &box, const std::optional<Fill> &fill, const std::optional<Stroke> &stroke) = 0;
    virtual void Line(QPointF from, QPointF to, const Stroke &stroke) = 0;
    virtual void Path(const QPainterPath &path, const QColor &fill) = 0;
};

class PainterCanvas final : public Canvas {
public:
    explicit PainterCanvas(QPainter &painter) : m_painter(painter) { m_painter.setRenderHint(QPainter::Antialiasing); }

    void Ellipse(const QRectF &box, const std::optional<Fill> &fill, const std::optional<Stroke> &stroke) override
    {
        Use(fill, stroke);
        m_painter.drawEllipse(box);
    }
    void Line(QPointF from, QPointF to, const Stroke &stroke) override
    {
        Use(std::nullopt, stroke);
        m_painter.drawLine(from, to);
    }
    void Path(const QPainterPath &path, const QColor &fill) override
    {
        Use(Solid(fill), std::nullopt);
        m_painter.drawPath(path);
    }

private:
    void Use(const std::optional<Fill> &fill, const std::optional<Stroke> &stroke)
    {
        m_painter.setPen(stroke ? QPen(stroke->color, stroke->width) : QPen(Qt::NoPen));
        if (!fill) {
            m_painter.setBrush(Qt::NoBrush);
        } else if (fill->center) {
            QRadialGradient gradient(*fill->center, fill->radius);
            gradient.setColorAt(0, fill->inner);
            gradient.setColorAt(1, fill->outer);
            m_painter.setBrush(gradient);
        } else {
            m_painter.setBrush(fill->color);
        }
    }

    QPainter &m_painter;
};

class SvgCanvas final : public Canvas {
public:
    explicit SvgCanvas(double size) : m_size(size) {}

    void Ellipse(const QRectF &box, const std::optional<Fill> &fill, const std::optional<Stroke> &stroke) override
    {
        m_body += QStringLiteral("  <ellipse cx=\"%1\" cy=\"%2\" rx=\"%3\" ry=\"%4\"%5/>\n")
                      .arg(Number(box.center().x()), Number(box.center().y()), Number(box.width() / 2),
                           Number(box.height() / 2), Paint(fill, stroke));
    }
    void Line(QPointF from, QPointF to, const Stroke &stroke) override
    {
        m_body += QStringLiteral("  <line x1=\"%1\" y1=\"%2\" x2=\"%3\" y2=\"%4\"%5/>\n")
                      .arg(Number(from.x()), Number(from.y()), Number(to.x()), Number(to.y()), Paint(std::nullopt, stroke));
    }
    void Path(const QPainterPath &path, const QColor &fill) override
    {
        QString data;
        for (int i = 0; i < path.elementCount(); ++i) {
            const QPainterPath::Element e = path.elementAt(i);
            const QString point = Number(e.x) + u',' + Number(e.y);
            switch (e.type) {
            case QPainterPath::MoveToElement: data += u'M' + point + u' '; break;
            case QPainterPath::LineToElement: data += u'L' + point + u' '; break;
            case QPainterPath::CurveToElement: data += u'C' + point + u' '; break;
            case QPainterPath::CurveToDataElement: data += point + u' '; break;
            }
        }
        m_body += QStringLiteral("  <path d=\"%1Z\"%2/>\n").arg(data, Paint(Solid(fill), std::nullopt));
    }

    QByteArray Document() const
    {
        const QString size = Number(m_size);
        return (QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                               "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%1\" height=\"%1\" viewBox=\"0 0 %1 %1\">\n")
                    .arg(size)
                + m_defs + m_body + QStringLiteral("</svg>\n"))
            .toUtf8();
    }

private:
    static QString Number(double value) { return QString::number(value, 'g', 6); }
    static QString Colour(const QColor &c) { return QStringLiteral("rgb(%1,%2,%3)").arg(c.red()).arg(c.green()).arg(c.blue()); }
    static QString Opacity(const char *what, const QColor &c)
    {
        return c.alpha() == 255 ? QString() : QStringLiteral(" %1-opacity=\"%2\"").arg(QLatin1StringView(what), Number(c.alphaF()));
    }

    QString Paint(const std::optional<Fill> &fill, const std::optional<Stroke> &stroke)
    {
        QString attributes;
        if (!fill) {
            attributes += QStringLiteral(" fill=\"none\"");
        } else if (fill->center) {
            const QString id = QStringLiteral("g%1").arg(++m_gradients);
            m_defs += QStringLiteral("  <radialGradient id=\"%1\" gradientUnits=\"userSpaceOnUse\" cx=\"%2\" cy=\"%3\" r=\"%4\">"
                                     "<stop offset=\"0\" stop-color=\"%5\"/><stop offset=\"1\" stop-color=\"%6\"/></radialGradient>\n")
                          .arg(id, Number(fill->center->x()), Number(fill->center->y()), Number(fill->radius),
                               Colour(fill->inner), Colour(fill->outer));
            attributes += QStringLiteral(" fill=\"url(#%1)\"").arg(id);
        } else {
            attributes += QStringLiteral(" fill=\"%1\"").arg(Colour(fill->color)) + Opacity("fill", fill->color);
        }
        if (stroke)
            attributes += QStringLiteral(" stroke=\"%1\" stroke-width=\"%2\"").arg(Colour(stroke->color), Number(stroke->width))
                + Opacity("stroke", stroke->color);
        return attributes;
    }

    double m_size;
    QString m_defs, m_body;
    int m_gradients = 0;
};

void DrawGlobe(Canvas &canvas, const QRectF &box)
{
    canvas.Ellipse(box,
                   Fill{{}, box.center() - QPointF(box.width() / 6, box.height() / 6), box.width() / 1.6,
                        QColor(120, 180, 235), QColor(20, 70, 150)},
                   Stroke{QColor(10, 40, 90), 1.5});

    // Meridians and parallels.
    const Stroke grid{QColor(255, 255, 255, 90), 1};
    for (double f : {0.25, 0.5, 0.75}) {
        const double w = box.width() * (f == 0.5 ? 0.0 : std::abs(0.5 - f) * 2); // 0: a line, which SVG leaves out
        canvas.Ellipse(QRectF(box.center().x() - w / 2, box.top(), w, box.height()), std::nullopt, grid);
        const double y = box.top() + box.height() * f;
        canvas.Line(QPointF(box.left() + 3, y), QPointF(box.right() - 3, y), grid);
    }
    canvas.Line(QPointF(box.center().x(), box.top()), QPointF(box.center().x(), box.bottom()), grid);

    // Two land masses.
    const QColor land(90, 160, 70);
    const double s = box.width() / 100.0;
    const QPointF o = box.topLeft();
    QPainterPath west;
    west.moveTo(o + QPointF(22, 25) * s);
    west.cubicTo(o + QPointF(40, 15) * s, o + QPointF(48, 30) * s, o + QPointF(40, 45) * s);
    west.cubicTo(o + QPointF(35, 60) * s, o + QPointF(42, 80) * s, o + QPointF(30, 85) * s);
    west.cubicTo(o + QPointF(18, 70) * s, o + QPointF(12, 45) * s, o + QPointF(22, 25) * s);
    canvas.Path(west, land);
    QPainterPath east;
    east.moveTo(o + QPointF(58, 22) * s);
    east.cubicTo(o + QPointF(80, 20) * s, o + QPointF(90, 40) * s, o + QPointF(82, 55) * s);
    east.cubicTo(o + QPointF(75, 70) * s, o + QPointF(62, 62) * s, o + QPointF(60, 48) * s);
    east.cubicTo(o + QPointF(52, 40) * s, o + QPointF(50, 28) * s, o + QPointF(58, 22) * s);
    canvas.Path(east, land);

    // The route: red line between red markers, green at the end.
    const QPointF a = o + QPointF(28, 40) * s, b = o + QPointF(50, 52) * s, c = o + QPointF(74, 36) * s;
    const Stroke route{QColor(255, 0, 0), std::max(2.0, 3 * s)};
    canvas.Line(a, b, route);
    canvas.Line(b, c, route);
    const auto marker = [&](QPointF at, const QColor &colour) {
        canvas.Ellipse(QRectF(at - QPointF(4, 4) * s, at + QPointF(4, 4) * s), Solid(colour), std::nullopt);
    };
    marker(a, QColor(255, 0, 0));
    marker(b, QColor(255, 0, 0));
    marker(c, QColor(0, 255, 0));
}

QImage Emblem()
{
    QImage image(71, 92, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    PainterCanvas canvas(p);
    DrawGlobe(canvas, QRectF(2, 2, 67, 67));
    // A pin under the globe, pointing at the ground.
    QPainterPath pin;
    pin.moveTo(35.5, 90);
    pin.lineTo(26, 70);
    pin.lineTo(45, 70);
    pin.closeSubpath();
    canvas.Path(pin, QColor(200, 30, 30));
    return image;
}

QImage Icon()
{
    QImage image(110, 115, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    PainterCanvas canvas(p);
    DrawGlobe(canvas, QRectF(3, 5, 104, 104));
    return image;
}

// The theme's square icon: the globe on a canvas of 100 units, drawn in the proportions of the
// first run's icon (its lines as wide against the globe).
constexpr double kThemeUnits = 100;
const QRectF kThemeGlobe(2, 2, 96, 96);
constexpr std::array kThemeSizes{16, 22, 24, 32, 48, 64, 128, 256};

bool Save(const QString &path, const QByteArray &data)
{
    QFile file(path);
    if (!QDir().mkpath(QFileInfo(path).path()) || !file.open(QIODevice::WriteOnly) || file.write(data) != data.size()) {
        qWarning("quokka-draw-emblem: %s: %s", qUtf8Printable(path), qUtf8Printable(file.errorString()));
        return false;
    }
    return true;
}

bool WriteThemeIcons(const QString &dir, const QString &name)
{
    for (const int size : kThemeSizes) {
        QImage image(size, size, QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        QPainter p(&image);
        p.scale(size / kThemeUnits, size / kThemeUnits);
        PainterCanvas canvas(p);
        DrawGlobe(canvas, kThemeGlobe);
        p.end();
        const QString path = QStringLiteral("%1/%2x%2/apps/%3.png").arg(dir).arg(size).arg(name);
        if (!QDir().mkpath(QFileInfo(path).path()) || !image.save(path)) {
            qWarning("quokka-draw-emblem: %s cannot be written", qUtf8Printable(path));
            return false;
        }
    }
    SvgCanvas svg(kThemeUnits);
    DrawGlobe(svg, kThemeGlobe);
    return Save(QStringLiteral("%1/scalable/apps/%2.svg").arg(dir, name), svg.Document());
}

} // namespace
} // namespace quokka::tools

int main(int argc, char **argv)
{
    using namespace quokka::tools;
    QCoreApplication app(argc, argv); // pictures without text need no window system
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() == 4 && arguments[1] == QLatin1StringView("--hicolor"))
        return WriteThemeIcons(arguments[2], arguments[3]) ? 0 : 1;
    if (arguments.size() != 3) {
        qWarning("usage: quokka-draw-emblem EMBLEM.png ICON.png | --hicolor DIR NAME");
        return 2;
    }
    return Emblem().save(arguments[1]) && Icon().save(arguments[2]) ? 0 : 1;
}
