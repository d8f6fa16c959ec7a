#!/usr/bin/env python3
"""Checks the user's guide (docs/guide/ja.html, en.html) against the extension.

- Every warning the extension can show (caption and text, read from the calls of
  ShowWarning, StopAndWarn, ReportDriverFailure and MessageBoxA in extension/) is a row
  of the guide's warning table, caption and text exactly as shown ("%d" and the like
  written as <var>n</var>, a line feed as <br>), and the table has no other rows.
- Every Japanese text in the extension's code is such a warning or listed below as
  shown elsewhere (so a message added another way is not missed).
- Every dialog caption, every visible control's label and every menu item of the
  resource script is named in both guides; both guides have the same sections and
  pictures, and every picture exists.

Usage: check_guide.py SOURCE_DIR    (exit status 1 and the reasons when something is off)
"""
import html.parser
import os
import re
import sys

# Japanese texts of the extension's code that are not warnings, and where the guide
# covers them.
NOT_WARNINGS = {
    "ﾁｬﾝﾈﾙ %u": "default channel name, in the analog setup dialog's チャンネル名 row",
}
# Calls that show a warning: name -> (caption argument, text argument), by position.
SHOWING_CALLS = {"ShowWarning": (0, 1), "MessageBoxA": (2, 1)}
NUMBER = "\x00n"  # what a printf conversion or a <var> becomes

STRING = r'"(?:[^"\\\n]|\\.)*"'


def decode_literal(token):
    body = token[1:-1]
    return re.sub(r'\\(.)', lambda m: {"n": "\n", "r": "\r", "t": "\t"}.get(m.group(1), m.group(1)), body)


def concat_literals(expr):
    """The value of an expression made only of adjacent string literals, else None."""
    expr = expr.strip()
    if not re.fullmatch(r'(?:\s*' + STRING + r')+\s*', expr):
        return None
    return "".join(decode_literal(t) for t in re.findall(STRING, expr))


def strip_comments(text):
    # Keeps string literals, drops // and /* */ comments (same length is not needed).
    out = []
    for m in re.finditer(STRING + r"|//[^\n]*|/\*.*?\*/|'(?:[^'\\]|\\.)*'|.", text, re.S):
        t = m.group(0)
        out.append("" if t.startswith("//") or t.startswith("/*") else t)
    return "".join(out)


def split_args(text, start):
    """Arguments of the call whose '(' is at text[start]; returns (args, end)."""
    depth, args, current, i = 0, [], [], start
    while i < len(text):
        m = re.compile(STRING).match(text, i)
        if m:
            current.append(m.group(0))
            i = m.end()
            continue
        c = text[i]
        if c in "([{":
            depth += 1
            if depth > 1:
                current.append(c)
        elif c in ")]}":
            depth -= 1
            if depth == 0:
                args.append("".join(current).strip())
                return args, i + 1
            current.append(c)
        elif c == "," and depth == 1:
            args.append("".join(current).strip())
            current = []
        else:
            current.append(c)
        i += 1
    raise ValueError("unbalanced call")


def normalise(text):
    text = re.sub(r"%[-+ #0-9.]*[dux]", NUMBER, text)
    text = text.replace("\r\n", "\n").replace("\r", "\n")
    return "\n".join(line.strip() for line in text.strip("\n").split("\n"))


