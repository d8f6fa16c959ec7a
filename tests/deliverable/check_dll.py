#!/usr/bin/env python3
"""Checks the i686 Velk_ux1.dll we ship by reading its PE file directly.

    check_dll.py DLL              the checks below; exit status 1 if any fails
    check_dll.py --seeded DLL     DLL must pass, and copies of it with one fault
                                  each (bytes changed in memory) must fail the
                                  check meant to catch that fault

What is checked: the machine is i386 (0x14c) and the file is a DLL; the exports are
exactly FinishVelkDLL, SetupVelkDLL and WEP, undecorated; the imported libraries are
exactly GDI32, KERNEL32, MSVCRT and USER32 (names compared case-insensitively); the
five dialogs, the menu and the six bitmaps are named resources of their types; a
string table in language 1041 holds "VYT-TK17 Module Version 2.10"; the ICO_* bitmaps
are 26x24 and the BMP_* bitmaps 64x46, 4 bits per pixel (16 colours).
"""
import struct
import sys

MACHINE_I386 = 0x14C
FILE_DLL = 0x2000
RT_BITMAP, RT_MENU, RT_DIALOG, RT_STRING = 2, 4, 5, 6

EXPORTS = ["FinishVelkDLL", "SetupVelkDLL", "WEP"]
IMPORTS = ["GDI32.DLL", "KERNEL32.DLL", "MSVCRT.DLL", "USER32.DLL"]
DIALOGS = ["TK17_DEVSEL", "TK17_ABOUT", "TK17_IN", "TK17_DI", "TK17_DO"]
MENUS = ["UX1_MENU"]
BITMAPS = ["BMP_TK17", "BMP_TK17DI", "BMP_TK17DO", "ICO_TK17AD", "ICO_TK17DI", "ICO_TK17DO"]
STRING_LANGUAGE = 1041
VERSION_STRING = "VYT-TK17 Module Version 2.10"
BITMAP_SIZES = {"ICO_": (26, 24), "BMP_": (64, 46)}
BITS_PER_PIXEL = 4


class BadFile(Exception):
    pass


class Pe:
    """The parts of a PE file the checks read; every field keeps its file offset
    (the seeded faults of --seeded are written there)."""

    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise BadFile("no MZ header")
        pe = self.u32(0x3C)
        if data[pe:pe + 4] != b"PE\0\0":
            raise BadFile("no PE signature")
        coff = pe + 4
        self.machine_at = coff
        self.machine = self.u16(coff)
        sections = self.u16(coff + 2)
        optional_size = self.u16(coff + 16)
        self.characteristics_at = coff + 18
        self.characteristics = self.u16(coff + 18)
        opt = coff + 20
        magic = self.u16(opt)
        if magic == 0x10B:
            directories = opt + 96
        elif magic == 0x20B:
            directories = opt + 112
        else:
            raise BadFile("optional header magic 0x%x" % magic)
        count = self.u32(directories - 4)
        self.directories = [struct.unpack_from("<II", data, directories + 8 * i) for i in range(count)]
        self.sections = []
        for i in range(sections):
            at = opt + optional_size + 40 * i
            vsize, va, raw_size, raw_at = struct.unpack_from("<IIII", data, at + 8)
            self.sections.append((va, max(vsize, raw_size), raw_at, raw_size))

    def u16(self, at):
        return struct.unpack_from("<H", self.data, at)[0]

    def u32(self, at):
        return struct.unpack_from("<I", self.data, at)[0]

    def offset(self, rva):
        for va, size, raw_at, raw_size in self.sections:
            if va <= rva < va + size and rva - va < raw_size:
                return raw_at + rva - va
        raise BadFile("RVA 0x%x is in no section's file data" % rva)

    def directory(self, index):
        """(file offset, size) of a data directory, or None when it is empty."""
        if index >= len(self.directories) or self.directories[index][0] == 0:
            return None
        rva, size = self.directories[index]
        return self.offset(rva), size

    def ascii(self, rva):
        """(text, file offset) of a NUL-terminated name."""
        at = self.offset(rva)
        end = self.data.index(b"\0", at)
        return self.data[at:end].decode("latin-1"), at

    def exports(self):
        """[(name, file offset)] of the export name table."""
        d = self.directory(0)
        if d is None:
            return []
        at = d[0]
        names, table = self.u32(at + 24), self.u32(at + 32)
        return [self.ascii(self.u32(self.offset(table) + 4 * i)) for i in range(names)]

    def imports(self):
        """[(library name, file offset)] of the import descriptors."""
        d = self.directory(1)
        out = []
        if d is None:
            return out
        at = d[0]
        while any(self.data[at:at + 20]):
            out.append(self.ascii(self.u32(at + 12)))
            at += 20
        return out

    def resources(self):
        """Every resource as a dict: type, name, language (ids as int, names as str),
        data (file offset), size, and the file offsets of the type's id, the type's
        directory of names, the name's text and the language's id."""
        d = self.directory(2)
        if d is None:
            return []
        base = d[0]

        def entries(at):
            named, ids = self.u16(at + 12), self.u16(at + 14)
            for i in range(named + ids):
                e = at + 16 + 8 * i
                key, target = self.u32(e), self.u32(e + 4)
                if key & 0x80000000:
                    s = base + (key & 0x7FFFFFFF)
                    n = self.u16(s)
                    label, label_at = self.data[s + 2:s + 2 + 2 * n].decode("utf-16-le"), s + 2
                else:
                    label, label_at = key & 0xFFFF, e
                yield label, label_at, target

        out = []
        for rtype, type_at, t in entries(base):
            if not t & 0x80000000:
                raise BadFile("resource type %r is not a directory" % (rtype,))
            names_at = base + (t & 0x7FFFFFFF)
            for name, name_at, n in entries(names_at):
                if not n & 0x80000000:
                    raise BadFile("resource %r is not a directory" % (name,))
                for lang, lang_at, leaf in entries(base + (n & 0x7FFFFFFF)):
                    if leaf & 0x80000000:
                        raise BadFile("resource %r has a fourth level" % (name,))
                    rva, size = self.u32(base + leaf), self.u32(base + leaf + 4)
                    out.append({"type": rtype, "name": name, "lang": lang, "data": self.offset(rva),
                                "size": size, "type_at": type_at, "names_at": names_at, "name_at": name_at,
                                "lang_at": lang_at})
        return out

    def strings(self, resource):
        """The sixteen strings of a string table block."""
        at, end, out = resource["data"], resource["data"] + resource["size"], []
        while at + 2 <= end and len(out) < 16:
            n = self.u16(at)
            out.append(self.data[at + 2:at + 2 + 2 * n].decode("utf-16-le"))
            at += 2 + 2 * n
        return out


