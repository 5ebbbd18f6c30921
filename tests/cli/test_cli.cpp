// codiflux-cli: arguments and help, parameter sets read from the settings
// file, the job it builds from a base, byte equality with BaseEncoder's run
// and between job counts (failures included), the scan check of every code,
// the preview, and an interrupted run that leaves nothing behind.

#include "app/cli/cli.h"

#include "bases/dbf.h"
#include "codes/encoding.h"
#include "codes/fonttext.h"
#include "codes/verify.h"
#include "generation/baseencoder.h"
#include "generation/generationcore.h"
#include "tests/support/dbf_builder.h"
#include "tests/support/files.h"
#include "tests/support/locale.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <csignal>
#include <cstring>

#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>

// An address-space limit leaves no room for the sanitizer's shadow memory.
#if defined(__SANITIZE_ADDRESS__)
#define CODIFLUX_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define CODIFLUX_ADDRESS_SANITIZER 1
#endif
#endif

using namespace codiflux;
using namespace codiflux::cli;

Q_DECLARE_METATYPE(testsupport::DbfField)
Q_DECLARE_METATYPE(testsupport::DbfLayout)

namespace {

const QString kExamples = QStringLiteral(CODIFLUX_SOURCE_DIR "/examples");

using FieldDef = testsupport::DbfField;
using testsupport::readFile;
using testsupport::writeFile;

// A dBase III table of 'C' fields; `declared` overrides the record count of the header.
QByteArray makeDbf(const QList<FieldDef>& fields, const QList<QList<QByteArray>>& records, qint64 declared = -1)
{
    return testsupport::dbfBytes(fields, records, {.month = 3, .day = 9, .declaredCount = declared});
}

QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

// Arguments to a job, as the command does it (no settings involved).
GenerationJob jobFor(const QStringList& arguments, qint64* sample = nullptr)
{
    QTemporaryDir settingsDir;
    QSettings settings(settingsDir.filePath(QStringLiteral("none.ini")), QSettings::IniFormat);
    const ParseResult parsed = parseArguments(arguments, settings);
    if (parsed.exitCode != -1) {
        qWarning() << "arguments refused:" << parsed.message;
        return {};
    }
    GenerationJob job;
    QString error;
    if (buildJob(parsed.options, job, sample, &error) != ExitSuccess)
        qWarning() << "job refused:" << error;
    return job;
}

struct Outcome {
    bool ok = false;
    QString error;
};

Outcome runBaseEncoder(const GenerationJob& job)
{
    Outcome outcome;
    BaseEncoder encoder(job, &outcome.error, 0);
    encoder.start();
    encoder.wait();
    outcome.ok = encoder.getResultat();
    return outcome;
}

Outcome runCli(const GenerationJob& job, int jobs, int batch = 256, bool verify = false,
               std::function<void(qint64, char*, int)> tamper = {})
{
    RunControl control;
    control.jobs = jobs;
    control.batch = batch;
    control.verify = verify;
    control.tamper = std::move(tamper);
    Outcome outcome;
    outcome.ok = generate(job, control, &outcome.error);
    return outcome;
}

struct ProcessResult {
    int exitCode = -1;
    QString out;
    QString err;
};

QProcessEnvironment environmentWithSettings(const QString& configHome)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
    return env;
}

ProcessResult runProcess(const QStringList& arguments, const QString& configHome, const QString& workingDir = {},
                         const QList<QPair<QString, QString>>& variables = {})
{
    QProcess process;
    QProcessEnvironment env = environmentWithSettings(configHome);
    for (const auto& [name, value] : variables)
        env.insert(name, value);
    process.setProcessEnvironment(env);
    if (!workingDir.isEmpty())
        process.setWorkingDirectory(workingDir);
    process.start(QStringLiteral(CODIFLUX_CLI_EXE), arguments);
    ProcessResult r;
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished();
        return r;
    }
    r.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    r.out = QString::fromUtf8(process.readAllStandardOutput());
    r.err = QString::fromUtf8(process.readAllStandardError());
    return r;
}

// A base of `count` records whose CODE holds digits; record `letterAt` (1-based,
// 0 for none) holds a lower-case letter, which QR's alphanumeric mode refuses.
QByteArray numericBase(int count, int letterAt = 0, qint64 declared = -1)
{
    QList<QList<QByteArray>> records;
    records.reserve(count);
    for (int i = 1; i <= count; ++i) {
        QByteArray code = QByteArray::number(1000000 + i * 7);
        if (i == letterAt)
            code = "12a45";
        if (i % 37 == 0)
            code = "";  // blank values in between
        records.append({code, "Nom " + QByteArray::number(i)});
    }
    return makeDbf({{"CODE", 'C', 10}, {"NOM", 'C', 12}}, records, declared);
}

}  // namespace

class TestCli : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();

    void argumentErrors_data();
    void argumentErrors();
    void helpAndUsageFromTheExecutable();
    void versionAndFontFromTheExecutable();
    void optionValues();
    void defaultsWithoutPreset();

    void presetFromSettings();
    void presetOverriddenByOptions();
    void presetInTheExecutable();

    void jobFromDbf();
    void jobFromText();

    void sameBytesAsBaseEncoder_data();
    void sameBytesAsBaseEncoder();
    void executableWritesTheSameBytes();
    void failuresAreTheSameForEveryJobCount_data();
    void failuresAreTheSameForEveryJobCount();

    void verifyPassesOnGoodCodes_data();
    void verifyPassesOnGoodCodes();
    void verifyCatchesACorruptedCode_data();
    void verifyCatchesACorruptedCode();

    void previewOfTheSample();
    void previewFromTheExecutable();

    void longCodeFieldWarning();
    void csvSameBytesForEveryJobCount_data();
    void csvSameBytesForEveryJobCount();
    void csvBadInputFromTheExecutable_data();
    void csvBadInputFromTheExecutable();

    void interruptLeavesNoPartialFile_data();
    void interruptLeavesNoPartialFile();

    void tablesReadAsTheEngineReadsThem_data();
    void tablesReadAsTheEngineReadsThem();
    void lyingHeadersEndPromptly_data();
    void lyingHeadersEndPromptly();
    void everyPhaseStopsWhenCancelled_data();
    void everyPhaseStopsWhenCancelled();
    void interruptGuardGivesTheRunUp_data();
    void interruptGuardGivesTheRunUp();
    void resourceLimitsGiveAMessage_data();
    void resourceLimitsGiveAMessage();
    void refusalsTouchNothing_data();
    void refusalsTouchNothing();
    void sameOutputUnderAFrenchLocale();

private:
    QTemporaryDir dir;
    QString path(const QString& name) const { return dir.filePath(name); }
};

void TestCli::initTestCase()
{
    QVERIFY(dir.isValid());
    QVERIFY2(QFile::exists(kExamples + QStringLiteral("/clients.dbf")), "examples/clients.dbf is missing");
    QVERIFY(QFile::copy(kExamples + QStringLiteral("/clients.dbf"), path(QStringLiteral("clients.dbf"))));
    QVERIFY(QFile::copy(kExamples + QStringLiteral("/clients.dbt"), path(QStringLiteral("clients.dbt"))));
    QVERIFY(QFile::copy(kExamples + QStringLiteral("/adresses.txt"), path(QStringLiteral("adresses.txt"))));
    QVERIFY(QFile::copy(kExamples + QStringLiteral("/clients.csv"), path(QStringLiteral("clients.csv"))));
}

