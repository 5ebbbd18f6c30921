#include "codes/gs1.h"

#include "codes/libraries.h"

#include <QCoreApplication>

#include <cstring>

namespace codiflux::gs1 {

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("Gs1", text);
}

// Digits; GS1's 82 characters; the 39 of AI 8010.
enum class Set : unsigned char { N, X, C39 };

struct AiRule {
    const char* ai;  // an 'n' stands for any digit
    Set set;
    unsigned char min;  // data length
    unsigned char max;
    unsigned char checked;  // leading digits closed by a mod-10 check digit, 0 when none
    unsigned char digits;   // leading characters that must be digits (N3+X..)
    bool date;              // starts with YYMMDD (a 12-digit 7007 holds two)
};

constexpr Set N = Set::N;
constexpr Set X = Set::X;

// Looked up in this order: the first matching entry wins.
constexpr AiRule kTable[] = {
    {"00", N, 18, 18, 18, 0, false},    {"01", N, 14, 14, 14, 0, false},
    {"02", N, 14, 14, 14, 0, false},    {"10", X, 1, 20, 0, 0, false},
    {"11", N, 6, 6, 0, 0, true},        {"12", N, 6, 6, 0, 0, true},
    {"13", N, 6, 6, 0, 0, true},        {"15", N, 6, 6, 0, 0, true},
    {"16", N, 6, 6, 0, 0, true},        {"17", N, 6, 6, 0, 0, true},
    {"20", N, 2, 2, 0, 0, false},       {"21", X, 1, 20, 0, 0, false},
    {"22", X, 1, 20, 0, 0, false},      {"235", X, 1, 28, 0, 0, false},
    {"240", X, 1, 30, 0, 0, false},     {"241", X, 1, 30, 0, 0, false},
    {"242", N, 1, 6, 0, 0, false},      {"250", X, 1, 30, 0, 0, false},
    {"251", X, 1, 30, 0, 0, false},     {"253", X, 13, 30, 13, 13, false},
    {"254", X, 1, 20, 0, 0, false},     {"30", N, 1, 8, 0, 0, false},
    {"31nn", N, 6, 6, 0, 0, false},     {"32nn", N, 6, 6, 0, 0, false},
    {"33nn", N, 6, 6, 0, 0, false},     {"34nn", N, 6, 6, 0, 0, false},
    {"35nn", N, 6, 6, 0, 0, false},     {"36nn", N, 6, 6, 0, 0, false},
    {"37", N, 1, 8, 0, 0, false},       {"390n", N, 1, 15, 0, 0, false},
    {"391n", N, 4, 18, 0, 3, false},    {"392n", N, 1, 15, 0, 0, false},
    {"393n", N, 4, 18, 0, 3, false},    {"394n", N, 4, 4, 0, 0, false},
    {"395n", N, 6, 6, 0, 0, false},     {"400", X, 1, 30, 0, 0, false},
    {"401", X, 1, 30, 0, 0, false},     {"402", N, 17, 17, 17, 0, false},
    {"403", X, 1, 30, 0, 0, false},     {"410", N, 13, 13, 13, 0, false},
    {"411", N, 13, 13, 13, 0, false},   {"412", N, 13, 13, 13, 0, false},
    {"413", N, 13, 13, 13, 0, false},   {"414", N, 13, 13, 13, 0, false},
    {"415", N, 13, 13, 13, 0, false},   {"416", N, 13, 13, 13, 0, false},
    {"417", N, 13, 13, 13, 0, false},   {"420", X, 1, 20, 0, 0, false},
    {"421", X, 4, 12, 0, 3, false},     {"422", N, 3, 3, 0, 0, false},
    {"423", N, 3, 15, 0, 0, false},     {"424", N, 3, 3, 0, 0, false},
    {"425", N, 3, 15, 0, 0, false},     {"426", N, 3, 3, 0, 0, false},
    {"427", X, 1, 3, 0, 0, false},      {"7001", N, 13, 13, 0, 0, false},
    {"7002", X, 1, 30, 0, 0, false},    {"7003", N, 10, 10, 0, 0, true},
    {"7004", N, 1, 4, 0, 0, false},     {"7005", X, 1, 12, 0, 0, false},
    {"7006", N, 6, 6, 0, 0, true},      {"7007", N, 6, 12, 0, 0, true},
    {"7008", X, 1, 3, 0, 0, false},     {"7009", X, 1, 10, 0, 0, false},
    {"7010", X, 1, 2, 0, 0, false},     {"7020", X, 1, 20, 0, 0, false},
    {"7021", X, 1, 20, 0, 0, false},    {"7022", X, 1, 20, 0, 0, false},
    {"7023", X, 1, 30, 0, 0, false},    {"703n", X, 4, 30, 0, 3, false},
    {"710", X, 1, 20, 0, 0, false},     {"711", X, 1, 20, 0, 0, false},
    {"712", X, 1, 20, 0, 0, false},     {"713", X, 1, 20, 0, 0, false},
    {"714", X, 1, 20, 0, 0, false},     {"715", X, 1, 20, 0, 0, false},
    {"716", X, 1, 20, 0, 0, false},     {"717", X, 1, 20, 0, 0, false},
    {"8001", N, 14, 14, 0, 0, false},   {"8002", X, 1, 20, 0, 0, false},
    {"8003", X, 14, 30, 14, 14, false}, {"8004", X, 1, 30, 0, 0, false},
    {"8005", N, 6, 6, 0, 0, false},     {"8006", N, 18, 18, 14, 0, false},
    {"8007", X, 1, 34, 0, 0, false},    {"8008", N, 8, 12, 0, 0, true},
    {"8009", X, 1, 50, 0, 0, false},    {"8010", Set::C39, 1, 30, 0, 0, false},
    {"8011", N, 1, 12, 0, 0, false},    {"8012", X, 1, 20, 0, 0, false},
    {"8013", X, 1, 25, 0, 0, false},    {"8017", N, 18, 18, 18, 0, false},
    {"8018", N, 18, 18, 18, 0, false},  {"8019", N, 1, 10, 0, 0, false},
    {"8020", X, 1, 25, 0, 0, false},    {"8200", X, 1, 70, 0, 0, false},
    {"90", X, 1, 30, 0, 0, false},      {"9n", X, 1, 90, 0, 0, false},
};

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The AI of `rule` at the start of `text`, digit wildcards included.
bool matches(const AiRule& rule, QByteArrayView text)
{
    const qsizetype n = qsizetype(std::strlen(rule.ai));
    if (text.size() < n)
        return false;
    for (qsizetype i = 0; i < n; ++i)
        if (rule.ai[i] == 'n' ? !isDigit(text[i]) : text[i] != rule.ai[i])
            return false;
    return true;
}

