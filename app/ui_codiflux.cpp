#include "app/ui_codiflux.h"

#include <QtGui/QAction>
#include <QtGui/QFontDatabase>
#include <QtGui/QFontInfo>
#include <QtGui/QFontMetrics>
#include <QtGui/QIcon>
#include <QtWidgets/QCheckBox>
#include <QtWidgets/QComboBox>
#include <QtWidgets/QFormLayout>
#include <QtWidgets/QFrame>
#include <QtWidgets/QGraphicsView>
#include <QtWidgets/QGroupBox>
#include <QtWidgets/QHBoxLayout>
#include <QtWidgets/QLabel>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QMainWindow>
#include <QtWidgets/QMenu>
#include <QtWidgets/QMenuBar>
#include <QtWidgets/QPlainTextEdit>
#include <QtWidgets/QRadioButton>
#include <QtWidgets/QSpacerItem>
#include <QtWidgets/QSpinBox>
#include <QtWidgets/QSplitter>
#include <QtWidgets/QStatusBar>
#include <QtWidgets/QTabWidget>
#include <QtWidgets/QToolBar>
#include <QtWidgets/QToolButton>
#include <QtWidgets/QVBoxLayout>

#include <climits>

// The icons and licence texts are compiled into this library; registering them
// from a static initialiser here keeps them linked in wherever the form is used,
// and makes them available before main() runs.
static int registerCodifluxResources()
{
    Q_INIT_RESOURCE(codiflux);
    return 1;
}
static const int codifluxResourcesRegistered = registerCodifluxResources();

namespace {

QSpacerItem* verticalSpacerItem()
{
    return new QSpacerItem(20, 40, QSizePolicy::Minimum, QSizePolicy::Expanding);
}

QSpacerItem* horizontalSpacerItem()
{
    return new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum);
}

QVBoxLayout* column(const char* name, QLabel* label, QWidget* control)
{
    auto* layout = new QVBoxLayout();
    layout->setSpacing(6);
    layout->setObjectName(QString::fromLatin1(name));
    label->setAlignment(Qt::AlignCenter);
    layout->addWidget(label);
    layout->addWidget(control);
    return layout;
}

QLabel* newLabel(QWidget* parent, const char* name)
{
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    return label;
}

QSpinBox* newSpinBox(QWidget* parent, const char* name, int minimum, int maximum)
{
    auto* box = new QSpinBox(parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setRange(minimum, maximum);
    box->setValue(minimum);
    return box;
}

QComboBox* newComboBox(QWidget* parent, const char* name, int minimumWidth = 0)
{
    auto* box = new QComboBox(parent);
    box->setObjectName(QString::fromLatin1(name));
    if (minimumWidth > 0)
        box->setMinimumWidth(minimumWidth);
    return box;
}

QCheckBox* newCheckBox(QWidget* parent, const char* name)
{
    auto* box = new QCheckBox(parent);
    box->setObjectName(QString::fromLatin1(name));
    return box;
}

QToolButton* newToolButton(QWidget* parent, const char* name, const char* icon, Qt::ToolButtonStyle style)
{
    auto* button = new QToolButton(parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setIcon(QIcon(QString::fromLatin1(icon)));
    button->setIconSize(QSize(32, 32));
    button->setToolButtonStyle(style);
    return button;
}

QLineEdit* newDimensionField(QWidget* parent, const char* name)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setMaximumWidth(50);
    edit->setReadOnly(true);
    return edit;
}

// "Fixedsys" where the system has it, otherwise the system's fixed-pitch font:
// the view lines up the records of a text base column under column.
QFont selectorFont()
{
    QFont font(QStringLiteral("Fixedsys"));
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    const QFontInfo info(font);
    if (info.family().compare(QStringLiteral("Fixedsys"), Qt::CaseInsensitive) == 0)
        return font;
    return QFontDatabase::systemFont(QFontDatabase::FixedFont);
}

// The narrowest width at which `text` breaks into at most two lines.
int twoLineWidth(const QFontMetrics& metrics, const QString& text)
{
    const QStringList words = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    int best = metrics.horizontalAdvance(text);
    for (qsizetype k = 1; k < words.size(); ++k) {
        const int first = metrics.horizontalAdvance(words.mid(0, k).join(QLatin1Char(' ')));
        const int second = metrics.horizontalAdvance(words.mid(k).join(QLatin1Char(' ')));
        best = qMin(best, qMax(first, second));
    }
    return best;
}

} // namespace

