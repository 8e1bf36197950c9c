#!/usr/bin/env bash
# Builds the fuzz targets (when needed) and runs each for SECONDS seconds on
# a copy of the seed corpus: the example files and the inputs of the
# end-to-end cases, each after an option line (fuzz/*_fuzz.cpp say what the
# line means). Nothing is written into the source tree but the build folder.
#
#   bash fuzz/run.sh [SECONDS]       default 60
#   FUZZ_TARGETS="read numbers" bash fuzz/run.sh 30
#   FUZZ_WORK=/tmp/f bash fuzz/run.sh 60    keep corpus and findings there
#
# Needs clang with libFuzzer (Debian: clang and libclang-rt-14-dev). Exits
# non-zero when a target finds a fault; the input that shows it is left in
# the work folder, and running the target on that file alone repeats it.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
seconds=${1:-60}
build=${BUILD_DIR:-$root/build-fuzz}
targets=${FUZZ_TARGETS:-read pipeline numbers}
work=${FUZZ_WORK:-$(mktemp -d /tmp/karvel-fuzz.XXXXXX)}
mkdir -p "$work"

CXX=${CXX:-clang++} cmake -S "$root" -B "$build" -G Ninja -DKARVEL_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DBUILD_TESTING=OFF -DKARVEL_BUILD_BENCH=OFF >/dev/null
# shellcheck disable=SC2046,SC2086
cmake --build "$build" --target $(printf 'karvel_fuzz_%s ' $targets) >/dev/null

# Seeds: every input file with the options its case uses and as discrete
# data; for the pipeline also as binary data (the reader target reads both
# alike). Files are named by their content, so the same seed is kept once.
seeds=$work/seeds
binary_seeds=$work/binary-seeds
mkdir -p "$seeds" "$binary_seeds"
add_seed() { # folder option-line file
  local tmp=$1/new
  { printf '%s\n' "$2"; cat "$3"; } >"$tmp"
  mv "$tmp" "$1/$(sha1sum "$tmp" | cut -c1-40)"
}
seed_file() { # option-line file
  add_seed "$seeds" "$1" "$2"
  add_seed "$seeds" D "$2"
  add_seed "$binary_seeds" B "$2"
}
for file in "$root"/examples/*; do seed_file "" "$file"; done
# Compressed seeds, read through a descriptor (option z): each compression
# whose tool is installed, one stream and two in a row.
for file in "$root"/examples/*; do
  for tool in gzip bzip2 xz zstd; do
    command -v "$tool" >/dev/null || continue
    "$tool" -c <"$file" >"$work/compressed"
    add_seed "$seeds" z "$work/compressed"
    cat "$work/compressed" "$work/compressed" >"$work/compressed2"
    add_seed "$seeds" zD "$work/compressed2"
  done
done
rm -f "$work/compressed" "$work/compressed2"
for case_dir in "$root"/tests/e2e/cases/*/; do
  options=$(grep -oE '(^|[[:space:]])-[0-9A-Za-z]\b' "$case_dir/cmd" | tr -d ' \t-' | tr -d '\n' || true)
  # The reader target's letters for the interleaved layouts.
  if grep -q -- '--from=phylip-interleaved' "$case_dir/cmd"; then options="${options}i"; fi
  if grep -q -- '--from=extended-interleaved' "$case_dir/cmd"; then options="${options}I"; fi
  # ... and for the tables that need a word of their own.
  if grep -q -- '--from=csv2' "$case_dir/cmd"; then options="${options};"; fi
  if grep -q -- '--labels=none' "$case_dir/cmd"; then options="${options}u"; fi
  if grep -q -- '--decimal=comma' "$case_dir/cmd"; then options="${options}c"; fi
  for file in "$case_dir"*; do
    name=$(basename "$file")
    if [ ! -f "$file" ] || [ "$name" = cmd ] || [ "${name#expected.}" != "$name" ]; then continue; fi
    seed_file "$options" "$file"
  done
done
# The number target reads its whole input as numbers: texts near the edges
# of the double range and of the eight-decimal rounding, and some that are
# no numbers.
numbers=$work/number-seeds
mkdir -p "$numbers"
n=0
for text in 0 -0 +3.25 .5 1. 1e 1e+ 12.345e-3 0.001953125 0.000000005 99999.999999995 4503599627370497.5 \
  9007199254740993 1e-310 2.4703282292062328e-324 2e-324 1.7976931348623157e308 1.7976931348623159e308 \
  1e400 123456789012345678901234567890 2147483647 -2147483648 2147483648 '  7 8' 'NA'; do
  printf '%s' "$text" >"$numbers/$n"
  n=$((n + 1))
done

status=0
for target in $targets; do
  corpus=$work/corpus-$target
  mkdir -p "$corpus" "$work/findings-$target"
  case $target in
  numbers) cp "$numbers"/* "$corpus"/ ;;
  pipeline) cp "$seeds"/* "$binary_seeds"/* "$corpus"/ ;;
  *) cp "$seeds"/* "$corpus"/ ;;
  esac
  log=$work/$target.log
  echo "== fuzz $target for ${seconds}s (corpus $corpus)"
  if "$build/fuzz/karvel_fuzz_$target" "$corpus" -max_total_time="$seconds" -max_len=4096 -timeout=30 \
      -rss_limit_mb=4096 -print_final_stats=1 -artifact_prefix="$work/findings-$target/" >"$log" 2>&1; then
    grep -E '^(Done|stat::number_of_executed_units|stat::new_units_added)' "$log" || true
  else
    status=1
    echo "!! $target found a fault; the log is $log, the input in $work/findings-$target/:"
    ls "$work/findings-$target"
    grep -m1 -A30 -E '^(==[0-9]+==ERROR|.*runtime error|.*the outcomes part|.*does not name|.*deadly signal)' "$log" ||
      tail -40 "$log"
  fi
done
exit $status
