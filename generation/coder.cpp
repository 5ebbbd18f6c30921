#include "generation/coder.h"

#include "generation/texts.h"

#include <cstring>

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

}  // namespace

// ---------------------------------------------------------------------------
// Record coder

bool isBlankValue(const char* value, qsizetype length)
{
    const qsizetype n = boundedLength(value, length);
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
    , width_(width)
    , height_(height)
    , fieldLength_(codiflux::fieldLength(width, height, options.endOfLine))
{ }

int RecordCoder::inputLength(const char* value, int length) const
{
    return encoder_.inputLength(value, length);
}

RecordCoder::Result RecordCoder::code(const char* value, int length, char* out) const
{
    Result result;
    if (isBlankValue(value, length)) {
        if (blankCodes_)
            toFontText(ModuleGrid(), width_, height_, options_, true, out);
        else
            std::memset(out, ' ', std::size_t(fieldLength_));
        return result;
    }
    thread_local EncodedSymbol symbol;  // its buffers serve the thread's next records
    if (encoder_.encode(value, length, symbol)) {
        result.status = Status::EncodingFailed;
        return result;
    }
    result.symbolWidth = symbol.grid().width();
    result.symbolHeight = symbol.grid().height();
    if (result.symbolWidth > width_ || result.symbolHeight > height_) {
        result.status = Status::SymbolTooLarge;
        return result;
    }
    toFontText(symbol.grid(), width_, height_, options_, false, out);
    return result;
}

QString RecordCoder::failureText(const Result& result, qint64 record, const char* value, int length) const
{
    if (result.status == Status::SymbolTooLarge)
        return generationText(kTextSymbolTooLarge)
            .arg(QString::number(record), QString::number(result.symbolWidth), QString::number(result.symbolHeight),
                 QString::number(width_), QString::number(height_));
    return generationText(kTextEncodingError)
        .arg(QString::number(record), QString::fromLatin1(value, boundedLength(value, length)));
}

Error RecordCoder::measureSymbol(const EncodingParameters& parameters, const QByteArray& sample, int* width,
                                 int* height)
{
    EncodedSymbol symbol;
    const Encoder encoder(parameters);
    if (Error error = encoder.encode(sample, symbol))
        return error;
    if (Error differ = encoder.checkDatamatrixEngines(sample))
        return differ;
    *width = symbol.grid().width();
    *height = symbol.grid().height();
    return {};
}

int encodedValue(const ValueRule& rule, const char* stored, int length, char* out)
{
    length = std::max(0, length);
    int n = length;
    if (rule.kind == ValueKind::DbfField) {
        // The entry the window lists: the engine's text padded to the field's length.
        n = int(
            dbf_field_text(stored, unsigned(length), rule.fieldType, 0, rule.decimalPoint, out, unsigned(length) + 1));
        std::memset(out + n, ' ', std::size_t(length - n));
        n = length;
    } else if (out != stored) {
        std::memmove(out, stored, std::size_t(length));
    }
    int first = 0;
    if (rule.trimStart)
        while (first < n && isWhite(static_cast<unsigned char>(out[first])))
            ++first;
    if (rule.trimEnd)
        while (n > first && isWhite(static_cast<unsigned char>(out[n - 1])))
            --n;
    if (first > 0)
        std::memmove(out, out + first, std::size_t(n - first));
    n -= first;
    out[n] = '\0';
    return n;
}

QByteArray encodedValue(const ValueRule& rule, const QByteArray& stored)
{
    QByteArray value(stored.size() + 1, '\0');
    value.truncate(encodedValue(rule, stored.constData(), int(stored.size()), value.data()));
    return value;
}

RecordCoder::Result RecordPlan::encode(const RecordCoder& coder, char* buffer) const
{
    char tags[8] = {};
    if (tagsRule) {
        const char* source = buffer + sourceLength - 8;
        for (int i = 0; i < 8 && source[i] != 0; ++i)
            tags[i] = source[i];
    }
    char* valueText = buffer + valueSlot();
    const char* stored = value.kind == ValueKind::DbfMemo ? valueText : buffer + valueOffset;
    const int length = encodedValue(value, stored, valueLength, valueText);
    RecordCoder::Result result = coder.code(valueText, length, buffer + insertion);
    result.valueLength = length;
    if (result.ok() && tagsRule)
        std::memcpy(buffer + insertion + codeLength, tags, 8);
    return result;
}

QString RecordPlan::failureText(const RecordCoder& coder, const RecordCoder::Result& result, qint64 record,
                                const char* buffer) const
{
    return coder.failureText(result, record, buffer + valueSlot(), result.valueLength);
}

}  // namespace codiflux
