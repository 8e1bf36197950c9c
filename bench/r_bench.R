# kdist against vegan::vegdist on the same matrices, in one R session:
#
#   Rscript bench/r_bench.R            2000 x 1000 and 5000 x 1000
#   Rscript bench/r_bench.R --smoke    tiny, to check that the script works
#   REPEAT=3 Rscript bench/r_bench.R   best of three runs of each (default one)
#
# with the package installed (R CMD INSTALL r, or R_LIBS naming a library
# that has it) and vegan. kdist runs on every processor (threads = NULL),
# vegdist on one, as it does. Euclidean: karvel's EUCLIDEAN is vegdist's
# "euclidean" / sqrt(p), a different scale of the same work; the other
# three are the same numbers. The data are abundances with zeros
# (Poisson counts of log-normal means); the binary case is their presence.
suppressPackageStartupMessages({
  library(karvel)
  library(vegan)
})
smoke <- "--smoke" %in% commandArgs(TRUE)
sizes <- if (smoke) list(c(50, 20)) else list(c(2000, 1000), c(5000, 1000))
repeat_runs <- as.integer(Sys.getenv("REPEAT", "1"))

best <- function(run) {
  times <- vapply(seq_len(repeat_runs), function(k) {
    gc(FALSE)
    system.time(result <<- run())[["elapsed"]]
  }, numeric(1))
  list(seconds = min(times), result = result)
}
result <- NULL

cases <- list(
  list(name = "Euclidean", karvel = "EUCLIDEAN", vegan = "euclidean", binary = FALSE,
       scale = function(x) sqrt(ncol(x))),
  list(name = "Bray-Curtis", karvel = "BRAY_CURTIS", vegan = "bray", binary = FALSE, scale = function(x) 1),
  list(name = "Canberra", karvel = "CANBERRA", vegan = "canberra", binary = FALSE, scale = function(x) 1),
  list(name = "Jaccard (binary)", karvel = "JACCARD", vegan = "jaccard", binary = TRUE, scale = function(x) 1))

set.seed(20261210)
rows <- list()
for (size in sizes) {
  n <- size[1]
  p <- size[2]
  abundances <- matrix(as.double(rpois(n * p, rlnorm(n * p, 0, 1.5))), n, p)
  presence <- abundances > 0
  presence01 <- presence * 1
  for (case in cases) {
    mine <- best(function() kdist(if (case$binary) presence else abundances, case$karvel))
    theirs <- best(function() vegdist(if (case$binary) presence01 else abundances, case$vegan, binary = case$binary))
    scaled <- mine$result * case$scale(abundances)
    rows[[length(rows) + 1]] <- data.frame(
      case = case$name, size = sprintf("%d x %d", n, p), kdist_s = round(mine$seconds, 3),
      vegdist_s = round(theirs$seconds, 3), ratio = round(theirs$seconds / mine$seconds, 1),
      max_rel_diff = signif(max(abs(scaled - theirs$result) / theirs$result), 2))
    rm(mine, theirs, scaled)
  }
}
cat(sprintf("karvel %s, vegan %s, R %s; kdist threads: all (%d processors); best of %d\n",
            karvel:::.kversion(), packageVersion("vegan"), getRversion(), parallel::detectCores(), repeat_runs))
print(do.call(rbind, rows), row.names = FALSE)
cat("ratio = vegdist seconds / kdist seconds; max_rel_diff after scaling EUCLIDEAN by sqrt(p)\n")
cat("load:", system("uptime", intern = TRUE), "\n")
