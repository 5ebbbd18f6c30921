#include "bases/listing.h"

#include <QCoreApplication>
#include <QFile>

#include <algorithm>
#include <cstring>

namespace codiflux {

QString tableRefusalText(const QString& path)
{
    auto text = [](const char* source) { return QCoreApplication::translate("Table", source); };
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return text("Le fichier ne peut être ouvert : %1.").arg(file.errorString());
    const QByteArray header = file.read(32);
    if (header.size() < 32)
        return text("Le fichier fait moins de 32 octets : ce n'est pas une table dBase.");
    const auto version = static_cast<unsigned char>(header.at(0));
    const int month = static_cast<unsigned char>(header.at(2));
    const int day = static_cast<unsigned char>(header.at(3));
    if (version != 0x03 && version != 0x04 && version != 0x30 && version != 0x83 && version != 0x8B)
        return text("Son octet de version, %1, n'est pas celui d'une table dBase lue par Codiflux (03, 04, 30, 83 "
                    "ou 8B en hexadécimal).")
            .arg(QString::number(version, 16).toUpper().rightJustified(2, QLatin1Char('0')));
    if (month < 1 || month > 12 || day < 1 || day > 31)
        return text("Sa date de dernière mise à jour (mois %1, jour %2) n'est pas celle d'une table dBase.")
            .arg(month)
            .arg(day);
    return text("La table ne peut être lue.");
}

QString fieldName(const DbfFieldInfo& field)
{
    return QString::fromLatin1(field.name, qsizetype(qstrnlen(field.name, sizeof field.name)));
}

QString fieldName(const DbfFieldInfo& field, CodePage page)
{
    return decodeText(QByteArrayView(field.name, qsizetype(qstrnlen(field.name, sizeof field.name))), page);
}

QByteArray listedValue(DbfTable* table, unsigned record, unsigned field, unsigned* valueLength)
{
    DbfFieldInfo info{};
    const bool known = dbf_field_info(table, field, &info);
    const unsigned length = known && info.length > 0 ? unsigned(info.length) : 0u;
    QByteArray text(qsizetype(length) + 1, '\0');
    unsigned n = 0;
    if (known && dbf_goto_record(table, record))
        n = dbf_read_field(table, dbf_field(table, field), text.data(), length + 1u, info.type);
    n = std::min(n, length);
    std::memset(text.data() + n, ' ', length - n);
    text.truncate(qsizetype(length));
    if (valueLength)
        *valueLength = n;
    return text;
}

}  // namespace codiflux
