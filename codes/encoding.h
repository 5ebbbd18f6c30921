#pragma once
// Code parameters, the choice lists of the window's combo boxes and the one
// encoding entry of the window's preview, the command line's preview and the
// generation: value bytes in, the symbol's grid out, or one error with its
// French text. The C libraries (libdmtx, libqrencode) stay behind this header:
// only codes/*.cpp see them (codes/libraries.h).

#include "bases/error.h"
#include "codes/datamatrix.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <functional>
#include <span>

namespace codiflux {

// The window's tab: 0 Datamatrix, 1 QR code (converted to int only at the
// settings file and the tab index).
enum class Symbology { Datamatrix, QRCode };

struct EncodingParameters {
    Symbology symbology = Symbology::Datamatrix;
    int moduleSize = 1;       // spinBoxModule, 1..99
    int marginSize = 0;       // spinBoxMarge, 0..99
    int sizeRequest = 27;     // libdmtx symbol size, "12x36"
    int scheme = -1;          // libdmtx scheme, AutoBest
    int qrVersion = 0;        // 0 lets the library choose
    int qrLevel = 0;          // libqrencode error-correction level
    int qrCaseSensitive = 1;  // shown and stored only
    int qrMode = 0;           // libqrencode mode, Numeric
    int fnc1 = -1;            // GS1: the byte libdmtx turns into FNC1 (DmtxPropFnc1), -1 off
    bool qrEci = false;       // QR: the value in UTF-8 behind ECI 26 (Datamatrix has none)

    friend bool operator==(const EncodingParameters&, const EncodingParameters&) = default;
};

// Whether a symbol carries its value's text as UTF-8 (a QR code with its ECI)
// rather than as Windows-1252. libdmtx 0.7.7 writes no ECI: a Datamatrix
// always carries Windows-1252.
inline bool carriesUtf8(const EncodingParameters& parameters)
{
    return parameters.symbology == Symbology::QRCode && parameters.qrEci;
}

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

// A symbol seen as width x height cells, row 0 at the top. A read-only view
// over the library's own buffer: valid while the owning EncodedSymbol holds
// that symbol. Cells outside the grid read as light.
class ModuleGrid {
public:
    ModuleGrid() = default;
    // Any buffer of cells: `cells` is cell (0, 0); a cell is dark when
    // darkIsZero ? byte == 0 : bit 0 set.
    static ModuleGrid fromBuffer(const unsigned char* cells, int width, int height, long rowStride, int cellStride,
                                 bool darkIsZero);

    int width() const { return width_; }
    int height() const { return height_; }
    bool isNull() const { return data_ == nullptr; }
    bool dark(int column, int row) const
    {
        if (column < 0 || row < 0 || column >= width_ || row >= height_)
            return false;
        const unsigned char v = data_[row * rowStride_ + column * cellStride_];
        return darkIsZero_ ? (v == 0) : ((v & 1) != 0);
    }

    // Raw access for the conversion's inner loop: the byte of cell (0, row),
    // or null for a row outside the grid; the next cell on the right is
    // cellBytes() further.
    const unsigned char* rowData(int row) const
    {
        return (row < 0 || row >= height_ || !data_) ? nullptr : data_ + row * rowStride_;
    }
    int cellBytes() const { return cellStride_; }
    bool darkIsZero() const { return darkIsZero_; }

private:
    const unsigned char* data_ = nullptr;  // cell (0, 0)
    long rowStride_ = 0;                   // bytes from a row to the one below (may be negative)
    int cellStride_ = 0;                   // bytes from a cell to the next on the right
    int width_ = 0;
    int height_ = 0;
    bool darkIsZero_ = false;  // Datamatrix: channel 0 == 0; QR: bit 0 set
};

// The result of one encoding, owned by the caller and reused from one value to
// the next: holds the library object behind the grid. Holding a symbol costs
// no allocation of its own beyond the library's.
class EncodedSymbol {
public:
    EncodedSymbol() = default;
    ~EncodedSymbol();
    EncodedSymbol(EncodedSymbol&& other) noexcept;
    EncodedSymbol& operator=(EncodedSymbol&& other) noexcept;
    EncodedSymbol(const EncodedSymbol&) = delete;
    EncodedSymbol& operator=(const EncodedSymbol&) = delete;

