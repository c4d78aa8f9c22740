#!/usr/bin/env python3
"""Event streams whose clients never read: what the service holds for them, and that every one
of them gets all its lines once it reads again.

Usage: stream_memory.py SERVICE [--streams N] [--seconds S] [--rate LINES]
  SERVICE    the tertulia-service program
  --streams  visitor streams held without reading, each on a conversation of its own (300)
  --seconds  how long lines flow to them (60)
  --rate     lines a second, spread over the conversations (300), each of 2000 characters

With every per-address and per-conversation cap lifted, the service's resident memory must stay
under 100 MiB while the lines flow and be back under 40 MiB within 70 s after they stop; then
each client reads what reached it and resumes with Last-Event-ID, and must have every line of
its conversation exactly once, in order. Prints the figures; exits 1 when one falls short.
"""

import argparse
import asyncio
import os
import re
import resource
import select
import socket
import subprocess
import sys
import tempfile
import time
import urllib.parse

LIMITS = ["--max-connections-per-address", "0", "--conversations-per-address", "0",
          "--conversations-per-network", "0", "--lines-per-address", "0",
          "--lines-per-conversation", "0", "--bytes-per-conversation", "0",
          "--waiting-per-company", "0", "--visitor-silence", "0"]
PEAK_LIMIT_MIB = 100
SETTLED_MIB = 40
SETTLE_SECONDS = 70
TEXT = "x" * 2000


def start(binary, directory):
    process = subprocess.Popen([binary, "--listen", "127.0.0.1:0", "--demo", "--db",
                                os.path.join(directory, "service.db"), *LIMITS],
                               stdout=subprocess.PIPE, text=True)
    for line in process.stdout:
        found = re.search(r"escucha en http://127\.0\.0\.1:(\d+)", line)
        if found:
            return process, int(found.group(1))
    raise SystemExit("the service did not start")


def resident_mib(pid):
    with open("/proc/%d/status" % pid) as status:
        return int(re.search(r"VmRSS:\s+(\d+)", status.read()).group(1)) / 1024


async def post(port, path, form):
    body = urllib.parse.urlencode(form).encode()
    reader, writer = await asyncio.open_connection("127.0.0.1", port)
    writer.write(("POST %s HTTP/1.1\r\nHost: x\r\nConnection: close\r\nContent-Type: "
                  "application/x-www-form-urlencoded\r\nContent-Length: %d\r\n\r\n"
                  % (path, len(body))).encode() + body)
    reply = await reader.read()
    writer.close()
    return int(reply.split(b" ", 2)[1]), reply.split(b"\r\n\r\n", 1)[1]


def events_target(conversation, token):
    return "/api/conversaciones/%s/eventos?token=%s" % (conversation, token)


def hold(port, target):
    """A stream's connection that reads nothing: a receive buffer as small as the kernel gives."""
    connection = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    connection.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    connection.connect(("127.0.0.1", port))
    connection.sendall(("GET %s HTTP/1.1\r\nHost: x\r\n\r\n" % target).encode())
    return connection


class Body:
    """A stream's reply as it arrives: its chunks taken apart, and the ids of whole events."""

    def __init__(self):
        self.raw = b""
        self.head = None
        self.text = b""
        self.ids = []

    def feed(self, data):
        self.raw += data
        if self.head is None:
            end = self.raw.find(b"\r\n\r\n")
            if end < 0:
                return
            self.head, self.raw = self.raw[:end], self.raw[end + 4:]
        while True:
            line = self.raw.find(b"\r\n")
            if line < 0:
                break
            size = int(self.raw[:line], 16)
            if len(self.raw) < line + 2 + size + 2:
                break
            self.text += self.raw[line + 2:line + 2 + size]
            self.raw = self.raw[line + 4 + size:]
        while True:
            end = self.text.find(b"\n\n")
            if end < 0:
                return
            event, self.text = self.text[:end], self.text[end + 2:]
            found = re.match(rb"id: (\d+)\n", event)
            if found:
                self.ids.append(int(found.group(1)))


def read_what_came(connections):
    """Reads every held connection until it closes or stays silent for 3 s."""
    bodies = {connection.fileno(): Body() for connection in connections}
    by_fd = {connection.fileno(): connection for connection in connections}
    watched = select.poll()
    for connection in connections:
        watched.register(connection, select.POLLIN)
    left = len(connections)
    quiet_since = time.monotonic()
    while left and time.monotonic() - quiet_since < 3:
        for fd, _ in watched.poll(200):
            try:
                data = by_fd[fd].recv(65536)
            except OSError:
                data = b""
            if data:
                bodies[fd].feed(data)
                quiet_since = time.monotonic()
            else:
                watched.unregister(fd)
                left -= 1
    result = [bodies[connection.fileno()] for connection in connections]
    for connection in connections:
        connection.close()
    return result


