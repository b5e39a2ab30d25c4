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
# MinGW-w64, GoogleTest's sources and Wine are this script's alone: `make run` and `make test` leave
# them out.
mkdir -p "$windows_build"
bash "$root/scripts/install-deps.sh" --log "$windows_build/setup.log" windows

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
    local began=$SECONDS
    echo "== $*"
    if ! "$@"; then
        echo "windows-tests.sh: FAILED: $*" >&2
        failed=1
    fi
    echo "   ($((SECONDS - began)) s)"
}
run "$wine" "$windows_build/vx_crypto_tests.exe" --gtest_brief=1
run "$wine" "$windows_build/vx_core_tests.exe" --gtest_brief=1
run "$wine" "$windows_cli" selftest

# Both tools encrypt the same files, for every algorithm the tool has, with passwords that take the
# Windows-1252 and the UTF-8 byte forms: the encrypted files must be the same bytes (nothing in
# the format is random), and each side decrypts the other's in place.
linux_tool() { "$linux_cli" "$@"; }
windows_tool() { "$wine" "$windows_cli" "$@"; }
crossing() (
    cd "$work"
    printf 'Grüße, Kätzchen €\n' >latin-Kennwort-Grüße.pw
    printf 'пароль 密码\n' >unicode-Kennwort-Grüße.pw
    algorithms="$(linux_tool algorithms | awk '$0 ~ /  available  / {print $1 + 0}')"
    [ -n "$algorithms" ] || { echo "no algorithms listed" >&2; exit 1; }
    for pw in latin unicode; do
        fromLinux=()
        fromWindows=()
        # Each Wine start costs seconds: the byte form is the algorithms' common step, so the second
        # password takes the first and the last algorithm only.
        chosen="$algorithms"
        [ "$pw" = latin ] || chosen="$(echo "$algorithms" | sed -n '1p;$p')"
        for a in $chosen; do
            # Names beyond ASCII too, which reach a Windows program in UTF-16.
            name="file-$a-$pw-Grüße-пароль"
            head -c $((a * 4099 + ${#pw} * 1000)) /dev/urandom >"$name"
            cp "$name" "$name.linux"
            cp "$name" "$name.windows"
            linux_tool encrypt -a "$a" --source delete --password-file "$pw-Kennwort-Grüße.pw" "$name.linux" >/dev/null || exit 1
            windows_tool encrypt -a "$a" --source delete --password-file "$pw-Kennwort-Grüße.pw" "$name.windows" >/dev/null ||
                exit 1
            if cmp -s "$name" "$name.linux"; then
                echo "$name was not encrypted" >&2
                exit 1
            fi
            cmp "$name.linux" "$name.windows" || { echo "the tools encrypt $name differently" >&2; exit 1; }
            fromLinux+=("$name.linux")
            fromWindows+=("$name.windows")
        done
        windows_tool decrypt --source delete --password-file "$pw-Kennwort-Grüße.pw" "${fromLinux[@]}" >/dev/null || exit 1
        linux_tool decrypt --source delete --password-file "$pw-Kennwort-Grüße.pw" "${fromWindows[@]}" >/dev/null || exit 1
        for n in "${fromLinux[@]}" "${fromWindows[@]}"; do
            cmp "$n" "${n%.*}" || { echo "$n did not come back" >&2; exit 1; }
        done
        echo "${#fromLinux[@]} algorithms with the $pw password: same bytes, and back on the other side"
    done
)
run crossing

# A folder tree beyond ASCII: encrypted in place by the Windows tool, decrypted by the Linux one,
# then shredded by the Windows tool.
tree() (
    cd "$work"
    mkdir -p "Baum/Äste/листья" "Baum/leer"
    head -c 70000 /dev/urandom >"Baum/Wurzel"
    head -c 3 /dev/urandom >"Baum/Äste/листья/лист €"
    printf 'tree\n' >"Baum/.versteckt"
    cp -a Baum Baum.orig
    windows_tool encrypt -r --source delete --password-file latin-Kennwort-Grüße.pw Baum >/dev/null || exit 1
    if cmp -s "Baum/Äste/листья/лист €" "Baum.orig/Äste/листья/лист €"; then
        echo "the tree was not encrypted" >&2
        exit 1
    fi
    linux_tool decrypt -r --source delete --password-file latin-Kennwort-Grüße.pw Baum >/dev/null || exit 1
    diff -r Baum Baum.orig || { echo "the tree did not come back" >&2; exit 1; }
    windows_tool shred -r -y --method 0 Baum >/dev/null || exit 1
    left="$(find Baum -type f 2>/dev/null | wc -l)"
    [ "$left" -eq 0 ] || { echo "$left files left after shredding" >&2; exit 1; }
    echo "3 files in 4 folders"
)
run tree

# A password typed at the Windows console (beyond ASCII) opens the file on Linux, and the other way.
typed() (
    cd "$work"
    head -c 5000 /dev/urandom >typed
    cp typed typed.orig
    python3 "$root/scripts/type-at-terminal.py" "assword:" "Grüße, Kätzchen €" 2 -- \
        "$wine" "$windows_cli" encrypt --source delete typed >/dev/null || exit 1
    cmp -s typed typed.orig && { echo "not encrypted" >&2; exit 1; }
    linux_tool decrypt --source delete --password-file latin-Kennwort-Grüße.pw typed >/dev/null || exit 1
    cmp typed typed.orig || exit 1
    linux_tool encrypt --source delete --password-file latin-Kennwort-Grüße.pw typed >/dev/null || exit 1
    python3 "$root/scripts/type-at-terminal.py" "assword:" "Grüße, Kätzchen €" 1 -- \
        "$wine" "$windows_cli" decrypt --source delete typed >/dev/null || exit 1
    cmp typed typed.orig || exit 1
    echo "both ways"
)
run typed

echo "windows-tests.sh: done in $((SECONDS - started)) s"
exit "$failed"
