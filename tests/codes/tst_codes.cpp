// Parameter tables, encodings, the conversion into font text, its reading
// back through a real decoder, and the watchdog encoder thread.

#include "codes/dmtxencoder.h"
#include "codes/encoding.h"
#include "codes/fonttext.h"
#include "codes/verify.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QSemaphore>
#include <QTest>

#include <atomic>
#include <vector>

using namespace codiflux;

Q_DECLARE_METATYPE(codiflux::FontTextOptions)
Q_DECLARE_METATYPE(codiflux::EncodingParameters)

namespace {

FontTextOptions makeOptions(bool h, bool v, bool bits, bool pixels, bool eol = false, char eolChar = ' ')
{
    FontTextOptions o;
    o.horizontalInversion = h;
    o.verticalInversion = v;
    o.bitInversion = bits;
    o.pixelInversion = pixels;
    o.endOfLine = eol;
    o.endOfLineCharacter = eolChar;
    return o;
}

FontTextOptions inversionCombination(int mask, bool eol = false, char eolChar = ' ')
{
    return makeOptions(mask & 1, mask & 2, mask & 4, mask & 8, eol, eolChar);
}

QString describe(const FontTextOptions& o)
{
    return QStringLiteral("h%1 v%2 b%3 p%4 eol%5")
        .arg(int(o.horizontalInversion))
        .arg(int(o.verticalInversion))
        .arg(int(o.bitInversion))
        .arg(int(o.pixelInversion))
        .arg(int(o.endOfLine));
}

// Cells as text rows of 'd' (dark) and 'l' (light), kept as one byte per cell
// with 1 for dark.
struct TestGrid {
    std::vector<unsigned char> cells;
    int width = 0;
    int height = 0;
    ModuleGrid grid() const { return ModuleGrid::fromBuffer(cells.data(), width, height, width, 1, false); }
};

TestGrid gridFromRows(const QStringList& rows)
{
    TestGrid g;
    g.height = int(rows.size());
    g.width = rows.isEmpty() ? 0 : int(rows.first().size());
    for (const QString& row : rows)
        for (QChar ch : row)
            g.cells.push_back(ch == QLatin1Char('d') ? 1 : 0);
    return g;
}

TestGrid randomGrid(int width, int height, quint32 seed)
{
    QRandomGenerator random(seed);
    TestGrid g;
    g.width = width;
    g.height = height;
    g.cells.resize(std::size_t(width) * height);
    for (auto& c : g.cells)
        c = random.bounded(2);
    return g;
}

// The conversion written the plain way, one cell at a time through the
// grid's bounds-checked reader.
QByteArray referenceFieldText(const ModuleGrid& grid, int w, int h, const FontTextOptions& o, bool blank)
{
    QByteArray out;
    const int bands = (h + 3) / 4;
    for (int i = 0; i < bands; ++i) {
        for (int j = 0; j < w; ++j) {
            int v = 0;
            for (int k = 0; k < 4; ++k) {
                const int t = 4 * i + (o.bitInversion ? 3 - k : k);
                bool dark = false;
                if (t < h && !blank)
                    dark = grid.dark(o.horizontalInversion ? w - 1 - j : j, o.verticalInversion ? h - 1 - t : t);
                if (dark != o.pixelInversion)
                    v |= 1 << k;
            }
            out.append(char('A' + v));
        }
        if (o.endOfLine)
            out.append(o.endOfLineCharacter);
    }
    return out;
}

EncodingParameters datamatrixParameters(int scheme, int size, int module = 1, int margin = 0)
{
    EncodingParameters p;
    p.symbology = SymbologyDatamatrix;
    p.scheme = scheme;
    p.sizeRequest = size;
    p.moduleSize = module;
    p.marginSize = margin;
    return p;
}

EncodingParameters qrParameters(int mode, int level, int version = 0)
{
    EncodingParameters p;
    p.symbology = SymbologyQRCode;
    p.qrMode = mode;
    p.qrLevel = level;
    p.qrVersion = version;
    return p;
}

QByteArray allBytesFrom(int first, int last)
{
    QByteArray bytes;
    for (int b = first; b <= last; ++b)
        bytes.append(char(b));
    return bytes;
}

QByteArray repeated(const QByteArray& unit, int length)
{
    QByteArray out;
    while (out.size() < length)
        out.append(unit);
    out.truncate(length);
    return out;
}

// Every cell of the grid, compared with what rebuildSymbol made of the text.
bool sameCells(const ModuleGrid& grid, const SymbolImage& image)
{
    for (int r = 0; r < grid.height(); ++r)
        for (int c = 0; c < grid.width(); ++c)
            if (grid.dark(c, r) != image.dark(c, r))
                return false;
    return true;
}

// Encode, convert, rebuild from the text alone and decode, for all sixteen
// combinations of the four inversions (half of them with an end-of-line
// character). Returns an empty string on success, else what went wrong.
QString roundTrip(const EncodingParameters& p, const QByteArray& value, int* symbols = nullptr)
{
    const EncodedSymbol symbol = encodeSymbol(p, value);
    if (!symbol.isValid())
        return QStringLiteral("encoding failed");
    const ModuleGrid& grid = symbol.grid();
    const int w = grid.width();
    const int h = grid.height();
    std::vector<char> field(std::size_t(fieldLength(w, h, true)));
    for (int mask = 0; mask < 16; ++mask) {
        const FontTextOptions o = inversionCombination(mask, mask % 3 == 0, mask % 2 ? '\r' : 'A');
        const int length = fieldLength(w, h, o.endOfLine);
        toFontText(grid, w, h, o, false, field.data());
        FieldTextDecoder decoder(w, h, o, p.symbology);
        const std::optional<QByteArray> decoded = decoder.decode(field.data(), length);
        if (!sameCells(grid, decoder.image()))
            return QStringLiteral("rebuilt cells differ (%1)").arg(describe(o));
        if (!decoded)
            return QStringLiteral("not decoded (%1, %2x%3)").arg(describe(o)).arg(w).arg(h);
        if (*decoded != value)
            return QStringLiteral("decoded %1 instead of %2 (%3)")
                .arg(QString::fromLatin1(decoded->toHex()), QString::fromLatin1(value.toHex()), describe(o));
        // zxing-cpp reads every symbol but libdmtx's 144x144 Datamatrix (see verify.h).
        const bool largest
            = p.symbology == SymbologyDatamatrix && (w - 2 * p.marginSize) / std::max(1, p.moduleSize) == 144;
        if (decoder.reader() != (largest ? SymbolReader::Libdmtx : SymbolReader::Zxing))
            return QStringLiteral("read by the wrong decoder (%1)").arg(describe(o));
        if (symbols)
            ++*symbols;
    }
    return {};
}

}  // namespace

