#pragma once
// The generation thread: reads every record of the source base, encodes the
// chosen value, and writes the encoded base (DBF and / or text) through the
// run driver, which codes the records on every core and writes them in order.
// Everything it reads was captured in a GenerationJob on the GUI thread
// before the start.

#include "generation/generationcore.h"
#include "generation/job.h"

#include <QElapsedTimer>
#include <QString>
#include <QThread>

#include <atomic>

namespace codiflux {

class BaseEncoder : public QThread {
    Q_OBJECT

public:
    // errorText: owned by the caller (messageErreur), receives the error text
    // of a failed run. watchdogPeriod (periodeWatchdog): minimum interval
    // between two watchdog() signals in milliseconds, 0 or less for none.
    BaseEncoder(const GenerationJob& job, QString* errorText, int watchdogPeriod, QObject* parent = nullptr);
    ~BaseEncoder() override;

    // The whole generation, driven from the calling thread (the records are
    // coded on QThread::idealThreadCount() threads); false on failure, with
    // the text (when there is one) written through errorText.
    bool encoderBase(const QString& cheminSortie, bool genererTxt, QString* errorText);

    bool getResultat() const { return resultat; }
    // Writes `format` with %1 replaced by the current record number through
    // messageErreur. Called from the GUI thread before a termination.
    void setMessageErreur(QString format);
    // 1-based number of the record being processed, 0 before the record loop.
    qint64 currentRecord() const { return enregistrementCourant; }
    // R, the length of the code field of the last run once its set-up passed; 0 before.
    int codeFieldLength() const { return fieldLength_; }

    // Gives the run's outputs up from the GUI thread, after a termination (the
    // worker may even be still running): the temporary files are removed and
    // the destination is left untouched. After a run that moved its files into
    // place there is nothing to remove.
    void removeTemporaryFiles();
    // The destinations and their temporary names for this job.
    const OutputFiles& files() const { return outputFiles_; }

    const GenerationJob& job() const { return job_; }

    // The coding threads of the next run: QThread::idealThreadCount() unless
    // set (a benchmark compares one thread with several).
    void setThreadCount(int threads) { threadCount_ = threads; }

public slots:
    void annuler();

signals:
    void progressRangeChanged(int minimum, int maximum);
    void progressValueChanged(int value);
    void watchdog();

protected:
    void run() override;

private:
    class Feedback;

    GenerationJob job_;
    QString* messageErreur;
    std::atomic<bool> annule{false};
    bool resultat = false;
    std::atomic<qint64> enregistrementCourant{0};
    int periodeWatchdog;
    int fieldLength_ = 0;
    int threadCount_ = QThread::idealThreadCount();
    OutputFiles outputFiles_;  // planned in the constructor, for the job's own destination
};

}  // namespace codiflux
