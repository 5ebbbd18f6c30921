#include "generation/csvgeneration.h"

#include "generation/texts.h"

#include <QDir>

#include <algorithm>
#include <limits>
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

QString csvWriteErrorText()
{
    return generationText(kTextCsvWriteError);
}

QString csvChangedText(qint64 record)
{
    return generationText(kTextCsvChanged).arg(record);
}

bool CsvSource::scan(const QString& path, const CsvOptions& options, int column, const std::function<bool()>& beforeRow,
                     QString* error)
{
    close();
    path_ = path;
    options_ = options;
    recordCount_ = 0;
    longestValue_ = 0;
    if (const Error opened = reader_.open(path, options)) {
        if (error)
            *error = opened.text;
        return false;
    }
    format_ = reader_.format();
    columns_ = reader_.columns();
    header_ = reader_.header().raw;
    headerLineEnd_ = reader_.header().lineEndLength;
    if (column < 0 || column >= columns_.size()) {
        if (error)
            *error = generationText(kTextNoColumn).arg(column + 1).arg(columns_.size());
        return false;
    }
    column_ = column;
    // From here on the options are the format found, so that the record pass
    // reads the file exactly as this one did.
    options_.delimiter = format_.delimiter;
    options_.encoding = format_.encoding;

    CsvRecord record;
    for (;;) {
        if (beforeRow && !beforeRow()) {
            if (error)
                *error = cancelledText();
            return false;
        }
        const CsvReader::Status status = reader_.next(record.row);
        if (status == CsvReader::Status::End)
            break;
        if (status == CsvReader::Status::Failed) {
            if (error)
                *error = reader_.error();
            return false;
        }
        if (!readValue(record, error))
            return false;
        ++recordCount_;
        longestValue_ = int(std::min<qsizetype>(std::max<qsizetype>(longestValue_, record.value.size()),
                                                std::numeric_limits<int>::max()));
    }
    reader_.close();
    return true;
}

bool CsvSource::readValue(CsvRecord& record, QString* error) const
{
    if (csvCodeBytes(record.row.cell(column_), format_.encoding, record.value)) {
        if (rule_.trimStart || rule_.trimEnd) {
            const int length = int(std::min<qsizetype>(record.value.size(), std::numeric_limits<int>::max() - 1));
            record.value.resize(qsizetype(length) + 1);
            record.value.truncate(encodedValue(rule_, record.value.constData(), length, record.value.data()));
        }
        return true;
    }
    if (error)
        *error = generationText(kTextValueNotCodable)
                     .arg(record.row.line)
                     .arg(csvText(record.row.cell(column_), format_.encoding));
    return false;
}

bool CsvSource::open(QString* error)
{
    const Error opened = reader_.open(path_, options_);
    if (opened && error)
        *error = opened.text;
    return !opened;
}

CsvSource::Read CsvSource::read(CsvRecord& record, QString* error)
{
    const CsvReader::Status status = reader_.next(record.row);
    if (status == CsvReader::Status::End)
        return Read::End;
    if (status == CsvReader::Status::Failed) {
        if (error)
            *error = reader_.error();
        return Read::Failed;
    }
    return readValue(record, error) ? Read::Ok : Read::Failed;
}

void CsvSource::close()
{
    reader_.close();
}

bool CsvSource::outputHeader(const QString& newName, QByteArray& out, QString* error) const
{
    if (newName.isEmpty()) {
        if (error)
            *error = generationText(kTextBadColumnName);
        return false;
    }
    QByteArray name;
    if (!csvEncode(newName, format_.encoding, name)) {
        if (error)
            *error = generationText(kTextColumnNameEncoding).arg(newName);
        return false;
    }
    out.clear();
    if (format_.byteOrderMark)
        out += "\xEF\xBB\xBF";
    out.append(header_.constData(), header_.size() - headerLineEnd_);
    appendCsvCell(out, format_.delimiter, name);
    out.append(header_.constData() + header_.size() - headerLineEnd_, headerLineEnd_);
    return true;
}

