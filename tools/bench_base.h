#pragma once
// The DBF base the generation benchmarks run on: an N field ID, the C field
// REF that is encoded (16 bytes of capitals, digits and '-', all of one
// length, so one symbol size fits every record) and a C field NAME.

#include <QByteArray>
#include <QFile>
#include <QString>

#include <time.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

namespace bench {

constexpr int kIdLength = 8;
constexpr int kRefLength = 16;
constexpr int kNameLength = 20;
constexpr int kRecordLength = 1 + kIdLength + kRefLength + kNameLength;

inline QByteArray refValue(int i)
{
    const QByteArray v = "CFX-" + QByteArray::number(i).rightJustified(8, '0') + "-"
        + QByteArray::number(i % 97).rightJustified(2, '0');
    return v.leftJustified(kRefLength, ' ', true);
}

inline bool buildBase(const QString& path, int records)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QByteArray header(32, '\0');
    header[0] = 0x03;
    header[1] = char(124);
    header[2] = 1;
    header[3] = 1;
    for (int i = 0; i < 4; ++i)
        header[4 + i] = char((quint32(records) >> (8 * i)) & 0xFF);
    const int headerLength = 32 * 4 + 1;
    header[8] = char(headerLength & 0xFF);
    header[9] = char(headerLength >> 8);
    header[10] = char(kRecordLength & 0xFF);
    header[11] = char(kRecordLength >> 8);
    auto descriptor = [](const char* name, char type, int length) {
        QByteArray d(32, '\0');
        std::memcpy(d.data(), name, std::strlen(name));
        d[11] = type;
        d[16] = char(length);
        return d;
    };
    header += descriptor("ID", 'N', kIdLength);
    header += descriptor("REF", 'C', kRefLength);
    header += descriptor("NAME", 'C', kNameLength);
    header += char(0x0D);
    file.write(header);
    QByteArray block;
    for (int i = 0; i < records; ++i) {
        block += ' ';
        block += QByteArray::number(i).rightJustified(kIdLength);
        block += refValue(i);
        block += ("Client " + QByteArray::number(i * 7919 % 100003)).leftJustified(kNameLength, ' ', true);
        if (block.size() > (1 << 20)) {
            file.write(block);
            block.clear();
        }
    }
    block += char(0x1A);
    file.write(block);
    return file.error() == QFile::NoError;
}

// A CPU-bound loop that touches no memory: what one core can do alone.
inline double spin(std::uint64_t rounds)
{
    volatile std::uint64_t sink = 0;
    std::uint64_t x = 88172645463325252ull;
    for (std::uint64_t i = 0; i < rounds; ++i) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
    }
    sink = x;
    return double(sink & 1);
}

inline double monotonicSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// Rounds of spin() that take about `seconds` on one core.
inline std::uint64_t calibratedRounds(double seconds)
{
    std::uint64_t rounds = 1u << 24;
    for (;;) {
        const double start = monotonicSeconds();
        spin(rounds);
        if (monotonicSeconds() - start > seconds || rounds > (1ull << 34))
            return rounds;
        rounds *= 2;
    }
}

// The machine's parallel capacity at the moment, on a shared machine:
// N x (time of one loop alone) / (time of N loops together).
inline double parallelCapacity(int n, std::uint64_t rounds)
{
    double t1 = 1e9;
    double tn = 1e9;
    for (int repeat = 0; repeat < 2; ++repeat) {
        double start = monotonicSeconds();
        spin(rounds);
        t1 = std::min(t1, monotonicSeconds() - start);
        start = monotonicSeconds();
        std::vector<std::thread> threads;
        for (int i = 0; i < n; ++i)
            threads.emplace_back([rounds] { spin(rounds); });
        for (std::thread& t : threads)
            t.join();
        tn = std::min(tn, monotonicSeconds() - start);
    }
    return double(n) * t1 / tn;
}

}  // namespace bench
