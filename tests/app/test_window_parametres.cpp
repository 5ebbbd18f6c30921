// Parameter sets of the main window: the default set loaded at construction,
// old sets and their translation, the two menus, loading and saving named
// sets, the new-set and delete dialogs, and the remembered folders left alone.

#include "app/codiflux.h"
#include "modal_answer.h"
#include "ui_codiflux.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFont>
#include <QLineEdit>
#include <QMenu>
#include <QRadioButton>
#include <QSettings>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QToolBar>
#include <QToolButton>
#include <QtTest>

#include <memory>

// Reaches the window's private state.
struct CodifluxInspector {
    static QSettings& settings(Codiflux& w) { return *w.settings; }
    static QMenu* loadMenu(Codiflux& w) { return w.menuChargerParametres; }
    static QMenu* saveMenu(Codiflux& w) { return w.menuSauverParametres; }
    static QAction* loadDefault(Codiflux& w) { return w.actionChargerParDefaut; }
    static QAction* saveDefault(Codiflux& w) { return w.actionSauverParDefaut; }
    static char endOfLine(const Codiflux& w) { return w.parametresAffiches().fontTextOptions().endOfLineCharacter; }
    static QAction* newSet(Codiflux& w) { return w.actionNouveau; }
    static QAction* deleteSet(Codiflux& w) { return w.actionSupprimer; }
};

