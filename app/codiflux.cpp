// Construction and destruction of the main window, and setLayoutVisible.

#include "app/codiflux.h"

#include "codes/encoding.h"

#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGraphicsView>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QSettings>
#include <QSpinBox>
#include <QToolBar>
#include <QToolButton>

#include <span>

// The icons and licence texts are compiled into this library; registering them
// from a static initialiser here keeps them linked in wherever the window is
// used, and makes them available before main() runs.
static int registerCodifluxResources()
{
    Q_INIT_RESOURCE(codiflux);
    return 1;
}
static const int codifluxResourcesRegistered = registerCodifluxResources();

namespace {

// The maker's web domain, set as the application's organisation domain.
const char* const organisationDomain = "codiflux.fr";

void fillChoices(QComboBox* box, std::span<const codiflux::Choice> choices)
{
    box->clear();
    for (const codiflux::Choice& choice : choices)
        box->addItem(QString::fromUtf8(choice.text), choice.value);
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

// A new menu of `window` on `action`: its button in `toolBar` becomes a split
// button, its menu entry a sub-menu.
QMenu* attachMenu(QWidget* window, QToolBar* toolBar, QAction* action)
{
    auto* menu = new QMenu(window);
    if (auto* button = qobject_cast<QToolButton*>(toolBar->widgetForAction(action))) {
        button->setMenu(menu);
        button->setPopupMode(QToolButton::MenuButtonPopup);
    }
    action->setMenu(menu);
    return menu;
}

}  // namespace

Codiflux::Codiflux(QWidget* parent, Qt::WindowFlags flags)
    : QMainWindow(parent, flags)
{
    // 1. The state of the other subsystems starts empty (member initialisers).
    // 2. The form (codiflux.ui), with its own connections and tab 1 current,
    //    then what a form file cannot express: the selector's font depends on
    //    the fonts installed, and the longest row's label may take two lines
    //    (it word-wraps), so that the window keeps its size with the wider
    //    fonts of some systems.
    form.setupUi(this);
    form.plainTextEditSelecteurPosition->setFont(selectorFont());
    form.label_13->setMinimumWidth(twoLineWidth(form.label_13->fontMetrics(), form.label_13->text()) + 2);

    // 3. The "Aide" menu.
    connect(form.actionAbout, SIGNAL(triggered()), this, SLOT(onAbout()));
    connect(form.actionAboutQt, SIGNAL(triggered()), this, SLOT(onAboutQt()));
    connect(form.actionAboutLibdmtx, SIGNAL(triggered()), this, SLOT(onAboutLibdmtx()));
    connect(form.actionAboutQrencode, SIGNAL(triggered()), this, SLOT(onAboutQrencode()));
    connect(form.actionInstallerPolice, SIGNAL(triggered()), this, SLOT(onInstallerPolice()));
    connect(form.actionEpreuveImpression, SIGNAL(triggered()), this, SLOT(onEpreuveImpression()));

    // 4. The settings store.
    QCoreApplication::setOrganizationDomain(QString::fromLatin1(organisationDomain));
    settings = new QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Codiflux"), QString());

    // 5. The preview scene.
    scene.clear();
    form.graphicsViewPreview->setScene(&scene);
    form.graphicsViewPreview->show();

    // 6. The parameter choice lists, each entry carrying the library's value.
    fillChoices(form.comboBoxTailleDatamatrix, codiflux::datamatrixSizeChoices());
    fillChoices(form.comboBoxModeEncodage, codiflux::datamatrixSchemeChoices());
    fillChoices(form.comboBoxModeEncodageQRCode, codiflux::qrModeChoices());
    fillChoices(form.comboBoxECLevelQRCode, codiflux::qrLevelChoices());
    fillChoices(form.comboBoxCasseQRCode, codiflux::qrCaseChoices());
    fillCodePages();

    // 7. Actions and controls to the window's slots.
    connect(form.actionChargerBase, SIGNAL(triggered()), this, SLOT(chargerBase()));
    connect(form.actionGenererBase, SIGNAL(triggered()), this, SLOT(genererBase()));
    connect(form.comboBoxChamps, SIGNAL(currentIndexChanged(int)), this, SLOT(selectionnerChamp(int)));
    connect(form.actionPrevisualisation, SIGNAL(triggered()), this, SLOT(onPreview()));
    connect(form.actionChargerParamParDefaut, SIGNAL(triggered()), this, SLOT(onChargerParametresParDefaut()));
    connect(form.actionSauverParamParDefaut, SIGNAL(triggered()), this, SLOT(onSauverParametresParDefaut()));
    connect(form.spinBoxPosDebut, SIGNAL(valueChanged(int)), this, SLOT(selectionnerDebutPosition(int)));
    connect(form.spinBoxPosFin, SIGNAL(valueChanged(int)), this, SLOT(selectionnerFinPosition(int)));
    connect(form.spinBoxPosNbCar, SIGNAL(valueChanged(int)), this, SLOT(selectionnerNbCarPosition(int)));
    connect(form.plainTextEditSelecteurPosition, SIGNAL(selectionChanged()), this, SLOT(selectionnerPosition()));
    connect(form.bmpPreviewRadioButton, SIGNAL(toggled(bool)), this, SLOT(fitInView()));
    connect(form.txtPreviewRadioButton, SIGNAL(toggled(bool)), this, SLOT(fitInView()));

    // 8. The fixed entries of the parameter-set menus.
    actionSauverParDefaut = new QAction(tr("Par Défaut"), this);
    actionChargerParDefaut = new QAction(tr("Par Défaut"), this);
    actionNouveau = new QAction(tr("Nouveau..."), this);
    actionSupprimer = new QAction(tr("Supprimer..."), this);

    // 9. The load menu: a split button in the tool bar, a sub-menu in "&Préférences".
    menuChargerParametres = attachMenu(this, form.mainToolBar, form.actionChargerParamParDefaut);
    connect(menuChargerParametres, SIGNAL(triggered(QAction*)), this, SLOT(onChargerParametres(QAction*)));

    // 10. The save menu, likewise.
    menuSauverParametres = attachMenu(this, form.mainToolBar, form.actionSauverParamParDefaut);
    connect(menuSauverParametres, SIGNAL(triggered(QAction*)), this, SLOT(onSauverParametres(QAction*)));

    // 11. Both menus from the stored parameter sets.
    construireMenusParametres();

    // 12. No base yet: its controls stay hidden.
    setLayoutVisible(form.layout_selectionChamp, false);
    setLayoutVisible(form.layout_selectionPosition, false);

    // 13. The encoded field's name only applies to a DBF base.
    form.labelNomChampSortie->hide();
    form.lineEditNomChampSortie->hide();

    // 14. The default parameter set.
    onChargerParametresParDefaut();
}

Codiflux::~Codiflux()
{
    delete settings;
    delete menuChargerParametres;
    delete menuSauverParametres;
    delete actionChargerParDefaut;
    delete actionSauverParDefaut;
    delete actionNouveau;
    delete actionSupprimer;
    // The scene and the field list go with the members, the widgets with the base window.
}

int Codiflux::setLayoutVisible(QLayout* layout, bool visible)
{
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem* item = layout->itemAt(i);
        if (QWidget* widget = item->widget())
            widget->setVisible(visible);
        else if (QLayout* nested = item->layout())
            setLayoutVisible(nested, visible);
    }
    return layout->count();
}
