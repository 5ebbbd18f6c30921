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

namespace {

const char kTextKnownFormats[] = QT_TRANSLATE_NOOP("Codiflux", "Tous les formats connus (%1)");
const char kTextAllFiles[] = QT_TRANSLATE_NOOP("Codiflux", "Tous les fichiers (*.*)");

// Every kind of base, in the order the load dialog offers them. A file whose
// suffix none of them has is a text base.
const TextBaseFormat kText;
const DbfBaseFormat kDbf;
const CsvBaseFormat kCsv;
const BaseFormat* const kFormats[] = {&kDbf, &kText, &kCsv};

}  // namespace

const BaseFormat& formatOf(const QString& path)
{
    const QString suffix = QFileInfo(path).suffix();
    for (const BaseFormat* format : kFormats)
        if (suffix.compare(format->suffix(), Qt::CaseInsensitive) == 0)
            return *format;
    return kText;
}

QString loadDialogFilter()
{
    QStringList patterns;
    QStringList filters;
    for (const BaseFormat* format : kFormats) {
        patterns.append(QLatin1String("*.") + format->suffix());
        filters.append(format->loadFilter());
    }
    return formatText(kTextKnownFormats).arg(patterns.join(QLatin1Char(' '))) + QLatin1String(";;")
        + filters.join(QLatin1String(";;")) + QLatin1String(";;") + formatText(kTextAllFiles);
}

}  // namespace codiflux
