#!/usr/bin/env python3
"""Stands in front of the service as an older one without event streams: the operator's event
action, and the actions that came after it (the operator's typing, the ready answers, the hand-on
and the other consoles), get the refusal of an unknown action; every other request goes through
unchanged.

Usage: old_service_proxy.py LISTEN-PORT SERVICE-PORT
"""
import http.server
import sys
import urllib.error
import urllib.request

REFUSAL = "ERROR: Acción desconocida.".encode("cp1252")
NEWER_ACTIONS = ("eventos", "escribiendo", "respuestas", "ceder", "consolas")


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def answer(self, status, headers, body):
        self.send_response(status)
        for name, value in headers:
            if name.lower() not in ("content-length", "transfer-encoding", "connection", "date",
                                    "server"):
                self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def forward(self):
        if self.path.startswith("/tertulia.php?") and any(
                "accion=%s&" % action in self.path + "&" for action in NEWER_ACTIONS):
            self.answer(200, [("Content-Type", "text/plain; charset=windows-1252")], REFUSAL)
            return
        length = int(self.headers.get("Content-Length") or 0)
        request = urllib.request.Request(
            "http://127.0.0.1:%s%s" % (sys.argv[2], self.path),
            data=self.rfile.read(length) if length else None, method=self.command,
            headers={k: v for k, v in self.headers.items() if k.lower() == "content-type"})
        try:
            with urllib.request.urlopen(request, timeout=30) as reply:
                self.answer(reply.status, reply.getheaders(), reply.read())
        except urllib.error.HTTPError as refusal:
            self.answer(refusal.code, refusal.headers.items(), refusal.read())

    do_GET = forward
    do_POST = forward

    def log_message(self, *args):
        pass


if __name__ == "__main__":
    http.server.ThreadingHTTPServer(("127.0.0.1", int(sys.argv[1])), Handler).serve_forever()
