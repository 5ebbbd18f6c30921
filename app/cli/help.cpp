// The French help, made from the option table: the usage lines and what each
// command does, then every option of each section with its description.

#include "app/cli/options.h"

#include "codiflux_version.h"

#include <QStringList>

namespace codiflux::cli {

namespace {

constexpr int kNamesWidth = 25;  // the descriptions start at column 2 + 25
constexpr int kLineWidth = 86;

struct Section {
    HelpSection section;
    const char* title;
};

const Section kSections[] = {
    {HelpSection::Field, QT_TRANSLATE_NOOP("codiflux-cli", "Champ à encoder :")},
    {HelpSection::Parameters,
     QT_TRANSLATE_NOOP("codiflux-cli",
                       "Paramètres (par défaut : ceux d'un jeu vide ; un jeu les remplace, les options données à "
                       "côté l'emportent sur le jeu) :")},
    {HelpSection::Making, QT_TRANSLATE_NOOP("codiflux-cli", "Fabrication :")},
    {HelpSection::Preview, QT_TRANSLATE_NOOP("codiflux-cli", "Prévisualisation :")},
};

// "-f, --field NOM"
QString optionNames(const OptionEntry& entry)
{
    QString names;
    if (entry.shortName != 0)
        names = QStringLiteral("-") + QLatin1Char(entry.shortName) + QLatin1String(", ");
    names += QLatin1String("--") + QLatin1String(entry.name);
    if (entry.valueName)
        names += QLatin1Char(' ') + QLatin1String(entry.valueName);
    return names;
}

// The words of `text`, French punctuation kept with its word: no line starts
// with "»", ":", ";", "!" or "?", nor ends with "«".
QStringList words(const QString& text)
{
    static const QStringList kGlued{QStringLiteral("»"), QStringLiteral(":"), QStringLiteral(";"), QStringLiteral("!"),
                                    QStringLiteral("?")};
    QStringList out;
    for (const QString& word : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (!out.isEmpty() && (kGlued.contains(word) || out.last().endsWith(QStringLiteral("«"))))
            out.last() += QLatin1Char(' ') + word;
        else
            out << word;
    }
    return out;
}

// `text` cut at spaces into lines of at most `width` characters (a longer word stands alone).
QStringList wrapped(const QString& text, int width)
{
    QStringList lines;
    QString line;
    for (const QString& word : words(text)) {
        if (!line.isEmpty() && line.size() + 1 + word.size() > width) {
            lines << line;
            line.clear();
        }
        line += (line.isEmpty() ? QString() : QStringLiteral(" ")) + word;
    }
    if (!line.isEmpty())
        lines << line;
    return lines;
}

// The names on the left, the description beside them (below them when they
// are too long), its further lines under its first.
void appendOption(QString& help, const QString& names, const QString& description)
{
    const QString indent(2 + kNamesWidth, QLatin1Char(' '));
    help += QStringLiteral("  ") + names;
    const QStringList lines = wrapped(description, kLineWidth - indent.size());
    if (names.size() < kNamesWidth)
        help += QString(kNamesWidth - names.size(), QLatin1Char(' '));
    else
        help += QLatin1Char('\n') + indent;
    help += lines.join(QLatin1Char('\n') + indent) + QLatin1Char('\n');
}

void appendSection(QString& help, HelpSection section)
{
    const std::span<const OptionEntry> table = optionTable();
    for (std::size_t i = 0; i < table.size(); ++i) {
        const OptionEntry& entry = table[i];
        if (entry.section != section || !entry.help)
            continue;
        QString names = optionNames(entry);
        // The entries that follow without a description of their own share this one's.
        for (std::size_t j = i + 1; j < table.size() && !table[j].help && table[j].section == section; ++j)
            names += QLatin1String(", ") + optionNames(table[j]);
        appendOption(help, names, tr(entry.help));
    }
}

}  // namespace

QString helpText()
{
    QString help = tr("Usage :\n"
                      "  codiflux-cli generate SOURCE -o DESTINATION [options]\n"
                      "  codiflux-cli preview SOURCE [options]\n"
                      "  codiflux-cli font --install | --uninstall\n"
                      "  codiflux-cli proof BASE_ENCODEE -o EPREUVE.pdf [options]\n"
                      "  codiflux-cli --help | --version\n"
                      "\n"
                      "generate fabrique la base encodée : une copie de SOURCE dont chaque enregistrement\n"
                      "reçoit le code 2D de sa valeur, écrit avec la police Quadrex. Une base DBF donne une\n"
                      "base DBF (et sa forme texte avec --txt), une base texte donne une base texte, une\n"
                      "base CSV (.csv) donne une base CSV : ses lignes telles quelles, plus une colonne.\n"
                      "preview affiche les dimensions du code de l'enregistrement d'exemple et son texte.\n"
                      "font --install copie la police Quadrex dans le dossier des polices de l'utilisateur\n"
                      "($XDG_DATA_HOME/fonts, par défaut ~/.local/share/fonts) et met à jour le cache des\n"
                      "polices (fc-cache) ; font --uninstall l'en retire.\n");
    for (const Section& s : kSections) {
        help += QLatin1Char('\n') + wrapped(tr(s.title), kLineWidth).join(QLatin1Char('\n')) + QLatin1Char('\n');
        appendSection(help, s.section);
    }
    // The proof command reads its own options (app/cli/proof.cpp).
    help += QLatin1Char('\n')
        + tr("Épreuve d'impression (proof) : les codes de la base encodée mis en page dans la police\n"
             "Quadrex en PDF A4, tramés comme par l'imprimante (Ghostscript 1 bit, sinon Qt 1 bit)\n"
             "et relus étiquette par étiquette ; 0 quand tous se relisent, 1 sinon.\n"
             "  --code-field NOM         champ du code (par défaut : le seul champ fait de codes) ;\n"
             "                           base texte : ses colonnes DEBUT:NOMBRE\n"
             "  --check-field NOM        champ dont chaque code doit redonner la valeur\n"
             "  --value MODELE           ou la valeur attendue, {CHAMP} remplacé par le champ\n"
             "  --label-field NOM        texte imprimé à côté de chaque code\n"
             "  --size PT                taille en points (par défaut 6), ou une plage 3-12 par\n"
             "                           demi-points\n"
             "  --dpi N                  résolution de l'imprimante (par défaut 300 ; 203,300,600)\n"
             "  --records CHOIX          1-50, all ou sample:N (par défaut sample:48)\n"
             "  --trim-left, --trim-right  espaces retirés par la fabrication\n"
             "  --code-width W           largeur d'un code sans caractère de fin de ligne\n"
             "  --raster gs|qt           tramage (par défaut Ghostscript s'il est installé)\n"
             "  --font FICHIER           police du code (par défaut RES/Quadrex.ttf)\n");
    help += QLatin1Char('\n')
        + tr("Codes de sortie : 0 succès, 1 échec de la fabrication, 2 erreur d'utilisation.\n"
             "Une fabrication interrompue (Ctrl+C) ou en échec ne laisse aucun fichier partiel.\n");
    return help;
}

QString versionText()
{
    return QStringLiteral("codiflux-cli " CODIFLUX_VERSION "\n");
}

}  // namespace codiflux::cli
