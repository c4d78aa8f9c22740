#!/usr/bin/env python3
"""Hostile traffic against a running tertulia-service, with the service's resident memory.

Usage: attacks.py ORIGIN PID

- slow connections: 1,000 connections that trickle a request head one byte a second, from 20
  loopback addresses; meanwhile 200 normal requests one after another (latency p50/p99/max);
- header flood: 100 connections at once, each sending endless header lines (2 MB each);
- ranges: one request for "/" with 2,000 ranges (reply size against the page's size).
The peak resident memory (VmRSS) of the service is sampled through each attack.
"""
import http.client
import socket
import sys
import threading
import time
import urllib.parse

origin, pid = sys.argv[1], int(sys.argv[2])
host, port = urllib.parse.urlsplit(origin).hostname, urllib.parse.urlsplit(origin).port


def rss_kib():
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


class PeakMemory:
    def __enter__(self):
        self.peak, self.running = rss_kib(), True
        self.thread = threading.Thread(target=self.sample)
        self.thread.start()
        return self

    def sample(self):
        while self.running:
            self.peak = max(self.peak, rss_kib())
            time.sleep(0.02)

    def __exit__(self, *_):
        self.running = False
        self.thread.join()


def percentile(values, p):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(len(ordered) * p / 100))]


def slow_connections():
    held = []
    for n in range(1000):
        s = socket.socket()
        s.bind((f"127.0.0.{2 + n % 20}", 0))
        s.connect((host, port))
        s.sendall(b"GET / HTTP/1.1\r\nHost: x\r\n")
        held.append(s)
    stop = False

    def trickle():
        while not stop:
            for s in held:
                try:
                    s.send(b"X")
                except OSError:
                    pass
            time.sleep(1)

    trickler = threading.Thread(target=trickle)
    trickler.start()
    latencies, failures = [], 0
    for _ in range(200):
        start = time.monotonic()
        try:
            connection = http.client.HTTPConnection(host, port, timeout=10)
            connection.request("GET", "/gl/chkupdate.php?accion=check&prgid=TR&ver=1&rel=1")
            if connection.getresponse().read() != b"ACTUALIZADA.":
                failures += 1
            connection.close()
        except OSError:
            failures += 1
        latencies.append((time.monotonic() - start) * 1000)
    stop = True
    trickler.join()
    alive = 0
    for s in held:
        s.setblocking(False)
        try:
            alive += s.recv(1) != b""
        except BlockingIOError:
            alive += 1
        except OSError:
            pass
        s.close()
    print(f"slow connections: {alive} of 1000 still held after the normal requests; "
          f"normal requests p50 {percentile(latencies, 50):.2f} ms p99 "
          f"{percentile(latencies, 99):.2f} ms max {max(latencies):.2f} ms failures {failures}")


def header_flood():
    refused = []

    def flood():
        s = socket.create_connection((host, port))
        s.sendall(b"GET / HTTP/1.1\r\nHost: x\r\n")
        try:
            for _ in range(2500):
                s.sendall(b"X-Flood: " + b"a" * 790 + b"\r\n")
        except OSError:
            pass
        s.settimeout(5)
        try:
            refused.append(s.recv(64).startswith(b"HTTP/1.1 431"))
        except OSError:
            refused.append(True)
        s.close()

    threads = [threading.Thread(target=flood) for _ in range(100)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    print(f"header flood: {sum(refused)} of 100 connections refused")


def ranges():
    connection = http.client.HTTPConnection(host, port, timeout=10)
    connection.request("GET", "/")
    whole = len(connection.getresponse().read())
    connection.request("GET", "/", headers={"Range": "bytes=" + ",".join(["0-"] * 2000)})
    reply = connection.getresponse()
    size = len(reply.read())
    print(f"ranges: 2,000 ranges on / answered {reply.status} with {size} bytes "
          f"(the page is {whole} bytes)")


print(f"resident memory before the attacks: {rss_kib() / 1024:.1f} MiB")
with PeakMemory() as memory:
    slow_connections()
print(f"resident memory under 1,000 slow connections: peak {memory.peak / 1024:.1f} MiB")
with PeakMemory() as memory:
    header_flood()
print(f"resident memory under the header flood: peak {memory.peak / 1024:.1f} MiB")
ranges()
