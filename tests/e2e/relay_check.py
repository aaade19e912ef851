"""Checks the Windows calls that the installer's image made, as Wine's relay trace shows them.

Wine prints one line when a traced function is entered and one when it returns:

    0024:Call KERNEL32.CreateFileW(140003000 L"C:\\Solvarine\\7za.exe",c0000000,...) ret=140001234
    0024:Ret  KERNEL32.CreateFileW() retval=00000048 ret=140001234

Only calls made by the image itself count: those on the installer's thread whose return address
lies inside the image. Calls that Windows makes on its own behalf (a DLL calling another) have
their return address elsewhere and are left out.
"""

import re
from dataclasses import dataclass, field

GENERIC_READ = 0x80000000
GENERIC_WRITE = 0x40000000
CREATE_ALWAYS = 2
TRUNCATE_EXISTING = 5
FILE_ATTRIBUTE_NORMAL = 0x80
INVALID_HANDLE = 0xFFFFFFFFFFFFFFFF

# The calls the relay trace is limited to (HKCU\Software\Wine\Debug, RelayInclude).
TRACED_CALLS = [
    "KERNEL32.CreateFileW", "KERNEL32.WriteFile", "KERNEL32.CloseHandle",
    "KERNEL32.FindFirstFileW", "KERNEL32.FindClose", "KERNEL32.CreateDirectoryW",
    "KERNEL32.DeleteFileW", "KERNEL32.SetCurrentDirectoryW", "KERNEL32.CreateProcessW",
    "KERNEL32.ExitProcess", "user32.MessageBoxW", "shell32.ShellExecuteExW",
]

_LINE = re.compile(
    r"^([0-9a-f]+):(Call|Ret)\s+([\w]+)\.(\w+)\((.*)\)(?: retval=([0-9a-f]+))? ret=([0-9a-f]+)\s*$")
_LOADED = re.compile(r'^([0-9a-f]+):trace:loaddll:\S* Loaded L"(.*)" at ([0-9A-Fa-f]+): ')


@dataclass
class Arg:
    value: int
    text: str = None        # the string Wine printed beside a pointer, if any
    truncated: bool = False  # Wine cuts long strings and adds "..."


@dataclass
class Call:
    index: int
    tid: int
    dll: str
    name: str
    args: list
    ret: int
    retval: int = None
    returned: bool = False

    def describe(self):
        shown = []
        for a in self.args:
            shown.append(f"{a.value:x}" + (f" {a.text!r}" if a.text is not None else ""))
        return f"#{self.index} {self.dll}.{self.name}({', '.join(shown)})"


def _parse_string(text, i):
    """Reads a string as Wine's debugstr prints it, from the opening quote at text[i]."""
    assert text[i] == '"'
    i += 1
    out = []
    while i < len(text) and text[i] != '"':
        c = text[i]
        if c == "\\":
            nxt = text[i + 1]
            simple = {"n": "\n", "r": "\r", "t": "\t", '"': '"', "\\": "\\"}
            if nxt in simple:
                out.append(simple[nxt])
                i += 2
            else:  # \XXXX: a character outside printable ASCII, as four hex digits
                out.append(chr(int(text[i + 1:i + 5], 16)))
                i += 5
        else:
            out.append(c)
            i += 1
    i += 1  # the closing quote
    truncated = text.startswith("...", i)
    if truncated:
        i += 3
    return "".join(out), truncated, i


def parse_args(text):
    args = []
    i = 0
    while i < len(text):
        m = re.compile(r"[0-9a-f]+").match(text, i)
        if not m:
            raise ValueError(f"unreadable relay arguments at {i}: {text!r}")
        arg = Arg(int(m.group(0), 16))
        i = m.end()
        if text.startswith(' L"', i) or text.startswith(' "', i):
            i += 2 if text[i + 1] == "L" else 1
            arg.text, arg.truncated, i = _parse_string(text, i)
        elif text.startswith(" #", i) or text.startswith(" (", i):
            i = text.find(",", i) if "," in text[i:] else len(text)
        args.append(arg)
        if i < len(text):
            if text[i] != ",":
                raise ValueError(f"unreadable relay arguments at {i}: {text!r}")
            i += 1
    return args


def image_load(trace, image_name):
    """The thread and base address at which Wine loaded the image (the +loaddll line)."""
    for line in trace.splitlines():
        m = _LOADED.match(line)
        if m and m.group(2).replace("\\\\", "\\").lower().endswith("\\" + image_name.lower()):
            return int(m.group(1), 16), int(m.group(3), 16)
    return None, None


