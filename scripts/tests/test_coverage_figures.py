"""Coverage figures: sums per folder, the goal verdicts, and the rewrite of docs/coverage.md."""

import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), ".."))
import coverage_figures as cf  # noqa: E402


def entry(name, lines, branches):
    return {"filename": name, "line_covered": lines[0], "line_total": lines[1],
            "branch_covered": branches[0], "branch_total": branches[1]}


class TallyTest(unittest.TestCase):
    def test_sums_per_folder_and_overall_ignoring_other_code(self):
        areas = cf.tally({"files": [
            entry("image/bmp_open.cpp", (90, 100), (40, 50)),
            entry("image/rle8.cpp", (10, 10), (5, 10)),
            entry("player/animation.cpp", (5, 10), (1, 2)),
            entry("tools/screen_format.cpp", (0, 500), (0, 100)),
            entry("tests/double/double.cpp", (0, 50), (0, 10)),
            entry("imagery/not_the_reader.cpp", (0, 7), (0, 7)),
        ]})
        self.assertEqual(areas["image"], {"lines": [100, 110], "branches": [45, 60]})
        self.assertEqual(areas["screen"], {"lines": [0, 0], "branches": [0, 0]})
        self.assertEqual(areas["all"], {"lines": [105, 120], "branches": [46, 62]})


class GoalsTest(unittest.TestCase):
    def verdict(self, image_lines, image_branches, all_lines):
        areas = {a: {"lines": [0, 0], "branches": [0, 0]} for a in cf.FOLDERS + ("all",)}
        areas["image"] = {"lines": list(image_lines), "branches": list(image_branches)}
        areas["all"] = {"lines": list(all_lines), "branches": [0, 0]}
        return cf.missed_goals(areas)

    def test_verdicts(self):
        cases = [
            # name, image lines, image branches, all lines, number of goals missed
            ("every goal met exactly", (95, 100), (85, 100), (90, 100), 0),
            ("reader lines just short", (949, 1000), (85, 100), (90, 100), 1),
            ("reader branches just short", (95, 100), (849, 1000), (90, 100), 1),
            ("overall lines just short", (95, 100), (85, 100), (899, 1000), 1),
            ("reader never measured", (0, 0), (0, 0), (90, 100), 2),
            ("nothing measured at all", (0, 0), (0, 0), (0, 0), 3),
        ]
        for name, lines, branches, overall, missed in cases:
            with self.subTest(name):
                self.assertEqual(len(self.verdict(lines, branches, overall)), missed)


class DocsTest(unittest.TestCase):
    AREAS = cf.tally({"files": [entry("image/a.cpp", (1, 2), (1, 4))]})

    def block(self):
        return cf.figures_block(self.AREAS, [], "abc1234", "2026-01-01")

    def test_replaces_only_the_marked_part(self):
        text = ("# Coverage\nintro\n" + cf.BEGIN + "\nold figures\n" + cf.END +
                "\n\n## Notes\nscreen.cpp: the mapping call cannot fail here.\n")
        result = cf.rewrite_docs(text, self.block())
        self.assertNotIn("old figures", result)
        self.assertIn("| image/ | 50.0% (1/2) | 25.0% (1/4) |", result)
        self.assertTrue(result.startswith("# Coverage\nintro\n" + cf.BEGIN))
        self.assertTrue(result.endswith("## Notes\nscreen.cpp: the mapping call cannot fail here.\n"))
        self.assertEqual(cf.rewrite_docs(result, self.block()), result)

    def test_appends_when_unmarked(self):
        for text in ("# Coverage\n", "# Coverage\n" + cf.BEGIN + "\nend marker lost\n"):
            with self.subTest(text=text):
                result = cf.rewrite_docs(text, self.block())
                self.assertTrue(result.startswith(text.rstrip("\n")))
                self.assertTrue(result.endswith(cf.END + "\n"))


if __name__ == "__main__":
    unittest.main()
