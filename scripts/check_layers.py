#!/usr/bin/env python3
"""Checks the library graph from the sources, without building anything.

Every folder that calls tunara_library is a library, made of the files in
that folder itself. An #include of a header of another
library is an edge. The check fails when
  - the include edges or the CMake DEPS between libraries form a cycle,
  - a library includes the headers of a library it does not reach through its
    DEPS (it would build only by luck of the link order),
  - a rule below is broken.
Usage: check_layers.py REPOSITORY_ROOT
"""
import os
import re
import sys

# (from-folder, to-folder prefix, allowed headers): what the from-folder may
# not include from below the prefix, apart from the headers listed.
FORBIDDEN = [
    # Recording reports through its callbacks; the playlist sits above it.
    ("record", "playlist/", set()),
    # The windows reach the system through the core, except for the hooks
    # they implement: the user channel and the video window.
    ("ui/qt", "platform/", {
        "platform/ui/UserInteraction.h",
        "platform/ui/Strings.h",
        "platform/media/MediaToolbox.h",
    }),
]

SKIP_TOP = {"build", "build-fuzz", "tests", "bench", "fuzz", "cmake", "docs", "scripts", ".git"}
LIBRARY_CALL = re.compile(r"tunara_(?:qt_)?library\(\s*(\w+)([^)]*)\)", re.S)
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def libraries(root):
    """{folder: (name, deps)} for every library folder (relative, '/'-separated)."""
    found = {}
    for folder, dirs, files in os.walk(root):
        rel = os.path.relpath(folder, root).replace(os.sep, "/")
        if rel.split("/")[0] in SKIP_TOP:
            dirs[:] = []
            continue
        if "CMakeLists.txt" not in files:
            continue
        with open(os.path.join(folder, "CMakeLists.txt"), encoding="utf-8") as f:
            text = re.sub(r"#[^\n]*", "", f.read())
        for m in LIBRARY_CALL.finditer(text):
            words = m.group(2).split()
            deps = set()
            if "DEPS" in words:
                for w in words[words.index("DEPS") + 1:]:
                    if w in ("PRIVATE_HEADERS", "QT"):
                        break
                    if w.startswith("tunara_"):
                        deps.add(w)
            found[rel] = (m.group(1), deps)
    return found


def owner(path, folders):
    """The library of `path`, or None: a library is the files of its folder
    itself, as tunara_library takes them; subfolders hold other targets."""
    folder = os.path.dirname(path)
    return folder if folder in folders else None


def include_edges(root, folders):
    """{(from_folder, to_folder): [(file, header)]} and every (file, header)."""
    edges, includes = {}, []
    for folder in folders:
        for name in sorted(os.listdir(os.path.join(root, folder))):
            if name.endswith((".h", ".cpp", ".c")):
                path = folder + "/" + name
                src = folder
                with open(os.path.join(root, path), encoding="utf-8", errors="replace") as f:
                    text = f.read()
                for header in INCLUDE.findall(text):
                    if not os.path.isfile(os.path.join(root, header)):
                        continue  # a system header, or one beside the file
                    includes.append((path, header))
                    dst = owner(header, folders)
                    if dst and dst != src:
                        edges.setdefault((src, dst), []).append((path, header))
    return edges, includes


def cycle(graph):
    """One cycle of `graph` ({node: set(node)}) as a list, or None."""
    state = {}
    stack = []

    def visit(node):
        state[node] = 1
        stack.append(node)
        for nxt in sorted(graph.get(node, ())):
            if state.get(nxt) == 1:
                return stack[stack.index(nxt):] + [nxt]
            if nxt not in state:
                found = visit(nxt)
                if found:
                    return found
        stack.pop()
        state[node] = 2
        return None

    for node in sorted(graph):
        if node not in state:
            found = visit(node)
            if found:
                return found
    return None


def reach(graph, start):
    seen, todo = set(), [start]
    while todo:
        for nxt in graph.get(todo.pop(), ()):
            if nxt not in seen:
                seen.add(nxt)
                todo.append(nxt)
    return seen


def main():
    root = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else ".")
    libs = libraries(root)
    folders = set(libs)
    by_name = {name: folder for folder, (name, _) in libs.items()}
    problems = []

    edges, includes = include_edges(root, folders)
    include_graph = {}
    for src, dst in edges:
        include_graph.setdefault(src, set()).add(dst)
    found = cycle(include_graph)
    if found:
        problems.append("include cycle: " + " -> ".join(found))

    dep_graph = {libs[f][0]: {d for d in libs[f][1] if d in by_name} for f in libs}
    found = cycle(dep_graph)
    if found:
        problems.append("DEPS cycle: " + " -> ".join(found))

    for (src, dst), where in sorted(edges.items()):
        if libs[dst][0] not in reach(dep_graph, libs[src][0]):
            problems.append("%s includes %s (%s) but does not name %s in its DEPS" %
                            (where[0][0], where[0][1], src, libs[dst][0]))

    for src, prefix, allowed in FORBIDDEN:
        for path, header in includes:
            if owner(path, folders) == src and header.startswith(prefix) and header not in allowed:
                problems.append("%s includes %s" % (path, header))

    for p in problems:
        print(p)
    print("%d libraries, %d include edges between them, %d problems" %
          (len(libs), len(edges), len(problems)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
