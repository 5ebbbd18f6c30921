#include "bases/csvbase.h"

#include <QCoreApplication>

#include <array>
#include <cstring>

namespace codiflux {

namespace {

constexpr qsizetype kBufferSize = qsizetype(1) << 20;
// Delimiter detection looks at this many rows, within this many bytes.
constexpr int kDetectionRows = 10;
constexpr qint64 kDetectionBytes = qint64(1) << 16;
// A quoted cell still open after this many bytes is taken for an unbalanced
// quote, rather than read the rest of a large file into memory (a spreadsheet
// cell holds at most 32 767 characters).
constexpr qsizetype kMaxRowBytes = qsizetype(1) << 24;

QString tr(const char* text)
{
    return QCoreApplication::translate("CsvReader", text);
}

const char kTextCannotOpen[] = QT_TRANSLATE_NOOP("CsvReader", "Impossible d'ouvrir le fichier CSV.\nErreur : %1");
const char kTextReadError[] = QT_TRANSLATE_NOOP("CsvReader", "Erreur de lecture du fichier CSV.\nErreur : %1");
const char kTextEmpty[] = QT_TRANSLATE_NOOP("CsvReader", "Ligne 1 : le fichier CSV est vide, il n'a pas d'en-tête.");
const char kTextUnbalanced[]
    = QT_TRANSLATE_NOOP("CsvReader", "Ligne %1 : le guillemet ouvert sur cette ligne n'est jamais fermé.");
const char kTextAfterQuote[] = QT_TRANSLATE_NOOP(
    "CsvReader", "Ligne %1 : caractère inattendu après un guillemet fermant (un guillemet dans un champ se double).");
const char kTextFieldCount[] = QT_TRANSLATE_NOOP("CsvReader", "Ligne %1 : %2 champ(s) au lieu des %3 de l'en-tête.");
const char kTextInvalidUtf8[] = QT_TRANSLATE_NOOP("CsvReader", "Ligne %1 : octets invalides pour l'encodage UTF-8.");

// Windows-1252, 0x80 to 0x9F (the other bytes are Latin-1). The five bytes
// the code page leaves undefined map to the control of the same value, as
// Windows itself converts them.
constexpr std::array<char16_t, 32> kWindows1252High
    = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
       0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
       0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// The Windows-1252 byte of a character, -1 when it has none.
int windows1252Byte(char32_t c)
{
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
        return int(c);
    for (std::size_t i = 0; i < kWindows1252High.size(); ++i)
        if (kWindows1252High[i] == c)
            return int(0x80 + i);
    return -1;
}

// Incremental UTF-8 check: overlong forms, surrogates and values above
// U+10FFFF are refused.
class Utf8Check {
public:
    bool feed(unsigned char c)
    {
        if (need_ == 0) {
            if (c < 0x80)
                return true;
            low_ = 0x80;
            high_ = 0xBF;
            if (c >= 0xC2 && c <= 0xDF) {
                need_ = 1;
            } else if (c >= 0xE0 && c <= 0xEF) {
                need_ = 2;
                if (c == 0xE0)
                    low_ = 0xA0;
                else if (c == 0xED)
                    high_ = 0x9F;
            } else if (c >= 0xF0 && c <= 0xF4) {
                need_ = 3;
                if (c == 0xF0)
                    low_ = 0x90;
                else if (c == 0xF4)
                    high_ = 0x8F;
            } else {
                return false;
            }
            return true;
        }
        if (c < low_ || c > high_)
            return false;
        low_ = 0x80;
        high_ = 0xBF;
        --need_;
        return true;
    }
    bool complete() const { return need_ == 0; }

private:
    int need_ = 0;
    unsigned char low_ = 0x80;
    unsigned char high_ = 0xBF;
};

// Copies into `out`, reusing its capacity.
void copyBytes(QByteArrayView bytes, QByteArray& out)
{
    out.resize(bytes.size());
    if (!bytes.isEmpty())
        std::memcpy(out.data(), bytes.data(), std::size_t(bytes.size()));
}

}  // namespace

// Buffered bytes of the file, with the line count.
struct CsvParser {
    QFile file;
    std::vector<char> buffer = std::vector<char>(std::size_t(kBufferSize));
    qsizetype pos = 0;
    qsizetype end = 0;
    qint64 consumed = 0;
    qint64 limit = -1;  // bytes after which the file reads as ended (-1: none)
    bool readError = false;
    qint64 line = 1;

