#include "app/cli/cli.h"

#include "bases/dbf.h"
#include "bases/error.h"
#include "bases/listing.h"
#include "bases/textbase.h"
#include "codes/encoding.h"
#include "codes/fonttext.h"
#include "codiflux_version.h"
#include "settings/userfont.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QThread>

#include <algorithm>
#include <cstring>
#include <limits>
#include <span>
#include <vector>

namespace codiflux::cli {

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("codiflux-cli", text);
}

// ---------------------------------------------------------------------------
// Options

// The commands an option applies to.
enum class Scope { Any, Both, Generate, Preview, Font };

// Reads an option's value (empty for a switch) into the options.
using ApplyOption = Error (*)(Options& options, const QString& value);

struct OptionEntry {
    const char* name;       // long name, without "--"
    char shortName;         // 0 when none
    const char* valueName;  // nullptr for a switch
    Scope scope;
    ApplyOption apply;  // nullptr for the options read before the others
};

Error usageError(const QString& text)
{
    return Error(ErrorCode::Usage, text);
}

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
    o.parameters.finLigneCaractere = lineFeed ? lineFeedEndOfLine() : v;
    return {};
}

Error readNewFieldName(Options& o, const QString& v)
{
    if (v.isEmpty() || v.at(0).isSpace())
        return usageError(tr("Le nom du champ encodé est vide ou commence par un espace."));
    o.newFieldName = v;
    return {};
}

