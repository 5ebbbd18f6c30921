// The preview of one record's code: the value of the current record is encoded
// with the window's parameters, then shown as a bitmap (one pixel per cell),
// as the font text that will print it, and by the dimensions of the field.

#include "app/codiflux.h"

#include "codes/encoding.h"
#include "codes/fonttext.h"
#include "codes/gs1.h"
#include "generation/csvgeneration.h"
#include "generation/generationcore.h"
#include "generation/valuetemplate.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFont>
#include <QGraphicsPixmapItem>
#include <QGraphicsTextItem>
#include <QGraphicsView>
#include <QImage>
#include <QLineEdit>
#include <QMessageBox>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTabWidget>
#include <QTextBlock>
#include <QTextCursor>

#include <algorithm>

namespace {

// The symbol as a 1-bit picture: white background, a black pixel per dark
// cell, row 0 at the top. No option of the font text applies here.
QImage symbolImage(const codiflux::ModuleGrid& grid)
{
    const int width = grid.width();
    const int height = grid.height();
    QImage image(width, height, QImage::Format_Mono);
    image.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
    image.fill(0);
    for (int r = 0; r < height; ++r) {
        uchar* line = image.scanLine(r);
        for (int c = 0; c < width; ++c) {
            if (grid.dark(c, r))
                line[c >> 3] |= uchar(0x80u >> (c & 7));
        }
    }
    return image;
}

// The value of the current record: the one listed, or for a text base the
// selected columns of the line under the cursor.
QString currentRecordValue(const CodifluxClass& form, const codiflux::BaseFormat* format)
{
    if (!format)
        return {};
    if (format->hasFields())
        return form.comboBoxEnregistrement->currentText();
    const int debut = form.spinBoxPosDebut->value();
    const int nbCar = form.spinBoxPosNbCar->value();
    if (debut < 1 || nbCar < 1)
        return {};
    const QString line = form.plainTextEditSelecteurPosition->textCursor().block().text();
    return line.mid(debut - 1, nbCar);
}

// The value a template makes for the current record (a CSV base: the
// longest one, the run's sample), or the refusal's text.
codiflux::Error composedValue(const CodifluxClass& form, const codiflux::BaseFormat* format, const QString& text,
                              const codiflux::CodePage* forced, bool utf8, QString* value)
{
    using namespace codiflux;
    QByteArray bytes;
    if (format) {
        const qint64 record = format->hasFields() ? form.comboBoxEnregistrement->currentIndex() + 1
                                                  : form.plainTextEditSelecteurPosition->textCursor().blockNumber() + 1;
        if (Error refused = composedSample(*format, form.lineEditBaseSource->text(), text, std::max<qint64>(record, 1),
                                           forced, utf8, &bytes))
            return refused;
    }
    *value = symbolText(bytes, utf8);
    return {};
}

// Why a value gives no symbol: the box's title and text.
struct PreviewRefusal {
    QString title;
    QString text;
};

// The symbol of a value: nothing but white space is not encoded; otherwise
// the spaces are removed on request, one byte per character, then encoded (a
// Datamatrix call that does not return in time is given up).
// In GS1 mode the value is checked, encoded as an element string, and its
// human-readable text goes to `hri`.
codiflux::EncodedSymbol encodePreview(const codiflux::Encoder& encoder, const CodifluxClass& form, QString value,
                                      PreviewRefusal& refusal, QByteArray* hri)
{
    using namespace codiflux;
    EncodedSymbol symbol;
    if (isBlankText(value)) {
        refusal = {Codiflux::tr("Enregistrement vide"), blankValueText()};
        return symbol;
    }
    value = trimWhiteSpace(value, form.checkBoxSupprimerGauche->isChecked(), form.checkBoxSupprimerDroite->isChecked());
    // The text as the symbol carries it: Windows-1252, or UTF-8 behind an ECI.
    QByteArray bytes;
    char32_t character = 0;
    if (!symbolBytes(value, carriesUtf8(encoder.parameters()), bytes, &character)) {
        refusal = {Codiflux::tr("Erreur lors de l'encodage"),
                   Codiflux::tr("La valeur contient le caractère « %1 », que le code ne peut pas porter : sans ECI, "
                                "un code ne porte que les caractères de Windows-1252. Un code QR les porte tous "
                                "avec l'option ECI UTF-8 ; le Datamatrix n'a pas d'ECI.")
                       .arg(QString::fromUcs4(&character, 1))};
        return symbol;
    }
    if (gs1::enabled(encoder.parameters())) {
        std::vector<gs1::Element> elements;
        Error fault = gs1::checkParameters(encoder.parameters());
        if (!fault)
            fault = gs1::parse(bytes, elements);
        if (fault) {
            refusal = {Codiflux::tr("Valeur GS1 refusée"), fault.text};
            return symbol;
        }
        bytes = gs1::libraryBytes(elements);
        *hri = gs1::humanReadable(elements);
    }
    if (const Error refused = encoder.encodeWithTimeLimit(bytes, symbol))
        refusal = {Codiflux::tr("Erreur lors de l'encodage"), refused.text};
    return symbol;
}

// The dimensions of the symbol and its field text, all 0 and empty without one.
void showDimensions(CodifluxClass& form, int width, int height, int bands, const QByteArray& field)
{
    form.lineEditNbColonnes->setText(QString::number(width));
    form.lineEditNbLignes->setText(QString::number(height));
    form.lineEditNbRangees->setText(QString::number(bands));
    form.spinBoxLongueurChampSortie->setValue(int(std::min<qsizetype>(field.size(), 1024)));
    form.plainTextEditPreview->setPlainText(QString::fromLatin1(field));
}

}  // namespace

