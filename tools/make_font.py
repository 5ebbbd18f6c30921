#!/usr/bin/python3
"""Draws Quadrex, the 2D-code font of Codiflux, as a TrueType file.

Each of the characters 'A' to 'P' stands for one column of four modules of a
symbol. The glyph of 'A' + v is one module wide and four modules tall; module
k (k = 0..3, bit k of v) is the k-th square counted from the bottom, so bit 3
is the top square and bit 0 the bottom one. A clear bit is inked, a set bit is
blank: 'A' is a full black bar, 'P' is empty. The glyphs have no side
bearings and the line height is exactly four modules (no line gap), so that
lines of text stack into the whole symbol without seams.

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
# 2009-01-01 in seconds since 1904-01-01: a fixed date keeps the build reproducible.
FIXED_TIMESTAMP = 3313526400


def module_bottom(k):
    """Lower edge of module k (0 = bottom square) in font units."""
    return -DESCENT + k * MODULE


def draw_column(value):
    """Glyph of 'A' + value: one rectangle per run of inked modules."""
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
        y0 = module_bottom(start)
        y1 = module_bottom(k)
        # Clockwise outer contour, as TrueType expects.
        pen.moveTo((0, y0))
        pen.lineTo((0, y1))
        pen.lineTo((MODULE, y1))
        pen.lineTo((MODULE, y0))
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
