// The encoding entry, the conversion into font text and its reading back
// through a real decoder, against the libraries' own output.

#include "codes/dmtxencoder.h"
#include "codes/encoding.h"
#include "codes/fonttext.h"
#include "codes/libraries.h"
#include "codes/verify.h"
#include "tools/dmtx_diff_core.h"

#include <QRandomGenerator>
#include <QSemaphore>
#include <QTest>

#include <atomic>
#include <vector>

using namespace codiflux;

Q_DECLARE_METATYPE(codiflux::FontTextOptions)
Q_DECLARE_METATYPE(codiflux::EncodingParameters)

namespace {

const QString kDatamatrixRefused = QString::fromUtf8(
    "Encodage impossible (vous pouvez essayer de changer la taille du datamatrix ou le mode d'encodage).");
const QString kQrRefused = QString::fromUtf8(
    "Encodage impossible (vous pouvez essayer de changer le mode d'encodage ou le niveau de correction d'erreur).");

// Bits 0..3: horizontal, vertical, bit and pixel inversion.
FontTextOptions options(int mask, bool eol = false, char eolChar = ' ')
{
    return {bool(mask & 1), bool(mask & 2), bool(mask & 4), bool(mask & 8), eol, eolChar};
}

// One byte per cell, 1 for dark, row by row.
ModuleGrid cellGrid(const std::vector<unsigned char>& cells, int width)
{
    return ModuleGrid::fromBuffer(cells.data(), width, int(cells.size()) / width, width, 1, false);
}

// The conversion written the plain way, one cell at a time.
QByteArray referenceText(const ModuleGrid& grid, int w, int h, const FontTextOptions& o, bool blank)
{
    QByteArray out;
    for (int i = 0; i < (h + 3) / 4; ++i) {
        for (int j = 0; j < w; ++j) {
            int v = 0;
            for (int k = 0; k < 4; ++k) {
                const int t = 4 * i + (o.bitInversion ? 3 - k : k);
                const bool dark = t < h && !blank
                    && grid.dark(o.horizontalInversion ? w - 1 - j : j, o.verticalInversion ? h - 1 - t : t);
                v |= int(dark != o.pixelInversion) << k;
            }
            out.append(char('A' + v));
        }
        if (o.endOfLine)
            out.append(o.endOfLineCharacter);
    }
    return out;
}

EncodingParameters dm(int scheme, int size, int module = 1, int margin = 0)
{
    return {.moduleSize = module, .marginSize = margin, .sizeRequest = size, .scheme = scheme};
}

EncodingParameters qr(int mode, int level, int version = 0)
{
    return {.symbology = Symbology::QRCode, .qrVersion = version, .qrLevel = level, .qrMode = mode};
}

}  // namespace

class TestCodes : public QObject {
    Q_OBJECT

private slots:
    // The values the lists hand to the libraries: a wrong one makes another symbol.
    void choiceValues()
    {
        for (const Choice& c : datamatrixSizeChoices().first(30)) {
            QCOMPARE(QString::fromLatin1(c.text),
                     QStringLiteral("%1x%2")
                         .arg(dmtxGetSymbolAttribute(DmtxSymAttribSymbolRows, c.value))
                         .arg(dmtxGetSymbolAttribute(DmtxSymAttribSymbolCols, c.value)));
        }
        const auto values = [](std::span<const Choice> list) {
            QList<int> out;
            for (const Choice& c : list)
                out << c.value;
            return out;
        };
        QCOMPARE(values(datamatrixSizeChoices()).mid(30), QList<int>({DmtxSymbolSquareAuto, DmtxSymbolRectAuto}));
        QCOMPARE(values(datamatrixSchemeChoices()),
                 QList<int>({DmtxSchemeAscii, DmtxSchemeC40, DmtxSchemeText, DmtxSchemeX12, DmtxSchemeEdifact,
                             DmtxSchemeBase256, DmtxSchemeAutoBest}));
        QCOMPARE(values(qrModeChoices()), QList<int>({QR_MODE_NUM, QR_MODE_AN, QR_MODE_8, QR_MODE_KANJI}));
        QCOMPARE(values(qrLevelChoices()), QList<int>({QR_ECLEVEL_L, QR_ECLEVEL_M, QR_ECLEVEL_Q, QR_ECLEVEL_H}));
    }