namespace {

using Values = QList<std::pair<QString, QVariant>>;

// The 19 keys of a set, in the order they are written.
const QStringList kSetKeys = {"Version",
                              "TailleModule",
                              "TailleMarge",
                              "TailleDatamatrix",
                              "ModeEncodage",
                              "QRCode.Version",
                              "QRCode.ECLevel",
                              "QRCode.Casse",
                              "QRCode.ModeEncodage",
                              "TypeEncodage",
                              "FinLigne",
                              "FinLigneCaractere",
                              "SupprimerEspacesGauche",
                              "SupprimerEspacesDroite",
                              "InversionHorizontale",
                              "InversionVerticale",
                              "InversionBits",
                              "InversionPixels",
                              "GenererCodeVide"};

// Writes keys into the settings file before a window reads it.
void store(const QString& group, const Values& values)
{
    QSettings s(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Codiflux"), QString());
    if (!group.isEmpty())
        s.beginGroup(group);
    for (const auto& [key, value] : values)
        s.setValue(key, value);
    s.sync();
}

// The keys of one group of the settings file as a fresh reader sees them.
QVariantMap stored(Codiflux& w, const QString& group)
{
    CodifluxInspector::settings(w).sync();
    QSettings s(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Codiflux"), QString());
    s.beginGroup(group);
    QVariantMap map;
    for (const QString& key : s.childKeys())
        map.insert(key, s.value(key));
    return map;
}

// A menu as text: entries by their text, separators as "---".
QStringList describe(const QMenu* menu)
{
    QStringList out;
    for (const QAction* action : menu->actions())
        out << (action->isSeparator() ? QStringLiteral("---") : action->text());
    return out;
}

QAction* entry(QMenu* menu, const QString& text)
{
    for (QAction* action : menu->actions())
        if (!action->isSeparator() && action->text() == text)
            return action;
    return nullptr;
}

// The controls as a parameter set would store them.
QVariantMap controls(Codiflux& w)
{
    CodifluxClass& f = *w.ui();
    QVariantMap m;
    m["TailleModule"] = f.spinBoxModule->value();
    m["TailleMarge"] = f.spinBoxMarge->value();
    m["TailleDatamatrix"] = f.comboBoxTailleDatamatrix->currentData().toInt();
    m["ModeEncodage"] = f.comboBoxModeEncodage->currentData().toInt();
    m["QRCode.Version"] = f.spinBoxVersionQRCode->value();
    m["QRCode.ECLevel"] = f.comboBoxECLevelQRCode->currentData().toInt();
    m["QRCode.Casse"] = f.comboBoxCasseQRCode->currentData().toInt();
    m["QRCode.ModeEncodage"] = f.comboBoxModeEncodageQRCode->currentData().toInt();
    m["TypeEncodage"] = f.tabTypeWidget->currentIndex();
    m["FinLigne"] = f.checkBoxFinLigne->isChecked();
    m["FinLigneCaractere"] = codiflux::endOfLineFromTyped(f.lineEditFinLigne->text());
    m["SupprimerEspacesGauche"] = f.checkBoxSupprimerGauche->isChecked();
    m["SupprimerEspacesDroite"] = f.checkBoxSupprimerDroite->isChecked();
    m["InversionHorizontale"] = f.checkBoxInvHorizontale->isChecked();
    m["InversionVerticale"] = f.checkBoxInvVerticale->isChecked();
    m["InversionBits"] = f.checkBoxInvBits->isChecked();
    m["InversionPixels"] = f.checkBoxInvPixels->isChecked();
    m["GenererCodeVide"] = f.radioButtonEmptyGenCode->isChecked();
    return m;
}

// A stored set read back with the types of the key table.
QVariantMap typed(const QVariantMap& raw)
{
    static const QStringList bools
        = {"FinLigne",           "SupprimerEspacesGauche", "SupprimerEspacesDroite", "InversionHorizontale",
           "InversionVerticale", "InversionBits",          "InversionPixels",        "GenererCodeVide"};
    QVariantMap m;
    for (auto it = raw.cbegin(); it != raw.cend(); ++it) {
        if (it.key() == QLatin1String("Version"))
            continue;
        if (bools.contains(it.key()))
            m[it.key()] = it.value().toBool();
        else if (it.key() == QLatin1String("FinLigneCaractere"))
            m[it.key()] = it.value().toString();
        else
            m[it.key()] = it.value().toInt();
    }
    return m;
}

// Every control away from its default value.
void setNonDefaults(Codiflux& w, int variant)
{
    CodifluxClass& f = *w.ui();
    f.spinBoxModule->setValue(3 + variant);
    f.spinBoxMarge->setValue(2 + variant);
    f.comboBoxTailleDatamatrix->setCurrentIndex(f.comboBoxTailleDatamatrix->findData(variant ? 9 : 2));
    f.comboBoxModeEncodage->setCurrentIndex(f.comboBoxModeEncodage->findData(variant ? 4 : 1));
    f.spinBoxVersionQRCode->setValue(7 + variant);
    f.comboBoxECLevelQRCode->setCurrentIndex(f.comboBoxECLevelQRCode->findData(variant ? 2 : 3));
    f.comboBoxCasseQRCode->setCurrentIndex(f.comboBoxCasseQRCode->findData(0));
    f.comboBoxModeEncodageQRCode->setCurrentIndex(f.comboBoxModeEncodageQRCode->findData(variant ? 3 : 2));
    f.tabTypeWidget->setCurrentIndex(1);
    f.checkBoxFinLigne->setChecked(false);
    f.lineEditFinLigne->setText(variant ? QStringLiteral("|") : QStringLiteral("#"));
    f.checkBoxSupprimerGauche->setChecked(true);
    f.checkBoxSupprimerDroite->setChecked(true);
    f.checkBoxInvHorizontale->setChecked(true);
    f.checkBoxInvVerticale->setChecked(true);
    f.checkBoxInvBits->setChecked(false);
    f.checkBoxInvPixels->setChecked(false);
    f.radioButtoEmptySpaces->setChecked(true);
}

}  // namespace

class TestWindowParametres : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> settingsDir;

    std::unique_ptr<Codiflux> makeWindow() { return std::make_unique<Codiflux>(); }

private slots:
    // Each test starts from a settings file of its own.
    void init()
    {
        settingsDir = std::make_unique<QTemporaryDir>();
        QVERIFY(settingsDir->isValid());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir->path());
    }

    void cleanup() { settingsDir.reset(); }

