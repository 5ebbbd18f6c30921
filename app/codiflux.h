#pragma once
// The main window of Codiflux. Every user action is a public slot; the form's
// tool buttons only trigger the window's actions.
//
// The class's definition is split by subsystem:
//   codiflux.cpp             construction, destruction, setLayoutVisible
//   codiflux_bases.cpp       loading a base, fields, records, column range
//   codiflux_preview.cpp     preview of one record's code
//   codiflux_generation.cpp  generation of the encoded base
//   codiflux_parametres.cpp  parameter sets
//   codiflux_about.cpp       window events and the about boxes

#include "app/ui_codiflux.h"
#include "bases/dbf.h"
#include "generation/job.h"
#include "settings/parametres.h"

#include <QDeadlineTimer>
#include <QGraphicsScene>
#include <QList>
#include <QMainWindow>
#include <QString>

class QAction;
class QCloseEvent;
class QGraphicsPixmapItem;
class QGraphicsTextItem;
class QLayout;
class QMenu;
class QProgressDialog;
class QResizeEvent;
class QSettings;

namespace codiflux {
class BaseEncoder;
}

// The program's version as its version resource stores it ("3,3,1192,0") for
// the keys "ProductVersion" and "FileVersion"; an empty string for any other key.
QString readVersionString(const QString& key);

class Codiflux : public QMainWindow {
    Q_OBJECT

public:
    explicit Codiflux(QWidget* parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());
    ~Codiflux() override;

    CodifluxClass* ui() { return &form; }

    // Shows or hides every widget of the layout, through nested layouts;
    // spacers and the layouts themselves are left alone. Returns the layout's
    // item count.
    int setLayoutVisible(QLayout* layout, bool visible);

    // The about text with `version` in place of its "%1".
    static QString aboutText(const QString& version);

public slots:
    void chargerBase();
    void genererBase();
    void selectionnerChamp(int index);
    void onPreview();
    void onChargerParametresParDefaut();
    void onSauverParametresParDefaut();
    void onChargerParametres(QAction* action);
    void onSauverParametres(QAction* action);
    void annulerGenererBase();
    void selectionnerPosition(int debut, int fin);
    void selectionnerPosition();
    void selectionnerDebutPosition(int value);
    void selectionnerFinPosition(int value);
    void selectionnerNbCarPosition(int value);
    void updateOtherSelections();
    void watchdogTimedOut();
    void fitInView();
    void onAbout();
    void onAboutQt();
    void onAboutLibdmtx();
    void onAboutQrencode();
    void onInstallerPolice();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // Loads the base at `path` into the window; false (after a warning box) when it fails.
    bool chargerFichier(const QString& path);

    // Everything a generation reads from the controls, taken on the GUI thread.
    codiflux::GenerationJob captureJob(const QString& output, bool txt) const;

    // The encoding parameters and format options the controls show, as a
    // parameter set (a combo box without a current entry gives 0).
    codiflux::ParameterSet parametresAffiches() const;

    // Parameter sets
    void construireMenusParametres();
    void lireJeuParametres();
    void ecrireJeuParametres();

    // Tests reach the window's state through this class of their own.
    friend struct CodifluxInspector;

    CodifluxClass form;
    QSettings* settings = nullptr;
    QGraphicsScene scene;

    // Parameter-set menus and their fixed entries
    QMenu* menuChargerParametres = nullptr;
    QMenu* menuSauverParametres = nullptr;
    QAction* actionChargerParDefaut = nullptr;
    QAction* actionSauverParDefaut = nullptr;
    QAction* actionNouveau = nullptr;
    QAction* actionSupprimer = nullptr;

    // The loaded base
    codiflux::DbfTablePtr table;
    QList<codiflux::DbfFieldInfo> champs;
    int baseKind = codiflux::BaseNone;  // codiflux::BaseKind: 0 DBF, 1 text, 2 none loaded
    int maxLineLength = 0;

    // The items of the last successful preview (owned by the scene)
    QGraphicsPixmapItem* bitmapItem = nullptr;
    QGraphicsTextItem* textItem = nullptr;

    // A running generation
    QProgressDialog* progressDialog = nullptr;
    codiflux::BaseEncoder* baseEncoder = nullptr;
    // Set by watchdogTimedOut(): the running generator was told to terminate
    // and is waited for only until finAttenteTerminaison; the text it wrote.
    bool generateurInterrompu = false;
    QDeadlineTimer finAttenteTerminaison;
    QString messageWatchdog;
};