    // A 2 x 5 grid worked by hand: columns read top down, bit k = row 4i + k.
    void workedExample()
    {
        const std::vector<unsigned char> cells{1, 0, 0, 1, 1, 1, 0, 0, 1, 0};
        const ModuleGrid g = cellGrid(cells, 2);
        const struct {
            FontTextOptions o;
            bool blank;
            QByteArray field;
        } rows[] = {{options(0), false, "FGBA"},
                    {options(1), false, "GFAB"},
                    {options(2), false, "FMBA"},
                    {options(4), false, "KGIA"},
                    {options(8), false, "KJOP"},
                    {options(0, true, '/'), false, "FG/BA/"},
                    {options(12, true, endOfLineCharacter(QString())), false, "FJ HP "},
                    {options(8), true, "PPPP"}};
        for (const auto& row : rows) {
            const FontText text = toFontText(g, 2, 5, row.o, row.blank);
            QCOMPARE(text.field, row.field);
            // The preview: the bands on lines of their own, without end-of-line characters.
            QCOMPARE(text.preview,
                     QString::fromLatin1(row.field.left(2) + '\n' + row.field.mid(row.o.endOfLine ? 3 : 2, 2)));
        }
        QCOMPARE(endOfLineCharacter(QString::fromUtf8("\xC2\xA7-")), char(0xA7));
    }

    // Every height around a band boundary, every option, a symbol smaller
    // than the run's grid, and not one byte written outside the field.
    void conversionAgainstReference()
    {
        for (int h : {1, 2, 3, 4, 5, 8, 9, 21}) {
            QCOMPARE(bandCount(h), (h + 3) / 4);
            QRandomGenerator random{quint32(h)};
            std::vector<unsigned char> cells(std::size_t(5 * h));
            for (auto& c : cells)
                c = random.bounded(2);
            const ModuleGrid g = cellGrid(cells, 5);
            for (int mask = 0; mask < 16; ++mask) {
                const FontTextOptions o = options(mask, mask & 1, '/');
                const int length = fieldLength(7, h + 2, o.endOfLine);
                QCOMPARE(length, bandCount(h + 2) * (o.endOfLine ? 8 : 7));
                std::vector<char> buffer(std::size_t(length) + 2, '\x7f');
                toFontText(g, 7, h + 2, o, false, buffer.data() + 1);
                QCOMPARE(buffer.front(), '\x7f');
                QCOMPARE(buffer.back(), '\x7f');
                QCOMPARE(QByteArray(buffer.data() + 1, length), referenceText(g, 7, h + 2, o, false));
                QCOMPARE(toFontText(g, 5, h, o, true).field, referenceText(g, 5, h, o, true));
            }
        }
        QCOMPARE(bandCount(0), 0);
        QCOMPARE(fieldLength(0, 4, true), 0);
        QCOMPARE(toFontText(ModuleGrid(), 0, 4, FontTextOptions(), false).field, QByteArray());
    }

    // The grid reads the library's own cells, pixel for pixel.
    void gridMatchesLibrary_data()
    {
        QTest::addColumn<EncodingParameters>("p");
        QTest::newRow("square") << dm(DmtxSchemeAutoBest, DmtxSymbolSquareAuto);
        QTest::newRow("rectangle m2 g1") << dm(DmtxSchemeAscii, DmtxSymbolRectAuto, 2, 1);
        QTest::newRow("24x24 C40 m3 g5") << dm(DmtxSchemeC40, DmtxSymbol24x24, 3, 5);
        QTest::newRow("QR 8-bit High") << qr(QR_MODE_8, QR_ECLEVEL_H);
    }
    void gridMatchesLibrary()
    {
        QFETCH(EncodingParameters, p);
        EncodedSymbol symbol;
        const QByteArray value("ABC123");
        QVERIFY(!Encoder(p).encode(value.constData(), int(value.size()), symbol, DatamatrixEngine::Libdmtx));
        const ModuleGrid& grid = symbol.grid();
        // Our encoder, the default one, draws the library's grid.
        EncodedSymbol ours;
        QVERIFY(!Encoder(p).encode(value, ours));
        QCOMPARE(ours.grid().width(), grid.width());
        QCOMPARE(ours.grid().height(), grid.height());
        for (int r = 0; r < grid.height(); ++r)
            for (int c = 0; c < grid.width(); ++c)
                QCOMPARE(ours.grid().dark(c, r), grid.dark(c, r));
        if (const QRcode* code = SymbolAccess::qrCode(symbol)) {
            QCOMPARE(grid.height(), code->width);
            for (int i = 0; i < code->width * code->width; ++i)
                QCOMPARE(grid.dark(i % code->width, i / code->width), (code->data[i] & 1) != 0);
            return;
        }
        DmtxImage* image = SymbolAccess::datamatrix(symbol)->image;
        const int w = dmtxImageGetProp(image, DmtxPropWidth);
        const int h = dmtxImageGetProp(image, DmtxPropHeight);
        QCOMPARE(grid.width(), w);
        QCOMPARE(grid.height(), h);
        for (bool flipped : {false, true}) {
            // Were the image stored top row first, the grid would follow the library.
            dmtxImageSetProp(image, DmtxPropImageFlip, flipped ? DmtxFlipY : DmtxFlipNone);
            const ModuleGrid seen = datamatrixGrid(SymbolAccess::datamatrix(symbol));
            for (int r = 0; r < h; ++r)
                for (int c = 0; c < w; ++c) {
                    int v = -1;
                    QVERIFY(dmtxImageGetPixelValue(image, c, h - 1 - r, 0, &v) == DmtxPass);
                    QCOMPARE(seen.dark(c, r), v == 0);
                }
        }
        QVERIFY(!grid.dark(-1, 0) && !grid.dark(0, h) && !grid.dark(w, 0));
    }

