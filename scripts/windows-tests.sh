#!/usr/bin/env bash
# Builds the Windows command-line tool and the core and cipher tests with MinGW-w64, and runs them
# under Wine: the tests, the tool's selftest, and files crossing between the Linux and the Windows
# tool in both directions (every algorithm, passwords beyond ASCII).
#   scripts/windows-tests.sh LINUX_BUILD_DIR [WINDOWS_BUILD_DIR]
# LINUX_BUILD_DIR holds a built cli/vellumox-cli. Wine gets a fresh prefix of its own, removed at
# the end; set VX_KEEP_WINE_PREFIX to a folder to reuse one (its first start takes half a minute).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
linux_build="$(cd "${1:?usage: windows-tests.sh LINUX_BUILD_DIR [WINDOWS_BUILD_DIR]}" && pwd)"
windows_build="${2:-$root/build-windows}"
linux_cli="$linux_build/cli/vellumox-cli"
[ -x "$linux_cli" ] || { echo "windows-tests.sh: $linux_cli not built" >&2; exit 1; }

# Debian keeps the 64-bit loader in Wine's library folder, not on PATH.
wine=""
for candidate in "$(command -v wine64 || true)" /usr/lib/wine/wine64 /usr/lib/x86_64-linux-gnu/wine/wine64; do
    if [ -n "$candidate" ] && [ -x "$candidate" ]; then
        wine="$candidate"
        break
    fi
done
[ -n "$wine" ] || { echo "windows-tests.sh: no wine64 loader (Debian package wine64)" >&2; exit 1; }
wineserver="$(dirname "$wine")/wineserver"

bash "$root/scripts/cross-windows.sh" "$windows_build"
cmake -S "$root" -B "$windows_build" -DVX_WINDOWS_TESTS=ON >/dev/null
ninja -C "$windows_build" -j"${VX_JOBS:-2}" vx_windows_tests
windows_build="$(cd "$windows_build" && pwd)"
windows_cli="$windows_build/cli/vellumox-cli.exe"

work="$(mktemp -d)"
export WINEPREFIX="${VX_KEEP_WINE_PREFIX:-$work/wine}"
export WINEDEBUG=-all
# No display, no mono or gecko installers: nothing here draws a window.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
cleanup() {
    "$wineserver" -k 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

started=$SECONDS
"$wine" wineboot -i >/dev/null 2>&1 || true
echo "windows-tests.sh: Wine prefix ready in $((SECONDS - started)) s"

failed=0
run() {
    echo "== $*"
    if ! "$@"; then
        echo "windows-tests.sh: FAILED: $*" >&2
        failed=1
    fi
}
run "$wine" "$windows_build/vx_crypto_tests.exe" --gtest_brief=1
run "$wine" "$windows_build/vx_core_tests.exe" --gtest_brief=1
run "$wine" "$windows_cli" selftest

# Files encrypted on one side decrypt on the other, in place and back, for every algorithm the
# tool has and for passwords that take the Windows-1252 and the UTF-8 byte forms.
linux_tool() { "$linux_cli" "$@"; }
windows_tool() { "$wine" "$windows_cli" "$@"; }
crossing() (
    from="$1" to="$2" dir="$work/$3"
    mkdir -p "$dir"
    cd "$dir"
    printf 'Grüße, Kätzchen €\n' >latin.pw
    printf 'пароль 密码\n' >unicode.pw
    algorithms="$(linux_tool algorithms | awk '$NF == "available" && $(NF-1) != "not" {print $1 + 0}')"
    [ -n "$algorithms" ] || { echo "no algorithms listed" >&2; exit 1; }
    for pw in latin unicode; do
        names=()
        for a in $algorithms; do
            name="file-$a-$pw"
            head -c $((a * 4099 + ${#pw} * 1000)) /dev/urandom >"$name"
            cp "$name" "$name.orig"
            "$from" encrypt -a "$a" --source delete --password-file "$pw.pw" "$name" >/dev/null || exit 1
            if cmp -s "$name" "$name.orig"; then
                echo "$name was not encrypted" >&2
                exit 1
            fi
            names+=("$name")
        done
        "$to" decrypt --source delete --password-file "$pw.pw" "${names[@]}" >/dev/null || exit 1
        for n in "${names[@]}"; do
            cmp "$n" "$n.orig" || { echo "$n did not come back" >&2; exit 1; }
        done
        echo "${#names[@]} files with the $pw password"
    done
)
run crossing linux_tool windows_tool linux-to-windows
run crossing windows_tool linux_tool windows-to-linux

echo "windows-tests.sh: done in $((SECONDS - started)) s"
exit "$failed"
