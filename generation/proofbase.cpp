#include "generation/proofbase.h"

#include "bases/dbf.h"
#include "bases/listing.h"
#include "bases/textbase.h"
#include "generation/coder.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>

namespace codiflux::proof {

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("Proof", text);
}

Error refused(const QString& text)
{
    return Error(ErrorCode::ParameterRefused, text);
}

bool cancelled(const std::atomic<bool>* cancel)
{
    return cancel && cancel->load(std::memory_order_relaxed);
}

// Records searched for the code field when it is not named.
constexpr qint64 kDetectionRecords = 1000;

bool isBlank(const QByteArray& value)
{
    return isBlankValue(value.constData(), value.size());
}

// Spaces, or a blank code: every module of the symbol alike, so one and the
// same code character throughout.
bool isBlankCode(const QByteArray& code)
{
    char seen = 0;
    for (char c : code) {
        if (c < 'A' || c > 'P')
            continue;
        if (seen != 0 && c != seen)
            return false;
        seen = c;
    }
    return true;
}

QByteArray trimmed(QByteArray value)
{
    while (!value.isEmpty() && (value.back() == ' ' || value.back() == '\0'))
        value.chop(1);
    return value;
}

// The rows of a base, one after the other, and their fields' values as
// Latin-1 bytes: a DBF field as the window lists it, a CSV cell as the code
// carries it, columns of a text line as they are.
class Rows {
public:
    virtual ~Rows() = default;
    QStringList names;                    // DBF fields, CSV columns; none for a text base
    virtual Error start() = 0;            // before the first row
    virtual bool next(Error* error) = 0;  // false at the end, or with the error
    virtual QByteArray value(int field) const = 0;
    // A text base's columns, as a field of their own.
    virtual int addColumns(int start, int count)
    {
        Q_UNUSED(start);
        Q_UNUSED(count);
        return -1;
    }
};

class DbfRows final : public Rows {
public:
    Error open(const QString& path)
    {
        table_.reset(dbf_open(QFile::encodeName(path).constData(), nullptr, 0, 0));
        if (!table_)
            return Error(ErrorCode::SourceUnreadable, tableRefusalText(path));
        for (unsigned i = 0; i < dbf_field_count(table_.get()); ++i) {
            DbfFieldInfo field{};
            dbf_field_info(table_.get(), i, &field);
            names << fieldName(field);
        }
        return {};
    }
    Error start() override
    {
        row_ = -1;
        return {};
    }
    bool next(Error*) override { return ++row_ < qint64(dbf_record_count(table_.get())); }
    QByteArray value(int field) const override { return listedValue(table_.get(), unsigned(row_), unsigned(field)); }

private:
    DbfTablePtr table_;
    qint64 row_ = -1;
};

class CsvRows final : public Rows {
public:
    CsvRows(QString path, const CsvOptions& options)
        : path_(std::move(path))
        , options_(options)
    { }
    Error start() override
    {
        if (Error error = reader_.open(path_, options_))
            return error;
        names = reader_.columns();
        return {};
    }
    bool next(Error* error) override
    {
        const CsvReader::Status status = reader_.next(row_);
        if (status == CsvReader::Status::Failed)
            *error = Error(ErrorCode::SourceMalformed, reader_.error());
        return status == CsvReader::Status::Row;
    }
    QByteArray value(int field) const override
    {
        QByteArray bytes;
        if (field < row_.cellCount())
            csvCodeBytes(row_.cell(field), reader_.format().encoding, bytes);
        return bytes;
    }

private:
    QString path_;
    CsvOptions options_;
    CsvReader reader_;
    CsvRow row_;
};

class TextRows final : public Rows {
public:
    explicit TextRows(QString path)
        : path_(std::move(path))
    { }
    Error start() override
    {
        reader_.close();
        if (Error error = reader_.open(path_))
            return error;
        return {};
    }
    bool next(Error* error) override
    {
        // Empty lines are no records, as the generation counts them.
        while (reader_.next(line_))
            if (!line_.isEmpty())
                return true;
        if (reader_.lineTooLong())
            *error = Error(ErrorCode::SourceMalformed, lineTooLongText(reader_.lineNumber()));
        else if (reader_.failed())
            *error = Error(ErrorCode::SourceUnreadable, reader_.errorString());
        return false;
    }
    QByteArray value(int field) const override
    {
        const auto [start, count] = columns_.at(field);
        return line_.mid(start - 1, count);
    }
    int addColumns(int start, int count) override
    {
        columns_.append({start, count});
        return int(columns_.size()) - 1;
    }
    const QByteArray& line() const { return line_; }

private:
    QString path_;
    TextLineReader reader_;
    QByteArray line_;
    QList<std::pair<int, int>> columns_;
};

