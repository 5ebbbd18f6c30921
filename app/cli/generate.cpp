// The command line's generation: the run driver of the generation core, with
// the command's cancellation, progress bar, read-back and report.

#include "app/cli/cli.h"

#include "generation/readback.h"
#include "generation/rundriver.h"

namespace codiflux::cli {

namespace {

class Feedback : public GenerationFeedback {
public:
    Feedback(const RunControl& control, RunReport* report)
        : control_(control)
        , report_(report)
    { }
    bool cancelled() override { return control_.cancel && control_.cancel->load(std::memory_order_relaxed); }
    void progressValue(int value) override
    {
        if (control_.progress)
            control_.progress(value);
    }
    void prepared(const PreparedRun& run) override
    {
        if (!report_)
            return;
        report_->records = run.recordCount;
        report_->width = run.width;
        report_->height = run.height;
        report_->fieldLength = run.plan.codeLength;
    }

private:
    const RunControl& control_;
    RunReport* report_;
};

// Attached while the run's files may exist: detached before they go,
// whichever way the run ends.
class Attachment {
public:
    Attachment(RunAbandon* abandon, OutputFiles* files)
        : abandon_(abandon)
    {
        if (abandon_)
            abandon_->attach(files);
    }
    ~Attachment()
    {
        if (abandon_)
            abandon_->detach();
    }
    Attachment(const Attachment&) = delete;
    Attachment& operator=(const Attachment&) = delete;

private:
    RunAbandon* abandon_;
};

}  // namespace

Error generate(const GenerationJob& job, const RunControl& control, RunReport* report)
{
    Feedback feedback(control, report);
    OutputFiles files;
    files.plan(job);
    Attachment attachment(control.abandon, &files);
    RunOptions options;
    options.threads = control.jobs;
    options.batch = control.batch;
    if (control.verify || control.tamper)
        options.check = readBackCheck(control.verify, control.tamper);
    std::atomic<qint64> current{0};
    return runGeneration(job, files, feedback, options, current);
}

}  // namespace codiflux::cli
