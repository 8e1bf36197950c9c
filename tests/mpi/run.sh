#!/usr/bin/env bash
# karvel_mpi on 1, 2 and 3 ranks writes the file karvel writes to standard
# output (or to --output, for the npy layouts, with their labels), for every
# layout and family, and karvel's warnings once; a failing pair leaves no
# file, the report of karvel (once) and status 1 on every rank. So does a
# rank that fails alone: the others must not wait for it.
#
#   run.sh KARVEL KARVEL_MPI KARVEL_GEN
set -uo pipefail
karvel=$1 karvel_mpi=$2 gen=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mpirun=(mpirun --oversubscribe -n)
[ "$(id -u)" = 0 ] && mpirun=(mpirun --allow-run-as-root --oversubscribe -n)
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

"$gen" real 101 13 5 >"$work/real.phy"
"$gen" binary 67 40 6 >"$work/binary.phy"
"$gen" dna 59 50 7 >"$work/dna.phy"
cat "$work/real.phy" "$work/real.phy" >"$work/two.phy"
# Two rows of zeros: Bray-Curtis fails between them.
awk 'NR == 1 { print; next } NR == 12 || NR == 40 { printf "%s", $1; for (i = 2; i <= NF; i++) printf " 0"; print ""; next } { print }' \
  "$work/real.phy" >"$work/zeros.phy"

# Damaged at its 30th line, once whole and once as the second of two.
awk 'NR == 30 { $3 = "x" $3 } { print }' "$work/real.phy" >"$work/bad.phy"
cat "$work/real.phy" "$work/bad.phy" >"$work/late.phy"
# Taxa 3 and 5 share a label; 7 and 8 share the ten columns of PHYLIP.
awk 'NR == 6 { $1 = "taxon_3" } NR == 8 { $1 = "long_label_a" } NR == 9 { $1 = "long_label_b" } { print }' \
  "$work/real.phy" >"$work/dup.phy"
head -n 3 "$work/real.phy" | awk 'NR == 1 { $1 = 2 } { print }' >"$work/two_taxa.phy"

# check NAME KARVEL-OPTIONS...: every rank count against one process (FEED:
# the file for standard input).
check() {
  local name=$1
  shift
  "$karvel" "$@" <"${FEED:-/dev/null}" >"$work/expected" 2>"$work/expected.err"
  local status=$?
  for ranks in 1 2 3; do
    rm -f "$work/out"
    "${mpirun[@]}" "$ranks" "$karvel_mpi" --output="$work/out" "$@" <"${FEED:-/dev/null}" >"$work/got.out" 2>"$work/got.err"
    local got=$?
    [ "$got" = "$status" ] || fail "$name, $ranks ranks: status $got, not $status"
    if [ "$status" = 0 ]; then
      cmp -s "$work/out" "$work/expected" || fail "$name, $ranks ranks: the file differs"
      cmp -s "$work/got.err" "$work/expected.err" || fail "$name, $ranks ranks: standard error: $(cat "$work/got.err")"
    else
      [ ! -e "$work/out" ] || fail "$name, $ranks ranks: a file was left"
      # mpirun adds its own notice of the status after what rank 0 wrote.
      head -c "$(stat -c %s "$work/expected.err")" "$work/got.err" | cmp -s - "$work/expected.err" ||
        fail "$name, $ranks ranks: $(cat "$work/got.err")"
      [ "$(grep -c -x -F "$(head -n 1 "$work/expected.err")" "$work/got.err")" = 1 ] || fail "$name, $ranks ranks: not reported once"
    fi
    [ ! -s "$work/got.out" ] || fail "$name, $ranks ranks: wrote to standard output"
    ls -A "$work" | grep -q -e '\.part-' -e '\.karvel-' && fail "$name, $ranks ranks: a temporary file was left"
  done
}

for layout in -X -P -N -E -O -T -L -R; do
  check "real $layout" -e "$layout" "$work/real.phy"
done
for layout in -X -O; do
  check "binary $layout" -B -i "$layout" "$work/binary.phy"
  check "dna $layout" -D -m "$layout" "$work/dna.phy"
  check "failing $layout" -b "$layout" "$work/zeros.phy"
done
# Beyond the memory budget: blocks of a row or two, and the first failing
# pair in the order of the rows.
check "streamed -X" -e --memory=2K "$work/real.phy"
check "streamed -O" -e -O --memory=1K "$work/real.phy"
check "streamed failing -X" -b --memory=1K "$work/zeros.phy"
check "streamed failing -O" -b -O --memory=1K "$work/zeros.phy"
check "two matrices" -c "$work/two.phy"
check "data" -W -N "$work/two.phy"
check "spearman" -s "$work/real.phy"

FEED=$work/real.phy check "standard input" -e -
FEED=$work/bad.phy check "standard input, damaged" -e -
check "duplicate labels" -e -P "$work/dup.phy"
# The report is karvel's to the last line: the layout hint, and the word on
# a missing file that looks like an option.
printf 'name,a,b\nx,1,2\ny,3,4\n' >"$work/table.csv"
check "a table read as PHYLIP" "$work/table.csv"
check "a missing file like an option" -e -nothing.phy
KARVEL_THREADS=1 check "KARVEL_THREADS=1" -e "$work/real.phy"
KARVEL_THREADS=many check "KARVEL_THREADS=many" -e "$work/real.phy"
KARVEL_SIMD=none check "KARVEL_SIMD=none" -e "$work/real.phy"
KARVEL_SIMD=scalar check "KARVEL_SIMD=scalar" -e "$work/real.phy"

