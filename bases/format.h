#pragma once
// The kinds of base, each behind one type: what the window and the command
// line offer for a base, how a run opens it, the files a run reads and
// writes, and the record pass that copies it. formatOf() is the one place
// that tells the kinds apart; a caller holds a BaseFormat and asks it.

#include "bases/codepage.h"
#include "bases/csvbase.h"
#include "bases/error.h"
#include "bases/source.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace codiflux {

// How a run goes through the records of a base, and so how it writes them.
enum class RecordPassKind {
    DbfCopy,    // fixed-length records copied with the code field inserted, a DBF header, the memo copied
    TextLines,  // fixed-length lines, the code text behind each
    Utf8Lines,  // lines of as many characters but not as many bytes (a text base read as UTF-8)
    CsvRows,    // rows copied byte for byte, one more cell behind each
};

// What opening a base for a run takes beside its path.
struct SourceRequest {
    const CodePage* forcedCodePage = nullptr;  // the code page the user forced, else the base's own
    int rangeStart = 1;                        // a base of lines: the column range (1-based)
    int rangeCount = 1;
    CsvOptions csv;                      // a CSV base: its delimiter and encoding, unless detected
    std::function<bool()> beforeRecord;  // a scanning open: runs before every record, false cancels
};

// The destinations of a run, as OutputFiles keeps them: the table slot (an
// encoded DBF or CSV) and the text slot (a text base, or a DBF's text form).
struct OutputPaths {
    QString table;
    QString text;
};

// The first values of a field (or the selected columns of the lines) as the
// window lists them and the command line picks its sample among them.
struct ValueListing {
    QStringList values;     // each record's value, decoded
    qsizetype filled = -1;  // the first value that is not blank, -1 when none
    bool more = false;      // the base holds records beyond those listed
};

class BaseFormat {
public:
    virtual ~BaseFormat() = default;

    // The kind, for what shows or stores it (the window's layouts, a
    // setting); a caller never branches on it for anything else.
    virtual BaseKind kind() const = 0;
    // The suffix of its files, without the dot, in lower case.
    virtual QString suffix() const = 0;
    // The filter of the dialog that chooses the encoded base, and its entry
    // in the one that chooses a base to load (loadDialogFilter()).
    virtual QString dialogFilter() const = 0;
    virtual QString loadFilter() const = 0;
    // true: the value is a field picked among named ones (fieldNames());
    // false: the base is lines whose columns are selected.
    virtual bool hasFields() const = 0;
    // true when the base is read with a code page (shown, and one the user
    // may force); false when it tells its own encoding.
    virtual bool readsCodePage() const = 0;
    // The names of its fields, read with its code page (`forced` when given).
    virtual Error fieldNames(const QString& path, const CodePage* forced, QStringList* names) const;
    // The default name of the new field for field `field`: "_" and its name
    // (a DBF cuts it to its 10 characters); empty for a base of lines.
    virtual QString defaultFieldName(const QString& field) const;
    // A text form may be written beside the encoded base.
    virtual bool hasTextForm() const { return false; }
    // Its code field is written whatever its length, with a warning beyond
    // what most of its readers take.
    virtual bool warnsLongFields() const { return false; }

    // The first `limit` values of field `field` (a base of lines: the range
    // of `request`), and the first that is not blank; with `untilFilled`
    // the listing stops there.
    virtual Error listValues(const QString& path, int field, const SourceRequest& request, unsigned limit,
                             bool untilFilled, ValueListing* listing) const = 0;

    // Opens the base for a run through its records (null, with the error,
    // when it does not open). A base copied row by row (CsvRows) is opened by
    // its pass and returns null here.
    virtual std::unique_ptr<Source> open(const QString& path, const SourceRequest& request, Error* error) const = 0;
    // The record pass a run on the base needs; `opened`, when given, the base
    // opened for the run (a text base read as UTF-8 takes Utf8Lines).
    virtual RecordPassKind recordPass(const Source* opened) const = 0;

    // Every file a run on `path` reads (the memo a table reads included).
    virtual QStringList filesRead(const QString& path) const { return {path}; }
    // The files a run writes into `output`, a text form beside when asked
    // and the format has one. The memo a table copies is added once the
    // table is opened (DbfSource::memoFile(), memoOutputPathFor()).
    virtual OutputPaths filesWritten(const QString& output, bool writeText) const = 0;

protected:
    BaseFormat() = default;
};

// The format of the base at `path`, told by its suffix in any case: ".dbf" a
// dBase table, ".csv" a CSV base, anything else (".txt" included) a text base.
const BaseFormat& formatOf(const QString& path);
// The filter of the dialog that chooses a base to load: every known format,
// then each of them, then every file.
QString loadDialogFilter();

// Path of the text form written beside an encoded DBF: same folder and
// complete base name, suffix ".txt".
QString textOutputPathFor(const QString& dbfPath);

// Texts of the formats, in the window's context.
QString formatText(const char* text);

}  // namespace codiflux
