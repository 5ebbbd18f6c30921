#pragma once
// Turning a symbol into the text of the 2D-code font: one character 'A'..'P'
// per column of four cells, bands of four rows.

#include "encoding.h"

#include <QByteArray>
#include <QString>

namespace codiflux {

struct FontTextOptions {
    bool horizontalInversion = false;
    bool verticalInversion = false;
    bool bitInversion = false;
    bool pixelInversion = false;
    bool endOfLine = false;
    char endOfLineCharacter = ' ';

    friend bool operator==(const FontTextOptions&, const FontTextOptions&) = default;
};

// The end-of-line character from the text typed for it: its first character
// (Latin-1), or a space when the text is empty.
char endOfLineCharacter(const QString& text);

// B = (H + 3) / 4
int bandCount(int height);
// B x W, or B x (W + 1) with the end-of-line character
int fieldLength(int width, int height, bool endOfLine);

// Writes exactly fieldLength(width, height, options.endOfLine) bytes to `field`.
// Reads cell (c, r) of the grid for c < width, r < height; cells beyond the
// grid's own size read as light. With `blank` every cell is light.
// Allocates nothing: this runs once per record.
void toFontText(const ModuleGrid& grid, int width, int height, const FontTextOptions& options, bool blank, char* field);

struct FontText {
    QByteArray field;  // with the end-of-line characters
    QString preview;   // bands separated by a line feed, no end-of-line character
};
FontText toFontText(const ModuleGrid& grid, int width, int height, const FontTextOptions& options, bool blank);

}  // namespace codiflux
