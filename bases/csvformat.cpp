#include "bases/csvformat.h"

#include <algorithm>

namespace codiflux {

namespace {

const char kTextLoadFilter[] = QT_TRANSLATE_NOOP("Codiflux", "Bases CSV (*.csv)");
const char kTextFilter[] = QT_TRANSLATE_NOOP("Codiflux", "Base CSV (*.csv)");

bool blank(const QString& value)
{
    return std::all_of(value.cbegin(), value.cend(), [](QChar c) { return c.isSpace(); });
}

}  // namespace

QString CsvBaseFormat::dialogFilter() const
{
    return formatText(kTextFilter);
}

QString CsvBaseFormat::loadFilter() const
{
    return formatText(kTextLoadFilter);
}

Error CsvBaseFormat::fieldNames(const QString& path, const CodePage*, QStringList* names) const
{
    names->clear();
    CsvReader reader;
    if (Error error = reader.open(path, CsvOptions()))
        return error;
    *names = reader.columns();
    return {};
}

Error CsvBaseFormat::listValues(const QString& path, int field, const SourceRequest& request, unsigned limit,
                                bool untilFilled, ValueListing* listing) const
{
    *listing = ValueListing();
    CsvReader reader;
    if (Error error = reader.open(path, request.csv))
        return error;
    CsvRow row;
    for (;;) {
        if (request.beforeRecord && !request.beforeRecord())
            return Error(ErrorCode::Cancelled, cancelledText());
        const CsvReader::Status status = reader.next(row);
        if (status == CsvReader::Status::Failed)
            return Error(ErrorCode::SourceMalformed, reader.error());
        if (status == CsvReader::Status::End)
            return {};
        if (listing->values.size() == qsizetype(limit)) {
            listing->more = true;
            return {};
        }
        const QString value = csvText(row.cell(field), reader.format().encoding);
        const bool filled = listing->filled < 0 && !blank(value);
        if (filled)
            listing->filled = listing->values.size();
        listing->values.append(value);
        if (filled && untilFilled)
            return {};
    }
}

std::unique_ptr<Source> CsvBaseFormat::open(const QString&, const SourceRequest&, Error* error) const
{
    if (error)
        *error = Error(ErrorCode::SourceUnreadable, cannotOpenSourceText());
    return nullptr;
}

}  // namespace codiflux
