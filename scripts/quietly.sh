# Sourced by the set-up scripts: a stage prints one line on the screen and sends what its tools
# print to a log, so that a newcomer sees progress, not five hundred lines of compiler calls. When
# the stage fails, the end of the log and its path are shown, which is where the reason is.
# VX_VERBOSE=1 (make V=1) shows the tools' output as well; VX_LOG_TAIL sets how much of the log a
# failure shows.

# quietly LOG MESSAGE COMMAND...    (an empty LOG: the output goes to the screen as it comes)
quietly() {
    local log=$1 message=$2
    shift 2
    [ -z "$message" ] || echo "$message"
    if [ -z "$log" ]; then
        "$@"
        return
    fi
    mkdir -p "$(dirname "$log")"
    local status=0
    if [ "${VX_VERBOSE:-0}" != 0 ]; then
        "$@" > >(tee -a "$log") 2>&1 || status=$?
    else
        "$@" >>"$log" 2>&1 || status=$?
    fi
    if [ "$status" -ne 0 ]; then
        {
            echo "Failed (exit status $status). The end of $log:"
            tail -n "${VX_LOG_TAIL:-40}" "$log" | sed 's/^/    /'
            echo "The whole log: $log"
        } >&2
    fi
    return "$status"
}

# Run as a program: scripts/quietly.sh LOG MESSAGE COMMAND...
if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    set -euo pipefail
    quietly "$@"
fi
