// The Quadrex 2D-code font as the toolkit draws it: every glyph 'A'..'P'
// advances by one module in a cell four modules tall, module k (bit k, bit 0
// at the bottom) inked when bit k is clear, inked runs reaching 3/16 module
// past the cell to the right and downward, and lines that stack without gaps.

#include <QFont>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QtTest>

namespace {

// How far, in modules, the ink reaches into the next character and the next line.
constexpr double kOverlap = 3.0 / 16;

bool isInk(QRgb pixel)
{
    return qGray(pixel) < 64;
}

bool isPaper(QRgb pixel)
{
    return qGray(pixel) > 191;
}

// Counts the pixels of a rectangle that are not clearly ink (or paper).
int pixelsNot(const QImage& image, const QRect& rect, bool ink)
{
    int wrong = 0;
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        for (int x = rect.left(); x <= rect.right(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            if (ink ? !isInk(pixel) : !isPaper(pixel))
                ++wrong;
        }
    return wrong;
}

QImage paper(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::white);
    return image;
}

}  // namespace

class TestFont : public QObject {
    Q_OBJECT

private:
    int fontId = -1;
    int drawnId = -1;

    QFont quadrex(int module) const
    {
        QFont font(QStringLiteral("QuadrexAlt"));
        font.setPixelSize(4 * module);
        font.setHintingPreference(QFont::PreferNoHinting);
        font.setStyleStrategy(QFont::NoFontMerging);
        return font;
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(QFile::exists(QStringLiteral(CODIFLUX_FONT_FILE)), CODIFLUX_FONT_FILE);
        fontId = QFontDatabase::addApplicationFont(QStringLiteral(CODIFLUX_FONT_FILE));
        QVERIFY(fontId >= 0);
        QCOMPARE(QFontDatabase::applicationFontFamilies(fontId), QStringList{QStringLiteral("Quadrex")});
        // The glyphs are drawn from the same generator's copy under a family
        // name of its own, which no Quadrex installed on the machine shadows.
        drawnId = QFontDatabase::addApplicationFont(QStringLiteral(CODIFLUX_ALT_FONT_FILE));
        QVERIFY(drawnId >= 0);
    }

    void cleanupTestCase()
    {
        QFontDatabase::removeApplicationFont(fontId);
        QFontDatabase::removeApplicationFont(drawnId);
    }

    void metrics_data()
    {
        QTest::addColumn<int>("module");
        QTest::newRow("8 px") << 8;
        QTest::newRow("16 px") << 16;
        QTest::newRow("32 px") << 32;
    }

