// The main window: its form (object names, tree, texts, ranges, initial state),
// actions, menus and tool bar, the connections, setLayoutVisible, the embedded
// resources, the close confirmation and the about boxes.

#include "app/codiflux.h"
#include "codes/encoding.h"
#include "codiflux_version.h"
#include "ui_codiflux.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFormLayout>
#include <QGraphicsView>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QResource>
#include <QSettings>
#include <QSignalSpy>
#include <QSpinBox>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QWindow>
#include <QtTest>

#include <climits>
#include <functional>

// Reaches the window's private state.
struct CodifluxInspector {
    static QSettings* settings(Codiflux& w) { return w.settings; }
    static QGraphicsScene* scene(Codiflux& w) { return &w.scene; }
    static QMenu* loadMenu(Codiflux& w) { return w.menuChargerParametres; }
    static QMenu* saveMenu(Codiflux& w) { return w.menuSauverParametres; }
    static QAction* loadDefault(Codiflux& w) { return w.actionChargerParDefaut; }
    static QAction* saveDefault(Codiflux& w) { return w.actionSauverParDefaut; }
    static QAction* newSet(Codiflux& w) { return w.actionNouveau; }
    static QAction* deleteSet(Codiflux& w) { return w.actionSupprimer; }
    static int baseKind(Codiflux& w) { return int(w.baseKind); }
    static bool hasTable(Codiflux& w) { return w.table != nullptr; }
    static qsizetype fieldCount(Codiflux& w) { return w.champs.size(); }
    static bool hasPreviewItems(Codiflux& w) { return w.bitmapItem || w.textItem; }
    static bool generating(Codiflux& w) { return w.progressDialog || w.baseEncoder; }
};

namespace {

// What a modal box showed before the test answered it.
struct SeenBox {
    bool shown = false;
    QString className;
    QString title;
    QString text;
    QString detailedText;
    QString styleSheet;
    Qt::TextFormat textFormat = Qt::AutoText;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
    QSize iconSize;
    QWidget* parentWidget = nullptr;
};

// Answers the next modal box from the event loop: polls for it, records what
// it shows, then lets `answer` close it. Stops polling when destroyed, so no
// answer outlives the test that asked for it.
class ModalResponder : public QObject, public SeenBox {
public:
    explicit ModalResponder(std::function<void(QWidget*)> answer)
        : answer(std::move(answer))
    {
        timer.setInterval(10);
        QObject::connect(&timer, &QTimer::timeout, this, [this]() { poll(); });
        timer.start();
    }

private:
    void poll()
    {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal)
            return;
        timer.stop();
        shown = true;
        className = QString::fromLatin1(modal->metaObject()->className());
        title = modal->windowTitle();
        parentWidget = modal->parentWidget();
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            text = box->text();
            detailedText = box->detailedText();
            styleSheet = box->styleSheet();
            textFormat = box->textFormat();
            buttons = box->standardButtons();
            if (box->defaultButton())
                defaultButton = box->standardButton(box->defaultButton());
            iconSize = box->iconPixmap().size();
        }
        answer(modal);
    }

    std::function<void(QWidget*)> answer;
    QTimer timer;
};

void clickButton(QWidget* modal, QMessageBox::StandardButton which)
{
    auto* box = qobject_cast<QMessageBox*>(modal);
    QVERIFY(box);
    QAbstractButton* button = box->button(which);
    QVERIFY(button);
    button->click();
}

QLayout* layoutNamed(QWidget* root, const QString& name)
{
    return root->findChild<QLayout*>(name);
}

// The layout that holds `object` (a widget or a layout) and its index there.
QLayout* containingLayout(QWidget* root, QObject* object, int* index)
{
    const auto layouts = root->findChildren<QLayout*>();
    for (QLayout* layout : layouts) {
        for (int i = 0; i < layout->count(); ++i) {
            QLayoutItem* item = layout->itemAt(i);
            if (item->widget() == object || item->layout() == object) {
                *index = i;
                return layout;
            }
        }
    }
    return nullptr;
}

QString readResource(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromLatin1(file.readAll());
}

}  // namespace

class TestWindow : public QObject {
    Q_OBJECT

private:
    QTemporaryDir settingsDir;

    // A window ready for the tests; settings live in the temporary folder.
    std::unique_ptr<Codiflux> makeWindow()
    {
        auto window = std::make_unique<Codiflux>();
        return window;
    }

