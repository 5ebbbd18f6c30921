// Tests of the text bases: reading for display, streaming line by line, and
// the validating and counting pass of a generation.

#include "bases/textbase.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace codiflux;

Q_DECLARE_METATYPE(codiflux::TextScanStatus)

namespace {

// Lines of a given length, each different, for a file of `count` records.
QByteArray numberedLines(int count, int length, const QByteArray& end = "\n")
{
    QByteArray out;
    for (int i = 0; i < count; ++i)
        out += QByteArray::number(i).rightJustified(length, '0') + end;
    return out;
}

}  // namespace

class TestTextBase : public QObject {
    Q_OBJECT

private:
    QTemporaryDir tmp;
    int fileNumber = 0;

    QString write(const QByteArray& bytes)
    {
        const QString path = tmp.filePath(QStringLiteral("base%1.txt").arg(++fileNumber));
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
            qFatal("cannot write a text base");
        return path;
    }

private slots:
    void initTestCase() { QVERIFY(tmp.isValid()); }

    // --- lines -----------------------------------------------------------

    void lines_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArrayList>("expected");
        QTest::newRow("LF") << QByteArray("abc\ndef\n") << QByteArrayList{"abc", "def"};
        QTest::newRow("CR LF") << QByteArray("abc\r\ndef\r\n") << QByteArrayList{"abc", "def"};
        QTest::newRow("no final line end") << QByteArray("abc\ndef") << QByteArrayList{"abc", "def"};
        QTest::newRow("extra empty line") << QByteArray("abc\ndef\n\n") << QByteArrayList{"abc", "def", ""};
        QTest::newRow("empty file") << QByteArray() << QByteArrayList{};
        QTest::newRow("a line end only") << QByteArray("\n") << QByteArrayList{""};
        QTest::newRow("mixed ends") << QByteArray("ab\r\ncd\nef\r\n") << QByteArrayList{"ab", "cd", "ef"};
        QTest::newRow("lone CR stays") << QByteArray("a\rb\nc\r") << QByteArrayList{"a\rb", "c\r"};
        QTest::newRow("UTF-8 BOM skipped") << QByteArray("\xEF\xBB\xBF"
                                                         "abc\ndef\n")
                                           << QByteArrayList{"abc", "def"};
        QTest::newRow("BOM only at the start") << QByteArray("ab\n\xEF\xBB\xBF"
                                                             "c\n")
                                               << QByteArrayList{"ab",
                                                                 "\xEF\xBB\xBF"
                                                                 "c"};
        QTest::newRow("BOM alone") << QByteArray("\xEF\xBB\xBF") << QByteArrayList{};
        QTest::newRow("part of a BOM") << QByteArray("\xEF\xBB"
                                                     "x\n")
                                       << QByteArrayList{"\xEF\xBB"
                                                         "x"};
        QTest::newRow("bytes as they are")
            << QByteArray("\xE9t\xE9\0z\xFF\n", 7) << QByteArrayList{QByteArray("\xE9t\xE9\0z\xFF", 6)};
        QTest::newRow("longest line") << QByteArray(65535, 'L') + "\r\nx\n"
                                      << QByteArrayList{QByteArray(65535, 'L'), "x"};
        QTest::newRow("line of the buffer size")
            << QByteArray(255, 'a') + "\r\n" + QByteArray(256, 'b') + "\n" + QByteArray(257, 'c')
            << QByteArrayList{QByteArray(255, 'a'), QByteArray(256, 'b'), QByteArray(257, 'c')};
    }

    void lines()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArrayList, expected);
        const QString path = write(bytes);

        TextLineReader reader;
        QVERIFY(reader.open(path));
        QByteArrayList got;
        QByteArray line;
        while (reader.next(line))
            got.append(line);
        QCOMPARE(got, expected);
        QVERIFY(reader.atEnd());
        QVERIFY(!reader.failed());
        QVERIFY(!reader.next(line));
        QVERIFY(line.isEmpty());

        TextBaseDisplay display;
        QVERIFY(readTextBaseForDisplay(path, display, nullptr));
        QCOMPARE(display.lines, expected);
        int longest = 0;
        for (const QByteArray& l : expected)
            longest = qMax(longest, int(l.size()));
        QCOMPARE(display.maxLineLength, longest);
    }

    void reopen()
    {
        // A reader opened again starts over, BOM included.
        const QString a = write("\xEF\xBB\xBF"
                                "one\n");
        const QString b = write("\xEF\xBB\xBF"
                                "two\n");
        TextLineReader reader;
        QByteArray line;
        QVERIFY(reader.open(a));
        QVERIFY(reader.next(line));
        QCOMPARE(line, QByteArray("one"));
        QVERIFY(reader.open(b));
        QVERIFY(reader.next(line));
        QCOMPARE(line, QByteArray("two"));
        reader.close();
        QVERIFY(reader.atEnd());
        QVERIFY(!reader.next(line));
    }

    void openFailure()
    {
        const QString missing = tmp.filePath(QStringLiteral("missing.txt"));
        TextLineReader reader;
        QString error;
        QVERIFY(!reader.open(missing, &error));
        QVERIFY(!error.isEmpty());

        TextBaseDisplay display;
        display.lines = {"old"};
        display.maxLineLength = 3;
        error.clear();
        QVERIFY(!readTextBaseForDisplay(missing, display, &error));
        QVERIFY(!error.isEmpty());
        QVERIFY(display.lines.isEmpty());
        QCOMPARE(display.maxLineLength, 0);

        const TextScanResult scan = scanTextBase(missing);
        QCOMPARE(scan.status, TextScanStatus::OpenFailed);
        QVERIFY(!scan.error.isEmpty());
    }

    // --- display ---------------------------------------------------------

    void displayLimit_data()
    {
        QTest::addColumn<int>("lines");
        QTest::addColumn<int>("maxLines");
        QTest::addColumn<int>("shown");
        QTest::newRow("2500 lines") << 2500 << 1000 << 1000;
        QTest::newRow("1000 lines") << 1000 << 1000 << 1000;
        QTest::newRow("999 lines") << 999 << 1000 << 999;
        QTest::newRow("limit 10") << 50 << 10 << 10;
        QTest::newRow("limit 0") << 50 << 0 << 0;
    }

    void displayLimit()
    {
        QFETCH(int, lines);
        QFETCH(int, maxLines);
        QFETCH(int, shown);
        // Line i is 5 + i % 7 bytes long, except one longer line after the limit.
        QByteArray bytes;
        for (int i = 0; i < lines; ++i) {
            const int length = i == shown + 1 ? 80 : 5 + i % 7;
            bytes += QByteArray(length, char('a' + i % 26)) + "\r\n";
        }
        TextBaseDisplay display;
        QVERIFY(readTextBaseForDisplay(write(bytes), display, nullptr, maxLines));
        QCOMPARE(display.lines.size(), shown);
        int longest = 0;
        for (int i = 0; i < shown; ++i) {
            QCOMPARE(display.lines[i], QByteArray(5 + i % 7, char('a' + i % 26)));
            longest = qMax(longest, 5 + i % 7);
        }
        // The longest of the lines shown, not of the file.
        QCOMPARE(display.maxLineLength, longest);
    }

    void crlfSameAsLf()
    {
        const QByteArray lf = numberedLines(20, 12);
        const QByteArray crlf = numberedLines(20, 12, "\r\n");
        TextBaseDisplay a, b;
        QVERIFY(readTextBaseForDisplay(write(lf), a, nullptr));
        QVERIFY(readTextBaseForDisplay(write(crlf), b, nullptr));
        QCOMPARE(a.lines, b.lines);
        QCOMPARE(a.maxLineLength, 12);
        QCOMPARE(b.maxLineLength, 12);
        const TextScanResult sa = scanTextBase(write(lf));
        const TextScanResult sb = scanTextBase(write(crlf));
        QCOMPARE(sa.status, TextScanStatus::Ok);
        QCOMPARE(sb.status, TextScanStatus::Ok);
        QCOMPARE(sa.recordLength, 12);
        QCOMPARE(sb.recordLength, 12);
        QCOMPARE(sa.recordCount, 20);
        QCOMPARE(sb.recordCount, 20);
    }

    // --- validating and counting -----------------------------------------

    void scan_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<TextScanStatus>("status");
        QTest::addColumn<qint64>("records");
        QTest::addColumn<int>("length");
        QTest::newRow("12, 12, 11") << QByteArray("aaaaaaaaaaaa\nbbbbbbbbbbbb\nccccccccccc\n")
                                    << TextScanStatus::UnequalLengths << qint64(2) << 0;
        QTest::newRow("12, 12, 12") << numberedLines(3, 12) << TextScanStatus::Ok << qint64(3) << 12;
        QTest::newRow("no final line end") << numberedLines(3, 12).chopped(1) << TextScanStatus::Ok << qint64(3) << 12;
        QTest::newRow("extra empty line at the end") << numberedLines(3, 12) + "\n"
                                                     << TextScanStatus::UnequalLengths << qint64(3) << 0;
        QTest::newRow("empty line in the middle")
            << QByteArray("abc\n\nabc\n") << TextScanStatus::UnequalLengths << qint64(1) << 0;
        QTest::newRow("empty leading lines skipped")
            << QByteArray("\n\r\n\nabc\ndef\n") << TextScanStatus::Ok << qint64(2) << 3;
        QTest::newRow("longer line later")
            << QByteArray("abc\nabcd\n") << TextScanStatus::UnequalLengths << qint64(1) << 0;
        QTest::newRow("CR LF") << numberedLines(4, 7, "\r\n") << TextScanStatus::Ok << qint64(4) << 7;
        QTest::newRow("BOM not counted") << QByteArray("\xEF\xBB\xBF"
                                                       "abc\ndef\n")
                                         << TextScanStatus::Ok << qint64(2) << 3;
        QTest::newRow("empty file") << QByteArray() << TextScanStatus::Ok << qint64(0) << 0;
        QTest::newRow("empty lines only") << QByteArray("\n\n\n") << TextScanStatus::Ok << qint64(0) << 0;
        QTest::newRow("Latin-1 bytes count one each")
            << QByteArray("\xE9t\xE9\nabc\n") << TextScanStatus::Ok << qint64(2) << 3;
        QTest::newRow("bytes, not characters")
            << QByteArray("\xC3\xA9t\nabc\n") << TextScanStatus::Ok << qint64(2) << 3;
        // A record holds at most 65535 bytes; a longer line is refused before it is read whole.
        QTest::newRow("65535 bytes") << QByteArray(65535, 'a') + "\r\n" << TextScanStatus::Ok << qint64(1) << 65535;
        QTest::newRow("65536 bytes on line 2") << "abc\n" + QByteArray(65536, 'b') + "\n"
                                               << TextScanStatus::LineTooLong << qint64(1) << 0;
        QTest::newRow("no line end in 200000 bytes")
            << QByteArray(200000, 'c') << TextScanStatus::LineTooLong << qint64(0) << 0;
    }

    void scan()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(TextScanStatus, status);
        QFETCH(qint64, records);
        QFETCH(int, length);
        const TextScanResult result = scanTextBase(write(bytes));
        QCOMPARE(result.status, status);
        if (status == TextScanStatus::Ok) {
            QCOMPARE(result.recordCount, records);
            QCOMPARE(result.recordLength, length);
        } else {
            // Counted up to the line that rejected the base.
            QCOMPARE(result.recordCount, records);
        }
        if (status == TextScanStatus::LineTooLong) {
            const QString text = QStringLiteral("La ligne n°%1 de la base texte dépasse 65535 caractères : un "
                                                "enregistrement en compte au plus 65535.")
                                     .arg(records + 1);
            QCOMPARE(result.error, text);
            TextBaseDisplay display;
            QString error;
            QVERIFY(!readTextBaseForDisplay(write(bytes), display, &error));
            QCOMPARE(error, text);
        }
    }

    void unequalLinesAreStillShown()
    {
        TextBaseDisplay display;
        QVERIFY(readTextBaseForDisplay(write("aaaaaaaaaaaa\nbbbbbbbbbbbb\nccccccccccc\n"), display, nullptr));
        QCOMPARE(display.lines.size(), 3);
        QCOMPARE(display.maxLineLength, 12);
    }

    void cancellation()
    {
        const QString path = write(numberedLines(100, 8));
        int calls = 0;
        TextScanResult result = scanTextBase(path, [&] { return ++calls <= 40; });
        QCOMPARE(result.status, TextScanStatus::Cancelled);
        QCOMPARE(calls, 41);  // asked before every line; the 41st answer cancels

        calls = 0;
        result = scanTextBase(path, [&] {
            ++calls;
            return true;
        });
        QCOMPARE(result.status, TextScanStatus::Ok);
        QCOMPARE(result.recordCount, 100);
        QCOMPARE(calls, 100);  // once per line

        result = scanTextBase(path, [] { return false; });
        QCOMPARE(result.status, TextScanStatus::Cancelled);
    }

    void streamingLargeBase()
    {
        // 300000 records of 20 bytes: streamed, one line at a time.
        const QString path = write(numberedLines(300000, 20, "\r\n"));
        const TextScanResult result = scanTextBase(path);
        QCOMPARE(result.status, TextScanStatus::Ok);
        QCOMPARE(result.recordCount, 300000);
        QCOMPARE(result.recordLength, 20);

        TextLineReader reader;
        QVERIFY(reader.open(path));
        QByteArray line;
        qint64 n = 0;
        while (reader.next(line)) {
            if (line != QByteArray::number(n).rightJustified(20, '0'))
                QFAIL(qPrintable(QStringLiteral("line %1").arg(n)));
            ++n;
        }
        QCOMPARE(n, 300000);
    }
};

QTEST_GUILESS_MAIN(TestTextBase)
#include "test_textbase.moc"
