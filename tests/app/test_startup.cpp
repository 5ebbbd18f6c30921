// Start-up environment: RES is looked for in the working folder before the
// executable's folder, the font is registered once, a missing RES is
// harmless, and the program ignores extra arguments.

#include "app/startup.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using namespace codiflux;

namespace {

const QString realFont = QStringLiteral(CODIFLUX_FONT_FILE);     // family "Quadrex"
const QString altFont = QStringLiteral(CODIFLUX_ALT_FONT_FILE);  // family "QuadrexAlt"

// Puts `font` at folder/RES/Quadrex.ttf.
bool installFont(const QString& folder, const QString& font)
{
    return QDir(folder).mkpath(QStringLiteral("RES")) && QFile::copy(font, folder + QStringLiteral("/RES/Quadrex.ttf"));
}

bool installCatalogues(const QString& folder)
{
    const QString target = folder + QStringLiteral("/RES/translations");
    if (!QDir().mkpath(target))
        return false;
    for (const char* name : {"qt_fr.qm", "qtbase_fr.qm", "qtmultimedia_fr.qm"}) {
        const QString file = QString::fromLatin1(name);
        if (!QFile::copy(QStringLiteral(CODIFLUX_QT_TRANSLATIONS) + QLatin1Char('/') + file,
                         target + QLatin1Char('/') + file))
            return false;
    }
    return true;
}

}  // namespace

