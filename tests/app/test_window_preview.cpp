// The preview of the main window: the value of the current record (DBF, text
// or no base), the space removal, the dimension fields and the 1024 cap, the
// field text, the bitmap and the printed text in the scene, the two radio
// buttons, the message boxes and the Datamatrix time limit. Every code shown
// is compared with an encoding of the same value made here, and its field
// text is read back with zxing-cpp.

#include "app/codiflux.h"
#include "codes/dmtxencoder.h"
#include "codes/encoding.h"
#include "codes/fonttext.h"
#include "codes/verify.h"
#include "generation/job.h"
#include "modal_answer.h"
#include "ui_codiflux.h"

#include <dmtx.h>
#include <qrencode.h>

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGraphicsPixmapItem>
#include <QGraphicsTextItem>
#include <QGraphicsView>
#include <QImage>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QSemaphore>
#include <QSettings>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextCursor>
#include <QtTest>

#include <atomic>
#include <memory>

using codiflux::EncodingParameters;
using codiflux::FontTextOptions;

Q_DECLARE_METATYPE(codiflux::EncodingParameters)

// Reaches the window's private state.
struct CodifluxInspector {
    static void setBaseKind(Codiflux& w, int kind) { w.baseKind = codiflux::BaseKind(kind); }
    static QGraphicsScene& scene(Codiflux& w) { return w.scene; }
    static QGraphicsPixmapItem* bitmapItem(Codiflux& w) { return w.bitmapItem; }
    static QGraphicsTextItem* textItem(Codiflux& w) { return w.textItem; }
    static bool load(Codiflux& w, const QString& path) { return w.chargerFichier(path); }
};

