#!/usr/bin/env python3
"""Plants the suite's installation that manifest.tsv describes into a Wine prefix, and judges
the machine against it by reading the prefix itself: the registry hive files and the folder
tree under drive_c, never through the program under test or Wine's registry views.

  proof.py plant PREFIX BITS STANDINS     lay the installation (BITS: 64 or 32)
  proof.py start PREFIX BITS              start the services marked "run"
  proof.py check PREFIX BITS              every planted row must be there as planted
  proof.py verify PREFIX BITS [--final] [--log C:\\RUN.LOG]
                                          one line per row, then the summary
  proof.py snapshot PREFIX FILE [SKIP...]  registry and files as text, for before/after (files
                                          SKIP, C:\\... paths, left out)
  proof.py compare BEFORE AFTER           differences of two snapshots (exit 1 if any)
  proof.py table BEFORE AFTER             one table from the verify outputs before and after
                                          the restart
  proof.py clone TEMPLATE PREFIX          a fresh prefix from a booted one, without a new boot

The hives are read with the prefix's wineserver stopped (this script stops it), so they hold
everything written so far. A row's "view" says in which registry view the 32-bit installer
(32) or the system (64) wrote it; in a 32-bit prefix both are the one view there is.
Output lines of verify: STATUS<TAB>KIND<TAB>WHAT<TAB>NOTE, STATUS one of removed, queued,
left, refused, kept, harmed, restored; then "summary<TAB>planted N<TAB>removed N<TAB>queued N
<TAB>left N<TAB>refused N<TAB>harmed N". A row noted "loads:FOLDER" needs a suite module or
helper loaded from FOLDER; when it stays, it counts as refused (not left) only if the run's log
(--log, a path in the prefix) says the program refused that folder. Exit code 1 when anything
is left or harmed.
"""
import os
import re
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
MANIFEST = os.path.join(HERE, "manifest.tsv")


def wine_env(prefix):
    env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
    return env


def wine_loader(bits):
    return "/usr/lib/wine/wine64" if bits == "64" else "/usr/lib/wine/wine"


