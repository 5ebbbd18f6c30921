// The main window driven through its controls and dialogs, offscreen: a base
// loads into the field and record lists or the column selector, the preview
// shows a symbol that zxing-cpp reads, a generation writes an encoded base
// that dbfread and zxing-cpp read back or refuses with its text and leaves the
// files alone, a cancelled run leaves nothing behind, and the parameter sets
// go through the settings file. The value tables are the lower layers' tests.

#include "app/codiflux.h"
#include "bases/listing.h"
#include "codes/verify.h"
#include "codiflux_version.h"
#include "settings/parametres.h"
#include "tests/support/dbf_builder.h"
#include "tests/support/files.h"
#include "tests/support/modal.h"

#include <QGraphicsPixmapItem>
#include <QGraphicsTextItem>
#include <QInputDialog>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QtTest>

using testsupport::ModalDriver;
using testsupport::readFile;
using testsupport::SeenModal;
using testsupport::writeFile;

namespace {

const QString kSuccess = QStringLiteral("Fabrication de la base encodée correcte.");
const QString kLoadFailed = QStringLiteral("Une erreur est survenue lors du chargement.\n");

ModalDriver::Step enter(const QString& text)
{
    return {"QInputDialog", [text](QWidget* modal) {
                static_cast<QInputDialog*>(modal)->setTextValue(text);
                static_cast<QInputDialog*>(modal)->accept();
            }};
}

// Clicks the progress dialog's cancel button once it shows, after `before`.
ModalDriver::Step cancelRun(std::function<void(QProgressDialog*)> before = {})
{
    return {"QProgressDialog", [before](QWidget* modal) {
                if (before)
                    before(static_cast<QProgressDialog*>(modal));
                modal->findChild<QPushButton*>()->click();
            }};
}

// Runs `action` with `steps` answering its dialogs; what they showed.
QList<SeenModal> drive(QAction* action, const QList<ModalDriver::Step>& steps = {})
{
    ModalDriver driver(steps);
    action->trigger();
    [&]() {
        QVERIFY2(driver.done(), "a dialog the test answers did not appear");
        QCOMPARE(driver.unexpected(), 0);
    }();
    return driver.seen();
}

void load(Codiflux& w, const QString& path)
{
    const QList<SeenModal> seen = drive(w.ui()->actionChargerBase, {ModalDriver::chooseFile(path)});
    QCOMPARE(seen.size(), 1);
}

void choose(QComboBox* box, const QString& text)
{
    const int index = box->findText(text);
    QVERIFY2(index >= 0, qPrintable(text));
    box->setCurrentIndex(index);
}

void useDatamatrix(Codiflux& w, const QString& size = QStringLiteral("Automatique (carré)"))
{
    w.ui()->tabTypeWidget->setCurrentIndex(0);
    choose(w.ui()->comboBoxTailleDatamatrix, size);
    choose(w.ui()->comboBoxModeEncodage, QStringLiteral("AutoBest"));
}

void useQr(Codiflux& w, const QString& mode = QStringLiteral("8-bit data"))
{
    w.ui()->tabTypeWidget->setCurrentIndex(1);
    w.ui()->spinBoxVersionQRCode->setValue(0);
    choose(w.ui()->comboBoxModeEncodageQRCode, mode);
    choose(w.ui()->comboBoxECLevelQRCode, QStringLiteral("Medium"));
}

// Reads the preview's bitmap (one pixel a cell) with zxing-cpp.
std::optional<QByteArray> readPreview(Codiflux& w)
{
    for (QGraphicsItem* item : w.ui()->graphicsViewPreview->scene()->items()) {
        if (auto* bitmap = dynamic_cast<QGraphicsPixmapItem*>(item)) {
            const QImage image = bitmap->pixmap().toImage();
            codiflux::SymbolImage symbol;
            symbol.quietZone = 4;
            symbol.scale = 4;
            symbol.width = (image.width() + 8) * 4;
            symbol.height = (image.height() + 8) * 4;
            symbol.pixels.assign(std::size_t(symbol.width) * std::size_t(symbol.height), 255);
            for (int y = 0; y < symbol.height; ++y)
                for (int x = 0; x < symbol.width; ++x)
                    if (image.valid(x / 4 - 4, y / 4 - 4) && qGray(image.pixel(x / 4 - 4, y / 4 - 4)) < 128)
                        symbol.pixels[std::size_t(y) * std::size_t(symbol.width) + std::size_t(x)] = 0;
            return codiflux::decodeSymbolImage(symbol, codiflux::Symbology(w.ui()->tabTypeWidget->currentIndex()));
        }
    }
    return std::nullopt;
}

// The (value, code) pairs of every record of an encoded DBF as dbfread reads
// it (deleted ones too), or of an encoded CSV as Python's csv module reads it.
QList<QPair<QByteArray, QByteArray>> readRecords(const QString& path)
{
    const char* script = R"(import sys, csv
from dbfread import DBF
p = sys.argv[1]
if p.endswith('.dbf'):
    t = DBF(p, raw=True, ignore_missing_memofile=True)
    rows = ((r['CODE'], r['_CODE']) for r in [*t, *t.deleted])
else:
    rows = ((r['CODE'].encode('cp1252'), r['_CODE'].encode('cp1252'))
            for r in csv.DictReader(open(p, newline='', encoding='cp1252'), delimiter=';'))
for v, c in rows:
    print(v.hex(), c.hex()))";
    QProcess python;
    python.start(QStringLiteral(CODIFLUX_PYTHON), {QStringLiteral("-c"), QString::fromLatin1(script), path});
    python.waitForFinished(120000);
    QList<QPair<QByteArray, QByteArray>> records;
    for (const QByteArray& line : python.readAllStandardOutput().split('\n'))
        if (const QList<QByteArray> cells = line.split(' '); cells.size() == 2)
            records.append({QByteArray::fromHex(cells.at(0)), QByteArray::fromHex(cells.at(1))});
    if (python.exitCode() != 0)
        qWarning() << python.readAllStandardError();
    return records;
}

}  // namespace

