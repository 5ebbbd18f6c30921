#pragma once
// The generation of an encoded base, in three pieces that do not depend on one
// another's threads:
//  - SourceReader: scans the layout of the source base, then hands its records
//    out one by one, each as a flag byte followed by the data (DBF record, or a
//    blank and a text line);
//  - RecordCoder (with RecordPlan): turns one record's value into exactly R
//    bytes of 2D-code font text; const, holds no mutable state, so any number
//    of threads may share one;
//  - OutputWriter: writes the encoded DBF and / or the text lines to temporary
//    files in the destination folder and moves them into place only when the
//    whole run succeeded.
// prepareGeneration() runs every check and set-up of a run up to the first
// record; the record loop is the caller's (BaseEncoder runs it on one thread,
// a batch caller may code records on several and write them in order).

#include "generation/job.h"

#include <QByteArray>
#include <QList>
#include <QLockFile>
#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace codiflux {

// Translation of the generation's texts (context "BaseEncoder").
QString generationText(const char* text);
// Texts of the record loop, for any caller that runs one.
QString cancelledText();                                 // "Fabrication de la base encodée annulée."
QString outOfMemoryText();                               // an allocation failed: what was under way is given up
QString shortRecordText(int sourceKind, qint64 record);  // the DBF or text source's short-record text
// Texts of the set-up of a run, for the other source kinds.
QString blankSampleText();  // the sample is blank
QString sameFileText();     // the destination is the source
QString cannotOpenSourceText();
QString cannotWriteText();

// True when both paths name the same file: same device and inode when both
// exist, otherwise the same canonical path (a path that does not exist yet is
// resolved through its folder). False when either path is empty.
bool sameFile(const QString& a, const QString& b);

// The longest field that most dBase readers (LibreOffice's among them) take
// whole: they read only byte 16 of a descriptor as the field's length, so a
// longer code field, whose length the encoded DBF keeps in bytes 16-17, is cut.
inline constexpr int kDbfReaderFieldLimit = 254;
// The French warning for an encoded DBF whose code field holds `fieldLength`
// characters; empty up to the limit.
QString longCodeFieldWarning(int fieldLength);

// Path of the text form written beside an encoded DBF: same folder and
// complete base name, suffix ".txt".
QString textOutputPathFor(const QString& dbfPath);

// Every file a run on this source reads: the source itself and, for a DBF
// source, its memo file (named as the table engine names it).
QStringList filesReadBy(int sourceKind, const QString& sourcePath);
// Why writing `destination` would destroy a file the run reads (compared with
// sameFile); empty when it would not.
QString overwriteRefusal(const QString& destination, int sourceKind, const QString& sourcePath);
// Why an existing `destination` may not be replaced: it is not a regular
// file (directory, device, FIFO, socket) or its owner may not write it.
// Empty when it does not exist or may be replaced.
QString destinationRefusal(const QString& destination);

// A finished temporary file and the destination it replaces.
struct PendingMove {
    QString temporary;
    QString destination;
};
// Moves every temporary onto its destination, all or none: each destination
// that exists keeps its mode and is kept under a backup name until every move
// has succeeded. When one move fails, the files already moved are taken back
// and every destination is left as it was; false then.
bool moveAllIntoPlace(const QList<PendingMove>& moves);

// ---------------------------------------------------------------------------
// (a) Source reader

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
// Where the memo of an encoded DBF goes: the DBF's folder and complete base
// name, the source memo's suffix in the case of the DBF's suffix.
QString memoOutputPathFor(const QString& dbfPath, const QString& sourceMemo);

// ---------------------------------------------------------------------------
// (b) Record coder

// True when the value (its bytes up to the first NUL, at most `length`) is
// empty after trimming white space.
bool isBlankValue(const char* value, qsizetype length);

class RecordCoder {
public:
    // width, height: the run's grid, fixed by the sample's symbol.
    RecordCoder(const EncodingParameters& parameters, const FontTextOptions& options, bool blankCodes, int width,
                int height);

    int width() const { return width_; }
    int height() const { return height_; }
    int fieldLength() const { return fieldLength_; }  // R

    enum class Status { Ok, EncodingFailed, SymbolTooLarge };
    struct Result {
        Status status = Status::Ok;
        int symbolWidth = 0;  // the record's own symbol (0 for a blank value)
        int symbolHeight = 0;
        int valueLength = 0;  // RecordPlan::encode: bytes of the value the code was made from
        bool ok() const { return status == Status::Ok; }
    };

    // Writes exactly R bytes to `out`: R spaces or a blank code for a blank
    // value, else the font text of the value's symbol drawn on the W x H grid
    // (cells beyond a smaller symbol read light). Datamatrix encodes the
    // `length` bytes, QR the bytes before the first NUL. A symbol larger than
    // W x H or a value the library refuses fails and writes nothing. `out` may
    // overlap the value: the value is read whole before anything is written.
    // Thread-safe.
    Result code(const char* value, int length, char* out) const;

    // The text for a failed result, for record number `record` (1-based).
    QString failureText(const Result& result, qint64 record, const char* value, int length) const;

