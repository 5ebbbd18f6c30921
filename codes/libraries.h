#pragma once
// Private to codes/: the C libraries' headers, RAII handles for their objects
// and the bridge between an EncodedSymbol and the object it holds. No public
// header of codes/ includes this one.

#include "codes/encoding.h"

#include <dmtx.h>
#include <qrencode.h>

#include <memory>

namespace codiflux {

struct DmtxEncodeDeleter {
    void operator()(DmtxEncode* encoder) const noexcept { dmtxEncodeDestroy(&encoder); }
};
struct QRinputDeleter {
    void operator()(QRinput* input) const noexcept { QRinput_free(input); }
};
struct QRcodeDeleter {
    void operator()(QRcode* code) const noexcept { QRcode_free(code); }
};
using DmtxEncodePtr = std::unique_ptr<DmtxEncode, DmtxEncodeDeleter>;
using QRinputPtr = std::unique_ptr<QRinput, QRinputDeleter>;
using QRcodePtr = std::unique_ptr<QRcode, QRcodeDeleter>;

// The grids of the libraries' own buffers.
ModuleGrid datamatrixGrid(const DmtxEncode* encoder);  // pixel grain, rows flipped
ModuleGrid qrCodeGrid(const QRcode* code);             // module grain, bit 0

struct SymbolAccess {
    static const DmtxEncode* datamatrix(const EncodedSymbol& symbol)
    {
        return static_cast<const DmtxEncode*>(symbol.datamatrix_);
    }
    static const QRcode* qrCode(const EncodedSymbol& symbol) { return static_cast<const QRcode*>(symbol.qrCode_); }
    // Takes the object (and its grid) into the symbol, releasing what it held.
    static void hold(EncodedSymbol& symbol, DmtxEncodePtr encoder);
    static void hold(EncodedSymbol& symbol, QRcodePtr code);
    static DmtxEncodePtr takeDatamatrix(EncodedSymbol& symbol);
};

// dmtxEncodeCreate, then module size, margin size, size request and scheme.
DmtxEncodePtr createDatamatrixEncoder(const EncodingParameters& parameters);

// The library's Datamatrix call on `encoder`, through `hook` when it is set.
bool runDatamatrixEncode(const DatamatrixEncodeFunction& hook, DmtxEncode* encoder, QByteArrayView value);

}  // namespace codiflux
