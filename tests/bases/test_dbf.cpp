// The dBase table engine and the DBF source built on it: the refusal table,
// the header's counts, the values and memo texts as read, the layout a run
// reads, the test tables of tests/bases/data and the shared corpus checked
// against its manifest.

#include "bases/dbf.h"
#include "bases/format.h"
#include "bases/listing.h"
#include "bases/source.h"
#include "tests/support/dbf_builder.h"
#include "tests/support/files.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

#include <clocale>
#include <vector>

#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace codiflux;
using Field = testsupport::DbfField;
using testsupport::dbfBytes;
using testsupport::DbfLayout;
using testsupport::memoBytes;
using testsupport::putLe16;
using testsupport::putLe32;

namespace {

DbfLayout layoutOf(quint8 version, qint64 count = -1, const QByteArray& afterTerminator = {}, bool endOfFile = true)
{
    return {.version = version, .declaredCount = count, .afterTerminator = afterTerminator, .endOfFileByte = endOfFile};
}

QByteArray signedBlock(quint32 storedLength, const QByteArray& text)
{
    QByteArray b("\xFF\xFF\x08\x00\0\0\0\0", 8);
    putLe32(b, 4, storedLength);
    return b + text;
}

struct ReadResult {
    QByteArray text;
    int error = 0;
};

// Reads a field of the loaded record into destSize bytes between guards; the
// test stops when the engine writes outside them or leaves no NUL.
ReadResult readField(DbfTable* t, unsigned index, int expectedType = DbfAnyType, unsigned destSize = 1024)
{
    constexpr int guard = 16;
    std::vector<char> buffer(destSize + 2 * guard, '\x5A');
    char* dest = buffer.data() + guard;
    const unsigned length = dbf_read_field(t, dbf_field(t, index), dest, destSize, expectedType);
    for (int i = 0; i < guard; ++i)
        if (buffer[i] != '\x5A' || buffer[guard + destSize + i] != '\x5A')
            qFatal("dbf_read_field wrote outside its destination");
    if (destSize > 0 && (length >= destSize || dest[length] != '\0'))
        qFatal("dbf_read_field left no NUL after the text");
    return {QByteArray(dest, int(length)), dbf_last_error(t, nullptr)};
}

DbfTablePtr openTable(const QString& path, int textAsIs = 0)
{
    return DbfTablePtr(dbf_open(QFile::encodeName(path).constData(), nullptr, 0, textAsIs));
}

QString sharedCorpusDir()
{
    const QByteArray shared = qgetenv("CODIFLUX_SHARED_DIR");
    const QString dir = QString::fromLocal8Bit(shared) + QStringLiteral("/corpus/dbf");
    return !shared.isEmpty() && QFileInfo::exists(dir + QStringLiteral("/MANIFEST.json")) ? dir : QString();
}

}  // namespace

class TestDbf : public QObject {
    Q_OBJECT

    QTemporaryDir tmp;
    int fileNumber = 0;

    QString write(const QByteArray& bytes, const QByteArray& memo = {})
    {
        const QString path = tmp.filePath(QStringLiteral("t%1.dbf").arg(++fileNumber));
        if (!testsupport::writeFile(path, bytes)
            || (!memo.isEmpty() && !testsupport::writeFile(path.chopped(1) + 't', memo)))
            qFatal("cannot write a test table");
        return path;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(tmp.isValid() && ::chmod(QFile::encodeName(tmp.path()).constData(), 0711) == 0);
        std::setlocale(LC_NUMERIC, "C");
    }