async def resume(port, target, last_id, wanted):
    """The ids a stream resumed after `last_id` delivers, up to `wanted`."""
    reader, writer = await asyncio.open_connection("127.0.0.1", port)
    writer.write(("GET %s HTTP/1.1\r\nHost: x\r\nLast-Event-ID: %d\r\n\r\n"
                  % (target, last_id)).encode())
    body = Body()
    try:
        while not body.ids or body.ids[-1] < wanted:
            data = await asyncio.wait_for(reader.read(65536), 20)
            if not data:
                break
            body.feed(data)
    except asyncio.TimeoutError:
        pass
    writer.close()
    return body.ids


async def run(args, port, pid):
    conversations = []
    for n in range(args.streams):
        status, reply = await post(port, "/api/conversaciones", {"empresa": "demo",
                                                                 "nombre": "V%d" % n})
        if status != 201:
            raise SystemExit("opening a conversation: %d %s" % (status, reply))
        conversations.append((re.search(rb'"id":(\d+)', reply).group(1).decode(),
                              re.search(rb'"token":"(\w+)"', reply).group(1).decode()))
    held = [hold(port, events_target(*conversation)) for conversation in conversations]
    await asyncio.sleep(1)
    print("held: %d streams that never read; resident %.1f MiB" % (len(held), resident_mib(pid)))

    counts = {conversation: 0 for conversation, _ in conversations}
    peak = 0.0
    pending = set()

    async def write(conversation, token):
        status, _ = await post(port, "/api/conversaciones/%s/mensajes" % conversation,
                               {"token": token, "texto": TEXT})
        if status in (200, 201):
            counts[conversation] += 1

    start = time.monotonic()
    sampled = start
    n = 0
    while time.monotonic() < start + args.seconds:
        if time.monotonic() - sampled >= 0.5:
            peak = max(peak, resident_mib(pid))
            sampled = time.monotonic()
        # On a schedule rather than by pauses, so that the rate holds however long each takes.
        if n >= (time.monotonic() - start) * args.rate or len(pending) > 200:
            await asyncio.sleep(0.002)
            continue
        task = asyncio.create_task(write(*conversations[n % len(conversations)]))
        n += 1
        pending.add(task)
        task.add_done_callback(pending.discard)
    if pending:
        await asyncio.gather(*pending)
    peak = max(peak, resident_mib(pid))
    stopped = time.monotonic()
    lines = sum(counts.values())
    print("lines: %d of %d characters in %.0f s; peak resident %.1f MiB"
          % (lines, len(TEXT), stopped - start, peak))

    # The clients read only once the service has cut what it held for them.
    settled = None
    while time.monotonic() - stopped < SETTLE_SECONDS:
        if resident_mib(pid) >= SETTLED_MIB:
            settled = None
        elif settled is None:
            settled = time.monotonic() - stopped
        await asyncio.sleep(0.5)
    final = resident_mib(pid)
    if final >= SETTLED_MIB:
        settled = None
    print("resident %.1f MiB %d s after the lines stopped; under %d MiB since %s"
          % (final, SETTLE_SECONDS, SETTLED_MIB,
             "never" if settled is None else "%.1f s after they stopped" % settled))

    bodies = read_what_came(held)
    resumed = await asyncio.gather(*[
        resume(port, events_target(*conversation),
               body.ids[-1] if body.ids else 0, counts[conversation[0]])
        for conversation, body in zip(conversations, bodies)])
    incomplete = 0
    for (conversation, _), body, more in zip(conversations, bodies, resumed):
        if body.ids + more != list(range(1, counts[conversation] + 1)):
            incomplete += 1
    print("streams cut before all their lines came: %d; every line once, in order, after "
          "resuming: %d of %d" % (sum(1 for more in resumed if more),
                                  len(conversations) - incomplete, len(conversations)))
    failed = []
    if peak >= PEAK_LIMIT_MIB:
        failed.append("peak resident memory %.1f MiB" % peak)
    if settled is None or settled > SETTLE_SECONDS:
        failed.append("memory not back under %d MiB within %d s" % (SETTLED_MIB, SETTLE_SECONDS))
    if incomplete:
        failed.append("%d streams lost or doubled lines" % incomplete)
    return failed


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("service")
    parser.add_argument("--streams", type=int, default=300)
    parser.add_argument("--seconds", type=int, default=60)
    parser.add_argument("--rate", type=int, default=300)
    args = parser.parse_args()
    wanted = 2 * args.streams + 1000
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (min(max(soft, wanted), hard), hard))
    with tempfile.TemporaryDirectory(prefix="tertulia-stream-memory-") as directory:
        process, port = start(args.service, directory)
        try:
            failed = asyncio.run(run(args, port, process.pid))
        finally:
            process.terminate()
            process.wait()
    for failure in failed:
        print("FAILED: " + failure)
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
