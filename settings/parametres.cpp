#include "settings/parametres.h"

#include "codes/gs1.h"

namespace codiflux {

EncodingParameters ParameterSet::encodingParameters() const
{
    EncodingParameters p;
    p.symbology = typeEncodage == int(Symbology::QRCode) ? Symbology::QRCode : Symbology::Datamatrix;
    p.moduleSize = tailleModule;
    p.marginSize = tailleMarge;
    p.sizeRequest = tailleDatamatrix;
    p.scheme = modeEncodage;
    p.qrVersion = qrVersion;
    p.qrLevel = qrECLevel;
    p.qrCaseSensitive = qrCasse;
    p.qrMode = qrModeEncodage;
    p.fnc1 = gs1 ? gs1::kFnc1Byte : -1;
    p.qrEci = qrEci;
    return p;
}

FontTextOptions ParameterSet::fontTextOptions() const
{
    FontTextOptions o;
    o.horizontalInversion = inversionHorizontale;
    o.verticalInversion = inversionVerticale;
    o.bitInversion = inversionBits;
    o.pixelInversion = inversionPixels;
    o.endOfLine = finLigne;
    o.endOfLineCharacter = endOfLineCharacter(finLigneCaractere);
    return o;
}

int translateOldDatamatrixSize(int code)
{
    static constexpr int firstCodes[] = {24, 25, 0, 26, 27, 2, 28, 29};
    if (code >= 0 && code <= 7)
        return firstCodes[code];
    if (code >= 8 && code <= 27)
        return code - 4;
    if (code == 30)
        return -1;
    if (code == 39)
        return -3;
    return -2;
}

int translateOldScheme(int code)
{
    if (code >= 0 && code <= 5)
        return code;
    if (code == 7)
        return -2;
    return -1;
}

ParameterSet readParameterSet(const QSettings& settings)
{
    ParameterSet set;
    set.tailleModule = settings.value(keys::TailleModule, 1).toInt();
    set.tailleMarge = settings.value(keys::TailleMarge, 0).toInt();
    if (settings.value(keys::Version, 0).toInt() < 1)
        set.tailleDatamatrix = translateOldDatamatrixSize(settings.value(keys::TailleDatamatrix, 4).toInt());
    else
        set.tailleDatamatrix = settings.value(keys::TailleDatamatrix, 27).toInt();
    if (settings.value(keys::Version, 0).toInt() < 1)
        set.modeEncodage = translateOldScheme(settings.value(keys::ModeEncodage, 6).toInt());
    else
        set.modeEncodage = settings.value(keys::ModeEncodage, -1).toInt();
    set.qrVersion = settings.value(keys::QRCodeVersion, 0).toInt();
    set.qrECLevel = settings.value(keys::QRCodeECLevel, 0).toInt();
    set.qrCasse = settings.value(keys::QRCodeCasse, 1).toInt();
    set.qrModeEncodage = settings.value(keys::QRCodeModeEncodage, 0).toInt();
    set.qrEci = settings.value(keys::QRCodeECI, false).toBool();
    set.finLigne = settings.value(keys::FinLigne, true).toBool();
    set.finLigneCaractere = settings.value(keys::FinLigneCaractere, QString()).toString();
    set.supprimerEspacesGauche = settings.value(keys::SupprimerEspacesGauche, false).toBool();
    set.supprimerEspacesDroite = settings.value(keys::SupprimerEspacesDroite, false).toBool();
    set.inversionHorizontale = settings.value(keys::InversionHorizontale, false).toBool();
    set.inversionVerticale = settings.value(keys::InversionVerticale, false).toBool();
    set.inversionBits = settings.value(keys::InversionBits, true).toBool();
    set.inversionPixels = settings.value(keys::InversionPixels, true).toBool();
    set.genererCodeVide = settings.value(keys::GenererCodeVide, true).toBool();
    set.typeEncodage = settings.value(keys::TypeEncodage, 0).toInt();
    set.modeleValeur = settings.value(keys::ModeleValeur, QString()).toString();
    set.gs1 = settings.value(keys::Gs1, false).toBool();
    return set;
}

void writeParameterSet(QSettings& settings, const ParameterSet& set)
{
    settings.setValue(keys::Version, 1);
    settings.setValue(keys::TailleModule, set.tailleModule);
    settings.setValue(keys::TailleMarge, set.tailleMarge);
    settings.setValue(keys::TailleDatamatrix, set.tailleDatamatrix);
    settings.setValue(keys::ModeEncodage, set.modeEncodage);
    settings.setValue(keys::QRCodeVersion, set.qrVersion);
    settings.setValue(keys::QRCodeECLevel, set.qrECLevel);
    settings.setValue(keys::QRCodeCasse, set.qrCasse);
    settings.setValue(keys::QRCodeModeEncodage, set.qrModeEncodage);
    // Absent means off: a set without ECI is written as before.
    if (set.qrEci)
        settings.setValue(keys::QRCodeECI, true);
    else
        settings.remove(keys::QRCodeECI);
    settings.setValue(keys::TypeEncodage, set.typeEncodage);
    settings.setValue(keys::FinLigne, set.finLigne);
    settings.setValue(keys::FinLigneCaractere, set.finLigneCaractere);
    settings.setValue(keys::SupprimerEspacesGauche, set.supprimerEspacesGauche);
    settings.setValue(keys::SupprimerEspacesDroite, set.supprimerEspacesDroite);
    settings.setValue(keys::InversionHorizontale, set.inversionHorizontale);
    settings.setValue(keys::InversionVerticale, set.inversionVerticale);
    settings.setValue(keys::InversionBits, set.inversionBits);
    settings.setValue(keys::InversionPixels, set.inversionPixels);
    settings.setValue(keys::GenererCodeVide, set.genererCodeVide);
    if (set.modeleValeur.isEmpty())
        settings.remove(keys::ModeleValeur);
    else
        settings.setValue(keys::ModeleValeur, set.modeleValeur);
    if (set.gs1)
        settings.setValue(keys::Gs1, true);
    else
        settings.remove(keys::Gs1);
}

void closeAllGroups(QSettings& settings)
{
    while (!settings.group().isEmpty())
        settings.endGroup();
}

QStringList parameterSetNames(QSettings& settings)
{
    closeAllGroups(settings);
    settings.beginGroup(keys::Format);
    const QStringList names = settings.childGroups();
    settings.endGroup();
    return names;
}

void openParameterSet(QSettings& settings, const QString& name)
{
    closeAllGroups(settings);
    settings.beginGroup(keys::Format);
    if (!name.isEmpty())
        settings.beginGroup(name);
}

bool removeParameterSet(QSettings& settings, const QString& name)
{
    if (name.isEmpty())
        return false;
    closeAllGroups(settings);
    settings.beginGroup(keys::Format);
    const bool present = settings.childGroups().contains(name);
    if (present)
        settings.remove(name);
    settings.endGroup();
    return present;
}

}  // namespace codiflux
