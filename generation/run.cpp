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
    if (job.baseKind == BaseKind::Dbf) {
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

namespace {

// Opens the source of a DBF or text job; `sampleLength` receives G, the
// length of the value the sample is cut or padded to, and `dbf` the source
// when it is a table (null for a text source).
Error openSource(const GenerationJob& job, GenerationFeedback& feedback, PreparedRun& run, qsizetype* sampleLength,
                 DbfSource** dbf)
{
    *dbf = nullptr;
    Error error;
    if (job.baseKind == BaseKind::Text) {
        feedback.progressRange(0, 0);
        feedback.progressValue(0);
        run.source = TextSource::open(
            job.sourcePath, job.rangeStart, job.rangeCount,
            [&feedback] {
                feedback.liveness();
                return !feedback.cancelled();
            },
            &error);
        if (run.source && job.rangeStart >= 1 && job.rangeCount >= 1)
            *sampleLength = job.rangeCount;
        return error;
    }
    if (job.baseKind != BaseKind::Dbf)
        return Error(ErrorCode::SourceUnreadable, generationText(kTextNoSource));
    std::unique_ptr<DbfSource> source = DbfSource::open(job.sourcePath, &error);
    if (!source)
        return error;
    const qsizetype fieldCount = source->layout().fields.size();
    if (fieldCount == 0)
        return Error(ErrorCode::SourceUnreadable, generationText(kTextNoSource));
    if (job.fieldIndex < 0 || job.fieldIndex >= fieldCount)
        return Error(ErrorCode::Usage, generationText(kTextNoField));
    // The offsets come from the table's fields, the encoded header from its
    // descriptors: a header whose descriptors say otherwise would be written corrupt.
    if (source->descriptorCount() != fieldCount)
        return Error(ErrorCode::SourceMalformed,
                     generationText(kTextFieldMismatch).arg(source->descriptorCount()).arg(fieldCount));
    *sampleLength = std::max(0, source->layout().fields.at(job.fieldIndex).length);
    *dbf = source.get();
    run.source = std::move(source);
    return {};
}

// The sample value: a DBF sample is the field's value as listed, padded to
// the field length. Its symbol fixes the size of every code, so it is
// measured as it will be encoded, the spaces removed as for every record;
// the coder is then made for the run's W x H.
Error measureSample(const GenerationJob& job, const ValueRule& rule, qsizetype sampleLength, PreparedRun& run)
{
    const SourceLayout& layout = run.source->layout();
    const SourceField& field = layout.fields.at(job.baseKind == BaseKind::Dbf ? job.fieldIndex : 0);
    QByteArray sample = job.sample.left(sampleLength);
    if (job.baseKind == BaseKind::Dbf && sample.size() < sampleLength)
        sample.append(QByteArray(sampleLength - sample.size(), ' '));
    if (isBlankValue(sample.constData(), sample.size()))
        return Error(ErrorCode::ValueRefused, blankSampleText());
    ValueRule sampleRule;  // already the listed text: only the spaces go
    sampleRule.trimStart = rule.trimStart;
    sampleRule.trimEnd = rule.trimEnd;
    sample = encodedValue(sampleRule, sample);
    if (job.baseKind == BaseKind::Text && field.offset + field.length > layout.recordLength)
        return Error(ErrorCode::Usage,
                     generationText(kTextRangeOutside)
                         .arg(field.offset)
                         .arg(field.offset + field.length - 1)
                         .arg(layout.recordLength - 1));
    if (Error refused = RecordCoder::measureSymbol(job.parameters, sample, &run.width, &run.height))
        return refused;
    run.coder.emplace(job.parameters, job.options, job.blankCodes, run.width, run.height);
    return {};
}

// The outputs (the copied memo's included) must not be a file the run reads
// (the source, the memo the engine reads, the memo copied), nor one another.
Error checkDestinations(const GenerationJob& job, const OutputFiles& files, const QString& sourceMemo)
{
    QStringList destinations = files.destinations();
    const QString memo = sourceMemo.isEmpty() ? QString() : memoOutputPathFor(files.dbfPath(), sourceMemo);
    if (!memo.isEmpty())
        destinations.append(memo);
    for (const QString& destination : std::as_const(destinations)) {
        const QString refusal = overwriteRefusal(destination, job.baseKind, job.sourcePath, sourceMemo);
        if (!refusal.isEmpty())
            return Error(ErrorCode::DestinationRefused, refusal);
    }
    // named with the memo's suffix
    if (!memo.isEmpty() && QFileInfo(memo).absoluteFilePath() == QFileInfo(files.dbfPath()).absoluteFilePath())
        return Error(ErrorCode::DestinationRefused,
                     generationText(kTextMemoSameAsBase).arg(QDir::toNativeSeparators(memo)));
    if (sameFile(files.dbfPath(), files.textPath()))
        return Error(ErrorCode::DestinationRefused,
                     generationText(kTextSameOutputs).arg(QDir::toNativeSeparators(files.textPath())));
    return {};
}

// The TAGS rule, the new field's name and the encoded header of a DBF run.
Error planDbfHeader(const GenerationJob& job, PreparedRun& run, bool withMemo, QByteArray* header)
{
    const SourceLayout& layout = run.source->layout();
    RecordPlan& plan = run.plan;
    const SourceField& last = layout.fields.last();
    plan.tagsRule = last.name == "TAGS" && last.length == 8;
    if (plan.tagsRule)
        plan.insertion = plan.sourceLength - 8;
    const QByteArray name = job.newFieldName.left(10).toLatin1();
    if (name.isEmpty() || static_cast<unsigned char>(name.at(0)) <= 0x20)
        return Error(ErrorCode::Usage, generationText(kTextBadFieldName));
    // The name as written (cut at 10 bytes) must differ from every field
    // of the source, compared without regard to case as dBase does.
    for (const SourceField& existing : layout.fields)
        if (existing.name.compare(name, Qt::CaseInsensitive) == 0)
            return Error(ErrorCode::Usage, generationText(kTextDuplicateField).arg(QString::fromLatin1(name)));
    return buildEncodedHeader(layout, plan, run.recordCount, name, withMemo, *header);
}

// Starts the record pass and opens the outputs (the memo copied beside the DBF).
Error openOutputs(GenerationFeedback& feedback, PreparedRun& run, OutputWriter& writer, const QByteArray& header,
                  const QString& sourceMemo)
{
    if (feedback.cancelled())
        return Error(ErrorCode::Cancelled, cancelledText());
    const Error started = run.source->start();
    if (started)
        return started;
    Error error = writer.open(header);
    if (!error && !sourceMemo.isEmpty())
        error = writer.copyMemo(sourceMemo, memoOutputPathFor(writer.files().dbfPath(), sourceMemo), [&feedback] {
            feedback.liveness();
            return !feedback.cancelled();
        });
    if (error)
        writer.discard();
    return error;
}

// The record pass of a fixed-length source: each slot holds a buffer of
// bufferLength() bytes in which the record is lengthened in place.
class FixedPass final : public RecordPass {
public:
    FixedPass(Source& source, const RecordPlan& plan, const RecordCoder& coder)
        : source_(source)
        , plan_(plan)
        , coder_(coder)
        , stride_(std::size_t(plan.bufferLength()))
    { }
    void reserve(std::size_t count) override { buffers_.resize(count * stride_); }
    Error read(std::size_t slot, qint64 number) override
    {
        if (!source_.next(buffer(slot)))
            return Error(ErrorCode::SourceMalformed, source_.shortRecordText(number));
        return {};
    }
    RecordCoder::Result code(std::size_t slot) override { return plan_.encode(coder_, buffer(slot)); }
    char* codeText(std::size_t slot) override { return buffer(slot) + plan_.insertion; }
    QByteArrayView encodedValue(std::size_t slot, const RecordCoder::Result& result) const override
    {
        return QByteArrayView(buffer(slot) + plan_.valueSlot(), result.valueLength);
    }
    QString failureText(std::size_t slot, const RecordCoder::Result& result, qint64 number) const override
    {
        return plan_.failureText(coder_, result, number, buffer(slot));
    }
    Error write(std::size_t slot, OutputWriter& writer) override
    {
        return writer.writeRecord(buffer(slot), plan_.outputLength());
    }

private:
    char* buffer(std::size_t slot) { return buffers_.data() + slot * stride_; }
    const char* buffer(std::size_t slot) const { return buffers_.data() + slot * stride_; }

    Source& source_;
    const RecordPlan& plan_;
    const RecordCoder& coder_;
    const std::size_t stride_;
    std::vector<char> buffers_;
};

Error prepare(const GenerationJob& job, GenerationFeedback& feedback, PreparedRun& run, OutputWriter& writer)
{
    if (feedback.cancelled())
        return Error(ErrorCode::Cancelled, cancelledText());
    qsizetype sampleLength = 0;
    DbfSource* dbf = nullptr;
    if (Error error = openSource(job, feedback, run, &sampleLength, &dbf))
        return error;
    const SourceLayout& layout = run.source->layout();
    const int slot = job.baseKind == BaseKind::Dbf ? job.fieldIndex : 0;
    const SourceField& field = layout.fields.at(slot);
    const ValueRule rule = valueRuleFor(job, field);
    if (Error error = measureSample(job, rule, sampleLength, run))
        return error;
    if (job.outputPath.isEmpty())
        return Error(ErrorCode::Usage, generationText(kTextNoDestination));
    const QString sourceMemo = dbf ? dbf->memoFile() : QString();
    if (Error error = checkDestinations(job, writer.files(), sourceMemo))
        return error;

    RecordPlan& plan = run.plan;
    plan.sourceLength = layout.recordLength;
    plan.codeLength = run.coder->fieldLength();
    plan.valueOffset = field.offset;
    plan.valueLength = field.length;
    plan.insertion = plan.sourceLength;
    plan.value = rule;
    if (dbf && rule.kind == ValueKind::DbfMemo)
        dbf->setMemoValue(slot, plan.valueSlot(), plan.valueLength);
    run.recordCount = layout.recordCount;

    QByteArray header;
    if (dbf)
        if (Error error = planDbfHeader(job, run, !sourceMemo.isEmpty(), &header))
            return error;
    run.pass = std::make_unique<FixedPass>(*run.source, run.plan, *run.coder);
    return openOutputs(feedback, run, writer, header, sourceMemo);
}

}  // namespace

Error prepareGeneration(const GenerationJob& job, GenerationFeedback& feedback, PreparedRun& run, OutputWriter& writer)
{
    if (job.baseKind == BaseKind::Csv)
        return prepareCsvGeneration(job, feedback, run, writer);
    return prepare(job, feedback, run, writer);
}

Error runRecords(PreparedRun& run, OutputWriter& writer, GenerationFeedback& feedback, std::atomic<qint64>& current)
{
    RecordPass& pass = *run.pass;
    pass.reserve(1);
    RecordProgress progress(feedback, run.recordCount);
    current = 1;
    for (qint64 number = 1; number <= run.recordCount; number = ++current) {
        if (feedback.cancelled())
            return Error(ErrorCode::Cancelled, cancelledText());
        progress.reached(number);
        feedback.liveness();
        if (Error error = pass.read(0, number))
            return error;
        const RecordCoder::Result result = pass.code(0);
        if (!result.ok())
            return Error(ErrorCode::ValueRefused, pass.failureText(0, result, number));
        if (Error error = pass.write(0, writer))
            return error;
    }
    return {};
}

}  // namespace codiflux
