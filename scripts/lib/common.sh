# Shared helpers for scripts/build.sh and scripts/test.sh.
# shellcheck shell=bash

QOP_REPO_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
QOP_BUILD_ROOT="${QOP_BUILD_ROOT:-$QOP_REPO_ROOT/build}"
QOP_CACHE_DIR="${QOP_CACHE_DIR:-${HOME:-/root}/.cache/qop-sdk}"
QOP_JOBS="${QOP_JOBS:-$(nproc)}"
QOP_PROTOBUF_VERSION=3.21.12
QOP_PROTOBUF_PREFIX="$QOP_CACHE_DIR/protobuf-$QOP_PROTOBUF_VERSION-mingw64"

qop_log() { printf '== %s\n' "$*"; }

# How long a package install waits for another apt or dpkg (a fresh machine
# often runs its own updates at first boot) before it gives up.
QOP_PACKAGE_LOCK_WAIT="${QOP_PACKAGE_LOCK_WAIT:-600}"

# Runs one apt-get command, waiting while another package manager holds one
# of its locks. apt-get waits for the dpkg lock itself when asked to, but not
# for the lists lock of an update nor the archives lock of a download: those
# fail at once, so they are retried until the wait is used up.
qop_apt_get() {
    local deadline=$((SECONDS + QOP_PACKAGE_LOCK_WAIT)) said="" errors status
    errors="$(mktemp)"
    while :; do
        status=0
        $QOP_SUDO env DEBIAN_FRONTEND=noninteractive apt-get \
            -o DPkg::Lock::Timeout="$QOP_PACKAGE_LOCK_WAIT" "$@" 2>"$errors" || status=$?
        if [ "$status" -eq 0 ] || ! grep -qiE 'could not get lock|unable to (acquire|lock)' "$errors"; then
            cat "$errors" >&2
            rm -f "$errors"
            return "$status"
        fi
        if [ "$SECONDS" -ge "$deadline" ]; then
            cat "$errors" >&2
            rm -f "$errors"
            qop_log "gave up: the package manager's lock stayed taken for" \
                "$QOP_PACKAGE_LOCK_WAIT s (QOP_PACKAGE_LOCK_WAIT)" >&2
            return "$status"
        fi
        if [ -z "$said" ]; then
            qop_log "another package manager is running: waiting for its lock (at most" \
                "$QOP_PACKAGE_LOCK_WAIT s)" >&2
            said=yes
        fi
        sleep 5
    done
}

# Installs the Debian packages that are missing; quiet and idempotent.
qop_require_packages() {
    local missing=()
    local pkg
    for pkg in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'ok installed'; then
            missing+=("$pkg")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    qop_log "installing ${missing[*]}"
    QOP_SUDO=""
    [ "$(id -u)" -ne 0 ] && QOP_SUDO="sudo"
    qop_apt_get update -qq || return 1
    qop_apt_get install -y -qq "${missing[@]}" >/dev/null </dev/null
}

# What building needs, natively and for Windows (apt-get source, which
# fetches the protobuf that is cross-built, needs dpkg-dev); what only the
# tests need comes on top.
QOP_NATIVE_PACKAGES=(build-essential cmake ninja-build pkg-config protobuf-compiler libprotobuf-dev)
QOP_WINDOWS_PACKAGES=(mingw-w64 g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix
    binutils-mingw-w64-x86-64 dpkg-dev)
QOP_NATIVE_TEST_PACKAGES=(googletest)
QOP_WINDOWS_TEST_PACKAGES=(wine wine64)