def wine(prefix, bits, *args):
    return subprocess.run([wine_loader(bits)] + list(args), env=wine_env(prefix), stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout.decode("utf-8", "replace")


def stop_server(prefix):
    server = "/usr/lib/wine/wineserver64" if os.path.exists("/usr/lib/wine/wineserver64") else "/usr/lib/wine/wineserver"
    subprocess.run([server, "-k"], env=wine_env(prefix), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    subprocess.run([server, "-w"], env=wine_env(prefix), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)


# ---- the manifest -------------------------------------------------------------------------

def macros(bits):
    x86 = bits == "64"
    pfx86 = "C:\\Program Files (x86)" if x86 else "C:\\Program Files"
    return {
        "%SYS%": "C:\\windows\\system32",
        "%SYSWOW%": "C:\\windows\\syswow64" if x86 else "C:\\windows\\system32",
        "%WINDIR%": "C:\\windows",
        "%PF%": "C:\\Program Files",
        "%PFX86%": pfx86,
        "%PROGRAM%": pfx86 + "\\VELKO Software\\Velko",
        "%PD%": "C:\\ProgramData",
        "%PROGRAMS%": "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs",
        "%DESKTOP%": "C:\\users\\Public\\Desktop",
        "%APPDATA%": "C:\\users\\root\\AppData\\Roaming",
    }


def expand(text, bits):
    for name, value in macros(bits).items():
        text = text.replace(name, value)
    return text


class Row:
    def __init__(self, fields, bits, line):
        fields += [""] * (8 - len(fields))
        self.bits, self.role, self.kind, self.view, path, name, data, self.note = fields[:8]
        self.path, self.name, self.data = expand(path, bits), expand(name, bits), expand(data, bits)
        self.loads = expand(self.note[len("loads:"):], bits) if self.note.startswith("loads:") else None
        self.line = line

    def what(self):
        view = " (%s-bit view)" % self.view if self.view in ("32", "64") else ""
        if self.kind in ("value", "restored"):
            return "%s [%s]%s" % (self.path, self.name or "(default)", view)
        return self.path + view


def load_rows(bits):
    rows = []
    with open(MANIFEST, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if not line.strip() or line.startswith("#"):
                continue
            fields = line.split("\t")
            if fields[0] not in ("*", bits):
                continue
            rows.append(Row(fields, bits, number))
    return rows


# ---- registry hives as Wine keeps them ----------------------------------------------------

HIVES = {"HKLM": "system.reg", "HKCU": "user.reg", "HKU\\.DEFAULT": "userdef.reg"}


def unescape(text):
    out, i = [], 0
    while i < len(text):
        c = text[i]
        if c == "\\" and i + 1 < len(text):
            n = text[i + 1]
            if n == "x":
                m = re.match(r"[0-9a-fA-F]{1,4}", text[i + 2:])
                out.append(chr(int(m.group(0), 16)))
                i += 2 + len(m.group(0))
                continue
            out.append({"n": "\n", "r": "\r", "t": "\t", "0": "\0"}.get(n, n))
            i += 2
            continue
        out.append(c)
        i += 1
    return "".join(out)


def parse_data(raw):
    """(type, data) of one value as the hive file writes it; strings as text, the rest as bytes."""
    m = re.match(r'^(?:str\((\d+)\):)?"(.*)"$', raw, re.S)
    if m:
        return ("sz" if not m.group(1) or m.group(1) == "1" else {"2": "expand", "7": "multi"}.get(m.group(1), "str"),
                unescape(m.group(2)))
    if raw.startswith("dword:"):
        return "dword", int(raw[6:], 16)
    m = re.match(r"^hex(?:\(([0-9a-f]+)\))?:(.*)$", raw, re.S)
    if m:
        data = bytes(int(b, 16) for b in re.findall(r"[0-9a-fA-F]{2}", m.group(2)))
        kind = {None: "binary", "2": "expand", "7": "multi", "1": "sz"}.get(m.group(1), "hex")
        if kind in ("expand", "multi", "sz"):
            return kind, data.decode("utf-16-le", "replace")
        return kind, data
    return "other", raw


def read_hive(path):
    """{lower-case key path: {lower-case value name: (type, data)}} of one hive file; a
    registry link (Wine writes "#link" under its key) has the value "#link" with its target."""
    keys = {}
    current = None
    pending = ""
    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f:
            line = line.rstrip("\n")
            if pending:
                line = pending + line.lstrip()
                pending = ""
            if line.endswith("\\") and not line.endswith("\\\\"):
                pending = line[:-1]
                continue
            if line.startswith("["):
                end = line.rfind("]")
                current = unescape(line[1:end]).lower()
                keys[current] = {}
                continue
            if current is not None and line == "#link":
                keys[current]["#link"] = ("link", "")
                continue
            if current is None or line.startswith("#") or not line:
                continue
            m = re.match(r'^(@|"((?:[^"\\]|\\.)*)")=(.*)$', line, re.S)
            if m:
                name = "" if m.group(1) == "@" else unescape(m.group(2))
                keys[current][name.lower()] = parse_data(m.group(3))
    return keys


class Machine:
    """The prefix as it is on disk: hives and files."""

    def __init__(self, prefix, bits):
        self.prefix, self.bits = prefix, bits
        stop_server(prefix)
        self.hives = {root: read_hive(os.path.join(prefix, name)) for root, name in HIVES.items()}
        self.pending = self.read_pending()

    def locate(self, path, view):
        """(hive, key path inside it) of a registry path as the given view sees it."""
        path = path.replace("/", "\\")
        if path.upper().startswith("HKCR\\"):
            path = "HKLM\\Software\\Classes\\" + path[5:]
        for root in sorted(HIVES, key=len, reverse=True):
            if path.upper().startswith(root.upper() + "\\"):
                inner = path[len(root) + 1:]
                break
        else:
            raise ValueError("unknown root in " + path)
        if self.bits == "64" and view == "32" and root == "HKLM" and inner.lower().startswith("software\\"):
            inner = "Software\\Wow6432Node\\" + inner[9:]
        return root, inner.lower()

    def resolve(self, root, inner):
        """The key path with every registry link on the way replaced by its target."""
        hive = self.hives[root]
        for _ in range(16):
            parts = inner.split("\\")
            for i in range(1, len(parts) + 1):
                values = hive.get("\\".join(parts[:i]))
                if values and "#link" in values and "symboliclinkvalue" in values:
                    data = values["symboliclinkvalue"][1]
                    target = data.decode("utf-16-le") if isinstance(data, bytes) else data
                    target = re.sub(r"^\\registry\\(machine|user\\[^\\]+)\\", "", target.lower().rstrip("\0"))
                    inner = "\\".join([target] + parts[i:])
                    break
            else:
                return inner
        return inner

    def key(self, path, view):
        root, inner = self.locate(path, view)
        return self.hives[root].get(self.resolve(root, inner))

    def read_pending(self):
        values = self.key("HKLM\\System\\CurrentControlSet\\Control\\Session Manager", "64") or {}
        kind, data = values.get("pendingfilerenameoperations", ("", ""))
        if not isinstance(data, str):
            return set()
        names = data.split("\0")
        queued = set()
        for source, target in zip(names[0::2], names[1::2]):
            if source and not target:
                queued.add(source[4:].lower() if source.startswith("\\??\\") else source.lower())
        return queued

    def unix(self, windows_path):
        """The Unix path of C:\\..., matching each component without regard to letter case."""
        parts = windows_path.replace("/", "\\").split("\\")
        assert parts[0].upper() == "C:", windows_path
        here = os.path.join(self.prefix, "drive_c")
        for part in parts[1:]:
            if not part:
                continue
            nxt = os.path.join(here, part)
            if not os.path.lexists(nxt) and os.path.isdir(here) and not os.path.islink(here):
                for entry in os.listdir(here):
                    if entry.lower() == part.lower():
                        nxt = os.path.join(here, entry)
                        break
            here = nxt
        return here


# ---- planting -----------------------------------------------------------------------------

def reg_string(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def reg_data(data):
    """A .reg file's form of manifest data (sz:, dword:, multi:a|b, binary:hex, expand:)."""
    kind, _, text = data.partition(":") if re.match(r"^(sz|dword|multi|binary|expand):", data) else ("sz", "", data)
    if kind == "sz":
        return reg_string(text)
    if kind == "dword":
        return "dword:%08x" % int(text)
    if kind == "binary":
        return "hex:" + ",".join(text[i:i + 2] for i in range(0, len(text), 2))
    raw = (text.replace("|", "\0") + "\0" + ("\0" if kind == "multi" else "")).encode("utf-16-le")
    return "hex(%d):" % (7 if kind == "multi" else 2) + ",".join("%02x" % b for b in raw)


def reg_path(path):
    for short, long in (("HKLM\\", "HKEY_LOCAL_MACHINE\\"), ("HKCU\\", "HKEY_CURRENT_USER\\"),
                        ("HKU\\", "HKEY_USERS\\"), ("HKCR\\", "HKEY_CLASSES_ROOT\\")):
        if path.upper().startswith(short):
            return long + path[len(short):]
    return path


def new_file(machine, path):
    """The Unix path of a file to plant, a new file there: a prefix cloned from the template shares
    Wine's modules with it by hard links, and writing into one would change the template."""
    target = machine.unix(path)
    os.makedirs(os.path.dirname(target), exist_ok=True)
    if os.path.lexists(target):
        os.remove(target)
    return target


def write_file(machine, path, text):
    with open(new_file(machine, path), "w") as f:
        f.write(text)


def plant(prefix, bits, standins):
    machine = Machine.__new__(Machine)
    machine.prefix, machine.bits = prefix, bits
    rows = [r for r in load_rows(bits) if r.role != "after"]
    regs = {"32": ["Windows Registry Editor Version 5.00", ""], "64": ["Windows Registry Editor Version 5.00", ""]}
    batch = ["@echo off"]
    for r in rows:
        view = r.view if r.view in ("32", "64") else "64"
        if r.kind == "key":
            regs[view] += ["[%s]" % reg_path(r.path), '"Planted"="1"', "[%s\\Sub]" % reg_path(r.path), '"Planted"="1"', ""]
        elif r.kind == "value":
            name = "@" if not r.name else reg_string(r.name)
            regs[view] += ["[%s]" % reg_path(r.path), "%s=%s" % (name, reg_data(r.data)), ""]
        elif r.kind == "file":
            source = r.data[len("standin:"):] if r.data.startswith("standin:") else None
            if source:
                with open(os.path.join(standins, source), "rb") as s, open(new_file(machine, r.path), "wb") as t:
                    t.write(s.read())
            else:
                write_file(machine, r.path, (r.data or "planted").replace("\\n", "\r\n"))
        elif r.kind == "folder":
            write_file(machine, r.path + "\\planted.txt", "planted\n")
        elif r.kind == "link":
            link = machine.unix(r.path)
            target = machine.unix(r.data)
            os.makedirs(os.path.dirname(link), exist_ok=True)
            os.makedirs(target, exist_ok=True)
            with open(os.path.join(target, "bystander.txt"), "w") as f:
                f.write("must survive\n")
            if not os.path.lexists(link):
                os.symlink(target, link)
        elif r.kind == "service":
            exe = "services/qtx_svc_standin.exe" if bits == "64" else "proof/i686/qtx_svc_standin.exe"
            image = "Z:" + os.path.join(standins, exe).replace("/", "\\")
            batch.append(twice('sc create "%s" binpath= "\\"%s\\" pending 300" type= own start= demand >nul'
                               % (r.path, image)))
        elif r.kind == "driver":
            batch.append(twice('sc create "%s" binpath= "system32\\drivers\\%s.sys" type= kernel start= demand >nul'
                               % (r.path, r.path)))
    run_batch(prefix, bits, batch)
    if bits == "32":  # one view: everything goes in together
        regs = {"32": regs["32"] + regs["64"][2:]}
    for view, lines in regs.items():
        if len(lines) <= 2:
            continue
        name = "qtx-plant-%s.reg" % view
        with open(os.path.join(prefix, "drive_c", name), "w", encoding="utf-16") as f:
            f.write("\r\n".join(lines) + "\r\n")
        wine(prefix, bits, "reg", "import", "C:\\" + name, *(["/reg:" + view] if bits == "64" else []))
        os.remove(os.path.join(prefix, "drive_c", name))
    print("planted %d rows (%d-bit Windows)" % (len(rows), int(bits)))


def twice(command):
    """A batch line that tries the command again when it fails. Now and then one service entry
    of the planting was missing (seen twice in about a dozen runs, once the driver "tap0901";
    the cause is not known); the planting check still reports whatever is missing after this."""
    return "%s || %s" % (command, command)


def run_batch(prefix, bits, lines):
    if len(lines) <= 1:
        return
    path = os.path.join(prefix, "drive_c", "windows", "temp", "qtx-plant.cmd")
    with open(path, "w") as f:
        f.write("\r\n".join(lines) + "\r\n")
    wine(prefix, bits, "cmd", "/c", "C:\\windows\\temp\\qtx-plant.cmd")
    os.remove(path)


def start(prefix, bits):
    run_batch(prefix, bits, ["@echo off"] + ['sc start "%s" >nul' % r.path for r in load_rows(bits)
                                             if r.kind == "service" and r.data == "run"])


# ---- judging ------------------------------------------------------------------------------

def want_data(data):
    kind, _, text = data.partition(":") if re.match(r"^(sz|dword|multi|binary|expand):", data) else ("sz", "", data)
    if kind == "dword":
        return int(text)
    if kind == "binary":
        return bytes.fromhex(text)
    if kind == "multi":
        return text.replace("|", "\0") + "\0\0"
    return text


def same_data(have, data):
    want = want_data(data)
    got = have[1]
    if isinstance(want, str) and isinstance(got, str):
        return got.rstrip("\0").lower() == want.rstrip("\0").lower()
    return got == want


def present(machine, r):
    """Whether the row's object is on the machine as planted (keys, values with their data)."""
    if r.kind in ("key", "service", "driver"):
        path = r.path if r.kind == "key" else "HKLM\\System\\CurrentControlSet\\Services\\" + r.path
        return machine.key(path, r.view) is not None
    if r.kind in ("value", "restored"):
        values = machine.key(r.path, r.view)
        if values is None or r.name.lower() not in values:
            return False
        return r.kind == "value" and r.role != "keep" or same_data(values[r.name.lower()], r.data)
    if r.kind == "file":
        return os.path.isfile(machine.unix(r.path))
    if r.kind == "folder":
        return os.path.isdir(machine.unix(r.path))
    if r.kind == "link":
        return os.path.isfile(os.path.join(machine.unix(r.data), "bystander.txt"))
    if r.kind == "noline":
        try:
            with open(machine.unix(r.path), errors="replace") as f:
                return r.name.lower() in f.read().lower()
        except OSError:
            return False
    raise ValueError("row %d: unknown kind %s" % (r.line, r.kind))


def queued(machine, r):
    if r.kind not in ("file", "folder"):
        return False
    return r.path.lower() in machine.pending


REFUSAL = "suite folder refused, nothing is loaded or started from it: "


def refused_folders(machine, log):
    """The folders the run's log says it refused to load or start anything from (lower case)."""
    if not log:
        return set()
    try:
        with open(machine.unix(log), "rb") as f:
            text = f.read().decode("utf-16", "replace").lower()
    except OSError:
        return set()
    folders = set()
    for line in text.splitlines():
        start = line.find(REFUSAL)
        if start >= 0:
            rest = line[start + len(REFUSAL):]
            folders.add(rest[:rest.rfind(" (")].rstrip("\\") if " (" in rest else rest.rstrip("\\"))
    return folders


def verify(prefix, bits, final, log=None):
    machine = Machine(prefix, bits)
    refused = refused_folders(machine, log)
    counts = dict(planted=0, removed=0, queued=0, left=0, refused=0, harmed=0)
    waiting = []
    for r in load_rows(bits):
        if r.role == "plant":
            continue
        there = present(machine, r)
        if r.role == "gone":
            counts["planted"] += 1
            status = "left" if there else "removed"
            if there and not final and queued(machine, r):
                status = "queued"
            if status == "left" and r.loads and r.loads.lower().rstrip("\\") in refused:
                status = "refused"
        elif r.role == "keep":
            counts["planted"] += 1
            status = "kept" if there else "harmed"
        else:  # after: the value the run must leave
            status = "restored" if there else "left"
        if status in counts:
            counts[status] += 1
        if status == "left" and r.note:
            waiting.append(r)
        print("%s\t%s\t%s\t%s" % (status, r.kind, r.what(), r.note))
    print("summary\t" + "\t".join("%s %d" % (k, v) for k, v in counts.items()))
    for r in waiting:
        print("left, %s:\t%s" % (r.note, r.what()))
    return 1 if counts["left"] or counts["harmed"] else 0


def check(prefix, bits):
    machine = Machine(prefix, bits)
    missing = [r for r in load_rows(bits) if r.role not in ("after",) and r.role != "plant" and not present(machine, r)]
    for r in missing:
        print("not planted\t%s\t%s\t(manifest line %d)" % (r.kind, r.what(), r.line))
    print("planting check: %d rows missing" % len(missing))
    return 1 if missing else 0


# ---- snapshots for the machine without the suite ------------------------------------------

# What Wine itself changes between two starts, whatever runs; and the restart queue, which the
# program's exit code reports (0: nothing queued).
NOISE = re.compile(r"^(reg\tHKLM\tsystem\\currentcontrolset\\control\\class\\[^\t]*\tdriverdatedata\t|"
                   r"reg\tHKLM\tsystem\\currentcontrolset\\control\\session manager\tpendingfilerenameoperations\t|"
                   r"reg\tHKLM\tsoftware\\(wow6432node\\)?microsoft\\windows nt\\currentversion\\perflib|"
                   r"reg\tHKCU\tsoftware\\wine\\|file\tc:\\windows\\temp\\|file\tc:\\users\\[^\\]+\\(appdata\\local\\)?temp\\|"
                   r"reg\tHKLM\tsystem\\currentcontrolset\\control\\session manager\\environment|"
                   r"reg\tHKLM\thardware\\)")


def snapshot(prefix, out, *skips):
    machine = Machine(prefix, "64")
    lines = []
    for root, keys in machine.hives.items():
        for key, values in keys.items():
            lines.append("reg\t%s\t%s" % (root, key))
            for name, (kind, data) in values.items():
                lines.append("reg\t%s\t%s\t%s\t%s=%r" % (root, key, name, kind, data))
    drive = os.path.join(prefix, "drive_c")
    for folder, dirs, files in os.walk(drive):
        for name in files:
            full = os.path.join(folder, name)
            rel = "c:\\" + os.path.relpath(full, drive).replace("/", "\\").lower()
            if rel not in {skip.lower() for skip in skips}:
                lines.append("file\t%s\t%d" % (rel, os.path.getsize(full) if not os.path.islink(full) else -1))
    with open(out, "w", encoding="utf-8", errors="backslashreplace") as f:
        f.write("\n".join(sorted(l for l in lines if not NOISE.match(l))) + "\n")


def compare(before, after):
    a, b = (set(open(name, encoding="utf-8").read().splitlines()) for name in (before, after))
    for line in sorted(a - b):
        print("gone\t" + line)
    for line in sorted(b - a):
        print("new\t" + line)
    print("snapshot differences: %d gone, %d new" % (len(a - b), len(b - a)))
    return 1 if a != b else 0


# ---- the table of a run ------------------------------------------------------------------

COLUMNS = ("planted", "removed", "queued", "left", "refused", "kept", "harmed")


def read_verdict(path):
    """{(kind, what): status} of the planted rows in a verify output."""
    rows = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            fields = line.rstrip("\n").split("\t")
            if len(fields) >= 3 and fields[0] in COLUMNS + ("restored",):
                rows[(fields[1], fields[2])] = fields[0]
    return rows


def table(before, after):
    """Per kind of object: planted; removed by the run; queued (still there after the run, gone
    after the restart, which carries out the queued deletions); left after the restart; refused;
    bystanders kept and harmed. Exit 1 if anything is left or harmed."""
    first, final = read_verdict(before), read_verdict(after)
    counts = {}
    for (kind, what), status in final.items():
        if status == "restored":
            kind, status = "edited value", "removed"
        elif status == "removed" and first.get((kind, what)) in ("queued", "left"):
            status = "queued"
        row = counts.setdefault(kind, dict.fromkeys(COLUMNS, 0))
        row[status] += 1
        row["planted"] += 1
    total = dict.fromkeys(COLUMNS, 0)
    print("%-15s" % "" + "".join("%9s" % c for c in COLUMNS))
    for kind in sorted(counts):
        print("%-15s" % kind + "".join("%9d" % counts[kind][c] for c in COLUMNS))
        for c in COLUMNS:
            total[c] += counts[kind][c]
    print("%-15s" % "total" + "".join("%9d" % total[c] for c in COLUMNS))
    return 1 if total["left"] or total["harmed"] else 0


# ---- prefixes from a template --------------------------------------------------------------

# Wine's own modules and tables, which nothing in a run writes in place (a deletion only removes
# the copy's name): shared by hard links. Everything else (hives, texts) is copied.
SHARED = re.compile(r"\.(dll|exe|nls|drv|sys|ocx|cpl|acm|vxd|tlb|ds)$", re.I)


def clone(template, prefix):
    def link_or_copy(source, target):
        if SHARED.search(source):
            os.link(source, target)
        else:
            shutil.copy2(source, target)
    if os.path.lexists(prefix):
        shutil.rmtree(prefix)
    shutil.copytree(template, prefix, symlinks=True, copy_function=link_or_copy)


def main(argv):
    command = argv[1]
    if command == "plant":
        plant(os.path.abspath(argv[2]), argv[3], os.path.abspath(argv[4]))
        return 0
    if command == "start":
        start(os.path.abspath(argv[2]), argv[3])
        return 0
    if command == "check":
        return check(os.path.abspath(argv[2]), argv[3])
    if command == "verify":
        log = argv[argv.index("--log") + 1] if "--log" in argv[:-1] else None
        return verify(os.path.abspath(argv[2]), argv[3], "--final" in argv, log)
    if command == "snapshot":
        snapshot(os.path.abspath(argv[2]), argv[3], *argv[4:])
        return 0
    if command == "compare":
        return compare(argv[2], argv[3])
    if command == "table":
        return table(argv[2], argv[3])
    if command == "clone":
        clone(os.path.abspath(argv[2]), os.path.abspath(argv[3]))
        return 0
    print(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
