# Wine set-up shared by the e2e, bench and run scripts; source it with the build folder and the
# kind of prefix wanted:
#   . tests/e2e/wine_env.sh BUILD_DIR [fake|audio|run]
#   fake   build/windows/wineprefix: Wine's audio off and the test winmm.dll in system32, for
#          records no real driver produces (the default)
#   audio  build/windows/wineprefix-audio: Wine's own winmm and audio drivers, as Wine sets them
#          up by default, for the e2e cases over a real sound server
#   run    build/windows/wineprefix-run: the same, for the user's own run of Kelvane
# Gives a quiet 32-bit prefix, an X display (Xvfb when there is none), and a cleanup trap.
e2e_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build=$(cd "${1:?usage: $0 BUILD_DIR [fake|audio|run]}" && pwd)
prefix_kind=${2:-fake}
case $prefix_kind in
    fake) export WINEPREFIX=$build/wineprefix ;;
    audio | run) export WINEPREFIX=$build/wineprefix-$prefix_kind ;;
    *) echo "unknown prefix kind: $prefix_kind" >&2; return 2 ;;
esac
# KELVANE_WINEDEBUG traces a run (WINEDEBUG=+timestamp,+tid,... for every Wine process here).
export WINEARCH=win32 WINEDEBUG=${KELVANE_WINEDEBUG:--all}

as_root() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }

# Kelvane reads device names in the ANSI code page, which Wine takes from the Unix locale. The
# locale must exist before it is exported, or every program started from here complains. It is
# made as a folder of its own, not in the locale archive: glibc maps the archive once per process,
# so a shell that has already looked a locale up there (C.UTF-8, say) would never see one added
# to it later, and would warn on the export below.
locale -a 2>/dev/null | grep -qix zh_CN.utf8 ||
    as_root localedef --no-archive -i zh_CN -f UTF-8 zh_CN.UTF-8
export LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8
# No Mono/Gecko prompts, no desktop menu files, and none of the device drivers Kelvane does not
# need (under qemu they crash at Wine's start-up). winmm stays out of this list: it would override
# the per-program choice the e2e driver makes in the registry for each Kelvane run.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d;mountmgr.sys,winebus.sys,wineusb.sys=d"

# Every step that can fail says which, and where its output went, as the last thing printed;
# make.sh repeats it as its own last line (KELVANE_FAILURE names the file it reads).
step_failed() {
    if [ -n "${KELVANE_FAILURE:-}" ]; then
        echo "$1" >"$KELVANE_FAILURE"
    else
        echo "FAILED: $1" >&2
    fi
    exit 1
}

# How this kernel runs 32-bit programs is asked of the kernel itself, by a 32-bit program of ours
# (kernel_probe.c): "x86_64" when it runs them itself, "i686" when a binfmt_misc entry hands them
# to qemu-i386, whether or not that entry is visible here (containers and chroots often hide
# binfmt_misc), and nothing when it cannot start one at all. KELVANE_QEMU=1 takes the qemu path on
# any kernel: binfmt_misc is asked before the kernel's own ELF loader.
binfmt=/proc/sys/fs/binfmt_misc
ask_kernel() {
    local said
    said=$("$e2e_dir/kernel_probe.sh" "$build/kernel-probe") ||
        step_failed "gcc could not build the 32-bit kernel probe; its output is in $build/kernel-probe/kernel_probe.gcc.log"
    read -r machine mmap_noreplace <<<"$said"
}
ask_kernel
forced_qemu=$([ "${KELVANE_QEMU:-}" = 1 ] && echo yes || true)
# Whoever turns the forced path on turns it off when done; a script sourced from that one finds
# it on and leaves it.
qemu_turned_on=
if { [ -n "$forced_qemu" ] && [ "$machine" = x86_64 ]; } || [ "$machine" = none ]; then
    [ -e $binfmt/register ] || as_root mount -t binfmt_misc binfmt_misc $binfmt 2>/dev/null ||
        step_failed "this kernel runs no 32-bit program itself, and binfmt_misc cannot be mounted to hand them to qemu-i386"
    # A newly registered entry starts enabled: whether this script turned it on is known before.
    [ -z "$forced_qemu" ] || grep -qs '^enabled' $binfmt/qemu-i386 || qemu_turned_on=yes
    [ -e $binfmt/qemu-i386 ] ||
        printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' |
        as_root tee $binfmt/register >/dev/null
    grep -qs '^enabled' $binfmt/qemu-i386 || echo 1 | as_root tee $binfmt/qemu-i386 >/dev/null
    ask_kernel
    [ "$machine" = i686 ] ||
        step_failed "32-bit programs do not run through qemu-i386 after enabling its binfmt entry (the probe says '$machine'); see $binfmt/qemu-i386"
