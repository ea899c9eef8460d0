#!/usr/bin/env bash
# setup/apt.sh against a fake apt-get first on PATH, which fails as a mirror caught mid-sync makes
# the real one fail: one index unread, then an install that can't be resolved.
#   tests/setup/apt_test.sh
set -uo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
index=http://deb.example/debian-security/dists/$codename-security/main/binary-i386/Packages.xz

mkdir "$work/bin"
# Each call takes the next word of its plan: update ok|index, install ok|held|other.
cat >"$work/bin/apt-get" <<FAKE
#!/usr/bin/env bash
echo "\$*" >>"$work/calls"
verb=\$(printf '%s\n' "\$@" | grep -xE 'update|install')
read -r outcome rest <"$work/\$verb.plan" || outcome=ok
echo "\$rest" >"$work/\$verb.plan"
case \$outcome in
  index)
    echo "E: Failed to fetch $index  File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: 192.0.2.1 80]" >&2
    echo "E: Some index files failed to download. They have been ignored, or old ones used instead." >&2
    exit 100 ;;
  held)
    echo "E: Unable to correct problems, you have held broken packages." >&2
    exit 100 ;;
  other)
    echo "E: Unable to locate package wine33" >&2
    exit 100 ;;
esac
FAKE
chmod +x "$work/bin/apt-get"

passed=0 failed=0
not() { ! "$@"; }
check() { # WHAT CONDITION...
  local what=$1
  shift
  if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAIL $row: $what"; fi
}

# row | update plan | install plan | status | installs, each "plain" or "-t" | last line's words
rows=(
  "index read at once|ok|ok|0|plain|"
  "index read on the second try|index ok|ok|0|plain|"
  "index never read, install resolves|index index index|ok|0|plain|"
  "index never read, install falls back|index index index|held ok|0|plain -t|"
  "held broken with every index read|ok|held|100|plain|"
  "index unread, install fails otherwise|index index index|other|100|plain|"
  "index unread, fallback fails too|index index index|held held|100|plain -t|mid-sync: run the same command again later"
)
apt_state() { find /etc/apt /var/lib/apt/lists -maxdepth 2 -type f -newer "$work/bin/apt-get" 2>/dev/null; }
for r in "${rows[@]}"; do
  IFS='|' read -r row update install want_status want_installs want_last <<<"$r"
  echo "$update" >"$work/update.plan"
  echo "$install" >"$work/install.plan"
  : >"$work/calls"
  status=0
  PATH=$work/bin:$PATH KELVANE_APT_RETRY_SECONDS=0 KELVANE_FAILURE= bash -c \
    '. "$1/setup/apt.sh" && apt_install "installing packages" wine32:i386' _ "$src" \
    >"$work/out" 2>"$work/err" || status=$?
  tries=$(grep -c '^update' "$work/calls")
  installs=$(grep '^install' "$work/calls" | sed "s/.* -t $codename .*/-t/;t;s/.*/plain/" | paste -sd' ')
  check "exit status $status, not $want_status" [ "$status" = "$want_status" ]
  check "installs '$installs', not '$want_installs'" [ "$installs" = "$want_installs" ]
  unread=$(wc -w <<<"${update//ok/}")
  check "$(grep -c '^note: apt-get update could not read' "$work/out") notes of the unread index" \
    [ "$(grep -c "^note: apt-get update could not read $index (File has unexpected size (374820 != 376004). Mirror sync in progress?)$" "$work/out")" = "$unread" ]
  check "$tries tries of apt-get update" [ "$tries" = "$((unread == 3 ? 3 : unread + 1))" ]
  if [[ $want_installs == *-t* ]]; then
    check "no note of the fallback" grep -q "^note: .*apt-get install -t $codename.*security updates.*apt-get upgrade$" "$work/out"
  else
    check "a note of a fallback not made" not grep -q -- "-t $codename" "$work/out"
  fi
  last=$(tail -n 1 "$work/err")
  if [ -n "$want_last" ]; then
    check "last line '$last'" grep -qF -- "$want_last" <<<"$last"
    check "last line '$last' names no index" grep -qF "installing packages failed: apt-get could not read $index;" <<<"$last"
  else
    check "last line '$last' says what only the step may say" not grep -q "failed:" <<<"$last"
  fi
  check "apt's configuration or lists written: $(apt_state)" [ -z "$(apt_state)" ]
done
# Under make.sh the reason goes to the file its step reads for its own last line.
row="fallback fails under make.sh"
echo "index index index" >"$work/update.plan"
echo "held held" >"$work/install.plan"
PATH=$work/bin:$PATH KELVANE_APT_RETRY_SECONDS=0 KELVANE_FAILURE=$work/reason bash -c \
  '. "$1/setup/apt.sh" && apt_install "installing qemu" qemu-user-static' _ "$src" >/dev/null 2>&1
check "reason '$(cat "$work/reason" 2>/dev/null)'" grep -qx "installing qemu failed: apt-get could not read $index; the mirror may be mid-sync: run the same command again later" "$work/reason"

echo "setup: $passed passed, $failed failed"
[ $failed = 0 ]
