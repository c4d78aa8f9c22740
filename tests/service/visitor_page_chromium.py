#!/usr/bin/env python3
"""A visitor in headless Chromium chats with an operator who speaks the console's protocol.

Usage: visitor_page_chromium.py PATH-TO-tertulia-service
Exits 77 (skipped) when Chromium or chromedriver is not installed.
"""
import os
import sqlite3
import subprocess
import sys
import tempfile
import time

from browser_support import (Browser, available, operator_finds, operator_get, start_service,
                             visitor_opens_and_writes, wait_for)


OFFLINE = ("En este momento no hay nadie conectado. Déjenos su mensaje y cómo "
           "contactarle.")
TYPING = "El operador está escribiendo…"
# The page emulated as hidden and seen again, as a tab in the background is.
HIDE = ("Object.defineProperty(document, 'hidden', {configurable: true, get: () => true});"
        "Object.defineProperty(document, 'visibilityState',"
        "                      {configurable: true, get: () => 'hidden'});"
        "document.dispatchEvent(new Event('visibilitychange'));")
SHOW = ("delete document.hidden; delete document.visibilityState;"
        "document.dispatchEvent(new Event('visibilitychange'));")
PAGE_GONE = b"<b>Tertulia</b>: El visitante ha cerrado la p&aacute;gina."
# Seconds of a page's silence before its operator is told it has gone, shortened for the test.
PAGE_GONE_SECONDS = 2


def no_sideways_scroll(browser, where):
    width, inner = browser.execute(
        "return [document.documentElement.scrollWidth, innerWidth]")
    assert width <= inner, "%s scrolls sideways at %d px: %d" % (where, inner, width)


def database_row(directory, query, *arguments):
    with sqlite3.connect(os.path.join(directory, "service.db")) as database:
        return database.execute(query, arguments).fetchone()


def check_offline(browser, origin, access_log):
    """Nobody logged in: the page offers the form for a message, which the next console to log
    in lists with the context line and the contact first in its transcript."""
    browser.open(origin + "/?empresa=demo")
    wait_for("the company's name in the heading", lambda: browser.text("h1") == "Acme, S.A.")
    assert browser.focused() == "nombre", browser.focused()
    assert not browser.shown("#empresa"), "the company code is asked though the address names it"
    wait_for("the form for a message", lambda: browser.shown("#contacto"))
    for field, label in (("#contacto", "Correo o teléfono"), ("#nombre", "Su nombre"),
                         ("#aviso", "Su mensaje")):
        computed = browser._in_session("GET", "/element/%s/computedlabel" % browser.element(field))
        assert computed == label, (field, computed)
    assert browser.text("#ausentes") == OFFLINE, browser.text("#ausentes")
    assert "atenderá" not in browser.text("main")
    no_sideways_scroll(browser, "the form for a message")
    browser.type("#nombre", "Carla")
    browser.type("#aviso", "Llámenme, por favor")
    browser.click("#abrir")
    assert browser.execute("return document.getElementById('contacto').validity.valueMissing"), \
        "the contact is not required"
    browser.type("#contacto", "carla@example.com")
    browser.click("#abrir")
    wait_for("the thanks", lambda: browser.shown("#gracias"))
    assert not browser.shown("#chat")

    session, conversation = operator_finds(origin, "Carla")
    transcript = operator_get(origin, "accion=getchat&idempresa=demo&idsesion=%s"
                              "&idsesionclt=%s" % (session, conversation))
    context, line = transcript.split(b"<br>", 1)
    assert context.startswith(b"<b>Tertulia</b>: ") and b"Idioma: " in context and \
        context.endswith(b"Contacto: carla@example.com"), transcript
    assert line == b"<b>Carla</b>: Ll&aacute;menme, por favor", transcript
    assert "/api/conversaciones/%s/eventos" % conversation not in open(access_log).read()
    operator_get(origin, "accion=dropclt&idempresa=demo&idsesion=%s&idsesionclt=%s" % (
        session, conversation))
    print("ok: with nobody there the visitor left a message and a contact")
    return session


