#include "bases/format.h"

#include "bases/csvformat.h"
#include "bases/dbfformat.h"
#include "bases/textformat.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace codiflux {

QString formatText(const char* text)
{
    return QCoreApplication::translate("Codiflux", text);
}

Error BaseFormat::fieldNames(const QString&, const CodePage*, QStringList* names) const
{
    names->clear();
    return {};
}

QString BaseFormat::defaultFieldName(const QString& field) const
{
    return hasFields() ? QLatin1Char('_') + field : QString();
}

QString textOutputPathFor(const QString& dbfPath)
{
    const QFileInfo info(dbfPath);
    return info.path() + QLatin1Char('/') + info.completeBaseName() + QLatin1String(".txt");
}

const BaseFormat& formatOf(const QString& path)
{
    static const DbfBaseFormat dbf;
    static const CsvBaseFormat csv;
    static const TextBaseFormat text;
    const QString suffix = QFileInfo(path).suffix();
    if (suffix.compare(QLatin1String("DBF"), Qt::CaseInsensitive) == 0)
        return dbf;
    if (suffix.compare(QLatin1String("CSV"), Qt::CaseInsensitive) == 0)
        return csv;
    return text;
}

}  // namespace codiflux
