// The command line's arguments: the command, its source and its options,
// read through the option table, the preset first.

#include "app/cli/options.h"

#include "codes/encoding.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QHash>
#include <QThread>

#include <algorithm>

namespace codiflux::cli {

namespace {

void declareOptions(QCommandLineParser& parser)
{
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsCompactedShortOptions);
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);
    for (const OptionEntry& known : optionTable()) {
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
    EncodingParameters& p = set.encoding;
    p.moduleSize = std::clamp(p.moduleSize, 1, 99);
    p.marginSize = std::clamp(p.marginSize, 0, 99);
    p.qrVersion = std::clamp(p.qrVersion, 0, 99);
    if (!hasChoice(datamatrixSizeChoices(), p.sizeRequest))
        p.sizeRequest = 0;
    if (!hasChoice(datamatrixSchemeChoices(), p.scheme))
        p.scheme = 0;
    if (!hasChoice(qrLevelChoices(), p.qrLevel))
        p.qrLevel = 0;
    if (!hasChoice(qrCaseChoices(), p.qrCaseSensitive))
        p.qrCaseSensitive = 0;
    if (!hasChoice(qrModeChoices(), p.qrMode))
        p.qrMode = 0;
    return set;
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
    // A preset's value template gives way to a field or a range given here.
    const bool valueGiven = std::any_of(given.cbegin(), given.cend(),
                                        [](const GivenOption& g) { return qstrcmp(g.known->name, "value") == 0; });
    if (!valueGiven && (!o.field.isEmpty() || o.hasRange || o.column > 0))
        o.parameters.valueTemplate.clear();
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

}  // namespace codiflux::cli
