// Encoded bases as a print shop prints them: the code field of every record
// made by codiflux-cli and laid out by Qt's text engine in the Quadrex font
// into a PDF, at sizes around the smallest that scans, rasterized the way
// printer drivers do (Ghostscript 1-bit, poppler without anti-aliasing) at 300
// and 600 dpi, cut out code by code and read by zxing-cpp's detector as a
// scanner would. Every code from 3 pt up must give back its record's value;
// the sizes below that are measured only.

#include "tests/support/files.h"

#include <QFontDatabase>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QPdfWriter>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextLayout>
#include <QtTest>

#define ZX_USE_UTF8 1
#include <ZXing/ReadBarcode.h>

namespace {

// Point sizes of the sweep; those from kRequiredSize up must all scan.
const QList<double> kSizes = {2.5, 3, 7.2};
constexpr double kRequiredSize = 3;
// Each size is printed this many times, shifted by a fraction of a 300 dpi
// pixel each time: where a glyph edge falls inside a pixel decides a seam.
constexpr int kPlacements = 4;
constexpr char kFamily[] = "QuadrexPrintTest";
constexpr int kPdfDpi = 1200;  // QPdfWriter's device units
constexpr int kQuietModules = 5;

struct Symbology {
    const char* name;
    bool qr;
    QStringList options;  // of codiflux-cli
};

const Symbology kSymbologies[] = {
    {"Datamatrix 18x18", false, {"--symbology", "dm", "--dm-size", "18x18", "--dm-scheme", "AutoBest"}},
    {"Datamatrix 16x36", false, {"--symbology", "dm", "--dm-size", "16x36", "--dm-scheme", "AutoBest"}},
    {"QR code", true, {"--symbology", "qr", "--qr-level", "M", "--qr-mode", "8-bit data", "--qr-version", "0"}},
};

QByteArray recordValue(int symbology, int index)
{
    return QByteArray("CF2024-") + QByteArray::number(symbology) + '-'
        + QByteArray::number(index).rightJustified(3, '0');
}

struct PlacedCode {
    int symbology;
    double size;
    QByteArray value;
    QRectF symbol;  // on the page, in PDF device units
};

std::optional<QByteArray> scan(const QImage& crop, bool qr)
{
    const QImage gray = crop.convertToFormat(QImage::Format_Grayscale8);
    ZXing::DecodeHints hints;
    hints.setFormats(qr ? ZXing::BarcodeFormat::QRCode : ZXing::BarcodeFormat::DataMatrix);
    hints.setTryRotate(false);
    hints.setMaxNumberOfSymbols(1);
    const ZXing::ImageView view(gray.constBits(), gray.width(), gray.height(), ZXing::ImageFormat::Lum,
                                int(gray.bytesPerLine()));
    const ZXing::Result result = ZXing::ReadBarcode(view, hints);
    if (!result.isValid())
        return std::nullopt;
    const ZXing::ByteArray& bytes = result.bytes();
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
}

}  // namespace

