// Looks at screenshots of the program's windows as a person would, for desktop_test.sh.
// Coordinates are the screenshot's (device) pixels.
//   stamp                       copies standard input to standard output, each line behind
//                               the monotonic clock in milliseconds and a tab
//   now                         the monotonic clock in milliseconds
//   text SHOT X Y W H FAMILY TENTHS TEXT [fg=RRGGBB] [bg=RRGGBB] [pick=last]
//                               whether TEXT, drawn whole in FAMILY at TENTHS of a point in
//                               colour FG, shows inside the rectangle: "found X Y W H LINE_TOP
//                               LINE_BOTTOM (...)" (its ink box and line box; the lowest place
//                               with pick=last), else "missing (...)" and exit 1; an "&"
//                               before a letter draws that letter underlined, as a menu's
//                               mnemonic shows
//   ink SHOT X Y W H            the darkest luminance in the rectangle and its background's
//   same SHOT_A XA YA SHOT_B XB YB W H
//                               the percentage of nearly equal pixels in two rectangles
//   list SHOT SEED_X SEED_Y     the white list area around SEED: "list X0 Y0 X1 Y1 BAR", BAR
//                               "scrollbar" when a vertical scroll bar runs beside it, or "none"
//   button SHOT TEXT_X TEXT_Y TEXT_W LINE_TOP LINE_BOTTOM
//                               "button TOP BOTTOM": the rows of a button around a found label
//   map SHOT X Y HOME_X,HOME_Y LAT,LON[,dest]... [only-dest-green|replaying]
//                               the map window whose client starts at X, Y: home marker, hop
//                               markers on their projected pixels, red lines between them, and
//                               no green but the destination's; or a replay's green segment.
//                               Prints "ok: map: ..."/"FAIL: map: ..." lines, exits 1 on a FAIL.
//   point LAT,LON               "X Y": where the map window puts that place's marker, in
//                               device pixels from its client area's corner
//   cursor                      "cursor NAME W H HASH": the pointer as the X server shows it
//                               now (XFixes), NAME its cursor name or "-", HASH a digest of
//                               its pixels
// Texts are drawn with the running display's font settings: run it with QT_QPA_PLATFORM=xcb
// on the program's X server and with the program's QT_SCALE_FACTOR.
#include "map_pixels.h"
#include "geo/projection.h"

#include <QColor>
#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QStringList>
#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>
#include <algorithm>
#include <cstdint>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <optional>
#include <queue>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

long long MonotonicMs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000LL + now.tv_nsec / 1000000;
}

int Stamp()
{
    std::string line;
    while (std::getline(std::cin, line)) {
        std::printf("%lld\t%s\n", MonotonicMs(), line.c_str());
        std::fflush(stdout);
    }
    return 0;
}

QImage Load(const char *path)
{
    QImage image(QString::fromLocal8Bit(path));
    if (image.isNull()) {
        std::fprintf(stderr, "cannot read %s\n", path);
        std::exit(2);
    }
    return image.convertToFormat(QImage::Format_RGB32);
}

int Gray(QRgb p)
{
    return qGray(p);
}

bool Close(QRgb a, QRgb b, int tolerance)
{
    return std::abs(qRed(a) - qRed(b)) <= tolerance && std::abs(qGreen(a) - qGreen(b)) <= tolerance
        && std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}

QString Option(const QStringList &options, const QString &key, const QString &fallback)
{
    for (const QString &option : options)
        if (option.startsWith(key + u'='))
            return option.mid(key.size() + 1);
    return fallback;
}

// The most frequent colours of a rectangle, most frequent first.
std::vector<QRgb> CommonColours(const QImage &image, QRect area, std::size_t count)
{
    std::unordered_map<QRgb, int> seen;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            ++seen[image.pixel(x, y)];
    std::vector<std::pair<QRgb, int>> ranked(seen.begin(), seen.end());
    std::sort(ranked.begin(), ranked.end(), [](const auto &a, const auto &b) { return a.second > b.second; });
    std::vector<QRgb> colours;
    for (std::size_t i = 0; i < ranked.size() && i < count; ++i)
        colours.push_back(ranked[i].first);
    return colours;
}

