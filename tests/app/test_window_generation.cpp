// Generation of the encoded base from the main window: what the window hands
// the worker, the destination dialog, the same-file box, the TXT question,
// the progress dialog with its cancel question, the watchdog, the result
// boxes and the folder remembered for the next time. Every dialog and box is
// answered by the test; every written code is read back with zxing-cpp.

#include "app/codiflux.h"
#include "codes/encoding.h"
#include "codes/fonttext.h"
#include "codes/verify.h"
#include "generation/baseencoder.h"
#include "generation/job.h"
#include "generation_driver.h"
#include "settings/parametres.h"
#include "tests/support/dbf_builder.h"
#include "tests/support/files.h"
#include "ui_codiflux.h"

#include <dmtx.h>
#include <qrencode.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QSettings>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStatusBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextCursor>
#include <QtTest>

#include <atomic>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// Reaches the window's private state.
struct CodifluxInspector {
    // Loads a base as chargerBase() does once its dialog has answered.
    static bool load(Codiflux& w, const QString& path)
    {
        w.form.lineEditBaseSource->setText(path);
        return w.chargerFichier(path);
    }
    static codiflux::GenerationJob capture(const Codiflux& w, const QString& output, bool txt)
    {
        return w.captureJob(output, txt);
    }
    static void setBaseKind(Codiflux& w, int kind) { w.baseKind = codiflux::BaseKind(kind); }
    static bool generating(const Codiflux& w) { return w.baseEncoder != nullptr || w.progressDialog != nullptr; }
    static bool workerFinished(const Codiflux& w) { return w.baseEncoder && w.baseEncoder->isFinished(); }
    static QProgressDialog* progressDialog(const Codiflux& w) { return w.progressDialog; }
    static codiflux::BaseEncoder* encoder(const Codiflux& w) { return w.baseEncoder; }
};
using Inspect = CodifluxInspector;

namespace {

const QString kTitle = QStringLiteral("Génération d'une base...");
const QString kResultTitle = QStringLiteral("Génération base...");
const QString kSameFile = QStringLiteral("Le fichier de destination doit être différent du fichier source.");
const QString kTxtQuestion = QStringLiteral("Souhaitez-vous également générer une base en format TXT ?");
const QString kCancelQuestion = QStringLiteral("Souhaitez-vous réellement interrompre la génération de la base ?");
const QString kSuccess = QStringLiteral("Fabrication de la base encodée correcte.");
const QString kCancelled = QStringLiteral("Fabrication de la base encodée annulée.");
const QString kLabel = QStringLiteral("\t\tEncodage de la base en cours...\t\t");
const QString kWatchdog
    = QStringLiteral("Une erreur est survenue lors de l'encodage. L'enregistrement courant est le n°%1");

// ---- bases written by the test ---------------------------------------------

using testsupport::readFile;
using testsupport::writeFile;

// A dBase III table of character fields; `rows` holds one row per record,
// each value padded with blanks to its field's length.
QByteArray dbfBytes(const QList<testsupport::DbfField>& fields, const QList<QList<QByteArray>>& rows)
{
    return testsupport::dbfBytes(fields, rows, {.month = 1, .day = 15});
}

// Every entry of a folder, hidden files included, with its size.
QStringList listing(const QString& folder)
{
    QStringList out;
    const QFileInfoList entries
        = QDir(folder).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& e : entries)
        out << e.fileName() + QLatin1Char(':') + QString::number(e.isSymLink() ? -1 : e.size());
    return out;
}

// Hidden temporary files left in a folder.
QStringList temporaries(const QString& folder)
{
    return QDir(folder).entryList({QStringLiteral(".*.tmp")}, QDir::Files | QDir::Hidden);
}

// ---- the window's controls ---------------------------------------------------

void select(QComboBox* box, int value)
{
    const int index = box->findData(value, Qt::UserRole);
    QVERIFY2(index >= 0, qPrintable(QStringLiteral("no entry with data %1").arg(value)));
    box->setCurrentIndex(index);
}

void useDatamatrix(Codiflux& w, int size = DmtxSymbolSquareAuto, int scheme = DmtxSchemeAutoBest)
{
    CodifluxClass& f = *w.ui();
    f.tabTypeWidget->setCurrentIndex(int(codiflux::Symbology::Datamatrix));
    f.spinBoxModule->setValue(1);
    f.spinBoxMarge->setValue(0);
    select(f.comboBoxTailleDatamatrix, size);
    select(f.comboBoxModeEncodage, scheme);
}

void useQr(Codiflux& w, int mode = QR_MODE_8, int level = QR_ECLEVEL_L, int version = 0)
{
    CodifluxClass& f = *w.ui();
    f.tabTypeWidget->setCurrentIndex(int(codiflux::Symbology::QRCode));
    f.spinBoxVersionQRCode->setValue(version);
    select(f.comboBoxECLevelQRCode, level);
    select(f.comboBoxModeEncodageQRCode, mode);
}

void plainOptions(Codiflux& w)
{
    CodifluxClass& f = *w.ui();
    f.checkBoxInvHorizontale->setChecked(false);
    f.checkBoxInvVerticale->setChecked(false);
    f.checkBoxInvBits->setChecked(false);
    f.checkBoxInvPixels->setChecked(false);
    f.checkBoxFinLigne->setChecked(false);
    f.radioButtonEmptyGenCode->setChecked(true);
}

// The column range of a loaded text base, through the spin boxes' own slots.
void selectRange(Codiflux& w, int start, int count)
{
    w.ui()->spinBoxPosDebut->setValue(start);
    w.ui()->spinBoxPosNbCar->setValue(count);
}

