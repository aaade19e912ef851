#!/usr/bin/env python3
"""End-to-end scenarios: the built Solvarine_Setup.exe under Wine, judged by what a user and the
system can see.

    run_scenario.py --list                 the scenario names, one a line (for CMake)
    run_scenario.py CONFIG SCENARIO        runs one scenario; exit 0 pass, 1 fail, 77 skipped

CONFIG is the e2e-config.json that CMake writes. Every scenario gets a reset Wine prefix of its
own (C:\\Solvarine, the desktop and C:\\e2e cleared), starts the installer through e2e_driver.exe,
takes its screenshots while the driver holds each window, and ends every Wine process of the
prefix afterwards, also when it fails.
"""

import fcntl
import getpass
import hashlib
import json
import os
import shutil
import signal
import struct
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import relay_check  # noqa: E402

SKIPPED = 77
WINE = "/usr/lib/wine/wine64" if os.access("/usr/lib/wine/wine64", os.X_OK) else "wine"
BASE_OVERRIDES = "mscoree,mshtml="
PREFIX_VERSION = "3"  # bump when the preparation of the prefix changes

INSTALL = "C:\\Solvarine"
ARCHIVE = INSTALL + "\\archive"
WINDOWS = "C:\\windows"  # where Wine's prefix keeps the system's Explorer
DOWNLOAD = "C:\\e2e\\download"  # where the user saved the installer
ELSEWHERE = "C:\\e2e\\elsewhere"
CONTROL = "C:\\e2e\\ctl"
MARKERS = "C:\\e2e\\markers"
SETUP = DOWNLOAD + "\\Solvarine_Setup.exe"

# The six items in the order the installer writes them; True: on the desktop.
ITEMS = [("Solvarine.exe", False), ("7za.exe", False), ("Solvarine.lnk", True),
         ("Solvarine_PC.pdf", False), ("Checklist_Lightwave.txt", False),
         ("Checklist_Terragen.txt", False)]
OBSOLETE = ["Checklist_Cinema4D.txt", "Checklist_Maya.txt"]

CAPTION = "Solvarine installation"
SUCCESS_TEXT = ("Solvarine has been succesfully installed in C:\\Solvarine.\n"
                "A Solvarine icon has been placed on the desktop.")
FAILURE_HEAD = ("The installation of Solvarine in C:\\Solvarine is not complete.\n"
                "These could not be created or written:\n")
FAILURE_TAIL = ("\nA running Solvarine keeps its executable locked. Close Solvarine, then run the "
                "installer again.")
SS_ICON = 0x3


def failure_text(paths):
    return FAILURE_HEAD + "".join(p + "\n" for p in paths) + FAILURE_TAIL


class Skip(Exception):
    pass


class Checks:
    """Collects every difference, as Wine's tests do: what, expected, actual."""

    def __init__(self):
        self.failures = []

    def fail(self, what, expected, actual):
        self.failures.append(f"{what}: expected {expected}, actual {actual}")

    def equal(self, what, expected, actual):
        if expected != actual:
            self.fail(what, repr(expected), repr(actual))
            return False
        return True

    def true(self, what, condition, actual=""):
        if not condition:
            self.fail(what, "true", actual or "false")
        return condition


