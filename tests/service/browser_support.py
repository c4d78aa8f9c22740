"""What the service's browser tests share: a free port, plain HTTP calls, waiting for a
condition, Chromium driven over chromedriver, the service started as a process and the
console's requests."""
import hashlib
import json
import os
import re
import shutil
import socket
import subprocess
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


def wait_for(what, condition, seconds=WAIT_SECONDS):
    deadline = time.monotonic() + seconds
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
        """The id of the first element that matches; AssertionError when there is none."""
        return self._in_session("POST", "/element", {"using": "css selector", "value": css})[ELEMENT]

    def type(self, css, text):
        self._in_session("POST", "/element/%s/value" % self.element(css), {"text": text})

    def click(self, css):
        self.click_id(self.element(css))

    def click_id(self, element):
        self._in_session("POST", "/element/%s/click" % element, {})

    def text(self, css):
        return self._in_session("GET", "/element/%s/text" % self.element(css))

    def value(self, css):
        return self._in_session("GET", "/element/%s/property/value" % self.element(css))

    def execute(self, script, *arguments):
        return self._in_session("POST", "/execute/sync",
                                {"script": script, "args": list(arguments)})

    def frame(self, element):
        """Switches into the frame of the element; None goes back to the top page."""
        target = None if element is None else {ELEMENT: element}
        self._in_session("POST", "/frame", {"id": target})

    def shown(self, css):
        return self._in_session("GET", "/element/%s/displayed" % self.element(css))

    def focused(self):
        return self.execute("return document.activeElement.id")

    def found(self, css):
        try:
            self.element(css)
            return True
        except AssertionError:
            return False

    def close(self):
        try:
            self._in_session("DELETE", "")
        finally:
            self.driver.terminate()
            self.driver.wait(timeout=30)


def start_service(binary, directory, *options, listen="127.0.0.1:0"):
    service = subprocess.Popen([binary, "--listen", listen, "--demo", "--db",
                                os.path.join(directory, "service.db"), *options],
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


def operator_session(origin):
    """A new session of the demo company's operator."""
    digest = hashlib.md5(b"demo").hexdigest().upper()
    login = operator_get(origin, "accion=do_login&idempresa=demo&contrasena=" + digest)
    assert login.startswith(b"OK="), login
    return login[3:].decode()


def visitor_opens_and_writes(browser, name, line):
    """On the visitor page in view: opens a conversation as `name` and sends `line`."""
    browser.type("#nombre", name)
    browser.click("#abrir")
    wait_for("the conversation to open", lambda: "abierta" in browser.text("#estado"))
    browser.type("#texto", line)
    browser.click("#enviar")
    wait_for("the line on the page", lambda: line in browser.text("#mensajes"))


def operator_finds(origin, name, session=None):
    """The operator's session (a new one unless given) and the id of the one conversation,
    the visitor `name`'s."""
    session = session or operator_session(origin)
    news = operator_get(origin, "accion=get_news&idempresa=demo&idsesion=" + session)
    assert news.startswith(b"OK lineas=") and news.endswith(("=%s|" % name).encode()), news
    return session, re.findall(rb"(\d+)=" + re.escape(name.encode()) + rb"\|", news)[-1].decode()


def available():
    return os.access(CHROMIUM, os.X_OK) and os.access(CHROMEDRIVER, os.X_OK)