    bool isValid() const { return !grid_.isNull(); }
    const ModuleGrid& grid() const { return grid_; }
    // Releases the library object: the grid becomes null.
    void clear();

private:
    friend struct SymbolAccess;   // codes/libraries.h
    friend class Encoder;
    void* datamatrix_ = nullptr;  // the library's encoder object (Datamatrix)
    void* qrCode_ = nullptr;      // the library's code object (QR)
    datamatrix::Raster raster_;   // our own Datamatrix encoder's cells, kept from one value to the next
    ModuleGrid grid_;
};

// Which Datamatrix encoder Encoder::encode() runs: our own (the default) or
// libdmtx. Both give the same symbol; the window's preview always runs
// libdmtx (encodeWithTimeLimit). Set it only while no encoding runs.
enum class DatamatrixEngine { Codiflux, Libdmtx };
void setDatamatrixEngine(DatamatrixEngine engine);
DatamatrixEngine datamatrixEngine();

// The text shown when a value to encode holds nothing but white space.
QString blankValueText();
// A value to encode counts as empty when it holds nothing but white space.
bool isBlankText(const QString& value);
// The preview's removal of white space at the start and / or the end of a value.
QString trimWhiteSpace(QString value, bool atStart, bool atEnd);

// One encoding set-up, built once from the parameters and reused for every
// value. const and without state of its own: any number of threads may share
// one, each with its own EncodedSymbol.
class Encoder {
public:
    explicit Encoder(const EncodingParameters& parameters)
        : parameters_(parameters)
    { }
    const EncodingParameters& parameters() const { return parameters_; }

    // How many of a value's bytes the library is given: all of them for
    // Datamatrix, those before the first NUL for QR.
    int inputLength(const char* bytes, int length) const;

    // Encodes the value into `symbol` (its previous symbol is released first)
    // on the calling thread. A value the library refuses (too long for the
    // size, letters in Numeric mode, ...) gives ErrorCode::ValueRefused with
    // refusalText() and leaves `symbol` empty.
    Error encode(const char* bytes, int length, EncodedSymbol& symbol) const;
    Error encode(QByteArrayView bytes, EncodedSymbol& symbol) const
    {
        return encode(bytes.data(), int(bytes.size()), symbol);
    }
    // The same with the Datamatrix encoder given (QR ignores it).
    Error encode(const char* bytes, int length, EncodedSymbol& symbol, DatamatrixEngine engine) const;

    // The start of a run: encodes the sample with both Datamatrix encoders
    // when ours is the one in use, and fails with a French text when they do
    // not give the same symbol (a libdmtx that changed its choices). Nothing
    // for QR, for libdmtx in use, or when both refuse the sample.
    Error checkDatamatrixEngines(QByteArrayView sample) const;
    // The window's preview: a Datamatrix encoding runs on a thread of its own
    // and is given up (refused) after `timeoutMs`, so that a library call that
    // does not return cannot hang the window.
    Error encodeWithTimeLimit(const QByteArray& bytes, EncodedSymbol& symbol, int timeoutMs = 3000) const;

    // The French text of a refused value, which names the settings to change.
    QString refusalText() const;

private:
    EncodingParameters parameters_;
};

// Test hook: runs in place of the library's Datamatrix encoding of `value` in
// Encoder::encode(); `library` runs the library's call and tells whether it
// succeeded. Empty (the default) calls the library. Set it only while no
// encoding runs on any thread.
using DatamatrixEncodeFunction = std::function<bool(QByteArrayView value, const std::function<bool()>& library)>;
void setDatamatrixEncodeFunction(DatamatrixEncodeFunction function);

}  // namespace codiflux
