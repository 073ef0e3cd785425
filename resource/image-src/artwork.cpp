// Paints the clock's pictures. The artwork is kept as this drawing code so
// that every picture can be changed and rebuilt; the build runs it and
// compiles the results in under ":/image/...".
// Usage: brellium_artwork <output-folder> <relative-path>...
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QMap>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QTextStream>

#include <cmath>
#include <functional>

namespace {

const QColor kWhite(0xf7, 0xf9, 0xfc);
const QColor kGreen(0x34, 0xc7, 0x59);
const QColor kAmber(0xff, 0xb3, 0x00);
const QColor kRed(0xff, 0x3b, 0x30);
const QColor kDim(0x55, 0x5b, 0x66);
const QColor kGrey(0x9a, 0xa1, 0xab);

QImage canvas(int w, int h)
{
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

void smooth(QPainter &p)
{
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
}

QLinearGradient vertical(const QRectF &r, const QColor &top, const QColor &bottom)
{
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0, top);
    g.setColorAt(1, bottom);
    return g;
}

// A rounded panel with a soft shadow, a gradient face and a top highlight.
void panel(QPainter &p, const QRectF &r, qreal radius, const QColor &top, const QColor &bottom,
           const QColor &border, bool highlight = true)
{
    p.setPen(Qt::NoPen);
    for (int i = 3; i >= 1; --i) {
        p.setBrush(QColor(0, 0, 0, 22 * i));
        p.drawRoundedRect(r.adjusted(0, i, 0, i), radius, radius);
    }
    p.setBrush(vertical(r, top, bottom));
    p.setPen(QPen(border, 1.2));
    p.drawRoundedRect(r, radius, radius);
    if (highlight) {
        QRectF shine = r.adjusted(2, 2, -2, -r.height() * 0.52);
        QLinearGradient g = vertical(shine, QColor(255, 255, 255, 70), QColor(255, 255, 255, 0));
        p.setPen(Qt::NoPen);
        p.setBrush(g);
        p.drawRoundedRect(shine, radius - 2, radius - 2);
    }
}

// ---- glyphs, drawn into a square box ------------------------------------

QPainterPath house(const QRectF &b)
{
    const qreal x = b.x(), y = b.y(), s = b.width();
    QPainterPath roof;
    roof.moveTo(x + 0.50 * s, y + 0.06 * s);
    roof.lineTo(x + 0.97 * s, y + 0.47 * s);
    roof.lineTo(x + 0.85 * s, y + 0.47 * s);
    roof.lineTo(x + 0.85 * s, y + 0.94 * s);
    roof.lineTo(x + 0.15 * s, y + 0.94 * s);
    roof.lineTo(x + 0.15 * s, y + 0.47 * s);
    roof.lineTo(x + 0.03 * s, y + 0.47 * s);
    roof.closeSubpath();
    QPainterPath door;
    door.addRoundedRect(QRectF(x + 0.41 * s, y + 0.62 * s, 0.18 * s, 0.32 * s), 0.04 * s, 0.04 * s);
    return roof.subtracted(door);
}

QPainterPath person(const QRectF &b)
{
    const qreal x = b.x(), y = b.y(), s = b.width();
    QPainterPath path;
    path.addEllipse(QPointF(x + 0.5 * s, y + 0.28 * s), 0.19 * s, 0.19 * s);
    QPainterPath body;
    body.moveTo(x + 0.12 * s, y + 0.95 * s);
    body.cubicTo(x + 0.12 * s, y + 0.58 * s, x + 0.30 * s, y + 0.52 * s, x + 0.5 * s, y + 0.52 * s);
    body.cubicTo(x + 0.70 * s, y + 0.52 * s, x + 0.88 * s, y + 0.58 * s, x + 0.88 * s, y + 0.95 * s);
    body.closeSubpath();
    return path.united(body);
}

QPainterPath pigeon(const QRectF &b)
{
    const qreal x = b.x(), y = b.y(), s = b.width() / 100.0;
    auto pt = [&](qreal px, qreal py) { return QPointF(x + px * s, y + py * s); };
    QPainterPath body;
    body.moveTo(pt(8, 70));
    body.cubicTo(pt(24, 62), pt(30, 48), pt(46, 44));
    body.cubicTo(pt(56, 42), pt(60, 36), pt(62, 28));
    body.cubicTo(pt(64, 18), pt(74, 14), pt(80, 18));
    body.lineTo(pt(93, 22));
    body.lineTo(pt(83, 27));
    body.cubicTo(pt(84, 40), pt(82, 56), pt(70, 66));
    body.cubicTo(pt(58, 76), pt(40, 78), pt(30, 74));
    body.lineTo(pt(14, 82));
    body.closeSubpath();
    QPainterPath wing;
    wing.moveTo(pt(34, 56));
    wing.cubicTo(pt(44, 50), pt(58, 50), pt(68, 56));
    wing.cubicTo(pt(58, 62), pt(46, 64), pt(34, 56));
    QPainterPath eye;
    eye.addEllipse(pt(75, 22), 2.6 * s, 2.6 * s);
    QPainterPath legs;
    legs.addRoundedRect(QRectF(pt(48, 74), QSizeF(4 * s, 16 * s)), 1.5 * s, 1.5 * s);
    legs.addRoundedRect(QRectF(pt(58, 72), QSizeF(4 * s, 18 * s)), 1.5 * s, 1.5 * s);
    return body.subtracted(wing).subtracted(eye).united(legs);
}

QPainterPath stopwatch(const QRectF &b)
{
    const qreal x = b.x(), y = b.y(), s = b.width();
    const QPointF c(x + 0.5 * s, y + 0.57 * s);
    QPainterPath ring;
    ring.addEllipse(c, 0.40 * s, 0.40 * s);
    QPainterPath inner;
    inner.addEllipse(c, 0.31 * s, 0.31 * s);
    QPainterPath watch = ring.subtracted(inner);
    QPainterPath crown;
    crown.addRoundedRect(QRectF(x + 0.42 * s, y + 0.02 * s, 0.16 * s, 0.10 * s), 0.02 * s, 0.02 * s);
    crown.addRect(QRectF(x + 0.46 * s, y + 0.10 * s, 0.08 * s, 0.08 * s));
    QPainterPath hand;
    hand.addRoundedRect(QRectF(c.x() - 0.035 * s, c.y() - 0.24 * s, 0.07 * s, 0.27 * s), 0.03 * s, 0.03 * s);
    hand.addEllipse(c, 0.06 * s, 0.06 * s);
    QPainterPath tick;
    tick.addRoundedRect(QRectF(c.x() - 0.035 * s, c.y() - 0.03 * s, 0.2 * s, 0.07 * s), 0.03 * s, 0.03 * s);
    return watch.united(crown).united(hand).united(tick);
}

void arcs(QPainter &p, const QPointF &c, const QList<qreal> &radii, qreal width, const QColor &color,
          qreal startDeg, qreal spanDeg)
{
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(color, width, Qt::SolidLine, Qt::RoundCap));
    for (qreal r : radii)
        p.drawArc(QRectF(c.x() - r, c.y() - r, 2 * r, 2 * r), int(startDeg * 16), int(spanDeg * 16));
}

