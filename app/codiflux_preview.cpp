// The preview of one record's code: the value of the current record is encoded
// with the window's parameters, then shown as a bitmap (one pixel per cell),
// as the font text that will print it, and by the dimensions of the field.

#include "app/codiflux.h"

#include "codes/encoding.h"
#include "codes/fonttext.h"
#include "generation/generationcore.h"

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

}  // namespace

void Codiflux::onPreview()
{
    using namespace codiflux;

    const ParameterSet shown = shownParameters();
    const Encoder encoder(shown.encodingParameters());

    // 1. The value of the current record.
    QString value;
    if (baseKind == BaseKind::Dbf || baseKind == BaseKind::Csv) {
        value = form.comboBoxEnregistrement->currentText();
    } else if (baseKind == BaseKind::Text) {
        const int debut = form.spinBoxPosDebut->value();
        const int nbCar = form.spinBoxPosNbCar->value();
        if (debut >= 1 && nbCar >= 1) {
            const QString line = form.plainTextEditSelecteurPosition->textCursor().block().text();
            value = line.mid(debut - 1, nbCar);
        }
    }

    QString errorTitle;
    QString errorText;
    EncodedSymbol symbol;
    if (isBlankText(value)) {
        // 2. Nothing but white space: not encoded.
        errorTitle = tr("Enregistrement vide");
        errorText = blankValueText();
    } else {
        // 3. Spaces removed on request, one byte per character, then the
        // encoding (a Datamatrix call that does not return in time is given up).
        value = trimWhiteSpace(value, form.checkBoxSupprimerGauche->isChecked(),
                               form.checkBoxSupprimerDroite->isChecked());
        if (const Error refused = encoder.encodeWithTimeLimit(value.toLatin1(), symbol)) {
            errorTitle = tr("Erreur lors de l'encodage");
            errorText = refused.text;
        }
    }
    const ModuleGrid& grid = symbol.grid();

    if (grid.isNull()) {
        // Failure: nothing is shown.
        form.lineEditNbColonnes->setText(QStringLiteral("0"));
        form.lineEditNbLignes->setText(QStringLiteral("0"));
        form.lineEditNbRangees->setText(QStringLiteral("0"));
        form.spinBoxLongueurChampSortie->setValue(0);
        form.plainTextEditPreview->clear();
        form.statusBar->clearMessage();
        scene.clear();
        bitmapItem = nullptr;
        textItem = nullptr;
        QMessageBox::information(this, errorTitle, errorText, QMessageBox::Close, QMessageBox::Close);
        return;
    }

    // 4. The font text of the symbol, with the options as they are now.
    const int width = grid.width();
    const int height = grid.height();
    const FontText text = toFontText(grid, width, height, shown.fontTextOptions(), false);

    // 5. The dimensions, the field text, then the scene.
    form.lineEditNbColonnes->setText(QString::number(width));
    form.lineEditNbLignes->setText(QString::number(height));
    form.lineEditNbRangees->setText(QString::number(bandCount(height)));
    form.spinBoxLongueurChampSortie->setValue(int(std::min<qsizetype>(text.field.size(), 1024)));
    form.plainTextEditPreview->setPlainText(QString::fromLatin1(text.field));
    // A code field that most dBase readers would cut is said at once.
    form.statusBar->showMessage(baseKind == BaseKind::Dbf ? longCodeFieldWarning(int(text.field.size())) : QString());

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