    // Refusals give the symbology's text; the boundaries of what is accepted.
    void encodingRefusals()
    {
        const QByteArray text("CODIFLUX-2024-000123");
        const struct {
            EncodingParameters p;
            QByteArray value;
            bool accepted;
        } rows[] = {{dm(DmtxSchemeAutoBest, DmtxSymbol10x10), text, false},
                    {dm(DmtxSchemeAutoBest, DmtxSymbol22x22), text, true},
                    {dm(DmtxSchemeAscii, DmtxSymbol10x10), "123456", true},
                    {dm(DmtxSchemeAscii, DmtxSymbol10x10), "1234567", false},
                    {dm(DmtxSchemeEdifact, DmtxSymbolSquareAuto), "abc", false},
                    {qr(QR_MODE_NUM, QR_ECLEVEL_L), "12A45", false},
                    {qr(QR_MODE_NUM, QR_ECLEVEL_L), QByteArray("12\0AB", 5), true},  // QR stops at the NUL
                    {qr(QR_MODE_8, QR_ECLEVEL_L), "", false},
                    {qr(QR_MODE_KANJI, QR_ECLEVEL_L), "\x88\x9f", true},
                    {qr(QR_MODE_STRUCTURE, QR_ECLEVEL_L), "1", false},  // modes outside the list
                    {qr(QR_MODE_NUL, QR_ECLEVEL_L), "1", false}};
        for (const auto& row : rows) {
            EncodedSymbol symbol;
            const Error error = Encoder(row.p).encode(row.value, symbol);
            QCOMPARE(symbol.isValid(), row.accepted);
            QCOMPARE(error.code, row.accepted ? ErrorCode::None : ErrorCode::ValueRefused);
            const QString refused = row.p.symbology == Symbology::QRCode ? kQrRefused : kDatamatrixRefused;
            QCOMPARE(error.text, row.accepted ? QString() : refused);
        }
    }

