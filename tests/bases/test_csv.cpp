// Tests of the CSV bases: RFC 4180 rows, detection of the delimiter and the
// encoding, rows kept byte for byte, the bytes a code carries, and the French
// texts that name the line of a malformed file.

#include "bases/csvbase.h"
#include "tests/support/files.h"

#include <QtTest>

using namespace codiflux;

Q_DECLARE_METATYPE(codiflux::CsvEncoding)

using Rows = QList<QStringList>;

class TestCsv : public QObject {
    Q_OBJECT

    testsupport::TempFiles files;
    QString write(const QByteArray& bytes) { return files.write(bytes, ".csv"); }

private slots:
    void read_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<char>("forcedDelimiter");
        QTest::addColumn<char>("delimiter");
        QTest::addColumn<CsvEncoding>("encoding");
        QTest::addColumn<Rows>("rows");            // header first
        QTest::addColumn<QList<qint64>>("lines");  // first line of each data row

        QTest::newRow("semicolon, Windows-1252, CR LF")
            << QByteArray("Nom;Ville\r\nH\xE9l\xE8ne;S\xE8te\r\n\x80uro;\r\n") << char(0) << ';'
            << CsvEncoding::Windows1252 << Rows{{"Nom", "Ville"}, {"Hélène", "Sète"}, {"€uro", ""}}
            << QList<qint64>{2, 3};
        QTest::newRow("comma, UTF-8 with its mark, quotes")  // continuation bytes at the ends of their ranges
            << QByteArray("\xEF\xBB\xBFname,city\n\"Smith, J\",\"Zo\xC3\x80\xC2\xBF\xE2\x82\xAC\xE4\xB8\xAD "
                          "\"\"Z\"\"\"\n\"\",\xE4\xBA\xAC\n")
            << char(0) << ',' << CsvEncoding::Utf8 << Rows{{"name", "city"}, {"Smith, J", "ZoÀ¿€中 \"Z\""}, {"", "京"}}
            << QList<qint64>{2, 3};
        QTest::newRow("tab, plain ASCII, no final line end")
            << QByteArray("a\tb\n1\t2") << char(0) << '\t' << CsvEncoding::Utf8 << Rows{{"a", "b"}, {"1", "2"}}
            << QList<qint64>{2};
        QTest::newRow("line breaks inside quotes")
            << QByteArray("a;b\n\"one\ntwo\";x\n\"l\r\nm\";\"y\"\r\nlast;\"q\"") << char(0) << ';' << CsvEncoding::Utf8
            << Rows{{"a", "b"}, {"one\ntwo", "x"}, {"l\r\nm", "y"}, {"last", "q"}} << QList<qint64>{2, 4, 6};
        QTest::newRow("commas in the values of a semicolon file")
            << QByteArray("Nom;Adresse\nA;1, rue X\nB;2, rue Y\n") << char(0) << ';' << CsvEncoding::Utf8
            << Rows{{"Nom", "Adresse"}, {"A", "1, rue X"}, {"B", "2, rue Y"}} << QList<qint64>{2, 3};
        QTest::newRow("forced delimiter") << QByteArray("a;b\n1;2\n") << ',' << ',' << CsvEncoding::Utf8
                                          << Rows{{"a;b"}, {"1;2"}} << QList<qint64>{2};
        // One column: no delimiter to detect, so the encoded column is added
        // after a comma in UTF-8 and after a semicolon in Windows-1252.
        QTest::newRow("one column, UTF-8") << QByteArray("Code\nA1\n") << char(0) << ',' << CsvEncoding::Utf8
                                           << Rows{{"Code"}, {"A1"}} << QList<qint64>{2};
        QTest::newRow("one column, Windows-1252")
            << QByteArray("Code\n\xE9"
                          "1\n")
            << char(0) << ';' << CsvEncoding::Windows1252 << Rows{{"Code"}, {"é1"}} << QList<qint64>{2};
        QTest::newRow("a stray CR and a quote inside an unquoted field")
            << QByteArray("a;b\nx\ry;5\"6\n") << char(0) << ';' << CsvEncoding::Utf8
            << Rows{{"a", "b"}, {"x\ry", "5\"6"}} << QList<qint64>{2};
    }

    void read()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(char, forcedDelimiter);
        QFETCH(Rows, rows);
        QFETCH(QList<qint64>, lines);
        CsvReader reader;
        const Error error = reader.open(write(bytes), {forcedDelimiter, CsvEncoding::Detect});
        QVERIFY2(!error, qPrintable(error.text));
        QTEST(reader.format().delimiter, "delimiter");
        QTEST(reader.format().encoding, "encoding");
        QCOMPARE(reader.format().byteOrderMark, bytes.startsWith("\xEF\xBB\xBF"));
        QCOMPARE(reader.columns(), rows.first());

        // The rows, and their bytes, which put back together are the file.
        QByteArray again = reader.format().byteOrderMark ? QByteArray("\xEF\xBB\xBF") : QByteArray();
        again += reader.header().raw;
        CsvRow row;
        Rows read;
        QList<qint64> readLines;
        CsvReader::Status status;
        while ((status = reader.next(row)) == CsvReader::Status::Row) {
            QStringList cells;
            for (int i = 0; i < row.cellCount(); ++i)
                cells << csvText(row.cell(i), reader.format().encoding);
            read << cells;
            readLines << row.line;
            again += row.raw;
            QCOMPARE(row.raw.endsWith("\r\n") ? 2 : row.raw.endsWith('\n') ? 1 : 0, row.lineEndLength);
        }
        QCOMPARE(status, CsvReader::Status::End);
        QCOMPARE(read, rows.mid(1));
        QCOMPARE(readLines, lines);
        QCOMPARE(again, bytes);
    }

    // The delimiter a user names on the command line.
    void delimiterNames()
    {
        const QList<std::pair<QString, char>> rows = {{";", ';'},   {"point-virgule", ';'}, {",", ','}, {"Comma", ','},
                                                      {"\t", '\t'}, {" tab ", '\t'},        {"|", 0},   {"", 0}};
        for (const auto& [text, expected] : rows) {
            char delimiter = 0;
            QCOMPARE(parseCsvDelimiter(text, &delimiter), expected != 0);
            QCOMPARE(delimiter, expected);
        }
    }

    void malformed_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<CsvEncoding>("encoding");
        QTest::addColumn<QString>("message");
        QTest::newRow("unbalanced quote") << QByteArray("a;b\n1;2\n3;\"x\n4;5\n") << CsvEncoding::Detect
                                          << "Ligne 3 : le guillemet ouvert sur cette ligne n'est jamais fermé.";
        QTest::newRow("more fields") << QByteArray("a;b\n1;2;3\n") << CsvEncoding::Detect
                                     << "Ligne 2 : 3 champ(s) au lieu des 2 de l'en-tête.";
        QTest::newRow("fewer fields after a row of two lines")
            << QByteArray("a;b\n\"x\ny\";2\n3\n") << CsvEncoding::Detect
            << "Ligne 4 : 1 champ(s) au lieu des 2 de l'en-tête.";
        QTest::newRow("empty file") << QByteArray() << CsvEncoding::Detect
                                    << "Ligne 1 : le fichier CSV est vide, il n'a pas d'en-tête.";
        QTest::newRow("not UTF-8 under forced UTF-8")
            << QByteArray("a;b\n1;2\n\"x\n\xE9t\xE9\";2\n") << CsvEncoding::Utf8
            << "Ligne 4 : octets invalides pour l'encodage UTF-8.";
        QTest::newRow("character after a closing quote in the header")
            << QByteArray("a;\"b\"c\n1;2\n") << CsvEncoding::Detect
            << "Ligne 1 : caractère inattendu après un guillemet fermant (un guillemet dans un champ se double).";
    }

    void malformed()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(CsvEncoding, encoding);
        QFETCH(QString, message);
        CsvReader reader;
        const Error opened = reader.open(write(bytes), {';', encoding});
        QString error = opened.text;
        if (opened) {
            QCOMPARE(opened.code, ErrorCode::SourceMalformed);
        } else {
            CsvRow row;
            CsvReader::Status status;
            while ((status = reader.next(row)) == CsvReader::Status::Row) { }
            QCOMPARE(status, CsvReader::Status::Failed);
            error = reader.error();
        }
        QCOMPARE(error, message);
    }

    // A quoted value holds up to 16 MiB of row less its opening quote; one
    // byte more and the quote is taken as never closed.
    void longestQuotedValue()
    {
        for (const qsizetype extra : {0, 1}) {
            CsvReader reader;
            const QByteArray value((qsizetype(1) << 24) - 1 + extra, 'x');
            QVERIFY(!reader.open(write("a\n\"" + value + "\"\n"), {';', CsvEncoding::Utf8}));
            CsvRow row;
            QCOMPARE(reader.next(row), extra ? CsvReader::Status::Failed : CsvReader::Status::Row);
        }
    }

    // What a code carries: Windows-1252 bytes, from either encoding; and the
    // cell appended to a row, quoted only when it must be.
    void codeBytesAndCells()
    {
        QByteArray out;
        QVERIFY(csvCodeBytes(QByteArray("Z\xC3\xA9ro\0\xE2\x82\xAC", 9), CsvEncoding::Utf8, out));
        QCOMPARE(out, QByteArray("Z\xE9ro\0\x80", 6));
        QVERIFY(csvCodeBytes("Z\xE9ro \x80", CsvEncoding::Windows1252, out));
        QCOMPARE(out, QByteArray("Z\xE9ro \x80"));
        QVERIFY(!csvCodeBytes("\xC5\x81\xC3\xB3"
                              "d\xC5\xBA",
                              CsvEncoding::Utf8, out));  // Łódź
        QCOMPARE(out,
                 QByteArray("?\xF3"
                            "d?"));

        QByteArray row = "a";
        appendCsvCell(row, ';', "ABC");
        appendCsvCell(row, ';', "AB\nCD");
        appendCsvCell(row, ';', "A;\"B");
        appendCsvCell(row, ',', "A;B");
        QCOMPARE(row, QByteArray("a;ABC;\"AB\nCD\";\"A;\"\"B\",A;B"));
    }

    // The window's listing stops at 1000 rows, its cells as code bytes.
    void display()
    {
        QByteArray bytes = "Code;Nom\n";
        for (int i = 0; i < 1500; ++i)
            bytes += QByteArray::number(i) + ";N" + QByteArray::number(i) + "\n";
        CsvDisplay display;
        const Error error = readCsvForDisplay(write(bytes), {}, display);
        QVERIFY2(!error, qPrintable(error.text));
        QCOMPARE(display.columns, QStringList({"Code", "Nom"}));
        QCOMPARE(display.rows.size(), 1000);
        QCOMPARE(display.rows.at(999), QList<QByteArray>({"999", "N999"}));
    }
};

QTEST_GUILESS_MAIN(TestCsv)
#include "test_csv.moc"
