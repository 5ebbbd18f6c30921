// The whole command: the arguments read, the job built, then the font
// installed, the preview printed or the base generated, with a progress bar.

#include "app/cli/options.h"
#include "app/cli/proof.h"

#include "bases/codepage.h"
#include "settings/userfont.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>

#include <algorithm>

namespace codiflux::cli {

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
    const bool usage = isUsageError(error);
    if (usage)
        err << tr("Voir codiflux-cli --help.") << '\n';
    err.flush();
    return usage ? ExitCode::Usage : ExitCode::Failure;
}

ExitCode runFont(const Options& o, Console& console)
{
    QString report;
    const Error failure = o.fontAction == FontAction::Install
        ? installUserFont(codeFontFile(QCoreApplication::applicationDirPath(), QDir::currentPath()), &report)
        : uninstallUserFont(&report);
    QTextStream& stream = failure ? *console.err : *console.out;
    stream << (failure ? failure.text : report) << '\n';
    stream.flush();
    return failure ? ExitCode::Failure : ExitCode::Success;
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
    if (job.format->readsCodePage())
        out << tr("Page de codes : %1").arg(codePageDescription(job.sourceCodePage)) << '\n';
    out << tr("Valeur : « %1 »").arg(symbolText(preview.value, carriesUtf8(job.parameters))) << '\n';
    if (!preview.humanReadable.isEmpty())
        out << tr("Texte lisible (HRI) : %1").arg(QString::fromLatin1(preview.humanReadable)) << '\n';
    out << tr("Nombre de colonnes du code (W) : %1").arg(preview.width) << '\n';
    out << tr("Nombre de lignes du code (H) : %1").arg(preview.height) << '\n';
    out << tr("Nombre de rangées du champ encodé : %1").arg(preview.bands) << '\n';
    out << tr("Longueur du champ encodé : %1").arg(preview.fieldLength) << '\n';
    if (const QString warning = longCodeFieldWarning(job.format, preview.fieldLength); !warning.isEmpty())
        out << warning << '\n';
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
    if (const QString warning = longCodeFieldWarning(job.format, report.fieldLength); !warning.isEmpty()) {
        err << warning << '\n';
        err.flush();
    }
    return ExitCode::Success;
}

}  // namespace

ExitCode runCommandLine(const QStringList& arguments, QSettings& settings, Console& console)
{
    if (isProofCommand(arguments))
        return runProof(arguments.mid(1), console);
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
