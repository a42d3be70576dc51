# Building against the real engine binding: where the godot-cpp folder is,
# its build cached per folder content and toolchain, and the export check of a
# library built against it. Sourced by common.sh.
# shellcheck shell=bash

# The folder the godot-cpp lane uses by default: a clean clone has shared/
# beside it.
QOP_DEFAULT_GODOT_CPP_DIR="$QOP_REPO_ROOT/../shared/godot-cpp"

# Prints the absolute path of a godot-cpp folder (one with a CMakeLists.txt);
# fails when there is none at the path given.
qop_godot_cpp_folder() {
    [ -f "$1/CMakeLists.txt" ] || return 1
    (cd "$1" && pwd -P)
}

# The same for the folder QOP_GODOT_CPP_DIR names, saying so when it is none.
qop_named_godot_cpp_folder() {
    qop_godot_cpp_folder "$QOP_GODOT_CPP_DIR" && return 0
    echo "QOP_GODOT_CPP_DIR=$QOP_GODOT_CPP_DIR is no godot-cpp folder (no CMakeLists.txt)" >&2
    return 1
}

# What identifies one build of godot-cpp: every file of the folder (not its
# place), the compiler, our CMake files that decide its flags, and the build
# type. Arguments: folder, platform (native or windows).
qop_godot_cpp_key() {
    local dir="$1" platform="$2" compiler="${CXX:-c++}"
    [ "$platform" = windows ] && compiler=x86_64-w64-mingw32-g++-posix
    {
        echo "$platform Release"
        (cd "$dir" && find . -name .git -prune -o -type f -print0 | LC_ALL=C sort -z |
            xargs -0 sha256sum)
        "$compiler" --version
        cmake --version
        (cd "$QOP_REPO_ROOT/cmake" && sha256sum QopCompileOptions.cmake QopGodotCpp.cmake \
            godot_cpp_export/CMakeLists.txt toolchain-mingw64.cmake)
    } | sha256sum | cut -c1-16
}

# Builds the target godot-cpp of a folder for one platform into the cache,
# once per key, and prints the export file that QOP_GODOT_CPP_EXPORT takes.
# The build uses a copy of the folder kept beside it, which the export file
# names, so that the folder itself may move or go (a fresh clone in CI).
# Arguments: folder (absolute), platform (native or windows).
qop_ensure_godot_cpp() {
    local dir="$1" platform="$2" key prefix
    key="$(qop_godot_cpp_key "$dir" "$platform")" || return 1
    prefix="$QOP_CACHE_DIR/godot-cpp-$platform-$key"
    mkdir -p "$QOP_CACHE_DIR" || return 1
    (
        if ! flock -n 9; then
            qop_log "waiting for another build of godot-cpp for $platform into $prefix" >&2
            flock 9
        fi
        if [ -f "$prefix/.complete" ]; then
            qop_log "godot-cpp for $platform: the build cached in $prefix" >&2
            exit 0
        fi
        # Minutes without output otherwise: say what runs and where it stays.
        qop_log "building godot-cpp (the engine binding) from $dir for $platform: takes" \
            "several minutes, once; cached in $prefix for later builds" >&2
        rm -rf "$prefix"
        local opts=()
        [ "$platform" = windows ] &&
            opts=("-DCMAKE_TOOLCHAIN_FILE=$QOP_REPO_ROOT/cmake/toolchain-mingw64.cmake")
        mkdir -p "$prefix/source" || exit 1
        # The copy stays writable, whatever the folder's own modes, so that
        # a later rebuild can remove it.
        if ! (cd "$dir" && tar -c --exclude=.git .) | (cd "$prefix/source" && tar -x) ||
            ! chmod -R u+w "$prefix/source" ||
            ! cmake -S "$QOP_REPO_ROOT/cmake/godot_cpp_export" -B "$prefix/build" -G Ninja \
                -DCMAKE_BUILD_TYPE=Release -DQOP_GODOT_CPP_DIR="$prefix/source" "${opts[@]}" \
                >"$prefix.log" 2>&1 ||
            ! cmake --build "$prefix/build" --target godot-cpp -j "$QOP_JOBS" >>"$prefix.log" 2>&1
        then
            tail -n 50 "$prefix.log" >&2
            rm -rf "$prefix"
            exit 1
        fi
        # Only the library, the headers and the export file are used from here on.
        find "$prefix/build" \( -name '*.o' -o -name '*.obj' \) -delete
        rm -f "$prefix.log"
        touch "$prefix/.complete"
    ) 9>"$prefix.lock" || return 1
    echo "$prefix/build/godot-cpp-targets.cmake"
}

# Fails unless the shared library exports exactly one name, the entry.
qop_check_entry_is_only_export() {
    local library="$1" names
    case "$library" in
    *.dll)
        # objdump lists the export directory: one "[n] +base[m]" line per
        # exported address, one "[n] name" line per exported name.
        names="$(x86_64-w64-mingw32-objdump -p "$library" | awk '
            /^\[Ordinal\/Name Pointer\] Table/ { in_names = 1; next }
            in_names && /^[[:space:]]*\[[[:space:]]*[0-9]+\]/ { print $NF; next }
            in_names { in_names = 0 }
            /^[[:space:]]*\[[[:space:]]*[0-9]+\] \+base\[/ { addresses++ }
            END { if (addresses != 1) print "(" addresses + 0 " exported addresses)" }')"
        ;;
    *)
        names="$(nm -D --defined-only --format=posix "$library" | awk '{ print $1 }')"
        ;;
    esac
    if [ "$names" != "qop_sdk_library_init" ]; then
        echo "$library exports more or less than qop_sdk_library_init:" >&2
        echo "$names" >&2
        return 1
    fi
    qop_log "$(basename "$library") exports qop_sdk_library_init only"
}

# Prints the CMake options that build the library against a godot-cpp folder
# for one platform, building godot-cpp into the cache first when needed.
# Arguments: folder (absolute), platform (native or windows).
qop_godot_cpp_cmake_options() {
    local export_file
    export_file="$(qop_ensure_godot_cpp "$1" "$2")" || return 1
    echo "-DQOP_GODOT_CPP_DIR=$1"
    echo "-DQOP_GODOT_CPP_EXPORT=$export_file"
}

# Whether a library links godot_standin rather than the real binding: the
# stand-in's own sources name themselves in it (its file paths and its refusal
# of any engine but its test host), which nothing built against godot-cpp does.
qop_links_godot_standin() {
    grep -qaF godot_standin "$1"
}
