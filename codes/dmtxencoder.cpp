#include "codes/dmtxencoder.h"

#include "codes/libraries.h"

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

DmtxEncoder::DmtxEncoder(EncodedSymbol prepared, const QByteArray& bytes, QObject* parent)
    : QThread(parent)
    , symbol_(std::move(prepared))
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

EncodedSymbol DmtxEncoder::takeSymbol()
{
    return std::move(symbol_);
}

bool DmtxEncoder::abandon()
{
    int expected = Running;
    return state_.compare_exchange_strong(expected, Abandoned, std::memory_order_acq_rel);
}

void DmtxEncoder::run()
{
    DmtxEncodePtr encoder = SymbolAccess::takeDatamatrix(symbol_);
    succeeded_ = encoder && runDatamatrixEncode(encode_, encoder.get(), bytes_);
    SymbolAccess::hold(symbol_, std::move(encoder));

    int expected = Running;
    if (!state_.compare_exchange_strong(expected, Returned, std::memory_order_acq_rel)) {
        // The caller stopped waiting: nobody else will touch these any more.
        symbol_.clear();
        bytes_ = QByteArray();
        if (released_)
            released_();
    }
}

bool runDmtxEncoder(EncodedSymbol& symbol, const QByteArray& bytes, int timeoutMs)
{
    if (!SymbolAccess::datamatrix(symbol))
        return false;
    auto* thread = new DmtxEncoder(std::move(symbol), bytes);
    // An abandoned thread object goes once it has finished, through this
    // thread's event loop (the connection is queued: the object lives here).
    // In the ordinary case it is deleted below, which drops that event.
    QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start();
    if (!thread->wait(QDeadlineTimer(timeoutMs)) && thread->abandon()) {
        // The thread owns the symbol and the bytes now and releases them
        // when the library call returns.
        return false;
    }
    // Finished in time (or just at the limit, before being handed over).
    thread->wait();
    const bool succeeded = thread->succeeded();
    symbol = thread->takeSymbol();
    delete thread;
    return succeeded;
}

}  // namespace codiflux
