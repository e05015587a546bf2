"""The Android.bp check: the repository's own Android.bp parses, and a source or flag that
differs from the CMake targets is named."""

import os
import sys
import tempfile
import unittest
from pathlib import Path

sys.path.insert(0, os.path.join(os.path.dirname(__file__), ".."))
import android_bp_check as abc  # noqa: E402

ROOT = Path(__file__).resolve().parents[2]

BP = """
// a comment
cc_defaults {
    name: "d",
    cpp_std: "c++17",
    cflags: ["-Wall", "-Werror"],
    cppflags: ["-fno-rtti"],
}
cc_library_static { name: "libr", defaults: ["d"], srcs: ["image/r.cpp"], }
cc_binary {
    name: "zelt-animation",
    defaults: ["d"],
    srcs: ["player/start.cpp"],
    static_libs: ["libr"],
    init_rc: ["x.rc"],
}
cc_binary { name: "zelt-probe", defaults: ["d"], srcs: ["probe/p.cpp"], static_libs: ["libr"] }
"""


def target(sources, deps=(), flags=("-Wall", "-Werror", "-fno-rtti")):
    return {"type": "X", "sources": set(sources), "deps": list(deps), "flags": set(flags),
            "std": "17"}


def cmake(**changes):
    targets = {
        "reader": target(["image/r.cpp"]),
        "zelt-animation": target(["player/start.cpp"], ["reader"]),
        "zelt-probe": target(["probe/p.cpp"], ["reader"]),
    }
    targets.update(changes)
    return targets


class CompareTest(unittest.TestCase):
    def test_the_repository_android_bp_parses_with_both_binaries(self):
        modules = abc.parse_blueprint((ROOT / "Android.bp").read_text())
        names = {props["name"] for _, props in modules}
        self.assertTrue({"zelt-animation", "zelt-probe"} <= names)

    def test_agreement_and_each_kind_of_disagreement(self):
        modules = abc.parse_blueprint(BP)
        cases = [
            ("agree", cmake(), []),
            ("source CMake added", cmake(reader=target(["image/r.cpp", "image/new.cpp"])),
             ["zelt-animation: image/new.cpp is compiled by CMake but missing from Android.bp",
              "zelt-probe: image/new.cpp is compiled by CMake but missing from Android.bp"]),
            ("source CMake dropped", cmake(**{"zelt-probe": target([], ["reader"])}),
             ["zelt-probe: probe/p.cpp is in Android.bp but not compiled by CMake"]),
            ("product flag CMake added",
             cmake(**{"zelt-probe": target(["probe/p.cpp"], ["reader"],
                                           ("-Wall", "-Werror", "-fno-rtti", "-Wextra"))}),
             [f"{m}: product flag -Wextra missing from cflags/cppflags"
              for m in ("libr", "zelt-animation", "zelt-probe")]),
            ("binary CMake lacks", {k: v for k, v in cmake().items() if k != "zelt-probe"},
             ["CMake has no target zelt-probe"]),
        ]
        for name, targets, expected in cases:
            with self.subTest(name):
                self.assertEqual(abc.compare(modules, targets), expected)

    def test_a_flag_android_bp_adds_is_named(self):
        modules = abc.parse_blueprint(BP.replace('"-fno-rtti"', '"-fno-rtti", "-Wshadow"'))
        self.assertIn("zelt-probe: flag -Wshadow is not a CMake product flag",
                      abc.compare(modules, cmake()))

    def test_install_paths_agree_with_the_init_scripts_and_the_label(self):
        # The repository's own files agree; each fault below, put into a copy, is named.
        text = (ROOT / "Android.bp").read_text()
        self.assertEqual(abc.check_install(abc.parse_blueprint(text), ROOT), [])
        normal, recovery = "android/zelt-animation.rc", "android/recovery/zelt-animation.rc"
        cases = [
            ("system image variant moved to /system", {},
             text.replace("    system_ext_specific: true,\n", "", 1),
             [f"{normal}: the service runs /system_ext/bin/zelt-animation, the program is at "
              "/system/bin/zelt-animation",
              "file_contexts does not label /system/bin/zelt-animation zelt_animation_exec"]),
            ("no recovery variant", {}, text.replace("    recovery_available: true,\n", ""),
             ["zelt-animation has a recovery init script but no recovery variant"]),
            ("recovery service without its domain",
             {recovery: lambda rc: rc.replace("    seclabel u:r:zelt_animation:s0\n", "")}, text,
             [f"{recovery}: the service does not name its domain (seclabel)"]),
        ]
        for name, edits, bp, expected in cases:
            with self.subTest(name), tempfile.TemporaryDirectory() as tmp:
                copy = Path(tmp)
                for rel in (normal, recovery, "android/sepolicy/file_contexts"):
                    (copy / rel).parent.mkdir(parents=True, exist_ok=True)
                    original = (ROOT / rel).read_text()
                    (copy / rel).write_text(edits.get(rel, lambda t: t)(original))
                self.assertEqual(abc.check_install(abc.parse_blueprint(bp), copy), expected)

    def test_unreadable_blueprint_is_refused(self):
        for text in ('cc_binary { name: "x", srcs: [ }', 'x = ["a"]', "cc_binary { name: }"):
            with self.subTest(text):
                with self.assertRaises(ValueError):
                    abc.parse_blueprint(text)


if __name__ == "__main__":
    unittest.main()
