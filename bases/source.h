#pragma once
// One source base, whatever its kind: its layout (fields or column range,
// record length), its record count, and its records read one after the
// other for a generation, each as a flag byte followed by the data (a DBF
// record, or a blank and a text line). Every failure is an Error with its
// French text.

#include "bases/codepage.h"
#include "bases/dbf.h"
#include "bases/error.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdio>
#include <functional>
#include <memory>

namespace codiflux {

// The kind of a loaded base; stored as its integer (0 DBF, 1 text, 2 none
// loaded, 3 CSV) only where a form or a setting shows it. The kind of a file
// is its format's (bases/format.h: formatOf).
enum class BaseKind : int { Dbf = 0, Text = 1, None = 2, Csv = 3 };

struct SourceField {
    qint64 offset = 0;  // position in the record; the flag byte is at 0
    int length = 0;
    char type = 'C';   // DBF type letter as stored; 'C' for the range of a text base
    int decimals = 0;  // byte 17 of a descriptor other than 'C'
    QByteArray name;   // bytes 0-10 of the descriptor, up to the first NUL
};

struct SourceLayout {
    BaseKind kind = BaseKind::None;  // Dbf or Text
    QList<SourceField> fields;       // DBF: the table's fields; text: the column range
    qint64 recordLength = 0;         // K: flag byte included (DBF: 1 + the fields' lengths)
                                     // (a UTF-8 text base: 1 + the characters of a line)
    qint64 recordCount = 0;          // DBF: header count (from the file size when 0), at most one record beyond
                                     // what the file holds; text: non-empty lines
    // DBF only
    QByteArray header;      // the 32-byte header and the fields' descriptors, as stored
    qint64 dataOffset = 0;  // first record: the header length when it holds the descriptors and lies
                            // within the file; else 32 x (fields + 1) + 1, +1 after a 0x00, +262 for 0x30
    unsigned char version = 0;
};

class Source {
public:
    virtual ~Source();
    Source(const Source&) = delete;
    Source& operator=(const Source&) = delete;

    const SourceLayout& layout() const { return layout_; }
    qint64 recordCount() const { return layout_.recordCount; }
    // The code page the base's text is read with, and where it came from.
    const BaseCodePage& codePage() const { return codePage_; }

    // Starts the record pass at the first record.
    virtual Error start() = 0;
    // Reads the next record into buffer[0 .. K-1] (at least K bytes). False
    // when the record is not there whole (end of file included).
    virtual bool next(char* buffer) = 0;
    virtual void stop() = 0;
    // The text of a record `record` (1-based) found short.
    QString shortRecordText(qint64 record) const;

    // The field descriptors the file holds; a base that has none counts its
    // fields. A run refuses a table whose counts differ.
    virtual qsizetype descriptorCount() const { return layout_.fields.size(); }
    // The memo file a copy of the base takes with it; empty when none.
    virtual QString memoFile() const { return {}; }
    // Before start(): next() also puts the memo text of field `fieldIndex` at
    // buffer[slot .. slot + length - 1]; nothing for a base without memos.
    virtual void setMemoValue(int fieldIndex, qint64 slot, int length);
    // A base of lines read line by line: the next line as stored, without
    // its line end; false when there is none or it is shorter than a record.
    // A base of records has none.
    virtual bool nextLine(QByteArray&) { return false; }

protected:
    Source() = default;
    SourceLayout layout_;
    BaseCodePage codePage_;
};

// A dBase table, opened through the table engine (read-only, text as
// stored), as the window and the command line open it; its text is read with
// its code page (dbfCodePage), or `forcedCodePage`.
class DbfSource : public Source {
public:
    // None, with the French text, when the engine does not open the file.
    static std::unique_ptr<DbfSource> open(const QString& path, Error* error, const CodePage* forcedCodePage = nullptr);
    ~DbfSource() override;

    // The descriptors found before the 0x0D terminator (or a field of length
    // 0, or the end of the file): a header that gives the engine another
    // count would be written corrupt, so a run compares both.
    qsizetype descriptorCount() const override { return descriptorCount_; }
    DbfTable* table() const { return table_.get(); }
    // Field `field` of record `record` (0-based) as the window lists it
    // (listedValue): the engine's text as stored, padded with blanks to the
    // field's length; text() reads it with the table's code page.
    QByteArray value(unsigned record, unsigned field) const;
    QString text(unsigned record, unsigned field) const;
    // A field's name read with the table's code page.
    QString fieldName(unsigned field) const;

    // Before start(): next() also puts the memo text of field `fieldIndex`
    // at buffer[slot .. slot + length - 1], as the window lists it (cut at
    // `length` bytes, padded with blanks; as stored, in the table's code page).
    void setMemoValue(int fieldIndex, qint64 slot, int length) override;
    // The memo file a copy of the table takes with it, for a table with a
    // memo field (M, G, B or P): ".dbt" for dBase, ".fpt" for FoxPro (version
    // 0x30, 0x31, 0x32 or 0xF5), either case. Empty when there is none.
    QString memoFile() const override;

    Error start() override;
    bool next(char* buffer) override;
    void stop() override;

private:
    DbfSource() = default;
    void readLayout();
    void locateRecords(qint64 headerLength, quint32 storedCount);

    struct FileCloser {
        void operator()(std::FILE* f) const noexcept { std::fclose(f); }
    };
    QString path_;
    DbfTablePtr table_;
    qsizetype descriptorCount_ = 0;
    std::unique_ptr<std::FILE, FileCloser> file_;
    int memoField_ = -1;
    qint64 memoSlot_ = 0;
    int memoLength_ = 0;
    unsigned nextRecord_ = 0;
};

// A text base and the column range a run encodes.
class TextSource : public Source {
public:
    // Validating and counting pass: `beforeLine` runs before every line and
    // returns false to cancel. The column range becomes the single field
    // (offset = rangeStart, since each line sits behind one blank). The code
    // page is `forcedCodePage`, else UTF-8 when the file starts with a
    // byte-order mark or holds valid UTF-8 with a multi-byte sequence, else
    // Latin-1. A UTF-8 base's lines must have as many characters (UTF-16
    // units, as the window counts them) and its record length counts them;
    // its records are read with nextLine(), not next().
    static std::unique_ptr<TextSource> open(const QString& path, int rangeStart, int rangeCount,
                                            const std::function<bool()>& beforeLine, Error* error,
                                            const CodePage* forcedCodePage = nullptr);
    ~TextSource() override;
    bool nextLine(QByteArray& line) override;

    Error start() override;
    bool next(char* buffer) override;
    void stop() override;

private:
    TextSource() = default;
    struct State;
    QString path_;
    std::unique_ptr<State> state_;
};

// Texts of a source's reading, for any caller that reads one.
QString sourceText(const char* text);
QString cannotOpenSourceText();
QString sourceReadText();
QString cancelledText();  // "Fabrication de la base encodée annulée."
// The characters (UTF-16 units) of UTF-8 text.
qsizetype utf8Units(QByteArrayView bytes);

}  // namespace codiflux