    void metrics()
    {
        QFETCH(int, module);
        const QFont font = quadrex(module);
        QCOMPARE(QFontInfo(font).family(), QStringLiteral("QuadrexAlt"));
        const QFontMetrics fm(font);
        QCOMPARE(fm.ascent() + fm.descent(), 4 * module);
        QCOMPARE(fm.leading(), 0);
        QCOMPARE(fm.lineSpacing(), 4 * module);
        const QFontMetricsF fmf(font);
        for (char c = 'A'; c <= 'P'; ++c) {
            QCOMPARE(fm.horizontalAdvance(QChar(c)), module);
            if (c == 'P')
                continue;  // all blank: no outline to measure
            QCOMPARE(fmf.leftBearing(QChar(c)), 0.0);
            // The toolkit rounds the ink's box out to whole pixels.
            QCOMPARE(fmf.rightBearing(QChar(c)), -std::ceil(kOverlap * module));
        }
        QCOMPARE(fm.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOP")), 16 * module);
        QCOMPARE(fm.horizontalAdvance(QChar(' ')), module);
    }

    void glyphs_data()
    {
        QTest::addColumn<int>("value");
        for (int v = 0; v < 16; ++v)
            QTest::newRow(qPrintable(QStringLiteral("%1 (%2)").arg(QChar('A' + v)).arg(v))) << v;
    }

    // Each module of the glyph is ink or paper by the contract; the ink of an
    // inked module reaches past the cell to the right, and that of the bottom
    // one below the line, by the overlap and no further.
    void glyphs()
    {
        QFETCH(int, value);
        const int module = 16;
        const int spill = int(std::ceil(kOverlap * module));
        const QFont font = quadrex(module);
        const QFontMetrics fm(font);
        // A blank column on each side and a blank band below show what spills over.
        QImage image = paper(3 * module, 5 * module);
        {
            QPainter painter(&image);
            painter.setFont(font);
            painter.setPen(Qt::black);
            painter.drawText(QPointF(module, fm.ascent()), QString(QChar('A' + value)));
        }
        for (int k = 0; k < 4; ++k) {
            const bool inked = ((value >> k) & 1) == 0;
            // Module k counted from the bottom of the line.
            const int top = (3 - k) * module;
            const QPoint centre(module + module / 2, top + module / 2);
            QVERIFY2(inked ? isInk(image.pixel(centre)) : isPaper(image.pixel(centre)),
                     qPrintable(QStringLiteral("module %1 centre").arg(k)));
            // A blank module under an inked one takes the spill at its top.
            QCOMPARE(pixelsNot(image, QRect(module, inked ? top : top + spill, module, inked ? module : module - spill),
                               inked),
                     0);
            const QPoint right(2 * module + 1, top + module / 2);
            QVERIFY2(inked ? isInk(image.pixel(right)) : isPaper(image.pixel(right)),
                     qPrintable(QStringLiteral("module %1 overlap").arg(k)));
        }
        const bool bottomInked = (value & 1) == 0;
        const QPoint below(module + module / 2, 4 * module + 1);
        QVERIFY(bottomInked ? isInk(image.pixel(below)) : isPaper(image.pixel(below)));
        QCOMPARE(pixelsNot(image, QRect(0, 0, module, 5 * module), false), 0);
        QCOMPARE(pixelsNot(image, QRect(2 * module + spill, 0, module - spill, 5 * module), false), 0);
        QCOMPARE(pixelsNot(image, QRect(module, 4 * module + spill, 2 * module, module - spill), false), 0);
    }

    void spaceIsBlank()
    {
        const int module = 16;
        const QFont font = quadrex(module);
        QImage image = paper(module, 4 * module);
        {
            QPainter painter(&image);
            painter.setFont(font);
            painter.setPen(Qt::black);
            painter.drawText(QPointF(0, QFontMetrics(font).ascent()), QStringLiteral(" "));
        }
        QCOMPARE(pixelsNot(image, image.rect(), false), 0);
    }

    // Characters side by side and lines one under the other draw a seamless
    // grid: "AP" over "PA" is a checkerboard of full 1 x 4 bars, each bar
    // reaching by the overlap into the blank cells right of and below it.
    void linesStack()
    {
        const int module = 16;
        const int spill = int(std::ceil(kOverlap * module));
        const QFont font = quadrex(module);
        QImage image = paper(2 * module, 8 * module + 8);
        {
            QPainter painter(&image);
            painter.setFont(font);
            painter.setPen(Qt::black);
            painter.drawText(QRect(0, 0, 2 * module, 8 * module + 8), Qt::AlignLeft | Qt::AlignTop,
                             QStringLiteral("AP\nPA"));
        }
        QCOMPARE(pixelsNot(image, QRect(0, 0, module, 4 * module), true), 0);
        QCOMPARE(pixelsNot(image, QRect(module + spill, 0, module - spill, 4 * module), false), 0);
        QCOMPARE(pixelsNot(image, QRect(0, 4 * module + spill, module, 4 * module - spill), false), 0);
        QCOMPARE(pixelsNot(image, QRect(module, 4 * module, module, 4 * module), true), 0);
        QCOMPARE(pixelsNot(image, QRect(0, 8 * module + spill, 2 * module, 8 - spill), false), 0);
    }

    // A band of the worked layout: a run of 'A' is one solid block, with no
    // seam between characters or lines.
    void solidBlock()
    {
        const int module = 8;
        const QFont font = quadrex(module);
        QImage image = paper(5 * module, 12 * module);
        {
            QPainter painter(&image);
            painter.setFont(font);
            painter.setPen(Qt::black);
            painter.drawText(image.rect(), Qt::AlignLeft | Qt::AlignTop, QStringLiteral("AAAAA\nAAAAA\nAAAAA"));
        }
        QCOMPARE(pixelsNot(image, image.rect(), true), 0);
    }
};

QTEST_MAIN(TestFont)
#include "test_font.moc"
