// The generation of an encoded base: file layout byte for byte, the record
// rules, the text forms, progress, the failure paths (nothing left behind, the
// destination untouched), and the peers: every code decoded with zxing-cpp,
// the encoded DBF read with dbfread.

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
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <QLockFile>

#include <atomic>
#include <cstring>

#include <sys/stat.h>

using namespace codiflux;

namespace {

using FieldDef = testsupport::DbfField;
using SourceRecord = testsupport::DbfRecord;
using testsupport::readFile;
using testsupport::writeFile;

const QString kCancelled = QStringLiteral("Fabrication de la base encodée annulée.");
const QString kSameFile = QStringLiteral("Le fichier de destination doit être différent du fichier source.");
const QString kUnequal = QStringLiteral("Les enregistrements du fichier source n'ont pas tous la même longueur.");
const QString kBlankSample = QStringLiteral(
    "Cet enregistrement est vide, veuillez en sélectionner un autre pour permettre l'initialisation des paramêtres "
    "d'encodage.");

QByteArray recordBytes(const QList<FieldDef>& fields, const SourceRecord& record)
{
    return testsupport::dbfRecordBytes(fields, record);
}

// A dBase file. `afterTerminator` goes between the 0x0D and the records (and
// counts in the header length).
QByteArray makeDbf(const QList<FieldDef>& fields, const QList<SourceRecord>& records, unsigned char version = 0x03,
                   const QByteArray& afterTerminator = {}, bool endOfFileByte = true)
{
    return testsupport::dbfBytes(fields, records,
                                 {.version = version,
                                  .afterTerminator = afterTerminator,
                                  .reserved29 = char(0x57),  // a reserved byte that must be kept
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

EncodingParameters qr8bit()
{
    EncodingParameters p;
    p.symbology = Symbology::QRCode;
    p.qrVersion = 0;
    p.qrLevel = QR_ECLEVEL_M;
    p.qrMode = QR_MODE_8;
    return p;
}

GenerationJob dbfJob(const QString& source, const QString& output, const QList<FieldDef>& fields, int fieldIndex,
                     const QByteArray& sample)
{
    GenerationJob job;
    job.typeSource = BaseDbf;
    job.sourcePath = source;
    job.outputPath = output;
    job.parameters = datamatrix10();
    job.blankCodes = true;
    job.fieldIndex = fieldIndex;
    for (const FieldDef& f : fields) {
        DbfFieldInfo info{};
        qstrncpy(info.name, f.name.constData(), sizeof info.name);
        const int index = QByteArray("CNFDML").indexOf(f.type);
        info.type = f.decimals != 0 ? DbfFloat : index;
        info.length = f.length;
        info.decimals = f.decimals;
        job.fields.append(info);
    }
    job.tableFieldCount = unsigned(fields.size());
    job.newFieldName = QStringLiteral("CODE2D");
    job.sample = sample;
    return job;
}

GenerationJob textJob(const QString& source, const QString& output, int start, int count, const QByteArray& sample)
{
    GenerationJob job;
    job.typeSource = BaseText;
    job.sourcePath = source;
    job.outputPath = output;
    job.parameters = datamatrix10();
    job.rangeStart = start;
    job.rangeCount = count;
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

quint16 le16(const QByteArray& b, int at)
{
    return quint16(quint8(b[at]) | (quint8(b[at + 1]) << 8));
}

quint32 le32(const QByteArray& b, int at)
{
    return quint32(quint8(b[at])) | (quint32(quint8(b[at + 1])) << 8) | (quint32(quint8(b[at + 2])) << 16)
        | (quint32(quint8(b[at + 3])) << 24);
}

// A value as the table engine lists it: OEM text converted to ANSI.
QByteArray listed(QByteArray value)
{
    oemToAnsi(value.constData(), value.data(), std::size_t(value.size()));
    return value;
}

// A dBase III memo file: the header block, then one 512-byte block a text
// (block numbers 1, 2, ...), each ended by 0x1A 0x1A.
QByteArray dbtBytes(const QList<QByteArray>& texts)
{
    QByteArray bytes(512, '\0');
    testsupport::putLe32(bytes, 0, quint32(texts.size() + 1));
    for (const QByteArray& t : texts)
        bytes += (t + "\x1A\x1A").leftJustified(512, '\0', true);
    return bytes;
}

// A Visual FoxPro memo file of 64-byte blocks: the 512-byte header, then
// each text from block 8 on (type 1, big-endian length); `blocks` gets the
// block numbers.
QByteArray fptBytes(const QList<QByteArray>& texts, QList<quint32>* blocks)
{
    auto be32 = [](quint32 v) {
        const char b[4] = {char(v >> 24), char((v >> 16) & 0xFF), char((v >> 8) & 0xFF), char(v & 0xFF)};
        return QByteArray(b, 4);
    };
    QByteArray body;
    quint32 block = 8;
    for (const QByteArray& t : texts) {
        blocks->append(block);
        QByteArray b = be32(1) + be32(quint32(t.size())) + t;
        b = b.leftJustified((b.size() + 63) / 64 * 64, '\0');
        block += quint32(b.size() / 64);
        body += b;
    }
    QByteArray header = be32(block) + QByteArray(3, '\0') + QByteArray(1, char(64));  // block size, big-endian
    return header.leftJustified(512, '\0') + body;
}

// What dbfread makes of a table: every live record's fields, as text.
std::optional<QJsonArray> dbfreadRecords(const QString& dbf)
{
    if (!QFile::exists(QStringLiteral(CODIFLUX_PYTHON)))
        return std::nullopt;
    const char* script = R"(
import json, sys
from dbfread import DBF
t = DBF(sys.argv[1], encoding='latin-1')
print(json.dumps([{k: str(v) for k, v in r.items()} for r in t]))
)";
    QProcess python;
    python.start(QStringLiteral(CODIFLUX_PYTHON), {"-c", QString::fromLatin1(script), dbf});
    if (!python.waitForFinished(60000) || python.exitCode() != 0) {
        qWarning() << python.readAllStandardError();
        return std::nullopt;
    }
    return QJsonDocument::fromJson(python.readAllStandardOutput()).array();
}

bool hasDbfread()
{
    QProcess probe;
    probe.start(QStringLiteral(CODIFLUX_PYTHON), {"-c", "import dbfread"});
    return QFile::exists(QStringLiteral(CODIFLUX_PYTHON)) && probe.waitForFinished(30000) && probe.exitCode() == 0;
}

const QList<FieldDef> kTwoFields = {{"NAME", 'C', 10, 0}, {"NUM", 'C', 5, 0}};

QList<SourceRecord> twoFieldRecords()
{
    return {{' ', {"Alice", "12345"}}, {'*', {"Bob", "67890"}}, {' ', {"Carole", "24680"}}};
}

}  // namespace

class TestGeneration : public QObject {
    Q_OBJECT

private slots:
    void init();

    void twoFieldExample();
    void endOfLine();
    void tagsRule();
    void newFieldName_data();
    void newFieldName();
    void duplicateFieldName_data();
    void duplicateFieldName();
    void blankValues_data();
    void blankValues();
    void visualFoxProSource_data();
    void visualFoxProSource();
    void numericWithDecimals();
    void longCharacterField();
    void progress();
    void watchdogCadence();
    void textOutputHasNoInnerLineBreaks();
    void textSource_data();
    void textSource();
    void symbolSizes();
    void setupFailures_data();
    void setupFailures();
    void everyRefusalHasText_data();
    void everyRefusalHasText();
    void everyCodeDecodes_data();
    void everyCodeDecodes();
    void dbfreadReadsTheOutput();
    void failureLeavesDestination_data();
    void failureLeavesDestination();
    void cancellationLeavesDestination();
    void watchdogTerminationLeavesDestination();
    void givenUpRunMovesNothingIntoPlace();
    void sameFileRefused();
    void destinationChecked_data();
    void destinationChecked();
    void movesRolledBack_data();
    void movesRolledBack();
    void concurrentRunsExclusive();
    void oversizedOutputRefused_data();
    void oversizedOutputRefused();
    void recordCoderSharedAcrossThreads();
    void corpus();
    void listedValuesAreEncoded_data();
    void listedValuesAreEncoded();
    void memoFileBesideTheOutput_data();
    void memoFileBesideTheOutput();
    void memoFieldAsCode();

private:
    std::unique_ptr<QTemporaryDir> dir;
    QString path(const QString& name) const { return dir->filePath(name); }

    // src.dbf of 500 records, `previous` in out.dbf and out.txt, and in `job`
    // the run that encodes the second field into both; false when a file
    // could not be written.
    bool stageLongRun(const QByteArray& previous, GenerationJob* job)
    {
        QList<SourceRecord> records;
        for (int i = 0; i < 500; ++i)
            records.append({' ', {"N", QByteArray::number(10000 + i)}});
        if (!writeFile(path("src.dbf"), makeDbf(kTwoFields, records)) || !writeFile(path("out.dbf"), previous)
            || !writeFile(path("out.txt"), previous))
            return false;
        *job = dbfJob(path("src.dbf"), path("out.dbf"), kTwoFields, 1, "12345");
        job->writeText = true;
        return true;
    }
};

void TestGeneration::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
}

void TestGeneration::twoFieldExample()
{
    const QList<SourceRecord> records = twoFieldRecords();
    const QByteArray source = makeDbf(kTwoFields, records);
    QVERIFY(writeFile(path("src.dbf"), source));
    const GenerationJob job = dbfJob(path("src.dbf"), path("out.dbf"), kTwoFields, 1, "12345");
    const RunOutcome run = runOnThread(job);
    QVERIFY2(run.ok, qPrintable(run.error));
    QVERIFY(run.error.isEmpty());

    const QByteArray out = readFile(path("out.dbf"));
    const int headerLength = 129;
    const int recordLength = 46;
    QCOMPARE(out.size(), headerLength + 3 * recordLength);  // no 0x1A at the end

    QByteArray expected = source.left(32);
    expected[0] = 0x03;
    expected[8] = char(129);
    expected[9] = 0;
    expected[10] = char(46);
    expected[11] = 0;
    expected += source.mid(32, 64);
    QByteArray descriptor(32, '\0');
    std::memcpy(descriptor.data(), "CODE2D", 6);
    descriptor[11] = 'C';
    descriptor[12] = char(16);
    descriptor[16] = char(30);
    expected += descriptor;
    expected += char(0x0D);
    QCOMPARE(out.left(headerLength), expected);
    QCOMPARE(le16(out, 8), quint16(129));
    QCOMPARE(le16(out, 10), quint16(46));
    QCOMPARE(le16(out, 32 * 3 + 12), quint16(16));
    QCOMPARE(le16(out, 32 * 3 + 16), quint16(30));

    for (int i = 0; i < records.size(); ++i) {
        const QByteArray record = out.mid(headerLength + i * recordLength, recordLength);
        const QByteArray sourceRecord = recordBytes(kTwoFields, records[i]);
        QCOMPARE(record.left(16), sourceRecord);  // flag (deleted kept) and the source values
        const QByteArray code = record.mid(16);
        QCOMPARE(code, expectedCode(job.parameters, job.options, records[i].values[1], 10, 10));
        QCOMPARE(decodeFieldText(code, 10, 10, job.options, Symbology::Datamatrix),
                 std::optional(records[i].values[1]));
    }
    QCOMPARE(out.at(headerLength + recordLength), '*');
    QVERIFY(leftovers(dir->path()).isEmpty());
}

void TestGeneration::endOfLine()
{
    QVERIFY(writeFile(path("src.dbf"), makeDbf(kTwoFields, twoFieldRecords())));
    GenerationJob job = dbfJob(path("src.dbf"), path("out.dbf"), kTwoFields, 1, "12345");
    job.options.endOfLine = true;
    job.options.endOfLineCharacter = ' ';
    job.options.bitInversion = true;
    job.options.pixelInversion = true;
    const RunOutcome run = runOnThread(job);
    QVERIFY2(run.ok, qPrintable(run.error));
    const QByteArray out = readFile(path("out.dbf"));
    QCOMPARE(le16(out, 10), quint16(16 + 33));
    QCOMPARE(le16(out, 32 * 3 + 16), quint16(33));
    for (int i = 0; i < 3; ++i) {
        const QByteArray code = out.mid(129 + i * 49 + 16, 33);
        for (int j = 0; j < 33; ++j) {
            if (j % 11 == 10)
                QCOMPARE(code.at(j), ' ');
            else
                QVERIFY(code.at(j) >= 'A' && code.at(j) <= 'P');
        }
        QCOMPARE(decodeFieldText(code, 10, 10, job.options, Symbology::Datamatrix),
                 std::optional(twoFieldRecords()[i].values[1]));
    }
}

void TestGeneration::tagsRule()
{
    const QList<FieldDef> fields = {{"NAME", 'C', 10, 0}, {"NUM", 'C', 5, 0}, {"TAGS", 'C', 8, 0}};
    QList<SourceRecord> records
        = {{' ', {"Alice", "12345", QByteArray("AB\0XYZ12", 8)}}, {' ', {"Bob", "67890", "TAGVALUE"}}};
    QVERIFY(writeFile(path("src.dbf"), makeDbf(fields, records)));
    GenerationJob job = dbfJob(path("src.dbf"), path("out.dbf"), fields, 1, "12345");
    job.writeText = true;
    const RunOutcome run = runOnThread(job);
    QVERIFY2(run.ok, qPrintable(run.error));
    const QByteArray out = readFile(path("out.dbf"));
    const int headerLength = 32 * 5 + 1;
    const int recordLength = 24 + 30;  // the TAGS value moves behind the code
    QCOMPARE(le16(out, 8), quint16(headerLength));
    QCOMPARE(le16(out, 10), quint16(recordLength));
    QCOMPARE(out.size(), headerLength + 2 * recordLength);
    // Header order: NAME, NUM, the new field, TAGS.
    QCOMPARE(out.mid(32, 4), QByteArray("NAME"));
    QCOMPARE(out.mid(64, 3), QByteArray("NUM"));
    const QByteArray added = out.mid(96, 32);
    QCOMPARE(added.left(7), QByteArray("CODE2D\0", 7));
    QCOMPARE(le16(added, 12), quint16(16));  // the TAGS field's source offset
    QCOMPARE(le16(added, 16), quint16(30));
    QByteArray tags(32, '\0');
    std::memcpy(tags.data(), "TAGS", 4);
    tags[11] = 'C';
    tags[12] = char(16 + 30 + 14);
    tags[14] = char(0x7E);
    tags[15] = char(0x49);
    tags[16] = char(8);
    tags[20] = char(1);
    QCOMPARE(out.mid(128, 32), tags);
    QCOMPARE(out.at(160), char(0x0D));

    for (int i = 0; i < 2; ++i) {
        const QByteArray record = out.mid(headerLength + i * recordLength, recordLength);
        QCOMPARE(record.left(16), recordBytes(fields, records[i]).left(16));
        QCOMPARE(decodeFieldText(record.mid(16, 30), 10, 10, job.options, Symbology::Datamatrix),
                 std::optional(records[i].values[1]));
        const QByteArray tagsValue = i == 0 ? QByteArray("AB\0\0\0\0\0\0", 8) : QByteArray("TAGVALUE");
        QCOMPARE(record.mid(46, 8), tagsValue);
    }
    // The text form: record without its flag, code, TAGS value.
    const QList<QByteArray> lines = readFile(path("out.txt")).split('\n');
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines[1], out.mid(headerLength + recordLength + 1, recordLength - 1));
}

void TestGeneration::newFieldName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("stored");
    QTest::newRow("short") << "CODE" << QByteArray("CODE\0\0\0\0\0\0\0", 11);
    QTest::newRow("ten") << "ABCDEFGHIJ" << QByteArray("ABCDEFGHIJ\0", 11);
    QTest::newRow("cut at 10") << "ABCDEFGHIJKLMN" << QByteArray("ABCDEFGHIJ\0", 11);
    QTest::newRow("latin-1") << QStringLiteral("CODÉ") << QByteArray("COD\xC9\0\0\0\0\0\0\0", 11);
}

