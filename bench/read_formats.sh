#!/usr/bin/env bash
# Times the reader alone on one generated matrix written as extended PHYLIP,
# CSV and TSV, plain and gzip-compressed, and prints each time beside the
# PHYLIP one.
#
#   bash bench/read_formats.sh              2000 x 1000 real numbers
#   NTAX=500 NCHAR=200 bash bench/read_formats.sh
#   KIND=dna bash bench/read_formats.sh     one symbol per cell (-D)
#   REPEAT=5 ROUNDS=4 bash bench/read_formats.sh
#                                           best of five reads in each of
#                                           four rounds (default 3 and 3)
#
# Environment: KARVEL_THREADS is passed through.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${BUILD_DIR:-$root/build}
repeat=${REPEAT:-3}
rounds=${ROUNDS:-3}
ntax=${NTAX:-2000}
nchar=${NCHAR:-1000}
kind=${KIND:-real}
mode=""
[ "$kind" = real ] || mode=discrete

cmake -S "$root" -B "$build" -G Ninja -DKARVEL_BUILD_BENCH=ON >/dev/null
cmake --build "$build" --target karvel_gen karvel_read_bench >/dev/null
gen=$build/bench/karvel_gen
bench=$build/bench/karvel_read_bench

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for layout in phylip csv tsv; do
  "$gen" "$kind" "$ntax" "$nchar" 42 "$layout" >"$work/m.$layout"
  gzip -c "$work/m.$layout" >"$work/m.$layout.gz"
done

# The files take turns, round after round, so that a busy moment of the
# machine hits all of them; each keeps its best time.
files=(m.phylip m.csv m.tsv m.phylip.gz m.csv.gz m.tsv.gz)
declare -A best
for _ in $(seq "$rounds"); do
  for file in "${files[@]}"; do
    layout=${file#m.}
    layout=${layout%.gz}
    [ "$layout" = phylip ] && layout=extended
    read -r seconds values < <("$bench" "$layout" "$work/$file" "$repeat" $mode)
    [ "$values" = $((ntax * nchar)) ] || { echo "$file: read $values values, not $((ntax * nchar))" >&2; exit 1; }
    if [ -z "${best[$file]:-}" ] || awk -v a="$seconds" -v b="${best[$file]}" 'BEGIN { exit !(a < b) }'; then
      best[$file]=$seconds
    fi
  done
done
printf '%-14s %10s %10s %8s\n' input bytes seconds ratio
for file in "${files[@]}"; do
  ratio=$(awk -v a="${best[$file]}" -v b="${best[m.phylip]}" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }')
  printf '%-14s %10s %10s %8s\n' "$file" "$(stat -c %s "$work/$file")" "${best[$file]}" "$ratio"
done
