// Text bases: the lines as read and shown, and the text source a run reads
// (counting pass, unequal lines, a line too long, cancellation, records);
// the code-page rules under them (UTF-8 detection, byte 29, Windows-1252).

#include "bases/codepage.h"
#include "bases/source.h"
#include "bases/textbase.h"
#include "tests/support/files.h"

#include <QtTest>

#include <sys/stat.h>

using namespace codiflux;

class TestTextBase : public QObject {
    Q_OBJECT

    testsupport::TempFiles files;
    QString write(const QByteArray& bytes) { return files.write(bytes, ".txt"); }

private slots:
    void initTestCase() { QVERIFY(files.isValid()); }

    // The lines, and what the source makes of them: -1 records when it refuses the base.
    void lines_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArrayList>("lines");
        QTest::addColumn<int>("records");
        QTest::addColumn<QString>("error");
        const QString unequal
            = QStringLiteral("Les enregistrements du fichier source n'ont pas tous la même longueur.");
        QTest::newRow("LF") << QByteArray("abc\ndef\n") << QByteArrayList{"abc", "def"} << 2 << QString();
        QTest::newRow("CR LF, no final end")
            << QByteArray("abc\r\ndef") << QByteArrayList{"abc", "def"} << 2 << QString();
        QTest::newRow("lone CR stays") << QByteArray("a\rb\nc\rd\n") << QByteArrayList{"a\rb", "c\rd"} << 2
                                       << QString();
        QTest::newRow("BOM skipped") << QByteArray("\xEF\xBB\xBF"
                                                   "abc\n")
                                     << QByteArrayList{"abc"} << 1 << QString();
        // (a Latin-1 base: "\xE9" is no UTF-8)
        QTest::newRow("BOM only at the start") << QByteArray("a\xE9\n\xEF\xBB\xBF"
                                                             "c\n")
                                               << QByteArrayList{"a\xE9",
                                                                 "\xEF\xBB\xBF"
                                                                 "c"}
                                               << -1 << unequal;
        QTest::newRow("part of a BOM") << QByteArray("\xEF\xBBx\n") << QByteArrayList{"\xEF\xBBx"} << 1 << QString();
        QTest::newRow("empty lines before")
            << QByteArray("\n\r\n\nabc\ndef\n") << QByteArrayList{"", "", "", "abc", "def"} << 2 << QString();
        QTest::newRow("empty line after")
            << QByteArray("abc\n\nabc\n") << QByteArrayList{"abc", "", "abc"} << -1 << unequal;
        QTest::newRow("1 byte, then 2") << QByteArray("a\nab\n") << QByteArrayList{"a", "ab"} << -1 << unequal;
        QTest::newRow("one byte longer") << QByteArray("abc\nabcd\n") << QByteArrayList{"abc", "abcd"} << -1 << unequal;
        QTest::newRow("empty file") << QByteArray() << QByteArrayList{} << 0 << QString();
        QTest::newRow("longest line") << QByteArray(65535, 'L') + "\r\n"
                                      << QByteArrayList{QByteArray(65535, 'L')} << 1 << QString();
        QTest::newRow("buffer-sized lines")
            << QByteArray(256, 'a') + "\r\n" + QByteArray(256, 'b') + "\n" + QByteArray(256, 'c')
            << QByteArrayList{QByteArray(256, 'a'), QByteArray(256, 'b'), QByteArray(256, 'c')} << 3 << QString();
        QTest::newRow("line 2 too long") << QByteArray("ab\n") + QByteArray(65536, 'x') + "\n"
                                         << QByteArrayList{} << -1 << lineTooLongText(2);
    }

    void lines()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArrayList, lines);
        QFETCH(int, records);
        QFETCH(QString, error);
        const QString path = write(bytes);
        TextBaseDisplay display;
        QCOMPARE(readTextBaseForDisplay(path, display).text, error == lineTooLongText(2) ? error : QString());
        QCOMPARE(display.lines, lines);

        Error failure;
        std::unique_ptr<TextSource> source = TextSource::open(path, 2, 2, {}, &failure);
        QCOMPARE(bool(source), records >= 0);
        QCOMPARE(failure.text, error);
        if (!source)
            return;
        QCOMPARE(source->recordCount(), qint64(records));
        // Each record is a blank and the line, read from the top: an empty
        // line there is a short record. None beyond the last line.
        QVERIFY(!source->start());
        QByteArray record(source->layout().recordLength + 1, '#');  // a guard byte after the record
        for (const QByteArray& line : lines) {
            QCOMPARE(source->next(record.data()), !line.isEmpty());
            if (line.isEmpty())
                return;
            QCOMPARE(record, ' ' + line + '#');
        }
        QVERIFY(!source->next(record.data()));
    }

    // At most maxLines lines are shown; the longest of them, not of the file.
    void displayLimit()
    {
        QByteArray bytes;
        for (int i = 0; i < 1001; ++i)
            bytes += QByteArray(i == 1000 ? 90 : 5 + i % 7, 'a') + "\n";
        TextBaseDisplay display;
        QVERIFY(!readTextBaseForDisplay(write(bytes), display, 1000));
        QCOMPARE(display.lines.size(), 1000);
        QCOMPARE(display.maxLineLength, 11);
    }

    // What decides that a text base is UTF-8, and the byte a symbol carries
    // for a character: forms a strict decoder refuses are not UTF-8, and the
    // ends of Windows-1252 keep their byte.
    void utf8AndSymbolBytes_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("utf8");
        QTest::newRow("two-byte") << QByteArray("H\xC3\xA9l\xC3\xA8ne") << true;
        QTest::newRow("four-byte") << QByteArray("\xF0\x9F\x98\x80") << true;
        QTest::newRow("ascii only") << QByteArray("Helene") << false;
        QTest::newRow("overlong two-byte") << QByteArray("\xC0\xAF") << false;
        QTest::newRow("overlong three-byte") << QByteArray("\xE0\x80\xAF") << false;
        QTest::newRow("overlong four-byte") << QByteArray("\xF0\x80\x80\xAF") << false;
        QTest::newRow("surrogate") << QByteArray("\xED\xA0\x80") << false;
        QTest::newRow("past U+10FFFF") << QByteArray("\xF4\x90\x80\x80") << false;
        QTest::newRow("cut short") << QByteArray("ab\xC3") << false;
        QTest::newRow("latin-1") << QByteArray("H\xE9l\xE8ne") << false;
    }
    void utf8AndSymbolBytes()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, utf8);
        QCOMPARE(looksLikeUtf8(bytes), utf8);
        QCOMPARE(textCodePage(write(bytes + "\n")).page, utf8 ? CodePage::Utf8 : CodePage::Latin1);
    }
    void windows1252Ends()
    {
        QCOMPARE(symbolByte(U'\u00FF'), 0xFF);
        QCOMPARE(symbolByte(U'\u00A0'), 0xA0);
        QCOMPARE(symbolByte(U'\u20AC'), 0x80);
        QCOMPARE(symbolByte(U'\u0178'), 0x9F);
        QCOMPARE(symbolByte(U'\u0100'), -1);
        QByteArray out;
        char32_t refused = 0;
        QVERIFY(symbolBytes(QStringLiteral("\u00FF\u20AC"), false, out, &refused));
        QCOMPARE(out, QByteArray("\xFF\x80"));
        QVERIFY(!symbolBytes(QStringLiteral("a\u0141b"), false, out, &refused));
        QCOMPARE(refused, U'\u0141');
        // The same conversion made once for a run, from a UTF-8 base's bytes.
        const ValueTranscoder transcoder(CodePage::Utf8, false);
        const QByteArray in("\xC3\xBF\xE2\x82\xAC");
        char buffer[16];
        QCOMPARE(transcoder.convert(in.constData(), int(in.size()), buffer, &refused), 2);
        QCOMPARE(QByteArray(buffer, 2), QByteArray("\xFF\x80"));
    }

    // A table's byte 29: a known driver names its code page, any other byte
    // leaves the old OEM default.
    void languageDrivers()
    {
        const QString none = files.path(QStringLiteral("none.dbf"));
        const auto page = [&](unsigned char byte) { return dbfCodePage(none, byte); };
        QCOMPARE(page(0x03).page, CodePage::Cp1252);
        QCOMPARE(page(0x03).origin, CodePageOrigin::Header);
        QCOMPARE(page(0xC8).page, CodePage::Cp1250);
        for (const unsigned char unknown : {0x00, 0x99}) {
            QCOMPARE(page(unknown).page, CodePage::Cp850);
            QCOMPARE(page(unknown).origin, CodePageOrigin::Default);
        }
    }

    void cancellationAndFailures()
    {
        const QString path = write(QByteArray("abcdef\n").repeated(100));
        int calls = 0;
        Error error;
        QVERIFY(!TextSource::open(
            path, 1, 2, [&] { return ++calls <= 40; }, &error));
        QCOMPARE(calls, 41);
        QCOMPARE(error.code, ErrorCode::Cancelled);
        QCOMPARE(error.text, QStringLiteral("Fabrication de la base encodée annulée."));
        QVERIFY(!TextSource::open(files.path(QStringLiteral("missing.txt")), 1, 2, {}, &error));
        QCOMPARE(error.text, QStringLiteral("Impossible d'ouvrir la base d'origine."));
        TextBaseDisplay display;
        error = readTextBaseForDisplay(files.path(QStringLiteral("missing.txt")), display);
        QCOMPARE(error.code, ErrorCode::SourceUnreadable);
        QCOMPARE(error.text, qt_error_string(ENOENT));
        // A FIFO is refused before it is opened, which would wait for a writer.
        const QString fifo = files.path(QStringLiteral("fifo"));
        QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0644) == 0);
        QCOMPARE(readTextBaseForDisplay(fifo, display).text, QStringLiteral("Ce n'est pas un fichier ordinaire."));
    }
};

QTEST_GUILESS_MAIN(TestTextBase)
#include "test_textbase.moc"
