"""The relay-trace checker against traces written as Wine 8 writes them: a faithful run passes,
and every doctored run fails with a line that names the call."""

import unittest

import relay_check

TID = 0x104
BASE = 0x140000000
SIZE = 0x200000
INSIDE = BASE + 0x1D56    # a return address in the image
OUTSIDE = 0x7B013D7E      # one in a system DLL

INSTALL = "C:\\Solvarine"
DESKTOP = "C:\\users\\root\\Desktop"
WRITES = [(INSTALL + "\\Solvarine.exe", 4096), (INSTALL + "\\7za.exe", 0xC1600),
          (DESKTOP + "\\Solvarine.lnk", 555), (INSTALL + "\\Solvarine_PC.pdf", 0x4464),
          (INSTALL + "\\Checklist_Lightwave.txt", 635), (INSTALL + "\\Checklist_Terragen.txt", 538)]
TEXT = ("Solvarine has been succesfully installed in C:\\Solvarine.\n"
        "A Solvarine icon has been placed on the desktop.")
EXPECTED = relay_check.Expected(
    listings=[INSTALL + "\\*.*", INSTALL + "\\archive\\*.*"],
    made_folders=[],
    removals=[INSTALL + "\\Checklist_Cinema4D.txt", INSTALL + "\\Checklist_Maya.txt"],
    writes=WRITES,
    launches=['"C:\\windows\\explorer.exe" C:\\Solvarine',
              '"C:\\Solvarine\\Solvarine.exe" C:\\Solvarine'],
    notice=("Solvarine installation", TEXT, 0),
    exit_code=0,
    enter_folder=INSTALL)


def wide(text):
    """A string as Wine's debugstr_w prints it."""
    out = []
    for ch in text:
        out.append({"\n": "\\n", "\r": "\\r", "\t": "\\t", '"': '\\"', "\\": "\\\\"}.get(ch) or
                   (ch if " " <= ch < "\x7f" else f"\\{ord(ch):04x}"))
    return 'L"' + "".join(out) + '"'


class Trace:
    def __init__(self):
        self.lines = [f'{TID:04x}:trace:loaddll:build_module Loaded '
                      f'L"C:\\\\e2e\\\\download\\\\Solvarine_Setup.exe" at {BASE:016X}: native']

    def call(self, dll, name, args, retval, ret=INSIDE, tid=TID):
        self.lines.append(f"{tid:04x}:Call {dll}.{name}({','.join(args)}) ret={ret:x}")
        self.lines.append(f"{tid:04x}:Ret  {dll}.{name}() retval={retval:08x} ret={ret:x}")

    def text(self):
        return "\n".join(self.lines) + "\n"


