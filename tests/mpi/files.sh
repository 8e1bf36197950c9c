#!/usr/bin/env bash
# The files karvel_mpi leaves: links planted where its temporary file once
# had a predictable name are not followed; a job ended by SIGTERM or SIGINT,
# or by a rank killed outright, leaves no temporary file and the old output
# as it was; a signal ignored when a rank starts stays ignored; a limit on
# the size of a file is an error that names it; a failing npy run keeps the
# old matrix and labels; a replaced file keeps its permission bits.
#
#   files.sh KARVEL KARVEL_MPI KARVEL_GEN
set -uo pipefail
karvel=$1 karvel_mpi=$2 gen=$3
work=$(mktemp -d)
trap 'exec 7>&- 2>/dev/null; rm -rf "$work"' EXIT
mpirun=(mpirun --oversubscribe -n)
[ "$(id -u)" = 0 ] && mpirun=(mpirun --allow-run-as-root --oversubscribe -n)
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
out=$work/shared/out.txt
mkdir "$work/shared"
"$gen" real 301 40 5 >"$work/data.phy"
"$karvel" "$work/data.phy" >"$work/expected"

# Nothing in the folder but the files named.
only() {
  local name=$1
  shift
  local left
  left=$(cd "$work/shared" && ls -A | sort | paste -s -d ' ')
  [ "$left" = "$*" ] || fail "$name: the folder holds '$left', not '$*'"
}

# Links at the names the temporary file had (FILE.part-PID), for every
# process id the job can get (else the next few thousand), lead to a
# victim: it is untouched, and so are the links.
echo "not to be overwritten" >"$work/victim"
links=$(python3 - "$out" <<'PY'
import os, sys
top = int(open("/proc/sys/kernel/pid_max").read())
pids = range(1, top + 1)
if top > 100000:
    last = int(open("/proc/sys/kernel/ns_last_pid").read())
    pids = range(last + 1, last + 5001)
for pid in pids:
    os.symlink("../victim", "%s.part-%d" % (sys.argv[1], pid))
print(len(pids))
PY
)
"${mpirun[@]}" 2 "$karvel_mpi" --output="$out" "$work/data.phy" 2>"$work/err"
status=$?
[ "$status" = 0 ] || fail "planted links: status $status: $(cat "$work/err")"
[ "$(cat "$work/victim")" = "not to be overwritten" ] || fail "planted links: the victim was written"
[ -f "$out" ] && [ ! -L "$out" ] && cmp -s "$out" "$work/expected" || fail "planted links: the output differs"
[ "$(find "$work/shared" -type l | wc -l)" = "$links" ] || fail "planted links: a link was changed"
find "$work/shared" -type l -delete

# held HOW RANKS: a job of RANKS reading its input from a FIFO, stopped
# once rank 0 has made its temporary file, then sent signals as HOW says;
# the old output must be what remains.
held() {
  local how=$1 ranks=$2
  echo "old output" >"$out"
  rm -f "$work/fifo"
  mkfifo "$work/fifo"
  "${mpirun[@]}" "$ranks" ${wrap:-} "$karvel_mpi" --output="$out" - <"$work/fifo" >/dev/null 2>"$work/err" &
  local job=$!
  exec 7>"$work/fifo"
  head -c 500 "$work/data.phy" >&7
  local tries=0
  until ls -A "$work/shared" | grep -q karvel-; do
    tries=$((tries + 1))
    [ "$tries" -lt 300 ] || break
    sleep 0.1
  done
  # The ranks are children of mpirun; each knows its rank from Open MPI.
  rank() {
    local pid
    for pid in $(pgrep -P "$job"); do
      tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qx "OMPI_COMM_WORLD_RANK=$1" && echo "$pid"
    done
  }
  case $how in
    TERM-all) kill -TERM "$job" $(pgrep -P "$job") ;;
    TERM-mpirun) kill -TERM "$job" ;;
    INT-mpirun) kill -INT "$job" ;;
    KILL-rank-0) kill -KILL $(rank 0) ;;
    KILL-rank-1) kill -KILL $(rank 1) ;;
    HUP-ignored)
      kill -HUP $(rank 0) $(rank 1)
      sleep 0.3
      tail -c +501 "$work/data.phy" >&7
      ;;
  esac
  exec 7>&-
  wait "$job"
  status=$?
}

for how in TERM-all TERM-mpirun INT-mpirun KILL-rank-0 KILL-rank-1; do
  held "$how" 2
  [ "$status" != 0 ] || fail "$how: status 0"
  [ "$(cat "$out")" = "old output" ] || fail "$how: the old output was changed"
  only "$how" out.txt
done

# SIGHUP ignored when the ranks start (as nohup leaves it; mpirun resets
# what it passes on, so each rank is started by a shell that ignores it).
printf '#!/usr/bin/env bash\ntrap "" HUP\nexec "$@"\n' >"$work/nohup"
chmod +x "$work/nohup"
wrap=$work/nohup held HUP-ignored 2
[ "$status" = 0 ] || fail "SIGHUP ignored: status $status: $(cat "$work/err")"
cmp -s "$out" "$work/expected" || fail "SIGHUP ignored: the output differs"
only "SIGHUP ignored" out.txt

# A limit on the size of a file, for the ranks only (mpirun's own files
# need more): the error names the file and the limit.
echo "old output" >"$out"
"${mpirun[@]}" 2 bash -c 'ulimit -f 8; exec "$@"' limited "$karvel_mpi" --output="$out" "$work/data.phy" \
  >/dev/null 2>"$work/err"
status=$?
[ "$status" = 1 ] || fail "ulimit -f: status $status"
grep -q -x -F "karvel: DEVICE_ERROR: cannot write '$out': File too large (the limit on the size of a file is 8192 bytes, ulimit -f)" \
  "$work/err" || fail "ulimit -f: $(cat "$work/err")"
[ "$(cat "$out")" = "old output" ] || fail "ulimit -f: the old output was changed"
only "ulimit -f" out.txt

# A failing npy run leaves the old matrix and its labels as they were.
rm -f "$out"
awk 'NR == 12 || NR == 40 { printf "%s", $1; for (i = 2; i <= NF; i++) printf " 0"; print ""; next } { print }' \
  "$work/data.phy" >"$work/zeros.phy"
echo "old matrix" >"$work/shared/m.npy"
echo "old labels" >"$work/shared/m.npy.labels.txt"
"${mpirun[@]}" 2 "$karvel_mpi" --output="$work/shared/m.npy" -b --to=npy "$work/zeros.phy" >/dev/null 2>&1 &&
  fail "npy pair: a failing run succeeded"
[ "$(cat "$work/shared/m.npy")" = "old matrix" ] && [ "$(cat "$work/shared/m.npy.labels.txt")" = "old labels" ] ||
  fail "npy pair: the old files were changed"
only "npy pair" m.npy m.npy.labels.txt

# A replaced file keeps its permission bits; a new one gets those of the
# umask.
rm -f "$work/shared"/*
echo old >"$out"
chmod 640 "$out"
"${mpirun[@]}" 2 "$karvel_mpi" --output="$out" "$work/data.phy" 2>/dev/null
[ "$(stat -c %a "$out")" = 640 ] || fail "permission bits: $(stat -c %a "$out"), not 640"
rm -f "$out"
(umask 027 && "${mpirun[@]}" 2 "$karvel_mpi" --output="$out" "$work/data.phy" 2>/dev/null)
[ "$(stat -c %a "$out")" = 640 ] || fail "umask 027: $(stat -c %a "$out"), not 640"

[ "$failures" = 0 ] || exit 1
echo "karvel_mpi left only its output, and the old one when it failed"