    bool fill()
    {
        if (limit >= 0 && consumed >= limit)
            return false;
        const qint64 got = file.read(buffer.data(), kBufferSize);
        if (got < 0)
            readError = true;
        pos = 0;
        end = got > 0 ? qsizetype(got) : 0;
        return end > 0;
    }
    // The next byte, -1 at the end.
    int get()
    {
        if (pos == end && !fill())
            return -1;
        if (limit >= 0 && consumed >= limit)
            return -1;
        ++consumed;
        return static_cast<unsigned char>(buffer[std::size_t(pos++)]);
    }
    int peek()
    {
        if (pos == end && !fill())
            return -1;
        if (limit >= 0 && consumed >= limit)
            return -1;
        return static_cast<unsigned char>(buffer[std::size_t(pos)]);
    }
};

namespace {

enum class ParseStatus { Row, End, Failed };

// One row. `error` gets the French text of a malformed row.
ParseStatus parseRow(CsvParser& p, char delimiter, QByteArray& raw, QByteArray& cells, std::vector<qsizetype>& bounds,
                     int& lineEndLength, qint64& firstLine, QString& error)
{
    raw.resize(0);
    cells.resize(0);
    bounds.clear();
    bounds.push_back(0);
    lineEndLength = 0;
    firstLine = p.line;
    enum class State { FieldStart, Unquoted, Quoted, AfterQuote, AfterQuoteCr } state = State::FieldStart;
    qint64 quoteLine = 0;
    bool unquotedCr = false;  // the unquoted field's last byte is a CR
    auto endCell = [&] { bounds.push_back(cells.size()); };
    for (;;) {
        const int c = p.get();
        if (c < 0) {
            if (p.readError) {
                error = tr(kTextReadError).arg(p.file.errorString());
                return ParseStatus::Failed;
            }
            if (state == State::Quoted) {
                error = tr(kTextUnbalanced).arg(quoteLine);
                return ParseStatus::Failed;
            }
            if (state == State::AfterQuoteCr) {
                error = tr(kTextAfterQuote).arg(p.line);
                return ParseStatus::Failed;
            }
            if (raw.isEmpty())
                return ParseStatus::End;
            endCell();
            return ParseStatus::Row;
        }
        const char ch = char(c);
        raw.append(ch);
        if (ch == '\n')
            ++p.line;
        switch (state) {
        case State::FieldStart:
        case State::Unquoted:
            if (ch == '"' && state == State::FieldStart) {
                state = State::Quoted;
                quoteLine = p.line;
            } else if (ch == delimiter) {
                endCell();
                state = State::FieldStart;
                unquotedCr = false;
            } else if (ch == '\n') {
                lineEndLength = 1;
                if (unquotedCr) {
                    cells.chop(1);
                    lineEndLength = 2;
                }
                endCell();
                return ParseStatus::Row;
            } else {
                // A quote inside an unquoted field is kept as it is, as
                // spreadsheets read it.
                cells.append(ch);
                unquotedCr = ch == '\r';
                state = State::Unquoted;
            }
            break;
        case State::Quoted:
            if (ch == '"') {
                state = State::AfterQuote;
            } else {
                cells.append(ch);
                if (raw.size() > kMaxRowBytes) {
                    error = tr(kTextUnbalanced).arg(quoteLine);
                    return ParseStatus::Failed;
                }
            }
            break;
        case State::AfterQuote:
            if (ch == '"') {
                cells.append('"');
                state = State::Quoted;
            } else if (ch == delimiter) {
                endCell();
                state = State::FieldStart;
            } else if (ch == '\n') {
                lineEndLength = 1;
                endCell();
                return ParseStatus::Row;
            } else if (ch == '\r') {
                state = State::AfterQuoteCr;
            } else {
                error = tr(kTextAfterQuote).arg(p.line);
                return ParseStatus::Failed;
            }
            break;
        case State::AfterQuoteCr:
            if (ch != '\n') {
                error = tr(kTextAfterQuote).arg(p.line);
                return ParseStatus::Failed;
            }
            lineEndLength = 2;
            endCell();
            return ParseStatus::Row;
        }
    }
}

Error openParser(CsvParser& p, const QString& path)
{
    p.file.setFileName(path);
    if (!p.file.open(QIODevice::ReadOnly))
        return Error(ErrorCode::SourceUnreadable, tr(kTextCannotOpen).arg(p.file.errorString()));
    return {};
}

// Whether the whole file is valid UTF-8 (read up to its first invalid byte).
Error scanUtf8(const QString& path, bool& valid)
{
    valid = false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Error(ErrorCode::SourceUnreadable, tr(kTextCannotOpen).arg(file.errorString()));
    std::vector<char> buffer(static_cast<std::size_t>(kBufferSize));
    Utf8Check check;
    for (;;) {
        const qint64 got = file.read(buffer.data(), kBufferSize);
        if (got < 0)
            return Error(ErrorCode::SourceUnreadable, tr(kTextReadError).arg(file.errorString()));
        if (got == 0)
            break;
        for (qint64 i = 0; i < got; ++i)
            if (!check.feed(static_cast<unsigned char>(buffer[std::size_t(i)])))
                return {};
    }
    valid = check.complete();
    return {};
}

// Whether the file starts with the UTF-8 byte-order mark.
Error readByteOrderMark(const QString& path, bool& mark)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Error(ErrorCode::SourceUnreadable, tr(kTextCannotOpen).arg(file.errorString()));
    mark = file.peek(3) == QByteArrayLiteral("\xEF\xBB\xBF");
    return {};
}

// How the first rows split at `candidate`: the header's field count, and
// whether every following row complete within the limit has as many.
struct DelimiterTrial {
    int headerCount = 0;
    bool steady = true;
};

Error tryDelimiter(const QString& path, bool byteOrderMark, char candidate, DelimiterTrial& trial)
{
    CsvParser p;
    if (Error error = openParser(p, path))
        return error;
    if (byteOrderMark)
        p.file.skip(3);
    p.limit = kDetectionBytes;
    QByteArray raw, cells;
    std::vector<qsizetype> bounds;
    int lineEnd = 0;
    qint64 line = 0;
    QString text;
    trial = DelimiterTrial();
    for (int row = 0; row < kDetectionRows; ++row) {
        if (parseRow(p, candidate, raw, cells, bounds, lineEnd, line, text) != ParseStatus::Row)
            break;
        const int count = int(bounds.size()) - 1;
        if (row == 0)
            trial.headerCount = count;
        else if (lineEnd > 0 && count != trial.headerCount)  // a row cut by the limit does not count
            trial.steady = false;
    }
    return {};
}

// Delimiter: among ';', ',' and tab, the one that splits the header into
// the most fields while every following row of the first ones has as
// many; else the one that splits the header the most; else the usual one
// of the encoding.
Error detectDelimiter(const QString& path, CsvFormat& format)
{
    char best = 0;
    int bestCount = 1;
    bool bestSteady = false;
    for (const char candidate : {';', ',', '\t'}) {
        DelimiterTrial trial;
        if (Error error = tryDelimiter(path, format.byteOrderMark, candidate, trial))
            return error;
        const bool better = trial.headerCount > 1
            && ((trial.steady && !bestSteady) || (trial.steady == bestSteady && trial.headerCount > bestCount));
        if (better) {
            best = candidate;
            bestCount = trial.headerCount;
            bestSteady = trial.steady;
        }
    }
    format.delimiter = best != 0 ? best : (format.encoding == CsvEncoding::Utf8 ? ',' : ';');
    return {};
}

// The byte-order mark, then what `options` leaves to detection: the
// encoding (the mark, else UTF-8 when every byte of the file is valid UTF-8)
// and the delimiter.
Error settleFormat(const QString& path, const CsvOptions& options, CsvFormat& format)
{
    if (Error error = readByteOrderMark(path, format.byteOrderMark))
        return error;
    format.encoding = options.encoding;
    if (format.encoding == CsvEncoding::Detect) {
        bool utf8 = format.byteOrderMark;
        if (!utf8) {
            if (Error error = scanUtf8(path, utf8))
                return error;
        }
        format.encoding = utf8 ? CsvEncoding::Utf8 : CsvEncoding::Windows1252;
    }
    format.delimiter = options.delimiter;
    if (format.delimiter == 0)
        return detectDelimiter(path, format);
    return {};
}

}  // namespace