// A switch of the parameter set, of the options; a text taken as it is.
template<bool ParameterSet::*Member, bool Value>
Error setParameter(Options& o, const QString&)
{
    o.parameters.*Member = Value;
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

const OptionEntry kOptions[] = {
    {"help", 'h', nullptr, Scope::Any, nullptr},
    {"version", 0, nullptr, Scope::Any, nullptr},
    {"install", 0, nullptr, Scope::Font, nullptr},
    {"uninstall", 0, nullptr, Scope::Font, nullptr},
    {"preset", 'p', "NOM", Scope::Both, nullptr},
    {"output", 'o', "FICHIER", Scope::Generate, setText<&Options::output>},
    {"field", 'f', "NOM", Scope::Both, setText<&Options::field>},
    {"range", 'r', "DEBUT:NOMBRE", Scope::Both, readRange},
    {"column", 'c', "N", Scope::Both,
     [](Options& o, const QString& v) { return readInt("column", v, 1, std::numeric_limits<int>::max(), &o.column); }},
    {"delimiter", 0, "D", Scope::Both,
     [](Options& o, const QString& v) {
         return parseCsvDelimiter(v, &o.csv.delimiter)
             ? Error()
             : invalidValue("delimiter", v, tr(". Valeurs admises : « ; », « , », « tab »."));
     }},
    {"encoding", 0, "E", Scope::Both,
     [](Options& o, const QString& v) {
         return parseCsvEncoding(v, &o.csv.encoding)
             ? Error()
             : invalidValue("encoding", v, tr(". Valeurs admises : « utf-8 », « windows-1252 »."));
     }},
    {"sample", 's', "N", Scope::Both, readSample},
    {"symbology", 0, "TYPE", Scope::Both,
     [](Options& o, const QString& v) {
         return readNamed("symbology", v,
                          {{"datamatrix", int(Symbology::Datamatrix)},
                           {"dm", int(Symbology::Datamatrix)},
                           {"qr", int(Symbology::QRCode)},
                           {"qrcode", int(Symbology::QRCode)}},
                          tr("« datamatrix », « qr »"), &o.parameters.typeEncodage);
     }},
    {"module", 0, "N", Scope::Both,
     [](Options& o, const QString& v) { return readInt("module", v, 1, 99, &o.parameters.tailleModule); }},
    {"margin", 0, "N", Scope::Both,
     [](Options& o, const QString& v) { return readInt("margin", v, 0, 99, &o.parameters.tailleMarge); }},
    {"dm-size", 0, "TAILLE", Scope::Both,
     [](Options& o, const QString& v) {
         return readChoice("dm-size", v, datamatrixSizeChoices(),
                           {{"auto-square", -2}, {"auto", -2}, {"auto-carre", -2}, {"auto-rect", -3}},
                           &o.parameters.tailleDatamatrix);
     }},
    {"dm-scheme", 0, "MODE", Scope::Both,
     [](Options& o, const QString& v) {
         return readChoice("dm-scheme", v, datamatrixSchemeChoices(), {{"auto", -1}}, &o.parameters.modeEncodage);
     }},
    {"qr-version", 0, "N", Scope::Both,
     [](Options& o, const QString& v) { return readInt("qr-version", v, 0, 99, &o.parameters.qrVersion); }},
    {"qr-level", 0, "NIVEAU", Scope::Both,
     [](Options& o, const QString& v) {
         return readChoice("qr-level", v, qrLevelChoices(), {{"L", 0}, {"M", 1}, {"Q", 2}, {"H", 3}},
                           &o.parameters.qrECLevel);
     }},
    {"qr-mode", 0, "MODE", Scope::Both,
     [](Options& o, const QString& v) {
         return readChoice("qr-mode", v, qrModeChoices(), {{"alphanumeric", 1}, {"8bit", 2}, {"byte", 2}, {"kanji", 3}},
                           &o.parameters.qrModeEncodage);
     }},
    {"qr-case", 0, "CASSE", Scope::Both,
     [](Options& o, const QString& v) { return readChoice("qr-case", v, qrCaseChoices(), {}, &o.parameters.qrCasse); }},
    {"eol", 0, nullptr, Scope::Both, setParameter<&ParameterSet::finLigne, true>},
    {"no-eol", 0, nullptr, Scope::Both, setParameter<&ParameterSet::finLigne, false>},
    {"eol-char", 0, "C", Scope::Both, readEndOfLineCharacter},
    {"invert-h", 0, nullptr, Scope::Both, setParameter<&ParameterSet::inversionHorizontale, true>},
    {"no-invert-h", 0, nullptr, Scope::Both, setParameter<&ParameterSet::inversionHorizontale, false>},
    {"invert-v", 0, nullptr, Scope::Both, setParameter<&ParameterSet::inversionVerticale, true>},
    {"no-invert-v", 0, nullptr, Scope::Both, setParameter<&ParameterSet::inversionVerticale, false>},
    {"invert-bits", 0, nullptr, Scope::Both, setParameter<&ParameterSet::inversionBits, true>},
    {"no-invert-bits", 0, nullptr, Scope::Both, setParameter<&ParameterSet::inversionBits, false>},
    {"invert-pixels", 0, nullptr, Scope::Both, setParameter<&ParameterSet::inversionPixels, true>},
    {"no-invert-pixels", 0, nullptr, Scope::Both, setParameter<&ParameterSet::inversionPixels, false>},
    {"trim-left", 0, nullptr, Scope::Both, setParameter<&ParameterSet::supprimerEspacesGauche, true>},
    {"no-trim-left", 0, nullptr, Scope::Both, setParameter<&ParameterSet::supprimerEspacesGauche, false>},
    {"trim-right", 0, nullptr, Scope::Both, setParameter<&ParameterSet::supprimerEspacesDroite, true>},
    {"no-trim-right", 0, nullptr, Scope::Both, setParameter<&ParameterSet::supprimerEspacesDroite, false>},
    {"blank", 0, "GENRE", Scope::Both,
     [](Options& o, const QString& v) {
         int codes = 0;
         const Error e = readNamed("blank", v, {{"codes", 1}, {"code", 1}, {"spaces", 0}, {"espaces", 0}},
                                   tr("« codes » (un code vide), « spaces » (des espaces)"), &codes);
         if (!e)
             o.parameters.genererCodeVide = codes != 0;
         return e;
     }},
    {"new-field", 0, "NOM", Scope::Generate, readNewFieldName},
    {"txt", 0, nullptr, Scope::Generate, setSwitch<&Options::writeText, true>},
    {"verify", 0, nullptr, Scope::Generate, setSwitch<&Options::verify, true>},
    {"jobs", 'j', "N", Scope::Generate,
     [](Options& o, const QString& v) { return readInt("jobs", v, 1, 256, &o.jobs); }},
    {"no-progress", 0, nullptr, Scope::Generate, setSwitch<&Options::progress, false>},
    {"dm-engine", 0, "MOTEUR", Scope::Both,
     [](Options& o, const QString& v) {
         return readNamed("dm-engine", v, {{"codiflux", 0}, {"libdmtx", 1}}, tr("« codiflux », « libdmtx »"),
                          &o.dmEngine);
     }},
    {"draw", 0, nullptr, Scope::Preview, setSwitch<&Options::draw, true>},
};

// The entry of an option by its long or its short name.
const OptionEntry* findOption(const QString& name)
{
    for (const OptionEntry& known : kOptions)
        if (name == QLatin1String(known.name)
            || (known.shortName != 0 && name.size() == 1 && name.at(0) == QLatin1Char(known.shortName)))
            return &known;
    return nullptr;
}

void declareOptions(QCommandLineParser& parser)
{
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsCompactedShortOptions);
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);
    for (const OptionEntry& known : kOptions) {
        QStringList names;
        if (known.shortName != 0)
            names << QString(QLatin1Char(known.shortName));
        names << QLatin1String(known.name);
        QCommandLineOption option(names);
        if (known.valueName)
            option.setValueName(QLatin1String(known.valueName));
        parser.addOption(option);
    }
}

