#include "generation/run.h"

#include "bases/listing.h"
#include "bases/textbase.h"
#include "codes/gs1.h"
#include "generation/csvgeneration.h"
#include "generation/textpass.h"
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
ValueRule valueRuleFor(const GenerationJob& job, RecordPassKind pass, const SourceField& field)
{
    ValueRule rule;
    if (pass == RecordPassKind::DbfCopy) {
        rule.kind = field.type == 'M' ? ValueKind::DbfMemo : ValueKind::DbfField;
        rule.fieldType = field.type != 'C' && field.decimals != 0 ? 'F' : field.type;
        rule.decimalPoint = dbf_decimal_point();
    }
    rule.trimStart = job.trimStart;
    rule.trimEnd = job.trimEnd;
    rule.utf8 = carriesUtf8(job.parameters);
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

// The job's value template, read against the source's fields.
Error openTemplate(const GenerationJob& job, PreparedRun& run, qsizetype* sampleLength)
{
    if (run.passKind == RecordPassKind::Utf8Lines)
        return Error(ErrorCode::ValueRefused, templateUtf8TextRefusal());
    run.valueTemplate = std::make_unique<ValueTemplate>();
    if (Error error = ValueTemplate::parse(job.valueTemplate, run.source->layout(), *run.valueTemplate))
        return error;
    // Every byte of a single-byte code page may take up to 3 in UTF-8.
    *sampleLength = qsizetype(run.valueTemplate->maxLength()) * (carriesUtf8(job.parameters) ? 3 : 1);
    return {};
}

// Opens the source of a job copied record by record; `sampleLength`
// receives G, the length of the value the sample is cut or padded to.
Error openSource(const GenerationJob& job, GenerationFeedback& feedback, PreparedRun& run, qsizetype* sampleLength)
{
    if (!job.format)
        return Error(ErrorCode::SourceUnreadable, generationText(kTextNoSource));
    const bool composed = !job.valueTemplate.isEmpty();
    SourceRequest request;
    request.forcedCodePage = job.forcedCodePage();
    if (!job.format->hasFields()) {
        // A base of lines is scanned as it opens.
        feedback.progressRange(0, 0);
        feedback.progressValue(0);
        request.rangeStart = composed ? 1 : job.rangeStart;
        request.rangeCount = composed ? 1 : job.rangeCount;
        request.beforeRecord = [&feedback] {
            feedback.liveness();
            return !feedback.cancelled();
        };
    }
    Error error;
    run.source = job.format->open(job.sourcePath, request, &error);
    if (!run.source)
        return error;
    run.passKind = job.format->recordPass(run.source.get());
    const SourceLayout& layout = run.source->layout();
    const qsizetype fieldCount = layout.fields.size();
    if (fieldCount == 0)
        return Error(ErrorCode::SourceUnreadable, generationText(kTextNoSource));
    // The offsets come from the table's fields, the encoded header from its
    // descriptors: a header whose descriptors say otherwise would be written corrupt.
    const qsizetype descriptors = run.source->descriptorCount();
    const Error mismatch = descriptors == fieldCount
        ? Error()
        : Error(ErrorCode::SourceMalformed, generationText(kTextFieldMismatch).arg(descriptors).arg(fieldCount));
    if (composed)
        return mismatch ? mismatch : openTemplate(job, run, sampleLength);
    if (job.format->hasFields()) {
        if (job.fieldIndex < 0 || job.fieldIndex >= fieldCount)
            return Error(ErrorCode::ParameterRefused, generationText(kTextNoField));
        if (mismatch)
            return mismatch;
        *sampleLength = std::max(0, layout.fields.at(job.fieldIndex).length);
    } else if (job.rangeStart >= 1 && job.rangeCount >= 1) {
        // The sample holds the range's characters, each up to 4 bytes of UTF-8.
        *sampleLength = qsizetype(job.rangeCount) * (carriesUtf8(job.parameters) ? 4 : 1);
    }
    return {};
}

// The sample value: a DBF sample is the field's value as listed, padded to
// the field length. Its symbol fixes the size of every code, so it is
// measured as it will be encoded, the spaces removed as for every record;
// the coder is then made for the run's W x H.
Error measureSample(const GenerationJob& job, const ValueRule& rule, qsizetype sampleLength, PreparedRun& run)
{
    const SourceLayout& layout = run.source->layout();
    const bool composed = run.valueTemplate != nullptr;
    const bool tableField = run.passKind == RecordPassKind::DbfCopy && !composed;
    const SourceField& field = layout.fields.at(tableField ? job.fieldIndex : 0);
    // A DBF sample is the symbol's bytes of G stored bytes: up to G x 3.
    const qsizetype room = tableField ? valueRoom(rule, sampleLength) - 1 : sampleLength;
    QByteArray sample = job.sample.left(room);
    // A template job without a sample (the window's) takes the longest value
    // among the listed records.
    if (composed && sample.isEmpty()) {
        qint64 record = 0;
        if (Error error = templateSample(job.sourcePath, *job.format, *run.valueTemplate, 0, kListedRecords,
                                         job.forcedCodePage(), rule.utf8, &sample, &record))
            return error;
    }
    if (tableField && sample.size() < sampleLength)
        sample.append(QByteArray(sampleLength - sample.size(), ' '));
    if (isBlankValue(sample.constData(), sample.size(), rule.utf8))
        return Error(ErrorCode::ValueRefused, blankSampleText());
    ValueRule sampleRule;  // already the listed text: only the spaces go
    sampleRule.trimStart = rule.trimStart;
    sampleRule.trimEnd = rule.trimEnd;
    sampleRule.utf8 = rule.utf8;
    sample = encodedValue(sampleRule, sample);
    if (!job.format->hasFields() && !composed && field.offset + field.length > layout.recordLength)
        return Error(ErrorCode::ParameterRefused,
                     generationText(kTextRangeOutside)
                         .arg(field.offset)
                         .arg(field.offset + field.length - 1)
                         .arg(layout.recordLength - 1));
    if (Error refused = RecordCoder::measureSymbol(job.parameters, sample, &run.width, &run.height))
        return refused;
    run.coder.emplace(job.parameters, job.options, job.blankCodes, run.width, run.height);
    return {};
}

}  // namespace