    void opens_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("opens");
        const QList<Field> f = {{"NAME", 'C', 4}};
        auto with = [&](quint8 version, quint8 month, quint8 day) {
            DbfLayout layout = layoutOf(version);
            layout.month = month;
            layout.day = day;
            return dbfBytes(f, {{"ABCD"}}, layout);
        };
        for (int v : {0x03, 0x04, 0x30, 0x83, 0x8B})
            QTest::addRow("version %02x", v) << with(quint8(v), 12, 31) << true;
        for (int v : {0x00, 0x02, 0xF5})
            QTest::addRow("version %02x refused", v) << with(quint8(v), 5, 17) << false;
        QTest::newRow("month 0") << with(3, 0, 17) << false;
        QTest::newRow("month 1, day 1") << with(3, 1, 1) << true;
        QTest::newRow("month 13") << with(3, 13, 17) << false;
        QTest::newRow("day 0") << with(3, 5, 0) << false;
        QTest::newRow("day 32") << with(3, 5, 32) << false;
        QTest::newRow("32 bytes") << with(3, 5, 17).left(32) << true;
        QTest::newRow("31 bytes") << with(3, 5, 17).left(31) << false;
        QTest::newRow("empty file") << QByteArray() << false;
    }

    void opens()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, opens);
        // Read-only, as on a read-only medium (root reads as nobody): nothing asks to write.
        const QString path = write(bytes);
        QVERIFY(::chmod(QFile::encodeName(path).constData(), 0444) == 0);
        ::setfsuid(65534);  // refused, with no effect, unless root
        const bool opened = bool(openTable(path));
        ::setfsuid(::geteuid());
        QCOMPARE(opened, opens);
        // What a refused file is told: nothing against the header of one that opens.
        QCOMPARE(tableRefusalText(path) == QStringLiteral("La table ne peut être lue."), opens);
    }

    void refusesWhatIsNotAFile()
    {
        QVERIFY(!openTable(tmp.filePath(QStringLiteral("missing.dbf"))));
        QVERIFY(!dbf_open(nullptr, nullptr, 0, 0));
        const QString fifo = tmp.filePath(QStringLiteral("fifo.dbf"));  // opening it would wait for a writer
        QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0644) == 0);
        QVERIFY(!openTable(fifo));
        QVERIFY(!openTable(QStringLiteral("/dev/zero")));
        Error error;
        QVERIFY(!DbfSource::open(fifo, &error));
        QCOMPARE(error.text, QStringLiteral("Impossible d'ouvrir la base d'origine."));
    }

    // The header's counts against what the file holds, for the engine and for
    // the source a run reads: its descriptors scanned to the terminator, its
    // records at the header length, one record at most beyond the file.
    void counts_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<unsigned>("fields");       // the engine's
        QTest::addColumn<int>("descriptors");       // up to the terminator
        QTest::addColumn<unsigned>("records");      // the engine's
        QTest::addColumn<qint64>("sourceRecords");  // the run's
        QTest::addColumn<qint64>("dataOffset");
        const QList<Field> two = {{"A", 'C', 3}, {"B", 'N', 3}};
        const QList<QList<QByteArray>> three = {{"100", "200"}, {"101", "201"}, {"102", "202"}};
        auto stored = [&](qint64 count, const QByteArray& tail = {}) {
            return dbfBytes(two, three, layoutOf(3, count, {}, false)) + tail;
        };
        QTest::newRow("count stored") << stored(3) << 2u << 2 << 3u << qint64(3) << qint64(97);
        QTest::newRow("0 stored: the file's") << stored(0, "xx") << 2u << 2 << 3u << qint64(3) << qint64(97);
        QTest::newRow("2 stored, 3 held") << stored(2) << 2u << 2 << 2u << qint64(2) << qint64(97);
        QTest::newRow("4 stored, 3 held") << stored(4) << 2u << 2 << 3u << qint64(4) << qint64(97);
        QTest::newRow("2^32-1 stored") << stored(0xFFFFFFFF) << 2u << 2 << 3u << qint64(4) << qint64(97);
        QByteArray padded = dbfBytes(two, three, layoutOf(3, -1, QByteArray(7, '\0')));
        QTest::newRow("padded header") << padded << 2u << 2 << 3u << qint64(3) << qint64(104);
        QByteArray vfp = dbfBytes(two, three, layoutOf(0x30, -1, QByteArray(263, '\0')));
        QTest::newRow("0x30 area") << vfp << 2u << 2 << 3u << qint64(3) << qint64(97 + 263);
        // The header length is trusted down to the terminator's own byte.
        QTest::newRow("0x30 without its area")
            << dbfBytes(two, three, layoutOf(0x30)) << 2u << 2 << 3u << qint64(3) << qint64(97);
        QByteArray beyond = stored(3);
        putLe16(beyond, 8, 5000);  // beyond the file: the records follow the descriptors
        QTest::newRow("header length beyond the file") << beyond << 2u << 2 << 0u << qint64(3) << qint64(97);
        QByteArray shortHeader = stored(3);
        putLe16(shortHeader, 8, 65);  // holds 1 of the 2 descriptors
        QTest::newRow("header length holds 1 of 2") << shortHeader << 1u << 2 << 3u << qint64(3) << qint64(97);
        QByteArray blank = stored(3);
        blank[64] = ' ';  // the engine stops at a descriptor starting with a blank
        QTest::newRow("blank descriptor") << blank << 1u << 2 << 3u << qint64(3) << qint64(97);
        QByteArray zero = stored(3);
        zero[64 + 16] = 0;  // a field of length 0 ends the scan
        QTest::newRow("length 0 ends the scan") << zero << 2u << 1 << 3u << qint64(3) << qint64(97);
        QList<Field> wide;
        QList<QByteArray> row;
        for (int i = 0; i < 300; ++i) {
            wide.append({"F" + QByteArray::number(i), 'C', 1});
            row.append(QByteArray(1, char('a' + i % 26)));
        }
        QTest::newRow("300 fields, no 8-bit wrap")
            << dbfBytes(wide, {row}) << 300u << 300 << 1u << qint64(1) << qint64(32 * 301 + 1);
    }

    void counts()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(unsigned, fields);
        QFETCH(int, descriptors);
        QFETCH(unsigned, records);
        QFETCH(qint64, sourceRecords);
        QFETCH(qint64, dataOffset);
        const QString path = write(bytes);
        DbfTablePtr t = openTable(path);
        QVERIFY(t);
        QCOMPARE(dbf_field_count(t.get()), fields);
        QCOMPARE(dbf_record_count(t.get()), records);
        Error error;
        std::unique_ptr<DbfSource> source = DbfSource::open(path, &error);
        QVERIFY2(source, qPrintable(error.text));
        QCOMPARE(source->layout().fields.size(), qsizetype(fields));
        QCOMPARE(source->descriptorCount(), qsizetype(descriptors));
        QCOMPARE(source->recordCount(), sourceRecords);
        QCOMPARE(source->layout().dataOffset, dataOffset);
        // The run reads the records the file holds byte for byte, and no more.
        QVERIFY(!source->start());
        const qint64 k = source->layout().recordLength;
        std::vector<char> record(static_cast<std::size_t>(k));
        const qint64 held = (bytes.size() - dataOffset) / k;
        for (qint64 r = 0; r < sourceRecords; ++r) {
            QCOMPARE(source->next(record.data()), r < held);
            if (r < held)
                QCOMPARE(QByteArray(record.data(), k), bytes.mid(dataOffset + r * k, k));
        }
    }

    void values_data()
    {
        QTest::addColumn<char>("letter");
        QTest::addColumn<int>("decimals");
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<int>("expectedType");
        QTest::addColumn<unsigned>("destSize");
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<int>("error");
        QTest::newRow("C trimmed") << 'C' << 0 << QByteArray("  A  B  ") << 0 << 64u << QByteArray("A  B") << 109;
        QTest::newRow("C from OEM") << 'C' << 0 << QByteArray("\x82t\x82") << 0 << 64u << QByteArray("\xE9t\xE9")
                                    << 109;
        QTest::newRow("C blanks") << 'C' << 0 << QByteArray("    ") << 0 << 64u << QByteArray() << 109;
        QTest::newRow("C cut to 5 bytes") << 'C' << 0 << QByteArray("ABCDEFG") << 0 << 5u << QByteArray("ABCD") << 109;
        QTest::newRow("C in 1 byte") << 'C' << 0 << QByteArray("ABC") << 0 << 1u << QByteArray() << 109;
        QTest::newRow("C in 8 bytes") << 'C' << 0 << QByteArray("ABCDEFG") << 0 << 8u << QByteArray("ABCDEFG") << 109;
        QTest::newRow("N with decimals is F")
            << 'N' << 2 << QByteArray(" 12,50 ") << 2 << 64u << QByteArray("12.50") << 109;
        QTest::newRow("F first separator only")
            << 'F' << 0 << QByteArray("1,234.5") << 2 << 64u << QByteArray("1.234.5") << 109;
        QTest::newRow("D") << 'D' << 0 << QByteArray("20240615") << 3 << 64u << QByteArray("20240615") << 109;
        QTest::newRow("L") << 'L' << 0 << QByteArray("T") << 5 << 64u << QByteArray("T") << 109;
        QTest::newRow("I any type") << 'I' << 0 << QByteArray("\x01\x02") << -2 << 64u << QByteArray("\x01\x02") << 109;
        QTest::newRow("I as its index") << 'I' << 0 << QByteArray("\x01\x02") << -1 << 64u << QByteArray() << 107;
        QTest::newRow("C read as N") << 'C' << 0 << QByteArray("12") << 1 << 64u << QByteArray() << 107;
        QTest::newRow("index beyond the list") << 'C' << 0 << QByteArray("12") << 7 << 64u << QByteArray() << 107;
    }

    void values()
    {
        QFETCH(char, letter);
        QFETCH(int, decimals);
        QFETCH(QByteArray, stored);
        QFETCH(int, expectedType);
        QFETCH(unsigned, destSize);
        QFETCH(QByteArray, expected);
        QFETCH(int, error);
        DbfTablePtr t = openTable(write(dbfBytes({{"V", letter, int(stored.size()), decimals}}, {{stored}})));
        QVERIFY(t && dbf_goto_record(t.get(), 0));
        const ReadResult r = readField(t.get(), 0, expectedType, destSize);
        QCOMPARE(r.text, expected);
        QCOMPARE(r.error, error);
        // The listing reads with the field's own type, padded to its length.
        const int own = letter == 'I' ? -1 : int(QByteArray("CNFDML").indexOf(decimals ? 'F' : letter));
        if (destSize != 64 || expectedType != own)
            return;
        unsigned valueLength = 99;
        QCOMPARE(listedValue(t.get(), 0, 0, &valueLength), expected.leftJustified(stored.size(), ' '));
        QCOMPARE(valueLength, unsigned(expected.size()));
    }

    // A 'C' field's length takes bytes 16-17; other types keep byte 17 as
    // their decimal count; fields beyond the record length read nothing.
    void wideAndShortRecords()
    {
        QByteArray bytes = dbfBytes({{"LONG", 'C', 300}, {"NDEC", 'N', 10, 2}, {"AFTER", 'C', 3}},
                                    {{QByteArray(299, 'L') + 'Z', "     12.34", "end"}});
        DbfTablePtr t = openTable(write(bytes));
        QVERIFY(t && dbf_goto_record(t.get(), 0));
        QCOMPARE(dbf_field(t.get(), 2)->offset, 1 + 300 + 10);
        QCOMPARE(readField(t.get(), 0, DbfChar, 301).text, QByteArray(299, 'L') + 'Z');
        QCOMPARE(readField(t.get(), 1, DbfFloat).text, QByteArray("12.34"));
        QCOMPARE(readField(t.get(), 2, DbfChar).text, QByteArray("end"));
        std::unique_ptr<DbfSource> source = DbfSource::open(write(bytes), nullptr);
        QVERIFY(source);
        QCOMPARE(source->layout().recordLength, 1 + 300 + 10 + 3);
        QCOMPARE(source->layout().fields.at(1).type, 'N');
        QCOMPARE(source->layout().fields.at(1).decimals, 2);
        QCOMPARE(source->value(0, 0).size(), 300);

        QByteArray cut = dbfBytes({{"A", 'C', 5}, {"B", 'C', 5}}, {{"AAAAA", "BBBBB"}});
        putLe16(cut, 10, 10);  // the record ends one byte before B does
        t = openTable(write(cut));
        QVERIFY(t && dbf_goto_record(t.get(), 0));
        QCOMPARE(readField(t.get(), 0).text, QByteArray("AAAAA"));
        QCOMPARE(readField(t.get(), 1).text, QByteArray());
        QCOMPARE(readField(t.get(), 1).error, int(DbfErrorInvalidField));
    }

    void memo_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<int>("version");
        QTest::addColumn<QByteArray>("memo");  // empty: no memo file
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<int>("error");
        const QByteArray one = memoBytes({{1, "text"}});
        QTest::newRow("signed block") << QByteArray("        12") << 0x83
                                      << memoBytes({{12, signedBlock(5, "HELLOWORLD")}}) << QByteArray("HELLO") << 109;
        QTest::newRow("signed length counts its header")
            << QByteArray("2") << 0x8B << memoBytes({{2, signedBlock(12, "ABCDEFG")}}) << QByteArray("ABCD") << 109;
        QTest::newRow("ended by 0x1A") << QByteArray("3") << 0x8B << memoBytes({{3, "ABC\x1A\x1A"}, {4, "DEF"}})
                                       << QByteArray("ABC") << 109;
        QTest::newRow("ended by NUL") << QByteArray("1") << 0x83 << memoBytes({{1, QByteArray("AB\0CD", 5)}})
                                      << QByteArray("AB") << 109;
        QTest::newRow("block size 64") << QByteArray("3") << 0x8B << memoBytes({{3, "Small"}}, 64)
                                       << QByteArray("Small") << 109;
        QTest::newRow("block size 0 is 512")
            << QByteArray("2") << 0x83 << memoBytes({{2, "Two"}}, 0) << QByteArray("Two") << 109;
        QTest::newRow("OEM converted, blanks trimmed")
            << QByteArray("1") << 0x83 << memoBytes({{1, "  Caf\x82  \x1A"}}) << QByteArray("Caf\xE9") << 109;
        QTest::newRow("longer than a block")
            << QByteArray("1") << 0x83 << memoBytes({{1, QByteArray(700, 'm')}}) << QByteArray(512, 'm') << 109;
        QTest::newRow("signature cut short")
            << QByteArray("1") << 0x8B << memoBytes({{1, QByteArray("\xFF\xFF\x08\x00\x05", 5)}}) << QByteArray()
            << 109;
        QTest::newRow("blank number") << QByteArray("   ") << 0x83 << one << QByteArray() << 114;
        QTest::newRow("number 0") << QByteArray("0") << 0x83 << one << QByteArray() << 114;
        QTest::newRow("negative") << QByteArray("-1") << 0x83 << one << QByteArray() << 114;
        QTest::newRow("no memo file") << QByteArray("1") << 0x83 << QByteArray() << QByteArray() << 114;
        QTest::newRow("0x03 table") << QByteArray("1") << 0x03 << one << QByteArray() << 114;
        QTest::newRow("beyond the file") << QByteArray("40") << 0x83 << one << QByteArray() << 112;
        QTest::newRow("offset beyond 64 bits") << QByteArray("18014398509481984") << 0x83 << one << QByteArray() << 112;
        QTest::newRow("number beyond 64 bits")
            << QByteArray("99999999999999999999") << 0x83 << one << QByteArray() << 112;
    }

    void memo()
    {
        QFETCH(QByteArray, stored);
        QFETCH(int, version);
        QFETCH(QByteArray, memo);
        QFETCH(QByteArray, expected);
        QFETCH(int, error);
        const QString path = write(dbfBytes({{"NOTE", 'M', int(stored.size())}, {"NAME", 'C', 3}}, {{stored, "abc"}},
                                            layoutOf(quint8(version))),
                                   memo);
        DbfTablePtr t = openTable(path);
        QVERIFY(t && dbf_goto_record(t.get(), 0));
        const ReadResult r = readField(t.get(), 0, DbfMemo);
        QCOMPARE(r.text, expected);
        QCOMPARE(r.error, error);
        QCOMPARE(readField(t.get(), 1).text, QByteArray("abc"));
        // The run's source lists the same text, cut or padded to the field.
        std::unique_ptr<DbfSource> source = DbfSource::open(path, nullptr);
        QVERIFY(source);
        QCOMPARE(source->value(0, 0),
                 readField(t.get(), 0, DbfMemo, unsigned(stored.size()) + 1).text.leftJustified(stored.size(), ' '));
    }

    // The factory knows each kind by its suffix in any case (anything else
    // is a text base), and each format names the files a run touches.
    void formats()
    {
        const QList<std::pair<QString, BaseKind>> suffixes = {
            {"a.dbf", BaseKind::Dbf},  {"A.DbF", BaseKind::Dbf}, {"b.csv", BaseKind::Csv},     {"B.CSV", BaseKind::Csv},
            {"c.txt", BaseKind::Text}, {"d", BaseKind::Text},    {"e.dbf.bak", BaseKind::Text}};
        for (const auto& [path, kind] : suffixes)
            QCOMPARE(formatOf(path).kind(), kind);

        const BaseFormat& table = formatOf("t.dbf");
        const QString source = tmp.filePath("t.dbf");
        QVERIFY(testsupport::writeFile(tmp.filePath("t.dbt"), "memo"));
        QCOMPARE(table.filesRead(source), QStringList({source, tmp.filePath("t.dbt")}));
        QCOMPARE(table.filesWritten("o.dbf", true).text, QStringLiteral("./o.txt"));
        QVERIFY(table.filesWritten("o.dbf", false).text.isEmpty());
        QCOMPARE(table.defaultFieldName("DESIGNATION"), QStringLiteral("_DESIGNATI"));

        const BaseFormat& csv = formatOf("t.csv");
        QCOMPARE(csv.filesRead("t.csv"), QStringList("t.csv"));
        QCOMPARE(csv.filesWritten("o.csv", true).table, QStringLiteral("o.csv"));
        QVERIFY(csv.filesWritten("o.csv", true).text.isEmpty());
        QCOMPARE(csv.defaultFieldName("DESIGNATION"), QStringLiteral("_DESIGNATION"));

        const BaseFormat& text = formatOf("t.txt");
        QVERIFY(text.filesWritten("o.txt", true).table.isEmpty());
        QCOMPARE(text.filesWritten("o.txt", true).text, QStringLiteral("o.txt"));
        QVERIFY(text.defaultFieldName("x").isEmpty());
        QVERIFY(!text.hasTextForm() && !csv.hasTextForm() && table.hasTextForm());

        QCOMPARE(loadDialogFilter(),
                 QStringLiteral("Tous les formats connus (*.dbf *.txt *.csv);;Bases DBF (*.dbf);;"
                                "Fichiers texte (*.txt);;Bases CSV (*.csv);;Tous les fichiers (*.*)"));
    }

    void sharedCorpus();
};