class TestCodes : public QObject {
    Q_OBJECT

private slots:
    // Parameter tables
    void choiceLists();
    void emptyComboValueZero();

    // Conversion
    void workedExample_data();
    void workedExample();
    void bandsAndFieldLength_data();
    void bandsAndFieldLength();
    void fillerRows_data();
    void fillerRows();
    void endOfLine();
    void endOfLineCharacterFromText_data();
    void endOfLineCharacterFromText();
    void blankFlag();
    void cellsBeyondTheGrid();
    void callerBufferExactlyFilled();

    // Library grids
    void datamatrixGridMatchesLibraryPixels_data();
    void datamatrixGridMatchesLibraryPixels();
    void qrGridMatchesCodeBytes();

    // Failures
    void encodingFailures_data();
    void encodingFailures();
    void automaticSizes();

    // Reading back
    void rebuildRefusesBadText();
    void roundTripDatamatrix_data();
    void roundTripDatamatrix();
    void roundTripModulesAndMargins_data();
    void roundTripModulesAndMargins();
    void roundTripQr_data();
    void roundTripQr();

    // Watchdog thread
    void watchdogReturnsLibraryResult();
    void watchdogTimeOut();
    void watchdogDefaultTimeOut();
};

void TestCodes::choiceLists()
{
    const auto texts = [](std::span<const Choice> list) {
        QStringList out;
        for (const Choice& c : list)
            out << QString::fromUtf8(c.text);
        return out;
    };
    const auto values = [](std::span<const Choice> list) {
        QList<int> out;
        for (const Choice& c : list)
            out << c.value;
        return out;
    };

    QCOMPARE(texts(datamatrixSizeChoices()),
             QStringList({"8x18",
                          "8x32",
                          "10x10",
                          "12x12",
                          "12x26",
                          "12x36",
                          "14x14",
                          "16x16",
                          "16x36",
                          "16x48",
                          "18x18",
                          "20x20",
                          "22x22",
                          "24x24",
                          "26x26",
                          "32x32",
                          "36x36",
                          "40x40",
                          "44x44",
                          "48x48",
                          "52x52",
                          "64x64",
                          "72x72",
                          "80x80",
                          "88x88",
                          "96x96",
                          "104x104",
                          "120x120",
                          "132x132",
                          "144x144",
                          QString::fromUtf8("Automatique (carr\xC3\xA9)"),
                          "Automatique (rect.)"}));
    QCOMPARE(values(datamatrixSizeChoices()),
             QList<int>({24, 25, 0,  1,  26, 27, 2,  3,  28, 29, 4,  5,  6,  7,  8,  9,
                         10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, -2, -3}));
    // Each fixed entry names the symbol the library makes for its value.
    for (const Choice& c : datamatrixSizeChoices()) {
        if (c.value < 0)
            continue;
        const int rows = dmtxGetSymbolAttribute(DmtxSymAttribSymbolRows, c.value);
        const int cols = dmtxGetSymbolAttribute(DmtxSymAttribSymbolCols, c.value);
        QCOMPARE(QString::fromLatin1(c.text), QStringLiteral("%1x%2").arg(rows).arg(cols));
    }

    QCOMPARE(texts(datamatrixSchemeChoices()),
             QStringList({"Ascii", "C40", "Text", "X12", "Edifact", "Base256", "AutoBest"}));
    QCOMPARE(values(datamatrixSchemeChoices()), QList<int>({0, 1, 2, 3, 4, 5, -1}));
    QCOMPARE(values(datamatrixSchemeChoices()),
             QList<int>({DmtxSchemeAscii, DmtxSchemeC40, DmtxSchemeText, DmtxSchemeX12, DmtxSchemeEdifact,
                         DmtxSchemeBase256, DmtxSchemeAutoBest}));

    QCOMPARE(texts(qrModeChoices()), QStringList({"Numeric", "Alphabet-numeric", "8-bit data", "Kanji (shift-jis)"}));
    QCOMPARE(values(qrModeChoices()), QList<int>({QR_MODE_NUM, QR_MODE_AN, QR_MODE_8, QR_MODE_KANJI}));
    QCOMPARE(values(qrModeChoices()), QList<int>({0, 1, 2, 3}));

    QCOMPARE(texts(qrLevelChoices()), QStringList({"Low", "Medium", "Quality", "High"}));
    QCOMPARE(values(qrLevelChoices()), QList<int>({QR_ECLEVEL_L, QR_ECLEVEL_M, QR_ECLEVEL_Q, QR_ECLEVEL_H}));
    QCOMPARE(values(qrLevelChoices()), QList<int>({0, 1, 2, 3}));

    QCOMPARE(texts(qrCaseChoices()), QStringList({"Sensible", "Insensible"}));
    QCOMPARE(values(qrCaseChoices()), QList<int>({1, 0}));

    // The defaults of a fresh parameter record are entries of the lists.
    const EncodingParameters defaults;
    QCOMPARE(defaults.sizeRequest, 27);
    QCOMPARE(defaults.scheme, -1);
}

