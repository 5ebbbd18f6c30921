#pragma once
// codiflux-cli: the batch road to an encoded base, over the same generation
// core as the window. Arguments become a GenerationJob exactly as the window
// captures one; the run codes records on several threads and writes them in
// source order, so its output is byte for byte that of a single-thread run.

#include "bases/error.h"
#include "generation/generationcore.h"
#include "generation/job.h"
#include "settings/parametres.h"

#include <QByteArray>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <QTextStream>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace codiflux::cli {

// What the program returns (main() converts it).
enum class ExitCode : int { Success = 0, Failure = 1, Usage = 2 };

// An error that exits with ExitCode::Usage and points to the help: an
// argument the command does not take, or a parameter the run cannot take.
inline bool isUsageError(const Error& error)
{
    return error.code == ErrorCode::Usage || error.code == ErrorCode::ParameterRefused;
}

enum class Command { Help, Version, Generate, Preview, Font };

// What `font` does with the user's copy of the font.
enum class FontAction { Install, Uninstall };

// What the command line asks for, once the preset and the options given beside
// it are merged.
struct Options {
    Command command = Command::Help;
    QString source;
    QString output;                    // -o
    QString field;                     // --field (DBF field, CSV column by name)
    int column = 0;                    // --column (CSV column, 1-based); 0 when not given
    CsvOptions csv;                    // --delimiter, --encoding (CSV); detected when not given
    std::optional<CodePage> codePage;  // --codepage (DBF, text); empty: auto
    bool hasRange = false;             // --range START:COUNT (text)
    int rangeStart = 0;
    int rangeCount = 0;
    QString preset;                               // --preset; empty when none ("default" names the default set)
    ParameterSet parameters;                      // the preset's values (or ParameterSet{}), options applied
    QString newFieldName;                         // --new-field; empty: "_" + the field's name
    QString hriFieldName;                         // --hri-field: GS1 human-readable text written there
    bool writeText = false;                       // --txt
    bool verify = false;                          // --verify
    int jobs = 1;                                 // --jobs; QThread::idealThreadCount() when not given
    qint64 sampleRecord = 0;                      // --sample; 0: the first record whose value is not blank
    bool progress = true;                         // --no-progress turns the bar off
    bool draw = false;                            // --draw: draw the symbol even when stdout is no terminal
    int dmEngine = 0;                             // --dm-engine: 0 our Datamatrix encoder, 1 libdmtx
    FontAction fontAction = FontAction::Install;  // font --install / --uninstall
};

struct ParseResult {
    Error error;      // a usage error (ErrorCode::Usage) and its French text
    QString message;  // the help or the version text when the command is Help or Version
    Options options;
};

// Parses the arguments (program name excluded). A preset is read from
// `settings` (the window's settings file).
ParseResult parseArguments(const QStringList& arguments, QSettings& settings);

// The French help.
QString helpText();

// The product version line printed by --version.
QString versionText();

// A stored parameter set as the window's controls hold it once loaded: combo
// values that no entry carries read 0, spin box values are clamped to their ranges.
ParameterSet asWindowControls(const ParameterSet& set);

// The text of a command stopped by an interrupt before its end.
QString interruptedText(Command command);

// The job the window would capture for the same base, field or range, record
// and parameters. `sampleRecord` receives the 1-based number of the record
// taken as sample, searched among the records the window lists (the lines it
// shows) unless --sample names one. A refusal of the arguments has the code
// ErrorCode::Usage; `cancel`, when set, stops the search with the
// cancellation text.
Error buildJob(const Options& options, GenerationJob& job, qint64* sampleRecord,
               const std::atomic<bool>* cancel = nullptr);
// The same for a CSV base (buildJob() hands a .csv source over to it).
Error buildCsvJob(const Options& options, GenerationJob& job, qint64* sampleRecord, const std::atomic<bool>* cancel);

// ---------------------------------------------------------------------------
// The run

// The outputs of the run under way, for a thread that must give the run up
// when it does not stop by itself (an interrupt during a library call or a
// flush): generate() attaches its files while they may exist.
class RunAbandon {
public:
    void attach(OutputFiles* files);
    void detach();
    // Removes the attached run's temporaries and makes its commit fail; true
    // also when no run is attached. false when the run has begun to move its
    // files into place: it must then be let finish.
    bool abandon();
    // What the program says when it is stopped that way: the command's own
    // text, as when it stops by itself.
    void setStopText(const QString& text);
    QString stopText();

private:
    std::mutex mutex_;
    OutputFiles* files_ = nullptr;
    QString stopText_;
};

// Ends a program that does not answer an interrupt in time: once `interrupted`
// is set, the program has `delay` to reach finish() (or the guard's end); past
// it the run under way is given up through `abandon` and `stop` is called on
// the guard's thread (the program's own ends the process). A run already
// moving its files into place is let finish instead.
class InterruptGuard {
public:
    InterruptGuard(const std::atomic<bool>& interrupted, RunAbandon& abandon, std::chrono::milliseconds delay,
                   std::function<void()> stop);
    ~InterruptGuard();
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;
    void finish();

private:
    void watch();
    const std::atomic<bool>& interrupted_;
    RunAbandon& abandon_;
    std::chrono::milliseconds delay_;
    std::function<void()> stop_;
    std::atomic<bool> finished_{false};
    std::thread thread_;
};

struct RunControl {
    int jobs = 1;         // coding threads
    int batch = 256;      // records per thread in a window of the source
    bool verify = false;  // decode every code and compare it with the value
    const std::atomic<bool>* cancel = nullptr;
    RunAbandon* abandon = nullptr;      // the run's outputs, for a thread that gives it up
    std::function<void(int)> progress;  // per mille, called when it changes
    // Test hook: alters a record's code text after its coding and before its
    // check; (record number, code text, its length).
    std::function<void(qint64, char*, int)> tamper;
};

struct RunReport {
    qint64 records = 0;
    int width = 0;
    int height = 0;
    int fieldLength = 0;
};

// The whole generation through the core's run driver (generation/rundriver.h):
// preparation, records on `control.jobs` threads, commit of the outputs. On
// failure nothing is left on disk beside the source (the temporaries are
// removed).
Error generate(const GenerationJob& job, const RunControl& control, RunReport* report = nullptr);

// ---------------------------------------------------------------------------
// The preview

struct PreviewResult {
    QByteArray value;          // the value encoded (after the space removal of the set)
    QByteArray humanReadable;  // GS1: "(01) 03453120000011 (17) ..."
    int width = 0;             // W
    int height = 0;            // H
    int bands = 0;             // B
    int fieldLength = 0;       // R
    QString previewText;       // bands separated by line feeds
    std::vector<bool> dark;    // W x H cells, row by row from the top
};

// The window's preview of the sample: space removal, encoding, font text.
// The window's French text when the value is blank or the library refuses it.
Error previewSample(const GenerationJob& job, const ParameterSet& set, PreviewResult& result);

// The symbol drawn with half-block characters (two rows per line), with a
// quiet zone of `quietZone` light cells; dark cells are drawn inked.
QString drawSymbol(const PreviewResult& result, int quietZone = 2);

// ---------------------------------------------------------------------------
// The whole command

struct Console {
    QTextStream* out = nullptr;
    QTextStream* err = nullptr;
    bool stdoutIsTerminal = false;              // draws the preview's symbol
    bool stderrIsTerminal = false;              // shows the progress bar
    const std::atomic<bool>* cancel = nullptr;  // read in every phase
    RunAbandon* abandon = nullptr;
};

ExitCode runCommandLine(const QStringList& arguments, QSettings& settings, Console& console);

}  // namespace codiflux::cli
