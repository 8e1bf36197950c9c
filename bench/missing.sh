#!/usr/bin/env bash
# The cost of missing values as a user meets it: the karvel program reads an
# NTAX x NCHAR csv table, computes the distances and writes an npy file, once
# for the complete table and once for the same table with a share of its
# cells NA (--missing=pairwise), alternating, best of REPEAT runs each.
#
#   bash bench/missing.sh                 5000 x 1000, 10 % missing
#   bash bench/missing.sh 2000 500 0.2    another size and share
#   bash bench/missing.sh --smoke         a tiny run, to check the script
#   FORMULAS="-e -b -s" REPEAT=5 bash bench/missing.sh
#
# The kernels alone: build/bench/karvel_kernel_bench missing NTAX NCHAR SHARE.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${BUILD_DIR:-$root/build}
repeat=${REPEAT:-3}
formulas=${FORMULAS:-"-e -b"}
if [ "${1:-}" = "--smoke" ]; then set -- 40 30 0.1; repeat=1; fi
ntax=${1:-5000} nchar=${2:-1000} share=${3:-0.1}
karvel=$build/driver/karvel
gen=$build/bench/karvel_gen
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$gen" real "$ntax" "$nchar" 1 csv >"$work/complete.csv"
# Every cell but the labels and the header becomes NA with probability SHARE
# (a fixed seed: the same cells on every run).
awk -F, -v OFS=, -v share="$share" 'BEGIN { srand(7) }
  NR > 1 { for (i = 2; i <= NF; ++i) if (rand() < share) $i = "NA" } { print }' \
  "$work/complete.csv" >"$work/missing.csv"

seconds() { # wall-clock seconds of one run of the command
  /usr/bin/time -o "$work/time" -f %e "$@" >/dev/null 2>&1
  tail -1 "$work/time"
}
smaller() { awk -v a="$1" -v b="$2" 'BEGIN { print (b == "" || a < b) ? a : b }'; }

echo "$ntax x $nchar csv, $share missing, npy out; $(nproc) CPUs, path ${KARVEL_SIMD:-widest}"
printf '%-8s %10s %10s %8s\n' formula complete missing ratio
for f in $formulas; do
  # Alternating, so that a change in the machine's load falls on both.
  c="" m=""
  for _ in $(seq "$repeat"); do
    c=$(smaller "$(seconds "$karvel" "$f" --from=csv --to=npy --output="$work/c.npy" "$work/complete.csv")" "$c")
    m=$(smaller "$(seconds "$karvel" "$f" --from=csv --missing=pairwise --to=npy --output="$work/m.npy" \
      "$work/missing.csv")" "$m")
  done
  printf '%-8s %9ss %9ss %7sx\n' "$f" "$c" "$m" "$(awk -v c="$c" -v m="$m" 'BEGIN { printf "%.2f", m / c }')"
done
