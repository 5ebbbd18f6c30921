// codiflux-cli: the executable's answers (usage errors, help, presets, previews, refusals that touch
// nothing), byte equality between job counts, the scan check catching a corrupt code, interrupted runs.

#include "app/cli/cli.h"
#include "app/cli/options.h"

#include "tests/support/dbf_builder.h"
#include "tests/support/files.h"
#include "tests/support/locale.h"

#include <QDir>
#include <QElapsedTimer>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <csignal>

#include <sys/stat.h>

using namespace codiflux;
using namespace codiflux::cli;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

QByteArray codeTable(const QList<QList<QByteArray>>& records, qint64 declared = -1)
{
    testsupport::DbfLayout layout;
    layout.declaredCount = declared;
    return testsupport::dbfBytes({{"CODE", 'C', 10}}, records, layout);
}

QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

// The regular files of a folder and their bytes.
QMap<QString, QByteArray> contents(const QString& folder)
{
    QMap<QString, QByteArray> all;
    for (const QString& name : entries(folder))
        all.insert(name, readFile(folder + QLatin1Char('/') + name));
    return all;
}

struct ProcessResult {
    int exitCode = -1;
    QString out;
    QString err;
};

}  // namespace

class TestCli : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void commands_data();
    void commands();
    void helpNamesEveryOption();
    void optionValues();
    void previewIsTheGeneratedCode();
    void sameBytesForEveryJobCount_data();
    void sameBytesForEveryJobCount();
    void verifyCatchesACorruptedCode();
    void csvReadFailingInTheRecordPass();
    void interruptLeavesNoPartialFile();
    void interruptGuardGivesTheRunUp();
    void sameOutputUnderAFrenchLocale();

private:
    QTemporaryDir dir_;
    QString path(const QString& name) const { return dir_.filePath(name); }
    ProcessResult run(const QStringList& arguments, const QList<QPair<QString, QString>>& variables = {});
    GenerationJob jobFor(const QString& arguments);
};

// The executable, with the test folder standing for "@" in the arguments.
ProcessResult TestCli::run(const QStringList& arguments, const QList<QPair<QString, QString>>& variables)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), path(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_DATA_HOME"), path(QStringLiteral("data")));
    env.insert(QStringLiteral("PATH"), path(QStringLiteral("no-tools")));  // no fc-cache
    for (const auto& [name, value] : variables)
        env.insert(name, value);
    process.setProcessEnvironment(env);
    QString program = QStringLiteral(CODIFLUX_CLI_EXE);
    QStringList all = QStringList(arguments).replaceInStrings("@", dir_.path());
    if (all.value(0).startsWith(QLatin1String("--fsize="))) {  // a file-size limit: run under prlimit
        all.insert(1, program);
        program = QStandardPaths::findExecutable(QStringLiteral("prlimit"));
    }
    process.start(program, all);
    ProcessResult r;
    if (process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit)
        r = {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
             QString::fromUtf8(process.readAllStandardError())};
    return r;
}

// Arguments ("@" the test folder) to a job, as the command does it.
GenerationJob TestCli::jobFor(const QString& arguments)
{
    QSettings settings(path(QStringLiteral("none.ini")), QSettings::IniFormat);
    const ParseResult parsed = parseArguments(QString(arguments).replace('@', dir_.path()).split(' '), settings);
    GenerationJob job;
    [&] { QVERIFY(!parsed.error && !buildJob(parsed.options, job, nullptr)); }();
    return job;
}

