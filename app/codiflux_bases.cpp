// Loading a base into the window, its fields and records, and the column
// range of a text base.

#include "app/codiflux.h"

#include "bases/dbf.h"
#include "bases/listing.h"
#include "bases/textbase.h"
#include "codes/encoding.h"
#include "settings/parametres.h"

#include <QBoxLayout>
#include <QColor>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QSettings>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStatusBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

namespace {

// At most this many records are listed for a field of a DBF base.
constexpr unsigned kMaxListedRecords = codiflux::kListedRecords;

// Sets a spin box without running the slots connected to it.
void setQuietly(QSpinBox* box, qint64 value)
{
    const QSignalBlocker blocker(box);
    box->setValue(static_cast<int>(std::clamp<qint64>(value, INT_MIN, INT_MAX)));
}

// A view position kept inside the document, so that a range reaching before
// the first line or past the last one stops at the document's ends.
int clampPosition(const QTextDocument* document, qint64 position)
{
    const qint64 last = std::max(0, document->characterCount() - 1);
    return static_cast<int>(std::clamp<qint64>(position, 0, last));
}

// The 8-bit text of a fixed-size, NUL-terminated name, as Latin-1 characters.
}  // namespace

void Codiflux::chargerBase()
{
    const QString folder
        = settings->value(QLatin1String(codiflux::keys::CheminChargement), QStringLiteral(".")).toString();
    const QString path = QFileDialog::getOpenFileName(
        this, tr("Veuillez sélectionner la base à charger..."), folder,
        codiflux::loadDialogFilter());
    if (path.isEmpty())
        return;

    // The folder is remembered even when the base then fails to load.
    form.lineEditBaseSource->setText(path);
    settings->setValue(QLatin1String(codiflux::keys::CheminChargement), QFileInfo(path).path());

    // A new base is read with its own code page until the user forces one.
    {
        const QSignalBlocker blocker(form.comboBoxPageCode);
        form.comboBoxPageCode->setCurrentIndex(0);
    }
    if (!loadFile(path))
        form.lineEditBaseSource->clear();
}

bool Codiflux::loadFile(const QString& path)
{
    setLayoutVisible(form.layout_selectionChamp, false);
    setLayoutVisible(form.layout_selectionPosition, false);
    setLayoutVisible(form.layout_pageCode, false);
    form.labelNomChampSortie->hide();
    form.lineEditNomChampSortie->hide();

    const QFileInfo info(path);
    if (!info.isReadable()) {
        QMessageBox::warning(this, tr("Chargement base..."), tr("Impossible d'ouvrir le fichier sélectionné."),
                             QMessageBox::Close, QMessageBox::Close);
        return false;
    }

    // Each kind of base has its own layout of the form.
    baseFormat = &codiflux::formatOf(path);
    basePath = path;
    switch (baseFormat->kind()) {
    case codiflux::BaseKind::Csv:
        return loadCsv(path);
    case codiflux::BaseKind::Dbf:
        return loadDbf(path);
    default:
        return loadText(info.absoluteFilePath());
    }
}

bool Codiflux::loadDbf(const QString& path)
{
    // The previous table is closed before the new one is opened, so that a
    // base is never held open once another one is loaded.
    table.reset();
    // The text as stored, read with the table's code page.
    table.reset(codiflux::dbf_open(QFile::encodeName(path).constData(), nullptr, 0, 1));

    // Emptying the combo box runs selectionnerChamp(-1), which empties the record list.
    champs.clear();
    form.comboBoxChamps->clear();

    if (!table) {
        QMessageBox::warning(this, tr("Chargement base..."),
                             tr("Une erreur est survenue lors du chargement.") + QLatin1Char('\n')
                                 + codiflux::tableRefusalText(path),
                             QMessageBox::Close, QMessageBox::Close);
        return false;
    }

    const std::optional<codiflux::CodePage> forced = forcedCodePage();
    showCodePage(codiflux::dbfCodePage(path, codiflux::dbf_header_bytes(table.get())[29], forced ? &*forced : nullptr));
    const unsigned fieldCount = codiflux::dbf_field_count(table.get());
    champs.reserve(static_cast<qsizetype>(fieldCount));
    for (unsigned i = 0; i < fieldCount; ++i) {
        codiflux::DbfFieldInfo field{};
        codiflux::dbf_field_info(table.get(), i, &field);
        champs.append(field);
    }
    // The first item added becomes current and lists its records.
    for (const codiflux::DbfFieldInfo& field : std::as_const(champs))
        form.comboBoxChamps->addItem(codiflux::fieldName(field, pageCode.page));

    setLayoutVisible(form.layout_selectionChamp, true);
    form.labelNomChampSortie->show();
    form.lineEditNomChampSortie->show();
    return true;
}