def run_checks(data):
    """[(key, passed, description)] for the file's bytes."""
    results = []

    def check(key, passed, description):
        results.append((key, bool(passed), description))

    try:
        pe = Pe(data)
    except (BadFile, struct.error, ValueError) as e:
        check("pe", False, "a PE file (%s)" % e)
        return results
    check("machine", pe.machine == MACHINE_I386, "machine is i386 (got 0x%x)" % pe.machine)
    check("dll", pe.characteristics & FILE_DLL, "the file is a DLL (characteristics 0x%x)" % pe.characteristics)
    try:
        exports = sorted(name for name, _ in pe.exports())
        check("exports", exports == EXPORTS,
              "exports are exactly %s (got: %s)" % (" ".join(EXPORTS), " ".join(exports)))
        imports = sorted(name.upper() for name, _ in pe.imports())
        check("imports", imports == IMPORTS,
              "imports only %s (got: %s)" % (" ".join(IMPORTS), " ".join(imports)))
        resources = pe.resources()
    except (BadFile, struct.error, ValueError, UnicodeDecodeError) as e:
        check("pe", False, "exports, imports and resources readable (%s)" % e)
        return results

    def named(rtype, name):
        return [r for r in resources if r["type"] == rtype and r["name"] == name]

    for kind, rtype, names in (("dialog", RT_DIALOG, DIALOGS), ("menu", RT_MENU, MENUS),
                               ("bitmap", RT_BITMAP, BITMAPS)):
        for name in names:
            check("resource " + name, named(rtype, name), "%s %s is a resource" % (kind, name))
    tables = [r for r in resources if r["type"] == RT_STRING and r["lang"] == STRING_LANGUAGE]
    check("string table", any(VERSION_STRING in pe.strings(t) for t in tables),
          'a string table in language %d holds "%s"' % (STRING_LANGUAGE, VERSION_STRING))
    for name in BITMAPS:
        width, height = BITMAP_SIZES[name[:4]]
        found = named(RT_BITMAP, name)
        got = [struct.unpack_from("<IiiHH", data, r["data"]) for r in found if r["size"] >= 16]
        check("bitmap " + name, got and all(g == (40, width, height, 1, BITS_PER_PIXEL) for g in got),
              "bitmap %s: BITMAPINFOHEADER %dx%d, %d bits per pixel (got: %s)" %
              (name, width, height, BITS_PER_PIXEL,
               ", ".join("size %d %dx%d planes %d bits %d" % g for g in got) or "none"))
    return results


def report(path, results):
    for key, passed, description in results:
        print("check_dll: %s: %s" % ("ok" if passed else "FAIL", description))
    failed = [key for key, passed, _ in results if not passed]
    if failed:
        print("check_dll: %s FAILED (%s)" % (path, ", ".join(failed)))
    return not failed


# --seeded: faults written into copies of a good DLL, each with the check that must catch it.

def put16(at, value):
    return lambda b: struct.pack_into("<H", b, at, value)


def put32(at, value):
    return lambda b: struct.pack_into("<I", b, at, value)


def put_bytes(at, text):
    def patch(b):
        b[at:at + len(text)] = text
    return patch