void antenna(QPainter &p, const QRectF &b, const QColor &color)
{
    const qreal x = b.x(), y = b.y(), s = b.width();
    const QPointF top(x + 0.5 * s, y + 0.36 * s);
    QPainterPath mast;
    mast.moveTo(top + QPointF(-0.05 * s, 0));
    mast.lineTo(top + QPointF(0.05 * s, 0));
    mast.lineTo(QPointF(x + 0.66 * s, y + 0.96 * s));
    mast.lineTo(QPointF(x + 0.34 * s, y + 0.96 * s));
    mast.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    p.drawPath(mast);
    p.drawEllipse(top, 0.09 * s, 0.09 * s);
    arcs(p, top, {0.2 * s, 0.34 * s}, 0.07 * s, color, -50, 100);
    arcs(p, top, {0.2 * s, 0.34 * s}, 0.07 * s, color, 130, 100);
}

QPainterPath group(const QRectF &b)
{
    const qreal s = b.width();
    QPainterPath left = person(QRectF(b.x() - 0.02 * s, b.y() + 0.16 * s, 0.56 * s, 0.56 * s));
    QPainterPath right = person(QRectF(b.x() + 0.46 * s, b.y() + 0.16 * s, 0.56 * s, 0.56 * s));
    QPainterPath middle = person(QRectF(b.x() + 0.16 * s, b.y() + 0.04 * s, 0.68 * s, 0.68 * s));
    QPainterPath gap = person(QRectF(b.x() + 0.12 * s, b.y() - 0.01 * s, 0.76 * s, 0.76 * s));
    QPainterPath back = left.united(right).subtracted(gap);
    return back.united(middle).translated(0, 0.22 * s);
}

QPainterPath info(const QRectF &b)
{
    const qreal x = b.x(), y = b.y(), s = b.width();
    QPainterPath circle;
    circle.addEllipse(b.adjusted(0.04 * s, 0.04 * s, -0.04 * s, -0.04 * s));
    QPainterPath letter;
    letter.addEllipse(QPointF(x + 0.5 * s, y + 0.29 * s), 0.075 * s, 0.075 * s);
    letter.addRoundedRect(QRectF(x + 0.43 * s, y + 0.43 * s, 0.14 * s, 0.36 * s), 0.04 * s, 0.04 * s);
    return circle.subtracted(letter);
}

QPainterPath gear(const QRectF &b)
{
    const QPointF c = b.center();
    const qreal s = b.width();
    QPainterPath teeth;
    const int count = 8;
    const qreal outer = 0.47 * s, root = 0.36 * s;
    for (int i = 0; i < count * 4; ++i) {
        const qreal angle = (i - 0.5) * M_PI * 2 / (count * 4);
        const qreal r = (i % 4 == 0 || i % 4 == 1) ? outer : root;
        const QPointF point(c.x() + r * std::cos(angle), c.y() + r * std::sin(angle));
        if (i == 0)
            teeth.moveTo(point);
        else
            teeth.lineTo(point);
    }
    teeth.closeSubpath();
    QPainterPath hole;
    hole.addEllipse(c, 0.15 * s, 0.15 * s);
    return teeth.subtracted(hole);
}

QPainterPath backArrow(const QRectF &b)
{
    const qreal x = b.x(), y = b.y(), s = b.width();
    QPainterPath head;
    head.moveTo(x + 0.04 * s, y + 0.40 * s);
    head.lineTo(x + 0.40 * s, y + 0.08 * s);
    head.lineTo(x + 0.40 * s, y + 0.72 * s);
    head.closeSubpath();
    QPainterPath stroke;
    stroke.moveTo(x + 0.36 * s, y + 0.40 * s);
    stroke.cubicTo(x + 0.80 * s, y + 0.40 * s, x + 0.92 * s, y + 0.60 * s, x + 0.70 * s, y + 0.92 * s);
    QPainterPathStroker stroker;
    stroker.setWidth(0.17 * s);
    stroker.setCapStyle(Qt::RoundCap);
    return head.united(stroker.createStroke(stroke));
}

// ---- pictures ------------------------------------------------------------

QImage mainBackground()
{
    QImage image = canvas(480, 700);
    QPainter p(&image);
    smooth(p);
    p.fillRect(image.rect(), vertical(image.rect(), QColor(0x1c, 0x3d, 0x62), QColor(0x0a, 0x16, 0x24)));
    QRadialGradient glow(QPointF(240, -60), 520);
    glow.setColorAt(0, QColor(120, 180, 255, 60));
    glow.setColorAt(1, QColor(120, 180, 255, 0));
    p.fillRect(image.rect(), glow);
    // A faint pigeon in the corner gives the page its character.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 8));
    p.drawPath(pigeon(QRectF(300, 520, 165, 165)));
    return image;
}

