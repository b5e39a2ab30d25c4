#!/usr/bin/env bash
# Each cipher beside its peers, one process per cipher, medians of three repetitions in MB/s.
# Separate processes keep one cipher's wide vector code (and the lower clock the processor may
# take for it) from weighing on the figures of the ciphers measured after it.
#   bench/compare.sh [BUILD_DIR]
set -euo pipefail
bench="$(cd "${1:-build}" && pwd)/bench/ciphers"

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
for group in "${groups[@]}"; do
    name=${group%%:*}
    peers=${group#*:}
    "$bench" --benchmark_filter="^($name/|$name-direct/|peer/.*($peers))" --benchmark_min_time=0.4 \
        --benchmark_repetitions=3 --benchmark_report_aggregates_only=true --benchmark_format=csv 2>/dev/null |
        awk -F, '/_median/ { name = $1; gsub(/"|_median/, "", name); printf "%-36s %9.0f MB/s\n", name, $6 / 1e6 }'
done
