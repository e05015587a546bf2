"""Where the Android checks take their sources from, and that a missing kit cannot pass in CI."""
import os
import subprocess
import tempfile
import unittest

KIT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "android_kit.sh")
RUN = 'source "$KIT_SH"; android_top scripts/x-check missing.tar.xz missing; echo "top $ANDROID_TOP"'


class AndroidTopTest(unittest.TestCase):
    def test_each_source(self):
        rows = [  # environment, exit status, what it prints
            ({"CI": "1"}, 1, "scripts/x-check: no /nowhere/missing.tar.xz: CI needs it"),
            ({}, 3, "scripts/x-check: skipped: no /nowhere/missing.tar.xz"),
            ({"CI": "1", "ANDROID_BUILD_TOP": "/aosp"}, 0, "top /aosp"),
        ]
        for extra, status, text in rows:
            with self.subTest(extra=extra), tempfile.TemporaryDirectory() as work:
                env = {k: v for k, v in os.environ.items()
                       if k not in ("CI", "ANDROID_BUILD_TOP")}
                env.update(extra, KIT_SH=KIT, ZELT_ANDROID_KIT="/nowhere")
                run = subprocess.run(["bash", "-c", RUN], cwd=work, env=env, text=True,
                                     capture_output=True)
                self.assertEqual(run.returncode, status)
                self.assertIn(text, run.stdout + run.stderr)


if __name__ == "__main__":
    unittest.main()
