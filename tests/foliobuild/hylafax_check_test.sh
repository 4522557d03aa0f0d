#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Copyright 2026 The Folioset developers
# The fax files as a HylaFAX server sees them: its tiffcheck passes the TIFF
# unchanged ("OK") at its defaults for 98 lines per inch and with -r 196 for
# fine pages, for each coding with its coding option (1-D -1, 2-D -2, G4 -3);
# faxinfo counts the pages and calls normal pages Normal. A4, Letter and Legal
# pages pass at their paper's length. The tools are taken
# from Debian's packages, downloaded and unpacked into the build tree (not
# installed); without them (no network) the test is skipped.
set -u
dir="$1"
hylafax="$2" # where the unpacked packages are kept between runs
rm -rf "$dir" && mkdir -p "$dir"
bin="$hylafax/root/usr/lib/hylafax/bin"
if [ ! -x "$bin/tiffcheck" ] || [ ! -x "$bin/faxinfo" ]; then
  rm -rf "$hylafax" && mkdir -p "$hylafax"
  if ! (cd "$hylafax" && timeout 300 apt-get download hylafax-server hylafax-client >download.log 2>&1); then
    echo "SKIP: cannot download hylafax-server and hylafax-client (no network?):"
    tail -2 "$hylafax/download.log"
    exit 77
  fi
  for deb in "$hylafax"/*.deb; do dpkg-deb -x "$deb" "$hylafax/root" || exit 1; done
fi
export LD_LIBRARY_PATH="$hylafax/root/usr/lib/hylafax${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
# Unpacked binaries that cannot run here (another system's libraries).
"$bin/faxinfo" /dev/null >/dev/null 2>&1
if [ $? -ge 126 ]; then echo "SKIP: HylaFAX's tools do not run on this system"; exit 77; fi
fail=0

{ echo "A fax of three pages"; echo "@CONVERT:PAGEBREAK"; echo "Page two";
  echo "@CONVERT:PAGEBREAK"; echo "Page three"; } > "$dir/doc.fax"
for res in normal fine; do
  for coding in "g3 -1" "g3-2d -2" "g4 -3"; do
    set -- $coding
    tif="$dir/$res-$1.tif"
    "$FOLIOBUILD" --$1 --resolution $res "$dir/doc.fax" "$tif" || { echo "FAIL: build $tif"; fail=1; continue; }
    # tiffcheck's default is 98 lines per inch: fine pages are checked at 196.
    vres=""; [ $res = fine ] && vres="-r 196"
    verdict=$("$bin/tiffcheck" $2 $vres "$tif" 2>&1)
    [ "$(printf '%s\n' "$verdict" | head -1)" = OK ] ||
      { echo "FAIL: tiffcheck $2 $vres $res-$1: $verdict"; fail=1; }
    info=$("$bin/faxinfo" "$tif" 2>/dev/null)
    case "$info" in *"Pages: 3"*) ;; *) echo "FAIL: faxinfo $res-$1: $info"; fail=1 ;; esac
    # faxinfo calls every file not written by HylaFAX itself Normal (it
    # says so of efax's fine pages too), so only normal pages are checked.
    if [ $res = normal ]; then
      case "$info" in *"Quality: Normal"*) ;; *) echo "FAIL: faxinfo $res-$1: $info"; fail=1 ;; esac
    fi
  done
done
# Pages of real paper pass at that paper's length (-l, in mm; A4 297 is
# tiffcheck's default), at both resolutions; the default page's 2200 rows
# are longer than Letter, which tiffcheck would have cut to size.
printf '@CONVERT:PAGE=%s\nA page\n@CONVERT:PAGEBREAK\nAnother\n' A4 > "$dir/a4.fax"
printf '@CONVERT:PAGE=%s\nA page\n@CONVERT:PAGEBREAK\nAnother\n' Letter > "$dir/letter.fax"
for paper in "a4 297" "letter 279" "legal 356"; do
  set -- $paper
  for res in normal fine; do
    tif="$dir/$1-$res.tif"
    if [ $1 = legal ]; then  # the option in place of the command
      "$FOLIOBUILD" --page legal --resolution $res "$dir/doc.fax" "$tif"
    else
      "$FOLIOBUILD" --resolution $res "$dir/$1.fax" "$tif"
    fi || { echo "FAIL: build $tif"; fail=1; continue; }
    vres=""; [ $res = fine ] && vres="-r 196"
    verdict=$("$bin/tiffcheck" -1 -l $2 $vres "$tif" 2>&1)
    [ "$(printf '%s\n' "$verdict" | head -1)" = OK ] ||
      { echo "FAIL: tiffcheck -1 -l $2 $vres $1-$res: $verdict"; fail=1; }
  done
done
verdict=$("$bin/tiffcheck" -1 -l 279 "$dir/normal-g3.tif" 2>&1)
[ "$(printf '%s\n' "$verdict" | head -1)" = RESIZE ] ||
  { echo "FAIL: the default page is not too long for Letter: $verdict"; fail=1; }

# At its defaults tiffcheck asks for fine pages to be made normal: the reason
# for --resolution normal.
verdict=$("$bin/tiffcheck" -1 "$dir/fine-g3.tif" 2>&1)
[ "$(printf '%s\n' "$verdict" | head -1)" = REVRES ] || { echo "FAIL: fine pages not REVRES: $verdict"; fail=1; }

if [ $fail = 0 ]; then echo "HylaFAX tiffcheck and faxinfo: all passed"; fi
exit $fail