void TestCli::initTestCase()
{
    QVERIFY(dir_.isValid());
    for (const char* name : {"clients.dbf", "clients.dbt", "adresses.txt", "clients.csv"})
        QVERIFY(QFile::copy(QStringLiteral(CODIFLUX_SOURCE_DIR "/examples/") + QLatin1String(name),
                            path(QLatin1String(name))));
    const QList<QList<QByteArray>> blanks(1500, {QByteArray()});
    for (const int n : {1000, 1500}) {
        QVERIFY(writeFile(path(QStringLiteral("blank%1.dbf").arg(n)), codeTable(blanks.mid(0, n))));
        QVERIFY(writeFile(path(QStringLiteral("blank%1.txt").arg(n)), QByteArray("  \n").repeated(n)));
    }
    QVERIFY(writeFile(path("lying.dbf"), codeTable({{""}, {""}}, 0xFFFFFFFF)));
    QVERIFY(writeFile(path("late.dbf"), testsupport::dbfBytes({{"V", 'C', 6}}, {{""}, {"   "}, {"  ab"}, {"cd"}})));
    QVERIFY(writeFile(path("two.csv"), "CODE,Nom,Vide\n1,a,\n") && writeFile(path("codes.asc"), "A1\nB2\n"));
    for (const char* folder : {"no-tools", "r.txt"})
        QVERIFY(QDir().mkpath(path(QLatin1String(folder))));
    QVERIFY(::mkfifo(QFile::encodeName(path("pipe.dbf")).constData(), 0644) == 0);

    // The window's settings file: a default set, a QR set, a set named like the keyword.
    QSettings settings(path(QStringLiteral("config/Codiflux.ini")), QSettings::IniFormat);
    for (const auto& [name, symbology, size] : {std::tuple{"", 0, 29}, std::tuple{"QR", 1, 0}, {"Default", 0, 5}}) {
        ParameterSet set;
        std::tie(set.encoding.symbology, set.encoding.qrMode) = std::tuple(Symbology(symbology), 2);
        set.encoding.sizeRequest = size ? size : set.encoding.sizeRequest;
        openParameterSet(settings, QString::fromLatin1(name));
        writeParameterSet(settings, set);
        closeAllGroups(settings);
    }
}

// One command: its arguments (split at spaces, "~" stands for a space inside
// one, "@" for the test folder; "gen", "dbf" and "txt" first stand for a
// generation, a DBF preview and a text preview), its exit code, and texts
// separated by "|", each in the output or the errors ("!" first: in neither).
struct CommandCase {
    const char* tag;
    const char* arguments;
    int exitCode;
    const char* texts;
};

