// The generation of an encoded base: the worked example byte for byte, the
// record rules, the refusals and their texts, the failure paths (nothing left
// behind, the destination untouched), and the peers: every code decoded with
// zxing-cpp, the encoded DBF read with dbfread.

#include "bases/dbf.h"
#include "codes/encoding.h"
#include "codes/fonttext.h"
#include "codes/verify.h"
#include "generation/baseencoder.h"
#include "generation/generationcore.h"
#include "tests/support/dbf_builder.h"
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

#include <QLockFile>

#include <atomic>

#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>

using namespace codiflux;

namespace {

using FieldDef = testsupport::DbfField;
using SourceRecord = testsupport::DbfRecord;
using testsupport::getLe16;
using testsupport::readFile;
using testsupport::writeFile;

const QString kCancelled = QStringLiteral("Fabrication de la base encodée annulée.");
const QString kSameFile = QStringLiteral("Le fichier de destination doit être différent du fichier source.");
const QString kBlankSample = QStringLiteral(
    "Cet enregistrement est vide, veuillez en sélectionner un autre pour permettre l'initialisation des paramêtres "
    "d'encodage.");

// A dBase file. `afterTerminator` goes between the 0x0D and the records (and
// counts in the header length).
QByteArray makeDbf(const QList<FieldDef>& fields, const QList<SourceRecord>& records, unsigned char version = 0x03,
                   const QByteArray& afterTerminator = {}, bool endOfFileByte = true)
{
    return testsupport::dbfBytes(fields, records,
                                 {.version = version,
                                  .afterTerminator = afterTerminator,
                                  .reserved29 = char(0x7F),  // a language driver unknown: kept, read as cp850
                                  .endOfFileByte = endOfFileByte});
}

EncodingParameters datamatrix10()
{
    EncodingParameters p;
    p.symbology = Symbology::Datamatrix;
    p.moduleSize = 1;
    p.marginSize = 0;
    p.sizeRequest = DmtxSymbol10x10;
    p.scheme = DmtxSchemeAutoBest;
    return p;
}

EncodingParameters qr8bit(int mode = QR_MODE_8)
{
    EncodingParameters p;
    p.symbology = Symbology::QRCode;
    p.qrLevel = QR_ECLEVEL_M;
    p.qrMode = mode;
    return p;
}

GenerationJob dbfJob(const QString& source, const QString& output, int fieldIndex, const QByteArray& sample)
{
    GenerationJob job;
    job.format = &formatOf(source);
    job.sourcePath = source;
    job.outputPath = output;
    job.parameters = datamatrix10();
    job.blankCodes = true;
    job.fieldIndex = fieldIndex;
    job.newFieldName = QStringLiteral("CODE2D");
    job.sample = sample;
    return job;
}

struct RunOutcome {
    bool ok = false;
    QString error;
};

RunOutcome runOnThread(const GenerationJob& job, int watchdogPeriod = 0)
{
    RunOutcome outcome;
    BaseEncoder encoder(job, &outcome.error, watchdogPeriod);
    encoder.start();
    encoder.wait();
    outcome.ok = encoder.getResultat();
    return outcome;
}

// The code text an independent path through the codes library gives.
QByteArray expectedCode(const EncodingParameters& p, const FontTextOptions& o, const QByteArray& value, int w, int h)
{
    QByteArray input = value;
    if (p.symbology == Symbology::QRCode && input.indexOf('\0') >= 0)
        input.truncate(input.indexOf('\0'));
    EncodedSymbol symbol;
    Encoder(p).encode(input, symbol);
    if (!symbol.isValid())
        return {};
    return toFontText(symbol.grid(), w, h, o, false).field;
}

// Temporaries, backups and locks a run must not leave behind.
QStringList leftovers(const QString& folder)
{
    return QDir(folder).entryList({QStringLiteral("*.tmp"), QStringLiteral("*.old"), QStringLiteral("*.lock")},
                                  QDir::Files | QDir::Hidden);
}

// A value as the table engine lists it: OEM text converted to ANSI.
QByteArray listed(QByteArray value)
{
    oemToAnsi(value.constData(), value.data(), std::size_t(value.size()));
    return value;
}

const QList<FieldDef> kTwoFields = {{"NAME", 'C', 10, 0}, {"NUM", 'C', 5, 0}};

QList<SourceRecord> twoFieldRecords()
{
    return {{' ', {"Alice", "12345"}}, {'*', {"Bob", "67890"}}, {' ', {"Carole", "24680"}}};
}

// The code field of every record of an encoded DBF, checked against the source
// records (kept in front of it) and decoded: the values of field `field`.
void checkRecords(const QByteArray& out, const QList<FieldDef>& fields, const QList<SourceRecord>& records, int field,
                  const FontTextOptions& options = {})
{
    const int headerLength = getLe16(out, 8);
    const int recordLength = getLe16(out, 10);
    const int sourceLength = testsupport::dbfRecordLength(fields);
    QCOMPARE(out.size(), headerLength + records.size() * recordLength);  // no 0x1A at the end
    for (int i = 0; i < records.size(); ++i) {
        const QByteArray record = out.mid(headerLength + i * recordLength, recordLength);
        QCOMPARE(record.left(sourceLength), testsupport::dbfRecordBytes(fields, records[i]));
        QCOMPARE(decodeFieldText(record.mid(sourceLength), 10, 10, options, Symbology::Datamatrix),
                 std::optional(records[i].values[field].trimmed()));
    }
}

}  // namespace