bool Codiflux::loadText(const QString& path)
{
    codiflux::TextBaseDisplay display;
    if (const codiflux::Error error = codiflux::readTextBaseForDisplay(path, display)) {
        QMessageBox::warning(this, tr("Chargement base..."),
                             tr("Impossible d'ouvrir le fichier sélectionné.\nErreur : %1").arg(error.text),
                             QMessageBox::Close, QMessageBox::Close);
        return false;
    }

    QPlainTextEdit* view = form.plainTextEditSelecteurPosition;
    maxLineLength = 0;
    view->clear();
    // One record per line, read with the base's code page: the columns count
    // characters.
    const std::optional<codiflux::CodePage> forced = forcedCodePage();
    showCodePage(codiflux::textCodePage(path, forced ? &*forced : nullptr));
    QString text;
    {
        qsizetype size = 0;
        for (const QByteArray& line : std::as_const(display.lines))
            size += line.size() + 1;
        text.reserve(size);
    }
    for (qsizetype i = 0; i < display.lines.size(); ++i) {
        if (i > 0)
            text.append(QLatin1Char('\n'));
        const QString line = codiflux::decodeText(display.lines.at(i), pageCode.page);
        maxLineLength = int(std::max<qsizetype>(maxLineLength, std::min<qsizetype>(line.size(), INT_MAX)));
        text.append(line);
    }
    view->setPlainText(text);

    view->setFocus();
    QTextCursor cursor = view->textCursor();
    cursor.setPosition(0);
    view->setTextCursor(cursor);

    setLayoutVisible(form.layout_selectionPosition, true);
    form.lineEditModeleValeur->show();  // a text base's template names its columns: {1:10}
    return true;
}

bool Codiflux::loadCsv(const QString& path)
{
    // A CSV base loads like a DBF base: its header's names are the fields.
    table.reset();
    champs.clear();
    form.comboBoxChamps->clear();
    if (const codiflux::Error error = codiflux::readCsvForDisplay(path, codiflux::CsvOptions(), csvBase)) {
        csvBase = codiflux::CsvDisplay();
        QMessageBox::warning(this, tr("Chargement base..."),
                             tr("Une erreur est survenue lors du chargement.") + QLatin1Char('\n') + error.text,
                             QMessageBox::Close, QMessageBox::Close);
        return false;
    }
    form.comboBoxChamps->addItems(csvBase.columns);

    setLayoutVisible(form.layout_selectionChamp, true);
    form.labelNomChampSortie->show();
    form.lineEditNomChampSortie->show();
    return true;
}

void Codiflux::selectionnerChamp(int index)
{
    form.comboBoxEnregistrement->clear();
    if (!baseFormat || !baseFormat->hasFields() || index < 0 || index >= form.comboBoxChamps->count())
        return;
    form.lineEditNomChampSortie->setText(baseFormat->defaultFieldName(form.comboBoxChamps->itemText(index)));

    auto progress = std::make_unique<QProgressBar>();
    progress->setMaximum(static_cast<int>(kMaxListedRecords));
    progress->setValue(0);
    form.statusBar->addWidget(progress.get(), 1);

    // The values read with the code page shown (a CSV base: decoded from its
    // encoding); a record that cannot be loaded lists as blanks, never as the
    // previous record's value. The first one that is not blank becomes current.
    codiflux::SourceRequest request;
    request.forcedCodePage = &pageCode.page;
    int listed = 0;
    request.beforeRecord = [&progress, &listed] {
        progress->setValue(listed++);
        return true;
    };
    codiflux::ValueListing listing;
    baseFormat->listValues(basePath, index, request, kMaxListedRecords, false, &listing);
    form.comboBoxEnregistrement->addItems(listing.values);
    if (listing.filled >= 0)
        form.comboBoxEnregistrement->setCurrentIndex(static_cast<int>(listing.filled));

    form.statusBar->removeWidget(progress.get());
}

