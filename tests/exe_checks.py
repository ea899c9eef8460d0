"""The PE half of tests/exe_checks.sh: size budget, import table and header flags of Kelvane.exe,
read with pefile rather than scraped from binutils' text, whose layout changes between releases
(and a scrape that reads nothing lets every import check pass).
    /usr/bin/python3 tests/exe_checks.py EXE      exits 1 on any failure
"""
import os
import re
import sys
import time

BUDGET = 140 * 1024
ALLOWED_DLLS = {"KERNEL32.DLL", "USER32.DLL", "GDI32.DLL", "MSVCRT.DLL"}
# Matched against "DLL: Function" lines.
FORBIDDEN = re.compile(
    r"^(ADVAPI32|WS2_32|WSOCK32|WININET|WINHTTP|WINMM)|: (Reg[A-Z]|WSA|socket|connect|CreateFile|"
    r"WriteFile|DeleteFile|MoveFile|CopyFile|CreateDirectory|RemoveDirectory|SetFile|_w?open|"
    r"_w?creat|_w?unlink|_w?rename|_w?mkdir|_w?fopen|w?fopen)")
# ASLR, DEP, no Terminal Server shims, and a subsystem version matching the manifest's Windows 7.
FLAGS = {"DYNAMIC_BASE": 0x40, "NX_COMPAT": 0x100, "TERMINAL_SERVER_AWARE": 0x8000}
SUBSYSTEM = "6.1"

failed = False


def fail(message):
    global failed
    failed = True
    print(f"FAIL: {message}")


def check(path):
    try:
        import pefile
    except ImportError:
        # Debian's package installs for the system interpreter only, not for a pyenv or venv one.
        return fail(f"no pefile module for {sys.executable} "
                    "(Debian's python3-pefile is for /usr/bin/python3)")
    try:
        size = os.path.getsize(path)
        pe = pefile.PE(path)
    except (OSError, pefile.PEFormatError) as error:
        return fail(f"cannot read {path} as a PE file: {error}")

    sections = {s.Name.rstrip(b"\0").decode(errors="replace"): s.Misc_VirtualSize
                for s in pe.sections}
    print(f"size: {size} bytes ({(size + 1023) // 1024} KiB; budget {BUDGET}): "
          + ", ".join(f"{name} {sections.get(name, 'none')}"
                      for name in (".rsrc", ".text", ".rdata", ".data")))
    if size > BUDGET:
        fail("Kelvane.exe is over its size budget")

    # "DLL: Function" for every import.
    lines = []
    for table in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []):
        dll = table.dll.decode(errors="replace").upper()
        for entry in table.imports:
            if entry.name is None:
                # No name to hold against the forbidden ones: KERNEL32 #n could be CreateFileW.
                fail(f"imports {dll} ordinal {entry.ordinal}, by number rather than by name")
                lines.append(f"{dll}: #{entry.ordinal}")
            else:
                lines.append(f"{dll}: {entry.name.decode(errors='replace')}")
    # Every Windows program imports from KERNEL32: without it the table was not read, and the
    # checks below would pass on nothing.
    if not any(line.startswith("KERNEL32.DLL: ") for line in lines):
        fail(f"no import table read from {path}")
    dlls = sorted({line.split(":")[0] for line in lines})
    print("imports from: " + " ".join(dlls))
    for dll in dlls:
        if dll not in ALLOWED_DLLS:
            fail(f"imports {dll}")
    touched = [line for line in lines if FORBIDDEN.search(line)]
    if touched:
        fail("registry, network or file-writing imports:\n" + "\n".join(touched))
    # The C runtime's start-up brings these along to report its own fatal errors on stderr.
    streams = sorted(line.split(": ")[1] for line in lines
                     if re.search(r": (fprintf|vfprintf|fwrite)$", line))
    print("stream output (C runtime start-up only): " + " ".join(streams))

    header = pe.OPTIONAL_HEADER
    characteristics = header.DllCharacteristics
    subsystem = f"{header.MajorSubsystemVersion}.{header.MinorSubsystemVersion}"
    stamp = time.asctime(time.gmtime(pe.FILE_HEADER.TimeDateStamp))
    print(f"PE: DllCharacteristics 0x{characteristics:04x}, subsystem version {subsystem},"
          f" time stamp {stamp}")
    for flag, bit in FLAGS.items():
        if not characteristics & bit:
            fail(f"{flag} is not set")
    if subsystem != SUBSYSTEM:
        fail(f"subsystem version {subsystem}, want {SUBSYSTEM}")


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(f"usage: {sys.argv[0]} EXE")
    check(sys.argv[1])
    sys.exit(1 if failed else 0)
