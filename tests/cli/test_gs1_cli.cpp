// Values made from several fields and GS1 DataMatrix through codiflux-cli:
// templates over every kind of base, the refusals that stop a run naming the
// record, the README's worked example read back as GS1 by zxing-cpp.

#include "app/cli/cli.h"

#include "bases/listing.h"
#include "tests/support/dbf_builder.h"
#include "tests/support/files.h"

#include <QDir>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

using namespace codiflux;
using namespace codiflux::cli;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

struct Run {
    int exitCode = -1;
    QString out;
    QString err;
};

QByteArray gtin(int item)
{
    QByteArray body = "0345312" + QByteArray::number(item).rightJustified(6, '0');
    int sum = 0;
    for (int i = 0; i < body.size(); ++i)
        sum += (body.at(body.size() - 1 - i) - '0') * (i % 2 == 0 ? 3 : 1);
    return body + char('0' + (10 - sum % 10) % 10);
}

// Arguments written as one line (no path or template holds a space).
QStringList words(const QString& line)
{
    return line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

// The README's worked example.
const char kExampleTemplate[] = "(01){GTIN}(17){EXP:yyMMdd}(10){LOT}(21){SERIAL:08}";

}  // namespace

class TestGs1Cli : public QObject {
    Q_OBJECT

private slots:
    void templates_data();
    void templates();
    void wrongCheckDigitStopsTheRun_data();
    void wrongCheckDigitStopsTheRun();
    void rawAndBracketedGiveOneCode();
    void humanReadableAfterTheCode_data();
    void humanReadableAfterTheCode();
    void readmeExample();

private:
    Run run(const QStringList& arguments)
    {
        QSettings settings(dir_.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
        Run r;
        QTextStream out(&r.out);
        QTextStream err(&r.err);
        Console console;
        console.out = &out;
        console.err = &err;
        r.exitCode = int(runCommandLine(arguments, settings, console));
        return r;
    }
    QString write(const QString& name, const QByteArray& bytes)
    {
        const QString path = dir_.filePath(name);
        writeFile(path, bytes);
        return path;
    }
    QTemporaryDir dir_;
};

void TestGs1Cli::templates_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("expected");  // the preview's value of record 1, or the refusal of the run
    const QList<testsupport::DbfField> fields{{"REF", 'C', 6}, {"DATE", 'D', 8}, {"NUM", 'N', 5}};
    const QByteArray dbf
        = testsupport::dbfBytes(fields, {{" AB12", "20250131", "   42"}, {"CD34", "20240229", "    7"}});
    const QByteArray dbfGap = testsupport::dbfBytes(fields, {{"AB12", "20250131", "   42"}, {"CD34", "", "    7"}});
    const QByteArray text("AB12  20250131   42\nCD34  20240229    7\n");
    const QByteArray csv("REF;DATE;NUM\r\nAB12;31/01/2025;42\r\nCD34;2024-02-29;7\r\n");
    const QByteArray csvGap("REF;DATE;NUM\r\nAB12;31/01/2025;42\r\nCD34;;7\r\n");
    QTest::newRow("dbf") << "t.dbf" << dbf << "A{{{REF}}}-{DATE:yyMMdd}-{num:06}"
                         << "A{AB12}-250131-000042";
    QTest::newRow("text") << "t.txt" << text << "{1:6}/{7:8:dd.MM.yy}/{15:5:03}"
                          << "AB12/31.01.25/042";
    QTest::newRow("csv") << "t.csv" << csv << "{REF}|{DATE:yyMMdd}|{NUM:04}"
                         << "AB12|250131|0042";
    QTest::newRow("dbf unknown") << "t.dbf" << dbf << "{REF}{LOT}"
                                 << "champ inconnu « LOT »";
    QTest::newRow("csv unknown") << "t.csv" << csv << "{REF}{LOT}"
                                 << "colonne inconnue « LOT »";
    QTest::newRow("text outside") << "t.txt" << text << "{15:6}"
                                  << "les colonnes 15 à 20 sortent";
    QTest::newRow("lone brace") << "t.dbf" << dbf << "{REF}}"
                                << "« } » isolée en position 6";
    QTest::newRow("dbf empty date") << "t.dbf" << dbfGap << "{REF}{DATE:yyMMdd}"
                                    << "Enregistrement 2 : valeur impossible à former, {DATE:yyMMdd} : date vide.";
    QTest::newRow("csv empty date") << "t.csv" << csvGap << "{DATE:yyMMdd}"
                                    << "Enregistrement 2 : valeur impossible à former, {DATE:yyMMdd} : date vide.";
    // Each field read with the table's code page: cp1252 (0x03), the old
    // OEM rule (0x00), cp1250 whose "Ł" Windows-1252 lacks.
    testsupport::DbfLayout cp1252, cp1250;
    cp1252.reserved29 = 0x03;
    cp1250.reserved29 = char(0xC8);
    const QList<testsupport::DbfField> name{{"NOM", 'C', 6}};
    QTest::newRow("cp1252") << "t.dbf" << testsupport::dbfBytes(name, {{"H\xE9l\xE8ne"}}, cp1252) << "A{NOM}"
                            << QStringLiteral("AHélène");
    QTest::newRow("cp850") << "t.dbf" << testsupport::dbfBytes(name, {{"M\x81ller"}}) << "A{NOM}"
                           << QStringLiteral("AMüller");
    QTest::newRow("cp1250") << "t.dbf" << testsupport::dbfBytes(name, {{"\xA3\xF3\x64\x9F"}}, cp1250) << "A{NOM}"
                            << QStringLiteral("le caractère « Ł » ne peut pas aller dans le code");
    QTest::newRow("UTF-8 text") << "t.txt" << QStringLiteral("Hélène\n").toUtf8() << "{1:6}"
                                << "un modèle les compte en octets";
    QTest::newRow("too many digits") << "t.dbf" << dbf << "{NUM:01}"
                                     << "Enregistrement 1 : valeur impossible à former, {NUM:01} : « 42 » a plus "
                                        "de 1 chiffres.";
}