class Sources:
    def __init__(self, root):
        self.files = {}
        for folder, _, names in os.walk(os.path.join(root, "extension")):
            for name in names:
                if name.endswith((".cpp", ".h")):
                    path = os.path.join(folder, name)
                    with open(path, encoding="utf-8") as f:
                        self.files[os.path.relpath(path, root)] = strip_comments(f.read())
        self.constants = {}
        for text in self.files.values():
            for m in re.finditer(r'const\s+char\s+(\w+)\s*\[\s*\]\s*=\s*((?:\s*' + STRING + r')+)\s*;', text):
                self.constants[m.group(1)] = concat_literals(m.group(2))
        # Texts handed back through an out-parameter: *name = value;
        self.out_values = {}
        for text in self.files.values():
            for m in re.finditer(r'\*\s*(\w+)\s*=\s*((?:\s*' + STRING + r')+|\w+)\s*;', text):
                self.out_values.setdefault(m.group(1), []).append(m.group(2))

    @staticmethod
    def enclosing_function(text, pos):
        """(name, parameter names) of the function definition that holds pos."""
        best = None
        for m in re.finditer(r'^[A-Za-z_][\w:<>,\s\*&]*?\b(\w+)\s*\(([^)]*)\)\s*(?:const\s*)?\{', text, re.M):
            if m.start() > pos:
                break
            best = m
        if best is None:
            return None, []
        params = [re.findall(r'(\w+)\s*$', p.strip())[0] if p.strip() else "" for p in best.group(2).split(",")]
        return best.group(1), params

    def resolve(self, expr, text, pos, params):
        """Values an argument can take: a list of ('text', value) or ('param', index)."""
        value = concat_literals(expr)
        if value is not None:
            return [("text", value)]
        name = expr.strip()
        if not re.fullmatch(r"\w+", name):
            raise ValueError("cannot read the argument %r" % expr)
        if name in params:
            return [("param", params.index(name))]
        if name in self.constants:
            return [("text", self.constants[name])]
        # A buffer filled by snprintf before the call, in the same function.
        fills = [m for m in re.finditer(r'snprintf\s*\(\s*' + name + r'\s*,', text) if m.start() < pos]
        if fills:
            last = fills[-1]
            args, _ = split_args(text, last.start() + last.group(0).index("("))
            return self.resolve(args[2], text, pos, params)
        if name in self.out_values:
            out = []
            for v in self.out_values[name]:
                if v not in ("nullptr", "NULL", "0"):
                    out += self.resolve(v, text, pos, params)
            return out
        raise ValueError("cannot find the value of %r" % name)

    def warnings(self):
        """Set of (caption, text) pairs the extension can show."""
        # name -> (caption, text): each an argument position, or ("fixed", value).
        calls = dict(SHOWING_CALLS)
        found = set()
        changed = True
        while changed:
            changed = False
            for path, text in sorted(self.files.items()):
                for name, (cspec, tspec) in list(calls.items()):
                    for m in re.finditer(r'\b' + name + r'\s*\(', text):
                        before = text[max(0, m.start() - 40):m.start()]
                        if re.search(r'(void|int32_t|int|LRESULT|BOOL)\s+$', before):
                            continue  # a definition or declaration, not a call
                        args, _ = split_args(text, m.end() - 1)
                        func, params = self.enclosing_function(text, m.start())

                        def values(where):
                            if isinstance(where, tuple):
                                return [("text", where[1])]
                            if where >= len(args):
                                raise ValueError("%s: call of %s with too few arguments" % (path, name))
                            return self.resolve(args[where], text, m.start(), params)

                        for c in values(cspec):
                            for t in values(tspec):
                                if c[0] == "text" and t[0] == "text":
                                    found.add((c[1], t[1]))
                                elif func and func not in calls:
                                    # A helper that forwards its parameters: its calls show warnings.
                                    calls[func] = (c[1] if c[0] == "param" else ("fixed", c[1]),
                                                   t[1] if t[0] == "param" else ("fixed", t[1]))
                                    changed = True
        return found

    def japanese_literals(self):
        out = set()
        for path, text in self.files.items():
            if path.endswith(".h"):
                continue
            for m in re.finditer(r'(?:' + STRING + r'\s*)+', text):
                v = concat_literals(m.group(0))
                if any(ord(ch) > 0x7F for ch in v) and not text[max(0, m.start() - 12):m.start()].rstrip().endswith("#include"):
                    out.add(v)
        return out


class GuidePage(html.parser.HTMLParser):
    """The warning table's rows (cell texts), section ids, image sources, all text."""

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.rows, self.ids, self.images, self.text = [], [], [], []
        self._table_depth = 0
        self._in_warnings = False
        self._row = None
        self._cell = None
        self._var = False

    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        if "id" in a and tag in ("h2", "h3"):
            self.ids.append(a["id"])
        if tag == "img":
            self.images.append(a.get("src", ""))
        if tag == "table" and a.get("id") == "warning-table":
            self._in_warnings = True
        if not self._in_warnings:
            return
        if tag == "tr":
            self._row = []
        elif tag in ("td", "th") and self._row is not None:
            self._cell = []
        elif tag == "br" and self._cell is not None:
            self._cell.append("\n")
        elif tag == "var" and self._cell is not None:
            self._var = True
            self._cell.append(NUMBER)

    def handle_endtag(self, tag):
        if not self._in_warnings:
            return
        if tag == "var":
            self._var = False
        elif tag in ("td", "th") and self._cell is not None:
            self._row.append(normalise("".join(self._cell)))
            self._cell = None
        elif tag == "tr" and self._row is not None:
            self.rows.append(self._row)
            self._row = None
        elif tag == "table":
            self._in_warnings = False

    def handle_data(self, data):
        self.text.append(data)
        if self._cell is not None and not self._var:
            self._cell.append(re.sub(r"\s*\n\s*", " ", data) if "\n" in data else data)


