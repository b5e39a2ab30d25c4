#!/usr/bin/env bash
# Whole-file encryption and decryption with vellumox-cli beside `openssl enc` and `cp` on the same
# file in the same run: wall time, peak memory, and the ratios between them.
#   bench/files.sh [BUILD_DIR] [SIZE_MIB]
set -euo pipefail
build=${1:-build}
size_mib=${2:-1024}
cli="$(cd "$build" && pwd)/cli/vellumox-cli"
work=$(mktemp -d "${TMPDIR:-/tmp}/vx-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT

printf 'benchmark password\n' > "$work/pw"
head -c "$((size_mib * 1024 * 1024))" /dev/urandom > "$work/data"
cat "$work/data" > /dev/null # into the page cache

# Runs a command under /usr/bin/time; prints "seconds peak_kib".
measure() {
    /usr/bin/time -f '%e %M' -o "$work/time" "$@" > /dev/null 2>&1
    cat "$work/time"
}

row() { # label seconds kib reference_seconds
    awk -v l="$1" -v s="$2" -v k="$3" -v r="$4" -v mib="$size_mib" \
        'BEGIN { printf "%-34s %8.2f s %9.1f MB/s %8.1f MB peak  %6.2fx cp\n", l, s, mib * 1.048576 / s, k / 1024, s / r }'
}

read -r cp_s cp_k < <(measure cp "$work/data" "$work/copy")
rm -f "$work/copy"
row "cp" "$cp_s" "$cp_k" "$cp_s"

for algo in 0:Blowfish 9:Rijndael; do
    index=${algo%%:*}
    name=${algo#*:}
    read -r e_s e_k < <(measure "$cli" encrypt -a "$index" --password-file "$work/pw" "$work/data")
    row "vellumox-cli encrypt $name" "$e_s" "$e_k" "$cp_s"
    read -r d_s d_k < <(measure "$cli" decrypt --password-file "$work/pw" "$work/data.enc")
    row "vellumox-cli decrypt $name" "$d_s" "$d_k" "$cp_s"
    cmp -s "$work/data" "$work/data.dec" || { echo "round trip of $name FAILED"; exit 1; }
    rm -f "$work/data.enc" "$work/data.dec"
done

for cipher in bf-cbc aes-128-cbc; do
    providers=()
    [ "$cipher" = bf-cbc ] && providers=(-provider legacy -provider default)
    key=000102030405060708090a0b0c0d0e0f
    read -r o_s o_k < <(measure openssl enc "${providers[@]}" -"$cipher" -K "$key" -iv 0000000000000000 \
        -in "$work/data" -out "$work/data.ossl")
    row "openssl enc -$cipher" "$o_s" "$o_k" "$cp_s"
    read -r od_s od_k < <(measure openssl enc -d "${providers[@]}" -"$cipher" -K "$key" -iv 0000000000000000 \
        -in "$work/data.ossl" -out "$work/data.back")
    row "openssl enc -d -$cipher" "$od_s" "$od_k" "$cp_s"
    rm -f "$work/data.ossl" "$work/data.back"
done
