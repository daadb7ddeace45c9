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
platform floor but never include one another. Within a floor the units (a
header and its source, named by their path without the suffix) include one
another without a circle: when A's files include B's header and B's include
A's, the two are one unit in fact, and every include on the circle is
reported. Every violation is printed as file:line with the include; the exit
status is 1 when there is one.

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


def unit_of(path):
    return os.path.splitext(path)[0]


def circles(edges):
    """The includes that lie on a circle of units: Tarjan's strongly
    connected components, every edge inside a component of two or more."""
    graph = {}
    for source_unit, target_unit, _ in edges:
        graph.setdefault(source_unit, set()).add(target_unit)
        graph.setdefault(target_unit, set())
    index, low, on_stack, stack, component = {}, {}, set(), [], {}
    counter = [0]

    def visit(start):
        # Iterative, so a long chain of units cannot exhaust Python's stack.
        work = [(start, iter(sorted(graph[start])))]
        index[start] = low[start] = counter[0]
        counter[0] += 1
        stack.append(start)
        on_stack.add(start)
        while work:
            node, children = work[-1]
            advanced = False
            for child in children:
                if child not in index:
                    index[child] = low[child] = counter[0]
                    counter[0] += 1
                    stack.append(child)
                    on_stack.add(child)
                    work.append((child, iter(sorted(graph[child]))))
                    advanced = True
                    break
                if child in on_stack:
                    low[node] = min(low[node], index[child])
            if advanced:
                continue
            work.pop()
            if work:
                low[work[-1][0]] = min(low[work[-1][0]], low[node])
            if low[node] == index[node]:
                members = []
                while True:
                    member = stack.pop()
                    on_stack.discard(member)
                    members.append(member)
                    if member == node:
                        break
                for member in members:
                    component[member] = (node, len(members))

    for node in sorted(graph):
        if node not in index:
            visit(node)
    def way_back(start, goal):
        # The shortest way from start to goal inside their component.
        head = component[start][0]
        came = {start: None}
        queue = [start]
        for node in queue:
            if node == goal:
                break
            for child in sorted(graph[node]):
                if child not in came and component[child][0] == head:
                    came[child] = node
                    queue.append(child)
        way = [goal]
        while came[way[-1]] is not None:
            way.append(came[way[-1]])
        return list(reversed(way))

    found = []
    for source_unit, target_unit, where in edges:
        head, size = component[source_unit]
        if size > 1 and component[target_unit][0] == head:
            found.append((where, [source_unit] + way_back(target_unit, source_unit)))
    return found


def check(root):
    problems = []
    edges = []   # (unit, included unit, "file:line: includes ...") within a floor
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
                        elif target_floor == own_floor and unit_of(target) != unit_of(source):
                            edges.append((unit_of(source), unit_of(target),
                                          f"{where}: includes \"{m.group(1)}\""))
    for where, way in circles(edges):
        problems.append(f"{where}, an include circle: {' -> '.join(way)}")
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
