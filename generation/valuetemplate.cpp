#include "generation/valuetemplate.h"

#include "bases/dbf.h"
#include "generation/coder.h"

#include <QCoreApplication>
#include <QDate>
#include <QLocale>
#include <QRegularExpression>

#include <vector>

namespace codiflux {

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("ValueTemplate", text);
}

Error refusal(const QString& text)
{
    return Error(ErrorCode::ParameterRefused, tr("Modèle de valeur : %1").arg(text));
}

// ":yyMMdd" or ":08" behind a field.
Error readFormat(const QString& format, ValueTemplate::Part& part)
{
    using Format = ValueTemplate::Part::Format;
    static const QRegularExpression zeroPad(QStringLiteral("^0([0-9]{1,3})$"));
    if (format.isEmpty())
        return refusal(tr("format vide dans « %1 ».").arg(part.written));
    if (const QRegularExpressionMatch m = zeroPad.match(format); m.hasMatch()) {
        part.format = Format::ZeroPad;
        part.width = m.captured(1).toInt();
        if (part.width < 1)
            return refusal(tr("nombre de chiffres nul dans « %1 ».").arg(part.written));
        return {};
    }
    part.format = Format::Date;
    part.dateFormat = format;
    return {};
}

int partLength(const ValueTemplate::Part& part)
{
    using Format = ValueTemplate::Part::Format;
    switch (part.format) {
    case Format::ZeroPad:
        return std::max(part.width, part.length);
    case Format::Date:
        return int(part.dateFormat.size()) * 3 + 8;
    case Format::None:
        break;
    }
    return part.length;
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\0';
}

QByteArrayView trimmed(QByteArrayView v)
{
    while (!v.isEmpty() && isBlank(v.front()))
        v = v.sliced(1);
    while (!v.isEmpty() && isBlank(v.back()))
        v.chop(1);
    return v;
}

// A stored date: a dBase date field (YYYYMMDD) or a text as dates are
// usually typed.
QDate readDate(const QString& text)
{
    static const char* const kFormats[] = {"yyyyMMdd", "yyyy-MM-dd", "dd/MM/yyyy", "dd.MM.yyyy", "yyMMdd"};
    for (const char* format : kFormats) {
        const QDate date = QDate::fromString(text, QLatin1String(format));
        if (date.isValid())
            return date;
    }
    return {};
}

}  // namespace

Error ValueTemplate::parseText(const QString& text, const std::function<Error(const QString&, Part&)>& resolve,
                               ValueTemplate& out)
{
    out = ValueTemplate();
    QByteArray literal;
    auto flush = [&] {
        if (!literal.isEmpty()) {
            Part part;
            part.literal = literal;
            out.parts_.append(part);
            out.maxLength_ += int(literal.size());
            literal.clear();
        }
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.unicode() > 0xFF)
            return refusal(tr("le caractère « %1 » n'est pas un caractère Latin-1.").arg(c));
        if ((c == QLatin1Char('{') || c == QLatin1Char('}')) && i + 1 < text.size() && text.at(i + 1) == c) {
            literal.append(char(c.unicode()));
            ++i;
            continue;
        }
        if (c == QLatin1Char('}'))
            return refusal(tr("« } » isolée en position %1 (écrivez « }} » pour une accolade).").arg(i + 1));
        if (c != QLatin1Char('{')) {
            literal.append(char(c.unicode()));
            continue;
        }
        const qsizetype close = text.indexOf(QLatin1Char('}'), i + 1);
        if (close < 0)
            return refusal(tr("« { » sans « } » en position %1 (écrivez « {{ » pour une accolade).").arg(i + 1));
        flush();
        Part part;
        part.written = text.mid(i, close - i + 1);
        if (Error error = resolve(text.mid(i + 1, close - i - 1), part))
            return error;
        out.parts_.append(part);
        out.maxLength_ += partLength(part);
        i = close;
    }
    flush();
    if (out.parts_.isEmpty())
        return refusal(tr("il est vide."));
    return {};
}

