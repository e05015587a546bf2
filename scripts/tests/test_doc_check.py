"""The markdown checks: broken relative links and unchecked console blocks are named."""

import os
import sys
import tempfile
import unittest
from pathlib import Path

sys.path.insert(0, os.path.join(os.path.dirname(__file__), ".."))
import doc_check  # noqa: E402


class DocCheckTest(unittest.TestCase):
    def test_links_and_fences(self):
        with tempfile.TemporaryDirectory() as tmp:
            (Path(tmp) / "docs").mkdir()
            (Path(tmp) / "docs" / "a.md").write_text("")
            page = Path(tmp) / "README.md"
            text = "\n".join([
                "[ok](docs/a.md#part) [web](https://example.org) [here](#top)",
                '<img src="docs/missing.png"> `[code](not/a/link.md)`',
                "[gone](docs/b.md)",
                "```console",
                "$ ls",
                "```",
                "```sh",
                "[inside](a/fence.md)",
                "```",
            ])
            self.assertEqual(doc_check.faults(page, text), [
                f"{page}:2: link to docs/missing.png: no such file",
                f"{page}:3: link to docs/b.md: no such file",
                f"{page}:4: a fenced console example is not checked; write it as an indented "
                "transcript (see scripts/examples)",
            ])


if __name__ == "__main__":
    unittest.main()