void TestCodes::emptyComboValueZero()
{
    // A combo box without a current entry yields 0, which each list carries.
    const auto textOfZero = [](std::span<const Choice> list) -> QString {
        for (const Choice& c : list)
            if (c.value == 0)
                return QString::fromUtf8(c.text);
        return {};
    };
    QCOMPARE(textOfZero(datamatrixSizeChoices()), QStringLiteral("10x10"));
    QCOMPARE(textOfZero(datamatrixSchemeChoices()), QStringLiteral("Ascii"));
    QCOMPARE(textOfZero(qrLevelChoices()), QStringLiteral("Low"));
    QCOMPARE(textOfZero(qrModeChoices()), QStringLiteral("Numeric"));
    QCOMPARE(textOfZero(qrCaseChoices()), QStringLiteral("Insensible"));

    // And the encodings with every value 0 behave as those entries: a 10x10
    // Ascii Datamatrix, a Low Numeric QR code.
    EncodingParameters zero;
    zero.sizeRequest = 0;
    zero.scheme = 0;
    zero.qrLevel = 0;
    zero.qrMode = 0;
    zero.qrCaseSensitive = 0;
    const EncodedSymbol dm = encodeSymbol(zero, QByteArray("123456"));
    QVERIFY(dm.isValid());
    QCOMPARE(dm.grid().width(), 10);
    QCOMPARE(dm.grid().height(), 10);
    QVERIFY(!encodeSymbol(zero, QByteArray("1234567")).isValid());  // 10x10 holds 3 data codewords

    zero.symbology = SymbologyQRCode;
    QVERIFY(!encodeSymbol(zero, QByteArray("12AB")).isValid());
    const EncodedSymbol qr = encodeSymbol(zero, QByteArray("0123456789"));
    QVERIFY(qr.isValid());
    QCOMPARE(qr.grid().width(), 21);
}

void TestCodes::workedExample_data()
{
    QTest::addColumn<FontTextOptions>("options");
    QTest::addColumn<bool>("blank");
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<QString>("preview");

    QTest::newRow("none") << makeOptions(false, false, false, false) << false << QByteArray("FGBA") << "FG\nBA";
    QTest::newRow("pixel inversion") << makeOptions(false, false, false, true) << false << QByteArray("KJOP")
                                     << "KJ\nOP";
    QTest::newRow("bit inversion") << makeOptions(false, false, true, false) << false << QByteArray("KGIA") << "KG\nIA";
    QTest::newRow("horizontal inversion")
        << makeOptions(true, false, false, false) << false << QByteArray("GFAB") << "GF\nAB";
    QTest::newRow("vertical inversion") << makeOptions(false, true, false, false) << false << QByteArray("FMBA")
                                        << "FM\nBA";
    QTest::newRow("end-of-line /") << makeOptions(false, false, false, false, true, '/') << false
                                   << QByteArray("FG/BA/") << "FG\nBA";
    QTest::newRow("defaults") << makeOptions(false, false, true, true, true, endOfLineCharacter(QString())) << false
                              << QByteArray("FJ HP ") << "FJ\nHP";
    QTest::newRow("blank") << makeOptions(false, false, false, false) << true << QByteArray("AAAA") << "AA\nAA";
    QTest::newRow("blank, pixel inversion")
        << makeOptions(false, false, false, true) << true << QByteArray("PPPP") << "PP\nPP";
}

void TestCodes::workedExample()
{
    QFETCH(FontTextOptions, options);
    QFETCH(bool, blank);
    QFETCH(QByteArray, field);
    QFETCH(QString, preview);

    const TestGrid g = gridFromRows({"dl", "ld", "dd", "ll", "dl"});
    const FontText text = toFontText(g.grid(), 2, 5, options, blank);
    QCOMPARE(text.field, field);
    QCOMPARE(text.preview, preview);
    QCOMPARE(text.field.size(), qsizetype(fieldLength(2, 5, options.endOfLine)));

    // The same grid seen through a Datamatrix-like buffer (three bytes per
    // cell, dark when 0, rows stored bottom-up) gives the same text.
    std::vector<unsigned char> pixels(2 * 5 * 3, 255);
    for (int r = 0; r < 5; ++r)
        for (int c = 0; c < 2; ++c)
            if (g.cells[r * 2 + c])
                pixels[((4 - r) * 2 + c) * 3] = 0;
    const ModuleGrid upsideDown = ModuleGrid::fromBuffer(pixels.data() + 4 * 2 * 3, 2, 5, -2 * 3, 3, true);
    QCOMPARE(toFontText(upsideDown, 2, 5, options, blank).field, field);
}

void TestCodes::bandsAndFieldLength_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("bands");
    QTest::addColumn<int>("plain");
    QTest::addColumn<int>("withEndOfLine");

    QTest::newRow("2x5") << 2 << 5 << 2 << 4 << 6;
    QTest::newRow("10x10") << 10 << 10 << 3 << 30 << 33;
    QTest::newRow("18x8") << 18 << 8 << 2 << 36 << 38;
    QTest::newRow("1x1") << 1 << 1 << 1 << 1 << 2;
    QTest::newRow("7x3") << 7 << 3 << 1 << 7 << 8;
    QTest::newRow("4x4") << 4 << 4 << 1 << 4 << 5;
    QTest::newRow("144x144") << 144 << 144 << 36 << 5184 << 5220;
    QTest::newRow("empty") << 0 << 0 << 0 << 0 << 0;
}

void TestCodes::bandsAndFieldLength()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, bands);
    QFETCH(int, plain);
    QFETCH(int, withEndOfLine);
    QCOMPARE(bandCount(height), bands);
    QCOMPARE(fieldLength(width, height, false), plain);
    QCOMPARE(fieldLength(width, height, true), withEndOfLine);
}

void TestCodes::fillerRows_data()
{
    QTest::addColumn<int>("height");
    for (int h : {1, 2, 3, 4, 5, 6, 7, 8, 12, 16, 21})
        QTest::newRow(qPrintable(QStringLiteral("H=%1").arg(h))) << h;
}