# check_npy NAME KARVEL-OPTIONS...: as check, for a file and its labels.
check_npy() {
  local name=$1
  shift
  rm -f "$work/expected.npy" "$work/expected.npy.labels.txt"
  "$karvel" --output="$work/expected.npy" "$@" 2>"$work/expected.err"
  local status=$?
  for ranks in 1 2 3; do
    rm -f "$work/out.npy" "$work/out.npy.labels.txt"
    "${mpirun[@]}" "$ranks" "$karvel_mpi" --output="$work/out.npy" "$@" >"$work/got.out" 2>"$work/got.err"
    local got=$?
    [ "$got" = "$status" ] || fail "$name, $ranks ranks: status $got, not $status"
    if [ "$status" = 0 ]; then
      cmp -s "$work/out.npy" "$work/expected.npy" || fail "$name, $ranks ranks: the file differs"
      cmp -s "$work/out.npy.labels.txt" "$work/expected.npy.labels.txt" || fail "$name, $ranks ranks: the labels differ"
    else
      [ ! -e "$work/out.npy" ] && [ ! -e "$work/out.npy.labels.txt" ] || fail "$name, $ranks ranks: a file was left"
      head -c "$(stat -c %s "$work/expected.err")" "$work/got.err" | cmp -s - "$work/expected.err" ||
        fail "$name, $ranks ranks: $(cat "$work/got.err")"
    fi
    ls -A "$work" | grep -q -e '\.part-' -e '\.karvel-' && fail "$name, $ranks ranks: a temporary file was left"
  done
}
for layout in npy npy-condensed; do
  check_npy "$layout" -e --to=$layout "$work/real.phy"
  check_npy "$layout, blocks of a row or two" -B -i --to=$layout --memory=1K "$work/binary.phy"
  check_npy "$layout, failing" -b --to=$layout --memory=1K "$work/zeros.phy"
  check_npy "$layout, two matrices" -e --to=$layout "$work/two.phy"
done
check_npy "npy of two taxa" -e --to=npy-condensed "$work/two_taxa.phy"
# What karvel_mpi does not write: refused once, at once.
refused() {
  local words=$1
  shift
  rm -f "$work/out"
  "${mpirun[@]}" 2 "$karvel_mpi" --output="$work/out" "$@" 2>"$work/got.err"
  [ $? = 1 ] && [ "$(grep -c -F -e "$words" "$work/got.err")" = 1 ] && [ ! -e "$work/out" ] ||
    fail "$*: $(cat "$work/got.err")"
}
refused "parallel HDF5" --to=hdf5 "$work/real.phy"
refused "--undefined=nan is for karvel" -b --undefined=nan "$work/real.phy"
refused "--output is given twice" --output="$work/other" "$work/real.phy"
# An --output that names an input would take the input's place at the end.
cp "$work/real.phy" "$work/victim.phy"
"${mpirun[@]}" 2 "$karvel_mpi" --output="$work/victim.phy" "$work/victim.phy" 2>"$work/got.err"
[ $? = 1 ] && grep -q -F "would replace the input" "$work/got.err" && cmp -s "$work/real.phy" "$work/victim.phy" ||
  fail "output over its input: $(cat "$work/got.err")"

# One rank fails alone, early (its environment) or after writing rounds of
# the first matrix (its copy of the input has a damaged second matrix):
# every rank stops, the failing rank's report is printed once, no file.
alone() {
  local name=$1 expected_err=$2
  shift 2
  rm -f "$work/out"
  timeout 120 "${mpirun[@]}" "$@" >"$work/got.out" 2>"$work/got.err"
  local got=$?
  [ "$got" = 1 ] || fail "$name: status $got"
  [ ! -e "$work/out" ] || fail "$name: a file was left"
  ls -A "$work" | grep -q -e '\.part-' -e '\.karvel-' && fail "$name: a temporary file was left"
  head -c "$(stat -c %s "$expected_err")" "$work/got.err" | cmp -s - "$expected_err" || fail "$name: $(cat "$work/got.err")"
  [ "$(grep -c -x -F "$(head -n 1 "$expected_err")" "$work/got.err")" = 1 ] || fail "$name: not reported once"
}
KARVEL_THREADS=0 "$karvel" "$work/real.phy" 2>"$work/threads.err" >/dev/null
alone "rank 1 of 3 with a bad KARVEL_THREADS" "$work/threads.err" \
  1 "$karvel_mpi" --output="$work/out" "$work/real.phy" : -n 1 env KARVEL_THREADS=0 "$karvel_mpi" \
  --output="$work/out" "$work/real.phy" : -n 1 "$karvel_mpi" --output="$work/out" "$work/real.phy"
"$karvel" "$work/late.phy" 2>"$work/late.err" >/dev/null
alone "rank 2 of 3 with a damaged second matrix" "$work/late.err" \
  2 "$karvel_mpi" --output="$work/out" "$work/two.phy" : -n 1 "$karvel_mpi" --output="$work/out" "$work/late.phy"
alone "rank 0 of 2 with a damaged second matrix" "$work/late.err" \
  1 "$karvel_mpi" --output="$work/out" "$work/late.phy" : -n 1 "$karvel_mpi" --output="$work/out" "$work/two.phy"

[ "$failures" = 0 ] || exit 1
echo "karvel_mpi on 1, 2 and 3 ranks wrote karvel's bytes"
