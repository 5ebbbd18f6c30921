#pragma once
// dBase tables (.dbf, their memo in .dbt or .fpt), read through the table
// engine with their text as stored.

#include "bases/format.h"

namespace codiflux {

class DbfBaseFormat final : public BaseFormat {
public:
    BaseKind kind() const override { return BaseKind::Dbf; }
    QString suffix() const override { return QStringLiteral("dbf"); }
    QString dialogFilter() const override;
    QString loadFilter() const override;
    bool hasFields() const override { return true; }
    bool readsCodePage() const override { return true; }
    Error fieldNames(const QString& path, const CodePage* forced, QStringList* names) const override;
    // A field's name has at most 10 characters.
    QString defaultFieldName(const QString& field) const override;
    bool hasTextForm() const override { return true; }
    bool warnsLongFields() const override { return true; }
    // Each record's field as listedValue() gives it; the first whose text
    // (blanks removed) is not empty is the first filled.
    Error listValues(const QString& path, int field, const SourceRequest& request, unsigned limit, bool untilFilled,
                     ValueListing* listing) const override;
    std::unique_ptr<Source> open(const QString& path, const SourceRequest& request, Error* error) const override;
    RecordPassKind recordPass(const Source*) const override { return RecordPassKind::DbfCopy; }
    // The table and the memo the engine reads beside it.
    QStringList filesRead(const QString& path) const override;
    OutputPaths filesWritten(const QString& output, bool writeText) const override;
};

}  // namespace codiflux
