#include "generation/reader.h"

#include "bases/regularfile.h"
#include "bases/textbase.h"
#include "generation/files.h"

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

qsizetype boundedLength(const char* value, qsizetype length)
{
    const void* nul = std::memchr(value, 0, std::size_t(length));
    return nul ? static_cast<const char*>(nul) - value : length;
}

}  // namespace

// ---------------------------------------------------------------------------
// Source reader

struct SourceReader::TextState {
    TextLineReader reader;
    QByteArray line;
};

// The memo texts of one field, read through the table engine as the window
// lists them.
struct SourceReader::MemoState {
    int fieldIndex = -1;
    qint64 slot = 0;
    int length = 0;
    DbfTablePtr table;
    unsigned next = 0;       // the record read() reads next
    std::vector<char> text;  // length + 1 bytes

    bool open(const QString& path)
    {
        // Read-only, OEM text converted: as the window and the command line open it.
        table.reset(dbf_open(QFile::encodeName(path).constData(), nullptr, 0, 0));
        next = 0;
        text.assign(std::size_t(length) + 1, '\0');
        return table != nullptr;
    }
    void read(char* out)
    {
        unsigned n = 0;
        if (dbf_goto_record(table.get(), next))
            n = dbf_read_field(table.get(), dbf_field(table.get(), unsigned(fieldIndex)), text.data(),
                               unsigned(length) + 1, DbfAnyType);
        ++next;
        n = std::min(n, unsigned(length));
        std::memcpy(out, text.data(), n);
        std::memset(out + n, ' ', std::size_t(length) - n);
    }
};

SourceReader::SourceReader() = default;
SourceReader::~SourceReader() = default;

void SourceReader::setMemoValue(int fieldIndex, qint64 slot, int length)
{
    memo_ = std::make_unique<MemoState>();
    memo_->fieldIndex = fieldIndex;
    memo_->slot = slot;
    memo_->length = std::max(0, length);
}

SourceScanStatus SourceReader::scanDbf(const QString& path)
{
    close();
    memo_.reset();
    layout_ = SourceLayout();
    layout_.kind = BaseDbf;
    path_ = path;
    std::unique_ptr<std::FILE, FileCloser> file(fopenRegular(QFile::encodeName(path).constData()));
    if (!file)
        return SourceScanStatus::OpenFailed;

    char block[32];
    if (std::fread(block, 1, 32, file.get()) != 32)
        return SourceScanStatus::ReadFailed;
    layout_.header = QByteArray(block, 32);
    layout_.version = static_cast<unsigned char>(block[0]);
    quint32 count = 0;
    for (int i = 3; i >= 0; --i)
        count = (count << 8) | static_cast<unsigned char>(block[4 + i]);
    const qint64 headerLength
        = qint64(static_cast<unsigned char>(block[8])) | (qint64(static_cast<unsigned char>(block[9])) << 8);

    qint64 offset = 1;
    while (layout_.fields.size() < kMaxDbfFields) {
        const std::size_t got = std::fread(block, 1, 32, file.get());
        if (got == 0 || static_cast<unsigned char>(block[0]) == 0x0D || got < 32)
            break;
        const char type = block[11];
        // Lengths are unsigned: a 'C' field of 32768 bytes or more is as valid as a shorter one.
        qint64 length = static_cast<unsigned char>(block[16]);
        if (type == 'C')
            length |= qint64(static_cast<unsigned char>(block[17])) << 8;
        if (length == 0)
            break;
        SourceField field;
        field.offset = offset;
        field.length = int(length);
        field.type = type;
        field.decimals = type == 'C' ? 0 : static_cast<unsigned char>(block[17]);
        field.name = QByteArray(block, int(boundedLength(block, 11)));
        layout_.fields.append(field);
        layout_.header.append(block, 32);
        offset += length;
    }
    layout_.recordLength = offset;

    qint64 size = -1;
    if (std::fseek(file.get(), 0, SEEK_END) == 0)
        size = std::ftell(file.get());

    // The records start at the header length, as every reader of the table
    // finds them, when that length holds the descriptors and lies within the
    // file (a Visual FoxPro table's area after the terminator, a padded
    // header). Otherwise they are found by counting the descriptors.
    const qint64 terminator = 32 * (qint64(layout_.fields.size()) + 1);
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
    return SourceScanStatus::Ok;
}

SourceScanStatus SourceReader::scanText(const QString& path, int rangeStart, int rangeCount,
                                        const std::function<bool()>& beforeLine)
{
    close();
    memo_.reset();
    layout_ = SourceLayout();
    layout_.kind = BaseText;
    path_ = path;
    const TextScanResult scan = scanTextBase(path, beforeLine);
    switch (scan.status) {
    case TextScanStatus::Ok:
        break;
    case TextScanStatus::OpenFailed:
        return SourceScanStatus::OpenFailed;
    case TextScanStatus::UnequalLengths:
        return SourceScanStatus::UnequalLengths;
    case TextScanStatus::Cancelled:
        return SourceScanStatus::Cancelled;
    case TextScanStatus::LineTooLong:
        tooLongLine_ = scan.tooLongLine;
        return SourceScanStatus::LineTooLong;
    default:
        return SourceScanStatus::ReadFailed;
    }
    layout_.recordCount = scan.recordCount;
    layout_.recordLength = qint64(scan.recordLength) + 1;
    SourceField field;
    field.offset = rangeStart;
    field.length = rangeCount;
    layout_.fields.append(field);
    return SourceScanStatus::Ok;
}

bool SourceReader::open()
{
    close();
    if (layout_.kind == BaseDbf) {
        dbf_.reset(fopenRegular(QFile::encodeName(path_).constData()));
        if (!dbf_)
            return false;
        std::setvbuf(dbf_.get(), nullptr, _IOFBF, kFileBuffer);
        if (std::fseek(dbf_.get(), long(layout_.dataOffset), SEEK_SET) != 0) {
            dbf_.reset();
            return false;
        }
        if (memo_ && !memo_->open(path_)) {
            dbf_.reset();
            return false;
        }
        return true;
    }
    if (layout_.kind == BaseText) {
        text_ = std::make_unique<TextState>();
        if (!text_->reader.open(path_)) {
            text_.reset();
            return false;
        }
        return true;
    }
    return false;
}

SourceReader::ReadStatus SourceReader::read(char* buffer)
{
    const qint64 k = layout_.recordLength;
    if (dbf_) {
        if (qint64(std::fread(buffer, 1, std::size_t(k), dbf_.get())) != k)
            return ReadStatus::Short;
        if (memo_)
            memo_->read(buffer + memo_->slot);
        return ReadStatus::Ok;
    }
    if (text_) {
        if (!text_->reader.next(text_->line) || text_->line.size() < k - 1)
            return ReadStatus::Short;
        buffer[0] = ' ';
        std::memcpy(buffer + 1, text_->line.constData(), std::size_t(k - 1));
        return ReadStatus::Ok;
    }
    return ReadStatus::Short;
}

void SourceReader::close()
{
    dbf_.reset();
    text_.reset();
    if (memo_)
        memo_->table.reset();
}

QString sourceMemoPath(const QString& dbfPath, const SourceLayout& layout)
{
    const bool memoField = std::any_of(layout.fields.cbegin(), layout.fields.cend(), [](const SourceField& f) {
        return f.type == 'M' || f.type == 'G' || f.type == 'B' || f.type == 'P';
    });
    if (!memoField)
        return {};
    const unsigned char v = layout.version;
    const bool foxPro = v == 0x30 || v == 0x31 || v == 0x32 || v == 0xF5;
    const QFileInfo info(dbfPath);
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

}  // namespace codiflux