bool isDbf(const QString& path)
{
    return QFileInfo(path).suffix().compare(QLatin1String("dbf"), Qt::CaseInsensitive) == 0;
}

bool isCsv(const QString& path)
{
    return QFileInfo(path).suffix().compare(QLatin1String("csv"), Qt::CaseInsensitive) == 0;
}

// "START:COUNT" of a text base, 1-based.
bool parseColumns(const QString& text, int* start, int* count)
{
    const QStringList parts = text.split(QLatin1Char(':'));
    bool ok1 = false, ok2 = false;
    if (parts.size() == 2) {
        *start = parts.at(0).trimmed().toInt(&ok1);
        *count = parts.at(1).trimmed().toInt(&ok2);
    }
    return ok1 && ok2 && *start >= 1 && *count >= 1;
}

// A field named by the user: its index, or the refusal naming the fields.
Error resolveField(Rows& rows, bool text, const char* option, const QString& name, int* index)
{
    if (text) {
        int start = 0, count = 0;
        if (!parseColumns(name, &start, &count))
            return refused(tr("--%1 : une base texte désigne ses colonnes par DEBUT:NOMBRE, par exemple 41:68.")
                               .arg(QLatin1String(option)));
        *index = rows.addColumns(start, count);
        return {};
    }
    int found = int(rows.names.indexOf(name));
    if (found < 0)
        found = int(
            rows.names.indexOf(QRegularExpression(QRegularExpression::anchoredPattern(QRegularExpression::escape(name)),
                                                  QRegularExpression::CaseInsensitiveOption)));
    if (found < 0)
        return refused(tr("--%1 : champ inconnu « %2 » (champs : %3).")
                           .arg(QLatin1String(option), name, rows.names.join(QStringLiteral(", "))));
    *index = found;
    return {};
}

// A value that can only be a code text: at least a band of the smallest
// symbol (ten characters), nothing but 'A'-'P' and one end-of-line character.
bool looksLikeCode(const QByteArray& value)
{
    const QByteArray text = trimmed(value);
    return text.size() >= 30 && codeGeometry(text).has_value();
}

// The code field of a DBF or CSV base: the only field whose every non-blank
// value among the first records is a code text.
Error detectCodeField(Rows& rows, const std::atomic<bool>* cancel, int* index)
{
    if (Error error = rows.start())
        return error;
    std::vector<int> candidates(std::size_t(rows.names.size()), 0);  // values seen, -1 once refused
    Error error;
    for (qint64 row = 0; row < kDetectionRecords && rows.next(&error); ++row) {
        if (cancelled(cancel))
            return Error(ErrorCode::Cancelled, tr("Épreuve annulée."));
        for (std::size_t field = 0; field < candidates.size(); ++field) {
            if (candidates[field] < 0)
                continue;
            const QByteArray value = rows.value(int(field));
            if (isBlank(value))
                continue;
            candidates[field] = looksLikeCode(value) ? candidates[field] + 1 : -1;
        }
    }
    if (error)
        return error;
    QStringList found;
    for (std::size_t field = 0; field < candidates.size(); ++field)
        if (candidates[field] > 0) {
            found << rows.names.at(qsizetype(field));
            *index = int(field);
        }
    if (found.size() == 1)
        return {};
    if (found.isEmpty())
        return refused(tr("Aucun champ de la base ne contient de texte de code : indiquez-le avec --code-field NOM "
                          "(champs : %1).")
                           .arg(rows.names.join(QStringLiteral(", "))));
    return refused(tr("Plusieurs champs peuvent contenir le code (%1) : choisissez-le avec --code-field NOM.")
                       .arg(found.join(QStringLiteral(", "))));
}