def faithful(split_write=None, share=0, late_close=False, early_box=False):
    t = Trace()
    k = "KERNEL32"
    t.call(k, "FindFirstFileW", [f"0038c7f0 {wide(EXPECTED.listings[0])}", "0021c0a0"], 0x3AE710)
    if not late_close:
        t.call(k, "FindClose", ["003ae710"], 1)
    t.call(k, "FindFirstFileW", [f"0038c560 {wide(EXPECTED.listings[1])}", "0021c0a0"], 0x3AE750)
    if late_close:
        t.call(k, "FindClose", ["003ae710"], 1)
    for path in EXPECTED.removals:
        t.call(k, "DeleteFileW", [f"0021cd38 {wide(path)}"], 0)
    if early_box:
        t.call("user32", "MessageBoxW", ["00000000", f"0021cd38 {wide(TEXT)}",
                                         f"1400041e0 {wide('Solvarine installation')}",
                                         "00000000"], 1)
    for n, (path, length) in enumerate(WRITES):
        # Wine prints whole registers: a DWORD argument may carry junk in its upper half.
        t.call(k, "CreateFileW", [f"0021cd38 {wide(path)}", "c0000000", f"{share:08x}", "00000000",
                                  "100000002", "00000080", "00000000"], 0x7C)
        # A WriteFile that a system DLL makes on its own behalf does not count.
        t.call(k, "WriteFile", ["0000007c", "140004500", "00000010", "0021c2bc", "00000000"], 1,
               ret=OUTSIDE)
        parts = [length // 2, length - length // 2] if n == split_write else [length]
        for part in parts:
            t.call(k, "WriteFile", ["0000007c", "140004500", f"{part:08x}", "0021c2bc",
                                    "00000000"], 1)
        t.call(k, "CloseHandle", ["0000007c"], 1)
    if not early_box:
        t.call("user32", "MessageBoxW", ["00000000", f"0021cd38 {wide(TEXT)}",
                                         f"1400041e0 {wide('Solvarine installation')}",
                                         "00000000"], 1)
    t.call(k, "CreateProcessW", ["00000000", f"003b0d40 {wide(EXPECTED.launches[0])}", "00000000",
                                 "00000000", "00000000", "100000020", "00000000", "00000000",
                                 "0021c238", "0021c220"], 1)
    t.call(k, "SetCurrentDirectoryW", [f"0021c398 {wide(INSTALL)}"], 1)
    t.call(k, "CreateProcessW", ["00000000", f"003b0d40 {wide(EXPECTED.launches[1])}", "00000000",
                                 "00000000", "00000000", "100000020", "00000000", "00000000",
                                 "0021c238", "0021c220"], 1)
    # Another thread of the process is not the installer's.
    other = wide("C:\\other")
    t.call(k, "CreateFileW", [f"0021cd38 {other}", "c0000000", "00000000", "00000000",
                              "00000002", "00000080", "00000000"], 0x80, tid=TID + 4)
    t.call(k, "FindClose", ["003ae750"], 1)
    t.lines.append(f"{TID:04x}:Call {k}.ExitProcess(00000000) ret={INSIDE:x}")
    return t.text()


def check(trace):
    tid, base = relay_check.image_load(trace, "Solvarine_Setup.exe")
    return relay_check.check_calls(relay_check.image_calls(trace, tid, base, SIZE), EXPECTED)


class RelayCheckTest(unittest.TestCase):
    def test_faithful_run_passes(self):
        self.assertEqual([], check(faithful()))

    def test_doctored_runs_fail(self):
        cases = [
            ("a write split in two", faithful(split_write=1),
             "WriteFile calls for 'C:\\\\Solvarine\\\\7za.exe'"),
            ("a write split in two, small item", faithful(split_write=2), "WriteFile calls for"),
            ("a shared open", faithful(share=1), "share: expected 0x0, actual 0x1"),
            ("the first listing closed after the second opened", faithful(late_close=True),
             "FindClose of the handle of"),
            ("the notice before the writes", faithful(early_box=True), "after the last item"),
        ]
        for what, trace, message in cases:
            with self.subTest(what):
                failures = check(trace)
                self.assertTrue(any(message in f for f in failures),
                                f"{what}: no failure naming {message!r} in {failures}")

    def test_split_first_write_makes_the_check_fail(self):
        doctored = relay_check.split_first_write(faithful(), TID, BASE, SIZE)
        self.assertIsNotNone(doctored)
        failures = check(doctored)
        self.assertTrue(any("WriteFile calls for 'C:\\\\Solvarine\\\\Solvarine.exe'" in f
                            for f in failures), failures)

    def test_strings_as_wine_prints_them(self):
        args = relay_check.parse_args('0021cd38 L"a\\\\b\\"c,d\\n\\00e9",00000000,1400c L"long"...')
        self.assertEqual(["a\\b\"c,d\n\u00e9", None, "long"], [a.text for a in args])
        self.assertEqual([0x21CD38, 0, 0x1400C], [a.value for a in args])
        self.assertEqual([False, False, True], [a.truncated for a in args])


if __name__ == "__main__":
    unittest.main()
