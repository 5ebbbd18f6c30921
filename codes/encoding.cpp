#include "codes/encoding.h"

#include "codes/dmtxencoder.h"
#include "codes/libraries.h"

#include <QCoreApplication>

#include <algorithm>
#include <array>
#include <atomic>
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

// The texts the user sees, written once for the window, the command line and
// the generation.
const char kTextBlank[] = QT_TRANSLATE_NOOP("Encoder",
                                            "Cet enregistrement est vide, veuillez en sélectionner un autre pour "
                                            "permettre l'initialisation des paramêtres d'encodage.");
const char kTextDatamatrixRefused[] = QT_TRANSLATE_NOOP("Encoder",
                                                        "Encodage impossible (vous pouvez essayer de changer la "
                                                        "taille du datamatrix ou le mode d'encodage).");
const char kTextEnginesDiffer[] = QT_TRANSLATE_NOOP("Encoder",
                                                    "L'encodeur Datamatrix de Codiflux ne donne pas le même "
                                                    "symbole que libdmtx pour l'enregistrement d'exemple : la "
                                                    "fabrication est arrêtée. La version de libdmtx installée a "
                                                    "peut-être changé ; la ligne de commande accepte "
                                                    "--dm-engine libdmtx.");
const char kTextQrRefused[] = QT_TRANSLATE_NOOP("Encoder",
                                                "Encodage impossible (vous pouvez essayer de changer le mode "
                                                "d'encodage ou le niveau de correction d'erreur).");

std::atomic<DatamatrixEngine> currentEngine{DatamatrixEngine::Codiflux};

// The test hook; empty calls the library.
DatamatrixEncodeFunction& datamatrixEncodeHook()
{
    static DatamatrixEncodeFunction hook;
    return hook;
}

// Input object with its error-correction level and version set.
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

QRcodePtr encodeQr(const EncodingParameters& parameters, const unsigned char* bytes, int length)
{
    // Only the modes offered by the window reach the library's append step;
    // the internal ones (structure, ECI, FNC1) would take other meanings.
    if (parameters.qrMode < QR_MODE_NUM || parameters.qrMode > QR_MODE_KANJI)
        return {};
    QRinputPtr input = createQrInput(parameters);
    // ECI 26 tells the reader that the bytes are UTF-8.
    if (input && parameters.qrEci && QRinput_appendECIheader(input.get(), 26) != 0)
        return {};
    if (!input || QRinput_append(input.get(), QRencodeMode(parameters.qrMode), length, bytes) != 0)
        return {};
    return QRcodePtr(QRcode_encodeInput(input.get()));
}

}  // namespace

void setDatamatrixEngine(DatamatrixEngine engine)
{
    currentEngine.store(engine, std::memory_order_relaxed);
}

DatamatrixEngine datamatrixEngine()
{
    return currentEngine.load(std::memory_order_relaxed);
}

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

DmtxEncodePtr createDatamatrixEncoder(const EncodingParameters& parameters)
{
    DmtxEncodePtr encoder(dmtxEncodeCreate());
    if (!encoder)
        return encoder;
    dmtxEncodeSetProp(encoder.get(), DmtxPropModuleSize, parameters.moduleSize);
    dmtxEncodeSetProp(encoder.get(), DmtxPropMarginSize, parameters.marginSize);
    dmtxEncodeSetProp(encoder.get(), DmtxPropSizeRequest, parameters.sizeRequest);
    dmtxEncodeSetProp(encoder.get(), DmtxPropScheme, parameters.scheme);
    if (parameters.fnc1 >= 0)
        dmtxEncodeSetProp(encoder.get(), DmtxPropFnc1, parameters.fnc1);
    return encoder;
}

bool runDatamatrixEncode(const DatamatrixEncodeFunction& hook, DmtxEncode* encoder, QByteArrayView value)
{
    static const unsigned char empty = 0;
    // The library takes a non-const pointer but does not write the input.
    unsigned char* input = value.empty() ? const_cast<unsigned char*>(&empty)
                                         : reinterpret_cast<unsigned char*>(const_cast<char*>(value.data()));
    const int length = int(value.size());
    if (!hook)
        return dmtxEncodeDataMatrix(encoder, length, input) != 0;
    return hook(value, [encoder, length, input] { return dmtxEncodeDataMatrix(encoder, length, input) != 0; });
}