// The preview shows the composed value; a refusal stops both commands and
// writes nothing.
void TestGs1Cli::templates()
{
    QFETCH(QString, file);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, pattern);
    QFETCH(QString, expected);
    const QString source = write(file, bytes);
    const QString output = dir_.filePath(QStringLiteral("out.") + QFileInfo(file).suffix());
    const bool refusal = !expected.contains(QLatin1Char('|')) && !expected.startsWith(QLatin1Char('A'));
    const Run preview
        = run(words(QStringLiteral("preview %1 --value %2 --sample 1 --dm-size auto").arg(source, pattern)));
    const Run generated = run(
        words(QStringLiteral("generate %1 -o %2 --value %3 --dm-size auto --verify").arg(source, output, pattern)));
    if (!refusal) {
        QCOMPARE(preview.exitCode, 0);
        QVERIFY2(preview.out.contains(QStringLiteral("Valeur : « %1 »").arg(expected)), qPrintable(preview.out));
        QCOMPARE(generated.exitCode, 0);
        QVERIFY(QFile::remove(output));
        return;
    }
    QVERIFY(preview.exitCode != 0 || generated.exitCode != 0);
    QVERIFY2((preview.err + generated.err).contains(expected), qPrintable(preview.err + generated.err));
    QVERIFY(!QFile::exists(output));
}

void TestGs1Cli::wrongCheckDigitStopsTheRun_data()
{
    QTest::addColumn<QString>("options");
    QTest::newRow("one job") << "--jobs 1";
    QTest::newRow("four jobs, verified") << "--jobs 4 --verify";
    QTest::newRow("HRI field") << "--hri-field HRI";
}

// 1,000 records, one of them with a GTIN whose check digit is wrong.
void TestGs1Cli::wrongCheckDigitStopsTheRun()
{
    QFETCH(QString, options);
    QList<QList<QByteArray>> rows;
    for (int i = 0; i < 1000; ++i)
        rows.append({i == 636 ? gtin(i).chopped(1) + char('0' + (gtin(i).back() - '0' + 1) % 10) : gtin(i),
                     "L" + QByteArray::number(i)});
    QTemporaryDir folder;
    const QString source = folder.filePath(QStringLiteral("packs.dbf"));
    writeFile(source, testsupport::dbfBytes({{"GTIN", 'C', 14}, {"LOT", 'C', 20}}, rows));
    const Run r = run(words(QStringLiteral("generate %1 -o %2 --gs1 --value (01){GTIN}(10){LOT} --dm-size auto --txt ")
                                .arg(source, folder.filePath(QStringLiteral("out.dbf")))
                            + options));
    QCOMPARE(r.exitCode, 1);
    const QByteArray wrong = rows.at(636).at(0);
    QVERIFY2(r.err.contains(QStringLiteral("Enregistrement 637 : valeur GS1 refusée, (01) : chiffre de contrôle %1 "
                                           "attendu, %2 trouvé.")
                                .arg(QChar(gtin(636).back()), QChar(wrong.back()))),
             qPrintable(r.err));
    QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("packs.dbf")});
}

