#!/usr/bin/python3
"""Builds the installer again in fresh trees and compares with the main build:

- same inputs: every generated input, the icon and the image have the same sha256;
- one input replaced by a file of another size (--payload): every later boundary moves by the
  difference, only that item's length changes, and the image still checks out.

usage: rebuild_test.py SOURCE_DIR MAIN_BUILD_DIR (the folder holding host/ and windows/)
"""
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile

NAMES = ("Solvarine.exe", "7za.exe", "Solvarine.lnk", "Solvarine_PC.pdf",
         "Checklist_Lightwave.txt", "Checklist_Terragen.txt")
failures = []


def run(*command):
    result = subprocess.run(command, capture_output=True, text=True)
    if result.returncode != 0:
        sys.exit(f"FAIL {' '.join(command)}\n{result.stdout[-3000:]}{result.stderr[-3000:]}")


def sha256(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def cache_value(build, name):
    with open(os.path.join(build, "CMakeCache.txt")) as cache:
        for line in cache:
            if line.startswith(name + ":"):
                return line.split("=", 1)[1].strip()
    return ""


def build_windows(source, tree, sample_dir, payload_dir):
    run("cmake", "-S", source, "-B", tree, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
        f"-DCMAKE_TOOLCHAIN_FILE={source}/cmake/mingw-w64-x86_64.cmake",
        f"-DSOLVARINE_SAMPLE_DIR={sample_dir}", f"-DSOLVARINE_PAYLOAD_DIR={payload_dir}")
    run("cmake", "--build", tree, "--target", "Solvarine_Setup")


def boundaries(map_path):
    found = {}
    with open(map_path) as lines:
        for line in lines:
            match = re.match(r"\s+0x([0-9a-f]+)\s+solvarine_payload_(\d)\s*$", line)
            if match:
                found[int(match.group(2))] = int(match.group(1), 16)
    return [found[i] for i in range(7)]


def expect(what, expected, actual):
    if expected != actual:
        failures.append(f"{what}: expected {expected!r}, got {actual!r}")


def main():
    source, main_build = sys.argv[1:3]
    main_windows = os.path.join(main_build, "windows")
    payload_dir = cache_value(main_windows, "SOLVARINE_PAYLOAD_DIR")
    with tempfile.TemporaryDirectory() as scratch:
        # 1. The same commit, built again from nothing, gives the same bytes.
        host = os.path.join(scratch, "host")
        run("cmake", "-S", source, "-B", host, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=RelWithDebInfo")
        run("cmake", "--build", host, "--target", "sample_payload")
        again = os.path.join(scratch, "windows")
        build_windows(source, again, os.path.join(host, "sample-payload"), payload_dir)
        compared = [os.path.join("payload", n) for n in NAMES] + \
            ["resources/solvarine.ico", "Solvarine_Setup.exe"]
        for path in compared:
            expect(f"sha256 of {path} in a second build", sha256(os.path.join(main_windows, path)),
                   sha256(os.path.join(again, path)))
        print(f"second build: {len(compared)} files compared")

        # 2. A payload folder with a longer user guide.
        own = os.path.join(scratch, "own-payload")
        shutil.copytree(os.path.join(main_windows, "payload"), own,
                        ignore=shutil.ignore_patterns("tool"))
        extra = b"\n% padding after the end of the document\n" * 25
        with open(os.path.join(own, "Solvarine_PC.pdf"), "ab") as guide:
            guide.write(extra)
        replaced = os.path.join(scratch, "windows-own")
        build_windows(source, replaced, "", own)
        old = boundaries(os.path.join(main_windows, "Solvarine_Setup.map"))
        new = boundaries(os.path.join(replaced, "Solvarine_Setup.map"))
        for i in range(7):
            shift = len(extra) if i >= 4 else 0  # the boundaries after the guide move
            expect(f"boundary {i}", old[i] + shift, new[i])
        for i, name in enumerate(NAMES):
            grow = len(extra) if name == "Solvarine_PC.pdf" else 0
            expect(f"length of {name}", old[i + 1] - old[i] + grow, new[i + 1] - new[i])
        check = subprocess.run(
            ["/usr/bin/python3", os.path.join(source, "tests/image/check_image.py"),
             os.path.join(replaced, "Solvarine_Setup.exe"),
             os.path.join(replaced, "Solvarine_Setup.map"), os.path.join(replaced, "payload"),
             os.path.join(source, "resources/installer.manifest"), "1000000000"],
            capture_output=True, text=True)
        expect("image check of the own-payload build", 0, check.returncode)
        if check.returncode:
            print(check.stdout)
    for failure in failures:
        print("FAIL", failure)
    print(f"{'ok' if not failures else 'FAILED'}: rebuilds compared")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
