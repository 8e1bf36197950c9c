#!/usr/bin/env bash
# karvel_mpi on 1, 2 and 3 ranks writes the file karvel writes to standard
# output (or to --output, for the npy layouts, with their labels), for every
# layout and family, and karvel's warnings once; a failing pair leaves no
# file, the report of karvel (once) and status 1 on every rank. So does a
# rank that fails alone: the others must not wait for it.
#
# Starting an MPI job takes most of a second, nearly all of it waiting, so
# the checks run side by side, each in a folder of its own, a few at once.
#
#   run.sh KARVEL KARVEL_MPI KARVEL_GEN
set -uo pipefail
karvel=$1 karvel_mpi=$2 gen=$3
work=$(mktemp -d)
trap 'wait; rm -rf "$work"' EXIT
mpirun=(mpirun --oversubscribe -n)
[ "$(id -u)" = 0 ] && mpirun=(mpirun --allow-run-as-root --oversubscribe -n)
# Shared memory between the ranks of this machine; probing for networks
# costs each job a tenth of a second.
export OMPI_MCA_btl=self,vader OMPI_MCA_pml=ob1
# Checks run in subshells: each failure is a line of this file.
: >"$work/failures"
fail() { echo "FAIL: $*" | tee -a "$work/failures"; }
# spawn FUNCTION ARGS...: FUNCTION in the background in a folder of its own
# ($dir, also the working folder), once fewer than ten are running.
spawn() {
  while [ "$(jobs -rp | wc -l)" -ge 10 ]; do wait -n; done
  (dir=$(mktemp -d "$work/check.XXXXXX") && cd "$dir" && "$@") &
}

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
# the file for standard input; RANKS: the rank counts, where one of them
# shows what the check is about: an environment or input that every rank
# must see, or a layout that differs from another only in its text).
check() {
  local name=$1
  shift
  "$karvel" "$@" <"${FEED:-/dev/null}" >"$dir/expected" 2>"$dir/expected.err"
  local status=$?
  for ranks in ${RANKS:-1 2 3}; do
    rm -f "$dir/out"
    "${mpirun[@]}" "$ranks" "$karvel_mpi" --output="$dir/out" "$@" <"${FEED:-/dev/null}" >"$dir/got.out" 2>"$dir/got.err"
    local got=$?
    [ "$got" = "$status" ] || fail "$name, $ranks ranks: status $got, not $status"
    if [ "$status" = 0 ]; then
      cmp -s "$dir/out" "$dir/expected" || fail "$name, $ranks ranks: the file differs"
      cmp -s "$dir/got.err" "$dir/expected.err" || fail "$name, $ranks ranks: standard error: $(cat "$dir/got.err")"
    else
      [ ! -e "$dir/out" ] || fail "$name, $ranks ranks: a file was left"
      # mpirun adds its own notice of the status after what rank 0 wrote.
      head -c "$(stat -c %s "$dir/expected.err")" "$dir/got.err" | cmp -s - "$dir/expected.err" ||
        fail "$name, $ranks ranks: $(cat "$dir/got.err")"
      [ "$(grep -c -x -F "$(head -n 1 "$dir/expected.err")" "$dir/got.err")" = 1 ] || fail "$name, $ranks ranks: not reported once"
    fi
    [ ! -s "$dir/got.out" ] || fail "$name, $ranks ranks: wrote to standard output"
    ls -A "$dir" | grep -q -e '\.part-' -e '\.karvel-' && fail "$name, $ranks ranks: a temporary file was left"
  done
}

for layout in -X -N -O -L; do
  spawn check "real $layout" -e "$layout" "$work/real.phy"
done
for layout in -P -E -T -R; do
  RANKS=3 spawn check "real $layout" -e "$layout" "$work/real.phy"
done
for layout in -X -O; do
  RANKS="2 3" spawn check "binary $layout" -B -i "$layout" "$work/binary.phy"
  RANKS="2 3" spawn check "dna $layout" -D -m "$layout" "$work/dna.phy"
  spawn check "failing $layout" -b "$layout" "$work/zeros.phy"
done
# Beyond the memory budget: blocks of a row or two, and the first failing
# pair in the order of the rows.
spawn check "streamed -X" -e --memory=2K "$work/real.phy"
spawn check "streamed -O" -e -O --memory=1K "$work/real.phy"
spawn check "streamed failing -X" -b --memory=1K "$work/zeros.phy"
spawn check "streamed failing -O" -b -O --memory=1K "$work/zeros.phy"
spawn check "two matrices" -c "$work/two.phy"
spawn check "data" -W -N "$work/two.phy"
RANKS=3 spawn check "spearman" -s "$work/real.phy"

FEED=$work/real.phy spawn check "standard input" -e -
FEED=$work/bad.phy RANKS="2 3" spawn check "standard input, damaged" -e -
RANKS="2 3" spawn check "duplicate labels" -e -P "$work/dup.phy"
# The report is karvel's to the last line: the layout hint, and the word on
# a missing file that looks like an option.
printf 'name,a,b\nx,1,2\ny,3,4\n' >"$work/table.csv"
RANKS="2 3" spawn check "a table read as PHYLIP" "$work/table.csv"
RANKS="2 3" spawn check "a missing file like an option" -e -nothing.phy
KARVEL_THREADS=1 RANKS=3 spawn check "KARVEL_THREADS=1" -e "$work/real.phy"
KARVEL_THREADS=many RANKS=3 spawn check "KARVEL_THREADS=many" -e "$work/real.phy"
KARVEL_SIMD=none RANKS=3 spawn check "KARVEL_SIMD=none" -e "$work/real.phy"
KARVEL_SIMD=scalar RANKS=3 spawn check "KARVEL_SIMD=scalar" -e "$work/real.phy"

