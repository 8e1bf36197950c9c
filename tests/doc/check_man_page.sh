#!/usr/bin/env bash
# Formats a man page source with every groff warning on and fails on any
# output: a page that warns renders wrongly somewhere.
#   check_man_page.sh PAGE
# The placeholders the build fills in are filled with stand-ins first.
# Skipped (status 77) where groff is missing.
set -u
page=$1
command -v groff >/dev/null || { echo "groff is missing: skipped"; exit 77; }
[ -f "$page" ] || { echo "no such page: $page"; exit 1; }
warnings=$(sed 's/@KARVEL_OPTIONS@//; s/@KARVEL_VERSION@/0.0.0/' "$page" | groff -man -ww -z 2>&1)
status=$?
if [ $status -ne 0 ] || [ -n "$warnings" ]; then
  printf '%s\n' "$warnings"
  echo "groff -man -ww -z: status $status on $page"
  exit 1
fi
