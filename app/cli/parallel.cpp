// The record loop on several threads. The reading thread fills a window of
// records in source order while the coding threads work on the previous one;
// once a window is coded its records are written in order. Memory is two
// windows of jobs x batch records, whatever the size of the base.

#include "app/cli/cli.h"

#include "codes/verify.h"

#include <QCoreApplication>

#include <algorithm>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace codiflux::cli {

namespace {

class Feedback : public GenerationFeedback {
public:
    explicit Feedback(const RunControl& control)
        : control_(control)
    { }
    bool cancelled() override { return control_.cancel && control_.cancel->load(std::memory_order_relaxed); }
    void progressValue(int value) override
    {
        if (control_.progress)
            control_.progress(value);
    }

private:
    const RunControl& control_;
};

// A failed record of a window.
struct Failure {
    bool coding = true;  // coding failed; otherwise the check did
    RecordCoder::Result result;
    QByteArray expected;             // the value the code should give back
    std::optional<QByteArray> read;  // what the decoder gave
};

// A window of records held in the pass's slots [base, base + count).
struct Window {
    std::size_t base = 0;
    qint64 first = 1;  // number of the first record
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
        : job_(generationJob)
        , run_(preparedRun)
        , control_(runControl)
    {
        for (int i = 0; i < threads; ++i)
            workers_.emplace_back([this] { work(); });
    }
    ~CodingPool()
    {
        {
            std::unique_lock lock(mutex_);
            done_.wait(lock, [this] { return !current_ || current_->active == 0; });
            stopping_ = true;
        }
        wake_.notify_all();
        for (std::thread& t : workers_)
            t.join();
    }
    CodingPool(const CodingPool&) = delete;
    CodingPool& operator=(const CodingPool&) = delete;

    void submit(Window& window)
    {
        {
            std::lock_guard lock(mutex_);
            window.nextChunk = 0;
            window.active = int(workers_.size());
            current_ = &window;
            ++generation_;
        }
        wake_.notify_all();
    }

    void wait(Window& window)
    {
        std::unique_lock lock(mutex_);
        done_.wait(lock, [&window] { return window.active == 0; });
    }

private:
    static constexpr int kChunk = 16;

    void work()
    {
        std::unique_ptr<FieldTextDecoder> decoder;
        if (control_.verify) {
            decoder
                = std::make_unique<FieldTextDecoder>(run_.width, run_.height, job_.options, job_.parameters.symbology);
            decoder->setGs1(run_.coder->gs1());
        }
        std::uint64_t seen = 0;
        for (;;) {
            Window* window = nullptr;
            {
                std::unique_lock lock(mutex_);
                wake_.wait(lock, [&] { return stopping_ || generation_ != seen; });
                if (stopping_)
                    return;
                seen = generation_;
                window = current_;
            }
            for (;;) {
                const int begin = window->nextChunk.fetch_add(1, std::memory_order_relaxed) * kChunk;
                if (begin >= window->count)
                    break;
                const int end = std::min(window->count, begin + kChunk);
                for (int i = begin; i < end; ++i)
                    code(*window, i, decoder.get());
            }
            {
                std::lock_guard lock(mutex_);
                if (--window->active == 0)
                    done_.notify_all();
            }
        }
    }

    void code(Window& window, int index, FieldTextDecoder* decoder)
    {
        RecordPass& pass = *run_.pass;
        const std::size_t slot = window.base + std::size_t(index);
        const RecordCoder::Result result = pass.code(slot);
        if (!result.ok()) {
            std::lock_guard lock(window.failuresLock);
            window.failures[index] = Failure{true, result, {}, {}};
            return;
        }
        char* codeText = pass.codeText(slot);
        const int codeLength = run_.plan.codeLength;
        if (control_.tamper)
            control_.tamper(window.first + index, codeText, codeLength);
        const QByteArrayView encoded = pass.encodedValue(slot, result);
        if (!decoder || isBlankValue(encoded.data(), encoded.size()))
            return;
        // What the library was given: Datamatrix the whole value, QR the bytes
        // before a NUL; GS1 "]d2" and the element string.
        QByteArray value = run_.coder->expectedReading(encoded.data(), int(encoded.size()));
        std::optional<QByteArray> read = decoder->decode(codeText, codeLength);
        if (read && run_.coder->gs1())
            read->prepend(decoder->symbologyIdentifier());
        if (!read || *read != value) {
            std::lock_guard lock(window.failuresLock);
            window.failures[index] = Failure{false, result, std::move(value), std::move(read)};
        }
    }