void TestCodes::fillerRows()
{
    QFETCH(int, height);
    const int width = 5;
    const TestGrid g = randomGrid(width, height, quint32(height) * 7919u);
    const int bands = bandCount(height);
    const int fillers = bands * 4 - height;
    QCOMPARE(fillers, height % 4 == 0 ? 0 : 4 - height % 4);

    for (int mask = 0; mask < 16; ++mask) {
        const FontTextOptions o = inversionCombination(mask);
        const FontText text = toFontText(g.grid(), width, height, o, false);
        QCOMPARE(text.field, referenceFieldText(g.grid(), width, height, o, false));
        // Filler rows lie in the last band, below the last grid row in output
        // order: the top bits of each character (or the low ones with bit
        // inversion), light whatever the other options.
        int fillerBits = 0;
        for (int f = 0; f < fillers; ++f)
            fillerBits |= 1 << (o.bitInversion ? f : 3 - f);
        for (int j = 0; j < width; ++j) {
            const int v = text.field.at((bands - 1) * width + j) - 'A';
            QVERIFY2(v >= 0 && v < 16, qPrintable(describe(o)));
            QCOMPARE(v & fillerBits, o.pixelInversion ? fillerBits : 0);
        }
        // Every other character of the field depends on the grid only.
        QCOMPARE(text.preview.count(QLatin1Char('\n')), bands - 1);
        QVERIFY(!text.preview.endsWith(QLatin1Char('\n')));
    }

    if (height <= 3) {
        // A single band carrying one to three grid rows, for instance the
        // first character without inversions is the column read top down.
        const FontText text = toFontText(g.grid(), width, height, FontTextOptions(), false);
        QCOMPARE(text.field.size(), qsizetype(width));
        for (int j = 0; j < width; ++j) {
            int v = 0;
            for (int r = 0; r < height; ++r)
                v |= g.cells[r * width + j] << r;
            QCOMPARE(int(text.field.at(j)), 'A' + v);
        }
    }
}

void TestCodes::endOfLine()
{
    const TestGrid g = randomGrid(6, 10, 42);
    const FontText plain = toFontText(g.grid(), 6, 10, makeOptions(false, false, true, true), false);
    const FontText ended = toFontText(g.grid(), 6, 10, makeOptions(false, false, true, true, true, '#'), false);
    // The field grows by B, the end-of-line character follows every band,
    // the last one included, and the preview is unchanged.
    QCOMPARE(ended.field.size(), plain.field.size() + bandCount(10));
    QCOMPARE(ended.field, plain.field.mid(0, 6) + '#' + plain.field.mid(6, 6) + '#' + plain.field.mid(12, 6) + '#');
    QCOMPARE(ended.preview, plain.preview);
    QVERIFY(!ended.preview.contains(QLatin1Char('#')));
    QCOMPARE(ended.preview,
             QString::fromLatin1(plain.field.mid(0, 6) + '\n' + plain.field.mid(6, 6) + '\n' + plain.field.mid(12, 6)));

    // An end-of-line character that is itself a code letter or a line feed
    // stays out of the preview too.
    for (char ch : {'A', '\n', 'P'}) {
        const FontText t = toFontText(g.grid(), 6, 10, makeOptions(false, false, true, true, true, ch), false);
        QCOMPARE(t.preview, plain.preview);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(t.field.at(i * 7 + 6), ch);
    }
}

void TestCodes::endOfLineCharacterFromText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<char>("expected");
    QTest::newRow("empty") << QString() << ' ';
    QTest::newRow("one") << QStringLiteral("/") << '/';
    QTest::newRow("several") << QStringLiteral("|;x") << '|';
    QTest::newRow("latin-1") << QString::fromUtf8("\xC2\xA7-") << char(0xA7);
    QTest::newRow("space") << QStringLiteral(" ") << ' ';
}

void TestCodes::endOfLineCharacterFromText()
{
    QFETCH(QString, text);
    QFETCH(char, expected);
    QCOMPARE(endOfLineCharacter(text), expected);
}

void TestCodes::blankFlag()
{
    const TestGrid g = randomGrid(7, 9, 3);
    for (int mask = 0; mask < 16; ++mask) {
        const FontTextOptions o = inversionCombination(mask, true, ';');
        const FontText text = toFontText(g.grid(), 7, 9, o, true);
        const QByteArray band = QByteArray(7, o.pixelInversion ? 'P' : 'A') + ';';
        QCOMPARE(text.field, band + band + band);
    }
    // The blank flag needs no grid at all, only its dimensions.
    QCOMPARE(toFontText(ModuleGrid(), 3, 4, makeOptions(false, false, true, true, true, ' '), true).field,
             QByteArray("PPP "));
}

void TestCodes::cellsBeyondTheGrid()
{
    // A record whose symbol is smaller than the sample's: converted on the
    // sample's W x H, the missing cells are light.
    const TestGrid small = randomGrid(4, 6, 11);
    TestGrid padded;
    padded.width = 9;
    padded.height = 11;
    padded.cells.assign(9 * 11, 0);
    for (int r = 0; r < 6; ++r)
        for (int c = 0; c < 4; ++c)
            padded.cells[r * 9 + c] = small.cells[r * 4 + c];
    for (int mask = 0; mask < 16; ++mask) {
        const FontTextOptions o = inversionCombination(mask, mask & 1, '/');
        QCOMPARE(toFontText(small.grid(), 9, 11, o, false).field, toFontText(padded.grid(), 9, 11, o, false).field);
    }
    // A null grid reads as light everywhere.
    QCOMPARE(toFontText(ModuleGrid(), 2, 2, FontTextOptions(), false).field, QByteArray("AA"));
}

void TestCodes::callerBufferExactlyFilled()
{
    const TestGrid g = randomGrid(5, 7, 5);
    const FontTextOptions o = makeOptions(true, true, true, true, true, '!');
    const int length = fieldLength(5, 7, true);
    std::vector<char> buffer(std::size_t(length) + 16, '\x7f');
    toFontText(g.grid(), 5, 7, o, false, buffer.data() + 8);
    for (int i = 0; i < 8; ++i) {
        QCOMPARE(buffer[std::size_t(i)], '\x7f');
        QCOMPARE(buffer[std::size_t(length + 8 + i)], '\x7f');
    }
    QCOMPARE(QByteArray(buffer.data() + 8, length), referenceFieldText(g.grid(), 5, 7, o, false));
}

void TestCodes::datamatrixGridMatchesLibraryPixels_data()
{
    QTest::addColumn<int>("scheme");
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("module");
    QTest::addColumn<int>("margin");
    for (const Choice& scheme : datamatrixSchemeChoices())
        for (int size : {int(DmtxSymbolSquareAuto), int(DmtxSymbolRectAuto), int(DmtxSymbol24x24)})
            for (int module : {1, 2, 3})
                for (int margin : {0, 1, 5})
                    QTest::newRow(qPrintable(QStringLiteral("%1 size%2 m%3 g%4")
                                                 .arg(QLatin1String(scheme.text))
                                                 .arg(size)
                                                 .arg(module)
                                                 .arg(margin)))
                        << scheme.value << size << module << margin;
}

