#include "codes/dmtxencoder.h"

#include <utility>

namespace codiflux {

namespace {

DmtxEncoder::EncodeFunction& encodeHook()
{
    static DmtxEncoder::EncodeFunction hook;
    return hook;
}

DmtxEncoder::ReleaseFunction& releaseHook()
{
    static DmtxEncoder::ReleaseFunction hook;
    return hook;
}

std::atomic<int> liveThreads{0};

}  // namespace

DmtxEncoder::DmtxEncoder(DmtxEncodePtr encoder, const QByteArray& bytes, QObject* parent)
    : QThread(parent)
    , encoder_(std::move(encoder))
    , bytes_(bytes)
    , encode_(encodeHook())
    , released_(releaseHook())
{
    liveThreads.fetch_add(1, std::memory_order_relaxed);
}

DmtxEncoder::~DmtxEncoder()
{
    // Only reached once run() has returned (finished in time, or deleted
    // after finishing in the background).
    wait();
    liveThreads.fetch_sub(1, std::memory_order_relaxed);
}

int DmtxEncoder::instances()
{
    return liveThreads.load(std::memory_order_relaxed);
}

void DmtxEncoder::setEncodeFunction(EncodeFunction function)
{
    encodeHook() = std::move(function);
}

void DmtxEncoder::setReleaseFunction(ReleaseFunction function)
{
    releaseHook() = std::move(function);
}

DmtxEncodePtr DmtxEncoder::takeEncoder()
{
    return std::move(encoder_);
}

bool DmtxEncoder::abandon()
{
    int expected = Running;
    return state_.compare_exchange_strong(expected, Abandoned, std::memory_order_acq_rel);
}

void DmtxEncoder::run()
{
    const int length = int(bytes_.size());
    // The library reads the input but takes a non-const pointer; the bytes
    // are this thread's own (shared) copy, detached here if needed.
    unsigned char* input = reinterpret_cast<unsigned char*>(bytes_.data());
    result_ = encode_ ? encode_(encoder_.get(), length, input) : dmtxEncodeDataMatrix(encoder_.get(), length, input);

    int expected = Running;
    if (!state_.compare_exchange_strong(expected, Returned, std::memory_order_acq_rel)) {
        // The caller stopped waiting: nobody else will touch these any more.
        const DmtxEncode* released = encoder_.get();
        encoder_.reset();
        bytes_ = QByteArray();
        if (released_)
            released_(released);
    }
}

int runDmtxEncoder(DmtxEncodePtr& encoder, const QByteArray& bytes, int timeoutMs)
{
    if (!encoder)
        return 0;
    auto* thread = new DmtxEncoder(std::move(encoder), bytes);
    // An abandoned thread object goes once it has finished, through this
    // thread's event loop (the connection is queued: the object lives here).
    // In the ordinary case it is deleted below, which drops that event.
    QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start();
    if (!thread->wait(QDeadlineTimer(timeoutMs)) && thread->abandon()) {
        // The thread owns the encoder and the bytes now and releases them
        // when the library call returns.
        return 0;
    }
    // Finished in time (or just at the limit, before being handed over).
    thread->wait();
    const int result = thread->result();
    encoder = thread->takeEncoder();
    delete thread;
    return result;
}

}  // namespace codiflux