def image_calls(trace, tid, base, size):
    """The traced calls that the image made on thread `tid`, in order, with their results."""
    calls = []
    pending = []
    for line in trace.splitlines():
        m = _LINE.match(line)
        if not m:
            continue
        line_tid, kind, dll, name, args, retval, ret = m.groups()
        ret = int(ret, 16)
        if int(line_tid, 16) != tid or not base <= ret < base + size:
            continue
        if kind == "Call":
            call = Call(len(calls), tid, dll, name, parse_args(args), ret)
            calls.append(call)
            pending.append(call)
        else:
            # The innermost open call of that name returns first.
            for call in reversed(pending):
                if call.name == name and call.ret == ret:
                    call.retval = int(retval, 16) if retval is not None else None
                    call.returned = True
                    pending.remove(call)
                    break
    return calls


@dataclass
class Expected:
    listings: list          # FindFirstFileW patterns, in order
    made_folders: list      # CreateDirectoryW paths, in order
    removals: list          # DeleteFileW paths, in order
    writes: list            # (path, length) of every item, in order
    launches: list          # CreateProcessW command lines, in order
    notice: tuple           # (caption, text, style)
    exit_code: int
    enter_folder: str = None  # SetCurrentDirectoryW between the first and the second launch


def _low(value):
    return value & 0xFFFFFFFF


def _same_text(arg, expected):
    if arg.text is None:
        return False
    return expected.startswith(arg.text) if arg.truncated else arg.text == expected


def _check_create(r, call, path, want):
    what = call.describe()
    if not _same_text(call.args[0], path):
        r.fail(f"{what} path", repr(path), repr(call.args[0].text))
    names = ["access", "share", "security", "disposition", "attributes", "template"]
    for name, wanted, arg in zip(names, want, call.args[1:]):
        # Pointers are whole; DWORDs are the low half of the register Wine prints.
        actual = arg.value if name in ("security", "template") else _low(arg.value)
        if actual != wanted:
            r.fail(f"{what} {name}", hex(wanted), hex(actual))


class _Report:
    def __init__(self):
        self.failures = []

    def fail(self, what, expected, actual):
        self.failures.append(f"{what}: expected {expected}, actual {actual}")

    def check(self, what, expected, actual):
        if expected != actual:
            self.fail(what, repr(expected), repr(actual))


