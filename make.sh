#!/usr/bin/env bash
# Kelvane's commands:
#   ./make.sh run      build Kelvane.exe and start it under Wine, on Wine's own winmm and audio
#   ./make.sh test     build everything and run every test
#   ./make.sh sample   the demo: Kelvane on a test winmm.dll that serves a sample device
#   ./make.sh dist     build/dist/Kelvane-VERSION-win32.zip and its SHA256SUMS, for Windows users
# Each installs what is missing first (Debian packages; as root or through sudo).
set -euo pipefail
cd "$(dirname "$0")"

packages=(
  cmake ninja-build g++ googletest libgtest-dev          # native core and unit tests
  g++-mingw-w64-i686                                      # Kelvane.exe
  wine wine32:i386 fonts-wine xvfb imagemagick locales fonts-wqy-microhei   # running it
  python3-pefile                                  # reading Kelvane.exe's PE headers and version
)
# Only the tests need these. The run command talks to whatever sound server the machine has; a
# desktop running PipeWire keeps it (Debian's pulseaudio would replace its pulse service). Both
# servers install side by side; the tests start each privately, never as the user's server.
test_packages=(
  pulseaudio pipewire pipewire-pulse wireplumber dbus-daemon   # real sound servers for e2e tests
  pulseaudio-utils                                         # pactl and pacat, to set them up
  clang libclang-rt-dev                                 # fuzzing
)

as_root() {
  if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi
}

install_missing() {
  local missing=()
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return
  echo "Installing: ${missing[*]}"
  dpkg --print-foreign-architectures | grep -qx i386 || as_root dpkg --add-architecture i386
  as_root apt-get update -qq
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
}

# A kernel without 32-bit support runs 32-bit Wine only through qemu-i386, with a small shim
# built by gcc -m32 (tests/e2e/wine_env.sh sets that up). Elsewhere qemu must stay away: its
# binfmt entry would take 32-bit programs from the native kernel. KELVANE_QEMU=1 asks for that
# path anyway, to test it on such a kernel.
install_qemu_if_needed() {
  [ "${KELVANE_QEMU:-}" = 1 ] || ! /usr/lib/wine/wine --version >/dev/null 2>&1 || return 0
  local missing=()
  for p in qemu-user-static gcc-multilib; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return
  echo "Installing: ${missing[*]} (this kernel cannot run 32-bit programs)"
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
}

# Returns on the first failure, also where a caller's || has switched set -e off.
build() {
  for preset in "$@"; do
    [ -f "build/$preset/build.ninja" ] || cmake --preset "$preset" >/dev/null || return
    cmake --build --preset "$preset" || return
  done
}

# The zip a Windows user takes, from the exe just built (dist/make_dist.py says what it holds).
# Each failure ends with a line naming what failed.
dist() {
  build windows || {
    echo "dist: FAILED: building build/windows/Kelvane.exe (cmake's messages above)" >&2
    return 1
  }
  # Debian's python3-pefile is there for the system interpreter only, not for a pyenv one on PATH.
  /usr/bin/python3 dist/make_dist.py build/windows build/dist || {
    echo "dist: FAILED: packing build/dist (dist/make_dist.py's message above)" >&2
    return 1
  }
}

case "${1:-}" in
  run)
    install_missing
    install_qemu_if_needed
    build windows
    exec tests/e2e/show.sh build/windows real
    ;;
  sample)
    install_missing
    install_qemu_if_needed
    build windows
    exec tests/e2e/show.sh build/windows sample
    ;;
  dist)
    install_missing || {
      echo "dist: FAILED: installing Debian packages (apt's messages above)" >&2
      exit 1
    }
    dist
    ;;
  test)
    packages+=("${test_packages[@]}")
    install_missing
    install_qemu_if_needed
    build native windows
    ctest --preset native
    tests/exe_checks.sh build/windows
    dist
    /usr/bin/python3 dist/check_dist.py build/windows build/dist
    /usr/bin/python3 dist/check_dist_test.py build/windows
    tests/fuzz/run.sh "${KELVANE_FUZZ_SECONDS:-60}"
    tests/e2e/run.sh build/windows
    ;;
  *)
    echo "usage: $0 run|test|sample|dist" >&2
    exit 2
    ;;
esac
