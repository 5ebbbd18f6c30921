#pragma once
// The one libdmtx call of a preview, run on a thread of its own so that a call
// that does not return in time cannot hang the window.

#include "codes/encoding.h"

#include <QByteArray>
#include <QThread>

#include <atomic>
#include <functional>

namespace codiflux {

class DmtxEncoder : public QThread {
    Q_OBJECT
public:
    // Stands for the library's Datamatrix call, as DatamatrixEncodeFunction.
    using EncodeFunction = DatamatrixEncodeFunction;
    // Told, on the thread, that an abandoned encoder has just been released.
    using ReleaseFunction = std::function<void()>;

    // Takes the prepared (not yet encoded) symbol and a (shared) copy of the
    // input bytes for the run.
    DmtxEncoder(EncodedSymbol prepared, const QByteArray& bytes, QObject* parent = nullptr);
    ~DmtxEncoder() override;

    // Valid once the thread has finished.
    bool succeeded() const { return succeeded_; }
    // Gives the symbol back to the caller once the thread has finished in time.
    EncodedSymbol takeSymbol();

    // Called by the owner that stops waiting: from now on the thread releases
    // the symbol and the bytes itself when the library call returns. Returns
    // false when the call had already returned (nothing is handed over then).
    bool abandon();

    // Thread objects alive (running, or finished and not yet deleted).
    static int instances();

    // Test hooks, read when a thread object is built (not while one runs).
    static void setEncodeFunction(EncodeFunction function);
    static void setReleaseFunction(ReleaseFunction function);

protected:
    void run() override;

private:
    enum State : int { Running, Returned, Abandoned };

    EncodedSymbol symbol_;
    QByteArray bytes_;
    bool succeeded_ = false;
    std::atomic<int> state_{Running};
    EncodeFunction encode_;
    ReleaseFunction released_;
};

// Runs the library's Datamatrix call for `symbol` (prepared, not yet encoded)
// on a DmtxEncoder thread and waits at most `timeoutMs`. True when the call
// succeeded in time, with the symbol back in `symbol`. After the time limit
// gives false and leaves `symbol` empty: the thread keeps the symbol and the
// bytes, lets the call end in the background, releases them there and then
// deletes itself through the calling thread's event loop.
bool runDmtxEncoder(EncodedSymbol& symbol, const QByteArray& bytes, int timeoutMs = 3000);

}  // namespace codiflux
