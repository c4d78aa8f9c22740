#!/usr/bin/env python3
"""A visitor in headless Chromium chats with an operator who speaks the console's protocol.

Usage: visitor_page_chromium.py PATH-TO-tertulia-service
Exits 77 (skipped) when Chromium or chromedriver is not installed.
"""
import os
import sys
import tempfile
import time

from browser_support import (Browser, available, operator_finds, operator_get, start_service,
                             visitor_opens_and_writes, wait_for)


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    if not available():
        print("Chromium or chromedriver is not installed; skipped.")
        return 77

    with tempfile.TemporaryDirectory(prefix="tertulia-chromium-") as directory:
        access_log = os.path.join(directory, "access.log")
        service, origin = start_service(sys.argv[1], directory, "--access-log", access_log)
        browser = None
        try:
            browser = Browser(os.path.join(directory, "profile"))
            browser.open(origin + "/?empresa=demo")
            assert browser.value("#empresa") == "demo", "the company comes from the address"
            visitor_opens_and_writes(browser, "Ana", "¿Tienen envíos a Cádiz?")

            session, conversation = operator_finds(origin, "Ana")
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
            # Both came through the conversation's event stream (logged when it ended): the page
            # never read the conversation otherwise.
            wait_for("the stream's end in the access log",
                     lambda: "/eventos?" in open(access_log).read())
            requests = open(access_log).read()
            assert "GET /api/conversaciones/%s/eventos?" % conversation in requests, requests
            assert "GET /api/conversaciones/%s?" % conversation not in requests, requests

            service = after_an_outage(sys.argv[1], directory, service, origin, browser,
                                      access_log)
            print("ok: the visitor and the operator chatted, the page saw the close and went "
                  "back to its stream after an outage")
            return 0
        finally:
            if browser:
                browser.close()
            service.terminate()
            service.wait(timeout=30)


def after_an_outage(binary, directory, service, origin, browser, access_log):
    """The service is away for 10 s in the middle of a conversation: meanwhile the page reads
    every 2 s, and once the service is back it follows its event stream again, without reads.
    Returns the service started anew."""
    browser.open(origin + "/?empresa=demo")
    visitor_opens_and_writes(browser, "Berta", "Hola de nuevo")
    session, conversation = operator_finds(origin, "Berta")

    def reads():
        return open(access_log).read().count("GET /api/conversaciones/%s?" % conversation)

    service.terminate()
    service.wait(timeout=30)
    time.sleep(10)
    service, again = start_service(binary, directory, "--access-log", access_log,
                                   listen=origin.split("//", 1)[1])
    assert again == origin, again
    back = time.monotonic()
    wait_for("a read once the service is back", reads, seconds=5)
    time.sleep(max(0, back + 5 - time.monotonic()))
    settled = reads()

    operator_get(origin, "accion=getchat&idempresa=demo&idsesion=%s&idsesionclt=%s"
                 "&mensaje=Bienvenida" % (session, conversation))
    wait_for("the operator's line through the stream",
             lambda: "Bienvenida" in browser.text("#mensajes"), seconds=5)
    time.sleep(4.5)
    assert reads() == settled, "the page still reads every 2 s: %d reads, then %d" % (
        settled, reads())
    assert browser.text("#mensajes").count("Hola de nuevo") == 1, browser.text("#mensajes")
    return service


if __name__ == "__main__":
    sys.exit(main())