ModuleGrid datamatrixGrid(const DmtxEncode* encoder)
{
    if (!encoder || !encoder->image || !encoder->image->pxl)
        return {};
    const DmtxImage* image = encoder->image;
    if (image->width <= 0 || image->height <= 0 || image->bytesPerPixel <= 0 || image->bitsPerChannel[0] != 8)
        return {};
    // Not produced by the encoder; refuse rather than guess.
    if (image->imageFlip & DmtxFlipX)
        return {};
    // The library's pixel (x, y) counts y from the bottom row of the picture;
    // without the vertical flip its buffer holds that bottom row last, so
    // buffer row r is the picture's row r from the top. With the flip the
    // buffer is stored the other way round.
    const long rowSize = image->rowSizeBytes;
    const unsigned char* first = image->pxl + image->channelStart[0] / 8;
    const bool flipped = image->imageFlip & DmtxFlipY;
    return ModuleGrid::fromBuffer(flipped ? first + long(image->height - 1) * rowSize : first, image->width,
                                  image->height, flipped ? -rowSize : rowSize, image->bytesPerPixel, true);
}

ModuleGrid qrCodeGrid(const QRcode* code)
{
    if (!code || !code->data || code->width <= 0)
        return {};
    return ModuleGrid::fromBuffer(code->data, code->width, code->width, code->width, 1, false);
}

ModuleGrid ModuleGrid::fromBuffer(const unsigned char* cells, int width, int height, long rowStride, int cellStride,
                                  bool darkIsZero)
{
    ModuleGrid grid;
    if (!cells || width <= 0 || height <= 0)
        return grid;
    grid.data_ = cells;
    grid.rowStride_ = rowStride;
    grid.cellStride_ = cellStride;
    grid.width_ = width;
    grid.height_ = height;
    grid.darkIsZero_ = darkIsZero;
    return grid;
}

EncodedSymbol::~EncodedSymbol()
{
    clear();
}

EncodedSymbol::EncodedSymbol(EncodedSymbol&& other) noexcept
    : datamatrix_(std::exchange(other.datamatrix_, nullptr))
    , qrCode_(std::exchange(other.qrCode_, nullptr))
    , raster_(std::move(other.raster_))  // the buffer moves: the grid stays valid
    , grid_(std::exchange(other.grid_, ModuleGrid()))
{ }

EncodedSymbol& EncodedSymbol::operator=(EncodedSymbol&& other) noexcept
{
    if (this != &other) {
        clear();
        datamatrix_ = std::exchange(other.datamatrix_, nullptr);
        qrCode_ = std::exchange(other.qrCode_, nullptr);
        raster_ = std::move(other.raster_);
        grid_ = std::exchange(other.grid_, ModuleGrid());
    }
    return *this;
}

void EncodedSymbol::clear()
{
    grid_ = ModuleGrid();
    DmtxEncodePtr(static_cast<DmtxEncode*>(std::exchange(datamatrix_, nullptr)));
    QRcodePtr(static_cast<QRcode*>(std::exchange(qrCode_, nullptr)));
}

void SymbolAccess::hold(EncodedSymbol& symbol, DmtxEncodePtr encoder)
{
    symbol.clear();
    symbol.grid_ = datamatrixGrid(encoder.get());
    symbol.datamatrix_ = encoder.release();
}

void SymbolAccess::hold(EncodedSymbol& symbol, QRcodePtr code)
{
    symbol.clear();
    symbol.grid_ = qrCodeGrid(code.get());
    symbol.qrCode_ = code.release();
}

DmtxEncodePtr SymbolAccess::takeDatamatrix(EncodedSymbol& symbol)
{
    symbol.grid_ = ModuleGrid();
    return DmtxEncodePtr(static_cast<DmtxEncode*>(std::exchange(symbol.datamatrix_, nullptr)));
}