const CommandCase kCommands[] = {
    // Usage errors: exit 2, a French text and the pointer to the help; then help, version and font.
    {"nothing", "", 2, "Commande manquante|Voir codiflux-cli --help."},
    {"unknown command", "frobnicate b.dbf", 2, "Commande inconnue : « frobnicate »"},
    {"no source", "generate -o x.dbf", 2, "Base d'origine manquante"},
    {"two sources", "gen y.dbf", 2, "Argument en trop : « y.dbf »"},
    {"no destination", "generate @/clients.dbf -f CODE", 2, "Base encodée manquante"},
    {"missing value", "gen -j", 2, "L'option --jobs attend une valeur"},
    {"unknown option", "gen --vitesse", 2, "Option inconnue : --vitesse"},
    {"unknown letter", "gen -z", 2, "Option inconnue : -z"},
    {"switch with value", "gen --txt=oui", 2, "L'option --txt ne prend pas de valeur"},
    {"module 0", "dbf --module 0", 2, "Valeur invalide pour --module : « 0 » (un entier de 1 à 99"},
    {"module 1", "dbf --module 1", 0, "(W) : 36"},
    {"module 99", "dbf --module=99", 0, "(W) : 3564"},
    {"module 100", "dbf --module 100", 2, "--module : « 100 »"},
    {"margin -1", "dbf --margin -1", 2, "--margin : « -1 » (un entier de 0 à 99"},
    {"jobs 0", "gen -j 0", 2, "--jobs : « 0 » (un entier de 1 à 256"},
    {"jobs 256", "gen --jobs 256 --no-progress", 0, "correcte|300 enregistrements"},
    {"engine libdmtx", "gen --dm-engine libdmtx --no-progress", 0, "correcte|300 enregistrements"},
    {"engine unknown", "gen --dm-engine zint", 2, "--dm-engine : « zint »|« codiflux », « libdmtx »"},
    {"range 0:4", "txt -r 0:4", 2, "--range : « 0:4 »"},
    {"range 3:0", "txt -r 3:0", 2, "--range : « 3:0 »"},
    {"range 3", "txt -r 3", 2, "--range : « 3 »"},
    {"range 1:1", "txt -r 1:1", 0, "Valeur : « A »"},
    {"sample 0", "dbf --sample 0", 2, "--sample : « 0 »"},
    {"sample 300 of 300", "dbf -s 300", 0, "exemple : 300|CF20350635"},
    {"sample 301 of 300", "dbf -s 301", 2, "--sample 301 : la base n'a que 300 enregistrements."},
    {"line 250 of 250", "txt -s 250", 0, "exemple : 250"},
    {"line 251 of 250", "txt -s 251", 2, "--sample 251 : la base n'a que 250 lignes."},
    {"size unknown", "dbf --dm-size 13x13", 2, "--dm-size : « 13x13 »|« 12x36 »|« auto-rect »"},
    {"size by text, OEM", "preview @/clients.dbf -f NOM -s 2 --dm-size automatique-carré", 0, "FRANÇOIS |(H) : 18"},
    {"symbology", "dbf --symbology pdf417", 2, "« datamatrix », « qr »"},
    {"blank kind", "dbf --blank rien", 2, "--blank : « rien »"},
    {"eol-char beyond Latin-1", "dbf --eol-char €", 2, "(un caractère Latin-1 est attendu)"},
    {"eol-char ÿ", "dbf --eol-char ÿ", 0, "(W) : 36"},
    {"field and range", "gen --range 1:2", 2, "--field (base DBF) et --range (base texte) s'excluent."},
    {"field and column", "gen -c 2", 2, "--field et --column s'excluent"},
    {"verify in preview", "dbf --verify", 2, "L'option --verify ne s'applique qu'à generate."},
    {"draw in generate", "gen --draw", 2, "L'option --draw ne s'applique qu'à preview."},
    {"install in preview", "dbf --install", 2, "Option inconnue : --install"},
    {"new field ' X'", "gen --new-field ~X", 2, "Le nom du champ encodé est vide"},
    {"missing source", "preview @/absente.dbf", 2, "« @/absente.dbf » n'existe pas"},
    {"folder as source", "preview @/config", 2, "n'existe pas"},
    {"FIFO source", "preview @/pipe.dbf", 2, "n'est pas un fichier ordinaire"},
    {"unknown field", "preview @/clients.dbf -f PRIX", 2, "Champ inconnu : « PRIX » (champs : CODE, NOM"},
    {"no field", "preview @/clients.dbf", 2, "--field NOM (champs : CODE, NOM"},
    {"range for a DBF", "preview @/clients.dbf -r 1:2", 2, "--range s'applique à une base texte"},
    {"field for a text", "preview @/adresses.txt -f A", 2, "--field s'applique à une base DBF"},
    {"no range for a text", "preview @/adresses.txt", 2, "Colonnes à encoder manquantes"},
    {"CSV option for a DBF", "dbf --delimiter ;", 2, "s'appliquent à une base CSV"},
    {"CSV column 4 of 3", "preview @/two.csv -c 4", 2, "pas de colonne n°4 (il en a 3"},
    {"blank CSV column", "preview @/two.csv -c 3", 1, "Aucun enregistrement n'a de valeur dans la colonne « Vide »"},
    {"CSV field in other letters", "preview @/two.csv -f nom --encoding Windows_1252", 0, "Valeur : « a »"},
    {"CSV unknown field", "preview @/two.csv -f Prix", 2, "pas de colonne « Prix » (colonnes : CODE, Nom, Vide)"},
    {"CSV unknown encoding", "preview @/two.csv -c 1 --encoding latin-1", 2, "--encoding : « latin-1 »"},
    {"text base has no memo", "generate @/codes.asc -r 1:2 -o @/codes.ast", 0, "correcte|2 enregistrements"},
    {"font, no action", "font", 2, "--install ou --uninstall"},
    {"font, two actions", "font --install --uninstall", 2, "--install ou --uninstall"},
    {"help", "--help", 0, "codiflux-cli generate SOURCE -o DESTINATION|2 erreur d'utilisation"},
    {"help after an error", "dbf --module 0 -h", 0, "--verify|!Valeur invalide"},
    {"help as a command", "help", 0, "Usage :"},
    {"version", "preview --version", 0, "codiflux-cli 3.|!Usage"},
    {"font install", "font --install", 0, "@/data/fonts/Quadrex.ttf"},
    {"font uninstall", "font --uninstall", 0, "@/data/fonts"},
    // Previews of a DBF, a text and a CSV base; the sample searched as the window lists it.
    {"preview DBF, field in other letters", "preview @/clients.dbf -f code", 0,
     "exemple : 1|« CF20240000    »|(W) : 36|(H) : 12|champ encodé : 3|champ encodé : 111|!▀"},
    {"preview DBF, first value late", "preview @/late.dbf -f V", 0, "exemple : 3|« ab     »"},
    {"preview text, drawn", "txt --draw", 0, "« AD00100000 »|\n  █"},  // the finder's left column
    {"preview text, refused", "txt --symbology QR", 1, "Enregistrement 1 : Encodage impossible"},
    {"preview CSV, column 2", "preview @/clients.csv -c 2 -s 2", 0, "« FRANÇOIS »"},
    {"preview trimmed", "dbf --trim-right", 0, "« CF20240000 »"},
    // The code page: the table's own (byte 29 = 0x02), a forced one, a text base's; ECI for QR.
    {"code page of the table", "dbf -s 2", 0, "Page de codes : cp850 (en-tête de la table, octet 29 = 0x02)"},
    {"code page forced", "preview @/clients.dbf -f NOM -s 2 --codepage windows-1252", 0,
     "Page de codes : cp1252 (choisie)|« FRAN€OIS "},
    {"code page unknown", "dbf --codepage klingon", 2, "Valeur invalide pour --codepage : « klingon »"},
    {"code page of a CSV", "preview @/two.csv -c 1 --codepage cp850", 2, "l'encodage d'une base CSV se choisit"},
    {"code page of a text", "txt", 0, "Page de codes : latin-1 (par défaut)"},
    {"ECI unknown", "dbf --qr-eci latin-1", 2, "Valeur invalide pour --qr-eci : « latin-1 »"},
    {"ECI and code page in the help", "--help", 0, "--qr-eci utf-8|--codepage NOM|Datamatrix (libdmtx"},
    {"1500 blank records", "preview @/blank1500.dbf -f CODE", 1, "Aucun des 1000 premiers enregistrements"},
    {"1000 blank records", "preview @/blank1000.dbf -f CODE", 1, "Aucun enregistrement n'a de valeur"},
    {"header claims 4G records", "preview @/lying.dbf -f CODE", 1, "Aucun enregistrement n'a de valeur"},
    {"1500 blank lines", "preview @/blank1500.txt -r 1:2", 1, "Aucune des 1000 premières lignes|colonnes 1 à 2"},
    {"1000 blank lines", "preview @/blank1000.txt -r 1:2", 1, "Aucune ligne n'a de valeur dans les colonnes 1 à 2"},
    {"long code field", "dbf --dm-size 32x32", 0, "264 caractères. La plupart des lecteurs dBase"},
    {"shorter code field", "dbf --dm-size 26x26", 0, "!Attention"},
    {"generate, long code field", "gen --dm-size 32x32", 0, "264 caractères|300 enregistrements"},
    // The window's parameter sets: keywords exact, options win whatever side they stand on.
    {"preset QR", "dbf -p QR", 0, "(W) : 21"},
    {"preset default", "dbf --preset default", 0, "(W) : 48"},
    {"preset Par Défaut", "dbf --preset=Par~Défaut", 0, "(W) : 48"},
    {"preset Default", "dbf -p Default", 0, "(W) : 20"},
    {"preset DEFAULT", "dbf -p DEFAULT", 2, "Jeux enregistrés : Default, QR (ou default)"},
    {"option before preset", "preview @/clients.dbf --symbology dm -p QR -f CODE", 0, "(W) : 36"},
    {"no preset: not the stored default", "dbf", 0, "(W) : 36"},
    {"source as destination", "generate @/clients.dbf -f CODE -o @/clients.dbf", 1, "différent du fichier source"},
    {"memo as destination", "generate @/clients.dbf -f CODE -o @/clients.dbt", 1, "différent du fichier mémo"},
    {"text form's name a folder", "gen --txt -o @/r.dbf", 1, "r.txt » n'est pas un fichier ordinaire"},
    {"new field named as a field", "gen --new-field nom -o @/r.dbf", 1, "a déjà un champ nommé « nom »"},
    {"file-size limit", "--fsize=20000 generate @/clients.dbf -o @/r.dbf -f CODE", 1,
     "Erreur d'écriture du fichier mémo de la base encodée.\nAucun fichier n'a été écrit."},
};

