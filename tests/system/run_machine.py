#!/usr/bin/python3
"""Boots the program's test machine (a Debian ARM kernel and the initramfs of scripts/system.sh)
under qemu-system and checks, on the real kernel, its virtio GPU driver and busybox's shell, what
the program prints and what the display scans out.

  run_machine.py test TARGET KERNEL INITRD EXPECTED WORK --screen WxH [--probe MEDIA]
      EXPECTED holds cycle-0.png .. cycle-5.png (zelt-assets preview of the same pictures);
      --probe: the initramfs has zelt-probe, whose numbers are checked against the kernel's and
      whose host preview command, run on MEDIA, must give EXPECTED.
      Prints one line per check; exit status 1 when one failed.
  run_machine.py demo TARGET KERNEL INITRD WORK --screen WxH --frames N
      Plays the pictures and saves N screen dumps, 500 ms apart, as WORK/frames/frame-NNN.raw
      (32-bit b, g, r, x pixels: what zelt-frames-png reads).
"""
import argparse
import filecmp
import json
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time

from PIL import Image

BOOT_TIMEOUT_S = 150  # from power-on to the step's first lines, on a busy 2-core machine
DUMP_TIMEOUT_S = 60  # for the dumps to show every cycle whole
DUMP_GAP_S = 0.15  # the program draws without a back buffer: a dump may catch half a cycle

QEMU = {
    "aarch64": ["qemu-system-aarch64", "-M", "virt", "-cpu", "cortex-a53"],
    "armhf": ["qemu-system-arm", "-M", "virt", "-cpu", "cortex-a15"],
}


class Machine:
    """One running qemu-system: its console log and its QMP monitor socket."""

    def __init__(self, args, steps, gpu, work):
        os.makedirs(work, exist_ok=True)
        self.console = os.path.join(work, "console-%s.log" % steps.replace(",", "-"))
        self.sockdir = tempfile.mkdtemp(prefix="zelt-qmp-")  # a short path for the socket
        qmp_path = os.path.join(self.sockdir, "qmp")
        append = "console=ttyAMA0 quiet vt.global_cursor_default=0 zelt.steps=" + steps
        command = QEMU[args.target] + [
            "-m", "256", "-smp", "1", "-kernel", args.kernel, "-initrd", args.initrd,
            "-append", append, "-nic", "none", "-display", "none", "-no-reboot",
            "-serial", "file:" + self.console, "-monitor", "none",
            "-qmp", "unix:%s,server=on,wait=off" % qmp_path,
        ]
        if gpu:
            w, h = gpu
            command += ["-device", "virtio-gpu-pci,xres=%d,yres=%d" % (w, h)]
        self.process = subprocess.Popen(command)
        self.qmp = None
        deadline = time.monotonic() + 30
        while self.qmp is None:
            try:
                self.qmp = socket.socket(socket.AF_UNIX)
                self.qmp.connect(qmp_path)
            except OSError:
                self.qmp.close()
                self.qmp = None
                if time.monotonic() > deadline or self.process.poll() is not None:
                    raise RuntimeError("qemu did not open its monitor")
                time.sleep(0.1)
        self.replies = self.qmp.makefile("r")
        self.replies.readline()  # the greeting
        self.command("qmp_capabilities")

    def command(self, name, **arguments):
        self.qmp.sendall(json.dumps({"execute": name, "arguments": arguments}).encode() + b"\n")
        while True:
            reply = json.loads(self.replies.readline())
            if "error" in reply:
                raise RuntimeError("%s: %s" % (name, reply["error"].get("desc")))
            if "return" in reply:
                return reply["return"]

    def text(self):
        with open(self.console, errors="replace") as f:
            return f.read().replace("\r", "")

    def wait_for(self, pattern, timeout=BOOT_TIMEOUT_S):
        """Waits until the console shows `pattern` (a regex); False on timeout or power-off."""
        deadline = time.monotonic() + timeout
        while not re.search(pattern, self.text(), re.M):
            if time.monotonic() > deadline or self.process.poll() is not None:
                return bool(re.search(pattern, self.text(), re.M))
            time.sleep(0.1)
        return True

    def stop(self):
        if self.process.poll() is None:
            try:
                self.command("quit")
            except (OSError, RuntimeError, ValueError):
                pass
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        self.qmp.close()
        shutil.rmtree(self.sockdir, ignore_errors=True)


