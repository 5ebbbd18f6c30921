#include "generation/coder.h"

#include "codes/gs1.h"
#include "generation/texts.h"
#include "generation/valuetemplate.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

namespace codiflux {

using namespace texts;

namespace {

bool isWhite(unsigned char c)
{
    // QChar::isSpace over Latin-1
    return c == 0x20 || (c >= 0x09 && c <= 0x0D) || c == 0x85 || c == 0xA0;
}

qsizetype boundedLength(const char* value, qsizetype length)
{
    const void* nul = std::memchr(value, 0, std::size_t(length));
    return nul ? static_cast<const char*>(nul) - value : length;
}

const char kTextRefusedCharacter[]
    = QT_TRANSLATE_NOOP("BaseEncoder",
                        "Enregistrement n°%1 : la valeur contient le caractère « %2 » (U+%3), que le code ne peut "
                        "pas porter. Sans ECI, un code ne porte que les caractères de Windows-1252 ; un code QR "
                        "les porte tous avec l'option ECI UTF-8 (le Datamatrix de libdmtx n'a pas d'ECI).");

// White space at value[i] in UTF-8: an ASCII one (1 byte), U+0085 or U+00A0
// (2 bytes, C2 85 or C2 A0); 0 for anything else.
int utf8WhiteAt(const char* value, qsizetype i, qsizetype n)
{
    const auto c = static_cast<unsigned char>(value[i]);
    if (c == 0x20 || (c >= 0x09 && c <= 0x0D))
        return 1;
    if (c == 0xC2 && i + 1 < n) {
        const auto d = static_cast<unsigned char>(value[i + 1]);
        return d == 0x85 || d == 0xA0 ? 2 : 0;
    }
    return 0;
}

// The white space ending value[0 .. n-1], in bytes.
int trailingWhite(const char* value, int n, bool utf8)
{
    int end = n;
    while (end > 0) {
        const auto c = static_cast<unsigned char>(value[end - 1]);
        if (!utf8) {
            if (!isWhite(c))
                break;
            --end;
        } else if (c == 0x20 || (c >= 0x09 && c <= 0x0D)) {
            --end;
        } else if ((c == 0x85 || c == 0xA0) && end >= 2 && static_cast<unsigned char>(value[end - 2]) == 0xC2) {
            end -= 2;
        } else {
            break;
        }
    }
    return n - end;
}

int leadingWhite(const char* value, int n, bool utf8)
{
    int first = 0;
    while (first < n) {
        const int w = utf8 ? utf8WhiteAt(value, first, n) : (isWhite(static_cast<unsigned char>(value[first])) ? 1 : 0);
        if (w == 0)
            break;
        first += w;
    }
    return first;
}

// The stored bytes of a value while it is converted into the room they held.
std::vector<char>& scratch(std::size_t size)
{
    thread_local std::vector<char> bytes;
    if (bytes.size() < size)
        bytes.resize(size);
    return bytes;
}

}  // namespace

QString refusedCharacterText(qint64 record, char32_t c)
{
    return generationText(kTextRefusedCharacter)
        .arg(QString::number(record), QString::fromUcs4(&c, 1),
             QString::number(quint32(c), 16).toUpper().rightJustified(4, QLatin1Char('0')));
}

// ---------------------------------------------------------------------------
// Record coder

bool isBlankValue(const char* value, qsizetype length, bool utf8)
{
    const qsizetype n = boundedLength(value, length);
    if (utf8)
        return leadingWhite(value, int(std::min<qsizetype>(n, std::numeric_limits<int>::max())), true) == n;
    for (qsizetype i = 0; i < n; ++i)
        if (!isWhite(static_cast<unsigned char>(value[i])))
            return false;
    return true;
}

RecordCoder::RecordCoder(const EncodingParameters& parameters, const FontTextOptions& options, bool blankCodes,
                         int width, int height)
    : encoder_(parameters)
    , options_(options)
    , blankCodes_(blankCodes)
    , gs1_(gs1::enabled(parameters))
    , width_(width)
    , height_(height)
    , fieldLength_(codiflux::fieldLength(width, height, options.endOfLine))
{ }

int RecordCoder::inputLength(const char* value, int length) const
{
    return encoder_.inputLength(value, length);
}

Error RecordCoder::code(const char* value, int length, char* out, qint64 record) const
{
    if (isBlankValue(value, length, carriesUtf8(encoder_.parameters()))) {
        if (blankCodes_)
            toFontText(ModuleGrid(), width_, height_, options_, true, out);
        else
            std::memset(out, ' ', std::size_t(fieldLength_));
        return {};
    }
    thread_local EncodedSymbol symbol;  // its buffers serve the thread's next records
    bool refused = false;
    if (gs1_) {
        std::vector<gs1::Element> elements;
        if (gs1::parse(QByteArrayView(value, length), elements))
            return gs1Refusal(record, value, length);
        refused = encoder_.encode(gs1::libraryBytes(elements), symbol).failed();
    } else {
        refused = encoder_.encode(value, length, symbol).failed();
    }
    if (refused)
        return Error(ErrorCode::ValueRefused,
                     generationText(kTextEncodingError)
                         .arg(QString::number(record), symbolText(QByteArrayView(value, boundedLength(value, length)),
                                                                  carriesUtf8(encoder_.parameters()))));
    const int symbolWidth = symbol.grid().width();
    const int symbolHeight = symbol.grid().height();
    if (symbolWidth > width_ || symbolHeight > height_)
        return Error(ErrorCode::ValueRefused,
                     generationText(kTextSymbolTooLarge)
                         .arg(QString::number(record), QString::number(symbolWidth), QString::number(symbolHeight),
                              QString::number(width_), QString::number(height_)));
    toFontText(symbol.grid(), width_, height_, options_, false, out);
    return {};
}

QByteArray RecordCoder::expectedReading(const char* value, int length) const
{
    if (!gs1_)
        return QByteArray(value, inputLength(value, length));
    std::vector<gs1::Element> elements;
    if (gs1::parse(QByteArrayView(value, length), elements))
        return {};
    return gs1::kSymbologyIdentifier + gs1::elementString(elements);
}

QByteArray RecordCoder::humanReadable(const char* value, int valueLength) const
{
    std::vector<gs1::Element> elements;
    if (isBlankValue(value, valueLength) || gs1::parse(QByteArrayView(value, valueLength), elements))
        return {};
    return gs1::humanReadable(elements);
}

void RecordCoder::writeHumanReadable(const char* value, int valueLength, char* out, int length) const
{
    const QByteArray text = humanReadable(value, valueLength);
    const int n = int(std::min<qsizetype>(text.size(), length));
    std::memcpy(out, text.constData(), std::size_t(n));
    std::memset(out + n, ' ', std::size_t(length - n));
}

Error RecordCoder::gs1Refusal(qint64 record, const char* value, int length) const
{
    std::vector<gs1::Element> elements;
    return Error(ErrorCode::ValueRefused,
                 generationText(kTextGs1Invalid)
                     .arg(QString::number(record), gs1::parse(QByteArrayView(value, length), elements).text,
                          QString::fromLatin1(value, boundedLength(value, length))));
}

Error RecordCoder::measureSymbol(const EncodingParameters& parameters, const QByteArray& sample, int* width,
                                 int* height)
{
    EncodedSymbol symbol;
    const Encoder encoder(parameters);
    QByteArray input = sample;
    if (gs1::enabled(parameters)) {
        if (Error refused = gs1::checkParameters(parameters))
            return refused;
        std::vector<gs1::Element> elements;
        if (const Error fault = gs1::parse(sample, elements))
            return Error(ErrorCode::ValueRefused, generationText(kTextGs1SampleInvalid).arg(fault.text));
        input = gs1::libraryBytes(elements);
    }
    if (Error error = encoder.encode(input, symbol))
        return error;
    if (Error differ = encoder.checkDatamatrixEngines(input))
        return differ;
    *width = symbol.grid().width();
    *height = symbol.grid().height();
    return {};
}

int encodedValue(const ValueRule& rule, const char* stored, int length, char* out, char32_t* refused)
{
    length = std::max(0, length);
    int n = length;
    const char* text = stored;  // the value's bytes in the base's code page
    const ValueTranscoder* transcoder = rule.transcoder && !rule.transcoder->identity() ? rule.transcoder : nullptr;
    if (rule.kind == ValueKind::DbfField) {
        // The entry the window lists: the engine's text padded to the field's length.
        n = int(
            dbf_field_text(stored, unsigned(length), rule.fieldType, 1, rule.decimalPoint, out, unsigned(length) + 1));
        std::memset(out + n, ' ', std::size_t(length - n));
        n = length;
        text = out;
        // A number keeps its bytes, as the engine always gave them.
        if (rule.fieldType == 'F' && transcoder && !transcoder->utf8Target())
            transcoder = nullptr;
    }
    if (transcoder) {
        if (text == out && transcoder->expansion() > 1) {
            std::vector<char>& bytes = scratch(std::size_t(n));
            std::memcpy(bytes.data(), out, std::size_t(n));
            text = bytes.data();
        }
        // A conversion that keeps or shrinks the length may run in place.
        n = transcoder->convert(text, n, out, refused);
        if (n < 0) {
            out[0] = '\0';
            return -1;
        }
    } else if (out != text) {
        std::memmove(out, text, std::size_t(length));
    }
    int first = rule.trimStart ? leadingWhite(out, n, rule.utf8) : 0;
    if (rule.trimEnd)
        n -= trailingWhite(out + first, n - first, rule.utf8);
    if (first > 0)
        std::memmove(out, out + first, std::size_t(n - first));
    n -= first;
    out[n] = '\0';
    return n;
}

QByteArray encodedValue(const ValueRule& rule, const QByteArray& stored)
{
    QByteArray value(valueRoom(rule, stored.size()), '\0');
    const int n = encodedValue(rule, stored.constData(), int(stored.size()), value.data());
    value.truncate(std::max(n, 0));
    return value;
}

int RecordPlan::value(char* buffer, char32_t* refused) const
{
    char* valueText = buffer + valueSlot();
    if (!valueTemplate) {
        const char* stored = valueRule.kind == ValueKind::DbfMemo ? valueText : buffer + valueOffset;
        return encodedValue(valueRule, stored, valueLength, valueText, refused);
    }
    QByteArray composed;
    if (valueTemplate->composeRecord(buffer, composed))
        return -1;
    ValueRule spaces;
    spaces.trimStart = valueRule.trimStart;
    spaces.trimEnd = valueRule.trimEnd;
    spaces.utf8 = valueRule.utf8;
    return encodedValue(spaces, composed.constData(), int(std::min<qsizetype>(composed.size(), valueLength)),
                        valueText);
}

Error RecordPlan::encode(const RecordCoder& coder, char* buffer, qint64 record, int* encodedLength) const
{
    char tags[8] = {};
    if (tagsRule) {
        const char* source = buffer + sourceLength - 8;
        for (int i = 0; i < 8 && source[i] != 0; ++i)
            tags[i] = source[i];
    }
    char32_t refused = 0;
    const int length = value(buffer, &refused);
    *encodedLength = length;
    if (length < 0) {
        if (refused != 0)
            return Error(ErrorCode::ValueRefused, refusedCharacterText(record, refused));
        return valueRefusal(coder, record, buffer, -1);
    }
    const char* valueText = buffer + valueSlot();
    Error error = coder.code(valueText, length, buffer + insertion, record);
    if (error)
        return error;
    if (hriLength > 0)
        coder.writeHumanReadable(valueText, length, buffer + insertion + codeLength, hriLength);
    if (tagsRule)
        std::memcpy(buffer + insertion + codeLength + hriLength, tags, 8);
    return {};
}

Error RecordPlan::valueRefusal(const RecordCoder& coder, qint64 record, const char* buffer, int length) const
{
    if (valueTemplate && length < 0) {
        QByteArray composed;
        return Error(ErrorCode::ValueRefused,
                     templateRecordFault(record, valueTemplate->composeRecord(buffer, composed).text));
    }
    return coder.gs1Refusal(record, buffer + valueSlot(), length);
}

}  // namespace codiflux
