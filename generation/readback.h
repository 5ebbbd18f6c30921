#pragma once
// The read-back of every code of a run: each code text is rebuilt into its
// symbol and decoded, and must give back the value it was made from. The
// command line's --verify; a library of its own, so that the generation core
// needs no decoder.

#include "generation/rundriver.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

namespace codiflux {

// The checks of a run: `verify` decodes each code that carries a value and
// fails on the first that does not read back; `tamper` (a test hook, may be
// empty) alters a record's code text (record number, code text, its length)
// after its coding and before the decoding.
RecordCheckFactory readBackCheck(bool verify, std::function<void(qint64, char*, int)> tamper);

// The text of a failed check of record `record` (`read` empty: nothing
// read); the values' bytes are UTF-8 when `utf8`, else Windows-1252.
QString verifyFailureText(qint64 record, const QByteArray& expected, const std::optional<QByteArray>& read,
                          bool utf8);

}  // namespace codiflux
