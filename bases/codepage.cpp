#include "bases/codepage.h"

#include "bases/dbf.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <cstring>
#include <iterator>
#include <vector>

namespace codiflux {

namespace {

#include "bases/codepage_tables.inc"

// Windows-1252, 0x80 to 0x9F; its five undefined bytes stand for the control
// of the same value.
constexpr char16_t kWindows1252High[32]
    = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
       0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
       0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

constexpr int kFirstTable = int(CodePage::Cp437);
static_assert(std::size(kUpperHalves) == std::size_t(int(CodePage::Utf8) - kFirstTable),
              "one table for each single-byte code page from cp437 to the one before UTF-8");

struct Name {
    const char* key;  // lower case, without '-', '_' or blanks
    CodePage page;
};

// The names and aliases a code page is given (see nameKey()).
constexpr Name kNames[] = {
    {"latin1", CodePage::Latin1},       {"iso88591", CodePage::Latin1},
    {"l1", CodePage::Latin1},           {"88591", CodePage::Latin1},
    {"cp1252", CodePage::Cp1252},       {"windows1252", CodePage::Cp1252},
    {"ansi", CodePage::Cp1252},         {"cp850", CodePage::Cp850},
    {"ibm850", CodePage::Cp850},        {"oem", CodePage::Cp850},
    {"cp437", CodePage::Cp437},         {"ibm437", CodePage::Cp437},
    {"cp737", CodePage::Cp737},         {"cp852", CodePage::Cp852},
    {"ibm852", CodePage::Cp852},        {"cp857", CodePage::Cp857},
    {"ibm857", CodePage::Cp857},        {"cp860", CodePage::Cp860},
    {"ibm860", CodePage::Cp860},        {"cp861", CodePage::Cp861},
    {"ibm861", CodePage::Cp861},        {"cp863", CodePage::Cp863},
    {"ibm863", CodePage::Cp863},        {"cp865", CodePage::Cp865},
    {"ibm865", CodePage::Cp865},        {"cp866", CodePage::Cp866},
    {"ibm866", CodePage::Cp866},        {"cp874", CodePage::Cp874},
    {"windows874", CodePage::Cp874},    {"cp1250", CodePage::Cp1250},
    {"windows1250", CodePage::Cp1250},  {"cp1251", CodePage::Cp1251},
    {"windows1251", CodePage::Cp1251},  {"cp1253", CodePage::Cp1253},
    {"windows1253", CodePage::Cp1253},  {"cp1254", CodePage::Cp1254},
    {"windows1254", CodePage::Cp1254},  {"cp1255", CodePage::Cp1255},
    {"windows1255", CodePage::Cp1255},  {"cp1256", CodePage::Cp1256},
    {"windows1256", CodePage::Cp1256},  {"cp1257", CodePage::Cp1257},
    {"windows1257", CodePage::Cp1257},  {"macroman", CodePage::MacRoman},
    {"macintosh", CodePage::MacRoman},  {"maccyrillic", CodePage::MacCyrillic},
    {"maclatin2", CodePage::MacLatin2}, {"macgreek", CodePage::MacGreek},
    {"utf8", CodePage::Utf8},           {"65001", CodePage::Utf8},
    {"28591", CodePage::Latin1},        {"10000", CodePage::MacRoman},
};

constexpr const char* kPrinted[kCodePageCount] = {
    "latin-1", "cp1252", "cp850",     "cp437",        "cp737",      "cp852",     "cp857",  "cp860",  "cp861",
    "cp863",   "cp865",  "cp866",     "cp874",        "cp1250",     "cp1251",    "cp1253", "cp1254", "cp1255",
    "cp1256",  "cp1257", "mac-roman", "mac-cyrillic", "mac-latin2", "mac-greek", "utf-8",
};

struct Driver {
    unsigned char byte;
    CodePage page;
};

// Byte 29 of a dBase header, as the language drivers of dBase, FoxPro and
// Visual FoxPro define it.
constexpr Driver kDrivers[] = {
    {0x01, CodePage::Cp437},  {0x02, CodePage::Cp850},       {0x03, CodePage::Cp1252},    {0x04, CodePage::MacRoman},
    {0x08, CodePage::Cp865},  {0x09, CodePage::Cp437},       {0x0A, CodePage::Cp850},     {0x0B, CodePage::Cp437},
    {0x0D, CodePage::Cp437},  {0x0E, CodePage::Cp850},       {0x0F, CodePage::Cp437},     {0x10, CodePage::Cp850},
    {0x11, CodePage::Cp437},  {0x12, CodePage::Cp850},       {0x14, CodePage::Cp850},     {0x15, CodePage::Cp437},
    {0x16, CodePage::Cp850},  {0x17, CodePage::Cp865},       {0x18, CodePage::Cp437},     {0x19, CodePage::Cp437},
    {0x1A, CodePage::Cp850},  {0x1B, CodePage::Cp437},       {0x1C, CodePage::Cp863},     {0x1D, CodePage::Cp850},
    {0x1F, CodePage::Cp852},  {0x22, CodePage::Cp852},       {0x23, CodePage::Cp852},     {0x24, CodePage::Cp860},
    {0x25, CodePage::Cp850},  {0x26, CodePage::Cp866},       {0x37, CodePage::Cp850},     {0x40, CodePage::Cp852},
    {0x50, CodePage::Cp874},  {0x57, CodePage::Cp1252},      {0x58, CodePage::Cp1252},    {0x59, CodePage::Cp1252},
    {0x64, CodePage::Cp852},  {0x65, CodePage::Cp866},       {0x66, CodePage::Cp865},     {0x67, CodePage::Cp861},
    {0x6A, CodePage::Cp737},  {0x6B, CodePage::Cp857},       {0x6C, CodePage::Cp863},     {0x7C, CodePage::Cp874},
    {0x7D, CodePage::Cp1255}, {0x7E, CodePage::Cp1256},      {0x86, CodePage::Cp737},     {0x87, CodePage::Cp852},
    {0x88, CodePage::Cp857},  {0x96, CodePage::MacCyrillic}, {0x97, CodePage::MacLatin2}, {0x98, CodePage::MacGreek},
    {0xC8, CodePage::Cp1250}, {0xC9, CodePage::Cp1251},      {0xCA, CodePage::Cp1254},    {0xCB, CodePage::Cp1253},
    {0xCC, CodePage::Cp1257},
};

QString nameKey(QString text)
{
    text = text.trimmed().toLower();
    text.remove(QLatin1Char('-'));
    text.remove(QLatin1Char('_'));
    text.remove(QLatin1Char(' '));
    return text;
}

// The character of every byte of a single-byte code page.
std::array<char16_t, 256> unitsOf(CodePage page)
{
    std::array<char16_t, 256> units{};
    for (int b = 0; b < 256; ++b) {
        char16_t u = char16_t(b);
        if (b >= 0x80) {
            if (page == CodePage::Cp1252) {
                if (b < 0xA0)
                    u = kWindows1252High[b - 0x80];
            } else if (page == CodePage::Cp850) {
                char ansi = 0;
                const char oem = char(b);
                oemToAnsi(&oem, &ansi, 1);
                const auto a = static_cast<unsigned char>(ansi);
                u = a >= 0x80 && a < 0xA0 ? kWindows1252High[a - 0x80] : char16_t(a);
            } else if (page != CodePage::Latin1 && page != CodePage::Utf8) {
                // UTF-8 has no table: its bytes are read as sequences, not one by one.
                u = kUpperHalves[int(page) - kFirstTable][b - 0x80];
            }
        }
        units[std::size_t(b)] = u;
    }
    return units;
}

void appendUtf8(char32_t c, char*& out)
{
    if (c < 0x80) {
        *out++ = char(c);
    } else if (c < 0x800) {
        *out++ = char(0xC0 | (c >> 6));
        *out++ = char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        *out++ = char(0xE0 | (c >> 12));
        *out++ = char(0x80 | ((c >> 6) & 0x3F));
        *out++ = char(0x80 | (c & 0x3F));
    } else {
        *out++ = char(0xF0 | (c >> 18));
        *out++ = char(0x80 | ((c >> 12) & 0x3F));
        *out++ = char(0x80 | ((c >> 6) & 0x3F));
        *out++ = char(0x80 | (c & 0x3F));
    }
}

// The next character of UTF-8 text at in[i], advancing i; U+FFFD for a byte
// that does not start a valid sequence (overlong forms and surrogates included).
char32_t nextUtf8(const unsigned char* in, int length, int& i)
{
    const unsigned char c = in[i++];
    if (c < 0x80)
        return c;
    int need = 0;
    char32_t value = 0;
    char32_t least = 0;
    if (c >= 0xC2 && c <= 0xDF) {
        need = 1;
        value = c & 0x1F;
        least = 0x80;
    } else if (c >= 0xE0 && c <= 0xEF) {
        need = 2;
        value = c & 0x0F;
        least = 0x800;
    } else if (c >= 0xF0 && c <= 0xF4) {
        need = 3;
        value = c & 0x07;
        least = 0x10000;
    } else {
        return 0xFFFD;
    }
    int j = i;
    for (int k = 0; k < need; ++k, ++j) {
        if (j >= length || (in[j] & 0xC0) != 0x80)
            return 0xFFFD;
        value = (value << 6) | (in[j] & 0x3F);
    }
    if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0xFFFD;
    i = j;
    return value;
}

QString tr(const char* text)
{
    return QCoreApplication::translate("CodePage", text);
}

}  // namespace

QString codePageName(CodePage page)
{
    const int i = int(page);
    return QLatin1String(i >= 0 && i < kCodePageCount ? kPrinted[i] : "?");
}

bool parseCodePageName(const QString& name, CodePage* page)
{
    const QString key = nameKey(name);
    for (const Name& n : kNames)
        if (key == QLatin1String(n.key)) {
            *page = n.page;
            return true;
        }
    return false;
}

bool parseCpgText(QByteArrayView text, CodePage* page)
{
    QString key = nameKey(QString::fromLatin1(text));
    for (const char* prefix : {"ansi", "oem", "cp"}) {
        const QString p = QLatin1String(prefix);
        if (key.startsWith(p) && key.size() > p.size() && key.at(p.size()).isDigit())
            key = key.mid(p.size());
    }
    bool number = false;
    key.toInt(&number);
    return parseCodePageName(number && key.size() <= 4 ? QStringLiteral("cp") + key : key, page);
}

bool codePageOfLanguageDriver(unsigned char byte, CodePage* page)
{
    for (const Driver& d : kDrivers)
        if (d.byte == byte) {
            *page = d.page;
            return true;
        }
    return false;
}

BaseCodePage dbfCodePage(const QString& path, unsigned char languageDriver, const CodePage* forced)
{
    BaseCodePage result;
    result.headerByte = languageDriver;
    if (forced) {
        result.page = *forced;
        result.origin = CodePageOrigin::Forced;
        return result;
    }
    const QFileInfo info(path);
    const QString stem = info.path() + QLatin1Char('/') + info.completeBaseName();
    for (const char* suffix : {".cpg", ".CPG"}) {
        QFile cpg(stem + QLatin1String(suffix));
        if (QFileInfo(cpg.fileName()).isFile() && cpg.open(QIODevice::ReadOnly)) {
            if (parseCpgText(cpg.read(64), &result.page)) {
                result.origin = CodePageOrigin::CpgFile;
                return result;
            }
            break;
        }
    }
    if (codePageOfLanguageDriver(languageDriver, &result.page))
        result.origin = CodePageOrigin::Header;
    return result;
}

bool looksLikeUtf8(QByteArrayView bytes)
{
    const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
    const int length = int(bytes.size());
    bool multiByte = false;
    for (int i = 0; i < length;) {
        if (in[i] < 0x80) {
            ++i;
            continue;
        }
        if (nextUtf8(in, length, i) == 0xFFFD)
            return false;
        multiByte = true;
    }
    return multiByte;
}

BaseCodePage textCodePage(const QString& path, const CodePage* forced)
{
    BaseCodePage result;
    result.page = CodePage::Latin1;
    if (forced) {
        result.page = *forced;
        result.origin = CodePageOrigin::Forced;
        return result;
    }
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        return result;
    if (file.peek(3) == QByteArrayLiteral("\xEF\xBB\xBF")) {
        result.page = CodePage::Utf8;
        result.origin = CodePageOrigin::Detected;
        return result;
    }
    // Read in chunks that end before an incomplete sequence, so that none is
    // cut in two.
    constexpr qint64 kChunk = qint64(1) << 20;
    QByteArray carry;
    bool multiByte = false;
    for (;;) {
        QByteArray chunk = carry + file.read(kChunk);
        if (chunk.isEmpty())
            break;
        const bool last = file.atEnd();
        qsizetype end = chunk.size();
        if (!last) {
            qsizetype start = end;
            while (start > 0 && end - start < 4 && (static_cast<unsigned char>(chunk.at(start - 1)) & 0xC0) == 0x80)
                --start;
            if (start > 0 && static_cast<unsigned char>(chunk.at(start - 1)) >= 0xC0)
                end = start - 1;
        }
        const QByteArrayView part(chunk.constData(), end);
        for (const char c : part)
            if (static_cast<unsigned char>(c) >= 0x80) {
                if (!looksLikeUtf8(part))
                    return result;
                multiByte = true;
                break;
            }
        carry = chunk.mid(end);
        if (last)
            break;
    }
    if (multiByte && carry.isEmpty()) {
        result.page = CodePage::Utf8;
        result.origin = CodePageOrigin::Detected;
    }
    return result;
}

QString codePageDescription(const BaseCodePage& codePage)
{
    const QString name = codePageName(codePage.page);
    const QString byte = QStringLiteral("0x%1")
                             .arg(codePage.headerByte, 2, 16, QLatin1Char('0'))
                             .toUpper()
                             .replace(QLatin1String("0X"), QLatin1String("0x"));
    switch (codePage.origin) {
    case CodePageOrigin::Header:
        return tr("%1 (en-tête de la table, octet 29 = %2)").arg(name, byte);
    case CodePageOrigin::CpgFile:
        return tr("%1 (fichier .cpg)").arg(name);
    case CodePageOrigin::Detected:
        return tr("%1 (reconnue dans le fichier)").arg(name);
    case CodePageOrigin::Forced:
        return tr("%1 (choisie)").arg(name);
    case CodePageOrigin::Default:
        break;
    }
    if (codePage.headerByte < 0)
        return tr("%1 (par défaut)").arg(name);
    if (codePage.headerByte == 0)
        return tr("%1 (par défaut : la table n'en nomme pas, règle OEM → ANSI)").arg(name);
    return tr("%1 (par défaut : octet 29 = %2 inconnu, règle OEM → ANSI)").arg(name, byte);
}

QString decodeText(QByteArrayView bytes, CodePage page)
{
    if (page == CodePage::Utf8)
        return QString::fromUtf8(bytes);
    if (page == CodePage::Latin1)
        return QString::fromLatin1(bytes);
    static const std::vector<std::array<char16_t, 256>> tables = [] {
        std::vector<std::array<char16_t, 256>> all;
        for (int p = 0; p < kCodePageCount; ++p)
            all.push_back(unitsOf(CodePage(p)));
        return all;
    }();
    const std::array<char16_t, 256>& units = tables[std::size_t(page)];
    QString text(bytes.size(), Qt::Uninitialized);
    QChar* out = text.data();
    for (qsizetype i = 0; i < bytes.size(); ++i)
        out[i] = QChar(units[static_cast<unsigned char>(bytes[i])]);
    return text;
}

int symbolByte(char32_t c)
{
    if (c <= 0xFF)
        return int(c);
    for (int i = 0; i < 32; ++i)
        if (kWindows1252High[i] == c)
            return 0x80 + i;
    return -1;
}

bool symbolBytes(const QString& text, bool utf8, QByteArray& out, char32_t* refused)
{
    if (utf8) {
        out = text.toUtf8();
        return true;
    }
    out.resize(0);
    out.reserve(text.size());
    bool ok = true;
    for (const char32_t c : text.toUcs4()) {
        const int b = symbolByte(c);
        if (b < 0 && ok && refused)
            *refused = c;
        ok = ok && b >= 0;
        out.append(char(b < 0 ? '?' : b));
    }
    return ok;
}

QString symbolText(QByteArrayView bytes, bool utf8)
{
    return decodeText(bytes, utf8 ? CodePage::Utf8 : CodePage::Cp1252);
}

ValueTranscoder::ValueTranscoder(CodePage source, bool utf8Target)
    : source_(source)
    , utf8Target_(utf8Target)
{
    identity_ = utf8Target ? source == CodePage::Utf8 : (source == CodePage::Latin1 || source == CodePage::Cp1252);
    if (source == CodePage::Utf8)
        return;
    units_ = unitsOf(source);
    for (std::size_t b = 0; b < 256; ++b)
        bytes_[b] = std::int16_t(symbolByte(units_[b]));
}

int ValueTranscoder::convert(const char* in, int length, char* out, char32_t* refused) const
{
    if (identity_) {
        if (length > 0)
            std::memcpy(out, in, std::size_t(length));
        return length;
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(in);
    char* start = out;
    if (source_ != CodePage::Utf8 && utf8Target_) {
        for (int i = 0; i < length; ++i)
            appendUtf8(units_[bytes[i]], out);
        return int(out - start);
    }
    if (source_ != CodePage::Utf8) {
        for (int i = 0; i < length; ++i) {
            const int b = bytes_[bytes[i]];
            if (b < 0) {
                if (refused)
                    *refused = units_[bytes[i]];
                return -1;
            }
            out[i] = char(b);
        }
        return length;
    }
    // UTF-8 to Windows-1252 (UTF-8 to UTF-8 is the identity).
    for (int i = 0; i < length;) {
        const char32_t c = nextUtf8(bytes, length, i);
        const int b = symbolByte(c);
        if (b < 0) {
            if (refused)
                *refused = c;
            return -1;
        }
        *out++ = char(b);
    }
    return int(out - start);
}

}  // namespace codiflux
