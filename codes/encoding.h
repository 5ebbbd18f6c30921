#pragma once
// Code parameters, the choice lists of the window's combo boxes and one
// encoding through libdmtx or libqrencode, with every library object owned
// by an RAII handle.

#include <QByteArray>
#include <QString>

#include <dmtx.h>
#include <qrencode.h>

#include <functional>
#include <memory>
#include <span>

namespace codiflux {

// Symbology = index of the window's tab: 0 Datamatrix, 1 QR code.
enum Symbology : int { SymbologyDatamatrix = 0, SymbologyQRCode = 1 };

struct EncodingParameters {
    int symbology = SymbologyDatamatrix;
    int moduleSize = 1;       // spinBoxModule, 1..99
    int marginSize = 0;       // spinBoxMarge, 0..99
    int sizeRequest = 27;     // libdmtx symbol size (DmtxSymbolSize), "12x36"
    int scheme = -1;          // libdmtx scheme (DmtxScheme), AutoBest
    int qrVersion = 0;        // 0 lets the library choose
    int qrLevel = 0;          // QRecLevel
    int qrCaseSensitive = 1;  // shown and stored only
    int qrMode = 0;           // QRencodeMode, Numeric

    friend bool operator==(const EncodingParameters&, const EncodingParameters&) = default;
};

// One entry of a choice list: the French text shown and the library value kept
// as the item's user-role data.
struct Choice {
    const char* text;
    int value;
};

std::span<const Choice> datamatrixSizeChoices();    // comboBoxTailleDatamatrix, 32 entries
std::span<const Choice> datamatrixSchemeChoices();  // comboBoxModeEncodage
std::span<const Choice> qrModeChoices();            // comboBoxModeEncodageQRCode
std::span<const Choice> qrLevelChoices();           // comboBoxECLevelQRCode
std::span<const Choice> qrCaseChoices();            // comboBoxCasseQRCode

struct DmtxEncodeDeleter {
    void operator()(DmtxEncode* encoder) const noexcept;
};
struct QRinputDeleter {
    void operator()(QRinput* input) const noexcept;
};
struct QRcodeDeleter {
    void operator()(QRcode* code) const noexcept;
};
using DmtxEncodePtr = std::unique_ptr<DmtxEncode, DmtxEncodeDeleter>;
using QRinputPtr = std::unique_ptr<QRinput, QRinputDeleter>;
using QRcodePtr = std::unique_ptr<QRcode, QRcodeDeleter>;

// dmtxEncodeCreate, then module size, margin size, size request and scheme.
DmtxEncodePtr createDatamatrixEncoder(const EncodingParameters& parameters);
// Input object with its error-correction level and version set.
QRinputPtr createQrInput(const EncodingParameters& parameters);

// A symbol seen as width x height cells, row 0 at the top. A read-only view
// over the library's own buffer: valid while the owning object lives.
// Cells outside the grid read as light.
class ModuleGrid {
public:
    ModuleGrid() = default;
    static ModuleGrid fromDatamatrix(const DmtxEncode* encoder);  // pixel grain, rows flipped
    static ModuleGrid fromQRcode(const QRcode* code);             // module grain, bit 0
    // Any other buffer of cells (tests, pictures): `cells` is cell (0, 0).
    static ModuleGrid fromBuffer(const unsigned char* cells, int width, int height, long rowStride, int cellStride,
                                 bool darkIsZero);

    int width() const { return w; }
    int height() const { return h; }
    bool isNull() const { return data == nullptr; }
    bool dark(int column, int row) const
    {
        if (column < 0 || row < 0 || column >= w || row >= h)
            return false;
        const unsigned char v = data[row * rowStride + column * cellStride];
        return darkWhenZero ? (v == 0) : ((v & 1) != 0);
    }

    // Raw access for the conversion's inner loop: the byte of cell (0, row),
    // or null for a row outside the grid; the next cell on the right is
    // cellBytes() further. A byte is dark when darkIsZero() ? byte == 0 : bit 0 set.
    const unsigned char* rowData(int row) const
    {
        return (row < 0 || row >= h || !data) ? nullptr : data + row * rowStride;
    }
    int cellBytes() const { return cellStride; }
    bool darkIsZero() const { return darkWhenZero; }

private:
    const unsigned char* data = nullptr;  // cell (0, 0)
    long rowStride = 0;                   // bytes from a row to the one below (may be negative)
    int cellStride = 0;                   // bytes from a cell to the next on the right
    int w = 0;
    int h = 0;
    bool darkWhenZero = false;  // Datamatrix: channel 0 == 0; QR: bit 0 set
};

// The result of one encoding: owns the encoder or the code object behind the grid.
class EncodedSymbol {
public:
    EncodedSymbol() = default;
    explicit EncodedSymbol(DmtxEncodePtr encoder);
    explicit EncodedSymbol(QRcodePtr code);
    bool isValid() const { return !grid_.isNull(); }
    const ModuleGrid& grid() const { return grid_; }

private:
    DmtxEncodePtr dmtx;
    QRcodePtr qr;
    ModuleGrid grid_;
};

// How many of a value's bytes the library is given: all of them for
// Datamatrix, those before the first NUL for QR.
int libraryInputLength(const EncodingParameters& parameters, const char* bytes, int length);

// A value to encode counts as empty when it holds nothing but white space.
bool isBlankText(const QString& value);
// The preview's removal of white space at the start and / or the end of a value.
QString trimWhiteSpace(QString value, bool atStart, bool atEnd);

// One encoding on the calling thread with the library call sequences: an
// invalid symbol when the library refuses the value (too long for the size,
// letters in Numeric mode, ...). Every library object is released on failure.
EncodedSymbol encodeSymbol(const EncodingParameters& parameters, const unsigned char* bytes, int length);
inline EncodedSymbol encodeSymbol(const EncodingParameters& parameters, const QByteArray& bytes)
{
    return encodeSymbol(parameters, reinterpret_cast<const unsigned char*>(bytes.constData()), int(bytes.size()));
}

// Test hook: stands for dmtxEncodeDataMatrix (encoder, length, bytes) in
// encodeSymbol(); non-zero is success. Empty (the default) calls the library.
// Set it only while no encoding runs on any thread.
using DatamatrixEncodeFunction = std::function<int(DmtxEncode*, int, unsigned char*)>;
void setDatamatrixEncodeFunction(DatamatrixEncodeFunction function);

}  // namespace codiflux
