"""The one list of the exported routines, SafeStdLib/internal/RoutineList.h,
read by Python: the only Python code that parses it.

A row is a line that opens with SAFESTDLIB_ROUTINE( and holds at least the
four columns name, linkage, kind, checked; columns after them, and rows of
other macros, are left alone.
"""
import collections
import os
import re

Routine = collections.namedtuple("Routine", "name linkage kind checked")

LIST = os.path.join("SafeStdLib", "internal", "RoutineList.h")
# The checked column: which of name_chk (the size checked) and name_fchk
# (the format checked) the library exports too.
CHECKED_VALUES = ("CHECKED", "FORMAT_CHECKED", "CHECKED_AND_FORMAT_CHECKED", "PLAIN")


def has_size_check(routine):
    return routine.checked in ("CHECKED", "CHECKED_AND_FORMAT_CHECKED")


ROW = re.compile(r"^SAFESTDLIB_ROUTINE\(([^)]*)\)", re.M)


def routines(source_dir):
    """The list's rows, in its order."""
    path = os.path.join(source_dir, LIST)
    rows = []
    for match in ROW.finditer(open(path, encoding="utf-8").read()):
        columns = [c.strip() for c in match.group(1).split(",")]
        if (len(columns) < 4 or columns[1] not in ("C", "CXX")
                or columns[3] not in CHECKED_VALUES):
            raise ValueError(f"{path}: not a row of name, C|CXX, kind, "
                             f"{'|'.join(CHECKED_VALUES)}: {match.group(0)}")
        rows.append(Routine(*columns[:4]))
    if not rows:
        raise ValueError(f"{path}: no SAFESTDLIB_ROUTINE rows")
    return rows
