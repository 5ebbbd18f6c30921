#include "settings/parametres.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace codiflux;

class TestParametres : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    QString iniPath() const { return dir.filePath("codiflux.ini"); }

private slots:
    void init() { QFile::remove(iniPath()); }

    void emptySettingsGiveTheDefaults()
    {
        QSettings s(iniPath(), QSettings::IniFormat);
        openParameterSet(s);
        const ParameterSet set = readParameterSet(s);
        QCOMPARE(set.tailleModule, 1);
        QCOMPARE(set.tailleMarge, 0);
        // an empty group has no "Version": an old set whose default codes 4 and 6
        // translate to 12x36 and AutoBest, the same as today's defaults
        QCOMPARE(set.tailleDatamatrix, 27);
        QCOMPARE(set.modeEncodage, -1);
        QCOMPARE(set.qrVersion, 0);
        QCOMPARE(set.qrECLevel, 0);
        QCOMPARE(set.qrCasse, 1);
        QCOMPARE(set.qrModeEncodage, 0);
        QCOMPARE(set.typeEncodage, 0);
        QCOMPARE(set.finLigne, true);
        QCOMPARE(set.finLigneCaractere, QString());
        QCOMPARE(set.supprimerEspacesGauche, false);
        QCOMPARE(set.supprimerEspacesDroite, false);
        QCOMPARE(set.inversionHorizontale, false);
        QCOMPARE(set.inversionVerticale, false);
        QCOMPARE(set.inversionBits, true);
        QCOMPARE(set.inversionPixels, true);
        QCOMPARE(set.genererCodeVide, true);
        QCOMPARE(set, ParameterSet());

        const FontTextOptions o = set.fontTextOptions();
        QVERIFY(o.bitInversion && o.pixelInversion && o.endOfLine);
        QCOMPARE(o.endOfLineCharacter, ' ');
    }

    void oldSizeCodes_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("value");
        const int first[] = {24, 25, 0, 26, 27, 2, 28, 29};
        for (int code = 0; code < 8; ++code)
            QTest::addRow("code %d", code) << code << first[code];
        QTest::newRow("code 8") << 8 << 4;
        QTest::newRow("code 27") << 27 << 23;
        QTest::newRow("code 28") << 28 << -2;
        QTest::newRow("code 30") << 30 << -1;
        QTest::newRow("code 39") << 39 << -3;
        QTest::newRow("code -1") << -1 << -2;
    }
    void oldSizeCodes()
    {
        QFETCH(int, code);
        QFETCH(int, value);
        QCOMPARE(translateOldDatamatrixSize(code), value);
    }

    void oldSchemeCodes_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("value");
        for (int code = 0; code <= 5; ++code)
            QTest::addRow("code %d", code) << code << code;
        QTest::newRow("code 6") << 6 << -1;
        QTest::newRow("code 7") << 7 << -2;
        QTest::newRow("code 8") << 8 << -1;
    }
    void oldSchemeCodes()
    {
        QFETCH(int, code);
        QFETCH(int, value);
        QCOMPARE(translateOldScheme(code), value);
    }

    void oldSetIsTranslatedAndSavedBackWithVersion()
    {
        {
            QSettings s(iniPath(), QSettings::IniFormat);
            s.setValue("Format/TailleDatamatrix", 5);
            s.setValue("Format/ModeEncodage", 2);
        }
        QSettings s(iniPath(), QSettings::IniFormat);
        openParameterSet(s);
        const ParameterSet set = readParameterSet(s);
        QCOMPARE(set.tailleDatamatrix, 2);  // 14x14
        QCOMPARE(set.modeEncodage, 2);      // Text
        writeParameterSet(s, set);
        closeAllGroups(s);
        s.sync();

        QSettings check(iniPath(), QSettings::IniFormat);
        QCOMPARE(check.value("Format/Version").toInt(), 1);
        QCOMPARE(check.value("Format/TailleDatamatrix").toInt(), 2);
        QCOMPARE(check.value("Format/ModeEncodage").toInt(), 2);
        openParameterSet(check);
        QCOMPARE(readParameterSet(check), set);
    }

    void currentSetKeepsItsValuesAsStored()
    {
        QSettings s(iniPath(), QSettings::IniFormat);
        s.setValue("Format/Version", 1);
        s.setValue("Format/TailleDatamatrix", 5);  // 20x20 today, not an old code
        s.setValue("Format/ModeEncodage", 7);
        openParameterSet(s);
        const ParameterSet set = readParameterSet(s);
        QCOMPARE(set.tailleDatamatrix, 5);
        QCOMPARE(set.modeEncodage, 7);
    }

    void roundTripOfEveryKey()
    {
        ParameterSet set;
        set.tailleModule = 3;
        set.tailleMarge = 2;
        set.tailleDatamatrix = -3;
        set.modeEncodage = 4;
        set.qrVersion = 7;
        set.qrECLevel = 3;
        set.qrCasse = 0;
        set.qrModeEncodage = 2;
        set.typeEncodage = 1;
        set.finLigne = false;
        set.finLigneCaractere = "/x";
        set.supprimerEspacesGauche = true;
        set.supprimerEspacesDroite = true;
        set.inversionHorizontale = true;
        set.inversionVerticale = true;
        set.inversionBits = false;
        set.inversionPixels = false;
        set.genererCodeVide = false;
        {
            QSettings s(iniPath(), QSettings::IniFormat);
            openParameterSet(s, "Étiquettes");
            writeParameterSet(s, set);
            closeAllGroups(s);
        }
        QSettings s(iniPath(), QSettings::IniFormat);
        openParameterSet(s, "Étiquettes");
        QCOMPARE(readParameterSet(s), set);
        QCOMPARE(s.childKeys().size(), 19);

        const EncodingParameters p = set.encodingParameters();
        QCOMPARE(p.symbology, Symbology::QRCode);
        QCOMPARE(p.sizeRequest, -3);
        QCOMPARE(p.qrMode, 2);
        QCOMPARE(set.fontTextOptions().endOfLineCharacter, '/');
    }

    void namedSetsAreListedAndRemovedWithoutTouchingTheFolders()
    {
        QSettings s(iniPath(), QSettings::IniFormat);
        s.setValue(keys::CheminChargement, "/data/in");
        s.setValue(keys::CheminEnregistrement, "/data/out");
        for (const char* name : {"B", "A"}) {
            openParameterSet(s, name);
            writeParameterSet(s, ParameterSet());
        }
        openParameterSet(s);
        writeParameterSet(s, ParameterSet());
        // a group still open is closed first
        s.beginGroup("Courant");
        QStringList names = parameterSetNames(s);
        names.sort();
        QCOMPARE(names, QStringList({"A", "B"}));
        QCOMPARE(s.group(), QString());

        QVERIFY(removeParameterSet(s, "A"));
        QVERIFY(!removeParameterSet(s, "A"));
        QVERIFY(!removeParameterSet(s, QString()));
        QCOMPARE(parameterSetNames(s), QStringList({"B"}));
        // the default set is untouched by the removal of a named one
        QCOMPARE(s.value("Format/Version").toInt(), 1);
        QCOMPARE(s.value(keys::CheminChargement).toString(), QString("/data/in"));
        QCOMPARE(s.value(keys::CheminEnregistrement).toString(), QString("/data/out"));
    }
};

QTEST_GUILESS_MAIN(TestParametres)
#include "test_parametres.moc"