// The French text of what the parser refused: an unknown option, a value
// missing after the last argument, or a value given to a switch.
QString refusalText(const QCommandLineParser& parser, const QStringList& arguments)
{
    const QStringList unknown = parser.unknownOptionNames();
    if (!unknown.isEmpty()) {
        const QString& name = unknown.first();
        return tr("Option inconnue : %1").arg((name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name);
    }
    for (const QString& a : arguments) {
        if (a == QLatin1String("--"))
            break;
        const qsizetype eq = a.indexOf(QLatin1Char('='));
        const OptionEntry* known = a.startsWith(QLatin1String("--")) && eq > 2 ? findOption(a.mid(2, eq - 2)) : nullptr;
        if (known && !known->valueName)
            return tr("L'option --%1 ne prend pas de valeur.").arg(QLatin1String(known->name));
    }
    // A value is missing after the last argument: "--jobs", "-o", "-fj"...
    const QString last = arguments.last();
    const OptionEntry* known = last.startsWith(QLatin1String("--")) ? findOption(last.mid(2)) : nullptr;
    for (qsizetype i = 1; !known && i < last.size(); ++i) {
        const OptionEntry* letter = findOption(last.mid(i, 1));
        if (letter && letter->valueName)
            known = letter;
    }
    return tr("L'option --%1 attend une valeur.").arg(known ? QLatin1String(known->name) : QLatin1String("?"));
}

struct GivenOption {
    const OptionEntry* known;
    QString value;
};

// The options in the order given, each with its value.
QList<GivenOption> givenOptions(const QCommandLineParser& parser)
{
    QList<GivenOption> given;
    QHash<const OptionEntry*, qsizetype> seen;
    for (const QString& name : parser.optionNames()) {
        const OptionEntry* known = findOption(name);
        if (!known)
            continue;
        const qsizetype n = seen[known]++;
        given.append({known, known->valueName ? parser.values(QLatin1String(known->name)).value(n) : QString()});
    }
    return given;
}

Error checkScope(const OptionEntry& known, Command command)
{
    if (known.scope == Scope::Generate && command != Command::Generate)
        return usageError(tr("L'option --%1 ne s'applique qu'à generate.").arg(QLatin1String(known.name)));
    if (known.scope == Scope::Preview && command != Command::Preview)
        return usageError(tr("L'option --%1 ne s'applique qu'à preview.").arg(QLatin1String(known.name)));
    if (known.scope == Scope::Font && command != Command::Font)
        return usageError(tr("Option inconnue : --%1").arg(QLatin1String(known.name)));
    return {};
}

bool hasChoice(std::span<const Choice> choices, int value)
{
    return std::any_of(choices.begin(), choices.end(), [value](const Choice& c) { return c.value == value; });
}

Error readPreset(QSettings& settings, const QString& name, ParameterSet* set)
{
    closeAllGroups(settings);
    // The keywords are matched exactly: a saved set named "Default" or
    // "par défaut" is a set of its own, not the default one.
    const bool isDefault = name == QLatin1String("default") || name == QStringLiteral("Par Défaut");
    if (!isDefault) {
        QStringList names = parameterSetNames(settings);
        closeAllGroups(settings);
        if (!names.contains(name)) {
            names.sort();
            return usageError(names.isEmpty()
                                  ? tr("Jeu de paramètres inconnu : « %1 » (aucun jeu nommé n'est enregistré ; "
                                       "--preset default prend le jeu par défaut).")
                                        .arg(name)
                                  : tr("Jeu de paramètres inconnu : « %1 ». Jeux enregistrés : %2 (ou default).")
                                        .arg(name, names.join(QStringLiteral(", "))));
        }
    }
    openParameterSet(settings, isDefault ? QString() : name);
    *set = asWindowControls(readParameterSet(settings));
    closeAllGroups(settings);
    return {};
}

// The preset first, then the options in the order given: an option wins over
// the preset whatever side of it it stands on.
Error applyOptions(const QList<GivenOption>& given, QSettings& settings, Options& o)
{
    for (const GivenOption& g : given)
        if (qstrcmp(g.known->name, "preset") == 0)
            o.preset = g.value;
    if (!o.preset.isEmpty())
        if (Error e = readPreset(settings, o.preset, &o.parameters))
            return e;
    o.jobs = std::max(1, QThread::idealThreadCount());
    for (const GivenOption& g : given)
        if (g.known->apply)
            if (Error e = g.known->apply(o, g.value))
                return e;
    return {};
}

}  // namespace

ParameterSet asWindowControls(const ParameterSet& in)
{
    ParameterSet set = in;
    set.tailleModule = std::clamp(set.tailleModule, 1, 99);
    set.tailleMarge = std::clamp(set.tailleMarge, 0, 99);
    set.qrVersion = std::clamp(set.qrVersion, 0, 99);
    if (!hasChoice(datamatrixSizeChoices(), set.tailleDatamatrix))
        set.tailleDatamatrix = 0;
    if (!hasChoice(datamatrixSchemeChoices(), set.modeEncodage))
        set.modeEncodage = 0;
    if (!hasChoice(qrLevelChoices(), set.qrECLevel))
        set.qrECLevel = 0;
    if (!hasChoice(qrCaseChoices(), set.qrCasse))
        set.qrCasse = 0;
    if (!hasChoice(qrModeChoices(), set.qrModeEncodage))
        set.qrModeEncodage = 0;
    if (set.typeEncodage != int(Symbology::QRCode))
        set.typeEncodage = int(Symbology::Datamatrix);
    return set;
}

