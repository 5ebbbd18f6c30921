#pragma once
// A DBF field's name and values as the window lists them (and as the command
// line picks its sample among them).

#include "bases/dbf.h"

#include <QByteArray>
#include <QString>

#include <vector>

namespace codiflux {

// Records the window lists for a field (and lines it shows of a text base),
// and so the records the command line searches for a sample.
constexpr unsigned kListedRecords = 1000;

// Why the table engine does not open `path`, in French: the file cannot be
// opened, is shorter than a header, or its version, month or day byte is not
// one of a table's.
QString tableRefusalText(const QString& path);

// The field's name, its bytes read as Latin-1 characters.
QString fieldName(const DbfFieldInfo& field);

// Reads one field of a table record after record into one buffer.
class FieldLister {
public:
    FieldLister(DbfTable* table, unsigned fieldIndex, const DbfFieldInfo& field);

    // Loads the record; the entry is then its value without leading and
    // trailing blanks, padded with blanks to the field's length: exactly
    // length() bytes. A record that cannot be loaded gives blanks, never the
    // previous record's value. Returns the value's length before the padding.
    unsigned read(unsigned record);

    const char* entry() const { return buffer_.data(); }
    qsizetype length() const { return qsizetype(fieldLength_); }
    QByteArray entryBytes() const { return QByteArray(buffer_.data(), length()); }

private:
    DbfTable* table_;
    const DbfField* descriptor_;
    int type_;
    unsigned fieldLength_;
    std::vector<char> buffer_;  // fieldLength_ + 1 bytes
};

}  // namespace codiflux