// Every table of the shared corpus against its manifest: opened or refused,
// its counts, its fields, and the values of its first records (memo texts
// are the memo table's), read as they are and converted.
void TestDbf::sharedCorpus()
{
    const QString dir = sharedCorpusDir();
    if (dir.isEmpty())
        QSKIP("the shared corpus (CODIFLUX_SHARED_DIR/corpus/dbf) is not present");
    QFile manifest(dir + QStringLiteral("/MANIFEST.json"));
    QVERIFY(manifest.open(QIODevice::ReadOnly));
    const QJsonArray tables = QJsonDocument::fromJson(manifest.readAll()).object().value("tables").toArray();
    int checkedRecords = 0;
    for (const QJsonValue& value : tables) {
        const QJsonObject t = value.toObject();
        const QString file = t.value("file").toString();
        const QJsonObject header = t.value("header").toObject();
        const QJsonObject date = header.value("last_update_bytes").toObject();
        const int month = date.value("month").toInt(), day = date.value("day").toInt();
        const bool isTable = header.value("header_complete").toBool()
            && QList<int>{0x03, 0x04, 0x30, 0x83, 0x8B}.contains(header.value("version_byte").toInt()) && month >= 1
            && month <= 12 && day >= 1 && day <= 31;
        for (int asIs = 0; asIs < 2; ++asIs) {
            DbfTablePtr table = openTable(dir + '/' + file, asIs);
            QVERIFY2(bool(table) == isTable, qPrintable(file));
            if (!table)
                continue;
            if (!asIs)  // the run's source opens what the engine opens, with its fields
                QVERIFY2(DbfSource::open(dir + '/' + file, nullptr)->layout().fields.size()
                             == qsizetype(dbf_field_count(table.get())),
                         qPrintable(file));
            const qint64 stored = header.value("record_count_stored").toInteger();
            const qint64 held = t.value("layout").toObject().value("record_count_from_file_size").toInteger();
            const qint64 records = stored != 0 ? qMin(stored, held) : held;  // bounded by what the file holds
            QVERIFY2(dbf_record_count(table.get()) == quint64(records), qPrintable(file));
            // As many descriptors as the header length allows, up to the end of the list.
            const QJsonArray descriptors = t.value("descriptors").toArray();
            const int headerLength = header.value("header_length").toInt();
            const int recordLength = header.value("record_length").toInt();
            const int fieldCount
                = qMin<int>(headerLength >= 33 ? ((headerLength - 33) / 32) & 0xFF : 0, int(descriptors.size()));
            QVERIFY2(dbf_field_count(table.get()) == unsigned(fieldCount), qPrintable(file));
            for (int i = 0, offset = 1; i < fieldCount; ++i) {
                const QJsonObject d = descriptors[i].toObject();
                const char letter = d.value("type").toString().toLatin1().at(0);
                const int b16 = d.value("byte16").toInt(), b17 = d.value("byte17").toInt();
                QByteArray name = QByteArray::fromHex(d.value("name_raw_hex").toString().toLatin1());
                name.truncate(qstrnlen(name.constData(), name.size()));
                const DbfField* f = dbf_field(table.get(), unsigned(i));
                QCOMPARE(f->type, letter == 'C' ? 'C' : b17 != 0 ? 'F' : letter);
                QCOMPARE(f->length, letter == 'C' ? b16 + 256 * b17 : b16);
                QCOMPARE(f->decimals, letter == 'C' ? 0 : b17);
                QCOMPARE(f->offset, offset);
                QCOMPARE(QByteArray(f->name), name);
                offset += f->length;
                DbfFieldInfo info{};
                QVERIFY(dbf_field_info(table.get(), unsigned(i), &info));
                if (!asIs)
                    oemToAnsi(name.constData(), name.data(), size_t(name.size()));
                QCOMPARE(QByteArray(info.name), name);
            }
            for (const QJsonValue& r : t.value("first_records").toArray()) {
                const int index = r.toObject().value("index").toInt();
                if (quint64(index) >= quint64(records))
                    continue;
                const bool complete = r.toObject().value("complete").toBool();
                QVERIFY2(dbf_goto_record(table.get(), unsigned(index)) == complete, qPrintable(file));
                if (!complete)
                    continue;
                const QByteArray raw = r.toObject().value("raw_latin1").toString().toLatin1();
                QCOMPARE(raw.size(), qsizetype(recordLength));
                ++checkedRecords;
                for (int i = 0; i < fieldCount; ++i) {
                    const DbfField* f = dbf_field(table.get(), unsigned(i));
                    const ReadResult got = readField(table.get(), unsigned(i), DbfAnyType, 70000);
                    if (f->offset + f->length > recordLength) {
                        QCOMPARE(got.error, int(DbfErrorInvalidField));
                        continue;
                    }
                    if (f->type == 'M')
                        continue;
                    QByteArray expected = raw.mid(f->offset, f->length);
                    while (expected.endsWith(' '))
                        expected.chop(1);
                    if (!asIs && f->type != 'F')
                        oemToAnsi(expected.constData(), expected.data(), size_t(expected.size()));
                    const qsizetype comma = expected.indexOf(','), stop = expected.indexOf('.');
                    const qsizetype point = comma < 0 ? stop : stop < 0 ? comma : qMin(comma, stop);
                    if (f->type == 'F' && point >= 0)
                        expected[point] = '.';
                    expected.truncate(qstrnlen(expected.constData(), expected.size()));  // what a C string shows
                    while (expected.startsWith(' '))
                        expected.remove(0, 1);
                    QByteArray text = got.text;
                    text.truncate(qstrnlen(text.constData(), text.size()));
                    QVERIFY2(text == expected,
                             qPrintable(QStringLiteral("%1 record %2 field %3").arg(file).arg(index).arg(i)));
                }
            }
        }
    }
    QVERIFY(checkedRecords > 50);
}

QTEST_GUILESS_MAIN(TestDbf)
#include "test_dbf.moc"
