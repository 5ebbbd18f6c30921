// Parameter sets: the two menus of the tool bar and the settings group "Format".
// The default set is the keys of "Format", a named set a child group of it.

#include "app/codiflux.h"

#include "codes/gs1.h"
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
    const codiflux::EncodingParameters& p = set.encoding;
    const codiflux::FontTextOptions& o = set.fontText;
    form.spinBoxModule->setValue(p.moduleSize);
    form.spinBoxMarge->setValue(p.marginSize);
    selectValue(form.comboBoxTailleDatamatrix, p.sizeRequest);
    selectValue(form.comboBoxModeEncodage, p.scheme);
    form.spinBoxVersionQRCode->setValue(p.qrVersion);
    selectValue(form.comboBoxECLevelQRCode, p.qrLevel);
    selectValue(form.comboBoxCasseQRCode, p.qrCaseSensitive);
    selectValue(form.comboBoxModeEncodageQRCode, p.qrMode);
    form.checkBoxECIQRCode->setChecked(p.qrEci);
    form.checkBoxFinLigne->setChecked(o.endOfLine);
    form.lineEditFinLigne->setText(codiflux::endOfLineTyped(set.endOfLineText));  // a line feed shows as "\n"
    form.checkBoxSupprimerGauche->setChecked(set.trimStart);
    form.checkBoxSupprimerDroite->setChecked(set.trimEnd);
    form.checkBoxInvHorizontale->setChecked(o.horizontalInversion);
    form.checkBoxInvVerticale->setChecked(o.verticalInversion);
    form.checkBoxInvBits->setChecked(o.bitInversion);
    form.checkBoxInvPixels->setChecked(o.pixelInversion);
    if (set.blankCodes)
        form.radioButtonEmptyGenCode->setChecked(true);
    else
        form.radioButtoEmptySpaces->setChecked(true);
    form.tabTypeWidget->setCurrentIndex(int(p.symbology));
    form.lineEditModeleValeur->setText(set.valueTemplate);
    form.checkBoxGS1->setChecked(codiflux::gs1::enabled(p));
}

codiflux::ParameterSet Codiflux::shownParameters() const
{
    codiflux::ParameterSet set;
    codiflux::EncodingParameters& p = set.encoding;
    codiflux::FontTextOptions& o = set.fontText;
    p.moduleSize = form.spinBoxModule->value();
    p.marginSize = form.spinBoxMarge->value();
    p.sizeRequest = currentValue(form.comboBoxTailleDatamatrix);
    p.scheme = currentValue(form.comboBoxModeEncodage);
    p.qrVersion = form.spinBoxVersionQRCode->value();
    p.qrLevel = currentValue(form.comboBoxECLevelQRCode);
    p.qrCaseSensitive = currentValue(form.comboBoxCasseQRCode);
    p.qrMode = currentValue(form.comboBoxModeEncodageQRCode);
    p.qrEci = form.checkBoxECIQRCode->isChecked();
    p.symbology = form.tabTypeWidget->currentIndex() == int(codiflux::Symbology::QRCode)
        ? codiflux::Symbology::QRCode
        : codiflux::Symbology::Datamatrix;
    o.endOfLine = form.checkBoxFinLigne->isChecked();
    set.setEndOfLineText(codiflux::endOfLineFromTyped(form.lineEditFinLigne->text()));
    set.trimStart = form.checkBoxSupprimerGauche->isChecked();
    set.trimEnd = form.checkBoxSupprimerDroite->isChecked();
    o.horizontalInversion = form.checkBoxInvHorizontale->isChecked();
    o.verticalInversion = form.checkBoxInvVerticale->isChecked();
    o.bitInversion = form.checkBoxInvBits->isChecked();
    o.pixelInversion = form.checkBoxInvPixels->isChecked();
    set.blankCodes = form.radioButtonEmptyGenCode->isChecked();
    set.valueTemplate = form.lineEditModeleValeur->text();
    p.fnc1 = form.checkBoxGS1->isChecked() ? codiflux::gs1::kFnc1Byte : -1;
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