class TestGeneration : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;
    QString path(const QString& name) const { return dir->filePath(name); }

private slots:
    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(dir->isValid());
    }

    void twoFieldExample()
    {
        const QByteArray source = makeDbf(kTwoFields, twoFieldRecords());
        QVERIFY(writeFile(path("src.dbf"), source));
        const RunOutcome run = runOnThread(dbfJob(path("src.dbf"), path("out.dbf"), 1, "12345"));
        QVERIFY2(run.ok, qPrintable(run.error));
        QVERIFY(run.error.isEmpty());
        const QByteArray out = readFile(path("out.dbf"));
        QByteArray expected = source.left(32 * 3);  // reserved bytes kept, version 0x03
        expected[8] = char(129);
        expected[10] = char(46);
        QByteArray descriptor(32, '\0');
        descriptor.replace(0, 6, "CODE2D");
        descriptor[11] = 'C';
        descriptor[12] = char(16);  // its offset in the record
        descriptor[16] = char(30);  // R = 3 bands of 10 columns
        expected += descriptor + char(0x0D);
        QCOMPARE(out.left(129), expected);
        checkRecords(out, kTwoFields, twoFieldRecords(), 1);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(out.mid(129 + i * 46 + 16, 30),
                     expectedCode(datamatrix10(), {}, twoFieldRecords()[i].values[1], 10, 10));
        QVERIFY(leftovers(dir->path()).isEmpty());
    }

    // The records start at the header length, whatever lies between the
    // terminator and them; a 300-byte C field takes bytes 16-17; an N field's
    // decimals are no length; TAGS (8 bytes, last) stays behind the code.
    void layouts_data()
    {
        QTest::addColumn<QList<FieldDef>>("fields");
        QTest::addColumn<int>("version");
        QTest::addColumn<QByteArray>("area");
        QTest::addColumn<int>("field");
        QByteArray zeroFirst(263, '\x11');
        zeroFirst[0] = 0;
        QTest::newRow("0x30 area") << kTwoFields << 0x30 << zeroFirst << 1;
        QTest::newRow("0x30, 262 bytes") << kTwoFields << 0x30 << QByteArray(262, '\x01') << 1;
        QTest::newRow("0x03 padded header") << kTwoFields << 0x03 << QByteArray(2, '\0') << 1;
        QTest::newRow("wide and decimal fields")
            << QList<FieldDef>{{"NOTE", 'C', 300, 0}, {"PRICE", 'N', 8, 2}, {"NUM", 'C', 5, 0}} << 0x03 << QByteArray()
            << 2;
        QTest::newRow("8 bytes last, not TAGS")
            << QList<FieldDef>{{"NUM", 'C', 5, 0}, {"NOTE", 'C', 8, 0}} << 0x03 << QByteArray() << 0;
        QTest::newRow("TAGS") << QList<FieldDef>{{"NUM", 'C', 5, 0}, {"TAGS", 'C', 8, 0}} << 0x03 << QByteArray() << 0;
    }

    void layouts()
    {
        QFETCH(QList<FieldDef>, fields);
        QFETCH(int, version);
        QFETCH(QByteArray, area);
        QFETCH(int, field);
        QList<SourceRecord> records;
        for (const QByteArray value : {"12345", "67890", "24680"}) {
            QList<QByteArray> row(fields.size(), "  12.50");
            row[field] = value;
            row.last() = fields.last().name == "TAGS" ? QByteArray("AB\0XYZ12", 8) : row.last();
            records.append({' ', row});
        }
        QVERIFY(writeFile(path("src.dbf"), makeDbf(fields, records, quint8(version), area)));
        const RunOutcome run = runOnThread(dbfJob(path("src.dbf"), path("out.dbf"), field, records[0].values[field]));
        QVERIFY2(run.ok, qPrintable(run.error));
        const QByteArray out = readFile(path("out.dbf"));
        const int sourceLength = testsupport::dbfRecordLength(fields);
        QCOMPARE(int(getLe16(out, 8)), 32 * (int(fields.size()) + 2) + 1);
        QCOMPARE(int(getLe16(out, 10)), sourceLength + 30);
        if (fields.last().name != "TAGS")
            return checkRecords(out, fields, records, field);
        QCOMPARE(out.mid(32 * 2, 7), QByteArray("CODE2D\0", 7));  // then TAGS
        QCOMPARE(getLe16(out, 32 * 3 + 12), quint16(1 + 5 + 30 + 14));
        const QByteArray record = out.mid(getLe16(out, 8), getLe16(out, 10));
        QCOMPARE(decodeFieldText(record.mid(6, 30), 10, 10, {}, Symbology::Datamatrix),
                 std::optional(QByteArray("12345")));
        QCOMPARE(record.mid(36), QByteArray("AB\0\0\0\0\0\0", 8));  // up to its first NUL
    }

    // Every refusal before the first record has its text and writes nothing.
    void refusals_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("error");
        const QString trial = QStringLiteral(
            "Encodage impossible (vous pouvez essayer de changer la taille du datamatrix ou le mode d'encodage).");
        QTest::newRow("no base") << "kind"
                                 << "Aucune base d'origine n'est chargée.";
        QTest::newRow("missing source") << "missing"
                                        << "Impossible d'ouvrir la base d'origine.";
        QTest::newRow("source a FIFO") << "fifo"
                                       << "Impossible d'ouvrir la base d'origine.";
        QTest::newRow("field -1") << "field-1"
                                  << "Aucun champ à encoder n'est sélectionné.";
        QTest::newRow("field past the last") << "field2"
                                             << "Aucun champ à encoder n'est sélectionné.";
        QTest::newRow("descriptors beyond the header")
            << "mismatch"
            << "La description des champs de la base d'origine ne correspond pas à la table ouverte (2 champs lus, 1 "
               "attendus).";
        QTest::newRow("blank sample") << "blank" << kBlankSample;
        QTest::newRow("sample refused") << "trial" << trial;
        QTest::newRow("QR sample refused")
            << "qr"
            << "Encodage impossible (vous pouvez essayer de changer le mode d'encodage ou le niveau de correction "
               "d'erreur).";
        QTest::newRow("no destination") << "output"
                                        << "Aucun fichier de destination n'est indiqué.";
        QTest::newRow("blank field name") << "name"
                                          << "Le nom du champ encodé est vide ou commence par un espace.";
        QTest::newRow("field name taken")
            << "duplicate"
            << "La base d'origine a déjà un champ nommé « num » : choisissez un autre nom pour le champ encodé.";
        QTest::newRow("record beyond 65535 bytes")
            << "long"
            << "L'enregistrement de la base encodée ferait 65536 octets : le format DBF en admet au plus "
               "65535. Choisissez un code plus petit ou une base aux enregistrements plus courts.";
    }

    void refusals()
    {
        QFETCH(QString, fault);
        QFETCH(QString, error);
        QList<FieldDef> fields = kTwoFields;
        if (fault == "long")
            fields[0].length = 65536 - 1 - 5 - 30;
        QByteArray source = makeDbf(fields, twoFieldRecords());
        if (fault == "mismatch")
            testsupport::putLe16(source, 8, 65);  // the table has one field, the descriptors two
        QVERIFY(writeFile(path("src.dbf"), source));
        GenerationJob job = dbfJob(path("src.dbf"), path("out.dbf"), fault == "mismatch" ? 0 : 1, "12345");
        if (fault == "kind")
            job.format = nullptr;
        else if (fault == "missing")
            job.sourcePath = path("missing.dbf");
        else if (fault == "fifo")  // refused at once instead of waiting for a writer
            QVERIFY(::mkfifo(QFile::encodeName(job.sourcePath = path("pipe.dbf")).constData(), 0644) == 0);
        else if (fault.startsWith("field"))
            job.fieldIndex = fault == "field-1" ? -1 : 2;
        else if (fault == "blank")
            job.sample = "  \t  ";
        else if (fault == "trial")
            job.sample = "ABCDEFGH";  // too long for 10x10
        else if (fault == "qr")
            job.parameters = qr8bit(QR_MODE_NUM), job.sample = "1A";
        else if (fault == "output")
            job.outputPath.clear();
        else if (fault == "name")
            job.newFieldName = QStringLiteral(" CODE");
        else if (fault == "duplicate")
            job.newFieldName = QStringLiteral("num");
        const RunOutcome run = runOnThread(job);
        QVERIFY(!run.ok);
        QCOMPARE(run.error, error);
        QVERIFY(!QFile::exists(path("out.dbf")));
        QVERIFY(leftovers(dir->path()).isEmpty());
    }

    // Many values through both libraries, mirrored or not, with the text form:
    // zxing-cpp reads every code as the value the window lists, and dbfread
    // reads the base (a 300-byte field, a QR code field over 255 bytes: both
    // lengths in bytes 16-17; the deleted record; the values kept).
    void everyCodeDecodes_data()
    {
        QTest::addColumn<int>("symbology");
        QTest::addColumn<bool>("defaults");  // bit and pixel inversion, end-of-line
        QTest::addColumn<bool>("mirrors");
        QTest::newRow("datamatrix") << 0 << true << false;
        QTest::newRow("datamatrix, mirrored") << 0 << false << true;
        QTest::newRow("QR") << 1 << true << false;
        QTest::newRow("QR, mirrored") << 1 << true << true;
    }

    void everyCodeDecodes()
    {
        QFETCH(int, symbology);
        QFETCH(bool, defaults);
        QFETCH(bool, mirrors);
        const QList<FieldDef> fields = {{"NOTE", 'C', 300, 0}, {"PRICE", 'N', 8, 2}, {"REF", 'C', 16, 0}};
        QList<SourceRecord> records;
        for (int i = 0; i < 40; ++i)
            records.append({i % 9 == 4 ? '*' : ' ',
                            {"note " + QByteArray::number(i), QByteArray::number(i * 1.25, 'f', 2).rightJustified(8),
                             "REF-" + QByteArray::number(i * 7919 % 100000) + (i % 3 ? "/xy" : "\x82t\x82")}});
        QVERIFY(writeFile(path("src.dbf"), makeDbf(fields, records)));
        auto value = [&](int i) { return listed(testsupport::dbfRecordBytes(fields, records[i]).mid(309, 16)); };
        GenerationJob job = dbfJob(path("src.dbf"), path("out.dbf"), 2, value(0));
        if (symbology == int(Symbology::QRCode)) {
            job.parameters = qr8bit();
            job.parameters.qrVersion = 5;
        } else {
            job.parameters.sizeRequest = DmtxSymbol22x22;
            job.parameters.moduleSize = 2;
            job.parameters.marginSize = 1;
        }
        job.options.bitInversion = job.options.pixelInversion = job.options.endOfLine = defaults;
        job.options.horizontalInversion = job.options.verticalInversion = mirrors;
        job.writeText = true;
        const RunOutcome run = runOnThread(job);
        QVERIFY2(run.ok, qPrintable(run.error));
        int w = 0, h = 0;
        QVERIFY(!RecordCoder::measureSymbol(job.parameters, job.sample, &w, &h));
        const int r = fieldLength(w, h, job.options.endOfLine);
        const QByteArray out = readFile(path("out.dbf"));
        const int headerLength = getLe16(out, 8);
        QCOMPARE(int(getLe16(out, 10)), 325 + r);
        QCOMPARE(out.size(), headerLength + records.size() * (325 + r));
        FieldTextDecoder decoder(w, h, job.options, Symbology(symbology));
        const QList<QByteArray> lines = readFile(path("out.txt")).split('\n');
        for (int i = 0; i < records.size(); ++i) {
            const QByteArray record = out.mid(headerLength + i * (325 + r), 325 + r);
            QCOMPARE(decoder.decode(record.mid(325)), std::optional(value(i)));
            QCOMPARE(lines[i], record.mid(1));  // the text form: the same bytes, no flag
        }

        const char* script = R"(
import json, sys
from dbfread import DBF
t = DBF(sys.argv[1], encoding='latin-1', raw=True, load=True)
print(json.dumps([[f.length for f in t.fields], len(t.deleted)] +
                 [[r['NOTE'].decode('latin-1'), r['CODE2D'].decode('latin-1')] for r in t.records]))
)";
        QProcess python;
        python.start(QStringLiteral(CODIFLUX_PYTHON), {"-c", QString::fromLatin1(script), path("out.dbf")});
        if (!python.waitForFinished(60000) || python.exitCode() != 0)
            QSKIP("python3 with dbfread is not installed");
        const QJsonArray read = QJsonDocument::fromJson(python.readAllStandardOutput()).array();
        QCOMPARE(read[0].toArray(), QJsonArray({300, 8, 16, r}));
        QCOMPARE(read[1].toInt(), 4);
        for (int i = 0, row = 2; i < records.size(); ++i) {
            if (records[i].flag == '*')
                continue;
            const QJsonArray cells = read[row++].toArray();
            QCOMPARE(cells[0].toString().toLatin1(), records[i].values[0].leftJustified(300, ' '));
            QCOMPARE(decoder.decode(cells[1].toString().toLatin1()), std::optional(value(i)));
        }
    }

    // A destination that turns into a folder while the run writes is
    // refused at the commit: nothing is moved, the temporaries go.
    void destinationCheckedAgainAtCommit()
    {
        OutputFiles files;
        files.plan(path("late.dbf"), path("late.txt"));
        Error error;
        {
            OutputWriter writer(files);
            QVERIFY(!writer.open(QByteArray(33, ' ')));
            QVERIFY(QDir().mkdir(path("late.txt")));
            error = writer.commit();
        }
        QCOMPARE(error.code, ErrorCode::DestinationRefused);
        QVERIFY(error.text.contains(QStringLiteral("late.txt")));
        QVERIFY(!QFile::exists(path("late.dbf")));
        QCOMPARE(QDir(dir->path()).entryList(QDir::Files | QDir::Hidden), QStringList());
    }

    // A text output the system refuses to grow fails the record with its
    // text (the file-size limit stands for a full disk).
    void textWriteFailure()
    {
        OutputFiles files;
        files.plan(QString(), path("big.txt"));
        OutputWriter writer(files);
        QVERIFY(!writer.open(QByteArray()));
        QByteArray record(64 * 1024, 'x');
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit low = old;
        low.rlim_cur = 1024;
        setrlimit(RLIMIT_FSIZE, &low);
        const Error error = writer.writeRecord(record.data(), record.size());
        setrlimit(RLIMIT_FSIZE, &old);
        QCOMPARE(error.text, QStringLiteral("Erreur d'écriture de la base encodée (TXT)."));
    }

    // White space, as the preview trims it: 0x09 to 0x0D, the space, 0x85 and 0xA0.
    void whiteSpace()
    {
        ValueRule rule;
        rule.trimStart = rule.trimEnd = true;
        QCOMPARE(encodedValue(rule, QByteArray("\x09\x0D\x85\xA0 a\x0E\x08 \x0D")), QByteArray("a\x0E\x08"));
        QVERIFY(isBlankValue("\x0D\x09 ", 3) && !isBlankValue("\x0E", 1) && !isBlankValue("\x08", 1));
        // In UTF-8, U+0085 and U+00A0 are two bytes, and a lone 0x85 is no space.
        QVERIFY(isBlankValue("\x0D\x09 \xC2\xA0\xC2\x85\x0B", 8, true));
        QVERIFY(!isBlankValue("\x0E", 1, true) && !isBlankValue("\x08", 1, true) && !isBlankValue("\x85", 1, true));
    }

    // Readers that take byte 16 alone read a code field of up to 254 characters whole.
    void longCodeFieldWarned()
    {
        QVERIFY(longCodeFieldWarning(254).isEmpty());
        QVERIFY(longCodeFieldWarning(255).contains(QStringLiteral("255")));
    }

    // A number with decimals is encoded as the engine lists it, whatever
    // decimal mark the table stores.
    void decimalNumberAsListed()
    {
        const QList<FieldDef> fields = {{"PRICE", 'N', 8, 2}};
        QVERIFY(writeFile(path("n.dbf"), makeDbf(fields, {{' ', {"   12,50"}}})));
        GenerationJob job = dbfJob(path("n.dbf"), path("n-out.dbf"), 0, "12.50   ");
        job.parameters.sizeRequest = DmtxSymbol22x22;
        const RunOutcome run = runOnThread(job);
        QVERIFY2(run.ok, qPrintable(run.error));
        const QByteArray out = readFile(path("n-out.dbf"));
        QCOMPARE(decodeFieldText(out.mid(getLe16(out, 8) + 9), 22, 22, job.options, Symbology::Datamatrix),
                 std::optional(QByteArray("12.50   ")));
    }

    // A record the library refuses, or one the file does not hold whole,
    // stops the run: the destinations stay as they were, nothing is left.
    void failureLeavesDestination()
    {
        QList<SourceRecord> records;
        for (int i = 0; i < 10; ++i)
            records.append({' ', {"N", QByteArray::number(10000 + i)}});
        records[6].values[1] = "1A2B3";  // refused in numeric QR mode
        QVERIFY(writeFile(path("src.dbf"), makeDbf(kTwoFields, records)));
        const QByteArray previous = "a good encoded base written earlier";
        QVERIFY(writeFile(path("out.dbf"), previous));
        QVERIFY(writeFile(path("out.txt"), previous + " (text)"));
        GenerationJob job = dbfJob(path("src.dbf"), path("out.dbf"), 1, "10000");
        job.parameters = qr8bit(QR_MODE_NUM);
        job.writeText = true;
        RunOutcome run = runOnThread(job);
        QCOMPARE(run.error, QStringLiteral("Erreur en cours d'encodage à l'enregistrement 7 valeur à encoder:\n1A2B3"));
        QCOMPARE(readFile(path("out.dbf")), previous);
        QCOMPARE(readFile(path("out.txt")), previous + " (text)");
        QVERIFY(leftovers(dir->path()).isEmpty());

        QByteArray truncated = makeDbf(kTwoFields, records.mid(0, 4), 0x03, {}, false);
        truncated[4] = char(9);  // 9 announced, 4 held
        QVERIFY(writeFile(path("src.dbf"), truncated));
        job.parameters = datamatrix10();
        run = runOnThread(job);
        QCOMPARE(run.error,
                 QStringLiteral("Erreur de lecture de la base DBF à encoder. L'enregistrement n°5 est trop court."));
        QCOMPARE(readFile(path("out.dbf")), previous);
        QVERIFY(leftovers(dir->path()).isEmpty());
    }

    // Cancelled mid-run, or terminated by the window's watchdog while a
    // record hangs: the temporaries go, the destinations stay.
    void interruptionLeavesDestination()
    {
        QList<SourceRecord> records;
        for (int i = 0; i < 500; ++i)
            records.append({' ', {"N", QByteArray::number(10000 + i)}});
        QVERIFY(writeFile(path("src.dbf"), makeDbf(kTwoFields, records)));
        const QByteArray previous = "earlier encoded base";
        QVERIFY(writeFile(path("out.dbf"), previous) && writeFile(path("out.txt"), previous));
        GenerationJob job = dbfJob(path("src.dbf"), path("out.dbf"), 1, "12345");
        job.writeText = true;
        QString error;
        BaseEncoder cancelled(job, &error, 0);
        connect(
            &cancelled, &BaseEncoder::progressValueChanged, &cancelled,
            [&](int value) {
                if (value == 100) {
                    QVERIFY(QFile::exists(cancelled.files().dbfTemporary()));
                    cancelled.annuler();
                }
            },
            Qt::DirectConnection);
        cancelled.start();
        QVERIFY(cancelled.wait(60000));
        QCOMPARE(error, kCancelled);
        QCOMPARE(cancelled.currentRecord(), qint64(51));  // stopped at the top of the next record
        QCOMPARE(readFile(path("out.dbf")), previous);
        QVERIFY(leftovers(dir->path()).isEmpty());

        BaseEncoder stuck(job, &error, 3000);
        std::atomic<bool> hanging{false};
        connect(
            &stuck, &BaseEncoder::progressValueChanged, &stuck,
            [&](int value) {
                for (hanging = value == 500; hanging;)  // as a library call that never returns
                    QThread::msleep(5);
            },
            Qt::DirectConnection);
        stuck.start();
        QTRY_VERIFY_WITH_TIMEOUT(hanging.load(), 30000);
        QVERIFY(QFile::exists(stuck.files().textTemporary()));
        stuck.setMessageErreur(QStringLiteral("Enregistrement n°%1"));
        stuck.terminate();
        QVERIFY(stuck.wait(30000));
        stuck.removeTemporaryFiles();
        QVERIFY(!stuck.getResultat());
        QCOMPARE(error, QStringLiteral("Enregistrement n°250"));
        QCOMPARE(readFile(path("out.dbf")), previous);
        QCOMPARE(readFile(path("out.txt")), previous);
        QVERIFY(leftovers(dir->path()).isEmpty());
    }

    // No output may replace a file the run reads (the source, its memo, by
    // any path), a file that is not a regular one, a read-only one, or one
    // another run is writing.
    void destinationsRefused_data()
    {
        QTest::addColumn<QString>("destination");
        QTest::addColumn<QString>("error");  // %1: the file refused
        QTest::addColumn<QString>("refused");
        const QString notRegular = QStringLiteral("« %1 » n'est pas un fichier ordinaire : il ne sera pas remplacé.");
        QTest::newRow("the source") << "sub/../src.dbf" << kSameFile << "";
        QTest::newRow("a link to it") << "link.dbf" << kSameFile << "";
        const QString sameMemo = QStringLiteral(
            "Le fichier de destination doit être différent du fichier mémo de la base d'origine (%1).");
        QTest::newRow("its memo") << "src.dbt" << sameMemo << "src.dbt";
        QTest::newRow("a folder") << "folder" << notRegular << "folder";
        QTest::newRow("a FIFO") << "fifo" << notRegular << "fifo";
        QTest::newRow("read-only") << "readonly.dbf"
                                   << "« %1 » est en lecture seule : il ne sera pas remplacé."
                                   << "readonly.dbf";
        QTest::newRow("locked")
            << "locked.dbf"
            << "« %1 » est déjà en cours d'écriture par une autre génération. Réessayez lorsqu'elle "
               "sera terminée."
            << "locked.dbf";
    }

    void destinationsRefused()
    {
        QFETCH(QString, destination);
        QFETCH(QString, error);
        QFETCH(QString, refused);
        const QByteArray source = makeDbf(kTwoFields, twoFieldRecords());
        QVERIFY(writeFile(path("src.dbf"), source) && writeFile(path("src.dbt"), "memo"));
        QVERIFY(QDir(dir->path()).mkdir("sub") && QDir(dir->path()).mkdir("folder"));
        QVERIFY(QFile::link(path("src.dbf"), path("link.dbf")));
        QVERIFY(::mkfifo(QFile::encodeName(path("fifo")).constData(), 0644) == 0);
        QVERIFY(writeFile(path("readonly.dbf"), "kept") && writeFile(path("locked.dbf"), "kept"));
        QVERIFY(::chmod(QFile::encodeName(path("readonly.dbf")).constData(), 0444) == 0);
        QLockFile lock(OutputFiles::lockPathFor(path("locked.dbf")));
        QVERIFY(lock.tryLock(0));
        const RunOutcome run = runOnThread(dbfJob(path("src.dbf"), path(destination), 1, "12345"));
        QVERIFY(!run.ok);
        QCOMPARE(run.error, refused.isEmpty() ? error : error.arg(path(refused)));
        QCOMPARE(readFile(path("src.dbf")), source);
        QCOMPARE(readFile(path("src.dbt")), QByteArray("memo"));
        QVERIFY(QFileInfo(path("folder")).isDir());
        QCOMPARE(readFile(path("readonly.dbf")) + readFile(path("locked.dbf")), QByteArray("keptkept"));
        QCOMPARE(leftovers(dir->path()), QStringList{QStringLiteral(".locked.dbf.lock")});
    }

    // The second move fails (its folder is gone): the first destination,
    // already replaced, is given back as it was; with the folder, both go.
    void movesRolledBack_data()
    {
        QTest::addColumn<bool>("firstExisted");
        QTest::newRow("first destination replaced") << true;
        QTest::newRow("first destination new") << false;
    }

    void movesRolledBack()
    {
        QFETCH(bool, firstExisted);
        QVERIFY(writeFile(path("a.tmp"), "new A") && writeFile(path("b.tmp"), "new B"));
        if (firstExisted)
            QVERIFY(writeFile(path("a.dbf"), "old A"));
        const QList<PendingMove> moves{{path("a.tmp"), path("a.dbf")}, {path("b.tmp"), path("gone/b.txt")}};
        QVERIFY(!moveAllIntoPlace(moves));
        QCOMPARE(readFile(path("a.dbf")), firstExisted ? QByteArray("old A") : QByteArray());
        QCOMPARE(QFile::exists(path("a.dbf")), firstExisted);
        QCOMPARE(readFile(path("b.tmp")), QByteArray("new B"));
        QVERIFY(!leftovers(dir->path()).join(QLatin1Char(' ')).contains(QLatin1String(".old")));  // no backup left
        QVERIFY(QDir(dir->path()).mkdir(QStringLiteral("gone")));
        QVERIFY(writeFile(path("a.tmp"), "new A"));
        QVERIFY(moveAllIntoPlace(moves));
        QCOMPARE(readFile(path("a.dbf")) + readFile(path("gone/b.txt")), QByteArray("new Anew B"));
        QVERIFY(leftovers(dir->path()).isEmpty());
    }

    void textSource_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("error");  // empty: success, the values are the range's
        QTest::newRow("range 2:3, CR LF") << QByteArray("a123b\r\nc456d\r\ne789f") << 2 << 3 << QString();
        QTest::newRow("whole line") << QByteArray("12345\n67890\n") << 1 << 5 << QString();
        QTest::newRow("one column") << QByteArray("a1b\nc2d\n") << 2 << 1 << QString();
        QTest::newRow("trailing empty line")
            << QByteArray("123\n456\n\n") << 1 << 3
            << QStringLiteral("Les enregistrements du fichier source n'ont pas tous la même longueur.");
        QTest::newRow("leading empty line")
            << QByteArray("\n123\n456\n") << 1 << 3
            << QStringLiteral("Erreur de lecture de la base texte à encoder. L'enregistrement n°1 est trop court.");
        QTest::newRow("range past the line")
            << QByteArray("12345\n67890\n") << 4 << 3
            << QStringLiteral("La plage sélectionnée (positions 4 à 6) dépasse la longueur des enregistrements du "
                              "fichier source (5 caractères).");
        QTest::newRow("range to the last column") << QByteArray("12345\n67890\n") << 3 << 3 << QString();
        QTest::newRow("no range") << QByteArray("12345\n") << 0 << 0 << kBlankSample;
    }

    void textSource()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, start);
        QFETCH(int, count);
        QFETCH(QString, error);
        QVERIFY(writeFile(path("src.txt"), content));
        QList<QByteArray> lines = content.trimmed().split('\n');
        const QByteArray sample = start >= 1 ? lines.first().trimmed().mid(start - 1, count) : QByteArray();
        GenerationJob job = dbfJob(path("src.txt"), path("out.txt"), -1, sample);
        job.rangeStart = start;
        job.rangeCount = count;
        const RunOutcome run = runOnThread(job);
        QCOMPARE(run.error, error);
        QCOMPARE(QFile::exists(path("out.txt")), error.isEmpty());
        QVERIFY(leftovers(dir->path()).isEmpty());
        const QList<QByteArray> out = readFile(path("out.txt")).split('\n');
        for (int i = 0; error.isEmpty() && i < lines.size(); ++i) {
            const QByteArray line = lines[i].trimmed();
            QCOMPARE(out[i].left(line.size()), line);
            QCOMPARE(decodeFieldText(out[i].mid(line.size()), 10, 10, {}, Symbology::Datamatrix),
                     std::optional(line.mid(start - 1, count)));
        }
    }

    // A memo field's text is encoded as listed, not its block number; the
    // memo file goes beside the encoded base, all the outputs or none.
    void memo()
    {
        const QList<FieldDef> fields = {{"REF", 'C', 4, 0}, {"NOTE", 'M', 10, 0}};
        const QByteArray source = makeDbf(
            fields, {{' ', {"A", "         1"}}, {' ', {"B", "         2"}}, {' ', {"C", "         3"}}}, 0x83);
        const QByteArray memo = testsupport::memoBytes(
            {{1, "H\x82l\x8Ane\x1A\x1A"}, {2, "Note 2\x1A\x1A"}, {3, "Xy.Zw!Qr?P and more\x1A\x1A"}});
        QVERIFY(writeFile(path("src.dbf"), source) && writeFile(path("src.dbt"), memo));
        const QList<QByteArray> expected = {"H\xE9l\xE8ne", "Note 2", "Xy.Zw!Qr?P"};
        GenerationJob job = dbfJob(path("src.dbf"), path("out.dbf"), 1, expected[0] + "    ");
        job.parameters.sizeRequest = DmtxSymbol16x16;
        job.trimEnd = true;
        RunOutcome run = runOnThread(job);
        QVERIFY2(run.ok, qPrintable(run.error));
        QCOMPARE(readFile(path("out.dbt")), memo);
        const QByteArray out = readFile(path("out.dbf"));
        QCOMPARE(quint8(out[0]), quint8(0x83));
        FieldTextDecoder decoder(16, 16, job.options, Symbology::Datamatrix);
        for (int i = 0; i < 3; ++i) {
            const QByteArray record = out.mid(getLe16(out, 8) + i * getLe16(out, 10), getLe16(out, 10));
            QCOMPARE(record.left(15), source.mid(32 * 3 + 1 + i * 15, 15));  // the block number stays
            QCOMPARE(decoder.decode(record.mid(15)), std::optional(expected[i]));
        }
        job.parameters.sizeRequest = DmtxSymbolSquareAuto;  // the third note outgrows the sample's symbol
        job.outputPath = path("failed.dbf");
        run = runOnThread(job);
        QVERIFY2(run.error.startsWith(QStringLiteral("Le code de l'enregistrement n°3 (")), qPrintable(run.error));
        QVERIFY(!QFile::exists(path("failed.dbf")) && !QFile::exists(path("failed.dbt")));
        QVERIFY(leftovers(dir->path()).isEmpty());
        job.outputPath = dir->path() + "/sub/../out.DBT";  // the base would be its own memo
        QCOMPARE(runOnThread(job).error,
                 QStringLiteral("La base encodée et son fichier mémo auraient le même chemin : "
                                "%1. Choisissez un autre nom pour la base encodée.")
                     .arg(job.outputPath));
        QVERIFY(!QFile::exists(path("out.DBT")) && leftovers(dir->path()).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestGeneration)
#include "test_generation.moc"
