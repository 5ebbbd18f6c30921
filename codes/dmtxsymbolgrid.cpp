// Reed-Solomon error correction, module placement and drawing of our
// Datamatrix encoder: ISO/IEC 16022 ECC 200, with libdmtx's drawing (module
// size, margin, light background).

#include "codes/datamatrix.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <mutex>
#include <utility>

namespace codiflux::datamatrix {

namespace {

// GF(256) over x^8 + x^5 + x^3 + x^2 + 1 (301).
struct Galois {
    std::array<int, 256> log{};
    std::array<int, 510> exp{};
    Galois()
    {
        int v = 1;
        for (int i = 0; i < 255; ++i) {
            exp[std::size_t(i)] = v;
            exp[std::size_t(i + 255)] = v;
            log[std::size_t(v)] = i;
            v <<= 1;
            if (v & 0x100)
                v ^= 301;
        }
    }
    int mul(int a, int b) const
    {
        return (a == 0 || b == 0) ? 0 : exp[std::size_t(log[std::size_t(a)] + log[std::size_t(b)])];
    }
};

const Galois& galois()
{
    static const Galois g;
    return g;
}

// The generator polynomial's coefficients for `count` error words (roots
// alpha^1 .. alpha^count), lowest degree first, leading 1 left out.
struct Generator {
    int count = 0;
    std::array<unsigned char, 68> c{};
};

const Generator& generator(int count)
{
    static std::array<Generator, 69> table;
    static std::once_flag once;
    std::call_once(once, [] {
        const Galois& g = galois();
        for (int n = 1; n <= 68; ++n) {
            Generator& gen = table[std::size_t(n)];
            gen.count = n;
            std::array<int, 69> p{};
            p[0] = 1;  // p(x) = prod (x - alpha^i), p[k] the coefficient of x^k
            for (int i = 1; i <= n; ++i) {
                const int root = g.exp[std::size_t(i)];
                for (int k = i; k >= 0; --k)
                    p[std::size_t(k)] = (k > 0 ? p[std::size_t(k - 1)] : 0) ^ g.mul(p[std::size_t(k)], root);
            }
            for (int k = 0; k < n; ++k)
                gen.c[std::size_t(k)] = (unsigned char)p[std::size_t(k)];
        }
    });
    return table[std::size_t(count)];
}

// The products of a generator's coefficients by every feedback byte, a row
// of `count` bytes per feedback value: one division step is then a shift
// and a row's XOR.
const std::vector<unsigned char>& products(int count)
{
    static std::array<std::vector<unsigned char>, 69> table;
    static std::array<std::once_flag, 69> once;
    std::call_once(once[std::size_t(count)], [count] {
        const Generator& gen = generator(count);
        const Galois& g = galois();
        std::vector<unsigned char>& rows = table[std::size_t(count)];
        rows.resize(std::size_t(256 * count));
        for (int f = 0; f < 256; ++f)
            for (int j = 0; j < count; ++j)
                rows[std::size_t(f * count + j)] = (unsigned char)g.mul(gen.c[std::size_t(j)], f);
    });
    return table[std::size_t(count)];
}

// Where each module of a size's mapping matrix takes its value from: a
// codeword index and bit mask, or always dark (mask 0, index 1) or light (0, 0).
struct Placement {
    int rows = 0;
    int cols = 0;
    std::vector<unsigned short> word;
    std::vector<unsigned char> mask;
};

class Placer {
public:
    Placer(Placement& p)
        : p_(p), visited_(std::size_t(p.rows * p.cols), 0)
    { }

