// CSV bases on the command line: the job (column by name or number, forced
// delimiter or encoding, sample) and the record loop on several threads.
// Rows vary in length, so a window holds whole rows and their code texts;
// they are coded in parallel and written in source order, byte for byte what
// the single-thread loop writes.

#include "app/cli/cli.h"
#include "bases/listing.h"

#include "codes/verify.h"
#include "generation/csvgeneration.h"

#include <QCoreApplication>

#include <algorithm>
#include <atomic>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace codiflux::cli {

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("codiflux-cli", text);
}

}  // namespace

Error buildCsvJob(const Options& o, GenerationJob& job, qint64* sampleRecord, const std::atomic<bool>* cancel)
{
    auto fail = [](ErrorCode code, const QString& text) { return Error(code, text); };
    job.typeSource = BaseKind::Csv;
    job.csv = o.csv;
    if (o.hasRange)
        return fail(ErrorCode::Usage,
                    tr("--range s'applique à une base texte ; pour une base CSV, choisissez la colonne "
                       "avec --field NOM ou --column N."));
    if (o.writeText)
        return fail(ErrorCode::Usage, tr("--txt s'applique à une base DBF ; une base CSV donne une base CSV."));
    job.writeText = false;

    CsvReader reader;
    QString text;
    if (const Error opened = reader.open(o.source, o.csv))
        return opened;
    const QStringList& columns = reader.columns();
    const QString names = columns.join(QStringLiteral(", "));
    int index = -1;
    if (!o.field.isEmpty()) {
        index = csvColumnIndex(columns, o.field);
        if (index < 0)
            return fail(ErrorCode::Usage,
                        tr("Ligne 1 : l'en-tête n'a pas de colonne « %1 » (colonnes : %2).").arg(o.field, names));
    } else if (o.column > 0) {
        if (o.column > columns.size())
            return fail(ErrorCode::Usage,
                        tr("Ligne 1 : l'en-tête n'a pas de colonne n°%1 (il en a %2 : %3).")
                            .arg(o.column)
                            .arg(columns.size())
                            .arg(names));
        index = o.column - 1;
    } else {
        return fail(ErrorCode::Usage,
                    tr("Colonne à encoder manquante : indiquez-la avec --field NOM ou --column N "
                       "(colonnes : %1).")
                        .arg(names));
    }
    job.fieldIndex = index;
    job.newFieldName = o.newFieldName.isEmpty() ? QLatin1Char('_') + columns.at(index) : o.newFieldName;

    // The sample: the given record's value, or the first that is not blank
    // among the rows the window lists (a file may hold millions of blank ones).
    CsvRow row;
    QByteArray value;
    qint64 number = 0;
    const qint64 searched = o.sampleRecord > 0 ? o.sampleRecord : qint64(kListedRecords);
    while (number < searched) {
        if (cancel && cancel->load(std::memory_order_relaxed))
            return fail(ErrorCode::Cancelled, interruptedText(o.command));
        const CsvReader::Status status = reader.next(row);
        if (status == CsvReader::Status::Failed)
            return fail(ErrorCode::SourceMalformed, reader.error());
        if (status == CsvReader::Status::End)
            break;
        ++number;
        csvCodeBytes(row.cell(index), reader.format().encoding, value);
        if (o.sampleRecord > 0 ? number == o.sampleRecord : !isBlankValue(value.constData(), value.size())) {
            job.sample = value;
            if (sampleRecord)
                *sampleRecord = number;
            return {};
        }
    }
    if (o.sampleRecord > 0)
        return fail(ErrorCode::Usage,
                    tr("--sample %1 : la base n'a que %2 enregistrements.").arg(o.sampleRecord).arg(number));
    if (number == searched && reader.next(row) == CsvReader::Status::Row)
        return fail(ErrorCode::ValueRefused,
                    tr("Aucun des %1 premiers enregistrements n'a de valeur dans la colonne « %2 » : "
                       "choisissez l'enregistrement d'exemple avec --sample N.")
                        .arg(searched)
                        .arg(columns.at(index)));
    return fail(ErrorCode::ValueRefused,
                tr("Aucun enregistrement n'a de valeur dans la colonne « %1 ».").arg(columns.at(index)));
}

