#!/usr/bin/env python3
"""Fails when a source file includes a header from a layer above its own.

    tools/check-layers.py [--table] [ROOT]

Every #include "..." of every .h/.cpp file (tracked by git, or found on disk
outside build folders) is resolved to the repository file it names, the way
the build's include paths do: first beside the including file, then relative
to engine/ (engine headers are written "core/model.h", "io/zip.h"), then by
bare name in the folders whose headers are included that way (support/,
the folders of convert/ and app/, ui/, tests/common/). Includes that name no file of the tree
(Qt's, generated ui_*.h and *.moc) are left alone. Each include whose target
layer the including layer may not use is listed; the exit status is then 1.
Layers that do not exist (yet) are simply not met.
"""

import os
import re
import subprocess
import sys

# Who may use whom, directly; a layer may also use whatever those use, and
# itself. Lowest first.
DIRECT = {
    "support": [],
    "engine/io": ["support"],
    "engine/core": ["engine/io"],
    "engine/crypto": ["engine/io"],
    "engine/formula": ["engine/core", "engine/io"],
    "engine/xls": ["engine/io", "engine/core", "engine/crypto", "engine/formula"],
    "engine/xlsx": ["engine/io", "engine/core", "engine/crypto", "engine/formula"],
    "engine/open": ["engine/xls", "engine/xlsx"],
    "convert/seam": [],
    "convert/batch": ["convert/seam", "support"],
    "convert/builtin": ["convert/seam", "engine/open"],
    "ui": ["convert/batch"],
    "app/common": [],
    "app/cli": ["convert/batch", "convert/builtin", "app/common"],
    "app": ["ui", "convert/builtin", "app/common"],
}
# Folders over every layer: they may include anything.
FREE = ["tools", "bench", "fuzz", "tests"]
# Folders whose headers are included by bare name, lowest layer first.
BARE_NAME_DIRS = ["support", "convert/seam", "convert/batch", "convert/builtin", "ui",
                  "app/common", "app/cli", "app", "tests/common", "tests/convert"]
ENGINE_ROOT = "engine"
SOURCE_SUFFIXES = (".h", ".cpp")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def allowed_table():
    table = {}
    for layer in DIRECT:
        seen, todo = {layer}, list(DIRECT[layer])
        while todo:
            lower = todo.pop()
            if lower not in seen:
                seen.add(lower)
                todo.extend(DIRECT[lower])
        table[layer] = seen
    return table


def layer_of(path):
    """The layer (or free folder) a repository path belongs to, or None."""
    best = None
    for name in list(DIRECT) + FREE:
        if path == name or path.startswith(name + "/"):
            if best is None or len(name) > len(best):
                best = name
    return best


def source_files(root):
    try:
        out = subprocess.run(
            ["git", "-C", root, "ls-files", "--cached", "--others", "--exclude-standard"],
            check=True, capture_output=True, text=True).stdout.splitlines()
        files = [f for f in out if os.path.isfile(os.path.join(root, f))]
    except (OSError, subprocess.CalledProcessError):
        files = []
        for top, dirs, names in os.walk(root):
            dirs[:] = [d for d in dirs if not d.startswith((".", "build"))]
            rel = os.path.relpath(top, root)
            files += [os.path.normpath(os.path.join(rel, n)) for n in names]
    return sorted(f for f in files if f.endswith(SOURCE_SUFFIXES)
                  and not f.startswith("fuzz/seeds/"))


def resolve(root, including, name, files):
    """The repository path that `#include "name"` in `including` names."""
    candidates = [os.path.join(os.path.dirname(including), name),
                  os.path.join(ENGINE_ROOT, name)]
    if "/" not in name:
        candidates += [os.path.join(d, name) for d in BARE_NAME_DIRS]
    for c in candidates:
        c = os.path.normpath(c)
        if c in files:
            return c
    return None


def main(argv):
    args = [a for a in argv[1:] if not a.startswith("--")]
    root = os.path.abspath(args[0] if args else os.path.join(os.path.dirname(__file__), ".."))
    table = allowed_table()
    if "--table" in argv:
        for layer, uses in table.items():
            print("%-15s may use: %s" % (layer, ", ".join(sorted(uses - {layer})) or "-"))
        print("%-15s may use: anything" % "/".join(FREE))
        return 0

    files = source_files(root)
    known = set(files)
    problems = []
    checked = 0
    for path in files:
        layer = layer_of(path)
        if layer is None:
            problems.append("%s: in no layer (add its folder to tools/check-layers.py)" % path)
            continue
        if layer in FREE:
            continue
        with open(os.path.join(root, path), encoding="utf-8", errors="replace") as f:
            for number, line in enumerate(f, 1):
                m = INCLUDE.match(line)
                if not m:
                    continue
                target = resolve(root, path, m.group(1), known)
                if target is None:
                    continue
                checked += 1
                target_layer = layer_of(target)
                if target_layer not in table[layer]:
                    problems.append('%s:%d: includes "%s" (%s), but %s may not use %s'
                                    % (path, number, m.group(1), target, layer,
                                       target_layer or "a file in no layer"))
    for p in problems:
        print(p)
    if problems:
        print("check-layers: %d include(s) against the layering (tools/check-layers.py --table)"
              % len(problems))
        return 1
    print("check-layers: %d includes in %d files keep to the layering" % (checked, len(files)))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
