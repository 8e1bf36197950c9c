#!/usr/bin/env bash
# karvel --mixed against R's cluster::daisy(metric = "gower") on seeded
# random tables of every column type, with weights and missing cells:
# equal within 1e-12. Skipped (status 77) without Rscript or cluster.
#   gower_daisy.sh KARVEL
set -eu
karvel=$1
if ! command -v Rscript >/dev/null || ! Rscript -e 'library(cluster)' >/dev/null 2>&1; then
  echo "Rscript with cluster is missing: skipped"
  exit 77
fi
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
KARVEL=$karvel DIR=$dir Rscript --vanilla - <<'R'
library(cluster)
karvel <- Sys.getenv("KARVEL"); dir <- Sys.getenv("DIR")
failures <- 0
for (seed in 1:4) {
  set.seed(seed)
  n <- 30
  miss <- function(v) { v[sample(n, 3)] <- NA; v }
  d <- data.frame(len = miss(round(rnorm(n, 10, 3), 3)),
                  colour = miss(sample(c("red", "green", "blue"), n, TRUE)),
                  size = miss(sample(c("large", "medium", "small", "tiny"), n, TRUE)),
                  sex = miss(sample(c("f", "m"), n, TRUE)),
                  spots = miss(sample(c(0, 1), n, TRUE, prob = c(0.6, 0.4))),
                  mass = miss(round(runif(n, 0, 100), 2)),
                  wing = miss(sample(c("no", "yes"), n, TRUE)))
  rownames(d) <- paste0("t", 1:n)
  file <- file.path(dir, "mixed.csv")
  write.csv(d, file, na = "NA")
  w <- round(runif(7, 0.5, 3), 2)
  out <- system2(karvel, c("--from=csv", "--mixed", "--types=cnosacs", "-R", "--exact",
                           paste0("--weights=", paste(w, collapse = ",")), file), stdout = TRUE)
  got <- as.matrix(read.table(text = out))
  r <- d
  r$colour <- factor(r$colour)
  r$size <- factor(r$size, ordered = TRUE)
  r$sex <- factor(r$sex)
  r$wing <- factor(r$wing)
  want <- as.matrix(suppressWarnings(daisy(r, metric = "gower", weights = w,
                          type = list(asymm = "spots", symm = c("sex", "wing")))))
  gap <- max(abs(got - want), na.rm = TRUE)
  if (any(is.na(got) != is.na(want)) || gap > 1e-12) {
    cat("seed", seed, ": largest difference", gap, ", NaN where daisy gives NA:", all(is.na(got) == is.na(want)), "\n")
    failures <- failures + 1
  }
}
if (failures > 0) quit(status = 1)
cat("karvel --mixed agrees with daisy(metric = \"gower\") on 4 tables\n")
R
