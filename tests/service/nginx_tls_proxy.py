#!/usr/bin/env python3
"""The service behind Debian's nginx terminating TLS, with the configuration the
administrator's guide shows (its main file and its site, taken from the guide itself; only
paths and addresses are the test's) and a certificate authority and server certificate made
here with the openssl command. nginx runs as an unprivileged instance of the test's own.
Through the proxy, the update reply, the download, the chat button's script and the visitor
page all name https addresses, the visitors' API works, a visitor's event stream brings its
first line through, and 2,000 streams from 40 addresses are held at once and each gets a new
line. Straight to the service, the addresses stay plain http. Then the service is stopped and
the console's and the visitors' requests through nginx get 502. No log of nginx holds a
password, a session or a token, neither after the ordinary requests nor after the outage.

Usage: nginx_tls_proxy.py PATH-TO-tertulia-service PATH-TO-packaging/README.admin.md
Exits 77 (skipped) when nginx or openssl is not installed.
"""
import glob
import hashlib
import http.client
import json
import os
import pwd
import re
import resource
import shutil
import socket
import ssl
import subprocess
import sys
import tempfile
import urllib.parse

from browser_support import free_port, start_service, wait_for

NGINX = "/usr/sbin/nginx"
CHECK = "/gl/chkupdate.php?accion=check&prgid=TR&ver=1&rel=1"
STREAMS = 2000
STREAM_ADDRESSES = 40
CREDENTIALS = ("contrasena=", "idsesion=", "token=")


def guide_configuration(guide):
    """The nginx configurations of the guide's TLS section, by the file each names first."""
    text = open(guide, encoding="utf-8").read()
    blocks = {block.split("\n", 1)[0][2:]: block
              for block in re.findall(r"```nginx\n(.*?)```", text, re.S)}
    assert set(blocks) == {"/etc/nginx/nginx.conf", "/etc/nginx/sites-available/tertulia"}, \
        "the guide should show nginx's main file and the site: %s" % sorted(blocks)
    return blocks["/etc/nginx/nginx.conf"], blocks["/etc/nginx/sites-available/tertulia"]


def make_certificates(directory):
    def openssl(*arguments):
        subprocess.run(["openssl", *arguments], check=True, cwd=directory,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
            "-subj", "/CN=Tertulia test CA", "-keyout", "ca.key", "-out", "ca.crt")
    openssl("req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=chat.example.com",
            "-keyout", "chat.key", "-out", "chat.csr")
    with open(os.path.join(directory, "chat.ext"), "w") as extensions:
        extensions.write("subjectAltName=DNS:chat.example.com,IP:127.0.0.1\n"
                         "basicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n")
    openssl("x509", "-req", "-in", "chat.csr", "-CA", "ca.crt", "-CAkey", "ca.key",
            "-CAcreateserial", "-days", "2", "-extfile", "chat.ext", "-out", "chat.crt")
    return (os.path.join(directory, name) for name in ("ca.crt", "chat.crt", "chat.key"))


def replaced(text, replacements):
    for old, new in replacements:
        assert old in text, "the guide's nginx configuration has no %r" % old
        text = text.replace(old, new)
    return text


def start_nginx(directory, main, site, port, certificate, key, service_address):
    """nginx with the guide's main file and site, as an unprivileged process whose every path
    lies in `directory` (Debian's mime.types aside)."""
    etc = os.path.join(directory, "nginx")
    for folder in ("modules-enabled", "conf.d", "sites-enabled"):
        os.makedirs(os.path.join(etc, folder))
    main = replaced(main, [("/run/nginx.pid", directory + "/nginx.pid"),
                           ("/var/log/nginx/", directory + "/"),
                           ("/etc/nginx/modules-enabled/", etc + "/modules-enabled/"),
                           ("/etc/nginx/conf.d/", etc + "/conf.d/"),
                           ("/etc/nginx/sites-enabled/", etc + "/sites-enabled/")])
    site = replaced(site, [("listen 443 ssl;", "listen 127.0.0.1:%d ssl;" % port),
                           ("/etc/ssl/tertulia/chat.example.com.crt", certificate),
                           ("/etc/ssl/tertulia/chat.example.com.key", key),
                           ("http://127.0.0.1:8080", "http://" + service_address),
                           ("/var/log/nginx/", directory + "/")])
    with open(os.path.join(etc, "nginx.conf"), "w") as config:
        config.write(main)
    with open(os.path.join(etc, "sites-enabled", "tertulia"), "w") as config:
        config.write(site)
    # This machine's own addition, as conf.d holds them: temporary files where the test's
    # unprivileged nginx may write.
    with open(os.path.join(etc, "conf.d", "paths.conf"), "w") as config:
        config.write("".join("%s_temp_path %s/%s;\n" % (kind, directory, kind)
                             for kind in ("client_body", "proxy", "fastcgi", "uwsgi", "scgi")))
    user = {}
    if os.geteuid() == 0:
        nobody = pwd.getpwnam("nobody")
        user = {"user": nobody.pw_uid, "group": nobody.pw_gid, "extra_groups": []}
        for path in [directory, key]:
            os.chown(path, nobody.pw_uid, nobody.pw_gid)
    nginx = subprocess.Popen([NGINX, "-e", os.path.join(directory, "error.log"), "-p", directory,
                              "-c", os.path.join(etc, "nginx.conf"), "-g", "daemon off;"],
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, **user)
    wait_for("nginx to listen", lambda: nginx.poll() is not None or accepts(port))
    if nginx.poll() is not None:
        raise AssertionError("nginx did not start: " +
                             open(os.path.join(directory, "error.log")).read())
    return nginx


