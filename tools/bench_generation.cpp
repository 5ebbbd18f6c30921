// Speed and memory of a generation.
//
// Builds a DBF base of 100 000 records in a temporary folder, then for
// Datamatrix and QR prints the records per second of a whole generation
// (BaseEncoder: read, encode, convert, write) beside a bare loop of the same
// library calls on the same values held in memory, and their ratio (goal: the
// generation at 95% or more of the bare loop). Then the peak resident memory
// (VmHWM) of a child process running one generation over 10 000 and over
// 100 000 records (goal: the same, since the run streams). The same figures
// for a CSV base of the same records (semicolons, Windows-1252, CR LF, the
// name quoted), whose encoded CSV is the rows plus a code column. Datamatrix
// runs with each encoder (ours, libdmtx), beside a bare loop of Zint's
// Datamatrix encoder on the same values when the benchmark is built with it.
// Those figures are of one coding thread, against the one thread of the bare
// loop. Last, the wall time of a window generation (BaseEncoder on its own
// thread) of a DBF, a text and a CSV base on one and on two coding threads,
// beside the parallel capacity the machine offers at that moment, and
// whether the two outputs are the same bytes; --keep DIR leaves the bases and
// the two-thread outputs there (for a comparison with the command line's);
// --threads-only runs that part alone.
//
//   bench_generation [--records N] [--repeat N] [--keep DIR] [--threads-only]

#include "codes/encoding.h"
#include "codes/fonttext.h"
#include "generation/baseencoder.h"
#include "generation/generationcore.h"
#include "tools/bench_base.h"

#include <dmtx.h>
#include <qrencode.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#ifdef CODIFLUX_BENCH_ZINT
#include <zint.h>
#endif

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

using namespace codiflux;

namespace {

// CPU time of the calling thread: the machine is shared, and wall time would
// count the other processes' turns. Reads and writes count too (system time).
class CpuClock {
public:
    void start() { start_ = now(); }
    double seconds() const { return now() - start_; }

private:
    static double now()
    {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
    }
    double start_ = 0;
};

using bench::buildBase;
using bench::kIdLength;
using bench::kNameLength;
using bench::kRecordLength;
using bench::kRefLength;
using bench::refValue;

GenerationJob makeJob(const QString& source, const QString& output, int symbology)
{
    GenerationJob job;
    job.format = &formatOf(source);
    job.sourcePath = source;
    job.outputPath = output;
    job.writeText = false;
    job.parameters.symbology = Symbology(symbology);
    if (symbology == int(Symbology::Datamatrix)) {
        job.parameters.sizeRequest = DmtxSymbol18x18;  // fixed size, AutoBest scheme (the default)
        job.parameters.scheme = DmtxSchemeAutoBest;
    } else {
        job.parameters.qrVersion = 0;
        job.parameters.qrLevel = QR_ECLEVEL_M;
        job.parameters.qrMode = QR_MODE_8;
    }
    job.options.bitInversion = true;
    job.options.pixelInversion = true;
    job.options.endOfLine = true;
    job.fieldIndex = 1;
    job.newFieldName = QStringLiteral("CODE2D");
    job.sample = refValue(0);
    return job;
}

// The base's records as a spreadsheet would export them: ID;REF;NAME, the
// name quoted, with an accent every seventh row.
bool buildCsvBase(const QString& path, int records)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QByteArray block = "ID;REF;NAME\r\n";
    for (int i = 0; i < records; ++i) {
        block += QByteArray::number(i) + ';' + refValue(i) + ";\"Client " + QByteArray::number(i * 7919 % 100003)
            + (i % 7 == 0 ? " \xE9" : "") + "\"\r\n";
        if (block.size() > (1 << 20)) {
            file.write(block);
            block.clear();
        }
    }
    file.write(block);
    return file.error() == QFile::NoError;
}

GenerationJob makeCsvJob(const QString& source, const QString& output, int symbology)
{
    GenerationJob job = makeJob(source, output, symbology);
    return job;
}

