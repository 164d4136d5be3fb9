#!/usr/bin/env python3
"""Checks that every #include of the library, the companion and the tool
follows the allowed edges of docs/architecture.md's "Layout" section, that
the companion is called only from transport/, and that the map is true:
it names every top-level folder of the tree and only paths that exist.

The rules are read from docs/architecture.md itself, so the map and this
check cannot disagree:
- the folder table: a source in a folder may include headers of its own
  folder and of the folders (or single headers) its "may include" cell
  names in backquotes;
- the narrower-header table: a header listed there may be included from
  its own folder and from the folders its "only from" cell names;
- a header under a posix/ or win32/ folder is included only from a file
  of the same platform;
- a KorvexAPI_ call appears only in the folders the map names for it;
- the request record's type, SMTPSEND_STRUCTURE, is not named in the
  folders the map keeps it out of (the session, for one, never sees it);
- every top-level folder git knows is named in the map as `folder/`, and
  every backquoted path of the map under a top-level folder exists (a `*`
  matches as in a shell pattern).
Quoted includes are resolved as the build does (the including file's
folder, its top folder, the source root, include/); standard and system
headers are not checked. Usage: scripts/check_layers.py [source root]; exit status 1 on
any break, with one line for each.
"""
import glob
import os
import re
import subprocess
import sys

ROOT = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), ".."))
SOURCE = re.compile(r"\.(c|cc|cpp|h|hpp)$")
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.M)
CALL = re.compile(r"\bKorvexAPI_\w+\s*\(")
RECORD = re.compile(r"\bSMTPSEND_STRUCTURE\b")
LISTED = r"((?:`[^`]+`(?:\s|,|and|or)*)+)"
TICKED = re.compile(r"`([^`]+)`")

# Known breaks whose fix is under way; each is a (source, what it uses)
# pair. Remove a line as soon as its fix lands: the check says when a line
# is no longer needed.
EXCEPTIONS = set()


MAP = "docs/architecture.md"


def layout_tables(path):
    """The tables of the map's Layout section, each a list of rows of cells."""
    text = open(path, encoding="utf-8").read()
    start = text.find("\n## Layout\n")
    if start < 0:
        sys.exit("check_layers: %s has no Layout section" % MAP)
    end = text.find("\n## ", start + 1)
    section = text[start : end if end > 0 else len(text)]
    tables, rows = [], []
    for line in section.splitlines() + [""]:
        if line.startswith("|"):
            cells = [c.strip() for c in line.strip().strip("|").split("|")]
            if not set("".join(cells)) <= set("-: "):
                rows.append(cells)
        elif rows:
            tables.append(rows[1:])  # the header row goes
            rows = []
    return tables, section


def rules(path):
    tables, section = layout_tables(path)
    if len(tables) < 2:
        sys.exit("check_layers: the Layout section needs the folder table and the narrower-header table")
    allowed = {}
    for cells in tables[0]:
        folder = TICKED.findall(cells[0])[0].rstrip("/")
        allowed[folder] = [t for t in TICKED.findall(cells[-1])]
    narrow = {}
    for cells in tables[1]:
        users = [t.rstrip("/") for t in TICKED.findall(cells[-1])]
        for header in TICKED.findall(cells[0]):
            narrow[header] = users
    callers = re.search(r"`KorvexAPI_\*`.*?called only from " + LISTED, section, re.S)
    if not callers:
        sys.exit("check_layers: the Layout section does not say where the companion is called from")
    companion_callers = [t.rstrip("/") for t in TICKED.findall(callers.group(1))]
    kept_out = re.search(r"`SMTPSEND_STRUCTURE`.*?named nowhere in " + LISTED, section, re.S)
    if not kept_out:
        sys.exit("check_layers: the Layout section does not say where the request record is not named")
    record_free = [t.rstrip("/") for t in TICKED.findall(kept_out.group(1))]
    return allowed, narrow, companion_callers, record_free


def resolve(source, name):
    """The source-root path of a quoted include, or None for a system header."""
    for base in (os.path.dirname(source), source.split("/")[0], "", "include"):
        path = os.path.normpath(os.path.join(base, name))
        if os.path.isfile(os.path.join(ROOT, path)):
            return path.replace(os.sep, "/")
    return None


