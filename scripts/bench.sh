#!/usr/bin/env bash
# Builds the benchmarks in Release (-O2, no sanitizers) and runs them: the room
# data path (two QOPMultiplayerPeers through a relay on loopback) and the
# desktop command road, natively and under Wine. Prints one JSON line per
# measurement (the median over the runs, with min and max), then a table, and
# draws the chart with gnuplot. Per-run lines, the table and the chart are kept
# in build/bench-results/ (QOP_BUILD_ROOT).
#
#   scripts/bench.sh                      every bench, RUNS=3 runs each
#   scripts/bench.sh --quick              a short pass (seconds, not minutes)
#   scripts/bench.sh --reference DIR      also run the reference benches in DIR
#                                         (a copy is made first), in the same sitting
#   scripts/bench.sh --no-wine            skip the Windows build and its run
#   scripts/bench.sh --only room|desktop  one bench
#   RUNS=5 scripts/bench.sh               more runs
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib/common.sh"

runs="${RUNS:-3}"
quick=()
wine=1
reference=""
only=""
while [ $# -gt 0 ]; do
    case "$1" in
    --quick) quick=(--quick); shift ;;
    --no-wine) wine=0; shift ;;
    --reference)
        [ $# -ge 2 ] || { echo "--reference needs the folder of the reference benches" >&2; exit 2; }
        reference="$(cd "$2" && pwd)"
        shift 2
        ;;
    --only)
        [ $# -ge 2 ] || { echo "--only needs room or desktop" >&2; exit 2; }
        only="$2"
        shift 2
        ;;
    -h | --help)
        sed -n '2,17p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'
        exit 0
        ;;
    *)
        echo "unknown argument: $1" >&2
        exit 2
        ;;
    esac
done
[ ${#quick[@]} -gt 0 ] && [ -z "${RUNS:-}" ] && runs=1

results="$QOP_BUILD_ROOT/bench-results"
native="$QOP_BUILD_ROOT/bench"
windows="$QOP_BUILD_ROOT/bench-windows"
release_flags=("-DCMAKE_CXX_FLAGS_RELEASE=-O2 -g -DNDEBUG" "-DCMAKE_C_FLAGS_RELEASE=-O2 -g -DNDEBUG")

qop_require_packages "${QOP_NATIVE_PACKAGES[@]}" gnuplot-nox
qop_log "native release build of the benchmarks"
qop_configure_and_build "$native" -DCMAKE_BUILD_TYPE=Release "${release_flags[@]}" \
    -DQOP_BUILD_TESTS=OFF -DQOP_BUILD_BENCHMARKS=ON
if [ "$wine" = 1 ] && [ "$only" != room ]; then
    qop_require_packages "${QOP_WINDOWS_PACKAGES[@]}" "${QOP_WINDOWS_TEST_PACKAGES[@]}"
    qop_ensure_cross_protobuf
    qop_log "windows release build of the desktop benchmark"
    mapfile -t windows_options < <(qop_windows_cmake_options)
    mkdir -p "$QOP_BUILD_ROOT"
    cmake -S "$QOP_REPO_ROOT" -B "$windows" -G Ninja -DCMAKE_BUILD_TYPE=Release "${release_flags[@]}" \
        -DQOP_BUILD_TESTS=OFF -DQOP_BUILD_BENCHMARKS=ON "${windows_options[@]}" \
        >"$windows.configure.log" 2>&1 || { cat "$windows.configure.log" >&2; exit 1; }
    cmake --build "$windows" -j "$QOP_JOBS" --target qop_desktop_bench
    # The first start of a prefix creates it; do that once, outside the timing.
    WINEPREFIX="$windows/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
        wineboot -i >/dev/null 2>&1 || true
fi

mkdir -p "$results"
per_run="$results/runs.jsonl"
: >"$per_run"
machine="$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(nproc) cores"
started=$(date +%s)
echo "# qop benchmarks, $(date -u '+%Y-%m-%d %H:%M UTC'), $runs run(s) each${quick:+, quick}"
echo "# cpu: $machine, load average: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "# kernel $(uname -r); $(g++ --version | head -1)"

# Under Wine every wait and pipe operation is served by the wineserver, a
# process of its own: its CPU over the desktop bench's idle window is measured
# from /proc and added as a line of its own.
wineserver_pid() {
    local pid
    for pid in $(pgrep -x 'wineserver(64)?' || true); do
        if tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qx "WINEPREFIX=$windows/wineprefix"; then
            echo "$pid"
            return
        fi
    done
}

cpu_ticks() {
    awk '{ print $14 + $15 }' "/proc/$1/stat" 2>/dev/null || echo 0
}

# Reads the Wine desktop bench's stderr and passes it on. Over its "baseline"
# window (no session: Wine's own services) and its "idle" window (an attached
# idle session) the wineserver's CPU is measured.
watch_wine_idle_window() {
    local run="$1" line pid="" ticks_before=0 ns_before=0 metric
    while IFS= read -r line; do
        printf '%s\n' "${line%$'\r'}" >&2
        case "$line" in
        *" window opens"*)
            pid="$(wineserver_pid)"
            [ -n "$pid" ] && ticks_before="$(cpu_ticks "$pid")"
            ns_before="$(date +%s%N)"
            ;;
        *" window closes"*)
            [ -n "$pid" ] || continue
            metric=idle_cpu_wineserver
            case "$line" in *baseline*) metric=idle_cpu_wineserver_baseline ;; esac
            awk -v ticks="$(($(cpu_ticks "$pid") - ticks_before))" -v hz="$(getconf CLK_TCK)" \
                -v ns="$(($(date +%s%N) - ns_before))" -v run="$run" -v metric="$metric" 'BEGIN {
                printf "{\"bench\":\"qop_wine\",\"mode\":\"idle\",\"delivery\":\"session\",\"size\":0," \
                       "\"metric\":\"%s\",\"value\":%.3f,\"unit\":\"%%core\",\"run\":%d}\n",
                       metric, 100 * (ticks / hz) / (ns / 1e9), run }' >>"$per_run"
            ;;
        esac
    done
}