class TestWindow : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    QString examples;
    QString settingsFile() const
    {
        return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Codiflux"), QString()).fileName();
    }
    QString write(const QString& name, const QByteArray& bytes)
    {
        const QString path = dir.filePath(name);
        return writeFile(path, bytes) ? path : QString();
    }
    // CODE (the first record blank) and NOM, `count` records.
    QString clients(const QString& name, int count = 4)
    {
        QList<QList<QByteArray>> rows{{"", "Vide"}};
        for (int i = 1; i < count; ++i)
            rows.append({"CF" + QByteArray::number(1000 + i), "Nom " + QByteArray::number(i)});
        return write(name, testsupport::dbfBytes({{"CODE", 'C', 8}, {"NOM", 'C', 10}}, rows));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir.filePath(QStringLiteral("settings")));
        qputenv("XDG_DATA_HOME", QFile::encodeName(dir.filePath(QStringLiteral("data"))));
        examples = QStringLiteral(CODIFLUX_SOURCE_DIR "/examples");
        if (!QFile::exists(examples + QStringLiteral("/clients.dbf"))) {
            examples = dir.filePath(QStringLiteral("examples"));
            QCOMPARE(QProcess::execute(QStringLiteral(CODIFLUX_PYTHON),
                                       {QStringLiteral(CODIFLUX_SOURCE_DIR "/tools/make_examples.py"), examples}),
                     0);
        }
    }

    // A DBF base: its fields, its records from the first one not blank, the
    // new field's name, the controls of a DBF base; another field's values follow.
    void loadDbf()
    {
        Codiflux w;
        CodifluxClass& f = *w.ui();
        QVERIFY(!f.comboBoxChamps->isVisibleTo(&w));
        QCOMPARE(drive(f.actionGenererBase).size(), 0);  // nothing to generate from
        const QString path = clients(QStringLiteral("clients.dbf"));
        load(w, path);
        QCOMPARE(f.lineEditBaseSource->text(), path);
        QCOMPARE(f.comboBoxChamps->count(), 2);
        QCOMPARE(f.comboBoxEnregistrement->count(), 4);
        QCOMPARE(f.comboBoxEnregistrement->currentIndex(), 1);
        QCOMPARE(f.comboBoxEnregistrement->currentText(), QStringLiteral("CF1001  "));
        QCOMPARE(f.lineEditNomChampSortie->text(), QStringLiteral("_CODE"));
        QVERIFY(f.comboBoxChamps->isVisibleTo(&w) && f.lineEditNomChampSortie->isVisibleTo(&w));
        QVERIFY(!f.spinBoxPosDebut->isVisibleTo(&w));
        f.comboBoxChamps->setCurrentIndex(1);
        QCOMPARE(f.comboBoxEnregistrement->currentIndex(), 0);
        QCOMPARE(f.comboBoxEnregistrement->itemText(3), QStringLiteral("Nom 3     "));
        QCOMPARE(f.lineEditNomChampSortie->text(), QStringLiteral("_NOM"));
        QSettings settings(settingsFile(), QSettings::IniFormat);
        QCOMPARE(settings.value(QLatin1String(codiflux::keys::CheminChargement)).toString(), dir.path());
    }

    // A text base: the column range from the spin boxes and from a selection.
    void loadText()
    {
        Codiflux w;
        CodifluxClass& f = *w.ui();
        load(w, write(QStringLiteral("lignes.txt"), "AB0001 Paris\nAB0002 Lyon\nAB0003 Nice\n"));
        QVERIFY(f.spinBoxPosDebut->isVisibleTo(&w) && !f.comboBoxChamps->isVisibleTo(&w));
        QVERIFY(f.lineEditModeleValeur->isVisibleTo(&w));  // a template of columns
        QVERIFY(!f.lineEditNomChampSortie->isVisibleTo(&w));
        f.spinBoxPosDebut->setValue(3);
        f.spinBoxPosNbCar->setValue(4);
        QCOMPARE(f.spinBoxPosFin->value(), 6);
        QCOMPARE(f.plainTextEditSelecteurPosition->textCursor().selectedText(), QStringLiteral("0001"));
        QCOMPARE(f.plainTextEditSelecteurPosition->extraSelections().size(), 3);
        QCOMPARE(f.plainTextEditSelecteurPosition->extraSelections().at(1).cursor.selectedText(),
                 QStringLiteral("0002"));
        f.spinBoxPosFin->setValue(2);  // before the start: back to the start
        QCOMPARE(f.spinBoxPosFin->value(), 3);
        QCOMPARE(f.spinBoxPosNbCar->value(), 1);
        f.spinBoxPosDebut->setValue(5);  // past the end: the end follows
        QCOMPARE(f.spinBoxPosFin->value(), 5);
        QTextCursor cursor = f.plainTextEditSelecteurPosition->textCursor();
        cursor.setPosition(13 + 1);
        cursor.setPosition(13 + 6, QTextCursor::KeepAnchor);
        f.plainTextEditSelecteurPosition->setTextCursor(cursor);
        QCOMPARE(f.spinBoxPosDebut->value(), 2);
        QCOMPARE(f.spinBoxPosFin->value(), 6);
        QCOMPARE(f.spinBoxPosNbCar->value(), 5);
        f.spinBoxPosFin->setValue(2);  // the start: one character
        QCOMPARE(f.plainTextEditSelecteurPosition->textCursor().selectedText(), QStringLiteral("B"));
        cursor.clearSelection();  // a click: no range
        f.plainTextEditSelecteurPosition->setTextCursor(cursor);
        QCOMPARE(f.spinBoxPosNbCar->value(), 0);
        QVERIFY(f.plainTextEditSelecteurPosition->extraSelections().isEmpty());
    }

    void loadCsv()
    {
        Codiflux w;
        CodifluxClass& f = *w.ui();
        load(w, write(QStringLiteral("clients.csv"), "CODE;NOM\r\n;vide\r\nCF1;Noël\r\n"));
        QCOMPARE(f.comboBoxChamps->count(), 2);
        QCOMPARE(f.comboBoxEnregistrement->currentText(), QStringLiteral("CF1"));
        f.comboBoxChamps->setCurrentIndex(1);
        QCOMPARE(f.lineEditNomChampSortie->text(), QStringLiteral("_NOM"));
        QCOMPARE(f.comboBoxEnregistrement->currentIndex(), 0);
        // A CSV base names its encoding itself: no code page is asked of it,
        // and a page chosen does not load it again.
        QVERIFY(!f.comboBoxPageCode->isVisibleTo(&w));
        f.comboBoxPageCode->setCurrentIndex(1);
        QCOMPARE(f.comboBoxChamps->currentIndex(), 1);
    }

    // A base that fails to load says why and leaves no base loaded.
    void loadFailure_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("dbf") << "faux.dbf" << QByteArray("pas une table") << kLoadFailed;
        QTest::newRow("file gone") << "disparu.txt" << QByteArray("x")
                                   << QStringLiteral("Impossible d'ouvrir le fichier sélectionné.");
        QTest::newRow("text line too long")
            << "longue.txt" << QByteArray("a\n") + QByteArray(70000, 'x')
            << QStringLiteral("Impossible d'ouvrir le fichier sélectionné.\nErreur : La ligne n°2");
    }
    void loadFailure()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        Codiflux w;
        load(w, clients(QStringLiteral("avant.dbf")));
        ModalDriver::Step chosen = ModalDriver::chooseFile(write(name, bytes));
        if (name == QLatin1String("disparu.txt"))  // removed once the dialog has accepted it
            chosen.answer = [path = dir.filePath(name), accept = chosen.answer](QWidget* d) {
                accept(d);
                QFile::remove(path);
            };
        const QList<SeenModal> seen = drive(w.ui()->actionChargerBase, {chosen, ModalDriver::close()});
        QVERIFY2(seen.value(seen.size() - 1).text.startsWith(text), qPrintable(seen.value(seen.size() - 1).text));
        QCOMPARE(seen.value(seen.size() - 1).icon, QMessageBox::Warning);
        QCOMPARE(w.ui()->lineEditBaseSource->text(), QString());
        QVERIFY(!w.ui()->comboBoxChamps->isVisibleTo(&w));
    }

    // The preview encodes the current record with the controls' parameters,
    // or says why not and clears what it showed.
    void preview_data()
    {
        QTest::addColumn<bool>("qr");
        QTest::addColumn<QString>("setting");  // Datamatrix size or QR mode
        QTest::addColumn<int>("record");
        QTest::addColumn<bool>("trim");
        QTest::addColumn<QByteArray>("read");  // empty: the box's title
        QTest::addColumn<QString>("box");
        QTest::newRow("datamatrix") << false << "Automatique (carré)" << 1 << true << QByteArray("CF1001") << "";
        QTest::newRow("datamatrix, spaces kept") << false << "16x16" << 2 << false << QByteArray("CF1002  ") << "";
        QTest::newRow("qr") << true << "8-bit data" << 3 << true << QByteArray("CF1003") << "";
        QTest::newRow("blank record") << false << "16x16" << 0 << true << QByteArray() << "Enregistrement vide";
        QTest::newRow("datamatrix too small")
            << false << "10x10" << 1 << false << QByteArray() << "changer la taille du datamatrix";
        QTest::newRow("qr mode refuses") << true << "Numeric" << 1 << true << QByteArray() << "niveau de correction";
    }
    void preview()
    {
        QFETCH(bool, qr);
        QFETCH(QString, setting);
        QFETCH(int, record);
        QFETCH(bool, trim);
        QFETCH(QByteArray, read);
        QFETCH(QString, box);
        Codiflux w;
        CodifluxClass& f = *w.ui();
        load(w, clients(QStringLiteral("apercu.dbf")));
        if (read.isEmpty()) {  // a success first: the failure must clear it
            useDatamatrix(w);
            f.comboBoxEnregistrement->setCurrentIndex(1);
            drive(f.actionPrevisualisation);
            QVERIFY(readPreview(w));
        }
        qr ? useQr(w, setting) : useDatamatrix(w, setting);
        f.checkBoxSupprimerGauche->setChecked(trim);
        f.checkBoxSupprimerDroite->setChecked(trim);
        f.comboBoxEnregistrement->setCurrentIndex(record);
        const QList<SeenModal> seen
            = drive(f.actionPrevisualisation,
                    read.isEmpty() ? QList<ModalDriver::Step>{ModalDriver::close()} : QList<ModalDriver::Step>{});
        if (read.isEmpty()) {
            QVERIFY2(seen.value(seen.size() - 1).title.contains(box) || seen.value(seen.size() - 1).text.contains(box),
                     qPrintable(seen.value(seen.size() - 1).text));
            QCOMPARE(f.lineEditNbColonnes->text(), QStringLiteral("0"));
            QVERIFY(f.plainTextEditPreview->toPlainText().isEmpty());
            QCOMPARE(readPreview(w), std::nullopt);
            return;
        }
        QCOMPARE(seen.size(), 0);
        QCOMPARE(readPreview(w), std::optional(read));
        const int width = f.lineEditNbColonnes->text().toInt();
        const int height = f.lineEditNbLignes->text().toInt();
        QCOMPARE(f.lineEditNbRangees->text().toInt(), (height + 3) / 4);
        const QByteArray field = f.plainTextEditPreview->toPlainText().toLatin1();
        QCOMPARE(f.spinBoxLongueurChampSortie->value(), int(field.size()));
        codiflux::FontTextOptions options{.bitInversion = true, .pixelInversion = true, .endOfLine = true};
        QCOMPARE(codiflux::decodeFieldText(field, width, height, options, codiflux::Symbology(qr)),
                 std::optional(read));
        // The two views of the symbol, one at a time.
        f.txtPreviewRadioButton->setChecked(true);
        for (QGraphicsItem* item : f.graphicsViewPreview->scene()->items())
            QCOMPARE(item->isVisible(), dynamic_cast<QGraphicsTextItem*>(item) != nullptr);
    }

    // A value template and the GS1 mode: the preview's code and its
    // human-readable text; the refusals in a box.
    void gs1Preview_data()
    {
        QTest::addColumn<bool>("qr");
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QString>("expected");  // the status bar's text, or the box's
        const QString example = QStringLiteral("(01){GTIN}(17){EXP:yyMMdd}(10){LOT}(21){SERIAL:08}");
        QTest::newRow("datamatrix") << false << example
                                    << "Texte lisible : (01) 03453120000080 (17) 280229 (10) L7647T (21) 00811081";
        QTest::newRow("qr") << true << example << "libqrencode 4.1.1";
        QTest::newRow("unknown field") << false << "(01){GTIN}{NOPE}"
                                       << "champ inconnu « NOPE »";
        QTest::newRow("length") << false << "(01){GTIN}7"
                                << "(01) : 14 caractères attendus, 15 trouvés";
    }
    void gs1Preview()
    {
        QFETCH(bool, qr);
        QFETCH(QString, pattern);
        QFETCH(QString, expected);
        Codiflux w;
        CodifluxClass& f = *w.ui();
        load(w, examples + QStringLiteral("/produits_gs1.dbf"));
        qr ? useQr(w, QStringLiteral("8-bit data")) : useDatamatrix(w, QStringLiteral("Automatique (carré)"));
        f.checkBoxGS1->setChecked(true);
        f.lineEditModeleValeur->setText(pattern);
        f.comboBoxEnregistrement->setCurrentIndex(999);
        const bool refused = !expected.startsWith(QLatin1String("Texte"));
        const QList<SeenModal> seen
            = drive(f.actionPrevisualisation,
                    refused ? QList<ModalDriver::Step>{ModalDriver::close()} : QList<ModalDriver::Step>{});
        if (refused) {
            QVERIFY2(seen.size() == 1 && seen.at(0).text.contains(expected), qPrintable(seen.value(0).text));
            return;
        }
        QCOMPARE(seen.size(), 0);
        QCOMPARE(f.statusBar->currentMessage(), expected);
        QCOMPARE(readPreview(w),
                 std::optional(QByteArray("0103453120000080172802291"
                                          "0L7647T\x1D"
                                          "2100811081")));
        // The run: the template's longest value fixes the size, the HRI field follows the code.
        const QString destination = dir.filePath(QStringLiteral("gs1_encodee.dbf"));
        f.lineEditChampHRI->setText(QStringLiteral("HRI"));
        const QList<SeenModal> run
            = drive(f.actionGenererBase,
                    {ModalDriver::chooseFile(destination), ModalDriver::click(QMessageBox::No), ModalDriver::close()});
        QCOMPARE(run.value(run.size() - 1).text, kSuccess);
        codiflux::DbfTablePtr table(codiflux::dbf_open(QFile::encodeName(destination).constData(), nullptr, 0, 0));
        QVERIFY(table);
        QCOMPARE(codiflux::listedValue(table.get(), 999, 6), expected.mid(16).toLatin1());
    }

    // The code page: the table's own, shown with its origin; a value beyond
    // Windows-1252 goes only in a QR code with ECI; forced, the base is listed
    // again. A UTF-8 text base's columns count characters.
    void codePage()
    {
        Codiflux w;
        CodifluxClass& f = *w.ui();
        QVERIFY(!f.comboBoxPageCode->isVisibleTo(&w));
        testsupport::DbfLayout cp1250;
        cp1250.reserved29 = char(0xC8);
        load(w,
             write(QStringLiteral("cp.dbf"),
                   testsupport::dbfBytes({{"NOM", 'C', 6}}, {{"\xA3\xF3\x64\x9F"}, {"Caf\xE9"}}, cp1250)));
        QVERIFY(f.comboBoxPageCode->isVisibleTo(&w));
        QCOMPARE(f.labelOriginePageCode->text(), QStringLiteral("cp1250 (en-tête de la table, octet 29 = 0xC8)"));
        QCOMPARE(f.comboBoxEnregistrement->itemText(0), QStringLiteral("Łódź  "));
        useDatamatrix(w);
        f.comboBoxEnregistrement->setCurrentIndex(0);
        QList<SeenModal> seen = drive(f.actionPrevisualisation, {ModalDriver::close()});
        QVERIFY(seen.size() == 1 && seen.at(0).text.contains(QStringLiteral("« Ł »")));
        useQr(w);
        f.checkBoxECIQRCode->setChecked(true);
        QCOMPARE(drive(f.actionPrevisualisation).size(), 0);
        QCOMPARE(readPreview(w), std::optional(QStringLiteral("Łódź  ").toUtf8()));
        choose(f.comboBoxPageCode, QStringLiteral("cp1252"));
        QCOMPARE(f.labelOriginePageCode->text(), QStringLiteral("cp1252 (choisie)"));
        QCOMPARE(f.comboBoxEnregistrement->itemText(0), QStringLiteral("£ódŸ  "));
        QCOMPARE(f.comboBoxEnregistrement->itemText(1), QStringLiteral("Café  "));

        choose(f.comboBoxPageCode, QStringLiteral("Automatique"));
        load(w, write(QStringLiteral("utf8.txt"), QStringLiteral("Hélène\nZoé   \n").toUtf8()));
        QCOMPARE(f.labelOriginePageCode->text(), QStringLiteral("utf-8 (reconnue dans le fichier)"));
        f.checkBoxECIQRCode->setChecked(false);
        f.spinBoxPosDebut->setValue(2);
        f.spinBoxPosNbCar->setValue(3);
        QCOMPARE(f.plainTextEditSelecteurPosition->textCursor().selectedText(), QStringLiteral("élè"));
        QCOMPARE(drive(f.actionPrevisualisation).size(), 0);
        QCOMPARE(readPreview(w), std::optional(QByteArray("\xE9l\xE8")));
    }

    // A code field longer than most dBase readers take is said at once, and after the run.
    void longFieldWarning()
    {
        Codiflux w;
        load(w, clients(QStringLiteral("long.dbf")));
        for (const char* size : {"26x26", "32x32"}) {
            useDatamatrix(w, QLatin1String(size));
            drive(w.ui()->actionPrevisualisation);
            QCOMPARE(w.statusBar()->currentMessage().contains(QStringLiteral("254")), size[0] == '3');
            const QList<SeenModal> seen = drive(w.ui()->actionGenererBase,
                                                {ModalDriver::chooseFile(dir.filePath(QStringLiteral("long-code.dbf"))),
                                                 ModalDriver::click(QMessageBox::No), ModalDriver::close()});
            const QString result = seen.value(seen.size() - 1).text;  // a progress dialog may come before
            QCOMPARE(result == kSuccess, size[0] == '2');
            QVERIFY(result.startsWith(kSuccess) && result.contains(QStringLiteral("254")) == (size[0] == '3'));
        }
    }

    // The whole road on the sample bases: load, preview, generate, then every
    // record's code read back decodes to the record's value.
    void endToEnd_data()
    {
        QTest::addColumn<QString>("base");
        QTest::addColumn<bool>("qr");
        QTest::addColumn<bool>("options");  // mirror, no inversions, '|' ending the lines
        QTest::newRow("dbf, datamatrix") << "clients.dbf" << false << false;
        QTest::newRow("dbf, qr, options") << "clients.dbf" << true << true;
        QTest::newRow("text, datamatrix, options") << "adresses.txt" << false << true;
        QTest::newRow("csv, qr") << "clients.csv" << true << false;
    }
    void endToEnd()
    {
        QFETCH(QString, base);
        QFETCH(bool, qr);
        QFETCH(bool, options);
        const QString source = examples + QLatin1Char('/') + base;
        const QString out = dir.filePath(QString::fromLatin1(QTest::currentDataTag()).remove(QLatin1Char(',')));
        QVERIFY(QDir().mkpath(out));
        const QString destination = out + QStringLiteral("/encodee.") + QFileInfo(base).suffix();
        Codiflux w;
        CodifluxClass& f = *w.ui();
        load(w, source);
        if (base.endsWith(QLatin1String(".txt"))) {
            f.spinBoxPosDebut->setValue(1);
            f.spinBoxPosNbCar->setValue(10);
        } else {
            choose(f.comboBoxChamps, QStringLiteral("CODE"));
        }
        qr ? useQr(w) : useDatamatrix(w);
        f.checkBoxSupprimerGauche->setChecked(false);
        f.checkBoxSupprimerDroite->setChecked(false);
        f.checkBoxInvHorizontale->setChecked(options);
        f.checkBoxInvBits->setChecked(!options);
        f.checkBoxInvPixels->setChecked(!options);
        f.checkBoxFinLigne->setChecked(options);
        f.lineEditFinLigne->setText(QStringLiteral("|"));
        QCOMPARE(drive(f.actionPrevisualisation).size(), 0);
        const QByteArray shown = base.endsWith(QLatin1String(".txt"))
            ? readFile(source).left(10)
            : f.comboBoxEnregistrement->currentText().toLatin1();
        QCOMPARE(readPreview(w), std::optional(shown));
        const int width = f.lineEditNbColonnes->text().toInt();
        codiflux::FieldTextDecoder decoder(width, f.lineEditNbLignes->text().toInt(),
                                           {options, false, !options, !options, options, '|'}, codiflux::Symbology(qr));

        QList<ModalDriver::Step> steps{ModalDriver::chooseFile(destination)};
        if (base.endsWith(QLatin1String(".dbf")))
            steps << ModalDriver::click(QMessageBox::Yes);  // the text form too
        const QList<SeenModal> seen = drive(f.actionGenererBase, steps << ModalDriver::close());
        QCOMPARE(seen.value(seen.size() - 1).text, kSuccess);

        QList<QPair<QByteArray, QByteArray>> records;  // value, code
        if (base.endsWith(QLatin1String(".txt"))) {
            const QList<QByteArray> in = readFile(source).split('\n');
            const QList<QByteArray> lines = readFile(destination).split('\n');
            QCOMPARE(lines.size(), in.size());
            for (qsizetype i = 0; i + 1 < in.size(); ++i) {
                QCOMPARE(lines.at(i).left(70), in.at(i));
                records.append({in.at(i).left(10), lines.at(i).mid(70)});
            }
        } else {
            records = readRecords(destination);
        }
        if (base.endsWith(QLatin1String(".dbf")))
            QCOMPARE(readFile(out + QStringLiteral("/encodee.txt")).count('\n'), 300);
        QCOMPARE(records.size(), base.endsWith(QLatin1String(".txt")) ? 250 : 300);
        for (const auto& [value, code] : std::as_const(records)) {
            if (value.trimmed().isEmpty())
                continue;
            QCOMPARE(decoder.decode(code), std::optional(value));
        }
        QCOMPARE(QDir(out).entryList({QStringLiteral(".*.tmp")}, QDir::Files | QDir::Hidden), QStringList());
        QSettings settings(settingsFile(), QSettings::IniFormat);
        QCOMPARE(settings.value(QLatin1String(codiflux::keys::CheminEnregistrement)).toString(), out);
    }

    // Refusals before anything is written: the text, every file as it was.
    void refusal_data()
    {
        QTest::addColumn<QString>("destination");  // relative to the source's folder
        QTest::addColumn<bool>("text");
        QTest::addColumn<QString>("refusal");
        const QString same = QStringLiteral("Le fichier de destination doit être différent du fichier source.");
        QTest::newRow("the source") << "refus.dbf" << false << same;
        QTest::newRow("its text form is the source") << "refus.txt" << true << same;
    }
    void refusal()
    {
        QFETCH(QString, destination);
        QFETCH(bool, text);
        QFETCH(QString, refusal);
        const QString folder = dir.filePath(QStringLiteral("refus"));
        QVERIFY(QDir().mkpath(folder));
        const QString source = folder + QStringLiteral("/refus.dbf");
        QVERIFY(writeFile(source, readFile(clients(QStringLiteral("refus-src.dbf")))));
        QVERIFY(writeFile(folder + QStringLiteral("/refus.dbt"), "memo"));
        // The text form of a new DBF destination may be the source.
        const QString chosen
            = text ? dir.filePath(QStringLiteral("refus.dbf")) : folder + QLatin1Char('/') + destination;
        if (text)
            QVERIFY(QFile::link(source, dir.filePath(QStringLiteral("refus.txt"))));
        const QByteArray before = readFile(source);
        Codiflux w;
        load(w, source);
        QList<ModalDriver::Step> steps{ModalDriver::chooseFile(chosen)};
        if (text)
            steps << ModalDriver::click(QMessageBox::Yes);
        const QList<SeenModal> seen = drive(w.ui()->actionGenererBase, steps << ModalDriver::close());
        QCOMPARE(seen.value(seen.size() - 1).icon, QMessageBox::Critical);
        QVERIFY2(seen.value(seen.size() - 1).text.contains(refusal), qPrintable(seen.value(seen.size() - 1).text));
        QCOMPARE(readFile(source), before);
        QCOMPARE(readFile(folder + QStringLiteral("/refus.dbt")), QByteArray("memo"));
        QFile::remove(dir.filePath(QStringLiteral("refus.txt")));
    }

    // A record that cannot be encoded ends the run with its text and leaves
    // what was at the destination; so does a run the user stops.
    void failureAndCancel_data()
    {
        QTest::addColumn<int>("answer");  // to the cancel question; 0: no cancel
        QTest::newRow("a record fails") << 0;
        QTest::newRow("cancelled") << int(QMessageBox::Yes);
        QTest::newRow("cancel refused") << int(QMessageBox::No);
    }
    void failureAndCancel()
    {
        QFETCH(int, answer);
        QList<QList<QByteArray>> rows;
        for (int i = 0; i < (answer ? 20000 : 3); ++i)  // long enough to be cancelled
            rows.append({QByteArray::number(10000 + i)});
        if (!answer)
            rows[1] = {"12A45"};
        const QString destination = dir.filePath(QStringLiteral("sortie-%1.dbf").arg(answer));
        QVERIFY(writeFile(destination, "ancienne base"));
        Codiflux w;
        load(w, write(QStringLiteral("nombres-%1.dbf").arg(answer), testsupport::dbfBytes({{"NUM", 'C', 5}}, rows)));
        useQr(w, QStringLiteral("Numeric"));
        QList<ModalDriver::Step> steps{ModalDriver::chooseFile(destination), ModalDriver::click(QMessageBox::No)};
        if (answer)
            steps << cancelRun() << ModalDriver::click(QMessageBox::StandardButton(answer));
        const QList<SeenModal> seen = drive(w.ui()->actionGenererBase, steps << ModalDriver::close());
        const QString expected = answer == 0
            ? QStringLiteral("Erreur en cours d'encodage à l'enregistrement 2 valeur à encoder:\n12A45")
            : answer == QMessageBox::Yes ? QStringLiteral("Fabrication de la base encodée annulée.")
                                         : kSuccess;
        QCOMPARE(seen.value(seen.size() - 1).text, expected);
        if (answer == QMessageBox::No)
            QCOMPARE(readFile(destination).mid(4, 4), QByteArray("\x20\x4E\0\0", 4));  // 20000 records
        else
            QCOMPARE(readFile(destination), QByteArray("ancienne base"));
        QCOMPARE(QDir(dir.path()).entryList({QStringLiteral(".*.tmp")}, QDir::Files | QDir::Hidden), QStringList());
    }

    // A run whose coding hangs is stopped by the watchdog, with its text; the destination stays.
    void watchdogStopsAHungRun()
    {
        QThread* gui = QThread::currentThread();
        codiflux::setDatamatrixEncodeFunction([gui](QByteArrayView, const std::function<bool()>& library) {
            while (QThread::currentThread() != gui)
                QThread::msleep(5);  // a cancellation point: the termination takes effect here
            return library();
        });
        const QString destination = write(QStringLiteral("garde.dbf"), "ancienne base");
        Codiflux w;
        load(w, clients(QStringLiteral("garde-source.dbf")));
        useDatamatrix(w);
        const QList<SeenModal> seen
            = drive(w.ui()->actionGenererBase,
                    {ModalDriver::chooseFile(destination), ModalDriver::click(QMessageBox::No), ModalDriver::close()});
        codiflux::setDatamatrixEncodeFunction({});
        QCOMPARE(seen.value(seen.size() - 1).text,
                 QStringLiteral("Une erreur est survenue lors de l'encodage. L'enregistrement courant est le n°0"));
        QCOMPARE(readFile(destination), QByteArray("ancienne base"));
    }

    // The run ends while the cancel question is open: No then closes the
    // progress dialog on the success box, as the run's end would have.
    void runEndsDuringQuestion()
    {
        QList<QList<QByteArray>> rows;
        for (int i = 0; i < 3000; ++i)
            rows.append({"REF-" + QByteArray::number(1000000 + i)});
        const QString destination = dir.filePath(QStringLiteral("pendant-question.dbf"));
        // At libdmtx's pace (the hook keeps the library's path) the run lasts
        // long enough for the cancel button to be pressed while it codes.
        codiflux::setDatamatrixEncodeFunction(
            [](QByteArrayView, const std::function<bool()>& library) { return library(); });
        const auto unhook = qScopeGuard([] { codiflux::setDatamatrixEncodeFunction({}); });
        Codiflux w;
        load(w, write(QStringLiteral("moyenne.dbf"), testsupport::dbfBytes({{"REF", 'C', 12}}, rows)));
        useDatamatrix(w);
        QPointer<QProgressDialog> progress;
        bool endedBeforeAnswer = false;
        bool stuck = false;
        const ModalDriver::Step question{
            "QMessageBox", [&](QWidget* box) {
                endedBeforeAnswer = QTest::qWaitFor([&]() { return QFile::exists(destination); }, 120000);
                ModalDriver::click(QMessageBox::No).answer(box);
                // Should the dialog stay open, close it: the test fails, not hangs.
                QTimer::singleShot(0, &w, [&]() {
                    if (!QTest::qWaitFor([&]() { return !progress || !progress->isVisible(); }, 60000)) {
                        stuck = true;
                        progress->reset();
                    }
                });
            }};
        const QList<SeenModal> seen
            = drive(w.ui()->actionGenererBase,
                    {ModalDriver::chooseFile(destination), ModalDriver::click(QMessageBox::No),
                     cancelRun([&](QProgressDialog* dialog) { progress = dialog; }), question, ModalDriver::close()});
        QVERIFY(endedBeforeAnswer);
        QVERIFY2(!stuck, "the progress dialog stayed open after the run had ended");
        QCOMPARE(seen.value(seen.size() - 1).text, kSuccess);
    }

    // Parameter sets through the settings file: the default set, a new named
    // set in both menus, loaded back, removed; a file that cannot be written is told.
    void parameterSets()
    {
        QFile::remove(settingsFile());
        auto menuAction = [](QAction* menuOf, const QString& text) -> QAction* {
            for (QAction* a : menuOf->menu()->actions())
                if (a->text() == text)
                    return a;
            return nullptr;
        };
        {
            Codiflux w;
            CodifluxClass& f = *w.ui();
            QVERIFY(!menuAction(f.actionChargerParamParDefaut, QStringLiteral("Supprimer..."))->isEnabled());
            f.spinBoxModule->setValue(3);
            f.checkBoxInvBits->setChecked(false);
            f.lineEditFinLigne->setText(QStringLiteral("\\n"));
            useQr(w);
            drive(f.actionSauverParamParDefaut);
            f.spinBoxMarge->setValue(2);
            drive(menuAction(f.actionSauverParamParDefaut, QStringLiteral("Nouveau...")),
                  {enter(QStringLiteral("Étiquettes"))});
            QVERIFY(menuAction(f.actionChargerParamParDefaut, QStringLiteral("Supprimer..."))->isEnabled());
        }
        QSettings settings(settingsFile(), QSettings::IniFormat);
        codiflux::openParameterSet(settings);
        codiflux::ParameterSet expected;
        expected.encoding.moduleSize = 3;
        expected.fontText.bitInversion = false;
        expected.setEndOfLineText(QStringLiteral("\n"));
        expected.encoding.symbology = codiflux::Symbology::QRCode;
        expected.encoding.qrLevel = 1;
        expected.encoding.qrMode = 2;
        QCOMPARE(codiflux::readParameterSet(settings), expected);
        codiflux::closeAllGroups(settings);

        Codiflux w;
        CodifluxClass& f = *w.ui();
        QCOMPARE(f.spinBoxModule->value(), 3);  // the default set at start
        QCOMPARE(f.lineEditFinLigne->text(), QStringLiteral("\\n"));
        QCOMPARE(f.tabTypeWidget->currentIndex(), 1);
        QCOMPARE(f.spinBoxMarge->value(), 0);
        drive(menuAction(f.actionChargerParamParDefaut, QStringLiteral("Étiquettes")));
        QCOMPARE(f.spinBoxMarge->value(), 2);
        drive(menuAction(f.actionChargerParamParDefaut, QStringLiteral("Par Défaut")));
        QCOMPARE(f.spinBoxMarge->value(), 0);
        drive(menuAction(f.actionChargerParamParDefaut, QStringLiteral("Supprimer...")),
              {enter(QStringLiteral("Étiquettes"))});
        QVERIFY(!menuAction(f.actionSauverParamParDefaut, QStringLiteral("Étiquettes")));
        QCOMPARE(codiflux::parameterSetNames(settings), QStringList());

        QVERIFY(QFile::remove(settingsFile()) && QDir().mkpath(settingsFile()));  // a folder in the file's place
        const QList<SeenModal> seen = drive(f.actionSauverParamParDefaut, {ModalDriver::close()});
        QVERIFY(seen.value(seen.size() - 1)
                    .text.startsWith(QStringLiteral("Les paramètres n'ont pas pu être enregistrés")));
        QVERIFY(QDir(settingsFile()).removeRecursively());
    }

    // Closing asks first; the font is installed for the user from the menu;
    // the about box gives the version.
    void windowActions()
    {
        Codiflux w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        {
            ModalDriver driver({ModalDriver::click(QMessageBox::No)});
            QVERIFY(!w.close());
        }
        QVERIFY(w.isVisible());
        {
            ModalDriver driver({ModalDriver::click(QMessageBox::Yes)});
            QVERIFY(w.close());
        }
        const QString previous = QDir::currentPath();
        QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("police/RES"))));
        QVERIFY(writeFile(dir.filePath(QStringLiteral("police/RES/Quadrex.ttf")), "police"));
        QVERIFY(QDir::setCurrent(dir.filePath(QStringLiteral("police"))));
        const QList<SeenModal> seen = drive(w.ui()->actionInstallerPolice, {ModalDriver::close()});
        QVERIFY(QDir::setCurrent(previous));
        QCOMPARE(seen.value(seen.size() - 1).icon, QMessageBox::Information);
        QCOMPARE(readFile(dir.filePath(QStringLiteral("data/fonts/Quadrex.ttf"))), QByteArray("police"));

        QCOMPARE(readVersionString(QStringLiteral("FileVersion")), QStringLiteral(CODIFLUX_PRODUCT_VERSION));
        QCOMPARE(readVersionString(QStringLiteral("Autre")), QString());
        const QList<SeenModal> about = drive(w.ui()->actionAbout, {ModalDriver::close()});
        QVERIFY(about.value(0).text.contains(QString::fromLatin1(CODIFLUX_PRODUCT_VERSION).replace(',', '.')));
    }
};

QTEST_MAIN(TestWindow)
#include "test_window.moc"
