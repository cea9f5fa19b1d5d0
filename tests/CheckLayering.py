#!/usr/bin/env python3
"""Checks the library's layering: the host's utilities (OSUtilities/) never
include or name anything of the routines (SafeStdLib/), and no two of the
library's files include each other in a loop.

usage: CheckLayering.py SOURCE_DIR
"""
import os
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)
# What the routines own: their folder, their private names, their entries.
ROUTINES = re.compile(r'SafeStdLib/|SafeStdLibPrivate|MaxPrintf|\bzuvo_')


def library_files(root):
    for folder in ("OSUtilities", "SafeStdLib"):
        for dirpath, _, names in os.walk(os.path.join(root, folder)):
            for name in names:
                if name.endswith((".h", ".c", ".cpp")):
                    yield os.path.join(dirpath, name)


def resolve(root, including, name):
    """The library file that `#include "name"` in `including` reaches, or
    None for a header of the build or the system."""
    for candidate in (os.path.join(os.path.dirname(including), name),
                      os.path.join(root, name),
                      os.path.join(root, "OSUtilities", name),
                      os.path.join(root, "SafeStdLib", name)):
        if os.path.isfile(candidate):
            return os.path.normpath(candidate)
    return None


def main():
    root = os.path.abspath(sys.argv[1])
    files = sorted(library_files(root))
    graph, faults = {}, []
    for path in files:
        text = open(path, encoding="utf-8").read()
        rel = os.path.relpath(path, root)
        graph[path] = [r for r in (resolve(root, path, n) for n in INCLUDE.findall(text)) if r]
        if rel.startswith("OSUtilities" + os.sep):
            # Comments may say what the library is; code may not reach up.
            code = re.sub(r"//[^\n]*|/\*.*?\*/", "", text, flags=re.S)
            for line_no, line in enumerate(code.splitlines(), 1):
                match = ROUTINES.search(line)
                if match and '"SafeStdLib:' not in line:
                    faults.append(f"{rel}:{line_no}: names the routines' {match.group(0)!r}")
            for target in graph[path]:
                if os.path.relpath(target, root).startswith("SafeStdLib" + os.sep):
                    faults.append(f"{rel}: includes {os.path.relpath(target, root)}")
    # A loop of includes: depth-first, each file's path kept on a stack.
    state = {}

    def visit(path, stack):
        state[path] = "open"
        stack.append(path)
        for target in graph.get(path, []):
            if state.get(target) == "open":
                loop = stack[stack.index(target):] + [target]
                faults.append("include loop: " + " -> ".join(os.path.relpath(p, root) for p in loop))
            elif target not in state:
                visit(target, stack)
        stack.pop()
        state[path] = "done"

    for path in files:
        if path not in state:
            visit(path, [])
    if faults:
        sys.exit("\n".join(faults))
    print(f"layering holds across {len(files)} files")


if __name__ == "__main__":
    main()
