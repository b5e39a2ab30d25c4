#!/usr/bin/env bash
# The set-up scripts behind `make run` and `make test`, run on stand-ins: a tiny CMake project for
# the configure step, and dpkg-query/apt-get/id/sudo replaced on PATH, so nothing is installed.
#   tests/setup/test_setup.sh SOURCE_DIR scripts|configure
# "configure" configures the real tree without tests and benchmarks and checks that it looked for
# none of their packages (a fresh machine that ran `make run` has none of them).
set -uo pipefail
root=$(cd "${1:?usage: test_setup.sh SOURCE_DIR scripts|configure}" && pwd)
mode=${2:-scripts}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
passes=0
check() { # DESCRIPTION COMMAND...
    if "${@:2}"; then
        passes=$((passes + 1))
    else
        echo "FAILED: $1" >&2
        failures=$((failures + 1))
    fi
}
finish() {
    echo "$passes passed, $failures failed"
    [ "$failures" -eq 0 ]
    exit
}

if [ "$mode" = configure ]; then
    cmake -S "$root" -B "$work/build" -G Ninja -DVX_BUILD_TESTS=OFF -DVX_BUILD_BENCH=OFF >"$work/out" 2>&1 ||
        { cat "$work/out"; echo "FAILED: the program alone does not configure"; exit 1; }
    # Each of these is an entry that a lookup of a test or benchmark package leaves in the cache.
    for entry in GTest_DIR OpenSSL_FOUND OPENSSL_CRYPTO_LIBRARY benchmark_DIR Qt6Test_DIR CRYPTOPP_FOUND \
        BOTAN_FOUND GCRYPT_FOUND; do
        check "configuring the program alone looks up $entry" \
            bash -c "! grep -q '^$entry:' '$work/build/CMakeCache.txt'"
    done
    check "the programs' target exists" grep -q 'vx_programs' "$work/build/build.ninja"
    finish
fi

## Package groups: the program's own holds no test, benchmark, cross-build or packaging tool.
program=$(bash "$root/scripts/install-deps.sh" --list program)
check "the program group is listed" test -n "$program"
not_program='^(libgtest|libgmock|googletest|libbenchmark|mingw|wine|libssl|openssl|libcrypto\+\+|libbotan|libgcrypt|xvfb|xauth|fonts-|lintian|appstream|desktop-file-utils|dpkg-dev|python3|clang-format|time)'
check "the program group has none of: $(grep -E "$not_program" <<<"$program" | tr '\n' ' ')" \
    bash -c "! grep -Eq '$not_program' <<<'$program'"
for needed in cmake ninja-build qt6-base-dev libutf8proc-dev libcli11-dev; do
    check "the program group has $needed" grep -qx "$needed" <<<"$program"
done
for pair in test:libgtest-dev test:libbotan-2-dev bench:libbenchmark-dev windows:mingw-w64 windows:wine64 \
    package:lintian; do
    check "the ${pair%%:*} group has ${pair#*:}" grep -qx "${pair#*:}" < <(bash "$root/scripts/install-deps.sh" --list "${pair%%:*}")
done
check "an unknown group is refused" bash -c "! bash '$root/scripts/install-deps.sh' --list nonsense 2>/dev/null"

