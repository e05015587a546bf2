"""scripts/apt_install.sh against a stand-in apt-get: a failed refresh of the package lists is a
warning, and only an install that cannot be done fails."""
import os
import subprocess
import tempfile
import unittest

SCRIPT = os.path.join(os.path.dirname(__file__), "..", "apt_install.sh")
# Logs each call; "update" fails unless UPDATE=ok; "install" fails its first INSTALL_FAILS calls.
FAKE_APT_GET = """#!/bin/sh
echo "$1" >>"$LOG"
case $1 in
update) [ "$UPDATE" = ok ] ;;
install) [ "$(grep -c '^install' "$LOG")" -gt "$INSTALL_FAILS" ] ;;
esac
"""
WARNING = "warning: apt-get update failed; trying with the package lists at hand\n"

CASES = [
    # name, update, install failures, status, calls, warned
    ("lists at hand hold it", "fail", 0, 0, ["install"], False),
    ("refreshed after a failed install", "ok", 1, 0, ["install", "update", "install"], False),
    ("refresh fails, lists at hand do", "fail", 1, 0, ["install", "update", "install"], True),
    ("cannot be installed", "fail", 2, 1, ["install", "update", "install"], True),
]


class AptInstallTest(unittest.TestCase):
    def test_installs_whenever_the_package_can_be_had(self):
        for name, update, fails, status, calls, warned in CASES:
            with self.subTest(name), tempfile.TemporaryDirectory() as work:
                for tool, text in (("apt-get", FAKE_APT_GET), ("sudo", 'exec "$@"'),
                                   ("dpkg-query", "exit 1")):
                    path = os.path.join(work, tool)
                    with open(path, "w") as f:
                        f.write("#!/bin/sh\n" + text if tool != "apt-get" else text)
                    os.chmod(path, 0o755)
                log = os.path.join(work, "log")
                env = dict(os.environ, PATH=work + os.pathsep + os.environ["PATH"], LOG=log,
                           UPDATE=update, INSTALL_FAILS=str(fails))
                r = subprocess.run(["bash", "-c", f'source "{SCRIPT}"; apt_install_missing pkg'],
                                   env=env, capture_output=True, text=True)
                self.assertEqual(r.returncode, status, r.stderr)
                with open(log) as f:
                    self.assertEqual(f.read().split(), calls)
                self.assertEqual(r.stderr, WARNING if warned else "")


if __name__ == "__main__":
    unittest.main()
