#include "codes/verify.h"

#include "codes/libraries.h"

#define ZX_USE_UTF8 1  // the text is not used; this silences the library's transition notice
#include <ZXing/ReadBarcode.h>

#include <QCoreApplication>

#include <algorithm>
#include <cstring>

namespace codiflux {

namespace {

Error notACode(const char* text)
{
    return Error(ErrorCode::VerifyFailed, QCoreApplication::translate("Verify", text));
}

}  // namespace

Error rebuildSymbol(const char* field, qsizetype size, int width, int height, const FontTextOptions& options,
                    int quietZone, int scale, SymbolImage& image)
{
    image.width = image.height = 0;
    image.quietZone = 0;
    image.scale = 1;
    if (width <= 0 || height <= 0 || quietZone < 0 || scale < 1 || !field
        || size != fieldLength(width, height, options.endOfLine))
        return notACode(QT_TRANSLATE_NOOP("Verify", "Le texte du code n'a pas la longueur de ses dimensions."));

    const int bands = bandCount(height);
    const int line = options.endOfLine ? width + 1 : width;
    for (int i = 0; i < bands; ++i) {
        const char* text = field + std::ptrdiff_t(i) * line;
        for (int j = 0; j < width; ++j)
            if (text[j] < 'A' || text[j] > 'P')
                return notACode(
                    QT_TRANSLATE_NOOP("Verify", "Le texte du code contient un caractère hors des lettres A à P."));
        if (options.endOfLine && text[width] != options.endOfLineCharacter)
            return notACode(
                QT_TRANSLATE_NOOP("Verify", "Le texte du code n'a pas le caractère de fin de ligne attendu."));
    }

    image.quietZone = quietZone;
    image.scale = scale;
    image.width = (width + 2 * quietZone) * scale;
    image.height = (height + 2 * quietZone) * scale;
    image.pixels.assign(std::size_t(image.width) * std::size_t(image.height), 255);

    // Grid row r was output row t (vertical inversion reverses them), which
    // sits in band t / 4 at position t % 4 from the top of the glyphs. Read
    // through the glyph, where the top square is bit 3: with bit inversion
    // the output rows of a band go to bits 3, 2, 1, 0, otherwise to 0, 1, 2, 3.
    // A set bit is a dark cell, or a light one with pixel inversion.
    const std::size_t stride = std::size_t(image.width);
    for (int r = 0; r < height; ++r) {
        const int t = options.verticalInversion ? height - 1 - r : r;
        const char* text = field + std::ptrdiff_t(t / 4) * line;
        const int bit = options.bitInversion ? 3 - t % 4 : t % 4;
        unsigned char* row = image.pixels.data() + std::size_t(r + quietZone) * scale * stride;
        unsigned char* pixel = row + std::size_t(quietZone) * scale;
        for (int c = 0; c < width; ++c, pixel += scale) {
            const int j = options.horizontalInversion ? width - 1 - c : c;
            const bool set = ((text[j] - 'A') >> bit) & 1;
            if (set != options.pixelInversion)
                std::memset(pixel, 0, std::size_t(scale));
        }
        for (int copy = 1; copy < scale; ++copy)
            std::memcpy(row + copy * stride, row, stride);
    }
    return {};
}

struct FieldTextDecoder::Hints {
    ZXing::DecodeHints hints;
};

namespace {

ZXing::DecodeHints makeHints(Symbology symbology)
{
    ZXing::DecodeHints hints;
    hints.setFormats(symbology == Symbology::QRCode ? ZXing::BarcodeFormat::QRCode : ZXing::BarcodeFormat::DataMatrix);
    // A rebuilt symbol is a perfect, upright picture holding nothing else.
    hints.setIsPure(true);
    hints.setTryHarder(false);
    hints.setTryRotate(false);
    hints.setTryDownscale(false);
    hints.setBinarizer(ZXing::Binarizer::BoolCast);
    hints.setMaxNumberOfSymbols(1);
    return hints;
}

template<typename T, DmtxPassFail (*Destroy)(T**)>
struct DmtxDestroy {
    void operator()(T* object) const noexcept { Destroy(&object); }
};
using DmtxImagePtr = std::unique_ptr<DmtxImage, DmtxDestroy<DmtxImage, dmtxImageDestroy>>;
using DmtxDecodePtr = std::unique_ptr<DmtxDecode, DmtxDestroy<DmtxDecode, dmtxDecodeDestroy>>;
using DmtxRegionPtr = std::unique_ptr<DmtxRegion, DmtxDestroy<DmtxRegion, dmtxRegionDestroy>>;
using DmtxMessagePtr = std::unique_ptr<DmtxMessage, DmtxDestroy<DmtxMessage, dmtxMessageDestroy>>;

std::optional<QByteArray> readWithZxing(const SymbolImage& image, const ZXing::DecodeHints& hints,
                                        QByteArray* identifier)
{
    const ZXing::ImageView view(image.pixels.data(), image.width, image.height, ZXing::ImageFormat::Lum);
    const ZXing::Result result = ZXing::ReadBarcode(view, hints);
    if (!result.isValid())
        return std::nullopt;
    if (identifier)
        *identifier = QByteArray::fromStdString(result.symbologyIdentifier());
    const ZXing::ByteArray& bytes = result.bytes();
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
}

// libdmtx's own reader, for the 144x144 Datamatrix: zxing-cpp 1.4 expects
// another interleaving of that symbol's error-correction blocks than the one
// libdmtx writes, and refuses every such symbol.
std::optional<QByteArray> readWithLibdmtx(const SymbolImage& image, bool gs1, QByteArray* identifier)
{
    // The library reads the buffer without writing it. Without a flip its
    // first buffer row is the top of the picture, as here.
    DmtxImagePtr picture(
        dmtxImageCreate(const_cast<unsigned char*>(image.pixels.data()), image.width, image.height, DmtxPack8bppK));
    if (!picture)
        return std::nullopt;
    DmtxDecodePtr decoder(dmtxDecodeCreate(picture.get(), 1));
    if (!decoder)
        return std::nullopt;
    // A FNC1 codeword comes out as GS: a leading one marks a GS1 symbol.
    if (gs1)
        dmtxDecodeSetProp(decoder.get(), DmtxPropFnc1, 0x1D);
    DmtxRegionPtr region(dmtxRegionFindNext(decoder.get(), nullptr));
    if (!region)
        return std::nullopt;
    DmtxMessagePtr message(dmtxDecodeMatrixRegion(decoder.get(), region.get(), DmtxUndefined));
    if (!message || message->outputIdx < 0)
        return std::nullopt;
    QByteArray bytes(reinterpret_cast<const char*>(message->output), message->outputIdx);
    if (identifier)
        *identifier = gs1 && bytes.startsWith('\x1D') ? QByteArrayLiteral("]d2") : QByteArrayLiteral("]d1");
    if (gs1 && bytes.startsWith('\x1D'))
        bytes.remove(0, 1);
    return bytes;
}

// Smallest square, in cells, that a 144x144 symbol can take.
constexpr int kLargestDatamatrix = 144;

std::optional<QByteArray> decodeWith(const SymbolImage& image, Symbology symbology, const ZXing::DecodeHints& hints,
                                     SymbolReader* reader, QByteArray* identifier, bool gs1)
{
    if (reader)
        *reader = SymbolReader::None;
    if (image.width <= 0 || image.height <= 0)
        return std::nullopt;
    if (std::optional<QByteArray> bytes = readWithZxing(image, hints, identifier)) {
        if (reader)
            *reader = SymbolReader::Zxing;
        return bytes;
    }
    const int cells = image.width / image.scale - 2 * image.quietZone;
    if (symbology == Symbology::Datamatrix && image.width == image.height && cells >= kLargestDatamatrix) {
        if (std::optional<QByteArray> bytes = readWithLibdmtx(image, gs1, identifier)) {
            if (reader)
                *reader = SymbolReader::Libdmtx;
            return bytes;
        }
    }
    return std::nullopt;
}

// Light cells around the symbol: the decoder wants a margin to find the
// symbol's edges; the Datamatrix grid may already carry its own.
constexpr int kQuietZone = 4;

// The decoder's Datamatrix detector wants at least two pixels a module; a QR
// code is read at one.
int pixelsPerCell(Symbology symbology)
{
    return symbology == Symbology::QRCode ? 1 : 2;
}

}  // namespace

std::optional<QByteArray> decodeSymbolImage(const SymbolImage& image, Symbology symbology, SymbolReader* reader,
                                            QByteArray* identifier)
{
    return decodeWith(image, symbology, makeHints(symbology), reader, identifier, identifier != nullptr);
}

FieldTextDecoder::FieldTextDecoder(int width, int height, const FontTextOptions& options, Symbology symbology)
    : width_(width)
    , height_(height)
    , options_(options)
    , symbology_(symbology)
    , hints_(new Hints{makeHints(symbology)})
{ }

FieldTextDecoder::~FieldTextDecoder() = default;

std::optional<QByteArray> FieldTextDecoder::decode(const char* field, qsizetype size)
{
    reader_ = SymbolReader::None;
    identifier_.clear();
    if (rebuildSymbol(field, size, width_, height_, options_, kQuietZone, pixelsPerCell(symbology_), image_))
        return std::nullopt;
    return decodeWith(image_, symbology_, hints_->hints, &reader_, &identifier_, gs1_);
}

std::optional<QByteArray> decodeFieldText(const QByteArray& field, int width, int height,
                                          const FontTextOptions& options, Symbology symbology)
{
    FieldTextDecoder decoder(width, height, options, symbology);
    return decoder.decode(field);
}

}  // namespace codiflux
