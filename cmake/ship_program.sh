#!/bin/sh
# Makes a linked Windows program what users download: its symbols go to NAME.dbg beside it, the
# program is stripped and points at them (debug link). objcopy stamps each file it writes with
# the current time, and the header checksum covers that stamp: both are zeroed (Windows checks
# the checksum of drivers only), so that the same sources give the same bytes.
#   ship_program.sh OBJCOPY PROGRAM.exe
set -eu
objcopy=$1 program=$2
dir=$(dirname "$program") name=$(basename "$program" .exe)
cd "$dir"
unstamp() {  # FILE: zero the COFF header's time stamp and the optional header's checksum
  pe=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
  for at in $((pe + 8)) $((pe + 24 + 64)); do
    printf '\000\000\000\000' | dd of="$1" bs=1 seek="$at" conv=notrunc 2>/dev/null
  done
}
"$objcopy" --only-keep-debug "$name.exe" "$name.dbg"
unstamp "$name.dbg"
"$objcopy" --strip-all --add-gnu-debuglink="$name.dbg" "$name.exe"
unstamp "$name.exe"
