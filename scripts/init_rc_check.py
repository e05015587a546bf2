"""Holds the init scripts to what the animation's hand-off relies on and host_init_verifier does
not look at. It reads the scripts as init reads them (in the order given, the project's last) and
checks:
  - every service a start, stop, restart, enable or exec_start names is defined, and every class
    a class_start, class_stop, class_reset or class_restart names has a service (init only logs
    "not found" at boot);
  - every property an "on property:" trigger names is one the property contexts give a type to,
    other than through the catch-all "*" (a misspelt name is a trigger that never fires);
  - in the recovery image (--recovery): the project's script leaves the image's recovery service
    alone (no second definition, no stop or disable), which stays of class default, not
    disabled, and started by "class_start default" in "on boot"; each of the project's services
    is run only by exec_start, in an action whose event init triggers before boot, and has a
    timeout_period, oneshot and disabled, so that init waits for it a bounded time and nothing
    else starts it;
  - in a normal boot (--normal): the project's script only declares its services, disabled.

    init_rc_check.py [--property-contexts FILE]... (--recovery | --normal) SCRIPT... PROJECT_SCRIPT

Prints one line per fault, each naming the file and line, and exits 1 when there is any.
"""

import argparse
import sys
from dataclasses import dataclass, field

SECTIONS = ("service", "on", "import")
STARTERS = ("start", "restart", "exec_start", "enable")
SERVICE_COMMANDS = STARTERS + ("stop", "disable")
CLASS_COMMANDS = ("class_start", "class_stop", "class_reset", "class_restart")
# Commands that would keep the image's recovery service from starting.
HOLD_BACK = {("stop", "recovery"), ("disable", "recovery"), ("class_stop", "default"),
             ("class_reset", "default")}
# Services and classes the scripts named here use but other scripts of the recovery image
# define: servicemanager's servicemanager.recovery.rc (frameworks/native) and the device's HALs
# for recovery (class hal, e.g. its health HAL).
DEFINED_ELSEWHERE = {"servicemanager"}
CLASSES_ELSEWHERE = {"hal"}
# The events init.cpp queues itself, in its order (late-init except in charger mode); the others
# come from "trigger" commands.
INIT_EVENTS = ("early-init", "init", "late-init")


@dataclass
class Line:
    path: str
    number: int
    words: list

    def where(self):
        return f"{self.path}:{self.number}"


@dataclass
class Service:
    name: str
    at: Line
    classes: set = field(default_factory=lambda: {"default"})
    options: dict = field(default_factory=dict)


@dataclass
class Action:
    at: Line
    event: str
    properties: list
    commands: list = field(default_factory=list)


def tokenize(path, text):
    """The lines of an init script as init's tokenizer splits them: words split at blanks,
    "..." quotes, backslash escapes and continuations, and # comments where a word would start."""
    lines, words, word, number, start = [], [], None, 1, 1
    i = 0
    while i <= len(text):
        c = text[i] if i < len(text) else "\n"
        if word is None and c == "#":
            while i < len(text) and text[i] != "\n":
                i += 1
            continue
        if c in " \t\r\n":
            if word is not None:
                words.append(word)
                word = None
            if c == "\n":
                if words:
                    lines.append(Line(path, start, words))
                words, number = [], number + 1
                start = number
            i += 1
            continue
        if word is None:
            word = ""
            if not words:
                start = number
        if c == '"':
            end = text.find('"', i + 1)
            end = len(text) if end < 0 else end
            word += text[i + 1:end]
            number += text.count("\n", i, end)
            i = end + 1
        elif c == "\\" and i + 1 < len(text):
            nxt = text[i + 1]
            if nxt == "\n":
                number += 1
                i += 2
                while i < len(text) and text[i] in " \t":
                    i += 1
                continue
            word += {"n": "\n", "r": "\r", "t": "\t"}.get(nxt, nxt)
            i += 2
        else:
            word += c
            i += 1
    return lines


class Scripts:
    """What init holds after reading the scripts: services (a later definition replaces an
    earlier one only with "override") and actions, in order."""

    def __init__(self, files):
        self.definitions, self.actions = [], []
        for path, text in files:
            section = None
            for line in tokenize(path, text):
                head = line.words[0]
                if head in SECTIONS:
                    section = self._section(line)
                elif isinstance(section, Service):
                    section.options.setdefault(head, []).append(line)
                    if head == "class":
                        section.classes = set(line.words[1:])
                elif isinstance(section, Action):
                    section.commands.append(line)

    def _section(self, line):
        head, args = line.words[0], line.words[1:]
        if head == "service" and args:
            service = Service(args[0], line)
            self.definitions.append(service)
            return service
        if head == "on":
            triggers = [t for t in args if t != "&&"]
            props = [tuple(t[len("property:"):].partition("=")[::2]) for t in triggers
                     if t.startswith("property:")]
            events = [t for t in triggers if not t.startswith("property:")]
            action = Action(line, events[0] if events else "", props)
            self.actions.append(action)
            return action
        return None

    def service(self, name):
        found = None
        for service in self.definitions:
            if service.name == name and (found is None or "override" in service.options):
                found = service
        return found

    def commands(self):
        for action in self.actions:
            for command in action.commands:
                yield action, command

    def event_order(self):
        """The events in the order init triggers them; a trigger command in an action that also
        waits for a property value is not counted."""
        order = list(INIT_EVENTS)
        for event in order:
            for action, command in self.commands():
                if (action.event == event and not action.properties and command.words[0] ==
                        "trigger" and len(command.words) > 1 and command.words[1] not in order):
                    order.append(command.words[1])
        return order