CsvReader::CsvReader() = default;
CsvReader::~CsvReader() = default;

bool CsvReader::fail(const QString& text)
{
    error_ = text;
    return false;
}

Error CsvReader::open(const QString& path, const CsvOptions& options)
{
    close();
    error_.clear();
    format_ = CsvFormat();
    Error error = settleFormat(path, options, format_);
    if (!error)
        error = readHeader(path);
    if (error)
        error_ = error.text;
    return error;
}

Error CsvReader::readHeader(const QString& path)
{
    parser_ = std::make_unique<CsvParser>();
    if (Error error = openParser(*parser_, path))
        return error;
    if (format_.byteOrderMark)
        parser_->file.skip(3);
    const Status status = parse(header_, false);
    if (status == Status::Failed)
        return Error(parser_->readError ? ErrorCode::SourceUnreadable : ErrorCode::SourceMalformed, error_);
    if (status == Status::End)
        return Error(ErrorCode::SourceMalformed, tr(kTextEmpty));
    columns_.clear();
    for (int i = 0; i < header_.cellCount(); ++i)
        columns_.append(csvText(header_.cell(i), format_.encoding));
    return {};
}

CsvReader::Status CsvReader::parse(CsvRow& row, bool checkCount)
{
    QString text;
    const ParseStatus status
        = parseRow(*parser_, format_.delimiter, row.raw, row.cells_, row.bounds_, row.lineEndLength, row.line, text);
    if (status == ParseStatus::Failed) {
        fail(text);
        return Status::Failed;
    }
    if (status == ParseStatus::End)
        return Status::End;
    if (format_.encoding == CsvEncoding::Utf8) {
        Utf8Check check;
        qint64 line = row.line;
        for (const char ch : std::as_const(row.raw)) {
            if (!check.feed(static_cast<unsigned char>(ch))) {
                fail(tr(kTextInvalidUtf8).arg(line));
                return Status::Failed;
            }
            if (ch == '\n')
                ++line;
        }
        if (!check.complete()) {
            fail(tr(kTextInvalidUtf8).arg(line));
            return Status::Failed;
        }
    }
    if (checkCount && row.cellCount() != columns_.size()) {
        fail(tr(kTextFieldCount).arg(row.line).arg(row.cellCount()).arg(columns_.size()));
        return Status::Failed;
    }
    return Status::Row;
}

