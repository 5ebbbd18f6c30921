#pragma once
// The DBF base the generation benchmarks run on: an N field ID, the C field
// REF that is encoded (16 bytes of capitals, digits and '-', all of one
// length, so one symbol size fits every record) and a C field NAME.

#include <QByteArray>
#include <QFile>
#include <QString>

#include <cstring>

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

}  // namespace bench
