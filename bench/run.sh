#!/usr/bin/env bash
# Times karvel and the numpy + scipy pipeline side by side on the same
# generated files and prints the ratio per case.
#
#   bash bench/run.sh             2000 x 1000 and 5000 x 1000 cases
#   bash bench/run.sh --smoke     tiny cases, to check that the script works
#   REPEAT=5 bash bench/run.sh    best of five runs (default three)
#   BASELINE=/path/to/karvel bash bench/run.sh
#                                 also times another karvel build (an older
#                                 commit, say) on the same files, alternating
#                                 with this one, and checks that both write
#                                 the same bytes
#
# Environment: KARVEL_THREADS is passed through to karvel. The Python side
# needs numpy and scipy (Debian: python3-numpy python3-scipy); without them
# only karvel is timed.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${BUILD_DIR:-$root/build}
repeat=${REPEAT:-3}
sizes=("2000 1000" "5000 1000")
if [ "${1:-}" = "--smoke" ]; then sizes=("50 20"); repeat=1; fi

cmake -S "$root" -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target karvel karvel_gen >/dev/null
karvel=$build/driver/karvel
gen=$build/bench/karvel_gen

python=""
for candidate in /usr/bin/python3 python3; do
  if command -v "$candidate" >/dev/null && "$candidate" -c 'import numpy, scipy' 2>/dev/null; then
    python=$candidate
    break
  fi
done
[ -n "$python" ] || echo "numpy/scipy not found (Debian: apt-get install python3-numpy python3-scipy): timing karvel only"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Best wall time of $repeat runs of a command that writes the file $1, in
# seconds.
best_of() {
  local output=$1 best="" start end t
  shift
  for _ in $(seq "$repeat"); do
    # Every run writes a new file: replacing the previous run's output would
    # also time the file system freeing it. Dirty pages of earlier runs are
    # written back first, outside the timing.
    rm -f "$output"
    sync
    start=$(date +%s%N)
    "$@" >/dev/null
    end=$(date +%s%N)
    t=$(( end - start ))
    if [ -z "$best" ] || [ "$t" -lt "$best" ]; then best=$t; fi
  done
  rm -f "$output"
  awk -v ns="$best" 'BEGIN { printf "%.3f", ns / 1e9 }'
}

# name | kind | karvel options | scipy metric
cases=(
  "euclidean|real|-e|euclidean"
  "bray-curtis|real|-b|braycurtis"
  "canberra|real|-c|canberra"
  "pearson|real|-p|correlation"
  "jaccard|binary|-B -i|jaccard"
  "matching|dna|-D -m|hamming"
)

baseline=${BASELINE:-}
if [ -n "$baseline" ]; then
  printf '%-12s %-12s %10s %10s %8s\n' case size karvel_s baseline_s ratio
else
  printf '%-12s %-12s %10s %10s %8s\n' case size karvel_s python_s ratio
fi
for size in "${sizes[@]}"; do
  read -r ntax nchar <<<"$size"
  for kind in real binary dna; do
    "$gen" "$kind" "$ntax" "$nchar" 42 >"$work/$kind-$ntax.phy"
  done
  for entry in "${cases[@]}"; do
    IFS='|' read -r name kind options metric <<<"$entry"
    input=$work/$kind-$ntax.phy
    # shellcheck disable=SC2086
    k=$(best_of "$work/out-k" sh -c "\"$karvel\" $options \"$input\" > \"$work/out-k\"")
    p="-" ratio="-"
    if [ -n "$baseline" ]; then
      # shellcheck disable=SC2086
      "$karvel" $options "$input" >"$work/same-k"
      # shellcheck disable=SC2086
      "$baseline" $options "$input" >"$work/same-b"
      cmp -s "$work/same-k" "$work/same-b" || { echo "$name: the two builds write different bytes" >&2; exit 1; }
      rm -f "$work/same-k" "$work/same-b"
      # Alternate the two, so that a busy moment of the machine hits both.
      k=$(best_of "$work/out-k" sh -c "\"$karvel\" $options \"$input\" > \"$work/out-k\"")
      p=$(best_of "$work/out-b" sh -c "\"$baseline\" $options \"$input\" > \"$work/out-b\"")
      k2=$(best_of "$work/out-k" sh -c "\"$karvel\" $options \"$input\" > \"$work/out-k\"")
      p2=$(best_of "$work/out-b" sh -c "\"$baseline\" $options \"$input\" > \"$work/out-b\"")
      k=$(awk -v a="$k" -v b="$k2" 'BEGIN { printf "%.3f", (a < b ? a : b) }')
      p=$(awk -v a="$p" -v b="$p2" 'BEGIN { printf "%.3f", (a < b ? a : b) }')
      ratio=$(awk -v a="$p" -v b="$k" 'BEGIN { printf "%.2fx", (b > 0 ? a / b : 0) }')
    elif [ -n "$python" ]; then
      p=$(best_of "$work/out-p" "$python" "$here/pipeline.py" "$metric" "$kind" "$input" "$work/out-p")
      ratio=$(awk -v a="$p" -v b="$k" 'BEGIN { printf "%.1fx", (b > 0 ? a / b : 0) }')
    fi
    printf '%-12s %-12s %10s %10s %8s\n' "$name" "${ntax}x${nchar}" "$k" "$p" "$ratio"
  done
done
