#!/usr/bin/env bash
# Each cipher beside its peers, one process per cipher, medians of three repetitions in MB/s, then
# per cipher and direction the ratio of ours (through the stream, as files go) to the best peer.
# Separate processes keep one cipher's wide vector code (and the lower clock the processor may
# take for it) from weighing on the figures of the ciphers measured after it; within a process the
# repetitions are interleaved at random, so that no benchmark always runs first or last.
#   bench/compare.sh [BUILD_DIR]
set -euo pipefail
bench="$(cd "${1:-build}" && pwd)/bench/ciphers"

# The processor as the system names it (lscpu's "Model name"), its brand string as the benchmark
# reads it when the two differ (virtual machines), and the features and paths our ciphers take there.
model=$(sed -n 's/^model name[[:space:]]*:[[:space:]]*//p' /proc/cpuinfo 2>/dev/null | head -n 1)
family=$(sed -n 's/^cpu family[[:space:]]*:[[:space:]]*//p' /proc/cpuinfo 2>/dev/null | head -n 1)
context=$("$bench" --benchmark_filter='^MD5/hash$' --benchmark_min_time=0.001 --benchmark_format=json 2>/dev/null || true)
field() { echo "$context" | sed -n "s/.*\"$1\": \"\(.*\)\".*/\1/p" | head -n 1; }
brand=$(field vx_cpu_model)
model=${model:-$brand}
echo "CPU: ${model:-unknown}${family:+ (family $family)}$([[ -n $brand && $brand != "$model" ]] && echo ", brand string \"$brand\""), $(nproc) logical processors"
echo "Features: $(field vx_cpu_features); paths: $(field vx_paths)"

groups=(
    "Blowfish:BF-CBC|libgcrypt/Blowfish"
    "Rijndael:AES-128-CBC|libgcrypt/Rijndael"
    "Twofish:libgcrypt/Twofish"
    "Serpent:libgcrypt/Serpent"
    "Cast256:Crypto\+\+/Cast256"
    "Mars:Crypto\+\+/Mars"
    "RC6:Crypto\+\+/RC6"
    "RC4:OpenSSL/RC4"
    "3DES:3DES|DES-EDE"
    "Ice:no peer"
    "Misty1:Botan/Misty1"
    "RC2:RC2"
    "Tea:Crypto\+\+/Tea"
    "MD5:MD5"
)
summary=""
for group in "${groups[@]}"; do
    name=${group%%:*}
    peers=${group#*:}
    figures=$("$bench" --benchmark_filter="^($name/|$name-direct/|peer/.*($peers))" --benchmark_min_time=0.4 \
        --benchmark_repetitions=3 --benchmark_enable_random_interleaving=true \
        --benchmark_report_aggregates_only=true --benchmark_format=csv 2>/dev/null |
        awk -F, '/_median/ { name = $1; gsub(/"|_median/, "", name); printf "%-36s %9.0f MB/s\n", name, $6 / 1e6 }' |
        awk '{ print ($1 ~ /^peer\//) ? 2 : ($1 ~ /-direct\//) ? 1 : 0, ($1 ~ /decrypt$/) ? 1 : 0, $0 }' |
        sort -s -k1,1n -k2,2n -k3,3 | cut -d' ' -f3-)
    echo "$figures"
    # Rows "cipher direction ours best-peer best-peer-MB/s ratio" for the table below.
    summary+=$(echo "$figures" | awk -v cipher="$name" '
        { split($1, part, "/"); direction = part[length(part)]; value = $2 + 0 }
        $1 == cipher "/" direction { ours[direction] = value; seen[direction] = 1 }
        $1 ~ /^peer\// {
            peer = $1; sub(/^peer\//, "", peer); sub("/" direction "$", "", peer)
            if (value > best[direction]) { best[direction] = value; bestName[direction] = peer }
            seen[direction] = 1
        }
        END {
            for (d in seen) {
                if (!(d in ours)) { continue }
                if (d in best && best[d] > 0) {
                    printf "%s %s %d %s %d %.2f\n", cipher, d, ours[d], bestName[d], best[d], ours[d] / best[d]
                } else {
                    printf "%s %s %d - - -\n", cipher, d, ours[d]
                }
            }
        }' | sort -k2,2r)
    summary+=$'\n'
done

echo
echo "Ours (through the stream) against the best peer, on ${model:-unknown}:"
printf "%-10s %-8s %9s  %-26s %9s  %6s\n" "cipher" "dir" "ours" "best peer" "peer" "ratio"
echo "$summary" | awk 'NF == 6 {
    if ($6 == "-") { printf "%-10s %-8s %9s  %-26s %9s  %6s\n", $1, $2, $3, "(no peer)", "", "" }
    else { printf "%-10s %-8s %9s  %-26s %9s  %5.2fx%s\n", $1, $2, $3, $4, $5, $6, ($6 < 1.0 ? "  behind" : "") }
}'
