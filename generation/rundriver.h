#pragma once
// The one road of a generation, for the window and the command line alike:
// the set-up, the record loop, the source stopped, then the outputs discarded
// or moved into place. The loop codes records on N threads in windows of the
// source and writes them in source order, so that its output, failures
// included, is byte for byte that of one thread.

#include "generation/files.h"
#include "generation/job.h"
#include "generation/run.h"

#include <QByteArrayView>

#include <atomic>
#include <functional>
#include <memory>

namespace codiflux {

// A check of each coded record before its write (the command line reads
// every code back). One is made per coding thread, so it may keep buffers.
class RecordCheck {
public:
    virtual ~RecordCheck() = default;
    // Record `number`'s `codeLength` bytes of code text, which the check may
    // alter (a test hook does); `value` is what the library was given, and
    // `blank` says the value was blank (its code carries nothing to read).
    virtual Error check(qint64 number, char* codeText, int codeLength, QByteArrayView value, bool blank) = 0;
};

// Makes the check of one coding thread for a prepared run.
using RecordCheckFactory = std::function<std::unique_ptr<RecordCheck>(const GenerationJob&, const PreparedRun&)>;

struct RunOptions {
    int threads = 1;  // coding threads; one, without a check, is the plain loop of runRecords()
    int batch = 256;  // records per coding thread in a window of the source
    RecordCheckFactory check;
};

// The record loop of a prepared run on `options.threads` coding threads. The
// calling thread reads the records in source order into one window while the
// coding threads work on the previous one, then writes the coded window in
// order. Memory is two windows of threads x batch records, whatever the size
// of the base. For each record written: `current` set to its number, the
// cancellation check, the per-mille progress, liveness; while it waits for
// coding threads that are still making headway, liveness too (a coding call
// that hangs leaves the watchdog silent). The first failing record in source
// order decides the failure and its text. Does not commit.
// feedback.cancelled() is also read from the coding threads.
Error runRecordsInOrder(const GenerationJob& job, PreparedRun& run, OutputWriter& writer, GenerationFeedback& feedback,
                        const RunOptions& options, std::atomic<qint64>& current);

// The whole generation of `job` into `files` (planned for it by the caller):
// prepareGeneration(), feedback.prepared(), the record loop (runRecords() on
// one thread without a check, runRecordsInOrder() otherwise), the source
// stopped, feedback.closing(), then the outputs discarded on a failure or a
// cancellation (even one that comes after the last record) and moved into
// place otherwise. `current` holds the 1-based number of the record at hand,
// 0 before the loop. On failure nothing but the temporaries was written, and
// they are removed.
Error runGeneration(const GenerationJob& job, OutputFiles& files, GenerationFeedback& feedback,
                    const RunOptions& options, std::atomic<qint64>& current);

}  // namespace codiflux
