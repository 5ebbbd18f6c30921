#pragma once
// Reading a field text back: the symbol is rebuilt from the field alone, the
// way the 2D-code font prints it, and decoded with zxing-cpp. This is the
// check that a printed code scans and carries the record's value.

#include "codes/encoding.h"
#include "codes/fonttext.h"

#include <QByteArray>

#include <memory>
#include <optional>
#include <vector>

namespace codiflux {

// A rebuilt symbol: one byte per pixel, 0 dark and 255 light, row by row from
// the top. Each cell is `scale` x `scale` pixels, and `quietZone` light cells
// surround the symbol on every side.
struct SymbolImage {
    std::vector<unsigned char> pixels;
    int width = 0;   // pixels: (W + 2 x quietZone) x scale
    int height = 0;  // pixels: (H + 2 x quietZone) x scale
    int quietZone = 0;
    int scale = 1;

    // Cell (column, row) of the symbol, quiet zone excluded.
    bool dark(int column, int row) const
    {
        const std::size_t x = std::size_t(column + quietZone) * std::size_t(scale);
        const std::size_t y = std::size_t(row + quietZone) * std::size_t(scale);
        return pixels[y * std::size_t(width) + x] == 0;
    }
};

// Rebuilds the W x H symbol from `size` bytes of field text, as the 2D-code
// font prints it (the glyph of 'A' + v stands for four modules, bit 3 at the
// top and bit 0 at the bottom, a clear bit inked; the ink the font lets reach
// into the next cell to cover seams is left out: every cell is exact) and with
// the options that made the text undone: mirrors, order of the modules inside
// a character, dark for light. End-of-line characters are skipped. Fails
// (VerifyFailed, with the French reason) when the size is not the field
// length, a code character lies outside 'A'..'P' or an end-of-line character
// differs from the option's. Reuses the capacity of `image`.
Error rebuildSymbol(const char* field, qsizetype size, int width, int height, const FontTextOptions& options,
                    int quietZone, int scale, SymbolImage& image);

// Which decoder read a symbol.
enum class SymbolReader { None, Zxing, Libdmtx };

// Decodes a rebuilt symbol as a Datamatrix or a QR code with
// zxing-cpp, searching nothing but that symbology. Gives the raw bytes of the
// content (no character set conversion: Latin-1 values compare byte for byte).
// A square Datamatrix of 144 cells or more that zxing-cpp refuses is read with
// libdmtx's own decoder: zxing-cpp 1.4 does not read libdmtx's 144x144 symbol.
// `identifier`, when given, receives the symbology identifier the reader
// reports ("]d1", "]d2" for GS1, "]Q1"...) and the symbol is read as a GS1
// one may be: its bytes leave the leading FNC1 out and give GS for the others.
std::optional<QByteArray> decodeSymbolImage(const SymbolImage& image, Symbology symbology,
                                            SymbolReader* reader = nullptr, QByteArray* identifier = nullptr);

// Rebuilds and decodes many fields of one W x H layout, reusing its buffer.
class FieldTextDecoder {
public:
    FieldTextDecoder(int width, int height, const FontTextOptions& options, Symbology symbology);
    ~FieldTextDecoder();
    FieldTextDecoder(const FieldTextDecoder&) = delete;
    FieldTextDecoder& operator=(const FieldTextDecoder&) = delete;

    std::optional<QByteArray> decode(const char* field, qsizetype size);
    std::optional<QByteArray> decode(const QByteArray& field) { return decode(field.constData(), field.size()); }
    // The symbol rebuilt by the last decode() (empty when the field was refused).
    const SymbolImage& image() const { return image_; }
    // The decoder that read the last field.
    SymbolReader reader() const { return reader_; }
    // The symbology identifier of the last field read ("]d2" for GS1).
    const QByteArray& symbologyIdentifier() const { return identifier_; }
    // GS1 symbols: libdmtx's own reader (144x144) then also gives a FNC1 as
    // GS and the identifier "]d2" for a leading one.
    void setGs1(bool gs1) { gs1_ = gs1; }

private:
    struct Hints;
    int width_;
    int height_;
    FontTextOptions options_;
    Symbology symbology_;
    SymbolImage image_;
    SymbolReader reader_ = SymbolReader::None;
    QByteArray identifier_;
    bool gs1_ = false;
    std::unique_ptr<Hints> hints_;
};

// One field: rebuild and decode.
std::optional<QByteArray> decodeFieldText(const QByteArray& field, int width, int height,
                                          const FontTextOptions& options, Symbology symbology);

}  // namespace codiflux
