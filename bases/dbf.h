#pragma once
// A small reader of dBase tables (.dbf) and their memo files (.dbt).
// Plain functions on an opaque handle; none throws. Every failing operation
// leaves an error code and an English text in the handle (109 = success).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace codiflux {

// File access used by the engine; the default one maps to buffered stdio.
struct DbfIoFunctions {
    void* (*open)(void* user, const char* path, int mode);  // mode bits: 1 read, 2 write, 4 must exist, 8 create
    std::size_t (*read)(void* user, void* file, void* buffer, std::size_t size);
    std::size_t (*write)(void* user, void* file, const void* buffer, std::size_t size);
    std::int64_t (*tell)(void* user, void* file);
    int (*seek)(void* user, void* file, std::int64_t offset, int origin);  // 0 start, 1 current, 2 end; 0 or -1
    int (*close)(void* user, void* file);
    int (*error)(void* user, void* file);
    void* user;
};

enum DbfError : int {
    DbfErrorOutOfMemory = 100,
    DbfErrorInvalidRecord = 103,
    DbfErrorInvalidField = 107,
    DbfSuccess = 109,
    DbfErrorMemoRead = 112,
    DbfErrorNoMemo = 114,
};

// Type index = position of the letter in "CNFDML", -1 for any other letter.
enum DbfType : int { DbfChar = 0, DbfNumeric = 1, DbfFloat = 2, DbfDate = 3, DbfMemo = 4, DbfLogical = 5 };
constexpr int DbfAnyType = -2;

// A field as the engine keeps it.
struct DbfField {
    char name[12];  // as stored, NUL-terminated, not converted
    char type;      // letter; 'F' when the decimal count is not 0
    int length;
    int decimals;
    int offset;  // position of the value in the record (1 for the first field)
};

// A field as callers see it.
struct DbfFieldInfo {
    char name[12];  // converted from OEM (CP850) to ANSI (CP1252) unless text is kept as is
    int type;       // type index, -1 for an unknown letter
    int length;
    int decimals;
};

struct DbfTable;

// Opens a table; none when the file cannot be opened or is not a table (shorter
// than 32 bytes, a version byte other than 0x03, 0x04, 0x30, 0x83 and 0x8B, a
// month outside 1-12 or a day outside 1-31). The field count is what the
// header length holds (up to 2046), ended early by a descriptor starting with
// a byte of 0x20 or less; the record count is the header's, bounded by the
// records the file holds (all of them when the header stores 0). The memo
// file (the path with its last character made 'T' or 't') is opened for reading
// only unless the table is writable. A 'C' field takes bytes 16 and 17 of its
// descriptor as a 16-bit length (decimal count 0); other types keep byte 16 as
// length and byte 17 as decimal count, and a field with decimals reads as F.
// With the default file access, a path that is not a regular file (FIFO,
// device, directory) opens nothing.
DbfTable* dbf_open(const char* path, const DbfIoFunctions* io, int writable, int textAsIs);
// The memo file dbf_open opens beside the table at `path`.
std::string dbf_memo_path(const char* path);
unsigned dbf_field_count(const DbfTable* table);

// The header as stored, for a copy of the table: its first 32 bytes, and the
// descriptors found from byte 32 up to the 0x0D terminator, a descriptor that
// gives its field a length of 0 ('C': bytes 16-17), or the end of the file
// (at most 2046), 32 bytes each. Their count may differ from dbf_field_count,
// which the header length bounds and a descriptor starting with a byte of
// 0x20 or less ends.
const unsigned char* dbf_header_bytes(const DbfTable* table);
unsigned dbf_descriptor_count(const DbfTable* table);
const unsigned char* dbf_descriptors(const DbfTable* table);
// The byte after the terminator, at 32 x (dbf_descriptor_count + 1) + 1; -1
// beyond the file.
int dbf_byte_after_terminator(const DbfTable* table);
// The length of the table's file in bytes, -1 when it cannot be told.
std::int64_t dbf_file_size(const DbfTable* table);
bool dbf_field_info(const DbfTable* table, unsigned index, DbfFieldInfo* info);
unsigned dbf_record_count(const DbfTable* table);
bool dbf_goto_record(DbfTable* table, unsigned index);
const DbfField* dbf_field(DbfTable* table, unsigned index);
// Reads the field of the loaded record as text into dest (never more than
// destSize bytes); returns the length of the text left there, 0 on failure.
// A value longer than destSize - 1 bytes is cut there and always NUL-ended;
// with no dest nothing is written and the length of the whole value is returned.
// A field whose value would lie beyond the record fails with 107
// "Invalid field pointer" and an empty value.
unsigned dbf_read_field(DbfTable* table, const DbfField* field, char* dest, unsigned destSize, int expectedType);
// The text that dbf_read_field gives for a field whose stored bytes are
// value[0 .. valueLength-1] (not for a memo field): trailing and leading blanks
// removed, OEM text converted unless textAsIs, the first '.' or ',' of an F
// field (type letter as in DbfField) made `decimalPoint`. Same limits on dest.
// Touches no table, so any thread may call it.
unsigned dbf_field_text(const char* value, unsigned valueLength, char type, int textAsIs, char decimalPoint, char* dest,
                        unsigned destSize);
// The decimal point dbf_read_field writes into an F field's text: a full
// stop, whatever the C library's locale.
char dbf_decimal_point();
void dbf_close(DbfTable* table);
// Last error code; the text is copied to *text when given.
int dbf_last_error(const DbfTable* table, const char** text);

// The file-access table used when dbf_open is given none (buffered stdio, 64-bit offsets).
const DbfIoFunctions* dbf_default_io();

// Conversion of OEM text (code page 850) to ANSI (code page 1252), in place is allowed.
// Characters without an ANSI equivalent become '+', '-' or '|' (box drawing),
// 'i' (dotless i), '_' (double low line) or '?' (blocks, shades, black square).
void oemToAnsi(const char* source, char* dest, std::size_t length);

struct DbfTableCloser {
    void operator()(DbfTable* table) const noexcept { dbf_close(table); }
};
using DbfTablePtr = std::unique_ptr<DbfTable, DbfTableCloser>;

}  // namespace codiflux