void CodifluxClass::setupUi(QMainWindow* window)
{
    if (window->objectName().isEmpty())
        window->setObjectName(QString::fromUtf8("CodifluxClass"));
    window->resize(962, 642);
    window->setWindowIcon(QIcon(QString::fromUtf8(":/Codiflux/icon")));

    // Actions, all owned by the window.
    auto newAction = [window](const char* name, const char* icon) {
        auto* action = new QAction(window);
        action->setObjectName(QString::fromLatin1(name));
        if (icon)
            action->setIcon(QIcon(QString::fromLatin1(icon)));
        return action;
    };
    actionChargerBase = newAction("actionChargerBase", ":/Codiflux/open");
    actionGenererBase = newAction("actionGenererBase", ":/Codiflux/save-as");
    actionFermer = newAction("actionFermer", ":/Codiflux/stop");
    actionPrevisualisation = newAction("actionPrevisualisation", ":/Codiflux/refresh");
    actionChargerParamParDefaut = newAction("actionChargerParamParDefaut", ":/Codiflux/favorite");
    actionSauverParamParDefaut = newAction("actionSauverParamParDefaut", ":/Codiflux/bookmark");
    actionAbout = newAction("actionAbout", nullptr);
    actionAboutQt = newAction("actionAboutQt", nullptr);
    actionAboutLibdmtx = newAction("actionAboutLibdmtx", nullptr);
    actionAboutQrencode = newAction("actionAboutQrencode", nullptr);
    actionInstallerPolice = newAction("actionInstallerPolice", nullptr);

    centralWidget = new QWidget(window);
    centralWidget->setObjectName(QString::fromUtf8("centralWidget"));
    verticalLayout_23 = new QVBoxLayout(centralWidget);
    verticalLayout_23->setSpacing(6);
    verticalLayout_23->setContentsMargins(11, 11, 11, 11);
    verticalLayout_23->setObjectName(QString::fromUtf8("verticalLayout_23"));
    splitter = new QSplitter(centralWidget);
    splitter->setObjectName(QString::fromUtf8("splitter"));
    splitter->setOrientation(Qt::Horizontal);
    splitter->setHandleWidth(10);

    // ---- Left pane --------------------------------------------------------
    layoutWidget = new QWidget(splitter);
    layoutWidget->setObjectName(QString::fromUtf8("layoutWidget"));
    verticalLayout_14 = new QVBoxLayout(layoutWidget);
    verticalLayout_14->setSpacing(6);
    verticalLayout_14->setContentsMargins(0, 0, 0, 0);
    verticalLayout_14->setObjectName(QString::fromUtf8("verticalLayout_14"));
    verticalSpacer = verticalSpacerItem();
    verticalLayout_14->addItem(verticalSpacer);

    // Source
    groupBoxSource = new QGroupBox(layoutWidget);
    groupBoxSource->setObjectName(QString::fromUtf8("groupBoxSource"));
    verticalLayout_3 = new QVBoxLayout(groupBoxSource);
    verticalLayout_3->setSpacing(2);
    verticalLayout_3->setContentsMargins(4, 4, 4, 4);
    verticalLayout_3->setObjectName(QString::fromUtf8("verticalLayout_3"));

    horizontalLayout = new QHBoxLayout();
    horizontalLayout->setSpacing(6);
    horizontalLayout->setObjectName(QString::fromUtf8("horizontalLayout"));
    label = newLabel(groupBoxSource, "label");
    horizontalLayout->addWidget(label);
    lineEditBaseSource = new QLineEdit(groupBoxSource);
    lineEditBaseSource->setObjectName(QString::fromUtf8("lineEditBaseSource"));
    lineEditBaseSource->setReadOnly(true);
    horizontalLayout->addWidget(lineEditBaseSource);
    toolButtoncharger = newToolButton(groupBoxSource, "toolButtoncharger", ":/Codiflux/open", Qt::ToolButtonIconOnly);
    horizontalLayout->addWidget(toolButtoncharger);
    verticalLayout_3->addLayout(horizontalLayout);

    layout_selectionChamp = new QHBoxLayout();
    layout_selectionChamp->setSpacing(6);
    layout_selectionChamp->setObjectName(QString::fromUtf8("layout_selectionChamp"));
    label_2 = newLabel(groupBoxSource, "label_2");
    comboBoxChamps = newComboBox(groupBoxSource, "comboBoxChamps");
    verticalLayout = new QVBoxLayout();
    verticalLayout->setSpacing(6);
    verticalLayout->setObjectName(QString::fromUtf8("verticalLayout"));
    verticalLayout->addWidget(label_2);
    verticalLayout->addWidget(comboBoxChamps);
    layout_selectionChamp->addLayout(verticalLayout);
    label_3 = newLabel(groupBoxSource, "label_3");
    comboBoxEnregistrement = newComboBox(groupBoxSource, "comboBoxEnregistrement");
    verticalLayout_2 = new QVBoxLayout();
    verticalLayout_2->setSpacing(6);
    verticalLayout_2->setObjectName(QString::fromUtf8("verticalLayout_2"));
    verticalLayout_2->addWidget(label_3);
    verticalLayout_2->addWidget(comboBoxEnregistrement);
    layout_selectionChamp->addLayout(verticalLayout_2);
    layout_selectionChamp->setStretch(0, 2);
    layout_selectionChamp->setStretch(1, 3);
    verticalLayout_3->addLayout(layout_selectionChamp);

    layout_selectionPosition = new QVBoxLayout();
    layout_selectionPosition->setSpacing(6);
    layout_selectionPosition->setObjectName(QString::fromUtf8("layout_selectionPosition"));
    plainTextEditSelecteurPosition = new QPlainTextEdit(groupBoxSource);
    plainTextEditSelecteurPosition->setObjectName(QString::fromUtf8("plainTextEditSelecteurPosition"));
    plainTextEditSelecteurPosition->setFont(selectorFont());
    plainTextEditSelecteurPosition->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    plainTextEditSelecteurPosition->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    plainTextEditSelecteurPosition->setLineWrapMode(QPlainTextEdit::NoWrap);
    plainTextEditSelecteurPosition->setReadOnly(true);
    plainTextEditSelecteurPosition->setTextInteractionFlags(Qt::TextSelectableByKeyboard | Qt::TextSelectableByMouse);
    layout_selectionPosition->addWidget(plainTextEditSelecteurPosition);

    horizontalLayout_2 = new QHBoxLayout();
    horizontalLayout_2->setSpacing(6);
    horizontalLayout_2->setObjectName(QString::fromUtf8("horizontalLayout_2"));
    horizontalSpacer = horizontalSpacerItem();
    horizontalLayout_2->addItem(horizontalSpacer);
    label_12 = newLabel(groupBoxSource, "label_12");
    horizontalLayout_2->addWidget(label_12);
    spinBoxPosDebut = newSpinBox(groupBoxSource, "spinBoxPosDebut", 0, INT_MAX);
    spinBoxPosDebut->setMinimumWidth(72);
    horizontalLayout_2->addWidget(spinBoxPosDebut);
    horizontalSpacer_2 = horizontalSpacerItem();
    horizontalLayout_2->addItem(horizontalSpacer_2);
    label_16 = newLabel(groupBoxSource, "label_16");
    horizontalLayout_2->addWidget(label_16);
    spinBoxPosNbCar = newSpinBox(groupBoxSource, "spinBoxPosNbCar", 0, INT_MAX);
    spinBoxPosNbCar->setMinimumWidth(72);
    horizontalLayout_2->addWidget(spinBoxPosNbCar);
    horizontalSpacer_3 = horizontalSpacerItem();
    horizontalLayout_2->addItem(horizontalSpacer_3);
    label_15 = newLabel(groupBoxSource, "label_15");
    label_15->setLayoutDirection(Qt::LeftToRight);
    horizontalLayout_2->addWidget(label_15);
    spinBoxPosFin = newSpinBox(groupBoxSource, "spinBoxPosFin", 0, INT_MAX);
    spinBoxPosFin->setMinimumWidth(72);
    horizontalLayout_2->addWidget(spinBoxPosFin);
    horizontalSpacer_4 = horizontalSpacerItem();
    horizontalLayout_2->addItem(horizontalSpacer_4);
    layout_selectionPosition->addLayout(horizontalLayout_2);
    layout_selectionPosition->setStretch(0, 0);
    layout_selectionPosition->setStretch(1, 1);
    verticalLayout_3->addLayout(layout_selectionPosition);

    verticalLayout_14->addWidget(groupBoxSource);
    verticalSpacer_2 = verticalSpacerItem();
    verticalLayout_14->addItem(verticalSpacer_2);

    // Code type and parameters
    tabTypeWidget = new QTabWidget(layoutWidget);
    tabTypeWidget->setObjectName(QString::fromUtf8("tabTypeWidget"));
    QSizePolicy tabPolicy(QSizePolicy::Expanding, QSizePolicy::Maximum);
    tabPolicy.setHorizontalStretch(0);
    tabPolicy.setVerticalStretch(0);
    tabPolicy.setHeightForWidth(tabTypeWidget->sizePolicy().hasHeightForWidth());
    tabTypeWidget->setSizePolicy(tabPolicy);
    tabTypeWidget->setMaximumHeight(94);

    tabDatamatrix = new QWidget();
    tabDatamatrix->setObjectName(QString::fromUtf8("tabDatamatrix"));
    tabDatamatrix->setAutoFillBackground(true);
    verticalLayout_16 = new QVBoxLayout(tabDatamatrix);
    verticalLayout_16->setSpacing(2);
    verticalLayout_16->setContentsMargins(4, 4, 4, 4);
    verticalLayout_16->setObjectName(QString::fromUtf8("verticalLayout_16"));
    horizontalLayout_3 = new QHBoxLayout();
    horizontalLayout_3->setSpacing(6);
    horizontalLayout_3->setObjectName(QString::fromUtf8("horizontalLayout_3"));
    label_4 = newLabel(tabDatamatrix, "label_4");
    spinBoxModule = newSpinBox(tabDatamatrix, "spinBoxModule", 1, 99);
    verticalLayout_4 = column("verticalLayout_4", label_4, spinBoxModule);
    horizontalLayout_3->addLayout(verticalLayout_4);
    horizontalSpacer_5 = horizontalSpacerItem();
    horizontalLayout_3->addItem(horizontalSpacer_5);
    label_5 = newLabel(tabDatamatrix, "label_5");
    spinBoxMarge = newSpinBox(tabDatamatrix, "spinBoxMarge", 0, 99);
    verticalLayout_5 = column("verticalLayout_5", label_5, spinBoxMarge);
    horizontalLayout_3->addLayout(verticalLayout_5);
    horizontalSpacer_6 = horizontalSpacerItem();
    horizontalLayout_3->addItem(horizontalSpacer_6);
    label_6 = newLabel(tabDatamatrix, "label_6");
    comboBoxTailleDatamatrix = newComboBox(tabDatamatrix, "comboBoxTailleDatamatrix", 120);
    verticalLayout_6 = column("verticalLayout_6", label_6, comboBoxTailleDatamatrix);
    horizontalLayout_3->addLayout(verticalLayout_6);
    horizontalSpacer_7 = horizontalSpacerItem();
    horizontalLayout_3->addItem(horizontalSpacer_7);
    label_7 = newLabel(tabDatamatrix, "label_7");
    comboBoxModeEncodage = newComboBox(tabDatamatrix, "comboBoxModeEncodage", 120);
    verticalLayout_7 = column("verticalLayout_7", label_7, comboBoxModeEncodage);
    horizontalLayout_3->addLayout(verticalLayout_7);
    horizontalSpacer_8 = horizontalSpacerItem();
    horizontalLayout_3->addItem(horizontalSpacer_8);
    toolButtonParamAuto = newToolButton(tabDatamatrix, "toolButtonParamAuto", ":/Codiflux/refresh",
                                        Qt::ToolButtonTextUnderIcon);
    horizontalLayout_3->addWidget(toolButtonParamAuto);
    verticalLayout_16->addLayout(horizontalLayout_3);
    verticalSpacer_8 = verticalSpacerItem();
    verticalLayout_16->addItem(verticalSpacer_8);
    tabTypeWidget->addTab(tabDatamatrix, QString());

    tabQRCode = new QWidget();
    tabQRCode->setObjectName(QString::fromUtf8("tabQRCode"));
    tabQRCode->setAutoFillBackground(true);
    verticalLayout_20 = new QVBoxLayout(tabQRCode);
    verticalLayout_20->setSpacing(2);
    verticalLayout_20->setContentsMargins(4, 4, 4, 4);
    verticalLayout_20->setObjectName(QString::fromUtf8("verticalLayout_20"));
    horizontalLayout_7 = new QHBoxLayout();
    horizontalLayout_7->setSpacing(6);
    horizontalLayout_7->setObjectName(QString::fromUtf8("horizontalLayout_7"));
    label_17 = newLabel(tabQRCode, "label_17");
    spinBoxVersionQRCode = newSpinBox(tabQRCode, "spinBoxVersionQRCode", 0, 99);
    verticalLayout_8 = column("verticalLayout_8", label_17, spinBoxVersionQRCode);
    horizontalLayout_7->addLayout(verticalLayout_8);
    horizontalSpacer_9 = horizontalSpacerItem();
    horizontalLayout_7->addItem(horizontalSpacer_9);
    label_18 = newLabel(tabQRCode, "label_18");
    comboBoxECLevelQRCode = newComboBox(tabQRCode, "comboBoxECLevelQRCode", 100);
    verticalLayout_9 = column("verticalLayout_9", label_18, comboBoxECLevelQRCode);
    horizontalLayout_7->addLayout(verticalLayout_9);
    horizontalSpacer_10 = horizontalSpacerItem();
    horizontalLayout_7->addItem(horizontalSpacer_10);
    label_20 = newLabel(tabQRCode, "label_20");
    comboBoxCasseQRCode = newComboBox(tabQRCode, "comboBoxCasseQRCode", 80);
    verticalLayout_10 = column("verticalLayout_10", label_20, comboBoxCasseQRCode);
    horizontalLayout_7->addLayout(verticalLayout_10);
    horizontalSpacer_11 = horizontalSpacerItem();
    horizontalLayout_7->addItem(horizontalSpacer_11);
    label_19 = newLabel(tabQRCode, "label_19");
    comboBoxModeEncodageQRCode = newComboBox(tabQRCode, "comboBoxModeEncodageQRCode", 120);
    verticalLayout_12 = column("verticalLayout_12", label_19, comboBoxModeEncodageQRCode);
    horizontalLayout_7->addLayout(verticalLayout_12);
    horizontalSpacer_12 = horizontalSpacerItem();
    horizontalLayout_7->addItem(horizontalSpacer_12);
    toolButtonParamAutoQRCode = newToolButton(tabQRCode, "toolButtonParamAutoQRCode", ":/Codiflux/refresh",
                                              Qt::ToolButtonTextUnderIcon);
    horizontalLayout_7->addWidget(toolButtonParamAutoQRCode);
    verticalLayout_20->addLayout(horizontalLayout_7);
    verticalSpacer_9 = verticalSpacerItem();
    verticalLayout_20->addItem(verticalSpacer_9);
    tabTypeWidget->addTab(tabQRCode, QString());

    verticalLayout_14->addWidget(tabTypeWidget);
    verticalSpacer_3 = verticalSpacerItem();
    verticalLayout_14->addItem(verticalSpacer_3);

    // Format
    groupBoxFormat = new QGroupBox(layoutWidget);
    groupBoxFormat->setObjectName(QString::fromUtf8("groupBoxFormat"));
    verticalLayout_21 = new QVBoxLayout(groupBoxFormat);
    verticalLayout_21->setSpacing(2);
    verticalLayout_21->setContentsMargins(4, 4, 4, 4);
    verticalLayout_21->setObjectName(QString::fromUtf8("verticalLayout_21"));

    horizontalLayout_5 = new QHBoxLayout();
    horizontalLayout_5->setSpacing(6);
    horizontalLayout_5->setObjectName(QString::fromUtf8("horizontalLayout_5"));
    checkBoxFinLigne = newCheckBox(groupBoxFormat, "checkBoxFinLigne");
    horizontalLayout_5->addWidget(checkBoxFinLigne);
    lineEditFinLigne = new QLineEdit(groupBoxFormat);
    lineEditFinLigne->setObjectName(QString::fromUtf8("lineEditFinLigne"));
    QSizePolicy endPolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    endPolicy.setHorizontalStretch(0);
    endPolicy.setVerticalStretch(0);
    lineEditFinLigne->setSizePolicy(endPolicy);
    lineEditFinLigne->setMaximumSize(QSize(40, 20));
    horizontalLayout_5->addWidget(lineEditFinLigne);
    horizontalSpacer_13 = horizontalSpacerItem();
    horizontalLayout_5->addItem(horizontalSpacer_13);
    label_11 = newLabel(groupBoxFormat, "label_11");
    horizontalLayout_5->addWidget(label_11);
    verticalLayout_11 = new QVBoxLayout();
    verticalLayout_11->setSpacing(6);
    verticalLayout_11->setObjectName(QString::fromUtf8("verticalLayout_11"));
    checkBoxSupprimerGauche = newCheckBox(groupBoxFormat, "checkBoxSupprimerGauche");
    verticalLayout_11->addWidget(checkBoxSupprimerGauche);
    checkBoxSupprimerDroite = newCheckBox(groupBoxFormat, "checkBoxSupprimerDroite");
    verticalLayout_11->addWidget(checkBoxSupprimerDroite);
    horizontalLayout_5->addLayout(verticalLayout_11);
    verticalLayout_21->addLayout(horizontalLayout_5);

    horizontalLayout_6 = new QHBoxLayout();
    horizontalLayout_6->setSpacing(6);
    horizontalLayout_6->setObjectName(QString::fromUtf8("horizontalLayout_6"));
    checkBoxInvHorizontale = newCheckBox(groupBoxFormat, "checkBoxInvHorizontale");
    horizontalLayout_6->addWidget(checkBoxInvHorizontale);
    horizontalSpacer_14 = horizontalSpacerItem();
    horizontalLayout_6->addItem(horizontalSpacer_14);
    checkBoxInvVerticale = newCheckBox(groupBoxFormat, "checkBoxInvVerticale");
    horizontalLayout_6->addWidget(checkBoxInvVerticale);
    horizontalSpacer_15 = horizontalSpacerItem();
    horizontalLayout_6->addItem(horizontalSpacer_15);
    checkBoxInvBits = newCheckBox(groupBoxFormat, "checkBoxInvBits");
    horizontalLayout_6->addWidget(checkBoxInvBits);
    horizontalSpacer_16 = horizontalSpacerItem();
    horizontalLayout_6->addItem(horizontalSpacer_16);
    checkBoxInvPixels = newCheckBox(groupBoxFormat, "checkBoxInvPixels");
    horizontalLayout_6->addWidget(checkBoxInvPixels);
    verticalLayout_21->addLayout(horizontalLayout_6);

    horizontalLayout_10 = new QHBoxLayout();
    horizontalLayout_10->setSpacing(6);
    horizontalLayout_10->setObjectName(QString::fromUtf8("horizontalLayout_10"));
    label_13 = newLabel(groupBoxFormat, "label_13");
    // The longest row of the left pane: its label may take two lines, so that
    // the window keeps its size with the wider fonts of some systems.
    label_13->setWordWrap(true);
    horizontalLayout_10->addWidget(label_13);
    radioButtonEmptyGenCode = new QRadioButton(groupBoxFormat);
    radioButtonEmptyGenCode->setObjectName(QString::fromUtf8("radioButtonEmptyGenCode"));
    radioButtonEmptyGenCode->setChecked(true);
    horizontalLayout_10->addWidget(radioButtonEmptyGenCode);
    radioButtoEmptySpaces = new QRadioButton(groupBoxFormat);
    radioButtoEmptySpaces->setObjectName(QString::fromUtf8("radioButtoEmptySpaces"));
    horizontalLayout_10->addWidget(radioButtoEmptySpaces);
    horizontalSpacer_17 = horizontalSpacerItem();
    horizontalLayout_10->addItem(horizontalSpacer_17);
    verticalLayout_21->addLayout(horizontalLayout_10);

    verticalLayout_14->addWidget(groupBoxFormat);
    verticalSpacer_4 = verticalSpacerItem();
    verticalLayout_14->addItem(verticalSpacer_4);

    // Output
    groupBoxSortie = new QGroupBox(layoutWidget);
    groupBoxSortie->setObjectName(QString::fromUtf8("groupBoxSortie"));
    horizontalLayout_8 = new QHBoxLayout(groupBoxSortie);
    horizontalLayout_8->setSpacing(2);
    horizontalLayout_8->setContentsMargins(4, 4, 4, 4);
    horizontalLayout_8->setObjectName(QString::fromUtf8("horizontalLayout_8"));
    formLayout_2 = new QFormLayout();
    formLayout_2->setSpacing(6);
    formLayout_2->setObjectName(QString::fromUtf8("formLayout_2"));
    formLayout_2->setFieldGrowthPolicy(QFormLayout::ExpandingFieldsGrow);
    formLayout_2->setLabelAlignment(Qt::AlignRight | Qt::AlignTrailing | Qt::AlignVCenter);
    label_14 = newLabel(groupBoxSortie, "label_14");
    formLayout_2->setWidget(0, QFormLayout::LabelRole, label_14);
    spinBoxLongueurChampSortie = newSpinBox(groupBoxSortie, "spinBoxLongueurChampSortie", 1, 1024);
    spinBoxLongueurChampSortie->setMinimumWidth(60);
    formLayout_2->setWidget(0, QFormLayout::FieldRole, spinBoxLongueurChampSortie);
    labelNomChampSortie = newLabel(groupBoxSortie, "labelNomChampSortie");
    formLayout_2->setWidget(1, QFormLayout::LabelRole, labelNomChampSortie);
    lineEditNomChampSortie = new QLineEdit(groupBoxSortie);
    lineEditNomChampSortie->setObjectName(QString::fromUtf8("lineEditNomChampSortie"));
    lineEditNomChampSortie->setMaxLength(10);
    formLayout_2->setWidget(1, QFormLayout::FieldRole, lineEditNomChampSortie);
    horizontalLayout_8->addLayout(formLayout_2);
    horizontalSpacer_18 = horizontalSpacerItem();
    horizontalLayout_8->addItem(horizontalSpacer_18);
    toolButtonGenerer = newToolButton(groupBoxSortie, "toolButtonGenerer", ":/Codiflux/save-as",
                                      Qt::ToolButtonTextBesideIcon);
    horizontalLayout_8->addWidget(toolButtonGenerer);
    horizontalLayout_8->setStretch(0, 5);
    horizontalLayout_8->setStretch(1, 1);

    verticalLayout_14->addWidget(groupBoxSortie);
    verticalSpacer_5 = verticalSpacerItem();
    verticalLayout_14->addItem(verticalSpacer_5);
    splitter->addWidget(layoutWidget);

    // ---- Right pane: preview ---------------------------------------------
    layoutWidget_1 = new QWidget(splitter);
    layoutWidget_1->setObjectName(QString::fromUtf8("layoutWidget_1"));
    verticalLayout_15 = new QVBoxLayout(layoutWidget_1);
    verticalLayout_15->setSpacing(6);
    verticalLayout_15->setContentsMargins(0, 0, 0, 0);
    verticalLayout_15->setObjectName(QString::fromUtf8("verticalLayout_15"));
    verticalSpacer_6 = verticalSpacerItem();
    verticalLayout_15->addItem(verticalSpacer_6);

    groupBoxPreview = new QGroupBox(layoutWidget_1);
    groupBoxPreview->setObjectName(QString::fromUtf8("groupBoxPreview"));
    verticalLayout_13 = new QVBoxLayout(groupBoxPreview);
    verticalLayout_13->setSpacing(6);
    verticalLayout_13->setContentsMargins(11, 11, 11, 11);
    verticalLayout_13->setObjectName(QString::fromUtf8("verticalLayout_13"));

    horizontalLayout_4 = new QHBoxLayout();
    horizontalLayout_4->setSpacing(6);
    horizontalLayout_4->setObjectName(QString::fromUtf8("horizontalLayout_4"));
    verticalLayout_17 = new QVBoxLayout();
    verticalLayout_17->setSpacing(6);
    verticalLayout_17->setObjectName(QString::fromUtf8("verticalLayout_17"));
    horizontalLayout_4->addLayout(verticalLayout_17);
    horizontalSpacer_19 = horizontalSpacerItem();
    horizontalLayout_4->addItem(horizontalSpacer_19);
    verticalLayout_18 = new QVBoxLayout();
    verticalLayout_18->setSpacing(6);
    verticalLayout_18->setObjectName(QString::fromUtf8("verticalLayout_18"));
    horizontalLayout_4->addLayout(verticalLayout_18);
    formLayout = new QFormLayout();
    formLayout->setSpacing(6);
    formLayout->setObjectName(QString::fromUtf8("formLayout"));
    formLayout->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
    formLayout->setLabelAlignment(Qt::AlignRight | Qt::AlignTrailing | Qt::AlignVCenter);
    label_8 = newLabel(groupBoxPreview, "label_8");
    formLayout->setWidget(0, QFormLayout::LabelRole, label_8);
    lineEditNbColonnes = newDimensionField(groupBoxPreview, "lineEditNbColonnes");
    QSizePolicy columnsPolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    columnsPolicy.setHorizontalStretch(0);
    columnsPolicy.setVerticalStretch(0);
    lineEditNbColonnes->setSizePolicy(columnsPolicy);
    formLayout->setWidget(0, QFormLayout::FieldRole, lineEditNbColonnes);
    label_9 = newLabel(groupBoxPreview, "label_9");
    formLayout->setWidget(1, QFormLayout::LabelRole, label_9);
    lineEditNbLignes = newDimensionField(groupBoxPreview, "lineEditNbLignes");
    formLayout->setWidget(1, QFormLayout::FieldRole, lineEditNbLignes);
    label_10 = newLabel(groupBoxPreview, "label_10");
    formLayout->setWidget(2, QFormLayout::LabelRole, label_10);
    lineEditNbRangees = newDimensionField(groupBoxPreview, "lineEditNbRangees");
    formLayout->setWidget(2, QFormLayout::FieldRole, lineEditNbRangees);
    horizontalLayout_4->addLayout(formLayout);
    horizontalSpacer_20 = horizontalSpacerItem();
    horizontalLayout_4->addItem(horizontalSpacer_20);
    verticalLayout_19 = new QVBoxLayout();
    verticalLayout_19->setSpacing(6);
    verticalLayout_19->setObjectName(QString::fromUtf8("verticalLayout_19"));
    horizontalLayout_4->addLayout(verticalLayout_19);
    verticalLayout_13->addLayout(horizontalLayout_4);

    verticalSpacer_10 = verticalSpacerItem();
    verticalLayout_13->addItem(verticalSpacer_10);
    plainTextEditPreview = new QPlainTextEdit(groupBoxPreview);
    plainTextEditPreview->setObjectName(QString::fromUtf8("plainTextEditPreview"));
    plainTextEditPreview->setReadOnly(true);
    plainTextEditPreview->setTextInteractionFlags(Qt::TextSelectableByKeyboard | Qt::TextSelectableByMouse);
    verticalLayout_13->addWidget(plainTextEditPreview);
    verticalSpacer_11 = verticalSpacerItem();
    verticalLayout_13->addItem(verticalSpacer_11);
    graphicsViewPreview = new QGraphicsView(groupBoxPreview);
    graphicsViewPreview->setObjectName(QString::fromUtf8("graphicsViewPreview"));
    graphicsViewPreview->setMinimumSize(QSize(250, 250));
    graphicsViewPreview->setFrameShadow(QFrame::Sunken);
    graphicsViewPreview->setMidLineWidth(0);
    graphicsViewPreview->setInteractive(false);
    verticalLayout_13->addWidget(graphicsViewPreview);

    horizontalLayout_9 = new QHBoxLayout();
    horizontalLayout_9->setSpacing(6);
    horizontalLayout_9->setObjectName(QString::fromUtf8("horizontalLayout_9"));
    horizontalSpacer_21 = horizontalSpacerItem();
    horizontalLayout_9->addItem(horizontalSpacer_21);
    bmpPreviewRadioButton = new QRadioButton(groupBoxPreview);
    bmpPreviewRadioButton->setObjectName(QString::fromUtf8("bmpPreviewRadioButton"));
    horizontalLayout_9->addWidget(bmpPreviewRadioButton);
    txtPreviewRadioButton = new QRadioButton(groupBoxPreview);
    txtPreviewRadioButton->setObjectName(QString::fromUtf8("txtPreviewRadioButton"));
    txtPreviewRadioButton->setChecked(true);
    horizontalLayout_9->addWidget(txtPreviewRadioButton);
    horizontalSpacer_22 = horizontalSpacerItem();
    horizontalLayout_9->addItem(horizontalSpacer_22);
    verticalLayout_13->addLayout(horizontalLayout_9);
    verticalLayout_13->setStretch(1, 1);
    verticalLayout_13->setStretch(3, 1);
    verticalLayout_13->setStretch(4, 10);

    verticalLayout_15->addWidget(groupBoxPreview);
    verticalSpacer_7 = verticalSpacerItem();
    verticalLayout_15->addItem(verticalSpacer_7);
    verticalLayout_15->setStretch(0, 1);
    verticalLayout_15->setStretch(1, 10);
    verticalLayout_15->setStretch(2, 1);
    splitter->addWidget(layoutWidget_1);

    verticalLayout_23->addWidget(splitter);
    window->setCentralWidget(centralWidget);

    // ---- Menus, tool bar, status bar --------------------------------------
    menuBar = new QMenuBar(window);
    menuBar->setObjectName(QString::fromUtf8("menuBar"));
    menuBar->setGeometry(QRect(0, 0, 962, 21));
    menu_Base = new QMenu(menuBar);
    menu_Base->setObjectName(QString::fromUtf8("menu_Base"));
    menu_Pr_f_rences = new QMenu(menuBar);
    menu_Pr_f_rences->setObjectName(QString::fromUtf8("menu_Pr_f_rences"));
    menuAide = new QMenu(menuBar);
    menuAide->setObjectName(QString::fromUtf8("menuAide"));
    window->setMenuBar(menuBar);

    mainToolBar = new QToolBar(window);
    mainToolBar->setObjectName(QString::fromUtf8("mainToolBar"));
    mainToolBar->setIconSize(QSize(32, 32));
    mainToolBar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    window->addToolBar(Qt::TopToolBarArea, mainToolBar);

    statusBar = new QStatusBar(window);
    statusBar->setObjectName(QString::fromUtf8("statusBar"));
    window->setStatusBar(statusBar);

    menuBar->addAction(menu_Base->menuAction());
    menuBar->addAction(menu_Pr_f_rences->menuAction());
    menuBar->addAction(menuAide->menuAction());
    menu_Base->addAction(actionChargerBase);
    menu_Base->addAction(actionPrevisualisation);
    menu_Base->addAction(actionGenererBase);
    menu_Base->addSeparator();
    menu_Base->addAction(actionFermer);
    menu_Pr_f_rences->addAction(actionChargerParamParDefaut);
    menu_Pr_f_rences->addAction(actionSauverParamParDefaut);
    menuAide->addAction(actionAbout);
    menuAide->addSeparator();
    menuAide->addAction(actionAboutQt);
    menuAide->addAction(actionAboutLibdmtx);
    menuAide->addAction(actionAboutQrencode);
    menuAide->addSeparator();
    menuAide->addAction(actionInstallerPolice);
    mainToolBar->addAction(actionChargerBase);
    mainToolBar->addAction(actionPrevisualisation);
    mainToolBar->addAction(actionGenererBase);
    mainToolBar->addSeparator();
    mainToolBar->addAction(actionChargerParamParDefaut);
    mainToolBar->addAction(actionSauverParamParDefaut);
    mainToolBar->addSeparator();
    mainToolBar->addAction(actionFermer);

    retranslateUi(window);

    // The form's own connections: the buttons trigger the actions.
    QObject::connect(toolButtonGenerer, SIGNAL(clicked()), actionGenererBase, SLOT(trigger()));
    QObject::connect(toolButtoncharger, SIGNAL(clicked()), actionChargerBase, SLOT(trigger()));
    QObject::connect(toolButtonParamAuto, SIGNAL(clicked()), actionPrevisualisation, SLOT(trigger()));
    QObject::connect(actionFermer, SIGNAL(triggered()), window, SLOT(close()));
    QObject::connect(toolButtonParamAutoQRCode, SIGNAL(clicked()), actionPrevisualisation, SLOT(trigger()));

    tabTypeWidget->setCurrentIndex(1);
}