class TestPrint : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    QString pdf;
    QList<PlacedCode> codes;

    // The code fields of a text base, one record a printed code, from codiflux-cli.
    QList<QByteArray> encodedFields(int symbology)
    {
        QByteArray lines;
        for (int i = 0; i < kSizes.size() * kPlacements; ++i)
            lines += recordValue(symbology, i) + '\n';
        const QString source = dir.filePath(QStringLiteral("src%1.txt").arg(symbology));
        const QString output = dir.filePath(QStringLiteral("out%1.txt").arg(symbology));
        testsupport::writeFile(source, lines);
        QProcess cli;  // with the settings of a new user: no stored parameter set
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
        cli.setProcessEnvironment(environment);
        cli.start(QStringLiteral(CODIFLUX_CLI),
                  QStringList{"generate", source, "-o", output, "--range", "1:12", "--eol", "--eol-char", " ",
                              "--invert-bits", "--invert-pixels", "--no-invert-h", "--no-invert-v", "--no-trim-left",
                              "--no-trim-right", "--no-progress"}
                      + kSymbologies[symbology].options);
        if (!cli.waitForFinished(120000) || cli.exitCode() != 0) {
            qWarning() << cli.readAllStandardError();
            return {};
        }
        // Each line is the record, then the code.
        QList<QByteArray> result;
        for (const QByteArray& line : testsupport::readFile(output).split('\n'))
            if (line.size() > 12)
                result.append(line.mid(12));
        return result;
    }

    // Renders the PDF's pages with one rasterizer.
    QList<QImage> rasterize(const QString& rasterizer, int dpi)
    {
        const QString prefix = dir.filePath(QStringLiteral("%1-%2").arg(rasterizer).arg(dpi));
        const bool gs = rasterizer == QLatin1String("gs");
        QProcess process;
        process.start(
            rasterizer,
            gs ? QStringList{"-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=pngmono",
                             QStringLiteral("-r%1").arg(dpi), "-sOutputFile=" + prefix + "-%d.png", pdf}
               : QStringList{"-mono", "-aa", "no", "-aaVector", "no", "-r", QString::number(dpi), pdf, prefix});
        if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
            qWarning() << rasterizer << process.readAllStandardError();
        QImageReader::setAllocationLimit(0);  // a 600 dpi A4 page is beyond the default limit
        QList<QImage> pages;
        for (int page = 1; page <= 3; ++page)
            pages.append(QImage(prefix + QStringLiteral("-%1").arg(page) + QLatin1String(gs ? ".png" : ".pbm")));
        return pages;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        const int fontId = QFontDatabase::addApplicationFont(QStringLiteral(CODIFLUX_PRINT_FONT_FILE));
        QCOMPARE(QFontDatabase::applicationFontFamilies(fontId), QStringList{QLatin1String(kFamily)});

        pdf = dir.filePath(QStringLiteral("labels.pdf"));
        QPdfWriter writer(pdf);
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setPageMargins(QMarginsF(0, 0, 0, 0));
        writer.setResolution(kPdfDpi);
        QPainter painter(&writer);
        for (int symbology = 0; symbology < 3; ++symbology) {
            const QList<QByteArray> fields = encodedFields(symbology);
            QCOMPARE(fields.size(), kSizes.size() * kPlacements);
            if (symbology > 0)
                writer.newPage();
            for (int i = 0; i < fields.size(); ++i) {
                const double size = kSizes.at(i / kPlacements);
                const double shift = (i % kPlacements) * (kPdfDpi / 300.0) / kPlacements;
                // With a space as the end-of-line character, a frame between W
                // and 2W modules wide breaks the text into the symbol's bands.
                const QString text = QString::fromLatin1(fields.at(i));
                const int width = int(text.indexOf(QLatin1Char(' ')));
                const int bands = int(text.size()) / (width + 1);
                QFont font{QString::fromLatin1(kFamily)};
                font.setPointSizeF(size);
                const double module = size / 4 * kPdfDpi / 72;
                QTextLayout layout(text, font, &writer);
                QTextOption option;
                option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
                layout.setTextOption(option);
                layout.beginLayout();
                double y = 0;
                for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
                    line.setLineWidth(1.5 * width * module);
                    line.setPosition(QPointF(0, y));
                    y += line.height();
                }
                layout.endLayout();
                QCOMPARE(layout.lineCount(), bands);

                // One row a size, one column a placement: a cell holds the
                // largest symbol (36 modules at 7.2 pt) and its quiet zone.
                const QSizeF symbol(width * module, 4 * bands * module);
                const QPointF origin
                    = QPointF(i % kPlacements + 0.25, i / kPlacements + 0.25) * 1.5 * kPdfDpi + QPointF(shift, shift);
                layout.draw(&painter, origin);
                codes.append({symbology, size, recordValue(symbology, i), QRectF(origin, symbol)});
            }
        }
        QVERIFY(painter.end());
    }

    void codesScan_data()
    {
        QTest::addColumn<QString>("rasterizer");
        QTest::addColumn<int>("dpi");
        for (const char* rasterizer : {"gs", "pdftoppm"})
            for (int dpi : {300, 600})
                QTest::addRow("%s %d dpi", rasterizer, dpi) << QString::fromLatin1(rasterizer) << dpi;
    }

    void codesScan()
    {
        QFETCH(QString, rasterizer);
        QFETCH(int, dpi);
        const QList<QImage> pages = rasterize(rasterizer, dpi);
        QVERIFY(!pages.contains(QImage()));
        const double scale = double(dpi) / kPdfDpi;
        QStringList failures;
        int count[2] = {}, read[2] = {};  // below the required size, from it
        for (const PlacedCode& code : codes) {
            const double margin = kQuietModules * code.size / 4 * kPdfDpi / 72;
            const QRectF area = code.symbol.adjusted(-margin, -margin, margin, margin);
            const QRect crop = QRectF(area.topLeft() * scale, area.bottomRight() * scale).toRect();
            const bool ok = scan(pages.at(code.symbology).copy(crop), kSymbologies[code.symbology].qr) == code.value;
            const bool required = code.size >= kRequiredSize;
            ++count[required];
            read[required] += ok ? 1 : 0;
            if (required && !ok)
                failures
                    << QStringLiteral("%1 %2 pt").arg(QLatin1String(kSymbologies[code.symbology].name)).arg(code.size);
        }
        qInfo("%s %d dpi: %d of %d codes from %g pt read, %d of %d below", qPrintable(rasterizer), dpi, read[1],
              count[1], kRequiredSize, read[0], count[0]);
        QVERIFY2(failures.isEmpty(), qPrintable(QStringLiteral("not read: ") + failures.join(QStringLiteral(", "))));
    }
};

QTEST_MAIN(TestPrint)
#include "test_print.moc"