void TestCli::argumentErrors_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");

    const QString src = QStringLiteral("base.dbf");
    QTest::newRow("nothing") << QStringList() << 2 << "Commande manquante";
    QTest::newRow("unknown command") << QStringList{"frobnicate", src} << 2 << "Commande inconnue";
    QTest::newRow("no source") << QStringList{"generate", "-o", "x.dbf"} << 2 << "Base d'origine manquante";
    QTest::newRow("no destination") << QStringList{"generate", src} << 2 << "Base encodée manquante";
    QTest::newRow("two sources") << QStringList{"generate", src, "other.dbf", "-o", "x.dbf"} << 2 << "en trop";
    QTest::newRow("missing value") << QStringList{"generate", src, "-o"} << 2 << "attend une valeur";
    QTest::newRow("unknown option") << QStringList{"generate", src, "-o", "x", "--vitesse"} << 2
                                    << "Option inconnue : --vitesse";
    QTest::newRow("flag with value") << QStringList{"generate", src, "-o", "x", "--txt=oui"} << 2
                                     << "ne prend pas de valeur";
    QTest::newRow("module 0") << QStringList{"generate", src, "-o", "x", "--module", "0"} << 2
                              << "Valeur invalide pour --module";
    QTest::newRow("margin text") << QStringList{"generate", src, "-o", "x", "--margin=abc"} << 2
                                 << "Valeur invalide pour --margin";
    QTest::newRow("size unknown") << QStringList{"generate", src, "-o", "x", "--dm-size", "13x13"} << 2
                                  << "Valeurs admises";
    QTest::newRow("scheme unknown") << QStringList{"generate", src, "-o", "x", "--dm-scheme", "morse"} << 2
                                    << "--dm-scheme";
    QTest::newRow("level unknown") << QStringList{"generate", src, "-o", "x", "--qr-level", "X"} << 2 << "--qr-level";
    QTest::newRow("symbology") << QStringList{"generate", src, "-o", "x", "--symbology", "pdf417"} << 2
                               << "--symbology";
    QTest::newRow("jobs 0") << QStringList{"generate", src, "-o", "x", "-j", "0"} << 2 << "--jobs";
    QTest::newRow("range no colon") << QStringList{"generate", "a.txt", "-o", "x", "--range", "3"} << 2 << "--range";
    QTest::newRow("range zero") << QStringList{"generate", "a.txt", "-o", "x", "--range", "0:4"} << 2 << "--range";
    QTest::newRow("sample 0") << QStringList{"generate", src, "-o", "x", "--sample", "0"} << 2 << "--sample";
    QTest::newRow("blank kind") << QStringList{"generate", src, "-o", "x", "--blank", "rien"} << 2 << "--blank";
    QTest::newRow("field and range") << QStringList{"generate", src, "-o", "x", "--field", "A", "--range", "1:2"} << 2
                                     << "s'excluent";
    QTest::newRow("verify in preview") << QStringList{"preview", src, "--verify"} << 2 << "qu'à generate";
    QTest::newRow("draw in generate") << QStringList{"generate", src, "-o", "x", "--draw"} << 2 << "qu'à preview";
    QTest::newRow("empty field name") << QStringList{"generate", src, "-o", "x", "--new-field", " X"} << 2
                                      << "nom du champ encodé";
    QTest::newRow("unknown preset") << QStringList{"generate", src, "-o", "x", "--preset", "Etiquettes"} << 2
                                    << "Jeu de paramètres inconnu";
    QTest::newRow("font without action") << QStringList{"font"} << 2 << "--install ou --uninstall";
    QTest::newRow("font, both actions") << QStringList{"font", "--install", "--uninstall"} << 2 << "--uninstall";
    QTest::newRow("help") << QStringList{"--help"} << 0 << "Usage";
    QTest::newRow("help after a command") << QStringList{"generate", src, "--module", "0", "-h"} << 0 << "--verify";
}

void TestCli::argumentErrors()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    QSettings settings(path(QStringLiteral("empty.ini")), QSettings::IniFormat);
    const ParseResult r = parseArguments(arguments, settings);
    QCOMPARE(r.exitCode, exitCode);
    QVERIFY2(r.message.contains(message), qPrintable(r.message));
}

void TestCli::helpAndUsageFromTheExecutable()
{
    const QString config = path(QStringLiteral("config-none"));
    ProcessResult help = runProcess({QStringLiteral("--help")}, config);
    QCOMPARE(help.exitCode, 0);
    QVERIFY(help.out.contains(QStringLiteral("codiflux-cli generate SOURCE -o DESTINATION")));
    QVERIFY(help.out.contains(QStringLiteral("Codes de sortie : 0 succès, 1 échec de la fabrication, 2 erreur")));
    QVERIFY(help.err.isEmpty());

    ProcessResult none = runProcess({}, config);
    QCOMPARE(none.exitCode, 2);
    QVERIFY(none.out.isEmpty());
    QVERIFY(none.err.contains(QStringLiteral("Commande manquante")));

    // A missing source, an unknown field: usage errors naming what is there.
    ProcessResult missing
        = runProcess({"generate", path("absente.dbf"), "-o", path("x.dbf"), "--field", "CODE"}, config);
    QCOMPARE(missing.exitCode, 2);
    QVERIFY(missing.err.contains(QStringLiteral("n'existe pas")));
    ProcessResult field = runProcess({"generate", path("clients.dbf"), "-o", path("x.dbf"), "--field", "PRIX"}, config);
    QCOMPARE(field.exitCode, 2);
    QVERIFY2(field.err.contains(QStringLiteral("Champ inconnu : « PRIX »")) && field.err.contains("CODE, NOM"),
             qPrintable(field.err));
    ProcessResult noField = runProcess({"generate", path("clients.dbf"), "-o", path("x.dbf")}, config);
    QCOMPARE(noField.exitCode, 2);
    QVERIFY(noField.err.contains(QStringLiteral("--field")));
    QVERIFY(!QFile::exists(path("x.dbf")));
}

void TestCli::versionAndFontFromTheExecutable()
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_DATA_HOME"), path(QStringLiteral("data")));
    env.insert(QStringLiteral("PATH"), path(QStringLiteral("no-tools")));  // no fc-cache
    process.setProcessEnvironment(env);
    auto run = [&process](const QStringList& arguments) {
        process.start(QStringLiteral(CODIFLUX_CLI_EXE), arguments);
        return process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    };
    QCOMPARE(run({QStringLiteral("--version")}), 0);
    QVERIFY(QRegularExpression(QStringLiteral("^codiflux-cli \\d+\\.\\d+\\.\\d+\n$"))
                .match(QString::fromUtf8(process.readAllStandardOutput()))
                .hasMatch());

    const QString copy = path(QStringLiteral("data/fonts/Quadrex.ttf"));
    QCOMPARE(run({QStringLiteral("font"), QStringLiteral("--install")}), 0);
    QVERIFY(QString::fromUtf8(process.readAllStandardOutput()).contains(copy));
    QCOMPARE(readFile(copy), readFile(QFileInfo(QStringLiteral(CODIFLUX_CLI_EXE)).path() + "/RES/Quadrex.ttf"));
    QCOMPARE(run({QStringLiteral("font"), QStringLiteral("--uninstall")}), 0);
    QVERIFY(QString::fromUtf8(process.readAllStandardOutput()).contains(path(QStringLiteral("data/fonts"))));
    QVERIFY(!QFile::exists(copy));
}

void TestCli::optionValues()
{
    QSettings settings(path(QStringLiteral("empty.ini")), QSettings::IniFormat);
    const ParseResult r = parseArguments({"generate",
                                          "b.dbf",
                                          "-o",
                                          "c.dbf",
                                          "--symbology",
                                          "QR",
                                          "--module=3",
                                          "--margin",
                                          "2",
                                          "--dm-size",
                                          "Automatique (carré)",
                                          "--dm-scheme",
                                          "c40",
                                          "--qr-version",
                                          "7",
                                          "--qr-level",
                                          "H",
                                          "--qr-mode",
                                          "8-bit data",
                                          "--qr-case",
                                          "insensible",
                                          "--no-eol",
                                          "--eol-char",
                                          "/",
                                          "--invert-h",
                                          "--invert-v",
                                          "--no-invert-bits",
                                          "--no-invert-pixels",
                                          "--blank",
                                          "spaces",
                                          "--trim-left",
                                          "--new-field",
                                          "DM",
                                          "--txt",
                                          "--verify",
                                          "-j",
                                          "3",
                                          "--sample",
                                          "12",
                                          "--field",
                                          "CODE"},
                                         settings);
    QCOMPARE(r.exitCode, -1);
    const Options& o = r.options;
    QCOMPARE(o.command, Command::Generate);
    QCOMPARE(o.source, QStringLiteral("b.dbf"));
    QCOMPARE(o.output, QStringLiteral("c.dbf"));
    QCOMPARE(o.field, QStringLiteral("CODE"));
    ParameterSet expected;
    expected.typeEncodage = 1;
    expected.tailleModule = 3;
    expected.tailleMarge = 2;
    expected.tailleDatamatrix = -2;
    expected.modeEncodage = 1;
    expected.qrVersion = 7;
    expected.qrECLevel = 3;
    expected.qrModeEncodage = 2;
    expected.qrCasse = 0;
    expected.finLigne = false;
    expected.finLigneCaractere = QStringLiteral("/");
    expected.inversionHorizontale = true;
    expected.inversionVerticale = true;
    expected.inversionBits = false;
    expected.inversionPixels = false;
    expected.genererCodeVide = false;
    expected.supprimerEspacesGauche = true;
    QCOMPARE(o.parameters, expected);
    QCOMPARE(o.newFieldName, QStringLiteral("DM"));
    QVERIFY(o.writeText);
    QVERIFY(o.verify);
    QCOMPARE(o.jobs, 3);
    QCOMPARE(o.sampleRecord, qint64(12));

    // A line feed ends the bands by name or escape; any other text keeps its first character.
    for (const auto& [text, stored] :
         {std::pair{"lf", "\n"}, std::pair{"LF", "\n"}, std::pair{"\\n", "\n"}, std::pair{"l", "l"}}) {
        const ParseResult e = parseArguments({"preview", "b.dbf", "--eol-char", QString::fromLatin1(text)}, settings);
        QCOMPARE(e.exitCode, -1);
        QCOMPARE(e.options.parameters.finLigneCaractere, QString::fromLatin1(stored));
        QCOMPARE(e.options.parameters.fontTextOptions().endOfLineCharacter, stored[0]);
    }

    // Sizes by their list text and by the two automatic names.
    for (const auto& [text, value] : {std::pair{"12x36", 27}, std::pair{"144x144", 23}, std::pair{"8x18", 24},
                                      std::pair{"auto-rect", -3}, std::pair{"auto-square", -2}}) {
        const ParseResult s = parseArguments({"preview", "b.dbf", "--dm-size", QString::fromLatin1(text)}, settings);
        QCOMPARE(s.exitCode, -1);
        QCOMPARE(s.options.parameters.tailleDatamatrix, value);
    }
}