    void run()
    {
        const int nrow = p_.rows;
        const int ncol = p_.cols;
        int chr = 0;
        int row = 4;
        int col = 0;
        do {
            if (row == nrow && col == 0)
                corner1(chr++);
            else if (row == nrow - 2 && col == 0 && ncol % 4 != 0)
                corner2(chr++);
            else if (row == nrow - 2 && col == 0 && ncol % 8 == 4)
                corner3(chr++);
            else if (row == nrow + 4 && col == 2 && ncol % 8 == 0)
                corner4(chr++);
            do {
                if (row < nrow && col >= 0 && !visited_[std::size_t(row * ncol + col)])
                    standard(row, col, chr++);
                row -= 2;
                col += 2;
            } while (row >= 0 && col < ncol);
            row += 1;
            col += 3;
            do {
                if (row >= 0 && col < ncol && !visited_[std::size_t(row * ncol + col)])
                    standard(row, col, chr++);
                row += 2;
                col -= 2;
            } while (row < nrow && col >= 0);
            row += 3;
            col += 1;
        } while (row < nrow || col < ncol);
        // The fixed pattern of the lower right corner when it is left over.
        const std::size_t last = std::size_t(nrow * ncol - 1);
        if (!visited_[last]) {
            p_.word[last] = 1;
            p_.word[last - std::size_t(ncol) - 1] = 1;
        }
    }

private:
    void module(int row, int col, int chr, int bit)
    {
        const int nrow = p_.rows;
        const int ncol = p_.cols;
        if (row < 0) {
            row += nrow;
            col += 4 - ((nrow + 4) % 8);
        }
        if (col < 0) {
            col += ncol;
            row += 4 - ((ncol + 4) % 8);
        }
        const std::size_t i = std::size_t(row * ncol + col);
        p_.word[i] = (unsigned short)chr;
        p_.mask[i] = (unsigned char)(0x80 >> (bit - 1));
        visited_[i] = 1;
    }
    void standard(int row, int col, int chr)
    {
        module(row - 2, col - 2, chr, 1);
        module(row - 2, col - 1, chr, 2);
        module(row - 1, col - 2, chr, 3);
        module(row - 1, col - 1, chr, 4);
        module(row - 1, col, chr, 5);
        module(row, col - 2, chr, 6);
        module(row, col - 1, chr, 7);
        module(row, col, chr, 8);
    }
    void corner1(int chr)
    {
        const int r = p_.rows, c = p_.cols;
        module(r - 1, 0, chr, 1);
        module(r - 1, 1, chr, 2);
        module(r - 1, 2, chr, 3);
        module(0, c - 2, chr, 4);
        module(0, c - 1, chr, 5);
        module(1, c - 1, chr, 6);
        module(2, c - 1, chr, 7);
        module(3, c - 1, chr, 8);
    }
    void corner2(int chr)
    {
        const int r = p_.rows, c = p_.cols;
        module(r - 3, 0, chr, 1);
        module(r - 2, 0, chr, 2);
        module(r - 1, 0, chr, 3);
        module(0, c - 4, chr, 4);
        module(0, c - 3, chr, 5);
        module(0, c - 2, chr, 6);
        module(0, c - 1, chr, 7);
        module(1, c - 1, chr, 8);
    }
    void corner3(int chr)
    {
        const int r = p_.rows, c = p_.cols;
        module(r - 3, 0, chr, 1);
        module(r - 2, 0, chr, 2);
        module(r - 1, 0, chr, 3);
        module(0, c - 2, chr, 4);
        module(0, c - 1, chr, 5);
        module(1, c - 1, chr, 6);
        module(2, c - 1, chr, 7);
        module(3, c - 1, chr, 8);
    }
    void corner4(int chr)
    {
        const int r = p_.rows, c = p_.cols;
        module(r - 1, 0, chr, 1);
        module(r - 1, c - 1, chr, 2);
        module(0, c - 3, chr, 3);
        module(0, c - 2, chr, 4);
        module(0, c - 1, chr, 5);
        module(1, c - 3, chr, 6);
        module(1, c - 2, chr, 7);
        module(1, c - 1, chr, 8);
    }

