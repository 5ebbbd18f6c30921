// Speed, parallel speed-up and memory of codiflux-cli.
//
// Builds a DBF base (100 000 records by default) in a temporary folder, then
// runs the codiflux-cli executable on it, as a mailing house's script would:
// Datamatrix AutoBest (the default parameters) and QR, each with --jobs 1 and
// --jobs N, plain and with --verify. For each run: records per second (wall
// time), CPU time and peak resident memory of the process. Then:
//   - the machine's parallel capacity: N copies of a CPU-bound loop run
//     together against one after the other (N x t1 / tN; close to 1 when the
//     cores are busy elsewhere), measured beside each pair of runs;
//   - the speed-up of --jobs N over --jobs 1, and speed-up / capacity
//     (goal: 0.9 or more, and --jobs N never slower than --jobs 1);
//   - the cost of --verify as a ratio of times.
//
//   bench_cli [--records N] [--jobs N] [--repeat N (rounds, default 3)] [--cli PATH]

#include "tools/bench_base.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

extern char** environ;

namespace {

double now()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

using bench::buildBase;

struct RunResult {
    bool ok = false;
    double seconds = 0;
    double cpuSeconds = 0;
    long peakKb = 0;
};

RunResult runCli(const QString& cli, const QStringList& arguments)
{
    std::vector<QByteArray> storage;
    storage.push_back(QFile::encodeName(cli));
    for (const QString& a : arguments)
        storage.push_back(a.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& s : storage)
        argv.push_back(s.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    RunResult r;
    const double start = now();
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return r;
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    r.seconds = now() - start;
    posix_spawn_file_actions_destroy(&actions);
    r.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    r.cpuSeconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    r.peakKb = usage.ru_maxrss;
    return r;
}

using bench::parallelCapacity;
using bench::spin;

}  // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    int records = 100000;
    int jobs = std::max(1, QThread::idealThreadCount());
    int repeat = 3;
    QString cli = QStringLiteral(CODIFLUX_CLI_EXE);
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--records"))
            records = args[i + 1].toInt();
        else if (args[i] == QLatin1String("--jobs"))
            jobs = args[i + 1].toInt();
        else if (args[i] == QLatin1String("--repeat"))
            repeat = std::max(1, args[i + 1].toInt());
        else if (args[i] == QLatin1String("--cli"))
            cli = args[i + 1];
    }

    QTemporaryDir dir;
    const QString base = dir.filePath(QStringLiteral("base.dbf"));
    const QString out = dir.filePath(QStringLiteral("out.dbf"));
    if (!buildBase(base, records)) {
        std::fprintf(stderr, "cannot write the base\n");
        return 1;
    }

    // Calibrate the loop to about half a second.
    std::uint64_t rounds = 1u << 24;
    for (;;) {
        const double start = now();
        spin(rounds);
        if (now() - start > 0.25 || rounds > (1ull << 34))
            break;
        rounds *= 2;
    }

    std::printf("codiflux-cli on %d records, --jobs N = %d, %d rounds (table: best wall time of each)\n\n", records,
                jobs, repeat);

    struct Case {
        const char* name;
        QStringList options;
    };
    const Case cases[] = {
        {"Datamatrix AutoBest", {}},
        {"QR 8-bit", {"--symbology", "qr", "--qr-mode", "8-bit data"}},
    };
    bool allOk = true;
    bool goalsMet = true;
    for (const Case& c : cases) {
        const QStringList common
            = QStringList{"generate", base, "-o", out, "--field", "REF", "--no-progress"} + c.options;
        auto print = [&](const char* label, int j, const RunResult& r) {
            std::printf("%-26s %7d %12.0f %9.2f %9.2f %10.1f%s\n", label, j, records / r.seconds, r.seconds,
                        r.cpuSeconds, r.peakKb / 1024.0, r.ok ? "" : "  FAILED");
        };
        auto keepBest = [&](RunResult& best, const RunResult& r) {
            allOk = allOk && r.ok;
            if (best.seconds == 0 || r.seconds < best.seconds)
                best = r;
        };

        // The runs alternate, so that a burst of load elsewhere on the machine
        // does not fall on one of them only; the table keeps each one's best
        // time. The speed-up of each round is set against the capacity
        // measured just before and just after its two runs.
        RunResult one, many, oneChecked, manyChecked;
        std::vector<double> ratios, speedUps, capacities;
        const QString n = QString::number(jobs);
        for (int i = 0; i < repeat; ++i) {
            const double before = parallelCapacity(jobs, rounds);
            const RunResult a = runCli(cli, common + QStringList{"--jobs", "1"});
            const RunResult b = runCli(cli, common + QStringList{"--jobs", n});
            const double after = parallelCapacity(jobs, rounds);
            keepBest(one, a);
            keepBest(many, b);
            const double capacity = (before + after) / 2;
            const double speedUp = a.seconds / b.seconds;
            capacities.push_back(capacity);
            speedUps.push_back(speedUp);
            ratios.push_back(speedUp / capacity);
            std::printf("  %-24s round %d: capacity %.2f -> %.2f, speed-up %.2f, speed-up / capacity %.2f\n", c.name,
                        i + 1, before, after, speedUp, speedUp / capacity);
            keepBest(oneChecked, runCli(cli, common + QStringList{"--jobs", "1", "--verify"}));
            keepBest(manyChecked, runCli(cli, common + QStringList{"--jobs", n, "--verify"}));
        }
        auto median = [](std::vector<double> v) {
            std::sort(v.begin(), v.end());
            const std::size_t m = v.size() / 2;
            return v.size() % 2 ? v[m] : (v[m - 1] + v[m]) / 2;
        };

        std::printf("%-26s %7s %12s %9s %9s %10s\n", "case", "jobs", "records/s", "wall s", "cpu s", "peak MiB");
        print(c.name, 1, one);
        print(c.name, jobs, many);
        print("  + --verify", 1, oneChecked);
        print("  + --verify", jobs, manyChecked);

        const double capacity = median(capacities);
        const double speedUp = median(speedUps);
        const double ratio = median(ratios);
        const bool met = ratio >= 0.9 && speedUp >= 0.98;
        std::printf("  parallel capacity of the machine (%d loops), median: %.2f\n", jobs, capacity);
        std::printf("  speed-up --jobs %d / --jobs 1, median: %.2f; speed-up / capacity, median: %.2f "
                    "(goal >= 0.90)%s\n",
                    jobs, speedUp, ratio, met ? "" : "  BELOW GOAL");
        std::printf("  cost of --verify, time with / without: wall %.2f, cpu %.2f at --jobs 1; wall %.2f, cpu %.2f "
                    "at --jobs %d\n\n",
                    oneChecked.seconds / one.seconds, oneChecked.cpuSeconds / one.cpuSeconds,
                    manyChecked.seconds / many.seconds, manyChecked.cpuSeconds / many.cpuSeconds, jobs);
        goalsMet = goalsMet && met;
    }
    std::printf("%s\n",
                goalsMet ? "goals met: --jobs N at 0.9 x capacity or more, never slower than --jobs 1"
                         : "goals NOT met (see BELOW GOAL)");
    if (!allOk)
        std::printf("some runs FAILED\n");
    return allOk ? 0 : 1;
}