fi
# qemu 7.2 ignores MAP_FIXED_NOREPLACE and mishandles Wine's access violations; the shim makes up
# for both. A qemu that honours the flag runs Wine as it is.
if [ "$machine" = i686 ] && [ "$mmap_noreplace" != noreplace ]; then
    shim=$build/qemu-shim/lib
    if [ ! "$shim/i386-linux-gnu/libkelvane.so" -nt "$e2e_dir/qemu_mmap_shim.c" ]; then
        mkdir -p "$shim/i386-linux-gnu" "$shim/x86_64-linux-gnu"
        gcc -m32 -O2 -fPIC -shared -nostdlib -o "$shim/i386-linux-gnu/libkelvane.so" \
            "$e2e_dir/qemu_mmap_shim.c" &&
            gcc -shared -nostdlib -o "$shim/x86_64-linux-gnu/libkelvane.so" -x c /dev/null ||
            step_failed "gcc could not build the qemu shim ($e2e_dir/qemu_mmap_shim.c)"
    fi
    # ld.so expands $LIB per architecture: native helpers get an empty library.
    export LD_PRELOAD="$build/qemu-shim/\$LIB/libkelvane.so"
fi
if [ "$machine" = i686 ] && [ -z "${KELVANE_QEMU_NOTED:-}" ]; then
    echo "note: 32-bit programs run through qemu-i386 here, $([ -n "${LD_PRELOAD:-}" ] &&
        echo "with the shim (this qemu ignores MAP_FIXED_NOREPLACE)" ||
        echo "without the shim (this qemu honours MAP_FIXED_NOREPLACE)")"
    export KELVANE_QEMU_NOTED=yes
fi

xvfb_pid=
cleanup() {
    wineserver -k 2>/dev/null || true
    [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
    [ -z "$qemu_turned_on" ] || echo 0 | as_root tee $binfmt/qemu-i386 >/dev/null
}
trap cleanup EXIT

# A script started from one that made the Xvfb display shares it, and knows it as one.
own_display=
[ -n "${DISPLAY:-}" ] && [ "${DISPLAY:-}" = "${KELVANE_XVFB:-}" ] && own_display=yes
if [ -z "${DISPLAY:-}" ]; then
    # Xvfb takes the first display free and says which: two runs that looked for a free one
    # themselves at the same moment both took it, and the first to end closed it under the other.
    display_file=$(mktemp)
    Xvfb -displayfd 3 -screen 0 2048x1536x24 -nolisten tcp 3>"$display_file" >/dev/null 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 100); do [ -s "$display_file" ] && break; sleep 0.1; done
    n=$(tr -dc 0-9 <"$display_file")
    rm -f "$display_file"
    [ -n "$n" ] || step_failed "Xvfb did not open a display within 10 s"
    export DISPLAY=:$n KELVANE_XVFB=:$n
    own_display=yes
fi

