#!/bin/sh
# Times a TFD export through tolv, whole process, on one thread and on every
# core: a 4 MiB firmware (machine code, made by bench_lzh_decode) and the
# SystemID 406 into a TFD file, TOLV_THREADS=1 against the default (all
# cores). Checks that both write the same bytes, then reports the median wall
# time of 15 runs of each with the mean user and system times, the ratio of
# the medians, and the load average before and after (whole processes are
# timed on a machine that may be busy). The file goes to /dev/shm when there
# is one, so that the disk's flush is not part of the comparison.
#   bench/tfd/compare_tfd_export.sh BUILD_DIR [FIRMWARE_BYTES]
# Needs hyperfine and python3.
set -eu
build="$(cd "$1" && pwd)"
size="${2:-4194304}"
for program in hyperfine python3; do
  command -v "$program" >/dev/null || { echo "$program not found" >&2; exit 1; }
done
base=/tmp
[ -d /dev/shm ] && [ -w /dev/shm ] && base=/dev/shm
work=$(mktemp -d "$base/tolv-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
"$build/bin/bench_lzh_decode" make code "$size" firmware.bin
export_to() { echo "$build/bin/tolv convert firmware=firmware.bin --sysid 406 -o $1"; }
TOLV_THREADS=1 $(export_to one.tfd) >/dev/null
$(export_to all.tfd) >/dev/null
cmp one.tfd all.tfd || { echo "one thread and all cores wrote different files" >&2; exit 1; }
echo "firmware $size bytes, $(nproc) cores, load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
hyperfine -N -w 2 -r 15 --export-json times.json \
  -n "1 thread" "env TOLV_THREADS=1 $(export_to one.tfd)" -n "all cores" "$(export_to all.tfd)" >/dev/null
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
python3 - times.json <<'REPORT'
import json, sys
one, every = json.load(open(sys.argv[1]))["results"]
for r in (one, every):
    print(f"  {r['command']:10} median {r['median'] * 1e3:7.1f} ms  user {r['user'] * 1e3:6.1f} ms"
          f"  system {r['system'] * 1e3:5.1f} ms")
print(f"  all cores are {one['median'] / every['median']:.2f} times faster than 1 thread")
REPORT