class TestStartup : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { QFontDatabase::removeAllApplicationFonts(); }

    void fontLookup_data()
    {
        QTest::addColumn<QString>("inWorkingDir");  // font file in the working folder, "" for none
        QTest::addColumn<QString>("besideExecutable");
        QTest::addColumn<QString>("expectedFamily");  // "" when nothing is registered

        QTest::newRow("both: working folder wins") << realFont << altFont << "Quadrex";
        QTest::newRow("both, swapped") << altFont << realFont << "QuadrexAlt";
        QTest::newRow("beside the executable only") << QString() << altFont << "QuadrexAlt";
        QTest::newRow("working folder only") << realFont << QString() << "Quadrex";
        QTest::newRow("none") << QString() << QString() << QString();
    }

    void fontLookup()
    {
        QFETCH(QString, inWorkingDir);
        QFETCH(QString, besideExecutable);
        QFETCH(QString, expectedFamily);
        QVERIFY(QFile::exists(realFont));
        QVERIFY(QFile::exists(altFont));

        QTemporaryDir current, app;
        if (!inWorkingDir.isEmpty())
            QVERIFY(installFont(current.path(), inWorkingDir));
        if (!besideExecutable.isEmpty())
            QVERIFY(installFont(app.path(), besideExecutable));

        const int id = registerCodeFont(app.path(), current.path());
        if (expectedFamily.isEmpty()) {
            QCOMPARE(id, -1);
        } else {
            QVERIFY(id >= 0);
            QCOMPARE(QFontDatabase::applicationFontFamilies(id), QStringList{expectedFamily});
        }
        // Only one copy is ever registered.
        const bool bothPresent = !inWorkingDir.isEmpty() && !besideExecutable.isEmpty();
        if (bothPresent) {
            const QString other
                = expectedFamily == QLatin1String("Quadrex") ? QStringLiteral("QuadrexAlt") : QStringLiteral("Quadrex");
            // Earlier rows' fonts were removed: any family an id below this one
            // still holds was registered by this call. The machine's own fonts
            // (fontconfig) do not count, whatever is installed.
            for (int i = 0; i < id; ++i)
                QVERIFY2(!QFontDatabase::applicationFontFamilies(i).contains(other), qPrintable(other));
        }
        // The id is the last one handed out: a further registration gets the next.
        if (id >= 0) {
            const int next = QFontDatabase::addApplicationFont(realFont);
            QCOMPARE(next, id + 1);
        }
    }

    // The file is registered at its canonical path: a RES reached through a
    // symbolic link and a path with "." and ".." components still work.
    void fontThroughLinks()
    {
        QTemporaryDir base, app;
        QVERIFY(QDir(base.path()).mkpath(QStringLiteral("real/RES")));
        QVERIFY(QFile::copy(realFont, base.path() + QStringLiteral("/real/RES/Quadrex.ttf")));
        QVERIFY(QFile::link(base.path() + QStringLiteral("/real"), base.path() + QStringLiteral("/link")));
        const int id = registerCodeFont(app.path(), base.path() + QStringLiteral("/link/./../link"));
        QVERIFY(id >= 0);
        QCOMPARE(QFontDatabase::applicationFontFamilies(id), QStringList{QStringLiteral("Quadrex")});
    }

    // A file that exists but is no font is treated like a missing one.
    void fontNotAFont()
    {
        QTemporaryDir current, app;
        QVERIFY(QDir(current.path()).mkpath(QStringLiteral("RES")));
        QFile bad(current.path() + QStringLiteral("/RES/Quadrex.ttf"));
        QVERIFY(bad.open(QIODevice::WriteOnly));
        bad.write("not a font");
        bad.close();
        QVERIFY(installFont(app.path(), realFont));
        // The working folder's file is the one tried, and it fails: no font.
        QCOMPARE(registerCodeFont(app.path(), current.path()), -1);
    }

    void pluginPaths()
    {
        QTemporaryDir current, app;
        QVERIFY(QDir(current.path()).mkpath(QStringLiteral("RES/plugins")));
        QVERIFY(QDir(app.path()).mkpath(QStringLiteral("RES/plugins")));
        const QStringList before = QCoreApplication::libraryPaths();
        addPluginPaths(app.path(), current.path());
        const QStringList paths = QCoreApplication::libraryPaths();
        QCOMPARE(paths.size(), before.size() + 2);
        // Each addition goes to the front: the working folder is looked at first.
        QCOMPARE(paths.at(0), QDir(current.path() + QStringLiteral("/RES/plugins")).canonicalPath());
        QCOMPARE(paths.at(1), QDir(app.path() + QStringLiteral("/RES/plugins")).canonicalPath());
        QCoreApplication::setLibraryPaths(before);
    }

    void translations_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<bool>("inWorkingDir");
        QTest::addColumn<bool>("besideExecutable");

        QTest::newRow("fr_FR beside the executable") << "fr_FR" << false << true;
        QTest::newRow("fr_FR in the working folder") << "fr_FR" << true << false;
        QTest::newRow("fr_CA in both") << "fr_CA" << true << true;
        QTest::newRow("en_US: no catalogue") << "en_US" << true << true;
        QTest::newRow("fr_FR, no RES at all") << "fr_FR" << false << false;
    }

    void translations()
    {
        QFETCH(QString, locale);
        QFETCH(bool, inWorkingDir);
        QFETCH(bool, besideExecutable);
        if (!QFile::exists(QStringLiteral(CODIFLUX_QT_TRANSLATIONS "/qt_fr.qm")))
            QSKIP("the toolkit's French catalogues are not installed (qt6-translations-l10n)");

        QTemporaryDir current, app;
        if (inWorkingDir)
            QVERIFY(installCatalogues(current.path()));
        if (besideExecutable)
            QVERIFY(installCatalogues(app.path()));

        const QString untranslated = QCoreApplication::translate("QPlatformTheme", "Cancel");
        const bool french = locale.startsWith(QLatin1String("fr"));
        {
            StartupEnvironment environment;
            installTranslators(environment, app.path(), current.path(), locale);
            QVERIFY(environment.translatorA);
            QVERIFY(environment.translatorB);
            QCOMPARE(environment.translatorA->isEmpty(), !(french && besideExecutable));
            QCOMPARE(environment.translatorB->isEmpty(), !(french && inWorkingDir));
            const QString cancel = QCoreApplication::translate("QPlatformTheme", "Cancel");
            if (french && (inWorkingDir || besideExecutable))
                QCOMPARE(cancel, QStringLiteral("Annuler"));
            else
                QCOMPARE(cancel, untranslated);
        }
        // Both translators are removed again when the environment goes.
        QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), untranslated);
    }

    void catalogueName() { QCOMPARE(translationCatalogue(QStringLiteral("fr_FR")), QStringLiteral("qt_fr_FR")); }

    // Nothing in RES anywhere: every step runs, nothing is registered, nothing fails.
    void missingRes()
    {
        QTemporaryDir current, app;
        StartupEnvironment environment;
        environment.fontId = 42;
        setupEnvironment(environment, app.path(), current.path(), QStringLiteral("fr_FR"));
        QCOMPARE(environment.fontId, -1);
        QVERIFY(environment.translatorA && environment.translatorA->isEmpty());
        QVERIFY(environment.translatorB && environment.translatorB->isEmpty());
        QVERIFY(QFontDatabase::applicationFontFamilies(0).isEmpty());
    }

    // An installed tree: bin/ without RES, the catalogues in share/codiflux/translations
    // and the font in the system fonts tree; RES beside the program still wins.
    void installedTree_data()
    {
        QTest::addColumn<bool>("withRes");
        QTest::newRow("no RES: the installed files") << false;
        QTest::newRow("RES beside the program wins") << true;
    }

    void installedTree()
    {
        QFETCH(bool, withRes);
        if (!QFile::exists(QStringLiteral(CODIFLUX_QT_TRANSLATIONS "/qt_fr.qm")))
            QSKIP("the toolkit's French catalogues are not installed (qt6-translations-l10n)");
        QTemporaryDir prefix, current;
        const QString bin = prefix.filePath(QStringLiteral("bin"));
        const QString fonts = prefix.filePath(QStringLiteral("share/fonts/truetype/codiflux"));
        QVERIFY(QDir().mkpath(bin) && QDir().mkpath(fonts));
        QVERIFY(QFile::copy(altFont, fonts + QStringLiteral("/Quadrex.ttf")));
        QVERIFY(installCatalogues(prefix.filePath(QStringLiteral("share/codiflux"))));
        QVERIFY(QDir().rename(prefix.filePath(QStringLiteral("share/codiflux/RES/translations")),
                              prefix.filePath(QStringLiteral("share/codiflux/translations"))));
        if (withRes)
            QVERIFY(installFont(bin, realFont));
        StartupEnvironment environment;
        setupEnvironment(environment, bin, current.path(), QStringLiteral("fr_FR"));
        QCOMPARE(QFontDatabase::applicationFontFamilies(environment.fontId),
                 QStringList{withRes ? QStringLiteral("Quadrex") : QStringLiteral("QuadrexAlt")});
        QVERIFY(!environment.translatorA->isEmpty());
        QVERIFY(environment.translatorB->isEmpty());
    }

    // The build lays out RES beside the executables (the tests' own included):
    // started from another folder, everything is found there.
    void besideTheExecutable()
    {
        const QString appDir = QCoreApplication::applicationDirPath();
        QVERIFY(QFile::exists(appDir + QStringLiteral("/RES/Quadrex.ttf")));
        QVERIFY(QDir(appDir + QStringLiteral("/RES/plugins")).exists());
        QTemporaryDir elsewhere;
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(elsewhere.path()));
        const QStringList pathsBefore = QCoreApplication::libraryPaths();
        {
            StartupEnvironment environment;
            setupEnvironment(environment, appDir, QDir::currentPath(), QStringLiteral("fr_FR"));
            QVERIFY(environment.fontId >= 0);
            QCOMPARE(QFontDatabase::applicationFontFamilies(environment.fontId),
                     QStringList{QStringLiteral("Quadrex")});
            QVERIFY(QCoreApplication::libraryPaths().contains(
                QDir(appDir + QStringLiteral("/RES/plugins")).canonicalPath()));
            if (QFile::exists(appDir + QStringLiteral("/RES/translations/qt_fr.qm"))) {
                QVERIFY(!environment.translatorA->isEmpty());
                QVERIFY(environment.translatorB->isEmpty());
            }
        }
        QCoreApplication::setLibraryPaths(pathsBefore);
        QVERIFY(QDir::setCurrent(previous));
    }

    // The program itself: started from a folder without RES, with arguments it
    // does not know, it opens its window and keeps running.
    void programIgnoresArguments()
    {
        const QString program = QStringLiteral(CODIFLUX_EXECUTABLE);
        QVERIFY(QFile::exists(program));
        QTemporaryDir home, current;
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("HOME"), home.path());
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path() + QStringLiteral("/config"));
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(current.path());
        process.start(program, {QStringLiteral("--inconnu"), QStringLiteral("-x"), QStringLiteral("base.dbf")});
        QVERIFY(process.waitForStarted(10000));
        QVERIFY2(!process.waitForFinished(2000),
                 qPrintable(QStringLiteral("exited with %1: %2")
                                .arg(process.exitCode())
                                .arg(QString::fromLocal8Bit(process.readAllStandardError()))));
        QCOMPARE(process.state(), QProcess::Running);
        process.kill();
        QVERIFY(process.waitForFinished(10000));
        // Start-up wrote nothing into the working folder.
        QVERIFY(QDir(current.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
    }
};

QTEST_MAIN(TestStartup)
#include "test_startup.moc"