QImage bottomBackground()
{
    QImage image = canvas(480, 60);
    QPainter p(&image);
    p.fillRect(image.rect(), vertical(image.rect(), QColor(0x25, 0x36, 0x4a), QColor(0x0e, 0x16, 0x20)));
    p.fillRect(QRect(0, 0, 480, 1), QColor(0x4a, 0x66, 0x86));
    p.fillRect(QRect(0, 1, 480, 1), QColor(0x10, 0x1a, 0x26));
    return image;
}

QImage bottomButton(const std::function<QPainterPath(const QRectF &)> &glyph, bool pressed)
{
    QImage image = canvas(64, 51);
    QPainter p(&image);
    smooth(p);
    const QRectF face(3, 2, 58, 44);
    if (pressed)
        panel(p, face.translated(0, 1), 10, QColor(0x1d, 0x2a, 0x38), QColor(0x2c, 0x3e, 0x52), QColor(0x5d, 0x7b, 0x9c), false);
    else
        panel(p, face, 10, QColor(0x44, 0x5e, 0x7b), QColor(0x22, 0x31, 0x42), QColor(0x64, 0x82, 0xa3));
    p.setPen(Qt::NoPen);
    p.setBrush(pressed ? QColor(0xcf, 0xe3, 0xff) : kWhite);
    p.drawPath(glyph(QRectF(18, 9 + (pressed ? 1 : 0), 28, 28)));
    return image;
}

QImage signalBars(int lit, bool error)
{
    QImage image = canvas(41, 43);
    QPainter p(&image);
    smooth(p);
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 5; ++i) {
        const qreal h = 7 + i * 5.5;
        const QRectF bar(5 + i * 6.4, 36 - h, 4.6, h);
        p.setBrush(i < lit ? kWhite : kDim);
        p.drawRoundedRect(bar, 1.2, 1.2);
    }
    if (error) {
        p.setBrush(kRed);
        p.drawEllipse(QPointF(9, 11), 7, 7);
        p.setPen(QPen(Qt::white, 2, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(6.2, 8.2), QPointF(11.8, 13.8));
        p.drawLine(QPointF(11.8, 8.2), QPointF(6.2, 13.8));
    }
    return image;
}

QImage dataLink(const QColor &color)
{
    QImage image = canvas(41, 16);
    QPainter p(&image);
    smooth(p);
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    QPainterPath up;
    up.moveTo(9, 1);
    up.lineTo(15, 8);
    up.lineTo(3, 8);
    up.closeSubpath();
    up.addRect(QRectF(7, 7, 4, 7));
    QPainterPath down;
    down.moveTo(25, 15);
    down.lineTo(31, 8);
    down.lineTo(19, 8);
    down.closeSubpath();
    down.addRect(QRectF(23, 2, 4, 7));
    p.drawPath(up);
    p.drawPath(down);
    return image;
}

QPainterPath locationPin(const QPointF &tip, qreal width)
{
    const qreal r = width / 2;
    const QPointF c(tip.x(), tip.y() - width * 1.15);
    QPainterPath pin;
    pin.moveTo(tip);
    pin.cubicTo(QPointF(c.x() - r * 0.55, c.y() + r * 1.4), QPointF(c.x() - r, c.y() + r * 0.6), QPointF(c.x() - r, c.y()));
    pin.arcTo(QRectF(c.x() - r, c.y() - r, 2 * r, 2 * r), 180, -180);
    pin.cubicTo(QPointF(c.x() + r, c.y() + r * 0.6), QPointF(c.x() + r * 0.55, c.y() + r * 1.4), tip);
    QPainterPath hole;
    hole.addEllipse(c, r * 0.42, r * 0.42);
    return pin.subtracted(hole);
}