void TestCli::commands_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("texts");
    const QMap<QString, QString> shorthands{{"gen", "generate @/clients.dbf -o @/x.dbf -f CODE"},
                                            {"dbf", "preview @/clients.dbf -f CODE"},
                                            {"txt", "preview @/adresses.txt -r 1:10"}};
    for (const CommandCase& c : kCommands) {
        QString line = QString::fromUtf8(c.arguments);
        const QString first = line.section(QLatin1Char(' '), 0, 0);
        line.replace(0, first.size(), shorthands.value(first, first));
        QTest::newRow(c.tag) << line.split(' ', Qt::SkipEmptyParts).replaceInStrings("~", " ") << c.exitCode
                             << QString::fromUtf8(c.texts).replace('@', dir_.path()).split('|');
    }
}

void TestCli::commands()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QStringList, texts);
    QVERIFY(writeFile(path("r.dbf"), "earlier encoded base"));
    const QMap<QString, QByteArray> before = contents(dir_.path());
    const ProcessResult r = run(arguments);
    const QString all = r.out + r.err;
    QVERIFY2(r.exitCode == exitCode, qPrintable(all));
    QCOMPARE(r.err.contains(QStringLiteral("Voir codiflux-cli --help.")), exitCode == 2);
    QVERIFY2(exitCode == 0 || r.out.isEmpty(), qPrintable(r.out));
    QVERIFY2(!r.err.startsWith(QLatin1Char('\n')) && !r.err.contains(QLatin1Char('\r')), "a bar with no terminal");
    for (const QString& text : texts) {
        const bool absent = text.startsWith(QLatin1Char('!'));
        QVERIFY2(all.contains(absent ? text.mid(1) : text) != absent, qPrintable(text + QLatin1String(": ") + all));
    }
    // A refused or failed command leaves every file as it was, and no other.
    if (exitCode != 0)
        QCOMPARE(contents(dir_.path()), before);
    for (const char* name : {"x.dbf", "x.dbt", "codes.ast"})
        QFile::remove(path(QLatin1String(name)));
}

