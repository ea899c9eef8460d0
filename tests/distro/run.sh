#!/usr/bin/env bash
# The README's commands on another Debian release, as a new user there would meet them: a fresh
# minimal root of that release (mmdebstrap, Debian's own packages), a copy of this working tree,
# and the command run inside it. The root goes when the command ends, whatever way it ends; the
# screenshots the command saved are kept in build/distro-RELEASE/.
#   tests/distro/run.sh 12|13|bookworm|trixie [COMMAND]      (default COMMAND: ./make.sh test)
# Needs root (or sudo) for the root's mounts. KELVANE_QEMU, KELVANE_FUZZ_SECONDS, CI and
# SOURCE_DATE_EPOCH pass into the root; KELVANE_DEBIAN_MIRROR and KELVANE_DEBIAN_SECURITY_MIRROR
# name other mirrors.
set -euo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
# The root's repository has no commit to take the dist's entry times from: this one's, read here
# before sudo, where git may refuse a repository another user owns.
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$src" log -1 --format=%ct 2>/dev/null || true)}
case ${1:-} in
    12 | bookworm) release=bookworm ;;
    13 | trixie) release=trixie ;;
    *) echo "usage: $0 12|13|bookworm|trixie [COMMAND]" >&2; exit 2 ;;
esac
command=${2:-./make.sh test}
if [ "$(id -u)" != 0 ]; then
    exec sudo --preserve-env=KELVANE_QEMU,KELVANE_FUZZ_SECONDS,CI,KELVANE_DEBIAN_MIRROR,KELVANE_DEBIAN_SECURITY_MIRROR,SOURCE_DATE_EPOCH \
        "$0" "$@"
fi
. "$src/setup/apt.sh"
command -v mmdebstrap >/dev/null || apt_install "installing mmdebstrap" mmdebstrap

root=$(mktemp -d "${TMPDIR:-/var/tmp}/kelvane-$release.XXXXXX")
# A machine whose kernel hands 32-bit programs to qemu-i386 (or KELVANE_QEMU=1, which makes it do
# so) has one binfmt entry for every process, chroots included. A machine of the root's release
# would run that release's own qemu (Debian 12's 7.2 hangs Debian 13's Wine 10), so for the root's
# run the entry names the root's qemu-i386, and afterwards it is put back as it was, however the
# run ends. The kernel itself is asked whether 32-bit programs go through qemu, since binfmt_misc
# may not be visible here.
binfmt=/proc/sys/fs/binfmt_misc
saved_entry=
probe_dir=$(mktemp -d)
read -r machine _ <<<"$("$src/tests/e2e/kernel_probe.sh" "$probe_dir")"
rm -rf "$probe_dir"
root_qemu=$([ "${KELVANE_QEMU:-}" = 1 ] || [ "$machine" != x86_64 ] && echo yes || true)
# The registration line for the entry as binfmt_misc shows it, with its state after it.
entry_line() {
    local state interpreter flags offset magic mask
    { read -r state; read -r _ interpreter; read -r _ flags; read -r _ offset; read -r _ magic
        read -r _ mask; } <"$binfmt/qemu-i386"
    echo ":qemu-i386:M:$offset:$(sed 's/../\\x&/g' <<<"$magic"):$(sed 's/../\\x&/g' <<<"$mask"):$interpreter:$flags $state"
}
# register LINE STATE: the qemu-i386 entry, replacing any there.
register() {
    [ ! -e "$binfmt/qemu-i386" ] || echo -1 >"$binfmt/qemu-i386"
    printf '%s' "$1" >"$binfmt/register"
    [ "$2" = enabled ] || echo 0 >"$binfmt/qemu-i386"
}
use_root_qemu() {
    [ -e "$binfmt/register" ] || mount -t binfmt_misc binfmt_misc "$binfmt"
    [ ! -e "$binfmt/qemu-i386" ] || saved_entry=$(entry_line)
    saved_entry=${saved_entry:-none}
    # Resolved inside the root: a link there may name an absolute path, which out here is the
    # machine's own qemu.
    local qemu
    qemu=$root$(chroot "$root" readlink -f /usr/bin/qemu-i386-static)
    # F: the kernel opens the interpreter now, by this path, so it need not exist in the chroot
    # under that name.
    register ":qemu-i386:M::\\x7fELF\\x01\\x01\\x01\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x02\\x00\\x03\\x00:\\xff\\xff\\xff\\xff\\xff\\xfe\\xfe\\x00\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xfe\\xff\\xff\\xff:$qemu:F" enabled
    echo "distro: 32-bit programs run through the root's own $("$qemu" --version | head -n 1) while it runs"
}
put_back_qemu() {
    case $saved_entry in
        "") ;;
        none) [ ! -e "$binfmt/qemu-i386" ] || echo -1 >"$binfmt/qemu-i386" ;;
        *) register "${saved_entry% *}" "${saved_entry##* }" ;;
    esac
}
# Every process still running from inside the root. Its mounts exist only in the namespace
# below, so once those processes are gone nothing of it stays mounted anywhere.
inside_root() {
    local p
    for p in /proc/[0-9]*; do
        [ "$(readlink "$p/root" 2>/dev/null)" = "$root" ] && echo "${p#/proc/}"
    done
    return 0
}
remove_root() {
    local pids
    pids=$(inside_root)
    [ -z "$pids" ] || kill -9 $pids 2>/dev/null || true
    for _ in $(seq 50); do [ -z "$(inside_root)" ] && break; sleep 0.1; done
    put_back_qemu
    # The mounts were never made in this namespace; should one show, nothing is deleted.
    if findmnt -rn -o TARGET | grep -q "^$root/"; then
        echo "distro: $root still has mounts; left in place" >&2
        return 1
    fi
    rm -rf --one-file-system "$root"
}
trap remove_root EXIT
trap 'exit 130' INT TERM

