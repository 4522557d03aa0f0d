#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Copyright 2026 The Folioset developers
# What folioset-server ships around its program: the man page's OPTIONS
# name every option --help names and no other, man formats the page
# without a warning (as lintian runs it), and the service's sandbox stays
# rated 2.0 or less by systemd-analyze security. A check whose tool is
# missing is skipped; with none left the test is skipped (77).
#   server_packaging_test.sh SERVER MANPAGE SERVICE SOCKET
set -u
server=$1 page=$2 service=$3 socket=$4
status=0 checked=0
fail() { echo "FAIL: $*"; status=1; }

# Options as --help lists them, and as the man page's OPTIONS section gives
# them in its item lines (the line after each .TP).
help_options=$("$server" --help 2>&1 | grep -o -- '--[a-z][a-z-]*' | sort -u)
page_options=$(awk '/^\.SH /{inside = ($2 == "OPTIONS")} inside && prev == ".TP" {print} {prev = $0}' \
                 "$page" | sed 's/\\-/-/g' | grep -o -- '--[a-z][a-z-]*' | sort -u)
if [ -z "$help_options" ]; then
  fail "$server --help names no option"
else
  checked=1
  while read -r missing; do
    [ -n "$missing" ] && fail "$missing: in --help, not in the man page's OPTIONS"
  done < <(comm -23 <(echo "$help_options") <(echo "$page_options"))
  while read -r extra; do
    [ -n "$extra" ] && fail "$extra: in the man page's OPTIONS, not in --help"
  done < <(comm -13 <(echo "$help_options") <(echo "$page_options"))
fi

if command -v man >/dev/null; then
  checked=1
  warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 \
               man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "man --warnings: $warnings"
else
  echo "skipped: no man"
fi

grep -q '^ExecStart=/' "$service" || fail "$service: ExecStart names no absolute program"
if command -v systemd-analyze >/dev/null; then
  checked=1
  # --offline rates the file itself, not what a running systemd loaded;
  # the threshold counts in tenths (20: an exposure of 2.0).
  report=$(cd "$(dirname "$service")" &&
           systemd-analyze security --offline=yes --threshold=20 "$(basename "$service")" 2>&1)
  rc=$?
  [ "$rc" = 0 ] || fail "systemd-analyze security: $(echo "$report" | tail -1)"
  # The socket unit is checked with the service it starts beside it.
  units=$(mktemp -d)
  cp "$socket" "$units/"
  cp "$service" "$units/$(basename "$socket" .socket).service"
  verify=$(cd "$units" && systemd-analyze verify --man=no ./"$(basename "$socket")" 2>&1)
  rm -rf "$units"
  [ -z "$verify" ] || fail "systemd-analyze verify $socket: $verify"
else
  echo "skipped: no systemd-analyze"
fi

[ "$checked" = 1 ] || exit 77
[ "$status" = 0 ] && echo "folioset-server: man page, options and units agree"
exit "$status"