QString blankValueText()
{
    return QCoreApplication::translate("Encoder", kTextBlank);
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

int Encoder::inputLength(const char* bytes, int length) const
{
    if (parameters_.symbology != Symbology::QRCode || length <= 0)
        return length;
    const void* nul = std::memchr(bytes, 0, std::size_t(length));
    return nul ? int(static_cast<const char*>(nul) - bytes) : length;
}

QString Encoder::refusalText() const
{
    return QCoreApplication::translate(
        "Encoder", parameters_.symbology == Symbology::QRCode ? kTextQrRefused : kTextDatamatrixRefused);
}

Error Encoder::encode(const char* bytes, int length, EncodedSymbol& symbol) const
{
    // The test hook stands for the library: it keeps the library's path.
    const bool hooked = bool(datamatrixEncodeHook());
    return encode(bytes, length, symbol, hooked ? DatamatrixEngine::Libdmtx : datamatrixEngine());
}

Error Encoder::encode(const char* bytes, int length, EncodedSymbol& symbol, DatamatrixEngine engine) const
{
    symbol.clear();
    if (length < 0 || (length > 0 && !bytes))
        return {ErrorCode::ValueRefused, refusalText()};
    length = inputLength(bytes, length);
    if (parameters_.symbology == Symbology::QRCode) {
        static const unsigned char empty = 0;
        const auto* input = length > 0 ? reinterpret_cast<const unsigned char*>(bytes) : &empty;
        SymbolAccess::hold(symbol, encodeQr(parameters_, input, length));
    } else {
        const auto* input = reinterpret_cast<const unsigned char*>(bytes);
        datamatrix::Raster& raster = symbol.raster_;
        // A drawing ours does not make (no module, a negative margin): libdmtx's.
        if (parameters_.moduleSize < 1 || parameters_.marginSize < 0)
            engine = DatamatrixEngine::Libdmtx;
        bool libdmtxAborts = false;
        if (engine == DatamatrixEngine::Codiflux || parameters_.fnc1 >= 0) {
            const bool ok = datamatrix::encode(input, length, parameters_.sizeRequest, parameters_.scheme,
                                               parameters_.fnc1, parameters_.moduleSize, parameters_.marginSize,
                                               raster, &libdmtxAborts);
            if (ok && engine == DatamatrixEngine::Codiflux)
                symbol.grid_ = ModuleGrid::fromBuffer(raster.cells.data(), raster.width, raster.height,
                                                      raster.width, 1, true);
        }
        // libdmtx stops the program on some values with FNC1: refused
        // without calling it.
        if (engine == DatamatrixEngine::Libdmtx && !libdmtxAborts) {
            DmtxEncodePtr encoder = createDatamatrixEncoder(parameters_);
            if (encoder && runDatamatrixEncode(datamatrixEncodeHook(), encoder.get(), QByteArrayView(bytes, length)))
                SymbolAccess::hold(symbol, std::move(encoder));
        }
    }
    if (!symbol.isValid()) {
        symbol.clear();
        return {ErrorCode::ValueRefused, refusalText()};
    }
    return {};
}

Error Encoder::checkDatamatrixEngines(QByteArrayView sample) const
{
    if (parameters_.symbology != Symbology::Datamatrix || datamatrixEngine() != DatamatrixEngine::Codiflux)
        return {};
    EncodedSymbol ours;
    EncodedSymbol theirs;
    const bool oursFailed = encode(sample.data(), int(sample.size()), ours, DatamatrixEngine::Codiflux).failed();
    const bool theirsFailed = encode(sample.data(), int(sample.size()), theirs, DatamatrixEngine::Libdmtx).failed();
    bool same = oursFailed == theirsFailed;
    if (same && !oursFailed) {
        const ModuleGrid& a = ours.grid();
        const ModuleGrid& b = theirs.grid();
        same = a.width() == b.width() && a.height() == b.height();
        for (int row = 0; same && row < a.height(); ++row)
            for (int column = 0; same && column < a.width(); ++column)
                same = a.dark(column, row) == b.dark(column, row);
    }
    if (same)
        return {};
    return {ErrorCode::ValueRefused, QCoreApplication::translate("Encoder", kTextEnginesDiffer)};
}

Error Encoder::encodeWithTimeLimit(const QByteArray& bytes, EncodedSymbol& symbol, int timeoutMs) const
{
    if (parameters_.symbology == Symbology::QRCode)
        return encode(bytes, symbol);
    symbol.clear();
    SymbolAccess::hold(symbol, createDatamatrixEncoder(parameters_));
    if (!runDmtxEncoder(symbol, bytes, timeoutMs) || !symbol.isValid()) {
        symbol.clear();
        return {ErrorCode::ValueRefused, refusalText()};
    }
    return {};
}

}  // namespace codiflux
