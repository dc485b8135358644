#!/usr/bin/env python3
"""The verifier's own rules, on a prefix laid out by hand (no Wine): a module registration that
stays counts as refused only when the run's log names that very folder, and the table counts
what was still there after the run but gone after the restart as queued."""
import contextlib
import io
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import proof  # noqa: E402

PROGRAM = "C:\\Program Files (x86)\\VELKO Software\\Velko"
ADBLOCKER = "C:\\Program Files (x86)\\VELKO Software\\velko! Ad Blocker IE"
REFUSAL = "01.01.2026\t00:00:00.000\t1\tfile\tSuite folder refused, nothing is loaded or started from it: %s (why)"


def hive_key(path):
    return "[%s] 0\n\"Planted\"=\"1\"\n" % path.replace("\\", "\\\\")


def lay_prefix(folder, log_lines, kept=("PmAScr.dll", "Adblocker32.dll", "qtxOtl64.dll")):
    """A prefix whose hive holds only the given module registrations, and the run's log."""
    os.makedirs(os.path.join(folder, "drive_c"))
    keys = ["WINE REGISTRY Version 2\n"]
    for name in kept:
        native = name.endswith("64.dll")
        keys.append(hive_key("Software\\%sClasses\\qtxStandinModule\\%s" % ("" if native else "Wow6432Node\\", name)))
    with open(os.path.join(folder, "system.reg"), "w") as f:
        f.write("\n".join(keys))
    for name in ("user.reg", "userdef.reg"):
        open(os.path.join(folder, name), "w").close()
    with open(os.path.join(folder, "drive_c", "run.log"), "w", encoding="utf-16") as f:
        f.write("\r\n".join(log_lines) + "\r\n")


def module_statuses(folder, log):
    out = io.StringIO()
    with contextlib.redirect_stdout(out):
        proof.verify(folder, "64", True, log)
    statuses = {}
    for line in out.getvalue().splitlines():
        fields = line.split("\t")
        if len(fields) >= 3 and "qtxStandinModule" in fields[2]:
            statuses[fields[2].split("\\")[-1].split(" ")[0]] = fields[0]
    return statuses


class RefusedRows(unittest.TestCase):
    CASES = [  # log lines, log given, expected status of PmAScr, Adblocker32, qtxOtl64, VkExWSS
        ([REFUSAL % PROGRAM], True, ("refused", "left", "refused", "removed")),
        ([REFUSAL % PROGRAM.upper() + "\\", REFUSAL % ADBLOCKER], True, ("refused", "refused", "refused", "removed")),
        ([REFUSAL % (PROGRAM + "\\Sub")], True, ("left", "left", "left", "removed")),
        (["Suite folder refused: " + PROGRAM], True, ("left", "left", "left", "removed")),
        ([REFUSAL % PROGRAM], False, ("left", "left", "left", "removed")),
    ]

    def test_refused_only_where_the_log_names_the_row_folder(self):
        for lines, given, expected in self.CASES:
            with self.subTest(lines=lines, log=given), tempfile.TemporaryDirectory() as folder:
                lay_prefix(folder, lines)
                got = module_statuses(folder, "C:\\run.log" if given else None)
                self.assertEqual(expected, tuple(got[n] for n in ("PmAScr.dll", "Adblocker32.dll", "qtxOtl64.dll",
                                                                   "VkExWSS.dll")))


class Table(unittest.TestCase):
    def test_queued_is_what_only_the_restart_removed(self):
        with tempfile.TemporaryDirectory() as folder:
            before, after = os.path.join(folder, "before"), os.path.join(folder, "after")
            with open(before, "w") as f:
                f.write("removed\tfile\tA\t\nleft\tfile\tB\t\nqueued\tfile\tC\t\nleft\tfile\tD\t\nkept\tkey\tK\t\n")
            with open(after, "w") as f:
                f.write("removed\tfile\tA\t\nremoved\tfile\tB\t\nremoved\tfile\tC\t\nleft\tfile\tD\t\n"
                        "harmed\tkey\tK\t\nsummary\tplanted 5\n")
            out = io.StringIO()
            with contextlib.redirect_stdout(out):
                code = proof.table(before, after)
            rows = {line.split()[0]: [int(n) for n in line.split()[1:]] for line in out.getvalue().splitlines()[1:]}
            # planted removed queued left refused kept harmed
            self.assertEqual([4, 1, 2, 1, 0, 0, 0], rows["file"])
            self.assertEqual([1, 0, 0, 0, 0, 0, 1], rows["key"])
            self.assertEqual(1, code)


if __name__ == "__main__":
    unittest.main()