// One rendering of a text: its ink box, and how much of the text colour each of its pixels
// carries, the pixels that carry most first.
struct Reference {
    QImage image;          // the ink box
    int lineTop = 0;       // the line box's rows relative to the ink box's top
    int lineBottom = 0;
    std::vector<std::pair<QPoint, double>> order; // pixel and its share of the text colour
    int inkPixels = 0;     // pixels of at least a third of the text colour
};

// The share of the text colour FG in a pixel drawn over BG, from their luminances.
double Share(int pixel, int bg, int fg)
{
    return bg == fg ? 0.0 : double(bg - pixel) / double(bg - fg);
}

Reference Render(const QFont &font, const QString &text, QRgb fg, QRgb bg, double phase)
{
    const qreal dpr = qGuiApp->devicePixelRatio();
    QImage probe(1, 1, QImage::Format_RGB32);
    probe.setDevicePixelRatio(dpr);
    const QFontMetricsF metrics(font, &probe);
    const bool mnemonic = text.contains(QLatin1Char('&'));
    const QSizeF logical(metrics.horizontalAdvance(QString(text).remove(QLatin1Char('&'))) + 12, metrics.height() + 8);
    QImage image((logical * dpr).toSize() + QSize(2, 2), QImage::Format_RGB32);
    image.setDevicePixelRatio(dpr);
    image.fill(bg);
    const double baseline = 4 + std::ceil(metrics.ascent());
    {
        QPainter painter(&image);
        painter.setFont(font);
        painter.setPen(QColor::fromRgb(fg));
        if (mnemonic)
            painter.drawText(QRectF(4 + phase / dpr, baseline - metrics.ascent(), logical.width(), metrics.height()),
                             Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine | Qt::TextShowMnemonic, text);
        else
            painter.drawText(QPointF(4 + phase / dpr, baseline), text);
    }
    QRect ink;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != (bg | 0xFF000000))
                ink |= QRect(x, y, 1, 1);
    Reference reference;
    if (ink.isEmpty())
        return reference;
    reference.image = image.copy(ink);
    reference.lineTop = int(std::lround((baseline - metrics.ascent()) * dpr)) - ink.top();
    reference.lineBottom = int(std::lround((baseline + metrics.descent()) * dpr)) - 1 - ink.top();
    for (int y = 0; y < reference.image.height(); ++y)
        for (int x = 0; x < reference.image.width(); ++x) {
            const double share = Share(Gray(reference.image.pixel(x, y)), Gray(bg), Gray(fg));
            reference.order.push_back({QPoint(x, y), share});
            reference.inkPixels += share >= 0.33;
        }
    std::stable_sort(reference.order.begin(), reference.order.end(),
                     [](const auto &a, const auto &b) { return std::abs(a.second) > std::abs(b.second); });
    return reference;
}

struct Match {
    int misses = 1 << 30;
    QPoint at;
};

// A screenshot's luminance, the one thing the text search compares.
struct Luminance {
    explicit Luminance(const QImage &image) : width(image.width()), height(image.height())
    {
        values.reserve(std::size_t(width) * height);
        for (int y = 0; y < height; ++y) {
            const auto *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
            for (int x = 0; x < width; ++x)
                values.push_back(std::uint8_t(Gray(line[x])));
        }
    }
    int At(int x, int y) const { return values[std::size_t(y) * width + x]; }
    int width, height;
    std::vector<std::uint8_t> values;
};

