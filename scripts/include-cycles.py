#!/usr/bin/env python3
"""Lists the include cycles between modules inside core/ and inside opc/.

A module is a header and its sources: `x.h`, `x_p.h`, `x.cpp` and the split
files of one class, `x_part.cpp` (or `x_part_p.h`) when module `x` exists. An
include of module B from any file of module A is an edge A -> B; a cycle is a
strongly connected set of two or more modules. opc/remote/ is part of opc.

A child may include its parent (the object that owns it and that it names as
its owner): those includes, listed in PARENTS, are set aside before cycles are
looked for, and the pairs that include each other are reported apart. The
script exits with 1 when any other cycle is left, so that it can run in a
check.

Usage: scripts/include-cycles.py [area...]   (default: core opc)
"""

import os
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# (child, parent): the child may include its parent. Module paths from the
# root. The component owns its groups collection, its groups, its browser and
# its shutdown sink; a group owns its items collection, its items and its data
# sinks; a host owns the bootstrap object it serves each connection.
PARENTS = {
    ("core/tqopcgroups", "core/tqopcserver"),
    ("core/tqopcgroup", "core/tqopcserver"),
    ("core/tqopcgroup", "core/tqopcgroups"),
    ("core/tqopcbrowser", "core/tqopcserver"),
    ("core/tqopcshutdownevent", "core/tqopcserver"),
    ("core/tqopcitems", "core/tqopcgroup"),
    ("core/tqopcitem", "core/tqopcgroup"),
    ("core/tqopcitem", "core/tqopcitems"),
    ("core/tqopcadvisesink", "core/tqopcgroup"),
    ("core/tqopcdatacallback", "core/tqopcgroup"),
    ("opc/remote/hostserver", "opc/remote/host"),
}

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)
SOURCE = (".h", ".cpp")


def files_of(area):
    for folder, _, names in os.walk(os.path.join(ROOT, area)):
        for name in sorted(names):
            if name.endswith(SOURCE):
                yield os.path.relpath(os.path.join(folder, name), ROOT)


def stem(path):
    base = os.path.splitext(path)[0]
    return base[:-2] if base.endswith("_p") else base


def module_names(files):
    """Maps every file to its module's name."""
    stems = {stem(f) for f in files}
    modules = {}
    for f in files:
        s = stem(f)
        head, sep, _ = s.rpartition("_")
        # A split file of one class (tqopcgroup_io.cpp) belongs to its class.
        while sep and head not in stems:
            head, sep, _ = head.rpartition("_")
        modules[f] = head if sep else s
    return modules


def resolve(including, target, known):
    for candidate in (
        os.path.normpath(os.path.join(os.path.dirname(including), target)),
        os.path.normpath(target),
    ):
        if candidate in known:
            return candidate
    return None  # outside the area, a system header or generated code


def graph(area):
    files = list(files_of(area))
    modules = module_names(files)
    known = set(files)
    edges = {m: {} for m in modules.values()}  # module -> {module: [why]}
    for f in files:
        with open(os.path.join(ROOT, f), encoding="utf-8", errors="replace") as text:
            for target in INCLUDE.findall(text.read()):
                hit = resolve(f, target, known)
                if hit and modules[hit] != modules[f]:
                    edges[modules[f]].setdefault(modules[hit], []).append(f"{f} -> {hit}")
    return edges


def strongly_connected(edges):
    """Tarjan's algorithm, iterative; yields the sets of two or more modules."""
    index, low, on_stack, stack, found = {}, {}, set(), [], []
    counter = 0
    for start in sorted(edges):
        if start in index:
            continue
        work = [(start, iter(sorted(edges[start])))]
        index[start] = low[start] = counter
        counter += 1
        stack.append(start)
        on_stack.add(start)
        while work:
            node, children = work[-1]
            child = next(children, None)
            if child is None:
                work.pop()
                if work:
                    parent = work[-1][0]
                    low[parent] = min(low[parent], low[node])
                if low[node] == index[node]:
                    members = []
                    while True:
                        top = stack.pop()
                        on_stack.discard(top)
                        members.append(top)
                        if top == node:
                            break
                    if len(members) > 1:
                        found.append(sorted(members))
            elif child not in index:
                index[child] = low[child] = counter
                counter += 1
                stack.append(child)
                on_stack.add(child)
                work.append((child, iter(sorted(edges[child]))))
            elif child in on_stack:
                low[node] = min(low[node], index[child])
    return sorted(found)


def main(areas):
    left = 0
    for area in areas:
        edges = graph(area)
        pairs = sorted(
            (child, parent)
            for child, parent in PARENTS
            if parent in edges.get(child, {}) and child in edges.get(parent, {})
        )
        rest = {
            m: {t: why for t, why in targets.items() if (m, t) not in PARENTS}
            for m, targets in edges.items()
        }
        cycles = strongly_connected(rest)
        left += len(cycles)
        print(f"{area}/: {len(edges)} modules, {len(cycles)} include cycle(s), "
              f"{len(pairs)} parent-child pair(s)")
        for members in cycles:
            print(f"  cycle: {' <-> '.join(members)}")
            inside = set(members)
            for m in members:
                for target in sorted(set(rest[m]) & inside):
                    for why in rest[m][target]:
                        print(f"    {why}")
        for child, parent in pairs:
            print(f"  parent-child: {parent} <-> {child}")
    return 1 if left else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:] or ["core", "opc"]))
