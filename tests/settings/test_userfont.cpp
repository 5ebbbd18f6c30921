// The font as the program finds it (working folder, beside the program, the
// installed tree), and the user's copy: installed whole, the cache refreshed
// over the right folder, removed again.

#include "settings/userfont.h"
#include "tests/support/files.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace codiflux;
using testsupport::readFile;
using testsupport::writeFile;

class TestUserFont : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    QByteArray savedPath, savedDataHome;

    QString tools() const { return dir.filePath(QStringLiteral("tools")); }
    QString data() const { return dir.filePath(QStringLiteral("data")); }

private slots:
    void initTestCase()
    {
        savedPath = qgetenv("PATH");
        savedDataHome = qgetenv("XDG_DATA_HOME");
        QVERIFY(QDir().mkpath(tools()));
        qputenv("PATH", QFile::encodeName(tools()));
        qputenv("XDG_DATA_HOME", QFile::encodeName(data()));
    }

    void cleanupTestCase()
    {
        qputenv("PATH", savedPath);
        savedDataHome.isNull() ? qunsetenv("XDG_DATA_HOME") : qputenv("XDG_DATA_HOME", savedDataHome);
    }

    void lookupOrder()
    {
        QTemporaryDir root;
        const QString bin = root.filePath(QStringLiteral("prefix/bin"));
        const QString current = root.filePath(QStringLiteral("work"));
        const QString inWork = current + QStringLiteral("/RES/Quadrex.ttf");
        const QString beside = bin + QStringLiteral("/RES/Quadrex.ttf");
        const QString installed = root.filePath(QStringLiteral("prefix/share/fonts/truetype/codiflux/Quadrex.ttf"));
        QCOMPARE(codeFontFile(bin, current), QString());
        for (const QString& f : {installed, beside, inWork}) {
            QVERIFY(QDir().mkpath(QFileInfo(f).path()) && writeFile(f, "font"));
            QCOMPARE(codeFontFile(bin, current), f);  // each one found wins over those before it
        }
        QCOMPARE(installedDataDir(bin), root.filePath(QStringLiteral("prefix/share/codiflux")));
    }

    void installAndUninstall_data()
    {
        QTest::addColumn<int>("cacheExit");  // -1: no fc-cache on the path
        QTest::addColumn<QString>("cacheSays");
        QTest::newRow("fc-cache works") << 0 << "mis à jour";
        QTest::newRow("fc-cache fails") << 1 << "fc-cache a échoué";
        QTest::newRow("no fc-cache") << -1 << "fc-cache est introuvable";
    }

    void installAndUninstall()
    {
        QFETCH(int, cacheExit);
        QFETCH(QString, cacheSays);
        const QString stub = tools() + QStringLiteral("/fc-cache");
        const QString calls = dir.filePath(QStringLiteral("calls"));
        QFile::remove(stub);
        QFile::remove(calls);
        if (cacheExit >= 0) {
            QVERIFY(writeFile(stub,
                              "#!/bin/sh\necho \"$@\" >> '" + QFile::encodeName(calls) + "'\nexit "
                                  + QByteArray::number(cacheExit) + "\n"));
            QVERIFY(QFile::setPermissions(stub, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        }
        const QString fonts = data() + QStringLiteral("/fonts");
        const QString copy = fonts + QStringLiteral("/Quadrex.ttf");
        const QString source = dir.filePath(QStringLiteral("Quadrex.ttf"));
        QVERIFY(writeFile(source, QByteArray("\0\1\0\0 a font", 12)));
        QVERIFY(QDir().mkpath(fonts) && writeFile(copy, "an older, longer copy of the font"));

        UserFontResult r = installUserFont(source);
        QVERIFY2(r.ok, qPrintable(r.message));
        QCOMPARE(r.path, copy);
        QCOMPARE(readFile(copy), readFile(source));  // replaced whole
        QVERIFY2(r.message.contains(copy) && r.message.contains(cacheSays), qPrintable(r.message));

        r = uninstallUserFont();
        QVERIFY2(r.ok && r.message.contains(fonts) && r.message.contains(cacheSays), qPrintable(r.message));
        QVERIFY(!QFile::exists(copy));
        if (cacheExit >= 0)
            QCOMPARE(readFile(calls), QByteArray("-f " + QFile::encodeName(fonts) + "\n").repeated(2));

        r = uninstallUserFont();
        QVERIFY2(r.ok && r.message.contains(QStringLiteral("rien à retirer")), qPrintable(r.message));
    }

    void missingFontInstallsNothing()
    {
        QDir(data()).removeRecursively();
        const UserFontResult r = installUserFont(dir.filePath(QStringLiteral("absent.ttf")));
        QVERIFY(!r.ok);
        QVERIFY2(r.message.contains(QStringLiteral("introuvable")), qPrintable(r.message));
        QVERIFY(!QFile::exists(data() + QStringLiteral("/fonts/Quadrex.ttf")));
    }
};

QTEST_GUILESS_MAIN(TestUserFont)
#include "test_userfont.moc"
