// Bases as today's tools write them, encoded as their users wrote them: DBF
// tables made by python3-dbf with a code page (byte 29 patched by hand for
// the other drivers), a .cpg file beside one, a forced code page, text bases
// in UTF-8 and in Latin-1. Every code is read back with zxing-cpp.

#include "bases/codepage.h"
#include "codes/verify.h"
#include "generation/baseencoder.h"
#include "generation/generationcore.h"
#include "tests/support/files.h"

#define ZX_USE_UTF8 1
#include <ZXing/ReadBarcode.h>

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace codiflux;

namespace {

// A one-field table (NOM C(20)) holding `value` in `codepage`; `utf8` puts
// the value's UTF-8 bytes in its place instead; byte 29 is then set to
// `driver` unless it is negative.
const char kMakeTable[] = R"(
import dbf, sys
path, codepage, value, driver, utf8 = sys.argv[1:6]
raw = value.encode('utf-8')
t = dbf.Table(path, 'NOM C(20)', codepage=codepage, dbf_type='db3')
t.open(dbf.READ_WRITE)
t.append(('#' * len(raw) if utf8 == '1' else value,))
t.close()
d = bytearray(open(path, 'rb').read())
if int(driver) >= 0:
    d[29] = int(driver)
if utf8 == '1':
    d = d.replace(b'#' * len(raw), raw)
open(path, 'wb').write(bytes(d))
)";

constexpr int kFieldLength = 20;

}  // namespace

class TestCodePages : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    QString path(const char* name) const { return dir.filePath(QLatin1String(name)); }

