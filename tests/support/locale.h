#pragma once
// fr_FR (a decimal comma) compiled at test time: no test depends on the machine's locales.

#include <QProcess>

namespace testsupport {

inline const char* frenchLocaleName()
{
    return "fr_FR.UTF-8";
}

// Compiles it into `folder` (point LOCPATH there) as frenchLocaleName(); the failure's text, or empty.
inline QString makeFrenchLocale(const QString& folder)
{
    QProcess localedef;
    localedef.start("localedef", {"-i", "fr_FR", "-f", "UTF-8", folder + "/" + frenchLocaleName()});
    if (localedef.waitForFinished(120000) && localedef.exitStatus() == QProcess::NormalExit && !localedef.exitCode())
        return {};
    return "localedef (package locales) failed: " + QString::fromLocal8Bit(localedef.readAllStandardError())
        + localedef.errorString();
}

}  // namespace testsupport
