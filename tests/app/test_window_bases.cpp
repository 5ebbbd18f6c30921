// Loading a base into the main window (the file dialog, the kind chosen by
// suffix, the field and record lists, the text view, the warning boxes) and
// the column range of a text base (the three spin boxes, the view's selection
// and the highlight of every line).

#include "app/codiflux.h"
#include "settings/parametres.h"
#include "ui_codiflux.h"

#include <QApplication>
#include <QBoxLayout>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QTimer>
#include <QtTest>

#include "tests/support/dbf_builder.h"
#include "tests/support/files.h"
#include "tests/support/modal.h"

#include <algorithm>
#include <functional>
#include <memory>

// Reaches the window's private state.
struct CodifluxInspector {
    static QSettings* settings(Codiflux& w) { return w.settings; }
    static int baseKind(Codiflux& w) { return int(w.baseKind); }
    static codiflux::DbfTable* table(Codiflux& w) { return w.table.get(); }
    static qsizetype fieldCount(Codiflux& w) { return w.champs.size(); }
    static int maxLineLength(Codiflux& w) { return w.maxLineLength; }
    static bool load(Codiflux& w, const QString& path) { return w.chargerFichier(path); }
};

using Inspect = CodifluxInspector;

namespace {

// ---- Files written by the tests --------------------------------------------

using FieldSpec = testsupport::DbfField;

// One record's values, in field order, as stored (each padded on the right
// with blanks to its field's length).
using Record = QList<QByteArray>;

using testsupport::dbfBytes;
using testsupport::writeFile;

// A dBase III memo file: block 0 holds the next free block, then one 512-byte
// block per text, each text ended by two 0x1A bytes.
QByteArray dbtBytes(const QList<QByteArray>& texts)
{
    QByteArray bytes(512, '\0');
    testsupport::putLe32(bytes, 0, static_cast<quint32>(texts.size() + 1));
    for (const QByteArray& text : texts) {
        QByteArray block = text + QByteArray("\x1A\x1A");
        block.append(QByteArray(512 - block.size(), '\0'));
        bytes.append(block);
    }
    return bytes;
}

// One C field CODE of length 8 and `count` records "R1", "R2", ...
QByteArray codeTable(int count)
{
    QList<Record> records;
    records.reserve(count);
    for (int i = 0; i < count; ++i)
        records.append({QByteArray("R") + QByteArray::number(i + 1)});
    return dbfBytes({{"CODE", 'C', 8}}, records);
}

// Lines of `length` characters, line k being made of the letter 'a' + k mod 26
// followed by its column digits, so that any column range reads back distinctly.
QByteArray textLines(int count, int length, const QByteArray& lineEnd = "\n")
{
    QByteArray bytes;
    for (int k = 0; k < count; ++k) {
        QByteArray line;
        line.append(static_cast<char>('a' + k % 26));
        for (int c = 1; c < length; ++c)
            line.append(static_cast<char>('0' + c % 10));
        bytes.append(line);
        bytes.append(lineEnd);
    }
    return bytes;
}

// Open descriptors of this process that point at `path`.
int openHandles(const QString& path)
{
    const QString target = QFileInfo(path).canonicalFilePath();
    int count = 0;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    const QFileInfoList entries = fds.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot);
    for (const QFileInfo& entry : entries) {
        if (entry.symLinkTarget() == target)
            ++count;
    }
    return count;
}

// ---- Modal dialogs driven by the test ----------------------------------------

// What a modal dialog showed before the test answered it.
using SeenDialog = testsupport::SeenModal;

class ModalDriver : public testsupport::ModalWatcher {
public:
    explicit ModalDriver(QList<std::function<void(QWidget*)>> answers)
        : ModalWatcher(10)
        , answers(std::move(answers))
    { }

    QList<SeenDialog> seen;
    // Every answer given, each closing its dialog, and no other dialog seen.
    bool done() const { return !stuck && seen.size() == answers.size(); }

private:
    void onModal(QWidget* modal) override
    {
        if (seen.size() >= answers.size()) {
            // Not expected: close it so that the test does not hang, and let
            // the test see it.
            seen.append(testsupport::describeModal(modal));
            QMetaObject::invokeMethod(modal, "reject", Qt::QueuedConnection);
            return;
        }
        seen.append(testsupport::describeModal(modal));
        QPointer<QWidget> answered(modal);
        answers.at(seen.size() - 1)(modal);
        // An answer that failed to close its dialog must not leave it waiting.
        if (answered && answered->isVisible()) {
            stuck = true;
            QMetaObject::invokeMethod(answered, "reject", Qt::QueuedConnection);
        }
    }

    QList<std::function<void(QWidget*)>> answers;
    bool stuck = false;
};

void closeBox(QWidget* modal)
{
    auto* box = qobject_cast<QMessageBox*>(modal);
    QVERIFY2(box,
             qPrintable(QStringLiteral("a message box was expected, got %1").arg(modal->metaObject()->className())));
    QAbstractButton* close = box->button(QMessageBox::Close);
    QVERIFY(close);
    close->click();
}

void cancelFileDialog(QWidget* modal)
{
    auto* dialog = qobject_cast<QFileDialog*>(modal);
    QVERIFY(dialog);
    dialog->reject();
}

std::function<void(QWidget*)> chooseFile(const QString& path)
{
    return [path](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        QVERIFY(dialog);
        // The dialog leaves its name field alone while that field has the
        // focus, so take the focus away first.
        if (QWidget* focused = dialog->focusWidget())
            focused->clearFocus();
        dialog->selectFile(path);
        if (dialog->selectedFiles() != QStringList{path}) {
            dialog->reject();  // never left waiting
            QFAIL(qPrintable(QStringLiteral("the dialog did not take %1").arg(path)));
        }
        static_cast<QDialog*>(dialog)->accept();  // QFileDialog::accept through the public base
    };
}

const QString kLoadTitle = QStringLiteral("Chargement base...");
const QString kNotReadable = QStringLiteral("Impossible d'ouvrir le fichier sélectionné.");
const QString kDbfFailed = QStringLiteral("Une erreur est survenue lors du chargement.");

