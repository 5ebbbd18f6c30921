// Start-up environment: RES is looked for in the working folder before the
// executable's folder and the installed tree, one font is registered, the
// toolkit's catalogues are installed and removed again, and the program
// starts whatever its arguments. Run a second time with Quadrex installed
// for the user: the file the program finds still wins.

#include "app/startup.h"

#include <QApplication>
#include <QDir>
#include <QFontDatabase>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using namespace codiflux;

namespace {

const QString kFont = QStringLiteral(CODIFLUX_FONT_FILE);         // family "Quadrex"
const QString kAltFont = QStringLiteral(CODIFLUX_ALT_FONT_FILE);  // family "QuadrexAlt"
const QString kCatalogues = QStringLiteral(CODIFLUX_QT_TRANSLATIONS);

// Puts `font` at folder/RES/Quadrex.ttf.
bool installFont(const QString& folder, const QString& font)
{
    return QDir(folder).mkpath(QStringLiteral("RES")) && QFile::copy(font, folder + QStringLiteral("/RES/Quadrex.ttf"));
}

bool installCatalogues(const QString& target)
{
    bool copied = QDir().mkpath(target);
    for (const QString name : {"qt_fr.qm", "qtbase_fr.qm", "qtmultimedia_fr.qm"})  // qt_fr.qm loads the other two
        copied = copied && QFile::copy(kCatalogues + "/" + name, target + "/" + name);
    return copied;
}

QString cancelText()
{
    return QCoreApplication::translate("QPlatformTheme", "Cancel");
}

}  // namespace

class TestStartup : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { QFontDatabase::removeAllApplicationFonts(); }

    void font_data()
    {
        QTest::addColumn<QString>("inWorkingDir");  // font file in the working folder, "" for none
        QTest::addColumn<QString>("besideExecutable");
        QTest::addColumn<QString>("family");  // "" when nothing is registered
        QTest::newRow("both: the working folder wins") << kAltFont << kFont << "QuadrexAlt";
        QTest::newRow("beside the executable") << QString() << kAltFont << "QuadrexAlt";
        QTest::newRow("none") << QString() << QString() << QString();
        QTest::newRow("the working folder's is no font")
            << QStringLiteral(CODIFLUX_SOURCE_DIR "/README.md") << kFont << QString();
    }
    void font()
    {
        QFETCH(QString, inWorkingDir);
        QFETCH(QString, besideExecutable);
        QFETCH(QString, family);
        QTemporaryDir current, app;
        QVERIFY(inWorkingDir.isEmpty() || installFont(current.path(), inWorkingDir));
        QVERIFY(besideExecutable.isEmpty() || installFont(app.path(), besideExecutable));
        const QStringList before = QCoreApplication::libraryPaths();
        StartupEnvironment environment;
        environment.fontId = 42;
        setupEnvironment(environment, app.path(), current.path(), QStringLiteral("en_US"));
        QCoreApplication::setLibraryPaths(before);
        QCOMPARE(environment.fontId >= 0, !family.isEmpty());
        if (environment.fontId >= 0) {
            QCOMPARE(QFontDatabase::applicationFontFamilies(environment.fontId), QStringList{family});
            // Only one copy is registered: the next registration gets the next id.
            QCOMPARE(QFontDatabase::addApplicationFont(kFont), environment.fontId + 1);
        }
    }

    void pluginPaths()
    {
        QTemporaryDir current, app;
        QVERIFY(QDir(current.path()).mkpath(QStringLiteral("RES/plugins")));
        QVERIFY(QDir(app.path()).mkpath(QStringLiteral("RES/plugins")));
        const QStringList before = QCoreApplication::libraryPaths();
        addPluginPaths(app.path(), current.path());
        const QStringList paths = QCoreApplication::libraryPaths();
        QCoreApplication::setLibraryPaths(before);
        QCOMPARE(paths.mid(0, 2),
                 QStringList({QDir(current.path() + QStringLiteral("/RES/plugins")).canonicalPath(),
                              QDir(app.path() + QStringLiteral("/RES/plugins")).canonicalPath()}));
    }

    // Catalogue A beside the executable (or in the installed tree), B in the
    // working folder; both go with the environment.
    void translations_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("a");  // folder under the program's prefix, "" for none
        QTest::addColumn<bool>("b");
        QTest::newRow("fr_FR beside the executable") << "fr_FR"
                                                     << "bin/RES/translations" << false;
        QTest::newRow("fr_CA in the installed tree") << "fr_CA"
                                                     << "share/codiflux/translations" << false;
        QTest::newRow("fr_FR in the working folder") << "fr_FR"
                                                     << "" << true;
        QTest::newRow("en_US: no catalogue") << "en_US"
                                             << "bin/RES/translations" << true;
    }
    void translations()
    {
        QFETCH(QString, locale);
        QFETCH(QString, a);
        QFETCH(bool, b);
        if (!QFile::exists(kCatalogues + QStringLiteral("/qt_fr.qm")))
            QSKIP("the toolkit's French catalogues are not installed (qt6-translations-l10n)");
        QTemporaryDir current, prefix;
        QVERIFY(a.isEmpty() || installCatalogues(prefix.filePath(a)));
        QVERIFY(!b || installCatalogues(current.filePath(QStringLiteral("RES/translations"))));
        const QString untranslated = cancelText();
        const bool french = locale.startsWith(QLatin1String("fr"));
        {
            StartupEnvironment environment;
            installTranslators(environment, prefix.filePath(QStringLiteral("bin")), current.path(), locale);
            QCOMPARE(environment.translatorA->isEmpty(), !french || a.isEmpty());
            QCOMPARE(environment.translatorB->isEmpty(), !french || !b);
            QCOMPARE(cancelText(), french ? QStringLiteral("Annuler") : untranslated);
        }
        QCOMPARE(cancelText(), untranslated);
    }

    // The program itself, from a folder without RES and with arguments it
    // does not know, opens its window and writes nothing there.
    void program()
    {
        QTemporaryDir home, current;
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("HOME"), home.path());
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(current.path());
        process.start(QStringLiteral(CODIFLUX_EXECUTABLE), {QStringLiteral("--inconnu"), QStringLiteral("base.dbf")});
        QVERIFY(process.waitForStarted(10000));
        QVERIFY2(!process.waitForFinished(2000), process.readAllStandardError().constData());
        process.kill();
        QVERIFY(process.waitForFinished(10000));
        QVERIFY(QDir(current.path()).isEmpty());
    }
};

QTEST_MAIN(TestStartup)
#include "test_startup.moc"
