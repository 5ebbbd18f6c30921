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
#include <QDeadlineTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSpinBox>
#include <QTabWidget>
#include <QTextBlock>
#include <QTextCursor>
#include <QThread>
#include <QTimer>

#include <memory>

namespace {

// Interval of the window's watchdog: a generator silent for this long is ended.
constexpr int kWatchdogTimeout = 5000;
// The generator signals its liveness at most this often.
constexpr int kGeneratorWatchdogPeriod = 3000;
// How long a generator told to terminate is waited for before the window
// stops waiting: a termination takes effect only when the thread enters a
// blocking system call, which a thread stuck in a computation never does.
constexpr int kTerminationWait = 3000;

// Leaves a terminated generator whose thread has not ended. Its temporary
// files are removed now: the destination was never touched, and without them
// the worker has nothing to move into place should it ever resume. The object
// and its error text (which the worker may still write) are released on this
// thread once the thread has ended.
void abandonner(codiflux::BaseEncoder* encoder, std::unique_ptr<QString> messageErreur)
{
    encoder->disconnect();  // the dialog and the timer are going away
    encoder->removeTemporaryFiles();

    QString* texte = messageErreur.release();
    auto libere = std::make_shared<bool>(false);
    auto liberer = [encoder, texte, libere]() {
        if (*libere)
            return;
        *libere = true;
        encoder->removeTemporaryFiles();
        delete texte;
        encoder->deleteLater();
    };
    QObject::connect(encoder, &QThread::finished, encoder, liberer, Qt::QueuedConnection);
    // A cancel question may have left the signals blocked; finished() must come through.
    encoder->blockSignals(false);
    // A thread that was already ending may have sent finished() before the
    // connection existed (isRunning() turns false before the signal is sent).
    if (!encoder->isRunning())
        QMetaObject::invokeMethod(encoder, liberer, Qt::QueuedConnection);
}

}  // namespace

codiflux::GenerationJob Codiflux::captureJob(const QString& output, bool txt) const
{
    using namespace codiflux;

    GenerationJob job;
    job.format = baseFormat;
    job.sourcePath = form.lineEditBaseSource->text();
    job.outputPath = output;
    job.writeText = txt;

    const ParameterSet shown = shownParameters();
    job.parameters = shown.encoding;
    job.options = shown.fontText;
    job.blankCodes = shown.blankCodes;
    job.trimStart = shown.trimStart;
    job.trimEnd = shown.trimEnd;

    job.fieldIndex = form.comboBoxChamps->currentIndex();
    job.newFieldName = form.lineEditNomChampSortie->text();
    // A value template: the run takes its sample among the listed records.
    job.valueTemplate = shown.valueTemplate;
    job.hriFieldName = form.lineEditChampHRI->text();

    job.rangeStart = form.spinBoxPosDebut->value();
    job.rangeCount = form.spinBoxPosNbCar->value();

    // The sample value fixes the symbol's size for the whole run: the record
    // shown for a DBF base, the selected columns of the current line for a
    // text base.
    // The symbol's bytes of the text shown (a character the symbol cannot
    // carry stops the run at its record).
    const bool utf8 = carriesUtf8(job.parameters);
    if (!job.valueTemplate.isEmpty()) {
        // left empty: the run takes the longest composed value
    } else if (!baseFormat) {
        // no base loaded
    } else if (baseFormat->hasFields()) {
        symbolBytes(form.comboBoxEnregistrement->currentText(), utf8, job.sample);
    } else if (job.rangeStart >= 1 && job.rangeCount >= 1) {
        const QString line = form.plainTextEditSelecteurPosition->textCursor().block().text();
        symbolBytes(line.mid(job.rangeStart - 1, job.rangeCount), utf8, job.sample);
    }
    if (baseFormat && baseFormat->readsCodePage())
        job.codePage = forcedCodePage();
    return job;
}