void TestGeneration::newFieldName()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, stored);
    QVERIFY(writeFile(path("src.dbf"), makeDbf(kTwoFields, twoFieldRecords())));
    GenerationJob job = dbfJob(path("src.dbf"), path("out.dbf"), kTwoFields, 1, "12345");
    job.newFieldName = name;
    const RunOutcome run = runOnThread(job);
    QVERIFY2(run.ok, qPrintable(run.error));
    QCOMPARE(readFile(path("out.dbf")).mid(96, 11), stored);
}

void TestGeneration::duplicateFieldName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("written");  // the name as it would be stored
    QTest::newRow("same name") << "NUM"
                               << "NUM";
    QTest::newRow("other case") << "num"
                                << "num";
    QTest::newRow("same once cut at 10") << "Reference1X"
                                         << "Reference1";
}

void TestGeneration::duplicateFieldName()
{
    QFETCH(QString, name);
    QFETCH(QString, written);
    const QList<FieldDef> fields = {{"REFERENCE1", 'C', 6, 0}, {"NUM", 'C', 5, 0}};
    QVERIFY(writeFile(path("src.dbf"), makeDbf(fields, {{' ', {"A", "12345"}}})));
    GenerationJob job = dbfJob(path("src.dbf"), path("out.dbf"), fields, 1, "12345");
    job.newFieldName = name;
    const RunOutcome run = runOnThread(job);
    QVERIFY(!run.ok);
    QCOMPARE(run.error,
             QStringLiteral("La base d'origine a déjà un champ nommé « %1 » : choisissez un autre nom pour "
                            "le champ encodé.")
                 .arg(written));
    QVERIFY(!QFile::exists(path("out.dbf")));
}

void TestGeneration::blankValues_data()
{
    QTest::addColumn<bool>("blankCodes");
    QTest::addColumn<bool>("pixelInversion");
    QTest::addColumn<char>("filler");
    QTest::newRow("spaces") << false << false << ' ';
    QTest::newRow("blank code") << true << false << 'A';
    QTest::newRow("blank code, pixel inversion") << true << true << 'P';
}

void TestGeneration::blankValues()
{
    QFETCH(bool, blankCodes);
    QFETCH(bool, pixelInversion);
    QFETCH(char, filler);
    const QList<SourceRecord> records = {{' ', {"Alice", "12345"}},
                                         {' ', {"Blank", "     "}},
                                         {' ', {"Tab", "\t  \r "}},
                                         {' ',
                                          {"Nul",
                                           QByteArray("\0"
                                                      "123",
                                                      5)}}};
    QVERIFY(writeFile(path("src.dbf"), makeDbf(kTwoFields, records)));
    GenerationJob job = dbfJob(path("src.dbf"), path("out.dbf"), kTwoFields, 1, "12345");
    job.blankCodes = blankCodes;
    job.options.pixelInversion = pixelInversion;
    const RunOutcome run = runOnThread(job);
    QVERIFY2(run.ok, qPrintable(run.error));
    const QByteArray out = readFile(path("out.dbf"));
    QCOMPARE(out.size(), 129 + 4 * 46);
    for (int i = 1; i < 4; ++i)  // a value empty up to its first NUL is blank too
        QCOMPARE(out.mid(129 + i * 46 + 16, 30), QByteArray(30, filler));
    QVERIFY(out.mid(129 + 16, 30) != QByteArray(30, filler));
}

void TestGeneration::visualFoxProSource_data()
{
    QTest::addColumn<int>("version");
    QTest::addColumn<QByteArray>("area");  // between the terminator and the records, counted in the header length
    QByteArray zeroFirst(263, '\x11');
    zeroFirst[0] = 0;
    QByteArray oneFirst(262, '\x11');
    oneFirst[0] = 1;
    // A table that belongs to a database container: the area holds the container's path.
    const QByteArray container = QByteArray("..\\DATA\\CRM.DBC").leftJustified(263, '\0');
    QTest::newRow("0x30, zero byte after the terminator") << 0x30 << zeroFirst;
    QTest::newRow("0x30, 262 bytes") << 0x30 << oneFirst;
    QTest::newRow("0x30 in a database container") << 0x30 << container;
    QTest::newRow("0x03 header padded by two bytes") << 0x03 << QByteArray(2, '\0');
}

