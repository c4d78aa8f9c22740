"""Checks that every folder includes only from itself and the folders below it.

usage: include_direction.py SOURCE-DIR

The layers, bottom to top: text, base, http, protocol, chat, session, app; widgets beside them;
the service on text, base and protocol only. The plain C++ folders include no Qt header. Prints
each include against the direction and exits 1 when there is one.
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
# Folders that build without Qt; widgets/qt and widgets/sdl are the desktop half of widgets.
PLAIN = {"text", "base", "http", "protocol", "chat", "session", "service", "tools"}
OUR_INCLUDE = re.compile(r'^\s*#\s*include\s+"([a-z_]+)/')
QT_INCLUDE = re.compile(r"^\s*#\s*include\s+<Q")


def main():
    top = pathlib.Path(sys.argv[1])
    wrong = []
    for folder, allowed in ALLOWED.items():
        for path in sorted((top / folder).rglob("*")):
            if path.suffix not in (".h", ".cpp", ".c"):
                continue
            desktop = folder == "widgets" and path.parent.name in ("qt", "sdl")
            for number, line in enumerate(path.read_text(errors="replace").splitlines(), 1):
                where = f"{path.relative_to(top)}:{number}"
                used = OUR_INCLUDE.match(line)
                if used and used.group(1) not in allowed:
                    wrong.append(f"{where}: {folder}/ includes {used.group(1)}/: {line.strip()}")
                plain = folder in PLAIN or (folder == "widgets" and not desktop)
                if plain and QT_INCLUDE.match(line):
                    wrong.append(f"{where}: {folder}/ is plain C++ but includes Qt: {line.strip()}")
    for each in wrong:
        print(each)
    print(f"{len(wrong)} includes against the direction")
    return 1 if wrong else 0


if __name__ == "__main__":
    sys.exit(main())
