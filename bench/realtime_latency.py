#!/usr/bin/env python3
"""How fast the service's event streams carry a change, and what holding them costs.

Usage: realtime_latency.py SERVICE [--streams N] [--operators N] [--rate LINES] [--seconds S]
                           [--postgres URI] [--timeline FILE] [--new-connections]
  SERVICE     the tertulia-service program
  --streams   visitor conversations, each followed by its event stream (default 10000)
  --operators operator sessions, each with its event stream (default 100)
  --rate      lines a second, half the operators', half the visitors' (default 1000)
  --seconds   how long the lines flow (default 20)
  --postgres  two services share one PostgreSQL database: lines go through one and the streams
              are held by the other; without a URI, a PostgreSQL from Debian's packages is started
              in a temporary folder for the run
  --timeline  writes each line's send and arrival times (CSV, seconds from the first line), so
              that a stall shows as a run of late arrivals; a line that never arrived has none
  --new-connections  each request on a connection of its own, closed after its reply (by
              default requests go on connections kept alive, as browsers and consoles send them)
Prints p50 / p99 in milliseconds of: a new visitor to the operators' event, an operator's line
to its visitor's stream, a visitor's line to the operators' event; then the service's resident
memory with the streams held and its CPU while they are idle.
"""

import argparse
import asyncio
import contextlib
import gc
import glob
import hashlib
import os
import pwd
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


@contextlib.contextmanager
def postgres(directory):
    """A throwaway PostgreSQL cluster on a socket in `directory`; yields its URI."""
    versions = sorted(glob.glob("/usr/lib/postgresql/*/bin/pg_ctl"),
                      key=lambda path: int(path.split("/")[4]))
    if not versions:
        raise SystemExit("PostgreSQL is not installed (Debian package postgresql)")
    bin_dir = os.path.dirname(versions[-1])
    # The server refuses to run as root.
    user = [] if os.geteuid() != 0 else ["setpriv", "--reuid=nobody", "--regid=nogroup",
                                         "--clear-groups", "--"]
    if os.geteuid() == 0:
        nobody = pwd.getpwnam("nobody")
        os.chown(directory, nobody.pw_uid, nobody.pw_gid)
    data = os.path.join(directory, "data")
    subprocess.run(user + [bin_dir + "/initdb", "-D", data, "-U", "tertulia", "--auth=trust",
                          "--encoding=UTF8", "--locale=C", "--no-sync", "--no-instructions"],
                   check=True, stdout=subprocess.DEVNULL)
    options = "-k %s -p 5432 -c listen_addresses='' -c max_connections=200" % directory
    subprocess.run(user + [bin_dir + "/pg_ctl", "-D", data, "-l", data + ".log", "-o", options,
                          "-w", "start"], check=True, stdout=subprocess.DEVNULL)
    try:
        yield "postgresql://tertulia@/postgres?host=%s&port=5432" % directory
    finally:
        subprocess.run(user + [bin_dir + "/pg_ctl", "-D", data, "-m", "fast", "-w", "stop"],
                       stdout=subprocess.DEVNULL)


NEW_CONNECTIONS = False  # one connection per request instead of kept-alive ones
IDLE = {}  # port -> connections kept alive, free for the next request


async def request(port, head, body=b""):
    """One request, on a connection kept alive as browsers and consoles keep theirs; one that
    the service has closed meanwhile (it closes idle ones) gives way to a new one."""
    idle = IDLE.setdefault(port, [])
    if NEW_CONNECTIONS:
        head = head.replace("\r\n\r\n", "\r\nConnection: close\r\n\r\n", 1)
    while True:
        reused = bool(idle)
        reader, writer = idle.pop() if reused else await asyncio.open_connection("127.0.0.1", port)
        try:
            writer.write(head.encode("latin-1") + body)
            reply_head = await reader.readuntil(b"\r\n\r\n")
            length = int(re.search(rb"(?i)\r\ncontent-length: *(\d+)", reply_head).group(1))
            reply = await reader.readexactly(length)
        except (asyncio.IncompleteReadError, ConnectionError):
            writer.close()
            if reused:
                continue
            raise
        if NEW_CONNECTIONS or re.search(rb"(?i)\r\nconnection: *close", reply_head):
            writer.close()
        else:
            idle.append((reader, writer))
        return reply


