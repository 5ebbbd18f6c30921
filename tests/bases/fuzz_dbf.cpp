// libFuzzer target of the dBase table engine and of the DBF source built on
// it. The input is a table, optionally followed by the marker below and a
// memo file; without the marker the input also serves as its own memo file.
// Both are written beside each other in a folder of the run's own. Every field
// of every record (the first 1000) is read with several destination sizes and
// expected types; the DBF source then reads the table's layout and its
// records (the first 1000) as a run would.

#include "bases/dbf.h"
#include "bases/source.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include <unistd.h>

using namespace codiflux;

namespace {

constexpr std::string_view kMemoMarker = "\n--memo--\n";

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

void readAsGeneration(const QString& path, const std::uint8_t* data, std::size_t size)
{
    std::unique_ptr<DbfSource> source = DbfSource::open(path, nullptr);
    if (!source)
        return;
    const SourceLayout& layout = source->layout();
    // The records start past the descriptors and their terminator, and the
    // count goes at most one record beyond what the file holds.
    const std::int64_t descriptorsEnd = 32 * (std::int64_t(source->descriptorCount()) + 1) + 1;
    std::int64_t sum = 1;
    for (const SourceField& field : layout.fields) {
        if (field.length < 0 || field.length > 65535 || field.offset != sum)
            __builtin_trap();
        sum += field.length;
    }
    if (layout.recordLength != sum || layout.dataOffset < descriptorsEnd || layout.recordCount < 0
        || layout.fields.size() > 2046 || source->descriptorCount() > 2046
        || layout.header.size() != 32 * (std::min(layout.fields.size(), source->descriptorCount()) + 1))
        __builtin_trap();
    const std::int64_t held
        = std::int64_t(size) > layout.dataOffset ? (std::int64_t(size) - layout.dataOffset) / layout.recordLength : 0;
    if (layout.recordCount > held + 1)
        __builtin_trap();
    if (source->start())
        return;
    std::vector<char> record(std::size_t(layout.recordLength));
    const std::int64_t records = layout.recordCount < 1000 ? layout.recordCount : 1000;
    for (std::int64_t r = 1; r <= records; ++r) {
        const bool whole = source->next(record.data());
        // Every record the file holds reads whole, and none beyond it.
        if (whole != (r <= held))
            __builtin_trap();
        if (!whole)
            break;
        if (std::memcmp(record.data(), data + layout.dataOffset + (r - 1) * layout.recordLength, record.size()) != 0)
            __builtin_trap();
    }
    source->stop();
}

// The folder of this run, made once.
const QString& folder()
{
    static const QString path = [] {
        char name[] = "/tmp/fuzz_dbf.XXXXXX";
        if (!::mkdtemp(name))
            __builtin_trap();
        return QString::fromLocal8Bit(name);
    }();
    return path;
}

void writeFile(const QString& path, const std::uint8_t* data, std::size_t size)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || file.write(reinterpret_cast<const char*>(data), qint64(size)) != qint64(size))
        __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t marker = input.find(kMemoMarker);
    const std::size_t tableSize = marker != std::string_view::npos ? marker : size;
    const QString path = folder() + QStringLiteral("/fuzz.dbf");
    writeFile(path, data, tableSize);
    if (marker != std::string_view::npos)
        writeFile(folder() + QStringLiteral("/fuzz.dbt"), data + marker + kMemoMarker.size(),
                  size - marker - kMemoMarker.size());
    else
        writeFile(folder() + QStringLiteral("/fuzz.dbt"), data, size);

    const int textAsIs = static_cast<int>(size & 1);
    if (DbfTable* table = dbf_open(QFile::encodeName(path).constData(), nullptr, 0, textAsIs)) {
        readAll(table);
        dbf_close(table);
    }
    readAsGeneration(path, data, tableSize);
    return 0;
}
