#include "app/startup.h"

#include "settings/userfont.h"

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
    // An installed program has no RES/: its catalogues are in its data folder.
    if (!environment.translatorA->load(catalogue, appDir + QStringLiteral("/RES/translations")))
        (void)environment.translatorA->load(catalogue, installedDataDir(appDir) + QStringLiteral("/translations"));
    QCoreApplication::installTranslator(environment.translatorA.get());

    environment.translatorB = std::make_unique<QTranslator>();
    (void)environment.translatorB->load(catalogue, currentDir + QStringLiteral("/RES/translations"));
    QCoreApplication::installTranslator(environment.translatorB.get());
}

int registerCodeFont(const QString& appDir, const QString& currentDir)
{
    const QString file = codeFontFile(appDir, currentDir);
    return file.isEmpty() ? -1 : QFontDatabase::addApplicationFont(QFileInfo(file).canonicalFilePath());
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

}  // namespace codiflux
