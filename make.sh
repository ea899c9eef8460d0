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
  sox                                                      # the faulty cable of the automatic check's real cases
  clang libclang-rt-dev                                 # fuzzing
  unzip 7zip                                            # the release zip's names as they read them
)

. setup/apt.sh

install_missing() {
  local missing=()
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return
  echo "Installing: ${missing[*]}"
  dpkg --print-foreign-architectures | grep -qx i386 || apt_as_root dpkg --add-architecture i386
  apt_install "installing packages" "${missing[@]}"
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
  apt_install "installing qemu" "${missing[@]}"
}

# step WHAT LOOK COMMAND...: COMMAND, and when it fails, a last line that says what failed and
# where to look. A script that knows better (a Wine prefix that could not be made, say) leaves
# its own reason in $KELVANE_FAILURE, which that line then gives.
export KELVANE_FAILURE=${TMPDIR:-/tmp}/kelvane-failure.$$
trap 'rm -f "$KELVANE_FAILURE"' EXIT
step() {
  local what=$1 look=$2 status=0 reason
  shift 2
  rm -f "$KELVANE_FAILURE"
  "$@" || status=$?
  [ $status -ne 0 ] || return 0
  reason=$(cat "$KELVANE_FAILURE" 2>/dev/null) || true
  echo "./make.sh $command: ${reason:-$what (status $status); see $look}" >&2
  exit $status
}

configure() {
  [ -f "build/$1/build.ninja" ] || cmake --preset "$1" >/dev/null
}

build() {
  for preset in "$@"; do
    step "configuring build/$preset failed" "CMake's messages above" configure "$preset"
    step "building build/$preset failed" "the compiler's messages above" \
      cmake --build --preset "$preset"
  done
}

# The zip a Windows user takes, from the exe just built (dist/make_dist.py says what it holds).
# Debian's python3-pefile is there for the system interpreter only, not for a pyenv one on PATH.
dist() {
  build windows
  step "packing build/dist failed" "dist/make_dist.py's message above" \
    /usr/bin/python3 dist/make_dist.py build/windows build/dist
}

installs() {
  step "installing packages failed" "apt-get's messages above" install_missing
  step "installing qemu failed" "apt-get's messages above" install_qemu_if_needed
}

command=${1:-}
case "$command" in
  run | sample)
    installs
    build windows
    mode=$([ "$command" = run ] && echo real || echo sample)
    step "Kelvane under Wine did not behave as designed" \
      "the lines above, and Wine's messages in build/windows/show-$mode.log" \
      tests/e2e/show.sh build/windows "$mode"
    ;;
  dist)
    step "installing packages failed" "apt-get's messages above" install_missing
    dist
    ;;
  test)
    step "the set-up's own tests failed" "the FAIL lines above" tests/setup/apt_test.sh
    step "an include runs upward" "the FAIL lines above" tests/layering.sh
    packages+=("${test_packages[@]}")
    installs
    build native windows
    step "unit tests failed" \
      "the failed tests above and build/native/Testing/Temporary/LastTest.log" \
      ctest --preset native
    step "the exe checks failed" "the lines above" tests/exe_checks.sh build/windows
    dist
    step "the release zip's checks failed" "the FAIL lines above" \
      /usr/bin/python3 dist/check_dist.py build/windows build/dist
    step "the release zip checker's own tests failed" "the FAIL lines above" \
      /usr/bin/python3 dist/check_dist_test.py build/windows
    step "fuzzing failed" "the fuzzer's report above" \
      tests/fuzz/run.sh "${KELVANE_FUZZ_SECONDS:-60}"
    step "end-to-end tests failed" \
      "the FAIL lines above, build/windows/e2e.log, and Wine's messages in build/windows/real-audio.log" \
      tests/e2e/run.sh build/windows
    ;;
  *)
    echo "usage: $0 run|test|sample|dist" >&2
    exit 2
    ;;
esac