// The text form of the DBF base: its records without the deletion flag, REF
// at columns 9 to 24.
bool buildTextBase(const QString& path, int records)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QByteArray block;
    for (int i = 0; i < records; ++i) {
        block += QByteArray::number(i).rightJustified(kIdLength);
        block += refValue(i);
        block += ("Client " + QByteArray::number(i * 7919 % 100003)).leftJustified(kNameLength, ' ', true);
        block += '\n';
        if (block.size() > (1 << 20)) {
            file.write(block);
            block.clear();
        }
    }
    file.write(block);
    return file.error() == QFile::NoError;
}

GenerationJob makeTextJob(const QString& source, const QString& output, int symbology)
{
    GenerationJob job = makeJob(source, output, symbology);
    job.fieldIndex = -1;
    job.rangeStart = kIdLength + 1;
    job.rangeCount = kRefLength;
    return job;
}

double runGeneration(const GenerationJob& job, bool* ok)
{
    QString error;
    BaseEncoder encoder(job, &error, 3000);
    encoder.setThreadCount(1);
    CpuClock clock;
    clock.start();
    *ok = encoder.encoderBase(job.outputPath, job.writeText, &error);
    const double seconds = clock.seconds();
    if (!*ok)
        std::fprintf(stderr, "generation failed: %s\n", qPrintable(error));
    return seconds;
}

double runBareLoop(const GenerationJob& job, const std::vector<QByteArray>& values, std::uint64_t* checksum)
{
    int w = 0, h = 0;
    RecordCoder::measureSymbol(job.parameters, job.sample, &w, &h);
    std::vector<char> field(std::size_t(fieldLength(w, h, job.options.endOfLine)));
    std::uint64_t sum = 0;
    const Encoder encoder(job.parameters);
    EncodedSymbol symbol;
    CpuClock clock;
    clock.start();
    for (const QByteArray& v : values) {
        encoder.encode(v, symbol);
        toFontText(symbol.grid(), w, h, job.options, false, field.data());
        sum += std::uint64_t(static_cast<unsigned char>(field[field.size() / 2]));
    }
    const double seconds = clock.seconds();
    *checksum = sum;
    return seconds;
}

#ifdef CODIFLUX_BENCH_ZINT
// Zint's Datamatrix alone, 18x18 as the generation, one symbol object per value.
double runZintLoop(const std::vector<QByteArray>& values)
{
    long cells = 0;
    CpuClock clock;
    clock.start();
    for (const QByteArray& v : values) {
        zint_symbol* symbol = ZBarcode_Create();
        symbol->symbology = BARCODE_DATAMATRIX;
        symbol->input_mode = DATA_MODE;
        symbol->option_2 = 5;  // 18x18
        if (ZBarcode_Encode(symbol, reinterpret_cast<const unsigned char*>(v.constData()), int(v.size())) < 5)
            cells += symbol->width;
        ZBarcode_Delete(symbol);
    }
    const double seconds = clock.seconds();
    if (cells == 0)
        std::fprintf(stderr, "Zint encoded nothing\n");
    return seconds;
}
#endif

long peakMemoryKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