void Codiflux::onPreview()
{
    using namespace codiflux;

    const ParameterSet shown = shownParameters();
    const Encoder encoder(shown.encoding);
    PreviewRefusal refusal;
    QString value = currentRecordValue(form, baseFormat);
    QByteArray hri;
    EncodedSymbol symbol;
    if (shown.valueTemplate.isEmpty())
        symbol = encodePreview(encoder, form, value, refusal, &hri);
    else if (const std::optional<CodePage> forced = forcedCodePage();
             const Error refused = composedValue(form, baseFormat, shown.valueTemplate, forced ? &*forced : nullptr,
                                                 carriesUtf8(shown.encoding), &value))
        refusal = {tr("Modèle de valeur"), refused.text};
    else
        symbol = encodePreview(encoder, form, value, refusal, &hri);
    const ModuleGrid& grid = symbol.grid();

    if (grid.isNull()) {
        // Failure: nothing is shown.
        showDimensions(form, 0, 0, 0, QByteArray());
        form.statusBar->clearMessage();
        scene.clear();
        bitmapItem = nullptr;
        textItem = nullptr;
        QMessageBox::information(this, refusal.title, refusal.text, QMessageBox::Close, QMessageBox::Close);
        return;
    }

    // The font text of the symbol, with the options as they are now; the
    // dimensions, the field text, then the scene.
    const int width = grid.width();
    const int height = grid.height();
    const FontText text = toFontText(grid, width, height, shown.fontText, false);
    showDimensions(form, width, height, bandCount(height), text.field);
    // A code field that most dBase readers would cut is said at once.
    QString message = longCodeFieldWarning(baseFormat, int(text.field.size()));
    if (!hri.isEmpty())  // what the label prints near the symbol
        message = tr("Texte lisible : %1").arg(QString::fromLatin1(hri))
            + (message.isEmpty() ? QString() : QStringLiteral("  ") + message);
    form.statusBar->showMessage(message);

    const QPixmap pixmap = QPixmap::fromImage(symbolImage(grid));
    scene.clear();
    bitmapItem = scene.addPixmap(pixmap);
    textItem = scene.addText(text.preview, QFont(QStringLiteral("Quadrex")));
    fitInView();
}

void Codiflux::fitInView()
{
    if (scene.items().isEmpty())
        return;
    const bool showBitmap = form.bmpPreviewRadioButton->isChecked();
    const bool showText = form.txtPreviewRadioButton->isChecked();
    if (bitmapItem)
        bitmapItem->setVisible(showBitmap);
    if (textItem)
        textItem->setVisible(showText);

    QRectF rect;
    if (showBitmap && bitmapItem)
        rect = bitmapItem->boundingRect();
    else if (showText && textItem)
        rect = textItem->boundingRect();
    scene.setSceneRect(rect);
    form.graphicsViewPreview->fitInView(rect.adjusted(-4, -4, 4, 4), Qt::KeepAspectRatio);
}