QString helpText()
{
    return tr("Usage :\n"
              "  codiflux-cli generate SOURCE -o DESTINATION [options]\n"
              "  codiflux-cli preview SOURCE [options]\n"
              "  codiflux-cli font --install | --uninstall\n"
              "  codiflux-cli --help | --version\n"
              "\n"
              "generate fabrique la base encodée : une copie de SOURCE dont chaque enregistrement\n"
              "reçoit le code 2D de sa valeur, écrit avec la police Quadrex. Une base DBF donne une\n"
              "base DBF (et sa forme texte avec --txt), une base texte donne une base texte, une\n"
              "base CSV (.csv) donne une base CSV : ses lignes telles quelles, plus une colonne.\n"
              "preview affiche les dimensions du code de l'enregistrement d'exemple et son texte.\n"
              "font --install copie la police Quadrex dans le dossier des polices de l'utilisateur\n"
              "($XDG_DATA_HOME/fonts, par défaut ~/.local/share/fonts) et met à jour le cache des\n"
              "polices (fc-cache) ; font --uninstall l'en retire.\n"
              "\n"
              "Champ à encoder :\n"
              "  -f, --field NOM          champ d'une base DBF, colonne d'une base CSV (son nom\n"
              "                           dans l'en-tête)\n"
              "  -c, --column N           colonne d'une base CSV (première colonne à 1)\n"
              "  --delimiter D            séparateur d'une base CSV : « ; », « , » ou « tab »\n"
              "                           (par défaut : reconnu sur les premières lignes)\n"
              "  --encoding E             encodage d'une base CSV : utf-8 ou windows-1252\n"
              "                           (par défaut : UTF-8 si le fichier en est, sinon Windows-1252)\n"
              "  -r, --range DEBUT:NOMBRE colonnes d'une base texte (première colonne à 1)\n"
              "  -s, --sample N           enregistrement d'exemple qui fixe les dimensions du code\n"
              "                           (par défaut : le premier dont la valeur n'est pas vide,\n"
              "                           cherché parmi les 1000 premiers, comme la fenêtre)\n"
              "\n"
              "Paramètres (par défaut : ceux d'un jeu vide ; un jeu les remplace, les options\n"
              "données à côté l'emportent sur le jeu) :\n"
              "  -p, --preset NOM         jeu de paramètres enregistré par la fenêtre\n"
              "                           (default : le jeu par défaut)\n"
              "  --symbology TYPE         datamatrix ou qr\n"
              "  --module N               taille du module, 1 à 99 (Datamatrix)\n"
              "  --margin N               taille de marge, 0 à 99 (Datamatrix)\n"
              "  --dm-size TAILLE         taille du datamatrix : 10x10 ... 144x144, 8x18 ... 16x48,\n"
              "                           auto-square ou auto-rect\n"
              "  --dm-scheme MODE         Ascii, C40, Text, X12, Edifact, Base256 ou AutoBest\n"
              "  --qr-version N           version du QR code, 0 = choisie par la bibliothèque\n"
              "  --qr-level NIVEAU        correction d'erreur : Low, Medium, Quality ou High\n"
              "  --qr-mode MODE           Numeric, Alphabet-numeric, 8-bit data ou Kanji\n"
              "  --qr-case CASSE          Sensible ou Insensible (conservée seulement)\n"
              "  --eol, --no-eol          caractère de fin de ligne après chaque rangée\n"
              "  --eol-char C             ce caractère (une espace quand il est vide) ; « lf » ou « \\n » :\n"
              "                           un saut de ligne\n"
              "  --invert-h, --invert-v, --invert-bits, --invert-pixels\n"
              "  --no-invert-h, --no-invert-v, --no-invert-bits, --no-invert-pixels\n"
              "                           inversions horizontale, verticale, des bits, des pixels\n"
              "  --trim-left, --trim-right (et --no-...)\n"
              "                           espaces supprimés à gauche, à droite (prévisualisation)\n"
              "  --blank codes|spaces     valeurs vides : un code vide, ou des espaces\n"
              "\n"
              "Fabrication :\n"
              "  -o, --output FICHIER     base encodée à écrire (remplacée si elle existe)\n"
              "  --new-field NOM          nom du champ ou de la colonne encodée (par défaut : _ suivi\n"
              "                           du nom du champ)\n"
              "  --txt                    écrit aussi la forme texte d'une base DBF (même nom, .txt)\n"
              "  --verify                 relit chaque code comme il sera imprimé et vérifie qu'il\n"
              "                           redonne la valeur de l'enregistrement ; au premier code\n"
              "                           illisible la fabrication échoue et rien n'est écrit\n"
              "  -j, --jobs N             nombre de fils d'encodage (par défaut : nombre de cœurs)\n"
              "  --no-progress            pas de barre de progression\n"
              "  --dm-engine MOTEUR       encodeur Datamatrix : codiflux (par défaut, le symbole de\n"
              "                           libdmtx en plus rapide) ou libdmtx pour toute la commande\n"
              "\n"
              "Prévisualisation :\n"
              "  --draw                   dessine le symbole même hors d'un terminal\n"
              "\n"
              "Codes de sortie : 0 succès, 1 échec de la fabrication, 2 erreur d'utilisation.\n"
              "Une fabrication interrompue (Ctrl+C) ou en échec ne laisse aucun fichier partiel.\n");
}

QString versionText()
{
    return QStringLiteral("codiflux-cli " CODIFLUX_VERSION "\n");
}

