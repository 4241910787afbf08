#!/usr/bin/env python3
"""scripts/check-sources.py on a small tree of its own: a tree that keeps the
rules passes; an include up the layers, two layers that include each other,
program code that includes a test header, and a Qt header in the Qt-free part
of framework/ are each named with their file and line, and fail the check.

Usage: IncludeRulesCheckTest.py REPOSITORY_ROOT"""
import pathlib
import shutil
import subprocess
import sys
import tempfile
import unittest

REPO = pathlib.Path(sys.argv.pop(1) if len(sys.argv) > 1 else
                    pathlib.Path(__file__).resolve().parent.parent.parent)
CHECK = REPO / "scripts" / "check-sources.py"

# One file a layer, each including only what lies below it.
CLEAN_TREE = {
    "platform/Files.h": "#pragma once\n#include <string>\n",
    "platform/posix/Files.cpp": '#include "platform/Files.h"\n',
    "net/Utils.h": '#pragma once\n#include "platform/Files.h"\n',
    "net/Utils.cpp": '#include "net/Utils.h"\n\n#include "Local.h"\n',
    "net/Local.h": "#pragma once\n",
    "framework/lang/Lang.h": '#pragma once\n#include "net/Utils.h"\n',
    "framework/Settings.h":
        '#pragma once\n#include "framework/lang/Lang.h"\n#include "net/Utils.h"\n',
    "proxy/Manager.cpp": '#include "framework/Settings.h"\n',
    "switch/Switch.cpp": '#include "proxy/Manager.h"\n',
    "proxy/Manager.h": "#pragma once\n",
    "vcl/Forms.h": '#pragma once\n#include <QWidget>\n#include "framework/lang/Lang.h"\n',
    "framework/qt/Engine.h": '#pragma once\n#include <QObject>\n#include "vcl/Forms.h"\n',
    "framework/qt/windows/About.cpp": '#include "framework/qt/Engine.h"\n',
    # The Qt layer's own folders include each other: one layer.
    "framework/qt/Engine.cpp": '#include "framework/qt/windows/About.h"\n',
    "framework/qt/windows/About.h": "#pragma once\n",
    "ui/Main.cpp": '#include "framework/qt/Engine.h"\n#include "switch/Switch.h"\n',
    "switch/Switch.h": "#pragma once\n",
    "app/Main.cpp": '#include "ui/Main.h"\n',
    "ui/Main.h": "#pragma once\n",
    # Tests may include any layer.
    "tests/support/Wait.h": "#pragma once\n",
    "tests/ui/MainTest.cpp":
        '#include <QApplication>\n#include "app/Main.h"\n#include "ui/Main.h"\n',
    "app/Main.h": "#pragma once\n",
}


class IncludeRulesCheckTest(unittest.TestCase):
    def setUp(self):
        self.root = pathlib.Path(tempfile.mkdtemp(prefix="vg-include-rules-"))
        self.addCleanup(shutil.rmtree, self.root)
        for rel, text in CLEAN_TREE.items():
            self.write(rel, text)

    def write(self, rel, text):
        path = self.root / rel
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_text(text)

    def append(self, rel, text):
        self.write(rel, (self.root / rel).read_text() + text)

    def run_check(self):
        return subprocess.run([sys.executable, str(CHECK), str(self.root)], capture_output=True,
                              text=True, timeout=120)

    def breaches(self, r):
        return [line for line in r.stdout.splitlines() if "checked" not in line]

    def test_a_tree_that_keeps_the_layers_passes(self):
        r = self.run_check()
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        self.assertEqual(self.breaches(r), [])
        self.assertIn(f"{sum(1 for rel in CLEAN_TREE if not rel.startswith('tests/'))}"
                      " files checked against the layers, 0 breaches", r.stdout)

    def test_an_include_up_the_layers_and_the_cycle_it_makes_are_named(self):
        # net/ reaching up into the settings store, which includes net/.
        self.append("net/Utils.cpp", '#include "framework/Settings.h"\n')
        r = self.run_check()
        self.assertEqual(r.returncode, 1, r.stdout + r.stderr)
        found = self.breaches(r)
        self.assertEqual(len(found), 2, r.stdout)
        self.assertTrue(found[0].startswith(
            "net/Utils.cpp:4: net/ includes framework/Settings.h of the higher layer framework/"),
                        r.stdout)
        self.assertEqual(found[1], "net/ and framework/ include each other (net/Utils.cpp:4 and"
                         " framework/Settings.h:3); one of them must not")

    def test_the_longest_folder_decides_the_layer(self):
        # framework/lang/ lies below framework/, and framework/qt/ above vcl/.
        self.append("framework/lang/Lang.h", '#include "framework/Settings.h"\n')
        self.append("vcl/Forms.h", '#include "framework/qt/Engine.h"\n')
        r = self.run_check()
        self.assertEqual(r.returncode, 1, r.stdout + r.stderr)
        wrong_way = [b for b in self.breaches(r) if "of the higher layer" in b]
        self.assertEqual(sorted(b.split(" of the higher layer ")[0] for b in wrong_way), [
            "framework/lang/Lang.h:3: framework/lang/ includes framework/Settings.h",
            "vcl/Forms.h:4: vcl/ includes framework/qt/Engine.h",
        ], r.stdout)

    def test_program_code_never_includes_test_code(self):
        self.append("proxy/Manager.cpp", '#include "tests/support/Wait.h"\n')
        r = self.run_check()
        self.assertEqual(r.returncode, 1, r.stdout + r.stderr)
        self.assertEqual(len(self.breaches(r)), 1, r.stdout)
        self.assertTrue(self.breaches(r)[0].startswith(
            "proxy/Manager.cpp:2: includes tests/support/Wait.h, which is outside the program's"
            " layers"), r.stdout)

    def test_qt_headers_belong_to_framework_qt_not_to_the_rest_of_framework(self):
        self.append("framework/Settings.h", "#include <QString>\n")
        r = self.run_check()
        self.assertEqual(r.returncode, 1, r.stdout + r.stderr)
        self.assertEqual(self.breaches(r), [
            "framework/Settings.h:4: Qt header <QString> in code that does not draw a window"
        ])


if __name__ == "__main__":
    unittest.main()
