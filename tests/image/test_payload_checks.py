#!/usr/bin/env python3
"""The build refuses each kind of bad payload input with one line naming the file and the rule.

usage: test_payload_checks.py STAGE_SCRIPT INSTALL_FOLDER_HEADER GOOD_PAYLOAD_DIR
"""
import os
import shutil
import subprocess
import sys
import tempfile

NAMES = ("Solvarine.exe", "7za.exe", "Solvarine.lnk", "Solvarine_PC.pdf",
         "Checklist_Lightwave.txt", "Checklist_Terragen.txt")


def replace_bytes(data, old, new):
    assert old in data, old
    return data.replace(old, new, 1)


def pe_field(offset_from_pe, value, size=2):
    def change(data):
        pe = int.from_bytes(data[0x3C:0x40], "little")
        at = pe + offset_from_pe
        return data[:at] + value.to_bytes(size, "little") + data[at + size:]
    return change


# (what is wrong, file, how to break it, what the message must say)
CASES = [
    ("missing input", "7za.exe", None, "cannot be read"),
    ("item of 2^31 bytes", "Solvarine_PC.pdf", "sparse", "below 2^31 bytes"),
    ("tool is a console program", "Solvarine.exe", pe_field(24 + 68, 3), "64-bit Windows GUI"),
    ("tool is 32-bit", "Solvarine.exe", pe_field(4, 0x14C), "64-bit Windows GUI"),
    ("tool is no PE image", "Solvarine.exe", lambda d: b"not a program", "64-bit Windows GUI"),
    ("archiver is a GUI program", "7za.exe", pe_field(24 + 68, 2), "32-bit console"),
    ("guide without a PDF header", "Solvarine_PC.pdf", lambda d: b"<html>" + d, '"%PDF-"'),
    ("shortcut is no shell link", "Solvarine.lnk", lambda d: b"\0" * len(d), "shell link"),
    ("shortcut points elsewhere", "Solvarine.lnk",
     lambda d: replace_bytes(d, b"C:\\Solvarine\\Solvarine.exe", b"D:\\Solvarine\\Solvarine.exe"),
     "must point to"),
    ("shortcut starts elsewhere", "Solvarine.lnk",
     lambda d: replace_bytes(d, "C:\\Solvarine".encode("utf-16-le") + b"\x60\x00",
                             "D:\\Solvarine".encode("utf-16-le") + b"\x60\x00"),
     "must start in"),
    ("checklist with a byte over 0x7F", "Checklist_Lightwave.txt",
     lambda d: d.replace(b"Thank", b"Th\xe4nk"), "over 0x7F"),
    ("checklist with a NUL", "Checklist_Terragen.txt", lambda d: d.replace(b"!", b"\0"), "NUL"),
    ("checklist with a tab", "Checklist_Terragen.txt", lambda d: d.replace(b"- ", b"-\t", 1),
     "tab"),
    ("checklist with a byte order mark", "Checklist_Lightwave.txt",
     lambda d: b"\xef\xbb\xbf" + d, "byte order mark"),
    ("checklist with LF lines", "Checklist_Lightwave.txt", lambda d: d.replace(b"\r\n", b"\n"),
     "CR LF"),
    ("checklist without its last line end", "Checklist_Terragen.txt", lambda d: d[:-2], "CR LF"),
    ("checklist with a bare CR", "Checklist_Terragen.txt",
     lambda d: d.replace(b"\r\n", b"\r", 1), "CR LF"),
]


def main():
    script, header, good = sys.argv[1:4]
    failures = 0
    with tempfile.TemporaryDirectory() as scratch:
        # The good folder passes.
        result = subprocess.run([sys.executable, script, "--install-folder-header", header,
                                 "--out", os.path.join(scratch, "ok")] +
                                [os.path.join(good, n) for n in NAMES],
                                capture_output=True, text=True)
        if result.returncode != 0:
            print(f"FAIL good payload refused: {result.stderr.strip()}")
            failures += 1
        for what, name, damage, message in CASES:
            folder = os.path.join(scratch, what.replace(" ", "_"))
            out = os.path.join(folder, "staged")
            os.makedirs(folder)
            for n in NAMES:
                shutil.copyfile(os.path.join(good, n), os.path.join(folder, n))
            target = os.path.join(folder, name)
            if damage is None:
                os.remove(target)
            elif damage == "sparse":
                with open(target, "r+b") as f:
                    f.truncate(2**31)  # sparse: costs no disk
            else:
                with open(target, "rb") as f:
                    data = f.read()
                with open(target, "wb") as f:
                    f.write(damage(data))
            result = subprocess.run([sys.executable, script, "--install-folder-header", header,
                                     "--out", out] + [os.path.join(folder, n) for n in NAMES],
                                    capture_output=True, text=True)
            errors = [l for l in result.stderr.splitlines() if "warning" not in l]
            ok = (result.returncode == 1 and len(errors) == 1 and target in errors[0]
                  and message in errors[0] and not os.path.exists(out))
            print(f"{'ok  ' if ok else 'FAIL'} {what}: exit {result.returncode}, "
                  f"{errors if errors else 'no error line'}")
            if not ok:
                print(f"     expected exit 1, one line naming {target} and saying {message!r}, "
                      f"nothing staged")
                failures += 1
    print(f"{len(CASES) + 1 - failures} passed, {failures} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
