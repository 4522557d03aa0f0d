#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Copyright 2026 The Folioset developers
# Runs the README's test command and the Debian package build (checked with
# that release's lintian) inside a Debian 13 (trixie) chroot, as root. The
# chroot is made with debootstrap from the Debian archive this machine's apt
# already uses and is kept between runs while it is sane and under a week
# old. The tree (what git tracks or would add) is copied in afresh each
# run. /proc, /sys, /dev, /dev/shm and /dev/pts are mounted for the run and
# unmounted again however it ends (exit, failure or signal).
#   scripts/ci-trixie.sh             make the chroot if needed, test, package
#   scripts/ci-trixie.sh --prepare   only make the chroot and install the
#                                    build's packages in it (CI starts this
#                                    early, in the background: it mostly waits
#                                    on the network and the disk)
# FOLIO_TRIXIE_ROOT  where the chroot lives (default out/trixie in this tree)
# The packages end up in out/debs-trixie/. The package build skips its own
# run of the suite (DEB_BUILD_OPTIONS=nocheck): the same tree passed it in
# the same chroot just before.
set -euo pipefail
cd "$(dirname "$0")/.."
tree=$PWD

if [ "$(id -u)" -ne 0 ]; then
  echo "ci-trixie: needs root (debootstrap, chroot, mount)" >&2
  exit 1
fi

prepare=0
case "${1:-}" in
  "") ;;
  --prepare) prepare=1 ;;
  *) echo "usage: $0 [--prepare]" >&2; exit 2 ;;
esac

suite=trixie
root=${FOLIO_TRIXIE_ROOT:-$tree/out/trixie}
root=$(realpath -m "$root")
stamp=$root/.folioset-chroot-ready

say() { echo "ci-trixie: $*"; }

# "URI SUITE" for every enabled deb source of this machine, one-line and
# deb822 formats alike.
host_sources() {
  local f
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    awk '$1 == "deb" { i = 2; if ($i ~ /^\[/) { while (i < NF && $i !~ /\]$/) i++; i++ }
                        print $i, $(i + 1) }' "$f"
  done
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    awk 'BEGIN { RS = ""; FS = "\n" }
         { types = ""; uris = ""; suites = ""; enabled = "yes"
           for (i = 1; i <= NF; i++) {
             line = $i
             if (line ~ /^#/) continue
             key = tolower(line); sub(/:.*/, "", key)
             val = line; sub(/^[^:]*:[ \t]*/, "", val)
             if (key == "types") types = val
             else if (key == "uris") uris = val
             else if (key == "suites") suites = val
             else if (key == "enabled") enabled = tolower(val)
           }
           if (enabled == "no" || (" " types " ") !~ / deb /) next
           nu = split(uris, u, /[ \t]+/); ns = split(suites, s, /[ \t]+/)
           for (a = 1; a <= nu; a++) for (b = 1; b <= ns; b++)
             if (u[a] != "" && s[b] != "") print u[a], s[b] }' "$f"
  done
}

# The chroot's sources: the host's release suites renamed to trixie, from
# the same archives (main, updates and security where the host has them).
chroot_sources() {
  local host uri s
  host=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  [ -n "$host" ] || { echo "ci-trixie: no VERSION_CODENAME in /etc/os-release" >&2; return 1; }
  while read -r uri s; do
    case "$s" in
      "$host") echo "deb $uri $suite main" ;;
      "$host-updates") echo "deb $uri $suite-updates main" ;;
      "$host-security" | "$host/updates") echo "deb $uri $suite-security main" ;;
    esac
  done < <(host_sources) | awk '!seen[$0]++'
}

mirror=$(chroot_sources | awk -v s="$suite" '$3 == s { print $2; exit }')
if [ -z "$mirror" ]; then
  echo "ci-trixie: found no Debian archive in this machine's apt sources" >&2
  exit 1
fi
say "mirror $mirror, chroot $root"