// The help names every option of the table, those the usage lines name included.
void TestCli::helpNamesEveryOption()
{
    const QString help = helpText();
    for (const OptionEntry& option : optionTable())
        QVERIFY2(help.contains(QRegularExpression(QStringLiteral("--%1\\b(?!-)").arg(QLatin1String(option.name)))),
                 option.name);
}

// A line feed ends the bands by name or escape, any other text by its first
// character. A stored set shows as the window's controls show it: spin boxes
// clamped, combo values no entry carries read 0.
void TestCli::optionValues()
{
    QSettings settings(path(QStringLiteral("none.ini")), QSettings::IniFormat);
    for (const auto& [text, stored] : {std::pair{"LF", '\n'}, std::pair{"\\n", '\n'}, std::pair{"l", 'l'}}) {
        const ParseResult r = parseArguments({"preview", "b.dbf", "--eol-char", text}, settings);
        QCOMPARE(r.options.parameters.fontText.endOfLineCharacter, stored);
    }
    ParameterSet stored, shown;
    auto set = [](ParameterSet& s, std::array<int, 8> v) {
        EncodingParameters& p = s.encoding;
        std::tie(p.moduleSize, p.marginSize, p.qrVersion, p.scheme, p.qrLevel, p.qrMode, p.qrCaseSensitive,
                 p.sizeRequest)
            = std::tuple_cat(v);
    };
    set(stored, {150, -1, 100, 7, 4, 4, 2, 32});
    set(shown, {99, 0, 99, 0, 0, 0, 0, 0});
    QCOMPARE(asWindowControls(stored), shown);
    set(stored, {1, 99, 0, -1, 3, 3, 1, -3});  // the edges of the ranges and lists stay
    QCOMPARE(asWindowControls(stored), stored);
}

