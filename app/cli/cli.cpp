#include "app/cli/cli.h"

#include "bases/dbf.h"
#include "bases/listing.h"
#include "bases/textbase.h"
#include "codes/encoding.h"
#include "codes/fonttext.h"
#include "codiflux_version.h"
#include "settings/userfont.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
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

enum class Scope { Both, Generate, Preview };

struct OptionEntry {
    const char* name;  // long name, without "--"
    char shortName;    // 0 when none
    bool takesValue;
    Scope scope;
};

constexpr OptionEntry kOptions[] = {
    {"help", 'h', false, Scope::Both},
    {"output", 'o', true, Scope::Generate},
    {"field", 'f', true, Scope::Both},
    {"range", 'r', true, Scope::Both},
    {"column", 'c', true, Scope::Both},
    {"delimiter", 0, true, Scope::Both},
    {"encoding", 0, true, Scope::Both},
    {"preset", 'p', true, Scope::Both},
    {"sample", 's', true, Scope::Both},
    {"symbology", 0, true, Scope::Both},
    {"module", 0, true, Scope::Both},
    {"margin", 0, true, Scope::Both},
    {"dm-size", 0, true, Scope::Both},
    {"dm-scheme", 0, true, Scope::Both},
    {"qr-version", 0, true, Scope::Both},
    {"qr-level", 0, true, Scope::Both},
    {"qr-mode", 0, true, Scope::Both},
    {"qr-case", 0, true, Scope::Both},
    {"eol", 0, false, Scope::Both},
    {"no-eol", 0, false, Scope::Both},
    {"eol-char", 0, true, Scope::Both},
    {"invert-h", 0, false, Scope::Both},
    {"no-invert-h", 0, false, Scope::Both},
    {"invert-v", 0, false, Scope::Both},
    {"no-invert-v", 0, false, Scope::Both},
    {"invert-bits", 0, false, Scope::Both},
    {"no-invert-bits", 0, false, Scope::Both},
    {"invert-pixels", 0, false, Scope::Both},
    {"no-invert-pixels", 0, false, Scope::Both},
    {"trim-left", 0, false, Scope::Both},
    {"no-trim-left", 0, false, Scope::Both},
    {"trim-right", 0, false, Scope::Both},
    {"no-trim-right", 0, false, Scope::Both},
    {"blank", 0, true, Scope::Both},
    {"new-field", 0, true, Scope::Generate},
    {"txt", 0, false, Scope::Generate},
    {"verify", 0, false, Scope::Generate},
    {"jobs", 'j', true, Scope::Generate},
    {"no-progress", 0, false, Scope::Generate},
    {"draw", 0, false, Scope::Preview},
};

const OptionEntry* findLong(const QString& name)
{
    for (const OptionEntry& known : kOptions)
        if (name == QLatin1String(known.name))
            return &known;
    return nullptr;
}

const OptionEntry* findShort(QChar c)
{
    for (const OptionEntry& known : kOptions)
        if (known.shortName != 0 && c == QLatin1Char(known.shortName))
            return &known;
    return nullptr;
}

struct GivenOption {
    const OptionEntry* known;
    QString value;
};

struct UsageError {
    QString text;
};

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

int parseInt(const QString& option, const QString& value, int minimum, int maximum)
{
    bool ok = false;
    const int v = value.trimmed().toInt(&ok);
    if (!ok || v < minimum || v > maximum)
        throw UsageError{tr("Valeur invalide pour --%1 : « %2 » (un entier de %3 à %4 est attendu).")
                             .arg(option, value)
                             .arg(minimum)
                             .arg(maximum)};
    return v;
}

struct Alias {
    const char* text;
    int value;
};

int parseChoice(const QString& option, const QString& value, std::span<const Choice> choices,
                std::initializer_list<Alias> aliases)
{
    const QString wanted = simplified(value);
    if (!wanted.isEmpty()) {
        for (const Choice& c : choices)
            if (simplified(QString::fromUtf8(c.text)) == wanted)
                return c.value;
        for (const Alias& a : aliases)
            if (simplified(QString::fromUtf8(a.text)) == wanted)
                return a.value;
    }
    QStringList accepted;
    for (const Choice& c : choices)
        accepted << QStringLiteral("« %1 »").arg(QString::fromUtf8(c.text));
    for (const Alias& a : aliases)
        accepted << QStringLiteral("« %1 »").arg(QString::fromUtf8(a.text));
    throw UsageError{tr("Valeur invalide pour --%1 : « %2 ». Valeurs admises : %3.")
                         .arg(option, value, accepted.join(QStringLiteral(", ")))};
}

