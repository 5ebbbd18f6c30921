#pragma once
// The one error type of the libraries: what failed, as a code a caller can
// branch on, and the French text shown to the user as it is.
//
// A default Error is success. Functions that can fail return an Error, or take
// one by pointer and leave it untouched on success; the text is never empty
// when the code is not None.

#include <QString>

#include <utility>

namespace codiflux {

enum class ErrorCode {
    None,
    SourceUnreadable,    // the source cannot be opened, read, or is not a base of its kind
    SourceMalformed,     // a short record, unequal lines, a line too long, a value outside the encoding
    DestinationRefused,  // the destination is the source, a memo it reads, a folder, locked, read-only...
    ValueRefused,        // the library refuses a value, the sample is blank, the symbol grows
    WriteFailed,         // a write, a flush or a move into place failed
    VerifyFailed,        // a written code does not read back as its value
    Cancelled,           // the user stopped the run
    OutOfMemory,
    SettingsUnwritable,
    ParameterRefused,  // a run's parameter it cannot take: no field, a field name empty or taken, a range outside
    Usage,             // the command line's: an argument outside what the command accepts
};

struct Error {
    ErrorCode code = ErrorCode::None;
    QString text;

    Error() = default;
    Error(ErrorCode c, QString t)
        : code(c)
        , text(std::move(t))
    { }

    bool failed() const { return code != ErrorCode::None; }
    explicit operator bool() const { return failed(); }
};

}  // namespace codiflux
