#include "bases/source.h"

#include "bases/listing.h"
#include "bases/regularfile.h"
#include "bases/textbase.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

namespace codiflux {

namespace {

constexpr qint64 kMaxDbfLength = 65535;                         // header and record lengths are 16-bit fields
constexpr qsizetype kMaxDbfFields = (kMaxDbfLength - 33) / 32;  // the descriptors a 16-bit header length holds
constexpr std::size_t kReadBuffer = std::size_t(1) << 20;

const char kTextCannotOpenSource[] = QT_TRANSLATE_NOOP("BaseEncoder", "Impossible d'ouvrir la base d'origine.");
const char kTextSourceRead[] = QT_TRANSLATE_NOOP("BaseEncoder", "Erreur de lecture de la base d'origine.");
const char kTextCancelled[] = QT_TRANSLATE_NOOP("BaseEncoder", "Fabrication de la base encodée annulée.");
const char kTextUnequal[]
    = QT_TRANSLATE_NOOP("BaseEncoder", "Les enregistrements du fichier source n'ont pas tous la même longueur.");
const char kTextDbfShort[] = QT_TRANSLATE_NOOP(
    "BaseEncoder", "Erreur de lecture de la base DBF à encoder. L'enregistrement n°%1 est trop court.");
const char kTextTextShort[] = QT_TRANSLATE_NOOP(
    "BaseEncoder", "Erreur de lecture de la base texte à encoder. L'enregistrement n°%1 est trop court.");

quint32 read32(const char* p)
{
    quint32 v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | static_cast<unsigned char>(p[i]);
    return v;
}

qint64 read16(const char* p)
{
    return qint64(static_cast<unsigned char>(p[0])) | (qint64(static_cast<unsigned char>(p[1])) << 8);
}

// The length a descriptor gives its field: a 'C' field takes bytes 16-17 as
// an unsigned 16-bit length, every other type keeps byte 16.
qint64 descriptorLength(const char* d)
{
    return d[11] == 'C' ? read16(d + 16) : qint64(static_cast<unsigned char>(d[16]));
}

}  // namespace

QString sourceText(const char* text)
{
    return QCoreApplication::translate("BaseEncoder", text);
}

QString cannotOpenSourceText()
{
    return sourceText(kTextCannotOpenSource);
}

QString sourceReadText()
{
    return sourceText(kTextSourceRead);
}

QString cancelledText()
{
    return sourceText(kTextCancelled);
}

Source::~Source() = default;

QString Source::shortRecordText(qint64 record) const
{
    return sourceText(layout_.kind == BaseKind::Dbf ? kTextDbfShort : kTextTextShort).arg(record);
}

// ---------------------------------------------------------------------------
// DBF

DbfSource::~DbfSource() = default;

std::unique_ptr<DbfSource> DbfSource::open(const QString& path, Error* error)
{
    std::unique_ptr<DbfSource> source(new DbfSource);
    source->path_ = path;
    source->layout_.kind = BaseKind::Dbf;
    source->table_.reset(dbf_open(QFile::encodeName(path).constData(), nullptr, 0, 0));
    Error failure = source->table_ ? source->readHeader() : Error(ErrorCode::SourceUnreadable, cannotOpenSourceText());
    if (failure) {
        if (error)
            *error = failure;
        return nullptr;
    }
    return source;
}

// The fields are the engine's; the descriptors are kept as stored for the
// encoded header, and counted up to the terminator. The records start at the
// header length, as every reader of the table finds them, when that length
// holds the descriptors and lies within the file (a Visual FoxPro table's
// area after the terminator, a padded header); otherwise they are found by
// counting the descriptors.
Error DbfSource::readHeader()
{
    std::unique_ptr<std::FILE, FileCloser> file(fopenRegular(QFile::encodeName(path_).constData()));
    char block[32];
    if (!file)
        return Error(ErrorCode::SourceUnreadable, cannotOpenSourceText());
    if (std::fread(block, 1, 32, file.get()) != 32)
        return Error(ErrorCode::SourceUnreadable, sourceReadText());
    layout_.header = QByteArray(block, 32);
    layout_.version = static_cast<unsigned char>(block[0]);
    const quint32 count = read32(block + 4);
    const qint64 headerLength = read16(block + 8);
    while (descriptorCount_ < kMaxDbfFields) {
        const std::size_t got = std::fread(block, 1, 32, file.get());
        if (got < 32 || static_cast<unsigned char>(block[0]) == 0x0D || descriptorLength(block) == 0)
            break;
        if (descriptorCount_ < qsizetype(dbf_field_count(table_.get())))
            layout_.header.append(block, 32);
        ++descriptorCount_;
    }
    layout_.recordLength = 1;
    for (unsigned i = 0; i < dbf_field_count(table_.get()); ++i) {
        const DbfField* engineField = dbf_field(table_.get(), i);
        SourceField field;
        field.offset = engineField->offset;
        field.length = engineField->length;
        field.type = engineField->type;
        field.decimals = engineField->decimals;
        if (32 * (qsizetype(i) + 2) <= layout_.header.size()) {  // the letter as stored, before 'F' stood for it
            const char* d = layout_.header.constData() + 32 * (i + 1);
            field.type = d[11];
        }
        field.name = QByteArray(engineField->name, qsizetype(qstrnlen(engineField->name, 11)));
        layout_.fields.append(field);
        layout_.recordLength += field.length;
    }

    qint64 size = -1;
    if (std::fseek(file.get(), 0, SEEK_END) == 0)
        size = std::ftell(file.get());
    const qint64 terminator = 32 * (qint64(descriptorCount_) + 1);
    qint64 dataOffset = terminator + 1;
    if (headerLength >= terminator + 1 && headerLength <= size) {
        dataOffset = headerLength;
    } else {
        unsigned char after = 0xFF;
        if (std::fseek(file.get(), long(terminator + 1), SEEK_SET) == 0 && std::fread(&after, 1, 1, file.get()) == 1
            && after == 0x00)
            ++dataOffset;
        if (layout_.version == 0x30)
            dataOffset += 262;
    }
    layout_.dataOffset = dataOffset;

    // What the file holds bounds the count, so that a header that lies cannot
    // make a run endless; a count of 0 means "not stored". A header that
    // promises more records than there are keeps one beyond the file, whose
    // read then fails as too short.
    const qint64 held = size > dataOffset ? (size - dataOffset) / layout_.recordLength : 0;
    layout_.recordCount
        = count == 0 ? std::min<qint64>(held, std::numeric_limits<quint32>::max()) : std::min<qint64>(count, held + 1);
    return {};
}

QByteArray DbfSource::value(unsigned record, unsigned field) const
{
    return listedValue(table_.get(), record, field);
}

void DbfSource::setMemoValue(int fieldIndex, qint64 slot, int length)
{
    memoField_ = fieldIndex;
    memoSlot_ = slot;
    memoLength_ = std::max(0, length);
}

QString DbfSource::memoFile() const
{
    const bool memoField = std::any_of(layout_.fields.cbegin(), layout_.fields.cend(), [](const SourceField& f) {
        return f.type == 'M' || f.type == 'G' || f.type == 'B' || f.type == 'P';
    });
    if (!memoField)
        return {};
    const unsigned char v = layout_.version;
    const bool foxPro = v == 0x30 || v == 0x31 || v == 0x32 || v == 0xF5;
    const QFileInfo info(path_);
    const QString stem = info.path() + QLatin1Char('/') + info.completeBaseName() + QLatin1Char('.');
    const QString suffix = QLatin1String(foxPro ? "fpt" : "dbt");
    const bool upper = !info.suffix().isEmpty() && info.suffix() == info.suffix().toUpper();
    for (const QString& candidate : {upper ? suffix.toUpper() : suffix, suffix, suffix.toUpper()}) {
        const QFileInfo memo(stem + candidate);
        if (memo.isFile())
            return memo.filePath();
    }
    return {};
}

Error DbfSource::start()
{
    stop();
    file_.reset(fopenRegular(QFile::encodeName(path_).constData()));
    if (!file_)
        return Error(ErrorCode::SourceUnreadable, cannotOpenSourceText());
    std::setvbuf(file_.get(), nullptr, _IOFBF, kReadBuffer);
    if (std::fseek(file_.get(), long(layout_.dataOffset), SEEK_SET) != 0) {
        file_.reset();
        return Error(ErrorCode::SourceUnreadable, cannotOpenSourceText());
    }
    nextRecord_ = 0;
    return {};
}

bool DbfSource::next(char* buffer)
{
    const qint64 k = layout_.recordLength;
    if (!file_ || qint64(std::fread(buffer, 1, std::size_t(k), file_.get())) != k)
        return false;
    if (memoField_ >= 0) {
        // The memo text as the window lists it, read through the engine.
        const QByteArray text = value(nextRecord_, unsigned(memoField_));
        std::memcpy(buffer + memoSlot_, text.constData(), std::size_t(std::min<qsizetype>(text.size(), memoLength_)));
        if (text.size() < memoLength_)
            std::memset(buffer + memoSlot_ + text.size(), ' ', std::size_t(memoLength_ - text.size()));
    }
    ++nextRecord_;
    return true;
}

void DbfSource::stop()
{
    file_.reset();
}

// ---------------------------------------------------------------------------
// Text

struct TextSource::State {
    TextLineReader reader;
    QByteArray line;
};

TextSource::~TextSource() = default;

std::unique_ptr<TextSource> TextSource::open(const QString& path, int rangeStart, int rangeCount,
                                             const std::function<bool()>& beforeLine, Error* error)
{
    auto fail = [error](ErrorCode code, const QString& text) {
        if (error)
            *error = Error(code, text);
        return nullptr;
    };
    TextLineReader reader;
    if (reader.open(path))
        return fail(ErrorCode::SourceUnreadable, cannotOpenSourceText());
    std::unique_ptr<TextSource> source(new TextSource);
    source->path_ = path;
    SourceLayout& layout = source->layout_;
    layout.kind = BaseKind::Text;
    QByteArray line;
    qsizetype length = 0;  // 0 until the first non-empty line
    // Every non-empty line counts one record; once a length is known, any
    // line of another length (an empty one included) rejects the base.
    while (!reader.atEnd()) {
        if (beforeLine && !beforeLine())
            return fail(ErrorCode::Cancelled, cancelledText());
        if (!reader.next(line)) {
            if (reader.lineTooLong())
                return fail(ErrorCode::SourceMalformed, lineTooLongText(reader.lineNumber()));
            break;
        }
        if (length > 0 && line.size() != length)
            return fail(ErrorCode::SourceMalformed, sourceText(kTextUnequal));
        length = line.size();
        if (length > 0)
            ++layout.recordCount;
    }
    if (reader.failed())
        return fail(ErrorCode::SourceUnreadable, sourceReadText());
    layout.recordLength = qint64(length) + 1;
    SourceField field;
    field.offset = rangeStart;
    field.length = rangeCount;
    layout.fields.append(field);
    return source;
}

Error TextSource::start()
{
    stop();
    state_ = std::make_unique<State>();
    if (state_->reader.open(path_)) {
        state_.reset();
        return Error(ErrorCode::SourceUnreadable, cannotOpenSourceText());
    }
    return {};
}

bool TextSource::next(char* buffer)
{
    const qint64 k = layout_.recordLength;
    // The records are read from the top of the file: an empty line before the
    // first record (the counting pass skipped it) reads as a short record.
    if (!state_ || !state_->reader.next(state_->line) || state_->line.size() < k - 1)
        return false;
    buffer[0] = ' ';
    std::memcpy(buffer + 1, state_->line.constData(), std::size_t(k - 1));
    return true;
}

void TextSource::stop()
{
    state_.reset();
}

}  // namespace codiflux
