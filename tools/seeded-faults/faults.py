#!/usr/bin/env python3
"""The fault list of tools/seeded-faults.sh: reading it and applying one fault.

  faults.py list FAULTS [PATTERN]      id, file, description (tab-separated) per fault,
                                       those matching PATTERN (a regular expression) only
  faults.py apply FAULTS ID ROOT       applies fault ID to ROOT/<file>; exit status 3 and
                                       the reason when its original text is not there
                                       exactly once
  faults.py check FAULTS ROOT          every fault's original text is in ROOT exactly once

The list's format is described at the top of faults.txt.
"""
import re
import sys
from pathlib import Path


class Fault:
    def __init__(self, fid, file, line):
        self.id, self.file, self.line = fid, file, line
        self.original, self.replacement, self.description = [], [], ""

    @property
    def old(self):
        return "\n".join(self.original)

    @property
    def new(self):
        return "\n".join(self.replacement)


def read_faults(path):
    faults, current = [], None
    for number, raw in enumerate(Path(path).read_text(encoding="utf-8").splitlines(), 1):
        where = f"{path}:{number}"
        if raw.startswith("#") or not raw.strip():
            continue
        header = re.fullmatch(r"\[([A-Za-z0-9_-]+)\]\s+(\S+)\s*", raw)
        if header:
            current = Fault(header[1], header[2], number)
            faults.append(current)
            continue
        if current is None or raw[0] not in "-+?" or (len(raw) > 1 and raw[1] != " "):
            sys.exit(f"{where}: expected '[ID] FILE', '- text', '+ text' or '? text'")
        text = raw[2:]
        if raw[0] == "-":
            current.original.append(text)
        elif raw[0] == "+":
            current.replacement.append(text)
        else:
            current.description = text
    seen = set()
    for f in faults:
        if f.id in seen:
            sys.exit(f"{path}:{f.line}: fault {f.id} listed twice")
        seen.add(f.id)
        if not f.original or not f.description or f.old == f.new:
            sys.exit(f"{path}:{f.line}: fault {f.id} needs an original, a different replacement and a description")
    return faults


def find(faults, fid):
    for f in faults:
        if f.id == fid:
            return f
    sys.exit(f"no fault {fid}")


def problem(fault, root):
    target = Path(root) / fault.file
    if not target.is_file():
        return f"stale: no file {fault.file}"
    count = target.read_bytes().decode("utf-8").count(fault.old)
    if count != 1:
        return f"stale: original text found {count} times in {fault.file}"
    return None


def main(argv):
    if len(argv) >= 3 and argv[1] == "list":
        pattern = re.compile(argv[3]) if len(argv) > 3 and argv[3] else None
        for f in read_faults(argv[2]):
            if pattern is None or pattern.search(f"{f.id} {f.file} {f.description}"):
                print(f"{f.id}\t{f.file}\t{f.description}")
        return 0
    if len(argv) == 5 and argv[1] == "apply":
        fault = find(read_faults(argv[2]), argv[3])
        reason = problem(fault, argv[4])
        if reason:
            print(reason)
            return 3
        target = Path(argv[4]) / fault.file
        text = target.read_bytes().decode("utf-8")
        # Bytes as they are: no newline translation on the way back.
        target.write_bytes(text.replace(fault.old, fault.new, 1).encode("utf-8"))
        return 0
    if len(argv) == 4 and argv[1] == "check":
        bad = 0
        for f in read_faults(argv[2]):
            reason = problem(f, argv[3])
            if reason:
                print(f"{f.id}: {reason}")
                bad += 1
        return 1 if bad else 0
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