bool hasChoice(std::span<const Choice> choices, int value)
{
    return std::any_of(choices.begin(), choices.end(), [value](const Choice& c) { return c.value == value; });
}

void applyOption(Options& o, const GivenOption& given)
{
    const QString name = QLatin1String(given.known->name);
    const QString& v = given.value;
    ParameterSet& p = o.parameters;
    if (name == QLatin1String("output")) {
        o.output = v;
    } else if (name == QLatin1String("field")) {
        o.field = v;
    } else if (name == QLatin1String("range")) {
        const qsizetype colon = v.indexOf(QLatin1Char(':'));
        bool ok1 = false, ok2 = false;
        const int start = colon > 0 ? v.left(colon).trimmed().toInt(&ok1) : 0;
        const int count = colon > 0 ? v.mid(colon + 1).trimmed().toInt(&ok2) : 0;
        if (!ok1 || !ok2 || start < 1 || count < 1)
            throw UsageError{tr("Valeur invalide pour --range : « %1 » (DEBUT:NOMBRE attendu, par exemple 1:10 ; "
                                "les deux entiers sont au moins 1).")
                                 .arg(v)};
        o.hasRange = true;
        o.rangeStart = start;
        o.rangeCount = count;
    } else if (name == QLatin1String("column")) {
        o.column = parseInt(name, v, 1, std::numeric_limits<int>::max());
    } else if (name == QLatin1String("delimiter")) {
        if (!parseCsvDelimiter(v, &o.csv.delimiter))
            throw UsageError{
                tr("Valeur invalide pour --delimiter : « %1 ». Valeurs admises : « ; », « , », « tab ».").arg(v)};
    } else if (name == QLatin1String("encoding")) {
        if (!parseCsvEncoding(v, &o.csv.encoding))
            throw UsageError{
                tr("Valeur invalide pour --encoding : « %1 ». Valeurs admises : « utf-8 », « windows-1252 ».").arg(v)};
    } else if (name == QLatin1String("preset")) {
        // read before the other options
    } else if (name == QLatin1String("sample")) {
        bool ok = false;
        const qint64 n = v.trimmed().toLongLong(&ok);
        if (!ok || n < 1)
            throw UsageError{
                tr("Valeur invalide pour --sample : « %1 » (numéro d'enregistrement à partir de 1).").arg(v)};
        o.sampleRecord = n;
    } else if (name == QLatin1String("symbology")) {
        const QString s = simplified(v);
        if (s == QLatin1String("datamatrix") || s == QLatin1String("dm"))
            p.typeEncodage = SymbologyDatamatrix;
        else if (s == QLatin1String("qr") || s == QLatin1String("qrcode"))
            p.typeEncodage = SymbologyQRCode;
        else
            throw UsageError{
                tr("Valeur invalide pour --symbology : « %1 ». Valeurs admises : « datamatrix », « qr ».").arg(v)};
    } else if (name == QLatin1String("module")) {
        p.tailleModule = parseInt(name, v, 1, 99);
    } else if (name == QLatin1String("margin")) {
        p.tailleMarge = parseInt(name, v, 0, 99);
    } else if (name == QLatin1String("dm-size")) {
        p.tailleDatamatrix = parseChoice(name, v, datamatrixSizeChoices(),
                                         {{"auto-square", -2}, {"auto", -2}, {"auto-carre", -2}, {"auto-rect", -3}});
    } else if (name == QLatin1String("dm-scheme")) {
        p.modeEncodage = parseChoice(name, v, datamatrixSchemeChoices(), {{"auto", -1}});
    } else if (name == QLatin1String("qr-version")) {
        p.qrVersion = parseInt(name, v, 0, 99);
    } else if (name == QLatin1String("qr-level")) {
        p.qrECLevel = parseChoice(name, v, qrLevelChoices(), {{"L", 0}, {"M", 1}, {"Q", 2}, {"H", 3}});
    } else if (name == QLatin1String("qr-mode")) {
        p.qrModeEncodage
            = parseChoice(name, v, qrModeChoices(), {{"alphanumeric", 1}, {"8bit", 2}, {"byte", 2}, {"kanji", 3}});
    } else if (name == QLatin1String("qr-case")) {
        p.qrCasse = parseChoice(name, v, qrCaseChoices(), {});
    } else if (name == QLatin1String("eol")) {
        p.finLigne = true;
    } else if (name == QLatin1String("no-eol")) {
        p.finLigne = false;
    } else if (name == QLatin1String("eol-char")) {
        // "lf" or "\n" (or a line feed itself) ends each band with a line feed.
        const bool lineFeed = v.compare(QLatin1String("lf"), Qt::CaseInsensitive) == 0 || v == lineFeedTyped()
            || v == lineFeedEndOfLine();
        p.finLigneCaractere = lineFeed ? lineFeedEndOfLine() : v;
        if (!lineFeed && !v.isEmpty() && v.at(0).unicode() > 0xFF)
            throw UsageError{tr("Valeur invalide pour --eol-char : « %1 » (un caractère Latin-1 est attendu).").arg(v)};
    } else if (name == QLatin1String("invert-h")) {
        p.inversionHorizontale = true;
    } else if (name == QLatin1String("no-invert-h")) {
        p.inversionHorizontale = false;
    } else if (name == QLatin1String("invert-v")) {
        p.inversionVerticale = true;
    } else if (name == QLatin1String("no-invert-v")) {
        p.inversionVerticale = false;
    } else if (name == QLatin1String("invert-bits")) {
        p.inversionBits = true;
    } else if (name == QLatin1String("no-invert-bits")) {
        p.inversionBits = false;
    } else if (name == QLatin1String("invert-pixels")) {
        p.inversionPixels = true;
    } else if (name == QLatin1String("no-invert-pixels")) {
        p.inversionPixels = false;
    } else if (name == QLatin1String("trim-left")) {
        p.supprimerEspacesGauche = true;
    } else if (name == QLatin1String("no-trim-left")) {
        p.supprimerEspacesGauche = false;
    } else if (name == QLatin1String("trim-right")) {
        p.supprimerEspacesDroite = true;
    } else if (name == QLatin1String("no-trim-right")) {
        p.supprimerEspacesDroite = false;
    } else if (name == QLatin1String("blank")) {
        const QString s = simplified(v);
        if (s == QLatin1String("codes") || s == QLatin1String("code"))
            p.genererCodeVide = true;
        else if (s == QLatin1String("spaces") || s == QLatin1String("espaces"))
            p.genererCodeVide = false;
        else
            throw UsageError{tr("Valeur invalide pour --blank : « %1 ». Valeurs admises : « codes » (un code vide), "
                                "« spaces » (des espaces).")
                                 .arg(v)};
    } else if (name == QLatin1String("new-field")) {
        if (v.isEmpty() || v.at(0).isSpace())
            throw UsageError{tr("Le nom du champ encodé est vide ou commence par un espace.")};
        o.newFieldName = v;
    } else if (name == QLatin1String("txt")) {
        o.writeText = true;
    } else if (name == QLatin1String("verify")) {
        o.verify = true;
    } else if (name == QLatin1String("jobs")) {
        o.jobs = parseInt(name, v, 1, 256);
    } else if (name == QLatin1String("no-progress")) {
        o.progress = false;
    } else if (name == QLatin1String("draw")) {
        o.draw = true;
    }
}

