// CSV bases on the command line: the job (column by name or number, forced
// delimiter or encoding, sample).

#include "app/cli/cli.h"
#include "bases/listing.h"

#include "generation/csvgeneration.h"

#include <QCoreApplication>

#include <atomic>

namespace codiflux::cli {

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("codiflux-cli", text);
}

// The column named by --field or numbered by --column (1-based), as an index.
Error chooseColumn(const Options& o, const QStringList& columns, int* index)
{
    const QString names = columns.join(QStringLiteral(", "));
    if (!o.field.isEmpty()) {
        *index = csvColumnIndex(columns, o.field);
        if (*index < 0)
            return Error(ErrorCode::Usage,
                         tr("Ligne 1 : l'en-tête n'a pas de colonne « %1 » (colonnes : %2).").arg(o.field, names));
        return {};
    }
    if (o.column > 0) {
        if (o.column > columns.size())
            return Error(ErrorCode::Usage,
                         tr("Ligne 1 : l'en-tête n'a pas de colonne n°%1 (il en a %2 : %3).")
                             .arg(o.column)
                             .arg(columns.size())
                             .arg(names));
        *index = o.column - 1;
        return {};
    }
    return Error(ErrorCode::Usage,
                 tr("Colonne à encoder manquante : indiquez-la avec --field NOM ou --column N "
                    "(colonnes : %1).")
                     .arg(names));
}

// The sample: the given record's value, or the first that is not blank among
// the rows the window lists (a file may hold millions of blank ones). The
// reader stands at the first record.
Error findSample(const Options& o, CsvReader& reader, int index, GenerationJob& job, qint64* sampleRecord,
                 const std::atomic<bool>* cancel)
{
    CsvRow row;
    QByteArray value;
    qint64 number = 0;
    const qint64 searched = o.sampleRecord > 0 ? o.sampleRecord : qint64(kListedRecords);
    while (number < searched) {
        if (cancel && cancel->load(std::memory_order_relaxed))
            return Error(ErrorCode::Cancelled, interruptedText(o.command));
        const CsvReader::Status status = reader.next(row);
        if (status == CsvReader::Status::Failed)
            return Error(ErrorCode::SourceMalformed, reader.error());
        if (status == CsvReader::Status::End)
            break;
        ++number;
        const bool utf8 = carriesUtf8(job.parameters);
        if (utf8)  // under a QR code's ECI the value goes as UTF-8
            value = csvText(row.cell(index), reader.format().encoding).toUtf8();
        else
            csvCodeBytes(row.cell(index), reader.format().encoding, value);
        if (o.sampleRecord > 0 ? number == o.sampleRecord : !isBlankValue(value.constData(), value.size(), utf8)) {
            job.sample = value;
            if (sampleRecord)
                *sampleRecord = number;
            return {};
        }
    }
    const QString column = reader.columns().at(index);
    if (o.sampleRecord > 0)
        return Error(ErrorCode::Usage,
                     tr("--sample %1 : la base n'a que %2 enregistrements.").arg(o.sampleRecord).arg(number));
    if (number == searched && reader.next(row) == CsvReader::Status::Row)
        return Error(ErrorCode::ValueRefused,
                     tr("Aucun des %1 premiers enregistrements n'a de valeur dans la "
                        "colonne « %2 » : choisissez l'enregistrement d'exemple avec "
                        "--sample N.")
                         .arg(searched)
                         .arg(column));
    return Error(ErrorCode::ValueRefused, tr("Aucun enregistrement n'a de valeur dans la colonne « %1 ».").arg(column));
}

}  // namespace

Error buildCsvJob(const Options& o, GenerationJob& job, qint64* sampleRecord, const std::atomic<bool>* cancel)
{
    job.csv = o.csv;
    if (o.hasRange)
        return Error(ErrorCode::Usage,
                     tr("--range s'applique à une base texte ; pour une base CSV, choisissez la "
                        "colonne avec --field NOM ou --column N."));
    if (o.writeText)
        return Error(ErrorCode::Usage, tr("--txt s'applique à une base DBF ; une base CSV donne une base CSV."));
    job.writeText = false;

    if (!job.valueTemplate.isEmpty()) {
        // The sample: the longest value the template makes, as the run takes it.
        if (!o.field.isEmpty() || o.column > 0)
            return Error(ErrorCode::Usage, tr("--value remplace --field et --column : donnez l'un ou l'autre."));
        CsvSource source;
        source.setValueTemplate(job.valueTemplate);
        if (Error error = source.scan(o.source, o.csv, 0, [cancel] { return !(cancel && cancel->load()); }))
            return error;
        job.sample = source.longestComposed();
        job.newFieldName = o.newFieldName.isEmpty() ? QStringLiteral("_CODE") : o.newFieldName;
        if (sampleRecord)
            *sampleRecord = source.longestComposedRecord();
        return {};
    }
    CsvReader reader;
    if (Error error = reader.open(o.source, o.csv))
        return error;
    int index = -1;
    if (Error error = chooseColumn(o, reader.columns(), &index))
        return error;
    job.fieldIndex = index;
    job.newFieldName
        = o.newFieldName.isEmpty() ? job.format->defaultFieldName(reader.columns().at(index)) : o.newFieldName;
    return findSample(o, reader, index, job, sampleRecord, cancel);
}

}  // namespace codiflux::cli
