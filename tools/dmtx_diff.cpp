// The differential run of our Datamatrix encoder against libdmtx: generated
// values (digits, upper and lower case, the C40 / Text / X12 / EDIFACT sets
// mixed, bytes 0x80-0xFF, lengths up to one past each size's capacity, runs
// of one class then another, the FNC1 byte) over every scheme and size
// request, each AutoBest value followed by one of the same search classes.
// Prints every difference with the value in hex, then the count.
//
//   dmtx_diff [values] [seed] [AutoBest percent] [percent of AutoBest values followed by one of the same classes]

#include "tools/dmtx_diff_core.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

using namespace codiflux::dmtxdiff;

int main(int argc, char** argv)
{
    const long count = argc > 1 ? std::atol(argv[1]) : 100000;
    const unsigned long long seed = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1;
    const int autoBest = argc > 3 ? std::atoi(argv[3]) : 20;
    const int siblingShare = argc > 4 ? std::atoi(argv[4]) : 100;
    Random random(seed);
    Random siblingRandom(seed ^ 0x5A5A5A5Aull);
    long siblings = 0;
    long differences = 0;
    long aborted = 0;
    long perScheme[7] = {};
    const auto start = std::chrono::steady_clock::now();
    for (long i = 0; i < count; ++i) {
        const Case c = makeCase(random, autoBest);
        ++perScheme[c.scheme + 1];
        const std::string d = compare(c, &aborted);
        if (!d.empty()) {
            ++differences;
            std::printf("#%ld %s\n", i, d.c_str());
            std::fflush(stdout);
        }
        if (c.scheme == -1 && siblingRandom.below(100) < siblingShare) {
            // The same layout again: the search's result taken for another value.
            ++siblings;
            const std::string e = compare(sibling(siblingRandom, c), &aborted);
            if (!e.empty()) {
                ++differences;
                std::printf("#%ld (same classes) %s\n", i, e.c_str());
                std::fflush(stdout);
            }
        }
        if ((i + 1) % 1000000 == 0) {
            const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            std::printf("... %ld values, %ld differences, %.0f s\n", i + 1, differences, s);
            std::fflush(stdout);
        }
    }
    std::printf("seed %llu: %ld values (AutoBest %ld, ASCII %ld, C40 %ld, Text %ld, X12 %ld, EDIFACT %ld, "
                "Base256 %ld) and %ld AutoBest values of the same classes, %ld differences, %ld on which libdmtx aborts "
                "(refused by ours)\n",
                seed, count, perScheme[0], perScheme[1], perScheme[2], perScheme[3], perScheme[4], perScheme[5],
                perScheme[6], siblings, differences, aborted);
    return differences == 0 ? 0 : 1;
}