namespace {

const char* const kEmptyTitle = "Enregistrement vide";
const char* const kEmptyText = "Cet enregistrement est vide, veuillez en sélectionner un autre pour permettre "
                               "l'initialisation des paramêtres d'encodage.";
const char* const kErrorTitle = "Erreur lors de l'encodage";
const char* const kDatamatrixText
    = "Encodage impossible (vous pouvez essayer de changer la taille du datamatrix ou le mode d'encodage).";
const char* const kQrText
    = "Encodage impossible (vous pouvez essayer de changer le mode d'encodage ou le niveau de correction d'erreur).";

EncodingParameters datamatrix(int size = -2, int scheme = -1, int module = 1, int margin = 0)
{
    EncodingParameters p;
    p.symbology = codiflux::Symbology::Datamatrix;
    p.sizeRequest = size;
    p.scheme = scheme;
    p.moduleSize = module;
    p.marginSize = margin;
    return p;
}

EncodingParameters qr(int mode = QR_MODE_8, int level = QR_ECLEVEL_L, int version = 0)
{
    EncodingParameters p;
    p.symbology = codiflux::Symbology::QRCode;
    p.qrMode = mode;
    p.qrLevel = level;
    p.qrVersion = version;
    return p;
}

FontTextOptions defaultOptions()
{
    FontTextOptions o;
    o.bitInversion = true;
    o.pixelInversion = true;
    o.endOfLine = true;
    o.endOfLineCharacter = ' ';
    return o;
}

// Puts the parameters into the window's controls.
void configure(Codiflux& w, const EncodingParameters& p)
{
    CodifluxClass& f = *w.ui();
    auto select = [](QComboBox* box, int value) {
        const int index = box->findData(value, Qt::UserRole);
        QVERIFY2(index >= 0, qPrintable(QStringLiteral("no entry with data %1").arg(value)));
        box->setCurrentIndex(index);
    };
    f.tabTypeWidget->setCurrentIndex(int(p.symbology));
    f.spinBoxModule->setValue(p.moduleSize);
    f.spinBoxMarge->setValue(p.marginSize);
    select(f.comboBoxTailleDatamatrix, p.sizeRequest);
    select(f.comboBoxModeEncodage, p.scheme);
    f.spinBoxVersionQRCode->setValue(p.qrVersion);
    select(f.comboBoxECLevelQRCode, p.qrLevel);
    select(f.comboBoxModeEncodageQRCode, p.qrMode);
}

void setOptions(Codiflux& w, const FontTextOptions& o, const QString& endOfLineText)
{
    CodifluxClass& f = *w.ui();
    f.checkBoxInvHorizontale->setChecked(o.horizontalInversion);
    f.checkBoxInvVerticale->setChecked(o.verticalInversion);
    f.checkBoxInvBits->setChecked(o.bitInversion);
    f.checkBoxInvPixels->setChecked(o.pixelInversion);
    f.checkBoxFinLigne->setChecked(o.endOfLine);
    f.lineEditFinLigne->setText(endOfLineText);
}

// A DBF base whose current record holds `value` in the chosen field.
void setDbfRecord(Codiflux& w, const QString& value)
{
    CodifluxInspector::setBaseKind(w, int(codiflux::BaseKind::Dbf));
    QComboBox* records = w.ui()->comboBoxEnregistrement;
    records->clear();
    records->addItem(QStringLiteral("autre"));
    records->addItem(value);
    records->setCurrentIndex(1);
}

// A text base with the text cursor on line `line` and the column range
// (start, count); the range's spin boxes are set without their own slots.
void setTextBase(Codiflux& w, const QStringList& lines, int line, int start, int count)
{
    CodifluxClass& f = *w.ui();
    CodifluxInspector::setBaseKind(w, int(codiflux::BaseKind::Text));
    {
        const QSignalBlocker blocker(f.plainTextEditSelecteurPosition);
        f.plainTextEditSelecteurPosition->setPlainText(lines.join(QLatin1Char('\n')));
        const QTextBlock block = f.plainTextEditSelecteurPosition->document()->findBlockByNumber(line);
        QTextCursor cursor(block);
        cursor.movePosition(QTextCursor::EndOfBlock);
        f.plainTextEditSelecteurPosition->setTextCursor(cursor);
    }
    const QSignalBlocker b1(f.spinBoxPosDebut);
    const QSignalBlocker b2(f.spinBoxPosNbCar);
    f.spinBoxPosDebut->setValue(start);
    f.spinBoxPosNbCar->setValue(count);
}

// Runs the preview through its action and answers any box with Close.
SeenModal preview(Codiflux& w)
{
    ModalAnswer answer(&ModalAnswer::close);
    w.ui()->actionPrevisualisation->trigger();
    return answer;
}

// The widgets after a failed preview.
void checkCleared(Codiflux& w)
{
    CodifluxClass& f = *w.ui();
    QCOMPARE(f.lineEditNbColonnes->text(), QStringLiteral("0"));
    QCOMPARE(f.lineEditNbLignes->text(), QStringLiteral("0"));
    QCOMPARE(f.lineEditNbRangees->text(), QStringLiteral("0"));
    // 0 shows as the box's minimum.
    QCOMPARE(f.spinBoxLongueurChampSortie->value(), f.spinBoxLongueurChampSortie->minimum());
    QCOMPARE(f.spinBoxLongueurChampSortie->minimum(), 1);
    QVERIFY(f.plainTextEditPreview->toPlainText().isEmpty());
    QVERIFY(CodifluxInspector::scene(w).items().isEmpty());
    QVERIFY(!CodifluxInspector::bitmapItem(w));
    QVERIFY(!CodifluxInspector::textItem(w));
}

void checkBox(Codiflux& w, const SeenModal& seen, const char* title, const char* text)
{
    QCOMPARE(seen.count, 1);
    QCOMPARE(seen.className, QStringLiteral("QMessageBox"));
    QCOMPARE(seen.title, QString::fromUtf8(title));
    QCOMPARE(seen.text, QString::fromUtf8(text));
    QCOMPARE(seen.icon, QMessageBox::Information);
    QCOMPARE(seen.buttons, QMessageBox::StandardButtons(QMessageBox::Close));
    QCOMPARE(seen.defaultButton, QMessageBox::Close);
    QCOMPARE(seen.parentWidget, static_cast<QWidget*>(&w));
}

// A successful preview of `expected` (Latin-1 bytes) with parameters `p` and
// options `o`: dimensions, field text, bitmap, printed text, and the field
// text read back with zxing-cpp.
void checkPreview(Codiflux& w, const SeenModal& seen, const EncodingParameters& p, const FontTextOptions& o,
                  const QByteArray& expected)
{
    QCOMPARE(seen.count, 0);
    CodifluxClass& f = *w.ui();

    codiflux::EncodedSymbol reference;
    codiflux::Encoder(p).encode(expected, reference);
    QVERIFY(reference.isValid());
    const codiflux::ModuleGrid& grid = reference.grid();
    const int width = grid.width();
    const int height = grid.height();
    const int bands = (height + 3) / 4;
    const codiflux::FontText text = codiflux::toFontText(grid, width, height, o, false);

    QCOMPARE(f.lineEditNbColonnes->text(), QString::number(width));
    QCOMPARE(f.lineEditNbLignes->text(), QString::number(height));
    QCOMPARE(f.lineEditNbRangees->text(), QString::number(bands));
    QCOMPARE(f.spinBoxLongueurChampSortie->value(), int(std::min<qsizetype>(text.field.size(), 1024)));
    QCOMPARE(f.plainTextEditPreview->toPlainText(), QString::fromLatin1(text.field));

    // The scene: the bitmap, one pixel per cell, and the printed text.
    QCOMPARE(CodifluxInspector::scene(w).items().size(), 2);
    QGraphicsPixmapItem* bitmap = CodifluxInspector::bitmapItem(w);
    QGraphicsTextItem* printed = CodifluxInspector::textItem(w);
    QVERIFY(bitmap);
    QVERIFY(printed);
    QCOMPARE(bitmap->pos(), QPointF(0, 0));
    QCOMPARE(printed->pos(), QPointF(0, 0));
    const QImage image = bitmap->pixmap().toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(image.size(), QSize(width, height));
    for (int r = 0; r < height; ++r) {
        for (int c = 0; c < width; ++c) {
            const QRgb pixel = image.pixel(c, r);
            const QRgb want = grid.dark(c, r) ? qRgb(0, 0, 0) : qRgb(255, 255, 255);
            if (pixel != want)
                QFAIL(qPrintable(QStringLiteral("pixel (%1, %2) differs from the symbol").arg(c).arg(r)));
        }
    }
    QCOMPARE(printed->toPlainText(), text.preview);
    QCOMPARE(printed->font().family(), QStringLiteral("Quadrex"));

    // The field text scans and carries the value.
    const std::optional<QByteArray> decoded
        = codiflux::decodeFieldText(f.plainTextEditPreview->toPlainText().toLatin1(), width, height, o, p.symbology);
    QVERIFY2(decoded.has_value(), "the field text does not decode");
    QCOMPARE(*decoded, expected);
}

}  // namespace

