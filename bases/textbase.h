#pragma once
// Text bases: files of fixed-length lines, one record per line. Read byte for
// byte; a line ends at LF or CR LF; a UTF-8 byte-order mark at the start of
// the file is skipped. The lines' text is read with the base's code page
// (textCodePage, bases/codepage.h): Latin-1 or UTF-8.

#include "bases/error.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>

#include <functional>

namespace codiflux {

// Lines shown when a text base is loaded.
struct TextBaseDisplay {
    QList<QByteArray> lines;  // at most maxLines, line ends removed
    int maxLineLength = 0;    // longest of those lines, in bytes
};

// SourceUnreadable when the file cannot be opened (the system's text), or
// SourceMalformed when a line shown is longer than kMaxTextRecordLength
// (lineTooLongText).
Error readTextBaseForDisplay(const QString& path, TextBaseDisplay& display, int maxLines = 1000);

// The longest record of a text base, in bytes, as for a DBF record.
constexpr qsizetype kMaxTextRecordLength = 65535;

// The refusal of line `line` (1-based), longer than kMaxTextRecordLength.
QString lineTooLongText(qint64 line);

// Streams the lines of a text base, one at a time.
class TextLineReader {
public:
    // SourceUnreadable, with the system's text, when the file cannot be
    // opened or is not a regular file.
    Error open(const QString& path);
    // Next line without its line end; false at the end of the file, on a read
    // error, or for a line longer than kMaxTextRecordLength, which is refused
    // before it is read whole (never more than twice that is held).
    bool next(QByteArray& line);
    bool atEnd() const;
    // true after a read error (next() then returned false before the end).
    bool failed() const { return readError; }
    // true when next() refused a line too long; lineNumber() is then that line.
    bool lineTooLong() const { return tooLong; }
    qint64 lineNumber() const { return lines; }  // lines read so far, the refused one included
    // true once next() skipped a byte-order mark at the start of the file.
    bool byteOrderMark() const { return bom; }
    QString errorString() const { return file.errorString(); }
    void close();

private:
    QFile file;
    bool first = true;
    bool readError = false;
    bool tooLong = false;
    bool bom = false;
    qint64 lines = 0;
};

}  // namespace codiflux