    // Closes a window for good at the end of a test (answers Yes).
    void closeForGood(Codiflux& window)
    {
        if (!window.isVisible())
            return;
        ModalResponder seen([](QWidget* box) { clickButton(box, QMessageBox::Yes); });
        window.close();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(settingsDir.isValid());
        // Never the user's own settings.
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir.path());
    }

    // ---- The form on its own ------------------------------------------------

    void formInitialState()
    {
        QMainWindow window;
        CodifluxClass form;
        form.setupUi(&window);
        QCOMPARE(window.objectName(), QStringLiteral("CodifluxClass"));
        QCOMPARE(form.tabTypeWidget->currentIndex(), 1);
        QCOMPARE(form.tabTypeWidget->count(), 2);
        QCOMPARE(form.tabTypeWidget->widget(0), form.tabDatamatrix);
        QCOMPARE(form.tabTypeWidget->widget(1), form.tabQRCode);
        QCOMPARE(window.size(), QSize(962, 642));
        QCOMPARE(window.windowTitle(), QStringLiteral("Codiflux"));
        QVERIFY(!window.windowIcon().isNull());
        QCOMPARE(window.centralWidget(), form.centralWidget);
        QCOMPARE(window.menuBar(), form.menuBar);
        QCOMPARE(window.statusBar(), form.statusBar);
        QVERIFY(form.statusBar->currentMessage().isEmpty());
        QCOMPARE(window.toolBarArea(form.mainToolBar), Qt::TopToolBarArea);
        QCOMPARE(form.mainToolBar->iconSize(), QSize(32, 32));
        QCOMPARE(form.mainToolBar->toolButtonStyle(), Qt::ToolButtonTextBesideIcon);
        QCOMPARE(form.menuBar->geometry(), QRect(0, 0, 962, 21));
        // Nothing of the form is hidden by the form itself.
        QVERIFY(!form.layout_selectionChamp->isEmpty());
        QVERIFY(!form.comboBoxChamps->isHidden());
        QVERIFY(!form.lineEditNomChampSortie->isHidden());
        // An object name already given is kept.
        QMainWindow named;
        named.setObjectName(QStringLiteral("autre"));
        CodifluxClass form2;
        form2.setupUi(&named);
        QCOMPARE(named.objectName(), QStringLiteral("autre"));
    }

    void formTree_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("parentLayout");
        QTest::addColumn<int>("index");

        auto row = [](const char* name, const char* parent, int index) {
            QTest::newRow(name) << QString::fromLatin1(name) << QString::fromLatin1(parent) << index;
        };
        row("splitter", "verticalLayout_23", 0);
        row("groupBoxSource", "verticalLayout_14", 1);
        row("tabTypeWidget", "verticalLayout_14", 3);
        row("groupBoxFormat", "verticalLayout_14", 5);
        row("groupBoxSortie", "verticalLayout_14", 7);
        row("groupBoxPreview", "verticalLayout_15", 1);
        row("horizontalLayout", "verticalLayout_3", 0);
        row("layout_selectionChamp", "verticalLayout_3", 1);
        row("layout_selectionPosition", "verticalLayout_3", 2);
        row("label", "horizontalLayout", 0);
        row("lineEditBaseSource", "horizontalLayout", 1);
        row("toolButtoncharger", "horizontalLayout", 2);
        row("verticalLayout", "layout_selectionChamp", 0);
        row("verticalLayout_2", "layout_selectionChamp", 1);
        row("label_2", "verticalLayout", 0);
        row("comboBoxChamps", "verticalLayout", 1);
        row("label_3", "verticalLayout_2", 0);
        row("comboBoxEnregistrement", "verticalLayout_2", 1);
        row("plainTextEditSelecteurPosition", "layout_selectionPosition", 0);
        row("horizontalLayout_2", "layout_selectionPosition", 1);
        row("label_12", "horizontalLayout_2", 1);
        row("spinBoxPosDebut", "horizontalLayout_2", 2);
        row("label_16", "horizontalLayout_2", 4);
        row("spinBoxPosNbCar", "horizontalLayout_2", 5);
        row("label_15", "horizontalLayout_2", 7);
        row("spinBoxPosFin", "horizontalLayout_2", 8);
        row("horizontalLayout_3", "verticalLayout_16", 0);
        row("toolButtonParamAuto", "horizontalLayout_3", 8);
        row("horizontalLayout_7", "verticalLayout_20", 0);
        row("toolButtonParamAutoQRCode", "horizontalLayout_7", 8);
        row("horizontalLayout_5", "verticalLayout_21", 0);
        row("horizontalLayout_6", "verticalLayout_21", 1);
        row("horizontalLayout_10", "verticalLayout_21", 2);
        row("checkBoxFinLigne", "horizontalLayout_5", 0);
        row("lineEditFinLigne", "horizontalLayout_5", 1);
        row("label_11", "horizontalLayout_5", 3);
        row("verticalLayout_11", "horizontalLayout_5", 4);
        row("checkBoxSupprimerGauche", "verticalLayout_11", 0);
        row("checkBoxSupprimerDroite", "verticalLayout_11", 1);
        row("checkBoxInvHorizontale", "horizontalLayout_6", 0);
        row("checkBoxInvVerticale", "horizontalLayout_6", 2);
        row("checkBoxInvBits", "horizontalLayout_6", 4);
        row("checkBoxInvPixels", "horizontalLayout_6", 6);
        row("label_13", "horizontalLayout_10", 0);
        row("radioButtonEmptyGenCode", "horizontalLayout_10", 1);
        row("radioButtoEmptySpaces", "horizontalLayout_10", 2);
        row("formLayout_2", "horizontalLayout_8", 0);
        row("toolButtonGenerer", "horizontalLayout_8", 2);
        row("horizontalLayout_4", "verticalLayout_13", 0);
        row("plainTextEditPreview", "verticalLayout_13", 2);
        row("graphicsViewPreview", "verticalLayout_13", 4);
        row("horizontalLayout_9", "verticalLayout_13", 5);
        row("formLayout", "horizontalLayout_4", 3);
        row("bmpPreviewRadioButton", "horizontalLayout_9", 1);
        row("txtPreviewRadioButton", "horizontalLayout_9", 2);
    }

    void formTree()
    {
        QFETCH(QString, name);
        QFETCH(QString, parentLayout);
        QFETCH(int, index);
        QMainWindow window;
        CodifluxClass form;
        form.setupUi(&window);
        QObject* object = window.findChild<QWidget*>(name);
        if (!object)
            object = layoutNamed(&window, name);
        QVERIFY2(object, qPrintable(name));
        int at = -1;
        QLayout* parent = containingLayout(&window, object, &at);
        QVERIFY(parent);
        QCOMPARE(parent->objectName(), parentLayout);
        QCOMPARE(at, index);
    }

    // The parameter columns of the two tabs: label over control, label centred.
    void parameterColumns_data()
    {
        QTest::addColumn<QString>("row");
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("text");
        QTest::newRow("module") << "horizontalLayout_3" << 0 << "label_4"
                                << "spinBoxModule"
                                << "Taille du module";
        QTest::newRow("marge") << "horizontalLayout_3" << 2 << "label_5"
                               << "spinBoxMarge"
                               << "Taille de marge";
        QTest::newRow("taille") << "horizontalLayout_3" << 4 << "label_6"
                                << "comboBoxTailleDatamatrix"
                                << "Taille du datamatrix";
        QTest::newRow("mode") << "horizontalLayout_3" << 6 << "label_7"
                              << "comboBoxModeEncodage"
                              << "Mode d'encodage";
        QTest::newRow("version") << "horizontalLayout_7" << 0 << "label_17"
                                 << "spinBoxVersionQRCode"
                                 << "Version";
        QTest::newRow("ec") << "horizontalLayout_7" << 2 << "label_18"
                            << "comboBoxECLevelQRCode"
                            << "Correction d'erreur";
        QTest::newRow("casse") << "horizontalLayout_7" << 4 << "label_20"
                               << "comboBoxCasseQRCode"
                               << "Casse";
        QTest::newRow("mode qr") << "horizontalLayout_7" << 6 << "label_19"
                                 << "comboBoxModeEncodageQRCode"
                                 << "Mode d'encodage";
    }

    void parameterColumns()
    {
        QFETCH(QString, row);
        QFETCH(int, index);
        QFETCH(QString, label);
        QFETCH(QString, control);
        QFETCH(QString, text);
        QMainWindow window;
        CodifluxClass form;
        form.setupUi(&window);
        QLayout* rowLayout = layoutNamed(&window, row);
        QVERIFY(rowLayout);
        QLayout* column = rowLayout->itemAt(index)->layout();
        QVERIFY(column);
        QCOMPARE(column->count(), 2);
        QCOMPARE(column->spacing(), 6);
        auto* labelWidget = qobject_cast<QLabel*>(column->itemAt(0)->widget());
        QVERIFY(labelWidget);
        QCOMPARE(labelWidget->objectName(), label);
        QCOMPARE(labelWidget->text(), text);
        QCOMPARE(labelWidget->alignment(), Qt::AlignCenter);
        QCOMPARE(column->itemAt(1)->widget()->objectName(), control);
        // Columns are separated by horizontal spacers.
        QVERIFY(rowLayout->itemAt(index + 1)->spacerItem());
    }

    void spacers()
    {
        QMainWindow window;
        CodifluxClass form;
        form.setupUi(&window);
        for (int i : {0, 2, 4, 6, 8}) {
            QSpacerItem* spacer = form.verticalLayout_14->itemAt(i)->spacerItem();
            QVERIFY(spacer);
            QCOMPARE(spacer->sizeHint(), QSize(20, 40));
            QCOMPARE(spacer->sizePolicy().horizontalPolicy(), QSizePolicy::Minimum);
            QCOMPARE(spacer->sizePolicy().verticalPolicy(), QSizePolicy::Expanding);
        }
        QCOMPARE(form.verticalLayout_14->count(), 9);
        QCOMPARE(form.verticalLayout_15->count(), 3);
        QVERIFY(form.verticalLayout_15->itemAt(0)->spacerItem());
        QVERIFY(form.verticalLayout_15->itemAt(2)->spacerItem());
        for (QLayout* row :
             {static_cast<QLayout*>(form.horizontalLayout_2), static_cast<QLayout*>(form.horizontalLayout_9)}) {
            QSpacerItem* spacer = row->itemAt(0)->spacerItem();
            QVERIFY(spacer);
            QCOMPARE(spacer->sizeHint(), QSize(40, 20));
            QCOMPARE(spacer->sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
            QCOMPARE(spacer->sizePolicy().verticalPolicy(), QSizePolicy::Minimum);
        }
        // Empty columns and spacers around the dimension form.
        QCOMPARE(form.horizontalLayout_4->count(), 6);
        QVERIFY(form.horizontalLayout_4->itemAt(0)->layout()
                && form.horizontalLayout_4->itemAt(0)->layout()->isEmpty());
        QVERIFY(form.horizontalLayout_4->itemAt(1)->spacerItem());
        QVERIFY(form.horizontalLayout_4->itemAt(2)->layout()
                && form.horizontalLayout_4->itemAt(2)->layout()->isEmpty());
        QVERIFY(form.horizontalLayout_4->itemAt(4)->spacerItem());
        QVERIFY(form.horizontalLayout_4->itemAt(5)->layout()
                && form.horizontalLayout_4->itemAt(5)->layout()->isEmpty());
        // Under each tab's row, a vertical spacer.
        QCOMPARE(form.verticalLayout_16->count(), 2);
        QVERIFY(form.verticalLayout_16->itemAt(1)->spacerItem());
        QCOMPARE(form.verticalLayout_20->count(), 2);
        QVERIFY(form.verticalLayout_20->itemAt(1)->spacerItem());
        QCOMPARE(form.horizontalLayout_10->count(), 4);
        QVERIFY(form.horizontalLayout_10->itemAt(3)->spacerItem());
        QVERIFY(form.horizontalLayout_8->itemAt(1)->spacerItem());
    }

    void spacingsAndStretch()
    {
        QMainWindow window;
        CodifluxClass form;
        form.setupUi(&window);
        auto margins = [](QLayout* l) { return l->contentsMargins(); };
        QCOMPARE(form.verticalLayout_23->spacing(), 6);
        QCOMPARE(margins(form.verticalLayout_23), QMargins(11, 11, 11, 11));
        QCOMPARE(form.verticalLayout_14->spacing(), 6);
        QCOMPARE(margins(form.verticalLayout_14), QMargins(0, 0, 0, 0));
        QCOMPARE(form.verticalLayout_15->spacing(), 6);
        QCOMPARE(margins(form.verticalLayout_15), QMargins(0, 0, 0, 0));
        QCOMPARE(form.verticalLayout_15->stretch(0), 1);
        QCOMPARE(form.verticalLayout_15->stretch(1), 10);
        QCOMPARE(form.verticalLayout_15->stretch(2), 1);
        QCOMPARE(form.verticalLayout_3->spacing(), 2);
        QCOMPARE(margins(form.verticalLayout_3), QMargins(4, 4, 4, 4));
        QCOMPARE(form.layout_selectionChamp->stretch(0), 2);
        QCOMPARE(form.layout_selectionChamp->stretch(1), 3);
        QCOMPARE(form.layout_selectionPosition->stretch(0), 0);
        QCOMPARE(form.layout_selectionPosition->stretch(1), 1);
        for (QBoxLayout* l : {form.verticalLayout_16, form.verticalLayout_20, form.verticalLayout_21}) {
            QCOMPARE(l->spacing(), 2);
            QCOMPARE(margins(l), QMargins(4, 4, 4, 4));
        }
        QCOMPARE(form.horizontalLayout_3->spacing(), 6);
        QCOMPARE(form.horizontalLayout_7->spacing(), 6);
        QCOMPARE(form.horizontalLayout_8->spacing(), 2);
        QCOMPARE(margins(form.horizontalLayout_8), QMargins(4, 4, 4, 4));
        QCOMPARE(form.horizontalLayout_8->stretch(0), 5);
        QCOMPARE(form.horizontalLayout_8->stretch(1), 1);
        QCOMPARE(form.verticalLayout_13->spacing(), 6);
        QCOMPARE(margins(form.verticalLayout_13), QMargins(11, 11, 11, 11));
        const int stretches[] = {0, 1, 0, 1, 10, 0};
        for (int i = 0; i < 6; ++i)
            QCOMPARE(form.verticalLayout_13->stretch(i), stretches[i]);
        QCOMPARE(form.formLayout_2->fieldGrowthPolicy(), QFormLayout::ExpandingFieldsGrow);
        QCOMPARE(form.formLayout->fieldGrowthPolicy(), QFormLayout::FieldsStayAtSizeHint);
        for (QFormLayout* f : {form.formLayout, form.formLayout_2}) {
            QCOMPARE(f->horizontalSpacing(), 6);
            QCOMPARE(f->verticalSpacing(), 6);
            QVERIFY(f->labelAlignment() & Qt::AlignRight);
            QVERIFY(f->labelAlignment() & Qt::AlignVCenter);
        }
    }

    void formRows_data()
    {
        QTest::addColumn<QString>("form");
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("field");
        QTest::newRow("longueur") << "formLayout_2" << 0 << "label_14"
                                  << "Longueur du champ encodé :"
                                  << "spinBoxLongueurChampSortie";
        QTest::newRow("nom") << "formLayout_2" << 1 << "labelNomChampSortie"
                             << "Nom du champ encodé :"
                             << "lineEditNomChampSortie";
        QTest::newRow("colonnes") << "formLayout" << 0 << "label_8"
                                  << "Nombre de colonnes du code :"
                                  << "lineEditNbColonnes";
        QTest::newRow("lignes") << "formLayout" << 1 << "label_9"
                                << "Nombre de lignes du code :"
                                << "lineEditNbLignes";
        QTest::newRow("rangées") << "formLayout" << 2 << "label_10"
                                 << "Nombre de rangées du champ encodé :"
                                 << "lineEditNbRangees";
    }

    void formRows()
    {
        QFETCH(QString, form);
        QFETCH(int, row);
        QFETCH(QString, label);
        QFETCH(QString, text);
        QFETCH(QString, field);
        QMainWindow window;
        CodifluxClass f;
        f.setupUi(&window);
        auto* layout = window.findChild<QFormLayout*>(form);
        QVERIFY(layout);
        auto* labelWidget = qobject_cast<QLabel*>(layout->itemAt(row, QFormLayout::LabelRole)->widget());
        QVERIFY(labelWidget);
        QCOMPARE(labelWidget->objectName(), label);
        QCOMPARE(labelWidget->text(), text);
        QCOMPARE(layout->itemAt(row, QFormLayout::FieldRole)->widget()->objectName(), field);
        if (form == QLatin1String("formLayout")) {
            auto* edit = qobject_cast<QLineEdit*>(layout->itemAt(row, QFormLayout::FieldRole)->widget());
            QVERIFY(edit);
            QVERIFY(edit->isReadOnly());
            QCOMPARE(edit->maximumWidth(), 50);
        }
    }

    void texts_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        auto row = [](const char* name, const char* text) {
            QTest::newRow(name) << QString::fromLatin1(name) << QString::fromUtf8(text);
        };
        row("groupBoxSource", "Source");
        row("label", "Base à encoder :");
        row("toolButtoncharger", "...");
        row("label_2", "Liste des champs :");
        row("label_3", "Contenu du champ sélectionné :");
        row("label_12", "Début :");
        row("label_16", "Nb. caractères :");
        row("label_15", "Fin :");
        row("toolButtonParamAuto", "Prévisu.");
        row("toolButtonParamAutoQRCode", "Prévisu.");
        row("groupBoxFormat", "Format");
        row("checkBoxFinLigne", "Rajout de caractère de fin de ligne :");
        row("label_11", "Supprimer les espaces :");
        row("checkBoxSupprimerGauche", "à gauche");
        row("checkBoxSupprimerDroite", "à droite");
        row("checkBoxInvHorizontale", "Inversion horizontale");
        row("checkBoxInvVerticale", "Inversion verticale");
        row("checkBoxInvBits", "Inversion des bits");
        row("checkBoxInvPixels", "Inversion des pixels");
        row("label_13", "Si le champ est vide pour un enregistrement :");
        row("radioButtonEmptyGenCode", "Générer un code vide");
        row("radioButtoEmptySpaces", "Ne pas générer de code (insère des espaces)");
        row("groupBoxSortie", "Sortie");
        row("toolButtonGenerer", "Générer la base");
        row("groupBoxPreview", "Prévisualisation");
        row("bmpPreviewRadioButton", "Code généré");
        row("txtPreviewRadioButton", "Code imprimé");
    }

    void texts()
    {
        QFETCH(QString, name);
        QFETCH(QString, text);
        QMainWindow window;
        CodifluxClass form;
        form.setupUi(&window);
        QWidget* widget = window.findChild<QWidget*>(name);
        QVERIFY2(widget, qPrintable(name));
        QString actual;
        if (auto* l = qobject_cast<QLabel*>(widget))
            actual = l->text();
        else if (auto* b = qobject_cast<QAbstractButton*>(widget))
            actual = b->text();
        else if (auto* g = qobject_cast<QGroupBox*>(widget))
            actual = g->title();
        QCOMPARE(actual, text);
    }

    void controlProperties()
    {
        QMainWindow window;
        CodifluxClass form;
        form.setupUi(&window);
        QCOMPARE(form.splitter->orientation(), Qt::Horizontal);
        QCOMPARE(form.splitter->handleWidth(), 10);
        QCOMPARE(form.splitter->count(), 2);
        QCOMPARE(form.splitter->widget(0), form.layoutWidget);
        QCOMPARE(form.splitter->widget(1), form.layoutWidget_1);
        QVERIFY(form.lineEditBaseSource->isReadOnly());
        QCOMPARE(form.toolButtoncharger->iconSize(), QSize(32, 32));
        QCOMPARE(form.toolButtoncharger->toolButtonStyle(), Qt::ToolButtonIconOnly);
        QVERIFY(!form.toolButtoncharger->icon().isNull());
        QCOMPARE(form.toolButtonParamAuto->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
        QCOMPARE(form.toolButtonParamAutoQRCode->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
        QCOMPARE(form.toolButtonParamAuto->iconSize(), QSize(32, 32));
        QCOMPARE(form.toolButtonGenerer->toolButtonStyle(), Qt::ToolButtonTextBesideIcon);
        QCOMPARE(form.toolButtonGenerer->iconSize(), QSize(32, 32));

        QPlainTextEdit* view = form.plainTextEditSelecteurPosition;
        QVERIFY(view->isReadOnly());
        QCOMPARE(view->lineWrapMode(), QPlainTextEdit::NoWrap);
        QCOMPARE(view->verticalScrollBarPolicy(), Qt::ScrollBarAsNeeded);
        QCOMPARE(view->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QCOMPARE(view->textInteractionFlags(), Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        QCOMPARE(form.label_15->layoutDirection(), Qt::LeftToRight);

        QCOMPARE(form.tabTypeWidget->sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
        QCOMPARE(form.tabTypeWidget->sizePolicy().verticalPolicy(), QSizePolicy::Maximum);
        QCOMPARE(form.tabTypeWidget->maximumHeight(), 94);
        QCOMPARE(form.tabTypeWidget->tabText(0), QStringLiteral("Datamatrix"));
        QCOMPARE(form.tabTypeWidget->tabText(1), QStringLiteral("QRCode"));
        QVERIFY(form.tabDatamatrix->autoFillBackground());
        QVERIFY(form.tabQRCode->autoFillBackground());
        QCOMPARE(form.comboBoxTailleDatamatrix->minimumWidth(), 120);
        QCOMPARE(form.comboBoxModeEncodage->minimumWidth(), 120);
        QCOMPARE(form.comboBoxECLevelQRCode->minimumWidth(), 100);
        QCOMPARE(form.comboBoxCasseQRCode->minimumWidth(), 80);
        QCOMPARE(form.comboBoxModeEncodageQRCode->minimumWidth(), 120);

        QCOMPARE(form.lineEditFinLigne->sizePolicy().horizontalPolicy(), QSizePolicy::Maximum);
        QCOMPARE(form.lineEditFinLigne->sizePolicy().verticalPolicy(), QSizePolicy::Fixed);
        QCOMPARE(form.lineEditFinLigne->maximumSize(), QSize(40, 20));
        for (QCheckBox* box :
             {form.checkBoxFinLigne, form.checkBoxSupprimerGauche, form.checkBoxSupprimerDroite,
              form.checkBoxInvHorizontale, form.checkBoxInvVerticale, form.checkBoxInvBits, form.checkBoxInvPixels})
            QVERIFY2(!box->isChecked(), qPrintable(box->objectName()));
        QVERIFY(form.radioButtonEmptyGenCode->isChecked());
        QVERIFY(!form.radioButtoEmptySpaces->isChecked());
        QVERIFY(form.txtPreviewRadioButton->isChecked());
        QVERIFY(!form.bmpPreviewRadioButton->isChecked());

        QCOMPARE(form.spinBoxLongueurChampSortie->minimumWidth(), 60);
        QVERIFY(form.plainTextEditPreview->isReadOnly());
        QCOMPARE(form.plainTextEditPreview->textInteractionFlags(),
                 Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        QCOMPARE(form.graphicsViewPreview->minimumSize(), QSize(250, 250));
        QCOMPARE(form.graphicsViewPreview->frameShadow(), QFrame::Sunken);
        QCOMPARE(form.graphicsViewPreview->midLineWidth(), 0);
        QVERIFY(!form.graphicsViewPreview->isInteractive());
        QCOMPARE(form.lineEditNbColonnes->sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
        QCOMPARE(form.lineEditNbColonnes->sizePolicy().verticalPolicy(), QSizePolicy::Fixed);
    }

    void ranges_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("minimum");
        QTest::addColumn<int>("maximum");
        QTest::addColumn<int>("minimumWidth");
        QTest::newRow("spinBoxPosDebut") << "spinBoxPosDebut" << 0 << INT_MAX << 72;
        QTest::newRow("spinBoxPosNbCar") << "spinBoxPosNbCar" << 0 << INT_MAX << 72;
        QTest::newRow("spinBoxPosFin") << "spinBoxPosFin" << 0 << INT_MAX << 72;
        QTest::newRow("spinBoxModule") << "spinBoxModule" << 1 << 99 << 0;
        QTest::newRow("spinBoxMarge") << "spinBoxMarge" << 0 << 99 << 0;
        QTest::newRow("spinBoxVersionQRCode") << "spinBoxVersionQRCode" << 0 << 99 << 0;
        QTest::newRow("spinBoxLongueurChampSortie") << "spinBoxLongueurChampSortie" << 1 << 1024 << 60;
    }

    void ranges()
    {
        QFETCH(QString, name);
        QFETCH(int, minimum);
        QFETCH(int, maximum);
        QFETCH(int, minimumWidth);
        QMainWindow window;
        CodifluxClass form;
        form.setupUi(&window);
        auto* box = window.findChild<QSpinBox*>(name);
        QVERIFY(box);
        QCOMPARE(box->minimum(), minimum);
        QCOMPARE(box->maximum(), maximum);
        QCOMPARE(box->value(), minimum);
        if (minimumWidth)
            QCOMPARE(box->minimumWidth(), minimumWidth);
        // Values outside the range are held at its ends.
        box->setValue(maximum == INT_MAX ? INT_MAX : maximum + 1);
        QCOMPARE(box->value(), maximum);
        box->setValue(minimum - 1);
        QCOMPARE(box->value(), minimum);
        box->setValue(0);
        QCOMPARE(box->value(), qMax(0, minimum));
    }

    void outputNameLength()
    {
        QMainWindow window;
        CodifluxClass form;
        form.setupUi(&window);
        QCOMPARE(form.lineEditNomChampSortie->maxLength(), 10);
        QTest::keyClicks(form.lineEditNomChampSortie, QStringLiteral("CODE_DATAMATRIX"));
        QCOMPARE(form.lineEditNomChampSortie->text(), QStringLiteral("CODE_DATAM"));
    }

    void actions_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("toolTip");
        QTest::addColumn<QKeySequence>("shortcut");
        QTest::addColumn<bool>("hasIcon");
        auto row = [](const char* name, const char* text, const char* tip, const char* keys, bool icon) {
            QTest::newRow(name) << QString::fromLatin1(name) << QString::fromUtf8(text) << QString::fromUtf8(tip)
                                << QKeySequence(QString::fromLatin1(keys)) << icon;
        };
        row("actionChargerBase", "Charger une base", "Charge une base", "Ctrl+O", true);
        row("actionGenererBase", "Générer la base", "Génère la base", "Ctrl+S, Ctrl+G", true);
        row("actionFermer", "Fermer", "Ferme l'application", "Ctrl+Q, Ctrl+F", true);
        row("actionPrevisualisation", "Prévisualisation", "Prévisualise le code", "Ctrl+P", true);
        row("actionChargerParamParDefaut", "Charger paramètres", "Charge les paramètres par défaut", "", true);
        row("actionSauverParamParDefaut", "Sauver paramètres", "Enregistre les paramètres par défaut", "", true);
        row("actionAbout", "A propos", "Affiche des informations sur ce logiciel", "", false);
        row("actionAboutQt", "A propos de Qt", "Affiche des informations concernant les bibliothèques Qt", "", false);
        row("actionAboutLibdmtx", "A propose de libdmtx", "Affiche des informations concernant la bibliothèque libdmtx",
            "", false);
        row("actionAboutQrencode", "A propose de qrencode",
            "Affiche des informations concernant la bibliothèque qrencode", "", false);
        row("actionInstallerPolice", "Installer la police Quadrex",
            "Copie la police Quadrex dans le dossier des polices de l'utilisateur", "", false);
    }

    void actions()
    {
        QFETCH(QString, name);
        QFETCH(QString, text);
        QFETCH(QString, toolTip);
        QFETCH(QKeySequence, shortcut);
        QFETCH(bool, hasIcon);
        QMainWindow window;
        CodifluxClass form;
        form.setupUi(&window);
        auto* action = window.findChild<QAction*>(name);
        QVERIFY(action);
        QCOMPARE(action->parent(), &window);
        QCOMPARE(action->text(), text);
        QCOMPARE(action->toolTip(), toolTip);
        QCOMPARE(action->shortcut(), shortcut);
        QCOMPARE(!action->icon().isNull(), hasIcon);
        if (shortcut.count() == 2)
            QCOMPARE(action->shortcut().count(), 2);
    }

    void menusAndToolBar()
    {
        QMainWindow window;
        CodifluxClass form;
        form.setupUi(&window);
        const auto top = form.menuBar->actions();
        QCOMPARE(top.size(), 3);
        QCOMPARE(top.at(0)->menu(), form.menu_Base);
        QCOMPARE(top.at(1)->menu(), form.menu_Pr_f_rences);
        QCOMPARE(top.at(2)->menu(), form.menuAide);
        QCOMPARE(form.menu_Base->title(), QStringLiteral("&Bases"));
        QCOMPARE(form.menu_Pr_f_rences->title(), QStringLiteral("&Préférences"));
        QCOMPARE(form.menuAide->title(), QStringLiteral("Aide"));

        auto names = [](const QList<QAction*>& actions) {
            QStringList list;
            for (QAction* a : actions)
                list << (a->isSeparator() ? QStringLiteral("|") : a->objectName());
            return list;
        };
        QCOMPARE(
            names(form.menu_Base->actions()),
            (QStringList{"actionChargerBase", "actionPrevisualisation", "actionGenererBase", "|", "actionFermer"}));
        QCOMPARE(names(form.menu_Pr_f_rences->actions()),
                 (QStringList{"actionChargerParamParDefaut", "actionSauverParamParDefaut"}));
        QCOMPARE(names(form.menuAide->actions()),
                 (QStringList{"actionAbout", "|", "actionAboutQt", "actionAboutLibdmtx", "actionAboutQrencode", "|",
                              "actionInstallerPolice"}));
        QCOMPARE(names(form.mainToolBar->actions()),
                 (QStringList{"actionChargerBase", "actionPrevisualisation", "actionGenererBase", "|",
                              "actionChargerParamParDefaut", "actionSauverParamParDefaut", "|", "actionFermer"}));
    }

    // Connections 1 to 5: the buttons trigger the actions, "Fermer" closes.
    void buttonsTriggerActions_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("action");
        QTest::newRow("toolButtonGenerer") << "toolButtonGenerer"
                                           << "actionGenererBase";
        QTest::newRow("toolButtoncharger") << "toolButtoncharger"
                                           << "actionChargerBase";
        QTest::newRow("toolButtonParamAuto") << "toolButtonParamAuto"
                                             << "actionPrevisualisation";
        QTest::newRow("toolButtonParamAutoQRCode") << "toolButtonParamAutoQRCode"
                                                   << "actionPrevisualisation";
    }

    void buttonsTriggerActions()
    {
        QFETCH(QString, button);
        QFETCH(QString, action);
        QMainWindow window;
        CodifluxClass form;
        form.setupUi(&window);
        window.show();
        auto* b = window.findChild<QToolButton*>(button);
        auto* a = window.findChild<QAction*>(action);
        QVERIFY(b && a);
        QSignalSpy spy(a, &QAction::triggered);
        QList<QSignalSpy*> others;
        for (QAction* other : window.findChildren<QAction*>())
            if (other != a)
                others << new QSignalSpy(other, &QAction::triggered);
        if (b->isVisible())
            QTest::mouseClick(b, Qt::LeftButton);
        else
            b->click();
        QCOMPARE(spy.count(), 1);
        for (QSignalSpy* s : others)
            QCOMPARE(s->count(), 0);
        qDeleteAll(others);
    }

    void fermerClosesTheForm()
    {
        QMainWindow window;
        CodifluxClass form;
        form.setupUi(&window);
        window.show();
        QVERIFY(window.isVisible());
        form.actionFermer->trigger();
        QVERIFY(!window.isVisible());
    }

    // ---- The constructed window ---------------------------------------------

    void windowConstruction()
    {
        auto window = makeWindow();
        Codiflux& w = *window;
        QCOMPARE(QString::fromLatin1(w.metaObject()->className()), QStringLiteral("Codiflux"));
        QCOMPARE(w.objectName(), QStringLiteral("CodifluxClass"));
        QCOMPARE(w.size(), QSize(962, 642));
        QCOMPARE(w.ui()->splitter->handleWidth(), 10);
        QVERIFY(!w.windowIcon().isNull());
        // The selector: "Fixedsys" or, where it is missing, a fixed-pitch font:
        // every character as wide as any other, so columns line up.
        const QFontMetrics fm(w.ui()->plainTextEditSelecteurPosition->font());
        QCOMPARE(fm.horizontalAdvance(QLatin1Char('i')), fm.horizontalAdvance(QLatin1Char('W')));
        QCOMPARE(fm.horizontalAdvance(QStringLiteral("iiiii")), fm.horizontalAdvance(QStringLiteral("MMMMM")));

        // State of the other subsystems, empty.
        QCOMPARE(CodifluxInspector::baseKind(w), 2);
        QVERIFY(!CodifluxInspector::hasTable(w));
        QCOMPARE(CodifluxInspector::fieldCount(w), 0);
        QVERIFY(!CodifluxInspector::hasPreviewItems(w));
        QVERIFY(!CodifluxInspector::generating(w));

        // The settings: INI, user scope, "Codiflux", no application name, in the test's folder.
        QSettings* settings = CodifluxInspector::settings(w);
        QVERIFY(settings);
        QCOMPARE(settings->format(), QSettings::IniFormat);
        QCOMPARE(settings->scope(), QSettings::UserScope);
        QCOMPARE(settings->organizationName(), QStringLiteral("Codiflux"));
        QVERIFY(settings->applicationName().isEmpty());
        QVERIFY2(settings->fileName().startsWith(settingsDir.path()), qPrintable(settings->fileName()));
        QVERIFY(!QCoreApplication::organizationDomain().isEmpty());
        QVERIFY(QCoreApplication::organizationDomain().contains(QLatin1Char('.')));

        // The scene is shown by the preview view.
        QCOMPARE(w.ui()->graphicsViewPreview->scene(), CodifluxInspector::scene(w));
        QVERIFY(CodifluxInspector::scene(w)->items().isEmpty());
    }

    void windowSlotsInOrder()
    {
        const QMetaObject* meta = &Codiflux::staticMetaObject;
        QStringList slotList;
        for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
            const QMetaMethod method = meta->method(i);
            if (method.methodType() == QMetaMethod::Slot && method.access() == QMetaMethod::Public)
                slotList << QString::fromLatin1(method.methodSignature());
        }
        const QStringList expected{"chargerBase()",
                                   "genererBase()",
                                   "selectionnerChamp(int)",
                                   "onPreview()",
                                   "onChargerParametresParDefaut()",
                                   "onSauverParametresParDefaut()",
                                   "onChargerParametres(QAction*)",
                                   "onSauverParametres(QAction*)",
                                   "annulerGenererBase()",
                                   "selectionnerPosition(int,int)",
                                   "selectionnerPosition()",
                                   "selectionnerDebutPosition(int)",
                                   "selectionnerFinPosition(int)",
                                   "selectionnerNbCarPosition(int)",
                                   "updateOtherSelections()",
                                   "watchdogTimedOut()",
                                   "fitInView()",
                                   "onAbout()",
                                   "onAboutQt()",
                                   "onAboutLibdmtx()",
                                   "onAboutQrencode()",
                                   "onInstallerPolice()"};
        QCOMPARE(slotList, expected);
        // No signals of its own.
        for (int i = meta->methodOffset(); i < meta->methodCount(); ++i)
            QVERIFY(meta->method(i).methodType() != QMetaMethod::Signal);
    }

    // Connections 6 to 23, seen from the senders' receiver counts.
    void windowConnections()
    {
        auto window = makeWindow();
        Codiflux& w = *window;
        CodifluxClass* f = w.ui();
        struct Connection {
            QObject* sender;
            const char* signal;
            const char* slot;
        };
        const Connection connections[] = {
            {f->actionAbout, SIGNAL(triggered()), SLOT(onAbout())},
            {f->actionAboutQt, SIGNAL(triggered()), SLOT(onAboutQt())},
            {f->actionAboutLibdmtx, SIGNAL(triggered()), SLOT(onAboutLibdmtx())},
            {f->actionAboutQrencode, SIGNAL(triggered()), SLOT(onAboutQrencode())},
            {f->actionInstallerPolice, SIGNAL(triggered()), SLOT(onInstallerPolice())},
            {f->actionChargerBase, SIGNAL(triggered()), SLOT(chargerBase())},
            {f->actionGenererBase, SIGNAL(triggered()), SLOT(genererBase())},
            {f->comboBoxChamps, SIGNAL(currentIndexChanged(int)), SLOT(selectionnerChamp(int))},
            {f->actionPrevisualisation, SIGNAL(triggered()), SLOT(onPreview())},
            {f->actionChargerParamParDefaut, SIGNAL(triggered()), SLOT(onChargerParametresParDefaut())},
            {f->actionSauverParamParDefaut, SIGNAL(triggered()), SLOT(onSauverParametresParDefaut())},
            {f->spinBoxPosDebut, SIGNAL(valueChanged(int)), SLOT(selectionnerDebutPosition(int))},
            {f->spinBoxPosFin, SIGNAL(valueChanged(int)), SLOT(selectionnerFinPosition(int))},
            {f->spinBoxPosNbCar, SIGNAL(valueChanged(int)), SLOT(selectionnerNbCarPosition(int))},
            {f->plainTextEditSelecteurPosition, SIGNAL(selectionChanged()), SLOT(selectionnerPosition())},
            {f->bmpPreviewRadioButton, SIGNAL(toggled(bool)), SLOT(fitInView())},
            {f->txtPreviewRadioButton, SIGNAL(toggled(bool)), SLOT(fitInView())},
            {CodifluxInspector::loadMenu(w), SIGNAL(triggered(QAction*)), SLOT(onChargerParametres(QAction*))},
            {CodifluxInspector::saveMenu(w), SIGNAL(triggered(QAction*)), SLOT(onSauverParametres(QAction*))},
        };
        for (const Connection& c : connections) {
            // Disconnecting succeeds only where the connection exists.
            QVERIFY2(QObject::disconnect(c.sender, c.signal, &w, c.slot), c.slot);
            QVERIFY2(!QObject::disconnect(c.sender, c.signal, &w, c.slot), c.slot);
        }
        // "Fermer" closes the window (connection 4, made by the form).
        QVERIFY(QObject::disconnect(f->actionFermer, &QAction::triggered, &w, qOverload<>(&QWidget::close)));
    }

    void comboBoxesFilled()
    {
        auto window = makeWindow();
        CodifluxClass* f = window->ui();
        struct List {
            QComboBox* box;
            std::span<const codiflux::Choice> choices;
        };
        const List lists[] = {
            {f->comboBoxTailleDatamatrix, codiflux::datamatrixSizeChoices()},
            {f->comboBoxModeEncodage, codiflux::datamatrixSchemeChoices()},
            {f->comboBoxModeEncodageQRCode, codiflux::qrModeChoices()},
            {f->comboBoxECLevelQRCode, codiflux::qrLevelChoices()},
            {f->comboBoxCasseQRCode, codiflux::qrCaseChoices()},
        };
        for (const List& list : lists) {
            QVERIFY(!list.choices.empty());
            QCOMPARE(qsizetype(list.box->count()), qsizetype(list.choices.size()));
            for (int i = 0; i < list.box->count(); ++i) {
                QCOMPARE(list.box->itemText(i), QString::fromUtf8(list.choices[i].text));
                QCOMPARE(list.box->itemData(i, Qt::UserRole).toInt(), list.choices[i].value);
            }
        }
        QCOMPARE(f->comboBoxTailleDatamatrix->count(), 32);
    }

    void hiddenAtConstruction()
    {
        auto window = makeWindow();
        Codiflux& w = *window;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        CodifluxClass* f = w.ui();
        for (QWidget* widget : QList<QWidget*>{f->label_2, f->comboBoxChamps, f->label_3, f->comboBoxEnregistrement,
                                               f->plainTextEditSelecteurPosition, f->label_12, f->spinBoxPosDebut,
                                               f->label_16, f->spinBoxPosNbCar, f->label_15, f->spinBoxPosFin,
                                               f->labelNomChampSortie, f->lineEditNomChampSortie})
            QVERIFY2(!widget->isVisible(), qPrintable(widget->objectName()));
        for (QWidget* widget : QList<QWidget*>{f->label, f->lineEditBaseSource, f->toolButtoncharger, f->label_14,
                                               f->spinBoxLongueurChampSortie, f->toolButtonGenerer,
                                               f->graphicsViewPreview, f->plainTextEditPreview})
            QVERIFY2(widget->isVisible(), qPrintable(widget->objectName()));
        QVERIFY(f->lineEditBaseSource->text().isEmpty());
        // Everything fits: the window keeps its size once shown.
        QCOMPARE(w.size(), QSize(962, 642));
        QVERIFY(w.minimumSizeHint().width() <= 962);
        // The panes side by side, the left one first.
        QVERIFY(f->layoutWidget->geometry().right() < f->layoutWidget_1->geometry().left());
        QCOMPARE(f->layoutWidget->geometry().top(), f->layoutWidget_1->geometry().top());
        QCOMPARE(f->layoutWidget_1->geometry().left() - f->layoutWidget->geometry().right() - 1, 10);
        closeForGood(w);
    }

    // The tool-bar buttons of the two parameter-set actions are split buttons.
    void splitButtons()
    {
        auto window = makeWindow();
        Codiflux& w = *window;
        CodifluxClass* f = w.ui();
        struct Split {
            QAction* action;
            QMenu* menu;
        };
        const Split splits[] = {{f->actionChargerParamParDefaut, CodifluxInspector::loadMenu(w)},
                                {f->actionSauverParamParDefaut, CodifluxInspector::saveMenu(w)}};
        for (const Split& s : splits) {
            QVERIFY(s.menu);
            QCOMPARE(s.menu->parent(), &w);
            auto* button = qobject_cast<QToolButton*>(f->mainToolBar->widgetForAction(s.action));
            QVERIFY(button);
            QCOMPARE(button->menu(), s.menu);
            QCOMPARE(button->popupMode(), QToolButton::MenuButtonPopup);
            QCOMPARE(s.action->menu<QMenu*>(), s.menu);
            // A click on the button itself triggers the action.
            QSignalSpy spy(s.action, &QAction::triggered);
            button->click();
            QCOMPARE(spy.count(), 1);
        }
        // The fixed entries of the parameter-set menus.
        QCOMPARE(CodifluxInspector::loadDefault(w)->text(), QStringLiteral("Par Défaut"));
        QCOMPARE(CodifluxInspector::saveDefault(w)->text(), QStringLiteral("Par Défaut"));
        QCOMPARE(CodifluxInspector::newSet(w)->text(), QStringLiteral("Nouveau..."));
        QCOMPARE(CodifluxInspector::deleteSet(w)->text(), QStringLiteral("Supprimer..."));
        for (QAction* a : {CodifluxInspector::loadDefault(w), CodifluxInspector::saveDefault(w),
                           CodifluxInspector::newSet(w), CodifluxInspector::deleteSet(w)})
            QCOMPARE(a->parent(), &w);
        const auto load = CodifluxInspector::loadMenu(w)->actions();
        QVERIFY(load.size() >= 3);
        QCOMPARE(load.first(), CodifluxInspector::loadDefault(w));
        QCOMPARE(load.last(), CodifluxInspector::deleteSet(w));
        QCOMPARE(CodifluxInspector::loadMenu(w)->defaultAction(), CodifluxInspector::loadDefault(w));
        const auto save = CodifluxInspector::saveMenu(w)->actions();
        QCOMPARE(save.first(), CodifluxInspector::saveDefault(w));
        QCOMPARE(save.last(), CodifluxInspector::newSet(w));
    }

    // The shortcuts, typed on the shown window.
    void shortcuts_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QKeySequence>("keys");
        QTest::newRow("Ctrl+O") << "actionChargerBase" << QKeySequence(QStringLiteral("Ctrl+O"));
        QTest::newRow("Ctrl+P") << "actionPrevisualisation" << QKeySequence(QStringLiteral("Ctrl+P"));
        QTest::newRow("Ctrl+S, Ctrl+G") << "actionGenererBase" << QKeySequence(QStringLiteral("Ctrl+S, Ctrl+G"));
    }

    // Typed on a shown form, so that only the actions answer (the window's
    // slots behind them open dialogs of their own).
    void shortcuts()
    {
        QFETCH(QString, action);
        QFETCH(QKeySequence, keys);
        QMainWindow window;
        CodifluxClass form;
        form.setupUi(&window);
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        auto* a = window.findChild<QAction*>(action);
        QVERIFY(a);
        QCOMPARE(a->shortcut(), keys);
        QSignalSpy spy(a, &QAction::triggered);
        QTest::keySequence(&window, keys);
        QCOMPARE(spy.count(), 1);
        // Only the first chord of a two-stroke sequence does nothing.
        if (keys.count() == 2) {
            QTest::keyClick(&window, keys[0].key(), keys[0].keyboardModifiers());
            QTest::keyClick(&window, Qt::Key_X);
            QCOMPARE(spy.count(), 1);
        }
    }

    // ---- setLayoutVisible ---------------------------------------------------

    void setLayoutVisibleNested()
    {
        auto window = makeWindow();
        QWidget host;
        auto* outer = new QVBoxLayout(&host);
        auto* a = new QLabel(QStringLiteral("a"));
        auto* b = new QLabel(QStringLiteral("b"));
        auto* c = new QLabel(QStringLiteral("c"));
        auto* d = new QLabel(QStringLiteral("d"));
        auto* spacer = new QSpacerItem(20, 40, QSizePolicy::Minimum, QSizePolicy::Expanding);
        auto* innerSpacer = new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum);
        auto* middle = new QHBoxLayout();
        auto* deep = new QVBoxLayout();
        outer->addWidget(a);
        outer->addItem(spacer);
        outer->addLayout(middle);
        middle->addWidget(b);
        middle->addItem(innerSpacer);
        middle->addLayout(deep);
        deep->addWidget(c);
        deep->addWidget(d);
        host.show();
        QVERIFY(QTest::qWaitForWindowExposed(&host));

        QCOMPARE(window->setLayoutVisible(outer, false), 3);
        for (QWidget* w : {a, b, c, d})
            QVERIFY(w->isHidden());
        QVERIFY(host.isVisible());  // the layout's own widget is not touched
        // Spacers stay where they were, as they were.
        QCOMPARE(outer->itemAt(1)->spacerItem(), spacer);
        QCOMPARE(middle->itemAt(1)->spacerItem(), innerSpacer);
        QCOMPARE(spacer->sizeHint(), QSize(20, 40));
        QCOMPARE(outer->count(), 3);
        QCOMPARE(middle->count(), 3);
        QCOMPARE(deep->count(), 2);

        QCOMPARE(window->setLayoutVisible(middle, true), 3);
        QVERIFY(a->isHidden());
        for (QWidget* w : {b, c, d})
            QVERIFY(w->isVisible());
        QCOMPARE(window->setLayoutVisible(outer, true), 3);
        for (QWidget* w : {a, b, c, d})
            QVERIFY(w->isVisible());
        QCOMPARE(window->setLayoutVisible(deep, false), 2);
        QVERIFY(c->isHidden() && d->isHidden() && b->isVisible());
    }

    void setLayoutVisibleOnTheWindow()
    {
        auto window = makeWindow();
        Codiflux& w = *window;
        CodifluxClass* f = w.ui();
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QCOMPARE(w.setLayoutVisible(f->layout_selectionPosition, true), 2);
        for (QWidget* widget : QList<QWidget*>{f->plainTextEditSelecteurPosition, f->label_12, f->spinBoxPosDebut,
                                               f->label_16, f->spinBoxPosNbCar, f->label_15, f->spinBoxPosFin})
            QVERIFY2(widget->isVisible(), qPrintable(widget->objectName()));
        QCOMPARE(w.setLayoutVisible(f->layout_selectionChamp, true), 2);
        QVERIFY(f->comboBoxChamps->isVisible() && f->comboBoxEnregistrement->isVisible());
        QCOMPARE(w.setLayoutVisible(f->verticalLayout_3, false), 3);
        QVERIFY(!f->lineEditBaseSource->isVisible() && !f->comboBoxChamps->isVisible()
                && !f->spinBoxPosFin->isVisible());
        QVERIFY(f->groupBoxSource->isVisible());
        closeForGood(w);
    }

    // ---- Resources ----------------------------------------------------------

    void icons_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("size");
        QTest::newRow("icon") << ":/Codiflux/icon" << 274;
        for (const char* name : {"open", "stop", "bookmark", "refresh", "favorite", "save-as"})
            QTest::newRow(name) << QStringLiteral(":/Codiflux/") + QString::fromLatin1(name) << 32;
    }

    void icons()
    {
        QFETCH(QString, path);
        QFETCH(int, size);
        QResource resource(path);
        QVERIFY2(resource.isValid(), qPrintable(path));
        QCOMPARE(resource.compressionAlgorithm(), QResource::NoCompression);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QVERIFY(bytes.startsWith("\x89PNG\r\n\x1a\n"));
        // IHDR: colour type 6 is RGBA, 8 bits per channel.
        QCOMPARE(int(quint8(bytes.at(24))), 8);
        QCOMPARE(int(quint8(bytes.at(25))), 6);
        QImage image;
        QVERIFY(image.loadFromData(bytes, "PNG"));
        QCOMPARE(image.size(), QSize(size, size));
        QVERIFY(image.hasAlphaChannel());
        // Something is drawn, and the corners are see-through.
        int opaque = 0;
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x)
                opaque += qAlpha(image.pixel(x, y)) > 128 ? 1 : 0;
        QVERIFY2(opaque > size * size / 10, qPrintable(QString::number(opaque)));
        QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
    }

    void licences()
    {
        for (const char* path : {":/Licenses/lgpl", ":/Licenses/libdmtx", ":/Licenses/qrencode"}) {
            QResource resource(QString::fromLatin1(path));
            QVERIFY2(resource.isValid(), path);
            QCOMPARE(resource.compressionAlgorithm(), QResource::NoCompression);
            QFile file(QString::fromLatin1(path));
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QByteArray bytes = file.readAll();
            QVERIFY(bytes.size() > 500);
            for (char c : bytes)
                QVERIFY2(uchar(c) < 0x80, path);
        }
        const QString lgpl = readResource(QStringLiteral(":/Licenses/lgpl"));
        QVERIFY(lgpl.contains(QStringLiteral("GNU LESSER GENERAL PUBLIC LICENSE")));
        QVERIFY(lgpl.contains(QStringLiteral("Version 2.1, February 1999")));
        // Every line ends with CR LF.
        QVERIFY(lgpl.endsWith(QStringLiteral("\r\n")));
        QCOMPARE(lgpl.count(QLatin1Char('\n')), lgpl.count(QStringLiteral("\r\n")));
        QCOMPARE(lgpl.count(QLatin1Char('\r')), lgpl.count(QStringLiteral("\r\n")));
        const QString dmtx = readResource(QStringLiteral(":/Licenses/libdmtx"));
        QVERIFY(dmtx.contains(QStringLiteral("Redistribution and use in source and binary forms")));
        QVERIFY(dmtx.contains(QStringLiteral("ALTERNATE TERMS")));
        QVERIFY(dmtx.indexOf(QStringLiteral("ALTERNATE TERMS")) > dmtx.indexOf(QStringLiteral("DISCLAIMED")));
        const QString qr = readResource(QStringLiteral(":/Licenses/qrencode"));
        QVERIFY(qr.contains(QStringLiteral("GNU Lesser General Public License")));
        QVERIFY(qr.contains(QStringLiteral("version 2.1")));
        QVERIFY(qr.contains(QStringLiteral("Kentaro Fukuchi")));
    }

    // ---- Version and about boxes --------------------------------------------

    void versionString()
    {
        QCOMPARE(readVersionString(QStringLiteral("ProductVersion")), QStringLiteral(CODIFLUX_PRODUCT_VERSION));
        QCOMPARE(readVersionString(QStringLiteral("ProductVersion")), QStringLiteral("3,3,1192,0"));
        QCOMPARE(readVersionString(QStringLiteral("FileVersion")), QStringLiteral("3,3,1192,0"));
        QVERIFY(readVersionString(QStringLiteral("CompanyName")).isEmpty());
        QVERIFY(readVersionString(QString()).isEmpty());
    }

    void aboutTextLayout_data()
    {
        QTest::addColumn<QString>("version");
        QTest::newRow("dotted") << "3.3.1192.0";
        QTest::newRow("no commas, unchanged") << "3";
        QTest::newRow("empty") << "";
    }

    void aboutTextLayout()
    {
        QFETCH(QString, version);
        const QString text = Codiflux::aboutText(version);
        QVERIFY(text.startsWith(
            QStringLiteral("<p>Cette application utilise des logiciels tiers possédant leurs propres licences.</p> ")));
        const int second = text.indexOf(QStringLiteral("Celles-ci peuvent être trouvées à l'adresse&nbsp;: <br/>"));
        const int third = text.indexOf(QStringLiteral("<p>Version du logiciel: ") + version + QStringLiteral("</p>"));
        QVERIFY(second > 0);
        QVERIFY(third > second);
        QVERIFY(text.indexOf(QStringLiteral("<a href="), second) > second);
        QVERIFY(text.lastIndexOf(QStringLiteral("<p>")) > third);
        QVERIFY(!text.contains(QStringLiteral("%1")));
    }

    void aboutBox()
    {
        auto window = makeWindow();
        Codiflux& w = *window;
        w.show();
        ModalResponder seen([](QWidget* box) { box->close(); });
        w.ui()->actionAbout->trigger();
        QVERIFY(seen.shown);
        QCOMPARE(seen.title, QStringLiteral("Codiflux"));
        QCOMPARE(seen.parentWidget, &w);
        QVERIFY2(seen.text.contains(QStringLiteral("Version du logiciel: 3.3.1192.0</p>")), qPrintable(seen.text));
        QCOMPARE(seen.text, Codiflux::aboutText(QStringLiteral("3.3.1192.0")));
        closeForGood(w);
    }

    void aboutQtBox()
    {
        auto window = makeWindow();
        Codiflux& w = *window;
        w.show();
        ModalResponder seen([](QWidget* box) { box->close(); });
        w.ui()->actionAboutQt->trigger();
        QVERIFY(seen.shown);
        QCOMPARE(seen.title, QStringLiteral("Codiflux - Qt"));
        QCOMPARE(seen.parentWidget, &w);
        QVERIFY(seen.text.contains(QStringLiteral("Qt")));
        closeForGood(w);
    }

    void licenceBoxes_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("textResource");
        QTest::addColumn<QString>("detailsResource");
        QTest::newRow("libdmtx") << "actionAboutLibdmtx"
                                 << "Codiflux - libdmtx"
                                 << ":/Licenses/libdmtx"
                                 << "";
        QTest::newRow("qrencode") << "actionAboutQrencode"
                                  << "Codiflux - qrencode"
                                  << ":/Licenses/qrencode"
                                  << ":/Licenses/lgpl";
    }

    void licenceBoxes()
    {
        QFETCH(QString, action);
        QFETCH(QString, title);
        QFETCH(QString, textResource);
        QFETCH(QString, detailsResource);
        auto window = makeWindow();
        Codiflux& w = *window;
        w.show();
        ModalResponder seen([](QWidget* box) { clickButton(box, QMessageBox::Close); });
        w.findChild<QAction*>(action)->trigger();
        QVERIFY(seen.shown);
        QCOMPARE(seen.className, QStringLiteral("QMessageBox"));
        QCOMPARE(seen.title, title);
        QCOMPARE(seen.parentWidget, &w);
        QCOMPARE(seen.text, readResource(textResource));
        if (detailsResource.isEmpty())
            QVERIFY(seen.detailedText.isEmpty());
        else  // the details area shows the text without its carriage returns
            QCOMPARE(seen.detailedText, readResource(detailsResource).remove(QLatin1Char('\r')));
        QCOMPARE(seen.textFormat, Qt::PlainText);
        QCOMPARE(seen.styleSheet, QStringLiteral("* {font-size: 10px;}"));
        QCOMPARE(seen.buttons, QMessageBox::StandardButtons(QMessageBox::Close));
        QCOMPARE(seen.iconSize, QSize(32, 32));
        // The box is gone once closed.
        QTRY_VERIFY(!QApplication::activeModalWidget());
        closeForGood(w);
    }

    // "Installer la police Quadrex": the program's font lands in the user's
    // fonts folder and the box says where (no fc-cache on the path here).
    void installFontBox()
    {
        QTemporaryDir data, noTools;
        const QByteArray path = qgetenv("PATH"), dataHome = qgetenv("XDG_DATA_HOME");
        qputenv("PATH", QFile::encodeName(noTools.path()));
        qputenv("XDG_DATA_HOME", QFile::encodeName(data.path()));
        auto window = makeWindow();
        Codiflux& w = *window;
        w.show();
        ModalResponder seen([](QWidget* box) { clickButton(box, QMessageBox::Ok); });
        w.ui()->actionInstallerPolice->trigger();
        qputenv("PATH", path);
        dataHome.isNull() ? qunsetenv("XDG_DATA_HOME") : qputenv("XDG_DATA_HOME", dataHome);
        QVERIFY(seen.shown);
        QCOMPARE(seen.title, QStringLiteral("Installer la police Quadrex"));
        const QString copy = data.filePath(QStringLiteral("fonts/Quadrex.ttf"));
        QVERIFY2(seen.text.contains(copy) && seen.text.contains(QStringLiteral("fc-cache")), qPrintable(seen.text));
        QFile installed(copy), original(QCoreApplication::applicationDirPath() + QStringLiteral("/RES/Quadrex.ttf"));
        QVERIFY(installed.open(QIODevice::ReadOnly) && original.open(QIODevice::ReadOnly));
        QCOMPARE(installed.readAll(), original.readAll());
        closeForGood(w);
    }

    // ---- Close confirmation -------------------------------------------------

    void closeQuestion_data()
    {
        QTest::addColumn<QString>("way");
        QTest::newRow("action Fermer") << "action";
        QTest::newRow("Ctrl+Q, Ctrl+F") << "shortcut";
        QTest::newRow("window close button") << "window";
    }

    // Whatever the way, the question is asked; Enter at once answers No.
    void closeQuestion()
    {
        QFETCH(QString, way);
        auto window = makeWindow();
        Codiflux& w = *window;
        w.show();
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        auto request = [&]() {
            w.activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&w));
            if (way == QLatin1String("action"))
                w.ui()->actionFermer->trigger();
            else if (way == QLatin1String("shortcut"))
                QTest::keySequence(&w, QKeySequence(QStringLiteral("Ctrl+Q, Ctrl+F")));
            else
                w.windowHandle()->close();
        };

        ModalResponder seen([](QWidget* box) { QTest::keyClick(box, Qt::Key_Return); });
        request();
        QVERIFY(seen.shown);
        QCOMPARE(seen.title, QStringLiteral("Fermeture de l'application"));
        QCOMPARE(seen.text, QStringLiteral("Souhaitez-vous fermer l'application ?"));
        QCOMPARE(seen.buttons, QMessageBox::StandardButtons(QMessageBox::Yes | QMessageBox::No));
        QCOMPARE(seen.defaultButton, QMessageBox::No);
        QCOMPARE(seen.parentWidget, &w);
        QVERIFY(w.isVisible());

        // Dismissing the box (Escape) keeps the window too.
        ModalResponder dismissed([](QWidget* box) { QTest::keyClick(box, Qt::Key_Escape); });
        request();
        QVERIFY(dismissed.shown);
        QVERIFY(w.isVisible());

        // Yes closes it.
        ModalResponder yes([](QWidget* box) { clickButton(box, QMessageBox::Yes); });
        request();
        QVERIFY(yes.shown);
        QTRY_VERIFY(!w.isVisible());
    }

    void closeReturnsAnswer()
    {
        auto window = makeWindow();
        Codiflux& w = *window;
        w.show();
        ModalResponder no([](QWidget* box) { clickButton(box, QMessageBox::No); });
        QVERIFY(!w.close());
        QVERIFY(no.shown);
        ModalResponder yes([](QWidget* box) { clickButton(box, QMessageBox::Yes); });
        QVERIFY(w.close());
        QVERIFY(yes.shown);
    }

    // Resizing never asks anything and keeps the window usable.
    void resizeIsQuiet()
    {
        auto window = makeWindow();
        Codiflux& w = *window;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.resize(1200, 800);
        QTRY_COMPARE(w.size(), QSize(1200, 800));
        QVERIFY(!QApplication::activeModalWidget());
        w.resize(962, 642);
        QTRY_COMPARE(w.size(), QSize(962, 642));
        closeForGood(w);
    }

    void destruction()
    {
        auto window = makeWindow();
        QPointer<QMenu> load = CodifluxInspector::loadMenu(*window);
        QPointer<QMenu> save = CodifluxInspector::saveMenu(*window);
        QPointer<QAction> deleteSet = CodifluxInspector::deleteSet(*window);
        QPointer<QGraphicsView> view = window->ui()->graphicsViewPreview;
        window.reset();
        QVERIFY(load.isNull() && save.isNull() && deleteSet.isNull() && view.isNull());
    }
};

QTEST_MAIN(TestWindow)
#include "test_window.moc"