// Record 1 in the bracketed form, record 2 raw (GS after the variable-length
// lot, and one after the fixed-length GTIN that GS1 allows): one code.
void TestGs1Cli::rawAndBracketedGiveOneCode()
{
    const QString source = write(QStringLiteral("forms.dbf"),
                                 testsupport::dbfBytes({{"VAL", 'C', 60}},
                                                       {{"(01)09506000134352(10)ABC123(17)251231(21)X9"},
                                                        {"0109506000134352\x1D"
                                                         "10ABC123\x1D"
                                                         "1725123121X9"}}));
    const QString output = dir_.filePath(QStringLiteral("forms_out.dbf"));
    const Run r
        = run(words(QStringLiteral("generate %1 -o %2 --gs1 --field VAL --dm-size auto --verify --hri-field HRI")
                        .arg(source, output)));
    QCOMPARE(r.exitCode, 0);
    DbfTablePtr table(dbf_open(QFile::encodeName(output).constData(), nullptr, 0, 0));
    QVERIFY(table);
    QCOMPARE(listedValue(table.get(), 0, 1), listedValue(table.get(), 1, 1));
    QCOMPARE(listedValue(table.get(), 1, 2), QByteArray("(01) 09506000134352 (10) ABC123 (17) 251231 (21) X9"));
    QVERIFY(QFile::remove(output));
}

// A CSV base gets a column, a text base the text after the code; without
// the GS1 mode the field is refused, and so is Edifact in the GS1 mode.
void TestGs1Cli::humanReadableAfterTheCode_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("options");
    QTest::addColumn<QByteArray>("tail");  // the end of an output line, or the refusal
    QTest::newRow("csv") << "h.csv" << QByteArray("GTIN;LOT\r\n09506000134352;A1\r\n03453120000011;B22\r\n")
                         << "--gs1 --value (01){GTIN}(10){LOT}" << QByteArray(";(01) 03453120000011 (10) B22\r\n");
    QTest::newRow("text") << "h.txt" << QByteArray("010950600013435210A1 \n010345312000001110B22\n")
                          << "--gs1 --range 1:21" << QByteArray("(01) 09506000134352 (10) A1 \n");  // padded
    QTest::newRow("edifact") << "h.txt" << QByteArray("0109506000134352\n") << "--gs1 --range 1:16 --dm-scheme edifact"
                             << QByteArray("Edifact ne peut pas porter le séparateur FNC1");
    QTest::newRow("no gs1") << "h.txt" << QByteArray("0950600013435210A1 \n") << "--range 1:19"
                            << QByteArray("ne s'écrit qu'en mode GS1");
}

void TestGs1Cli::humanReadableAfterTheCode()
{
    QFETCH(QString, file);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, options);
    QFETCH(QByteArray, tail);
    const QString output = dir_.filePath(QStringLiteral("hri_out.") + QFileInfo(file).suffix());
    const Run r = run(words(QStringLiteral("generate %1 -o %2 --hri-field HRI --dm-size auto --verify %3")
                                .arg(write(file, bytes), output, options)));
    if (r.exitCode != 0) {
        QVERIFY2(r.err.toUtf8().contains(tail), qPrintable(r.err));
        QVERIFY(!QFile::exists(output));
        return;
    }
    const QByteArray written = readFile(output);
    QVERIFY(QFile::remove(output));
    QVERIFY2(written.contains(tail), written.constData());
}

// The README's command: every record read back as "]d2" and its element
// string (--verify), the HRI field as long as the longest text.
void TestGs1Cli::readmeExample()
{
    const QString source = QStringLiteral(CODIFLUX_SOURCE_DIR "/examples/produits_gs1.dbf");
    const QString output = dir_.filePath(QStringLiteral("produits_gs1_code.dbf"));
    const Run r = run(words(QStringLiteral("generate %1 --gs1 --dm-size auto --dm-scheme ascii --value %2 "
                                           "--new-field CODE --hri-field HRI -o %3 --verify")
                                .arg(source, QLatin1String(kExampleTemplate), output)));
    QCOMPARE(r.exitCode, 0);
    QVERIFY2(r.out.contains(QStringLiteral("1000 enregistrements")), qPrintable(r.out));
    DbfTablePtr table(dbf_open(QFile::encodeName(output).constData(), nullptr, 0, 0));
    QVERIFY(table);
    QCOMPARE(dbf_field_count(table.get()), 7u);
    DbfFieldInfo hri{};
    QVERIFY(dbf_field_info(table.get(), 6, &hri));
    QCOMPARE(fieldName(hri), QStringLiteral("HRI"));
    QCOMPARE(hri.length, 57);
    QCOMPARE(listedValue(table.get(), 0, 6), QByteArray("(01) 03453120000011 (17) 260131 (10) L5543A (21) 00100000"));
}

QTEST_GUILESS_MAIN(TestGs1Cli)
#include "test_gs1_cli.moc"
