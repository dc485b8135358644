#!/usr/bin/env python3
"""Judges the program's JSON report against the planted installation (tests/proof/manifest.tsv),
reading the prefix through tests/proof/proof.py.

  judge.py listing PREFIX BITS REPORT   a dry run's report: every removable row still present is
                                        covered by a listed item, every item covers such a row,
                                        and none covers a bystander unless it is listed refused
  judge.py residue REPORT VERIFY        a run's report: its remaining items (present or queued)
                                        cover exactly the rows the verifier (proof.py verify
                                        output) finds left or queued, but for folders that hold
                                        a bystander link (Wine cannot delete a link)

How an item covers a row: a file or folder covers itself and what lies below it; a key covers
itself, its subkeys and their values; a service or a service key covers the service or driver
of that name; a module's "COM registration" covers the stand-in's record of its registration
(HKLM\\Software\\Classes\\qtxStandinModule\\FILE); a "driver line" covers the text file it names.
"""
import json
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "proof"))
import proof  # noqa: E402

SERVICES = "HKLM\\SYSTEM\\CURRENTCONTROLSET\\SERVICES\\"
STANDIN = "HKLM\\SOFTWARE\\CLASSES\\QTXSTANDINMODULE\\"


def norm(path):
    path = path.upper().rstrip("\\")
    return "HKLM\\SOFTWARE\\CLASSES\\" + path[5:] if path.startswith("HKCR\\") else path


def below(path, top):
    path, top = norm(path), norm(top)
    return path == top or path.startswith(top + "\\")


def item_covers(item, row):
    kind, what = item["kind"], item["path"]
    if row.kind in ("file", "folder", "noline"):
        return kind not in ("COM registration",) and "\\" in what and what[1:2] == ":" and below(row.path, what)
    if row.kind in ("service", "driver"):
        return (kind == "service" and what.upper() == row.path.upper()) or \
            (kind == "service key" and norm(what) == SERVICES + row.path.upper())
    if row.kind in ("key", "value"):
        if kind == "COM registration":
            return row.kind == "value" and norm(row.path) == STANDIN + what.rsplit("\\", 1)[-1].upper()
        if kind == "value":
            key, _, name = what.rpartition(" [")
            return row.kind == "value" and norm(key) == norm(row.path) and name[:-1].upper() == row.name.upper()
        return (kind.endswith("key") or kind in ("App Paths entry", "scheduled task")) and below(row.path, what)
    if row.kind == "restored":
        # Entries taken out of a shared list: the list's value is the row.
        if kind == "load-order tag":
            return norm(row.path).endswith("\\CONTROL\\GROUPORDERLIST")
        if kind == "VDD entry":
            return norm(row.path).endswith("\\CONTROL\\VIRTUALDEVICEDRIVERS")
        if kind == "value":  # a saved value put back: the row is the value it restores
            return norm(what.split(" [")[0]) == norm(row.path)
        if kind == "filter entry":
            return norm(what.split(" [")[0]) == norm(row.path)
    return False


def covered(item, row):
    return item_covers(item, row) and (item["kind"] not in ("key", "profile key") or below(row.path, item["path"]))


def listing(prefix, bits, report_path):
    report = json.load(open(report_path, encoding="utf-8"))
    machine = proof.Machine(prefix, bits)
    # Removable: gone rows still there, and lists whose planted entries are not yet taken out.
    rows = [r for r in proof.load_rows(bits)
            if (r.role in ("gone", "keep") and proof.present(machine, r)) or (r.role == "after" and not proof.present(machine, r))]
    items = report["remaining"]
    refused = {norm(r["path"]) for r in report["refused"]}
    bad = 0
    for r in rows:
        by = [i for i in items if covered(i, r)]
        if r.role != "keep" and not by:
            print("not listed\t%s\t%s" % (r.kind, r.what()))
            bad += 1
        if r.role == "keep" and by and norm(r.path) not in refused:
            print("bystander listed\t%s\t%s\tby %s" % (r.kind, r.what(), by[0]["path"]))
            bad += 1
    for i in items:
        if not any(covered(i, r) for r in rows if r.role != "keep"):
            print("listed, not planted\t%s\t%s" % (i["kind"], i["path"]))
            bad += 1
    print("listing: %d items, %d removable rows present, %d problems" % (len(items), sum(r.role != "keep" for r in rows), bad))
    return 1 if bad else 0


def residue(report_path, verify_path):
    report = json.load(open(report_path, encoding="utf-8"))
    items = report["remaining"]
    left = []
    for line in open(verify_path, encoding="utf-8"):
        f = line.rstrip("\n").split("\t")
        if f[0] in ("left", "queued") and f[1] != "restored":
            left.append(f)
    bad = 0
    rows = {r.what(): r for r in proof.load_rows(report["windows"]["bits"] == 64 and "64" or "32")}
    for status, kind, what, _ in left:
        r = rows[what]
        by = [i for i in items if covered(i, r)]
        if not by:
            print("left, not in the report\t%s\t%s\t%s" % (status, kind, what))
            bad += 1
        elif status == "queued" and not any(i["state"] == "queued" for i in by):
            print("queued, reported %s\t%s\t%s" % (by[0]["state"], kind, what))
            bad += 1
    # Wine cannot delete a link: a folder holding a bystander link stays, present or queued again.
    links = [r for r in rows.values() if r.kind == "link"]
    for i in items:
        if i["kind"] == "folder" and any(below(r.path, i["path"]) for r in links):
            print("stays, holds a link\t%s\t%s" % (i["state"], i["path"]))
            continue
        if not any(covered(i, rows[f[2]]) for f in left):
            print("reported, not left\t%s\t%s\t%s" % (i["state"], i["kind"], i["path"]))
            bad += 1
    print("residue: %d items reported, %d rows left or queued, %d problems" % (len(items), len(left), bad))
    return 1 if bad else 0


if __name__ == "__main__":
    if sys.argv[1] == "listing":
        sys.exit(listing(*sys.argv[2:5]))
    sys.exit(residue(*sys.argv[2:4]))