bool runCsvRecordsParallel(const GenerationJob& job, PreparedRun& run, OutputWriter& writer,
                           GenerationFeedback& feedback, const RunControl& control, QString* error)
{
    auto fail = [error](const QString& text) {
        if (error)
            *error = text;
        return false;
    };
    CsvSource& source = *run.csv;
    const RecordCoder& coder = *run.coder;
    const qint64 count = run.recordCount;
    const int jobs = std::max(1, control.jobs);
    const int r = run.plan.codeLength;
    const std::size_t capacity
        = std::size_t(std::min<qint64>(qint64(std::max(1, control.batch)) * jobs, std::max<qint64>(count, 1)));

    struct Failure {
        bool coding = true;
        RecordCoder::Result result;
        std::optional<QByteArray> read;
    };
    std::vector<CsvRecord> records(capacity);
    std::vector<char> codes(capacity * std::size_t(std::max(r, 1)));
    std::map<std::size_t, Failure> failures;
    std::mutex failuresLock;
    std::vector<std::unique_ptr<FieldTextDecoder>> decoders;
    if (control.verify)
        for (int i = 0; i < jobs; ++i)
            decoders.push_back(
                std::make_unique<FieldTextDecoder>(run.width, run.height, job.options, job.parameters.symbology));

    auto codeOne = [&](std::size_t i, qint64 number, FieldTextDecoder* decoder) {
        const QByteArray& value = records[i].value;
        const int length = int(std::min<qsizetype>(value.size(), std::numeric_limits<int>::max()));
        char* code = codes.data() + i * std::size_t(r);
        const RecordCoder::Result result = coder.code(value.constData(), length, code);
        if (!result.ok()) {
            std::lock_guard lock(failuresLock);
            failures[i] = Failure{true, result, {}};
            return;
        }
        if (control.tamper)
            control.tamper(number, code, r);
        if (!decoder || isBlankValue(value.constData(), length))
            return;
        std::optional<QByteArray> read = decoder->decode(code, r);
        if (!read || *read != value.left(coder.inputLength(value.constData(), length))) {
            std::lock_guard lock(failuresLock);
            failures[i] = Failure{false, result, std::move(read)};
        }
    };

    RecordProgress progress(feedback, count);
    QByteArray out;
    QString text;
    qint64 next = 1;
    while (next <= count) {
        // Read a window in order; a failed read ends it and is reported once
        // every record before it has been coded and written.
        std::size_t filled = 0;
        bool readFailed = false;
        bool ended = false;
        while (filled < capacity && next + qint64(filled) <= count) {
            if (feedback.cancelled())
                return fail(cancelledText());
            const CsvSource::Read read = source.read(records[filled], &text);
            if (read != CsvSource::Read::Ok) {
                readFailed = read == CsvSource::Read::Failed;
                ended = !readFailed;
                break;
            }
            ++filled;
        }

        // Code it on `jobs` threads, chunk by chunk.
        failures.clear();
        std::atomic<std::size_t> nextChunk{0};
        constexpr std::size_t kChunk = 16;
        auto work = [&](int worker) {
            FieldTextDecoder* decoder = decoders.empty() ? nullptr : decoders[std::size_t(worker)].get();
            for (;;) {
                const std::size_t begin = nextChunk.fetch_add(1) * kChunk;
                if (begin >= filled)
                    return;
                for (std::size_t i = begin; i < std::min(filled, begin + kChunk); ++i)
                    codeOne(i, next + qint64(i), decoder);
            }
        };
        {
            std::vector<std::jthread> threads;
            for (int t = 1; t < jobs; ++t)
                threads.emplace_back(work, t);
            work(0);
        }

        // Write it in order, up to its first failure.
        const std::size_t firstFailure = failures.empty() ? filled : failures.begin()->first;
        for (std::size_t i = 0; i < firstFailure; ++i) {
            const qint64 number = next + qint64(i);
            progress.reached(number);
            source.outputRow(records[i], codes.data() + i * std::size_t(r), r, out);
            if (!writer.writeRecord(out.data(), out.size(), &text))
                return fail(csvWriteErrorText());
        }
        if (firstFailure < filled) {
            const Failure& f = failures.begin()->second;
            const qint64 number = next + qint64(firstFailure);
            const QByteArray& value = records[firstFailure].value;
            if (f.coding)
                return fail(coder.failureText(f.result, number, value.constData(), int(value.size())));
            return fail(
                verifyFailureText(number, value.left(coder.inputLength(value.constData(), int(value.size()))), f.read));
        }
        if (readFailed)
            return fail(text);
        if (ended)
            return fail(csvChangedText(next + qint64(filled)));
        next += qint64(filled);
    }
    return true;
}

}  // namespace codiflux::cli
