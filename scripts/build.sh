#!/usr/bin/env bash
# Builds the library natively and for 64-bit Windows (release builds) and
# checks that each exports the entry alone. With QOP_GODOT_CPP_DIR naming a
# godot-cpp folder, both libraries link that engine binding, a Godot engine
# can load them, and they are assembled into the addon folder
# build/addons/qop_sdk/ (the .gdextension file with both libraries). Without
# it they link godot_standin, the in-process stand-in the tests use, which no
# engine loads: no addon is assembled, and one built earlier against
# godot-cpp is kept.
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

native_library="$QOP_BUILD_ROOT/release-native/src/godot_adapter/libqop_sdk.so"
windows_library="$QOP_BUILD_ROOT/release-windows/src/godot_adapter/qop_sdk.dll"
qop_check_entry_is_only_export "$native_library"
qop_check_entry_is_only_export "$windows_library"

addon="$QOP_BUILD_ROOT/addons/qop_sdk"
if [ -n "${QOP_GODOT_CPP_DIR:-}" ]; then
    bash "$QOP_REPO_ROOT/scripts/lib/assemble_addon.sh" "$QOP_BUILD_ROOT/release-native" \
        "$QOP_BUILD_ROOT/release-windows" "$addon"
    qop_log "addon ready: copy $addon into the Godot project's addons/ folder"
    exit 0
fi

# An addon of stand-in libraries (left by an older version of this script)
# would load nowhere; one built against godot-cpp stays.
if [ -d "$addon" ]; then
    if qop_links_godot_standin "$addon/bin/libqop_sdk.so" ||
        qop_links_godot_standin "$addon/bin/qop_sdk.dll"; then
        rm -rf "$addon"
        qop_log "removed $addon: its libraries link godot_standin"
    else
        qop_log "kept $addon, built earlier against godot-cpp (these libraries are not in it)"
    fi
fi
qop_log "no addon assembled: these libraries link godot_standin, the test stand-in of the" \
    "engine binding, which no engine loads; QOP_GODOT_CPP_DIR=<godot-cpp checkout>" \
    "scripts/build.sh builds them against godot-cpp into $addon"
