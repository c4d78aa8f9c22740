#!/usr/bin/env python3
"""Times commands against each other on the same input, taking turns so that other work on
the machine weighs on each alike, and prints for each the best wall time and the best CPU time
(user + system) over the runs. (Peak memory is not measured here: a child started from Python
counts Python's own pages; /usr/bin/time measures it.)

Usage: timed_runs.py RUNS STDIN INPUT LABEL COMMAND [LABEL COMMAND]...
  STDIN  "file": standard input is INPUT itself; "pipe": INPUT is fed through a pipe;
         "none": standard input is /dev/null (the command names its file).
  COMMAND is split like a shell word list. Standard output goes to /dev/null.
Output: one line per command, "LABEL WALL_SECONDS CPU_SECONDS".
"""

import os
import shlex
import subprocess
import sys
import threading
import time


def feed(pipe_fd, path):
    # sendfile keeps the feeder's own work small and the same for every command.
    with open(path, "rb") as source:
        size = os.fstat(source.fileno()).st_size
        offset = 0
        try:
            while offset < size:
                sent = os.sendfile(pipe_fd, source.fileno(), offset, size - offset)
                if sent == 0:
                    break
                offset += sent
        except BrokenPipeError:
            pass
    os.close(pipe_fd)


def run_once(argv, stdin_mode, path):
    feeder = None
    stdin = subprocess.DEVNULL
    opened = None
    if stdin_mode == "file":
        opened = open(path, "rb")
        stdin = opened
    elif stdin_mode == "pipe":
        read_end, write_end = os.pipe()
        stdin = read_end
    start = time.perf_counter()
    process = subprocess.Popen(argv, stdin=stdin, stdout=subprocess.DEVNULL)
    if stdin_mode == "pipe":
        os.close(read_end)
        feeder = threading.Thread(target=feed, args=(write_end, path))
        feeder.start()
    _, status, usage = os.wait4(process.pid, 0)
    wall = time.perf_counter() - start
    process.returncode = os.waitstatus_to_exitcode(status)
    if feeder is not None:
        feeder.join()
    if opened is not None:
        opened.close()
    if process.returncode != 0:
        sys.exit(f"{argv[0]} failed with status {process.returncode}")
    return wall, usage.ru_utime + usage.ru_stime


def main():
    if len(sys.argv) < 6 or len(sys.argv) % 2 != 0:
        sys.exit(__doc__)
    runs, stdin_mode, path = int(sys.argv[1]), sys.argv[2], sys.argv[3]
    commands = [(sys.argv[i], shlex.split(sys.argv[i + 1])) for i in range(4, len(sys.argv), 2)]
    best = {label: [float("inf"), float("inf")] for label, _ in commands}
    for _ in range(runs):
        for label, argv in commands:
            wall, cpu = run_once(argv, stdin_mode, path)
            best[label] = [min(best[label][0], wall), min(best[label][1], cpu)]
    for label, _ in commands:
        wall, cpu = best[label]
        print(f"{label} {wall:.6f} {cpu:.6f}")


if __name__ == "__main__":
    main()
