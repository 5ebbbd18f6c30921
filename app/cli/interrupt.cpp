// An interrupted command line: the run under way given up by a thread of its
// own when the program does not stop by itself in time.

#include "app/cli/cli.h"

namespace codiflux::cli {

void RunAbandon::attach(OutputFiles* files)
{
    std::lock_guard lock(mutex_);
    files_ = files;
}

void RunAbandon::detach()
{
    std::lock_guard lock(mutex_);
    files_ = nullptr;
}

bool RunAbandon::abandon()
{
    std::lock_guard lock(mutex_);
    return !files_ || files_->withdraw();
}

void RunAbandon::setStopText(const QString& text)
{
    std::lock_guard lock(mutex_);
    stopText_ = text;
}

QString RunAbandon::stopText()
{
    std::lock_guard lock(mutex_);
    return stopText_;
}

InterruptGuard::InterruptGuard(const std::atomic<bool>& interrupted, RunAbandon& abandon,
                               std::chrono::milliseconds delay, std::function<void()> stop)
    : interrupted_(interrupted)
    , abandon_(abandon)
    , delay_(delay)
    , stop_(std::move(stop))
    , thread_([this] { watch(); })
{ }

InterruptGuard::~InterruptGuard()
{
    finish();
    thread_.join();
}

void InterruptGuard::finish()
{
    finished_.store(true);
}

void InterruptGuard::watch()
{
    using namespace std::chrono;
    constexpr milliseconds kPoll{10};
    while (!finished_.load() && !interrupted_.load())
        std::this_thread::sleep_for(kPoll);
    const auto deadline = steady_clock::now() + delay_;
    while (!finished_.load() && steady_clock::now() < deadline)
        std::this_thread::sleep_for(kPoll);
    if (!finished_.load() && abandon_.abandon() && stop_)
        stop_();
}

}  // namespace codiflux::cli
