// Tests of the dBase table engine: tables built byte by byte, the test tables
// of tests/bases/data, and the shared corpus checked against its manifest.

#include "bases/dbf.h"
#include "tests/support/locale.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <clocale>
#include <cstring>
#include <vector>

#include <sys/stat.h>

using namespace codiflux;

namespace {

QByteArray le16(unsigned v)
{
    QByteArray b(2, '\0');
    b[0] = char(v & 0xFF);
    b[1] = char((v >> 8) & 0xFF);
    return b;
}

QByteArray le32(quint32 v)
{
    QByteArray b(4, '\0');
    for (int i = 0; i < 4; ++i)
        b[i] = char((v >> (8 * i)) & 0xFF);
    return b;
}

QByteArray latin1(const QString& s)
{
    return s.toLatin1();
}

// Writes a dBase table byte by byte. Lengths and counts follow the fields and
// records unless set explicitly, which lets a test build inconsistent tables.
struct TableBuilder {
    quint8 version = 0x03;
    quint8 year = 124, month = 6, day = 15;
    qint64 storedCount = -1;  // -1: the number of records given
    int headerLength = -1;    // -1: 32 + 32 x descriptors + 1 + area
    int recordLength = -1;    // -1: 1 + sum of the field lengths
    QList<QByteArray> descriptors;
    int fieldBytes = 0;
    bool terminator = true;
    QByteArray area;            // bytes after the terminator (the 263-byte area of 0x30 tables)
    QList<QByteArray> records;  // deletion flag included
    QByteArray tail = "\x1A";

    // A descriptor with explicit bytes 16 and 17.
    TableBuilder& rawField(const QByteArray& name, char type, quint8 byte16, quint8 byte17, int bytesInRecord)
    {
        QByteArray d(32, '\0');
        std::memcpy(d.data(), name.constData(), qMin<qsizetype>(name.size(), 11));
        d[11] = type;
        d[16] = char(byte16);
        d[17] = char(byte17);
        descriptors.append(d);
        fieldBytes += bytesInRecord;
        return *this;
    }

    TableBuilder& field(const QByteArray& name, char type, int length, int decimals = 0)
    {
        if (type == 'C')
            return rawField(name, type, quint8(length & 0xFF), quint8(length >> 8), length);
        return rawField(name, type, quint8(length), quint8(decimals), length);
    }

    TableBuilder& record(const QByteArray& values, bool deleted = false)
    {
        records.append((deleted ? QByteArray("*") : QByteArray(" ")) + values);
        return *this;
    }

    QByteArray bytes() const
    {
        const int hl = headerLength >= 0 ? headerLength
                                         : 32 + 32 * int(descriptors.size()) + (terminator ? 1 : 0) + int(area.size());
        const int rl = recordLength >= 0 ? recordLength : 1 + fieldBytes;
        QByteArray out;
        out.append(char(version)).append(char(year)).append(char(month)).append(char(day));
        out.append(le32(storedCount >= 0 ? quint32(storedCount) : quint32(records.size())));
        out.append(le16(unsigned(hl))).append(le16(unsigned(rl)));
        out.append(QByteArray(20, '\0'));
        for (const QByteArray& d : descriptors)
            out.append(d);
        if (terminator)
            out.append('\r');
        out.append(area);
        for (const QByteArray& r : records)
            out.append(r);
        out.append(tail);
        return out;
    }
};

// A memo file: header block with the block size, then blocks at their numbers.
struct MemoBuilder {
    unsigned blockSize = 512;  // stored value; 0 means 512
    QList<QPair<qint64, QByteArray>> blocks;

    MemoBuilder& block(qint64 number, const QByteArray& content)
    {
        blocks.append({number, content});
        return *this;
    }

    QByteArray bytes() const
    {
        const qint64 size = blockSize == 0 ? 512 : blockSize;
        QByteArray out(512, '\0');
        out.replace(0, 4, le32(1));
        out[16] = 3;
        out.replace(20, 2, le16(blockSize));
        for (const auto& [number, content] : blocks) {
            const qint64 at = number * size;
            if (out.size() < at + content.size())
                out.resize(at + content.size(), '\0');
            out.replace(at, content.size(), content);
        }
        return out;
    }
};

QByteArray signedBlock(quint32 storedLength, const QByteArray& text)
{
    return QByteArray("\xFF\xFF\x08\x00", 4) + le32(storedLength) + text;
}

// A file-access table that records what the engine asks of the default one.
struct IoLog {
    struct Seek {
        void* file;
        qint64 offset;
        int origin;
    };
    QList<QPair<QByteArray, int>> opens;  // path, mode
    QList<void*> files;                   // parallel to opens (null when the open failed)
    QList<Seek> seeks;
    QList<QPair<void*, qint64>> reads;  // file, size asked
    int closes = 0;

    QByteArray pathOf(void* file) const
    {
        const qsizetype i = files.indexOf(file);
        return i >= 0 && file ? opens[i].first : QByteArray();
    }
};

DbfIoFunctions recordingIo(IoLog* log)
{
    DbfIoFunctions io{};
    io.open = [](void* user, const char* path, int mode) -> void* {
        auto* l = static_cast<IoLog*>(user);
        void* f = dbf_default_io()->open(nullptr, path, mode);
        l->opens.append({QByteArray(path), mode});
        l->files.append(f);
        return f;
    };
    io.read = [](void* user, void* file, void* buffer, std::size_t size) {
        static_cast<IoLog*>(user)->reads.append({file, qint64(size)});
        return dbf_default_io()->read(nullptr, file, buffer, size);
    };
    io.write = [](void*, void* file, const void* buffer, std::size_t size) {
        return dbf_default_io()->write(nullptr, file, buffer, size);
    };
    io.tell = [](void*, void* file) { return dbf_default_io()->tell(nullptr, file); };
    io.seek = [](void* user, void* file, std::int64_t offset, int origin) {
        static_cast<IoLog*>(user)->seeks.append({file, offset, origin});
        return dbf_default_io()->seek(nullptr, file, offset, origin);
    };
    io.close = [](void* user, void* file) {
        ++static_cast<IoLog*>(user)->closes;
        return dbf_default_io()->close(nullptr, file);
    };
    io.error = [](void*, void* file) { return dbf_default_io()->error(nullptr, file); };
    io.user = log;
    return io;
}

struct ReadResult {
    QByteArray text;
    unsigned length = 0;
    int error = 0;
    QByteArray errorText;
};

// Reads a field of the loaded record through a destination of destSize bytes
// surrounded by guard bytes, and fails the test when the engine writes outside it.
ReadResult readField(DbfTable* table, unsigned index, int expectedType = DbfAnyType, unsigned destSize = 1024)
{
    constexpr int guard = 16;
    std::vector<char> buffer(destSize + 2 * guard, '\x5A');
    char* dest = buffer.data() + guard;
    ReadResult r;
    r.length = dbf_read_field(table, dbf_field(table, index), dest, destSize, expectedType);
    for (int i = 0; i < guard; ++i) {
        if (buffer[i] != '\x5A' || buffer[guard + destSize + i] != '\x5A')
            qFatal("dbf_read_field wrote outside its destination");
    }
    if (destSize > 0) {
        if (r.length >= destSize || dest[r.length] != '\0')
            qFatal("dbf_read_field left no NUL after the text");
    }
    r.text = QByteArray(dest, int(r.length));
    const char* text = nullptr;
    r.error = dbf_last_error(table, &text);
    r.errorText = text;
    return r;
}

QString sharedCorpusDir()
{
    const QByteArray shared = qgetenv("CODIFLUX_SHARED_DIR");
    if (shared.isEmpty())
        return {};
    const QString dir = QString::fromLocal8Bit(shared) + QStringLiteral("/corpus/dbf");
    return QFileInfo::exists(dir + QStringLiteral("/MANIFEST.json")) ? dir : QString();
}

QString testData(const QString& name)
{
    return QStringLiteral(CODIFLUX_TEST_DATA "/") + name;
}

DbfTablePtr openTable(const QString& path, int textAsIs = 0, const DbfIoFunctions* io = nullptr, int writable = 0)
{
    return DbfTablePtr(dbf_open(QFile::encodeName(path).constData(), io, writable, textAsIs));
}

}  // namespace

