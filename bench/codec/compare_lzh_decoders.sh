#!/bin/sh
# Times the block decoder against libarchive (bsdtar), lhasa and 7-Zip on the
# same lh5 streams: 16 MiB each of text, machine code and settings-like data,
# packed by jlha (one stream per file, so process start-up is small against
# the work), then decoded to /dev/null by each program. Reports hyperfine's
# wall and user times (medians with --export-markdown) and the load average
# at the start, since the whole process is timed.
#   bench/codec/compare_lzh_decoders.sh BUILD_DIR [KIND...]
# KIND is text, code or settings (all three by default). Needs jlha
# (jlha-utils), bsdtar (libarchive-tools), hyperfine and python3; lhasa and
# 7z are timed when installed.
set -eu
build="$1"
shift
kinds="${*:-text code settings}"
tool="$(cd "$build" && pwd)/bin/bench_lzh_decode"
for program in jlha bsdtar hyperfine python3; do
  command -v "$program" >/dev/null || { echo "$program not found" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
echo "load average at start: $(cut -d' ' -f1-3 /proc/loadavg)"
for kind in $kinds; do
  "$tool" make "$kind" 16777216 "$kind.bin"
  jlha c0 "$kind.lzh" "$kind.bin" >/dev/null
  "$tool" decode "$kind.lzh" | cmp -s - "$kind.bin" || { echo "$kind: decoded bytes differ" >&2; exit 1; }
  bsdtar -xOf "$kind.lzh" | cmp -s - "$kind.bin" || { echo "$kind: bsdtar's bytes differ" >&2; exit 1; }
  set -- "$tool decode $kind.lzh" "bsdtar -xOf $kind.lzh"
  command -v lhasa >/dev/null && set -- "$@" "lhasa pq $kind.lzh"
  command -v 7z >/dev/null && set -- "$@" "7z x -so $kind.lzh"
  hyperfine -N -w 2 -r 15 --output=null --export-json "$kind.json" "$@" >/dev/null
  python3 - "$kind" "$kind.json" <<'REPORT'
import json, sys
results = json.load(open(sys.argv[2]))["results"]
ours = results[0]["median"]
print(f"{sys.argv[1]}:")
for r in results:
    print(f"  {r['command'].split('/')[-1]:40} median {r['median'] * 1e3:7.1f} ms  user {r['user'] * 1e3:6.1f} ms"
          f"  system {r['system'] * 1e3:5.1f} ms  {r['median'] / ours:5.2f} x ours")
REPORT
done
