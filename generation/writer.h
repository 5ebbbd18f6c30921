#pragma once
// The output writer: writes the encoded DBF and / or the text lines to
// temporary files in the destination folder and moves them into place only
// when the whole run succeeded.

#include "bases/source.h"
#include "generation/coder.h"
#include "generation/files.h"

#include <QByteArray>
#include <QString>

#include <cstdio>
#include <functional>
#include <memory>

namespace codiflux {

// The longest field that most dBase readers (LibreOffice's among them) take
// whole: they read only byte 16 of a descriptor as the field's length, so a
// longer code field, whose length the encoded DBF keeps in bytes 16-17, is cut.
inline constexpr int kDbfReaderFieldLimit = 254;
// The French warning for an encoded DBF whose code field holds `fieldLength`
// characters; empty up to the limit.
QString longCodeFieldWarning(int fieldLength);
// The same for an encoded base of `format` (none loaded: null): empty for a
// format that does not warn of long fields.
QString longCodeFieldWarning(const BaseFormat* format, int fieldLength);

// The encoded DBF header: the source header and descriptors with the counts
// and lengths rewritten, the new 'C' field (name cut at 10 bytes) and, under
// the TAGS rule, TAGS behind it; then 0x0D. Refused when the header or the
// record would not fit their 16-bit fields (`header` is then left empty).
// With `withMemo` (the source's memo file is copied beside it) the header keeps
// the source's version byte, memo flag included, and a Visual FoxPro table
// keeps its 263-byte area behind the terminator (zeroed: no database link);
// otherwise the version byte is 0x03.
Error buildEncodedHeader(const SourceLayout& layout, const RecordPlan& plan, qint64 recordCount,
                         const QByteArray& newFieldName, bool withMemo, QByteArray& header);

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
    Error open(const QByteArray& dbfHeader);
    // Copies the source's memo file byte for byte to the memo's temporary
    // (after open()); commit() moves it to `destination` with the other
    // outputs. `beforeChunk` runs before every megabyte and returns false to
    // cancel.
    Error copyMemo(const QString& sourceMemo, const QString& destination, const std::function<bool()>& beforeChunk);
    // One output record of `length` bytes (flag byte first): all of it to the
    // DBF; bytes 1 .. length-1 to the text file with CR and LF replaced by
    // spaces (in place), then the line end.
    Error writeRecord(char* record, qint64 length);
    // Flushes, closes, checks every destination again and moves the files
    // into place (replacing what is there), all or none (moveAllIntoPlace).
    Error commit();
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

}  // namespace codiflux
