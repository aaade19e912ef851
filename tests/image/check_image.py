#!/usr/bin/python3
"""Reads the built installer with an independent PE parser (pefile) and checks what Windows and the
user see of it: headers, imports, resources, no signature, and the payload laid out unchanged.

usage: check_image.py IMAGE MAP STAGE_DIR MANIFEST OVERHEAD_BUDGET
"""
import os
import re
import struct
import sys

import pefile

NAMES = ("Solvarine.exe", "7za.exe", "Solvarine.lnk", "Solvarine_PC.pdf",
         "Checklist_Lightwave.txt", "Checklist_Terragen.txt")
ALLOWED_DLLS = {"kernel32.dll", "user32.dll", "shell32.dll", "ole32.dll", "comctl32.dll"}
RT_ICON, RT_GROUP_ICON, RT_MANIFEST = 3, 14, 24

failures = []


def expect(what, expected, actual):
    if expected != actual:
        failures.append(f"{what}: expected {expected!r}, got {actual!r}")


def map_symbols(map_path):
    symbols = {}
    with open(map_path) as lines:
        for line in lines:
            match = re.match(r"\s+0x([0-9a-f]+)\s+(\w+)\s*$", line)
            if match:
                symbols[match.group(2)] = int(match.group(1), 16)
    return symbols


