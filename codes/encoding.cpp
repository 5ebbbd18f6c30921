#include "codes/encoding.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

namespace codiflux {

namespace {

// Entries in the order of the combo boxes; the value is the library's own.
constexpr std::array<Choice, 32> kDatamatrixSizes{{
    {"8x18", DmtxSymbol8x18},
    {"8x32", DmtxSymbol8x32},
    {"10x10", DmtxSymbol10x10},
    {"12x12", DmtxSymbol12x12},
    {"12x26", DmtxSymbol12x26},
    {"12x36", DmtxSymbol12x36},
    {"14x14", DmtxSymbol14x14},
    {"16x16", DmtxSymbol16x16},
    {"16x36", DmtxSymbol16x36},
    {"16x48", DmtxSymbol16x48},
    {"18x18", DmtxSymbol18x18},
    {"20x20", DmtxSymbol20x20},
    {"22x22", DmtxSymbol22x22},
    {"24x24", DmtxSymbol24x24},
    {"26x26", DmtxSymbol26x26},
    {"32x32", DmtxSymbol32x32},
    {"36x36", DmtxSymbol36x36},
    {"40x40", DmtxSymbol40x40},
    {"44x44", DmtxSymbol44x44},
    {"48x48", DmtxSymbol48x48},
    {"52x52", DmtxSymbol52x52},
    {"64x64", DmtxSymbol64x64},
    {"72x72", DmtxSymbol72x72},
    {"80x80", DmtxSymbol80x80},
    {"88x88", DmtxSymbol88x88},
    {"96x96", DmtxSymbol96x96},
    {"104x104", DmtxSymbol104x104},
    {"120x120", DmtxSymbol120x120},
    {"132x132", DmtxSymbol132x132},
    {"144x144", DmtxSymbol144x144},
    {"Automatique (carré)", DmtxSymbolSquareAuto},
    {"Automatique (rect.)", DmtxSymbolRectAuto},
}};

// The library's fast automatic scheme is deliberately left out.
constexpr std::array<Choice, 7> kDatamatrixSchemes{{
    {"Ascii", DmtxSchemeAscii},
    {"C40", DmtxSchemeC40},
    {"Text", DmtxSchemeText},
    {"X12", DmtxSchemeX12},
    {"Edifact", DmtxSchemeEdifact},
    {"Base256", DmtxSchemeBase256},
    {"AutoBest", DmtxSchemeAutoBest},
}};

constexpr std::array<Choice, 4> kQrModes{{
    {"Numeric", QR_MODE_NUM},
    {"Alphabet-numeric", QR_MODE_AN},
    {"8-bit data", QR_MODE_8},
    {"Kanji (shift-jis)", QR_MODE_KANJI},
}};

constexpr std::array<Choice, 4> kQrLevels{{
    {"Low", QR_ECLEVEL_L},
    {"Medium", QR_ECLEVEL_M},
    {"Quality", QR_ECLEVEL_Q},
    {"High", QR_ECLEVEL_H},
}};

constexpr std::array<Choice, 2> kQrCases{{
    {"Sensible", 1},
    {"Insensible", 0},
}};

// The test hook; empty calls the library.
DatamatrixEncodeFunction& datamatrixEncodeHook()
{
    static DatamatrixEncodeFunction hook;
    return hook;
}

}  // namespace

void setDatamatrixEncodeFunction(DatamatrixEncodeFunction function)
{
    datamatrixEncodeHook() = std::move(function);
}

std::span<const Choice> datamatrixSizeChoices()
{
    return kDatamatrixSizes;
}
std::span<const Choice> datamatrixSchemeChoices()
{
    return kDatamatrixSchemes;
}
std::span<const Choice> qrModeChoices()
{
    return kQrModes;
}
std::span<const Choice> qrLevelChoices()
{
    return kQrLevels;
}
std::span<const Choice> qrCaseChoices()
{
    return kQrCases;
}

void DmtxEncodeDeleter::operator()(DmtxEncode* encoder) const noexcept
{
    dmtxEncodeDestroy(&encoder);
}

void QRinputDeleter::operator()(QRinput* input) const noexcept
{
    QRinput_free(input);
}

void QRcodeDeleter::operator()(QRcode* code) const noexcept
{
    QRcode_free(code);
}

DmtxEncodePtr createDatamatrixEncoder(const EncodingParameters& parameters)
{
    DmtxEncodePtr encoder(dmtxEncodeCreate());
    if (!encoder)
        return encoder;
    dmtxEncodeSetProp(encoder.get(), DmtxPropModuleSize, parameters.moduleSize);
    dmtxEncodeSetProp(encoder.get(), DmtxPropMarginSize, parameters.marginSize);
    dmtxEncodeSetProp(encoder.get(), DmtxPropSizeRequest, parameters.sizeRequest);
    dmtxEncodeSetProp(encoder.get(), DmtxPropScheme, parameters.scheme);
    return encoder;
}

QRinputPtr createQrInput(const EncodingParameters& parameters)
{
    QRinputPtr input(QRinput_new());
    if (!input)
        return input;
    // The results are not examined: a level or version the library refuses
    // leaves its own default in place.
    QRinput_setErrorCorrectionLevel(input.get(), QRecLevel(parameters.qrLevel));
    QRinput_setVersion(input.get(), parameters.qrVersion);
    return input;
}

ModuleGrid ModuleGrid::fromDatamatrix(const DmtxEncode* encoder)
{
    ModuleGrid grid;
    if (!encoder || !encoder->image || !encoder->image->pxl)
        return grid;
    const DmtxImage* image = encoder->image;
    if (image->width <= 0 || image->height <= 0 || image->bytesPerPixel <= 0 || image->bitsPerChannel[0] != 8)
        return grid;
    // The library's pixel (x, y) counts y from the bottom row of the picture;
    // without the vertical flip its buffer holds that bottom row last, so
    // buffer row r is the picture's row r from the top. With the flip the
    // buffer is stored the other way round.
    const long rowSize = image->rowSizeBytes;
    const unsigned char* first = image->pxl + image->channelStart[0] / 8;
    if (image->imageFlip & DmtxFlipY) {
        grid.data = first + long(image->height - 1) * rowSize;
        grid.rowStride = -rowSize;
    } else {
        grid.data = first;
        grid.rowStride = rowSize;
    }
    if (image->imageFlip & DmtxFlipX) {
        // Not produced by the encoder; refuse rather than guess.
        return ModuleGrid();
    }
    grid.cellStride = image->bytesPerPixel;
    grid.w = image->width;
    grid.h = image->height;
    grid.darkWhenZero = true;
    return grid;
}

ModuleGrid ModuleGrid::fromQRcode(const QRcode* code)
{
    ModuleGrid grid;
    if (!code || !code->data || code->width <= 0)
        return grid;
    grid.data = code->data;
    grid.rowStride = code->width;
    grid.cellStride = 1;
    grid.w = code->width;
    grid.h = code->width;
    grid.darkWhenZero = false;
    return grid;
}

ModuleGrid ModuleGrid::fromBuffer(const unsigned char* cells, int width, int height, long rowStride, int cellStride,
                                  bool darkIsZero)
{
    ModuleGrid grid;
    if (!cells || width <= 0 || height <= 0)
        return grid;
    grid.data = cells;
    grid.rowStride = rowStride;
    grid.cellStride = cellStride;
    grid.w = width;
    grid.h = height;
    grid.darkWhenZero = darkIsZero;
    return grid;
}

EncodedSymbol::EncodedSymbol(DmtxEncodePtr encoder)
    : dmtx(std::move(encoder))
{
    grid_ = ModuleGrid::fromDatamatrix(dmtx.get());
}

EncodedSymbol::EncodedSymbol(QRcodePtr code)
    : qr(std::move(code))
{
    grid_ = ModuleGrid::fromQRcode(qr.get());
}

EncodedSymbol encodeSymbol(const EncodingParameters& parameters, const unsigned char* bytes, int length)
{
    if (length < 0 || (length > 0 && !bytes))
        return {};
    static const unsigned char empty = 0;
    if (!bytes)
        bytes = &empty;

    if (parameters.symbology == SymbologyQRCode) {
        // Only the modes offered by the window reach the library's append step;
        // the internal ones (structure, ECI, FNC1) would take other meanings.
        if (parameters.qrMode < QR_MODE_NUM || parameters.qrMode > QR_MODE_KANJI)
            return {};
        QRinputPtr input = createQrInput(parameters);
        if (!input)
            return {};
        if (QRinput_append(input.get(), QRencodeMode(parameters.qrMode), length, bytes) != 0)
            return {};
        QRcodePtr code(QRcode_encodeInput(input.get()));
        input.reset();
        if (!code)
            return {};
        return EncodedSymbol(std::move(code));
    }

    DmtxEncodePtr encoder = createDatamatrixEncoder(parameters);
    if (!encoder)
        return {};
    // The library takes a non-const pointer but does not write the input.
    unsigned char* input = const_cast<unsigned char*>(bytes);
    const DatamatrixEncodeFunction& hook = datamatrixEncodeHook();
    if ((hook ? hook(encoder.get(), length, input) : dmtxEncodeDataMatrix(encoder.get(), length, input)) == 0)
        return {};
    return EncodedSymbol(std::move(encoder));
}

int libraryInputLength(const EncodingParameters& parameters, const char* bytes, int length)
{
    if (parameters.symbology != SymbologyQRCode || length <= 0)
        return length;
    const void* nul = std::memchr(bytes, 0, std::size_t(length));
    return nul ? int(static_cast<const char*>(nul) - bytes) : length;
}

bool isBlankText(const QString& value)
{
    return std::all_of(value.cbegin(), value.cend(), [](QChar c) { return c.isSpace(); });
}

QString trimWhiteSpace(QString value, bool atStart, bool atEnd)
{
    if (atStart) {
        qsizetype first = 0;
        while (first < value.size() && value.at(first).isSpace())
            ++first;
        value.remove(0, first);
    }
    if (atEnd) {
        qsizetype end = value.size();
        while (end > 0 && value.at(end - 1).isSpace())
            --end;
        value.truncate(end);
    }
    return value;
}

}  // namespace codiflux
