// The visible stand-ins of control characters (the control pictures U+2400-U+241F and U+2421)
// draw as glyphs of their own in the fonts of the trace and WHOIS lists: each leaves ink, no
// two look alike, and none looks like a character no installed font has (the blank or boxed
// "missing glyph"). The list fonts have no control pictures; the system's font fallback must
// find a font that does.
#include "trace/trace_data.h"
#include "whois/whois_lookup.h"

#include <QImage>
#include <QListWidget>
#include <QPainter>
#include <algorithm>
#include <gtest/gtest.h>

namespace {

// TEXT drawn in black in FONT on white, on a canvas four times the font's height square.
QImage Drawn(const QFont &font, const QString &text)
{
    const int side = 4 * QFontMetrics(font).height();
    QImage image(side, side, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.drawText(QPoint(side / 4, side / 2), text);
    return image;
}

bool HasInk(const QImage &image)
{
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != qRgb(255, 255, 255))
                return true;
    return false;
}

// The font of the window's list, as the window sets it.
template <typename Window>
QFont ListFont(const char *listName)
{
    Window window;
    const auto *list = window.template findChild<QListWidget *>(QString::fromLatin1(listName));
    return list ? list->font() : QFont();
}

} // namespace

TEST(VisibleGlyphs, ControlPicturesDrawInTheTraceAndWhoisListFonts)
{
    const struct {
        QString list;
        QFont font;
    } lists[] = {
        {QStringLiteral("trace"), ListFont<CTraceData>("traceList")},
        {QStringLiteral("WHOIS"), ListFont<CWhoisLookup>("whoisList")},
    };
    QList<char16_t> pictures;
    for (char16_t c = 0x2400; c <= 0x241f; ++c)
        pictures << c;
    pictures << 0x2421;
    for (const auto &list : lists) {
        SCOPED_TRACE(qPrintable(list.list + QStringLiteral(" list, ") + list.font.family()));
        const QImage missing = Drawn(list.font, QString(QChar(char16_t(0x0378)))); // unassigned
        std::vector<QImage> drawn;
        QStringList blank, missingLike, alike;
        for (const char16_t picture : pictures) {
            drawn.push_back(Drawn(list.font, QString(QChar(picture))));
            const QString name = QString::number(picture, 16).toUpper();
            if (!HasInk(drawn.back()))
                blank << name;
            if (drawn.back() == missing)
                missingLike << name;
            const auto same = std::find(drawn.begin(), drawn.end() - 1, drawn.back());
            if (same != drawn.end() - 1)
                alike << QString::number(pictures[same - drawn.begin()], 16).toUpper() + u'=' + name;
        }
        EXPECT_EQ(blank.join(u' ').toStdString(), "") << "drawn blank";
        EXPECT_EQ(missingLike.join(u' ').toStdString(), "") << "drawn as a missing glyph";
        EXPECT_EQ(alike.join(u' ').toStdString(), "") << "drawn alike";
    }
}
