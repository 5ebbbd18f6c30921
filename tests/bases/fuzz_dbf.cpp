// libFuzzer target of the dBase table engine and of the generation's source
// reader. The input is a table, optionally followed by the marker below and a
// memo file; without the marker the input also serves as its own memo file.
// For the engine the files live in memory, behind a file-access table of
// their own, so that the engine's use of it is exercised too. Every field of
// every record (the first 1000) is read with several destination sizes and
// expected types. The generation's reader scans the table from a memory-backed
// file and reads its records (the first 1000) as a run would.

#include "bases/dbf.h"
#include "generation/generationcore.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include <sys/mman.h>
#include <unistd.h>

using namespace codiflux;

namespace {

constexpr std::string_view kMemoMarker = "\n--memo--\n";

struct MemoryFile {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    std::int64_t position = 0;
    bool open = false;
};

struct MemoryFiles {
    MemoryFile table;
    MemoryFile memo;
    bool hasMemo = false;
};

void* memOpen(void* user, const char* path, int mode)
{
    auto* files = static_cast<MemoryFiles*>(user);
    if ((mode & 3) == 0)
        return nullptr;
    const std::size_t n = std::strlen(path);
    MemoryFile* file = nullptr;
    if (n >= 4 && std::strcmp(path + n - 4, ".dbf") == 0)
        file = &files->table;
    else if (n >= 4 && std::strcmp(path + n - 4, ".dbt") == 0 && files->hasMemo)
        file = &files->memo;
    if (!file || file->open)
        return nullptr;
    file->open = true;
    file->position = 0;
    return file;
}

std::size_t memRead(void*, void* handle, void* buffer, std::size_t size)
{
    auto* file = static_cast<MemoryFile*>(handle);
    if (file->position < 0 || static_cast<std::uint64_t>(file->position) >= file->size)
        return 0;
    const std::size_t left = file->size - static_cast<std::size_t>(file->position);
    const std::size_t n = size < left ? size : left;
    std::memcpy(buffer, file->data + file->position, n);
    file->position += static_cast<std::int64_t>(n);
    return n;
}

std::size_t memWrite(void*, void*, const void*, std::size_t)
{
    return 0;
}

std::int64_t memTell(void*, void* handle)
{
    return static_cast<MemoryFile*>(handle)->position;
}

int memSeek(void*, void* handle, std::int64_t offset, int origin)
{
    auto* file = static_cast<MemoryFile*>(handle);
    std::int64_t base;
    switch (origin) {
    case 0:
        base = 0;
        break;
    case 1:
        base = file->position;
        break;
    case 2:
        base = static_cast<std::int64_t>(file->size);
        break;
    default:
        return -1;
    }
    std::int64_t target;
    if (__builtin_add_overflow(base, offset, &target) || target < 0)
        return -1;
    file->position = target;
    return 0;
}

int memClose(void*, void* handle)
{
    auto* file = static_cast<MemoryFile*>(handle);
    if (!file->open)
        __builtin_trap();  // closed twice
    file->open = false;
    return 0;
}

int memError(void*, void*)
{
    return 0;
}

char destination[70000];

void readAll(DbfTable* table)
{
    const unsigned fields = dbf_field_count(table);
    if (fields > 2046)  // all a 16-bit header length holds
        __builtin_trap();
    for (unsigned f = 0; f <= fields; ++f) {
        DbfFieldInfo info{};
        if (dbf_field_info(table, f, &info) != (f < fields))
            __builtin_trap();
        if (f < fields && info.name[11] != '\0')
            __builtin_trap();
    }
    unsigned records = dbf_record_count(table);
    if (records > 1000)
        records = 1000;
    static const unsigned sizes[] = {0, 1, 2, 7, 64, sizeof destination};
    for (unsigned r = 0; r <= records; ++r) {
        if (!dbf_goto_record(table, r))
            continue;
        for (unsigned f = 0; f <= fields; ++f) {
            const DbfField* field = dbf_field(table, f);
            if ((field != nullptr) != (f < fields))
                __builtin_trap();
            DbfFieldInfo info{};
            dbf_field_info(table, f, &info);
            for (unsigned size : sizes) {
                for (int type : {DbfAnyType, info.type}) {
                    const unsigned length = dbf_read_field(table, field, destination, size, type);
                    if (size > 0 && (length >= size || destination[length] != '\0'))
                        __builtin_trap();
                }
            }
            dbf_read_field(table, field, nullptr, 0, DbfAnyType);
        }
    }
    const char* text = nullptr;
    dbf_last_error(table, &text);
    if (!text || std::strlen(text) > 255)
        __builtin_trap();
}

// The table as a file that the generation's reader opens by its path.
class MemoryBackedFile {
public:
    MemoryBackedFile()
        : fd(::memfd_create("fuzz.dbf", 0))
        , path(QStringLiteral("/proc/self/fd/%1").arg(fd))
    {
        if (fd < 0)
            __builtin_trap();
    }
    const QString& set(const std::uint8_t* data, std::size_t size)
    {
        if (::ftruncate(fd, 0) != 0 || (size > 0 && ::pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)))
            __builtin_trap();
        return path;
    }

private:
    int fd;
    QString path;
};