    const GenerationJob& job_;
    const PreparedRun& run_;
    const RunControl& control_;
    std::vector<std::thread> workers_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    Window* current_ = nullptr;
    std::uint64_t generation_ = 0;
    bool stopping_ = false;
};

// Reads the next records in source order into a window, up to its room; the
// first record that cannot be read (or the cancellation) ends the reading.
class WindowFiller {
public:
    WindowFiller(RecordPass& pass, GenerationFeedback& feedback, qint64 count, int room)
        : pass_(pass)
        , feedback_(feedback)
        , count_(count)
        , room_(room)
    { }
    void fill(Window& window)
    {
        window.first = next_;
        window.count = 0;
        window.failures.clear();
        while (window.count < room_ && next_ <= count_ && !stopped_) {
            if (feedback_.cancelled()) {
                stopped_ = Error(ErrorCode::Cancelled, cancelledText());
                break;
            }
            stopped_ = pass_.read(window.base + std::size_t(window.count), next_);
            if (stopped_)
                break;
            ++window.count;
            ++next_;
        }
    }
    const Error& stopped() const { return stopped_; }  // reported once every record before it is written

private:
    RecordPass& pass_;
    GenerationFeedback& feedback_;
    const qint64 count_;
    const int room_;
    qint64 next_ = 1;
    Error stopped_;
};

// Writes the records of a coded window in order, up to its first failure.
Error drain(Window& window, RecordPass& pass, OutputWriter& writer, RecordProgress& progress)
{
    const int firstFailure = window.failures.empty() ? window.count : window.failures.begin()->first;
    for (int i = 0; i < firstFailure; ++i) {
        progress.reached(window.first + i);
        if (Error error = pass.write(window.base + std::size_t(i), writer))
            return error;
    }
    if (firstFailure == window.count)
        return {};
    const Failure& f = window.failures.begin()->second;
    const qint64 number = window.first + firstFailure;
    if (f.coding)
        return Error(ErrorCode::ValueRefused,
                     pass.failureText(window.base + std::size_t(firstFailure), f.result, number));
    return Error(ErrorCode::VerifyFailed, verifyFailureText(number, f.expected, f.read));
}

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

Error runRecordsParallel(const GenerationJob& job, PreparedRun& run, OutputWriter& writer, GenerationFeedback& feedback,
                         const RunControl& control)
{
    RecordPass& pass = *run.pass;
    const int jobs = std::max(1, control.jobs);
    const int room
        = int(std::min<qint64>(qint64(std::max(1, control.batch)) * jobs, std::max<qint64>(run.recordCount, 1)));
    pass.reserve(2 * std::size_t(room));
    RecordProgress progress(feedback, run.recordCount);
    WindowFiller filler(pass, feedback, run.recordCount, room);

    Window windows[2];
    windows[1].base = std::size_t(room);
    CodingPool pool(jobs, job, run, control);
    Window* coding = &windows[0];
    Window* reading = &windows[1];
    filler.fill(*coding);
    if (coding->count > 0)
        pool.submit(*coding);
    while (coding->count > 0) {
        filler.fill(*reading);  // while the pool codes the other window
        pool.wait(*coding);
        if (reading->count > 0)
            pool.submit(*reading);
        if (Error error = drain(*coding, pass, writer, progress))
            return error;  // the pool finishes the other window before it goes
        std::swap(coding, reading);
    }
    return filler.stopped();
}

Error generate(const GenerationJob& job, const RunControl& control, RunReport* report)
{
    Feedback feedback(control);
    OutputFiles files;
    files.plan(job);
    // Detached before the files go, whichever way the run ends.
    struct Attachment {
        RunAbandon* abandon;
        Attachment(RunAbandon* runAbandon, OutputFiles* outputs)
            : abandon(runAbandon)
        {
            if (abandon)
                abandon->attach(outputs);
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
    if (!failure) {
        if (report) {
            report->records = run.recordCount;
            report->width = run.width;
            report->height = run.height;
            report->fieldLength = run.plan.codeLength;
        }
        std::atomic<qint64> current{0};
        if (control.jobs <= 1 && !control.verify && !control.tamper)
            failure = runRecords(run, writer, feedback, current);
        else
            failure = runRecordsParallel(job, run, writer, feedback, control);
    }
    if (run.source)
        run.source->stop();
    if (!failure && feedback.cancelled())
        failure = Error(ErrorCode::Cancelled, cancelledText());
    if (failure) {
        writer.discard();
        return failure;
    }
    return writer.commit();
}

}  // namespace codiflux::cli
