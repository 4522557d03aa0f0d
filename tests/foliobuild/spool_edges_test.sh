#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Copyright 2026 The Folioset developers
# The spool's edge cases: a PDF copy that cannot be written keeps its macro
# in work/ for a retry (never failed/); a name too long for the names made
# from it is shortened, uniquely, with a log line; --once exits 1 while a
# macro is left in in/; a hard link made in in/ while the service runs is
# taken at once, and a symbolic link, named pipe or folder goes to failed/
# at once with its reason, the service going on with the next macro; a
# claim that fails (a rename refused, as on a read-only remount) leaves its
# macro in in/ to be tried again after a wait, asleep, while the macros
# after it go through; --page applies to the spool's builds.
#   spool_edges_test.sh FOLDER FS_JOURNAL_SHIM
set -u
dir="$1"
shim="$2"
rm -rf "$dir" && mkdir -p "$dir/spool/in"
cd "$dir" || exit 1
fail=0
bad() { echo "FAIL: $*"; fail=1; }
wait_file() {
  for _ in $(seq 1 100); do [ -e "$1" ] && return 0; sleep 0.1; done
  bad "$1 did not appear within 10 s"; return 1
}

# A PDF copy blocked (a folder where the PDF goes, as a full or read-only
# PDF folder would refuse it): kept in work/, built once it can be written.
mkdir -p pdf/blocked.pdf
printf 'Archived\n' > spool/in/blocked.fax
"$FOLIOBUILD" --spool spool --once --pdf-dir pdf 2> pdf.log
[ $? = 1 ] || bad "--once with a PDF copy kept back: exit status not 1"
[ -e spool/work/blocked.fax ] || bad "blocked.fax not kept in work/: $(ls spool/*)"
grep -q "blocked.fax: .*PDF copy not written.*kept in work/" pdf.log || bad "no log line: $(cat pdf.log)"
rmdir pdf/blocked.pdf
"$FOLIOBUILD" --spool spool --once --pdf-dir pdf 2>> pdf.log || bad "blocked.fax not built on the next run"
[ -e spool/done/blocked.fax ] && [ -s pdf/blocked.pdf ] && [ -s spool/out/blocked.tif ] ||
  bad "blocked.fax not finished: $(ls spool/* pdf)"

# Names whose .err (and .tif) would not fit in 255 bytes.
long=$(printf 'c%.0s' $(seq 1 251))
printf 'Long one\n' > "spool/in/$long.fax"
printf 'Long two\n' > "spool/in/${long:0:250}d.fax"
"$FOLIOBUILD" --spool spool --once 2> long.log || bad "--once with long names: $(cat long.log)"
[ -z "$(ls spool/in)" ] || bad "left in in/: $(ls spool/in | cut -c1-20)"
[ "$(grep -c 'too long' long.log)" = 2 ] || bad "shortening not logged: $(cut -c1-40 long.log)"
[ "$(ls spool/done | grep -c '^ccc')" = 2 ] && [ "$(ls spool/out | grep -c '^ccc.*\.tif$')" = 2 ] ||
  bad "long names not both done: $(ls spool/done spool/out | cut -c1-20)"
for f in spool/done/ccc*; do [ ${#f} -le $((11 + 250)) ] || bad "a name longer than 250 bytes"; done

# --page reaches every build of the spool, as --resolution does.
printf 'Legal\n' > spool/in/legal.fax
"$FOLIOBUILD" --spool spool --once --page legal --resolution normal 2> page.log || bad "--page: $(cat page.log)"
case "$(tiffinfo spool/out/legal.tif 2>/dev/null)" in
  *"Image Length: 1369"*) ;; *) bad "--page legal in the spool: not 1369 rows" ;;
esac

# A macro left in in/ (still open for writing): --once says so.
exec 3> spool/in/open.fax
printf 'Half\n' >&3
"$FOLIOBUILD" --spool spool --once 2> open.log
[ $? = 1 ] || bad "--once with a macro left in in/: exit status not 1"
exec 3>&-
"$FOLIOBUILD" --spool spool --once 2>> open.log || bad "open.fax not built once closed"

