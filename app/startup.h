#pragma once
// The process-wide environment set up before the main window exists: plug-in
// search paths, the toolkit's own translations and the 2D-code font, each
// looked for under "RES" in the executable's folder and in the working folder.

#include <QString>
#include <QTranslator>

#include <memory>

namespace codiflux {

struct StartupEnvironment {
    // A is loaded from beside the executable, B from the working folder and
    // installed after A, so that B is consulted first. B is destroyed first.
    std::unique_ptr<QTranslator> translatorA;
    std::unique_ptr<QTranslator> translatorB;
    int fontId = -1;
};

// Catalogue name of the toolkit's translations for a locale: "qt_" + name.
QString translationCatalogue(const QString& localeName);

// Adds appDir + "/RES/plugins", then currentDir + "/RES/plugins" to the
// library search paths (each goes to the front, so the working folder wins).
void addPluginPaths(const QString& appDir, const QString& currentDir);

// Creates, loads and installs translators A and B; a missing catalogue leaves
// an empty translator installed. A falls back on the installed data folder's
// translations/ when the executable has no RES/ catalogue.
void installTranslators(StartupEnvironment& environment, const QString& appDir, const QString& currentDir,
                        const QString& localeName);

// Registers RES/Quadrex.ttf of the working folder, or failing that the one
// beside the executable, or failing both the copy installed with the package
// (codeFontFile); only one copy is ever registered. Returns the
// application font id, -1 when no file exists or the registration fails.
int registerCodeFont(const QString& appDir, const QString& currentDir);

// Steps 2 to 5 of start-up, in order. The application object must exist.
void setupEnvironment(StartupEnvironment& environment, const QString& appDir, const QString& currentDir,
                      const QString& localeName);
// The same with the application's folder, the working folder and the system locale.
void setupEnvironment(StartupEnvironment& environment);

}  // namespace codiflux
