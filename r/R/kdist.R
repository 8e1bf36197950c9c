# Distances of karvel for R matrices: kdist() returns a "dist" object, as
# stats::dist and vegan::vegdist do.

# vegan's names taken for karvel's formulas, by kind of characters: only
# where vegdist() computes the same numbers (the tests compare each).
# `binary` says which vegdist(binary = ...) the alias stands for.
.vegan_aliases <- data.frame(
  kind = c(rep("continuous", 6), rep("binary", 3)),
  name = c("bray", "canberra", "clark", "kulczynski", "jaccard", "chord",
           "bray", "jaccard", "kulczynski"),
  formula = c("BRAY_CURTIS", "CANBERRA", "CLARK", "KULCZYNSKI", "GOWER_D9", "CHORD",
              "SOERENSEN", "JACCARD", "KULCZYNSKI_2"),
  binary = c(rep(FALSE, 6), rep(TRUE, 3)),
  stringsAsFactors = FALSE
)

# vegan's names for other numbers, with how they relate to karvel's.
.vegan_different <- c(
  euclidean = "karvel's EUCLIDEAN is vegan's euclidean / sqrt(p), the root of the mean squared difference",
  manhattan = "karvel's MANHATTAN is vegan's manhattan / p, the mean absolute difference",
  hellinger = paste("vegan's hellinger is karvel's HELLINGER with transform = \"ROW_FRACTIONS\"",
                    "(HELLINGER alone takes the roots of the raw values)"),
  chisq = "karvel's CHI_SQUARE is vegan's chisq / sqrt(sum(x))",
  gower = "vegan's gower is karvel's MANHATTAN with transform = \"FULL_RANGING\""
)

.kinds <- c("continuous", "binary", "discrete")

kmethods <- function(kind = c("continuous", "binary", "discrete")) {
  .kformulas(match.arg(kind))
}

# The kind of characters x holds and the formula `method` names for it.
# karvel's names are in capitals, vegan's in lower case: "euclidean" is
# vegan's, refused, and EUCLIDEAN karvel's. Symbols are discrete; a logical
# matrix is binary where the method is a binary one, as is a numeric one
# for a method that only binary data have.
.resolve <- function(x, method) {
  stopifnot(is.character(method), length(method) == 1L, !is.na(method))
  known <- function(kind) {
    if (method %in% .kformulas(kind)) return(method)
    alias <- .vegan_aliases[.vegan_aliases$kind == kind & .vegan_aliases$name == method, "formula"]
    if (length(alias)) alias else NA_character_
  }
  kind <- if (is.character(x)) {
    "discrete"
  } else if (!is.na(known("continuous")) || method %in% names(.vegan_different)) {
    if (is.logical(x) && !is.na(known("binary"))) "binary" else "continuous"
  } else if (!is.na(known("binary"))) {
    "binary"
  } else {
    "continuous"
  }
  formula <- known(kind)
  if (is.na(formula)) {
    if (kind == "continuous" && method %in% names(.vegan_different))
      stop(sprintf("vegan's \"%s\" is not karvel's: %s; name karvel's formula", method,
                   .vegan_different[[method]]), call. = FALSE)
    aliases <- .vegan_aliases$name[.vegan_aliases$kind == kind]
    stop(sprintf("no %s method named \"%s\"; karvel's are %s%s", kind, method,
                 paste(.kformulas(kind), collapse = ", "),
                 if (length(aliases)) paste0(", and vegan's ", paste(aliases, collapse = ", ")) else ""),
         call. = FALSE)
  }
  list(kind = kind, formula = formula)
}

# A matrix of the data, numbers or logical or symbols.
.as_matrix <- function(x) {
  if (is.data.frame(x)) {
    labels <- if (.row_names_info(x) > 0L) rownames(x) else NULL
    symbolic <- any(vapply(x, function(column) is.character(column) || is.factor(column), logical(1)))
    x <- if (symbolic) as.matrix(x) else data.matrix(x)
    rownames(x) <- labels
  }
  if (!is.matrix(x)) stop("x is a matrix or data frame: taxa (rows) by characters (columns)", call. = FALSE)
  if (!(is.numeric(x) || is.logical(x) || is.character(x)))
    stop("x holds numbers, logical values or one-symbol strings", call. = FALSE)
  x
}

# karvel's condition as an R error: class karvel_error and the condition's
# own (e.g. "constraint_error"), with the condition's name in `condition`.
.karvel_error <- function(failure, call) {
  stop(structure(
    class = c("karvel_error", tolower(failure$condition), "error", "condition"),
    list(message = failure$message, call = call, condition = failure$condition)
  ))
}

kdist <- function(x, method = "bray", transform = NULL, threads = NULL,
                  missing = c("error", "pairwise"), ties = c("heap", "average"),
                  undefined = c("error", "nan"), simd = NULL) {
  call <- match.call()
  missing <- match.arg(missing)
  ties <- match.arg(ties)
  undefined <- match.arg(undefined)
  x <- .as_matrix(x)
  chosen <- .resolve(x, method)
  if (chosen$kind == "continuous" && !is.double(x)) storage.mode(x) <- "double"
  if (!is.null(transform) && chosen$kind != "continuous")
    stop("transformations are of continuous characters; x holds ", chosen$kind, " ones", call. = FALSE)
  labels <- rownames(x)
  if (is.null(labels)) labels <- as.character(seq_len(nrow(x)))
  settings <- list(
    formula = chosen$formula,
    transform = if (is.null(transform)) "" else toupper(transform),
    threads = if (is.null(threads)) 0L else as.integer(threads),
    simd = if (is.null(simd)) "" else simd,
    undefined_nan = undefined == "nan",
    pairwise = missing == "pairwise",
    average_ties = ties == "average"
  )
  result <- .kdist(x, chosen$kind, labels, settings)
  if (!is.null(result$condition)) .karvel_error(result, call)
  for (message in result$warnings) warning(message, call. = FALSE)
  structure(result$distances, Size = nrow(x), Labels = labels, Diag = FALSE, Upper = FALSE,
            method = chosen$formula, call = call, class = "dist")
}