def dump(machine, path):
    """The display as QEMU scans it out, as an RGB picture (the dump itself stays at `path`)."""
    machine.command("screendump", filename=os.path.abspath(path))
    with Image.open(path) as image:
        return image.convert("RGB")


def step_lines(text, step):
    """The console lines of one step of the machine's /init."""
    section = text.split("== step %s\n" % step, 1)[1:] or [""]
    return section[0].split("\n== step ")[0].split("\n")


def description(w, h, virtual, bpp):
    return ["x-resolution: %d" % w, "y-resolution: %d" % h,
            "x-resolution-virtual: %d" % virtual[0], "y-resolution-vritual: %d" % virtual[1],
            "bpp: %d" % bpp]


def check_hand_off(lines, report):
    """The report `report`, no thread, the hand-off through the real shell, exit status 0."""
    problems = []
    if report not in lines:
        problems.append("no '%s'" % report)
    if any("_thread_function() " in line for line in lines):
        problems.append("a thread started")
    handed = "shell: start recovery"
    if handed not in lines or (report in lines and lines.index(handed) < lines.index(report)):
        problems.append("no hand-off after the report")
    if "== exit status 0" not in lines:
        problems.append("exit status not 0")
    return problems


def check_probe(lines, fb0, args):
    """zelt-probe exits 0, reports the sizes, row length and depth the kernel publishes, and
    its host preview command draws the very screens this display showed (the expected ones)."""
    report = "\n".join(lines)
    problems = [] if "== exit status 0" in lines else ["exit status not 0"]
    value = re.search(r"^host preview: zelt-assets preview DIR OUT --screen (\S+)$", report, re.M)
    preview = os.path.join(args.work, "probe-preview")
    command = ["build/zelt-assets", "preview", args.media, preview, "--screen"]
    if not value or subprocess.run(command + [value.group(1)],
                                   stdout=subprocess.DEVNULL).returncode != 0:
        problems.append("no host preview command that runs")
    elif not all(filecmp.cmp(os.path.join(preview, name), os.path.join(args.expected, name),
                             shallow=False) for name in ["cycle-%d.png" % c for c in range(6)]):
        problems.append("its preview (--screen %s) differs from the display" % value.group(1))
    for pattern, published in [
        (r"xres_virtual (\d+), yres_virtual (\d+)", fb0.get("virtual_size", "").split(",")),
        (r"line_length (\d+)", [fb0.get("stride")]),
        (r"bits_per_pixel (\d+)", [fb0.get("bits_per_pixel")]),
    ]:
        found = re.search(pattern, report)
        if not found or list(found.groups()) != published:
            problems.append("'%s' is %s, the kernel's %s"
                            % (pattern, found and found.groups(), published))
    return problems


def watch_cycles(machine, expected, work):
    """Dumps the display until it showed the whole screen of every cycle; returns the cycles
    in the order first seen and the number of dumps."""
    cycles, count = [], 0
    deadline = time.monotonic() + DUMP_TIMEOUT_S
    latest = os.path.join(work, "dump.ppm")  # the last dump, kept for a look after a failure
    while len(cycles) < len(expected) and time.monotonic() < deadline:
        count += 1
        cycle = expected.get(dump(machine, latest).tobytes())
        if cycle is not None and cycle not in cycles:
            cycles.append(cycle)
            os.replace(latest, os.path.join(work, "dump-cycle-%d.ppm" % cycle))
        time.sleep(DUMP_GAP_S)
    return cycles, count


