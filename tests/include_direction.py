"""Checks that every folder includes only from itself and the folders below it.

usage: include_direction.py SOURCE-DIR

The layers, bottom to top: text, base, http, protocol, chat, session, app; widgets beside them;
the service on text, base and protocol only. The plain C++ folders include no Qt header. The
tests of a folder (tests/chat/) include what that folder may, the test folders of those folders
and tests/support/; each benchmark and fuzzer what the folder it exercises may. Prints each
include against the direction and exits 1 when there is one.
"""

import pathlib
import re
import sys

# What each folder may include, itself among them.
ALLOWED = {
    "text": {"text"},
    "base": {"base", "text"},
    "http": {"http", "base", "text"},
    "protocol": {"protocol", "base", "text"},
    "chat": {"chat", "protocol", "base", "text"},
    "session": {"session", "chat", "protocol", "http", "base", "text"},
    "widgets": {"widgets", "base", "text"},
    "app": {"app", "widgets", "session", "chat", "protocol", "http", "base", "text"},
    "service": {"service", "protocol", "base", "text"},
    "tools": {"tools", "session", "chat", "protocol", "http", "base", "text"},
}
# The test support is shared by the tests of every folder; it drives the HTTP client.
SUPPORT_ALLOWED = {"http", "base", "text"}
# What each benchmark and fuzzer exercises; a new one gets its row here.
EXERCISED = {
    "bench/md5_benchmark.cpp": "base",
    "bench/transcript_benchmark.cpp": "protocol",
    "fuzz/http_reply_fuzzer.cpp": "http",
}
# Folders that build without Qt; widgets/qt and widgets/sdl are the desktop half of widgets.
PLAIN = {"text", "base", "http", "protocol", "chat", "session", "service", "tools"}
OUR_INCLUDE = re.compile(r'^\s*#\s*include\s+"([a-z_]+)/(?:([a-z_]+)/)?')
QT_INCLUDE = re.compile(r"^\s*#\s*include\s+<Q")


def sources(folder):
    return [p for p in sorted(folder.rglob("*")) if p.suffix in (".h", ".cpp", ".c")]


def check(top, path, name, allowed, tests_allowed, plain, wrong):
    """Adds to WRONG each include of PATH outside ALLOWED, or of a test folder outside
    TESTS_ALLOWED; and each Qt include when PLAIN."""
    for number, line in enumerate(path.read_text(errors="replace").splitlines(), 1):
        where = f"{path.relative_to(top)}:{number}"
        used = OUR_INCLUDE.match(line)
        if used and used.group(1) == "tests" and tests_allowed is not None:
            if used.group(2) not in tests_allowed:
                wrong.append(f"{where}: {name} includes tests/{used.group(2)}/: {line.strip()}")
        elif used and used.group(1) not in allowed:
            wrong.append(f"{where}: {name} includes {used.group(1)}/: {line.strip()}")
        if plain and QT_INCLUDE.match(line):
            wrong.append(f"{where}: {name} is plain C++ but includes Qt: {line.strip()}")


def main():
    top = pathlib.Path(sys.argv[1])
    wrong = []
    for folder, allowed in ALLOWED.items():
        for path in sources(top / folder):
            desktop = folder == "widgets" and path.parent.name in ("qt", "sdl")
            plain = folder in PLAIN or (folder == "widgets" and not desktop)
            check(top, path, f"{folder}/", allowed, None, plain, wrong)
    tested = {**ALLOWED, "support": SUPPORT_ALLOWED}
    for folder in sorted(p for p in (top / "tests").iterdir() if p.is_dir()):
        allowed = tested.get(folder.name)
        for path in sources(folder):
            if allowed is None:
                wrong.append(f"{path.relative_to(top)}: tests/{folder.name}/ tests no folder")
                continue
            check(top, path, f"tests/{folder.name}/", allowed | {"tests"},
                  allowed | {"support"}, False, wrong)
    for path in sources(top / "bench") + sources(top / "fuzz"):
        name = path.relative_to(top).as_posix()
        if name not in EXERCISED:
            wrong.append(f"{name}: not in the list of what each benchmark and fuzzer exercises")
            continue
        folder = EXERCISED[name]
        check(top, path, name, ALLOWED[folder] | {"tests"}, ALLOWED[folder], False, wrong)
    for each in wrong:
        print(each)
    print(f"{len(wrong)} includes against the direction")
    return 1 if wrong else 0


if __name__ == "__main__":
    sys.exit(main())
