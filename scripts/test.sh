#!/usr/bin/env bash
# Runs the test lanes: native (warnings as errors, ASan+UBSan), tsan (tests
# labelled `threads` under ThreadSanitizer), windows (mingw-w64 build run
# under Wine) and godot-cpp (both libraries built against the real engine
# binding). With --lane NAME only that lane runs. Any failing lane fails.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib/common.sh"

lanes=(native tsan windows godot-cpp)
while [ $# -gt 0 ]; do
    case "$1" in
    --lane)
        [ $# -ge 2 ] || { echo "--lane needs a name: native, tsan, windows or godot-cpp" >&2; exit 2; }
        lanes=("$2")
        shift 2
        ;;
    --lane=*)
        lanes=("${1#--lane=}")
        shift
        ;;
    -h | --help)
        echo "usage: scripts/test.sh [--lane native|tsan|windows|godot-cpp]"
        exit 0
        ;;
    *)
        echo "unknown argument: $1" >&2
        exit 2
        ;;
    esac
done

lane_native() {
    qop_require_packages "${QOP_NATIVE_PACKAGES[@]}" "${QOP_NATIVE_TEST_PACKAGES[@]}" || return 1
    local dir="$QOP_BUILD_ROOT/native"
    qop_configure_and_build "$dir" -DCMAKE_BUILD_TYPE=Debug -DQOP_WERROR=ON \
        -DQOP_SANITIZE=address,undefined || return 1
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
        ctest --test-dir "$dir" --output-on-failure -j "$QOP_JOBS" --no-tests=error
}

lane_tsan() {
    qop_require_packages "${QOP_NATIVE_PACKAGES[@]}" "${QOP_NATIVE_TEST_PACKAGES[@]}" || return 1
    local dir="$QOP_BUILD_ROOT/tsan"
    qop_configure_and_build "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQOP_WERROR=ON \
        -DQOP_SANITIZE=thread || return 1
    TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
        ctest --test-dir "$dir" --output-on-failure -j "$QOP_JOBS" -L threads --no-tests=error
}

lane_windows() {
    qop_require_packages "${QOP_NATIVE_PACKAGES[@]}" "${QOP_NATIVE_TEST_PACKAGES[@]}" \
        "${QOP_WINDOWS_PACKAGES[@]}" "${QOP_WINDOWS_TEST_PACKAGES[@]}" || return 1
    qop_ensure_cross_protobuf || return 1
    local dir="$QOP_BUILD_ROOT/windows"
    local opts
    mapfile -t opts < <(qop_windows_cmake_options)
    qop_configure_and_build "$dir" -DCMAKE_BUILD_TYPE=Release -DQOP_WERROR=ON "${opts[@]}" || return 1
    # The first start of a prefix creates it; do that once, outside the tests.
    WINEPREFIX="$dir/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
        wineboot -i >/dev/null 2>&1 || true
    # One ctest entry per executable here, so print each executable's own
    # listing of the cases it ran under Wine.
    ctest --test-dir "$dir" --verbose -j "$QOP_JOBS" --no-tests=error
}

# Builds both libraries (Release, warnings as errors) against the godot-cpp
# folder beside the repository, or the one QOP_GODOT_CPP_DIR names, and checks
# that each exports the entry alone. The lane is the test: any compile or link
# error fails it. Without the default folder (a user's machine) it is skipped.
lane_godot_cpp() {
    local dir
    if [ -n "${QOP_GODOT_CPP_DIR:-}" ]; then
        dir="$(qop_named_godot_cpp_folder)" || return 1
    elif ! dir="$(qop_godot_cpp_folder "$QOP_DEFAULT_GODOT_CPP_DIR")"; then
        qop_log "skipping lane godot-cpp: no godot-cpp folder at $QOP_DEFAULT_GODOT_CPP_DIR" \
            "(QOP_GODOT_CPP_DIR names another)"
        skipped+=(godot-cpp)
        return 0
    fi
    qop_require_packages "${QOP_NATIVE_PACKAGES[@]}" "${QOP_WINDOWS_PACKAGES[@]}" || return 1
    qop_ensure_cross_protobuf || return 1
    local platform options opts library
    for platform in native windows; do
        options="$(qop_godot_cpp_cmake_options "$dir" "$platform")" || return 1
        mapfile -t opts <<<"$options"
        library="$QOP_BUILD_ROOT/godot-cpp-$platform/src/godot_adapter/libqop_sdk.so"
        if [ "$platform" = windows ]; then
            mapfile -t -O "${#opts[@]}" opts < <(qop_windows_cmake_options)
            library="$QOP_BUILD_ROOT/godot-cpp-$platform/src/godot_adapter/qop_sdk.dll"
        fi
        qop_configure_and_build "$QOP_BUILD_ROOT/godot-cpp-$platform" -DCMAKE_BUILD_TYPE=Release \
            -DQOP_WERROR=ON "${opts[@]}" || return 1
        qop_check_entry_is_only_export "$library" || return 1
    done
}

# Lanes run inside `if`, where bash ignores `set -e`: every step of a lane
# checks its own result so that a failed build never runs stale tests.
failed=()
skipped=()
for lane in "${lanes[@]}"; do
    case "$lane" in
    native | tsan | windows | godot-cpp) ;;
    *)
        echo "unknown lane: $lane (native, tsan, windows or godot-cpp)" >&2
        exit 2
        ;;
    esac
    qop_log "lane $lane"
    if ! "lane_${lane//-/_}"; then
        failed+=("$lane")
    fi
done

if [ ${#failed[@]} -gt 0 ]; then
    qop_log "failed lanes: ${failed[*]}"
    exit 1
fi
passed=()
for lane in "${lanes[@]}"; do
    [[ " ${skipped[*]} " == *" $lane "* ]] || passed+=("$lane")
done
qop_log "all lanes passed: ${passed[*]:-none}${skipped[*]:+ (skipped: ${skipped[*]})}"
