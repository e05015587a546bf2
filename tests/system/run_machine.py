#!/usr/bin/python3
"""Boots the program's test machine (a Debian ARM kernel and the initramfs of scripts/system.sh)
under qemu-system and checks, on the real kernel, its virtio GPU driver and busybox's shell, what
the program prints and what the display scans out.

  run_machine.py test TARGET KERNEL INITRD EXPECTED WORK --screen WxH [--probe MEDIA] [--vfb]
      EXPECTED holds cycle-0.png .. cycle-5.png (zelt-assets preview of the same pictures);
      --probe: the initramfs has zelt-probe, whose numbers are checked against the kernel's and
      whose host preview command, run on MEDIA, must give EXPECTED.
      --vfb (with --probe): the initramfs has vfb.ko and fbmode; the machine without a GPU then
      plays each of VFB_CASES on the kernel's virtual framebuffer, whose memory is copied out
      through a virtio disk, read the way the driver describes the mode and compared with the
      intended picture (zelt-assets preview of a packed screen of that size).
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
import signal
import socket
import subprocess
import sys
import tempfile
import time

from PIL import Image

BOOT_TIMEOUT_S = 150  # from power-on to the step's first lines, on a busy 2-core machine
DUMP_TIMEOUT_S = 60  # for the dumps to show every cycle whole
DUMP_GAP_S = 0.15  # the program draws without a back buffer: a dump may catch half a cycle
QMP_TIMEOUT_S = 30  # for any one answer of the QEMU monitor
VFB_CASE_S = 30  # what each vfb case adds to the boot of the machine without a GPU
KMS_ROUND_S = 12  # how long each player run on KMS plays before the machine's /init kills it

# The vfb cases: xres, yres, bits per pixel, yres_virtual. vfb pads rows to 32 bits (113 pixels:
# 228 bytes at 16 bits, 340 at 24) and puts red first at 24 and 32 bits; the last case shows the
# second of two pages.
VFB_CASES = [(113, 400, 16, 400), (113, 400, 24, 400), (240, 400, 32, 400), (240, 400, 32, 800)]

QEMU = {
    "aarch64": ["qemu-system-aarch64", "-M", "virt", "-cpu", "cortex-a53"],
    "armhf": ["qemu-system-arm", "-M", "virt", "-cpu", "cortex-a15"],
}


class Machine:
    """One running qemu-system: its console log and its QMP monitor socket."""

    def __init__(self, args, steps, gpu, work, disk=None, append=""):
        """Starts the machine; `disk`: a raw file attached as a virtio disk; `append`: more
        kernel arguments. Whatever fails here leaves no process and no socket directory."""
        os.makedirs(work, exist_ok=True)
        self.console = os.path.join(work, "console-%s.log" % steps.replace(",", "-"))
        self.process = self.qmp = self.replies = None
        self.sockdir = tempfile.mkdtemp(prefix="zelt-qmp-")  # a short path for the socket
        try:
            self._start(args, steps, gpu, disk, append)
        except BaseException:
            self.stop()
            raise

    def _start(self, args, steps, gpu, disk, append):
        qmp_path = os.path.join(self.sockdir, "qmp")
        append = "console=ttyAMA0 quiet vt.global_cursor_default=0 zelt.steps=%s %s" % (
            steps, append)
        command = QEMU[args.target] + [
            "-m", "256", "-smp", "1", "-kernel", args.kernel, "-initrd", args.initrd,
            "-append", append, "-nic", "none", "-display", "none", "-no-reboot",
            "-serial", "file:" + self.console, "-monitor", "none",
            "-qmp", "unix:%s,server=on,wait=off" % qmp_path,
        ]
        if gpu:
            w, h = gpu
            command += ["-device", "virtio-gpu-pci,xres=%d,yres=%d" % (w, h)]
        if disk:
            command += ["-drive", "file=%s,format=raw,if=none,id=dumps" % disk,
                        "-device", "virtio-blk-pci,drive=dumps"]
        self.process = subprocess.Popen(command)
        deadline = time.monotonic() + QMP_TIMEOUT_S
        while self.qmp is None:
            try:
                self.qmp = socket.socket(socket.AF_UNIX)
                self.qmp.settimeout(QMP_TIMEOUT_S)  # a monitor that never answers: OSError
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
        """Ends QEMU (through the monitor, else killed) and removes the socket directory."""
        try:
            if self.process is not None and self.process.poll() is None:
                try:
                    if self.replies is not None:
                        self.qmp.settimeout(5)
                        self.command("quit")
                    self.process.wait(timeout=10)
                except (OSError, RuntimeError, ValueError, subprocess.TimeoutExpired):
                    pass
        finally:
            if self.process is not None and self.process.poll() is None:
                self.process.kill()
                self.process.wait()
            if self.qmp is not None:
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


def check_pans_unreported(lines):
    """The player pans after each cycle; a driver that fails it for another reason than EINVAL
    gets "fb0 dev pan: ..." on standard error. A refused pan (EINVAL) gets no report: this
    cannot tell that pans reach the driver (check_pans_reach_driver can, on two pages)."""
    return ["the pan failed: " + line for line in lines if line.startswith("fb0 dev pan")]


def check_pans_reach_driver(case, fb0):
    """A vfb case two pages tall was panned away to the first page from outside while the player
    ran: two cycles later the driver must show the player's page again (sysfs pan_after_away),
    which only a pan that reached the driver does. A one-page screen has no other page to pan
    to: nothing to see there."""
    _, h, _, virtual = case
    back = "0,%d" % (virtual - h)
    after = fb0.get("pan_after_away")
    if virtual == h or after == back:
        return []
    return ["panned away to 0,0 the driver showed %s two cycles later, not the player's %s"
            % (after, back)]


def probe_preview(lines):
    """The --screen value of the host preview command the probe printed, or None."""
    value = re.search(r"^host preview: zelt-assets preview DIR OUT --screen (\S+)$",
                      "\n".join(lines), re.M)
    return value and value.group(1)


def preview(media, out, screen):
    """Runs zelt-assets preview of MEDIA on SCREEN into OUT; its six cycles as {RGB bytes:
    cycle}, or None when it fails."""
    command = ["build/zelt-assets", "preview", media, out, "--screen", screen]
    if subprocess.run(command, stdout=subprocess.DEVNULL).returncode != 0:
        return None
    return load_cycles(out)


def load_cycles(directory):
    """cycle-0.png .. cycle-5.png of DIRECTORY as {RGB bytes: cycle}."""
    cycles = {}
    for cycle in range(6):
        with Image.open(os.path.join(directory, "cycle-%d.png" % cycle)) as image:
            cycles[image.convert("RGB").tobytes()] = cycle
    return cycles


def check_probe_numbers(lines, fb0):
    """zelt-probe exits 0 and reports the sizes, row length and depth the kernel publishes."""
    report = "\n".join(lines)
    problems = [] if "== exit status 0" in lines else ["exit status not 0"]
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


def check_probe(lines, fb0, args):
    """zelt-probe exits 0, reports the sizes, row length and depth the kernel publishes, and
    its host preview command draws the very screens this display showed (the expected ones)."""
    return check_probe_numbers(lines, fb0) + check_probe_preview(lines, args, "probe-preview")


def check_probe_preview(lines, args, folder):
    """The host preview command the probe printed draws the expected screens (into FOLDER)."""
    problems = []
    value = probe_preview(lines)
    preview_dir = os.path.join(args.work, folder)
    command = ["build/zelt-assets", "preview", args.media, preview_dir, "--screen"]
    if not value or subprocess.run(command + [value],
                                   stdout=subprocess.DEVNULL).returncode != 0:
        problems.append("no host preview command that runs")
    elif not all(filecmp.cmp(os.path.join(preview_dir, name), os.path.join(args.expected, name),
                             shallow=False) for name in ["cycle-%d.png" % c for c in range(6)]):
        problems.append("its preview (--screen %s) differs from the display" % value)
    return problems


def vfb_step(case):
    """The machine's step name of a vfb case: vfb-XRESxYRESxBPP[xYRES_VIRTUAL]."""
    w, h, bpp, virtual = case
    return "vfb-%dx%dx%d" % (w, h, bpp) + ("x%d" % virtual if virtual != h else "")