// The code text the preview shows is the one written for the same record,
// and every code of the base is read back, then read by a peer.
void TestCli::previewIsTheGeneratedCode()
{
    const QStringList options{"--field", "NOM", "--no-eol", "--invert-h", "--invert-bits", "--dm-size", "16x36"};
    const ProcessResult preview = run(QStringList{"preview", "@/clients.dbf"} + options);
    QCOMPARE(preview.exitCode, 0);
    const QStringList lines = preview.out.section(QStringLiteral("Texte du code :\n"), 1).split(QLatin1Char('\n'));
    const ProcessResult made = run(QStringList{"generate", "@/clients.dbf", "-o", "@/n.dbf", "--verify"} + options);
    QVERIFY2(made.exitCode == 0 && made.out.contains(QStringLiteral("tous les codes relus")), qPrintable(made.err));
    QProcess python;
    python.start(QStringLiteral(CODIFLUX_PYTHON),
                 {"-c",
                  "import sys, dbfread\n"
                  "rows = list(dbfread.DBF(sys.argv[1], encoding='latin1'))\n"
                  "print(len(rows), list(rows[0])[-1], rows[0]['_NOM'])\n",
                  path("n.dbf")});
    QVERIFY(python.waitForFinished(60000));
    const QStringList read = QString::fromUtf8(python.readAllStandardOutput()).trimmed().split(QLatin1Char(' '));
    QCOMPARE(read.mid(0, 2), QStringList({"299", "_NOM"}));
    QCOMPARE(read.value(2), lines.mid(0, lines.indexOf(QString())).join(QString()));

    // On a terminal: two rows of cells per line, inside a light quiet zone.
    PreviewResult column;
    std::tie(column.width, column.height, column.dark) = std::tuple(1, 2, std::vector<bool>{false, true});
    QCOMPARE(drawSymbol(column, 1), QStringLiteral("   \n \u2580 \n"));
}

void TestCli::sameBytesForEveryJobCount_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QByteArray>("bytes");  // written to `source` when not empty
    QTest::addColumn<QString>("options");
    QTest::addColumn<QString>("error");  // empty: the run succeeds
    const QString qr = QStringLiteral("-f CODE --symbology qr --qr-mode alphanumeric --qr-version 2");
    QList<QList<QByteArray>> numbers;
    for (int i = 1; i <= 700; ++i)
        numbers.append({i == 433 ? "12a45" : i % 37 == 0 ? "" : QByteArray::number(1000000 + i * 7)});
    QTest::newRow("DBF, memo, text form") << "clients.dbf" << QByteArray() << "-f NOTES --dm-size 18x18 --txt"
                                          << "";
    QTest::newRow("text, QR") << "adresses.txt" << QByteArray() << "-r 3:8 --symbology qr"
                              << "";
    QTest::newRow("CSV") << "clients.csv" << QByteArray() << "-f NOM --no-eol"
                         << "";
    QTest::newRow("refused value") << "numeric.dbf" << codeTable(numbers) << qr + " --txt"
                                   << "Erreur en cours d'encodage à l'enregistrement 433 valeur à encoder:\n12a45     ";
    QTest::newRow("refused value, CSV") << "numeric.csv"
                                        << QByteArray("CODE\n" + QByteArray("123\n").repeated(432) + "12a45\n123\n")
                                        << qr
                                        << "Erreur en cours d'encodage à l'enregistrement 433 valeur à encoder:\n12a45";
}

