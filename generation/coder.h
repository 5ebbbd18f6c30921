#pragma once
// The record coder: turns one record's value into exactly R bytes of 2D-code
// font text. Const, holds no mutable state, so any number of threads may share
// one.

#include "bases/codepage.h"
#include "generation/job.h"

#include <QByteArray>
#include <QString>

namespace codiflux {

class ValueTemplate;

// True when the value (its bytes up to the first NUL, at most `length`) is
// empty after trimming white space; `utf8`: the bytes are UTF-8 (white space
// is ASCII's, U+0085 and U+00A0), else Latin-1.
bool isBlankValue(const char* value, qsizetype length, bool utf8 = false);

class RecordCoder {
public:
    // width, height: the run's grid, fixed by the sample's symbol.
    RecordCoder(const EncodingParameters& parameters, const FontTextOptions& options, bool blankCodes, int width,
                int height);

    int width() const { return width_; }
    int height() const { return height_; }
    int fieldLength() const { return fieldLength_; }  // R

    // Writes exactly R bytes to `out`: R spaces or a blank code for a blank
    // value, else the font text of the value's symbol drawn on the W x H grid
    // (cells beyond a smaller symbol read light). Datamatrix encodes the
    // `length` bytes, QR the bytes before the first NUL. A GS1 value that does
    // not pass its checks, a value the library refuses or a symbol larger than
    // W x H fails (ValueRefused, the text naming record number `record`,
    // 1-based, built only then) and writes nothing. `out` may overlap the
    // value: the value is read whole before anything is written. Thread-safe.
    Error code(const char* value, int length, char* out, qint64 record) const;

    // The refusal of record `record`'s GS1 value, which does not pass its checks.
    Error gs1Refusal(qint64 record, const char* value, int length) const;

    // How many of the value's `length` bytes the library is given: all of
    // them for Datamatrix, those before the first NUL for QR.
    int inputLength(const char* value, int length) const;

    // What a reader of the code gives back for the value: the bytes given to
    // the library; in GS1 mode "]d2" followed by the element string (GS
    // separators). Empty for a GS1 value that does not pass its checks.
    QByteArray expectedReading(const char* value, int length) const;
    bool gs1() const { return gs1_; }

    // GS1: the human-readable text of the value, padded with blanks (cut) to
    // `length` bytes at `out`; blanks for a blank value or one that does not
    // pass its checks.
    void writeHumanReadable(const char* value, int valueLength, char* out, int length) const;
    // The same unpadded: empty for a blank value or one that does not pass.
    QByteArray humanReadable(const char* value, int valueLength) const;

    // Trial encoding that fixes the grid: Datamatrix takes all the bytes, QR
    // those before the first NUL; in GS1 mode the sample is checked and
    // encoded as an element string. The library's refusal with its text; with
    // our Datamatrix encoder in use, also the stop of the run when libdmtx
    // does not give the sample the same symbol.
    static Error measureSymbol(const EncodingParameters& parameters, const QByteArray& sample, int* width, int* height);

private:
    Encoder encoder_;
    FontTextOptions options_;
    bool blankCodes_;
    bool gs1_;
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
    // The stored bytes' conversion into the symbol's (none: as they are).
    const ValueTranscoder* transcoder = nullptr;
    bool utf8 = false;        // the value's bytes are UTF-8 (spaces are removed as such)
    char fieldType = 'C';     // DbfField: the engine's letter ('F' when the field has decimals)
    char decimalPoint = '.';  // DbfField 'F': the point the engine writes
    bool trimStart = false;   // "Supprimer les espaces : à gauche"
    bool trimEnd = false;     // "à droite"
};
// Writes the value to encode, made from the `length` stored bytes, to
// out[0 .. length x expansion] (valueRoom(rule, length) bytes; `out` may be
// `stored`) and returns its length; -1, with the character in *refused, when
// the symbol cannot carry one of the value's characters. Thread-safe.
int encodedValue(const ValueRule& rule, const char* stored, int length, char* out, char32_t* refused = nullptr);
inline qint64 valueRoom(const ValueRule& rule, qint64 length)
{
    return length * (rule.transcoder ? rule.transcoder->expansion() : 1) + 1;
}
// The same on a whole value: the sample of a run (empty when refused).
QByteArray encodedValue(const ValueRule& rule, const QByteArray& stored);
// The text of a refused character, for record number `record` (1-based).
QString refusedCharacterText(qint64 record, char32_t c);

// Where a record's value is and where its code goes: K, R, the value's slot,
// the insertion point Z and the TAGS rule.
struct RecordPlan {
    qint64 sourceLength = 0;  // K
    int codeLength = 0;       // R
    qint64 valueOffset = 0;
    int valueLength = 0;
    bool tagsRule = false;  // the last field "TAGS" (8 bytes) stays behind the code
    qint64 insertion = 0;   // Z: K, or K - 8 under the TAGS rule
    ValueRule valueRule;
    // A value made from several fields (valueLength is then the longest it
    // can be); none: the field at valueOffset.
    const ValueTemplate* valueTemplate = nullptr;
    // GS1: the human-readable text's field behind the code (0: none).
    int hriLength = 0;
    QByteArray hriFieldName;

    // K + R (+ the HRI field): the output record
    qint64 outputLength() const { return sourceLength + codeLength + hriLength; }
    // The value to encode sits behind the output record, in G + 1 bytes.
    qint64 valueSlot() const { return outputLength(); }
    qint64 bufferLength() const { return outputLength() + valueRoom(valueRule, valueLength); }  // the buffer size needed
    // Lengthens the record held in buffer[0 .. K-1] (bufferLength() bytes of
    // room) in place to K + R bytes: the code of the value at Z and, under the
    // TAGS rule, the TAGS value (up to its first NUL, NUL-filled) behind it;
    // the HRI field, when there is one, between the two.
    // The value encoded is left at valueSlot(), its length in *encodedLength.
    // Fails (ValueRefused) with the text naming record `record`; the first K
    // bytes then keep the source record.
    Error encode(const RecordCoder& coder, char* buffer, qint64 record, int* encodedLength) const;
    // The value to encode of the record in `buffer`, written at valueSlot();
    // its length, or -1 when the value template cannot make it or (the
    // character in *refused) the symbol cannot carry one of its characters.
    int value(char* buffer, char32_t* refused = nullptr) const;
    // The refusal of record `record` held in `buffer` whose value() gave
    // `length` (-1 without a refused character: the value template's fault)
    // or whose GS1 value does not pass its checks.
    Error valueRefusal(const RecordCoder& coder, qint64 record, const char* buffer, int length) const;
};

}  // namespace codiflux
