#!/usr/bin/env bash
# Builds the Debian package from a build folder, installs it on this machine, checks what it put
# there as a desktop would use it, and removes it again. Needs root (CI runs as root).
set -euo pipefail
build=${1:-build}
cd "$(dirname "$0")/.."

as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
# lintian and the desktop's validators are needed here alone.
mkdir -p "$build"
bash scripts/install-deps.sh --log "$build/setup.log" package

cmake -S . -B "$build" -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
cmake --build "$build" --target vellumox vellumox-cli vx_man_pages vx_changelog >/dev/null
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/vellumox_*.deb)
echo "package: $deb"

lintian --fail-on error "$deb"

export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get install -y --no-install-recommends "./$deb" >/dev/null
trap '"${as_root[@]}" apt-get remove -y vellumox >/dev/null 2>&1 || true' EXIT

/usr/bin/vellumox-cli selftest >/dev/null
desktop-file-validate /usr/share/applications/vellumox.desktop /usr/share/applications/vellumox-decrypt.desktop
appstreamcli validate --no-net /usr/share/metainfo/io.github.vellumox.Vellumox.metainfo.xml >/dev/null
man -w vellumox-cli >/dev/null
man -w vellumox >/dev/null

# The installed type must recognise an encrypted file by its header, whatever its name.
work=$(mktemp -d)
trap 'rm -rf "$work"; "${as_root[@]}" apt-get remove -y vellumox >/dev/null 2>&1 || true' EXIT
printf 'some words to keep\n' > "$work/letter.txt"
printf 'secret\n' > "$work/password"
/usr/bin/vellumox-cli encrypt --source delete --password-file "$work/password" "$work/letter.txt" >/dev/null 2>&1
type=$(xdg-mime query filetype "$work/letter.txt")
if [ "$type" != application/x-vellumox-encrypted ]; then
    echo "an encrypted file reads as '$type'" >&2
    exit 1
fi
handler=$(xdg-mime query default application/x-vellumox-encrypted || true)
echo "encrypted files: $type, opened by ${handler:-nothing}"

"${as_root[@]}" apt-get remove -y vellumox >/dev/null
for left in /usr/bin/vellumox /usr/bin/vellumox-cli /usr/share/applications/vellumox.desktop \
            /usr/share/mime/packages/vellumox.xml /usr/share/man/man1/vellumox-cli.1.gz; do
    if [ -e "$left" ]; then
        echo "left behind after removal: $left" >&2
        exit 1
    fi
done
if xdg-mime query filetype "$work/letter.txt" | grep -q vellumox; then
    echo "the file type outlived the package" >&2
    exit 1
fi
echo "package: builds, installs, works and removes cleanly"