// The visible state of the base controls, with the window not shown: a
// widget counts as shown when it was not hidden explicitly.
bool shown(QWidget* widget)
{
    return !widget->isHidden();
}

bool layoutShown(QLayout* layout, bool expected)
{
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem* item = layout->itemAt(i);
        if (QWidget* widget = item->widget()) {
            if (shown(widget) != expected)
                return false;
        } else if (QLayout* nested = item->layout()) {
            if (!layoutShown(nested, expected))
                return false;
        }
    }
    return true;
}

QStringList comboTexts(QComboBox* box)
{
    QStringList texts;
    for (int i = 0; i < box->count(); ++i)
        texts.append(box->itemText(i));
    return texts;
}

QStringList blockTexts(QPlainTextEdit* view)
{
    QStringList texts;
    for (QTextBlock block = view->document()->firstBlock(); block.isValid(); block = block.next())
        texts.append(block.text());
    return texts;
}

}  // namespace

class TestWindowBases : public QObject {
    Q_OBJECT

private:
    QTemporaryDir settingsDir;
    QTemporaryDir dataDir;

    QString dataPath(const QString& name) const { return dataDir.filePath(name); }

    QString writeData(const QString& name, const QByteArray& bytes)
    {
        const QString path = dataPath(name);
        if (!writeFile(path, bytes))
            qWarning("cannot write %s", qPrintable(path));
        return path;
    }

    // The window with a text base of `lines` lines of 10 characters loaded,
    // and the view's cursor on line `cursorLine`.
    std::unique_ptr<Codiflux> windowWithTenColumns(int lines = 5, int cursorLine = 2)
    {
        auto w = std::make_unique<Codiflux>();
        const QString path = writeData(QStringLiteral("ten.txt"), textLines(lines, 10));
        if (!Inspect::load(*w, path) || Inspect::maxLineLength(*w) != 10)
            return nullptr;
        QPlainTextEdit* view = w->ui()->plainTextEditSelecteurPosition;
        QTextCursor cursor = view->textCursor();
        cursor.setPosition(11 * cursorLine);
        view->setTextCursor(cursor);
        return w;
    }

    // Each extra highlight covers columns debut to fin of its line, in bold on
    // light yellow across the full width.
    void checkHighlights(Codiflux& w, int debut, int fin)
    {
        QPlainTextEdit* view = w.ui()->plainTextEditSelecteurPosition;
        const QList<QTextEdit::ExtraSelection> highlights = view->extraSelections();
        const int stride = Inspect::maxLineLength(w) + 1;
        QCOMPARE(highlights.size(), view->document()->blockCount());
        const QColor colour = QColor(Qt::yellow).lighter(160);
        QVERIFY(colour != QColor(Qt::yellow));
        for (int k = 0; k < highlights.size(); ++k) {
            const QTextEdit::ExtraSelection& h = highlights.at(k);
            QCOMPARE(h.cursor.anchor(), stride * k + debut - 1);
            QCOMPARE(h.cursor.position(), stride * k + fin);
            QCOMPARE(h.cursor.block().blockNumber(), k);
            QCOMPARE(h.format.background().color(), colour);
            QCOMPARE(h.format.background().style(), Qt::SolidPattern);
            QVERIFY(h.format.hasProperty(QTextFormat::FullWidthSelection));
            QCOMPARE(h.format.property(QTextFormat::FullWidthSelection).toBool(), true);
            QCOMPARE(h.format.fontWeight(), int(QFont::Bold));
            if (fin >= debut) {
                const QString line = view->document()->findBlockByNumber(k).text();
                QCOMPARE(h.cursor.selectedText(), line.mid(debut - 1, fin - debut + 1));
            }
        }
    }

