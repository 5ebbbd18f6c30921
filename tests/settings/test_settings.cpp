// Parameter sets in the settings file: every key written and read back, old sets
// translated, named sets listed and removed; the font found, copied for the user.

#include "codes/gs1.h"
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
        QTest::addColumn<int>("keys");  // a set without template, GS1 nor ECI keeps the 19 keys it always had
        ParameterSet changed{{Symbology::QRCode, 3, 2, -3, 4, 7, 3, 0, 2, -1, true},
                             {true, true, false, false, false, ' '},
                             {},
                             true,
                             true,
                             false,
                             {}};
        changed.setEndOfLineText(QStringLiteral("\n"));
        ParameterSet gs1 = changed;
        gs1.valueTemplate = QStringLiteral("(01){GTIN}(17){EXP:yyMMdd}");
        gs1.encoding.fnc1 = gs1::kFnc1Byte;
        QTest::newRow("defaults") << ParameterSet() << 19;
        QTest::newRow("every key changed") << changed << 20;
        QTest::newRow("template, GS1 and ECI") << gs1 << 22;
    }
    void roundTrip()
    {
        QFETCH(ParameterSet, set);
        QFETCH(int, keys);
        QSettings s(ini(), QSettings::IniFormat);
        openParameterSet(s);
        QCOMPARE(readParameterSet(s), ParameterSet());  // nothing stored: the defaults
        openParameterSet(s, QStringLiteral("Étiquettes"));
        writeParameterSet(s, set);
        QCOMPARE(s.childKeys().size(), keys);
        closeAllGroups(s);
        QSettings again(ini(), QSettings::IniFormat);
        openParameterSet(again, QStringLiteral("Étiquettes"));
        QCOMPARE(readParameterSet(again), set);
    }

    // A set stored before "Version" existed: the two Datamatrix lists were
    // positions of an earlier list; saved back, it carries today's values.
    void oldSets()
    {
        // Stored size, today's size, stored scheme, today's scheme: the ends of every range.
        const int rows[][4] = {{0, 24, 0, 0},   {7, 29, 5, 5},    {8, 4, 6, -1},    {27, 23, 7, -2},
                               {28, -2, 8, -1}, {30, -1, -1, -1}, {39, -3, -1, -1}, {-1, -2, -1, -1}};
        for (const auto& [size, sizeNow, scheme, schemeNow] : rows) {
            QFile::remove(ini());
            QSettings s(ini(), QSettings::IniFormat);
            s.setValue("Format/TailleDatamatrix", size);
            s.setValue("Format/ModeEncodage", scheme);
            openParameterSet(s);
            for (int pass = 0; pass < 2; ++pass) {  // then with "Version": kept as stored
                const ParameterSet set = readParameterSet(s);
                QCOMPARE(std::pair(size, set.encoding.sizeRequest), std::pair(size, sizeNow));
                QCOMPARE(std::pair(scheme, set.encoding.scheme), std::pair(scheme, schemeNow));
                writeParameterSet(s, set);
            }
        }
    }

    void namedSets()
    {
        QSettings s(ini(), QSettings::IniFormat);
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
    }

    // The working folder wins over the executable's, which wins over the installed
    // copy; the user's copy is replaced whole, the cache refreshed, then removed.
    void font()
    {
        const QString bin = dir.filePath(QStringLiteral("prefix/bin")), work = dir.filePath(QStringLiteral("work"));
        QCOMPARE(codeFontFile(bin, work), QString());
        for (const QString& f : {dir.filePath(QStringLiteral("prefix/share/fonts/truetype/codiflux/Quadrex.ttf")),
                                 bin + QStringLiteral("/RES/Quadrex.ttf"), work + QStringLiteral("/RES/Quadrex.ttf")}) {
            QVERIFY(QDir().mkpath(QFileInfo(f).path()) && writeFile(f, f.toUtf8()));
            QCOMPARE(codeFontFile(bin, work), f);
        }
        qputenv("XDG_DATA_HOME", QFile::encodeName(dir.filePath(QStringLiteral("data"))));
        qputenv("PATH", QFile::encodeName(dir.path()));  // where a stand-in fc-cache ends as told
        const QString copy = dir.filePath(QStringLiteral("data/fonts/Quadrex.ttf")), cache = dir.filePath("fc-cache");
        QString report;
        QVERIFY(installUserFont(dir.filePath(QStringLiteral("absent.ttf")), &report) && !QFile::exists(copy));
        QVERIFY(QDir().mkpath(QFileInfo(copy).path()) && writeFile(copy, "an older, longer copy of the font"));
        for (int exit : {1, 0}) {
            QVERIFY(writeFile(cache, "#!/bin/sh\nexit " + QByteArray::number(exit) + "\n")
                    && QFile::setPermissions(cache, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
            QVERIFY2(!installUserFont(codeFontFile(bin, work), &report) && report.contains(copy)
                         && report.contains(exit ? QStringLiteral("a échoué") : QStringLiteral("a été mis à jour")),
                     qPrintable(report));
        }
        QCOMPARE(readFile(copy), work.toUtf8() + "/RES/Quadrex.ttf");
        QVERIFY(!uninstallUserFont(&report) && !QFile::exists(copy));
        QVERIFY(!uninstallUserFont(&report) && report.contains(QStringLiteral("rien à retirer")));
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "test_settings.moc"