void TestCli::defaultsWithoutPreset()
{
    QSettings settings(path(QStringLiteral("empty.ini")), QSettings::IniFormat);
    const ParseResult r = parseArguments({"generate", "b.dbf", "-o", "c.dbf"}, settings);
    QCOMPARE(r.exitCode, -1);
    QCOMPARE(r.options.parameters, ParameterSet());
    QCOMPARE(r.options.jobs, std::max(1, QThread::idealThreadCount()));
    QVERIFY(!r.options.verify);
    QVERIFY(!r.options.writeText);
}

void TestCli::presetFromSettings()
{
    const QString file = path(QStringLiteral("presets.ini"));
    QSettings settings(file, QSettings::IniFormat);
    ParameterSet byDefault;
    byDefault.tailleModule = 2;
    byDefault.tailleDatamatrix = 5;  // 20x20
    byDefault.finLigneCaractere = QStringLiteral("|");
    openParameterSet(settings);
    writeParameterSet(settings, byDefault);
    closeAllGroups(settings);
    ParameterSet qr;
    qr.typeEncodage = 1;
    qr.qrECLevel = 2;
    qr.qrModeEncodage = 2;
    qr.inversionBits = false;
    openParameterSet(settings, QStringLiteral("Etiquettes QR"));
    writeParameterSet(settings, qr);
    closeAllGroups(settings);
    // An old set: no "Version", size code 5 is 14x14 (2), scheme code 7 is
    // the fast automatic scheme, which the window's list does not carry.
    settings.setValue(QStringLiteral("Format/Ancien/TailleDatamatrix"), 5);
    settings.setValue(QStringLiteral("Format/Ancien/ModeEncodage"), 7);
    settings.setValue(QStringLiteral("Format/Ancien/TailleModule"), 150);
    // A set named like the keyword in other letters: the keyword is exact.
    ParameterSet named;
    named.tailleModule = 3;
    openParameterSet(settings, QStringLiteral("Default"));
    writeParameterSet(settings, named);
    closeAllGroups(settings);
    settings.sync();

    ParseResult r;
    for (const char* keyword : {"default", "Par Défaut"}) {
        r = parseArguments({"preview", "b.dbf", "--preset", QString::fromUtf8(keyword)}, settings);
        QCOMPARE(r.exitCode, -1);
        QCOMPARE(r.options.parameters, byDefault);
    }
    r = parseArguments({"preview", "b.dbf", "--preset", "Default"}, settings);
    QCOMPARE(r.exitCode, -1);
    QCOMPARE(r.options.parameters, named);
    r = parseArguments({"preview", "b.dbf", "--preset", "DEFAULT"}, settings);
    QCOMPARE(r.exitCode, 2);
    r = parseArguments({"preview", "b.dbf", "--preset=Etiquettes QR"}, settings);
    QCOMPARE(r.exitCode, -1);
    QCOMPARE(r.options.parameters, qr);

    r = parseArguments({"preview", "b.dbf", "-p", "Ancien"}, settings);
    QCOMPARE(r.exitCode, -1);
    QCOMPARE(r.options.parameters.tailleDatamatrix, 2);
    QCOMPARE(r.options.parameters.modeEncodage, 0);   // no entry: the combo box reads 0 (Ascii)
    QCOMPARE(r.options.parameters.tailleModule, 99);  // the spin box's maximum

    r = parseArguments({"preview", "b.dbf", "--preset", "Inconnu"}, settings);
    QCOMPARE(r.exitCode, 2);
    QVERIFY2(r.message.contains(QStringLiteral("Ancien, Default, Etiquettes QR")), qPrintable(r.message));
}

void TestCli::presetOverriddenByOptions()
{
    QSettings settings(path(QStringLiteral("presets.ini")), QSettings::IniFormat);
    // Options win whatever side of --preset they stand on.
    const ParseResult r = parseArguments(
        {"preview", "b.dbf", "--qr-level", "Low", "--preset", "Etiquettes QR", "--invert-bits"}, settings);
    QCOMPARE(r.exitCode, -1);
    QCOMPARE(r.options.parameters.typeEncodage, 1);
    QCOMPARE(r.options.parameters.qrModeEncodage, 2);
    QCOMPARE(r.options.parameters.qrECLevel, 0);
    QVERIFY(r.options.parameters.inversionBits);
}

void TestCli::presetInTheExecutable()
{
    // The executable reads the window's settings file: $XDG_CONFIG_HOME/Codiflux.ini.
    const QString config = path(QStringLiteral("config"));
    QVERIFY(QDir().mkpath(config));
    {
        QSettings settings(config + QStringLiteral("/Codiflux.ini"), QSettings::IniFormat);
        ParameterSet qr;
        qr.typeEncodage = 1;
        qr.qrModeEncodage = 2;
        openParameterSet(settings, QStringLiteral("QR"));
        writeParameterSet(settings, qr);
        closeAllGroups(settings);
        ParameterSet wide;
        wide.tailleDatamatrix = 29;  // 16x48
        openParameterSet(settings);
        writeParameterSet(settings, wide);
    }
    ProcessResult r = runProcess({"preview", path("clients.dbf"), "--field", "CODE", "--preset", "QR"}, config);
    QCOMPARE(r.exitCode, 0);
    QVERIFY2(r.out.contains(QStringLiteral("(W) : 21\n")), qPrintable(r.out));  // a version 1 QR code
    QVERIFY(!r.out.contains(QChar(0x2588)));                                    // not a terminal: no drawing

    r = runProcess({"preview", path("clients.dbf"), "--field", "CODE", "--preset", "default"}, config);
    QCOMPARE(r.exitCode, 0);
    QVERIFY2(r.out.contains(QStringLiteral("(W) : 48\n")) && r.out.contains(QStringLiteral("(H) : 16\n")),
             qPrintable(r.out));

    // Without --preset the stored default set is not used.
    r = runProcess({"preview", path("clients.dbf"), "--field", "CODE"}, config);
    QCOMPARE(r.exitCode, 0);
    QVERIFY2(r.out.contains(QStringLiteral("(W) : 36\n")), qPrintable(r.out));

    r = runProcess({"preview", path("clients.dbf"), "--field", "CODE", "--preset", "Autre"}, config);
    QCOMPARE(r.exitCode, 2);
    QVERIFY(r.err.contains(QStringLiteral("Jeux enregistrés : QR")));
}

