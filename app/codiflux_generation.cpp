// Generation of the encoded base from the window: the destination, the
// generator thread behind a window-modal progress dialog, its cancellation and
// its watchdog, and the report.

#include "app/codiflux.h"

#include "codes/encoding.h"
#include "codes/fonttext.h"
#include "generation/baseencoder.h"
#include "generation/generationcore.h"
#include "settings/parametres.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QRadioButton>
#include <QSettings>
#include <QSpinBox>
#include <QTabWidget>
#include <QTextBlock>
#include <QTextCursor>
#include <QThread>
#include <QTimer>

namespace {

// Interval of the window's watchdog: a generator silent for this long is ended.
constexpr int kWatchdogTimeout = 5000;
// The generator signals its liveness at most this often.
constexpr int kGeneratorWatchdogPeriod = 3000;

} // namespace

codiflux::GenerationJob Codiflux::captureJob(const QString& output, bool txt) const
{
    using namespace codiflux;

    GenerationJob job;
    job.typeSource = baseKind;
    job.sourcePath = form.lineEditBaseSource->text();
    job.outputPath = output;
    job.writeText = txt;

    const ParameterSet shown = parametresAffiches();
    job.parameters = shown.encodingParameters();
    job.options = shown.fontTextOptions();
    job.blankCodes = shown.genererCodeVide;

    job.fieldIndex = form.comboBoxChamps->currentIndex();
    job.fields = champs;
    job.tableFieldCount = table ? dbf_field_count(table.get()) : 0u;
    job.newFieldName = form.lineEditNomChampSortie->text();

    job.rangeStart = form.spinBoxPosDebut->value();
    job.rangeCount = form.spinBoxPosNbCar->value();

    // The sample value fixes the symbol's size for the whole run: the record
    // shown for a DBF base, the selected columns of the current line for a
    // text base.
    if (baseKind == BaseDbf) {
        job.sample = form.comboBoxEnregistrement->currentText().toLatin1();
    } else if (baseKind == BaseText && job.rangeStart >= 1 && job.rangeCount >= 1) {
        const QString line = form.plainTextEditSelecteurPosition->textCursor().block().text();
        job.sample = line.mid(job.rangeStart - 1, job.rangeCount).toLatin1();
    }
    return job;
}

void Codiflux::genererBase()
{
    using namespace codiflux;

    const QString title = tr("Génération d'une base...");
    const QString folder =
        settings->value(QLatin1String(keys::CheminEnregistrement), QStringLiteral(".")).toString();

    QString filter;
    if (baseKind == BaseDbf)
        filter = tr("Base DBF (*.dbf)");
    else if (baseKind == BaseText)
        filter = tr("Fichier texte (*.txt)");
    else
        return;

    const QString path = QFileDialog::getSaveFileName(this, title, folder, filter);
    if (path.isEmpty())
        return;

    // Writing over the source while reading it would destroy it: the files
    // themselves are compared, whatever the spelling of their paths.
    const QString source = form.lineEditBaseSource->text();
    auto refuseSameFile = [this, &title]() {
        QMessageBox::critical(this, title, tr("Le fichier de destination doit être différent du fichier source."),
                              QMessageBox::Close, QMessageBox::Close);
    };
    if (sameFile(path, source)) {
        refuseSameFile();
        return;
    }

    bool genererTxt = false;
    if (baseKind == BaseDbf) {
        genererTxt = QMessageBox::question(this, title,
                                           tr("Souhaitez-vous également générer une base en format TXT ?"),
                                           QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
            == QMessageBox::Yes;
        if (genererTxt && sameFile(textOutputPathFor(path), source)) {
            refuseSameFile();
            return;
        }
    }

    // The folder is remembered once the destination is accepted, whatever the
    // outcome of the generation.
    settings->setValue(QLatin1String(keys::CheminEnregistrement), QFileInfo(path).path());

    // Everything the worker needs is read from the controls now, on this thread.
    const GenerationJob job = captureJob(path, genererTxt);

    QProgressDialog dialog(this);
    dialog.setLabelText(tr("\t\tEncodage de la base en cours...\t\t"));
    dialog.setWindowTitle(title);
    dialog.setAutoReset(false);
    dialog.setWindowModality(Qt::WindowModal);
    progressDialog = &dialog;

    QTimer watchdogTimer;
    watchdogTimer.setSingleShot(true);
    watchdogTimer.setInterval(kWatchdogTimeout);
    watchdogTimer.setTimerType(Qt::PreciseTimer);  // never before the interval

    QString messageErreur;
    baseEncoder = new BaseEncoder(job, &messageErreur, kGeneratorWatchdogPeriod, nullptr);

    connect(baseEncoder, SIGNAL(finished()), &dialog, SLOT(reset()));
    connect(baseEncoder, SIGNAL(watchdog()), &watchdogTimer, SLOT(start()));
    connect(&watchdogTimer, SIGNAL(timeout()), this, SLOT(watchdogTimedOut()));
    // Without its own handling of the cancel button the dialog closes only
    // through annulerGenererBase() or when the generator ends.
    disconnect(&dialog, SIGNAL(canceled()), nullptr, nullptr);
    connect(&dialog, SIGNAL(canceled()), this, SLOT(annulerGenererBase()));
    connect(baseEncoder, SIGNAL(progressRangeChanged(int,int)), &dialog, SLOT(setRange(int,int)));
    connect(baseEncoder, SIGNAL(progressValueChanged(int)), &dialog, SLOT(setValue(int)));

    watchdogTimer.start();
    baseEncoder->start(QThread::InheritPriority);
    dialog.exec();

    baseEncoder->wait();
    watchdogTimer.stop();
    progressDialog = nullptr;
    // A terminated worker could not remove its temporary files; the
    // destination itself was never touched. After a run that ended by itself
    // there is nothing left to remove.
    baseEncoder->supprimerFichiersTemporaires();

    if (baseEncoder->getResultat())
        QMessageBox::information(this, tr("Génération base..."), tr("Fabrication de la base encodée correcte."),
                                 QMessageBox::Close, QMessageBox::Close);
    else
        QMessageBox::warning(this, tr("Génération base..."), messageErreur, QMessageBox::Close,
                             QMessageBox::Close);

    delete baseEncoder;
    baseEncoder = nullptr;
}

void Codiflux::annulerGenererBase()
{
    if (!baseEncoder)
        return;

    // Progress, watchdog and end of the run wait until the user has answered.
    baseEncoder->blockSignals(true);
    const QMessageBox::StandardButton answer =
        QMessageBox::question(this, tr("Génération d'une base..."),
                              tr("Souhaitez-vous réellement interrompre la génération de la base ?"),
                              QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer == QMessageBox::Yes) {
        baseEncoder->annuler();
        if (progressDialog)
            progressDialog->cancel();
        return;
    }

    baseEncoder->blockSignals(false);
    // A generator that ended while the question was open sent its end into
    // the blocked signals: close the dialog as that signal would have.
    if (baseEncoder->isFinished() && progressDialog)
        progressDialog->reset();
}

void Codiflux::watchdogTimedOut()
{
    if (!baseEncoder)
        return;
    baseEncoder->setMessageErreur(
        tr("Une erreur est survenue lors de l'encodage. L'enregistrement courant est le n°%1"));
    baseEncoder->terminate();
}