const AiRule* findRule(QByteArrayView text)
{
    for (const AiRule& rule : kTable)
        if (matches(rule, text))
            return &rule;
    return nullptr;
}

// The AIs whose data has a length of its own by their first two digits: no
// separator follows them.
bool predefinedLength(QByteArrayView ai)
{
    static constexpr const char* kPrefixes[] = {"00", "01", "02", "03", "04", "11", "12", "13", "14", "15", "16",
                                                "17", "18", "19", "20", "31", "32", "33", "34", "35", "36", "41"};
    for (const char* prefix : kPrefixes)
        if (ai.size() >= 2 && ai[0] == prefix[0] && ai[1] == prefix[1])
            return true;
    return false;
}

bool inSet82(unsigned char c)
{
    return c == '!' || c == '"' || (c >= '%' && c <= '?') || (c >= 'A' && c <= 'Z') || c == '_'
        || (c >= 'a' && c <= 'z');
}

bool inSet39(unsigned char c)
{
    return c == '#' || c == '-' || c == '/' || isDigit(char(c)) || (c >= 'A' && c <= 'Z');
}

QString shown(char c)
{
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F)
        return QStringLiteral("0x%1")
            .arg(u, 2, 16, QLatin1Char('0'))
            .toUpper()
            .replace(QLatin1String("0X"), QLatin1String("0x"));
    return QString(QChar(u));
}

