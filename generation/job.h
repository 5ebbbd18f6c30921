#pragma once
// Everything one generation reads, captured on the GUI thread (or from the
// command line) before the worker starts: the worker never touches a widget.

#include "bases/csvbase.h"
#include "bases/dbf.h"
#include "bases/source.h"
#include "codes/encoding.h"
#include "codes/fonttext.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace codiflux {

struct GenerationJob {
    BaseKind baseKind = BaseKind::None;  // the kind of the loaded base
    QString sourcePath;                  // lineEditBaseSource
    QString outputPath;                  // the encoded base: .dbf for a DBF source, .txt for a text source,
                                         // .csv for a CSV source
    bool writeText = false;              // DBF source: also write the text form beside it

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

    // Text source: the column range (1-based first column, number of characters)
    int rangeStart = 0;  // spinBoxPosDebut
    int rangeCount = 0;  // spinBoxPosNbCar

    // The sample value that fixes the symbol's dimensions for the whole run,
    // as Latin-1 bytes: the current entry of comboBoxEnregistrement (DBF:
    // the field's value padded with blanks to the field length; the run cuts
    // a longer one and pads a shorter one), or the selected columns of the
    // text view's current line (text).
    QByteArray sample;
};

}  // namespace codiflux
