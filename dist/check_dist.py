#!/usr/bin/python3
"""Checks the release that dist/make_dist.py wrote: the zip holds the exe the tests ran and the guide
in the form Notepad reads, the sums verify it, the guide names the texts the program really shows,
every unpacker finds the entries' names, and packing again gives the same bytes.
    /usr/bin/python3 dist/check_dist.py BUILD_DIR DIST_DIR   (prints PASS/FAIL lines and
                                                              "N passed, M failed"; exits 1 on a FAIL)"""
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import zipfile

import make_dist

ROOT = os.path.dirname(make_dist.HERE)
# The texts a user meets, where the program holds them: (source, pattern, how many). A count that
# no longer matches means the source changed shape, and the pattern must follow it.
SHOWN_TEXTS = [
    ("app/frmKelvane.cpp", r'L"BUTTON", L"([^"]+)"', 1),  # the button
    ("app/presence.h", r'kPresenceTitle = u"([^"]+)"', 1),
    ("app/presence.cpp", r'u"([^"]+)"', 2),  # found, not found
    ("report/report_surface.cpp", r'AppendMenuW\([^;]*?L"([^"]+)"', 6),  # the context menu
    ("app/frmKelvane.cpp", r'prompt\[[^]]*\] = L"([^"]+)"', 1),  # a tone that cannot play
    ("app/frmKelvane.cpp", r'MessageBoxW\(hwnd_, prompt, L"([^"]+)"', 1),
    ("app/frmKelvane.cpp", r'MessageBoxW\(hwnd_, Wide\(text\.c_str\(\)\), L"([^"]+)"', 1),
]

# The records that hold an entry's name: the central directory's and the local header's.
CENTRAL = struct.Struct("<4s6H3L5H2L")
LOCAL = struct.Struct("<4s5H3L2H")

passed = failed = 0


def check(ok, what, why=""):
    global passed, failed
    if ok:
        passed += 1
        print(f"PASS: {what}")
    else:
        failed += 1
        print(f"FAIL: {what}" + (f": {why}" if why else ""))
    return ok


