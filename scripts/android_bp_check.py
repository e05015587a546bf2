"""Holds Android.bp to CMakeLists.txt: each binary module compiles the same sources as the CMake
target of the same name (its own and those of every library it links, followed through both
files), and every module carries the product flags and language level of the CMake product
targets.

    android_bp_check.py ANDROID_BP CMAKE_BUILD_DIR

CMAKE_BUILD_DIR is a build folder configured with a file API query for "codemodel-v2" (see
scripts/android-check). Prints one line per disagreement and exits 1 when there is any.
"""

import json
import re
import sys
from pathlib import Path

# The binaries an image build installs; each must exist in both files.
BINARIES = ("zelt-animation", "zelt-probe")
# Product compile flags that Android.bp must repeat (warnings, no exceptions, no RTTI).
PRODUCT_FLAG = re.compile(r"^(-W[a-z-]+|-fno-exceptions|-fno-rtti)$")

_TOKEN = re.compile(
    r'\s+|//[^\n]*|/\*.*?\*/|(?P<str>"(?:[^"\\]|\\.)*")|(?P<word>[A-Za-z_][A-Za-z0-9_]*)'
    r"|(?P<num>-?[0-9]+)|(?P<punct>[{}\[\]:,=+])",
    re.S,
)


def _tokens(text):
    pos = 0
    while pos < len(text):
        m = _TOKEN.match(text, pos)
        if not m:
            raise ValueError(f"Android.bp: cannot read from offset {pos}: {text[pos:pos + 20]!r}")
        pos = m.end()
        if m.lastgroup:
            yield m.lastgroup, m.group(m.lastgroup)


def parse_blueprint(text):
    """Returns [(module_type, {property: value})]. Takes modules whose values are strings,
    numbers, booleans, lists and maps; variables and '+' are refused (not used here)."""
    toks = list(_tokens(text))
    pos = 0

    def take(kind=None, value=None):
        nonlocal pos
        if pos >= len(toks):
            raise ValueError("Android.bp: unexpected end")
        k, v = toks[pos]
        if (kind and k != kind) or (value and v != value):
            raise ValueError(f"Android.bp: expected {value or kind}, found {v!r}")
        pos += 1
        return v

    def peek():
        return toks[pos][1] if pos < len(toks) else None

    def value():
        k, v = toks[pos]
        if k == "str":
            take()
            return json.loads(v)
        if k == "num":
            take()
            return int(v)
        if v in ("true", "false"):
            take()
            return v == "true"
        if v == "[":
            take()
            items = []
            while peek() != "]":
                items.append(value())
                if peek() == ",":
                    take()
            take(value="]")
            return items
        if v == "{":
            return properties()
        raise ValueError(f"Android.bp: unsupported value {v!r} (variables are not used here)")

    def properties():
        take(value="{")
        props = {}
        while peek() != "}":
            name = take("word")
            take(value=":")
            props[name] = value()
            if peek() == ",":
                take()
        take(value="}")
        return props

    modules = []
    while pos < len(toks):
        kind = take("word")
        if peek() != "{":
            raise ValueError(f"Android.bp: only modules are used here, found {kind!r}")
        modules.append((kind, properties()))
    return modules


def read_cmake_targets(build_dir):
    """{target name: {"type", "sources", "deps", "flags", "std"}} from the file API reply."""
    reply = Path(build_dir) / ".cmake" / "api" / "v1" / "reply"
    index = max(reply.glob("index-*.json"))
    entry = json.loads(index.read_text())["reply"]
    codemodel_file = next(v for k, v in entry.items() if k.startswith("client-"))["codemodel-v2"]
    codemodel = json.loads((reply / codemodel_file["jsonFile"]).read_text())
    config = codemodel["configurations"][0]
    by_id = {}
    for t in config["targets"]:
        by_id[t["id"]] = json.loads((reply / t["jsonFile"]).read_text())
    targets = {}
    for data in by_id.values():
        flags, std = set(), None
        for group in data.get("compileGroups", []):
            for frag in group.get("compileCommandFragments", []):
                flags.update(frag["fragment"].split())
            std = group.get("languageStandard", {}).get("standard", std)
        targets[data["name"]] = {
            "type": data["type"],
            "sources": {s["path"] for s in data.get("sources", []) if not s.get("isGenerated")},
            "deps": [by_id[d["id"]]["name"] for d in data.get("dependencies", [])],
            "flags": {f for f in flags if PRODUCT_FLAG.match(f)},
            "std": std,
        }
    return targets


def _closure(name, direct_sources, links):
    seen, todo, sources = set(), [name], set()
    while todo:
        n = todo.pop()
        if n in seen:
            continue
        seen.add(n)
        sources |= direct_sources.get(n, set())
        todo.extend(links.get(n, []))
    return sources


