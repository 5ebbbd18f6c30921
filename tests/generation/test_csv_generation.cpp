// The encoded CSV: Python's csv module (an independent reader) reads it back
// with every source cell unchanged, the rows are the source's bytes plus one
// cell, and zxing-cpp decodes each code, accents included; malformed sources
// stop the run with the line named and nothing written.

#include "codes/verify.h"
#include "generation/baseencoder.h"
#include "generation/csvgeneration.h"
#include "tests/support/files.h"

#include <dmtx.h>
#include <qrencode.h>

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#define ZX_USE_UTF8 1  // the text as UTF-8; this silences the library's transition notice
#include <ZXing/ReadBarcode.h>

using namespace codiflux;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

GenerationJob csvJob(const QString& source, const QString& output, int column, const QByteArray& sample, int symbology)
{
    GenerationJob job;
    job.format = &formatOf(source);
    job.sourcePath = source;
    job.outputPath = output;
    job.fieldIndex = column;
    job.newFieldName = QStringLiteral("Code 2D");
    job.sample = sample;
    job.parameters.symbology = Symbology(symbology);
    job.parameters.qrMode = QR_MODE_8;
    job.parameters.qrLevel = QR_ECLEVEL_M;
    job.options.endOfLine = true;
    job.options.endOfLineCharacter = '\n';
    return job;
}

bool generateOnThisThread(const GenerationJob& job, QString* error)
{
    BaseEncoder encoder(job, error, 0);
    return encoder.encoderBase(job.outputPath, false, error);
}

// zxing-cpp's own reading of the text a code carries (its character set rules).
QString zxingText(const QByteArray& field, int width, int height, const FontTextOptions& options, int symbology)
{
    SymbolImage image;
    if (rebuildSymbol(field.constData(), field.size(), width, height, options, 4, 4, image))
        return {};
    ZXing::DecodeHints hints;
    hints.setFormats(symbology == int(Symbology::QRCode) ? ZXing::BarcodeFormat::QRCode
                                                         : ZXing::BarcodeFormat::DataMatrix);
    const ZXing::Result result = ZXing::ReadBarcode(
        ZXing::ImageView(image.pixels.data(), image.width, image.height, ZXing::ImageFormat::Lum), hints);
    return QString::fromStdString(result.text());
}

}  // namespace

class TestCsvGeneration : public QObject {
    Q_OBJECT

private:
    QTemporaryDir tmp;
    QString path(const char* name) const { return tmp.filePath(QLatin1String(name)); }

private slots:
    void initTestCase() { QVERIFY(tmp.isValid()); }

    void encodedCsvReadBack_data()
    {
        QTest::addColumn<QByteArray>("bom");
        QTest::addColumn<QByteArrayList>("rows");  // header first, each with its line end
        QTest::addColumn<QString>("pythonEncoding");
        QTest::addColumn<int>("column");
        QTest::addColumn<int>("symbology");
        QTest::addColumn<QString>("accented");  // the text of row 1's value, as zxing reads it
        QTest::addColumn<bool>("trim");         // spaces removed around the values, as the preview does

        // French Excel: semicolons, Windows-1252, CR LF.
        QTest::newRow("semicolon, Windows-1252, Datamatrix")
            << QByteArray()
            << QByteArrayList{"Nom;Pr\xE9nom;Ville\r\n", "Dupr\xE9;H\xE9l\xE8ne;S\xE8te\r\n",
                              "\"Martin; fils\";\"L\xE9on \"\"Le Grand\"\"\";Paris\r\n", "Vide;;Nancy\r\n",
                              "Lef\xE8vre;  Zo\xEB ;\"Saint-\r\n\xC9tienne\"\r\n"}
            << "cp1252" << 1 << int(Symbology::Datamatrix) << QStringLiteral("Hélène") << true;
        // LibreOffice: commas, UTF-8 with its mark, LF, line breaks in cells, no final line end.
        QTest::newRow("comma, UTF-8 with BOM, QR")
            << QByteArray("\xEF\xBB\xBF")
            << QByteArrayList{"ref,note\n", "\xC3\x89t\xC3\xA9 2024,\"deux\nlignes\"\n", "B-17,\"a \"\"b\"\", c\"\n",
                              "C\xE2\x82\xAC,fin"}
            << "utf-8-sig" << 0 << int(Symbology::QRCode) << QStringLiteral("Été 2024") << false;
    }

