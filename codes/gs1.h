#pragma once
// GS1 element strings: the table of Application Identifiers, the reading of
// a value in its bracketed form "(01)03453120000011(17)250101(10)LOT42" or in
// its raw form (AI digits and data, GS after each variable-length element),
// the checks a GS1 scanner makes (lengths, character sets, check digits,
// dates), the human-readable text printed under the symbol and the bytes
// given to libdmtx, whose FNC1 byte (DmtxPropFnc1) becomes codeword 232.

#include "codes/encoding.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <vector>

namespace codiflux::gs1 {

// The group separator of the raw form, and the byte libdmtx is told to turn
// into FNC1: the bytes given to the library are then FNC1, the elements and
// the separators, and a reader gives the element string back with GS.
inline constexpr char kGroupSeparator = 0x1D;
inline constexpr int kFnc1Byte = 0x1D;

struct Element {
    QByteArray ai;
    QByteArray data;
};

// Reads and checks a GS1 element string (bracketed when it starts with '(',
// raw otherwise; blanks around it and leading GS bytes are skipped). Fails
// (ValueRefused) with the French text of the first fault, « (01) : chiffre de
// contrôle 3 attendu, 1 trouvé », and `elements` empty; else fills `elements`.
Error parse(QByteArrayView value, std::vector<Element>& elements);

// FNC1 first, then each element, with FNC1 after every element that is not
// of a predefined length and not the last one.
QByteArray libraryBytes(const std::vector<Element>& elements);
// What a reader gives back: the library bytes without the leading FNC1, GS
// for the others.
QByteArray elementString(const std::vector<Element>& elements);
// "(01) 03453120000011 (17) 250101 (10) LOT42"
QByteArray humanReadable(const std::vector<Element>& elements);

// The symbology identifier a reader reports for a GS1 DataMatrix.
inline constexpr char kSymbologyIdentifier[] = "]d2";

// Fails (ParameterRefused) with the French reason when the parameters cannot
// make GS1 symbols (QR code, Edifact); succeeds when they can or when the GS1
// mode is off.
Error checkParameters(const EncodingParameters& parameters);

inline bool enabled(const EncodingParameters& parameters)
{
    return parameters.fnc1 >= 0;
}

}  // namespace codiflux::gs1