// The code columns at the end of a text line: bands of W letters 'A'-'P',
// each followed by the same end-of-line character, as far back as they go.
std::optional<std::pair<int, int>> trailingCode(const QByteArray& line)
{
    const qsizetype n = line.size();
    if (n < 2)
        return std::nullopt;
    const char end = line.at(n - 1);
    if (end >= 'A' && end <= 'P')
        return std::nullopt;  // no end-of-line character: the columns must be given
    qsizetype i = n - 2;
    while (i >= 0 && line.at(i) >= 'A' && line.at(i) <= 'P')
        --i;
    const qsizetype width = n - 2 - i;
    if (width < 8)
        return std::nullopt;
    qsizetype begin = n;
    while (begin >= width + 1 && line.at(begin - 1) == end) {
        const char* band = line.constData() + begin - 1 - width;
        if (!std::all_of(band, band + width, [](char c) { return c >= 'A' && c <= 'P'; }))
            break;
        begin -= width + 1;
    }
    return std::make_pair(int(begin) + 1, int(n - begin));
}

Error detectTextColumns(TextRows& rows, const std::atomic<bool>* cancel, int* start, int* count)
{
    if (Error error = rows.start())
        return error;
    Error error;
    std::optional<std::pair<int, int>> columns;
    for (qint64 row = 0; row < kDetectionRecords && rows.next(&error); ++row) {
        if (cancelled(cancel))
            return Error(ErrorCode::Cancelled, tr("Épreuve annulée."));
        if (isBlank(rows.line().right(8)))
            continue;  // a blank value without code
        const std::optional<std::pair<int, int>> found = trailingCode(rows.line());
        if (!found || (columns && found->first + found->second != columns->first + columns->second)) {
            columns.reset();
            break;
        }
        // The fewest bands any line shows: the others' extra ones were data.
        if (!columns || found->second < columns->second)
            columns = found;
    }
    if (error)
        return error;
    if (!columns)
        return refused(tr("Les colonnes du code ne se déduisent pas des lignes de cette base : indiquez-les avec "
                          "--code-field DEBUT:NOMBRE."));
    *start = columns->first;
    *count = columns->second;
    return {};
}

// Record numbers (1-based) the choice takes among `count`.
Error chosenRecords(const RecordChoice& choice, qint64 count, std::vector<qint64>& out)
{
    out.clear();
    if (count <= 0)
        return refused(tr("La base n'a aucun enregistrement."));
    switch (choice.kind) {
    case RecordChoiceKind::All:
        for (qint64 i = 1; i <= count; ++i)
            out.push_back(i);
        break;
    case RecordChoiceKind::Range:
        if (choice.first > count)
            return refused(tr("--records : la base n'a que %1 enregistrements.").arg(count));
        for (qint64 i = choice.first; i <= std::min(choice.last, count); ++i)
            out.push_back(i);
        break;
    case RecordChoiceKind::Sample: {
        const qint64 n = std::min<qint64>(choice.count, count);
        for (qint64 i = 0; i < n; ++i)
            out.push_back(n == 1 ? 1 : 1 + (i * (count - 1) + (n - 1) / 2) / (n - 1));
        out.erase(std::unique(out.begin(), out.end()), out.end());
        break;
    }
    }
    return {};
}

QByteArray withoutBlanks(const QByteArray& value)
{
    return value.trimmed();
}

}  // namespace