def check_calls(calls, expected):
    """Returns one line per difference between the calls and what is expected of them."""
    r = _Report()
    named = lambda name: [c for c in calls if c.name == name]

    # Folder tests: the patterns in order; each listing closed before the next one is opened,
    # the last one before the process ends.
    finds = named("FindFirstFileW")
    r.check("FindFirstFileW patterns", expected.listings,
            [c.args[0].text if c.args else None for c in finds])
    closes = named("FindClose")
    exits = named("ExitProcess")
    end = exits[0].index if exits else len(calls)
    for n, find in enumerate(finds):
        if find.retval is None or find.retval == INVALID_HANDLE:
            continue
        until = finds[n + 1].index if n + 1 < len(finds) else end
        mine = [c for c in closes if c.args and c.args[0].value == find.retval]
        if not any(find.index < c.index < until for c in mine):
            r.fail(f"FindClose of the handle of {find.describe()}",
                   f"before call #{until}", [c.index for c in mine] or "no FindClose")

    r.check("CreateDirectoryW paths", expected.made_folders,
            [c.args[0].text for c in named("CreateDirectoryW")])
    r.check("DeleteFileW paths", expected.removals, [c.args[0].text for c in named("DeleteFileW")])
    creates = named("CreateFileW")
    first_open = creates[0].index if creates else len(calls)
    for c in finds + named("CreateDirectoryW") + named("DeleteFileW"):
        if c.index > first_open:
            r.fail(f"{c.describe()}", "before the first item is opened", "after it")

    # Writes: each item opened once (with one fallback open when the first fails), written by
    # exactly one WriteFile of its full length, then closed.
    writes = named("WriteFile")
    handle_closes = named("CloseHandle")
    used_writes = set()
    position = 0
    last_close = -1
    for path, length in expected.writes:
        if position >= len(creates):
            r.fail(f"CreateFileW of {path!r}", "a call", "none")
            continue
        first = creates[position]
        position += 1
        want = [GENERIC_READ | GENERIC_WRITE, 0, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, 0]
        _check_create(r, first, path, want)
        opened = first
        if first.retval == INVALID_HANDLE and position < len(creates) and \
                _same_text(creates[position].args[0], path):
            opened = creates[position]
            position += 1
            _check_create(r, opened, path, [GENERIC_WRITE, 0, 0, TRUNCATE_EXISTING, 0, 0])
        if opened.retval is None or opened.retval == INVALID_HANDLE:
            r.fail(f"{opened.describe()}", "a handle", "INVALID_HANDLE_VALUE")
            continue
        handle = opened.retval
        close = next((c for c in handle_closes
                      if c.index > opened.index and c.args and c.args[0].value == handle), None)
        if close is None:
            r.fail(f"CloseHandle of the handle of {opened.describe()}", "a call", "none")
        until = close.index if close else len(calls)
        last_close = max(last_close, until)
        mine = [w for w in writes if opened.index < w.index < until and w.args[0].value == handle]
        used_writes.update(w.index for w in mine)
        want_lengths = [length] if length else []
        actual_lengths = [_low(w.args[2].value) for w in mine]
        if actual_lengths != want_lengths:
            r.fail(f"WriteFile calls for {path!r}", f"lengths {want_lengths}",
                   f"lengths {actual_lengths} ({'; '.join(w.describe() for w in mine)})")
        for w in mine:
            r.check(f"{w.describe()} OVERLAPPED", 0, w.args[4].value)
    for extra in creates[position:]:
        r.fail("CreateFileW", "no further call", extra.describe())
    for w in writes:
        if w.index not in used_writes:
            r.fail("WriteFile", "only writes of the items' handles", w.describe())

    # The notice: once, after every item is written and closed, before anything is started.
    boxes = named("MessageBoxW")
    caption, text, style = expected.notice
    if len(boxes) != 1:
        r.fail("MessageBoxW calls", 1, len(boxes))
    for box in boxes:
        r.check(f"{box.describe()} owner", 0, box.args[0].value)
        if not _same_text(box.args[1], text):
            r.fail(f"{box.describe()} text", repr(text), repr(box.args[1].text))
        if not _same_text(box.args[2], caption):
            r.fail(f"{box.describe()} caption", repr(caption), repr(box.args[2].text))
        r.check(f"{box.describe()} style", hex(style), hex(_low(box.args[3].value)))
        if box.index < last_close:
            r.fail(f"{box.describe()}", "after the last item is closed",
                   f"before call #{last_close}")

    # Launches: the command lines in order, no application name, no current directory.
    launches = named("CreateProcessW")
    r.check("CreateProcessW command lines", expected.launches,
            [c.args[1].text if len(c.args) > 1 else None for c in launches])
    for c in launches:
        r.check(f"{c.describe()} application name", 0, c.args[0].value)
        r.check(f"{c.describe()} current directory", 0, c.args[7].value)
        if boxes and c.index < boxes[0].index:
            r.fail(f"{c.describe()}", "after the notice", "before it")
    shells = named("ShellExecuteExW")
    if shells:
        r.fail("ShellExecuteExW", "no call", "; ".join(c.describe() for c in shells))
    if expected.enter_folder is not None and len(launches) >= 2:
        enters = [c for c in named("SetCurrentDirectoryW")
                  if launches[0].index < c.index < launches[1].index]
        if not any(_same_text(c.args[0], expected.enter_folder) for c in enters):
            r.fail("SetCurrentDirectoryW between the two launches", repr(expected.enter_folder),
                   [c.describe() for c in enters] or "none")

    # The end: ExitProcess with the code, as the image's last traced call.
    if len(exits) != 1:
        r.fail("ExitProcess calls", 1, len(exits))
    else:
        r.check("ExitProcess code", expected.exit_code, _low(exits[0].args[0].value))
        if exits[0] is not calls[-1]:
            r.fail("ExitProcess", "the last call", f"followed by {calls[-1].describe()}")
    return r.failures


def split_first_write(trace, tid, base, size):
    """A copy of the trace in which the image's first WriteFile of two bytes or more is made as
    two WriteFile calls of half the length each. None when there is no such write."""
    lines = trace.splitlines()
    for n, line in enumerate(lines):
        m = _LINE.match(line)
        if not m or m.group(2) != "Call" or m.group(4) != "WriteFile":
            continue
        if int(m.group(1), 16) != tid or not base <= int(m.group(7), 16) < base + size:
            continue
        args = m.group(5).split(",")
        length = int(args[2], 16) & 0xFFFFFFFF
        if length < 2:
            continue
        ret_prefix = f"{m.group(1)}:Ret  {m.group(3)}.WriteFile("
        ret_line = next((k for k in range(n + 1, len(lines))
                         if lines[k].startswith(ret_prefix)), None)
        if ret_line is None:
            return None
        halves = []
        for part, offset in ((length // 2, 0), (length - length // 2, length // 2)):
            split = list(args)
            split[1] = f"{int(args[1], 16) + offset:08x}"
            split[2] = f"{part:08x}"
            call = line.replace(m.group(5), ",".join(split))
            halves += [call, lines[ret_line]]
        return "\n".join(lines[:n] + halves + lines[n + 1:ret_line] + lines[ret_line + 1:]) + "\n"
    return None