namespace {

ParseResult finished(const QString& text, Command command = Command::Help)
{
    ParseResult r;
    r.message = text;
    r.options.command = command;
    return r;
}

ParseResult refused(const QString& text)
{
    ParseResult r;
    r.error = usageError(text);
    return r;
}

// font takes one option, --install or --uninstall, and nothing else.
Error readFontAction(const QCommandLineParser& parser, bool understood, const QStringList& positionals,
                     FontAction* action)
{
    const QStringList names = parser.optionNames();
    if (understood && positionals.size() == 1 && names == QStringList{QStringLiteral("install")})
        *action = FontAction::Install;
    else if (understood && positionals.size() == 1 && names == QStringList{QStringLiteral("uninstall")})
        *action = FontAction::Uninstall;
    else
        return usageError(tr("font attend une seule option : --install ou --uninstall."));
    return {};
}

// The options and the source of generate and preview.
Error readCommandOptions(const QCommandLineParser& parser, const QStringList& positionals, QSettings& settings,
                         Options& o)
{
    const QList<GivenOption> given = givenOptions(parser);
    for (const GivenOption& g : given)
        if (Error e = checkScope(*g.known, o.command))
            return e;
    if (positionals.size() < 2)
        return usageError(tr("Base d'origine manquante."));
    if (positionals.size() > 2)
        return usageError(tr("Argument en trop : « %1 ».").arg(positionals.at(2)));
    o.source = positionals.at(1);
    if (Error e = applyOptions(given, settings, o))
        return e;
    if (o.command == Command::Generate && o.output.isEmpty())
        return usageError(tr("Base encodée manquante : indiquez-la avec -o FICHIER."));
    if (!o.field.isEmpty() && o.hasRange)
        return usageError(tr("--field (base DBF) et --range (base texte) s'excluent."));
    if (!o.field.isEmpty() && o.column > 0)
        return usageError(tr("--field et --column s'excluent : choisissez la colonne par son nom ou par son numéro."));
    return {};
}

}  // namespace

ParseResult parseArguments(const QStringList& arguments, QSettings& settings)
{
    QCommandLineParser parser;
    declareOptions(parser);
    const bool understood = parser.parse(QStringList{QStringLiteral("codiflux-cli")} + arguments);
    const QStringList positionals = parser.positionalArguments();
    const QString command = positionals.value(0);
    // Help wins wherever it stands, then the version.
    if (parser.isSet(QStringLiteral("help")) || command == QLatin1String("help"))
        return finished(helpText());
    if (parser.isSet(QStringLiteral("version")))
        return finished(versionText(), Command::Version);
    if (arguments.isEmpty())
        return refused(tr("Commande manquante : generate, preview ou font."));

    ParseResult r;
    Options& o = r.options;
    if (command == QLatin1String("generate"))
        o.command = Command::Generate;
    else if (command == QLatin1String("preview"))
        o.command = Command::Preview;
    else if (command == QLatin1String("font"))
        o.command = Command::Font;
    else if (!understood)
        return refused(refusalText(parser, arguments));
    else
        return refused(tr("Commande inconnue : « %1 » (generate, preview ou font attendue).")
                           .arg(positionals.isEmpty() ? arguments.first() : command));

    Error error;
    if (o.command == Command::Font)
        error = readFontAction(parser, understood, positionals, &o.fontAction);
    else if (!understood)
        error = usageError(refusalText(parser, arguments));
    else
        error = readCommandOptions(parser, positionals, settings, o);
    if (error)
        return refused(error.text);
    return r;
}

// ---------------------------------------------------------------------------
// Job

