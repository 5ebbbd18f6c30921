// The record loop on several threads. The reading thread fills a window of
// records in source order while the coding threads work on the previous one;
// once a window is coded its records are written in order. Memory is two
// windows of jobs x batch records, whatever the size of the base.

#include "app/cli/cli.h"

#include "codes/verify.h"

#include <QCoreApplication>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace codiflux::cli {

namespace {

class Feedback : public GenerationFeedback {
public:
    explicit Feedback(const RunControl& runControl)
        : control(runControl)
    { }
    bool cancelled() override { return control.cancel && control.cancel->load(std::memory_order_relaxed); }
    void progressValue(int value) override
    {
        if (control.progress)
            control.progress(value);
    }

private:
    const RunControl& control;
};

// A failed record of a window.
struct Failure {
    bool coding = true;  // coding failed; otherwise the check did
    RecordCoder::Result result;
    QByteArray expected;             // the value the code should give back
    std::optional<QByteArray> read;  // what the decoder gave
};

struct Window {
    std::vector<char> data;  // count records of `stride` bytes
    qint64 first = 1;        // number of the first record
    int count = 0;
    std::atomic<int> nextChunk{0};
    int active = 0;  // coding threads still at work (under the pool's lock)
    std::mutex failuresLock;
    std::map<int, Failure> failures;  // by index in the window
};

class CodingPool {
public:
    CodingPool(int threads, const GenerationJob& generationJob, const PreparedRun& preparedRun,
               const RunControl& runControl)
        : job(generationJob)
        , run(preparedRun)
        , control(runControl)
    {
        for (int i = 0; i < threads; ++i)
            workers.emplace_back([this] { work(); });
    }
    ~CodingPool()
    {
        {
            std::unique_lock lock(mutex);
            done.wait(lock, [this] { return !current || current->active == 0; });
            stopping = true;
        }
        wake.notify_all();
        for (std::thread& t : workers)
            t.join();
    }

    void submit(Window& window)
    {
        {
            std::lock_guard lock(mutex);
            window.nextChunk = 0;
            window.active = int(workers.size());
            current = &window;
            ++generation;
        }
        wake.notify_all();
    }

    void wait(Window& window)
    {
        std::unique_lock lock(mutex);
        done.wait(lock, [&window] { return window.active == 0; });
    }

private:
    static constexpr int kChunk = 16;

    void work()
    {
        std::unique_ptr<FieldTextDecoder> decoder;
        if (control.verify)
            decoder = std::make_unique<FieldTextDecoder>(run.width, run.height, job.options, job.parameters.symbology);
        QByteArray value;
        std::uint64_t seen = 0;
        for (;;) {
            Window* window = nullptr;
            {
                std::unique_lock lock(mutex);
                wake.wait(lock, [&] { return stopping || generation != seen; });
                if (stopping)
                    return;
                seen = generation;
                window = current;
            }
            for (;;) {
                const int begin = window->nextChunk.fetch_add(1, std::memory_order_relaxed) * kChunk;
                if (begin >= window->count)
                    break;
                const int end = std::min(window->count, begin + kChunk);
                for (int i = begin; i < end; ++i)
                    code(*window, i, decoder.get(), value);
            }
            {
                std::lock_guard lock(mutex);
                if (--window->active == 0)
                    done.notify_all();
            }
        }
    }

    void code(Window& window, int index, FieldTextDecoder* decoder, QByteArray& value)
    {
        const RecordPlan& plan = run.plan;
        char* record = window.data.data() + std::size_t(index) * std::size_t(plan.bufferLength());
        const RecordCoder::Result result = plan.encode(*run.coder, record);
        if (!result.ok()) {
            std::lock_guard lock(window.failuresLock);
            window.failures[index] = Failure{true, result, {}, {}};
            return;
        }
        char* codeText = record + plan.insertion;
        if (control.tamper)
            control.tamper(window.first + index, codeText, plan.codeLength);
        // The value encoded stays behind the record: what the code must give back.
        const char* encoded = record + plan.valueSlot();
        if (!decoder || isBlankValue(encoded, result.valueLength))
            return;
        // What the library was given: Datamatrix the whole value, QR the bytes before a NUL.
        value = QByteArray(encoded, run.coder->inputLength(encoded, result.valueLength));
        std::optional<QByteArray> read = decoder->decode(codeText, plan.codeLength);
        if (!read || *read != value) {
            std::lock_guard lock(window.failuresLock);
            window.failures[index] = Failure{false, result, value, std::move(read)};
        }
    }

    const GenerationJob& job;
    const PreparedRun& run;
    const RunControl& control;
    std::vector<std::thread> workers;
    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable done;
    Window* current = nullptr;
    std::uint64_t generation = 0;
    bool stopping = false;
};

}  // namespace

