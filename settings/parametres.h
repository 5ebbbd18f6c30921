#pragma once
// Parameter sets kept in the application settings (INI, user scope,
// organisation "Codiflux"): the default set is the keys of the group
// "Format", a named set is a child group of "Format" holding the same keys.

#include "codes/encoding.h"
#include "codes/fonttext.h"

#include <QSettings>
#include <QString>
#include <QStringList>

namespace codiflux {

namespace keys {
inline constexpr char Format[] = "Format";
inline constexpr char CheminChargement[] = "Courant/CheminChargement";
inline constexpr char CheminEnregistrement[] = "Courant/CheminEnregistrement";

inline constexpr char Version[] = "Version";
inline constexpr char TailleModule[] = "TailleModule";
inline constexpr char TailleMarge[] = "TailleMarge";
inline constexpr char TailleDatamatrix[] = "TailleDatamatrix";
inline constexpr char ModeEncodage[] = "ModeEncodage";
inline constexpr char QRCodeVersion[] = "QRCode.Version";
inline constexpr char QRCodeECLevel[] = "QRCode.ECLevel";
inline constexpr char QRCodeCasse[] = "QRCode.Casse";
inline constexpr char QRCodeModeEncodage[] = "QRCode.ModeEncodage";
inline constexpr char QRCodeECI[] = "QRCodeECI";  // written only when on
inline constexpr char TypeEncodage[] = "TypeEncodage";
inline constexpr char FinLigne[] = "FinLigne";
inline constexpr char FinLigneCaractere[] = "FinLigneCaractere";
inline constexpr char SupprimerEspacesGauche[] = "SupprimerEspacesGauche";
inline constexpr char SupprimerEspacesDroite[] = "SupprimerEspacesDroite";
inline constexpr char InversionHorizontale[] = "InversionHorizontale";
inline constexpr char InversionVerticale[] = "InversionVerticale";
inline constexpr char InversionBits[] = "InversionBits";
inline constexpr char InversionPixels[] = "InversionPixels";
inline constexpr char GenererCodeVide[] = "GenererCodeVide";
// Written only when set: a set without them encodes one field as text.
inline constexpr char ModeleValeur[] = "ModeleValeur";
inline constexpr char Gs1[] = "GS1";
}  // namespace keys

// The values of one parameter set; the defaults are those of a set with no key.
// Combo box values are the item data of the window's lists (library values).
// "TypeEncodage" (the window's tab) is the symbology, "GS1" the FNC1 byte.
struct ParameterSet {
    EncodingParameters encoding;
    FontTextOptions fontText{.bitInversion = true, .pixelInversion = true, .endOfLine = true};
    QString endOfLineText;  // "FinLigneCaractere" as stored; fontText has its first character
    bool trimStart = false;
    bool trimEnd = false;
    bool blankCodes = true;
    QString valueTemplate;  // "{GTIN}..."; empty: the chosen field alone

    friend bool operator==(const ParameterSet&, const ParameterSet&) = default;

    // The stored end-of-line text and, from it, the character the font text ends its bands with.
    void setEndOfLineText(const QString& text)
    {
        endOfLineText = text;
        fontText.endOfLineCharacter = endOfLineCharacter(text);
    }
};

// A line feed as end-of-line character is stored as the line feed itself,
// which the settings file keeps escaped ("\n"): a version that takes the
// first character of the text also ends each band with a line feed, and a
// blank or printable character reads as before. It is typed and shown as the
// two characters "\n".
inline QString lineFeedEndOfLine()
{
    return QStringLiteral("\n");
}
inline QString lineFeedTyped()
{
    return QStringLiteral("\\n");
}
// The stored end-of-line text from the typed one ("\n" gives the line feed).
inline QString endOfLineFromTyped(const QString& typed)
{
    return typed == lineFeedTyped() ? lineFeedEndOfLine() : typed;
}
// The typed end-of-line text from the stored one.
inline QString endOfLineTyped(const QString& stored)
{
    return stored.startsWith(QLatin1Char('\n')) ? lineFeedTyped() : stored;
}

// Sets stored before the "Version" key existed kept the two Datamatrix lists
// as positions of an earlier list; these give today's item data for them.
int translateOldDatamatrixSize(int code);
int translateOldScheme(int code);

// Reads the keys of the settings' current group; a missing key gives its default.
ParameterSet readParameterSet(const QSettings& settings);
// Writes the 19 keys into the settings' current group, "Version" = 1 first;
// "ModeleValeur" and "GS1" when set (removed otherwise).
void writeParameterSet(QSettings& settings, const ParameterSet& set);

// Ends every open group, back to the top level.
void closeAllGroups(QSettings& settings);
// Names of the named sets: the child groups of "Format", as the settings return them.
QStringList parameterSetNames(QSettings& settings);
// Opens "Format" and, for a non-empty name, the set's group.
void openParameterSet(QSettings& settings, const QString& name = QString());
bool removeParameterSet(QSettings& settings, const QString& name);

}  // namespace codiflux