CsvReader::Status CsvReader::next(CsvRow& row)
{
    if (!parser_) {
        row.raw.clear();
        return Status::End;
    }
    return parse(row, true);
}

void CsvReader::close()
{
    parser_.reset();
    columns_.clear();
    header_ = CsvRow();
}

QString csvText(QByteArrayView bytes, CsvEncoding encoding)
{
    if (encoding == CsvEncoding::Utf8)
        return QString::fromUtf8(bytes);
    QString text(bytes.size(), Qt::Uninitialized);
    QChar* out = text.data();
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        out[i] = (c >= 0x80 && c < 0xA0) ? QChar(kWindows1252High[c - 0x80]) : QChar(c);
    }
    return text;
}

bool csvCodeBytes(QByteArrayView bytes, CsvEncoding encoding, QByteArray& out)
{
    if (encoding != CsvEncoding::Utf8) {
        copyBytes(bytes, out);
        return true;
    }
    bool ascii = true;
    for (const char c : bytes)
        if (static_cast<unsigned char>(c) >= 0x80) {
            ascii = false;
            break;
        }
    if (ascii) {
        copyBytes(bytes, out);
        return true;
    }
    return csvEncode(QString::fromUtf8(bytes), CsvEncoding::Windows1252, out);
}

bool csvEncode(const QString& text, CsvEncoding encoding, QByteArray& out)
{
    if (encoding == CsvEncoding::Utf8) {
        out = text.toUtf8();
        return true;
    }
    out.resize(0);
    out.reserve(text.size());
    bool ok = true;
    for (const char32_t c : text.toUcs4()) {
        const int b = windows1252Byte(c);
        if (b < 0)
            ok = false;
        out.append(char(b < 0 ? '?' : b));
    }
    return ok;
}

