#!/usr/bin/env bash
# Cross-compiles the core library and the command-line tool for 64-bit Windows with MinGW-w64, so
# that the Win32 backend is compiled on every change. scripts/windows-tests.sh builds the tests on
# top of this and runs them under Wine.
#   scripts/cross-windows.sh [BUILD_DIR]     (default: build-windows)
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$root/build-windows}"

if ! command -v x86_64-w64-mingw32-g++-posix >/dev/null; then
    echo "cross-windows.sh: x86_64-w64-mingw32-g++-posix not found (Debian package mingw-w64)" >&2
    exit 1
fi

cmake -S "$root" -B "$build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
    -DCMAKE_BUILD_TYPE=Release \
    -DVX_WERROR=ON
ninja -C "$build" -j"${VX_JOBS:-2}" vx_core vellumox-cli
echo "cross-windows.sh: built $build/cli/vellumox-cli.exe"
