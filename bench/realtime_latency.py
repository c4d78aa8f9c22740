#!/usr/bin/env python3
"""How fast the service's event streams carry a change, and what holding them costs.

Usage: realtime_latency.py SERVICE [--streams N] [--operators N] [--rate LINES] [--seconds S]
                           [--postgres URI]
  SERVICE     the tertulia-service program
  --streams   visitor conversations, each followed by its event stream (default 10000)
  --operators operator sessions, each with its event stream (default 100)
  --rate      lines a second, half the operators', half the visitors' (default 200)
  --seconds   how long the lines flow (default 20)
  --postgres  a PostgreSQL URI: two services share it, lines go through one and the streams are
              held by the other
Prints p50 / p99 in milliseconds of: a new visitor to the operators' event, an operator's line
to its visitor's stream, a visitor's line to the operators' event; then the service's resident
memory with the streams held and its CPU while they are idle.
"""

import argparse
import asyncio
import hashlib
import os
import re
import resource
import subprocess
import tempfile
import time
import urllib.parse

LIMITS = ["--max-connections", "30000", "--max-connections-per-address", "0",
          "--conversations-per-address", "0", "--conversations-per-network", "0",
          "--lines-per-address", "0", "--waiting-per-company", "0"]


def start(binary, database):
    process = subprocess.Popen([binary, "--listen", "127.0.0.1:0", "--demo", "--db", database,
                                *LIMITS], stdout=subprocess.PIPE, text=True)
    for line in process.stdout:
        found = re.search(r"escucha en http://127\.0\.0\.1:(\d+)", line)
        if found:
            return process, int(found.group(1))
    raise SystemExit("the service did not start")


async def request(port, head, body=b""):
    reader, writer = await asyncio.open_connection("127.0.0.1", port)
    writer.write(head.encode("latin-1") + body)
    reply = await reader.read()
    writer.close()
    return reply.split(b"\r\n\r\n", 1)[1]


async def get(port, target):
    return await request(port, "GET %s HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n" % target)


async def post(port, path, form):
    body = urllib.parse.urlencode(form).encode()
    return await request(port, "POST %s HTTP/1.1\r\nHost: x\r\nConnection: close\r\nContent-Type: "
                         "application/x-www-form-urlencoded\r\nContent-Length: %d\r\n\r\n"
                         % (path, len(body)), body)


async def follow(port, target, on_event):
    """Holds an event stream and calls on_event(name, data) for each event, with its arrival."""
    reader, writer = await asyncio.open_connection("127.0.0.1", port)
    writer.write(("GET %s HTTP/1.1\r\nHost: x\r\n\r\n" % target).encode())
    await reader.readuntil(b"\r\n\r\n")
    name, data = "message", []
    while True:
        line = await reader.readline()
        if not line:
            return
        line = line.rstrip(b"\r\n")
        # Chunk sizes of the chunked body are not event lines.
        if re.fullmatch(rb"[0-9a-fA-F]+", line):
            continue
        if not line:
            if data:
                on_event(name, b"\n".join(data), time.perf_counter())
            name, data = "message", []
        elif line.startswith(b"event:"):
            name = line[6:].strip().decode()
        elif line.startswith(b"data:"):
            data.append(line[5:].strip())


def percentiles(samples):
    if not samples:
        return "no samples"
    ordered = sorted(samples)
    pick = lambda q: ordered[min(len(ordered) - 1, int(q * len(ordered)))] * 1000
    return "p50 %.1f ms / p99 %.1f ms (%d)" % (pick(0.5), pick(0.99), len(ordered))


def resident_mib(pid):
    with open("/proc/%d/status" % pid) as status:
        return int(re.search(r"VmRSS:\s+(\d+)", status.read()).group(1)) / 1024


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


