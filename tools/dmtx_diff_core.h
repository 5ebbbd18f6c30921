#pragma once
// The differential comparison of our Datamatrix encoder with libdmtx: seeded
// generated values, both encoders on each, the grids compared cell by cell.
// Shared by tools/dmtx_diff.cpp (the long run) and the codes test (a fixed
// sample).

#include "codes/datamatrix.h"

#include <dmtx.h>

#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace codiflux::dmtxdiff {

// xorshift64*: the same values on every machine for one seed.
class Random {
public:
    explicit Random(std::uint64_t seed)
        : s_(seed * 2654435761u + 0x9E3779B97F4A7C15ull)
    { }
    std::uint64_t next()
    {
        s_ ^= s_ >> 12;
        s_ ^= s_ << 25;
        s_ ^= s_ >> 27;
        return s_ * 2685821657736338717ull;
    }
    int below(int n) { return int(next() % std::uint64_t(n)); }

private:
    std::uint64_t s_;
};

struct Case {
    std::vector<unsigned char> value;
    int sizeRequest = -2;
    int scheme = -1;
    int fnc1 = -1;
    int moduleSize = 1;
    int marginSize = 0;
};

// The character sets of the value classes.
inline const std::string& classSet(int k)
{
    static const std::string sets[] = {
        "0123456789",                                                  // digits
        "ABCDEFGHIJKLMNOPQRSTUVWXYZ",                                  // upper case
        "abcdefghijklmnopqrstuvwxyz",                                  // lower case
        "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 ",                       // C40 basic set
        "abcdefghijklmnopqrstuvwxyz0123456789 ",                       // Text basic set
        "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 \r*>",                   // X12
        " !\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^",  // EDIFACT
        "!\"#$%&'()*+,-./:;<=>?@[\\]^_`{|}~\t\n",                      // shifted punctuation and controls
    };
    return sets[k];
}
constexpr int kClassCount = 10;  // the sets above, bytes 0x80-0xFF, any byte

inline int classByte(Random& r, int k)
{
    if (k < 8) {
        const std::string& s = classSet(k);
        return (unsigned char)s[std::size_t(r.below(int(s.size())))];
    }
    if (k == 8)
        return 0x80 + r.below(128);
    return r.below(256);
}

// The capacity in data words of a request (the largest size for an automatic one).
inline int requestCapacity(int sizeRequest)
{
    if (sizeRequest == -2)
        return 1558;
    if (sizeRequest == -3)
        return 49;
    return datamatrix::sizeInfo(sizeRequest).dataWords;
}

// One generated case. `autoBestShare` (0..100): percentage of AutoBest cases
// (the slow side of libdmtx).
inline Case makeCase(Random& r, int autoBestShare)
{
    Case c;
    static const int requests[] = {-2, -3, 0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13,
                                   14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29};
    // Half of the cases among the automatic and the small sizes (the large
    // ones cost libdmtx most of the run's time drawing them).
    static const int small[] = {-2, -3, 0, 1, 2, 3, 4, 5, 6, 7, 8, 24, 25, 26, 27, 28, 29};
    c.sizeRequest = r.below(2) ? requests[r.below(32)] : small[r.below(17)];
    c.scheme = r.below(100) < autoBestShare ? -1 : r.below(6);
    if (r.below(8) == 0)
        c.fnc1 = r.below(4) == 0 ? r.below(256) : (r.below(2) ? 29 : 0xE8);
    if (r.below(16) == 0) {
        c.moduleSize = 1 + r.below(4);
        c.marginSize = r.below(4);
    }
    // Lengths from 0 to one past the size's capacity, weighted to short
    // values; the automatic sizes mostly short.
    const int cap = requestCapacity(c.sizeRequest);
    int maxLength = cap + 1;
    if (c.sizeRequest == -2 && r.below(10) != 0)
        maxLength = 80;
    int length;
    switch (r.below(4)) {
    case 0:
        length = r.below(maxLength + 1);
        break;
    case 1:
        length = r.below(std::min(maxLength, 12) + 1);
        break;
    case 2: {
        const int near = std::max(0, cap - 3 + r.below(6));  // around the capacity
        length = std::min(near, maxLength);
        break;
    }
    default:
        length = r.below(std::min(maxLength, 40) + 1);
        break;
    }
    // Runs of one class followed by another, or a mix of classes.
    const bool mixed = r.below(3) == 0;
    int k = r.below(kClassCount);
    int run = 1 + r.below(std::max(1, length));
    c.value.reserve(std::size_t(length));
    for (int i = 0; i < length; ++i) {
        if (mixed)
            k = r.below(kClassCount);
        else if (--run <= 0) {
            k = r.below(kClassCount);
            run = 1 + r.below(std::max(1, length - i));
        }
        int b = classByte(r, k);
        if (c.fnc1 >= 0 && r.below(12) == 0)
            b = c.fnc1;
        c.value.push_back((unsigned char)b);
    }
    return c;
}

