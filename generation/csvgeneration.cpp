#include "generation/csvgeneration.h"

#include "codes/gs1.h"
#include "generation/texts.h"

#include <QDir>

#include <algorithm>
#include <limits>
#include <memory>
#include <vector>

namespace codiflux {

namespace {

const char kTextNoColumn[]
    = QT_TRANSLATE_NOOP("BaseEncoder", "Ligne 1 : l'en-tête n'a pas de colonne n°%1 (il en a %2).");
const char kTextValueNotCodable[]
    = QT_TRANSLATE_NOOP("BaseEncoder",
                        "Ligne %1 : la valeur « %2 » contient un caractère que le code ne peut pas "
                        "porter (seuls ceux de Windows-1252 le peuvent).");
const char kTextBadColumnName[] = QT_TRANSLATE_NOOP("BaseEncoder", "Le nom de la colonne encodée est vide.");
const char kTextColumnNameEncoding[]
    = QT_TRANSLATE_NOOP("BaseEncoder",
                        "Le nom de la colonne encodée « %1 » contient un caractère que l'encodage du "
                        "fichier (Windows-1252) ne peut pas écrire.");
const char kTextCsvWriteError[] = QT_TRANSLATE_NOOP("BaseEncoder", "Erreur d'écriture de la base encodée (CSV).");
const char kTextCsvChanged[]
    = QT_TRANSLATE_NOOP("BaseEncoder", "Le fichier CSV a changé pendant la fabrication (enregistrement n°%1).");

}  // namespace

Error CsvSource::scan(const QString& path, const CsvOptions& options, int column,
                      const std::function<bool()>& beforeRow)
{
    stop();
    path_ = path;
    options_ = options;
    layout_ = SourceLayout();
    layout_.kind = BaseKind::Csv;
    longestValue_ = 0;
    if (Error error = reader_.open(path, options))
        return error;
    format_ = reader_.format();
    columns_ = reader_.columns();
    for (const QString& name : std::as_const(columns_)) {
        SourceField field;
        field.name = name.toUtf8();
        layout_.fields.append(field);
    }
    header_ = reader_.header().raw;
    headerLineEnd_ = reader_.header().lineEndLength;
    longestComposed_.clear();
    longestRecord_ = 0;
    if (!templateText_.isEmpty()) {
        if (Error error = ValueTemplate::parse(templateText_, columns_, template_, rule_.utf8))
            return error;
        column = 0;
    }
    if (column < 0 || column >= columns_.size())
        return Error(ErrorCode::ParameterRefused, generationText(kTextNoColumn).arg(column + 1).arg(columns_.size()));
    column_ = column;
    // From here on the options are the format found, so that the record pass
    // reads the file exactly as this one did.
    options_.delimiter = format_.delimiter;
    options_.encoding = format_.encoding;

    CsvRecord record;
    for (;;) {
        if (beforeRow && !beforeRow())
            return Error(ErrorCode::Cancelled, cancelledText());
        const CsvReader::Status status = reader_.next(record.row);
        if (status == CsvReader::Status::End)
            break;
        if (status == CsvReader::Status::Failed)
            return Error(ErrorCode::SourceMalformed, reader_.error());
        if (Error refused = readValue(record, layout_.recordCount + 1))
            return refused;
        ++layout_.recordCount;
        if (!templateText_.isEmpty() && (longestRecord_ == 0 || record.value.size() > longestComposed_.size())) {
            longestComposed_ = record.value;
            longestRecord_ = layout_.recordCount;
        }
        longestValue_ = int(std::min<qsizetype>(std::max<qsizetype>(longestValue_, record.value.size()),
                                                std::numeric_limits<int>::max()));
    }
    reader_.close();
    return {};
}

Error CsvSource::readValue(CsvRecord& record, qint64 number) const
{
    // Under a QR code's ECI the value goes as UTF-8: every character passes.
    auto cellBytes = [&](int column, QByteArray& out) {
        const QByteArrayView cell = record.row.cell(column);
        if (!rule_.utf8)
            return csvCodeBytes(cell, format_.encoding, out);
        out = format_.encoding == CsvEncoding::Utf8 ? cell.toByteArray() : csvText(cell, format_.encoding).toUtf8();
        return true;
    };
    if (!templateText_.isEmpty()) {
        QByteArray cell;
        int refusedCell = -1;
        const Error fault = template_.compose(
            [&](const ValueTemplate::Part& part) -> QByteArrayView {
                if (!cellBytes(part.field, cell)) {
                    refusedCell = part.field;
                    cell.clear();
                }
                return cell;
            },
            record.value);
        if (refusedCell >= 0)
            return Error(ErrorCode::SourceMalformed,
                         generationText(kTextValueNotCodable)
                             .arg(record.row.line)
                             .arg(csvText(record.row.cell(refusedCell), format_.encoding)));
        if (fault)
            return Error(ErrorCode::ValueRefused, templateRecordFault(number, fault.text));
    } else if (!cellBytes(column_, record.value))
        return Error(ErrorCode::SourceMalformed,
                     generationText(kTextValueNotCodable)
                         .arg(record.row.line)
                         .arg(csvText(record.row.cell(column_), format_.encoding)));
    if (rule_.trimStart || rule_.trimEnd) {
        const int length = int(std::min<qsizetype>(record.value.size(), std::numeric_limits<int>::max() - 1));
        record.value.resize(qsizetype(length) + 1);
        record.value.truncate(encodedValue(rule_, record.value.constData(), length, record.value.data()));
    }
    return {};
}

Error CsvSource::start()
{
    return reader_.open(path_, options_);
}

Error CsvSource::read(CsvRecord& record, qint64 number)
{
    const CsvReader::Status status = reader_.next(record.row);
    if (status == CsvReader::Status::End)
        return Error(ErrorCode::SourceMalformed, generationText(kTextCsvChanged).arg(number));
    if (status == CsvReader::Status::Failed)
        return Error(ErrorCode::SourceMalformed, reader_.error());
    return readValue(record, number);
}

void CsvSource::stop()
{
    reader_.close();
}

Error CsvSource::outputHeader(const QString& newName, QByteArray& out, const QString& hriName) const
{
    if (newName.isEmpty())
        return Error(ErrorCode::ParameterRefused, generationText(kTextBadColumnName));
    QByteArray name;
    if (!csvEncode(newName, format_.encoding, name))
        return Error(ErrorCode::ParameterRefused, generationText(kTextColumnNameEncoding).arg(newName));
    out.clear();
    if (format_.byteOrderMark)
        out += "\xEF\xBB\xBF";
    out.append(header_.constData(), header_.size() - headerLineEnd_);
    appendCsvCell(out, format_.delimiter, name);
    if (!hriName.isEmpty()) {
        if (!csvEncode(hriName, format_.encoding, name))
            return Error(ErrorCode::ParameterRefused, generationText(kTextColumnNameEncoding).arg(hriName));
        appendCsvCell(out, format_.delimiter, name);
    }
    out.append(header_.constData() + header_.size() - headerLineEnd_, headerLineEnd_);
    return {};
}

void CsvSource::outputRow(const CsvRecord& record, const char* code, int length, QByteArray& out,
                          const QByteArray* hri) const
{
    const QByteArray& raw = record.row.raw;
    const qsizetype body = raw.size() - record.row.lineEndLength;
    out.resize(0);
    out.append(raw.constData(), body);
    QByteArrayView text(code, length);
    QByteArray converted;
    // The code text is 'A' to 'P' and the end-of-line character, a Latin-1
    // byte that a UTF-8 file writes as its character.
    if (format_.encoding == CsvEncoding::Utf8
        && std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; })) {
        converted = csvText(text, CsvEncoding::Windows1252).toUtf8();
        text = converted;
    }
    appendCsvCell(out, format_.delimiter, text);
    if (hri)
        appendCsvCell(out, format_.delimiter, *hri);  // GS1's 82 characters: ASCII in either encoding
    out.append(raw.constData() + body, record.row.lineEndLength);
}