def read_property_contexts(texts):
    """The (name, exact) entries of property_contexts files."""
    entries = []
    for text in texts:
        for raw in text.splitlines():
            words = raw.split("#", 1)[0].split()
            if words:
                entries.append((words[0], len(words) > 2 and words[2] == "exact"))
    return entries


def has_type(name, entries):
    """Whether an entry gives the property NAME its type: one of that name with "exact", or one
    that begins it. The catch-all "*" begins no name, so it gives none a type here."""
    return any(name == entry if exact else name.startswith(entry) for entry, exact in entries)


def check_common(scripts, entries):
    faults = []
    classes = set().union(*(s.classes for s in scripts.definitions)) | CLASSES_ELSEWHERE
    for action, command in scripts.commands():
        verb, args = command.words[0], command.words[1:]
        if verb in SERVICE_COMMANDS and args and not scripts.service(args[0]) and \
                args[0] not in DEFINED_ELSEWHERE:
            faults.append(f"{command.where()}: {verb} {args[0]}: no service {args[0]} is defined")
        if verb in CLASS_COMMANDS and args and args[0] not in classes:
            faults.append(f"{command.where()}: {verb} {args[0]}: no service is of class {args[0]}")
    for action in scripts.actions:
        for name, _ in action.properties:
            if not has_type(name, entries):
                faults.append(f"{action.at.where()}: on property:{name}: the property contexts "
                              f"give {name} no type (only the catch-all *): the trigger never "
                              "fires")
    return faults


def check_recovery(scripts, project):
    faults = []
    recovery = scripts.service("recovery")
    for service in scripts.definitions:
        if service.at.path == project and service.name == "recovery":
            faults.append(f"{service.at.where()}: service recovery: the project's script "
                          "defines the image's recovery service again")
    for action, command in scripts.commands():
        words = command.words
        if command.path == project and tuple(words[:2]) in HOLD_BACK:
            faults.append(f"{command.where()}: {' '.join(words)}: the project's script holds "
                          "back the image's recovery service")
    order = scripts.event_order()
    started_on_boot = "boot" in order and any(
        action.event == "boot" and not action.properties and
        command.words == ["class_start", "default"] for action, command in scripts.commands())
    if recovery is None:
        faults.append("no service recovery is defined: the image's init.rc must come first")
    elif "disabled" in recovery.options or "default" not in recovery.classes or \
            not started_on_boot:
        faults.append(f"{recovery.at.where()}: service recovery is not started by \"class_start "
                      "default\" in \"on boot\" (it must be of class default and not disabled)")

    before_boot = order[:order.index("boot")] if "boot" in order else order
    for service in scripts.definitions:
        if service.at.path != project or service.name == "recovery":
            continue
        name, where = service.name, service.at.where()
        run_before_boot = False
        for action, command in scripts.commands():
            if command.words[0] not in STARTERS or command.words[1:2] != [name]:
                continue
            if command.words[0] != "exec_start":
                faults.append(f"{command.where()}: {command.words[0]} {name}: {name} is run only "
                              "by exec_start, which holds init's later commands until it ends")
            elif action.event in before_boot:
                run_before_boot = True
            else:
                faults.append(f"{command.where()}: exec_start {name} is in an action on "
                              f"\"{action.event or 'property'}\", which init does not trigger "
                              f"before boot (it triggers {', '.join(order)})")
        if not run_before_boot:
            faults.append(f"{where}: service {name}: no exec_start runs it before boot")
        timeout = service.options.get("timeout_period")
        if not timeout:
            faults.append(f"{where}: service {name} has no timeout_period: a program that hangs "
                          "holds the boot for good")
        elif not (timeout[-1].words[1:2] and timeout[-1].words[1].isdigit() and
                  int(timeout[-1].words[1]) >= 1):
            faults.append(f"{timeout[-1].where()}: timeout_period "
                          f"{' '.join(timeout[-1].words[1:])}: not a whole number of seconds >= 1")
        faults += lacking(service, {
            "oneshot": "started by anything but exec_start, init would start it again when it "
                       "ends",
            "disabled": "where no exec_start runs it (a narrowed trigger, a failed start), "
                        "class_start default starts it beside the recovery service"})
    return faults


def lacking(service, options):
    """A fault for each of OPTIONS ({option: why it is needed}) the service lacks."""
    return [f"{service.at.where()}: service {service.name} is not {option}: {why}"
            for option, why in options.items() if option not in service.options]


def check_normal(scripts, project):
    faults = []
    for action in scripts.actions:
        if action.at.path == project:
            faults.append(f"{action.at.where()}: on {' '.join(action.at.words[1:])}: the normal "
                          "boot's script only declares the service; the device starts it")
    for service in scripts.definitions:
        if service.at.path == project:
            faults += lacking(service, {
                "disabled": "a class_start of its class would start it, not the device"})
    return faults


def check(files, property_texts, recovery):
    """The faults of the scripts FILES ((path, text), in init's order, the project's last)."""
    scripts = Scripts(files)
    faults = check_common(scripts, read_property_contexts(property_texts))
    project = files[-1][0]
    faults += check_recovery(scripts, project) if recovery else check_normal(scripts, project)
    return faults


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--property-contexts", action="append", default=[])
    boot = parser.add_mutually_exclusive_group(required=True)
    boot.add_argument("--recovery", action="store_true")
    boot.add_argument("--normal", action="store_true")
    parser.add_argument("scripts", nargs="+")
    args = parser.parse_args(argv)

    def read(path):
        with open(path, encoding="utf-8") as f:
            return f.read()

    faults = check([(p, read(p)) for p in args.scripts],
                   [read(p) for p in args.property_contexts], args.recovery)
    for fault in faults:
        print(fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
