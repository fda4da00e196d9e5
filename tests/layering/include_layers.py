#!/usr/bin/env python3
"""Fails when a source file includes a header of a layer above its own.

The build already refuses includes named from the top of the tree that the
including library does not link; this check also sees includes written
relative to the including file ("../x.h"), which the compiler resolves on its
own. Usage: include_layers.py SOURCE_ROOT
"""
import os
import re
import sys

# Each layer, the folder it lives in, and the layers it may include.
LAYERS = [
    ("base", "base", {"base"}),
    ("platform", "platform", {"platform"}),
    ("capture", "capture", {"capture", "platform", "base"}),
    ("ext", "server/shadow/ext", {"ext", "capture", "base"}),
    ("logic", "server/shadow/Mac/logic", {"logic"}),
    ("subsystem", "server/shadow/Mac", {"subsystem", "logic", "ext", "capture", "platform", "base"}),
    ("cli", "server/cli", {"cli", "ext", "base"}),
    ("app", "app", {"app", "platform"}),
]
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def layer_of(path):
    # The longest folder wins: logic lies inside the subsystem's folder.
    best = None
    for name, folder, _ in LAYERS:
        if path == folder or path.startswith(folder + "/"):
            if best is None or len(folder) > len(best[1]):
                best = (name, folder)
    return best[0] if best else None


def resolve(root, including, name):
    """The header an include names, as a path from the root; None when it is
    not one of ours (a system or generated header)."""
    here = os.path.dirname(including)
    bases = [here, ""]
    if layer_of(including) == "subsystem":
        bases.append("server/shadow/Mac")
    if layer_of(including) == "logic":
        bases.append("server/shadow/Mac/logic")
    for base in bases:
        candidate = os.path.normpath(os.path.join(base, name))
        if os.path.isfile(os.path.join(root, candidate)):
            return candidate
    return None


def violations(root):
    allowed = {name: deps for name, _, deps in LAYERS}
    for name, folder, _ in LAYERS:
        for dirpath, _, files in os.walk(os.path.join(root, folder)):
            for f in files:
                if not f.endswith((".cpp", ".h", ".c")):
                    continue
                path = os.path.relpath(os.path.join(dirpath, f), root)
                own = layer_of(path)
                if own != name:
                    continue
                with open(os.path.join(root, path), encoding="utf-8") as src:
                    text = src.read()
                for included in INCLUDE.findall(text):
                    target = resolve(root, path, included)
                    if target is None:
                        continue
                    layer = layer_of(target)
                    if layer and layer not in allowed[own]:
                        yield f'{path}: "{included}" is in {layer}, above or beside {own}'


def main():
    found = list(violations(sys.argv[1]))
    for line in found:
        print(line)
    print(f"{len(found)} include(s) across layers")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