def test(args):
    w, h = args.screen
    expected = {}
    for cycle in range(6):
        with Image.open(os.path.join(args.expected, "cycle-%d.png" % cycle)) as image:
            # A 32-bit screen keeps 8 bits of each channel: its colours are the RGB values.
            expected[image.convert("RGB").tobytes()] = cycle
    results = []

    def check(name, problems, console):
        results.append(not problems)
        print("ok   " + name if not problems else "FAIL %s: %s (console: %s)"
              % (name, "; ".join(problems), console))

    steps = ("probe," if args.media else "") + "missing,play"
    machine = Machine(args, steps, (w, h), args.work)
    try:
        started = machine.wait_for(r"ui_thread_function\(\) \d+ started")
        cycles, count = watch_cycles(machine, expected, args.work) if started else ([], 0)
    finally:
        machine.stop()
    text = machine.text()
    fb0 = dict(re.findall(r"^== fb0 (\S+) (.*)$", text, re.M))
    virtual = [int(v) for v in fb0.get("virtual_size", "0,0").split(",")]
    bpp = int(fb0.get("bits_per_pixel", "0"))
    lines = step_lines(text, "play")
    problems = [] if fb0.get("name", "").startswith("virtio_gpu") else ["fb0 is not virtio_gpu's"]
    if not set(description(w, h, virtual, bpp)) <= set(lines) or bpp != 32:
        problems.append("description is not the %dx%d 32-bit driver's (%s)" % (w, h, fb0))
    if len(cycles) < len(expected):
        problems.append("%d dumps showed only cycles %s whole" % (count, cycles))
    check("%s plays: %d dumps equal every cycle, first seen in the order %s"
          % (args.target, count, cycles), problems, machine.console)
    check("%s missing picture" % args.target,
          check_hand_off(step_lines(text, "missing"), "bmp_open: No such file or directory"),
          machine.console)
    if args.media:
        check("%s probe agrees with the kernel's fb0, its preview with the display"
              % args.target,
              check_probe(step_lines(text, "probe"), fb0, args), machine.console)

    machine = Machine(args, "play", None, args.work)
    try:
        machine.wait_for(r"^== done$")
    finally:
        machine.stop()
    check("%s no display device" % args.target,
          check_hand_off(step_lines(machine.text(), "play"),
                         "fb0 dev open: No such file or directory"),
          machine.console)
    return 0 if all(results) else 1


def demo(args):
    frames = os.path.join(args.work, "frames")
    os.makedirs(frames, exist_ok=True)
    machine = Machine(args, "play", args.screen, args.work)
    try:
        if not machine.wait_for(r"ui_thread_function\(\) \d+ started"):
            print(machine.text(), end="")
            print("run_machine: the program did not start playing", file=sys.stderr)
            return 1
        for n in range(args.frames):
            time.sleep(0.5)
            raw = dump(machine, os.path.join(args.work, "dump.ppm")).tobytes("raw", "BGRX")
            with open(os.path.join(frames, "frame-%03d.raw" % n), "wb") as f:
                f.write(raw)
    finally:
        machine.stop()
    print(machine.text(), end="")
    return 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("mode", choices=["test", "demo"])
    parser.add_argument("target", choices=sorted(QEMU))
    parser.add_argument("kernel")
    parser.add_argument("initrd")
    parser.add_argument("paths", nargs="+", help="test: EXPECTED WORK; demo: WORK")
    parser.add_argument("--screen", required=True, type=lambda s: tuple(map(int, s.split("x"))))
    parser.add_argument("--probe", metavar="MEDIA", dest="media",
                        help="the initramfs has zelt-probe; MEDIA: the pictures, for its preview")
    parser.add_argument("--frames", type=int, default=12)
    args = parser.parse_args()
    if args.mode == "test":
        args.expected, args.work = args.paths
        return test(args)
    (args.work,) = args.paths
    return demo(args)


if __name__ == "__main__":
    sys.exit(main())
