#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Copyright 2026 The Folioset developers
# foliobuild's outputs other than a plain new file, all made in the test's
# folder: a named pipe, standard output ('-'), character device
# nodes with /dev/null's and /dev/full's numbers (root only), a folder, a
# block device node, a chain of links; and a run killed with SIGKILL in the
# middle of writing a 1,000-page document, which must leave nothing behind.
set -u
dir="$1"
rm -rf "$dir" && mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
fail=0
check() { # description, expected status, actual status
  if [ "$2" != "$3" ]; then echo "FAIL: $1 (status $3, expected $2)"; fail=1; fi
}
same() { # description, file, file
  cmp -s "$2" "$3" || { echo "FAIL: $1: $2 differs from $3"; fail=1; }
}
kind() { stat -c %F "$1" 2>/dev/null; }
is_kind() { # description, path, expected kind
  [ "$(kind "$2")" = "$3" ] || { echo "FAIL: $1: $2 is '$(kind "$2")', not '$3'"; fail=1; }
}
says() { # description, text, expected part
  case "$2" in *"$3"*) ;; *) echo "FAIL: $1: '$2' does not say '$3'"; fail=1 ;; esac
}

printf 'Hello\n@CONVERT:PAGEBREAK\nWorld\n' > "$dir/ok.fax"
"$FOLIOBUILD" "$dir/ok.fax" "$dir/plain.tif"; check "plain file" 0 $?

# A named pipe: the reader gets the very bytes of the plain file.
mkfifo "$dir/fifo"
cat "$dir/fifo" > "$dir/from-fifo.tif" &
reader=$!
"$FOLIOBUILD" "$dir/ok.fax" "$dir/fifo"; status=$?
check "named pipe" 0 $status
# A reader never reached would wait for ever.
[ $status = 0 ] && [ "$(kind "$dir/fifo")" = fifo ] || kill $reader 2>/dev/null
wait $reader
same "named pipe" "$dir/plain.tif" "$dir/from-fifo.tif"
is_kind "named pipe" "$dir/fifo" "fifo"

# Standard output, and nothing else on it.
"$FOLIOBUILD" "$dir/ok.fax" - > "$dir/stdout.tif"; check "standard output" 0 $?
same "standard output" "$dir/plain.tif" "$dir/stdout.tif"
"$FOLIOBUILD" "$dir/ok.fax" - | cat > "$dir/stdout-pipe.tif"; check "standard output pipe" 0 "${PIPESTATUS[0]}"
same "standard output pipe" "$dir/plain.tif" "$dir/stdout-pipe.tif"
err=$("$FOLIOBUILD" "$dir/ok.fax" - 2>&1 >&-); check "standard output closed" 1 $?
says "standard output closed" "$err" "standard output"

# A 1,000-page document, for a reader that leaves early and for the kill.
for i in $(seq 1000); do printf 'Page %d of the long document\n@CONVERT:PAGEBREAK\n' "$i"; done \
  > "$dir/long.fax"
# Regression: a reader that went away ended foliobuild by SIGPIPE (status
# 141) without a word; now it is a write error, exit 1, with the reason.
{ "$FOLIOBUILD" "$dir/long.fax" - 2> "$dir/epipe.err"; echo $? > "$dir/epipe.rc"; } | head -c 100 > /dev/null
check "reader gone" 1 "$(cat "$dir/epipe.rc")"
says "reader gone" "$(cat "$dir/epipe.err")" "Broken pipe"

# Regression: a device named as the output was replaced by a TIFF file.
if mknod "$dir/null" c 1 3 2>/dev/null && mknod "$dir/full" c 1 7 && mknod "$dir/block" b 7 0; then
  "$FOLIOBUILD" "$dir/ok.fax" "$dir/null"; check "null device" 0 $?
  is_kind "null device" "$dir/null" "character special file"
  err=$("$FOLIOBUILD" "$dir/ok.fax" "$dir/full" 2>&1); check "full device" 1 $?
  says "full device" "$err" "No space left on device"
  is_kind "full device" "$dir/full" "character special file"
  err=$("$FOLIOBUILD" "$dir/ok.fax" "$dir/block" 2>&1); check "block device" 1 $?
  says "block device" "$err" "block device"
  is_kind "block device" "$dir/block" "block special file"
else
  echo "note: device node cases skipped (mknod needs root)"
fi

# A folder: refused, untouched.
mkdir "$dir/folder" && touch "$dir/folder/inside"
err=$("$FOLIOBUILD" "$dir/ok.fax" "$dir/folder" 2>&1); check "folder" 1 $?
says "folder" "$err" "folder"
[ "$(ls "$dir/folder")" = inside ] || { echo "FAIL: folder changed"; fail=1; }

# A chain of links: the file at its end is replaced, the links stay links.
mkdir "$dir/sub" && echo old > "$dir/sub/real.tif"
ln -s link2 "$dir/link1" && ln -s sub/real.tif "$dir/link2"
"$FOLIOBUILD" "$dir/ok.fax" "$dir/link1"; check "link chain" 0 $?
is_kind "link chain" "$dir/link1" "symbolic link"
is_kind "link chain" "$dir/link2" "symbolic link"
same "link chain" "$dir/plain.tif" "$dir/sub/real.tif"
[ "$(ls "$dir/sub")" = real.tif ] || { echo "FAIL: debris beside the link's file: $(ls "$dir/sub")"; fail=1; }

# Regression: a run killed while writing left NAME.partXXXXXX for ever. Kill
# once the process holds a file in the folder open besides the macro (its
# document, partly written), a few times; then a run to the same name.
kill_dir="$dir/killed"
mkdir "$kill_dir" && cp "$dir/long.fax" "$kill_dir/"
caught=0
for attempt in 1 2 3 4 5 6 7 8; do
  "$FOLIOBUILD" "$kill_dir/long.fax" "$kill_dir/long.tif" &
  pid=$!
  while kill -0 $pid 2>/dev/null; do
    open=$(ls -l /proc/$pid/fd 2>/dev/null | grep -F -- "-> $kill_dir/" | grep -vF "long.fax")
    if [ -n "$open" ]; then
      kill -9 $pid 2>/dev/null && caught=$((caught + 1))
      break
    fi
  done
  wait $pid 2>/dev/null
  [ $caught -ge 3 ] && break
done
[ $caught -ge 1 ] || { echo "FAIL: the writer was never caught writing"; fail=1; }
left=$(ls "$kill_dir" | grep -vx -e long.fax -e long.tif)
[ -z "$left" ] || { echo "FAIL: a killed run left: $left"; fail=1; }
"$FOLIOBUILD" "$kill_dir/long.fax" "$kill_dir/long.tif"; check "run after the kill" 0 $?
[ "$(ls "$kill_dir" | tr '\n' ' ')" = "long.fax long.tif " ] ||
  { echo "FAIL: folder after the kill and a run: $(ls "$kill_dir" | tr '\n' ' ')"; fail=1; }

if [ $fail = 0 ]; then echo "foliobuild outputs: all passed"; fi
exit $fail