void TestCli::jobFromDbf()
{
    qint64 sample = 0;
    const GenerationJob job = jobFor({"generate", path("clients.dbf"), "-o", path("out.dbf"), "--field", "code",
                                      "--txt", "--dm-size", "auto-square"},
                                     &sample);
    QCOMPARE(job.typeSource, BaseKind::Dbf);
    QCOMPARE(job.fieldIndex, 0);
    QCOMPARE(job.newFieldName, QStringLiteral("_CODE"));
    QVERIFY(job.writeText);
    QCOMPARE(job.sample, QByteArray("CF20240000   "));  // padded to the field's 13 bytes
    QCOMPARE(sample, qint64(1));
    QCOMPARE(job.parameters.sizeRequest, -2);
    QCOMPARE(job.options, ParameterSet().fontTextOptions());
    QVERIFY(job.blankCodes);

    // --sample names the record; a blank one is kept (the run refuses it).
    GenerationJob other = jobFor({"generate", path("clients.dbf"), "-o", path("out.dbf"), "--field", "NOM", "--sample",
                                  "2", "--new-field", "NOM2D"});
    QCOMPARE(other.fieldIndex, 1);
    QCOMPARE(other.newFieldName, QStringLiteral("NOM2D"));
    QCOMPARE(other.sample.size(), 20);
    QVERIFY(other.sample.startsWith("FRAN"));  // converted from OEM, as the window lists it
    QCOMPARE(other.sample.at(4), char(0xC7));  // 'Ç'
    other = jobFor({"generate", path("clients.dbf"), "-o", path("out.dbf"), "--field", "CODE", "--sample", "18"});
    QCOMPARE(other.sample, QByteArray(13, ' '));
    const Outcome blank = runCli(other, 2);
    QVERIFY(!blank.ok);
    QVERIFY(blank.error.startsWith(QStringLiteral("Cet enregistrement est vide")));

    // A base whose first values are blank: the first non-blank one is the sample.
    QVERIFY(writeFile(path("late.dbf"), makeDbf({{"V", 'C', 6}}, {{""}, {"   "}, {"  ab"}, {"cd"}})));
    other = jobFor({"generate", path("late.dbf"), "-o", path("x.dbf"), "--field", "V"}, &sample);
    QCOMPARE(other.sample, QByteArray("ab    "));  // leading blanks removed, as the window lists it
    QCOMPARE(sample, qint64(3));
}

void TestCli::jobFromText()
{
    qint64 sample = 0;
    const GenerationJob job
        = jobFor({"generate", path("adresses.txt"), "-o", path("out.txt"), "--range", "3:8"}, &sample);
    QCOMPARE(job.typeSource, BaseKind::Text);
    QCOMPARE(job.rangeStart, 3);
    QCOMPARE(job.rangeCount, 8);
    QCOMPARE(job.sample, QByteArray("00100000"));
    QCOMPARE(sample, qint64(1));
    const GenerationJob second
        = jobFor({"generate", path("adresses.txt"), "-o", path("out.txt"), "--range", "3:8", "--sample", "2"});
    QCOMPARE(second.sample, QByteArray("00100013"));
}

void TestCli::sameBytesAsBaseEncoder_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("text");

    const QString clients = path("clients.dbf");
    const QString adresses = path("adresses.txt");
    QTest::newRow("dbf datamatrix defaults") << QStringList{"generate", clients, "--field", "CODE"} << false;
    QTest::newRow("dbf datamatrix auto, txt, eol /")
        << QStringList{"generate", clients,      "--field",  "NOM",        "--dm-size", "auto-square",
                       "--txt",    "--eol-char", "/",        "--invert-h", "--blank",   "spaces",
                       "--module", "2",          "--margin", "1"}
        << false;
    QTest::newRow("dbf qr 8-bit") << QStringList{"generate",     clients,     "--field",    "ADRESSE",    "--symbology",
                                                 "qr",           "--qr-mode", "8-bit data", "--qr-level", "Q",
                                                 "--qr-version", "4",         "--no-eol",   "--invert-v", "--txt"}
                                  << false;
    QTest::newRow("dbf memo as code, spaces removed, line feeds")
        << QStringList{"generate",    clients,        "--field",    "NOTES", "--dm-size", "18x18",
                       "--trim-left", "--trim-right", "--eol-char", "lf",    "--txt"}
        << false;
    QTest::newRow("text datamatrix") << QStringList{"generate", adresses, "--range", "1:10"} << true;
    QTest::newRow("text qr numeric") << QStringList{"generate",    adresses, "--range",           "3:8",
                                                    "--symbology", "qr",     "--no-invert-pixels"}
                                     << true;
}

void TestCli::sameBytesAsBaseEncoder()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, text);
    const QString suffix = text ? QStringLiteral(".txt") : QStringLiteral(".dbf");
    auto outputs = [&](const QString& name) {
        QStringList files{path(name + suffix)};
        if (!text)
            files << path(name + QStringLiteral(".txt")) << path(name + QStringLiteral(".dbt"));
        return files;
    };
    auto contents = [](const QStringList& files) {
        QList<QByteArray> all;
        for (const QString& f : files)
            all << (QFile::exists(f) ? readFile(f) : QByteArray("(absent)"));
        return all;
    };

    GenerationJob job = jobFor(QStringList(arguments) << "-o" << path("ref" + suffix));
    QVERIFY(job.typeSource != BaseKind::None);
    const Outcome reference = runBaseEncoder(job);
    QVERIFY2(reference.ok, qPrintable(reference.error));
    const QList<QByteArray> expected = contents(outputs(QStringLiteral("ref")));
    QVERIFY(expected.first().size() > 1000);

    struct Variant {
        const char* name;
        int jobs;
        int batch;
        bool verify;
    };
    for (const Variant& v : {Variant{"j1", 1, 256, false}, Variant{"j4", 4, 256, false}, Variant{"j4b7", 4, 7, false},
                             Variant{"j3b1v", 3, 1, true}, Variant{"j1v", 1, 256, true}}) {
        job.outputPath = path(QLatin1String(v.name) + suffix);
        const Outcome run = runCli(job, v.jobs, v.batch, v.verify);
        QVERIFY2(run.ok, qPrintable(QLatin1String(v.name) + QLatin1String(": ") + run.error));
        QVERIFY2(contents(outputs(QLatin1String(v.name))) == expected, v.name);
    }
}

void TestCli::executableWritesTheSameBytes()
{
    const QString config = path(QStringLiteral("config-none"));
    GenerationJob job
        = jobFor({"generate", path("clients.dbf"), "-o", path("exe-ref.dbf"), "--field", "CODE", "--txt"});
    QVERIFY(runBaseEncoder(job).ok);
    for (const char* jobs : {"1", "3"}) {
        const QString out = path(QStringLiteral("exe-%1.dbf").arg(QLatin1String(jobs)));
        const ProcessResult r = runProcess(
            {"generate", path("clients.dbf"), "-o", out, "--field", "CODE", "--txt", "--verify", "--jobs", jobs},
            config);
        QCOMPARE(r.exitCode, 0);
        QVERIFY(r.out.startsWith(QStringLiteral("Fabrication de la base encodée correcte.\n")));
        QVERIFY2(!r.err.contains(QLatin1Char('\r')), "progress bar shown without a terminal");
        QCOMPARE(readFile(out), readFile(path("exe-ref.dbf")));
        QCOMPARE(readFile(textOutputPathFor(out)), readFile(path("exe-ref.txt")));
    }
    // The encoded DBF as a peer reads it.
    QProcess python;
    python.start(QStringLiteral(CODIFLUX_PYTHON),
                 {"-c",
                  "import sys, dbfread\n"
                  "t = dbfread.DBF(sys.argv[1], encoding='latin1', ignore_missing_memofile=True)\n"
                  "rows = list(t)\n"
                  "print(len(rows), [f.name for f in t.fields][-1], [f.length for f in t.fields][-1])\n",
                  path("exe-3.dbf")});
    QVERIFY(python.waitForFinished(60000));
    QCOMPARE(QString::fromUtf8(python.readAllStandardOutput()).trimmed(), QStringLiteral("299 _CODE 111"));
}

void TestCli::failuresAreTheSameForEveryJobCount_data()
{
    QTest::addColumn<QByteArray>("base");
    QTest::addColumn<QString>("message");

    QTest::newRow("refused value") << numericBase(700, 433)
                                   << "Erreur en cours d'encodage à l'enregistrement 433 valeur à encoder:\n12a45     ";
    QTest::newRow("short record") << numericBase(
        600, 0, 640) << "Erreur de lecture de la base DBF à encoder. L'enregistrement n°601 est trop court.";
    // The refused value comes before the missing records: it wins.
    QTest::newRow("refused before short")
        << numericBase(600, 590, 650)
        << "Erreur en cours d'encodage à l'enregistrement 590 valeur à encoder:\n12a45     ";
}

