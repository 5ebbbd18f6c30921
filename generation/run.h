#pragma once
// The set-up of a run up to its first record, and the record loop of one
// thread (a batch caller may code records on several and write them in order).

#include "bases/source.h"
#include "generation/coder.h"
#include "generation/writer.h"

#include <atomic>
#include <memory>
#include <optional>

namespace codiflux {

class CsvSource;

// What a run reports while it prepares (and what the record loop uses).
class GenerationFeedback {
public:
    virtual ~GenerationFeedback() = default;
    virtual bool cancelled() { return false; }
    virtual void liveness() { }
    virtual void progressRange(int, int) { }
    virtual void progressValue(int) { }
};

struct PreparedRun {
    std::unique_ptr<Source> source;  // a DBF or text source, started for the record pass
    std::optional<RecordCoder> coder;
    RecordPlan plan;
    qint64 recordCount = 0;
    int width = 0;  // W and H of the sample's symbol
    int height = 0;
    std::shared_ptr<CsvSource> csv;  // a CSV source's rows (the record plan then holds R only)
};

// The record loop's progress: range (0, 1000) and value 0 when made, then
// the per-mille of each record reached, emitted only when it changes. Any
// loop (one thread or several writing in order) reports through one.
class RecordProgress {
public:
    RecordProgress(GenerationFeedback& feedback, qint64 count);
    void reached(qint64 number);  // 1-based number of the record written
private:
    GenerationFeedback& feedback_;
    double count_;
    int last_ = 0;
};

// Everything up to the first record: source scan, checks, sample, trial
// encoding, geometry, header, outputs opened (temporaries). On failure, the
// error with the French text of the refusal.
// Emits progressRange(0, 0) / progressValue(0) around a text scan (checking
// liveness and cancellation before each line) but not the record loop's
// progressRange(0, 1000).
Error prepareGeneration(const GenerationJob& job, GenerationFeedback& feedback, PreparedRun& run, OutputWriter& writer);

// The record loop of a prepared run on the calling thread: progress range
// (0, 1000) and value 0, then for each record the cancellation check, the
// per-mille progress (emitted when it changes), liveness, read, code, write.
// `current` holds the 1-based number of the record at hand. Does not commit.
Error runRecords(PreparedRun& run, OutputWriter& writer, GenerationFeedback& feedback, std::atomic<qint64>& current);

}  // namespace codiflux