Error ValueTemplate::parse(const QString& text, const SourceLayout& layout, ValueTemplate& out)
{
    const bool textBase = layout.kind == BaseKind::Text;
    QStringList names;
    for (const SourceField& field : layout.fields)
        names << QString::fromLatin1(field.name);
    static const QRegularExpression range(QStringLiteral("^([0-9]+):([0-9]+)(?::(.*))?$"));
    Error error = parseText(
        text,
        [&](const QString& inside, Part& part) -> Error {
            if (textBase) {
                const QRegularExpressionMatch m = range.match(inside);
                if (!m.hasMatch())
                    return refusal(tr("« %1 » : une base texte se lit par colonnes, {DEBUT:NOMBRE}, par exemple "
                                      "{1:10}.")
                                       .arg(part.written));
                part.field = -2;
                part.offset = m.captured(1).toLongLong();
                part.length = m.captured(2).toInt();
                if (part.offset < 1 || part.length < 1 || part.offset + part.length > layout.recordLength)
                    return refusal(tr("« %1 » : les colonnes %2 à %3 sortent des lignes de la base (%4 caractères).")
                                       .arg(part.written)
                                       .arg(part.offset)
                                       .arg(part.offset + part.length - 1)
                                       .arg(layout.recordLength - 1));
                return m.captured(3).isNull() ? Error() : readFormat(m.captured(3), part);
            }
            const qsizetype colon = inside.indexOf(QLatin1Char(':'));
            const QString name = (colon < 0 ? inside : inside.left(colon)).trimmed();
            qsizetype index = names.indexOf(name);
            if (index < 0)
                for (qsizetype i = 0; i < names.size() && index < 0; ++i)
                    if (names.at(i).compare(name, Qt::CaseInsensitive) == 0)
                        index = i;
            if (index < 0)
                return refusal(tr("champ inconnu « %1 » (champs : %2).").arg(name, names.join(QStringLiteral(", "))));
            const SourceField& field = layout.fields.at(index);
            if (field.type == 'M')
                return refusal(tr("le champ mémo « %1 » ne peut pas entrer dans un modèle.").arg(name));
            part.field = int(index);
            part.offset = field.offset;
            part.length = field.length;
            part.type = field.type;
            part.decimals = field.decimals;
            return colon < 0 ? Error() : readFormat(inside.mid(colon + 1), part);
        },
        out);
    out.textBase_ = textBase;
    return error;
}

Error ValueTemplate::parse(const QString& text, const QStringList& columns, ValueTemplate& out, bool utf8)
{
    Error error = parseText(
        text,
        [&](const QString& inside, Part& part) -> Error {
            const qsizetype colon = inside.indexOf(QLatin1Char(':'));
            const QString name = (colon < 0 ? inside : inside.left(colon)).trimmed();
            qsizetype index = columns.indexOf(name);
            if (index < 0)
                return refusal(
                    tr("colonne inconnue « %1 » (colonnes : %2).").arg(name, columns.join(QStringLiteral(", "))));
            part.field = int(index);
            part.length = 0;  // a CSV value has no length of its own: maxLength() is not a bound
            return colon < 0 ? Error() : readFormat(inside.mid(colon + 1), part);
        },
        out);
    out.utf8Literals_ = utf8;
    return error;
}

Error ValueTemplate::compose(const std::function<QByteArrayView(const Part&)>& value, QByteArray& out) const
{
    using Format = Part::Format;
    out.clear();
    for (const Part& part : parts_) {
        if (part.field == -1) {
            out += utf8Literals_ ? QString::fromLatin1(part.literal).toUtf8() : part.literal;
            continue;
        }
        const QByteArrayView v = trimmed(value(part));
        auto failed
            = [&](const QString& why) { return Error(ErrorCode::ValueRefused, tr("%1 : %2").arg(part.written, why)); };
        switch (part.format) {
        case Format::None:
            out += v;
            break;
        case Format::ZeroPad: {
            if (v.isEmpty())
                return failed(tr("valeur vide, un nombre est attendu"));
            for (char c : v)
                if (c < '0' || c > '9')
                    return failed(tr("« %1 » n'est pas un nombre entier positif").arg(QString::fromLatin1(v)));
            if (v.size() > part.width)
                return failed(tr("« %1 » a plus de %2 chiffres").arg(QString::fromLatin1(v)).arg(part.width));
            out += QByteArray(part.width - v.size(), '0');
            out += v;
            break;
        }
        case Format::Date: {
            if (v.isEmpty())
                return failed(tr("date vide"));
            const QDate date = readDate(QString::fromLatin1(v));
            if (!date.isValid())
                return failed(tr("« %1 » n'est pas une date").arg(QString::fromLatin1(v)));
            out += QLocale::c().toString(date, part.dateFormat).toLatin1();
            break;
        }
        }
    }
    return {};
}

