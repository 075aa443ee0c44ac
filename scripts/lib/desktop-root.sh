#!/bin/bash
# desktop-root.sh - a Debian 13 ("trixie") root file system beside this machine's own system,
# so that a Debian 12 machine runs the desktop walks on GNOME 48 and Plasma 6 too. The root
# holds what `scripts/setup --tests` installs on Debian 13 (the build tools, Qt 6.8, the test
# desktops), is cached outside the clone and keyed by that package list: a changed list builds
# a new root, and the old one goes once the new one is ready.
#
# Usage (as root):
#   desktop-root.sh path              prints the root's folder, building it first when missing
#   desktop-root.sh run [--] CMD...   runs CMD as root inside it, in PID and mount namespaces of
#                                     its own (/proc, /sys, /dev, /dev/shm mounted for it only),
#                                     with the clone and the compiler cache at the same paths as
#                                     outside and the host's /tmp as its /tmp (X display numbers
#                                     and the rigs' session folders stay unique)
# Knobs: LUMORA_ROOT_CACHE   where roots live (/var/cache/lumora)
#        LUMORA_ROOT_MIRROR  the Debian archive (default: the first one in this machine's apt
#                            sources, else mmdebstrap's default)
#        LUMORA_ROOT_SEED    an existing trixie root to copy instead of downloading the base
#                            system (what it lacks is installed on top); for machines that
#                            keep one anyway
# Needs: mmdebstrap and debian-archive-keyring (scripts/setup --tests installs them on Debian
# 12), util-linux, about 4 GB free. Building takes about 4-6 minutes with a nearby archive.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
clone=$(cd "$here/../.." && pwd)
cache=${LUMORA_ROOT_CACHE:-/var/cache/lumora}
suite=trixie

die() { echo "desktop-root: $*" >&2; exit 2; }
[ "$(id -u)" = 0 ] || die "must run as root"

packages() {
  # What the walks use besides scripts/setup's list: sudo and locales for a newcomer's shell,
  # process tools, and the pictures library of the checks.
  { echo git ca-certificates sudo locales procps psmisc file python3-pil dbus-x11
    "$clone/scripts/setup" --list --tests --release 13; } | tr -s ' \n' '\n' | sed '/^$/d' | sort -u
}

host_mirror() {
  local f uri
  for f in /etc/apt/sources.list.d/*.sources /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -r "$f" ] || continue
    uri=$(awk '/^URIs:/ { for (i = 2; i <= NF; i++) print $i }
               /^deb[ \t]/ { for (i = 2; i <= NF; i++) if ($i ~ /^[a-z]+:\/\//) { print $i; break } }' "$f" |
          grep -E '/debian/?$' | head -1 || true)
    [ -n "$uri" ] && { echo "${uri%/}"; return 0; }
  done
  return 0
}

# in_root ROOT CMD...: CMD inside ROOT, with nothing left mounted or running afterwards.
in_root() {
  local r=$1; shift
  mkdir -p "$r$clone" "$r$cache/ccache" "$cache/ccache"
  cp -L /etc/resolv.conf "$r/etc/resolv.conf" 2>/dev/null || true
  unshare --mount --propagation private --pid --fork --kill-child -- /bin/bash -c '
    set -e
    r=$1 clone=$2 cache=$3; shift 3
    # The root as a mount point of its own: the rigs inside make "/" private for namespaces
    # of their own (unshare --mount-proc), which a plain folder does not allow.
    mount --bind "$r" "$r"
    mount -t proc proc "$r/proc"
    mount --rbind /sys "$r/sys"
    mount --rbind /dev "$r/dev"
    mount -t tmpfs -o mode=1777 shm "$r/dev/shm"
    mount --bind /tmp "$r/tmp"
    mount --bind "$clone" "$r$clone"
    mount --bind "$cache/ccache" "$r$cache/ccache"
    exec chroot "$r" /usr/bin/env -i HOME=/root TERM="${TERM:-dumb}" LANG=C.UTF-8 \
      PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
      CCACHE_DIR="$cache/ccache" CCACHE_BASEDIR="$clone" "$@"
  ' desktop-root "$r" "$clone" "$cache" "$@"
}

build_root() {
  local list key root partial seed mirror t0
  list=$(packages)
  key=$(printf '%s\n' "$suite" "$list" | sha256sum | cut -c1-12)
  root=$cache/roots/$suite-$key
  if [ -f "$root/etc/lumora-root-packages" ]; then
    echo "$root"
    return 0
  fi
  command -v mmdebstrap > /dev/null || die "mmdebstrap is not installed (scripts/setup --tests)"
  mkdir -p "$cache/roots"
  # One build at a time (two test runs may start together); the second finds it done.
  exec 9> "$cache/roots/.lock"
  flock 9
  if [ -f "$root/etc/lumora-root-packages" ]; then
    echo "$root"
    return 0
  fi
  partial=$root.partial
  rm -rf "$partial"
  t0=$(date +%s)
  seed=${LUMORA_ROOT_SEED:-}
  if [ -n "$seed" ] && grep -q '^13' "$seed/etc/debian_version" 2>/dev/null; then
    echo "desktop-root: copying $seed" >&2
    cp -a --reflink=auto "$seed" "$partial"
  else
    mirror=${LUMORA_ROOT_MIRROR:-$(host_mirror)}
    echo "desktop-root: creating a $suite root in $partial" >&2
    mmdebstrap --quiet --variant=apt --components=main --include=ca-certificates \
      --customize-hook='echo "APT::Install-Recommends \"false\";" > "$1/etc/apt/apt.conf.d/90no-recommends"' \
      "$suite" "$partial" ${mirror:+"$mirror"} >&2
  fi
  echo "desktop-root: installing $(echo "$list" | wc -l) packages and what they need" >&2
  # shellcheck disable=SC2086
  in_root "$partial" /bin/sh -c 'export DEBIAN_FRONTEND=noninteractive
    log=/var/log/lumora-root-apt.log
    { apt-get update -q && apt-get install -y -q --no-install-recommends "$@"; } > $log 2>&1 ||
      { tail -20 $log >&2; exit 1; }' sh $list >&2
  echo "$list" > "$partial/etc/lumora-root-packages"
  mv "$partial" "$root"
  # Roots of earlier package lists are this script's own: they go, so the cache stays one root.
  for old in "$cache/roots/$suite"-*; do
    [ "$old" = "$root" ] || rm -rf --one-file-system "$old"
  done
  echo "desktop-root: $root ready in $(( $(date +%s) - t0 )) s" >&2
  echo "$root"
}

cmd=${1:-}
[ $# -gt 0 ] && shift
case "$cmd" in
  path) build_root ;;
  run)
    [ "${1:-}" = "--" ] && shift
    [ $# -ge 1 ] || die "usage: $0 run [--] command [args...]"
    root=$(build_root)
    in_root "$root" "$@"
    ;;
  *) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 2 ;;
esac
