// Parameter sets: the two menus of the tool bar and the settings group "Format".
// The default set is the keys of "Format", a named set a child group of it.

#include "app/codiflux.h"

#include "settings/parametres.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QInputDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QRadioButton>
#include <QSettings>
#include <QSpinBox>
#include <QTabWidget>

#include <algorithm>

namespace {

// The entry whose item data is `value`; none when no entry carries it.
void selectValue(QComboBox* box, int value)
{
    box->setCurrentIndex(box->findData(value, Qt::UserRole));
}

// The item data of the current entry; 0 when no entry is current.
int currentValue(const QComboBox* box)
{
    return box->currentData(Qt::UserRole).toInt();
}

// Writes the settings file at once, so that a file that cannot be written is
// told now rather than lost silently.
void confirmerEcriture(QWidget* parent, QSettings& settings)
{
    settings.sync();
    if (settings.status() == QSettings::AccessError)
        QMessageBox::warning(parent, QCoreApplication::translate("Codiflux", "Sauver paramètres"),
                             QCoreApplication::translate("Codiflux",
                                                         "Les paramètres n'ont pas pu être enregistrés "
                                                         "dans « %1 ».")
                                 .arg(QDir::toNativeSeparators(settings.fileName())),
                             QMessageBox::Close, QMessageBox::Close);
}

}  // namespace

void Codiflux::construireMenusParametres()
{
    menuChargerParametres->clear();
    menuSauverParametres->clear();

    QStringList names = codiflux::parameterSetNames(*settings);
    std::sort(names.begin(), names.end());

    menuChargerParametres->addAction(actionChargerParDefaut);
    menuChargerParametres->setDefaultAction(actionChargerParDefaut);
    menuSauverParametres->addAction(actionSauverParDefaut);
    menuSauverParametres->setDefaultAction(actionSauverParDefaut);

    // A single set follows the default entry directly.
    if (names.size() >= 2) {
        menuChargerParametres->addSeparator();
        menuSauverParametres->addSeparator();
    }
    for (const QString& name : std::as_const(names)) {
        menuChargerParametres->addAction(name);
        menuSauverParametres->addAction(name);
    }

    menuChargerParametres->addSeparator();
    menuChargerParametres->addAction(actionSupprimer);
    menuSauverParametres->addSeparator();
    menuSauverParametres->addAction(actionNouveau);
    actionSupprimer->setEnabled(!names.isEmpty());
}

void Codiflux::lireJeuParametres()
{
    // Control by control, so that each one's own change signals fire.
    const codiflux::ParameterSet set = codiflux::readParameterSet(*settings);
    form.spinBoxModule->setValue(set.tailleModule);
    form.spinBoxMarge->setValue(set.tailleMarge);
    selectValue(form.comboBoxTailleDatamatrix, set.tailleDatamatrix);
    selectValue(form.comboBoxModeEncodage, set.modeEncodage);
    form.spinBoxVersionQRCode->setValue(set.qrVersion);
    selectValue(form.comboBoxECLevelQRCode, set.qrECLevel);
    selectValue(form.comboBoxCasseQRCode, set.qrCasse);
    selectValue(form.comboBoxModeEncodageQRCode, set.qrModeEncodage);
    form.checkBoxECIQRCode->setChecked(set.qrEci);
    form.checkBoxFinLigne->setChecked(set.finLigne);
    form.lineEditFinLigne->setText(codiflux::endOfLineTyped(set.finLigneCaractere));  // a line feed shows as "\n"
    form.checkBoxSupprimerGauche->setChecked(set.supprimerEspacesGauche);
    form.checkBoxSupprimerDroite->setChecked(set.supprimerEspacesDroite);
    form.checkBoxInvHorizontale->setChecked(set.inversionHorizontale);
    form.checkBoxInvVerticale->setChecked(set.inversionVerticale);
    form.checkBoxInvBits->setChecked(set.inversionBits);
    form.checkBoxInvPixels->setChecked(set.inversionPixels);
    if (set.genererCodeVide)
        form.radioButtonEmptyGenCode->setChecked(true);
    else
        form.radioButtoEmptySpaces->setChecked(true);
    form.tabTypeWidget->setCurrentIndex(set.typeEncodage);
    form.lineEditModeleValeur->setText(set.modeleValeur);
    form.checkBoxGS1->setChecked(set.gs1);
}

