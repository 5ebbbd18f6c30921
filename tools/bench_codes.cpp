// Symbols per second: a bare loop of library calls against the same
// encodings through Encoder::encode plus toFontText, on the same values.
// The conversion should cost at most 5% over the bare calls. Then the
// Datamatrix encoders side by side on one core over the same values:
// libdmtx (AutoBest, ASCII), Zint (when built with it) and our own, then
// both AutoBest searches on values that never repeat a layout.
//
// Times are the thread's CPU time.
//
//   bench_codes [values] [rounds]

#include "codes/datamatrix.h"
#include "codes/encoding.h"
#include "codes/fonttext.h"

#include <dmtx.h>
#include <qrencode.h>

#include <QByteArray>

#ifdef CODIFLUX_BENCH_ZINT
#include <zint.h>
#endif

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

using namespace codiflux;

namespace {

// CPU time of the calling thread: the machine is shared, and wall time
// would count the other processes' turns (a short loop may run between two
// of them where a long one never does, which would skew the ratios).
struct Clock {
    using duration = std::chrono::nanoseconds;
    using rep = duration::rep;
    using period = duration::period;
    using time_point = std::chrono::time_point<Clock>;
    static constexpr bool is_steady = true;
    static time_point now()
    {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return time_point(duration(rep(t.tv_sec) * 1000000000 + rep(t.tv_nsec)));
    }
};

std::vector<QByteArray> makeValues(int count)
{
    // Record-like values: a reference, a number and a name with accents.
    static const char* const names[] = {"DUPONT Andr\xE9", "LEF\xC8VRE H\xE9l\xE8ne", "MARTIN Fran\xE7ois",
                                        "M\xDCLLER J\xFCrgen", "GARC\xCD\x41 Jos\xE9"};
    std::vector<QByteArray> values;
    values.reserve(std::size_t(count));
    for (int i = 0; i < count; ++i) {
        QByteArray v = "CDX-" + QByteArray::number(100000 + i * 7) + " " + names[i % 5];
        values.push_back(v);
    }
    return values;
}

// Values of the same kind, each of a layout of its own: which positions of
// the reference hold a digit and which a letter follows the bits of the
// value's number, so that no two values have the same byte classes and our
// encoder's AutoBest runs its whole search on every one (it otherwise reuses
// the search of the previous value of the same layout).
std::vector<QByteArray> makeNewLayoutValues(int count)
{
    static const char* const names[] = {"DUPONT Andr\xE9", "LEF\xC8VRE H\xE9l\xE8ne", "MARTIN Fran\xE7ois",
                                        "M\xDCLLER J\xFCrgen", "GARC\xCD\x41 Jos\xE9"};
    std::vector<QByteArray> values;
    values.reserve(std::size_t(count));
    for (int i = 0; i < count; ++i) {
        QByteArray v = "CDX-";
        for (int k = 0; k < 16; ++k)
            v += (i >> k) & 1 ? char('A' + (i + k) % 26) : char('0' + (i + k) % 10);
        v += ' ';
        v += names[i % 5];
        values.push_back(v);
    }
    return values;
}

volatile long sink = 0;  // keeps the loops from being optimised away

// The library calls alone, as the generation issues them.
double bareDatamatrix(const EncodingParameters& p, const std::vector<QByteArray>& values)
{
    const auto start = Clock::now();
    long cells = 0;
    for (const QByteArray& v : values) {
        DmtxEncode* enc = dmtxEncodeCreate();
        dmtxEncodeSetProp(enc, DmtxPropModuleSize, p.moduleSize);
        dmtxEncodeSetProp(enc, DmtxPropMarginSize, p.marginSize);
        dmtxEncodeSetProp(enc, DmtxPropSizeRequest, p.sizeRequest);
        dmtxEncodeSetProp(enc, DmtxPropScheme, p.scheme);
        if (dmtxEncodeDataMatrix(enc, int(v.size()),
                                 reinterpret_cast<unsigned char*>(const_cast<char*>(v.constData()))))
            cells += enc->image->width;
        dmtxEncodeDestroy(&enc);
    }
    sink = sink + cells;
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double bareQr(const EncodingParameters& p, const std::vector<QByteArray>& values)
{
    const auto start = Clock::now();
    long cells = 0;
    for (const QByteArray& v : values) {
        QRinput* input = QRinput_new();
        QRinput_setErrorCorrectionLevel(input, QRecLevel(p.qrLevel));
        QRinput_setVersion(input, p.qrVersion);
        if (QRinput_append(input, QRencodeMode(p.qrMode), int(v.size()),
                           reinterpret_cast<const unsigned char*>(v.constData()))
            == 0) {
            QRcode* code = QRcode_encodeInput(input);
            QRinput_free(input);
            if (code) {
                cells += code->width;
                QRcode_free(code);
            }
        } else {
            QRinput_free(input);
        }
    }
    sink = sink + cells;
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Encoding through the RAII wrappers, then the conversion into a caller
// buffer, once per value.
double encodeAndConvert(const EncodingParameters& p, const std::vector<QByteArray>& values, std::vector<char>& field)
{
    const FontTextOptions options{false, false, true, true, true, ' '};
    const Encoder encoder(p);
    EncodedSymbol symbol;
    const auto start = Clock::now();
    long sum = 0;
    for (const QByteArray& v : values) {
        if (encoder.encode(v, symbol))
            continue;
        const ModuleGrid& grid = symbol.grid();
        toFontText(grid, grid.width(), grid.height(), options, false, field.data());
        sum += field[0];
    }
    sink = sink + sum;
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The conversion alone, on symbols encoded beforehand.
double convertOnly(const EncodingParameters& p, const std::vector<QByteArray>& values, std::vector<char>& field,
                   int repeat)
{
    std::vector<EncodedSymbol> symbols;
    symbols.reserve(values.size());
    for (const QByteArray& v : values) {
        symbols.emplace_back();
        Encoder(p).encode(v, symbols.back());
    }
    const FontTextOptions options{false, false, true, true, true, ' '};
    const auto start = Clock::now();
    long sum = 0;
    for (int r = 0; r < repeat; ++r)
        for (const EncodedSymbol& s : symbols) {
            const ModuleGrid& grid = s.grid();
            toFontText(grid, grid.width(), grid.height(), options, false, field.data());
            sum += field[0];
        }
    sink = sink + sum;
    return std::chrono::duration<double>(Clock::now() - start).count() / repeat;
}

// Our own encoder, bare: codewords, error correction and the drawn cells.
double bareOurs(const EncodingParameters& p, const std::vector<QByteArray>& values)
{
    datamatrix::Raster raster;
    const auto start = Clock::now();
    long cells = 0;
    for (const QByteArray& v : values)
        if (datamatrix::encode(reinterpret_cast<const unsigned char*>(v.constData()), int(v.size()), p.sizeRequest,
                               p.scheme, p.fnc1, p.moduleSize, p.marginSize, raster))
            cells += raster.width;
    sink = sink + cells;
    return std::chrono::duration<double>(Clock::now() - start).count();
}

#ifdef CODIFLUX_BENCH_ZINT
// Zint's Data Matrix with its own defaults (automatic size and encodation),
// square symbols only, one symbol object per value as a user's loop would.
double bareZint(const std::vector<QByteArray>& values)
{
    const auto start = Clock::now();
    long cells = 0;
    for (const QByteArray& v : values) {
        zint_symbol* symbol = ZBarcode_Create();
        symbol->symbology = BARCODE_DATAMATRIX;
        symbol->input_mode = DATA_MODE;
        symbol->option_3 = DM_SQUARE;
        if (ZBarcode_Encode(symbol, reinterpret_cast<const unsigned char*>(v.constData()), int(v.size())) < 5)
            cells += symbol->width;
        ZBarcode_Delete(symbol);
    }
    sink = sink + cells;
    return std::chrono::duration<double>(Clock::now() - start).count();
}
#endif

struct Case {
    const char* name;
    EncodingParameters parameters;
};

}  // namespace

int main(int argc, char** argv)
{
    const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1000;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 25;
    const std::vector<QByteArray> values = makeValues(count);
    const std::vector<QByteArray> newLayouts = makeNewLayoutValues(count);
    std::vector<char> field(std::size_t(fieldLength(144 * 3 + 20, 144 * 3 + 20, true)));

    EncodingParameters autoBest;  // 12x36 is too small for these values: the automatic square
    autoBest.sizeRequest = DmtxSymbolSquareAuto;
    autoBest.scheme = DmtxSchemeAutoBest;
    EncodingParameters ascii = autoBest;
    ascii.scheme = DmtxSchemeAscii;
    EncodingParameters qr;
    qr.symbology = Symbology::QRCode;
    qr.qrMode = QR_MODE_8;
    qr.qrLevel = QR_ECLEVEL_M;
    const Case cases[] = {{"Datamatrix AutoBest", autoBest}, {"Datamatrix Ascii", ascii}, {"QR 8-bit, Medium", qr}};

    std::printf("%d values, best of %d rounds\n", count, rounds);
    std::printf("%-22s %12s %14s %9s %14s %11s\n", "case", "bare /s", "with text /s", "overhead", "text only /s",
                "text share");
    // The library through the wrappers, as in the bare loop; our own
    // encoder comes in the table of encoders below.
    setDatamatrixEngine(DatamatrixEngine::Libdmtx);
    for (const Case& c : cases) {
        const bool isQr = c.parameters.symbology == Symbology::QRCode;
        double bare = 1e30;
        double full = 1e30;
        // Interleaved rounds, so that a busy moment of the machine weighs on both.
        for (int r = 0; r < rounds; ++r) {
            bare = std::min(bare, isQr ? bareQr(c.parameters, values) : bareDatamatrix(c.parameters, values));
            full = std::min(full, encodeAndConvert(c.parameters, values, field));
        }
        const double text = convertOnly(c.parameters, values, field, 20);
        // overhead: measured whole loops; text share: the conversion's own
        // time against the bare calls (steadier than a difference of two runs).
        std::printf("%-22s %12.0f %14.0f %8.2f%% %14.0f %10.2f%%\n", c.name, count / bare, count / full,
                    (full / bare - 1.0) * 100.0, count / text, text / bare * 100.0);
    }

    setDatamatrixEngine(DatamatrixEngine::Codiflux);

    // The encoders side by side, best of the rounds each.
    struct Engine {
        const char* name;
        std::function<double()> run;
    };
    std::vector<Engine> engines{
        {"libdmtx AutoBest", [&] { return bareDatamatrix(autoBest, values); }},
        {"libdmtx Ascii", [&] { return bareDatamatrix(ascii, values); }},
#ifdef CODIFLUX_BENCH_ZINT
        {"Zint Datamatrix", [&] { return bareZint(values); }},
#endif
        {"Codiflux AutoBest", [&] { return bareOurs(autoBest, values); }},
        {"Codiflux Ascii", [&] { return bareOurs(ascii, values); }},
        {"libdmtx AutoBest, new layouts", [&] { return bareDatamatrix(autoBest, newLayouts); }},
        {"Codiflux AutoBest, new layouts", [&] { return bareOurs(autoBest, newLayouts); }},
    };
    std::vector<double> best(engines.size(), 1e30);
    for (int r = 0; r < rounds; ++r)
        for (std::size_t e = 0; e < engines.size(); ++e)
            best[e] = std::min(best[e], engines[e].run());
    // The new-layout lines are set against libdmtx on the same values.
    std::printf("\n%-32s %12s %16s\n", "Datamatrix encoder", "codes /s", "x libdmtx AutoBest");
    const std::size_t firstNew = engines.size() - 2;
    for (std::size_t e = 0; e < engines.size(); ++e)
        std::printf("%-32s %12.0f %16.2f\n", engines[e].name, count / best[e],
                    (e >= firstNew ? best[firstNew] : best[0]) / best[e]);
    return 0;
}