# check_npy NAME KARVEL-OPTIONS...: as check, for a file and its labels.
check_npy() {
  local name=$1
  shift
  rm -f "$dir/expected.npy" "$dir/expected.npy.labels.txt"
  "$karvel" --output="$dir/expected.npy" "$@" 2>"$dir/expected.err"
  local status=$?
  for ranks in ${RANKS:-1 2 3}; do
    rm -f "$dir/out.npy" "$dir/out.npy.labels.txt"
    "${mpirun[@]}" "$ranks" "$karvel_mpi" --output="$dir/out.npy" "$@" >"$dir/got.out" 2>"$dir/got.err"
    local got=$?
    [ "$got" = "$status" ] || fail "$name, $ranks ranks: status $got, not $status"
    if [ "$status" = 0 ]; then
      cmp -s "$dir/out.npy" "$dir/expected.npy" || fail "$name, $ranks ranks: the file differs"
      cmp -s "$dir/out.npy.labels.txt" "$dir/expected.npy.labels.txt" || fail "$name, $ranks ranks: the labels differ"
    else
      [ ! -e "$dir/out.npy" ] && [ ! -e "$dir/out.npy.labels.txt" ] || fail "$name, $ranks ranks: a file was left"
      head -c "$(stat -c %s "$dir/expected.err")" "$dir/got.err" | cmp -s - "$dir/expected.err" ||
        fail "$name, $ranks ranks: $(cat "$dir/got.err")"
    fi
    ls -A "$dir" | grep -q -e '\.part-' -e '\.karvel-' && fail "$name, $ranks ranks: a temporary file was left"
  done
}
for layout in npy npy-condensed; do
  spawn check_npy "$layout" -e --to=$layout "$work/real.phy"
  spawn check_npy "$layout, blocks of a row or two" -B -i --to=$layout --memory=1K "$work/binary.phy"
  spawn check_npy "$layout, failing" -b --to=$layout --memory=1K "$work/zeros.phy"
  spawn check_npy "$layout, two matrices" -e --to=$layout "$work/two.phy"
done
spawn check_npy "npy of two taxa" -e --to=npy-condensed "$work/two_taxa.phy"
# What karvel_mpi does not write: refused once, at once.
refused() {
  local words=$1
  shift
  rm -f "$dir/out"
  "${mpirun[@]}" 2 "$karvel_mpi" --output=out "$@" 2>"$dir/got.err"
  [ $? = 1 ] && [ "$(grep -c -F -e "$words" "$dir/got.err")" = 1 ] && [ ! -e "$dir/out" ] ||
    fail "$*: $(cat "$dir/got.err")"
}
spawn refused "parallel HDF5" --to=hdf5 "$work/real.phy"
spawn refused "--undefined=nan is for karvel" -b --undefined=nan "$work/real.phy"
spawn refused "--output is given twice" --output="$work/other" "$work/real.phy"
# An --output that names an input would take the input's place at the end.
over_input() {
  cp "$work/real.phy" "$dir/victim.phy"
  "${mpirun[@]}" 2 "$karvel_mpi" --output=victim.phy victim.phy 2>"$dir/got.err"
  [ $? = 1 ] && grep -q -F "would replace the input" "$dir/got.err" && cmp -s "$work/real.phy" "$dir/victim.phy" ||
    fail "output over its input: $(cat "$dir/got.err")"
}
spawn over_input

# One rank fails alone, early (its environment) or after writing rounds of
# the first matrix (its copy of the input has a damaged second matrix):
# every rank stops, the failing rank's report is printed once, no file.
alone() {
  local name=$1 expected_err=$2
  shift 2
  rm -f "$dir/out"
  timeout 120 "${mpirun[@]}" "$@" >"$dir/got.out" 2>"$dir/got.err"
  local got=$?
  [ "$got" = 1 ] || fail "$name: status $got"
  [ ! -e "$dir/out" ] || fail "$name: a file was left"
  ls -A "$dir" | grep -q -e '\.part-' -e '\.karvel-' && fail "$name: a temporary file was left"
  head -c "$(stat -c %s "$expected_err")" "$dir/got.err" | cmp -s - "$expected_err" || fail "$name: $(cat "$dir/got.err")"
  [ "$(grep -c -x -F "$(head -n 1 "$expected_err")" "$dir/got.err")" = 1 ] || fail "$name: not reported once"
}
KARVEL_THREADS=0 "$karvel" "$work/real.phy" 2>"$work/threads.err" >/dev/null
spawn alone "rank 1 of 3 with a bad KARVEL_THREADS" "$work/threads.err" \
  1 "$karvel_mpi" --output=out "$work/real.phy" : -n 1 env KARVEL_THREADS=0 "$karvel_mpi" \
  --output=out "$work/real.phy" : -n 1 "$karvel_mpi" --output=out "$work/real.phy"
"$karvel" "$work/late.phy" 2>"$work/late.err" >/dev/null
spawn alone "rank 2 of 3 with a damaged second matrix" "$work/late.err" \
  2 "$karvel_mpi" --output=out "$work/two.phy" : -n 1 "$karvel_mpi" --output=out "$work/late.phy"
spawn alone "rank 0 of 2 with a damaged second matrix" "$work/late.err" \
  1 "$karvel_mpi" --output=out "$work/late.phy" : -n 1 "$karvel_mpi" --output=out "$work/two.phy"

wait
[ ! -s "$work/failures" ] || exit 1
echo "karvel_mpi on 1, 2 and 3 ranks wrote karvel's bytes"
