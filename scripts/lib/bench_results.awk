# Reads benchmark JSON lines, one per measurement and run
#   {"bench":"qop","mode":"tight","delivery":"reliable","size":16,"metric":"rtt_p50",
#    "value":31.2,"unit":"us","run":1}
# and prints, depending on `what`:
#   json   one line per measurement with the median over its runs as "value" and
#          "min", "max" and "runs" beside it;
#   table  the same as a table, one column per bench, each cell "median [min-max]";
#   rtt    gnuplot data: reliable round-trip p50 in tight mode by size, one column per bench;
#   tput   gnuplot data: reliable throughput by mode and size, one column per bench.
# Benches appear as columns in the order given by `order` (comma-separated), then
# in the order met; a bench without figures gets no column. Lines that do not
# start with { are ignored. POSIX awk.

function field(line, key,    text) {
    if (!match(line, "\"" key "\":(\"[^\"]*\"|[^,}]*)")) return ""
    text = substr(line, RSTART + length(key) + 3, RLENGTH - length(key) - 3)
    gsub(/"/, "", text)
    return text
}

function short(value) {
    if (value >= 1000) return sprintf("%.0f", value)
    if (value >= 100) return sprintf("%.1f", value)
    return sprintf("%.2f", value)
}

function add_bench(name) {
    if (!(name in bench_seen)) { bench_seen[name] = 1; listed[++listed_count] = name }
}

BEGIN {
    if (order != "") {
        count = split(order, given, ",")
        for (i = 1; i <= count; i++) add_bench(given[i])
    }
}

/^\{/ {
    bench = field($0, "bench")
    row = field($0, "mode") SUBSEP field($0, "delivery") SUBSEP field($0, "size") SUBSEP \
          field($0, "metric") SUBSEP field($0, "unit")
    key = bench SUBSEP row
    if (!(key in samples)) samples[key] = 0
    values[key, ++samples[key]] = field($0, "value") + 0
    if (!(row in row_seen)) { row_seen[row] = 1; rows[++row_count] = row }
    add_bench(bench)
    measured[bench] = 1
}

function summarise(key,    n, a, b, v) {
    n = samples[key]
    for (a = 2; a <= n; a++) {  # insertion sort: a handful of runs
        v = values[key, a]
        for (b = a - 1; b >= 1 && values[key, b] > v; b--) values[key, b + 1] = values[key, b]
        values[key, b + 1] = v
    }
    median[key] = n % 2 ? values[key, (n + 1) / 2] : (values[key, n / 2] + values[key, n / 2 + 1]) / 2
    low[key] = values[key, 1]
    high[key] = values[key, n]
}

function cell(key) {
    if (!(key in samples)) return "-"
    if (samples[key] == 1) return short(median[key])
    return short(median[key]) " [" short(low[key]) "-" short(high[key]) "]"
}

function plot_value(bench, mode, size, metric,    key) {
    key = bench SUBSEP mode SUBSEP "reliable" SUBSEP size SUBSEP metric SUBSEP \
          (metric == "throughput" ? "MB/s" : "us")
    return (key in samples) ? sprintf("%.3f", median[key]) : "?"
}

# The first line of a gnuplot data file: the label column, then one per bench.
function print_header(label,    b) {
    printf "%s", label
    for (b = 1; b <= bench_count; b++) printf "\t%s", benches[b]
    printf "\n"
}

function size_label(size) {
    if (size >= 1048576) return (size / 1048576) "MiB"
    if (size >= 1024) return (size / 1024) "KiB"
    return size "B"
}

END {
    for (key in samples) summarise(key)
    # Columns: the benches of `order` that have figures, then the others met.
    for (i = 1; i <= listed_count; i++)
        if (listed[i] in measured) benches[++bench_count] = listed[i]
    if (what == "json") {
        for (r = 1; r <= row_count; r++) {
            split(rows[r], part, SUBSEP)
            for (b = 1; b <= bench_count; b++) {
                key = benches[b] SUBSEP rows[r]
                if (!(key in samples)) continue
                printf "{\"bench\":\"%s\",\"mode\":\"%s\",\"delivery\":\"%s\",\"size\":%s," \
                       "\"metric\":\"%s\",\"value\":%.3f,\"unit\":\"%s\",\"min\":%.3f," \
                       "\"max\":%.3f,\"runs\":%d}\n", benches[b], part[1], part[2], part[3],
                       part[4], median[key], part[5], low[key], high[key], samples[key]
            }
        }
    } else if (what == "table") {
        printf "%-6s %-10s %8s %-30s %-9s", "mode", "delivery", "size", "metric", "unit"
        for (b = 1; b <= bench_count; b++) printf " %-26s", benches[b]
        printf "\n"
        for (r = 1; r <= row_count; r++) {
            split(rows[r], part, SUBSEP)
            if (part[4] == "round_trips" || part[4] == "commands" || part[4] == "packet_rate") continue
            printf "%-6s %-10s %8s %-30s %-9s", part[1], part[2], part[3], part[4], part[5]
            for (b = 1; b <= bench_count; b++) printf " %-26s", cell(benches[b] SUBSEP rows[r])
            printf "\n"
        }
    } else if (what == "rtt") {
        print_header("size")
        split("16 1024 32768 1048576 16777216", sizes, " ")
        for (s = 1; s <= 5; s++) {
            printf "%s", size_label(sizes[s])
            for (b = 1; b <= bench_count; b++)
                printf "\t%s", plot_value(benches[b], "tight", sizes[s], "rtt_p50")
            printf "\n"
        }
    } else if (what == "tput") {
        print_header("case")
        split("tight 60hz", modes, " ")
        split("1024 32768 1048576", sizes, " ")
        for (m = 1; m <= 2; m++) {
            for (s = 1; s <= 3; s++) {
                printf "%s-%s", modes[m], size_label(sizes[s])
                for (b = 1; b <= bench_count; b++)
                    printf "\t%s", plot_value(benches[b], modes[m], sizes[s], "throughput")
                printf "\n"
            }
        }
    }
}