void TestGeneration::visualFoxProSource()
{
    QFETCH(int, version);
    QFETCH(QByteArray, area);
    const QList<SourceRecord> records = twoFieldRecords();
    // The records start at the header length.
    QVERIFY(writeFile(path("src.dbf"), makeDbf(kTwoFields, records, quint8(version), area)));
    const GenerationJob job = dbfJob(path("src.dbf"), path("out.dbf"), kTwoFields, 1, "12345");
    const RunOutcome run = runOnThread(job);
    QVERIFY2(run.ok, qPrintable(run.error));
    const QByteArray out = readFile(path("out.dbf"));
    QCOMPARE(out.at(0), char(0x03));
    QCOMPARE(le16(out, 8), quint16(129));
    QCOMPARE(out.size(), 129 + 3 * 46);
    for (int i = 0; i < 3; ++i) {
        const QByteArray record = out.mid(129 + i * 46, 46);
        QCOMPARE(record.left(16), recordBytes(kTwoFields, records[i]));
        QCOMPARE(decodeFieldText(record.mid(16), 10, 10, job.options, Symbology::Datamatrix),
                 std::optional(records[i].values[1]));
    }
}

void TestGeneration::numericWithDecimals()
{
    // An N field with 2 decimals: byte 17 = 2 must not make it 520 bytes long.
    const QList<FieldDef> fields = {{"PRICE", 'N', 8, 2}, {"NUM", 'C', 5, 0}, {"QTY", 'N', 4, 0}};
    const QList<SourceRecord> records = {{' ', {"   12.50", "12345", "  10"}}, {' ', {"    3.00", "67890", "   2"}}};
    QVERIFY(writeFile(path("src.dbf"), makeDbf(fields, records)));
    const GenerationJob job = dbfJob(path("src.dbf"), path("out.dbf"), fields, 1, "12345");
    const RunOutcome run = runOnThread(job);
    QVERIFY2(run.ok, qPrintable(run.error));
    const QByteArray out = readFile(path("out.dbf"));
    const int headerLength = 32 * 5 + 1;
    QCOMPARE(le16(out, 10), quint16(18 + 30));
    QCOMPARE(le16(out, 32 * 4 + 12), quint16(18));
    for (int i = 0; i < 2; ++i) {
        const QByteArray record = out.mid(headerLength + i * 48, 48);
        QCOMPARE(record.left(18), recordBytes(fields, records[i]));
        QCOMPARE(decodeFieldText(record.mid(18), 10, 10, job.options, Symbology::Datamatrix),
                 std::optional(records[i].values[1]));
    }
}

void TestGeneration::longCharacterField()
{
    // A C field of 300 bytes: its length is bytes 16-17.
    const QList<FieldDef> fields = {{"NOTE", 'C', 300, 0}, {"NUM", 'C', 5, 0}};
    const QList<SourceRecord> records = {{' ', {QByteArray(290, 'x') + "end", "12345"}}, {' ', {"short", "67890"}}};
    QVERIFY(writeFile(path("src.dbf"), makeDbf(fields, records)));
    GenerationJob job = dbfJob(path("src.dbf"), path("out.dbf"), fields, 1, "12345");
    job.writeText = true;
    const RunOutcome run = runOnThread(job);
    QVERIFY2(run.ok, qPrintable(run.error));
    const QByteArray out = readFile(path("out.dbf"));
    QCOMPARE(le16(out, 10), quint16(306 + 30));
    QCOMPARE(le16(out, 32 + 16), quint16(300));
    QCOMPARE(le16(out, 96 + 12), quint16(306));
    for (int i = 0; i < 2; ++i) {
        const QByteArray record = out.mid(129 + i * 336, 336);
        QCOMPARE(record.left(306), recordBytes(fields, records[i]));
        QCOMPARE(decodeFieldText(record.mid(306), 10, 10, job.options, Symbology::Datamatrix),
                 std::optional(records[i].values[1]));
    }
}

void TestGeneration::progress()
{
    QVERIFY(writeFile(path("src.dbf"), makeDbf(kTwoFields, twoFieldRecords())));
    QString error;
    BaseEncoder encoder(dbfJob(path("src.dbf"), path("out.dbf"), kTwoFields, 1, "12345"), &error, 0);
    QSignalSpy range(&encoder, &BaseEncoder::progressRangeChanged);
    QSignalSpy values(&encoder, &BaseEncoder::progressValueChanged);
    QSignalSpy watchdogs(&encoder, &BaseEncoder::watchdog);
    encoder.start();
    QVERIFY(encoder.wait(60000));
    QVERIFY2(encoder.getResultat(), qPrintable(error));
    QCOMPARE(range.size(), 1);
    QCOMPARE(range.at(0), (QList<QVariant>{0, 1000}));
    QList<int> seen;
    for (const QList<QVariant>& v : values)
        seen << v.at(0).toInt();
    QCOMPARE(seen, (QList<int>{0, 333, 666, 1000}));
    QCOMPARE(watchdogs.size(), 0);  // period 0: none
    QCOMPARE(encoder.getEnregistrementCourant(), qint64(4));
}

void TestGeneration::watchdogCadence()
{
    // 400 records, each delayed a little through the progress signal: the
    // watchdog comes at most once per period.
    QList<SourceRecord> records;
    for (int i = 0; i < 400; ++i)
        records.append({' ', {"N", QByteArray::number(10000 + i)}});
    QVERIFY(writeFile(path("src.dbf"), makeDbf(kTwoFields, records)));
    QString error;
    const int period = 40;
    BaseEncoder encoder(dbfJob(path("src.dbf"), path("out.dbf"), kTwoFields, 1, "12345"), &error, period);
    QList<qint64> times;
    QElapsedTimer clock;
    connect(
        &encoder, &BaseEncoder::progressValueChanged, &encoder, [] { QThread::usleep(600); }, Qt::DirectConnection);
    connect(
        &encoder, &BaseEncoder::watchdog, &encoder, [&] { times << clock.elapsed(); }, Qt::DirectConnection);
    clock.start();
    encoder.start();
    QVERIFY(encoder.wait(60000));
    const qint64 total = clock.elapsed();
    QVERIFY2(encoder.getResultat(), qPrintable(error));
    QVERIFY2(total >= 3 * period, "the run is too short to see the cadence");
    QVERIFY(!times.isEmpty());
    QVERIFY(times.first() >= period);
    for (int i = 1; i < times.size(); ++i)
        QVERIFY2(times[i] - times[i - 1] >= period, qPrintable(QString::number(times[i] - times[i - 1])));
    QVERIFY(times.size() <= total / period);
}

void TestGeneration::textOutputHasNoInnerLineBreaks()
{
    const QList<SourceRecord> records = {{' ', {"line\nbreak", "12345"}}, {' ', {"car\rret", "67890"}}};
    QVERIFY(writeFile(path("src.dbf"), makeDbf(kTwoFields, records)));
    for (char eol : {'\n', '\r'}) {
        GenerationJob job = dbfJob(path("src.dbf"), path("out.dbf"), kTwoFields, 1, "12345");
        job.writeText = true;
        job.options.endOfLine = true;
        job.options.endOfLineCharacter = eol;
        const RunOutcome run = runOnThread(job);
        QVERIFY2(run.ok, qPrintable(run.error));
        const QByteArray text = readFile(path("out.txt"));
        QCOMPARE(text.size(), 2 * (15 + 33 + 1));
        QVERIFY(!text.contains('\r'));
        QCOMPARE(text.count('\n'), 2);
        const QList<QByteArray> lines = text.split('\n');
        QCOMPARE(lines[0].left(15), QByteArray("line break12345"));
        QCOMPARE(lines[1].left(15), QByteArray("car ret   67890"));
        // The DBF keeps the bytes as they are.
        const QByteArray dbf = readFile(path("out.dbf"));
        QCOMPARE(dbf.mid(129 + 1, 10), QByteArray("line\nbreak"));
        QCOMPARE(dbf.at(129 + 16 + 10), eol);
    }
}

void TestGeneration::textSource_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("error");      // empty: success
    QTest::addColumn<QByteArray>("values");  // expected values, one per line, '|'-separated

    QTest::newRow("range 2:3") << QByteArray("a123b\nc456d\ne789f\n") << 2 << 3 << QString()
                               << QByteArray("123|456|789");
    QTest::newRow("crlf, no final line end")
        << QByteArray("a123b\r\nc456d\r\ne789f") << 2 << 3 << QString() << QByteArray("123|456|789");
    QTest::newRow("whole line") << QByteArray("12345\n67890\n") << 1 << 5 << QString() << QByteArray("12345|67890");
    QTest::newRow("unequal lengths") << QByteArray("abc\nabcd\n") << 1 << 3 << kUnequal << QByteArray();
    QTest::newRow("trailing empty line") << QByteArray("123\n456\n\n") << 1 << 3 << kUnequal << QByteArray();
    QTest::newRow("leading empty line")
        << QByteArray("\n123\n456\n") << 1 << 3
        << QStringLiteral("Erreur de lecture de la base texte à encoder. L'enregistrement n°1 est trop court.")
        << QByteArray();
    QTest::newRow("range outside the lines")
        << QByteArray("12345\n67890\n") << 4 << 3
        << QStringLiteral("La plage sélectionnée (positions 4 à 6) dépasse la longueur des enregistrements du "
                          "fichier source (5 caractères).")
        << QByteArray();
    QTest::newRow("no range") << QByteArray("12345\n") << 0 << 0 << kBlankSample << QByteArray();
}

