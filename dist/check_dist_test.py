#!/usr/bin/python3
"""check_dist.py on releases with one fault planted each, whose verdict is known: a checker that
passes a guide Notepad would garble, or an exe the tests never ran, would let such a zip out.
    /usr/bin/python3 dist/check_dist_test.py BUILD_DIR   (prints PASS/FAIL lines and
                                                          "N passed, M failed")"""
import io
import os
import shutil
import subprocess
import sys
import tempfile
import zipfile

import make_dist

CHECKER = os.path.join(make_dist.HERE, "check_dist.py")
EPOCH = 1700000000
STAMP = make_dist.dos_time(EPOCH)
EXE, GUIDE = make_dist.EXE_NAME, make_dist.GUIDE_NAME


def zip_of(entries):
    """The packer's zip as zipfile writes it: each name that is not ASCII in UTF-8 under the flag,
    which Explorer on Windows 7 and 8 ignores."""
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w") as archive:
        for name, data in entries:
            info = zipfile.ZipInfo(name, STAMP)
            info.compress_type, info.create_system = zipfile.ZIP_DEFLATED, make_dist.UNIX
            info.external_attr = make_dist.MODE << 16
            archive.writestr(info, data, compresslevel=make_dist.LEVEL)
    return buffer.getvalue()


def main():
    if len(sys.argv) != 2:
        sys.exit(f"usage: {sys.argv[0]} BUILD_DIR")
    os.environ["SOURCE_DATE_EPOCH"] = str(EPOCH)
    with open(os.path.join(sys.argv[1], EXE), "rb") as f:
        exe = f.read()
    with open(make_dist.GUIDE_SOURCE, "rb") as f:
        guide = make_dist.windows_text(f.read())
    version = make_dist.read_version(os.path.join(sys.argv[1], EXE))
    name = make_dist.zip_name(version)
    other = bytearray(exe)
    other[-1] ^= 1
    good = [(EXE, exe), (GUIDE, guide)]
    packed = make_dist.zip_bytes(good, STAMP)
    # The guide's Unicode path field, as the local header and then the central directory hold it.
    field = make_dist.stored_name(GUIDE)[1]

    # (what, entries or zip bytes, zip name, SHA256SUMS text or None for the right one, verdict)
    cases = [
        ("the packer's own release passes", packed, name, None, "0 failed"),
        ("a guide without its BOM fails", [(EXE, exe), (GUIDE, guide[3:])], name, None,
         "FAIL: the guide starts with a UTF-8 BOM"),
        ("a guide with LF line ends fails", [(EXE, exe), (GUIDE, guide.replace(b"\r\n", b"\n"))],
         name, None, "FAIL: the guide's lines all end in CR LF"),
        ("a guide in GBK fails", [(EXE, exe), (GUIDE, make_dist.BOM + guide[3:].decode(
            "utf-8").encode("gbk"))], name, None, "FAIL: the guide is valid UTF-8"),
        ("a guide that lost a menu item fails",
         [(EXE, exe), (GUIDE, guide.replace("左声道测试音".encode(), b""))], name, None,
         "FAIL: the guide names"),
        ("an exe one bit off fails", [(EXE, bytes(other)), (GUIDE, guide)], name, None,
         f"FAIL: {EXE} is byte-identical"),
        ("entries the other way round fail", good[::-1], name, None, "FAIL: entries are"),
        ("an extra entry fails", good + [("desktop.ini", b"")], name, None, "FAIL: entries are"),
        ("entries stamped at another time fail", make_dist.zip_bytes(good, (2024, 1, 1, 0, 0, 0)),
         name, None, "FAIL: every entry"),
        ("an executable mode fails", make_dist.zip_bytes(good, STAMP, mode=0o100755), name, None,
         "FAIL: every entry"),
        ("stored entries fail", make_dist.zip_bytes(good, STAMP, method=zipfile.ZIP_STORED), name,
         None, "FAIL: every entry"),
        ("a name in UTF-8 under the flag fails, as Explorer on Windows 7 garbles it", zip_of(good),
         name, None, "FAIL: Explorer on Simplified-Chinese Windows 7"),
        ("a Unicode path field whose CRC is not the name's fails", packed.replace(
            field, field[:5] + bytes([field[5] ^ 1]) + field[6:]), name, None, "FAIL: unzip -Z1"),
        ("a Unicode path field naming another file fails",
         packed.replace(field, field.replace(b".txt", b".TXT")), name, None, "FAIL: 7-Zip"),
        ("a local header without the field fails", packed.replace(field, b"xx" + field[2:], 1),
         name, None, "FAIL: every local header repeats"),
        ("a zip named for another version fails", good, "Kelvane-0.9-win32.zip", None,
         "FAIL: build/dist holds one zip"),
        ("sums of another zip fail", good, name, "0" * 64 + "  " + name + "\n",
         "FAIL: cd build/dist && sha256sum -c"),
    ]
    passed = failed = 0
    with tempfile.TemporaryDirectory() as work:
        build = os.path.join(work, "build", "windows")
        os.makedirs(build)
        shutil.copy(os.path.join(sys.argv[1], EXE), build)
        for what, release, zip_name, sums, verdict in cases:
            dist = os.path.join(work, "build", "dist")
            shutil.rmtree(dist, ignore_errors=True)
            data = release if isinstance(release, bytes) else make_dist.zip_bytes(release, STAMP)
            make_dist.write_dist(dist, zip_name, data)
            if sums is not None:
                with open(os.path.join(dist, make_dist.SUMS_NAME), "w") as f:
                    f.write(sums)
            run = subprocess.run([sys.executable, CHECKER, "build/windows", "build/dist"],
                                 cwd=work, capture_output=True, text=True)
            want_status = 0 if verdict == "0 failed" else 1
            if run.returncode == want_status and verdict in run.stdout:
                passed += 1
                print(f"PASS: {what}")
            else:
                failed += 1
                print(f"FAIL: {what}: exit {run.returncode}, want {want_status} and {verdict!r};"
                      f" it printed:\n{run.stdout}{run.stderr}")
    print(f"{passed} passed, {failed} failed")
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
