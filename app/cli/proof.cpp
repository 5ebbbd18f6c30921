#include "app/cli/proof.h"

#include "generation/proof.h"
#include "settings/userfont.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>

namespace codiflux::cli {

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("codiflux-cli", text);
}

ExitCode refuseProof(Console& console, const Error& error)
{
    *console.err << error.text << '\n';
    if (isUsageError(error))
        *console.err << tr("Voir codiflux-cli --help.") << '\n';
    console.err->flush();
    return isUsageError(error) ? ExitCode::Usage : ExitCode::Failure;
}

Error usage(const QString& text)
{
    return Error(ErrorCode::Usage, text);
}

struct ProofArguments {
    proof::ProofOptions options;
    QString fontFile;
    bool help = false;
};

Error readProofArguments(const QStringList& arguments, ProofArguments& a)
{
    QCommandLineParser parser;
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);
    // Names and value names (none for a switch).
    const std::pair<QStringList, const char*> options[] = {
        {{"h", "help"}, nullptr}, {{"o", "output"}, "FICHIER"}, {{"code-field"}, "NOM"},  {{"check-field"}, "NOM"},
        {{"value"}, "MODELE"},    {{"label-field"}, "NOM"},     {{"size"}, "PT"},         {{"dpi"}, "N"},
        {{"records"}, "CHOIX"},   {{"code-width"}, "W"},        {{"trim-left"}, nullptr}, {{"trim-right"}, nullptr},
        {{"delimiter"}, "D"},     {{"encoding"}, "E"},          {{"raster"}, "gs|qt"},    {{"font"}, "FICHIER"},
    };
    for (const auto& [names, value] : options) {
        QCommandLineOption option(names);
        if (value)
            option.setValueName(QLatin1String(value));
        parser.addOption(option);
    }
    if (!parser.parse(QStringList{QStringLiteral("codiflux-cli")} + arguments)) {
        const QStringList unknown = parser.unknownOptionNames();
        return usage(unknown.isEmpty()
                         ? parser.errorText()
                         : tr("Option inconnue pour proof : %1")
                               .arg((unknown.first().size() == 1 ? QStringLiteral("-") : QStringLiteral("--"))
                                    + unknown.first()));
    }
    if (parser.isSet(QStringLiteral("help"))) {
        a.help = true;
        return {};
    }
    const QStringList positionals = parser.positionalArguments();
    if (positionals.isEmpty())
        return usage(tr("Base encodée manquante : codiflux-cli proof BASE -o EPREUVE.pdf."));
    if (positionals.size() > 1)
        return usage(tr("Argument en trop : « %1 ».").arg(positionals.at(1)));
    proof::ProofOptions& o = a.options;
    o.basePath = positionals.first();
    o.pdfPath = parser.value(QStringLiteral("output"));
    if (o.pdfPath.isEmpty())
        return usage(tr("Épreuve manquante : indiquez le fichier PDF avec -o FICHIER."));
    o.codeField = parser.value(QStringLiteral("code-field"));
    o.checkField = parser.value(QStringLiteral("check-field"));
    o.valueTemplate = parser.value(QStringLiteral("value"));
    o.labelField = parser.value(QStringLiteral("label-field"));
    if (!o.checkField.isEmpty() && !o.valueTemplate.isEmpty())
        return usage(tr("--check-field et --value s'excluent."));
    if (parser.isSet(QStringLiteral("size")) && !proof::parseSizes(parser.value(QStringLiteral("size")), &o.sizes))
        return usage(tr("Valeur invalide pour --size : « %1 » (une taille en points, ou une plage comme 3-12, "
                        "de 1 à 72).")
                         .arg(parser.value(QStringLiteral("size"))));
    if (parser.isSet(QStringLiteral("dpi"))) {
        o.resolutions.clear();
        for (const QString& part : parser.value(QStringLiteral("dpi")).split(QLatin1Char(','))) {
            bool ok = false;
            const int dpi = part.trimmed().toInt(&ok);
            if (!ok || dpi < 72 || dpi > 2400)
                return usage(tr("Valeur invalide pour --dpi : « %1 » (une résolution de 72 à 2400, ou plusieurs "
                                "séparées par des virgules : 203,300,600).")
                                 .arg(parser.value(QStringLiteral("dpi"))));
            if (!o.resolutions.contains(dpi))
                o.resolutions.append(dpi);
        }
    }
    if (parser.isSet(QStringLiteral("records"))
        && !proof::parseRecordChoice(parser.value(QStringLiteral("records")), &o.records))
        return usage(tr("Valeur invalide pour --records : « %1 » (1-50, all ou sample:N).")
                         .arg(parser.value(QStringLiteral("records"))));
    if (parser.isSet(QStringLiteral("code-width"))) {
        bool ok = false;
        o.codeWidth = parser.value(QStringLiteral("code-width")).toInt(&ok);
        if (!ok || o.codeWidth < 1)
            return usage(
                tr("Valeur invalide pour --code-width : « %1 ».").arg(parser.value(QStringLiteral("code-width"))));
    }
    o.trimStart = parser.isSet(QStringLiteral("trim-left"));
    o.trimEnd = parser.isSet(QStringLiteral("trim-right"));
    if (parser.isSet(QStringLiteral("delimiter"))
        && !parseCsvDelimiter(parser.value(QStringLiteral("delimiter")), &o.csv.delimiter))
        return usage(tr("Valeur invalide pour --delimiter : « %1 ».").arg(parser.value(QStringLiteral("delimiter"))));
    if (parser.isSet(QStringLiteral("encoding"))
        && !parseCsvEncoding(parser.value(QStringLiteral("encoding")), &o.csv.encoding))
        return usage(tr("Valeur invalide pour --encoding : « %1 ».").arg(parser.value(QStringLiteral("encoding"))));
    if (parser.isSet(QStringLiteral("raster"))) {
        const QString raster = parser.value(QStringLiteral("raster")).toLower();
        if (raster == QLatin1String("gs") || raster == QLatin1String("ghostscript"))
            o.rasterizer = proof::Rasterizer::Ghostscript;
        else if (raster == QLatin1String("qt"))
            o.rasterizer = proof::Rasterizer::Qt;
        else
            return usage(tr("Valeur invalide pour --raster : « %1 » (gs ou qt).").arg(raster));
    }
    a.fontFile = parser.value(QStringLiteral("font"));
    return {};
}

