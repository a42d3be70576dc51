#!/usr/bin/env bash
# Assembles the addon folder a Godot project copies into its addons/: the
# extension description file plus the Linux and the Windows library. Only
# libraries built against godot-cpp go in: ones that link godot_standin load
# in no engine. An addon already there is replaced whole, once the new one is
# complete.
#
# usage: scripts/lib/assemble_addon.sh NATIVE_BUILD_DIR WINDOWS_BUILD_DIR OUTPUT_DIR
#   NATIVE_BUILD_DIR   a native build folder (holds src/godot_adapter/libqop_sdk.so)
#   WINDOWS_BUILD_DIR  a mingw-w64 build folder (holds src/godot_adapter/qop_sdk.dll)
#   OUTPUT_DIR         the addon folder to fill, e.g. build/addons/qop_sdk
set -euo pipefail

if [ $# -ne 3 ]; then
    echo "usage: $0 NATIVE_BUILD_DIR WINDOWS_BUILD_DIR OUTPUT_DIR" >&2
    exit 2
fi

native_dir="$1"
windows_dir="$2"
out_dir="$3"
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

linux_library="$native_dir/src/godot_adapter/libqop_sdk.so"
windows_library="$windows_dir/src/godot_adapter/qop_sdk.dll"
description="$QOP_REPO_ROOT/src/godot_adapter/qop_sdk.gdextension"

for file in "$linux_library" "$windows_library" "$description"; do
    if [ ! -f "$file" ]; then
        echo "missing $file: build both folders first" >&2
        exit 1
    fi
done

for library in "$linux_library" "$windows_library"; do
    if qop_links_godot_standin "$library"; then
        echo "$library links godot_standin, which no engine loads: build it with" \
            "QOP_GODOT_CPP_DIR=<godot-cpp checkout>" >&2
        exit 1
    fi
done

# The description names the libraries relative to itself: bin/<library>.
staging="$out_dir.partial"
rm -rf "$staging"
mkdir -p "$staging/bin"
cp "$description" "$staging/qop_sdk.gdextension"
cp "$linux_library" "$staging/bin/libqop_sdk.so"
cp "$windows_library" "$staging/bin/qop_sdk.dll"
rm -rf "$out_dir"
mv "$staging" "$out_dir"
echo "addon assembled in $out_dir"