ParameterSet readPreset(QSettings& settings, const QString& name)
{
    closeAllGroups(settings);
    // The keywords are matched exactly: a saved set named "Default" or
    // "par défaut" is a set of its own, not the default one.
    const bool isDefault = name == QLatin1String("default") || name == QStringLiteral("Par Défaut");
    if (!isDefault) {
        const QStringList names = parameterSetNames(settings);
        closeAllGroups(settings);
        if (!names.contains(name)) {
            QStringList sorted = names;
            sorted.sort();
            throw UsageError{sorted.isEmpty()
                                 ? tr("Jeu de paramètres inconnu : « %1 » (aucun jeu nommé n'est enregistré ; "
                                      "--preset default prend le jeu par défaut).")
                                       .arg(name)
                                 : tr("Jeu de paramètres inconnu : « %1 ». Jeux enregistrés : %2 (ou default).")
                                       .arg(name, sorted.join(QStringLiteral(", ")))};
        }
    }
    openParameterSet(settings, isDefault ? QString() : name);
    const ParameterSet set = readParameterSet(settings);
    closeAllGroups(settings);
    return asWindowControls(set);
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
    if (set.typeEncodage != SymbologyQRCode)
        set.typeEncodage = SymbologyDatamatrix;
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

ParseResult parseArguments(const QStringList& arguments, QSettings& settings)
{
    ParseResult r;
    auto usage = [&r](const QString& text) {
        r.exitCode = ExitUsage;
        r.message = text + QLatin1Char('\n') + tr("Voir codiflux-cli --help.");
        return r;
    };
    if (arguments.isEmpty())
        return usage(tr("Commande manquante : generate, preview ou font."));

    // Help wins wherever it stands.
    for (const QString& a : arguments) {
        if (a == QLatin1String("--"))
            break;
        if (a == QLatin1String("-h") || a == QLatin1String("--help") || a == QLatin1String("help")) {
            r.exitCode = ExitSuccess;
            r.message = helpText();
            return r;
        }
    }
    for (const QString& a : arguments) {
        if (a == QLatin1String("--"))
            break;
        if (a == QLatin1String("--version")) {
            r.exitCode = ExitSuccess;
            r.options.command = Command::Version;
            r.message = versionText();
            return r;
        }
    }

    Options& o = r.options;
    const QString command = arguments.first();
    if (command == QLatin1String("generate"))
        o.command = Command::Generate;
    else if (command == QLatin1String("preview"))
        o.command = Command::Preview;
    else if (command == QLatin1String("font"))
        o.command = Command::Font;
    else
        return usage(tr("Commande inconnue : « %1 » (generate, preview ou font attendue).").arg(command));

    if (o.command == Command::Font) {
        const QStringList rest = arguments.mid(1);
        if (rest == QStringList{QStringLiteral("--install")})
            o.fontAction = FontAction::Install_;
        else if (rest == QStringList{QStringLiteral("--uninstall")})
            o.fontAction = FontAction::Uninstall_;
        else
            return usage(tr("font attend une seule option : --install ou --uninstall."));
        return r;
    }

    QList<GivenOption> given;
    QStringList positionals;
    bool optionsEnded = false;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& a = arguments.at(i);
        if (optionsEnded || a == QLatin1String("-") || !a.startsWith(QLatin1Char('-'))) {
            positionals << a;
            continue;
        }
        if (a == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        const OptionEntry* known = nullptr;
        QString value;
        bool inlineValue = false;
        if (a.startsWith(QLatin1String("--"))) {
            QString name = a.mid(2);
            const qsizetype eq = name.indexOf(QLatin1Char('='));
            if (eq >= 0) {
                value = name.mid(eq + 1);
                name.truncate(eq);
                inlineValue = true;
            }
            known = findLong(name);
        } else {
            known = findShort(a.at(1));
            if (known && a.size() > 2) {
                value = a.mid(2);
                inlineValue = true;
            }
        }
        if (!known)
            return usage(tr("Option inconnue : %1").arg(a));
        if (known->scope == Scope::Generate && o.command != Command::Generate)
            return usage(tr("L'option --%1 ne s'applique qu'à generate.").arg(QLatin1String(known->name)));
        if (known->scope == Scope::Preview && o.command != Command::Preview)
            return usage(tr("L'option --%1 ne s'applique qu'à preview.").arg(QLatin1String(known->name)));
        if (known->takesValue && !inlineValue) {
            if (i + 1 >= arguments.size())
                return usage(tr("L'option --%1 attend une valeur.").arg(QLatin1String(known->name)));
            value = arguments.at(++i);
        } else if (!known->takesValue && inlineValue) {
            return usage(tr("L'option --%1 ne prend pas de valeur.").arg(QLatin1String(known->name)));
        }
        given.append({known, value});
    }

    if (positionals.isEmpty())
        return usage(tr("Base d'origine manquante."));
    if (positionals.size() > 1)
        return usage(tr("Argument en trop : « %1 ».").arg(positionals.at(1)));
    o.source = positionals.first();

    try {
        for (const GivenOption& g : std::as_const(given))
            if (QLatin1String(g.known->name) == QLatin1String("preset"))
                o.preset = g.value;
        o.parameters = o.preset.isEmpty() ? ParameterSet() : readPreset(settings, o.preset);
        o.jobs = std::max(1, QThread::idealThreadCount());
        for (const GivenOption& g : std::as_const(given))
            applyOption(o, g);
    } catch (const UsageError& e) {
        return usage(e.text);
    }

    if (o.command == Command::Generate && o.output.isEmpty())
        return usage(tr("Base encodée manquante : indiquez-la avec -o FICHIER."));
    if (!o.field.isEmpty() && o.hasRange)
        return usage(tr("--field (base DBF) et --range (base texte) s'excluent."));
    if (!o.field.isEmpty() && o.column > 0)
        return usage(tr("--field et --column s'excluent : choisissez la colonne par son nom ou par son numéro."));
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

}  // namespace

QString interruptedText(Command command)
{
    return command == Command::Preview ? tr("Aperçu annulé.") : cancelledText();
}

int buildJob(const Options& o, GenerationJob& job, qint64* sampleRecord, QString* error,
             const std::atomic<bool>* cancel)
{
    auto fail = [error](int code, const QString& text) {
        if (error)
            *error = text;
        return code;
    };
    auto cancelled = [cancel] { return cancel && cancel->load(std::memory_order_relaxed); };
    const QString stoppedText = interruptedText(o.command);
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

    const QFileInfo info(o.source);
    if (!info.exists() || info.isDir())
        return fail(ExitUsage, tr("La base d'origine « %1 » n'existe pas.").arg(o.source));
    // A FIFO would block the run and a device never end: only a regular file is read.
    if (!info.isFile())
        return fail(ExitUsage, tr("La base d'origine « %1 » n'est pas un fichier ordinaire.").arg(o.source));

    if (isCsvPath(o.source))
        return buildCsvJob(o, job, sampleRecord, error, cancel);
    const bool csvOption = o.column > 0 || o.csv.delimiter != 0 || o.csv.encoding != CsvEncoding::Detect;
    if (csvOption)
        return fail(ExitUsage, tr("--column, --delimiter et --encoding s'appliquent à une base CSV (.csv)."));

    if (isDbfPath(o.source)) {
        job.typeSource = BaseKind::Dbf;
        if (o.hasRange)
            return fail(ExitUsage,
                        tr("--range s'applique à une base texte ; pour une base DBF, choisissez le champ "
                           "avec --field."));
        DbfTablePtr table(dbf_open(QFile::encodeName(o.source).constData(), nullptr, 0, 0));
        if (!table)
            return fail(ExitFailure,
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
            return fail(ExitUsage,
                        tr("Champ à encoder manquant : indiquez-le avec --field NOM (champs : %1).")
                            .arg(names.join(QStringLiteral(", "))));
        int index = int(names.indexOf(o.field));
        if (index < 0)
            for (qsizetype i = 0; i < names.size() && index < 0; ++i)
                if (names.at(i).compare(o.field, Qt::CaseInsensitive) == 0)
                    index = int(i);
        if (index < 0)
            return fail(ExitUsage,
                        tr("Champ inconnu : « %1 » (champs : %2).").arg(o.field, names.join(QStringLiteral(", "))));
        job.fieldIndex = index;
        const DbfFieldInfo& field = fields.at(index);
        job.newFieldName = o.newFieldName.isEmpty() ? (QLatin1Char('_') + fieldName(field)).left(10) : o.newFieldName;

        // The sample, as the window lists it: the value with its leading
        // blanks removed, padded with blanks to the field's length.
        FieldLister lister(table.get(), unsigned(index));
        const unsigned count = dbf_record_count(table.get());
        if (o.sampleRecord > 0) {
            if (o.sampleRecord > qint64(count))
                return fail(ExitUsage,
                            tr("--sample %1 : la base n'a que %2 enregistrements.").arg(o.sampleRecord).arg(count));
            lister.read(unsigned(o.sampleRecord - 1));
            job.sample = lister.entryBytes();
            if (sampleRecord)
                *sampleRecord = o.sampleRecord;
        } else {
            // The records the window lists, and no more: a header may announce billions.
            const unsigned searched = std::min(count, kListedRecords);
            for (unsigned i = 0; i < searched; ++i) {
                if (cancelled())
                    return fail(ExitFailure, stoppedText);
                if (lister.read(i) != 0) {
                    job.sample = lister.entryBytes();
                    if (sampleRecord)
                        *sampleRecord = qint64(i) + 1;
                    break;
                }
            }
            if (job.sample.isEmpty() && searched < count)
                return fail(ExitFailure,
                            tr("Aucun des %1 premiers enregistrements n'a de valeur dans le champ « %2 » : "
                               "choisissez l'enregistrement d'exemple avec --sample N.")
                                .arg(searched)
                                .arg(fieldName(field)));
            if (job.sample.isEmpty())
                return fail(ExitFailure,
                            tr("Aucun enregistrement n'a de valeur dans le champ « %1 ».").arg(fieldName(field)));
        }
        return ExitSuccess;
    }

    job.typeSource = BaseKind::Text;
    if (!o.field.isEmpty())
        return fail(ExitUsage,
                    tr("--field s'applique à une base DBF ; pour une base texte, choisissez les colonnes "
                       "avec --range DEBUT:NOMBRE."));
    if (!o.hasRange)
        return fail(ExitUsage, tr("Colonnes à encoder manquantes : indiquez-les avec --range DEBUT:NOMBRE."));
    job.rangeStart = o.rangeStart;
    job.rangeCount = o.rangeCount;

    TextLineReader reader;
    QString openError;
    if (!reader.open(o.source, &openError))
        return fail(ExitFailure, tr("Impossible d'ouvrir la base d'origine.") + QLatin1Char(' ') + openError);
    QByteArray line;
    qint64 number = 0;
    bool found = false;
    // The lines the window shows, and no more, unless a line is named.
    const qint64 searched = o.sampleRecord > 0 ? o.sampleRecord : qint64(kListedRecords);
    while (number < searched && reader.next(line)) {
        if (cancelled())
            return fail(ExitFailure, stoppedText);
        ++number;
        // The selected columns of the line, as the window's text view gives them.
        const QString value = QString::fromLatin1(line).mid(o.rangeStart - 1, o.rangeCount);
        if (o.sampleRecord > 0 ? number == o.sampleRecord : !isBlankText(value)) {
            job.sample = value.toLatin1();
            found = true;
            break;
        }
    }
    if (reader.lineTooLong())
        return fail(ExitFailure, lineTooLongText(reader.lineNumber()));
    if (!found) {
        if (o.sampleRecord > 0)
            return fail(ExitUsage, tr("--sample %1 : la base n'a que %2 lignes.").arg(o.sampleRecord).arg(number));
        if (number == searched && !reader.atEnd())
            return fail(ExitFailure,
                        tr("Aucune des %1 premières lignes n'a de valeur dans les colonnes %2 à %3 : "
                           "choisissez la ligne d'exemple avec --sample N.")
                            .arg(searched)
                            .arg(o.rangeStart)
                            .arg(qint64(o.rangeStart) + o.rangeCount - 1));
        return fail(ExitFailure,
                    tr("Aucune ligne n'a de valeur dans les colonnes %1 à %2.")
                        .arg(o.rangeStart)
                        .arg(qint64(o.rangeStart) + o.rangeCount - 1));
    }
    if (sampleRecord)
        *sampleRecord = number;
    return ExitSuccess;
}

// ---------------------------------------------------------------------------
// Preview

bool previewSample(const GenerationJob& job, const ParameterSet& set, PreviewResult& result, QString* error)
{
    QString value = QString::fromLatin1(job.sample);
    if (isBlankText(value)) {
        if (error)
            *error = tr("Cet enregistrement est vide, veuillez en sélectionner un autre pour permettre "
                        "l'initialisation des paramêtres d'encodage.");
        return false;
    }
    value = trimWhiteSpace(value, set.supprimerEspacesGauche, set.supprimerEspacesDroite);
    const QByteArray bytes = value.toLatin1();
    const EncodingParameters& parameters = job.parameters;
    const bool qr = parameters.symbology == SymbologyQRCode;
    const EncodedSymbol symbol = encodeSymbol(parameters, reinterpret_cast<const unsigned char*>(bytes.constData()),
                                              libraryInputLength(parameters, bytes.constData(), int(bytes.size())));
    if (!symbol.isValid()) {
        if (error)
            *error = qr ? tr("Encodage impossible (vous pouvez essayer de changer le mode d'encodage ou le niveau de "
                             "correction d'erreur).")
                        : tr("Encodage impossible (vous pouvez essayer de changer la taille du datamatrix ou le mode "
                             "d'encodage).");
        return false;
    }
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
    return true;
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
        : err(err)
        , on(on)
    { }
    void show(int permille)
    {
        if (!on || !err)
            return;
        constexpr int kWidth = 40;
        const int filled = permille * kWidth / 1000;
        QString percent = QString::number(permille / 10.0, 'f', 1).rightJustified(5);
        percent.replace(QLatin1Char('.'), QLatin1Char(','));
        *err << '\r' << '[' << QString(filled, QLatin1Char('#')) << QString(kWidth - filled, QLatin1Char(' ')) << "] "
             << percent << " %";
        err->flush();
        shown = true;
    }
    void finish()
    {
        if (shown && err) {
            *err << '\n';
            err->flush();
        }
        shown = false;
    }

private:
    QTextStream* err;
    bool on;
    bool shown = false;
};

}  // namespace

int runCommandLine(const QStringList& arguments, QSettings& settings, Console& console)
{
    QTextStream& out = *console.out;
    QTextStream& err = *console.err;
    const ParseResult parsed = parseArguments(arguments, settings);
    if (parsed.exitCode < 0 && parsed.options.command == Command::Font) {
        const UserFontResult font = parsed.options.fontAction == FontAction::Install_
            ? installUserFont(codeFontFile(QCoreApplication::applicationDirPath(), QDir::currentPath()))
            : uninstallUserFont();
        (font.ok ? out : err) << font.message << '\n';
        (font.ok ? out : err).flush();
        return font.ok ? ExitSuccess : ExitFailure;
    }
    if (parsed.exitCode == ExitSuccess) {
        out << parsed.message;
        out.flush();
        return ExitSuccess;
    }
    if (parsed.exitCode >= 0) {
        err << parsed.message << '\n';
        err.flush();
        return parsed.exitCode;
    }
    const Options& o = parsed.options;
    if (console.abandon) {
        // Said the same whether the command stops by itself or is stopped.
        QString stop = interruptedText(o.command) + QLatin1Char('\n');
        if (o.command == Command::Generate)
            stop += tr("Aucun fichier n'a été écrit.") + QLatin1Char('\n');
        console.abandon->setStopText(stop);
    }

    GenerationJob job;
    qint64 sampleRecord = 0;
    QString error;
    const int built = buildJob(o, job, &sampleRecord, &error, console.cancel);
    if (built != ExitSuccess) {
        err << error << '\n';
        if (built == ExitUsage)
            err << tr("Voir codiflux-cli --help.") << '\n';
        err.flush();
        return built;
    }

    if (o.command == Command::Preview) {
        if (console.cancel && console.cancel->load()) {
            err << interruptedText(o.command) << '\n';
            err.flush();
            return ExitFailure;
        }
        PreviewResult preview;
        if (!previewSample(job, o.parameters, preview, &error)) {
            err << tr("Enregistrement %1 : ").arg(sampleRecord) << error << '\n';
            err.flush();
            return ExitFailure;
        }
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
        return ExitSuccess;
    }

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
    const bool ok = generate(job, control, &error, &report);
    bar.finish();
    if (!ok) {
        err << (error.isEmpty() ? tr("La fabrication de la base encodée a échoué.") : error) << '\n'
            << tr("Aucun fichier n'a été écrit.") << '\n';
        err.flush();
        return ExitFailure;
    }
    const double seconds = std::max(clock.elapsed(), qint64(1)) / 1000.0;
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
    // Written all the same (the field's length is exact), with a warning.
    if (job.typeSource == BaseKind::Dbf && report.fieldLength > kDbfReaderFieldLimit) {
        err << longCodeFieldWarning(report.fieldLength) << '\n';
        err.flush();
    }
    return ExitSuccess;
}

}  // namespace codiflux::cli