# A prefix made by an older set-up than this one is made again.
prefix_setup=2
if [ "$(cat "$WINEPREFIX/.kelvane-ready" 2>/dev/null)" != "$prefix_setup" ]; then
    echo "Creating the Wine prefix $WINEPREFIX (once; takes a while)..."
    rm -rf "$WINEPREFIX"
    wineboot_log=$WINEPREFIX.wineboot.log
    # Wine exits with a Windows status's low byte: 53 was 0xC0000135, "could not load kernel32.dll",
    # where qemu 7.2 ran Wine without the shim.
    wineboot -i >"$wineboot_log" 2>&1 ||
        step_failed "wineboot failed (status $?) while creating $WINEPREFIX; its output is in $wineboot_log"
    # A crash is reported on stderr and the process ends, rather than a dialog waiting for a user
    # who is not there.
    wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
        >/dev/null 2>&1
    # Chinese text needs a CJK font behind Wine's UI fonts. Wine 8 gives the UI fonts as "MS Shell
    # Dlg" in the GB2312 charset, which it resolves to any installed font of that charset. Wine 10
    # gives them as Tahoma in the default charset and finds CJK glyphs only through font linking,
    # whose built-in SystemLink lists name Windows' own files (SIMSUN.TTC,SimSun first), none of
    # which exist here: every Chinese character would be the missing-glyph box. Wine replaces a
    # face that is not installed by the one its Fonts\Replacements key names (and leaves a real
    # SimSun alone), so the links reach Debian's WenQuanYi Micro Hei, on both versions.
    {
        printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\n'
        printf '"SimSun"="WenQuanYi Micro Hei"\n'
        if [ "$prefix_kind" = fake ]; then
            # No audio driver: Wine's own winmm then has no device. Wine's programs keep their
            # own winmm rather than the test one in system32.
            printf '\n[HKEY_CURRENT_USER\\Software\\Wine\\Drivers]\n"Audio"=""\n'
            printf '\n[HKEY_CURRENT_USER\\Software\\Wine\\DllOverrides]\n"winmm"="builtin"\n'
        fi
    } >"$WINEPREFIX/drive_c/kelvane.reg"
    wine regedit /S 'C:\kelvane.reg' >>"$wineboot_log" 2>&1 ||
        step_failed "regedit failed (status $?) while setting up $WINEPREFIX; its output is in $wineboot_log"
    rm "$WINEPREFIX/drive_c/kelvane.reg"
    # Under qemu 7.2 a Wine process has once crashed while the prefix was made, before crashes were
    # set to end quietly: its debugger then waited for nobody, and so did this, for good.
    crashed=$(grep -m1 -E 'Unhandled exception|uncaught target signal' "$wineboot_log" || true)
    [ -z "$crashed" ] ||
        echo "note: a Wine process crashed while $WINEPREFIX was made (\"$crashed\"; see $wineboot_log)"
    if ! timeout 120 wineserver -w; then
        wineserver -k || true
        echo "note: Wine processes were still running 120 s after $WINEPREFIX was made; ended them"
    fi
    echo "$prefix_setup" >"$WINEPREFIX/.kelvane-ready"
fi
# Debian's Wine keeps its own fonts (Marlett draws the caption buttons, Tahoma is the dialog
# font) in a folder the prefix never looks in; Wine does load whatever is in C:\windows\Fonts.
for font in /usr/share/wine/fonts/*.ttf; do
    [ -e "$font" ] && [ ! -e "$WINEPREFIX/drive_c/windows/Fonts/${font##*/}" ] &&
        ln -s "$font" "$WINEPREFIX/drive_c/windows/Fonts/"
done
# Without a window manager (Xvfb) Wine draws the captions itself; on a desktop the window
# manager does, as for any other window.
x11_managed() {
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d "$1" /f >/dev/null 2>&1
}

# Boot Wine's services before the first real program; under qemu the boot can stall, so it is
# bounded and retried from a fresh server.
start_wine() {
    local log=$WINEPREFIX.start.log try status
    wineserver -p
    for try in 1 2 3; do
        status=0
        timeout 120 wine cmd /c exit >"$log" 2>&1 || status=$?
        [ $status -ne 0 ] || return 0
        echo "note: Wine did not start in $WINEPREFIX (try $try of 3, status $status)" >&2
        wineserver -k 2>/dev/null || true
        wineserver -p
    done
    step_failed "Wine did not start in $WINEPREFIX in 3 tries (last status $status; 124 is a 120 s time-out); its last output is in $log"
}

# Wine takes the DPI from the registry when its server starts.
set_dpi() {
    wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1
    wineserver -k 2>/dev/null || true
    wineserver -w
    start_wine
}

start_wine
x11_managed "$([ -n "$own_display" ] && echo N || echo Y)"
if [ "$prefix_kind" = fake ]; then
    cp "$build/tests/e2e/fake/winmm.dll" "$WINEPREFIX/drive_c/windows/system32/winmm.dll"
fi

winpath() { local p; p=$(realpath "$1"); echo "Z:${p//\//\\}"; }
