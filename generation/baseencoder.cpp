#include "generation/baseencoder.h"

#include <QFileInfo>

#include <new>

namespace codiflux {

// Progress, liveness and cancellation of one run, relayed as the thread's signals.
class BaseEncoder::Suivi : public GenerationFeedback {
public:
    explicit Suivi(BaseEncoder& encoder)
        : encoder(encoder)
    {
        horloge.start();
    }
    bool cancelled() override { return encoder.annule; }
    void liveness() override
    {
        if (encoder.periodeWatchdog > 0 && horloge.elapsed() >= encoder.periodeWatchdog) {
            emit encoder.watchdog();
            horloge.restart();
        }
    }
    void progressRange(int minimum, int maximum) override { emit encoder.progressRangeChanged(minimum, maximum); }
    void progressValue(int value) override { emit encoder.progressValueChanged(value); }

private:
    BaseEncoder& encoder;
    QElapsedTimer horloge;
};

BaseEncoder::BaseEncoder(const GenerationJob& job, QString* messageErreur, int periodeWatchdog, QObject* parent)
    : QThread(parent)
    , travail(job)
    , messageErreur(messageErreur)
    , periodeWatchdog(periodeWatchdog)
{
    fichiersSortie.plan(travail);
}

BaseEncoder::~BaseEncoder() = default;

void BaseEncoder::run()
{
    enregistrementCourant = 0;
    resultat = false;
    try {
        resultat = encoderBase(travail.outputPath, travail.writeText, messageErreur);
    } catch (const std::bad_alloc&) {
        // The run's files removed their temporaries on the way out.
        if (messageErreur)
            *messageErreur = outOfMemoryText();
    }
}

bool BaseEncoder::encoderBase(const QString& cheminSortie, bool genererTxt, QString* messageErreur)
{
    annule = false;
    Suivi suivi(*this);  // starts the liveness clock

    // The run writes to the job's planned destination; another one (a direct
    // call with other paths) gets temporaries of its own.
    GenerationJob job = travail;
    job.outputPath = cheminSortie;
    job.writeText = genererTxt;
    OutputFiles autres;
    OutputFiles* fichiers = &fichiersSortie;
    if (cheminSortie != travail.outputPath || genererTxt != travail.writeText) {
        autres.plan(job);
        fichiers = &autres;
    }

    OutputWriter sortie(*fichiers);  // removes its temporaries unless committed
    PreparedRun preparation;
    longueurChamp = 0;
    bool ok = prepareGeneration(job, suivi, preparation, sortie, messageErreur);
    if (ok)
        longueurChamp = preparation.plan.codeLength;
    ok = ok && runRecords(preparation, sortie, suivi, enregistrementCourant, messageErreur);

    // Closing the files and moving them into place is not interrupted by a
    // termination: both outputs are replaced, or neither.
    if (QThread::currentThread() == this)
        setTerminationEnabled(false);
    if (preparation.source)
        preparation.source->stop();
    if (ok)
        ok = sortie.commit(messageErreur);
    else
        sortie.discard();
    return ok;
}

void BaseEncoder::setMessageErreur(QString format)
{
    if (messageErreur)
        *messageErreur = format.replace(QLatin1String("%1"), QString::number(enregistrementCourant.load()));
}

void BaseEncoder::supprimerFichiersTemporaires()
{
    fichiersSortie.withdraw();
}

void BaseEncoder::annuler()
{
    annule = true;
}

}  // namespace codiflux