    // No settings: the controls show the defaults of a set without keys, and
    // nothing is written.
    void defaultsOnEmptySettings()
    {
        auto w = makeWindow();
        CodifluxClass& f = *w->ui();
        QCOMPARE(f.spinBoxModule->value(), 1);
        QCOMPARE(f.spinBoxMarge->value(), 0);
        QCOMPARE(f.comboBoxTailleDatamatrix->currentText(), QStringLiteral("12x36"));
        QCOMPARE(f.comboBoxTailleDatamatrix->currentData().toInt(), 27);
        QCOMPARE(f.comboBoxModeEncodage->currentText(), QStringLiteral("AutoBest"));
        QCOMPARE(f.comboBoxModeEncodage->currentData().toInt(), -1);
        QCOMPARE(f.spinBoxVersionQRCode->value(), 0);
        QCOMPARE(f.comboBoxECLevelQRCode->currentData().toInt(), 0);
        QCOMPARE(f.comboBoxECLevelQRCode->currentText(), QStringLiteral("Low"));
        QCOMPARE(f.comboBoxCasseQRCode->currentData().toInt(), 1);
        QCOMPARE(f.comboBoxCasseQRCode->currentText(), QStringLiteral("Sensible"));
        QCOMPARE(f.comboBoxModeEncodageQRCode->currentData().toInt(), 0);
        QCOMPARE(f.comboBoxModeEncodageQRCode->currentText(), QStringLiteral("Numeric"));
        QVERIFY(f.checkBoxFinLigne->isChecked());
        QCOMPARE(f.lineEditFinLigne->text(), QString());
        QVERIFY(!f.checkBoxSupprimerGauche->isChecked());
        QVERIFY(!f.checkBoxSupprimerDroite->isChecked());
        QVERIFY(!f.checkBoxInvHorizontale->isChecked());
        QVERIFY(!f.checkBoxInvVerticale->isChecked());
        QVERIFY(f.checkBoxInvBits->isChecked());
        QVERIFY(f.checkBoxInvPixels->isChecked());
        QVERIFY(f.radioButtonEmptyGenCode->isChecked());
        QVERIFY(!f.radioButtoEmptySpaces->isChecked());
        // The form opens on tab 1; the default set brings tab 0.
        QCOMPARE(f.tabTypeWidget->currentIndex(), 0);

        QSettings& s = CodifluxInspector::settings(*w);
        QVERIFY(s.allKeys().isEmpty());
        QCOMPARE(s.group(), QString());
        QCOMPARE(s.format(), QSettings::IniFormat);
        QCOMPARE(s.scope(), QSettings::UserScope);
        QCOMPARE(s.organizationName(), QStringLiteral("Codiflux"));
        QCOMPARE(s.applicationName(), QString());
    }

    // A full set in "Format" is the window's state once it is built.
    void defaultSetAtConstruction()
    {
        store("Format",
              {{"Version", 1},
               {"TailleModule", 4},
               {"TailleMarge", 2},
               {"TailleDatamatrix", 9},
               {"ModeEncodage", 3},
               {"QRCode.Version", 12},
               {"QRCode.ECLevel", 2},
               {"QRCode.Casse", 0},
               {"QRCode.ModeEncodage", 1},
               {"TypeEncodage", 1},
               {"FinLigne", false},
               {"FinLigneCaractere", "/"},
               {"SupprimerEspacesGauche", true},
               {"SupprimerEspacesDroite", true},
               {"InversionHorizontale", true},
               {"InversionVerticale", true},
               {"InversionBits", false},
               {"InversionPixels", false},
               {"GenererCodeVide", false}});
        auto w = makeWindow();
        CodifluxClass& f = *w->ui();
        QCOMPARE(f.comboBoxTailleDatamatrix->currentText(), QStringLiteral("32x32"));
        QCOMPARE(f.comboBoxModeEncodage->currentText(), QStringLiteral("X12"));
        QCOMPARE(f.comboBoxECLevelQRCode->currentText(), QStringLiteral("Quality"));
        QCOMPARE(f.comboBoxCasseQRCode->currentText(), QStringLiteral("Insensible"));
        QCOMPARE(f.comboBoxModeEncodageQRCode->currentText(), QStringLiteral("Alphabet-numeric"));
        QVERIFY(f.radioButtoEmptySpaces->isChecked());
        QVERIFY(!f.radioButtonEmptyGenCode->isChecked());
        QCOMPARE(controls(*w), typed(stored(*w, "Format")));

        // Loading again after the controls changed brings the set back.
        setNonDefaults(*w, 0);
        QVERIFY(controls(*w) != typed(stored(*w, "Format")));
        f.actionChargerParamParDefaut->trigger();
        QCOMPARE(controls(*w), typed(stored(*w, "Format")));
    }

    // An old default set: codes of the earlier lists, translated on loading,
    // and today's values once saved back.
    void oldSetSavedBack()
    {
        store("Format", {{"TailleDatamatrix", 5}, {"ModeEncodage", 2}});
        auto w = makeWindow();
        CodifluxClass& f = *w->ui();
        QCOMPARE(f.comboBoxTailleDatamatrix->currentData().toInt(), 2);
        QCOMPARE(f.comboBoxTailleDatamatrix->currentText(), QStringLiteral("14x14"));
        QCOMPARE(f.comboBoxModeEncodage->currentData().toInt(), 2);
        QCOMPARE(f.comboBoxModeEncodage->currentText(), QStringLiteral("Text"));

        f.actionSauverParamParDefaut->trigger();
        const QVariantMap saved = stored(*w, "Format");
        QCOMPARE(QStringList(saved.keys()), [] {
            QStringList k = kSetKeys;
            k.sort();
            return k;
        }());
        QCOMPARE(saved.value("Version").toInt(), 1);
        QCOMPARE(saved.value("TailleDatamatrix").toInt(), 2);
        QCOMPARE(saved.value("ModeEncodage").toInt(), 2);
        QCOMPARE(typed(saved), controls(*w));
        QCOMPARE(CodifluxInspector::settings(*w).group(), QString());

        // Read again as a current set: the same controls.
        setNonDefaults(*w, 1);
        f.actionChargerParamParDefaut->trigger();
        QCOMPARE(f.comboBoxTailleDatamatrix->currentText(), QStringLiteral("14x14"));
        QCOMPARE(f.comboBoxModeEncodage->currentText(), QStringLiteral("Text"));
    }

