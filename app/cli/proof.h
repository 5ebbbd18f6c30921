#pragma once
// codiflux-cli proof: the proof sheet of an encoded base (generation/proof.h)
// from the command line. Needs a QGuiApplication.

#include "app/cli/cli.h"

namespace codiflux::cli {

// Whether the arguments (program name excluded) ask for a proof: main() then
// makes a QGuiApplication rather than a QCoreApplication.
bool isProofCommand(const QStringList& arguments);

// The arguments after "proof".
ExitCode runProof(const QStringList& arguments, Console& console);

}  // namespace codiflux::cli
