#!/usr/bin/env python3
"""Fails when a file of the program includes a layer above its own, or names a header of the
project without its folder. The layers, lowest first, each may include itself and those below:

    settings, net (the core, no Qt) -> components -> dialogs -> app

The window process (window/) stands on the components beside the dialogs: it includes the core
and the components, and no other folder includes it.

The bundled service (service/, no Qt) is a program apart: it includes only its own folder, and no
layer of the client includes it.

The build enforces the same order for what it compiles (cmake/PellamarkLayers.cmake); this check
also covers the headers and the files of the other platform."""

import os
import re
import subprocess
import sys

LAYERS = ["settings", "net", "components", "dialogs", "app"]
WINDOW = "window"
SERVICE = "service"
NO_QT = {"settings": "the core", "net": "the core", SERVICE: "the service"}
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')


def problems(path, folder):
    if folder == SERVICE:
        seen = [folder]
    elif folder == WINDOW:
        seen = LAYERS[:LAYERS.index("components") + 1] + [WINDOW]
    else:
        seen = LAYERS[:LAYERS.index(folder) + 1]
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            match = INCLUDE.match(line)
            if not match:
                continue
            kind, name = match.groups()
            where = "%s:%d: %s" % (path, number, match.group(0).strip())
            if kind == "<":
                if folder in NO_QT and name.startswith("Q"):
                    yield where + ": %s has no Qt" % NO_QT[folder]
                continue
            if name.endswith(".moc"):
                continue  # made by moc for this very file
            parts = name.split("/")
            if len(parts) < 2 or ".." in parts or parts[0] not in LAYERS + [WINDOW, SERVICE]:
                yield where + ": name the header from the project's root, with its folder"
            elif parts[0] not in seen and SERVICE in (folder, parts[0]):
                yield where + ": the service and the program share no code"
            elif parts[0] not in seen:
                yield where + ": %s/ is a layer above %s/" % (parts[0], folder)


def main():
    root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    os.chdir(root)
    folders = LAYERS + [WINDOW, SERVICE]
    files = subprocess.run(["git", "ls-files", "--cached", "--others", "--exclude-standard", "--"]
                           + folders, capture_output=True, text=True, check=True).stdout.split()
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
