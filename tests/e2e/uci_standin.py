#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""A stand-in for OpenWrt's `uci` command, for the package's first-boot
scripts: get, set, add, commit and batch over /etc/config/<package>,
with the extended syntax @type[index]. Unlike the real tool it writes each
change at once (commit only rewrites the file); like it, a rewritten file
holds every section and option in order, quoted, without comments.

Also a module: parse(text) gives [(type, name or None, [(kind, option,
value)])] of a file, for tests to compare."""

import os
import re
import shlex
import sys

CONFIG_DIR = os.environ.get("UCI_CONFIG_DIR", "/etc/config")
WORD = re.compile(r"""'([^']*)'|"([^"]*)"|(\S+)""")


def parse(text):
    sections = []
    for line in text.splitlines():
        words = [next(g for g in m.groups() if g is not None) for m in WORD.finditer(line)]
        if not words or words[0].startswith("#"):
            continue
        if words[0] == "config":
            sections.append([words[1], words[2] if len(words) > 2 else None, []])
        elif words[0] in ("option", "list") and sections:
            sections[-1][2].append((words[0], words[1], words[2] if len(words) > 2 else ""))
    return [tuple(s) for s in sections]


def render(sections):
    out = []
    for kind, name, options in sections:
        out.append(f"\nconfig {kind}" + (f" '{name}'" if name else ""))
        out.extend(f"\t{k} {o} '{v}'" for k, o, v in options)
    return "\n".join(out).lstrip("\n") + "\n"


class Package:
    def __init__(self, name):
        self.path = os.path.join(CONFIG_DIR, name)
        with open(self.path) as f:
            self.sections = [list(s) for s in parse(f.read())]

    def save(self):
        with open(self.path, "w") as f:
            f.write(render(self.sections))

    def find(self, ref):
        """The section that a name, a cfgNNNNNN id or @type[index] names."""
        at = re.fullmatch(r"@(\w+)\[(-?\d+)\]", ref)
        if at:
            typed = [s for s in self.sections if s[0] == at[1]]
            index = int(at[2])
            return typed[index] if -len(typed) <= index < len(typed) else None
        for number, section in enumerate(self.sections):
            if section[1] == ref or (section[1] is None and ref == f"cfg{number:06x}"):
                return section
        return None


def run(words, quiet):
    command, rest = words[0], words[1:]
    if command == "commit":
        return 0
    if command == "add":
        package = Package(rest[0])
        package.sections.append([rest[1], None, []])
        package.save()
        print(f"cfg{len(package.sections) - 1:06x}")
        return 0
    path, _, value = rest[0].partition("=")
    parts = path.split(".")
    package = Package(parts[0])
    section = package.find(parts[1]) if len(parts) > 1 else None
    if command == "get":
        if section is None:
            return 1
        if len(parts) == 2:
            print(section[0])
            return 0
        values = [v for _, o, v in section[2] if o == parts[2]]
        if not values:
            return 1
        print(" ".join(values))
        return 0
    if command == "set":
        if len(parts) == 2:
            if section is None:
                package.sections.append([value, parts[1], []])
            else:
                section[0] = value
        elif section is None:
            return 1
        else:
            section[2] = [e for e in section[2] if e[1] != parts[2]] + [("option", parts[2], value)]
        package.save()
        return 0
    if not quiet:
        print(f"uci: unknown command {command}", file=sys.stderr)
    return 1


def main(argv):
    quiet = "-q" in argv
    words = [w for w in argv if w != "-q"]
    if words and words[0] == "batch":
        status = 0
        for line in sys.stdin:
            if line.strip():
                status |= run(shlex.split(line), quiet)
        return status
    return run(words, quiet) if words else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