namespace {

bool isDbfPath(const QString& path)
{
    return QFileInfo(path).suffix().compare(QLatin1String("DBF"), Qt::CaseInsensitive) == 0;
}

bool isCsvPath(const QString& path)
{
    return QFileInfo(path).suffix().compare(QLatin1String("CSV"), Qt::CaseInsensitive) == 0;
}

bool cancelled(const std::atomic<bool>* cancel)
{
    return cancel && cancel->load(std::memory_order_relaxed);
}

// What every job takes from the options, whatever its base.
void startJob(const Options& o, GenerationJob& job)
{
    job = GenerationJob();
    job.sourcePath = o.source;
    job.outputPath = o.output;
    job.writeText = o.writeText;
    const ParameterSet& set = o.parameters;
    job.parameters = set.encodingParameters();
    job.options = set.fontTextOptions();
    job.options.endOfLineCharacter = endOfLineCharacter(set.finLigneCaractere);
    job.blankCodes = set.genererCodeVide;
    job.trimStart = set.supprimerEspacesGauche;
    job.trimEnd = set.supprimerEspacesDroite;
}

// The sample, as the window lists it (listedValue): the value without its
// leading and trailing blanks, padded with blanks to the field's length.
Error findDbfSample(const Options& o, DbfTable* table, const DbfFieldInfo& field, GenerationJob& job,
                    qint64* sampleRecord, const std::atomic<bool>* cancel)
{
    const auto fieldIndex = unsigned(job.fieldIndex);
    const unsigned count = dbf_record_count(table);
    if (o.sampleRecord > 0) {
        if (o.sampleRecord > qint64(count))
            return usageError(tr("--sample %1 : la base n'a que %2 enregistrements.").arg(o.sampleRecord).arg(count));
        job.sample = listedValue(table, unsigned(o.sampleRecord - 1), fieldIndex);
        if (sampleRecord)
            *sampleRecord = o.sampleRecord;
        return {};
    }
    // The records the window lists, and no more: a header may announce billions.
    const unsigned searched = std::min(count, kListedRecords);
    for (unsigned i = 0; i < searched; ++i) {
        if (cancelled(cancel))
            return Error(ErrorCode::Cancelled, interruptedText(o.command));
        unsigned valueLength = 0;
        QByteArray value = listedValue(table, i, fieldIndex, &valueLength);
        if (valueLength != 0) {
            job.sample = std::move(value);
            if (sampleRecord)
                *sampleRecord = qint64(i) + 1;
            return {};
        }
    }
    if (searched < count)
        return Error(ErrorCode::ValueRefused,
                     tr("Aucun des %1 premiers enregistrements n'a de valeur dans le champ « %2 » : "
                        "choisissez l'enregistrement d'exemple avec --sample N.")
                         .arg(searched)
                         .arg(fieldName(field)));
    return Error(ErrorCode::ValueRefused,
                 tr("Aucun enregistrement n'a de valeur dans le champ « %1 ».").arg(fieldName(field)));
}

Error buildDbfJob(const Options& o, GenerationJob& job, qint64* sampleRecord, const std::atomic<bool>* cancel)
{
    job.typeSource = BaseKind::Dbf;
    if (o.hasRange)
        return usageError(tr("--range s'applique à une base texte ; pour une base DBF, choisissez le champ "
                             "avec --field."));
    DbfTablePtr table(dbf_open(QFile::encodeName(o.source).constData(), nullptr, 0, 0));
    if (!table)
        return Error(ErrorCode::SourceUnreadable,
                     tr("Une erreur est survenue lors du chargement de « %1 ».").arg(o.source) + QLatin1Char(' ')
                         + tableRefusalText(o.source));
    const unsigned fieldCount = dbf_field_count(table.get());
    QList<DbfFieldInfo> fields;
    QStringList names;
    for (unsigned i = 0; i < fieldCount; ++i) {
        DbfFieldInfo field{};
        dbf_field_info(table.get(), i, &field);
        fields.append(field);
        names << fieldName(field);
    }
    if (o.field.isEmpty())
        return usageError(tr("Champ à encoder manquant : indiquez-le avec --field NOM (champs : %1).")
                              .arg(names.join(QStringLiteral(", "))));
    // The name as given, else in other letters.
    int index = int(names.indexOf(o.field));
    if (index < 0)
        index = int(
            names.indexOf(QRegularExpression(QRegularExpression::anchoredPattern(QRegularExpression::escape(o.field)),
                                             QRegularExpression::CaseInsensitiveOption)));
    if (index < 0)
        return usageError(tr("Champ inconnu : « %1 » (champs : %2).").arg(o.field, names.join(QStringLiteral(", "))));
    job.fieldIndex = index;
    const DbfFieldInfo& field = fields.at(index);
    job.newFieldName = o.newFieldName.isEmpty() ? (QLatin1Char('_') + fieldName(field)).left(10) : o.newFieldName;
    return findDbfSample(o, table.get(), field, job, sampleRecord, cancel);
}

QString textColumnsText(const Options& o)
{
    return tr("les colonnes %1 à %2").arg(o.rangeStart).arg(qint64(o.rangeStart) + o.rangeCount - 1);
}

Error buildTextJob(const Options& o, GenerationJob& job, qint64* sampleRecord, const std::atomic<bool>* cancel)
{
    job.typeSource = BaseKind::Text;
    if (!o.field.isEmpty())
        return usageError(tr("--field s'applique à une base DBF ; pour une base texte, choisissez les colonnes "
                             "avec --range DEBUT:NOMBRE."));
    if (!o.hasRange)
        return usageError(tr("Colonnes à encoder manquantes : indiquez-les avec --range DEBUT:NOMBRE."));
    job.rangeStart = o.rangeStart;
    job.rangeCount = o.rangeCount;

    TextLineReader reader;
    if (const Error openError = reader.open(o.source))
        return Error(ErrorCode::SourceUnreadable,
                     tr("Impossible d'ouvrir la base d'origine.") + QLatin1Char(' ') + openError.text);
    QByteArray line;
    qint64 number = 0;
    // The lines the window shows, and no more, unless a line is named.
    const qint64 searched = o.sampleRecord > 0 ? o.sampleRecord : qint64(kListedRecords);
    while (number < searched && reader.next(line)) {
        if (cancelled(cancel))
            return Error(ErrorCode::Cancelled, interruptedText(o.command));
        ++number;
        // The selected columns of the line, as the window's text view gives them.
        const QString value = QString::fromLatin1(line).mid(o.rangeStart - 1, o.rangeCount);
        if (o.sampleRecord > 0 ? number == o.sampleRecord : !isBlankText(value)) {
            job.sample = value.toLatin1();
            if (sampleRecord)
                *sampleRecord = number;
            return {};
        }
    }
    if (reader.lineTooLong())
        return Error(ErrorCode::SourceMalformed, lineTooLongText(reader.lineNumber()));
    if (o.sampleRecord > 0)
        return usageError(tr("--sample %1 : la base n'a que %2 lignes.").arg(o.sampleRecord).arg(number));
    if (number == searched && !reader.atEnd())
        return Error(ErrorCode::ValueRefused,
                     tr("Aucune des %1 premières lignes n'a de valeur dans %2 : "
                        "choisissez la ligne d'exemple avec --sample N.")
                         .arg(searched)
                         .arg(textColumnsText(o)));
    return Error(ErrorCode::ValueRefused, tr("Aucune ligne n'a de valeur dans %1.").arg(textColumnsText(o)));
}

}  // namespace