async def get(port, target):
    return await request(port, "GET %s HTTP/1.1\r\nHost: x\r\n\r\n" % target)


async def post(port, path, form):
    body = urllib.parse.urlencode(form).encode()
    return await request(port, "POST %s HTTP/1.1\r\nHost: x\r\nContent-Type: "
                         "application/x-www-form-urlencoded\r\nContent-Length: %d\r\n\r\n"
                         % (path, len(body)), body)


EVENT = re.compile(rb"event: *([^\n]*)\ndata: *([^\n]*)\n")


class Follower(asyncio.Protocol):
    """Holds an event stream and calls on_event(name, data, arrival) for each named event.

    Parses whatever has come in one pass, in the loop's own callback: a hundred operator streams
    get every line's news, and a reader that took them a line at a time, or woke a coroutine for
    each read, would itself be the stall.
    """

    def __init__(self, target, on_event):
        self.target = target
        self.on_event = on_event
        self.head = b""  # the reply's head until it is complete, then None
        self.raw = b""  # chunked bytes not yet taken apart
        self.body = b""  # the body's bytes after the last complete event

    def connection_made(self, transport):
        transport.write(("GET %s HTTP/1.1\r\nHost: x\r\n\r\n" % self.target).encode())

    def data_received(self, data):
        at = time.perf_counter()
        if self.head is not None:
            self.head += data
            end = self.head.find(b"\r\n\r\n")
            if end < 0:
                return
            data = self.head[end + 4:]
            self.head = None
        raw = self.raw + data
        # The chunked encoding: a hex size line, that many bytes, then CRLF.
        while True:
            line_end = raw.find(b"\r\n")
            if line_end < 0:
                break
            size = int(raw[:line_end].split(b";")[0], 16)
            if len(raw) < line_end + 2 + size + 2:
                break
            self.body += raw[line_end + 2:line_end + 2 + size]
            raw = raw[line_end + 2 + size + 2:]
        self.raw = raw
        complete = self.body.rfind(b"\n\n")
        if complete < 0:
            return
        for found in EVENT.finditer(self.body, 0, complete + 2):
            self.on_event(found.group(1).decode(), found.group(2), at)
        self.body = self.body[complete + 2:]


async def follow(port, target, on_event):
    """Starts following an event stream; returns its transport, to close at the end."""
    transport, _ = await asyncio.get_running_loop().create_connection(
        lambda: Follower(target, on_event), "127.0.0.1", port)
    return transport


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


def own_cpu_seconds():
    usage = resource.getrusage(resource.RUSAGE_SELF)
    return usage.ru_utime + usage.ru_stime