## Installing: only what is missing, in one apt-get call; nothing at all when everything is there.
fake=$work/bin
mkdir -p "$fake"
cat >"$fake/dpkg-query" <<'SH'
#!/bin/sh
# Every package asked about is installed, except those in $MISSING.
for a; do case $a in -*) ;; *) case " $MISSING " in *" $a "*) ;; *) echo "installed $a" ;; esac ;; esac; done
SH
cat >"$fake/apt-get" <<'SH'
#!/bin/sh
echo "apt-get $*" >>"$CALLS"
echo "apt-get's chatter"
[ -z "$APT_FAILS" ] || [ "$1" != install ] || { echo "E: Unable to locate package"; exit 100; }
SH
printf '#!/bin/sh\necho "${FAKE_UID:-0}"\n' >"$fake/id"
printf '#!/bin/sh\necho "sudo $*" >>"$CALLS"\nshift 2\nexec "$@"\n' >"$fake/sudo"
chmod +x "$fake"/*
deps() { PATH=$fake:$PATH CALLS=$work/calls bash "$root/scripts/install-deps.sh" --log "$work/log" "$@" >"$work/screen" 2>&1; }

: >"$work/calls"
MISSING="" deps program test
check "nothing is installed when nothing is missing" test ! -s "$work/calls"
check "and nothing is said" test ! -s "$work/screen"

: >"$work/calls"
MISSING="libgtest-dev cmake wine64" deps program test
check "update, then the two missing packages of the groups asked" \
    diff <(printf '%s\n' "apt-get update" "apt-get install -y --no-install-recommends cmake libgtest-dev") "$work/calls"
check "one line on the screen" diff <(echo "Installing packages for the program and the tests...") "$work/screen"
check "apt-get's output in the log" grep -q "apt-get's chatter" "$work/log"

: >"$work/calls"
FAKE_UID=1000 MISSING="cmake" deps program
check "not root: the missing package and the command are named" \
    grep -q "^Installing them with: sudo apt-get update && sudo apt-get install -y --no-install-recommends cmake$" "$work/screen"
check "not root: apt-get runs through sudo, which cannot ask questions" \
    grep -q "^sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends cmake$" "$work/calls"

APT_FAILS=1 MISSING="cmake" deps program
status=$?
check "a failed installation fails" test "$status" -ne 0
check "a failed installation shows the log's end and its path" \
    bash -c "grep -q 'E: Unable to locate package' '$work/screen' && grep -q 'The whole log: $work/log' '$work/screen'"

## Configuring: only when the parts or the flags change; parts are added, never taken away.
src=$work/src
mkdir -p "$src"
cat >"$src/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.25)
project(stand_in NONE)
option(VX_BUILD_TESTS "" ON)
option(VX_BUILD_BENCH "" ON)
file(APPEND ${CMAKE_BINARY_DIR}/configured "${VX_BUILD_TESTS} ${VX_BUILD_BENCH} ${EXTRA}\n")
CMAKE
b=$work/b
configure() { VX_SOURCE_DIR=$src bash "$root/scripts/configure.sh" "$b" "$@" >"$work/screen" 2>&1; }
last() { tail -n 1 "$b/configured"; }
count() { wc -l <"$b/configured"; }

configure program
check "make run: tests and benchmarks off" test "$(last)" = "OFF OFF "
check "a configure step says so in one line" diff <(echo "Configuring...") "$work/screen"
configure program
check "make run again: not configured again" test "$(count)" -eq 1
check "and nothing is said" test ! -s "$work/screen"
configure "program test"
check "make test after make run: the tests come on" test "$(last)" = "ON OFF "
configure "program test"
check "make test again: not configured again" test "$(count)" -eq 2
configure program
check "make run after make test keeps the tests, without configuring" test "$(count)" -eq 2
configure "program bench"
check "make bench adds the benchmarks to the tests" test "$(last)" = "ON ON "
configure "program test" -DEXTRA=1
check "new flags: configured again, with them" test "$(last)" = "ON ON 1"
configure "program test" -DEXTRA=1
check "the same flags: not configured again" test "$(count)" -eq 4
rm "$b/build.ninja"
configure "program test" -DEXTRA=1
check "a folder without build.ninja is configured" test "$(count)" -eq 5
echo 'message(FATAL_ERROR "broken")' >>"$src/CMakeLists.txt"
configure "program test" -DEXTRA=2
check "a failed configure step fails" test "$?" -ne 0
sed -i '$d' "$src/CMakeLists.txt"
# The failed step left EXTRA=2 in the cache: going back to the flags before must configure again.
configure "program test" -DEXTRA=1
check "after a failed configure step the next run configures again" test "$(last)" = "ON ON 1"

finish