void TestGeneration::textSource()
{
    QFETCH(QByteArray, content);
    QFETCH(int, start);
    QFETCH(int, count);
    QFETCH(QString, error);
    QFETCH(QByteArray, values);
    QVERIFY(writeFile(path("src.txt"), content));
    const QByteArray sample = values.isEmpty() ? QByteArray("123") : values.split('|').first();
    GenerationJob job = textJob(path("src.txt"), path("out.txt"), start, count, start >= 1 ? sample : QByteArray());
    const RunOutcome run = runOnThread(job);
    QCOMPARE(run.error, error);
    QCOMPARE(run.ok, error.isEmpty());
    QCOMPARE(QFile::exists(path("out.txt")), error.isEmpty());
    QVERIFY(leftovers(dir->path()).isEmpty());
    if (!error.isEmpty())
        return;
    const QList<QByteArray> expected = values.split('|');
    QList<QByteArray> sourceLines = content.split('\n');
    QList<QByteArray> lines = readFile(path("out.txt")).split('\n');
    QCOMPARE(lines.size(), expected.size() + 1);
    QCOMPARE(lines.last(), QByteArray());
    for (int i = 0; i < expected.size(); ++i) {
        QByteArray sourceLine = sourceLines[i];
        if (sourceLine.endsWith('\r'))
            sourceLine.chop(1);
        QCOMPARE(lines[i].left(sourceLine.size()), sourceLine);
        const QByteArray code = lines[i].mid(sourceLine.size());
        QCOMPARE(code.size(), 30);
        QCOMPARE(decodeFieldText(code, 10, 10, job.options, Symbology::Datamatrix), std::optional(expected[i]));
    }
}

void TestGeneration::symbolSizes()
{
    // Size left to the library: a smaller record symbol is drawn on the
    // sample's grid with the missing cells light; a larger one stops the run.
    const QList<FieldDef> fields = {{"NAME", 'C', 10, 0}, {"NUM", 'C', 10, 0}};
    const QList<SourceRecord> records = {{' ', {"A", "12345"}}, {' ', {"B", "1234567890"}}, {' ', {"C", "ABCDEFGHIJ"}}};
    QVERIFY(writeFile(path("src.dbf"), makeDbf(fields, records)));
    GenerationJob job = dbfJob(path("src.dbf"), path("out.dbf"), fields, 1, "12345     ");
    job.parameters.sizeRequest = DmtxSymbolSquareAuto;
    job.parameters.scheme = DmtxSchemeAscii;
    int w = 0, h = 0, ws = 0, hs = 0, wl = 0, hl = 0;
    QVERIFY(!RecordCoder::measureSample(job.parameters, "12345     ", &w, &h));
    QVERIFY(!RecordCoder::measureSample(job.parameters, "1234567890", &ws, &hs));
    QVERIFY(!RecordCoder::measureSample(job.parameters, "ABCDEFGHIJ", &wl, &hl));
    QVERIFY(ws < w && hs < h);
    QVERIFY(wl > w && hl > h);
    const RunOutcome run = runOnThread(job);
    QVERIFY(!run.ok);
    QCOMPARE(run.error,
             QStringLiteral("Le code de l'enregistrement n°3 (%1 x %2) dépasse les dimensions fixées par "
                            "l'enregistrement d'exemple (%3 x %4). Choisissez une taille de datamatrix ou "
                            "une version de QR code fixe.")
                 .arg(wl)
                 .arg(hl)
                 .arg(w)
                 .arg(h));
    QVERIFY(!QFile::exists(path("out.dbf")));

    // The smaller one, on the sample's grid, decodes.
    RecordCoder coder(job.parameters, job.options, true, w, h);
    QByteArray field(coder.fieldLength(), '?');
    const RecordCoder::Result result = coder.code("1234567890", 10, field.data());
    QVERIFY(result.ok());
    QCOMPARE(result.symbolWidth, ws);
    QCOMPARE(decodeFieldText(field, w, h, job.options, Symbology::Datamatrix), std::optional(QByteArray("1234567890")));
}

void TestGeneration::setupFailures_data()
{
    QTest::addColumn<int>("symbology");
    QTest::addColumn<QByteArray>("sample");
    QTest::addColumn<int>("qrMode");
    QTest::addColumn<QString>("error");
    QTest::newRow("blank datamatrix sample") << 0 << QByteArray("     ") << int(QR_MODE_8) << kBlankSample;
    QTest::newRow("blank QR sample") << 1 << QByteArray("  ") << int(QR_MODE_8) << kBlankSample;
    QTest::newRow("datamatrix sample too long")
        << 0 << QByteArray("ABCDE") << int(QR_MODE_8)
        << QStringLiteral("Encodage impossible (vous pouvez essayer de changer la taille du datamatrix ou le mode "
                          "d'encodage).");
    QTest::newRow("QR sample refused")
        << 1 << QByteArray("ABCDE") << int(QR_MODE_NUM)
        << QStringLiteral("Encodage impossible (vous pouvez essayer de changer le mode d'encodage ou le niveau de "
                          "correction d'erreur).");
}

void TestGeneration::setupFailures()
{
    QFETCH(int, symbology);
    QFETCH(QByteArray, sample);
    QFETCH(int, qrMode);
    QFETCH(QString, error);
    QVERIFY(writeFile(path("src.dbf"), makeDbf(kTwoFields, twoFieldRecords())));
    GenerationJob job = dbfJob(path("src.dbf"), path("out.dbf"), kTwoFields, 1, sample);
    if (symbology == int(Symbology::QRCode)) {
        job.parameters = qr8bit();
        job.parameters.qrMode = qrMode;
    } else {
        job.parameters.scheme = DmtxSchemeAscii;
    }
    const RunOutcome run = runOnThread(job);
    QVERIFY(!run.ok);
    QCOMPARE(run.error, error);
    QVERIFY(!QFile::exists(path("out.dbf")));
}

void TestGeneration::everyRefusalHasText_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("error");
    QTest::newRow("no base") << "kind"
                             << "Aucune base d'origine n'est chargée.";
    QTest::newRow("no table open") << "table"
                                   << "Aucune base d'origine n'est chargée.";
    QTest::newRow("source unreadable") << "unreadable"
                                       << "Impossible d'ouvrir la base d'origine.";
    QTest::newRow("source a FIFO") << "fifo"
                                   << "Impossible d'ouvrir la base d'origine.";
    QTest::newRow("no field") << "field"
                              << "Aucun champ à encoder n'est sélectionné.";
    QTest::newRow("no destination") << "output"
                                    << "Aucun fichier de destination n'est indiqué.";
}

void TestGeneration::everyRefusalHasText()
{
    QFETCH(QString, fault);
    QFETCH(QString, error);
    QVERIFY(writeFile(path("src.dbf"), makeDbf(kTwoFields, twoFieldRecords())));
    GenerationJob job = dbfJob(path("src.dbf"), path("out.dbf"), kTwoFields, 1, "12345");
    if (fault == QLatin1String("kind"))
        job.typeSource = BaseNone;
    else if (fault == QLatin1String("table"))
        job.tableFieldCount = 0;
    else if (fault == QLatin1String("unreadable"))
        job.sourcePath = path("missing.dbf");
    else if (fault == QLatin1String("fifo"))  // refused at once instead of waiting for a writer
        QVERIFY(::mkfifo(QFile::encodeName(job.sourcePath = path("pipe.dbf")).constData(), 0644) == 0);
    else if (fault == QLatin1String("field"))
        job.fieldIndex = -1;
    else
        job.outputPath.clear();
    const RunOutcome run = runOnThread(job);
    QVERIFY(!run.ok);
    QCOMPARE(run.error, error);
    QVERIFY(!QFile::exists(path("out.dbf")));
}

void TestGeneration::everyCodeDecodes_data()
{
    QTest::addColumn<int>("symbology");
    QTest::addColumn<bool>("defaults");  // bit and pixel inversion, end-of-line with a space
    QTest::addColumn<bool>("mirrors");
    QTest::newRow("datamatrix, default options") << 0 << true << false;
    QTest::newRow("datamatrix, mirrored") << 0 << false << true;
    QTest::newRow("QR, default options") << 1 << true << false;
    QTest::newRow("QR, mirrored") << 1 << true << true;
}

void TestGeneration::everyCodeDecodes()
{
    QFETCH(int, symbology);
    QFETCH(bool, defaults);
    QFETCH(bool, mirrors);
    const QList<FieldDef> fields = {{"ID", 'N', 6, 0}, {"REF", 'C', 16, 0}, {"CITY", 'C', 12, 0}};
    QList<SourceRecord> records;
    for (int i = 0; i < 40; ++i) {
        QByteArray ref = "REF-" + QByteArray::number(i * 7919 % 100000) + (i % 3 ? "/xy" : "\xE9t\xE9");
        records.append({i % 9 == 4 ? '*' : ' ', {QByteArray::number(i).rightJustified(6), ref, "Paris"}});
    }
    QVERIFY(writeFile(path("src.dbf"), makeDbf(fields, records)));
    GenerationJob job = dbfJob(path("src.dbf"), path("out.dbf"), fields, 1, recordBytes(fields, records[0]).mid(7, 16));
    if (symbology == int(Symbology::QRCode)) {
        job.parameters = qr8bit();
        job.parameters.qrVersion = 3;
    } else {
        job.parameters.sizeRequest = DmtxSymbol22x22;
        job.parameters.moduleSize = 2;
        job.parameters.marginSize = 1;
    }
    job.options.bitInversion = defaults;
    job.options.pixelInversion = defaults;
    job.options.endOfLine = defaults;
    job.options.horizontalInversion = mirrors;
    job.options.verticalInversion = mirrors;
    job.writeText = true;
    const RunOutcome run = runOnThread(job);
    QVERIFY2(run.ok, qPrintable(run.error));

    int w = 0, h = 0;
    QVERIFY(!RecordCoder::measureSample(job.parameters, job.sample, &w, &h));
    const int r = fieldLength(w, h, job.options.endOfLine);
    const QByteArray out = readFile(path("out.dbf"));
    const int headerLength = le16(out, 8);
    const int recordLength = le16(out, 10);
    QCOMPARE(recordLength, 35 + r);
    QCOMPARE(out.size(), headerLength + records.size() * recordLength);
    FieldTextDecoder decoder(w, h, job.options, Symbology(symbology));
    const QList<QByteArray> lines = readFile(path("out.txt")).split('\n');
    for (int i = 0; i < records.size(); ++i) {
        const QByteArray record = out.mid(headerLength + i * recordLength, recordLength);
        const QByteArray value = listed(recordBytes(fields, records[i]).mid(7, 16));
        const QByteArray code = record.mid(35);
        QCOMPARE(decoder.decode(code), std::optional(value));
        QCOMPARE(lines[i], record.mid(1));  // the text form has the same bytes (no CR/LF here)
    }
}