Error checkDestinations(const GenerationJob& job, const OutputFiles& files, const QString& sourceMemo)
{
    QStringList destinations = files.destinations();
    const QString memo = sourceMemo.isEmpty() ? QString() : memoOutputPathFor(files.dbfPath(), sourceMemo);
    if (!memo.isEmpty())
        destinations.append(memo);
    for (const QString& destination : std::as_const(destinations)) {
        const QString refusal = overwriteRefusal(destination, *job.format, job.sourcePath, sourceMemo);
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

namespace {

// GS1's human-readable text field: its length is that of the longest text,
// found by a first pass over the records, which also stops at the first
// value that would fail (the same text as the record loop's).
Error planHumanReadable(const GenerationJob& job, GenerationFeedback& feedback, PreparedRun& run)
{
    if (job.hriFieldName.isEmpty())
        return {};
    if (!gs1::enabled(job.parameters))
        return Error(ErrorCode::ParameterRefused, generationText(kTextHriWithoutGs1));
    const QByteArray name = job.hriFieldName.left(10).toLatin1();
    if (name.isEmpty() || static_cast<unsigned char>(name.at(0)) <= 0x20)
        return Error(ErrorCode::ParameterRefused, generationText(kTextBadFieldName));
    if (run.passKind == RecordPassKind::DbfCopy) {
        for (const SourceField& existing : run.source->layout().fields)
            if (existing.name.compare(name, Qt::CaseInsensitive) == 0)
                return Error(ErrorCode::ParameterRefused,
                             generationText(kTextDuplicateField).arg(QString::fromLatin1(name)));
        if (name.compare(job.newFieldName.left(10).toLatin1(), Qt::CaseInsensitive) == 0)
            return Error(ErrorCode::ParameterRefused,
                         generationText(kTextDuplicateField).arg(QString::fromLatin1(name)));
    }
    // A second reading of the base, with its own code page.
    Error error;
    const std::unique_ptr<Source> source = job.format->open(job.sourcePath, SourceRequest(), &error);
    if (!source)
        return error;
    if (run.plan.valueRule.kind == ValueKind::DbfMemo && !run.valueTemplate)
        source->setMemoValue(job.fieldIndex, run.plan.valueSlot(), run.plan.valueLength);
    if (Error started = source->start())
        return started;
    std::vector<char> buffer(std::size_t(run.plan.bufferLength()));
    std::vector<gs1::Element> elements;
    int longest = 1;
    for (qint64 number = 1; number <= run.recordCount; ++number) {
        if ((number & 1023) == 0) {
            if (feedback.cancelled())
                return Error(ErrorCode::Cancelled, cancelledText());
            feedback.liveness();
        }
        if (!source->next(buffer.data()))
            return Error(ErrorCode::SourceMalformed, source->shortRecordText(number));
        const int length = run.plan.value(buffer.data());
        if (length < 0)
            return run.plan.valueRefusal(*run.coder, number, buffer.data(), length);
        const char* value = buffer.data() + run.plan.valueSlot();
        if (isBlankValue(value, length))
            continue;
        if (gs1::parse(QByteArrayView(value, length), elements))
            return run.plan.valueRefusal(*run.coder, number, buffer.data(), length);
        longest = std::max(longest, int(gs1::humanReadable(elements).size()));
    }
    source->stop();
    run.plan.hriLength = longest;
    run.plan.hriFieldName = name;
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
        return Error(ErrorCode::ParameterRefused, generationText(kTextBadFieldName));
    // The name as written (cut at 10 bytes) must differ from every field
    // of the source, compared without regard to case as dBase does.
    for (const SourceField& existing : layout.fields)
        if (existing.name.compare(name, Qt::CaseInsensitive) == 0)
            return Error(ErrorCode::ParameterRefused,
                         generationText(kTextDuplicateField).arg(QString::fromLatin1(name)));
    return buildEncodedHeader(layout, plan, run.recordCount, name, withMemo, *header);
}

// Starts the record pass and opens the outputs (the memo copied beside the DBF).
}  // namespace

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

namespace {

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
    void reserve(std::size_t count) override
    {
        buffers_.resize(count * stride_);
        valueLengths_.resize(count);
    }
    Error read(std::size_t slot, qint64 number) override
    {
        if (!source_.next(buffer(slot)))
            return Error(ErrorCode::SourceMalformed, source_.shortRecordText(number));
        return {};
    }
    Error code(std::size_t slot, qint64 number) override
    {
        return plan_.encode(coder_, buffer(slot), number, &valueLengths_[slot]);
    }
    char* codeText(std::size_t slot) override { return buffer(slot) + plan_.insertion; }
    QByteArrayView encodedValue(std::size_t slot) const override
    {
        return QByteArrayView(buffer(slot) + plan_.valueSlot(), valueLengths_[slot]);
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
    std::vector<int> valueLengths_;  // of each slot's value at valueSlot(), after its code()
};

Error prepare(const GenerationJob& job, GenerationFeedback& feedback, PreparedRun& run, OutputWriter& writer)
{
    if (feedback.cancelled())
        return Error(ErrorCode::Cancelled, cancelledText());
    qsizetype sampleLength = 0;
    if (Error error = openSource(job, feedback, run, &sampleLength))
        return error;
    const SourceLayout& layout = run.source->layout();
    const bool composed = run.valueTemplate != nullptr;
    const bool table = run.passKind == RecordPassKind::DbfCopy;
    const int slot = table && !composed ? job.fieldIndex : 0;
    const SourceField& field = layout.fields.at(slot);
    run.transcoder = ValueTranscoder(run.source->codePage().page, carriesUtf8(job.parameters));
    ValueRule rule = valueRuleFor(job, run.passKind, field);
    rule.transcoder = &run.transcoder;
    if (Error error = measureSample(job, rule, sampleLength, run))
        return error;
    if (job.outputPath.isEmpty())
        return Error(ErrorCode::ParameterRefused, generationText(kTextNoDestination));
    const QString sourceMemo = run.source->memoFile();
    if (Error error = checkDestinations(job, writer.files(), sourceMemo))
        return error;

    RecordPlan& plan = run.plan;
    plan.sourceLength = layout.recordLength;
    plan.codeLength = run.coder->fieldLength();
    plan.valueOffset = field.offset;
    plan.valueLength = field.length;
    plan.insertion = plan.sourceLength;
    plan.valueRule = rule;
    if (composed) {
        run.valueTemplate->setTarget(&run.transcoder, rule.utf8);
        plan.valueTemplate = run.valueTemplate.get();
        plan.valueLength = int(sampleLength);
        plan.valueRule = ValueRule();
        plan.valueRule.trimStart = rule.trimStart;
        plan.valueRule.trimEnd = rule.trimEnd;
        plan.valueRule.utf8 = rule.utf8;
    }
    run.recordCount = layout.recordCount;
    if (Error error = planHumanReadable(job, feedback, run))
        return error;
    // The memo's text goes behind the whole output record, HRI field included.
    if (!composed && rule.kind == ValueKind::DbfMemo)
        run.source->setMemoValue(slot, plan.valueSlot(), plan.valueLength);

    QByteArray header;
    if (table)
        if (Error error = planDbfHeader(job, run, !sourceMemo.isEmpty(), &header))
            return error;
    // A text base read as UTF-8 has lines of varying byte lengths.
    if (run.passKind == RecordPassKind::Utf8Lines)
        run.pass = makeUtf8TextPass(*run.source, run.plan, *run.coder);
    else
        run.pass = std::make_unique<FixedPass>(*run.source, run.plan, *run.coder);
    return openOutputs(feedback, run, writer, header, sourceMemo);
}

}  // namespace

Error prepareGeneration(const GenerationJob& job, GenerationFeedback& feedback, PreparedRun& run, OutputWriter& writer)
{
    if (job.format && job.format->recordPass(nullptr) == RecordPassKind::CsvRows)
        return prepareCsvGeneration(job, feedback, run, writer);
    return prepare(job, feedback, run, writer);
}

Error composedSample(const BaseFormat& format, const QString& path, const QString& text, qint64 record,
                     const CodePage* forced, bool utf8, QByteArray* bytes)
{
    if (format.recordPass(nullptr) == RecordPassKind::CsvRows) {
        CsvSource source;
        source.setValueTemplate(text);
        ValueRule symbolRule;  // the cells as the symbol carries them
        symbolRule.utf8 = utf8;
        source.setValueRule(symbolRule);
        if (Error error = source.scan(path, CsvOptions(), 0, {}))
            return error;
        *bytes = source.longestComposed();
        return {};
    }
    ValueTemplate parsed;
    if (Error refused = parseTemplateFor(path, format, text, forced, parsed))
        return refused;
    qint64 found = 0;
    return templateSample(path, format, parsed, record, 0, forced, utf8, bytes, &found);
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
        if (Error error = pass.code(0, number))
            return error;
        if (Error error = pass.write(0, writer))
            return error;
    }
    return {};
}

}  // namespace codiflux
