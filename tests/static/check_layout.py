#!/usr/bin/env python3
"""Checks the source tree's layout rules and names every break of them:

1. Includes run down the floors: a product folder includes only its own headers and those of
   the folders below it (tools, sfx, setup, ui, steps, unzip, util, base, res, top to bottom).
2. No two source files of one tool call each other's functions in a circle (tools/<tool>/*.cpp,
   counting the functions each file defines outside any class and without `static`).

Usage: check_layout.py [SOURCE_ROOT]; exits 1 when a rule is broken.
"""
import os
import re
import sys

FLOORS = ["tools", "sfx", "setup", "ui", "steps", "unzip", "util", "base", "res"]
SOURCE_ENDINGS = (".cpp", ".h", ".c", ".rc")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def floor_of(path):
    top = path.split("/", 1)[0]
    return FLOORS.index(top) if top in FLOORS else None


def source_files(root, folder):
    for base, _, names in os.walk(os.path.join(root, folder)):
        for name in sorted(names):
            if name.endswith(SOURCE_ENDINGS):
                yield os.path.relpath(os.path.join(base, name), root).replace(os.sep, "/")


def include_breaks(root):
    breaks = []
    for folder in FLOORS:
        for path in source_files(root, folder):
            with open(os.path.join(root, path), encoding="latin-1") as file:
                text = file.read()
            for included in INCLUDE.findall(text):
                target = floor_of(included)
                if target is not None and target < floor_of(path):
                    breaks.append(f"{path} includes {included}: {included.split('/')[0]}/ stands above "
                                  f"{path.split('/')[0]}/")
    return breaks


DEFINITION = re.compile(r'^(?!static\b)(?:[A-Za-z_][\w:<>,*& ]*?[\s*&])([A-Z]\w*)\s*\([^;]*$', re.M)


def strip_comments_and_strings(text):
    text = re.sub(r'//[^\n]*', '', text)
    text = re.sub(r'/\*.*?\*/', '', text, flags=re.S)
    return re.sub(r'"(?:\\.|[^"\\])*"', '""', text)


def call_circles(root, folder):
    files = {}
    for path in source_files(root, folder):
        if path.endswith(".cpp"):
            with open(os.path.join(root, path), encoding="latin-1") as file:
                files[path] = strip_comments_and_strings(file.read())
    defined = {path: set(DEFINITION.findall(text)) - {"main"} for path, text in files.items()}
    calls = {}
    for path, text in files.items():
        calls[path] = set()
        for other, names in defined.items():
            if other != path and any(re.search(r'\b' + name + r'\s*\(', text) for name in names):
                calls[path].add(other)
    circles = []
    state = {}

    def visit(path, trail):
        state[path] = "open"
        for callee in sorted(calls[path]):
            if state.get(callee) == "open":
                circles.append(" -> ".join(trail[trail.index(callee):] + [callee]))
            elif callee not in state:
                visit(callee, trail + [callee])
        state[path] = "done"

    for path in sorted(files):
        if path not in state:
            visit(path, [path])
    return circles


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "..")
    problems = include_breaks(root)
    tools = os.path.join(root, "tools")
    for tool in sorted(os.listdir(tools)):
        if os.path.isdir(os.path.join(tools, tool)):
            problems += [f"calls in a circle: {circle}" for circle in call_circles(root, "tools/" + tool)]
    for problem in problems:
        print(problem)
    print(f"{len(problems)} break(s) of the layout rules")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
