"""The system test's bionic build reports a failed step: it is called in a condition, where
set -e does not hold, and a binary left from an earlier build must not be tested in its place."""
import os
import subprocess
import tempfile
import unittest

SCRIPTS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")

# Runs system_bionic aarch64 as scripts/system-test does, with the kit present or not and a
# cmake that fails at the named step; prints its status and whether a program was handed over.
RUN = r'''
set -euo pipefail
source "$SCRIPTS/packages.sh"
source "$SCRIPTS/cross-suite"
source "$SCRIPTS/system.sh"
zelt_install_missing() { :; }
bionic_at_hand() { [ "$KIT" = yes ]; }
mkdir -p build-system-aarch64 build-system-bionic-arm64
touch build-system-bionic-arm64/zelt-animation  # left from an earlier build
status=0
if system_bionic aarch64; then :; else status=$?; fi
echo "$status $(test -e build-system-aarch64/zelt-animation-bionic && echo handed || echo none)"
'''

CMAKE = '#!/bin/sh\ncase "$1" in {fail}) exit 1 ;; esac\nexit 0\n'


class BionicBuildTest(unittest.TestCase):
    def test_each_outcome(self):
        rows = [  # kit, cmake's failing first argument, expected output
            ("yes", "none", "0 handed"),
            ("yes", "--preset", "1 none"),
            ("yes", "--build", "1 none"),
            ("no", "none", "2 none"),
        ]
        for kit, fail, expected in rows:
            with self.subTest(kit=kit, fail=fail), tempfile.TemporaryDirectory() as work:
                os.mkdir(os.path.join(work, "bin"))
                cmake = os.path.join(work, "bin", "cmake")
                with open(cmake, "w") as f:
                    f.write(CMAKE.format(fail=fail))
                os.chmod(cmake, 0o755)
                env = dict(os.environ, SCRIPTS=SCRIPTS, KIT=kit,
                           PATH=os.path.join(work, "bin") + os.pathsep + os.environ["PATH"])
                out = subprocess.run(["bash", "-c", RUN], cwd=work, env=env, text=True,
                                     capture_output=True, check=True).stdout.split("\n")
                self.assertEqual(out[-2], expected)


if __name__ == "__main__":
    unittest.main()