    void oldCodes_data()
    {
        QTest::addColumn<QVariant>("version");  // invalid: no key
        QTest::addColumn<QVariant>("size");
        QTest::addColumn<QVariant>("scheme");
        QTest::addColumn<QString>("sizeText");    // empty: no selection
        QTest::addColumn<QString>("schemeText");  // empty: no selection

        const QVariant none;
        QTest::newRow("old, no keys") << none << none << none << "12x36"
                                      << "AutoBest";
        QTest::newRow("old, 0 and 0") << none << QVariant(0) << QVariant(0) << "8x18"
                                      << "Ascii";
        QTest::newRow("old, 2 and 5") << none << QVariant(2) << QVariant(5) << "10x10"
                                      << "Base256";
        QTest::newRow("old, 7 and 6") << none << QVariant(7) << QVariant(6) << "16x48"
                                      << "AutoBest";
        QTest::newRow("old, 8 and 7") << none << QVariant(8) << QVariant(7) << "18x18"
                                      << "";
        QTest::newRow("old, 27 and 9") << none << QVariant(27) << QVariant(9) << "144x144"
                                       << "AutoBest";
        QTest::newRow("old, 30") << none << QVariant(30) << QVariant(1) << ""
                                 << "C40";
        QTest::newRow("old, 39") << none << QVariant(39) << QVariant(3) << "Automatique (rect.)"
                                 << "X12";
        QTest::newRow("old, 28") << none << QVariant(28) << QVariant(4) << "Automatique (carré)"
                                 << "Edifact";
        QTest::newRow("version 0, 5") << QVariant(0) << QVariant(5) << QVariant(2) << "14x14"
                                      << "Text";
        QTest::newRow("version 1, no keys") << QVariant(1) << none << none << "12x36"
                                            << "AutoBest";
        QTest::newRow("version 1, 5 and 2") << QVariant(1) << QVariant(5) << QVariant(2) << "20x20"
                                            << "Text";
        QTest::newRow("version 1, -3 and -1") << QVariant(1) << QVariant(-3) << QVariant(-1) << "Automatique (rect.)"
                                              << "AutoBest";
        QTest::newRow("version 1, unknown") << QVariant(1) << QVariant(77) << QVariant(-2) << ""
                                            << "";
    }

    // The translation of the two old codes, read from a named set; a value
    // no entry carries leaves its combo box without a selection, and saving
    // then writes 0.
    void oldCodes()
    {
        QFETCH(QVariant, version);
        QFETCH(QVariant, size);
        QFETCH(QVariant, scheme);
        QFETCH(QString, sizeText);
        QFETCH(QString, schemeText);
        Values values = {{"TailleModule", 2}};
        if (version.isValid())
            values.emplaceBack(QStringLiteral("Version"), version);
        if (size.isValid())
            values.emplaceBack(QStringLiteral("TailleDatamatrix"), size);
        if (scheme.isValid())
            values.emplaceBack(QStringLiteral("ModeEncodage"), scheme);
        store("Format/ancien", values);

        auto w = makeWindow();
        CodifluxClass& f = *w->ui();
        QAction* load = entry(CodifluxInspector::loadMenu(*w), "ancien");
        QVERIFY(load);
        load->trigger();
        QCOMPARE(f.spinBoxModule->value(), 2);
        QCOMPARE(f.comboBoxTailleDatamatrix->currentText(), sizeText);
        QCOMPARE(f.comboBoxTailleDatamatrix->currentIndex() == -1, sizeText.isEmpty());
        QCOMPARE(f.comboBoxModeEncodage->currentText(), schemeText);
        QCOMPARE(f.comboBoxModeEncodage->currentIndex() == -1, schemeText.isEmpty());

        QAction* save = entry(CodifluxInspector::saveMenu(*w), "ancien");
        QVERIFY(save);
        save->trigger();
        const QVariantMap saved = stored(*w, "Format/ancien");
        QCOMPARE(saved.value("Version").toInt(), 1);
        QCOMPARE(saved.value("TailleDatamatrix").toInt(),
                 sizeText.isEmpty() ? 0 : f.comboBoxTailleDatamatrix->currentData().toInt());
        QCOMPARE(saved.value("ModeEncodage").toInt(),
                 schemeText.isEmpty() ? 0 : f.comboBoxModeEncodage->currentData().toInt());
    }