class Harness:
    def __init__(self, config, scenario):
        self.cfg = config
        self.prefix = Path(config["prefix"])
        self.drive_c = self.prefix / "drive_c"
        self.user = getpass.getuser()
        self.desktop = f"C:\\users\\{self.user}\\Desktop"
        self.artefacts = Path(config["artefacts"]) / scenario
        shutil.rmtree(self.artefacts, ignore_errors=True)
        self.artefacts.mkdir(parents=True)
        self.payload = {name: (Path(config["payload_dir"]) / name).read_bytes()
                        for name, _ in ITEMS}
        self.overrides = BASE_OVERRIDES
        self.mounts = []
        self.immutable = []
        self.background = []
        self.driver_runs = 0

    # Paths ------------------------------------------------------------------------------------
    def unix(self, windows_path):
        assert windows_path[:3].upper() == "C:\\", windows_path
        return self.drive_c.joinpath(*windows_path[3:].split("\\"))

    def target(self, name):
        on_desktop = dict(ITEMS)[name]
        return (self.desktop if on_desktop else INSTALL) + "\\" + name

    def windows_path_of(self, unix_path):
        return "Z:" + str(Path(unix_path).resolve()).replace("/", "\\")

    # Wine -------------------------------------------------------------------------------------
    def env(self, debug="-all"):
        env = dict(os.environ)
        env.update(WINEPREFIX=str(self.prefix), WINEARCH="win64", WINEDEBUG=debug,
                   WINEDLLOVERRIDES=self.overrides)
        return env

    def wine(self, args, log_name, timeout=120, background=False, debug="-all"):
        log = open(self.artefacts / log_name, "ab")
        proc = subprocess.Popen([WINE] + args, env=self.env(debug), stdin=subprocess.DEVNULL,
                                stdout=log, stderr=log)
        if background:
            self.background.append(proc)
            return proc
        try:
            proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
            raise RuntimeError(f"{' '.join(args)} did not end within {timeout} s")
        finally:
            log.close()
        return proc.returncode

    def end_wine(self):
        subprocess.run(["wineserver", "-k"], env=self.env(), stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-w"], env=self.env(), stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=60)
        for proc in self.background:
            try:
                proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                proc.kill()
        self.background = []

    def ensure_prefix(self):
        """Makes the prefix once, like scripts/wine-prefix, with a desktop of its own, and keeps
        the settings the scenarios rely on in its registry."""
        self.prefix.parent.mkdir(parents=True, exist_ok=True)
        with open(self.prefix.parent / "e2e-prefix.lock", "w") as lock:
            fcntl.flock(lock, fcntl.LOCK_EX)
            self.end_wine()  # Wine writes the registry files when its server ends
            stamp = self.prefix / ".e2e-prefix-version"
            env = self.env()
            if not stamp.exists() or stamp.read_text() != PREFIX_VERSION:
                shutil.rmtree(self.prefix, ignore_errors=True)
                subprocess.run([str(Path(self.cfg["source_dir"]) / "scripts" / "wine-prefix")],
                               env=env, check=True, timeout=600)
                # Wine links the profile's folders to the Linux home: a scenario must clear its
                # desktop without touching anyone's files, so the links become folders.
                profile = self.drive_c / "users" / self.user
                for entry in profile.iterdir():
                    if entry.is_symlink():
                        entry.unlink()
                        entry.mkdir()
                self.end_wine()
                stamp.write_text(PREFIX_VERSION)
            # The relay trace of the call-contract scenario is limited to the calls it checks;
            # Wine draws the windows' frames and captions itself, as Xvfb has no window manager
            # (the screenshots then show the caption).
            relay = f'"RelayInclude"="{";".join(relay_check.TRACED_CALLS)}"'
            user_reg = (self.prefix / "user.reg").read_text(errors="replace")
            if relay not in user_reg or '"Decorated"="N"' not in user_reg:
                settings = self.prefix / "e2e-settings.reg"
                settings.write_text(
                    "Windows Registry Editor Version 5.00\r\n\r\n"
                    "[HKEY_CURRENT_USER\\Software\\Wine\\Debug]\r\n"
                    f"{relay}\r\n\r\n"
                    "[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\r\n"
                    '"Decorated"="N"\r\n')
                subprocess.run([WINE, "reg", "import", self.windows_path_of(settings)], env=env,
                               check=True, timeout=120, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
                self.end_wine()

    def make_read_only(self, windows_path):
        """A read-only file, as Windows sees one (FILE_ATTRIBUTE_READONLY) and as it behaves.
        Wine shows a file without write permission as read-only, but a process running as root
        may still write it; the immutable flag makes it refuse writes to root too."""
        path = self.unix(windows_path)
        path.chmod(0o444)
        if os.geteuid() == 0:
            flag = subprocess.run(["chattr", "+i", str(path)], capture_output=True, text=True)
            if flag.returncode != 0:
                raise Skip(f"running as root and cannot make {path} immutable "
                           f"({flag.stderr.strip()}): root would write a read-only file")
            self.immutable.append(path)

    def attributes(self, windows_path):
        out = CONTROL + "\\attributes.json"
        self.wine([self.cfg["driver"], "attributes", windows_path, out], "wine.log")
        return json.loads(self.unix(out).read_text())["attributes"]

    def release_read_only(self):
        for path in self.immutable:
            subprocess.run(["chattr", "-i", str(path)], stderr=subprocess.DEVNULL)
        self.immutable = []

    def unmount_all(self):
        for mount in reversed(self.mounts):
            subprocess.run(["umount", str(mount)], stderr=subprocess.DEVNULL)
        self.mounts = []
        # A mount left by an interrupted run.
        with open("/proc/mounts") as mounts:
            for line in mounts:
                point = line.split()[1]
                if point.startswith(str(self.drive_c) + "/"):
                    subprocess.run(["umount", point], stderr=subprocess.DEVNULL)

    def reset(self):
        self.end_wine()
        self.unmount_all()
        if self.unix(INSTALL).exists() and os.geteuid() == 0:  # left by an interrupted run
            subprocess.run(["chattr", "-R", "-i", str(self.unix(INSTALL))],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for path in [self.unix(INSTALL), self.unix("C:\\e2e")]:
            if path.is_symlink() or path.is_file():
                path.unlink()
            elif path.exists():
                shutil.rmtree(path)
        desktop = self.unix(self.desktop)
        shutil.rmtree(desktop, ignore_errors=True)
        desktop.mkdir()
        for folder in [DOWNLOAD, ELSEWHERE, CONTROL, MARKERS]:
            self.unix(folder).mkdir(parents=True)
        shutil.copyfile(self.cfg["installer"], self.unix(SETUP))

    def plant(self, windows_path, data):
        path = self.unix(windows_path)
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)
        return path

    def markers(self):
        found = []
        for marker in sorted(self.unix(MARKERS).iterdir()):
            found.append(marker.read_text(errors="replace").strip().replace("\r\n", "; "))
        return found

    def clear_markers(self):
        for marker in self.unix(MARKERS).iterdir():
            marker.unlink()

    # Screenshots --------------------------------------------------------------------------------
    def screenshot(self, rect, out):
        """The window's part of the screen, once it has been painted and stays the same."""
        x, y, w, h = rect
        previous = None
        for _ in range(40):
            grab = subprocess.run(["import", "-silent", "-window", "root", "-crop",
                                   f"{w}x{h}+{x}+{y}", "+repage", "-strip", "png:-"],
                                  capture_output=True)
            if grab.returncode != 0:
                raise RuntimeError(f"import: {grab.stderr.decode(errors='replace')}")
            if grab.stdout == previous and len(set(self.pixels(grab.stdout))) > 1:
                break
            previous = grab.stdout
            time.sleep(0.15)
        out.write_bytes(previous)

    @staticmethod
    def pixels(png, crop=None):
        args = ["convert", "png:-"]
        if crop:
            x, y, w, h = crop
            args += ["-crop", f"{w}x{h}+{x}+{y}", "+repage"]
        raw = subprocess.run(args + ["-depth", "8", "rgb:-"], input=png, capture_output=True,
                             check=True).stdout
        return [raw[i:i + 3] for i in range(0, len(raw) - 2, 3)]

    # The installer ----------------------------------------------------------------------------
    def run_installer(self, cwd=DOWNLOAD, arguments=None, wait_launches=True, child_env=(),
                      at_notice=None, installer=SETUP):
        """Starts the installer through the driver and returns the driver's report."""
        self.driver_runs += 1
        control = self.unix(CONTROL)
        for stale in control.iterdir():
            stale.unlink()
        out = CONTROL + "\\report.json"
        args = [self.cfg["driver"], "install", "--installer", installer, "--cwd", cwd,
                "--control", CONTROL, "--out", out]
        for assignment in child_env:
            args += ["--child-env", assignment]
        if wait_launches:
            args.append("--wait-launches")
        if arguments is not None:
            args += ["--arguments", arguments]
        log = open(self.artefacts / "wine.log", "ab")
        proc = subprocess.Popen([WINE] + args, env=self.env(), stdin=subprocess.DEVNULL,
                                stdout=log, stderr=log)
        handled = set()
        deadline = time.monotonic() + 240
        try:
            while True:
                for name in ("notice", "explorer"):
                    ready = control / f"{name}.json"
                    if name in handled or not ready.exists():
                        continue
                    handled.add(name)
                    info = json.loads(ready.read_text())
                    if name == "notice" and at_notice:
                        at_notice(info)
                    self.screenshot(info["rect"], self.artefacts / f"{name}.png")
                    (control / f"{name}.done").write_text("")
                if proc.poll() is not None:
                    break
                if time.monotonic() > deadline:
                    proc.kill()
                    raise RuntimeError("the driver did not end within 240 s")
                time.sleep(0.05)
        finally:
            log.close()
        report_path = self.unix(out)
        if proc.returncode != 0 or not report_path.exists():
            raise RuntimeError(f"the driver ended with {proc.returncode} and no report "
                               f"(see {self.artefacts / 'wine.log'})")
        report = json.loads(report_path.read_text())
        (self.artefacts / f"report-{self.driver_runs}.json").write_text(
            json.dumps(report, indent=2, ensure_ascii=False))
        return report

    def resolve_link(self, windows_path):
        out = CONTROL + "\\link.json"
        self.wine([self.cfg["driver"], "resolve-link", windows_path, out], "wine.log")
        return json.loads(self.unix(out).read_text())

    def hold(self, windows_path):
        """Starts a program that keeps the file open without write sharing."""
        ready = CONTROL + "\\held.txt"
        self.wine([self.cfg["driver"], "hold", windows_path, ready], "wine.log", background=True)
        deadline = time.monotonic() + 60
        while not self.unix(ready).exists():
            if time.monotonic() > deadline:
                raise RuntimeError("the holding program did not start within 60 s")
            time.sleep(0.05)
        state = self.unix(ready).read_text()
        if state != "held":
            raise RuntimeError(f"the holding program could not open {windows_path}: {state}")


# Shared expectations ------------------------------------------------------------------------------

def is_named(process, name):
    return process["name"].lower() == name.lower()


def launched(report, key):
    """Programs that the installer started, or that look like the two it may start."""
    return [p for p in report.get(key, []) if p["parent"] == report.get("installer_pid")
            or is_named(p, "explorer.exe") or is_named(p, "Solvarine.exe")]


def icon_of_notice(h, report):
    """What icon the box shows: None, or the share of red pixels in it (the error icon is red)."""
    box_x, box_y = report["notice_rect"][:2]
    for child in report["notice_children"]:
        if child["class"].lower() == "static" and child["style"] & 0x1F == SS_ICON \
                and child["visible"] and child["has_icon"]:
            x, y, w, h_ = child["rect"]
            png = (h.artefacts / "notice.png").read_bytes()
            pixels = h.pixels(png, (x - box_x, y - box_y, w, h_))
            red = sum(1 for r, g, b in pixels if r > 150 and g < 90 and b < 90)
            return red / max(len(pixels), 1)
    return None


def expect_notice(c, h, report, text, icon_error):
    c.equal("notice shown", True, report.get("notice_shown"))
    if not report.get("notice_shown"):
        return
    c.equal("notice caption", CAPTION, report["notice_caption"])
    c.equal("notice text", text, report["notice_text"])
    c.equal("notice OK button", "OK", report["ok_button_text"].replace("&", ""))
    buttons = [ch for ch in report["notice_children"]
               if ch["class"].lower() == "button" and ch["visible"]]
    c.equal("notice buttons", 1, len(buttons))
    c.equal("notice owner", 0, report["notice_owner"])
    icon = icon_of_notice(h, report)
    if icon_error:
        c.true("notice shows the red error icon", icon is not None and icon > 0.15,
               f"red share {icon}" if icon is not None else "no icon")
    else:
        c.equal("notice icon", None, icon)
    for key in ("processes_during_notice", "processes_before_ok"):
        c.equal(f"Explorer or tool running while the notice is up ({key})", [],
                launched(report, key))
    c.equal("windows opened while the notice is up", [], report["windows_during_notice"])
    c.equal("notice screenshot taken", True, report["notice_shot"])


def expect_files(c, h, names):
    for name in names:
        path = h.unix(h.target(name))
        if not path.is_file():
            c.fail(f"{h.target(name)}", f"{len(h.payload[name])} bytes", "missing")
            continue
        data = path.read_bytes()
        if data != h.payload[name]:
            first = next((i for i, (a, b) in enumerate(zip(data, h.payload[name])) if a != b),
                         min(len(data), len(h.payload[name])))
            c.fail(f"{h.target(name)} bytes", f"the payload's {len(h.payload[name])}",
                   f"{len(data)} bytes, first difference at {first}")


def expect_all_files_at_notice(c, h):
    """For at_notice: every item is whole on disk before the box appears."""
    def check(_info):
        at_notice = Checks()
        expect_files(at_notice, h, [name for name, _ in ITEMS])
        c.failures += ["while the notice is up: " + f for f in at_notice.failures]
    return check


def expect_shortcut(c, h):
    link = h.resolve_link(h.target("Solvarine.lnk"))
    c.equal("shortcut loads (HRESULT)", 0, link["load_hresult"])
    c.equal("shortcut target", INSTALL.lower() + "\\solvarine.exe", link.get("path", "").lower())
    c.equal("shortcut working directory", INSTALL, link.get("working_directory"))
    c.equal("shortcut arguments", "", link.get("arguments"))
    c.equal("shortcut show command (SW_SHOWNORMAL)", 1, link.get("show_command"))
    c.equal("shortcut icon location", "", link.get("icon_location"))


def expect_launches(c, report):
    c.equal("tool window (class SolvarineSample)", True, report.get("tool_window"))
    if report.get("tool_window"):
        c.equal("tool title", "Solvarine", report["tool_title"])
        c.equal("tool image", (INSTALL + "\\Solvarine.exe").lower(), report["tool_image"].lower())
        lines = report["tool_text"].split("\r\n")
        c.equal("tool text lines", 3, len(lines))
        c.true("tool text: a sample-build sentence first", bool(lines[0].strip()), repr(lines[0]))
        c.equal("tool's argument", "Folder given: " + INSTALL, lines[1] if len(lines) > 1 else None)
        c.equal("tool's current directory", "Current directory: " + INSTALL,
                lines[2] if len(lines) > 2 else None)
    explorer = report.get("explorer_window")
    c.true("an Explorer window opened", explorer is not None, "none")
    if explorer:
        image = explorer["image"].lower()
        c.true("Explorer is the system's", image.startswith(WINDOWS.lower() + "\\")
               and image.endswith("\\explorer.exe"), explorer["image"])
        c.true("the Explorer window shows the install folder",
               explorer["title"].lower() in ("solvarine", INSTALL.lower()), repr(explorer["title"]))
        c.equal("Explorer screenshot taken", True, report.get("explorer_shot"))
    explorers = [p for p in report["processes_after"] if is_named(p, "explorer.exe")]
    tools = [p for p in report["processes_after"] if is_named(p, "Solvarine.exe")]
    c.equal("Explorer processes started", 1, len(explorers))
    c.equal("tool processes started", 1, len(tools))


def expect_nothing_started(c, h, report):
    c.equal("programs started", [], launched(report, "processes_after"))
    c.equal("tool window", False, report.get("tool_window"))
    c.equal("windows opened", [], report.get("windows_after"))
    c.equal("probe markers", [], h.markers())


def expect_success(c, h, report):
    expect_notice(c, h, report, SUCCESS_TEXT, icon_error=False)
    c.equal("installer ended", True, report.get("exited"))
    c.equal("exit code", 0, report.get("exit_code"))
    expect_files(c, h, [name for name, _ in ITEMS])
    expect_shortcut(c, h)
    expect_launches(c, report)
    c.equal("probe markers", [], h.markers())


def expect_failure(c, h, report, not_written):
    expect_notice(c, h, report, failure_text(not_written), icon_error=True)
    c.true("failure notice claims no success",
           "succesfully" not in report.get("notice_text", "")
           and "has been placed" not in report.get("notice_text", ""),
           repr(report.get("notice_text")))
    c.equal("installer ended", True, report.get("exited"))
    c.equal("exit code", 1, report.get("exit_code"))
    expect_nothing_started(c, h, report)


def folder_entries(path):
    return sorted(p.name for p in path.iterdir()) if path.is_dir() else "no such folder"


def planted_old(h, name):
    line = f"previous release of {name}\r\n".encode()
    size = len(h.payload[name]) + 4096
    return (line * (size // len(line) + 1))[:size]


def snapshot(path):
    """What would show that a file was touched: its bytes (as a digest), inode, mtime and mode."""
    st = path.stat()
    digest = hashlib.sha256(path.read_bytes()).hexdigest()[:16] if path.is_file() else None
    return (st.st_size, digest, st.st_ino, st.st_mtime_ns, oct(st.st_mode))


# Scenarios ----------------------------------------------------------------------------------------

def fresh_machine(h, c):
    report = h.run_installer(at_notice=expect_all_files_at_notice(c, h))
    expect_success(c, h, report)
    c.equal("C:\\Solvarine", sorted(["archive"] + [n for n, d in ITEMS if not d]),
            folder_entries(h.unix(INSTALL)))
    c.equal("C:\\Solvarine\\archive", [], folder_entries(h.unix(ARCHIVE)))
    c.equal("desktop", ["Solvarine.lnk"], folder_entries(h.unix(h.desktop)))


def second_run(h, c):
    for name, _ in ITEMS:
        h.plant(h.target(name), planted_old(h, name))
    others = {INSTALL + "\\notes.txt": b"my notes\r\n",
              INSTALL + "\\Checklist_Lightwave.txt.bak": b"kept\r\n",
              ARCHIVE + "\\Solvarine.exe": b"an archived build",
              ARCHIVE + "\\Checklist_Terragen.txt": b"archived checklist\r\n",
              ARCHIVE + "\\scene.7z": b"7z\xbc\xaf\x27\x1c archived scene"}
    for path, data in others.items():
        h.plant(path, data)
    folders = {f: h.unix(f).stat().st_ino for f in (INSTALL, ARCHIVE)}
    entries = {f: folder_entries(h.unix(f)) for f in (INSTALL, ARCHIVE)}
    files = {name: h.unix(h.target(name)).stat().st_ino for name, _ in ITEMS}
    kept = {path: snapshot(h.unix(path)) for path in others}

    report = h.run_installer(at_notice=expect_all_files_at_notice(c, h))
    expect_success(c, h, report)
    for folder, inode in folders.items():
        c.equal(f"{folder} is the same folder (inode)", inode, h.unix(folder).stat().st_ino)
        c.equal(f"{folder} entries", entries[folder], folder_entries(h.unix(folder)))
    for name, inode in files.items():
        c.equal(f"{h.target(name)} rewritten in place (inode)", inode,
                h.unix(h.target(name)).stat().st_ino)
    for path, before in kept.items():
        c.equal(f"{path} untouched (bytes, inode, mtime, mode)", before, snapshot(h.unix(path)))


def archive_missing(h, c):
    h.plant(INSTALL + "\\notes.txt", b"my notes\r\n")
    inode = h.unix(INSTALL).stat().st_ino
    notes = snapshot(h.unix(INSTALL + "\\notes.txt"))
    report = h.run_installer()
    expect_success(c, h, report)
    c.equal("C:\\Solvarine is the same folder (inode)", inode, h.unix(INSTALL).stat().st_ino)
    c.true("C:\\Solvarine\\archive made", h.unix(ARCHIVE).is_dir())
    c.equal("C:\\Solvarine\\archive", [], folder_entries(h.unix(ARCHIVE)))
    c.equal("notes.txt untouched", notes, snapshot(h.unix(INSTALL + "\\notes.txt")))


def obsolete_checklists(h, c):
    kept = {}
    for folder in (INSTALL, ARCHIVE, h.desktop):
        for name in OBSOLETE:
            h.plant(folder + "\\" + name, f"old {name} in {folder}\r\n".encode())
            if folder != INSTALL:
                kept[folder + "\\" + name] = snapshot(h.unix(folder + "\\" + name))
    report = h.run_installer()
    expect_success(c, h, report)
    for name in OBSOLETE:
        c.equal(f"{INSTALL}\\{name} removed", False, h.unix(INSTALL + "\\" + name).exists())
    for path, before in kept.items():
        c.equal(f"{path} kept", before, snapshot(h.unix(path)))


def install_folder_is_file(h, c):
    blocker = h.plant(INSTALL, b"a file where the install folder belongs\r\n")
    before = snapshot(blocker)
    report = h.run_installer(wait_launches=False)
    expect_failure(c, h, report, [INSTALL, ARCHIVE] + [h.target(n) for n, d in ITEMS if not d])
    c.equal("C:\\Solvarine (the file) untouched", before, snapshot(blocker))
    link = h.unix(h.target("Solvarine.lnk"))
    print(f"note: desktop shortcut present after the failed install: {link.exists()}"
          " (the sequence writes it whatever became of C:\\Solvarine)")


def locked_executable(h, c):
    old = planted_old(h, "Solvarine.exe")
    exe = h.plant(h.target("Solvarine.exe"), old)
    h.unix(ARCHIVE).mkdir()
    before = snapshot(exe)
    h.hold(h.target("Solvarine.exe"))
    report = h.run_installer(wait_launches=False)
    expect_failure(c, h, report, [h.target("Solvarine.exe")])
    expect_files(c, h, [name for name, _ in ITEMS if name != "Solvarine.exe"])
    c.equal("old Solvarine.exe intact (bytes, inode, mtime, mode)", before, snapshot(exe))


def read_only_guide(h, c):
    guide = h.plant(h.target("Solvarine_PC.pdf"), b"%PDF-1.4 an older guide\n")
    h.make_read_only(h.target("Solvarine_PC.pdf"))
    FILE_ATTRIBUTE_READONLY = 0x1
    c.true("Windows sees Solvarine_PC.pdf as read-only",
           h.attributes(h.target("Solvarine_PC.pdf")) & FILE_ATTRIBUTE_READONLY)
    h.end_wine()
    before = snapshot(guide)
    report = h.run_installer(wait_launches=False)
    expect_failure(c, h, report, [h.target("Solvarine_PC.pdf")])
    expect_files(c, h, [name for name, _ in ITEMS if name != "Solvarine_PC.pdf"])
    c.equal("read-only Solvarine_PC.pdf untouched (bytes, inode, mtime, mode)", before,
            snapshot(guide))


def planted_programs(h, c):
    probe = Path(h.cfg["probe"]).read_bytes()
    for folder in (DOWNLOAD, ELSEWHERE):
        for name in ("Solvarine.exe", "explorer.exe"):
            h.plant(folder + "\\" + name, probe)
    # Control: a program in that folder that starts both by their bare names gets the probes.
    shutil.copyfile(h.cfg["control"], h.unix(DOWNLOAD + "\\e2e_control.exe"))
    h.wine([DOWNLOAD + "\\e2e_control.exe", "launch-bare"], "wine.log")
    seen = h.markers()
    c.equal("control: bare names start the planted probes", 2,
            sum(1 for m in seen if f"image={DOWNLOAD}\\".lower() in m.lower()))
    h.clear_markers()
    h.end_wine()

    report = h.run_installer(cwd=ELSEWHERE)
    expect_success(c, h, report)


def planted_dll(h, c):
    # Wine's common controls load msimg32.dll on demand while the notice box is drawn, well after
    # the entry point has restricted the DLL search. (uxtheme.dll and version.dll load while the
    # process starts, before any code of the image runs, so no search rule of the image reaches
    # them.) The override makes Wine take a native DLL that the search finds, as Windows does.
    dll = "msimg32.dll"
    h.overrides = f"{BASE_OVERRIDES};msimg32=n,b"
    shutil.copyfile(h.cfg["probe_dll"], h.unix(DOWNLOAD + "\\" + dll))
    shutil.copyfile(h.cfg["control"], h.unix(DOWNLOAD + "\\e2e_control.exe"))
    loaded = {}
    for mode in ("dll-open", "dll-restricted", "dll-preloaded"):
        h.wine([DOWNLOAD + "\\e2e_control.exe", mode], "wine.log")
        loaded[mode] = h.markers()
        h.clear_markers()
    h.end_wine()
    if not loaded["dll-open"]:
        raise Skip(f"Wine never loads a planted {dll} here, even for a program that does not "
                   "restrict its DLL search: this scenario could not fail")
    print(f"control, search not restricted: loads the planted {dll}")
    print(f"control, search restricted as the image restricts it: "
          f"{'loads' if loaded['dll-restricted'] else 'does not load'} the planted {dll}")

    # Loading the DLL from System32 before anything needs it leaves no delay load to hijack.
    c.equal("control: restricted, msimg32.dll loaded from System32 first: planted DLL loaded",
            [], loaded["dll-preloaded"])

    report = h.run_installer()
    expect_success(c, h, report)
    if h.markers() and loaded["dll-restricted"]:
        c.failures.append(
            f"the installer loads the planted {dll}, like the control that restricts its search "
            f"with SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32): this Wine does not "
            f"apply that restriction to the delay load that its common controls make; loading "
            f"{dll} from System32 before the notice (control dll-preloaded) leaves none to make")


def installer_arguments(h, c):
    report = h.run_installer(
        arguments='/S /D=C:\\Elsewhere --uninstall "C:\\Program Files\\Solvarine" '
                  + ELSEWHERE + " /?")
    expect_success(c, h, report)
    for stray in ("C:\\Elsewhere", "C:\\Program Files\\Solvarine"):
        c.equal(f"{stray} made", False, h.unix(stray).exists())
    c.equal("C:\\Solvarine", sorted(["archive"] + [n for n, d in ITEMS if not d]),
            folder_entries(h.unix(INSTALL)))


def full_volume(h, c):
    point = h.unix(INSTALL)
    point.mkdir()
    page = os.sysconf("SC_PAGE_SIZE")
    pages = lambda n: -(-n // page)
    # Room for the tool and half the archiver: the archiver's write runs out of space.
    size = (pages(len(h.payload["Solvarine.exe"])) + pages(len(h.payload["7za.exe"])) // 2) * page
    mount = subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={size}", "tmpfs", str(point)],
                           capture_output=True, text=True)
    if mount.returncode != 0:
        raise Skip(f"cannot mount a small tmpfs here ({mount.stderr.strip()}); "
                   "a full volume cannot be staged")
    h.mounts.append(point)
    report = h.run_installer(wait_launches=False)
    missing = []
    for name, on_desktop in ITEMS:
        path = h.unix(h.target(name))
        if path.exists():
            expect_files(c, h, [name])  # no partial file: present means whole
        else:
            missing.append(h.target(name))
    c.true("some file did not fit", bool(missing), "every file fitted")
    c.true("the desktop shortcut is written", h.unix(h.target("Solvarine.lnk")).exists())
    expect_failure(c, h, report, missing)
    c.true("archive made on the small volume", h.unix(ARCHIVE).is_dir())


def call_contract(h, c):
    # Both folders there, so that both listings open and the first must be closed.
    h.unix(ARCHIVE).mkdir(parents=True)
    report = h.run_installer(child_env=["WINEDEBUG=+loaddll,+relay"])
    c.equal("exit code", 0, report.get("exit_code"))
    c.equal("notice text", SUCCESS_TEXT, report.get("notice_text"))
    trace = (h.artefacts / "wine.log").read_text(errors="replace")
    image = Path(h.cfg["installer"]).read_bytes()
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    size_of_image = struct.unpack_from("<I", image, pe + 24 + 56)[0]
    tid, base = relay_check.image_load(trace, "Solvarine_Setup.exe")
    if not c.equal("installer's thread in the trace", report.get("installer_tid"), tid):
        return
    calls = relay_check.image_calls(trace, tid, base, size_of_image)
    (h.artefacts / "image-calls.txt").write_text("\n".join(x.describe() for x in calls) + "\n")
    expected = relay_check.Expected(
        listings=[INSTALL + "\\*.*", ARCHIVE + "\\*.*"],
        made_folders=[],
        removals=[INSTALL + "\\" + name for name in OBSOLETE],
        writes=[(h.target(name), len(h.payload[name])) for name, _ in ITEMS],
        launches=[f'"{WINDOWS}\\explorer.exe" {INSTALL}', f'"{INSTALL}\\Solvarine.exe" {INSTALL}'],
        notice=(CAPTION, SUCCESS_TEXT, 0),
        exit_code=0,
        enter_folder=INSTALL)
    for failure in relay_check.check_calls(calls, expected):
        c.failures.append("relay: " + failure)
    # The same check on a copy of this trace whose first large write is split in two.
    doctored = relay_check.split_first_write(trace, tid, base, size_of_image)
    c.true("the trace has a write to split", doctored is not None)
    if doctored is not None:
        found = relay_check.check_calls(
            relay_check.image_calls(doctored, tid, base, size_of_image), expected)
        c.true("the checker rejects a split write",
               any("WriteFile calls for" in f for f in found), found)


SCENARIOS = {
    "fresh_machine": fresh_machine,
    "second_run": second_run,
    "archive_missing": archive_missing,
    "obsolete_checklists": obsolete_checklists,
    "install_folder_is_file": install_folder_is_file,
    "locked_executable": locked_executable,
    "read_only_guide": read_only_guide,
    "planted_programs": planted_programs,
    "planted_dll": planted_dll,
    "installer_arguments": installer_arguments,
    "full_volume": full_volume,
    "call_contract": call_contract,
}


def main(argv):
    if argv[1:] == ["--list"]:
        print("\n".join(SCENARIOS))
        return 0
    if len(argv) != 3 or argv[2] not in SCENARIOS:
        print(__doc__, file=sys.stderr)
        return 2
    config = json.loads(Path(argv[1]).read_text())
    name = argv[2]
    if not os.environ.get("DISPLAY"):
        print("skipped: no X display (run through scripts/test, which starts Xvfb)")
        return SKIPPED
    # A ctest timeout ends the runner with SIGTERM: still end Wine and unmount.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("ended by SIGTERM"))
    h = Harness(config, name)
    c = Checks()
    started = time.monotonic()
    try:
        h.ensure_prefix()
        h.reset()
        SCENARIOS[name](h, c)
    except Skip as why:
        print(f"skipped: {why}")
        return SKIPPED
    except Exception as error:  # a harness fault is a failure of the scenario, with its reason
        c.failures.append(f"harness: {type(error).__name__}: {error}")
    finally:
        h.end_wine()
        h.release_read_only()
        h.unmount_all()
    for failure in c.failures:
        print(f"FAIL {name}: {failure}")
    print(f"{name}: {'FAILED' if c.failures else 'passed'} in {time.monotonic() - started:.1f} s; "
          f"artefacts in {h.artefacts}")
    return 1 if c.failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
