#include "codes/fonttext.h"

namespace codiflux {

char endOfLineCharacter(const QString& text)
{
    return text.isEmpty() ? ' ' : text.left(1).toLatin1().at(0);
}

int bandCount(int height)
{
    return height > 0 ? (height + 3) / 4 : 0;
}

int fieldLength(int width, int height, bool endOfLine)
{
    if (width <= 0)
        return 0;
    return bandCount(height) * (endOfLine ? width + 1 : width);
}

namespace {

// One band of W characters. rows[k] is the byte of cell (0, r) of the grid row
// that bit k reads, or null when that bit is a light cell (filler row, blank).
// Columns at or beyond `gridWidth` read as light.
template<bool DarkIsZero>
inline char* convertBand(const unsigned char* const rows[4], int stride, int width, int gridWidth, bool mirror,
                         unsigned lightMask, char* out)
{
    const auto dark = [](unsigned char byte) -> unsigned {
        if constexpr (DarkIsZero)
            return byte == 0 ? 1u : 0u;
        else
            return byte & 1u;
    };
    for (int j = 0; j < width; ++j) {
        const int c = mirror ? width - 1 - j : j;
        unsigned v = 0;
        if (c < gridWidth) {
            const long offset = long(c) * stride;
            if (rows[0])
                v |= dark(rows[0][offset]);
            if (rows[1])
                v |= dark(rows[1][offset]) << 1;
            if (rows[2])
                v |= dark(rows[2][offset]) << 2;
            if (rows[3])
                v |= dark(rows[3][offset]) << 3;
        }
        // With pixel inversion a bit is set by a light cell.
        *out++ = char('A' + (v ^ lightMask));
    }
    return out;
}

// The same for a band of four grid rows of one byte a cell, every column
// inside the grid: no row or column to test.
template<bool DarkIsZero>
inline char* convertFullBand(const unsigned char* const rows[4], int width, bool mirror, unsigned lightMask,
                             char* out)
{
    const auto dark = [](unsigned char byte) -> unsigned {
        if constexpr (DarkIsZero)
            return byte == 0 ? 1u : 0u;
        else
            return byte & 1u;
    };
    const unsigned char* r0 = rows[0];
    const unsigned char* r1 = rows[1];
    const unsigned char* r2 = rows[2];
    const unsigned char* r3 = rows[3];
    if (mirror) {
        for (int j = 0; j < width; ++j) {
            const int c = width - 1 - j;
            out[j] = char('A' + ((dark(r0[c]) | dark(r1[c]) << 1 | dark(r2[c]) << 2 | dark(r3[c]) << 3) ^ lightMask));
        }
    } else {
        for (int c = 0; c < width; ++c)
            out[c] = char('A' + ((dark(r0[c]) | dark(r1[c]) << 1 | dark(r2[c]) << 2 | dark(r3[c]) << 3) ^ lightMask));
    }
    return out + width;
}

}  // namespace

void toFontText(const ModuleGrid& grid, int width, int height, const FontTextOptions& options, bool blank, char* field)
{
    if (width <= 0)
        return;
    const int bands = bandCount(height);
    const unsigned lightMask = options.pixelInversion ? 0xFu : 0u;
    const int stride = grid.cellBytes();
    const int gridWidth = grid.width();
    const bool zero = grid.darkIsZero();
    char* out = field;
    for (int i = 0; i < bands; ++i) {
        const unsigned char* rows[4];
        bool full = stride == 1 && width <= gridWidth;
        for (int k = 0; k < 4; ++k) {
            const int t = 4 * i + (options.bitInversion ? 3 - k : k);
            if (blank || t >= height) {
                rows[k] = nullptr;  // filler row below the symbol, or a blank code
                continue;
            }
            const int r = options.verticalInversion ? height - 1 - t : t;
            rows[k] = grid.rowData(r);  // null beyond the grid's own height: light
        }
        for (int k = 0; k < 4; ++k)
            full = full && rows[k] != nullptr;
        const bool mirror = options.horizontalInversion;
        if (full)
            out = zero ? convertFullBand<true>(rows, width, mirror, lightMask, out)
                       : convertFullBand<false>(rows, width, mirror, lightMask, out);
        else
            out = zero ? convertBand<true>(rows, stride, width, gridWidth, mirror, lightMask, out)
                       : convertBand<false>(rows, stride, width, gridWidth, mirror, lightMask, out);
        if (options.endOfLine)
            *out++ = options.endOfLineCharacter;
    }
}

FontText toFontText(const ModuleGrid& grid, int width, int height, const FontTextOptions& options, bool blank)
{
    FontText text;
    const int length = fieldLength(width, height, options.endOfLine);
    if (length == 0)
        return text;
    text.field.resize(length);
    toFontText(grid, width, height, options, blank, text.field.data());

    const int bands = bandCount(height);
    const int line = options.endOfLine ? width + 1 : width;
    text.preview.reserve(bands * (width + 1));
    for (int i = 0; i < bands; ++i) {
        if (i > 0)
            text.preview.append(QLatin1Char('\n'));
        text.preview.append(QLatin1StringView(text.field.constData() + i * line, width));
    }
    return text;
}

}  // namespace codiflux
