#!/usr/bin/env python3
"""The chat button on a company's pages, in headless Chromium.

A page served from another loopback origin, which the company allows, embeds /widget.js; its
button opens a conversation that the operator sees through the console's protocol, with the
page the chat started from; the operator's line reaches the frame, the closed button and the
chat's heading show the company's name, the conversation stays when the visitor moves to another page, Escape
closes the frame, and on a phone-sized window the frame takes the whole screen.
A page from an origin that is not allowed gets no visitor page in the frame.

Usage: widget_chromium.py PATH-TO-tertulia-service
Exits 77 (skipped) when Chromium or chromedriver is not installed.
"""
import http.server
import os
import socket
import subprocess
import sys
import tempfile
import threading

from browser_support import (ELEMENT, Browser, available, operator_finds, operator_get,
                             operator_session, start_service, visitor_opens_and_writes,
                             wait_for)

SHADOW = "return document.getElementById('tertulia-chat').shadowRoot"
NAME = "Acme, S.A."


def free_port_on(address):
    with socket.socket() as probe:
        probe.bind((address, 0))
        return probe.getsockname()[1]


class CompanySite:
    """Two pages of a company's site on a loopback address, each with the chat button."""

    def __init__(self, address, service_origin):
        page = ("<!DOCTYPE html><html lang=\"es\"><head><meta charset=\"utf-8\">"
                "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
                "<title>%s</title></head><body><h1>%s</h1><a href=\"/%s\">%s</a>"
                "<script src=\"" + service_origin + "/widget.js\" data-empresa=\"demo\" async>"
                "</script></body></html>")
        pages = {"/uno.html": page % ("Uno", "Portada", "dos.html", "Productos"),
                 "/dos.html": page % ("Dos", "Productos", "uno.html", "Portada")}

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                body = pages.get(self.path, "").encode()
                self.send_response(200 if body else 404)
                self.send_header("Content-Type", "text/html; charset=utf-8")
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

            def log_message(self, *arguments):
                pass

        self.server = http.server.ThreadingHTTPServer((address, free_port_on(address)), Handler)
        self.origin = "http://%s:%d" % (address, self.server.server_address[1])
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def stop(self):
        self.server.shutdown()
        self.server.server_close()


def widget(browser, part):
    """An element of the chat button's shadow root, as a WebDriver element id."""
    found = browser.execute(SHADOW + ".querySelector(arguments[0])", part)
    return found[ELEMENT] if found else None


def panel_open(browser):
    return browser.execute(SHADOW + ".querySelector('.panel').hidden === false")


def into_frame(browser):
    browser.frame(None)
    browser.frame(wait_for("the chat frame", lambda: widget(browser, "iframe")))