void TestCodes::datamatrixGridMatchesLibraryPixels()
{
    QFETCH(int, scheme);
    QFETCH(int, size);
    QFETCH(int, module);
    QFETCH(int, margin);
    const EncodedSymbol symbol = encodeSymbol(datamatrixParameters(scheme, size, module, margin), QByteArray("ABC123"));
    QVERIFY(symbol.isValid());
    const ModuleGrid& grid = symbol.grid();

    // The library's own reading of its image, pixel by pixel.
    DmtxEncodePtr encoder = createDatamatrixEncoder(datamatrixParameters(scheme, size, module, margin));
    QByteArray value("ABC123");
    QVERIFY(dmtxEncodeDataMatrix(encoder.get(), int(value.size()), reinterpret_cast<unsigned char*>(value.data()))
            != 0);
    DmtxImage* image = encoder->image;
    const int w = dmtxImageGetProp(image, DmtxPropWidth);
    const int h = dmtxImageGetProp(image, DmtxPropHeight);
    QCOMPARE(grid.width(), w);
    QCOMPARE(grid.height(), h);
    QCOMPARE(dmtxImageGetProp(image, DmtxPropImageFlip), int(DmtxFlipNone));

    int dark = 0;
    for (int r = 0; r < h; ++r)
        for (int c = 0; c < w; ++c) {
            int v = -1;
            QVERIFY(dmtxImageGetPixelValue(image, c, h - 1 - r, 0, &v) == DmtxPass);
            QCOMPARE(grid.dark(c, r), v == 0);
            dark += v == 0;
        }
    QVERIFY(dark > 0);
    // The margin is light on every side.
    for (int m = 0; m < margin; ++m)
        for (int i = 0; i < w; ++i) {
            QVERIFY(!grid.dark(i, m));
            QVERIFY(!grid.dark(i, h - 1 - m));
        }
    // The finder pattern: the left column and the bottom row of the symbol
    // (inside the margin) are dark.
    for (int r = margin; r < h - margin; ++r)
        QVERIFY(grid.dark(margin, r));
    for (int c = margin; c < w - margin; ++c)
        QVERIFY(grid.dark(c, h - 1 - margin));
    // Pixel grain: the symbol's modules times the module size plus the margins.
    QCOMPARE((w - 2 * margin) % module, 0);
    QCOMPARE((h - 2 * margin) % module, 0);

    // Were the image stored top row first, the grid would follow the library.
    QVERIFY(dmtxImageSetProp(image, DmtxPropImageFlip, DmtxFlipY) == DmtxPass);
    const ModuleGrid flipped = ModuleGrid::fromDatamatrix(encoder.get());
    QVERIFY(!flipped.isNull());
    for (int r = 0; r < h; ++r)
        for (int c = 0; c < w; ++c) {
            int v = -1;
            QVERIFY(dmtxImageGetPixelValue(image, c, h - 1 - r, 0, &v) == DmtxPass);
            QCOMPARE(flipped.dark(c, r), v == 0);
        }
}

void TestCodes::qrGridMatchesCodeBytes()
{
    for (int level = 0; level < 4; ++level) {
        const EncodedSymbol symbol = encodeSymbol(qrParameters(QR_MODE_8, level), QByteArray("Codiflux \xE9t\xE9"));
        QVERIFY(symbol.isValid());
        QRinputPtr input = createQrInput(qrParameters(QR_MODE_8, level));
        const QByteArray value("Codiflux \xE9t\xE9");
        QCOMPARE(QRinput_append(input.get(), QR_MODE_8, int(value.size()),
                                reinterpret_cast<const unsigned char*>(value.constData())),
                 0);
        QRcodePtr code(QRcode_encodeInput(input.get()));
        QVERIFY(code);
        const ModuleGrid& grid = symbol.grid();
        QCOMPARE(grid.width(), code->width);
        QCOMPARE(grid.height(), code->width);
        for (int r = 0; r < code->width; ++r)
            for (int c = 0; c < code->width; ++c)
                QCOMPARE(grid.dark(c, r), (code->data[r * code->width + c] & 1) != 0);
        // The top-left finder pattern: a dark 7x7 frame.
        for (int i = 0; i < 7; ++i) {
            QVERIFY(grid.dark(i, 0));
            QVERIFY(grid.dark(0, i));
            QVERIFY(grid.dark(i, 6));
            QVERIFY(grid.dark(6, i));
        }
        QVERIFY(!grid.dark(1, 1));
    }
}

void TestCodes::encodingFailures_data()
{
    QTest::addColumn<EncodingParameters>("parameters");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<bool>("succeeds");

    const QByteArray text("CODIFLUX-2024-000123");
    QTest::newRow("10x10 too small") << datamatrixParameters(DmtxSchemeAutoBest, DmtxSymbol10x10) << text << false;
    QTest::newRow("8x18 too small") << datamatrixParameters(DmtxSchemeAscii, DmtxSymbol8x18) << text << false;
    QTest::newRow("12x36 too small") << datamatrixParameters(DmtxSchemeAutoBest, DmtxSymbol12x36) << repeated("x1", 40)
                                     << false;
    QTest::newRow("22x22 holds it") << datamatrixParameters(DmtxSchemeAutoBest, DmtxSymbol22x22) << text << true;
    QTest::newRow("Edifact lower case") << datamatrixParameters(DmtxSchemeEdifact, DmtxSymbolSquareAuto)
                                        << QByteArray("abc") << false;
    QTest::newRow("X12 lower case") << datamatrixParameters(DmtxSchemeX12, DmtxSymbolSquareAuto) << QByteArray("abcdef")
                                    << false;
    QTest::newRow("144x144 overflow") << datamatrixParameters(DmtxSchemeAscii, DmtxSymbolSquareAuto)
                                      << repeated("\xE9", 2000) << false;
    QTest::newRow("QR Numeric letters") << qrParameters(QR_MODE_NUM, QR_ECLEVEL_L) << QByteArray("12A45") << false;
    QTest::newRow("QR Numeric space") << qrParameters(QR_MODE_NUM, QR_ECLEVEL_L) << QByteArray("12 45") << false;
    QTest::newRow("QR Numeric digits") << qrParameters(QR_MODE_NUM, QR_ECLEVEL_L) << QByteArray("1234567890") << true;
    QTest::newRow("QR Alphanumeric lower case") << qrParameters(QR_MODE_AN, QR_ECLEVEL_L) << QByteArray("abc") << false;
    QTest::newRow("QR 8-bit anything") << qrParameters(QR_MODE_8, QR_ECLEVEL_H) << allBytesFrom(0, 255) << true;
    QTest::newRow("QR Kanji not Shift-JIS") << qrParameters(QR_MODE_KANJI, QR_ECLEVEL_L) << QByteArray("AB") << false;
    QTest::newRow("QR too long") << qrParameters(QR_MODE_8, QR_ECLEVEL_H) << repeated("z", 3000) << false;
    QTest::newRow("QR empty") << qrParameters(QR_MODE_8, QR_ECLEVEL_L) << QByteArray() << false;
    EncodingParameters badMode = qrParameters(QR_MODE_STRUCTURE, QR_ECLEVEL_L);
    QTest::newRow("QR mode outside the list") << badMode << QByteArray("123") << false;
}

