#!/usr/bin/env bash
# Installs a built tree into a scratch prefix and checks that the user's
# files are there: the program (and karvel_mpi, where it is built), its man
# page (which must render), the bash completion, the README, the licence
# and the examples.
#   install.sh BUILD_DIR
set -u
cmake=${CMAKE_COMMAND:-cmake}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
"$cmake" --install "$1" --prefix "$prefix" >"$work/install.log" || { cat "$work/install.log"; exit 1; }
fail=0
programs=bin/karvel
[ -x "$1/mpi/karvel_mpi" ] && programs+=" bin/karvel_mpi"
for file in $programs share/man/man1/karvel.1 share/bash-completion/completions/karvel \
  share/doc/karvel/README.md share/doc/karvel/LICENSE share/doc/karvel/examples/primates.phy; do
  [ -s "$prefix/$file" ] || { echo "not installed: $file"; fail=1; }
done
[ "$fail" = 0 ] || exit 1
# The Python package, where the build made it, imports from the prefix.
if [ -d "$1/python/karvel" ]; then
  site=$(find "$prefix" -type d -name dist-packages | head -1)
  PYTHONPATH=$site /usr/bin/python3 -c 'import karvel, sys; sys.exit(not karvel.__file__.startswith(sys.argv[1]))' \
    "$prefix" || { echo "the installed Python package does not import from $prefix"; exit 1; }
fi
version=$("$prefix/bin/karvel" --version) || { echo "the installed karvel failed: $version"; exit 1; }
page=$prefix/share/man/man1/karvel.1
if command -v man >/dev/null; then
  text=$(MANPAGER=cat MANWIDTH=80 man -l "$page" 2>&1)
else
  text=$(groff -man -Tutf8 "$page" 2>&1)
fi
for want in NAME OPTIONS "--threads=N" "$version"; do
  grep -qF -- "$want" <<<"$text" || { echo "the rendered page lacks '$want':"; echo "$text" | head -20; fail=1; }
done
exit $fail
