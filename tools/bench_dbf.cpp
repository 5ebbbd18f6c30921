// Benchmark of the dBase table engine. Writes a table of N records (default
// 1,000,000) to a temporary file, then times:
//   - a plain sequential read of the file (the disk cache's pace, for reference),
//   - loading every record (goto),
//   - loading every record and reading every field,
//   - loading records in random order and reading every field.
// Usage: bench_dbf [records] [path]

#include "bases/dbf.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

using namespace codiflux;

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

struct FieldSpec {
    const char* name;
    char type;
    int length;
    int decimals;
};

const FieldSpec kFields[] = {
    {"CODE", 'C', 13, 0}, {"NOM", 'C', 30, 0}, {"QTE", 'N', 8, 0}, {"PRIX", 'N', 10, 2}, {"DATE", 'D', 8, 0},
};

void put16(unsigned char* p, unsigned v)
{
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}

void put32(unsigned char* p, unsigned v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<unsigned char>(v >> (8 * i));
}

bool writeTable(const std::string& path, unsigned records, unsigned& recordLength)
{
    const unsigned fields = sizeof kFields / sizeof kFields[0];
    recordLength = 1;
    for (const FieldSpec& f : kFields)
        recordLength += static_cast<unsigned>(f.length);
    const unsigned headerLength = 32 + 32 * fields + 1;
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    std::vector<unsigned char> header(headerLength, 0);
    header[0] = 0x03;
    header[1] = 124;
    header[2] = 6;
    header[3] = 15;
    put32(&header[4], records);
    put16(&header[8], headerLength);
    put16(&header[10], recordLength);
    for (unsigned i = 0; i < fields; ++i) {
        unsigned char* d = &header[32 + 32 * i];
        std::memcpy(d, kFields[i].name, std::strlen(kFields[i].name));
        d[11] = static_cast<unsigned char>(kFields[i].type);
        d[16] = static_cast<unsigned char>(kFields[i].length);
        d[17] = static_cast<unsigned char>(kFields[i].decimals);
    }
    header[headerLength - 1] = 0x0D;
    std::fwrite(header.data(), 1, header.size(), file);

    std::vector<char> record(recordLength + 1);
    for (unsigned r = 0; r < records; ++r) {
        std::snprintf(record.data(), record.size(), " %013u%-30s%8u%10.2f%04u%02u%02u", r, "Client \x82tabli", r % 1000,
                      (r % 100000) / 100.0, 2000 + r % 25, 1 + r % 12, 1 + r % 28);
        std::fwrite(record.data(), 1, recordLength, file);
    }
    std::fputc(0x1A, file);
    return std::fclose(file) == 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const unsigned records = argc > 1 ? static_cast<unsigned>(std::strtoul(argv[1], nullptr, 10)) : 1000000u;
    const std::string path = argc > 2 ? argv[2] : "/tmp/codiflux_bench_dbf.dbf";

    unsigned recordLength = 0;
    auto start = Clock::now();
    if (!writeTable(path, records, recordLength)) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        return 1;
    }
    const double fileMb = (static_cast<double>(records) * recordLength) / 1e6;
    std::printf("table: %u records of %u bytes (%.1f MB) written in %.2f s to %s\n", records, recordLength, fileMb,
                seconds(start), path.c_str());

    // Reference: the whole file read sequentially in 64 KiB blocks.
    {
        std::vector<char> block(65536);
        FILE* file = std::fopen(path.c_str(), "rb");
        start = Clock::now();
        std::size_t total = 0, n;
        while ((n = std::fread(block.data(), 1, block.size(), file)) > 0)
            total += n;
        const double t = seconds(start);
        std::fclose(file);
        std::printf("%-38s %8.3f s  %7.0f MB/s\n", "plain sequential read of the file", t, total / 1e6 / t);
    }

    DbfTable* table = dbf_open(path.c_str(), nullptr, 0, 0);
    if (!table) {
        std::fprintf(stderr, "cannot open %s\n", path.c_str());
        return 1;
    }
    const unsigned fields = dbf_field_count(table);
    std::vector<const DbfField*> fieldPointers;
    for (unsigned f = 0; f < fields; ++f)
        fieldPointers.push_back(dbf_field(table, f));
    char dest[256];
    unsigned long long checksum = 0;

    auto pass = [&](const char* label, const std::vector<unsigned>* order, bool readValues) {
        start = Clock::now();
        for (unsigned i = 0; i < records; ++i) {
            const unsigned r = order ? (*order)[i] : i;
            if (!dbf_goto_record(table, r)) {
                std::fprintf(stderr, "record %u not loaded\n", r);
                std::exit(1);
            }
            if (readValues) {
                for (const DbfField* field : fieldPointers)
                    checksum += dbf_read_field(table, field, dest, sizeof dest, DbfAnyType)
                        + static_cast<unsigned char>(dest[0]);
            }
        }
        const double t = seconds(start);
        std::printf("%-38s %8.3f s  %10.0f records/s  %7.0f MB/s", label, t, records / t, fileMb / t);
        if (readValues)
            std::printf("  %10.0f values/s", records * double(fields) / t);
        std::printf("\n");
        return t;
    };

    const double gotoOnly = pass("goto, sequential", nullptr, false);
    const double sequential = pass("goto + every field, sequential", nullptr, true);
    std::vector<unsigned> order(records);
    for (unsigned i = 0; i < records; ++i)
        order[i] = i;
    std::shuffle(order.begin(), order.end(), std::mt19937(12345));
    const double random = pass("goto + every field, random order", &order, true);

    std::printf("ratios: reading the %u fields costs %.2fx the goto alone; random order costs %.2fx sequential\n",
                fields, sequential / gotoOnly, random / sequential);
    std::printf("(checksum %llu)\n", checksum);
    dbf_close(table);
    std::remove(path.c_str());
    return 0;
}