void TestCodes::encodingFailures()
{
    QFETCH(EncodingParameters, parameters);
    QFETCH(QByteArray, value);
    QFETCH(bool, succeeds);
    const EncodedSymbol symbol = encodeSymbol(parameters, value);
    QCOMPARE(symbol.isValid(), succeeds);
    if (!succeeds) {
        QVERIFY(symbol.grid().isNull());
        QCOMPARE(symbol.grid().width(), 0);
    } else {
        QVERIFY(roundTrip(parameters, value).isEmpty());
    }
}

void TestCodes::automaticSizes()
{
    // The automatic entries pick the smallest symbol of their shape.
    const EncodedSymbol small = encodeSymbol(datamatrixParameters(DmtxSchemeAscii, DmtxSymbolSquareAuto), "12");
    QCOMPARE(small.grid().width(), 10);
    QCOMPARE(small.grid().height(), 10);
    const EncodedSymbol rect = encodeSymbol(datamatrixParameters(DmtxSchemeAscii, DmtxSymbolRectAuto), "12");
    QCOMPARE(rect.grid().width(), 18);
    QCOMPARE(rect.grid().height(), 8);
    const EncodedSymbol large
        = encodeSymbol(datamatrixParameters(DmtxSchemeAscii, DmtxSymbolSquareAuto), repeated("ABCDEFGHIJ", 500));
    QVERIFY(large.isValid());
    QVERIFY(large.grid().width() >= 88);
    QCOMPARE(large.grid().width(), large.grid().height());
    const EncodedSymbol longRect
        = encodeSymbol(datamatrixParameters(DmtxSchemeAscii, DmtxSymbolRectAuto), repeated("AB", 60));
    QVERIFY(!longRect.isValid());  // beyond the largest rectangle, 16x48
    QVERIFY(
        roundTrip(datamatrixParameters(DmtxSchemeAscii, DmtxSymbolSquareAuto), repeated("ABCDEFGHIJ", 500)).isEmpty());
}

void TestCodes::rebuildRefusesBadText()
{
    const TestGrid g = randomGrid(6, 6, 9);
    const FontTextOptions o = makeOptions(false, false, true, true, true, '/');
    QByteArray field = toFontText(g.grid(), 6, 6, o, false).field;
    SymbolImage image;
    QVERIFY(rebuildSymbol(field.constData(), field.size(), 6, 6, o, 2, 3, image));
    QCOMPARE(image.width, 30);
    QCOMPARE(image.height, 30);
    QCOMPARE(image.pixels.size(), std::size_t(900));
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 30; ++x) {
            const int c = x / 3 - 2;
            const int r = y / 3 - 2;
            const bool inside = c >= 0 && c < 6 && r >= 0 && r < 6;
            const bool dark = inside && g.grid().dark(c, r);
            QCOMPARE(image.pixels[std::size_t(y * 30 + x)], dark ? 0 : 255);
        }
    for (int r = 0; r < 6; ++r)
        for (int c = 0; c < 6; ++c)
            QCOMPARE(image.dark(c, r), g.grid().dark(c, r));

    QVERIFY(!rebuildSymbol(field.constData(), field.size() - 1, 6, 6, o, 2, 1, image));
    QByteArray wrongEnd = field;
    wrongEnd[6] = '|';
    QVERIFY(!rebuildSymbol(wrongEnd.constData(), wrongEnd.size(), 6, 6, o, 2, 1, image));
    QByteArray wrongLetter = field;
    wrongLetter[2] = 'Q';
    QVERIFY(!rebuildSymbol(wrongLetter.constData(), wrongLetter.size(), 6, 6, o, 2, 1, image));
    wrongLetter[2] = '@';
    QVERIFY(!rebuildSymbol(wrongLetter.constData(), wrongLetter.size(), 6, 6, o, 2, 1, image));
    QVERIFY(!decodeFieldText(wrongLetter, 6, 6, o, SymbologyDatamatrix));
    // Read with other options than those that made it, a real code does not
    // give its value back: the check is not fooled by a wrong reading.
    const QByteArray value("Codiflux 0123456789");
    for (int symbology : {int(SymbologyDatamatrix), int(SymbologyQRCode)}) {
        EncodingParameters p = symbology == SymbologyQRCode
            ? qrParameters(QR_MODE_8, QR_ECLEVEL_L)
            : datamatrixParameters(DmtxSchemeAutoBest, DmtxSymbolSquareAuto);
        const EncodedSymbol symbol = encodeSymbol(p, value);
        QVERIFY(symbol.isValid());
        const int w = symbol.grid().width();
        const int h = symbol.grid().height();
        const FontTextOptions made = makeOptions(false, false, true, true, true, ' ');
        const QByteArray text = toFontText(symbol.grid(), w, h, made, false).field;
        QCOMPARE(decodeFieldText(text, w, h, made, symbology), std::optional<QByteArray>(value));
        FontTextOptions other = made;
        other.pixelInversion = false;
        QVERIFY(decodeFieldText(text, w, h, other, symbology) != std::optional<QByteArray>(value));
        other = made;
        other.bitInversion = false;
        QVERIFY(decodeFieldText(text, w, h, other, symbology) != std::optional<QByteArray>(value));
        other = made;
        other.endOfLineCharacter = '/';
        QVERIFY(!decodeFieldText(text, w, h, other, symbology));
        QVERIFY(!decodeFieldText(text, w + 1, h, made, symbology));
    }

    // A blank code carries nothing.
    const QByteArray blank = toFontText(g.grid(), 6, 6, o, true).field;
    QVERIFY(!decodeFieldText(blank, 6, 6, o, SymbologyDatamatrix));
}

