#include "generation/rundriver.h"

#include "generation/texts.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

namespace codiflux {

namespace {

// A record of a window that is not to be written, and why.
struct Failure {
    enum class Kind { Coding, Check, Cancelled, OutOfMemory };
    Kind kind = Kind::Coding;
    Error error;  // Coding: the coder's refusal; Check: the check's own
};

// A window of records held in the pass's slots [base, base + count).
struct Window {
    std::size_t base = 0;
    qint64 first = 1;  // number of the first record
    int count = 0;
    std::atomic<int> nextChunk{0};
    std::atomic<int> coded{0};  // records coded so far, for the liveness of a wait
    int active = 0;             // coding threads still at work (under the pool's lock)
    std::mutex failuresLock;
    std::map<int, Failure> failures;  // by index in the window
};

// The coding threads. A window is handed to every thread, which take chunks
// of it until none is left. The owner waits for each window it submits and
// calls finish() before it goes; the destructor only joins, so that a thread
// terminated while it waits (the window's watchdog) still lets the coding
// threads finish the window before the stack they read goes.
class CodingPool {
public:
    CodingPool(int threads, const GenerationJob& generationJob, const PreparedRun& preparedRun,
               GenerationFeedback& runFeedback, const RunOptions& runOptions)
        : job_(generationJob)
        , run_(preparedRun)
        , feedback_(runFeedback)
        , options_(runOptions)
    {
        for (int i = 0; i < threads; ++i)
            workers_.emplace_back([this] { work(); });
    }
    ~CodingPool() { finish(); }
    CodingPool(const CodingPool&) = delete;
    CodingPool& operator=(const CodingPool&) = delete;

    void submit(Window& window)
    {
        {
            std::lock_guard lock(mutex_);
            window.nextChunk = 0;
            window.coded = 0;
            window.active = int(workers_.size());
            current_ = &window;
            ++generation_;
        }
        wake_.notify_all();
    }

    // Waits for the window's coding; meanwhile tells the feedback the run is
    // alive as long as records get coded.
    void wait(Window& window)
    {
        constexpr std::chrono::milliseconds kSlice{50};
        int seen = 0;
        std::unique_lock lock(mutex_);
        while (!done_.wait_for(lock, kSlice, [&window] { return window.active == 0; })) {
            const int coded = window.coded.load(std::memory_order_relaxed);
            if (coded != seen) {
                seen = coded;
                lock.unlock();
                feedback_.liveness();
                lock.lock();
            }
        }
    }

    // Lets the window under way end, then stops and joins the threads.
    void finish()
    {
        if (workers_.empty())
            return;
        {
            std::unique_lock lock(mutex_);
            done_.wait(lock, [this] { return !current_ || current_->active == 0; });
            stopping_ = true;
        }
        wake_.notify_all();
        for (std::thread& t : workers_)
            t.join();
        workers_.clear();
    }

private:
    static constexpr int kChunk = 16;

    void work()
    {
        std::unique_ptr<RecordCheck> check = options_.check ? options_.check(job_, run_) : nullptr;
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
                if (feedback_.cancelled()) {  // the rest of the window is not coded
                    std::lock_guard lock(window->failuresLock);
                    window->failures[begin] = Failure{Failure::Kind::Cancelled, {}};
                    continue;
                }
                const int end = std::min(window->count, begin + kChunk);
                for (int i = begin; i < end; ++i) {
                    try {
                        code(*window, i, check.get());
                    } catch (const std::bad_alloc&) {
                        std::lock_guard lock(window->failuresLock);
                        window->failures[i] = Failure{Failure::Kind::OutOfMemory, {}};
                    }
                }
            }
            {
                std::lock_guard lock(mutex_);
                if (--window->active == 0)
                    done_.notify_all();
            }
        }
    }

    void code(Window& window, int index, RecordCheck* check)
    {
        RecordPass& pass = *run_.pass;
        const std::size_t slot = window.base + std::size_t(index);
        Error refused = pass.code(slot, window.first + index);
        window.coded.fetch_add(1, std::memory_order_relaxed);
        if (refused) {
            std::lock_guard lock(window.failuresLock);
            window.failures[index] = Failure{Failure::Kind::Coding, std::move(refused)};
            return;
        }
        if (!check)
            return;
        const QByteArrayView encoded = pass.encodedValue(slot);
        const bool blank = isBlankValue(encoded.data(), encoded.size());
        // What the library was given: Datamatrix the whole value, QR the bytes
        // before a NUL; GS1 "]d2" and the element string.
        const QByteArray value = run_.coder->expectedReading(encoded.data(), int(encoded.size()));
        Error error = check->check(window.first + index, pass.codeText(slot), run_.plan.codeLength, value, blank);
        if (error) {
            std::lock_guard lock(window.failuresLock);
            window.failures[index] = Failure{Failure::Kind::Check, std::move(error)};
        }
    }

