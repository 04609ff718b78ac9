#!/usr/bin/env python3
"""Fails when a file of the program includes a layer above its own, or names a header of the
project without its folder. The layers, lowest first, each may include itself and those below:

    settings, net (the core, no Qt) -> components -> dialogs -> app

The build enforces the same order for what it compiles (cmake/PellamarkLayers.cmake); this check
also covers the headers and the files of the other platform."""

import os
import re
import subprocess
import sys

LAYERS = ["settings", "net", "components", "dialogs", "app"]
CORE = {"settings", "net"}
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')


def problems(path, layer):
    rank = LAYERS.index(layer)
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            match = INCLUDE.match(line)
            if not match:
                continue
            kind, name = match.groups()
            where = "%s:%d: %s" % (path, number, match.group(0).strip())
            if kind == "<":
                if layer in CORE and name.startswith("Q"):
                    yield where + ": the core has no Qt"
                continue
            if name.endswith(".moc"):
                continue  # made by moc for this very file
            parts = name.split("/")
            if len(parts) < 2 or ".." in parts or parts[0] not in LAYERS:
                yield where + ": name the header from the project's root, with its folder"
            elif LAYERS.index(parts[0]) > rank:
                yield where + ": %s/ is a layer above %s/" % (parts[0], layer)


def main():
    root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    os.chdir(root)
    files = subprocess.run(["git", "ls-files", "--cached", "--others", "--exclude-standard", "--"]
                           + LAYERS, capture_output=True, text=True, check=True).stdout.split()
    found = []
    for path in files:
        if path.endswith((".h", ".cpp", ".h.in")) and os.path.exists(path):
            found.extend(problems(path, path.split("/")[0]))
    for problem in found:
        print(problem)
    if found:
        print("check-includes: %d include(s) out of place" % len(found))
        return 1
    print("check-includes: every include stays within its layer")
    return 0


if __name__ == "__main__":
    sys.exit(main())
