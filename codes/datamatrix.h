#pragma once
// Our own Datamatrix (ECC 200) encoder. It makes the same symbol as libdmtx
// 0.7.7's dmtxEncodeDataMatrix, module for module, for every value, size
// request and scheme, and refuses the same values: the encodation search, its
// end-of-symbol rules and its faults are libdmtx's (see dmtxcodewords.cpp).
// Free of any library object: the cells live in a caller-owned buffer.
//
// Values use libdmtx's numbering (codes/encoding.h keeps the library's own
// values): sizes 0..23 square, 24..29 rectangular, -2 automatic square, -3
// automatic rectangle; schemes 0 ASCII, 1 C40, 2 Text, 3 X12, 4 EDIFACT,
// 5 Base256, -1 AutoBest.

#include <cstdint>
#include <vector>

namespace codiflux::datamatrix {

constexpr int kSquareAuto = -2;
constexpr int kRectAuto = -3;
constexpr int kShapeAuto = -1;  // refused by libdmtx's property call: the request stays automatic square
constexpr int kAutoBest = -1;
constexpr int kSizeCount = 30;
constexpr int kOutputCapacity = 4096;  // libdmtx's codeword buffers

struct SizeInfo {
    int rows, cols;               // symbol modules
    int regionRows, regionCols;   // one data region
    int horizontalRegions;        // vertical regions: the same for squares, 1 for rectangles
    int blocks;                   // interleaved Reed-Solomon blocks
    int dataWords, errorWordsPerBlock;
};
const SizeInfo& sizeInfo(int sizeIdx);  // 0 <= sizeIdx < kSizeCount

// The data codewords of `input` (padding included) and the symbol size they
// were fitted to, or -1 when libdmtx refuses the value. `out` receives at most
// kOutputCapacity bytes. fnc1: the byte value turned into FNC1, -1 for none.
// A value on which libdmtx stops the program (a failed assertion: Base256 or
// AutoBest with the FNC1 byte last) is refused, *libdmtxAborts telling so.
int encodeCodewords(const unsigned char* input, int length, int sizeRequest, int scheme, int fnc1,
                    std::vector<unsigned char>& out, bool* libdmtxAborts = nullptr);

// What the AutoBest search sees of an input byte (for the FNC1 byte `fnc1`,
// -1 for none): values whose bytes have the same classes one for one get the
// same encodation, which lets a search's result serve the next values of a
// base with the same layout.
int searchClass(int byte, int fnc1);

// Adds the Reed-Solomon words behind `dataWords` codewords of size `sizeIdx`:
// `code` must hold the symbol's data and error words.
void addErrorCorrection(unsigned char* code, int sizeIdx);

// The symbol as libdmtx draws it: a (2 margin + cols x moduleSize) by
// (2 margin + rows x moduleSize) grid of cells, row 0 at the top, one byte a
// cell, 0 for a dark cell and 0xFF for a light one.
struct Raster {
    std::vector<unsigned char> cells;
    int width = 0;
    int height = 0;
};

// The whole encoding: false when libdmtx refuses the value (or the module or
// margin size is one libdmtx's drawing does not handle: moduleSize < 1,
// marginSize < 0).
bool encode(const unsigned char* input, int length, int sizeRequest, int scheme, int fnc1, int moduleSize,
            int marginSize, Raster& raster, bool* libdmtxAborts = nullptr);

}  // namespace codiflux::datamatrix