    const GenerationJob& job_;
    const PreparedRun& run_;
    GenerationFeedback& feedback_;
    const RunOptions& options_;
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
    qint64 next() const { return next_; }              // the record the reading stopped at

private:
    RecordPass& pass_;
    GenerationFeedback& feedback_;
    const qint64 count_;
    const int room_;
    qint64 next_ = 1;
    Error stopped_;
};

// Writes the records of a coded window in order, up to its first failure,
// each with the single-thread loop's cancellation check, progress and liveness.
Error drain(Window& window, RecordPass& pass, OutputWriter& writer, GenerationFeedback& feedback,
            RecordProgress& progress, std::atomic<qint64>& current)
{
    const int firstFailure = window.failures.empty() ? window.count : window.failures.begin()->first;
    for (int i = 0; i < window.count; ++i) {
        const qint64 number = window.first + i;
        current = number;
        if (feedback.cancelled())
            return Error(ErrorCode::Cancelled, cancelledText());
        if (i == firstFailure)
            break;
        progress.reached(number);
        feedback.liveness();
        if (Error error = pass.write(window.base + std::size_t(i), writer))
            return error;
    }
    if (firstFailure == window.count)
        return {};
    const Failure& f = window.failures.begin()->second;
    switch (f.kind) {
    case Failure::Kind::Coding:
    case Failure::Kind::Check:
        return f.error;
    case Failure::Kind::OutOfMemory:
        return Error(ErrorCode::OutOfMemory, outOfMemoryText());
    case Failure::Kind::Cancelled:
        break;
    }
    return Error(ErrorCode::Cancelled, cancelledText());
}

}  // namespace

Error runRecordsInOrder(const GenerationJob& job, PreparedRun& run, OutputWriter& writer, GenerationFeedback& feedback,
                        const RunOptions& options, std::atomic<qint64>& current)
{
    RecordPass& pass = *run.pass;
    const int threads = std::max(1, options.threads);
    const int room
        = int(std::min<qint64>(qint64(std::max(1, options.batch)) * threads, std::max<qint64>(run.recordCount, 1)));
    pass.reserve(2 * std::size_t(room));
    RecordProgress progress(feedback, run.recordCount);
    WindowFiller filler(pass, feedback, run.recordCount, room);
    current = 1;

    Window windows[2];
    windows[1].base = std::size_t(room);
    CodingPool pool(threads, job, run, feedback, options);
    Window* coding = &windows[0];
    Window* reading = &windows[1];
    Error failure;
    filler.fill(*coding);
    if (coding->count > 0)
        pool.submit(*coding);
    while (coding->count > 0) {
        current = coding->first;  // the next record to write
        filler.fill(*reading);    // while the pool codes the other window
        pool.wait(*coding);
        if (reading->count > 0)
            pool.submit(*reading);
        failure = drain(*coding, pass, writer, feedback, progress, current);
        if (failure)
            break;
        std::swap(coding, reading);
    }
    pool.finish();  // the other window may still be coding
    if (failure)
        return failure;
    current = filler.next();
    if (filler.stopped() && feedback.cancelled())  // checked at the top of the record, as on one thread
        return Error(ErrorCode::Cancelled, cancelledText());
    return filler.stopped();
}

Error runGeneration(const GenerationJob& job, OutputFiles& files, GenerationFeedback& feedback,
                    const RunOptions& options, std::atomic<qint64>& current)
{
    current = 0;
    OutputWriter writer(files);  // removes its temporaries unless committed
    PreparedRun run;
    Error failure = prepareGeneration(job, feedback, run, writer);
    if (!failure) {
        feedback.prepared(run);
        if (options.threads <= 1 && !options.check)
            failure = runRecords(run, writer, feedback, current);
        else
            failure = runRecordsInOrder(job, run, writer, feedback, options, current);
    }
    feedback.closing();
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

}  // namespace codiflux
