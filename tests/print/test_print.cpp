// Encoded bases as a print shop prints them: the code field of every record
// laid out by Qt's text engine in the Quadrex font into a PDF, at sizes from
// 1.5 to 12 pt, rasterized the way printer drivers do (Ghostscript 1-bit,
// poppler without anti-aliasing) at 300 and 600 dpi, cut out code by code and
// read by zxing-cpp's detector as a scanner would. Every code from 3 pt up
// must give back its record's value; the sizes below that are measured only.
// The smallest size that scans, per symbology and resolution, is printed.

#include "codes/encoding.h"
#include "codes/fonttext.h"
#include "generation/baseencoder.h"
#include "tests/support/dbf_builder.h"
#include "tests/support/files.h"

#include <dmtx.h>
#include <qrencode.h>

#include <QFontDatabase>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QPdfWriter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextLayout>
#include <QtTest>

#define ZX_USE_UTF8 1
#include <ZXing/ReadBarcode.h>

#include <map>

using namespace codiflux;

namespace {

// Point sizes of the sweep; those from kRequiredSize up must all scan.
const QList<double> kSizes = {1.5, 2, 2.5, 3, 3.5, 4, 4.5, 5, 6, 7, 7.2, 8, 9, 10, 11, 12};
constexpr double kRequiredSize = 3;
// Each size is printed this many times, shifted by a fraction of a 300 dpi
// pixel each time: where a glyph edge falls inside a pixel decides a seam.
constexpr int kPlacements = 4;
// The Quadrex font drawn under a family name that nothing installed can shadow.
constexpr char kFamily[] = "QuadrexPrintTest";
constexpr int kPdfDpi = 1200;  // QPdfWriter's device units
constexpr int kQuietModules = 5;

struct Symbology {
    const char* name;
    EncodingParameters parameters;
};

EncodingParameters datamatrix(int size)
{
    EncodingParameters p;
    p.symbology = codiflux::Symbology::Datamatrix;
    p.sizeRequest = size;
    p.scheme = DmtxSchemeAutoBest;
    return p;
}

EncodingParameters qrCode()
{
    EncodingParameters p;
    p.symbology = codiflux::Symbology::QRCode;
    p.qrLevel = QR_ECLEVEL_M;
    p.qrMode = QR_MODE_8;
    return p;
}

const Symbology kSymbologies[] = {
    {"Datamatrix 18x18", datamatrix(DmtxSymbol18x18)},
    {"Datamatrix 16x36", datamatrix(DmtxSymbol16x36)},
    {"QR code", qrCode()},
};

QByteArray recordValue(int symbology, int index)
{
    return QByteArray("CF2024-") + QByteArray::number(symbology) + '-'
        + QByteArray::number(index).rightJustified(3, '0');
}

// Where one code sits on the page, in PDF device units.
struct PlacedCode {
    int symbology = 0;
    double size = 0;
    QByteArray value;
    QRectF symbol;
};

std::optional<QByteArray> scan(const QImage& crop, codiflux::Symbology symbology)
{
    const QImage gray = crop.convertToFormat(QImage::Format_Grayscale8);
    ZXing::DecodeHints hints;
    hints.setFormats(symbology == codiflux::Symbology::QRCode ? ZXing::BarcodeFormat::QRCode
                                                              : ZXing::BarcodeFormat::DataMatrix);
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

private:
    QTemporaryDir dir;
    int fontId = -1;
    QString pdf;
    QList<PlacedCode> codes;
    // (symbology, dpi) -> sizes that failed with either rasterizer
    std::map<std::pair<int, int>, QList<double>> failedSizes;

    // Encodes a base of one record per printed code and gives the code fields.
    QList<QByteArray> encodedFields(int symbology)
    {
        const QList<testsupport::DbfField> fields = {{"ID", 'N', 4}, {"CODE", 'C', 12}};
        QList<testsupport::DbfRecord> records;
        for (int i = 0; i < kSizes.size() * kPlacements; ++i)
            records.append({' ', {QByteArray::number(i), recordValue(symbology, i)}});
        const QString source = dir.filePath(QStringLiteral("src%1.dbf").arg(symbology));
        const QString output = dir.filePath(QStringLiteral("out%1.dbf").arg(symbology));
        if (!testsupport::writeFile(source, testsupport::dbfBytes(fields, records)))
            return {};

        GenerationJob job;
        job.typeSource = BaseKind::Dbf;
        job.sourcePath = source;
        job.outputPath = output;
        job.parameters = kSymbologies[symbology].parameters;
        job.options = {.bitInversion = true, .pixelInversion = true, .endOfLine = true, .endOfLineCharacter = ' '};
        job.fieldIndex = 1;
        job.newFieldName = QStringLiteral("CODE2D");
        job.sample = recordValue(symbology, 0);
        QString error;
        BaseEncoder encoder(job, &error, 0);
        if (!encoder.encoderBase(output, true, &error)) {
            qWarning() << error;
            return {};
        }
        // Each text line is the source record without its flag, then the code.
        QList<QByteArray> result;
        const int sourceLength = testsupport::dbfRecordLength(fields) - 1;
        for (const QByteArray& line :
             testsupport::readFile(dir.filePath(QStringLiteral("out%1.txt").arg(symbology))).split('\n'))
            if (line.size() > sourceLength)
                result.append(line.mid(sourceLength).chopped(line.endsWith('\r') ? 1 : 0));
        return result;
    }

    // Renders the PDF page(s) with one rasterizer and gives the page images.
    QList<QImage> rasterize(const QString& rasterizer, int dpi)
    {
        const QString prefix = dir.filePath(QStringLiteral("%1-%2").arg(rasterizer).arg(dpi));
        QStringList arguments;
        QString program;
        if (rasterizer == QLatin1String("gs")) {
            program = QStringLiteral("gs");
            arguments = {"-q",
                         "-dSAFER",
                         "-dBATCH",
                         "-dNOPAUSE",
                         "-sDEVICE=pngmono",
                         QStringLiteral("-r%1").arg(dpi),
                         "-sOutputFile=" + prefix + "-%d.png",
                         pdf};
        } else {
            program = QStringLiteral("pdftoppm");
            arguments = {"-mono", "-aa", "no", "-aaVector", "no", "-r", QString::number(dpi), pdf, prefix};
        }
        QProcess process;
        process.start(program, arguments);
        if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit
            || process.exitCode() != 0) {
            qWarning() << program << process.readAllStandardError();
            return {};
        }
        // A 600 dpi A4 page is beyond the image reader's default allocation limit.
        QImageReader::setAllocationLimit(0);
        QList<QImage> pages;
        for (int page = 1; page <= 3; ++page) {
            const char* suffix = rasterizer == QLatin1String("gs") ? ".png" : ".pbm";
            QImage image(prefix + QLatin1Char('-') + QString::number(page) + QLatin1String(suffix));
            if (image.isNull())
                return {};
            pages.append(image);
        }
        return pages;
    }

private slots:
    void initTestCase()
    {
        for (const char* program : {"gs", "pdftoppm"})
            QVERIFY2(!QStandardPaths::findExecutable(QLatin1String(program)).isEmpty(),
                     qPrintable(QStringLiteral("%1 is missing: run tools/install-deps.sh").arg(program)));
        QVERIFY(dir.isValid());
        fontId = QFontDatabase::addApplicationFont(QStringLiteral(CODIFLUX_PRINT_FONT_FILE));
        QVERIFY(fontId >= 0);
        QCOMPARE(QFontDatabase::applicationFontFamilies(fontId), QStringList{QLatin1String(kFamily)});

        pdf = dir.filePath(QStringLiteral("labels.pdf"));
        QPdfWriter writer(pdf);
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setPageMargins(QMarginsF(0, 0, 0, 0));
        writer.setResolution(kPdfDpi);
        QPainter painter(&writer);
        const double pageWidth = writer.width();
        for (int symbology = 0; symbology < 3; ++symbology) {
            const QList<QByteArray> fields = encodedFields(symbology);
            QCOMPARE(fields.size(), kSizes.size() * kPlacements);
            if (symbology > 0)
                writer.newPage();
            QPointF at(kPdfDpi / 4, kPdfDpi / 4);
            double rowHeight = 0;
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

                const QSizeF symbol(width * module, 4 * bands * module);
                const double gap = 2 * kQuietModules * module + kPdfDpi / 10;
                if (at.x() + symbol.width() + gap > pageWidth) {
                    at = QPointF(kPdfDpi / 4, at.y() + rowHeight);
                    rowHeight = 0;
                }
                const QPointF origin = at + QPointF(shift, shift);
                layout.draw(&painter, origin);
                codes.append({symbology, size, recordValue(symbology, i), QRectF(origin, symbol)});
                QVERIFY(at.y() + symbol.height() + gap < writer.height());
                at.rx() += symbol.width() + gap;
                rowHeight = std::max(rowHeight, symbol.height() + gap);
            }
        }
        QVERIFY(painter.end());
    }

    void cleanupTestCase()
    {
        QFontDatabase::removeApplicationFont(fontId);
        // The smallest size from which every larger size of the sweep scans,
        // with both rasterizers ("<=" when that is the sweep's smallest).
        qInfo("Smallest point size that scans (Ghostscript 1-bit and poppler without anti-aliasing):");
        qInfo("%-18s %8s %8s", "", "300 dpi", "600 dpi");
        for (int symbology = 0; symbology < 3; ++symbology) {
            QString cells;
            for (int dpi : {300, 600}) {
                double smallest = 0;
                const QList<double>& failed = failedSizes[{symbology, dpi}];
                for (auto size = kSizes.crbegin(); size != kSizes.crend() && !failed.contains(*size); ++size)
                    smallest = *size;
                const QString prefix = smallest == kSizes.first() ? QStringLiteral("<=") : QString();
                cells += smallest > 0 ? QStringLiteral(" %1 pt").arg(prefix + QString::number(smallest), 5)
                                      : QStringLiteral("     none");
            }
            qInfo("%-18s%s", kSymbologies[symbology].name, qPrintable(cells));
        }
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
        QCOMPARE(pages.size(), 3);
        const double scale = double(dpi) / kPdfDpi;
        QStringList failures;
        int required = 0, read = 0;
        for (const PlacedCode& code : codes) {
            const double margin = kQuietModules * code.size / 4 * kPdfDpi / 72;
            const QRectF area = code.symbol.adjusted(-margin, -margin, margin, margin);
            const QRect crop(QPoint(int(area.left() * scale), int(area.top() * scale)),
                             QPoint(int(area.right() * scale), int(area.bottom() * scale)));
            const std::optional<QByteArray> value
                = scan(pages.at(code.symbology).copy(crop), kSymbologies[code.symbology].parameters.symbology);
            const bool ok = value == code.value;
            if (!ok)
                failedSizes[{code.symbology, dpi}].append(code.size);
            if (code.size >= kRequiredSize) {
                ++required;
                read += ok ? 1 : 0;
                if (!ok)
                    failures << QStringLiteral("%1 %2 pt")
                                    .arg(QLatin1String(kSymbologies[code.symbology].name))
                                    .arg(code.size);
            }
        }
        qInfo("%s %d dpi: %d of %d codes from %g pt read", qPrintable(rasterizer), dpi, read, required, kRequiredSize);
        QVERIFY2(failures.isEmpty(), qPrintable(QStringLiteral("not read: ") + failures.join(QStringLiteral(", "))));
    }
};

QTEST_MAIN(TestPrint)
#include "test_print.moc"
