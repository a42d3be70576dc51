#!/usr/bin/env bash
# Builds the library natively and for 64-bit Windows (release builds) and
# assembles the addon folder: the .gdextension file with both libraries.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib/common.sh"

qop_require_packages "${QOP_NATIVE_PACKAGES[@]}" "${QOP_WINDOWS_PACKAGES[@]}"
qop_ensure_cross_protobuf

qop_log "native release build"
qop_configure_and_build "$QOP_BUILD_ROOT/release-native" -DCMAKE_BUILD_TYPE=Release -DQOP_BUILD_TESTS=OFF

qop_log "windows release build"
mapfile -t opts < <(qop_windows_cmake_options)
qop_configure_and_build "$QOP_BUILD_ROOT/release-windows" -DCMAKE_BUILD_TYPE=Release \
    -DQOP_BUILD_TESTS=OFF "${opts[@]}"

bash "$QOP_REPO_ROOT/scripts/lib/assemble_addon.sh" "$QOP_BUILD_ROOT/release-native" \
    "$QOP_BUILD_ROOT/release-windows" "$QOP_BUILD_ROOT/addons/qop_sdk"