// How many pixels of the reference disagree with the screenshot at AT, counting up to BOUND.
// Each row's own background is read just left and right of the text (buttons shade their
// face from top to bottom), and a pixel agrees when it carries about the same share of the
// text colour as in the reference.
int Misses(const Luminance &shot, QPoint at, const Reference &reference, int fgGray, int bound)
{
    const int w = reference.image.width(), h = reference.image.height();
    if (at.x() < 0 || at.y() < 0 || at.x() + w > shot.width || at.y() + h > shot.height)
        return bound;
    int rowBg[512];
    std::fill(rowBg, rowBg + std::min(h, 512), -1);
    int misses = 0, checked = 0;
    for (const auto &[p, share] : reference.order) {
        int &bg = rowBg[std::min(p.y(), 511)];
        if (bg < 0) {
            const int left = shot.At(std::max(at.x() - 1, 0), at.y() + p.y());
            const int right = shot.At(std::min(at.x() + w, shot.width - 1), at.y() + p.y());
            // The side farther from the text colour is the background.
            bg = std::abs(left - fgGray) > std::abs(right - fgGray) ? left : right;
        }
        if (std::abs(Share(shot.At(at.x() + p.x(), at.y() + p.y()), bg, fgGray) - share) > 0.25 && ++misses >= bound)
            return bound;
        // The strongest pixels decide most places at once.
        if (++checked == 8 && misses >= 3)
            return bound;
    }
    return misses;
}

int FindText(const QStringList &args)
{
    // SHOT X Y W H FAMILY TENTHS TEXT [options]
    const QImage shot = Load(args[0].toLocal8Bit().constData());
    const QRect area = QRect(args[1].toInt(), args[2].toInt(), args[3].toInt(), args[4].toInt()) & shot.rect();
    QFont font(args[5]);
    font.setPointSizeF(args[6].toDouble() / 10.0);
    font.setWeight(QFont::Normal);
    const QString text = args[7];
    const QStringList options = args.mid(8);
    const QRgb fg = Option(options, QStringLiteral("fg"), QStringLiteral("000000")).toUInt(nullptr, 16) | 0xFF000000;
    const QString bgOption = Option(options, QStringLiteral("bg"), QString());
    const bool last = Option(options, QStringLiteral("pick"), QString()) == QLatin1String("last");
    // The background only shades the reference's edges a little; the window's own is best.
    QRgb bg = bgOption.toUInt(nullptr, 16) | 0xFF000000;
    if (bgOption.isEmpty()) {
        const std::vector<QRgb> common = CommonColours(shot, area, 4);
        const auto far = std::find_if(common.begin(), common.end(), [fg](QRgb c) { return std::abs(Gray(c) - Gray(fg)) > 60; });
        bg = far != common.end() ? *far : common.front();
    }
    // Glyphs sit at fractions of a pixel (a centred label starts wherever centring puts it,
    // and each glyph's place is rounded on its own), so the reference is drawn at 64 offsets
    // within a pixel. Four of them find the places where the text roughly shows; there all
    // 64 are tried, and nearly every pixel of one of them must agree.
    const Luminance luminance(shot);
    const int fgGray = Gray(fg);
    std::vector<Reference> references;
    for (int step = 0; step < 64; ++step)
        references.push_back(Render(font, text, fg, bg, step / 64.0));
    const int ink = references.front().inkPixels;
    if (ink == 0) {
        std::printf("missing (the text has no ink on this background)\n");
        return 2;
    }
    std::vector<std::pair<int, QPoint>> rough;
    for (int step = 0; step < 64; step += 16) {
        const Reference &reference = references[std::size_t(step)];
        for (int y = area.top(); y + reference.image.height() <= area.bottom() + 1; ++y)
            for (int x = area.left(); x + reference.image.width() <= area.right() + 1; ++x) {
                const int bound = std::max(4, ink / 6);
                const int misses = Misses(luminance, QPoint(x, y), reference, fgGray, bound);
                if (misses < bound)
                    rough.push_back({misses, QPoint(x, y)});
            }
    }
    std::sort(rough.begin(), rough.end(), [last](const auto &a, const auto &b) {
        return last ? std::pair(a.second.y(), a.second.x()) > std::pair(b.second.y(), b.second.x()) : a.first < b.first;
    });
    std::optional<std::pair<Match, Reference>> found;
    for (std::size_t i = 0; i < rough.size() && i < 40 && !found; ++i)
        for (const Reference &reference : references) {
            const int allowed = 2 + reference.inkPixels / 100; // a missing glyph costs far more
            for (int dy = -1; dy <= 1 && !found; ++dy)
                for (int dx = -1; dx <= 1 && !found; ++dx) {
                    const QPoint at = rough[i].second + QPoint(dx, dy);
                    const int misses = Misses(luminance, at, reference, fgGray, allowed + 1);
                    if (misses <= allowed)
                        found = {Match{misses, at}, reference};
                }
            if (found)
                break;
        }
    int fewest = ink;
    for (const auto &[misses, at] : rough)
        fewest = std::min(fewest, misses);
    const double bestShare = rough.empty() ? 1.0 / 6 : double(fewest) / ink;
    if (found) {
        const auto &[match, reference] = *found;
        std::printf("found %d %d %d %d %d %d (%d of %d differ)\n", match.at.x(), match.at.y(), reference.image.width(),
                    reference.image.height(), match.at.y() + reference.lineTop, match.at.y() + reference.lineBottom,
                    match.misses, reference.inkPixels);
        return 0;
    }
    std::printf("missing (where it comes closest, %s%.0f%% as many pixels as the text has ink differ)\n",
                rough.empty() ? "over " : "", bestShare * 100);
    return 1;
}