QString interruptedText(Command command)
{
    return command == Command::Preview ? tr("Aperçu annulé.") : cancelledText();
}

Error buildJob(const Options& o, GenerationJob& job, qint64* sampleRecord, const std::atomic<bool>* cancel)
{
    startJob(o, job);
    const QFileInfo info(o.source);
    if (!info.exists() || info.isDir())
        return usageError(tr("La base d'origine « %1 » n'existe pas.").arg(o.source));
    // A FIFO would block the run and a device never end: only a regular file is read.
    if (!info.isFile())
        return usageError(tr("La base d'origine « %1 » n'est pas un fichier ordinaire.").arg(o.source));

    if (isCsvPath(o.source))
        return buildCsvJob(o, job, sampleRecord, cancel);
    const bool csvOption = o.column > 0 || o.csv.delimiter != 0 || o.csv.encoding != CsvEncoding::Detect;
    if (csvOption)
        return usageError(tr("--column, --delimiter et --encoding s'appliquent à une base CSV (.csv)."));
    if (isDbfPath(o.source))
        return buildDbfJob(o, job, sampleRecord, cancel);
    return buildTextJob(o, job, sampleRecord, cancel);
}

// ---------------------------------------------------------------------------
// Preview

Error previewSample(const GenerationJob& job, const ParameterSet& set, PreviewResult& result)
{
    QString value = QString::fromLatin1(job.sample);
    if (isBlankText(value))
        return Error(ErrorCode::ValueRefused, blankValueText());
    value = trimWhiteSpace(value, set.supprimerEspacesGauche, set.supprimerEspacesDroite);
    const QByteArray bytes = value.toLatin1();
    EncodedSymbol symbol;
    if (Error refused = Encoder(job.parameters).encode(bytes, symbol))
        return refused;
    const ModuleGrid& grid = symbol.grid();
    result.value = bytes;
    result.width = grid.width();
    result.height = grid.height();
    result.bands = bandCount(result.height);
    result.fieldLength = fieldLength(result.width, result.height, job.options.endOfLine);
    result.previewText = toFontText(grid, result.width, result.height, job.options, false).preview;
    result.dark.assign(std::size_t(result.width) * std::size_t(result.height), false);
    for (int r = 0; r < result.height; ++r)
        for (int c = 0; c < result.width; ++c)
            result.dark[std::size_t(r) * std::size_t(result.width) + std::size_t(c)] = grid.dark(c, r);
    return {};
}

QString drawSymbol(const PreviewResult& result, int quietZone)
{
    const int w = result.width + 2 * quietZone;
    const int h = result.height + 2 * quietZone;
    auto dark = [&](int c, int r) {
        c -= quietZone;
        r -= quietZone;
        if (c < 0 || r < 0 || c >= result.width || r >= result.height)
            return false;
        return bool(result.dark[std::size_t(r) * std::size_t(result.width) + std::size_t(c)]);
    };
    QString out;
    for (int r = 0; r < h; r += 2) {
        for (int c = 0; c < w; ++c) {
            const bool top = dark(c, r);
            const bool bottom = r + 1 < h && dark(c, r + 1);
            out.append(top && bottom ? QChar(0x2588) : top ? QChar(0x2580) : bottom ? QChar(0x2584) : QChar(' '));
        }
        out.append(QLatin1Char('\n'));
    }
    return out;
}

// ---------------------------------------------------------------------------
// The command

