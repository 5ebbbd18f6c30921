#!/usr/bin/python3
"""Draws docs/labels.png, the README's picture of a printed label page.

The example clients base is encoded by codiflux-cli (Datamatrix 16x16), nine
records are set as labels by LibreOffice Writer (the code field in Quadrex at
8 pt, in a paragraph 1.5 symbol widths wide, so the space end-of-line
character breaks it into the symbol's lines), the document is exported to PDF
and the PDF is rasterized by Ghostscript in 1 bit at 300 dpi, as a printer
driver does. LibreOffice is not a build dependency: this is run by hand.

Usage: make_label_page.py [--build build] [--output docs/labels.png]
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
from xml.sax.saxutils import escape

from dbfread import DBF

SIZE_PT = 8
CELL_PT = 170
PADDING_PT = 8
ROWS, COLUMNS = 3, 3

FONTS_CONF = '''<?xml version="1.0"?>
<!DOCTYPE fontconfig SYSTEM "fonts.dtd">
<fontconfig>
  <include ignore_missing="yes">/etc/fonts/fonts.conf</include>
  <dir>{fonts}</dir>
  <cachedir>{cache}</cachedir>
  <!-- only the Quadrex of this build: an installed copy may be an older one -->
  <selectfont>
    <acceptfont><pattern><patelt name="file"><string>{fonts}/Quadrex.ttf</string></patelt></pattern></acceptfont>
    <rejectfont><pattern><patelt name="family"><string>Quadrex</string></patelt></pattern></rejectfont>
  </selectfont>
</fontconfig>
'''


def document(records, width):
    module = SIZE_PT / 4
    code_margin = CELL_PT - 2 * PADDING_PT - 1.5 * width * module
    rows = []
    for r in range(ROWS):
        cells = []
        for c in range(COLUMNS):
            rec = records[r * COLUMNS + c]
            cells.append(
                '<table:table-cell table:style-name="Cell" office:value-type="string">'
                f'<text:p text:style-name="Name">{escape(rec["PRENOM"].strip())} {escape(rec["NOM"].strip())}</text:p>'
                f'<text:p text:style-name="Address">{escape(rec["ADRESSE"].strip())}</text:p>'
                f'<text:p text:style-name="Address">{escape(rec["CP"].strip())} {escape(rec["VILLE"].strip())}</text:p>'
                f'<text:p text:style-name="Code">{escape(rec["_CODE"])}</text:p></table:table-cell>')
        rows.append('<table:table-row>' + ''.join(cells) + '</table:table-row>')
    page_width = COLUMNS * CELL_PT + 24
    return f'''<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"
 xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0" xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0"
 xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0" xmlns:fo="urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0"
 xmlns:svg="urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0" office:version="1.3"
 office:mimetype="application/vnd.oasis.opendocument.text">
<office:font-face-decls>
 <style:font-face style:name="Quadrex" svg:font-family="Quadrex" style:font-pitch="fixed"/>
 <style:font-face style:name="DejaVu Sans" svg:font-family="'DejaVu Sans'"/>
</office:font-face-decls>
<office:automatic-styles>
 <style:style style:name="Table" style:family="table"><style:table-properties style:width="{COLUMNS * CELL_PT}pt" table:align="left"/></style:style>
 <style:style style:name="Column" style:family="table-column"><style:table-column-properties style:column-width="{CELL_PT}pt"/></style:style>
 <style:style style:name="Cell" style:family="table-cell"><style:table-cell-properties fo:padding="{PADDING_PT}pt" fo:border="0.5pt dotted #888888"/></style:style>
 <style:style style:name="Name" style:family="paragraph"><style:paragraph-properties fo:margin-top="0pt" fo:margin-bottom="0pt"/>
  <style:text-properties style:font-name="DejaVu Sans" fo:font-size="9pt" fo:font-weight="bold"/></style:style>
 <style:style style:name="Address" style:family="paragraph"><style:paragraph-properties fo:margin-top="0pt" fo:margin-bottom="0pt"/>
  <style:text-properties style:font-name="DejaVu Sans" fo:font-size="8pt"/></style:style>
 <style:style style:name="Code" style:family="paragraph">
  <style:paragraph-properties fo:margin-top="6pt" fo:margin-bottom="0pt" fo:margin-left="0pt" fo:margin-right="{code_margin}pt" fo:line-height="100%" fo:text-align="start"/>
  <style:text-properties style:font-name="Quadrex" fo:font-size="{SIZE_PT}pt" fo:hyphenate="false"/></style:style>
 <style:page-layout style:name="Page"><style:page-layout-properties fo:page-width="{page_width}pt" fo:page-height="{ROWS * 86 + 20}pt"
  fo:margin-top="10pt" fo:margin-bottom="0pt" fo:margin-left="12pt" fo:margin-right="12pt"/></style:page-layout>
</office:automatic-styles>
<office:master-styles><style:master-page style:name="Standard" style:page-layout-name="Page"/></office:master-styles>
<office:body><office:text><table:table table:name="Labels" table:style-name="Table">
<table:table-column table:style-name="Column" table:number-columns-repeated="{COLUMNS}"/>{''.join(rows)}</table:table>
</office:text></office:body></office:document>
'''


def main(argv):
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--build', default=os.path.join(root, 'build'), help='build folder')
    parser.add_argument('--output', default=os.path.join(root, 'docs', 'labels.png'), help='PNG file to write')
    args = parser.parse_args(argv)

    with tempfile.TemporaryDirectory() as work:
        fonts = os.path.join(work, 'fonts')
        os.makedirs(fonts)
        shutil.copy(os.path.join(args.build, 'bin', 'RES', 'Quadrex.ttf'), fonts)
        conf = os.path.join(work, 'fonts.conf')
        with open(conf, 'w') as f:
            f.write(FONTS_CONF.format(fonts=fonts, cache=os.path.join(work, 'cache')))
        env = dict(os.environ, FONTCONFIG_FILE=conf, HOME=work)

        encoded = os.path.join(work, 'clients.dbf')
        for suffix in ('.dbf', '.dbt'):
            shutil.copy(os.path.join(root, 'examples', 'clients' + suffix), os.path.join(work, 'source' + suffix))
        subprocess.run([os.path.join(args.build, 'bin', 'codiflux-cli'), 'generate', os.path.join(work, 'source.dbf'),
                        '--field', 'CODE', '--dm-size', '16x16', '-o', encoded, '--no-progress'],
                       check=True, stdout=subprocess.DEVNULL)
        records = list(DBF(encoded, encoding='cp850', ignore_missing_memofile=True))
        width = records[0]['_CODE'].index(' ')

        fodt = os.path.join(work, 'labels.fodt')
        with open(fodt, 'w', encoding='utf-8') as f:
            f.write(document(records, width))
        subprocess.run(['soffice', '--headless', '--convert-to', 'pdf', '--outdir', work, fodt], env=env, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run(['gs', '-q', '-dSAFER', '-dBATCH', '-dNOPAUSE', '-sDEVICE=pngmono', '-r300',
                        '-sOutputFile=' + args.output, os.path.join(work, 'labels.pdf')], check=True)
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
