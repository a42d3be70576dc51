#pragma once

// What every benchmark here prints and how it reads its command line. Each
// measurement is one JSON line on stdout, in the shape of the reference
// benches the figures are set beside:
//   {"bench":"qop","mode":"tight","delivery":"reliable","size":1024,
//    "metric":"rtt_p50","value":31.200,"unit":"us","run":1}
// Progress goes to stderr. A run that finds a fault stops with "FAIL: ..."
// and exit status 1, so that a wrong figure is never printed.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qop::bench {

std::uint64_t now_ns();
void sleep_until_ns(std::uint64_t deadline_ns);

[[noreturn]] void fail(const char* format, ...) __attribute__((format(printf, 1, 2)));
void progress(const char* format, ...) __attribute__((format(printf, 1, 2)));

struct Row {
    const char* bench = "qop";
    const char* mode = "-";
    const char* delivery = "-";
    std::size_t size = 0;
};

void emit(const Row& row, const char* metric, double value, const char* unit);

// Nearest-rank percentile of nanosecond samples, in microseconds. Sorts `samples`.
double percentile_us(std::vector<std::uint64_t>& samples, double fraction);

// The options every bench takes.
struct BenchOptions {
    int run = 1;
    bool quick = false;  // a short pass, for development and smoke runs
    bool tight = true;
    bool hz60 = true;
    std::vector<std::string> tests;  // empty: every test the bench has
    std::vector<std::size_t> sizes;  // empty: every packet size the bench has
    bool relay_blocks = false;       // room bench: the relay blocks in poll instead of spinning
    bool default_malloc = false;     // room bench: leave glibc's heap thresholds as they are
    bool queue_until_poll = false;   // room bench: transports that write only when polled

    bool wants(const std::string& test) const;
    bool wants_size(std::size_t size) const;
};

// --run N, --quick, --modes tight,60hz, --tests a,b, --sizes 16,1024,
// --relay-blocks, --default-malloc, --queue-until-poll. Unknown arguments print the usage (naming
// `tests_known`) and exit with status 2.
BenchOptions parse_bench_options(int argc, char** argv, const std::string& tests_known);

}  // namespace qop::bench
