#include "bases/dbfformat.h"

#include "bases/listing.h"

#include <QFile>

#include <algorithm>

namespace codiflux {

namespace {

const char kTextLoadFilter[] = QT_TRANSLATE_NOOP("Codiflux", "Bases DBF (*.dbf)");
const char kTextFilter[] = QT_TRANSLATE_NOOP("Codiflux", "Base DBF (*.dbf)");

}  // namespace

QString DbfBaseFormat::dialogFilter() const
{
    return formatText(kTextFilter);
}

QString DbfBaseFormat::loadFilter() const
{
    return formatText(kTextLoadFilter);
}

Error DbfBaseFormat::fieldNames(const QString& path, const CodePage* forced, QStringList* names) const
{
    names->clear();
    DbfTablePtr table(dbf_open(QFile::encodeName(path).constData(), nullptr, 0, 1));
    if (!table)
        return Error(ErrorCode::SourceUnreadable, tableRefusalText(path));
    const CodePage page = dbfCodePage(path, dbf_header_bytes(table.get())[29], forced).page;
    const unsigned count = dbf_field_count(table.get());
    for (unsigned i = 0; i < count; ++i) {
        DbfFieldInfo field{};
        dbf_field_info(table.get(), i, &field);
        names->append(fieldName(field, page));
    }
    return {};
}

QString DbfBaseFormat::defaultFieldName(const QString& field) const
{
    return (QLatin1Char('_') + field).left(10);
}

Error DbfBaseFormat::listValues(const QString& path, int field, const SourceRequest& request, unsigned limit,
                                bool untilFilled, ValueListing* listing) const
{
    *listing = ValueListing();
    // The text as stored, read with the table's code page.
    DbfTablePtr table(dbf_open(QFile::encodeName(path).constData(), nullptr, 0, 1));
    if (!table)
        return Error(ErrorCode::SourceUnreadable, tableRefusalText(path));
    const CodePage page = dbfCodePage(path, dbf_header_bytes(table.get())[29], request.forcedCodePage).page;
    const unsigned count = dbf_record_count(table.get());
    const unsigned listed = std::min(count, limit);
    listing->more = listed < count;
    // The records asked for, and no more: a header may announce billions.
    for (unsigned i = 0; i < listed; ++i) {
        if (request.beforeRecord && !request.beforeRecord())
            return Error(ErrorCode::Cancelled, cancelledText());
        unsigned valueLength = 0;
        listing->values.append(decodeText(listedValue(table.get(), i, unsigned(field), &valueLength), page));
        if (listing->filled < 0 && valueLength != 0) {
            listing->filled = qsizetype(i);
            if (untilFilled)
                break;
        }
    }
    return {};
}

std::unique_ptr<Source> DbfBaseFormat::open(const QString& path, const SourceRequest& request, Error* error) const
{
    return DbfSource::open(path, error, request.forcedCodePage);
}

QStringList DbfBaseFormat::filesRead(const QString& path) const
{
    QStringList files{path};
    if (!path.isEmpty())
        files.append(QFile::decodeName(QByteArray::fromStdString(dbf_memo_path(QFile::encodeName(path)))));
    return files;
}

OutputPaths DbfBaseFormat::filesWritten(const QString& output, bool writeText) const
{
    return {output, writeText && !output.isEmpty() ? textOutputPathFor(output) : QString()};
}

}  // namespace codiflux
