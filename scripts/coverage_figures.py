"""Coverage figures per product folder, checked against the project's goals.

Reads the JSON summary gcovr writes, prints lines and branches per folder (player/, screen/,
image/) and overall, and with --docs FILE rewrites the part of FILE between the figures markers
(the rest of FILE, such as its notes, stays as written). Exits 1 when a goal is missed.
"""

import argparse
import datetime
import json
import subprocess
import sys

FOLDERS = ("image", "screen", "player")
BEGIN = "<!-- figures:begin (written by scripts/coverage) -->"
END = "<!-- figures:end -->"

# (area, measure, minimum percent). "all" is the three folders together.
GOALS = (
    ("image", "lines", 95.0),
    ("image", "branches", 85.0),
    ("all", "lines", 90.0),
)


def tally(summary):
    """Returns {area: {"lines": [covered, total], "branches": [covered, total]}}."""
    areas = {a: {"lines": [0, 0], "branches": [0, 0]} for a in FOLDERS + ("all",)}
    for f in summary["files"]:
        folder = f["filename"].replace("\\", "/").split("/", 1)[0]
        if folder not in FOLDERS:
            continue
        for area in (folder, "all"):
            areas[area]["lines"][0] += f["line_covered"]
            areas[area]["lines"][1] += f["line_total"]
            areas[area]["branches"][0] += f["branch_covered"]
            areas[area]["branches"][1] += f["branch_total"]
    return areas


def percent(pair):
    covered, total = pair
    return None if total == 0 else 100.0 * covered / total


def missed_goals(areas):
    """Goals not met, as text lines; an area with nothing measured misses its goals."""
    missed = []
    for area, measure, minimum in GOALS:
        value = percent(areas[area][measure])
        if value is None or value < minimum:
            shown = "nothing measured" if value is None else f"{value:.1f}%"
            missed.append(f"{label(area)} {measure}: {shown}, goal {minimum:.0f}%")
    return missed


def label(area):
    return "all product code" if area == "all" else area + "/"


def cell(pair):
    value = percent(pair)
    if value is None:
        return "-"
    return f"{value:.1f}% ({pair[0]}/{pair[1]})"


def table(areas):
    rows = ["| Code | Lines | Branches |", "| --- | --- | --- |"]
    for area in FOLDERS + ("all",):
        rows.append(f"| {label(area)} | {cell(areas[area]['lines'])} | "
                    f"{cell(areas[area]['branches'])} |")
    return "\n".join(rows)


def figures_block(areas, missed, revision, day):
    goals = "; ".join(f"{label(a)} {m} >= {v:.0f}%" for a, m, v in GOALS)
    verdict = "all goals met" if not missed else "missed: " + "; ".join(missed)
    return "\n".join([
        BEGIN,
        f"Measured on {day} at revision {revision} by `scripts/coverage`.",
        "",
        table(areas),
        "",
        f"Goals: {goals}. Result: {verdict}.",
        END,
    ])


def rewrite_docs(text, block):
    """Puts `block` in place of the marked part of `text`, or at its end when unmarked."""
    start = text.find(BEGIN)
    stop = text.find(END, start + 1) if start >= 0 else -1
    if start < 0 or stop < 0:
        return text.rstrip("\n") + "\n\n" + block + "\n"
    return text[:start] + block + text[stop + len(END):]


def revision():
    try:
        out = subprocess.run(["git", "rev-parse", "--short", "HEAD"], capture_output=True,
                             text=True, check=True)
        return out.stdout.strip()
    except (OSError, subprocess.CalledProcessError):
        return "unknown"


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("summary", help="gcovr --json-summary output")
    parser.add_argument("--docs", help="markdown file whose figures part is rewritten")
    args = parser.parse_args(argv)

    with open(args.summary, encoding="utf-8") as f:
        areas = tally(json.load(f))
    missed = missed_goals(areas)

    print(table(areas))
    for line in missed:
        print("below goal: " + line)
    if args.docs:
        try:
            with open(args.docs, encoding="utf-8") as f:
                text = f.read()
        except FileNotFoundError:
            text = "# Coverage\n"
        block = figures_block(areas, missed, revision(), datetime.date.today().isoformat())
        with open(args.docs, "w", encoding="utf-8") as f:
            f.write(rewrite_docs(text, block))
    return 1 if missed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