    void checkSpinBoxes(Codiflux& w, int debut, int fin, int nb)
    {
        QCOMPARE(w.ui()->spinBoxPosDebut->value(), debut);
        QCOMPARE(w.ui()->spinBoxPosFin->value(), fin);
        QCOMPARE(w.ui()->spinBoxPosNbCar->value(), nb);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(settingsDir.isValid());
        QVERIFY(dataDir.isValid());
        // Never the user's own settings.
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir.path());
    }

    // ---- The kind of base -----------------------------------------------

    void kindBySuffix_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("dbfContent");
        QTest::addColumn<int>("kind");
        QTest::newRow("dbf") << "kind.dbf" << true << 0;
        QTest::newRow("Dbf mixed case") << "kind.Dbf" << true << 0;
        QTest::newRow("DBF upper case") << "kind.DBF" << true << 0;
        QTest::newRow("txt") << "kind.txt" << false << 1;
        QTest::newRow("TXT upper case") << "kind.TXT" << false << 1;
        QTest::newRow("csv") << "kind.csv" << false << 3;
        QTest::newRow("CSV upper case") << "kind.CSV" << false << 3;
        QTest::newRow("no suffix") << "kind" << false << 1;
        QTest::newRow("dbf before last dot") << "kind.dbf.bak" << false << 1;
    }

    void kindBySuffix()
    {
        QFETCH(QString, name);
        QFETCH(bool, dbfContent);
        QFETCH(int, kind);
        const bool csv = kind == int(codiflux::BaseKind::Csv);
        const QString path = writeData(name,
                                       dbfContent ? codeTable(3)
                                           : csv  ? QByteArray("CODE\n1\n2\n3\n")
                                                  : textLines(4, 12));

        Codiflux w;
        CodifluxClass* ui = w.ui();
        QCOMPARE(Inspect::baseKind(w), int(codiflux::BaseKind::None));
        QVERIFY(Inspect::load(w, path));
        QCOMPARE(Inspect::baseKind(w), kind);

        // A CSV base shows its header's names and its values as a DBF base does.
        const bool dbf = kind == int(codiflux::BaseKind::Dbf) || csv;
        QVERIFY(layoutShown(ui->layout_selectionChamp, dbf));
        QVERIFY(layoutShown(ui->layout_selectionPosition, !dbf));
        QCOMPARE(shown(ui->labelNomChampSortie), dbf);
        QCOMPARE(shown(ui->lineEditNomChampSortie), dbf);
        QCOMPARE(Inspect::table(w) != nullptr, dbf && !csv);
        if (dbf) {
            QCOMPARE(comboTexts(ui->comboBoxChamps), QStringList{QStringLiteral("CODE")});
            QCOMPARE(ui->comboBoxEnregistrement->count(), 3);
        } else {
            QCOMPARE(Inspect::maxLineLength(w), 12);
            QCOMPARE(ui->plainTextEditSelecteurPosition->document()->blockCount(), 4);
            QCOMPARE(ui->comboBoxChamps->count(), 0);
        }
    }

    // ---- DBF bases: fields and records ------------------------------------

    void fieldsAndOutputName()
    {
        // Names are converted from the OEM code page and shown as Latin-1:
        // 0x90 is É in code page 850.
        const QList<FieldSpec> fields{{"CODE", 'C', 6}, {"NOM", 'C', 4}, {"CAF\x90", 'C', 3}, {"QTE", 'N', 5}};
        const QString path = writeData(QStringLiteral("fields.dbf"),
                                       dbfBytes(fields, {{"A1", "Lu", "x", "12"}, {"B2", "Eva", "y", "345"}}));
        Codiflux w;
        CodifluxClass* ui = w.ui();
        QVERIFY(Inspect::load(w, path));
        QCOMPARE(Inspect::fieldCount(w), 4);
        QCOMPARE(comboTexts(ui->comboBoxChamps),
                 (QStringList{QStringLiteral("CODE"), QStringLiteral("NOM"), QStringLiteral("CAFÉ"),
                              QStringLiteral("QTE")}));
        for (int i = 0; i < ui->comboBoxChamps->count(); ++i)
            QVERIFY(!ui->comboBoxChamps->itemData(i).isValid());

        QCOMPARE(ui->comboBoxChamps->currentIndex(), 0);
        QCOMPARE(ui->lineEditNomChampSortie->text(), QStringLiteral("_CODE"));
        QCOMPARE(comboTexts(ui->comboBoxEnregistrement),
                 (QStringList{QStringLiteral("A1    "), QStringLiteral("B2    ")}));

        ui->comboBoxChamps->setCurrentIndex(1);
        QCOMPARE(ui->lineEditNomChampSortie->text(), QStringLiteral("_NOM"));
        QCOMPARE(comboTexts(ui->comboBoxEnregistrement), (QStringList{QStringLiteral("Lu  "), QStringLiteral("Eva ")}));

        ui->comboBoxChamps->setCurrentIndex(2);
        QCOMPARE(ui->lineEditNomChampSortie->text(), QStringLiteral("_CAFÉ"));

        // A numeric field lists its text, leading blanks removed.
        ui->comboBoxChamps->setCurrentIndex(3);
        QCOMPARE(ui->lineEditNomChampSortie->text(), QStringLiteral("_QTE"));
        QCOMPARE(comboTexts(ui->comboBoxEnregistrement),
                 (QStringList{QStringLiteral("12   "), QStringLiteral("345  ")}));
        for (int i = 0; i < ui->comboBoxEnregistrement->count(); ++i)
            QVERIFY(!ui->comboBoxEnregistrement->itemData(i).isValid());
    }

    void recordEntries_data()
    {
        QTest::addColumn<QList<QByteArray>>("values");
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<int>("current");

        QTest::newRow("fourth value first non-blank")
            << QList<QByteArray>{"", "", "", "ABC", "XY"}
            << QStringList{"        ", "        ", "        ", "ABC     ", "XY      "} << 3;
        QTest::newRow("first value non-blank")
            << QList<QByteArray>{"Z", "", "Y"} << QStringList{"Z       ", "        ", "Y       "} << 0;
        QTest::newRow("every value blank")
            << QList<QByteArray>{"", "   ", ""} << QStringList{"        ", "        ", "        "} << 0;
        QTest::newRow("leading blanks removed") << QList<QByteArray>{"   AB", "  C D  ", "ABCDEFGH"}
                                                << QStringList{"AB      ", "C D     ", "ABCDEFGH"} << 0;
        QTest::newRow("blanks then leading blanks")
            << QList<QByteArray>{"        ", "  Q"} << QStringList{"        ", "Q       "} << 1;
        // 0x82 is é in code page 850; the entry holds it as one Latin-1 character.
        QTest::newRow("converted character")
            << QList<QByteArray>{"caf\x82"} << QStringList{QStringLiteral("café    ")} << 0;
    }

    void recordEntries()
    {
        QFETCH(QList<QByteArray>, values);
        QFETCH(QStringList, entries);
        QFETCH(int, current);
        QList<Record> records;
        for (const QByteArray& value : values)
            records.append({value});
        const QString path = writeData(QStringLiteral("entries.dbf"), dbfBytes({{"CODE", 'C', 8}}, records));

        Codiflux w;
        QVERIFY(Inspect::load(w, path));
        QComboBox* list = w.ui()->comboBoxEnregistrement;
        QCOMPARE(comboTexts(list), entries);
        for (const QString& entry : comboTexts(list))
            QCOMPARE(entry.size(), 8);
        QCOMPARE(list->currentIndex(), current);
    }

    void memoEntries()
    {
        const QList<FieldSpec> fields{{"ID", 'C', 2}, {"NOTE", 'M', 10}};
        const QString dbfPath
            = writeData(QStringLiteral("memo.dbf"),
                        dbfBytes(fields, {{"1", "         1"}, {"2", ""}, {"3", "         2"}, {"4", "         3"}},
                                 {.version = 0x83}));
        writeData(QStringLiteral("memo.dbt"), dbtBytes({"Bonjour le monde entier", "court", "  espaces"}));

        Codiflux w;
        CodifluxClass* ui = w.ui();
        QVERIFY(Inspect::load(w, dbfPath));
        ui->comboBoxChamps->setCurrentIndex(1);
        QCOMPARE(ui->lineEditNomChampSortie->text(), QStringLiteral("_NOTE"));
        QCOMPARE(comboTexts(ui->comboBoxEnregistrement),
                 (QStringList{QStringLiteral("Bonjour le"), QStringLiteral("          "), QStringLiteral("court     "),
                              QStringLiteral("espaces   ")}));
        QCOMPARE(ui->comboBoxEnregistrement->currentIndex(), 0);
    }

    void atMostThousandRecords_data()
    {
        QTest::addColumn<int>("records");
        QTest::addColumn<int>("listed");
        QTest::newRow("5000 records") << 5000 << 1000;
        QTest::newRow("1000 records") << 1000 << 1000;
        QTest::newRow("1001 records") << 1001 << 1000;
        QTest::newRow("999 records") << 999 << 999;
        QTest::newRow("no record") << 0 << 0;
    }

    void atMostThousandRecords()
    {
        QFETCH(int, records);
        QFETCH(int, listed);
        const QString path = writeData(QStringLiteral("many.dbf"), codeTable(records));

        Codiflux w;
        CodifluxClass* ui = w.ui();
        QComboBox* list = ui->comboBoxEnregistrement;

        // While the records are listed, a progress bar sits in the status bar
        // and counts them.
        int insertions = 0;
        int badProgress = 0;
        QObject::connect(list->model(), &QAbstractItemModel::rowsInserted, &w, [&](const QModelIndex&, int first, int) {
            const QList<QProgressBar*> bars = ui->statusBar->findChildren<QProgressBar*>();
            if (bars.size() != 1 || bars.first()->maximum() != listed || bars.first()->value() != first
                || bars.first()->isHidden())
                ++badProgress;
            ++insertions;
        });
        QVERIFY(Inspect::load(w, path));
        QCOMPARE(list->count(), listed);
        QCOMPARE(insertions, listed);
        QCOMPARE(badProgress, 0);
        if (listed > 0) {
            QCOMPARE(list->itemText(0), QStringLiteral("R1      "));
            QCOMPARE(list->itemText(listed - 1), QStringLiteral("R%1").arg(listed).leftJustified(8));
        }
        // Removed and deleted at the end.
        QVERIFY(ui->statusBar->findChildren<QProgressBar*>().isEmpty());
    }

    void truncatedTableListsBlanks()
    {
        // The header promises five records; the file holds two and a half: the
        // two are listed.
        QByteArray bytes = dbfBytes({{"CODE", 'C', 8}}, {{"AAA"}, {"BBB"}, {"CCC"}, {"DDD"}, {"EEE"}});
        const int headerLength = 32 + 32 + 1;
        bytes.truncate(headerLength + 9 * 2 + 4);
        const QString path = writeData(QStringLiteral("truncated.dbf"), bytes);

        Codiflux w;
        QVERIFY(Inspect::load(w, path));
        QCOMPARE(comboTexts(w.ui()->comboBoxEnregistrement),
                 (QStringList{QStringLiteral("AAA     "), QStringLiteral("BBB     ")}));
        QCOMPARE(w.ui()->comboBoxEnregistrement->currentIndex(), 0);
    }

    void secondTableReleasesFirst()
    {
        const QString first = writeData(QStringLiteral("first.dbf"), codeTable(3));
        const QString second = writeData(QStringLiteral("second.dbf"), codeTable(4));
        const QString memoTable = writeData(QStringLiteral("withmemo.dbf"),
                                            dbfBytes({{"NOTE", 'M', 10}}, {{"         1"}}, {.version = 0x83}));
        const QString memo = writeData(QStringLiteral("withmemo.dbt"), dbtBytes({"texte"}));

        Codiflux w;
        QVERIFY(Inspect::load(w, first));
        QCOMPARE(openHandles(first), 1);
        QVERIFY(Inspect::load(w, second));
        QCOMPARE(openHandles(first), 0);
        QCOMPARE(openHandles(second), 1);
        QCOMPARE(w.ui()->comboBoxEnregistrement->count(), 4);

        // The same base again: still one handle.
        QVERIFY(Inspect::load(w, second));
        QCOMPARE(openHandles(second), 1);

        QVERIFY(Inspect::load(w, memoTable));
        QCOMPARE(openHandles(second), 0);
        QCOMPARE(openHandles(memoTable), 1);
        QCOMPARE(openHandles(memo), 1);
        QCOMPARE(w.ui()->comboBoxEnregistrement->itemText(0), QStringLiteral("texte     "));

        // A failed open leaves no table and nothing open.
        const QString broken = writeData(QStringLiteral("broken.dbf"), QByteArray("not a table at all, really not"));
        ModalDriver driver({closeBox});
        QVERIFY(!Inspect::load(w, broken));
        QVERIFY(driver.done());
        QCOMPARE(openHandles(memoTable), 0);
        QCOMPARE(openHandles(memo), 0);
        QVERIFY(!Inspect::table(w));
    }

    // ---- The file dialog ----------------------------------------------------

    void dialogCancelChangesNothing()
    {
        const QString path = writeData(QStringLiteral("kept.dbf"), codeTable(3));
        Codiflux w;
        CodifluxClass* ui = w.ui();
        QSettings* settings = Inspect::settings(w);
        const QString startFolder = dataDir.path();
        settings->setValue(QLatin1String(codiflux::keys::CheminChargement), startFolder);

        QVERIFY(Inspect::load(w, path));
        ui->lineEditBaseSource->setText(path);
        codiflux::DbfTable* table = Inspect::table(w);

        ModalDriver driver({cancelFileDialog});
        w.chargerBase();
        QVERIFY(driver.done());
        const SeenDialog& seen = driver.seen.first();
        QCOMPARE(seen.title, QStringLiteral("Veuillez sélectionner la base à charger..."));
        QCOMPARE(seen.parentWidget, &w);
        QCOMPARE(seen.directory, QDir(startFolder).absolutePath());
        QCOMPARE(seen.nameFilters,
                 (QStringList{QStringLiteral("Tous les formats connus (*.dbf *.txt *.csv)"),
                              QStringLiteral("Bases DBF (*.dbf)"), QStringLiteral("Fichiers texte (*.txt)"),
                              QStringLiteral("Bases CSV (*.csv)"), QStringLiteral("Tous les fichiers (*.*)")}));
        QCOMPARE(seen.fileMode, QFileDialog::ExistingFile);
        QCOMPARE(seen.acceptMode, QFileDialog::AcceptOpen);

        QCOMPARE(ui->lineEditBaseSource->text(), path);
        QCOMPARE(settings->value(QLatin1String(codiflux::keys::CheminChargement)).toString(), startFolder);
        QCOMPARE(Inspect::table(w), table);
        QCOMPARE(Inspect::baseKind(w), int(codiflux::BaseKind::Dbf));
        QCOMPARE(ui->comboBoxEnregistrement->count(), 3);
        QVERIFY(layoutShown(ui->layout_selectionChamp, true));
    }

    void dialogStartsInCurrentFolderByDefault()
    {
        Codiflux w;
        QSettings* settings = Inspect::settings(w);
        settings->remove(QLatin1String(codiflux::keys::CheminChargement));
        ModalDriver driver({cancelFileDialog});
        w.chargerBase();
        QVERIFY(driver.done());
        QCOMPARE(driver.seen.first().directory, QDir::current().absolutePath());
        QVERIFY(!settings->contains(QLatin1String(codiflux::keys::CheminChargement)));
    }

    void dialogLoadsChosenBase_data()
    {
        QTest::addColumn<QString>("subfolder");
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("kind");
        QTest::newRow("dbf") << "dbfs"
                             << "choisie.dbf" << 0;
        QTest::newRow("txt") << "texts"
                             << "choisie.txt" << 1;
    }

    void dialogLoadsChosenBase()
    {
        QFETCH(QString, subfolder);
        QFETCH(QString, name);
        QFETCH(int, kind);
        QVERIFY(QDir(dataDir.path()).mkpath(subfolder));
        const QString path = writeData(subfolder + QLatin1Char('/') + name,
                                       kind == int(codiflux::BaseKind::Dbf) ? codeTable(2) : textLines(3, 7));
        Codiflux w;
        ModalDriver driver({chooseFile(path)});
        w.chargerBase();
        QVERIFY(driver.done());
        QCOMPARE(driver.seen.size(), 1);
        QCOMPARE(w.ui()->lineEditBaseSource->text(), path);
        QCOMPARE(Inspect::settings(w)->value(QLatin1String(codiflux::keys::CheminChargement)).toString(),
                 dataPath(subfolder));
        QCOMPARE(Inspect::baseKind(w), kind);
        if (kind == int(codiflux::BaseKind::Dbf))
            QCOMPARE(w.ui()->comboBoxEnregistrement->count(), 2);
        else
            QCOMPARE(w.ui()->plainTextEditSelecteurPosition->document()->blockCount(), 3);
    }

    // ---- Warning boxes ------------------------------------------------------

    void warningBoxes_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("viaDialog");
        QTest::addColumn<int>("kind");

        // The dialog only returns existing files: a missing file and a folder
        // are handed to the loading directly.
        QTest::newRow("missing file") << "absente.txt" << kNotReadable << false << 0;
        // The engine's refusal names its reason.
        QTest::newRow("not a table") << "pas_une_table.dbf"
                                     << kDbfFailed
                + QStringLiteral("\nLe fichier fait moins de 32 octets : ce n'est pas une table dBase.")
                                     << true << 0;
        QTest::newRow("empty table file")
            << "vide.dbf"
            << kDbfFailed + QStringLiteral("\nLe fichier fait moins de 32 octets : ce n'est pas une table dBase.")
            << true << 0;
        // A folder is readable but no file to open; its error text follows.
        QTest::newRow("text cannot be opened") << "dossier.txt" << QString() << false << 1;
        QTest::newRow("CSV with an unbalanced quote")
            << "guillemet.csv"
            << kDbfFailed + QStringLiteral("\nLigne 3 : le guillemet ouvert sur cette ligne n'est jamais fermé.")
            << true << 3;
    }

    void warningBoxes()
    {
        QFETCH(QString, name);
        QFETCH(QString, text);
        QFETCH(bool, viaDialog);
        QFETCH(int, kind);

        const QString path = dataPath(name);
        QFile::remove(path);
        if (name == QLatin1String("pas_une_table.dbf"))
            writeData(name, QByteArray("just some text, not a table\n"));
        else if (name == QLatin1String("vide.dbf"))
            writeData(name, QByteArray());
        else if (name == QLatin1String("guillemet.csv"))
            writeData(name, QByteArray("CODE;NOM\n1;a\n2;\"b\n"));
        else if (name == QLatin1String("dossier.txt"))
            QVERIFY(QDir(dataDir.path()).mkpath(name));
        if (text.isNull()) {
            QFile folder(path);
            QVERIFY(!folder.open(QIODevice::ReadOnly));
            QVERIFY(!folder.errorString().isEmpty());
            text = kNotReadable + QStringLiteral("\nErreur : ") + folder.errorString();
        }

        // A DBF base is loaded first, so that a failure can be seen to hide it.
        Codiflux w;
        CodifluxClass* ui = w.ui();
        const QString before = writeData(QStringLiteral("before.dbf"), codeTable(2));
        QVERIFY(Inspect::load(w, before));
        ui->lineEditBaseSource->setText(before);
        QVERIFY(layoutShown(ui->layout_selectionChamp, true));
        Inspect::settings(w)->setValue(QLatin1String(codiflux::keys::CheminChargement), QStringLiteral("/"));

        SeenDialog box;
        if (viaDialog) {
            ModalDriver driver({chooseFile(path), closeBox});
            w.chargerBase();
            QVERIFY(driver.done());
            box = driver.seen.at(1);
            // A failed load clears the path; the folder stays remembered.
            QVERIFY(ui->lineEditBaseSource->text().isEmpty());
            QCOMPARE(Inspect::settings(w)->value(QLatin1String(codiflux::keys::CheminChargement)).toString(),
                     dataDir.path());
        } else {
            ModalDriver driver({closeBox});
            QVERIFY(!Inspect::load(w, path));
            QVERIFY(driver.done());
            box = driver.seen.at(0);
        }
        QCOMPARE(box.className, QStringLiteral("QMessageBox"));
        QCOMPARE(box.title, kLoadTitle);
        QCOMPARE(box.text, text);
        QCOMPARE(box.icon, QMessageBox::Warning);
        QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Close));
        QCOMPARE(box.defaultButton, QMessageBox::Close);
        QCOMPARE(box.parentWidget, &w);

        QVERIFY(layoutShown(ui->layout_selectionChamp, false));
        QVERIFY(layoutShown(ui->layout_selectionPosition, false));
        QVERIFY(!shown(ui->labelNomChampSortie));
        QVERIFY(!shown(ui->lineEditNomChampSortie));
        // Unchanged when the file was not readable, else as the suffix says.
        QCOMPARE(Inspect::baseKind(w), kind);
        if (text.startsWith(kDbfFailed)) {
            QVERIFY(!Inspect::table(w));
            QCOMPARE(Inspect::fieldCount(w), 0);
            QCOMPARE(ui->comboBoxChamps->count(), 0);
            QCOMPARE(ui->comboBoxEnregistrement->count(), 0);
        } else {
            // The earlier table and its lists stay, hidden.
            QVERIFY(Inspect::table(w));
            QCOMPARE(ui->comboBoxChamps->count(), 1);
            QCOMPARE(ui->comboBoxEnregistrement->count(), 2);
        }
    }

    void unreadableFileKeepsKind()
    {
        const QString path = writeData(QStringLiteral("locked.txt"), textLines(2, 5));
        QVERIFY(QFile::setPermissions(path, QFileDevice::WriteOwner));
        if (QFileInfo(path).isReadable())
            QSKIP("running with the rights to read any file: a locked file stays readable");
        Codiflux w;
        QVERIFY(Inspect::load(w, writeData(QStringLiteral("ok.txt"), textLines(2, 5))));
        ModalDriver driver({closeBox});
        QVERIFY(!Inspect::load(w, path));
        QVERIFY(driver.done());
        QCOMPARE(driver.seen.first().text, kNotReadable);
        QCOMPARE(Inspect::baseKind(w), int(codiflux::BaseKind::Text));
        QVERIFY(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    }

    // ---- Text bases ---------------------------------------------------------

    void textAfterDbfKeepsListsHidden()
    {
        Codiflux w;
        CodifluxClass* ui = w.ui();
        QVERIFY(Inspect::load(
            w,
            writeData(QStringLiteral("d.dbf"), dbfBytes({{"CODE", 'C', 4}, {"NOM", 'C', 3}}, {{"1"}, {"2"}, {"3"}}))));
        codiflux::DbfTable* table = Inspect::table(w);
        QVERIFY(Inspect::load(w, writeData(QStringLiteral("t.txt"), textLines(3, 6))));

        QCOMPARE(Inspect::baseKind(w), int(codiflux::BaseKind::Text));
        QCOMPARE(Inspect::table(w), table);
        QCOMPARE(Inspect::fieldCount(w), 2);
        QCOMPARE(ui->comboBoxChamps->count(), 2);
        QCOMPARE(ui->comboBoxEnregistrement->count(), 3);
        QVERIFY(layoutShown(ui->layout_selectionChamp, false));
        QVERIFY(layoutShown(ui->layout_selectionPosition, true));
        QVERIFY(!shown(ui->labelNomChampSortie));
        QVERIFY(!shown(ui->lineEditNomChampSortie));

        // And back to a DBF base.
        QVERIFY(Inspect::load(w, writeData(QStringLiteral("d2.dbf"), codeTable(5))));
        QVERIFY(layoutShown(ui->layout_selectionChamp, true));
        QVERIFY(layoutShown(ui->layout_selectionPosition, false));
        QCOMPARE(ui->comboBoxChamps->count(), 1);
        QCOMPARE(ui->comboBoxEnregistrement->count(), 5);
    }

    void textLinesShown_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<int>("maxLength");

        QTest::newRow("LF") << QByteArray("abc\ndefgh\nij\n") << QStringList{"abc", "defgh", "ij"} << 5;
        QTest::newRow("CR LF") << QByteArray("abc\r\ndefgh\r\nij\r\n") << QStringList{"abc", "defgh", "ij"} << 5;
        QTest::newRow("no final line end")
            << QByteArray("abc\r\ndefgh\r\nij") << QStringList{"abc", "defgh", "ij"} << 5;
        QTest::newRow("byte-order mark skipped") << QByteArray("\xEF\xBB\xBF"
                                                               "abc\ndef\n")
                                                 << QStringList{"abc", "def"} << 3;
        QTest::newRow("byte-order mark only at the start")
            << QByteArray("ab\n\xEF\xBB\xBF\n") << QStringList{"ab", QString::fromLatin1("\xEF\xBB\xBF")} << 3;
        QTest::newRow("empty file") << QByteArray() << QStringList{QString()} << 0;
        QTest::newRow("empty line kept") << QByteArray("\nabcd\n") << QStringList{"", "abcd"} << 4;
    }

    void textLinesShown()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, lines);
        QFETCH(int, maxLength);
        Codiflux w;
        QVERIFY(Inspect::load(w, writeData(QStringLiteral("lines.txt"), bytes)));
        QCOMPARE(blockTexts(w.ui()->plainTextEditSelecteurPosition), lines);
        QCOMPARE(Inspect::maxLineLength(w), maxLength);
    }

    void latin1BytesKept()
    {
        QByteArray high;
        for (int b = 0x80; b <= 0xFF; ++b)
            high.append(static_cast<char>(b));
        const QByteArray bytes = high + "\n" + high + "\n";
        Codiflux w;
        QVERIFY(Inspect::load(w, writeData(QStringLiteral("latin1.txt"), bytes)));
        // One character per byte: 128 columns.
        QCOMPARE(Inspect::maxLineLength(w), 128);
        const QStringList texts = blockTexts(w.ui()->plainTextEditSelecteurPosition);
        QCOMPARE(texts.size(), 2);
        for (const QString& text : texts) {
            QCOMPARE(text.size(), 128);
            for (int i = 0; i < text.size(); ++i)
                QCOMPARE(text.at(i).unicode(), ushort(0x80 + i));
        }
    }

    void atMostThousandLines()
    {
        // Line 500 is the longest shown; line 1500 is longer still but not shown.
        QByteArray bytes;
        for (int k = 0; k < 2500; ++k) {
            int length = 20;
            if (k == 499)
                length = 33;
            else if (k == 1499)
                length = 80;
            bytes.append(QByteArray(length, static_cast<char>('A' + k % 26)));
            bytes.append("\r\n");
        }
        Codiflux w;
        QVERIFY(Inspect::load(w, writeData(QStringLiteral("long.txt"), bytes)));
        QPlainTextEdit* view = w.ui()->plainTextEditSelecteurPosition;
        QCOMPARE(view->document()->blockCount(), 1000);
        QCOMPARE(Inspect::maxLineLength(w), 33);
        QCOMPARE(view->document()->lastBlock().text(), QString(20, QLatin1Char(static_cast<char>('A' + 999 % 26))));
    }

    void textLoadFocusesView()
    {
        auto w = windowWithTenColumns();
        QVERIFY(w);
        QPlainTextEdit* view = w->ui()->plainTextEditSelecteurPosition;
        // Focus is only tracked in a shown window; the focus goes elsewhere first.
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        w->ui()->comboBoxChamps->show();
        w->ui()->comboBoxChamps->setFocus();
        QCOMPARE(w->focusWidget(), w->ui()->comboBoxChamps);
        // A selection left from before; a second load clears it.
        QTextCursor cursor = view->textCursor();
        cursor.setPosition(3);
        cursor.setPosition(30, QTextCursor::KeepAnchor);
        view->setTextCursor(cursor);
        QVERIFY(view->textCursor().hasSelection());

        QVERIFY(Inspect::load(*w, writeData(QStringLiteral("again.txt"), textLines(4, 6))));
        QCOMPARE(view->textCursor().position(), 0);
        QVERIFY(!view->textCursor().hasSelection());
        QCOMPARE(w->focusWidget(), view);
        QCOMPARE(Inspect::maxLineLength(*w), 6);
        QCOMPARE(view->document()->blockCount(), 4);
    }

    // ---- Column range ---------------------------------------------------------

    void viewSelection_data()
    {
        QTest::addColumn<int>("anchor");
        QTest::addColumn<int>("position");
        QTest::addColumn<int>("debut");
        QTest::addColumn<int>("fin");
        QTest::addColumn<int>("nb");

        QTest::newRow("3rd to 5th of the third line") << 24 << 27 << 3 << 5 << 3;
        QTest::newRow("same, selected backwards") << 27 << 24 << 3 << 5 << 3;
        QTest::newRow("whole first line") << 0 << 10 << 1 << 10 << 10;
        QTest::newRow("one character") << 45 << 46 << 2 << 2 << 1;
        QTest::newRow("across two lines") << 8 << 13 << 9 << 2 << 5;
    }

    void viewSelection()
    {
        QFETCH(int, anchor);
        QFETCH(int, position);
        QFETCH(int, debut);
        QFETCH(int, fin);
        QFETCH(int, nb);
        auto w = windowWithTenColumns();
        QVERIFY(w);
        QPlainTextEdit* view = w->ui()->plainTextEditSelecteurPosition;

        QSignalSpy debutSpy(w->ui()->spinBoxPosDebut, &QSpinBox::valueChanged);
        QSignalSpy finSpy(w->ui()->spinBoxPosFin, &QSpinBox::valueChanged);
        QSignalSpy nbSpy(w->ui()->spinBoxPosNbCar, &QSpinBox::valueChanged);

        QTextCursor cursor = view->textCursor();
        cursor.setPosition(anchor);
        cursor.setPosition(position, QTextCursor::KeepAnchor);
        view->setTextCursor(cursor);

        checkSpinBoxes(*w, debut, fin, nb);
        // Set quietly: no spin box slot ran.
        QCOMPARE(debutSpy.count() + finSpy.count() + nbSpy.count(), 0);
        // The view's own selection is left as the user made it.
        QCOMPARE(view->textCursor().anchor(), anchor);
        QCOMPARE(view->textCursor().position(), position);
        checkHighlights(*w, debut, fin);

        // Clearing the selection empties the range and the highlights.
        cursor.clearSelection();
        view->setTextCursor(cursor);
        checkSpinBoxes(*w, 0, 0, 0);
        QVERIFY(view->extraSelections().isEmpty());
        QCOMPARE(debutSpy.count() + finSpy.count() + nbSpy.count(), 0);
    }

    void spinBoxes_data()
    {
        QTest::addColumn<int>("startDebut");
        QTest::addColumn<int>("startFin");
        QTest::addColumn<QString>("box");
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("debut");
        QTest::addColumn<int>("fin");
        QTest::addColumn<int>("nb");

        QTest::newRow("debut beyond fin pulls fin") << 2 << 5 << "debut" << 7 << 7 << 7 << 1;
        QTest::newRow("debut within range") << 2 << 5 << "debut" << 4 << 4 << 5 << 2;
        QTest::newRow("debut equal to fin") << 2 << 5 << "debut" << 5 << 5 << 5 << 1;
        QTest::newRow("fin before debut snaps back") << 4 << 6 << "fin" << 2 << 4 << 4 << 1;
        QTest::newRow("fin extends") << 4 << 6 << "fin" << 9 << 4 << 9 << 6;
        QTest::newRow("fin to the line end") << 1 << 3 << "fin" << 10 << 1 << 10 << 10;
        QTest::newRow("nb 3 from 4") << 4 << 4 << "nb" << 3 << 4 << 6 << 3;
        QTest::newRow("nb 0 from 4") << 4 << 6 << "nb" << 0 << 4 << 3 << 0;
        QTest::newRow("nb 1 from 9") << 9 << 10 << "nb" << 1 << 9 << 9 << 1;
    }

    void spinBoxes()
    {
        QFETCH(int, startDebut);
        QFETCH(int, startFin);
        QFETCH(QString, box);
        QFETCH(int, value);
        QFETCH(int, debut);
        QFETCH(int, fin);
        QFETCH(int, nb);

        const int line = 2;
        auto w = windowWithTenColumns(5, line);
        QVERIFY(w);
        CodifluxClass* ui = w->ui();
        QPlainTextEdit* view = ui->plainTextEditSelecteurPosition;

        // The starting range, typed as a user would.
        ui->spinBoxPosDebut->setValue(startDebut);
        ui->spinBoxPosFin->setValue(startFin);
        checkSpinBoxes(*w, startDebut, startFin, startFin - startDebut + 1);

        QSignalSpy debutSpy(ui->spinBoxPosDebut, &QSpinBox::valueChanged);
        QSignalSpy finSpy(ui->spinBoxPosFin, &QSpinBox::valueChanged);
        QSignalSpy nbSpy(ui->spinBoxPosNbCar, &QSpinBox::valueChanged);
        QSignalSpy viewSpy(view, &QPlainTextEdit::selectionChanged);

        QSpinBox* target = box == QLatin1String("debut") ? ui->spinBoxPosDebut
            : box == QLatin1String("fin")                ? ui->spinBoxPosFin
                                                         : ui->spinBoxPosNbCar;
        target->setValue(value);

        checkSpinBoxes(*w, debut, fin, nb);
        // Only the box the user changed spoke, except when fin snaps back,
        // which sets fin again with its signals active.
        QCOMPARE(debutSpy.count(), target == ui->spinBoxPosDebut ? 1 : 0);
        QCOMPARE(nbSpy.count(), target == ui->spinBoxPosNbCar ? 1 : 0);
        if (target == ui->spinBoxPosFin) {
            QCOMPARE(finSpy.count(), value < startDebut ? 2 : 1);
            if (value < startDebut) {
                // The snap back runs inside the first change, so the spy,
                // connected after the window, may see the two in either order.
                QList<int> values{finSpy.at(0).at(0).toInt(), finSpy.at(1).at(0).toInt()};
                std::sort(values.begin(), values.end());
                QCOMPARE(values, (QList<int>{value, startDebut}));
            }
        } else {
            QCOMPARE(finSpy.count(), 0);
        }
        QCOMPARE(viewSpy.count(), 0);

        // The view selects those columns of the cursor's line.
        const QTextCursor cursor = view->textCursor();
        QCOMPARE(cursor.anchor(), 11 * line + debut - 1);
        QCOMPARE(cursor.position(), 11 * line + fin);
        QCOMPARE(cursor.block().blockNumber(), line);
        const QString text = view->document()->findBlockByNumber(line).text();
        QCOMPARE(cursor.selectedText(), nb > 0 ? text.mid(debut - 1, nb) : QString());
        checkHighlights(*w, debut, fin);
    }

    void cursorLineFollowsView()
    {
        // The selection made from the spin boxes lands on the cursor's line.
        for (int line : {0, 4}) {
            auto w = windowWithTenColumns(5, line);
            QVERIFY(w);
            w->ui()->spinBoxPosDebut->setValue(3);
            w->ui()->spinBoxPosNbCar->setValue(4);
            const QTextCursor cursor = w->ui()->plainTextEditSelecteurPosition->textCursor();
            QCOMPARE(cursor.selectionStart(), 11 * line + 2);
            QCOMPARE(cursor.selectionEnd(), 11 * line + 6);
            checkSpinBoxes(*w, 3, 6, 4);
        }
    }

    void highlightEveryLine()
    {
        auto w = windowWithTenColumns(40, 0);
        QVERIFY(w);
        w->ui()->spinBoxPosDebut->setValue(6);
        w->ui()->spinBoxPosFin->setValue(8);
        QCOMPARE(w->ui()->plainTextEditSelecteurPosition->extraSelections().size(), 40);
        checkHighlights(*w, 6, 8);

        // A direct call selects and highlights likewise.
        w->selectionnerPosition(2, 3);
        checkSpinBoxes(*w, 2, 3, 2);
        checkHighlights(*w, 2, 3);

        // fin 0 clears them.
        w->ui()->spinBoxPosDebut->setValue(0);
        w->ui()->spinBoxPosFin->setValue(0);
        QCOMPARE(w->ui()->spinBoxPosFin->value(), 0);
        QVERIFY(w->ui()->plainTextEditSelecteurPosition->extraSelections().isEmpty());
    }

    void rangesOutsideTheTextStayInside()
    {
        // Columns beyond the text or before the first line are held at the
        // document's ends rather than refused.
        auto w = windowWithTenColumns(3, 2);
        QVERIFY(w);
        QPlainTextEdit* view = w->ui()->plainTextEditSelecteurPosition;
        const int last = view->document()->characterCount() - 1;
        w->ui()->spinBoxPosDebut->setValue(5);
        w->ui()->spinBoxPosFin->setValue(2147483647);
        checkSpinBoxes(*w, 5, 2147483647, 2147483647 - 5 + 1);
        QCOMPARE(view->textCursor().position(), last);
        QCOMPARE(view->extraSelections().size(), 3);
        w->ui()->spinBoxPosNbCar->setValue(2147483647);
        QCOMPARE(w->ui()->spinBoxPosFin->value(), 2147483647);
        for (const QTextEdit::ExtraSelection& h : view->extraSelections())
            QCOMPARE(h.cursor.position(), last);

        w->ui()->spinBoxPosDebut->setValue(0);
        QCOMPARE(w->ui()->spinBoxPosDebut->value(), 0);
        w->selectionnerPosition(0, 2);
        const QList<QTextEdit::ExtraSelection> highlights = view->extraSelections();
        QCOMPARE(highlights.first().cursor.anchor(), 0);
    }
};

QTEST_MAIN(TestWindowBases)
#include "test_window_bases.moc"
