#pragma once
// Text bases: files of fixed-length lines, one record per line. Read byte for
// byte (each byte one Latin-1 character); a line ends at LF or CR LF; a UTF-8
// byte-order mark at the start of the file is skipped.

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

// false when the file cannot be opened; `error` then holds the system's text.
bool readTextBaseForDisplay(const QString& path, TextBaseDisplay& display, QString* error, int maxLines = 1000);

// Streams the lines of a text base, one at a time.
class TextLineReader {
public:
    bool open(const QString& path, QString* error = nullptr);
    // Next line without its line end; false at the end of the file (or on a read error).
    bool next(QByteArray& line);
    bool atEnd() const;
    // true after a read error (next() then returned false before the end).
    bool failed() const { return readError; }
    QString errorString() const { return file.errorString(); }
    void close();

private:
    QFile file;
    bool first = true;
    bool readError = false;
};

enum class TextScanStatus { Ok, OpenFailed, UnequalLengths, Cancelled, ReadFailed };

struct TextScanResult {
    TextScanStatus status = TextScanStatus::Ok;
    qint64 recordCount = 0;  // non-empty lines
    int recordLength = 0;    // length of the first non-empty line
    QString error;           // the system's text for OpenFailed and ReadFailed
};

// Validating and counting pass of a generation: every non-empty line counts one
// record; once a length is known, any line of another length (an empty one
// included) rejects the base. `beforeLine` runs before every line and returns
// false to cancel.
TextScanResult scanTextBase(const QString& path, const std::function<bool()>& beforeLine = {});

} // namespace codiflux
