# Installing Debian packages, for every script of Kelvane's that needs some: source this file, then
#   apt_install WHAT PACKAGE...
# WHAT names the step in a failure's last line ("installing packages", say). Runs apt-get as root,
# or through sudo.
#
# A mirror caught mid-sync serves an index that does not match its Release file, and apt-get
# update then goes on without that one index. Where that index is one architecture's half of a
# suite (bookworm-security's i386, say), the other half offers newer multi-arch libraries than
# the one left can match, and nothing installs. Installing from the release's own suite alone
# (-t CODENAME) takes both halves from one place, so that is tried once, and said. No pin or
# source is left behind: the choice lives in that one apt-get call.

# Seconds between tries of apt-get update; the tests set it to 0.
KELVANE_APT_RETRY_SECONDS=${KELVANE_APT_RETRY_SECONDS:-20}

apt_as_root() {
  if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi
}

# The indexes the last apt_update could not read, one "URL<TAB>reason" a line.
apt_unread=

# apt_update: apt-get update, three tries; then on with what was read, as apt-get itself does.
apt_update() {
  local log try
  log=$(mktemp)
  for try in 1 2 3; do
    if apt_as_root apt-get update -qq >"$log" 2>&1; then
      apt_unread=
      break
    fi
    apt_unread=$(sed -n 's/^[EW]: Failed to fetch \([^ ]*\)  *\(.*\)$/\1\t\2/p' "$log" |
      sed 's/ *\[IP: [^]]*\]$//')
    if [ -z "$apt_unread" ]; then
      cat "$log" >&2
    else
      while IFS=$'\t' read -r index reason; do
        echo "note: apt-get update could not read $index ($reason)"
      done <<<"$apt_unread"
    fi
    if [ $try -lt 3 ]; then
      echo "note: trying apt-get update again in $KELVANE_APT_RETRY_SECONDS s (try $((try + 1)) of 3)"
      sleep "$KELVANE_APT_RETRY_SECONDS"
    else
      echo "note: going on with the indexes that were read, as apt-get does"
    fi
  done
  rm -f "$log"
}

apt_unread_names() {
  cut -f1 <<<"$apt_unread" | paste -sd' ' | sed 's/ /, /g'
}

# apt_get_install LOG [OPTION...] PACKAGE...: one quiet install; apt-get's complaints go to
# standard error and to LOG.
apt_get_install() {
  local log=$1 status=0
  shift
  apt_as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    "$@" >/dev/null 2>"$log" || status=$?
  cat "$log" >&2
  return $status
}

# apt_fail WHAT STATUS WORDS...: the failure's last line. make.sh prints $KELVANE_FAILURE's
# reason as its own last line; elsewhere it is printed here.
apt_fail() {
  local line="$1 failed: ${*:3}"
  if [ -n "${KELVANE_FAILURE:-}" ]; then
    echo "$line" >"$KELVANE_FAILURE"
  else
    echo "$line" >&2
  fi
  return "$2"
}

apt_install() {
  local what=$1 log status=0 codename
  shift
  apt_update
  log=$(mktemp)
  apt_get_install "$log" "$@" || status=$?
  if [ $status -ne 0 ] && [ -n "$apt_unread" ] &&
    grep -qE 'held broken packages|Unable to correct problems|Unmet dependencies' "$log"; then
    codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
    echo "note: the packages could not be resolved without $(apt_unread_names), so they come" \
      "from $codename's own suite (apt-get install -t $codename); their security updates come" \
      "with the next run of apt-get upgrade"
    status=0
    apt_get_install "$log" -t "$codename" "$@" || status=$?
    [ $status -eq 0 ] || apt_fail "$what" $status "apt-get could not read $(apt_unread_names);" \
      "the mirror may be mid-sync: run the same command again later" || true
  fi
  rm -f "$log"
  return $status
}
