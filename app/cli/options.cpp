// The command line's options: how each value is read, and the table that
// declares every option once.

#include "app/cli/options.h"

#include "bases/codepage.h"
#include "codes/encoding.h"
#include "codes/fonttext.h"
#include "codes/gs1.h"

#include <QCoreApplication>

#include <limits>
#include <span>

namespace codiflux::cli {

QString tr(const char* text)
{
    return QCoreApplication::translate("codiflux-cli", text);
}

Error usageError(const QString& text)
{
    return Error(ErrorCode::Usage, text);
}

namespace {

Error invalidValue(const char* option, const QString& value, const QString& expected)
{
    return usageError(tr("Valeur invalide pour --%1 : « %2 »%3").arg(QLatin1String(option), value, expected));
}

Error readInt(const char* option, const QString& value, int minimum, int maximum, int* out)
{
    bool ok = false;
    const int v = value.trimmed().toInt(&ok);
    if (!ok || v < minimum || v > maximum)
        return invalidValue(option, value, tr(" (un entier de %1 à %2 est attendu).").arg(minimum).arg(maximum));
    *out = v;
    return {};
}

// Letters and digits only, lower case: "Automatique (carré)" and
// "automatique-carre" compare equal.
QString simplified(const QString& text)
{
    QString s = text.normalized(QString::NormalizationForm_D).toLower();
    QString out;
    for (QChar c : std::as_const(s))
        if (c.isLetterOrNumber() && c.unicode() < 0x80)
            out.append(c);
    return out;
}

struct Alias {
    const char* text;
    int value;
};

Error readChoice(const char* option, const QString& value, std::span<const Choice> choices,
                 std::initializer_list<Alias> aliases, int* out)
{
    const QString wanted = simplified(value);
    QStringList accepted;
    for (const Choice& c : choices) {
        if (!wanted.isEmpty() && simplified(QString::fromUtf8(c.text)) == wanted) {
            *out = c.value;
            return {};
        }
        accepted << QStringLiteral("« %1 »").arg(QString::fromUtf8(c.text));
    }
    for (const Alias& a : aliases) {
        if (!wanted.isEmpty() && simplified(QString::fromUtf8(a.text)) == wanted) {
            *out = a.value;
            return {};
        }
        accepted << QStringLiteral("« %1 »").arg(QString::fromUtf8(a.text));
    }
    return invalidValue(option, value, tr(". Valeurs admises : %1.").arg(accepted.join(QStringLiteral(", "))));
}

// A value among named ones: "--symbology qr", "--blank spaces".
Error readNamed(const char* option, const QString& value, std::initializer_list<Alias> names, const QString& accepted,
                int* out)
{
    const QString wanted = simplified(value);
    for (const Alias& a : names)
        if (wanted == QLatin1String(a.text)) {
            *out = a.value;
            return {};
        }
    return invalidValue(option, value, tr(". Valeurs admises : %1.").arg(accepted));
}

Error readRange(Options& o, const QString& v)
{
    const qsizetype colon = v.indexOf(QLatin1Char(':'));
    bool ok1 = false, ok2 = false;
    const int start = colon > 0 ? v.left(colon).trimmed().toInt(&ok1) : 0;
    const int count = colon > 0 ? v.mid(colon + 1).trimmed().toInt(&ok2) : 0;
    if (!ok1 || !ok2 || start < 1 || count < 1)
        return invalidValue("range", v,
                            tr(" (DEBUT:NOMBRE attendu, par exemple 1:10 ; les deux entiers sont au moins 1)."));
    o.hasRange = true;
    o.rangeStart = start;
    o.rangeCount = count;
    return {};
}

Error readSample(Options& o, const QString& v)
{
    bool ok = false;
    const qint64 n = v.trimmed().toLongLong(&ok);
    if (!ok || n < 1)
        return invalidValue("sample", v, tr(" (numéro d'enregistrement à partir de 1)."));
    o.sampleRecord = n;
    return {};
}

Error readEndOfLineCharacter(Options& o, const QString& v)
{
    // "lf" or "\n" (or a line feed itself) ends each band with a line feed.
    const bool lineFeed
        = v.compare(QLatin1String("lf"), Qt::CaseInsensitive) == 0 || v == lineFeedTyped() || v == lineFeedEndOfLine();
    if (!lineFeed && !v.isEmpty() && v.at(0).unicode() > 0xFF)
        return invalidValue("eol-char", v, tr(" (un caractère Latin-1 est attendu)."));
    o.parameters.setEndOfLineText(lineFeed ? lineFeedEndOfLine() : v);
    return {};
}

Error readNewFieldName(Options& o, const QString& v)
{
    if (v.isEmpty() || v.at(0).isSpace())
        return usageError(tr("Le nom du champ encodé est vide ou commence par un espace."));
    o.newFieldName = v;
    return {};
}

// A switch of the parameter set, of its font text, of the options; a text taken as it is.
template<bool ParameterSet::*Member, bool Value>
Error setParameter(Options& o, const QString&)
{
    o.parameters.*Member = Value;
    return {};
}

template<bool FontTextOptions::*Member, bool Value>
Error setFontText(Options& o, const QString&)
{
    o.parameters.fontText.*Member = Value;
    return {};
}

template<bool On>
Error setGs1(Options& o, const QString&)
{
    o.parameters.encoding.fnc1 = On ? gs1::kFnc1Byte : -1;
    return {};
}

template<QString ParameterSet::*Member>
Error setParameterText(Options& o, const QString& value)
{
    o.parameters.*Member = value;
    return {};
}

Error readCodePage(Options& o, const QString& v)
{
    CodePage page = CodePage::Cp850;
    if (v.trimmed().compare(QLatin1String("auto"), Qt::CaseInsensitive) == 0)
        o.codePage.reset();
    else if (parseCodePageName(v, &page))
        o.codePage = page;
    else
        return invalidValue("codepage", v,
                            tr(". Valeurs admises : « auto », « cp437 », « cp850 », « cp852 », « cp1250 », "
                               "« cp1251 », « cp1252 », « latin-1 », « utf-8 » (et windows-1252, ibm850, "
                               "iso-8859-1 ...)."));
    return {};
}

template<bool Options::*Member, bool Value>
Error setSwitch(Options& o, const QString&)
{
    o.*Member = Value;
    return {};
}

template<QString Options::*Member>
Error setText(Options& o, const QString& value)
{
    o.*Member = value;
    return {};
}

// One entry per option, in the order of the help within each section.
const OptionEntry kOptions[] = {
    {"help", 'h', nullptr, Scope::Any, nullptr, HelpSection::Usage, nullptr},
    {"version", 0, nullptr, Scope::Any, nullptr, HelpSection::Usage, nullptr},
    {"install", 0, nullptr, Scope::Font, nullptr, HelpSection::Usage, nullptr},
    {"uninstall", 0, nullptr, Scope::Font, nullptr, HelpSection::Usage, nullptr},
    {"field", 'f', "NOM", Scope::Both, setText<&Options::field>, HelpSection::Field,
     QT_TRANSLATE_NOOP("codiflux-cli", "champ d'une base DBF, colonne d'une base CSV (son nom dans l'en-tête)")},
    {"column", 'c', "N", Scope::Both,
     [](Options& o, const QString& v) { return readInt("column", v, 1, std::numeric_limits<int>::max(), &o.column); },
     HelpSection::Field, QT_TRANSLATE_NOOP("codiflux-cli", "colonne d'une base CSV (première colonne à 1)")},
    {"delimiter", 0, "D", Scope::Both,
     [](Options& o, const QString& v) {
         return parseCsvDelimiter(v, &o.csv.delimiter)
             ? Error()
             : invalidValue("delimiter", v, tr(". Valeurs admises : « ; », « , », « tab »."));
     },
     HelpSection::Field,
     QT_TRANSLATE_NOOP("codiflux-cli",
                       "séparateur d'une base CSV : « ; », « , » ou « tab » (par défaut : reconnu sur les "
                       "premières lignes)")},
    {"encoding", 0, "E", Scope::Both,
     [](Options& o, const QString& v) {
         return parseCsvEncoding(v, &o.csv.encoding)
             ? Error()
             : invalidValue("encoding", v, tr(". Valeurs admises : « utf-8 », « windows-1252 »."));
     },
     HelpSection::Field,
     QT_TRANSLATE_NOOP("codiflux-cli",
                       "encodage d'une base CSV : utf-8 ou windows-1252 (par défaut : UTF-8 si le fichier en est, "
                       "sinon Windows-1252)")},
    {"range", 'r', "DEBUT:NOMBRE", Scope::Both, readRange, HelpSection::Field,
     QT_TRANSLATE_NOOP("codiflux-cli", "colonnes d'une base texte (première colonne à 1 ; en UTF-8, des caractères)")},
    {"value", 0, "MODELE", Scope::Both, setParameterText<&ParameterSet::valueTemplate>, HelpSection::Field,
     QT_TRANSLATE_NOOP("codiflux-cli",
                       "valeur composée de plusieurs champs : {NOM}, {NOM:yyMMdd} (date), {NOM:08} (zéros à "
                       "gauche), {1:10} (base texte), {{ et }} pour une accolade ; remplace --field")},
    {"codepage", 0, "NOM", Scope::Both, readCodePage, HelpSection::Field,
     QT_TRANSLATE_NOOP("codiflux-cli",
                       "page de codes d'une base DBF ou texte : auto, cp437, cp850, cp852, cp1250, cp1251, cp1252, "
                       "latin-1, utf-8 ... (par défaut : auto, celle du fichier .cpg ou de l'octet 29 de la table, "
                       "sinon cp850 ; UTF-8 reconnu dans une base texte, sinon latin-1)")},
    {"sample", 's', "N", Scope::Both, readSample, HelpSection::Field,
     QT_TRANSLATE_NOOP("codiflux-cli",
                       "enregistrement d'exemple qui fixe les dimensions du code (par défaut : le premier dont la "
                       "valeur n'est pas vide, cherché parmi les 1000 premiers, comme la fenêtre)")},
    {"preset", 'p', "NOM", Scope::Both, nullptr, HelpSection::Parameters,
     QT_TRANSLATE_NOOP("codiflux-cli", "jeu de paramètres enregistré par la fenêtre (default : le jeu par défaut)")},
    {"symbology", 0, "TYPE", Scope::Both,
     [](Options& o, const QString& v) {
         int symbology = 0;
         const Error e = readNamed("symbology", v,
                                   {{"datamatrix", int(Symbology::Datamatrix)},
                                    {"dm", int(Symbology::Datamatrix)},
                                    {"qr", int(Symbology::QRCode)},
                                    {"qrcode", int(Symbology::QRCode)}},
                                   tr("« datamatrix », « qr »"), &symbology);
         if (!e)
             o.parameters.encoding.symbology = Symbology(symbology);
         return e;
     },
     HelpSection::Parameters, QT_TRANSLATE_NOOP("codiflux-cli", "datamatrix ou qr")},
    {"module", 0, "N", Scope::Both,
     [](Options& o, const QString& v) { return readInt("module", v, 1, 99, &o.parameters.encoding.moduleSize); },
     HelpSection::Parameters, QT_TRANSLATE_NOOP("codiflux-cli", "taille du module, 1 à 99 (Datamatrix)")},
    {"margin", 0, "N", Scope::Both,
     [](Options& o, const QString& v) { return readInt("margin", v, 0, 99, &o.parameters.encoding.marginSize); },
     HelpSection::Parameters, QT_TRANSLATE_NOOP("codiflux-cli", "taille de marge, 0 à 99 (Datamatrix)")},
    {"dm-size", 0, "TAILLE", Scope::Both,
     [](Options& o, const QString& v) {
         return readChoice("dm-size", v, datamatrixSizeChoices(),
                           {{"auto-square", -2}, {"auto", -2}, {"auto-carre", -2}, {"auto-rect", -3}},
                           &o.parameters.encoding.sizeRequest);
     },
     HelpSection::Parameters,
     QT_TRANSLATE_NOOP("codiflux-cli",
                       "taille du datamatrix : 10x10 ... 144x144, 8x18 ... 16x48, auto-square ou auto-rect")},
    {"dm-scheme", 0, "MODE", Scope::Both,
     [](Options& o, const QString& v) {
         return readChoice("dm-scheme", v, datamatrixSchemeChoices(), {{"auto", -1}}, &o.parameters.encoding.scheme);
     },
     HelpSection::Parameters, QT_TRANSLATE_NOOP("codiflux-cli", "Ascii, C40, Text, X12, Edifact, Base256 ou AutoBest")},
    {"qr-version", 0, "N", Scope::Both,
     [](Options& o, const QString& v) { return readInt("qr-version", v, 0, 99, &o.parameters.encoding.qrVersion); },
     HelpSection::Parameters, QT_TRANSLATE_NOOP("codiflux-cli", "version du QR code, 0 = choisie par la bibliothèque")},
    {"qr-level", 0, "NIVEAU", Scope::Both,
     [](Options& o, const QString& v) {
         return readChoice("qr-level", v, qrLevelChoices(), {{"L", 0}, {"M", 1}, {"Q", 2}, {"H", 3}},
                           &o.parameters.encoding.qrLevel);
     },
     HelpSection::Parameters, QT_TRANSLATE_NOOP("codiflux-cli", "correction d'erreur : Low, Medium, Quality ou High")},
    {"qr-mode", 0, "MODE", Scope::Both,
     [](Options& o, const QString& v) {
         return readChoice("qr-mode", v, qrModeChoices(), {{"alphanumeric", 1}, {"8bit", 2}, {"byte", 2}, {"kanji", 3}},
                           &o.parameters.encoding.qrMode);
     },
     HelpSection::Parameters, QT_TRANSLATE_NOOP("codiflux-cli", "Numeric, Alphabet-numeric, 8-bit data ou Kanji")},
    {"qr-case", 0, "CASSE", Scope::Both,
     [](Options& o, const QString& v) {
         return readChoice("qr-case", v, qrCaseChoices(), {}, &o.parameters.encoding.qrCaseSensitive);
     },
     HelpSection::Parameters, QT_TRANSLATE_NOOP("codiflux-cli", "Sensible ou Insensible (conservée seulement)")},
    {"qr-eci", 0, "utf-8|none", Scope::Both,
     [](Options& o, const QString& v) {
         int eci = 0;
         const Error e = readNamed("qr-eci", v, {{"utf-8", 1}, {"utf8", 1}, {"none", 0}, {"aucun", 0}},
                                   tr("« utf-8 », « none »"), &eci);
         if (!e)
             o.parameters.encoding.qrEci = eci != 0;
         return e;
     },
     HelpSection::Parameters,
     QT_TRANSLATE_NOOP("codiflux-cli",
                       "le QR code porte la valeur en UTF-8 derrière l'ECI 26 : tout caractère passe (par défaut : "
                       "none, Windows-1252 ; un caractère qu'il n'a pas arrête la fabrication). Le Datamatrix "
                       "(libdmtx 0.7.7) n'a pas d'ECI : il porte toujours du Windows-1252")},
    {"gs1", 0, nullptr, Scope::Both, setGs1<true>, HelpSection::Parameters,
     QT_TRANSLATE_NOOP("codiflux-cli",
                       "Datamatrix GS1 : la valeur est une chaîne d'éléments GS1, "
                       "(01)03453120000011(17)250101(10)LOT42 ou brute (GS)")},
    {"no-gs1", 0, nullptr, Scope::Both, setGs1<false>, HelpSection::Parameters, nullptr},
    {"eol", 0, nullptr, Scope::Both, setFontText<&FontTextOptions::endOfLine, true>, HelpSection::Parameters,
     QT_TRANSLATE_NOOP("codiflux-cli", "caractère de fin de ligne après chaque rangée")},
    {"no-eol", 0, nullptr, Scope::Both, setFontText<&FontTextOptions::endOfLine, false>, HelpSection::Parameters,
     nullptr},
    {"eol-char", 0, "C", Scope::Both, readEndOfLineCharacter, HelpSection::Parameters,
     QT_TRANSLATE_NOOP("codiflux-cli",
                       "ce caractère (une espace quand il est vide) ; « lf » ou « \\n » : un saut de ligne")},
    {"invert-h", 0, nullptr, Scope::Both, setFontText<&FontTextOptions::horizontalInversion, true>,
     HelpSection::Parameters, QT_TRANSLATE_NOOP("codiflux-cli", "inversion horizontale")},
    {"no-invert-h", 0, nullptr, Scope::Both, setFontText<&FontTextOptions::horizontalInversion, false>,
     HelpSection::Parameters, nullptr},
    {"invert-v", 0, nullptr, Scope::Both, setFontText<&FontTextOptions::verticalInversion, true>,
     HelpSection::Parameters, QT_TRANSLATE_NOOP("codiflux-cli", "inversion verticale")},
    {"no-invert-v", 0, nullptr, Scope::Both, setFontText<&FontTextOptions::verticalInversion, false>,
     HelpSection::Parameters, nullptr},
    {"invert-bits", 0, nullptr, Scope::Both, setFontText<&FontTextOptions::bitInversion, true>, HelpSection::Parameters,
     QT_TRANSLATE_NOOP("codiflux-cli", "inversion des bits")},
    {"no-invert-bits", 0, nullptr, Scope::Both, setFontText<&FontTextOptions::bitInversion, false>,
     HelpSection::Parameters, nullptr},
    {"invert-pixels", 0, nullptr, Scope::Both, setFontText<&FontTextOptions::pixelInversion, true>,
     HelpSection::Parameters, QT_TRANSLATE_NOOP("codiflux-cli", "inversion des pixels")},
    {"no-invert-pixels", 0, nullptr, Scope::Both, setFontText<&FontTextOptions::pixelInversion, false>,
     HelpSection::Parameters, nullptr},
    {"trim-left", 0, nullptr, Scope::Both, setParameter<&ParameterSet::trimStart, true>, HelpSection::Parameters,
     QT_TRANSLATE_NOOP("codiflux-cli", "espaces supprimés à gauche (prévisualisation)")},
    {"no-trim-left", 0, nullptr, Scope::Both, setParameter<&ParameterSet::trimStart, false>, HelpSection::Parameters,
     nullptr},
    {"trim-right", 0, nullptr, Scope::Both, setParameter<&ParameterSet::trimEnd, true>, HelpSection::Parameters,
     QT_TRANSLATE_NOOP("codiflux-cli", "espaces supprimés à droite (prévisualisation)")},
    {"no-trim-right", 0, nullptr, Scope::Both, setParameter<&ParameterSet::trimEnd, false>, HelpSection::Parameters,
     nullptr},
    {"blank", 0, "codes|spaces", Scope::Both,
     [](Options& o, const QString& v) {
         int codes = 0;
         const Error e = readNamed("blank", v, {{"codes", 1}, {"code", 1}, {"spaces", 0}, {"espaces", 0}},
                                   tr("« codes » (un code vide), « spaces » (des espaces)"), &codes);
         if (!e)
             o.parameters.blankCodes = codes != 0;
         return e;
     },
     HelpSection::Parameters,
     QT_TRANSLATE_NOOP("codiflux-cli", "valeurs vides : codes (un code vide) ou spaces (des espaces)")},
    {"output", 'o', "FICHIER", Scope::Generate, setText<&Options::output>, HelpSection::Making,
     QT_TRANSLATE_NOOP("codiflux-cli", "base encodée à écrire (remplacée si elle existe)")},
    {"new-field", 0, "NOM", Scope::Generate, readNewFieldName, HelpSection::Making,
     QT_TRANSLATE_NOOP("codiflux-cli", "nom du champ ou de la colonne encodée (par défaut : _ suivi du nom du champ)")},
    {"hri-field", 0, "NOM", Scope::Generate, setText<&Options::hriFieldName>, HelpSection::Making,
     QT_TRANSLATE_NOOP("codiflux-cli",
                       "GS1 : écrit le texte lisible « (01) ... » dans ce champ, après le champ encodé")},
    {"txt", 0, nullptr, Scope::Generate, setSwitch<&Options::writeText, true>, HelpSection::Making,
     QT_TRANSLATE_NOOP("codiflux-cli", "écrit aussi la forme texte d'une base DBF (même nom, .txt)")},
    {"verify", 0, nullptr, Scope::Generate, setSwitch<&Options::verify, true>, HelpSection::Making,
     QT_TRANSLATE_NOOP("codiflux-cli",
                       "relit chaque code comme il sera imprimé et vérifie qu'il redonne la valeur de "
                       "l'enregistrement ; au premier code illisible la fabrication échoue et rien n'est écrit")},
    {"jobs", 'j', "N", Scope::Generate,
     [](Options& o, const QString& v) { return readInt("jobs", v, 1, 256, &o.jobs); }, HelpSection::Making,
     QT_TRANSLATE_NOOP("codiflux-cli", "nombre de fils d'encodage (par défaut : nombre de cœurs)")},
    {"no-progress", 0, nullptr, Scope::Generate, setSwitch<&Options::progress, false>, HelpSection::Making,
     QT_TRANSLATE_NOOP("codiflux-cli", "pas de barre de progression")},
    {"dm-engine", 0, "MOTEUR", Scope::Both,
     [](Options& o, const QString& v) {
         return readNamed("dm-engine", v, {{"codiflux", 0}, {"libdmtx", 1}}, tr("« codiflux », « libdmtx »"),
                          &o.dmEngine);
     },
     HelpSection::Making,
     QT_TRANSLATE_NOOP("codiflux-cli",
                       "encodeur Datamatrix : codiflux (par défaut, le symbole de libdmtx en plus rapide) ou "
                       "libdmtx pour toute la commande")},
    {"draw", 0, nullptr, Scope::Preview, setSwitch<&Options::draw, true>, HelpSection::Preview,
     QT_TRANSLATE_NOOP("codiflux-cli", "dessine le symbole même hors d'un terminal")},
};

}  // namespace

std::span<const OptionEntry> optionTable()
{
    return kOptions;
}

const OptionEntry* findOption(const QString& name)
{
    for (const OptionEntry& known : kOptions)
        if (name == QLatin1String(known.name)
            || (known.shortName != 0 && name.size() == 1 && name.at(0) == QLatin1Char(known.shortName)))
            return &known;
    return nullptr;
}

}  // namespace codiflux::cli