int Ink(const QStringList &args)
{
    const QImage shot = Load(args[0].toLocal8Bit().constData());
    const QRect area = QRect(args[1].toInt(), args[2].toInt(), args[3].toInt(), args[4].toInt()) & shot.rect();
    int darkest = 255;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            darkest = std::min(darkest, Gray(shot.pixel(x, y)));
    const std::vector<QRgb> common = CommonColours(shot, area, 1);
    std::printf("%d %d\n", darkest, common.empty() ? 255 : Gray(common.front()));
    return 0;
}

int Same(const QStringList &args)
{
    const QImage a = Load(args[0].toLocal8Bit().constData());
    const QImage b = Load(args[3].toLocal8Bit().constData());
    const int ax = args[1].toInt(), ay = args[2].toInt(), bx = args[4].toInt(), by = args[5].toInt();
    const int w = args[6].toInt(), h = args[7].toInt();
    int equal = 0, total = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            if (!a.valid(ax + x, ay + y) || !b.valid(bx + x, by + y))
                continue;
            ++total;
            equal += Close(a.pixel(ax + x, ay + y), b.pixel(bx + x, by + y), 8);
        }
    std::printf("%d\n", total ? equal * 100 / total : 0);
    return 0;
}

// A list's white area: every white or selection-blue pixel joined to SEED. Its text lies on
// it in islands, and the selected row is part of it.
int List(const QStringList &args)
{
    const QImage shot = Load(args[0].toLocal8Bit().constData());
    const QPoint seed(args[1].toInt(), args[2].toInt());
    const auto inList = [&](QRgb p) {
        return (p & 0xFFFFFF) == 0xFFFFFF || (qBlue(p) - qRed(p) > 90 && qGray(p) < 200);
    };
    if (!shot.valid(seed) || !inList(shot.pixel(seed))) {
        std::printf("no list at %d,%d\n", seed.x(), seed.y());
        return 1;
    }
    std::vector<bool> seen(std::size_t(shot.width()) * shot.height(), false);
    std::queue<QPoint> todo;
    todo.push(seed);
    seen[std::size_t(seed.y()) * shot.width() + seed.x()] = true;
    QRect box(seed, seed);
    while (!todo.empty()) {
        const QPoint p = todo.front();
        todo.pop();
        box |= QRect(p, p);
        for (const QPoint d : {QPoint(1, 0), QPoint(-1, 0), QPoint(0, 1), QPoint(0, -1)}) {
            const QPoint q = p + d;
            if (!shot.valid(q))
                continue;
            const std::size_t index = std::size_t(q.y()) * shot.width() + q.x();
            if (!seen[index] && inList(shot.pixel(q))) {
                seen[index] = true;
                todo.push(q);
            }
        }
    }
    // A vertical scroll bar: a band right of the white area, as tall as it, of neither white
    // nor the window's plain background (taken left of the list, past its frame).
    const QRgb window = shot.pixel(std::max(box.left() - 4, 0), box.center().y());
    int band = 0;
    for (int x = box.right() + 1; x <= box.right() + 20 && x < shot.width(); ++x) {
        int other = 0;
        for (int y = box.top(); y <= box.bottom(); ++y)
            other += !inList(shot.pixel(x, y)) && !Close(shot.pixel(x, y), window, 3);
        if (other * 10 < box.height() * 9)
            break;
        ++band;
    }
    std::printf("list %d %d %d %d %s\n", box.left(), box.top(), box.right(), box.bottom(), band >= 8 ? "scrollbar" : "none");
    return 0;
}

