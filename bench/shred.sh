#!/usr/bin/env bash
# Shreds a file with `vellumox-cli shred` (DoD 5220-22M, 3 passes, each synced to the disk) beside
# GNU `shred -n 3 -u` on an identical file, in the same run, and prints wall time, peak memory and
# the ratio. Both tools flush every pass, so both are bound by the disk.
#   bench/shred.sh [SIZE_MIB] [WORK_DIR]     (default: 1024 MiB in $TMPDIR or /tmp)
# VX_CLI overrides the tool's path (default: build/cli/vellumox-cli); VX_ROUNDS repeats the pair.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
size_mib="${1:-1024}"
work_parent="${2:-${TMPDIR:-/tmp}}"
cli="${VX_CLI:-$root/build/cli/vellumox-cli}"
rounds="${VX_ROUNDS:-1}"

for tool in "$cli" /usr/bin/time shred; do
    if ! command -v "$tool" >/dev/null; then
        echo "shred.sh: $tool not found (build the project; Debian packages time and coreutils)" >&2
        exit 1
    fi
done

work="$(mktemp -d "$work_parent/vx-shred-bench.XXXXXX")"
trap 'rm -rf "$work"' EXIT

echo "Preparing a ${size_mib} MiB file of random bytes in $work ..."
head -c "$((size_mib * 1024 * 1024))" /dev/urandom > "$work/source"
sync

# Runs one tool on a fresh copy and prints "seconds peak-KiB".
measure() {
    local name="$1"
    shift
    cp "$work/source" "$work/$name.bin"
    sync
    /usr/bin/time -f '%e %M' -o "$work/$name.time" "$@" "$work/$name.bin" > /dev/null
    if [ -e "$work/$name.bin" ]; then
        echo "shred.sh: $name left its file behind" >&2
        exit 1
    fi
    cat "$work/$name.time"
}

printf '%-26s %10s %12s\n' "tool" "wall s" "peak KiB"
ours_total=0
gnu_total=0
for ((round = 1; round <= rounds; round++)); do
    # Alternate the order so that neither tool always meets the other's write-back.
    if ((round % 2 == 1)); then
        read -r ours_s ours_kib < <(measure vellumox "$cli" shred -y --method 2)
        read -r gnu_s gnu_kib < <(measure gnu shred -n 3 -u)
    else
        read -r gnu_s gnu_kib < <(measure gnu shred -n 3 -u)
        read -r ours_s ours_kib < <(measure vellumox "$cli" shred -y --method 2)
    fi
    printf '%-26s %10s %12s\n' "vellumox-cli shred (DoD)" "$ours_s" "$ours_kib" "GNU shred -n 3 -u" "$gnu_s" "$gnu_kib"
    ours_total=$(awk -v a="$ours_total" -v b="$ours_s" 'BEGIN { print a + b }')
    gnu_total=$(awk -v a="$gnu_total" -v b="$gnu_s" 'BEGIN { print a + b }')
done

awk -v o="$ours_total" -v g="$gnu_total" -v mib="$size_mib" 'BEGIN {
    printf "vellumox %.1f MB/s of passes, GNU %.1f MB/s; time ratio vellumox/GNU = %.2f (below 1 is faster)\n",
        3 * mib * 1.048576 / (o > 0 ? o : 1), 3 * mib * 1.048576 / (g > 0 ? g : 1), (g > 0 ? o / g : 0)
}'
