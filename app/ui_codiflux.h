#pragma once
// The form of the main window: every widget, layout, spacer and action under
// its object name. setupUi() builds the whole tree on a QMainWindow, sets the
// French texts (translation context "CodifluxClass") and makes the form's own
// connections: the tool buttons trigger the window's actions, "Fermer" closes
// the window.

#include <QtCore/QCoreApplication>

class QAction;
class QComboBox;
class QCheckBox;
class QFormLayout;
class QGraphicsView;
class QGroupBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QMainWindow;
class QMenu;
class QMenuBar;
class QPlainTextEdit;
class QRadioButton;
class QSpacerItem;
class QSpinBox;
class QSplitter;
class QStatusBar;
class QTabWidget;
class QToolBar;
class QToolButton;
class QVBoxLayout;
class QWidget;

class CodifluxClass {
public:
    // Actions
    QAction* actionChargerBase = nullptr;
    QAction* actionGenererBase = nullptr;
    QAction* actionFermer = nullptr;
    QAction* actionPrevisualisation = nullptr;
    QAction* actionChargerParamParDefaut = nullptr;
    QAction* actionSauverParamParDefaut = nullptr;
    QAction* actionAbout = nullptr;
    QAction* actionAboutQt = nullptr;
    QAction* actionAboutLibdmtx = nullptr;
    QAction* actionAboutQrencode = nullptr;
    QAction* actionInstallerPolice = nullptr;

    QWidget* centralWidget = nullptr;
    QVBoxLayout* verticalLayout_23 = nullptr;
    QSplitter* splitter = nullptr;

    // Left pane
    QWidget* layoutWidget = nullptr;
    QVBoxLayout* verticalLayout_14 = nullptr;
    QSpacerItem* verticalSpacer = nullptr;
    QSpacerItem* verticalSpacer_2 = nullptr;
    QSpacerItem* verticalSpacer_3 = nullptr;
    QSpacerItem* verticalSpacer_4 = nullptr;
    QSpacerItem* verticalSpacer_5 = nullptr;

    // Source
    QGroupBox* groupBoxSource = nullptr;
    QVBoxLayout* verticalLayout_3 = nullptr;
    QHBoxLayout* horizontalLayout = nullptr;
    QLabel* label = nullptr;
    QLineEdit* lineEditBaseSource = nullptr;
    QToolButton* toolButtoncharger = nullptr;
    QHBoxLayout* layout_selectionChamp = nullptr;
    QVBoxLayout* verticalLayout = nullptr;
    QLabel* label_2 = nullptr;
    QComboBox* comboBoxChamps = nullptr;
    QVBoxLayout* verticalLayout_2 = nullptr;
    QLabel* label_3 = nullptr;
    QComboBox* comboBoxEnregistrement = nullptr;
    QVBoxLayout* layout_selectionPosition = nullptr;
    QPlainTextEdit* plainTextEditSelecteurPosition = nullptr;
    QHBoxLayout* horizontalLayout_2 = nullptr;
    QSpacerItem* horizontalSpacer = nullptr;
    QLabel* label_12 = nullptr;
    QSpinBox* spinBoxPosDebut = nullptr;
    QSpacerItem* horizontalSpacer_2 = nullptr;
    QLabel* label_16 = nullptr;
    QSpinBox* spinBoxPosNbCar = nullptr;
    QSpacerItem* horizontalSpacer_3 = nullptr;
    QLabel* label_15 = nullptr;
    QSpinBox* spinBoxPosFin = nullptr;
    QSpacerItem* horizontalSpacer_4 = nullptr;

    // Code type and parameters
    QTabWidget* tabTypeWidget = nullptr;
    QWidget* tabDatamatrix = nullptr;
    QVBoxLayout* verticalLayout_16 = nullptr;
    QHBoxLayout* horizontalLayout_3 = nullptr;
    QVBoxLayout* verticalLayout_4 = nullptr;
    QLabel* label_4 = nullptr;
    QSpinBox* spinBoxModule = nullptr;
    QSpacerItem* horizontalSpacer_5 = nullptr;
    QVBoxLayout* verticalLayout_5 = nullptr;
    QLabel* label_5 = nullptr;
    QSpinBox* spinBoxMarge = nullptr;
    QSpacerItem* horizontalSpacer_6 = nullptr;
    QVBoxLayout* verticalLayout_6 = nullptr;
    QLabel* label_6 = nullptr;
    QComboBox* comboBoxTailleDatamatrix = nullptr;
    QSpacerItem* horizontalSpacer_7 = nullptr;
    QVBoxLayout* verticalLayout_7 = nullptr;
    QLabel* label_7 = nullptr;
    QComboBox* comboBoxModeEncodage = nullptr;
    QSpacerItem* horizontalSpacer_8 = nullptr;
    QToolButton* toolButtonParamAuto = nullptr;
    QSpacerItem* verticalSpacer_8 = nullptr;