class TestWindowPreview : public QObject {
    Q_OBJECT

private:
    QTemporaryDir settingsDir;
    std::unique_ptr<Codiflux> window;

private slots:
    void initTestCase()
    {
        QVERIFY(settingsDir.isValid());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir.path());
    }

    void init()
    {
        codiflux::DmtxEncoder::setEncodeFunction(nullptr);
        window = std::make_unique<Codiflux>();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    }

    void cleanup()
    {
        window.reset();
        codiflux::DmtxEncoder::setEncodeFunction(nullptr);
        codiflux::DmtxEncoder::setReleaseFunction(nullptr);
    }

    void emptyRecord_data()
    {
        QTest::addColumn<int>("symbology");
        QTest::addColumn<QString>("value");
        for (int symbology : {0, 1}) {
            const char* name = symbology == 0 ? "Datamatrix" : "QR";
            QTest::addRow("%s, nothing", name) << symbology << QString();
            QTest::addRow("%s, blanks", name) << symbology << QStringLiteral("      ");
            QTest::addRow("%s, tab and line break", name) << symbology << QStringLiteral(" \t\r\n ");
        }
    }

    // Blank records are not encoded; whatever the last preview showed goes.
    void emptyRecord()
    {
        QFETCH(int, symbology);
        QFETCH(QString, value);
        Codiflux& w = *window;
        const EncodingParameters p = symbology == 0 ? datamatrix() : qr();
        configure(w, p);
        setDbfRecord(w, QStringLiteral("12345"));
        checkPreview(w, preview(w), p, defaultOptions(), "12345");

        setDbfRecord(w, value);
        const SeenModal seen = preview(w);
        checkBox(w, seen, kEmptyTitle, kEmptyText);
        checkCleared(w);
        // The trim boxes do not make a blank record encodable.
        w.ui()->checkBoxSupprimerGauche->setChecked(true);
        w.ui()->checkBoxSupprimerDroite->setChecked(true);
        checkBox(w, preview(w), kEmptyTitle, kEmptyText);
        checkCleared(w);
        // fitInView on an empty scene does nothing.
        w.ui()->bmpPreviewRadioButton->setChecked(true);
        QVERIFY(CodifluxInspector::scene(w).items().isEmpty());
    }

    void noBase()
    {
        Codiflux& w = *window;
        // Whatever the record list holds, no base means no value.
        w.ui()->comboBoxEnregistrement->addItem(QStringLiteral("123"));
        for (const EncodingParameters& p : {datamatrix(), qr()}) {
            configure(w, p);
            checkBox(w, preview(w), kEmptyTitle, kEmptyText);
            checkCleared(w);
        }
    }

    void textBase_data()
    {
        QTest::addColumn<int>("line");
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("count");
        QTest::addColumn<QByteArray>("expected");  // empty: "Enregistrement vide"
        QTest::newRow("first line, columns 1-4") << 0 << 1 << 4 << QByteArray("0001");
        QTest::newRow("second line, middle") << 1 << 5 << 6 << QByteArray("ALPHA ");
        QTest::newRow("third line, to its end") << 2 << 5 << 100 << QByteArray("GAMMA-3");
        QTest::newRow("count past a short line") << 3 << 3 << 50 << QByteArray("4");
        QTest::newRow("start 0") << 1 << 0 << 5 << QByteArray();
        QTest::newRow("count 0") << 1 << 5 << 0 << QByteArray();
        QTest::newRow("both 0") << 1 << 0 << 0 << QByteArray();
        QTest::newRow("start past the line") << 3 << 10 << 5 << QByteArray();
        QTest::newRow("blank columns") << 1 << 11 << 4 << QByteArray();
    }

    // The value of a text base is the range of the line holding the cursor.
    void textBase()
    {
        QFETCH(int, line);
        QFETCH(int, start);
        QFETCH(int, count);
        QFETCH(QByteArray, expected);
        Codiflux& w = *window;
        const EncodingParameters p = datamatrix();
        configure(w, p);
        setTextBase(w,
                    {QStringLiteral("0001BETA      "), QStringLiteral("0002ALPHA     "), QStringLiteral("0003GAMMA-3"),
                     QStringLiteral("004")},
                    line, start, count);
        const SeenModal seen = preview(w);
        if (expected.isEmpty()) {
            checkBox(w, seen, kEmptyTitle, kEmptyText);
            checkCleared(w);
        } else {
            checkPreview(w, seen, p, defaultOptions(), expected);
        }
    }

    void spaceRemoval_data()
    {
        QTest::addColumn<int>("symbology");
        QTest::addColumn<bool>("left");
        QTest::addColumn<bool>("right");
        QTest::addColumn<QByteArray>("expected");
        const QString value = QStringLiteral("   TEXTE A CODER      ");
        for (int symbology : {0, 1}) {
            const char* name = symbology == 0 ? "Datamatrix" : "QR";
            QTest::addRow("%s, kept", name) << symbology << false << false << value.toLatin1();
            QTest::addRow("%s, left", name) << symbology << true << false << QByteArray("TEXTE A CODER      ");
            QTest::addRow("%s, right", name) << symbology << false << true << QByteArray("   TEXTE A CODER");
            QTest::addRow("%s, both", name) << symbology << true << true << QByteArray("TEXTE A CODER");
        }
    }

    // The value is encoded with or without its outer spaces; the kept spaces
    // call for a larger symbol here.
    void spaceRemoval()
    {
        QFETCH(int, symbology);
        QFETCH(bool, left);
        QFETCH(bool, right);
        QFETCH(QByteArray, expected);
        Codiflux& w = *window;
        const EncodingParameters p = symbology == 0 ? datamatrix(-2, 0) : qr(QR_MODE_8, QR_ECLEVEL_H);
        configure(w, p);
        w.ui()->checkBoxSupprimerGauche->setChecked(left);
        w.ui()->checkBoxSupprimerDroite->setChecked(right);
        setDbfRecord(w, QStringLiteral("   TEXTE A CODER      "));
        checkPreview(w, preview(w), p, defaultOptions(), expected);

        if (left && right) {
            // The trimmed value fits a smaller symbol than the whole one.
            codiflux::EncodedSymbol whole;
            codiflux::Encoder(p).encode(QByteArray("   TEXTE A CODER      "), whole);
            QVERIFY(whole.isValid());
            QVERIFY(w.ui()->lineEditNbColonnes->text().toInt() < whole.grid().width());
        }
    }

    void values_data()
    {
        QTest::addColumn<EncodingParameters>("parameters");
        QTest::addColumn<bool>("horizontal");
        QTest::addColumn<bool>("vertical");
        QTest::addColumn<bool>("bits");
        QTest::addColumn<bool>("pixels");
        QTest::addColumn<bool>("endOfLine");
        QTest::addColumn<QString>("endOfLineText");
        QTest::addColumn<QString>("value");

        const QString latin1 = QStringLiteral("Éléphant à Noël");
        QTest::newRow("Datamatrix, defaults") << datamatrix(27, -1) << false << false << true << true << true
                                              << QString() << QStringLiteral("123456789012");
        QTest::newRow("Datamatrix, square auto, C40") << datamatrix(-2, 1) << false << false << true << true << true
                                                      << QStringLiteral("/") << QStringLiteral("CODE 2D 0042");
        QTest::newRow("Datamatrix, rectangle auto, no inversion")
            << datamatrix(-3, -1) << false << false << false << false << false << QString() << QStringLiteral("ABC123");
        QTest::newRow("Datamatrix, mirrored") << datamatrix(-2, -1) << true << true << false << true << true
                                              << QStringLiteral("#x") << QStringLiteral("miroir");
        QTest::newRow("Datamatrix, module 2, margin 3") << datamatrix(-2, -1, 2, 3) << false << false << true << true
                                                        << true << QString() << QStringLiteral("module");
        QTest::newRow("Datamatrix, Latin-1, Base256")
            << datamatrix(-2, 5) << false << false << true << true << true << QString() << latin1;
        QTest::newRow("QR, numeric") << qr(QR_MODE_NUM) << false << false << true << true << true << QString()
                                     << QStringLiteral("0123456789");
        QTest::newRow("QR, alphanumeric, level Q") << qr(QR_MODE_AN, QR_ECLEVEL_Q) << false << false << true << true
                                                   << true << QString() << QStringLiteral("HTTP://CODIFLUX");
        QTest::newRow("QR, 8-bit, version 5, level H")
            << qr(QR_MODE_8, QR_ECLEVEL_H, 5) << true << false << true << false << true << QStringLiteral(";")
            << QStringLiteral("version fixe");
        QTest::newRow("QR, Latin-1") << qr(QR_MODE_8, QR_ECLEVEL_M) << false << true << true << true << false
                                     << QString() << latin1;
    }

    // The field text, the bitmap and the printed text of a value in each
    // symbology and with each option.
    void values()
    {
        QFETCH(EncodingParameters, parameters);
        QFETCH(bool, horizontal);
        QFETCH(bool, vertical);
        QFETCH(bool, bits);
        QFETCH(bool, pixels);
        QFETCH(bool, endOfLine);
        QFETCH(QString, endOfLineText);
        QFETCH(QString, value);
        Codiflux& w = *window;
        FontTextOptions o;
        o.horizontalInversion = horizontal;
        o.verticalInversion = vertical;
        o.bitInversion = bits;
        o.pixelInversion = pixels;
        o.endOfLine = endOfLine;
        o.endOfLineCharacter = endOfLineText.isEmpty() ? ' ' : endOfLineText.at(0).toLatin1();
        configure(w, parameters);
        setOptions(w, o, endOfLineText);
        setDbfRecord(w, value);
        checkPreview(w, preview(w), parameters, o, value.toLatin1());
    }

    // QR takes the bytes before the first zero byte; Datamatrix all of them.
    void zeroByte()
    {
        Codiflux& w = *window;
        const QString value = QStringLiteral("123") + QChar(0) + QStringLiteral("456");
        configure(w, qr(QR_MODE_NUM));
        setDbfRecord(w, value);
        checkPreview(w, preview(w), qr(QR_MODE_NUM), defaultOptions(), "123");

        configure(w, datamatrix(-2, 0));
        const SeenModal seen = preview(w);
        QCOMPARE(seen.count, 0);
        codiflux::EncodedSymbol whole;
        codiflux::Encoder(datamatrix(-2, 0)).encode(value.toLatin1(), whole);
        QVERIFY(whole.isValid());
        QCOMPARE(w.ui()->lineEditNbColonnes->text(), QString::number(whole.grid().width()));
    }

    void encodingFailure_data()
    {
        QTest::addColumn<EncodingParameters>("parameters");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("Datamatrix 10x10, too long")
            << datamatrix(0, -1) << QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZ") << QString::fromUtf8(kDatamatrixText);
        QTest::newRow("Datamatrix 8x18, too long")
            << datamatrix(24, 0) << QStringLiteral("1234567890123456") << QString::fromUtf8(kDatamatrixText);
        QTest::newRow("Datamatrix X12, lower case")
            << datamatrix(-2, 3) << QStringLiteral("minuscules") << QString::fromUtf8(kDatamatrixText);
        QTest::newRow("QR Numeric, letters")
            << qr(QR_MODE_NUM) << QStringLiteral("12A45") << QString::fromUtf8(kQrText);
        QTest::newRow("QR Alphanumeric, lower case")
            << qr(QR_MODE_AN) << QStringLiteral("abc") << QString::fromUtf8(kQrText);
    }

    // A refused value: its symbology's text, and nothing left of the last code.
    void encodingFailure()
    {
        QFETCH(EncodingParameters, parameters);
        QFETCH(QString, value);
        QFETCH(QString, text);
        Codiflux& w = *window;
        configure(w, parameters);
        setDbfRecord(w, QStringLiteral("1"));
        QCOMPARE(preview(w).count, 0);
        QVERIFY(!CodifluxInspector::scene(w).items().isEmpty());

        setDbfRecord(w, value);
        checkBox(w, preview(w), kErrorTitle, text.toUtf8().constData());
        checkCleared(w);

        // The parameters stay as they were.
        QCOMPARE(w.ui()->tabTypeWidget->currentIndex(), int(parameters.symbology));
        if (parameters.symbology == codiflux::Symbology::Datamatrix)
            QCOMPARE(w.ui()->comboBoxTailleDatamatrix->currentData().toInt(), parameters.sizeRequest);
        else
            QCOMPARE(w.ui()->comboBoxModeEncodageQRCode->currentData().toInt(), parameters.qrMode);
    }

    // The radio buttons show one item or the other and fit the view on it,
    // without a new encoding.
    void switchItems()
    {
        Codiflux& w = *window;
        CodifluxClass& f = *w.ui();
        std::atomic<int> calls{0};
        codiflux::DmtxEncoder::setEncodeFunction([&calls](QByteArrayView, const std::function<bool()>& library) {
            ++calls;
            return library();
        });
        configure(w, datamatrix(-2, -1));
        setDbfRecord(w, QStringLiteral("bascule"));
        QVERIFY(f.txtPreviewRadioButton->isChecked());
        QCOMPARE(preview(w).count, 0);
        QCOMPARE(calls.load(), 1);

        QGraphicsPixmapItem* bitmap = CodifluxInspector::bitmapItem(w);
        QGraphicsTextItem* printed = CodifluxInspector::textItem(w);
        QGraphicsScene& scene = CodifluxInspector::scene(w);
        QGraphicsView* view = f.graphicsViewPreview;
        QCOMPARE(view->scene(), &scene);

        auto checkShown = [&](QGraphicsItem* shown, QGraphicsItem* hidden) {
            QVERIFY(shown->isVisible());
            QVERIFY(!hidden->isVisible());
            QCOMPARE(scene.sceneRect(), shown->boundingRect());
            // The view holds the rectangle with its 4-unit border, aspect kept,
            // and fills the view in one direction.
            const QRectF target = shown->boundingRect().adjusted(-4, -4, 4, 4);
            const QRectF onView = view->mapFromScene(target).boundingRect();
            const QRectF viewport = view->viewport()->rect();
            QVERIFY(viewport.adjusted(-2, -2, 2, 2).contains(onView));
            QVERIFY(onView.width() >= 0.9 * viewport.width() || onView.height() >= 0.9 * viewport.height());
            const QTransform t = view->transform();
            QCOMPARE(t.m11(), t.m22());
        };

        checkShown(printed, bitmap);
        const QTransform textTransform = view->transform();
        QTest::mouseClick(f.bmpPreviewRadioButton, Qt::LeftButton);
        QVERIFY(f.bmpPreviewRadioButton->isChecked());
        QCOMPARE(CodifluxInspector::bitmapItem(w), bitmap);
        QCOMPARE(CodifluxInspector::textItem(w), printed);
        checkShown(bitmap, printed);
        QCOMPARE(scene.sceneRect(),
                 QRectF(0, 0, f.lineEditNbColonnes->text().toInt(), f.lineEditNbLignes->text().toInt()));
        QVERIFY(view->transform() != textTransform);

        QTest::mouseClick(f.txtPreviewRadioButton, Qt::LeftButton);
        checkShown(printed, bitmap);
        QCOMPARE(calls.load(), 1);

        // A preview made while the bitmap is chosen shows the bitmap.
        QTest::mouseClick(f.bmpPreviewRadioButton, Qt::LeftButton);
        QCOMPARE(preview(w).count, 0);
        QCOMPARE(calls.load(), 2);
        checkShown(CodifluxInspector::bitmapItem(w), CodifluxInspector::textItem(w));

        // A change of the window's size refits the view.
        auto fits = [&]() {
            const QRectF target = CodifluxInspector::bitmapItem(w)->boundingRect().adjusted(-4, -4, 4, 4);
            const QRectF onView = view->mapFromScene(target).boundingRect();
            const QRectF viewport = view->viewport()->rect();
            return viewport.adjusted(-2, -2, 2, 2).contains(onView)
                && (onView.width() >= 0.9 * viewport.width() || onView.height() >= 0.9 * viewport.height());
        };
        QVERIFY(fits());
        view->resetTransform();
        QVERIFY(!fits());
        w.resize(w.width() + 300, w.height() + 200);
        QTRY_VERIFY(fits());
    }

    // The field length shows at most 1024; the dimensions stay true.
    void longField()
    {
        Codiflux& w = *window;
        const EncodingParameters p = datamatrix(23, -1);  // 144x144
        configure(w, p);
        setDbfRecord(w, QStringLiteral("144"));
        checkPreview(w, preview(w), p, defaultOptions(), "144");
        CodifluxClass& f = *w.ui();
        QCOMPARE(f.lineEditNbColonnes->text(), QStringLiteral("144"));
        QCOMPARE(f.lineEditNbLignes->text(), QStringLiteral("144"));
        QCOMPARE(f.lineEditNbRangees->text(), QStringLiteral("36"));
        QCOMPARE(f.spinBoxLongueurChampSortie->value(), 1024);
        QCOMPARE(f.plainTextEditPreview->toPlainText().size(), 36 * 145);

        // QR version 20: 97 modules, 25 bands, 25 x 98 characters.
        const EncodingParameters q = qr(QR_MODE_8, QR_ECLEVEL_L, 20);
        configure(w, q);
        checkPreview(w, preview(w), q, defaultOptions(), "144");
        QCOMPARE(f.lineEditNbColonnes->text(), QStringLiteral("97"));
        QCOMPARE(f.lineEditNbRangees->text(), QStringLiteral("25"));
        QCOMPARE(f.spinBoxLongueurChampSortie->value(), 1024);

        // Just below the cap: 20x20, 5 bands of 21 characters.
        const EncodingParameters small = datamatrix(5, -1);
        configure(w, small);
        checkPreview(w, preview(w), small, defaultOptions(), "144");
        QCOMPARE(f.spinBoxLongueurChampSortie->value(), 105);
    }

    // A Datamatrix call that overruns its time is a failed encoding; the
    // next preview works.
    void datamatrixTimeLimit()
    {
        Codiflux& w = *window;
        QSemaphore go;
        std::atomic<int> released{0};
        codiflux::DmtxEncoder::setEncodeFunction([&go](QByteArrayView, const std::function<bool()>& library) {
            go.tryAcquire(1, 20000);
            return library();
        });
        codiflux::DmtxEncoder::setReleaseFunction([&released] { ++released; });

        const EncodingParameters p = datamatrix(-2, -1);
        configure(w, p);
        setDbfRecord(w, QStringLiteral("lent"));
        QElapsedTimer clock;
        clock.start();
        const SeenModal seen = preview(w);
        QVERIFY(clock.elapsed() >= 2900);
        checkBox(w, seen, kErrorTitle, kDatamatrixText);
        checkCleared(w);

        // The abandoned call ends in the background and gives its encoder back.
        codiflux::DmtxEncoder::setEncodeFunction(nullptr);
        go.release();
        QTRY_COMPARE_WITH_TIMEOUT(released.load(), 1, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(codiflux::DmtxEncoder::instances(), 0, 10000);

        checkPreview(w, preview(w), p, defaultOptions(), "lent");
    }

    // The value as the base loading leaves it: a DBF field value padded with
    // blanks, the columns of a text base's current line.
    void loadedBases()
    {
        const QString examples = QStringLiteral(CODIFLUX_SOURCE_DIR "/examples");
        if (!QFileInfo::exists(examples + QStringLiteral("/clients.dbf")))
            QSKIP("examples/clients.dbf is missing");
        Codiflux& w = *window;
        CodifluxClass& f = *w.ui();
        const EncodingParameters p = qr(QR_MODE_8, QR_ECLEVEL_M);
        configure(w, p);
        {
            ModalAnswer answer(&ModalAnswer::close);
            QVERIFY(CodifluxInspector::load(w, examples + QStringLiteral("/clients.dbf")));
            QCOMPARE(answer.count, 0);
        }
        f.comboBoxChamps->setCurrentIndex(0);  // CODE, 13 characters
        const QString record = f.comboBoxEnregistrement->currentText();
        QCOMPARE(record.trimmed(), QStringLiteral("CF20240000"));
        QCOMPARE(record.size(), 13);
        checkPreview(w, preview(w), p, defaultOptions(), record.toLatin1());
        f.checkBoxSupprimerDroite->setChecked(true);
        checkPreview(w, preview(w), p, defaultOptions(), "CF20240000");

        {
            ModalAnswer answer(&ModalAnswer::close);
            QVERIFY(CodifluxInspector::load(w, examples + QStringLiteral("/adresses.txt")));
            QCOMPARE(answer.count, 0);
        }
        f.spinBoxPosDebut->setValue(1);
        f.spinBoxPosNbCar->setValue(10);
        QCOMPARE(f.spinBoxPosDebut->value(), 1);
        QCOMPARE(f.spinBoxPosNbCar->value(), 10);
        const QString line = f.plainTextEditSelecteurPosition->textCursor().block().text();
        QVERIFY(line.startsWith(QStringLiteral("AD")));
        checkPreview(w, preview(w), p, defaultOptions(), line.left(10).toLatin1());
    }
};

QTEST_MAIN(TestWindowPreview)
#include "test_window_preview.moc"