    // Encode, convert, rebuild from the text alone and decode with zxing-cpp
    // (libdmtx for the 144x144 it refuses), under several option sets.
    void roundTrips_data()
    {
        QTest::addColumn<EncodingParameters>("p");
        QTest::addColumn<QByteArray>("value");
        QByteArray bytes;
        for (int b = 1; b < 256; ++b)
            bytes.append(char(b));
        QTest::newRow("DM AutoBest square") << dm(DmtxSchemeAutoBest, DmtxSymbolSquareAuto) << bytes;
        QTest::newRow("DM Ascii rect, NUL kept") << dm(DmtxSchemeAscii, DmtxSymbolRectAuto) << QByteArray("A\0B", 3);
        QTest::newRow("DM C40 16x48 m2 g1") << dm(DmtxSchemeC40, DmtxSymbol16x48, 2, 1) << QByteArray("CODIFLUX 24");
        QTest::newRow("DM Edifact m3 g4") << dm(DmtxSchemeEdifact, DmtxSymbolSquareAuto, 3, 4) << QByteArray("A:B;C<");
        QTest::newRow("DM 144x144") << dm(DmtxSchemeAutoBest, DmtxSymbol144x144) << QByteArray(1500, 'Z');
        QTest::newRow("QR Numeric L") << qr(QR_MODE_NUM, QR_ECLEVEL_L) << QByteArray("0123456789");
        QTest::newRow("QR Alphanumeric Q") << qr(QR_MODE_AN, QR_ECLEVEL_Q) << QByteArray("CODIFLUX $%*+-./:");
        QTest::newRow("QR 8-bit H version 10") << qr(QR_MODE_8, QR_ECLEVEL_H, 10) << QByteArray("\xC9t\xE9 \xFF");
        QTest::newRow("QR Kanji M") << qr(QR_MODE_KANJI, QR_ECLEVEL_M) << QByteArray("\x93\xfa\x96\x7b\x8a\xbf");
    }
    void roundTrips()
    {
        QFETCH(EncodingParameters, p);
        QFETCH(QByteArray, value);
        EncodedSymbol symbol;
        QVERIFY(!Encoder(p).encode(value, symbol));
        const ModuleGrid& grid = symbol.grid();
        const int w = grid.width();
        const int h = grid.height();
        const bool largest = p.sizeRequest == DmtxSymbol144x144 && p.symbology == Symbology::Datamatrix;
        for (int mask : {0, 5, 10, 12, 15}) {
            const FontTextOptions o = options(mask, mask & 1, mask & 2 ? '\r' : 'A');
            const FontText text = toFontText(grid, w, h, o, false);
            FieldTextDecoder decoder(w, h, o, p.symbology);
            QCOMPARE(decoder.decode(text.field), std::optional(value));
            QCOMPARE(decoder.reader(), largest ? SymbolReader::Libdmtx : SymbolReader::Zxing);
            for (int i = 0; i < w * h; ++i)
                QCOMPARE(decoder.image().dark(i % w, i / w), grid.dark(i % w, i / w));
        }
    }

    // The check of a written base refuses a field that is not the code it claims.
    void verificationCatchesCorruptCode()
    {
        const QByteArray value("Codiflux 0123456789");
        SymbolImage image;
        for (const EncodingParameters& p : {dm(DmtxSchemeAutoBest, DmtxSymbolSquareAuto), qr(QR_MODE_8, 0)}) {
            EncodedSymbol symbol;
            QVERIFY(!Encoder(p).encode(value, symbol));
            const int w = symbol.grid().width();
            const int h = symbol.grid().height();
            const FontTextOptions made = options(12, true, ' ');
            const QByteArray field = toFontText(symbol.grid(), w, h, made, false).field;
            QCOMPARE(decodeFieldText(field, w, h, made, p.symbology), std::optional(value));
            QByteArray corrupt = field;  // two bands inked over
            corrupt.replace(0, w, QByteArray(w, 'P')).replace(w + 1, w, QByteArray(w, 'P'));
            QVERIFY(decodeFieldText(corrupt, w, h, made, p.symbology) != std::optional(value));
            corrupt = field;
            corrupt[1] = 'Q';  // not a letter of the font: refused before any decoding
            QVERIFY(rebuildSymbol(corrupt.constData(), corrupt.size(), w, h, made, 0, 1, image).failed());
            corrupt = field;
            corrupt[w] = '/';  // the end-of-line character
            QVERIFY(!decodeFieldText(corrupt, w, h, made, p.symbology));
            QVERIFY(!decodeFieldText(field.chopped(1), w, h, made, p.symbology));
            FontTextOptions other = made;
            other.bitInversion = false;
            QVERIFY(decodeFieldText(field, w, h, other, p.symbology) != std::optional(value));
            QVERIFY(!decodeFieldText(toFontText(symbol.grid(), w, h, made, true).field, w, h, made, p.symbology));
        }
        // 'A' and 'P' are code letters; the rebuilt picture keeps its quiet zone and scale.
        QVERIFY(!rebuildSymbol("AP", 2, 2, 4, options(0), 1, 2, image) && image.dark(1, 3) && !image.dark(0, 3));
    }