# The suites a new machine of that release reads: main, updates and security.
mirror=${KELVANE_DEBIAN_MIRROR:-http://deb.debian.org/debian}
suites=("deb $mirror $release main" "deb $mirror $release-updates main")
security="deb ${KELVANE_DEBIAN_SECURITY_MIRROR:-http://deb.debian.org/debian-security} $release-security main"
# make_root SOURCE...: the root, from those sources. mmdebstrap's own words go to $root.log, and
# its errors and apt's (which --quiet would hide, the index that failed among them) are shown.
make_root() {
    local status=0
    mmdebstrap --variant=minbase \
        --include=ca-certificates,git${root_qemu:+,qemu-user-static} "$release" "$root" "$@" \
        >"$root.log" 2>&1 || status=$?
    [ $status -eq 0 ] || grep -E '^(E|W|Err):' "$root.log" >&2 || true
    return $status
}

start=$SECONDS
echo "distro: making a minimal Debian $release root in $root"
if ! make_root "${suites[@]}" "$security"; then
    # A mirror caught mid-sync fails one index, and mmdebstrap stops on any; the security suite
    # is the one a root for a test run can go without.
    grep -q 'Failed to fetch' "$root.log" || { rm -f "$root.log"; exit 1; }
    echo "note: mmdebstrap could not read an index of $release's suites (above); making the" \
        "root again from $release's main and updates suites only"
    rm -rf --one-file-system "$root" && mkdir "$root"
    make_root "${suites[@]}" || {
        echo "distro: making the Debian $release root failed: mmdebstrap could not read" \
            "$(sed -n 's/^.*Failed to fetch \([^ ]*\).*$/\1/p' "$root.log" | sort -u | paste -sd' ');" \
            "the mirror may be mid-sync: run the same command again later" >&2
        rm -f "$root.log"
        exit 1
    }
fi
rm -f "$root.log"
cp /etc/resolv.conf "$root/etc/resolv.conf"
# The working tree as it is, committed or not, as a repository of its own: the exe checks build
# a second copy from what git lists.
mkdir -p "$root/work/kelvane"
(cd "$src" && git ls-files -z --cached --others --exclude-standard |
    xargs -0 cp --parents -t "$root/work/kelvane")
git -C "$root/work/kelvane" init -q
git -C "$root/work/kelvane" add -A
[ -z "$root_qemu" ] || use_root_qemu
echo "distro: root ready in $((SECONDS - start)) s; running '$command' in Debian $release"

status=0
unshare --mount --propagation private -- bash -euc '
    root=$1 command=$2
    mount -t proc proc "$root/proc"
    mount -t sysfs sysfs "$root/sys"
    mount --bind /dev "$root/dev"
    mount --bind /dev/pts "$root/dev/pts"
    mount -t tmpfs tmpfs "$root/dev/shm"
    chroot "$root" /usr/bin/env -i HOME=/root TERM=dumb LANG=C.UTF-8 \
        PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
        CI="${CI:-}" KELVANE_QEMU="${KELVANE_QEMU:-}" \
        KELVANE_FUZZ_SECONDS="${KELVANE_FUZZ_SECONDS:-60}" SOURCE_DATE_EPOCH="$SOURCE_DATE_EPOCH" \
        bash -c "cd /work/kelvane && $command"
' distro "$root" "$command" || status=$?
# The pictures the run saved outlive the root, to be looked at.
pictures=$src/build/distro-$release
rm -rf "$pictures"
for shots in "$root/work/kelvane/build/windows/screenshots" \
    "$root/work/kelvane/build/windows/tests/e2e/screenshots"; do
    [ -d "$shots" ] || continue
    mkdir -p "$pictures/${shots#"$root/work/kelvane/build/windows/"}"
    cp -r "$shots/." "$pictures/${shots#"$root/work/kelvane/build/windows/"}"
    echo "distro: screenshots in $pictures/${shots#"$root/work/kelvane/build/windows/"}"
done
echo "distro: Debian $release: '$command' exited $status after $((SECONDS - start)) s in all"
exit $status