run_benches() {
    local run="$1"
    if [ "$only" != desktop ]; then
        echo "run $run/$runs: room" >&2
        "$native/benchmarks/qop_room_bench" --run "$run" "${quick[@]}" >>"$per_run"
    fi
    if [ "$only" != room ]; then
        echo "run $run/$runs: desktop" >&2
        "$native/benchmarks/qop_desktop_bench" --run "$run" "${quick[@]}" >>"$per_run"
        if [ "$wine" = 1 ]; then
            echo "run $run/$runs: desktop under Wine" >&2
            "$windows/wine-run.sh" "$windows/benchmarks/qop_desktop_bench.exe" --run "$run" \
                "${quick[@]}" 2> >(watch_wine_idle_window "$run") | tr -d '\r' >>"$per_run"
            wait $! 2>/dev/null || true
        fi
    fi
}

for ((run = 1; run <= runs; run++)); do
    run_benches "$run"
done

if [ -n "$reference" ]; then
    # The reference folder may be read-only: it runs from a copy.
    copy="$(mktemp -d "${TMPDIR:-/tmp}/qop-reference-bench.XXXXXX")"
    cp -r "$reference/." "$copy/"
    chmod -R u+w "$copy"
    qop_log "reference benches (about 5 minutes)"
    RUNS="$runs" "$copy/run.sh" "${quick[@]}" >"$results/reference.txt"
    grep '^{' "$copy/build/runs.jsonl" >>"$per_run"
    rm -rf "$copy"
fi

order="qop,qop_wine,raw_tcp,enet"
echo
awk -v what=json -v order="$order" -f "$QOP_REPO_ROOT/scripts/lib/bench_results.awk" "$per_run" |
    tee "$results/results.jsonl"
echo
awk -v what=table -v order="$order" -f "$QOP_REPO_ROOT/scripts/lib/bench_results.awk" "$per_run" |
    tee "$results/table.txt"

# The chart sets the room road beside the references.
room_lines="$results/room-lines.jsonl"
grep -E '"bench":"(qop|raw_tcp|enet)"' "$per_run" | grep -E '"metric":"(rtt_p50|throughput)"' \
    >"$room_lines" || true
chart=""
if [ -s "$room_lines" ]; then
    awk -v what=rtt -v order="qop,raw_tcp,enet" -f "$QOP_REPO_ROOT/scripts/lib/bench_results.awk" \
        "$room_lines" >"$results/rtt.tsv"
    awk -v what=tput -v order="qop,raw_tcp,enet" -f "$QOP_REPO_ROOT/scripts/lib/bench_results.awk" \
        "$room_lines" >"$results/tput.tsv"
    gnuplot -e "rtt_file='$results/rtt.tsv'; tput_file='$results/tput.tsv'" \
        -e "out_file='$results/bench.png'" \
        -e "heading='Room data path on loopback, $(date -u '+%Y-%m-%d'), median of $runs run(s)'" \
        "$QOP_REPO_ROOT/scripts/lib/bench_chart.gp"
    chart=" and chart (bench.png)"
fi
echo
echo "# $(($(date +%s) - started)) s; per-run lines, table$chart in $results"
