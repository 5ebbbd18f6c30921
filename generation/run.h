#pragma once
// The set-up of a run up to its first record, and the record loop of one
// thread (rundriver.h codes records on several and writes them in order).

#include "bases/source.h"
#include "generation/coder.h"
#include "generation/valuetemplate.h"
#include "generation/writer.h"

#include <atomic>
#include <memory>
#include <optional>

namespace codiflux {

struct PreparedRun;

// What a run reports while it prepares (and what the record loop uses).
class GenerationFeedback {
public:
    virtual ~GenerationFeedback() = default;
    virtual bool cancelled() { return false; }
    virtual void liveness() { }
    virtual void progressRange(int, int) { }
    virtual void progressValue(int) { }
    // runGeneration(): the set-up passed (the run's geometry is known), and
    // the files are about to be closed and moved into place or removed.
    virtual void prepared(const PreparedRun&) { }
    virtual void closing() { }
};

// The records of a run between their read and their write, held in numbered
// slots, so that one loop (on one thread, or windows coded on several) serves
// every kind of source. Slots are made by reserve(); a slot's record is read,
// then coded, then written. read() and write() are called from one thread at
// a time, in source order; code() may run on several threads at once on
// distinct slots, while read() fills others.
class RecordPass {
public:
    virtual ~RecordPass() = default;
    virtual void reserve(std::size_t count) = 0;
    // Reads the next record of the source, number `number` (1-based), into the slot.
    virtual Error read(std::size_t slot, qint64 number) = 0;
    // Codes the slot's record, number `number`; fails (ValueRefused) with the text naming it.
    virtual Error code(std::size_t slot, qint64 number) = 0;
    // After a successful code(): its R bytes of font text (which a test hook
    // may alter before the write), and the value the library was given.
    virtual char* codeText(std::size_t slot) = 0;
    virtual QByteArrayView encodedValue(std::size_t slot) const = 0;
    virtual Error write(std::size_t slot, OutputWriter& writer) = 0;
};

// A prepared run owns its source, its coder and its pass (which refers to
// both), so it stays where it was made.
struct PreparedRun {
    PreparedRun() = default;
    PreparedRun(const PreparedRun&) = delete;
    PreparedRun& operator=(const PreparedRun&) = delete;

    std::unique_ptr<Source> source;  // the job's base, started for the record pass
    RecordPassKind passKind = RecordPassKind::DbfCopy;  // its format's pass for it
    std::optional<RecordCoder> coder;
    ValueTranscoder transcoder;  // the source's code page to the symbol's bytes (the plan's value rule)
    std::unique_ptr<ValueTemplate> valueTemplate;  // the job's value template, when it has one (uses transcoder)
    RecordPlan plan;  // a fixed-length source's record plan (a CSV run's holds R only)
    std::unique_ptr<RecordPass> pass;
    qint64 recordCount = 0;
    int width = 0;  // W and H of the sample's symbol
    int height = 0;
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

// The outputs (the copied memo's included) must not be a file the run reads
// (the source, the memo the engine reads, the memo copied), nor one another.
Error checkDestinations(const GenerationJob& job, const OutputFiles& files, const QString& sourceMemo);

// Starts the record pass of the run's source and opens the outputs (the memo
// copied beside the DBF); on failure the outputs are discarded.
Error openOutputs(GenerationFeedback& feedback, PreparedRun& run, OutputWriter& writer, const QByteArray& header,
                  const QString& sourceMemo);

// The value a value template `text` makes, as a preview shows it: for a base
// copied row by row the longest one (its run's sample), otherwise that of
// record `record` (1-based). Read with `forced` when not null, into the
// symbol's bytes (UTF-8 when `utf8`).
Error composedSample(const BaseFormat& format, const QString& path, const QString& text, qint64 record,
                     const CodePage* forced, bool utf8, QByteArray* bytes);

// The record loop of a prepared run on the calling thread: progress range
// (0, 1000) and value 0, then for each record the cancellation check, the
// per-mille progress (emitted when it changes), liveness, read, code, write.
// `current` holds the 1-based number of the record at hand. Does not commit.
// Every kind of source goes through its run's RecordPass.
Error runRecords(PreparedRun& run, OutputWriter& writer, GenerationFeedback& feedback, std::atomic<qint64>& current);

}  // namespace codiflux
