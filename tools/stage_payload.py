#!/usr/bin/env python3
"""Checks the six payload inputs and stages them, under their installed names, in one folder.

usage: stage_payload.py --install-folder-header HEADER --out DIR APP ARCHIVER SHORTCUT GUIDE
                        LIGHTWAVE TERRAGEN

Each broken rule is one line naming the file and the rule; then nothing is staged and the exit
code is 1. Plain Python (no third-party modules), so that any build host can run it.
"""
import argparse
import os
import re
import struct
import sys

NAMES = ("Solvarine.exe", "7za.exe", "Solvarine.lnk", "Solvarine_PC.pdf",
         "Checklist_Lightwave.txt", "Checklist_Terragen.txt")
MAX_LENGTH = 2**31 - 1  # the writer takes a length as a signed 32-bit count
ARCHIVER_DESCRIPTION = "7-Zip Standalone Console"
ARCHIVER_VERSION = "4.65"


class Problems:
    def __init__(self):
        self.errors = []

    def error(self, path, rule):
        self.errors.append(f"payload: {path}: {rule}")

    def warning(self, path, rule):
        print(f"payload: warning: {path}: {rule}", file=sys.stderr)


def install_folder(header):
    with open(header, encoding="utf-8") as source:
        match = re.search(r'#define\s+SOLVARINE_INSTALL_FOLDER\s+"((?:[^"\\]|\\.)*)"',
                          source.read())
    if not match:
        sys.exit(f"payload: {header}: no SOLVARINE_INSTALL_FOLDER definition")
    return match.group(1).encode("ascii").decode("unicode_escape")


def pe_header(data):
    """(machine, optional-header magic, subsystem) or None when DATA is no PE image."""
    if len(data) < 0x40 or data[:2] != b"MZ":
        return None
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if pe + 24 + 70 > len(data) or data[pe:pe + 4] != b"PE\0\0":
        return None
    machine = struct.unpack_from("<H", data, pe + 4)[0]
    magic, = struct.unpack_from("<H", data, pe + 24)
    subsystem, = struct.unpack_from("<H", data, pe + 24 + 68)
    return machine, magic, subsystem


def version_string(data, key):
    """The value of KEY in a version resource's string table, or None."""
    needle = (key + "\0").encode("utf-16-le")
    at = data.find(needle)
    while at >= 0:
        value = at + len(needle)
        value += -value % 4  # the value starts on a 32-bit boundary
        end = value
        while end + 1 < len(data) and data[end:end + 2] != b"\0\0":
            end += 2
        text = data[value:end].decode("utf-16-le", "replace")
        if text:
            return text
        at = data.find(needle, at + 2)
    return None


def check_app(path, data, problems):
    if pe_header(data) != (0x8664, 0x20B, 2):
        problems.error(path, "the tool must be a 64-bit Windows GUI program (PE32+, x86-64, "
                       "subsystem Windows GUI)")


def check_archiver(path, data, problems):
    if pe_header(data) != (0x14C, 0x10B, 3):
        problems.error(path, "the archiver must be a 32-bit console program (PE32, i386, "
                       "subsystem Windows CUI)")
        return
    description = version_string(data, "FileDescription")
    version = version_string(data, "FileVersion")
    if description != ARCHIVER_DESCRIPTION or version != ARCHIVER_VERSION:
        problems.warning(path, f'is "{description}" {version}, not "{ARCHIVER_DESCRIPTION}" '
                         f"{ARCHIVER_VERSION}: a release payload must carry 7za.exe "
                         f"{ARCHIVER_VERSION}")


def check_guide(path, data, problems):
    if not data.startswith(b"%PDF-"):
        problems.error(path, 'the user guide must be a PDF (no "%PDF-" header)')


SHELL_LINK_CLSID = bytes.fromhex("0114020000000000c000000000000046")