void TestGeneration::dbfreadReadsTheOutput()
{
    if (!QFile::exists(QStringLiteral(CODIFLUX_PYTHON)))
        QSKIP("no Python interpreter");
    QProcess probe;
    probe.start(QStringLiteral(CODIFLUX_PYTHON), {"-c", "import dbfread"});
    probe.waitForFinished(30000);
    if (probe.exitCode() != 0)
        QSKIP("python3-dbfread is not installed");

    // dbfread reads a C field's length as bytes 16-17 too, so the long field
    // and a QR code field above 255 bytes are checked as they are.
    const QList<FieldDef> fields
        = {{"NOTE", 'C', 300, 0}, {"PRICE", 'N', 8, 2}, {"REF", 'C', 12, 0}, {"FLAG", 'L', 1, 0}};
    QList<SourceRecord> records;
    for (int i = 0; i < 12; ++i)
        records.append({i == 5 ? '*' : ' ',
                        {"note " + QByteArray::number(i), QByteArray::number(i * 1.25, 'f', 2).rightJustified(8),
                         "R" + QByteArray::number(1000 + i) + "\xE9", i % 2 ? "T" : "F"}});
    QVERIFY(writeFile(path("src.dbf"), makeDbf(fields, records)));
    GenerationJob job
        = dbfJob(path("src.dbf"), path("out.dbf"), fields, 2, recordBytes(fields, records[0]).mid(310, 12));
    job.parameters = qr8bit();
    job.parameters.qrVersion = 5;
    job.options.endOfLine = true;
    job.newFieldName = QStringLiteral("QRCODE");
    const RunOutcome run = runOnThread(job);
    QVERIFY2(run.ok, qPrintable(run.error));
    int w = 0, h = 0;
    QVERIFY(!RecordCoder::measureSample(job.parameters, job.sample, &w, &h));
    const int r = fieldLength(w, h, true);
    QVERIFY2(r > 255, "the code field must exceed 255 bytes for this check");

    const char* script = R"(
import json, sys
from dbfread import DBF
t = DBF(sys.argv[1], encoding='latin-1', raw=True, load=True)
def rows(rs):
    return [{k: v.decode('latin-1') for k, v in r.items()} for r in rs]
print(json.dumps({'fields': [[f.name, f.type, f.length] for f in t.fields],
                  'records': rows(t.records), 'deleted': rows(t.deleted)}))
)";
    QProcess python;
    python.start(QStringLiteral(CODIFLUX_PYTHON), {"-c", QString::fromLatin1(script), path("out.dbf")});
    QVERIFY(python.waitForFinished(60000));
    QVERIFY2(python.exitCode() == 0, python.readAllStandardError().constData());
    const QJsonObject read = QJsonDocument::fromJson(python.readAllStandardOutput()).object();
    const QJsonArray readFields = read.value("fields").toArray();
    QCOMPARE(readFields.size(), 5);
    QCOMPARE(readFields[0].toArray()[2].toInt(), 300);
    QCOMPARE(readFields[4].toArray()[0].toString(), QStringLiteral("QRCODE"));
    QCOMPARE(readFields[4].toArray()[1].toString(), QStringLiteral("C"));
    QCOMPARE(readFields[4].toArray()[2].toInt(), r);

    const QJsonArray live = read.value("records").toArray();
    const QJsonArray deleted = read.value("deleted").toArray();
    QCOMPARE(live.size(), 11);
    QCOMPARE(deleted.size(), 1);
    FieldTextDecoder decoder(w, h, job.options, Symbology::QRCode);
    int liveIndex = 0;
    for (int i = 0; i < records.size(); ++i) {
        const QJsonObject row = (i == 5 ? deleted[0] : live[liveIndex++]).toObject();
        const QByteArray bytes = recordBytes(fields, records[i]);
        QCOMPARE(row.value("NOTE").toString().toLatin1(), bytes.mid(1, 300));
        QCOMPARE(row.value("PRICE").toString().toLatin1(), bytes.mid(301, 8));
        QCOMPARE(row.value("REF").toString().toLatin1(), bytes.mid(309, 12));
        QCOMPARE(row.value("FLAG").toString().toLatin1(), bytes.mid(321, 1));
        const QByteArray code = row.value("QRCODE").toString().toLatin1();
        QCOMPARE(code.size(), r);
        QCOMPARE(decoder.decode(code), std::optional(listed(bytes.mid(309, 12))));
    }
}

void TestGeneration::failureLeavesDestination_data()
{
    QTest::addColumn<bool>("writeText");
    QTest::newRow("DBF only") << false;
    QTest::newRow("DBF and text") << true;
}

void TestGeneration::failureLeavesDestination()
{
    QFETCH(bool, writeText);
    QList<SourceRecord> records;
    for (int i = 0; i < 10; ++i)
        records.append({' ', {"N", QByteArray::number(10000 + i)}});
    records[6].values[1] = "1A2B3";  // refused in numeric-only QR mode
    QVERIFY(writeFile(path("src.dbf"), makeDbf(kTwoFields, records)));
    const QByteArray previous = "a good encoded base written earlier";
    QVERIFY(writeFile(path("out.dbf"), previous));
    QVERIFY(writeFile(path("out.txt"), previous + " (text)"));
    GenerationJob job = dbfJob(path("src.dbf"), path("out.dbf"), kTwoFields, 1, "10000");
    job.parameters = qr8bit();
    job.parameters.qrMode = QR_MODE_NUM;
    job.writeText = writeText;
    const RunOutcome run = runOnThread(job);
    QVERIFY(!run.ok);
    QCOMPARE(run.error, QStringLiteral("Erreur en cours d'encodage à l'enregistrement 7 valeur à encoder:\n1A2B3"));
    QCOMPARE(readFile(path("out.dbf")), previous);
    QCOMPARE(readFile(path("out.txt")), previous + " (text)");
    QVERIFY(leftovers(dir->path()).isEmpty());

    // A source shorter than its header count: the short-record text, nothing replaced.
    QByteArray truncated = makeDbf(kTwoFields, records.mid(0, 4), 0x03, {}, false);
    truncated[4] = char(9);
    QVERIFY(writeFile(path("src.dbf"), truncated));
    job.parameters = datamatrix10();
    const RunOutcome shortRun = runOnThread(job);
    QVERIFY(!shortRun.ok);
    QCOMPARE(shortRun.error,
             QStringLiteral("Erreur de lecture de la base DBF à encoder. L'enregistrement n°5 est trop court."));
    QCOMPARE(readFile(path("out.dbf")), previous);
    QVERIFY(leftovers(dir->path()).isEmpty());
}

void TestGeneration::cancellationLeavesDestination()
{
    QList<SourceRecord> records;
    for (int i = 0; i < 3000; ++i)
        records.append({' ', {"N", QByteArray::number(10000 + i)}});
    QVERIFY(writeFile(path("src.dbf"), makeDbf(kTwoFields, records)));
    const QByteArray previous = "earlier encoded base";
    QVERIFY(writeFile(path("out.dbf"), previous));
    QString error;
    BaseEncoder encoder(dbfJob(path("src.dbf"), path("out.dbf"), kTwoFields, 1, "12345"), &error, 0);
    std::atomic<bool> temporarySeen{false};
    connect(
        &encoder, &BaseEncoder::progressValueChanged, &encoder,
        [&](int value) {
            if (value == 100) {
                temporarySeen = QFile::exists(encoder.fichiers().dbfTemporary());
                encoder.annuler();
            }
        },
        Qt::DirectConnection);
    encoder.start();
    QVERIFY(encoder.wait(60000));
    QVERIFY(!encoder.getResultat());
    QCOMPARE(error, kCancelled);
    QVERIFY(temporarySeen);
    QCOMPARE(encoder.getEnregistrementCourant(), qint64(301));  // stopped at the top of the next record
    QCOMPARE(readFile(path("out.dbf")), previous);
    QVERIFY(leftovers(dir->path()).isEmpty());

    // Cancelled during the scan of a text source.
    QVERIFY(writeFile(path("src.txt"), "12345\n67890\n"));
    QString textError;
    BaseEncoder textEncoder(textJob(path("src.txt"), path("out.txt"), 1, 5, "12345"), &textError, 0);
    connect(
        &textEncoder, &BaseEncoder::progressRangeChanged, &textEncoder,
        [&](int, int maximum) {
            if (maximum == 0)
                textEncoder.annuler();
        },
        Qt::DirectConnection);
    textEncoder.start();
    QVERIFY(textEncoder.wait(60000));
    QCOMPARE(textError, kCancelled);
    QVERIFY(!QFile::exists(path("out.txt")));
}

void TestGeneration::watchdogTerminationLeavesDestination()
{
    const QByteArray previous = "earlier encoded base";
    GenerationJob job;
    QVERIFY(stageLongRun(previous, &job));
    QString error;
    BaseEncoder encoder(job, &error, 3000);
    std::atomic<bool> stuck{false};
    // A record that never ends, as a library call that hangs would.
    connect(
        &encoder, &BaseEncoder::progressValueChanged, &encoder,
        [&](int value) {
            if (value == 500) {
                stuck = true;
                for (;;)
                    QThread::msleep(5);
            }
        },
        Qt::DirectConnection);
    encoder.start();
    QTRY_VERIFY_WITH_TIMEOUT(stuck.load(), 30000);
    QVERIFY(QFile::exists(encoder.fichiers().dbfTemporary()));
    QVERIFY(QFile::exists(encoder.fichiers().textTemporary()));
    encoder.setMessageErreur(QStringLiteral("Une erreur est survenue lors de l'encodage. L'enregistrement courant "
                                            "est le n°%1"));
    encoder.terminate();
    QVERIFY(encoder.wait(30000));
    encoder.supprimerFichiersTemporaires();
    QVERIFY(!encoder.getResultat());
    QCOMPARE(error,
             QStringLiteral("Une erreur est survenue lors de l'encodage. L'enregistrement courant est le n°250"));
    QCOMPARE(readFile(path("out.dbf")), previous);
    QCOMPARE(readFile(path("out.txt")), previous);
    QVERIFY(leftovers(dir->path()).isEmpty());
}

