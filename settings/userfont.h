#pragma once
// Where the Quadrex font is found, and its copy in the user's own fonts folder
// (for users who do not install the package): copied there, or removed, and
// the font cache refreshed. Shared by the window and the command line.

#include "bases/error.h"

#include <QString>

namespace codiflux {

// The font file as the program finds it: RES/Quadrex.ttf in the working
// folder, then beside the executable, then the copy installed with the
// package (share/fonts/truetype/codiflux/ beside the executable's bin/).
// Empty when none exists.
QString codeFontFile(const QString& appDir, const QString& currentDir);

// The installed program's data folder: share/codiflux beside the executable's
// bin/ (it holds the toolkit's catalogues in translations/).
QString installedDataDir(const QString& appDir);

// The user's fonts folder: $XDG_DATA_HOME/fonts, by default ~/.local/share/fonts.
QString userFontsDir();

// Copies `fontFile` to userFontsDir()/Quadrex.ttf (replacing an older copy
// whole, never leaving half a file) and refreshes the cache of that folder
// with fc-cache. `report` receives the French text for the user: where the
// font went and how the cache refresh went (a missing fc-cache is said there,
// not a failure). Fails with the French reason the font was not installed.
Error installUserFont(const QString& fontFile, QString* report);

// Removes userFontsDir()/Quadrex.ttf and refreshes the cache, `report` as
// above. Nothing to remove is not a failure.
Error uninstallUserFont(QString* report);

}  // namespace codiflux
