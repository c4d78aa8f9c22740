#!/usr/bin/env python3
"""The service behind Debian's nginx terminating TLS, with the configuration the
administrator's guide shows (taken from the guide itself) and a certificate authority and
server certificate made here with the openssl command. Through the proxy, the update reply, the
download, the chat button's script and the visitor page all name https addresses, the visitors'
API works, a visitor's event stream brings its first line through, and nginx's access log holds
no password nor session; straight to the service, the addresses stay plain http.

Usage: nginx_tls_proxy.py PATH-TO-tertulia-service PATH-TO-packaging/README.admin.md
Exits 77 (skipped) when nginx or openssl is not installed.
"""
import hashlib
import http.client
import json
import os
import re
import shutil
import ssl
import subprocess
import sys
import tempfile
import urllib.parse

from browser_support import free_port, start_service, wait_for

NGINX = "/usr/sbin/nginx"
CHECK = "/gl/chkupdate.php?accion=check&prgid=TR&ver=1&rel=1"


def guide_configuration(guide):
    """The nginx configuration of the guide's TLS section."""
    text = open(guide, encoding="utf-8").read()
    blocks = re.findall(r"```nginx\n(.*?)```", text, re.S)
    assert len(blocks) == 1, "the guide should show exactly one nginx configuration"
    return blocks[0]


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


def start_nginx(directory, server_block, port, certificate, key, service_address):
    block = server_block.replace("listen 443 ssl;", "listen 127.0.0.1:%d ssl;" % port)
    block = block.replace("/etc/ssl/tertulia/chat.example.com.crt", certificate)
    block = block.replace("/etc/ssl/tertulia/chat.example.com.key", key)
    block = block.replace("http://127.0.0.1:8080", "http://" + service_address)
    block = block.replace("/var/log/nginx/", directory + "/")
    assert str(port) in block and certificate in block and service_address in block, block
    paths = "".join("  %s_temp_path %s/%s;\n" % (kind, directory, kind)
                    for kind in ("client_body", "proxy", "fastcgi", "uwsgi", "scgi"))
    with open(os.path.join(directory, "nginx.conf"), "w") as config:
        config.write("worker_processes 1;\nuser root;\npid %s/nginx.pid;\n"
                     "error_log %s/error.log;\nevents { worker_connections 64; }\n"
                     "http {\n  access_log off;\n%s%s}\n"
                     % (directory, directory, paths, block))
    nginx = subprocess.Popen([NGINX, "-e", os.path.join(directory, "error.log"), "-p", directory,
                              "-c", os.path.join(directory, "nginx.conf"), "-g", "daemon off;"],
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
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


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    if not (os.access(NGINX, os.X_OK) and shutil.which("openssl")):
        print("nginx or openssl is not installed; skipped.")
        return 77
    binary, guide = sys.argv[1:]
    block = guide_configuration(guide)
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
            nginx = start_nginx(directory, block, port, certificate, key,
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
            with open(os.path.join(directory, "tertulia.log")) as log:
                logged = log.read()
            assert "/tertulia.php" in logged and "clave-de-prueba" not in logged, logged

            plain = http.client.HTTPConnection(urllib.parse.urlsplit(origin).hostname,
                                               urllib.parse.urlsplit(origin).port, timeout=30)
            status, _, body = request(plain, "GET", CHECK)
            assert body == ("DESACTUALIZADA.%s,%s/gl/descargas/tertulia-1.2"
                            % (digest, origin)).encode(), body
            print("ok: behind nginx over TLS the service names https addresses")
            return 0
        finally:
            if nginx:
                nginx.terminate()
                nginx.wait(timeout=30)
            service.terminate()
            service.wait(timeout=30)


if __name__ == "__main__":
    sys.exit(main())
