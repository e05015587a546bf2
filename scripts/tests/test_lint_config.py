"""The lint configuration finds the faults it is there for and stays quiet on design-like code.

Runs clang-tidy (with the repository's .clang-tidy) and cppcheck (with the options scripts/lint
uses) on two fixtures: planted_faults.cpp, where every faulty line carries the id of the check
that must report it, and design_clean.cpp, which must draw no finding at all.
"""

import os
import re
import subprocess
import unittest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
FIXTURES = os.path.join(ROOT, "scripts", "tests", "lint_fixtures")
FLAGS = ["-std=c++17", "-Wall", "-Wextra", "-fno-exceptions", "-fno-rtti", "-I" + ROOT]
# file:line:column: severity: message [id(,id...)]
FINDING = re.compile(r"^(?P<file>[^:\s]+):(?P<line>\d+):\d+: (?:error|warning|style|"
                     r"performance|portability): .*\[(?P<ids>[^\]]+)\]$")
EXPECT = re.compile(r"//\s*expect:\s*(\S+)")


def findings(path):
    """{line: set of check ids} from both tools for one fixture."""
    tidy = subprocess.run(["clang-tidy", "--quiet", path, "--"] + FLAGS,
                          capture_output=True, text=True, cwd=ROOT)
    cppcheck = subprocess.run(
        ["cppcheck", "--quiet", "--std=c++17", "--library=posix",
         "--library=" + os.path.join(ROOT, "scripts", "cppcheck-std-names.cfg"),
         "--enable=warning,performance,portability", "--inline-suppr", "-I", ROOT,
         "--template={file}:{line}:{column}: {severity}: {message} [{id}]", path],
        capture_output=True, text=True, cwd=ROOT)
    found = {}
    for text in (tidy.stdout, tidy.stderr, cppcheck.stdout, cppcheck.stderr):
        for row in text.splitlines():
            m = FINDING.match(row)
            if m and os.path.basename(m.group("file")) == os.path.basename(path):
                ids = {i for i in m.group("ids").split(",") if i != "-warnings-as-errors"}
                found.setdefault(int(m.group("line")), set()).update(ids)
    return found


def expected(path):
    """{line: check id} from the `// expect:` markers."""
    with open(path, encoding="utf-8") as f:
        return {n: m.group(1) for n, row in enumerate(f, start=1) if (m := EXPECT.search(row))}


class LintConfigTest(unittest.TestCase):
    def test_every_planted_fault_is_reported(self):
        path = os.path.join(FIXTURES, "planted_faults.cpp")
        want = expected(path)
        got = findings(path)
        self.assertGreaterEqual(len(want), 10)
        for line, check in sorted(want.items()):
            with self.subTest(line=line, check=check):
                self.assertIn(check, got.get(line, set()), f"line {line}: reported {got.get(line)}")

    def test_nothing_unplanted_is_reported(self):
        path = os.path.join(FIXTURES, "planted_faults.cpp")
        extra = {line: ids for line, ids in findings(path).items() if line not in expected(path)}
        self.assertEqual(extra, {})

    def test_design_like_code_is_clean(self):
        self.assertEqual(findings(os.path.join(FIXTURES, "design_clean.cpp")), {})


if __name__ == "__main__":
    unittest.main()