def read_bytes(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except OSError:
        return None


def shown_texts():
    """Each text as the user sees it (a menu's &C is an underlined C), and the sources whose pattern
    found another number of texts than it should."""
    texts, astray = [], []
    for source, pattern, count in SHOWN_TEXTS:
        with open(os.path.join(ROOT, source), encoding="utf-8") as f:
            found = re.findall(pattern, f.read())
        if len(found) != count:
            astray.append(f"{source}: {len(found)} texts for {pattern!r}, not {count}")
        texts += [text.replace("&", "") for text in found]
    return texts, astray


def raw_entries(data):
    """(flags, name bytes, extra field) of each entry, as its central directory record holds them,
    and as its local header does. The end record is the last 22 bytes: the packer writes no
    comment."""
    def fields(at, flags, name_size, extra_size):
        return flags, data[at:at + name_size], data[at + name_size:at + name_size + extra_size]

    central, local = [], []
    at = struct.unpack_from("<L", data, len(data) - 6)[0]
    while data[at:at + 4] == b"PK\x01\x02":
        record = CENTRAL.unpack_from(data, at)
        central.append(fields(at + CENTRAL.size, record[3], *record[10:12]))
        header = LOCAL.unpack_from(data, record[16])
        local.append(fields(record[16] + LOCAL.size, header[2], *header[9:11]))
        at += CENTRAL.size + sum(record[10:13])
    return central, local


def tool_output(command, package):
    """What the command prints in a UTF-8 locale: in the C locale unzip writes a Chinese name as
    #U escapes."""
    try:
        run = subprocess.run(command, capture_output=True,
                             env=dict(os.environ, LC_ALL="C.UTF-8"))
    except FileNotFoundError:
        raise OSError(f"no {command[0]} (Debian's {package}; ./make.sh test installs it)")
    if run.returncode != 0:
        raise OSError(f"{' '.join(command)} exited {run.returncode}: "
                      f"{run.stderr.decode(errors='replace').strip()}")
    return run.stdout.decode("utf-8", "replace")


# Debian 12's 7zip package installs 7zz, Debian 13's 7z.
SEVEN_ZIP = "7zz" if shutil.which("7zz") else "7z"


def seven_zip_names(path):
    # Each entry's Path line follows the dashes; the one above them is the archive's own.
    listing = tool_output([SEVEN_ZIP, "l", "-slt", path], "7zip").partition("\n----------\n")[2]
    return [line.removeprefix("Path = ") for line in listing.splitlines()
            if line.startswith("Path = ")]


def python_names(path):
    # zipfile takes the Unicode path field from 3.12 on; before, it reads an unflagged name as
    # CP437 unless it is told the code page, as a user's script on Debian 12 must be.
    told = {} if sys.version_info >= (3, 12) else {"metadata_encoding": make_dist.NAME_CODEC}
    with zipfile.ZipFile(path, **told) as archive:
        return archive.namelist()


PYTHON = "Python %d.%d's zipfile" % sys.version_info[:2] + (
    "" if sys.version_info >= (3, 12) else f", told metadata_encoding={make_dist.NAME_CODEC!r}")
# Whatever the user unpacks with must find the same names: (reader, its names for the zip's path).
NAME_READERS = [
    ("Explorer on Simplified-Chinese Windows 7 (each name's bytes in CP936, the UTF-8 flag "
     "ignored)", lambda path: [name.decode(make_dist.NAME_CODEC, "replace")
                               for _, name, _ in raw_entries(read_bytes(path))[0]]),
    ("unzip -Z1", lambda path: tool_output(["unzip", "-Z1", path], "unzip").splitlines()),
    (f"7-Zip ({SEVEN_ZIP} l -slt)", seven_zip_names),
    (PYTHON, python_names),
]


def check_zip(build_dir, zip_path):
    exe = read_bytes(os.path.join(build_dir, make_dist.EXE_NAME))
    guide_source = read_bytes(make_dist.GUIDE_SOURCE) or b""
    try:
        archive = zipfile.ZipFile(zip_path, metadata_encoding=make_dist.NAME_CODEC)
        entries = {info.filename: archive.read(info) for info in archive.infolist()}
        infos = archive.infolist()
    except (OSError, zipfile.BadZipFile) as error:
        return check(False, f"{zip_path} unpacks", str(error))
    check(archive.testzip() is None, "every entry's CRC matches")
    names = [info.filename for info in infos]
    want = [make_dist.EXE_NAME, make_dist.GUIDE_NAME]
    check(names == want, f"entries are {want}, in that order", f"found {names}")
    check(entries.get(make_dist.EXE_NAME) == exe,
          f"{make_dist.EXE_NAME} is byte-identical to {build_dir}/{make_dist.EXE_NAME}")

    guide = entries.get(make_dist.GUIDE_NAME, b"")
    check(guide.startswith(make_dist.BOM), "the guide starts with a UTF-8 BOM")
    try:
        text = guide.decode("utf-8")
        check(True, "the guide is valid UTF-8")
    except UnicodeDecodeError as error:
        text = ""
        check(False, "the guide is valid UTF-8", str(error))
    bare = len(re.findall(r"\r(?!\n)|(?<!\r)\n", text))
    check(text.endswith("\r\n") and bare == 0, "the guide's lines all end in CR LF",
          f"{bare} bare CR or LF" if bare else "the last line has no line end")
    check(guide == make_dist.windows_text(guide_source),
          f"the guide is {os.path.relpath(make_dist.GUIDE_SOURCE, ROOT)} as committed")
    shown, astray = shown_texts()
    check(not astray, "the texts the program shows are found in its sources",
          "; ".join(astray) + " (the pattern in dist/check_dist.py must follow the source)")
    missing = [t for t in shown if t not in text]
    check(shown and not missing,
          f"the guide names the button, every box text and every menu item: {', '.join(shown)}",
          f"missing {missing}")

    # One form for every entry, so that nothing about the machine or the moment leaks in.
    epoch, _ = make_dist.source_date_epoch()
    stamp = make_dist.dos_time(epoch)
    odd = [f"{i.filename}: {i.date_time} system {i.create_system} mode {i.external_attr >> 16:o}"
           f" method {i.compress_type} extra {i.extra!r} flags {i.flag_bits:#x}"
           for i in infos
           if (i.date_time, i.create_system, i.external_attr, i.compress_type, i.extra,
               i.flag_bits) != (stamp, make_dist.UNIX, make_dist.MODE << 16,
                                zipfile.ZIP_DEFLATED, make_dist.stored_name(i.filename)[1], 0)]
    when = "%04d-%02d-%02d %02d:%02d:%02d" % stamp
    check(not odd, f"every entry: {when}, Unix 0644, deflated, no flags, no extra field but a "
          "Chinese name's Unicode path", "; ".join(odd))

    # Readers that take the name from the local header, and unzip -t, must find the same there.
    try:
        differ = [f"central {c}, local {l}" for c, l in zip(*raw_entries(read_bytes(zip_path)))
                  if c != l]
    except struct.error as error:
        differ = [str(error)]
    check(not differ, "every local header repeats its central record's flags, name and extra "
          "field", "; ".join(differ))
    for reader, names_of in NAME_READERS:
        try:
            found = names_of(zip_path)
        except (OSError, struct.error, zipfile.BadZipFile) as error:
            found = str(error)
        check(found == want, f"{reader} reads the names {want}", f"it read {found}")


def main():
    if len(sys.argv) != 3:
        sys.exit(f"usage: {sys.argv[0]} BUILD_DIR DIST_DIR")
    build_dir, dist_dir = sys.argv[1:]
    try:
        name = make_dist.zip_name(make_dist.read_version(os.path.join(build_dir,
                                                                      make_dist.EXE_NAME)))
    except make_dist.DistError as error:
        check(False, "the exe's version is read", str(error))
        name = None
    zips = sorted(f for f in os.listdir(dist_dir) if f.endswith(".zip")) if os.path.isdir(
        dist_dir) else []
    if check(name is not None and zips == [name], f"{dist_dir} holds one zip, {name}",
             f"found {zips}"):
        zip_path = os.path.join(dist_dir, name)
        check_zip(build_dir, zip_path)
        # The user's own check, run as the user would run it.
        sums = subprocess.run(["sha256sum", "-c", make_dist.SUMS_NAME], cwd=dist_dir,
                              capture_output=True, text=True)
        sums_file = read_bytes(os.path.join(dist_dir, make_dist.SUMS_NAME)) or b""
        listed = [line.split("  ", 1)[-1] for line in sums_file.decode(errors="replace").splitlines()]
        check(sums.returncode == 0 and listed == [name],
              f"cd {dist_dir} && sha256sum -c {make_dist.SUMS_NAME} verifies {name}",
              (sums.stdout + sums.stderr).strip() or f"it lists {listed}")
        with tempfile.TemporaryDirectory() as again:
            packed = subprocess.run([sys.executable, make_dist.__file__, build_dir, again],
                                    capture_output=True, text=True)
            check(packed.returncode == 0 and
                  read_bytes(os.path.join(again, name)) == read_bytes(zip_path), "packing again gives the same zip byte for byte",
                  packed.stderr.strip() or "the bytes differ")
    print(f"{passed} passed, {failed} failed")
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
