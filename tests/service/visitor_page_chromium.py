#!/usr/bin/env python3
"""A visitor in headless Chromium chats with an operator who speaks the console's protocol.

Usage: visitor_page_chromium.py PATH-TO-tertulia-service
Exits 77 (skipped) when Chromium or chromedriver is not installed.
"""
import hashlib
import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import urllib.error
import urllib.request

CHROMIUM = shutil.which("chromium") or "/usr/bin/chromium"
CHROMEDRIVER = shutil.which("chromedriver") or "/usr/bin/chromedriver"
ELEMENT = "element-6066-11e4-a52e-4f735466cecf"
WAIT_SECONDS = 30


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def http(method, url, body=None):
    data = None if body is None else json.dumps(body).encode()
    request = urllib.request.Request(url, data=data, method=method,
                                     headers={"Content-Type": "application/json"})
    with urllib.request.urlopen(request, timeout=60) as reply:
        return reply.read()


def wait_for(what, condition):
    deadline = time.monotonic() + WAIT_SECONDS
    while time.monotonic() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(0.2)
    raise AssertionError("timed out waiting for " + what)


class Browser:
    """Chromium driven over chromedriver's WebDriver HTTP interface."""

    def __init__(self, profile):
        self.port = free_port()
        self.driver = subprocess.Popen([CHROMEDRIVER, "--port=%d" % self.port],
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.base = "http://127.0.0.1:%d" % self.port
        options = {"binary": CHROMIUM, "args": [
            "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
            "--disable-background-networking", "--disable-component-update", "--disable-sync",
            "--user-data-dir=" + profile]}
        try:
            wait_for("chromedriver", self._ready)
            reply = self._call("POST", "/session", {"capabilities": {"alwaysMatch": {
                "browserName": "chrome", "goog:chromeOptions": options}}})
        except BaseException:
            # No session means no one else will stop the driver.
            self.driver.terminate()
            self.driver.wait(timeout=30)
            raise
        self.session = reply["sessionId"]

    def _ready(self):
        try:
            return json.loads(http("GET", self.base + "/status"))["value"]["ready"]
        except (OSError, ValueError, KeyError):
            return False

    def _call(self, method, path, body=None):
        try:
            return json.loads(http(method, self.base + path, body))["value"]
        except urllib.error.HTTPError as failure:
            raise AssertionError("WebDriver %s %s: %s" % (method, path, failure.read()[:500]))

    def _in_session(self, method, path, body=None):
        return self._call(method, "/session/%s%s" % (self.session, path), body)

    def open(self, url):
        self._in_session("POST", "/url", {"url": url})

    def element(self, css):
        return self._in_session("POST", "/element", {"using": "css selector", "value": css})[ELEMENT]

    def type(self, css, text):
        self._in_session("POST", "/element/%s/value" % self.element(css), {"text": text})

    def click(self, css):
        self._in_session("POST", "/element/%s/click" % self.element(css), {})

    def text(self, css):
        return self._in_session("GET", "/element/%s/text" % self.element(css))

    def value(self, css):
        return self._in_session("GET", "/element/%s/property/value" % self.element(css))

    def close(self):
        try:
            self._in_session("DELETE", "")
        finally:
            self.driver.terminate()
            self.driver.wait(timeout=30)


def start_service(binary, directory):
    service = subprocess.Popen([binary, "--listen", "127.0.0.1:0", "--demo", "--db",
                                os.path.join(directory, "service.db")],
                               stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    marker = "escucha en "
    for line in service.stdout:
        if marker in line:
            return service, line.split(marker, 1)[1].strip().rstrip("/")
    raise AssertionError("the service printed no address")


def operator_get(origin, query):
    """A request of the console: a GET whose query is sent exactly as written."""
    with urllib.request.urlopen(origin + "/tertulia.php?" + query, timeout=30) as reply:
        return reply.read()


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    if not (os.access(CHROMIUM, os.X_OK) and os.access(CHROMEDRIVER, os.X_OK)):
        print("Chromium or chromedriver is not installed; skipped.")
        return 77

    with tempfile.TemporaryDirectory(prefix="tertulia-chromium-") as directory:
        service, origin = start_service(sys.argv[1], directory)
        browser = None
        try:
            browser = Browser(os.path.join(directory, "profile"))
            browser.open(origin + "/?empresa=demo")
            assert browser.value("#empresa") == "demo", "the company comes from the address"
            browser.type("#nombre", "Ana")
            browser.click("#abrir")
            wait_for("the conversation to open", lambda: "abierta" in browser.text("#estado"))
            browser.type("#texto", "¿Tienen envíos a Cádiz?")
            browser.click("#enviar")
            wait_for("the line on the page", lambda: "Cádiz" in browser.text("#mensajes"))

            digest = hashlib.md5(b"demo").hexdigest().upper()
            login = operator_get(origin, "accion=do_login&idempresa=demo&contrasena=" + digest)
            assert login.startswith(b"OK="), login
            session = login[3:].decode()
            news = operator_get(origin, "accion=get_news&idempresa=demo&idsesion=" + session)
            assert news.startswith(b"OK,") and news.endswith(b"=Ana|"), news
            conversation = news[3:].split(b"=")[0].decode()
            chat = "accion=getchat&idempresa=demo&idsesion=%s&idsesionclt=%s" % (
                session, conversation)
            transcript = operator_get(origin, chat)
            assert transcript == b"<b>Ana</b>: &iquest;Tienen env&iacute;os a C&aacute;diz?", \
                transcript

            # "Claro, enviamos a toda España" as the console encodes it, in Windows-1252.
            answer = operator_get(origin, chat + "&mensaje=Claro%2C%20enviamos%20a%20toda%20Espa%F1a")
            assert answer.endswith(b"<br><b>Operador</b>: Claro, enviamos a toda Espa&ntilde;a"), \
                answer
            wait_for("the operator's answer on the page",
                     lambda: "Claro, enviamos a toda España" in browser.text("#mensajes"))

            closed = operator_get(origin, "accion=dropclt&idempresa=demo&idsesion=%s"
                                  "&idsesionclt=%s" % (session, conversation))
            assert closed == b"OK", closed
            wait_for("the page to say the conversation is closed",
                     lambda: "ha cerrado la conversación" in browser.text("#estado"))
            assert not browser._in_session(
                "GET", "/element/%s/enabled" % browser.element("#texto")), "input still enabled"
            print("ok: the visitor and the operator chatted, and the page saw the close")
            return 0
        finally:
            if browser:
                browser.close()
            service.terminate()
            service.wait(timeout=30)


if __name__ == "__main__":
    sys.exit(main())