void TestCli::failuresAreTheSameForEveryJobCount()
{
    QFETCH(QByteArray, base);
    QFETCH(QString, message);
    QVERIFY(writeFile(path("numeric.dbf"), base));
    // A destination that exists already stays as it was.
    QVERIFY(writeFile(path("keep.dbf"), "ancienne base"));
    GenerationJob job = jobFor({"generate", path("numeric.dbf"), "-o", path("keep.dbf"), "--field", "CODE",
                                "--symbology", "qr", "--qr-mode", "alphanumeric", "--qr-version", "2", "--txt"});
    const Outcome reference = runBaseEncoder(job);
    QVERIFY(!reference.ok);
    QCOMPARE(reference.error, message);
    for (int jobs : {1, 2, 4}) {
        for (int batch : {1, 5, 256}) {
            for (bool verify : {false, true}) {
                const Outcome run = runCli(job, jobs, batch, verify);
                QVERIFY(!run.ok);
                QCOMPARE(run.error, message);
                QCOMPARE(readFile(path("keep.dbf")), QByteArray("ancienne base"));
                QVERIFY(!QFile::exists(path("keep.txt")));
            }
        }
    }
    QVERIFY(!entries(dir.path()).join(' ').contains(QStringLiteral(".tmp")));
}

void TestCli::verifyPassesOnGoodCodes_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::newRow("defaults") << QStringList{"--field", "CODE"};
    QTest::newRow("dm module 3 margin 2, all inversions") << QStringList{"--field",          "CODE",
                                                                         "--module",         "3",
                                                                         "--margin",         "2",
                                                                         "--invert-h",       "--invert-v",
                                                                         "--no-invert-bits", "--no-invert-pixels",
                                                                         "--eol-char",       "#"};
    QTest::newRow("dm latin-1 names, 16x48") << QStringList{"--field", "NOM", "--dm-size", "16x48"};
    QTest::newRow("qr 8-bit, high") << QStringList{"--field",   "ADRESSE", "--symbology", "qr",
                                                   "--qr-mode", "8bit",    "--qr-level",  "H",
                                                   "--no-eol",  "--blank", "spaces"};
}

void TestCli::verifyPassesOnGoodCodes()
{
    QFETCH(QStringList, options);
    const GenerationJob job = jobFor(QStringList{"generate", path("clients.dbf"), "-o", path("checked.dbf")} + options);
    const Outcome run = runCli(job, 2, 16, true);
    QVERIFY2(run.ok, qPrintable(run.error));
    QVERIFY(QFile::exists(path("checked.dbf")));
}

void TestCli::verifyCatchesACorruptedCode_data()
{
    QTest::addColumn<int>("jobs");
    QTest::addColumn<bool>("swap");
    QTest::addColumn<QString>("message");
    QTest::newRow("blanked, 1 job") << 1 << false
                                    << "Vérification : le code de l'enregistrement n°123 ne se relit pas.\n"
                                       "Valeur à encoder : « CF20285143    »";
    QTest::newRow("blanked, 4 jobs") << 4 << false
                                     << "Vérification : le code de l'enregistrement n°123 ne se relit pas.\n"
                                        "Valeur à encoder : « CF20285143    »";
    QTest::newRow("another record's code, 3 jobs")
        << 3 << true
        << "Vérification : le code de l'enregistrement n°123 ne redonne pas sa valeur.\n"
           "Valeur à encoder : « CF20285143    »\nValeur relue : « CF20240000    »";
}

void TestCli::verifyCatchesACorruptedCode()
{
    QFETCH(int, jobs);
    QFETCH(bool, swap);
    QFETCH(QString, message);
    const QString out = path("corrupt.dbf");
    QFile::remove(out);
    QFile::remove(path("corrupt.txt"));
    const GenerationJob job = jobFor({"generate", path("clients.dbf"), "-o", out, "--field", "CODE", "--txt"});
    // The code of record 1 ("CF20240000   ") on the same grid.
    const RecordCoder coder(job.parameters, job.options, job.blankCodes, 36, 12);
    QByteArray first(coder.fieldLength(), '\0');
    QVERIFY(coder.code("CF20240000   ", 13, first.data()).ok());

    std::atomic<int> tampered{0};
    auto tamper = [&](qint64 record, char* code, int length) {
        if (record != 123 && record != 200)
            return;
        ++tampered;
        if (swap) {
            QCOMPARE(length, int(first.size()));
            std::memcpy(code, first.constData(), std::size_t(length));
        } else {
            // Every module light: nothing left to find.
            for (int i = 0; i < length; ++i)
                if (code[i] >= 'A' && code[i] <= 'P')
                    code[i] = 'P';
        }
    };
    const Outcome run = runCli(job, jobs, 8, true, tamper);
    QVERIFY(!run.ok);
    QCOMPARE(run.error, message);
    QVERIFY(tampered >= 1);
    QVERIFY(!QFile::exists(out));
    QVERIFY(!QFile::exists(path("corrupt.txt")));
    QVERIFY(!entries(dir.path()).join(' ').contains(QStringLiteral(".tmp")));

    // Without the check the same corruption would have reached the file.
    const Outcome unchecked = runCli(job, jobs, 8, false, tamper);
    QVERIFY(unchecked.ok);
    QVERIFY(QFile::exists(out));
}

void TestCli::previewOfTheSample()
{
    QSettings settings(path(QStringLiteral("empty.ini")), QSettings::IniFormat);
    ParseResult parsed = parseArguments({"preview", path("clients.dbf"), "--field", "CODE"}, settings);
    QCOMPARE(parsed.exitCode, -1);
    GenerationJob job;
    QCOMPARE(buildJob(parsed.options, job, nullptr, nullptr), int(ExitSuccess));
    PreviewResult preview;
    QString error;
    QVERIFY2(previewSample(job, parsed.options.parameters, preview, &error), qPrintable(error));
    QCOMPARE(preview.width, 36);
    QCOMPARE(preview.height, 12);
    QCOMPARE(preview.bands, 3);
    QCOMPARE(preview.fieldLength, 111);  // 3 x (36 + 1)
    const EncodedSymbol symbol = encodeSymbol(job.parameters, QByteArray("CF20240000   "));
    QVERIFY(symbol.isValid());
    QCOMPARE(preview.previewText, toFontText(symbol.grid(), 36, 12, job.options, false).preview);

    // The drawing: two rows per line, a quiet zone of 2, a full block where both cells are dark.
    const QStringList lines = drawSymbol(preview).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), (12 + 4 + 1) / 2);
    for (const QString& line : lines)
        QCOMPARE(line.size(), 36 + 4);
    for (int r = 0; r < 12; r += 2)
        for (int c = 0; c < 36; ++c) {
            const bool top = symbol.grid().dark(c, r);
            const bool bottom = symbol.grid().dark(c, r + 1);
            const QChar expected = top && bottom ? QChar(0x2588)
                : top                            ? QChar(0x2580)
                : bottom                         ? QChar(0x2584)
                                                 : QChar(' ');
            QCOMPARE(lines.at(1 + r / 2).at(2 + c), expected);
        }

    // The space removal of the set applies to the preview only.
    parsed = parseArguments(
        {"preview", path("clients.dbf"), "--field", "CODE", "--trim-right", "--dm-size", "auto-square"}, settings);
    QCOMPARE(buildJob(parsed.options, job, nullptr, nullptr), int(ExitSuccess));
    QVERIFY(previewSample(job, parsed.options.parameters, preview, &error));
    QCOMPARE(preview.value, QByteArray("CF20240000"));
}

void TestCli::previewFromTheExecutable()
{
    const QString config = path(QStringLiteral("config-none"));
    ProcessResult r = runProcess({"preview", path("adresses.txt"), "--range", "1:10", "--draw"}, config);
    QCOMPARE(r.exitCode, 0);
    QVERIFY2(r.out.contains(QStringLiteral("Valeur : « AD00100000 »")), qPrintable(r.out));
    QVERIFY(r.out.contains(QStringLiteral("Nombre de rangées du champ encodé : ")));
    QVERIFY(r.out.contains(QStringLiteral("Longueur du champ encodé : ")));
    QVERIFY(r.out.contains(QChar(0x2588)));

    // A value the mode refuses: the window's text, exit 1.
    r = runProcess({"preview", path("adresses.txt"), "--range", "1:10", "--symbology", "qr"}, config);
    QCOMPARE(r.exitCode, 1);
    QVERIFY2(r.err.contains(QStringLiteral("Encodage impossible (vous pouvez essayer de changer le mode d'encodage")),
             qPrintable(r.err));
}

