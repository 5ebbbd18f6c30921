#pragma once
// Text bases: fixed-length lines whose column range is encoded, read with
// Latin-1 or UTF-8 (found in the file unless forced).

#include "bases/format.h"

namespace codiflux {

class TextBaseFormat final : public BaseFormat {
public:
    BaseKind kind() const override { return BaseKind::Text; }
    QString suffix() const override { return QStringLiteral("txt"); }
    QString dialogFilter() const override;
    QString loadFilter() const override;
    bool hasFields() const override { return false; }
    bool readsCodePage() const override { return true; }
    // The range of each line as the window's text view gives it; the first
    // that is not white space is the first filled.
    Error listValues(const QString& path, int field, const SourceRequest& request, unsigned limit, bool untilFilled,
                     ValueListing* listing) const override;
    std::unique_ptr<Source> open(const QString& path, const SourceRequest& request, Error* error) const override;
    // A base read as UTF-8 has lines of varying byte lengths.
    RecordPassKind recordPass(const Source* opened) const override;
    OutputPaths filesWritten(const QString& output, bool) const override { return {QString(), output}; }
};

}  // namespace codiflux
