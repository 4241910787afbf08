#!/usr/bin/env python3
"""scripts/format on a small tree of its own: the check names exactly the
files that differ and changes nothing, formatting makes the check pass and
leaves "clang-format off" regions alone, and a missing clang-format is a skip.

Usage: FormatCheckTest.py REPOSITORY_ROOT (exits 77 without clang-format)."""
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import unittest

REPO = pathlib.Path(sys.argv.pop(1) if len(sys.argv) > 1 else
                    pathlib.Path(__file__).resolve().parent.parent.parent)
FORMAT = REPO / "scripts" / "format"

GOOD = "int Twice(int x) { return 2 * x; }\n"
BAD = "int  Twice( int x ){\nreturn 2*x;}\n"
# A hand-aligned table the format would otherwise pack differently.
TABLE = ("// clang-format off\n"
         "const int kTable[] = {\n"
         "    1,    2,\n"
         "    30,   40,\n"
         "};\n"
         "// clang-format on\n")


class FormatCheckTest(unittest.TestCase):
    def setUp(self):
        self.root = pathlib.Path(tempfile.mkdtemp(prefix="vg-format-"))
        self.addCleanup(shutil.rmtree, self.root)
        shutil.copy(REPO / ".clang-format", self.root / ".clang-format")
        self.write("net/Good.cpp", GOOD)
        self.write("tests/Bad.h", "#pragma once\n" + BAD)
        self.write("ui/Table.cpp", TABLE + BAD)
        # Not C++, and C++ inside a fuzz corpus: never looked at.
        self.write("net/notes.txt", BAD)
        self.write("tests/fuzz/corpus/url/seed.cpp", BAD)

    def write(self, rel, text):
        path = self.root / rel
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_text(text)

    def read(self, rel):
        return (self.root / rel).read_text()

    def run_format(self, *args, env=None):
        return subprocess.run([sys.executable, str(FORMAT), "--root", str(self.root)] + list(args),
                              capture_output=True, text=True, env=env, timeout=120)

    def test_check_names_the_differing_files_and_changes_nothing(self):
        r = self.run_format("--check")
        self.assertEqual(r.returncode, 1, r.stdout + r.stderr)
        named = {line.split(":")[0] for line in r.stdout.splitlines() if "differs" in line}
        self.assertEqual(named, {"tests/Bad.h", "ui/Table.cpp"}, r.stdout)
        self.assertIn("tests/Bad.h:2:", r.stdout)
        self.assertIn("3 files checked", r.stdout)
        self.assertEqual(self.read("tests/Bad.h"), "#pragma once\n" + BAD)
        # Named files only: the good one passes alone.
        self.assertEqual(self.run_format("--check", "net/Good.cpp").returncode, 0)

    def test_formatting_makes_the_check_pass_and_keeps_protected_regions(self):
        r = self.run_format()
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        self.assertEqual(self.read("tests/Bad.h"), "#pragma once\n" + GOOD)
        self.assertEqual(self.read("ui/Table.cpp"), TABLE + GOOD)
        self.assertEqual(self.read("net/Good.cpp"), GOOD)
        self.assertEqual(self.read("net/notes.txt"), BAD)
        self.assertEqual(self.read("tests/fuzz/corpus/url/seed.cpp"), BAD)
        r = self.run_format("--check")
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)

    def test_without_clang_format_the_check_is_skipped(self):
        env = dict(os.environ, VG_CLANG_FORMAT=str(self.root / "no-such-clang-format"))
        r = self.run_format("--check", env=env)
        self.assertEqual(r.returncode, 77, r.stdout + r.stderr)
        self.assertIn("not installed", r.stdout)


def clang_format_found():
    wanted = os.environ.get("VG_CLANG_FORMAT")
    if wanted:
        return shutil.which(wanted)
    return shutil.which("clang-format-14") or shutil.which("clang-format")


if __name__ == "__main__":
    if not clang_format_found():
        print("clang-format is not installed: skipped")
        sys.exit(77)
    # The skip test names a missing clang-format itself; the others use the
    # one found here.
    unittest.main()