void TestCli::sameBytesForEveryJobCount()
{
    QFETCH(QString, source);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, options);
    QFETCH(QString, error);
    QVERIFY(bytes.isEmpty() || writeFile(path(source), bytes));
    const QString out = path(QStringLiteral("keep") + source.right(4));
    const GenerationJob job = jobFor(QStringLiteral("generate @/%1 -o %2 ").arg(source, out) + options);
    QByteArray expected;
    for (int jobs : {1, 2, 4}) {
        for (int batch : {1, 7, 256}) {
            QVERIFY(writeFile(out, "ancienne base"));
            QFile::remove(path("keep.txt"));
            RunControl control;
            std::tie(control.jobs, control.batch, control.verify) = std::tuple(jobs, batch, jobs == 2);
            QCOMPARE(generate(job, control).text, error);
            const QByteArray written = readFile(out) + readFile(path("keep.txt")) + readFile(path("keep.dbt"));
            expected = expected.isEmpty() ? written : expected;
            QCOMPARE(written, expected);
        }
    }
    QCOMPARE(expected.startsWith("ancienne base"), !error.isEmpty());
    QVERIFY(!entries(dir_.path()).join(' ').contains(QStringLiteral(".tmp")));
}

// A code that does not read back as its value fails the run and writes nothing:
// blanked with one job, record 1's code with three.
void TestCli::verifyCatchesACorruptedCode()
{
    const GenerationJob job = jobFor(QStringLiteral("generate @/clients.dbf -o @/corrupt.dbf -f CODE --txt"));
    const QString head = QStringLiteral("Vérification : le code de l'enregistrement n°123 ");
    const QString value = QStringLiteral("\nValeur à encoder : « CF20285143    »");
    for (const int jobs : {1, 3}) {
        const bool swap = jobs == 3;
        QByteArray first;
        RunControl control;
        std::tie(control.jobs, control.batch) = std::tuple(jobs, 8);
        control.tamper = [&](qint64 record, char* code, int length) {
            if (record == 1 && first.isEmpty())
                first = QByteArray(code, length);
            for (int i = 0; (record == 123 || record == 200) && i < length; ++i)
                code[i] = swap ? first.at(i) : code[i] >= 'A' && code[i] <= 'P' ? 'P' : code[i];
        };
        QVERIFY(!generate(job, control));  // without the check the corruption reaches the file
        const QMap<QString, QByteArray> before = contents(dir_.path());
        control.verify = true;
        const Error error = generate(job, control);
        QCOMPARE(error.code, ErrorCode::VerifyFailed);
        QCOMPARE(error.text,
                 swap ? head + "ne redonne pas sa valeur." + value + "\nValeur relue : « CF20240000    »"
                      : head + "ne se relit pas." + value);
        QCOMPARE(contents(dir_.path()), before);
    }
}

// A CSV row that fails after the first pass (its last row grows a field, beyond
// what the reader holds when the first record is coded) fails the run with the
// reader's text, not as a file that got shorter.
void TestCli::csvReadFailingInTheRecordPass()
{
    const QByteArray row = "A1;" + QByteArray(2000, 'x');
    QVERIFY(writeFile(path("grows.csv"), "CODE;X\n" + (row + '\n').repeated(700) + row));
    const GenerationJob job = jobFor(QStringLiteral("generate @/grows.csv -o @/grows-out.csv -f CODE"));
    RunControl control;
    std::tie(control.jobs, control.batch) = std::tuple(2, 1);
    control.tamper = [&](qint64 record, char*, int) {
        QFile file(path("grows.csv"));
        if (record == 1 && file.open(QIODevice::Append))
            file.write(";y");
    };
    QCOMPARE(generate(job, control).text, QStringLiteral("Ligne 702 : 3 champ(s) au lieu des 2 de l'en-tête."));
    QVERIFY(!QFile::exists(path("grows-out.csv")));
}

