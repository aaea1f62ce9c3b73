#!/bin/sh
# Times the block decoder against lhasa and 7-Zip on the same lh5 streams:
# 16 MiB each of text, machine code and settings-like data, packed by jlha
# (one stream per file, so process start-up is small against the work), then
# decoded to /dev/null by each program. Reports hyperfine's wall and user times.
#   bench/codec/compare_lzh_decoders.sh BUILD_DIR
set -eu
build="$1"
tool="$(cd "$build" && pwd)/bin/bench_lzh_decode"
for program in jlha lhasa 7z hyperfine; do
  command -v "$program" >/dev/null || { echo "$program not found" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
for kind in text code settings; do
  "$tool" make "$kind" 16777216 "$kind.bin"
  jlha c0 "$kind.lzh" "$kind.bin" >/dev/null
  "$tool" decode "$kind.lzh" | cmp -s - "$kind.bin" || { echo "$kind: decoded bytes differ" >&2; exit 1; }
  hyperfine -N -w 1 -r 7 --output=null "$tool decode $kind.lzh" "lhasa pq $kind.lzh" "7z x -so $kind.lzh"
done