namespace {

// The record pass of a CSV source: rows vary in length, so each slot holds
// the row as read, its value and its code text; the output row is made at the
// write, byte for byte the source row and one more cell.
class CsvPass final : public RecordPass {
public:
    CsvPass(CsvSource& source, const RecordCoder& coder, bool humanReadable)
        : source_(source)
        , coder_(coder)
        , humanReadable_(humanReadable)
        , codeLength_(std::size_t(std::max(coder.fieldLength(), 1)))
    { }
    void reserve(std::size_t count) override
    {
        records_.resize(count);
        codes_.resize(count * codeLength_);
    }
    Error read(std::size_t slot, qint64 number) override { return source_.read(records_[slot], number); }
    Error code(std::size_t slot, qint64 number) override
    {
        const QByteArray& value = records_[slot].value;
        return coder_.code(value.constData(), valueLength(value), codeText(slot), number);
    }
    char* codeText(std::size_t slot) override { return codes_.data() + slot * codeLength_; }
    QByteArrayView encodedValue(std::size_t slot) const override
    {
        const QByteArray& value = records_[slot].value;
        return QByteArrayView(value.constData(), valueLength(value));
    }
    Error write(std::size_t slot, OutputWriter& writer) override
    {
        if (humanReadable_) {
            const QByteArray& value = records_[slot].value;
            hri_ = coder_.humanReadable(value.constData(), valueLength(value));
        }
        source_.outputRow(records_[slot], codeText(slot), coder_.fieldLength(), row_, humanReadable_ ? &hri_ : nullptr);
        if (writer.writeRecord(row_.data(), row_.size()))
            return Error(ErrorCode::WriteFailed, generationText(kTextCsvWriteError));
        return {};
    }

private:
    static int valueLength(const QByteArray& value)
    {
        return int(std::min<qsizetype>(value.size(), std::numeric_limits<int>::max()));
    }