    // The library's refusal reaches the caller with its text, through the hooks.
    void libraryRefusal()
    {
        QByteArray seen;
        setDatamatrixEncodeFunction([&seen](QByteArrayView value, const std::function<bool()>&) {
            seen = value.toByteArray();
            return false;
        });
        EncodedSymbol symbol;
        const Error error = Encoder(EncodingParameters()).encode(QByteArray("REF\0-1", 6), symbol);
        QCOMPARE(seen, QByteArray("REF\0-1", 6));
        QCOMPARE(error.text, kDatamatrixRefused);
        QVERIFY(!symbol.isValid());
        setDatamatrixEncodeFunction([](QByteArrayView, const std::function<bool()>& library) { return library(); });
        QVERIFY(!Encoder(EncodingParameters()).encode(QByteArray("REF-1"), symbol) && symbol.isValid());
        setDatamatrixEncodeFunction({});

        // The window's preview: a Datamatrix call that does not return in
        // time is a refusal; the thread releases the library object at its end.
        QSemaphore letGo;
        std::atomic<int> released{0};
        DmtxEncoder::setEncodeFunction([&letGo](QByteArrayView, const std::function<bool()>& library) {
            letGo.tryAcquire(1, 20000);
            return library();
        });
        DmtxEncoder::setReleaseFunction([&released] { ++released; });
        const Encoder encoder(dm(DmtxSchemeAutoBest, DmtxSymbolSquareAuto));
        QCOMPARE(encoder.encodeWithTimeLimit(QByteArray("lent"), symbol, 50).text, kDatamatrixRefused);
        QVERIFY(!symbol.isValid());
        letGo.release();
        QTRY_COMPARE(released.load(), 1);
        QTRY_COMPARE(DmtxEncoder::instances(), 0);
        DmtxEncoder::setEncodeFunction({});
        DmtxEncoder::setReleaseFunction({});
        QVERIFY(!encoder.encodeWithTimeLimit(QByteArray("rapide"), symbol) && symbol.isValid());
        QCOMPARE(released.load(), 1);
    }

    // A fixed sample of the differential run against libdmtx: every scheme
    // and size request, the value classes, FNC1; libdmtx is the reference.
    void sameSymbolAsLibdmtx()
    {
        dmtxdiff::Random random(20240);
        long aborted = 0;
        QStringList differences;
        for (int i = 0; i < 20000; ++i) {
            const dmtxdiff::Case c = dmtxdiff::makeCase(random, 10);
            std::string d = dmtxdiff::compare(c, &aborted);
            // AutoBest again on a value of the same classes: the search's
            // result serves it.
            if (d.empty() && c.scheme == -1 && i % 2 == 0)
                d = dmtxdiff::compare(dmtxdiff::sibling(random, c), &aborted);
            if (!d.empty() && differences.size() < 5)
                differences << QString::fromStdString(d);
        }
        QVERIFY2(differences.isEmpty(), qPrintable(differences.join(QLatin1Char('\n'))));
        QVERIFY(aborted > 0);  // the FNC1 values libdmtx stops on are in the sample, and refused
    }

    // The start of a run: both encoders on the sample, a refusal by one only
    // (here a library that refuses it) stops the run.
    void enginesCheckedOnTheSample()
    {
        const Encoder encoder(dm(DmtxSchemeAutoBest, DmtxSymbolSquareAuto));
        QVERIFY(!encoder.checkDatamatrixEngines(QByteArray("CDX-100007 DUPONT")));
        setDatamatrixEncodeFunction([](QByteArrayView, const std::function<bool()>&) { return false; });
        const Error differ = encoder.checkDatamatrixEngines(QByteArray("CDX-100007 DUPONT"));
        setDatamatrixEncodeFunction({});
        QCOMPARE(differ.code, ErrorCode::ValueRefused);
        QVERIFY(differ.text.contains(QLatin1String("libdmtx")));
        setDatamatrixEngine(DatamatrixEngine::Libdmtx);
        setDatamatrixEncodeFunction([](QByteArrayView, const std::function<bool()>&) { return false; });
        QVERIFY(!encoder.checkDatamatrixEngines(QByteArray("CDX-100007 DUPONT")));
        setDatamatrixEncodeFunction({});
        setDatamatrixEngine(DatamatrixEngine::Codiflux);
    }

    // Rows: the value, without white space at its start, at its end.
    void blankAndTrimmed()
    {
        for (const QStringList& row : {QStringList{"", "", ""}, QStringList{" \t\r\n", "", ""},
                                       QStringList{"x", "x", "x"}, QStringList{" a b  ", "a b  ", " a b"}}) {
            QCOMPARE(isBlankText(row[0]), row[1].isEmpty());
            QCOMPARE(trimWhiteSpace(row[0], true, false), row[1]);
            QCOMPARE(trimWhiteSpace(row[0], false, true), row[2]);
            QCOMPARE(trimWhiteSpace(row[0], true, true), row[0].trimmed());
        }
    }
};

QTEST_GUILESS_MAIN(TestCodes)
#include "tst_codes.moc"
