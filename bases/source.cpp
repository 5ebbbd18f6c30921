#include "bases/source.h"

#include "bases/listing.h"
#include "bases/regularfile.h"
#include "bases/textbase.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

namespace codiflux {

namespace {

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

void Source::setMemoValue(int, qint64, int)
{ }

QString Source::shortRecordText(qint64 record) const
{
    return sourceText(layout_.kind == BaseKind::Dbf ? kTextDbfShort : kTextTextShort).arg(record);
}

// ---------------------------------------------------------------------------
// DBF

DbfSource::~DbfSource() = default;

qsizetype utf8Units(QByteArrayView bytes)
{
    qsizetype units = 0;
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        units += (b & 0xC0) != 0x80 ? 1 : 0;
        units += b >= 0xF0 ? 1 : 0;  // beyond U+FFFF: two units
    }
    return units;
}

std::unique_ptr<DbfSource> DbfSource::open(const QString& path, Error* error, const CodePage* forcedCodePage)
{
    std::unique_ptr<DbfSource> source(new DbfSource);
    source->path_ = path;
    source->table_.reset(dbf_open(QFile::encodeName(path).constData(), nullptr, 0, 1));
    if (!source->table_) {
        if (error)
            *error = Error(ErrorCode::SourceUnreadable, cannotOpenSourceText());
        return nullptr;
    }
    source->readLayout();
    source->codePage_ = dbfCodePage(path, dbf_header_bytes(source->table_.get())[29], forcedCodePage);
    return source;
}

// The fields are the engine's; the descriptors are kept as stored for the
// encoded header, and counted up to the terminator.
void DbfSource::readLayout()
{
    DbfTable* table = table_.get();
    const unsigned char* header = dbf_header_bytes(table);
    const unsigned fieldCount = dbf_field_count(table);
    descriptorCount_ = qsizetype(dbf_descriptor_count(table));
    const qsizetype kept = std::min(qsizetype(fieldCount), descriptorCount_);
    layout_.kind = BaseKind::Dbf;
    layout_.header = QByteArray(reinterpret_cast<const char*>(header), 32);
    layout_.header.append(reinterpret_cast<const char*>(dbf_descriptors(table)), 32 * kept);
    layout_.version = header[0];
    layout_.recordLength = 1;
    for (unsigned i = 0; i < fieldCount; ++i) {
        const DbfField* engineField = dbf_field(table, i);
        SourceField field;
        field.offset = engineField->offset;
        field.length = engineField->length;
        field.type = engineField->type;
        field.decimals = engineField->decimals;
        if (qsizetype(i) < kept)  // the letter as stored, before 'F' stood for it
            field.type = layout_.header.at(32 * (qsizetype(i) + 1) + 11);
        field.name = QByteArray(engineField->name, qsizetype(qstrnlen(engineField->name, 11)));
        layout_.fields.append(field);
        layout_.recordLength += field.length;
    }
    locateRecords(qFromLittleEndian<quint16>(header + 8), qFromLittleEndian<quint32>(header + 4));
}

// The records start at the header length, as every reader of the table finds
// them, when that length holds the descriptors and lies within the file (a
// Visual FoxPro table's area after the terminator, a padded header);
// otherwise they are found by counting the descriptors.
void DbfSource::locateRecords(qint64 headerLength, quint32 storedCount)
{
    const qint64 size = dbf_file_size(table_.get());
    const qint64 terminator = 32 * (qint64(descriptorCount_) + 1);
    qint64 dataOffset = terminator + 1;
    if (headerLength >= terminator + 1 && headerLength <= size) {
        dataOffset = headerLength;
    } else {
        if (dbf_byte_after_terminator(table_.get()) == 0x00)
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
    layout_.recordCount = storedCount == 0 ? std::min<qint64>(held, std::numeric_limits<quint32>::max())
                                           : std::min<qint64>(storedCount, held + 1);
}

QByteArray DbfSource::value(unsigned record, unsigned field) const
{
    return listedValue(table_.get(), record, field);
}

QString DbfSource::text(unsigned record, unsigned field) const
{
    return decodeText(value(record, field), codePage_.page);
}

QString DbfSource::fieldName(unsigned field) const
{
    DbfFieldInfo info{};
    if (!dbf_field_info(table_.get(), field, &info))
        return {};
    return decodeText(QByteArrayView(info.name, qsizetype(qstrnlen(info.name, sizeof info.name))), codePage_.page);
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
                                             const std::function<bool()>& beforeLine, Error* error,
                                             const CodePage* forcedCodePage)
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
    // Every non-empty line counts one record; once a length is known, any
    // line of another length (an empty one included) rejects the base. The
    // lengths are kept in bytes and, while the file may be UTF-8, in
    // characters: which of them counts is known at the end.
    const bool forced = forcedCodePage != nullptr;
    const bool forcedUtf8 = forced && *forcedCodePage == CodePage::Utf8;
    qsizetype length = 0;  // bytes; 0 until the first non-empty line
    qsizetype units = 0;   // characters of UTF-8
    bool unequalBytes = false;
    bool unequalUnits = false;
    bool utf8 = !forced || forcedUtf8;  // still possible
    bool multiByte = false;
    while (!reader.atEnd()) {
        if (beforeLine && !beforeLine())
            return fail(ErrorCode::Cancelled, cancelledText());
        if (!reader.next(line)) {
            if (reader.lineTooLong())
                return fail(ErrorCode::SourceMalformed, lineTooLongText(reader.lineNumber()));
            break;
        }
        if (utf8 && !forcedUtf8 && !reader.byteOrderMark()) {
            const bool ascii = std::all_of(line.cbegin(), line.cend(), [](char c) { return c >= 0; });
            if (!ascii) {
                utf8 = looksLikeUtf8(line);
                multiByte = multiByte || utf8;
            }
        }
        const qsizetype lineUnits = utf8 ? utf8Units(line) : 0;
        if (length > 0 || units > 0) {
            unequalBytes = unequalBytes || line.size() != length;
            unequalUnits = unequalUnits || lineUnits != units;
        }
        if (!utf8 && unequalBytes)
            return fail(ErrorCode::SourceMalformed, sourceText(kTextUnequal));
        length = line.size();
        units = lineUnits;
        if (length > 0)
            ++layout.recordCount;
    }
    if (reader.failed())
        return fail(ErrorCode::SourceUnreadable, sourceReadText());
    utf8 = utf8 && (forcedUtf8 || reader.byteOrderMark() || multiByte);
    if (utf8 ? unequalUnits : unequalBytes)
        return fail(ErrorCode::SourceMalformed, sourceText(kTextUnequal));
    source->codePage_.page = utf8 ? CodePage::Utf8 : forced ? *forcedCodePage : CodePage::Latin1;
    source->codePage_.origin
        = forced ? CodePageOrigin::Forced : (utf8 ? CodePageOrigin::Detected : CodePageOrigin::Default);
    layout.recordLength = qint64(utf8 ? units : length) + 1;
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

bool TextSource::nextLine(QByteArray& line)
{
    return state_ && state_->reader.next(line) && !line.isEmpty();
}

void TextSource::stop()
{
    state_.reset();
}

}  // namespace codiflux
