// The job of a generation or a preview: the base, its field or columns,
// the sample record, as the window captures them.

#include "app/cli/options.h"

#include "bases/codepage.h"
#include "bases/dbf.h"
#include "bases/listing.h"
#include "bases/textbase.h"
#include "codes/encoding.h"
#include "generation/valuetemplate.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>

namespace codiflux::cli {

namespace {

bool cancelled(const std::atomic<bool>* cancel)
{
    return cancel && cancel->load(std::memory_order_relaxed);
}

void startJob(const Options& o, GenerationJob& job)
{
    job = GenerationJob();
    job.sourcePath = o.source;
    job.outputPath = o.output;
    job.writeText = o.writeText;
    const ParameterSet& set = o.parameters;
    job.parameters = set.encoding;
    job.options = set.fontText;
    job.blankCodes = set.blankCodes;
    job.trimStart = set.trimStart;
    job.trimEnd = set.trimEnd;
    job.valueTemplate = set.valueTemplate;
    job.hriFieldName = o.hriFieldName;
    job.codePage = o.codePage;
}

// The sample's text as the symbol's bytes; refused when it holds a character
// the symbol cannot carry, as its record would be in the run.
Error setSample(GenerationJob& job, const QString& text, qint64 record)
{
    char32_t refused = 0;
    if (!symbolBytes(text, carriesUtf8(job.parameters), job.sample, &refused))
        return Error(ErrorCode::ValueRefused, refusedCharacterText(record, refused));
    return {};
}

// A value template in place of the field or the range: checked against the
// base's fields before anything else, the sample the longest value among the
// listed records (or the one --sample names).
Error buildTemplateJob(const Options& o, GenerationJob& job, qint64* sampleRecord)
{
    if (!o.field.isEmpty() || o.hasRange)
        return usageError(tr("--value remplace --field et --range : donnez l'un ou l'autre."));
    const CodePage* forced = job.forcedCodePage();
    ValueTemplate parsed;
    if (Error refused = parseTemplateFor(o.source, *job.format, job.valueTemplate, forced, parsed,
                                         &job.sourceCodePage))
        return refused;
    if (job.format->hasFields() && job.newFieldName.isEmpty())
        job.newFieldName = o.newFieldName.isEmpty() ? QStringLiteral("_CODE") : o.newFieldName;
    qint64 record = 0;
    if (Error refused = templateSample(o.source, *job.format, parsed, o.sampleRecord, kListedRecords, forced,
                                       carriesUtf8(job.parameters), &job.sample, &record))
        return refused;
    if (sampleRecord)
        *sampleRecord = record;
    return {};
}

// The first values of the job's field or columns as the window lists them.
Error listSample(const Options& o, const GenerationJob& job, unsigned limit, bool untilFilled,
                 const std::atomic<bool>* cancel, ValueListing* listing)
{
    SourceRequest request;
    request.forcedCodePage = job.forcedCodePage();
    request.rangeStart = job.rangeStart;
    request.rangeCount = job.rangeCount;
    request.beforeRecord = [cancel] { return !cancelled(cancel); };
    Error error = job.format->listValues(o.source, job.fieldIndex, request, limit, untilFilled, listing);
    if (error.code == ErrorCode::Cancelled)
        error.text = interruptedText(o.command);
    return error;
}

// The sample, as the window lists it (listedValue): the value without its
// leading and trailing blanks, padded with blanks to the field's length.
Error findDbfSample(const Options& o, DbfTable* table, const QString& name, GenerationJob& job, qint64* sampleRecord,
                    const std::atomic<bool>* cancel)
{
    const auto fieldIndex = unsigned(job.fieldIndex);
    const unsigned count = dbf_record_count(table);
    if (o.sampleRecord > 0) {
        if (o.sampleRecord > qint64(count))
            return usageError(tr("--sample %1 : la base n'a que %2 enregistrements.").arg(o.sampleRecord).arg(count));
        if (sampleRecord)
            *sampleRecord = o.sampleRecord;
        return setSample(job,
                         decodeText(listedValue(table, unsigned(o.sampleRecord - 1), fieldIndex),
                                    job.sourceCodePage.page),
                         o.sampleRecord);
    }
    // The records the window lists, and no more: a header may announce billions.
    ValueListing listing;
    if (Error error = listSample(o, job, kListedRecords, true, cancel, &listing))
        return error;
    if (listing.filled >= 0) {
        if (sampleRecord)
            *sampleRecord = qint64(listing.filled) + 1;
        return setSample(job, listing.values.at(listing.filled), qint64(listing.filled) + 1);
    }
    if (listing.more)
        return Error(ErrorCode::ValueRefused,
                     tr("Aucun des %1 premiers enregistrements n'a de valeur dans le champ « %2 » : "
                        "choisissez l'enregistrement d'exemple avec --sample N.")
                         .arg(listing.values.size())
                         .arg(name));
    return Error(ErrorCode::ValueRefused, tr("Aucun enregistrement n'a de valeur dans le champ « %1 ».").arg(name));
}

Error buildDbfJob(const Options& o, GenerationJob& job, qint64* sampleRecord, const std::atomic<bool>* cancel)
{
    if (o.hasRange)
        return usageError(tr("--range s'applique à une base texte ; pour une base DBF, choisissez le champ "
                             "avec --field."));
    // The text as stored, read with the table's code page.
    DbfTablePtr table(dbf_open(QFile::encodeName(o.source).constData(), nullptr, 0, 1));
    if (!table)
        return Error(ErrorCode::SourceUnreadable,
                     tr("Une erreur est survenue lors du chargement de « %1 ».").arg(o.source) + QLatin1Char(' ')
                         + tableRefusalText(o.source));
    job.sourceCodePage = dbfCodePage(o.source, dbf_header_bytes(table.get())[29], job.forcedCodePage());
    const unsigned fieldCount = dbf_field_count(table.get());
    QStringList names;
    for (unsigned i = 0; i < fieldCount; ++i) {
        DbfFieldInfo field{};
        dbf_field_info(table.get(), i, &field);
        names << fieldName(field, job.sourceCodePage.page);
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
    const QString& name = names.at(index);
    job.newFieldName = o.newFieldName.isEmpty() ? job.format->defaultFieldName(name) : o.newFieldName;
    return findDbfSample(o, table.get(), name, job, sampleRecord, cancel);
}

QString textColumnsText(const Options& o)
{
    return tr("les colonnes %1 à %2").arg(o.rangeStart).arg(qint64(o.rangeStart) + o.rangeCount - 1);
}

Error buildTextJob(const Options& o, GenerationJob& job, qint64* sampleRecord, const std::atomic<bool>* cancel)
{
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
    reader.close();
    job.sourceCodePage = textCodePage(o.source, job.forcedCodePage());
    // The lines the window shows, and no more, unless a line is named.
    const qint64 searched = o.sampleRecord > 0 ? o.sampleRecord : qint64(kListedRecords);
    ValueListing listing;
    if (Error error = listSample(o, job, unsigned(std::min<qint64>(searched, UINT_MAX)), o.sampleRecord <= 0, cancel,
                                 &listing))
        return error;
    const qint64 number = listing.values.size();
    const qsizetype chosen = o.sampleRecord > 0 ? (number == o.sampleRecord ? number - 1 : -1) : listing.filled;
    if (chosen >= 0) {
        if (sampleRecord)
            *sampleRecord = qint64(chosen) + 1;
        return setSample(job, listing.values.at(chosen), qint64(chosen) + 1);
    }
    if (o.sampleRecord > 0)
        return usageError(tr("--sample %1 : la base n'a que %2 lignes.").arg(o.sampleRecord).arg(number));
    if (listing.more)
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

    job.format = &formatOf(o.source);
    if (!job.format->readsCodePage()) {
        if (o.codePage)
            return usageError(tr("--codepage s'applique à une base DBF ou texte ; l'encodage d'une base CSV se "
                                 "choisit avec --encoding."));
        return buildCsvJob(o, job, sampleRecord, cancel);
    }
    const bool csvOption = o.column > 0 || o.csv.delimiter != 0 || o.csv.encoding != CsvEncoding::Detect;
    if (csvOption)
        return usageError(tr("--column, --delimiter et --encoding s'appliquent à une base CSV (.csv)."));
    if (!job.valueTemplate.isEmpty())
        return buildTemplateJob(o, job, sampleRecord);
    if (job.format->hasFields())
        return buildDbfJob(o, job, sampleRecord, cancel);
    return buildTextJob(o, job, sampleRecord, cancel);
}

}  // namespace codiflux::cli
