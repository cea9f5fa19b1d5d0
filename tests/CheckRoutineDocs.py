#!/usr/bin/env python3
"""Checks the docs against the one list of the routines (RoutineList.h).

usage: CheckRoutineDocs.py readme SOURCE_DIR
           every routine of the list is in README.md's table of the routines
           (under "## The routines"), and every zuvo_ name in that table is
           in the list; the "Fortified hosts" paragraph names each CHECKED
           routine and its _chk entry, and no other routine or entry
       CheckRoutineDocs.py counts SOURCE_DIR
           no doc, header, source or test gives a count of the routines in
           prose (a number, then "routines", "v-forms", "wrappers" or
           "checked entries"), which the next routine would make false;
           CHANGELOG.md, a record of releases, is left out
"""
import glob
import os
import re
import sys

from routine_list import has_size_check, routines

NAME = re.compile(r"`\(?&?(zuvo_\w+)")


def section(text, heading):
    """The text under a "## heading" line, to the next such heading."""
    match = re.search(rf"^## {re.escape(heading)}\n(.*?)(?=^## |\Z)", text, re.M | re.S)
    return match.group(1) if match else ""


def check_readme(source):
    rows = routines(source)
    listed = {r.name for r in rows}
    checked = {r.name for r in rows if has_size_check(r)}
    format_checked = {r.name for r in rows if r.checked.endswith("FORMAT_CHECKED")}
    text = open(os.path.join(source, "README.md"), encoding="utf-8").read()
    part = section(text, "The routines")
    faults = []
    table = [line for line in part.splitlines() if line.startswith("|")]
    if not table:
        faults.append("README.md: no table under \"## The routines\"")
    in_table = set()
    for line in table[2:]:  # past the header and its rule
        in_table.update(NAME.findall(line.split("|")[1]))
    for name in sorted(listed - in_table):
        faults.append(f"README.md: {name} is in the list, not in the routines' table")
    for name in sorted(in_table - listed):
        faults.append(f"README.md: the routines' table has {name}, which the list has not")
    fortified = re.search(r"^\*\*Fortified hosts\.\*\*(.*?)(?:\n\n|\Z)", part, re.M | re.S)
    if not fortified:
        faults.append("README.md: no **Fortified hosts.** paragraph under \"## The routines\"")
    else:
        paragraph = fortified.group(1)
        named = set(NAME.findall(paragraph))
        entries = {n for n in named if n.endswith("_chk") or n.endswith("_fchk")}
        exported = {n + "_chk" for n in checked} | {n + "_fchk" for n in format_checked}
        # An entry is named, or every routine's is, as `<routine>_chk`.
        every = {suffix for suffix in ("_chk", "_fchk") if f"`<routine>{suffix}`" in paragraph}
        for name in sorted(checked):
            if name not in named or (name + "_chk" not in entries and "_chk" not in every):
                faults.append(f"README.md: **Fortified hosts.** leaves out CHECKED {name} "
                              f"or {name}_chk")
        for name in sorted(format_checked):
            if name not in named or (name + "_fchk" not in entries and "_fchk" not in every):
                faults.append(f"README.md: **Fortified hosts.** leaves out FORMAT_CHECKED "
                              f"{name} or {name}_fchk")
        for name in sorted((named - entries) - checked - format_checked):
            faults.append(f"README.md: **Fortified hosts.** names {name}, which is not checked")
        for name in sorted(entries - exported):
            faults.append(f"README.md: **Fortified hosts.** names {name}, which no routine "
                          f"of the list exports")
    return faults, f"the {len(listed)} routines of the list are in README.md"


# A count, then at most two words, then what it counts, across line breaks
# and comment markers.
GAP = r"[\s/*#]+"
COUNT = re.compile(
    r"\b(two|three|four|five|six|seven|eight|nine|ten|eleven|twelve|thirteen|fourteen|fifteen|"
    r"sixteen|seventeen|eighteen|nineteen|twenty(?:-\w+)?|thirty(?:-\w+)?|\d+)"
    rf"(?:{GAP}[A-Za-z][\w-]*){{0,2}}?{GAP}(routines|v-forms|wrappers|checked{GAP}entries)\b",
    re.I)
# "No two routines are inside the C library at once" counts nothing.
NOT_A_COUNT = re.compile(r"\bno\s+$", re.I)


def files(source):
    yield from (os.path.join(source, name) for name in ("README.md", "CONTRIBUTING.md"))
    yield from sorted(glob.glob(os.path.join(source, "docs", "*.md")))
    for folder in ("OSUtilities", "SafeStdLib", "tests", "bench", "examples", "cmake"):
        for dirpath, _, names in os.walk(os.path.join(source, folder)):
            for name in sorted(names):
                if name.endswith((".h", ".c", ".cpp", ".py", ".cmake", ".md")) or \
                        name == "CMakeLists.txt":
                    yield os.path.join(dirpath, name)


def check_counts(source):
    faults, scanned = [], 0
    for path in files(source):
        text = open(path, encoding="utf-8").read()
        scanned += 1
        for match in COUNT.finditer(text):
            if NOT_A_COUNT.search(text[max(0, match.start() - 8):match.start()]):
                continue
            line = text.count("\n", 0, match.start()) + 1
            phrase = " ".join(re.split(GAP, match.group(0)))
            faults.append(f"{os.path.relpath(path, source)}:{line}: \"{phrase}\" counts the "
                          "routines; name them by the list instead")
    return faults, f"no count of the routines in {scanned} files"


def main():
    mode, source = sys.argv[1:3]
    faults, summary = {"readme": check_readme, "counts": check_counts}[mode](source)
    if faults:
        sys.exit("\n".join(faults))
    print(summary)


if __name__ == "__main__":
    main()
