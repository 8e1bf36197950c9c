# kdist against the karvel program (bit for bit, where KARVEL_PROGRAM names
# it) and against vegan (for each vegan name it takes or refuses).

set.seed(20261210)
X <- matrix(round(rgamma(9 * 12, 0.8, 0.05) * (runif(9 * 12) < 0.8), 3) + 0.5, 9, 12,
            dimnames = list(paste0("t", 1:9), NULL))
Xna <- X
Xna[cbind(c(2, 5, 5), c(3, 1, 7))] <- NA
B <- matrix(runif(9 * 20) < 0.5, 9, 20)
Bna <- B
Bna[cbind(c(1, 4), c(2, 9))] <- NA
S <- matrix(sample(c("A", "C", "G", "T"), 9 * 15, TRUE), 9, 15)
Sna <- S
Sna[3, 4] <- NA

# The square `karvel --exact` writes for x, as a dist.
program <- function(flags, x) {
  karvel <- Sys.getenv("KARVEL_PROGRAM")
  cells <- if (is.double(x)) ifelse(is.na(x), "NA", sprintf("%.17g", x))
           else if (is.logical(x)) ifelse(is.na(x), "?", ifelse(x, "1", "0"))
           else ifelse(is.na(x), "?", x)
  sep <- if (is.double(x)) " " else ""
  input <- tempfile()
  writeLines(c(paste(nrow(x), ncol(x)), paste(paste0("t", seq_len(nrow(x))), apply(cells, 1, paste, collapse = sep))),
             input)
  out <- system2(karvel, c("--exact", "--undefined=nan", "-R", flags, input), stdout = TRUE, stderr = FALSE)
  as.dist(do.call(rbind, lapply(strsplit(out, "\t"), function(cells) as.numeric(cells[-1]))))
}

test_that("kdist gives the program's values bit for bit", {
  skip_if(Sys.getenv("KARVEL_PROGRAM") == "", "KARVEL_PROGRAM does not name the karvel program")
  cases <- list(
    list(X, "-e", "EUCLIDEAN"), list(X, "-b", "BRAY_CURTIS"), list(X, "-c", "CANBERRA"), list(X, "-p", "PEARSON"),
    list(X, "-s", "SPEARMAN"), list(X, c("-s", "--ties=average"), "SPEARMAN", ties = "average"),
    list(X, c("-Z", "-e"), "EUCLIDEAN", transform = "full_z_scores"),
    list(Xna, c("--missing=pairwise", "-b"), "BRAY_CURTIS", missing = "pairwise"),
    list(Xna, c("--missing=pairwise", "-p"), "PEARSON", missing = "pairwise"),
    list(B, c("-B", "-i"), "JACCARD"), list(B, c("-B", "-n"), "YULE"),
    list(Bna, c("-B", "-s"), "SOERENSEN", missing = "pairwise"),
    list(S, c("-D", "-m"), "MATCHING"), list(S, c("-D", "-c"), "SOKAL_SNEATH_2"),
    list(Sna, c("--missing=pairwise", "-D", "-r"), "ROGERS_TANIMOTO", missing = "pairwise"))
  for (case in cases) {
    x <- case[[1]]
    options <- case[-(1:3)]
    mine <- do.call(kdist, c(list(x, case[[3]], threads = 2, undefined = "nan"), options))
    scalar <- do.call(kdist, c(list(x, case[[3]], threads = 1, simd = "scalar", undefined = "nan"), options))
    label <- paste(case[[2]], collapse = " ")
    expect_identical(c(mine), c(program(case[[2]], x)), label = label)
    expect_identical(c(scalar), c(mine), label = paste(label, "on one thread, scalar"))
  }
})

test_that("each vegan name taken gives vegdist's values", {
  skip_if_not_installed("vegan")
  aliases <- karvel:::.vegan_aliases
  for (k in seq_len(nrow(aliases))) {
    a <- aliases[k, ]
    x <- if (a$binary) B else X
    expected <- vegan::vegdist(x * 1, a$name, binary = a$binary)
    mine <- kdist(x, a$name)
    expect_identical(attr(mine, "method"), a$formula)
    expect_lt(max(abs(mine - expected) / expected), 1e-12, label = paste(a$kind, a$name))
  }
})

