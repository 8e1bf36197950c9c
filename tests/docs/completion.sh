#!/usr/bin/env bash
# Sources the generated bash completion and completes a few command lines
# as bash would hand them over.
#   completion.sh COMPLETION_SCRIPT
set -u
source "$1" || exit 1
fail=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 2
touch -- data.phy dune.csv -j --notes

# complete WORD... : completes the last word; COMPREPLY sorted, one a line.
complete_line() {
  COMP_WORDS=("$@")
  COMP_CWORD=$(($# - 1))
  COMPREPLY=()
  _karvel
  printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort
}
expect() {
  local want=$1 got
  shift
  got=$(complete_line "$@")
  if [ "$got" != "$want" ]; then
    echo "completing '$*': expected"; echo "$want"; echo "got"; echo "$got"; fail=1
  fi
}

expect "--help" karvel --he
expect "--threads=" karvel --thr
expect "--progress" karvel data.phy --pro
expect "--no-progress" karvel --no
# After "--" only files, whatever they look like.
expect "--notes" karvel --progress -- x --no
expect "-W" karvel -W
expect "data.phy" karvel -P da
expect $'--notes\n-j\ndata.phy\ndune.csv' karvel --progress -- ""
# No value list for a number: nothing to offer, in either form.
expect "" karvel --threads=
expect "" karvel --threads ""
exit $fail
