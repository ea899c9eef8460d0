#!/usr/bin/python3
"""Packs the release a Windows user takes: Kelvane-VERSION-win32.zip with the exe the tests ran and
the guide, and SHA256SUMS beside it. The same commit gives the same zip byte for byte.
    /usr/bin/python3 dist/make_dist.py BUILD_DIR OUT_DIR     (e.g. build/windows build/dist)

VERSION is the exe's own ProductVersion string, as Explorer shows it under the file's details, so
the name of the zip and the file inside it never disagree. Entry times come from SOURCE_DATE_EPOCH
when it is set (whoever set it wants that time), else from the time of the commit checked out."""
import hashlib
import io
import os
import re
import subprocess
import sys
import time
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
GUIDE_SOURCE = os.path.join(HERE, "使用说明.txt")
EXE_NAME = "Kelvane.exe"
GUIDE_NAME = "使用说明.txt"
SUMS_NAME = "SHA256SUMS"
BOM = b"\xef\xbb\xbf"
# Zip times are DOS times: local, from 1980 to 2107, in steps of two seconds.
DOS_EPOCH = 315532800  # 1980-01-01 00:00:00 UTC
DOS_END = 4354819199  # 2107-12-31 23:59:59 UTC
MODE = 0o100644  # a regular file, rw-r--r--, for unzip on Unix; Windows ignores it
UNIX = 3
LEVEL = 9


class DistError(Exception):
    pass


def zip_name(version):
    return f"Kelvane-{version}-win32.zip"