namespace {

class ProgressBar {
public:
    ProgressBar(QTextStream* err, bool on)
        : err_(err)
        , on_(on)
    { }
    void show(int permille)
    {
        if (!on_ || !err_)
            return;
        constexpr int kWidth = 40;
        const int filled = permille * kWidth / 1000;
        QString percent = QString::number(permille / 10.0, 'f', 1).rightJustified(5);
        percent.replace(QLatin1Char('.'), QLatin1Char(','));
        *err_ << '\r' << '[' << QString(filled, QLatin1Char('#')) << QString(kWidth - filled, QLatin1Char(' ')) << "] "
              << percent << " %";
        err_->flush();
        shown_ = true;
    }
    void finish()
    {
        if (shown_ && err_) {
            *err_ << '\n';
            err_->flush();
        }
        shown_ = false;
    }

private:
    QTextStream* err_;
    bool on_;
    bool shown_ = false;
};

// Prints a refusal; a usage error points to the help.
ExitCode refuse(Console& console, const Error& error)
{
    QTextStream& err = *console.err;
    err << error.text << '\n';
    const bool usage = error.code == ErrorCode::Usage;
    if (usage)
        err << tr("Voir codiflux-cli --help.") << '\n';
    err.flush();
    return usage ? ExitCode::Usage : ExitCode::Failure;
}

ExitCode runFont(const Options& o, Console& console)
{
    const UserFontResult font = o.fontAction == FontAction::Install
        ? installUserFont(codeFontFile(QCoreApplication::applicationDirPath(), QDir::currentPath()))
        : uninstallUserFont();
    QTextStream& stream = font.ok ? *console.out : *console.err;
    stream << font.message << '\n';
    stream.flush();
    return font.ok ? ExitCode::Success : ExitCode::Failure;
}

ExitCode runPreview(const Options& o, const GenerationJob& job, qint64 sampleRecord, Console& console)
{
    QTextStream& out = *console.out;
    if (console.cancel && console.cancel->load())
        return refuse(console, Error(ErrorCode::Cancelled, interruptedText(o.command)));
    PreviewResult preview;
    if (const Error error = previewSample(job, o.parameters, preview))
        return refuse(console, Error(error.code, tr("Enregistrement %1 : ").arg(sampleRecord) + error.text));
    out << tr("Enregistrement d'exemple : %1").arg(sampleRecord) << '\n';
    out << tr("Valeur : « %1 »").arg(QString::fromLatin1(preview.value)) << '\n';
    out << tr("Nombre de colonnes du code (W) : %1").arg(preview.width) << '\n';
    out << tr("Nombre de lignes du code (H) : %1").arg(preview.height) << '\n';
    out << tr("Nombre de rangées du champ encodé : %1").arg(preview.bands) << '\n';
    out << tr("Longueur du champ encodé : %1").arg(preview.fieldLength) << '\n';
    if (job.typeSource == BaseKind::Dbf && preview.fieldLength > kDbfReaderFieldLimit)
        out << longCodeFieldWarning(preview.fieldLength) << '\n';
    out << tr("Texte du code :") << '\n' << preview.previewText << '\n';
    if (console.stdoutIsTerminal || o.draw)
        out << '\n' << drawSymbol(preview);
    out.flush();
    return ExitCode::Success;
}

void printReport(const Options& o, const RunReport& report, qint64 elapsedMs, QTextStream& out)
{
    const double seconds = std::max(elapsedMs, qint64(1)) / 1000.0;
    out << tr("Fabrication de la base encodée correcte.") << '\n';
    out << tr("%1 enregistrements, code de %2 x %3, champ de %4 caractères, %5 s (%6 enregistrements/s)%7.")
               .arg(report.records)
               .arg(report.width)
               .arg(report.height)
               .arg(report.fieldLength)
               .arg(QString::number(seconds, 'f', 2).replace(QLatin1Char('.'), QLatin1Char(',')))
               .arg(qint64(double(report.records) / seconds))
               .arg(o.verify ? tr(", tous les codes relus") : QString())
        << '\n';
    out.flush();
}

ExitCode runGenerate(const Options& o, const GenerationJob& job, Console& console)
{
    QTextStream& err = *console.err;
    ProgressBar bar(&err, o.progress && console.stderrIsTerminal);
    RunControl control;
    control.jobs = o.jobs;
    control.verify = o.verify;
    control.cancel = console.cancel;
    control.abandon = console.abandon;
    control.progress = [&bar](int permille) { bar.show(permille); };
    RunReport report;
    QElapsedTimer clock;
    clock.start();
    const Error error = generate(job, control, &report);
    bar.finish();
    if (error) {
        err << (error.text.isEmpty() ? tr("La fabrication de la base encodée a échoué.") : error.text) << '\n'
            << tr("Aucun fichier n'a été écrit.") << '\n';
        err.flush();
        return ExitCode::Failure;
    }
    printReport(o, report, clock.elapsed(), *console.out);
    // Written all the same (the field's length is exact), with a warning.
    if (job.typeSource == BaseKind::Dbf && report.fieldLength > kDbfReaderFieldLimit) {
        err << longCodeFieldWarning(report.fieldLength) << '\n';
        err.flush();
    }
    return ExitCode::Success;
}

}  // namespace

ExitCode runCommandLine(const QStringList& arguments, QSettings& settings, Console& console)
{
    const ParseResult parsed = parseArguments(arguments, settings);
    if (parsed.error)
        return refuse(console, parsed.error);
    const Options& o = parsed.options;
    if (o.command == Command::Help || o.command == Command::Version) {
        *console.out << parsed.message;
        console.out->flush();
        return ExitCode::Success;
    }
    if (o.command == Command::Font)
        return runFont(o, console);
    if (console.abandon) {
        // Said the same whether the command stops by itself or is stopped.
        QString stop = interruptedText(o.command) + QLatin1Char('\n');
        if (o.command == Command::Generate)
            stop += tr("Aucun fichier n'a été écrit.") + QLatin1Char('\n');
        console.abandon->setStopText(stop);
    }
    setDatamatrixEngine(o.dmEngine == 1 ? DatamatrixEngine::Libdmtx : DatamatrixEngine::Codiflux);
    GenerationJob job;
    qint64 sampleRecord = 0;
    if (const Error error = buildJob(o, job, &sampleRecord, console.cancel))
        return refuse(console, error);
    return o.command == Command::Preview ? runPreview(o, job, sampleRecord, console) : runGenerate(o, job, console);
}

}  // namespace codiflux::cli