    // How many of the value's `length` bytes the library is given: all of
    // them for Datamatrix, those before the first NUL for QR.
    int inputLength(const char* value, int length) const;

    // Trial encoding that fixes the grid: Datamatrix takes all the bytes, QR
    // those before the first NUL. The library's refusal with its text.
    static Error measureSample(const EncodingParameters& parameters, const QByteArray& sample, int* width, int* height);

private:
    Encoder encoder_;
    FontTextOptions options_;
    bool blankCodes_;
    int width_;
    int height_;
    int fieldLength_;
};

// How a record's stored value becomes the value encoded: the value the window
// lists and previews for it.
enum class ValueKind {
    Raw,       // text base: the selected columns as they are
    DbfField,  // DBF field: as the table engine reads it (OEM text converted, blanks
               // around removed), padded with blanks to the field's length
    DbfMemo,   // DBF memo: the memo text the reader put in the value slot
};
struct ValueRule {
    ValueKind kind = ValueKind::Raw;
    char fieldType = 'C';     // DbfField: the engine's letter ('F' when the field has decimals)
    char decimalPoint = '.';  // DbfField 'F': the point the engine writes
    bool trimStart = false;   // "Supprimer les espaces : à gauche"
    bool trimEnd = false;     // "à droite"
};
// Writes the value to encode, made from the `length` stored bytes, to
// out[0 .. length] (length + 1 bytes of room; `out` may be `stored`) and
// returns its length. Thread-safe.
int encodedValue(const ValueRule& rule, const char* stored, int length, char* out);
// The same on a whole value: the sample of a run.
QByteArray encodedValue(const ValueRule& rule, const QByteArray& stored);

// Where a record's value is and where its code goes: K, R, the value's slot,
// the insertion point Z and the TAGS rule.
struct RecordPlan {
    qint64 sourceLength = 0;  // K
    int codeLength = 0;       // R
    qint64 valueOffset = 0;
    int valueLength = 0;
    bool tagsRule = false;  // the last field "TAGS" (8 bytes) stays behind the code
    qint64 insertion = 0;   // Z: K, or K - 8 under the TAGS rule
    ValueRule value;

    qint64 outputLength() const { return sourceLength + codeLength; }  // K + R: the output record
    // The value to encode sits behind the output record, in G + 1 bytes.
    qint64 valueSlot() const { return outputLength(); }
    qint64 bufferLength() const { return outputLength() + valueLength + 1; }  // the buffer size needed
    // Lengthens the record held in buffer[0 .. K-1] (bufferLength() bytes of
    // room) in place to K + R bytes: the code of the value at Z and, under the
    // TAGS rule, the TAGS value (up to its first NUL, NUL-filled) behind it.
    // The value encoded is left at valueSlot(), its length in the result. On
    // failure the first K bytes keep the source record.
    RecordCoder::Result encode(const RecordCoder& coder, char* buffer) const;
    // The text of a failed encode() of record `record` held in `buffer`.
    QString failureText(const RecordCoder& coder, const RecordCoder::Result& result, qint64 record,
                        const char* buffer) const;
};

// ---------------------------------------------------------------------------
// (c) Output writer

// Destinations of one run and their temporary names, fixed before the run so
// that the thread that started a run can remove the temporaries of a worker it
// had to terminate.
class OutputFiles {
public:
    OutputFiles() = default;
    // dbfPath empty for a text source; textPath empty when no text is written.
    void plan(const QString& dbfPath, const QString& textPath);
    // From a job: DBF source → outputPath (+ its text form when writeText);
    // text source → outputPath as the text output; CSV source → outputPath,
    // its rows written as they are given (the first slot, never a text form).
    void plan(const GenerationJob& job);

    const QString& dbfPath() const { return dbfPath_; }
    const QString& textPath() const { return textPath_; }
    const QString& dbfTemporary() const { return dbfTemporary_; }
    const QString& textTemporary() const { return textTemporary_; }
    const QString& memoTemporary() const { return memoTemporary_; }  // for a DBF output
    // Every destination of the run planned so far (the memo's once it is copied).
    QStringList destinations() const;

    // Removes the temporaries that exist (created and not yet moved into
    // place). Safe from another thread once the worker has stopped.
    void removeTemporaries();
    // Gives the run up from another thread, even while its worker may still
    // be running: the temporaries are removed and a later commit moves
    // nothing into place. When the worker has already begun to move its
    // files into place, that commit goes on, nothing is removed and the
    // result is false.
    bool withdraw();

    OutputFiles(const OutputFiles&) = delete;
    OutputFiles& operator=(const OutputFiles&) = delete;
    ~OutputFiles();

    // Name of the lock file that keeps two runs from writing `destination` at once.
    static QString lockPathFor(const QString& destination);

private:
    friend class OutputWriter;
    // Takes the lock of every destination, or of the one given; false, with
    // the text, when another run holds one of them.
    bool lock(QString* error);
    bool lock(const QString& destination, QString* error);
    void unlock();