// A code field above 254 characters is written whole with a warning that
// most dBase readers cut it; 254 and below, no warning.
void TestCli::longCodeFieldWarning()
{
    const QString config = path(QStringLiteral("config-none"));
    for (const auto& [size, warned] : {std::pair{"26x26", false}, std::pair{"32x32", true}}) {
        const QString out = path(QStringLiteral("long-%1.dbf").arg(QLatin1String(size)));
        const ProcessResult r
            = runProcess({"generate", path("clients.dbf"), "-o", out, "--field", "CODE", "--dm-size", size}, config);
        QCOMPARE(r.exitCode, 0);
        const QByteArray b = readFile(out);
        const int length = quint8(b[32 * 11 + 16]) | (quint8(b[32 * 11 + 17]) << 8);  // the new field's descriptor
        QCOMPARE(length > 254, warned);
        QCOMPARE(r.err.contains(QStringLiteral("La plupart des lecteurs dBase (LibreOffice notamment)")), warned);
        if (warned)
            QVERIFY2(r.err.contains(QStringLiteral("plus de 254 caractères"))
                         && r.err.contains(QStringLiteral("(TXT)")),
                     qPrintable(r.err));
    }
}

void TestCli::interruptLeavesNoPartialFile_data()
{
    QTest::addColumn<QString>("jobs");
    QTest::newRow("1 job") << QStringLiteral("1");
    QTest::newRow("2 jobs") << QStringLiteral("2");
}

void TestCli::interruptLeavesNoPartialFile()
{
    QFETCH(QString, jobs);
    const QString folder = path(QStringLiteral("interrupt-") + jobs);
    QVERIFY(QDir().mkpath(folder));
    const QString source = folder + QStringLiteral("/grande.dbf");
    const QString out = folder + QStringLiteral("/sortie.dbf");
    QList<QList<QByteArray>> records;
    constexpr int kRecords = 400000;  // tens of seconds of coding: the signal comes long before the end
    records.reserve(kRecords);
    for (int i = 0; i < kRecords; ++i)
        records.append({"REF" + QByteArray::number(i)});
    QVERIFY(writeFile(source, makeDbf({{"REF", 'C', 12}}, records)));
    QVERIFY(writeFile(out, "la bonne base d'hier"));

    QProcess process;
    process.setProcessEnvironment(environmentWithSettings(path(QStringLiteral("config-none"))));
    process.start(QStringLiteral(CODIFLUX_CLI_EXE),
                  {"generate", source, "-o", out, "--field", "REF", "--txt", "--jobs", jobs});
    QVERIFY(process.waitForStarted());
    // Wait until the run writes its temporaries, that is, until the record loop runs.
    QElapsedTimer clock;
    clock.start();
    while (!entries(folder).join(' ').contains(QStringLiteral(".tmp")) && clock.elapsed() < 60000
           && process.state() == QProcess::Running)
        QThread::msleep(5);
    QVERIFY2(entries(folder).join(' ').contains(QStringLiteral(".tmp")), "the run never started writing");
    QThread::msleep(100);
    QCOMPARE(::kill(pid_t(process.processId()), SIGINT), 0);
    QVERIFY(process.waitForFinished(60000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 1);
    const QString err = QString::fromUtf8(process.readAllStandardError());
    QVERIFY2(err.contains(QStringLiteral("Fabrication de la base encodée annulée.")), qPrintable(err));
    QVERIFY(process.readAllStandardOutput().isEmpty());
    // The source and yesterday's base, nothing else.
    QCOMPARE(entries(folder), QStringList({"grande.dbf", "sortie.dbf"}));
    QCOMPARE(readFile(out), QByteArray("la bonne base d'hier"));
}

void TestCli::tablesReadAsTheEngineReadsThem_data()
{
    QTest::addColumn<QList<FieldDef>>("fields");
    QTest::addColumn<testsupport::DbfLayout>("layout");
    const QList<FieldDef> two = {{"NOM", 'C', 10}, {"NUM", 'C', 5}};
    QTest::newRow("0x30 in a database container")
        << two
        << testsupport::DbfLayout{.version = 0x30,
                                  .afterTerminator = QByteArray("..\\DATA\\CRM.DBC").leftJustified(263, '\0')};
    QTest::newRow("0x03 header padded by two bytes")
        << two << testsupport::DbfLayout{.afterTerminator = QByteArray(2, '\0')};
    QList<FieldDef> wide;
    for (int i = 0; i < 299; ++i)
        wide.append({"F" + QByteArray::number(i), 'C', 1});
    wide.append({"NUM", 'C', 5});
    QTest::newRow("300 fields") << wide << testsupport::DbfLayout{};
    QTest::newRow("C field of 40000 bytes")
        << QList<FieldDef>{{"NOTE", 'C', 40000}, {"NUM", 'C', 5}} << testsupport::DbfLayout{};
}

void TestCli::tablesReadAsTheEngineReadsThem()
{
    // Valid tables whose records the command line finds where the header
    // says, with as many fields as the engine lists: every code, checked on
    // the way and decoded here, gives its record's value back.
    QFETCH(QList<FieldDef>, fields);
    QFETCH(testsupport::DbfLayout, layout);
    const QList<QByteArray> values = {"12345", "67890", "24680"};
    QList<testsupport::DbfRecord> records;
    for (const QByteArray& value : values) {
        QList<QByteArray> row(fields.size() - 1, "x");
        records.append({value == "67890" ? '*' : ' ', row << value});
    }
    QVERIFY(writeFile(path("layout.dbf"), testsupport::dbfBytes(fields, records, layout)));
    const GenerationJob job = jobFor({"generate", path("layout.dbf"), "-o", path("layout-out.dbf"), "--field", "NUM"});
    RunControl control;
    control.jobs = 2;
    control.verify = true;
    QString error;
    RunReport report;
    QVERIFY2(generate(job, control, &error, &report), qPrintable(error));
    const QByteArray out = readFile(path("layout-out.dbf"));
    const int headerLength = int(quint8(out[8])) | int(quint8(out[9])) << 8;
    const int recordLength = int(quint8(out[10])) | int(quint8(out[11])) << 8;
    QCOMPARE(headerLength, 32 * (int(fields.size()) + 2) + 1);
    for (int i = 0; i < values.size(); ++i) {
        const QByteArray record = out.mid(headerLength + i * recordLength, recordLength);
        QCOMPARE(record.at(0), records[i].flag);
        QCOMPARE(decodeFieldText(record.right(report.fieldLength), report.width, report.height, job.options,
                                 SymbologyDatamatrix),
                 std::optional(values[i]));
    }
}

void TestCli::lyingHeadersEndPromptly_data()
{
    QTest::addColumn<QByteArray>("table");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("message");
    // 99 bytes of blank values whose header claims 0xFFFFFFFF records.
    QTest::newRow("0xFFFFFFFF records") << makeDbf({{"CODE", 'C', 10}}, {{""}, {""}, {""}}, 0xFFFFFFFF) << "CODE"
                                        << "Aucun enregistrement n'a de valeur dans le champ « CODE ».";
    QFile corpus(QStringLiteral(CODIFLUX_SOURCE_DIR "/tests/bases/data/oob-memo-field-bytes.dbf"));
    QVERIFY(corpus.open(QIODevice::ReadOnly));
    QTest::newRow("oob-memo-field-bytes.dbf") << corpus.readAll() << "\""
                                              << "Aucun enregistrement n'a de valeur dans le champ « \" ».";
    // More records than the window lists, none with a value: the search stops where the listing does.
    QList<QList<QByteArray>> blanks(1500, {QByteArray()});
    QTest::newRow("1500 blank records")
        << makeDbf({{"CODE", 'C', 10}}, blanks) << "CODE"
        << "Aucun des 1000 premiers enregistrements n'a de valeur dans le champ « CODE » : "
           "choisissez l'enregistrement d'exemple avec --sample N.";
    QTest::newRow("CSV of 1500 blank rows") << QByteArray("CODE;NOM\n" + QByteArray(";x\n").repeated(1500)) << "CODE"
                                            << "Aucun des 1000 premiers enregistrements n'a de valeur dans la colonne "
                                               "« CODE » : choisissez l'enregistrement d'exemple avec --sample N.";
}

void TestCli::lyingHeadersEndPromptly()
{
    QFETCH(QByteArray, table);
    QFETCH(QString, field);
    QFETCH(QString, message);
    const QString folder = path(QStringLiteral("lying-") + QString::fromLatin1(QTest::currentDataTag()).left(4));
    QVERIFY(QDir().mkpath(folder));
    const QString name = table.startsWith("CODE") ? QStringLiteral("t.csv") : QStringLiteral("t.dbf");
    QVERIFY(writeFile(folder + QLatin1Char('/') + name, table));
    for (const QStringList& command : {QStringList{"preview"}, QStringList{"generate", "-o", folder + "/o" + name}}) {
        QProcess process;
        process.setProcessEnvironment(environmentWithSettings(path(QStringLiteral("config-none"))));
        process.start(QStringLiteral(CODIFLUX_CLI_EXE),
                      command + QStringList{folder + QLatin1Char('/') + name, "--field", field});
        const bool ended = process.waitForFinished(20000);
        if (!ended) {
            process.kill();
            process.waitForFinished();
        }
        QVERIFY2(ended, qPrintable(command.first()));
        QCOMPARE(process.exitCode(), 1);
        QVERIFY2(QString::fromUtf8(process.readAllStandardError()).startsWith(message), qPrintable(command.first()));
    }
    QCOMPARE(entries(folder), QStringList{name});
}

void TestCli::everyPhaseStopsWhenCancelled_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");
    const QString generated = QStringLiteral("Fabrication de la base encodée annulée.\n");
    QTest::newRow("preview, DBF") << QStringList{"preview", "clients.dbf", "--field", "NOM"}
                                  << QStringLiteral("Aperçu annulé.\n");
    QTest::newRow("preview, text") << QStringList{"preview", "adresses.txt", "--range", "1:10"}
                                   << QStringLiteral("Aperçu annulé.\n");
    QTest::newRow("generate, DBF") << QStringList{"generate", "clients.dbf", "--field", "NOM", "-o", "c.dbf", "--txt"}
                                   << generated;
    QTest::newRow("generate, text") << QStringList{"generate", "adresses.txt", "--range", "1:10", "-o", "a.txt"}
                                    << generated;
    QTest::newRow("preview, CSV") << QStringList{"preview", "clients.csv", "--field", "CODE"}
                                  << QStringLiteral("Aperçu annulé.\n");
    QTest::newRow("generate, CSV") << QStringList{"generate", "clients.csv", "--field", "CODE", "-o", "c.csv"}
                                   << generated;
}

