#pragma once
// Everything one generation reads, captured on the GUI thread (or from the
// command line) before the worker starts: the worker never touches a widget.

#include "bases/codepage.h"
#include "bases/csvbase.h"
#include "bases/dbf.h"
#include "bases/format.h"
#include "bases/source.h"
#include "codes/encoding.h"
#include "codes/fonttext.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

namespace codiflux {

struct GenerationJob {
    const BaseFormat* format = nullptr;  // the loaded base's (formatOf); null when none is loaded
    QString sourcePath;                  // lineEditBaseSource
    QString outputPath;                  // the encoded base: .dbf for a DBF source, .txt for a text source,
                                         // .csv for a CSV source
    bool writeText = false;              // a format with a text form: also write it beside

    EncodingParameters parameters;  // symbology and library parameters
    FontTextOptions options;        // inversions, end-of-line and its character
    bool blankCodes = true;         // radioButtonEmptyGenCode: blank values get a blank code
    bool trimStart = false;         // checkBoxSupprimerGauche: white space removed before each value
    bool trimEnd = false;           // checkBoxSupprimerDroite: white space removed after each value

    // DBF source
    int fieldIndex = -1;   // comboBoxChamps current index
    QString newFieldName;  // lineEditNomChampSortie

    // CSV source: the column is fieldIndex (the header's names fill
    // comboBoxChamps), the new column's name newFieldName; the delimiter and
    // the encoding are detected unless forced here.
    CsvOptions csv;

    // A value made from several fields ("{GTIN}{EXP:yyMMdd}", see
    // generation/valuetemplate.h) in place of fieldIndex / the range; empty:
    // the single field.
    QString valueTemplate;
    // GS1 mode (parameters.fnc1): the field (CSV column) that receives the
    // human-readable text behind the code; empty: none.
    QString hriFieldName;
    // DBF and text source: the code page the user forced; empty: the base's
    // own (byte 29 or .cpg file of a table, UTF-8 found in a text base).
    std::optional<CodePage> codePage;
    const CodePage* forcedCodePage() const { return codePage ? &*codePage : nullptr; }
    // The code page the job's sample was read with (what a preview prints).
    BaseCodePage sourceCodePage;

    // Text source: the column range (1-based first column, number of characters)
    int rangeStart = 0;  // spinBoxPosDebut
    int rangeCount = 0;  // spinBoxPosNbCar

    // The sample value that fixes the symbol's dimensions for the whole run,
    // as the symbol's bytes (Windows-1252, or UTF-8 under a QR code's ECI):
    // the current entry of comboBoxEnregistrement (DBF: the field's value padded with blanks to the field length; the
    // run cuts a longer one and pads a shorter one), or the selected columns of the text view's current line (text).
    QByteArray sample;
};

}  // namespace codiflux