def accepts(port):
    try:
        http.client.HTTPConnection("127.0.0.1", port, timeout=1).connect()
        return True
    except OSError:
        return False


def request(connection, method, target, body=None, headers=None):
    connection.request(method, target, body=body, headers=headers or {})
    reply = connection.getresponse()
    return reply.status, dict(reply.getheaders()), reply.read()


def first_event(context, port, target):
    """Opens the visitor's event stream through the proxy and reads up to its first event."""
    stream = http.client.HTTPSConnection("127.0.0.1", port, context=context, timeout=10)
    stream.request("GET", target)
    reply = stream.getresponse()
    assert reply.status == 200, reply.status
    assert reply.getheader("Content-Type") == "text/event-stream; charset=utf-8", reply.headers
    lines = []
    while b'data: {"autor":"visitante","texto":"hola"}\n' not in lines:
        line = reply.readline()
        assert line, "the stream ended before its first event: %r" % lines
        lines.append(line)
    assert b"id: 1\n" in lines and b"event: mensaje\n" in lines, lines
    stream.close()


def hold_streams(context, port, target):
    """Opens STREAMS visitor streams through the proxy, from STREAM_ADDRESSES loopback
    addresses, each read up to its first line; returns their sockets."""
    streams = []
    for number in range(STREAMS):
        plain = socket.socket()
        plain.bind(("127.0.2.%d" % (1 + number % STREAM_ADDRESSES), 0))
        plain.settimeout(10)
        try:
            plain.connect(("127.0.0.1", port))
            stream = context.wrap_socket(plain, server_hostname="127.0.0.1")
            streams.append(stream)
            stream.sendall(("GET %s HTTP/1.1\r\nHost: chat.example.com\r\n\r\n"
                            % target).encode())
            head = read_until(stream, b'"texto":"hola"')
        except OSError as failure:
            raise AssertionError("nginx held %d streams, then: %s" % (number, failure))
        assert head.startswith(b"HTTP/1.1 200 "), (number, head)
    return streams


def read_until(stream, text):
    """What the stream brings up to `text`."""
    received = b""
    while text not in received:
        data = stream.recv(4096)
        assert data, "stream %s ended: %r" % (stream.getsockname(), received)
        received += data
    return received


