#!/usr/bin/env python3
"""Fails when a file of the program includes a layer above its own, or names a header of the
project without its folder. The layers and their order are read from cmake/PellamarkLayers.cmake,
where the build keeps them: each layer may include itself and those before it; the core layers
have no Qt; the window process (window/) stands on one layer beside those above it, and no other
folder includes it; a program apart (the bundled service) includes only its own folder, and no
layer of the client includes it.

The build enforces the same order for what it compiles; this check also covers the headers and
the files of the other platform."""

import os
import re
import subprocess
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')
SET = re.compile(r"^\s*set\(\s*(PELLAMARK_\w+)\s+([^)]*)\)", re.MULTILINE)
WINDOW = "window"


def read_layers(root):
    with open(os.path.join(root, "cmake", "PellamarkLayers.cmake"), encoding="utf-8") as f:
        values = {name: value.split() for name, value in SET.findall(f.read())}
    return (values["PELLAMARK_LAYERS"], values["PELLAMARK_CORE_LAYERS"],
            values["PELLAMARK_WINDOW_STANDS_ON"][0], values["PELLAMARK_APART"])


def problems(path, folder, layers, core, window_base, apart):
    if folder in apart:
        seen = [folder]
    elif folder == WINDOW:
        seen = layers[:layers.index(window_base) + 1] + [WINDOW]
    else:
        seen = layers[:layers.index(folder) + 1]
    no_qt = folder in core or folder in apart
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            match = INCLUDE.match(line)
            if not match:
                continue
            kind, name = match.groups()
            where = "%s:%d: %s" % (path, number, match.group(0).strip())
            if kind == "<":
                if no_qt and name.startswith("Q"):
                    yield where + ": %s/ has no Qt" % folder
                continue
            if name.endswith(".moc"):
                continue  # made by moc for this very file
            parts = name.split("/")
            if len(parts) < 2 or ".." in parts or parts[0] not in layers + [WINDOW] + apart:
                yield where + ": name the header from the project's root, with its folder"
            elif parts[0] not in seen and (folder in apart or parts[0] in apart):
                yield where + ": the service and the program share no code"
            elif parts[0] not in seen:
                yield where + ": %s/ is a layer above %s/" % (parts[0], folder)


def main():
    root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    os.chdir(root)
    layers, core, window_base, apart = read_layers(root)
    folders = layers + [WINDOW] + apart
    files = subprocess.run(["git", "ls-files", "--cached", "--others", "--exclude-standard", "--"]
                           + folders, capture_output=True, text=True, check=True).stdout.split()
    found = []
    for path in files:
        if path.endswith((".h", ".cpp", ".h.in")) and os.path.exists(path):
            found.extend(problems(path, path.split("/")[0], layers, core, window_base, apart))
    for problem in found:
        print(problem)
    if found:
        print("check-includes: %d include(s) out of place" % len(found))
        return 1
    print("check-includes: every include stays within its layer")
    return 0


if __name__ == "__main__":
    sys.exit(main())
