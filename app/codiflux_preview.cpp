// The preview of one record's code: the value of the current record is encoded
// with the window's parameters, then shown as a bitmap (one pixel per cell),
// as the font text that will print it, and by the dimensions of the field.

#include "app/codiflux.h"

#include "codes/dmtxencoder.h"
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

    // 1. The library objects for the current tab, before the value is read.
    const ParameterSet shown = parametresAffiches();
    const EncodingParameters parameters = shown.encodingParameters();
    const bool datamatrix = parameters.symbology == SymbologyDatamatrix;
    DmtxEncodePtr encoder;
    QRinputPtr input;
    QRcodePtr code;
    if (datamatrix)
        encoder = createDatamatrixEncoder(parameters);
    else
        input = createQrInput(parameters);

    // 2. The value of the current record.
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
    ModuleGrid grid;
    if (isBlankText(value)) {
        // 3. Nothing but white space: not encoded.
        errorTitle = tr("Enregistrement vide");
        errorText = tr("Cet enregistrement est vide, veuillez en sélectionner un autre pour permettre "
                       "l'initialisation des paramêtres d'encodage.");
    } else {
        // 4. Spaces removed on request.
        value = trimWhiteSpace(value, form.checkBoxSupprimerGauche->isChecked(),
                               form.checkBoxSupprimerDroite->isChecked());

        // 5. One byte per character.
        const QByteArray bytes = value.toLatin1();

        // 6. The encoding.
        if (datamatrix) {
            if (runDmtxEncoder(encoder, bytes) != 0 && encoder)
                grid = ModuleGrid::fromDatamatrix(encoder.get());
            else
                errorText = tr("Encodage impossible (vous pouvez essayer de changer la taille du datamatrix ou "
                               "le mode d'encodage).");
        } else {
            const int length = libraryInputLength(parameters, bytes.constData(), int(bytes.size()));
            if (input
                && QRinput_append(input.get(), QRencodeMode(parameters.qrMode), length,
                                  reinterpret_cast<const unsigned char*>(bytes.constData()))
                    == 0)
                code.reset(QRcode_encodeInput(input.get()));
            if (code)
                grid = ModuleGrid::fromQRcode(code.get());
            else
                errorText = tr("Encodage impossible (vous pouvez essayer de changer le mode d'encodage ou le "
                               "niveau de correction d'erreur).");
        }
        if (grid.isNull())
            errorTitle = tr("Erreur lors de l'encodage");
    }

    if (grid.isNull()) {
        // 9. Failure: nothing is shown.
        encoder.reset();
        code.reset();
        input.reset();
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

    // 7. The font text of the symbol, with the options as they are now.
    const int width = grid.width();
    const int height = grid.height();
    const FontText text = toFontText(grid, width, height, shown.fontTextOptions(), false);

    // 8. The dimensions, the field text, then the scene.
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

    // The library objects go; for QR the code before the input.
    encoder.reset();
    code.reset();
    input.reset();
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
