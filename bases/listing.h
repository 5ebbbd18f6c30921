#pragma once
// A DBF field's name and values as the window lists them (and as the command
// line picks its sample among them).

#include "bases/codepage.h"
#include "bases/dbf.h"

#include <QByteArray>
#include <QString>

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
// The name of a field of a table opened with its text as stored, read with
// the table's code page.
QString fieldName(const DbfFieldInfo& field, CodePage page);

// Field `field` of record `record` (both 0-based) as the window lists it, the
// command line picks its sample and a run takes a memo's text: the engine's
// text (leading and trailing blanks removed) padded with blanks to exactly
// the field's length. A record that cannot be loaded, or a field of a type
// letter the engine does not know, gives blanks, never another record's
// value. `valueLength`, when given, receives the text's length before the
// padding (0 for a blank value).
QByteArray listedValue(DbfTable* table, unsigned record, unsigned field, unsigned* valueLength = nullptr);

}  // namespace codiflux