void readAsGeneration(const std::uint8_t* data, std::size_t size)
{
    static MemoryBackedFile file;
    const QString& path = file.set(data, size);
    SourceReader reader;
    if (reader.scanDbf(path) != SourceScanStatus::Ok)
        return;
    const SourceLayout& layout = reader.layout();
    // The records start past the descriptors and their terminator, and the
    // count goes at most one record beyond what the file holds.
    const std::int64_t descriptorsEnd = 32 * (std::int64_t(layout.fields.size()) + 1) + 1;
    std::int64_t sum = 1;
    for (const SourceField& field : layout.fields) {
        if (field.length <= 0 || field.length > 65535 || field.offset != sum)
            __builtin_trap();
        sum += field.length;
    }
    if (layout.recordLength != sum || layout.dataOffset < descriptorsEnd || layout.recordCount < 0
        || layout.fields.size() > 2046 || layout.header.size() != 32 * (layout.fields.size() + 1))
        __builtin_trap();
    const std::int64_t held
        = std::int64_t(size) > layout.dataOffset ? (std::int64_t(size) - layout.dataOffset) / layout.recordLength : 0;
    if (layout.recordCount > held + 1)
        __builtin_trap();
    if (!reader.open())
        return;
    std::vector<char> record(std::size_t(layout.recordLength));
    const std::int64_t records = layout.recordCount < 1000 ? layout.recordCount : 1000;
    for (std::int64_t r = 1; r <= records; ++r) {
        const bool whole = reader.read(record.data()) == SourceReader::ReadStatus::Ok;
        // Every record the file holds reads whole, and none beyond it.
        if (whole != (r <= held))
            __builtin_trap();
        if (!whole)
            break;
        if (std::memcmp(record.data(), data + layout.dataOffset + (r - 1) * layout.recordLength, record.size()) != 0)
            __builtin_trap();
    }
    reader.close();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    MemoryFiles files;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t marker = input.find(kMemoMarker);
    if (marker != std::string_view::npos) {
        files.table = {data, marker, 0, false};
        files.memo = {data + marker + kMemoMarker.size(), size - marker - kMemoMarker.size(), 0, false};
    } else {
        files.table = {data, size, 0, false};
        files.memo = {data, size, 0, false};
    }
    files.hasMemo = true;
    const DbfIoFunctions io = {memOpen, memRead, memWrite, memTell, memSeek, memClose, memError, &files};

    const int textAsIs = static_cast<int>(size & 1);
    if (DbfTable* table = dbf_open("fuzz.dbf", &io, 0, textAsIs)) {
        readAll(table);
        dbf_close(table);
    }
    // Every file the engine opened is closed again.
    if (files.table.open || files.memo.open)
        __builtin_trap();
    readAsGeneration(files.table.data, files.table.size);
    return 0;
}