// The 2D-code font the proof prints with: the one given, else the program's own.
Error registerFont(const QString& given, QString* family)
{
    const QString file
        = given.isEmpty() ? codeFontFile(QCoreApplication::applicationDirPath(), QDir::currentPath()) : given;
    if (file.isEmpty())
        return Error(ErrorCode::SourceUnreadable,
                     tr("La police Quadrex est introuvable (RES/Quadrex.ttf) : indiquez-la avec --font FICHIER."));
    const int id = QFontDatabase::addApplicationFont(QFileInfo(file).absoluteFilePath());
    const QStringList families = id < 0 ? QStringList() : QFontDatabase::applicationFontFamilies(id);
    if (families.isEmpty())
        return Error(ErrorCode::SourceUnreadable, tr("La police « %1 » ne peut être chargée.").arg(file));
    *family = families.first();
    return {};
}

QString failureLine(const proof::CodeResult& code, const proof::PassResult& pass, bool several)
{
    auto shown = [](const QByteArray& bytes) { return QString::fromLatin1(bytes); };
    QString line = !code.read ? tr("Enregistrement n°%1 : code non relu").arg(code.record)
                              : tr("Enregistrement n°%1 : relu « %2 »").arg(code.record).arg(shown(code.read->bytes));
    if (code.checked)
        line += tr(", attendu « %1 »").arg(shown(code.expected));
    if (several)
        line += tr(" (%1 pt, %2 dpi)").arg(proof::frenchNumber(pass.size)).arg(pass.dpi);
    return line;
}

}  // namespace

bool isProofCommand(const QStringList& arguments)
{
    return !arguments.isEmpty() && arguments.first() == QLatin1String("proof");
}

ExitCode runProof(const QStringList& arguments, Console& console)
{
    ProofArguments a;
    if (Error error = readProofArguments(arguments, a))
        return refuseProof(console, error);
    if (a.help) {
        *console.out << helpText();
        console.out->flush();
        return ExitCode::Success;
    }
    if (Error error = registerFont(a.fontFile, &a.options.fontFamily))
        return refuseProof(console, error);
    if (console.abandon)  // said the same whether the proof stops by itself or is stopped
        console.abandon->setStopText(QCoreApplication::translate("Proof", "Épreuve annulée.") + QLatin1Char('\n'));

    QTextStream& out = *console.out;
    QTextStream& err = *console.err;
    int shown = -1;
    proof::ProofControl control;
    control.cancel = console.cancel;
    if (console.stderrIsTerminal)
        control.progress = [&err, &shown](int permille) {
            if (permille / 10 == shown)
                return;
            shown = permille / 10;
            err << '\r' << tr("Épreuve : %1 %").arg(shown, 3);
            err.flush();
        };
    proof::ProofReport report;
    const Error error = proof::makeProof(a.options, report, control);
    if (shown >= 0)
        err << '\n';
    if (error)
        return refuseProof(console, error);

    const proof::ProofOptions& o = a.options;
    out << tr("Tramage : %1").arg(proof::rasterizerName(report.rasterizer)) << '\n';
    out << tr("Champ du code : %1 (%2 x %3 modules)")
               .arg(report.codeField)
               .arg(report.geometry.width)
               .arg(report.geometry.height())
        << '\n';
    out << tr("Épreuve écrite : %1 (%2 pages)").arg(QDir::toNativeSeparators(o.pdfPath)).arg(report.pages) << '\n';
    const bool sweep = o.sizes.size() > 1;
    const bool several = report.passes.size() > 1;
    // A sweep names the codes only when no size reads them all; one size names every failure.
    for (const proof::PassResult& pass : report.passes) {
        if (sweep && (report.passed() || pass.size != o.sizes.last()))
            continue;
        for (const proof::CodeResult& code : pass.codes)
            if (!code.ok())
                out << failureLine(code, pass, several) << '\n';
    }
    QList<const proof::PassResult*> last;
    if (sweep) {
        for (const proof::PassResult& pass : report.passes)
            out << proof::readSummaryText(pass) << '\n';
        for (int dpi : o.resolutions) {
            const std::optional<double> smallest = report.smallestSize(dpi);
            out << (smallest ? tr("Plus petite taille qui relit tous les codes à %1 dpi : %2 pt")
                                   .arg(dpi)
                                   .arg(proof::frenchNumber(*smallest))
                             : tr("Aucune taille ne relit tous les codes à %1 dpi.").arg(dpi))
                << '\n';
            const double size = smallest.value_or(o.sizes.last());
            for (const proof::PassResult& pass : report.passes)
                if (pass.dpi == dpi && pass.size == size)
                    last.append(&pass);
        }
    } else {
        for (const proof::PassResult& pass : report.passes)
            last.append(&pass);
    }
    for (const proof::PassResult* pass : last)
        out << proof::readSummaryText(*pass) << '\n';
    out.flush();
    return report.passed() ? ExitCode::Success : ExitCode::Failure;
}

}  // namespace codiflux::cli
