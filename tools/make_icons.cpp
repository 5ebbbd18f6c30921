// Draws the icons of the Codiflux window as PNG files (RGBA):
//   icon.png 274 x 274 (window icon, a stylised 2D code),
//   open, stop, bookmark, refresh, favorite, save-as: 32 x 32;
//   hicolor/NxN/apps/codiflux.png: the application icon for the desktop, 16 to 256.
// Usage: codiflux_make_icons OUTPUT_FOLDER
// Runs without a display (offscreen platform).

#include <QColor>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QPolygonF>
#include <QRadialGradient>
#include <QTextStream>
#include <QtMath>

#include <cstdio>
#include <functional>

namespace {

QImage canvas(int size)
{
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    return image;
}

// A 2D code: an "L" finder on the left and bottom edges, a clock track on the
// top and right edges, and a fixed pattern of data modules inside.
void drawCodeIcon(QPainter& p, int size)
{
    const qreal s = size;
    QLinearGradient back(0, 0, s, s);
    back.setColorAt(0, QColor(0x2f, 0x80, 0xd8));
    back.setColorAt(1, QColor(0x15, 0x4a, 0x8c));
    p.setPen(Qt::NoPen);
    p.setBrush(back);
    p.drawRoundedRect(QRectF(s * 0.02, s * 0.02, s * 0.96, s * 0.96), s * 0.16, s * 0.16);

    const QRectF card(s * 0.13, s * 0.13, s * 0.74, s * 0.74);
    p.setBrush(Qt::white);
    p.drawRoundedRect(card, s * 0.05, s * 0.05);

    constexpr int n = 12;
    const qreal margin = card.width() * 0.09;
    const qreal cell = (card.width() - 2 * margin) / n;
    const QPointF origin = card.topLeft() + QPointF(margin, margin);
    // Interior pattern, one row per line, '#' dark (rows 1..10, columns 1..10).
    static const char* const data[] = {
        "#.##..#.#.", "..#.###..#", "##...#.##.", ".#.##..#.#", "#..#.##...",
        ".##..#..##", "#.#.#..#.#", "..##.##...", "##..#..##.", ".#.#..#.##",
    };
    auto dark = [&](int c, int r) {
        if (c == 0 || r == n - 1)
            return true;  // finder
        if (r == 0)
            return c % 2 == 0;  // clock, top
        if (c == n - 1)
            return (n - 1 - r) % 2 == 0;  // clock, right
        return data[r - 1][c - 1] == '#';
    };
    p.setBrush(QColor(0x10, 0x18, 0x28));
    for (int r = 0; r < n; ++r)
        for (int c = 0; c < n; ++c)
            if (dark(c, r))
                p.drawRect(QRectF(origin.x() + c * cell, origin.y() + r * cell, cell + 0.5, cell + 0.5));
}

void drawOpen(QPainter& p)
{
    // Folder: back flap with a tab, then the front leaf slanted open.
    QPainterPath back;
    back.moveTo(2.5, 8.5);
    back.lineTo(11.5, 8.5);
    back.lineTo(14, 11);
    back.lineTo(27.5, 11);
    back.lineTo(27.5, 26.5);
    back.lineTo(2.5, 26.5);
    back.closeSubpath();
    p.setPen(QPen(QColor(0x8a, 0x5a, 0x0a), 1.2));
    p.setBrush(QColor(0xe0, 0xa3, 0x2c));
    p.drawPath(back);

    p.setPen(QPen(QColor(0xc0, 0xc0, 0xc0), 1));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(6, 13, 18, 10));

    QPainterPath front;
    front.moveTo(2.5, 26.5);
    front.lineTo(7, 15.5);
    front.lineTo(30.5, 15.5);
    front.lineTo(27.5, 26.5);
    front.closeSubpath();
    QLinearGradient leaf(0, 15, 0, 27);
    leaf.setColorAt(0, QColor(0xff, 0xd2, 0x63));
    leaf.setColorAt(1, QColor(0xf0, 0xae, 0x2e));
    p.setPen(QPen(QColor(0x8a, 0x5a, 0x0a), 1.2));
    p.setBrush(leaf);
    p.drawPath(front);
}

void drawStop(QPainter& p)
{
    QRadialGradient disc(QPointF(12, 11), 18);
    disc.setColorAt(0, QColor(0xf2, 0x5a, 0x4a));
    disc.setColorAt(1, QColor(0xb0, 0x16, 0x10));
    p.setPen(QPen(QColor(0x7a, 0x0a, 0x06), 1.2));
    p.setBrush(disc);
    p.drawEllipse(QRectF(2.5, 2.5, 27, 27));
    QPen cross(Qt::white, 3.6, Qt::SolidLine, Qt::RoundCap);
    p.setPen(cross);
    p.drawLine(QPointF(11, 11), QPointF(21, 21));
    p.drawLine(QPointF(21, 11), QPointF(11, 21));
}

void drawBookmark(QPainter& p)
{
    QPainterPath ribbon;
    ribbon.moveTo(8.5, 2.5);
    ribbon.lineTo(23.5, 2.5);
    ribbon.lineTo(23.5, 29.5);
    ribbon.lineTo(16, 22.5);
    ribbon.lineTo(8.5, 29.5);
    ribbon.closeSubpath();
    QLinearGradient fill(8, 0, 24, 0);
    fill.setColorAt(0, QColor(0x3d, 0x8b, 0xe0));
    fill.setColorAt(1, QColor(0x1b, 0x58, 0xa8));
    p.setPen(QPen(QColor(0x0f, 0x35, 0x70), 1.2));
    p.setBrush(fill);
    p.drawPath(ribbon);
    p.setPen(QPen(QColor(255, 255, 255, 170), 1.4));
    p.drawLine(QPointF(11.5, 6), QPointF(20.5, 6));
}

