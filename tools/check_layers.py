#!/usr/bin/env python3
"""Checks that every quoted #include points down the floors of the source tree.

The floors, lowest first (a file may include its own floor and the floors
below it, never one above):

    0  base/                        the ground floor: needs nothing
    1  platform/                    the machine: screen, keyboard, backends
    2  res/                         the resource cache
    3  scene/                       bodies, meshes, file formats, loaders
    4  render/                      camera and drawing
    5  frame/                       the program: start-up, loop, driving
    6  tools/ tests/ bench/ fuzz/   programs and checks built on the engine

The backends platform/sdl, platform/headless and platform/web sit on the
platform floor but never include one another. Every violation is printed as
file:line with the include; the exit status is 1 when there is one.

    python3 tools/check_layers.py [ROOT]
"""
import os
import re
import sys

FLOORS = [
    ("base", 0),
    ("platform", 1),
    ("res", 2),
    ("scene", 3),
    ("render", 4),
    ("frame", 5),
    ("tools", 6), ("tests", 6), ("bench", 6), ("fuzz", 6),
]
BACKENDS = ("platform/sdl", "platform/headless", "platform/web")
SOURCE_SUFFIXES = (".h", ".hpp", ".cpp", ".cc", ".c")
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')


def floor_of(path):
    top = path.split("/", 1)[0]
    for name, level in FLOORS:
        if top == name:
            return level
    return None


def backend_of(path):
    for backend in BACKENDS:
        if path == backend or path.startswith(backend + "/"):
            return backend
    return None


def resolve(source, target, root):
    """The included file relative to root: the include root first, then the
    including file's own folder (as the compiler searches quoted names)."""
    if os.path.exists(os.path.join(root, target)):
        return os.path.normpath(target)
    local = os.path.normpath(os.path.join(os.path.dirname(source), target))
    if os.path.exists(os.path.join(root, local)):
        return local
    return os.path.normpath(target)


def check(root):
    problems = []
    for name, _ in FLOORS:
        top = os.path.join(root, name)
        for folder, dirs, files in os.walk(top):
            dirs.sort()
            for file in sorted(files):
                if not file.endswith(SOURCE_SUFFIXES):
                    continue
                source = os.path.relpath(os.path.join(folder, file), root)
                own_floor = floor_of(source)
                own_backend = backend_of(source)
                with open(os.path.join(root, source), encoding="utf-8", errors="replace") as f:
                    for number, line in enumerate(f, 1):
                        m = INCLUDE.match(line)
                        if m is None:
                            continue
                        target = resolve(source, m.group(1), root)
                        target_floor = floor_of(target)
                        target_backend = backend_of(target)
                        where = f"{source}:{number}"
                        if target_floor is not None and target_floor > own_floor:
                            problems.append(f"{where}: includes \"{m.group(1)}\", a floor above")
                        elif target_backend is not None and own_backend is not None \
                                and target_backend != own_backend:
                            problems.append(f"{where}: includes \"{m.group(1)}\" from another backend")
    return problems


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
    problems = check(os.path.abspath(root))
    for p in problems:
        print(p)
    if problems:
        print(f"check_layers: {len(problems)} include(s) point the wrong way", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
