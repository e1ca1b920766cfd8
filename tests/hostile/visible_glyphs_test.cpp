// The visible stand-ins of control characters (the control pictures U+2400-U+241F and U+2421)
// draw as glyphs of their own in the fonts of the trace and WHOIS lists: none looks like
// nothing, like a character no installed font has (the blank or boxed "missing glyph"), or
// like another picture. The list fonts have no control pictures; the font fallback must find
// a font that does.
#include "trace/trace_data.h"
#include "whois/whois_lookup.h"

#include <QImage>
#include <QListWidget>
#include <QPainter>
#include <algorithm>
#include <gtest/gtest.h>

using quokka::trace::CTraceData;
using quokka::whois::CWhoisLookup;

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

// The font of the window's list, as the window sets it (the WHOIS rows draw in its family).
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
        const char *list;
        QFont font;
    } lists[] = {
        {"trace", ListFont<CTraceData>("traceList")},
        {"WHOIS", ListFont<CWhoisLookup>("whoisList")},
    };
    for (const auto &list : lists) {
        SCOPED_TRACE(list.list + (", " + list.font.family().toStdString()));
        QStringList names = {QStringLiteral("nothing"), QStringLiteral("a missing glyph")};
        std::vector<QImage> drawn = {Drawn(list.font, QString()), Drawn(list.font, QStringLiteral("\u0378"))};
        QStringList alike;
        for (char16_t picture = 0x2400; picture <= 0x2421; ++picture) {
            if (picture == 0x2420) // the picture of a space, which stands in for nothing
                continue;
            const QImage image = Drawn(list.font, QString(QChar(picture)));
            const QString name = QStringLiteral("U+") + QString::number(picture, 16).toUpper();
            if (const auto same = std::find(drawn.begin(), drawn.end(), image); same != drawn.end())
                alike << name + QStringLiteral(" looks like ") + names[same - drawn.begin()];
            drawn.push_back(image);
            names << name;
        }
        EXPECT_EQ(alike.join(QStringLiteral("; ")).toStdString(), "");
    }
}
