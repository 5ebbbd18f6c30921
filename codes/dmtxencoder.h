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
    // Stands for dmtxEncodeDataMatrix (encoder, length, bytes); non-zero is success.
    using EncodeFunction = std::function<int(DmtxEncode*, int, unsigned char*)>;
    // Told, on the thread, that an abandoned encoder has just been destroyed
    // (the pointer identifies it and must not be used).
    using ReleaseFunction = std::function<void(const DmtxEncode*)>;

    // Takes the encoder and a (shared) copy of the input bytes for the run.
    DmtxEncoder(DmtxEncodePtr encoder, const QByteArray& bytes, QObject* parent = nullptr);
    ~DmtxEncoder() override;

    // Valid once the thread has finished.
    int result() const { return result_; }
    // Gives the encoder back to the caller once the thread has finished in time.
    DmtxEncodePtr takeEncoder();

    // Called by the owner that stops waiting: from now on the thread releases
    // the encoder and the bytes itself when the library call returns. Returns
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

    DmtxEncodePtr encoder_;
    QByteArray bytes_;
    int result_ = 0;
    std::atomic<int> state_{Running};
    EncodeFunction encode_;
    ReleaseFunction released_;
};

// Runs dmtxEncodeDataMatrix on a DmtxEncoder thread and waits at most
// `timeoutMs`. Returns the library's result (non-zero is success), with the
// encoder back in `encoder`. After the time limit returns 0 and leaves
// `encoder` empty: the thread keeps the encoder and the bytes, lets the call
// end in the background, releases them there and then deletes itself through
// the calling thread's event loop.
int runDmtxEncoder(DmtxEncodePtr& encoder, const QByteArray& bytes, int timeoutMs = 3000);

}  // namespace codiflux