void slash(QPainter &p, const QRectF &r)
{
    p.setPen(QPen(QColor(0, 0, 0), 4.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(r.topRight(), r.bottomLeft());
    p.setPen(QPen(kRed, 2.4, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(r.topRight(), r.bottomLeft());
}

QImage gps(const QColor &color, bool crossed)
{
    QImage image = canvas(29, 40);
    QPainter p(&image);
    smooth(p);
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    p.drawPath(locationPin(QPointF(14.5, 31), 18));
    p.setBrush(QColor(color.red(), color.green(), color.blue(), 90));
    p.drawEllipse(QPointF(14.5, 32), 9, 2.4);
    if (crossed)
        slash(p, QRectF(5, 9, 19, 22));
    return image;
}

QImage reader(const QColor &color, bool crossed)
{
    QImage image = canvas(31, 40);
    QPainter p(&image);
    smooth(p);
    // A ring with the waves of the landing antenna.
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(color, 2.6));
    p.drawEllipse(QPointF(9, 20), 5, 5);
    arcs(p, QPointF(9, 20), {10, 15.5}, 2.4, color, -45, 90);
    if (crossed)
        slash(p, QRectF(4, 10, 22, 20));
    return image;
}

QImage clock()
{
    QImage image = canvas(31, 40);
    QPainter p(&image);
    smooth(p);
    const QPointF c(15.5, 20);
    p.setPen(QPen(kWhite, 2.2));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(c, 11, 11);
    p.setPen(QPen(kWhite, 2.2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(c, c + QPointF(0, -7));
    p.drawLine(c, c + QPointF(5, 3));
    return image;
}

struct Tile
{
    QColor top;
    QColor bottom;
    std::function<void(QPainter &, const QRectF &, const QColor &)> glyph;
};

std::function<void(QPainter &, const QRectF &, const QColor &)> fill(QPainterPath (*shape)(const QRectF &))
{
    return [shape](QPainter &p, const QRectF &box, const QColor &color) {
        p.setPen(Qt::NoPen);
        p.setBrush(color);
        p.drawPath(shape(box));
    };
}

QImage menuTile(const Tile &tile, int height, bool pressed)
{
    QImage image = canvas(120, height);
    QPainter p(&image);
    smooth(p);
    const QRectF face(6, 4, 108, height - 12);
    if (pressed)
        panel(p, face.translated(0, 2), 24, tile.bottom.darker(125), tile.top.darker(120), tile.bottom.darker(160), false);
    else
        panel(p, face, 24, tile.top, tile.bottom, tile.bottom.darker(140));
    const qreal side = pressed ? 54 : 58;
    const QRectF box(60 - side / 2, face.center().y() - side / 2 + (pressed ? 2 : 0), side, side);
    tile.glyph(p, box, pressed ? QColor(235, 240, 248) : Qt::white);
    return image;
}

QImage menuHighlight()
{
    QImage image = canvas(150, 150);
    QPainter p(&image);
    smooth(p);
    p.setBrush(QColor(255, 255, 255, 38));
    p.setPen(QPen(QColor(255, 255, 255, 120), 2));
    p.drawRoundedRect(QRectF(2, 2, 146, 146), 22, 22);
    return image;
}

// The white face of every dialog panel, with its blue frame and soft shadow.
void dialogFace(QPainter &p, const QRectF &r)
{
    p.setPen(Qt::NoPen);
    for (int i = 5; i >= 1; --i) {
        p.setBrush(QColor(0, 0, 0, 16 * i));
        p.drawRoundedRect(r.adjusted(-i + 1, i, i - 1, i), 18, 18);
    }
    p.setBrush(vertical(r, QColor(0xff, 0xff, 0xff), QColor(0xe9, 0xee, 0xf5)));
    p.setPen(QPen(QColor(0x2f, 0x6d, 0xb5), 2.5));
    p.drawRoundedRect(r, 18, 18);
}

QImage dialogBox()
{
    QImage image = canvas(480, 240);
    QPainter p(&image);
    smooth(p);
    dialogFace(p, QRectF(6, 4, 468, 230));
    p.setPen(QPen(QColor(0xc9, 0xd9, 0xee), 1.5));
    p.drawLine(QPointF(30, 48), QPointF(450, 48));
    return image;
}

QImage wideButton(const QColor &top, const QColor &bottom)
{
    QImage image = canvas(165, 44);
    QPainter p(&image);
    smooth(p);
    panel(p, QRectF(2, 1, 161, 39), 10, top, bottom, bottom.darker(130));
    return image;
}

QImage keyCap(const QColor &top, const QColor &bottom, const std::function<void(QPainter &)> &glyph = {})
{
    QImage image = canvas(42, 52);
    QPainter p(&image);
    smooth(p);
    const QRectF face(1.5, 1.5, 39, 47);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x70, 0x79, 0x85));
    p.drawRoundedRect(face.translated(0, 1.5), 7, 7);
    p.setBrush(vertical(face, top, bottom));
    p.setPen(QPen(QColor(0x9a, 0xa3, 0xae), 1));
    p.drawRoundedRect(face, 7, 7);
    if (glyph)
        glyph(p);
    return image;
}

QPainterPath shiftArrow()
{
    QPainterPath arrow;
    arrow.moveTo(21, 12);
    arrow.lineTo(32, 25);
    arrow.lineTo(26, 25);
    arrow.lineTo(26, 37);
    arrow.lineTo(16, 37);
    arrow.lineTo(16, 25);
    arrow.lineTo(10, 25);
    arrow.closeSubpath();
    return arrow;
}

void backspace(QPainter &p, const QColor &color)
{
    QPainterPath shape;
    shape.moveTo(8, 25);
    shape.lineTo(16, 16);
    shape.lineTo(34, 16);
    shape.lineTo(34, 34);
    shape.lineTo(16, 34);
    shape.closeSubpath();
    p.setPen(QPen(color, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(shape);
    p.drawLine(QPointF(20, 21), QPointF(28, 29));
    p.drawLine(QPointF(28, 21), QPointF(20, 29));
}

// ---- screen furniture ----------------------------------------------------

const QColor kInk(0x20, 0x20, 0x20);
const QColor kBlueTop(0x5a, 0xa8, 0xff);
const QColor kBlueBottom(0x1b, 0x5f, 0xd0);
const QColor kFieldBorder(0x2f, 0x6d, 0xb5);

// Tab heads over a list: the shown list's tab stands out bright, the other
// lies back, dark; both are open at the bottom where the list begins.
QImage tab(bool shown)
{
    QImage image = canvas(141, 31);
    QPainter p(&image);
    smooth(p);
    const QRectF r(1, 1, 139, 34); // bottom corners fall outside the picture
    p.setPen(QPen(shown ? QColor(0x8c, 0xc4, 0xff) : QColor(0x4a, 0x5d, 0x74), 1.2));
    p.setBrush(shown ? vertical(r, kBlueTop, kBlueBottom)
                     : vertical(r, QColor(0x34, 0x44, 0x58), QColor(0x1c, 0x27, 0x35)));
    p.drawRoundedRect(r, 8, 8);
    if (shown) {
        p.setPen(Qt::NoPen);
        p.setBrush(vertical(QRectF(3, 3, 135, 13), QColor(255, 255, 255, 80), QColor(255, 255, 255, 0)));
        p.drawRoundedRect(QRectF(3, 3, 135, 13), 6, 6);
    }
    return image;
}

QImage checkBox(bool checked)
{
    QImage image = canvas(31, 31);
    QPainter p(&image);
    smooth(p);
    const QRectF r(3, 3, 25, 25);
    if (checked)
        panel(p, r, 5, kBlueTop, kBlueBottom, kBlueBottom.darker(130));
    else
        panel(p, r, 5, QColor(0xff, 0xff, 0xff), QColor(0xdd, 0xe3, 0xea), QColor(0x8a, 0x96, 0xa5));
    if (checked) {
        QPainterPath tick;
        tick.moveTo(9, 16);
        tick.lineTo(14, 21);
        tick.lineTo(23, 10);
        p.setPen(QPen(Qt::white, 3.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        p.drawPath(tick);
    }
    return image;
}

// The frame of an entry field; a lit field (the one being typed in) has a
// white face and a blue frame, a resting one a grey face.
QImage field(int w, int h, bool lit)
{
    QImage image = canvas(w, h);
    QPainter p(&image);
    smooth(p);
    const QRectF r(1.5, 1.5, w - 3, h - 3);
    p.setPen(QPen(lit ? kFieldBorder : QColor(0x8a, 0x96, 0xa5), lit ? 2 : 1.4));
    p.setBrush(lit ? vertical(r, QColor(0xff, 0xff, 0xff), QColor(0xee, 0xf3, 0xfa))
                   : vertical(r, QColor(0xe6, 0xea, 0xef), QColor(0xd2, 0xd8, 0xdf)));
    p.drawRoundedRect(r, 7, 7);
    // A faint inner shadow along the top edge, as of a recessed field.
    p.setPen(QPen(QColor(0, 0, 0, 28), 1.5));
    p.drawLine(QPointF(7, 3.5), QPointF(w - 7, 3.5));
    return image;
}

// The round clear button at the end of a field.
QImage clearButton(bool lit)
{
    QImage image = canvas(40, 40);
    QPainter p(&image);
    smooth(p);
    const QPointF c(20, 20);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 40));
    p.drawEllipse(c + QPointF(0, 1.5), 14, 14);
    p.setBrush(lit ? QBrush(vertical(QRectF(6, 6, 28, 28), QColor(0xff, 0x72, 0x66), QColor(0xc8, 0x27, 0x1c)))
                   : QBrush(vertical(QRectF(6, 6, 28, 28), QColor(0xb4, 0xbb, 0xc4), QColor(0x8a, 0x93, 0x9f))));
    p.drawEllipse(c, 14, 14);
    p.setPen(QPen(Qt::white, 3, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(c + QPointF(-5.5, -5.5), c + QPointF(5.5, 5.5));
    p.drawLine(c + QPointF(5.5, -5.5), c + QPointF(-5.5, 5.5));
    return image;
}

// A circular arrow: start again.
QPainterPath restartArrow(const QPointF &c, qreal r, qreal width)
{
    QPainterPath arc;
    arc.arcMoveTo(QRectF(c.x() - r, c.y() - r, 2 * r, 2 * r), 110);
    arc.arcTo(QRectF(c.x() - r, c.y() - r, 2 * r, 2 * r), 110, 290);
    QPainterPathStroker stroker;
    stroker.setWidth(width);
    stroker.setCapStyle(Qt::RoundCap);
    QPainterPath shape = stroker.createStroke(arc);
    const qreal a = 110 * M_PI / 180;
    const QPointF end(c.x() + r * std::cos(a), c.y() - r * std::sin(a));
    // The head at the arc's open end points clockwise, across the gap.
    const QPointF forward(std::sin(a), std::cos(a));
    const QPointF out(std::cos(a), -std::sin(a));
    QPainterPath head;
    head.moveTo(end + forward * (width * 1.5));
    head.lineTo(end + out * (width * 1.3) - forward * (width * 0.5));
    head.lineTo(end - out * (width * 1.3) - forward * (width * 0.5));
    head.closeSubpath();
    return shape.united(head);
}

QImage resetButton(bool pressed)
{
    QImage image = canvas(90, 90);
    QPainter p(&image);
    smooth(p);
    const QPointF c(45, pressed ? 45 : 44);
    p.setPen(Qt::NoPen);
    for (int i = 3; i >= 1; --i) {
        p.setBrush(QColor(0, 0, 0, 24 * i));
        p.drawEllipse(c + QPointF(0, i), 40, 40);
    }
    const QRectF face(c.x() - 40, c.y() - 40, 80, 80);
    p.setBrush(pressed ? vertical(face, QColor(0xc8, 0x6a, 0x10), QColor(0xe8, 0x8a, 0x2a))
                       : vertical(face, QColor(0xff, 0xb8, 0x4a), QColor(0xe0, 0x6a, 0x10)));
    p.setPen(QPen(QColor(0xa8, 0x4c, 0x08), 1.5));
    p.drawEllipse(face);
    if (!pressed) {
        p.setPen(Qt::NoPen);
        p.setBrush(vertical(QRectF(c.x() - 32, c.y() - 37, 64, 34), QColor(255, 255, 255, 90), QColor(255, 255, 255, 0)));
        p.drawEllipse(QRectF(c.x() - 32, c.y() - 37, 64, 34));
    }
    p.setPen(Qt::NoPen);
    p.setBrush(pressed ? QColor(0xff, 0xe9, 0xd0) : Qt::white);
    p.drawPath(restartArrow(c, 20, 7));
    return image;
}

// A key of the digit pad: larger than the keyboard's, same make.
QImage bigKey(const std::function<void(QPainter &, const QRectF &)> &glyph = {})
{
    QImage image = canvas(110, 64);
    QPainter p(&image);
    smooth(p);
    const QRectF face(2, 2, 106, 58);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x30, 0x33, 0x38));
    p.drawRoundedRect(face.translated(0, 2), 9, 9);
    p.setBrush(vertical(face, QColor(0xff, 0xff, 0xff), QColor(0xdc, 0xe1, 0xe7)));
    p.setPen(QPen(QColor(0x9a, 0xa3, 0xae), 1));
    p.drawRoundedRect(face, 9, 9);
    if (glyph)
        glyph(p, face);
    return image;
}

void bigBackspace(QPainter &p, const QRectF &face)
{
    const QPointF c = face.center();
    QPainterPath shape;
    shape.moveTo(c + QPointF(-22, 0));
    shape.lineTo(c + QPointF(-10, -13));
    shape.lineTo(c + QPointF(22, -13));
    shape.lineTo(c + QPointF(22, 13));
    shape.lineTo(c + QPointF(-10, 13));
    shape.closeSubpath();
    p.setPen(QPen(kInk, 2.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(shape);
    p.drawLine(c + QPointF(0, -6), c + QPointF(12, 6));
    p.drawLine(c + QPointF(12, -6), c + QPointF(0, 6));
}

// The bar behind a table's column titles.
QImage tableHead()
{
    QImage image = canvas(481, 30);
    QPainter p(&image);
    p.fillRect(image.rect(), vertical(image.rect(), QColor(0x2c, 0x6c, 0xc4), QColor(0x14, 0x3f, 0x82)));
    p.fillRect(QRect(0, 0, 481, 1), QColor(0x7f, 0xb4, 0xf5));
    p.fillRect(QRect(0, 29, 481, 1), QColor(0x0a, 0x22, 0x48));
    return image;
}

QImage largeButton()
{
    QImage image = canvas(420, 80);
    QPainter p(&image);
    smooth(p);
    panel(p, QRectF(3, 2, 414, 72), 16, kBlueTop, kBlueBottom, kBlueBottom.darker(130));
    return image;
}

// The translucent panels that group the white texts of a screen.
QImage contentPanel(int w, int h, const QColor &tint)
{
    QImage image = canvas(w, h);
    QPainter p(&image);
    smooth(p);
    const QRectF r(6, 3, w - 12, h - 7);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 40));
    p.drawRoundedRect(r.translated(0, 2), 14, 14);
    QColor top = tint;
    top.setAlpha(150);
    QColor bottom = tint.darker(170);
    bottom.setAlpha(190);
    p.setBrush(vertical(r, top, bottom));
    p.setPen(QPen(QColor(0x8f, 0xbd, 0xf0, 120), 1.4));
    p.drawRoundedRect(r, 14, 14);
    p.setPen(QPen(QColor(255, 255, 255, 50), 1));
    p.drawLine(QPointF(r.left() + 14, r.top() + 1.5), QPointF(r.right() - 14, r.top() + 1.5));
    return image;
}

// The white dialog panels; `titled` gives them the blue band that carries a
// heading, as the message box's panel has its rule under the title.
QImage dialogPanel(int w, int h, bool titled)
{
    QImage image = canvas(w, h);
    QPainter p(&image);
    smooth(p);
    const QRectF r(6, 4, w - 12, h - 10);
    dialogFace(p, r);
    if (titled) {
        QPainterPath band;
        band.addRoundedRect(r.adjusted(1.25, 1.25, -1.25, 0), 17, 17);
        QPainterPath top;
        top.addRect(QRectF(r.left(), r.top(), r.width(), 40));
        p.setPen(Qt::NoPen);
        p.setBrush(vertical(QRectF(r.left(), r.top(), r.width(), 40), QColor(0xdd, 0xeb, 0xfc), QColor(0xc4, 0xda, 0xf5)));
        p.drawPath(band.intersected(top));
        p.setPen(QPen(QColor(0x9c, 0xbf, 0xea), 1.5));
        p.drawLine(QPointF(r.left() + 1.5, r.top() + 40), QPointF(r.right() - 1.5, r.top() + 40));
    }
    return image;
}

// ---- the test menu's icons (white, on blue buttons) -----------------------

QImage touchIcon()
{
    QImage image = canvas(64, 64);
    QPainter p(&image);
    smooth(p);
    // A touch point with its ripples, and the cross of the calibration target.
    p.setPen(QPen(Qt::white, 3, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(32, 32), 18, 18);
    p.drawLine(QPointF(32, 4), QPointF(32, 16));
    p.drawLine(QPointF(32, 48), QPointF(32, 60));
    p.drawLine(QPointF(4, 32), QPointF(16, 32));
    p.drawLine(QPointF(48, 32), QPointF(60, 32));
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(32, 32), 7, 7);
    return image;
}

QImage lcdIcon()
{
    QImage image = canvas(64, 64);
    QPainter p(&image);
    smooth(p);
    p.setPen(QPen(Qt::white, 3.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(6, 10, 52, 36), 4, 4);
    p.drawLine(QPointF(32, 46), QPointF(32, 54));
    p.drawLine(QPointF(20, 55), QPointF(44, 55));
    // Three bars of colour, as a screen test shows.
    p.setPen(Qt::NoPen);
    const QColor bars[] = {kRed, kGreen, QColor(0x4f, 0x9d, 0xff)};
    for (int i = 0; i < 3; ++i) {
        p.setBrush(bars[i]);
        p.drawRect(QRectF(12 + i * 13.3, 16, 13.3, 24));
    }
    return image;
}

QImage ringIcon()
{
    QImage image = canvas(64, 64);
    QPainter p(&image);
    smooth(p);
    // The ring on a leg, and the waves of the reader that answers it.
    p.setPen(QPen(Qt::white, 4.5));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(22, 34), 11, 11);
    arcs(p, QPointF(22, 34), {20, 30}, 4, Qt::white, -45, 90);
    return image;
}

QImage smsIcon()
{
    QImage image = canvas(64, 64);
    QPainter p(&image);
    smooth(p);
    QPainterPath bubble;
    bubble.addRoundedRect(QRectF(6, 8, 52, 36), 9, 9);
    QPainterPath tail;
    tail.moveTo(16, 40);
    tail.lineTo(14, 56);
    tail.lineTo(30, 42);
    tail.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawPath(bubble.united(tail));
    p.setBrush(kBlueBottom);
    for (int i = 0; i < 3; ++i)
        p.drawEllipse(QPointF(20 + i * 12, 26), 3.6, 3.6);
    return image;
}

// The PC program and the clock joined by the club cable, data going both ways.
QImage connectToPc()
{
    QImage image = canvas(480, 191);
    QPainter p(&image);
    smooth(p);
    // The PC: a monitor on its stand.
    const QRectF monitor(40, 28, 150, 102);
    panel(p, monitor, 10, QColor(0x4a, 0x5d, 0x74), QColor(0x24, 0x31, 0x41), QColor(0x8f, 0xa3, 0xba));
    const QRectF screen = monitor.adjusted(10, 10, -10, -12);
    p.setPen(Qt::NoPen);
    p.setBrush(vertical(screen, QColor(0x5a, 0xa8, 0xff), QColor(0x1b, 0x5f, 0xd0)));
    p.drawRoundedRect(screen, 4, 4);
    p.setBrush(QColor(255, 255, 255, 200));
    for (int i = 0; i < 4; ++i)
        p.drawRoundedRect(QRectF(screen.left() + 12, screen.top() + 12 + i * 14, i % 2 ? 70 : 100, 6), 3, 3);
    p.setBrush(QColor(0x8f, 0xa3, 0xba));
    p.drawRect(QRectF(105, 130, 20, 22));
    p.drawRoundedRect(QRectF(80, 150, 70, 9), 4, 4);
    // The clock: an upright device with its screen and keys.
    const QRectF clockBody(330, 22, 100, 140);
    panel(p, clockBody, 14, QColor(0xff, 0xa7, 0x3a), QColor(0xe0, 0x6a, 0x10), QColor(0xa8, 0x4c, 0x08));
    const QRectF display = clockBody.adjusted(12, 14, -12, -62);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x10, 0x1a, 0x26));
    p.drawRoundedRect(display, 5, 5);
    p.setBrush(kWhite);
    p.drawPath(pigeon(QRectF(display.center().x() - 25, display.top() + 6, 50, 50)));
    p.setBrush(QColor(255, 255, 255, 210));
    for (int row = 0; row < 2; ++row) {
        for (int col = 0; col < 3; ++col)
            p.drawRoundedRect(QRectF(348 + col * 23, 110 + row * 20, 17, 13), 3, 3);
    }
    // The cable between them, and the data moving both ways above it.
    QPainterPath cable;
    cable.moveTo(190, 96);
    cable.cubicTo(250, 96, 270, 120, 330, 120);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0x10, 0x1a, 0x26), 9, Qt::SolidLine, Qt::RoundCap));
    p.drawPath(cable);
    p.setPen(QPen(QColor(0xcf, 0xe3, 0xff), 5, Qt::SolidLine, Qt::RoundCap));
    p.drawPath(cable);
    p.setPen(Qt::NoPen);
    p.setBrush(kGreen);
    QPainterPath right;
    right.moveTo(292, 58);
    right.lineTo(278, 48);
    right.lineTo(278, 68);
    right.closeSubpath();
    right.addRoundedRect(QRectF(228, 54, 52, 8), 4, 4);
    p.drawPath(right);
    p.setBrush(kAmber);
    QPainterPath left;
    left.moveTo(226, 78);
    left.lineTo(240, 68);
    left.lineTo(240, 88);
    left.closeSubpath();
    left.addRoundedRect(QRectF(238, 74, 52, 8), 4, 4);
    p.drawPath(left);
    return image;
}