def check_allowed_site(browser, site, origin, session):
    browser.open(site.origin + "/uno.html")
    button = wait_for("the chat button", lambda: widget(browser, ".boton"))
    # The closed button names the company, read from the service across origins.
    wait_for("the company's name on the closed button",
             lambda: browser.execute(SHADOW + ".querySelector('.boton').textContent")
             == "Chat con " + NAME)
    label = browser._in_session("GET", "/element/%s/computedlabel" % button)
    assert label == "Abrir el chat con " + NAME, label
    browser.click_id(button)
    assert browser.execute(SHADOW + ".activeElement.tagName") == "IFRAME", \
        "the focus did not move into the frame"

    into_frame(browser)
    wait_for("the visitor page in the frame", lambda: browser.found("#nombre"))
    wait_for("the focus on the name field",
             lambda: browser.execute("return document.activeElement.id") == "nombre")
    assert browser.value("#empresa") == "demo"
    visitor_opens_and_writes(browser, "Ana", "Hola desde la portada")

    session, conversation = operator_finds(origin, "Ana", session)
    # The operator learns which page of the site the chat was started from.
    transcript = operator_get(origin, "accion=getchat&idempresa=demo&idsesion=%s"
                              "&idsesionclt=%s" % (session, conversation))
    context = transcript.split(b"<br>", 1)[0]
    assert context.startswith(b"<b>Tertulia</b>: Desde: %s/uno.html" % site.origin.encode()), \
        transcript
    answer = operator_get(origin, "accion=getchat&idempresa=demo&idsesion=%s&idsesionclt=%s"
                          "&mensaje=Buenos%%20d%%EDas%%2C%%20Ana" % (session, conversation))
    assert answer.endswith(b"<b>Operador</b>: Buenos d&iacute;as, Ana"), answer
    wait_for("the operator's line in the frame",
             lambda: "Buenos días, Ana" in browser.text("#mensajes"))

    # Another page of the site: the frame opens by itself on the same conversation.
    browser.frame(None)
    assert browser.execute(SHADOW + ".querySelector('.nombre').textContent") == NAME, \
        "the company's name is not in the chat's heading"
    browser.open(site.origin + "/dos.html")
    wait_for("the frame to reopen on the next page", lambda: widget(browser, ".boton")
             and panel_open(browser))
    into_frame(browser)
    wait_for("the conversation on the next page",
             lambda: browser.found("#mensajes") and "Buenos días, Ana" in browser.text("#mensajes")
             and "portada" in browser.text("#mensajes"))
    news = operator_get(origin, "accion=get_news&idempresa=demo&idsesion=" + session)
    assert news.count(b"|") == 1, "a second conversation was opened: %r" % news

    # Escape inside the frame closes it and gives the focus back to the button.
    browser.type("#texto", "\ue00c")
    browser.frame(None)
    wait_for("Escape to close the frame", lambda: not panel_open(browser))
    assert browser.execute(SHADOW + ".activeElement.className") == "boton"
    print("ok: allowed site chatted, kept the conversation across pages, Escape closed it")


def check_phone_screen(browser, site):
    browser._in_session("POST", "/window/rect", {"width": 400, "height": 800})
    browser.open(site.origin + "/uno.html")
    browser.click_id(wait_for("the chat button", lambda: widget(browser, ".boton")))
    covered = browser.execute(
        SHADOW + ".querySelector('.panel').getBoundingClientRect().toJSON();")
    width, height = browser.execute("return [innerWidth, innerHeight]")
    assert (round(covered["x"]), round(covered["y"]), round(covered["width"]),
            round(covered["height"])) == (0, 0, width, height), (covered, width, height)
    print("ok: on a narrow window the chat takes the whole screen")


def check_other_site(browser, site):
    browser.open(site.origin + "/uno.html")
    browser.click_id(wait_for("the chat button", lambda: widget(browser, ".boton")))
    into_frame(browser)
    try:
        wait_for("the visitor page", lambda: browser.found("#nombre"), seconds=5)
    except AssertionError:
        browser.frame(None)
        print("ok: a site that is not allowed gets no visitor page in the frame")
        return
    raise AssertionError("the visitor page showed in a frame of " + site.origin)


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    if not available():
        print("Chromium or chromedriver is not installed; skipped.")
        return 77
    binary = sys.argv[1]
    with tempfile.TemporaryDirectory(prefix="tertulia-widget-") as directory:
        service, origin = start_service(binary, directory)
        allowed = other = browser = None
        try:
            allowed = CompanySite("127.0.0.2", origin)
            other = CompanySite("127.0.0.3", origin)
            subprocess.run([binary, "allow-site", "demo", allowed.origin, "--db",
                            os.path.join(directory, "service.db")],
                           check=True, stdout=subprocess.DEVNULL)
            subprocess.run([binary, "company-option", "demo", "nombre=" + NAME, "--db",
                            os.path.join(directory, "service.db")],
                           check=True, stdout=subprocess.DEVNULL)
            browser = Browser(os.path.join(directory, "profile"))
            # An operator is there, or the chat would offer the form for a message.
            check_allowed_site(browser, allowed, origin, operator_session(origin))
            check_other_site(browser, other)
            check_phone_screen(browser, allowed)
            return 0
        finally:
            if browser:
                browser.close()
            for site in (allowed, other):
                if site:
                    site.stop()
            service.terminate()
            service.wait(timeout=30)


if __name__ == "__main__":
    sys.exit(main())
