#include "bases/listing.h"

#include <algorithm>
#include <cstring>

namespace codiflux {

QString fieldName(const DbfFieldInfo& field)
{
    return QString::fromLatin1(field.name, qsizetype(qstrnlen(field.name, sizeof field.name)));
}

FieldLister::FieldLister(DbfTable* table, unsigned fieldIndex, const DbfFieldInfo& field)
    : table(table),
      descriptor(dbf_field(table, fieldIndex)),
      type(field.type),
      fieldLength(field.length > 0 ? unsigned(field.length) : 0u),
      buffer(std::size_t(fieldLength) + 1u, '\0')
{
}

unsigned FieldLister::read(unsigned record)
{
    buffer[0] = '\0';
    unsigned valueLength = 0;
    if (dbf_goto_record(table, record))
        valueLength = dbf_read_field(table, descriptor, buffer.data(), fieldLength + 1u, type);
    valueLength = std::min(valueLength, fieldLength);
    std::memset(buffer.data() + valueLength, ' ', fieldLength - valueLength);
    buffer[fieldLength] = '\0';
    return valueLength;
}

} // namespace codiflux