bool Codiflux::chooseDestination(const QString& title, QString* path, bool* writeText)
{
    using namespace codiflux;

    const QString folder = settings->value(QLatin1String(keys::CheminEnregistrement), QStringLiteral(".")).toString();
    if (!baseFormat)
        return false;
    const QString filter = baseFormat->dialogFilter();

    *path = QFileDialog::getSaveFileName(this, title, folder, filter);
    if (path->isEmpty())
        return false;

    // Writing over a file the run reads (the source, or its memo file) would
    // destroy it: the files themselves are compared, whatever the spelling
    // of their paths.
    const QString source = form.lineEditBaseSource->text();
    auto refuseOverwrite = [this, &title, &source](const QString& destination) {
        const QString refusal = overwriteRefusal(destination, *baseFormat, source);
        if (!refusal.isEmpty())
            QMessageBox::critical(this, title, refusal, QMessageBox::Close, QMessageBox::Close);
        return !refusal.isEmpty();
    };
    if (refuseOverwrite(*path))
        return false;

    *writeText = false;
    if (baseFormat->hasTextForm()) {
        *writeText = QMessageBox::question(this, title, tr("Souhaitez-vous également générer une base en format TXT ?"),
                                           QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
            == QMessageBox::Yes;
        if (*writeText && refuseOverwrite(textOutputPathFor(*path)))
            return false;
    }

    // The folder is remembered once the destination is accepted, whatever the
    // outcome of the generation.
    settings->setValue(QLatin1String(keys::CheminEnregistrement), QFileInfo(*path).path());
    return true;
}

void Codiflux::genererBase()
{
    using namespace codiflux;

    const QString title = tr("Génération d'une base...");
    QString path;
    bool writeText = false;
    if (!chooseDestination(title, &path, &writeText))
        return;

    // Everything the worker needs is read from the controls now, on this thread.
    const GenerationJob job = captureJob(path, writeText);

    // On the heap: a generator abandoned after a termination keeps writing
    // through its pointer until its thread ends.
    auto errorText = std::make_unique<QString>();
    generatorInterrupted = false;
    watchdogMessage.clear();
    baseEncoder = new BaseEncoder(job, errorText.get(), kGeneratorWatchdogPeriod, nullptr);

    if (!runGenerator(title)) {
        const QString text = watchdogMessage;
        abandonner(baseEncoder, std::move(errorText));
        baseEncoder = nullptr;
        generatorInterrupted = false;
        QMessageBox::warning(this, tr("Génération base..."), text, QMessageBox::Close, QMessageBox::Close);
        return;
    }
    // A terminated worker could not remove its temporary files; the
    // destination itself was never touched. After a run that ended by itself
    // there is nothing left to remove.
    baseEncoder->removeTemporaryFiles();
    if (baseEncoder->getResultat())
        lastEncodedBase = path;
    const bool proof = showGenerationResult(*errorText);

    delete baseEncoder;
    baseEncoder = nullptr;
    generatorInterrupted = false;
    if (proof)
        epreuveImpression(path);
}

bool Codiflux::runGenerator(const QString& title)
{
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

    connect(baseEncoder, SIGNAL(finished()), &dialog, SLOT(reset()));
    connect(baseEncoder, SIGNAL(watchdog()), &watchdogTimer, SLOT(start()));
    connect(&watchdogTimer, SIGNAL(timeout()), this, SLOT(watchdogTimedOut()));
    // Without its own handling of the cancel button the dialog closes only
    // through annulerGenererBase() or when the generator ends.
    disconnect(&dialog, SIGNAL(canceled()), nullptr, nullptr);
    connect(&dialog, SIGNAL(canceled()), this, SLOT(annulerGenererBase()));
    connect(baseEncoder, SIGNAL(progressRangeChanged(int, int)), &dialog, SLOT(setRange(int, int)));
    connect(baseEncoder, SIGNAL(progressValueChanged(int)), &dialog, SLOT(setValue(int)));

    watchdogTimer.start();
    baseEncoder->start(QThread::InheritPriority);
    dialog.exec();

    // Only a terminated generator is waited for with a limit, counted from
    // its termination; one that is still running then is left to end on its own.
    const bool ended = generatorInterrupted ? baseEncoder->wait(terminationDeadline) : baseEncoder->wait();
    watchdogTimer.stop();
    progressDialog = nullptr;
    return ended;
}

bool Codiflux::showGenerationResult(const QString& errorText)
{
    // A DBF whose code field most dBase readers would cut is written all the
    // same (its length is exact), with a warning.
    const QString warning = codiflux::longCodeFieldWarning(baseFormat, baseEncoder->codeFieldLength());
    if (!baseEncoder->getResultat()) {
        QMessageBox::warning(this, tr("Génération base..."), errorText, QMessageBox::Close, QMessageBox::Close);
        return false;
    }
    // Beside Close, the proof sheet of the base just written.
    QMessageBox box(warning.isEmpty() ? QMessageBox::Information : QMessageBox::Warning, tr("Génération base..."),
                    warning.isEmpty() ? tr("Fabrication de la base encodée correcte.")
                                      : tr("Fabrication de la base encodée correcte.") + QLatin1String("\n\n") + warning,
                    QMessageBox::Close, this);
    box.setDefaultButton(QMessageBox::Close);
    QPushButton* proof = box.addButton(tr("Épreuve d'impression…"), QMessageBox::ActionRole);
    proof->setObjectName(QStringLiteral("pushButtonEpreuve"));
    box.exec();
    return box.clickedButton() == proof;
}

void Codiflux::annulerGenererBase()
{
    if (!baseEncoder)
        return;

    // Progress, watchdog and end of the run wait until the user has answered.
    baseEncoder->blockSignals(true);
    const QMessageBox::StandardButton answer = QMessageBox::question(
        this, tr("Génération d'une base..."), tr("Souhaitez-vous réellement interrompre la génération de la base ?"),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer == QMessageBox::Yes) {
        baseEncoder->annuler();
        if (progressDialog)
            progressDialog->cancel();
        return;
    }

    baseEncoder->blockSignals(false);
    // A generator that ended while the question was open sent its end into
    // the blocked signals: close the dialog as that signal would have. So
    // also for one terminated meanwhile that is still stuck after the wait.
    const bool bloque = generatorInterrupted && terminationDeadline.hasExpired();
    if ((baseEncoder->isFinished() || bloque) && progressDialog)
        progressDialog->reset();
}

void Codiflux::watchdogTimedOut()
{
    if (!baseEncoder)
        return;
    // The record number is read once: the text kept is the one written.
    watchdogMessage = tr("Une erreur est survenue lors de l'encodage. L'enregistrement courant est le n°%1")
                          .replace(QLatin1String("%1"), QString::number(baseEncoder->currentRecord()));
    baseEncoder->setMessageErreur(watchdogMessage);
    generatorInterrupted = true;
    terminationDeadline = QDeadlineTimer(kTerminationWait, Qt::PreciseTimer);
    baseEncoder->terminate();

    // A thread stuck in a computation does not end, so its finished() never
    // closes the progress dialog: once the wait is over the dialog is closed
    // as that signal would have done (not while a cancel question holds the
    // signals back; its Yes closes the dialog then).
    if (progressDialog) {
        QProgressDialog* dialog = progressDialog;
        codiflux::BaseEncoder* encoder = baseEncoder;
        QTimer::singleShot(kTerminationWait, Qt::PreciseTimer, dialog, [this, dialog, encoder]() {
            if (baseEncoder == encoder && progressDialog == dialog && encoder->isRunning()
                && !encoder->signalsBlocked())
                dialog->reset();
        });
    }
}
