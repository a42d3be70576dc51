#!/usr/bin/env bash
# Builds the library natively and for 64-bit Windows (release builds) and
# assembles the addon folder: the .gdextension file with both libraries.
# With QOP_GODOT_CPP_DIR naming a godot-cpp folder, both libraries link that
# engine binding and a Godot engine can load them; without it they link
# godot_standin, the in-process stand-in the tests use.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib/common.sh"

qop_require_packages "${QOP_NATIVE_PACKAGES[@]}" "${QOP_WINDOWS_PACKAGES[@]}"
qop_ensure_cross_protobuf

# Empty values reset a folder that an earlier run built against godot-cpp.
native_binding=(-DQOP_GODOT_CPP_DIR= -DQOP_GODOT_CPP_EXPORT=)
windows_binding=(-DQOP_GODOT_CPP_DIR= -DQOP_GODOT_CPP_EXPORT=)
if [ -n "${QOP_GODOT_CPP_DIR:-}" ]; then
    godot_cpp_dir="$(qop_named_godot_cpp_folder)"
    qop_log "engine binding: godot-cpp from $godot_cpp_dir"
    options="$(qop_godot_cpp_cmake_options "$godot_cpp_dir" native)"
    mapfile -t native_binding <<<"$options"
    options="$(qop_godot_cpp_cmake_options "$godot_cpp_dir" windows)"
    mapfile -t windows_binding <<<"$options"
fi

qop_log "native release build"
qop_configure_and_build "$QOP_BUILD_ROOT/release-native" -DCMAKE_BUILD_TYPE=Release \
    -DQOP_BUILD_TESTS=OFF "${native_binding[@]}"

qop_log "windows release build"
mapfile -t opts < <(qop_windows_cmake_options)
qop_configure_and_build "$QOP_BUILD_ROOT/release-windows" -DCMAKE_BUILD_TYPE=Release \
    -DQOP_BUILD_TESTS=OFF "${opts[@]}" "${windows_binding[@]}"

bash "$QOP_REPO_ROOT/scripts/lib/assemble_addon.sh" "$QOP_BUILD_ROOT/release-native" \
    "$QOP_BUILD_ROOT/release-windows" "$QOP_BUILD_ROOT/addons/qop_sdk"
if [ -z "${QOP_GODOT_CPP_DIR:-}" ]; then
    qop_log "the addon's libraries link godot_standin, the in-process stand-in of the engine" \
        "binding: no engine loads them (QOP_GODOT_CPP_DIR=<godot-cpp checkout> builds ones that load)"
fi
