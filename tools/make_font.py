#!/usr/bin/python3
"""Draws Quadrex, the 2D-code font of Codiflux, as a TrueType file.

Each of the characters 'A' to 'P' stands for one column of four modules of a
symbol. The glyph of 'A' + v advances by one module and its cell is four
modules tall; module k (k = 0..3, bit k of v) is the k-th square of the cell
counted from the bottom, so bit 3 is the top square and bit 0 the bottom one.
A clear bit is inked, a set bit is blank: 'A' is a full black bar, 'P' is
empty. The line height is exactly four modules (no line gap; hhea, typo and
win metrics all equal), so lines of text stack into the whole symbol.

Every inked run reaches OVERLAP past its cell to the right and downward, into
the next character and the next line. Renderers that place each glyph on a
whole device pixel (Ghostscript and poppler in 1-bit, most printer drivers)
otherwise leave one-pixel white seams between columns and rows whenever a
module is not a whole number of pixels (8 pt at 300 dpi is 8.33 px a module).
Measured with Qt's PDF output rasterized by both at 300 and 600 dpi, codes at
sub-pixel offsets (tests/print): up to 11/64 module, 3 pt QR codes still break
at 300 dpi; from 13/64, 3 pt Datamatrix break by ink spread; ink spread past
the left and top edges instead reads worse. 3/16 module is the amount that
reads everywhere. The last column and the last line of a symbol thus print
3/16 module wider and taller, outside the symbol.

Usage: make_font.py --output RES/Quadrex.ttf [--family Quadrex]
"""

import argparse
import os
import sys

from fontTools.fontBuilder import FontBuilder
from fontTools.pens.ttGlyphPen import TTGlyphPen

UNITS_PER_EM = 1024
MODULE = UNITS_PER_EM // 4        # one module, in font units
ASCENT = 3 * MODULE               # three modules above the baseline
DESCENT = MODULE                  # one below it: ascent + descent = 4 modules
OVERLAP = 3 * MODULE // 16        # ink past the cell, to the right and downward
# 2009-01-01 in seconds since 1904-01-01: a fixed date keeps the build reproducible.
FIXED_TIMESTAMP = 3313526400


def module_bottom(k):
    """Lower edge of module k (0 = bottom square) in font units."""
    return -DESCENT + k * MODULE


def draw_column(value):
    """Glyph of 'A' + value: one rectangle per run of inked modules, widened
    by OVERLAP to the right and lowered by OVERLAP at its bottom edge."""
    pen = TTGlyphPen(None)
    inked = [(value >> k) & 1 == 0 for k in range(4)]
    k = 0
    while k < 4:
        if not inked[k]:
            k += 1
            continue
        start = k
        while k < 4 and inked[k]:
            k += 1
        y0 = module_bottom(start) - OVERLAP
        y1 = module_bottom(k)
        x1 = MODULE + OVERLAP
        # Clockwise outer contour, as TrueType expects.
        pen.moveTo((0, y0))
        pen.lineTo((0, y1))
        pen.lineTo((x1, y1))
        pen.lineTo((x1, y0))
        pen.closePath()
    return pen.glyph()


def empty_glyph():
    return TTGlyphPen(None).glyph()


def build(output, family):
    letters = [chr(ord('A') + v) for v in range(16)]
    glyph_order = ['.notdef', 'space'] + letters
    cmap = {ord(' '): 'space'}
    glyphs = {'.notdef': empty_glyph(), 'space': empty_glyph()}
    for v, letter in enumerate(letters):
        cmap[ord(letter)] = letter
        glyphs[letter] = draw_column(v)

    fb = FontBuilder(UNITS_PER_EM, isTTF=True)
    fb.setupGlyphOrder(glyph_order)
    fb.setupCharacterMap(cmap)
    fb.setupGlyf(glyphs)
    glyf = fb.font['glyf']
    metrics = {}
    for name in glyph_order:
        glyph = glyf[name]
        lsb = getattr(glyph, 'xMin', 0) if glyph.numberOfContours else 0
        metrics[name] = (MODULE, lsb)
    fb.setupHorizontalMetrics(metrics)
    fb.setupHorizontalHeader(ascent=ASCENT, descent=-DESCENT, lineGap=0)
    fb.setupNameTable({
        'familyName': family,
        'styleName': 'Regular',
        'uniqueFontIdentifier': family + ' Regular 1.0',
        'fullName': family + ' Regular',
        'psName': family + '-Regular',
        'version': 'Version 1.000',
        'copyright': 'Codiflux 2D-code font',
    })
    fb.setupOS2(
        sTypoAscender=ASCENT,
        sTypoDescender=-DESCENT,
        sTypoLineGap=0,
        usWinAscent=ASCENT,
        usWinDescent=DESCENT,
        sxHeight=ASCENT,
        sCapHeight=ASCENT,
        achVendID='CDFX',
        fsType=0,
        # bit 6 REGULAR, bit 7 USE_TYPO_METRICS
        fsSelection=(1 << 6) | (1 << 7),
        version=4,
    )
    fb.setupPost(isFixedPitch=1, underlinePosition=-DESCENT, underlineThickness=MODULE // 8)
    head = fb.font['head']
    head.created = FIXED_TIMESTAMP
    head.modified = FIXED_TIMESTAMP

    directory = os.path.dirname(os.path.abspath(output))
    os.makedirs(directory, exist_ok=True)
    temporary = output + '.tmp'
    fb.save(temporary)
    os.replace(temporary, output)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--output', required=True, help='TrueType file to write')
    parser.add_argument('--family', default='Quadrex', help='font family name')
    args = parser.parse_args(argv)
    build(args.output, args.family)
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