void TestCli::interruptLeavesNoPartialFile()
{
    const QString folder = path(QStringLiteral("interrupt"));
    QVERIFY(QDir().mkpath(folder));
    QList<QList<QByteArray>> records;
    for (int i = 0; i < 400000; ++i)  // tens of seconds with libdmtx: the signal comes long before the end
        records.append({"REF" + QByteArray::number(i)});
    QVERIFY(writeFile(folder + QStringLiteral("/grande.dbf"), codeTable(records)));
    for (const QString jobs : {"1", "2"}) {
        QVERIFY(writeFile(folder + QStringLiteral("/sortie.dbf"), "la bonne base d'hier"));
        const QMap<QString, QByteArray> before = contents(folder);
        QProcess process;
        process.start(
            QStringLiteral(CODIFLUX_CLI_EXE),
            {"generate", folder + "/grande.dbf", "-o", folder + "/sortie.dbf", "-f", "CODE", "--txt", "--jobs", jobs,
             "--dm-engine", "libdmtx"});
        // Wait until the run writes its temporaries, that is, until the record loop runs.
        QElapsedTimer clock;
        clock.start();
        while (!entries(folder).join(' ').contains(QStringLiteral(".tmp")) && clock.elapsed() < 60000
               && process.state() != QProcess::NotRunning)
            QThread::msleep(5);
        QVERIFY2(entries(folder).join(' ').contains(QStringLiteral(".tmp")), "the run never started writing");
        QThread::msleep(100);
        QCOMPARE(::kill(pid_t(process.processId()), SIGINT), 0);
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 1);
        QCOMPARE(QString::fromUtf8(process.readAllStandardError()),
                 QStringLiteral("Fabrication de la base encodée annulée.\nAucun fichier n'a été écrit.\n"));
        QCOMPARE(contents(folder), before);
    }
}

// Interrupted, a program that does not stop within the delay has its run given up and is stopped.
void TestCli::interruptGuardGivesTheRunUp()
{
    for (const bool answers : {true, false}) {  // the program reaches its end within the delay
        const QString folder = path(QStringLiteral("guard-%1").arg(answers));
        QVERIFY(QDir().mkpath(folder));
        OutputFiles files;
        files.plan(folder + QStringLiteral("/o.dbf"), folder + QStringLiteral("/o.txt"));
        OutputWriter writer(files);
        QVERIFY(!writer.open(QByteArray(33, ' ')));
        const auto temporaries = [&folder] { return entries(folder).filter(QRegularExpression("(?<!\\.lock)$")); };
        QCOMPARE(temporaries().size(), 2);
        RunAbandon abandon;
        abandon.attach(&files);
        std::atomic<bool> interrupted{false}, stopped{false};
        QElapsedTimer clock;
        {
            InterruptGuard guard(interrupted, abandon, std::chrono::milliseconds(300), [&] { stopped = true; });
            QThread::msleep(100);
            QVERIFY(!stopped);  // nothing before the interrupt
            clock.start();
            interrupted = true;
            if (answers)
                guard.finish();
            while (!stopped && clock.elapsed() < 3000)
                QThread::msleep(5);
        }
        abandon.detach();
        QCOMPARE(bool(stopped), !answers);
        QCOMPARE(temporaries().size(), answers ? 2 : 0);
        QVERIFY(answers || clock.elapsed() >= 300);
        QVERIFY(answers || writer.commit());  // a run given up moves nothing into place
    }
}

// Under a French locale a number keeps its full stop: QR's alphanumeric mode takes it.
void TestCli::sameOutputUnderAFrenchLocale()
{
    QTemporaryDir locales;
    const QString failure = testsupport::makeFrenchLocale(locales.path());
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    const QList<QPair<QString, QString>> french{{"LOCPATH", locales.path()},
                                                {"LANG", QString::fromLatin1(testsupport::frenchLocaleName())},
                                                {"LC_ALL", QString()},
                                                {"LC_NUMERIC", QString()}};
    const QStringList options{"--field", "SOLDE", "--symbology", "qr", "--qr-mode", "alphanumeric"};
    const ProcessResult r = run(QStringList{"preview", "@/clients.dbf"} + options, french);
    QVERIFY2(r.out.contains(QStringLiteral("Valeur : « 5703.56 ")), qPrintable(r.out + r.err));
    QCOMPARE(run(QStringList{"generate", "@/clients.dbf", "-o", "@/fr.dbf"} + options, french).exitCode, 0);
    QCOMPARE(run(QStringList{"generate", "@/clients.dbf", "-o", "@/c.dbf"} + options).exitCode, 0);
    QCOMPARE(readFile(path("fr.dbf")), readFile(path("c.dbf")));
}

QTEST_GUILESS_MAIN(TestCli)
#include "test_cli.moc"
