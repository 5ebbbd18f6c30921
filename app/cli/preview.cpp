// The preview of the sample: its symbol's dimensions, its font text and a
// drawing of it.

#include "app/cli/cli.h"
#include "app/cli/options.h"

#include "bases/codepage.h"
#include "codes/encoding.h"
#include "codes/gs1.h"
#include "codes/fonttext.h"

namespace codiflux::cli {

Error previewSample(const GenerationJob& job, const ParameterSet& set, PreviewResult& result)
{
    const bool utf8 = carriesUtf8(job.parameters);
    QString value = symbolText(job.sample, utf8);
    if (isBlankText(value))
        return Error(ErrorCode::ValueRefused, blankValueText());
    value = trimWhiteSpace(value, set.trimStart, set.trimEnd);
    QByteArray bytes;
    symbolBytes(value, utf8, bytes);
    QByteArray input = bytes;
    if (gs1::enabled(job.parameters)) {
        if (Error refused = gs1::checkParameters(job.parameters))
            return refused;
        std::vector<gs1::Element> elements;
        if (const Error fault = gs1::parse(bytes, elements))
            return Error(ErrorCode::ValueRefused, tr("valeur GS1 refusée, %1.").arg(fault.text));
        input = gs1::libraryBytes(elements);
        result.humanReadable = gs1::humanReadable(elements);
    }
    EncodedSymbol symbol;
    if (Error refused = Encoder(job.parameters).encode(input, symbol))
        return refused;
    const ModuleGrid& grid = symbol.grid();
    result.value = bytes;
    result.width = grid.width();
    result.height = grid.height();
    result.bands = bandCount(result.height);
    result.fieldLength = fieldLength(result.width, result.height, job.options.endOfLine);
    result.previewText = toFontText(grid, result.width, result.height, job.options, false).preview;
    result.dark.assign(std::size_t(result.width) * std::size_t(result.height), false);
    for (int r = 0; r < result.height; ++r)
        for (int c = 0; c < result.width; ++c)
            result.dark[std::size_t(r) * std::size_t(result.width) + std::size_t(c)] = grid.dark(c, r);
    return {};
}

QString drawSymbol(const PreviewResult& result, int quietZone)
{
    const int w = result.width + 2 * quietZone;
    const int h = result.height + 2 * quietZone;
    auto dark = [&](int c, int r) {
        c -= quietZone;
        r -= quietZone;
        if (c < 0 || r < 0 || c >= result.width || r >= result.height)
            return false;
        return bool(result.dark[std::size_t(r) * std::size_t(result.width) + std::size_t(c)]);
    };
    QString out;
    for (int r = 0; r < h; r += 2) {
        for (int c = 0; c < w; ++c) {
            const bool top = dark(c, r);
            const bool bottom = r + 1 < h && dark(c, r + 1);
            out.append(top && bottom ? QChar(0x2588) : top ? QChar(0x2580) : bottom ? QChar(0x2584) : QChar(' '));
        }
        out.append(QLatin1Char('\n'));
    }
    return out;
}

}  // namespace codiflux::cli