void TestCodes::roundTripDatamatrix_data()
{
    QTest::addColumn<int>("scheme");
    QTest::addColumn<int>("size");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<bool>("suitable");  // the scheme is able to carry the value

    struct Value {
        const char* name;
        QByteArray bytes;
        QList<int> schemes;  // schemes that must encode it (besides AutoBest, Ascii and Base256)
    };
    const QList<int> all{DmtxSchemeC40, DmtxSchemeText, DmtxSchemeX12, DmtxSchemeEdifact};
    const QList<Value> values{
        {"one digit", "7", {DmtxSchemeC40, DmtxSchemeText}},
        {"digits", "01234567890123456789", all},
        {"upper case", "CODIFLUX 2024 ABC", all},
        {"X12 set", "AB*12>CD 34*EF>", {DmtxSchemeC40, DmtxSchemeText, DmtxSchemeX12}},
        {"Edifact set", "A:B;C<D=E>F?G@H[I\\J]K^L", {DmtxSchemeEdifact}},
        {"lower case", "codiflux datamatrix", {DmtxSchemeC40, DmtxSchemeText}},
        {"punctuation", "Hello, World! (x=1; y=\"2\")", {DmtxSchemeC40, DmtxSchemeText}},
        {"latin-1", "\xC9t\xE9 \xE0 l'h\xF4tel \xA7 \xFF\x80\x81", {}},
        {"all bytes", allBytesFrom(1, 255), {}},
        {"zero byte", QByteArray("A\0B\0", 4), {}},
        {"long", repeated("0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ-", 600), {}},
    };
    for (const Value& v : values)
        for (const Choice& scheme : datamatrixSchemeChoices())
            for (int size : {int(DmtxSymbolSquareAuto), int(DmtxSymbolRectAuto)}) {
                const bool suitable = scheme.value == DmtxSchemeAutoBest || scheme.value == DmtxSchemeAscii
                    || scheme.value == DmtxSchemeBase256 || v.schemes.contains(scheme.value);
                QTest::newRow(qPrintable(QStringLiteral("%1, %2, %3")
                                             .arg(QLatin1String(v.name), QLatin1String(scheme.text))
                                             .arg(size == DmtxSymbolSquareAuto ? "square" : "rect")))
                    << scheme.value << size << v.bytes << suitable;
            }
}

void TestCodes::roundTripDatamatrix()
{
    QFETCH(int, scheme);
    QFETCH(int, size);
    QFETCH(QByteArray, value);
    QFETCH(bool, suitable);
    const EncodingParameters p = datamatrixParameters(scheme, size);
    const EncodedSymbol symbol = encodeSymbol(p, value);
    // Rectangles stop at 16x48; values beyond it may fail whatever the scheme.
    const bool fitsRectangle = value.size() <= 40;
    if (suitable && (size == DmtxSymbolSquareAuto || fitsRectangle))
        QVERIFY(symbol.isValid());
    if (!symbol.isValid()) {
        // A scheme that cannot carry the value (or a rectangle too small for
        // it) is an ordinary failed encoding, with nothing left behind.
        QVERIFY(!suitable || size == DmtxSymbolRectAuto);
        QVERIFY(symbol.grid().isNull());
        return;
    }
    const QString failure = roundTrip(p, value);
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
}

void TestCodes::roundTripModulesAndMargins_data()
{
    QTest::addColumn<EncodingParameters>("parameters");
    QTest::addColumn<QByteArray>("value");
    const QByteArray value("Codiflux \xE9\xE8 0123456789");
    for (int module : {1, 2, 3})
        for (int margin : {0, 1, 4}) {
            QTest::newRow(qPrintable(QStringLiteral("square module %1 margin %2").arg(module).arg(margin)))
                << datamatrixParameters(DmtxSchemeAutoBest, DmtxSymbolSquareAuto, module, margin) << value;
            QTest::newRow(qPrintable(QStringLiteral("16x48 module %1 margin %2").arg(module).arg(margin)))
                << datamatrixParameters(DmtxSchemeAscii, DmtxSymbol16x48, module, margin) << value;
        }
    QTest::newRow("fixed 144x144 module 2")
        << datamatrixParameters(DmtxSchemeAutoBest, DmtxSymbol144x144, 2, 2) << repeated("ABC", 900);
}

void TestCodes::roundTripModulesAndMargins()
{
    QFETCH(EncodingParameters, parameters);
    QFETCH(QByteArray, value);
    const EncodedSymbol symbol = encodeSymbol(parameters, value);
    QVERIFY(symbol.isValid());
    const QString failure = roundTrip(parameters, value);
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
}

void TestCodes::roundTripQr_data()
{
    QTest::addColumn<EncodingParameters>("parameters");
    QTest::addColumn<QByteArray>("value");

    struct Value {
        const char* name;
        int mode;
        QByteArray bytes;
    };
    const QList<Value> values{
        {"numeric short", QR_MODE_NUM, "7"},
        {"numeric", QR_MODE_NUM, "0123456789012345678901234567890"},
        {"numeric long", QR_MODE_NUM, repeated("31415926535897932384626433832795", 900)},
        {"alphanumeric", QR_MODE_AN, "CODIFLUX $%*+-./: 0123456789"},
        {"8-bit ascii", QR_MODE_8, "Codiflux, the 2D code maker"},
        {"8-bit latin-1", QR_MODE_8, "\xC9t\xE9 \xE0 l'h\xF4tel \xA7 \xFF\x80\x81"},
        {"8-bit all bytes", QR_MODE_8, allBytesFrom(0, 255)},
        {"8-bit long", QR_MODE_8, repeated("Abc\xE9-", 1000)},
        // Shift-JIS of a few kanji (nihon, kanji, 2D code)
        {"kanji", QR_MODE_KANJI, "\x93\xfa\x96\x7b\x8a\xbf\x8e\x9a\x83\x52\x81\x5b\x83\x68"},
        {"kanji one", QR_MODE_KANJI, "\x88\x9f"},
    };
    for (const Value& v : values)
        for (int level = 0; level < 4; ++level) {
            if (v.bytes.size() > 500 && level != 0)
                continue;  // the largest versions once are enough
            QTest::newRow(qPrintable(QStringLiteral("%1, level %2").arg(QLatin1String(v.name)).arg(level)))
                << qrParameters(v.mode, level) << v.bytes;
        }
    QTest::newRow("version 10 asked") << qrParameters(QR_MODE_8, QR_ECLEVEL_M, 10) << QByteArray("short");
    QTest::newRow("version 1 grows") << qrParameters(QR_MODE_8, QR_ECLEVEL_M, 1) << repeated("grow", 60);
}

