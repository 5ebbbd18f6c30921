// Encoded bases as a print shop prints them: the code field of every record
// made by codiflux-cli and laid out by Qt's text engine in the Quadrex font
// into a PDF, at sizes around the smallest that scans, rasterized the way
// printer drivers do (Ghostscript 1-bit, poppler without anti-aliasing) at 300
// and 600 dpi, cut out code by code and read by zxing-cpp's detector as a
// scanner would. Every code from 3 pt up must give back its record's value;
// the sizes below that are measured only.

#include "tests/print/printsheet.h"
#include "tests/support/files.h"

#include <QFontDatabase>
#include <QImage>
#include <QImageReader>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// Point sizes of the sweep; those from kRequiredSize up must all scan.
const QList<double> kSizes = {2.5, 3, 7.2};
constexpr double kRequiredSize = 3;
// Each size is printed this many times, each a fraction of a pixel apart.
constexpr int kPlacements = 4;
constexpr char kFamily[] = "QuadrexPrintTest";

struct Symbology {
    const char* name;
    QStringList options;  // of codiflux-cli
};

const Symbology kSymbologies[] = {
    {"Datamatrix 18x18", {"--symbology", "dm", "--dm-size", "18x18", "--dm-scheme", "AutoBest"}},
    {"Datamatrix 16x36", {"--symbology", "dm", "--dm-size", "16x36", "--dm-scheme", "AutoBest"}},
    {"QR code", {"--symbology", "qr", "--qr-level", "M", "--qr-mode", "8-bit data", "--qr-version", "0"}},
};

QByteArray recordValue(int symbology, int index)
{
    return QByteArray("CF2024-") + QByteArray::number(symbology) + '-'
        + QByteArray::number(index).rightJustified(3, '0');
}

}  // namespace

class TestPrint : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    QString pdf;
    QList<printsheet::PlacedCode> codes;

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
        if (rasterizer == QLatin1String("gs"))
            return printsheet::ghostscriptPages(pdf, dpi);  // as the proof sheet does it
        const QString prefix = dir.filePath(QStringLiteral("%1-%2").arg(rasterizer).arg(dpi));
        QProcess process;
        process.start(rasterizer,
                      QStringList{"-mono", "-aa", "no", "-aaVector", "no", "-r", QString::number(dpi), pdf, prefix});
        if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
            qWarning() << rasterizer << process.readAllStandardError();
        QImageReader::setAllocationLimit(0);  // a 600 dpi A4 page is beyond the default limit
        QList<QImage> pages;
        for (int page = 1; page <= 3; ++page)
            pages.append(QImage(prefix + QStringLiteral("-%1.pbm").arg(page)));
        return pages;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        const int fontId = QFontDatabase::addApplicationFont(QStringLiteral(CODIFLUX_PRINT_FONT_FILE));
        QCOMPARE(QFontDatabase::applicationFontFamilies(fontId), QStringList{QLatin1String(kFamily)});

        pdf = dir.filePath(QStringLiteral("labels.pdf"));
        QList<QList<QByteArray>> fields, values;
        for (int symbology = 0; symbology < 3; ++symbology) {
            fields.append(encodedFields(symbology));
            QCOMPARE(fields.last().size(), kSizes.size() * kPlacements);
            values.append(QList<QByteArray>());
            for (int i = 0; i < fields.last().size(); ++i)
                values.last().append(recordValue(symbology, i));
        }
        codes = printsheet::writeSheet(pdf, fields, values, kSizes, kPlacements, QLatin1String(kFamily));
        QCOMPARE(codes.size(), 3 * kSizes.size() * kPlacements);
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
        QVERIFY(pages.size() == 3);
        QStringList failures;
        int count[2] = {}, read[2] = {};  // below the required size, from it
        for (const printsheet::PlacedCode& code : codes) {
            const bool ok = printsheet::reads(code, pages.at(code.page), dpi);
            const bool required = code.size >= kRequiredSize;
            ++count[required];
            read[required] += ok ? 1 : 0;
            if (required && !ok)
                failures << QStringLiteral("%1 %2 pt").arg(QLatin1String(kSymbologies[code.page].name)).arg(code.size);
        }
        qInfo("%s %d dpi: %d of %d codes from %g pt read, %d of %d below", qPrintable(rasterizer), dpi, read[1],
              count[1], kRequiredSize, read[0], count[0]);
        QVERIFY2(failures.isEmpty(), qPrintable(QStringLiteral("not read: ") + failures.join(QStringLiteral(", "))));
    }
};

QTEST_MAIN(TestPrint)
#include "test_print.moc"
