#!/usr/bin/env python3
"""A visitor on the service's page in headless Chromium: opens a conversation, says hello and
waits for the operator's line to read exactly as expected on the page.

usage: visitor_in_chromium.py ORIGIN NAME EXPECTED-FILE
EXPECTED-FILE holds the expected line in UTF-8. Exits 0 once the page shows it, 1 when it does
not within 90 s (the lines the page shows are printed), 77 when Chromium or chromedriver is not
installed.
"""
import os
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "service"))
from browser_support import Browser, available, visitor_opens_and_writes, wait_for  # noqa: E402

OPERATOR_LINES = ("return Array.from(document.querySelectorAll('#mensajes .linea.operador .texto'))"
                  ".map(function (e) { return e.textContent; });")


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    origin, name, expected_file = sys.argv[1:]
    if not available():
        print("Chromium or chromedriver is not installed; skipped.")
        return 77
    with open(expected_file, encoding="utf-8") as f:
        expected = f.read()
    with tempfile.TemporaryDirectory(prefix="tertulia-visitor-") as directory:
        browser = Browser(os.path.join(directory, "profile"))
        try:
            browser.open(origin + "/?empresa=demo")
            visitor_opens_and_writes(browser, name, "Hola")
            print("conversation open", flush=True)
            try:
                wait_for("the operator's line", lambda: expected in browser.execute(OPERATOR_LINES),
                         seconds=90)
            except AssertionError:
                print("the operator's lines on the page: %r" % browser.execute(OPERATOR_LINES))
                print("expected: %r" % expected)
                return 1
            print("the operator's line arrived unchanged")
            return 0
        finally:
            browser.close()


if __name__ == "__main__":
    sys.exit(main())