void TestCli::everyPhaseStopsWhenCancelled()
{
    // An interrupt that came before a phase stops it: nothing is searched,
    // shown or written.
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    for (QString& a : arguments)
        if (a.contains(QLatin1Char('.')))
            a = path(a);
    const QStringList before = entries(dir.path());
    QTemporaryDir settingsDir;
    QSettings settings(settingsDir.filePath(QStringLiteral("none.ini")), QSettings::IniFormat);
    QString out, err;
    QTextStream outStream(&out), errStream(&err);
    const std::atomic<bool> cancel{true};
    Console console;
    console.out = &outStream;
    console.err = &errStream;
    console.cancel = &cancel;
    QCOMPARE(runCommandLine(arguments, settings, console), int(ExitFailure));
    QCOMPARE(err, message);
    QVERIFY(out.isEmpty());
    QCOMPARE(entries(dir.path()), before);
}

void TestCli::interruptGuardGivesTheRunUp_data()
{
    QTest::addColumn<bool>("answers");  // the program reaches its end within the delay
    QTest::newRow("program stops by itself") << true;
    QTest::newRow("program stuck in a call") << false;
}

void TestCli::interruptGuardGivesTheRunUp()
{
    // A run whose temporaries exist, interrupted: a program that does not
    // stop within the delay has its run given up and is stopped.
    QFETCH(bool, answers);
    const QString folder = path(QStringLiteral("guard-%1").arg(answers));
    QVERIFY(QDir().mkpath(folder));
    OutputFiles files;
    files.plan(folder + QStringLiteral("/o.dbf"), folder + QStringLiteral("/o.txt"));
    OutputWriter writer(files);
    QString error;
    QVERIFY(writer.open(QByteArray(33, ' '), &error));
    // The two temporaries, beside the destinations' lock files.
    auto temporaries
        = [&folder] { return entries(folder).filter(QRegularExpression(QStringLiteral("(?<!\\.lock)$"))); };
    QCOMPARE(temporaries().size(), 2);
    RunAbandon abandon;
    abandon.attach(&files);
    std::atomic<bool> interrupted{false};
    std::atomic<bool> stopped{false};
    QElapsedTimer clock;
    {
        InterruptGuard guard(interrupted, abandon, std::chrono::milliseconds(300), [&] { stopped = true; });
        QThread::msleep(100);
        QVERIFY(!stopped);  // nothing before the interrupt
        clock.start();
        interrupted = true;
        if (answers) {
            QThread::msleep(100);
            guard.finish();
        }
        while (!stopped && clock.elapsed() < 3000)
            QThread::msleep(5);
    }
    abandon.detach();
    QCOMPARE(bool(stopped), !answers);
    if (!answers) {
        QVERIFY2(clock.elapsed() >= 300 && clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(entries(folder).isEmpty());
        QVERIFY(!writer.commit(&error));  // a run given up moves nothing into place
    } else {
        QCOMPARE(temporaries().size(), 2);
    }
}

void TestCli::resourceLimitsGiveAMessage_data()
{
    QTest::addColumn<QString>("limit");
    QTest::addColumn<qint64>("records");  // held by the file (sparse beyond the first)
    QTest::addColumn<int>("length");      // of the field beside the one encoded
    QTest::addColumn<QString>("message");
    // A file-size limit: the write fails instead of the process being killed.
    QTest::newRow("file size") << "--fsize=100000" << qint64(20000) << 2 << "Erreur d'écriture de la base encodée";
    // Windows of 256 x 256 records of 60 kB cannot be allocated under 2 GB.
    QTest::newRow("address space") << "--as=2000000000" << qint64(70000) << 60000
                                   << "Mémoire insuffisante : l'opération en cours est abandonnée.";
}

void TestCli::resourceLimitsGiveAMessage()
{
    QFETCH(QString, limit);
    QFETCH(qint64, records);
    QFETCH(int, length);
    QFETCH(QString, message);
#ifdef CODIFLUX_ADDRESS_SANITIZER
    if (limit.startsWith(QLatin1String("--as")))
        QSKIP("the sanitizer's shadow memory does not fit an address-space limit");
#endif
    const QString folder = path(QStringLiteral("limit-") + limit.mid(2, 2));
    QVERIFY(QDir().mkpath(folder));
    const QString source = folder + QStringLiteral("/big.dbf");
    const QList<FieldDef> fields = {{"REF", 'C', 10}, {"NOTE", 'C', length}};
    QByteArray first = makeDbf(fields, {{"REF1", "x"}}, records);
    first.chop(1);  // the end mark
    QVERIFY(writeFile(source, first));
    {
        // The other records hold NUL bytes: blank values, and no room on the disk.
        QFile file(source);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.resize(first.size() + (records - 1) * (length + 11)));
    }
    QVERIFY(writeFile(folder + QStringLiteral("/out.dbf"), "la bonne base d'hier"));
    QProcess process;
    process.setProcessEnvironment(environmentWithSettings(path(QStringLiteral("config-none"))));
    process.start(QStringLiteral("prlimit"),
                  {limit, QStringLiteral(CODIFLUX_CLI_EXE), "generate", source, "--field", "REF", "-o",
                   folder + "/out.dbf", "--txt", "--jobs", "256"});
    QVERIFY(process.waitForFinished(120000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 1);
    const QString err = QString::fromUtf8(process.readAllStandardError());
    QVERIFY2(err.contains(message) && err.endsWith(QStringLiteral("Aucun fichier n'a été écrit.\n")), qPrintable(err));
    QCOMPARE(entries(folder), QStringList({"big.dbf", "out.dbf"}));
    QCOMPARE(readFile(folder + QStringLiteral("/out.dbf")), QByteArray("la bonne base d'hier"));
}

// A CSV base of `count` rows: semicolons, Windows-1252, CR LF, a quoted cell
// over two lines every 50 rows, a blank code every 37; row `letterAt` holds a
// lower-case letter that QR's alphanumeric mode refuses.
QByteArray csvBase(int count, int letterAt = 0)
{
    QByteArray out = "CODE;Nom\r\n";
    for (int i = 1; i <= count; ++i) {
        QByteArray code = i % 37 == 0 ? QByteArray() : QByteArray::number(1000000 + i * 7);
        if (i == letterAt)
            code = "12a45";
        out += code + ";"
            + (i % 50 == 0 ? "\"L\xE9on\r\n\"\"" + QByteArray::number(i) + "\"\"\"" : "Z\xE9" + QByteArray::number(i))
            + "\r\n";
    }
    return out;
}

void TestCli::csvSameBytesForEveryJobCount_data()
{
    QTest::addColumn<int>("letterAt");
    QTest::addColumn<QString>("message");
    QTest::newRow("good base") << 0 << QString();
    QTest::newRow("refused value") << 433
                                   << "Erreur en cours d'encodage à l'enregistrement 433 valeur à encoder:\n12a45";
}

void TestCli::csvSameBytesForEveryJobCount()
{
    QFETCH(int, letterAt);
    QFETCH(QString, message);
    QVERIFY(writeFile(path("codes.csv"), csvBase(700, letterAt)));
    QVERIFY(writeFile(path("keep.csv"), "ancienne base"));
    const GenerationJob job = jobFor({"generate", path("codes.csv"), "-o", path("keep.csv"), "--field", "code",
                                      "--symbology", "qr", "--qr-mode", "alphanumeric", "--qr-version", "2"});
    QCOMPARE(job.typeSource, BaseKind::Csv);
    QCOMPARE(job.newFieldName, QStringLiteral("_CODE"));
    const Outcome reference = runBaseEncoder(job);
    QCOMPARE(reference.error, message);
    const QByteArray expected = readFile(path("keep.csv"));
    QCOMPARE(expected == "ancienne base", !message.isEmpty());
    for (int jobs : {1, 2, 4}) {
        for (int batch : {1, 5, 256}) {
            const Outcome run = runCli(job, jobs, batch, true);
            QCOMPARE(run.error, message);
            QCOMPARE(readFile(path("keep.csv")), expected);
        }
    }
    QVERIFY(!entries(dir.path()).join(' ').contains(QStringLiteral(".tmp")));
}

void TestCli::csvBadInputFromTheExecutable_data()
{
    QTest::addColumn<QByteArray>("base");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");
    const QByteArray good = "CODE,Nom\n1,a\n";
    QTest::newRow("unbalanced quote") << QByteArray("CODE;Nom\n1;a\n2;\"b\n") << QStringList{"--field", "CODE"} << 1
                                      << "Ligne 3 : le guillemet ouvert sur cette ligne n'est jamais fermé.";
    QTest::newRow("more fields") << QByteArray("CODE;Nom\n1;a\n2;b;c\n") << QStringList{"--field", "CODE"} << 1
                                 << "Ligne 3 : 3 champ(s) au lieu des 2 de l'en-tête.";
    QTest::newRow("fewer fields") << QByteArray("CODE;Nom\n1;a\n2\n") << QStringList{"--field", "CODE"} << 1
                                  << "Ligne 3 : 1 champ(s) au lieu des 2 de l'en-tête.";
    QTest::newRow("empty file") << QByteArray() << QStringList{"--column", "1"} << 1
                                << "Ligne 1 : le fichier CSV est vide, il n'a pas d'en-tête.";
    QTest::newRow("no such column") << good << QStringList{"--field", "REF"} << 2
                                    << "Ligne 1 : l'en-tête n'a pas de colonne « REF » (colonnes : CODE, Nom).";
    QTest::newRow("no such column number") << good << QStringList{"--column", "3"} << 2
                                           << "Ligne 1 : l'en-tête n'a pas de colonne n°3 (il en a 2 : CODE, Nom).";
    QTest::newRow("not UTF-8 under forced UTF-8")
        << QByteArray("CODE;Nom\n1;a\n2;\xE9t\xE9\n") << QStringList{"--field", "CODE", "--encoding", "utf-8"} << 1
        << "Ligne 3 : octets invalides pour l'encodage UTF-8.";
    QTest::newRow("forced delimiter") << good << QStringList{"--field", "CODE", "--delimiter", ";"} << 2
                                      << "Ligne 1 : l'en-tête n'a pas de colonne « CODE » (colonnes : CODE,Nom).";
}

void TestCli::csvBadInputFromTheExecutable()
{
    QFETCH(QByteArray, base);
    QFETCH(QStringList, options);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    QTemporaryDir folder;
    QVERIFY(writeFile(folder.filePath(QStringLiteral("clients.csv")), base));
    const ProcessResult r = runProcess(QStringList{"generate", "clients.csv", "-o", "clients_code.csv"} + options,
                                       path(QStringLiteral("config-none")), folder.path());
    QCOMPARE(r.exitCode, exitCode);
    QVERIFY2(r.err.startsWith(message + QLatin1Char('\n')), qPrintable(r.err));
    QCOMPARE(entries(folder.path()), QStringList{"clients.csv"});
}

void TestCli::refusalsTouchNothing_data()
{
    QTest::addColumn<QStringList>("arguments");  // after "generate"; "@" stands for the test folder
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QString>("untouched");  // a file that must keep its bytes

    QTest::newRow("memo file as destination")
        << QStringList{"@/clients.dbf", "--field", "CODE", "-o", "@/clients.dbt"} << 1
        << "Le fichier de destination doit être différent du fichier mémo de la base d'origine"
        << "clients.dbt";
    QTest::newRow("FIFO source") << QStringList{"@/pipe.dbf", "--field", "CODE", "-o", "@/r.dbf"} << 2
                                 << "n'est pas un fichier ordinaire."
                                 << "r.dbf";
    QTest::newRow("text form's name taken by a folder")
        << QStringList{"@/clients.dbf", "--field", "CODE", "-o", "@/r.dbf", "--txt"} << 1
        << "r.txt » n'est pas un fichier ordinaire"
        << "r.dbf";
    QTest::newRow("new field named as a field")
        << QStringList{"@/clients.dbf", "--field", "CODE", "--new-field", "nom", "-o", "@/r.dbf"} << 1
        << "La base d'origine a déjà un champ nommé « nom »"
        << "r.dbf";
    QTest::newRow("encoded base encoded again") << QStringList{"@/encoded.dbf", "--field", "CODE", "-o", "@/r.dbf"} << 1
                                                << "La base d'origine a déjà un champ nommé « _CODE »"
                                                << "r.dbf";
}

void TestCli::refusalsTouchNothing()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, error);
    QFETCH(QString, untouched);
    const QString config = path(QStringLiteral("config-none"));
    if (!QFile::exists(path("pipe.dbf")))
        QVERIFY(::mkfifo(QFile::encodeName(path("pipe.dbf")).constData(), 0644) == 0);
    if (!QFile::exists(path("encoded.dbf")))
        QCOMPARE(runProcess({"generate", path("clients.dbf"), "--field", "CODE", "-o", path("encoded.dbf")}, config)
                     .exitCode,
                 0);
    QVERIFY(writeFile(path("r.dbf"), "earlier encoded base"));
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("r.txt")));
    const QByteArray before = readFile(path(untouched));
    arguments.replaceInStrings(QStringLiteral("@"), dir.path());
    const ProcessResult r = runProcess(QStringList{"generate"} + arguments, config);
    QCOMPARE(r.exitCode, exitCode);
    QVERIFY2(r.err.contains(error), qPrintable(r.err));
    QCOMPARE(readFile(path(untouched)), before);
    QVERIFY(entries(dir.path()).filter(QRegularExpression(QStringLiteral("\\.(tmp|old|lock)$"))).isEmpty());
}

