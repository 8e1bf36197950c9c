#!/usr/bin/env bash
# Peak memory and time of a run too big to hold: NTAX x NCHAR Euclidean
# distances written block by block, to /dev/null, to a file, and the time
# dd takes to copy that file's bytes (what the disk alone needs).
#
#   bash bench/stream.sh                 20000 x 1000, the run the README quotes
#   bash bench/stream.sh 5000 500        another size
#   bash bench/stream.sh --smoke         a tiny run, to check the script
#   CHECK=1 bash bench/stream.sh         also writes the same matrix held whole
#                                        (--memory above its square) and checks
#                                        that the bytes are the same
#   WORK=/some/disk bash bench/stream.sh where the files go (default: a
#                                        temporary folder under /tmp)
#   MEMORY=128M bash bench/stream.sh 8000 500
#                                        a smaller budget, so that a smaller
#                                        matrix streams too
#   OLD=/other/build/driver/karvel bash bench/stream.sh
#                                        runs each line with that binary and
#                                        this one in turn, then prints the
#                                        ratio new / old (a loaded machine
#                                        shifts both alike)
#   HELD=1 bash bench/stream.sh          also the held run to /dev/null (needs
#                                        the square in memory)
#   SCALE=1 bash bench/stream.sh         50000 x 1000 Bray-Curtis, the README's
#                                        Scale figures: extended PHYLIP to
#                                        /dev/null and (when the disk keeps
#                                        20 GB free beside its 30 GB) to a
#                                        file, then npy-condensed to a file,
#                                        by karvel and by karvel_mpi on one
#                                        rank (when MPI is found)
#
# Each line gives the wall-clock seconds, the CPU seconds (user + system) and
# the peak resident size from tests/tools/peak_rss. KARVEL_THREADS passes
# through to karvel.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${BUILD_DIR:-$root/build}
ntax=${1:-20000}
nchar=${2:-1000}
if [ "${1:-}" = "--smoke" ]; then ntax=300; nchar=20; fi
formula=-e
if [ -n "${SCALE:-}" ]; then ntax=${1:-50000}; nchar=${2:-1000}; formula=-b; fi

cmake -S "$root" -B "$build" -G Ninja -DKARVEL_BUILD_BENCH=ON >/dev/null
cmake --build "$build" --target karvel karvel_gen peak_rss >/dev/null
[ -n "${SCALE:-}" ] && { cmake --build "$build" --target karvel_mpi >/dev/null 2>&1 || true; }
karvel=$build/driver/karvel
peak=$build/tests/peak_rss
memory=()
[ "${1:-}" = "--smoke" ] && memory=(--memory=64K)
[ -n "${MEMORY:-}" ] && memory=(--memory="$MEMORY")

work=$(mktemp -d "${WORK:-/tmp}/karvel-stream.XXXXXX")
trap 'rm -rf "$work"' EXIT
"$build/bench/karvel_gen" real "$ntax" "$nchar" 1 >"$work/in.phy"

# Runs a command, prints one line: label, seconds, CPU seconds, peak kB.
measure() {
  local label=$1
  shift
  local start end
  start=$(date +%s.%N)
  /usr/bin/time -f '%U %S' -o "$work/cpu" "$peak" -- "$@" 2>"$work/err"
  end=$(date +%s.%N)
  read -r user sys <"$work/cpu"
  last=$(echo "$end - $start" | bc)
  printf '%-28s %8.2f s  %8.2f s CPU  %s\n' "$label" "$last" \
    "$(echo "$user + $sys" | bc)" "$(grep -o '[0-9]* kB' "$work/err" | tail -1)"
}

# Runs a karvel command line (KARVEL stands for the binary) with OLD, when
# given, and then with this build's karvel, and prints the ratio.
compare() {
  local label=$1 line=$2 before
  if [ -n "${OLD:-}" ]; then
    measure "$label (old)" sh -c "KARVEL=\"$OLD\"; $line"
    before=$last
  fi
  measure "$label" sh -c "KARVEL=\"$karvel\"; $line"
  [ -n "${OLD:-}" ] && printf '%-28s %8.2f   load %s\n' "  new / old" "$(echo "scale=3; $last / $before" | bc)" \
    "$(cut -d' ' -f1-3 /proc/loadavg)"
  return 0
}

echo "karvel $formula, $ntax x $nchar, $(nproc) CPUs ($(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')), load $(cut -d' ' -f1-3 /proc/loadavg)"

if [ -n "${SCALE:-}" ]; then
  measure "phylip to /dev/null" sh -c "exec \"$karvel\" -b \"$work/in.phy\" >/dev/null"
  echo "load $(cut -d' ' -f1-3 /proc/loadavg)"
  # The text is some 27 GB: written only where 20 GB stay free beside it.
  free_gb=$(df -BG --output=avail "$work" | tail -1 | tr -dc 0-9)
  if [ "$free_gb" -ge 50 ]; then
    measure "phylip to a file" sh -c "exec \"$karvel\" -b \"$work/in.phy\" >\"$work/out.txt\""
    echo "$(stat -c %s "$work/out.txt") bytes written; load $(cut -d' ' -f1-3 /proc/loadavg)"
    rm -f "$work/out.txt"
  else
    echo "phylip to a file: skipped, $free_gb GB free"
  fi
  measure "npy-condensed to a file" "$karvel" --output="$work/out.npy" --to=npy-condensed -b "$work/in.phy"
  echo "$(stat -c %s "$work/out.npy") bytes written; load $(cut -d' ' -f1-3 /proc/loadavg)"
  rm -f "$work/out.npy" "$work/out.npy.labels.txt"
  if [ -x "$build/mpi/karvel_mpi" ]; then
    # Open MPI binds a lone rank to one core unless told otherwise.
    mpirun=(mpirun --bind-to none -n 1)
    [ "$(id -u)" = 0 ] && mpirun=(mpirun --allow-run-as-root --bind-to none -n 1)
    measure "npy-condensed, MPI 1 rank" "${mpirun[@]}" "$build/mpi/karvel_mpi" --output="$work/out.npy" \
      --to=npy-condensed -b "$work/in.phy"
    echo "$(stat -c %s "$work/out.npy") bytes written; load $(cut -d' ' -f1-3 /proc/loadavg)"
    rm -f "$work/out.npy" "$work/out.npy.labels.txt"
  fi
  exit 0
fi
if [ -n "${HELD:-}" ]; then
  compare "held, to /dev/null" "exec \"\$KARVEL\" -e --memory=1024G \"$work/in.phy\" >/dev/null"
fi
compare "to /dev/null" "exec \"\$KARVEL\" -e ${memory[*]} \"$work/in.phy\" >/dev/null"
compare "to a file" "exec \"\$KARVEL\" -e ${memory[*]} \"$work/in.phy\" >\"$work/out.txt\""
echo "$(stat -c %s "$work/out.txt") bytes written"
measure "dd of the same bytes" dd if="$work/out.txt" of="$work/copy.txt" bs=1M status=none
rm -f "$work/copy.txt"
if [ -n "${CHECK:-}" ]; then
  measure "held whole, to a file" sh -c "exec \"$karvel\" -e --memory=1024G \"$work/in.phy\" >\"$work/whole.txt\""
  cmp "$work/out.txt" "$work/whole.txt" && echo "streamed and held runs wrote the same bytes"
fi