Error ValueTemplate::composeRecord(const char* record, QByteArray& out) const
{
    QByteArray text;
    char32_t refused = 0;
    Error made = compose(
        [&](const Part& part) -> QByteArrayView {
            ValueRule rule;
            rule.transcoder = transcoder_;
            if (!textBase_) {
                rule.kind = ValueKind::DbfField;
                rule.fieldType = part.type != 'C' && part.decimals != 0 ? 'F' : part.type;
                rule.decimalPoint = dbf_decimal_point();
            }
            text.resize(valueRoom(rule, part.length));
            const int n = encodedValue(rule, record + part.offset, part.length, text.data(), &refused);
            text.truncate(std::max(n, 0));
            return text;
        },
        out);
    if (refused != 0)
        return Error(ErrorCode::ValueRefused,
                     tr("le caractère « %1 » ne peut pas aller dans le code (sans ECI, un code ne porte que les "
                        "caractères de Windows-1252)")
                         .arg(QString::fromUcs4(&refused, 1)));
    return made;
}

QString templateRecordFault(qint64 record, const QString& fault)
{
    return tr("Enregistrement %1 : valeur impossible à former, %2.").arg(record).arg(fault);
}

QString templateUtf8TextRefusal()
{
    return tr("Modèle de valeur : une base texte lue en UTF-8 compte ses colonnes en caractères ; un modèle les "
              "compte en octets. Choisissez la plage de colonnes, ou forcez une page de codes d'un octet par "
              "caractère.");
}

namespace {

// The base a template reads: its whole records, fields or line.
std::unique_ptr<Source> openTemplateSource(const QString& path, const BaseFormat& format, const CodePage* forced,
                                           Error* error)
{
    SourceRequest request;
    request.forcedCodePage = forced;
    return format.open(path, request, error);
}

}  // namespace

Error parseTemplateFor(const QString& path, const BaseFormat& format, const QString& text, const CodePage* forced,
                       ValueTemplate& out, BaseCodePage* page)
{
    Error error;
    const std::unique_ptr<Source> source = openTemplateSource(path, format, forced, &error);
    if (!source)
        return error;
    if (page)
        *page = source->codePage();
    return ValueTemplate::parse(text, source->layout(), out);
}

Error templateSample(const QString& path, const BaseFormat& format, const ValueTemplate& tmpl, qint64 wanted,
                     qint64 listed, const CodePage* forced, bool utf8, QByteArray* sample, qint64* record)
{
    Error error;
    const std::unique_ptr<Source> source = openTemplateSource(path, format, forced, &error);
    if (!source)
        return error;
    if (format.recordPass(source.get()) == RecordPassKind::Utf8Lines)
        return Error(ErrorCode::ValueRefused, templateUtf8TextRefusal());
    const ValueTranscoder transcoder(source->codePage().page, utf8);
    ValueTemplate local = tmpl;
    local.setTarget(&transcoder, utf8);
    if (Error started = source->start())
        return started;
    const qint64 count = source->layout().recordCount;
    const qint64 last = wanted > 0 ? wanted : std::min(count, listed);
    if (wanted > count)
        return Error(ErrorCode::ParameterRefused,
                     tr("--sample %1 : la base n'a que %2 enregistrements.").arg(wanted).arg(count));
    std::vector<char> buffer(std::size_t(source->layout().recordLength) + 1);
    QByteArray value;
    sample->clear();
    *record = 0;
    for (qint64 n = 1; n <= last; ++n) {
        if (!source->next(buffer.data()))
            return Error(ErrorCode::SourceMalformed, source->shortRecordText(n));
        if (wanted > 0 && n != wanted)
            continue;
        if (const Error fault = local.composeRecord(buffer.data(), value))
            return Error(ErrorCode::ValueRefused, templateRecordFault(n, fault.text));
        if (value.size() > sample->size() || *record == 0) {
            *sample = value;
            *record = n;
        }
    }
    source->stop();
    return {};
}

}  // namespace codiflux
