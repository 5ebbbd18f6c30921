#include "app/startup.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QLocale>

namespace codiflux {

QString translationCatalogue(const QString& localeName)
{
    return QStringLiteral("qt_") + localeName;
}

void addPluginPaths(const QString& appDir, const QString& currentDir)
{
    QCoreApplication::addLibraryPath(appDir + QStringLiteral("/RES/plugins"));
    QCoreApplication::addLibraryPath(currentDir + QStringLiteral("/RES/plugins"));
}

void installTranslators(StartupEnvironment& environment, const QString& appDir, const QString& currentDir,
                        const QString& localeName)
{
    const QString catalogue = translationCatalogue(localeName);
    // The toolkit also tries the name cut at its last '_', so qt_fr serves fr_FR.
    environment.translatorA = std::make_unique<QTranslator>();
    (void)environment.translatorA->load(catalogue, appDir + QStringLiteral("/RES/translations"));
    QCoreApplication::installTranslator(environment.translatorA.get());

    environment.translatorB = std::make_unique<QTranslator>();
    (void)environment.translatorB->load(catalogue, currentDir + QStringLiteral("/RES/translations"));
    QCoreApplication::installTranslator(environment.translatorB.get());
}

int registerCodeFont(const QString& appDir, const QString& currentDir)
{
    int id = -1;
    const QString relative = QStringLiteral("/RES/Quadrex.ttf");
    const QFileInfo inWorkingDir(currentDir + relative);
    const QFileInfo besideExecutable(appDir + relative);
    if (inWorkingDir.exists())
        id = QFontDatabase::addApplicationFont(inWorkingDir.canonicalFilePath());
    else if (besideExecutable.exists())
        id = QFontDatabase::addApplicationFont(besideExecutable.canonicalFilePath());
    return id;
}

void setupEnvironment(StartupEnvironment& environment, const QString& appDir, const QString& currentDir,
                      const QString& localeName)
{
    addPluginPaths(appDir, currentDir);
    installTranslators(environment, appDir, currentDir, localeName);
    environment.fontId = -1;
    environment.fontId = registerCodeFont(appDir, currentDir);
}

void setupEnvironment(StartupEnvironment& environment)
{
    setupEnvironment(environment, QCoreApplication::applicationDirPath(), QDir::currentPath(),
                     QLocale::system().name());
}

} // namespace codiflux
