#!/usr/bin/env bash
# Installs the Debian packages that one part of the work needs, so that building the program does
# not bring in cross compilers, oracle libraries and benchmark peers.
#   scripts/install-deps.sh [--list] [--log FILE] GROUP...      (no GROUP: every group)
#     program   the build tools and the programs' own libraries            (make run)
#     test      GoogleTest, the oracle libraries, the offscreen windows' font (make test)
#     bench     Google Benchmark, the peer libraries, a virtual display      (make bench)
#     windows   the Windows cross build and Wine to run it          (scripts/windows-tests.sh)
#     package   building the Debian package and checking it         (scripts/package-check.sh)
#     tools     what a developer uses on the tree: git, clang-format
# --list prints the groups' packages, one a line, and installs nothing. --log sends apt-get's
# output to FILE and leaves one line on the screen. Safe to run again: only what is missing is
# installed. Not run as root, it names what is missing and the command, and runs that with sudo.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
# shellcheck source=quietly.sh
source "$here/quietly.sh"

declare -A packages caption
# Qt's development package brings OpenGL and Vulkan headers with it: Qt's Gui module refers to
# them even in a build that uses neither. CLI11 is the command-line tool's option parser (headers).
packages[program]="build-essential cmake ninja-build pkg-config libutf8proc-dev
    qt6-base-dev qt6-base-dev-tools libxkbcommon-dev libcli11-dev"
caption[program]="the program"
# The oracle libraries are linked by the tests alone; the product links none of them. The offscreen
# window tests need one real font to measure their texts with.
packages[test]="libgtest-dev libssl-dev libcrypto++-dev libbotan-2-dev fonts-dejavu-core"
caption[test]="the tests"
# The peers measured beside our ciphers, `openssl enc` and /usr/bin/time for the whole-file runs,
# GNU shred for the shredding comparison, and Xvfb for the window's start-up on a server.
packages[bench]="libbenchmark-dev libssl-dev openssl libcrypto++-dev libgcrypt20-dev libbotan-2-dev
    xvfb time coreutils"
caption[bench]="the benchmarks"
# GoogleTest's sources are compiled with the cross compiler; python3 types at a pseudo-terminal.
packages[windows]="mingw-w64 googletest wine64 python3"
caption[windows]="the Windows build"
# lintian, the desktop validators and the file-type lookup (xdg-mime, which asks mimetype).
packages[package]="dpkg-dev lintian desktop-file-utils appstream xdg-utils shared-mime-info
    libfile-mimeinfo-perl"
caption[package]="the package check"
packages[tools]="git clang-format"
caption[tools]="development"
all_groups=(program test bench windows package tools)

list=0
log=""
groups=()
while [ $# -gt 0 ]; do
    case $1 in
        --list) list=1 ;;
        --log) log=${2:?--log needs a file}; shift ;;
        -*) echo "install-deps.sh: unknown option $1" >&2; exit 2 ;;
        *)
            if [ -z "${packages[$1]+set}" ]; then
                echo "install-deps.sh: unknown group $1 (groups: ${all_groups[*]})" >&2
                exit 2
            fi
            groups+=("$1") ;;
    esac
    shift
done
[ ${#groups[@]} -gt 0 ] || groups=("${all_groups[@]}")

wanted=()
captions=()
for g in "${groups[@]}"; do
    # shellcheck disable=SC2206 # the lists are words
    wanted+=(${packages[$g]})
    captions+=("${caption[$g]}")
done
# Each package once, in the order first named.
mapfile -t wanted < <(printf '%s\n' "${wanted[@]}" | awk '!seen[$0]++')

if [ "$list" -eq 1 ]; then
    printf '%s\n' "${wanted[@]}"
    exit 0
fi

# One query for all of them: dpkg-query is slow to start.
mapfile -t installed < <(dpkg-query -W -f='${db:Status-Status} ${Package}\n' "${wanted[@]}" 2>/dev/null |
    awk '$1 == "installed" { print $2 }')
missing=()
for p in "${wanted[@]}"; do
    printf '%s\n' "${installed[@]}" | grep -qxF -- "$p" || missing+=("$p")
done
[ ${#missing[@]} -gt 0 ] || exit 0

# "the program, the tests and the benchmarks"
for_whom=${captions[0]}
for ((i = 1; i < ${#captions[@]}; i++)); do
    if ((i == ${#captions[@]} - 1)); then for_whom+=" and ${captions[i]}"; else for_whom+=", ${captions[i]}"; fi
done

as_root=()
stage="Installing packages for $for_whom..."
if [ "$(id -u)" -ne 0 ]; then
    install="apt-get install -y --no-install-recommends ${missing[*]}"
    if ! command -v sudo >/dev/null; then
        echo "Packages for $for_whom are missing: ${missing[*]}" >&2
        echo "Install them as root with: apt-get update && $install" >&2
        exit 1
    fi
    # sudo asks for the password at the terminal itself, so the prompt shows even with the log.
    echo "Packages for $for_whom are missing: ${missing[*]}"
    stage="Installing them with: sudo apt-get update && sudo $install"
    # sudo clears the environment; apt-get must still not stop to ask questions.
    as_root=(sudo env DEBIAN_FRONTEND=noninteractive)
fi

export DEBIAN_FRONTEND=noninteractive
quietly "$log" "$stage" "${as_root[@]}" apt-get update
quietly "$log" "" "${as_root[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
