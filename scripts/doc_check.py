"""Checks of the markdown pages that need no tool run: every relative link resolves to a file
or folder in the repository, and no console example sits outside the checked transcripts (an
example is an indented block of `$ ` lines that scripts/examples replays, never a fenced
console block, which nothing would check).

    doc_check.py FILE.md...     prints one line per fault; exit 1 when there is any
"""

import re
import sys
from pathlib import Path

LINK = re.compile(r"\]\(([^)\s]+)(?:\s+\"[^\"]*\")?\)|<img\s[^>]*src=\"([^\"]+)\"")
FENCE = re.compile(r"^\s*```+\s*(console|shell-session)\b")


def faults(path, text):
    found = []
    in_fence = False
    for number, line in enumerate(text.splitlines(), 1):
        if line.lstrip().startswith("```"):
            if FENCE.match(line) and not in_fence:
                found.append(f"{path}:{number}: a fenced console example is not checked; "
                             "write it as an indented transcript (see scripts/examples)")
            in_fence = not in_fence
            continue
        if in_fence:
            continue
        for match in LINK.finditer(re.sub(r"`[^`]*`", "", line)):
            target = match.group(1) or match.group(2)
            if re.match(r"^[a-z]+:", target) or target.startswith("#"):
                continue
            if not (path.parent / target.split("#")[0]).exists():
                found.append(f"{path}:{number}: link to {target}: no such file")
    return found


def main(argv):
    found = []
    for name in argv[1:]:
        path = Path(name)
        found += faults(path, path.read_text())
    for line in found:
        print(line)
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
