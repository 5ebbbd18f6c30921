// The proof sheet from the command line: encoded bases made by codiflux-cli,
// their codes printed into a PDF, rasterized and read back from the page; and
// the window's, which must be the same sheet.

#include "app/codiflux.h"
#include "tests/print/printsheet.h"
#include "tests/support/files.h"
#include "tests/support/modal.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFontDatabase>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct Run {
    int exitCode = -1;
    QString out;
    QString err;
};

}  // namespace

// The window shows its sheet with a viewer of the test's own.
struct CodifluxInspector {
    static QList<QUrl>& opened()
    {
        static QList<QUrl> urls;
        return urls;
    }
    static void watchViewer(Codiflux& w)
    {
        w.openUrl = [](const QUrl& url) {
            opened().append(url);
            return true;
        };
    }
};

class TestProof : public QObject {
    Q_OBJECT

    QTemporaryDir dir;

    Run cli(const QStringList& arguments)
    {
        QProcess process;  // with the settings of a new user
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(CODIFLUX_CLI), arguments);
        Run run;
        if (!process.waitForFinished(240000))
            return run;
        run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        run.out = QString::fromUtf8(process.readAllStandardOutput());
        run.err = QString::fromUtf8(process.readAllStandardError());
        return run;
    }

    Run proof(const QString& base, const QString& pdf, const QStringList& options)
    {
        return cli(QStringList{"proof", base, "-o", pdf, "--font", QStringLiteral(CODIFLUX_PRINT_FONT_FILE)} + options);
    }

    // An encoded base of `source` (copied from examples/ when it has no folder).
    QString generate(const QString& source, const QString& output, const QStringList& options)
    {
        QString path = source;
        if (!source.contains(QLatin1Char('/'))) {
            path = dir.filePath(source);
            for (const QString& suffix : {QStringLiteral(""), QStringLiteral(".dbt")}) {
                const QString from = QStringLiteral(CODIFLUX_SOURCE_DIR "/examples/")
                    + QFileInfo(source).completeBaseName()
                    + (suffix.isEmpty() ? QLatin1Char('.') + QFileInfo(source).suffix() : suffix);
                QFile::remove(QFileInfo(path).path() + QLatin1Char('/') + QFileInfo(from).fileName());
                QFile::copy(from, QFileInfo(path).path() + QLatin1Char('/') + QFileInfo(from).fileName());
            }
        }
        const QString encoded = dir.filePath(output);
        const Run run = cli(QStringList{"generate", path, "-o", encoded, "--no-progress"} + options);
        return run.exitCode == 0 ? encoded : QString();
    }

    static int pdfPages(const QString& pdf)
    {
        QProcess info;
        info.start(QStringLiteral("pdfinfo"), {pdf});
        if (!info.waitForFinished(30000) || info.exitCode() != 0)
            return -1;
        const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)"))
                                              .match(QString::fromLatin1(info.readAllStandardOutput()));
        return m.hasMatch() ? m.captured(1).toInt() : -1;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir.filePath(QStringLiteral("settings")));
        // The window's font, as its start-up registers it.
        QCOMPARE(QFontDatabase::applicationFontFamilies(
                     QFontDatabase::addApplicationFont(QStringLiteral(CODIFLUX_FONT_FILE))),
                 QStringList{QStringLiteral("Quadrex")});
    }

    // Every code of the example bases reads at 6 pt, 300 dpi; the code field
    // is found without being named, and the PDF opens with poppler.
    void readsEveryCode_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QStringList>("generation");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("summary");
        QTest::addColumn<int>("pages");
        QTest::addRow("DBF, Datamatrix 16x16")
            << "clients.dbf" << QStringList{"--field", "CODE", "--dm-size", "16x16"}
            << QStringList{"--check-field", "CODE", "--label-field", "NOM"} << "48/48 codes relus à 6 pt, 300 dpi" << 3;
        QTest::addRow("CSV, line feeds, all records, Qt raster")
            << "clients.csv" << QStringList{"--field", "CODE", "--eol", "--eol-char", "lf"}
            << QStringList{"--check-field", "CODE", "--records", "all", "--raster", "qt"}
            << "298/298 codes relus à 6 pt, 300 dpi" << 11;
        QTest::addRow("text, QR code, a template, 600 dpi")
            << "adresses.txt" << QStringList{"--range", "1:10", "--symbology", "qr", "--qr-mode", "8-bit"}
            << QStringList{"--value", "{1:10}", "--records", "1-20", "--dpi", "600"}
            << "20/20 codes relus à 6 pt, 600 dpi" << 2;
    }

    void readsEveryCode()
    {
        QFETCH(QString, source);
        QFETCH(QStringList, generation);
        QFETCH(QStringList, options);
        QFETCH(QString, summary);
        QFETCH(int, pages);
        const QString base = generate(source, QStringLiteral("encoded_") + source, generation);
        QVERIFY(!base.isEmpty());
        const QString pdf = dir.filePath(QFileInfo(base).completeBaseName() + QStringLiteral(".pdf"));
        const Run run = proof(base, pdf, options);
        QVERIFY2(run.exitCode == 0, qPrintable(run.out + run.err));
        QCOMPARE(run.out.trimmed().split(QLatin1Char('\n')).last(), summary);
        QVERIFY(run.out.contains(options.contains(QLatin1String("qt")) ? QStringLiteral("Tramage : Qt (1 bit)")
                                                                       : QStringLiteral("Tramage : Ghostscript")));
        QCOMPARE(pdfPages(pdf), pages);
    }

    // A few letters changed in one record's code text: exit 1, that record
    // named with its expected value, the others read.
    void damagedCodeIsNamed()
    {
        const QString base = generate(QStringLiteral("adresses.txt"), QStringLiteral("damaged.txt"),
                                      {"--range", "1:10", "--dm-size", "16x16"});
        QVERIFY(!base.isEmpty());
        QList<QByteArray> lines = testsupport::readFile(base).split('\n');
        QByteArray& line = lines[6];
        for (qsizetype i : {72, 73, 90, 91, 108, 125})  // in the bands of the code, after the 70 source columns
            line[i] = char('A' + (line.at(i) - 'A' + 5) % 16);
        QVERIFY(testsupport::writeFile(base, lines.join('\n')));
        const QString pdf = dir.filePath(QStringLiteral("damaged.pdf"));
        const Run run = proof(base, pdf, {"--check-field", "1:10", "--records", "1-12"});
        QCOMPARE(run.exitCode, 1);
        const QStringList reported = run.out.split(QLatin1Char('\n')).filter(QStringLiteral("Enregistrement n°"));
        QCOMPARE(reported.size(), 1);
        QVERIFY2(reported.first().startsWith(QStringLiteral("Enregistrement n°7 : ")), qPrintable(reported.first()));
        QVERIFY(reported.first().contains(QStringLiteral("« AD00100078 »")));
        QVERIFY(run.out.trimmed().endsWith(QStringLiteral("11/12 codes relus à 6 pt, 300 dpi")));
        QCOMPARE(pdfPages(pdf), 2);
        // One column is a range too: its letter is not the code's value, so the
        // records are named (exit 1); no column at all is refused (exit 2).
        QCOMPARE(proof(base, pdf, {"--check-field", "1:1", "--records", "1-2"}).exitCode, 1);
        QCOMPARE(proof(base, pdf, {"--check-field", "1:0", "--records", "1-2"}).exitCode, 2);
    }

    // The proof's sweep finds the smallest readable size the print test's
    // sheet finds for the same symbol at the same sizes.
    void sweepMatchesPrintTest()
    {
        QByteArray lines;
        for (int i = 0; i < 12; ++i)
            lines += "CF2024-0-" + QByteArray::number(i).rightJustified(3, '0') + '\n';
        const QString source = dir.filePath(QStringLiteral("sweep.txt"));
        QVERIFY(testsupport::writeFile(source, lines));
        const QString base = generate(source, QStringLiteral("sweep_code.txt"),
                                      {"--range", "1:12", "--dm-size", "18x18", "--dm-scheme", "AutoBest"});
        QVERIFY(!base.isEmpty());
        const Run run = proof(base, dir.filePath(QStringLiteral("sweep.pdf")),
                              {"--check-field", "1:12", "--size", "1.5-2.5", "--records", "all"});
        const QRegularExpressionMatch m
            = QRegularExpression(QStringLiteral("qui relit tous les codes à 300 dpi : ([0-9,]+) pt")).match(run.out);
        QVERIFY2(m.hasMatch(), qPrintable(run.out + run.err));
        const double found = m.captured(1).replace(QLatin1Char(','), QLatin1Char('.')).toDouble();

        const QList<double> sizes = {1.5, 2, 2.5};
        constexpr int kPlacements = 4;  // 12 codes: four at each size
        QList<QByteArray> fields, values;
        for (const QByteArray& line : testsupport::readFile(base).split('\n'))
            if (line.size() > 12) {
                fields.append(line.mid(12));
                values.append(line.left(12));
            }
        const int font = QFontDatabase::addApplicationFont(QStringLiteral(CODIFLUX_PRINT_FONT_FILE));
        const QString family = QFontDatabase::applicationFontFamilies(font).value(0);
        const QString sheet = dir.filePath(QStringLiteral("printsheet.pdf"));
        const QList<printsheet::PlacedCode> codes
            = printsheet::writeSheet(sheet, {fields}, {values}, sizes, kPlacements, family);
        QCOMPARE(codes.size(), 12);
        const std::optional<double> expected
            = printsheet::smallestSize(codes, printsheet::ghostscriptPages(sheet, 300), 300);
        QVERIFY(expected);
        QCOMPARE(found, *expected);
        QCOMPARE(run.exitCode, 0);
    }

    // Refusals: a field that is not there, and a base without a code field.
    void refusals_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("text");
        QTest::addRow("unknown field") << QStringList{"--code-field", "NOPE"} << "champ inconnu « NOPE »";
        QTest::addRow("no code field") << QStringList{"--records", "1-3"} << "Aucun champ de la base ne contient";
        QTest::addRow("bad size") << QStringList{"--size", "12-3"} << "--size";
    }

    void refusals()
    {
        QFETCH(QStringList, options);
        QFETCH(QString, text);
        const QString source = dir.filePath(QStringLiteral("plain.dbf"));
        QFile::remove(source);
        QVERIFY(QFile::copy(QStringLiteral(CODIFLUX_SOURCE_DIR "/examples/clients.dbf"), source));
        QFile::remove(dir.filePath(QStringLiteral("plain.dbt")));
        QVERIFY(QFile::copy(QStringLiteral(CODIFLUX_SOURCE_DIR "/examples/clients.dbt"),
                            dir.filePath(QStringLiteral("plain.dbt"))));
        const QString pdf = dir.filePath(QStringLiteral("refused.pdf"));
        const Run run = proof(source, pdf, options);
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.err.contains(text), qPrintable(run.err));
        QVERIFY(!QFile::exists(pdf));
    }

    // "Épreuve d'impression…" in the window, asked for 4.5 pt at 600 dpi, makes
    // page for page the sheet the command line makes with those options, and
    // shows it.
    void windowMakesTheSameSheet()
    {
        const QString base = generate(QStringLiteral("clients.dbf"), QStringLiteral("window.dbf"),
                                      {"--field", "CODE", "--dm-size", "16x16"});
        QVERIFY(!base.isEmpty());
        Codiflux w;
        CodifluxInspector::watchViewer(w);
        testsupport::ModalDriver driver(
            {testsupport::ModalDriver::chooseFile(base),
             {"QDialog", [](QWidget* modal) {
                  modal->findChild<QDoubleSpinBox*>(QStringLiteral("doubleSpinBoxTailleEpreuve"))->setValue(4.5);
                  auto* dpi = modal->findChild<QComboBox*>(QStringLiteral("comboBoxResolutionEpreuve"));
                  dpi->setCurrentIndex(dpi->findData(600));
                  static_cast<QDialog*>(modal)->accept();
              }}});
        w.ui()->actionEpreuveImpression->trigger();
        QVERIFY(driver.done());
        QCOMPARE(driver.unexpected(), 0);
        const QString windowPdf = dir.filePath(QStringLiteral("window-epreuve.pdf"));
        QCOMPARE(CodifluxInspector::opened(), QList<QUrl>{QUrl::fromLocalFile(windowPdf)});
        QVERIFY(w.statusBar()->currentMessage().endsWith(QStringLiteral("48/48 codes relus à 4,5 pt, 600 dpi")));

        const QString cliPdf = dir.filePath(QStringLiteral("cli.pdf"));
        const Run run = cli({"proof", base, "-o", cliPdf, "--size", "4.5", "--dpi", "600", "--font",
                             QStringLiteral(CODIFLUX_FONT_FILE)});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(pdfPages(windowPdf), pdfPages(cliPdf));
        for (const QString& pdf : {windowPdf, cliPdf})
            QCOMPARE(QProcess::execute(QStringLiteral("pdftoppm"), {"-r", "40", "-gray", pdf, pdf}), 0);
        for (int page = 1; page <= pdfPages(cliPdf); ++page)
            QVERIFY2(testsupport::readFile(windowPdf + QStringLiteral("-%1.pgm").arg(page))
                         == testsupport::readFile(cliPdf + QStringLiteral("-%1.pgm").arg(page)),
                     qPrintable(QStringLiteral("page %1 differs").arg(page)));
    }

    // After a generation the result box offers the proof of the base just
    // written, at the size and resolution asked.
    void proofFromTheResultBox()
    {
        const QString source = dir.filePath(QStringLiteral("box.dbf"));
        QVERIFY(QFile::copy(QStringLiteral(CODIFLUX_SOURCE_DIR "/examples/clients.dbf"), source));
        QVERIFY(QFile::copy(QStringLiteral(CODIFLUX_SOURCE_DIR "/examples/clients.dbt"), dir.filePath("box.dbt")));
        Codiflux w;
        CodifluxInspector::watchViewer(w);
        CodifluxInspector::opened().clear();
        using testsupport::ModalDriver;
        {
            ModalDriver load({ModalDriver::chooseFile(source)});
            w.ui()->actionChargerBase->trigger();
            QVERIFY(load.done());
        }
        const QString encoded = dir.filePath(QStringLiteral("box_code.dbf"));
        ModalDriver driver(
            {ModalDriver::chooseFile(encoded),
             ModalDriver::click(QMessageBox::No),
             {"QMessageBox",
              [](QWidget* box) { box->findChild<QPushButton*>(QStringLiteral("pushButtonEpreuve"))->click(); }},
             {"QDialog", [](QWidget* modal) { static_cast<QDialog*>(modal)->accept(); }}});
        w.ui()->actionGenererBase->trigger();
        QVERIFY(driver.done());
        QCOMPARE(driver.unexpected(), 0);
        QCOMPARE(CodifluxInspector::opened(), QList<QUrl>{QUrl::fromLocalFile(dir.filePath("box_code-epreuve.pdf"))});
        QCOMPARE(w.statusBar()->currentMessage(), QStringLiteral("48/48 codes relus à 6 pt, 300 dpi"));
        QCOMPARE(pdfPages(dir.filePath("box_code-epreuve.pdf")), 3);
    }
};

QTEST_MAIN(TestProof)
#include "test_proof.moc"