def platform_of(path):
    parts = path.split("/")
    return "posix" if "posix" in parts else "win32" if "win32" in parts else None


def edge_allowed(source, target, allowed, narrow):
    src, dst = source.split("/")[0], target.split("/")[0]
    if target in narrow and src != dst and src not in narrow[target]:
        return "may be included only from " + ", ".join(x + "/" for x in narrow[target])
    wanted = platform_of(target)
    if wanted and platform_of(source) != wanted:
        return "is a %s header, for %s files only" % (wanted, wanted)
    if src == dst:
        return None
    grants = allowed.get(src, [])
    if any(target == g or (g.endswith("/") and target.startswith(g)) for g in grants):
        return None
    return "%s/ may not use %s" % (src, target if target.startswith("include/") else dst + "/")


def sources(folders):
    for folder in folders:
        for base, _, files in os.walk(os.path.join(ROOT, folder)):
            for f in sorted(files):
                if SOURCE.search(f):
                    yield os.path.relpath(os.path.join(base, f), ROOT).replace(os.sep, "/")


def top_folders():
    """The top-level folders of the tree as git knows it (the files on disk
    when the tree is not a git checkout), build output aside."""
    try:
        names = subprocess.run(["git", "-C", ROOT, "ls-files"], capture_output=True, text=True,
                               check=True, timeout=60).stdout.split()
        return sorted({n.split("/")[0] for n in names if "/" in n and not n.startswith(".")})
    except (OSError, subprocess.SubprocessError):
        return sorted(d for d in os.listdir(ROOT) if os.path.isdir(os.path.join(ROOT, d))
                      and not d.startswith((".", "build", "dist")))


def map_breaks():
    """The map's untrue lines: a folder it leaves out, a path that does not exist."""
    text = open(os.path.join(ROOT, MAP), encoding="utf-8").read()
    ticked = set(TICKED.findall(text))
    folders = top_folders()
    breaks = ["%s does not name the top-level folder %s/" % (MAP, f) for f in folders if f + "/" not in ticked]
    for tick in sorted(ticked):
        path = re.split(r"[ (]", tick)[0]
        if "/" in path and path.split("/")[0] in folders and not glob.glob(os.path.join(ROOT, path)):
            breaks.append("%s names %s, which does not exist" % (MAP, path))
    return breaks


def main():
    allowed, narrow, companion_callers, record_free = rules(os.path.join(ROOT, MAP))
    breaks, excused = map_breaks(), set()
    for source in sorted(sources(allowed)):
        text = open(os.path.join(ROOT, source), encoding="utf-8", errors="replace").read()
        for name in INCLUDE.findall(text):
            target = resolve(source, name)
            why = target and edge_allowed(source, target, allowed, narrow)
            if not why:
                continue
            if (source, target) in EXCEPTIONS:
                excused.add((source, target))
            else:
                breaks.append("%s: includes %s: %s" % (source, target, why))
        if source.split("/")[0] not in companion_callers + ["include"] and CALL.search(text):
            if (source, "KorvexAPI_") in EXCEPTIONS:
                excused.add((source, "KorvexAPI_"))
            else:
                breaks.append("%s: calls KorvexAPI_ directly: the companion is called only from %s"
                              % (source, ", ".join(x + "/" for x in companion_callers)))
        if source.split("/")[0] in record_free and RECORD.search(text):
            breaks.append("%s: names SMTPSEND_STRUCTURE: the request record stays out of %s"
                          % (source, ", ".join(x + "/" for x in record_free)))
    for source, target in sorted(EXCEPTIONS - excused):
        print("check_layers: the known break %s -> %s is gone: remove it from the list" % (source, target))
    for source, target in sorted(excused):
        print("check_layers: known break, fix under way: %s -> %s" % (source, target))
    for line in breaks:
        print("check_layers: " + line)
    if breaks:
        sys.exit(1)
    print("check_layers: every include follows %s's Layout table" % MAP)


if __name__ == "__main__":
    main()
