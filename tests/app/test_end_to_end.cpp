// The whole road in the window, offscreen, on the sample bases of examples/:
// load the base through the load dialog, pick the field or the columns, set
// the code parameters, preview, generate through the destination dialog, then
// read the encoded base back and decode every record's code with zxing-cpp.
// Each decoded value must be the record's value as stored, padding included.

#include "app/codiflux.h"
#include "bases/csvbase.h"
#include "bases/dbf.h"
#include "codes/encoding.h"
#include "codes/fonttext.h"
#include "codes/verify.h"
#include "generation_driver.h"
#include "tests/support/files.h"
#include "ui_codiflux.h"

#include <dmtx.h>
#include <qrencode.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QRadioButton>
#include <QSettings>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>

namespace {

struct Setup {
    bool qr = false;
    int moduleSize = 1;
    int marginSize = 0;
    int qrLevel = QR_ECLEVEL_L;
    bool invertBits = false;
    bool invertPixels = false;
    bool mirror = false;
    QString endOfLine;  // empty: no end-of-line character
    bool blankCodes = true;
};

}  // namespace

Q_DECLARE_METATYPE(Setup)

namespace {

using testsupport::readFile;

quint32 le(const QByteArray& b, qsizetype at, int bytes)
{
    quint32 v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = (v << 8) | quint8(b.at(at + i));
    return v;
}

void select(QComboBox* box, int value)
{
    const int index = box->findData(value, Qt::UserRole);
    QVERIFY2(index >= 0, qPrintable(QStringLiteral("no entry with data %1").arg(value)));
    box->setCurrentIndex(index);
}

// Sets the code parameters and the format options in the window's controls.
void configure(Codiflux& w, const Setup& s)
{
    CodifluxClass& f = *w.ui();
    if (s.qr) {
        f.tabTypeWidget->setCurrentIndex(int(codiflux::Symbology::QRCode));
        f.spinBoxVersionQRCode->setValue(0);
        select(f.comboBoxECLevelQRCode, s.qrLevel);
        select(f.comboBoxModeEncodageQRCode, QR_MODE_8);
    } else {
        f.tabTypeWidget->setCurrentIndex(int(codiflux::Symbology::Datamatrix));
        f.spinBoxModule->setValue(s.moduleSize);
        f.spinBoxMarge->setValue(s.marginSize);
        select(f.comboBoxTailleDatamatrix, DmtxSymbolSquareAuto);
        select(f.comboBoxModeEncodage, DmtxSchemeAutoBest);
    }
    f.checkBoxInvHorizontale->setChecked(s.mirror);
    f.checkBoxInvVerticale->setChecked(false);
    f.checkBoxInvBits->setChecked(s.invertBits);
    f.checkBoxInvPixels->setChecked(s.invertPixels);
    f.checkBoxFinLigne->setChecked(!s.endOfLine.isEmpty());
    f.lineEditFinLigne->setText(s.endOfLine);
    // The generation encodes each value with its padding: the preview must too.
    f.checkBoxSupprimerGauche->setChecked(false);
    f.checkBoxSupprimerDroite->setChecked(false);
    if (s.blankCodes)
        f.radioButtonEmptyGenCode->setChecked(true);
    else
        f.radioButtoEmptySpaces->setChecked(true);
}

codiflux::FontTextOptions optionsOf(const Setup& s)
{
    codiflux::FontTextOptions o;
    o.horizontalInversion = s.mirror;
    o.bitInversion = s.invertBits;
    o.pixelInversion = s.invertPixels;
    o.endOfLine = !s.endOfLine.isEmpty();
    o.endOfLineCharacter = codiflux::endOfLineCharacter(s.endOfLine);
    return o;
}

bool isBlank(const QByteArray& value)
{
    return std::all_of(value.cbegin(), value.cend(), [](char c) { return c == ' ' || c == '\0'; });
}

// A blank value's code: R spaces, or a blank code (every code character the
// same one, end-of-line characters aside).
void verifyBlankCode(const QByteArray& code, const codiflux::FontTextOptions& o, int width, bool blankCodes)
{
    if (!blankCodes) {
        QCOMPARE(code, QByteArray(code.size(), ' '));
        return;
    }
    QByteArray characters;
    for (qsizetype i = 0; i < code.size(); ++i) {
        if (o.endOfLine && (i + 1) % (width + 1) == 0)
            QCOMPARE(code.at(i), o.endOfLineCharacter);
        else
            characters += code.at(i);
    }
    QVERIFY(!characters.isEmpty());
    QVERIFY(characters.at(0) >= 'A' && characters.at(0) <= 'P');
    QCOMPARE(characters, QByteArray(characters.size(), characters.at(0)));
}

}  // namespace