QVariant settingValue()
{
    QSettings s(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Codiflux"), QString());
    return s.value(QLatin1String(codiflux::keys::CheminEnregistrement));
}

void setSetting(const QVariant& value)
{
    QSettings s(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Codiflux"), QString());
    if (value.isValid())
        s.setValue(QLatin1String(codiflux::keys::CheminEnregistrement), value);
    else
        s.remove(QLatin1String(codiflux::keys::CheminEnregistrement));
    s.sync();
}

// Runs the slot with the steps answering its dialogs; fails when a step was
// not used or an unexpected box appeared.
void generate(Codiflux& w, ModalSteps& steps)
{
    w.genererBase();
    for (const SeenModal& s : std::as_const(steps.seen)) {
        if (!s.expected && s.className != QLatin1String("QProgressDialog"))
            qWarning("unexpected %s \"%s\": %s", qPrintable(s.className), qPrintable(s.title), qPrintable(s.text));
    }
    QVERIFY2(steps.done(), "a dialog the test answers did not appear");
    QCOMPARE(steps.unexpected(), 0);
    QVERIFY(!Inspect::generating(w));
}

void verifyBox(const SeenModal& seen, QMessageBox::Icon icon, const QString& title, const QString& text,
               QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton, QWidget* parent)
{
    QCOMPARE(seen.className, QStringLiteral("QMessageBox"));
    QCOMPARE(seen.icon, icon);
    QCOMPARE(seen.title, title);
    QCOMPARE(seen.text, text);
    QCOMPARE(seen.buttons, buttons);
    QCOMPARE(seen.defaultButton, defaultButton);
    QCOMPARE(seen.parentWidget, parent);
}

void verifySuccess(const SeenModal& seen, QWidget* parent)
{
    verifyBox(seen, QMessageBox::Information, kResultTitle, kSuccess, QMessageBox::Close, QMessageBox::Close, parent);
}

void verifyWarning(const SeenModal& seen, const QString& text, QWidget* parent)
{
    verifyBox(seen, QMessageBox::Warning, kResultTitle, text, QMessageBox::Close, QMessageBox::Close, parent);
}

// ---- reading the output back -------------------------------------------------

quint32 le(const QByteArray& b, int at, int bytes)
{
    quint32 v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = (v << 8) | quint8(b.at(at + i));
    return v;
}

// The W x H grid of the sample's symbol, from the library directly.
bool sampleGrid(const codiflux::EncodingParameters& p, const QByteArray& sample, int* width, int* height)
{
    codiflux::EncodedSymbol symbol;
    codiflux::Encoder(p).encode(sample, symbol);
    if (!symbol.isValid())
        return false;
    *width = symbol.grid().width();
    *height = symbol.grid().height();
    return true;
}

// Decodes the code field of every record of an encoded DBF whose source had
// one character field holding the value, and compares with `values`.
void verifyEncodedDbf(const QString& path, const QList<QByteArray>& values, int valueLength,
                      const codiflux::EncodingParameters& p, const codiflux::FontTextOptions& o, int width, int height)
{
    const QByteArray b = readFile(path);
    QVERIFY(b.size() > 32);
    QCOMPARE(quint8(b.at(0)), quint8(0x03));
    QCOMPARE(le(b, 4, 4), quint32(values.size()));
    const int headerLength = int(le(b, 8, 2));
    const int recordLength = int(le(b, 10, 2));
    const int fieldLength = codiflux::fieldLength(width, height, o.endOfLine);
    QCOMPARE(recordLength, 1 + valueLength + fieldLength);
    QCOMPARE(qint64(b.size()), qint64(headerLength) + qint64(recordLength) * values.size());
    codiflux::FieldTextDecoder decoder(width, height, o, p.symbology);
    for (qsizetype i = 0; i < values.size(); ++i) {
        const char* record = b.constData() + headerLength + i * recordLength;
        const QByteArray value = values.at(i).leftJustified(valueLength, ' ', true);
        QCOMPARE(QByteArray(record + 1, valueLength), value);
        const auto decoded = decoder.decode(record + 1 + valueLength, fieldLength);
        QVERIFY2(decoded.has_value(), qPrintable(QStringLiteral("record %1 does not decode").arg(i + 1)));
        QCOMPARE(*decoded, value);
    }
}

}  // namespace

class TestWindowGeneration : public QObject {
    Q_OBJECT

private:
    QTemporaryDir settingsDir;
    QTemporaryDir data;
    QString dbfPath;      // CODE (8) and NOM (10), 5 records
    QString textPath;     // 5 lines of 12 characters
    QString bigPath;      // 8 000 records, long enough to cancel
    QString mediumPath;   // 3 000 records
    QString failingPath;  // digits, then a record with a letter
    QList<QByteArray> dbfCodes;
    QStringList textLines;
    const QList<QByteArray> failingValues{"12345", "67890", "12A45", "11111"};
    int linkFolders = 0;

    QString folder(const QString& name)
    {
        const QString path = data.filePath(name);
        QDir().mkpath(path);
        return path;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(settingsDir.isValid());
        QVERIFY(data.isValid());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir.path());

        dbfCodes = {"A1B2C3", "Zoé 42", "X-9", "COD1234", "QWERTY"};
        QList<QList<QByteArray>> rows;
        const QList<QByteArray> names{"Müller", "Dupré", "Noël", "Faure", "Leroy"};
        for (qsizetype i = 0; i < dbfCodes.size(); ++i)
            rows.append({QString::fromUtf8(dbfCodes.at(i)).toLatin1(), QString::fromUtf8(names.at(i)).toLatin1()});
        for (QByteArray& c : dbfCodes)
            c = QString::fromUtf8(c).toLatin1();
        dbfPath = folder(QStringLiteral("src")) + QStringLiteral("/clients.dbf");
        QVERIFY(writeFile(dbfPath, dbfBytes({{"CODE", 'C', 8}, {"NOM", 'C', 10}}, rows)));

        textLines = {QStringLiteral("AB0001 Paris"), QStringLiteral("AB0002 Lyon "), QStringLiteral("AB0003 Nice "),
                     QStringLiteral("AB0004 Metz "), QStringLiteral("AB0005 Dole ")};
        textPath = folder(QStringLiteral("src")) + QStringLiteral("/adresses.txt");
        QVERIFY(writeFile(textPath, textLines.join(QLatin1Char('\n')).toLatin1() + '\n'));

        QList<QList<QByteArray>> big;
        big.reserve(8000);
        for (int i = 0; i < 8000; ++i)
            big.append({QByteArray("REF-") + QByteArray::number(1000000 + i * 7) + "-FR"});
        bigPath = folder(QStringLiteral("src")) + QStringLiteral("/grande.dbf");
        QVERIFY(writeFile(bigPath, dbfBytes({{"REF", 'C', 20}}, big)));
        mediumPath = folder(QStringLiteral("src")) + QStringLiteral("/moyenne.dbf");
        QVERIFY(writeFile(mediumPath, dbfBytes({{"REF", 'C', 20}}, big.mid(0, 3000))));

        QList<QList<QByteArray>> failing;
        for (const QByteArray& v : failingValues)
            failing.append({v});
        failingPath = folder(QStringLiteral("src")) + QStringLiteral("/echec.dbf");
        QVERIFY(writeFile(failingPath, dbfBytes({{"NUM", 'C', 5}}, failing)));
    }

    void init() { setSetting(QVariant()); }

    // What the worker gets is read from the controls on the GUI thread.
    void capturedJob()
    {
        Codiflux w;
        QVERIFY(Inspect::load(w, dbfPath));
        CodifluxClass& f = *w.ui();
        useQr(w, QR_MODE_AN, QR_ECLEVEL_Q, 7);
        f.spinBoxModule->setValue(3);
        f.spinBoxMarge->setValue(2);
        select(f.comboBoxTailleDatamatrix, DmtxSymbol16x48);
        select(f.comboBoxModeEncodage, DmtxSchemeC40);
        f.checkBoxInvHorizontale->setChecked(true);
        f.checkBoxInvVerticale->setChecked(false);
        f.checkBoxInvBits->setChecked(true);
        f.checkBoxInvPixels->setChecked(false);
        f.checkBoxFinLigne->setChecked(true);
        f.lineEditFinLigne->setText(QStringLiteral("|x"));
        f.radioButtoEmptySpaces->setChecked(true);
        f.comboBoxChamps->setCurrentIndex(1);
        f.comboBoxEnregistrement->setCurrentIndex(2);
        f.lineEditNomChampSortie->setText(QStringLiteral("_CODEÉ"));

        codiflux::GenerationJob job = Inspect::capture(w, QStringLiteral("/tmp/sortie.dbf"), true);
        QCOMPARE(job.typeSource, codiflux::BaseKind::Dbf);
        QCOMPARE(job.sourcePath, dbfPath);
        QCOMPARE(job.outputPath, QStringLiteral("/tmp/sortie.dbf"));
        QVERIFY(job.writeText);
        QCOMPARE(job.parameters.symbology, codiflux::Symbology::QRCode);
        QCOMPARE(job.parameters.moduleSize, 3);
        QCOMPARE(job.parameters.marginSize, 2);
        QCOMPARE(job.parameters.sizeRequest, int(DmtxSymbol16x48));
        QCOMPARE(job.parameters.scheme, int(DmtxSchemeC40));
        QCOMPARE(job.parameters.qrVersion, 7);
        QCOMPARE(job.parameters.qrLevel, int(QR_ECLEVEL_Q));
        QCOMPARE(job.parameters.qrMode, int(QR_MODE_AN));
        QCOMPARE(job.options.horizontalInversion, true);
        QCOMPARE(job.options.verticalInversion, false);
        QCOMPARE(job.options.bitInversion, true);
        QCOMPARE(job.options.pixelInversion, false);
        QCOMPARE(job.options.endOfLine, true);
        QCOMPARE(job.options.endOfLineCharacter, '|');
        QCOMPARE(job.blankCodes, false);
        QCOMPARE(job.fieldIndex, 1);
        QCOMPARE(job.newFieldName, QStringLiteral("_CODEÉ"));
        // The record shown (as the table reads it), padded to the field's
        // length, one byte per character.
        QByteArray shown("No\xEBl      ");
        codiflux::oemToAnsi(shown.constData(), shown.data(), std::size_t(shown.size()));
        QCOMPARE(f.comboBoxEnregistrement->currentText().toLatin1(), shown);
        QCOMPARE(job.sample, shown);

        // No current entry: the value 0; the symbology follows the tab.
        f.comboBoxTailleDatamatrix->setCurrentIndex(-1);
        f.tabTypeWidget->setCurrentIndex(int(codiflux::Symbology::Datamatrix));
        f.lineEditFinLigne->clear();
        job = Inspect::capture(w, QStringLiteral("x.dbf"), false);
        QCOMPARE(job.parameters.sizeRequest, 0);
        QCOMPARE(job.parameters.symbology, codiflux::Symbology::Datamatrix);
        QCOMPARE(job.options.endOfLineCharacter, ' ');
        QVERIFY(!job.writeText);
        QVERIFY(!job.trimStart && !job.trimEnd);

        // The preview's space removal and the line feed as end-of-line go to the run too.
        f.checkBoxSupprimerDroite->setChecked(true);
        f.lineEditFinLigne->setText(QStringLiteral("\\n"));
        job = Inspect::capture(w, QStringLiteral("x.dbf"), false);
        QVERIFY(!job.trimStart && job.trimEnd);
        QCOMPARE(job.options.endOfLineCharacter, '\n');

        // A text base: the selected columns of the line holding the cursor.
        QVERIFY(Inspect::load(w, textPath));
        QPlainTextEdit* view = f.plainTextEditSelecteurPosition;
        QTextCursor cursor(view->document()->findBlockByNumber(2));
        view->setTextCursor(cursor);
        selectRange(w, 3, 4);
        job = Inspect::capture(w, QStringLiteral("x.txt"), false);
        QCOMPARE(job.typeSource, codiflux::BaseKind::Text);
        QCOMPARE(job.rangeStart, 3);
        QCOMPARE(job.rangeCount, 4);
        QCOMPARE(job.sample, QByteArray("0003"));
        selectRange(w, 0, 0);
        QCOMPARE(f.spinBoxPosDebut->value(), 0);
        job = Inspect::capture(w, QStringLiteral("x.txt"), false);
        QVERIFY(job.sample.isEmpty());
    }

    void noBase()
    {
        Codiflux w;
        ModalSteps steps({});
        generate(w, steps);
        QCOMPARE(steps.seen.size(), qsizetype(0));
        QVERIFY(!settingValue().isValid());
    }

    void destinationCancelled_data()
    {
        QTest::addColumn<bool>("text");
        QTest::addColumn<bool>("remembered");
        QTest::newRow("dbf, remembered folder") << false << true;
        QTest::newRow("dbf, no folder yet") << false << false;
        QTest::newRow("text, remembered folder") << true << true;
    }
    void destinationCancelled()
    {
        QFETCH(bool, text);
        QFETCH(bool, remembered);
        const QString start = folder(QStringLiteral("depart"));
        if (remembered)
            setSetting(start);
        const QStringList before = listing(start);
        const QStringList sourceBefore = listing(QFileInfo(dbfPath).path());

        Codiflux w;
        QVERIFY(Inspect::load(w, text ? textPath : dbfPath));
        if (text)
            selectRange(w, 1, 6);
        ModalSteps steps({ModalSteps::cancelFile()});
        generate(w, steps);

        const SeenModal& d = steps.answered.at(0);
        QCOMPARE(d.className, QStringLiteral("QFileDialog"));
        QCOMPARE(d.title, kTitle);
        QCOMPARE(d.parentWidget, &w);
        QCOMPARE(d.acceptMode, QFileDialog::AcceptSave);
        QCOMPARE(d.nameFilters,
                 QStringList{text ? QStringLiteral("Fichier texte (*.txt)") : QStringLiteral("Base DBF (*.dbf)")});
        QCOMPARE(d.directory, remembered ? start : QDir::current().absolutePath());
        QCOMPARE(steps.seen.size(), qsizetype(1));
        // Nothing written, the key as it was.
        QCOMPARE(listing(start), before);
        QCOMPARE(listing(QFileInfo(dbfPath).path()), sourceBefore);
        QCOMPARE(settingValue(), remembered ? QVariant(start) : QVariant());
    }

    // The source itself, however its path is written, is refused.
    void sameFile_data()
    {
        QTest::addColumn<bool>("text");
        QTest::addColumn<QString>("how");
        QTest::newRow("dbf, same path") << false << "same";
        QTest::newRow("dbf, ./ in the path") << false << "dot";
        QTest::newRow("dbf, symbolic link") << false << "link";
        QTest::newRow("dbf, derived text path is the source") << false << "derived";
        QTest::newRow("dbf, its memo file") << false << "memo";
        QTest::newRow("text, same path") << true << "same";
        QTest::newRow("text, ./ and .. in the path") << true << "dot";
        QTest::newRow("text, symbolic link") << true << "link";
    }
    void sameFile()
    {
        QFETCH(bool, text);
        QFETCH(QString, how);
        const QString source = text ? textPath : dbfPath;
        const QFileInfo info(source);
        const QString other = folder(QStringLiteral("lien-%1").arg(++linkFolders));
        // The base is loaded under `loaded`, the destination chosen is `destination`.
        QString loaded = source;
        QString destination;
        bool exists = true;
        if (how == QLatin1String("same")) {
            destination = source;
        } else if (how == QLatin1String("dot")) {
            loaded = info.path() + QStringLiteral("/./../") + info.dir().dirName() + QStringLiteral("/./")
                + info.fileName();
            destination = source;
        } else if (how == QLatin1String("link")) {
            destination = other + QLatin1Char('/') + info.fileName();
            QVERIFY(QFile::link(source, destination));
        } else if (how == QLatin1String("memo")) {
            destination = info.path() + QLatin1Char('/') + info.completeBaseName() + QStringLiteral(".dbt");
            QVERIFY(writeFile(destination, "memo"));
        } else {
            // The DBF destination is new, its text form is the source.
            destination = other + QStringLiteral("/encodee.dbf");
            QVERIFY(QFile::link(source, other + QStringLiteral("/encodee.txt")));
            exists = false;
        }
        const QString remembered = folder(QStringLiteral("ailleurs"));
        setSetting(remembered);
        const QByteArray sourceBytes = readFile(source);
        const QStringList sourceFolder = listing(info.path());
        const QStringList otherFolder = listing(other);

        Codiflux w;
        QVERIFY(Inspect::load(w, loaded));
        if (text)
            selectRange(w, 1, 6);
        else
            useDatamatrix(w);
        QList<ModalSteps::Step> answers{ModalSteps::chooseFile(destination)};
        if (exists)
            answers << ModalSteps::click(QMessageBox::Yes);  // the file dialog's overwrite confirmation
        if (how == QLatin1String("derived"))
            answers << ModalSteps::click(QMessageBox::Yes);  // TXT as well
        answers << ModalSteps::close();
        ModalSteps steps(answers);
        generate(w, steps);

        if (how == QLatin1String("derived"))
            verifyBox(steps.answered.at(1), QMessageBox::Question, kTitle, kTxtQuestion,
                      QMessageBox::Yes | QMessageBox::No, QMessageBox::No, &w);
        const QString refusal = how == QLatin1String("memo")
            ? QStringLiteral("Le fichier de destination doit être différent du fichier mémo de la base d'origine "
                             "(%1).")
                  .arg(destination)
            : kSameFile;
        verifyBox(steps.answered.last(), QMessageBox::Critical, kTitle, refusal, QMessageBox::Close, QMessageBox::Close,
                  &w);
        QCOMPARE(readFile(source), sourceBytes);
        if (how == QLatin1String("memo"))
            QCOMPARE(readFile(destination), QByteArray("memo"));
        QCOMPARE(listing(info.path()), sourceFolder);
        QCOMPARE(listing(other), otherFolder);
        QCOMPARE(settingValue(), QVariant(remembered));
        if (how == QLatin1String("memo"))
            QVERIFY(QFile::remove(destination));
    }

    // A text source: no TXT question, the chosen .txt only.
    void textSource_data()
    {
        QTest::addColumn<bool>("qr");
        QTest::newRow("datamatrix") << false;
        QTest::newRow("qr") << true;
    }
    void textSource()
    {
        QFETCH(bool, qr);
        const QString out = folder(QStringLiteral("texte-") + QLatin1String(qr ? "qr" : "dm"));
        const QString destination = out + QStringLiteral("/encodee.txt");
        Codiflux w;
        QVERIFY(Inspect::load(w, textPath));
        if (qr)
            useQr(w);
        else
            useDatamatrix(w);
        plainOptions(w);
        selectRange(w, 1, 6);
        const codiflux::GenerationJob job = Inspect::capture(w, destination, false);

        ModalSteps steps({ModalSteps::chooseFile(destination), ModalSteps::close()});
        generate(w, steps);
        QCOMPARE(steps.answered.size(), qsizetype(2));
        QCOMPARE(steps.answered.at(0).nameFilters, QStringList{QStringLiteral("Fichier texte (*.txt)")});
        verifySuccess(steps.answered.at(1), &w);

        QCOMPARE(QDir(out).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("encodee.txt")});
        QCOMPARE(settingValue(), QVariant(out));

        int width = 0, height = 0;
        QVERIFY(sampleGrid(job.parameters, QByteArray("AB0001"), &width, &height));
        const int r = codiflux::fieldLength(width, height, false);
        const QList<QByteArray> lines = readFile(destination).split('\n');
        QCOMPARE(lines.size(), textLines.size() + 1);
        QVERIFY(lines.last().isEmpty());
        codiflux::FieldTextDecoder decoder(width, height, job.options, job.parameters.symbology);
        for (qsizetype i = 0; i < textLines.size(); ++i) {
            const QByteArray source = textLines.at(i).toLatin1();
            QCOMPARE(lines.at(i).size(), source.size() + r);
            QCOMPARE(lines.at(i).left(source.size()), source);
            const auto decoded = decoder.decode(lines.at(i).mid(source.size()));
            QVERIFY(decoded.has_value());
            QCOMPARE(*decoded, source.left(6));
        }
    }

    // A DBF source: the TXT question, then the DBF alone or both files.
    void dbfSource_data()
    {
        QTest::addColumn<bool>("txt");
        QTest::newRow("dbf only") << false;
        QTest::newRow("dbf and txt") << true;
    }
    void dbfSource()
    {
        QFETCH(bool, txt);
        const QString out = folder(QStringLiteral("dbf-") + QLatin1String(txt ? "txt" : "seule"));
        const QString destination = out + QStringLiteral("/encodee.dbf");
        Codiflux w;
        QVERIFY(Inspect::load(w, dbfPath));
        useDatamatrix(w);
        plainOptions(w);
        const codiflux::GenerationJob job = Inspect::capture(w, destination, txt);

        ModalSteps steps({ModalSteps::chooseFile(destination),
                          ModalSteps::click(txt ? QMessageBox::Yes : QMessageBox::No), ModalSteps::close()});
        generate(w, steps);
        QCOMPARE(steps.answered.size(), qsizetype(3));
        verifyBox(steps.answered.at(1), QMessageBox::Question, kTitle, kTxtQuestion, QMessageBox::Yes | QMessageBox::No,
                  QMessageBox::No, &w);
        verifySuccess(steps.answered.at(2), &w);

        QStringList expected{QStringLiteral("encodee.dbf")};
        if (txt)
            expected << QStringLiteral("encodee.txt");
        QCOMPARE(QDir(out).entryList(QDir::Files | QDir::Hidden, QDir::Name), expected);
        QCOMPARE(settingValue(), QVariant(out));

        int width = 0, height = 0;
        QVERIFY(sampleGrid(job.parameters, job.sample, &width, &height));
        // The CODE field comes first: check its codes; the source's NOM follows it.
        const QByteArray b = readFile(destination);
        const int headerLength = int(le(b, 8, 2));
        QCOMPARE(headerLength, 32 * 4 + 1);
        const int r = codiflux::fieldLength(width, height, false);
        QCOMPARE(int(le(b, 10, 2)), 1 + 8 + 10 + r);
        QCOMPARE(QByteArray(b.constData() + 32 + 64, 5), QByteArray("_CODE"));
        codiflux::FieldTextDecoder decoder(width, height, job.options, job.parameters.symbology);
        for (qsizetype i = 0; i < dbfCodes.size(); ++i) {
            const char* record = b.constData() + headerLength + i * (19 + r);
            const auto decoded = decoder.decode(record + 19, r);
            QVERIFY(decoded.has_value());
            // The value as listed: the table's OEM text converted.
            QByteArray listed = dbfCodes.at(i).leftJustified(8, ' ');
            codiflux::oemToAnsi(listed.constData(), listed.data(), std::size_t(listed.size()));
            QCOMPARE(*decoded, listed);
        }
        if (txt) {
            const QList<QByteArray> lines = readFile(out + QStringLiteral("/encodee.txt")).split('\n');
            QCOMPARE(lines.size(), dbfCodes.size() + 1);
            for (qsizetype i = 0; i < dbfCodes.size(); ++i)
                QCOMPARE(lines.at(i), QByteArray(b.constData() + headerLength + i * (19 + r) + 1, 18 + r));
        }
    }

    // A code field above 254 characters: written all the same, with the
    // warning that most dBase readers cut it in the result box.
    void longCodeFieldWarning()
    {
        const QString destination = folder(QStringLiteral("long")) + QStringLiteral("/encodee.dbf");
        Codiflux w;
        QVERIFY(Inspect::load(w, dbfPath));
        useDatamatrix(w, DmtxSymbol32x32);
        w.ui()->checkBoxFinLigne->setChecked(true);  // 8 bands of 33: R = 264
        w.ui()->actionPrevisualisation->trigger();   // the preview says it at once, in the status bar
        QVERIFY(w.ui()->statusBar->currentMessage().contains(QStringLiteral("plus de 254 caractères")));
        ModalSteps steps(
            {ModalSteps::chooseFile(destination), ModalSteps::click(QMessageBox::No), ModalSteps::close()});
        generate(w, steps);
        const SeenModal& result = steps.answered.at(2);
        QCOMPARE(result.icon, QMessageBox::Warning);
        QCOMPARE(result.title, kResultTitle);
        QVERIFY2(
            result.text.startsWith(kSuccess + QStringLiteral("\n\nAttention : le champ du code fait 264 caractères."))
                && result.text.contains(QStringLiteral("plus de 254 caractères"))
                && result.text.contains(QStringLiteral("LibreOffice")),
            qPrintable(result.text));
        const QByteArray b = readFile(destination);
        QCOMPARE(int(le(b, 32 * 3 + 16, 2)), 264);
    }

    // The cancel button asks first: No goes on to the end, Yes stops the run
    // and leaves what was at the destination.
    void cancel_data()
    {
        QTest::addColumn<bool>("confirm");
        QTest::newRow("no, the run goes on") << false;
        QTest::newRow("yes, the run stops") << true;
    }
    void cancel()
    {
        QFETCH(bool, confirm);
        const QString out = folder(QStringLiteral("annulation-") + QLatin1String(confirm ? "oui" : "non"));
        const QString destination = out + QStringLiteral("/encodee.dbf");
        const QByteArray previous("une base encodée précédente, à garder telle quelle");
        QVERIFY(writeFile(destination, previous));

        Codiflux w;
        QVERIFY(Inspect::load(w, bigPath));
        useDatamatrix(w);
        plainOptions(w);

        int valueAtCancel = -1;
        ModalSteps steps({ModalSteps::chooseFile(destination), ModalSteps::click(QMessageBox::Yes),
                          ModalSteps::click(QMessageBox::No), ModalSteps::progress([&](QProgressDialog* dialog) {
                              valueAtCancel = dialog->value();
                              ModalSteps::clickCancel(dialog);
                          }),
                          ModalSteps::click(confirm ? QMessageBox::Yes : QMessageBox::No), ModalSteps::close()});
        generate(w, steps);
        QCOMPARE(steps.answered.size(), qsizetype(6));

        const SeenModal& progress = steps.answered.at(3);
        QCOMPARE(progress.className, QStringLiteral("QProgressDialog"));
        QCOMPARE(progress.title, kTitle);
        QCOMPARE(progress.label, kLabel);
        QCOMPARE(progress.autoReset, false);
        QCOMPARE(progress.autoClose, true);
        QCOMPARE(progress.modality, Qt::WindowModal);
        QCOMPARE(progress.parentWidget, &w);
        QVERIFY2(valueAtCancel < 1000, "the run ended before the cancel button was clicked");

        verifyBox(steps.answered.at(4), QMessageBox::Question, kTitle, kCancelQuestion,
                  QMessageBox::Yes | QMessageBox::No, QMessageBox::No, &w);
        if (confirm) {
            verifyWarning(steps.answered.at(5), kCancelled, &w);
            QCOMPARE(readFile(destination), previous);
        } else {
            verifySuccess(steps.answered.at(5), &w);
            const QByteArray b = readFile(destination);
            QVERIFY(b.size() > 32);
            QCOMPARE(le(b, 4, 4), 8000u);
            QCOMPARE(qint64(b.size()), qint64(le(b, 8, 2)) + qint64(le(b, 10, 2)) * 8000);
        }
        QCOMPARE(temporaries(out), QStringList());
        QCOMPARE(QDir(out).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("encodee.dbf")});
        QCOMPARE(settingValue(), QVariant(out));
    }

    // The run ends while the cancel question is open: its end is not lost,
    // and No closes the dialog on the success box.
    void runEndsDuringQuestion()
    {
        const QString out = folder(QStringLiteral("fin-pendant-question"));
        const QString destination = out + QStringLiteral("/encodee.dbf");
        Codiflux w;
        QVERIFY(Inspect::load(w, mediumPath));
        useDatamatrix(w);
        plainOptions(w);

        bool endedBeforeAnswer = false;
        bool stuck = false;
        // Should the dialog stay open with nothing running, close it so that
        // the test reports the fault instead of hanging.
        QTimer rescue;
        rescue.setSingleShot(true);
        QObject::connect(&rescue, &QTimer::timeout, &w, [&]() {
            if (QProgressDialog* dialog = Inspect::progressDialog(w)) {
                stuck = true;
                dialog->cancel();
            }
        });
        ModalSteps steps({ModalSteps::chooseFile(destination),
                          ModalSteps::click(QMessageBox::No),
                          ModalSteps::progress([](QProgressDialog* dialog) { ModalSteps::clickCancel(dialog); }),
                          {ModalSteps::MessageBox,
                           [&](QWidget* modal) {
                               QElapsedTimer clock;
                               clock.start();
                               while (!Inspect::workerFinished(w) && clock.elapsed() < 20000)
                                   QTest::qWait(5);
                               endedBeforeAnswer = Inspect::workerFinished(w);
                               qobject_cast<QMessageBox*>(modal)->button(QMessageBox::No)->click();
                               rescue.start(3000);
                           }},
                          ModalSteps::close()});
        generate(w, steps);
        QVERIFY(endedBeforeAnswer);
        QVERIFY2(!stuck, "the progress dialog stayed open after the run had ended");
        verifyBox(steps.answered.at(3), QMessageBox::Question, kTitle, kCancelQuestion,
                  QMessageBox::Yes | QMessageBox::No, QMessageBox::No, &w);
        verifySuccess(steps.answered.last(), &w);
        const QByteArray b = readFile(destination);
        QVERIFY(b.size() > 32);
        QCOMPARE(le(b, 4, 4), 3000u);
    }

    // A record that cannot be encoded: the generator's text, the destination kept.
    void failingRun()
    {
        const QString out = folder(QStringLiteral("echec"));
        const QString destination = out + QStringLiteral("/encodee.dbf");
        const QByteArray previous("ancienne base");
        QVERIFY(writeFile(destination, previous));

        Codiflux w;
        QVERIFY(Inspect::load(w, failingPath));
        useQr(w, QR_MODE_NUM);
        plainOptions(w);
        ModalSteps steps({ModalSteps::chooseFile(destination), ModalSteps::click(QMessageBox::Yes),
                          ModalSteps::click(QMessageBox::Yes), ModalSteps::close()});
        generate(w, steps);
        verifyWarning(steps.answered.last(),
                      QStringLiteral("Erreur en cours d'encodage à l'enregistrement 3 valeur à encoder:\n12A45"), &w);
        QCOMPARE(readFile(destination), previous);
        QCOMPARE(QDir(out).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("encodee.dbf")});
        // The folder is remembered whatever the outcome.
        QCOMPARE(settingValue(), QVariant(out));
    }

    // A blank sample in QR mode ends with a text, as in Datamatrix.
    // Refusals before anything is written: a blank sample, a new field named as a field.
    void blankSample_data()
    {
        const QString blank = QStringLiteral("Cet enregistrement est vide, veuillez en sélectionner un autre pour "
                                             "permettre l'initialisation des paramêtres d'encodage.");
        QTest::addColumn<bool>("qr");
        QTest::addColumn<QString>("newField");  // empty: the sample is blank
        QTest::addColumn<QString>("warning");
        QTest::newRow("datamatrix") << false << QString() << blank;
        QTest::newRow("qr") << true << QString() << blank;
        QTest::newRow("new field named as a field")
            << false << "nom"
            << "La base d'origine a déjà un champ nommé « nom » : choisissez un autre nom pour le champ encodé.";
    }
    void blankSample()
    {
        QFETCH(bool, qr);
        QFETCH(QString, newField);
        QFETCH(QString, warning);
        const QString out = folder(QStringLiteral("vide-") + QString::fromLatin1(QTest::currentDataTag()).left(2));
        Codiflux w;
        QVERIFY(Inspect::load(w, dbfPath));
        if (qr)
            useQr(w);
        else
            useDatamatrix(w);
        if (newField.isEmpty()) {
            w.ui()->comboBoxEnregistrement->addItem(QStringLiteral("        "));
            w.ui()->comboBoxEnregistrement->setCurrentIndex(w.ui()->comboBoxEnregistrement->count() - 1);
        } else {
            w.ui()->lineEditNomChampSortie->setText(newField);
        }
        ModalSteps steps({ModalSteps::chooseFile(out + QStringLiteral("/encodee.dbf")),
                          ModalSteps::click(QMessageBox::No), ModalSteps::close()});
        generate(w, steps);
        verifyWarning(steps.answered.last(), warning, &w);
        QCOMPARE(listing(out), QStringList());
    }

    // The next destination dialog opens in the folder chosen last, after a
    // success as after a failure.
    void nextDialogFolder()
    {
        const QString first = folder(QStringLiteral("suite-a"));
        const QString second = folder(QStringLiteral("suite-b"));
        Codiflux w;
        QVERIFY(Inspect::load(w, failingPath));
        w.ui()->comboBoxEnregistrement->setCurrentIndex(0);
        useDatamatrix(w);
        plainOptions(w);
        {
            ModalSteps steps({ModalSteps::chooseFile(first + QStringLiteral("/a.dbf")),
                              ModalSteps::click(QMessageBox::No), ModalSteps::close()});
            generate(w, steps);
            verifySuccess(steps.answered.last(), &w);
        }
        {
            ModalSteps steps({ModalSteps::cancelFile()});
            generate(w, steps);
            QCOMPARE(steps.answered.at(0).directory, first);
        }
        useQr(w, QR_MODE_NUM);
        {
            ModalSteps steps({ModalSteps::chooseFile(second + QStringLiteral("/b.dbf")),
                              ModalSteps::click(QMessageBox::No), ModalSteps::close()});
            generate(w, steps);
            QCOMPARE(steps.answered.last().icon, QMessageBox::Warning);
        }
        {
            ModalSteps steps({ModalSteps::cancelFile()});
            generate(w, steps);
            QCOMPARE(steps.answered.at(0).directory, second);
        }
        QCOMPARE(listing(second), QStringList());
    }

    // A worker that stops giving signs of life is ended after 5000 ms: the
    // watchdog text with the record number, the destination kept, no
    // temporary file left. The worker's trial encoding of the sample waits
    // (in a system call, where the termination takes effect) until released.
    void watchdog()
    {
        const QString out = folder(QStringLiteral("chien-de-garde"));
        const QString destination = out + QStringLiteral("/encodee.dbf");
        const QByteArray previous("ancien contenu");
        QVERIFY(writeFile(destination, previous));
        auto release = std::make_shared<std::atomic<bool>>(false);
        QThread* gui = QThread::currentThread();
        codiflux::setDatamatrixEncodeFunction([release, gui](QByteArrayView, const std::function<bool()>& library) {
            while (QThread::currentThread() != gui && !release->load())
                QThread::msleep(5);
            return library();
        });
        struct Cleanup {
            std::shared_ptr<std::atomic<bool>> release;
            ~Cleanup()
            {
                release->store(true);
                codiflux::setDatamatrixEncodeFunction({});
            }
        } cleanup{release};

        Codiflux w;
        QVERIFY(Inspect::load(w, dbfPath));
        useDatamatrix(w);

        ModalSteps steps({ModalSteps::chooseFile(destination), ModalSteps::click(QMessageBox::Yes),
                          ModalSteps::click(QMessageBox::No), ModalSteps::close()});
        QElapsedTimer clock;
        clock.start();
        generate(w, steps);
        const qint64 elapsed = clock.elapsed();

        verifyWarning(steps.answered.last(), kWatchdog.arg(0), &w);
        // The window's timer cannot fire before its interval.
        QVERIFY2(elapsed >= 5000, qPrintable(QStringLiteral("ended after %1 ms").arg(elapsed)));
        QCOMPARE(readFile(destination), previous);
        QCOMPARE(temporaries(out), QStringList());
        QCOMPARE(QDir(out).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("encodee.dbf")});
    }

    // A worker stuck in a computation (here a Datamatrix encoding that spins
    // on one record) does not end when it is terminated: the window waits for
    // it a while, then leaves it, shows the watchdog text and is usable
    // again. The worker deletes itself once it ends, and neither then nor
    // before does anything reach the destination.
    void watchdogStuckWorker()
    {
        const QString out = folder(QStringLiteral("chien-de-garde-calcul"));
        const QString destination = out + QStringLiteral("/encodee.dbf");
        const QByteArray previous("ancien contenu, à garder");
        QVERIFY(writeFile(destination, previous));
        const QList<QByteArray> values{"REF-01", "REF-02", "REF-03", "BLOQUE", "REF-05", "REF-06"};
        const int stuckRecord = int(values.indexOf("BLOQUE")) + 1;
        QList<QList<QByteArray>> rows;
        for (const QByteArray& v : values)
            rows.append({v});
        const QString source = folder(QStringLiteral("src")) + QStringLiteral("/bloquee.dbf");
        QVERIFY(writeFile(source, dbfBytes({{"REF", 'C', 8}}, rows)));

        // The encoding of the stuck record spins until released, with no
        // system call the termination could take effect in.
        struct Spin {
            std::atomic<bool> release{false};
            std::atomic<int> entered{0};
            std::atomic<int> inside{0};  // calls under way
        };
        auto spin = std::make_shared<Spin>();
        codiflux::setDatamatrixEncodeFunction([spin](QByteArrayView value, const std::function<bool()>& library) {
            spin->inside.fetch_add(1);
            if (value.trimmed() == "BLOQUE") {
                spin->entered.fetch_add(1);
                while (!spin->release.load(std::memory_order_acquire)) { }
            }
            const bool result = library();
            spin->inside.fetch_sub(1);
            return result;
        });
        QPointer<codiflux::BaseEncoder> encoder;
        // Whatever happens below, the worker is released and gone before the
        // hook it runs is replaced.
        struct Cleanup {
            std::shared_ptr<Spin> spin;
            QPointer<codiflux::BaseEncoder>& encoder;
            ~Cleanup()
            {
                spin->release = true;
                QElapsedTimer clock;
                clock.start();
                while ((encoder || spin->inside.load() > 0) && clock.elapsed() < 20000)
                    QTest::qWait(10);
                codiflux::setDatamatrixEncodeFunction({});
            }
        } cleanup{spin, encoder};

        Codiflux w;
        QVERIFY(Inspect::load(w, source));
        w.ui()->comboBoxEnregistrement->setCurrentIndex(0);
        useDatamatrix(w);
        plainOptions(w);

        QElapsedTimer clock;
        qint64 returned = 0;
        {
            // The file dialog's overwrite question, then the TXT question.
            ModalSteps steps({ModalSteps::chooseFile(destination), ModalSteps::click(QMessageBox::Yes),
                              ModalSteps::click(QMessageBox::Yes),
                              ModalSteps::progress([&](QProgressDialog*) { encoder = Inspect::encoder(w); }),
                              ModalSteps::close()});
            clock.start();
            generate(w, steps);
            returned = clock.elapsed();
            qInfo("watchdog text shown and window back after %lld ms", returned);
            QCOMPARE(steps.answered.size(), qsizetype(5));
            verifyWarning(steps.answered.last(), kWatchdog.arg(stuckRecord), &w);
        }
        QCOMPARE(spin->entered.load(), 1);
        // The watchdog interval, then the wait for the terminated thread.
        QVERIFY2(returned >= 5000 + 3000, qPrintable(QStringLiteral("ended after %1 ms").arg(returned)));
        // Left behind, still spinning, nothing written in its place.
        QVERIFY(encoder);
        QVERIFY(encoder->isRunning());
        QCOMPARE(readFile(destination), previous);
        QCOMPARE(temporaries(out), QStringList());
        QCOMPARE(QDir(out).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("encodee.dbf")});

        // The window can run another generation while the first one spins.
        {
            const QString other = folder(QStringLiteral("chien-de-garde-suite")) + QStringLiteral("/encodee.dbf");
            QVERIFY(Inspect::load(w, dbfPath));
            w.ui()->comboBoxEnregistrement->setCurrentIndex(0);
            ModalSteps next({ModalSteps::chooseFile(other), ModalSteps::click(QMessageBox::No), ModalSteps::close()});
            generate(w, next);
            verifySuccess(next.answered.last(), &w);
            QCOMPARE(le(readFile(other), 4, 4), quint32(dbfCodes.size()));
        }
        QVERIFY(encoder && encoder->isRunning());

        clock.restart();
        spin->release = true;
        QTRY_VERIFY_WITH_TIMEOUT(encoder.isNull(), 10000);
        qInfo("abandoned worker deleted %lld ms after its release", clock.elapsed());
        QCOMPARE(readFile(destination), previous);
        QCOMPARE(temporaries(out), QStringList());
        QCOMPARE(QDir(out).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("encodee.dbf")});
    }
};

QTEST_MAIN(TestWindowGeneration)
#include "test_window_generation.moc"
