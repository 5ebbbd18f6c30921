#pragma once
// A value made from several fields of one record: "{GTIN}", "{EXP:yyMMdd}"
// (a date written with a Qt date format), "{SERIAL:08}" (a number padded with
// zeros to 8 digits), "{1:10}" (a text base's columns 1 to 10), "{{" and "}}"
// for braces, any other text as it is. Each field's value is taken as the
// window lists it, the blanks around it removed.

#include "bases/codepage.h"
#include "bases/error.h"
#include "bases/format.h"
#include "bases/source.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <functional>

namespace codiflux {

class ValueTemplate {
public:
    struct Part {
        enum class Format { None, Date, ZeroPad };
        QByteArray literal;  // a literal part when `field` < 0
        int field = -1;      // index in the layout's fields (text base: -2, the range below)
        qint64 offset = 0;   // in the record: the field's or the range's
        int length = 0;
        char type = 'C';
        int decimals = 0;
        Format format = Format::None;
        QString dateFormat;
        int width = 0;    // ZeroPad
        QString written;  // "{EXP:yyMMdd}" as the template writes it
    };

    // Reads `text` against a DBF's fields (or a text base's line of
    // `layout.recordLength` - 1 characters when `layout.kind` is Text). An
    // unknown field, a memo field, a range outside the line or a malformed
    // placeholder is refused with a French text that names it.
    static Error parse(const QString& text, const SourceLayout& layout, ValueTemplate& out);
    // The same against a CSV header's names; `utf8` as in setTarget().
    static Error parse(const QString& text, const QStringList& columns, ValueTemplate& out, bool utf8 = false);

    // The symbol's bytes: composeRecord() converts each field of a DBF or
    // text record from the base's code page with `transcoder` (null: the
    // bytes as they are; not owned, it must outlive the template), and the
    // literal text goes as UTF-8 when the symbol carries UTF-8, else as it is
    // written (Latin-1).
    void setTarget(const ValueTranscoder* transcoder, bool utf8)
    {
        transcoder_ = transcoder;
        utf8Literals_ = utf8;
    }

    const QList<Part>& parts() const { return parts_; }
    // The longest value compose() can give from fixed-length records.
    int maxLength() const { return maxLength_; }

    // The value of one record: `value(part)` gives the part's field as it is
    // stored (raw bytes). Fills `out`, or fails (ValueRefused) with the French
    // text of the fault, naming the placeholder.
    Error compose(const std::function<QByteArrayView(const Part&)>& value, QByteArray& out) const;
    // A fixed-length record (flag byte at 0): DBF fields as the table engine
    // reads them, a text base's columns as they are.
    Error composeRecord(const char* record, QByteArray& out) const;

private:
    static Error parseText(const QString& text, const std::function<Error(const QString&, Part&)>& resolve,
                           ValueTemplate& out);
    QList<Part> parts_;
    int maxLength_ = 0;
    bool textBase_ = false;
    const ValueTranscoder* transcoder_ = nullptr;
    bool utf8Literals_ = false;
};

// The sample of a template run, as the window takes it: the longest value
// among the first `listed` records, or record `wanted` (1-based) when it is
// not 0; `record` receives its number. The base is read with its own code
// page, or `forced` when not null, into the symbol's bytes (UTF-8 when
// `utf8`). A record whose value cannot be made is refused naming it.
Error templateSample(const QString& path, const BaseFormat& format, const ValueTemplate& tmpl, qint64 wanted,
                     qint64 listed, const CodePage* forced, bool utf8, QByteArray* sample, qint64* record);
// Reads `text` against the fields of the DBF or text base at `path` (read
// with its own code page, or `forced` when not null); `page` (may be null)
// receives the code page it was read with.
Error parseTemplateFor(const QString& path, const BaseFormat& format, const QString& text, const CodePage* forced,
                       ValueTemplate& out, BaseCodePage* page = nullptr);
// A template reads a text base by bytes: one read as UTF-8 (whose columns
// count characters) is refused with this text.
QString templateUtf8TextRefusal();

// A value template's refusals and faults, in French.
QString templateRecordFault(qint64 record, const QString& fault);

}  // namespace codiflux
