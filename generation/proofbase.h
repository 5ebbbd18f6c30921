#pragma once
// The records of an encoded base a proof sheet prints: the code text of each
// chosen record, the value it must read back and the text printed beside it.

#include "generation/proof.h"

namespace codiflux::proof {

struct ProofRecord {
    qint64 number = 0;  // 1-based, in the base's order
    QByteArray code;    // the code text as the base holds it
    QByteArray expected;
    bool checked = false;
    QString label;
};

struct BaseRecords {
    QString codeField;  // as the summary names it
    qint64 count = 0;   // records of the base
    CodeGeometry geometry;
    QList<ProofRecord> records;  // the chosen ones that hold a code
};

// Reads the base: finds the code field unless named, then the chosen
// records. A refused parameter for an unknown or undetectable field.
Error readProofRecords(const ProofOptions& options, BaseRecords& base, const std::atomic<bool>* cancel);

}  // namespace codiflux::proof
