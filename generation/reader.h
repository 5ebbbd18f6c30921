#pragma once
// The reader of a run's source: scans its layout, then hands its records out
// one by one, each as a flag byte followed by the data (DBF record, or a blank
// and a text line).

#include "generation/job.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdio>
#include <functional>
#include <memory>

namespace codiflux {

struct SourceField {
    qint64 offset = 0;  // position in the record; the flag byte is at 0
    int length = 0;
    char type = 'C';   // DBF type letter; 'C' for the range of a text base
    int decimals = 0;  // byte 17 of a descriptor other than 'C'
    QByteArray name;   // bytes 0-10 of the descriptor, up to the first NUL
};

struct SourceLayout {
    int kind = BaseNone;        // BaseDbf or BaseText
    QList<SourceField> fields;  // DBF: the scanned descriptors; text: the column range
    qint64 recordLength = 0;    // K: flag byte included
    qint64 recordCount = 0;     // DBF: header count (from the file size when 0), at most one record beyond
                                // what the file holds; text: non-empty lines
    // DBF only
    QByteArray header;      // the 32-byte header and the scanned descriptors, as read
    qint64 dataOffset = 0;  // first record: the header length when it holds the descriptors and lies
                            // within the file; else 32 x (fields + 1) + 1, +1 after a 0x00, +262 for 0x30
    unsigned char version = 0;
};

enum class SourceScanStatus { Ok, OpenFailed, UnequalLengths, Cancelled, ReadFailed, LineTooLong };

class CsvSource;

class SourceReader {
public:
    SourceReader();
    ~SourceReader();
    SourceReader(const SourceReader&) = delete;
    SourceReader& operator=(const SourceReader&) = delete;

    // Descriptor scan of a DBF file. A block starting with 0x0D, a field of
    // length 0, or the end of the file ends the list. Only a 'C' field takes
    // bytes 16-17 as its unsigned 16-bit length; every other type keeps byte 16.
    SourceScanStatus scanDbf(const QString& path);
    // Validating and counting pass of a text base; `beforeLine` runs before
    // every line and returns false to cancel. The column range becomes the
    // single field (offset = rangeStart, since each line sits behind one blank).
    SourceScanStatus scanText(const QString& path, int rangeStart, int rangeCount,
                              const std::function<bool()>& beforeLine = {});

    const SourceLayout& layout() const { return layout_; }
    // After LineTooLong: the text base's line refused.
    qint64 tooLongLine() const { return tooLongLine_; }

    // Record pass: reopens the source at its first record.
    bool open();
    enum class ReadStatus { Ok, Short };
    // Reads the next record into buffer[0 .. K-1] (at least K bytes).
    // DBF: K bytes of the file; text: a blank, then the line's first K-1 bytes.
    // Short when the record is not there whole (end of file included).
    ReadStatus read(char* buffer);
    void close();

    // Before open(): read() also puts the memo text of DBF field `fieldIndex`
    // at buffer[slot .. slot + length - 1], as the table engine lists it
    // (converted, cut at `length` bytes, padded with blanks).
    void setMemoValue(int fieldIndex, qint64 slot, int length);

private:
    struct FileCloser {
        void operator()(std::FILE* f) const noexcept { std::fclose(f); }
    };
    SourceLayout layout_;
    QString path_;
    qint64 tooLongLine_ = 0;
    std::unique_ptr<std::FILE, FileCloser> dbf_;
    struct TextState;
    std::unique_ptr<TextState> text_;
    struct MemoState;
    std::unique_ptr<MemoState> memo_;
};

// The memo file beside a DBF source whose fields include a memo (M, G, B or
// P): ".dbt" for a dBase table, ".fpt" for a FoxPro one (version 0x30, 0x31,
// 0x32 or 0xF5), either case. Empty when there is no memo field or no file.
QString sourceMemoPath(const QString& dbfPath, const SourceLayout& layout);

}  // namespace codiflux