Error readProofRecords(const ProofOptions& o, BaseRecords& base, const std::atomic<bool>* cancel)
{
    base = BaseRecords();
    const QFileInfo info(o.basePath);
    if (!info.isFile())
        return refused(tr("La base encodée « %1 » n'existe pas ou n'est pas un fichier ordinaire.").arg(o.basePath));
    if (!o.checkField.isEmpty() && !o.valueTemplate.isEmpty())
        return refused(tr("--check-field et --value s'excluent."));

    std::unique_ptr<Rows> rows;
    TextRows* text = nullptr;
    if (isDbf(o.basePath)) {
        auto dbf = std::make_unique<DbfRows>();
        if (Error error = dbf->open(o.basePath))
            return error;
        rows = std::move(dbf);
    } else if (isCsv(o.basePath)) {
        rows = std::make_unique<CsvRows>(o.basePath, o.csv);
        if (Error error = rows->start())
            return error;
    } else {
        auto lines = std::make_unique<TextRows>(o.basePath);
        text = lines.get();
        rows = std::move(lines);
    }

    int codeIndex = -1;
    if (!o.codeField.isEmpty()) {
        if (Error error = resolveField(*rows, text, "code-field", o.codeField, &codeIndex))
            return error;
        base.codeField = o.codeField;
    } else if (text) {
        int start = 0, count = 0;
        if (Error error = detectTextColumns(*text, cancel, &start, &count))
            return error;
        codeIndex = text->addColumns(start, count);
        base.codeField = tr("colonnes %1 à %2").arg(start).arg(start + count - 1);
    } else {
        if (Error error = detectCodeField(*rows, cancel, &codeIndex))
            return error;
        base.codeField = rows->names.at(codeIndex);
    }
    int checkIndex = -1, labelIndex = -1;
    if (!o.checkField.isEmpty())
        if (Error error = resolveField(*rows, text, "check-field", o.checkField, &checkIndex))
            return error;
    if (!o.labelField.isEmpty())
        if (Error error = resolveField(*rows, text, "label-field", o.labelField, &labelIndex))
            return error;
    // The template's fields, {NAME} (text base: {START:COUNT}).
    QList<std::pair<QString, int>> templateFields;
    static const QRegularExpression placeholder(QStringLiteral("\\{([^{}]+)\\}"));
    for (auto it = placeholder.globalMatch(o.valueTemplate); it.hasNext();) {
        const QString name = it.next().captured(1);
        int index = -1;
        if (Error error = resolveField(*rows, text, "value", name, &index))
            return error;
        templateFields.append({name, index});
    }
    ValueRule trim;  // the spaces the generation removed
    trim.trimStart = o.trimStart;
    trim.trimEnd = o.trimEnd;

    // The record count, then the chosen records.
    Error error;
    qint64 count = 0;
    if (Error e = rows->start())
        return e;
    while (rows->next(&error)) {
        if (cancelled(cancel))
            return Error(ErrorCode::Cancelled, tr("Épreuve annulée."));
        ++count;
    }
    if (error)
        return error;
    base.count = count;
    std::vector<qint64> chosen;
    if (Error e = chosenRecords(o.records, count, chosen))
        return e;

    if (Error e = rows->start())
        return e;
    qint64 number = 0;
    for (const qint64 wanted : chosen) {
        while (number < wanted && rows->next(&error))
            ++number;
        if (error)
            return error;
        if (number < wanted || cancelled(cancel))
            return cancelled(cancel) ? Error(ErrorCode::Cancelled, tr("Épreuve annulée."))
                                     : Error(ErrorCode::SourceMalformed, tr("La base a changé pendant l'épreuve."));
        ProofRecord record;
        record.number = number;
        record.code = rows->value(codeIndex);
        if (isBlankCode(record.code))
            continue;  // a blank value: no code, or a blank one (--verify skips them too)
        if (checkIndex >= 0) {
            record.expected = encodedValue(trim, rows->value(checkIndex));
            record.checked = true;
        } else if (!o.valueTemplate.isEmpty()) {
            QString value = o.valueTemplate;
            for (const auto& [name, index] : templateFields)
                value.replace(QLatin1Char('{') + name + QLatin1Char('}'),
                              QString::fromLatin1(withoutBlanks(rows->value(index))));
            record.expected = value.toLatin1();
            record.checked = true;
        }
        if (record.checked && isBlank(record.expected))
            continue;  // a blank value: its code is blank too, and --verify skips it
        if (labelIndex >= 0)
            record.label = csvText(withoutBlanks(rows->value(labelIndex)), CsvEncoding::Windows1252);
        if (base.geometry.width == 0)
            if (const std::optional<CodeGeometry> g = codeGeometry(trimmed(record.code), o.codeWidth))
                base.geometry = *g;
        base.records.append(std::move(record));
    }
    if (base.records.isEmpty())
        return Error(ErrorCode::ValueRefused,
                     tr("Aucun des enregistrements choisis n'a de code dans « %1 ».").arg(base.codeField));
    if (base.geometry.width == 0)
        return refused(tr("Le texte du code du champ « %1 » n'a pas la forme d'un code (des bandes de lettres A à P) ; "
                          "sans caractère de fin de ligne, indiquez la largeur du code avec --code-width W.")
                           .arg(base.codeField));
    return {};
}

}  // namespace codiflux::proof
