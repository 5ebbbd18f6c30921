// Parameter sets in the settings file: every key written and read back, old sets
// translated, named sets listed and removed; the font found, copied for the user.

#include "settings/parametres.h"
#include "settings/userfont.h"
#include "tests/support/files.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace codiflux;
using testsupport::readFile;
using testsupport::writeFile;

class TestSettings : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    QString ini() const { return dir.filePath(QStringLiteral("codiflux.ini")); }

private slots:
    void init() { QFile::remove(ini()); }

    // Every key away from its default.
    void roundTrip_data()
    {
        QTest::addColumn<ParameterSet>("set");
        const ParameterSet changed{3,    2,    -3,   4,    7,     3,     0,    2, 1, false, QStringLiteral("\n"),
                                   true, true, true, true, false, false, false};
        QTest::newRow("defaults") << ParameterSet();
        QTest::newRow("every key changed") << changed;
    }
    void roundTrip()
    {
        QFETCH(ParameterSet, set);
        QSettings s(ini(), QSettings::IniFormat);
        openParameterSet(s);
        QCOMPARE(readParameterSet(s), ParameterSet());  // nothing stored: the defaults
        openParameterSet(s, QStringLiteral("Étiquettes"));
        writeParameterSet(s, set);
        QCOMPARE(s.childKeys().size(), 19);
        closeAllGroups(s);
        QSettings again(ini(), QSettings::IniFormat);
        openParameterSet(again, QStringLiteral("Étiquettes"));
        QCOMPARE(readParameterSet(again), set);
        QCOMPARE(set.encodingParameters().symbology, set.typeEncodage);
        QCOMPARE(FontTextOptions({set.inversionHorizontale, set.inversionVerticale, set.inversionBits,
                                  set.inversionPixels, set.finLigne,
                                  set.finLigneCaractere.isEmpty() ? ' ' : set.finLigneCaractere.at(0).toLatin1()}),
                 set.fontTextOptions());
    }

    // A set stored before "Version" existed: the two Datamatrix lists were
    // positions of an earlier list; saved back, it carries today's values.
    void oldSets_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("sizeNow");
        QTest::addColumn<int>("scheme");
        QTest::addColumn<int>("schemeNow");
        QTest::newRow("first codes") << 0 << 24 << 0 << 0;
        QTest::newRow("ends of the first ranges") << 7 << 29 << 5 << 5;
        QTest::newRow("starts of the second") << 8 << 4 << 6 << -1;
        QTest::newRow("end of the second") << 27 << 23 << 7 << -2;
        QTest::newRow("past it") << 28 << -2 << 8 << -1;
        QTest::newRow("30 and 39") << 30 << -1 << -1 << -1;
        QTest::newRow("39, -1") << 39 << -3 << -1 << -1;
        QTest::newRow("-1") << -1 << -2 << -1 << -1;
    }
    void oldSets()
    {
        QFETCH(int, size);
        QFETCH(int, sizeNow);
        QFETCH(int, scheme);
        QFETCH(int, schemeNow);
        QSettings s(ini(), QSettings::IniFormat);
        s.setValue("Format/TailleDatamatrix", size);
        s.setValue("Format/ModeEncodage", scheme);
        openParameterSet(s);
        ParameterSet set = readParameterSet(s);
        QCOMPARE(std::pair(set.tailleDatamatrix, set.modeEncodage), std::pair(sizeNow, schemeNow));
        writeParameterSet(s, set);
        set = readParameterSet(s);  // now with "Version": kept as stored
        QCOMPARE(std::pair(set.tailleDatamatrix, set.modeEncodage), std::pair(sizeNow, schemeNow));
    }

    void namedSets()
    {
        QSettings s(ini(), QSettings::IniFormat);
        s.setValue(keys::CheminChargement, "/data/in");
        for (const char* name : {"B", "A", ""}) {
            openParameterSet(s, QString::fromLatin1(name));
            writeParameterSet(s, ParameterSet());
            closeAllGroups(s);
        }
        s.beginGroup("Courant");  // a group still open is closed first
        QCOMPARE(parameterSetNames(s), QStringList({"A", "B"}));
        QVERIFY(removeParameterSet(s, "A") && !removeParameterSet(s, "A") && !removeParameterSet(s, QString()));
        QCOMPARE(parameterSetNames(s), QStringList({"B"}));
        QCOMPARE(s.value("Format/Version").toInt(), 1);
        QCOMPARE(s.value(keys::CheminChargement).toString(), QStringLiteral("/data/in"));
    }

    // The working folder wins over the executable's, which wins over the
    // installed copy; the user's copy is replaced whole, then removed.
    void font()
    {
        const QString bin = dir.filePath(QStringLiteral("prefix/bin"));
        const QString work = dir.filePath(QStringLiteral("work"));
        QCOMPARE(codeFontFile(bin, work), QString());
        for (const QString& f : {dir.filePath(QStringLiteral("prefix/share/fonts/truetype/codiflux/Quadrex.ttf")),
                                 bin + QStringLiteral("/RES/Quadrex.ttf"), work + QStringLiteral("/RES/Quadrex.ttf")}) {
            QVERIFY(QDir().mkpath(QFileInfo(f).path()) && writeFile(f, f.toUtf8()));
            QCOMPARE(codeFontFile(bin, work), f);
        }
        qputenv("XDG_DATA_HOME", QFile::encodeName(dir.filePath(QStringLiteral("data"))));
        const QString copy = dir.filePath(QStringLiteral("data/fonts/Quadrex.ttf"));
        QVERIFY(!installUserFont(dir.filePath(QStringLiteral("absent.ttf"))).ok && !QFile::exists(copy));
        QVERIFY(QDir().mkpath(QFileInfo(copy).path()) && writeFile(copy, "an older, longer copy of the font"));
        const UserFontResult r = installUserFont(codeFontFile(bin, work));
        QVERIFY2(r.ok && r.path == copy && r.message.contains(copy), qPrintable(r.message));
        QCOMPARE(readFile(copy), work.toUtf8() + "/RES/Quadrex.ttf");
        QVERIFY(uninstallUserFont().ok && !QFile::exists(copy));
        QVERIFY(uninstallUserFont().message.contains(QStringLiteral("rien à retirer")));
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "test_settings.moc"