void CodifluxClass::retranslateUi(QMainWindow* window)
{
    auto tr = [](const char* text) { return QCoreApplication::translate("CodifluxClass", text, nullptr); };
    window->setWindowTitle(tr("Codiflux"));

    actionChargerBase->setText(tr("Charger une base"));
    actionChargerBase->setToolTip(tr("Charge une base"));
    actionChargerBase->setShortcut(QKeySequence(tr("Ctrl+O")));
    actionGenererBase->setText(tr("Générer la base"));
    actionGenererBase->setToolTip(tr("Génère la base"));
    actionGenererBase->setShortcut(QKeySequence(tr("Ctrl+S, Ctrl+G")));
    actionFermer->setText(tr("Fermer"));
    actionFermer->setToolTip(tr("Ferme l'application"));
    actionFermer->setShortcut(QKeySequence(tr("Ctrl+Q, Ctrl+F")));
    actionPrevisualisation->setText(tr("Prévisualisation"));
    actionPrevisualisation->setToolTip(tr("Prévisualise le code"));
    actionPrevisualisation->setShortcut(QKeySequence(tr("Ctrl+P")));
    actionChargerParamParDefaut->setText(tr("Charger paramètres"));
    actionChargerParamParDefaut->setToolTip(tr("Charge les paramètres par défaut"));
    actionSauverParamParDefaut->setText(tr("Sauver paramètres"));
    actionSauverParamParDefaut->setToolTip(tr("Enregistre les paramètres par défaut"));
    actionAbout->setText(tr("A propos"));
    actionAbout->setToolTip(tr("Affiche des informations sur ce logiciel"));
    actionAboutQt->setText(tr("A propos de Qt"));
    actionAboutQt->setToolTip(tr("Affiche des informations concernant les bibliothèques Qt"));
    actionAboutLibdmtx->setText(tr("A propose de libdmtx"));
    actionAboutLibdmtx->setToolTip(tr("Affiche des informations concernant la bibliothèque libdmtx"));
    actionAboutQrencode->setText(tr("A propose de qrencode"));
    actionAboutQrencode->setToolTip(tr("Affiche des informations concernant la bibliothèque qrencode"));
    actionInstallerPolice->setText(tr("Installer la police Quadrex"));
    actionInstallerPolice->setToolTip(tr("Copie la police Quadrex dans le dossier des polices de l'utilisateur"));

    groupBoxSource->setTitle(tr("Source"));
    label->setText(tr("Base à encoder :"));
    toolButtoncharger->setText(tr("..."));
    label_2->setText(tr("Liste des champs :"));
    label_3->setText(tr("Contenu du champ sélectionné :"));
    label_12->setText(tr("Début :"));
    label_16->setText(tr("Nb. caractères :"));
    label_15->setText(tr("Fin :"));

    label_4->setText(tr("Taille du module"));
    label_5->setText(tr("Taille de marge"));
    label_6->setText(tr("Taille du datamatrix"));
    label_7->setText(tr("Mode d'encodage"));
    toolButtonParamAuto->setText(tr("Prévisu."));
    tabTypeWidget->setTabText(tabTypeWidget->indexOf(tabDatamatrix), tr("Datamatrix"));
    label_17->setText(tr("Version"));
    label_18->setText(tr("Correction d'erreur"));
    label_20->setText(tr("Casse"));
    label_19->setText(tr("Mode d'encodage"));
    toolButtonParamAutoQRCode->setText(tr("Prévisu."));
    tabTypeWidget->setTabText(tabTypeWidget->indexOf(tabQRCode), tr("QRCode"));

    groupBoxFormat->setTitle(tr("Format"));
    checkBoxFinLigne->setText(tr("Rajout de caractère de fin de ligne :"));
    lineEditFinLigne->setToolTip(
        tr("Caractère ajouté après chaque rangée du code (une espace si la case est vide) : le cadre du texte doit "
           "alors faire de W à 2W modules de large. Saisissez \\n pour un saut de ligne, que LibreOffice conserve : "
           "le code se forme alors dans tout cadre assez large."));
    label_11->setText(tr("Supprimer les espaces :"));
    checkBoxSupprimerGauche->setText(tr("à gauche"));
    checkBoxSupprimerDroite->setText(tr("à droite"));
    checkBoxInvHorizontale->setText(tr("Inversion horizontale"));
    checkBoxInvVerticale->setText(tr("Inversion verticale"));
    checkBoxInvBits->setText(tr("Inversion des bits"));
    checkBoxInvPixels->setText(tr("Inversion des pixels"));
    label_13->setText(tr("Si le champ est vide pour un enregistrement :"));
    label_13->setMinimumWidth(twoLineWidth(label_13->fontMetrics(), label_13->text()) + 2);
    radioButtonEmptyGenCode->setText(tr("Générer un code vide"));
    radioButtoEmptySpaces->setText(tr("Ne pas générer de code (insère des espaces)"));

    groupBoxSortie->setTitle(tr("Sortie"));
    label_14->setText(tr("Longueur du champ encodé :"));
    labelNomChampSortie->setText(tr("Nom du champ encodé :"));
    toolButtonGenerer->setText(tr("Générer la base"));

    groupBoxPreview->setTitle(tr("Prévisualisation"));
    label_8->setText(tr("Nombre de colonnes du code :"));
    label_9->setText(tr("Nombre de lignes du code :"));
    label_10->setText(tr("Nombre de rangées du champ encodé :"));
    bmpPreviewRadioButton->setText(tr("Code généré"));
    txtPreviewRadioButton->setText(tr("Code imprimé"));

    menu_Base->setTitle(tr("&Bases"));
    menu_Pr_f_rences->setTitle(tr("&Préférences"));
    menuAide->setTitle(tr("Aide"));
}
