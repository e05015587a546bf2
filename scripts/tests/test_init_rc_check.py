"""The init scripts' check: the repository's scripts hold against an image script shaped as the
recovery image's, and each fault of the hand-off is named."""

import os
import sys
import unittest
from pathlib import Path

sys.path.insert(0, os.path.join(os.path.dirname(__file__), ".."))
import init_rc_check as irc  # noqa: E402

ROOT = Path(__file__).resolve().parents[2]
RECOVERY = (ROOT / "android/recovery/zelt-animation.rc").read_text()
NORMAL = (ROOT / "android/zelt-animation.rc").read_text()

# The parts of the recovery image's init.rc the hand-off depends on.
IMAGE = """
on init
    start servicemanager
on boot
    class_start default
    class_start hal
on late-init
    trigger fs
    trigger early-boot
    trigger boot
service ueventd /system/bin/ueventd
    critical
service recovery /system/bin/recovery
    seclabel u:r:recovery:s0
on property:sys.usb.config=adb
    start adbd
service adbd /system/bin/adbd
    disabled
"""
CONTEXTS = """
# comment
sys.            u:object_r:system_prop:s0
ro.boot.        u:object_r:bootloader_prop:s0
zelt.exact      u:object_r:zelt_prop:s0 exact string
*               u:object_r:default_prop:s0
"""


def recovery(project=RECOVERY, image=IMAGE):
    return irc.check([("init.rc", image), ("zelt.rc", project)], [CONTEXTS], recovery=True)


def edit(old, new, text=RECOVERY):
    assert old in text, old
    return text.replace(old, new)


class RecoveryTest(unittest.TestCase):
    def test_the_repository_scripts_hold(self):
        self.assertEqual(recovery(), [])
        self.assertEqual(irc.check([("zelt.rc", NORMAL)], [CONTEXTS], recovery=False), [])

    def test_each_fault_of_the_project_script(self):
        not_run = "service zelt-animation: no exec_start runs it before boot"
        cases = [
            ("narrowed by a typed property",
             edit("on early-boot\n", "on early-boot && property:ro.boot.zelt=1\n"), []),
            ("exec_start on boot", edit("on early-boot\n", "on boot\n"),
             ['exec_start zelt-animation is in an action on "boot", which init does not trigger '
              "before boot (it triggers early-init, init, late-init, fs, early-boot, boot)",
              not_run]),
            ("exec_start on a property alone", edit("on early-boot\n", "on property:sys.z=1\n"),
             ['exec_start zelt-animation is in an action on "property"', not_run]),
            ("an event init never triggers", edit("on early-boot\n", "on early-bot\n"),
             ['on "early-bot"', not_run]),
            ("started by start", edit("exec_start zelt", "start zelt"),
             ["start zelt-animation: zelt-animation is run only by exec_start", not_run]),
            ("restarted as well", RECOVERY + "on boot\n    restart zelt-animation\n",
             ["restart zelt-animation: zelt-animation is run only by exec_start"]),
            ("exec_start of a misspelt service",
             edit("exec_start zelt-animation", "exec_start zelt"),
             ["exec_start zelt: no service zelt is defined", not_run]),
            ("timeout_period 0", edit("timeout_period 6", "timeout_period 0"),
             ["timeout_period 0: not a whole number of seconds >= 1"]),
            ("timeout_period -1", edit("timeout_period 6", "timeout_period -1"),
             ["timeout_period -1: not a whole number of seconds >= 1"]),
            ("no timeout_period", edit("    timeout_period 6\n", ""),
             ["service zelt-animation has no timeout_period"]),
            ("not oneshot", edit("    oneshot\n", ""), ["service zelt-animation is not oneshot"]),
            ("not disabled", edit("    disabled\n", ""),
             ["service zelt-animation is not disabled: where no exec_start runs it"]),
            ("the recovery service held back",
             RECOVERY + "service recovery /system/bin/recovery\n    override\n    disabled\n",
             ["service recovery: the project's script defines the image's recovery service",
              "zelt.rc:39: service recovery is not started by"]),
            ("stop recovery", RECOVERY + "    stop recovery\n",
             ["stop recovery: the project's script holds back the image's recovery service"]),
            ("class_reset default", RECOVERY + "    class_reset default\n",
             ["class_reset default: the project's script holds back"]),
        ]
        for name, project, expected in cases:
            with self.subTest(name):
                faults = recovery(project)
                self.assertEqual(len(faults), len(expected), faults)
                for fault, part in zip(faults, expected):
                    self.assertIn(part, fault)
                    self.assertTrue(fault.startswith("zelt.rc:"), fault)

    def test_faults_of_the_image_script(self):
        not_started = 'service recovery is not started by "class_start default" in "on boot"'
        cases = [
            ("recovery disabled", edit("/bin/recovery\n", "/bin/recovery\n    disabled\n", IMAGE),
             [not_started]),
            ("recovery of another class",
             edit("/bin/recovery\n", "/bin/recovery\n    class main\n", IMAGE), [not_started]),
            ("class_start default not on boot",
             edit("on late-init\n", "on late-init\n    class_start default\n",
                  edit("    class_start default\n", "", IMAGE)), [not_started]),
            ("boot never triggered", edit("    trigger boot\n", "", IMAGE), [not_started]),
            ("early-boot triggered in one mode only",
             edit("    trigger early-boot\n",
                  "on late-init && property:sys.x=1\n    trigger early-boot\non late-init\n",
                  IMAGE),
             ['exec_start zelt-animation is in an action on "early-boot"',
              "service zelt-animation: no exec_start runs it before boot"]),
            ("a class no service has", IMAGE + "on boot\n    class_start core\n",
             ["init.rc:20: class_start core: no service is of class core"]),
            ("an untyped property", IMAGE + "on property:zelt.mode=1\n    start adbd\n",
             ["init.rc:19: on property:zelt.mode: the property contexts give zelt.mode no type"]),
            ("an exact entry names only itself",
             IMAGE + "on property:zelt.exact=1 && property:zelt.exact.x=1\n    start adbd\n",
             ["on property:zelt.exact.x: the property contexts give zelt.exact.x no type"]),
        ]
        for name, image, expected in cases:
            with self.subTest(name):
                faults = recovery(image=image)
                self.assertEqual(len(faults), len(expected), faults)
                for fault, part in zip(faults, expected):
                    self.assertIn(part, fault)

    def test_the_normal_boot_script_only_declares(self):
        cases = [
            ("started by its own trigger", NORMAL + "on boot\n    start zelt-animation\n",
             ["zelt.rc:18: on boot: the normal boot's script only declares the service"]),
            ("not disabled", edit("    disabled\n", "", NORMAL),
             ["service zelt-animation is not disabled"]),
        ]
        for name, text, expected in cases:
            with self.subTest(name):
                faults = irc.check([("zelt.rc", text)], [CONTEXTS], recovery=False)
                self.assertEqual(len(faults), len(expected), faults)
                for fault, part in zip(faults, expected):
                    self.assertIn(part, fault)


class TokenizeTest(unittest.TestCase):
    def test_words_and_line_numbers_as_init_reads_them(self):
        # A continuation goes on with the word it is in; after a blank it starts the next one.
        text = ('# a comment\nservice a /bin/a # trailing\n    arg \\\n      "x y" b#c\\\n'
                '  d\n\n    e\\tf\n')
        self.assertEqual([(line.number, line.words) for line in irc.tokenize("f", text)],
                         [(2, ["service", "a", "/bin/a"]), (3, ["arg", "x y", "b#cd"]),
                          (7, ["e\tf"])])

if __name__ == "__main__":
    unittest.main()