// A worker the window could not stop and gave up on may resume later: it
// must not move its files over the destination then.
void TestGeneration::givenUpRunMovesNothingIntoPlace()
{
    const QByteArray previous = "earlier encoded base";
    GenerationJob job;
    QVERIFY(stageLongRun(previous, &job));
    QString error;
    BaseEncoder encoder(job, &error, 3000);
    std::atomic<bool> held{false};
    std::atomic<bool> release{false};
    connect(
        &encoder, &BaseEncoder::progressValueChanged, &encoder,
        [&](int value) {
            if (value == 500) {
                held = true;
                while (!release)
                    QThread::msleep(2);
            }
        },
        Qt::DirectConnection);
    encoder.start();
    QTRY_VERIFY_WITH_TIMEOUT(held.load(), 30000);
    QVERIFY(QFile::exists(encoder.fichiers().dbfTemporary()));
    encoder.supprimerFichiersTemporaires();  // while the worker still runs
    QVERIFY(leftovers(dir->path()).isEmpty());
    release = true;
    QVERIFY(encoder.wait(30000));
    QVERIFY(!encoder.getResultat());
    QCOMPARE(readFile(path("out.dbf")), previous);
    QCOMPARE(readFile(path("out.txt")), previous);
    QVERIFY(leftovers(dir->path()).isEmpty());

    // The same run, not given up, replaces both files.
    BaseEncoder again(job, &error, 3000);
    again.start();
    QVERIFY(again.wait(30000));
    QVERIFY(again.getResultat());
    QVERIFY(readFile(path("out.dbf")) != previous);
    again.supprimerFichiersTemporaires();
    QVERIFY(readFile(path("out.dbf")) != previous);
    QVERIFY(leftovers(dir->path()).isEmpty());
}

void TestGeneration::sameFileRefused()
{
    const QByteArray source = makeDbf(kTwoFields, twoFieldRecords());
    QVERIFY(writeFile(path("src.dbf"), source));
    QVERIFY(QDir(dir->path()).mkdir("sub"));
    QVERIFY(QFile::link(path("src.dbf"), path("link.dbf")));

    QVERIFY(sameFile(path("src.dbf"), path("sub/../src.dbf")));
    QVERIFY(sameFile(path("src.dbf"), path("link.dbf")));
    QVERIFY(sameFile(path("new.dbf"), path("sub/../new.dbf")));  // neither exists yet
    QVERIFY(!sameFile(path("src.dbf"), path("src.txt")));
    QVERIFY(!sameFile(path("src.dbf"), QString()));

    for (const QString& destination : {path("sub/../src.dbf"), path("link.dbf"), path("./src.dbf")}) {
        const RunOutcome run = runOnThread(dbfJob(path("src.dbf"), destination, kTwoFields, 1, "12345"));
        QVERIFY(!run.ok);
        QCOMPARE(run.error, kSameFile);
        QCOMPARE(readFile(path("src.dbf")), source);
    }
    // The derived text path names the source: a DBF source stored as "base.txt".
    QVERIFY(writeFile(path("base.txt"), source));
    GenerationJob job = dbfJob(path("base.txt"), path("sub/../base.dbf"), kTwoFields, 1, "12345");
    job.writeText = true;
    RunOutcome run = runOnThread(job);
    QCOMPARE(run.error, kSameFile);
    QCOMPARE(readFile(path("base.txt")), source);
    QVERIFY(!QFile::exists(path("base.dbf")));
    // A text source over itself.
    QVERIFY(writeFile(path("lines.txt"), "12345\n"));
    run = runOnThread(textJob(path("lines.txt"), path("sub/../lines.txt"), 1, 5, "12345"));
    QCOMPARE(run.error, kSameFile);
    QCOMPARE(readFile(path("lines.txt")), QByteArray("12345\n"));
    // The source's memo file, found as the table engine finds it, is read too.
    QVERIFY(writeFile(path("src.dbt"), "memo"));
    for (const QString& destination : {path("src.dbt"), path("sub/../src.dbt")}) {
        run = runOnThread(dbfJob(path("src.dbf"), destination, kTwoFields, 1, "12345"));
        QCOMPARE(run.error,
                 QStringLiteral("Le fichier de destination doit être différent du fichier mémo de la base "
                                "d'origine (%1).")
                     .arg(path("src.dbt")));
        QCOMPARE(readFile(path("src.dbt")), QByteArray("memo"));
    }
    QVERIFY(leftovers(dir->path()).isEmpty());
}

void TestGeneration::destinationChecked_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("error");  // %1: the path refused; empty when the run succeeds
    const QString notRegular = QStringLiteral("« %1 » n'est pas un fichier ordinaire : il ne sera pas remplacé.");
    QTest::newRow("FIFO") << "fifo" << notRegular;
    QTest::newRow("link to a device") << "device" << notRegular;
    QTest::newRow("text destination a folder") << "folder" << notRegular;
    QTest::newRow("read-only") << "readonly"
                               << QStringLiteral("« %1 » est en lecture seule : il ne sera pas remplacé.");
    QTest::newRow("replaced, mode kept") << "mode" << QString();
}

void TestGeneration::destinationChecked()
{
    QFETCH(QString, kind);
    QFETCH(QString, error);
    QVERIFY(writeFile(path("src.dbf"), makeDbf(kTwoFields, twoFieldRecords())));
    const QByteArray previous = "earlier encoded base";
    QVERIFY(writeFile(path("out.dbf"), previous));
    GenerationJob job = dbfJob(path("src.dbf"), path("out.dbf"), kTwoFields, 1, "12345");
    QString refused = path("out.dbf");
    const QByteArray out = QFile::encodeName(refused);
    if (kind == QLatin1String("fifo")) {
        QVERIFY(QFile::remove(refused) && ::mkfifo(out.constData(), 0644) == 0);
    } else if (kind == QLatin1String("device")) {
        QVERIFY(QFile::remove(refused) && QFile::link(QStringLiteral("/dev/null"), refused));
    } else if (kind == QLatin1String("folder")) {
        job.writeText = true;  // out.dbf may be replaced, out.txt may not: neither is
        QVERIFY(QDir(dir->path()).mkdir(QStringLiteral("out.txt")));
        refused = path("out.txt");
    } else {
        QVERIFY(::chmod(out.constData(), kind == QLatin1String("mode") ? 0640 : 0444) == 0);
    }
    struct stat before { };
    QVERIFY(::lstat(out.constData(), &before) == 0);
    const RunOutcome run = runOnThread(job);
    struct stat after { };
    QVERIFY(::lstat(out.constData(), &after) == 0);
    QCOMPARE(after.st_mode, before.st_mode);
    if (error.isEmpty()) {
        QVERIFY2(run.ok, qPrintable(run.error));
        QVERIFY(readFile(path("out.dbf")).startsWith('\x03'));
    } else {
        QVERIFY(!run.ok);
        QCOMPARE(run.error, error.arg(refused));
        QCOMPARE(after.st_ino, before.st_ino);
        if (S_ISREG(before.st_mode))
            QCOMPARE(readFile(path("out.dbf")), previous);
    }
    QVERIFY(leftovers(dir->path()).isEmpty());
}

void TestGeneration::movesRolledBack_data()
{
    QTest::addColumn<bool>("firstExisted");
    QTest::newRow("first destination replaced") << true;
    QTest::newRow("first destination new") << false;
}

// The second move fails (its folder went away after the checks): the first
// destination, already replaced, is given back as it was.
void TestGeneration::movesRolledBack()
{
    QFETCH(bool, firstExisted);
    QVERIFY(writeFile(path("a.tmp"), "new A"));
    QVERIFY(writeFile(path("b.tmp"), "new B"));
    if (firstExisted)
        QVERIFY(writeFile(path("a.dbf"), "old A"));
    const QList<PendingMove> moves{{path("a.tmp"), path("a.dbf")}, {path("b.tmp"), path("gone/b.txt")}};
    QVERIFY(!moveAllIntoPlace(moves));
    if (firstExisted)
        QCOMPARE(readFile(path("a.dbf")), QByteArray("old A"));
    else
        QVERIFY(!QFile::exists(path("a.dbf")));
    QCOMPARE(readFile(path("b.tmp")), QByteArray("new B"));
    QCOMPARE(QDir(dir->path()).entryList({QStringLiteral("*.old")}, QDir::Files | QDir::Hidden), QStringList());

    // With the folder there, both go into place.
    QVERIFY(QDir(dir->path()).mkdir(QStringLiteral("gone")));
    QVERIFY(writeFile(path("a.tmp"), "new A"));
    QVERIFY(moveAllIntoPlace(moves));
    QCOMPARE(readFile(path("a.dbf")), QByteArray("new A"));
    QCOMPARE(readFile(path("gone/b.txt")), QByteArray("new B"));
    QVERIFY(leftovers(dir->path()).isEmpty());
}