async def run(args, writer_port, stream_port, pid):
    digest = hashlib.md5(b"demo").hexdigest().upper()
    sent = {}  # tag -> when it was sent
    arrivals = {"new": [], "operator": [], "visitor": []}
    counts = {}  # conversation -> visitor lines sent
    opened = {}  # conversation -> when its opening was sent
    first_seen = {}  # conversation -> when an operator stream first named it

    def operator_event(name, data, at):
        conversation, count = data.decode().split(":")
        first_seen.setdefault(conversation, at)
        tag = ("line", conversation, count)
        if tag in sent:
            arrivals["visitor"].append(at - sent.pop(tag))

    tasks = []
    for _ in range(args.operators):
        session = (await get(writer_port, "/tertulia.php?accion=do_login&idempresa=demo"
                             "&contrasena=" + digest)).decode()[3:]
        tasks.append(asyncio.create_task(follow(
            stream_port, "/tertulia.php?accion=eventos&idempresa=demo&idsesion=" + session,
            operator_event)))
    operator_session = session
    conversations = []
    for n in range(args.streams):
        opened_at = time.perf_counter()
        reply = (await post(writer_port, "/api/conversaciones",
                            {"empresa": "demo", "nombre": "V%d" % n})).decode()
        conversation = re.search(r'"id":(\d+)', reply).group(1)
        token = re.search(r'"token":"(\w+)"', reply).group(1)
        opened[conversation] = opened_at
        conversations.append((conversation, token))

        def visitor_event(name, data, at, conversation=conversation):
            tag = ("operator", data.decode())
            if name == "mensaje" and tag in sent:
                arrivals["operator"].append(at - sent.pop(tag))

        tasks.append(asyncio.create_task(follow(
            stream_port, "/api/conversaciones/%s/eventos?token=%s" % (conversation, token),
            visitor_event)))
    await asyncio.sleep(2)
    arrivals["new"] = [first_seen[c] - opened[c] for c in opened if c in first_seen]
    print("held: %d visitor streams, %d operator streams; resident %.0f MiB"
          % (args.streams, args.operators, resident_mib(pid)))
    before = cpu_seconds(pid)
    await asyncio.sleep(10)
    print("CPU with the streams idle: %.1f%% of one core" % ((cpu_seconds(pid) - before) * 10))

    pending = set()
    start_lines = time.perf_counter()
    n = 0
    while time.perf_counter() < start_lines + args.seconds:
        # On a schedule rather than by pauses, so that the rate holds however long each takes.
        if n >= (time.perf_counter() - start_lines) * args.rate:
            await asyncio.sleep(0.001)
            continue
        conversation, token = conversations[n % len(conversations)]
        n += 1
        if n % 2:
            text = "o%d" % n
            sent[("operator", '{"autor":"operador","texto":"%s"}' % text)] = time.perf_counter()
            task = asyncio.create_task(get(writer_port, "/tertulia.php?accion=getchat"
                                           "&idempresa=demo&idsesion=%s&idsesionclt=%s"
                                           "&mensaje=%s" % (operator_session, conversation, text)))
        else:
            counts[conversation] = counts.get(conversation, 0) + 1
            sent[("line", conversation, str(counts[conversation]))] = time.perf_counter()
            task = asyncio.create_task(post(writer_port, "/api/conversaciones/%s/mensajes"
                                            % conversation, {"token": token, "texto": "v%d" % n}))
        pending.add(task)
        task.add_done_callback(pending.discard)
    await asyncio.gather(*pending)
    await asyncio.sleep(3)
    print("lines: %d in %d s; resident %.0f MiB" % (n, args.seconds, resident_mib(pid)))
    print("new visitor -> operators' event:   " + percentiles(arrivals["new"]))
    print("operator's line -> visitor stream: " + percentiles(arrivals["operator"]))
    print("visitor's line -> operators' event: " + percentiles(arrivals["visitor"]))
    for task in tasks:
        task.cancel()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("service")
    parser.add_argument("--streams", type=int, default=10000)
    parser.add_argument("--operators", type=int, default=100)
    parser.add_argument("--rate", type=int, default=200)
    parser.add_argument("--seconds", type=int, default=20)
    parser.add_argument("--postgres")
    args = parser.parse_args()
    wanted = args.streams + args.operators + 1000
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (min(max(soft, wanted), hard), hard))
    with tempfile.TemporaryDirectory(prefix="tertulia-realtime-") as directory:
        database = args.postgres or os.path.join(directory, "service.db")
        services = [start(args.service, database)]
        if args.postgres:
            services.append(start(args.service, database))
        try:
            holder = services[-1]
            asyncio.run(run(args, services[0][1], holder[1], holder[0].pid))
        finally:
            for process, _ in services:
                process.terminate()
                process.wait()


if __name__ == "__main__":
    main()