void Codiflux::selectionnerPosition(int debut, int fin)
{
    QPlainTextEdit* view = form.plainTextEditSelecteurPosition;
    const qint64 stride = static_cast<qint64>(maxLineLength) + 1;
    {
        const QSignalBlocker blocker(view);
        QTextCursor cursor = view->textCursor();
        const qint64 lineStart = stride * cursor.blockNumber();
        cursor.setPosition(clampPosition(view->document(), lineStart + debut - 1));
        cursor.setPosition(clampPosition(view->document(), lineStart + fin), QTextCursor::KeepAnchor);
        view->setTextCursor(cursor);
    }

    setQuietly(form.spinBoxPosDebut, debut);
    setQuietly(form.spinBoxPosFin, fin);
    setQuietly(form.spinBoxPosNbCar, static_cast<qint64>(fin) - debut + 1);
    updateOtherSelections();
}

void Codiflux::selectionnerPosition()
{
    const QTextCursor cursor = form.plainTextEditSelecteurPosition->textCursor();
    const qint64 start = cursor.selectionStart();
    const qint64 end = cursor.selectionEnd();

    qint64 debut = 0;
    qint64 fin = 0;
    qint64 nb = 0;
    if (start < end) {
        debut = start + 1;
        fin = end;
        nb = end - start;
    }
    // Columns of the two ends on their lines; the count keeps every character
    // in between, line ends included.
    const qint64 stride = static_cast<qint64>(maxLineLength) + 1;
    debut %= stride;
    fin %= stride;

    setQuietly(form.spinBoxPosDebut, debut);
    setQuietly(form.spinBoxPosFin, fin);
    setQuietly(form.spinBoxPosNbCar, nb);
    updateOtherSelections();
}

void Codiflux::selectionnerDebutPosition(int value)
{
    const int debut = value;
    int fin = form.spinBoxPosFin->value();
    if (fin < debut) {
        setQuietly(form.spinBoxPosFin, debut);
        fin = debut;
    }
    setQuietly(form.spinBoxPosNbCar, static_cast<qint64>(fin) - debut + 1);
    selectionnerPosition(debut, fin);
}

void Codiflux::selectionnerFinPosition(int value)
{
    const int fin = value;
    const int debut = form.spinBoxPosDebut->value();
    // A negative count shows as 0.
    setQuietly(form.spinBoxPosNbCar, std::max<qint64>(0, static_cast<qint64>(fin) - debut + 1));
    if (fin < debut)
        form.spinBoxPosFin->setValue(debut);  // runs this slot again with fin = debut
    else
        selectionnerPosition(form.spinBoxPosDebut->value(), fin);
}

void Codiflux::selectionnerNbCarPosition(int value)
{
    const int debut = form.spinBoxPosDebut->value();
    const qint64 fin = static_cast<qint64>(debut) + value - 1;
    selectionnerPosition(debut, static_cast<int>(std::clamp<qint64>(fin, INT_MIN, INT_MAX)));
}

void Codiflux::updateOtherSelections()
{
    QPlainTextEdit* view = form.plainTextEditSelecteurPosition;
    const QColor colour = QColor(Qt::yellow).lighter(160);
    const int debut = form.spinBoxPosDebut->value();
    const int fin = form.spinBoxPosFin->value();

    if (fin == 0) {
        view->setExtraSelections({});
        return;
    }

    // The same columns on every displayed line, in bold on a light yellow.
    QTextCharFormat format;
    format.setBackground(QBrush(colour, Qt::SolidPattern));
    format.setProperty(QTextFormat::FullWidthSelection, true);
    format.setFontWeight(QFont::Bold);

    QTextDocument* document = view->document();
    const qint64 stride = static_cast<qint64>(maxLineLength) + 1;
    const int lines = document->blockCount();
    QList<QTextEdit::ExtraSelection> highlights;
    highlights.reserve(lines);
    for (int k = 0; k < lines; ++k) {
        QTextEdit::ExtraSelection highlight;
        highlight.cursor = QTextCursor(document);
        highlight.cursor.setPosition(clampPosition(document, stride * k + debut - 1));
        highlight.cursor.setPosition(clampPosition(document, stride * k + fin), QTextCursor::KeepAnchor);
        highlight.format = format;
        highlights.append(highlight);
    }
    view->setExtraSelections(highlights);
}
