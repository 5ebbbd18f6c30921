#pragma once
// dBase tables written byte by byte by the tests: the 32-byte header, one
// 32-byte descriptor a field, the 0x0D terminator, the records (a deletion
// flag then each value padded with blanks to its field's length) and the
// 0x1A end mark.

#include <QByteArray>
#include <QList>
#include <QPair>

#include <cstring>

namespace testsupport {

struct DbfField {
    QByteArray name;  // at most 10 bytes are kept
    char type = 'C';
    int length = 0;
    int decimals = 0;
};

struct DbfRecord {
    char flag = ' ';           // ' ' live, '*' deleted
    QList<QByteArray> values;  // padded with blanks (or cut) to the field lengths
};

// What else goes into the file besides the fields and records.
struct DbfLayout {
    quint8 version = 0x03;
    quint8 year = 124;  // date of last update, the year counted from 1900
    quint8 month = 5;
    quint8 day = 17;
    qint64 declaredCount = -1;   // the header's record count; -1: the records given
    QByteArray afterTerminator;  // between the 0x0D and the records, counted in the header length
    char reserved29 = 0;         // header byte 29
    bool endOfFileByte = true;   // the 0x1A after the records
};

inline void putLe16(QByteArray& bytes, int at, quint32 value)
{
    bytes[at] = char(value & 0xFF);
    bytes[at + 1] = char((value >> 8) & 0xFF);
}

inline void putLe32(QByteArray& bytes, int at, quint32 value)
{
    putLe16(bytes, at, value & 0xFFFF);
    putLe16(bytes, at + 2, value >> 16);
}

inline quint16 getLe16(const QByteArray& bytes, int at)
{
    return quint16(quint8(bytes[at]) | (quint8(bytes[at + 1]) << 8));
}

// A memo file: a 512-byte header holding the block size (0 reads as 512),
// then each text at its block number.
inline QByteArray memoBytes(const QList<QPair<qint64, QByteArray>>& blocks, unsigned blockSize = 512)
{
    const qint64 size = blockSize == 0 ? 512 : blockSize;
    QByteArray out(512, '\0');
    putLe16(out, 20, blockSize);
    for (const auto& [number, content] : blocks) {
        if (out.size() < number * size + content.size())
            out.resize(number * size + content.size(), '\0');
        out.replace(number * size, content.size(), content);
    }
    return out;
}

inline int dbfRecordLength(const QList<DbfField>& fields)
{
    int length = 1;
    for (const DbfField& f : fields)
        length += f.length;
    return length;
}

// One record as stored: the flag, then every value cut or padded with blanks.
inline QByteArray dbfRecordBytes(const QList<DbfField>& fields, const DbfRecord& record)
{
    QByteArray bytes(1, record.flag);
    for (qsizetype i = 0; i < fields.size(); ++i)
        bytes += record.values.value(i).leftJustified(fields.at(i).length, ' ', true);
    return bytes;
}

inline QByteArray dbfBytes(const QList<DbfField>& fields, const QList<DbfRecord>& records, const DbfLayout& layout = {})
{
    QByteArray bytes(32, '\0');
    bytes[0] = char(layout.version);
    bytes[1] = char(layout.year);
    bytes[2] = char(layout.month);
    bytes[3] = char(layout.day);
    putLe32(bytes, 4, quint32(layout.declaredCount >= 0 ? layout.declaredCount : records.size()));
    const int headerLength = 32 * (int(fields.size()) + 1) + 1 + int(layout.afterTerminator.size());
    const int recordLength = dbfRecordLength(fields);
    putLe16(bytes, 8, quint32(headerLength));
    putLe16(bytes, 10, quint32(recordLength));
    bytes[29] = layout.reserved29;
    for (const DbfField& f : fields) {
        QByteArray d(32, '\0');
        std::memcpy(d.data(), f.name.constData(), std::size_t(qMin<qsizetype>(f.name.size(), 10)));
        d[11] = f.type;
        // A character field's length takes both bytes; other fields keep
        // their decimals in the second.
        d[16] = char(f.length & 0xFF);
        d[17] = char(f.type == 'C' ? (f.length >> 8) & 0xFF : f.decimals);
        bytes += d;
    }
    bytes += char(0x0D);
    bytes += layout.afterTerminator;
    bytes.reserve(bytes.size() + qsizetype(records.size()) * recordLength + 1);
    for (const DbfRecord& r : records)
        bytes += dbfRecordBytes(fields, r);
    if (layout.endOfFileByte)
        bytes += char(0x1A);
    return bytes;
}

// The same with every record live: `rows` holds each record's values.
inline QByteArray dbfBytes(const QList<DbfField>& fields, const QList<QList<QByteArray>>& rows,
                           const DbfLayout& layout = {})
{
    QList<DbfRecord> records;
    records.reserve(rows.size());
    for (const QList<QByteArray>& row : rows)
        records.append({' ', row});
    return dbfBytes(fields, records, layout);
}

}  // namespace testsupport