def check_page_gone(browser, origin, session):
    """A visitor closes the tab of an open chat: once its page has been silent long enough, the
    operator's transcript says so, once."""
    first = browser._in_session("GET", "/window")
    tab = browser._in_session("POST", "/window/new", {"type": "tab"})["handle"]
    browser._in_session("POST", "/window", {"handle": tab})
    browser.open(origin + "/?empresa=demo")
    visitor_opens_and_writes(browser, "Diego", "Vuelvo luego")
    session, conversation = operator_finds(origin, "Diego", session)
    chat = "accion=getchat&idempresa=demo&idsesion=%s&idsesionclt=%s" % (session, conversation)
    browser._in_session("DELETE", "/window")
    browser._in_session("POST", "/window", {"handle": first})
    wait_for("the page-gone line", lambda: PAGE_GONE in operator_get(origin, chat),
             seconds=PAGE_GONE_SECONDS + 10)
    transcript = operator_get(origin, chat)
    assert transcript.count(PAGE_GONE) == 1, transcript
    operator_get(origin, "accion=dropclt&idempresa=demo&idsesion=%s&idsesionclt=%s" % (
        session, conversation))
    print("ok: the operator read once that the visitor had closed the page")


def check_typing(browser, origin, session, conversation, access_log):
    """The visitor's typing reaches the service; the operator's shows on the page for 5 s, and
    a line drops it."""
    assert "POST /api/conversaciones/%s/escribiendo" % conversation in open(access_log).read()
    typing = "accion=escribiendo&idempresa=demo&idsesion=%s&idsesionclt=%s" % (
        session, conversation)
    assert operator_get(origin, typing) == b"OK"
    wait_for("the operator's typing on the page",
             lambda: browser.text("#escribiendo") == TYPING, seconds=2)
    wait_for("the operator's typing to go", lambda: browser.text("#escribiendo") == "",
             seconds=7)
    assert operator_get(origin, typing) == b"OK"
    wait_for("the operator's typing again", lambda: browser.text("#escribiendo") == TYPING,
             seconds=2)


def check_unseen_lines(browser, origin, chat):
    """Lines that come while the tab is hidden are counted in its title until it is seen."""
    title = browser.execute("return document.title")
    assert title == "Chat con Acme, S.A.", title
    browser.execute(HIDE)
    operator_get(origin, chat + "&mensaje=Uno")
    operator_get(origin, chat + "&mensaje=Dos")
    wait_for("the count in the title",
             lambda: browser.execute("return document.title") == "(2) " + title)
    browser.execute(SHOW)
    assert browser.execute("return document.title") == title


