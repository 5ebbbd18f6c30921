#include "bases/textformat.h"

#include "bases/textbase.h"

#include <algorithm>

namespace codiflux {

namespace {

const char kTextLoadFilter[] = QT_TRANSLATE_NOOP("Codiflux", "Fichiers texte (*.txt)");
const char kTextFilter[] = QT_TRANSLATE_NOOP("Codiflux", "Fichier texte (*.txt)");

}  // namespace

QString TextBaseFormat::dialogFilter() const
{
    return formatText(kTextFilter);
}

QString TextBaseFormat::loadFilter() const
{
    return formatText(kTextLoadFilter);
}

Error TextBaseFormat::listValues(const QString& path, int, const SourceRequest& request, unsigned limit,
                                 bool untilFilled, ValueListing* listing) const
{
    *listing = ValueListing();
    TextLineReader reader;
    if (Error error = reader.open(path))
        return error;
    const CodePage page = textCodePage(path, request.forcedCodePage).page;
    QByteArray line;
    while (listing->values.size() < qsizetype(limit) && reader.next(line)) {
        if (request.beforeRecord && !request.beforeRecord())
            return Error(ErrorCode::Cancelled, cancelledText());
        const QString value = decodeText(line, page).mid(request.rangeStart - 1, request.rangeCount);
        const bool filled
            = listing->filled < 0 && !std::all_of(value.cbegin(), value.cend(), [](QChar c) { return c.isSpace(); });
        if (filled)
            listing->filled = listing->values.size();
        listing->values.append(value);
        if (filled && untilFilled)
            return {};
    }
    if (reader.lineTooLong())
        return Error(ErrorCode::SourceMalformed, lineTooLongText(reader.lineNumber()));
    listing->more = listing->values.size() == qsizetype(limit) && !reader.atEnd();
    return {};
}

std::unique_ptr<Source> TextBaseFormat::open(const QString& path, const SourceRequest& request, Error* error) const
{
    return TextSource::open(path, request.rangeStart, request.rangeCount, request.beforeRecord, error,
                            request.forcedCodePage);
}

RecordPassKind TextBaseFormat::recordPass(const Source* opened) const
{
    return opened && opened->codePage().page == CodePage::Utf8 ? RecordPassKind::Utf8Lines : RecordPassKind::TextLines;
}

}  // namespace codiflux