// Wall time of a whole generation on the encoder's own thread, as the window
// runs it.
double runWindowGeneration(const GenerationJob& job, int threads, bool* ok)
{
    QString error;
    BaseEncoder encoder(job, &error, 3000);
    encoder.setThreadCount(threads);
    QElapsedTimer clock;
    clock.start();
    encoder.start();
    encoder.wait();
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    *ok = encoder.getResultat();
    if (!*ok)
        std::fprintf(stderr, "generation failed: %s\n", qPrintable(error));
    return seconds;
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// One and two coding threads, best of `repeat` wall times each, interleaved.
bool compareThreads(const QString& folder, int records, int repeat)
{
    const QString dbf = folder + QStringLiteral("/wall.dbf");
    const QString text = folder + QStringLiteral("/wall.txt");
    const QString csv = folder + QStringLiteral("/wall.csv");
    if (!buildBase(dbf, records) || !buildTextBase(text, records) || !buildCsvBase(csv, records))
        return false;
    // The machine is shared: the speed-up is set against what two CPU-bound
    // loops get at the same moment (2.0 on two idle cores).
    const std::uint64_t rounds = bench::calibratedRounds(0.25);
    std::printf("\nWall time of a window generation (BaseEncoder), Datamatrix 18x18, best of %d:\n", repeat);
    std::printf("%-10s %12s %12s %9s %9s  %s\n", "base", "1 thread", "2 threads", "speed-up", "capacity",
                "same bytes");
    bool allOk = true;
    const int dm = int(Symbology::Datamatrix);
    const struct {
        const char* name;
        GenerationJob job;
    } runs[] = {{"DBF", makeJob(dbf, folder + QStringLiteral("/wall-encoded.dbf"), dm)},
                {"text", makeTextJob(text, folder + QStringLiteral("/wall-encoded.txt"), dm)},
                {"CSV", makeCsvJob(csv, folder + QStringLiteral("/wall-encoded.csv"), dm)}};
    for (const auto& run : runs) {
        double best[2] = {1e30, 1e30};
        QByteArray bytes[2];
        const double before = bench::parallelCapacity(2, rounds);
        for (int r = 0; r < repeat; ++r) {
            for (int t = 0; t < 2; ++t) {
                bool ok = false;
                best[t] = std::min(best[t], runWindowGeneration(run.job, t + 1, &ok));
                allOk = allOk && ok;
                bytes[t] = readAll(run.job.outputPath);
            }
        }
        const double capacity = (before + bench::parallelCapacity(2, rounds)) / 2;
        const bool same = !bytes[0].isEmpty() && bytes[0] == bytes[1];
        allOk = allOk && same;
        std::printf("%-10s %10.3f s %10.3f s %8.2fx %9.2f  %s\n", run.name, best[0], best[1], best[0] / best[1],
                    capacity, same ? "yes" : "NO");
        std::fflush(stdout);
    }
    return allOk;
}

int child(const QStringList& args)
{
    // --child SOURCE OUTPUT SYMBOLOGY
    const bool csv = args.value(2).endsWith(QLatin1String(".csv"));
    const GenerationJob job = csv ? makeCsvJob(args.value(2), args.value(3), args.value(4).toInt())
                                  : makeJob(args.value(2), args.value(3), args.value(4).toInt());
    bool ok = false;
    runGeneration(job, &ok);
    std::printf("%ld\n", peakMemoryKb());
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.value(1) == QLatin1String("--child"))
        return child(args);

    int records = 100000;
    int repeat = 3;
    QString keep;
    const bool threadsOnly = args.contains(QLatin1String("--threads-only"));
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == QLatin1String("--records"))
            records = args[++i].toInt();
        else if (args[i] == QLatin1String("--repeat"))
            repeat = std::max(1, args[++i].toInt());
        else if (args[i] == QLatin1String("--keep"))
            keep = args[++i];
    }

    QTemporaryDir folder(QStringLiteral("/tmp/bench_generation-XXXXXX"));
    if (!folder.isValid())
        return 1;
    if (threadsOnly)
        return compareThreads(keep.isEmpty() ? folder.path() : keep, records, repeat) ? 0 : 1;
    const QString source = folder.filePath(QStringLiteral("base.dbf"));
    const QString output = folder.filePath(QStringLiteral("encoded.dbf"));
    const QString csvSource = folder.filePath(QStringLiteral("base.csv"));
    const QString csvOutput = folder.filePath(QStringLiteral("encoded.csv"));
    if (!buildBase(source, records) || !buildCsvBase(csvSource, records)) {
        std::fprintf(stderr, "cannot build the base\n");
        return 1;
    }
    std::vector<QByteArray> values;
    values.reserve(std::size_t(records));
    for (int i = 0; i < records; ++i)
        values.push_back(refValue(i));

    std::printf("Base: %d records of %d bytes, field REF (%d bytes); best of %d runs, thread CPU time.\n", records,
                kRecordLength, kRefLength, repeat);
    std::printf("%-44s %14s %14s %8s\n", "symbology", "generation/s", "bare loop/s", "ratio");
    bool allOk = true;
    struct Run {
        int symbology;
        bool csv;
        DatamatrixEngine engine;
        const char* name;
    };
    const Run runs[] = {
        {int(Symbology::Datamatrix), false, DatamatrixEngine::Codiflux, "Datamatrix 18x18, AutoBest, codiflux"},
        {int(Symbology::Datamatrix), false, DatamatrixEngine::Libdmtx, "Datamatrix 18x18, AutoBest, libdmtx"},
        {int(Symbology::QRCode), false, DatamatrixEngine::Codiflux, "QR, 8-bit, level M, auto"},
        {int(Symbology::Datamatrix), true, DatamatrixEngine::Codiflux, "CSV, Datamatrix 18x18, AutoBest, codiflux"},
        {int(Symbology::QRCode), true, DatamatrixEngine::Codiflux, "CSV, QR, 8-bit, level M, auto"},
    };
    double ours = 0;
    for (const Run& run : runs) {
        setDatamatrixEngine(run.engine);
        const GenerationJob job = run.csv ? makeCsvJob(csvSource, csvOutput, run.symbology)
                                          : makeJob(source, output, run.symbology);
        double bestGeneration = 1e30;
        double bestBare = 1e30;
        std::uint64_t checksum = 0;
        for (int r = 0; r < repeat; ++r) {
            // Interleaved, so that both see the same machine load.
            bool ok = false;
            bestGeneration = std::min(bestGeneration, runGeneration(job, &ok));
            allOk = allOk && ok;
            bestBare = std::min(bestBare, runBareLoop(job, values, &checksum));
        }
        const double generationRate = records / bestGeneration;
        const double bareRate = records / bestBare;
        if (&run == &runs[0])
            ours = generationRate;
        std::printf("%-44s %14.0f %14.0f %7.1f%%\n", run.name, generationRate, bareRate,
                    100.0 * generationRate / bareRate);
        std::fflush(stdout);
    }
    setDatamatrixEngine(DatamatrixEngine::Codiflux);
