#include "generation/baseencoder.h"

#include "generation/rundriver.h"

#include <QFileInfo>

#include <new>

namespace codiflux {

// Progress, liveness and cancellation of one run, relayed as the thread's
// signals; the end of the run is not interrupted by a termination.
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
    void prepared(const PreparedRun& run) override { encoder_.fieldLength_ = run.plan.codeLength; }
    void closing() override
    {
        // Closing the files and moving them into place is not interrupted by
        // a termination: both outputs are replaced, or neither.
        if (QThread::currentThread() == &encoder_)
            BaseEncoder::setTerminationEnabled(false);
    }

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

    fieldLength_ = 0;
    RunOptions options;
    options.threads = threadCount_;
    const Error failure = runGeneration(job, *files, feedback, options, enregistrementCourant);
    if (failure && errorText)
        *errorText = failure.text;
    return !failure;
}

void BaseEncoder::setMessageErreur(QString format)
{
    if (messageErreur)
        *messageErreur = format.replace(QLatin1String("%1"), QString::number(enregistrementCourant.load()));
}

void BaseEncoder::removeTemporaryFiles()
{
    outputFiles_.withdraw();
}

void BaseEncoder::annuler()
{
    annule = true;
}

}  // namespace codiflux