    void menus_data()
    {
        QTest::addColumn<QStringList>("stored");  // in the order they are written
        QTest::addColumn<QStringList>("listed");  // in the menus
        QTest::newRow("none") << QStringList() << QStringList{"Par Défaut"};
        QTest::newRow("one") << QStringList{"Client"} << QStringList{"Par Défaut", "Client"};
        QTest::newRow("two") << QStringList{"zeta", "Alpha"} << QStringList{"Par Défaut", "---", "Alpha", "zeta"};
        QTest::newRow("three, case-sensitive order")
            << QStringList{"beta", "Gamma", "alpha"} << QStringList{"Par Défaut", "---", "Gamma", "alpha", "beta"};
    }

    // Both menus from the stored sets: default entry (bold), separator rule,
    // sorted names, last entry; "Supprimer..." enabled only with a set.
    void menus()
    {
        QFETCH(QStringList, stored);
        QFETCH(QStringList, listed);
        for (const QString& name : stored)
            store("Format/" + name, {{"TailleModule", 5}});
        auto w = makeWindow();
        QMenu* load = CodifluxInspector::loadMenu(*w);
        QMenu* save = CodifluxInspector::saveMenu(*w);
        QCOMPARE(describe(load), (listed + QStringList{"---", "Supprimer..."}));
        QCOMPARE(describe(save), (listed + QStringList{"---", "Nouveau..."}));
        QCOMPARE(load->defaultAction(), CodifluxInspector::loadDefault(*w));
        QCOMPARE(save->defaultAction(), CodifluxInspector::saveDefault(*w));
        QVERIFY(load->actions().first() == CodifluxInspector::loadDefault(*w));
        QVERIFY(save->actions().first() == CodifluxInspector::saveDefault(*w));
        QVERIFY(load->actions().last() == CodifluxInspector::deleteSet(*w));
        QVERIFY(save->actions().last() == CodifluxInspector::newSet(*w));
        QCOMPARE(CodifluxInspector::deleteSet(*w)->isEnabled(), !stored.isEmpty());
        QVERIFY(CodifluxInspector::newSet(*w)->isEnabled());
        // The menus belong to the tool bar's split buttons and to the actions.
        CodifluxClass& f = *w->ui();
        QCOMPARE(f.actionChargerParamParDefaut->menu(), load);
        QCOMPARE(f.actionSauverParamParDefaut->menu(), save);
        // The named sets are not loaded at construction: the default set is.
        QCOMPARE(f.spinBoxModule->value(), 1);
    }

    // Loading a named set from its menu entry; the default entry loads "Format".
    void loadNamedSet()
    {
        store("Format", {{"Version", 1}, {"TailleModule", 2}});
        store("Format/Client A",
              {{"Version", 1},
               {"TailleModule", 6},
               {"TypeEncodage", 1},
               {"QRCode.ModeEncodage", 2},
               {"InversionBits", false}});
        auto w = makeWindow();
        CodifluxClass& f = *w->ui();
        QCOMPARE(f.spinBoxModule->value(), 2);
        QAction* named = entry(CodifluxInspector::loadMenu(*w), "Client A");
        QVERIFY(named);
        named->trigger();
        QCOMPARE(f.spinBoxModule->value(), 6);
        QCOMPARE(f.tabTypeWidget->currentIndex(), 1);
        QCOMPARE(f.comboBoxModeEncodageQRCode->currentText(), QStringLiteral("8-bit data"));
        QVERIFY(!f.checkBoxInvBits->isChecked());
        QCOMPARE(CodifluxInspector::settings(*w).group(), QString());

        CodifluxInspector::loadDefault(*w)->trigger();
        QCOMPARE(f.spinBoxModule->value(), 2);
        QCOMPARE(f.tabTypeWidget->currentIndex(), 0);
        QVERIFY(f.checkBoxInvBits->isChecked());

        // A group left open does not redirect the reading.
        store("Courant", {{"TailleModule", 9}});
        CodifluxInspector::settings(*w).beginGroup("Courant");
        named->trigger();
        QCOMPARE(f.spinBoxModule->value(), 6);
        CodifluxInspector::settings(*w).beginGroup("Courant");
        f.actionChargerParamParDefaut->trigger();
        QCOMPARE(f.spinBoxModule->value(), 2);
        QCOMPARE(CodifluxInspector::settings(*w).group(), QString());
    }

