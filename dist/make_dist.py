#!/usr/bin/python3
"""Packs the release a Windows user takes: Kelvane-VERSION-win32.zip with the exe the tests ran and
the guide, and SHA256SUMS beside it. The same commit gives the same zip byte for byte.
    /usr/bin/python3 dist/make_dist.py BUILD_DIR OUT_DIR     (e.g. build/windows build/dist)

VERSION is the exe's own ProductVersion string, as Explorer shows it under the file's details, so
the name of the zip and the file inside it never disagree. Entry times come from SOURCE_DATE_EPOCH
when it is set (whoever set it wants that time), else from the time of the commit checked out."""
import hashlib
import os
import re
import struct
import subprocess
import sys
import time
import zipfile
import zlib

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
VERSION = 20  # 2.0, the zip format's version that brought deflate
# Explorer's compressed folders on Windows 7 and 8 ignore the UTF-8 flag and read every name in the
# OEM code page, which Simplified-Chinese Windows sets to CP936.
NAME_CODEC = "cp936"
UNICODE_PATH = 0x7075  # Info-ZIP's extra field: a name in UTF-8 for readers that know it


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


def stored_name(name):
    """(name bytes, extra field) as an entry holds them. A Chinese name is in CP936 without the
    UTF-8 flag, for Explorer, and again in UTF-8 in a Unicode path field, version 1, with the CRC-32
    of those CP936 bytes: unzip, 7-Zip and Python's zipfile from 3.12 on take the UTF-8 name when the
    CRC matches, and the CP936 one otherwise."""
    if name.isascii():
        return name.encode("ascii"), b""
    raw = name.encode(NAME_CODEC)
    field = struct.pack("<BL", 1, zlib.crc32(raw)) + name.encode("utf-8")
    return raw, struct.pack("<HH", UNICODE_PATH, len(field)) + field


def zip_bytes(entries, date_time, mode=MODE, method=zipfile.ZIP_DEFLATED):
    """A zip of (name, data) in the order given, every entry alike: deflated at level 9, a file of
    that mode made on Unix, no flags, no comment, names as stored_name gives them. Written by hand,
    since zipfile writes every non-ASCII name in UTF-8 under the flag; mode and method are the
    release's unless the checker's tests plant others."""
    year, month, day, hour, minute, second = date_time
    clock = hour << 11 | minute << 5 | second // 2
    date = (year - 1980) << 9 | month << 5 | day
    files, directory = [], []
    offset = 0
    for name, data in entries:
        raw, extra = stored_name(name)
        body = data
        if method == zipfile.ZIP_DEFLATED:
            packer = zlib.compressobj(LEVEL, zlib.DEFLATED, -15)
            body = packer.compress(data) + packer.flush()
        # The fields the local header and the central directory share, in that order.
        common = struct.pack("<5H3L2H", VERSION, 0, method, clock, date, zlib.crc32(data),
                             len(body), len(data), len(raw), len(extra))
        files.append(b"PK\x03\x04" + common + raw + extra + body)
        directory.append(b"PK\x01\x02" + struct.pack("<H", UNIX << 8 | VERSION) + common +
                         struct.pack("<3H2L", 0, 0, 0, mode << 16, offset) + raw + extra)
        offset += len(files[-1])
    listing = b"".join(directory)
    end = b"PK\x05\x06" + struct.pack("<4H2LH", 0, 0, len(entries), len(entries), len(listing),
                                        offset, 0)
    return b"".join(files) + listing + end


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