// Two arrows chasing each other round a circle.
void drawRefresh(QPainter& p)
{
    const QPointF centre(16, 16);
    const qreal radius = 10.5;
    const QColor green(0x2e, 0x9a, 0x3c);
    const QRectF box(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(green, 3.4, Qt::SolidLine, Qt::FlatCap));
    // Qt angles: 1/16 degree, counter-clockwise from 3 o'clock.
    p.drawArc(box, 110 * 16, 130 * 16);
    p.drawArc(box, 290 * 16, 130 * 16);

    auto head = [&](qreal degrees) {
        // Arrow head at the clockwise end of an arc, pointing clockwise.
        const qreal a = qDegreesToRadians(degrees);
        const QPointF tip = centre + QPointF(radius * qCos(a), -radius * qSin(a));
        const QPointF tangent(qSin(a), qCos(a));  // clockwise direction
        const QPointF normal(qCos(a), -qSin(a));
        QPolygonF arrow;
        arrow << tip + tangent * 5.5 << tip + normal * 5.5 << tip - normal * 5.5;
        p.setPen(Qt::NoPen);
        p.setBrush(green);
        p.drawPolygon(arrow);
    };
    head(110);
    head(290);
}

void drawFavorite(QPainter& p)
{
    QPolygonF star;
    const QPointF centre(16, 17);
    for (int i = 0; i < 10; ++i) {
        const qreal radius = (i % 2 == 0) ? 14.5 : 6.2;
        const qreal a = qDegreesToRadians(90.0 + i * 36.0);
        star << centre + QPointF(radius * qCos(a), -radius * qSin(a));
    }
    QLinearGradient fill(0, 3, 0, 30);
    fill.setColorAt(0, QColor(0xff, 0xe0, 0x50));
    fill.setColorAt(1, QColor(0xf2, 0xa6, 0x10));
    p.setPen(QPen(QColor(0x9a, 0x62, 0x00), 1.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(fill);
    p.drawPolygon(star);
}

void drawSaveAs(QPainter& p)
{
    // Floppy disk: body with a cut corner, shutter at the top, label below.
    QPainterPath body;
    body.moveTo(3.5, 3.5);
    body.lineTo(24.5, 3.5);
    body.lineTo(28.5, 7.5);
    body.lineTo(28.5, 28.5);
    body.lineTo(3.5, 28.5);
    body.closeSubpath();
    QLinearGradient fill(0, 3, 0, 29);
    fill.setColorAt(0, QColor(0x3a, 0x5f, 0x9a));
    fill.setColorAt(1, QColor(0x1f, 0x38, 0x66));
    p.setPen(QPen(QColor(0x10, 0x20, 0x40), 1.2));
    p.setBrush(fill);
    p.drawPath(body);

    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xd8, 0xdd, 0xe4));
    p.drawRect(QRectF(8.5, 4, 14, 8.5));
    p.setBrush(QColor(0x1f, 0x38, 0x66));
    p.drawRect(QRectF(17.5, 5.5, 3, 5.5));

    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(7, 16.5, 18, 10.5), 1.5, 1.5);
    p.setPen(QPen(QColor(0x9a, 0xa6, 0xb8), 1));
    p.drawLine(QPointF(9.5, 20), QPointF(22.5, 20));
    p.drawLine(QPointF(9.5, 23.5), QPointF(22.5, 23.5));
}

bool save(const QDir& folder, const QString& name, int size, const std::function<void(QPainter&)>& draw)
{
    QImage image = canvas(size);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        draw(painter);
    }
    const QString path = folder.filePath(name + QStringLiteral(".png"));
    if (!image.save(path, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: codiflux_make_icons OUTPUT_FOLDER\n");
        return 2;
    }
    QDir folder(QString::fromLocal8Bit(argv[1]));
    if (!folder.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return 1;
    }
    bool ok = save(folder, QStringLiteral("icon"), 274, [](QPainter& p) { drawCodeIcon(p, 274); });
    ok = save(folder, QStringLiteral("open"), 32, drawOpen) && ok;
    ok = save(folder, QStringLiteral("stop"), 32, drawStop) && ok;
    ok = save(folder, QStringLiteral("bookmark"), 32, drawBookmark) && ok;
    ok = save(folder, QStringLiteral("refresh"), 32, drawRefresh) && ok;
    ok = save(folder, QStringLiteral("favorite"), 32, drawFavorite) && ok;
    ok = save(folder, QStringLiteral("save-as"), 32, drawSaveAs) && ok;
    // The application's icon in the desktop's icon theme, at the usual sizes.
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString sub = QStringLiteral("hicolor/%1x%1/apps").arg(size);
        ok = folder.mkpath(sub)
            && save(QDir(folder.filePath(sub)), QStringLiteral("codiflux"), size,
                    [size](QPainter& p) { drawCodeIcon(p, size); })
            && ok;
    }
    return ok ? 0 : 1;
}