    Placement& p_;
    std::vector<unsigned char> visited_;
};

const Placement& placement(int sizeIdx)
{
    static std::array<Placement, kSizeCount> table;
    static std::array<std::once_flag, kSizeCount> once;
    std::call_once(once[std::size_t(sizeIdx)], [sizeIdx] {
        const SizeInfo& s = sizeInfo(sizeIdx);
        Placement& p = table[std::size_t(sizeIdx)];
        p.rows = s.regionRows * (sizeIdx < 24 ? s.horizontalRegions : 1);
        p.cols = s.regionCols * s.horizontalRegions;
        p.word.assign(std::size_t(p.rows * p.cols), 0);
        p.mask.assign(std::size_t(p.rows * p.cols), 0);
        Placer(p).run();
    });
    return table[std::size_t(sizeIdx)];
}

// Where each module of a whole symbol (finder and timing patterns
// included, row 0 at the top) takes its value from: a byte and a bit mask
// over the symbol's words followed by an always light and an always dark
// byte.
struct Layout {
    std::vector<unsigned short> word;
    std::vector<unsigned char> mask;
};

const Layout& symbolLayout(int sizeIdx)
{
    static std::array<Layout, kSizeCount> table;
    static std::array<std::once_flag, kSizeCount> once;
    std::call_once(once[std::size_t(sizeIdx)], [sizeIdx] {
        const SizeInfo& s = sizeInfo(sizeIdx);
        const Placement& p = placement(sizeIdx);
        const int total = s.dataWords + s.errorWordsPerBlock * s.blocks;
        const auto light = (unsigned short)total;
        const auto dark = (unsigned short)(total + 1);
        Layout& layout = table[std::size_t(sizeIdx)];
        layout.word.assign(std::size_t(s.rows * s.cols), light);
        layout.mask.assign(std::size_t(s.rows * s.cols), 0xFF);
        const int regionRows = s.regionRows + 2;
        const int regionCols = s.regionCols + 2;
        for (int r = 0; r < s.rows; ++r) {
            const int fromBottom = s.rows - 1 - r;
            const int mappingRow = r - 1 - 2 * (r / regionRows);
            for (int c = 0; c < s.cols; ++c) {
                const std::size_t cell = std::size_t(r * s.cols + c);
                bool fixedDark = false;
                if (fromBottom % regionRows == 0 || c % regionCols == 0)
                    fixedDark = true;  // the solid edges
                else if ((fromBottom + 1) % regionRows == 0)
                    fixedDark = (c & 1) == 0;  // the alternating top edge of a region
                else if ((c + 1) % regionCols == 0)
                    fixedDark = (fromBottom & 1) == 0;  // the alternating right edge
                else {
                    const int mappingCol = c - 1 - 2 * (c / regionCols);
                    const std::size_t i = std::size_t(mappingRow * p.cols + mappingCol);
                    if (p.mask[i]) {
                        layout.word[cell] = p.word[i];
                        layout.mask[cell] = p.mask[i];
                        continue;
                    }
                    fixedDark = p.word[i] != 0;  // the lower right corner's fixed pattern
                }
                layout.word[cell] = fixedDark ? dark : light;
            }
        }
    });
    return table[std::size_t(sizeIdx)];
}

}  // namespace

void addErrorCorrection(unsigned char* code, int sizeIdx)
{
    const SizeInfo& s = sizeInfo(sizeIdx);
    const int n = s.errorWordsPerBlock;
    const unsigned char* rows = products(n).data();
    const int stride = s.blocks;
    for (int block = 0; block < stride; ++block) {
        // The register and its next state, in turn.
        unsigned char registers[2][68] = {};
        unsigned char* ecc = registers[0];
        unsigned char* next = registers[1];
        for (int i = block; i < s.dataWords; i += stride) {
            const int feedback = ecc[n - 1] ^ code[i];
            const unsigned char* row = rows + feedback * n;
            next[0] = row[0];
            for (int j = 1; j < n; ++j)
                next[j] = (unsigned char)(ecc[j - 1] ^ row[j]);
            std::swap(ecc, next);
        }
        int k = n;
        for (int i = block + s.dataWords; i < s.dataWords + n * stride; i += stride)
            code[i] = ecc[--k];
    }
}

bool encode(const unsigned char* input, int length, int sizeRequest, int scheme, int fnc1, int moduleSize,
            int marginSize, Raster& raster, bool* libdmtxAborts)
{
    if (libdmtxAborts)
        *libdmtxAborts = false;
    if (moduleSize < 1 || marginSize < 0)
        return false;
    thread_local std::vector<unsigned char> code;
    const int sizeIdx = encodeCodewords(input, length, sizeRequest, scheme, fnc1, code, libdmtxAborts);
    if (sizeIdx < 0)
        return false;
    const SizeInfo& s = sizeInfo(sizeIdx);
    const std::size_t total = std::size_t(s.dataWords + s.errorWordsPerBlock * s.blocks);
    // As libdmtx: its message buffer starts zeroed and takes the codewords
    // as they are; a longer output would only meet the error words.
    const std::size_t dataLength = std::min(code.size(), total);
    code.resize(total, 0);
    std::fill(code.begin() + std::ptrdiff_t(dataLength), code.end(), 0);
    addErrorCorrection(code.data(), sizeIdx);

    // Two more bytes after the symbol's words: always light, always dark.
    code.push_back(0);
    code.push_back(0xFF);
    const Layout& layout = symbolLayout(sizeIdx);
    const int width = 2 * marginSize + s.cols * moduleSize;
    const int height = 2 * marginSize + s.rows * moduleSize;
    raster.width = width;
    raster.height = height;
    raster.cells.assign(std::size_t(width) * std::size_t(height), 0xFF);

    // One row of modules at a time (row 0 at the top), drawn into its first
    // pixel row and repeated moduleSize times.
    const unsigned char* words = code.data();
    for (int r = 0; r < s.rows; ++r) {
        unsigned char* line = raster.cells.data() + std::size_t(marginSize + r * moduleSize) * std::size_t(width);
        const unsigned short* w = layout.word.data() + std::size_t(r) * std::size_t(s.cols);
        const unsigned char* m = layout.mask.data() + std::size_t(r) * std::size_t(s.cols);
        if (moduleSize == 1) {
            unsigned char* cell = line + marginSize;
            for (int c = 0; c < s.cols; ++c)
                cell[c] = (words[w[c]] & m[c]) ? 0 : 0xFF;
        } else {
            for (int c = 0; c < s.cols; ++c)
                if (words[w[c]] & m[c])
                    std::memset(line + marginSize + c * moduleSize, 0, std::size_t(moduleSize));
        }
        for (int k = 1; k < moduleSize; ++k)
            std::memcpy(line + std::size_t(k) * std::size_t(width), line, std::size_t(width));
    }
    return true;
}

}  // namespace codiflux::datamatrix
