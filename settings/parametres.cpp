#include "settings/parametres.h"

#include "codes/gs1.h"

namespace codiflux {

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
    EncodingParameters& p = set.encoding;
    FontTextOptions& o = set.fontText;
    p.moduleSize = settings.value(keys::TailleModule, 1).toInt();
    p.marginSize = settings.value(keys::TailleMarge, 0).toInt();
    if (settings.value(keys::Version, 0).toInt() < 1)
        p.sizeRequest = translateOldDatamatrixSize(settings.value(keys::TailleDatamatrix, 4).toInt());
    else
        p.sizeRequest = settings.value(keys::TailleDatamatrix, 27).toInt();
    if (settings.value(keys::Version, 0).toInt() < 1)
        p.scheme = translateOldScheme(settings.value(keys::ModeEncodage, 6).toInt());
    else
        p.scheme = settings.value(keys::ModeEncodage, -1).toInt();
    p.qrVersion = settings.value(keys::QRCodeVersion, 0).toInt();
    p.qrLevel = settings.value(keys::QRCodeECLevel, 0).toInt();
    p.qrCaseSensitive = settings.value(keys::QRCodeCasse, 1).toInt();
    p.qrMode = settings.value(keys::QRCodeModeEncodage, 0).toInt();
    p.qrEci = settings.value(keys::QRCodeECI, false).toBool();
    o.endOfLine = settings.value(keys::FinLigne, true).toBool();
    set.setEndOfLineText(settings.value(keys::FinLigneCaractere, QString()).toString());
    set.trimStart = settings.value(keys::SupprimerEspacesGauche, false).toBool();
    set.trimEnd = settings.value(keys::SupprimerEspacesDroite, false).toBool();
    o.horizontalInversion = settings.value(keys::InversionHorizontale, false).toBool();
    o.verticalInversion = settings.value(keys::InversionVerticale, false).toBool();
    o.bitInversion = settings.value(keys::InversionBits, true).toBool();
    o.pixelInversion = settings.value(keys::InversionPixels, true).toBool();
    set.blankCodes = settings.value(keys::GenererCodeVide, true).toBool();
    p.symbology = settings.value(keys::TypeEncodage, 0).toInt() == int(Symbology::QRCode) ? Symbology::QRCode
                                                                                          : Symbology::Datamatrix;
    set.valueTemplate = settings.value(keys::ModeleValeur, QString()).toString();
    p.fnc1 = settings.value(keys::Gs1, false).toBool() ? gs1::kFnc1Byte : -1;
    return set;
}

void writeParameterSet(QSettings& settings, const ParameterSet& set)
{
    const EncodingParameters& p = set.encoding;
    const FontTextOptions& o = set.fontText;
    settings.setValue(keys::Version, 1);
    settings.setValue(keys::TailleModule, p.moduleSize);
    settings.setValue(keys::TailleMarge, p.marginSize);
    settings.setValue(keys::TailleDatamatrix, p.sizeRequest);
    settings.setValue(keys::ModeEncodage, p.scheme);
    settings.setValue(keys::QRCodeVersion, p.qrVersion);
    settings.setValue(keys::QRCodeECLevel, p.qrLevel);
    settings.setValue(keys::QRCodeCasse, p.qrCaseSensitive);
    settings.setValue(keys::QRCodeModeEncodage, p.qrMode);
    // Absent means off: a set without ECI is written as before.
    if (p.qrEci)
        settings.setValue(keys::QRCodeECI, true);
    else
        settings.remove(keys::QRCodeECI);
    settings.setValue(keys::TypeEncodage, int(p.symbology));
    settings.setValue(keys::FinLigne, o.endOfLine);
    settings.setValue(keys::FinLigneCaractere, set.endOfLineText);
    settings.setValue(keys::SupprimerEspacesGauche, set.trimStart);
    settings.setValue(keys::SupprimerEspacesDroite, set.trimEnd);
    settings.setValue(keys::InversionHorizontale, o.horizontalInversion);
    settings.setValue(keys::InversionVerticale, o.verticalInversion);
    settings.setValue(keys::InversionBits, o.bitInversion);
    settings.setValue(keys::InversionPixels, o.pixelInversion);
    settings.setValue(keys::GenererCodeVide, set.blankCodes);
    if (set.valueTemplate.isEmpty())
        settings.remove(keys::ModeleValeur);
    else
        settings.setValue(keys::ModeleValeur, set.valueTemplate);
    if (gs1::enabled(p))
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
