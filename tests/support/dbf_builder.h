#pragma once
// dBase tables byte by byte: header, descriptors, 0x0D, records (flag, values padded or cut to length), 0x1A.

#include <QList>
#include <QPair>

namespace testsupport {

struct DbfField {
    QByteArray name;  // at most 10 bytes are kept
    char type = 'C';
    int length = 0;
    int decimals = 0;
};

struct DbfRecord {
    char flag = ' ';  // ' ' live, '*' deleted
    QList<QByteArray> values;
};

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

inline void putLe32(QByteArray& bytes, int at, quint32 value, int size = 4)  // little-endian
{
    for (int i = 0; i < size; ++i)
        bytes[at + i] = char((value >> (8 * i)) & 0xFF);
}

inline QByteArray dbfRecordBytes(const QList<DbfField>& fields, const DbfRecord& record)
{
    QByteArray bytes(1, record.flag);
    for (qsizetype i = 0; i < fields.size(); ++i)
        bytes += record.values.value(i).leftJustified(fields.at(i).length, ' ', true);
    return bytes;
}

inline int dbfRecordLength(const QList<DbfField>& fields)
{
    return int(dbfRecordBytes(fields, {}).size());
}

inline void putLe16(QByteArray& bytes, int at, quint32 value)
{
    putLe32(bytes, at, value, 2);
}

inline quint16 getLe16(const QByteArray& bytes, int at)
{
    return quint16(quint8(bytes[at]) | (quint8(bytes[at + 1]) << 8));
}

// A memo file: a 512-byte header holding the block size (0 reads as 512), then each text at its block number.
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

inline QByteArray dbfBytes(const QList<DbfField>& fields, const QList<DbfRecord>& records, const DbfLayout& layout = {})
{
    QByteArray bytes(32, '\0');
    bytes.replace(0, 4,
                  QByteArray(1, char(layout.version)) + char(layout.year) + char(layout.month) + char(layout.day));
    putLe32(bytes, 4, quint32(layout.declaredCount >= 0 ? layout.declaredCount : records.size()));
    putLe16(bytes, 8, quint32(32 * (fields.size() + 1) + 1 + layout.afterTerminator.size()));
    putLe16(bytes, 10, quint32(dbfRecordLength(fields)));
    bytes[29] = layout.reserved29;
    for (const DbfField& f : fields) {
        QByteArray d(32, '\0');
        d.replace(0, f.name.left(10).size(), f.name.left(10));
        d[11] = f.type;
        putLe16(d, 16, quint32(f.type == 'C' ? f.length : (f.length & 0xFF) | (f.decimals << 8)));
        bytes += d;
    }
    bytes += char(0x0D) + layout.afterTerminator;
    for (const DbfRecord& r : records)
        bytes += dbfRecordBytes(fields, r);
    return layout.endOfFileByte ? bytes + char(0x1A) : bytes;
}

// The same with every record live: `rows` holds each record's values.
inline QByteArray dbfBytes(const QList<DbfField>& fields, const QList<QList<QByteArray>>& rows,
                           const DbfLayout& layout = {})
{
    QList<DbfRecord> records;
    for (const QList<QByteArray>& row : rows)
        records.append({' ', row});
    return dbfBytes(fields, records, layout);
}

}  // namespace testsupport
