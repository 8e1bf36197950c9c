#!/usr/bin/env bash
# Checks the generated man page with groff's warnings all on: any message
# fails the test.
#   man_page.sh PAGE
set -u
messages=$(groff -man -ww -z "$1" 2>&1)
status=$?
if [ -n "$messages" ] || [ "$status" != 0 ]; then
  echo "groff -man -ww -z $1 (status $status):"
  echo "$messages"
  exit 1
fi
