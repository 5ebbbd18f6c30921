#pragma once
// The record coder: turns one record's value into exactly R bytes of 2D-code
// font text. Const, holds no mutable state, so any number of threads may share
// one.

#include "generation/job.h"

#include <QByteArray>
#include <QString>

namespace codiflux {

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
    // those before the first NUL. The library's refusal with its text; with
    // our Datamatrix encoder in use, also the stop of the run when libdmtx
    // does not give the sample the same symbol.
    static Error measureSymbol(const EncodingParameters& parameters, const QByteArray& sample, int* width, int* height);

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

}  // namespace codiflux