    void encodedCsvReadBack()
    {
        QFETCH(QByteArray, bom);
        QFETCH(QByteArrayList, rows);
        QFETCH(QString, pythonEncoding);
        QFETCH(int, column);
        QFETCH(int, symbology);
        QFETCH(QString, accented);
        QFETCH(bool, trim);
        if (!QFile::exists(QStringLiteral(CODIFLUX_PYTHON)))
            QSKIP("no Python interpreter");

        QVERIFY(writeFile(path("src.csv"), bom + rows.join()));
        CsvReader sampleReader;
        QVERIFY(!sampleReader.open(path("src.csv"), {}));
        CsvRow first;
        QCOMPARE(sampleReader.next(first), CsvReader::Status::Row);
        QByteArray sample;
        QVERIFY(csvCodeBytes(first.cell(column), sampleReader.format().encoding, sample));
        const CsvEncoding encoding = sampleReader.format().encoding;
        const char delimiter = sampleReader.format().delimiter;

        GenerationJob job = csvJob(path("src.csv"), path("out.csv"), column, sample, symbology);
        job.trimStart = job.trimEnd = trim;
        QString error;
        QVERIFY2(generateOnThisThread(job, &error), qPrintable(error));

        const char* script = R"(
import csv, json, sys
def rows(name):
    with open(name, newline='', encoding=sys.argv[3]) as f:
        return list(csv.reader(f, delimiter=sys.argv[4]))
print(json.dumps({'src': rows(sys.argv[1]), 'out': rows(sys.argv[2])}))
)";
        QProcess python;
        python.start(QStringLiteral(CODIFLUX_PYTHON),
                     {"-c", QString::fromLatin1(script), path("src.csv"), path("out.csv"), pythonEncoding,
                      QString(QLatin1Char(delimiter))});
        QVERIFY(python.waitForFinished(60000));
        QVERIFY2(python.exitCode() == 0, python.readAllStandardError().constData());
        const QJsonObject read = QJsonDocument::fromJson(python.readAllStandardOutput()).object();
        const QJsonArray src = read.value("src").toArray();
        const QJsonArray out = read.value("out").toArray();
        QCOMPARE(src.size(), rows.size());
        QCOMPARE(out.size(), rows.size());

        // Every source cell unchanged, the new name on the header.
        for (int i = 0; i < rows.size(); ++i) {
            QJsonArray cells = out[i].toArray();
            const QString added = cells.last().toString();
            cells.removeLast();
            QCOMPARE(cells, src[i].toArray());
            if (i == 0)
                QCOMPARE(added, job.newFieldName);
        }

