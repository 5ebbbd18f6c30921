#pragma once
// The generation's French texts (translation context "BaseEncoder"), shared
// by the reader, the coder, the writer and the set-up of a run.

#include <QCoreApplication>
#include <QString>

#include "bases/source.h"

namespace codiflux {

namespace texts {
inline constexpr char kTextOutOfMemory[]
    = QT_TRANSLATE_NOOP("BaseEncoder", "Mémoire insuffisante : l'opération en cours est abandonnée.");
inline constexpr char kTextCannotWrite[] = QT_TRANSLATE_NOOP("BaseEncoder", "La base encodée ne peut être écrite");
inline constexpr char kTextEncodingError[]
    = QT_TRANSLATE_NOOP("BaseEncoder", "Erreur en cours d'encodage à l'enregistrement %1 valeur à encoder:\n%2");
inline constexpr char kTextGs1Invalid[]
    = QT_TRANSLATE_NOOP("BaseEncoder", "Enregistrement %1 : valeur GS1 refusée, %2.\nValeur : « %3 »");
inline constexpr char kTextGs1SampleInvalid[]
    = QT_TRANSLATE_NOOP("BaseEncoder", "Valeur GS1 de l'enregistrement d'exemple refusée : %1.");
inline constexpr char kTextHriWithoutGs1[] = QT_TRANSLATE_NOOP(
    "BaseEncoder", "Le champ du texte lisible (HRI) ne s'écrit qu'en mode GS1 : cochez le mode GS1 ou videz ce champ.");
inline constexpr char kTextDbfWriteError[]
    = QT_TRANSLATE_NOOP("BaseEncoder", "Erreur d'écriture de la base encodée (DBF).");
inline constexpr char kTextTxtWriteError[]
    = QT_TRANSLATE_NOOP("BaseEncoder", "Erreur d'écriture de la base encodée (TXT).");
inline constexpr char kTextMemoWriteError[]
    = QT_TRANSLATE_NOOP("BaseEncoder", "Erreur d'écriture du fichier mémo de la base encodée.");
// Beyond the window's own texts: the checks that keep a run from writing a
// corrupt or cut base.
inline constexpr char kTextSameFile[]
    = QT_TRANSLATE_NOOP("BaseEncoder", "Le fichier de destination doit être différent du fichier source.");
inline constexpr char kTextSameOutputs[]
    = QT_TRANSLATE_NOOP("BaseEncoder",
                        "La base encodée et sa forme texte auraient le même chemin : %1. Choisissez un "
                        "autre nom pour la base encodée.");
inline constexpr char kTextMemoSameAsBase[]
    = QT_TRANSLATE_NOOP("BaseEncoder",
                        "La base encodée et son fichier mémo auraient le même chemin : %1. Choisissez un "
                        "autre nom pour la base encodée.");
inline constexpr char kTextSymbolTooLarge[]
    = QT_TRANSLATE_NOOP("BaseEncoder",
                        "Le code de l'enregistrement n°%1 (%2 x %3) dépasse les dimensions fixées par "
                        "l'enregistrement d'exemple (%4 x %5). Choisissez une taille de datamatrix ou une "
                        "version de QR code fixe.");
inline constexpr char kTextRecordTooLong[]
    = QT_TRANSLATE_NOOP("BaseEncoder",
                        "L'enregistrement de la base encodée ferait %1 octets : le format DBF en admet au "
                        "plus 65535. Choisissez un code plus petit ou une base aux enregistrements plus "
                        "courts.");
inline constexpr char kTextHeaderTooLong[]
    = QT_TRANSLATE_NOOP("BaseEncoder",
                        "L'en-tête de la base encodée ferait %1 octets (%2 champs) : le format DBF en "
                        "admet au plus 65535.");
inline constexpr char kTextFieldMismatch[]
    = QT_TRANSLATE_NOOP("BaseEncoder",
                        "La description des champs de la base d'origine ne correspond pas à la table "
                        "ouverte (%1 champs lus, %2 attendus).");
inline constexpr char kTextRangeOutside[]
    = QT_TRANSLATE_NOOP("BaseEncoder",
                        "La plage sélectionnée (positions %1 à %2) dépasse la longueur des "
                        "enregistrements du fichier source (%3 caractères).");
inline constexpr char kTextLongCodeField[]
    = QT_TRANSLATE_NOOP("BaseEncoder",
                        "Attention : le champ du code fait %1 caractères. La plupart des lecteurs dBase "
                        "(LibreOffice notamment) ne lisent la longueur d'un champ que sur un octet et "
                        "coupent un champ de plus de %2 caractères. Choisissez un code plus petit "
                        "(taille de datamatrix, version de QR code, taille de module, sans caractère de "
                        "fin de ligne) ou utilisez la sortie texte (TXT).");
inline constexpr char kTextBadFieldName[]
    = QT_TRANSLATE_NOOP("BaseEncoder", "Le nom du champ encodé est vide ou commence par un espace.");
inline constexpr char kTextSameMemo[]
    = QT_TRANSLATE_NOOP("BaseEncoder",
                        "Le fichier de destination doit être différent du fichier mémo de la base "
                        "d'origine (%1).");
inline constexpr char kTextNotRegular[]
    = QT_TRANSLATE_NOOP("BaseEncoder", "« %1 » n'est pas un fichier ordinaire : il ne sera pas remplacé.");
inline constexpr char kTextReadOnly[]
    = QT_TRANSLATE_NOOP("BaseEncoder", "« %1 » est en lecture seule : il ne sera pas remplacé.");
inline constexpr char kTextLocked[]
    = QT_TRANSLATE_NOOP("BaseEncoder",
                        "« %1 » est déjà en cours d'écriture par une autre génération. Réessayez "
                        "lorsqu'elle sera terminée.");
inline constexpr char kTextDuplicateField[]
    = QT_TRANSLATE_NOOP("BaseEncoder",
                        "La base d'origine a déjà un champ nommé « %1 » : choisissez un autre nom pour "
                        "le champ encodé.");
inline constexpr char kTextNoSource[] = QT_TRANSLATE_NOOP("BaseEncoder", "Aucune base d'origine n'est chargée.");
inline constexpr char kTextNoField[] = QT_TRANSLATE_NOOP("BaseEncoder", "Aucun champ à encoder n'est sélectionné.");
inline constexpr char kTextNoDestination[]
    = QT_TRANSLATE_NOOP("BaseEncoder", "Aucun fichier de destination n'est indiqué.");
}  // namespace texts

// Translation of the generation's texts (context "BaseEncoder").
QString generationText(const char* text);
// The record loop's texts beyond the source's own (bases/source.h).
QString outOfMemoryText();  // an allocation failed: what was under way is given up
// Texts of the set-up of a run, for the other source kinds.
QString blankSampleText();  // the sample is blank
QString sameFileText();     // the destination is the source
QString cannotWriteText();

}  // namespace codiflux
