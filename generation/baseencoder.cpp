#include "generation/baseencoder.h"

#include <QFileInfo>

#include <new>

namespace codiflux {

// Progress, liveness and cancellation of one run, relayed as the thread's signals.
class BaseEncoder::Feedback : public GenerationFeedback {
public:
    explicit Feedback(BaseEncoder& encoder)
        : encoder_(encoder)
    {
        clock_.start();
    }
    bool cancelled() override { return encoder_.annule; }
    void liveness() override
    {
        if (encoder_.periodeWatchdog > 0 && clock_.elapsed() >= encoder_.periodeWatchdog) {
            emit encoder_.watchdog();
            clock_.restart();
        }
    }
    void progressRange(int minimum, int maximum) override { emit encoder_.progressRangeChanged(minimum, maximum); }
    void progressValue(int value) override { emit encoder_.progressValueChanged(value); }

private:
    BaseEncoder& encoder_;
    QElapsedTimer clock_;
};

BaseEncoder::BaseEncoder(const GenerationJob& job, QString* errorText, int watchdogPeriod, QObject* parent)
    : QThread(parent)
    , job_(job)
    , messageErreur(errorText)
    , periodeWatchdog(watchdogPeriod)
{
    outputFiles_.plan(job_);
}

BaseEncoder::~BaseEncoder() = default;

void BaseEncoder::run()
{
    enregistrementCourant = 0;
    resultat = false;
    try {
        resultat = encoderBase(job_.outputPath, job_.writeText, messageErreur);
    } catch (const std::bad_alloc&) {
        // The run's files removed their temporaries on the way out.
        if (messageErreur)
            *messageErreur = outOfMemoryText();
    }
}

bool BaseEncoder::encoderBase(const QString& cheminSortie, bool genererTxt, QString* errorText)
{
    annule = false;
    Feedback feedback(*this);  // starts the liveness clock

    // The run writes to the job's planned destination; another one (a direct
    // call with other paths) gets temporaries of its own.
    GenerationJob job = job_;
    job.outputPath = cheminSortie;
    job.writeText = genererTxt;
    OutputFiles otherFiles;
    OutputFiles* files = &outputFiles_;
    if (cheminSortie != job_.outputPath || genererTxt != job_.writeText) {
        otherFiles.plan(job);
        files = &otherFiles;
    }

    OutputWriter writer(*files);  // removes its temporaries unless committed
    PreparedRun run;
    fieldLength_ = 0;
    Error failure = prepareGeneration(job, feedback, run, writer);
    if (!failure) {
        fieldLength_ = run.plan.codeLength;
        failure = runRecords(run, writer, feedback, enregistrementCourant);
    }

    // Closing the files and moving them into place is not interrupted by a
    // termination: both outputs are replaced, or neither.
    if (QThread::currentThread() == this)
        setTerminationEnabled(false);
    if (run.source)
        run.source->stop();
    if (failure)
        writer.discard();
    else
        failure = writer.commit();
    if (failure && errorText)
        *errorText = failure.text;
    return !failure;
}

void BaseEncoder::setMessageErreur(QString format)
{
    if (messageErreur)
        *messageErreur = format.replace(QLatin1String("%1"), QString::number(enregistrementCourant.load()));
}

void BaseEncoder::supprimerFichiersTemporaires()
{
    outputFiles_.withdraw();
}

void BaseEncoder::annuler()
{
    annule = true;
}

}  // namespace codiflux