void TestCodes::roundTripQr()
{
    QFETCH(EncodingParameters, parameters);
    QFETCH(QByteArray, value);
    const EncodedSymbol symbol = encodeSymbol(parameters, value);
    QVERIFY(symbol.isValid());
    if (parameters.qrVersion > 1)
        QCOMPARE(symbol.grid().width(), 17 + 4 * parameters.qrVersion);
    const QString failure = roundTrip(parameters, value);
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
}

void TestCodes::watchdogReturnsLibraryResult()
{
    DmtxEncoder::setEncodeFunction({});
    DmtxEncoder::setReleaseFunction({});

    // Success: the encoder comes back with its image.
    DmtxEncodePtr encoder = createDatamatrixEncoder(datamatrixParameters(DmtxSchemeAutoBest, DmtxSymbolSquareAuto));
    const QByteArray value("Codiflux watchdog");
    QVERIFY(runDmtxEncoder(encoder, value) != 0);
    QVERIFY(encoder);
    const EncodedSymbol symbol(std::move(encoder));
    QVERIFY(symbol.isValid());
    QCOMPARE(symbol.grid().width(),
             encodeSymbol(datamatrixParameters(DmtxSchemeAutoBest, DmtxSymbolSquareAuto), value).grid().width());

    // The library's failure, in time, is returned as such.
    DmtxEncodePtr tooSmall = createDatamatrixEncoder(datamatrixParameters(DmtxSchemeAscii, DmtxSymbol10x10));
    QCOMPARE(runDmtxEncoder(tooSmall, QByteArray("far too long for ten by ten")), 0);
    QVERIFY(tooSmall);

    // No thread object is left behind.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCOMPARE(DmtxEncoder::instances(), 0);
}

void TestCodes::watchdogTimeOut()
{
    // A fake library call that does not return until the test lets it.
    std::atomic<int> calls{0};
    std::atomic<int> released{0};
    std::atomic<bool> sawBytes{false};
    QSemaphore letGo;
    DmtxEncoder::setEncodeFunction([&](DmtxEncode* encoder, int length, unsigned char* bytes) {
        ++calls;
        letGo.tryAcquire(1, 20000);
        // The encoder and the bytes are still alive when the call returns.
        sawBytes = encoder != nullptr && length == 5 && QByteArray(reinterpret_cast<char*>(bytes), length) == "slow!";
        return 1;
    });
    DmtxEncoder::setReleaseFunction([&](const DmtxEncode*) { ++released; });

    DmtxEncodePtr encoder = createDatamatrixEncoder(EncodingParameters());
    {
        QByteArray value("slow!");
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(runDmtxEncoder(encoder, value, 300), 0);
        const qint64 elapsed = timer.elapsed();
        QVERIFY2(elapsed >= 290 && elapsed < 2000, qPrintable(QString::number(elapsed)));
        // The encoder went to the thread, and the caller may drop its bytes.
        QVERIFY(!encoder);
        value.fill('x');
    }
    // The call still runs: nothing released yet, the thread object alive.
    QCOMPARE(calls.load(), 1);
    QCOMPARE(released.load(), 0);
    QCOMPARE(DmtxEncoder::instances(), 1);

    // Once it ends, the thread releases the encoder there, then the thread
    // object goes.
    letGo.release();
    QTRY_COMPARE_WITH_TIMEOUT(released.load(), 1, 5000);
    QVERIFY(sawBytes.load());
    QTRY_COMPARE_WITH_TIMEOUT(DmtxEncoder::instances(), 0, 5000);

    // The next call works as usual, with a fresh encoder.
    DmtxEncoder::setEncodeFunction({});
    DmtxEncodePtr next = createDatamatrixEncoder(datamatrixParameters(DmtxSchemeAutoBest, DmtxSymbolSquareAuto));
    QVERIFY(runDmtxEncoder(next, QByteArray("next"), 300) != 0);
    QVERIFY(next);
    QVERIFY(EncodedSymbol(std::move(next)).isValid());
    QCOMPARE(released.load(), 1);  // the caller's encoder goes through its own handle
    QCOMPARE(DmtxEncoder::instances(), 0);
    DmtxEncoder::setReleaseFunction({});
}

void TestCodes::watchdogDefaultTimeOut()
{
    // The default limit of 3000 ms.
    std::atomic<int> released{0};
    QSemaphore letGo;
    DmtxEncoder::setEncodeFunction([&](DmtxEncode*, int, unsigned char*) {
        letGo.tryAcquire(1, 20000);
        return 1;
    });
    DmtxEncoder::setReleaseFunction([&](const DmtxEncode*) { ++released; });
    DmtxEncodePtr encoder = createDatamatrixEncoder(EncodingParameters());
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(runDmtxEncoder(encoder, QByteArray("12")), 0);
    const qint64 elapsed = timer.elapsed();
    QVERIFY2(elapsed >= 2990 && elapsed < 5000, qPrintable(QString::number(elapsed)));
    QVERIFY(!encoder);
    QCOMPARE(released.load(), 0);
    letGo.release();
    QTRY_COMPARE_WITH_TIMEOUT(released.load(), 1, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(DmtxEncoder::instances(), 0, 5000);
    DmtxEncoder::setEncodeFunction({});
    DmtxEncoder::setReleaseFunction({});
}

QTEST_GUILESS_MAIN(TestCodes)
#include "tst_codes.moc"
