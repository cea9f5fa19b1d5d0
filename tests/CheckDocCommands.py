#!/usr/bin/env python3
"""Checks the commands that the docs give: every `cmake --preset`,
`cmake --build --preset`, `ctest --preset` and `cmake --workflow --preset`
names a preset of that kind in CMakePresets.json, and every
`ctest ... -R <pattern>` matches at least one test of this build.

usage: CheckDocCommands.py SOURCE_DIR CTEST BUILD_DIR
"""
import glob
import json
import os
import re
import shlex
import subprocess
import sys

KINDS = {"configure": "configurePresets", "build": "buildPresets", "test": "testPresets",
         "workflow": "workflowPresets"}


def commands(text):
    """The shell commands in the text's code blocks and inline code."""
    for block in re.findall(r"```[a-z]*\n(.*?)```", text, re.S):
        for line in block.splitlines():
            yield from re.split(r"&&|;|\|\|", line.split("#", 1)[0])
    for span in re.findall(r"`([^`\n]+)`", text):
        yield from re.split(r"&&|;|\|\|", span)


def main():
    source, ctest, build = sys.argv[1:4]
    presets = json.load(open(os.path.join(source, "CMakePresets.json")))
    names = {kind: {p["name"] for p in presets.get(key, []) if not p.get("hidden")}
             for kind, key in KINDS.items()}
    # Run in the build folder: CTest before 3.20 has no --test-dir.
    listing = subprocess.run([ctest, "-N"], cwd=build, capture_output=True, text=True,
                             check=True).stdout
    tests = re.findall(r"^\s*Test\s+#\d+: (\S+)", listing, re.M)
    faults, checked = [], 0
    docs = [os.path.join(source, name) for name in ("README.md", "CONTRIBUTING.md")]
    docs += sorted(glob.glob(os.path.join(source, "docs", "*.md")))
    for doc in docs:
        rel = os.path.relpath(doc, source)
        for command in commands(open(doc, encoding="utf-8").read()):
            try:
                words = shlex.split(command)
            except ValueError:
                continue
            if len(words) < 2 or words[0] not in ("cmake", "ctest"):
                continue
            if "--preset" in words[:-1]:
                preset = words[words.index("--preset") + 1]
                if words[0] == "ctest":
                    kind = "test"
                elif "--workflow" in words:
                    kind = "workflow"
                elif "--build" in words:
                    kind = "build"
                else:
                    kind = "configure"
                if "<" in preset:
                    continue  # a placeholder: `--preset <name>`
                checked += 1
                if preset not in names[kind]:
                    faults.append(f"{rel}: `{command.strip()}` names no {kind} preset {preset!r}")
            if words[0] == "ctest" and "-R" in words[:-1]:
                pattern = words[words.index("-R") + 1]
                if "<" in pattern:
                    continue
                checked += 1
                if not any(re.search(pattern, name) for name in tests):
                    faults.append(f"{rel}: `{command.strip()}`: -R {pattern!r} matches no test")
    if faults:
        sys.exit("\n".join(faults))
    print(f"{checked} preset names and test patterns in the docs are real")


if __name__ == "__main__":
    main()