    QWidget* tabQRCode = nullptr;
    QVBoxLayout* verticalLayout_20 = nullptr;
    QHBoxLayout* horizontalLayout_7 = nullptr;
    QVBoxLayout* verticalLayout_8 = nullptr;
    QLabel* label_17 = nullptr;
    QSpinBox* spinBoxVersionQRCode = nullptr;
    QSpacerItem* horizontalSpacer_9 = nullptr;
    QVBoxLayout* verticalLayout_9 = nullptr;
    QLabel* label_18 = nullptr;
    QComboBox* comboBoxECLevelQRCode = nullptr;
    QSpacerItem* horizontalSpacer_10 = nullptr;
    QVBoxLayout* verticalLayout_10 = nullptr;
    QLabel* label_20 = nullptr;
    QComboBox* comboBoxCasseQRCode = nullptr;
    QSpacerItem* horizontalSpacer_11 = nullptr;
    QVBoxLayout* verticalLayout_12 = nullptr;
    QLabel* label_19 = nullptr;
    QComboBox* comboBoxModeEncodageQRCode = nullptr;
    QSpacerItem* horizontalSpacer_12 = nullptr;
    QToolButton* toolButtonParamAutoQRCode = nullptr;
    QSpacerItem* verticalSpacer_9 = nullptr;

    // Format
    QGroupBox* groupBoxFormat = nullptr;
    QVBoxLayout* verticalLayout_21 = nullptr;
    QHBoxLayout* horizontalLayout_5 = nullptr;
    QCheckBox* checkBoxFinLigne = nullptr;
    QLineEdit* lineEditFinLigne = nullptr;
    QSpacerItem* horizontalSpacer_13 = nullptr;
    QLabel* label_11 = nullptr;
    QVBoxLayout* verticalLayout_11 = nullptr;
    QCheckBox* checkBoxSupprimerGauche = nullptr;
    QCheckBox* checkBoxSupprimerDroite = nullptr;
    QHBoxLayout* horizontalLayout_6 = nullptr;
    QCheckBox* checkBoxInvHorizontale = nullptr;
    QSpacerItem* horizontalSpacer_14 = nullptr;
    QCheckBox* checkBoxInvVerticale = nullptr;
    QSpacerItem* horizontalSpacer_15 = nullptr;
    QCheckBox* checkBoxInvBits = nullptr;
    QSpacerItem* horizontalSpacer_16 = nullptr;
    QCheckBox* checkBoxInvPixels = nullptr;
    QHBoxLayout* horizontalLayout_10 = nullptr;
    QLabel* label_13 = nullptr;
    QRadioButton* radioButtonEmptyGenCode = nullptr;
    QRadioButton* radioButtoEmptySpaces = nullptr;
    QSpacerItem* horizontalSpacer_17 = nullptr;

    // Output
    QGroupBox* groupBoxSortie = nullptr;
    QHBoxLayout* horizontalLayout_8 = nullptr;
    QFormLayout* formLayout_2 = nullptr;
    QLabel* label_14 = nullptr;
    QSpinBox* spinBoxLongueurChampSortie = nullptr;
    QLabel* labelNomChampSortie = nullptr;
    QLineEdit* lineEditNomChampSortie = nullptr;
    QSpacerItem* horizontalSpacer_18 = nullptr;
    QToolButton* toolButtonGenerer = nullptr;

    // Right pane: preview
    QWidget* layoutWidget_1 = nullptr;
    QVBoxLayout* verticalLayout_15 = nullptr;
    QSpacerItem* verticalSpacer_6 = nullptr;
    QSpacerItem* verticalSpacer_7 = nullptr;
    QGroupBox* groupBoxPreview = nullptr;
    QVBoxLayout* verticalLayout_13 = nullptr;
    QHBoxLayout* horizontalLayout_4 = nullptr;
    QVBoxLayout* verticalLayout_17 = nullptr;
    QSpacerItem* horizontalSpacer_19 = nullptr;
    QVBoxLayout* verticalLayout_18 = nullptr;
    QFormLayout* formLayout = nullptr;
    QLabel* label_8 = nullptr;
    QLineEdit* lineEditNbColonnes = nullptr;
    QLabel* label_9 = nullptr;
    QLineEdit* lineEditNbLignes = nullptr;
    QLabel* label_10 = nullptr;
    QLineEdit* lineEditNbRangees = nullptr;
    QSpacerItem* horizontalSpacer_20 = nullptr;
    QVBoxLayout* verticalLayout_19 = nullptr;
    QSpacerItem* verticalSpacer_10 = nullptr;
    QPlainTextEdit* plainTextEditPreview = nullptr;
    QSpacerItem* verticalSpacer_11 = nullptr;
    QGraphicsView* graphicsViewPreview = nullptr;
    QHBoxLayout* horizontalLayout_9 = nullptr;
    QSpacerItem* horizontalSpacer_21 = nullptr;
    QRadioButton* bmpPreviewRadioButton = nullptr;
    QRadioButton* txtPreviewRadioButton = nullptr;
    QSpacerItem* horizontalSpacer_22 = nullptr;

    // Window parts
    QMenuBar* menuBar = nullptr;
    QMenu* menu_Base = nullptr;
    QMenu* menu_Pr_f_rences = nullptr;
    QMenu* menuAide = nullptr;
    QToolBar* mainToolBar = nullptr;
    QStatusBar* statusBar = nullptr;

    void setupUi(QMainWindow* CodifluxClass);
    void retranslateUi(QMainWindow* CodifluxClass);
};

namespace Ui {
using CodifluxClass = ::CodifluxClass;
}