// A second run to a destination another run is writing is refused, and the
// first one's files are not mixed with anything.
void TestGeneration::concurrentRunsExclusive()
{
    const QByteArray previous = "earlier encoded base";
    GenerationJob job;
    QVERIFY(stageLongRun(previous, &job));
    QString error;
    BaseEncoder first(job, &error, 0);
    std::atomic<bool> held{false};
    std::atomic<bool> release{false};
    connect(
        &first, &BaseEncoder::progressValueChanged, &first,
        [&](int value) {
            if (value == 500) {
                held = true;
                while (!release)
                    QThread::msleep(2);
            }
        },
        Qt::DirectConnection);
    first.start();
    QTRY_VERIFY_WITH_TIMEOUT(held.load(), 30000);
    // The same destination, and a text source whose output is the first run's text form.
    QVERIFY(writeFile(path("lines.txt"), "12345\n"));
    for (const GenerationJob& second : {job, textJob(path("lines.txt"), path("out.txt"), 1, 5, "12345")}) {
        const RunOutcome run = runOnThread(second);
        QVERIFY(!run.ok);
        QVERIFY2(run.error.endsWith(QStringLiteral("est déjà en cours d'écriture par une autre génération. Réessayez "
                                                   "lorsqu'elle sera terminée.")),
                 qPrintable(run.error));
    }
    QCOMPARE(readFile(path("out.txt")), previous);
    release = true;
    QVERIFY(first.wait(30000));
    QVERIFY2(first.getResultat(), qPrintable(error));
    // Both outputs are the first run's: the text form is the DBF's records.
    const QByteArray dbf = readFile(path("out.dbf"));
    const QByteArray text = readFile(path("out.txt"));
    const int headerLength = le16(dbf, 8);
    const int recordLength = le16(dbf, 10);
    QCOMPARE(text.left(recordLength - 1), dbf.mid(headerLength + 1, recordLength - 1));
    QVERIFY(leftovers(dir->path()).isEmpty());
    // The lock went with the run.
    QVERIFY(runOnThread(job).ok);
}

void TestGeneration::oversizedOutputRefused_data()
{
    QTest::addColumn<int>("kind");  // 0 record, 1 header
    QTest::newRow("record over 65535 bytes") << 0;
    QTest::newRow("header over 65535 bytes") << 1;
}

void TestGeneration::oversizedOutputRefused()
{
    QFETCH(int, kind);
    QList<FieldDef> fields;
    SourceRecord record;
    QString expected;
    if (kind == 0) {
        // 16-bit C lengths, each below 32768: K = 65540 before the code is added.
        fields = {{"A", 'C', 32767, 0}, {"B", 'C', 32767, 0}, {"NUM", 'C', 5, 0}};
        record.values = {"a", "b", "12345"};
        expected = QStringLiteral("L'enregistrement de la base encodée ferait %1 octets : le format DBF en admet au "
                                  "plus 65535. Choisissez un code plus petit ou une base aux enregistrements plus "
                                  "courts.")
                       .arg(1 + 32767 + 32767 + 5 + 30);
    } else {
        for (int i = 0; i < 2045; ++i)
            fields.append({"F" + QByteArray::number(i), 'C', 1, 0});
        fields.append({"NUM", 'C', 5, 0});
        record.values = QList<QByteArray>(2045, "x") << "12345";
        expected = QStringLiteral("L'en-tête de la base encodée ferait 65537 octets (2047 champs) : le format DBF en "
                                  "admet au plus 65535.");
    }
    QVERIFY(writeFile(path("src.dbf"), makeDbf(fields, {record})));
    const QByteArray previous = "earlier";
    QVERIFY(writeFile(path("out.dbf"), previous));
    const RunOutcome run
        = runOnThread(dbfJob(path("src.dbf"), path("out.dbf"), fields, int(fields.size()) - 1, "12345"));
    QVERIFY(!run.ok);
    QCOMPARE(run.error, expected);
    QCOMPARE(readFile(path("out.dbf")), previous);
    QVERIFY(leftovers(dir->path()).isEmpty());
}

void TestGeneration::recordCoderSharedAcrossThreads()
{
    // One coder, several threads: the same bytes as one thread alone.
    EncodingParameters p = datamatrix10();
    p.sizeRequest = DmtxSymbol16x16;
    int w = 0, h = 0;
    QVERIFY(!RecordCoder::measureSample(p, "000000", &w, &h));
    FontTextOptions o;
    o.endOfLine = true;
    const RecordCoder coder(p, o, true, w, h);
    const int r = coder.fieldLength();
    const int n = 400;
    QByteArray single(n * r, '\0');
    for (int i = 0; i < n; ++i) {
        const QByteArray v = QByteArray::number(100000 + i * 37);
        QVERIFY(coder.code(v.constData(), int(v.size()), single.data() + i * r).ok());
    }
    QByteArray shared(n * r, '\0');
    QList<QThread*> threads;
    for (int t = 0; t < 4; ++t)
        threads << QThread::create([&, t] {
            for (int i = t; i < n; i += 4) {
                const QByteArray v = QByteArray::number(100000 + i * 37);
                coder.code(v.constData(), int(v.size()), shared.data() + i * r);
            }
        });
    for (QThread* thread : threads)
        thread->start();
    for (QThread* thread : threads) {
        thread->wait();
        delete thread;
    }
    QCOMPARE(shared, single);
}

void TestGeneration::corpus()
{
    // Tables written by other programs, loaded as the window loads them (the
    // DBF engine gives the fields and the sample): each one either generates
    // a base that the engine reads back with the same values plus a decodable
    // code, or fails with a French text and leaves nothing behind.
    const QString folder = qEnvironmentVariable("CODIFLUX_SHARED_DIR") + QStringLiteral("/corpus/dbf");
    if (!QFileInfo(folder).isDir())
        QSKIP("the shared DBF corpus is absent");
    const QStringList names = QDir(folder).entryList({"*.dbf", "*.DBF"}, QDir::Files, QDir::Name);
    QVERIFY(!names.isEmpty());
    int generated = 0;
    for (const QString& name : names) {
        const QString source = QDir(folder).filePath(name);
        DbfTablePtr table(dbf_open(QFile::encodeName(source).constData(), nullptr, 0, 0));
        if (!table)
            continue;
        const unsigned fieldCount = dbf_field_count(table.get());
        const unsigned recordCount = dbf_record_count(table.get());
        QList<DbfFieldInfo> fields;
        int chosen = -1;
        for (unsigned i = 0; i < fieldCount; ++i) {
            DbfFieldInfo info{};
            QVERIFY(dbf_field_info(table.get(), i, &info));
            fields.append(info);
            if (chosen < 0 && info.type == DbfChar && info.length <= 100)
                chosen = int(i);
        }
        if (chosen < 0 || recordCount == 0)
            continue;
        // The sample: the first non-blank value, padded as the window shows it.
        QByteArray sample;
        std::vector<char> value(std::size_t(fields[chosen].length) + 1);
        for (unsigned r = 0; r < qMin(recordCount, 1000u) && sample.trimmed().isEmpty(); ++r) {
            if (!dbf_goto_record(table.get(), r))
                break;
            const unsigned n = dbf_read_field(table.get(), dbf_field(table.get(), unsigned(chosen)), value.data(),
                                              unsigned(value.size()), DbfAnyType);
            sample = QByteArray(value.data(), n).leftJustified(fields[chosen].length, ' ');
        }
        if (sample.trimmed().isEmpty())
            continue;

        GenerationJob job = dbfJob(source, path(name + ".out.dbf"), {}, chosen, sample);
        job.fields = fields;
        job.tableFieldCount = fieldCount;
        job.parameters = qr8bit();
        job.parameters.qrVersion = 10;
        job.parameters.qrLevel = QR_ECLEVEL_L;
        const RunOutcome run = runOnThread(job);
        QVERIFY(leftovers(dir->path()).isEmpty());
        if (!run.ok) {
            qInfo("%s: %s", qPrintable(name), qPrintable(run.error));
            QVERIFY2(!run.error.isEmpty(), qPrintable(name));
            QVERIFY(!QFile::exists(job.outputPath));
            continue;
        }
        ++generated;
        DbfTablePtr out(dbf_open(QFile::encodeName(job.outputPath).constData(), nullptr, 0, 0));
        QVERIFY2(out, qPrintable(name));
        QCOMPARE(dbf_field_count(out.get()), fieldCount + 1);
        const unsigned written = dbf_record_count(out.get());
        QVERIFY(written <= recordCount);
        int w = 0, h = 0;
        QVERIFY(!RecordCoder::measureSample(job.parameters, sample, &w, &h));
        FieldTextDecoder decoder(w, h, job.options, Symbology::QRCode);
        const QByteArray bytes = readFile(job.outputPath);
        const int headerLength = le16(bytes, 8);
        const int recordLength = le16(bytes, 10);
        QCOMPARE(qsizetype(headerLength) + qsizetype(written) * recordLength, bytes.size());
        char a[512], b[512];
        for (unsigned r = 0; r < qMin(written, 200u); ++r) {
            QVERIFY(dbf_goto_record(table.get(), r) && dbf_goto_record(out.get(), r));
            for (unsigned f = 0; f < fieldCount; ++f) {
                if (fields[int(f)].type == DbfMemo || fields[int(f)].length >= int(sizeof a))
                    continue;
                const unsigned na = dbf_read_field(table.get(), dbf_field(table.get(), f), a, sizeof a, DbfAnyType);
                const unsigned nb = dbf_read_field(out.get(), dbf_field(out.get(), f), b, sizeof b, DbfAnyType);
                QVERIFY2(QByteArray(a, na) == QByteArray(b, nb), qPrintable(name));
            }
            const QByteArray record = bytes.mid(headerLength + qsizetype(r) * recordLength, recordLength);
            const QByteArray code = record.mid(recordLength - fieldLength(w, h, false), fieldLength(w, h, false));
            // The value as the window lists it: the engine's text, padded to the field's length.
            const unsigned n
                = dbf_read_field(table.get(), dbf_field(table.get(), unsigned(chosen)), a, sizeof a, DbfAnyType);
            QByteArray expectedValue = QByteArray(a, n).leftJustified(fields[chosen].length, ' ');
            if (isBlankValue(expectedValue.constData(), expectedValue.size()))
                continue;
            if (expectedValue.indexOf('\0') >= 0)
                expectedValue.truncate(expectedValue.indexOf('\0'));
            QCOMPARE(decoder.decode(code), std::optional(expectedValue));
        }
    }
    QVERIFY(generated > 0);
}

