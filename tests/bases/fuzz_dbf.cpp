// libFuzzer target of the dBase table engine. The input is a table, optionally
// followed by the marker below and a memo file; without the marker the input
// also serves as its own memo file. The files live in memory, behind a
// file-access table of their own, so that the engine's use of it is exercised
// too. Every field of every record (the first 1000) is read with several
// destination sizes and expected types.

#include "bases/dbf.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

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
    case 0: base = 0; break;
    case 1: base = file->position; break;
    case 2: base = static_cast<std::int64_t>(file->size); break;
    default: return -1;
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
    if (fields > 255)
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

} // namespace

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
    return 0;
}
