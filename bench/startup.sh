#!/usr/bin/env bash
# Start-up of the window program: time from launch to the main window painted, and the idle
# program's peak memory (resident set). Runs on QT_QPA_PLATFORM when it is set, else on the display
# given, else under Xvfb when it is installed, else on Qt's offscreen platform. Settings go to a
# temporary folder.
#   bash bench/startup.sh [BUILD_DIR]      RUNS=N (default 10)
set -euo pipefail
build=${1:-build}
runs=${RUNS:-10}
program=$build/vellumox
[ -x "$program" ] || cmake --build "$build" --target vellumox

config=$(mktemp -d)
xvfb_pid=
cleanup() {
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    rm -rf "$config"
}
trap cleanup EXIT

platform=
if [ -n "${QT_QPA_PLATFORM:-}" ]; then
    platform=$QT_QPA_PLATFORM
elif [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    if command -v Xvfb >/dev/null; then
        display=:$((90 + RANDOM % 100))
        Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
        xvfb_pid=$!
        export DISPLAY=$display
        for _ in $(seq 50); do
            [ -e "/tmp/.X11-unix/X${display#:}" ] && break
            sleep 0.1
        done
        platform="Xvfb $display"
    else
        export QT_QPA_PLATFORM=offscreen
        platform=offscreen
    fi
else
    platform="display ${DISPLAY:-$WAYLAND_DISPLAY}"
fi

# One run first so that the measured ones find the libraries in the page cache, as a user's second
# start would.
XDG_CONFIG_HOME=$config VX_BENCH_STARTUP=$(date +%s%N) "$program" >/dev/null

shown=()
cpu=()
peak=0
for _ in $(seq "$runs"); do
    out=$(XDG_CONFIG_HOME=$config VX_BENCH_STARTUP=$(date +%s%N) "$program")
    shown+=("$(awk '/^shown_ms/ {print $2}' <<<"$out")")
    cpu+=("$(awk '/^cpu_ms/ {print $2}' <<<"$out")")
    rss=$(awk '/^peak_rss_kb/ {print $2}' <<<"$out")
    [ "$rss" -gt "$peak" ] && peak=$rss
done

median_of() {
    sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'
}
sorted=$(printf '%s\n' "${shown[@]}" | sort -n)
median=$(median_of <<<"$sorted")
cpu_median=$(printf '%s\n' "${cpu[@]}" | median_of)
echo "processor: $(lscpu | sed -n 's/^Model name:[[:space:]]*//p' | head -1), $(nproc) cores; platform: $platform"
echo "start-up to main window painted, $runs runs: median ${median} ms, min $(head -1 <<<"$sorted") ms, max $(tail -1 <<<"$sorted") ms (target < 500 ms)"
echo "processor time until then (user + system): median ${cpu_median} ms; load average now: $(cut -d' ' -f1 /proc/loadavg)"
echo "idle peak memory: $((peak / 1024)) MB (max resident set; target < 80 MB)"