def check_headers(pe, symbols):
    expect("optional header magic", 0x20B, pe.OPTIONAL_HEADER.Magic)
    expect("machine", 0x8664, pe.FILE_HEADER.Machine)
    expect("subsystem", 2, pe.OPTIONAL_HEADER.Subsystem)
    expect("subsystem version", (5, 2), (pe.OPTIONAL_HEADER.MajorSubsystemVersion,
                                          pe.OPTIONAL_HEADER.MinorSubsystemVersion))
    expect("link timestamp", 0, pe.FILE_HEADER.TimeDateStamp)
    entry = pe.OPTIONAL_HEADER.ImageBase + pe.OPTIONAL_HEADER.AddressOfEntryPoint
    expect("entry point", hex(symbols.get("RunInstall", -1)), hex(entry))
    security = pe.OPTIONAL_HEADER.DATA_DIRECTORY[
        pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]]
    expect("certificate table (address, size)", (0, 0), (security.VirtualAddress, security.Size))
    expect("TLS directory size", 0, pe.OPTIONAL_HEADER.DATA_DIRECTORY[
        pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_TLS"]].Size)


def check_imports(pe):
    dlls = {entry.dll.decode().lower() for entry in pe.DIRECTORY_ENTRY_IMPORT}
    expect("imported DLLs outside the allowed five", set(), dlls - ALLOWED_DLLS)
    for entry in pe.DIRECTORY_ENTRY_IMPORT:
        names = sorted(i.name.decode() for i in entry.imports if i.name)
        print(f"imports {entry.dll.decode()}: {' '.join(names)}")


def resources(pe):
    found = {}
    for type_entry in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        for name_entry in type_entry.directory.entries:
            for lang_entry in name_entry.directory.entries:
                data = pe.get_data(lang_entry.data.struct.OffsetToData, lang_entry.data.struct.Size)
                found[(type_entry.id, name_entry.id, lang_entry.id)] = data
    return found


def check_resources(pe, manifest_path):
    found = resources(pe)
    expect("resources (type, id, language)",
           sorted([(RT_ICON, 1, 1033), (RT_GROUP_ICON, 1, 1033), (RT_MANIFEST, 1, 1033)]),
           sorted(found))
    group = found.get((RT_GROUP_ICON, 1, 1033), b"")
    expect("icon group header and entry", (0, 1, 1, 24, 24, 0, 0, 1, 32, 2440, 1),
           struct.unpack("<HHHBBBBHHIH", group) if len(group) == 20 else group)
    icon = found.get((RT_ICON, 1, 1033), b"")
    expect("icon size", 2440, len(icon))
    if len(icon) == 2440:
        expect("icon BITMAPINFOHEADER", (40, 24, 48, 1, 32, 0, 2304, 3779, 3779, 0, 0),
               struct.unpack_from("<IiiHHIIiiII", icon))
        pixels = icon[40:40 + 2304]
        expect("pixels with alpha other than 255", 0,
               sum(1 for i in range(3, len(pixels), 4) if pixels[i] != 255))
        expect("bottom-left pixel (background, BGRA)", bytes.fromhex("fafafaff"), pixels[:4])
        expect("AND mask", bytes(96), icon[40 + 2304:])
    with open(manifest_path, "rb") as manifest:
        expect("manifest bytes", manifest.read(), found.get((RT_MANIFEST, 1, 1033)))


def check_payload(pe, symbols, stage_dir):
    inputs = []
    for name in NAMES:
        with open(os.path.join(stage_dir, name), "rb") as item:
            inputs.append(item.read())
    base = pe.OPTIONAL_HEADER.ImageBase
    boundaries = [symbols.get(f"solvarine_payload_{i}", 0) - base for i in range(7)]
    section = pe.get_section_by_rva(boundaries[0])
    expect("section holding the payload", b".rdata", section.Name.rstrip(b"\0") if section else None)
    if not section:
        return 0
    start = boundaries[0] - section.VirtualAddress
    data = section.get_data()
    offset = start
    for i, (name, item) in enumerate(zip(NAMES, inputs)):
        expect(f"{name}: boundaries", (offset, offset + len(item)),
               (boundaries[i] - section.VirtualAddress, boundaries[i + 1] - section.VirtualAddress))
        expect(f"{name}: bytes in the image equal the input", True,
               data[offset:offset + len(item)] == item)
        offset += len(item)
    return sum(len(item) for item in inputs)


def rdata_inputs(map_path):
    """(input section name, address, size) of the .rdata output section, in link order."""
    inputs, inside, pending = [], False, None
    with open(map_path) as lines:
        for line in lines:
            if re.match(r"^\.rdata\s", line):
                inside = True
                continue
            if inside and re.match(r"^\S", line):
                break
            if not inside:
                continue
            one_line = re.match(r"^ (\.rdata\S*)\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s", line)
            name_only = re.match(r"^ (\.rdata\S*)\s*$", line)
            placed = re.match(r"^\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+\S", line)
            if one_line:
                inputs.append((one_line.group(1), int(one_line.group(2), 16),
                               int(one_line.group(3), 16)))
            elif name_only:
                pending = name_only.group(1)
            elif placed and pending:
                inputs.append((pending, int(placed.group(1), 16), int(placed.group(2), 16)))
                pending = None
    return inputs


def check_payload_neighbours(map_path):
    """Only the literal data of the code lies before the payload, and nothing in between."""
    inputs = [i for i in rdata_inputs(map_path) if i[2] > 0]
    names = [i[0] for i in inputs]
    expect("input section holding the payload", True, ".rdata$payload" in names)
    if ".rdata$payload" not in names:
        return
    at = names.index(".rdata$payload")
    expect("payload is not the first data of .rdata (the literal strings are)", True, at > 0)
    if at > 0:
        _, previous, size = inputs[at - 1]
        gap = inputs[at][1] - (previous + size)
        expect("bytes between the literal strings and the payload (alignment only)", True,
               0 <= gap < 16)


def main():
    image, map_path, stage_dir, manifest, budget = sys.argv[1:6]
    pe = pefile.PE(image)
    symbols = map_symbols(map_path)
    check_headers(pe, symbols)
    check_imports(pe)
    check_resources(pe, manifest)
    payload_size = check_payload(pe, symbols, stage_dir)
    check_payload_neighbours(map_path)
    overhead = os.path.getsize(image) - payload_size
    print(f"image {os.path.getsize(image)} bytes, payload {payload_size} bytes, "
          f"overhead {overhead} bytes (budget {budget})")
    expect("overhead within budget", True, overhead <= int(budget))
    for failure in failures:
        print("FAIL", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