    QString dbfPath_, textPath_, dbfTemporary_, textTemporary_;
    QString memoPath_, memoTemporary_;  // memoPath_: set when a memo is copied
    std::mutex locksMutex_;
    std::vector<std::unique_ptr<QLockFile>> locks_;
    std::atomic<bool> dbfCreated_{false};
    std::atomic<bool> memoCreated_{false};
    std::atomic<bool> textCreated_{false};
    // Who has the last word on the files: the worker moving them into place,
    // or a thread giving the run up. Decided once, by a compare-and-swap.
    enum State : int { Open, Committing, Withdrawn };
    std::atomic<int> state_{Open};
};

// The encoded DBF header: the source header and descriptors with the counts
// and lengths rewritten, the new 'C' field (name cut at 10 bytes) and, under
// the TAGS rule, TAGS behind it; then 0x0D. Empty with `error` set when the
// header or the record would not fit their 16-bit fields.
// With `withMemo` (the source's memo file is copied beside it) the header keeps
// the source's version byte, memo flag included, and a Visual FoxPro table
// keeps its 263-byte area behind the terminator (zeroed: no database link);
// otherwise the version byte is 0x03.
QByteArray buildEncodedHeader(const SourceLayout& layout, const RecordPlan& plan, qint64 recordCount,
                              const QByteArray& newFieldName, QString* error, bool withMemo = false);

class OutputWriter {
public:
    explicit OutputWriter(OutputFiles& files);
    ~OutputWriter();
    const OutputFiles& files() const { return files_; }  // removes the temporaries unless committed
    OutputWriter(const OutputWriter&) = delete;
    OutputWriter& operator=(const OutputWriter&) = delete;

    // Takes the lock of every destination and checks that each may be
    // replaced (destinationRefusal), then creates the temporary DBF (writing
    // `dbfHeader`) when files.dbfPath() is set, and the temporary text file
    // when files.textPath() is set. The locks are held until the commit or
    // the discard.
    bool open(const QByteArray& dbfHeader, QString* error);
    // Copies the source's memo file byte for byte to the memo's temporary
    // (after open()); commit() moves it to `destination` with the other
    // outputs. `beforeChunk` runs before every megabyte and returns false to
    // cancel.
    bool copyMemo(const QString& sourceMemo, const QString& destination, const std::function<bool()>& beforeChunk,
                  QString* error);
    // One output record of `length` bytes (flag byte first): all of it to the
    // DBF; bytes 1 .. length-1 to the text file with CR and LF replaced by
    // spaces (in place), then the line end.
    bool writeRecord(char* record, qint64 length, QString* error);
    // Flushes, closes, checks every destination again and moves the files
    // into place (replacing what is there), all or none (moveAllIntoPlace).
    bool commit(QString* error);
    // Closes and removes the temporaries.
    void discard();

private:
    struct FileCloser {
        void operator()(std::FILE* f) const noexcept { std::fclose(f); }
    };
    using FilePtr = std::unique_ptr<std::FILE, FileCloser>;
    OutputFiles& files_;
    FilePtr dbf_;
    FilePtr text_;
    bool committed_ = false;
};

// ---------------------------------------------------------------------------
// Set-up of a run

// What a run reports while it prepares (and what the record loop uses).
class GenerationFeedback {
public:
    virtual ~GenerationFeedback() = default;
    virtual bool cancelled() { return false; }
    virtual void liveness() { }
    virtual void progressRange(int, int) { }
    virtual void progressValue(int) { }
};

struct PreparedRun {
    SourceReader reader;  // opened for the record pass
    std::optional<RecordCoder> coder;
    RecordPlan plan;
    qint64 recordCount = 0;
    int width = 0;  // W and H of the sample's symbol
    int height = 0;
    std::shared_ptr<CsvSource> csv;  // a CSV source's rows (the record plan then holds R only)
};

// The record loop's progress: range (0, 1000) and value 0 when made, then
// the per-mille of each record reached, emitted only when it changes. Any
// loop (one thread or several writing in order) reports through one.
class RecordProgress {
public:
    RecordProgress(GenerationFeedback& feedback, qint64 count);
    void reached(qint64 number);  // 1-based number of the record written
private:
    GenerationFeedback& feedback_;
    double count_;
    int last_ = 0;
};

// Everything up to the first record: source scan, checks, sample, trial
// encoding, geometry, header, outputs opened (temporaries). false on failure,
// with the French text of the refusal in `error`.
// Emits progressRange(0, 0) / progressValue(0) around a text scan (checking
// liveness and cancellation before each line) but not the record loop's
// progressRange(0, 1000).
bool prepareGeneration(const GenerationJob& job, GenerationFeedback& feedback, PreparedRun& run, OutputWriter& writer,
                       QString* error);

// The record loop of a prepared run on the calling thread: progress range
// (0, 1000) and value 0, then for each record the cancellation check, the
// per-mille progress (emitted when it changes), liveness, read, code, write.
// `current` holds the 1-based number of the record at hand. Does not commit.
bool runRecords(PreparedRun& run, OutputWriter& writer, GenerationFeedback& feedback, std::atomic<qint64>& current,
                QString* error);

}  // namespace codiflux
