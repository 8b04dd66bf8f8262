#!/usr/bin/env python3
"""Checks the include graph between the folders of deltamaker/.

Prints every folder-to-folder edge with the count of includes behind it, then fails (exit 1)
when the folders include each other in a circle, or when a folder includes one that is not
below it in LAYERS. Usage: check_includes.py [source root]
"""
import os
import re
import sys

# Each folder may include only folders listed for it: the layers point one way.
LAYERS = {
    "lzma": set(),
    "parallel": set(),
    "format": set(),
    "io": {"format"},
    "verify": {"format", "lzma", "io"},
    "patch": {"format", "lzma", "io", "verify", "parallel"},
    "samples": set(),
    "builder": {"format", "lzma", "io", "verify", "patch", "parallel"},
    "report": {"format", "io", "verify"},
    "cli": {"format", "io", "verify", "builder", "samples", "report"},
    "window": {"builder", "format", "report"},
}

INCLUDE = re.compile(r'^\s*#\s*include\s*"deltamaker/([^/"]+)/')


def edges_of(root):
    edges = {}
    base = os.path.join(root, "deltamaker")
    for folder in sorted(os.listdir(base)):
        path = os.path.join(base, folder)
        if not os.path.isdir(path):
            continue
        for dirpath, _, files in os.walk(path):
            for name in files:
                if not name.endswith((".h", ".hpp", ".c", ".cpp")):
                    continue
                with open(os.path.join(dirpath, name), encoding="utf-8", errors="replace") as f:
                    for line in f:
                        m = INCLUDE.match(line)
                        if m and m.group(1) != folder:
                            key = (folder, m.group(1))
                            edges[key] = edges.get(key, 0) + 1
    return edges


def circles(edges):
    """Strongly connected components of more than one folder (Tarjan)."""
    graph = {}
    for a, b in edges:
        graph.setdefault(a, set()).add(b)
        graph.setdefault(b, set())
    index, low, stack, on_stack, found = {}, {}, [], set(), []

    def visit(v):
        index[v] = low[v] = len(index)
        stack.append(v)
        on_stack.add(v)
        for w in sorted(graph[v]):
            if w not in index:
                visit(w)
                low[v] = min(low[v], low[w])
            elif w in on_stack:
                low[v] = min(low[v], index[w])
        if low[v] == index[v]:
            comp = []
            while True:
                w = stack.pop()
                on_stack.discard(w)
                comp.append(w)
                if w == v:
                    break
            if len(comp) > 1:
                found.append(sorted(comp))

    for v in sorted(graph):
        if v not in index:
            visit(v)
    return found


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
    edges = edges_of(root)
    for (a, b), n in sorted(edges.items()):
        print(f"deltamaker/{a} -> deltamaker/{b} ({n})")
    failed = False
    for comp in circles(edges):
        print("circle: " + " <-> ".join(comp))
        failed = True
    for (a, b), n in sorted(edges.items()):
        if a not in LAYERS:
            print(f"deltamaker/{a}: folder without a layer")
            failed = True
        elif b not in LAYERS[a]:
            print(f"upward include: deltamaker/{a} includes deltamaker/{b}")
            failed = True
    print("include graph: " + ("FAILED" if failed else "no circles, every include points down"))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