// A case whose value has, byte for byte, the AutoBest search classes of
// `c`'s (another byte of the same class where one is drawn): our encoder
// takes its encodation from the search it ran on `c` just before, and must
// still agree with libdmtx.
inline Case sibling(Random& r, const Case& c)
{
    int classOf[256];
    for (int b = 0; b < 256; ++b)
        classOf[b] = datamatrix::searchClass(b, c.fnc1);
    Case s = c;
    for (unsigned char& v : s.value)
        for (int tries = 0; tries < 16; ++tries) {
            const int b = r.below(256);
            if (classOf[b] == classOf[v]) {
                v = (unsigned char)b;
                break;
            }
        }
    return s;
}

// libdmtx's symbol for a case, as cells (0 dark) row 0 at the top; false when refused.
inline bool libdmtxRaster(const Case& c, datamatrix::Raster& out)
{
    DmtxEncode* enc = dmtxEncodeCreate();
    if (!enc)
        return false;
    dmtxEncodeSetProp(enc, DmtxPropModuleSize, c.moduleSize);
    dmtxEncodeSetProp(enc, DmtxPropMarginSize, c.marginSize);
    dmtxEncodeSetProp(enc, DmtxPropSizeRequest, c.sizeRequest);
    dmtxEncodeSetProp(enc, DmtxPropScheme, c.scheme);
    if (c.fnc1 >= 0)
        dmtxEncodeSetProp(enc, DmtxPropFnc1, c.fnc1);
    static unsigned char empty = 0;
    unsigned char* input = c.value.empty() ? &empty : const_cast<unsigned char*>(c.value.data());
    const bool ok = dmtxEncodeDataMatrix(enc, int(c.value.size()), input) != 0;
    if (ok) {
        const DmtxImage* image = enc->image;
        out.width = image->width;
        out.height = image->height;
        out.cells.resize(std::size_t(out.width) * std::size_t(out.height));
        for (int y = 0; y < out.height; ++y)
            for (int x = 0; x < out.width; ++x)
                out.cells[std::size_t(y) * std::size_t(out.width) + std::size_t(x)] =
                    image->pxl[std::size_t(y) * std::size_t(image->rowSizeBytes) + std::size_t(x * image->bytesPerPixel)
                               + std::size_t(image->channelStart[0] / 8)]
                        == 0
                    ? 0
                    : 0xFF;
    }
    dmtxEncodeDestroy(&enc);
    return ok;
}

// True when libdmtx stops the process on the case (run in a child process).
inline bool libdmtxAborts(const Case& c)
{
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        std::signal(SIGABRT, SIG_DFL);  // no crash handler of the parent's (a test's) in the child
        datamatrix::Raster r;
        libdmtxRaster(c, r);
        _exit(0);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child)
        return false;
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGABRT;
}

// Empty when both agree, else a line describing the difference. `aborted`
// counts the cases on which libdmtx stops the program (ours refuses them).
inline std::string compare(const Case& c, long* aborted = nullptr)
{
    datamatrix::Raster ours;
    datamatrix::Raster theirs;
    bool predicted = false;
    const bool a = datamatrix::encode(c.value.data(), int(c.value.size()), c.sizeRequest, c.scheme, c.fnc1,
                                      c.moduleSize, c.marginSize, ours, &predicted);
    std::string what;
    bool b = false;
    if (predicted) {
        if (libdmtxAborts(c)) {
            if (aborted)
                ++*aborted;
            return what;
        }
        what = "libdmtx does not abort";
    } else {
        b = libdmtxRaster(c, theirs);
    }
    if (!what.empty())
        ;
    else if (a != b)
        what = b ? "refused by ours only" : "refused by libdmtx only";
    else if (a && (ours.width != theirs.width || ours.height != theirs.height))
        what = "sizes differ";
    else if (a && ours.cells != theirs.cells)
        what = "cells differ";
    if (what.empty())
        return what;
    char head[128];
    std::snprintf(head, sizeof head, "%s: size %d scheme %d fnc1 %d module %d margin %d length %zu value ",
                  what.c_str(), c.sizeRequest, c.scheme, c.fnc1, c.moduleSize, c.marginSize, c.value.size());
    std::string line = head;
    static const char hex[] = "0123456789ABCDEF";
    for (unsigned char v : c.value) {
        line += hex[v >> 4];
        line += hex[v & 15];
    }
    return line;
}

}  // namespace codiflux::dmtxdiff