    CsvSource& source_;  // the run's, open for the record pass
    const RecordCoder& coder_;
    const bool humanReadable_;
    const std::size_t codeLength_;
    std::vector<CsvRecord> records_;
    std::vector<char> codes_;
    QByteArray row_;  // the output row being written
    QByteArray hri_;
};

}  // namespace

Error prepareCsvGeneration(const GenerationJob& job, GenerationFeedback& feedback, PreparedRun& run,
                           OutputWriter& writer)
{
    auto owned = std::make_unique<CsvSource>();
    CsvSource& source = *owned;
    ValueRule rule;  // the cell as it is, spaces removed as the preview removes them
    rule.trimStart = job.trimStart;
    rule.trimEnd = job.trimEnd;
    rule.utf8 = carriesUtf8(job.parameters);
    source.setValueRule(rule);
    source.setValueTemplate(job.valueTemplate);
    if (!job.hriFieldName.isEmpty() && !gs1::enabled(job.parameters))
        return Error(ErrorCode::ParameterRefused, generationText(texts::kTextHriWithoutGs1));
    feedback.progressRange(0, 0);
    feedback.progressValue(0);
    if (Error error = source.scan(job.sourcePath, job.csv, job.fieldIndex, [&feedback] {
            feedback.liveness();
            return !feedback.cancelled();
        }))
        return error;

    // The sample, padded to the longest value of the column; with a template
    // the longest value it made.
    const QByteArray& given = job.valueTemplate.isEmpty() ? job.sample : source.longestComposed();
    if (isBlankValue(given.constData(), given.size(), rule.utf8))
        return Error(ErrorCode::ValueRefused, blankSampleText());
    QByteArray sample = encodedValue(rule, given);
    if (sample.size() < source.longestValue())
        sample.append(QByteArray(source.longestValue() - sample.size(), ' '));
    if (Error refused = RecordCoder::measureSymbol(job.parameters, sample, &run.width, &run.height))
        return refused;
    run.coder.emplace(job.parameters, job.options, job.blankCodes, run.width, run.height);
    run.plan = RecordPlan();
    run.plan.codeLength = run.coder->fieldLength();
    run.recordCount = source.recordCount();

    if (job.outputPath.isEmpty())
        return Error(ErrorCode::ParameterRefused, generationText(texts::kTextNoDestination));
    if (Error error = checkDestinations(job, writer.files(), QString()))
        return error;

    QByteArray header;
    if (Error error = source.outputHeader(job.newFieldName, header, job.hriFieldName))
        return error;
    run.source = std::move(owned);
    run.passKind = RecordPassKind::CsvRows;
    run.pass = std::make_unique<CsvPass>(source, *run.coder, !job.hriFieldName.isEmpty());
    // The header goes as the first row; a destination refused when it opens
    // is told as a failed write of the encoded CSV.
    Error error = openOutputs(feedback, run, writer, QByteArray(), QString());
    if (error.code == ErrorCode::DestinationRefused)
        error.text = generationText(kTextCsvWriteError);
    if (!error && writer.writeRecord(header.data(), header.size())) {
        writer.discard();
        error = Error(ErrorCode::WriteFailed, generationText(kTextCsvWriteError));
    }
    return error;
}

}  // namespace codiflux
