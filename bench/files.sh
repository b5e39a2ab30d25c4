#!/usr/bin/env bash
# Whole-file runs of vellumox-cli beside `openssl enc` and `cp` on the same file in the same run:
# wall time, peak memory, and how the run compares with the budget "cp's time plus the cipher's own
# time for the bytes" (the cipher's speed measured by bench/ciphers, buffer to buffer, in this run).
# Then many small files, for the cost per file.
#   bench/files.sh [BUILD_DIR] [SIZE_MIB] [SMALL_FILES]
# PAR_ONLY=1 runs only the last part (one file at a time against one per core); PAR_FILES=N sets
# its number of files.
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
size_mib=${2:-1024}
small_files=${3:-10000}
cli="$build/cli/vellumox-cli"
ciphers="$build/bench/ciphers"
work=$(mktemp -d "${TMPDIR:-/tmp}/vx-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT

printf 'benchmark password\n' > "$work/pw"
# Runs a command under /usr/bin/time; prints "seconds peak_kib". The dirty pages of the step
# before are written out first, so that no step pays for another's write-back.
measure() {
    sync
    /usr/bin/time -f '%e %M' -o "$work/time" "$@" > /dev/null 2>&1
    cat "$work/time"
}

if [ "${PAR_ONLY:-0}" != 1 ]; then
head -c "$((size_mib * 1024 * 1024))" /dev/urandom > "$work/data"
cat "$work/data" > /dev/null # into the page cache

row() { # label seconds kib
    awk -v l="$1" -v s="$2" -v k="$3" -v mib="$size_mib" \
        'BEGIN { printf "%-44s %7.2f s %8.1f MB/s %7.1f MB peak\n", l, s, mib * 1.048576 / s, k / 1024 }'
}

# MB/s of one of our ciphers, buffer to buffer, from the benchmark program.
cipher_speed() {
    "$ciphers" --benchmark_filter="^$1-direct/$2\$" --benchmark_min_time=0.5 --benchmark_format=csv 2>/dev/null |
        awk -F, '/direct/ { printf "%.1f", $6 / 1e6 }'
}

read -r cp_s cp_k < <(measure cp "$work/data" "$work/copy")
rm -f "$work/copy"
row "cp" "$cp_s" "$cp_k"

for algo in 0:Blowfish 9:Rijndael; do
    index=${algo%%:*}
    name=${algo#*:}
    for direction in encrypt decrypt; do
        speed=$(cipher_speed "$name" "$direction")
        if [ "$direction" = encrypt ]; then
            read -r s k < <(measure "$cli" encrypt -a "$index" --password-file "$work/pw" "$work/data")
        else
            read -r s k < <(measure "$cli" decrypt --password-file "$work/pw" "$work/data.enc")
        fi
        row "vellumox-cli $direction $name (leave)" "$s" "$k"
        awk -v s="$s" -v cp="$cp_s" -v v="$speed" -v mib="$size_mib" 'BEGIN {
            budget = cp + mib * 1.048576 / v
            printf "    cipher alone %.0f MB/s; cp + cipher = %.2f s; run / (cp + cipher) = %.2f (target <= 1.15)\n",
                   v, budget, s / budget }'
    done
    cmp -s "$work/data" "$work/data.dec" || { echo "round trip of $name FAILED"; exit 1; }
    rm -f "$work/data.dec"

    # In place: the output is flushed to the disk before it replaces the source.
    cp "$work/data" "$work/inplace"
    read -r s k < <(measure "$cli" encrypt -a "$index" --source delete --password-file "$work/pw" "$work/inplace")
    row "vellumox-cli encrypt $name (delete, in place)" "$s" "$k"
    read -r s k < <(measure "$cli" decrypt --source delete --password-file "$work/pw" "$work/inplace")
    row "vellumox-cli decrypt $name (delete, in place)" "$s" "$k"
    cmp -s "$work/data" "$work/inplace" || { echo "in-place round trip of $name FAILED"; exit 1; }
    rm -f "$work/data.enc" "$work/inplace"
done

for cipher in bf-cbc aes-128-cbc; do
    providers=()
    [ "$cipher" = bf-cbc ] && providers=(-provider legacy -provider default)
    key=000102030405060708090a0b0c0d0e0f
    iv=000102030405060708090a0b0c0d0e0f
    [ "$cipher" = bf-cbc ] && iv=0001020304050607
    read -r s k < <(measure openssl enc "${providers[@]}" -"$cipher" -K "$key" -iv "$iv" \
        -in "$work/data" -out "$work/data.ossl")
    row "openssl enc -$cipher" "$s" "$k"
    read -r s k < <(measure openssl enc -d "${providers[@]}" -"$cipher" -K "$key" -iv "$iv" \
        -in "$work/data.ossl" -out "$work/data.back")
    row "openssl enc -d -$cipher" "$s" "$k"
    rm -f "$work/data.ossl" "$work/data.back"
done
rm -f "$work/data"

# Many small files: the cost of everything around the cipher (in-use test, header, flushes).
mkdir "$work/small"
head -c "$((small_files * 4096))" /dev/urandom | split -b 4096 -a 6 - "$work/small/f"
for action in leave delete; do
    read -r s k < <(measure "$cli" encrypt --source "$action" -r --password-file "$work/pw" "$work/small")
    printf '%-44s %7.2f s %8.0f files/s %7.1f MB peak\n' "$small_files x 4 KiB encrypt ($action)" "$s" \
        "$(awk -v n="$small_files" -v s="$s" 'BEGIN { print n / s }')" "$(awk -v k="$k" 'BEGIN { print k / 1024 }')"
    find "$work/small" -name '*.enc' -delete
done
read -r s k < <(measure "$cli" decrypt --source delete -r --password-file "$work/pw" "$work/small")
printf '%-44s %7.2f s %8.0f files/s %7.1f MB peak\n' "$small_files x 4 KiB decrypt (delete)" "$s" \
    "$(awk -v n="$small_files" -v s="$s" 'BEGIN { print n / s }')" "$(awk -v k="$k" 'BEGIN { print k / 1024 }')"
fi

# Folder runs on every core: 1,000 files of 1 MiB with Blowfish, one file at a time and one per
# core, in this run. With --source delete every output is flushed before it replaces its source;
# those flushes wait on the disk, and the workers' waits overlap.
par_files=${PAR_FILES:-1000}
cores=$(nproc)
mkdir "$work/par"
for i in $(seq -w 1 "$par_files"); do
    head -c 1048576 /dev/urandom > "$work/par/f$i"
done
echo "load before the parallel runs: $(cut -d' ' -f1-3 /proc/loadavg); $(lscpu | sed -n 's/^Model name: *//p'), $cores cores"
for action in leave delete; do
    declare -A took=()
    for jobs in 1 "$cores"; do
        read -r s k < <(measure "$cli" encrypt -a 0 -j "$jobs" --source "$action" -r --password-file "$work/pw" "$work/par")
        took[$jobs]=$s
        printf '%-44s %7.2f s %8.1f MB/s %7.1f MB peak\n' "$par_files x 1 MiB Blowfish encrypt ($action) -j $jobs" "$s" \
            "$(awk -v n="$par_files" -v s="$s" 'BEGIN { print n * 1.048576 / s }')" "$(awk -v k="$k" 'BEGIN { print k / 1024 }')"
        if [ "$action" = leave ]; then
            find "$work/par" -name '*.enc' -delete
        else
            "$cli" decrypt -j "$cores" --source delete -r --password-file "$work/pw" "$work/par" > /dev/null 2>&1
        fi
    done
    awk -v a="${took[1]}" -v b="${took[$cores]}" -v c="$cores" -v act="$action" \
        'BEGIN { printf "    -j %d is %.2fx the speed of -j 1 (%s; target >= 1.8 on 2 cores)\n", c, a / b, act }'
    unset took
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
