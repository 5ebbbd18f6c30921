#pragma once
// A locale with a decimal comma, compiled at test time, so that tests of
// locale-independent output do not depend on the locales a machine has.

#include <QProcess>
#include <QString>
#include <QStringList>

namespace testsupport {

// The name under which makeFrenchLocale() compiles the locale.
inline const char* frenchLocaleName()
{
    return "fr_FR.UTF-8";
}

// Compiles fr_FR (UTF-8) into `folder` with localedef; point LOCPATH at
// `folder` to use it. Returns the failure's text, empty on success.
inline QString makeFrenchLocale(const QString& folder)
{
    QProcess localedef;
    localedef.start(QStringLiteral("localedef"),
                    {QStringLiteral("-i"), QStringLiteral("fr_FR"), QStringLiteral("-f"), QStringLiteral("UTF-8"),
                     folder + QLatin1Char('/') + QLatin1String(frenchLocaleName())});
    if (!localedef.waitForFinished(120000) || localedef.exitStatus() != QProcess::NormalExit
        || localedef.exitCode() != 0)
        return QStringLiteral("localedef (package locales) failed: ")
            + QString::fromLocal8Bit(localedef.readAllStandardError()) + localedef.errorString();
    return {};
}

}  // namespace testsupport