        // The codes: zxing gives each value's bytes back, and reads the
        // accented one as its text.
        // The grid is the sample's, padded to the longest value of the column.
        int w = 0, h = 0;
        CsvSource source;
        ValueRule rule;
        rule.trimStart = rule.trimEnd = trim;
        source.setValueRule(rule);
        QVERIFY(!source.scan(path("src.csv"), {}, column, {}));
        const QByteArray padded = sample.leftJustified(source.longestValue(), ' ');
        QVERIFY(!RecordCoder::measureSymbol(job.parameters, padded, &w, &h));
        FieldTextDecoder decoder(w, h, job.options, Symbology(symbology));
        QByteArray expected = bom;
        for (int i = 0; i < rows.size(); ++i) {
            const QString code = out[i].toArray().last().toString();
            const QByteArray codeBytes = code.toLatin1();
            if (i > 0) {
                QCOMPARE(codeBytes.size(), fieldLength(w, h, true));
                QByteArray value;
                csvCodeBytes(src[i].toArray()[column].toString().toUtf8(), CsvEncoding::Utf8, value);
                if (trim)
                    value = value.trimmed();
                if (value.trimmed().isEmpty())
                    QCOMPARE(decoder.decode(codeBytes), std::nullopt);  // the blank code reads as nothing
                else
                    QCOMPARE(decoder.decode(codeBytes), std::optional(value));
            }
            if (i == 1)
                QCOMPARE(zxingText(codeBytes, w, h, job.options, symbology), accented);
            // Byte for byte: the source row, then the cell, before the row's line end.
            const QByteArray& raw = rows[i];
            const int lineEnd = raw.endsWith("\r\n") ? 2 : raw.endsWith('\n') ? 1 : 0;
            expected += raw.left(raw.size() - lineEnd);
            QByteArray cell;
            QVERIFY(csvEncode(code, encoding, cell));
            appendCsvCell(expected, delimiter, cell);
            expected += raw.right(lineEnd);
        }
        QCOMPARE(readFile(path("out.csv")), expected);
    }

    // A UTF-8 file writes the code text's Latin-1 bytes as their characters,
    // from 0x80 ('€' in Windows-1252) up; a Windows-1252 file as they are.
    void codeTextInTheFileEncoding()
    {
        for (const bool utf8 : {true, false}) {
            QVERIFY(writeFile(path("src.csv"), utf8 ? "a,b\nx,\xC3\xA9\n" : "a,b\nx,\xE9\n"));
            CsvSource source;
            CsvRecord record;
            QByteArray out;
            QVERIFY(!source.scan(path("src.csv"), {}, 0, {}) && !source.start() && !source.read(record, 1));
            source.outputRow(record, "A\x80\x7F", 3, out);
            QCOMPARE(out, utf8 ? QByteArray("x,\xC3\xA9,A\xE2\x82\xAC\x7F\n") : QByteArray("x,\xE9,A\x80\x7F\n"));
        }
    }

    // A malformed source stops the run at its first pass: the line is named,
    // nothing is written and no temporary file is left.
    void malformedSourceWritesNothing_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("message");
        QTest::newRow("unbalanced quote, far down")
            << QByteArray("a;b\n1;2\n3;4\n5;\"6\n") << 0
            << "Ligne 4 : le guillemet ouvert sur cette ligne n'est jamais fermé.";
        QTest::newRow("row with more fields")
            << QByteArray("a;b\n1;2\n3;4;5\n") << 0 << "Ligne 3 : 3 champ(s) au lieu des 2 de l'en-tête.";
        QTest::newRow("empty file") << QByteArray() << 0 << "Ligne 1 : le fichier CSV est vide, il n'a pas d'en-tête.";
        QTest::newRow("no such column") << QByteArray("a;b\n1;2\n") << 2
                                        << "Ligne 1 : l'en-tête n'a pas de colonne n°3 (il en a 2).";
        QTest::newRow("a character the code cannot carry")
            << QByteArray("a,b\n1,\xC5\x81\xC3\xB3"
                          "d\xC5\xBA\n")
            << 1
            << "Ligne 2 : la valeur « Łódź » contient un caractère que le code ne peut pas porter (seuls ceux de "
               "Windows-1252 le peuvent).";
    }

    void malformedSourceWritesNothing()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, column);
        QTemporaryDir folder;
        const QString source = folder.filePath(QStringLiteral("src.csv"));
        QVERIFY(writeFile(source, bytes));
        const GenerationJob job
            = csvJob(source, folder.filePath(QStringLiteral("out.csv")), column, "1", int(Symbology::Datamatrix));
        QString error;
        QVERIFY(!generateOnThisThread(job, &error));
        QTEST(error, "message");
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"src.csv"});
        QCOMPARE(readFile(source), bytes);
    }
};

QTEST_GUILESS_MAIN(TestCsvGeneration)
#include "test_csv_generation.moc"
