#!/usr/bin/env bash
# karvel_mpi on 1, 2 and 3 ranks writes the file karvel writes to standard
# output, for every layout and family; a failing pair leaves no file, the
# report of karvel (once) and status 1 on every rank.
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

# check NAME KARVEL-OPTIONS...: every rank count against one process.
check() {
  local name=$1
  shift
  "$karvel" "$@" >"$work/expected" 2>"$work/expected.err"
  local status=$?
  for ranks in 1 2 3; do
    rm -f "$work/out"
    "${mpirun[@]}" "$ranks" "$karvel_mpi" --output="$work/out" "$@" >"$work/got.out" 2>"$work/got.err"
    local got=$?
    [ "$got" = "$status" ] || fail "$name, $ranks ranks: status $got, not $status"
    if [ "$status" = 0 ]; then
      cmp -s "$work/out" "$work/expected" || fail "$name, $ranks ranks: the file differs"
    else
      [ ! -e "$work/out" ] || fail "$name, $ranks ranks: a file was left"
      # mpirun adds its own notice of the status after what rank 0 wrote.
      head -c "$(stat -c %s "$work/expected.err")" "$work/got.err" | cmp -s - "$work/expected.err" ||
        fail "$name, $ranks ranks: $(cat "$work/got.err")"
      [ "$(grep -c -x -F "$(head -n 1 "$work/expected.err")" "$work/got.err")" = 1 ] || fail "$name, $ranks ranks: not reported once"
    fi
    [ ! -s "$work/got.out" ] || fail "$name, $ranks ranks: wrote to standard output"
    ls "$work" | grep -q '\.part-' && fail "$name, $ranks ranks: a temporary file was left"
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

[ "$failures" = 0 ] || exit 1
echo "karvel_mpi on 1, 2 and 3 ranks wrote karvel's bytes"