QMap<QString, std::function<QImage()>> pictures()
{
    QMap<QString, std::function<QImage()>> m;
    const QString top = QStringLiteral("image/topIcons/image/");
    const QString menu = QStringLiteral("image/menu/image/");
    const QString bottom = QStringLiteral("image/bottomIcon/image/");
    const QString button = QStringLiteral("image/button/image/");

    m[QStringLiteral("image/image/main-bg.png")] = mainBackground;
    m[QStringLiteral("image/image/bottom_line_bg.png")] = bottomBackground;
    for (bool pressed : {false, true}) {
        const QString suffix = pressed ? QStringLiteral("_pressed.png") : QStringLiteral("_normal.png");
        m[bottom + QStringLiteral("btn_bottomline_toMainButton") + suffix] = [pressed] { return bottomButton(house, pressed); };
        m[bottom + QStringLiteral("btn_bottomline_backButton") + suffix] = [pressed] { return bottomButton(backArrow, pressed); };
    }
    for (int i = 0; i <= 5; ++i)
        m[top + QStringLiteral("gsmSignal%1.png").arg(i)] = [i] { return signalBars(i, false); };
    m[top + QStringLiteral("GsmSignalError.png")] = [] { return signalBars(0, true); };
    m[top + QStringLiteral("GprsOpen.png")] = [] { return dataLink(kAmber); };
    m[top + QStringLiteral("SocketOpen.png")] = [] { return dataLink(kGreen); };
    m[top + QStringLiteral("gps_offline.png")] = [] { return gps(kGrey, false); };
    m[top + QStringLiteral("gps_online.png")] = [] { return gps(kGreen, false); };
    m[top + QStringLiteral("gps_invalid.png")] = [] { return gps(kGrey, true); };
    m[top + QStringLiteral("rf_online.png")] = [] { return reader(kGreen, false); };
    m[top + QStringLiteral("rf_disable.png")] = [] { return reader(kAmber, false); };
    m[top + QStringLiteral("rf_invalid.png")] = [] { return reader(kGrey, true); };
    m[top + QStringLiteral("clock.png")] = clock;

    const QList<std::pair<QString, Tile>> tiles = {
        {QStringLiteral("Home"), {QColor(0xff, 0xa7, 0x3a), QColor(0xe0, 0x6a, 0x10), fill(house)}},
        {QStringLiteral("MemberData"), {QColor(0x4f, 0x9d, 0xff), QColor(0x1b, 0x5f, 0xd0), fill(person)}},
        {QStringLiteral("RaceData"), {QColor(0x5c, 0xd6, 0x7a), QColor(0x1f, 0x95, 0x45), fill(pigeon)}},
        {QStringLiteral("TrainingData"), {QColor(0x3d, 0xd1, 0xc9), QColor(0x11, 0x8f, 0x99), fill(stopwatch)}},
        {QStringLiteral("Communication"), {QColor(0xa9, 0x7b, 0xff), QColor(0x6a, 0x3c, 0xd6),
                                           [](QPainter &p, const QRectF &b, const QColor &c) { antenna(p, b, c); }}},
        {QStringLiteral("ClubManagement"), {QColor(0xff, 0x6f, 0x7d), QColor(0xd0, 0x2e, 0x4a), fill(group)}},
        {QStringLiteral("SystemInfo"), {QColor(0x47, 0xc1, 0xff), QColor(0x14, 0x82, 0xc9), fill(info)}},
        {QStringLiteral("SystemTest"), {QColor(0x9b, 0xa9, 0xbb), QColor(0x5a, 0x69, 0x7e), fill(gear)}},
    };
    for (const auto &entry : tiles) {
        const Tile tile = entry.second;
        const int height = (entry.first == QLatin1String("SystemInfo") || entry.first == QLatin1String("SystemTest")) ? 111 : 120;
        m[menu + QStringLiteral("btn_menu_") + entry.first + QStringLiteral("_normal.png")] = [tile, height] { return menuTile(tile, height, false); };
        m[menu + QStringLiteral("btn_menu_") + entry.first + QStringLiteral("_pressed.png")] = [tile, height] { return menuTile(tile, height, true); };
    }
    m[menu + QStringLiteral("btn_menu_greyBG.png")] = menuHighlight;

    m[QStringLiteral("image/dlg/image/dlg_004_box.png")] = dialogBox;
    m[button + QStringLiteral("green.png")] = [] { return wideButton(QColor(0x5a, 0xd8, 0x6e), QColor(0x1b, 0x9a, 0x3c)); };
    m[button + QStringLiteral("red.png")] = [] { return wideButton(QColor(0xff, 0x72, 0x66), QColor(0xc8, 0x27, 0x1c)); };
    m[button + QStringLiteral("key_button.png")] = [] { return keyCap(QColor(0xff, 0xff, 0xff), QColor(0xe2, 0xe6, 0xeb)); };
    m[button + QStringLiteral("shift_off.png")] = [] {
        return keyCap(QColor(0xff, 0xff, 0xff), QColor(0xe2, 0xe6, 0xeb), [](QPainter &p) {
            p.setPen(QPen(QColor(0x20, 0x20, 0x20), 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            p.setBrush(Qt::NoBrush);
            p.drawPath(shiftArrow());
        });
    };
    m[button + QStringLiteral("shift_on.png")] = [] {
        return keyCap(QColor(0xe4, 0xef, 0xff), QColor(0xbf, 0xd6, 0xf7), [](QPainter &p) {
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(0x1d, 0x5f, 0xb4));
            p.drawPath(shiftArrow());
        });
    };
    m[button + QStringLiteral("key_back_normal.png")] = [] {
        return keyCap(QColor(0xff, 0xff, 0xff), QColor(0xe2, 0xe6, 0xeb), [](QPainter &p) { backspace(p, QColor(0x20, 0x20, 0x20)); });
    };
    m[button + QStringLiteral("key_back_pressed.png")] = [] {
        return keyCap(QColor(0xb9, 0xc2, 0xcd), QColor(0xd3, 0xd9, 0xe0), [](QPainter &p) { backspace(p, QColor(0x1d, 0x5f, 0xb4)); });
    };

    m[button + QStringLiteral("blue.png")] = [] { return wideButton(kBlueTop, kBlueBottom); };
    m[button + QStringLiteral("grey.png")] = [] { return wideButton(QColor(0xb4, 0xbb, 0xc4), QColor(0x7d, 0x86, 0x92)); };
    m[button + QStringLiteral("Total-Of-Marking.png")] = [] { return tab(true); };
    m[button + QStringLiteral("Total-Of-Arrived.png")] = [] { return tab(false); };
    m[button + QStringLiteral("btn_Checkbox_normal.png")] = [] { return checkBox(false); };
    m[button + QStringLiteral("btn_Checkbox_pressed.png")] = [] { return checkBox(true); };
    m[button + QStringLiteral("btn_apn_normal.png")] = [] { return field(300, 40, true); };
    m[button + QStringLiteral("btn_apn_delete_normal.png")] = [] { return clearButton(true); };
    m[button + QStringLiteral("btn_phone-number_normal.png")] = [] { return field(300, 40, true); };
    m[button + QStringLiteral("btn_phone-number_disabled.png")] = [] { return field(300, 40, false); };
    m[button + QStringLiteral("btn_phone-number-delete_normal.png")] = [] { return clearButton(true); };
    m[button + QStringLiteral("btn_phone-number-delete_disabled.png")] = [] { return clearButton(false); };
    m[button + QStringLiteral("btn_reset_normal.png")] = [] { return resetButton(false); };
    m[button + QStringLiteral("btn_reset_pressed.png")] = [] { return resetButton(true); };
    m[button + QStringLiteral("keyboard_big.png")] = [] { return bigKey(); };
    m[button + QStringLiteral("keyboard_icon_del.png")] = [] { return bigKey(bigBackspace); };
    m[button + QStringLiteral("table_head_ng.png")] = tableHead;
    m[QStringLiteral("image/button_blue.png")] = largeButton;
    m[QStringLiteral("image/dlg/image/content_bg_00.png")] = [] { return contentPanel(480, 191, QColor(0x2a, 0x55, 0x8a)); };
    m[QStringLiteral("image/dlg/image/content_bg_01.png")] = [] { return contentPanel(480, 131, QColor(0x2a, 0x55, 0x8a)); };
    m[QStringLiteral("image/dlg/image/content_bg_02.png")] = [] { return contentPanel(480, 300, QColor(0x24, 0x4a, 0x78)); };
    m[QStringLiteral("image/dlg/image/dlg_001_box.png")] = [] { return dialogPanel(480, 240, true); };
    m[QStringLiteral("image/dlg/image/dlg_003_box.png")] = [] { return dialogPanel(480, 300, false); };
    m[QStringLiteral("image/icon_touch.png")] = touchIcon;
    m[QStringLiteral("image/icon_lcd.png")] = lcdIcon;
    m[QStringLiteral("image/icon_ering.png")] = ringIcon;
    m[QStringLiteral("image/icon_sms.png")] = smsIcon;
    m[QStringLiteral("image/image/connecttopc.png")] = connectToPc;
    return m;
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    QTextStream err(stderr);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        err << "usage: brellium_artwork <output-folder> <relative-path>...\n";
        return 2;
    }
    const QDir out(args.at(1));
    const auto known = pictures();
    for (int i = 2; i < args.size(); ++i) {
        const QString name = args.at(i);
        const auto painter = known.find(name);
        if (painter == known.end()) {
            err << "no drawing for " << name << "\n";
            return 1;
        }
        const QString file = out.filePath(name);
        QDir().mkpath(QFileInfo(file).absolutePath());
        if (!painter.value()().save(file, "PNG")) {
            err << "cannot write " << file << "\n";
            return 1;
        }
    }
    return 0;
}