void CsvSource::outputRow(const CsvRecord& record, const char* code, int length, QByteArray& out) const
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
    out.append(raw.constData() + body, record.row.lineEndLength);
}

bool prepareCsvGeneration(const GenerationJob& job, GenerationFeedback& feedback, PreparedRun& run,
                          OutputWriter& writer, QString* error)
{
    auto fail = [error](const QString& text) {
        if (error)
            *error = text;
        return false;
    };
    run.csv = std::make_shared<CsvSource>();
    CsvSource& source = *run.csv;
    ValueRule rule;  // the cell as it is, spaces removed as the preview removes them
    rule.trimStart = job.trimStart;
    rule.trimEnd = job.trimEnd;
    source.setValueRule(rule);
    feedback.progressRange(0, 0);
    feedback.progressValue(0);
    QString text;
    if (!source.scan(
            job.sourcePath, job.csv, job.fieldIndex,
            [&feedback] {
                feedback.liveness();
                return !feedback.cancelled();
            },
            &text))
        return fail(text);

    // The sample, padded to the longest value of the column.
    if (isBlankValue(job.sample.constData(), job.sample.size()))
        return fail(blankSampleText());
    QByteArray sample = encodedValue(rule, job.sample);
    if (sample.size() < source.longestValue())
        sample.append(QByteArray(source.longestValue() - sample.size(), ' '));

    int width = 0;
    int height = 0;
    if (const Error refused = RecordCoder::measureSymbol(job.parameters, sample, &width, &height))
        return fail(refused.text);
    run.width = width;
    run.height = height;
    run.coder.emplace(job.parameters, job.options, job.blankCodes, width, height);
    run.plan = RecordPlan();
    run.plan.codeLength = run.coder->fieldLength();
    run.recordCount = source.recordCount();

    if (job.outputPath.isEmpty())
        return fail(generationText(texts::kTextNoDestination));
    if (sameFile(writer.files().dbfPath(), job.sourcePath))
        return fail(sameFileText());

    QByteArray header;
    if (!source.outputHeader(job.newFieldName, header, &text))
        return fail(text);
    if (!source.open(&text))
        return fail(text);
    if (!writer.open(header, &text)) {
        writer.discard();
        return fail(text == cannotWriteText() ? text : csvWriteErrorText());
    }
    return true;
}

bool runCsvRecords(PreparedRun& run, OutputWriter& writer, GenerationFeedback& feedback, std::atomic<qint64>& current,
                   QString* error)
{
    auto fail = [error](const QString& text) {
        if (error)
            *error = text;
        return false;
    };
    CsvSource& source = *run.csv;
    const RecordCoder& coder = *run.coder;
    const qint64 count = run.recordCount;
    const int r = run.plan.codeLength;
    std::vector<char> code(std::size_t(std::max(r, 1)));
    CsvRecord record;
    QByteArray out;
    QString text;

    RecordProgress progress(feedback, count);
    current = 1;
    for (qint64 number = 1; number <= count; number = ++current) {
        if (feedback.cancelled())
            return fail(cancelledText());
        progress.reached(number);
        feedback.liveness();
        const CsvSource::Read read = source.read(record, &text);
        if (read == CsvSource::Read::Failed)
            return fail(text);
        if (read == CsvSource::Read::End)
            return fail(csvChangedText(number));
        const int length = int(std::min<qsizetype>(record.value.size(), std::numeric_limits<int>::max()));
        const RecordCoder::Result result = coder.code(record.value.constData(), length, code.data());
        if (!result.ok())
            return fail(coder.failureText(result, number, record.value.constData(), length));
        source.outputRow(record, code.data(), r, out);
        if (!writer.writeRecord(out.data(), out.size(), &text))
            return fail(csvWriteErrorText());
    }
    return true;
}

}  // namespace codiflux