// Each code carries the value the window lists and previews for its record:
// the DBF text converted from OEM, without its leading blanks, and with the
// spaces the "Supprimer les espaces" options remove; the sample that fixes
// the symbol's size is measured the same way.
void TestGeneration::listedValuesAreEncoded_data()
{
    QTest::addColumn<bool>("text");
    QTest::addColumn<bool>("trimStart");
    QTest::addColumn<bool>("trimEnd");
    QTest::addColumn<int>("size");
    QTest::addColumn<QList<QByteArray>>("expected");
    const QByteArray helene("H\xE9l\xE8ne");  // « Hélène » in Latin-1
    QTest::newRow("dbf as listed") << false << false << false << int(DmtxSymbol22x22)
                                   << QList<QByteArray>{"CF20240000          ", helene + QByteArray(14, ' '),
                                                        "\tAB                 "};
    QTest::newRow("dbf, right, size from the sample")
        << false << false << true << int(DmtxSymbolSquareAuto) << QList<QByteArray>{"CF20240000", helene, "\tAB"};
    QTest::newRow("dbf, both") << false << true << true << int(DmtxSymbol22x22)
                               << QList<QByteArray>{"CF20240000", helene, "AB"};
    QTest::newRow("text, both") << true << true << true << int(DmtxSymbolSquareAuto)
                                << QList<QByteArray>{"CF20240000", helene, "AB"};
}

void TestGeneration::listedValuesAreEncoded()
{
    QFETCH(bool, text);
    QFETCH(bool, trimStart);
    QFETCH(bool, trimEnd);
    QFETCH(int, size);
    QFETCH(QList<QByteArray>, expected);
    const QList<FieldDef> fields = {{"NAME", 'C', 20, 0}};
    GenerationJob job;
    int valueLength = 20;
    if (text) {
        // A text base is Latin-1 as the window shows it: no conversion.
        QVERIFY(writeFile(path("src.txt"), "CF20240000  \n  H\xE9l\xE8ne    \n\tAB         \n"));
        job = textJob(path("src.txt"), path("out.txt"), 1, 12, "CF20240000  ");
        valueLength = 12;
    } else {
        // « Hélène » stored in CP850 behind two blanks, as a DOS program writes it.
        QVERIFY(writeFile(path("src.dbf"),
                          makeDbf(fields, {{' ', {"CF20240000"}}, {' ', {"  H\x82l\x8Ane"}}, {' ', {"\tAB"}}})));
        job = dbfJob(path("src.dbf"), path("out.dbf"), fields, 0, "CF20240000          ");
    }
    job.parameters.sizeRequest = size;
    job.trimStart = trimStart;
    job.trimEnd = trimEnd;
    const RunOutcome run = runOnThread(job);
    QVERIFY2(run.ok, qPrintable(run.error));

    int w = 0, h = 0;
    QVERIFY(!RecordCoder::measureSample(job.parameters, expected.first(), &w, &h));
    const int r = fieldLength(w, h, false);
    FieldTextDecoder decoder(w, h, job.options, Symbology::Datamatrix);
    if (text) {
        const QList<QByteArray> lines = readFile(path("out.txt")).split('\n');
        for (int i = 0; i < expected.size(); ++i) {
            QCOMPARE(lines[i].size(), valueLength + r);
            QCOMPARE(decoder.decode(lines[i].mid(valueLength)), std::optional(expected[i]));
        }
        return;
    }
    const QByteArray out = readFile(path("out.dbf"));
    const int headerLength = le16(out, 8);
    QCOMPARE(int(le16(out, 10)), 1 + valueLength + r);
    for (int i = 0; i < expected.size(); ++i) {
        const QByteArray code = out.mid(headerLength + i * (1 + valueLength + r) + 1 + valueLength, r);
        QCOMPARE(decoder.decode(code), std::optional(expected[i]));
    }
}

// A table with memo fields gets a byte copy of its memo file beside the
// encoded DBF (named after it) and keeps its version byte, so that every
// block number still points at its text.
void TestGeneration::memoFileBesideTheOutput_data()
{
    QTest::addColumn<int>("version");
    QTest::newRow("dBase III, .dbt") << 0x83;
    QTest::newRow("Visual FoxPro, .fpt and its 263-byte area") << 0x30;
}

void TestGeneration::memoFileBesideTheOutput()
{
    QFETCH(int, version);
    const bool foxPro = version == 0x30;
    const QList<QByteArray> notes = {"First note", "A second, longer note"};
    QByteArray memo;
    QList<QByteArray> pointers;
    if (foxPro) {
        QList<quint32> blocks;
        memo = fptBytes(notes, &blocks);
        for (quint32 b : blocks) {
            QByteArray p(4, '\0');
            testsupport::putLe32(p, 0, b);
            pointers << p;
        }
        pointers << QByteArray(4, '\0');
    } else {
        memo = dbtBytes(notes);
        pointers = {"         1", "         2", ""};
    }
    const QList<FieldDef> fields = {{"REF", 'C', 8, 0}, {"NOTE", 'M', foxPro ? 4 : 10, 0}};
    const QList<SourceRecord> records
        = {{' ', {"R1", pointers[0]}}, {' ', {"R2", pointers[1]}}, {' ', {"R3", pointers[2]}}};
    QVERIFY(writeFile(path("src.dbf"), makeDbf(fields, records, quint8(version), foxPro ? QByteArray(263, '\0') : "")));
    const QString memoSuffix = QLatin1String(foxPro ? "fpt" : "dbt");
    QVERIFY(writeFile(path("src.") + memoSuffix, memo));
    GenerationJob job = dbfJob(path("src.dbf"), path("out.dbf"), fields, 0, "R1      ");
    job.parameters.sizeRequest = DmtxSymbolSquareAuto;
    const RunOutcome run = runOnThread(job);
    QVERIFY2(run.ok, qPrintable(run.error));

    QCOMPARE(readFile(path("out.") + memoSuffix), memo);
    const QByteArray out = readFile(path("out.dbf"));
    QCOMPARE(quint8(out[0]), quint8(version));
    QCOMPARE(int(le16(out, 8)), 32 * 4 + 1 + (foxPro ? 263 : 0));
    QCOMPARE(out[32 * 4], char(0x0D));
    QVERIFY(leftovers(dir->path()).isEmpty());

    if (!hasDbfread())
        QSKIP("python3-dbfread is not installed");
    const std::optional<QJsonArray> read = dbfreadRecords(path("out.dbf"));
    QVERIFY(read.has_value());
    QCOMPARE(read->size(), 3);
    QCOMPARE((*read)[0].toObject().value("NOTE").toString(), QString::fromLatin1(notes[0]));
    QCOMPARE((*read)[1].toObject().value("NOTE").toString(), QString::fromLatin1(notes[1]));
    QCOMPARE((*read)[2].toObject().value("REF").toString(), QStringLiteral("R3"));
}

// A memo field as the code's field: its text is encoded as listed (converted,
// cut at the field's length), not its block number; a text whose symbol
// outgrows the sample's stops the run at its record.
void TestGeneration::memoFieldAsCode()
{
    const QList<FieldDef> fields = {{"REF", 'C', 4, 0}, {"NOTE", 'M', 10, 0}};
    QVERIFY(writeFile(
        path("src.dbf"),
        makeDbf(fields, {{' ', {"A", "         1"}}, {' ', {"B", "         2"}}, {' ', {"C", "         3"}}}, 0x83)));
    QVERIFY(writeFile(path("src.dbt"), dbtBytes({"H\x82l\x8Ane", "Note 2", "Xy.Zw!Qr?P and more"})));
    const QList<QByteArray> expected = {"H\xE9l\xE8ne", "Note 2", "Xy.Zw!Qr?P"};
    GenerationJob job = dbfJob(path("src.dbf"), path("out.dbf"), fields, 1, expected[0] + "    ");
    job.parameters.sizeRequest = DmtxSymbol16x16;
    job.trimEnd = true;
    RunOutcome run = runOnThread(job);
    QVERIFY2(run.ok, qPrintable(run.error));
    int w = 0, h = 0;
    QVERIFY(!RecordCoder::measureSample(job.parameters, expected[0], &w, &h));
    const int r = fieldLength(w, h, false);
    const QByteArray out = readFile(path("out.dbf"));
    const QByteArray source = readFile(path("src.dbf"));
    FieldTextDecoder decoder(w, h, job.options, Symbology::Datamatrix);
    for (int i = 0; i < 3; ++i) {
        const QByteArray record = out.mid(le16(out, 8) + i * (15 + r), 15 + r);
        QCOMPARE(record.left(15), source.mid(32 * 3 + 1 + i * 15, 15));  // the block number stays
        QCOMPARE(decoder.decode(record.mid(15)), std::optional(expected[i]));
    }

    job.parameters.sizeRequest = DmtxSymbolSquareAuto;
    job.outputPath = path("failed.dbf");
    run = runOnThread(job);
    QVERIFY(!run.ok);
    QVERIFY2(run.error.startsWith(QStringLiteral("Le code de l'enregistrement n°3 (")), qPrintable(run.error));
    // Neither the base nor its memo: all the outputs or none.
    QVERIFY(!QFile::exists(path("failed.dbf")) && !QFile::exists(path("failed.dbt")));
    QVERIFY(leftovers(dir->path()).isEmpty());

    // The memo copy's destination is checked with the others: read-only, nothing is replaced.
    job.parameters.sizeRequest = DmtxSymbol16x16;
    job.outputPath = path("out.dbf");
    QVERIFY(writeFile(path("out.dbf"), "earlier"));
    QVERIFY(::chmod(QFile::encodeName(path("out.dbt")).constData(), 0444) == 0);
    run = runOnThread(job);
    QCOMPARE(run.error, QStringLiteral("« %1 » est en lecture seule : il ne sera pas remplacé.").arg(path("out.dbt")));
    QCOMPARE(readFile(path("out.dbf")), QByteArray("earlier"));
    QVERIFY(leftovers(dir->path()).isEmpty());
}

QTEST_GUILESS_MAIN(TestGeneration)
#include "test_generation.moc"
