#!/usr/bin/env bash
# The README's commands on another Debian release, as a new user there would meet them: a fresh
# minimal root of that release (mmdebstrap, Debian's own packages), a copy of this working tree,
# and the command run inside it. The root goes when the command ends, whatever way it ends; the
# screenshots the command saved are kept in build/distro-RELEASE/.
#   tests/distro/run.sh 12|13|bookworm|trixie [COMMAND]      (default COMMAND: ./make.sh test)
# Needs root (or sudo) for the root's mounts. KELVANE_QEMU, KELVANE_FUZZ_SECONDS, CI and
# SOURCE_DATE_EPOCH pass into the root; KELVANE_DEBIAN_MIRROR names another mirror.
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
    exec sudo --preserve-env=KELVANE_QEMU,KELVANE_FUZZ_SECONDS,CI,KELVANE_DEBIAN_MIRROR,SOURCE_DATE_EPOCH \
        "$0" "$@"
fi
command -v mmdebstrap >/dev/null || {
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends mmdebstrap \
        >/dev/null
}

root=$(mktemp -d "${TMPDIR:-/var/tmp}/kelvane-$release.XXXXXX")
# binfmt_misc is the machine's: a qemu-i386 entry the root registers names the root's own qemu,
# and goes with the root.
qemu_entry=/proc/sys/fs/binfmt_misc/qemu-i386
qemu_entry_before=$([ -e $qemu_entry ] && echo yes || true)
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
    # The mounts were never made in this namespace; should one show, nothing is deleted.
    if findmnt -rn -o TARGET | grep -q "^$root/"; then
        echo "distro: $root still has mounts; left in place" >&2
        return 1
    fi
    rm -rf --one-file-system "$root"
    [ -n "$qemu_entry_before" ] || [ ! -e $qemu_entry ] || echo -1 >$qemu_entry
}
trap remove_root EXIT
trap 'exit 130' INT TERM

start=$SECONDS
echo "distro: making a minimal Debian $release root in $root"
mmdebstrap --quiet --variant=minbase --include=ca-certificates,git "$release" "$root" \
    "${KELVANE_DEBIAN_MIRROR:-http://deb.debian.org/debian}"
cp /etc/resolv.conf "$root/etc/resolv.conf"
# The working tree as it is, committed or not, as a repository of its own: the exe checks build
# a second copy from what git lists.
mkdir -p "$root/work/kelvane"
(cd "$src" && git ls-files -z --cached --others --exclude-standard |
    xargs -0 cp --parents -t "$root/work/kelvane")
git -C "$root/work/kelvane" init -q
git -C "$root/work/kelvane" add -A
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