class TestEndToEnd : public QObject {
    Q_OBJECT

private:
    QTemporaryDir settingsDir;
    QTemporaryDir work;
    QString examples;

private slots:
    void initTestCase()
    {
        QVERIFY(settingsDir.isValid());
        QVERIFY(work.isValid());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir.path());
        examples = QStringLiteral(CODIFLUX_SOURCE_DIR "/examples");
        if (!QFile::exists(examples + QStringLiteral("/clients.dbf"))
            || !QFile::exists(examples + QStringLiteral("/adresses.txt"))
            || !QFile::exists(examples + QStringLiteral("/clients.csv"))) {
            // The samples are made by a script: make them here when the
            // checkout lacks them.
            examples = work.filePath(QStringLiteral("examples"));
            const int rc = QProcess::execute(QStringLiteral(CODIFLUX_PYTHON),
                                             {QStringLiteral(CODIFLUX_SOURCE_DIR "/tools/make_examples.py"), examples});
            QCOMPARE(rc, 0);
        }
        QVERIFY(QFile::exists(examples + QStringLiteral("/clients.dbf")));
        QVERIFY(QFile::exists(examples + QStringLiteral("/adresses.txt")));
    }

    void road_data()
    {
        QTest::addColumn<QString>("base");
        QTest::addColumn<Setup>("setup");
        Setup dm;
        Setup dmOptions;
        dmOptions.moduleSize = 2;
        dmOptions.marginSize = 1;
        dmOptions.invertBits = true;
        dmOptions.invertPixels = true;
        dmOptions.mirror = true;
        dmOptions.endOfLine = QStringLiteral("|");
        dmOptions.blankCodes = false;
        Setup qr;
        qr.qr = true;
        qr.qrLevel = QR_ECLEVEL_M;
        Setup qrOptions = qr;
        qrOptions.qrLevel = QR_ECLEVEL_H;
        qrOptions.invertBits = true;
        qrOptions.endOfLine = QStringLiteral(" ");
        qrOptions.blankCodes = false;
        QTest::newRow("clients.dbf, Datamatrix") << "clients.dbf" << dm;
        QTest::newRow("clients.dbf, Datamatrix, module 2, inversions, end of line") << "clients.dbf" << dmOptions;
        QTest::newRow("clients.dbf, QR 8-bit") << "clients.dbf" << qr;
        QTest::newRow("clients.dbf, QR 8-bit, level H, end of line, spaces for blanks") << "clients.dbf" << qrOptions;
        QTest::newRow("adresses.txt, Datamatrix") << "adresses.txt" << dm;
        QTest::newRow("adresses.txt, Datamatrix, module 2, inversions, end of line") << "adresses.txt" << dmOptions;
        QTest::newRow("adresses.txt, QR 8-bit") << "adresses.txt" << qr;
    }

    void road()
    {
        QFETCH(QString, base);
        QFETCH(Setup, setup);
        const bool dbf = base.endsWith(QLatin1String(".dbf"));
        const QString source = examples + QLatin1Char('/') + base;
        const QString out
            = work.filePath(QString::fromLatin1(QTest::currentDataTag())
                                .replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9]+")), QStringLiteral("-")));
        QVERIFY(QDir().mkpath(out));
        const QString destination = out + (dbf ? QStringLiteral("/encodee.dbf") : QStringLiteral("/encodee.txt"));

        Codiflux w;
        CodifluxClass& f = *w.ui();

        // 1. Load the base through the load dialog.
        {
            ModalSteps steps({ModalSteps::chooseFile(source)});
            f.actionChargerBase->trigger();
            QVERIFY(steps.done());
            QCOMPARE(steps.unexpected(), 0);
        }
        QCOMPARE(QFileInfo(f.lineEditBaseSource->text()).canonicalFilePath(), QFileInfo(source).canonicalFilePath());

        // 2. The field to encode: CODE, or columns 1 to 10 of the text base.
        if (dbf) {
            const int index = f.comboBoxChamps->findText(QStringLiteral("CODE"));
            QVERIFY(index >= 0);
            f.comboBoxChamps->setCurrentIndex(index);
            QVERIFY(!f.comboBoxEnregistrement->currentText().trimmed().isEmpty());
        } else {
            f.spinBoxPosDebut->setValue(1);
            f.spinBoxPosNbCar->setValue(10);
            QCOMPARE(f.spinBoxPosFin->value(), 10);
        }

        // 3. Parameters, then the preview, which shows the symbol's size.
        configure(w, setup);
        {
            ModalSteps steps({});
            f.actionPrevisualisation->trigger();
            QCOMPARE(steps.seen.size(), qsizetype(0));
        }
        const int width = f.lineEditNbColonnes->text().toInt();
        const int height = f.lineEditNbLignes->text().toInt();
        QVERIFY(width > 0 && height > 0);
        const codiflux::FontTextOptions options = optionsOf(setup);
        const int r = codiflux::fieldLength(width, height, options.endOfLine);
        QCOMPARE(f.plainTextEditPreview->toPlainText().size(), qsizetype(r));

        // 4. Generation, with the text form too for a DBF base.
        {
            QList<ModalSteps::Step> answers{ModalSteps::chooseFile(destination)};
            if (dbf)
                answers << ModalSteps::click(QMessageBox::Yes);
            answers << ModalSteps::close();
            ModalSteps steps(answers);
            f.actionGenererBase->trigger();
            QVERIFY(steps.done());
            QCOMPARE(steps.unexpected(), 0);
            const SeenModal& result = steps.answered.last();
            QVERIFY(result.text.startsWith(QStringLiteral("Fabrication de la base encodée correcte.")));
            // A code field that most dBase readers would cut comes with a warning.
            QCOMPARE(result.text.contains(QStringLiteral("plus de 254 caractères")), dbf && r > 254);
        }

        // 5. Every code decodes to its record's value.
        codiflux::FieldTextDecoder decoder(width, height, options,
                                           setup.qr ? codiflux::Symbology::QRCode : codiflux::Symbology::Datamatrix);
        int decoded = 0;
        int blanks = 0;
        auto check = [&](const QByteArray& value, const QByteArray& code, qsizetype record) {
            QCOMPARE(code.size(), qsizetype(r));
            if (isBlank(value)) {
                ++blanks;
                verifyBlankCode(code, options, width, setup.blankCodes);
                return;
            }
            const auto read = decoder.decode(code);
            QVERIFY2(read.has_value(), qPrintable(QStringLiteral("record %1 does not decode").arg(record)));
            QCOMPARE(*read, value);
            ++decoded;
        };

        if (dbf) {
            const QByteArray src = readFile(source);
            const QByteArray enc = readFile(destination);
            const int fields = 10;
            const qsizetype srcHeader = le(src, 8, 2);
            const qsizetype srcRecord = le(src, 10, 2);
            const quint32 count = le(src, 4, 4);
            QCOMPARE(count, 300u);
            // The encoded header: the source's fields, then the new one.
            // The memo file is copied beside it: the version byte keeps its memo flag.
            QCOMPARE(quint8(enc.at(0)), quint8(src.at(0)));
            QCOMPARE(readFile(out + QStringLiteral("/encodee.dbt")),
                     readFile(examples + QStringLiteral("/clients.dbt")));
            QCOMPARE(le(enc, 4, 4), count);
            const qsizetype encHeader = le(enc, 8, 2);
            const qsizetype encRecord = le(enc, 10, 2);
            QCOMPARE(encHeader, qsizetype(32 * (fields + 2) + 1));
            QCOMPARE(encRecord, srcRecord + r);
            QCOMPARE(enc.mid(32, 32 * fields), src.mid(32, 32 * fields));
            const QByteArray descriptor = enc.mid(32 * (fields + 1), 32);
            QCOMPARE(descriptor.left(6), QByteArray("_CODE\0", 6));
            QCOMPARE(descriptor.at(11), 'C');
            QCOMPARE(qsizetype(le(descriptor, 12, 2)), srcRecord);
            QCOMPARE(int(le(descriptor, 16, 2)), r);
            QCOMPARE(quint8(enc.at(encHeader - 1)), quint8(0x0D));
            QCOMPARE(enc.size(), encHeader + encRecord * count);

            const QList<QByteArray> lines = readFile(out + QStringLiteral("/encodee.txt")).split('\n');
            QCOMPARE(lines.size(), qsizetype(count) + 1);
            for (quint32 i = 0; i < count; ++i) {
                const QByteArray in = src.mid(srcHeader + i * srcRecord, srcRecord);
                const QByteArray rec = enc.mid(encHeader + i * encRecord, encRecord);
                QCOMPARE(rec.left(srcRecord), in);  // deletion flag and every field kept
                check(in.mid(1, 13), rec.mid(srcRecord), i + 1);
                QByteArray line = rec.mid(1);
                line.replace('\r', ' ').replace('\n', ' ');
                QCOMPARE(lines.at(i), line);
            }

            // The table engine reads the long new field with its 16-bit length.
            codiflux::DbfTablePtr table(codiflux::dbf_open(QFile::encodeName(destination).constData(), nullptr, 0, 1));
            QVERIFY(table);
            QCOMPARE(codiflux::dbf_field_count(table.get()), unsigned(fields + 1));
            QCOMPARE(codiflux::dbf_record_count(table.get()), count);
            codiflux::DbfFieldInfo info{};
            QVERIFY(codiflux::dbf_field_info(table.get(), fields, &info));
            QCOMPARE(QByteArray(info.name), QByteArray("_CODE"));
            QCOMPARE(info.length, r);
            const codiflux::DbfField* field = codiflux::dbf_field(table.get(), fields);
            QByteArray buffer(r + 1, '\0');
            QVERIFY(codiflux::dbf_goto_record(table.get(), 0));
            const unsigned got
                = codiflux::dbf_read_field(table.get(), field, buffer.data(), unsigned(r + 1), codiflux::DbfChar);
            QCOMPARE(QByteArray(buffer.constData(), qsizetype(got)).trimmed(),
                     enc.mid(encHeader + srcRecord, r).trimmed());
            QCOMPARE(blanks, 2);
            QCOMPARE(decoded, 298);
        } else {
            const QList<QByteArray> in = readFile(source).split('\n');
            const QList<QByteArray> lines = readFile(destination).split('\n');
            QCOMPARE(lines.size(), in.size());
            QCOMPARE(in.size(), qsizetype(251));
            for (qsizetype i = 0; i + 1 < in.size(); ++i) {
                QCOMPARE(lines.at(i).left(70), in.at(i));
                check(in.at(i).left(10), lines.at(i).mid(70), i + 1);
            }
            QCOMPARE(decoded, 250);
        }
        QCOMPARE(QDir(out).entryList({QStringLiteral(".*.tmp")}, QDir::Files | QDir::Hidden), QStringList());
    }

    // The spreadsheet's road: French Excel's CSV loads like a DBF base, and
    // the encoded CSV is every source row byte for byte plus the code cell.
    void csvRoad()
    {
        const QString source = examples + QStringLiteral("/clients.csv");
        const QString destination = work.filePath(QStringLiteral("clients_code.csv"));
        Codiflux w;
        CodifluxClass& f = *w.ui();
        {
            ModalSteps steps({ModalSteps::chooseFile(source)});
            f.actionChargerBase->trigger();
            QVERIFY(steps.done());
            QCOMPARE(steps.unexpected(), 0);
        }
        QStringList names;
        for (int i = 0; i < f.comboBoxChamps->count(); ++i)
            names << f.comboBoxChamps->itemText(i);
        QCOMPARE(names, QStringList({"CODE", "NOM", "PRENOM", "ADRESSE", "CP", "VILLE", "SOLDE", "NOTES"}));
        f.comboBoxChamps->setCurrentIndex(2);
        QCOMPARE(f.comboBoxEnregistrement->itemText(0), QStringLiteral("Hélène"));  // Windows-1252, decoded
        f.comboBoxChamps->setCurrentIndex(0);
        QCOMPARE(f.comboBoxEnregistrement->count(), 300);
        QCOMPARE(f.comboBoxEnregistrement->currentText(), QStringLiteral("CF20240000"));
        QCOMPARE(f.lineEditNomChampSortie->text(), QStringLiteral("_CODE"));
        f.lineEditNomChampSortie->setText(QStringLiteral("Code 2D"));

        configure(w, Setup());
        f.actionPrevisualisation->trigger();
        const int width = f.lineEditNbColonnes->text().toInt();
        const int height = f.lineEditNbLignes->text().toInt();
        QVERIFY(width > 0 && height > 0);
        {
            ModalSteps steps({ModalSteps::chooseFile(destination), ModalSteps::close()});
            f.actionGenererBase->trigger();
            QVERIFY(steps.done());
            QCOMPARE(steps.unexpected(), 0);
            QCOMPARE(steps.answered.last().text, QStringLiteral("Fabrication de la base encodée correcte."));
        }

        codiflux::CsvReader in, out;
        QVERIFY(in.open(source, {}, nullptr));
        QVERIFY(out.open(destination, {}, nullptr));
        QCOMPARE(in.format().delimiter, ';');
        QCOMPARE(out.columns(), in.columns() + QStringList{"Code 2D"});
        codiflux::FieldTextDecoder decoder(width, height, optionsOf(Setup()), codiflux::Symbology::Datamatrix);
        codiflux::CsvRow a, b;
        int decoded = 0;
        while (in.next(a) == codiflux::CsvReader::Status::Row) {
            QCOMPARE(out.next(b), codiflux::CsvReader::Status::Row);
            const QByteArrayView code = b.cell(b.cellCount() - 1);
            QByteArray expected = a.raw.left(a.raw.size() - a.lineEndLength);
            codiflux::appendCsvCell(expected, ';', code);
            QCOMPARE(b.raw, expected + a.raw.right(a.lineEndLength));
            if (!a.cell(0).isEmpty()) {
                QCOMPARE(decoder.decode(code.toByteArray()), std::optional(a.cell(0).toByteArray()));
                ++decoded;
            }
        }
        QCOMPARE(out.next(b), codiflux::CsvReader::Status::End);
        QCOMPARE(decoded, 298);
    }
};

QTEST_MAIN(TestEndToEnd)
#include "test_end_to_end.moc"
