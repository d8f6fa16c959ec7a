#!/usr/bin/env python3
"""The list of behaviour seen only under Wine against the tests that rely on it.

Every VELK_SEEN_UNDER_WINE("<id>") in tests/ must name an id that the conformance
kit's README.txt explains, and the README must name the test that carries the mark;
every id the README explains must still be marked somewhere.
"""
import os
import re
import sys


def marks(root):
    """(id, Fixture.Test) for every mark, the test being the TEST/TEST_F that encloses it."""
    found = []
    for folder, _, files in os.walk(os.path.join(root, "tests")):
        for name in files:
            if not name.endswith(".cpp"):
                continue
            with open(os.path.join(folder, name), encoding="utf-8") as f:
                text = f.read()
            tests = [(m.start(), m.group(1) + "." + m.group(2))
                     for m in re.finditer(r"^TEST(?:_F|_P)?\(\s*(\w+)\s*,\s*(\w+)\s*\)", text, re.M)]
            for m in re.finditer(r'VELK_SEEN_UNDER_WINE\("([^"]+)"\)', text):
                enclosing = [t for pos, t in tests if pos < m.start()]
                found.append((m.group(1), enclosing[-1] if enclosing else "?",
                              os.path.relpath(os.path.join(folder, name), root)))
    return found


def main():
    root = sys.argv[1]
    with open(os.path.join(root, "tools", "kit", "README.txt"), encoding="utf-8") as f:
        readme = f.read()
    section = readme.split("Behaviour seen only under Wine", 1)
    problems = []
    if len(section) != 2:
        problems.append("tools/kit/README.txt has no section 'Behaviour seen only under Wine'")
        section = ["", ""]
    listed = set(re.findall(r"^  ([a-z0-9-]+)\s*$", section[1], re.M))
    found = marks(root)
    flat = re.sub(r"\s+", "", section[1])
    for ident, test, where in found:
        if ident not in listed:
            problems.append("%s: %s is marked %r, which tools/kit/README.txt does not explain" % (where, test, ident))
        if test == "?" or test not in flat:
            problems.append("%s: tools/kit/README.txt does not name the test %s marked %r" % (where, test, ident))
    for ident in sorted(listed - {i for i, _, _ in found}):
        problems.append("tools/kit/README.txt explains %r, but no test is marked with it" % ident)
    for p in problems:
        print("check_known_differences: " + p)
    print("check_known_differences: %d marks, %d behaviours listed: %s"
          % (len(found), len(listed), "FAILED" if problems else "ok"))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