def seeded_faults(data):
    """[(description, patch, key or keys of the checks that must fail, None for
    none)]; a fault whose target
    cannot be found in the file is an error of the self-test."""
    pe = Pe(data)
    faults = [
        ("machine x86_64 (0x8664)", put16(pe.machine_at, 0x8664), "machine"),
        ("the DLL flag cleared", put16(pe.characteristics_at, pe.characteristics & ~FILE_DLL), "dll"),
    ]
    exports = dict(pe.exports())
    faults += [
        ("export WEP renamed WEQ", put_bytes(exports["WEP"] + 2, b"Q"), "exports"),
        ("export SetupVelkDLL renamed setupVelkDLL", put_bytes(exports["SetupVelkDLL"], b"s"), "exports"),
    ]
    imports = {name.upper(): at for name, at in pe.imports()}
    faults.append(("import USER32.DLL renamed USER33.DLL",
                   put_bytes(imports["USER32.DLL"] + 5, b"3"), "imports"))
    resources = pe.resources()

    def one(rtype, name):
        found = [r for r in resources if r["type"] == rtype and r["name"] == name]
        if len(found) != 1:
            raise BadFile("cannot seed: %d resources %s of type %d" % (len(found), name, rtype))
        return found[0]

    for rtype, names in ((RT_DIALOG, DIALOGS), (RT_MENU, MENUS), (RT_BITMAP, BITMAPS)):
        for name in names:
            r = one(rtype, name)
            last = r["name_at"] + 2 * (len(name) - 1)
            # A bitmap that is not there has no header either.
            keys = ("resource " + name,) + (("bitmap " + name,) if rtype == RT_BITMAP else ())
            faults.append(("resource %s renamed (last letter +1)" % name, put16(last, ord(name[-1]) + 1), keys))
    # The dialogs' directory one named entry short: the last one is gone.
    dialogs = [r for r in resources if r["type"] == RT_DIALOG and isinstance(r["name"], str)]
    if not dialogs:
        raise BadFile("cannot seed: no named dialog")
    at = dialogs[0]["names_at"] + 12
    faults.append(("the dialogs' last named entry dropped", put16(at, pe.u16(at) - 1),
                   "resource " + dialogs[-1]["name"]))
    # The menu filed under another resource type (RT_ACCELERATOR).
    faults.append(("the menu's type changed to 9", put32(one(RT_MENU, MENUS[0])["type_at"], 9), "resource UX1_MENU"))
    tables = [r for r in resources if r["type"] == RT_STRING and r["lang"] == STRING_LANGUAGE
              and VERSION_STRING in pe.strings(r)]
    if len(tables) != 1:
        raise BadFile("cannot seed: %d string tables hold the version" % len(tables))
    table = tables[0]
    text = VERSION_STRING.encode("utf-16-le")
    at = data.index(text, table["data"], table["data"] + table["size"])
    faults += [
        ("the version string says 2.11", put16(at + len(text) - 2, ord("1")), "string table"),
        ("the string table's language 1033", put32(table["lang_at"], 1033), "string table"),
    ]
    for name, field, value in (("ICO_TK17DI", 4, 27), ("BMP_TK17", 8, 45), ("BMP_TK17DI", 14, 8),
                               ("ICO_TK17AD", 8, -24)):
        r = one(RT_BITMAP, name)
        fmt = "<H" if field == 14 else "<i"
        faults.append(("bitmap %s: header field at +%d set to %d" % (name, field, value),
                       (lambda at, f, v: lambda b: struct.pack_into(f, b, at, v))(r["data"] + field, fmt, value),
                       "bitmap " + name))
    faults.append(("the file cut after 1024 bytes", lambda b: b.__delitem__(slice(1024, None)), "pe"))
    # Not faults: the checks must not be stricter than the rules.
    kernel = imports["KERNEL32.DLL"]
    lower = data[kernel:kernel + len("KERNEL32.DLL")].lower()
    faults.append(("KERNEL32.DLL written in lower case (no fault)", put_bytes(kernel, lower), None))
    return faults


def self_test(path, data):
    good = run_checks(data)
    if not report(path, good):
        print("check_dll: --seeded needs a DLL that passes")
        return False
    try:
        faults = seeded_faults(data)
    except (BadFile, KeyError, ValueError) as e:
        print("check_dll: FAIL: cannot seed the faults: %s" % e)
        return False
    missed = 0
    for description, patch, key in faults:
        copy = bytearray(data)
        patch(copy)
        if copy == data:
            print("check_dll: FAIL: seeded %s changed no byte" % description)
            missed += 1
            continue
        failed = [k for k, passed, _ in run_checks(bytes(copy)) if not passed]
        expected = [key] if isinstance(key, str) else list(key or ())
        if failed == expected:
            print("check_dll: ok: seeded %s: %s" % (description, "caught by %s" % expected if key else "passes"))
        else:
            print("check_dll: FAIL: seeded %s: failed checks %s, expected exactly %s" % (description, failed, expected))
            missed += 1
    print("check_dll: %d seeded copies, %d not judged as expected" % (len(faults), missed))
    return missed == 0


def main(argv):
    args = argv[1:]
    seeded = bool(args) and args[0] == "--seeded"
    if seeded:
        args = args[1:]
    if len(args) != 1:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    path = args[0]
    try:
        with open(path, "rb") as f:
            data = f.read()
    except OSError as e:
        print("check_dll: FAIL: %s" % e)
        return 1
    ok = self_test(path, data) if seeded else report(path, run_checks(data))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