int checkDigit(QByteArrayView digits)
{
    int sum = 0;
    int weight = 3;
    for (qsizetype i = digits.size(); i-- > 0;) {
        sum += (digits[i] - '0') * weight;
        weight = 4 - weight;
    }
    return (10 - sum % 10) % 10;
}

bool validDate(QByteArrayView d)
{
    const int year = (d[0] - '0') * 10 + (d[1] - '0');
    const int month = (d[2] - '0') * 10 + (d[3] - '0');
    const int day = (d[4] - '0') * 10 + (d[5] - '0');
    if (month < 1 || month > 12)
        return false;
    static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const int last = month == 2 && year % 4 != 0 ? 28 : kDays[month - 1];
    return day <= last;  // 00: the last day of the month
}

QString check(const AiRule& rule, const QByteArray& ai, const QByteArray& data)
{
    const QString head = QStringLiteral("(%1) : ").arg(QString::fromLatin1(ai));
    const int n = int(data.size());
    if (n == 0)
        return head + tr("donnée vide");
    if (rule.min == rule.max && n != rule.min)
        return head + tr("%1 caractères attendus, %2 trouvés").arg(rule.min).arg(n);
    if (n > rule.max)
        return head + tr("%1 caractères au plus, %2 trouvés").arg(rule.max).arg(n);
    if (n < rule.min)
        return head + tr("%1 caractères au moins, %2 trouvés").arg(rule.min).arg(n);
    for (int i = 0; i < n; ++i) {
        const auto c = static_cast<unsigned char>(data.at(i));
        if (rule.set == Set::N || i < rule.digits) {
            if (!isDigit(char(c)))
                return head + tr("« %1 » n'est pas un chiffre (position %2)").arg(shown(char(c))).arg(i + 1);
        } else if (rule.set == Set::X ? !inSet82(c) : !inSet39(c)) {
            return head
                + tr("le caractère « %1 » n'appartient pas au jeu de caractères GS1 (position %2)")
                      .arg(shown(char(c)))
                      .arg(i + 1);
        }
    }
    if (rule.checked > 0) {
        const QByteArrayView digits(data.constData(), rule.checked);
        const int expected = checkDigit(digits.first(rule.checked - 1));
        const int found = digits[rule.checked - 1] - '0';
        if (expected != found)
            return head + tr("chiffre de contrôle %1 attendu, %2 trouvé").arg(expected).arg(found);
    }
    if (rule.date) {
        const bool second = n == 12 && ai == "7007";
        if (n < 6 || !validDate(QByteArrayView(data).first(6))
            || (second && !validDate(QByteArrayView(data).sliced(6))))
            return head + tr("date « %1 » invalide (AAMMJJ attendu)").arg(QString::fromLatin1(data));
    }
    return {};
}

QString unknownAi(QByteArrayView text)
{
    return tr("identifiant d'application inconnu au début de « %1 »")
        .arg(QString::fromLatin1(text.first(std::min<qsizetype>(text.size(), 8))));
}

QString parseBracketed(QByteArrayView value, std::vector<Element>& elements)
{
    qsizetype i = 0;
    while (i < value.size()) {
        if (value[i] != '(')
            return tr("« ( » attendu en position %1").arg(i + 1);
        const qsizetype close = value.indexOf(')', i + 1);
        if (close < 0)
            return tr("« ) » manquante après « %1 »").arg(QString::fromLatin1(value.sliced(i)));
        const QByteArrayView ai = value.sliced(i + 1, close - i - 1);
        const AiRule* rule = findRule(ai);
        if (ai.isEmpty() || !rule || qsizetype(std::strlen(rule->ai)) != ai.size())
            return tr("identifiant d'application (%1) inconnu").arg(QString::fromLatin1(ai));
        qsizetype end = value.indexOf('(', close + 1);
        if (end < 0)
            end = value.size();
        elements.push_back({ai.toByteArray(), value.sliced(close + 1, end - close - 1).toByteArray()});
        if (QString fault = check(*rule, elements.back().ai, elements.back().data); !fault.isEmpty())
            return fault;
        i = end;
    }
    return {};
}