private slots:
    void values_data()
    {
        QTest::addColumn<QString>("codepage");  // python3-dbf's; empty: a text base of `text` bytes
        QTest::addColumn<int>("driver");        // byte 29 written by hand, -1: as python3-dbf writes it
        QTest::addColumn<bool>("utf8Bytes");
        QTest::addColumn<QByteArray>("cpg");
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("rangeStart");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("forced");
        QTest::addColumn<bool>("eci");          // a QR code with ECI UTF-8, else a Datamatrix
        QTest::addColumn<QString>("expected");  // as zxing-cpp reads it; empty: the run refuses `value`'s
                                                // first character outside Windows-1252
        const QString helene = QStringLiteral("Hélène Noël");
        auto dbfRow = [](const char* name, const char* codepage, int driver, const QString& value,
                         const QString& expected, bool eci = false, const char* forced = "") {
            QTest::newRow(name) << QString::fromLatin1(codepage) << driver << false << QByteArray() << QByteArray() << 1
                                << value << QString::fromLatin1(forced) << eci << expected;
        };
        dbfRow("0x03", "cp1252", -1, helene, helene);
        dbfRow("0x57", "cp1252", 0x57, helene, helene);
        dbfRow("0x02", "cp850", -1, QStringLiteral("Müller"), QStringLiteral("Müller"));
        dbfRow("0x00, cp850 bytes", "cp850", 0x00, QStringLiteral("Müller"), QStringLiteral("Müller"));
        dbfRow("0x01", "cp437", -1, QStringLiteral("Ça"), QStringLiteral("Ça"));
        dbfRow("0xC8, Datamatrix", "cp1250", -1, QStringLiteral("Łódź"), QString());
        dbfRow("0xC8, QR with ECI", "cp1250", -1, QStringLiteral("Łódź"), QStringLiteral("Łódź"), true);
        dbfRow("cp850 forced on 0x03", "cp1252", -1, helene, QStringLiteral("HÚlÞne NoÙl"), false, "cp850");
        QTest::newRow(".cpg UTF-8") << QStringLiteral("cp1252") << 0x03 << true << QByteArray("UTF-8\r\n")
                                    << QByteArray() << 1 << helene << QString() << false << helene;
        // The range starts after "H\u00e9": columns count characters.
        const QByteArray utf8 = QStringLiteral("Hélène Noël\nÉmile Zoé  \n").toUtf8();
        auto textRow = [](const char* name, const QByteArray& bytes, const QString& expected, bool eci = false) {
            QTest::newRow(name) << QString() << -1 << false << QByteArray() << bytes << 3 << QString() << QString()
                                << eci << expected;
        };
        textRow("UTF-8 text, BOM", "\xEF\xBB\xBF" + utf8, QStringLiteral("lène"));
        textRow("UTF-8 text", utf8, QStringLiteral("lène"));
        textRow("UTF-8 text, QR with ECI", utf8, QStringLiteral("lène"), true);
        textRow("Latin-1 text", QStringLiteral("Hélène Noël\nÉmile Zoé  \n").toLatin1(), QStringLiteral("lène"));
    }

    void values()
    {
        QFETCH(QString, codepage);
        QFETCH(int, driver);
        QFETCH(bool, utf8Bytes);
        QFETCH(QByteArray, cpg);
        QFETCH(QByteArray, text);
        QFETCH(int, rangeStart);
        QFETCH(QString, value);
        QFETCH(QString, forced);
        QFETCH(bool, eci);
        QFETCH(QString, expected);

        GenerationJob job;
        job.sourcePath = path(codepage.isEmpty() ? "src.txt" : "src.dbf");
        job.outputPath = path(codepage.isEmpty() ? "out.txt" : "out.dbf");
        QFile::remove(path("src.cpg"));
        QFile::remove(job.outputPath);
        QString sample = expected.isEmpty() ? value : expected;
        if (codepage.isEmpty()) {
            QVERIFY(testsupport::writeFile(job.sourcePath, text));
            job.format = &formatOf(job.sourcePath);
            job.rangeStart = rangeStart;
            job.rangeCount = int(expected.size());
        } else {
            QProcess python;
            python.start(QStringLiteral(CODIFLUX_PYTHON),
                         {"-c", QString::fromLatin1(kMakeTable), job.sourcePath, codepage, value,
                          QString::number(driver), QString::number(int(utf8Bytes))});
            QVERIFY(python.waitForFinished(60000));
            if (python.exitCode() != 0)
                QSKIP(qPrintable("python3-dbf: " + QString::fromLocal8Bit(python.readAllStandardError())));
            if (!cpg.isEmpty())
                QVERIFY(testsupport::writeFile(path("src.cpg"), cpg));
            job.format = &formatOf(job.sourcePath);
            job.fieldIndex = 0;
            job.newFieldName = QStringLiteral("_NOM");
            sample = sample.leftJustified(kFieldLength);
        }
        if (!forced.isEmpty()) {
            CodePage page = CodePage::Latin1;
            QVERIFY(parseCodePageName(forced, &page));
            job.codePage = page;
        }
        job.parameters.symbology = eci ? Symbology::QRCode : Symbology::Datamatrix;
        job.parameters.qrMode = 2;  // 8-bit data
        job.parameters.qrEci = eci;
        job.parameters.sizeRequest = -2;  // the smallest square symbol
        symbolBytes(sample, eci, job.sample);

        QString error;
        BaseEncoder encoder(job, &error, 0);
        encoder.start();
        encoder.wait();
        if (expected.isEmpty()) {
            QVERIFY(!encoder.getResultat());
            QCOMPARE(error, refusedCharacterText(1, value.toUcs4().first()));
            QVERIFY(!QFile::exists(job.outputPath));
            return;
        }
        QVERIFY2(encoder.getResultat(), qPrintable(error));

        int width = 0, height = 0;
        QVERIFY(!RecordCoder::measureSymbol(job.parameters, job.sample, &width, &height));
        const int length = fieldLength(width, height, job.options.endOfLine);
        const QByteArray out = testsupport::readFile(job.outputPath);
        QByteArray code;
        if (codepage.isEmpty()) {
            // The source line byte for byte, then the code.
            const qsizetype bom = text.startsWith("\xEF\xBB\xBF") ? 3 : 0;
            const QByteArray line = text.mid(bom, text.indexOf('\n') - bom);
            QVERIFY(out.startsWith(line));
            code = out.mid(line.size(), length);
        } else {
            const int header = quint8(out[8]) | quint8(out[9]) << 8;
            code = out.mid(header + 1 + kFieldLength, length);
        }
        FieldTextDecoder decoder(width, height, job.options, job.parameters.symbology);
        QVERIFY(decoder.decode(code));
        const SymbolImage& image = decoder.image();
        ZXing::DecodeHints hints;
        hints.setFormats(eci ? ZXing::BarcodeFormat::QRCode : ZXing::BarcodeFormat::DataMatrix);
        hints.setIsPure(true);
        const ZXing::Result read = ZXing::ReadBarcode(
            ZXing::ImageView(image.pixels.data(), image.width, image.height, ZXing::ImageFormat::Lum), hints);
        QVERIFY(read.isValid());
        QCOMPARE(QString::fromStdString(read.text()).trimmed(), expected);
        QCOMPARE(read.hasECI(), eci);
    }

    // The header's drivers and the .cpg spellings of the GIS tools.
    void names_data()
    {
        QTest::addColumn<QByteArray>("cpg");
        QTest::addColumn<int>("driver");  // byte 29
        QTest::addColumn<QString>("page");
        QTest::newRow("ANSI 1252") << QByteArray("ANSI 1252") << 0x02 << QStringLiteral("cp1252");
        QTest::newRow("OEM 850") << QByteArray("OEM 850\n") << 0x03 << QStringLiteral("cp850");
        QTest::newRow("1250") << QByteArray("1250") << 0x00 << QStringLiteral("cp1250");
        QTest::newRow("65001") << QByteArray("65001") << 0x00 << QStringLiteral("utf-8");
        QTest::newRow("ISO-8859-1") << QByteArray("ISO-8859-1") << 0x00 << QStringLiteral("latin-1");
        QTest::newRow("unknown .cpg") << QByteArray("System") << 0xC9 << QStringLiteral("cp1251");
        QTest::newRow("0x65") << QByteArray() << 0x65 << QStringLiteral("cp866");
        QTest::newRow("0x26") << QByteArray() << 0x26 << QStringLiteral("cp866");
        QTest::newRow("0x64") << QByteArray() << 0x64 << QStringLiteral("cp852");
        QTest::newRow("0xCA") << QByteArray() << 0xCA << QStringLiteral("cp1254");
        QTest::newRow("0xCB") << QByteArray() << 0xCB << QStringLiteral("cp1253");
        QTest::newRow("0x04") << QByteArray() << 0x04 << QStringLiteral("mac-roman");
        QTest::newRow("0x1C") << QByteArray() << 0x1C << QStringLiteral("cp863");
        QTest::newRow("0x6B") << QByteArray() << 0x6B << QStringLiteral("cp857");
        QTest::newRow("0x13, Shift-JIS") << QByteArray() << 0x13 << QStringLiteral("cp850");  // not read: the default
    }

    void names()
    {
        QFETCH(QByteArray, cpg);
        QFETCH(int, driver);
        QFETCH(QString, page);
        QFile::remove(path("t.cpg"));
        if (!cpg.isEmpty())
            QVERIFY(testsupport::writeFile(path("t.cpg"), cpg));
        QCOMPARE(codePageName(dbfCodePage(path("t.dbf"), uchar(driver)).page), page);
        CodePage forced = CodePage::Latin1;
        for (const char* alias : {"windows-1252", "IBM850", "iso-8859-1", "UTF8", "latin-1"})
            QVERIFY2(parseCodePageName(QLatin1String(alias), &forced), alias);
        QVERIFY(!parseCodePageName(QStringLiteral("auto"), &forced));
        QCOMPARE(dbfCodePage(path("t.dbf"), uchar(driver), &forced).page, CodePage::Latin1);
    }
};

QTEST_GUILESS_MAIN(TestCodePages)
#include "test_codepages.moc"