def read_version(exe):
    """The exe's ProductVersion string, after checking it against FileVersion and the fixed numbers
    beside them, so that a version bumped in one place of the resource and not the others stops the
    release rather than naming it wrongly."""
    try:
        import pefile
    except ImportError:
        raise DistError(f"no pefile module for {sys.executable} "
                        "(Debian's python3-pefile is for /usr/bin/python3)")
    try:
        pe = pefile.PE(exe, fast_load=True)
        pe.parse_data_directories(
            directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    except (OSError, pefile.PEFormatError) as error:
        raise DistError(f"cannot read {exe} as a PE file: {error}")
    strings = {}
    for info in getattr(pe, "FileInfo", []):
        for entry in info:
            for table in getattr(entry, "StringTable", []):
                strings.update(table.entries)
    product = strings.get(b"ProductVersion", b"").decode("utf-8", "replace")
    file_version = strings.get(b"FileVersion", b"").decode("utf-8", "replace")
    if not product:
        raise DistError(f"no ProductVersion string in {exe}'s version resource")
    # It becomes part of a file name: digits and dots only.
    if not re.fullmatch(r"[0-9]+(\.[0-9]+){0,3}", product):
        raise DistError(f"ProductVersion {product!r} in {exe} is not a version like 1.00")
    if file_version != product:
        raise DistError(f"{exe}: FileVersion {file_version!r} differs from ProductVersion "
                        f"{product!r} (resources/Kelvane.rc)")
    fixed = pe.VS_FIXEDFILEINFO[0]
    for ms, ls, what in ((fixed.ProductVersionMS, fixed.ProductVersionLS, "PRODUCTVERSION"),
                         (fixed.FileVersionMS, fixed.FileVersionLS, "FILEVERSION")):
        numbers = (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
        wanted = tuple(int(part) for part in product.split("."))
        if numbers != wanted + (0,) * (4 - len(wanted)):
            raise DistError(f"{exe}: {what} {','.join(map(str, numbers))} differs from the "
                            f"version string {product!r} (resources/Kelvane.rc)")
    return product


def source_date_epoch(source_dir=HERE):
    """(seconds, where they came from)."""
    value = os.environ.get("SOURCE_DATE_EPOCH", "")
    if value:
        if not re.fullmatch(r"[0-9]+", value):
            raise DistError(f"SOURCE_DATE_EPOCH={value!r} is not a number of seconds")
        return int(value), "SOURCE_DATE_EPOCH"
    try:
        run = subprocess.run(["git", "-C", source_dir, "log", "-1", "--format=%ct %h"],
                             capture_output=True, text=True)
    except FileNotFoundError:
        run = None
    if run is None or run.returncode != 0 or not run.stdout.strip():
        raise DistError("no time for the zip's entries: this is not a git checkout with a commit, "
                        "and SOURCE_DATE_EPOCH is not set (set it to the release's time in "
                        "seconds since 1970)")
    seconds, commit = run.stdout.split()
    return int(seconds), f"commit {commit}"


def dos_time(epoch):
    """Zip entries' date_time for the epoch, taken as UTC: times before 1980 become 1980, odd
    seconds round down, since the format holds neither."""
    if epoch > DOS_END:
        raise DistError(f"time {epoch} is after 2107, past what a zip entry can hold")
    stamp = time.gmtime(max(epoch, DOS_EPOCH))
    return stamp[:5] + (stamp.tm_sec - stamp.tm_sec % 2,)


def windows_text(source):
    """UTF-8 text as Notepad reads it on every Windows: a BOM (Notepad before Windows 10 1903 takes
    BOM-less text for the ANSI code page) and CR LF line ends."""
    try:
        text = source.decode("utf-8")
    except UnicodeDecodeError as error:
        raise DistError(f"{GUIDE_SOURCE} is not UTF-8: {error}")
    text = text.removeprefix("\ufeff").replace("\r\n", "\n")
    if "\r" in text:
        raise DistError(f"{GUIDE_SOURCE} has a CR that ends no line")
    if not text.endswith("\n"):
        text += "\n"
    return BOM + text.replace("\n", "\r\n").encode("utf-8")


def zip_bytes(entries, date_time):
    """A zip of (name, data) in the order given, every entry alike: deflate at level 9, regular
    file 0644 made on Unix, no extra fields, no comment."""
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w") as archive:
        for name, data in entries:
            info = zipfile.ZipInfo(name, date_time)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.create_system = UNIX
            info.external_attr = MODE << 16
            archive.writestr(info, data, compresslevel=LEVEL)
    return buffer.getvalue()


def write_dist(out_dir, name, data):
    """The zip and SHA256SUMS, each written whole or not at all; zips of other versions go, so that
    the folder holds one release and the sums that verify it."""
    os.makedirs(out_dir, exist_ok=True)
    for old in os.listdir(out_dir):
        if re.fullmatch(r"Kelvane-.*-win32\.zip", old) and old != name:
            os.remove(os.path.join(out_dir, old))
    sums = f"{hashlib.sha256(data).hexdigest()}  {name}\n".encode("ascii")
    for file_name, content in ((name, data), (SUMS_NAME, sums)):
        path = os.path.join(out_dir, file_name)
        with open(path + ".tmp", "wb") as out:
            out.write(content)
        os.replace(path + ".tmp", path)
    return os.path.join(out_dir, name)


def pack(build_dir, out_dir):
    exe = os.path.join(build_dir, EXE_NAME)
    version = read_version(exe)
    epoch, origin = source_date_epoch()
    date_time = dos_time(epoch)
    try:
        with open(exe, "rb") as f:
            exe_data = f.read()
        with open(GUIDE_SOURCE, "rb") as f:
            guide = windows_text(f.read())
    except OSError as error:
        raise DistError(str(error))
    data = zip_bytes([(EXE_NAME, exe_data), (GUIDE_NAME, guide)], date_time)
    path = write_dist(out_dir, zip_name(version), data)
    when = "%04d-%02d-%02d %02d:%02d:%02d" % date_time
    print(f"dist: {path} ({len(data)} bytes; version {version}; entry times {when} from {origin})")
    print(f"dist: {os.path.join(out_dir, SUMS_NAME)}: {hashlib.sha256(data).hexdigest()}")


def main():
    if len(sys.argv) != 3:
        sys.exit(f"usage: {sys.argv[0]} BUILD_DIR OUT_DIR")
    try:
        pack(sys.argv[1], sys.argv[2])
    except DistError as error:
        sys.exit(f"dist: FAIL: {error}")


if __name__ == "__main__":
    main()
