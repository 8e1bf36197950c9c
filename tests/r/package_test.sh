#!/usr/bin/env bash
# The R package against this build:
#   package_test.sh RSCRIPT PACKAGE_SOURCE BUILD_DIR KARVEL
# installs a copy of the package (so that the sources stay clean) into a
# library inside the build tree, linked with BUILD_DIR's library, then runs
# its testthat tests. Exit status 77 (skipped) without testthat.
set -euo pipefail
rscript=$1 source=$2 build=$3 karvel=$4
r_home=$("$rscript" -e 'cat(R.home())')
"$rscript" -e 'quit(status = !requireNamespace("testthat", quietly = TRUE))' ||
  { echo "testthat is missing (Debian: r-cran-testthat): skipped"; exit 77; }

work=$build/r-package
rm -rf "$work"
mkdir -p "$work/library"
cp -R "$source" "$work/karvel"
rm -rf "$work/karvel/src/karvel-build" "$work/karvel/src/Makevars" "$work/karvel/src"/*.o "$work/karvel/src"/*.so

if ! KARVEL_BUILD_DIR=$build "$r_home/bin/R" CMD INSTALL --no-multiarch -l "$work/library" "$work/karvel" \
  >"$work/install.log" 2>&1; then
  cat "$work/install.log"
  echo "R CMD INSTALL failed"
  exit 1
fi
KARVEL_PROGRAM=$karvel R_LIBS="$work/library${R_LIBS:+:$R_LIBS}" "$rscript" -e '
library(karvel)
testthat::test_dir(commandArgs(TRUE)[1], reporter = "summary", stop_on_failure = TRUE)
' "$source/tests/testthat"