// A push button around a text whose line box is known: its bottom border is the first clearly
// darker row below the text; the text's line box sits in the button's middle, so the top
// border lies as far above the line box as the bottom one lies below it.
int Button(const QStringList &args)
{
    const QImage shot = Load(args[0].toLocal8Bit().constData());
    const int x = args[1].toInt() + args[3].toInt() / 2;
    const int lineTop = args[4].toInt(), lineBottom = args[5].toInt();
    int bottom = -1;
    for (int y = lineBottom + 1; y < shot.height() && y < lineBottom + 40; ++y)
        if (Gray(shot.pixel(x, y)) < 200) {
            bottom = y;
            break;
        }
    if (bottom < 0) {
        std::printf("no button below the text\n");
        return 1;
    }
    std::printf("button %d %d\n", lineTop - (bottom - lineBottom), bottom);
    return 0;
}

int g_failures = 0;

void Check(bool passed, const QString &what)
{
    std::printf("%s: map: %s\n", passed ? "ok" : "FAIL", qPrintable(what));
    g_failures += passed ? 0 : 1;
}

QString Text(QPoint p)
{
    return QStringLiteral("(%1, %2)").arg(p.x()).arg(p.y());
}

// The map picture out of a screenshot: map pixel (x, y) is the device pixel at the client's
// origin plus (x, y) times the scale.
int Map(const QStringList &args)
{
    const QImage shot = Load(args[0].toLocal8Bit().constData());
    const int ox = args[1].toInt(), oy = args[2].toInt();
    const int scale = int(std::lround(qGuiApp->devicePixelRatio()));
    QImage map(quokka::geo::kMapWidth, quokka::geo::kMapHeight, QImage::Format_RGB32);
    map.fill(Qt::black);
    for (int y = 0; y < map.height(); ++y)
        for (int x = 0; x < map.width(); ++x)
            if (shot.valid(ox + x * scale, oy + y * scale))
                map.setPixel(x, y, shot.pixel(ox + x * scale, oy + y * scale));
    const QStringList home = args[3].split(u',');
    std::vector<std::pair<QPoint, bool>> stops{{QPoint(home.value(0).toInt(), home.value(1).toInt()), false}};
    bool onlyDestinationGreen = false, replaying = false;
    for (const QString &arg : args.mid(4)) {
        if (arg == QLatin1String("only-dest-green") || arg == QLatin1String("replaying")) {
            (arg == QLatin1String("replaying") ? replaying : onlyDestinationGreen) = true;
            continue;
        }
        const QStringList parts = arg.split(u',');
        const auto point = quokka::geo::ProjectToMap(parts.value(0).toDouble(), parts.value(1).toDouble());
        if (!point) {
            Check(false, arg + QStringLiteral(" projects onto the map"));
            continue;
        }
        stops.push_back({QPoint(point->x, point->y), parts.value(2) == QLatin1String("dest")});
    }
    if (replaying) {
        // A replay shows one segment green at a time: the middle of one of them is green.
        int green = 0;
        for (std::size_t i = 1; i < stops.size(); ++i)
            green += mappixels::NearPixel(map, QPointF(stops[i - 1].first + stops[i].first) / 2, &mappixels::Greenish);
        Check(green >= 1, QStringLiteral("a segment shows green (%1 do)").arg(green));
        return g_failures == 0 ? 0 : 1;
    }
    Check(mappixels::MarkerAt(map, stops.front().first, 0xFFFF0000), QStringLiteral("red home marker at ") + Text(stops.front().first));
    QPoint destination(-100, -100);
    for (std::size_t i = 1; i < stops.size(); ++i) {
        const auto [point, isDestination] = stops[i];
        Check(mappixels::MarkerAt(map, point, isDestination ? 0xFF00FF00 : 0xFFFF0000),
              QStringLiteral("%1 marker of hop %2 at %3").arg(isDestination ? "green" : "red").arg(i).arg(Text(point)));
        const QPoint from = stops[i - 1].first;
        bool line = true;
        for (const double t : {0.25, 0.5, 0.75})
            line = line && mappixels::NearPixel(map, QPointF(from + (point - from) * t), &mappixels::Reddish);
        Check(line, QStringLiteral("red line from %1 to %2").arg(Text(from), Text(point)));
        if (isDestination)
            destination = point;
    }
    if (onlyDestinationGreen) {
        int stray = 0;
        QPoint where;
        for (int y = 0; y < map.height(); ++y)
            for (int x = 0; x < map.width(); ++x)
                if (mappixels::Greenish(map.pixel(x, y)) && (std::abs(x - destination.x()) > 6 || std::abs(y - destination.y()) > 6)) {
                    where = stray++ ? where : QPoint(x, y);
                }
        Check(stray == 0, QStringLiteral("green only on the destination's marker (%1 green pixels elsewhere, first at %2)")
                              .arg(stray).arg(Text(where)));
    }
    return g_failures == 0 ? 0 : 1;
}

