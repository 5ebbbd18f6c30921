#pragma once
// The generation of an encoded CSV. Every row of the source is written as it
// stands in the file, byte for byte, followed by one more cell: the record's
// code text (the header row gets the new column's name), in the file's
// encoding and quoted as RFC 4180 asks. A first pass reads the whole file, so
// that a malformed row stops the run before any record is coded.

#include "bases/csvbase.h"
#include "generation/generationcore.h"
#include "generation/valuetemplate.h"

#include <QByteArray>
#include <QString>

#include <functional>

namespace codiflux {

// One record of the record pass.
struct CsvRecord {
    CsvRow row;
    QByteArray value;  // the column's cell as the code carries it (Windows-1252), spaces removed on request
};

// A CSV base read for a run. Its rows vary in length: a run reads them with
// read(), not next(). Its layout's fields are the header's names, once scanned.
class CsvSource final : public Source {
public:
    CsvSource() = default;

    // First pass: reads every row, checks it and the bytes of its value, and
    // counts the records. `beforeRow` runs before every row and returns false
    // to cancel. The French text (naming the line) of a refusal.
    Error scan(const QString& path, const CsvOptions& options, int column, const std::function<bool()>& beforeRow);
    // Before scan(): the white space removed from every value (a CSV value
    // is taken as it is otherwise).
    void setValueRule(const ValueRule& rule) { rule_ = rule; }
    // Before scan(): the value is made from several columns by this template
    // (read against the header's names by scan(), which then takes no column).
    void setValueTemplate(const QString& text) { templateText_ = text; }
    // After a scan with a template: the longest value it made, the sample.
    const QByteArray& longestComposed() const { return longestComposed_; }
    qint64 longestComposedRecord() const { return longestRecord_; }  // 1-based

    const CsvFormat& format() const { return format_; }
    const QStringList& columns() const { return columns_; }
    int longestValue() const { return longestValue_; }  // bytes of the longest value to encode

    // Record pass: reopens the file at its first record.
    Error start() override;
    // Rows are read with read().
    bool next(char*) override { return false; }
    // The next record, number `number` (1-based); a row that no longer reads
    // or is missing (the file changed since the first pass) is refused.
    Error read(CsvRecord& record, qint64 number);
    void stop() override;

    // The header row of the encoded CSV: the byte-order mark when the source
    // has one, the source's header and the new name. Refused when the name is
    // empty or the file's encoding cannot write it.
    // `hriName`, when not empty: GS1's human-readable text in a column after it.
    Error outputHeader(const QString& newName, QByteArray& out, const QString& hriName = {}) const;
    // The row of the encoded CSV for a record and its code text (and the
    // human-readable text, when `hri` is given).
    void outputRow(const CsvRecord& record, const char* code, int length, QByteArray& out,
                   const QByteArray* hri = nullptr) const;

private:
    Error readValue(CsvRecord& record, qint64 number) const;

    QString path_;
    CsvOptions options_;
    CsvFormat format_;
    QStringList columns_;
    QByteArray header_;  // the header row as read, line end included
    int headerLineEnd_ = 0;
    int column_ = -1;
    ValueRule rule_;
    QString templateText_;
    ValueTemplate template_;
    QByteArray longestComposed_;
    qint64 longestRecord_ = 0;
    int longestValue_ = 0;
    CsvReader reader_;
};

// The set-up of a run copying rows (prepareGeneration() hands such a job
// over to it): first pass, sample, trial encoding, the destinations checked
// as for every run, header, output opened, and the run's RecordPass. The sample is padded with blanks to the column's
// longest value, as a DBF sample is to its field's length, so that the grid it fixes holds the longer values too.
Error prepareCsvGeneration(const GenerationJob& job, GenerationFeedback& feedback, PreparedRun& run,
                           OutputWriter& writer);

}  // namespace codiflux
