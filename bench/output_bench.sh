#!/usr/bin/env bash
# Times the output layouts on one distance matrix: the whole run, and the
# writing alone, which is the run less the same run writing only the labels
# (-L reads and computes the same distances, then writes a few bytes; on a
# busy machine that difference is noise, and bench/write_bench.cpp, which
# times the writers alone, says more).
#
#   bash bench/output_bench.sh             2000 x 1000 continuous characters
#   bash bench/output_bench.sh 500 200     another size
#   REPEAT=7 bash bench/output_bench.sh    best of seven runs (default five)
#
# KARVEL_THREADS is passed through to karvel. Files are written to a scratch
# folder on the disk that holds $TMPDIR.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${BUILD_DIR:-$root/build}
repeat=${REPEAT:-5}
ntax=${1:-2000}
nchar=${2:-1000}

cmake -S "$root" -B "$build" -G Ninja -DKARVEL_BUILD_BENCH=ON >/dev/null
cmake --build "$build" --target karvel karvel_gen >/dev/null
karvel=$build/driver/karvel
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/bench/karvel_gen" real "$ntax" "$nchar" 42 >"$work/in.phy"

# Best wall time in seconds of $repeat runs of karvel with the options
# given, writing to $work/out (standard output or --output alike).
best_of() {
  local best="" start end t
  for _ in $(seq "$repeat"); do
    rm -f "$work"/out*
    sync
    start=$(date +%s%N)
    "$karvel" "$@" "$work/in.phy" >"$work/out"
    end=$(date +%s%N)
    t=$((end - start))
    if [ -z "$best" ] || [ "$t" -lt "$best" ]; then best=$t; fi
  done
  echo "$best"
}

base=$(best_of -L)
printf '%-16s %10s %10s %12s %10s %10s\n' layout run_s write_s bytes "run vs -X" "write vs -X"
text_write="" text_run=""
for layout in "-X" "--to=npy" "--to=npy-condensed" "--to=hdf5"; do
  options=("$layout")
  [ "$layout" = "-X" ] || options+=("--output=$work/out.bin")
  if ! "$karvel" "${options[@]}" "$work/in.phy" >"$work/out" 2>"$work/err"; then
    printf '%-16s %s\n' "$layout" "$(head -1 "$work/err")"
    continue
  fi
  bytes=$(cat "$work"/out* | wc -c)
  t=$(best_of "${options[@]}")
  write=$((t > base ? t - base : 0))
  [ -n "$text_write" ] || text_write=$write
  [ -n "$text_run" ] || text_run=$t
  printf '%-16s %10s %10s %12s %10s %10s\n' "$layout" \
    "$(awk -v t="$t" 'BEGIN { printf "%.3f", t / 1e9 }')" \
    "$(awk -v t="$write" 'BEGIN { printf "%.3f", t / 1e9 }')" "$bytes" \
    "$(awk -v a="$text_run" -v b="$t" 'BEGIN { printf "%.1fx", a / b }')" \
    "$(awk -v a="$text_write" -v b="$write" 'BEGIN { if (b > 0) printf "%.1fx", a / b; else printf "-" }')"
done
printf '%-16s %10s   (reading and distances, the base of the write times)\n' "-L" \
  "$(awk -v t="$base" 'BEGIN { printf "%.3f", t / 1e9 }')"
