"""The system test's harness leaves nothing behind when QEMU's monitor never answers: a stand-in
QEMU that opens its monitor socket and then stays silent."""
import argparse
import glob
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tests", "system"))
import run_machine  # noqa: E402

SILENT_QEMU = r'''
import os, socket, sys, time
path = [a for a in sys.argv if a.startswith("unix:")][0][5:].split(",")[0]
open(os.path.join(sys.argv[1], "pid"), "w").write(str(os.getpid()))
server = socket.socket(socket.AF_UNIX)
server.bind(path)
server.listen(1)
connection, _ = server.accept()
time.sleep(600)
'''


class SilentMonitorTest(unittest.TestCase):
    def test_no_process_and_no_socket_folder_are_left(self):
        with tempfile.TemporaryDirectory() as work:
            fake = os.path.join(work, "qemu.py")
            with open(fake, "w") as f:
                f.write(SILENT_QEMU)
            saved = run_machine.QEMU["aarch64"], run_machine.QMP_TIMEOUT_S
            run_machine.QEMU["aarch64"] = [sys.executable, fake, work]
            run_machine.QMP_TIMEOUT_S = 1
            before = set(glob.glob(os.path.join(tempfile.gettempdir(), "zelt-qmp-*")))
            try:
                args = argparse.Namespace(target="aarch64", kernel="k", initrd="i")
                with self.assertRaises(OSError):
                    run_machine.Machine(args, "play", None, work)
            finally:
                run_machine.QEMU["aarch64"], run_machine.QMP_TIMEOUT_S = saved
            after = set(glob.glob(os.path.join(tempfile.gettempdir(), "zelt-qmp-*")))
            self.assertEqual(after - before, set())
            with open(os.path.join(work, "pid")) as f:
                pid = int(f.read())
            with self.assertRaises(ProcessLookupError):
                os.kill(pid, 0)


if __name__ == "__main__":
    unittest.main()