def logged_credentials(directory):
    """The lines of nginx's logs that hold a password, a session or a token."""
    found = []
    for log in glob.glob(os.path.join(directory, "*.log")):
        with open(log, errors="replace") as lines:
            found += ["%s: %s" % (os.path.basename(log), line.strip()) for line in lines
                      if any(credential in line for credential in CREDENTIALS)]
    return found


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    if not (os.access(NGINX, os.X_OK) and shutil.which("openssl")):
        print("nginx or openssl is not installed; skipped.")
        return 77
    binary, guide = sys.argv[1:]
    main_file, site = guide_configuration(guide)
    # Each stream takes a descriptor here, two in nginx and one in the service.
    _, most = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (most, most))
    if most != resource.RLIM_INFINITY and most < 4 * STREAMS + 1000:
        print("%d descriptors are too few for %d streams; skipped." % (most, STREAMS))
        return 77
    with tempfile.TemporaryDirectory(prefix="tertulia-tls-") as directory:
        ca, certificate, key = make_certificates(directory)
        update = os.path.join(directory, "tertulia-1.2")
        with open(update, "wb") as new_console:
            new_console.write(os.urandom(300000))
        digest = hashlib.md5(open(update, "rb").read()).hexdigest().upper()
        service, origin = start_service(binary, directory, "--trusted-proxy", "127.0.0.1",
                                        "--update-file", update, "--update-version", "1.2")
        nginx = None
        try:
            port = free_port()
            nginx = start_nginx(directory, main_file, site, port, certificate, key,
                                urllib.parse.urlsplit(origin).netloc)
            context = ssl.create_default_context(cafile=ca)
            secure = http.client.HTTPSConnection("127.0.0.1", port, context=context, timeout=30)
            https = "https://127.0.0.1:%d" % port

            status, _, body = request(secure, "GET", CHECK)
            assert (status, body) == (200, ("DESACTUALIZADA.%s,%s/gl/descargas/tertulia-1.2"
                                            % (digest, https)).encode()), (status, body)
            download = urllib.parse.urlsplit(body.decode().split(",", 1)[1])
            status, _, body = request(secure, "GET", download.path)
            assert status == 200 and hashlib.md5(body).hexdigest().upper() == digest, status

            status, _, body = request(secure, "GET", "/widget.js")
            assert status == 200 and ('var servicio = "%s";' % https).encode() in body, body[:300]

            status, headers, body = request(secure, "GET", "/?empresa=demo")
            assert status == 200 and b"Chat con la empresa" in body, status
            assert "frame-ancestors 'self'" in headers["Content-Security-Policy"], headers

            status, _, body = request(secure, "POST", "/api/conversaciones",
                                      "empresa=demo&nombre=Ana",
                                      {"Content-Type": "application/x-www-form-urlencoded"})
            assert status == 201 and b'"token"' in body, (status, body)
            opened = json.loads(body)
            stream_target = "/api/conversaciones/%d/eventos?token=%s" % (opened["id"],
                                                                         opened["token"])
            form = "token=%s&texto=hola" % opened["token"]
            status, _, body = request(secure, "POST", "/api/conversaciones/%d/mensajes"
                                      % opened["id"], form,
                                      {"Content-Type": "application/x-www-form-urlencoded"})
            assert status == 200, (status, body)
            first_event(context, port, stream_target)

            status, _, body = request(secure, "GET", "/tertulia.php?accion=do_login&idempresa="
                                      "demo&contrasena=clave-de-prueba")
            assert status == 200, status
            login = ("/tertulia.php?accion=do_login&idempresa=demo&contrasena="
                     + hashlib.md5(b"demo").hexdigest().upper())
            status, _, body = request(secure, "GET", login)
            assert status == 200 and body.startswith(b"OK="), (status, body)
            news = "/tertulia.php?accion=get_news&idempresa=demo&idsesion=" + body[3:].decode()
            status, _, body = request(secure, "GET", news)
            assert status == 200 and body.startswith(b"OK lineas="), (status, body)
            reading = "/api/conversaciones/%d?token=%s" % (opened["id"], opened["token"])
            status, _, body = request(secure, "GET", reading)
            assert status == 200 and b'"hola"' in body, (status, body)
            with open(os.path.join(directory, "tertulia.log")) as log:
                logged = log.read()
            assert "/tertulia.php" in logged and "clave-de-prueba" not in logged, logged
            assert not logged_credentials(directory), logged_credentials(directory)

            streams = hold_streams(context, port, stream_target)
            status, _, body = request(secure, "POST", "/api/conversaciones/%d/mensajes"
                                      % opened["id"], "token=%s&texto=todos" % opened["token"],
                                      {"Content-Type": "application/x-www-form-urlencoded"})
            assert status == 200, (status, body)
            for stream in streams:
                read_until(stream, b'"texto":"todos"')

            plain = http.client.HTTPConnection(urllib.parse.urlsplit(origin).hostname,
                                               urllib.parse.urlsplit(origin).port, timeout=30)
            status, _, body = request(plain, "GET", CHECK)
            assert body == ("DESACTUALIZADA.%s,%s/gl/descargas/tertulia-1.2"
                            % (digest, origin)).encode(), body

            service.terminate()
            service.wait(timeout=30)
            for stream in streams:
                stream.close()
            secure = http.client.HTTPSConnection("127.0.0.1", port, context=context, timeout=30)
            for target in (login, news, reading, stream_target):
                status, _, body = request(secure, "GET", target)
                assert status == 502, (target, status, body)
            found = logged_credentials(directory)
            assert not found, "\n".join(found[:10])
            print("ok: behind nginx over TLS the service names https addresses, %d streams are "
                  "held, and no credential is logged" % STREAMS)
            return 0
        finally:
            if nginx:
                nginx.terminate()
                nginx.wait(timeout=30)
            service.terminate()
            service.wait(timeout=30)


if __name__ == "__main__":
    sys.exit(main())
