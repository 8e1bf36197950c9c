#!/usr/bin/env bash
# Runs one end-to-end case and compares stdout, stderr and the exit status
# with the expected files byte for byte.
#   run_case.sh KARVEL CASE_DIR [PEAK_RSS]
# CASE_DIR/cmd is run by bash in a scratch copy of CASE_DIR with $KARVEL set,
# and $PEAK_RSS (the memory-checking runner in tests/tools) when given;
# expected.out, expected.err (absent: empty) and expected.status (absent: 0).
# With KARVEL_SIMD naming an instruction set this processor lacks, karvel
# refuses to start: the case is skipped (status 77), as is a case that needs
# the hdf5 layout in a build without it.
set -u
karvel=$1
case_dir=$2
peak_rss=${3:-}
if [ -n "${KARVEL_SIMD:-}" ] &&
  "$karvel" </dev/null 2>&1 >/dev/null | grep -q "^karvel: CONSTRAINT_ERROR: KARVEL_SIMD="; then
  echo "skipped: $("$karvel" </dev/null 2>&1 >/dev/null)"
  exit 77
fi
# A case that writes the hdf5 layout (its folder holds a file `needs-hdf5`)
# is skipped where karvel was built without libhdf5.
if [ -f "$case_dir/needs-hdf5" ] &&
  "$karvel" --to=hdf5 --output=/dev/null /dev/null 2>&1 | grep -q "built without HDF5"; then
  echo "skipped: this karvel was built without HDF5"
  exit 77
fi
# A case that reads bzip2, xz or zstd input (its folder holds a file
# `needs-decompressors`) is skipped where karvel was built without one of
# their libraries, or where their command-line tools are missing.
if [ -f "$case_dir/needs-decompressors" ]; then
  for tool in bzip2 xz zstd; do
    if ! command -v "$tool" >/dev/null; then echo "skipped: no $tool command"; exit 77; fi
    if printf '' | "$tool" -c | "$karvel" - 2>&1 | grep -q "built without"; then
      echo "skipped: this karvel was built without the $tool library"
      exit 77
    fi
  done
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -R "$case_dir"/. "$work"/
cd "$work" || exit 2
KARVEL=$karvel PEAK_RSS=$peak_rss bash ./cmd >actual.out 2>actual.err
status=$?
expected_status=0
[ -f expected.status ] && expected_status=$(cat expected.status)
[ -f expected.err ] || : >expected.err
[ -f expected.out ] || : >expected.out
fail=0
if ! cmp -s expected.out actual.out; then
  echo "stdout differs:"; diff <(od -c expected.out) <(od -c actual.out) | head -40; fail=1
fi
if ! cmp -s expected.err actual.err; then
  echo "stderr differs:"; diff expected.err actual.err | head -20; fail=1
fi
if [ "$status" != "$expected_status" ]; then
  echo "exit status $status, expected $expected_status"; fail=1
fi
exit $fail
