#pragma once
// CSV bases (bases/csvbase.h): the header's names are the fields, and the
// encoded base is the file's rows as they stand with one more cell.

#include "bases/format.h"

namespace codiflux {

class CsvBaseFormat final : public BaseFormat {
public:
    BaseKind kind() const override { return BaseKind::Csv; }
    QString suffix() const override { return QStringLiteral("csv"); }
    QString dialogFilter() const override;
    QString loadFilter() const override;
    bool hasFields() const override { return true; }
    // The file tells its encoding (or --encoding forces it).
    bool readsCodePage() const override { return false; }
    Error fieldNames(const QString& path, const CodePage*, QStringList* names) const override;
    // Each row's cell decoded from the file's encoding; the first that is
    // not white space is the first filled.
    Error listValues(const QString& path, int field, const SourceRequest& request, unsigned limit, bool untilFilled,
                     ValueListing* listing) const override;
    // Read row by row by its pass (generation/csvgeneration.h): null here.
    std::unique_ptr<Source> open(const QString& path, const SourceRequest& request, Error* error) const override;
    RecordPassKind recordPass(const Source*) const override { return RecordPassKind::CsvRows; }
    OutputPaths filesWritten(const QString& output, bool) const override { return {output, QString()}; }
};

}  // namespace codiflux
