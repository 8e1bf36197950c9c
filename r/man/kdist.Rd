\name{kdist}
\alias{kdist}
\title{Distances Between the Rows of a Matrix, Computed by karvel}
\description{
  The pairwise distances between the taxa (rows) of a matrix of continuous,
  binary or discrete characters (columns), with the coefficients of
  numerical taxonomy and ecology of the karvel program and the values it
  writes, bit for bit, whatever the number of threads and the instruction
  set. The result is a \code{"dist"} object, as \code{\link[stats]{dist}}
  and \code{vegan::vegdist} return.
}
\usage{
kdist(x, method = "bray", transform = NULL, threads = NULL,
      missing = c("error", "pairwise"), ties = c("heap", "average"),
      undefined = c("error", "nan"), simd = NULL)
}
\arguments{
  \item{x}{a matrix or data frame, taxa by characters. Numbers are
    continuous characters; a logical matrix (or numbers 0 and 1, for a
    method only binary characters have) holds presence and absence; a
    character matrix of one-symbol cells holds discrete characters (a data
    frame with a character or factor column is taken as such). Row names
    are the labels, else \code{"1"}, \code{"2"}, \ldots}
  \item{method}{karvel's formula name, in capitals (\code{kmethods()}
    lists them), or one of vegan's names that mean the same numbers (see
    Details).}
  \item{transform}{\code{NULL}, or a transformation of continuous
    characters made first: \code{"RANGING"}, \code{"FULL_RANGING"},
    \code{"ROW_FRACTIONS"}, \code{"COLUMN_FRACTIONS"}, \code{"RANKS"},
    \code{"AVERAGE_RANKS"}, \code{"Z_SCORES"}, \code{"FULL_Z_SCORES"}
    (case does not matter).}
  \item{threads}{threads for this call; \code{NULL} takes every processor
    the process may run on. The values do not depend on it.}
  \item{missing}{\code{"error"}: a missing value (\code{NA}, \code{NaN}) is
    an error of condition \code{DATA_ERROR}. \code{"pairwise"}: each pair
    is compared over the characters both taxa hold (for discrete
    characters \code{NA}, \code{"?"} and \code{"-"} are missing), as
    \code{vegdist(na.rm = TRUE)}, \code{dist} (up to its scaling) and
    \code{cor(use = "pairwise.complete.obs")}; a pair with no character in
    common has no distance.}
  \item{ties}{the ranks of \code{SPEARMAN}: \code{"heap"}, distinct ranks
    for equal values (karvel's default), or \code{"average"}, midranks, the
    Spearman coefficient of \code{cor(method = "spearman")}.}
  \item{undefined}{a pair whose distance is undefined (rows summing to 0
    for \code{BRAY_CURTIS}, say): \code{"error"} stops with a
    \code{CONSTRAINT_ERROR}, \code{"nan"} gives \code{NaN} there and one
    warning.}
  \item{simd}{\code{NULL} (the widest instruction set of this processor),
    or \code{"scalar"}, \code{"vector"}, \code{"avx2"}, \code{"avx512"}: the
    same values on each.}
}
\details{
  Method names in capitals are karvel's; in lower case they are vegan's,
  taken only where \code{vegdist} computes the same numbers:
  \tabular{lll}{
    \strong{vegan name} \tab \strong{continuous x} \tab \strong{logical x (\code{vegdist(binary = TRUE)})} \cr
    \code{"bray"} \tab \code{BRAY_CURTIS} (x >= 0) \tab \code{SOERENSEN} \cr
    \code{"canberra"} \tab \code{CANBERRA} (x >= 0) \tab \cr
    \code{"clark"} \tab \code{CLARK} (x >= 0) \tab \cr
    \code{"kulczynski"} \tab \code{KULCZYNSKI} \tab \code{KULCZYNSKI_2} \cr
    \code{"jaccard"} \tab \code{GOWER_D9} (x >= 0; Ruzicka) \tab \code{JACCARD} \cr
    \code{"chord"} \tab \code{CHORD} \tab \cr
  }
  vegan's names for other numbers are refused, with the relation:
  \tabular{ll}{
    \code{"euclidean"} \tab \code{EUCLIDEAN} is \code{vegdist(x, "euclidean") / sqrt(p)}, the root of the mean squared difference \cr
    \code{"manhattan"} \tab \code{MANHATTAN} is \code{vegdist(x, "manhattan") / p}, the mean absolute difference \cr
    \code{"hellinger"} \tab \code{vegdist(x, "hellinger")} is \code{HELLINGER} with \code{transform = "ROW_FRACTIONS"} \cr
    \code{"chisq"} \tab \code{CHI_SQUARE} is \code{vegdist(x, "chisq") / sqrt(sum(x))} \cr
    \code{"gower"} \tab \code{vegdist(x, "gower")} is \code{MANHATTAN} with \code{transform = "FULL_RANGING"} \cr
  }
  Other vegan names (\code{"morisita"}, \code{"horn"}, \ldots) have no
  karvel formula. The package's tests compare each name of both tables
  with \code{vegdist} (within a relative \eqn{10^{-12}}).

  R keeps a matrix column by column and karvel row by row: \code{kdist}
  makes one transposed copy of the input (8 bytes a cell for numbers, 1
  for symbols). karvel reads the numbers in place there (symbols it copies
  once more, freeing the transposed copy before the distances are
  computed), and writes the distances straight into the vector the result
  keeps. A numeric matrix of integers is converted to
  double first.

  The computation runs in blocks of rows; between blocks R's interrupt
  (Ctrl-C) is heard, and stops the call with R's \code{interrupt}
  condition.
}
\value{
  A \code{"dist"} object: the \eqn{n(n-1)/2} distances in R's order (the
  lower triangle column by column), with attributes \code{Size},
  \code{Labels}, \code{Diag = FALSE}, \code{Upper = FALSE}, \code{method}
  (the karvel formula computed) and \code{call}.
}
\section{Errors}{
  A condition karvel reports is an R error of class
  \code{c("karvel_error", <condition>, "error", "condition")}, the
  condition's name in lower case (\code{"data_error"},
  \code{"constraint_error"}, \code{"argument_error"}, \ldots), with fields
  \code{message} and \code{condition} (\code{"DATA_ERROR"}, \ldots), so that
  \code{tryCatch(kdist(x), constraint_error = function(e) ...)} catches one
  kind.
}
\seealso{\code{\link{kmethods}}; \code{\link[stats]{dist}}.}
\examples{
x <- matrix(c(12, 0, 3, 7, 5, 1, 0, 9, 4, 4, 8, 2), 4,
            dimnames = list(c("a", "b", "c", "d"), NULL))
kdist(x)                              # Bray-Curtis, as vegdist(x)
kdist(x, "EUCLIDEAN", transform = "full_z_scores")
kdist(x > 3, "jaccard")               # binary: as vegdist(x > 3, "jaccard", binary = TRUE)
x[2, 3] <- NA
kdist(x, missing = "pairwise")
tryCatch(kdist(x), karvel_error = function(e) e$condition)
}
\keyword{multivariate}