def compare(modules, targets):
    """The disagreements between the parsed Android.bp and the CMake targets, one line each."""
    problems = []
    defaults = {p["name"]: p for kind, p in modules if kind == "cc_defaults"}
    mods = {p["name"]: p for kind, p in modules if kind != "cc_defaults"}

    def prop(module, key):
        values = []
        for d in module.get("defaults", []):
            values += defaults.get(d, {}).get(key, [])
        return values + module.get(key, [])

    def std(module):
        for d in module.get("defaults", []):
            if "cpp_std" in defaults.get(d, {}):
                return defaults[d]["cpp_std"]
        return module.get("cpp_std")

    bp_sources = {n: set(m.get("srcs", [])) for n, m in mods.items()}
    bp_links = {n: m.get("static_libs", []) + m.get("shared_libs", []) for n, m in mods.items()}
    cm_sources = {n: t["sources"] for n, t in targets.items()}
    cm_links = {n: t["deps"] for n, t in targets.items()}
    product_flags = set()
    for name in BINARIES:
        if name not in targets:
            problems.append(f"CMake has no target {name}")
            continue
        product_flags |= targets[name]["flags"]
        if name not in mods:
            problems.append(f"Android.bp has no module {name}")
            continue
        ours = _closure(name, bp_sources, bp_links)
        theirs = _closure(name, cm_sources, cm_links)
        for src in sorted(theirs - ours):
            problems.append(f"{name}: {src} is compiled by CMake but missing from Android.bp")
        for src in sorted(ours - theirs):
            problems.append(f"{name}: {src} is in Android.bp but not compiled by CMake")
        cm_std = targets[name]["std"]
        if cm_std and std(mods[name]) != f"c++{cm_std}":
            problems.append(f"{name}: cpp_std is {std(mods[name])!r}, CMake builds C++{cm_std}")
    compiled = {p["name"]: p for kind, p in modules if kind.startswith("cc_") and kind != "cc_defaults"}
    for name, module in sorted(compiled.items()):
        flags = set(prop(module, "cflags") + prop(module, "cppflags"))
        for flag in sorted(product_flags - flags):
            problems.append(f"{name}: product flag {flag} missing from cflags/cppflags")
        for flag in sorted({f for f in flags if PRODUCT_FLAG.match(f)} - product_flags):
            problems.append(f"{name}: flag {flag} is not a CMake product flag")
    return problems


def _service_lines(rc_text, service):
    """The `service SERVICE PATH` line's path and the options under it, from an init script."""
    path, options, inside = None, [], False
    for line in rc_text.splitlines():
        words = line.split()
        if not words or words[0].startswith("#"):
            continue
        if words[0] in ("service", "on", "import"):
            inside = words[0] == "service" and words[1] == service
            if inside:
                path = words[2]
            continue
        if inside:
            options.append(" ".join(words))
    return path, options


def check_install(modules, root):
    """Where the program is installed agrees with its init scripts and its label: the system
    image's service runs the path its partition gives, which file_contexts labels as the
    program's; the recovery image's runs /system/bin/zelt-animation in the program's domain."""
    problems = []
    defaults = {p["name"]: p for kind, p in modules if kind == "cc_defaults"}
    mods = {p["name"]: p for kind, p in modules if kind != "cc_defaults"}
    program = mods.get("zelt-animation", {})
    inherited = {}
    for d in program.get("defaults", []):
        inherited.update(defaults.get(d, {}))
    inherited.update(program)
    partition = "system_ext" if inherited.get("system_ext_specific") else "system"
    want = {False: f"/{partition}/bin/zelt-animation", True: "/system/bin/zelt-animation"}
    scripts = {bool(m.get("recovery")): m["src"] for m in mods.values()
               if m.get("src", "").endswith(".rc")}
    if True in scripts and not inherited.get("recovery_available"):
        problems.append("zelt-animation has a recovery init script but no recovery variant")
    labels = []
    for line in (root / "android" / "sepolicy" / "file_contexts").read_text().splitlines():
        if line.strip() and not line.startswith("#"):
            pattern, context = line.split()[:2]
            labels.append((re.compile(pattern), context.split(":")[2]))
    for recovery, src in sorted(scripts.items()):
        path, options = _service_lines((root / src).read_text(), "zelt-animation")
        if path != want[recovery]:
            problems.append(f"{src}: the service runs {path}, the program is at {want[recovery]}")
        if recovery and "seclabel u:r:zelt_animation:s0" not in options:
            problems.append(f"{src}: the service does not name its domain (seclabel)")
        if not recovery and not any(p.fullmatch(want[False]) and t == "zelt_animation_exec"
                                    for p, t in labels):
            problems.append(f"file_contexts does not label {want[False]} zelt_animation_exec")
    if not scripts:
        problems.append("Android.bp installs no init script for zelt-animation")
    return problems


def main(argv):
    if len(argv) != 3:
        print("usage: android_bp_check.py ANDROID_BP CMAKE_BUILD_DIR", file=sys.stderr)
        return 2
    modules = parse_blueprint(Path(argv[1]).read_text())
    problems = compare(modules, read_cmake_targets(argv[2]))
    problems += check_install(modules, Path(argv[1]).resolve().parent)
    for p in problems:
        print(f"{argv[1]}: {p}")
    if problems:
        print(f"{argv[1]}: disagrees with CMakeLists.txt ({len(problems)} above)")
        return 1
    print(f"{argv[1]}: sources and flags agree with CMakeLists.txt ({', '.join(BINARIES)})")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