QString verifyFailureText(qint64 record, const QByteArray& expected, const std::optional<QByteArray>& read)
{
    const QString value = QString::fromLatin1(expected);
    if (!read)
        return QCoreApplication::translate("codiflux-cli",
                                           "Vérification : le code de l'enregistrement n°%1 ne se relit pas.\n"
                                           "Valeur à encoder : « %2 »")
            .arg(QString::number(record), value);
    return QCoreApplication::translate("codiflux-cli",
                                       "Vérification : le code de l'enregistrement n°%1 ne redonne pas sa valeur.\n"
                                       "Valeur à encoder : « %2 »\nValeur relue : « %3 »")
        .arg(QString::number(record), value, QString::fromLatin1(*read));
}

bool runRecordsParallel(const GenerationJob& job, PreparedRun& run, OutputWriter& writer, GenerationFeedback& feedback,
                        const RunControl& control, QString* error)
{
    if (run.csv)
        return runCsvRecordsParallel(job, run, writer, feedback, control, error);
    auto fail = [error](const QString& text) {
        if (error)
            *error = text;
        return false;
    };
    const RecordPlan& plan = run.plan;
    const qint64 count = run.recordCount;
    const int jobs = std::max(1, control.jobs);
    const int capacity = std::max(1, control.batch) * jobs;
    const std::size_t stride = std::size_t(plan.bufferLength());

    RecordProgress progress(feedback, count);

    Window windows[2];
    for (Window& w : windows)
        w.data.resize(stride * std::size_t(std::min<qint64>(capacity, std::max<qint64>(count, 1))));
    const int room = int(windows[0].data.size() / stride);

    qint64 next = 1;         // next record to read
    qint64 shortRecord = 0;  // the record that could not be read whole
    bool cancelled = false;
    auto fill = [&](Window& w) {
        w.first = next;
        w.count = 0;
        w.failures.clear();
        while (w.count < room && next <= count && !shortRecord && !cancelled) {
            if (feedback.cancelled()) {
                cancelled = true;
                break;
            }
            if (!run.source->next(w.data.data() + std::size_t(w.count) * stride)) {
                shortRecord = next;
                break;
            }
            ++w.count;
            ++next;
        }
    };

    // Writes the records of a coded window in order, up to its first failure.
    auto drain = [&](Window& w) -> bool {
        const int firstFailure = w.failures.empty() ? w.count : w.failures.begin()->first;
        for (int i = 0; i < firstFailure; ++i) {
            const qint64 number = w.first + i;
            progress.reached(number);
            if (!writer.writeRecord(w.data.data() + std::size_t(i) * stride, plan.outputLength(), error))
                return false;
        }
        if (firstFailure == w.count)
            return true;
        const Failure& f = w.failures.begin()->second;
        const qint64 number = w.first + firstFailure;
        if (f.coding) {
            const char* record = w.data.data() + std::size_t(firstFailure) * stride;
            return fail(plan.failureText(*run.coder, f.result, number, record));
        }
        return fail(verifyFailureText(number, f.expected, f.read));
    };

    CodingPool pool(jobs, job, run, control);
    Window* coding = &windows[0];
    Window* reading = &windows[1];
    fill(*coding);
    if (coding->count > 0)
        pool.submit(*coding);
    while (coding->count > 0) {
        fill(*reading);  // while the pool codes the other window
        pool.wait(*coding);
        if (reading->count > 0)
            pool.submit(*reading);
        if (!drain(*coding))
            return false;  // the pool finishes the other window before it goes
        std::swap(coding, reading);
    }
    if (cancelled)
        return fail(cancelledText());
    if (shortRecord)
        return fail(run.source->shortRecordText(shortRecord));
    return true;
}

bool generate(const GenerationJob& job, const RunControl& control, QString* error, RunReport* report)
{
    Feedback feedback(control);
    OutputFiles files;
    files.plan(job);
    // Detached before the files go, whichever way the run ends.
    struct Attachment {
        RunAbandon* abandon;
        Attachment(RunAbandon* runAbandon, OutputFiles* files)
            : abandon(runAbandon)
        {
            if (abandon)
                abandon->attach(files);
        }
        ~Attachment()
        {
            if (abandon)
                abandon->detach();
        }
    } attachment(control.abandon, &files);
    OutputWriter writer(files);  // removes its temporaries unless committed
    PreparedRun run;
    Error failure = prepareGeneration(job, feedback, run, writer);
    if (failure && error)
        *error = failure.text;
    bool ok = !failure;
    if (ok) {
        if (report) {
            report->records = run.recordCount;
            report->width = run.width;
            report->height = run.height;
            report->fieldLength = run.plan.codeLength;
        }
        if (control.jobs <= 1 && !control.verify && !control.tamper) {
            std::atomic<qint64> current{0};
            failure = runRecords(run, writer, feedback, current);
            if (failure && error)
                *error = failure.text;
            ok = !failure;
        } else {
            ok = runRecordsParallel(job, run, writer, feedback, control, error);
        }
    }
    if (run.source)
        run.source->stop();
    if (ok && feedback.cancelled()) {
        ok = false;
        if (error)
            *error = cancelledText();
    }
    if (ok)
        ok = writer.commit(error);
    else
        writer.discard();
    return ok;
}

}  // namespace codiflux::cli
