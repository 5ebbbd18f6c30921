#pragma once
// CSV bases (RFC 4180), read as a stream: a quoted field may hold the
// delimiter, doubled quotes and line breaks; a row ends at LF or CR LF outside
// quotes. The first row is the header: its names are the fields. The
// delimiter (';', ',' or tab) and the encoding (UTF-8 with or without its
// byte-order mark, else Windows-1252) are found from the file unless forced.
// Every row is also kept exactly as it stands in the file, line end included,
// so that an encoded base can copy it byte for byte.

#include "bases/error.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QFile>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

namespace codiflux {

enum class CsvEncoding : int { Detect = 0, Utf8 = 1, Windows1252 = 2 };

struct CsvOptions {
    char delimiter = 0;  // 0: detected among ';', ',' and tab
    CsvEncoding encoding = CsvEncoding::Detect;
};

struct CsvFormat {
    char delimiter = ';';
    CsvEncoding encoding = CsvEncoding::Windows1252;
    bool byteOrderMark = false;  // the file starts with EF BB BF
};

// One row of the file.
struct CsvRow {
    QByteArray raw;         // the row's bytes as in the file, line end included
    int lineEndLength = 0;  // 0 (last row without line end), 1 (LF) or 2 (CR LF)
    qint64 line = 0;        // 1-based number of the row's first line in the file

    int cellCount() const { return int(bounds_.size()) - 1; }
    // A cell without its quotes, doubled quotes made single, in the file's encoding.
    QByteArrayView cell(int index) const
    {
        return QByteArrayView(cells_.constData() + bounds_[std::size_t(index)],
                              bounds_[std::size_t(index) + 1] - bounds_[std::size_t(index)]);
    }

private:
    friend class CsvReader;
    QByteArray cells_;
    std::vector<qsizetype> bounds_;  // cell i is cells_[bounds_[i] .. bounds_[i + 1])
};

struct CsvParser;

class CsvReader {
public:
    CsvReader();
    ~CsvReader();
    CsvReader(const CsvReader&) = delete;
    CsvReader& operator=(const CsvReader&) = delete;

    // Opens the file, settles its format (what `options` leaves to detection)
    // and reads the header. SourceUnreadable when the file cannot be read,
    // SourceMalformed (the text naming the line) when it is empty or its
    // header is malformed.
    Error open(const QString& path, const CsvOptions& options);

    const CsvFormat& format() const { return format_; }
    const QStringList& columns() const { return columns_; }  // the header's names, decoded
    const CsvRow& header() const { return header_; }

    enum class Status { Row, End, Failed };
    // The next data row. Failed (with the French text in error()) on an
    // unbalanced quote, a stray character after a closing quote, a row whose
    // field count is not the header's, bytes that are not UTF-8 in a UTF-8
    // file, or a read error.
    Status next(CsvRow& row);
    const QString& error() const { return error_; }
    void close();

private:
    Error readHeader(const QString& path);
    Status parse(CsvRow& row, bool checkCount);
    bool fail(const QString& text);

    std::unique_ptr<CsvParser> parser_;
    CsvFormat format_;
    QStringList columns_;
    CsvRow header_;
    QString error_;
};

// The text of a cell in the given encoding (Windows-1252 unless UTF-8).
QString csvText(QByteArrayView bytes, CsvEncoding encoding);

// The bytes a code carries for a cell: its text in Windows-1252, as a DBF
// value after its OEM conversion (a Windows-1252 file gives its bytes as
// they are). A character Windows-1252 lacks becomes '?' and makes it return
// false.
bool csvCodeBytes(QByteArrayView bytes, CsvEncoding encoding, QByteArray& out);

// Text written into a file of the given encoding; a character Windows-1252
// lacks becomes '?' and makes it return false.
bool csvEncode(const QString& text, CsvEncoding encoding, QByteArray& out);

// Appends one more cell to a row: the delimiter, then `bytes` quoted when they
// hold the delimiter, a quote, CR or LF (quotes doubled), as RFC 4180 asks.
void appendCsvCell(QByteArray& out, char delimiter, QByteArrayView bytes);

// What the window shows of a CSV base.
struct CsvDisplay {
    CsvFormat format;
    QStringList columns;
    QList<QList<QByteArray>> rows;  // the first rows' cells as stored, in the file's encoding (csvText)
};

// Reads the header and at most `maxRows` rows; fails as CsvReader::open does,
// or with SourceMalformed when one of those rows is malformed.
Error readCsvForDisplay(const QString& path, const CsvOptions& options, CsvDisplay& display, int maxRows = 1000);

// The index of a column by name (exact, else ignoring case), -1 when none.
int csvColumnIndex(const QStringList& columns, const QString& name);

// Option spellings of the command line: ";", ",", "tab" / "utf-8", "windows-1252".
bool parseCsvDelimiter(const QString& text, char* delimiter);
bool parseCsvEncoding(const QString& text, CsvEncoding* encoding);
QString csvEncodingName(CsvEncoding encoding);

}  // namespace codiflux