QString parseRaw(QByteArrayView value, std::vector<Element>& elements)
{
    qsizetype i = 0;
    while (i < value.size()) {
        if (value[i] == kGroupSeparator) {  // after an element of a predefined length, or doubled
            ++i;
            continue;
        }
        const QByteArrayView rest = value.sliced(i);
        const AiRule* rule = findRule(rest);
        if (!rule)
            return unknownAi(rest);
        const qsizetype aiLength = qsizetype(std::strlen(rule->ai));
        const QByteArrayView ai = rest.first(aiLength);
        qsizetype dataLength = 0;
        if (predefinedLength(ai)) {
            dataLength = std::min<qsizetype>(rule->max, rest.size() - aiLength);
            const qsizetype gs = rest.sliced(aiLength).indexOf(kGroupSeparator);
            if (gs >= 0 && gs < dataLength)
                dataLength = gs;
        } else {
            const qsizetype gs = rest.sliced(aiLength).indexOf(kGroupSeparator);
            dataLength = gs < 0 ? rest.size() - aiLength : gs;
        }
        elements.push_back({ai.toByteArray(), rest.sliced(aiLength, dataLength).toByteArray()});
        if (QString fault = check(*rule, elements.back().ai, elements.back().data); !fault.isEmpty())
            return fault;
        i += aiLength + dataLength;
    }
    return {};
}

}  // namespace

Error parse(QByteArrayView value, std::vector<Element>& elements)
{
    elements.clear();
    // The blanks a padded field leaves around the value are not data: GS1's
    // character set has no space.
    while (!value.isEmpty() && value.back() == ' ')
        value.chop(1);
    qsizetype start = 0;
    while (start < value.size() && (value[start] == kGroupSeparator || value[start] == ' '))
        ++start;
    value = value.sliced(start);
    if (value.isEmpty())
        return Error(ErrorCode::ValueRefused, tr("valeur GS1 vide"));
    QString fault = value[0] == '(' ? parseBracketed(value, elements) : parseRaw(value, elements);
    if (fault.isEmpty())
        return {};
    elements.clear();
    return Error(ErrorCode::ValueRefused, std::move(fault));
}

QByteArray elementString(const std::vector<Element>& elements)
{
    QByteArray out;
    for (std::size_t i = 0; i < elements.size(); ++i) {
        out += elements[i].ai;
        out += elements[i].data;
        if (i + 1 < elements.size() && !predefinedLength(elements[i].ai))
            out += kGroupSeparator;
    }
    return out;
}

QByteArray libraryBytes(const std::vector<Element>& elements)
{
    static_assert(kFnc1Byte == kGroupSeparator, "the separators are the FNC1 byte");
    return char(kFnc1Byte) + elementString(elements);
}

QByteArray humanReadable(const std::vector<Element>& elements)
{
    QByteArray out;
    for (const Element& e : elements) {
        if (!out.isEmpty())
            out += ' ';
        out += '(' + e.ai + ") " + e.data;
    }
    return out;
}

Error checkParameters(const EncodingParameters& parameters)
{
    if (!enabled(parameters))
        return {};
    if (parameters.symbology == Symbology::QRCode)
        return Error(
            ErrorCode::ParameterRefused,
            tr("Le mode GS1 ne s'applique qu'au Datamatrix : libqrencode 4.1.1 ne sait pas produire un QR code "
               "GS1 (QRinput_setFNC1First est accepté, mais QRcode_encodeInput échoue ensuite)."));
    // libdmtx 0.7.7 writes FNC1 in Ascii and AutoBest as codeword 232, in C40
    // and Text through their shift 2 set, and in X12 and Base256 it returns
    // to ASCII for it by itself (then latches back). In Edifact it fails
    // whenever a separator is needed, so the scheme is refused outright.
    if (parameters.scheme == DmtxSchemeEdifact)
        return Error(ErrorCode::ParameterRefused,
                     tr("Le mode d'encodage Edifact ne peut pas porter le séparateur FNC1 d'un code GS1 (libdmtx "
                        "0.7.7 refuse alors l'encodage) : choisissez Ascii, C40, Text, X12, Base256 ou AutoBest."));
    return {};
}

}  // namespace codiflux::gs1