def vfb_memory_size():
    """Video memory for vfb that holds the biggest case (vfb pads rows to 32 bits), in MiB."""
    need = max((w * bpp + 31) // 32 * 4 * virtual for w, h, bpp, virtual in VFB_CASES)
    return -(-need // (1 << 20)) << 20


def driver_mode(lines):
    """fbmode's report of the driver's mode: {field: number, or (offset, length) for a channel};
    None when fbmode printed none."""
    found = next((line for line in lines if line.startswith("== mode ")), None)
    if found is None:
        return None
    return {key: tuple(map(int, value.split("/"))) if "/" in value else int(value)
            for key, value in re.findall(r"(\w+)=(\S+)", found)}


def shown_page(memory, mode):
    """The page a framebuffer shows, as RGB bytes, read from its memory the way the driver
    describes the mode: rows line_length apart from the page's (xoffset, yoffset), pixels
    little-endian, each channel at its bit field (its top 8 bits) widened to 8 bits by shifting
    left, as zelt-assets preview writes its pictures."""
    size = mode["bits_per_pixel"] // 8
    channels = []
    for name in ("red", "green", "blue"):
        offset, length = mode[name]
        keep = min(length, 8)
        channels.append((offset + length - keep, (1 << keep) - 1, 8 - keep))
    rgb = bytearray()
    for y in range(mode["yres"]):
        start = (mode["yoffset"] + y) * mode["line_length"] + mode["xoffset"] * size
        row = memory[start:start + mode["xres"] * size]
        for x in range(0, len(row), size):
            value = int.from_bytes(row[x:x + size], "little")
            rgb += bytes(((value >> shift) & mask) << widen for shift, mask, widen in channels)
    return bytes(rgb)


def check_vfb_mode(case, mode, fb0):
    """The driver's mode is the case's, and sysfs says the same. Returns (facts, problems)."""
    w, h, bpp, virtual = case
    problems = ["%s is %s, not %s" % (key, mode.get(key), value) for key, value in
                [("xres", w), ("yres", h), ("bits_per_pixel", bpp), ("yres_virtual", virtual),
                 ("yoffset", virtual - h)] if mode.get(key) != value]
    for field, value in [("stride", mode["line_length"]),
                         ("virtual_size", "%d,%d" % (mode["xres_virtual"], mode["yres_virtual"])),
                         ("bits_per_pixel", mode["bits_per_pixel"]),
                         ("pan", "%d,%d" % (mode["xoffset"], mode["yoffset"]))]:
        if fb0.get(field) != str(value):
            problems.append("sysfs %s is %s, the driver's %s" % (field, fb0.get(field), value))
    facts = "line_length %d, red %d/%d green %d/%d blue %d/%d, pan %d,%d" % (
        (mode["line_length"],) + mode["red"] + mode["green"] + mode["blue"]
        + (mode["xoffset"], mode["yoffset"]))
    return facts, problems


def vfb_pages(lines, dumps, mode, out):
    """The shown page of every dump of the case, read from its slot of the dump disk as the
    driver describes the mode; each is also saved as OUT-dump-SLOT.png for a look after a
    failure."""
    slot_bytes = vfb_memory_size()
    pages = []
    with open(dumps, "rb") as f:
        for slot in re.findall(r"^== dump (\d+)$", "\n".join(lines), re.M):
            f.seek(int(slot) * slot_bytes)
            pages.append(shown_page(f.read(slot_bytes), mode))
            Image.frombytes("RGB", (mode["xres"], mode["yres"]), pages[-1]).save(
                "%s-dump-%s.png" % (out, slot))
    return pages


def check_vfb(case, lines, dumps, args):
    """The checks of one vfb case from its console lines and the dump disk: the driver's mode
    is the case's and sysfs says the same; a dump shows a cycle's intended picture (the preview
    of a packed screen of that size) and the pans were taken; the probe exits 0 and agrees with
    sysfs; the probe's host preview draws what the memory shows. Returns (name, problems)
    pairs."""
    w, h, bpp, virtual = case
    name = "%s vfb %dx%dx%d%s" % (args.target, w, h, bpp,
                                  " with 2 pages, the 2nd shown" if virtual > h else "")
    mode = driver_mode(lines)
    if mode is None:
        return [(name + ": the driver takes the mode", ["fbmode reported no mode"])]
    fb0 = dict(re.findall(r"^== fb0 (\S+) (.*)$", "\n".join(lines), re.M))
    facts, problems = check_vfb_mode(case, mode, fb0)
    results = [("%s: the driver reports %s; sysfs agrees" % (name, facts), problems)]

    out = os.path.join(args.work, vfb_step(case))
    pages = vfb_pages(lines, dumps, mode, out)
    end = next((i for i, line in enumerate(lines) if line.startswith("== exit status")),
               len(lines))
    probe_lines = lines[:end + 1]
    intended = preview(args.media, out + "-expected", "%dx%dx%d" % (w, h, bpp)) or {}
    seen = [intended.get(page) for page in pages]
    problems = check_pans_unreported(lines) + check_pans_reach_driver(case, fb0) + (
        [] if set(seen) - {None} else [
            "the %d dumps show no cycle's intended picture" % len(pages)])
    pans = "the player's pans reach the driver" if virtual > h else "no pan reported failing"
    results.append(("%s: the dumps show cycles %s of the intended picture; %s"
                    % (name, seen, pans), problems))
    results.append(("%s: the probe exits 0 and agrees with sysfs" % name,
                    check_probe_numbers(probe_lines, fb0)))
    value = probe_preview(probe_lines)
    drawn = value and preview(args.media, out + "-probe-preview", value) or {}
    previewed = [drawn.get(page) for page in pages]
    problems = [] if set(previewed) - {None} else [
        "no dump shows a cycle of its preview (--screen %s)" % value]
    results.append(("%s: the probe's preview (--screen %s) draws what the memory shows "
                    "(cycles %s)" % (name, value, previewed), problems))
    return results


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


def kms_rounds(args, expected):
    """Boots with the virtio display and the kernel's fbdev emulation off, runs the probe, then
    the player twice (the first killed); returns the console's text and, per round, the cycles
    first seen and the number of dumps."""
    work = os.path.join(args.work, "kms")
    append = "zelt.fbdev=off zelt.kms_seconds=%d" % KMS_ROUND_S
    machine = Machine(args, "probe,kms", args.screen, work, append=append)
    rounds = []
    try:
        for n in (1, 2):
            if machine.wait_for(r"^== playing %d$" % n, BOOT_TIMEOUT_S + KMS_ROUND_S):
                rounds.append(watch_cycles(machine, expected, work))
        machine.wait_for(r"^== done$", KMS_ROUND_S + 10)
    finally:
        machine.stop()
    return machine, rounds


def check_kms(args, lines, rounds):
    """Both rounds printed the mode's description and the display's line, gave no KMS report
    but fb0's, and their dumps showed every cycle whole."""
    w, h = args.screen
    problems = []
    for n in (1, 2):
        section = "\n".join(lines).split("== round %d\n" % n, 1)[1:] or [""]
        played = section[0].split("\n== ")[0].split("\n")
        if not set(description(w, h, (w, h), 32)) <= set(played):
            problems.append("round %d: no %dx%d 32-bit description" % (n, w, h))
        if not any(line.startswith("kms display: /dev/dri/card0") for line in played):
            problems.append("round %d: no 'kms display' line" % n)
        problems += ["round %d: %s" % (n, line) for line in played if line.startswith("kms ")
                     and not line.startswith("kms display: ")]
    for n, (cycles, count) in enumerate(rounds, 1):
        if len(cycles) < 6:
            problems.append("round %d: %d dumps showed only cycles %s whole" % (n, count, cycles))
    if len(rounds) < 2:
        problems.append("only %d of 2 rounds started playing" % len(rounds))
    return problems


def play_and_watch(args, steps, expected):
    """Boots with the display and runs `steps`, the last of which plays; dumps the display until
    it showed every cycle whole. Returns the stopped machine, the cycles in the order first seen
    and the number of dumps."""
    machine = Machine(args, steps, args.screen, args.work)
    try:
        started = machine.wait_for(r"ui_thread_function\(\) \d+ started")
        cycles, count = watch_cycles(machine, expected, args.work) if started else ([], 0)
    finally:
        machine.stop()
    return machine, cycles, count


def check_bionic(args, expected, check):
    """The program built against bionic on the same display: its hand-off through bionic's own
    system(), which runs /system/bin/sh, then its play, every cycle's screen exact."""
    machine, cycles, count = play_and_watch(args, "bionic-missing,bionic-play", expected)
    text = machine.text()
    check("%s bionic missing picture, handed off through /system/bin/sh" % args.target,
          check_hand_off(step_lines(text, "bionic-missing"), "bmp_open: No such file or directory"),
          machine.console)
    problems = check_pans_unreported(step_lines(text, "bionic-play"))
    if len(cycles) < len(expected):
        problems.append("%d dumps showed only cycles %s whole" % (count, cycles))
    check("%s bionic plays: %d dumps equal every cycle, first seen in the order %s"
          % (args.target, count, cycles), problems, machine.console)


def test(args):
    w, h = args.screen
    # A 32-bit screen keeps 8 bits of each channel: its colours are the RGB values.
    expected = load_cycles(args.expected)
    results = []

    def check(name, problems, console):
        results.append(not problems)
        print("ok   " + name if not problems else "FAIL %s: %s (console: %s)"
              % (name, "; ".join(problems), console))

    steps = ("probe," if args.media else "") + "missing,play"
    machine, cycles, count = play_and_watch(args, steps, expected)
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
    problems += check_pans_unreported(lines)
    check("%s plays: %d dumps equal every cycle, first seen in the order %s; no pan reported "
          "failing"
          % (args.target, count, cycles), problems, machine.console)
    check("%s missing picture" % args.target,
          check_hand_off(step_lines(text, "missing"), "bmp_open: No such file or directory"),
          machine.console)
    if args.media:
        check("%s probe agrees with the kernel's fb0, its preview with the display"
              % args.target,
              check_probe(step_lines(text, "probe"), fb0, args), machine.console)

    if args.bionic:
        check_bionic(args, expected, check)

    # Without a GPU: first no framebuffer at all, then (--vfb) the kernel's virtual one in each
    # case's mode, its memory copied to a disk slot per dump.
    steps, disk, append, cases = "play", None, "", VFB_CASES if args.vfb else []
    if cases:
        steps += "," + ",".join(vfb_step(case) for case in cases)
        disk = os.path.join(args.work, "vfb-dumps.raw")
        with open(disk, "wb") as f:
            f.truncate(vfb_memory_size() * 2 * len(cases))
        append = "zelt.vfb_bytes=%d" % vfb_memory_size()
    machine = Machine(args, steps, None, args.work, disk, append)
    try:
        machine.wait_for(r"^== done$", BOOT_TIMEOUT_S + VFB_CASE_S * len(cases))
    finally:
        machine.stop()
    text = machine.text()
    check("%s no display device" % args.target,
          check_hand_off(step_lines(text, "play"), "fb0 dev open: No such file or directory"),
          machine.console)
    for case in cases:
        for name, problems in check_vfb(case, step_lines(text, vfb_step(case)), disk, args):
            check(name, problems, machine.console)

    # With the GPU but no fbdev emulation: the player on KMS, killed once and run again.
    if args.media:
        machine, rounds = kms_rounds(args, expected)
        text = machine.text()
        check("%s plays on KMS without fb0: every cycle whole in both rounds (%s); killed, it "
              "took the display again" % (args.target, [c for c, _ in rounds]),
              check_kms(args, step_lines(text, "kms"), rounds), machine.console)
        check("%s KMS probe exits 0, its preview draws what the display showed" % args.target,
              check_probe_preview(step_lines(text, "probe"), args, "probe-preview-kms")
              + ([] if "== exit status 0" in step_lines(text, "probe") else ["exit status not 0"]),
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
    parser.add_argument("--vfb", action="store_true",
                        help="with --probe: the initramfs has vfb.ko and fbmode; play VFB_CASES")
    parser.add_argument("--frames", type=int, default=12)
    parser.add_argument("--bionic", action="store_true",
                        help="test: also the bionic build, zelt-animation-bionic, on the display")
    args = parser.parse_args()
    if args.vfb and not args.media:
        parser.error("--vfb needs --probe MEDIA")
    # On SIGTERM as on Ctrl-C: unwind, so that every machine is stopped and its socket removed.
    signal.signal(signal.SIGTERM, lambda number, frame: sys.exit(128 + number))
    if args.mode == "test":
        args.expected, args.work = args.paths
        return test(args)
    (args.work,) = args.paths
    return demo(args)


if __name__ == "__main__":
    sys.exit(main())