def resource_texts(root):
    """Dialog captions, visible control labels and menu items of the resource script."""
    with open(os.path.join(root, "extension", "resources", "Velk_ux1.rc"), encoding="utf-8") as f:
        rc = f.read()
    texts = set(re.findall(r'^CAPTION\s+"([^"]*)"', rc, re.M))
    for m in re.finditer(r'^\s+(LTEXT|RTEXT|CTEXT|GROUPBOX|PUSHBUTTON|DEFPUSHBUTTON|AUTORADIOBUTTON|MENUITEM)\s+"([^"]*)"(.*)$',
                         rc, re.M):
        kind, label, rest = m.groups()
        if "NOT WS_VISIBLE" in rest:
            continue
        label = label.replace("&", "").strip()
        label = re.sub(r"\s*[:：]$", "", label).strip()
        if label and label != "Static" and not re.fullmatch(r"\d+", label):
            texts.add(label)
    return texts


def main():
    root = sys.argv[1]
    problems = []
    sources = Sources(root)
    warnings = {(normalise(c), normalise(t)) for c, t in sources.warnings()}
    if len(warnings) < 10:
        problems.append("only %d warnings found in extension/: the reading of the sources is broken" % len(warnings))
    warning_texts = {t for _, t in warnings} | {c for c, _ in warnings}
    for literal in sorted(sources.japanese_literals()):
        if normalise(literal) not in warning_texts and literal not in NOT_WARNINGS:
            problems.append("extension text %r is neither a warning the guide lists nor known as shown elsewhere"
                            % literal)

    pages = {}
    for lang in ("ja", "en"):
        page = GuidePage()
        with open(os.path.join(root, "docs", "guide", lang + ".html"), encoding="utf-8") as f:
            page.feed(f.read())
        pages[lang] = page
        rows = {(r[0], r[1]) for r in page.rows[1:] if len(r) >= 4}
        if len(page.rows) - 1 != len(rows):
            problems.append("%s.html: the warning table has a row without four cells or a row twice" % lang)
        for caption, text in sorted(warnings - rows):
            problems.append("%s.html: warning missing from the table: [%s] %r" % (lang, caption, text.replace(NUMBER, "<n>")))
        for caption, text in sorted(rows - warnings):
            problems.append("%s.html: the table lists a warning the extension does not show: [%s] %r"
                            % (lang, caption, text.replace(NUMBER, "<n>")))
        all_text = re.sub(r"[ \t\r\n]+", " ", "".join(page.text))
        for label in sorted(resource_texts(root)):
            if label not in all_text:
                problems.append("%s.html: the dialog text or menu item %r is not explained" % (lang, label))
        for src in page.images:
            if not os.path.isfile(os.path.join(root, "docs", "guide", src)):
                problems.append("%s.html: picture %s does not exist" % (lang, src))
    if pages["ja"].ids != pages["en"].ids:
        problems.append("ja.html and en.html differ in their sections: %s / %s" % (pages["ja"].ids, pages["en"].ids))
    if sorted(pages["ja"].images) != sorted(pages["en"].images):
        problems.append("ja.html and en.html show different pictures")
    for shot in ("devsel", "analog_setup", "digital_in_setup", "digital_out_setup", "about"):
        if "../screenshots/%s.png" % shot not in pages["ja"].images:
            problems.append("the guide does not show the dialog picture %s.png" % shot)

    for p in problems:
        print("check_guide: " + p)
    print("check_guide: %d warnings, %d dialog texts checked in both languages: %s"
          % (len(warnings), len(resource_texts(root)), "FAILED" if problems else "ok"))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