def check_question(browser, directory, conversation):
    """After the operator's close the page asks whether it helped, once."""
    wait_for("the question", lambda: browser.shown("#valoracion"))
    assert browser.text("legend") == "¿Le hemos ayudado?"
    assert (browser.text("#si"), browser.text("#no")) == ("Sí", "No")
    assert browser.focused() == "comentario", browser.focused()
    no_sideways_scroll(browser, "the question")
    browser.type("#comentario", "Faltó el precio")
    browser.click("#no")
    wait_for("the thanks for the answer", lambda: browser.text("#opinion"))
    assert not browser.shown("#valoracion")
    row = database_row(directory, "SELECT helped, rating_comment FROM conversations "
                       "WHERE id = ?", int(conversation))
    assert row == (0, "Faltó el precio"), row


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    if not available():
        print("Chromium or chromedriver is not installed; skipped.")
        return 77

    with tempfile.TemporaryDirectory(prefix="tertulia-chromium-") as directory:
        access_log = os.path.join(directory, "access.log")
        service, origin = start_service(sys.argv[1], directory, "--access-log", access_log,
                                        "--page-gone", str(PAGE_GONE_SECONDS))
        browser = None
        try:
            subprocess.run([sys.argv[1], "company-option", "demo", "nombre=Acme, S.A.", "--db",
                            os.path.join(directory, "service.db")],
                           check=True, stdout=subprocess.DEVNULL)
            browser = Browser(os.path.join(directory, "profile"))
            # A phone's width: everything below must fit it.
            browser._in_session("POST", "/window/rect", {"width": 360, "height": 740})
            session = check_offline(browser, origin, access_log)
            check_page_gone(browser, origin, session)

            browser.open(origin + "/?empresa=demo")
            assert browser.value("#empresa") == "demo", "the company comes from the address"
            visitor_opens_and_writes(browser, "Ana", "¿Tienen envíos a Cádiz?")
            assert browser.text("#estado") == \
                "Conversación abierta. Un operador le atenderá en breve.", browser.text("#estado")
            no_sideways_scroll(browser, "the conversation")

            session, conversation = operator_finds(origin, "Ana", session)
            chat = "accion=getchat&idempresa=demo&idsesion=%s&idsesionclt=%s" % (
                session, conversation)
            transcript = operator_get(origin, chat)
            assert transcript.endswith(
                b"<br><b>Ana</b>: &iquest;Tienen env&iacute;os a C&aacute;diz?"), transcript
            check_typing(browser, origin, session, conversation, access_log)

            # "Claro, enviamos a toda España" as the console encodes it, in Windows-1252.
            answer = operator_get(origin, chat + "&mensaje=Claro%2C%20enviamos%20a%20toda%20Espa%F1a")
            assert answer.endswith(b"<br><b>Operador</b>: Claro, enviamos a toda Espa&ntilde;a"), \
                answer
            wait_for("the operator's answer on the page",
                     lambda: "Claro, enviamos a toda España" in browser.text("#mensajes"))
            assert browser.text("#escribiendo") == "", "the typing stayed after the line"
            assert browser.text("#estado") == "Le atiende un operador", browser.text("#estado")
            check_unseen_lines(browser, origin, chat)
            assert PAGE_GONE not in operator_get(origin, chat), "the page is there all along"

            closed = operator_get(origin, "accion=dropclt&idempresa=demo&idsesion=%s"
                                  "&idsesionclt=%s" % (session, conversation))
            assert closed == b"OK", closed
            wait_for("the page to say the conversation is closed",
                     lambda: "ha cerrado la conversación" in browser.text("#estado"))
            assert not browser._in_session(
                "GET", "/element/%s/enabled" % browser.element("#texto")), "input still enabled"
            check_question(browser, directory, conversation)
            # Both came through the conversation's event stream (logged when it ended): the page
            # never read the conversation otherwise.
            wait_for("the stream's end in the access log",
                     lambda: "/eventos?" in open(access_log).read())
            requests = open(access_log).read()
            assert "GET /api/conversaciones/%s/eventos?" % conversation in requests, requests
            assert "GET /api/conversaciones/%s?" % conversation not in requests, requests

            service = after_an_outage(sys.argv[1], directory, service, origin, browser,
                                      access_log)
            print("ok: the visitor and the operator chatted, typing showed both ways, the "
                  "page saw the close, asked its question and went back to its stream after "
                  "an outage; the visitor ended the next conversation")
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

    # The visitor ends it: the operator is told, the visitor sees the closing message and no
    # question.
    browser.click("#terminar")
    wait_for("the visitor's closing message",
             lambda: browser.text("#estado").startswith("Ha terminado la conversación"))
    assert not browser.shown("#valoracion") and not browser.shown("#terminar")
    transcript = operator_get(origin, "accion=getchat&idempresa=demo&idsesion=%s"
                              "&idsesionclt=%s" % (session, conversation))
    assert b"<br><b>Tertulia</b>: El visitante ha terminado la conversaci&oacute;n." in \
        transcript, transcript
    return service


if __name__ == "__main__":
    sys.exit(main())
