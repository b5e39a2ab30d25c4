#!/usr/bin/env bash
# Installs every Debian package that the build, the tests and the benchmarks need.
# Safe to run again: apt-get skips what is already there.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config git clang-format
    libgtest-dev libgmock-dev libbenchmark-dev
    libutf8proc-dev libcli11-dev
    qt6-base-dev qt6-base-dev-tools libgl-dev libxkbcommon-dev libvulkan-dev
    # the window's text in the offscreen tests; a virtual display for the start-up benchmark
    fonts-dejavu-core xvfb
    # test oracles and benchmark peers only; the product links none of them
    libssl-dev openssl libcrypto++-dev libgcrypt20-dev libbotan-2-dev
    # Windows cross build of the core and the command-line tool, its tests (GoogleTest built from
    # source) and Wine to run them
    mingw-w64 googletest wine64
    # types at a pseudo-terminal in the Windows tests
    python3
    # the Debian package and its checks: lintian, the desktop validators, the file-type lookup
    dpkg-dev lintian desktop-file-utils appstream xdg-utils shared-mime-info libfile-mimeinfo-perl
    # whole-file benchmarks and shredding comparisons
    time coreutils util-linux
)

as_root=()
if [ "$(id -u)" -ne 0 ]; then
    as_root=(sudo)
fi

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update
"${as_root[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
