#!/usr/bin/env bash
# Configures a build folder for the parts a make target needs, and only when something changed:
# cmake's configure step takes longer than an up-to-date build. A folder keeps the parts it has
# (its CMakeCache.txt says which), so `make run` after `make test` does not switch the tests off only
# for the next `make test` to switch them on again; a stamp file holds the arguments it was last
# configured with, so new CMAKE_FLAGS configure it again.
#   scripts/configure.sh BUILD_DIR "GROUP..." [CMAKE_ARGUMENT...]
# The groups are install-deps.sh's: "test" adds the tests, "bench" the benchmarks. The output goes
# to BUILD_DIR/setup.log (VX_LOG overrides); VX_SOURCE_DIR overrides the source tree.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
# shellcheck source=quietly.sh
source "$here/quietly.sh"

build=${1:?usage: configure.sh BUILD_DIR "GROUP..." [CMAKE_ARGUMENT...]}
groups=" ${2:-} "
shift 2 || shift $#
root=${VX_SOURCE_DIR:-$(cd "$here/.." && pwd)}
log=${VX_LOG-$build/setup.log}
stamp=$build/vx-configure.args

has_part() { # OPTION: whether the folder is configured with it on
    grep -Eqx "$1:[A-Z]+=(ON|TRUE|YES|1)" "$build/CMakeCache.txt" 2>/dev/null
}
tests=OFF
bench=OFF
if [[ $groups == *" test "* ]] || has_part VX_BUILD_TESTS; then tests=ON; fi
if [[ $groups == *" bench "* ]] || has_part VX_BUILD_BENCH; then bench=ON; fi
# The caller's arguments come last, so that they win over the parts.
args=(-G Ninja -DVX_BUILD_TESTS=$tests -DVX_BUILD_BENCH=$bench "$@")

if [ -f "$build/build.ninja" ] && [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$(printf '%s\n' "${args[@]}")" ]; then
    exit 0
fi
# A configure step that fails must not leave a stamp that says the folder is up to date.
rm -f "$stamp"
quietly "$log" "Configuring..." cmake -S "$root" -B "$build" "${args[@]}"
printf '%s\n' "${args[@]}" >"$stamp"