    // A line feed as end-of-line character, typed and shown as "\n": stored as
    // the line feed itself, escaped in the file, so a reader that takes the
    // first character of the text also ends the bands with a line feed; a
    // blank or printable character reads as before.
    void lineFeedEndOfLine()
    {
        store("Format", {{"Version", 1}, {"FinLigneCaractere", "\n"}});
        store("Format/Espace", {{"Version", 1}, {"FinLigneCaractere", " "}});
        store("Format/Barre", {{"Version", 1}, {"FinLigneCaractere", "/"}});
        auto w = makeWindow();
        CodifluxClass& f = *w->ui();
        QCOMPARE(f.lineEditFinLigne->text(), QStringLiteral("\\n"));
        QCOMPARE(CodifluxInspector::endOfLine(*w), '\n');
        for (const auto& [set, text] : {std::pair{"Espace", " "}, std::pair{"Barre", "/"}}) {
            entry(CodifluxInspector::loadMenu(*w), QLatin1String(set))->trigger();
            QCOMPARE(f.lineEditFinLigne->text(), QLatin1String(text));
            QCOMPARE(CodifluxInspector::endOfLine(*w), text[0]);
        }
        f.lineEditFinLigne->setText(QStringLiteral("\\n"));
        CodifluxInspector::saveDefault(*w)->trigger();
        QCOMPARE(stored(*w, "Format").value("FinLigneCaractere").toString(), QStringLiteral("\n"));
        QFile file(CodifluxInspector::settings(*w).fileName());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().contains("FinLigneCaractere=\\n\n"));
    }

    // Saving into the default set and into a named set from its entry.
    void saveSets()
    {
        store("Format/Client", {{"Version", 1}, {"TailleModule", 6}});
        auto w = makeWindow();
        setNonDefaults(*w, 0);
        w->ui()->actionSauverParamParDefaut->trigger();
        QCOMPARE(typed(stored(*w, "Format")), controls(*w));
        QCOMPARE(QStringList(stored(*w, "Format").keys()).size(), kSetKeys.size());
        QCOMPARE(stored(*w, "Format").value("Version").toInt(), 1);
        QCOMPARE(stored(*w, "Format").value("TypeEncodage").toInt(), 1);
        QCOMPARE(stored(*w, "Format").value("GenererCodeVide").toBool(), false);
        // The named set is not touched.
        QCOMPARE(stored(*w, "Format/Client").value("TailleModule").toInt(), 6);

        setNonDefaults(*w, 1);
        QAction* named = entry(CodifluxInspector::saveMenu(*w), "Client");
        QVERIFY(named);
        named->trigger();
        QCOMPARE(typed(stored(*w, "Format/Client")), controls(*w));
        QVERIFY(typed(stored(*w, "Format")) != controls(*w));
        // The save-menu default entry saves the default set.
        CodifluxInspector::saveDefault(*w)->trigger();
        QCOMPARE(typed(stored(*w, "Format")), controls(*w));
        QCOMPARE(CodifluxInspector::settings(*w).group(), QString());
    }

    // A settings file that cannot be written is told, for the default set and a named one.
    void saveFailureTold()
    {
        auto w = makeWindow();
        const QString file = CodifluxInspector::settings(*w).fileName();
        QFile::remove(file);
        QVERIFY(QDir().mkpath(file));  // a folder where the file should go
        for (QAction* action : {w->ui()->actionSauverParamParDefaut, CodifluxInspector::newSet(*w)}) {
            ModalAnswer answer([](QWidget* modal) {
                if (qobject_cast<QInputDialog*>(modal))
                    ModalAnswer::enter("Mon jeu")(modal);
                else
                    ModalAnswer::close(modal);
            });
            action->trigger();
            QCOMPARE(answer.className, QStringLiteral("QMessageBox"));
            QCOMPARE(answer.title, QStringLiteral("Sauver paramètres"));
            QCOMPARE(answer.text,
                     QStringLiteral("Les paramètres n'ont pas pu être enregistrés dans « %1 ».")
                         .arg(QDir::toNativeSeparators(file)));
        }
        QVERIFY(QDir(file).removeRecursively());
    }

    // "Nouveau...": the dialog, a new set in both menus, overwrite, cancel.
    void newSetDialog()
    {
        auto w = makeWindow();
        QMenu* load = CodifluxInspector::loadMenu(*w);
        QMenu* save = CodifluxInspector::saveMenu(*w);
        setNonDefaults(*w, 0);
        {
            ModalAnswer answer(ModalAnswer::enter("Mon jeu"));
            CodifluxInspector::newSet(*w)->trigger();
            QCOMPARE(answer.count, 1);
            QCOMPARE(answer.className, QStringLiteral("QInputDialog"));
            QCOMPARE(answer.title, QStringLiteral("Nouveau..."));
            QCOMPARE(answer.text, QStringLiteral("Nom du jeu de paramètres à créer :"));
            QCOMPARE(answer.inputMode, QInputDialog::TextInput);
            QCOMPARE(answer.echoMode, QLineEdit::Normal);
            QCOMPARE(answer.initialText, QString());
            QCOMPARE(answer.parentWidget, static_cast<QWidget*>(w.get()));
        }
        QCOMPARE(describe(load), (QStringList{"Par Défaut", "Mon jeu", "---", "Supprimer..."}));
        QCOMPARE(describe(save), (QStringList{"Par Défaut", "Mon jeu", "---", "Nouveau..."}));
        QVERIFY(CodifluxInspector::deleteSet(*w)->isEnabled());
        QCOMPARE(typed(stored(*w, "Format/Mon jeu")), controls(*w));
        QCOMPARE(stored(*w, "Format/Mon jeu").value("Version").toInt(), 1);
        // The default set is not written.
        QVERIFY(stored(*w, "Format").isEmpty());

        // The same name again overwrites the set; it is listed once.
        setNonDefaults(*w, 1);
        {
            ModalAnswer answer(ModalAnswer::enter("Mon jeu"));
            CodifluxInspector::newSet(*w)->trigger();
            QCOMPARE(answer.count, 1);
        }
        QCOMPARE(describe(load), (QStringList{"Par Défaut", "Mon jeu", "---", "Supprimer..."}));
        QCOMPARE(typed(stored(*w, "Format/Mon jeu")), controls(*w));

        // A second name: separator rule and order.
        {
            ModalAnswer answer(ModalAnswer::enter("Autre"));
            CodifluxInspector::newSet(*w)->trigger();
        }
        QCOMPARE(describe(save), (QStringList{"Par Défaut", "---", "Autre", "Mon jeu", "---", "Nouveau..."}));

        // Cancel, and an empty name, change nothing.
        const QStringList before = CodifluxInspector::settings(*w).allKeys();
        {
            ModalAnswer answer([](QWidget* modal) {
                static_cast<QInputDialog*>(modal)->setTextValue("Annulé");
                static_cast<QInputDialog*>(modal)->reject();
            });
            CodifluxInspector::newSet(*w)->trigger();
            QCOMPARE(answer.count, 1);
        }
        {
            ModalAnswer answer(ModalAnswer::enter(QString()));
            CodifluxInspector::newSet(*w)->trigger();
            QCOMPARE(answer.count, 1);
        }
        QCOMPARE(CodifluxInspector::settings(*w).allKeys(), before);
        QCOMPARE(describe(save), (QStringList{"Par Défaut", "---", "Autre", "Mon jeu", "---", "Nouveau..."}));

        // The new set loads back.
        setNonDefaults(*w, 0);
        entry(load, "Mon jeu")->trigger();
        QCOMPARE(typed(stored(*w, "Format/Mon jeu")), controls(*w));
        QCOMPARE(w->ui()->spinBoxModule->value(), 4);
    }

    // "Supprimer...": the list dialog, the set removed with its keys, the
    // menus rebuilt; cancel changes nothing.
    void deleteSetDialog()
    {
        store("Format", {{"Version", 1}, {"TailleModule", 3}});
        store("Format/b", {{"Version", 1}, {"TailleModule", 7}});
        store("Format/a", {{"Version", 1}, {"TailleModule", 8}});
        store("Format/c", {{"Version", 1}, {"TailleModule", 9}});
        auto w = makeWindow();
        QMenu* load = CodifluxInspector::loadMenu(*w);
        QMenu* save = CodifluxInspector::saveMenu(*w);
        QSettings& s = CodifluxInspector::settings(*w);
        s.beginGroup("Format");
        const QStringList order = s.childGroups();
        s.endGroup();

        {
            ModalAnswer answer(ModalAnswer::enter("b"));
            CodifluxInspector::deleteSet(*w)->trigger();
            QCOMPARE(answer.count, 1);
            QCOMPARE(answer.className, QStringLiteral("QInputDialog"));
            QCOMPARE(answer.title, QStringLiteral("Suppression..."));
            QCOMPARE(answer.text, QStringLiteral("Sélectionner le jeu de paramètres à supprimer :"));
            QCOMPARE(answer.items, order);
            QVERIFY(!answer.itemsEditable);
            QCOMPARE(answer.initialText, order.first());
            QCOMPARE(answer.parentWidget, static_cast<QWidget*>(w.get()));
        }
        QCOMPARE(describe(load), (QStringList{"Par Défaut", "---", "a", "c", "---", "Supprimer..."}));
        QCOMPARE(describe(save), (QStringList{"Par Défaut", "---", "a", "c", "---", "Nouveau..."}));
        QVERIFY(stored(*w, "Format/b").isEmpty());
        QCOMPARE(stored(*w, "Format/a").value("TailleModule").toInt(), 8);
        QCOMPARE(stored(*w, "Format").value("TailleModule").toInt(), 3);
        QCOMPARE(s.group(), QString());

        // Cancelled: nothing goes.
        {
            ModalAnswer answer([](QWidget* modal) {
                static_cast<QInputDialog*>(modal)->setTextValue("a");
                static_cast<QInputDialog*>(modal)->reject();
            });
            CodifluxInspector::deleteSet(*w)->trigger();
            QCOMPARE(answer.count, 1);
        }
        QCOMPARE(describe(load), (QStringList{"Par Défaut", "---", "a", "c", "---", "Supprimer..."}));
        QCOMPARE(stored(*w, "Format/a").value("TailleModule").toInt(), 8);

        // Down to one set, then none: "Supprimer..." goes grey.
        {
            ModalAnswer answer(ModalAnswer::enter("a"));
            CodifluxInspector::deleteSet(*w)->trigger();
            QCOMPARE(answer.items, (QStringList{"a", "c"}));
        }
        QCOMPARE(describe(load), (QStringList{"Par Défaut", "c", "---", "Supprimer..."}));
        QVERIFY(CodifluxInspector::deleteSet(*w)->isEnabled());
        {
            ModalAnswer answer(ModalAnswer::enter("c"));
            CodifluxInspector::deleteSet(*w)->trigger();
        }
        QCOMPARE(describe(load), (QStringList{"Par Défaut", "---", "Supprimer..."}));
        QCOMPARE(describe(save), (QStringList{"Par Défaut", "---", "Nouveau..."}));
        QVERIFY(!CodifluxInspector::deleteSet(*w)->isEnabled());
        // The default set stays.
        QCOMPARE(stored(*w, "Format").value("TailleModule").toInt(), 3);
        QCOMPARE(w->ui()->spinBoxModule->value(), 3);
    }

    // The remembered folders survive every set operation.
    void courantUntouched()
    {
        store("Courant", {{"CheminChargement", "/bases/entree"}, {"CheminEnregistrement", "/bases/sortie"}});
        store("Format/x", {{"Version", 1}, {"TailleModule", 5}});
        auto w = makeWindow();
        const QVariantMap courant = stored(*w, "Courant");
        QCOMPARE(courant.size(), 2);

        w->ui()->actionChargerParamParDefaut->trigger();
        w->ui()->actionSauverParamParDefaut->trigger();
        entry(CodifluxInspector::loadMenu(*w), "x")->trigger();
        entry(CodifluxInspector::saveMenu(*w), "x")->trigger();
        {
            ModalAnswer answer(ModalAnswer::enter("y"));
            CodifluxInspector::newSet(*w)->trigger();
        }
        {
            ModalAnswer answer(ModalAnswer::enter("x"));
            CodifluxInspector::deleteSet(*w)->trigger();
        }
        QCOMPARE(stored(*w, "Courant"), courant);
        QSettings& s = CodifluxInspector::settings(*w);
        QCOMPARE(s.value("Courant/CheminChargement").toString(), QStringLiteral("/bases/entree"));
        QCOMPARE(s.value("Courant/CheminEnregistrement").toString(), QStringLiteral("/bases/sortie"));
        s.beginGroup("Format");
        QCOMPARE(s.childGroups(), QStringList{"y"});
        s.endGroup();
    }
};

QTEST_MAIN(TestWindowParametres)
#include "test_window_parametres.moc"
