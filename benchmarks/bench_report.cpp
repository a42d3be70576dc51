#include "bench_report.hpp"

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <thread>

namespace qop::bench {
namespace {

int run_number = 1;

std::vector<std::string> split_list(const std::string& text) {
    std::vector<std::string> items;
    std::stringstream stream(text);
    std::string item;
    while (std::getline(stream, item, ',')) {
        if (!item.empty()) {
            items.push_back(item);
        }
    }
    return items;
}

[[noreturn]] void usage(const char* program, const std::string& tests_known) {
    std::fprintf(
        stderr,
        "usage: %s [--run N] [--quick] [--modes tight,60hz] [--tests LIST]\n"
        "          [--sizes LIST] [--relay-blocks] [--default-malloc] [--queue-until-poll]\n"
        "  tests: %s\n"
        "Prints one JSON line per measurement on stdout, progress on stderr.\n",
        program, tests_known.c_str());
    std::exit(2);
}

}  // namespace

std::uint64_t now_ns() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

void sleep_until_ns(std::uint64_t deadline_ns) {
    std::this_thread::sleep_until(std::chrono::steady_clock::time_point(
        std::chrono::nanoseconds(static_cast<std::int64_t>(deadline_ns))));
}

void fail(const char* format, ...) {
    std::fflush(stdout);
    std::fputs("FAIL: ", stderr);
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(stderr, format, arguments);
    va_end(arguments);
    std::fputc('\n', stderr);
    std::fflush(stderr);
    // Threads may still be running: leave without unwinding them.
    std::_Exit(1);
}

void progress(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(stderr, format, arguments);
    va_end(arguments);
    std::fputc('\n', stderr);
}

void emit(const Row& row, const char* metric, double value, const char* unit) {
    std::printf(
        "{\"bench\":\"%s\",\"mode\":\"%s\",\"delivery\":\"%s\",\"size\":%zu,\"metric\":\"%s\","
        "\"value\":%.3f,\"unit\":\"%s\",\"run\":%d}\n",
        row.bench, row.mode, row.delivery, row.size, metric, value, unit, run_number);
    std::fflush(stdout);
}

double percentile_us(std::vector<std::uint64_t>& samples, double fraction) {
    if (samples.empty()) {
        return 0;
    }
    std::sort(samples.begin(), samples.end());
    const auto count = static_cast<double>(samples.size());
    // Nearest rank: the smallest sample with at least `fraction` of all at or below it.
    auto rank = static_cast<std::size_t>(fraction * count + 0.999999);
    rank = std::clamp<std::size_t>(rank, 1, samples.size());
    return static_cast<double>(samples[rank - 1]) / 1000.0;
}

bool BenchOptions::wants(const std::string& test) const {
    return tests.empty() || std::find(tests.begin(), tests.end(), test) != tests.end();
}

bool BenchOptions::wants_size(std::size_t size) const {
    return sizes.empty() || std::find(sizes.begin(), sizes.end(), size) != sizes.end();
}

BenchOptions parse_bench_options(int argc, char** argv, const std::string& tests_known) {
    BenchOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (argument == "--quick") {
            options.quick = true;
        } else if (argument == "--relay-blocks") {
            options.relay_blocks = true;
        } else if (argument == "--default-malloc") {
            options.default_malloc = true;
        } else if (argument == "--queue-until-poll") {
            options.queue_until_poll = true;
        } else if (argument == "--run" && value != nullptr) {
            options.run = std::atoi(value);
            ++i;
        } else if (argument == "--modes" && value != nullptr) {
            const std::vector<std::string> modes = split_list(value);
            options.tight = std::find(modes.begin(), modes.end(), "tight") != modes.end();
            options.hz60 = std::find(modes.begin(), modes.end(), "60hz") != modes.end();
            ++i;
        } else if (argument == "--sizes" && value != nullptr) {
            for (const std::string& size : split_list(value)) {
                options.sizes.push_back(
                    static_cast<std::size_t>(std::strtoull(size.c_str(), nullptr, 0)));
            }
            ++i;
        } else if (argument == "--tests" && value != nullptr) {
            options.tests = split_list(value);
            const std::vector<std::string> known = split_list(tests_known);
            for (const std::string& test : options.tests) {
                if (std::find(known.begin(), known.end(), test) == known.end()) {
                    usage(argv[0], tests_known);
                }
            }
            ++i;
        } else {
            usage(argv[0], tests_known);
        }
    }
    run_number = options.run;
    return options;
}

}  // namespace qop::bench
