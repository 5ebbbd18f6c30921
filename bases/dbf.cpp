#include "bases/dbf.h"

#include "bases/regularfile.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <string>

#include <sys/types.h>

namespace codiflux {

namespace {

constexpr std::size_t kMemoBlockBytes = 512;
constexpr unsigned kMaxFields = (0xFFFFu - 33u) / 32u;  // 2046: all a 16-bit header length holds
constexpr std::size_t kErrorTextSize = 256;
constexpr char kTypeLetters[] = "CNFDML";

// ---------------------------------------------------------------------------
// Default file access: buffered stdio with 64-bit offsets.

void* stdioOpen(void*, const char* path, int mode)
{
    if (!path)
        return nullptr;
    // An existing file is read only when it is a regular one: a FIFO would
    // block, a device read without end.
    if ((mode & 3) == 1)
        return fopenRegular(path);
    if (mode & 4)
        return fopenRegular(path, true);
    if (mode & 8)
        return std::fopen(path, "wb");
    return nullptr;
}

std::size_t stdioRead(void*, void* file, void* buffer, std::size_t size)
{
    return std::fread(buffer, 1, size, static_cast<FILE*>(file));
}

std::size_t stdioWrite(void*, void* file, const void* buffer, std::size_t size)
{
    return std::fwrite(buffer, 1, size, static_cast<FILE*>(file));
}

std::int64_t stdioTell(void*, void* file)
{
    return static_cast<std::int64_t>(ftello(static_cast<FILE*>(file)));
}

int stdioSeek(void*, void* file, std::int64_t offset, int origin)
{
    int whence;
    switch (origin) {
    case 0:
        whence = SEEK_SET;
        break;
    case 1:
        whence = SEEK_CUR;
        break;
    case 2:
        whence = SEEK_END;
        break;
    default:
        return -1;
    }
    if (offset > static_cast<std::int64_t>(std::numeric_limits<off_t>::max())
        || offset < static_cast<std::int64_t>(std::numeric_limits<off_t>::min()))
        return -1;
    return fseeko(static_cast<FILE*>(file), static_cast<off_t>(offset), whence) == 0 ? 0 : -1;
}

int stdioClose(void*, void* file)
{
    return std::fclose(static_cast<FILE*>(file));
}

int stdioError(void*, void* file)
{
    return std::ferror(static_cast<FILE*>(file));
}

const DbfIoFunctions kStdioFunctions = {
    stdioOpen, stdioRead, stdioWrite, stdioTell, stdioSeek, stdioClose, stdioError, nullptr,
};

// ---------------------------------------------------------------------------
// Code page 850 to code page 1252, upper half (the lower half is the same).

const unsigned char kOemToAnsi[128] = {
    0xC7, 0xFC, 0xE9, 0xE2, 0xE4, 0xE0, 0xE5, 0xE7,  // 80-87
    0xEA, 0xEB, 0xE8, 0xEF, 0xEE, 0xEC, 0xC4, 0xC5,  // 88-8F
    0xC9, 0xE6, 0xC6, 0xF4, 0xF6, 0xF2, 0xFB, 0xF9,  // 90-97
    0xFF, 0xD6, 0xDC, 0xF8, 0xA3, 0xD8, 0xD7, 0x83,  // 98-9F
    0xE1, 0xED, 0xF3, 0xFA, 0xF1, 0xD1, 0xAA, 0xBA,  // A0-A7
    0xBF, 0xAE, 0xAC, 0xBD, 0xBC, 0xA1, 0xAB, 0xBB,  // A8-AF
    0x3F, 0x3F, 0x3F, 0x7C, 0x2B, 0xC1, 0xC2, 0xC0,  // B0-B7
    0xA9, 0x2B, 0x7C, 0x2B, 0x2B, 0xA2, 0xA5, 0x2B,  // B8-BF
    0x2B, 0x2B, 0x2B, 0x2B, 0x2D, 0x2B, 0xE3, 0xC3,  // C0-C7
    0x2B, 0x2B, 0x2B, 0x2B, 0x2B, 0x2D, 0x2B, 0xA4,  // C8-CF
    0xF0, 0xD0, 0xCA, 0xCB, 0xC8, 0x69, 0xCD, 0xCE,  // D0-D7
    0xCF, 0x2B, 0x2B, 0x3F, 0x3F, 0xA6, 0xCC, 0x3F,  // D8-DF
    0xD3, 0xDF, 0xD4, 0xD2, 0xF5, 0xD5, 0xB5, 0xFE,  // E0-E7
    0xDE, 0xDA, 0xDB, 0xD9, 0xFD, 0xDD, 0xAF, 0xB4,  // E8-EF
    0xAD, 0xB1, 0x5F, 0xBE, 0xB6, 0xA7, 0xF7, 0xB8,  // F0-F7
    0xB0, 0xA8, 0xB7, 0xB9, 0xB3, 0xB2, 0x3F, 0xA0,  // F8-FF
};

std::uint16_t readU16(const unsigned char* p)
{
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t readU32(const unsigned char* p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8)
        | (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

bool acceptedVersion(unsigned char version)
{
    return version == 0x03 || version == 0x04 || version == 0x30 || version == 0x83 || version == 0x8B;
}

// The memo file of a table: its path with the last character replaced,
// 'F' by 'T' and anything else by 't'.
std::string memoPath(const char* path)
{
    std::string memo(path);
    if (!memo.empty())
        memo.back() = memo.back() == 'F' ? 'T' : 't';
    return memo;
}

// Decimal value of a field's bytes: leading white space, an optional sign,
// then digits; saturates instead of overflowing.
std::int64_t parseBlockNumber(const char* text, std::size_t length)
{
    std::size_t i = 0;
    while (i < length && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < length && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    std::int64_t value = 0;
    constexpr std::int64_t limit = std::numeric_limits<std::int64_t>::max() / 10 - 10;
    for (; i < length && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (value > limit)
            return negative ? -1 : std::numeric_limits<std::int64_t>::max();
        value = value * 10 + (text[i] - '0');
    }
    return negative ? -value : value;
}

}  // namespace

struct DbfTable {
    std::uint32_t currentRecord = 0;
    int textAsIs = 0;
    int writable = 0;
    void* file = nullptr;
    DbfIoFunctions io{};
    unsigned char version = 0;
    std::uint32_t recordCount = 0;
    unsigned recordLength = 0;
    unsigned headerLength = 0;
    DbfField fields[kMaxFields]{};
    unsigned fieldCount = 0;
    // The header as stored: its first 32 bytes, the descriptors scanned up to
    // the terminator, and the byte after the terminator (-1 beyond the file).
    unsigned char mainHeader[32]{};
    unsigned char descriptors[32 * kMaxFields]{};
    unsigned descriptorCount = 0;
    int afterTerminator = -1;
    std::int64_t fileSize = -1;
    unsigned char* record = nullptr;  // recordLength + 1 bytes
    void* memo = nullptr;
    unsigned char memoBlock[kMemoBlockBytes]{};
    unsigned char memoHeader[kMemoBlockBytes]{};
    unsigned memoBlockSize = kMemoBlockBytes;
    int lastError = DbfSuccess;
    char lastErrorText[kErrorTextSize]{};

    void setError(int code, const char* text)
    {
        lastError = code;
        std::strncpy(lastErrorText, text, kErrorTextSize - 1);
        lastErrorText[kErrorTextSize - 1] = '\0';
    }

    void convert(const char* source, char* dest, std::size_t length) const
    {
        if (length == 0)
            return;
        if (textAsIs)
            std::memmove(dest, source, length);
        else
            oemToAnsi(source, dest, length);
    }
};

const DbfIoFunctions* dbf_default_io()
{
    return &kStdioFunctions;
}

void oemToAnsi(const char* source, char* dest, std::size_t length)
{
    for (std::size_t i = 0; i < length; ++i) {
        const auto c = static_cast<unsigned char>(source[i]);
        dest[i] = static_cast<char>(c < 0x80 ? c : kOemToAnsi[c - 0x80]);
    }
}

std::string dbf_memo_path(const char* path)
{
    return path ? memoPath(path) : std::string();
}

namespace {

// The records the file holds bound the count, so that a header that lies
// cannot announce more than there is; a stored count of 0 means "not stored"
// and takes them all (none with a record length of 0). A file shorter than
// its header holds no record; any number of empty records fit in any file.
void boundRecordCount(DbfTable* table)
{
    const DbfIoFunctions* io = &table->io;
    std::int64_t size = -1;
    if (io->seek(io->user, table->file, 0, 2) == 0)
        size = io->tell(io->user, table->file);
    table->fileSize = size;
    std::uint64_t held = 0;
    if (size > static_cast<std::int64_t>(table->headerLength))
        held = table->recordLength > 0 ? static_cast<std::uint64_t>(size - table->headerLength) / table->recordLength
                                       : (table->recordCount > 0 ? table->recordCount : 0u);
    if (held > std::numeric_limits<std::uint32_t>::max())
        held = std::numeric_limits<std::uint32_t>::max();
    if (table->recordCount == 0 || table->recordCount > held)
        table->recordCount = static_cast<std::uint32_t>(held);
}

// The length a descriptor gives its field: a 'C' field takes bytes 16-17 as
// an unsigned 16-bit length, every other type keeps byte 16.
unsigned descriptorLength(const unsigned char* d)
{
    return d[11] == 'C' ? readU16(d + 16) : d[16];
}

// Reads at most `fieldCount` descriptors, up to one starting with a byte of
// 0x20 or less.
void readFields(DbfTable* table, unsigned fieldCount)
{
    const DbfIoFunctions* io = &table->io;
    unsigned count = 0;
    if (io->seek(io->user, table->file, 32, 0) == 0) {
        int offset = 1;
        for (; count < fieldCount; ++count) {
            unsigned char d[32];
            if (io->read(io->user, table->file, d, sizeof d) != sizeof d || d[0] <= 0x20)
                break;
            DbfField& field = table->fields[count];
            std::memcpy(field.name, d, 11);
            field.name[11] = '\0';
            // Long character fields keep the high byte of their length in byte 17.
            field.length = int(descriptorLength(d));
            field.decimals = d[11] == 'C' ? 0 : d[17];
            field.type = field.decimals != 0 ? 'F' : static_cast<char>(d[11]);
            field.offset = offset;
            offset += field.length;
        }
    }
    table->fieldCount = count;
}

// Keeps the descriptors as stored, from byte 32 up to the 0x0D terminator, a
// descriptor of length 0 or the end of the file (at most kMaxFields), and the
// byte after the terminator's position.
void scanDescriptors(DbfTable* table)
{
    const DbfIoFunctions* io = &table->io;
    if (io->seek(io->user, table->file, 32, 0) != 0)
        return;
    for (;;) {
        unsigned char d[32];
        const std::size_t got = io->read(io->user, table->file, d, sizeof d);
        if (table->descriptorCount == kMaxFields || got < sizeof d || d[0] == 0x0D || descriptorLength(d) == 0) {
            if (got >= 2)
                table->afterTerminator = d[1];
            return;
        }
        std::memcpy(table->descriptors + 32 * table->descriptorCount, d, sizeof d);
        ++table->descriptorCount;
    }
}

// Keeps the memo file of a dBase III or IV table with memo (0x83, 0x8B) and
// its header block; closes any other.
void attachMemo(DbfTable* table, void* memo)
{
    const DbfIoFunctions* io = &table->io;
    if (memo && (table->version == 0x83 || table->version == 0x8B)) {
        table->memo = memo;
        std::size_t got = 0;
        if (io->seek(io->user, memo, 0, 0) == 0)
            got = io->read(io->user, memo, table->memoHeader, kMemoBlockBytes);
        if (got < kMemoBlockBytes)
            std::memset(table->memoHeader + got, 0, kMemoBlockBytes - got);
        table->memoBlockSize = readU16(table->memoHeader + 20);
        if (table->memoBlockSize == 0)
            table->memoBlockSize = kMemoBlockBytes;
    } else if (memo) {
        io->close(io->user, memo);
    }
}

// The 32 bytes at the start of `file`, when they are a table's: a version
// the engine reads, a month in 1-12 and a day in 1-31.
bool readMainHeader(const DbfIoFunctions* io, void* file, unsigned char (&header)[32])
{
    return io->seek(io->user, file, 0, 0) == 0 && io->read(io->user, file, header, sizeof header) == sizeof header
        && acceptedVersion(header[0]) && header[2] >= 1 && header[2] <= 12 && header[3] >= 1 && header[3] <= 31;
}

// A table on `file` as `header` describes it, with its record buffer; none
// when memory runs out.
DbfTable* newTable(const DbfIoFunctions* io, void* file, const unsigned char* header)
{
    auto* table = new (std::nothrow) DbfTable;
    if (!table)
        return nullptr;
    table->io = *io;
    table->file = file;
    std::memcpy(table->mainHeader, header, sizeof table->mainHeader);
    table->version = header[0];
    table->recordCount = readU32(header + 4);
    table->headerLength = readU16(header + 8);
    table->recordLength = readU16(header + 10);
    table->record = static_cast<unsigned char*>(std::calloc(table->recordLength + 1u, 1));
    if (!table->record) {
        delete table;
        return nullptr;
    }
    return table;
}

}  // namespace

DbfTable* dbf_open(const char* path, const DbfIoFunctions* io, int writable, int textAsIs)
{
    if (!path)
        return nullptr;
    if (!io)
        io = &kStdioFunctions;

    const int mode = writable ? 6 : 5;
    void* file = io->open(io->user, path, mode);
    if (!file)
        return nullptr;

    // A read-only table opens its memo file read-only too, so that the texts
    // of a table on a read-only medium stay readable.
    const std::string memoName = memoPath(path);
    void* memo = memoName.empty() ? nullptr : io->open(io->user, memoName.c_str(), mode);

    unsigned char header[32];
    DbfTable* table = readMainHeader(io, file, header) ? newTable(io, file, header) : nullptr;
    if (!table) {
        if (memo)
            io->close(io->user, memo);
        io->close(io->user, file);
        return nullptr;
    }
    boundRecordCount(table);

    // The header holds 32 bytes, the descriptors and the terminator; a header
    // length below 33 leaves no room for any descriptor, and a 16-bit one
    // holds at most kMaxFields: the count needs no wrap to fit.
    const unsigned fieldCount = table->headerLength >= 33 ? (table->headerLength - 33u) / 32u : 0u;
    readFields(table, fieldCount);
    scanDescriptors(table);
    table->writable = writable;
    table->textAsIs = textAsIs;

    attachMemo(table, memo);
    return table;
}

unsigned dbf_field_count(const DbfTable* table)
{
    return table ? table->fieldCount : 0;
}

const unsigned char* dbf_header_bytes(const DbfTable* table)
{
    return table ? table->mainHeader : nullptr;
}

unsigned dbf_descriptor_count(const DbfTable* table)
{
    return table ? table->descriptorCount : 0;
}

const unsigned char* dbf_descriptors(const DbfTable* table)
{
    return table ? table->descriptors : nullptr;
}

int dbf_byte_after_terminator(const DbfTable* table)
{
    return table ? table->afterTerminator : -1;
}

std::int64_t dbf_file_size(const DbfTable* table)
{
    return table ? table->fileSize : -1;
}

bool dbf_field_info(const DbfTable* table, unsigned index, DbfFieldInfo* info)
{
    if (!table || index >= table->fieldCount)
        return false;
    if (info) {
        const DbfField& field = table->fields[index];
        table->convert(field.name, info->name, 11);
        info->name[11] = '\0';
        const char* letter = field.type != '\0' ? std::strchr(kTypeLetters, field.type) : nullptr;
        info->type = letter ? static_cast<int>(letter - kTypeLetters) : -1;
        info->length = field.length;
        info->decimals = field.decimals;
    }
    return true;
}

unsigned dbf_record_count(const DbfTable* table)
{
    return table ? table->recordCount : 0;
}

bool dbf_goto_record(DbfTable* table, unsigned index)
{
    if (!table)
        return false;
    if (index >= table->recordCount) {
        table->setError(DbfErrorInvalidRecord, "Invalid record");
        return false;
    }
    const std::int64_t position = static_cast<std::int64_t>(table->headerLength)
        + static_cast<std::int64_t>(index) * static_cast<std::int64_t>(table->recordLength);
    if (table->io.seek(table->io.user, table->file, position, 0) != 0) {
        table->setError(DbfErrorInvalidRecord, "Invalid record");
        return false;
    }
    if (table->io.read(table->io.user, table->file, table->record, table->recordLength) != table->recordLength) {
        table->setError(DbfErrorInvalidRecord, "Invalid record");
        return false;
    }
    table->currentRecord = index;
    table->lastError = DbfSuccess;
    table->lastErrorText[0] = '\0';
    return true;
}

const DbfField* dbf_field(DbfTable* table, unsigned index)
{
    if (!table)
        return nullptr;
    if (index >= table->fieldCount) {
        table->setError(DbfErrorInvalidField, "Invalid field pointer");
        return nullptr;
    }
    return &table->fields[index];
}

namespace {

// Reads the memo text a memo field points to into the block buffer; returns
// where it starts and sets `length`, or nullptr after storing the error.
const unsigned char* readMemoText(DbfTable* table, const DbfField* field, std::size_t& length)
{
    const std::int64_t block = parseBlockNumber(reinterpret_cast<const char*>(table->record) + field->offset,
                                                static_cast<std::size_t>(field->length));
    if (!table->memo || block <= 0) {
        table->setError(DbfErrorNoMemo, "No memo data available");
        return nullptr;
    }
    std::int64_t position = 0;
    std::size_t got = 0;
    if (!__builtin_mul_overflow(block, static_cast<std::int64_t>(table->memoBlockSize), &position)
        && table->io.seek(table->io.user, table->memo, position, 0) == 0)
        got = table->io.read(table->io.user, table->memo, table->memoBlock, kMemoBlockBytes);
    if (got == 0 || got > kMemoBlockBytes) {
        table->setError(DbfErrorMemoRead, "An error occured while reading from memo file");
        return nullptr;
    }
    const unsigned char* text = table->memoBlock;
    length = got;
    if (got >= 4 && readU32(table->memoBlock) == 0x0008FFFFu) {
        text = table->memoBlock + 8;
        const std::size_t available = got >= 8 ? got - 8 : 0;
        // dBase IV stores the length of the block's contents, its own 8-byte
        // header included; a value below 8 cannot count that header and is
        // taken as the text's length alone. Reading the stored value as the
        // text length would append stale bytes of the block to the value.
        std::uint32_t stored = got >= 8 ? readU32(table->memoBlock + 4) : 0;
        if (stored >= 8)
            stored -= 8;
        length = stored < available ? stored : available;
    }
    for (std::size_t i = 0; i < length; ++i) {
        if (text[i] == 0x00 || text[i] == 0x1A) {
            length = i;
            break;
        }
    }
    while (length > 0 && text[length - 1] == ' ')
        --length;
    return text;
}

}  // namespace

namespace {

// NUL-ends the text left in dest and removes its leading blanks.
unsigned finishFieldText(char* dest, unsigned destSize, std::size_t length)
{
    if (dest && destSize > 0 && length < destSize) {
        dest[length] = '\0';
        std::size_t blanks = 0;
        while (blanks < length && dest[blanks] == ' ')
            ++blanks;
        if (blanks > 0) {
            std::memmove(dest, dest + blanks, length - blanks + 1);
            length -= blanks;
        }
    }
    return static_cast<unsigned>(length);
}

}  // namespace

char dbf_decimal_point()
{
    // Numbers read the same under every locale: always a full stop.
    return '.';
}

unsigned dbf_field_text(const char* value, unsigned valueLength, char type, int textAsIs, char decimalPoint, char* dest,
                        unsigned destSize)
{
    std::size_t length = valueLength;
    while (length > 0 && value[length - 1] == ' ')
        --length;
    if (dest) {
        // Never beyond the destination: a value that does not fit is cut.
        const std::size_t room = destSize > 0 ? destSize - 1u : 0u;
        if (length > room)
            length = room;
        if (type == 'F') {
            std::memmove(dest, value, length);
            for (std::size_t i = 0; i < length; ++i) {
                if (dest[i] == ',' || dest[i] == '.') {
                    dest[i] = decimalPoint;
                    break;
                }
            }
        } else if (length > 0) {
            if (textAsIs)
                std::memmove(dest, value, length);
            else
                oemToAnsi(value, dest, length);
        }
    }
    return finishFieldText(dest, destSize, length);
}

unsigned dbf_read_field(DbfTable* table, const DbfField* field, char* dest, unsigned destSize, int expectedType)
{
    std::size_t length = 0;
    if (!table) {
        // nothing to read from
    } else if (!field) {
        table->setError(DbfErrorInvalidField, "Invalid field index");
    } else if (expectedType != DbfAnyType
               && field->type != (expectedType >= 0 && expectedType < 6 ? kTypeLetters[expectedType] : '\0')) {
        table->setError(DbfErrorInvalidField, "Unexpected field type");
    } else if (field->offset < 0 || field->length < 0
               || static_cast<std::uint64_t>(field->offset) + static_cast<std::uint64_t>(field->length)
                   > table->recordLength) {
        // The descriptors promise more than the record holds.
        table->setError(DbfErrorInvalidField, "Invalid field pointer");
    } else if (field->type == 'M') {
        const unsigned char* text = readMemoText(table, field, length);
        if (!text) {
            length = 0;
        } else if (dest) {
            const std::size_t room = destSize > 0 ? destSize - 1u : 0u;
            if (length > room)
                length = room;
            table->convert(reinterpret_cast<const char*>(text), dest, length);
        }
    } else {
        return dbf_field_text(reinterpret_cast<const char*>(table->record) + field->offset,
                              static_cast<unsigned>(field->length), field->type, table->textAsIs, dbf_decimal_point(),
                              dest, destSize);
    }
    return finishFieldText(dest, destSize, length);
}

void dbf_close(DbfTable* table)
{
    if (!table)
        return;
    if (table->memo)
        table->io.close(table->io.user, table->memo);
    if (table->file)
        table->io.close(table->io.user, table->file);
    std::free(table->record);
    delete table;
}

int dbf_last_error(const DbfTable* table, const char** text)
{
    if (!table) {
        if (text)
            *text = "";
        return 0;
    }
    if (text)
        *text = table->lastErrorText;
    return table->lastError;
}

}  // namespace codiflux