# Made in in/ while the service runs: links, a pipe, a folder.
"$FOLIOBUILD" --spool spool 2> running.log &
pid=$!
wait_file spool/failed
sleep 0.3 # the watch is set after the folders are made
printf 'Linked\n' > linked.fax
ln linked.fax spool/in/linked.fax
wait_file spool/done/linked.fax
printf 'Outside\n' > target.fax
ln -s "$PWD/target.fax" spool/in/symlink.fax
mkfifo spool/in/pipe.fax
mkdir spool/in/folder.fax
for m in symlink pipe folder; do
  wait_file spool/failed/$m.fax.err
done
grep -q "a symbolic link" spool/failed/symlink.fax.err || bad "symlink reason: $(cat spool/failed/symlink.fax.err)"
grep -q "a named pipe" spool/failed/pipe.fax.err || bad "pipe reason: $(cat spool/failed/pipe.fax.err)"
grep -q "a folder" spool/failed/folder.fax.err || bad "folder reason: $(cat spool/failed/folder.fax.err)"
[ -L spool/failed/symlink.fax ] && [ -p spool/failed/pipe.fax ] && [ -d spool/failed/folder.fax ] ||
  bad "not moved as they are: $(ls -l spool/failed)"
printf 'After\n' > spool/in/after.fax
wait_file spool/done/after.fax
kill -TERM $pid; wait $pid || bad "the service did not end cleanly"
[ "$(cat target.fax)" = Outside ] || bad "the symbolic link's target changed"

# The first claim of stuck.fax refused; later.fax, dropped after it, is not
# held up, and stuck.fax is taken on the next try 5 s later.
ticks() { awk '{print $14 + $15}' /proc/$1/stat; }
asan=$(ldd "$FOLIOBUILD" | awk '$1 ~ /^libasan/ {print $3 ":"}')
FOLIO_FAIL_RENAME=stuck.fax:1 LD_PRELOAD="$asan$shim" "$FOLIOBUILD" --spool retry 2> retry.log &
pid=$!
wait_file retry/failed
sleep 0.3
printf 'Stuck for a moment\n' > retry/in/stuck.fax
sleep 0.3
printf 'Later\n' > retry/in/later.fax
wait_file retry/done/later.fax
[ -e retry/in/stuck.fax ] || bad "stuck.fax not left in in/: $(ls retry/*)"
before=$(ticks $pid)
wait_file retry/done/stuck.fax
used=$(($(ticks $pid) - before))
kill -TERM $pid; wait $pid || bad "the service with a refused claim did not end cleanly"
grep -q "stuck.fax: cannot move it to work/: .*tried again in 5 s" retry.log ||
  bad "no log line for the refused claim: $(cat retry.log)"
# One small build in the wait; a loop polling for the retry would burn it all.
[ "$used" -lt 100 ] || bad "the service used $used ticks of CPU while it waited"
[ -s retry/out/stuck.tif ] && [ -z "$(find retry/in retry/work -mindepth 1)" ] ||
  bad "stuck.fax not finished: $(ls retry/*)"

# The faxes written together share one sync of out/: when it fails, every
# job of that batch stays in work/ (none reaches done/ with its fax's name
# perhaps not on the disk), and the next run finishes them.
mkdir -p batch/in
for n in 1 2 3 4; do printf 'Page %s\n' $n > batch/in/b$n.fax; done
FOLIO_FAIL_SYNCDIR=out:1 LD_PRELOAD="$asan$shim" "$FOLIOBUILD" --spool batch --once -j 2 \
  2> batch.log && bad "a run with an unsynced out/ exited 0"
kept=$(grep -c "written, but cannot sync out/: .*kept in work/ for a retry" batch.log)
[ "$kept" -ge 1 ] && [ "$(ls batch/work | wc -l)" = "$kept" ] ||
  bad "the batch of the failed sync is not kept in work/: $(ls batch/*)"
"$FOLIOBUILD" --spool batch --once 2>> batch.log || bad "the retry of the kept batch failed"
[ "$(ls batch/done | tr '\n' ' ')" = "b1.fax b2.fax b3.fax b4.fax " ] &&
  [ "$(ls batch/out | tr '\n' ' ')" = "b1.tif b2.tif b3.tif b4.tif " ] &&
  [ -z "$(find batch/work batch/in -mindepth 1)" ] || bad "the kept batch not finished: $(ls batch/*)"

if [ $fail = 0 ]; then echo "spool edges: all passed"; else cat running.log retry.log batch.log; fi
exit $fail