codiflux::ParameterSet Codiflux::shownParameters() const
{
    codiflux::ParameterSet set;
    set.tailleModule = form.spinBoxModule->value();
    set.tailleMarge = form.spinBoxMarge->value();
    set.tailleDatamatrix = currentValue(form.comboBoxTailleDatamatrix);
    set.modeEncodage = currentValue(form.comboBoxModeEncodage);
    set.qrVersion = form.spinBoxVersionQRCode->value();
    set.qrECLevel = currentValue(form.comboBoxECLevelQRCode);
    set.qrCasse = currentValue(form.comboBoxCasseQRCode);
    set.qrModeEncodage = currentValue(form.comboBoxModeEncodageQRCode);
    set.qrEci = form.checkBoxECIQRCode->isChecked();
    set.typeEncodage = form.tabTypeWidget->currentIndex();
    set.finLigne = form.checkBoxFinLigne->isChecked();
    set.finLigneCaractere = codiflux::endOfLineFromTyped(form.lineEditFinLigne->text());
    set.supprimerEspacesGauche = form.checkBoxSupprimerGauche->isChecked();
    set.supprimerEspacesDroite = form.checkBoxSupprimerDroite->isChecked();
    set.inversionHorizontale = form.checkBoxInvHorizontale->isChecked();
    set.inversionVerticale = form.checkBoxInvVerticale->isChecked();
    set.inversionBits = form.checkBoxInvBits->isChecked();
    set.inversionPixels = form.checkBoxInvPixels->isChecked();
    set.genererCodeVide = form.radioButtonEmptyGenCode->isChecked();
    set.modeleValeur = form.lineEditModeleValeur->text();
    set.gs1 = form.checkBoxGS1->isChecked();
    return set;
}

void Codiflux::ecrireJeuParametres()
{
    codiflux::writeParameterSet(*settings, shownParameters());
}

void Codiflux::onChargerParametresParDefaut()
{
    codiflux::openParameterSet(*settings);
    lireJeuParametres();
    codiflux::closeAllGroups(*settings);
}

void Codiflux::onSauverParametresParDefaut()
{
    codiflux::openParameterSet(*settings);
    ecrireJeuParametres();
    codiflux::closeAllGroups(*settings);
    confirmerEcriture(this, *settings);
}

void Codiflux::onChargerParametres(QAction* action)
{
    if (!action)
        return;
    if (action == actionChargerParDefaut) {
        onChargerParametresParDefaut();
        return;
    }
    if (action == actionSupprimer) {
        // The names as the settings give them.
        const QStringList names = codiflux::parameterSetNames(*settings);
        bool ok = false;
        const QString name = QInputDialog::getItem(
            this, tr("Suppression..."), tr("Sélectionner le jeu de paramètres à supprimer :"), names, 0, false, &ok);
        if (ok && !name.isEmpty()) {
            codiflux::removeParameterSet(*settings, name);
            construireMenusParametres();
        }
        return;
    }
    codiflux::openParameterSet(*settings, action->text());
    lireJeuParametres();
    codiflux::closeAllGroups(*settings);
}

void Codiflux::onSauverParametres(QAction* action)
{
    if (!action)
        return;
    if (action == actionSauverParDefaut) {
        onSauverParametresParDefaut();
        return;
    }
    if (action == actionNouveau) {
        bool ok = false;
        const QString name = QInputDialog::getText(this, tr("Nouveau..."), tr("Nom du jeu de paramètres à créer :"),
                                                   QLineEdit::Normal, QString(), &ok);
        if (ok && !name.isEmpty()) {
            codiflux::openParameterSet(*settings, name);
            ecrireJeuParametres();
            codiflux::closeAllGroups(*settings);
            confirmerEcriture(this, *settings);
            construireMenusParametres();
        }
        return;
    }
    // An existing set is overwritten without question.
    codiflux::openParameterSet(*settings, action->text());
    ecrireJeuParametres();
    codiflux::closeAllGroups(*settings);
    confirmerEcriture(this, *settings);
}