int Point(const QString &place)
{
    const QStringList parts = place.split(u',');
    const auto point = quokka::geo::ProjectToMap(parts.value(0).toDouble(), parts.value(1).toDouble());
    if (!point)
        return 1;
    const int scale = int(std::lround(qGuiApp->devicePixelRatio()));
    std::printf("%d %d\n", point->x * scale, point->y * scale);
    return 0;
}

int PointerShape()
{
    Display *display = XOpenDisplay(nullptr);
    XFixesCursorImage *image = display ? XFixesGetCursorImage(display) : nullptr;
    if (!image) {
        std::printf("no cursor\n");
        return 1;
    }
    const char *name = image->name && *image->name ? image->name : "-";
    std::uint64_t hash = 14695981039346656037ull; // FNV-1a over the ARGB pixels
    for (int i = 0; i < image->width * image->height; ++i) {
        hash ^= std::uint32_t(image->pixels[i]);
        hash *= 1099511628211ull;
    }
    std::printf("cursor %s %d %d %016llx\n", name, image->width, image->height, static_cast<unsigned long long>(hash));
    XFree(image);
    XCloseDisplay(display);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "stamp")
        return Stamp();
    if (command == "cursor")
        return PointerShape();
    if (command == "now") {
        std::printf("%lld\n", MonotonicMs());
        return 0;
    }
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments().mid(2);
    if (command == "text" && args.size() >= 8)
        return FindText(args);
    if (command == "ink" && args.size() == 5)
        return Ink(args);
    if (command == "same" && args.size() == 8)
        return Same(args);
    if (command == "list" && args.size() == 3)
        return List(args);
    if (command == "button" && args.size() == 6)
        return Button(args);
    if (command == "map" && args.size() >= 4)
        return Map(args);
    if (command == "point" && args.size() == 1)
        return Point(args[0]);
    std::fprintf(stderr, "usage: see the top of desktop_check.cpp\n");
    return 2;
}