async def run(args, writer_port, stream_port, pid):
    digest = hashlib.md5(b"demo").hexdigest().upper()
    sent = {}  # tag -> when it was sent
    arrivals = {"new": [], "operator": [], "visitor": []}
    timeline = []  # (figure, sent, arrived) of each line that arrived

    def arrived(figure, tag, at):
        sent_at = sent.pop(tag)
        arrivals[figure].append(at - sent_at)
        timeline.append((figure, sent_at, at))
    counts = {}  # conversation -> visitor lines sent
    opened = {}  # conversation -> when its opening was sent
    first_seen = {}  # conversation -> when an operator stream first named it

    def operator_event(name, data, at):
        conversation, count = data.decode().split(":")
        first_seen.setdefault(conversation, at)
        tag = ("line", conversation, count)
        if tag in sent:
            arrived("visitor", tag, at)

    streams = []
    for _ in range(args.operators):
        session = (await get(writer_port, "/tertulia.php?accion=do_login&idempresa=demo"
                             "&contrasena=" + digest)).decode()[3:]
        streams.append(await follow(
            stream_port, "/tertulia.php?accion=eventos&idempresa=demo&idsesion=" + session,
            operator_event))
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
                arrived("operator", tag, at)

        streams.append(await follow(
            stream_port, "/api/conversaciones/%s/eventos?token=%s" % (conversation, token),
            visitor_event))
    await asyncio.sleep(2)
    # The tens of thousands of objects held from here on are never garbage; a collection that
    # walked them all would stop the generator, and show as a stall of the service.
    gc.collect()
    gc.freeze()
    # What other programs (and the opening of the conversations) left for the disk to write
    # would otherwise be written while the lines flow, and a commit waits for the disk.
    os.sync()
    arrivals["new"] = [first_seen[c] - opened[c] for c in opened if c in first_seen]
    print("held: %d visitor streams, %d operator streams; resident %.0f MiB"
          % (args.streams, args.operators, resident_mib(pid)))
    before = cpu_seconds(pid)
    await asyncio.sleep(10)
    print("CPU with the streams idle: %.1f%% of one core" % ((cpu_seconds(pid) - before) * 10))

    pending = set()
    service_before, generator_before = cpu_seconds(pid), own_cpu_seconds()
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
    busy = time.perf_counter() - start_lines
    service_cpu, generator_cpu = cpu_seconds(pid), own_cpu_seconds()
    await asyncio.sleep(3)
    print("lines: %d in %d s; resident %.0f MiB" % (n, args.seconds, resident_mib(pid)))
    print("CPU during the lines: service %.0f%%, this generator %.0f%% of one core"
          % ((service_cpu - service_before) * 100 / busy,
             (generator_cpu - generator_before) * 100 / busy))
    print("new visitor -> operators' event:   " + percentiles(arrivals["new"]))
    print("operator's line -> visitor stream: " + percentiles(arrivals["operator"]))
    print("visitor's line -> operators' event: " + percentiles(arrivals["visitor"]))
    for figure in ("operator", "visitor"):
        if arrivals[figure]:
            print("  latest %s line: %.1f ms" % (figure, max(arrivals[figure]) * 1000))
    if args.timeline:
        write_timeline(args.timeline, start_lines, timeline, sent)
    for stream in streams:
        stream.close()


def write_timeline(path, origin, timeline, unanswered):
    with open(path, "w") as out:
        out.write("figure,sent_s,arrived_s,latency_ms\n")
        rows = [(figure, at, arrival) for figure, at, arrival in timeline]
        rows += [(tag[0] if tag[0] == "operator" else "visitor", at, None)
                 for tag, at in unanswered.items()]
        for figure, at, arrival in sorted(rows, key=lambda row: row[1]):
            if arrival is None:
                out.write("%s,%.6f,,\n" % (figure, at - origin))
            else:
                out.write("%s,%.6f,%.6f,%.3f\n"
                          % (figure, at - origin, arrival - origin, (arrival - at) * 1000))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("service")
    parser.add_argument("--streams", type=int, default=10000)
    parser.add_argument("--operators", type=int, default=100)
    parser.add_argument("--rate", type=int, default=1000)
    parser.add_argument("--seconds", type=int, default=20)
    parser.add_argument("--postgres", nargs="?", const="start")
    parser.add_argument("--timeline")
    parser.add_argument("--new-connections", action="store_true")
    args = parser.parse_args()
    global NEW_CONNECTIONS
    NEW_CONNECTIONS = args.new_connections
    wanted = args.streams + args.operators + 1000
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (min(max(soft, wanted), hard), hard))
    with tempfile.TemporaryDirectory(prefix="tertulia-realtime-") as directory, \
            contextlib.ExitStack() as stack:
        database = args.postgres or os.path.join(directory, "service.db")
        if args.postgres == "start":
            database = stack.enter_context(postgres(directory))
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
