# Compares karvel's distances under --missing=pairwise with R's own over
# incomplete data: vegan's vegdist(na.rm = TRUE), dist() with NA and
# cor(use = "pairwise.complete.obs"), each on the same matrix.
#
#     Rscript missing_distances.R KARVEL
#
# Exit status 77 (skipped) where R lacks vegan.

args <- commandArgs(trailingOnly = TRUE)
karvel_program <- args[1]
for (package in c("vegan"))
  if (!suppressWarnings(suppressMessages(requireNamespace(package, quietly = TRUE)))) {
    cat(package, "is missing: skipped\n")
    quit(status = 77)
  }

set.seed(20261210)
failures <- character()
checked <- 0

# karvel's distances (or its data, with -W) of `table`, a data frame or
# matrix with row names, written as CSV with NA for missing cells.
karvel <- function(options, table) {
  input <- tempfile(fileext = ".csv")
  output <- tempfile(fileext = ".csv")
  on.exit(unlink(c(input, output)))
  write.csv(table, input, na = "NA")
  status <- system2(karvel_program, c("--from=csv", "--to=csv", "--exact", options, input),
                    stdout = output, stderr = "")
  if (status != 0) stop("karvel ", paste(options, collapse = " "), " ended with status ", status)
  as.matrix(read.csv(output, row.names = 1, check.names = FALSE))
}

check <- function(relation, actual, expected) {
  checked <<- checked + 1
  actual <- unname(as.matrix(actual))
  expected <- unname(as.matrix(expected))
  error <- max(abs(actual - expected), na.rm = FALSE)
  if (!isTRUE(error <= 1e-12 * max(1, max(abs(expected)))))
    failures <<- c(failures, sprintf("%s: off by %g", relation, error))
}

# Abundances with zeros and ties, a tenth of the cells missing; every pair
# shares several present characters.
n <- 9
p <- 14
X <- matrix(round(rgamma(n * p, 0.8, 1 / 20) * (runif(n * p) < 0.75), 1), n, p,
            dimnames = list(paste0("t", 1:n), paste0("c", 1:p)))
X[sample(n * p, n * p %/% 10)] <- NA
present <- !is.na(X)
m <- present %*% t(present) # characters present in both rows of each pair

full <- function(d) as.matrix(d)
check("--missing=pairwise -b = vegdist(bray, na.rm)", karvel(c("--missing=pairwise", "-b"), X),
      full(vegan::vegdist(X, "bray", na.rm = TRUE)))
check("--missing=pairwise -c = vegdist(canberra, na.rm)", karvel(c("--missing=pairwise", "-c"), X),
      full(vegan::vegdist(X, "canberra", na.rm = TRUE)))
check("--missing=pairwise -k = vegdist(kulczynski, na.rm)", karvel(c("--missing=pairwise", "-k"), X),
      full(vegan::vegdist(X, "kulczynski", na.rm = TRUE)))
check("--missing=pairwise -o = vegdist(chord, na.rm)", karvel(c("--missing=pairwise", "-o"), X),
      full(vegan::vegdist(X, "chord", na.rm = TRUE)))
check("--missing=pairwise -t = vegdist(jaccard, na.rm)", karvel(c("--missing=pairwise", "-t"), X),
      full(vegan::vegdist(X, "jaccard", na.rm = TRUE)))
# dist() scales the sum over the m shared characters up by p / m; karvel's
# mean forms divide it by m.
check("--missing=pairwise -e = dist(X) / sqrt(p)", karvel(c("--missing=pairwise", "-e"), X),
      full(dist(X)) / sqrt(p))
check("--missing=pairwise -m = dist(X, manhattan) / p", karvel(c("--missing=pairwise", "-m"), X),
      full(dist(X, "manhattan")) / p)
check("--missing=pairwise -h = dist(sqrt(X)) * sqrt(m / p)", karvel(c("--missing=pairwise", "-h"), X),
      full(dist(sqrt(X))) * sqrt(m / p))

Y <- matrix(rnorm(n * p), n, p, dimnames = dimnames(X))
Y[sample(n * p, n * p %/% 10)] <- NA
check("--missing=pairwise -p = (1 - cor(pairwise.complete.obs)) / 2", karvel(c("--missing=pairwise", "-p"), Y),
      (1 - cor(t(Y), use = "pairwise.complete.obs")) / 2)
Z <- round(Y * 2) # ties
check("--missing=pairwise -s --ties=average = (1 - cor(spearman, pairwise.complete.obs)) / 2",
      karvel(c("--missing=pairwise", "--ties=average", "-s"), Z),
      (1 - cor(t(Z), method = "spearman", use = "pairwise.complete.obs")) / 2)

if (length(failures)) {
  cat(failures, sep = "\n")
  quit(status = 1)
}
cat(checked, "relations hold\n")