# Cross-builds protobuf for mingw-w64 from Debian's own source package into the
# cache outside the repository. Reused when present; a lock keeps parallel
# builds from doing it twice.
qop_ensure_cross_protobuf() {
    mkdir -p "$QOP_CACHE_DIR"
    (
        flock 9
        if [ -f "$QOP_PROTOBUF_PREFIX/.complete" ]; then
            exit 0
        fi
        qop_log "cross-building protobuf $QOP_PROTOBUF_VERSION for Windows (cached in $QOP_PROTOBUF_PREFIX)"
        local work
        work="$(mktemp -d "$QOP_CACHE_DIR/protobuf-src.XXXXXX")"
        trap 'rm -rf "$work"' EXIT
        # A deb-src list derived from the machine's own sources, used only for
        # this download and never written into the system configuration.
        mkdir -p "$work/apt/lists/partial" "$work/apt/parts"
        local src
        for src in /etc/apt/sources.list.d/*.sources; do
            [ -f "$src" ] || continue
            sed 's/^Types:.*/Types: deb-src/' "$src" >"$work/apt/parts/$(basename "$src")"
        done
        if [ -f /etc/apt/sources.list ]; then
            sed -n 's/^deb /deb-src /p' /etc/apt/sources.list >"$work/apt/sources.list"
        else
            : >"$work/apt/sources.list"
        fi
        local aptopts=(-o "Dir::Etc::SourceList=$work/apt/sources.list"
            -o "Dir::Etc::SourceParts=$work/apt/parts"
            -o "Dir::State::Lists=$work/apt/lists"
            -o "Debug::NoLocking=1" -o "APT::Sandbox::User=root")
        apt-get "${aptopts[@]}" update -qq || exit 1
        (cd "$work" && apt-get "${aptopts[@]}" source -qq protobuf >/dev/null) || exit 1
        local srcdir
        srcdir="$(find "$work" -maxdepth 1 -type d -name "protobuf-$QOP_PROTOBUF_VERSION*" | head -n 1)"
        [ -n "$srcdir" ] || { echo "protobuf $QOP_PROTOBUF_VERSION source not found" >&2; exit 1; }
        cmake -S "$srcdir" -B "$work/build" -G Ninja \
            -DCMAKE_TOOLCHAIN_FILE="$QOP_REPO_ROOT/cmake/toolchain-mingw64.cmake" \
            -DCMAKE_BUILD_TYPE=Release \
            -DCMAKE_INSTALL_PREFIX="$QOP_PROTOBUF_PREFIX" \
            -Dprotobuf_BUILD_TESTS=OFF -Dprotobuf_BUILD_PROTOC_BINARIES=OFF \
            -Dprotobuf_WITH_ZLIB=OFF -Dprotobuf_BUILD_SHARED_LIBS=OFF \
            -Dprotobuf_MSVC_STATIC_RUNTIME=OFF >"$work/configure.log" 2>&1 \
            || { cat "$work/configure.log" >&2; exit 1; }
        cmake --build "$work/build" -j "$QOP_JOBS" >"$work/build.log" 2>&1 \
            || { tail -n 50 "$work/build.log" >&2; exit 1; }
        cmake --install "$work/build" >/dev/null || exit 1
        touch "$QOP_PROTOBUF_PREFIX/.complete"
    ) 9>"$QOP_CACHE_DIR/protobuf.lock"
}

# Configures and builds one folder. Arguments: folder, then extra CMake options.
qop_configure_and_build() {
    local dir="$1"
    shift
    # The configure log sits next to the folder.
    mkdir -p "$(dirname "$dir")"
    cmake -S "$QOP_REPO_ROOT" -B "$dir" -G Ninja "$@" >"$dir.configure.log" 2>&1 \
        || { mkdir -p "$dir"; cat "$dir.configure.log" >&2; return 1; }
    cmake --build "$dir" -j "$QOP_JOBS" || return 1
}

qop_windows_cmake_options() {
    echo "-DCMAKE_TOOLCHAIN_FILE=$QOP_REPO_ROOT/cmake/toolchain-mingw64.cmake"
    echo "-DCMAKE_PREFIX_PATH=$QOP_PROTOBUF_PREFIX"
    echo "-Dprotobuf_DIR=$QOP_PROTOBUF_PREFIX/lib/cmake/protobuf"
}

# shellcheck source=scripts/lib/godot_cpp.sh
source "$QOP_REPO_ROOT/scripts/lib/godot_cpp.sh"