void appendCsvCell(QByteArray& out, char delimiter, QByteArrayView bytes)
{
    out.append(delimiter);
    bool quote = false;
    for (const char c : bytes)
        if (c == delimiter || c == '"' || c == '\r' || c == '\n') {
            quote = true;
            break;
        }
    if (!quote) {
        out.append(bytes);
        return;
    }
    out.append('"');
    for (const char c : bytes) {
        if (c == '"')
            out.append('"');
        out.append(c);
    }
    out.append('"');
}

Error readCsvForDisplay(const QString& path, const CsvOptions& options, CsvDisplay& display, int maxRows)
{
    display = CsvDisplay();
    CsvReader reader;
    if (Error error = reader.open(path, options))
        return error;
    display.format = reader.format();
    display.columns = reader.columns();
    CsvRow row;
    while (display.rows.size() < maxRows) {
        const CsvReader::Status status = reader.next(row);
        if (status == CsvReader::Status::End)
            break;
        if (status == CsvReader::Status::Failed)
            return Error(ErrorCode::SourceMalformed, reader.error());
        QList<QByteArray> cells;
        cells.reserve(row.cellCount());
        for (int i = 0; i < row.cellCount(); ++i)
            cells.append(row.cell(i).toByteArray());
        display.rows.append(std::move(cells));
    }
    return {};
}

int csvColumnIndex(const QStringList& columns, const QString& name)
{
    int index = int(columns.indexOf(name));
    for (qsizetype i = 0; i < columns.size() && index < 0; ++i)
        if (columns.at(i).compare(name, Qt::CaseInsensitive) == 0)
            index = int(i);
    return index;
}

bool parseCsvDelimiter(const QString& text, char* delimiter)
{
    const QString t = text.trimmed().toLower();
    if (text == QLatin1String(";") || t == QLatin1String("semicolon") || t == QLatin1String("point-virgule"))
        *delimiter = ';';
    else if (text == QLatin1String(",") || t == QLatin1String("comma") || t == QLatin1String("virgule"))
        *delimiter = ',';
    else if (text == QLatin1String("\t") || t == QLatin1String("tab") || t == QLatin1String("tabulation"))
        *delimiter = '\t';
    else
        return false;
    return true;
}

bool parseCsvEncoding(const QString& text, CsvEncoding* encoding)
{
    const QString t = text.trimmed().toLower().remove(QLatin1Char('-')).remove(QLatin1Char('_'));
    if (t == QLatin1String("utf8"))
        *encoding = CsvEncoding::Utf8;
    else if (t == QLatin1String("windows1252") || t == QLatin1String("cp1252") || t == QLatin1String("ansi"))
        *encoding = CsvEncoding::Windows1252;
    else
        return false;
    return true;
}

QString csvEncodingName(CsvEncoding encoding)
{
    switch (encoding) {
    case CsvEncoding::Utf8:
        return QStringLiteral("UTF-8");
    case CsvEncoding::Windows1252:
        return QStringLiteral("Windows-1252");
    default:
        return QString();
    }
}

}  // namespace codiflux
