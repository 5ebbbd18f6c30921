#include "generation/run.h"

#include "bases/textbase.h"
#include "generation/csvgeneration.h"
#include "generation/texts.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <vector>

namespace codiflux {

using namespace texts;

namespace {

// The values are those the window lists and previews: a DBF field as the
// table engine reads it, a memo's text rather than its block number, the
// spaces removed as the preview removes them.
ValueRule valueRuleFor(const GenerationJob& job, const SourceField& field)
{
    ValueRule rule;
    if (job.typeSource == BaseDbf) {
        rule.kind = field.type == 'M' ? ValueKind::DbfMemo : ValueKind::DbfField;
        rule.fieldType = field.type != 'C' && field.decimals != 0 ? 'F' : field.type;
        rule.decimalPoint = dbf_decimal_point();
    }
    rule.trimStart = job.trimStart;
    rule.trimEnd = job.trimEnd;
    return rule;
}

}  // namespace

RecordProgress::RecordProgress(GenerationFeedback& feedback, qint64 count)
    : feedback_(feedback)
    , count_(double(std::max<qint64>(count, 1)))
{
    feedback_.progressRange(0, 1000);
    feedback_.progressValue(0);
}

void RecordProgress::reached(qint64 number)
{
    const int value = int(double(number) * 1000.0 / count_);
    if (value != last_) {
        last_ = value;
        feedback_.progressValue(value);
    }
}

bool prepareGeneration(const GenerationJob& job, GenerationFeedback& feedback, PreparedRun& run, OutputWriter& writer,
                       QString* error)
{
    if (job.typeSource == BaseCsv)
        return prepareCsvGeneration(job, feedback, run, writer, error);
    auto fail = [error](const QString& text) {
        if (error)
            *error = text;
        return false;
    };
    const EncodingParameters& parameters = job.parameters;
    const bool qr = parameters.symbology == SymbologyQRCode;
    if (feedback.cancelled())
        return fail(cancelledText());

    // Source layout and the length G of the sample.
    qsizetype sampleLength = 0;
    int slot = 0;
    if (job.typeSource == BaseDbf) {
        const SourceScanStatus status = run.reader.scanDbf(job.sourcePath);
        if (status == SourceScanStatus::OpenFailed)
            return fail(generationText(kTextCannotOpenSource));
        if (status != SourceScanStatus::Ok)
            return fail(generationText(kTextSourceRead));
        if (job.tableFieldCount == 0)
            return fail(generationText(kTextNoSource));
        if (!QFileInfo::exists(job.sourcePath))
            return fail(generationText(kTextSourceGone).arg(QDir::toNativeSeparators(job.sourcePath)));
        if (job.fieldIndex < 0 || unsigned(job.fieldIndex) >= job.tableFieldCount
            || job.fieldIndex >= job.fields.size())
            return fail(generationText(kTextNoField));
        // The offsets come from the descriptor scan, the count from the open
        // table; a header that says otherwise would be written corrupt.
        if (qsizetype(job.tableFieldCount) != run.reader.layout().fields.size())
            return fail(
                generationText(kTextFieldMismatch).arg(run.reader.layout().fields.size()).arg(job.tableFieldCount));
        slot = job.fieldIndex;
        sampleLength = std::max(0, job.fields.at(job.fieldIndex).length);
    } else if (job.typeSource == BaseText) {
        feedback.progressRange(0, 0);
        feedback.progressValue(0);
        const SourceScanStatus status
            = run.reader.scanText(job.sourcePath, job.rangeStart, job.rangeCount, [&feedback] {
                  feedback.liveness();
                  return !feedback.cancelled();
              });
        switch (status) {
        case SourceScanStatus::Ok:
            break;
        case SourceScanStatus::OpenFailed:
            return fail(generationText(kTextCannotOpenSource));
        case SourceScanStatus::UnequalLengths:
            return fail(generationText(kTextUnequal));
        case SourceScanStatus::Cancelled:
            return fail(cancelledText());
        case SourceScanStatus::ReadFailed:
            return fail(generationText(kTextSourceRead));
        case SourceScanStatus::LineTooLong:
            return fail(lineTooLongText(run.reader.tooLongLine()));
        }
        if (job.rangeStart >= 1 && job.rangeCount >= 1)
            sampleLength = job.rangeCount;
    } else {
        return fail(generationText(kTextNoSource));
    }
    const SourceLayout& layout = run.reader.layout();

    const SourceField& field = layout.fields.at(slot);
    const ValueRule rule = valueRuleFor(job, field);

    // Sample value. A DBF sample is the field's value as listed, padded to the
    // field length. Its symbol fixes the size of every code, so it is measured
    // as it will be encoded: the spaces removed as for every record.
    QByteArray sample = job.sample.left(sampleLength);
    if (job.typeSource == BaseDbf && sample.size() < sampleLength)
        sample.append(QByteArray(sampleLength - sample.size(), ' '));
    if (isBlankValue(sample.constData(), sample.size()))
        return fail(generationText(kTextBlankSample));
    ValueRule sampleRule;  // already the listed text: only the spaces go
    sampleRule.trimStart = rule.trimStart;
    sampleRule.trimEnd = rule.trimEnd;
    sample = encodedValue(sampleRule, sample);
    if (job.typeSource == BaseText && field.offset + field.length > layout.recordLength)
        return fail(generationText(kTextRangeOutside)
                        .arg(field.offset)
                        .arg(field.offset + field.length - 1)
                        .arg(layout.recordLength - 1));

    // Trial encoding: the sample's symbol fixes W x H for the whole run.
    int width = 0;
    int height = 0;
    if (!RecordCoder::measure(parameters, sample, &width, &height))
        return fail(generationText(qr ? kTextQrTrial : kTextDatamatrixTrial));
    run.width = width;
    run.height = height;
    run.coder.emplace(parameters, job.options, job.blankCodes, width, height);

    if (job.outputPath.isEmpty())
        return fail(generationText(kTextNoDestination));

    // The outputs must not be a file the run reads, nor one another.
    const OutputFiles& files = writer.files();
    for (const QString& destination : files.destinations()) {
        const QString refusal = overwriteRefusal(destination, job.typeSource, job.sourcePath);
        if (!refusal.isEmpty())
            return fail(refusal);
    }
    if (sameFile(files.dbfPath(), files.textPath()))
        return fail(generationText(kTextSameOutputs).arg(QDir::toNativeSeparators(files.textPath())));

    RecordPlan& plan = run.plan;
    plan.sourceLength = layout.recordLength;
    plan.codeLength = run.coder->fieldLength();
    plan.valueOffset = field.offset;
    plan.valueLength = field.length;
    plan.insertion = plan.sourceLength;
    plan.value = rule;
    if (rule.kind == ValueKind::DbfMemo)
        run.reader.setMemoValue(slot, plan.valueSlot(), plan.valueLength);
    run.recordCount = layout.recordCount;

    QByteArray header;
    QString sourceMemo;
    if (job.typeSource == BaseDbf) {
        sourceMemo = sourceMemoPath(job.sourcePath, layout);
        if (!sourceMemo.isEmpty()) {
            // The memo copied is read too, and its copy must not replace a file the run reads.
            const QString memoOutput = memoOutputPathFor(files.dbfPath(), sourceMemo);
            if (sameFile(memoOutput, sourceMemo))
                return fail(generationText(kTextSameFile));
            const QString refusal = overwriteRefusal(memoOutput, job.typeSource, job.sourcePath);
            if (!refusal.isEmpty())
                return fail(refusal);
            for (const QString& destination : files.destinations())
                if (sameFile(destination, sourceMemo))
                    return fail(generationText(kTextSameMemo).arg(QDir::toNativeSeparators(sourceMemo)));
        }
        const DbfFieldInfo& last = job.fields.last();
        plan.tagsRule = qstrncmp(last.name, "TAGS", sizeof last.name) == 0 && last.length == 8
            && layout.fields.last().length == 8;
        if (plan.tagsRule)
            plan.insertion = plan.sourceLength - 8;
        const QByteArray name = job.newFieldName.left(10).toLatin1();
        if (name.isEmpty() || static_cast<unsigned char>(name.at(0)) <= 0x20)
            return fail(generationText(kTextBadFieldName));
        // The name as written (cut at 10 bytes) must differ from every field
        // of the source, compared without regard to case as dBase does.
        for (const SourceField& existing : layout.fields)
            if (existing.name.compare(name, Qt::CaseInsensitive) == 0)
                return fail(generationText(kTextDuplicateField).arg(QString::fromLatin1(name)));
        QString headerError;
        header = buildEncodedHeader(layout, plan, run.recordCount, name, &headerError, !sourceMemo.isEmpty());
        if (header.isEmpty())
            return fail(headerError);
    }

    if (feedback.cancelled())
        return fail(cancelledText());
    if (!run.reader.open())
        return fail(generationText(kTextCannotOpenSource));
    QString openError;
    if (!writer.open(header, &openError)) {
        writer.discard();
        return fail(openError);
    }
    if (!sourceMemo.isEmpty()
        && !writer.copyMemo(
            sourceMemo, memoOutputPathFor(files.dbfPath(), sourceMemo),
            [&feedback] {
                feedback.liveness();
                return !feedback.cancelled();
            },
            &openError)) {
        writer.discard();
        return fail(openError);
    }
    return true;
}

bool runRecords(PreparedRun& run, OutputWriter& writer, GenerationFeedback& feedback, std::atomic<qint64>& current,
                QString* error)
{
    if (run.csv)
        return runCsvRecords(run, writer, feedback, current, error);
    auto fail = [error](const QString& text) {
        if (error)
            *error = text;
        return false;
    };
    const RecordPlan& plan = run.plan;
    const RecordCoder& coder = *run.coder;
    const qint64 count = run.recordCount;
    // One buffer, sized from the source: the record is lengthened in place.
    std::vector<char> record(std::size_t(plan.bufferLength()));

    RecordProgress progress(feedback, count);
    current = 1;
    for (qint64 number = 1; number <= count; number = ++current) {
        if (feedback.cancelled())
            return fail(cancelledText());
        progress.reached(number);
        feedback.liveness();
        if (run.reader.read(record.data()) != SourceReader::ReadStatus::Ok)
            return fail(shortRecordText(run.reader.layout().kind, number));
        const RecordCoder::Result result = plan.encode(coder, record.data());
        if (!result.ok())
            return fail(plan.failureText(coder, result, number, record.data()));
        if (!writer.writeRecord(record.data(), plan.outputLength(), error))
            return false;
    }
    return true;
}

}  // namespace codiflux