#ifdef CODIFLUX_BENCH_ZINT
    double bestZint = 1e30;
    for (int r = 0; r < repeat; ++r)
        bestZint = std::min(bestZint, runZintLoop(values));
    std::printf("%-44s %14s %14.0f\n", "Zint Datamatrix 18x18, bare loop", "", records / bestZint);
    std::printf("Generation (codiflux) against Zint's bare loop: %.2fx\n", ours / (records / bestZint));
#endif

    // Peak memory of one generation in a fresh process, for two base sizes.
    std::printf("\nPeak resident memory (VmHWM) of a child running one generation:\n");
    const QString small = folder.filePath(QStringLiteral("small.dbf"));
    const QString smallCsv = folder.filePath(QStringLiteral("small.csv"));
    const int smallRecords = std::max(1, records / 10);
    if (!buildBase(small, smallRecords) || !buildCsvBase(smallCsv, smallRecords))
        return 1;
    for (int run = 0; run < 4; ++run) {
        const int symbology = run % 2 == 0 ? int(Symbology::Datamatrix) : int(Symbology::QRCode);
        const bool csv = run >= 2;
        long peaks[2] = {0, 0};
        int i = 0;
        for (const QString& base : csv ? QStringList{smallCsv, csvSource} : QStringList{small, source}) {
            QProcess process;
            process.start(QCoreApplication::applicationFilePath(),
                          {QStringLiteral("--child"), base, csv ? csvOutput : output, QString::number(symbology)});
            process.waitForFinished(-1);
            peaks[i++] = process.readAllStandardOutput().trimmed().toLong();
            allOk = allOk && process.exitCode() == 0;
        }
        std::printf("%-34s %7d records: %6ld kB   %7d records: %6ld kB   (%+ld kB)\n",
                    symbology == int(Symbology::Datamatrix) ? (csv ? "CSV, Datamatrix" : "Datamatrix")
                                                            : (csv ? "CSV, QR" : "QR"),
                    smallRecords, peaks[0], records, peaks[1], peaks[1] - peaks[0]);
    }
    allOk = compareThreads(keep.isEmpty() ? folder.path() : keep, records, repeat) && allOk;
    return allOk ? 0 : 1;
}
