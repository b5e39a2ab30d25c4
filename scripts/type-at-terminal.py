#!/usr/bin/env python3
"""Runs a program on a pseudo-terminal and types an answer at each of its prompts, as a person at
the keyboard would (Enter sends a carriage return). Exits with the program's own status.

    type-at-terminal.py PROMPT ANSWER COUNT -- PROGRAM [ARGUMENT...]

PROMPT is looked for in the program's output with terminal control sequences removed (Wine's
console draws its text a character at a time between them)."""
import os
import pty
import re
import select
import signal
import sys
import time

CONTROL = re.compile(rb"\x1b\[[0-9;?]*[A-Za-z]")


def main():
    if len(sys.argv) < 6 or sys.argv[4] != "--":
        sys.exit(__doc__)
    prompt = sys.argv[1].encode()
    answer = sys.argv[2].encode() + b"\r"
    count = int(sys.argv[3])
    command = sys.argv[5:]

    pid, fd = pty.fork()
    if pid == 0:
        os.execvp(command[0], command)

    seen = b""
    answered = 0
    deadline = time.time() + 120
    while time.time() < deadline:
        ready, _, _ = select.select([fd], [], [], 0.2)
        if not ready:
            continue
        try:
            data = os.read(fd, 4096)
        except OSError:  # the program closed the terminal: it ended
            break
        if not data:
            break
        seen += data
        if answered < count and prompt in CONTROL.sub(b"", seen):
            seen = b""
            answered += 1
            # Typed ahead, before the program has turned echo off and started to read, the
            # answer can be lost; a person, too, types after seeing the prompt.
            time.sleep(1)
            os.write(fd, answer)
    else:
        print("type-at-terminal.py: the program did not end; stopped it", file=sys.stderr)
        os.kill(pid, signal.SIGKILL)
    _, status = os.waitpid(pid, 0)
    if answered < count:
        print(f"type-at-terminal.py: saw {answered} of {count} prompts", file=sys.stderr)
        sys.exit(1)
    sys.exit(os.waitstatus_to_exitcode(status))


if __name__ == "__main__":
    main()
