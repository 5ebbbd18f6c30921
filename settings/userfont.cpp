#include "settings/userfont.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>

#ifndef CODIFLUX_BIN_TO_DATA
#error "CODIFLUX_BIN_TO_DATA (the data folder relative to the executables' folder) must be defined by the build"
#endif

namespace codiflux {

namespace {

const char* const fontName = "Quadrex.ttf";

QString tr(const char* text)
{
    return QCoreApplication::translate("codiflux", text);
}

QString dataRoot(const QString& appDir)
{
    return QDir::cleanPath(appDir + QLatin1Char('/') + QStringLiteral(CODIFLUX_BIN_TO_DATA));
}

// Runs fc-cache over `folder`; the French sentence about the cache.
QString refreshCache(const QString& folder)
{
    const QString program = QStandardPaths::findExecutable(QStringLiteral("fc-cache"));
    if (program.isEmpty())
        return tr("fc-cache est introuvable : le cache des polices n'a pas été mis à jour, les programmes "
                  "verront le changement à leur prochain démarrage.");
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, {QStringLiteral("-f"), folder});
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        process.kill();
        process.waitForFinished(5000);
        return tr("fc-cache a échoué : le cache des polices n'a pas été mis à jour.");
    }
    return tr("Le cache des polices a été mis à jour.");
}

}  // namespace

QString installedDataDir(const QString& appDir)
{
    return dataRoot(appDir) + QStringLiteral("/codiflux");
}

QString codeFontFile(const QString& appDir, const QString& currentDir)
{
    const QString relative = QStringLiteral("/RES/") + QLatin1String(fontName);
    for (const QString& candidate :
         {currentDir + relative, appDir + relative,
          dataRoot(appDir) + QStringLiteral("/fonts/truetype/codiflux/") + QLatin1String(fontName)}) {
        if (QFileInfo(candidate).isFile())
            return candidate;
    }
    return QString();
}

QString userFontsDir()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/fonts");
}

Error installUserFont(const QString& fontFile, QString* report)
{
    const QString folder = userFontsDir();
    const QString path = folder + QLatin1Char('/') + QLatin1String(fontName);
    QFile source(fontFile);
    if (fontFile.isEmpty() || !source.open(QIODevice::ReadOnly))
        return Error(ErrorCode::SourceUnreadable,
                     tr("Fichier de la police Quadrex introuvable : la police n'a pas été installée."));
    const QByteArray bytes = source.readAll();
    if (!QDir().mkpath(folder))
        return Error(ErrorCode::WriteFailed,
                     tr("Impossible de créer le dossier « %1 » : la police n'a pas été installée.").arg(folder));
    QSaveFile target(path);
    if (!target.open(QIODevice::WriteOnly) || target.write(bytes) != bytes.size() || !target.commit())
        return Error(ErrorCode::WriteFailed, tr("Impossible d'écrire « %1 » : %2").arg(path, target.errorString()));
    *report = tr("La police Quadrex est installée dans « %1 ».").arg(path) + QLatin1Char('\n') + refreshCache(folder);
    return {};
}

Error uninstallUserFont(QString* report)
{
    const QString folder = userFontsDir();
    const QString path = folder + QLatin1Char('/') + QLatin1String(fontName);
    QFile file(path);
    if (!file.exists()) {
        *report = tr("La police Quadrex n'est pas installée dans « %1 » : rien à retirer.").arg(folder);
        return {};
    }
    if (!file.remove())
        return Error(ErrorCode::WriteFailed, tr("Impossible de retirer « %1 » : %2").arg(path, file.errorString()));
    *report = tr("La police Quadrex a été retirée de « %1 ».").arg(folder) + QLatin1Char('\n') + refreshCache(folder);
    return {};
}

}  // namespace codiflux