mounted_under_root() { awk -v r="$root/" 'index($2, r) == 1 { found = 1 } END { exit !found }' /proc/self/mounts; }

# Mount points, innermost last; unmounted in reverse order at exit.
mounts=()
cleanup() {
  local i m
  for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do
    m=${mounts[i]}
    mountpoint -q "$m" || continue
    umount "$m" 2>/dev/null || umount -l "$m" || echo "ci-trixie: could not unmount $m" >&2
  done
  mounts=()
}
trap cleanup EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM

sane() {
  [ -f "$stamp" ] && [ -n "$(find "$stamp" -mtime -7)" ] &&
    grep -q '^13' "$root/etc/debian_version" 2>/dev/null &&
    chroot "$root" /usr/bin/apt-get --version >/dev/null 2>&1
}

mkdir -p "$tree/out"
t0=$SECONDS
if ! sane; then
  if mounted_under_root; then
    echo "ci-trixie: something is still mounted under $root; not removing it" >&2
    exit 1
  fi
  rm -rf --one-file-system "$root"
  if ! command -v debootstrap >/dev/null; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap
  fi
  say "debootstrap $suite"
  debootstrap --variant=minbase --keyring=/usr/share/keyrings/debian-archive-keyring.gpg \
    "$suite" "$root" "$mirror" >"$tree/out/debootstrap-$suite.log" 2>&1 ||
    { tail -20 "$tree/out/debootstrap-$suite.log" >&2; exit 1; }
  chroot_sources >"$root/etc/apt/sources.list"
  touch "$stamp.new"
  NEW_CHROOT=1
fi
cp /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true

mnt() {
  local target=$1
  shift
  mounts+=("$target")
  mount "$@" "$target"
}
mnt "$root/proc" -t proc proc
mnt "$root/sys" -t sysfs sysfs
mnt "$root/dev" --bind /dev
mnt "$root/dev/shm" -t tmpfs -o mode=1777,nosuid,nodev shm
# Terminals for dpkg's and apt's logs.
mnt "$root/dev/pts" --bind /dev/pts

in_chroot() {
  env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME=/root \
    LANG=C.UTF-8 CI="${CI:-}" DEBIAN_FRONTEND=noninteractive TERM=dumb \
    chroot "$root" /bin/bash -c "$1"
}

if [ "${NEW_CHROOT:-0}" = 1 ]; then
  in_chroot 'apt-get update -qq && apt-get install -y -qq --no-install-recommends git >/dev/null'
  mv "$stamp.new" "$stamp"
fi
say "chroot ready after $((SECONDS - t0)) s"

# The tree to test: the files git knows or would add (none it ignores), as
# they are in the work tree; in a clean clone that is the commit. It becomes
# a repository of its own in the chroot (build-debs.sh copies what git lists).
rm -rf --one-file-system "$root/root/folioset"
mkdir -p "$root/root/folioset"
git ls-files -z --cached --others --exclude-standard |
  tar --null -T - --ignore-failed-read -cf - 2>/dev/null | tar -x -C "$root/root/folioset"
in_chroot 'cd /root/folioset && git init -q && git add -A &&
           git -c user.name=ci -c user.email=ci@localhost commit -qm tree'

if [ "$prepare" = 1 ]; then
  in_chroot 'cd /root/folioset && bash scripts/install-deps.sh >/dev/null'
  say "prepared in $((SECONDS - t0)) s"
  exit 0
fi

t1=$SECONDS
in_chroot 'cd /root/folioset && bash scripts/test.sh'
say "suite took $((SECONDS - t1)) s"

t2=$SECONDS
in_chroot 'cd /root/folioset && bash scripts/build-debs.sh --nocheck'
say "packages took $((SECONDS - t2)) s"
mkdir -p out/debs-trixie
rm -f out/debs-trixie/*
cp "$root/root/folioset/out/debs/"* out/debs-trixie/
say "done in $((SECONDS - t0)) s"