class TestDbf : public QObject {
    Q_OBJECT

private:
    QTemporaryDir tmp;
    int fileNumber = 0;

    QString write(const QByteArray& bytes, const QString& name = {})
    {
        const QString path = tmp.filePath(name.isEmpty() ? QStringLiteral("t%1.dbf").arg(++fileNumber) : name);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
            qFatal("cannot write a test table");
        return path;
    }

    // A table and its memo file side by side.
    QString writeWithMemo(const QByteArray& table, const QByteArray& memo)
    {
        const QString path = write(table);
        QString memoName = path;
        memoName.back() = QLatin1Char('t');
        QFile f(memoName);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(memo) != memo.size())
            qFatal("cannot write a memo file");
        return path;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(tmp.isValid());
        std::setlocale(LC_NUMERIC, "C");
    }

    // --- opening ---------------------------------------------------------

    void rejectsWhatIsNotATable_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        auto base = [] {
            TableBuilder t;
            t.field("NAME", 'C', 4).record("ABCD");
            return t;
        };
        TableBuilder t = base();
        t.year = t.month = t.day = 0;
        QTest::newRow("date bytes all 0") << t.bytes();
        t = base();
        t.version = 0x02;
        QTest::newRow("version 0x02") << t.bytes();
        t = base();
        t.version = 0xF5;
        QTest::newRow("version 0xF5") << t.bytes();
        t = base();
        t.version = 0x00;
        QTest::newRow("version 0x00") << t.bytes();
        t = base();
        t.month = 13;
        QTest::newRow("month 13") << t.bytes();
        t = base();
        t.day = 0;
        QTest::newRow("day 0") << t.bytes();
        t = base();
        t.day = 32;
        QTest::newRow("day 32") << t.bytes();
        QTest::newRow("31 bytes") << base().bytes().left(31);
        QTest::newRow("empty file") << QByteArray();
    }

    void rejectsWhatIsNotATable()
    {
        QFETCH(QByteArray, bytes);
        IoLog log;
        const DbfIoFunctions io = recordingIo(&log);
        DbfTablePtr table = openTable(write(bytes), 0, &io);
        QVERIFY(!table);
        // Both files opened are closed again.
        int opened = 0;
        for (void* f : log.files)
            opened += f ? 1 : 0;
        QCOMPARE(log.closes, opened);
    }

    void rejectsMissingFile()
    {
        QVERIFY(!openTable(tmp.filePath(QStringLiteral("missing.dbf"))));
        QVERIFY(!dbf_open(nullptr, nullptr, 0, 0));
        // Neither a FIFO (whose opening would wait for a writer) nor a device is read.
        const QString fifo = tmp.filePath(QStringLiteral("fifo.dbf"));
        QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0644) == 0);
        QVERIFY(!openTable(fifo));
        QVERIFY(!openTable(QStringLiteral("/dev/zero")));
    }

    void acceptsVersions_data()
    {
        QTest::addColumn<int>("version");
        for (int v : {0x03, 0x04, 0x30, 0x83, 0x8B})
            QTest::newRow(qPrintable(QStringLiteral("0x%1").arg(v, 2, 16, QLatin1Char('0')))) << v;
    }

    void acceptsVersions()
    {
        QFETCH(int, version);
        TableBuilder t;
        t.version = quint8(version);
        t.month = 12;
        t.day = 31;
        t.field("CODE", 'C', 5).record("AB123").record("CD456");
        DbfTablePtr table = openTable(write(t.bytes()));
        QVERIFY(table);
        QCOMPARE(dbf_record_count(table.get()), 2u);
        QCOMPARE(dbf_field_count(table.get()), 1u);
        QVERIFY(dbf_goto_record(table.get(), 1));
        QCOMPARE(readField(table.get(), 0).text, QByteArray("CD456"));
        const char* text = nullptr;
        QCOMPARE(dbf_last_error(table.get(), &text), int(DbfSuccess));
        QCOMPARE(QByteArray(text), QByteArray());
    }

    void derivedRecordCount_data()
    {
        QTest::addColumn<qint64>("stored");  // the header's count; 0: not stored
        QTest::addColumn<int>("records");
        QTest::addColumn<QByteArray>("tail");
        QTest::addColumn<unsigned>("expected");
        QTest::newRow("3 records and 0x1A") << qint64(0) << 3 << QByteArray("\x1A") << 3u;
        QTest::newRow("3 records, nothing after") << qint64(0) << 3 << QByteArray() << 3u;
        QTest::newRow("3 records and most of a 4th") << qint64(0) << 3 << QByteArray(5, 'x') << 3u;
        QTest::newRow("no record") << qint64(0) << 0 << QByteArray("\x1A") << 0u;
        // A stored count is bounded by what the file holds, never raised by it.
        QTest::newRow("0xFFFFFFFF stored, 3 held") << qint64(0xFFFFFFFF) << 3 << QByteArray("\x1A") << 3u;
        QTest::newRow("2 stored, 3 held") << qint64(2) << 3 << QByteArray("\x1A") << 2u;
    }

    void derivedRecordCount()
    {
        QFETCH(qint64, stored);
        QFETCH(int, records);
        QFETCH(QByteArray, tail);
        QFETCH(unsigned, expected);
        TableBuilder t;
        t.storedCount = stored;
        t.tail = tail;
        t.field("A", 'C', 3).field("B", 'N', 3);
        for (int i = 0; i < records; ++i)
            t.record(QByteArray::number(100 + i) + QByteArray::number(200 + i));
        DbfTablePtr table = openTable(write(t.bytes()));
        QVERIFY(table);
        QCOMPARE(dbf_record_count(table.get()), expected);
        for (unsigned i = 0; i < expected; ++i) {
            QVERIFY(dbf_goto_record(table.get(), i));
            QCOMPARE(readField(table.get(), 1).text, QByteArray::number(200 + i));
        }
    }

    void fieldCount_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArrayList>("names");
        QTest::addColumn<QByteArray>("first");  // first value of the first record

        TableBuilder t;
        t.field("ONE", 'C', 2).field("TWO", 'C', 2).record("aabb");
        t.headerLength = 32 + 3 * 32 + 1;  // announces 3 fields; the terminator stands where the third would start
        t.area = QByteArray(32, 'Z');
        QTest::newRow("terminator where the third field would be")
            << t.bytes() << QByteArrayList{"ONE", "TWO"} << QByteArray("aa");

        TableBuilder b;
        b.field("ONE", 'C', 2).rawField(" BLANK", 'C', 2, 0, 0).field("THREE", 'C', 2).record("aabb");
        QTest::newRow("descriptor starting with a blank") << b.bytes() << QByteArrayList{"ONE"} << QByteArray("aa");

        TableBuilder lf;
        lf.field("ONE", 'C', 2).record("aa");
        lf.terminator = false;
        lf.area = "\n";
        QTest::newRow("list ended by 0x0A") << lf.bytes() << QByteArrayList{"ONE"} << QByteArray("aa");

        TableBuilder shortHeader;
        shortHeader.field("ONE", 'C', 2).field("TWO", 'C', 2).field("THREE", 'C', 2).record("aabbcc");
        shortHeader.headerLength = 32 + 2 * 32 + 1;  // the records are located by this length only
        shortHeader.terminator = false;
        QTest::newRow("header length counts 2 of 3 descriptors")
            << shortHeader.bytes() << QByteArrayList{"ONE", "TWO"} << QByteArray("RE");  // inside the third descriptor

        TableBuilder vfp;
        vfp.version = 0x30;
        vfp.field("ID", 'N', 4).field("NAME", 'C', 6).record("  12Martin");
        vfp.area = QByteArray(263, '\0');
        QTest::newRow("0x30 area after the terminator")
            << vfp.bytes() << QByteArrayList{"ID", "NAME"} << QByteArray("12");

        // Fields are counted without an 8-bit wrap.
        TableBuilder wide;
        QByteArrayList names;
        for (int i = 0; i < 300; ++i) {
            names << "F" + QByteArray::number(i);
            wide.field(names.last(), 'C', 1);
        }
        wide.record(QByteArray(299, 'b').prepend('a'));
        QTest::newRow("300 descriptors") << wide.bytes() << names << QByteArray("a");
    }

    void fieldCount()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArrayList, names);
        QFETCH(QByteArray, first);
        DbfTablePtr table = openTable(write(bytes));
        QVERIFY(table);
        QCOMPARE(dbf_field_count(table.get()), unsigned(names.size()));
        for (int i = 0; i < names.size(); ++i) {
            DbfFieldInfo info{};
            QVERIFY(dbf_field_info(table.get(), unsigned(i), &info));
            QCOMPARE(QByteArray(info.name), names[i]);
        }
        QVERIFY(!dbf_field_info(table.get(), unsigned(names.size()), nullptr));
        // The first record is found through the header length whatever the descriptors say.
        if (!names.isEmpty()) {
            QVERIFY(dbf_goto_record(table.get(), 0));
            QCOMPARE(readField(table.get(), 0).text, first);
        }
    }

    void fieldInfo()
    {
        TableBuilder t;
        t.field("CHAR", 'C', 3)
            .field("NUM", 'N', 5)
            .field("FLO", 'F', 6, 2)
            .field("DAT", 'D', 8)
            .field("MEM", 'M', 10)
            .field("LOG", 'L', 1)
            .field("INT", 'I', 4)
            .field("NDEC", 'N', 8, 2)
            .field("\x8E\x94\x81", 'C', 2)
            .field("FNODEC", 'F', 7);
        t.record(QByteArray(3 + 5 + 6 + 8 + 10 + 1 + 4 + 8 + 2 + 7, ' '));
        const QString path = write(t.bytes());
        DbfTablePtr table = openTable(path);
        QVERIFY(table);
        QCOMPARE(dbf_field_count(table.get()), 10u);
        const int types[] = {0, 1, 2, 3, 4, 5, -1, 2, 0, 2};
        const int lengths[] = {3, 5, 6, 8, 10, 1, 4, 8, 2, 7};
        const int decimals[] = {0, 0, 2, 0, 0, 0, 0, 2, 0, 0};
        int offset = 1;
        for (unsigned i = 0; i < 10; ++i) {
            DbfFieldInfo info{};
            QVERIFY(dbf_field_info(table.get(), i, &info));
            QCOMPARE(info.type, types[i]);
            QCOMPARE(info.length, lengths[i]);
            QCOMPARE(info.decimals, decimals[i]);
            const DbfField* field = dbf_field(table.get(), i);
            QVERIFY(field);
            QCOMPARE(field->offset, offset);
            QCOMPARE(field->length, lengths[i]);
            offset += lengths[i];
        }
        QCOMPARE(dbf_field(table.get(), 7)->type, 'F');  // stored as N, with decimals
        QCOMPARE(dbf_field(table.get(), 6)->type, 'I');

        // Names are converted from OEM unless text is kept as is; the stored name never is.
        DbfFieldInfo info{};
        QVERIFY(dbf_field_info(table.get(), 8, &info));
        QCOMPARE(QByteArray(info.name), QByteArray("\xC4\xF6\xFC"));
        QCOMPARE(QByteArray(dbf_field(table.get(), 8)->name), QByteArray("\x8E\x94\x81"));
        DbfTablePtr raw = openTable(path, 1);
        QVERIFY(dbf_field_info(raw.get(), 8, &info));
        QCOMPARE(QByteArray(info.name), QByteArray("\x8E\x94\x81"));

        QVERIFY(dbf_field_info(table.get(), 9, nullptr));
        QVERIFY(!dbf_field_info(table.get(), 10, &info));
        QVERIFY(!dbf_field_info(nullptr, 0, &info));
    }

    // --- values ----------------------------------------------------------

    void readValues_data()
    {
        QTest::addColumn<char>("letter");
        QTest::addColumn<int>("decimals");
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<int>("expectedType");
        QTest::addColumn<unsigned>("destSize");
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<int>("error");
        QTest::addColumn<QByteArray>("errorText");

        const QByteArray none;
        QTest::newRow("C trimmed both sides")
            << 'C' << 0 << QByteArray("  AB  ") << 0 << 7u << QByteArray("AB") << 109 << none;
        QTest::newRow("C any type") << 'C' << 0 << QByteArray("Dupont  ") << -2 << 64u << QByteArray("Dupont") << 109
                                    << none;
        QTest::newRow("C blanks only") << 'C' << 0 << QByteArray("    ") << 0 << 64u << QByteArray() << 109 << none;
        QTest::newRow("C inner blanks kept")
            << 'C' << 0 << QByteArray(" A  B ") << 0 << 64u << QByteArray("A  B") << 109 << none;
        QTest::newRow("C from OEM") << 'C' << 0 << QByteArray("\x82t\x82 ") << 0 << 64u << QByteArray("\xE9t\xE9")
                                    << 109 << none;
        QTest::newRow("N") << 'N' << 0 << QByteArray("   42") << 1 << 64u << QByteArray("42") << 109 << none;
        QTest::newRow("N with decimals reads as F")
            << 'N' << 2 << QByteArray("  12,50 ") << 2 << 64u << QByteArray("12.50") << 109 << none;
        QTest::newRow("F first separator only")
            << 'F' << 0 << QByteArray("1,234.5") << 2 << 64u << QByteArray("1.234.5") << 109 << none;
        QTest::newRow("F not converted") << 'F' << 0
                                         << QByteArray("\x82"
                                                       "3,5")
                                         << 2 << 64u
                                         << QByteArray("\x82"
                                                       "3.5")
                                         << 109 << none;
        QTest::newRow("D") << 'D' << 0 << QByteArray("20240615") << 3 << 64u << QByteArray("20240615") << 109 << none;
        QTest::newRow("L") << 'L' << 0 << QByteArray("T") << 5 << 64u << QByteArray("T") << 109 << none;
        QTest::newRow("I with its own index") << 'I' << 0 << QByteArray("\x01\x02\x03\x04") << -1 << 64u << QByteArray()
                                              << 107 << QByteArray("Unexpected field type");
        QTest::newRow("I any type") << 'I' << 0 << QByteArray("\x01\x02\x03\x04") << -2 << 64u
                                    << QByteArray("\x01\x02\x03\x04") << 109 << none;
        QTest::newRow("C read as N") << 'C' << 0 << QByteArray("12") << 1 << 64u << QByteArray() << 107
                                     << QByteArray("Unexpected field type");
        QTest::newRow("N with decimals read as N")
            << 'N' << 2 << QByteArray("1.50") << 1 << 64u << QByteArray() << 107 << QByteArray("Unexpected field type");
        QTest::newRow("type index beyond the list")
            << 'C' << 0 << QByteArray("12") << 7 << 64u << QByteArray() << 107 << QByteArray("Unexpected field type");
    }

    void readValues()
    {
        QFETCH(char, letter);
        QFETCH(int, decimals);
        QFETCH(QByteArray, stored);
        QFETCH(int, expectedType);
        QFETCH(unsigned, destSize);
        QFETCH(QByteArray, expected);
        QFETCH(int, error);
        QFETCH(QByteArray, errorText);
        TableBuilder t;
        t.field("V", letter, int(stored.size()), decimals).record(stored);
        DbfTablePtr table = openTable(write(t.bytes()));
        QVERIFY(table);
        QVERIFY(dbf_goto_record(table.get(), 0));
        const ReadResult r = readField(table.get(), 0, expectedType, destSize);
        QCOMPARE(r.text, expected);
        QCOMPARE(r.length, unsigned(expected.size()));
        QCOMPARE(r.error, error);
        if (error != 109)
            QCOMPARE(r.errorText, errorText);
    }

    // Numbers read the same under a locale whose decimal point is a comma.
    void decimalPointWhateverTheLocale()
    {
        QTemporaryDir locales;
        const QString failure = testsupport::makeFrenchLocale(locales.path());
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        qputenv("LOCPATH", QFile::encodeName(locales.path()));
        const bool comma
            = std::setlocale(LC_NUMERIC, testsupport::frenchLocaleName()) && std::localeconv()->decimal_point[0] == ',';
        TableBuilder t;
        t.field("V", 'N', 6, 2).record("  1.50").record("  1,50");
        DbfTablePtr table = openTable(write(t.bytes()));
        QByteArray texts;
        for (unsigned i = 0; i < 2; ++i) {
            QVERIFY(dbf_goto_record(table.get(), i));
            texts += readField(table.get(), 0).text + ' ';
        }
        std::setlocale(LC_NUMERIC, "C");
        qunsetenv("LOCPATH");
        QVERIFY(comma);
        QCOMPARE(texts, QByteArray("1.50 1.50 "));
    }

    void textAsIs()
    {
        TableBuilder t;
        t.field("C", 'C', 4)
            .field("D", 'D', 3)
            .record("\x8E\x99\x9A "
                    "\x81\x82\x83");
        const QString path = write(t.bytes());
        DbfTablePtr converted = openTable(path, 0);
        DbfTablePtr asIs = openTable(path, 1);
        QVERIFY(dbf_goto_record(converted.get(), 0));
        QVERIFY(dbf_goto_record(asIs.get(), 0));
        QCOMPARE(readField(converted.get(), 0).text, QByteArray("\xC4\xD6\xDC"));
        QCOMPARE(readField(asIs.get(), 0).text, QByteArray("\x8E\x99\x9A"));
        QCOMPARE(readField(converted.get(), 1).text, QByteArray("\xFC\xE9\xE2"));
        QCOMPARE(readField(asIs.get(), 1).text, QByteArray("\x81\x82\x83"));
    }

    void oemToAnsiAgainstPython()
    {
        // The code page tables of Python's codecs are an independent reference.
        QProcess python;
        python.start(QStringLiteral(CODIFLUX_PYTHON),
                     {QStringLiteral("-c"),
                      QStringLiteral("import sys\n"
                                     "for b in range(256):\n"
                                     "  try: print(bytes([b]).decode('cp850').encode('cp1252')[0])\n"
                                     "  except UnicodeEncodeError: print(-1)\n")});
        if (!python.waitForFinished(30000) || python.exitCode() != 0)
            QSKIP("Python is not available");
        const QList<QByteArray> lines = python.readAllStandardOutput().trimmed().split('\n');
        QCOMPARE(lines.size(), 256);
        char source[256];
        for (int i = 0; i < 256; ++i)
            source[i] = char(i);
        char dest[256];
        oemToAnsi(source, dest, 256);
        int substituted = 0;
        for (int i = 0; i < 256; ++i) {
            const int expected = lines[i].trimmed().toInt();
            const auto got = static_cast<unsigned char>(dest[i]);
            if (expected >= 0) {
                QVERIFY2(got == expected, qPrintable(QStringLiteral("byte %1").arg(i, 2, 16)));
            } else {
                ++substituted;
                QVERIFY2(QByteArray("+-|?i_").contains(char(got)), qPrintable(QStringLiteral("byte %1").arg(i, 2, 16)));
            }
        }
        QCOMPARE(substituted, 31);  // box drawing, blocks and a few letters have no ANSI form
        // In place.
        char text[] = "\x8E"
                      "bc\x90";
        oemToAnsi(text, text, 4);
        QCOMPARE(QByteArray(text),
                 QByteArray("\xC4"
                            "bc\xC9"));
    }

    // --- memo ------------------------------------------------------------

    void memoValues_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<int>("version");
        QTest::addColumn<QByteArray>("memo");  // empty: no memo file
        QTest::addColumn<unsigned>("destSize");
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<int>("error");
        QTest::addColumn<qint64>("seekTo");  // memo offset expected, -1: none checked

        const QByteArray hello = signedBlock(5, "HELLOWORLD");
        QTest::newRow("signed block") << QByteArray("        12") << 0x83 << MemoBuilder().block(12, hello).bytes()
                                      << 64u << QByteArray("HELLO") << 109 << qint64(6144);
        QTest::newRow("plain block ended by 0x1A")
            << QByteArray("         3") << 0x8B << MemoBuilder().block(3, "ABC\x1A\x1A").block(4, "DEF").bytes() << 64u
            << QByteArray("ABC") << 109 << qint64(1536);
        QTest::newRow("plain block ended by NUL")
            << QByteArray("1         ") << 0x83 << MemoBuilder().block(1, QByteArray("AB\0CD", 5)).bytes() << 64u
            << QByteArray("AB") << 109 << qint64(512);
        QTest::newRow("zero-padded number")
            << QByteArray("0000000002") << 0x8B << MemoBuilder().block(2, signedBlock(3, "XYZ")).bytes() << 64u
            << QByteArray("XYZ") << 109 << qint64(1024);
        MemoBuilder small;
        small.blockSize = 64;
        QTest::newRow("block size 64") << QByteArray("         3") << 0x8B << small.block(3, "Small blocks").bytes()
                                       << 64u << QByteArray("Small blocks") << 109 << qint64(192);
        MemoBuilder zero;
        zero.blockSize = 0;
        QTest::newRow("block size 0 means 512") << QByteArray("         2") << 0x83 << zero.block(2, "Two").bytes()
                                                << 64u << QByteArray("Two") << 109 << qint64(1024);
        QTest::newRow("blanks around the text")
            << QByteArray("1") << 0x83 << MemoBuilder().block(1, "   Text   \x1A").bytes() << 64u << QByteArray("Text")
            << 109 << qint64(512);
        QTest::newRow("OEM text converted") << QByteArray("1") << 0x83 << MemoBuilder().block(1, "Caf\x82\x1A").bytes()
                                            << 64u << QByteArray("Caf\xE9") << 109 << qint64(-1);
        QTest::newRow("stored length beyond the file")
            << QByteArray("1") << 0x8B << MemoBuilder().block(1, signedBlock(5000, "short")).bytes() << 64u
            << QByteArray("short") << 109 << qint64(-1);
        QTest::newRow("signature cut short")
            << QByteArray("1") << 0x8B << MemoBuilder().block(1, QByteArray("\xFF\xFF\x08\x00\x05", 5)).bytes() << 64u
            << QByteArray() << 109 << qint64(-1);
        QTest::newRow("text cut to the destination")
            << QByteArray("1") << 0x83 << MemoBuilder().block(1, "ABCDEFGHIJ").bytes() << 5u << QByteArray("ABCD")
            << 109 << qint64(-1);
        QTest::newRow("text longer than a block")
            << QByteArray("1") << 0x83 << MemoBuilder().block(1, QByteArray(700, 'm')).bytes() << 1024u
            << QByteArray(512, 'm') << 109 << qint64(-1);
        const QByteArray oneBlock = MemoBuilder().block(1, "text").bytes();
        QTest::newRow("blank number") << QByteArray("          ") << 0x83 << oneBlock << 64u << QByteArray() << 114
                                      << qint64(-1);
        QTest::newRow("number 0") << QByteArray("0") << 0x83 << oneBlock << 64u << QByteArray() << 114 << qint64(-1);
        QTest::newRow("negative number") << QByteArray("-1") << 0x83 << oneBlock << 64u << QByteArray() << 114
                                         << qint64(-1);
        QTest::newRow("no memo file") << QByteArray("1") << 0x83 << QByteArray() << 64u << QByteArray() << 114
                                      << qint64(-1);
        QTest::newRow("memo file of a 0x03 table")
            << QByteArray("1") << 0x03 << oneBlock << 64u << QByteArray() << 114 << qint64(-1);
        QTest::newRow("block beyond the file")
            << QByteArray("40") << 0x83 << oneBlock << 64u << QByteArray() << 112 << qint64(40 * 512);
        QTest::newRow("offset beyond 64 bits")
            << QByteArray("18014398509481984") << 0x83 << oneBlock << 64u << QByteArray() << 112 << qint64(-1);
        QTest::newRow("number beyond 64 bits")
            << QByteArray("99999999999999999999999") << 0x83 << oneBlock << 64u << QByteArray() << 112 << qint64(-1);
        QTest::newRow("largest seekable block")
            << QByteArray("18014398509481983") << 0x83 << oneBlock << 64u << QByteArray() << 112 << qint64(-1);
    }

    void memoValues()
    {
        QFETCH(QByteArray, stored);
        QFETCH(int, version);
        QFETCH(QByteArray, memo);
        QFETCH(unsigned, destSize);
        QFETCH(QByteArray, expected);
        QFETCH(int, error);
        QFETCH(qint64, seekTo);
        TableBuilder t;
        t.version = quint8(version);
        t.field("NOTE", 'M', int(stored.size())).field("NAME", 'C', 3).record(stored + "abc");
        const QString path = memo.isEmpty() ? write(t.bytes()) : writeWithMemo(t.bytes(), memo);
        IoLog log;
        const DbfIoFunctions io = recordingIo(&log);
        DbfTablePtr table = openTable(path, 0, &io);
        QVERIFY(table);
        QVERIFY(dbf_goto_record(table.get(), 0));
        const qsizetype seeksBefore = log.seeks.size();
        const qsizetype readsBefore = log.reads.size();
        const ReadResult r = readField(table.get(), 0, DbfMemo, destSize);
        QCOMPARE(r.text, expected);
        QCOMPARE(r.length, unsigned(expected.size()));
        QCOMPARE(r.error, error);
        if (error == 114)
            QCOMPARE(r.errorText, QByteArray("No memo data available"));
        if (error == 112)
            QCOMPARE(r.errorText, QByteArray("An error occured while reading from memo file"));
        if (seekTo >= 0) {
            // One seek of the memo file to block x block size, one read of at most 512 bytes.
            QCOMPARE(log.seeks.size(), seeksBefore + 1);
            QCOMPARE(log.seeks.last().offset, seekTo);
            QCOMPARE(log.seeks.last().origin, 0);
            QVERIFY(log.pathOf(log.seeks.last().file).endsWith(".dbt"));
            if (error == 109) {
                QCOMPARE(log.reads.size(), readsBefore + 1);
                QCOMPARE(log.reads.last().second, qint64(512));
            }
        }
        // The next field is untouched by the memo read.
        QCOMPARE(readField(table.get(), 1).text, QByteArray("abc"));
        // No destination: the length of the whole text (leading blanks included).
        if (error == 109)
            QVERIFY(dbf_read_field(table.get(), dbf_field(table.get(), 0), nullptr, 0, DbfMemo)
                    >= unsigned(expected.size()));
    }

    void memoFileName_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("memoName");
        QTest::addColumn<int>("writable");
        QTest::newRow("CLIENTS.DBF") << QStringLiteral("CLIENTS.DBF") << QStringLiteral("CLIENTS.DBT") << 0;
        QTest::newRow("clients.dbf") << QStringLiteral("clients.dbf") << QStringLiteral("clients.dbt") << 0;
        QTest::newRow("Base.Dbf") << QStringLiteral("Base.Dbf") << QStringLiteral("Base.Dbt") << 0;
        QTest::newRow("no suffix") << QStringLiteral("base") << QStringLiteral("bast") << 1;
        QTest::newRow("writable") << QStringLiteral("W.DBF") << QStringLiteral("W.DBT") << 1;
    }

    void memoFileName()
    {
        QFETCH(QString, name);
        QFETCH(QString, memoName);
        QFETCH(int, writable);
        QTemporaryDir dir;
        TableBuilder t;
        t.version = 0x83;
        t.field("M", 'M', 10).record("         1");
        QFile table(dir.filePath(name));
        QVERIFY(table.open(QIODevice::WriteOnly));
        table.write(t.bytes());
        table.close();
        QFile memo(dir.filePath(memoName));
        QVERIFY(memo.open(QIODevice::WriteOnly));
        memo.write(MemoBuilder().block(1, "memo text\x1A").bytes());
        memo.close();

        IoLog log;
        const DbfIoFunctions io = recordingIo(&log);
        DbfTablePtr opened = openTable(dir.filePath(name), 0, &io, writable);
        QVERIFY(opened);
        QCOMPARE(log.opens.size(), 2);
        QCOMPARE(log.opens[0].second, writable ? 6 : 5);
        QCOMPARE(QFile::decodeName(log.opens[1].first), dir.filePath(memoName));
        // A read-only table reads its memo file read-only.
        QCOMPARE(log.opens[1].second, writable ? 6 : 5);
        QVERIFY(dbf_goto_record(opened.get(), 0));
        QCOMPARE(readField(opened.get(), 0).text, QByteArray("memo text"));
        opened.reset();
        QCOMPARE(log.closes, 2);
    }

    void memoOfReadOnlyFiles()
    {
        TableBuilder t;
        t.version = 0x8B;
        t.field("M", 'M', 10).record("         1");
        const QString path = writeWithMemo(t.bytes(), MemoBuilder().block(1, signedBlock(4, "note")).bytes());
        QString memoPath = path;
        memoPath.back() = QLatin1Char('t');
        QFile::setPermissions(path, QFile::ReadOwner);
        QFile::setPermissions(memoPath, QFile::ReadOwner);
        DbfTablePtr table = openTable(path);
        QVERIFY(table);
        QVERIFY(dbf_goto_record(table.get(), 0));
        QCOMPARE(readField(table.get(), 0).text, QByteArray("note"));
    }

    // --- records ---------------------------------------------------------

    void gotoRecord()
    {
        TableBuilder t;
        t.field("N", 'N', 2).record(" 0").record(" 1", true).record(" 2");
        IoLog log;
        const DbfIoFunctions io = recordingIo(&log);
        DbfTablePtr table = openTable(write(t.bytes()), 0, &io);
        QVERIFY(table);
        QCOMPARE(dbf_record_count(table.get()), 3u);

        for (unsigned i = 0; i < 3; ++i) {
            const qsizetype seeks = log.seeks.size(), reads = log.reads.size();
            QVERIFY(dbf_goto_record(table.get(), i));
            // One seek and one read of exactly one record.
            QCOMPARE(log.seeks.size(), seeks + 1);
            QCOMPARE(log.seeks.last().offset, qint64(32 + 32 + 1 + i * 3));
            QCOMPARE(log.reads.size(), reads + 1);
            QCOMPARE(log.reads.last().second, qint64(3));
            // The deleted record is read like the others.
            QCOMPARE(readField(table.get(), 0).text, QByteArray::number(i));
        }

        const char* text = nullptr;
        QVERIFY(!dbf_goto_record(table.get(), 3));  // beyond the count
        QCOMPARE(dbf_last_error(table.get(), &text), int(DbfErrorInvalidRecord));
        QCOMPARE(QByteArray(text), QByteArray("Invalid record"));
        QVERIFY(dbf_goto_record(table.get(), 1));
        QCOMPARE(dbf_last_error(table.get(), nullptr), int(DbfSuccess));
        QVERIFY(!dbf_goto_record(table.get(), 5));  // beyond the count
        QCOMPARE(dbf_last_error(table.get(), &text), int(DbfErrorInvalidRecord));
        QVERIFY(!dbf_goto_record(table.get(), 0xFFFFFFFFu));
        QCOMPARE(dbf_last_error(table.get(), nullptr), int(DbfErrorInvalidRecord));
    }

    void fieldByIndex()
    {
        TableBuilder t;
        t.field("A", 'C', 2).record("xy");
        DbfTablePtr table = openTable(write(t.bytes()));
        QVERIFY(dbf_goto_record(table.get(), 0));
        QVERIFY(dbf_field(table.get(), 0));
        QVERIFY(!dbf_field(table.get(), 1));
        const char* text = nullptr;
        QCOMPARE(dbf_last_error(table.get(), &text), int(DbfErrorInvalidField));
        QCOMPARE(QByteArray(text), QByteArray("Invalid field pointer"));

        char dest[8];
        std::memset(dest, 'x', sizeof dest);
        QCOMPARE(dbf_read_field(table.get(), nullptr, dest, sizeof dest, DbfAnyType), 0u);
        QCOMPARE(dest[0], '\0');
        QCOMPARE(dbf_last_error(table.get(), &text), int(DbfErrorInvalidField));
        QCOMPARE(QByteArray(text), QByteArray("Invalid field index"));
    }

    // --- mended faults ---------------------------------------------------

    void zeroRecordLength()
    {
        TableBuilder t;
        t.field("A", 'C', 4);
        t.storedCount = 0;
        t.recordLength = 0;
        t.tail = QByteArray(100, 'x');
        DbfTablePtr table = openTable(write(t.bytes()));
        QVERIFY(table);
        QCOMPARE(dbf_record_count(table.get()), 0u);  // no division by zero
        QVERIFY(!dbf_goto_record(table.get(), 0));

        t.storedCount = 2;  // stored count with a record length of 0
        table = openTable(write(t.bytes()));
        QVERIFY(table);
        QVERIFY(dbf_goto_record(table.get(), 1));
        const ReadResult r = readField(table.get(), 0);
        QCOMPARE(r.text, QByteArray());
        QCOMPARE(r.error, int(DbfErrorInvalidField));
        QCOMPARE(r.errorText, QByteArray("Invalid field pointer"));
    }

    void fieldsBeyondTheRecord_data()
    {
        QTest::addColumn<int>("recordLength");
        QTest::addColumn<QList<int>>("readable");  // per field: 1 readable, 0 beyond the record
        QTest::newRow("record shorter by one") << 10 << QList<int>{1, 0};
        QTest::newRow("record holds the first field") << 6 << QList<int>{1, 0};
        QTest::newRow("record of the flag only") << 1 << QList<int>{0, 0};
        QTest::newRow("record longer than the fields") << 20 << QList<int>{1, 1};
    }

    void fieldsBeyondTheRecord()
    {
        QFETCH(int, recordLength);
        QFETCH(QList<int>, readable);
        TableBuilder t;
        t.field("A", 'C', 5).field("B", 'C', 5);
        t.recordLength = recordLength;
        QByteArray bytes = QByteArray("AAAAABBBBB").leftJustified(recordLength - 1, ' ', true);
        t.records = {" " + bytes, " " + bytes};
        DbfTablePtr table = openTable(write(t.bytes()));
        QVERIFY(table);
        QCOMPARE(dbf_record_count(table.get()), 2u);
        QVERIFY(dbf_goto_record(table.get(), 1));
        for (int i = 0; i < 2; ++i) {
            const ReadResult r = readField(table.get(), unsigned(i));
            if (readable[i]) {
                QCOMPARE(r.text, QByteArray(5, char('A' + i)));
            } else {
                QCOMPARE(r.text, QByteArray());
                QCOMPARE(r.error, int(DbfErrorInvalidField));
                QCOMPARE(r.errorText, QByteArray("Invalid field pointer"));
            }
        }
    }

    void headerLengthBelow33_data()
    {
        QTest::addColumn<int>("headerLength");
        QTest::newRow("0") << 0;
        QTest::newRow("20") << 20;
        QTest::newRow("32") << 32;
    }

    void headerLengthBelow33()
    {
        QFETCH(int, headerLength);
        TableBuilder t;
        t.field("A", 'C', 4).record("abcd");
        t.headerLength = headerLength;
        DbfTablePtr table = openTable(write(t.bytes()));
        QVERIFY(table);
        QCOMPARE(dbf_field_count(table.get()), 0u);  // no room for a descriptor
        QVERIFY(!dbf_field(table.get(), 0));
        QVERIFY(dbf_goto_record(table.get(), 0));
    }

    void truncatedHeader()
    {
        TableBuilder t;
        t.field("A", 'C', 4).field("B", 'C', 4).field("C", 'C', 4);
        t.tail.clear();
        QByteArray bytes = t.bytes().left(32 + 32 + 20);  // the second descriptor is cut
        DbfTablePtr table = openTable(write(bytes));
        QVERIFY(table);
        QCOMPARE(dbf_field_count(table.get()), 1u);
        QCOMPARE(dbf_record_count(table.get()), 0u);  // the file ends before the header length
    }

    void longCharacterFields()
    {
        TableBuilder t;
        t.field("LONG", 'C', 300)            // bytes 16-17: 0x2C 0x01
            .field("NDEC", 'N', 10, 2)       // byte 17 stays a decimal count
            .rawField("DDEC", 'D', 8, 1, 8)  // so it does for any other type
            .field("AFTER", 'C', 3);
        const QByteArray longValue = QByteArray(299, 'L') + 'Z';
        t.record(longValue + "     12.34" + "20240101" + "end");
        DbfTablePtr table = openTable(write(t.bytes()));
        QVERIFY(table);
        DbfFieldInfo info{};
        QVERIFY(dbf_field_info(table.get(), 0, &info));
        QCOMPARE(info.type, int(DbfChar));
        QCOMPARE(info.length, 300);
        QCOMPARE(info.decimals, 0);
        QVERIFY(dbf_field_info(table.get(), 1, &info));
        QCOMPARE(info.type, int(DbfFloat));
        QCOMPARE(info.length, 10);
        QCOMPARE(info.decimals, 2);
        QVERIFY(dbf_field_info(table.get(), 2, &info));
        QCOMPARE(info.type, int(DbfFloat));
        QCOMPARE(info.length, 8);
        QCOMPARE(info.decimals, 1);
        QCOMPARE(dbf_field(table.get(), 3)->offset, 1 + 300 + 10 + 8);
        QVERIFY(dbf_goto_record(table.get(), 0));
        QCOMPARE(readField(table.get(), 0, DbfChar, 301).text, longValue);
        QCOMPARE(readField(table.get(), 1, DbfFloat).text, QByteArray("12.34"));
        QCOMPARE(readField(table.get(), 3, DbfChar).text, QByteArray("end"));
    }

    void destinationSize_data()
    {
        QTest::addColumn<char>("letter");
        QTest::addColumn<unsigned>("destSize");
        QTest::addColumn<QByteArray>("expected");
        for (unsigned size = 1; size <= 12; ++size) {
            const QByteArray full = "ABCDEFGHIJ";
            QTest::addRow("C, %u bytes", size) << 'C' << size << full.left(int(size) - 1);
            QTest::addRow("F, %u bytes", size) << 'F' << size << QByteArray("1234567.89").left(int(size) - 1);
        }
        // Leading blanks come off after the cut.
        QTest::newRow("C leading blanks, 4 bytes") << 'L' << 4u << QByteArray("X");
    }

    void destinationSize()
    {
        QFETCH(char, letter);
        QFETCH(unsigned, destSize);
        QFETCH(QByteArray, expected);
        TableBuilder t;
        if (letter == 'C')
            t.field("V", 'C', 12).record("ABCDEFGHIJ  ");
        else if (letter == 'F')
            t.field("V", 'F', 10, 2).record("1234567,89");
        else
            t.field("V", 'C', 6).record("  XYZW");
        DbfTablePtr table = openTable(write(t.bytes()));
        QVERIFY(dbf_goto_record(table.get(), 0));
        QCOMPARE(readField(table.get(), 0, DbfAnyType, destSize).text, expected);

        // Size 0 writes nothing; no destination gives the whole length.
        char untouched = 'q';
        QCOMPARE(dbf_read_field(table.get(), dbf_field(table.get(), 0), &untouched, 0, DbfAnyType), 0u);
        QCOMPARE(untouched, 'q');
        const unsigned whole = letter == 'C' ? 10u : letter == 'F' ? 10u : 6u;
        QCOMPARE(dbf_read_field(table.get(), dbf_field(table.get(), 0), nullptr, 0, DbfAnyType), whole);
    }

    void nullHandles()
    {
        QCOMPARE(dbf_field_count(nullptr), 0u);
        QCOMPARE(dbf_record_count(nullptr), 0u);
        QVERIFY(!dbf_goto_record(nullptr, 0));
        QVERIFY(!dbf_field(nullptr, 0));
        char dest[4] = "abc";
        QCOMPARE(dbf_read_field(nullptr, nullptr, dest, sizeof dest, DbfAnyType), 0u);
        QCOMPARE(dest[0], '\0');
        dbf_close(nullptr);
    }

    // --- the test tables -------------------------------------------------

    void testTables_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("opens");
        QTest::addColumn<unsigned>("records");
        QTest::addColumn<unsigned>("fields");
        QTest::addColumn<unsigned>("loadable");  // records that load
        QTest::newRow("dbase_03") << "dbase_03.dbf" << true << 14u << 31u << 14u;
        QTest::newRow("dbase_83") << "dbase_83.dbf" << true << 67u << 15u << 67u;
        QTest::newRow("dbase_8b") << "dbase_8b.dbf" << true << 10u << 6u << 10u;
        QTest::newRow("client") << "client.dbf" << true << 8u << 10u << 8u;
        QTest::newRow("vfp9_30_memo") << "vfp9_30_memo.dbf" << true << 3u << 6u << 3u;
        QTest::newRow("PYACFL") << "PYACFL.DBF" << true << 45u << 20u << 45u;
        QTest::newRow("KUNDEN schema only") << "KUNDEN-schema-only.DBF" << true << 0u << 49u << 0u;
        QTest::newRow("cp850") << "cp850.dbf" << true << 1u << 1u << 1u;
        QTest::newRow("masspntz") << "masspntz.dbf" << true << 815u << 1u << 815u;
        QTest::newRow("mpatch3") << "mpatch3.dbf" << true << 473u << 8u << 473u;
        QTest::newRow("dbase_02") << "dbase_02.dbf" << false << 0u << 0u << 0u;
        QTest::newRow("Foxpro2") << "Foxpro2.dbf" << false << 0u << 0u << 0u;
        // Counts that promise more than the file holds are bounded by it.
        QTest::newRow("incorrect record count") << "dbase_8b_incorrect_record_count.dbf" << true << 10u << 6u << 10u;
        QTest::newRow("corrupt_too_long") << "corrupt_too_long.dbf" << true << 10u << 1u << 10u;
        QTest::newRow("oob memo field bytes") << "oob-memo-field-bytes.dbf" << true << 0u << 1u << 0u;
    }

    void testTables()
    {
        QFETCH(QString, file);
        QFETCH(bool, opens);
        QFETCH(unsigned, records);
        QFETCH(unsigned, fields);
        QFETCH(unsigned, loadable);
        DbfTablePtr table = openTable(testData(file));
        QCOMPARE(bool(table), opens);
        if (!opens)
            return;
        QCOMPARE(dbf_record_count(table.get()), records);
        QCOMPARE(dbf_field_count(table.get()), fields);
        // Every field of every record (at most 1000) with a small and a large destination.
        unsigned loaded = 0;
        for (unsigned r = 0; r < qMin(records, 1000u); ++r) {
            if (!dbf_goto_record(table.get(), r)) {
                QCOMPARE(dbf_last_error(table.get(), nullptr), int(DbfErrorInvalidRecord));
                continue;
            }
            ++loaded;
            for (unsigned f = 0; f < fields; ++f) {
                readField(table.get(), f, DbfAnyType, 3);
                readField(table.get(), f, DbfAnyType, 70000);
            }
        }
        QCOMPARE(loaded, loadable);
    }

    void cp850Table()
    {
        DbfTablePtr converted = openTable(testData(QStringLiteral("cp850.dbf")));
        DbfTablePtr asIs = openTable(testData(QStringLiteral("cp850.dbf")), 1);
        QVERIFY(converted && asIs);
        QVERIFY(dbf_goto_record(converted.get(), 0));
        QVERIFY(dbf_goto_record(asIs.get(), 0));
        // 'Äöü!§$%&/' in code page 1252.
        QCOMPARE(readField(converted.get(), 0, DbfChar).text, QByteArray("\xC4\xF6\xFC!\xA7$%&/"));
        QCOMPARE(readField(asIs.get(), 0, DbfChar).text, QByteArray("\x8E\x94\x81!\xF5$%&/"));
    }

    void visualFoxProTable()
    {
        // The 263-byte area lies after the terminator; records start at the header length (488).
        DbfTablePtr table = openTable(testData(QStringLiteral("vfp9_30_memo.dbf")));
        QVERIFY(table);
        const char* expected[][3] = {{"1", "Text1", "999.50"}, {"2", "Text2", "50.90"}, {"3", "Text3", "10.11"}};
        for (unsigned r = 0; r < 3; ++r) {
            QVERIFY(dbf_goto_record(table.get(), r));  // record 1 is deleted and reads all the same
            QCOMPARE(readField(table.get(), 0, DbfNumeric).text, QByteArray(expected[r][0]));
            QCOMPARE(readField(table.get(), 2, DbfChar).text, QByteArray(expected[r][1]));
            QCOMPARE(readField(table.get(), 3, DbfFloat).text, QByteArray(expected[r][2]));
            // A .fpt memo is not this engine's: no memo text.
            QCOMPARE(readField(table.get(), 1, DbfMemo).error, int(DbfErrorNoMemo));
        }
    }

    void memoTables_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<unsigned>("field");
        QTest::addColumn<QByteArray>("start");
        QTest::addColumn<bool>("whole");  // `start` is the whole text
        QTest::newRow("dbase_83, plain blocks")
            << "dbase_83.dbf" << 11u << QByteArray("Our Original assortment...a little taste") << false;
        // the stored length (20) counts the block's 8-byte header: no stale bytes after the text
        QTest::newRow("dbase_8b, signed blocks") << "dbase_8b.dbf" << 5u << QByteArray("First memo\r\n") << true;
        QTest::newRow("client, zero-padded numbers")
            << "client.dbf" << 9u << QByteArray("85-200  08/02/85\r\n    C-300-400 BOOK CASE") << false;
    }

    void memoTables()
    {
        QFETCH(QString, file);
        QFETCH(unsigned, field);
        QFETCH(QByteArray, start);
        QFETCH(bool, whole);
        DbfTablePtr table = openTable(testData(file));
        QVERIFY(table);
        DbfFieldInfo info{};
        QVERIFY(dbf_field_info(table.get(), field, &info));
        QCOMPARE(info.type, int(DbfMemo));
        QVERIFY(dbf_goto_record(table.get(), 0));
        const ReadResult r = readField(table.get(), field, DbfMemo, 1024);
        QVERIFY2(r.text.startsWith(start), r.text.constData());
        if (whole)
            QCOMPARE(r.text, start);
        QVERIFY(r.text.size() <= 512);
        QVERIFY(!r.text.contains('\x1A') && !r.text.contains('\0'));
    }

    // --- the shared corpus against its manifest ---------------------------

    void sharedCorpus()
    {
        const QString dir = sharedCorpusDir();
        if (dir.isEmpty())
            QSKIP("the shared corpus (CODIFLUX_SHARED_DIR/corpus/dbf) is not present");
        QFile manifestFile(dir + QStringLiteral("/MANIFEST.json"));
        QVERIFY(manifestFile.open(QIODevice::ReadOnly));
        const QJsonArray tables = QJsonDocument::fromJson(manifestFile.readAll()).object().value("tables").toArray();
        QVERIFY(!tables.isEmpty());
        int checkedRecords = 0, checkedMemos = 0;
        for (const QJsonValue& value : tables) {
            const QJsonObject t = value.toObject();
            const QString file = t.value("file").toString();
            const QJsonObject header = t.value("header").toObject();
            const QJsonObject layout = t.value("layout").toObject();
            const int version = header.value("version_byte").toInt();
            const QJsonObject date = header.value("last_update_bytes").toObject();
            const int month = date.value("month").toInt(), day = date.value("day").toInt();
            const bool isTable = header.value("header_complete").toBool()
                && QList<int>{0x03, 0x04, 0x30, 0x83, 0x8B}.contains(version) && month >= 1 && month <= 12 && day >= 1
                && day <= 31;
            for (int asIs = 0; asIs < 2; ++asIs) {
                DbfTablePtr table = openTable(dir + '/' + file, asIs);
                QVERIFY2(bool(table) == isTable, qPrintable(file));
                if (!table)
                    continue;
                const qint64 stored = header.value("record_count_stored").toInteger();
                // A stored count is bounded by what the file holds.
                const qint64 held = layout.value("record_count_from_file_size").toInteger();
                const qint64 records = stored != 0 ? qMin(stored, held) : held;
                QVERIFY2(dbf_record_count(table.get()) == quint64(records), qPrintable(file));

                // Descriptors: as many as the header length allows, up to the end of the list.
                const QJsonArray descriptors = t.value("descriptors").toArray();
                const int headerLength = header.value("header_length").toInt();
                const int recordLength = header.value("record_length").toInt();
                const int fromHeader = headerLength >= 33 ? ((headerLength - 33) / 32) & 0xFF : 0;
                const int fieldCount = qMin<int>(fromHeader, int(descriptors.size()));
                QVERIFY2(dbf_field_count(table.get()) == unsigned(fieldCount), qPrintable(file));
                struct Expected {
                    char type;
                    int length, offset;
                    QByteArray name;
                };
                QList<Expected> fields;
                int offset = 1;
                for (int i = 0; i < fieldCount; ++i) {
                    const QJsonObject d = descriptors[i].toObject();
                    const char letter = latin1(d.value("type").toString()).at(0);
                    const int b16 = d.value("byte16").toInt(), b17 = d.value("byte17").toInt();
                    Expected e;
                    e.type = letter == 'C' ? 'C' : b17 != 0 ? 'F' : letter;
                    e.length = letter == 'C' ? b16 + 256 * b17 : b16;
                    e.offset = offset;
                    e.name = QByteArray::fromHex(latin1(d.value("name_raw_hex").toString()));
                    e.name.truncate(e.name.indexOf('\0') >= 0 ? e.name.indexOf('\0') : e.name.size());
                    offset += e.length;
                    fields.append(e);
                    const DbfField* f = dbf_field(table.get(), unsigned(i));
                    QVERIFY(f);
                    QCOMPARE(f->type, e.type);
                    QCOMPARE(f->length, e.length);
                    QCOMPARE(f->decimals, letter == 'C' ? 0 : b17);
                    QCOMPARE(f->offset, e.offset);
                    QCOMPARE(QByteArray(f->name), e.name);
                    DbfFieldInfo info{};
                    QVERIFY(dbf_field_info(table.get(), unsigned(i), &info));
                    QByteArray name = e.name;
                    if (!asIs)
                        oemToAnsi(name.constData(), name.data(), size_t(name.size()));
                    QCOMPARE(QByteArray(info.name), name);
                }

                // Sampled memo blocks, by record and field name.
                QHash<QPair<int, QByteArray>, QByteArray> memoBlocks;
                const QJsonArray memoFiles = t.value("memo_files").toArray();
                for (const QJsonValue& m : memoFiles) {
                    if (!m.toObject().value("file").toString().endsWith(QLatin1String(".dbt")))
                        continue;
                    for (const QJsonValue& b : m.toObject().value("sampled_blocks").toArray()) {
                        const QJsonObject block = b.toObject();
                        memoBlocks.insert({block.value("record").toInt(), latin1(block.value("field").toString())},
                                          latin1(block.value("raw_512_latin1").toString()));
                    }
                }
                const bool memoOpen = (version == 0x83 || version == 0x8B) && !memoFiles.isEmpty()
                    && memoFiles[0].toObject().value("file").toString().endsWith(QLatin1String(".dbt"));

                for (const QJsonValue& r : t.value("first_records").toArray()) {
                    const QJsonObject rec = r.toObject();
                    const int index = rec.value("index").toInt();
                    if (quint64(index) >= quint64(records))
                        continue;
                    if (!rec.value("complete").toBool()) {
                        QVERIFY2(!dbf_goto_record(table.get(), unsigned(index)), qPrintable(file));
                        QCOMPARE(dbf_last_error(table.get(), nullptr), int(DbfErrorInvalidRecord));
                        continue;
                    }
                    QVERIFY2(dbf_goto_record(table.get(), unsigned(index)), qPrintable(file));
                    const QByteArray raw = latin1(rec.value("raw_latin1").toString());
                    QCOMPARE(raw.size(), qsizetype(recordLength));
                    ++checkedRecords;
                    for (int i = 0; i < fields.size(); ++i) {
                        const Expected& e = fields[i];
                        const ReadResult got = readField(table.get(), unsigned(i), DbfAnyType, 70000);
                        if (e.offset + e.length > recordLength) {
                            QCOMPARE(got.error, int(DbfErrorInvalidField));
                            QCOMPARE(got.text, QByteArray());
                            continue;
                        }
                        QByteArray expected;
                        if (e.type == 'M') {
                            if (!memoOpen)
                                continue;  // checked below for 114
                            const auto key = qMakePair(index, fields[i].name);
                            if (!memoBlocks.contains(key))
                                continue;
                            QByteArray block = memoBlocks.value(key);
                            if (block.startsWith(QByteArray("\xFF\xFF\x08\x00", 4))) {
                                quint32 stored = quint8(block[4]) | quint8(block[5]) << 8 | quint8(block[6]) << 16
                                    | quint32(quint8(block[7])) << 24;
                                if (stored >= 8)
                                    stored -= 8;  // the stored length counts the block's header
                                block = block.mid(8, qMin<qint64>(stored, block.size() - 8));
                            }
                            for (int k = 0; k < block.size(); ++k) {
                                if (block[k] == '\0' || block[k] == '\x1A') {
                                    block.truncate(k);
                                    break;
                                }
                            }
                            expected = block;
                            ++checkedMemos;
                        } else {
                            expected = raw.mid(e.offset, e.length);
                        }
                        while (expected.endsWith(' '))
                            expected.chop(1);
                        if (!asIs && e.type != 'F')
                            oemToAnsi(expected.constData(), expected.data(), size_t(expected.size()));
                        if (e.type == 'F') {
                            for (char& c : expected) {
                                if (c == ',' || c == '.') {
                                    c = '.';
                                    break;
                                }
                            }
                        }
                        if (expected.contains('\0'))
                            expected.truncate(expected.indexOf('\0'));  // what a C string shows
                        while (expected.startsWith(' '))
                            expected.remove(0, 1);
                        QByteArray text = got.text;
                        if (text.contains('\0'))
                            text.truncate(text.indexOf('\0'));
                        QVERIFY2(text == expected,
                                 qPrintable(QStringLiteral("%1 record %2 field %3").arg(file).arg(index).arg(i)));
                    }
                    // Memo values of tables whose memo file is not open give "No memo data available".
                    for (int i = 0; i < fields.size(); ++i) {
                        if (fields[i].type == 'M' && !memoOpen && fields[i].offset + fields[i].length <= recordLength)
                            QCOMPARE(readField(table.get(), unsigned(i)).error, int(DbfErrorNoMemo));
                    }
                }
            }
        }
        QVERIFY(checkedRecords > 50);
        QVERIFY(checkedMemos > 10);
    }
};

QTEST_GUILESS_MAIN(TestDbf)
#include "test_dbf.moc"
