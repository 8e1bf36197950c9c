#!/usr/bin/env bash
# The transformations of a matrix with missing values (--missing=pairwise)
# agree with R's vegan::decostand(na.rm = TRUE) and rank(na.last = "keep"),
# to the eight decimals -W writes, and keep NA where the data have it.
#   missing_decostand.sh KARVEL
# Exit status 77 (skipped) without Rscript or vegan.
set -u
karvel=$1
command -v Rscript >/dev/null || { echo "Rscript is missing: skipped"; exit 77; }
Rscript -e 'suppressMessages(library(vegan))' >/dev/null 2>&1 || { echo "vegan is missing: skipped"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 2
cat >data.csv <<'CSV'
,c1,c2,c3,c4,c5
t1,3.5,NA,2,7,1
t2,1.25,4,,7.5,9
t3,6,4.5,2.25,NA,NA
t4,0.5,8,3,2,1
t5,NA,1,5,7.25,2.5
t6,2,NA,4,1,6
CSV
for option in -F -G -A -I -Z "-K --ties=average"; do
  # shellcheck disable=SC2086
  "$karvel" --from=csv --missing=pairwise -W --to=csv $option data.csv >"out${option%% *}.csv" || exit 1
done
Rscript - <<'R'
suppressMessages(library(vegan))
x <- as.matrix(read.csv("data.csv", row.names = 1))
n <- colSums(!is.na(x))
# karvel's z scores divide by the population deviation (n), R's sd by n - 1.
z <- sweep(decostand(x, "standardize", na.rm = TRUE), 2, sqrt(n / (n - 1)), "*")
expected <- list(
  "out-F.csv" = decostand(x, "total", na.rm = TRUE),
  "out-G.csv" = decostand(x, "total", MARGIN = 2, na.rm = TRUE),
  "out-A.csv" = decostand(x, "max", na.rm = TRUE),
  "out-I.csv" = decostand(x, "range", na.rm = TRUE),
  "out-Z.csv" = z,
  "out-K.csv" = t(apply(x, 1, rank, na.last = "keep"))
)
bad <- 0
for (file in names(expected)) {
  got <- as.matrix(read.csv(file, row.names = 1))
  want <- unname(as.matrix(expected[[file]]))
  got <- unname(got)
  if (!identical(is.na(got), is.na(want)) || max(abs(got - want), na.rm = TRUE) > 1e-7) {
    cat(file, "differs from R:\n"); print(got); print(want); bad <- bad + 1
  }
}
if (bad > 0) quit(status = 1)
cat("6 transformations agree with decostand(na.rm = TRUE) and rank(na.last = \"keep\")\n")
R