// Under a French locale a number keeps its full stop: QR's alphanumeric
// mode takes it, as in the window.
void TestCli::sameOutputUnderAFrenchLocale()
{
    QTemporaryDir locales;
    const QString failure = testsupport::makeFrenchLocale(locales.path());
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    const QList<QPair<QString, QString>> french{{"LOCPATH", locales.path()},
                                                {"LANG", QString::fromLatin1(testsupport::frenchLocaleName())},
                                                {"LC_ALL", QString()},
                                                {"LC_NUMERIC", QString()}};
    const QString config = path(QStringLiteral("config-none"));
    const QStringList options{"--field", "SOLDE", "--symbology", "qr", "--qr-mode", "alphanumeric"};
    ProcessResult r = runProcess(QStringList{"preview", path("clients.dbf")} + options, config, {}, french);
    QCOMPARE(r.exitCode, 0);
    QVERIFY2(r.out.contains(QStringLiteral("Valeur : « 5703.56 ")), qPrintable(r.out));
    r = runProcess(QStringList{"generate", path("clients.dbf"), "-o", path("fr.dbf")} + options, config, {}, french);
    QVERIFY2(r.exitCode == 0, qPrintable(r.err));
    QCOMPARE(runProcess(QStringList{"generate", path("clients.dbf"), "-o", path("c.dbf")} + options, config).exitCode,
             0);
    QCOMPARE(readFile(path("fr.dbf")), readFile(path("c.dbf")));
}

QTEST_GUILESS_MAIN(TestCli)
#include "test_cli.moc"
