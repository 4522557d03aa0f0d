#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Copyright 2026 The Folioset developers
# What the spool takes and when: a file still open for writing (found at
# start or written slowly in pieces while it runs) is not taken before its
# writer closes it; dot names are left alone; a second macro of a name in
# use gets a name of its own; a second service on the same folder is
# refused; a fax that cannot be written (file size limit, as a full disk)
# keeps its macro in work/ for the next run, or, while the service runs and
# builds the others, for its next try; SIGIO (a lease break) does not end it.
set -u
dir="$1"
rm -rf "$dir" && mkdir -p "$dir/spool/in" "$dir/ref"
cd "$dir" || exit 1
fail=0
bad() { echo "FAIL: $*"; fail=1; }
# Waits (at most half a minute) for a file to appear.
wait_file() {
  for _ in $(seq 1 300); do [ -e "$1" ] && return 0; sleep 0.1; done
  bad "$1 did not appear"; return 1
}
# Drops a complete macro and waits for the spool to finish it: the spool has
# then seen every event that came before.
n=0
sync_spool() {
  n=$((n + 1))
  printf 'Marker %s\n' $n > spool/in/.marker$n.fax && mv spool/in/.marker$n.fax spool/in/marker$n.fax
  wait_file spool/done/marker$n.fax
}
piece() { for j in $(seq 1 40); do echo "$1 line $j, written while the spool runs"; done; }

# A file half written when the service starts.
exec 3> spool/in/early.fax
piece early1 >&3
# Not inheriting the writer's descriptor, which would keep the file open.
"$FOLIOBUILD" --spool spool -j 2 2> spool.log 3>&- &
pid=$!
sync_spool
[ -e spool/in/early.fax ] || bad "a file open for writing at start was taken"

# A file written in three pieces while it runs.
exec 4> spool/in/slow.fax
for p in 1 2 3; do
  piece slow$p >&4
  piece early$((p + 1)) >&3
  sync_spool
  [ -e spool/in/slow.fax ] || bad "slow.fax taken after piece $p of 3"
  [ -e spool/in/early.fax ] || bad "early.fax taken after piece $((p + 1)) of 4"
done
exec 3>&- 4>&-
wait_file spool/done/early.fax && wait_file spool/done/slow.fax
# The look for writers takes a lease, whose break (a client opening the
# macro for writing meanwhile) signals SIGIO: it must not end the service.
kill -IO "$pid"
sync_spool
kill -0 "$pid" 2>/dev/null || bad "SIGIO ended the spool"
{ piece early1; piece early2; piece early3; piece early4; } > ref/early.fax
{ piece slow1; piece slow2; piece slow3; } > ref/slow.fax
for m in early slow; do
  cmp -s ref/$m.fax spool/done/$m.fax || bad "$m.fax changed"
  "$FOLIOBUILD" ref/$m.fax ref/$m.tif
  cmp -s ref/$m.tif spool/out/$m.tif || bad "$m.tif is not the fax of the whole macro"
done

# Dot names stay; the same name twice gives two faxes.
printf 'Hidden\n' > spool/in/.hidden.fax
printf 'First\n' > spool/in/dup.fax
wait_file spool/done/dup.fax
printf 'Second\n' > spool/in/dup.fax
wait_file spool/done/dup-2.fax
grep -q Second spool/done/dup-2.fax && grep -q First spool/done/dup.fax || bad "dup.fax mixed up"
[ -s spool/out/dup.tif ] && [ -s spool/out/dup-2.tif ] || bad "dup.tif or dup-2.tif missing"
cmp -s spool/out/dup.tif spool/out/dup-2.tif && bad "the second dup.fax replaced the first"

"$FOLIOBUILD" --spool spool --once 2> second.log
[ $? = 1 ] && grep -q "another spool is running" second.log || bad "a second service was not refused"

kill -TERM $pid; wait $pid; status=$?
[ $status = 0 ] || bad "SIGTERM: exit status $status"
[ -e spool/in/.hidden.fax ] || bad ".hidden.fax was taken"

# A fax over the file size limit (a soft one, which prlimit may lift later)
# cannot be written: the macro waits in work/.
{ for p in 1 2 3 4 5 6; do piece big$p; echo "@CONVERT:PAGEBREAK"; done; } > spool/in/big.fax
(ulimit -S -f 64; exec "$FOLIOBUILD" --spool spool --once 2> limited.log)
[ $? = 1 ] || bad "--once with a fax kept back: exit status not 1"
grep -q "big.fax: 7 pages, .*not written: .*cannot write the fax file.*kept in work/" limited.log ||
  bad "no log line for big.fax: $(cat limited.log)"
[ -e spool/work/big.fax ] || bad "big.fax not kept in work/"
[ -z "$(ls -A spool/out | grep big)" ] || bad "a part of big.tif is in out/: $(ls -A spool/out)"
"$FOLIOBUILD" --spool spool --once 2>> spool.log || bad "big.fax not built on the next run"
[ -e spool/done/big.fax ] && tiffinfo -D spool/out/big.tif > /dev/null 2>&1 || bad "big.tif not written"
[ -z "$(ls -A spool/work)" ] || bad "left in work/: $(ls -A spool/work)"

# The same while the service runs: the others go on; once the limit is
# lifted the kept macro is built on its next try.
(ulimit -S -f 64; exec "$FOLIOBUILD" --spool spool 2> running.log) &
pid=$!
{ for p in 1 2 3 4 5 6; do piece big$p; echo "@CONVERT:PAGEBREAK"; done; } > spool/in/big2.fax
for _ in $(seq 1 300); do grep -q "big2.fax.*kept in work/" running.log && break; sleep 0.1; done
sync_spool
[ -e spool/work/big2.fax ] || bad "big2.fax not kept in work/"
prlimit --pid $pid --fsize=unlimited
wait_file spool/done/big2.fax
kill -TERM $pid; wait $pid || bad "the service under a size limit did not end cleanly"

if [ $fail = 0 ]; then echo "spool intake: all passed"; else cat spool.log; fi
exit $fail