def shortcut_paths(data):
    """(LocalBasePath, WORKING_DIR) of a shell link, or None when DATA is not one."""
    if len(data) < 0x4C or struct.unpack_from("<I", data, 0)[0] != 0x4C \
            or data[4:20] != SHELL_LINK_CLSID:
        return None
    flags, = struct.unpack_from("<I", data, 20)
    at = 0x4C
    if flags & 0x1:  # HasLinkTargetIDList
        at += 2 + struct.unpack_from("<H", data, at)[0]
    local_base_path = None
    if flags & 0x2:  # HasLinkInfo
        size, _, info_flags, _, base_offset = struct.unpack_from("<IIIII", data, at)
        if info_flags & 0x1:
            start = at + base_offset
            local_base_path = data[start:data.index(b"\0", start)].decode("mbcs"
                                                                         if os.name == "nt"
                                                                         else "cp1252")
        at += size
    unicode = flags & 0x80
    working_dir = None
    for flag in (0x4, 0x8, 0x10, 0x20, 0x40):  # name, relative path, working dir, args, icon
        if flags & flag:
            count, = struct.unpack_from("<H", data, at)
            width = 2 if unicode else 1
            text = data[at + 2:at + 2 + count * width]
            at += 2 + count * width
            if flag == 0x10:
                working_dir = text.decode("utf-16-le" if unicode else "cp1252")
    return local_base_path, working_dir


def check_shortcut(path, data, problems, folder):
    try:
        paths = shortcut_paths(data)
    except (struct.error, ValueError, UnicodeDecodeError):
        paths = None
    if paths is None:
        problems.error(path, "the shortcut must be a shell link (MS-SHLLINK header)")
        return
    base, working_dir = paths
    if base != folder + "\\Solvarine.exe":
        problems.error(path, f'the shortcut must point to "{folder}\\Solvarine.exe", '
                       f'not "{base}"')
    if working_dir != folder:
        problems.error(path, f'the shortcut must start in "{folder}", not "{working_dir}"')


def check_checklist(path, data, problems):
    rule = None
    if data.startswith(b"\xef\xbb\xbf") or data.startswith(b"\xff\xfe") \
            or data.startswith(b"\xfe\xff"):
        rule = "has a byte order mark"
    elif any(b > 0x7F for b in data):
        rule = "has a byte over 0x7F (not 7-bit ASCII)"
    elif b"\0" in data:
        rule = "has a NUL byte"
    elif b"\t" in data:
        rule = "has a tab"
    elif not data.endswith(b"\r\n") or data.replace(b"\r\n", b"").find(b"\r") >= 0 \
            or data.replace(b"\r\n", b"").find(b"\n") >= 0:
        rule = "has a line not ended by CR LF"
    if rule:
        problems.error(path, "a checklist must be ASCII text with CR LF lines: it " + rule)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--install-folder-header", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("inputs", nargs=len(NAMES))
    args = parser.parse_args()
    folder = install_folder(args.install_folder_header)

    problems = Problems()
    contents = []
    for path in args.inputs:
        try:
            size = os.path.getsize(path)
            if size > MAX_LENGTH:
                problems.error(path, f"is {size} bytes; an item must be below 2^31 bytes")
                contents.append(None)
                continue
            with open(path, "rb") as source:
                contents.append(source.read())
        except OSError as error:
            problems.error(path, f"cannot be read ({error.strerror})")
            contents.append(None)

    checks = (check_app, check_archiver,
              lambda p, d, pr: check_shortcut(p, d, pr, folder),
              check_guide, check_checklist, check_checklist)
    for path, data, check in zip(args.inputs, contents, checks):
        if data is not None:
            check(path, data, problems)

    if problems.errors:
        for line in problems.errors:
            print(line, file=sys.stderr)
        return 1
    os.makedirs(args.out, exist_ok=True)
    for name, data in zip(NAMES, contents):
        target = os.path.join(args.out, name)
        with open(target + ".part", "wb") as out:
            out.write(data)
        os.replace(target + ".part", target)
    return 0


if __name__ == "__main__":
    sys.exit(main())