test_that("vegan's names for other numbers are refused, and the relation they state holds", {
  skip_if_not_installed("vegan")
  p <- ncol(X)
  karvel_side <- list(
    euclidean = function() kdist(X, "EUCLIDEAN") * sqrt(p),
    manhattan = function() kdist(X, "MANHATTAN") * p,
    hellinger = function() kdist(X, "HELLINGER", transform = "ROW_FRACTIONS"),
    chisq = function() kdist(X, "CHI_SQUARE") * sqrt(sum(X)),
    gower = function() kdist(X, "MANHATTAN", transform = "FULL_RANGING"))
  expect_setequal(names(karvel_side), names(karvel:::.vegan_different))
  for (name in names(karvel_side)) {
    expect_error(kdist(X, name), "is not karvel's", label = name)
    expected <- vegan::vegdist(X, name)
    expect_lt(max(abs(karvel_side[[name]]() - expected) / expected), 1e-12, label = name)
  }
  expect_error(kdist(X, "morisita"), "no continuous method named \"morisita\"")
  expect_error(kdist(B, "OCHIAI", transform = "RANGING"), "transformations are of continuous")
})

test_that("the dist object is labelled as dist and vegdist label theirs", {
  d <- kdist(X, "EUCLIDEAN")
  expect_s3_class(d, "dist")
  expect_identical(attr(d, "Size"), 9L)
  expect_identical(attr(d, "Labels"), rownames(X))
  expect_false(attr(d, "Diag"))
  expect_false(attr(d, "Upper"))
  expect_identical(attr(d, "call"), quote(kdist(x = X, method = "EUCLIDEAN")))
  # R's order of the pairs: the lower triangle column by column.
  expect_equal(c(d) * sqrt(ncol(X)), c(dist(X)), tolerance = 1e-13)
  unnamed <- kdist(unname(X))
  expect_identical(attr(unnamed, "Labels"), as.character(1:9))
  expect_identical(c(kdist(as.data.frame(X))), c(kdist(X)))
  expect_identical(c(kdist(B * 1, "JACCARD")), c(kdist(B, "JACCARD")))
  expect_identical(attr(kdist(B, "bray"), "method"), "SOERENSEN")
  expect_identical(attr(kdist(B * 1, "bray"), "method"), "BRAY_CURTIS")
})

test_that("karvel's conditions are R errors of class karvel_error with the condition's name", {
  expect_error(kdist(Xna), class = "data_error")
  failure <- tryCatch(kdist(Xna), error = identity)
  expect_s3_class(failure, c("karvel_error", "data_error", "error", "condition"), exact = TRUE)
  expect_identical(failure$condition, "DATA_ERROR")
  expect_match(conditionMessage(failure), "taxon \"t2\" has a missing value \\(NA\\) for character 3")
  expect_error(kdist(Bna, "JACCARD"), class = "data_error")
  expect_error(kdist(Sna, "MATCHING"), class = "data_error")
  expect_error(kdist(X, "JACCARD"), "binary characters are 0 and 1", class = "data_error")
  expect_error(kdist(matrix(c("A", "CG"), 2, 1), "MATCHING"), "one symbol", class = "data_error")
  expect_error(kdist(X, simd = "no-such-path"), class = "constraint_error")
  zeros <- matrix(0, 3, 2)
  undefined <- tryCatch(kdist(zeros, "BRAY_CURTIS"), error = identity)
  expect_identical(undefined$condition, "CONSTRAINT_ERROR")
  expect_s3_class(undefined, "karvel_error")
  expect_warning(nan <- kdist(zeros, "BRAY_CURTIS", undefined = "nan"), "written as NaN")
  expect_true(all(is.nan(nan)))
})

test_that("R's interrupt stops a long run between blocks of rows", {
  skip_if(Sys.which("kill") == "", "no kill command")
  # Sixteen blocks of rows, the first about an eighth of the pairs: a run
  # stopped at the first block's end takes a fraction of a whole one, with
  # room for a loaded machine.
  big <- matrix(runif(8000 * 50), 8000)
  run <- function() kdist(big, "EUCLIDEAN", threads = 1, simd = "scalar")
  whole <- system.time(run())[["elapsed"]]
  system2("sh", c("-c", shQuote(sprintf("sleep 0.3; kill -INT %d", Sys.getpid()))), wait = FALSE)
  started <- Sys.time()
  stopped <- tryCatch({ run(); FALSE }, interrupt = function(e) TRUE)
  expect_true(stopped)
  # R would hear the signal at the end of the call too: it must come sooner.
  expect_lt(as.numeric(Sys.time() - started, units = "secs"), 0.85 * whole)
})
